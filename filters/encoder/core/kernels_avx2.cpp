// The AVX2 members of the x86 kernel set: two rows (or two 8-column halves) of a block per
// 256-bit register for the 16-wide SADs, the SATDs of 8x8 and 16x16 blocks, the 16-wide
// phase fetches and the half-sample interpolation. Installed over the SSSE3 and SSE2 sets
// when the feature word has kCpuAvx2; each member returns exactly what its portable
// member returns. The Windows build assembles this file's aligned vector moves as
// unaligned ones (its stack is only 16-byte aligned).
#include <cstdint>

#include "filters/encoder/core/half_pel_rows.h"
#include "filters/encoder/core/kernel_table.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <immintrin.h>

#include "filters/encoder/core/kernels_sse2.h"

// Everything from here on may use AVX2; the helpers included above stay SSE2.
#pragma GCC target("avx2")

namespace ombrisk {
namespace {

using sse2::Load16;
using sse2::Store16;

// Two 16-byte rows in the two lanes.
inline __m256i Rows2(const uint8_t* p, int stride) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(Load16(p)), Load16(p + stride), 1);
}
inline __m256i Load32(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
// The four 64-bit partial sums of vpsadbw (or four pairs of 32-bit lanes) added.
inline uint32_t Total(__m256i v) {
    const __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_add_epi32(s, _mm_srli_si128(s, 8))));
}
inline uint32_t Total32(__m256i v) {
    const __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return sse2::Total32(s);
}
// The 16 even samples of 32 bytes of each of two half-sample rows, one row per lane.
inline __m256i EvenRows2(const uint8_t* p, int stride) {
    const __m256i mask = _mm256_set1_epi16(0x00FF);
    const __m256i packed =
        _mm256_packus_epi16(_mm256_and_si256(Load32(p), mask), _mm256_and_si256(Load32(p + stride), mask));
    return _mm256_permute4x64_epi64(packed, 0xD8);  // qwords 0, 2, 1, 3
}
inline __m128i EvenRow16(const uint8_t* p) {
    const __m256i mask = _mm256_set1_epi16(0x00FF);
    const __m256i v = _mm256_and_si256(Load32(p), mask);
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0xD8));
}

// ---- 16-wide SAD rows: two rows per step, an odd last row alone ----

uint32_t SadContiguous16(const uint8_t* a, const uint8_t* b, const uint8_t*, int, int, int) {
    __m256i sum = _mm256_setzero_si256();
    for (int i = 0; i < 256; i += 32)
        sum = _mm256_add_epi32(sum, _mm256_sad_epu8(Load32(a + i), Load32(b + i)));
    return Total(sum);
}

// The rows of a 16-wide SAD: `source(s1, s2, y)` gives rows y and y + 1 of the
// reference in a register's lanes, `single(s1, s2, y)` row y alone.
template <class Pair, class Single>
uint32_t Sad16Rows(const uint8_t* a, int strideA, int rows, Pair pair, Single single) {
    __m256i sum = _mm256_setzero_si256();
    int y = 0;
    for (; y + 2 <= rows; y += 2, a += 2 * strideA)
        sum = _mm256_add_epi32(sum, _mm256_sad_epu8(Rows2(a, strideA), pair(y)));
    uint32_t total = Total(sum);
    if (y < rows) total += sse2::Total(_mm_sad_epu8(Load16(a), single(y)));
    return total;
}

uint32_t SadStrided16(const uint8_t* a, const uint8_t* s, const uint8_t*, int strideA, int strideS, int rows) {
    return Sad16Rows(
        a, strideA, rows, [&](int y) { return Rows2(s + y * strideS, strideS); },
        [&](int y) { return Load16(s + y * strideS); });
}

uint32_t SadPhase16(const uint8_t* a, const uint8_t* s, const uint8_t*, int strideA, int strideS, int rows) {
    return Sad16Rows(
        a, strideA, rows, [&](int y) { return EvenRows2(s + y * strideS, strideS); },
        [&](int y) { return EvenRow16(s + y * strideS); });
}

uint32_t SadPhaseAverage16(const uint8_t* a, const uint8_t* s1, const uint8_t* s2, int strideA, int strideS, int rows) {
    return Sad16Rows(
        a, strideA, rows,
        [&](int y) {
            return _mm256_avg_epu8(EvenRows2(s1 + y * strideS, strideS), EvenRows2(s2 + y * strideS, strideS));
        },
        [&](int y) { return _mm_avg_epu8(EvenRow16(s1 + y * strideS), EvenRow16(s2 + y * strideS)); });
}

// ---- 16-wide phase fetches (members 2-5) ----

