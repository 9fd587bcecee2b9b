#include "common/dsp/deblock_kernels.h"

#include <cstdlib>
#include <cstring>

#include "common/cpu_features.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define COMMON_HAVE_SSE2 1
#endif

namespace common {

// kDeblockAlpha and kDeblockTc0 are constant-initialised, so ready before this.
const std::array<DeblockIndexA, 52> kDeblockIndexA = [] {
    std::array<DeblockIndexA, 52> t{};
    for (int a = 0; a < 52; ++a) {
        const uint8_t* tc0 = kDeblockTc0[a];
        t[a] = {kDeblockAlpha[a], 0xFFu | uint32_t{tc0[0]} << 8 | uint32_t{tc0[1]} << 16 | uint32_t{tc0[2]} << 24};
    }
    return t;
}();

namespace {

inline uint8_t Clip1(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline int Clip3(int lo, int hi, int v) {
    return v < lo ? lo : v > hi ? hi : v;
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

void deblock_luma_16_c(uint8_t* q0, int step, int along, int alpha, int beta, const int8_t* tc0) {
    for (int seg = 0; seg < 4; ++seg)
        if (tc0[seg] >= 0) deblock_normal_c<true>(q0 + 4 * seg * along, step, along, 4, alpha, beta, tc0[seg]);
}

void deblock_luma_strong_16_c(uint8_t* q0, int step, int along, int alpha, int beta) {
    deblock_strong_c<true>(q0, step, along, 16, alpha, beta, 0);
}

void deblock_chroma_8_c(uint8_t* cb, uint8_t* cr, int step, int along, int alpha, int beta, const int8_t* tc0) {
    for (uint8_t* plane : {cb, cr})
        for (int seg = 0; seg < 4; ++seg)
            if (tc0[seg] >= 0) deblock_normal_c<false>(plane + 2 * seg * along, step, along, 2, alpha, beta, tc0[seg]);
}

void deblock_chroma_strong_8_c(uint8_t* cb, uint8_t* cr, int step, int along, int alpha, int beta) {
    deblock_strong_c<false>(cb, step, along, 8, alpha, beta, 0);
    deblock_strong_c<false>(cr, step, along, 8, alpha, beta, 0);
}

#ifdef COMMON_HAVE_SSE2
// The helpers below go inline into each whole-edge form, so that the eight vectors stay in
// registers instead of passing through memory between calls.
#define DEBLOCK_INLINE [[gnu::always_inline]] inline

// The SSE2 forms hold the eight samples p3 p2 p1 p0 q0 q1 q2 q3 of sixteen lines as eight
// vectors v[0..7] (lane = line). The luma bS 4 filter computes in 16-bit lanes, two halves
// of eight lines; the others in byte lanes, exact by the identities beside them. Vertical
// edges are transposed in and out; chroma puts the Cb lines in lanes 0-7 and
// the Cr lines in lanes 8-15.

inline __m128i Widen(__m128i v, int half) {
    return half == 0 ? _mm_unpacklo_epi8(v, _mm_setzero_si128()) : _mm_unpackhi_epi8(v, _mm_setzero_si128());
}

inline __m128i AbsDiff(__m128i a, __m128i b) {
    return _mm_max_epi16(_mm_sub_epi16(a, b), _mm_sub_epi16(b, a));
}

inline __m128i Select(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Lines where |p0 - q0| < alpha, |p1 - p0| < beta and |q1 - q0| < beta: all ones.
inline __m128i EdgeMask(__m128i p1, __m128i p0, __m128i q0, __m128i q1, __m128i va, __m128i vb) {
    const __m128i m = _mm_and_si128(_mm_cmplt_epi16(AbsDiff(p0, q0), va), _mm_cmplt_epi16(AbsDiff(p1, p0), vb));
    return _mm_and_si128(m, _mm_cmplt_epi16(AbsDiff(q1, q0), vb));
}

// Unsigned bytes: |a - b|, and all ones in the lanes where x < limit.
inline __m128i AbsDiffU8(__m128i a, __m128i b) {
    return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
}
inline __m128i BelowU8(__m128i x, __m128i limit) {
    const __m128i notBelow = _mm_cmpeq_epi8(_mm_subs_epu8(limit, x), _mm_setzero_si128());
    return _mm_xor_si128(notBelow, _mm_set1_epi8(-1));
}

// floor((a + b) / 2) of unsigned bytes (pavgb rounds up).
inline __m128i FloorAverageU8(__m128i a, __m128i b) {
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

// p'0 and q'0 of clause 8.7.2.3 with tC in byte lanes (0 where nothing changes): delta
// = (((q0 - p0) << 2) + (p1 - q1) + 4) >> 3 in 16-bit lanes, saturated to bytes (|tC| is
// below 128), clipped to [-tC, tC] biased by 128, then added as its positive and negative
// parts with saturation, which is Clip1 (clause 5.7).
DEBLOCK_INLINE void DeltaP0Q0(__m128i p1, __m128i p0, __m128i q0, __m128i q1, __m128i tc, __m128i* outP0,
                              __m128i* outQ0) {
    const __m128i four = _mm_set1_epi16(4);
    __m128i delta[2];
    for (int half = 0; half < 2; ++half) {
        const __m128i dq0p0 = _mm_sub_epi16(Widen(q0, half), Widen(p0, half));
        const __m128i dp1q1 = _mm_sub_epi16(Widen(p1, half), Widen(q1, half));
        delta[half] = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(dq0p0, 2), dp1q1), four), 3);
    }
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    __m128i biased = _mm_xor_si128(_mm_packs_epi16(delta[0], delta[1]), bias);  // delta + 128
    biased = _mm_min_epu8(_mm_max_epu8(biased, _mm_subs_epu8(bias, tc)), _mm_adds_epu8(bias, tc));
    const __m128i up = _mm_subs_epu8(biased, bias), down = _mm_subs_epu8(bias, biased);
    *outP0 = _mm_subs_epu8(_mm_adds_epu8(p0, up), down);
    *outQ0 = _mm_subs_epu8(_mm_adds_epu8(q0, down), up);
}

// Lines where |p0 - q0| < alpha, |p1 - p0| < beta and |q1 - q0| < beta, in byte lanes.
inline __m128i EdgeMaskU8(__m128i p1, __m128i p0, __m128i q0, __m128i q1, __m128i va, __m128i vb) {
    const __m128i m = _mm_and_si128(BelowU8(AbsDiffU8(p0, q0), va), BelowU8(AbsDiffU8(p1, p0), vb));
    return _mm_and_si128(m, BelowU8(AbsDiffU8(q1, q0), vb));
}

// Clause 8.7.2.3 on v[1..6] (p2 .. q2), sixteen lines in byte lanes; v[2..5] change.
// p'1 = p1 + Clip3(-tC0, tC0, (p2 + ((p0 + q0 + 1) >> 1) - 2 p1) >> 1) is the clamp of
// floor((p2 + ((p0 + q0 + 1) >> 1)) / 2) to [p1 - tC0, p1 + tC0], which saturating bytes
// give exactly (q'1 likewise); delta is formed in 16-bit lanes, then clipped to [-tC, tC]
// in bytes biased by 128 and added as its positive and negative parts with saturation,
// which is Clip1 (clause 5.7).
DEBLOCK_INLINE void LumaNormalSse2(__m128i* v, int alpha, int beta, const int8_t* tc0) {
    const __m128i p2 = v[1], p1 = v[2], p0 = v[3], q0 = v[4], q1 = v[5], q2 = v[6];
    const __m128i va = _mm_set1_epi8(static_cast<char>(alpha)), vb = _mm_set1_epi8(static_cast<char>(beta));
    // tC0 of segment k in lanes 4k .. 4k + 3; -1 (bS 0) turns the lanes off.
    int32_t tc0Word;
    std::memcpy(&tc0Word, tc0, 4);
    __m128i vtc0 = _mm_cvtsi32_si128(tc0Word);
    vtc0 = _mm_unpacklo_epi8(vtc0, vtc0);
    vtc0 = _mm_unpacklo_epi8(vtc0, vtc0);
    const __m128i mask = _mm_and_si128(_mm_cmpgt_epi8(vtc0, _mm_set1_epi8(-1)), EdgeMaskU8(p1, p0, q0, q1, va, vb));
    const __m128i ap = _mm_and_si128(BelowU8(AbsDiffU8(p2, p0), vb), mask);  // all ones where set
    const __m128i aq = _mm_and_si128(BelowU8(AbsDiffU8(q2, q0), vb), mask);
    vtc0 = _mm_and_si128(vtc0, mask);                             // 0 where nothing changes
    const __m128i tc = _mm_sub_epi8(_mm_sub_epi8(vtc0, ap), aq);  // tc0 + ap + aq, at most 27
    // p1 and q1.
    const __m128i avg = _mm_avg_epu8(p0, q0);  // (p0 + q0 + 1) >> 1
    const __m128i tcp = _mm_and_si128(vtc0, ap), tcq = _mm_and_si128(vtc0, aq);
    const __m128i hp = FloorAverageU8(p2, avg), hq = FloorAverageU8(q2, avg);
    v[2] = _mm_max_epu8(_mm_min_epu8(hp, _mm_adds_epu8(p1, tcp)), _mm_subs_epu8(p1, tcp));
    v[5] = _mm_max_epu8(_mm_min_epu8(hq, _mm_adds_epu8(q1, tcq)), _mm_subs_epu8(q1, tcq));
    DeltaP0Q0(p1, p0, q0, q1, tc, &v[3], &v[4]);
}

// One side of clause 8.7.2.4's luma filter in 16-bit lanes: a0 .. a3 on this side (a0 at
// the edge), b0 and b1 across it. strong[k]: the strong filter's a_k; weak: a0 otherwise.
inline void StrongSide(__m128i a3, __m128i a2, __m128i a1, __m128i a0, __m128i b0, __m128i b1, __m128i* strong,
                       __m128i* weak) {
    const __m128i two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(a2, a1), _mm_add_epi16(a0, b0));  // a2 + a1 + a0 + b0
    // (a2 + 2a1 + 2a0 + 2b0 + b1 + 4) >> 3, (a2 + a1 + a0 + b0 + 2) >> 2,
    // (2a3 + 3a2 + a1 + a0 + b0 + 4) >> 3; else (2a1 + a0 + b1 + 2) >> 2.
    strong[0] =
        _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(a2, _mm_slli_epi16(_mm_add_epi16(_mm_add_epi16(a1, a0), b0), 1)),
                                     _mm_add_epi16(b1, four)),
                       3);
    strong[1] = _mm_srai_epi16(_mm_add_epi16(sum, two), 2);
    strong[2] = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_add_epi16(a3, a2), 1), sum), four), 3);
    *weak = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(a1, 1), a0), _mm_add_epi16(b1, two)), 2);
}

