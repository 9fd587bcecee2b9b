// The in-loop deblocking filter over a decoded frame (ITU-T H.264 clause 8.7).
#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "common/bitstream/h264_tables.h"
#include "common/dsp/deblock_kernels.h"
#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/kernel_table.h"
#include "filters/decoder/core/picture_store.h"
#include "filters/decoder/core/slice_decoding.h"
#include "filters/decoder/core/slice_header.h"

namespace avcdec {

namespace {

using common::kDeblockTc0;

int ChromaQpOf(const MacroblockInfo* mb) {
    return ChromaQp(std::clamp(mb->qp + mb->chromaQpIndexOffset, 0, 51));
}

// Vectors four quarter samples apart in either component; vertical components of field
// macroblocks count in field lines, so two apart is four frame quarter samples
// (clause 8.7.2.1): limitY 4, or 2 for field macroblocks.
inline bool FarApart(const int16_t* a, const int16_t* b, int limitY) {
    return std::abs(a[0] - b[0]) >= 4 || std::abs(a[1] - b[1]) >= limitY;
}

inline int VerticalLimit(const MacroblockInfo* mb) {
    return (mb->flags & kMbField) != 0 ? 2 : 4;
}

// Motion test for two blocks of which at least one predicts from list 1.
int MotionStrengthTwoLists(const MacroblockInfo* p, int bp, int qp8, const MacroblockInfo* q, int bq, int qq8) {
    const int32_t p0 = p->refPicId[0][qp8], p1 = p->refPicId[1][qp8];
    const int32_t q0 = q->refPicId[0][qq8], q1 = q->refPicId[1][qq8];
    // The commonest B case: the same pictures in the same lists and the same vectors of both
    // lists (compared as packed words), for which every branch below answers 0. Vectors of
    // an unused list that differ only send the pair through the full test.
    uint32_t pv[2], qv[2];
    std::memcpy(&pv[0], p->mv[0][bp], 4);
    std::memcpy(&pv[1], p->mv[1][bp], 4);
    std::memcpy(&qv[0], q->mv[0][bq], 4);
    std::memcpy(&qv[1], q->mv[1][bq], 4);
    if (((static_cast<uint32_t>(p0 ^ q0) | static_cast<uint32_t>(p1 ^ q1)) | (pv[0] ^ qv[0]) | (pv[1] ^ qv[1])) == 0)
        return 0;
    const int limitY = VerticalLimit(q);
    const int pn = (p0 >= 0) + (p1 >= 0), qn = (q0 >= 0) + (q1 >= 0);
    if (pn != qn) return 1;
    if (pn == 1) {
        const int lp = p0 >= 0 ? 0 : 1, lq = q0 >= 0 ? 0 : 1;
        if (p->refPicId[lp][qp8] != q->refPicId[lq][qq8]) return 1;
        return FarApart(p->mv[lp][bp], q->mv[lq][bq], limitY) ? 1 : 0;
    }
    if (pn == 0) return 0;
    if (!((p0 == q0 && p1 == q1) || (p0 == q1 && p1 == q0))) return 1;
    const bool straight = FarApart(p->mv[0][bp], q->mv[0][bq], limitY) || FarApart(p->mv[1][bp], q->mv[1][bq], limitY);
    const bool crossed = FarApart(p->mv[0][bp], q->mv[1][bq], limitY) || FarApart(p->mv[1][bp], q->mv[0][bq], limitY);
    if (p0 != p1) return (p0 == q0 ? straight : crossed) ? 1 : 0;
    return (straight && crossed) ? 1 : 0;
}

// Motion test for two blocks (clause 8.7.2.1, bS 1 or 0).
inline int MotionStrength(const MacroblockInfo* p, int bp, const MacroblockInfo* q, int bq) {
    const int qp8 = (bp / 8) * 2 + (bp % 4) / 2, qq8 = (bq / 8) * 2 + (bq % 4) / 2;
    if ((p->refPicId[1][qp8] & q->refPicId[1][qq8]) < 0) {  // list 0 alone on both sides (every P block)
        const int32_t p0 = p->refPicId[0][qp8];
        if (p0 != q->refPicId[0][qq8]) return 1;
        return p0 >= 0 && FarApart(p->mv[0][bp], q->mv[0][bq], VerticalLimit(q)) ? 1 : 0;
    }
    return MotionStrengthTwoLists(p, bp, qp8, q, bq, qq8);
}

struct EdgeStrengths {
    uint8_t bs[2][4][4];  // [0 vertical, 1 horizontal][edge][segment]
};

// Bit b: luma 4x4 block b (raster) holds coefficients (bS 2 on its edges between inter blocks).
uint32_t CodedBlocks(const MacroblockInfo* mb) {
    uint32_t mask = 0;
    for (int half = 0; half < 2; ++half) {
        uint64_t x;
        std::memcpy(&x, mb->totalCoeff + 8 * half, 8);
        if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
        // Bit 7 of each byte: the byte is not zero (no carries between bytes).
        constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
        x = ((((x & kLow7) + kLow7) | x) & ~kLow7) >> 7;
        // Gathers bit 8b of each byte b into bit 56 + b; the products do not overlap.
        mask |= static_cast<uint32_t>((x * 0x0102040810204080ull) >> 56) << (8 * half);
    }
    return mask;
}

// bS 2 in segment k where bit k of the index is set, else 0.
constexpr uint8_t kCodedSegments[16][4] = {
    {0, 0, 0, 0}, {2, 0, 0, 0}, {0, 2, 0, 0}, {2, 2, 0, 0}, {0, 0, 2, 0}, {2, 0, 2, 0}, {0, 2, 2, 0}, {2, 2, 2, 0},
    {0, 0, 0, 2}, {2, 0, 0, 2}, {0, 2, 0, 2}, {2, 2, 0, 2}, {0, 0, 2, 2}, {2, 0, 2, 2}, {0, 2, 2, 2}, {2, 2, 2, 2}};

// bS of a macroblock edge (dir 0: left, 1: top) against an inter neighbour for an inter
// macroblock (clause 8.7.2.1).
// Returns whether any of the four is above 0.
bool OuterEdgeStrengths(const MacroblockInfo* cur, uint32_t coded, const MacroblockInfo* nb, int dir, uint8_t* bs) {
    const uint32_t nbCoded = CodedBlocks(nb);
    // Segment k as bit k: a coded block on either side (cur's column 0 / row 0 against the
    // neighbour's column 3 / row 3; the multiply gathers bits 0, 4, 8 and 12 into 12..15).
    const uint32_t segments =
        dir == 0 ? ((((coded | (nbCoded >> 3)) & 0x1111u) * 0x1248u) >> 12) & 0xFu : (coded | (nbCoded >> 12)) & 0xFu;
    uint32_t word;  // the four bS, segment k in byte k
    std::memcpy(&word, kCodedSegments[segments], 4);
    if (segments == 0xF) {
        std::memcpy(bs, &word, 4);
        return true;
    }
    if ((cur->sameMotion & nb->sameMotion & kSameMotionIn16x16) != 0) {
        // Both macroblocks carry one motion over all their blocks (one partition, or
        // several that came out alike): one motion test serves every segment without
        // coefficients.
        const uint32_t motion = static_cast<uint32_t>(MotionStrength(nb, dir == 0 ? 3 : 12, cur, 0)) * 0x01010101u;
        // Bytes of `word` are 2 or 0: (word >> 1) * 0xFF masks the coded segments.
        word |= motion & ~((word >> 1) * 0xFFu);
        std::memcpy(bs, &word, 4);
        return word != 0;
    }
    std::memcpy(bs, &word, 4);
    int any = segments != 0;
    for (int k = 0; k < 4; ++k) {
        if ((segments >> k) & 1) continue;
        const int bq = dir == 0 ? 4 * k : k, bp = dir == 0 ? 4 * k + 3 : 12 + k;
        const int v = MotionStrength(nb, bp, cur, bq);
        bs[k] = static_cast<uint8_t>(v);
        any |= v;
    }
    return any != 0;
}

// Whether the blocks on both sides of inner edge `edge` (1..3; dir 0 vertical, 1 horizontal)
// at segment k lie in one partition or sub-partition of an inter macroblock without direct
// blocks: they then carry one motion, and the motion test gives bS 0.
bool OnePartition(const MacroblockInfo* mb, int dir, int edge, int k) {
    if (mb->directMask != 0) return false;
    switch (mb->partShape) {
        case 0:  // 16x16
            return true;
        case 1:  // 16x8: split between rows 7 and 8
            return dir == 0 || edge != 2;
        case 2:  // 8x16: split between columns 7 and 8
            return dir == 1 || edge != 2;
        default: {  // 8x8: split at edge 2, inside by the sub-shapes (8x8, 8x4, 4x8, 4x4)
            if (edge == 2) return false;
            const int quadrant = dir == 0 ? (k >> 1) * 2 + (edge >> 1) : (edge >> 1) * 2 + (k >> 1);
            const int sub = mb->subShape[quadrant];
            return dir == 0 ? sub < 2 : (sub & 1) == 0;
        }
    }
}

// The strengths of a macroblock's edges; returns whether any is above 0.
bool ComputeStrengths(const MacroblockInfo* cur, const MacroblockInfo* left, const MacroblockInfo* top,
                      EdgeStrengths* e) {
    const MacroblockInfo* nbs[2] = {left, top};
    // An intra side makes bS 4 on macroblock edges, but 3 on the horizontal ones of field
    // macroblocks (clause 8.7.2.1).
    const uint8_t intraTop = (cur->flags & kMbField) != 0 ? 3 : 4;
    if (cur->flags & kMbIntra) {
        for (int dir = 0; dir < 2; ++dir) {
            std::memset(e->bs[dir][0], nbs[dir] == nullptr ? 0 : dir == 0 ? 4 : intraTop, 4);
            std::memset(e->bs[dir][1], 3, 12);
        }
        return true;
    }
    const uint32_t coded = CodedBlocks(cur);
    bool any = false;
    for (int dir = 0; dir < 2; ++dir) {
        const MacroblockInfo* nb = nbs[dir];
        if (nb == nullptr) {
            std::memset(e->bs[dir][0], 0, 4);
        } else if (nb->flags & kMbIntra) {
            std::memset(e->bs[dir][0], dir == 0 ? 4 : intraTop, 4);
            any = true;
        } else {
            any |= OuterEdgeStrengths(cur, coded, nb, dir, e->bs[dir][0]);
        }
    }
    if (coded == 0 && (cur->sameMotion & kSameMotionIn16x16) != 0) {
        // No coefficients and one motion (most skipped macroblocks): every inner edge has bS 0.
        std::memset(e->bs[0][1], 0, 12);
        std::memset(e->bs[1][1], 0, 12);
        return any;
    }
    // Inner edges: block q and the block before it across the edge (1 left, 4 above).
    // A coded block puts bS 2 on at least one of them.
    const uint32_t codedPairs[2] = {coded | (coded << 1), coded | (coded << 4)};
    any |= coded != 0;
    for (int dir = 0; dir < 2; ++dir) {
        for (int edge = 1; edge < 4; ++edge) {
            // The edge's four segments as bits 0-3 (blocks 4k + edge, or 4 edge + k).
            const uint32_t segments = dir == 0 ? (((codedPairs[0] >> edge) & 0x1111u) * 0x1248u) >> 12 & 0xFu
                                               : (codedPairs[1] >> (4 * edge)) & 0xFu;
            uint8_t* bs = e->bs[dir][edge];
            std::memcpy(bs, kCodedSegments[segments], 4);
            if (InnerEdgeHasSameMotion(cur, edge)) continue;  // the motion test gives bS 0
            const int before = dir == 0 ? 1 : 4;
            for (int k = 0; k < 4; ++k) {
                if (((segments >> k) & 1) || OnePartition(cur, dir, edge, k)) continue;
                const int q = dir == 0 ? 4 * k + edge : 4 * edge + k;
                const int v = MotionStrength(cur, q - before, cur, q);
                bs[k] = static_cast<uint8_t>(v);
                any |= v != 0;
            }
        }
    }
    return any;
}

// Filter thresholds of one edge (clause 8.7.2.2) with the slice's offsets; false when
// alpha or beta is 0, which leaves every sample as it is.
using EdgeThresholds = common::DeblockThresholds;
bool Thresholds(int qpAv, const MacroblockInfo* cur, EdgeThresholds* t) {
    *t = common::ThresholdsOf(std::clamp(qpAv + cur->filterOffsetA, 0, 51),
                              std::clamp(qpAv + cur->filterOffsetB, 0, 51));
    return t->alpha != 0 && t->beta != 0;
}

using common::DeblockEdgeFilter;
using common::StrengthWord;

// The filter of one edge QP average with the slice's offsets (clause 8.7.2.2); false when
// alpha or beta is 0, which leaves every sample of the edge as it is.
inline bool EdgeFilterOf(int qpAv, int offsetA, int offsetB, DeblockEdgeFilter* f) {
    const common::DeblockIndexA& a = common::kDeblockIndexA[std::clamp(qpAv + offsetA, 0, 51)];
    f->alpha = static_cast<int>(a.alpha);
    f->beta = common::kDeblockBeta[std::clamp(qpAv + offsetB, 0, 51)];
    f->tc0ByBs = a.tc0ByBs;
    return f->alpha != 0 && f->beta != 0;
}

// Filters the luma edges of one macroblock (origin: its top-left sample): the left edge and
// the inner vertical ones, then the top edge and the inner horizontal ones.
void FilterLumaEdges(uint8_t* origin, int pitch, const EdgeStrengths& e, const MacroblockInfo* cur,
                     const MacroblockInfo* left, const MacroblockInfo* top, const DecoderKernelTable& kt) {
    const common::DeblockKernels& k = kt.deblock;
    const int offsetA = cur->filterOffsetA, offsetB = cur->filterOffsetB;
    DeblockEdgeFilter inner;  // every inner edge has the macroblock's own QP
    const bool innerOn = EdgeFilterOf(cur->qp, offsetA, offsetB, &inner);
    for (int dir = 0; dir < 2; ++dir) {
        const MacroblockInfo* neighbour = dir == 0 ? left : top;
        const int step = dir == 0 ? 1 : pitch;  // across the edge
        if (neighbour != nullptr) {
            DeblockEdgeFilter outer;
            const uint32_t word = StrengthWord(e.bs[dir][0]);
            if (word != 0 && EdgeFilterOf((neighbour->qp + cur->qp + 1) >> 1, offsetA, offsetB, &outer))
                common::FilterLumaEdge(k, dir == 0, origin, pitch, word, outer);
        }
        if (!innerOn) continue;
        for (int edge = 1; edge < 4; ++edge) {
            const uint32_t word = StrengthWord(e.bs[dir][edge]);
            if (word != 0) common::FilterLumaEdge(k, dir == 0, origin + 4 * edge * step, pitch, word, inner);
        }
    }
}

// Filters the chroma edges of one macroblock in both planes (cb, cr: its top-left
// samples); chroma edge 1 lies on luma edge 2 and uses its strengths.
void FilterChromaEdges(uint8_t* cb, uint8_t* cr, int pitch, const EdgeStrengths& e, const MacroblockInfo* cur,
                       const MacroblockInfo* left, const MacroblockInfo* top, const DecoderKernelTable& kt) {
    const common::DeblockKernels& k = kt.deblock;
    const int offsetA = cur->filterOffsetA, offsetB = cur->filterOffsetB;
    const int qpCur = ChromaQpOf(cur);
    DeblockEdgeFilter inner;  // the inner edge has the macroblock's own chroma QP
    const bool innerOn = EdgeFilterOf(qpCur, offsetA, offsetB, &inner);
    for (int dir = 0; dir < 2; ++dir) {
        const MacroblockInfo* neighbour = dir == 0 ? left : top;
        const int step = dir == 0 ? 1 : pitch;
        if (neighbour != nullptr) {
            DeblockEdgeFilter outer;
            const uint32_t word = StrengthWord(e.bs[dir][0]);
            if (word != 0 && EdgeFilterOf((ChromaQpOf(neighbour) + qpCur + 1) >> 1, offsetA, offsetB, &outer))
                common::FilterChromaEdge(k, dir == 0, cb, cr, pitch, word, outer);
        }
        const uint32_t word = StrengthWord(e.bs[dir][2]);
        if (innerOn && word != 0)
            common::FilterChromaEdge(k, dir == 0, cb + 4 * step, cr + 4 * step, pitch, word, inner);
    }
}

// MBAFF frames (clause 8.7 with MbaffFrameFlag 1). Macroblocks are filtered in decoding
// order, pair by pair, each with its own lines (every second one of the pair for a field
// macroblock). Edges between a frame and a field pair (mixedModeEdgeFlag 1) get bS 4 or 3
// next to intra macroblocks, 2 next to coefficients, else 1.
struct MbaffFilter {
    const PlaneView& pv;
    const MacroblockInfo* mbInfo;
    int32_t width;  // macroblocks per row
    int32_t first;  // the picture's first slice number
    const DecoderKernelTable& k;

