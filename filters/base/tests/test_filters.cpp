#include "filters/base/tests/test_filters.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <utility>

namespace testfilters {

std::vector<BYTE> PatternFrame(int index, DWORD size) {
    std::vector<BYTE> bytes(size);
    // Different for every picture and every position, so a lost, repeated or shifted
    // picture shows.
    for (DWORD i = 0; i < size; ++i)
        bytes[i] = static_cast<BYTE>(index * 37 + i * 13 + (i >> 8));
    return bytes;
}

HRESULT MakeVideoStream(const VideoStreamConfig& config, CMediaType* type, std::vector<SampleSpec>* samples) {
    VideoTypeParams params{config.subtype, config.width, config.height, config.avgTimePerFrame, config.videoInfo2};
    HRESULT hr = BuildVideoType(params, type);
    if (FAILED(hr)) return hr;
    const DWORD size = type->lSampleSize;

    HANDLE file = INVALID_HANDLE_VALUE;
    if (!config.rawFile.empty()) {
        file = CreateFileW(config.rawFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    }
    samples->clear();
    for (int i = 0; i < config.frames; ++i) {
        SampleSpec sample;
        if (file != INVALID_HANDLE_VALUE) {
            sample.bytes.resize(size);
            DWORD got = 0;
            if (!ReadFile(file, sample.bytes.data(), size, &got, nullptr) || got != size) break;
        } else {
            sample.bytes = PatternFrame(i, size);
        }
        sample.start = config.firstStart + i * config.avgTimePerFrame;
        sample.stop = sample.start + config.avgTimePerFrame;
        sample.discontinuity = i == 0;
        if (config.customize) config.customize(i, sample);
        samples->push_back(std::move(sample));
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return S_OK;
}

// ---- source ----

class CTestSourcePin final : public CBaseOutputPin, public CAmThread {
public:
    CTestSourcePin(CTestPushSource* filter, CCritSec* lock, SourceConfig config)
        : CBaseOutputPin(L"test source pin", filter, lock, nullptr, L"Output"), config_(std::move(config)) {}
    ~CTestSourcePin() override { StopWorker(); }

    HRESULT CheckMediaType(const CMediaType* type) override {
        if (*type == config_.type) return S_OK;
        for (const CMediaType& more : config_.moreTypes)
            if (*type == more) return S_OK;
        return S_FALSE;
    }

    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (position < 0) return E_INVALIDARG;
        if (position == 0) {
            *type = config_.type;
            return S_OK;
        }
        if (static_cast<size_t>(position) <= config_.moreTypes.size()) {
            *type = config_.moreTypes[position - 1];
            return S_OK;
        }
        return VFW_S_NO_MORE_ITEMS;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        if (FAILED(config_.decideBufferSizeError)) return config_.decideBufferSizeError;
        DWORD size = config_.bufferSize;
        if (size == 0) {
            size = 1;
            for (const SampleSpec& sample : config_.samples)
                if (sample.bytes.size() > size) size = static_cast<DWORD>(sample.bytes.size());
        }
        ALLOCATOR_PROPERTIES want = *request;
        if (want.cBuffers < config_.bufferCount) want.cBuffers = config_.bufferCount;
        if (static_cast<DWORD>(want.cbBuffer) < size) want.cbBuffer = static_cast<long>(size);
        if (want.cbAlign < 1) want.cbAlign = 1;
        ALLOCATOR_PROPERTIES got{};
        const HRESULT hr = allocator->SetProperties(&want, &got);
        if (FAILED(hr)) return hr;
        return got.cBuffers >= want.cBuffers && got.cbBuffer >= want.cbBuffer ? S_OK : E_FAIL;
    }

    HRESULT Active() override {
        HRESULT hr = CBaseOutputPin::Active();
        if (FAILED(hr)) return hr;
        next_ = 0;
        eosSent_ = false;
        pending_ = 0;
        if (!Create()) return E_FAIL;
        return CallWorker(kRun);
    }

    HRESULT Inactive() override {
        // Decommitting first wakes a worker waiting for a buffer.
        const HRESULT hr = CBaseOutputPin::Inactive();
        StopWorker();
        return hr;
    }

    HRESULT FlushAndResume(size_t resumeAt) {
        if (!ThreadExists()) return VFW_E_WRONG_STATE;
        HRESULT hr = DeliverBeginFlush();
        if (FAILED(hr)) return hr;
        hr = CallWorker(kPause);
        if (FAILED(hr)) return hr;
        hr = DeliverEndFlush();
        if (FAILED(hr)) return hr;
        // The worker is parked: its position may be changed.
        next_ = resumeAt < config_.samples.size() ? resumeAt : config_.samples.size();
        eosSent_ = false;
        const REFERENCE_TIME start = next_ < config_.samples.size() ? config_.samples[next_].start : 0;
        DeliverNewSegment(start, 0x7FFFFFFFFFFFFFFFll, 1.0);
        return CallWorker(kRun);
    }

    int Delivered() const { return delivered_.load(); }

private:
    enum : DWORD { kRun = 1, kPause, kExit };

    void StopWorker() {
        if (!ThreadExists()) return;
        CallWorker(kExit);
        Close();
    }

    DWORD ThreadProc() override {
        for (;;) {
            const DWORD command = pending_ ? pending_ : GetRequest();
            pending_ = 0;
            Reply(S_OK);
            if (command == kExit) return 0;
            if (command == kRun) Stream();
        }
    }

    // Delivers samples until the list ends, a command arrives (left in `pending_`),
    // or downstream refuses for good.
    void Stream() {
        while (next_ < config_.samples.size()) {
            DWORD command;
            if (CheckRequest(&command)) {
                pending_ = command;
                return;
            }
            const SampleSpec& spec = config_.samples[next_];
            IMediaSample* sample = nullptr;
            if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) return;  // decommitted: stopping
            const HRESULT filled = Fill(spec, sample);
            const HRESULT hr = SUCCEEDED(filled) ? Deliver(sample) : filled;
            sample->Release();
            ++next_;
            if (hr == S_OK)
                ++delivered_;
            else if (FAILED(hr))
                return;  // downstream stopped or failed; S_FALSE (flushing) goes on
        }
        if (!eosSent_ && config_.sendEndOfStream) {
            eosSent_ = true;
            DeliverEndOfStream();
        }
    }

    static HRESULT Fill(const SampleSpec& spec, IMediaSample* sample) {
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        if (FAILED(hr)) return hr;
        if (spec.bytes.size() > static_cast<size_t>(sample->GetSize())) return E_FAIL;
        memcpy(data, spec.bytes.data(), spec.bytes.size());
        sample->SetActualDataLength(static_cast<long>(spec.bytes.size()));
        REFERENCE_TIME start = spec.start, stop = spec.stop;
        sample->SetTime(spec.hasStart ? &start : nullptr, spec.hasStart && spec.hasStop ? &stop : nullptr);
        sample->SetSyncPoint(spec.sync);
        sample->SetPreroll(spec.preroll);
        sample->SetDiscontinuity(spec.discontinuity);
        sample->SetMediaType(spec.typeChange ? const_cast<CMediaType*>(&spec.newType) : nullptr);
        // Always written: the allocator hands back samples with the flags of their last
        // use.
        {
            IMediaSample2* sample2 = nullptr;
            hr = sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2));
            if (FAILED(hr)) return hr;
            AM_SAMPLE2_PROPERTIES props{};
            hr = sample2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
            if (SUCCEEDED(hr)) {
                props.dwTypeSpecificFlags = spec.typeSpecificFlags;
                hr = sample2->SetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
            }
            sample2->Release();
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

    SourceConfig config_;
    size_t next_ = 0;  // worker's, or the controller's while the worker is parked
    bool eosSent_ = false;
    DWORD pending_ = 0;
    std::atomic<int> delivered_{0};
};

CTestPushSource* CTestPushSource::Create(SourceConfig config) {
    auto* filter = new (std::nothrow) CTestPushSource(std::move(config));
    if (!filter) return nullptr;
    if (!filter->pin_) {
        delete filter;
        return nullptr;
    }
    filter->AddRef();
    return filter;
}

CTestPushSource::CTestPushSource(SourceConfig config) : CBaseFilter(L"test push source", nullptr, &lock_, GUID_NULL) {
    pin_ = new (std::nothrow) CTestSourcePin(this, &lock_, std::move(config));
}

CTestPushSource::~CTestPushSource() {
    delete pin_;
}

CBasePin* CTestPushSource::GetPin(int n) {
    return n == 0 ? pin_ : nullptr;
}

CBaseOutputPin* CTestPushSource::OutputPin() const {
    return pin_;
}

HRESULT CTestPushSource::FlushAndResume(size_t resumeAt) {
    return pin_->FlushAndResume(resumeAt);
}

int CTestPushSource::Delivered() const {
    return pin_->Delivered();
}

bool CTestPushSource::WaitDelivered(int count, DWORD timeoutMs) {
    const DWORD begin = GetTickCount();
    while (pin_->Delivered() < count) {
        if (GetTickCount() - begin > timeoutMs) return false;
        Sleep(1);
    }
    return true;
}

// ---- sink ----

namespace {

void WriteText(HANDLE file, const char* text) {
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

}  // namespace

namespace {

// A system memory allocator whose samples are smaller than the properties it reports.
class CSmallSampleAllocator final : public IMemAllocator {
public:
    CSmallSampleAllocator(IMemAllocator* inner, long sampleBytes) : inner_(inner), sampleBytes_(sampleBytes) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IMemAllocator) {
            *out = static_cast<IMemAllocator*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            inner_->Release();
            delete this;
        }
        return ULONG(left);
    }

    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
        if (!request || !actual) return E_POINTER;
        ALLOCATOR_PROPERTIES small = *request;
        small.cbBuffer = std::min(request->cbBuffer, sampleBytes_);
        const HRESULT hr = inner_->SetProperties(&small, actual);
        if (SUCCEEDED(hr)) actual->cbBuffer = std::max(actual->cbBuffer, request->cbBuffer);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) override {
        return inner_->GetProperties(props);
    }
    HRESULT STDMETHODCALLTYPE Commit() override { return inner_->Commit(); }
    HRESULT STDMETHODCALLTYPE Decommit() override { return inner_->Decommit(); }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                        DWORD flags) override {
        return inner_->GetBuffer(sample, start, stop, flags);
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) override { return inner_->ReleaseBuffer(sample); }

