#include "filters/decoder/core/motion_kernels.h"

#include <array>
#include <cstring>
#include <utility>

#include "common/cpu_features.h"
#include "filters/decoder/core/kernel_table.h"

namespace avcdec {

MotionKernelForms SelectMotionKernelForms(uint32_t features) {
    MotionKernelForms f{KernelForm::kPortable, KernelForm::kPortable, KernelForm::kPortable, KernelForm::kPortable};
    if (features & common::kCpuMmxExt) f = {KernelForm::kMmx, KernelForm::kMmx, KernelForm::kMmx, KernelForm::kMmx};
    if (features & common::kCpuSse2) f.luma = KernelForm::kSse2;
    return f;
}

uint32_t InstallMotionKernels() {
    return DecoderKernels().featureWord;
}

namespace {

inline uint8_t Clip1(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The 6-tap filter (1, -5, 20, 20, -5, 1) across p[-2 s] .. p[3 s], unrounded.
inline int Tap6(const uint8_t* p, int s) {
    return p[-2 * s] - 5 * p[-s] + 20 * p[0] + 20 * p[s] - 5 * p[2 * s] + p[3 * s];
}

// One position class of clause 8.4.2.2.1, sample by sample: G integer, b/s horizontal
// half samples of this row and the next, h/m vertical half samples of this column and the
// next, j the centre.
template <int kFx, int kFy>
void LumaBlock(uint8_t* dst, int dstPitch, const uint8_t* src, int p, int width, int height) {
    for (int y = 0; y < height; ++y, src += p, dst += dstPitch) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* g = src + x;
            auto b = [&](int row) { return Clip1((Tap6(g + row * p, 1) + 16) >> 5); };
            auto h = [&](int col) { return Clip1((Tap6(g + col, p) + 16) >> 5); };
            auto j = [&]() {
                const int j1 = Tap6(g - 2 * p, 1) - 5 * Tap6(g - p, 1) + 20 * Tap6(g, 1) + 20 * Tap6(g + p, 1) -
                               5 * Tap6(g + 2 * p, 1) + Tap6(g + 3 * p, 1);
                return Clip1((j1 + 512) >> 10);
            };
            int v;
            if constexpr (kFx == 0 && kFy == 0) {
                v = g[0];
            } else if constexpr (kFy == 0) {
                v = kFx == 2 ? b(0) : (b(0) + g[kFx >> 1] + 1) >> 1;
            } else if constexpr (kFx == 0) {
                v = kFy == 2 ? h(0) : (h(0) + g[(kFy >> 1) * p] + 1) >> 1;
            } else if constexpr (kFx == 2) {
                v = kFy == 2 ? j() : (b(kFy >> 1) + j() + 1) >> 1;
            } else if constexpr (kFy == 2) {
                v = (h(kFx >> 1) + j() + 1) >> 1;
            } else {
                v = (b(kFy >> 1) + h(kFx >> 1) + 1) >> 1;
            }
            dst[x] = static_cast<uint8_t>(v);
        }
    }
}

// One fraction and width as a table entry.
template <int kFx, int kFy, int kWidth>
void LumaEntry(uint8_t* dst, int dstPitch, const uint8_t* src, int p, int height) {
    LumaBlock<kFx, kFy>(dst, dstPitch, src, p, kWidth, height);
}

template <size_t... I>
constexpr std::array<LumaBlockFn, sizeof...(I)> LumaEntries(std::index_sequence<I...>) {
    // Entry i: width 4 << (i % 3), fraction (i / 3) % 4, (i / 3) / 4 (LumaBlockIndex).
    return {LumaEntry<(I / 3) % 4, (I / 3) / 4, 4 << (I % 3)>...};
}

constexpr std::array<LumaBlockFn, 48> kLumaEntries = LumaEntries(std::make_index_sequence<48>());

template <int kWidth>
void ChromaEntry(uint8_t* dstCb, uint8_t* dstCr, int dstPitch, const uint8_t* srcCb, const uint8_t* srcCr, int srcPitch,
                 int height, int dx, int dy) {
    const int a = (8 - dx) * (8 - dy), b = dx * (8 - dy), c = (8 - dx) * dy, d = dx * dy;
    for (int plane = 0; plane < 2; ++plane) {
        const uint8_t* src = plane == 0 ? srcCb : srcCr;
        uint8_t* dst = plane == 0 ? dstCb : dstCr;
        for (int y = 0; y < height; ++y, src += srcPitch, dst += dstPitch)
            for (int x = 0; x < kWidth; ++x)
                dst[x] = static_cast<uint8_t>(
                    (a * src[x] + b * src[x + 1] + c * src[x + srcPitch] + d * src[x + srcPitch + 1] + 32) >> 6);
    }
}

constexpr ChromaBlockFn kChromaEntries[3] = {ChromaEntry<2>, ChromaEntry<4>, ChromaEntry<8>};

}  // namespace

const LumaBlockFn* LumaBlocksC() {
    return kLumaEntries.data();
}

const ChromaBlockFn* ChromaBlocksC() {
    return kChromaEntries;
}

void luma_mc_c(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width, int height, int fx, int fy) {
    kLumaEntries[LumaBlockIndex(fx, fy, width)](dst, dstPitch, src, srcPitch, height);
}

void chroma_mc_c(uint8_t* dstCb, uint8_t* dstCr, int dstPitch, const uint8_t* srcCb, const uint8_t* srcCr, int srcPitch,
                 int width, int height, int dx, int dy) {
    kChromaEntries[ChromaBlockIndex(width)](dstCb, dstCr, dstPitch, srcCb, srcCr, srcPitch, height, dx, dy);
}

void WeightSamples(uint8_t* p, int pitch, int width, int height, int w, int o, int logWD) {
    const int round = logWD > 0 ? 1 << (logWD - 1) : 0;
    for (int y = 0; y < height; ++y, p += pitch)
        for (int x = 0; x < width; ++x)
            p[x] = Clip1(((p[x] * w + round) >> logWD) + o);
}

void WeightSamplesBi(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height, int w0, int w1,
                     int o, int logWD) {
    for (int y = 0; y < height; ++y, p0 += pitch0, p1 += pitch1)
        for (int x = 0; x < width; ++x)
            p0[x] = Clip1(((p0[x] * w0 + p1[x] * w1 + (1 << logWD)) >> (logWD + 1)) + o);
}

void AverageSamples(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height) {
    for (int y = 0; y < height; ++y, p0 += pitch0, p1 += pitch1)
        for (int x = 0; x < width; ++x)
            p0[x] = static_cast<uint8_t>((p0[x] + p1[x] + 1) >> 1);
}

}  // namespace avcdec
