// SSE2 forms of the motion-compensation kernels: eight columns per step in 16-bit lanes.
// Every form returns exactly the samples of its portable twin (motion_kernels.cpp).
#include "filters/decoder/core/motion_kernels.h"

#ifdef AVCDEC_HAVE_SSE2

#include <emmintrin.h>

#include <array>
#include <cstring>
#include <utility>

namespace avcdec {

namespace {

inline __m128i Load8(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}

// a - 5 (b + e) + 20 (c + d) + f in 16-bit lanes; exact for 8-bit inputs (-2550 .. 10710).
inline __m128i Tap6(__m128i a, __m128i b, __m128i c, __m128i d, __m128i e, __m128i f) {
    const __m128i cd = _mm_add_epi16(c, d), be = _mm_add_epi16(b, e), af = _mm_add_epi16(a, f);
    return _mm_add_epi16(
        af, _mm_sub_epi16(_mm_mullo_epi16(cd, _mm_set1_epi16(20)), _mm_mullo_epi16(be, _mm_set1_epi16(5))));
}

inline __m128i HTap(const uint8_t* p) {
    return Tap6(Load8(p - 2), Load8(p - 1), Load8(p), Load8(p + 1), Load8(p + 2), Load8(p + 3));
}

inline __m128i VTap(const uint8_t* p, int s) {
    return Tap6(Load8(p - 2 * s), Load8(p - s), Load8(p), Load8(p + s), Load8(p + 2 * s), Load8(p + 3 * s));
}

// (x + 16) >> 5 clipped to 0..255, in the low 8 bytes.
inline __m128i Half(__m128i x) {
    const __m128i v = _mm_srai_epi16(_mm_add_epi16(x, _mm_set1_epi16(16)), 5);
    return _mm_packus_epi16(v, v);
}

// Clip1((j1 + 512) >> 10) of six rows of unrounded horizontal sums; j1 needs 32 bits.
inline __m128i Centre(__m128i t0, __m128i t1, __m128i t2, __m128i t3, __m128i t4, __m128i t5) {
    const __m128i a = _mm_add_epi16(t0, t5), b = _mm_add_epi16(t1, t4), c = _mm_add_epi16(t2, t3);
    const __m128i kAc = _mm_setr_epi16(1, 20, 1, 20, 1, 20, 1, 20);
    const __m128i kB = _mm_setr_epi16(-5, 0, -5, 0, -5, 0, -5, 0);
    const __m128i r = _mm_set1_epi32(512);
    __m128i lo =
        _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, c), kAc), _mm_madd_epi16(_mm_unpacklo_epi16(b, b), kB));
    __m128i hi =
        _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, c), kAc), _mm_madd_epi16(_mm_unpackhi_epi16(b, b), kB));
    lo = _mm_srai_epi32(_mm_add_epi32(lo, r), 10);
    hi = _mm_srai_epi32(_mm_add_epi32(hi, r), 10);
    const __m128i v = _mm_packs_epi32(lo, hi);
    return _mm_packus_epi16(v, v);
}

inline __m128i LoadBytes8(const uint8_t* p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

template <int kColumns>
inline void Store(uint8_t* dst, __m128i v) {
    if constexpr (kColumns == 8) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), v);
    } else {
        const int32_t word = _mm_cvtsi128_si32(v);
        std::memcpy(dst, &word, 4);
    }
}

