// Every entry of the encoder's kernel table, timed for the portable set ("portable") and
// for the set this processor's feature word selects ("selected"), so that each later SIMD
// member can be compared with its portable definition. The decoder's entries that its
// feature word replaces follow under "dec_".
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/cpu_features.h"
#include "filters/decoder/core/kernel_table.h"
#include "filters/encoder/core/coefficient_list.h"
#include "filters/encoder/core/inter_prediction.h"
#include "filters/encoder/core/kernel_table.h"

namespace ombrisk {
namespace {

// Random pixels, fixed seed: every run times the same data.
std::vector<uint8_t> Pixels(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& p : v)
        p = static_cast<uint8_t>(rng());
    return v;
}

// A 720x576 picture's luma with 16 samples of padding, as the reference store keeps it.
constexpr int kStride = 720 + 32, kRows = 576 + 32;

struct Inputs {
    std::vector<uint8_t> a = Pixels(kStride * kRows, 1), b = Pixels(kStride * kRows, 2);
    std::vector<uint8_t> half = Pixels(size_t(4) * kStride * kRows, 3);
    std::vector<uint8_t> out = Pixels(size_t(4) * kStride * kRows, 4);
    std::vector<int16_t> scratch = std::vector<int16_t>(size_t(6) * kStride);
    std::vector<int16_t> coefs = std::vector<int16_t>(256);
    std::vector<CoefficientList> lists = std::vector<CoefficientList>(17);
    QuantRecord q{26, 4, 2, 19, (1 << 19) / 6};
    const uint8_t* mid(const std::vector<uint8_t>& v) const { return v.data() + 16 * kStride + 16; }
};

using Body = std::function<void(const CKernelTable&, Inputs&)>;

void Add(const std::string& name, Body body) {
    static CKernelTable sets[2];
    FillKernelTable(&sets[0], 0, 1);
    FillKernelTable(&sets[1], common::DetectCpuFeatures(), 1);
    const char* setNames[2] = {"portable", "selected"};
    for (int s = 0; s < 2; ++s)
        benchmark::RegisterBenchmark((name + "/" + setNames[s]).c_str(), [body, s](benchmark::State& state) {
            Inputs in;
            for (auto _ : state) {
                body(sets[s], in);
                benchmark::ClobberMemory();
            }
        });
}

void RegisterAll() {
    using T = const CKernelTable&;
    const auto cost = [](const char* name, BlockCostFn CKernelTable::*field) {
        Add(name, [field](T t, Inputs& in) { benchmark::DoNotOptimize((t.*field)(in.a.data(), in.b.data())); });
    };
    cost("ssd4x4", &CKernelTable::ssd4x4);
    cost("ssd8x8", &CKernelTable::ssd8x8);
    cost("ssd16x16", &CKernelTable::ssd16x16);
    cost("satd4x4", &CKernelTable::satd4x4);
    cost("satd8x8", &CKernelTable::satd8x8);
    cost("satd16x16", &CKernelTable::satd16x16);
    Add("variance16x16", [](T t, Inputs& in) { benchmark::DoNotOptimize(t.variance->variance16x16(in.a.data())); });
    Add("mse16x16", [](T t, Inputs& in) { benchmark::DoNotOptimize(t.variance->mse16x16(in.a.data(), in.b.data())); });

    const std::pair<const char*, const SadFn * CKernelTable::*> sadRows[] = {
        {"sad4x4", &CKernelTable::sad4x4}, {"sad8x8", &CKernelTable::sad8x8}, {"sad16x16", &CKernelTable::sad16x16}};
    for (auto [name, row] : sadRows)
        for (int m = 0; m < kSadMembers; ++m)
            Add(std::string(name) + "_" + std::to_string(m), [row, m](T t, Inputs& in) {
                benchmark::DoNotOptimize(
                    (t.*row)[m](in.mid(in.a), in.mid(in.half), in.mid(in.half) + 1, kStride, 2 * kStride, 16));
            });
    const std::pair<const char*, const BlockFetchFn * CKernelTable::*> fetchRows[] = {
        {"fetch4", &CKernelTable::blockFetch4},
        {"fetch8", &CKernelTable::blockFetch8},
        {"fetch16", &CKernelTable::blockFetch16}};
    for (auto [name, row] : fetchRows)
        for (int m = 0; m < kBlockFetchMembers; ++m)
            Add(std::string(name) + "_" + std::to_string(m), [row, m](T t, Inputs& in) {
                (t.*row)[m](in.out.data(), in.mid(in.half), in.mid(in.half) + 1, 16, 2 * kStride, 16);
            });

    const std::tuple<const char*, const PredIntraFn * CKernelTable::*, int> predRows[] = {
        {"pred4x4", &CKernelTable::predIntra4x4, kPredIntra4x4Modes},
        {"pred16x16", &CKernelTable::predIntra16x16, kPredIntra16x16Modes},
        {"predChroma", &CKernelTable::predChroma8x8, kPredChromaModes}};
    for (auto [name, row, modes] : predRows)
        for (int m = 0; m < modes; ++m)
            Add(std::string(name) + "_" + std::to_string(m),
                [row, m](T t, Inputs& in) { (t.*row)[m](in.out.data(), in.a.data() + 1, in.b.data() + 1, 1, 1); });

    Add("transformLuma4x4", [](T t, Inputs& in) {
        benchmark::DoNotOptimize(
            t.transformLuma4x4(in.a.data(), in.out.data(), in.b.data(), in.coefs.data(), in.lists.data(), &in.q, 0));
    });
    Add("transformIntra16x16", [](T t, Inputs& in) {
        benchmark::DoNotOptimize(t.transformIntra16x16(in.a.data(), in.out.data(), in.b.data(), in.coefs.data(),
                                                       &in.lists[0], &in.lists[1], &in.q));
    });
    Add("transformInter16x16", [](T t, Inputs& in) {
        benchmark::DoNotOptimize(
            t.transformInter16x16(in.a.data(), in.out.data(), in.b.data(), in.coefs.data(), in.lists.data(), &in.q, 4));
    });
    Add("transformChroma", [](T t, Inputs& in) {
        benchmark::DoNotOptimize(t.transformChroma(in.a.data(), in.out.data(), in.b.data(), in.coefs.data(),
                                                   &in.lists[0], &in.lists[1], &in.q, 0, 4));
    });
    Add("loadMacroblockPixels", [](T t, Inputs& in) {
        t.loadMacroblockPixels(in.a.data(), in.b.data(), in.b.data() + 16, in.out.data(), in.out.data() + 256,
                               in.out.data() + 320, kStride, kStride);
    });
    Add("storeMacroblockPixels", [](T t, Inputs& in) {
        t.storeMacroblockPixels(in.out.data(), in.out.data() + 16, in.out.data() + 32, in.a.data(), in.b.data(),
                                in.b.data() + 64, kStride, kStride);
    });
    // One whole padded 720x576 luma plane per iteration.
    Add("interpolateHalfPel_720x576", [](T t, Inputs& in) {
        t.interpolateHalfPel(in.a.data(), in.out.data(), in.scratch.data(), kStride, kRows, 0, kRows);
    });
    for (int w : {8, 4, 2})
        Add("chromaMotionBlock_" + std::to_string(w) + "x" + std::to_string(w),
            [w](T t, Inputs& in) { t.chromaMotionBlock(in.mid(in.a), kStride, 13, -6, w, w, in.out.data(), kStride); });
    Add("predictChromaInter_8x8_bi", [](T t, Inputs& in) {
        static PartitionRecord p = [] {
            PartitionRecord r{};
            r.shape = kPart8x8;
            for (int l = 0; l < 2; ++l)
                for (int b = 0; b < 16; ++b)
                    r.motion[l][b] = {int16_t(3 + l), int16_t(-5 + b), 0};
            return r;
        }();
        const ChromaReference ref = {in.mid(in.a), in.mid(in.b)};
        const ChromaReference* lists[2] = {&ref, &ref};
        const ReferenceLists refs{{lists[0], lists[1]}, {1, 1}, kStride};
        t.predictChromaInter(2, 2, &p, &refs, in.out.data());
    });
    // Whole macroblock edges of the loop filter, vertical (V) and horizontal (H), bS 1 and 4.
    const char* kinds[4] = {"lumaV", "lumaH", "chromaV", "chromaH"};
    for (int k = 0; k < 4; ++k)
        for (int bs : {1, 4})
            Add(std::string("deblock_") + kinds[k] + "_bS" + std::to_string(bs), [k, bs](T t, Inputs& in) {
                // A smooth area with a small step in both directions, rewritten each time (its
                // stores are part of the figure): the filter's full path is taken.
                uint8_t* p = in.out.data();
                for (int y = 0; y < 24; ++y)
                    for (int x = 0; x < 24; ++x)
                        p[y * kStride + x] = static_cast<uint8_t>(100 + (x >= 8) * 3 + (y >= 8) * 3 + (x >= 16) * 3);
                const bool vertical = k % 2 == 0;
                uint8_t* q0 = p + 8 * kStride + 8;
                const uint8_t strengths[4] = {uint8_t(bs), uint8_t(bs), uint8_t(bs), uint8_t(bs)};
                const common::DeblockThresholds th = common::ThresholdsOf(36, 36);
                if (k < 2)
                    common::FilterLumaEdge(t.deblock, vertical, q0, kStride, strengths, th);
                else
                    common::FilterChromaEdge(t.deblock, vertical, q0, q0 + 12, kStride, strengths, th);
            });
}

}  // namespace
}  // namespace ombrisk

