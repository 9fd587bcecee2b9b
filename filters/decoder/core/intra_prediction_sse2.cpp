// SSE2 forms of intra prediction (ITU-T H.264 clause 8.3). The plane fills (clauses 8.3.3.4
// and 8.3.4.4): eight 16-bit lanes a row, stepped by c from row to row, shifted and clipped
// by the saturating pack; exact for the parameters the clauses allow (kernel_table.h). The
// directional Intra_4x4 modes: every sample of clauses 8.3.1.2.4-8.3.1.2.9 is one of the
// two-tap or three-tap averages along the edge of neighbours, so both are made for the whole
// edge at once and each mode picks its rows from them. DC sums by byte differences to zero.
#include "filters/decoder/core/kernel_table.h"

#ifdef AVCDEC_HAVE_SSE2

#include <emmintrin.h>

#include <array>
#include <cstring>

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

namespace {

// The edge of neighbours of a 4x4 block in one vector, 128 for those unavailable:
// byte 0 and 1 p[-1, 3], bytes 2..4 p[-1, 2 .. 0], byte 5 p[-1, -1], bytes 6..13 p[0..7, -1]
// (p[3, -1] repeated without the upper right), bytes 14 and 15 p[7, -1]. The repeated ends
// make the three-tap average at byte 1 (p[-1, 2] + 3 p[-1, 3] + 2) >> 2 and at byte 13
// (p[6, -1] + 3 p[7, -1] + 2) >> 2, the two corner samples of clauses 8.3.1.2.9 and
// 8.3.1.2.4.
inline __m128i Edge4x4(const uint8_t* src, int pitch, IntraAvailability a) {
    alignas(16) uint8_t e[16];
    const uint8_t* above = src - pitch;
    if (a.top) {
        std::memcpy(e + 6, above, 4);
        if (a.topRight)
            std::memcpy(e + 10, above + 4, 4);
        else
            std::memset(e + 10, above[3], 4);
    } else {
        std::memset(e + 6, 128, 8);
    }
    e[14] = e[15] = e[13];
    for (int y = 0; y < 4; ++y)
        e[4 - y] = a.left ? src[y * pitch - 1] : 128;
    e[0] = e[1];
    e[5] = a.topLeft ? above[-1] : 128;
    return _mm_load_si128(reinterpret_cast<const __m128i*>(e));
}

// Two-tap (e[i] + e[i + 1] + 1) >> 1 and three-tap (e[i - 1] + 2 e[i] + e[i + 1] + 2) >> 2 at
// every byte i; the three-tap one as avg(e[i], floor of the mean of its neighbours).
inline void EdgeAverages(__m128i e, __m128i* two, __m128i* three) {
    const __m128i next = _mm_srli_si128(e, 1), prev = _mm_slli_si128(e, 1);
    *two = _mm_avg_epu8(e, next);
    const __m128i odd = _mm_and_si128(_mm_xor_si128(prev, next), _mm_set1_epi8(1));
    *three = _mm_avg_epu8(e, _mm_sub_epi8(_mm_avg_epu8(prev, next), odd));
}

template <int kShift>
inline void StoreRow4(uint8_t* dst, __m128i v) {
    const int32_t word = _mm_cvtsi128_si32(_mm_srli_si128(v, kShift));
    std::memcpy(dst, &word, 4);
}

// Index of each sample of modes 5, 6 and 8 (row-major) in the bytes two-tap (0..15),
// three-tap (16..31) and edge (32..47).
constexpr int kTwo = 0, kThree = 16, kEdge = 32;

constexpr std::array<uint8_t, 16> PickTable(int mode) {
    std::array<uint8_t, 16> t{};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            int at = 0;
            if (mode == 5) {  // vertical right
                const int z = 2 * x - y, k = x - (y >> 1);
                at = z >= 0 ? ((z & 1) == 0 ? kTwo : kThree) + 5 + k : z == -1 ? kThree + 5 : kThree + 6 - y;
            } else if (mode == 6) {  // horizontal down
                const int z = 2 * y - x, k = y - (x >> 1);
                at = z >= 0 ? ((z & 1) == 0 ? kTwo + 4 - k : kThree + 5 - k) : z == -1 ? kThree + 5 : kThree + 4 + x;
            } else {  // horizontal up
                const int z = x + 2 * y, k = y + (x >> 1);
                at = z < 5 ? ((z & 1) == 0 ? kTwo : kThree) + 3 - k : z == 5 ? kThree + 1 : kEdge + 1;
            }
            t[4 * y + x] = static_cast<uint8_t>(at);
        }
    }
    return t;
}

