// The multiplexer's input pins (one per stream, each with its own parameters) and its
// output pin, which cuts the multiplexed bytes into samples of one size.
#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>

#include <algorithm>
#include <cstring>

#include "filters/base/media_type.h"
#include "filters/muxer/mux_filter.h"
#include "filters/muxer/core/video_parser.h"
#include "filters/muxer/mux_filter_rules.h"
#include "filters/muxer/varrow_ids.h"

namespace {

// WAVE_FORMAT_n subtypes: the tag in the first 32 bits of the standard base.
constexpr GUID WaveSubtype(uint32_t tag) {
    return {tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr GUID kSubtypeDivx = {0x58564944, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kSubtypeDiv3 = {0x33564944, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

bool IsVideoFormat(const GUID& f) {
    return f == FORMAT_VideoInfo || f == FORMAT_VideoInfo2 || f == FORMAT_MPEGVideo || f == FORMAT_MPEG2Video;
}

// "Stream Type" of a media type (0 when none applies).
int32_t MediaTypeToStreamType(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype == MEDIATYPE_Stream) return mt.subtype == MEDIASUBTYPE_MPEG2_PROGRAM ? 9 : 0;
    if (mt.majortype == MEDIATYPE_Video) {
        if (mt.subtype == MEDIASUBTYPE_KestruneH264) return 10;
        if (mt.subtype == MEDIASUBTYPE_MPEG1Payload) return 8;
        if (mt.subtype == MEDIASUBTYPE_MPEG2_VIDEO) return 1;
        if ((mt.subtype == kSubtypeDiv3 || mt.subtype == kSubtypeDivx) && mt.formattype == FORMAT_VideoInfo) {
            const BITMAPINFOHEADER* bmi = GetBitmapHeader(mt);
            if (!bmi) return 0;
            char code[5] = {};
            std::memcpy(code, &bmi->biCompression, 4);
            if (std::strcmp(code, "DIV3") == 0) return 4;
            if (std::strcmp(code, "DIVX") == 0) return 5;
            if (std::strcmp(code, "DIV5") == 0) return 6;
        }
        return 0;
    }
    if (mt.majortype == MEDIATYPE_Audio) {
        if (mt.subtype == WaveSubtype(0x55)) return 2;
        if (mt.subtype == WaveSubtype(0x50)) return 7;
        if (mt.subtype == MEDIASUBTYPE_DOLBY_AC3 || mt.subtype == WaveSubtype(0x2000)) return 3;
        if (mt.subtype == WaveSubtype(0xFF)) return 11;
    }
    return 0;
}

// The fields of a media type that the core's parsers read.
muxer::StreamMediaType ToCoreType(const AM_MEDIA_TYPE& mt) {
    muxer::StreamMediaType t;
    if (mt.majortype == MEDIATYPE_Video) t.major = muxer::MajorType::Video;
    if (mt.majortype == MEDIATYPE_Audio) t.major = muxer::MajorType::Audio;
    if (mt.subtype == MEDIASUBTYPE_MPEG2_VIDEO) t.subtype = muxer::Subtype::Mpeg2Video;
    if (mt.subtype == MEDIASUBTYPE_MPEG1Payload) t.subtype = muxer::Subtype::Mpeg1Video;
    if (mt.subtype == MEDIASUBTYPE_KestruneH264) t.subtype = muxer::Subtype::H264;
    if (mt.subtype == WaveSubtype(0x50) || mt.subtype == WaveSubtype(0x55)) t.subtype = muxer::Subtype::MpegAudio;
    if (mt.formattype == FORMAT_WaveFormatEx && mt.pbFormat && mt.cbFormat >= sizeof(WAVEFORMAT)) {
        t.format = muxer::FormatType::WaveFormatEx;
        WAVEFORMATEX wf{};
        std::memcpy(&wf, mt.pbFormat, std::min<size_t>(mt.cbFormat, sizeof wf));
        t.wave.wFormatTag = wf.wFormatTag;
        t.wave.nChannels = wf.nChannels;
        t.wave.nSamplesPerSec = wf.nSamplesPerSec;
        t.wave.nAvgBytesPerSec = wf.nAvgBytesPerSec;
        t.wave.nBlockAlign = wf.nBlockAlign;
        t.wave.wBitsPerSample = wf.wBitsPerSample;
    } else if (IsVideoFormat(mt.formattype) && mt.pbFormat && mt.cbFormat >= 36) {
        t.format = mt.formattype == FORMAT_VideoInfo    ? muxer::FormatType::VideoInfo
                   : mt.formattype == FORMAT_VideoInfo2 ? muxer::FormatType::VideoInfo2
                   : mt.formattype == FORMAT_MPEGVideo  ? muxer::FormatType::MpegVideo
                                                        : muxer::FormatType::Mpeg2Video;
        DWORD bitRate = 0;
        std::memcpy(&bitRate, mt.pbFormat + 32, sizeof bitRate);  // after rcSource and rcTarget
        t.video.dwBitRate = bitRate;
        t.video.AvgTimePerFrame = GetAvgTimePerFrame(mt);
        if (const BITMAPINFOHEADER* bmi = GetBitmapHeader(mt)) {
            t.video.biSize = bmi->biSize;
            t.video.biWidth = bmi->biWidth;
            t.video.biHeight = bmi->biHeight;
        }
    }
    return t;
}

// Bits per second a media type announces; 0 when it names none.
int64_t AnnouncedBitrate(const AM_MEDIA_TYPE& mt) {
    const muxer::StreamMediaType t = ToCoreType(mt);
    if (t.format == muxer::FormatType::WaveFormatEx) return int64_t{t.wave.nAvgBytesPerSec} * 8;
    if (t.format != muxer::FormatType::None) return t.video.dwBitRate;
    return 0;
}

// The filter that owns `pin`, as an identity (0 when unknown): pins of one upstream filter
// may share its streaming thread.
uintptr_t UpstreamFilter(IPin* pin) {
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return 0;
    const uintptr_t id = reinterpret_cast<uintptr_t>(info.pFilter);
    info.pFilter->Release();
    return id;
}

// True when the pin, or the first input pin upstream of it (recursively), reads a file.
bool ReadsFile(IPin* pin, int depth) {
    if (!pin || depth > 16) return false;
    IAsyncReader* reader = nullptr;
    if (SUCCEEDED(pin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&reader)))) {
        reader->Release();
        return true;
    }
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return false;
    bool result = false;
    IEnumPins* pins = nullptr;
    if (SUCCEEDED(info.pFilter->EnumPins(&pins))) {
        IPin* candidate = nullptr;
        while (pins->Next(1, &candidate, nullptr) == S_OK) {
            PIN_DIRECTION direction = PINDIR_OUTPUT;
            candidate->QueryDirection(&direction);
            if (direction == PINDIR_INPUT) {
                IPin* peer = nullptr;
                if (SUCCEEDED(candidate->ConnectedTo(&peer)) && peer) {
                    result = ReadsFile(peer, depth + 1);
                    peer->Release();
                }
                candidate->Release();
                break;
            }
            candidate->Release();
        }
        pins->Release();
    }
    info.pFilter->Release();
    return result;
}

void SetType(CMediaType* type, const GUID& major, const GUID* subtype) {
    *type = CMediaType();
    type->SetType(&major);
    if (subtype) type->SetSubtype(subtype);
}

CMuxFilter* MuxOf(CBaseFilter* filter) {
    return static_cast<CMuxFilter*>(filter);
}

}  // namespace

// ---- Input pins and streams ----

// The parser of a multiplexed input: what it finds becomes a found stream of the filter,
// and every payload goes to that stream's assembler with its time stamps.
class CMuxStream::InputParser final : public muxer::CMuxInputParser {
public:
    explicit InputParser(CMuxStream* carrier) : carrier_(carrier) {}

protected:
    muxer::MuxStream* OnNewStream(muxer::StreamType type, const muxer::StreamMediaType& media) override {
        return carrier_->OnFoundStream(type, media);
    }
    bool DeliverPayload(muxer::MuxStream* stream, const uint8_t* data, int32_t size, std::optional<int64_t> pts,
                        std::optional<int64_t> dts) override {
        const muxer::WrappingBuffer sample(data, size, pts, dts);
        stream->Feed(sample);
        return true;
    }

private:
    CMuxStream* carrier_;
};

CMuxStream::CMuxStream(CMuxFilter* filter, CMuxProgram* program, int pinNumber, const wchar_t* name, HRESULT* hr)
    : CBaseInputPin(L"VarrowStream", filter, filter->FilterLock(), hr, name),
      program_(program),
      pinNumber_(pinNumber),
      config_(this, GetOwner(), &CLSID_VarrowStream, &record_) {
    using kestrune::CKestruneConfigEnumList;
    auto yesNo = [] {
        auto list = std::make_unique<CKestruneConfigEnumList>();
        list->AddFlag("No", false);
        list->AddFlag("Yes", true);
        return list;
    };
    auto rates = [] {
        auto list = std::make_unique<CKestruneConfigEnumList>();
        const char* names[] = {"Unknown", "23.97", "24", "25", "29.97", "30", "50", "59.94", "60"};
        for (int i = 0; i < 9; ++i)
            list->AddInt(names[i], i);
        return list;
    };
    config_.AddValue(&kParamTimeShift, true, "Initial time shift(ms)", false, &StreamRecord::timeShift, 0);
    config_.AddValue(&kParamPesPacketSize, true, "PES packet size in Bytes", false, &StreamRecord::pesPacketSize, 0)
        ->SetRange(-1, 65535);
    config_.AddValue(&kParamPutPcr, true, "Put PCR", false, &StreamRecord::putPcr, false)->SetEnumList(yesNo());
    config_.AddValue(&kParamBitrate, true, "Bitrate", false, &StreamRecord::bitrate, 0);
    config_.AddValue(&kParamStreamId, true, "Stream ID", false, &StreamRecord::streamId, 0)->SetRange(0, 8191);
    config_.AddValue(&kParamStreamPesId, true, "Stream PES ID", false, &StreamRecord::pesId, 0)->SetRange(0, 255);
    auto types = std::make_unique<CKestruneConfigEnumList>();
    const char* typeNames[] = {"Free",         "MPEG-2 Video",   "MPEG-2 Audio", "AC3",
                               "MPEG-4 v3",    "MPEG-4 v4",      "MPEG-4 v5",    "MPEG-1 Audio",
                               "MPEG-1 Video", "MPEG-2 Program", "H264 Video",   "AAC"};
    for (int i = 0; i < 12; ++i)
        types->AddInt(typeNames[i], i);
    config_.AddValue(&kParamStreamType, true, "Stream Type", true, &StreamRecord::streamType, 0)
        ->SetEnumList(std::move(types));
    auto sources = std::make_unique<CKestruneConfigEnumList>();
    sources->AddInt("TimeStamp Based", 0);
    sources->AddInt("BitRate Based", 1);
    sources->AddInt("FrameRate Based", 2);
    config_.AddValue(&kParamPtsSource, true, "PTS source", false, &StreamRecord::ptsSource, 0)
        ->SetEnumList(std::move(sources));
    config_.AddValue(&kParamCompleting, true, "Completing Access Unit", false, &StreamRecord::completing, false)
        ->SetEnumList(yesNo());
    config_.AddValue(&kParamAnnouncedRate, false, "Announced frame rate", false, &StreamRecord::announcedRate, 0)
        ->SetEnumList(rates());
    config_.AddValue(&kParamRealRate, false, "Real frame rate", false, &StreamRecord::realRate, 0);
    config_
        .AddValue(&kParamInputBufferSize, true, "Input Buffer Size(Byte)", false, &StreamRecord::inputBufferSize,
                  1000000)
        ->SetRange(999999, 45000001);
    config_.AddValue(&kParamCurrentPts, false, "Current Pin PTS", false, &StreamRecord::currentPts, int64_t{0});
    config_.AddValue(&kParamAutoCreated, false, "Auto created", false, &StreamRecord::autoCreated, false);
    config_.AddValue(&kParamEnded, false, nullptr, false, &StreamRecord::ended, false);
    int32_t pid = 0;
    filter->MakeUniquePid(&pid, nullptr);
    SetOwnValue(config_, kParamStreamId, pid);
}

CMuxStream::~CMuxStream() {
    ReleaseSeeking();
}

HRESULT STDMETHODCALLTYPE CMuxStream::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (deleted_) {
        *out = nullptr;
        return E_UNEXPECTED;
    }
    if (iid == IID_IPersist || iid == IID_IPersistStream || iid == IID_IKestruneConfig || iid == IID_IKestruneConfigEx)
        return GetInterface(static_cast<IKestruneConfigEx*>(&config_), out);
    return CBaseInputPin::NonDelegatingQueryInterface(iid, out);
}

