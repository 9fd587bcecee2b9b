#include "engines/clip_player/ps_h264_source.h"

#include <windows.h>
#include <dshow.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "filters/base/filter.h"
#include "filters/base/pins.h"
#include "filters/decoder/pelldrin_ids.h"
#include "filters/muxer/core/mux_input_parser.h"

namespace engines {
namespace {

// {7A3E51C2-6B0D-4F1E-8D2A-3C9B5E7F1A64}: the source's class, for its filter information only.
constexpr CLSID kPsH264SourceClsid = {0x7A3E51C2, 0x6B0D, 0x4F1E, {0x8D, 0x2A, 0x3C, 0x9B, 0x5E, 0x7F, 0x1A, 0x64}};

// A PES packet's payload is at most 65,535 bytes (ISO/IEC 13818-1 2.4.3.7).
constexpr long kSampleBytes = 65536;
constexpr size_t kReadBytes = 65536;

class CPsH264Source;

class CVideoPin final : public CBaseOutputPin {
public:
    CVideoPin(CPsH264Source* filter, CCritSec* lock);
    ~CVideoPin() override { StopStreaming(); }

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

private:
    // The multiplexer's input parser, keeping the first H.264 video stream it finds.
    class Reader final : public muxer::CMuxInputParser {
    public:
        explicit Reader(CVideoPin* pin) : pin_(pin) { SetH264VideoWanted(true); }

    protected:
        muxer::MuxStream* OnNewStream(muxer::StreamType type, const muxer::StreamMediaType&) override {
            if (type != muxer::StreamType::H264Video || found_) return nullptr;
            found_ = true;
            // The parser only hands this back: it names the one stream read.
            return reinterpret_cast<muxer::MuxStream*>(this);
        }
        bool DeliverPayload(muxer::MuxStream*, const uint8_t* data, int32_t size, std::optional<int64_t> pts,
                            std::optional<int64_t>) override {
            return pin_->DeliverPayload(data, size, pts);
        }

    private:
        CVideoPin* pin_;
        bool found_ = false;
    };

    void StopStreaming() {
        stop_ = true;
        if (worker_.joinable()) worker_.join();
    }
    // Streaming thread.
    void Stream();
    bool DeliverPayload(const uint8_t* data, int32_t size, std::optional<int64_t> pts);

    CPsH264Source* source_;
    std::atomic<bool> stop_{false};
    std::thread worker_;
    // Streaming thread only.
    std::optional<int64_t> origin_;
    bool first_ = true;
};

class CPsH264Source final : public CBaseFilter {
public:
    CPsH264Source(const wchar_t* path, uint32_t width, uint32_t height, float frameRate)
        : CBaseFilter(L"program stream H.264 source", nullptr, &lock_, kPsH264SourceClsid),
          path_(path),
          width_(width),
          height_(height),
          frame_(frameRate > 0 ? static_cast<REFERENCE_TIME>(1e7 / frameRate + 0.5) : 400000) {
        pin_ = new (std::nothrow) CVideoPin(this, &lock_);
    }
    ~CPsH264Source() override { delete pin_; }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_ : nullptr; }
    bool Made() const { return pin_ != nullptr; }

    const std::wstring& Path() const { return path_; }
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    REFERENCE_TIME FrameDuration() const { return frame_; }

private:
    CCritSec lock_;
    CVideoPin* pin_ = nullptr;
    const std::wstring path_;
    const uint32_t width_, height_;
    const REFERENCE_TIME frame_;
};

CVideoPin::CVideoPin(CPsH264Source* filter, CCritSec* lock)
    : CBaseOutputPin(L"H.264 out", filter, lock, nullptr, L"Video"), source_(filter) {}

HRESULT CVideoPin::GetMediaType(int position, CMediaType* type) {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    type->majortype = MEDIATYPE_Video;
    type->subtype = MEDIASUBTYPE_KestruneH264;
    type->bFixedSizeSamples = FALSE;
    type->bTemporalCompression = TRUE;
    type->lSampleSize = 0;
    type->formattype = FORMAT_VideoInfo;
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (!info) return E_OUTOFMEMORY;
    memset(info, 0, sizeof(VIDEOINFOHEADER));
    info->AvgTimePerFrame = source_->FrameDuration();
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = static_cast<LONG>(source_->Width());
    info->bmiHeader.biHeight = static_cast<LONG>(source_->Height());
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biCompression = MAKEFOURCC('H', '2', '6', '4');
    return S_OK;
}

HRESULT CVideoPin::CheckMediaType(const CMediaType* type) {
    return type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_KestruneH264 &&
                   type->formattype == FORMAT_VideoInfo
               ? S_OK
               : S_FALSE;
}

HRESULT CVideoPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    ALLOCATOR_PROPERTIES want = *request;
    want.cBuffers = std::max<long>(want.cBuffers, 8);
    want.cbBuffer = std::max<long>(want.cbBuffer, kSampleBytes);
    if (want.cbAlign < 1) want.cbAlign = 1;
    ALLOCATOR_PROPERTIES got{};
    const HRESULT hr = allocator->SetProperties(&want, &got);
    if (FAILED(hr)) return hr;
    return got.cbBuffer >= kSampleBytes ? S_OK : E_FAIL;
}

