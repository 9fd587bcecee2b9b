#include "engines/dv_engine/h264_encode.h"

#include <windows.h>
#include <dshow.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <new>

#include "engines/com_held.h"
#include "filters/base/filter.h"
#include "filters/base/pins.h"
#include "filters/config/kestrune_config.h"
#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/ombrisk_ids.h"
#include "filters/muxer/varrow_ids.h"

namespace engines {
namespace {

// {5D7E2A91-3C4B-4F60-8E1D-9A2B3C4D5E6F}: the file sink's class, for its filter information.
constexpr CLSID kStreamSinkClsid = {0x5D7E2A91, 0x3C4B, 0x4F60, {0x8E, 0x1D, 0x9A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F}};

class CStreamSinkPin;

// Writes the multiplexer's byte stream, sample after sample, into a file.
class CStreamSink final : public CBaseFilter, public IAMFilterMiscFlags {
public:
    static CStreamSink* Create(HANDLE file, uint64_t byteLimit);

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), out);
        return CBaseFilter::NonDelegatingQueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    IPin* Input();

    bool Ended(DWORD timeoutMs) { return ended_.Wait(timeoutMs); }
    HRESULT Failure() const { return failure_.load(); }
    uint64_t Written() const { return written_.load(); }
    LONGLONG LastTime() const { return lastTime_.load(); }

private:
    friend class CStreamSinkPin;
    CStreamSink(HANDLE file, uint64_t byteLimit);
    ~CStreamSink() override;

    // Streaming thread.
    void Write(const BYTE* data, long bytes, bool timed, LONGLONG start) {
        if (byteLimit_ && written_ + uint64_t(bytes) > byteLimit_) {
            failure_ = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
            ended_.Set();
            return;
        }
        DWORD put = 0;
        if (!WriteFile(file_, data, DWORD(bytes), &put, nullptr) || put != DWORD(bytes)) {
            failure_ = HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_WRITE_FAULT);
            ended_.Set();
            return;
        }
        written_ += uint64_t(bytes);
        if (timed) lastTime_ = std::max(lastTime_.load(), start);
    }

    CCritSec lock_;
    CStreamSinkPin* pin_ = nullptr;
    HANDLE file_;
    uint64_t byteLimit_;  // 0: none
    CAmEvent ended_{true};
    std::atomic<HRESULT> failure_{S_OK};
    std::atomic<uint64_t> written_{0};
    std::atomic<LONGLONG> lastTime_{0};
};

class CStreamSinkPin final : public CBaseInputPin {
public:
    CStreamSinkPin(CStreamSink* sink, CCritSec* lock)
        : CBaseInputPin(L"stream sink pin", sink, lock, nullptr, L"In"), sink_(sink) {}
    HRESULT CheckMediaType(const CMediaType* type) override {
        return type->majortype == MEDIATYPE_Stream ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        type->majortype = MEDIATYPE_Stream;
        type->subtype = MEDIASUBTYPE_MPEG2_TRANSPORT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK) return hr;
        if (FAILED(sink_->Failure())) return S_FALSE;
        const AM_SAMPLE2_PROPERTIES& props = SampleProps();
        const long bytes = std::clamp<long>(props.lActual, 0, std::max<long>(props.cbBuffer, 0));
        if (props.pbBuffer && bytes > 0)
            sink_->Write(props.pbBuffer, bytes, (props.dwSampleFlags & AM_SAMPLE_TIMEVALID) != 0, props.tStart);
        return FAILED(sink_->Failure()) ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE EndOfStream() override {
        const HRESULT hr = CheckStreaming();
        if (hr != S_OK) return hr;
        sink_->ended_.Set();
        return S_OK;
    }

private:
    CStreamSink* sink_;
};

CStreamSink* CStreamSink::Create(HANDLE file, uint64_t byteLimit) {
    auto* sink = new (std::nothrow) CStreamSink(file, byteLimit);
    if (!sink) return nullptr;
    if (!sink->pin_) {
        delete sink;
        return nullptr;
    }
    sink->AddRef();
    return sink;
}
CStreamSink::CStreamSink(HANDLE file, uint64_t byteLimit)
    : CBaseFilter(L"stream file sink", nullptr, &lock_, kStreamSinkClsid), file_(file), byteLimit_(byteLimit) {
    pin_ = new (std::nothrow) CStreamSinkPin(this, &lock_);
}
CStreamSink::~CStreamSink() {
    delete pin_;
}
CBasePin* CStreamSink::GetPin(int n) {
    return n == 0 ? pin_ : nullptr;
}
IPin* CStreamSink::Input() {
    return pin_;
}

// The first pin of `filter` in `direction` that is not connected (a reference), or null.
IPin* FreePin(IBaseFilter* filter, PIN_DIRECTION direction) {
    Held<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins))) return nullptr;
    IPin* pin = nullptr;
    for (int guard = 0; guard < 64 && pins->Next(1, &pin, nullptr) == S_OK; ++guard) {
        PIN_DIRECTION d;
        IPin* peer = nullptr;
        const bool free = SUCCEEDED(pin->QueryDirection(&d)) && d == direction && pin->ConnectedTo(&peer) != S_OK;
        if (peer) peer->Release();
        if (free) return pin;
        pin->Release();
    }
    return nullptr;
}

// Sets one word of the encoder's settings through its configuration.
HRESULT SetEncoderWord(IBaseFilter* encoder, int word, LONG value) {
    const GUID* key = ombrisk::KeyOfWord(word);
    if (!key) return E_UNEXPECTED;
    Held<IKestruneConfig> config;
    HRESULT hr = encoder->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config));
    if (FAILED(hr)) return hr;
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return config->SetValue(key, &v);
}

