// The engine's MPEG Layer-3 encoder as an audio compression manager codec: an installable
// driver answering the codec messages (driver and format details, stream open, size,
// convert, reset, close). It converts 16-bit PCM, mono or stereo, at the rates of MPEG-1,
// MPEG-2 and MPEG-2.5 audio into layer III at a constant bit rate of that MPEG version.
#include "engines/file_engine/mp3_codec.h"

#include <windows.h>
#include <mmreg.h>
#include <mmsystem.h>
#include <msacm.h>
#include <dshow.h>
#include <uuids.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include "engines/file_engine/mpeg4_compressor.h"

namespace fileengine {
namespace {

// ---- the driver side of the compression manager's interface (its driver kit's layouts) ----
constexpr UINT kDriverDetails = ACMDM_BASE + 10;
constexpr UINT kFormatTagDetails = ACMDM_BASE + 25;
constexpr UINT kFormatDetails = ACMDM_BASE + 26;
constexpr UINT kFormatSuggest = ACMDM_BASE + 27;
constexpr UINT kStreamOpen = ACMDM_BASE + 76;
constexpr UINT kStreamClose = ACMDM_BASE + 77;
constexpr UINT kStreamSize = ACMDM_BASE + 78;
constexpr UINT kStreamConvert = ACMDM_BASE + 79;
constexpr UINT kStreamReset = ACMDM_BASE + 80;

struct OpenDesc {
    DWORD cbStruct;
    FOURCC fccType;
    FOURCC fccComp;
    DWORD dwVersion;
    DWORD dwFlags;
    DWORD dwError;
    LPCWSTR pszSectionName;
    LPCWSTR pszAliasName;
    DWORD dnDevNode;
};

struct StreamInstance {
    DWORD cbStruct;
    WAVEFORMATEX* pwfxSrc;
    WAVEFORMATEX* pwfxDst;
    WAVEFILTER* pwfltr;
    DWORD_PTR dwCallback;
    DWORD_PTR dwInstance;
    DWORD fdwOpen;
    DWORD fdwDriver;
    DWORD_PTR dwDriver;
    HACMSTREAM has;
};

#pragma pack(push, 1)
struct StreamHeader {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    BYTE* pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    BYTE* pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD fdwConvert;
};
#pragma pack(pop)

struct StreamSize {
    DWORD cbStruct;
    DWORD fdwSize;
    DWORD cbSrcLength;
    DWORD cbDstLength;
};

struct FormatSuggest {
    DWORD cbStruct;
    DWORD fdwSuggest;
    WAVEFORMATEX* pwfxSrc;
    DWORD cbwfxSrc;
    WAVEFORMATEX* pwfxDst;
    DWORD cbwfxDst;
};

// ---- the formats ----
constexpr wchar_t kFormatTagName[] = L"MPEG Layer-3";
constexpr wchar_t kLongName[] = L"MPEG Layer-3 Codec (file conversion engine)";
constexpr char kValueName[] = "msacm.femp3";
constexpr wchar_t kInstanceName[] = L"FileEngineMpegLayer3";
constexpr DWORD kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
// Bit rates of layer III (kbit/s): MPEG-1 (32 kHz and up), MPEG-2 and 2.5 (below).
constexpr DWORD kMpeg1Rates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr DWORD kMpeg2Rates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
// The bit rates listed for each sample rate and channel count.
constexpr DWORD kListedMpeg1[] = {64, 96, 128, 160, 192, 256, 320};
constexpr DWORD kListedMpeg2[] = {32, 48, 56, 64, 96, 128};
constexpr DWORD kListedMpeg25[] = {8, 16, 24, 32};
// The encoder's delay in samples, as the format record tells decoders.
constexpr WORD kCodecDelay = 1393;
// Encoded bytes held for the caller at most; past it no more input is taken.
constexpr size_t kMaxPendingBytes = 4 << 20;

bool IsMpeg1(DWORD rate) {
    return rate >= 32000;
}
DWORD FrameSamples(DWORD rate) {
    return IsMpeg1(rate) ? 1152 : 576;
}
bool RateListed(DWORD rate) {
    return std::find(std::begin(kRates), std::end(kRates), rate) != std::end(kRates);
}
bool BitRateValid(DWORD rate, DWORD kbps) {
    const DWORD* b = IsMpeg1(rate) ? std::begin(kMpeg1Rates) : std::begin(kMpeg2Rates);
    const DWORD* e = IsMpeg1(rate) ? std::end(kMpeg1Rates) : std::end(kMpeg2Rates);
    return std::find(b, e, kbps) != e;
}
std::vector<DWORD> ListedBitRates(DWORD rate) {
    if (IsMpeg1(rate)) return {std::begin(kListedMpeg1), std::end(kListedMpeg1)};
    if (rate >= 16000) return {std::begin(kListedMpeg2), std::end(kListedMpeg2)};
    return {std::begin(kListedMpeg25), std::end(kListedMpeg25)};
}
// Bytes of one frame without its padding byte.
DWORD FrameBytes(DWORD rate, DWORD kbps) {
    return FrameSamples(rate) / 8 * kbps * 1000 / rate;
}

WAVEFORMATEX PcmFormat(DWORD rate, WORD channels) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = WORD(2 * channels);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

MPEGLAYER3WAVEFORMAT Mp3Format(DWORD rate, WORD channels, DWORD kbps) {
    MPEGLAYER3WAVEFORMAT f{};
    f.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    f.wfx.nChannels = channels;
    f.wfx.nSamplesPerSec = rate;
    f.wfx.nAvgBytesPerSec = kbps * 1000 / 8;
    f.wfx.nBlockAlign = 1;
    f.wfx.wBitsPerSample = 0;
    f.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    f.wID = MPEGLAYER3_ID_MPEG;
    f.fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
    f.nBlockSize = WORD(FrameBytes(rate, kbps));
    f.nFramesPerBlock = 1;
    f.nCodecDelay = kCodecDelay;
    return f;
}

bool PcmTaken(const WAVEFORMATEX* f) {
    return f && f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 16 &&
           (f->nChannels == 1 || f->nChannels == 2) && RateListed(f->nSamplesPerSec) &&
           f->nBlockAlign == 2 * f->nChannels && f->nAvgBytesPerSec == f->nSamplesPerSec * f->nBlockAlign;
}

// The bit rate (kbit/s) of an MPEG Layer-3 format the codec makes, or 0.
DWORD Mp3BitRate(const WAVEFORMATEX* f) {
    if (!f || f->wFormatTag != WAVE_FORMAT_MPEGLAYER3 || (f->nChannels != 1 && f->nChannels != 2) ||
        !RateListed(f->nSamplesPerSec) || f->nAvgBytesPerSec % 125 != 0)
        return 0;
    const DWORD kbps = f->nAvgBytesPerSec / 125;
    return BitRateValid(f->nSamplesPerSec, kbps) ? kbps : 0;
}

// The formats listed for a tag: PCM by rate and channels, MPEG Layer-3 by rate, channels
// and bit rate.
DWORD PcmFormatCount() {
    return DWORD(std::size(kRates)) * 2;
}
DWORD Mp3FormatCount() {
    DWORD n = 0;
    for (DWORD rate : kRates)
        n += DWORD(ListedBitRates(rate).size()) * 2;
    return n;
}
bool Mp3FormatAt(DWORD index, MPEGLAYER3WAVEFORMAT* out) {
    for (DWORD rate : kRates) {
        const std::vector<DWORD> rates = ListedBitRates(rate);
        for (WORD channels = 1; channels <= 2; ++channels) {
            if (index < rates.size()) {
                *out = Mp3Format(rate, channels, rates[index]);
                return true;
            }
            index -= DWORD(rates.size());
        }
    }
    return false;
}

void CopyName(wchar_t* to, size_t chars, const wchar_t* from) {
    wcsncpy(to, from, chars - 1);
    to[chars - 1] = 0;
}

LRESULT DriverDetails(ACMDRIVERDETAILSW* d) {
    if (!d || d->cbStruct < sizeof(DWORD)) return MMSYSERR_INVALPARAM;
    ACMDRIVERDETAILSW full{};
    full.cbStruct = std::min<DWORD>(d->cbStruct, sizeof full);
    full.fccType = ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC;
    full.vdwACM = 0x03320000;  // the manager version the codec is written for: 3.50
    full.vdwDriver = 0x01000000;
    full.fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    full.cFormatTags = 2;
    CopyName(full.szShortName, std::size(full.szShortName), kFormatTagName);
    CopyName(full.szLongName, std::size(full.szLongName), kLongName);
    CopyName(full.szLicensing, std::size(full.szLicensing), L"LGPL (LAME, FFmpeg)");
    std::memcpy(d, &full, full.cbStruct);
    return MMSYSERR_NOERROR;
}

LRESULT FormatTagDetails(ACMFORMATTAGDETAILSW* d, DWORD flags) {
    if (!d || d->cbStruct < sizeof *d) return MMSYSERR_INVALPARAM;
    DWORD index = 0;
    switch (flags & ACM_FORMATTAGDETAILSF_QUERYMASK) {
        case ACM_FORMATTAGDETAILSF_INDEX:
            if (d->dwFormatTagIndex > 1) return ACMERR_NOTPOSSIBLE;
            index = d->dwFormatTagIndex;
            break;
        case ACM_FORMATTAGDETAILSF_FORMATTAG:
            if (d->dwFormatTag == WAVE_FORMAT_PCM)
                index = 0;
            else if (d->dwFormatTag == WAVE_FORMAT_MPEGLAYER3)
                index = 1;
            else
                return ACMERR_NOTPOSSIBLE;
            break;
        case ACM_FORMATTAGDETAILSF_LARGESTSIZE:
            if (d->dwFormatTag != WAVE_FORMAT_UNKNOWN && d->dwFormatTag != WAVE_FORMAT_PCM &&
                d->dwFormatTag != WAVE_FORMAT_MPEGLAYER3)
                return ACMERR_NOTPOSSIBLE;
            index = d->dwFormatTag == WAVE_FORMAT_PCM ? 0 : 1;
            break;
        default:
            return MMSYSERR_NOTSUPPORTED;
    }
    d->dwFormatTagIndex = index;
    d->dwFormatTag = index == 0 ? WAVE_FORMAT_PCM : WAVE_FORMAT_MPEGLAYER3;
    d->cbFormatSize = index == 0 ? sizeof(PCMWAVEFORMAT) : sizeof(MPEGLAYER3WAVEFORMAT);
    d->fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    d->cStandardFormats = index == 0 ? PcmFormatCount() : Mp3FormatCount();
    CopyName(d->szFormatTag, std::size(d->szFormatTag), index == 0 ? L"PCM" : kFormatTagName);
    return MMSYSERR_NOERROR;
}

LRESULT FormatDetails(ACMFORMATDETAILSW* d, DWORD flags) {
    if (!d || d->cbStruct < sizeof *d || !d->pwfx) return MMSYSERR_INVALPARAM;
    const DWORD query = flags & ACM_FORMATDETAILSF_QUERYMASK;
    if (query == ACM_FORMATDETAILSF_INDEX) {
        if (d->dwFormatTag == WAVE_FORMAT_PCM) {
            if (d->dwFormatIndex >= PcmFormatCount() || d->cbwfx < sizeof(PCMWAVEFORMAT)) return ACMERR_NOTPOSSIBLE;
            const WAVEFORMATEX f = PcmFormat(kRates[d->dwFormatIndex / 2], WORD(1 + d->dwFormatIndex % 2));
            std::memcpy(d->pwfx, &f, std::min<DWORD>(d->cbwfx, sizeof f));
        } else if (d->dwFormatTag == WAVE_FORMAT_MPEGLAYER3) {
            MPEGLAYER3WAVEFORMAT f;
            if (d->cbwfx < sizeof f || !Mp3FormatAt(d->dwFormatIndex, &f)) return ACMERR_NOTPOSSIBLE;
            std::memcpy(d->pwfx, &f, sizeof f);
        } else {
            return ACMERR_NOTPOSSIBLE;
        }
    } else if (query == ACM_FORMATDETAILSF_FORMAT) {
        if (!PcmTaken(d->pwfx) && !Mp3BitRate(d->pwfx)) return ACMERR_NOTPOSSIBLE;
    } else {
        return MMSYSERR_NOTSUPPORTED;
    }
    const WAVEFORMATEX* f = d->pwfx;
    d->dwFormatTag = f->wFormatTag;
    d->fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    if (f->wFormatTag == WAVE_FORMAT_PCM)
        swprintf(d->szFormat, std::size(d->szFormat), L"%lu Hz, 16 Bit, %ls",
                 static_cast<unsigned long>(f->nSamplesPerSec), f->nChannels == 1 ? L"Mono" : L"Stereo");
    else
        swprintf(d->szFormat, std::size(d->szFormat), L"%lu kBit/s, %lu Hz, %ls",
                 static_cast<unsigned long>(f->nAvgBytesPerSec / 125), static_cast<unsigned long>(f->nSamplesPerSec),
                 f->nChannels == 1 ? L"Mono" : L"Stereo");
    return MMSYSERR_NOERROR;
}

// PCM suggests MPEG Layer-3 of its rate and channels at a common bit rate, and the other way.
LRESULT SuggestFormat(FormatSuggest* s) {
    if (!s || !s->pwfxSrc || !s->pwfxDst) return MMSYSERR_INVALPARAM;
    const WAVEFORMATEX* src = s->pwfxSrc;
    const DWORD wantTag = (s->fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) ? s->pwfxDst->wFormatTag : 0;
    if ((s->fdwSuggest & ACM_FORMATSUGGESTF_NCHANNELS) && s->pwfxDst->nChannels != src->nChannels)
        return ACMERR_NOTPOSSIBLE;
    if ((s->fdwSuggest & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) && s->pwfxDst->nSamplesPerSec != src->nSamplesPerSec)
        return ACMERR_NOTPOSSIBLE;
    if (PcmTaken(src) && (wantTag == 0 || wantTag == WAVE_FORMAT_MPEGLAYER3)) {
        const DWORD kbps = IsMpeg1(src->nSamplesPerSec) ? 128 : src->nSamplesPerSec >= 16000 ? 56 : 24;
        const MPEGLAYER3WAVEFORMAT f = Mp3Format(src->nSamplesPerSec, src->nChannels, kbps);
        if (s->cbwfxDst < sizeof f) return ACMERR_NOTPOSSIBLE;
        std::memcpy(s->pwfxDst, &f, sizeof f);
        return MMSYSERR_NOERROR;
    }
    return ACMERR_NOTPOSSIBLE;
}

// One conversion stream: interleaved 16-bit samples in, whole layer III frames out.
class Mp3Stream {
public:
    ~Mp3Stream() { Close(); }

