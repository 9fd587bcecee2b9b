// Loop-filter kernels of ITU-T H.264 (clause 8.7.2) shared by the encoder and the decoder:
// portable and SSE2 forms in one table that each core holds in its own kernel table, and
// the filtering of one macroblock edge from its four boundary strengths.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "common/bitstream/h264_tables.h"

namespace common {

// Filters one edge segment (clause 8.7.2): `lines` lines starting at q0, the first sample
// behind the edge; `step` moves across the edge, `along` along it. tc0 is read for bS
// below 4 only.
using DeblockSegmentFn = void (*)(uint8_t* q0, int step, int along, int lines, int alpha, int beta, int tc0);
// A whole 16-line luma edge with bS below 4 (clause 8.7.2.3): four segments of four lines,
// segment k with tC0 tc0[k], or left as it is where tc0[k] is negative (bS 0).
using DeblockLumaEdge16Fn = void (*)(uint8_t* q0, int step, int along, int alpha, int beta, const int8_t* tc0);
// A whole 16-line luma edge with bS 4 (clause 8.7.2.4).
using DeblockLumaStrong16Fn = void (*)(uint8_t* q0, int step, int along, int alpha, int beta);
// The same 8-line edge of both chroma planes (4:2:0, one quantiser for both) with bS below
// 4: segment k (lines 2k, 2k + 1 of each plane) uses tc0[k], negative for bS 0.
using DeblockChromaEdge8Fn = void (*)(uint8_t* cb, uint8_t* cr, int step, int along, int alpha, int beta,
                                      const int8_t* tc0);
// The same with bS 4.
using DeblockChromaStrong8Fn = void (*)(uint8_t* cb, uint8_t* cr, int step, int along, int alpha, int beta);

// Whole edges: horizontal edges lie between rows (step is the pitch, along 1), vertical
// ones between columns (step 1, along the pitch); each whole-edge entry serves one of the
// two directions, the portable forms serve both. The kernels read and may rewrite the four
// samples on each side of the edge.
struct DeblockKernels {
    DeblockSegmentFn lumaNormal;    // bS 1..3
    DeblockSegmentFn lumaStrong;    // bS 4
    DeblockSegmentFn chromaNormal;  // bS 1..3
    DeblockSegmentFn chromaStrong;  // bS 4
    DeblockLumaEdge16Fn lumaHorizontal16;
    DeblockLumaEdge16Fn lumaVertical16;
    DeblockLumaStrong16Fn lumaStrongHorizontal16;
    DeblockLumaStrong16Fn lumaStrongVertical16;
    DeblockChromaEdge8Fn chromaHorizontal8;
    DeblockChromaEdge8Fn chromaVertical8;
    DeblockChromaStrong8Fn chromaStrongHorizontal8;
    DeblockChromaStrong8Fn chromaStrongVertical8;
};

// Portable forms, then the forms the feature word (cpu_features.h) allows.
void FillDeblockKernels(DeblockKernels* table, uint32_t featureWord);

// The thresholds of one edge (clause 8.7.2.2) by indexA and indexB.
struct DeblockThresholds {
    int alpha, beta, indexA;
};
inline DeblockThresholds ThresholdsOf(int indexA, int indexB) {
    return {kDeblockAlpha[indexA], kDeblockBeta[indexB], indexA};
}

// The filter of one edge: alpha, beta and, in byte b of tc0ByBs, the tC0 of bS b (byte 0:
// -1, bS 0 leaves its segment as it is; byte 4 unused).
struct DeblockEdgeFilter {
    int alpha, beta;
    uint32_t tc0ByBs;
};
// kDeblockAlpha and tc0ByBs by indexA, built once from the standard's tables.
struct DeblockIndexA {
    uint32_t alpha, tc0ByBs;
};
extern const std::array<DeblockIndexA, 52> kDeblockIndexA;
inline DeblockEdgeFilter EdgeFilterOf(const DeblockThresholds& t) {
    return {t.alpha, t.beta, kDeblockIndexA[t.indexA].tc0ByBs};
}

// An edge's four bS as one word, segment k in bits 8k .. 8k + 7.
inline uint32_t StrengthWord(const uint8_t* bs) {
    uint32_t word;
    std::memcpy(&word, bs, 4);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
    return word;
}

// tC0 of the four segments of an edge whose bS (in `word`) are all below 4.
inline void SegmentTc0(uint32_t word, uint32_t tc0ByBs, int8_t* tc0) {
    for (int seg = 0; seg < 4; ++seg, word >>= 8)
        tc0[seg] = static_cast<int8_t>(tc0ByBs >> (8 * (word & 0xFF)));
}

// Filters one 16-sample luma edge of a macroblock (q0: its first sample behind the edge)
// with the four segments' bS in `word`, at least one above 0; `vertical` for an edge
// between columns. The caller has checked that alpha and beta are not 0.
inline void FilterLumaEdge(const DeblockKernels& k, bool vertical, uint8_t* q0, int pitch, uint32_t word,
                           const DeblockEdgeFilter& f) {
    const int step = vertical ? 1 : pitch, along = vertical ? pitch : 1;
    if (word == 0x04040404u) {
        (vertical ? k.lumaStrongVertical16 : k.lumaStrongHorizontal16)(q0, step, along, f.alpha, f.beta);
    } else if ((word & 0x04040404u) == 0) {  // every bS below 4 (bS is at most 4: bit 2 marks bS 4)
        int8_t tc0[4];
        SegmentTc0(word, f.tc0ByBs, tc0);
        (vertical ? k.lumaVertical16 : k.lumaHorizontal16)(q0, step, along, f.alpha, f.beta, tc0);
    } else {
        for (int seg = 0; seg < 4; ++seg, word >>= 8) {
            const int bs = word & 0xFF;
            uint8_t* at = q0 + 4 * seg * along;
            if (bs == 4)
                k.lumaStrong(at, step, along, 4, f.alpha, f.beta, 0);
            else if (bs != 0)
                k.lumaNormal(at, step, along, 4, f.alpha, f.beta, static_cast<int8_t>(f.tc0ByBs >> (8 * bs)));
        }
    }
}

// The same for the 8-sample edge of both chroma planes (cb, cr: their first samples behind
// the edge), whose segment k covers two lines.
inline void FilterChromaEdge(const DeblockKernels& k, bool vertical, uint8_t* cb, uint8_t* cr, int pitch, uint32_t word,
                             const DeblockEdgeFilter& f) {
    const int step = vertical ? 1 : pitch, along = vertical ? pitch : 1;
    if (word == 0x04040404u) {
        (vertical ? k.chromaStrongVertical8 : k.chromaStrongHorizontal8)(cb, cr, step, along, f.alpha, f.beta);
    } else if ((word & 0x04040404u) == 0) {
        int8_t tc0[4];
        SegmentTc0(word, f.tc0ByBs, tc0);
        (vertical ? k.chromaVertical8 : k.chromaHorizontal8)(cb, cr, step, along, f.alpha, f.beta, tc0);
    } else {
        for (uint8_t* plane : {cb, cr})
            for (int seg = 0; seg < 4; ++seg) {
                const int bs = (word >> (8 * seg)) & 0xFF;
                uint8_t* at = plane + 2 * seg * along;
                if (bs == 4)
                    k.chromaStrong(at, step, along, 2, f.alpha, f.beta, 0);
                else if (bs != 0)
                    k.chromaNormal(at, step, along, 2, f.alpha, f.beta, static_cast<int8_t>(f.tc0ByBs >> (8 * bs)));
            }
    }
}

// The same from the four bS as bytes and the edge's thresholds; an edge whose bS are all 0
// is left as it is.
inline void FilterLumaEdge(const DeblockKernels& k, bool vertical, uint8_t* q0, int pitch, const uint8_t* bs,
                           const DeblockThresholds& t) {
    const uint32_t word = StrengthWord(bs);
    if (word != 0) FilterLumaEdge(k, vertical, q0, pitch, word, EdgeFilterOf(t));
}
inline void FilterChromaEdge(const DeblockKernels& k, bool vertical, uint8_t* cb, uint8_t* cr, int pitch,
                             const uint8_t* bs, const DeblockThresholds& t) {
    const uint32_t word = StrengthWord(bs);
    if (word != 0) FilterChromaEdge(k, vertical, cb, cr, pitch, word, EdgeFilterOf(t));
}

}  // namespace common