    bool Usable(const MacroblockInfo* cur, const MacroblockInfo* m) const {
        return m->sliceNumber >= first && (cur->disableDeblockingFilterIdc != 2 || m->sliceNumber == cur->sliceNumber);
    }

    // bS of a mixed edge between block bq of cur and block bp of p.
    static uint8_t MixedStrength(const MacroblockInfo* cur, int bq, const MacroblockInfo* p, int bp, bool vertical) {
        if (((cur->flags | p->flags) & kMbIntra) != 0) return vertical ? 4 : 3;
        return cur->totalCoeff[bq] != 0 || p->totalCoeff[bp] != 0 ? 2 : 1;
    }

    // The top edge of cur (origin and pitch of the lines filtered) against the bottom lines
    // of p, as a horizontal macroblock edge of its own.
    void FilterTop(uint8_t* y, ptrdiff_t chroma, int pitch, const MacroblockInfo* cur, const MacroblockInfo* p,
                   bool mixed) const {
        EdgeStrengths e{};
        if (mixed) {
            for (int seg = 0; seg < 4; ++seg)
                e.bs[1][0][seg] = MixedStrength(cur, seg, p, 12 + seg, false);
        } else {
            EdgeStrengths all{};
            ComputeStrengths(cur, nullptr, p, &all);
            std::memcpy(e.bs[1][0], all.bs[1][0], 4);
        }
        FilterLumaEdges(y, pitch, e, cur, nullptr, p, k);
        FilterChromaEdges(pv.u + chroma, pv.v + chroma, pitch, e, cur, nullptr, p, k);
    }

