#include "engines/clip_player/frame_grabber.h"

#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>

#include <cstring>
#include <new>

#include "engines/com_held.h"
#include "engines/player/frame_scale.h"
#include "filters/base/filter.h"
#include "filters/base/pins.h"

namespace engines {
namespace {

// {5B0C2F4E-3E71-4C1B-9C2E-8F0A6D1B7E21}: the sink's class, for its filter information only.
constexpr CLSID kGrabberClsid = {0x5B0C2F4E, 0x3E71, 0x4C1B, {0x9C, 0x2E, 0x8F, 0x0A, 0x6D, 0x1B, 0x7E, 0x21}};

class CGrabberPin;

// A renderer taking 32-bit RGB video that keeps the first picture covering the target
// position (times are those of the current segment, so a seek's target is its start), or
// the last picture when the stream ends before it.
class CGrabber final : public CBaseFilter, public IAMFilterMiscFlags {
public:
    static CGrabber* Create();

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), out);
        return CBaseFilter::NonDelegatingQueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    IPin* InputPin();

    void SetTarget(LONGLONG target) {
        CAutoLock hold(&frameLock_);
        target_ = target;
        have_ = false;
        done_.Reset();
    }
    LONGLONG Target() {
        CAutoLock hold(&frameLock_);
        return target_;
    }
    bool WaitDone(DWORD timeoutMs) { return done_.Wait(timeoutMs); }
    bool Take(GrabbedFrame* frame) {
        CAutoLock hold(&frameLock_);
        if (!have_) return false;
        *frame = std::move(frame_);
        have_ = false;
        return true;
    }

private:
    friend class CGrabberPin;
    CGrabber();
    ~CGrabber() override;

    // Streaming thread: keeps the picture (the latest replaces the one before).
    void Keep(const BYTE* data, long bytes, const VIDEOINFOHEADER& format, LONGLONG start);
    void Finish() { done_.Set(); }

    CCritSec lock_;
    CGrabberPin* pin_ = nullptr;
    CCritSec frameLock_;
    LONGLONG target_ = 0;
    bool have_ = false;
    GrabbedFrame frame_;
    CAmEvent done_{true};
};

class CGrabberPin final : public CBaseInputPin {
public:
    CGrabberPin(CGrabber* grabber, CCritSec* lock)
        : CBaseInputPin(L"frame grabber pin", grabber, lock, nullptr, L"In"), grabber_(grabber) {}

    HRESULT CheckMediaType(const CMediaType* type) override {
        if (type->majortype != MEDIATYPE_Video || type->subtype != MEDIASUBTYPE_RGB32) return S_FALSE;
        if (type->formattype != FORMAT_VideoInfo || type->cbFormat < sizeof(VIDEOINFOHEADER) || !type->pbFormat)
            return S_FALSE;
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
        const LONG height = info->bmiHeader.biHeight < 0 ? -info->bmiHeader.biHeight : info->bmiHeader.biHeight;
        if (info->bmiHeader.biWidth <= 0 || height <= 0 || info->bmiHeader.biWidth > 8192 || height > 8192)
            return S_FALSE;
        return S_OK;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        type->majortype = MEDIATYPE_Video;
        type->subtype = MEDIASUBTYPE_RGB32;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK) return hr;
        if (done_) return S_FALSE;  // the picture is taken: nothing more is wanted
        const AM_SAMPLE2_PROPERTIES& props = SampleProps();
        if ((props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && props.pMediaType) {
            CMediaType changed(*props.pMediaType);
            SetMediaType(&changed);
        }
        const auto& format = *reinterpret_cast<const VIDEOINFOHEADER*>(CurrentMediaType().pbFormat);
        const bool timed = (props.dwSampleFlags & AM_SAMPLE_TIMEVALID) != 0;
        const LONGLONG start = timed ? props.tStart : 0;
        // Without a stop time a picture lasts one frame of the stream's rate (or 40 ms).
        const LONGLONG frame = format.AvgTimePerFrame > 0 ? format.AvgTimePerFrame : 400000;
        const LONGLONG stop = (props.dwSampleFlags & AM_SAMPLE_STOPVALID) ? props.tStop : start + frame;
        // The clip is decoded from its start (the system's splitters do not all seek, and
        // some stamp pictures with the stream's own time stamps, which need not start at
        // 0): the first picture's time is the clip's origin.
        if (!haveOrigin_) {
            origin_ = start + SegmentStart();
            haveOrigin_ = true;
        }
        const LONGLONG offset = SegmentStart() - origin_;
        const bool covers = stop + offset > grabber_->Target();
        grabber_->Keep(props.pbBuffer, props.lActual, format, start + offset);
        if (covers) {
            done_ = true;
            grabber_->Finish();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EndOfStream() override {
        const HRESULT hr = CheckStreaming();
        if (hr != S_OK) return hr;
        grabber_->Finish();  // the last picture kept, if any, is the answer
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return CBaseInputPin::BeginFlush(); }
    HRESULT STDMETHODCALLTYPE EndFlush() override {
        done_ = false;
        return CBaseInputPin::EndFlush();
    }
    HRESULT Active() override {
        done_ = false;
        haveOrigin_ = false;
        return CBaseInputPin::Active();
    }

private:
    CGrabber* grabber_;
    bool haveOrigin_ = false;  // streaming thread only
    LONGLONG origin_ = 0;
    std::atomic<bool> done_{false};
};

CGrabber* CGrabber::Create() {
    auto* grabber = new (std::nothrow) CGrabber();
    if (!grabber) return nullptr;
    if (!grabber->pin_) {
        delete grabber;
        return nullptr;
    }
    grabber->AddRef();
    return grabber;
}

CGrabber::CGrabber() : CBaseFilter(L"frame grabber", nullptr, &lock_, kGrabberClsid) {
    pin_ = new (std::nothrow) CGrabberPin(this, &lock_);
}
CGrabber::~CGrabber() {
    delete pin_;
}

CBasePin* CGrabber::GetPin(int n) {
    return n == 0 ? pin_ : nullptr;
}
IPin* CGrabber::InputPin() {
    return pin_;
}

void CGrabber::Keep(const BYTE* data, long bytes, const VIDEOINFOHEADER& format, LONGLONG start) {
    const BITMAPINFOHEADER& header = format.bmiHeader;
    const uint32_t width = static_cast<uint32_t>(header.biWidth);
    const bool bottomUp = header.biHeight > 0;
    const uint32_t height = static_cast<uint32_t>(bottomUp ? header.biHeight : -header.biHeight);
    const size_t row = size_t(width) * 4;  // 32-bit rows need no padding
    if (!data || bytes <= 0 || size_t(bytes) < row * height) return;
    const size_t stride = row;
    CAutoLock hold(&frameLock_);
    frame_.width = width;
    frame_.height = height;
    frame_.start = start;
    frame_.pixels.resize(size_t(width) * height);
    for (uint32_t y = 0; y < height; ++y) {
        const BYTE* from = data + stride * (bottomUp ? height - 1 - y : y);
        uint32_t* to = frame_.pixels.data() + size_t(y) * width;
        memcpy(to, from, row);
        for (uint32_t x = 0; x < width; ++x)
            to[x] &= 0xFFFFFF;
    }
    have_ = true;
}

// The first output pin of the system's source for `path` that reaches `sink` through the
// system's splitters and decoders.
HRESULT ConnectSystemSource(IGraphBuilder* graph, const wchar_t* path, IPin* sink) {
    Held<IBaseFilter> source;
    HRESULT hr = graph->AddSourceFilter(path, L"source", &source);
    if (FAILED(hr)) return hr;
    Held<IEnumPins> pins;
    if (FAILED(source->EnumPins(&pins))) return VFW_E_CANNOT_CONNECT;
    hr = VFW_E_CANNOT_CONNECT;
    IPin* pin = nullptr;
    for (int guard = 0; guard < 64 && pins->Next(1, &pin, nullptr) == S_OK; ++guard) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT && FAILED(hr))
            hr = graph->Connect(pin, sink);
        pin->Release();
    }
    return hr;
}

}  // namespace

