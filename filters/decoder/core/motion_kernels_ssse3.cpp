// SSSE3 forms: weighted bi-prediction and 8-wide chroma interpolation, each multiplying
// byte pairs (two samples) by byte pairs (their weights) and summing in one instruction.
// Every form returns exactly the samples of its portable twin (motion_kernels.cpp).
#include "filters/decoder/core/motion_kernels.h"

#ifdef AVCDEC_HAVE_SSE2

#pragma GCC target("ssse3")
#include <tmmintrin.h>

#include <cstdlib>
#include <cstring>

namespace avcdec {

void weight_bi_ssse3(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height, int w0, int w1,
                     int o, int logWD) {
    // The byte-pair product sums saturate at 16 bits: exact only where every weighted sum
    // plus the rounding fits, and where both weights are signed bytes (an implicit 128
    // beside -64 is not).
    const int absSum = std::abs(w0) + std::abs(w1);
    if (width < 4 || w0 > 127 || w1 > 127 || 255 * absSum + (1 << logWD) > 32767) {
        weight_bi_sse2(p0, pitch0, p1, pitch1, width, height, w0, w1, o, logWD);
        return;
    }
    const __m128i weights =
        _mm_set1_epi16(static_cast<int16_t>((static_cast<uint32_t>(w1) << 8) | (static_cast<uint32_t>(w0) & 0xFF)));
    const __m128i round = _mm_set1_epi16(static_cast<int16_t>(1 << logWD));
    const __m128i shift = _mm_cvtsi32_si128(logWD + 1);
    const __m128i offset = _mm_set1_epi16(static_cast<int16_t>(o));
    // Eight interleaved (p0, p1) pairs to eight results in 16-bit lanes; the offset cannot
    // saturate (|sum| >> (logWD + 1) stays below 2^14).
    auto mix = [&](__m128i pairs) {
        const __m128i v = _mm_sra_epi16(_mm_add_epi16(_mm_maddubs_epi16(pairs, weights), round), shift);
        return _mm_adds_epi16(v, offset);
    };
    if (width == 16) {
        for (int y = 0; y < height; ++y, p0 += pitch0, p1 += pitch1) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p0));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p1));
            const __m128i v = _mm_packus_epi16(mix(_mm_unpacklo_epi8(a, b)), mix(_mm_unpackhi_epi8(a, b)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p0), v);
        }
        return;
    }
    if (width == 8) {
        for (int y = 0; y < height; ++y, p0 += pitch0, p1 += pitch1) {
            const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0));
            const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p1));
            const __m128i v = mix(_mm_unpacklo_epi8(a, b));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p0), _mm_packus_epi16(v, v));
        }
        return;
    }
    for (int y = 0; y < height; ++y, p0 += pitch0, p1 += pitch1) {  // width 4
        int32_t wa, wb;
        std::memcpy(&wa, p0, 4);
        std::memcpy(&wb, p1, 4);
        const __m128i v = mix(_mm_unpacklo_epi8(_mm_cvtsi32_si128(wa), _mm_cvtsi32_si128(wb)));
        const int32_t out = _mm_cvtsi128_si32(_mm_packus_epi16(v, v));
        std::memcpy(p0, &out, 4);
    }
}

namespace {

// Eight horizontally adjacent pairs (p[x], p[x + 1]) of one row, x = 0 .. 7: reads columns
// 0 .. 8, as the portable form does.
inline __m128i AdjacentPairs(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 1)));
}

// Both chroma planes of a block 8 wide (clause 8.4.2.2.2): row y of each plane is the pairs
// of row y times the weights (A, B) plus the pairs of row y + 1 times (C, D). The weights
// are at most 64 and their sum is 64, so each sum stays below 2^14 in its 16-bit lane.
void ChromaBlock8Ssse3(uint8_t* dstCb, uint8_t* dstCr, int dstPitch, const uint8_t* srcCb, const uint8_t* srcCr,
                       int srcPitch, int height, int dx, int dy) {
    const int a = (8 - dx) * (8 - dy), b = dx * (8 - dy), c = (8 - dx) * dy, d = dx * dy;
    const __m128i ab = _mm_set1_epi16(static_cast<int16_t>((b << 8) | a));
    const __m128i cd = _mm_set1_epi16(static_cast<int16_t>((d << 8) | c));
    const __m128i round = _mm_set1_epi16(32);
    __m128i cb0 = AdjacentPairs(srcCb), cr0 = AdjacentPairs(srcCr);
    for (int y = 0; y < height; ++y, dstCb += dstPitch, dstCr += dstPitch) {
        srcCb += srcPitch;
        srcCr += srcPitch;
        const __m128i cb1 = AdjacentPairs(srcCb), cr1 = AdjacentPairs(srcCr);
        const __m128i vCb = _mm_add_epi16(_mm_maddubs_epi16(cb0, ab), _mm_maddubs_epi16(cb1, cd));
        const __m128i vCr = _mm_add_epi16(_mm_maddubs_epi16(cr0, ab), _mm_maddubs_epi16(cr1, cd));
        const __m128i v = _mm_packus_epi16(_mm_srli_epi16(_mm_add_epi16(vCb, round), 6),
                                           _mm_srli_epi16(_mm_add_epi16(vCr, round), 6));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dstCb), v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dstCr), _mm_srli_si128(v, 8));
        cb0 = cb1;
        cr0 = cr1;
    }
}

}  // namespace

const ChromaBlockFn* ChromaBlocksSsse3() {
    // Widths 2 and 4 keep the SSE2 entries, which already serve both planes in one pass.
    static const ChromaBlockFn entries[3] = {ChromaBlocksSse2()[0], ChromaBlocksSse2()[1], ChromaBlock8Ssse3};
    return entries;
}

}  // namespace avcdec

#endif
