#include "filters/decoder/output_types.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cstring>

namespace pelldrin {

namespace {

struct TypeRow {
    bool videoInfo2;
    const GUID* subtype;
    DWORD compression;
    WORD bitCount;
    PixelLayout layout;
    enum Extra { none, masks, palette } extra;
    DWORD mask[3];
};

constexpr DWORD Fourcc(char a, char b, char c, char d) {
    return static_cast<DWORD>(static_cast<unsigned char>(a)) | static_cast<DWORD>(static_cast<unsigned char>(b)) << 8 |
           static_cast<DWORD>(static_cast<unsigned char>(c)) << 16 |
           static_cast<DWORD>(static_cast<unsigned char>(d)) << 24;
}

const TypeRow kRows[kOutputTypeCount] = {
    {true, &MEDIASUBTYPE_UYVY, Fourcc('U', 'Y', 'V', 'Y'), 16, PixelLayout::uyvy, TypeRow::none, {}},
    {true, &MEDIASUBTYPE_YUY2, Fourcc('Y', 'U', 'Y', '2'), 16, PixelLayout::yuy2, TypeRow::none, {}},
    {true, &MEDIASUBTYPE_RGB32, BI_RGB, 32, PixelLayout::rgb32, TypeRow::none, {}},
    {true, &MEDIASUBTYPE_RGB24, BI_RGB, 24, PixelLayout::rgb24, TypeRow::none, {}},
    {true, &MEDIASUBTYPE_RGB565, BI_BITFIELDS, 16, PixelLayout::rgb565, TypeRow::masks, {0xF800, 0x07E0, 0x001F}},
    {true, &MEDIASUBTYPE_RGB555, BI_RGB, 16, PixelLayout::rgb555, TypeRow::none, {}},
    {true, &MEDIASUBTYPE_RGB8, BI_RGB, 8, PixelLayout::rgb8, TypeRow::palette, {}},
    {true, &MEDIASUBTYPE_YV12, Fourcc('Y', 'V', '1', '2'), 12, PixelLayout::yv12, TypeRow::none, {}},
    {false,
     &MEDIASUBTYPE_YUY2,
     Fourcc('Y', 'U', 'Y', '2'),
     16,
     PixelLayout::yuy2,
     TypeRow::masks,
     {0x00FF00FF, 0x0000FF00, 0xFF000000}},
    {false,
     &MEDIASUBTYPE_UYVY,
     Fourcc('U', 'Y', 'V', 'Y'),
     16,
     PixelLayout::uyvy,
     TypeRow::masks,
     {0xFF00FF00, 0x000000FF, 0x00FF0000}},
    {false, &MEDIASUBTYPE_RGB32, BI_RGB, 32, PixelLayout::rgb32, TypeRow::masks, {0x00FF0000, 0x0000FF00, 0x000000FF}},
    {false, &MEDIASUBTYPE_RGB24, BI_RGB, 24, PixelLayout::rgb24, TypeRow::masks, {0x00FF0000, 0x0000FF00, 0x000000FF}},
    {false, &MEDIASUBTYPE_RGB565, BI_BITFIELDS, 16, PixelLayout::rgb565, TypeRow::masks, {0xF800, 0x07E0, 0x001F}},
    {false, &MEDIASUBTYPE_RGB555, BI_RGB, 16, PixelLayout::rgb555, TypeRow::masks, {0x7C00, 0x03E0, 0x001F}},
    {false, &MEDIASUBTYPE_RGB8, BI_RGB, 8, PixelLayout::rgb8, TypeRow::palette, {}},
    {false, &MEDIASUBTYPE_YV12, Fourcc('Y', 'V', '1', '2'), 12, PixelLayout::yv12, TypeRow::none, {}},
};

// The twenty static colours of a palette device, used when the display has no palette.
const PALETTEENTRY kStaticColours[20] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},   {0, 0, 128, 0},
    {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0}, {192, 220, 192, 0}, {166, 202, 240, 0},
    {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},
    {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
};

void FillPalette(RGBQUAD* palette) {
    PALETTEENTRY system[20];
    std::memcpy(system, kStaticColours, sizeof(system));
    if (HDC dc = GetDC(nullptr)) {
        if (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) {
            PALETTEENTRY first[10], last[10];
            if (GetSystemPaletteEntries(dc, 0, 10, first) == 10 && GetSystemPaletteEntries(dc, 246, 10, last) == 10) {
                std::memcpy(system, first, sizeof(first));
                std::memcpy(system + 10, last, sizeof(last));
            }
        }
        ReleaseDC(nullptr, dc);
    }
    for (int i = 0; i < 256; ++i) {
        RGBQUAD& q = palette[i];
        q.rgbReserved = 0;
        if (i < 10 || i >= 246) {
            const PALETTEENTRY& e = system[i < 10 ? i : i - 236];
            q.rgbRed = e.peRed;
            q.rgbGreen = e.peGreen;
            q.rgbBlue = e.peBlue;
        } else {
            const PaletteColour c = FixedPaletteColour(i);
            q.rgbRed = c.red;
            q.rgbGreen = c.green;
            q.rgbBlue = c.blue;
        }
    }
}

DWORD BitRate(DWORD imageSize, int32_t frameDuration) {
    // Bits per second of the uncompressed pictures; 0 when the frame rate is unknown.
    if (frameDuration <= 0) return 0;
    const unsigned long long rate = static_cast<unsigned long long>(imageSize) * 80000000ull / frameDuration;
    return rate > 0xFFFFFFFEull ? 0xFFFFFFFEu : static_cast<DWORD>(rate);
}

void FillBitmap(const OutputGeometry& g, BITMAPINFOHEADER* bmi, PixelLayout layout) {
    bmi->biSize = sizeof(BITMAPINFOHEADER);
    bmi->biWidth = g.width;
    bmi->biHeight = std::abs(g.bottom - g.top);
    bmi->biPlanes = 1;
    bmi->biXPelsPerMeter = g.pelsPerMeterX;
    bmi->biYPelsPerMeter = g.pelsPerMeterY;
    bmi->biSizeImage = BitmapImageSize(layout, bmi->biWidth, bmi->biHeight);
}

}  // namespace

