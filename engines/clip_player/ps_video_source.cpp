#include "engines/clip_player/ps_video_source.h"

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

#include "common/bitstream/mpeg2_video_header.h"
#include "common/bitstream/start_code.h"
#include "engines/clip_player/mpeg_video_decoder.h"
#include "engines/player/h264_units.h"
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

class CPsVideoSource;

// Whether a payload holds a start code (00 00 01) whose next byte `code` accepts.
template <typename Code>
bool HoldsStartCode(const uint8_t* data, int32_t size, Code code) {
    if (!data || size < 4) return false;
    const uint8_t* const end = data + size;
    for (const uint8_t* at = common::FindStartCode(data, end); at != end; at = common::FindStartCode(at + 3, end))
        if (end - at >= 4 && code(at[3])) return true;
    return false;
}
// An IDR slice of H.264 (ITU-T H.264 clause 7.4.1.2: NAL unit type 5).
bool HoldsIdr(const uint8_t* data, int32_t size) {
    return HoldsStartCode(data, size, [](uint8_t c) { return (c & 0x1F) == 5; });
}
// An MPEG video sequence header (ISO/IEC 13818-2 6.2.2.1, start code 0xB3), where decoding
// can begin.
bool HoldsSequenceHeader(const uint8_t* data, int32_t size) {
    return HoldsStartCode(data, size, [](uint8_t c) { return c == common::kMpegSequenceHeaderCode; });
}

