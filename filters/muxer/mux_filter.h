// The multiplexer filter: the filter with its tree of programs and streams (each stream
// is an input pin), the output pin, seeking forwarded upstream, and the settings of all
// three kinds of objects as GUID-keyed values of the configuration framework.
//
// Streaming: Pause from stopped builds a multiplexer engine (filters/muxer/core) from the
// connected streams and starts its worker; each input pin feeds its engine stream on the
// upstream thread; the worker writes through the output pin. Stop joins the worker and
// writes the end before the pins become inactive, then drops the engine.
//
// A multiplexed input (an MPEG-2 program or transport stream on one pin) goes through the
// core's input parser on its upstream thread; each elementary stream found in it becomes
// an "Auto created" stream of the same program (no pin of the filter's enumeration), added
// to the running engine, and is deleted again when the filter stops.
//
// Locks: the filter lock (control calls), the tree lock (the lists of streams and
// programs, which change only while stopped), each stream's receive lock (Receive against
// activation, flush and stop), the output pin's sample lock (Write against flushing).
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "filters/base/filter.h"
#include "filters/base/pins.h"
#include "filters/config/config_impl.h"
#include "filters/muxer/core/mux_engine.h"
#include "filters/muxer/core/mux_input_parser.h"

class CMuxFilter;
class CMuxProgram;
class CMuxStream;