// Clause 8.7.2.4 on v[0..7]; v[1..6] change.
DEBLOCK_INLINE void LumaStrongSse2(__m128i* v, int alpha, int beta) {
    const __m128i va = _mm_set1_epi16(static_cast<int16_t>(alpha)), vb = _mm_set1_epi16(static_cast<int16_t>(beta));
    const __m128i gap = _mm_set1_epi16(static_cast<int16_t>((alpha >> 2) + 2));
    __m128i out[6][2];
    for (int half = 0; half < 2; ++half) {
        const __m128i p3 = Widen(v[0], half), p2 = Widen(v[1], half), p1 = Widen(v[2], half), p0 = Widen(v[3], half),
                      q0 = Widen(v[4], half), q1 = Widen(v[5], half), q2 = Widen(v[6], half), q3 = Widen(v[7], half);
        const __m128i mask = EdgeMask(p1, p0, q0, q1, va, vb);
        const __m128i small = _mm_and_si128(mask, _mm_cmplt_epi16(AbsDiff(p0, q0), gap));
        const __m128i ap = _mm_and_si128(small, _mm_cmplt_epi16(AbsDiff(p2, p0), vb));
        const __m128i aq = _mm_and_si128(small, _mm_cmplt_epi16(AbsDiff(q2, q0), vb));
        __m128i pStrong[3], qStrong[3], pWeak, qWeak;
        StrongSide(p3, p2, p1, p0, q0, q1, pStrong, &pWeak);
        StrongSide(q3, q2, q1, q0, p0, p1, qStrong, &qWeak);
        out[0][half] = Select(ap, pStrong[2], p2);
        out[1][half] = Select(ap, pStrong[1], p1);
        out[2][half] = Select(mask, Select(ap, pStrong[0], pWeak), p0);
        out[3][half] = Select(mask, Select(aq, qStrong[0], qWeak), q0);
        out[4][half] = Select(aq, qStrong[1], q1);
        out[5][half] = Select(aq, qStrong[2], q2);
    }
    for (int k = 0; k < 6; ++k)
        v[1 + k] = _mm_packus_epi16(out[k][0], out[k][1]);
}