private:
    LONG refs_ = 1;
    IMemAllocator* inner_;  // counted
    long sampleBytes_;
};

}  // namespace

class CTestSinkPin final : public CBaseInputPin {
public:
    CTestSinkPin(CTestSink* sink, CCritSec* lock)
        : CBaseInputPin(L"test sink pin", sink, lock, nullptr, L"Input"), sink_(sink) {}

    HRESULT CheckMediaType(const CMediaType* type) override {
        {
            CAutoLock lock(&sink_->recordsLock_);
            sink_->checked_.push_back(type->subtype);
        }
        const auto& accepted = sink_->config_.acceptedSubtypes;
        if (accepted.empty()) return S_OK;
        for (const GUID& subtype : accepted)
            if (subtype == type->subtype) return S_OK;
        return S_FALSE;
    }

    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (position < 0) return E_INVALIDARG;
        const auto& offered = sink_->config_.offeredTypes;
        if (static_cast<size_t>(position) >= offered.size()) return VFW_S_NO_MORE_ITEMS;
        *type = offered[position];
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override {
        if (sink_->config_.smallSampleBytes <= 0) return CBaseInputPin::GetAllocator(allocator);
        if (!allocator) return E_POINTER;
        IMemAllocator* inner = nullptr;
        const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                            reinterpret_cast<void**>(&inner));
        if (FAILED(hr)) return hr;
        *allocator = new CSmallSampleAllocator(inner, sink_->config_.smallSampleBytes);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override {
        if (FAILED(sink_->config_.notifyAllocatorError)) return sink_->config_.notifyAllocatorError;
        return CBaseInputPin::NotifyAllocator(allocator, readOnly);
    }

