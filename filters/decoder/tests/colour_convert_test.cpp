// The output colour converter against references written here from ITU-R BT.601 and the
// packing rules, against swscale's RGB output, and on the bounds of the buffers it writes.
#include "filters/decoder/colour_convert.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/media_fixture.h"

namespace pelldrin {
namespace {

// A picture in the frame store's layout: luma of pitch P with border rows, and chroma
// rows of the same pitch holding U in the left half and V in the right half.
struct StorePicture {
    int width, height, pitch;
    std::vector<uint8_t> luma, chroma;
    StorePicture(int w, int h)
        : width(w), height(h), pitch(w + 64), luma(pitch * (h + 8)), chroma(pitch * (h / 2 + 4)) {}
    uint8_t& Y(int x, int y) { return luma[y * pitch + x]; }
    uint8_t& U(int x, int y) { return chroma[y * pitch + x]; }
    uint8_t& V(int x, int y) { return chroma[y * pitch + pitch / 2 + x]; }
    SourcePicture Source() const { return {luma.data(), chroma.data(), chroma.data() + pitch / 2, pitch, height}; }
    void Fill(unsigned seed) {
        std::mt19937 rng(seed);
        for (auto& b : luma)
            b = static_cast<uint8_t>(rng());
        for (auto& b : chroma)
            b = static_cast<uint8_t>(rng());
    }
};

OutputGeometry Geometry(int w, int h) {
    return {400000, w, h, 0, 0, w, h, w, h, 2868, 2868};
}

// BT.601 studio range, in double precision, rounded: the reference of the RGB outputs.
void Bt601(int y, int u, int v, int* r, int* g, int* b) {
    const double l = 1.164383 * (y - 16), cu = u - 128.0, cv = v - 128.0;
    auto clamp = [](double x) { return std::clamp(static_cast<int>(std::floor(x + 0.5)), 0, 255); };
    *r = clamp(l + 1.596027 * cv);
    *g = clamp(l - 0.391762 * cu - 0.812968 * cv);
    *b = clamp(l + 2.017232 * cu);
}

// Converts `pic` into a fresh buffer filled with 0xCD, with `slack` bytes after what the
// converter says it writes.
std::vector<uint8_t> ConvertInto(ColourConverter& c, const StorePicture& pic, bool interlaced = false, int damage = 0,
                                 size_t slack = 64) {
    std::vector<uint8_t> out(c.RequiredBytes() + slack, 0xCD);
    EXPECT_EQ(c.Convert(pic.Source(), out.data(), c.RequiredBytes(), interlaced, damage), 0);
    for (size_t i = c.RequiredBytes(); i < out.size(); ++i) {
        EXPECT_EQ(out[i], 0xCD) << "written past the end at " << i;
        if (out[i] != 0xCD) break;
    }
    return out;
}

TEST(ColourConvertTest, RgbKindsFollowBt601InBothLineOrders) {
    const int w = 48, h = 16;
    StorePicture pic(w, h);
    pic.Fill(7);
    OutputGeometry geo = Geometry(w, h);
    struct Case {
        PixelLayout layout;
        int bytes;
        bool bottomUp;
    };
    for (const Case& k : {Case{PixelLayout::rgb24, 3, true}, Case{PixelLayout::rgb24, 3, false},
                          Case{PixelLayout::rgb32, 4, true}, Case{PixelLayout::rgb32, 4, false}}) {
        SCOPED_TRACE(k.bytes * 10 + k.bottomUp);
        ColourConverter c(&geo);
        ASSERT_TRUE(c.SetOutputType({k.layout, w, k.bottomUp ? h : -h}));
        const auto out = ConvertInto(c, pic);
        const int stride = (w * k.bytes + 3) & ~3;
        int worst = 0;
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = out.data() + (k.bottomUp ? h - 1 - y : y) * stride;
            for (int x = 0; x < w; ++x) {
                int r, g, b;
                Bt601(pic.Y(x, y), pic.U(x / 2, y / 2), pic.V(x / 2, y / 2), &r, &g, &b);
                const uint8_t* p = row + x * k.bytes;
                worst = std::max({worst, std::abs(p[0] - b), std::abs(p[1] - g), std::abs(p[2] - r)});
                if (k.bytes == 4) {
                    ASSERT_EQ(p[3], 0);
                }
            }
        }
        EXPECT_LE(worst, 1);
    }
    // White and the strongest blue reach full scale.
    StorePicture white(16, 2);
    std::fill(white.luma.begin(), white.luma.end(), 255);
    std::fill(white.chroma.begin(), white.chroma.end(), 255);
    OutputGeometry small = Geometry(16, 2);
    ColourConverter c(&small);
    ASSERT_TRUE(c.SetOutputType({PixelLayout::rgb32, 16, -2}));
    EXPECT_EQ(ConvertInto(c, white)[0], 255);  // B
}

// swscale with exact rounding and chroma taken from the nearest sample (as the converter
// does) gives the same bytes.
TEST(ColourConvertTest, RgbMatchesSwscale) {
    std::string yuv, rgb;
    const std::string src = "-f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 2 -pix_fmt yuv420p";
    ASSERT_TRUE(testsupport::MediaFixture("ffmpeg -v error -y " + src + " -f rawvideo {out}", "yuv", &yuv));
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -v error -y " + src +
            " -sws_flags neighbor+accurate_rnd+full_chroma_int -pix_fmt bgr24 -f rawvideo {out}",
        "bgr", &rgb));
    std::ifstream yf(yuv, std::ios::binary), rf(rgb, std::ios::binary);
    std::vector<uint8_t> y((std::istreambuf_iterator<char>(yf)), {}), r((std::istreambuf_iterator<char>(rf)), {});
    const int w = 176, h = 144;
    ASSERT_EQ(y.size(), size_t(w * h * 3 / 2 * 2));
    ASSERT_EQ(r.size(), size_t(w * h * 3 * 2));
    OutputGeometry geo = Geometry(w, h);
    ColourConverter c(&geo);
    ASSERT_TRUE(c.SetOutputType({PixelLayout::rgb24, w, -h}));
    int worst = 0, differ = 0;
    for (int f = 0; f < 2; ++f) {
        StorePicture pic(w, h);
        const uint8_t* in = y.data() + f * w * h * 3 / 2;
        for (int row = 0; row < h; ++row)
            std::copy_n(in + row * w, w, &pic.Y(0, row));
        for (int row = 0; row < h / 2; ++row) {
            std::copy_n(in + w * h + row * w / 2, w / 2, &pic.U(0, row));
            std::copy_n(in + w * h * 5 / 4 + row * w / 2, w / 2, &pic.V(0, row));
        }
        const auto out = ConvertInto(c, pic);
        for (int i = 0; i < w * h * 3; ++i) {
            const int d = std::abs(out[i] - r[f * w * h * 3 + i]);
            worst = std::max(worst, d);
            differ += d != 0;
        }
    }
    EXPECT_EQ(worst, 0) << differ << " bytes differ";
}

