// Loop-filter kernels of ITU-T H.264 (clause 8.7.2) shared by the encoder and the decoder:
// portable and SSE2 forms in one table that each core holds in its own kernel table, and
// the filtering of one macroblock edge from its four boundary strengths.
#pragma once

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

// How an edge's four bS values are filtered: not at all, all bS 4, all below 4, or mixed.
enum class DeblockEdgeKind { kNone, kStrong, kNormal, kMixed };
inline DeblockEdgeKind EdgeKindOf(const uint8_t* bs) {
    uint32_t all;
    std::memcpy(&all, bs, 4);
    if (all == 0) return DeblockEdgeKind::kNone;
    if (all == 0x04040404u) return DeblockEdgeKind::kStrong;
    // bS is at most 4: bit 2 of a byte marks bS 4.
    return (all & 0x04040404u) == 0 ? DeblockEdgeKind::kNormal : DeblockEdgeKind::kMixed;
}

// tC0 of each segment for bS below 4, -1 where bS is 0.
inline void SegmentTc0(const uint8_t* bs, int indexA, int8_t* tc0) {
    for (int seg = 0; seg < 4; ++seg)
        tc0[seg] = static_cast<int8_t>(bs[seg] == 0 ? -1 : kDeblockTc0[indexA][bs[seg] - 1]);
}

// Filters one 16-sample luma edge of a macroblock (q0: its first sample behind the edge)
// with the four segments' bS; `vertical` for an edge between columns. The caller has
// checked that alpha and beta are not 0.
inline void FilterLumaEdge(const DeblockKernels& k, bool vertical, uint8_t* q0, int pitch, const uint8_t* bs,
                           const DeblockThresholds& t) {
    const int step = vertical ? 1 : pitch, along = vertical ? pitch : 1;
    switch (EdgeKindOf(bs)) {
        case DeblockEdgeKind::kNone:
            return;
        case DeblockEdgeKind::kStrong:
            (vertical ? k.lumaStrongVertical16 : k.lumaStrongHorizontal16)(q0, step, along, t.alpha, t.beta);
            return;
        case DeblockEdgeKind::kNormal: {
            int8_t tc0[4];
            SegmentTc0(bs, t.indexA, tc0);
            (vertical ? k.lumaVertical16 : k.lumaHorizontal16)(q0, step, along, t.alpha, t.beta, tc0);
            return;
        }
        case DeblockEdgeKind::kMixed:
            for (int seg = 0; seg < 4; ++seg) {
                if (bs[seg] == 0) continue;
                uint8_t* at = q0 + 4 * seg * along;
                if (bs[seg] == 4)
                    k.lumaStrong(at, step, along, 4, t.alpha, t.beta, 0);
                else
                    k.lumaNormal(at, step, along, 4, t.alpha, t.beta, kDeblockTc0[t.indexA][bs[seg] - 1]);
            }
            return;
    }
}

// The same for the 8-sample edge of both chroma planes (cb, cr: their first samples behind
// the edge), whose segment k covers two lines.
inline void FilterChromaEdge(const DeblockKernels& k, bool vertical, uint8_t* cb, uint8_t* cr, int pitch,
                             const uint8_t* bs, const DeblockThresholds& t) {
    const int step = vertical ? 1 : pitch, along = vertical ? pitch : 1;
    switch (EdgeKindOf(bs)) {
        case DeblockEdgeKind::kNone:
            return;
        case DeblockEdgeKind::kStrong:
            (vertical ? k.chromaStrongVertical8 : k.chromaStrongHorizontal8)(cb, cr, step, along, t.alpha, t.beta);
            return;
        case DeblockEdgeKind::kNormal: {
            int8_t tc0[4];
            SegmentTc0(bs, t.indexA, tc0);
            (vertical ? k.chromaVertical8 : k.chromaHorizontal8)(cb, cr, step, along, t.alpha, t.beta, tc0);
            return;
        }
        case DeblockEdgeKind::kMixed:
            for (uint8_t* plane : {cb, cr})
                for (int seg = 0; seg < 4; ++seg) {
                    if (bs[seg] == 0) continue;
                    uint8_t* at = plane + 2 * seg * along;
                    if (bs[seg] == 4)
                        k.chromaStrong(at, step, along, 2, t.alpha, t.beta, 0);
                    else
                        k.chromaNormal(at, step, along, 2, t.alpha, t.beta, kDeblockTc0[t.indexA][bs[seg] - 1]);
                }
            return;
    }
}

}  // namespace common