// Clause 8.7.2.3 for chroma on v[2..5], byte lanes; v[3] and v[4] change.
DEBLOCK_INLINE void ChromaNormalSse2(__m128i* v, int alpha, int beta, const int8_t* tc0) {
    const __m128i p1 = v[2], p0 = v[3], q0 = v[4], q1 = v[5];
    const __m128i va = _mm_set1_epi8(static_cast<char>(alpha)), vb = _mm_set1_epi8(static_cast<char>(beta));
    // tC0 of segment k in Cb lanes 2k, 2k + 1 and Cr lanes 8 + 2k, 9 + 2k.
    int32_t tc0Word;
    std::memcpy(&tc0Word, tc0, 4);
    __m128i vtc0 = _mm_cvtsi32_si128(tc0Word);
    vtc0 = _mm_unpacklo_epi8(vtc0, vtc0);
    vtc0 = _mm_unpacklo_epi64(vtc0, vtc0);
    const __m128i mask = _mm_and_si128(_mm_cmpgt_epi8(vtc0, _mm_set1_epi8(-1)), EdgeMaskU8(p1, p0, q0, q1, va, vb));
    const __m128i tc = _mm_sub_epi8(_mm_and_si128(vtc0, mask), mask);  // tc0 + 1, 0 where nothing changes
    DeltaP0Q0(p1, p0, q0, q1, tc, &v[3], &v[4]);
}

