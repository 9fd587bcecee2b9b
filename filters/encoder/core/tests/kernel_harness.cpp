#include "filters/encoder/core/tests/kernel_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "filters/encoder/core/coefficient_list.h"
#include "filters/encoder/core/inter_prediction.h"

namespace ombrisk::kernel_test {

uint64_t HarnessSeed() {
    static const uint64_t seed = [] {
        if (const char* s = std::getenv("OMBRISK_KERNEL_SEED"); s && *s)
            return static_cast<uint64_t>(std::strtoull(s, nullptr, 0));
        std::random_device rd;
        return (uint64_t{rd()} << 32) | rd();
    }();
    std::printf("kernel harness seed %llu (replay: OMBRISK_KERNEL_SEED=%llu)\n", static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(seed));
    ::testing::Test::RecordProperty("kernel_seed", std::to_string(seed));
    return seed;
}

void FillPixels(Rng& rng, uint8_t* p, size_t n, Pattern pattern) {
    const int base = rng.Range(0, 255);
    for (size_t i = 0; i < n; ++i) {
        switch (pattern) {
            case Pattern::kRandom:
                p[i] = static_cast<uint8_t>(rng.Next());
                break;
            case Pattern::kExtreme:
                p[i] = rng.Chance(50) ? 255 : 0;
                break;
            case Pattern::kNearFlat:
                p[i] = static_cast<uint8_t>(std::clamp(base + rng.Range(-3, 3), 0, 255));
                break;
        }
    }
}

std::vector<uint8_t> RandomPixels(Rng& rng, size_t n, Pattern pattern) {
    std::vector<uint8_t> v(n);
    FillPixels(rng, v.data(), n, pattern);
    return v;
}

namespace {

Pattern AnyPattern(Rng& rng) {
    return kPatterns[rng.Range(0, 2)];
}

// A row entry differs when any member does.
template <typename Fn>
bool RowDiffers(const Fn* a, const Fn* b, int n) {
    if (a == b) return false;
    if (!a || !b) return true;
    for (int i = 0; i < n; ++i)
        if (a[i] != b[i]) return true;
    return false;
}

// A stride that is not a multiple of 16, at least `min`.
int OddStride(Rng& rng, int min) {
    int s = min + rng.Range(0, 37);
    if (s % 16 == 0) ++s;
    return s;
}

void CheckMacroblockPixels(MacroblockPixelsFn got, MacroblockPixelsFn want, Rng& rng, bool load) {
    for (int iter = 0; iter < 50; ++iter) {
        const int ls = OddStride(rng, 16), cs = OddStride(rng, 8);
        const Pattern pat = AnyPattern(rng);
        std::vector<uint8_t> planes[2][3], bufs[2][3];
        const size_t planeSize[3] = {size_t(15 * ls + 16), size_t(7 * cs + 8), size_t(7 * cs + 8)};
        const size_t bufSize[3] = {256, 64, 64};
        for (int c = 0; c < 3; ++c) {
            planes[0][c] = RandomPixels(rng, planeSize[c], pat);
            bufs[0][c] = RandomPixels(rng, bufSize[c], pat);
            planes[1][c] = planes[0][c];
            bufs[1][c] = bufs[0][c];
        }
        MacroblockPixelsFn fns[2] = {got, want};
        for (int k = 0; k < 2; ++k)
            fns[k](planes[k][0].data(), planes[k][1].data(), planes[k][2].data(), bufs[k][0].data(), bufs[k][1].data(),
                   bufs[k][2].data(), ls, cs);
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(planes[0][c], planes[1][c]) << (load ? "load" : "store") << " plane " << c;
            ASSERT_EQ(bufs[0][c], bufs[1][c]) << (load ? "load" : "store") << " buffer " << c;
        }
    }
}

void CheckBlockCost(BlockCostFn got, BlockCostFn want, Rng& rng, size_t sizeA, size_t sizeB) {
    for (int iter = 0; iter < 200; ++iter) {
        const Pattern pat = AnyPattern(rng);
        const auto a = RandomPixels(rng, sizeA, pat);
        auto b = RandomPixels(rng, sizeB, pat);
        // Opposite extremes: the largest cost each kernel can see.
        if (iter == 0) std::fill(b.begin(), b.end(), 255), std::memset((void*)a.data(), 0, sizeA);
        ASSERT_EQ(got(a.data(), b.data()), want(a.data(), b.data())) << "iteration " << iter;
    }
}

void CheckVariance(const VarianceRow* got, const VarianceRow* want, Rng& rng) {
    for (int iter = 0; iter < 200; ++iter) {
        const Pattern pat = AnyPattern(rng);
        const auto a = RandomPixels(rng, 256, pat), b = RandomPixels(rng, 256, pat);
        ASSERT_EQ(got->variance16x16(a.data()), want->variance16x16(a.data())) << iter;
        ASSERT_EQ(got->mse16x16(a.data(), b.data()), want->mse16x16(a.data(), b.data())) << iter;
    }
}

// Member m of a SAD row of block width n.
void CheckSadMember(SadFn got, SadFn want, int n, int member, Rng& rng) {
    for (int iter = 0; iter < 100; ++iter) {
        const Pattern pat = AnyPattern(rng);
        int rows = n, sa = n, ss = n;
        if (member > 0) {
            rows = iter == 0 ? 0 : rng.Range(1, 2 * n);
            sa = OddStride(rng, n);
            ss = OddStride(rng, 2 * n);
        }
        const int height = std::max(rows, 1);
        const auto a = RandomPixels(rng, size_t((height - 1) * sa + n), pat);
        const auto s1 = RandomPixels(rng, size_t((height - 1) * ss + 2 * n), pat);
        const auto s2 = RandomPixels(rng, size_t((height - 1) * ss + 2 * n), pat);
        ASSERT_EQ(got(a.data(), s1.data(), s2.data(), sa, ss, rows), want(a.data(), s1.data(), s2.data(), sa, ss, rows))
            << "member " << member << " rows " << rows << " strides " << sa << "," << ss;
    }
}

void CheckSadRow(const SadFn* got, const SadFn* want, int n, Rng& rng) {
    for (int m = 0; m < kSadMembers; ++m)
        CheckSadMember(got[m], want[m], n, m, rng);
}

void CheckFetchRow(const BlockFetchFn* got, const BlockFetchFn* want, int w, Rng& rng) {
    for (int m = 0; m < kBlockFetchMembers; ++m)
        for (int iter = 0; iter < 60; ++iter) {
            const Pattern pat = AnyPattern(rng);
            const int rows = iter == 0 ? 0 : rng.Range(1, 2 * w);
            const int ds = OddStride(rng, w), ss = OddStride(rng, 2 * w);
            const int height = std::max(rows, 1);
            const auto a = RandomPixels(rng, size_t((height - 1) * ss + 2 * w), pat);
            const auto b = RandomPixels(rng, size_t((height - 1) * ss + 2 * w), pat);
            auto d0 = RandomPixels(rng, size_t((height - 1) * ds + w), pat);
            auto d1 = d0;
            got[m](d0.data(), a.data(), b.data(), ds, ss, rows);
            want[m](d1.data(), a.data(), b.data(), ds, ss, rows);
            ASSERT_EQ(d0, d1) << "member " << m << " rows " << rows << " strides " << ds << "," << ss;
        }
}

// Neighbour arrays: 16 (or 8 for 4x4: above and above right) samples after the corner.
void CheckPredRow(const PredIntraFn* got, const PredIntraFn* want, int modes, int size, Rng& rng) {
    for (int mode = 0; mode < modes; ++mode)
        for (int iter = 0; iter < 100; ++iter) {
            const Pattern pat = AnyPattern(rng);
            const int topCount = size == 4 ? 8 : size;
            auto top = RandomPixels(rng, size_t(topCount + 1), pat);
            auto left = RandomPixels(rng, size_t(size + 1), pat);
            // The first iterations take the steepest edges (0 to 255 across the block, rising
            // or falling), which give the plane modes their largest terms.
            if (iter < 4) {
                for (size_t i = 0; i < top.size(); ++i)
                    top[i] = (iter & 1) ? uint8_t(i < top.size() / 2 ? 0 : 255) : uint8_t(i < top.size() / 2 ? 255 : 0);
                for (size_t i = 0; i < left.size(); ++i)
                    left[i] =
                        (iter & 2) ? uint8_t(i < left.size() / 2 ? 0 : 255) : uint8_t(i < left.size() / 2 ? 255 : 0);
            }
            left[0] = top[0];
            const int ta = rng.Range(0, 1), la = rng.Range(0, 1);
            std::vector<uint8_t> d0(size * size), d1(size * size);
            got[mode](d0.data(), top.data() + 1, left.data() + 1, ta, la);
            want[mode](d1.data(), top.data() + 1, left.data() + 1, ta, la);
            ASSERT_EQ(d0, d1) << "mode " << mode << " available " << ta << la;
        }
}

QuantRecord RandomQuant(Rng& rng) {
    QuantRecord q;
    q.qp = rng.Range(0, 51);
    q.qpDiv6 = q.qp / 6;
    q.qpMod6 = q.qp % 6;
    q.qbits = 15 + q.qpDiv6;
    // The usual intra (1/3) and inter (1/6) deadzones, or anything below a whole step.
    const int choice = rng.Range(0, 2);
    q.offset = choice == 0 ? (1 << q.qbits) / 3 : choice == 1 ? (1 << q.qbits) / 6 : rng.Range(0, (1 << q.qbits) - 1);
    return q;
}

// Lists compared up to and including the closing pair.
::testing::AssertionResult SameList(const CoefficientList& a, const CoefficientList& b, int maxLevels) {
    for (int i = 0; i <= maxLevels; ++i) {
        if (a.pairs[i].level != b.pairs[i].level || a.pairs[i].run != b.pairs[i].run)
            return ::testing::AssertionFailure() << "pair " << i << ": (" << a.pairs[i].level << ", " << a.pairs[i].run
                                                 << ") vs (" << b.pairs[i].level << ", " << b.pairs[i].run << ")";
        if (a.pairs[i].level == 0) return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "list not closed";
}

// Source and prediction of one pipeline run; the extreme case puts 255 against 0. The
// offset shift and cost threshold arguments are drawn for every run; each pipeline takes
// what it has.
struct PipelineInput {
    std::vector<uint8_t> src, pred;
    QuantRecord q;
    int shift, threshold;
};

PipelineInput RandomPipelineInput(Rng& rng, size_t n, int iter, int maxShift) {
    PipelineInput in;
    const Pattern pat = AnyPattern(rng);
    in.src = RandomPixels(rng, n, pat);
    in.pred = RandomPixels(rng, n, pat);
    if (iter % 7 == 0) {
        for (size_t i = 0; i < n; ++i)
            in.src[i] = (i * 7 % 3) ? 255 : 0;
        for (size_t i = 0; i < n; ++i)
            in.pred[i] = 255 - in.src[i];
    }
    // Small residuals exercise the dropping rules.
    if (iter % 5 == 1)
        for (size_t i = 0; i < n; ++i)
            in.src[i] = static_cast<uint8_t>(std::clamp(in.pred[i] + rng.Range(-4, 4), 0, 255));
    in.q = RandomQuant(rng);
    if (iter % 3 == 0) in.q.qp = in.q.qpMod6 = in.q.qpDiv6 = 0, in.q.qbits = 15;
    in.shift = rng.Range(0, maxShift);
    in.threshold = rng.Range(-1, 9);
    return in;
}

struct PipelineOutput {
    int result = 0;
    std::vector<uint8_t> recon;
    std::vector<int16_t> coefs;
    std::vector<CoefficientList> lists;  // DC list (when any) first
};

// Runs a pipeline under test and its reference on the same inputs and compares result,
// levels, lists (up to listLevels[i] levels each), and reconstruction. call(fn, in, out)
// makes one run into out, whose buffers are sized beforehand.
template <typename Fn, typename Call>
void CheckPipeline(Fn got, Fn want, const char* what, int iterations, size_t pixels, size_t reconSize,
                   std::vector<int> listLevels, int maxShift, Rng& rng, Call call) {
    for (int iter = 0; iter < iterations; ++iter) {
        const PipelineInput in = RandomPipelineInput(rng, pixels, iter, maxShift);
        PipelineOutput out[2];
        const Fn fns[2] = {got, want};
        for (int k = 0; k < 2; ++k) {
            out[k].recon.assign(reconSize, 0);
            out[k].coefs.assign(pixels, 0);
            out[k].lists.resize(listLevels.size());
            call(fns[k], in, out[k]);
        }
        const auto where = [&] {
            return ::testing::Message() << what << ", qp " << in.q.qp << " offset " << in.q.offset << " shift "
                                        << in.shift << " threshold " << in.threshold << " iteration " << iter;
        };
        ASSERT_EQ(out[0].result, out[1].result) << "result: " << where();
        ASSERT_EQ(out[0].coefs, out[1].coefs) << "levels: " << where();
        for (size_t i = 0; i < listLevels.size(); ++i)
            ASSERT_TRUE(SameList(out[0].lists[i], out[1].lists[i], listLevels[i])) << "list " << i << ": " << where();
        ASSERT_EQ(out[0].recon, out[1].recon) << "reconstruction: " << where();
    }
}

void CheckLuma4x4(TransformLuma4x4Fn got, TransformLuma4x4Fn want, Rng& rng) {
    // The reconstruction goes into a 16-wide buffer.
    CheckPipeline(got, want, "luma 4x4", 300, 16, 16 * 3 + 4, {16}, 2, rng,
                  [](TransformLuma4x4Fn fn, const PipelineInput& in, PipelineOutput& out) {
                      out.result = fn(in.src.data(), out.recon.data(), in.pred.data(), out.coefs.data(),
                                      out.lists.data(), &in.q, in.shift);
                  });
}

void CheckIntra16x16(TransformIntra16x16Fn got, TransformIntra16x16Fn want, Rng& rng) {
    std::vector<int> levels(17, 15);
    levels[0] = 16;
    CheckPipeline(got, want, "intra 16x16", 150, 256, 256, levels, 0, rng,
                  [](TransformIntra16x16Fn fn, const PipelineInput& in, PipelineOutput& out) {
                      out.result = fn(in.src.data(), out.recon.data(), in.pred.data(), out.coefs.data(), &out.lists[0],
                                      &out.lists[1], &in.q);
                  });
}

void CheckInter16x16(TransformInter16x16Fn got, TransformInter16x16Fn want, Rng& rng) {
    CheckPipeline(got, want, "inter 16x16", 150, 256, 256, std::vector<int>(16, 16), 0, rng,
                  [](TransformInter16x16Fn fn, const PipelineInput& in, PipelineOutput& out) {
                      out.result = fn(in.src.data(), out.recon.data(), in.pred.data(), out.coefs.data(),
                                      out.lists.data(), &in.q, in.threshold);
                  });
}

void CheckChroma(TransformChromaFn got, TransformChromaFn want, Rng& rng) {
    CheckPipeline(got, want, "chroma", 300, 64, 64, {4, 15, 15, 15, 15}, 1, rng,
                  [](TransformChromaFn fn, const PipelineInput& in, PipelineOutput& out) {
                      out.result = fn(in.src.data(), out.recon.data(), in.pred.data(), out.coefs.data(), &out.lists[0],
                                      &out.lists[1], &in.q, in.shift, in.threshold);
                  });
}

void CheckInterpolation(InterpolateHalfPelFn got, InterpolateHalfPelFn want, Rng& rng) {
    for (int iter = 0; iter < 40; ++iter) {
        const int stride = iter == 0 ? 1 : OddStride(rng, 1);
        const int rows = iter == 1 ? 0 : rng.Range(1, 24);
        const auto plane = RandomPixels(rng, size_t(stride * std::max(rows, 1)), AnyPattern(rng));
        std::vector<uint8_t> out[2];
        std::vector<int16_t> scratch(size_t(6 * stride));
        InterpolateHalfPelFn fns[2] = {got, want};
        // The kernel under test builds the plane in two row ranges (as parallel bands do),
        // the reference in one.
        const int split = rng.Range(0, std::max(rows, 0));
        for (int k = 0; k < 2; ++k) {
            out[k].assign(size_t(4 * stride * std::max(rows, 1)), 0x5A);
            if (k == 0) {
                fns[k](plane.data(), out[k].data(), scratch.data(), stride, rows, split, rows);
                fns[k](plane.data(), out[k].data(), scratch.data(), stride, rows, 0, split);
            } else {
                fns[k](plane.data(), out[k].data(), scratch.data(), stride, rows, 0, rows);
            }
        }
        ASSERT_EQ(out[0], out[1]) << "stride " << stride << " rows " << rows << " split " << split;
    }
}

// A macroblock's partition record with the same motion in every 4x4 block of a partition,
// as motion estimation fills it, and vectors that stay inside the padding.
PartitionRecord RandomPartitions(Rng& rng, int refCount[2]) {
    PartitionRecord p{};
    p.shape = rng.Range(0, 3);
    for (int& s : p.subShape)
        s = rng.Range(0, 3);
    for (int list = 0; list < 2; ++list) {
        MotionEntry perBlock[16];
        for (auto& m : perBlock) {
            m.x = static_cast<int16_t>(rng.Range(-60, 60));
            m.y = static_cast<int16_t>(rng.Range(-60, 60));
            m.ref = static_cast<int8_t>(rng.Chance(30) ? -1 : rng.Range(0, refCount[list] - 1));
        }
        for (int b = 0; b < 16; ++b) {
            const int x = b & 3, y = b >> 2;
            int owner;  // the first 4x4 block of b's partition
            switch (p.shape) {
                case kPart16x16:
                    owner = 0;
                    break;
                case kPart16x8:
                    owner = (y / 2) * 8;
                    break;
                case kPart8x16:
                    owner = (x / 2) * 2;
                    break;
                default: {
                    const int bx = x & ~1, by = y & ~1;
                    switch (p.subShape[(y / 2) * 2 + x / 2]) {
                        case kSub8x8:
                            owner = by * 4 + bx;
                            break;
                        case kSub8x4:
                            owner = y * 4 + bx;
                            break;
                        case kSub4x8:
                            owner = by * 4 + x;
                            break;
                        default:
                            owner = b;
                            break;
                    }
                }
            }
            p.motion[list][b] = perBlock[owner];
        }
    }
    return p;
}

// Reference chroma planes for a 3x2-macroblock picture with 16 samples of padding.
struct ChromaRefs {
    static constexpr int kPad = 16, kWidth = 24, kHeight = 16;
    static constexpr int kStride = kWidth + 2 * kPad + 3;
    std::vector<uint8_t> planes[2][3][2];  // [list][index][cb, cr]
    ChromaReference entries[2][3];
    ReferenceLists lists{};
    ChromaRefs(Rng& rng) {
        for (int l = 0; l < 2; ++l) {
            for (int i = 0; i < 3; ++i) {
                for (int c = 0; c < 2; ++c)
                    planes[l][i][c] = RandomPixels(rng, size_t(kStride * (kHeight + 2 * kPad)), AnyPattern(rng));
                const size_t origin = size_t(kPad * kStride + kPad);
                entries[l][i] = {planes[l][i][0].data() + origin, planes[l][i][1].data() + origin};
            }
            lists.list[l] = entries[l];
            lists.count[l] = 3;
        }
        lists.chromaStride = kStride;
    }
};

void CheckChromaInter(PredictChromaInterFn got, PredictChromaInterFn want, Rng& rng) {
    ChromaRefs refs(rng);
    for (int iter = 0; iter < 300; ++iter) {
        int counts[2] = {3, 3};
        const PartitionRecord p = RandomPartitions(rng, counts);
        const int mbX = rng.Range(0, 2), mbY = rng.Range(0, 1);
        std::vector<uint8_t> out[2] = {std::vector<uint8_t>(128, 0x33), std::vector<uint8_t>(128, 0x33)};
        got(mbX, mbY, &p, &refs.lists, out[0].data());
        want(mbX, mbY, &p, &refs.lists, out[1].data());
        ASSERT_EQ(out[0], out[1]) << "shape " << p.shape << " at " << mbX << "," << mbY;
    }
}

// One chroma block of every size the partitions give, at random eighth-sample vectors
// (negative ones too) into a destination whose samples around the block must stay.
void CheckChromaBlock(ChromaMotionBlockFn got, ChromaMotionBlockFn want, Rng& rng) {
    constexpr int kMargin = 4;  // the reach of a vector's integer part, in samples
    for (int iter = 0; iter < 400; ++iter) {
        const int w = 2 << rng.Range(0, 2), h = 2 << rng.Range(0, 2);
        const int stride = OddStride(rng, w + 2 * kMargin + 1);
        const auto plane = RandomPixels(rng, size_t(stride * (h + 2 * kMargin + 1)), AnyPattern(rng));
        const uint8_t* origin = plane.data() + kMargin * stride + kMargin;
        const int mvx = rng.Range(-8 * kMargin, 8 * kMargin), mvy = rng.Range(-8 * kMargin, 8 * kMargin);
        const int dstStride = OddStride(rng, w);
        std::vector<uint8_t> out[2] = {RandomPixels(rng, size_t(dstStride * h), Pattern::kRandom), {}};
        out[1] = out[0];
        got(origin, stride, mvx, mvy, w, h, out[0].data(), dstStride);
        want(origin, stride, mvx, mvy, w, h, out[1].data(), dstStride);
        ASSERT_EQ(out[0], out[1]) << w << "x" << h << " vector " << mvx << "," << mvy << " stride " << stride;
    }
}

void CheckBytes(const CKernelTable& got, const CKernelTable& want, Rng& rng) {
    for (int iter = 0; iter < 50; ++iter) {
        const size_t n = size_t(rng.Range(0, 300));
        const auto src = RandomPixels(rng, n + 1, Pattern::kRandom);
        std::vector<uint8_t> d[2] = {RandomPixels(rng, n + 1, Pattern::kRandom), {}};
        d[1] = d[0];
        got.copyBytes(d[0].data(), src.data(), n);
        want.copyBytes(d[1].data(), src.data(), n);
        ASSERT_EQ(d[0], d[1]) << "copy " << n;
        const int value = rng.Range(0, 255);
        got.fillBytes(d[0].data(), value, n);
        want.fillBytes(d[1].data(), value, n);
        ASSERT_EQ(d[0], d[1]) << "fill " << n;
    }
}

#define ENTRY(field) #field, [](const CKernelTable& a, const CKernelTable& b) { return a.field != b.field; }
#define ROW(field, n) \
#field, [](const CKernelTable& a, const CKernelTable& b) { return RowDiffers(a.field, b.field, n); }

}  // namespace

const std::vector<EntryCheck>& EntryChecks() {
    using T = const CKernelTable&;
    static const std::vector<EntryCheck> checks = {
        {ENTRY(storeMacroblockPixels),
         [](T g, T w, Rng& r) { CheckMacroblockPixels(g.storeMacroblockPixels, w.storeMacroblockPixels, r, false); }},
        {"copyBytes, fillBytes", [](T a, T b) { return a.copyBytes != b.copyBytes || a.fillBytes != b.fillBytes; },
         &CheckBytes},
        {ENTRY(ssd4x4), [](T g, T w, Rng& r) { CheckBlockCost(g.ssd4x4, w.ssd4x4, r, 16, 52); }},
        {ENTRY(ssd8x8), [](T g, T w, Rng& r) { CheckBlockCost(g.ssd8x8, w.ssd8x8, r, 64, 64); }},
        {ENTRY(ssd16x16), [](T g, T w, Rng& r) { CheckBlockCost(g.ssd16x16, w.ssd16x16, r, 256, 256); }},
        {ENTRY(transformIntra16x16),
         [](T g, T w, Rng& r) { CheckIntra16x16(g.transformIntra16x16, w.transformIntra16x16, r); }},
        {ENTRY(transformLuma4x4), [](T g, T w, Rng& r) { CheckLuma4x4(g.transformLuma4x4, w.transformLuma4x4, r); }},
        {ROW(predIntra4x4, kPredIntra4x4Modes),
         [](T g, T w, Rng& r) { CheckPredRow(g.predIntra4x4, w.predIntra4x4, kPredIntra4x4Modes, 4, r); }},
        {ROW(predChroma8x8, kPredChromaModes),
         [](T g, T w, Rng& r) { CheckPredRow(g.predChroma8x8, w.predChroma8x8, kPredChromaModes, 8, r); }},
        {ENTRY(transformChroma), [](T g, T w, Rng& r) { CheckChroma(g.transformChroma, w.transformChroma, r); }},
        {ENTRY(satd4x4), [](T g, T w, Rng& r) { CheckBlockCost(g.satd4x4, w.satd4x4, r, 16, 16); }},
        {ENTRY(satd8x8), [](T g, T w, Rng& r) { CheckBlockCost(g.satd8x8, w.satd8x8, r, 64, 64); }},
        {ENTRY(satd16x16), [](T g, T w, Rng& r) { CheckBlockCost(g.satd16x16, w.satd16x16, r, 256, 256); }},
        {"variance",
         [](T a, T b) {
             return a.variance != b.variance &&
                    (!a.variance || !b.variance || a.variance->variance16x16 != b.variance->variance16x16 ||
                     a.variance->mse16x16 != b.variance->mse16x16);
         },
         [](T g, T w, Rng& r) { CheckVariance(g.variance, w.variance, r); }},
        {ROW(predIntra16x16, kPredIntra16x16Modes),
         [](T g, T w, Rng& r) { CheckPredRow(g.predIntra16x16, w.predIntra16x16, kPredIntra16x16Modes, 16, r); }},
        {ENTRY(transformInter16x16),
         [](T g, T w, Rng& r) { CheckInter16x16(g.transformInter16x16, w.transformInter16x16, r); }},
        {ENTRY(loadMacroblockPixels),
         [](T g, T w, Rng& r) { CheckMacroblockPixels(g.loadMacroblockPixels, w.loadMacroblockPixels, r, true); }},
        {ENTRY(interpolateHalfPel),
         [](T g, T w, Rng& r) { CheckInterpolation(g.interpolateHalfPel, w.interpolateHalfPel, r); }},
        {ROW(sad4x4, kSadMembers), [](T g, T w, Rng& r) { CheckSadRow(g.sad4x4, w.sad4x4, 4, r); }},
        {ROW(sad8x8, kSadMembers), [](T g, T w, Rng& r) { CheckSadRow(g.sad8x8, w.sad8x8, 8, r); }},
        {ROW(sad16x16, kSadMembers), [](T g, T w, Rng& r) { CheckSadRow(g.sad16x16, w.sad16x16, 16, r); }},
        {ENTRY(sadContiguous4x4),
         [](T g, T w, Rng& r) { CheckSadMember(g.sadContiguous4x4, w.sadContiguous4x4, 4, 0, r); }},
        {ENTRY(sadContiguous8x8),
         [](T g, T w, Rng& r) { CheckSadMember(g.sadContiguous8x8, w.sadContiguous8x8, 8, 0, r); }},
        {ENTRY(sadContiguous16x16),
         [](T g, T w, Rng& r) { CheckSadMember(g.sadContiguous16x16, w.sadContiguous16x16, 16, 0, r); }},
        {ENTRY(predictChromaInter),
         [](T g, T w, Rng& r) { CheckChromaInter(g.predictChromaInter, w.predictChromaInter, r); }},
        {ROW(blockFetch4, kBlockFetchMembers),
         [](T g, T w, Rng& r) { CheckFetchRow(g.blockFetch4, w.blockFetch4, 4, r); }},
        {ROW(blockFetch8, kBlockFetchMembers),
         [](T g, T w, Rng& r) { CheckFetchRow(g.blockFetch8, w.blockFetch8, 8, r); }},
        {ROW(blockFetch16, kBlockFetchMembers),
         [](T g, T w, Rng& r) { CheckFetchRow(g.blockFetch16, w.blockFetch16, 16, r); }},
        {ENTRY(chromaMotionBlock),
         [](T g, T w, Rng& r) { CheckChromaBlock(g.chromaMotionBlock, w.chromaMotionBlock, r); }},
    };
    return checks;
}

bool EveryEntryFilled(const CKernelTable& t, std::string* missing) {
    const void* const entries[31] = {(void*)t.storeMacroblockPixels,
                                     (void*)t.copyBytes,
                                     (void*)t.ssd4x4,
                                     (void*)t.ssd8x8,
                                     (void*)t.ssd16x16,
                                     (void*)t.transformIntra16x16,
                                     (void*)t.transformLuma4x4,
                                     t.predIntra4x4,
                                     t.predChroma8x8,
                                     (void*)t.transformChroma,
                                     (void*)t.satd4x4,
                                     (void*)t.satd8x8,
                                     (void*)t.satd16x16,
                                     t.variance,
                                     t.predIntra16x16,
                                     (void*)t.transformInter16x16,
                                     (void*)t.loadMacroblockPixels,
                                     (void*)t.interpolateHalfPel,
                                     t.sad4x4,
                                     t.sad8x8,
                                     t.sad16x16,
                                     (void*)t.sadContiguous4x4,
                                     (void*)t.sadContiguous8x8,
                                     (void*)t.sadContiguous16x16,
                                     (void*)t.predictChromaInter,
                                     (void*)t.deblock.lumaNormal,
                                     t.blockFetch4,
                                     t.blockFetch8,
                                     t.blockFetch16,
                                     (void*)t.fillBytes,
                                     (void*)t.chromaMotionBlock};
    missing->clear();
    for (int i = 0; i < 31; ++i)
        if (!entries[i]) *missing += "entry " + std::to_string(i) + " ";
    const common::DeblockKernels& d = t.deblock;
    const void* const deblock[12] = {(void*)d.lumaNormal,
                                     (void*)d.lumaStrong,
                                     (void*)d.chromaNormal,
                                     (void*)d.chromaStrong,
                                     (void*)d.lumaHorizontal16,
                                     (void*)d.lumaVertical16,
                                     (void*)d.lumaStrongHorizontal16,
                                     (void*)d.lumaStrongVertical16,
                                     (void*)d.chromaHorizontal8,
                                     (void*)d.chromaVertical8,
                                     (void*)d.chromaStrongHorizontal8,
                                     (void*)d.chromaStrongVertical8};
    for (int i = 0; i < 12; ++i)
        if (!deblock[i]) *missing += "deblock entry " + std::to_string(i) + " ";
    const auto rowMembers = [&](const char* name, auto row, int n) {
        if (!row) return;
        for (int i = 0; i < n; ++i)
            if (!row[i]) *missing += std::string(name) + "[" + std::to_string(i) + "] ";
    };
    rowMembers("predIntra4x4", t.predIntra4x4, kPredIntra4x4Modes);
    rowMembers("predChroma8x8", t.predChroma8x8, kPredChromaModes);
    rowMembers("predIntra16x16", t.predIntra16x16, kPredIntra16x16Modes);
    rowMembers("sad4x4", t.sad4x4, kSadMembers);
    rowMembers("sad8x8", t.sad8x8, kSadMembers);
    rowMembers("sad16x16", t.sad16x16, kSadMembers);
    rowMembers("blockFetch4", t.blockFetch4, kBlockFetchMembers);
    rowMembers("blockFetch8", t.blockFetch8, kBlockFetchMembers);
    rowMembers("blockFetch16", t.blockFetch16, kBlockFetchMembers);
    if (t.variance && (!t.variance->variance16x16 || !t.variance->mse16x16)) *missing += "variance row ";
    return missing->empty();
}

}  // namespace ombrisk::kernel_test