int32_t CMuxStream::StreamType() const {
    return static_cast<int32_t>(OwnValue(const_cast<CMuxConfig<CMuxStream, StreamRecord>&>(config_), kParamStreamType));
}

bool CMuxStream::SetStreamType(int32_t type) {
    const bool changed = SetOwnValue(config_, kParamStreamType, type) == S_OK;
    CMuxFilter* mux = MuxOf(filter_);
    const bool transport = mux->Output() == 2;
    const bool video = type == 1 || type == 8 || type == 10 || (type >= 4 && type <= 6);
    const bool shown = type != 0 && type != 9;
    const bool autoCreated = OwnValue(config_, kParamAutoCreated) != 0;
    for (const GUID* key : {&kParamPesPacketSize, &kParamBitrate, &kParamStreamPesId, &kParamTimeShift,
                            &kParamPtsSource, &kParamCompleting, &kParamCurrentPts, &kParamInputBufferSize})
        config_.SetValueActive(key, shown);
    config_.SetValueActive(&kParamPutPcr, shown && transport);
    config_.SetValueActive(&kParamStreamId, shown && transport);
    config_.SetValueActive(&kParamAnnouncedRate, shown && video);
    config_.SetValueActive(&kParamRealRate, shown && video);
    config_.SetValueActive(&kParamAutoCreated, shown);
    if (autoCreated)
        for (const GUID* key : {&kParamPesPacketSize, &kParamBitrate, &kParamTimeShift, &kParamPtsSource,
                                &kParamCompleting, &kParamInputBufferSize})
            config_.SetValueActive(key, false);
    return changed;
}