// The configuration part of a filter, program or stream: GetValue, SetValue and the
// persistence calls go to the owner, which answers its own keys and hands the rest to
// the framework (the Base* calls). Exceptions become E_UNEXPECTED.
template <class Owner, class Record>
class CMuxConfig final : public kestrune::CKestruneConfig<kestrune::MuxerBuild, Record> {
    using Base = kestrune::CKestruneConfig<kestrune::MuxerBuild, Record>;

public:
    static constexpr std::uint32_t kVersion = 16;
    CMuxConfig(Owner* owner, IUnknown* unknown, const CLSID* classId, Record* record)
        : Base(unknown, classId, record), owner_(owner) {
        this->SetVersion(kVersion);
    }
    HRESULT CheckVersion() override { return this->Version() == kVersion ? S_OK : E_FAIL; }
    HRESULT OnChange(VARIANT*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetValue(const GUID* key, VARIANT* value) override {
        return Guard([&] { return owner_->ConfigGetValue(key, value); });
    }
    HRESULT STDMETHODCALLTYPE SetValue(const GUID* key, VARIANT* value) override {
        return Guard([&] { return owner_->ConfigSetValue(key, value); });
    }
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override {
        return Guard([&] { return owner_->ConfigLoad(stream); });
    }
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override {
        return Guard([&] { return owner_->ConfigSave(stream, clearDirty); });
    }
    HRESULT BaseGetValue(const GUID* key, VARIANT* value) { return Base::GetValue(key, value); }
    HRESULT BaseSetValue(const GUID* key, VARIANT* value) { return Base::SetValue(key, value); }
    HRESULT BaseLoad(IStream* stream) { return Base::Load(stream); }
    HRESULT BaseSave(IStream* stream, BOOL clearDirty) { return Base::Save(stream, clearDirty); }

private:
    template <class F>
    static HRESULT Guard(F f) {
        try {
            return f();
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
    Owner* owner_;
};

// Stores a value whether shown or hidden, without the read-only and range checks, and
// tells the notification sink when it changed. Answers S_OK (changed) or S_FALSE.
HRESULT SetOwnValue(kestrune::CImplementKestruneConfigEx& config, const GUID& key, int64_t value);
// A value read back as a 64-bit integer (0 when unknown).
int64_t OwnValue(kestrune::CImplementKestruneConfigEx& config, const GUID& key);

struct FilterRecord {
    int32_t output = 2;
    int32_t bitrate = 0;
    int32_t compatibility = 0;
    int32_t transportStreamId = 0;
    int32_t outputBufferSize = 120000;
    int64_t muxerTime = 0;
    int8_t treeCounter = 0;
    bool running = false;
    int32_t overhead = 0;
    int32_t padding = 0;
};

struct ProgramRecord {
    int32_t bitrate = 0;
    int32_t programId = 0;
    int32_t programNumber = 0;
};

struct StreamRecord {
    int32_t timeShift = 0;
    int32_t pesPacketSize = 0;
    bool putPcr = false;
    int32_t bitrate = 0;
    int32_t streamId = 0;
    int32_t pesId = 0;
    int32_t streamType = 0;
    int32_t ptsSource = 0;
    bool completing = false;
    int32_t announcedRate = 0;
    int32_t realRate = 0;
    int32_t inputBufferSize = 1000000;
    int64_t currentPts = 0;
    bool autoCreated = false;
    bool ended = false;
};

class CMuxProgram final : public CUnknown {
public:
    CMuxProgram(CMuxFilter* filter, HRESULT* hr);
    ~CMuxProgram() override;
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    HRESULT ConfigGetValue(const GUID* key, VARIANT* value);
    HRESULT ConfigSetValue(const GUID* key, VARIANT* value);
    HRESULT ConfigLoad(IStream* stream);
    HRESULT ConfigSave(IStream* stream, BOOL clearDirty);

    IKestruneConfigEx* Config() { return &config_; }
    CMuxConfig<CMuxProgram, ProgramRecord>& ConfigPart() { return config_; }
    std::vector<CMuxStream*>& Streams() { return streams_; }
    CMuxFilter* Filter() const { return filter_; }
    void Detach() { filter_ = nullptr; }
    bool HoldsProgramStream() const;
    int ConnectedCount() const;
    // Shows "Program #" and "Program ID" only for transport output.
    void ShowIds(bool transport);

private:
    CMuxFilter* filter_;
    ProgramRecord record_;
    CMuxConfig<CMuxProgram, ProgramRecord> config_;
    std::vector<CMuxStream*> streams_;
};

class CMuxStream final : public CBaseInputPin {
public:
    CMuxStream(CMuxFilter* filter, CMuxProgram* program, int pinNumber, const wchar_t* name, HRESULT* hr);
    ~CMuxStream() override;
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    // IPin / IMemInputPin
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    // CBasePin
    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    HRESULT ConfigGetValue(const GUID* key, VARIANT* value);
    HRESULT ConfigSetValue(const GUID* key, VARIANT* value);
    HRESULT ConfigLoad(IStream* stream);
    HRESULT ConfigSave(IStream* stream, BOOL clearDirty);

    IKestruneConfigEx* Config() { return &config_; }
    CMuxConfig<CMuxStream, StreamRecord>& ConfigPart() { return config_; }
    CMuxProgram* Program() const { return program_; }
    void SetProgram(CMuxProgram* program) { program_ = program; }
    int PinNumber() const { return pinNumber_; }
    bool Deleted() const { return deleted_; }
    void MarkDeleted() { deleted_ = true; }
    int32_t StreamType() const;
    bool Live() const { return IsConnected(); }
    // Stores the type and shows the parameters that it uses; true when it changed.
    bool SetStreamType(int32_t type);
    // The upstream pin's IMediaSeeking with a reference added, or null.
    IMediaSeeking* UpstreamSeeking();

    // Streaming (the filter's Pause and Stop).
    // Builds this stream's engine stream; false when it cannot be made.
    bool Attach(muxer::MuxEngine& engine, muxer::MuxProgram* program);
    // Copies the values that the engine owns while running into the parameters (worker
    // thread, or the control thread after the worker was joined).
    void Publish();
    // The engine is about to go: the pin stops using its stream.
    void Detach();
    muxer::MuxStream* Core() const { return core_; }
    // A stream found inside the multiplexed input `carrier`: its engine stream, added to
    // the running engine (the carrier's upstream thread); false when it cannot be made.
    bool AttachFound(muxer::MuxEngine& engine, muxer::MuxProgram* program, CMuxStream* carrier, muxer::StreamType type,
                     const muxer::StreamMediaType& media);
    CMuxStream* Carrier() const { return carrier_; }

private:
    class InputParser;
    void ReleaseSeeking();
    // The parser's new-stream callback (under receiveLock_).
    muxer::MuxStream* OnFoundStream(muxer::StreamType type, const muxer::StreamMediaType& media);

    CMuxProgram* program_;
    int pinNumber_;
    std::atomic<bool> deleted_{false};
    StreamRecord record_;
    CMuxConfig<CMuxStream, StreamRecord> config_;
    IMediaSeeking* seeking_ = nullptr;  // counted
    CCritSec seekingLock_;
    CCritSec receiveLock_;
    bool inactive_ = true;              // under receiveLock_
    muxer::MuxStream* core_ = nullptr;  // the engine's, between Attach and Detach
    bool endReceived_ = false;          // under receiveLock_
    // A multiplexed input: its parser and the streams found in it (under receiveLock_).
    std::unique_ptr<InputParser> input_;
    std::vector<CMuxStream*> found_;
    muxer::MuxProgram* coreProgram_ = nullptr;
    CMuxStream* carrier_ = nullptr;  // a found stream's multiplexed input
};

class CMuxOutputPin final : public CBaseOutputPin {
public:
    CMuxOutputPin(CMuxFilter* filter, CCritSec* lock, HRESULT* hr);
    ~CMuxOutputPin() override;
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* self, Quality q) override;

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    // The filter's "Output Buffer Size(Byte)" changed: the allocator is asked again.
    HRESULT ResizeBuffers();

    // Writers' side (the worker, or the control thread after it was joined).
    void Write(const uint8_t* bytes, size_t size);
    void DeliverPartial();
    void DeliverEnd();
    // Input pins' flushes, counted: the first passes downstream, the last ends it.
    HRESULT BeginFlushDownstream();
    HRESULT EndFlushDownstream();
    int64_t SampleSize() const { return sampleSize_; }

private:
    void ReleaseSample();
    void DeliverCurrent(int32_t length);

    CMuxFilter* mux_;
    CCritSec sampleLock_;
    std::atomic<bool> stopped_{true};
    int32_t flushCount_ = 0;  // under sampleLock_
    uint64_t flushGeneration_ = 0;
    int32_t fill_ = 0;
    int32_t sampleSize_ = 0;
    BYTE* data_ = nullptr;
    IMediaSample* sample_ = nullptr;
};

class CMuxFilter final : public CBaseFilter, public ISpecifyPropertyPages, public IMediaSeeking {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    // IMediaFilter / IBaseFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;
    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    // IMediaSeeking, forwarded to the inputs' upstream pins (answered through the output pin).
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* capabilities) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override;
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                                const GUID* sourceFormat) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                           DWORD stopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double* rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override;

