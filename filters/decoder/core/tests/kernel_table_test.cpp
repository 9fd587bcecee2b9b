// The decoder's kernel table: filled for any feature word, and its transform kernels
// against a reference written from clause 8.5.12.
#include "filters/decoder/core/kernel_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace avcdec {
namespace {

// Written apart from the kernel: rows, then columns, then (r + 32) >> 6 added and clipped.
void ReferenceIdctAdd(uint8_t* dst, int pitch, const int16_t* d) {
    // Clause 8.5.12.2 per row, then per column, with the halvings the clause specifies.
    int f[4][4], g[4][4];
    for (int i = 0; i < 4; ++i) {
        const int16_t* row = d + 4 * i;
        const int e[4] = {row[0] + row[2], row[0] - row[2], (row[1] >> 1) - row[3], row[1] + (row[3] >> 1)};
        f[i][0] = e[0] + e[3];
        f[i][1] = e[1] + e[2];
        f[i][2] = e[1] - e[2];
        f[i][3] = e[0] - e[3];
    }
    for (int j = 0; j < 4; ++j) {
        const int h[4] = {f[0][j] + f[2][j], f[0][j] - f[2][j], (f[1][j] >> 1) - f[3][j], f[1][j] + (f[3][j] >> 1)};
        g[0][j] = h[0] + h[3];
        g[1][j] = h[1] + h[2];
        g[2][j] = h[1] - h[2];
        g[3][j] = h[0] - h[3];
    }
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            const int v = dst[i * pitch + j] + ((g[i][j] + 32) >> 6);
            dst[i * pitch + j] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
}

TEST(DecoderKernelTable, EveryEntryFilledForAnyFeatureWord) {
    for (uint32_t word : {0u, 0x200u, 0x4000u, 0x6600u, 0xFFFFFFFFu}) {
        DecoderKernelTable t{};
        FillDecoderKernelTable(&t, word);
        EXPECT_EQ(t.featureWord, word);
        EXPECT_NE(t.inverseTransformAdd4x4, nullptr);
        EXPECT_NE(t.addDc4x4, nullptr);
        EXPECT_NE(t.deblockLumaNormal, nullptr);
        EXPECT_NE(t.deblockLumaStrong, nullptr);
        EXPECT_NE(t.deblockChromaNormal, nullptr);
        EXPECT_NE(t.deblockChromaStrong, nullptr);
        EXPECT_NE(t.lumaMotion, nullptr);
        EXPECT_NE(t.chromaMotion, nullptr);
    }
}

TEST(DecoderKernelTable, TransformsMatchTheReference) {
    const DecoderKernelTable& k = DecoderKernels();
    const uint64_t seed = std::random_device{}();
    SCOPED_TRACE(seed);
    std::mt19937_64 rng(seed);
    constexpr int kPitch = 13;  // odd on purpose
    for (int round = 0; round < 2000; ++round) {
        int16_t coeffs[16];
        // Extremes that overflow 16-bit intermediates of a careless kernel, and small values.
        const int range = round % 3 == 0 ? 32767 : round % 3 == 1 ? 2000 : 64;
        for (auto& c : coeffs)
            c = static_cast<int16_t>(static_cast<int>(rng() % (2 * range + 1)) - range);
        uint8_t a[4 * kPitch], b[4 * kPitch];
        for (auto& p : a)
            p = static_cast<uint8_t>(round % 5 == 0 ? (rng() & 1) * 255 : rng());
        std::memcpy(b, a, sizeof a);
        k.inverseTransformAdd4x4(a, kPitch, coeffs);
        ReferenceIdctAdd(b, kPitch, coeffs);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "round " << round;

        // A block with its DC alone: the shortcut equals the full transform.
        int16_t dcOnly[16] = {coeffs[0]};
        std::memcpy(b, a, sizeof a);
        k.addDc4x4(a, kPitch, dcOnly[0]);
        ReferenceIdctAdd(b, kPitch, dcOnly);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "DC round " << round;
    }
}

// The whole-edge luma filter of every form equals the portable one: smooth and extreme
// rows, every alpha/beta/tC0 range, segments left alone (tC0 -1).
TEST(DecoderKernelTable, LumaEdgeFormsEqualThePortableForm) {
    DecoderKernelTable portable{}, simd{};
    FillDecoderKernelTable(&portable, 0);
    FillDecoderKernelTable(&simd, DecoderKernels().featureWord);
    if (simd.deblockLumaHorizontal16 == portable.deblockLumaHorizontal16) GTEST_SKIP() << "no SIMD form here";
    const uint64_t seed = std::random_device{}();
    SCOPED_TRACE(seed);
    std::mt19937_64 rng(seed);
    constexpr int kPitch = 21;
    for (int round = 0; round < 5000; ++round) {
        uint8_t a[8 * kPitch], b[8 * kPitch];
        const int base = static_cast<int>(rng() % 256),
                  spread = round % 4 == 0 ? 256 : 1 + static_cast<int>(rng() % 24);
        for (auto& p : a)
            p = static_cast<uint8_t>(round % 7 == 0
                                         ? (rng() & 1) * 255
                                         : std::clamp(base + static_cast<int>(rng() % spread) - spread / 2, 0, 255));
        std::memcpy(b, a, sizeof a);
        const int alpha = static_cast<int>(rng() % 256), beta = static_cast<int>(rng() % 19);
        int8_t tc0[4];
        for (auto& t : tc0)
            t = static_cast<int8_t>(static_cast<int>(rng() % 27) - 1);
        simd.deblockLumaHorizontal16(a + 4 * kPitch + 2, kPitch, 1, alpha, beta, tc0);
        portable.deblockLumaHorizontal16(b + 4 * kPitch + 2, kPitch, 1, alpha, beta, tc0);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "round " << round;
    }
}

}  // namespace
}  // namespace avcdec
