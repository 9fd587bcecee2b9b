// The shared loop-filter kernels: the portable forms against a reference written from
// clauses 8.7.2.3 and 8.7.2.4, and the SIMD forms against the portable ones.
#include "common/dsp/deblock_kernels.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "common/cpu_features.h"

namespace common {
namespace {

uint8_t Clip1(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// One edge segment from the clauses, on sample arrays p[0..3] and q[0..3] of each line.
void ReferenceSegment(uint8_t* q0, int step, int along, int lines, bool luma, int bs, int alpha, int beta, int tc0) {
    for (int k = 0; k < lines; ++k) {
        uint8_t* s[8];  // p3 .. q3
        for (int i = 0; i < 8; ++i)
            s[i] = q0 + k * along + (i - 4) * step;
        int p[4], q[4];
        for (int i = 0; i < 4; ++i)
            p[i] = *s[3 - i], q[i] = *s[4 + i];
        const bool filter =
            bs != 0 && std::abs(p[0] - q[0]) < alpha && std::abs(p[1] - p[0]) < beta && std::abs(q[1] - q[0]) < beta;
        if (!filter) continue;
        const int ap = std::abs(p[2] - p[0]), aq = std::abs(q[2] - q[0]);
        int pf[3] = {p[0], p[1], p[2]}, qf[3] = {q[0], q[1], q[2]};
        if (bs < 4) {
            const int tc = luma ? tc0 + (ap < beta ? 1 : 0) + (aq < beta ? 1 : 0) : tc0 + 1;
            const int delta = std::min(std::max(((((q[0] - p[0]) << 2) + (p[1] - q[1]) + 4) >> 3), -tc), tc);
            pf[0] = Clip1(p[0] + delta);
            qf[0] = Clip1(q[0] - delta);
            if (luma && ap < beta)
                pf[1] = p[1] + std::min(std::max((p[2] + ((p[0] + q[0] + 1) >> 1) - (p[1] << 1)) >> 1, -tc0), tc0);
            if (luma && aq < beta)
                qf[1] = q[1] + std::min(std::max((q[2] + ((p[0] + q[0] + 1) >> 1) - (q[1] << 1)) >> 1, -tc0), tc0);
        } else {
            const bool small = std::abs(p[0] - q[0]) < ((alpha >> 2) + 2);
            if (luma && ap < beta && small) {
                pf[0] = (p[2] + 2 * p[1] + 2 * p[0] + 2 * q[0] + q[1] + 4) >> 3;
                pf[1] = (p[2] + p[1] + p[0] + q[0] + 2) >> 2;
                pf[2] = (2 * p[3] + 3 * p[2] + p[1] + p[0] + q[0] + 4) >> 3;
            } else {
                pf[0] = (2 * p[1] + p[0] + q[1] + 2) >> 2;
            }
            if (luma && aq < beta && small) {
                qf[0] = (p[1] + 2 * p[0] + 2 * q[0] + 2 * q[1] + q[2] + 4) >> 3;
                qf[1] = (p[0] + q[0] + q[1] + q[2] + 2) >> 2;
                qf[2] = (2 * q[3] + 3 * q[2] + q[1] + q[0] + p[0] + 4) >> 3;
            } else {
                qf[0] = (2 * q[1] + q[0] + p[1] + 2) >> 2;
            }
        }
        for (int i = 0; i < 3; ++i) {
            *s[3 - i] = static_cast<uint8_t>(pf[i]);
            *s[4 + i] = static_cast<uint8_t>(qf[i]);
        }
    }
}

// An 8 x 8 patch around an edge through its middle: samples close to a base level with a
// step across the edge, so that every branch of the filter is taken somewhere.
void RandomEdgePatch(std::mt19937_64& rng, uint8_t* patch, int alpha, int beta) {
    const auto range = [&](int lo, int hi) { return lo + static_cast<int>(rng() % uint64_t(hi - lo + 1)); };
    const int base = range(0, 255);
    const int step = range(-alpha - 2, alpha + 2);
    const int spread = rng() % 5 == 0 ? 255 : std::max(1, beta + 1);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const int across = rng() & 1 ? x : y;  // either orientation sees a step
            const int v = base + (across >= 4 ? step : 0) + range(-spread, spread) / 2;
            patch[8 * y + x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
}

struct SegmentRun {
    int mismatches = 0, changed = 0;
};

// Every luma and chroma segment form of a table, both directions, every bS, indexA and
// indexB with tC0 from its table, one random edge each, against the reference.
SegmentRun CompareSegments(const DeblockKernels& k, std::mt19937_64& rng) {
    SegmentRun run;
    constexpr int kStride = 11;  // the patch sits in a wider plane
    for (int luma = 0; luma < 2; ++luma)
        for (int vertical = 0; vertical < 2; ++vertical)
            for (int bs = 1; bs <= 4; ++bs)
                for (int ia = 0; ia < 52; ++ia)
                    for (int ib = 0; ib < 52; ++ib) {
                        const DeblockThresholds t = ThresholdsOf(ia, ib);
                        const int tc0 = bs < 4 ? kDeblockTc0[ia][bs - 1] : 0;
                        uint8_t patch[64];
                        RandomEdgePatch(rng, patch, t.alpha, t.beta);
                        std::vector<uint8_t> plane[2];
                        for (auto& p : plane) {
                            p.assign(size_t(kStride * 8), 0);
                            for (int y = 0; y < 8; ++y)
                                std::memcpy(&p[size_t(y * kStride)], patch + 8 * y, 8);
                        }
                        const std::vector<uint8_t> before = plane[0];
                        // q0 of a vertical edge at x = 4 from line 2, or of a horizontal
                        // edge at y = 4 from column 2.
                        const int step = vertical ? 1 : kStride, along = vertical ? kStride : 1;
                        const size_t q0 = vertical ? size_t(2 * kStride + 4) : size_t(4 * kStride + 2);
                        const int lines = luma ? 4 : 2;
                        const DeblockSegmentFn f = luma ? (bs == 4 ? k.lumaStrong : k.lumaNormal)
                                                        : (bs == 4 ? k.chromaStrong : k.chromaNormal);
                        f(plane[0].data() + q0, step, along, lines, t.alpha, t.beta, tc0);
                        ReferenceSegment(plane[1].data() + q0, step, along, lines, luma != 0, bs, t.alpha, t.beta, tc0);
                        if (plane[0] != plane[1] && run.mismatches++ == 0)
                            ADD_FAILURE() << "luma " << luma << " vertical " << vertical << " bS " << bs << " indexA "
                                          << ia << " indexB " << ib;
                        run.changed += plane[0] != before;
                    }
    return run;
}

TEST(DeblockKernels, PortableSegmentsFollowTheStandard) {
    DeblockKernels k{};
    FillDeblockKernels(&k, 0);
    const uint64_t seed = std::random_device{}();
    SCOPED_TRACE(seed);
    std::mt19937_64 rng(seed);
    const SegmentRun run = CompareSegments(k, rng);
    EXPECT_EQ(run.mismatches, 0);
    // The inputs reach the filters' arithmetic, not only their early outs.
    EXPECT_GT(run.changed, 4 * 4 * 52 * 52 / 8);
}

// A chroma filter that forgets the + 1 of tC (clause 8.7.2.3) must not pass.
void ChromaNormalWithoutPlusOne(uint8_t* q0, int step, int along, int lines, int alpha, int beta, int tc0) {
    for (int k = 0; k < lines; ++k, q0 += along) {
        const int p1 = q0[-2 * step], p0 = q0[-step], q = q0[0], q1 = q0[step];
        if (std::abs(p0 - q) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q) >= beta) continue;
        const int d = std::clamp((((q - p0) * 4) + (p1 - q1) + 4) >> 3, -tc0, tc0);
        q0[-step] = Clip1(p0 + d);
        q0[0] = Clip1(q - d);
    }
}

TEST(DeblockKernels, ComparisonFindsAFilterOffByOne) {
    DeblockKernels k{};
    FillDeblockKernels(&k, 0);
    k.chromaNormal = &ChromaNormalWithoutPlusOne;
    std::mt19937_64 rng(1);
    SegmentRun run;
    EXPECT_NONFATAL_FAILURE(run = CompareSegments(k, rng), "luma 0");
    EXPECT_GT(run.mismatches, 0);
}

TEST(DeblockKernels, SimdFormsEqualThePortableForms) {
    DeblockKernels portable{}, simd{};
    FillDeblockKernels(&portable, 0);
    FillDeblockKernels(&simd, DetectCpuFeatures());
    if (simd.lumaVertical16 == portable.lumaVertical16) GTEST_SKIP() << "no SIMD form here";
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
            const DeblockKernels& t = form == 0 ? simd : portable;
            uint8_t* buf = form == 0 ? a : b;
            switch (kind) {
                case 0:
                    (vertical ? t.lumaVertical16 : t.lumaHorizontal16)(buf + at, step, along, alpha, beta, tc0);
                    break;
                case 1:
                    (vertical ? t.lumaStrongVertical16 : t.lumaStrongHorizontal16)(buf + at, step, along, alpha, beta);
                    break;
                case 2:
                    (vertical ? t.chromaVertical8 : t.chromaHorizontal8)(buf + at, buf + atCr, step, along, alpha, beta,
                                                                         tc0);
                    break;
                default:
                    (vertical ? t.chromaStrongVertical8 : t.chromaStrongHorizontal8)(buf + at, buf + atCr, step, along,
                                                                                     alpha, beta);
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
}  // namespace common
