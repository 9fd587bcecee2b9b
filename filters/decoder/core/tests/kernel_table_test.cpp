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
        EXPECT_NE(t.deblockLumaNormal, nullptr);
        EXPECT_NE(t.deblockLumaStrong, nullptr);
        EXPECT_NE(t.deblockChromaNormal, nullptr);
        EXPECT_NE(t.deblockChromaStrong, nullptr);
        EXPECT_NE(t.deblockLumaVertical16, nullptr);
        EXPECT_NE(t.deblockChromaStrongVertical8, nullptr);
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

TEST(DecoderKernelTable, LoopFilterFormsEqualThePortableForms) {
    DecoderKernelTable portable{}, simd{};
    FillDecoderKernelTable(&portable, 0);
    FillDecoderKernelTable(&simd, DecoderKernels().featureWord);
    if (simd.deblockLumaVertical16 == portable.deblockLumaVertical16) GTEST_SKIP() << "no SIMD form here";
    const uint64_t seed = std::random_device{}();
    SCOPED_TRACE(seed);
    std::mt19937_64 rng(seed);
    constexpr int kPitch = 41, kRows = 24;
    int changed = 0;
    constexpr int kRounds = 8000;
    for (int round = 0; round < kRounds; ++round) {
        uint8_t a[kRows * kPitch], b[kRows * kPitch], before[kRows * kPitch];
        const int base = static_cast<int>(rng() % 256),
                  spread = round % 5 == 0 ? 256 : 1 + static_cast<int>(rng() % 24);
        for (auto& p : a)
            p = static_cast<uint8_t>(round % 11 == 0
                                         ? (rng() & 1) * 255
                                         : std::clamp(base + static_cast<int>(rng() % spread) - spread / 2, 0, 255));
        std::memcpy(b, a, sizeof a);
        std::memcpy(before, a, sizeof a);
        const int alpha = static_cast<int>(rng() % 256), beta = static_cast<int>(rng() % 19);
        int8_t tc0[4];
        for (auto& t : tc0)
            t = static_cast<int8_t>(static_cast<int>(rng() % 27) - 1);
        const bool vertical = round % 2 == 1;
        const int step = vertical ? 1 : kPitch, along = vertical ? kPitch : 1;
        // q0 of the luma edge or the Cb edge, and of the Cr edge.
        const int at = vertical ? 4 * kPitch + 8 : 8 * kPitch + 5;
        const int atCr = vertical ? 4 * kPitch + 24 : 8 * kPitch + 25;
        const int kind = round / 2 % 4;
        SCOPED_TRACE(testing::Message() << "round " << round << " kind " << kind << " vertical " << vertical);
        for (int form = 0; form < 2; ++form) {
            const DecoderKernelTable& t = form == 0 ? simd : portable;
            uint8_t* buf = form == 0 ? a : b;
            switch (kind) {
                case 0:
                    (vertical ? t.deblockLumaVertical16 : t.deblockLumaHorizontal16)(buf + at, step, along, alpha, beta,
                                                                                     tc0);
                    break;
                case 1:
                    (vertical ? t.deblockLumaStrongVertical16 : t.deblockLumaStrongHorizontal16)(buf + at, step, along,
                                                                                                 alpha, beta);
                    break;
                case 2:
                    (vertical ? t.deblockChromaVertical8 : t.deblockChromaHorizontal8)(buf + at, buf + atCr, step,
                                                                                       along, alpha, beta, tc0);
                    break;
                default:
                    (vertical ? t.deblockChromaStrongVertical8 : t.deblockChromaStrongHorizontal8)(
                        buf + at, buf + atCr, step, along, alpha, beta);
                    break;
            }
        }
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0);
        changed += std::memcmp(a, before, sizeof a) != 0;
    }
    // The inputs reach the filters' arithmetic, not only their early outs.
    EXPECT_GT(changed, kRounds / 4);
}

}  // namespace
}  // namespace avcdec