HRESULT CMuxStream::CheckMediaType(const CMediaType* type) {
    const int32_t derived = MediaTypeToStreamType(*type);
    if (derived == 0) return S_FALSE;
    const int32_t current = StreamType();
    if (current != 0 && current != derived) return S_FALSE;
    // A multiplexed byte stream describes itself: a source reading a file offers it
    // without a format block.
    if (type->cbFormat == 0 && derived != 9) return S_FALSE;
    return S_OK;
}

HRESULT CMuxStream::GetMediaType(int position, CMediaType* type) {
    if (position < 0) return E_INVALIDARG;
    const GUID ac3 = MEDIASUBTYPE_DOLBY_AC3, w2000 = WaveSubtype(0x2000), w55 = WaveSubtype(0x55),
               w50 = WaveSubtype(0x50);
    struct Entry {
        const GUID* major;
        const GUID* subtype;
    };
    const Entry free[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG2_PROGRAM},
                          {&MEDIATYPE_Video, nullptr},
                          {&MEDIATYPE_Video, &kSubtypeDivx},
                          {&MEDIATYPE_Audio, &w55},
                          {&MEDIATYPE_Audio, &w50},
                          {&MEDIATYPE_Video, &MEDIASUBTYPE_MPEG1Payload},
                          {&MEDIATYPE_Video, &MEDIASUBTYPE_KestruneH264},
                          {&MEDIATYPE_Video, &MEDIASUBTYPE_MPEG2_VIDEO},
                          {&MEDIATYPE_Audio, &ac3},
                          {&MEDIATYPE_Audio, &w2000}};
    const int32_t t = StreamType();
    std::vector<Entry> list;
    switch (t) {
        case 0:
            list.assign(std::begin(free), std::end(free));
            break;
        case 1:
            list = {{&MEDIATYPE_Video, &MEDIASUBTYPE_MPEG2_VIDEO}};
            break;
        case 2:
            list = {{&MEDIATYPE_Audio, &w55}};
            break;
        case 3:
            list = {{&MEDIATYPE_Audio, &ac3}, {&MEDIATYPE_Audio, &w2000}};
            break;
        case 4:
            list = {{&MEDIATYPE_Video, nullptr}};
            break;
        case 5:
        case 6:
            list = {{&MEDIATYPE_Video, &kSubtypeDivx}};
            break;
        case 7:
            list = {{&MEDIATYPE_Audio, &w50}};
            break;
        case 8:
            list = {{&MEDIATYPE_Video, &MEDIASUBTYPE_MPEG1Payload}};
            break;
        case 9:
            list = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG2_PROGRAM}};
            break;
        case 10:
            list = {{&MEDIATYPE_Video, &MEDIASUBTYPE_KestruneH264}};
            break;
        default:
            break;
    }
    if (static_cast<size_t>(position) >= list.size()) return VFW_S_NO_MORE_ITEMS;
    SetType(type, *list[position].major, list[position].subtype);
    return S_OK;
}

