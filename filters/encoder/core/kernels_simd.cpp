// The SIMD kernel set: SSE2 (present on every x86-64 processor) here, then the SSSE3 and
// AVX2 members (kernels_ssse3.cpp, kernels_avx2.cpp) over it, each chosen by its bit of
// the feature word. Each member returns exactly what its portable member returns; entries
// without a member stay portable.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "common/cpu_features.h"
#include "filters/encoder/core/half_pel_rows.h"
#include "filters/encoder/core/kernel_table.h"
#include "filters/encoder/core/kernels_portable.h"
#include "filters/encoder/core/transform_pipelines.h"

#if defined(__SSE2__) || defined(_M_X64)
#include "common/dsp/transpose_sse2.h"
#include "filters/encoder/core/kernels_sse2.h"
#define OMBRISK_HAVE_SSE2 1
#endif

namespace ombrisk {

#if defined(OMBRISK_HAVE_SSE2)
namespace {

using namespace sse2;

// ---- SSD, variance ----

// Sum of squared differences of up to 16 samples in two registers.
inline __m128i SquaredDifferences(__m128i a, __m128i b) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_sub_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
    const __m128i hi = _mm_sub_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    return _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi));
}

template <int N, int StrideA, int StrideB>
uint32_t Ssd(const uint8_t* a, const uint8_t* b) {
    __m128i sum = _mm_setzero_si128();
    for (int y = 0; y < N; ++y)
        sum = _mm_add_epi32(sum, SquaredDifferences(Row<N>(a + y * StrideA), Row<N>(b + y * StrideB)));
    return Total32(sum);
}

uint32_t Variance16x16(const uint8_t* block) {
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = zero, squares = zero;
    for (int i = 0; i < 256; i += 16) {
        const __m128i v = Load16(block + i);
        sum = _mm_add_epi32(sum, _mm_sad_epu8(v, zero));
        const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
        squares = _mm_add_epi32(squares, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
    }
    const uint32_t s = Total(sum);
    const uint64_t sq = Total32(squares);
    return static_cast<uint32_t>((sq - uint64_t{s} * s / 256) / 256);
}

uint32_t Mse16x16(const uint8_t* a, const uint8_t* b) {
    return Ssd<16, 16, 16>(a, b) / 256;
}

constexpr VarianceRow kVarianceRow = {&Variance16x16, &Mse16x16};

void LoadMacroblockPixels(uint8_t* luma, uint8_t* cb, uint8_t* cr, uint8_t* lumaBuf, uint8_t* cbBuf, uint8_t* crBuf,
                          int lumaStride, int chromaStride) {
    FetchCopy<16>(lumaBuf, luma, nullptr, 16, lumaStride, 16);
    FetchCopy<8>(cbBuf, cb, nullptr, 8, chromaStride, 8);
    FetchCopy<8>(crBuf, cr, nullptr, 8, chromaStride, 8);
}

void StoreMacroblockPixels(uint8_t* luma, uint8_t* cb, uint8_t* cr, uint8_t* lumaBuf, uint8_t* cbBuf, uint8_t* crBuf,
                           int lumaStride, int chromaStride) {
    FetchCopy<16>(luma, lumaBuf, nullptr, lumaStride, 16, 16);
    FetchCopy<8>(cb, cbBuf, nullptr, chromaStride, 8, 8);
    FetchCopy<8>(cr, crBuf, nullptr, chromaStride, 8, 8);
}

// ---- half-sample interpolation ----

// Eight samples at a time of the half-sample rows (the same arithmetic as the scalar
// loops; 32-bit sums only for the centre tap over the horizontal sums).
struct HalfPelSse2 {
    static int Sums(const uint8_t* s, int16_t* h, int x, int end) {
        // Eight sums read s[x - 2] .. s[x + 10].
        for (; x + 8 <= end; x += 8) {
            const __m128i v = SixTap16(Widen8(s + x - 2), Widen8(s + x - 1), Widen8(s + x), Widen8(s + x + 1),
                                       Widen8(s + x + 2), Widen8(s + x + 3));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(h + x), _mm_add_epi16(v, _mm_set1_epi16(16)));
        }
        return x;
    }
    static __m128i Centre(const int16_t* const* h, int x) {
        const auto at = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(h[k] + x)); };
        const __m128i outer = _mm_set_epi16(-5, 1, -5, 1, -5, 1, -5, 1);  // (h0, h1) . (1, -5)
        const __m128i inner = _mm_set1_epi16(20);                         // (h2, h3) . (20, 20)
        const __m128i last = _mm_set_epi16(1, -5, 1, -5, 1, -5, 1, -5);   // (h4, h5) . (-5, 1)
        const __m128i h0 = at(0), h1 = at(1), h2 = at(2), h3 = at(3), h4 = at(4), h5 = at(5);
        const __m128i lo = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(h0, h1), outer),
                                                       _mm_madd_epi16(_mm_unpacklo_epi16(h2, h3), inner)),
                                         _mm_madd_epi16(_mm_unpacklo_epi16(h4, h5), last));
        const __m128i hi = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(h0, h1), outer),
                                                       _mm_madd_epi16(_mm_unpackhi_epi16(h2, h3), inner)),
                                         _mm_madd_epi16(_mm_unpackhi_epi16(h4, h5), last));
        return _mm_packs_epi32(_mm_srai_epi32(lo, 10), _mm_srai_epi32(hi, 10));
    }
    static int Outputs(const uint8_t* const* r, const int16_t* const* h, uint8_t* fh, uint8_t* vc, int stride) {
        const __m128i zero = _mm_setzero_si128();
        int x = 0;
        for (; x + 8 <= stride; x += 8) {
            const __m128i sums = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h[2] + x));
            const __m128i half = _mm_packus_epi16(_mm_srai_epi16(sums, 5), zero);
            Store16(fh + 2 * x, _mm_unpacklo_epi8(Load8(r[2] + x), half));
            const __m128i v = SixTap16(Widen8(r[0] + x), Widen8(r[1] + x), Widen8(r[2] + x), Widen8(r[3] + x),
                                       Widen8(r[4] + x), Widen8(r[5] + x));
            const __m128i vert = _mm_packus_epi16(_mm_srai_epi16(_mm_add_epi16(v, _mm_set1_epi16(16)), 5), zero);
            Store16(vc + 2 * x, _mm_unpacklo_epi8(vert, _mm_packus_epi16(Centre(h, x), zero)));
        }
        return x;
    }
};

