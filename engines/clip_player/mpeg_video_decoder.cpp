#include "engines/clip_player/mpeg_video_decoder.h"

#include <windows.h>
#include <dshow.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "engines/clip_player/ps_video_source.h"
#include "filters/base/transform.h"

namespace engines {
namespace {

// {3E8B6D51-92C4-4A7F-B0E3-5D1C7A2F9E48}: the decoder's class, for its filter information only.
constexpr CLSID kMpegVideoDecoderClsid = {0x3E8B6D51, 0x92C4, 0x4A7F, {0xB0, 0xE3, 0x5D, 0x1C, 0x7A, 0x2F, 0x9E, 0x48}};

// A picture's length when the source does not say (25 frames a second), 100-ns units.
constexpr REFERENCE_TIME kDefaultFrame = 400000;

class CMpegVideoDecoder;

// Seeking passes through to the pin that feeds the decoder.
class CDecodedPin final : public CTransformOutputPin {
public:
    CDecodedPin(CTransformFilter* filter, HRESULT* hr) : CTransformOutputPin(L"MPEG video out", filter, hr, L"Out") {}
    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IMediaSeeking) {
            IPin* upstream = transform_->InputPin() ? transform_->InputPin()->GetConnected() : nullptr;
            *out = nullptr;
            return upstream ? upstream->QueryInterface(iid, out) : E_NOINTERFACE;
        }
        return CTransformOutputPin::NonDelegatingQueryInterface(iid, out);
    }
};

class CMpegVideoDecoder final : public CTransformFilter {
public:
    CMpegVideoDecoder() : CTransformFilter(L"MPEG video decoder", nullptr, kMpegVideoDecoderClsid) {}
    ~CMpegVideoDecoder() override { Free(); }

    HRESULT CheckInputType(const CMediaType* input) override {
        if (input->majortype != MEDIATYPE_Video || input->subtype != MEDIASUBTYPE_ProgramStreamMpegVideo ||
            input->formattype != FORMAT_VideoInfo || input->FormatLength() < sizeof(VIDEOINFOHEADER))
            return VFW_E_TYPE_NOT_ACCEPTED;
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(input->Format());
        const LONG w = info->bmiHeader.biWidth, h = info->bmiHeader.biHeight;
        // ISO/IEC 13818-2 sizes are 14 bits each.
        return w > 0 && h > 0 && w < 16384 && h < 16384 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) override {
        if (CheckInputType(input) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        CMediaType ours;
        if (FAILED(GetMediaType(0, &ours))) return VFW_E_TYPE_NOT_ACCEPTED;
        if (output->majortype != MEDIATYPE_Video || output->subtype != MEDIASUBTYPE_RGB32 ||
            output->formattype != FORMAT_VideoInfo || output->FormatLength() < sizeof(VIDEOINFOHEADER))
            return VFW_E_TYPE_NOT_ACCEPTED;
        const auto& want = reinterpret_cast<const VIDEOINFOHEADER*>(ours.Format())->bmiHeader;
        const auto& got = reinterpret_cast<const VIDEOINFOHEADER*>(output->Format())->bmiHeader;
        return got.biWidth == want.biWidth && got.biHeight == want.biHeight && got.biBitCount == 32
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }
    // 32-bit RGB, bottom-up, at the picture size the source announced.
    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        if (!input_ || !input_->IsConnected()) return E_UNEXPECTED;
        const auto* in = reinterpret_cast<const VIDEOINFOHEADER*>(input_->CurrentMediaType().Format());
        type->majortype = MEDIATYPE_Video;
        type->subtype = MEDIASUBTYPE_RGB32;
        type->formattype = FORMAT_VideoInfo;
        auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        if (!info) return E_OUTOFMEMORY;
        info->AvgTimePerFrame = in->AvgTimePerFrame;
        info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info->bmiHeader.biWidth = in->bmiHeader.biWidth;
        info->bmiHeader.biHeight = in->bmiHeader.biHeight;
        info->bmiHeader.biPlanes = 1;
        info->bmiHeader.biBitCount = 32;
        info->bmiHeader.biCompression = BI_RGB;
        info->bmiHeader.biSizeImage = static_cast<DWORD>(in->bmiHeader.biWidth) * in->bmiHeader.biHeight * 4;
        type->SetSampleSize(info->bmiHeader.biSizeImage);
        type->SetTemporalCompression(false);
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        const auto* out = reinterpret_cast<const VIDEOINFOHEADER*>(output_->CurrentMediaType().Format());
        ALLOCATOR_PROPERTIES want = *request;
        want.cBuffers = std::max<long>(want.cBuffers, 2);
        want.cbBuffer = std::max<long>(want.cbBuffer, static_cast<long>(out->bmiHeader.biSizeImage));
        if (want.cbAlign < 1) want.cbAlign = 1;
        ALLOCATOR_PROPERTIES got{};
        const HRESULT hr = allocator->SetProperties(&want, &got);
        if (FAILED(hr)) return hr;
        return got.cbBuffer >= want.cbBuffer ? S_OK : E_FAIL;
    }