template <int kMode>
void Intra4x4Sse2(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch) {
    const __m128i e = Edge4x4(src, pitch, a);
    __m128i two, three;
    EdgeAverages(e, &two, &three);
    if constexpr (kMode == 3) {  // diagonal down left: row y is three-tap bytes 7 + y ..
        StoreRow4<7>(pred, three);
        StoreRow4<8>(pred + predPitch, three);
        StoreRow4<9>(pred + 2 * predPitch, three);
        StoreRow4<10>(pred + 3 * predPitch, three);
    } else if constexpr (kMode == 4) {  // diagonal down right: three-tap bytes 5 - y ..
        StoreRow4<5>(pred, three);
        StoreRow4<4>(pred + predPitch, three);
        StoreRow4<3>(pred + 2 * predPitch, three);
        StoreRow4<2>(pred + 3 * predPitch, three);
    } else if constexpr (kMode == 7) {  // vertical left: two-tap and three-tap rows in turn
        StoreRow4<6>(pred, two);
        StoreRow4<7>(pred + predPitch, three);
        StoreRow4<7>(pred + 2 * predPitch, two);
        StoreRow4<8>(pred + 3 * predPitch, three);
    } else {
        static constexpr std::array<uint8_t, 16> kPick = PickTable(kMode);
        alignas(16) uint8_t all[48];
        _mm_store_si128(reinterpret_cast<__m128i*>(all + kTwo), two);
        _mm_store_si128(reinterpret_cast<__m128i*>(all + kThree), three);
        _mm_store_si128(reinterpret_cast<__m128i*>(all + kEdge), e);
        for (int y = 0; y < 4; ++y) {
            const uint8_t row[4] = {all[kPick[4 * y]], all[kPick[4 * y + 1]], all[kPick[4 * y + 2]],
                                    all[kPick[4 * y + 3]]};
            std::memcpy(pred + y * predPitch, row, 4);
        }
    }
}

// The sum of the bytes of v (up to 16 of them; the rest zero) in each 64-bit half.
inline __m128i HalfSums(__m128i v) {
    return _mm_sad_epu8(v, _mm_setzero_si128());
}

// A 4-byte row of the value v.
inline void Store4(uint8_t* dst, int v) {
    const uint32_t word = static_cast<uint32_t>(static_cast<uint8_t>(v)) * 0x01010101u;
    std::memcpy(dst, &word, 4);
}

// Intra_4x4 horizontal (clause 8.3.1.2.2): each row its left neighbour (128 without one,
// as in the portable form, for streams that use the mode where it is not allowed).
void Intra4x4Horizontal(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch) {
    int l0 = 128, l1 = 128, l2 = 128, l3 = 128;
    if (a.left) {
        l0 = src[-1];
        l1 = src[pitch - 1];
        l2 = src[2 * pitch - 1];
        l3 = src[3 * pitch - 1];
    }
    Store4(pred, l0);
    Store4(pred + predPitch, l1);
    Store4(pred + 2 * predPitch, l2);
    Store4(pred + 3 * predPitch, l3);
}

// Intra_4x4 DC (clause 8.3.1.2.3).
void Intra4x4Dc(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch) {
    int top = 0, left = 0;
    if (a.top) {
        const uint8_t* above = src - pitch;
        top = above[0] + above[1] + above[2] + above[3];
    }
    if (a.left) left = src[-1] + src[pitch - 1] + src[2 * pitch - 1] + src[3 * pitch - 1];
    const int v = a.top && a.left ? (top + left + 4) >> 3 : a.top || a.left ? (top + left + 2) >> 2 : 128;
    Store4(pred, v);
    Store4(pred + predPitch, v);
    Store4(pred + 2 * predPitch, v);
    Store4(pred + 3 * predPitch, v);
}

}  // namespace

const IntraPredFn kIntra4x4Sse2[9] = {nullptr,         Intra4x4Horizontal, Intra4x4Dc,
                                      Intra4x4Sse2<3>, Intra4x4Sse2<4>,    Intra4x4Sse2<5>,
                                      Intra4x4Sse2<6>, Intra4x4Sse2<7>,    Intra4x4Sse2<8>};

