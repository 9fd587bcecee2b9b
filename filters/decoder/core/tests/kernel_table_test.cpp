// The decoder's kernel table: filled for any feature word, and its transform kernels
// against a reference written from clause 8.5.12.
#include "filters/decoder/core/kernel_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/cpu_features.h"

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

// The portable table and the one this processor's feature word selects.
struct TablePair {
    DecoderKernelTable portable{}, selected{};
    TablePair() {
        FillDecoderKernelTable(&portable, 0);
        FillDecoderKernelTable(&selected, DecoderKernels().featureWord);
    }
};

TEST(DecoderKernelTable, EveryEntryFilledForAnyFeatureWord) {
    for (uint32_t word : {0u, 0x200u, 0x4000u, 0x6600u, 0xFFFFFFFFu}) {
        DecoderKernelTable t{};
        FillDecoderKernelTable(&t, word);
        EXPECT_EQ(t.featureWord, word);
        EXPECT_NE(t.inverseTransformAdd4x4, nullptr);
        EXPECT_NE(t.addDc4x4, nullptr);
        EXPECT_NE(t.inverseLumaDc, nullptr);
        for (IntraPredFn f : t.intra4x4)
            EXPECT_NE(f, nullptr);
        for (IntraPredFn f : t.intra16x16)
            EXPECT_NE(f, nullptr);
        for (IntraPredFn f : t.intraChroma)
            EXPECT_NE(f, nullptr);
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
    const TablePair tables;
    const DecoderKernelTable &portable = tables.portable, &simd = tables.selected;
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

// The luma DC inverse against clause 8.5.10 written as matrix products (64-bit, so the
// reference itself cannot overflow) for levels whose result fits the 16-bit records, and
// every form against the portable one for levels of any 16-bit value (damaged streams).
TEST(DecoderKernelTable, LumaDcInverseMatchesTheStandard) {
    const TablePair tables;
    const InverseLumaDcFn forms[2] = {tables.portable.inverseLumaDc, tables.selected.inverseLumaDc};
    const uint64_t seed = std::random_device{}();
    SCOPED_TRACE(seed);
    std::mt19937_64 rng(seed);
    constexpr int kH[4][4] = {{1, 1, 1, 1}, {1, 1, -1, -1}, {1, -1, -1, 1}, {1, -1, 1, -1}};
    for (int round = 0; round < 3000; ++round) {
        const int qp = static_cast<int>(rng() % 52);
        constexpr int kLevelScale0[6] = {10, 11, 13, 14, 16, 18};
        const int scale = kLevelScale0[qp % 6] << (qp / 6);
        const bool wide = round % 4 == 3;  // any 16-bit level: forms against each other only
        const int range = wide ? 32768 : std::max(1, (4 * 32767 / 16) / scale);
        int16_t c[16];
        for (auto& v : c)
            v = static_cast<int16_t>(round % 5 == 0 ? ((rng() & 1) ? range - 1 : -range)
                                                    : static_cast<int>(rng() % (2 * range)) - range);
        int16_t out[2][24][16];
        std::memset(out, 0x55, sizeof out);
        uint32_t masks[2];
        for (int f = 0; f < 2; ++f)
            masks[f] = forms[f](out[f], c, scale);
        ASSERT_EQ(std::memcmp(out[0], out[1], sizeof out[0]), 0) << "qp " << qp;
        ASSERT_EQ(masks[0], masks[1]);
        if (wide) continue;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                int64_t f = 0;
                for (int k = 0; k < 4; ++k)
                    for (int l = 0; l < 4; ++l)
                        f += int64_t{kH[i][k]} * c[4 * k + l] * kH[j][l];
                const int64_t expected = (f * scale + 2) >> 2;
                ASSERT_EQ(out[0][4 * i + j][0], expected) << "block " << 4 * i + j << " qp " << qp;
                ASSERT_EQ((masks[0] >> (4 * i + j)) & 1, expected != 0 ? 1u : 0u);
                ASSERT_EQ(out[0][4 * i + j][1], int16_t{0x5555}) << "only the DC is written";
            }
    }
}

// Each feature bit the table selects from must replace at least one entry of the table
// built without it: a form wired to no entry would leave its set untested and unused.
TEST(DecoderKernelTable, EveryFeatureSetReplacesAnEntry) {
    const uint32_t all = DecoderKernels().featureWord;
    for (uint32_t bit : {uint32_t{common::kCpuSse2}, uint32_t{common::kCpuSsse3}}) {
        if ((all & bit) == 0) continue;  // not on this processor: nothing selected
        DecoderKernelTable with{}, without{};
        FillDecoderKernelTable(&with, all);
        FillDecoderKernelTable(&without, all & ~bit);
        without.featureWord = with.featureWord;
        without.motionForms = with.motionForms;
        EXPECT_NE(std::memcmp(&with, &without, sizeof with), 0) << "feature bit " << std::hex << bit;
    }
}

// Every intra prediction entry the processor's set replaces against the portable one:
// random neighbours, neighbours of 0 and 255 only, flat ones, every combination of
// available sides, odd pitch. The samples around the predicted block must not change.
TEST(DecoderKernelTable, IntraPredictionFormsEqualThePortableForms) {
    const TablePair tables;
    const DecoderKernelTable &portable = tables.portable, &simd = tables.selected;
    const uint64_t seed = std::random_device{}();
    SCOPED_TRACE(seed);
    std::mt19937_64 rng(seed);
    struct Entry {
        IntraPredFn simd, portable;
        int size;
        std::string name;
    };
    std::vector<Entry> entries;
    for (int m = 0; m < 9; ++m)
        entries.push_back({simd.intra4x4[m], portable.intra4x4[m], 4, "4x4 mode " + std::to_string(m)});
    for (int m = 0; m < 3; ++m) {
        entries.push_back({simd.intra16x16[m], portable.intra16x16[m], 16, "16x16 mode " + std::to_string(m)});
        entries.push_back({simd.intraChroma[m], portable.intraChroma[m], 8, "chroma mode " + std::to_string(m)});
    }
    constexpr int kPitch = 41;  // odd on purpose; the block sits at (3, 1) with neighbours around
    int compared = 0;
    for (const Entry& e : entries) {
        if (e.simd == e.portable) continue;
        ++compared;
        for (int round = 0; round < 512; ++round) {
            const IntraAvailability a{(round & 1) != 0, (round & 2) != 0, (round & 4) != 0, (round & 8) != 0};
            uint8_t x[19 * kPitch], y[19 * kPitch];
            const int pattern = (round >> 4) % 3, flat = static_cast<int>(rng() % 256);
            for (auto& p : x)
                p = static_cast<uint8_t>(pattern == 0 ? rng() : pattern == 1 ? (rng() & 1) * 255 : flat);
            std::memcpy(y, x, sizeof x);
            uint8_t* bx = x + kPitch + 3;
            uint8_t* by = y + kPitch + 3;
            e.simd(bx, kPitch, a, bx, kPitch);
            e.portable(by, kPitch, a, by, kPitch);
            ASSERT_EQ(std::memcmp(x, y, sizeof x), 0)
                << e.name << " left " << a.left << " top " << a.top << " topRight " << a.topRight << " topLeft "
                << a.topLeft << " pattern " << pattern;
        }
    }
    if (DecoderKernels().featureWord & common::kCpuSse2) {
        EXPECT_GT(compared, 0);
    }
}

}  // namespace
}  // namespace avcdec