HRESULT CMuxStream::CompleteConnect(IPin* receivePin) {
    CMuxFilter* mux = MuxOf(filter_);
    const int32_t derived = MediaTypeToStreamType(type_);
    if (derived == 10 && mux->Output() == 1) return E_FAIL;
    HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
    if (FAILED(hr)) return hr;
    const bool changed = SetStreamType(derived);
    SetOwnValue(config_, kParamCompleting, ReadsFile(receivePin, 0) ? 1 : 0);
    mux->AssignPesStreamId(this);
    int32_t pid = static_cast<int32_t>(OwnValue(config_, kParamStreamId));
    mux->MakeUniquePid(&pid, &record_.streamId);
    SetOwnValue(config_, kParamStreamId, pid);
    int64_t rate = AnnouncedBitrate(type_);
    if (rate <= 0 || rate > INT32_MAX) rate = 27000000;
    SetOwnValue(config_, kParamBitrate, rate);
    if (type_.majortype == MEDIATYPE_Video && IsVideoFormat(type_.formattype))
        SetOwnValue(config_, kParamAnnouncedRate, muxer::AnnouncedFrameRateCode(GetAvgTimePerFrame(type_)));
    mux->RecomputeBitrates();
    mux->CreateInputPin(-1, nullptr);
    if (changed) mux->TreeChanged();
    ReleaseSeeking();
    IMediaSeeking* seeking = nullptr;
    if (SUCCEEDED(receivePin->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)))) {
        CAutoLock hold(&seekingLock_);
        seeking_ = seeking;
    }
    return S_OK;
}

HRESULT CMuxStream::BreakConnect() {
    ReleaseSeeking();
    return CBaseInputPin::BreakConnect();
}

void CMuxStream::ReleaseSeeking() {
    IMediaSeeking* old = nullptr;
    {
        CAutoLock hold(&seekingLock_);
        old = seeking_;
        seeking_ = nullptr;
    }
    if (old) old->Release();
}