HRESULT MakeFilter(REFCLSID clsid, IBaseFilter** filter) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(filter));
}

}  // namespace

HRESULT CheckH264EncodingAvailable() {
    for (const CLSID* clsid : {&ombrisk::CLSID_KestruneAvcEncoder, &CLSID_VarrowMuxer}) {
        Held<IBaseFilter> filter;
        const HRESULT hr = MakeFilter(*clsid, &filter);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT EncodeDvToH264(const std::wstring& dvAvi, const std::wstring& output, double frameRate,
                       const std::atomic<bool>& cancel, std::atomic<uint32_t>* done, DWORD stallMs,
                       uint64_t byteLimit) {
    Held<IGraphBuilder> graph;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(&graph));
    if (FAILED(hr)) return hr;
    Held<IBaseFilter> encoder, muxer, source;
    if (FAILED(hr = MakeFilter(ombrisk::CLSID_KestruneAvcEncoder, &encoder))) return hr;
    if (FAILED(hr = MakeFilter(CLSID_VarrowMuxer, &muxer))) return hr;
    // The recording's frame rate: the system's DV decoding may hand over both fields of a
    // frame as pictures of their own, at twice the rate, and the encoder then keeps every
    // other one. CAVLC: the encoder's pictures are coded with it only.
    if (FAILED(hr = SetEncoderWord(encoder.p, ombrisk::kParFrameRate100, LONG(frameRate * 100 + 0.5)))) return hr;
    if (FAILED(hr = SetEncoderWord(encoder.p, ombrisk::kParCabac, 0))) return hr;
    HANDLE file = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    Held<CStreamSink> sink;
    sink.p = CStreamSink::Create(file, byteLimit);
    if (!sink.p) {
        CloseHandle(file);
        return E_OUTOFMEMORY;
    }
    // Filters, then the chain: the file's video through the system's splitter and DV
    // decoder into the encoder, the encoder into the multiplexer, the multiplexer into us.
    hr = graph->AddFilter(encoder.p, L"H.264 encoder");
    if (SUCCEEDED(hr)) hr = graph->AddFilter(muxer.p, L"multiplexer");
    if (SUCCEEDED(hr)) hr = graph->AddFilter(sink.p, L"file sink");
    if (SUCCEEDED(hr)) hr = graph->AddSourceFilter(dvAvi.c_str(), L"recording", &source);
    if (SUCCEEDED(hr)) {
        Held<IPin> out, in;
        out.p = FreePin(source.p, PINDIR_OUTPUT);
        in.p = FreePin(encoder.p, PINDIR_INPUT);
        hr = out.p && in.p ? graph->Connect(out.p, in.p) : VFW_E_CANNOT_CONNECT;
    }
    if (SUCCEEDED(hr)) {
        Held<IPin> out, in;
        out.p = FreePin(encoder.p, PINDIR_OUTPUT);
        in.p = FreePin(muxer.p, PINDIR_INPUT);
        hr = out.p && in.p ? graph->ConnectDirect(out.p, in.p, nullptr) : VFW_E_CANNOT_CONNECT;
    }
    if (SUCCEEDED(hr)) {
        Held<IPin> out;
        out.p = FreePin(muxer.p, PINDIR_OUTPUT);
        hr = out.p ? graph->ConnectDirect(out.p, sink->Input(), nullptr) : VFW_E_CANNOT_CONNECT;
    }
    Held<IMediaControl> control;
    Held<IMediaEvent> events;
    if (SUCCEEDED(hr)) hr = graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    if (SUCCEEDED(hr)) hr = graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events));
    if (SUCCEEDED(hr)) {
        Held<IMediaFilter> timing;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&timing))))
            timing->SetSyncSource(nullptr);
        hr = control->Run();
    }
    if (SUCCEEDED(hr)) {
        // Until the multiplexer's end of stream reaches the sink; bounded by progress.
        uint64_t seen = 0;
        DWORD lastChange = GetTickCount();
        for (;;) {
            if (sink->Ended(100)) {
                hr = sink->Failure();
                break;
            }
            if (cancel) {
                hr = E_ABORT;
                break;
            }
            long code = 0;
            LONG_PTR a = 0, b = 0;
            while (events->GetEvent(&code, &a, &b, 0) == S_OK) {
                events->FreeEventParams(code, a, b);
                if ((code == EC_ERRORABORT || code == EC_STREAM_ERROR_STOPPED) && SUCCEEDED(hr))
                    hr = FAILED(HRESULT(a)) ? HRESULT(a) : E_FAIL;
            }
            if (FAILED(hr)) break;
            if (done && frameRate > 0)
                *done = uint32_t(std::max<LONGLONG>(0, LONGLONG(double(sink->LastTime()) * frameRate / 1e7)));
            if (sink->Written() != seen) {
                seen = sink->Written();
                lastChange = GetTickCount();
            } else if (GetTickCount() - lastChange > stallMs) {
                hr = VFW_E_TIMEOUT;
                break;
            }
        }
    }
    if (control.p) control->Stop();
    if (graph.p) {
        // The filters go with the graph; the file is complete once the sink is stopped.
        for (IBaseFilter* f : {source.p, encoder.p, muxer.p, static_cast<IBaseFilter*>(sink.p)})
            if (f) graph->RemoveFilter(f);
    }
    CloseHandle(file);
    if (SUCCEEDED(hr) && sink->Written() == 0) hr = E_FAIL;  // nothing came out of the multiplexer
    if (FAILED(hr)) DeleteFileW(output.c_str());             // a partial encoding; the recording is kept by the caller
    return hr;
}

}  // namespace engines
