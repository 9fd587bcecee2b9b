#include "editor/mpeg_editor.h"

#include <cstring>
#include <new>

#include "editor/core/clip_probe.h"

namespace {

constexpr size_t kMaxPath = 260;  // characters of a path buffer, the terminator included

int64_t Join64(DWORD low, LONG high) {
    return int64_t((uint64_t(uint32_t(high)) << 32) | uint64_t(low));
}

DWORD Low32(int64_t v) {
    return DWORD(uint64_t(v) & 0xFFFFFFFF);
}
LONG High32(int64_t v) {
    return LONG(uint64_t(v) >> 32);
}

// 1 MPEG-1, 2 MPEG-2, 3 VCD, 4 SVCD: the writer types.
int WriterTypeOf(LONG outputType) {
    switch (outputType) {
        case 1:
            return editor::kWriterMpeg1;
        case 2:
            return editor::kWriterMpeg2;
        case 3:
            return editor::kWriterVcd;
        case 4:
            return editor::kWriterSvcd;
        default:
            return 0;
    }
}

int AudioKindOf(LONG audioType) {
    return audioType == 3 ? editor::kPsAudioAc3 : audioType == 4 ? editor::kPsAudioLpcm : editor::kPsAudioMpeg;
}

bool ValidPath(LPCSTR path) {
    return path && path[0] && strnlen(path, kMaxPath) < kMaxPath;
}

}  // namespace

// The host's output stream object as the engines see it.
class CMpegEditor::HostStream final : public editor::IEditorHostStream {
public:
    explicit HostStream(IMpegEditorHost* host) : host_(host) {}
    ~HostStream() override { host_->Release(); }
    void Abort() override { host_->Abort(); }
    bool Write(const uint8_t* data, size_t length) override {
        LONG written = 0;
        return SUCCEEDED(host_->Write(data, LONG(length), &written));
    }

private:
    IMpegEditorHost* host_;
};

CUnknown* CMpegEditor::CreateInstance(IUnknown* outer, HRESULT* hr) {
    CMpegEditor* editor = new (std::nothrow) CMpegEditor(outer);
    if (!editor) *hr = E_OUTOFMEMORY;
    return editor;
}

CMpegEditor::CMpegEditor(IUnknown* outer) : CUnknown(L"Mpeg Editor", outer) {}

CMpegEditor::~CMpegEditor() {
    // A run ends before the engines go.
    if (Running()) Stop();
    JoinRun();
}

HRESULT CMpegEditor::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IMpegEditor) return GetInterface(static_cast<IMpegEditor*>(this), out);
    if (iid == IID_IMpegEditor2) return GetInterface(static_cast<IMpegEditor2*>(this), out);
    if (iid == IID_IMpegEditorAudio) return GetInterface(static_cast<IMpegEditorAudio*>(this), out);
    return CUnknown::NonDelegatingQueryInterface(iid, out);
}

// ---- engines and settings ----

HRESULT CMpegEditor::InitializeEngine(int which, LONG outputType, LONG audioType) {
    if (Running()) return E_FAIL;
    selector_ = which;
    if (WriterTypeOf(outputType) == 0 || audioType < 1 || audioType > 4) return E_INVALIDARG;
    const bool exists = which == 0 ? bool(engine1_) : bool(engine2_);
    if (exists && outputType == outputType_ && audioType == audioType_) return S_OK;
    JoinRun();              // the last run's completion thread is past its last use of an engine
    sinkEngine_ = nullptr;  // the sinks drop data while the engine is replaced
    editor::CEditEngine* engine = nullptr;
    if (which == 0) {
        engine1_.reset(new (std::nothrow) editor::CEditEngine);
        engine = engine1_.get();
    } else {
        engine2_.reset(new (std::nothrow) editor::CEditEngine2);
        engine = engine2_.get();
    }
    if (!engine) return E_OUTOFMEMORY;
    outputType_ = outputType;
    audioType_ = audioType;
    bool ok = true;
    if (which == 0) {
        ok = engine1_->SetCapacity(maxClips_);
    } else {
        ok = engine2_->SetVideoCapacity(maxVideoClips_) && engine2_->SetAudioCapacity(maxAudioClips_);
        engine2_->SetVideoOnly(videoOnly_ != 0);
    }
    if (!ok) {
        if (which == 0)
            engine1_.reset();
        else
            engine2_.reset();
        return E_FAIL;
    }
    Configure(engine);
    state_ = 1;
    return S_OK;
}