IMediaSeeking* CMuxStream::UpstreamSeeking() {
    CAutoLock hold(&seekingLock_);
    if (seeking_) seeking_->AddRef();
    return seeking_;
}

HRESULT STDMETHODCALLTYPE CMuxStream::Disconnect() {
    CAutoLock lock(lock_);
    const bool wasConnected = IsConnected();
    const HRESULT hr = CBaseInputPin::Disconnect();
    if (!wasConnected || FAILED(hr)) return hr;
    CMuxFilter* mux = MuxOf(filter_);
    config_.ResetToDefaults();
    SetOwnValue(config_, kParamStreamType, 0);
    int32_t pid = static_cast<int32_t>(OwnValue(config_, kParamStreamId));
    mux->MakeUniquePid(&pid, &record_.streamId);
    SetOwnValue(config_, kParamStreamId, pid);
    SetStreamType(0);
    mux->RecomputeBitrates();
    mux->TreeChanged();
    return hr;
}

bool CMuxStream::Attach(muxer::MuxEngine& engine, muxer::MuxProgram* program) {
    CMuxFilter* mux = MuxOf(filter_);
    const int32_t type = StreamType();
    if (type <= 0) return true;
    if (type == 9) {
        // The carrier writes nothing itself; its engine stream only holds the output's end
        // until the input ended, so it needs no rate and a token pool.
        muxer::MuxStream* core = engine.AddStream(muxer::StreamType::Mpeg2Program, {}, program);
        core->live = true;
        core->bitrate = 0;
        core->poolBufferSize = 4096;
        core->poolByteLimit = 16384;
        CAutoLock hold(&receiveLock_);
        core_ = core;
        coreProgram_ = program;
        input_ = std::make_unique<InputParser>(this);
        found_.clear();
        endReceived_ = false;
        SetOwnValue(config_, kParamEnded, 0);
        return true;
    }
    if (mux->Compatibility() == 1) SetOwnValue(config_, kParamPesPacketSize, 2034);
    const int64_t bitrate = OwnValue(config_, kParamBitrate);
    const varrow::PoolSize pool = varrow::ComputePoolSize(type, bitrate, OwnValue(config_, kParamInputBufferSize),
                                                          allocator_ != nullptr, type_.majortype == MEDIATYPE_Audio);
    SetOwnValue(config_, kParamInputBufferSize, pool.byteLimit);
    muxer::MuxStream* core = engine.AddStream(static_cast<muxer::StreamType>(type), ToCoreType(type_), program);
    core->pid = static_cast<int32_t>(OwnValue(config_, kParamStreamId));
    core->pesId = static_cast<int32_t>(OwnValue(config_, kParamStreamPesId));
    core->putPcr = OwnValue(config_, kParamPutPcr) != 0;
    core->pesPacketSize = static_cast<int32_t>(OwnValue(config_, kParamPesPacketSize));
    core->bitrate = bitrate > 0 ? bitrate : 27000000;
    core->live = true;
    core->ptsSource = static_cast<muxer::PtsSource>(std::clamp<int64_t>(OwnValue(config_, kParamPtsSource), 0, 2));
    core->timeShiftMs = static_cast<int32_t>(OwnValue(config_, kParamTimeShift));
    core->completeUnits = OwnValue(config_, kParamCompleting) != 0;
    core->poolBufferSize = pool.bufferSize;
    core->poolByteLimit = static_cast<uint32_t>(pool.byteLimit);
    core->upstream = UpstreamFilter(GetConnected());
    core->onOwnValue = [this](muxer::OwnValue which, int64_t value) {
        if (which == muxer::OwnValue::AnnouncedFrameRate) SetOwnValue(config_, kParamAnnouncedRate, value);
        if (which == muxer::OwnValue::RealFrameRate) SetOwnValue(config_, kParamRealRate, value);
    };
    CAutoLock hold(&receiveLock_);
    core_ = core;
    endReceived_ = false;
    SetOwnValue(config_, kParamEnded, 0);
    return true;
}

muxer::MuxStream* CMuxStream::OnFoundStream(muxer::StreamType type, const muxer::StreamMediaType& media) {
    CMuxStream* found = MuxOf(filter_)->AddFoundStream(this, coreProgram_, type, media);
    if (!found) return nullptr;
    found_.push_back(found);
    return found->Core();
}