// Clause 8.7.2.4 for chroma on v[2..5], byte lanes; v[3] and v[4] change. (2 a + b + c + 2)
// >> 2 equals the rounded-up mean of a and floor((b + c) / 2): when b + c is odd, 2 a + b
// + c + 1 is even and adding 1 to it crosses no multiple of 4.
DEBLOCK_INLINE void ChromaStrongSse2(__m128i* v, int alpha, int beta) {
    const __m128i p1 = v[2], p0 = v[3], q0 = v[4], q1 = v[5];
    const __m128i va = _mm_set1_epi8(static_cast<char>(alpha)), vb = _mm_set1_epi8(static_cast<char>(beta));
    const __m128i mask = EdgeMaskU8(p1, p0, q0, q1, va, vb);
    v[3] = Select(mask, _mm_avg_epu8(p1, FloorAverageU8(p0, q1)), p0);  // (2 p1 + p0 + q1 + 2) >> 2
    v[4] = Select(mask, _mm_avg_epu8(q1, FloorAverageU8(q0, p1)), q0);  // (2 q1 + q0 + p1 + 2) >> 2
}

// Sixteen lines of eight samples (row[i] points at p3 of line i) into v[0..7].
DEBLOCK_INLINE void LoadTransposed(uint8_t* const* row, __m128i* v) {
    __m128i t[8];
    for (int i = 0; i < 8; ++i)
        t[i] = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row[2 * i])),
                                 _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row[2 * i + 1])));
    __m128i lo[4], hi[4];  // 32-bit element c: lines 4j .. 4j + 3 of sample c (lo) or c + 4 (hi)
    for (int j = 0; j < 4; ++j) {
        lo[j] = _mm_unpacklo_epi16(t[2 * j], t[2 * j + 1]);
        hi[j] = _mm_unpackhi_epi16(t[2 * j], t[2 * j + 1]);
    }
    for (int h = 0; h < 2; ++h) {
        const __m128i* s = h == 0 ? lo : hi;
        const __m128i a01 = _mm_unpacklo_epi32(s[0], s[1]), a23 = _mm_unpackhi_epi32(s[0], s[1]);  // lines 0-7
        const __m128i b01 = _mm_unpacklo_epi32(s[2], s[3]), b23 = _mm_unpackhi_epi32(s[2], s[3]);  // lines 8-15
        v[4 * h + 0] = _mm_unpacklo_epi64(a01, b01);
        v[4 * h + 1] = _mm_unpackhi_epi64(a01, b01);
        v[4 * h + 2] = _mm_unpacklo_epi64(a23, b23);
        v[4 * h + 3] = _mm_unpackhi_epi64(a23, b23);
    }
}