// Every activation streams the clip from its start.
HRESULT CVideoPin::Active() {
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    StopStreaming();
    stop_ = false;
    origin_.reset();
    first_ = true;
    try {
        worker_ = std::thread([this] { Stream(); });
    } catch (...) {
        CBaseOutputPin::Inactive();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CVideoPin::Inactive() {
    stop_ = true;
    // Decommitting wakes a delivery waiting for a buffer; the downstream filters are
    // stopped first, so a delivery blocked in them has returned.
    const HRESULT hr = CBaseOutputPin::Inactive();
    StopStreaming();
    return hr;
}

void CVideoPin::Stream() {
    std::FILE* file = _wfopen(source_->Path().c_str(), L"rb");
    if (!file) {
        source_->NotifyEvent(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), 0);
        return;
    }
    DeliverNewSegment(0, MAXLONGLONG, 1.0);
    auto reader = std::make_unique<Reader>(this);
    std::vector<uint8_t> block(kReadBytes);
    bool failed = false;
    while (!stop_) {
        const size_t n = std::fread(block.data(), 1, block.size(), file);
        if (n == 0) break;
        // What is left unparsed is at most one packet, so a block always fits behind it.
        if (!reader->Append(block.data(), static_cast<int32_t>(n))) {
            failed = true;
            break;
        }
        reader->Parse();
    }
    std::fclose(file);
    if (stop_) return;
    reader->Finish();
    if (failed) source_->NotifyEvent(EC_ERRORABORT, VFW_E_INVALID_FILE_FORMAT, 0);
    if (!stop_) DeliverEndOfStream();
}

bool CVideoPin::DeliverPayload(const uint8_t* data, int32_t size, std::optional<int64_t> pts) {
    if (stop_ || size <= 0 || size > kSampleBytes) return false;
    IMediaSample* sample = nullptr;
    if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) return false;
    BYTE* buffer = nullptr;
    HRESULT hr = sample->GetPointer(&buffer);
    if (SUCCEEDED(hr) && sample->GetSize() >= size) {
        memcpy(buffer, data, static_cast<size_t>(size));
        sample->SetActualDataLength(size);
        // A packet with a time stamp begins an access unit (ISO/IEC 13818-1 2.4.3.7): it is
        // where the decoder may take the time. Times count from the clip's first picture.
        if (pts) {
            if (!origin_) origin_ = *pts;
            REFERENCE_TIME start = *pts - *origin_, stop = start + source_->FrameDuration();
            sample->SetTime(&start, &stop);
            sample->SetSyncPoint(TRUE);
        }
        if (first_) sample->SetDiscontinuity(TRUE);
        first_ = false;
        hr = Deliver(sample);
    }
    sample->Release();
    if (hr != S_OK) stop_ = true;  // downstream refused: the stream ends here
    return hr == S_OK;
}

}  // namespace

HRESULT CreatePsH264Source(const wchar_t* path, const PsH264Clip& clip, IBaseFilter** filter) {
    if (!path || !filter) return E_POINTER;
    *filter = nullptr;
    auto* source = new (std::nothrow) CPsH264Source(path, clip.width, clip.height, clip.frameRate);
    if (!source || !source->Made()) {
        delete source;
        return E_OUTOFMEMORY;
    }
    source->AddRef();
    *filter = source;
    return S_OK;
}

HRESULT AddPsH264Decoding(IGraphBuilder* graph, const wchar_t* path, const PsH264Clip& clip, IPin** decoded) {
    if (!graph || !decoded) return E_POINTER;
    *decoded = nullptr;
    IBaseFilter* source = nullptr;
    IBaseFilter* decoder = nullptr;
    IPin* out = nullptr;
    IPin* in = nullptr;
    HRESULT hr = CreatePsH264Source(path, clip, &source);
    if (SUCCEEDED(hr)) hr = graph->AddFilter(source, L"program stream source");
    if (SUCCEEDED(hr)) {
        out = static_cast<CPsH264Source*>(source)->GetPin(0);
        out->AddRef();
    }
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_KestruneAvcDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&decoder));
    if (SUCCEEDED(hr)) hr = graph->AddFilter(decoder, L"H.264 decoder");
    if (SUCCEEDED(hr)) hr = decoder->FindPin(L"In", &in);
    if (SUCCEEDED(hr)) hr = graph->ConnectDirect(out, in, nullptr);
    if (out) out->Release();
    out = nullptr;
    if (SUCCEEDED(hr)) hr = decoder->FindPin(L"Out", &out);
    if (SUCCEEDED(hr)) *decoded = out;
    if (in) in->Release();
    if (decoder) decoder->Release();
    if (source) source->Release();
    return hr;
}

}  // namespace engines
