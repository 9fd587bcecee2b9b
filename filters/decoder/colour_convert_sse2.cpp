#include "filters/decoder/colour_convert_sse2.h"

#include <cstring>

#include "common/cpu_features.h"

#if defined(__SSE2__) || defined(_M_X64)
#define PELLDRIN_HAVE_SSE2 1
#include <emmintrin.h>
#endif

namespace pelldrin {

#ifdef PELLDRIN_HAVE_SSE2

bool ColourSse2Available() {
    static const bool available = (common::DetectCpuFeatures() & common::kCpuSse2) != 0;
    return available;
}

namespace {

// The same 13-bit BT.601 coefficients as the portable form, as 16-bit pairs for pmaddwd:
// each sum is computed exactly in 32 bits, so rounding and clamping match byte for byte.
inline __m128i Pair(int a, int b) {
    return _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(b) << 16) | static_cast<uint16_t>(a)));
}

// (sum + 4096) >> 13 for the four lanes of lo and hi, saturated to 0..255 as 16-bit lanes.
inline __m128i Finish(__m128i lo, __m128i hi) {
    return _mm_packs_epi32(_mm_srai_epi32(lo, 13), _mm_srai_epi32(hi, 13));
}

inline __m128i Load32(const uint8_t* p) {
    int32_t word;
    std::memcpy(&word, p, 4);
    return _mm_cvtsi32_si128(word);
}

// Four BGRX pixels to twelve BGR bytes at out.
inline void StoreBgr4(uint8_t* out, __m128i px) {
    const __m128i first = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i second = _mm_set_epi32(0x00FFFFFF, 0, 0x00FFFFFF, 0);
    // In each 64-bit lane: the first pixel's three bytes, then the second's.
    const __m128i lanes = _mm_or_si128(_mm_and_si128(px, first), _mm_srli_epi64(_mm_and_si128(px, second), 8));
    // The high lane's six bytes follow the low lane's.
    const __m128i joined = _mm_or_si128(_mm_move_epi64(lanes), _mm_slli_si128(_mm_srli_si128(lanes, 8), 6));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), joined);
    const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(joined, 8));
    std::memcpy(out + 8, &tail, 4);
}

}  // namespace

int RgbRowSse2(uint8_t* out, const uint8_t* y, const uint8_t* u, const uint8_t* v, int columns, bool four) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i k16 = _mm_set1_epi16(16), k128 = _mm_set1_epi16(128);
    const __m128i yv = Pair(9539, 13075), yuB = Pair(9539, 16525), yuG = Pair(9539, -3209);
    const __m128i v1G = Pair(-6660, 4096), round = _mm_set1_epi32(4096);
    const __m128i one = _mm_set1_epi16(1);
    int x = 0;
    for (; x + 8 <= columns; x += 8) {
        const __m128i luma =
            _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x)), zero), k16);
        __m128i cu = _mm_unpacklo_epi8(Load32(u + x / 2), zero);
        __m128i cv = _mm_unpacklo_epi8(Load32(v + x / 2), zero);
        cu = _mm_sub_epi16(_mm_unpacklo_epi16(cu, cu), k128);  // each chroma sample for two pixels
        cv = _mm_sub_epi16(_mm_unpacklo_epi16(cv, cv), k128);
        const __m128i yvLo = _mm_unpacklo_epi16(luma, cv), yvHi = _mm_unpackhi_epi16(luma, cv);
        const __m128i yuLo = _mm_unpacklo_epi16(luma, cu), yuHi = _mm_unpackhi_epi16(luma, cu);
        const __m128i v1Lo = _mm_unpacklo_epi16(cv, one), v1Hi = _mm_unpackhi_epi16(cv, one);
        const __m128i r =
            Finish(_mm_add_epi32(_mm_madd_epi16(yvLo, yv), round), _mm_add_epi32(_mm_madd_epi16(yvHi, yv), round));
        const __m128i b =
            Finish(_mm_add_epi32(_mm_madd_epi16(yuLo, yuB), round), _mm_add_epi32(_mm_madd_epi16(yuHi, yuB), round));
        const __m128i g = Finish(_mm_add_epi32(_mm_madd_epi16(yuLo, yuG), _mm_madd_epi16(v1Lo, v1G)),
                                 _mm_add_epi32(_mm_madd_epi16(yuHi, yuG), _mm_madd_epi16(v1Hi, v1G)));
        const __m128i b8 = _mm_packus_epi16(b, b), g8 = _mm_packus_epi16(g, g), r8 = _mm_packus_epi16(r, r);
        const __m128i bg = _mm_unpacklo_epi8(b8, g8), r0 = _mm_unpacklo_epi8(r8, zero);
        const __m128i lo = _mm_unpacklo_epi16(bg, r0), hi = _mm_unpackhi_epi16(bg, r0);
        if (four) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), lo);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), hi);
            out += 32;
        } else {
            StoreBgr4(out, lo);
            StoreBgr4(out + 12, hi);
            out += 24;
        }
    }
    return x;
}

int PackRowSse2(uint8_t* out, const uint8_t* y, const uint8_t* u, const uint8_t* v, int columns, bool uyvy) {
    int x = 0;
    for (; x + 16 <= columns; x += 16) {
        const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        const __m128i uv = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2)));
        const __m128i lo = uyvy ? _mm_unpacklo_epi8(uv, luma) : _mm_unpacklo_epi8(luma, uv);
        const __m128i hi = uyvy ? _mm_unpackhi_epi8(uv, luma) : _mm_unpackhi_epi8(luma, uv);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), hi);
        out += 32;
    }
    return x;
}

#else

bool ColourSse2Available() {
    return false;
}
int RgbRowSse2(uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int, bool) {
    return 0;
}
int PackRowSse2(uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int, bool) {
    return 0;
}

#endif

}  // namespace pelldrin