    bool Open(DWORD rate, WORD channels, DWORD kbps) {
        Close();
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MP3);
        if (!codec) return false;
        codec_ = avcodec_alloc_context3(codec);
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!codec_ || !frame_ || !packet_) return false;
        codec_->sample_rate = int(rate);
        av_channel_layout_default(&codec_->ch_layout, channels);
        codec_->sample_fmt = AV_SAMPLE_FMT_S16P;
        codec_->bit_rate = int64_t(kbps) * 1000;
        if (avcodec_open2(codec_, codec, nullptr) < 0) return false;
        channels_ = channels;
        frame_->format = AV_SAMPLE_FMT_S16P;
        frame_->nb_samples = codec_->frame_size;
        if (av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout) < 0) return false;
        if (av_frame_get_buffer(frame_, 0) < 0) return false;
        rate_ = rate;
        kbps_ = kbps;
        ended_ = false;
        return true;
    }

    // The bytes of output that `pcmBytes` of input may give (and the other way), for the
    // caller's buffers.
    DWORD OutputFor(DWORD pcmBytes) const {
        const DWORD frames = pcmBytes / (2u * channels_) / FrameSamples(rate_) + 3;
        return frames * (FrameBytes(rate_, kbps_) + 1);
    }
    DWORD InputFor(DWORD mp3Bytes) const {
        const DWORD frames = mp3Bytes / (FrameBytes(rate_, kbps_) + 1);
        return frames * FrameSamples(rate_) * 2u * channels_;
    }

    LRESULT Convert(StreamHeader* h) {
        if ((h->fdwConvert & ACM_STREAMCONVERTF_START) && ended_ && !Open(rate_, channels_, kbps_))
            return MMSYSERR_NOMEM;
        const DWORD block = 2u * channels_;
        DWORD used = 0;
        if (!ended_ && pending_.size() - pendingRead_ < kMaxPendingBytes && h->pbSrc) {
            used = h->cbSrcLength / block * block;
            const auto* pcm = reinterpret_cast<const int16_t*>(h->pbSrc);
            samples_.insert(samples_.end(), pcm, pcm + used / 2);
            if (!EncodeWhole()) return MMSYSERR_ERROR;
        }
        if ((h->fdwConvert & ACM_STREAMCONVERTF_END) && !ended_) {
            if (!Flush()) return MMSYSERR_ERROR;
            ended_ = true;
        }
        h->cbSrcLengthUsed = used;
        const size_t give = std::min<size_t>(h->pbDst ? h->cbDstLength : 0, pending_.size() - pendingRead_);
        if (give > 0) std::memcpy(h->pbDst, pending_.data() + pendingRead_, give);
        pendingRead_ += give;
        h->cbDstLengthUsed = DWORD(give);
        if (pendingRead_ == pending_.size()) {
            pending_.clear();
            pendingRead_ = 0;
        }
        return MMSYSERR_NOERROR;
    }

    void Reset() {
        samples_.clear();
        pending_.clear();
        pendingRead_ = 0;
        Open(rate_, channels_, kbps_);
    }