HRESULT GrabFrame(const wchar_t* path, LONGLONG position, DWORD timeoutMs, GrabbedFrame* frame,
                  const PsVideoClip* video) {
    if (!path || !frame) return E_POINTER;
    Held<IGraphBuilder> graph;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(&graph));
    if (FAILED(hr)) return hr;
    Held<CGrabber> grabber;
    grabber.p = CGrabber::Create();
    if (!grabber.p) return E_OUTOFMEMORY;
    hr = graph->AddFilter(grabber.p, L"frame grabber");
    if (FAILED(hr)) return hr;
    if (video) {
        Held<IPin> decoded;
        hr = AddPsVideoDecoding(graph.p, path, *video, &decoded);
        if (FAILED(hr)) return hr;
        hr = graph->Connect(decoded.p, grabber->InputPin());
        if (FAILED(hr)) return hr;
    } else {
        hr = ConnectSystemSource(graph.p, path, grabber->InputPin());
    }
    if (FAILED(hr)) return hr;

    Held<IMediaFilter> timing;
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&timing))))
        timing->SetSyncSource(nullptr);  // as fast as the decoders go
    Held<IMediaControl> control;
    hr = graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    if (FAILED(hr)) return hr;
    grabber->SetTarget(position < 0 ? 0 : position);
    hr = control->Run();
    if (FAILED(hr)) {
        control->Stop();
        return hr;
    }
    const bool done = grabber->WaitDone(timeoutMs);
    control->Stop();
    if (!grabber->Take(frame)) return done ? VFW_E_CANNOT_RENDER : VFW_E_TIMEOUT;
    return S_OK;
}

HBITMAP FrameToBitmap(const GrabbedFrame& frame, uint32_t maxWidth, uint32_t maxHeight) {
    uint32_t width = frame.width, height = frame.height;
    if (!width || !height || frame.pixels.size() < size_t(width) * height) return nullptr;
    std::vector<uint32_t> reduced;
    const uint32_t* pixels = frame.pixels.data();
    uint32_t outWidth = width, outHeight = height;
    FitWithin(width, height, maxWidth, maxHeight, &outWidth, &outHeight);
    if (outWidth != width || outHeight != height) {
        reduced = ScaleDownArea(frame.pixels, width, height, outWidth, outHeight);
        if (reduced.empty()) return nullptr;
        pixels = reduced.data();
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = static_cast<LONG>(outWidth);
    info.bmiHeader.biHeight = -static_cast<LONG>(outHeight);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) memcpy(bits, pixels, size_t(outWidth) * outHeight * 4);
    return bitmap;
}

}  // namespace engines