// The inverse of LoadTransposed: v[0..7] back into sixteen lines of eight samples.
DEBLOCK_INLINE void StoreTransposed(uint8_t* const* row, const __m128i* v) {
    __m128i lo[4], hi[4];  // 16-bit element i: samples 2k, 2k + 1 of line i (lo) or i + 8 (hi)
    for (int k = 0; k < 4; ++k) {
        lo[k] = _mm_unpacklo_epi8(v[2 * k], v[2 * k + 1]);
        hi[k] = _mm_unpackhi_epi8(v[2 * k], v[2 * k + 1]);
    }
    for (int h = 0; h < 2; ++h) {
        const __m128i* s = h == 0 ? lo : hi;
        // 32-bit element i: samples 0-3 (c03) or 4-7 (c47) of lines 4m + i.
        for (int m = 0; m < 2; ++m) {
            const __m128i c03 = m == 0 ? _mm_unpacklo_epi16(s[0], s[1]) : _mm_unpackhi_epi16(s[0], s[1]);
            const __m128i c47 = m == 0 ? _mm_unpacklo_epi16(s[2], s[3]) : _mm_unpackhi_epi16(s[2], s[3]);
            const __m128i r01 = _mm_unpacklo_epi32(c03, c47), r23 = _mm_unpackhi_epi32(c03, c47);
            uint8_t* const* out = row + 8 * h + 4 * m;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out[0]), r01);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out[1]), _mm_unpackhi_epi64(r01, r01));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out[2]), r23);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out[3]), _mm_unpackhi_epi64(r23, r23));
        }
    }
}

inline __m128i Load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store16(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
// Eight Cb samples in lanes 0-7, eight Cr samples in lanes 8-15.
inline __m128i LoadPair(const uint8_t* cb, const uint8_t* cr) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)));
}
inline void StorePair(uint8_t* cb, uint8_t* cr, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cb), v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cr), _mm_unpackhi_epi64(v, v));
}

void LumaLines(uint8_t* q0, int along, uint8_t** row) {
    for (int i = 0; i < 16; ++i)
        row[i] = q0 + i * along - 4;
}
void ChromaLines(uint8_t* cb, uint8_t* cr, int along, uint8_t** row) {
    for (int i = 0; i < 8; ++i) {
        row[i] = cb + i * along - 4;
        row[8 + i] = cr + i * along - 4;
    }
}

void deblock_luma_h16_sse2(uint8_t* q0, int step, int, int alpha, int beta, const int8_t* tc0) {
    __m128i v[8];
    for (int k = 1; k < 7; ++k)
        v[k] = Load16(q0 + (k - 4) * step);
    LumaNormalSse2(v, alpha, beta, tc0);
    for (int k = 2; k < 6; ++k)
        Store16(q0 + (k - 4) * step, v[k]);
}

void deblock_luma_v16_sse2(uint8_t* q0, int, int along, int alpha, int beta, const int8_t* tc0) {
    uint8_t* row[16];
    LumaLines(q0, along, row);
    __m128i v[8];
    LoadTransposed(row, v);
    LumaNormalSse2(v, alpha, beta, tc0);
    StoreTransposed(row, v);
}