// One fractional position over kColumns (4 or 8) columns and `height` rows.
template <int kFx, int kFy, int kColumns>
void LumaColumns(uint8_t* dst, int dstPitch, const uint8_t* src, int p, int height) {
    if constexpr ((kFx == 2 && kFy != 0) || (kFy == 2 && kFx != 0)) {
        // Centre positions: unrounded horizontal sums of rows -2 .. height + 2.
        __m128i t[21];
        for (int y = 0; y < height + 5; ++y)
            t[y] = HTap(src + (y - 2) * p);
        for (int y = 0; y < height; ++y, dst += dstPitch, src += p) {
            const __m128i j = Centre(t[y], t[y + 1], t[y + 2], t[y + 3], t[y + 4], t[y + 5]);
            __m128i v;
            if constexpr (kFx == 2 && kFy == 2) {
                v = j;
            } else if constexpr (kFx == 2) {
                v = _mm_avg_epu8(j, Half(t[y + 2 + (kFy >> 1)]));  // b or s
            } else {
                v = _mm_avg_epu8(j, Half(VTap(src + (kFx >> 1), p)));  // h or m
            }
            Store<kColumns>(dst, v);
        }
    } else if constexpr (kFy == 0) {
        for (int y = 0; y < height; ++y, dst += dstPitch, src += p) {
            __m128i v = Half(HTap(src));
            if constexpr (kFx != 2) v = _mm_avg_epu8(v, LoadBytes8(src + (kFx >> 1)));
            Store<kColumns>(dst, v);
        }
    } else {
        // A vertical half sample (h, or m for kFx = 3) in every row: six widened rows of its
        // column slide down one row per output row, so each source row is loaded once.
        const uint8_t* col = src + (kFx >> 1);
        __m128i r0 = Load8(col - 2 * p), r1 = Load8(col - p), r2 = Load8(col), r3 = Load8(col + p);
        __m128i r4 = Load8(col + 2 * p);
        for (int y = 0; y < height; ++y, dst += dstPitch, src += p) {
            const __m128i r5 = Load8(col + (y + 3) * p);
            __m128i v = Half(Tap6(r0, r1, r2, r3, r4, r5));
            if constexpr (kFx == 0) {
                if constexpr (kFy != 2) v = _mm_avg_epu8(v, LoadBytes8(src + (kFy >> 1) * p));
            } else {
                v = _mm_avg_epu8(Half(HTap(src + (kFy >> 1) * p)), v);  // b or s with h or m
            }
            Store<kColumns>(dst, v);
            r0 = r1;
            r1 = r2;
            r2 = r3;
            r3 = r4;
            r4 = r5;
        }
    }
}

// Whole-sample copies, four rows a step (heights are multiples of four): the four loads
// go out before the stores.
template <int kWidth>
void LumaCopy(uint8_t* dst, int dstPitch, const uint8_t* src, int p, int height) {
    for (int y = 0; y < height; y += 4, dst += 4 * dstPitch, src += 4 * p) {
        if constexpr (kWidth == 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + p));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * p));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * p));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), a);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + dstPitch), b);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * dstPitch), c);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * dstPitch), d);
        } else {
            const __m128i a = LoadBytes8(src), b = LoadBytes8(src + p);
            const __m128i c = LoadBytes8(src + 2 * p), d = LoadBytes8(src + 3 * p);
            Store<kWidth>(dst, a);
            Store<kWidth>(dst + dstPitch, b);
            Store<kWidth>(dst + 2 * dstPitch, c);
            Store<kWidth>(dst + 3 * dstPitch, d);
        }
    }
}

template <int kFx, int kFy, int kWidth>
void LumaBlockSse2(uint8_t* dst, int dstPitch, const uint8_t* src, int p, int height) {
    if constexpr (kFx == 0 && kFy == 0) {
        LumaCopy<kWidth>(dst, dstPitch, src, p, height);
    } else if constexpr (kWidth == 16) {
        LumaColumns<kFx, kFy, 8>(dst, dstPitch, src, p, height);
        LumaColumns<kFx, kFy, 8>(dst + 8, dstPitch, src + 8, p, height);
    } else {
        LumaColumns<kFx, kFy, kWidth>(dst, dstPitch, src, p, height);
    }
}

template <size_t... I>
constexpr std::array<LumaBlockFn, sizeof...(I)> LumaEntries(std::index_sequence<I...>) {
    // Entry i: width 4 << (i % 3), fraction (i / 3) % 4, (i / 3) / 4 (LumaBlockIndex).
    return {LumaBlockSse2<(I / 3) % 4, (I / 3) / 4, 4 << (I % 3)>...};
}