void InterpolateHalfPel(const uint8_t* plane, uint8_t* out, int16_t* scratch, int stride, int rows, int first,
                        int end) {
    half_pel::BuildRows<HalfPelSse2>(plane, out, scratch, stride, rows, first, end);
}

// The block steps of the transform pipelines: the forward transform and quantisation in
// 16-bit lanes, the inverse on four 32-bit lanes (a 4x4 block is four registers, one per
// row, and a one-dimensional transform across the registers works on four columns at
// once). The forward transform has no rounding, so it takes the columns first; the
// inverse keeps the standard's order (rows, then columns).
struct TransformSse2 {
    static void InversePass(__m128i& v0, __m128i& v1, __m128i& v2, __m128i& v3) {
        const __m128i e0 = _mm_add_epi32(v0, v2), e1 = _mm_sub_epi32(v0, v2);
        const __m128i e2 = _mm_sub_epi32(_mm_srai_epi32(v1, 1), v3), e3 = _mm_add_epi32(v1, _mm_srai_epi32(v3, 1));
        v0 = _mm_add_epi32(e0, e3);
        v1 = _mm_add_epi32(e1, e2);
        v2 = _mm_sub_epi32(e1, e2);
        v3 = _mm_sub_epi32(e0, e3);
    }
    static __m128i Load(const int* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void Save(int* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

    // The forward transform in 16-bit lanes (the SATD transform's arithmetic, within
    // +-9180), the columns first: there is no rounding, so the order does not matter.
    static void Forward(const uint8_t* src, int srcStride, const uint8_t* pred, int predStride, int16_t out[16]) {
        const __m128i zero = _mm_setzero_si128();
        __m128i r[4], u[4], w[4];
        for (int y = 0; y < 4; ++y)
            r[y] = _mm_sub_epi16(_mm_unpacklo_epi8(Load4(src + y * srcStride), zero),
                                 _mm_unpacklo_epi8(Load4(pred + y * predStride), zero));
        CoreButterfly(r[0], r[1], r[2], r[3]);
        TransposeHalves(r, u);
        CoreButterfly(u[0], u[1], u[2], u[3]);
        TransposeHalves(u, w);  // back to raster rows, in the low four lanes
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi64(w[0], w[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpacklo_epi64(w[2], w[3]));
    }

    // The forward transform of two horizontally adjacent blocks at once, transposed back to
    // raster rows (the left block in the low four lanes).
    static void ForwardPair(const uint8_t* src, const uint8_t* pred, int stride, int16_t left[16], int16_t right[16]) {
        __m128i u[4], w[4];
        SatdTransform8x4<8>(src, pred, stride, u);
        TransposeHalves(u, w);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(left), _mm_unpacklo_epi64(w[0], w[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(left + 8), _mm_unpacklo_epi64(w[2], w[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(right), _mm_unpackhi_epi64(w[0], w[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(right + 8), _mm_unpackhi_epi64(w[2], w[3]));
    }

    static uint32_t Quantise(const int16_t c[16], const int16_t* mf, const int16_t* limit, uint32_t offset, int qbits,
                             int16_t levels[16]) {
        const __m128i off = _mm_set1_epi32(static_cast<int32_t>(offset));
        const __m128i shift = _mm_cvtsi32_si128(qbits);
        __m128i out[2];
        for (int h = 0; h < 2; ++h) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8 * h));
            // |c| < 2^15: the magnitude fits 16 bits.
            const __m128i sign = _mm_srai_epi16(v, 15);
            const __m128i a = _mm_sub_epi16(_mm_xor_si128(v, sign), sign);
            const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mf + 8 * h));
            const __m128i lo = _mm_mullo_epi16(a, m), hi = _mm_mulhi_epu16(a, m);
            const __m128i p0 = _mm_srl_epi32(_mm_add_epi32(_mm_unpacklo_epi16(lo, hi), off), shift);
            const __m128i p1 = _mm_srl_epi32(_mm_add_epi32(_mm_unpackhi_epi16(lo, hi), off), shift);
            // Below 2^31 before the shift; packing saturates what exceeds 16 bits, far above
            // every limit.
            const __m128i level = _mm_min_epi16(_mm_packs_epi32(p0, p1),
                                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(limit + 8 * h)));
            out[h] = _mm_sub_epi16(_mm_xor_si128(level, sign), sign);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(levels + 8 * h), out[h]);
        }
        const __m128i zero = _mm_setzero_si128();
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(out[0], zero), _mm_cmpeq_epi16(out[1], zero));
        return ~static_cast<uint32_t>(_mm_movemask_epi8(zeros)) & 0xFFFFu;
    }

