// The input conversion against an independent per-pixel reference written from the
// format definitions: every format, odd sizes (the last row and column repeated), DIB
// strides, bottom-up and top-down RGB, short sources refused.
#include "filters/encoder/input_convert.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

using ombrisk::ConvertInput;
using ombrisk::InputFormat;
using ombrisk::InputLayout;

struct Pixel {
    int y, cb, cr;
};

// The planar 4:2:0 reference picture: a YUV image (w x h) where chroma is given per 2x2
// block, plus what the RGB formula gives for an RGB image.
struct Reference {
    int w, h;
    std::vector<uint8_t> y, cb, cr;  // w x h luma, ceil(w/2) x ceil(h/2) chroma
};

Reference RandomYuv(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    Reference r{w, h, {}, {}, {}};
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    r.y.resize(size_t(w) * h);
    r.cb.resize(size_t(cw) * ch);
    r.cr.resize(size_t(cw) * ch);
    for (auto* v : {&r.y, &r.cb, &r.cr})
        for (auto& b : *v)
            b = uint8_t(rng());
    return r;
}

// The expected core picture (even size, YV12 order) of a 4:2:0 reference.
std::vector<uint8_t> ExpectedFromYuv(const Reference& r) {
    const int pw = r.w + (r.w & 1), ph = r.h + (r.h & 1);
    const int cw = (r.w + 1) / 2;
    std::vector<uint8_t> out;
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x)
            out.push_back(r.y[size_t(std::min(y, r.h - 1)) * r.w + std::min(x, r.w - 1)]);
    for (const auto* plane : {&r.cr, &r.cb})
        for (int y = 0; y < ph / 2; ++y)
            for (int x = 0; x < pw / 2; ++x)
                out.push_back((*plane)[size_t(y) * cw + x]);
    return out;
}

int Stride(int w, int bits) {
    return (w * bits + 31) / 32 * 4;
}

// Packs a reference in a source format. Packed 4:2:2 repeats each chroma row on both rows
// of its pair (so the average gives it back exactly); padding bytes hold noise.
std::vector<uint8_t> Pack(const Reference& r, InputFormat f) {
    const int w = r.w, h = r.h, cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::vector<uint8_t> s;
    switch (f) {
        case InputFormat::yv12:
        case InputFormat::i420:
        case InputFormat::iyuv: {
            s = r.y;
            const auto& first = f == InputFormat::yv12 ? r.cr : r.cb;
            const auto& second = f == InputFormat::yv12 ? r.cb : r.cr;
            s.insert(s.end(), first.begin(), first.end());
            s.insert(s.end(), second.begin(), second.end());
            (void)ch;
            return s;
        }
        default: {
            const int stride = Stride(w, 16);
            s.assign(size_t(stride) * h, 0xA5);
            for (int y = 0; y < h; ++y)
                for (int m = 0; m < cw; ++m) {
                    uint8_t* p = s.data() + size_t(y) * stride + 4 * m;
                    const uint8_t y0 = r.y[size_t(y) * w + 2 * m];
                    const uint8_t y1 = 2 * m + 1 < w ? r.y[size_t(y) * w + 2 * m + 1] : 0x5A;  // beyond the edge
                    const uint8_t u = r.cb[size_t(y / 2) * cw + m], v = r.cr[size_t(y / 2) * cw + m];
                    if (f == InputFormat::yuy2) {
                        p[0] = y0, p[1] = u, p[2] = y1, p[3] = v;
                    } else if (f == InputFormat::yvyu) {
                        p[0] = y0, p[1] = v, p[2] = y1, p[3] = u;
                    } else {
                        p[0] = u, p[1] = y0, p[2] = v, p[3] = y1;
                    }
                }
            return s;
        }
    }
}

TEST(InputConvert, YuvFormatsGiveThePlanesBackAtEverySize) {
    const InputFormat formats[] = {InputFormat::yv12, InputFormat::i420, InputFormat::iyuv,
                                   InputFormat::yuy2, InputFormat::yvyu, InputFormat::uyvy};
    const int sizes[][2] = {{16, 16}, {18, 20}, {17, 16}, {16, 17}, {33, 19}};
    for (const auto& sz : sizes) {
        for (InputFormat f : formats) {
            SCOPED_TRACE(testing::Message() << "format " << int(f) << " size " << sz[0] << "x" << sz[1]);
            const Reference r = RandomYuv(sz[0], sz[1], uint32_t(sz[0] * 31 + sz[1]));
            const std::vector<uint8_t> src = Pack(r, f);
            const InputLayout layout{f, sz[0], sz[1], false};
            ASSERT_EQ(ombrisk::InputPictureBytes(layout), int64_t(src.size()));
            const std::vector<uint8_t> expected = ExpectedFromYuv(r);
            std::vector<uint8_t> out(ombrisk::CodedPictureSize(sz[0], sz[1]).bytes(), 0xEE);
            ASSERT_EQ(out.size(), expected.size());
            ASSERT_TRUE(ConvertInput(layout, src.data(), src.size(), out.data()));
            EXPECT_EQ(out, expected);
            // One byte short: refused, nothing written.
            std::vector<uint8_t> untouched(out.size(), 0x11);
            EXPECT_FALSE(ConvertInput(layout, src.data(), src.size() - 1, untouched.data()));
            EXPECT_EQ(untouched, std::vector<uint8_t>(out.size(), 0x11));
        }
    }
}