constexpr std::array<LumaBlockFn, 48> kLumaEntries = LumaEntries(std::make_index_sequence<48>());

}  // namespace

const LumaBlockFn* LumaBlocksSse2() {
    return kLumaEntries.data();
}

void luma_mc_sse2(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width, int height, int fx, int fy) {
    kLumaEntries[LumaBlockIndex(fx, fy, width)](dst, dstPitch, src, srcPitch, height);
}

namespace {

// Four bytes at p in the low lane.
inline __m128i Load4(const uint8_t* p) {
    int32_t word;
    std::memcpy(&word, p, 4);
    return _mm_cvtsi32_si128(word);
}

inline void Store4(uint8_t* dst, __m128i v) {
    const int32_t word = _mm_cvtsi128_si32(v);
    std::memcpy(dst, &word, 4);
}

inline void Store2(uint8_t* dst, __m128i v) {
    const int16_t half = static_cast<int16_t>(_mm_cvtsi128_si32(v));
    std::memcpy(dst, &half, 2);
}

// Bilinear weights of one fraction; Mix answers the eight interpolated samples of one row
// pair (r0, r0 shifted by one column; r1, r1 shifted) packed in the low eight bytes.
struct ChromaWeights {
    __m128i a, b, c, d;
    ChromaWeights(int dx, int dy)
        : a(_mm_set1_epi16(static_cast<int16_t>((8 - dx) * (8 - dy)))),
          b(_mm_set1_epi16(static_cast<int16_t>(dx * (8 - dy)))),
          c(_mm_set1_epi16(static_cast<int16_t>((8 - dx) * dy))),
          d(_mm_set1_epi16(static_cast<int16_t>(dx * dy))) {}
    __m128i Mix(__m128i r0, __m128i r0n, __m128i r1, __m128i r1n) const {
        __m128i s = _mm_add_epi16(_mm_mullo_epi16(r0, a), _mm_mullo_epi16(r0n, b));
        s = _mm_add_epi16(s, _mm_add_epi16(_mm_mullo_epi16(r1, c), _mm_mullo_epi16(r1n, d)));
        s = _mm_srli_epi16(_mm_add_epi16(s, _mm_set1_epi16(32)), 6);
        return _mm_packus_epi16(s, s);
    }
};

// Eight columns of one plane; each source row is loaded once.
void Chroma8(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int height, const ChromaWeights& w) {
    __m128i r0 = Load8(src), r0n = Load8(src + 1);
    for (int y = 0; y < height; ++y, dst += dstPitch) {
        src += srcPitch;
        const __m128i r1 = Load8(src), r1n = Load8(src + 1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), w.Mix(r0, r0n, r1, r1n));
        r0 = r1;
        r0n = r1n;
    }
}

// Blocks 4 or 2 wide: Cb in lanes 0..3 and Cr in lanes 4..7, so one pass serves both.
template <int kWidth>
void ChromaNarrow(uint8_t* dstCb, uint8_t* dstCr, int dstPitch, const uint8_t* srcCb, const uint8_t* srcCr,
                  int srcPitch, int height, const ChromaWeights& w) {
    const __m128i zero = _mm_setzero_si128();
    auto row = [&](const uint8_t* cb, const uint8_t* cr) {
        return _mm_unpacklo_epi8(_mm_unpacklo_epi32(Load4(cb), Load4(cr)), zero);
    };
    __m128i r0 = row(srcCb, srcCr), r0n = row(srcCb + 1, srcCr + 1);
    for (int y = 0; y < height; ++y, dstCb += dstPitch, dstCr += dstPitch) {
        srcCb += srcPitch;
        srcCr += srcPitch;
        const __m128i r1 = row(srcCb, srcCr), r1n = row(srcCb + 1, srcCr + 1);
        const __m128i v = w.Mix(r0, r0n, r1, r1n);
        if constexpr (kWidth == 4) {
            Store4(dstCb, v);
            Store4(dstCr, _mm_srli_si128(v, 4));
        } else {
            Store2(dstCb, v);
            Store2(dstCr, _mm_srli_si128(v, 4));
        }
        r0 = r1;
        r0n = r1n;
    }
}

}  // namespace

