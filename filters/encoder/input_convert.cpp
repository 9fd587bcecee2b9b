#include "filters/encoder/input_convert.h"

#include <algorithm>
#include <cstring>

namespace ombrisk {
namespace {

bool IsPlanar(InputFormat f) {
    return f == InputFormat::yv12 || f == InputFormat::i420 || f == InputFormat::iyuv;
}
bool IsRgb(InputFormat f) {
    return f == InputFormat::rgb32 || f == InputFormat::rgb24;
}
int BitsPerPixel(InputFormat f) {
    switch (f) {
        case InputFormat::rgb32:
            return 32;
        case InputFormat::rgb24:
            return 24;
        case InputFormat::yuy2:
        case InputFormat::yvyu:
        case InputFormat::uyvy:
            return 16;
        default:
            return 12;
    }
}

struct Planes {
    uint8_t* y;
    uint8_t* cr;
    uint8_t* cb;
    int width;  // even
    int height;
};

Planes PlanesOf(uint8_t* out, const PlanarSize& size) {
    return {out, out + size.lumaBytes(), out + size.lumaBytes() + size.chromaBytes(), size.width, size.height};
}

// Plane of w x h samples (rows of w bytes) into a plane of pw x ph, repeating the last
// column and row.
void CopyPadded(const uint8_t* src, int w, int h, uint8_t* dst, int pw, int ph) {
    for (int y = 0; y < ph; ++y) {
        const uint8_t* s = src + size_t(std::min(y, h - 1)) * size_t(w);
        uint8_t* d = dst + size_t(y) * size_t(pw);
        std::memcpy(d, s, size_t(w));
        for (int x = w; x < pw; ++x)
            d[x] = s[w - 1];
    }
}

void ConvertPlanar(const InputLayout& in, const uint8_t* src, const Planes& p) {
    const int w = in.width, h = in.height;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    const uint8_t* first = src + size_t(w) * size_t(h);
    const uint8_t* second = first + size_t(cw) * size_t(ch);
    // YV12 carries Cr first; I420 and IYUV carry Cb first.
    const bool crFirst = in.format == InputFormat::yv12;
    CopyPadded(src, w, h, p.y, p.width, p.height);
    CopyPadded(crFirst ? first : second, cw, ch, p.cr, p.width / 2, p.height / 2);
    CopyPadded(crFirst ? second : first, cw, ch, p.cb, p.width / 2, p.height / 2);
}

// Packed 4:2:2 (top-down): luma unchanged, each chroma sample the average (rounding down)
// of the two source rows of its row pair. A macropixel holds two pixels, so an odd width
// reads the last macropixel whole and repeats its first luma sample into the padding.
void ConvertPacked(const InputLayout& in, const uint8_t* src, int64_t stride, const Planes& p) {
    const int w = in.width, h = in.height;
    // Byte offsets inside a macropixel: the two luma samples, the first and second chroma.
    int y0 = 0, y1 = 2, c0 = 1, c1 = 3;
    if (in.format == InputFormat::uyvy) {
        y0 = 1;
        y1 = 3;
        c0 = 0;
        c1 = 2;
    }
    // YUY2 and UYVY carry Cb first; YVYU carries Cr first.
    const bool crFirst = in.format == InputFormat::yvyu;
    const int pairs = p.width / 2;
    for (int y = 0; y < p.height; ++y) {
        const uint8_t* row = src + std::min(y, h - 1) * stride;
        uint8_t* dy = p.y + size_t(y) * size_t(p.width);
        for (int m = 0; m < pairs; ++m) {
            dy[2 * m] = row[4 * m + y0];
            dy[2 * m + 1] = 2 * m + 1 < w ? row[4 * m + y1] : row[4 * m + y0];
        }
    }
    for (int cy = 0; cy < p.height / 2; ++cy) {
        const uint8_t* a = src + std::min(2 * cy, h - 1) * stride;
        const uint8_t* b = src + std::min(2 * cy + 1, h - 1) * stride;
        uint8_t* dcr = p.cr + size_t(cy) * size_t(pairs);
        uint8_t* dcb = p.cb + size_t(cy) * size_t(pairs);
        for (int m = 0; m < pairs; ++m) {
            const uint8_t first = uint8_t((a[4 * m + c0] + b[4 * m + c0]) >> 1);
            const uint8_t second = uint8_t((a[4 * m + c1] + b[4 * m + c1]) >> 1);
            dcb[m] = crFirst ? second : first;
            dcr[m] = crFirst ? first : second;
        }
    }
}

// RGB (blue, green, red[, unused]) by the BT.601 integer coefficients: Y =
// ((66 R + 129 G + 25 B) >> 8) + 16; chroma from the sums over each 2 x 2 block, shifted
// arithmetically (rounding toward minus infinity). Pixels beyond an odd edge repeat the
// last column or row.
void ConvertRgb(const InputLayout& in, const uint8_t* src, int64_t stride, const Planes& p) {
    const int w = in.width, h = in.height;
    const int bytes = in.format == InputFormat::rgb32 ? 4 : 3;
    auto row = [&](int y) {
        const int r = std::min(y, h - 1);
        return src + (in.topDown ? r : h - 1 - r) * stride;
    };
    for (int cy = 0; cy < p.height / 2; ++cy) {
        const uint8_t* rows[2] = {row(2 * cy), row(2 * cy + 1)};
        uint8_t* dy[2] = {p.y + size_t(2 * cy) * size_t(p.width), p.y + size_t(2 * cy + 1) * size_t(p.width)};
        for (int cx = 0; cx < p.width / 2; ++cx) {
            int sr = 0, sg = 0, sb = 0;
            for (int j = 0; j < 2; ++j) {
                for (int i = 0; i < 2; ++i) {
                    const int x = 2 * cx + i;
                    const uint8_t* px = rows[j] + std::min(x, w - 1) * bytes;
                    const int b = px[0], g = px[1], r = px[2];
                    dy[j][x] = uint8_t(((66 * r + 129 * g + 25 * b) >> 8) + 16);
                    sr += r;
                    sg += g;
                    sb += b;
                }
            }
            p.cb[size_t(cy) * size_t(p.width / 2) + cx] = uint8_t(((112 * sb - 74 * sg - 38 * sr) >> 10) + 128);
            p.cr[size_t(cy) * size_t(p.width / 2) + cx] = uint8_t(((112 * sr - 94 * sg - 18 * sb) >> 10) + 128);
        }
    }
}

}  // namespace

PlanarSize CodedPictureSize(int width, int height) {
    return {width + (width & 1), height + (height & 1)};
}

int64_t InputRowStride(const InputLayout& in) {
    if (IsPlanar(in.format) || in.width <= 0) return 0;
    return (int64_t(in.width) * BitsPerPixel(in.format) + 31) / 32 * 4;
}

int64_t InputPictureBytes(const InputLayout& in) {
    if (in.width <= 0 || in.height <= 0) return 0;
    if (IsPlanar(in.format)) {
        const int64_t cw = (in.width + 1) / 2, ch = (in.height + 1) / 2;
        return int64_t(in.width) * in.height + 2 * cw * ch;
    }
    return InputRowStride(in) * in.height;
}

bool InputIsCorePicture(const InputLayout& in) {
    return in.format == InputFormat::yv12 && in.width % 2 == 0 && in.height % 2 == 0;
}

bool ConvertInput(const InputLayout& in, const uint8_t* source, size_t sourceBytes, uint8_t* out) {
    const int64_t need = InputPictureBytes(in);
    if (!source || !out || need <= 0 || uint64_t(need) > sourceBytes) return false;
    const Planes p = PlanesOf(out, CodedPictureSize(in.width, in.height));
    if (IsPlanar(in.format))
        ConvertPlanar(in, source, p);
    else if (IsRgb(in.format))
        ConvertRgb(in, source, InputRowStride(in), p);
    else
        ConvertPacked(in, source, InputRowStride(in), p);
    return true;
}

}  // namespace ombrisk
