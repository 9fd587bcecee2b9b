// CMpegEditor: the editing component's COM object. A thin dispatcher over the two
// editing engines: it keeps the host's settings, creates an engine on demand, hands the
// settings over when a run starts, runs the engine and tells the host once when the run
// ends. Engine 1 joins one clip list (IMpegEditor), engine 2 a video and an audio list
// (IMpegEditor2); only the engine that the last clip or Initialize call selected runs.
//
// States: 0 none, 1 initialised, 2 running, 3 paused. A run is started by Start; its
// engine threads end by themselves or by Stop; a completion thread per run waits for
// them, sets state 1 and reports the status to the host exactly once.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "editor/core/edit_engine2.h"
#include "editor/mpeg_editor_interfaces.h"
#include "filters/base/com_object.h"

// IMpegEditor and IMpegEditor2 both have Initialize(LONG, LONG) with different meanings:
// these two layers give each its own name in the object.
struct MpegEditorInit1 : public IMpegEditor {
    HRESULT STDMETHODCALLTYPE Initialize(LONG outputType, LONG audioType) final {
        return Initialize1(outputType, audioType);
    }
    virtual HRESULT Initialize1(LONG outputType, LONG audioType) = 0;
};
struct MpegEditorInit2 : public IMpegEditor2 {
    HRESULT STDMETHODCALLTYPE Initialize(LONG outputType, LONG audioType) final {
        return Initialize2(outputType, audioType);
    }
    virtual HRESULT Initialize2(LONG outputType, LONG audioType) = 0;
};

class CMpegEditor final : public CUnknown, public MpegEditorInit1, public MpegEditorInit2, public IMpegEditorAudio {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);
    ~CMpegEditor() override;

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    // IMpegEditor
    HRESULT STDMETHODCALLTYPE SetMaxClips(LONG count) override;
    HRESULT STDMETHODCALLTYPE AddClip(LPCSTR path, DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh,
                                      BOOL fromFile) override;
    HRESULT STDMETHODCALLTYPE GetVideoSink(SinkProc* proc, void** context) override;
    HRESULT STDMETHODCALLTYPE GetAudioSink(SinkProc* proc, void** context) override;
    HRESULT Initialize1(LONG outputType, LONG audioType) override;
    HRESULT STDMETHODCALLTYPE SetVideoRate(LONG bitsPerSecond) override;
    HRESULT STDMETHODCALLTYPE SetAudioRate(LONG bitsPerSecond) override;
    HRESULT STDMETHODCALLTYPE SetEngineValue(LONG value) override;
    HRESULT STDMETHODCALLTYPE SetOutputFileName(LPCSTR path) override;
    HRESULT STDMETHODCALLTYPE SetOutputCallback(OutputProc proc, void* user) override;
    HRESULT STDMETHODCALLTYPE Start(EditDoneProc proc, void* user) override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE SetSegmentCallback(SegmentProc proc, void* user) override;
    HRESULT STDMETHODCALLTYPE GetProgress(LONGLONG* current, LONGLONG* total) override;
    HRESULT STDMETHODCALLTYPE GetFileType(LPCSTR path, LONG* type) override;
    HRESULT STDMETHODCALLTYPE FindTime(LPCSTR path, DWORD timeLow, LONG timeHigh, LONG mode, LONGLONG* found) override;
    HRESULT STDMETHODCALLTYPE SetSplitSize(DWORD sizeLow, LONG sizeHigh) override;
    HRESULT STDMETHODCALLTYPE GetOutputFileCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE GetOutputFileName(LONG index, LPSTR buffer) override;
    HRESULT STDMETHODCALLTYPE SetOutputStream(IUnknown* object) override;
    HRESULT STDMETHODCALLTYPE SetOption(LONG videoOnly) override;

    // IMpegEditor2 (the methods it shares with IMpegEditor are those above)
    HRESULT STDMETHODCALLTYPE SetMaxVideoClips(LONG count) override;
    HRESULT STDMETHODCALLTYPE SetMaxAudioClips(LONG count) override;
    HRESULT STDMETHODCALLTYPE AddVideoClip(LPCSTR path, DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh,
                                           BOOL fromFile) override;
    HRESULT STDMETHODCALLTYPE AddAudioClip(LPCSTR path, DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh,
                                           BOOL fromFile, DWORD skipLow, LONG skipHigh) override;
    HRESULT STDMETHODCALLTYPE SetVideoSegmentCallback(SegmentProc proc, void* user) override;
    HRESULT STDMETHODCALLTYPE SetAudioSegmentCallback(SegmentProc proc, void* user) override;
    HRESULT Initialize2(LONG outputType, LONG audioType) override;
    HRESULT STDMETHODCALLTYPE FindTime(LPCSTR path, DWORD timeLow, LONG timeHigh, LONG mode, LONGLONG* found,
                                       DWORD knownLow, LONG knownHigh) override;
    HRESULT STDMETHODCALLTYPE FindOffset(LPCSTR path, DWORD timeLow, LONG timeHigh, LONG mode, LONGLONG* found,
                                         DWORD knownLow, LONG knownHigh) override;
    HRESULT STDMETHODCALLTYPE ProbeClip(LPCSTR path, LONGLONG* duration, LONG videoOnly) override;
    HRESULT STDMETHODCALLTYPE SetClearProgressiveSequence(LONG on) override;

    // IMpegEditorAudio
    HRESULT STDMETHODCALLTYPE SetAudioFormat(const WAVEFORMATEX* format) override;