TEST(ColourConvertTest, SixteenBitLayoutsPackTheirChannels) {
    // One grey-blue pixel pair and a white pair, every 16-bit layout in both line orders.
    StorePicture pic(16, 2);
    std::fill(pic.luma.begin(), pic.luma.end(), 235);
    std::fill(pic.chroma.begin(), pic.chroma.end(), 128);
    pic.Y(0, 0) = pic.Y(1, 0) = 100;
    pic.U(0, 0) = 200;
    pic.V(0, 0) = 90;
    OutputGeometry geo = Geometry(16, 2);
    struct Case {
        PixelLayout layout;
        int rBits, gBits, bBits, rShift, gShift;
    };
    for (const Case& k : {Case{PixelLayout::rgb565, 5, 6, 5, 11, 5}, Case{PixelLayout::rgb555, 5, 5, 5, 10, 5},
                          Case{PixelLayout::rgb444, 4, 4, 4, 8, 4}}) {
        for (bool bottomUp : {true, false}) {
            ColourConverter c(&geo);
            ASSERT_TRUE(c.SetOutputType({k.layout, 16, bottomUp ? 2 : -2}));
            const auto out = ConvertInto(c, pic);
            const uint8_t* row0 = out.data() + (bottomUp ? 32 : 0);
            auto word = [&](int x) { return row0[2 * x] | (row0[2 * x + 1] << 8); };
            // Expected from the rounded-down BT.601 sums, n bits per channel.
            const double l = 1.164383 * (100 - 16), cu = 72, cv = -38;
            auto ch = [](double v, int bits) {
                return std::clamp(static_cast<int>(std::floor(v)) >> (8 - bits), 0, (1 << bits) - 1);
            };
            const int expected = (ch(l + 1.596027 * cv, k.rBits) << k.rShift) |
                                 (ch(l - 0.391762 * cu - 0.812968 * cv, k.gBits) << k.gShift) |
                                 ch(l + 2.017232 * cu, k.bBits);
            EXPECT_EQ(word(0), expected) << int(k.layout) << bottomUp;
            const int white =
                ((1 << k.rBits) - 1) << k.rShift | ((1 << k.gBits) - 1) << k.gShift | ((1 << k.bBits) - 1);
            EXPECT_EQ(word(2), white);
        }
    }
    // The layout of a type by its bit count and masks.
    const uint32_t m565[3] = {0xF800, 0x07E0, 0x001F}, m444[3] = {0x0F00, 0x00F0, 0x000F},
                   mOther[3] = {0x0F00, 0x00F0, 0x0001};
    EXPECT_EQ(LayoutFromBitmap(PixelLayout::unknown, 16, true, m565), PixelLayout::rgb565);
    EXPECT_EQ(LayoutFromBitmap(PixelLayout::unknown, 16, true, m444), PixelLayout::rgb444);
    EXPECT_EQ(LayoutFromBitmap(PixelLayout::unknown, 16, true, mOther), PixelLayout::rgb555);
    EXPECT_EQ(LayoutFromBitmap(PixelLayout::unknown, 16, false, m565), PixelLayout::rgb555);
    EXPECT_EQ(LayoutFromBitmap(PixelLayout::unknown, 32, false, nullptr), PixelLayout::rgb32);
    EXPECT_EQ(LayoutFromBitmap(PixelLayout::unknown, 8, false, nullptr), PixelLayout::unknown);
    EXPECT_EQ(LayoutFromBitmap(PixelLayout::yv12, 12, false, nullptr), PixelLayout::yv12);
}