private:
    // Encodes every whole frame of the samples held.
    bool EncodeWhole() {
        const size_t perFrame = size_t(codec_->frame_size) * channels_;
        size_t at = 0;
        for (; samples_.size() - at >= perFrame; at += perFrame)
            if (!EncodeFrame(samples_.data() + at, codec_->frame_size)) return false;
        samples_.erase(samples_.begin(), samples_.begin() + std::ptrdiff_t(at));
        return true;
    }

    // The last samples, filled out with silence to a frame, and what the encoder still holds.
    bool Flush() {
        if (!samples_.empty()) {
            samples_.resize(size_t(codec_->frame_size) * channels_, 0);
            if (!EncodeFrame(samples_.data(), codec_->frame_size)) return false;
            samples_.clear();
        }
        if (avcodec_send_frame(codec_, nullptr) < 0) return false;
        return Drain();
    }

    bool EncodeFrame(const int16_t* interleaved, int count) {
        if (av_frame_make_writable(frame_) < 0) return false;
        for (int c = 0; c < channels_; ++c) {
            auto* plane = reinterpret_cast<int16_t*>(frame_->data[c]);
            for (int i = 0; i < count; ++i)
                plane[i] = interleaved[size_t(i) * channels_ + c];
        }
        frame_->pts = samplesIn_;
        samplesIn_ += count;
        if (avcodec_send_frame(codec_, frame_) < 0) return false;
        return Drain();
    }

    bool Drain() {
        for (;;) {
            const int r = avcodec_receive_packet(codec_, packet_);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
            if (r < 0) return false;
            pending_.insert(pending_.end(), packet_->data, packet_->data + packet_->size);
            av_packet_unref(packet_);
        }
    }

    void Close() {
        avcodec_free_context(&codec_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        samplesIn_ = 0;
    }

    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    DWORD rate_ = 0, kbps_ = 0;
    WORD channels_ = 1;
    bool ended_ = false;
    int64_t samplesIn_ = 0;
    std::vector<int16_t> samples_;  // interleaved samples short of a whole frame
    std::vector<uint8_t> pending_;  // encoded bytes not yet handed out
    size_t pendingRead_ = 0;
};