HRESULT GetOutputMediaType(int position, const OutputGeometry& g, bool enableVideoInfo, CMediaType* type) {
    if (!type) return E_POINTER;
    if (position < 0) return E_INVALIDARG;
    if (position >= kOutputTypeCount || (!enableVideoInfo && position >= kVideoInfo2TypeCount))
        return VFW_S_NO_MORE_ITEMS;
    const TypeRow& row = kRows[position];
    const ULONG header = row.videoInfo2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER);
    const ULONG extra = row.extra == TypeRow::masks     ? 3 * sizeof(DWORD)
                        : row.extra == TypeRow::palette ? 256 * sizeof(RGBQUAD)
                                                        : 0;
    CMediaType built;
    BYTE* block = built.AllocFormatBuffer(header + extra);
    if (!block) return E_OUTOFMEMORY;
    const RECT rect = {g.left, 0, g.right, std::abs(g.bottom - g.top)};
    BITMAPINFOHEADER* bmi;
    if (row.videoInfo2) {
        auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(block);
        vih->rcSource = vih->rcTarget = rect;
        vih->AvgTimePerFrame = g.avgTimePerFrame;
        vih->dwInterlaceFlags = 0x41;
        vih->dwCopyProtectFlags = 1;
        vih->dwPictAspectRatioX = static_cast<DWORD>(g.aspectX);
        vih->dwPictAspectRatioY = static_cast<DWORD>(g.aspectY);
        bmi = &vih->bmiHeader;
    } else {
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block);
        vih->rcSource = vih->rcTarget = rect;
        vih->AvgTimePerFrame = g.avgTimePerFrame;
        bmi = &vih->bmiHeader;
    }
    FillBitmap(g, bmi, row.layout);
    bmi->biBitCount = row.bitCount;
    bmi->biCompression = row.compression;
    if (row.videoInfo2)
        reinterpret_cast<VIDEOINFOHEADER2*>(block)->dwBitRate = BitRate(bmi->biSizeImage, g.avgTimePerFrame);
    else
        reinterpret_cast<VIDEOINFOHEADER*>(block)->dwBitRate = BitRate(bmi->biSizeImage, g.avgTimePerFrame);
    if (row.extra == TypeRow::masks) {
        std::memcpy(block + header, row.mask, sizeof(row.mask));
    } else if (row.extra == TypeRow::palette) {
        FillPalette(reinterpret_cast<RGBQUAD*>(block + header));
        bmi->biClrUsed = 256;
    }
    built.SetType(&MEDIATYPE_Video);
    built.SetSubtype(row.subtype);
    built.SetFormatType(row.videoInfo2 ? &FORMAT_VideoInfo2 : &FORMAT_VideoInfo);
    built.SetTemporalCompression(false);
    built.SetSampleSize(bmi->biSizeImage);
    *type = built;
    return type->FormatLength() == built.FormatLength() ? S_OK : E_OUTOFMEMORY;
}