TEST(ColourConvertTest, PackedAndPlanarYuvCarryTheSamples) {
    const int w = 40, h = 10;  // a width that is not a multiple of 16
    StorePicture pic(w, h);
    pic.Fill(3);
    OutputGeometry geo = Geometry(w, h);
    for (bool uyvy : {false, true}) {
        ColourConverter c(&geo);
        ASSERT_TRUE(c.SetOutputType({uyvy ? PixelLayout::uyvy : PixelLayout::yuy2, w, h}));
        const auto out = ConvertInto(c, pic, false, 0, 256);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; x += 2) {
                const uint8_t* p = out.data() + y * w * 2 + x * 2;
                const uint8_t want[4] = {pic.Y(x, y), pic.U(x / 2, y / 2), pic.Y(x + 1, y), pic.V(x / 2, y / 2)};
                if (uyvy)
                    ASSERT_TRUE(p[0] == want[1] && p[1] == want[0] && p[2] == want[3] && p[3] == want[2])
                        << x << "," << y;
                else
                    ASSERT_TRUE(std::equal(want, want + 4, p)) << x << "," << y;
            }
    }
    // YV12 and I420: contiguous planes at the bitmap's width, V or U first.
    for (bool i420 : {false, true}) {
        ColourConverter c(&geo);
        ASSERT_TRUE(c.SetOutputType({i420 ? PixelLayout::i420 : PixelLayout::yv12, w, h}));
        EXPECT_EQ(c.RequiredBytes(), size_t(w * h * 3 / 2));
        const auto out = ConvertInto(c, pic);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(out[y * w + x], pic.Y(x, y));
        const uint8_t* first = out.data() + w * h;
        const uint8_t* second = first + w * h / 4;
        for (int y = 0; y < h / 2; ++y)
            for (int x = 0; x < w / 2; ++x) {
                ASSERT_EQ(first[y * w / 2 + x], i420 ? pic.U(x, y) : pic.V(x, y));
                ASSERT_EQ(second[y * w / 2 + x], i420 ? pic.V(x, y) : pic.U(x, y));
            }
    }
}