    // Configuration owner.
    HRESULT ConfigGetValue(const GUID* key, VARIANT* value);
    HRESULT ConfigSetValue(const GUID* key, VARIANT* value);
    HRESULT ConfigLoad(IStream* stream);
    HRESULT ConfigSave(IStream* stream, BOOL clearDirty);
    CMuxConfig<CMuxFilter, FilterRecord>& ConfigPart() { return config_; }

    // Tree operations (the filter lock held by the caller where a control call runs).
    CMuxProgram* CreateProgram();
    bool DeleteProgram(CMuxProgram* program);
    // A new stream with `pinNumber` (-1: the lowest free) in `program` (null: the first
    // program, declined while an unconnected pin stands ready).
    CMuxStream* CreateInputPin(int pinNumber, CMuxProgram* program, bool found = false);
    // A stream found inside the running multiplexed input `carrier`, marked "Auto
    // created" and fed into the engine; null when refused (stopping, no room).
    CMuxStream* AddFoundStream(CMuxStream* carrier, muxer::MuxProgram* program, muxer::StreamType type,
                               const muxer::StreamMediaType& media);
    // The pools of the streams found in `carrier` (every carrier when null) stop, which
    // lets an upstream thread waiting for room go; or resume.
    void StopFoundPools(CMuxStream* carrier, bool resume = false);
    void DeleteStream(CMuxStream* stream);
    bool MoveStream(CMuxStream* stream, CMuxProgram* target);
    void RecomputeBitrates();
    void TreeChanged();
    bool IsProgramObject(IUnknown* object, CMuxProgram** program);
    bool IsStreamObject(IUnknown* object, CMuxStream** stream);
    void MakeUniquePid(int32_t* field, const int32_t* self);
    void MakeUniqueProgramNumber(CMuxProgram* program);
    void AssignPesStreamId(CMuxStream* stream);

    int32_t Output() { return static_cast<int32_t>(OwnValue(config_, kOutputKey())); }
    int32_t Compatibility() { return static_cast<int32_t>(OwnValue(config_, kCompatibilityKey())); }
    bool TearingDown() const { return tearingDown_; }
    CMuxOutputPin* OutputPin() const { return output_; }
    CCritSec* TreeLock() { return &treeLock_; }
    const std::vector<CMuxStream*>& Streams() const { return streams_; }
    const std::vector<CMuxProgram*>& Programs() const { return programs_; }
    // The engine's clock (worker thread, or control thread while no worker runs).
    int64_t MuxerTime() const { return engine_ ? engine_->MuxerTime() : 0; }
    // After each delivered output sample and at the end: the running values to the parameters.
    void PublishRunState();

private:
    CMuxFilter(IUnknown* outer, HRESULT* hr);
    ~CMuxFilter() override;
    static const GUID& kOutputKey();
    static const GUID& kCompatibilityKey();
    HRESULT SetOutput(VARIANT* value);
    HRESULT StartEngine();
    void StopEngine();
    void DeleteEverything();
    // The n-th upstream IMediaSeeking with a reference added, or null.
    IMediaSeeking* FindUpstreamSeeking(int n);
    template <class Call>
    HRESULT SeekQuery(Call call);
    template <class Call>
    HRESULT SeekAll(Call call);

    class OutputSink final : public muxer::MuxSink {
    public:
        explicit OutputSink(CMuxFilter* filter) : filter_(filter) {}
        void Write(const uint8_t* bytes, size_t size) override;
        void DeliverPartial() override;
        void DeliverEndOfStream() override;

    private:
        CMuxFilter* filter_;
        uint64_t sincePublished_ = 0;  // worker thread only
    };

    CCritSec filterLock_;
    CCritSec treeLock_;
    FilterRecord record_;
    CMuxConfig<CMuxFilter, FilterRecord> config_;
    CMuxOutputPin* output_ = nullptr;
    std::vector<CMuxStream*> streams_;    // creation order
    std::vector<CMuxProgram*> programs_;  // newest first, each counted
    std::vector<CMuxStream*> deleted_;    // deleted pins live on until the filter goes
    bool tearingDown_ = false;
    OutputSink sink_{this};
    std::unique_ptr<muxer::MuxEngine> engine_;
    // Streams fed into the engine of this run; found streams join it from upstream
    // threads, so it is read and changed under attachLock_.
    std::vector<CMuxStream*> attached_;
    CCritSec attachLock_;
    bool acceptFound_ = false;  // under attachLock_
};