void intra_dc_16x16_sse2(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch) {
    int s = 0;
    if (a.top) {
        const __m128i sums = HalfSums(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src - pitch)));
        s = _mm_cvtsi128_si32(_mm_add_epi32(sums, _mm_srli_si128(sums, 8)));
    }
    if (a.left) {
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i)
            s += src[i * pitch - 1];
    }
    const int v = a.top && a.left ? (s + 16) >> 5 : a.top || a.left ? (s + 8) >> 4 : 128;
    const __m128i row = _mm_set1_epi8(static_cast<char>(v));
#pragma GCC unroll 16
    for (int y = 0; y < 16; ++y)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pred + y * predPitch), row);
}

namespace {

// Eight copies of the byte v, as one word to store with a single move.
inline uint64_t Bytes8(int v) {
    return static_cast<uint64_t>(static_cast<uint8_t>(v)) * 0x0101010101010101ull;
}

inline void Store8(uint8_t* dst, uint64_t word) {
    std::memcpy(dst, &word, 8);
}

}  // namespace

void intra_v_16x16_sse2(const uint8_t* src, int pitch, IntraAvailability, uint8_t* pred, int predPitch) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src - pitch));
#pragma GCC unroll 16
    for (int y = 0; y < 16; ++y)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pred + y * predPitch), row);
}

void intra_h_16x16_sse2(const uint8_t* src, int pitch, IntraAvailability, uint8_t* pred, int predPitch) {
    // Each row's left neighbour is read before the row is written: pred may be the picture,
    // and row y's store never reaches a left neighbour of a later row.
#pragma GCC unroll 16
    for (int y = 0; y < 16; ++y) {
        const uint64_t word = Bytes8(src[y * pitch - 1]);
        Store8(pred + y * predPitch, word);
        Store8(pred + y * predPitch + 8, word);
    }
}

void intra_dc_chroma_sse2(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch) {
    // Sums of the four samples above each half (t0, t1) and left of each half (l0, l1).
    int t0 = 0, t1 = 0, l0 = 0, l1 = 0;
    if (a.top) {
        // The two halves of the row above into the two 64-bit lanes.
        const __m128i above = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src - pitch));
        const __m128i sums = HalfSums(_mm_unpacklo_epi32(above, _mm_setzero_si128()));
        t0 = _mm_cvtsi128_si32(sums);
        t1 = _mm_extract_epi16(sums, 4);
    }
    if (a.left) {
        const uint8_t* left = src - 1;
        l0 = left[0] + left[pitch] + left[2 * pitch] + left[3 * pitch];
        left += 4 * pitch;
        l1 = left[0] + left[pitch] + left[2 * pitch] + left[3 * pitch];
    }
    // Clauses 8.3.4.1-8.3.4.3: blocks (0,0) and (1,1) use both sides; the upper right
    // prefers the samples above, the lower left those to the left.
    int dc[4];  // upper left, upper right, lower left, lower right
    if (a.top && a.left) {
        dc[0] = (t0 + l0 + 4) >> 3;
        dc[1] = (t1 + 2) >> 2;
        dc[2] = (l1 + 2) >> 2;
        dc[3] = (t1 + l1 + 4) >> 3;
    } else if (a.top) {
        dc[0] = dc[2] = (t0 + 2) >> 2;
        dc[1] = dc[3] = (t1 + 2) >> 2;
    } else if (a.left) {
        dc[0] = dc[1] = (l0 + 2) >> 2;
        dc[2] = dc[3] = (l1 + 2) >> 2;
    } else {
        dc[0] = dc[1] = dc[2] = dc[3] = 128;
    }
    // Each value in four bytes of its half row (little-endian: the left half low), stored
    // as whole 8-byte rows from general registers; vector broadcasts cost more here.
    const uint64_t upper = (Bytes8(dc[0]) & 0xFFFFFFFFull) | (Bytes8(dc[1]) << 32);
    const uint64_t lower = (Bytes8(dc[2]) & 0xFFFFFFFFull) | (Bytes8(dc[3]) << 32);
#pragma GCC unroll 4
    for (int y = 0; y < 4; ++y) {
        Store8(pred + y * predPitch, upper);
        Store8(pred + (4 + y) * predPitch, lower);
    }
}

}  // namespace avcdec

#endif  // AVCDEC_HAVE_SSE2
