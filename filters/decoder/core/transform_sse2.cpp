// SSE2 forms of the residual kernels (ITU-T H.264 clause 8.5.12): the inverse 4x4 transform
// in 32-bit lanes, so every coefficient the 16-bit records can hold gives exactly the
// portable form's samples, and the DC-only shortcut.
#include "filters/decoder/core/kernel_table.h"

#ifdef AVCDEC_HAVE_SSE2

#include <emmintrin.h>

#include <cstring>

namespace avcdec {

namespace {

// Four 32-bit lanes of (a0..a3), (b0..b3), (c0..c3), (d0..d3) transposed in place.
inline void Transpose(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
    const __m128i ab0 = _mm_unpacklo_epi32(a, b), ab1 = _mm_unpackhi_epi32(a, b);
    const __m128i cd0 = _mm_unpacklo_epi32(c, d), cd1 = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(ab0, cd0);
    b = _mm_unpackhi_epi64(ab0, cd0);
    c = _mm_unpacklo_epi64(ab1, cd1);
    d = _mm_unpackhi_epi64(ab1, cd1);
}

// One pass of the transform over four lanes at once: (x0, x1, x2, x3) are the four
// inputs of each lane's row or column; the outputs replace them in order.
inline void Butterfly(__m128i& x0, __m128i& x1, __m128i& x2, __m128i& x3) {
    const __m128i e0 = _mm_add_epi32(x0, x2);
    const __m128i e1 = _mm_sub_epi32(x0, x2);
    const __m128i e2 = _mm_sub_epi32(_mm_srai_epi32(x1, 1), x3);
    const __m128i e3 = _mm_add_epi32(x1, _mm_srai_epi32(x3, 1));
    x0 = _mm_add_epi32(e0, e3);
    x1 = _mm_add_epi32(e1, e2);
    x2 = _mm_sub_epi32(e1, e2);
    x3 = _mm_sub_epi32(e0, e3);
}

inline __m128i LoadRow32(const int16_t* c) {
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c));
    return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);  // sign-extended
}

// Adds four 32-bit residuals to the four samples at dst, clipped to 0..255.
inline void AddRow(uint8_t* dst, __m128i r) {
    int32_t word;
    std::memcpy(&word, dst, 4);
    const __m128i zero = _mm_setzero_si128();
    const __m128i samples = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero);
    const __m128i sum = _mm_packs_epi32(_mm_add_epi32(samples, r), zero);
    word = _mm_cvtsi128_si32(_mm_packus_epi16(sum, zero));
    std::memcpy(dst, &word, 4);
}

}  // namespace

void idct_add_4x4_sse2(uint8_t* dst, int pitch, const int16_t* c) {
    __m128i r0 = LoadRow32(c), r1 = LoadRow32(c + 4), r2 = LoadRow32(c + 8), r3 = LoadRow32(c + 12);
    // Lane i of r_k becomes coefficient (i, k), so one butterfly transforms the four rows;
    // transposed back, lane j of r_i holds row i's result at column j, and the second
    // butterfly transforms the columns: r_i is then output row i.
    Transpose(r0, r1, r2, r3);
    Butterfly(r0, r1, r2, r3);
    Transpose(r0, r1, r2, r3);
    Butterfly(r0, r1, r2, r3);
    const __m128i round = _mm_set1_epi32(32);
    AddRow(dst, _mm_srai_epi32(_mm_add_epi32(r0, round), 6));
    AddRow(dst + pitch, _mm_srai_epi32(_mm_add_epi32(r1, round), 6));
    AddRow(dst + 2 * pitch, _mm_srai_epi32(_mm_add_epi32(r2, round), 6));
    AddRow(dst + 3 * pitch, _mm_srai_epi32(_mm_add_epi32(r3, round), 6));
}

void idct_dc_add_4x4_sse2(uint8_t* dst, int pitch, int dc) {
    const __m128i add = _mm_set1_epi32((dc + 32) >> 6);
    for (int i = 0; i < 4; ++i)
        AddRow(dst + i * pitch, add);
}

}  // namespace avcdec

#endif
