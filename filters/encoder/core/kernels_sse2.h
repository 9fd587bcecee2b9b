// The SSE2 building blocks of the x86 kernel sets (SSE2 is present on every x86-64
// processor): loads and stores, the SAD, SATD and block fetch rows. The later sets
// (SSSE3, AVX2) keep the members they do not improve from here. Everything here is
// compiled for SSE2 alone wherever it is included (the later sets' files switch their
// instruction set on only after their includes).
#pragma once

#include <cstdint>
#include <cstring>

#include <emmintrin.h>

#include "filters/encoder/core/kernel_table.h"

namespace ombrisk::sse2 {

// Loads of 4 and 8 bytes into the low lanes (the rest zero).
inline __m128i Load4(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}
inline __m128i Load8(const uint8_t* p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
inline __m128i Load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store4(uint8_t* p, __m128i v) {
    const int32_t x = _mm_cvtsi128_si32(v);
    std::memcpy(p, &x, 4);
}
inline void Store8(uint8_t* p, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}
inline void Store16(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// The two 64-bit partial sums of psadbw added.
inline uint32_t Total(__m128i sad) {
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_add_epi32(sad, _mm_srli_si128(sad, 8))));
}
// The four 32-bit lanes added.
inline uint32_t Total32(__m128i v) {
    v = _mm_add_epi32(v, _mm_srli_si128(v, 8));
    v = _mm_add_epi32(v, _mm_srli_si128(v, 4));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

// W samples of a row: contiguous, or every second sample of a half-sample plane row
// (which reads 2W bytes).
template <int W>
inline __m128i Row(const uint8_t* p) {
    if constexpr (W == 16) return Load16(p);
    if constexpr (W == 8) return Load8(p);
    return Load4(p);
}
template <int W>
inline __m128i EvenRow(const uint8_t* p) {
    const __m128i mask = _mm_set1_epi16(0x00FF);
    if constexpr (W == 16) return _mm_packus_epi16(_mm_and_si128(Load16(p), mask), _mm_and_si128(Load16(p + 16), mask));
    if constexpr (W == 8) return _mm_packus_epi16(_mm_and_si128(Load16(p), mask), _mm_setzero_si128());
    return _mm_packus_epi16(_mm_and_si128(Load8(p), mask), _mm_setzero_si128());
}
template <int W>
inline void StoreRow(uint8_t* p, __m128i v) {
    if constexpr (W == 16) Store16(p, v);
    if constexpr (W == 8) Store8(p, v);
    if constexpr (W == 4) Store4(p, v);
}

// ---- SAD rows ----

template <int N>
uint32_t SadContiguous(const uint8_t* a, const uint8_t* b, const uint8_t*, int, int, int) {
    __m128i sum = _mm_setzero_si128();
    if constexpr (N == 4) {
        sum = _mm_sad_epu8(Load16(a), Load16(b));
    } else {
        for (int i = 0; i < N * N; i += 16)
            sum = _mm_add_epi32(sum, _mm_sad_epu8(Load16(a + i), Load16(b + i)));
    }
    return Total(sum);
}

template <int N>
uint32_t SadStrided(const uint8_t* a, const uint8_t* s, const uint8_t*, int strideA, int strideS, int rows) {
    __m128i sum = _mm_setzero_si128();
    for (int y = 0; y < rows; ++y, a += strideA, s += strideS)
        sum = _mm_add_epi32(sum, _mm_sad_epu8(Row<N>(a), Row<N>(s)));
    return Total(sum);
}

template <int N>
uint32_t SadPhase(const uint8_t* a, const uint8_t* s, const uint8_t*, int strideA, int strideS, int rows) {
    __m128i sum = _mm_setzero_si128();
    for (int y = 0; y < rows; ++y, a += strideA, s += strideS)
        sum = _mm_add_epi32(sum, _mm_sad_epu8(Row<N>(a), EvenRow<N>(s)));
    return Total(sum);
}

template <int N>
uint32_t SadPhaseAverage(const uint8_t* a, const uint8_t* s1, const uint8_t* s2, int strideA, int strideS, int rows) {
    __m128i sum = _mm_setzero_si128();
    for (int y = 0; y < rows; ++y, a += strideA, s1 += strideS, s2 += strideS)
        sum = _mm_add_epi32(sum, _mm_sad_epu8(Row<N>(a), _mm_avg_epu8(EvenRow<N>(s1), EvenRow<N>(s2))));
    return Total(sum);
}

template <int N>
constexpr SadFn kSadRow[kSadMembers] = {&SadContiguous<N>, &SadStrided<N>, &SadPhase<N>, &SadPhaseAverage<N>};

// ---- SATD ----

// The forward core transform across four registers (each lane a column).
inline void CoreButterfly(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3) {
    const __m128i s03 = _mm_add_epi16(r0, r3), d03 = _mm_sub_epi16(r0, r3);
    const __m128i s12 = _mm_add_epi16(r1, r2), d12 = _mm_sub_epi16(r1, r2);
    r0 = _mm_add_epi16(s03, s12);
    r1 = _mm_add_epi16(_mm_add_epi16(d03, d03), d12);
    r2 = _mm_sub_epi16(s03, s12);
    r3 = _mm_sub_epi16(d03, _mm_add_epi16(d12, d12));
}

inline __m128i Abs16(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

// Transposes the two 4x4 blocks of 16-bit lanes held side by side in four registers (lanes
// 0-3 one block, 4-7 the other): u[j] gets column j of each block.
inline void TransposeHalves(const __m128i r[4], __m128i u[4]) {
    const __m128i t0 = _mm_unpacklo_epi16(r[0], r[1]), t1 = _mm_unpacklo_epi16(r[2], r[3]);
    const __m128i t2 = _mm_unpackhi_epi16(r[0], r[1]), t3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a01 = _mm_unpacklo_epi32(t0, t1), a23 = _mm_unpackhi_epi32(t0, t1);
    const __m128i b01 = _mm_unpacklo_epi32(t2, t3), b23 = _mm_unpackhi_epi32(t2, t3);
    u[0] = _mm_unpacklo_epi64(a01, b01);
    u[1] = _mm_unpackhi_epi64(a01, b01);
    u[2] = _mm_unpacklo_epi64(a23, b23);
    u[3] = _mm_unpackhi_epi64(a23, b23);
}

// The forward core transform of the differences of two 4x4 blocks side by side (8
// columns, 4 rows; rows of 4 leave the right block zero), into u. Differences stay within
// +-255, the first pass within +-1530 and the second within +-9180: 16-bit lanes suffice.
template <int W>
inline void SatdTransform8x4(const uint8_t* a, const uint8_t* b, int stride, __m128i u[4]) {
    const __m128i zero = _mm_setzero_si128();
    __m128i r[4];
    for (int y = 0; y < 4; ++y)
        r[y] = _mm_sub_epi16(_mm_unpacklo_epi8(Row<W>(a + y * stride), zero),
                             _mm_unpacklo_epi8(Row<W>(b + y * stride), zero));
    CoreButterfly(r[0], r[1], r[2], r[3]);
    // Transpose each 4x4 half, so the second pass runs along the rows.
    TransposeHalves(r, u);
    CoreButterfly(u[0], u[1], u[2], u[3]);
}

// The sum of the magnitudes of four registers of 16-bit magnitudes, as four 32-bit lanes.
inline __m128i SumMagnitudes(__m128i m0, __m128i m1, __m128i m2, __m128i m3) {
    const __m128i ones = _mm_set1_epi16(1);
    return _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(m0, ones), _mm_madd_epi16(m1, ones)),
                         _mm_add_epi32(_mm_madd_epi16(m2, ones), _mm_madd_epi16(m3, ones)));
}

template <int W>
uint32_t Satd8x4(const uint8_t* a, const uint8_t* b, int stride) {
    __m128i u[4];
    SatdTransform8x4<W>(a, b, stride, u);
    return Total32(SumMagnitudes(Abs16(u[0]), Abs16(u[1]), Abs16(u[2]), Abs16(u[3])));
}

inline uint32_t Satd4x4(const uint8_t* a, const uint8_t* b) {
    return Satd8x4<4>(a, b, 4);
}

template <int N>
uint32_t Satd(const uint8_t* a, const uint8_t* b) {
    uint32_t sum = 0;
    for (int y = 0; y < N; y += 4)
        for (int x = 0; x < N; x += 8)
            sum += Satd8x4<8>(a + y * N + x, b + y * N + x, N);
    return sum;
}

// ---- block fetches ----

template <int W>
void FetchCopy(uint8_t* d, const uint8_t* a, const uint8_t*, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride)
        StoreRow<W>(d, Row<W>(a));
}