LRESULT OpenStream(StreamInstance* s) {
    if (!s || !s->pwfxSrc || !s->pwfxDst) return MMSYSERR_INVALPARAM;
    const DWORD kbps = Mp3BitRate(s->pwfxDst);
    if (s->pwfltr || !PcmTaken(s->pwfxSrc) || kbps == 0 || s->pwfxDst->nChannels != s->pwfxSrc->nChannels ||
        s->pwfxDst->nSamplesPerSec != s->pwfxSrc->nSamplesPerSec)
        return ACMERR_NOTPOSSIBLE;
    if (s->fdwOpen & ACM_STREAMOPENF_QUERY) return MMSYSERR_NOERROR;
    auto* stream = new (std::nothrow) Mp3Stream;
    if (!stream || !stream->Open(s->pwfxSrc->nSamplesPerSec, s->pwfxSrc->nChannels, kbps)) {
        delete stream;
        return MMSYSERR_NOMEM;
    }
    s->dwDriver = reinterpret_cast<DWORD_PTR>(stream);
    return MMSYSERR_NOERROR;
}

LRESULT SizeStream(const StreamInstance* s, StreamSize* size) {
    const auto* stream = reinterpret_cast<const Mp3Stream*>(s->dwDriver);
    if (!stream || !size) return MMSYSERR_INVALPARAM;
    switch (size->fdwSize & ACM_STREAMSIZEF_QUERYMASK) {
        case ACM_STREAMSIZEF_SOURCE:
            size->cbDstLength = stream->OutputFor(size->cbSrcLength);
            return MMSYSERR_NOERROR;
        case ACM_STREAMSIZEF_DESTINATION:
            size->cbSrcLength = stream->InputFor(size->cbDstLength);
            return size->cbSrcLength > 0 ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
        default:
            return MMSYSERR_INVALFLAG;
    }
}