editor::CEditEngine* CMpegEditor::SelectedEngine() {
    editor::CEditEngine* engine = selector_ == 0 ? static_cast<editor::CEditEngine*>(engine1_.get()) : engine2_.get();
    if (engine || outputType_ == 0) return engine;
    if (FAILED(InitializeEngine(selector_, outputType_, audioType_))) return nullptr;
    return selector_ == 0 ? static_cast<editor::CEditEngine*>(engine1_.get()) : engine2_.get();
}

HRESULT CMpegEditor::Guard() {
    if (Running()) return E_FAIL;
    SelectedEngine();
    return S_OK;
}

void CMpegEditor::Configure(editor::CEditEngine* engine) {
    engine->SetWriterType(WriterTypeOf(outputType_));
    engine->SetAudioKind(AudioKindOf(audioType_), audioType_ == 4 && haveFormat_ ? &format_ : nullptr);
    engine->SetVideoRate(videoRate_);
    engine->SetAudioRate(audioRate_);
    engine->SetEngineValue(engineValue_);
    engine->SetOutputFileName(outputName_);
    engine->SetSplitSize(splitSize_);
    engine->SetHostStream(hostStream_.get());
    if (outputProc_) {
        const OutputProc proc = outputProc_;
        void* const user = outputUser_;
        engine->SetOutputProc([proc, user](const uint8_t* data, size_t length, bool end) {
            return proc(data, LONG(length), end ? TRUE : FALSE, user) != 0;
        });
    } else {
        engine->SetOutputProc(nullptr);
    }
    // The host's segment callbacks, as the engine asks for segments (64-bit times in halves).
    auto segments = [](SegmentProc proc, void* user) -> editor::SegmentProc {
        if (!proc) return nullptr;
        return [proc, user](int64_t in, int64_t out) {
            return proc(Low32(in), High32(in), Low32(out), High32(out), user) != 0;
        };
    };
    if (engine == engine1_.get()) engine->SetSegmentProc(segments(segmentProc_, segmentUser_));
    if (engine == engine2_.get()) {
        engine2_->SetVideoSegmentCallback(segments(videoSegmentProc_, videoSegmentUser_));
        engine2_->SetAudioSegmentCallback(segments(audioSegmentProc_, audioSegmentUser_));
        engine2_->SetVideoOnly(videoOnly_ != 0);
        engine2_->SetClearProgressiveSequence(clearProgressive_ != 0);
    }
}