    HRESULT StartStreaming() override { return Open() ? S_OK : E_OUTOFMEMORY; }
    HRESULT StopStreaming() override {
        Free();
        return S_OK;
    }

    HRESULT Receive(IMediaSample* sample) override {
        if (input_->SampleProps().dwStreamId != AM_STREAM_MEDIA) return S_OK;
        if (!context_ && !Open()) return E_OUTOFMEMORY;
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data))) return S_OK;
        const long size = sample->GetActualDataLength();
        REFERENCE_TIME start = 0, stop = 0;
        const HRESULT timed = sample->GetTime(&start, &stop);
        const int64_t stamp = timed == S_OK || timed == VFW_S_NO_STOP_TIME ? start : AV_NOPTS_VALUE;
        return Parse(data, size, stamp);
    }
    HRESULT EndOfStream() override {
        if (context_) {
            Parse(nullptr, 0, AV_NOPTS_VALUE);
            if (avcodec_send_packet(context_, nullptr) == 0) DeliverDecoded();
            avcodec_flush_buffers(context_);
        }
        return CTransformFilter::EndOfStream();
    }
    // Under the receive lock: nothing is decoding.
    HRESULT EndFlush() override {
        Free();
        first_ = true;
        return CTransformFilter::EndFlush();
    }
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
        last_ = AV_NOPTS_VALUE;
        return CTransformFilter::NewSegment(start, stop, rate);
    }

protected:
    CTransformOutputPin* NewOutputPin(HRESULT* hr) override { return new (std::nothrow) CDecodedPin(this, hr); }