template <bool Two, bool OntoDestination>
void FetchPhases16(uint8_t* d, const uint8_t* a, const uint8_t* b, int dStride, int sStride, int rows) {
    int y = 0;
    for (; y + 2 <= rows; y += 2, d += 2 * dStride, a += 2 * sStride, b += 2 * sStride) {
        __m256i v = EvenRows2(a, sStride);
        if constexpr (Two) v = _mm256_avg_epu8(v, EvenRows2(b, sStride));
        if constexpr (OntoDestination) v = _mm256_avg_epu8(v, Rows2(d, dStride));
        Store16(d, _mm256_castsi256_si128(v));
        Store16(d + dStride, _mm256_extracti128_si256(v, 1));
    }
    if (y < rows) {
        __m128i v = EvenRow16(a);
        if constexpr (Two) v = _mm_avg_epu8(v, EvenRow16(b));
        if constexpr (OntoDestination) v = _mm_avg_epu8(v, Load16(d));
        Store16(d, v);
    }
}

// ---- SATD: two 8x4 halves per register, the SSE2 arithmetic lane by lane ----

inline void CoreButterfly(__m256i& r0, __m256i& r1, __m256i& r2, __m256i& r3) {
    const __m256i s03 = _mm256_add_epi16(r0, r3), d03 = _mm256_sub_epi16(r0, r3);
    const __m256i s12 = _mm256_add_epi16(r1, r2), d12 = _mm256_sub_epi16(r1, r2);
    r0 = _mm256_add_epi16(s03, s12);
    r1 = _mm256_add_epi16(_mm256_add_epi16(d03, d03), d12);
    r2 = _mm256_sub_epi16(s03, s12);
    r3 = _mm256_sub_epi16(d03, _mm256_add_epi16(d12, d12));
}

// The magnitudes of the transforms of r (differences, one 8x4 half per lane), as eight
// 32-bit sums.
inline __m256i SatdOfDifferences(__m256i r[4]) {
    CoreButterfly(r[0], r[1], r[2], r[3]);
    const __m256i t0 = _mm256_unpacklo_epi16(r[0], r[1]), t1 = _mm256_unpacklo_epi16(r[2], r[3]);
    const __m256i t2 = _mm256_unpackhi_epi16(r[0], r[1]), t3 = _mm256_unpackhi_epi16(r[2], r[3]);
    const __m256i a01 = _mm256_unpacklo_epi32(t0, t1), a23 = _mm256_unpackhi_epi32(t0, t1);
    const __m256i b01 = _mm256_unpacklo_epi32(t2, t3), b23 = _mm256_unpackhi_epi32(t2, t3);
    __m256i u0 = _mm256_unpacklo_epi64(a01, b01), u1 = _mm256_unpackhi_epi64(a01, b01);
    __m256i u2 = _mm256_unpacklo_epi64(a23, b23), u3 = _mm256_unpackhi_epi64(a23, b23);
    CoreButterfly(u0, u1, u2, u3);
    const __m256i ones = _mm256_set1_epi16(1);
    return _mm256_add_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(_mm256_abs_epi16(u0), ones), _mm256_madd_epi16(_mm256_abs_epi16(u1), ones)),
        _mm256_add_epi32(_mm256_madd_epi16(_mm256_abs_epi16(u2), ones), _mm256_madd_epi16(_mm256_abs_epi16(u3), ones)));
}

inline __m256i Widen16(__m128i v) {
    return _mm256_cvtepu8_epi16(v);
}

uint32_t Satd8x8(const uint8_t* a, const uint8_t* b) {
    // Rows 0-3 in the low lane, rows 4-7 in the high lane.
    __m256i r[4];
    for (int y = 0; y < 4; ++y)
        r[y] = _mm256_sub_epi16(Widen16(_mm_unpacklo_epi64(sse2::Load8(a + 8 * y), sse2::Load8(a + 8 * y + 32))),
                                Widen16(_mm_unpacklo_epi64(sse2::Load8(b + 8 * y), sse2::Load8(b + 8 * y + 32))));
    return Total32(SatdOfDifferences(r));
}

uint32_t Satd16x16(const uint8_t* a, const uint8_t* b) {
    // Columns 0-7 in the low lane, 8-15 in the high lane, four rows at a time.
    __m256i sum = _mm256_setzero_si256();
    for (int y0 = 0; y0 < 16; y0 += 4) {
        __m256i r[4];
        for (int y = 0; y < 4; ++y)
            r[y] = _mm256_sub_epi16(Widen16(Load16(a + 16 * (y0 + y))), Widen16(Load16(b + 16 * (y0 + y))));
        sum = _mm256_add_epi32(sum, SatdOfDifferences(r));
    }
    return Total32(sum);
}

// ---- half-sample interpolation: 16 samples at a time ----