    // A left edge between a frame and a field pair, line by line: each line of cur against
    // the macroblock of the left pair that holds the line beside it.
    void FilterMixedLeft(uint8_t* y, ptrdiff_t chroma, int pitch, const MacroblockInfo* cur, bool field, bool bottom,
                         const MacroblockInfo* leftTop) const {
        const bool leftField = !field;
        uint8_t bs[16];
        const MacroblockInfo* owner[16];
        for (int line = 0; line < 16; ++line) {
            const int pairLine = field ? 2 * line + bottom : 16 * bottom + line;
            const int lower = leftField ? pairLine & 1 : pairLine >> 4;
            const int leftLine = leftField ? pairLine >> 1 : pairLine & 15;
            const MacroblockInfo* p = leftTop + lower * width;
            owner[line] = Usable(cur, p) ? p : nullptr;
            bs[line] =
                owner[line] != nullptr ? MixedStrength(cur, 4 * (line >> 2), p, 4 * (leftLine >> 2) + 3, true) : 0;
        }
        for (int line = 0; line < 16; ++line) {
            const MacroblockInfo* p = owner[line];
            if (p == nullptr) continue;
            EdgeThresholds t;
            if (!Thresholds((p->qp + cur->qp + 1) >> 1, cur, &t)) continue;
            uint8_t* at = y + line * pitch;
            if (bs[line] == 4)
                k.deblock.lumaStrong(at, 1, pitch, 1, t.alpha, t.beta, 0);
            else
                k.deblock.lumaNormal(at, 1, pitch, 1, t.alpha, t.beta, kDeblockTc0[t.indexA][bs[line] - 1]);
        }
        // Chroma line c takes the strength and neighbour of luma line 2c (field macroblocks),
        // or of the luma line of its own parity nearest above it (frame macroblocks).
        const int qpCur = ChromaQpOf(cur);
        for (int c = 0; c < 8; ++c) {
            const int line = field ? 2 * c : 2 * c - (c & 1);
            const MacroblockInfo* p = owner[line];
            if (p == nullptr) continue;
            EdgeThresholds t;
            if (!Thresholds((ChromaQpOf(p) + qpCur + 1) >> 1, cur, &t)) continue;
            for (uint8_t* plane : {pv.u, pv.v}) {
                uint8_t* at = plane + chroma + c * pitch;
                if (bs[line] == 4)
                    k.deblock.chromaStrong(at, 1, pitch, 1, t.alpha, t.beta, 0);
                else
                    k.deblock.chromaNormal(at, 1, pitch, 1, t.alpha, t.beta, kDeblockTc0[t.indexA][bs[line] - 1]);
            }
        }
    }

