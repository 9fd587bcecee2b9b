#include "filters/base/media_type.h"

#include <uuids.h>

#include <cstddef>
#include <cstring>

void FreeMediaType(AM_MEDIA_TYPE& type) {
    if (type.pbFormat) CoTaskMemFree(type.pbFormat);
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    if (type.pUnk) type.pUnk->Release();
    type.pUnk = nullptr;
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return;
    FreeMediaType(*type);
    CoTaskMemFree(type);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
    *target = *source;
    if (source->cbFormat && source->pbFormat) {
        target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
        if (!target->pbFormat) {
            target->cbFormat = 0;
            target->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    } else {
        target->pbFormat = nullptr;
        target->cbFormat = 0;
    }
    if (target->pUnk) target->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!type) return nullptr;
    if (FAILED(CopyMediaType(type, source))) {
        CoTaskMemFree(type);
        return nullptr;
    }
    return type;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE{} {
    bFixedSizeSamples = TRUE;
    lSampleSize = 1;
}

CMediaType::CMediaType(const GUID* major) : CMediaType() {
    majortype = *major;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) : AM_MEDIA_TYPE{} {
    if (FAILED(CopyMediaType(this, &other))) *static_cast<AM_MEDIA_TYPE*>(this) = AM_MEDIA_TYPE{};
}

CMediaType::CMediaType(const CMediaType& other) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(other)) {}

CMediaType::~CMediaType() {
    FreeMediaType(*this);
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
    if (&other == this) return *this;
    FreeMediaType(*this);
    if (FAILED(CopyMediaType(this, &other))) *static_cast<AM_MEDIA_TYPE*>(this) = AM_MEDIA_TYPE{};
    return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other) {
    return *this = static_cast<const AM_MEDIA_TYPE&>(other);
}

bool CMediaType::operator==(const CMediaType& other) const {
    return majortype == other.majortype && subtype == other.subtype && formattype == other.formattype &&
           cbFormat == other.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0);
}

bool CMediaType::IsValid() const {
    if (majortype == GUID_NULL) return false;
    if (formattype != GUID_NULL && formattype != FORMAT_None) return cbFormat > 0 && pbFormat;
    return true;
}

bool CMediaType::IsPartiallySpecified() const {
    return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}

bool CMediaType::MatchesPartial(const CMediaType* partial) const {
    if (partial->majortype != GUID_NULL && partial->majortype != majortype) return false;
    if (partial->subtype != GUID_NULL && partial->subtype != subtype) return false;
    if (partial->formattype != GUID_NULL) {
        if (partial->formattype != formattype) return false;
        if (partial->cbFormat != cbFormat) return false;
        if (cbFormat && std::memcmp(partial->pbFormat, pbFormat, cbFormat) != 0) return false;
    }
    return true;
}

void CMediaType::SetSampleSize(ULONG size) {
    if (size == 0) {
        bFixedSizeSamples = FALSE;
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

bool CMediaType::SetFormat(const void* format, ULONG length) {
    BYTE* block = nullptr;
    if (length) {
        block = static_cast<BYTE*>(CoTaskMemAlloc(length));
        if (!block) return false;
        std::memcpy(block, format, length);
    }
    if (pbFormat) CoTaskMemFree(pbFormat);
    pbFormat = block;
    cbFormat = length;
    return true;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    BYTE* block = ReallocFormatBuffer(length);
    if (block) std::memset(block, 0, length);
    return block;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return nullptr;
    }
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block) return nullptr;
    std::memset(block, 0, length);
    if (pbFormat) {
        std::memcpy(block, pbFormat, cbFormat < length ? cbFormat : length);
        CoTaskMemFree(pbFormat);
    }
    pbFormat = block;
    cbFormat = length;
    return block;
}