class CVideoPin final : public CBaseOutputPin, public IMediaSeeking {
public:
    CVideoPin(CPsVideoSource* filter, CCritSec* lock);
    ~CVideoPin() override { StopStreaming(); }

    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), out);
        return CBaseOutputPin::NonDelegatingQueryInterface(iid, out);
    }

    // IMediaSeeking, in media time only. A new current position restarts the stream at the
    // last IDR picture at or before it; the pictures before the position carry negative times.
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* caps) override {
        if (!caps) return E_POINTER;
        *caps = kCaps;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* caps) override {
        if (!caps) return E_POINTER;
        const DWORD asked = *caps;
        *caps &= kCaps;
        return *caps == asked ? S_OK : (*caps ? S_FALSE : E_FAIL);
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override {
        if (!format) return E_POINTER;
        return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override { return GetTimeFormat(format); }
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override {
        if (!format) return E_POINTER;
        *format = TIME_FORMAT_MEDIA_TIME;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override {
        if (!format) return E_POINTER;
        return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override {
        if (!format) return E_POINTER;
        return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override {
        if (!stop) return E_POINTER;
        std::lock_guard<std::mutex> hold(seekLock_);
        *stop = stopAt_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override {
        if (!current) return E_POINTER;
        std::lock_guard<std::mutex> hold(seekLock_);
        *current = startAt_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                                const GUID* sourceFormat) override {
        if (!target) return E_POINTER;
        const auto media = [](const GUID* f) { return !f || *f == TIME_FORMAT_MEDIA_TIME; };
        if (!media(targetFormat) || !media(sourceFormat)) return E_INVALIDARG;
        *target = source;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                           DWORD stopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override {
        std::lock_guard<std::mutex> hold(seekLock_);
        if (current) *current = startAt_;
        if (stop) *stop = stopAt_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override {
        if (earliest) *earliest = 0;
        return latest ? GetDuration(latest) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override { return rate == 1.0 ? S_OK : E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRate(double* rate) override {
        if (!rate) return E_POINTER;
        *rate = 1.0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override {
        if (!preroll) return E_POINTER;
        *preroll = 0;
        return S_OK;
    }

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

private:
    // The multiplexer's input parser, keeping the first video stream of the clip's kind it
    // finds.
    class Reader final : public muxer::CMuxInputParser {
    public:
        Reader(CVideoPin* pin, bool mpegVideo) : pin_(pin), mpegVideo_(mpegVideo) { SetH264VideoWanted(!mpegVideo); }

    protected:
        muxer::MuxStream* OnNewStream(muxer::StreamType type, const muxer::StreamMediaType&) override {
            const bool wanted = mpegVideo_
                                    ? type == muxer::StreamType::Mpeg2Video || type == muxer::StreamType::Mpeg1Video
                                    : type == muxer::StreamType::H264Video;
            if (!wanted || found_) return nullptr;
            found_ = true;
            // The parser only hands this back: it names the one stream read.
            return reinterpret_cast<muxer::MuxStream*>(this);
        }
        bool DeliverPayload(muxer::MuxStream*, const uint8_t* data, int32_t size, std::optional<int64_t> pts,
                            std::optional<int64_t> dts) override {
            return pin_->DeliverPayload(data, size, pts, dts);
        }

    private:
        CVideoPin* pin_;
        const bool mpegVideo_;
        bool found_ = false;
    };

    void StopStreaming() {
        stop_ = true;
        if (worker_.joinable()) worker_.join();
    }
    static constexpr DWORD kCaps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                                   AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                                   AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
    HRESULT StartStreaming();
    // Streaming thread. One pass over the file; false when it could not be read.
    void Stream();
    bool ReadFile(bool* damaged);
    bool DeliverPayload(const uint8_t* data, int32_t size, std::optional<int64_t> pts, std::optional<int64_t> dts);
    bool DeliverMpegPayload(const uint8_t* data, int32_t size, std::optional<int64_t> pts, std::optional<int64_t> dts);
    bool DeliverPiece(const uint8_t* data, int32_t size, std::optional<int64_t> time);

    CPsVideoSource* source_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> active_{false};
    std::thread worker_;
    std::mutex seekLock_;
    LONGLONG startAt_ = 0;           // media time the stream starts at
    LONGLONG stopAt_ = MAXLONGLONG;  // media time it ends at
    // Streaming thread only.
    std::optional<int64_t> origin_;
    bool first_ = true;
    bool scanning_ = false;  // the pass that finds where to start
    bool passDone_ = false;  // the current pass needs no more of the file
    LONGLONG start_ = 0, stopTime_ = MAXLONGLONG;
    uint64_t ordinal_ = 0;  // pieces of payloads seen in this pass
    uint64_t from_ = 0;     // the first piece delivered
    H264UnitFinder units_;  // where units begin, over this pass
    int64_t unit_ = 0;      // units begun in this pass
    std::vector<int32_t> cuts_;
};

class CPsVideoSource final : public CBaseFilter {
public:
    CPsVideoSource(const wchar_t* path, bool mpegVideo, uint32_t width, uint32_t height, float frameRate,
                   LONGLONG duration)
        : CBaseFilter(L"program stream video source", nullptr, &lock_, kPsH264SourceClsid),
          path_(path),
          mpegVideo_(mpegVideo),
          width_(width),
          height_(height),
          frame_(frameRate > 0 ? static_cast<REFERENCE_TIME>(1e7 / frameRate + 0.5) : 400000),
          duration_(duration) {
        pin_ = new (std::nothrow) CVideoPin(this, &lock_);
    }
    ~CPsVideoSource() override { delete pin_; }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_ : nullptr; }
    bool Made() const { return pin_ != nullptr; }

    const std::wstring& Path() const { return path_; }
    bool MpegVideo() const { return mpegVideo_; }
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    REFERENCE_TIME FrameDuration() const { return frame_; }
    LONGLONG Duration() const { return duration_; }

private:
    CCritSec lock_;
    CVideoPin* pin_ = nullptr;
    const std::wstring path_;
    const bool mpegVideo_;
    const uint32_t width_, height_;
    const REFERENCE_TIME frame_;
    const LONGLONG duration_;  // from the probe; 0 when unknown
};

CVideoPin::CVideoPin(CPsVideoSource* filter, CCritSec* lock)
    : CBaseOutputPin(L"video out", filter, lock, nullptr, L"Video"), source_(filter) {}

HRESULT CVideoPin::GetMediaType(int position, CMediaType* type) {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    type->majortype = MEDIATYPE_Video;
    type->subtype = source_->MpegVideo() ? MEDIASUBTYPE_ProgramStreamMpegVideo : MEDIASUBTYPE_KestruneH264;
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
    info->bmiHeader.biCompression =
        source_->MpegVideo() ? MAKEFOURCC('M', 'P', 'G', '2') : MAKEFOURCC('H', '2', '6', '4');
    return S_OK;
}

HRESULT CVideoPin::CheckMediaType(const CMediaType* type) {
    const GUID& subtype = source_->MpegVideo() ? MEDIASUBTYPE_ProgramStreamMpegVideo : MEDIASUBTYPE_KestruneH264;
    return type->majortype == MEDIATYPE_Video && type->subtype == subtype && type->formattype == FORMAT_VideoInfo
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

// Every activation streams the clip from the current position.
HRESULT CVideoPin::Active() {
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    hr = StartStreaming();
    if (FAILED(hr)) CBaseOutputPin::Inactive();
    active_ = SUCCEEDED(hr);
    return hr;
}

HRESULT CVideoPin::StartStreaming() {
    StopStreaming();
    stop_ = false;
    try {
        worker_ = std::thread([this] { Stream(); });
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CVideoPin::Inactive() {
    active_ = false;
    stop_ = true;
    // Decommitting wakes a delivery waiting for a buffer; the downstream filters are
    // stopped first, so a delivery blocked in them has returned.
    const HRESULT hr = CBaseOutputPin::Inactive();
    StopStreaming();
    return hr;
}

HRESULT STDMETHODCALLTYPE CVideoPin::GetDuration(LONGLONG* duration) {
    if (!duration) return E_POINTER;
    if (source_->Duration() <= 0) return E_NOTIMPL;
    *duration = source_->Duration();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CVideoPin::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                                  DWORD stopFlags) {
    const DWORD currentHow = currentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopHow = stopFlags & AM_SEEKING_PositioningBitsMask;
    if ((currentHow && !current) || (stopHow && !stop)) return E_POINTER;
    bool moved = false;
    {
        std::lock_guard<std::mutex> hold(seekLock_);
        LONGLONG start = startAt_, end = stopAt_;
        if (currentHow == AM_SEEKING_AbsolutePositioning) start = *current;
        if (currentHow == AM_SEEKING_RelativePositioning) start += *current;
        if (stopHow == AM_SEEKING_AbsolutePositioning) end = *stop;
        if (stopHow == AM_SEEKING_RelativePositioning) end += *stop;
        if (start < 0 || end < start) return E_INVALIDARG;
        moved = currentHow != AM_SEEKING_NoPositioning;
        startAt_ = start;
        stopAt_ = end;
        if (currentFlags & AM_SEEKING_ReturnTime) *current = start;
        if (stopFlags & AM_SEEKING_ReturnTime) *stop = end;
    }
    // A stream running from elsewhere is flushed out of the decoder and renderer, then
    // restarted at the new position.
    if (moved && active_) {
        stop_ = true;
        DeliverBeginFlush();
        StopStreaming();
        DeliverEndFlush();
        return StartStreaming();
    }
    return S_OK;
}

bool CVideoPin::ReadFile(bool* damaged) {
    std::FILE* file = _wfopen(source_->Path().c_str(), L"rb");
    if (!file) return false;
    auto reader = std::make_unique<Reader>(this, source_->MpegVideo());
    std::vector<uint8_t> block(kReadBytes);
    ordinal_ = 0;
    units_ = H264UnitFinder();
    unit_ = 0;
    passDone_ = false;
    while (!stop_ && !passDone_) {
        const size_t n = std::fread(block.data(), 1, block.size(), file);
        if (n == 0) break;
        // What is left unparsed is at most one packet, so a block always fits behind it.
        if (!reader->Append(block.data(), static_cast<int32_t>(n))) {
            *damaged = true;
            break;
        }
        reader->Parse();
    }
    std::fclose(file);
    if (!stop_ && !passDone_) reader->Finish();
    return true;
}

void CVideoPin::Stream() {
    {
        std::lock_guard<std::mutex> hold(seekLock_);
        start_ = startAt_;
        stopTime_ = stopAt_;
    }
    origin_.reset();
    first_ = true;
    from_ = 0;
    bool damaged = false;
    // A start inside the clip: a first pass finds the last IDR picture at or before it.
    scanning_ = start_ > 0;
    if (scanning_ && !ReadFile(&damaged)) {
        source_->NotifyEvent(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), 0);
        return;
    }
    scanning_ = false;
    if (stop_) return;
    DeliverNewSegment(start_, stopTime_, 1.0);
    if (!damaged && !ReadFile(&damaged)) {
        source_->NotifyEvent(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), 0);
        return;
    }
    if (stop_) return;
    if (damaged) source_->NotifyEvent(EC_ERRORABORT, VFW_E_INVALID_FILE_FORMAT, 0);
    DeliverEndOfStream();
}

// A payload is cut where access units begin, so that a time stamp reaches the unit it
// belongs to: the packet's stamp times the first unit that begins in it (ISO/IEC 13818-1
// 2.4.3.7), and the bytes before that unit end the unit before.
bool CVideoPin::DeliverPayload(const uint8_t* data, int32_t size, std::optional<int64_t> pts,
                               std::optional<int64_t> dts) {
    if (stop_ || passDone_ || size <= 0 || size > kSampleBytes) return false;
    if (pts && !origin_) origin_ = *pts;
    if (source_->MpegVideo()) return DeliverMpegPayload(data, size, pts, dts);
    cuts_.clear();
    units_.Feed(data, size, [this](int64_t at) { cuts_.push_back(static_cast<int32_t>(std::max<int64_t>(at, 0))); });
    bool stampTaken = false;
    int32_t begin = 0;
    for (size_t cut = 0; cut <= cuts_.size() && !passDone_; ++cut) {
        const int32_t end = cut < cuts_.size() ? cuts_[cut] : size;
        const bool beginsUnit = cut > 0;
        const uint8_t* piece = data + begin;
        const int32_t length = end - begin;
        begin = end;
        if (length <= 0) {
            if (beginsUnit) ++unit_;  // an empty piece cannot begin a unit but keeps the count
            continue;
        }
        const int64_t unit = beginsUnit ? unit_++ : -1;
        // The piece's presentation time from the clip's first picture, where it is known:
        // the packet's stamp on its first unit; in a stream without stamps an IDR unit's
        // count of units before it (no picture after an IDR picture in decoding order is
        // shown before it, clause 8.2.1), at the stream's frame rate.
        std::optional<int64_t> time;
        std::optional<int64_t> decodeTime;
        if (beginsUnit && pts && !stampTaken) {
            time = *pts - *origin_;
            decodeTime = dts.value_or(*pts) - *origin_;
            stampTaken = true;
        } else if (beginsUnit && !origin_) {
            // Pictures of a stream without stamps leave the decoder at most this many
            // pictures after they enter it.
            constexpr int64_t kReorderDelay = 2;
            decodeTime = (unit - kReorderDelay) * source_->FrameDuration();
            if (HoldsIdr(piece, length)) time = unit * source_->FrameDuration();
        }
        const uint64_t ordinal = ordinal_++;
        if (scanning_) {
            if (time && *time > start_) {
                passDone_ = true;
            } else if (time && HoldsIdr(piece, length)) {
                from_ = ordinal;
            }
            continue;
        }
        if (ordinal < from_) continue;
        // Past the stop position (by decoding time, so that the pictures before it in
        // presentation order are all delivered) the stream ends.
        if (decodeTime && *decodeTime > stopTime_) {
            passDone_ = true;
            return false;
        }
        if (!DeliverPiece(piece, length, time)) return false;
    }
    return true;
}

// MPEG video goes to the decoder payload by payload: its parser gathers the pictures and
// gives each the stamp of the packet its picture began in. Decoding can begin at a sequence
// header.
bool CVideoPin::DeliverMpegPayload(const uint8_t* data, int32_t size, std::optional<int64_t> pts,
                                   std::optional<int64_t> dts) {
    std::optional<int64_t> time;
    if (pts) time = *pts - *origin_;
    const uint64_t ordinal = ordinal_++;
    if (scanning_) {
        if (time && *time > start_)
            passDone_ = true;
        else if (HoldsSequenceHeader(data, size))
            from_ = ordinal;
        return true;
    }
    if (ordinal < from_) return true;
    if (pts && dts.value_or(*pts) - *origin_ > stopTime_) {
        passDone_ = true;
        return false;
    }
    return DeliverPiece(data, size, time);
}

bool CVideoPin::DeliverPiece(const uint8_t* data, int32_t size, std::optional<int64_t> time) {
    IMediaSample* sample = nullptr;
    if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) return false;
    BYTE* buffer = nullptr;
    HRESULT hr = sample->GetPointer(&buffer);
    if (SUCCEEDED(hr) && sample->GetSize() >= size) {
        memcpy(buffer, data, static_cast<size_t>(size));
        sample->SetActualDataLength(size);
        // A timed sample begins an access unit: the decoder takes its time there. Times
        // count from the clip's first picture, less the start position.
        if (time) {
            REFERENCE_TIME start = *time - start_, stop = start + source_->FrameDuration();
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

HRESULT CreatePsVideoSource(const wchar_t* path, const PsVideoClip& clip, IBaseFilter** filter) {
    if (!path || !filter) return E_POINTER;
    *filter = nullptr;
    auto* source =
        new (std::nothrow) CPsVideoSource(path, clip.mpegVideo, clip.width, clip.height, clip.frameRate, clip.duration);
    if (!source || !source->Made()) {
        delete source;
        return E_OUTOFMEMORY;
    }
    source->AddRef();
    *filter = source;
    return S_OK;
}

HRESULT AddPsVideoDecoding(IGraphBuilder* graph, const wchar_t* path, const PsVideoClip& clip, IPin** decoded) {
    if (!graph || !decoded) return E_POINTER;
    *decoded = nullptr;
    IBaseFilter* source = nullptr;
    IBaseFilter* decoder = nullptr;
    IPin* out = nullptr;
    IPin* in = nullptr;
    HRESULT hr = CreatePsVideoSource(path, clip, &source);
    if (SUCCEEDED(hr)) hr = graph->AddFilter(source, L"program stream source");
    if (SUCCEEDED(hr)) {
        out = static_cast<CPsVideoSource*>(source)->GetPin(0);
        out->AddRef();
    }
    if (SUCCEEDED(hr))
        hr = clip.mpegVideo ? CreateMpegVideoDecoder(&decoder)
                            : CoCreateInstance(CLSID_KestruneAvcDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                               reinterpret_cast<void**>(&decoder));
    if (SUCCEEDED(hr)) hr = graph->AddFilter(decoder, clip.mpegVideo ? L"MPEG video decoder" : L"H.264 decoder");
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