namespace avcdec {
namespace {

// The decoder's entries, portable and selected, on a 720x576 picture of random samples: the
// intra modes on a block in the middle with every neighbour available, the luma DC inverse
// on mid-range levels, the motion entries at every fraction and width (height = width).
void RegisterDecoderKernels() {
    static DecoderKernelTable sets[2];
    FillDecoderKernelTable(&sets[0], 0);
    FillDecoderKernelTable(&sets[1], common::DetectCpuFeatures());
    using Body = std::function<void(const DecoderKernelTable&, uint8_t*, int)>;
    constexpr int kPitch = 752;
    const auto add = [](const std::string& name, Body body) {
        const char* setNames[2] = {"portable", "selected"};
        for (int s = 0; s < 2; ++s)
            benchmark::RegisterBenchmark(("dec_" + name + "/" + setNames[s]).c_str(), [body, s](benchmark::State& st) {
                static std::vector<uint8_t> picture = [] {
                    std::mt19937 rng(7);
                    std::vector<uint8_t> v(size_t{kPitch} * 608);
                    for (auto& p : v)
                        p = static_cast<uint8_t>(rng());
                    return v;
                }();
                uint8_t* mid = picture.data() + 300 * kPitch + 360;
                for (auto _ : st) {
                    body(sets[s], mid, kPitch);
                    benchmark::ClobberMemory();
                }
            });
    };
    const IntraAvailability all{true, true, true, true};
    for (int m = 0; m < 9; ++m)
        add("intra4x4_" + std::to_string(m),
            [m, all](const DecoderKernelTable& t, uint8_t* p, int pitch) { t.intra4x4[m](p, pitch, all, p, pitch); });
    for (int m = 0; m < 3; ++m) {
        add("intra16x16_" + std::to_string(m),
            [m, all](const DecoderKernelTable& t, uint8_t* p, int pitch) { t.intra16x16[m](p, pitch, all, p, pitch); });
        add("intraChroma_" + std::to_string(m), [m, all](const DecoderKernelTable& t, uint8_t* p, int pitch) {
            t.intraChroma[m](p, pitch, all, p, pitch);
        });
    }
    add("lumaDcInverse", [](const DecoderKernelTable& t, uint8_t*, int) {
        alignas(16) static int16_t coeffs[24][16];
        static const int16_t levels[16] = {40, -3, 7, 0, 12, -9, 1, 2, -5, 0, 0, 3, 8, -1, 0, -2};
        benchmark::DoNotOptimize(t.inverseLumaDc(coeffs, levels, 16 << 4));
    });
    for (int f = 0; f < 16; ++f)
        for (int w = 4; w <= 16; w *= 2)
            add("luma_" + std::to_string(f % 4) + std::to_string(f / 4) + "_" + std::to_string(w) + "x" +
                    std::to_string(w),
                [f, w](const DecoderKernelTable& t, uint8_t* p, int pitch) {
                    t.lumaBlocks[LumaBlockIndex(f % 4, f / 4, w)](p + 40 * pitch, pitch, p, pitch, w);
                });
    for (int w = 2; w <= 8; w *= 2)
        add("chroma_" + std::to_string(w) + "x" + std::to_string(w), [w](const DecoderKernelTable& t, uint8_t* p,
                                                                         int pitch) {
            t.chromaBlocks[ChromaBlockIndex(w)](p + 40 * pitch, p + 40 * pitch + 64, pitch, p, p + 64, pitch, w, 3, 5);
        });
}

}  // namespace
}  // namespace avcdec

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ombrisk::RegisterAll();
    avcdec::RegisterDecoderKernels();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