bool CMuxStream::AttachFound(muxer::MuxEngine& engine, muxer::MuxProgram* program, CMuxStream* carrier,
                             muxer::StreamType type, const muxer::StreamMediaType& media) {
    const int64_t bitrate = muxer::FoundStreamBitrate(type, media);
    SetOwnValue(config_, kParamBitrate, bitrate);
    muxer::MuxStream* core = engine.AddRunningStream(
        type, media,
        [&](muxer::MuxStream& made) {
            made.pid = static_cast<int32_t>(OwnValue(config_, kParamStreamId));
            made.pesId = static_cast<int32_t>(OwnValue(config_, kParamStreamPesId));
            made.bitrate = bitrate;
            made.onOwnValue = [this](muxer::OwnValue which, int64_t value) {
                if (which == muxer::OwnValue::AnnouncedFrameRate) SetOwnValue(config_, kParamAnnouncedRate, value);
                if (which == muxer::OwnValue::RealFrameRate) SetOwnValue(config_, kParamRealRate, value);
            };
        },
        program);
    if (!core) return false;
    CAutoLock hold(&receiveLock_);
    core_ = core;
    carrier_ = carrier;
    inactive_ = false;
    return true;
}

void CMuxStream::Publish() {
    muxer::MuxStream* core = core_;
    if (!core) return;
    SetOwnValue(config_, kParamCurrentPts, core->currentPinPts);
    SetOwnValue(config_, kParamBitrate, std::clamp<int64_t>(core->bitrate, 0, INT32_MAX));
    SetOwnValue(config_, kParamStreamId, core->pid);
    SetOwnValue(config_, kParamStreamPesId, core->pesId);
    SetOwnValue(config_, kParamPutPcr, core->putPcr ? 1 : 0);
    SetOwnValue(config_, kParamEnded, core->ended ? 1 : 0);
}

void CMuxStream::Detach() {
    CAutoLock hold(&receiveLock_);
    core_ = nullptr;
    input_.reset();
    found_.clear();
    coreProgram_ = nullptr;
}

HRESULT CMuxStream::Active() {
    CAutoLock hold(&receiveLock_);
    inactive_ = false;
    return S_OK;
}

HRESULT CMuxStream::Inactive() {
    // An upstream thread waiting for pool room is let go first, then kept out.
    if (muxer::MuxStream* core = core_) core->Pool().Stop();
    MuxOf(filter_)->StopFoundPools(this);
    {
        CAutoLock hold(&receiveLock_);
        inactive_ = true;
    }
    SetOwnValue(config_, kParamEnded, 0);
    return CBaseInputPin::Inactive();
}

