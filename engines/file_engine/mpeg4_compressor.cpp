// The engine's MPEG-4 encoder as a Video for Windows compressor (an installable driver:
// DriverProc answering the ICM messages), so that programs listing the system's video
// compressors find it, and its registration as a compressor installation leaves it: the
// value "vidc.FEM4" under the Drivers32 key naming the driver library (which loads this
// one), and the driver's description under drivers.desc.
#include "engines/file_engine/mpeg4_compressor.h"

#include "engines/file_engine/mp3_codec.h"

#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace fileengine {
namespace {

constexpr DWORD kHandler = mmioFOURCC('F', 'E', 'M', '4');
// What the stream's pictures are tagged with: the tag players know MPEG-4 Part 2 by.
constexpr DWORD kOutputTag = mmioFOURCC('D', 'I', 'V', 'X');
constexpr wchar_t kShortName[] = L"MPEG-4";
constexpr wchar_t kDescription[] = L"DivX-compatible MPEG-4 Video (file conversion engine)";
constexpr char kDriversKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
constexpr char kDescriptionsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc";
constexpr char kValueName[] = "vidc.FEM4";
constexpr char kDriverFile[] = "file_engine_vidc.dll";
// Picture sizes the encoder takes: MPEG-4 Part 2 codes 13-bit dimensions.
constexpr LONG kMaxSide = 8192;
constexpr DWORD kDefaultQuality = 7500;  // ICQUALITY_DEFAULT's scale: 0 to 10,000

// The input layouts taken, with the pixel format FFmpeg names them by.
AVPixelFormat InputFormat(const BITMAPINFOHEADER* bi) {
    switch (bi->biCompression) {
        case BI_RGB:
            if (bi->biBitCount == 24) return AV_PIX_FMT_BGR24;
            if (bi->biBitCount == 32) return AV_PIX_FMT_BGR0;
            return AV_PIX_FMT_NONE;
        case mmioFOURCC('I', '4', '2', '0'):
        case mmioFOURCC('I', 'Y', 'U', 'V'):
        case mmioFOURCC('Y', 'V', '1', '2'):
            return bi->biBitCount == 12 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_NONE;
        case mmioFOURCC('Y', 'U', 'Y', '2'):
            return bi->biBitCount == 16 ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_NONE;
        default:
            return AV_PIX_FMT_NONE;
    }
}

bool SizeTaken(const BITMAPINFOHEADER* bi) {
    const LONG h = bi->biHeight < 0 ? -bi->biHeight : bi->biHeight;
    // Planar YUV is top-down whatever the sign; only RGB may be stored bottom-up.
    if (bi->biCompression != BI_RGB && bi->biHeight < 0) return false;
    return bi->biWidth >= 16 && h >= 16 && bi->biWidth <= kMaxSide && h <= kMaxSide && bi->biWidth % 2 == 0 &&
           h % 2 == 0;
}

bool InputTaken(const BITMAPINFOHEADER* bi) {
    return bi && bi->biSize >= sizeof(BITMAPINFOHEADER) && InputFormat(bi) != AV_PIX_FMT_NONE && SizeTaken(bi);
}

bool OutputMatches(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    const LONG h = in->biHeight < 0 ? -in->biHeight : in->biHeight;
    return out->biSize >= sizeof(BITMAPINFOHEADER) && out->biCompression == kOutputTag && out->biWidth == in->biWidth &&
           (out->biHeight == h || out->biHeight == -h);
}

// The largest picture the encoder can make: its own worst case per macroblock (a few
// times the raw 384 bytes) plus the headers.
DWORD MaxPictureBytes(const BITMAPINFOHEADER* in) {
    const LONG h = in->biHeight < 0 ? -in->biHeight : in->biHeight;
    const DWORD macroblocks = DWORD((in->biWidth + 15) / 16) * DWORD((h + 15) / 16);
    return macroblocks * 3100 + 10000;
}

class Compressor {
public:
    ~Compressor() { End(); }

