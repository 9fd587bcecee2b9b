// The quarter-resolution coarse motion search.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "filters/encoder/core/coarse_search.h"

namespace ombrisk {
namespace {

// A padded plane (16 samples of border) whose samples come from f(x, y), x and y
// clamped into the picture as edge replication leaves them.
struct Plane {
    int width, height, stride;
    std::vector<uint8_t> samples;
    template <class F>
    Plane(int w, int h, F f) : width(w), height(h), stride(w + 32), samples(size_t(h + 32) * (w + 32)) {
        for (int y = -16; y < h + 16; ++y)
            for (int x = -16; x < w + 16; ++x)
                samples[size_t(y + 16) * stride + x + 16] = f(std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1));
    }
    const uint8_t* origin() const { return samples.data() + 16 * stride + 16; }
};

// Random values per 8x8 block of an unbounded grid: texture at quarter resolution.
uint8_t Blocky(int x, int y) {
    uint32_t h = uint32_t((x >> 3) + 1000) * 2654435761u ^ uint32_t((y >> 3) + 1000) * 40503u;
    h ^= h >> 15;
    return static_cast<uint8_t>(h * 2246822519u >> 24);
}

CoarseVectorField Search(const Plane& cur, const Plane& ref, int range) {
    QuarterPlane qc, qr;
    Downscale(cur.origin(), cur.stride, cur.width, cur.height, &qc);
    Downscale(ref.origin(), ref.stride, ref.width, ref.height, &qr);
    CoarseVectorField field;
    CoarseSearchReference(qc, qr, range, range, cur.width / 16, cur.height / 16, &field);
    return field;
}

TEST(CoarseSearch, DownscaleAveragesFourByFourBlocksTruncated) {
    const Plane p(32, 32, [](int x, int y) { return static_cast<uint8_t>(x + 3 * y); });
    QuarterPlane q;
    Downscale(p.origin(), p.stride, p.width, p.height, &q);
    ASSERT_EQ(q.width, 8);
    // Block (1, 2): x 4..7, y 8..11: mean of x is 5.5, of 3y is 28.5: 34.
    EXPECT_EQ(q.origin()[2 * q.stride + 1], 34);
    // The border repeats the clamped picture: block (-1, -1) is all sample (0, 0).
    EXPECT_EQ(q.origin()[-q.stride - 1], 0);
}

// The SIMD downscale gives the portable samples: widths whose lines end in a partial run of
// sixteen outputs, all-255 areas (the largest sums), and a band of lines that leaves the
// lines outside it as they were.
TEST(CoarseSearch, SimdDownscaleMatchesPortable) {
    for (const int width : {720, 100, 48, 16}) {
        const Plane p(width, 48, [](int x, int y) {
            return x < 24 && y < 16 ? uint8_t{255} : static_cast<uint8_t>(Blocky(3 * x, 5 * y) ^ (x * 7 + y));
        });
        QuarterPlane portable, simd;
        PrepareQuarterPlane(p.stride, p.width, p.height, &portable);
        PrepareQuarterPlane(p.stride, p.width, p.height, &simd);
        std::fill(portable.samples.begin(), portable.samples.end(), uint8_t{7});
        std::fill(simd.samples.begin(), simd.samples.end(), uint8_t{7});
        DownscaleRowsPortable(p.origin(), p.stride, 3, 11, &portable);
        DownscaleRowsSimd(p.origin(), p.stride, 3, 11, &simd);
        EXPECT_EQ(simd.samples, portable.samples) << width;
        EXPECT_EQ(simd.samples[2 * simd.stride], 7) << "a line before the band was written";
        DownscaleRowsPortable(p.origin(), p.stride, 0, portable.rows(), &portable);
        DownscaleRowsSimd(p.origin(), p.stride, 0, simd.rows(), &simd);
        EXPECT_EQ(simd.samples, portable.samples) << width;
        EXPECT_EQ(simd.origin()[0], 255) << width;
    }
}

TEST(CoarseSearch, FindsATranslationAndLeavesTheLastOddMacroblock) {
    // 80 samples wide: strips at 0 and 32 cover macroblocks 0-3; macroblock 4 is unsearched.
    const Plane ref(80, 64, [](int x, int y) { return Blocky(x, y); });
    const Plane cur(80, 64, [](int x, int y) { return Blocky(x + 4, y - 4); });
    const CoarseVectorField field = Search(cur, ref, 32);
    int found = 0;
    for (int mbY = 0; mbY < 4; ++mbY) {
        for (int mbX = 0; mbX < 4; ++mbX) {
            const CoarseEntry& e = field.at(mbX, mbY);
            if (!e.valid) continue;
            ++found;
            EXPECT_EQ(e.x, 4) << mbX << "," << mbY;
            EXPECT_EQ(e.y, -4) << mbX << "," << mbY;
        }
        EXPECT_FALSE(field.at(4, mbY).valid);
        EXPECT_EQ(field.at(4, mbY).cost, 0x0FFFFFFF);
    }
    // Blocks near the right and bottom edges may see the clamped border; most match.
    EXPECT_GE(found, 12);
}

TEST(CoarseSearch, FlatStripsGiveNoVector) {
    const Plane flat(64, 32, [](int, int) { return uint8_t{90}; });
    const CoarseVectorField none = Search(flat, flat, 32);
    for (int mbX = 0; mbX < 4; ++mbX) {
        EXPECT_FALSE(none.at(mbX, 0).valid);
        EXPECT_EQ(none.at(mbX, 0).cost, 0x0FFFFFFF);
    }
}

TEST(CoarseSearch, FieldPredictorTakesTheSingleValidNeighbourOrTheMedian) {
    CoarseVectorField f;
    f.Resize(3, 3);
    int x, y;
    f.at(0, 1) = CoarseEntry{4, 8, 10, 1};  // left of (1, 1)
    f.Predict(1, 1, &x, &y);
    EXPECT_EQ(x, 4);
    EXPECT_EQ(y, 8);
    f.at(1, 0) = CoarseEntry{-4, 0, 10, 1};   // top
    f.at(2, 0) = CoarseEntry{12, -8, 10, 1};  // top right
    f.Predict(1, 1, &x, &y);
    EXPECT_EQ(x, 4);
    EXPECT_EQ(y, 0);
    f.at(2, 0).valid = 0;  // top right replaced by the (invalid) top left: top alone
    f.Predict(1, 1, &x, &y);
    EXPECT_EQ(x, -4);
    EXPECT_EQ(y, 0);
}

}  // namespace
}  // namespace ombrisk