namespace {

template <int kWidth>
void ChromaBlockSse2(uint8_t* dstCb, uint8_t* dstCr, int dstPitch, const uint8_t* srcCb, const uint8_t* srcCr,
                     int srcPitch, int height, int dx, int dy) {
    if ((dx | dy) == 0) {  // weight 64 on one sample: (64 A + 32) >> 6 = A
        // Two rows a step (heights are 2, 4 or 8).
        for (int y = 0; y < height; y += 2) {
            uint8_t rows[4][kWidth];
            std::memcpy(rows[0], srcCb, kWidth);
            std::memcpy(rows[1], srcCb + srcPitch, kWidth);
            std::memcpy(rows[2], srcCr, kWidth);
            std::memcpy(rows[3], srcCr + srcPitch, kWidth);
            std::memcpy(dstCb, rows[0], kWidth);
            std::memcpy(dstCb + dstPitch, rows[1], kWidth);
            std::memcpy(dstCr, rows[2], kWidth);
            std::memcpy(dstCr + dstPitch, rows[3], kWidth);
            srcCb += 2 * srcPitch;
            srcCr += 2 * srcPitch;
            dstCb += 2 * dstPitch;
            dstCr += 2 * dstPitch;
        }
        return;
    }
    const ChromaWeights w(dx, dy);
    if constexpr (kWidth == 8) {
        Chroma8(dstCb, dstPitch, srcCb, srcPitch, height, w);
        Chroma8(dstCr, dstPitch, srcCr, srcPitch, height, w);
    } else {
        ChromaNarrow<kWidth>(dstCb, dstCr, dstPitch, srcCb, srcCr, srcPitch, height, w);
    }
}

constexpr ChromaBlockFn kChromaEntries[3] = {ChromaBlockSse2<2>, ChromaBlockSse2<4>, ChromaBlockSse2<8>};

}  // namespace

const ChromaBlockFn* ChromaBlocksSse2() {
    return kChromaEntries;
}

void chroma_mc_sse2(uint8_t* dstCb, uint8_t* dstCr, int dstPitch, const uint8_t* srcCb, const uint8_t* srcCr,
                    int srcPitch, int width, int height, int dx, int dy) {
    kChromaEntries[ChromaBlockIndex(width)](dstCb, dstCr, dstPitch, srcCb, srcCr, srcPitch, height, dx, dy);
}

namespace {

// Rows of width 4, 8 or 16 of p0 and p1 as 16-bit lanes through combine(a, b), which
// answers the bytes to store into p0 in its low half.
template <class Combine>
void CombineRows(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height, Combine combine) {
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < height; ++y, p0 += pitch0, p1 += pitch1) {
        for (int x = 0; x < width; x += 8) {
            __m128i a, b;
            if (width == 4) {
                int32_t wa, wb;
                std::memcpy(&wa, p0 + x, 4);
                std::memcpy(&wb, p1 + x, 4);
                a = _mm_unpacklo_epi8(_mm_cvtsi32_si128(wa), zero);
                b = _mm_unpacklo_epi8(_mm_cvtsi32_si128(wb), zero);
            } else {
                a = Load8(p0 + x);
                b = Load8(p1 + x);
            }
            const __m128i v = combine(a, b);
            if (width == 4) {
                const int32_t out = _mm_cvtsi128_si32(v);
                std::memcpy(p0 + x, &out, 4);
            } else {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(p0 + x), v);
            }
        }
    }
}

}  // namespace

