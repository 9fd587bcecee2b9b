#include "common/bitstream/start_code.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define COMMON_BITSTREAM_SSE2 1
#endif

namespace common {

const uint8_t* FindZeroPairThen(const uint8_t* begin, const uint8_t* end, uint8_t lo, uint8_t hi) {
    if (!begin || end - begin < 3) return end;
    const uint8_t* p = begin;
#ifdef COMMON_BITSTREAM_SSE2
    // Three overlapping loads put bytes i, i + 1 and i + 2 of every candidate in one lane;
    // a lane matches when the first two are zero and the third lies in [lo, hi] (unsigned
    // saturating differences are zero exactly when third <= hi and lo <= third).
    const __m128i zero = _mm_setzero_si128();
    const __m128i vlo = _mm_set1_epi8(static_cast<char>(lo));
    const __m128i vhi = _mm_set1_epi8(static_cast<char>(hi));
    while (end - p >= 18) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
        const __m128i pair = _mm_and_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero));
        const __m128i third =
            _mm_and_si128(_mm_cmpeq_epi8(_mm_subs_epu8(c, vhi), zero), _mm_cmpeq_epi8(_mm_subs_epu8(vlo, c), zero));
        const int mask = _mm_movemask_epi8(_mm_and_si128(pair, third));
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    // Byte walk: when p[2] can be neither a zero of a later candidate nor the third byte,
    // no match starts at p, p + 1 or p + 2; when p[1] is not zero, none at p or p + 1.
    while (end - p >= 3) {
        const uint8_t third = p[2];
        if (third != 0 && (third < lo || third > hi)) {
            p += 3;
        } else if (p[1] != 0) {
            p += 2;
        } else if (p[0] == 0 && third >= lo && third <= hi) {
            return p;
        } else {
            ++p;
        }
    }
    return end;
}

StartCode FindNalStartCode(const uint8_t* begin, const uint8_t* end) {
    StartCode sc;
    const uint8_t* p = FindStartCode(begin, end);
    if (p == end) {
        sc.prefix = end;
        return sc;
    }
    if (p > begin && p[-1] == 0) {
        sc.prefix = p - 1;
        sc.length = 4;
    } else {
        sc.prefix = p;
        sc.length = 3;
    }
    return sc;
}

std::span<const uint8_t> NextNalUnit(const uint8_t** cursor, const uint8_t* end) {
    const uint8_t* first = FindStartCode(*cursor, end);
    if (first == end) {
        *cursor = end;
        return {};
    }
    const uint8_t* nal = first + 3;
    const uint8_t* next = FindStartCode(nal, end);
    const uint8_t* last = next;
    while (last > nal && last[-1] == 0)
        --last;
    *cursor = next;
    return {nal, static_cast<size_t>(last - nal)};
}

}  // namespace common