HRESULT STDMETHODCALLTYPE CMuxStream::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    CAutoLock hold(&receiveLock_);
    if (inactive_ || !core_ || endReceived_ || IsFlushing()) return S_FALSE;
    const AM_SAMPLE2_PROPERTIES& props = SampleProps();
    if (!props.pbBuffer || props.lActual <= 0) return S_OK;
    if (input_) {
        // In pieces well below the parser's buffer: what it keeps back is less than one
        // packet, so every piece fits behind it.
        constexpr int32_t kPiece = 65536;
        for (int32_t at = 0; at < props.lActual; at += kPiece) {
            const int32_t n = std::min<int32_t>(kPiece, props.lActual - at);
            if (!input_->Append(props.pbBuffer + at, n)) return E_FAIL;
            input_->Parse();
        }
        return S_OK;
    }
    std::optional<int64_t> start;
    if (props.dwSampleFlags & AM_SAMPLE_TIMEVALID) start = props.tStart;
    const muxer::WrappingBuffer wrapped(props.pbBuffer, props.lActual, start);
    core_->Feed(wrapped);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMuxStream::EndOfStream() {
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    CAutoLock hold(&receiveLock_);
    if (inactive_ || !core_ || endReceived_) return S_OK;
    endReceived_ = true;
    if (input_) {
        // The last packets kept back are parsed; every stream found ends with the input.
        input_->Finish();
        for (CMuxStream* s : found_)
            if (muxer::MuxStream* core = s->core_) core->EndOfStream();
    }
    core_->EndOfStream();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMuxStream::BeginFlush() {
    CMuxFilter* mux = MuxOf(filter_);
    if (muxer::MuxStream* core = core_) core->Pool().Stop();
    mux->StopFoundPools(this);
    CBaseInputPin::BeginFlush();
    {
        CAutoLock hold(&receiveLock_);
        if (core_) core_->Flush();
        // The found streams stay in the running engine (it cannot drop a stream); their
        // queued data goes.
        for (CMuxStream* s : found_)
            if (muxer::MuxStream* core = s->core_) core->Flush();
        endReceived_ = false;
    }
    return mux->OutputPin()->BeginFlushDownstream();
}

HRESULT STDMETHODCALLTYPE CMuxStream::EndFlush() {
    CMuxFilter* mux = MuxOf(filter_);
    {
        CAutoLock hold(&receiveLock_);
        if (core_) core_->Pool().Resume();
    }
    mux->StopFoundPools(this, true);
    mux->OutputPin()->EndFlushDownstream();
    return CBaseInputPin::EndFlush();
}

HRESULT CMuxStream::ConfigGetValue(const GUID* key, VARIANT* value) {
    if (!key || !value) return E_POINTER;
    if (*key == kParamEnded || *key == kQueryLive) {
        const bool autoCreated = OwnValue(config_, kParamAutoCreated) != 0;
        const bool on =
            *key == kParamEnded ? OwnValue(config_, kParamEnded) && !autoCreated : IsConnected() || autoCreated;
        VariantClear(value);
        V_VT(value) = VT_BOOL;
        V_BOOL(value) = on ? 1 : 0;
        return S_OK;
    }
    if (*key == kQueryPinName) {
        VariantClear(value);
        V_VT(value) = VT_BSTR;
        V_BSTR(value) = SysAllocString(name_.c_str());
        return V_BSTR(value) ? S_OK : E_OUTOFMEMORY;
    }
    return config_.BaseGetValue(key, value);
}

HRESULT CMuxStream::ConfigSetValue(const GUID* key, VARIANT* value) {
    if (!key || !value) return E_POINTER;
    CMuxFilter* mux = MuxOf(filter_);
    CAutoLock lock(lock_);
    if (OwnValue(config_, kParamAutoCreated)) return E_FAIL;
    if (*key == kParamStreamType) {
        if (IsConnected() || !mux->IsStopped()) return E_FAIL;
        VARIANT v;
        VariantInit(&v);
        if (FAILED(VariantChangeType(&v, value, 0, VT_I4))) return E_FAIL;
        const int32_t t = V_I4(&v);
        if (t < 0 || t > 11) return E_FAIL;
        if (mux->Output() == 1 && ((t >= 4 && t <= 6) || t == 9 || t == 10)) return E_FAIL;
        const HRESULT hr = config_.BaseSetValue(key, value);
        if (FAILED(hr)) return hr;
        SetStreamType(t);
        mux->AssignPesStreamId(this);
        mux->TreeChanged();
        return hr;
    }
    if (*key == kCommandMoveStream) {
        IUnknown* object = V_VT(value) == VT_UNKNOWN ? V_UNKNOWN(value) : nullptr;
        CMuxProgram* target = nullptr;
        if (!mux->IsStopped() || !object || !mux->IsProgramObject(object, &target)) return E_FAIL;
        return mux->MoveStream(this, target) ? S_OK : E_FAIL;
    }
    // Settings of a running stream are taken at the next start; while running they stay.
    if (!mux->IsStopped()) return E_FAIL;
    const HRESULT hr = config_.BaseSetValue(key, value);
    if (FAILED(hr)) return hr;
    if (*key == kParamStreamId) {
        int32_t pid = static_cast<int32_t>(OwnValue(config_, kParamStreamId));
        mux->MakeUniquePid(&pid, &record_.streamId);
        SetOwnValue(config_, kParamStreamId, pid);
    } else if (*key == kParamStreamPesId) {
        mux->AssignPesStreamId(this);
    }
    return hr;
}

HRESULT CMuxStream::ConfigSave(IStream* stream, BOOL clearDirty) {
    return config_.BaseSave(stream, clearDirty);
}

HRESULT CMuxStream::ConfigLoad(IStream* stream) {
    const HRESULT hr = config_.BaseLoad(stream);
    if (FAILED(hr)) return hr;
    CMuxFilter* mux = MuxOf(filter_);
    int32_t pid = static_cast<int32_t>(OwnValue(config_, kParamStreamId));
    mux->MakeUniquePid(&pid, &record_.streamId);
    SetOwnValue(config_, kParamStreamId, pid);
    int32_t type = StreamType();
    if (type == 9 || (mux->Output() == 1 && ((type >= 4 && type <= 6) || type == 10))) type = 0;
    SetStreamType(type);
    mux->AssignPesStreamId(this);
    return hr;
}

// ---- Output pin ----

CMuxOutputPin::CMuxOutputPin(CMuxFilter* filter, CCritSec* lock, HRESULT* hr)
    : CBaseOutputPin(L"Varrow OutPin", filter, lock, hr, L"Varrow Out"), mux_(filter) {}

CMuxOutputPin::~CMuxOutputPin() {
    ReleaseSample();
}

HRESULT STDMETHODCALLTYPE CMuxOutputPin::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(mux_), out);
    return CBaseOutputPin::NonDelegatingQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE CMuxOutputPin::Notify(IBaseFilter*, Quality) {
    // The multiplexer has no rate to adapt: quality messages end here.
    return S_OK;
}

HRESULT CMuxOutputPin::GetMediaType(int position, CMediaType* type) {
    if (position < 0) return E_INVALIDARG;
    const int32_t output = mux_->Output();
    if (position > 0 || (output != 1 && output != 2)) return VFW_S_NO_MORE_ITEMS;
    SetType(type, MEDIATYPE_Stream, output == 1 ? &MEDIASUBTYPE_MPEG2_PROGRAM : &MEDIASUBTYPE_MPEG2_TRANSPORT);
    type->SetFormatType(&GUID_NULL);
    return S_OK;
}