// An instance of the driver as the compression manager opens it. Its address is told to the
// manager with the low bit set, so that the library's one driver procedure knows its
// messages from the video compressor's.
struct AudioDriver {
    int unused = 0;
};

constexpr DWORD_PTR kAudioTag = 1;

// The system's list of audio compressors already holds a codec whose name begins with the
// format's name.
bool CategoryListsLayer3() {
    ICreateDevEnum* devices = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(&devices))))
        return false;
    IEnumMoniker* monikers = nullptr;
    const HRESULT hr = devices->CreateClassEnumerator(CLSID_AudioCompressorCategory, &monikers, 0);
    devices->Release();
    if (hr != S_OK || !monikers) return false;
    bool found = false;
    IMoniker* moniker = nullptr;
    while (!found && monikers->Next(1, &moniker, nullptr) == S_OK) {
        IPropertyBag* bag = nullptr;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
            VARIANT name;
            VariantInit(&name);
            name.vt = VT_BSTR;
            if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR && name.bstrVal)
                found = wcsncmp(name.bstrVal, kFormatTagName, wcslen(kFormatTagName)) == 0;
            VariantClear(&name);
            bag->Release();
        }
        moniker->Release();
    }
    monikers->Release();
    return found;
}

// The entry in the system's list of audio compressors: the compression wrapper filter under
// the format's name (as systems whose list is made from the installed codecs name it).
HRESULT RegisterCategoryEntry(bool install) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = S_OK;
    IFilterMapper2* mapper = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                   reinterpret_cast<void**>(&mapper)))) {
        if (!install) {
            mapper->UnregisterFilter(&CLSID_AudioCompressorCategory, kInstanceName, CLSID_ACMWrapper);
        } else if (!CategoryListsLayer3()) {
            REGFILTER2 data{};
            data.dwVersion = 1;
            data.dwMerit = MERIT_DO_NOT_USE;
            hr = mapper->RegisterFilter(CLSID_ACMWrapper, kFormatTagName, nullptr, &CLSID_AudioCompressorCategory,
                                        kInstanceName, &data);
        }
        mapper->Release();
    } else if (install) {
        hr = E_FAIL;
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return hr;
}

}  // namespace

