// Motion-compensation and weighting kernels: the portable luma kernel against the named
// samples of clause 8.4.2.2.1, every SIMD form against the portable one on random and
// extreme pictures (replayable seed), and the weighting formulas' edge cases.
#include "filters/decoder/core/motion_kernels.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/cpu_features.h"
#include "common/tests/fake_cpu.h"
#include "filters/decoder/core/kernel_table.h"

namespace avcdec {
namespace {

// The seed of this run: AVCDEC_KERNEL_SEED when set (to replay), else a fresh one.
uint64_t HarnessSeed() {
    const char* fixed = std::getenv("AVCDEC_KERNEL_SEED");
    const uint64_t seed = fixed != nullptr ? std::strtoull(fixed, nullptr, 0) : std::random_device{}();
    std::printf("motion kernel seed: %llu (AVCDEC_KERNEL_SEED replays it)\n", static_cast<unsigned long long>(seed));
    ::testing::Test::RecordProperty("seed", std::to_string(seed));
    return seed;
}

enum class Pattern { kRandom, kExtreme, kNearFlat };

// A picture of w x h samples with a pitch of its own, filled by pattern.
struct Picture {
    int width, height, pitch;
    std::vector<uint8_t> samples;
    uint8_t* At(int x, int y) { return samples.data() + y * pitch + x; }
};

Picture MakePicture(std::mt19937_64& rng, int w, int h, int pitch, Pattern pattern) {
    Picture p{w, h, pitch, std::vector<uint8_t>(static_cast<size_t>(pitch) * h)};
    const int base = static_cast<int>(rng() % 256);
    for (auto& s : p.samples) {
        switch (pattern) {
            case Pattern::kRandom:
                s = static_cast<uint8_t>(rng());
                break;
            case Pattern::kExtreme:  // 0 and 255 only: the largest intermediates
                s = (rng() & 1) ? 255 : 0;
                break;
            case Pattern::kNearFlat:
                s = static_cast<uint8_t>(std::clamp(base + static_cast<int>(rng() % 5) - 2, 0, 255));
                break;
        }
    }
    return p;
}

uint8_t Clip(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Clause 8.4.2.2.1 in its own terms: the named samples around integer sample G at (x, y).
uint8_t ReferenceLumaSample(Picture& p, int x, int y, int fx, int fy) {
    auto g = [&](int dx, int dy) { return static_cast<int>(*p.At(x + dx, y + dy)); };
    auto tapH = [&](int dy) {  // b1 of row dy
        return g(-2, dy) - 5 * g(-1, dy) + 20 * g(0, dy) + 20 * g(1, dy) - 5 * g(2, dy) + g(3, dy);
    };
    auto tapV = [&](int dx) {  // h1 of column dx
        return g(dx, -2) - 5 * g(dx, -1) + 20 * g(dx, 0) + 20 * g(dx, 1) - 5 * g(dx, 2) + g(dx, 3);
    };
    const int b = Clip((tapH(0) + 16) >> 5), s = Clip((tapH(1) + 16) >> 5);
    const int h = Clip((tapV(0) + 16) >> 5), m = Clip((tapV(1) + 16) >> 5);
    const int j1 = tapH(-2) - 5 * tapH(-1) + 20 * tapH(0) + 20 * tapH(1) - 5 * tapH(2) + tapH(3);
    const int j = Clip((j1 + 512) >> 10);
    const int G = g(0, 0), H = g(1, 0), M = g(0, 1);
    auto avg = [](int u, int v) { return (u + v + 1) >> 1; };
    // Table 8-12 of the standard: the sample at each quarter position.
    const int named[4][4] = {
        {G, avg(G, b), b, avg(b, H)},                  // fy 0: G a b c
        {avg(G, h), avg(b, h), avg(b, j), avg(b, m)},  // fy 1: d e f g
        {h, avg(h, j), j, avg(j, m)},                  // fy 2: h i j k
        {avg(h, M), avg(h, s), avg(j, s), avg(m, s)},  // fy 3: n p q r
    };
    return static_cast<uint8_t>(named[fy][fx]);
}

TEST(MotionKernels, PortableLumaEqualsTheNamedSamplesOfTheStandard) {
    std::mt19937_64 rng(HarnessSeed());
    for (Pattern pattern : {Pattern::kRandom, Pattern::kExtreme, Pattern::kNearFlat}) {
        Picture pic = MakePicture(rng, 40, 40, 41, pattern);
        for (int fy = 0; fy < 4; ++fy)
            for (int fx = 0; fx < 4; ++fx)
                for (int size : {4, 8, 16}) {
                    uint8_t out[16 * 16];
                    luma_mc_c(out, 16, pic.At(8, 9), pic.pitch, size, size, fx, fy);
                    for (int y = 0; y < size; ++y)
                        for (int x = 0; x < size; ++x)
                            ASSERT_EQ(out[16 * y + x], ReferenceLumaSample(pic, 8 + x, 9 + y, fx, fy))
                                << "fraction " << fx << "," << fy << " size " << size << " at " << x << "," << y;
                }
    }
}

TEST(MotionKernels, PortableChromaIsTheBilinearFormula) {
    std::mt19937_64 rng(HarnessSeed());
    Picture pic = MakePicture(rng, 20, 20, 23, Pattern::kRandom);
    for (int dy = 0; dy < 8; ++dy)
        for (int dx = 0; dx < 8; ++dx) {
            uint8_t out[2][8 * 8];  // Cb from (3, 4), Cr from (6, 5)
            chroma_mc_c(out[0], out[1], 8, pic.At(3, 4), pic.At(6, 5), pic.pitch, 8, 8, dx, dy);
            for (int plane = 0; plane < 2; ++plane)
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x) {
                        const int x0 = plane == 0 ? 3 : 6, y0 = plane == 0 ? 4 : 5;
                        const int A = *pic.At(x0 + x, y0 + y), B = *pic.At(x0 + 1 + x, y0 + y);
                        const int C = *pic.At(x0 + x, y0 + 1 + y), D = *pic.At(x0 + 1 + x, y0 + 1 + y);
                        const int want =
                            ((8 - dx) * (8 - dy) * A + dx * (8 - dy) * B + (8 - dx) * dy * C + dx * dy * D + 32) >> 6;
                        ASSERT_EQ(out[plane][8 * y + x], want) << dx << "," << dy << " plane " << plane;
                    }
        }
}

// Every form a feature word selects gives the portable form's samples: all fractions, all
// block sizes, odd pitches and unaligned sources and destinations.
TEST(MotionKernels, EveryFormEqualsThePortableForm) {
    DecoderKernelTable portable{};
    FillDecoderKernelTable(&portable, 0);
    std::mt19937_64 rng(HarnessSeed());
    for (uint32_t word : {common::kCpuMmxExt | common::kCpuSse2, common::DetectCpuFeatures()}) {
        DecoderKernelTable t{};
        FillDecoderKernelTable(&t, word);
        if (t.lumaMotion == portable.lumaMotion && t.chromaMotion == portable.chromaMotion) continue;
        SCOPED_TRACE("feature word " + std::to_string(word));
        for (int round = 0; round < 60; ++round) {
            const Pattern pattern = static_cast<Pattern>(round % 3);
            const int pitch = 48 + static_cast<int>(rng() % 17);
            Picture pic = MakePicture(rng, 44, 44, pitch, pattern);
            const int sx = 4 + static_cast<int>(rng() % 8), sy = 4 + static_cast<int>(rng() % 8);
            const int dstOffset = static_cast<int>(rng() % 16);
            for (int fy = 0; fy < 4; ++fy)
                for (int fx = 0; fx < 4; ++fx)
                    for (int w : {4, 8, 16})
                        for (int h : {4, 8, 16}) {
                            alignas(16) uint8_t got[16 * 40], want[16 * 40];
                            std::memset(got, 0xA5, sizeof got);
                            std::memset(want, 0xA5, sizeof want);
                            t.lumaMotion(got + dstOffset, 24, pic.At(sx, sy), pic.pitch, w, h, fx, fy);
                            portable.lumaMotion(want + dstOffset, 24, pic.At(sx, sy), pic.pitch, w, h, fx, fy);
                            ASSERT_EQ(std::memcmp(got, want, sizeof got), 0)
                                << "luma fraction " << fx << "," << fy << " " << w << "x" << h << " round " << round;
                            // The entry the decoder calls for this shape directly.
                            std::memset(got, 0xA5, sizeof got);
                            t.lumaBlocks[LumaBlockIndex(fx, fy, w)](got + dstOffset, 24, pic.At(sx, sy), pic.pitch, h);
                            ASSERT_EQ(std::memcmp(got, want, sizeof got), 0)
                                << "luma entry " << fx << "," << fy << " " << w << "x" << h << " round " << round;
                        }
            // Cb and Cr from different places of the picture, into one destination buffer.
            const int cx = 4 + static_cast<int>(rng() % 28), cy = 4 + static_cast<int>(rng() % 28);
            for (int dy = 0; dy < 8; ++dy)
                for (int dx = 0; dx < 8; ++dx)
                    for (int w : {2, 4, 8})
                        for (int h : {2, 4, 8}) {
                            uint8_t got[2 * 8 * 24], want[2 * 8 * 24];
                            std::memset(got, 0x5A, sizeof got);
                            std::memset(want, 0x5A, sizeof want);
                            t.chromaMotion(got + dstOffset, got + dstOffset + 8 * 24, 12, pic.At(sx, sy),
                                           pic.At(cx, cy), pic.pitch, w, h, dx, dy);
                            portable.chromaMotion(want + dstOffset, want + dstOffset + 8 * 24, 12, pic.At(sx, sy),
                                                  pic.At(cx, cy), pic.pitch, w, h, dx, dy);
                            ASSERT_EQ(std::memcmp(got, want, sizeof got), 0)
                                << "chroma fraction " << dx << "," << dy << " " << w << "x" << h << " round " << round;
                            std::memset(got, 0x5A, sizeof got);
                            t.chromaBlocks[ChromaBlockIndex(w)](got + dstOffset, got + dstOffset + 8 * 24, 12,
                                                                pic.At(sx, sy), pic.At(cx, cy), pic.pitch, h, dx, dy);
                            ASSERT_EQ(std::memcmp(got, want, sizeof got), 0)
                                << "chroma entry " << dx << "," << dy << " " << w << "x" << h << " round " << round;
                        }
        }
    }
}

TEST(MotionKernels, WeightingEdgeCases) {
    struct Case {
        const char* name;
        int sample, w, o, logWD, want;
    };
    const Case cases[] = {
        {"weight 1 over denominator 0 leaves samples", 77, 1, 0, 0, 77},
        {"weight 128 over denominator 7 leaves samples", 200, 128, 0, 7, 200},
        {"negative offset clips at 0", 10, 32, -20, 5, 0},
        {"positive offset clips at 255", 250, 64, 127, 6, 255},
        {"weight -128 is negative", 100, -128, 0, 7, 0},
        {"weight -128 with offset", 100, -128, 127, 7, 27},
        {"rounding half up", 3, 1, 0, 1, 2},  // (3 + 1) >> 1
        {"denominator 0 with offset", 5, 2, -3, 0, 7},
    };
    for (const Case& c : cases) {
        uint8_t block[3 * 5];
        std::memset(block, c.sample, sizeof block);
        WeightSamples(block, 5, 4, 3, c.w, c.o, c.logWD);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(block[5 * y + x], c.want) << c.name;
            EXPECT_EQ(block[5 * y + 4], c.sample) << c.name << ": outside the width";
        }
    }
    // Implicit weights 32/32 over denominator 5: the rounded average.
    uint8_t p0[4] = {10, 0, 255, 7}, p1[4] = {11, 255, 255, 8};
    WeightSamplesBi(p0, 4, p1, 4, 4, 1, 32, 32, 0, 5);
    EXPECT_EQ(p0[0], 11);
    EXPECT_EQ(p0[1], 128);
    EXPECT_EQ(p0[2], 255);
    EXPECT_EQ(p0[3], 8);
}

// The weighting and bi-prediction entries of the processor's table, and of the table without
// SSSE3 (the SSE2 forms), equal the portable forms for every block width, extreme and random
// weights, offsets and denominators, and leave the samples right of the block alone.
TEST(MotionKernels, WeightingFormsEqualThePortableForms) {
    DecoderKernelTable withoutSsse3{};
    FillDecoderKernelTable(&withoutSsse3, DecoderKernels().featureWord & ~uint32_t{common::kCpuSsse3});
    const DecoderKernelTable* const tables[] = {&DecoderKernels(), &withoutSsse3};
    for (const DecoderKernelTable* table : tables) {
        const DecoderKernelTable& k = *table;
        uint32_t state = 99;
        auto next = [&] {
            state = state * 1664525u + 1013904223u;
            return state >> 8;
        };
        for (int round = 0; round < 400; ++round) {
            const int width = 2 << (round % 4), height = 2 << ((round / 4) % 4);
            int w0 = round % 5 == 0 ? -128 : static_cast<int>(next() % 256) - 128;
            int w1 = round % 7 == 0 ? 127 : static_cast<int>(next() % 256) - 128;
            int o = static_cast<int>(next() % 256) - 128, logWD = static_cast<int>(next() % 8);
            if (round % 3 == 1) {
                // Implicit weights (w0 + w1 = 64, -64..128 each, no offset), which the fast
                // forms take in narrower lanes where the sums allow.
                w1 = static_cast<int>(next() % 193) - 64;
                w0 = 64 - w1;
                o = 0;
                logWD = 5;
            }
            uint8_t a[16 * 20], b[16 * 20];
            for (int i = 0; i < 16 * 20; ++i) {
                a[i] = static_cast<uint8_t>(next());
                b[i] = static_cast<uint8_t>(round % 3 == 0 ? 255 : next());
            }
            uint8_t want[16 * 20], got[16 * 20];
            std::memcpy(want, a, sizeof a);
            std::memcpy(got, a, sizeof a);
            WeightSamplesBi(want, 20, b, 20, width, height, w0, w1, o, logWD);
            k.weightBi(got, 20, b, 20, width, height, w0, w1, o, logWD);
            ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << width << "x" << height << " w " << w0 << "," << w1;
            std::memcpy(want, a, sizeof a);
            std::memcpy(got, a, sizeof a);
            AverageSamples(want, 20, b, 20, width, height);
            k.average(got, 20, b, 20, width, height);
            ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << width << "x" << height;
            // One list's explicit weighting, with the first list's weight and the offset.
            std::memcpy(want, b, sizeof b);
            std::memcpy(got, b, sizeof b);
            WeightSamples(want, 20, width, height, w0, o, logWD);
            k.weight(got, 20, width, height, w0, o, logWD);
            ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << width << "x" << height << " w " << w0 << " o " << o;
        }
    }
    uint8_t p0[2] = {0, 255}, p1[2] = {1, 254};
    AverageSamples(p0, 2, p1, 2, 2, 1);
    EXPECT_EQ(p0[0], 1);  // rounds half up
    EXPECT_EQ(p0[1], 255);
}

using common::test::FakeCpu;
using common::test::kAmdMmxExt;
using common::test::kMmx;
using common::test::kSse;
using common::test::kSse2;
using common::test::MakeCpu;

// The kernel forms follow the feature word (the word itself is tested with the common
// CPU feature code); the table of the possible combinations.
TEST(MotionKernels, FormsFromTheFeatureWord) {
    using K = KernelForm;
    struct Case {
        const char* what;
        FakeCpu cpu;
        K luma, chroma;
    };
    const FakeCpu faulting = [] {
        FakeCpu c;
        c.faults = true;
        return c;
    }();
    const Case cases[] = {
        {"no CPUID", faulting, K::kPortable, K::kPortable},
        {"MMX only", MakeCpu("GenuineIntel", kMmx, 0), K::kPortable, K::kPortable},
        {"SSE", MakeCpu("GenuineIntel", kMmx | kSse, 0), K::kMmx, K::kMmx},
        {"SSE2", MakeCpu("GenuineIntel", kMmx | kSse | kSse2, 0), K::kSse2, K::kMmx},
        {"AMD MMX extensions", MakeCpu("AuthenticAMD", kMmx, kAmdMmxExt), K::kMmx, K::kMmx},
        {"not AMD, MMX extension bit", MakeCpu("GenuineIntel", kMmx, kAmdMmxExt), K::kPortable, K::kPortable},
        {"SSE2 without SSE", MakeCpu("GenuineIntel", kSse2, 0), K::kSse2, K::kPortable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const MotionKernelForms f = SelectMotionKernelForms(common::CondenseCpuid(c.cpu.Query()));
        EXPECT_EQ(f.luma, c.luma);
        EXPECT_EQ(f.chroma8, c.chroma);
        EXPECT_EQ(f.chroma4, c.chroma);
        EXPECT_EQ(f.chroma2, c.chroma);
    }
}

TEST(MotionKernels, InstalledOnceForThisProcessor) {
    std::vector<std::thread> threads;
    std::vector<uint32_t> words(8);
    for (size_t i = 0; i < words.size(); ++i)
        threads.emplace_back([&, i] { words[i] = InstallMotionKernels(); });
    for (auto& t : threads)
        t.join();
    const uint32_t expected = common::DetectCpuFeatures();
    for (uint32_t w : words)
        EXPECT_EQ(w, expected);
    EXPECT_EQ(DecoderKernels().featureWord, expected);
    const MotionKernelForms f = DecoderKernels().motionForms;
    EXPECT_EQ(f.luma, SelectMotionKernelForms(expected).luma);
    EXPECT_EQ(f.chroma8, SelectMotionKernelForms(expected).chroma8);
}

}  // namespace
}  // namespace avcdec