void CMediaType::ResetFormatBuffer() {
    if (pbFormat) CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

namespace {

constexpr DWORD Fourcc(char a, char b, char c, char d) {
    return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
           (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}

const VideoFormatInfo kVideoFormats[] = {
    {&MEDIASUBTYPE_YV12, Fourcc('Y', 'V', '1', '2'), 12, 3, true},
    {&kMediaSubtypeI420, Fourcc('I', '4', '2', '0'), 12, 3, false},
    {&MEDIASUBTYPE_IYUV, Fourcc('I', 'Y', 'U', 'V'), 12, 3, false},
    {&MEDIASUBTYPE_YUY2, Fourcc('Y', 'U', 'Y', '2'), 16, 1, false},
    {&MEDIASUBTYPE_YVYU, Fourcc('Y', 'V', 'Y', 'U'), 16, 1, false},
    {&MEDIASUBTYPE_UYVY, Fourcc('U', 'Y', 'V', 'Y'), 16, 1, false},
    {&MEDIASUBTYPE_RGB32, BI_RGB, 32, 1, false},
    {&MEDIASUBTYPE_RGB24, BI_RGB, 24, 1, false},
};

// Offset of the bitmap header and the least block length for each video format type.
struct BitmapHeaderPlace {
    const GUID* format;
    size_t offset;
    size_t leastLength;
};
const BitmapHeaderPlace kBitmapHeaderPlaces[] = {
    {&FORMAT_VideoInfo, offsetof(VIDEOINFOHEADER, bmiHeader), sizeof(VIDEOINFOHEADER)},
    {&FORMAT_VideoInfo2, offsetof(VIDEOINFOHEADER2, bmiHeader), sizeof(VIDEOINFOHEADER2)},
    {&FORMAT_MPEGVideo, offsetof(MPEG1VIDEOINFO, hdr.bmiHeader), offsetof(MPEG1VIDEOINFO, bSequenceHeader)},
    {&FORMAT_MPEG2Video, offsetof(MPEG2VIDEOINFO, hdr.bmiHeader), offsetof(MPEG2VIDEOINFO, dwSequenceHeader)},
};

}  // namespace

const VideoFormatInfo* FindVideoFormat(REFGUID subtype) {
    for (const VideoFormatInfo& info : kVideoFormats)
        if (*info.subtype == subtype) return &info;
    return nullptr;
}

DWORD VideoImageSize(const VideoFormatInfo& info, LONG width, LONG height) {
    if (width <= 0 || height == 0) return 0;
    const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    uint64_t size;
    if (info.planes == 3)
        size = static_cast<uint64_t>(width) * rows * 3 / 2;
    else
        size = ((static_cast<uint64_t>(width) * info.bitCount + 31) / 32) * 4 * rows;
    return size > 0xFFFFFFFFull ? 0 : static_cast<DWORD>(size);
}

const BITMAPINFOHEADER* GetBitmapHeader(const AM_MEDIA_TYPE& type) {
    if (!type.pbFormat) return nullptr;
    for (const BitmapHeaderPlace& place : kBitmapHeaderPlaces)
        if (type.formattype == *place.format)
            return type.cbFormat >= place.leastLength
                       ? reinterpret_cast<const BITMAPINFOHEADER*>(type.pbFormat + place.offset)
                       : nullptr;
    return nullptr;
}

REFERENCE_TIME GetAvgTimePerFrame(const AM_MEDIA_TYPE& type) {
    if (!GetBitmapHeader(type)) return 0;
    // VIDEOINFOHEADER and VIDEOINFOHEADER2 (which also opens the MPEG-2 block) put
    // AvgTimePerFrame after the two rectangles and the two rates; MPEG1VIDEOINFO opens
    // with a VIDEOINFOHEADER.
    if (type.formattype == FORMAT_VideoInfo2 || type.formattype == FORMAT_MPEG2Video)
        return reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame;
    return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
}

HRESULT BuildVideoType(const VideoTypeParams& params, CMediaType* type) {
    const VideoFormatInfo* info = FindVideoFormat(*params.subtype);
    if (!info || params.width <= 0 || params.height <= 0) return E_INVALIDARG;
    const DWORD image = VideoImageSize(*info, params.width, params.height);
    if (image == 0) return E_INVALIDARG;

    BITMAPINFOHEADER bmi{};
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = params.width;
    bmi.biHeight = params.height;
    bmi.biPlanes = 1;
    bmi.biBitCount = info->bitCount;
    bmi.biCompression = info->fourcc;
    bmi.biSizeImage = image;
    const RECT rect{0, 0, params.width, params.height};
    const DWORD bitRate =
        static_cast<DWORD>(params.avgTimePerFrame > 0 ? static_cast<uint64_t>(image) * 8 * 10000000 /
                                                            static_cast<uint64_t>(params.avgTimePerFrame)
                                                      : 0);

    *type = CMediaType(&MEDIATYPE_Video);
    type->subtype = *params.subtype;
    type->SetSampleSize(image);
    type->bTemporalCompression = FALSE;
    if (params.videoInfo2) {
        auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(type->AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
        if (!vih) return E_OUTOFMEMORY;
        type->formattype = FORMAT_VideoInfo2;
        vih->rcSource = vih->rcTarget = rect;
        vih->dwBitRate = bitRate;
        vih->AvgTimePerFrame = params.avgTimePerFrame;
        vih->dwInterlaceFlags = params.interlaceFlags;
        vih->dwPictAspectRatioX = params.aspectX ? params.aspectX : static_cast<DWORD>(params.width);
        vih->dwPictAspectRatioY = params.aspectY ? params.aspectY : static_cast<DWORD>(params.height);
        vih->bmiHeader = bmi;
    } else {
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        if (!vih) return E_OUTOFMEMORY;
        type->formattype = FORMAT_VideoInfo;
        vih->rcSource = vih->rcTarget = rect;
        vih->dwBitRate = bitRate;
        vih->AvgTimePerFrame = params.avgTimePerFrame;
        vih->bmiHeader = bmi;
    }
    return S_OK;
}

HRESULT BuildMpeg2VideoType(REFGUID subtype, const MPEG2VIDEOINFO& info, const BYTE* header, DWORD headerLength,
                            CMediaType* type) {
    if (headerLength && !header) return E_POINTER;
    const size_t fixed = offsetof(MPEG2VIDEOINFO, dwSequenceHeader);
    // The block holds at least the whole structure, whose one-word sequence header
    // field is where the header bytes begin.
    size_t length = fixed + headerLength;
    if (length < sizeof(MPEG2VIDEOINFO)) length = sizeof(MPEG2VIDEOINFO);
    *type = CMediaType(&MEDIATYPE_Video);
    type->subtype = subtype;
    type->formattype = FORMAT_MPEG2Video;
    BYTE* block = type->AllocFormatBuffer(static_cast<ULONG>(length));
    if (!block) return E_OUTOFMEMORY;
    std::memcpy(block, &info, fixed);
    reinterpret_cast<MPEG2VIDEOINFO*>(block)->cbSequenceHeader = headerLength;
    if (headerLength) std::memcpy(block + fixed, header, headerLength);
    return S_OK;
}

const BYTE* GetMpeg2SequenceHeader(const AM_MEDIA_TYPE& type, DWORD* length) {
    *length = 0;
    const size_t fixed = offsetof(MPEG2VIDEOINFO, dwSequenceHeader);
    if (type.formattype != FORMAT_MPEG2Video || !type.pbFormat || type.cbFormat < fixed) return nullptr;
    const DWORD stated = reinterpret_cast<const MPEG2VIDEOINFO*>(type.pbFormat)->cbSequenceHeader;
    if (stated == 0 || stated > type.cbFormat - fixed) return nullptr;
    *length = stated;
    return type.pbFormat + fixed;
}

HRESULT BuildAudioType(REFGUID subtype, const WAVEFORMATEX& format, const BYTE* extra, CMediaType* type) {
    if (format.cbSize && !extra) return E_POINTER;
    *type = CMediaType(&MEDIATYPE_Audio);
    type->subtype = subtype;
    type->formattype = FORMAT_WaveFormatEx;
    type->SetSampleSize(format.nBlockAlign);
    BYTE* block = type->AllocFormatBuffer(sizeof(WAVEFORMATEX) + format.cbSize);
    if (!block) return E_OUTOFMEMORY;
    std::memcpy(block, &format, sizeof(WAVEFORMATEX));
    if (format.cbSize) std::memcpy(block + sizeof(WAVEFORMATEX), extra, format.cbSize);
    return S_OK;
}

const WAVEFORMATEX* GetWaveFormat(const AM_MEDIA_TYPE& type) {
    if (type.formattype != FORMAT_WaveFormatEx || !type.pbFormat || type.cbFormat < sizeof(WAVEFORMATEX))
        return nullptr;
    const auto* format = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    return type.cbFormat - sizeof(WAVEFORMATEX) >= format->cbSize ? format : nullptr;
}
