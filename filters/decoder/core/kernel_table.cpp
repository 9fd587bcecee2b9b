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

inline int Clip3(int lo, int hi, int v) {
    return v < lo ? lo : v > hi ? hi : v;
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

// Clause 8.7.2.3, bS below 4.
template <bool kLuma>
void deblock_normal_c(uint8_t* q0p, int step, int along, int lines, int alpha, int beta, int tc0) {
    for (int k = 0; k < lines; ++k, q0p += along) {
        const int p0 = q0p[-step], p1 = q0p[-2 * step], q0 = q0p[0], q1 = q0p[step];
        if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) continue;
        int tc = tc0 + 1;
        int ap = 0, aq = 0;
        if (kLuma) {
            const int p2 = q0p[-3 * step], q2 = q0p[2 * step];
            ap = std::abs(p2 - p0) < beta;
            aq = std::abs(q2 - q0) < beta;
            tc = tc0 + ap + aq;
            if (ap)
                q0p[-2 * step] = static_cast<uint8_t>(p1 + Clip3(-tc0, tc0, (p2 + ((p0 + q0 + 1) >> 1) - 2 * p1) >> 1));
            if (aq) q0p[step] = static_cast<uint8_t>(q1 + Clip3(-tc0, tc0, (q2 + ((p0 + q0 + 1) >> 1) - 2 * q1) >> 1));
        }
        const int delta = Clip3(-tc, tc, (((q0 - p0) * 4) + (p1 - q1) + 4) >> 3);
        q0p[-step] = Clip1(p0 + delta);
        q0p[0] = Clip1(q0 - delta);
    }
}