TEST(ColourConvertTest, CropAndTargetPlaceTheRows) {
    // A 32x16 picture cropped to rows 2..14; a target rectangle at (4, 3) in a 48x20 bitmap.
    StorePicture pic(32, 16);
    pic.Fill(11);
    OutputGeometry geo = Geometry(32, 16);
    geo.top = 2;
    geo.bottom = 14;
    ColourConverter c(&geo);
    ASSERT_TRUE(c.SetOutputType({PixelLayout::rgb32, 48, -20, 4, 3, 36, 15}));
    EXPECT_EQ(c.RowCount(), 12);
    EXPECT_EQ(c.Offset(), 48 * 4 * 3 + 4 * 4);
    const auto out = ConvertInto(c, pic, false, 0, 0);
    // The first written pixel is picture row 2, column 0; the pixel before it is untouched.
    int r, g, b;
    Bt601(pic.Y(0, 2), pic.U(0, 1), pic.V(0, 1), &r, &g, &b);
    const uint8_t* p = out.data() + c.Offset();
    EXPECT_NEAR(p[0], b, 1);
    EXPECT_NEAR(p[2], r, 1);
    EXPECT_EQ(p[-1], 0xCD);
    // Types the converter refuses: a target outside the bitmap, an odd planar width, no layout.
    EXPECT_FALSE(c.SetOutputType({PixelLayout::rgb32, 48, -20, 60, 0, 70, 10}));
    EXPECT_FALSE(c.SetOutputType({PixelLayout::yv12, 33, 16}));
    EXPECT_FALSE(c.SetOutputType({PixelLayout::yv12, 32, 16, 2, 2, 30, 14}));
    EXPECT_FALSE(c.SetOutputType({PixelLayout::unknown, 32, 16}));
    EXPECT_FALSE(c.SetOutputType({PixelLayout::rgb24, 0, 16}));
    // The last good set-up stays; a buffer or a source too small is refused unwritten.
    std::vector<uint8_t> small(c.RequiredBytes() - 1, 0xCD);
    EXPECT_EQ(c.Convert(pic.Source(), small.data(), small.size(), false, 0), 1);
    EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](uint8_t v) { return v == 0xCD; }));
    SourcePicture shortSource = pic.Source();
    shortSource.rows = 12;
    std::vector<uint8_t> full(c.RequiredBytes(), 0xCD);
    EXPECT_EQ(c.Convert(shortSource, full.data(), full.size(), false, 0), 1);
    // A bitmap narrower than the picture converts only the columns it holds.
    ASSERT_TRUE(c.SetOutputType({PixelLayout::rgb24, 20, 12}));
    EXPECT_EQ(c.Columns(), 20);
    ConvertInto(c, pic, false, 0, 16);
}

TEST(ColourConvertTest, DamagedFieldIsReplacedByTheIntactOne) {
    const int w = 16, h = 8;
    StorePicture pic(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            pic.Y(x, y) = static_cast<uint8_t>(20 + 10 * y);
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x)
            pic.U(x, y) = pic.V(x, y) = static_cast<uint8_t>(100 + y);
    OutputGeometry geo = Geometry(w, h);
    struct Case {
        int damage;
        bool vertical;
        int luma[8];  // source luma row of each output row
    };
    const Case cases[] = {
        {1, false, {1, 1, 3, 3, 5, 5, 7, 7}},  // top field failed: the bottom field twice
        {2, false, {0, 0, 2, 2, 4, 4, 6, 6}},  // bottom field failed: the top field twice
        {2, true, {0, 0, 2, 2, 4, 4, 6, 6}},   // vertical filter does not blend a damaged picture
        {0, false, {0, 1, 2, 3, 4, 5, 6, 7}},
    };
    for (const Case& k : cases) {
        ColourConverter c(&geo);
        c.SetDeinterlaceMode(k.vertical ? 1 : 0);
        ASSERT_TRUE(c.SetOutputType({PixelLayout::yuy2, w, h}));
        const auto out = ConvertInto(c, pic, true, k.damage);
        for (int y = 0; y < h; ++y)
            EXPECT_EQ(out[y * w * 2], 20 + 10 * k.luma[y]) << k.damage << " row " << y;
        // Each field's chroma rows serve its two lines: output row 1 of the top-failed case
        // reads the bottom field's first chroma row (1).
        if (k.damage == 1) {
            EXPECT_EQ(out[1 * w * 2 + 1], 101);
        }
    }
    // RGB outputs take the same field mapping (bottom-up rows included).
    ColourConverter c(&geo);
    ASSERT_TRUE(c.SetOutputType({PixelLayout::rgb24, w, h}));
    const auto out = ConvertInto(c, pic, true, 1);
    int r, g, b;
    Bt601(20 + 10 * 1, 101, 101, &r, &g, &b);
    EXPECT_NEAR(out[(h - 1) * w * 3 + 1], g, 1);  // picture row 0 is the last row in memory
}