    LRESULT Begin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
        if (!InputTaken(in)) return ICERR_BADFORMAT;
        if (!out || !OutputMatches(in, out)) return ICERR_BADFORMAT;
        End();
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
        if (!codec) return ICERR_INTERNAL;
        codec_ = avcodec_alloc_context3(codec);
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!codec_ || !frame_ || !packet_) return End(), ICERR_MEMORY;
        width_ = in->biWidth;
        height_ = in->biHeight < 0 ? -in->biHeight : in->biHeight;
        bottomUp_ = in->biCompression == BI_RGB && in->biHeight > 0;
        yv12_ = in->biCompression == mmioFOURCC('Y', 'V', '1', '2');
        inputFormat_ = InputFormat(in);
        codec_->width = width_;
        codec_->height = height_;
        codec_->pix_fmt = AV_PIX_FMT_YUV420P;
        codec_->time_base = AVRational{int(std::max<DWORD>(rateDen_, 1)), int(std::max<DWORD>(rateNum_, 1))};
        codec_->gop_size = keyRate_ > 0 ? keyRate_ : 300;
        codec_->max_b_frames = 0;  // one picture in, its compressed picture out
        codec_->codec_tag = kOutputTag;
        codec_->flags |= AV_CODEC_FLAG_QSCALE;
        codec_->thread_count = 1;
        if (avcodec_open2(codec_, codec, nullptr) < 0) return End(), ICERR_BADFORMAT;
        frame_->format = AV_PIX_FMT_YUV420P;
        frame_->width = width_;
        frame_->height = height_;
        if (av_frame_get_buffer(frame_, 32) < 0) return End(), ICERR_MEMORY;
        scale_ = sws_getContext(width_, height_, inputFormat_, width_, height_, AV_PIX_FMT_YUV420P, SWS_BICUBIC,
                                nullptr, nullptr, nullptr);
        if (!scale_) return End(), ICERR_MEMORY;
        maxBytes_ = MaxPictureBytes(in);
        return ICERR_OK;
    }

    LRESULT Compress(const ICCOMPRESS* c) {
        if (!codec_) return ICERR_ERROR;
        if (!c->lpbiInput || !c->lpInput || !c->lpbiOutput || !c->lpOutput) return ICERR_BADPARAM;
        if (c->lpbiInput->biWidth != width_ || InputFormat(c->lpbiInput) != inputFormat_) return ICERR_BADFORMAT;
        if (av_frame_make_writable(frame_) < 0) return ICERR_MEMORY;
        const uint8_t* base = static_cast<const uint8_t*>(c->lpInput);
        const uint8_t* planes[4] = {};
        int strides[4] = {};
        if (inputFormat_ == AV_PIX_FMT_YUV420P) {
            const size_t luma = size_t(width_) * height_;
            planes[0] = base;
            planes[1] = base + luma + (yv12_ ? luma / 4 : 0);  // YV12 stores V before U
            planes[2] = base + luma + (yv12_ ? 0 : luma / 4);
            strides[0] = width_;
            strides[1] = strides[2] = width_ / 2;
        } else {
            const int bytes = inputFormat_ == AV_PIX_FMT_BGR24 ? 3 : inputFormat_ == AV_PIX_FMT_BGR0 ? 4 : 2;
            const int stride = (width_ * bytes + 3) & ~3;  // DIB rows end on 32-bit boundaries
            // A bottom-up DIB is read from its last row upward.
            planes[0] = bottomUp_ ? base + size_t(stride) * (height_ - 1) : base;
            strides[0] = bottomUp_ ? -stride : stride;
        }
        sws_scale(scale_, planes, strides, 0, height_, frame_->data, frame_->linesize);
        const DWORD quality = c->dwQuality <= ICQUALITY_HIGH ? c->dwQuality : kDefaultQuality;
        // Quality 10,000 is quantiser 2, quality 0 quantiser 31.
        frame_->quality = FF_QP2LAMBDA * (31 - int(quality) * 29 / 10000);
        frame_->pts = c->lFrameNum;
        frame_->pict_type = (c->dwFlags & ICCOMPRESS_KEYFRAME) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (avcodec_send_frame(codec_, frame_) < 0) return ICERR_ERROR;
        const int r = avcodec_receive_packet(codec_, packet_);
        if (r < 0) return ICERR_ERROR;
        const DWORD room = c->lpbiOutput->biSizeImage > 0 ? std::min(c->lpbiOutput->biSizeImage, maxBytes_) : maxBytes_;
        if (DWORD(packet_->size) > room) {
            av_packet_unref(packet_);
            return ICERR_MEMORY;
        }
        std::memcpy(c->lpOutput, packet_->data, size_t(packet_->size));
        c->lpbiOutput->biSizeImage = DWORD(packet_->size);
        if (c->lpdwFlags) *c->lpdwFlags = (packet_->flags & AV_PKT_FLAG_KEY) ? AVIIF_KEYFRAME : 0;
        av_packet_unref(packet_);
        return ICERR_OK;
    }

    void FramesInfo(const ICCOMPRESSFRAMES* f) {
        if (f->dwRate > 0 && f->dwScale > 0) {
            rateNum_ = f->dwRate;
            rateDen_ = f->dwScale;
        }
        keyRate_ = f->lKeyRate > 0 && f->lKeyRate < 100000 ? int(f->lKeyRate) : 0;
    }

    void End() {
        sws_freeContext(scale_);
        scale_ = nullptr;
        avcodec_free_context(&codec_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
    }

private:
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scale_ = nullptr;
    AVPixelFormat inputFormat_ = AV_PIX_FMT_NONE;
    int width_ = 0, height_ = 0;
    bool bottomUp_ = false, yv12_ = false;
    DWORD rateNum_ = 25, rateDen_ = 1;
    int keyRate_ = 0;
    DWORD maxBytes_ = 0;
};