private:
    explicit CMpegEditor(IUnknown* outer);
    bool Running() const { return state_ == 2 || state_ == 3; }
    // Creates (or recreates) the engine of `which` (0 or 1) for the types; S_OK, or
    // E_INVALIDARG / E_OUTOFMEMORY / E_FAIL.
    HRESULT InitializeEngine(int which, LONG outputType, LONG audioType);
    // The engine the selector names, created with the stored types when missing and the
    // types are known; null when it cannot be had.
    editor::CEditEngine* SelectedEngine();
    // A guarded setting: E_FAIL while running; otherwise the engine the selector names
    // is created when the stored types allow it.
    HRESULT Guard();
    HRESULT AddTo(int which, LPCSTR path, DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh, BOOL fromFile,
                  int64_t skip);
    HRESULT SetCapacity(int which, LONG* stored, LONG count);
    HRESULT Find(bool video, LPCSTR path, int64_t target, LONG mode, int64_t known, LONGLONG* found);
    // Hands the stored settings to the engine about to run.
    void Configure(editor::CEditEngine* engine);
    // The sinks handed to the host: the object is their context.
    static BOOL CALLBACK VideoSinkProc(DWORD timeLow, LONG timeHigh, const BYTE* data, LONG length, void* context);
    static BOOL CALLBACK AudioSinkProc(DWORD timeLow, LONG timeHigh, const BYTE* data, LONG length, void* context);
    void Sink(bool video, DWORD timeLow, LONG timeHigh, const BYTE* data, LONG length);
    // The completion thread of a run.
    static DWORD WINAPI RunDone(void* self);
    void FinishRun();
    void Report(int status);
    // Waits for the completion thread of the last run and closes its handle; never waits
    // on the calling thread itself.
    void JoinRun();

    class HostStream;

    std::unique_ptr<editor::CEditEngine> engine1_;
    std::unique_ptr<editor::CEditEngine2> engine2_;
    editor::CEditEngine* running_ = nullptr;  // the engine of the current run
    // The engine that the sinks feed: the last one started (it drops data outside a run).
    std::atomic<editor::CEditEngine*> sinkEngine_{nullptr};
    std::atomic<int> state_{0};
    int selector_ = 0;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> doneReported_{true};
    EditDoneProc doneProc_ = nullptr;
    void* doneUser_ = nullptr;

    // Settings, handed to the engine at Initialize and at the start of every run.
    LONG outputType_ = 0, audioType_ = 0;
    LONG maxClips_ = 0, maxVideoClips_ = 0, maxAudioClips_ = 0;
    LONG videoRate_ = 0, audioRate_ = 0, engineValue_ = 0;
    std::string outputName_;
    OutputProc outputProc_ = nullptr;
    void* outputUser_ = nullptr;
    SegmentProc segmentProc_ = nullptr;  // engine 1's host segments
    void* segmentUser_ = nullptr;
    SegmentProc videoSegmentProc_ = nullptr, audioSegmentProc_ = nullptr;  // engine 2's lists
    void* videoSegmentUser_ = nullptr;
    void* audioSegmentUser_ = nullptr;
    std::unique_ptr<HostStream> hostStream_;
    int64_t splitSize_ = 0;
    LONG videoOnly_ = 1;
    LONG clearProgressive_ = 0;
    bool haveFormat_ = false;
    editor::AudioFormat format_;
    std::atomic<LONG> outputFileCount_{0};

    std::mutex runLock_;  // guards the completion thread's handle and id
    HANDLE runThread_ = nullptr;
    std::atomic<DWORD> runThreadId_{0};
};
