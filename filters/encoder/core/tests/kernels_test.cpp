// The portable kernel set against the standard's arithmetic, and the kernel sets of every
// feature word against the portable set, through the kernel harness.
#include <cstring>
#include <vector>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "common/cpu_features.h"
#include "filters/encoder/core/coefficient_list.h"
#include "filters/encoder/core/kernel_table.h"
#include "filters/encoder/core/kernels_portable.h"
#include "filters/encoder/core/tests/kernel_harness.h"
#include "filters/encoder/core/tests/kernel_reference.h"

namespace ombrisk {
namespace {

using kernel_test::EntryChecks;
using kernel_test::HarnessSeed;
using kernel_test::ReferenceTable;
using kernel_test::Rng;

CKernelTable Filled(uint32_t flags) {
    CKernelTable t;
    FillKernelTable(&t, flags, 1);
    return t;
}

TEST(PortableKernels, EveryEntryEqualsTheStandardsArithmetic) {
    Rng rng(HarnessSeed());
    const CKernelTable portable = Filled(0);
    for (const auto& entry : EntryChecks()) {
        SCOPED_TRACE(entry.name);
        entry.check(portable, ReferenceTable(), rng);
    }
}

TEST(KernelSets, EveryFeatureWordFillsEveryEntry) {
    for (uint32_t flags : {0u, uint32_t{common::kCpuMmxExt}, 0xFFFFFFFFu}) {
        std::string missing;
        EXPECT_TRUE(kernel_test::EveryEntryFilled(Filled(flags), &missing)) << "flags " << flags << ": " << missing;
    }
    std::string missing;
    EXPECT_TRUE(kernel_test::EveryEntryFilled(ReferenceTable(), &missing)) << missing;
}

// The checkasm rule: for each feature word, the entries that differ from the portable set
// are checked against it. Each x86 feature set must also replace entries of the set below
// it: a set selected by its bit that replaces none has lost its installer or its members.
// Kernels this processor cannot run are not called.
TEST(KernelSets, EntriesAFeatureWordReplacesEqualThePortableSet) {
    Rng rng(HarnessSeed());
    const CKernelTable portable = Filled(0);
#if defined(__x86_64__) || defined(_M_X64)
    constexpr bool kX86 = true;
#else
    constexpr bool kX86 = false;
#endif
    using common::kCpuAvx2;
    using common::kCpuMmxExt;
    using common::kCpuSse2;
    using common::kCpuSsse3;
    struct FeatureSet {
        const char* name;
        uint32_t flags;
        bool hasKernels;  // replaces entries of the set before it in this list
    } sets[] = {{"MMX extensions", kCpuMmxExt, false},
                {"SSE2", kCpuMmxExt | kCpuSse2, kX86},
                {"SSSE3", kCpuMmxExt | kCpuSse2 | kCpuSsse3, kX86},
                {"AVX2", kCpuMmxExt | kCpuSse2 | kCpuSsse3 | kCpuAvx2, kX86},
                {"every bit", 0xFFFFFFFFu, false}};
    const uint32_t runnable = common::DetectCpuFeatures();
    CKernelTable below = portable;
    for (const FeatureSet& set : sets) {
        SCOPED_TRACE(set.name);
        const CKernelTable t = Filled(set.flags);
        int replaced = 0, checked = 0;
        for (const auto& entry : EntryChecks()) {
            replaced += entry.differs(t, below) ? 1 : 0;
            if (!entry.differs(t, portable) || (set.flags & ~runnable & (kCpuSsse3 | kCpuAvx2)) != 0) continue;
            ++checked;
            SCOPED_TRACE(entry.name);
            entry.check(t, portable, rng);
        }
        std::printf("%s: %d of %zu entries replaced, %d checked against the portable set\n", set.name, replaced,
                    EntryChecks().size(), checked);
        if (set.hasKernels) {
            EXPECT_GT(replaced, 0) << set.name << " replaces no entry of the set below it";
        }
        below = t;
    }
}

// The harness must see a kernel that is wrong by one rounding step.
uint32_t SadAverageRoundingDown(const uint8_t* a, const uint8_t* s1, const uint8_t* s2, int sa, int ss, int rows) {
    uint32_t sum = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < 8; ++x)
            sum += std::abs(a[y * sa + x] - ((s1[y * ss + 2 * x] + s2[y * ss + 2 * x]) >> 1));
    return sum;
}

CKernelTable g_faulty;
std::vector<SadFn> g_sadRow;

TEST(KernelHarness, FindsAKernelOffByOneRounding) {
    HarnessSeed();
    g_faulty = Filled(0);
    g_sadRow.assign(g_faulty.sad8x8, g_faulty.sad8x8 + kSadMembers);
    g_sadRow[3] = &SadAverageRoundingDown;
    g_faulty.sad8x8 = g_sadRow.data();
    int checked = 0;
    for (const auto& entry : EntryChecks()) {
        if (!entry.differs(g_faulty, Filled(0))) continue;
        ++checked;
        static const kernel_test::EntryCheck* current;
        current = &entry;
        EXPECT_FATAL_FAILURE(
            {
                Rng rng(HarnessSeed());
                current->check(g_faulty, Filled(0), rng);
            },
            "");
    }
    EXPECT_EQ(checked, 1);
}

// Chroma motion compensation at every eighth-sample position, against clause 8.4.2.2.2,
// for positive and negative vectors and every block size the partitions give.
TEST(PortableKernels, ChromaPredictionAtEveryFractionalPosition) {
    Rng rng(HarnessSeed());
    constexpr int kStride = 29, kPad = 6;
    const auto plane = kernel_test::RandomPixels(rng, size_t(kStride * 30), kernel_test::Pattern::kRandom);
    const uint8_t* origin = plane.data() + kPad * kStride + kPad;
    for (int intY : {-1, 0, 2})
        for (int intX : {-2, 0, 1})
            for (int fy = 0; fy < 8; ++fy)
                for (int fx = 0; fx < 8; ++fx)
                    for (auto [w, h] : {std::pair{8, 8}, {8, 4}, {4, 8}, {2, 2}, {4, 2}, {2, 4}}) {
                        const int mvx = 8 * intX + fx, mvy = 8 * intY + fy;
                        uint8_t got[64], want[64];
                        ChromaMotionBlock(origin, kStride, mvx, mvy, w, h, got, 8);
                        kernel_test::ReferenceChromaBlock(origin, kStride, mvx, mvy, w, h, want, 8);
                        for (int y = 0; y < h; ++y)
                            ASSERT_EQ(0, std::memcmp(got + 8 * y, want + 8 * y, size_t(w)))
                                << "vector " << mvx << "," << mvy << " block " << w << "x" << h;
                    }
}

TEST(PortableKernels, DcPredictorsWithoutNeighboursFill128) {
    const CKernelTable t = Filled(0);
    uint8_t top[17], left[17];
    std::memset(top, 7, sizeof top);
    std::memset(left, 9, sizeof left);
    struct Case {
        PredIntraFn fn;
        int size;
    } cases[] = {{t.predIntra4x4[2], 4}, {t.predIntra16x16[2], 16}, {t.predChroma8x8[0], 8}};
    for (const Case& c : cases) {
        std::vector<uint8_t> d(size_t(c.size * c.size));
        c.fn(d.data(), top + 1, left + 1, 0, 0);
        EXPECT_EQ(d, std::vector<uint8_t>(d.size(), 128)) << c.size;
        c.fn(d.data(), top + 1, left + 1, 1, 1);
        // Both neighbours: (7 + 9) / 2, except the chroma quadrants off the diagonal, which
        // take the top (right) or the left (bottom) samples alone.
        for (int y = 0; y < c.size; ++y)
            for (int x = 0; x < c.size; ++x) {
                int want = 8;
                if (c.size == 8 && x >= 4 && y < 4) want = 7;
                if (c.size == 8 && x < 4 && y >= 4) want = 9;
                ASSERT_EQ(d[size_t(y * c.size + x)], want) << c.size << " at " << x << "," << y;
            }
    }
}

TEST(PortableKernels, FlatBlockHasNoVariance) {
    const CKernelTable t = Filled(0);
    std::vector<uint8_t> flat(256, 200), other(256, 190);
    EXPECT_EQ(t.variance->variance16x16(flat.data()), 0u);
    EXPECT_EQ(t.variance->mse16x16(flat.data(), other.data()), 100u);
    for (int i = 0; i < 256; i += 2)
        flat[size_t(i)] = 0;  // half 0, half 200
    EXPECT_EQ(t.variance->variance16x16(flat.data()), 10000u);
}

TEST(PortableKernels, AverageFetchOntoItselfLeavesTheBlock) {
    const CKernelTable t = Filled(0);
    Rng rng(HarnessSeed());
    for (const BlockFetchFn* row : {t.blockFetch4, t.blockFetch8, t.blockFetch16}) {
        auto block = kernel_test::RandomPixels(rng, 16 * 16, kernel_test::Pattern::kRandom);
        const auto before = block;
        row[1](block.data(), block.data(), nullptr, 16, 16, 16);
        EXPECT_EQ(block, before);
    }
}

// One ±1 level at run 0 costs 3: dropped at threshold 4, kept at threshold 2.
TEST(PortableKernels, InterTransformDropsASparse8x8Block) {
    const CKernelTable t = Filled(0);
    // QP 28: MF(0, 0) = 8192, qbits 19. A residual of 4 over block 0 gives c(0, 0) = 64 and
    // level (64 * 8192) >> 19 = 1, every other coefficient 0.
    const QuantRecord q{28, 4, 4, 19, 0};
    std::vector<uint8_t> pred(256, 100), src(256, 100);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            src[size_t(16 * y + x)] = 104;
    for (auto [threshold, cbp] : {std::pair{4, 0}, {2, 1}}) {
        std::vector<uint8_t> recon(256);
        std::vector<int16_t> coefs(256, 99);
        std::vector<CoefficientList> lists(16);
        EXPECT_EQ(
            t.transformInter16x16(src.data(), recon.data(), pred.data(), coefs.data(), lists.data(), &q, threshold),
            cbp);
        EXPECT_EQ(coefs[0], cbp ? 1 : 0);
        EXPECT_EQ(lists[0].pairs[0].level, cbp ? 1 : 0);
        if (cbp)
            EXPECT_EQ(lists[0].pairs[1].run, 15);
        else
            EXPECT_EQ(lists[0].pairs[0].run, 15);
        // Dropped, the block reconstructs as its prediction; kept, the DC of 4 comes back.
        EXPECT_EQ(recon[0], cbp ? 104 : 100);
        EXPECT_EQ(recon[5 * 16 + 5], 100);
    }
}

}  // namespace
}  // namespace ombrisk
