#include "filters/decoder/core/kernel_table.h"

#include <cstdlib>
#include <cstring>

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

#ifdef AVCDEC_HAVE_SSE2
// 4x4 transpose of 32-bit lanes: r[i] lane j becomes r[j] lane i.
inline void Transpose4x4Epi32(__m128i* r) {
    const __m128i t0 = _mm_unpacklo_epi32(r[0], r[1]), t1 = _mm_unpacklo_epi32(r[2], r[3]);
    const __m128i t2 = _mm_unpackhi_epi32(r[0], r[1]), t3 = _mm_unpackhi_epi32(r[2], r[3]);
    r[0] = _mm_unpacklo_epi64(t0, t1);
    r[1] = _mm_unpackhi_epi64(t0, t1);
    r[2] = _mm_unpacklo_epi64(t2, t3);
    r[3] = _mm_unpackhi_epi64(t2, t3);
}

// One 1-D pass of clause 8.5.12.2 on four vectors (d0 .. d3 of four lines at once).
inline void TransformPass(__m128i* d) {
    const __m128i e0 = _mm_add_epi32(d[0], d[2]), e1 = _mm_sub_epi32(d[0], d[2]);
    const __m128i e2 = _mm_sub_epi32(_mm_srai_epi32(d[1], 1), d[3]), e3 = _mm_add_epi32(d[1], _mm_srai_epi32(d[3], 1));
    d[0] = _mm_add_epi32(e0, e3);
    d[1] = _mm_add_epi32(e1, e2);
    d[2] = _mm_sub_epi32(e1, e2);
    d[3] = _mm_sub_epi32(e0, e3);
}

// In 32-bit lanes, so any 16-bit input gives the portable form's result.
void idct_add_4x4_sse2(uint8_t* dst, int pitch, const int16_t* c) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8));
    __m128i r[4] = {_mm_srai_epi32(_mm_unpacklo_epi16(a, a), 16), _mm_srai_epi32(_mm_unpackhi_epi16(a, a), 16),
                    _mm_srai_epi32(_mm_unpacklo_epi16(b, b), 16), _mm_srai_epi32(_mm_unpackhi_epi16(b, b), 16)};
    Transpose4x4Epi32(r);  // r[j]: column j of the four rows
    TransformPass(r);      // the row transforms; r[j]: column j of the result
    Transpose4x4Epi32(r);  // r[i]: row i
    TransformPass(r);      // the column transforms; r[i]: row i of the result
    const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi32(32);
    __m128i sum[4];
    for (int i = 0; i < 4; ++i) {
        int32_t px;
        std::memcpy(&px, dst + i * pitch, 4);
        const __m128i p = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(px), zero), zero);
        sum[i] = _mm_add_epi32(p, _mm_srai_epi32(_mm_add_epi32(r[i], round), 6));
    }
    // Saturation to 16 bits, then to 0..255, clips as Clip1 does.
    const __m128i out = _mm_packus_epi16(_mm_packs_epi32(sum[0], sum[1]), _mm_packs_epi32(sum[2], sum[3]));
    const int32_t px[4] = {_mm_cvtsi128_si32(out), _mm_cvtsi128_si32(_mm_srli_si128(out, 4)),
                           _mm_cvtsi128_si32(_mm_srli_si128(out, 8)), _mm_cvtsi128_si32(_mm_srli_si128(out, 12))};
    for (int i = 0; i < 4; ++i)
        std::memcpy(dst + i * pitch, &px[i], 4);
}

void idct_dc_add_4x4_sse2(uint8_t* dst, int pitch, int dc) {
    const int add = (dc + 32) >> 6;
    const __m128i up = _mm_set1_epi8(static_cast<char>(add > 0 ? (add > 255 ? 255 : add) : 0));
    const __m128i down = _mm_set1_epi8(static_cast<char>(add < 0 ? (add < -255 ? 255 : -add) : 0));
    for (int i = 0; i < 4; ++i) {
        int32_t px;
        std::memcpy(&px, dst + i * pitch, 4);
        const __m128i v = _mm_subs_epu8(_mm_adds_epu8(_mm_cvtsi32_si128(px), up), down);
        px = _mm_cvtsi128_si32(v);
        std::memcpy(dst + i * pitch, &px, 4);
    }
}
#endif

}  // namespace

void InstallPortableDecoderKernels(DecoderKernelTable* t) {
    t->inverseTransformAdd4x4 = idct_add_4x4_c;
    t->addDc4x4 = idct_dc_add_4x4_c;
    InstallDeblockKernels(t, 0);
    t->lumaMotion = luma_mc_c;
    t->chromaMotion = chroma_mc_c;
    t->weightBi = WeightSamplesBi;
    t->average = AverageSamples;
}

void FillDecoderKernelTable(DecoderKernelTable* t, uint32_t featureWord) {
    InstallPortableDecoderKernels(t);
    t->featureWord = featureWord;
    t->motionForms = SelectMotionKernelForms(featureWord);
    InstallDeblockKernels(t, featureWord);
#ifdef AVCDEC_HAVE_SSE2
    if (featureWord & common::kCpuSse2) {
        t->inverseTransformAdd4x4 = idct_add_4x4_sse2;
        t->addDc4x4 = idct_dc_add_4x4_sse2;
    }
#endif
#ifdef AVCDEC_HAVE_SSE2
    if (featureWord & common::kCpuSse2) {
        t->lumaMotion = luma_mc_sse2;
        t->chromaMotion = chroma_mc_sse2;
        t->weightBi = weight_bi_sse2;
        t->average = average_sse2;
    }
#endif
}

namespace {

DecoderKernelTable& ProcessTable() {
    static DecoderKernelTable table = [] {
        DecoderKernelTable t{};
        FillDecoderKernelTable(&t, common::DetectCpuFeatures());
        return t;
    }();
    return table;
}

}  // namespace

const DecoderKernelTable& DecoderKernels() {
    return ProcessTable();
}

void ReselectDecoderKernels(uint32_t featureWord) {
    FillDecoderKernelTable(&ProcessTable(), featureWord);
}

}  // namespace avcdec