// Clause 8.7.2.4, bS 4.
template <bool kLuma>
void deblock_strong_c(uint8_t* q0p, int step, int along, int lines, int alpha, int beta, int) {
    for (int k = 0; k < lines; ++k, q0p += along) {
        const int p0 = q0p[-step], p1 = q0p[-2 * step], q0 = q0p[0], q1 = q0p[step];
        if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) continue;
        if (kLuma) {
            const int p2 = q0p[-3 * step], q2 = q0p[2 * step];
            const int p3 = q0p[-4 * step], q3 = q0p[3 * step];
            const bool smallGap = std::abs(p0 - q0) < ((alpha >> 2) + 2);
            if (smallGap && std::abs(p2 - p0) < beta) {
                q0p[-step] = static_cast<uint8_t>((p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3);
                q0p[-2 * step] = static_cast<uint8_t>((p2 + p1 + p0 + q0 + 2) >> 2);
                q0p[-3 * step] = static_cast<uint8_t>((2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
            } else {
                q0p[-step] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
            }
            if (smallGap && std::abs(q2 - q0) < beta) {
                q0p[0] = static_cast<uint8_t>((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
                q0p[step] = static_cast<uint8_t>((p0 + q0 + q1 + q2 + 2) >> 2);
                q0p[2 * step] = static_cast<uint8_t>((2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
            } else {
                q0p[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
            }
        } else {
            q0p[-step] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
            q0p[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
        }
    }
}

void deblock_luma_h16_c(uint8_t* q0, int step, int along, int alpha, int beta, const int8_t* tc0) {
    for (int seg = 0; seg < 4; ++seg)
        if (tc0[seg] >= 0) deblock_normal_c<true>(q0 + 4 * seg * along, step, along, 4, alpha, beta, tc0[seg]);
}

#ifdef AVCDEC_HAVE_SSE2
// Sixteen lines at once in 16-bit lanes, two halves of eight.
void deblock_luma_h16_sse2(uint8_t* q0p, int step, int, int alpha, int beta, const int8_t* tc0) {
    const __m128i zero = _mm_setzero_si128();
    auto load = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q0p + k * step)); };
    const __m128i rp2 = load(-3), rp1 = load(-2), rp0 = load(-1), rq0 = load(0), rq1 = load(1), rq2 = load(2);
    const __m128i va = _mm_set1_epi16(static_cast<int16_t>(alpha)), vb = _mm_set1_epi16(static_cast<int16_t>(beta));
    __m128i outP1[2], outP0[2], outQ0[2], outQ1[2];
    for (int half = 0; half < 2; ++half) {
        auto widen = [&](__m128i v) { return half == 0 ? _mm_unpacklo_epi8(v, zero) : _mm_unpackhi_epi8(v, zero); };
        const __m128i p2 = widen(rp2), p1 = widen(rp1), p0 = widen(rp0), q0 = widen(rq0), q1 = widen(rq1),
                      q2 = widen(rq2);
        auto absDiff = [](__m128i a, __m128i b) { return _mm_max_epi16(_mm_sub_epi16(a, b), _mm_sub_epi16(b, a)); };
        const int8_t* t = tc0 + 2 * half;
        const __m128i vtc0 = _mm_setr_epi16(t[0], t[0], t[0], t[0], t[1], t[1], t[1], t[1]);
        __m128i mask = _mm_and_si128(_mm_cmplt_epi16(absDiff(p0, q0), va), _mm_cmplt_epi16(absDiff(p1, p0), vb));
        mask = _mm_and_si128(mask, _mm_cmplt_epi16(absDiff(q1, q0), vb));
        mask = _mm_and_si128(mask, _mm_cmpgt_epi16(vtc0, _mm_set1_epi16(-1)));
        const __m128i ap = _mm_and_si128(_mm_cmplt_epi16(absDiff(p2, p0), vb), mask);  // all ones where set
        const __m128i aq = _mm_and_si128(_mm_cmplt_epi16(absDiff(q2, q0), vb), mask);
        const __m128i tc = _mm_sub_epi16(_mm_sub_epi16(vtc0, ap), aq);  // tc0 + ap + aq (masks are -1)
        __m128i delta = _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1));
        delta = _mm_srai_epi16(_mm_add_epi16(delta, _mm_set1_epi16(4)), 3);
        delta = _mm_min_epi16(_mm_max_epi16(delta, _mm_sub_epi16(zero, tc)), tc);
        delta = _mm_and_si128(delta, mask);
        outP0[half] = _mm_add_epi16(p0, delta);
        outQ0[half] = _mm_sub_epi16(q0, delta);
        const __m128i avg = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(p0, q0), _mm_set1_epi16(1)), 1);
        const __m128i ntc0 = _mm_sub_epi16(zero, vtc0);
        __m128i dp = _mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(p2, avg), _mm_slli_epi16(p1, 1)), 1);
        dp = _mm_and_si128(_mm_min_epi16(_mm_max_epi16(dp, ntc0), vtc0), ap);
        __m128i dq = _mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(q2, avg), _mm_slli_epi16(q1, 1)), 1);
        dq = _mm_and_si128(_mm_min_epi16(_mm_max_epi16(dq, ntc0), vtc0), aq);
        outP1[half] = _mm_add_epi16(p1, dp);
        outQ1[half] = _mm_add_epi16(q1, dq);
    }
    auto store = [&](int k, const __m128i* v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q0p + k * step), _mm_packus_epi16(v[0], v[1]));
    };
    store(-2, outP1);
    store(-1, outP0);
    store(0, outQ0);
    store(1, outQ1);
}
#endif

}  // namespace

void InstallPortableDecoderKernels(DecoderKernelTable* t) {
    t->inverseTransformAdd4x4 = idct_add_4x4_c;
    t->addDc4x4 = idct_dc_add_4x4_c;
    t->deblockLumaNormal = deblock_normal_c<true>;
    t->deblockLumaStrong = deblock_strong_c<true>;
    t->deblockChromaNormal = deblock_normal_c<false>;
    t->deblockChromaStrong = deblock_strong_c<false>;
    t->deblockLumaHorizontal16 = deblock_luma_h16_c;
    t->lumaMotion = luma_mc_c;
    t->chromaMotion = chroma_mc_c;
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
        t->lumaMotion = luma_mc_sse2;
        t->chromaMotion = chroma_mc_sse2;
        t->weightBi = weight_bi_sse2;
        t->average = average_sse2;
        t->deblockLumaHorizontal16 = deblock_luma_h16_sse2;
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
