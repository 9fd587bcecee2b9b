// SSE2 forms of the plane prediction fill (ITU-T H.264 clauses 8.3.3.4 and 8.3.4.4): eight
// 16-bit lanes a row, stepped by c from row to row, shifted and clipped by the saturating
// pack. Exact for the parameters the clauses allow (kernel_table.h).
#include "filters/decoder/core/kernel_table.h"

#ifdef AVCDEC_HAVE_SSE2

#include <emmintrin.h>

namespace avcdec {

namespace {

// a + b (x - centre) + c (-centre) + 16 for x = first .. first + 7.
inline __m128i PlaneRowStart(int first, int centre, int a, int b, int c) {
    const __m128i x = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    const __m128i offset = _mm_set1_epi16(static_cast<int16_t>(first - centre));
    const __m128i bx = _mm_mullo_epi16(_mm_add_epi16(x, offset), _mm_set1_epi16(static_cast<int16_t>(b)));
    return _mm_add_epi16(bx, _mm_set1_epi16(static_cast<int16_t>(a - c * centre + 16)));
}

}  // namespace

void intra_plane_16x16_sse2(uint8_t* pred, int predPitch, int a, int b, int c) {
    __m128i left = PlaneRowStart(0, 7, a, b, c), right = PlaneRowStart(8, 7, a, b, c);
    const __m128i step = _mm_set1_epi16(static_cast<int16_t>(c));
    for (int y = 0; y < 16; ++y) {
        const __m128i row = _mm_packus_epi16(_mm_srai_epi16(left, 5), _mm_srai_epi16(right, 5));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pred + y * predPitch), row);
        left = _mm_add_epi16(left, step);
        right = _mm_add_epi16(right, step);
    }
}

void intra_plane_8x8_sse2(uint8_t* pred, int predPitch, int a, int b, int c) {
    __m128i v = PlaneRowStart(0, 3, a, b, c);
    const __m128i step = _mm_set1_epi16(static_cast<int16_t>(c));
    for (int y = 0; y < 8; ++y) {
        const __m128i row = _mm_packus_epi16(_mm_srai_epi16(v, 5), v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pred + y * predPitch), row);
        v = _mm_add_epi16(v, step);
    }
}

}  // namespace avcdec

#endif  // AVCDEC_HAVE_SSE2