    void FilterMacroblock(int32_t pair, int bottom) const {
        const int32_t x = pair % width, pairRow = pair / width;
        const MacroblockInfo* cur = &mbInfo[(2 * pairRow + bottom) * width + x];
        if (cur->sliceNumber < first || cur->disableDeblockingFilterIdc == 1) return;
        const bool field = (cur->flags & kMbField) != 0;
        const int32_t framePitch = pv.pitch;
        const ptrdiff_t topLine = 32 * ptrdiff_t{pairRow}, topChroma = 16 * ptrdiff_t{pairRow};
        const ptrdiff_t lumaLine = field ? topLine + bottom : topLine + 16 * bottom;
        const ptrdiff_t chromaLine = field ? topChroma + bottom : topChroma + 8 * bottom;
        const int pitch = field ? 2 * framePitch : framePitch;
        uint8_t* y = pv.y + lumaLine * framePitch + 16 * x;
        const ptrdiff_t chroma = chromaLine * framePitch + 8 * x;
        // Left: the same-position macroblock of a pair coded alike, else line by line.
        const MacroblockInfo* leftTop = x > 0 ? &mbInfo[2 * pairRow * width + x - 1] : nullptr;
        const MacroblockInfo* left = nullptr;
        bool mixedLeft = false;
        if (leftTop != nullptr) {
            mixedLeft = ((leftTop->flags & kMbField) != 0) != field;
            const MacroblockInfo* same = leftTop + bottom * width;
            if (!mixedLeft && Usable(cur, same)) left = same;
        }
        // Top: a frame macroblock's is the line above it (its pair's top macroblock, or the
        // bottom one of a frame pair above); a field macroblock's the lines of its parity in
        // the pair above. A top frame macroblock under a field pair filters its top edge
        // twice, each parity of its lines against the field macroblock of that parity.
        const MacroblockInfo* top = nullptr;
        const MacroblockInfo* aboveTop = pairRow > 0 ? &mbInfo[(2 * pairRow - 2) * width + x] : nullptr;
        const bool aboveField = aboveTop != nullptr && (aboveTop->flags & kMbField) != 0;
        bool mixedTop = false, splitTop = false;
        if (!field && bottom) {
            top = cur - width;
        } else if (aboveTop != nullptr) {
            if (!field && aboveField) {
                splitTop = true;
            } else {
                top = field && aboveField ? aboveTop + bottom * width : aboveTop + width;
                mixedTop = field && !aboveField;
            }
        }
        if (top != nullptr && !Usable(cur, top)) top = nullptr;
        EdgeStrengths e{};
        if (!ComputeStrengths(cur, left, mixedTop ? nullptr : top, &e) && !mixedLeft && !mixedTop && !splitTop) return;
        // Vertical edges first (the left one, then the inner ones), then horizontal ones.
        EdgeStrengths vertical = e;
        std::memset(vertical.bs[1], 0, sizeof vertical.bs[1]);
        if (mixedLeft) FilterMixedLeft(y, chroma, pitch, cur, field, bottom != 0, leftTop);
        FilterLumaEdges(y, pitch, vertical, cur, left, nullptr, k);
        FilterChromaEdges(pv.u + chroma, pv.v + chroma, pitch, vertical, cur, left, nullptr, k);
        if (splitTop) {
            for (int parity = 0; parity < 2; ++parity) {
                const MacroblockInfo* p = aboveTop + parity * width;
                if (Usable(cur, p))
                    FilterTop(y + parity * framePitch, chroma + parity * framePitch, 2 * framePitch, cur, p, true);
            }
        } else if (mixedTop && top != nullptr) {
            FilterTop(y, chroma, pitch, cur, top, true);
        }
        EdgeStrengths horizontal = e;
        std::memset(horizontal.bs[0], 0, sizeof horizontal.bs[0]);
        if (mixedTop) std::memset(horizontal.bs[1][0], 0, 4);
        FilterLumaEdges(y, pitch, horizontal, cur, nullptr, mixedTop ? nullptr : top, k);
        FilterChromaEdges(pv.u + chroma, pv.v + chroma, pitch, horizontal, cur, nullptr, mixedTop ? nullptr : top, k);
    }
};

}  // namespace

// One macroblock's edge record of a deblocking pass: its boundary strengths and the
// neighbours its outer edges are filtered against (-1: that edge stays as it is).
struct MacroblockEdges {
    EdgeStrengths strengths;
    int32_t left, top;
    bool filtered;  // false: not decoded in this picture, filter off, or every bS 0
};

namespace {

constexpr int32_t kNever = INT32_MAX;
// Rows the worker waits for before it wakes for more: fewer wake-ups against a longer
// tail left for the end of the picture.
constexpr int32_t kRowBatch = 4;
// A tail of at most this many rows is filtered by the decoding thread alone: waking the
// worker for it would cost more than it saves.
constexpr int32_t kInlineRows = 3;

// Other than kAlongside only in tests (SetRowDeblocking).
std::atomic<RowDeblocking> g_rowDeblocking{RowDeblocking::kAlongside};

}  // namespace

// The deblocking worker. While a frame arrives in decoding order it filters each
// macroblock row as soon as the row below it is decoded, alongside the decoding thread
// (see DeblockRowDecoded for why that is safe). When the picture is complete, the rows
// still left are filtered by a whole-picture pass: the boundary strengths in rows taken by
// both threads, then the chroma planes on the worker while the decoding thread filters
// luma. A posted pass the worker has not yet taken is taken back by the decoding thread,
// and the rows are taken one at a time under the lock, so each thread only ever waits for
// work in progress of the other, which is finite. Without a thread of its own (one-thread
// decoding) the decoding thread filters each row itself as soon as it may, while the row's
// samples are still in the cache, and the rows left once the picture is complete.
struct DeblockWorker {
    std::mutex lock;
    std::condition_variable wake;      // to the worker: rows decoded, a pass posted, its strengths in, or stop
    std::condition_variable finished;  // to the decoding thread: a row, the strengths or the pass done
    bool stop = false;
    // The picture: set when it starts (rows) or when a pass is posted.
    PlaneView planes{};
    const MacroblockInfo* mbInfo = nullptr;
    int32_t picWidthInMbs = 0;
    int32_t mbCount = 0;
    int32_t firstSlice = 0;
    std::vector<MacroblockEdges> edges;  // one record per macroblock of the frame
    // A reference picture's borders are padded row by row with its rows (luma samples).
    bool padRows = false;
    int32_t width = 0, height = 0, border = 0;