LRESULT GetInfo(ICINFO* info, DWORD bytes) {
    if (!info) return sizeof(ICINFO);
    if (bytes < sizeof(ICINFO)) return 0;
    std::memset(info, 0, sizeof *info);
    info->dwSize = sizeof(ICINFO);
    info->fccType = ICTYPE_VIDEO;
    info->fccHandler = kHandler;
    info->dwFlags = VIDCF_QUALITY | VIDCF_TEMPORAL | VIDCF_FASTTEMPORALC;
    info->dwVersion = 1;
    info->dwVersionICM = ICVERSION;
    wcsncpy(info->szName, kShortName, std::size(info->szName) - 1);
    wcsncpy(info->szDescription, kDescription, std::size(info->szDescription) - 1);
    return sizeof(ICINFO);
}

LRESULT GetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    if (!InputTaken(in)) return ICERR_BADFORMAT;
    if (!out) return sizeof(BITMAPINFOHEADER);
    std::memset(out, 0, sizeof *out);
    out->biSize = sizeof(BITMAPINFOHEADER);
    out->biWidth = in->biWidth;
    out->biHeight = in->biHeight < 0 ? -in->biHeight : in->biHeight;
    out->biPlanes = 1;
    out->biBitCount = 24;
    out->biCompression = kOutputTag;
    out->biSizeImage = MaxPictureBytes(in);
    return ICERR_OK;
}

// The driver library the registration names: beside this one.
std::string DriverPath() {
    char path[MAX_PATH] = {};
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&DriverPath), &self);
    const DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::string s(path, n);
    const size_t slash = s.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : s.substr(0, slash + 1)) + kDriverFile;
}

std::string ReadValue(HKEY key, const char* name) {
    char text[MAX_PATH + 1] = {};
    DWORD bytes = MAX_PATH, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    return std::string(text, strnlen(text, MAX_PATH));
}

}  // namespace

HRESULT RegisterDriver(const char* valueName, const wchar_t* description, bool install) {
    const std::string path = DriverPath();
    if (path.empty()) return E_FAIL;
    if (install && GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return E_FAIL;  // not installed beside
    HKEY drivers = nullptr, descriptions = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDriversKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &drivers,
                        nullptr) != ERROR_SUCCESS)
        return install ? E_ACCESSDENIED : S_OK;
    HRESULT hr = S_OK;
    const std::string current = ReadValue(drivers, valueName);
    if (install) {
        if (RegSetValueExA(drivers, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                           DWORD(path.size() + 1)) != ERROR_SUCCESS)
            hr = E_ACCESSDENIED;
    } else if (_stricmp(current.c_str(), path.c_str()) == 0) {
        // Only our own entry goes; a library of the same name installed elsewhere stays.
        RegDeleteValueA(drivers, valueName);
    }
    RegCloseKey(drivers);
    // Descriptions are kept by library path: of two drivers in one library only one
    // (`description` given) writes it.
    if (description && RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDescriptionsKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                                       &descriptions, nullptr) == ERROR_SUCCESS) {
        if (install && SUCCEEDED(hr)) {
            char text[160] = {};
            WideCharToMultiByte(CP_ACP, 0, description, -1, text, sizeof text - 1, nullptr, nullptr);
            RegSetValueExA(descriptions, path.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                           DWORD(strlen(text) + 1));
        } else if (!install) {
            RegDeleteValueA(descriptions, path.c_str());
        }
        RegCloseKey(descriptions);
    }
    return hr;
}

