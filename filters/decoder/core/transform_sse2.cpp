// SSE2 forms of the residual kernels (ITU-T H.264 clause 8.5.12): the inverse 4x4 transform
// in 32-bit lanes, so every coefficient the 16-bit records can hold gives exactly the
// portable form's samples, the DC-only shortcut, and the luma DC inverse (clause 8.5.10).
#include "filters/decoder/core/kernel_table.h"

#ifdef AVCDEC_HAVE_SSE2

#include <emmintrin.h>

#include <cstring>

#include "common/dsp/transpose_sse2.h"

namespace avcdec {

namespace {

using common::Transpose4x4Epi32;

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

inline __m128i LoadWord(const uint8_t* p) {
    int32_t word;
    std::memcpy(&word, p, 4);
    return _mm_cvtsi32_si128(word);
}

inline void StoreWord(uint8_t* p, __m128i v) {
    const int32_t word = _mm_cvtsi128_si32(v);
    std::memcpy(p, &word, 4);
}

// Adds the residual rows r0..r3 (four 32-bit values each) to the 4x4 samples at dst,
// clipped to 0..255, all four rows in one pass. Residuals beyond the 16-bit range saturate
// there, which clips to the same 0 or 255.
inline void AddRows(uint8_t* dst, int pitch, __m128i r0, __m128i r1, __m128i r2, __m128i r3) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i rows01 = _mm_unpacklo_epi32(LoadWord(dst), LoadWord(dst + pitch));
    const __m128i rows23 = _mm_unpacklo_epi32(LoadWord(dst + 2 * pitch), LoadWord(dst + 3 * pitch));
    const __m128i top = _mm_adds_epi16(_mm_unpacklo_epi8(rows01, zero), _mm_packs_epi32(r0, r1));
    const __m128i bottom = _mm_adds_epi16(_mm_unpacklo_epi8(rows23, zero), _mm_packs_epi32(r2, r3));
    const __m128i out = _mm_packus_epi16(top, bottom);
    StoreWord(dst, out);
    StoreWord(dst + pitch, _mm_shuffle_epi32(out, 1));
    StoreWord(dst + 2 * pitch, _mm_shuffle_epi32(out, 2));
    StoreWord(dst + 3 * pitch, _mm_shuffle_epi32(out, 3));
}

}  // namespace

void idct_add_4x4_sse2(uint8_t* dst, int pitch, const int16_t* c) {
    __m128i r0 = LoadRow32(c), r1 = LoadRow32(c + 4), r2 = LoadRow32(c + 8), r3 = LoadRow32(c + 12);
    // Lane i of r_k becomes coefficient (i, k), so one butterfly transforms the four rows;
    // transposed back, lane j of r_i holds row i's result at column j, and the second
    // butterfly transforms the columns: r_i is then output row i.
    Transpose4x4Epi32(r0, r1, r2, r3);
    Butterfly(r0, r1, r2, r3);
    Transpose4x4Epi32(r0, r1, r2, r3);
    Butterfly(r0, r1, r2, r3);
    const __m128i round = _mm_set1_epi32(32);
    AddRows(dst, pitch, _mm_srai_epi32(_mm_add_epi32(r0, round), 6), _mm_srai_epi32(_mm_add_epi32(r1, round), 6),
            _mm_srai_epi32(_mm_add_epi32(r2, round), 6), _mm_srai_epi32(_mm_add_epi32(r3, round), 6));
}

void idct_dc_add_4x4_sse2(uint8_t* dst, int pitch, int dc) {
    const __m128i add = _mm_set1_epi32((dc + 32) >> 6);
    AddRows(dst, pitch, add, add, add, add);
}

namespace {

// Low 32 bits of a * b in each lane (SSE2 has only the widening unsigned product, whose low
// half is the same for signed lanes).
inline __m128i MulLow32(__m128i a, __m128i b) {
    const __m128i even = _mm_mul_epu32(a, b);
    const __m128i odd = _mm_mul_epu32(_mm_srli_si128(a, 4), _mm_srli_si128(b, 4));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

// The 4-point Hadamard of clause 8.5.10 across four vectors, lane by lane: outputs in the
// order (x0 + x1 + x2 + x3, x0 + x1 - x2 - x3, x0 - x1 - x2 + x3, x0 - x1 + x2 - x3).
inline void Hadamard(__m128i& x0, __m128i& x1, __m128i& x2, __m128i& x3) {
    const __m128i s01 = _mm_add_epi32(x0, x1), d01 = _mm_sub_epi32(x0, x1);
    const __m128i s23 = _mm_add_epi32(x2, x3), d23 = _mm_sub_epi32(x2, x3);
    x0 = _mm_add_epi32(s01, s23);
    x1 = _mm_sub_epi32(s01, s23);
    x2 = _mm_sub_epi32(d01, d23);
    x3 = _mm_add_epi32(d01, d23);
}

// Sign-extends the low 16 bits of each 32-bit lane, so that the saturating pack keeps the
// wrapped value.
inline __m128i Wrap16(__m128i v) {
    return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
}

}  // namespace

// The transform is linear, so the columns go first (lane by lane over the rows), then the
// rows after a transpose; wrapping sums give the portable form's values for any input.
uint32_t luma_dc_dequant_sse2(int16_t (*coeffs)[16], const int16_t* c, int scale) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8));
    // Rows 0..3 widened to 32 bits (each half unpacked against itself, then shifted down).
    __m128i r0 = _mm_srai_epi32(_mm_unpacklo_epi16(lo, lo), 16), r1 = _mm_srai_epi32(_mm_unpackhi_epi16(lo, lo), 16);
    __m128i r2 = _mm_srai_epi32(_mm_unpacklo_epi16(hi, hi), 16), r3 = _mm_srai_epi32(_mm_unpackhi_epi16(hi, hi), 16);
    Hadamard(r0, r1, r2, r3);  // vertical: r_i now holds output row i before the row pass
    Transpose4x4Epi32(r0, r1, r2, r3);
    Hadamard(r0, r1, r2, r3);           // horizontal: r_j holds column j of the result
    Transpose4x4Epi32(r0, r1, r2, r3);  // back to rows
    const __m128i s = _mm_set1_epi32(scale), two = _mm_set1_epi32(2);
    const auto finish = [&](__m128i v) { return Wrap16(_mm_srai_epi32(_mm_add_epi32(MulLow32(v, s), two), 2)); };
    const __m128i top = _mm_packs_epi32(finish(r0), finish(r1));     // blocks 0..7
    const __m128i bottom = _mm_packs_epi32(finish(r2), finish(r3));  // blocks 8..15
    const __m128i zero = _mm_setzero_si128();
    const __m128i isZero = _mm_packs_epi16(_mm_cmpeq_epi16(top, zero), _mm_cmpeq_epi16(bottom, zero));
    alignas(16) int16_t v[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(v), top);
    _mm_store_si128(reinterpret_cast<__m128i*>(v + 8), bottom);
    for (int b = 0; b < 16; ++b)
        coeffs[b][0] = v[b];
    return ~static_cast<uint32_t>(_mm_movemask_epi8(isZero)) & 0xFFFFu;
}

}  // namespace avcdec

#endif