bool IsAudioCodecMessage(DWORD_PTR id, UINT message, LPARAM p2) {
    if (message == DRV_OPEN) {
        const auto* open = reinterpret_cast<const OpenDesc*>(p2);
        return open && open->fccType == ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC;
    }
    return (id & kAudioTag) != 0;
}

LRESULT AudioCodecProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2) {
    switch (message) {
        case DRV_OPEN: {
            auto* open = reinterpret_cast<OpenDesc*>(p2);
            auto* d = new (std::nothrow) AudioDriver;
            open->dwError = d ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
            return d ? LRESULT(reinterpret_cast<DWORD_PTR>(d) | kAudioTag) : 0;
        }
        case DRV_CLOSE:
            delete reinterpret_cast<AudioDriver*>(id & ~kAudioTag);
            return 1;
        case DRV_QUERYCONFIGURE:
            return 0;
        case kDriverDetails:
            return DriverDetails(reinterpret_cast<ACMDRIVERDETAILSW*>(p1));
        case kFormatTagDetails:
            return FormatTagDetails(reinterpret_cast<ACMFORMATTAGDETAILSW*>(p1), DWORD(p2));
        case kFormatDetails:
            return FormatDetails(reinterpret_cast<ACMFORMATDETAILSW*>(p1), DWORD(p2));
        case kFormatSuggest:
            return SuggestFormat(reinterpret_cast<FormatSuggest*>(p1));
        case kStreamOpen:
            return OpenStream(reinterpret_cast<StreamInstance*>(p1));
        case kStreamClose:
            if (p1) delete reinterpret_cast<Mp3Stream*>(reinterpret_cast<StreamInstance*>(p1)->dwDriver);
            return MMSYSERR_NOERROR;
        case kStreamSize:
            if (!p1) return MMSYSERR_INVALPARAM;
            return SizeStream(reinterpret_cast<const StreamInstance*>(p1), reinterpret_cast<StreamSize*>(p2));
        case kStreamConvert: {
            auto* s = reinterpret_cast<StreamInstance*>(p1);
            auto* stream = s ? reinterpret_cast<Mp3Stream*>(s->dwDriver) : nullptr;
            if (!stream || !p2) return MMSYSERR_INVALPARAM;
            return stream->Convert(reinterpret_cast<StreamHeader*>(p2));
        }
        case kStreamReset: {
            auto* s = reinterpret_cast<StreamInstance*>(p1);
            if (s && s->dwDriver) reinterpret_cast<Mp3Stream*>(s->dwDriver)->Reset();
            return MMSYSERR_NOERROR;
        }
        default:
            if (message >= ACMDM_BASE) return MMSYSERR_NOTSUPPORTED;
            return DefDriverProc(id, driver, message, p1, p2);
    }
}

HRESULT RegisterAudioCodec(bool install) {
    const HRESULT hr = RegisterDriver(kValueName, nullptr, install);
    if (FAILED(hr)) return hr;
    return RegisterCategoryEntry(install);
}

}  // namespace fileengine