TEST(ColourConvertTest, VerticalFilterBlendsEveryRow) {
    const int w = 16, h = 8;
    StorePicture pic(w, h);
    pic.Fill(5);
    // Below the picture the store holds a border copy of the last row.
    for (int x = 0; x < w; ++x)
        pic.Y(x, h) = pic.Y(x, h - 1);
    OutputGeometry geo = Geometry(w, h);
    ColourConverter c(&geo);
    c.SetDeinterlaceMode(1);
    ASSERT_TRUE(c.SetOutputType({PixelLayout::yuy2, w, h}));
    const auto out = ConvertInto(c, pic);
    for (int y = 0; y < h; ++y) {
        const int below = std::min(y + 1, h - 1);
        const int k = (y + 1) / 2, k1 = std::min(k + 1, h / 2 - 1), k0 = std::min(k, h / 2 - 1);
        for (int x = 0; x < w; x += 2) {
            const uint8_t* p = out.data() + y * w * 2 + x * 2;
            ASSERT_EQ(p[0], (pic.Y(x, y) + pic.Y(x, below) + 1) >> 1) << y;
            ASSERT_EQ(p[1], (pic.U(x / 2, k0) + pic.U(x / 2, k1) + 1) >> 1) << y;
            ASSERT_EQ(p[3], (pic.V(x / 2, k0) + pic.V(x / 2, k1) + 1) >> 1) << y;
        }
    }
}

TEST(ColourConvertTest, SixTapUpsamplingKeepsFlatChromaAndFollowsTheTaps) {
    const int w = 16, h = 16;
    StorePicture pic(w, h);
    pic.Fill(9);
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
            pic.U(x, y) = 77;
            pic.V(x, y) = static_cast<uint8_t>(40 + 20 * y);  // a vertical ramp
        }
    OutputGeometry geo = Geometry(w, h);
    ColourConverter c(&geo);
    c.SetUpsampleHq(true);
    ASSERT_TRUE(c.SetOutputType({PixelLayout::uyvy, w, h}));
    const auto out = ConvertInto(c, pic);  // progressive: set C
    for (int y = 0; y < h; ++y)
        EXPECT_EQ(out[y * w * 2], 77) << y;
    // Row 6 (k = 3): 3*C0 - 16*C1 + 67*C2 + 227*C3 - 32*C4 + 7*C5 over rows 0..5.
    auto v = [](int row) { return 40 + 20 * row; };
    const int want = (3 * v(0) - 16 * v(1) + 67 * v(2) + 227 * v(3) - 32 * v(4) + 7 * v(5) + 128) >> 8;
    EXPECT_EQ(out[6 * w * 2 + 2], want);
    // Field-aware (interlaced) on YUY2: flat chroma stays flat, luma passes unchanged.
    ASSERT_TRUE(c.SetOutputType({PixelLayout::yuy2, w, h}));
    const auto field = ConvertInto(c, pic, true, 0);
    for (int y = 0; y < h; ++y) {
        EXPECT_EQ(field[y * w * 2 + 1], 77) << y;
        EXPECT_EQ(field[y * w * 2], pic.Y(0, y));
    }
}

TEST(ColourConvertTest, PaletteIndicesStayInTheDitherRange) {
    const int w = 32, h = 8;
    StorePicture pic(w, h);
    pic.Fill(13);
    OutputGeometry geo = Geometry(w, h);
    ColourConverter c(&geo);
    ASSERT_TRUE(c.SetOutputType({PixelLayout::rgb8, w, -h}));
    const auto out = ConvertInto(c, pic);
    for (int i = 0; i < w * h; ++i)
        ASSERT_TRUE(out[i] >= 10 && out[i] <= 243) << i;
    // Mid grey with neutral chroma in column 0 of the first row: y = (128 - 27) >> 3,
    // u = v = 1 (0 lies between the thresholds).
    StorePicture grey(16, 2);
    std::fill(grey.luma.begin(), grey.luma.end(), 128);
    std::fill(grey.chroma.begin(), grey.chroma.end(), 128);
    OutputGeometry small = Geometry(16, 2);
    ColourConverter g(&small);
    ASSERT_TRUE(g.SetOutputType({PixelLayout::rgb8, 16, -2}));
    EXPECT_EQ(ConvertInto(g, grey)[0], 10 + 12 + 26 + 78);
    // Fixed palette: grey levels on the neutral entries, the listed exceptions in green.
    EXPECT_EQ(FixedPaletteColour(10 + 12 + 26 + 78).red, 15 + 9 * 12);
    EXPECT_EQ(FixedPaletteColour(10 + 12 + 26 + 78).green, 15 + 9 * 12);
    const PaletteColour first = FixedPaletteColour(10);
    EXPECT_EQ(first.blue, 0);
    EXPECT_EQ(first.green, 54);
    EXPECT_EQ(first.red, 0);
    EXPECT_EQ(FixedPaletteColour(85).green, 255);
    EXPECT_EQ(FixedPaletteColour(191).green, 228);
    EXPECT_EQ(FixedPaletteColour(244).green, 0);
}