bool ReadOutputFormat(const AM_MEDIA_TYPE& type, OutputFormat* format) {
    const BITMAPINFOHEADER* bmi = nullptr;
    const RECT* target = nullptr;
    ULONG headerEnd = 0;
    if (type.formattype == FORMAT_VideoInfo2 && type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat);
        bmi = &vih->bmiHeader;
        target = &vih->rcTarget;
        headerEnd = sizeof(VIDEOINFOHEADER2);
    } else if (type.formattype == FORMAT_VideoInfo && type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
        bmi = &vih->bmiHeader;
        target = &vih->rcTarget;
        headerEnd = sizeof(VIDEOINFOHEADER);
    } else {
        return false;
    }
    PixelLayout known = PixelLayout::unknown;
    if (type.subtype == MEDIASUBTYPE_YUY2)
        known = PixelLayout::yuy2;
    else if (type.subtype == MEDIASUBTYPE_UYVY)
        known = PixelLayout::uyvy;
    else if (type.subtype == MEDIASUBTYPE_YV12)
        known = PixelLayout::yv12;
    else if (type.subtype == kMediaSubtypeI420 || type.subtype == MEDIASUBTYPE_IYUV)
        known = PixelLayout::i420;
    else if (type.subtype == MEDIASUBTYPE_RGB24)
        known = PixelLayout::rgb24;
    else if (type.subtype == MEDIASUBTYPE_RGB32)
        known = PixelLayout::rgb32;
    else if (type.subtype == MEDIASUBTYPE_RGB565)
        known = PixelLayout::rgb565;
    else if (type.subtype == MEDIASUBTYPE_RGB555)
        known = PixelLayout::rgb555;
    else if (type.subtype == MEDIASUBTYPE_RGB8)
        known = PixelLayout::rgb8;
    uint32_t masks[3] = {0, 0, 0};
    const bool hasMasks = type.cbFormat >= headerEnd + sizeof(masks);
    if (hasMasks) std::memcpy(masks, type.pbFormat + headerEnd, sizeof(masks));
    format->layout = LayoutFromBitmap(known, bmi->biBitCount, bmi->biCompression == BI_BITFIELDS && hasMasks, masks);
    format->bitmapWidth = bmi->biWidth;
    format->bitmapHeight = bmi->biHeight;
    format->targetLeft = target->left;
    format->targetTop = target->top;
    format->targetRight = target->right;
    format->targetBottom = target->bottom;
    return format->layout != PixelLayout::unknown;
}

HRESULT ResizeOutputMediaType(const OutputGeometry& g, CMediaType* type) {
    OutputFormat format;
    if (!ReadOutputFormat(*type, &format)) return VFW_E_TYPE_NOT_ACCEPTED;
    const RECT rect = {g.left, 0, g.right, std::abs(g.bottom - g.top)};
    BITMAPINFOHEADER* bmi;
    if (type->formattype == FORMAT_VideoInfo2) {
        auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(type->pbFormat);
        vih->rcSource = vih->rcTarget = rect;
        vih->AvgTimePerFrame = g.avgTimePerFrame;
        vih->dwPictAspectRatioX = static_cast<DWORD>(g.aspectX);
        vih->dwPictAspectRatioY = static_cast<DWORD>(g.aspectY);
        bmi = &vih->bmiHeader;
    } else {
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
        vih->rcSource = vih->rcTarget = rect;
        vih->AvgTimePerFrame = g.avgTimePerFrame;
        bmi = &vih->bmiHeader;
    }
    const bool topDown = bmi->biHeight < 0;
    FillBitmap(g, bmi, format.layout);
    if (topDown) bmi->biHeight = -bmi->biHeight;
    type->SetSampleSize(bmi->biSizeImage);
    return S_OK;
}

}  // namespace pelldrin