    static void Dequantise(const int16_t levels[16], const QuantRecord& q, int d[16]) {
        const __m128i shift = _mm_cvtsi32_si128(q.qpDiv6);
        const int16_t* v = kDequantScale[q.qpMod6];
        for (int h = 0; h < 2; ++h) {
            const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels + 8 * h));
            const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + 8 * h));
            const __m128i lo = _mm_mullo_epi16(l, s), hi = _mm_mulhi_epi16(l, s);
            Save(d + 8 * h, _mm_sll_epi32(_mm_unpacklo_epi16(lo, hi), shift));
            Save(d + 8 * h + 4, _mm_sll_epi32(_mm_unpackhi_epi16(lo, hi), shift));
        }
    }

    // v added to every sample of the prediction with unsigned saturation (the clip to
    // 0..255); |v| beyond 255 saturates the same way.
    static void AddDc(int v, const uint8_t* pred, int predStride, uint8_t* recon, int reconStride) {
        const __m128i p =
            _mm_unpacklo_epi64(_mm_unpacklo_epi32(Load4(pred), Load4(pred + predStride)),
                               _mm_unpacklo_epi32(Load4(pred + 2 * predStride), Load4(pred + 3 * predStride)));
        const __m128i m = _mm_set1_epi8(static_cast<char>(std::min(std::abs(v), 255)));
        __m128i r = v >= 0 ? _mm_adds_epu8(p, m) : _mm_subs_epu8(p, m);
        for (int y = 0; y < 4; ++y, r = _mm_srli_si128(r, 4))
            Store4(recon + y * reconStride, r);
    }

    static void InverseAndAdd(const int d[16], const uint8_t* pred, int predStride, uint8_t* recon, int reconStride) {
        __m128i r0 = Load(d), r1 = Load(d + 4), r2 = Load(d + 8), r3 = Load(d + 12);
        common::Transpose4x4Epi32(r0, r1, r2, r3);
        InversePass(r0, r1, r2, r3);  // register j holds column j of the rows' transforms
        common::Transpose4x4Epi32(r0, r1, r2, r3);
        InversePass(r0, r1, r2, r3);  // register y holds output row y
        const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi32(32);
        const __m128i rows[4] = {r0, r1, r2, r3};
        for (int y = 0; y < 4; ++y) {
            // Saturating to 16 bits keeps every sum that clips on the side it clips to.
            const __m128i r = _mm_srai_epi32(_mm_add_epi32(rows[y], round), 6);
            const __m128i p = _mm_unpacklo_epi8(Load4(pred + y * predStride), zero);
            Store4(recon + y * reconStride, _mm_packus_epi16(_mm_adds_epi16(_mm_packs_epi32(r, r), p), zero));
        }
    }
};