// The SSE2 forms write exactly the portable forms' bytes: random and extreme samples, odd
// and even widths, padded strides, both line orders, and every packed path (direct,
// blended, 6-tap, field by field).
TEST(ColourConvertTest, VectorFormsEqualThePortableForms) {
#if defined(__x86_64__) || defined(_M_X64)
    {
        OutputGeometry geo = Geometry(16, 2);
        EXPECT_TRUE(ColourConverter(&geo).VectorForms()) << "every x86-64 processor has SSE2";
    }
#endif
    struct Case {
        PixelLayout layout;
        bool topDown;
        uint32_t deinterlace;
        bool sixTap, interlaced;
        int damage;
    };
    const Case cases[] = {
        {PixelLayout::rgb32, false, 0, false, false, 0}, {PixelLayout::rgb32, true, 0, false, true, 1},
        {PixelLayout::rgb24, false, 0, false, false, 0}, {PixelLayout::rgb24, true, 0, false, true, 2},
        {PixelLayout::yuy2, false, 0, false, false, 0},  {PixelLayout::uyvy, false, 0, true, false, 0},
        {PixelLayout::yuy2, false, 1, false, false, 0},  {PixelLayout::yuy2, false, 0, true, true, 0},
        {PixelLayout::uyvy, false, 0, false, true, 2},
    };
    static constexpr uint8_t kExtremes[] = {0, 1, 15, 16, 127, 128, 129, 235, 240, 254, 255};
    int compared = 0;
    for (int w : {1, 2, 7, 8, 9, 15, 16, 17, 31, 33, 40, 63, 64, 176}) {
        const int h = 6;
        for (int fill = 0; fill < 3; ++fill) {
            StorePicture pic(w, h);
            pic.Fill(100 + w);
            if (fill > 0) {
                std::mt19937 rng(w * 7 + fill);
                for (auto* plane : {&pic.luma, &pic.chroma})
                    for (auto& b : *plane)
                        b = fill == 1 ? kExtremes[rng() % std::size(kExtremes)] : ((rng() & 1) ? 255 : 0);
            }
            for (const Case& k : cases) {
                for (int pad : {0, 3, 17}) {
                    OutputGeometry geo = Geometry(w, h);
                    const OutputFormat format{k.layout, w + pad, k.topDown ? -h : h};
                    ColourConverter portable(&geo), vector(&geo);
                    portable.SetVectorForms(false);
                    ASSERT_FALSE(portable.VectorForms());
                    for (ColourConverter* c : {&portable, &vector}) {
                        c->SetDeinterlaceMode(k.deinterlace);
                        c->SetUpsampleHq(k.sixTap);
                    }
                    const bool accepted = portable.SetOutputType(format);
                    ASSERT_EQ(vector.SetOutputType(format), accepted);
                    if (!accepted) continue;  // packed 4:2:2 needs an even row
                    const auto want = ConvertInto(portable, pic, k.interlaced, k.damage);
                    const auto got = ConvertInto(vector, pic, k.interlaced, k.damage);
                    ASSERT_EQ(got, want) << "width " << w << " pad " << pad << " fill " << fill << " layout "
                                         << static_cast<int>(k.layout) << " case " << (&k - cases);
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 14 * 3 * 3 * 4) << "every RGB case at least was compared";
}

TEST(ColourConvertTest, ImageSizesFollowTheBitmapRule) {
    EXPECT_EQ(BitmapImageSize(PixelLayout::rgb24, 33, 2), 100u * 2);
    EXPECT_EQ(BitmapImageSize(PixelLayout::rgb24, 33, -2), 100u * 2);
    EXPECT_EQ(BitmapImageSize(PixelLayout::yv12, 32, 16), 768u);
    EXPECT_EQ(BitmapImageSize(PixelLayout::rgb8, 30, 3), 96u);
    EXPECT_EQ(BitmapImageSize(PixelLayout::rgb32, 1 << 20, 1 << 20), 0u);
    EXPECT_EQ(BitmapImageSize(PixelLayout::unknown, 16, 16), 0u);
}

}  // namespace
}  // namespace pelldrin