HRESULT RegisterCompressor(bool install) {
    return RegisterDriver(kValueName, kDescription, install);
}

}  // namespace fileengine

using fileengine::Compressor;

// One library answers for the video compressor and the audio codec.
extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2) {
    if (fileengine::IsAudioCodecMessage(id, message, p2))
        return fileengine::AudioCodecProc(id, driver, message, p1, p2);
    auto* self = reinterpret_cast<Compressor*>(id);
    switch (message) {
        case DRV_LOAD:
        case DRV_FREE:
        case DRV_ENABLE:
        case DRV_DISABLE:
            return 1;
        case DRV_OPEN: {
            auto* open = reinterpret_cast<ICOPEN*>(p2);
            // Opened without ICOPEN (to configure the driver) or for video compression only.
            if (open && open->fccType != ICTYPE_VIDEO) return 0;
            if (open && (open->dwFlags & (ICMODE_DECOMPRESS | ICMODE_DRAW))) {
                open->dwError = DWORD(ICERR_UNSUPPORTED);
                return 0;
            }
            auto* c = new (std::nothrow) Compressor;
            if (open) open->dwError = c ? ICERR_OK : DWORD(ICERR_MEMORY);
            return reinterpret_cast<LRESULT>(c);
        }
        case DRV_CLOSE:
            delete self;
            return 1;
        case DRV_QUERYCONFIGURE:
            return 0;
    }
    if (!self) return DefDriverProc(id, driver, message, p1, p2);
    switch (message) {
        case ICM_GETINFO:
            return fileengine::GetInfo(reinterpret_cast<ICINFO*>(p1), DWORD(p2));
        case ICM_CONFIGURE:
        case ICM_ABOUT:
            return ICERR_UNSUPPORTED;
        case ICM_GETSTATE:
            return 0;  // no settings of its own to keep
        case ICM_SETSTATE:
            return 0;
        case ICM_GETDEFAULTQUALITY:
            if (p1) *reinterpret_cast<DWORD*>(p1) = fileengine::kDefaultQuality;
            return ICERR_OK;
        case ICM_COMPRESS_QUERY: {
            const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
            const auto* out = reinterpret_cast<const BITMAPINFOHEADER*>(p2);
            if (!fileengine::InputTaken(in)) return ICERR_BADFORMAT;
            return !out || fileengine::OutputMatches(in, out) ? ICERR_OK : ICERR_BADFORMAT;
        }
        case ICM_COMPRESS_GET_FORMAT:
            return fileengine::GetFormat(reinterpret_cast<const BITMAPINFOHEADER*>(p1),
                                         reinterpret_cast<BITMAPINFOHEADER*>(p2));
        case ICM_COMPRESS_GET_SIZE: {
            const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
            return fileengine::InputTaken(in) ? LRESULT(fileengine::MaxPictureBytes(in)) : 0;
        }
        case ICM_COMPRESS_FRAMES_INFO:
            if (!p1) return ICERR_BADPARAM;
            self->FramesInfo(reinterpret_cast<const ICCOMPRESSFRAMES*>(p1));
            return ICERR_OK;
        case ICM_COMPRESS_BEGIN:
            return self->Begin(reinterpret_cast<const BITMAPINFOHEADER*>(p1),
                               reinterpret_cast<const BITMAPINFOHEADER*>(p2));
        case ICM_COMPRESS:
            if (!p1 || DWORD(p2) < sizeof(ICCOMPRESS)) return ICERR_BADPARAM;
            return self->Compress(reinterpret_cast<const ICCOMPRESS*>(p1));
        case ICM_COMPRESS_END:
            self->End();
            return ICERR_OK;
        default:
            if (message >= ICM_USER) return ICERR_UNSUPPORTED;
            return DefDriverProc(id, driver, message, p1, p2);
    }
}