HRESULT CMpegEditor::SetCapacity(int which, LONG* stored, LONG count) {
    if (count < 0) return E_INVALIDARG;
    // The walker reads the clip list during a run.
    if (Running()) return E_FAIL;
    *stored = count;
    bool ok = true;
    if (which == 0 && engine1_) ok = engine1_->SetCapacity(count);
    if (which == 1 && engine2_)
        ok = stored == &maxVideoClips_ ? engine2_->SetVideoCapacity(count) : engine2_->SetAudioCapacity(count);
    return ok ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMpegEditor::AddTo(int which, LPCSTR path, DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh, BOOL fromFile,
                           int64_t skip) {
    selector_ = which;
    if (state_ != 1) return E_FAIL;
    const int64_t in = Join64(inLow, inHigh), out = Join64(outLow, outHigh);
    if (!fromFile) {
        // A segment is asked for by its two times: both must be given, in order.
        if (in < 0 || out <= in) return E_INVALIDARG;
    } else if (!ValidPath(path)) {
        return E_INVALIDARG;
    }
    if (!SelectedEngine()) return E_FAIL;
    int result = 0;
    if (which == 0)
        result = engine1_->AddClip(fromFile ? path : "", in, out, fromFile != FALSE);
    else if (skip < 0)
        result = engine2_->AddVideoClip(fromFile ? path : "", in, out, fromFile != FALSE);
    else
        result = engine2_->AddAudioClip(fromFile ? path : "", in, out, fromFile != FALSE, skip);
    if (result == -1) return E_OUTOFMEMORY;
    return result < 0 ? E_FAIL : S_OK;
}

// ---- IMpegEditor ----

HRESULT CMpegEditor::SetMaxClips(LONG count) {
    return SetCapacity(0, &maxClips_, count);
}

HRESULT CMpegEditor::AddClip(LPCSTR path, DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh, BOOL fromFile) {
    return AddTo(0, path, inLow, inHigh, outLow, outHigh, fromFile, -1);
}

HRESULT CMpegEditor::GetVideoSink(SinkProc* proc, void** context) {
    if (!proc || !context) return E_POINTER;
    *proc = &CMpegEditor::VideoSinkProc;
    *context = static_cast<IMpegEditor*>(this);
    return S_OK;
}

HRESULT CMpegEditor::GetAudioSink(SinkProc* proc, void** context) {
    if (!proc || !context) return E_POINTER;
    *proc = &CMpegEditor::AudioSinkProc;
    *context = static_cast<IMpegEditor*>(this);
    return S_OK;
}

BOOL CALLBACK CMpegEditor::VideoSinkProc(DWORD timeLow, LONG timeHigh, const BYTE* data, LONG length, void* context) {
    if (context)
        static_cast<CMpegEditor*>(static_cast<IMpegEditor*>(context))->Sink(true, timeLow, timeHigh, data, length);
    return TRUE;
}

BOOL CALLBACK CMpegEditor::AudioSinkProc(DWORD timeLow, LONG timeHigh, const BYTE* data, LONG length, void* context) {
    if (context)
        static_cast<CMpegEditor*>(static_cast<IMpegEditor*>(context))->Sink(false, timeLow, timeHigh, data, length);
    return TRUE;
}

void CMpegEditor::Sink(bool video, DWORD timeLow, LONG timeHigh, const BYTE* data, LONG length) {
    editor::CEditEngine* engine = sinkEngine_;
    // A negative length is no block and no end: it is dropped.
    if (!engine || length < 0) return;
    // All ones in both halves: the data has no time.
    const int64_t time = timeLow == 0xFFFFFFFF && timeHigh == -1 ? editor::kNoTime : Join64(timeLow, timeHigh);
    const size_t n = data ? size_t(length) : 0;
    if (video)
        engine->VideoSink(time, data, n);
    else
        engine->AudioSink(time, data, n);
}

HRESULT CMpegEditor::Initialize1(LONG outputType, LONG audioType) {
    return InitializeEngine(0, outputType, audioType);
}

HRESULT CMpegEditor::SetVideoRate(LONG bitsPerSecond) {
    if (bitsPerSecond < 0) return E_INVALIDARG;
    const HRESULT hr = Guard();
    if (SUCCEEDED(hr)) videoRate_ = bitsPerSecond;
    return hr;
}

HRESULT CMpegEditor::SetAudioRate(LONG bitsPerSecond) {
    if (bitsPerSecond < 0) return E_INVALIDARG;
    const HRESULT hr = Guard();
    if (SUCCEEDED(hr)) audioRate_ = bitsPerSecond;
    return hr;
}

HRESULT CMpegEditor::SetEngineValue(LONG value) {
    const HRESULT hr = Guard();
    if (SUCCEEDED(hr)) engineValue_ = value;
    return hr;
}

HRESULT CMpegEditor::SetOutputFileName(LPCSTR path) {
    // A longer path is refused rather than cut: a cut path names another file.
    if (path && strnlen(path, kMaxPath) >= kMaxPath) return E_INVALIDARG;
    const HRESULT hr = Guard();
    if (SUCCEEDED(hr)) outputName_ = path ? path : "";
    return hr;
}

HRESULT CMpegEditor::SetOutputCallback(OutputProc proc, void* user) {
    const HRESULT hr = Guard();
    if (SUCCEEDED(hr)) {
        outputProc_ = proc;
        outputUser_ = user;
    }
    return hr;
}

HRESULT CMpegEditor::Start(EditDoneProc proc, void* user) {
    if (state_ == 2) return S_OK;
    editor::CEditEngine* engine = SelectedEngine();
    if (!engine) return E_FAIL;
    int paused = 3;
    if (state_.compare_exchange_strong(paused, 2)) {
        if (running_) running_->Resume();
        return S_OK;
    }
    JoinRun();
    Configure(engine);
    stopRequested_ = false;
    doneReported_ = false;
    doneProc_ = proc;
    doneUser_ = user;
    outputFileCount_ = 0;
    running_ = engine;
    sinkEngine_ = engine;
    state_ = 2;
    if (!engine->Start()) {
        state_ = 1;
        doneReported_ = true;
        return E_FAIL;
    }
    std::lock_guard<std::mutex> hold(runLock_);
    DWORD id = 0;
    runThread_ = CreateThread(nullptr, 0, &CMpegEditor::RunDone, this, 0, &id);
    if (!runThread_) {
        // Without its completion thread the run cannot be reported: end it now.
        stopRequested_ = true;
        engine->Stop();
        engine->Wait();
        state_ = 1;
        doneReported_ = true;
        return E_FAIL;
    }
    runThreadId_ = id;
    return S_OK;
}

HRESULT CMpegEditor::Pause() {
    const int state = state_;
    if (state == 3) return S_OK;
    if (state != 2) return E_FAIL;
    // Only engine 1 pauses; engine 2's run goes on. A run that ends meanwhile leaves
    // state 1 (its engine's pause flag is cleared by the next start).
    int running = 2;
    if (running_ == engine1_.get() && state_.compare_exchange_strong(running, 3)) running_->Pause();
    return S_OK;
}

HRESULT CMpegEditor::Stop() {
    const int state = state_;
    if (state == 0) return E_FAIL;
    if (state == 1) return S_OK;
    stopRequested_ = true;
    if (running_) running_->Stop();
    JoinRun();
    state_ = 1;
    return S_OK;
}

HRESULT CMpegEditor::SetSegmentCallback(SegmentProc proc, void* user) {
    // Any state: a running engine keeps its own copy, and this one is taken at the next
    // Initialize or Start.
    segmentProc_ = proc;
    segmentUser_ = user;
    return S_OK;
}

HRESULT CMpegEditor::GetProgress(LONGLONG* current, LONGLONG* total) {
    if (!current || !total) return E_POINTER;
    if (!Running() || !running_) return E_FAIL;
    int64_t c = 0, t = 0;
    running_->GetProgress(&c, &t);
    *current = c;
    *total = t;
    return S_OK;
}

HRESULT CMpegEditor::GetFileType(LPCSTR path, LONG* type) {
    if (!type) return E_FAIL;
    if (!ValidPath(path)) return E_INVALIDARG;
    *type = editor::GetMpegFileType(path);
    return S_OK;
}

HRESULT CMpegEditor::Find(bool video, LPCSTR path, int64_t target, LONG mode, int64_t known, LONGLONG* found) {
    if (!found) return E_POINTER;
    if (!ValidPath(path)) return E_INVALIDARG;
    const int type = editor::GetMpegFileType(path);
    if (type < editor::kFileMpeg1 || type > editor::kFileSvcd) return E_FAIL;
    const int64_t t = video ? editor::FindVideoTimeInFile(path, type, target, mode, videoOnly_ != 0, known)
                            : editor::FindAudioTimeInFile(path, type, target, mode, videoOnly_ != 0, known);
    if (t < 0) return E_FAIL;
    *found = t;
    return S_OK;
}

HRESULT CMpegEditor::FindTime(LPCSTR path, DWORD timeLow, LONG timeHigh, LONG mode, LONGLONG* found) {
    return Find(true, path, Join64(timeLow, timeHigh), mode, 0, found);
}

HRESULT CMpegEditor::SetSplitSize(DWORD sizeLow, LONG sizeHigh) {
    const int64_t size = Join64(sizeLow, sizeHigh);
    if (size >= 0) splitSize_ = size;  // taken by the engine at the next start
    return S_OK;
}

HRESULT CMpegEditor::GetOutputFileCount(LONG* count) {
    if (!count) return E_POINTER;
    *count = outputFileCount_;
    return S_OK;
}

HRESULT CMpegEditor::GetOutputFileName(LONG index, LPSTR buffer) {
    if (!buffer || index < 0 || index >= outputFileCount_ || outputName_.empty()) return E_FAIL;
    const std::string name = editor::CEditEngine::GetPartName(int(index), outputName_);
    if (name.size() >= kMaxPath) return E_FAIL;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return S_OK;
}

HRESULT CMpegEditor::SetOutputStream(IUnknown* object) {
    IMpegEditorHost* host = nullptr;
    if (object && FAILED(object->QueryInterface(IID_IMpegEditorHost, reinterpret_cast<void**>(&host))))
        return E_NOINTERFACE;
    const HRESULT hr = Guard();
    if (FAILED(hr)) {
        if (host) host->Release();
        return hr;
    }
    hostStream_.reset(host ? new (std::nothrow) HostStream(host) : nullptr);
    if (host && !hostStream_) {
        host->Release();
        return E_OUTOFMEMORY;
    }
    // The engines keep a pointer to the stream: hand them the new one now.
    if (engine1_) engine1_->SetHostStream(hostStream_.get());
    if (engine2_) engine2_->SetHostStream(hostStream_.get());
    return S_OK;
}

HRESULT CMpegEditor::SetOption(LONG videoOnly) {
    videoOnly_ = videoOnly;
    // Engine 1 times clips by their video always; engine 2 probes by the value.
    if (engine2_ && !Running()) engine2_->SetVideoOnly(videoOnly != 0);
    return S_OK;
}

// ---- IMpegEditor2 ----

HRESULT CMpegEditor::SetMaxVideoClips(LONG count) {
    return SetCapacity(1, &maxVideoClips_, count);
}

HRESULT CMpegEditor::SetMaxAudioClips(LONG count) {
    return SetCapacity(1, &maxAudioClips_, count);
}

HRESULT CMpegEditor::AddVideoClip(LPCSTR path, DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh, BOOL fromFile) {
    return AddTo(1, path, inLow, inHigh, outLow, outHigh, fromFile, -1);
}

HRESULT CMpegEditor::AddAudioClip(LPCSTR path, DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh, BOOL fromFile,
                                  DWORD skipLow, LONG skipHigh) {
    const int64_t skip = Join64(skipLow, skipHigh);
    if (skip < 0) return E_INVALIDARG;
    return AddTo(1, path, inLow, inHigh, outLow, outHigh, fromFile, skip);
}

// Any state, as SetSegmentCallback: taken by engine 2 at the next Initialize or Start.
HRESULT CMpegEditor::SetVideoSegmentCallback(SegmentProc proc, void* user) {
    videoSegmentProc_ = proc;
    videoSegmentUser_ = user;
    return S_OK;
}

HRESULT CMpegEditor::SetAudioSegmentCallback(SegmentProc proc, void* user) {
    audioSegmentProc_ = proc;
    audioSegmentUser_ = user;
    return S_OK;
}

HRESULT CMpegEditor::Initialize2(LONG outputType, LONG audioType) {
    return InitializeEngine(1, outputType, audioType);
}

HRESULT CMpegEditor::FindTime(LPCSTR path, DWORD timeLow, LONG timeHigh, LONG mode, LONGLONG* found, DWORD knownLow,
                              LONG knownHigh) {
    return Find(true, path, Join64(timeLow, timeHigh), mode, Join64(knownLow, knownHigh), found);
}

HRESULT CMpegEditor::FindOffset(LPCSTR path, DWORD timeLow, LONG timeHigh, LONG mode, LONGLONG* found, DWORD knownLow,
                                LONG knownHigh) {
    return Find(false, path, Join64(timeLow, timeHigh), mode, Join64(knownLow, knownHigh), found);
}

HRESULT CMpegEditor::ProbeClip(LPCSTR path, LONGLONG* duration, LONG videoOnly) {
    if (!duration) return E_POINTER;
    if (!ValidPath(path)) return E_FAIL;
    // A probe is what adding a clip to an empty list does.
    editor::CEditEngine2 probe;
    probe.SetVideoOnly(videoOnly != 0);
    if (!probe.SetAudioCapacity(1) || probe.AddAudioClip(path, editor::kNoTime, editor::kNoTime, true, 0) != 0)
        return E_FAIL;
    *duration = probe.AudioClip(0).duration;
    return S_OK;
}

HRESULT CMpegEditor::SetClearProgressiveSequence(LONG on) {
    clearProgressive_ = on;  // taken by engine 2 at the next start
    return S_OK;
}

// ---- IMpegEditorAudio ----

HRESULT CMpegEditor::SetAudioFormat(const WAVEFORMATEX* format) {
    static_assert(sizeof(WAVEFORMATEX) == 18, "the audio format record is 18 bytes");
    if (!format) return E_INVALIDARG;
    format_.formatTag = format->wFormatTag;
    format_.channels = format->nChannels;
    format_.samplesPerSec = format->nSamplesPerSec;
    format_.avgBytesPerSec = format->nAvgBytesPerSec;
    format_.blockAlign = format->nBlockAlign;
    format_.bitsPerSample = format->wBitsPerSample;
    format_.extraSize = format->cbSize;
    haveFormat_ = true;  // taken by the engine at the next start
    return S_OK;
}

// ---- runs ----

DWORD WINAPI CMpegEditor::RunDone(void* self) {
    // The thread holds the library while it runs: a host may release the object from
    // its callback, and the library must outlive the thread's last instructions.
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&CMpegEditor::RunDone),
                       &module);
    static_cast<CMpegEditor*>(self)->FinishRun();
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

void CMpegEditor::FinishRun() {
    editor::CEditEngine* engine = running_;
    const int result = engine->Wait();
    outputFileCount_ = engine->OutputFileCount();
    const int status = stopRequested_ ? kEditStopped : result == editor::kMuxDone ? kEditDone : kEditFailed;
    // The run is over before the host hears of it, so that the host may start the next
    // one from its callback or as soon as it is told.
    state_ = 1;
    Report(status);
}

void CMpegEditor::Report(int status) {
    if (doneReported_.exchange(true)) return;
    if (doneProc_) doneProc_(status, doneUser_);
}

void CMpegEditor::JoinRun() {
    HANDLE thread = nullptr;
    {
        std::lock_guard<std::mutex> hold(runLock_);
        thread = runThread_;
        runThread_ = nullptr;
        // From the completion thread itself (a call made in the host's callback) the
        // handle is only closed: the thread ends as soon as the callback returns.
        if (thread && runThreadId_ == GetCurrentThreadId()) {
            CloseHandle(thread);
            return;
        }
    }
    if (!thread) return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}
