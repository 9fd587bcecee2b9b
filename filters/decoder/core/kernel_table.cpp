#include "filters/decoder/core/kernel_table.h"

#include <cstdlib>

#ifdef AVCDEC_HAVE_SSE2
#include <emmintrin.h>
#endif

#include "common/cpu_features.h"

namespace avcdec {

namespace {

inline uint8_t Clip1(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

void idct_add_4x4_c(uint8_t* dst, int pitch, const int16_t* c) {
    int t[16];
    for (int i = 0; i < 4; ++i) {  // rows
        const int16_t* d = c + 4 * i;
        const int e0 = d[0] + d[2];
        const int e1 = d[0] - d[2];
        const int e2 = (d[1] >> 1) - d[3];
        const int e3 = d[1] + (d[3] >> 1);
        t[4 * i + 0] = e0 + e3;
        t[4 * i + 1] = e1 + e2;
        t[4 * i + 2] = e1 - e2;
        t[4 * i + 3] = e0 - e3;
    }
    for (int j = 0; j < 4; ++j) {  // columns
        const int e0 = t[j] + t[8 + j];
        const int e1 = t[j] - t[8 + j];
        const int e2 = (t[4 + j] >> 1) - t[12 + j];
        const int e3 = t[4 + j] + (t[12 + j] >> 1);
        const int r[4] = {e0 + e3, e1 + e2, e1 - e2, e0 - e3};
        for (int i = 0; i < 4; ++i)
            dst[i * pitch + j] = Clip1(dst[i * pitch + j] + ((r[i] + 32) >> 6));
    }
}

// With only the DC, both passes of the transform pass it through unchanged.
void idct_dc_add_4x4_c(uint8_t* dst, int pitch, int dc) {
    const int add = (dc + 32) >> 6;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            dst[i * pitch + j] = Clip1(dst[i * pitch + j] + add);
}

}  // namespace

uint32_t luma_dc_dequant_c(int16_t (*coeffs)[16], const int16_t* c, int scale) {
    uint32_t t[16];
    for (int i = 0; i < 4; ++i) {  // rows
        const uint32_t d0 = static_cast<uint32_t>(c[4 * i]), d1 = static_cast<uint32_t>(c[4 * i + 1]);
        const uint32_t d2 = static_cast<uint32_t>(c[4 * i + 2]), d3 = static_cast<uint32_t>(c[4 * i + 3]);
        t[4 * i + 0] = d0 + d1 + d2 + d3;
        t[4 * i + 1] = d0 + d1 - d2 - d3;
        t[4 * i + 2] = d0 - d1 - d2 + d3;
        t[4 * i + 3] = d0 - d1 + d2 - d3;
    }
    uint32_t nonZero = 0;
    for (int j = 0; j < 4; ++j) {  // columns
        const uint32_t f[4] = {t[j] + t[4 + j] + t[8 + j] + t[12 + j], t[j] + t[4 + j] - t[8 + j] - t[12 + j],
                               t[j] - t[4 + j] - t[8 + j] + t[12 + j], t[j] - t[4 + j] + t[8 + j] - t[12 + j]};
        for (int i = 0; i < 4; ++i) {  // row i, column j: the DC of block 4 i + j
            const int32_t scaled = static_cast<int32_t>(f[i] * static_cast<uint32_t>(scale) + 2u);
            const int16_t v = static_cast<int16_t>(scaled >> 2);
            coeffs[4 * i + j][0] = v;
            nonZero |= static_cast<uint32_t>(v != 0) << (4 * i + j);
        }
    }
    return nonZero;
}

void InstallPortableDecoderKernels(DecoderKernelTable* t) {
    t->inverseTransformAdd4x4 = idct_add_4x4_c;
    t->addDc4x4 = idct_dc_add_4x4_c;
    t->inverseLumaDc = luma_dc_dequant_c;
    t->intraPlane16x16 = intra_plane_16x16_c;
    t->intraPlane8x8 = intra_plane_8x8_c;
    InstallPortableIntraKernels(t);
    common::FillDeblockKernels(&t->deblock, 0);
    t->lumaMotion = luma_mc_c;
    t->chromaMotion = chroma_mc_c;
    t->lumaBlocks = LumaBlocksC();
    t->chromaBlocks = ChromaBlocksC();
    t->weight = WeightSamples;
    t->weightBi = WeightSamplesBi;
    t->average = AverageSamples;
}

void FillDecoderKernelTable(DecoderKernelTable* t, uint32_t featureWord) {
    InstallPortableDecoderKernels(t);
    t->featureWord = featureWord;
    t->motionForms = SelectMotionKernelForms(featureWord);
#ifdef AVCDEC_HAVE_SSE2
    if (featureWord & common::kCpuSse2) {
        t->inverseTransformAdd4x4 = idct_add_4x4_sse2;
        t->addDc4x4 = idct_dc_add_4x4_sse2;
        t->inverseLumaDc = luma_dc_dequant_sse2;
        t->intraPlane16x16 = intra_plane_16x16_sse2;
        t->intraPlane8x8 = intra_plane_8x8_sse2;
        for (int m = 1; m < 9; ++m)
            t->intra4x4[m] = kIntra4x4Sse2[m];
        t->intra16x16[0] = intra_v_16x16_sse2;
        t->intra16x16[1] = intra_h_16x16_sse2;
        t->intra16x16[2] = intra_dc_16x16_sse2;
        t->intraChroma[0] = intra_dc_chroma_sse2;
        t->lumaMotion = luma_mc_sse2;
        t->chromaMotion = chroma_mc_sse2;
        t->lumaBlocks = LumaBlocksSse2();
        t->chromaBlocks = ChromaBlocksSse2();
        t->weight = weight_sse2;
        t->weightBi = weight_bi_sse2;
        t->average = average_sse2;
    }
    if ((featureWord & common::kCpuSse2) && (featureWord & common::kCpuSsse3)) {
        t->weightBi = weight_bi_ssse3;
        t->chromaBlocks = ChromaBlocksSsse3();
    }
#endif
    common::FillDeblockKernels(&t->deblock, featureWord);
}

namespace {

DecoderKernelTable& ProcessTable() {
    static DecoderKernelTable table = [] {
        DecoderKernelTable t{};
        // AVCDEC_PORTABLE_KERNELS=1: the portable kernels alone, so that whole test suites
        // can judge them against outside decoders.
        const char* portable = std::getenv("AVCDEC_PORTABLE_KERNELS");
        const bool portableOnly = portable != nullptr && portable[0] == '1';
        FillDecoderKernelTable(&t, portableOnly ? 0 : common::DetectCpuFeatures());
        return t;
    }();
    return table;
}

}  // namespace

namespace detail {

const DecoderKernelTable* gProcessKernels = nullptr;

const DecoderKernelTable& FillProcessKernels() {
    DecoderKernelTable& t = ProcessTable();
    __atomic_store_n(&gProcessKernels, &t, __ATOMIC_RELEASE);
    return t;
}

}  // namespace detail

void ReselectDecoderKernels(uint32_t featureWord) {
    FillDecoderKernelTable(&ProcessTable(), featureWord);
}

}  // namespace avcdec
