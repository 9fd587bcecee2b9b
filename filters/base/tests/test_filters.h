// Test filters for every filter's tests: a push source that delivers a prepared list of
// samples (a video stream in any of the eight uncompressed formats, or an elementary
// byte stream), and a sink that records everything it receives.
//
// Both are built on the base classes, so the base classes' own tests drive them too.
// Each filter is made with Create (one reference held by the caller) and is counted
// like any other object: its last Release deletes it.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "filters/base/filter.h"
#include "filters/base/locks.h"
#include "filters/base/media_type.h"

namespace testfilters {

// One sample as the source delivers it and as the sink received it.
struct SampleSpec {
    std::vector<BYTE> bytes;
    bool hasStart = true;
    bool hasStop = true;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool sync = true;
    bool preroll = false;
    bool discontinuity = false;
    DWORD typeSpecificFlags = 0;  // IMediaSample2 (field flags of a picture)
    bool typeChange = false;      // the sample carries `newType`
    CMediaType newType;
};

struct VideoStreamConfig {
    const GUID* subtype = nullptr;
    LONG width = 64;
    LONG height = 48;
    REFERENCE_TIME avgTimePerFrame = 400000;  // 25 frames per second
    bool videoInfo2 = false;
    int frames = 10;
    // Raw pictures read from this file, one picture size after another; empty: a
    // generated pattern. A short last picture ends the stream.
    std::wstring rawFile;
    REFERENCE_TIME firstStart = 0;
    // Called for each sample after its default fields are set (times from the frame
    // duration, every picture a sync point, the first a discontinuity).
    std::function<void(int index, SampleSpec& sample)> customize;
};

// The bytes of generated picture `index`.
std::vector<BYTE> PatternFrame(int index, DWORD size);
// Builds the type and the samples of a video stream. E_INVALIDARG for a bad size or
// subtype; HRESULT_FROM_WIN32 of the file error when the raw file cannot be read.
HRESULT MakeVideoStream(const VideoStreamConfig& config, CMediaType* type, std::vector<SampleSpec>* samples);

struct SourceConfig {
    CMediaType type;                    // the type the pin offers first
    std::vector<CMediaType> moreTypes;  // offered after it
    std::vector<SampleSpec> samples;
    DWORD bufferSize = 0;  // 0: the largest sample (at least 1 byte)
    long bufferCount = 4;
    bool sendEndOfStream = true;
    HRESULT decideBufferSizeError = S_OK;  // a failing allocator set-up, for tests
};

class CTestSourcePin;

class CTestPushSource final : public CBaseFilter {
public:
    static CTestPushSource* Create(SourceConfig config);

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    CBaseOutputPin* OutputPin() const;

    // Application thread, while running or paused: flushes downstream, sends a new
    // segment starting at sample `resumeAt`'s start time and goes on from there.
    HRESULT FlushAndResume(size_t resumeAt);
    // Samples handed to Deliver that downstream accepted (S_OK).
    int Delivered() const;
    // Waits (bounded) until `count` samples were delivered.
    bool WaitDelivered(int count, DWORD timeoutMs);

private:
    explicit CTestPushSource(SourceConfig config);
    ~CTestPushSource() override;
    CCritSec lock_;
    CTestSourcePin* pin_ = nullptr;
};

struct SinkConfig {
    std::vector<GUID> acceptedSubtypes;  // empty: every type
    std::vector<CMediaType> offeredTypes;
    HRESULT notifyAllocatorError = S_OK;  // answered by NotifyAllocator when set
    DWORD receiveDelayMs = 0;             // a slow renderer: each Receive takes this long
    // Non-zero: the pin offers an allocator that grants whatever buffer size is asked
    // but whose samples hold at most this many bytes (IMediaSample::GetSize tells), so
    // that an upstream filter's handling of data larger than one sample shows.
    long smallSampleBytes = 0;
    // Written as the sink receives: the sample bytes to `dataFile`, one line a sample
    // or event to `dataFile` + ".log". Empty: nothing written.
    std::wstring dataFile;
};

class CTestSinkPin;

class CTestSink final : public CBaseFilter, public IAMFilterMiscFlags {
public:
    static CTestSink* Create(SinkConfig config);

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;
    // A renderer, so the graph waits for its end of stream.
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    CBaseInputPin* InputPin() const;

    struct Counters {
        int newSegments = 0;
        int endOfStreams = 0;
        int beginFlushes = 0;
        int endFlushes = 0;
        int breakConnects = 0;
    };
    std::vector<SampleSpec> Samples() const;
    Counters Counts() const;
    // Subtypes in the order CheckMediaType was asked about them.
    std::vector<GUID> CheckedSubtypes() const;
    bool WaitEndOfStream(DWORD timeoutMs);
    void ClearRecords();

private:
    friend class CTestSinkPin;
    explicit CTestSink(SinkConfig config);
    ~CTestSink() override;

    CCritSec lock_;
    CTestSinkPin* pin_ = nullptr;
    SinkConfig config_;
    mutable CCritSec recordsLock_;
    std::vector<SampleSpec> samples_;
    Counters counts_;
    std::vector<GUID> checked_;
    CAmEvent endOfStream_{true};
    HANDLE data_ = INVALID_HANDLE_VALUE;
    HANDLE log_ = INVALID_HANDLE_VALUE;
};

}  // namespace testfilters