// p * w lies in -32640 .. 32385 and the rounded sum shifted plus o in -32768 .. 32576, so
// 16-bit lanes hold every intermediate of the portable form exactly.
void weight_sse2(uint8_t* p, int pitch, int width, int height, int w, int o, int logWD) {
    if (width < 4) {
        WeightSamples(p, pitch, width, height, w, o, logWD);
        return;
    }
    const __m128i weight = _mm_set1_epi16(static_cast<int16_t>(w));
    const __m128i round = _mm_set1_epi16(static_cast<int16_t>(logWD > 0 ? 1 << (logWD - 1) : 0));
    const __m128i offset = _mm_set1_epi16(static_cast<int16_t>(o));
    const __m128i shift = _mm_cvtsi32_si128(logWD);
    CombineRows(p, pitch, p, pitch, width, height, [&](__m128i a, __m128i) {
        const __m128i v = _mm_sra_epi16(_mm_add_epi16(_mm_mullo_epi16(a, weight), round), shift);
        const __m128i r = _mm_add_epi16(v, offset);
        return _mm_packus_epi16(r, r);
    });
}

void weight_bi_sse2(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height, int w0, int w1,
                    int o, int logWD) {
    if (width < 4) {
        WeightSamplesBi(p0, pitch0, p1, pitch1, width, height, w0, w1, o, logWD);
        return;
    }
    const __m128i shift = _mm_cvtsi32_si128(logWD + 1);
    const __m128i offset = _mm_set1_epi16(static_cast<int16_t>(o));
    const int absSum = (w0 < 0 ? -w0 : w0) + (w1 < 0 ? -w1 : w1);
    if (255 * absSum + (1 << logWD) <= 32767) {
        // Every sum fits 16-bit lanes (the usual case: implicit weights near 32 each).
        const __m128i m0 = _mm_set1_epi16(static_cast<int16_t>(w0));
        const __m128i m1 = _mm_set1_epi16(static_cast<int16_t>(w1));
        const __m128i round = _mm_set1_epi16(static_cast<int16_t>(1 << logWD));
        CombineRows(p0, pitch0, p1, pitch1, width, height, [&](__m128i a, __m128i b) {
            const __m128i v = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, m0), _mm_mullo_epi16(b, m1)), round);
            const __m128i r = _mm_adds_epi16(_mm_sra_epi16(v, shift), offset);
            return _mm_packus_epi16(r, r);
        });
        return;
    }
    // (p0, p1) pairs times (w0, w1) summed in 32-bit lanes: exact for any weights of -128..127.
    const __m128i weights =
        _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(w1) << 16) | (static_cast<uint32_t>(w0) & 0xFFFF)));
    const __m128i round = _mm_set1_epi32(1 << logWD);
    CombineRows(p0, pitch0, p1, pitch1, width, height, [&](__m128i a, __m128i b) {
        const __m128i lo =
            _mm_sra_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights), round), shift);
        const __m128i hi =
            _mm_sra_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights), round), shift);
        return _mm_packus_epi16(_mm_adds_epi16(_mm_packs_epi32(lo, hi), offset), _mm_setzero_si128());
    });
}

void average_sse2(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height) {
    if (width < 4) {
        AverageSamples(p0, pitch0, p1, pitch1, width, height);
        return;
    }
    if (width == 4) {  // the chroma of 8-sample-wide partitions
        for (int y = 0; y < height; ++y, p0 += pitch0, p1 += pitch1)
            Store4(p0, _mm_avg_epu8(Load4(p0), Load4(p1)));
        return;
    }
    if (width == 16) {
        for (int y = 0; y < height; ++y, p0 += pitch0, p1 += pitch1) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p0));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p0), _mm_avg_epu8(a, b));
        }
        return;
    }
    for (int y = 0; y < height; ++y, p0 += pitch0, p1 += pitch1) {
        for (int x = 0; x < width; x += 8) {
            const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0 + x));
            const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p1 + x));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p0 + x), _mm_avg_epu8(a, b));
        }
    }
}

}  // namespace avcdec

#endif