TEST(InputConvert, PackedChromaIsTheFlooredAverageOfTheRowPair) {
    const InputLayout layout{InputFormat::yuy2, 16, 16, false};
    std::vector<uint8_t> src(size_t(32) * 16, 0);
    for (int y = 0; y < 16; ++y)
        for (int m = 0; m < 8; ++m) {
            src[size_t(y) * 32 + 4 * m + 1] = uint8_t(y % 2 ? 101 : 100);  // Cb
            src[size_t(y) * 32 + 4 * m + 3] = uint8_t(y % 2 ? 7 : 4);      // Cr
        }
    std::vector<uint8_t> out(ombrisk::CodedPictureSize(16, 16).bytes());
    ASSERT_TRUE(ConvertInput(layout, src.data(), src.size(), out.data()));
    EXPECT_EQ(out[256], 5);         // Cr: (4 + 7) >> 1
    EXPECT_EQ(out[256 + 64], 100);  // Cb: (100 + 101) >> 1
}

// BT.601 integer reference of one 2x2 block's chroma and each pixel's luma.
struct Rgb {
    int r, g, b;
};
int LumaOf(Rgb p) {
    return ((66 * p.r + 129 * p.g + 25 * p.b) >> 8) + 16;
}

TEST(InputConvert, RgbColoursOrientationStrideAndOddEdges) {
    // Fixed colours from the BT.601 tables.
    struct Case {
        Rgb rgb;
        int y, cb, cr;
    } colours[] = {{{255, 255, 255}, 235, 128, 128}, {{0, 0, 0}, 16, 128, 128}, {{255, 0, 0}, 81, 90, 239}};
    for (const Case& c : colours) {
        for (InputFormat f : {InputFormat::rgb24, InputFormat::rgb32}) {
            const int bytes = f == InputFormat::rgb32 ? 4 : 3;
            const InputLayout layout{f, 16, 16, false};
            std::vector<uint8_t> src(size_t(Stride(16, bytes * 8)) * 16);
            for (size_t i = 0; i + bytes <= src.size(); i += bytes)
                src[i] = uint8_t(c.rgb.b), src[i + 1] = uint8_t(c.rgb.g), src[i + 2] = uint8_t(c.rgb.r);
            std::vector<uint8_t> out(ombrisk::CodedPictureSize(16, 16).bytes());
            ASSERT_TRUE(ConvertInput(layout, src.data(), src.size(), out.data()));
            EXPECT_EQ(out[0], c.y);
            EXPECT_EQ(out[256], c.cr);
            EXPECT_EQ(out[256 + 64], c.cb);
        }
    }

    // A random 17x15 RGB24 picture (row stride 52 bytes with padding noise), bottom-up and
    // top-down, against a per-pixel reference with the edges repeated.
    const int w = 17, h = 15, stride = Stride(w, 24);
    std::mt19937 rng(7);
    std::vector<Rgb> pic(size_t(w) * h);
    for (Rgb& p : pic)
        p = {int(rng() & 255), int(rng() & 255), int(rng() & 255)};
    for (bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        std::vector<uint8_t> src(size_t(stride) * h, 0x77);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* px = src.data() + size_t(topDown ? y : h - 1 - y) * stride + 3 * x;
                const Rgb& p = pic[size_t(y) * w + x];
                px[0] = uint8_t(p.b), px[1] = uint8_t(p.g), px[2] = uint8_t(p.r);
            }
        const InputLayout layout{InputFormat::rgb24, w, h, topDown};
        ASSERT_EQ(ombrisk::InputPictureBytes(layout), int64_t(src.size()));
        const ombrisk::PlanarSize size = ombrisk::CodedPictureSize(w, h);
        std::vector<uint8_t> out(size.bytes());
        ASSERT_TRUE(ConvertInput(layout, src.data(), src.size(), out.data()));
        auto at = [&](int x, int y) { return pic[size_t(std::min(y, h - 1)) * w + std::min(x, w - 1)]; };
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x)
                ASSERT_EQ(out[size_t(y) * size.width + x], LumaOf(at(x, y))) << x << "," << y;
        const size_t cr = size.lumaBytes(), cb = cr + size.chromaBytes();
        for (int y = 0; y < size.height / 2; ++y)
            for (int x = 0; x < size.width / 2; ++x) {
                int sr = 0, sg = 0, sb = 0;
                for (int j = 0; j < 2; ++j)
                    for (int i = 0; i < 2; ++i) {
                        const Rgb p = at(2 * x + i, 2 * y + j);
                        sr += p.r, sg += p.g, sb += p.b;
                    }
                const size_t k = size_t(y) * (size.width / 2) + x;
                // Floor division by 1024 (the arithmetic shift).
                auto floorDiv = [](int v) { return v >= 0 ? v / 1024 : -((-v + 1023) / 1024); };
                ASSERT_EQ(out[cb + k], floorDiv(112 * sb - 74 * sg - 38 * sr) + 128) << x << "," << y;
                ASSERT_EQ(out[cr + k], floorDiv(112 * sr - 94 * sg - 18 * sb) + 128) << x << "," << y;
            }
    }
}

TEST(InputConvert, TopRowOfBottomUpRgbComesFirst) {
    const InputLayout layout{InputFormat::rgb32, 16, 16, false};
    std::vector<uint8_t> src(size_t(64) * 16, 0);
    // The last row in memory is the top of the picture: make it red.
    for (int x = 0; x < 16; ++x)
        src[size_t(15) * 64 + 4 * x + 2] = 255;
    std::vector<uint8_t> out(ombrisk::CodedPictureSize(16, 16).bytes());
    ASSERT_TRUE(ConvertInput(layout, src.data(), src.size(), out.data()));
    EXPECT_EQ(out[0], 81);
    EXPECT_EQ(out[16 * 15], 16);
}

}  // namespace