// a - 5b + 20c + 20d - 5e + f of sixteen 16-bit lanes.
inline __m256i SixTap(__m256i a, __m256i b, __m256i c, __m256i d, __m256i e, __m256i f) {
    const __m256i t = _mm256_sub_epi16(_mm256_slli_epi16(_mm256_add_epi16(c, d), 2), _mm256_add_epi16(b, e));
    return _mm256_add_epi16(_mm256_add_epi16(a, f), _mm256_add_epi16(t, _mm256_slli_epi16(t, 2)));
}
inline __m256i Widen(const uint8_t* p) {
    return Widen16(Load16(p));
}
// Sixteen 16-bit lanes clipped to bytes, in order.
inline __m128i ToBytes(__m256i v) {
    return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

struct HalfPelAvx2 {
    static int Sums(const uint8_t* s, int16_t* h, int x, int end) {
        // Sixteen sums read s[x - 2] .. s[x + 18].
        for (; x + 16 <= end; x += 16) {
            const __m256i v = SixTap(Widen(s + x - 2), Widen(s + x - 1), Widen(s + x), Widen(s + x + 1),
                                     Widen(s + x + 2), Widen(s + x + 3));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(h + x), _mm256_add_epi16(v, _mm256_set1_epi16(16)));
        }
        return x;
    }
    static __m256i Centre(const int16_t* const* h, int x) {
        const auto at = [&](int k) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h[k] + x)); };
        const __m256i outer = _mm256_set1_epi32(static_cast<int32_t>(0xFFFB0001u));  // (h0, h1) . (1, -5)
        const __m256i inner = _mm256_set1_epi16(20);                                 // (h2, h3) . (20, 20)
        const __m256i last = _mm256_set1_epi32(0x0001FFFB);                          // (h4, h5) . (-5, 1)
        const __m256i h0 = at(0), h1 = at(1), h2 = at(2), h3 = at(3), h4 = at(4), h5 = at(5);
        // The unpacks work within each lane; packing back restores the order.
        const __m256i lo = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(h0, h1), outer),
                                                             _mm256_madd_epi16(_mm256_unpacklo_epi16(h2, h3), inner)),
                                            _mm256_madd_epi16(_mm256_unpacklo_epi16(h4, h5), last));
        const __m256i hi = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(h0, h1), outer),
                                                             _mm256_madd_epi16(_mm256_unpackhi_epi16(h2, h3), inner)),
                                            _mm256_madd_epi16(_mm256_unpackhi_epi16(h4, h5), last));
        return _mm256_packs_epi32(_mm256_srai_epi32(lo, 10), _mm256_srai_epi32(hi, 10));
    }
    static int Outputs(const uint8_t* const* r, const int16_t* const* h, uint8_t* fh, uint8_t* vc, int stride) {
        int x = 0;
        for (; x + 16 <= stride; x += 16) {
            const __m256i sums = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h[2] + x));
            const __m128i half = ToBytes(_mm256_srai_epi16(sums, 5));
            const __m128i full = Load16(r[2] + x);
            Store16(fh + 2 * x, _mm_unpacklo_epi8(full, half));
            Store16(fh + 2 * x + 16, _mm_unpackhi_epi8(full, half));
            const __m256i v = SixTap(Widen(r[0] + x), Widen(r[1] + x), Widen(r[2] + x), Widen(r[3] + x),
                                     Widen(r[4] + x), Widen(r[5] + x));
            const __m128i vert = ToBytes(_mm256_srai_epi16(_mm256_add_epi16(v, _mm256_set1_epi16(16)), 5));
            const __m128i centre = ToBytes(Centre(h, x));
            Store16(vc + 2 * x, _mm_unpacklo_epi8(vert, centre));
            Store16(vc + 2 * x + 16, _mm_unpackhi_epi8(vert, centre));
        }
        return x;
    }
};

void InterpolateHalfPel(const uint8_t* plane, uint8_t* out, int16_t* scratch, int stride, int rows, int first,
                        int end) {
    half_pel::BuildRows<HalfPelAvx2>(plane, out, scratch, stride, rows, first, end);
}

constexpr SadFn kSad16Row[kSadMembers] = {&SadContiguous16, &SadStrided16, &SadPhase16, &SadPhaseAverage16};
constexpr BlockFetchFn kFetch16Row[kBlockFetchMembers] = {&sse2::FetchCopy<16>,         &sse2::FetchAverage<16>,
                                                          &FetchPhases16<false, false>, &FetchPhases16<false, true>,
                                                          &FetchPhases16<true, false>,  &FetchPhases16<true, true>};

}  // namespace

void InstallAvx2Kernels(CKernelTable* t) {
    t->satd8x8 = &Satd8x8;
    t->satd16x16 = &Satd16x16;
    t->sad16x16 = kSad16Row;
    t->sadContiguous16x16 = kSad16Row[0];
    t->blockFetch16 = kFetch16Row;
    t->interpolateHalfPel = &InterpolateHalfPel;
}

}  // namespace ombrisk

#endif
