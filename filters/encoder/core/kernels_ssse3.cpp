// The SSSE3 members of the x86 kernel set: the magnitudes of the SATD transforms with
// pabsw, every second sample of a half-sample row with one pshufb, and chroma motion
// compensation with pmaddubsw. Installed over
// the SSE2 set when the feature word has kCpuSsse3; each member returns exactly what its
// portable member returns.
#include <cstdint>

#include "filters/encoder/core/kernel_table.h"
#include "filters/encoder/core/kernels_portable.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <tmmintrin.h>

#include "filters/encoder/core/kernels_sse2.h"

// Everything from here on may use SSSE3; the helpers included above stay SSE2.
#pragma GCC target("ssse3")

namespace ombrisk {
namespace {

using sse2::Load16;
using sse2::Load4;
using sse2::Load8;
using sse2::Row;
using sse2::StoreRow;
using sse2::Total;
using sse2::Total32;

uint32_t Satd8x4(const uint8_t* a, const uint8_t* b, int stride, bool fourWide) {
    __m128i u[4];
    if (fourWide)
        sse2::SatdTransform8x4<4>(a, b, stride, u);
    else
        sse2::SatdTransform8x4<8>(a, b, stride, u);
    return Total32(
        sse2::SumMagnitudes(_mm_abs_epi16(u[0]), _mm_abs_epi16(u[1]), _mm_abs_epi16(u[2]), _mm_abs_epi16(u[3])));
}

uint32_t Satd4x4(const uint8_t* a, const uint8_t* b) {
    return Satd8x4(a, b, 4, true);
}

template <int N>
uint32_t Satd(const uint8_t* a, const uint8_t* b) {
    uint32_t sum = 0;
    for (int y = 0; y < N; y += 4)
        for (int x = 0; x < N; x += 8)
            sum += Satd8x4(a + y * N + x, b + y * N + x, N, false);
    return sum;
}

// The 8 even samples of 16 bytes of a half-sample row (the phase the row starts at).
inline __m128i EvenRow8(const uint8_t* p) {
    const __m128i even = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1);
    return _mm_shuffle_epi8(Load16(p), even);
}

uint32_t SadPhase8(const uint8_t* a, const uint8_t* s, const uint8_t*, int strideA, int strideS, int rows) {
    __m128i sum = _mm_setzero_si128();
    for (int y = 0; y < rows; ++y, a += strideA, s += strideS)
        sum = _mm_add_epi32(sum, _mm_sad_epu8(Load8(a), EvenRow8(s)));
    return Total(sum);
}

uint32_t SadPhaseAverage8(const uint8_t* a, const uint8_t* s1, const uint8_t* s2, int strideA, int strideS, int rows) {
    __m128i sum = _mm_setzero_si128();
    for (int y = 0; y < rows; ++y, a += strideA, s1 += strideS, s2 += strideS)
        sum = _mm_add_epi32(sum, _mm_sad_epu8(Load8(a), _mm_avg_epu8(EvenRow8(s1), EvenRow8(s2))));
    return Total(sum);
}

// Block fetch members 2-5 of width 8: `average` averages onto the destination, `two`
// averages the phases of a and b first.
template <bool Two, bool OntoDestination>
void FetchPhases8(uint8_t* d, const uint8_t* a, const uint8_t* b, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride, b += sStride) {
        __m128i v = EvenRow8(a);
        if constexpr (Two) v = _mm_avg_epu8(v, EvenRow8(b));
        if constexpr (OntoDestination) v = _mm_avg_epu8(v, Row<8>(d));
        StoreRow<8>(d, v);
    }
}

constexpr SadFn kSad8Row[kSadMembers] = {&sse2::SadContiguous<8>, &sse2::SadStrided<8>, &SadPhase8, &SadPhaseAverage8};
constexpr BlockFetchFn kFetch8Row[kBlockFetchMembers] = {&sse2::FetchCopy<8>,         &sse2::FetchAverage<8>,
                                                         &FetchPhases8<false, false>, &FetchPhases8<false, true>,
                                                         &FetchPhases8<true, false>,  &FetchPhases8<true, true>};

// Chroma motion compensation of one block (clause 8.4.2.2.2): each row's samples paired
// with their right neighbours, (a[x], a[x + 1]), so one pmaddubsw gives the two weights'
// sum of a row (weights at most 64, sums at most 64 x 255: no saturation). Each row load
// reads exactly the w + 1 samples the portable routine reads.
template <int W>
inline __m128i ChromaPairs(const uint8_t* p) {
    if constexpr (W == 8)
        return _mm_unpacklo_epi8(Load8(p), Load8(p + 1));
    else
        return _mm_unpacklo_epi8(Load4(p), Load4(p + 1));
}

template <int W>
void ChromaBlockRows(const uint8_t* a, int refStride, int dx, int dy, int h, uint8_t* dst, int dstStride) {
    const auto weights = [](int left, int right) { return _mm_set1_epi16(static_cast<int16_t>(left | right << 8)); };
    const __m128i top = weights((8 - dx) * (8 - dy), dx * (8 - dy)), bottom = weights((8 - dx) * dy, dx * dy);
    const __m128i round = _mm_set1_epi16(32), zero = _mm_setzero_si128();
    __m128i upper = _mm_maddubs_epi16(ChromaPairs<W>(a), top);
    for (int y = 0; y < h; ++y, dst += dstStride) {
        a += refStride;
        const __m128i row = ChromaPairs<W>(a);
        const __m128i sum = _mm_add_epi16(_mm_add_epi16(upper, _mm_maddubs_epi16(row, bottom)), round);
        const __m128i out = _mm_packus_epi16(_mm_srli_epi16(sum, 6), zero);
        if constexpr (W == 8)
            sse2::Store8(dst, out);
        else
            sse2::Store4(dst, out);
        upper = _mm_maddubs_epi16(row, top);
    }
}

void ChromaMotionBlockSsse3(const uint8_t* ref, int refStride, int mvx, int mvy, int w, int h, uint8_t* dst,
                            int dstStride) {
    const uint8_t* a = ref + (mvy >> 3) * refStride + (mvx >> 3);
    const int dx = mvx & 7, dy = mvy & 7;
    if (w == 8)
        ChromaBlockRows<8>(a, refStride, dx, dy, h, dst, dstStride);
    else if (w == 4)
        ChromaBlockRows<4>(a, refStride, dx, dy, h, dst, dstStride);
    else
        ChromaMotionBlock(ref, refStride, mvx, mvy, w, h, dst, dstStride);
}

void PredictChromaInterSsse3(int mbX, int mbY, const PartitionRecord* parts, const ReferenceLists* refs, uint8_t* out) {
    PredictChromaInterWith(&ChromaMotionBlockSsse3, mbX, mbY, parts, refs, out);
}

}  // namespace

void InstallSsse3Kernels(CKernelTable* t) {
    t->satd4x4 = &Satd4x4;
    t->satd8x8 = &Satd<8>;
    t->satd16x16 = &Satd<16>;
    t->sad8x8 = kSad8Row;
    t->sadContiguous8x8 = kSad8Row[0];
    t->blockFetch8 = kFetch8Row;
    t->chromaMotionBlock = &ChromaMotionBlockSsse3;
    t->predictChromaInter = &PredictChromaInterSsse3;
}

}  // namespace ombrisk

#endif