private:
    bool Open() {
        Free();
        const auto* in = reinterpret_cast<const VIDEOINFOHEADER*>(input_->CurrentMediaType().Format());
        frame_ = in->AvgTimePerFrame > 0 ? in->AvgTimePerFrame : kDefaultFrame;
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG2VIDEO);
        if (!codec) return false;
        parser_ = av_parser_init(codec->id);
        context_ = avcodec_alloc_context3(codec);
        picture_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!parser_ || !context_ || !picture_ || !packet_) {
            Free();
            return false;
        }
        context_->pkt_timebase = AVRational{1, 10000000};
        if (avcodec_open2(context_, codec, nullptr) < 0) {
            Free();
            return false;
        }
        last_ = AV_NOPTS_VALUE;
        return true;
    }
    void Free() {
        if (parser_) av_parser_close(parser_);
        parser_ = nullptr;
        avcodec_free_context(&context_);
        av_frame_free(&picture_);
        av_packet_free(&packet_);
        sws_freeContext(scaler_);
        scaler_ = nullptr;
    }

    // The parser gathers whole pictures across payloads and gives each the stamp of the
    // payload its picture start code came in (ISO/IEC 13818-1 2.4.3.7).
    HRESULT Parse(const uint8_t* data, long size, int64_t stamp) {
        HRESULT result = S_OK;
        do {
            uint8_t* unit = nullptr;
            int unitSize = 0;
            const int used =
                av_parser_parse2(parser_, context_, &unit, &unitSize, data, static_cast<int>(size), stamp, stamp, 0);
            if (used < 0) break;
            data += used;
            size -= used;
            stamp = AV_NOPTS_VALUE;
            if (unitSize > 0) {
                packet_->data = unit;
                packet_->size = unitSize;
                packet_->pts = parser_->pts;
                packet_->dts = parser_->dts;
                // A damaged picture is the decoder's to conceal or drop; the stream goes on.
                if (avcodec_send_packet(context_, packet_) == 0) result = DeliverDecoded();
                av_packet_unref(packet_);
                if (result != S_OK) return result;
            }
        } while (size > 0);
        return result;
    }

    HRESULT DeliverDecoded() {
        while (avcodec_receive_frame(context_, picture_) == 0) {
            const int64_t stamp = picture_->best_effort_timestamp;
            REFERENCE_TIME start = stamp != AV_NOPTS_VALUE ? stamp : last_ != AV_NOPTS_VALUE ? last_ + frame_ : 0;
            last_ = start;
            const REFERENCE_TIME stop = start + frame_;
            HRESULT hr = S_OK;
            // Pictures before the segment's start only lead up to it.
            if (stop > frame_ / 2) hr = DeliverPicture(start, stop);
            av_frame_unref(picture_);
            if (hr != S_OK) return hr;
        }
        return S_OK;
    }

    HRESULT DeliverPicture(REFERENCE_TIME start, REFERENCE_TIME stop) {
        const auto& header = reinterpret_cast<const VIDEOINFOHEADER*>(output_->CurrentMediaType().Format())->bmiHeader;
        const int w = header.biWidth, h = std::abs(header.biHeight);
        // A picture of another size than the connection's is not shown half-drawn.
        if (picture_->width != w || picture_->height != h) return S_OK;
        scaler_ = sws_getCachedContext(scaler_, w, h, static_cast<AVPixelFormat>(picture_->format), w, h,
                                       AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!scaler_) return E_OUTOFMEMORY;
        IMediaSample* sample = nullptr;
        HRESULT hr = output_->GetDeliveryBuffer(&sample, &start, const_cast<REFERENCE_TIME*>(&stop), 0);
        if (FAILED(hr)) return hr;
        BYTE* buffer = nullptr;
        const int stride = w * 4;
        if (SUCCEEDED(sample->GetPointer(&buffer)) && sample->GetSize() >= stride * h) {
            // A positive height is a bottom-up bitmap: the first picture row goes last.
            uint8_t* rows[4] = {header.biHeight > 0 ? buffer + size_t(stride) * (h - 1) : buffer};
            int strides[4] = {header.biHeight > 0 ? -stride : stride};
            sws_scale(scaler_, picture_->data, picture_->linesize, 0, h, rows, strides);
            sample->SetActualDataLength(stride * h);
            REFERENCE_TIME end = stop;
            sample->SetTime(&start, &end);
            sample->SetSyncPoint(TRUE);
            sample->SetDiscontinuity(first_);
            first_ = false;
            hr = output_->Deliver(sample);
        }
        sample->Release();
        return hr;
    }

    AVCodecParserContext* parser_ = nullptr;
    AVCodecContext* context_ = nullptr;
    AVFrame* picture_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
    REFERENCE_TIME frame_ = kDefaultFrame;
    int64_t last_ = AV_NOPTS_VALUE;  // the last picture's start
    bool first_ = true;
};

}  // namespace

HRESULT CreateMpegVideoDecoder(IBaseFilter** filter) {
    if (!filter) return E_POINTER;
    auto* decoder = new (std::nothrow) CMpegVideoDecoder();
    if (!decoder) return E_OUTOFMEMORY;
    decoder->AddRef();
    *filter = decoder;
    return S_OK;
}

}  // namespace engines