// Chroma motion compensation of one block (clause 8.4.2.2.2): the four weights times the
// four neighbours in 16-bit lanes (at most 64 x 255 + 32, below 2^15). Each row load reads
// exactly the w + 1 samples the portable routine reads.
template <int W>
inline __m128i ChromaRow(const uint8_t* p) {
    if constexpr (W == 8) return Load8(p);
    if constexpr (W == 4) return Load4(p);
    uint16_t v;
    std::memcpy(&v, p, 2);
    return _mm_cvtsi32_si128(v);
}

template <int W>
void ChromaBlockRows(const uint8_t* a, int refStride, int dx, int dy, int h, uint8_t* dst, int dstStride) {
    const __m128i wa = _mm_set1_epi16(int16_t((8 - dx) * (8 - dy))), wb = _mm_set1_epi16(int16_t(dx * (8 - dy)));
    const __m128i wc = _mm_set1_epi16(int16_t((8 - dx) * dy)), wd = _mm_set1_epi16(int16_t(dx * dy));
    const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi16(32);
    const auto row = [&](const uint8_t* p) { return _mm_unpacklo_epi8(ChromaRow<W>(p), zero); };
    __m128i top = row(a), topRight = row(a + 1);
    for (int y = 0; y < h; ++y, dst += dstStride) {
        a += refStride;
        const __m128i bottom = row(a), bottomRight = row(a + 1);
        const __m128i sum = _mm_add_epi16(
            _mm_add_epi16(_mm_mullo_epi16(top, wa), _mm_mullo_epi16(topRight, wb)),
            _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(bottom, wc), _mm_mullo_epi16(bottomRight, wd)), round));
        const __m128i out = _mm_packus_epi16(_mm_srli_epi16(sum, 6), zero);
        if constexpr (W == 8) {
            Store8(dst, out);
        } else if constexpr (W == 4) {
            Store4(dst, out);
        } else {
            const uint16_t v = static_cast<uint16_t>(_mm_cvtsi128_si32(out));
            std::memcpy(dst, &v, 2);
        }
        top = bottom;
        topRight = bottomRight;
    }
}

void ChromaMotionBlockSse2(const uint8_t* ref, int refStride, int mvx, int mvy, int w, int h, uint8_t* dst,
                           int dstStride) {
    const uint8_t* a = ref + (mvy >> 3) * refStride + (mvx >> 3);
    const int dx = mvx & 7, dy = mvy & 7;
    switch (w) {
        case 8:
            ChromaBlockRows<8>(a, refStride, dx, dy, h, dst, dstStride);
            return;
        case 4:
            ChromaBlockRows<4>(a, refStride, dx, dy, h, dst, dstStride);
            return;
        case 2:
            ChromaBlockRows<2>(a, refStride, dx, dy, h, dst, dstStride);
            return;
        default:
            ChromaMotionBlock(ref, refStride, mvx, mvy, w, h, dst, dstStride);
    }
}

void PredictChromaInter(int mbX, int mbY, const PartitionRecord* parts, const ReferenceLists* refs, uint8_t* out) {
    PredictChromaInterWith(&ChromaMotionBlockSse2, mbX, mbY, parts, refs, out);
}

// ---- Intra prediction: the plane modes (the others are single copies and fills) ----