void deblock_luma_strong_h16_sse2(uint8_t* q0, int step, int, int alpha, int beta) {
    __m128i v[8];
    for (int k = 0; k < 8; ++k)
        v[k] = Load16(q0 + (k - 4) * step);
    LumaStrongSse2(v, alpha, beta);
    for (int k = 1; k < 7; ++k)
        Store16(q0 + (k - 4) * step, v[k]);
}

void deblock_luma_strong_v16_sse2(uint8_t* q0, int, int along, int alpha, int beta) {
    uint8_t* row[16];
    LumaLines(q0, along, row);
    __m128i v[8];
    LoadTransposed(row, v);
    LumaStrongSse2(v, alpha, beta);
    StoreTransposed(row, v);
}

void deblock_chroma_h8_sse2(uint8_t* cb, uint8_t* cr, int step, int, int alpha, int beta, const int8_t* tc0) {
    __m128i v[8];
    for (int k = 2; k < 6; ++k)
        v[k] = LoadPair(cb + (k - 4) * step, cr + (k - 4) * step);
    ChromaNormalSse2(v, alpha, beta, tc0);
    StorePair(cb - step, cr - step, v[3]);
    StorePair(cb, cr, v[4]);
}

void deblock_chroma_v8_sse2(uint8_t* cb, uint8_t* cr, int, int along, int alpha, int beta, const int8_t* tc0) {
    uint8_t* row[16];
    ChromaLines(cb, cr, along, row);
    __m128i v[8];
    LoadTransposed(row, v);
    ChromaNormalSse2(v, alpha, beta, tc0);
    StoreTransposed(row, v);
}

void deblock_chroma_strong_h8_sse2(uint8_t* cb, uint8_t* cr, int step, int, int alpha, int beta) {
    __m128i v[8];
    for (int k = 2; k < 6; ++k)
        v[k] = LoadPair(cb + (k - 4) * step, cr + (k - 4) * step);
    ChromaStrongSse2(v, alpha, beta);
    StorePair(cb - step, cr - step, v[3]);
    StorePair(cb, cr, v[4]);
}

void deblock_chroma_strong_v8_sse2(uint8_t* cb, uint8_t* cr, int, int along, int alpha, int beta) {
    uint8_t* row[16];
    ChromaLines(cb, cr, along, row);
    __m128i v[8];
    LoadTransposed(row, v);
    ChromaStrongSse2(v, alpha, beta);
    StoreTransposed(row, v);
}
#endif

}  // namespace

void FillDeblockKernels(DeblockKernels* t, uint32_t featureWord) {
    t->lumaNormal = deblock_normal_c<true>;
    t->lumaStrong = deblock_strong_c<true>;
    t->chromaNormal = deblock_normal_c<false>;
    t->chromaStrong = deblock_strong_c<false>;
    t->lumaHorizontal16 = deblock_luma_16_c;
    t->lumaVertical16 = deblock_luma_16_c;
    t->lumaStrongHorizontal16 = deblock_luma_strong_16_c;
    t->lumaStrongVertical16 = deblock_luma_strong_16_c;
    t->chromaHorizontal8 = deblock_chroma_8_c;
    t->chromaVertical8 = deblock_chroma_8_c;
    t->chromaStrongHorizontal8 = deblock_chroma_strong_8_c;
    t->chromaStrongVertical8 = deblock_chroma_strong_8_c;
#ifdef COMMON_HAVE_SSE2
    if (featureWord & kCpuSse2) {
        t->lumaHorizontal16 = deblock_luma_h16_sse2;
        t->lumaVertical16 = deblock_luma_v16_sse2;
        t->lumaStrongHorizontal16 = deblock_luma_strong_h16_sse2;
        t->lumaStrongVertical16 = deblock_luma_strong_v16_sse2;
        t->chromaHorizontal8 = deblock_chroma_h8_sse2;
        t->chromaVertical8 = deblock_chroma_v8_sse2;
        t->chromaStrongHorizontal8 = deblock_chroma_strong_h8_sse2;
        t->chromaStrongVertical8 = deblock_chroma_strong_v8_sse2;
    }
#else
    (void)featureWord;
#endif
}

}  // namespace common