template <int W>
void FetchAverage(uint8_t* d, const uint8_t* a, const uint8_t*, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride)
        StoreRow<W>(d, _mm_avg_epu8(Row<W>(a), Row<W>(d)));
}

template <int W>
void FetchPhase(uint8_t* d, const uint8_t* a, const uint8_t*, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride)
        StoreRow<W>(d, EvenRow<W>(a));
}

template <int W>
void FetchPhaseAverage(uint8_t* d, const uint8_t* a, const uint8_t*, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride)
        StoreRow<W>(d, _mm_avg_epu8(EvenRow<W>(a), Row<W>(d)));
}

template <int W>
void FetchTwoPhases(uint8_t* d, const uint8_t* a, const uint8_t* b, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride, b += sStride)
        StoreRow<W>(d, _mm_avg_epu8(EvenRow<W>(a), EvenRow<W>(b)));
}

template <int W>
void FetchTwoPhasesAverage(uint8_t* d, const uint8_t* a, const uint8_t* b, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride, b += sStride)
        StoreRow<W>(d, _mm_avg_epu8(_mm_avg_epu8(EvenRow<W>(a), EvenRow<W>(b)), Row<W>(d)));
}

template <int W>
constexpr BlockFetchFn kFetchRow[kBlockFetchMembers] = {&FetchCopy<W>,      &FetchAverage<W>,
                                                        &FetchPhase<W>,     &FetchPhaseAverage<W>,
                                                        &FetchTwoPhases<W>, &FetchTwoPhasesAverage<W>};

// The six-tap filter of eight 16-bit lanes: a - 5b + 20c + 20d - 5e + f (within 16 bits
// for 8-bit samples).
inline __m128i SixTap16(__m128i a, __m128i b, __m128i c, __m128i d, __m128i e, __m128i f) {
    const __m128i cd = _mm_add_epi16(c, d), be = _mm_add_epi16(b, e);
    const __m128i t = _mm_sub_epi16(_mm_slli_epi16(cd, 2), be);  // 4(c + d) - (b + e)
    return _mm_add_epi16(_mm_add_epi16(a, f), _mm_add_epi16(t, _mm_slli_epi16(t, 2)));
}

inline __m128i Widen8(const uint8_t* p) {
    return _mm_unpacklo_epi8(Load8(p), _mm_setzero_si128());
}

}  // namespace ombrisk::sse2

namespace ombrisk {

// The later x86 sets (kernels_ssse3.cpp, kernels_avx2.cpp): each replaces only the entries
// and row members it improves, over the set installed before it.
void InstallSsse3Kernels(CKernelTable* table);
void InstallAvx2Kernels(CKernelTable* table);

}  // namespace ombrisk