template <int N, int Scale, int Shift>
void PredPlaneSse2(uint8_t* d, const uint8_t* top, const uint8_t* left, int, int) {
    constexpr int half = N / 2;
    const PlaneCoefficients p = PlaneOf(N, Scale, Shift, top, left);
    const __m128i b = _mm_set1_epi16(static_cast<int16_t>(p.b)), c = _mm_set1_epi16(static_cast<int16_t>(p.c));
    // Row 0 at columns 0-7 and 8-15: a + 16 + b (x - (half - 1)) - c (half - 1).
    const __m128i start = _mm_set1_epi16(static_cast<int16_t>(p.a + 16 - p.c * (half - 1)));
    const __m128i x0 = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    const __m128i offset = _mm_set1_epi16(half - 1);
    __m128i lo = _mm_add_epi16(start, _mm_mullo_epi16(b, _mm_sub_epi16(x0, offset)));
    __m128i hi = _mm_add_epi16(start, _mm_mullo_epi16(b, _mm_sub_epi16(_mm_add_epi16(x0, _mm_set1_epi16(8)), offset)));
    for (int y = 0; y < N; ++y, d += N) {
        const __m128i row = _mm_packus_epi16(_mm_srai_epi16(lo, 5), _mm_srai_epi16(hi, 5));
        if constexpr (N == 16)
            Store16(d, row);
        else
            Store8(d, row);
        lo = _mm_add_epi16(lo, c);
        hi = _mm_add_epi16(hi, c);
    }
}

void InstallSse2(CKernelTable* t) {
    // The rows of the set before: the portable predictors with the plane modes replaced.
    static const auto pred16x16 = [t] {
        std::array<PredIntraFn, kPredIntra16x16Modes> r{};
        std::copy(t->predIntra16x16, t->predIntra16x16 + kPredIntra16x16Modes, r.begin());
        r[3] = &PredPlaneSse2<16, 5, 6>;
        return r;
    }();
    static const auto predChroma = [t] {
        std::array<PredIntraFn, kPredChromaModes> r{};
        std::copy(t->predChroma8x8, t->predChroma8x8 + kPredChromaModes, r.begin());
        r[3] = &PredPlaneSse2<8, 17, 5>;
        return r;
    }();
    t->predIntra16x16 = pred16x16.data();
    t->predChroma8x8 = predChroma.data();
    t->sad4x4 = kSadRow<4>;
    t->sad8x8 = kSadRow<8>;
    t->sad16x16 = kSadRow<16>;
    t->sadContiguous4x4 = kSadRow<4>[0];
    t->sadContiguous8x8 = kSadRow<8>[0];
    t->sadContiguous16x16 = kSadRow<16>[0];
    t->ssd4x4 = &Ssd<4, 4, 16>;
    t->ssd8x8 = &Ssd<8, 8, 8>;
    t->ssd16x16 = &Ssd<16, 16, 16>;
    t->satd4x4 = &Satd4x4;
    t->satd8x8 = &Satd<8>;
    t->satd16x16 = &Satd<16>;
    t->variance = &kVarianceRow;
    t->blockFetch4 = kFetchRow<4>;
    t->blockFetch8 = kFetchRow<8>;
    t->blockFetch16 = kFetchRow<16>;
    t->loadMacroblockPixels = &LoadMacroblockPixels;
    t->storeMacroblockPixels = &StoreMacroblockPixels;
    t->interpolateHalfPel = &InterpolateHalfPel;
    t->transformLuma4x4 = &transform::Luma4x4<TransformSse2>;
    t->transformIntra16x16 = &transform::Intra16x16<TransformSse2>;
    t->transformInter16x16 = &transform::Inter16x16<TransformSse2>;
    t->transformChroma = &transform::Chroma<TransformSse2>;
    t->predictChromaInter = &PredictChromaInter;
    t->chromaMotionBlock = &ChromaMotionBlockSse2;
}

}  // namespace
#endif

void InstallSimdKernels(CKernelTable* table) {
#if defined(OMBRISK_HAVE_SSE2)
    if (table->featureWord & common::kCpuSse2) InstallSse2(table);
    if (table->featureWord & common::kCpuSsse3) InstallSsse3Kernels(table);
    if (table->featureWord & common::kCpuAvx2) InstallAvx2Kernels(table);
#endif
    common::FillDeblockKernels(&table->deblock, table->featureWord);
}

}  // namespace ombrisk