    // Rows filtered while the picture is decoded. rowsOpen, rowsTaken and rowsFiltered
    // are under the lock; the worker takes row rowsTaken only when rowsFiltered equals it.
    bool rowsOpen = false;
    bool lockstep = false;  // the decoding thread waits for each row it completes (tests)
    int32_t rowsTaken = 0;
    int32_t rowsFiltered = 0;
    std::atomic<int32_t> rowsDecoded{0};  // complete rows in decoding order, stored by the decoding thread
    // While the worker sleeps (`sleeping`, under the lock), the rowsDecoded it waits for;
    // else kNever. Written under the lock, read by the decoding thread without it.
    std::atomic<int32_t> wakeAt{kNever};
    bool sleeping = false;

    // The whole-picture pass over rows [firstRow, Rows()).
    enum class State { kIdle, kPosted, kRunning, kDone } state = State::kIdle;
    int32_t firstRow = 0;
    // Rows whose strengths are handed out and whose strengths are in; the edge records of
    // a row are written by the thread that took it, before it counts it.
    std::atomic<int32_t> nextRow{0};
    std::atomic<int32_t> rowsDone{0};
    std::thread thread;
    bool threaded = true;  // false: the decoding thread filters every row itself

    int32_t Rows() const { return mbCount / picWidthInMbs; }
    bool StrengthsIn() const { return rowsDone.load(std::memory_order_acquire) == Rows(); }
};

namespace {

// Neighbours and boundary strengths of macroblocks [begin, end) into their edge records.
void ComputeEdges(const MacroblockInfo* mbInfo, MacroblockEdges* edges, int32_t w, int32_t first, int32_t begin,
                  int32_t end) {
    for (int32_t n = begin, x = begin % w; n < end; ++n, x = x + 1 == w ? 0 : x + 1) {
        const MacroblockInfo* cur = &mbInfo[n];
        MacroblockEdges& e = edges[n];
        if (cur->sliceNumber < first || cur->disableDeblockingFilterIdc == 1) {
            e.filtered = false;
            continue;
        }
        // Neighbours not decoded in this picture, or of another slice under idc 2, keep
        // their edge unfiltered.
        auto usable = [&](const MacroblockInfo* m) {
            return m->sliceNumber >= first &&
                   (cur->disableDeblockingFilterIdc != 2 || m->sliceNumber == cur->sliceNumber);
        };
        const int32_t left = x > 0 && usable(cur - 1) ? n - 1 : -1;
        const int32_t top = n >= w && usable(cur - w) ? n - w : -1;
        e.left = left;
        e.top = top;
        e.filtered = ComputeStrengths(cur, left >= 0 ? cur - 1 : nullptr, top >= 0 ? cur - w : nullptr, &e.strengths);
    }
}

// Filters the luma or both chroma planes of macroblocks [begin, end).
void FilterPlanes(const PlaneView& pv, const MacroblockInfo* mbInfo, const MacroblockEdges* edges,
                  int32_t picWidthInMbs, int32_t begin, int32_t end, bool luma) {
    const DecoderKernelTable& k = DecoderKernels();
    for (int32_t n = begin, x = begin % picWidthInMbs, y = begin / picWidthInMbs; n < end;
         ++n, x = x + 1 == picWidthInMbs ? 0 : x + 1, y += x == 0) {
        const MacroblockEdges& e = edges[n];
        if (!e.filtered) continue;
        const MacroblockInfo* left = e.left >= 0 ? &mbInfo[e.left] : nullptr;
        const MacroblockInfo* top = e.top >= 0 ? &mbInfo[e.top] : nullptr;
        if (luma) {
            FilterLumaEdges(pv.y + 16 * y * pv.pitch + 16 * x, pv.pitch, e.strengths, &mbInfo[n], left, top, k);
        } else {
            const ptrdiff_t at = 8 * y * pv.pitch + 8 * x;
            FilterChromaEdges(pv.u + at, pv.v + at, pv.pitch, e.strengths, &mbInfo[n], left, top, k);
        }
    }
}

// Luma lines whose samples are final once `rows` rows are filtered in order.
int32_t PaddedLines(const DeblockWorker* wk, int32_t rows) {
    return rows == 0 ? 0 : rows == wk->Rows() ? wk->height : 16 * rows - 3;
}

// Strengths, luma and chroma of one macroblock row: with the rows before it filtered, the
// row ends as the whole-picture pass leaves it (clause 8.7 filters macroblocks in address
// order, each against its left and top neighbours as already filtered).
void FilterRow(DeblockWorker* wk, int32_t row) {
    const int32_t w = wk->picWidthInMbs, begin = row * w, end = begin + w;
    MacroblockEdges* edges = wk->edges.data();
    ComputeEdges(wk->mbInfo, edges, w, wk->firstSlice, begin, end);
    FilterPlanes(wk->planes, wk->mbInfo, edges, w, begin, end, true);
    FilterPlanes(wk->planes, wk->mbInfo, edges, w, begin, end, false);
    // The row's lines are final up to three above its bottom edge, which the next row's
    // filtering may still change; the lines of the row above are final now.
    if (wk->padRows)
        PadPictureLines(wk->planes, wk->width, wk->height, wk->border, PaddedLines(wk, row), PaddedLines(wk, row + 1));
}

// Under the lock: whether the worker may take the next row. Row r is final once row r + 1
// is decoded (whose intra prediction read row r unfiltered), or once every row is.
bool RowReady(const DeblockWorker* wk) {
    if (!wk->rowsOpen || wk->rowsTaken != wk->rowsFiltered || wk->rowsTaken == wk->Rows()) return false;
    const int32_t decoded = wk->rowsDecoded.load(std::memory_order_seq_cst);
    return wk->rowsTaken + 2 <= decoded || decoded == wk->Rows();
}

// Under the lock, while the worker sleeps or is about to: the rowsDecoded that should wake it.
int32_t WakeThreshold(const DeblockWorker* wk) {
    if (!wk->rowsOpen || wk->rowsTaken == wk->Rows()) return kNever;
    return std::min(wk->rowsTaken + 1 + kRowBatch, wk->Rows());
}

// Takes rows of strength computation until none is left.
void StrengthRows(DeblockWorker* wk) {
    const int32_t w = wk->picWidthInMbs, rows = wk->Rows();
    for (int32_t row = wk->nextRow.fetch_add(1, std::memory_order_relaxed); row < rows;
         row = wk->nextRow.fetch_add(1, std::memory_order_relaxed)) {
        ComputeEdges(wk->mbInfo, wk->edges.data(), w, wk->firstSlice, row * w, (row + 1) * w);
        wk->rowsDone.fetch_add(1, std::memory_order_release);
    }
}

void FilterChroma(DeblockWorker* wk) {
    FilterPlanes(wk->planes, wk->mbInfo, wk->edges.data(), wk->picWidthInMbs, wk->firstRow * wk->picWidthInMbs,
                 wk->mbCount, false);
}

// The worker's share of a posted whole-picture pass; called and returning with the lock held.
void RunPass(DeblockWorker* wk, std::unique_lock<std::mutex>& hold) {
    wk->state = DeblockWorker::State::kRunning;
    hold.unlock();
    StrengthRows(wk);
    hold.lock();
    wk->finished.notify_one();
    // Rows still out are in progress on the decoding thread, which then notifies.
    wk->wake.wait(hold, [wk] { return wk->StrengthsIn(); });
    hold.unlock();
    FilterChroma(wk);
    hold.lock();
    wk->state = DeblockWorker::State::kDone;
    wk->finished.notify_one();
}

void WorkerLoop(DeblockWorker* wk) {
    std::unique_lock<std::mutex> hold(wk->lock);
    for (;;) {
        if (wk->stop) return;
        if (wk->state == DeblockWorker::State::kPosted) {
            RunPass(wk, hold);
            continue;
        }
        if (RowReady(wk)) {
            const int32_t row = wk->rowsTaken++;
            hold.unlock();
            FilterRow(wk, row);
            hold.lock();
            wk->rowsFiltered = row + 1;
            wk->finished.notify_one();  // the decoding thread may be waiting for this row
            continue;
        }
        // The decoding thread stores rowsDecoded and then reads wakeAt; this thread stores
        // wakeAt and then reads rowsDecoded (both sequentially consistent), so at least one
        // of them sees the other's store: the worker does not sleep past the rows it wants,
        // or the decoding thread wakes it (under the lock, so only once it waits).
        const int32_t want = WakeThreshold(wk);
        wk->wakeAt.store(want, std::memory_order_seq_cst);
        if (wk->rowsDecoded.load(std::memory_order_seq_cst) < want) {
            wk->sleeping = true;
            wk->wake.wait(hold);
            wk->sleeping = false;
        }
        wk->wakeAt.store(kNever, std::memory_order_relaxed);
    }
}

// Stops the rows of the current picture: none is taken any more, and the one in progress
// is waited for. Returns the number of rows filtered.
int32_t CloseRows(DeblockWorker* wk) {
    std::unique_lock<std::mutex> hold(wk->lock);
    wk->rowsOpen = false;
    // A row in progress is on the worker, which notifies when it is done.
    wk->finished.wait(hold, [wk] { return wk->rowsTaken == wk->rowsFiltered; });
    return wk->rowsFiltered;
}

void SetPicture(DeblockWorker* wk, const AvcDecoderContext* ctx, const PictureRecord* pic) {
    wk->planes = pic->frame;
    wk->mbInfo = pic->mbInfo;
    wk->picWidthInMbs = ctx->picWidthInMbs;
    wk->mbCount = ctx->picSizeInMbs;
    wk->firstSlice = pic->firstSliceNumber;
    wk->padRows = pic->isReference != 0;
    wk->width = ctx->width;
    wk->height = ctx->picHeight;
    // A field's lines alternate with the other field's, in its borders too.
    wk->border = pic->structure != 0 ? ctx->planePool.border / 2 : ctx->planePool.border;
}

}  // namespace

DeblockWorker* StartDeblockWorker(int32_t mbCount, bool threaded) {
    auto* wk = new (std::nothrow) DeblockWorker;
    if (wk == nullptr) return nullptr;
    wk->threaded = threaded;
    try {
        wk->edges.resize(static_cast<size_t>(mbCount));
        if (threaded) wk->thread = std::thread(WorkerLoop, wk);
    } catch (...) {  // no memory or no thread: the caller refuses the picture size
        delete wk;
        return nullptr;
    }
    return wk;
}

void StopDeblockWorker(DeblockWorker* wk) {
    if (wk == nullptr) return;
    {
        std::lock_guard<std::mutex> hold(wk->lock);
        wk->stop = true;
    }
    wk->wake.notify_one();
    if (wk->threaded) wk->thread.join();  // an idle worker ends at once; a busy one after its row or pass
    delete wk;
}

void SetRowDeblocking(RowDeblocking mode) {
    g_rowDeblocking.store(mode);
}

void BeginDeblockRows(AvcDecoderContext* ctx, const PictureRecord* pic) {
    ctx->orderedMbs = 0;
    ctx->orderBroken = false;
    ctx->sliceInOrder = false;
    DeblockWorker* wk = ctx->deblockWorker;
    if (wk == nullptr) return;
    std::lock_guard<std::mutex> hold(wk->lock);
    SetPicture(wk, ctx, pic);
    wk->rowsDecoded.store(0, std::memory_order_relaxed);
    wk->rowsTaken = 0;
    wk->rowsFiltered = 0;
    const RowDeblocking mode = g_rowDeblocking.load(std::memory_order_relaxed);
    wk->rowsOpen = mode != RowDeblocking::kWholePicture;
    wk->lockstep = mode == RowDeblocking::kLockstep;
    // A sleeping worker's threshold belonged to the last picture.
    if (wk->sleeping) wk->wakeAt.store(WakeThreshold(wk), std::memory_order_seq_cst);
}

bool BeginSliceRows(AvcDecoderContext* ctx) {
    if (ctx->slice.MbaffFrameFlag) {
        // Pairs fill two rows at once and their edges mix frame and field lines: the
        // picture is filtered whole once complete.
        ctx->sliceInOrder = false;
        ctx->orderBroken = true;
        return true;
    }
    const int32_t first = ctx->slice.first_mb_in_slice, w = ctx->picWidthInMbs;
    // Rows complete in order may be filtered already; a slice that would decode into them
    // again (a repeated or overlapping slice, which no intact stream has) is refused, so
    // that the picture does not depend on how far the worker got.
    if (first < ctx->orderedMbs / w * w) return false;
    ctx->sliceInOrder = !ctx->orderBroken && ctx->activePps->num_slice_groups_minus1 == 0 && first == ctx->orderedMbs;
    ctx->orderBroken = !ctx->sliceInOrder;
    return true;
}

void EndSliceRows(AvcDecoderContext* ctx) {
    // Macroblocks are decoded one after another without slice groups; a slice that failed
    // stops at its last complete one, where the next slice may go on.
    if (ctx->sliceInOrder)
        ctx->orderedMbs = std::min(ctx->slice.first_mb_in_slice + ctx->decodedMbs, ctx->picSizeInMbs);
    ctx->sliceInOrder = false;
}

// Why filtering row r while row r + 2 and later are decoded gives the picture of the
// whole-picture pass (ITU-T H.264 clause 8.7; frames only, no MBAFF, no slice groups,
// slices in order, so rows 0..r + 1 hold their final samples and records):
// - filtering row r writes the samples of row r and the bottom three luma lines (one
//   chroma line) of row r - 1, and reads those, the fourth luma line (second chroma line)
//   above them and the records of rows r and r - 1;
// - the decoding thread writes only the macroblock it decodes and its record; it reads
//   the current picture's samples only for intra prediction, from the same slice's
//   neighbours A, B, C and D (row r + 1 at the earliest once row r + 1 is complete, whose
//   samples the filter has not touched), and the records of neighbours (prediction of
//   vectors, P_Skip, CABAC contexts), which the filter only reads; inter prediction reads
//   other pictures (a list entry standing in by the current picture fails the block);
// - a later slice can write only at its first_mb_in_slice and after, and BeginSliceRows
//   refuses one that starts inside the complete rows; so once every row is complete in
//   order the picture is final and the last row may be filtered too.
// rowsDecoded is stored with release semantics after the row's records and samples are
// written, and the worker reads it before it takes the row.
void DeblockRowDecoded(AvcDecoderContext* ctx, int32_t row) {
    DeblockWorker* wk = ctx->deblockWorker;
    if (!ctx->sliceInOrder || wk == nullptr) return;
    wk->rowsDecoded.store(row + 1, std::memory_order_seq_cst);
    if (!wk->threaded) {
        // Only this thread touches the rows: no lock is needed.
        while (RowReady(wk)) {
            const int32_t ready = wk->rowsTaken++;
            FilterRow(wk, ready);
            wk->rowsFiltered = ready + 1;
        }
    } else if (wk->lockstep) {
        // Every row that may be filtered is filtered before decoding goes on, so tests see
        // the earliest filtering the rules allow on every run.
        std::unique_lock<std::mutex> hold(wk->lock);
        wk->wake.notify_one();
        wk->finished.wait(hold, [wk] { return wk->rowsTaken == wk->rowsFiltered && !RowReady(wk); });
    } else if (row + 1 >= wk->wakeAt.load(std::memory_order_seq_cst)) {
        { std::lock_guard<std::mutex> hold(wk->lock); }  // the worker is then in its wait
        wk->wake.notify_one();
    }
}

void CloseDeblockRows(AvcDecoderContext* ctx) {
    if (ctx->deblockWorker != nullptr) CloseRows(ctx->deblockWorker);
}

int32_t DeblockPicture(AvcDecoderContext* ctx, PictureRecord* pic) {
    if (pic->mbaff && pic->structure == 0) {
        if (ctx->deblockWorker != nullptr) CloseRows(ctx->deblockWorker);
        if (pic->deblockWord == 0) return 0;
        const MbaffFilter filter{pic->frame, pic->mbInfo, ctx->picWidthInMbs, pic->firstSliceNumber, DecoderKernels()};
        for (int32_t pair = 0; pair < ctx->mbCount / 2; ++pair) {
            filter.FilterMacroblock(pair, 0);
            filter.FilterMacroblock(pair, 1);
        }
        return 0;
    }
    DeblockWorker* wk = ctx->deblockWorker;
    const int32_t w = ctx->picWidthInMbs, mbCount = ctx->picSizeInMbs, rows = mbCount / w;
    const int32_t firstRow = wk != nullptr ? CloseRows(wk) : 0;
    // Lines the rows filtered so far have padded (the worker's picture is this one).
    const int32_t padded = wk != nullptr && wk->padRows ? PaddedLines(wk, firstRow) : 0;
    // Every slice with disable_deblocking_filter_idc 1: the rows filtered (if any) were left as they were.
    if (pic->deblockWord == 0 || firstRow == rows) return padded;
    const int32_t first = pic->firstSliceNumber;
    if (wk == nullptr) {
        std::vector<MacroblockEdges> edges(static_cast<size_t>(mbCount));
        ComputeEdges(pic->mbInfo, edges.data(), w, first, 0, mbCount);
        FilterPlanes(pic->frame, pic->mbInfo, edges.data(), w, 0, mbCount, true);
        FilterPlanes(pic->frame, pic->mbInfo, edges.data(), w, 0, mbCount, false);
        return 0;
    }
    if (!wk->threaded || rows - firstRow <= kInlineRows) {
        {
            std::lock_guard<std::mutex> hold(wk->lock);
            SetPicture(wk, ctx, pic);
        }
        // The worker has no row and no pass (or no thread): the records and planes are this
        // thread's.
        for (int32_t row = firstRow; row < rows; ++row)
            FilterRow(wk, row);
        return wk->padRows ? ctx->picHeight : 0;
    }
    // Strengths first (both planes' passes read them), rows taken by both threads.
    MacroblockEdges* edges = wk->edges.data();
    const int32_t begin = firstRow * w;
    {
        std::lock_guard<std::mutex> hold(wk->lock);
        SetPicture(wk, ctx, pic);
        wk->firstRow = firstRow;
        wk->nextRow.store(firstRow, std::memory_order_relaxed);
        wk->rowsDone.store(firstRow, std::memory_order_relaxed);
        wk->state = DeblockWorker::State::kPosted;
    }
    wk->wake.notify_one();
    StrengthRows(wk);
    std::unique_lock<std::mutex> hold(wk->lock);
    if (wk->state == DeblockWorker::State::kPosted) {
        // Not taken yet (the worker is starved of processor time): do it all here.
        wk->state = DeblockWorker::State::kIdle;
        hold.unlock();
        FilterPlanes(pic->frame, pic->mbInfo, edges, w, begin, mbCount, true);
        FilterChroma(wk);
        return padded;
    }
    wk->wake.notify_one();  // the worker may wait for the rows this thread finished
    // Rows still out are in progress on the worker, which then notifies.
    wk->finished.wait(hold, [wk] { return wk->StrengthsIn(); });
    hold.unlock();
    FilterPlanes(pic->frame, pic->mbInfo, edges, w, begin, mbCount, true);
    hold.lock();
    wk->finished.wait(hold, [wk] { return wk->state == DeblockWorker::State::kDone; });
    wk->state = DeblockWorker::State::kIdle;
    return padded;
}

}  // namespace avcdec
