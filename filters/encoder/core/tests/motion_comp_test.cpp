// Luma and chroma inter prediction against ITU-T H.264 clause 8.4.2.2 written out with
// its named samples (G, b, h, j, a, c, d, e, ...), for vectors inside the padding and
// far outside the picture, where reference coordinates are clamped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/motion_comp.h"

namespace ombrisk {
namespace {

struct Reference {
    EncoderBlock block;
    std::unique_ptr<CRefPictureStore> store;
    Reference(int w, int h, uint32_t seed) {
        int32_t params[kParamWords];
        DefaultParameterWords(params);
        params[kParCabac] = 0;
        EXPECT_EQ(StoreParameterRecord(&block, params, 1), kCoreOk);
        EXPECT_EQ(StorePictureRecord(&block, w, h, w, h, 1), kCoreOk);
        FillChromaGeometry(&block);
        store = std::make_unique<CRefPictureStore>(block);
        std::mt19937 rng(seed);
        std::vector<uint8_t> pixels(size_t(w) * h * 3 / 2);
        for (uint8_t& p : pixels)
            p = static_cast<uint8_t>(rng() % 4 ? rng() : (rng() % 2) * 255);  // extremes test the clipping
        store->Fill(PlanarPicture{pixels.data(), pixels.data() + w * h, pixels.data() + w * h * 5 / 4, w, h, w, w / 2});
        store->PadPlanes();
        store->BuildHalfSamplePlane();
    }
};

int Clip1(int v) {
    return std::clamp(v, 0, 255);
}

// Clause 8.4.2.2.1 for one sample at integer position (xInt, yInt), fractions (xFrac, yFrac).
int OracleLuma(const CRefPictureStore& p, int xInt, int yInt, int xFrac, int yFrac) {
    const auto G = [&](int x, int y) {
        return int{p.luma()[std::clamp(y, 0, p.height() - 1) * p.lumaStride() + std::clamp(x, 0, p.width() - 1)]};
    };
    const auto tap = [](int e, int f, int g, int h, int i, int j) { return e - 5 * f + 20 * g + 20 * h - 5 * i + j; };
    // b1 at (x + 1/2, y), h1 at (x, y + 1/2), j1 at the centre.
    const auto b1 = [&](int x, int y) {
        return tap(G(x - 2, y), G(x - 1, y), G(x, y), G(x + 1, y), G(x + 2, y), G(x + 3, y));
    };
    const auto h1 = [&](int x, int y) {
        return tap(G(x, y - 2), G(x, y - 1), G(x, y), G(x, y + 1), G(x, y + 2), G(x, y + 3));
    };
    const auto b = [&](int x, int y) { return Clip1((b1(x, y) + 16) >> 5); };
    const auto h = [&](int x, int y) { return Clip1((h1(x, y) + 16) >> 5); };
    const auto j = [&](int x, int y) {
        return Clip1((tap(b1(x, y - 2), b1(x, y - 1), b1(x, y), b1(x, y + 1), b1(x, y + 2), b1(x, y + 3)) + 512) >> 10);
    };
    const int x = xInt, y = yInt;
    const int g = G(x, y);
    const int s = b(x, y + 1), m = h(x + 1, y);
    switch (yFrac * 4 + xFrac) {
        case 0:
            return g;
        case 1:
            return (g + b(x, y) + 1) >> 1;  // a
        case 2:
            return b(x, y);  // b
        case 3:
            return (b(x, y) + G(x + 1, y) + 1) >> 1;  // c
        case 4:
            return (g + h(x, y) + 1) >> 1;  // d
        case 5:
            return (b(x, y) + h(x, y) + 1) >> 1;  // e
        case 6:
            return (b(x, y) + j(x, y) + 1) >> 1;  // f
        case 7:
            return (b(x, y) + m + 1) >> 1;  // g
        case 8:
            return h(x, y);  // h
        case 9:
            return (h(x, y) + j(x, y) + 1) >> 1;  // i
        case 10:
            return j(x, y);  // j
        case 11:
            return (j(x, y) + m + 1) >> 1;  // k
        case 12:
            return (G(x, y + 1) + h(x, y) + 1) >> 1;  // n
        case 13:
            return (h(x, y) + s + 1) >> 1;  // p
        case 14:
            return (j(x, y) + s + 1) >> 1;  // q
        default:
            return (m + s + 1) >> 1;  // r
    }
}

TEST(MotionComp, LumaEqualsTheStandardInsideAndOutsideThePicture) {
    const Reference ref(48, 32, 7);
    std::mt19937 rng(3);
    uint8_t got[16 * 16];
    for (int trial = 0; trial < 3000; ++trial) {
        const int w = rng() % 2 ? 16 : 8, h = rng() % 2 ? 16 : 8;
        const int x = 8 * int(rng() % 5), y = 8 * int(rng() % 3);
        // Mostly near the picture, sometimes far outside it (up to 80 samples).
        const int span = rng() % 4 ? 24 * 4 : 80 * 4;
        const int mvx = int(rng() % (2 * span + 1)) - span, mvy = int(rng() % (2 * span + 1)) - span;
        PredictLumaBlock(*ref.store, x, y, mvx, mvy, w, h, got, 16);
        const int qx = 4 * x + mvx, qy = 4 * y + mvy;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                ASSERT_EQ(got[16 * r + c], OracleLuma(*ref.store, (qx >> 2) + c, (qy >> 2) + r, qx & 3, qy & 3))
                    << "trial " << trial << " vector " << mvx << "," << mvy << " sample " << c << "," << r;
    }
}

TEST(MotionComp, ChromaEqualsTheStandardInsideAndOutsideThePicture) {
    const Reference ref(48, 32, 11);
    const CRefPictureStore& p = *ref.store;
    std::mt19937 rng(5);
    uint8_t got[8 * 8];
    for (int trial = 0; trial < 3000; ++trial) {
        const int comp = rng() % 2;
        const int x = 4 * int(rng() % 5), y = 4 * int(rng() % 3);
        const int span = rng() % 4 ? 20 * 8 : 60 * 8;
        const int mvx = int(rng() % (2 * span + 1)) - span, mvy = int(rng() % (2 * span + 1)) - span;
        PredictChromaBlock(p, comp, x, y, mvx, mvy, 4, 4, got, 8);
        const uint8_t* plane = comp ? p.cr() : p.cb();
        const auto C = [&](int cx, int cy) {
            return int{
                plane[std::clamp(cy, 0, p.height() / 2 - 1) * p.chromaStride() + std::clamp(cx, 0, p.width() / 2 - 1)]};
        };
        // Clause 8.4.2.2.2.
        const int xFrac = mvx & 7, yFrac = mvy & 7;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                const int xA = x + (mvx >> 3) + c, yA = y + (mvy >> 3) + r;
                const int want = ((8 - xFrac) * (8 - yFrac) * C(xA, yA) + xFrac * (8 - yFrac) * C(xA + 1, yA) +
                                  (8 - xFrac) * yFrac * C(xA, yA + 1) + xFrac * yFrac * C(xA + 1, yA + 1) + 32) >>
                                 6;
                ASSERT_EQ(got[8 * r + c], want) << "trial " << trial;
            }
    }
}

// The SAD read straight from the reference planes equals the SAD against the prediction
// PredictLumaBlock forms, at every quarter position and width, inside the padding and
// where it declines (clamped reads) for the caller to form the prediction.
TEST(MotionComp, PredictionSadEqualsTheSadOfThePrediction) {
    const Reference ref(48, 32, 11);
    std::mt19937 rng(5);
    uint8_t src[16 * 16], pred[16 * 16];
    for (uint8_t& v : src)
        v = static_cast<uint8_t>(rng());
    int read = 0, declined = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        const int w = 4 << (rng() % 3), h = 4 << (rng() % 3);
        const int x = 4 * int(rng() % 9), y = 4 * int(rng() % 5);
        const int span = 20 * 4;
        const int mvx = int(rng() % (2 * span + 1)) - span, mvy = int(rng() % (2 * span + 1)) - span;
        PredictLumaBlock(*ref.store, x, y, mvx, mvy, w, h, pred, 16);
        uint32_t want = 0;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                want += static_cast<uint32_t>(std::abs(src[16 * r + c] - pred[16 * r + c]));
        uint32_t got = 0xDEADBEEF;
        if (!PredictionSad(*ref.store, x, y, mvx, mvy, w, h, src, 16, &got)) {
            EXPECT_EQ(got, 0xDEADBEEFu);
            ++declined;
            continue;
        }
        ++read;
        ASSERT_EQ(got, want) << "trial " << trial << " " << w << "x" << h << " vector " << mvx << "," << mvy;
    }
    EXPECT_GT(read, 1000);
    EXPECT_GT(declined, 100);
}

}  // namespace
}  // namespace ombrisk