HRESULT CMuxOutputPin::CheckMediaType(const CMediaType* type) {
    const GUID& wanted = mux_->Output() == 1 ? MEDIASUBTYPE_MPEG2_PROGRAM : MEDIASUBTYPE_MPEG2_TRANSPORT;
    return type->majortype == MEDIATYPE_Stream && type->subtype == wanted ? S_OK : S_FALSE;
}

HRESULT CMuxOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    ALLOCATOR_PROPERTIES wanted = *request;
    wanted.cBuffers = std::max<long>(1, request->cBuffers);
    wanted.cbBuffer = static_cast<long>(OwnValue(mux_->ConfigPart(), kParamOutputBufferSize));
    wanted.cbAlign = 1;
    wanted.cbPrefix = 0;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer <= 0) return E_FAIL;
    sampleSize_ = actual.cbBuffer;
    return S_OK;
}

HRESULT CMuxOutputPin::ResizeBuffers() {
    if (!allocator_) return E_FAIL;
    ALLOCATOR_PROPERTIES request{};
    if (input_) input_->GetAllocatorRequirements(&request);
    return DecideBufferSize(allocator_, &request);
}

HRESULT CMuxOutputPin::Active() {
    {
        CAutoLock hold(&sampleLock_);
        flushCount_ = 0;
        fill_ = 0;
    }
    const HRESULT hr = CBaseOutputPin::Active();
    if (SUCCEEDED(hr)) stopped_ = false;
    return hr;
}

HRESULT CMuxOutputPin::Inactive() {
    stopped_ = true;
    {
        CAutoLock hold(&sampleLock_);
        ++flushGeneration_;
        ReleaseSample();
    }
    return CBaseOutputPin::Inactive();
}

void CMuxOutputPin::ReleaseSample() {
    if (sample_) sample_->Release();
    sample_ = nullptr;
    data_ = nullptr;
    fill_ = 0;
}

void CMuxOutputPin::DeliverCurrent(int32_t length) {
    // Called with sampleLock_ held; delivers outside it, since downstream may block in
    // Receive until a flush that needs the lock.
    IMediaSample* sample = sample_;
    sample_ = nullptr;
    data_ = nullptr;
    fill_ = 0;
    sample->SetActualDataLength(length);
    REFERENCE_TIME start = mux_->MuxerTime();
    sample->SetTime(&start, nullptr);
    sampleLock_.Unlock();
    Deliver(sample);
    sample->Release();
    sampleLock_.Lock();
}

void CMuxOutputPin::Write(const uint8_t* bytes, size_t size) {
    CAutoLock hold(&sampleLock_);
    while (size > 0) {
        if (stopped_ || flushCount_ > 0) return;
        if (!sample_) {
            const uint64_t generation = flushGeneration_;
            IMediaSample* sample = nullptr;
            sampleLock_.Unlock();
            const HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
            sampleLock_.Lock();
            if (FAILED(hr) || !sample) return;  // these bytes are lost, no others
            if (generation != flushGeneration_ || stopped_) {
                sample->Release();
                return;
            }
            BYTE* data = nullptr;
            const long room = sample->GetSize();
            if (FAILED(sample->GetPointer(&data)) || !data || room <= 0) {
                sample->Release();
                return;
            }
            sample_ = sample;
            data_ = data;
            sampleSize_ = static_cast<int32_t>(room);
            fill_ = 0;
        }
        const size_t n = std::min<size_t>(size, static_cast<size_t>(sampleSize_ - fill_));
        std::memcpy(data_ + fill_, bytes, n);
        fill_ += static_cast<int32_t>(n);
        bytes += n;
        size -= n;
        if (fill_ == sampleSize_) DeliverCurrent(sampleSize_);
    }
}

void CMuxOutputPin::DeliverPartial() {
    CAutoLock hold(&sampleLock_);
    if (!sample_) return;
    if (stopped_ || fill_ == 0) {
        ReleaseSample();
        return;
    }
    DeliverCurrent(fill_);
}

void CMuxOutputPin::DeliverEnd() {
    if (IsConnected() && !stopped_) DeliverEndOfStream();
}

HRESULT CMuxOutputPin::BeginFlushDownstream() {
    {
        CAutoLock hold(&sampleLock_);
        if (++flushCount_ > 1) return S_FALSE;
        ++flushGeneration_;
        ReleaseSample();
    }
    return IsConnected() ? DeliverBeginFlush() : S_OK;
}

HRESULT CMuxOutputPin::EndFlushDownstream() {
    {
        CAutoLock hold(&sampleLock_);
        if (flushCount_ > 0) --flushCount_;
        if (flushCount_ != 0) return S_FALSE;
    }
    return IsConnected() ? DeliverEndFlush() : S_OK;
}
