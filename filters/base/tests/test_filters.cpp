#include "filters/base/tests/test_filters.h"

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
    VideoTypeParams params{config.subtype, config.width, config.height, config.avg_time_per_frame, config.video_info2};
    HRESULT hr = BuildVideoType(params, type);
    if (FAILED(hr)) return hr;
    const DWORD size = type->lSampleSize;

    HANDLE file = INVALID_HANDLE_VALUE;
    if (!config.raw_file.empty()) {
        file = CreateFileW(config.raw_file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
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
        sample.start = config.first_start + i * config.avg_time_per_frame;
        sample.stop = sample.start + config.avg_time_per_frame;
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
        for (const CMediaType& more : config_.more_types)
            if (*type == more) return S_OK;
        return S_FALSE;
    }

    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (position < 0) return E_INVALIDARG;
        if (position == 0) {
            *type = config_.type;
            return S_OK;
        }
        if (static_cast<size_t>(position) <= config_.more_types.size()) {
            *type = config_.more_types[position - 1];
            return S_OK;
        }
        return VFW_S_NO_MORE_ITEMS;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        if (FAILED(config_.decide_buffer_size_error)) return config_.decide_buffer_size_error;
        DWORD size = config_.buffer_size;
        if (size == 0) {
            size = 1;
            for (const SampleSpec& sample : config_.samples)
                if (sample.bytes.size() > size) size = static_cast<DWORD>(sample.bytes.size());
        }
        ALLOCATOR_PROPERTIES want = *request;
        if (want.cBuffers < config_.buffer_count) want.cBuffers = config_.buffer_count;
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
        eos_sent_ = false;
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

    HRESULT FlushAndResume(size_t resume_at) {
        if (!ThreadExists()) return VFW_E_WRONG_STATE;
        HRESULT hr = DeliverBeginFlush();
        if (FAILED(hr)) return hr;
        hr = CallWorker(kPause);
        if (FAILED(hr)) return hr;
        hr = DeliverEndFlush();
        if (FAILED(hr)) return hr;
        // The worker is parked: its position may be changed.
        next_ = resume_at < config_.samples.size() ? resume_at : config_.samples.size();
        eos_sent_ = false;
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
        if (!eos_sent_ && config_.send_end_of_stream) {
            eos_sent_ = true;
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
        sample->SetTime(spec.has_start ? &start : nullptr, spec.has_start && spec.has_stop ? &stop : nullptr);
        sample->SetSyncPoint(spec.sync);
        sample->SetPreroll(spec.preroll);
        sample->SetDiscontinuity(spec.discontinuity);
        sample->SetMediaType(spec.type_change ? const_cast<CMediaType*>(&spec.new_type) : nullptr);
        // Always written: the allocator hands back samples with the flags of their last
        // use.
        {
            IMediaSample2* sample2 = nullptr;
            hr = sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2));
            if (FAILED(hr)) return hr;
            AM_SAMPLE2_PROPERTIES props{};
            hr = sample2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
            if (SUCCEEDED(hr)) {
                props.dwTypeSpecificFlags = spec.type_specific_flags;
                hr = sample2->SetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
            }
            sample2->Release();
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

    SourceConfig config_;
    size_t next_ = 0;  // worker's, or the controller's while the worker is parked
    bool eos_sent_ = false;
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

HRESULT CTestPushSource::FlushAndResume(size_t resume_at) {
    return pin_->FlushAndResume(resume_at);
}

int CTestPushSource::Delivered() const {
    return pin_->Delivered();
}

bool CTestPushSource::WaitDelivered(int count, DWORD timeout_ms) {
    const DWORD begin = GetTickCount();
    while (pin_->Delivered() < count) {
        if (GetTickCount() - begin > timeout_ms) return false;
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

class CTestSinkPin final : public CBaseInputPin {
public:
    CTestSinkPin(CTestSink* sink, CCritSec* lock)
        : CBaseInputPin(L"test sink pin", sink, lock, nullptr, L"Input"), sink_(sink) {}

    HRESULT CheckMediaType(const CMediaType* type) override {
        {
            CAutoLock lock(&sink_->records_lock_);
            sink_->checked_.push_back(type->subtype);
        }
        const auto& accepted = sink_->config_.accepted_subtypes;
        if (accepted.empty()) return S_OK;
        for (const GUID& subtype : accepted)
            if (subtype == type->subtype) return S_OK;
        return S_FALSE;
    }

    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (position < 0) return E_INVALIDARG;
        const auto& offered = sink_->config_.offered_types;
        if (static_cast<size_t>(position) >= offered.size()) return VFW_S_NO_MORE_ITEMS;
        *type = offered[position];
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL read_only) override {
        if (FAILED(sink_->config_.notify_allocator_error)) return sink_->config_.notify_allocator_error;
        return CBaseInputPin::NotifyAllocator(allocator, read_only);
    }

    HRESULT BreakConnect() override {
        {
            CAutoLock lock(&sink_->records_lock_);
            ++sink_->counts_.break_connects;
        }
        return CBaseInputPin::BreakConnect();
    }

    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        CAutoLock streaming(&stream_lock_);
        HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK) return hr;
        const AM_SAMPLE2_PROPERTIES& props = SampleProps();
        SampleSpec record;
        const long length = props.lActual;
        if (length > 0 && props.pbBuffer) record.bytes.assign(props.pbBuffer, props.pbBuffer + length);
        record.has_start = (props.dwSampleFlags & AM_SAMPLE_TIMEVALID) != 0;
        record.has_stop = (props.dwSampleFlags & AM_SAMPLE_STOPVALID) != 0;
        record.start = record.has_start ? props.tStart : 0;
        record.stop = record.has_stop ? props.tStop : 0;
        record.sync = (props.dwSampleFlags & AM_SAMPLE_SPLICEPOINT) != 0;
        record.preroll = (props.dwSampleFlags & AM_SAMPLE_PREROLL) != 0;
        record.discontinuity = (props.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) != 0;
        record.type_specific_flags = props.dwTypeSpecificFlags;
        if (sink_->config_.receive_delay_ms) Sleep(sink_->config_.receive_delay_ms);
        if ((props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && props.pMediaType) {
            record.type_change = true;
            record.new_type = *props.pMediaType;
            // Later samples have the new type.
            SetMediaType(&record.new_type);
        }
        if (sink_->data_ != INVALID_HANDLE_VALUE && !record.bytes.empty()) {
            DWORD written = 0;
            WriteFile(sink_->data_, record.bytes.data(), static_cast<DWORD>(record.bytes.size()), &written, nullptr);
        }
        char line[200];
        snprintf(line, sizeof line, "sample %ld start %lld stop %lld flags 0x%lx type-flags 0x%lx%s\n", length,
                 record.has_start ? static_cast<long long>(record.start) : -1LL,
                 record.has_stop ? static_cast<long long>(record.stop) : -1LL,
                 static_cast<unsigned long>(props.dwSampleFlags), static_cast<unsigned long>(props.dwTypeSpecificFlags),
                 record.type_change ? " type-change" : "");
        WriteText(sink_->log_, line);
        CAutoLock lock(&sink_->records_lock_);
        sink_->samples_.push_back(std::move(record));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EndOfStream() override {
        CAutoLock streaming(&stream_lock_);
        const HRESULT hr = CheckStreaming();
        if (hr != S_OK) return hr;
        {
            CAutoLock lock(&sink_->records_lock_);
            ++sink_->counts_.end_of_streams;
        }
        WriteText(sink_->log_, "end-of-stream\n");
        sink_->end_of_stream_.Set();
        sink_->NotifyEvent(EC_COMPLETE, S_OK, 0);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE BeginFlush() override {
        CBaseInputPin::BeginFlush();
        CAutoLock lock(&sink_->records_lock_);
        ++sink_->counts_.begin_flushes;
        WriteText(sink_->log_, "begin-flush\n");
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EndFlush() override {
        CAutoLock streaming(&stream_lock_);
        CBaseInputPin::EndFlush();
        CAutoLock lock(&sink_->records_lock_);
        ++sink_->counts_.end_flushes;
        WriteText(sink_->log_, "end-flush\n");
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
        CBasePin::NewSegment(start, stop, rate);
        CAutoLock lock(&sink_->records_lock_);
        ++sink_->counts_.new_segments;
        char line[100];
        snprintf(line, sizeof line, "new-segment %lld\n", static_cast<long long>(start));
        WriteText(sink_->log_, line);
        return S_OK;
    }

    HRESULT Inactive() override {
        // Wait for a Receive in progress before the pin counts as stopped.
        CAutoLock streaming(&stream_lock_);
        return CBaseInputPin::Inactive();
    }

private:
    CTestSink* sink_;
    CCritSec stream_lock_;
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
    if (!config_.data_file.empty()) {
        data_ =
            CreateFileW(config_.data_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        log_ = CreateFileW((config_.data_file + L".log").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
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
    CAutoLock lock(&records_lock_);
    return samples_;
}

CTestSink::Counters CTestSink::Counts() const {
    CAutoLock lock(&records_lock_);
    return counts_;
}

std::vector<GUID> CTestSink::CheckedSubtypes() const {
    CAutoLock lock(&records_lock_);
    return checked_;
}

bool CTestSink::WaitEndOfStream(DWORD timeout_ms) {
    return end_of_stream_.Wait(timeout_ms);
}

void CTestSink::ClearRecords() {
    CAutoLock lock(&records_lock_);
    samples_.clear();
    counts_ = Counters{};
    checked_.clear();
    end_of_stream_.Reset();
}

}  // namespace testfilters
