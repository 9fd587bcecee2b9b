// 4x4 transposes of SSE2 registers shared by the encoder's and the decoder's transforms.
// Include only where SSE2 is available.
#pragma once

#include <emmintrin.h>

namespace common {

// Four registers of four 32-bit lanes, (a0..a3), (b0..b3), (c0..c3), (d0..d3), transposed
// in place: afterwards a holds (a0, b0, c0, d0), b holds (a1, b1, c1, d1), and so on.
inline void Transpose4x4Epi32(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
    const __m128i ab0 = _mm_unpacklo_epi32(a, b), ab1 = _mm_unpackhi_epi32(a, b);
    const __m128i cd0 = _mm_unpacklo_epi32(c, d), cd1 = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(ab0, cd0);
    b = _mm_unpackhi_epi64(ab0, cd0);
    c = _mm_unpacklo_epi64(ab1, cd1);
    d = _mm_unpackhi_epi64(ab1, cd1);
}

}  // namespace common
