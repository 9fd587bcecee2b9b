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
        EXPECT_NE(t.intraPlane16x16, nullptr);
        EXPECT_NE(t.intraPlane8x8, nullptr);
        EXPECT_NE(t.deblock.lumaNormal, nullptr);
        EXPECT_NE(t.deblock.lumaStrong, nullptr);
        EXPECT_NE(t.deblock.chromaNormal, nullptr);
        EXPECT_NE(t.deblock.chromaStrong, nullptr);
        EXPECT_NE(t.deblock.lumaVertical16, nullptr);
        EXPECT_NE(t.deblock.chromaStrongVertical8, nullptr);
        EXPECT_NE(t.lumaMotion, nullptr);
        EXPECT_NE(t.chromaMotion, nullptr);
        for (int i = 0; i < 48; ++i)
            EXPECT_NE(t.lumaBlocks[i], nullptr) << "luma entry " << i;
        for (int i = 0; i < 3; ++i)
            EXPECT_NE(t.chromaBlocks[i], nullptr) << "chroma entry " << i;
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

// Every whole-edge loop-filter form equals the portable one: luma and chroma, bS below 4
// and bS 4, both directions, smooth and extreme lines, every alpha/beta/tC0 range,
// segments left alone (tC0 -1), odd pitch. The samples around the edge must not change.
// The plane prediction fills against the portable ones over the whole range the standard's
// neighbours can give (the extremes included), at an odd pitch and an unaligned origin;
// the portable fill against the formula at the extremes.
TEST(DecoderKernelTable, IntraPlaneFormsEqualThePortableForms) {
    DecoderKernelTable portable{}, simd{};
    FillDecoderKernelTable(&portable, 0);
    FillDecoderKernelTable(&simd, DecoderKernels().featureWord);
    const uint64_t seed = std::random_device{}();
    SCOPED_TRACE(seed);
    std::mt19937_64 rng(seed);
    constexpr int kPitch = 37;
    struct Form {
        IntraPlaneFn simd, portable;
        int size, centre, bLimit;
    };
    const Form forms[] = {{simd.intraPlane16x16, portable.intraPlane16x16, 16, 7, 717},
                          {simd.intraPlane8x8, portable.intraPlane8x8, 8, 3, 1355}};
    for (const Form& f : forms) {
        for (int round = 0; round < 3000; ++round) {
            const auto pick = [&](int lo, int hi) {
                const int edge = round % 4;  // some rounds at the ends of the range
                return edge == 0 ? lo : edge == 1 ? hi : lo + static_cast<int>(rng() % (hi - lo + 1));
            };
            const int a = pick(0, 8160), b = pick(-f.bLimit, f.bLimit), c = pick(-f.bLimit, f.bLimit);
            uint8_t x[17 * kPitch], y[17 * kPitch];
            for (auto& p : x)
                p = static_cast<uint8_t>(rng());
            std::memcpy(y, x, sizeof x);
            f.simd(x + 1, kPitch, a, b, c);
            f.portable(y + 1, kPitch, a, b, c);
            ASSERT_EQ(std::memcmp(x, y, sizeof x), 0) << f.size << " a " << a << " b " << b << " c " << c;
            for (int row = 0; row < f.size; ++row)
                for (int col = 0; col < f.size; ++col) {
                    const int v = (a + b * (col - f.centre) + c * (row - f.centre) + 16) >> 5;
                    ASSERT_EQ(y[1 + row * kPitch + col], std::clamp(v, 0, 255)) << row << "," << col;
                }
        }
    }
}

}  // namespace
}  // namespace avcdec