    HRESULT BreakConnect() override {
        {
            CAutoLock lock(&sink_->recordsLock_);
            ++sink_->counts_.breakConnects;
        }
        return CBaseInputPin::BreakConnect();
    }

    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        CAutoLock streaming(&streamLock_);
        HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK) return hr;
        const AM_SAMPLE2_PROPERTIES& props = SampleProps();
        SampleSpec record;
        const long length = props.lActual;
        if (length > 0 && props.pbBuffer) record.bytes.assign(props.pbBuffer, props.pbBuffer + length);
        record.hasStart = (props.dwSampleFlags & AM_SAMPLE_TIMEVALID) != 0;
        record.hasStop = (props.dwSampleFlags & AM_SAMPLE_STOPVALID) != 0;
        record.start = record.hasStart ? props.tStart : 0;
        record.stop = record.hasStop ? props.tStop : 0;
        record.sync = (props.dwSampleFlags & AM_SAMPLE_SPLICEPOINT) != 0;
        record.preroll = (props.dwSampleFlags & AM_SAMPLE_PREROLL) != 0;
        record.discontinuity = (props.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) != 0;
        record.typeSpecificFlags = props.dwTypeSpecificFlags;
        if (sink_->config_.receiveDelayMs) Sleep(sink_->config_.receiveDelayMs);
        if ((props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && props.pMediaType) {
            record.typeChange = true;
            record.newType = *props.pMediaType;
            // Later samples have the new type.
            SetMediaType(&record.newType);
        }
        if (sink_->data_ != INVALID_HANDLE_VALUE && !record.bytes.empty()) {
            DWORD written = 0;
            WriteFile(sink_->data_, record.bytes.data(), static_cast<DWORD>(record.bytes.size()), &written, nullptr);
        }
        char line[200];
        snprintf(line, sizeof line, "sample %ld start %lld stop %lld flags 0x%lx type-flags 0x%lx%s\n", length,
                 record.hasStart ? static_cast<long long>(record.start) : -1LL,
                 record.hasStop ? static_cast<long long>(record.stop) : -1LL,
                 static_cast<unsigned long>(props.dwSampleFlags), static_cast<unsigned long>(props.dwTypeSpecificFlags),
                 record.typeChange ? " type-change" : "");
        WriteText(sink_->log_, line);
        CAutoLock lock(&sink_->recordsLock_);
        sink_->samples_.push_back(std::move(record));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EndOfStream() override {
        CAutoLock streaming(&streamLock_);
        const HRESULT hr = CheckStreaming();
        if (hr != S_OK) return hr;
        {
            CAutoLock lock(&sink_->recordsLock_);
            ++sink_->counts_.endOfStreams;
        }
        WriteText(sink_->log_, "end-of-stream\n");
        sink_->endOfStream_.Set();
        sink_->NotifyEvent(EC_COMPLETE, S_OK, 0);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE BeginFlush() override {
        CBaseInputPin::BeginFlush();
        CAutoLock lock(&sink_->recordsLock_);
        ++sink_->counts_.beginFlushes;
        WriteText(sink_->log_, "begin-flush\n");
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EndFlush() override {
        CAutoLock streaming(&streamLock_);
        CBaseInputPin::EndFlush();
        CAutoLock lock(&sink_->recordsLock_);
        ++sink_->counts_.endFlushes;
        WriteText(sink_->log_, "end-flush\n");
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
        CBasePin::NewSegment(start, stop, rate);
        CAutoLock lock(&sink_->recordsLock_);
        ++sink_->counts_.newSegments;
        char line[100];
        snprintf(line, sizeof line, "new-segment %lld\n", static_cast<long long>(start));
        WriteText(sink_->log_, line);
        return S_OK;
    }

    HRESULT Inactive() override {
        // Wait for a Receive in progress before the pin counts as stopped.
        CAutoLock streaming(&streamLock_);
        return CBaseInputPin::Inactive();
    }

private:
    CTestSink* sink_;
    CCritSec streamLock_;
};

CTestSink* CTestSink::Create(SinkConfig config) {
    auto* sink = new (std::nothrow) CTestSink(std::move(config));
    if (!sink) return nullptr;
    if (!sink->pin_) {
        delete sink;
        return nullptr;
    }
    sink->AddRef();
    return sink;
}

CTestSink::CTestSink(SinkConfig config)
    : CBaseFilter(L"test sink", nullptr, &lock_, GUID_NULL), config_(std::move(config)) {
    pin_ = new (std::nothrow) CTestSinkPin(this, &lock_);
    if (!config_.dataFile.empty()) {
        data_ =
            CreateFileW(config_.dataFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        log_ = CreateFileW((config_.dataFile + L".log").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           0, nullptr);
    }
}

CTestSink::~CTestSink() {
    delete pin_;
    if (data_ != INVALID_HANDLE_VALUE) CloseHandle(data_);
    if (log_ != INVALID_HANDLE_VALUE) CloseHandle(log_);
}

HRESULT STDMETHODCALLTYPE CTestSink::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), out);
    return CBaseFilter::NonDelegatingQueryInterface(iid, out);
}

CBasePin* CTestSink::GetPin(int n) {
    return n == 0 ? pin_ : nullptr;
}

CBaseInputPin* CTestSink::InputPin() const {
    return pin_;
}

std::vector<SampleSpec> CTestSink::Samples() const {
    CAutoLock lock(&recordsLock_);
    return samples_;
}

CTestSink::Counters CTestSink::Counts() const {
    CAutoLock lock(&recordsLock_);
    return counts_;
}

std::vector<GUID> CTestSink::CheckedSubtypes() const {
    CAutoLock lock(&recordsLock_);
    return checked_;
}

bool CTestSink::WaitEndOfStream(DWORD timeoutMs) {
    return endOfStream_.Wait(timeoutMs);
}

void CTestSink::ClearRecords() {
    CAutoLock lock(&recordsLock_);
    samples_.clear();
    counts_ = Counters{};
    checked_.clear();
    endOfStream_.Reset();
}

}  // namespace testfilters
