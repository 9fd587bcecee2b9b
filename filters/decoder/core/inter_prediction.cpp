// Inter prediction of P macroblocks: motion vector prediction (ITU-T H.264 clause 8.4.1),
// reference sample fetching with the picture's edges extended (clause 8.4.2.2), explicit
// weighted prediction (clause 8.4.2.3) and reconstruction with the residual.
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/decoder_result.h"
#include "filters/decoder/core/kernel_table.h"
#include "filters/decoder/core/picture_store.h"
#include "filters/decoder/core/slice_decoding.h"
#include "filters/decoder/core/slice_header.h"

namespace avcdec {

namespace {

// A neighbouring partition's motion for one list (clause 8.4.1.3.2): unavailable ones
// read as vector (0, 0) with reference index -1.
struct NeighbourMotion {
    int x, y, ref;
    bool available;
};

inline int Quadrant(int blk) {
    return (blk >> 3) * 2 + ((blk & 3) >> 1);
}

// The picture that entry refIdx (>= 0) of a list names, or null when the index lies outside
// the list or the entry is empty. A list without any picture stands the current one in for
// the missing entries, which cannot serve as its own reference, so that counts as none: a
// block predicted from it fails rather than leaving another picture's samples (or samples
// being filtered) as if predicted.
inline const PictureRecord* ListEntry(const AvcDecoderContext* ctx, int list, int refIdx) {
    const PictureStore* st = ctx->store;
    if (refIdx >= st->refListCount[list]) return nullptr;
    const PictureRecord* p = st->refList[list][refIdx];
    return p == ctx->decoding ? nullptr : p;
}

// The motion of 4x4 block blk (raster) of macroblock n for one list.
inline NeighbourMotion MotionOf(const MacroblockInfo* n, int list, int blk) {
    if (n == nullptr) return {0, 0, -1, false};
    const int ref = n->refIdx[list][Quadrant(blk)];
    if (ref < 0) return {0, 0, -1, true};
    return {n->mv[list][blk][0], n->mv[list][blk][1], ref, true};
}

// A neighbouring macroblock's motion as the current macroblock of an MBAFF frame reads
// it (clause 8.4.1.3.1): vertical components and reference indices between frame and
// field units.
inline NeighbourMotion Scaled(NeighbourMotion m, int scaling) {
    if (scaling == 0 || m.ref < 0) return m;
    if (scaling > 0) {
        m.y *= 2;
        m.ref >>= 1;
    } else {
        m.y /= 2;
        m.ref *= 2;
    }
    return m;
}

// The motion of 4x4 block (bx, by) relative to the current macroblock (bx -1..4, by -1..3),
// where blocks of the current macroblock count only once `decoded` has their bit.
NeighbourMotion Neighbour(const MacroblockWork* w, int list, int bx, int by, uint32_t decoded) {
    const MacroblockInfo* n;
    int blk;
    if (by < 0) {
        if (bx < 0) {
            n = w->mbD;
            blk = w->mbaff ? 4 * w->dRow + 3 : 15;
        } else if (bx > 3) {
            n = w->mbC;
            blk = 12;
        } else {
            n = w->mbB;
            blk = 12 + bx;
        }
    } else if (bx < 0) {
        int row = 0;
        n = LeftLuma(w, by, &row);
        blk = 4 * row + 3;
    } else if (bx > 3) {
        n = nullptr;  // right of the macroblock: not yet decoded
        blk = 0;
    } else {
        blk = 4 * by + bx;
        n = (decoded >> blk) & 1 ? w->cur : nullptr;
    }
    if (w->mbaff && n != w->cur) return Scaled(MotionOf(n, list, blk), FieldScaling(w, n));
    return MotionOf(n, list, blk);
}

// The raster bits (4 y + x) of the w4 x h4 blocks at (x4, y4): one row's bits repeated
// down h4 rows by a multiply (the rows do not overlap, so no carries).
inline uint32_t BlockMask(int x4, int y4, int w4, int h4) {
    constexpr uint32_t kRows[5] = {0, 0x1, 0x11, 0x111, 0x1111};
    return ((((1u << w4) - 1) << x4) * kRows[h4]) << (4 * y4);
}

inline int Median(int a, int b, int c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// The vector into the w4 x h4 blocks (w4 1, 2 or 4) at (x4, y4): whole vectors and vector
// pairs stored as words.
void FillMotion(MacroblockInfo* mb, int list, int x4, int y4, int w4, int h4, int mvx, int mvy) {
    const int16_t pair[4] = {static_cast<int16_t>(mvx), static_cast<int16_t>(mvy), static_cast<int16_t>(mvx),
                             static_cast<int16_t>(mvy)};
    uint64_t two;
    std::memcpy(&two, pair, 8);
    for (int y = y4; y < y4 + h4; ++y) {
        int16_t* row = mb->mv[list][4 * y + x4];
        if (w4 == 1) {
            std::memcpy(row, pair, 4);
        } else {
            std::memcpy(row, &two, 8);
            if (w4 == 4) std::memcpy(row + 4, &two, 8);
        }
    }
}

// A plane's readable extent: the picture area plus the replicated border around it.
struct PlaneGeometry {
    int width, height, side, above, below;
    // Whether [x0, x0 + bw) x [y0, y0 + bh) lies within the plane and its borders.
    bool Holds(int x0, int y0, int bw, int bh) const {
        return x0 >= -side && x0 + bw <= width + side && y0 >= -above && y0 + bh <= height + below;
    }
};

// The region [x0, x0 + bw) x [y0, y0 + bh) of a plane rebuilt in scratch with every sample
// taken from the nearest edge sample (clause 8.4.2.2's clipping of xInt and yInt), for a
// block that reaches past the replicated borders: no vector, however far out, reads
// outside the plane's memory.
const uint8_t* RebuildRegion(const uint8_t* plane, int pitch, const PlaneGeometry& g, int x0, int y0, int bw, int bh,
                             uint8_t* scratch, int scratchPitch) {
    for (int j = 0; j < bh; ++j) {
        const uint8_t* row = plane + static_cast<ptrdiff_t>(std::clamp(y0 + j, 0, g.height - 1)) * pitch;
        for (int i = 0; i < bw; ++i)
            scratch[j * scratchPitch + i] = row[std::clamp(x0 + i, 0, g.width - 1)];
    }
    return scratch;
}

constexpr int kScratchPitch = 32;

struct InterTarget {
    uint8_t* y;
    uint8_t* u;
    uint8_t* v;
    int pitch;
    int lumaX, lumaY;  // the macroblock's top-left sample, in field lines for fields
    int height;        // luma lines of the frame or field predicted in
    int structure;     // 0 frame, 1 top field, 2 bottom field (picture or macroblock)
};

// The current macroblock's samples in the picture being decoded. A field macroblock of an
// MBAFF frame predicts as a macroblock of its field (clause 8.4.2.1).
InterTarget MacroblockTarget(const AvcDecoderContext* ctx, const MacroblockWork* w) {
    const PlaneView& pv = ctx->decoding->frame;
    const MbPlacement at = PlaceMacroblock(w, pv.pitch);
    const int field = w->fieldMb ? 1 : 0;
    return {pv.y + at.luma, pv.u + at.chroma,       pv.v + at.chroma,        at.pitch,
            16 * w->mbX,    16 * (w->mbY >> field), ctx->picHeight >> field, w->structure};
}

// Rows of n bytes (16 or 8), four a step: the four loads go out before the stores.
template <int kBytes>
inline void CopyRows(uint8_t* dst, ptrdiff_t dp, const uint8_t* src, ptrdiff_t sp, int rows) {
    for (int y = 0; y < rows; y += 4, src += 4 * sp, dst += 4 * dp) {
        uint8_t r0[kBytes], r1[kBytes], r2[kBytes], r3[kBytes];
        std::memcpy(r0, src, kBytes);
        std::memcpy(r1, src + sp, kBytes);
        std::memcpy(r2, src + 2 * sp, kBytes);
        std::memcpy(r3, src + 3 * sp, kBytes);
        std::memcpy(dst, r0, kBytes);
        std::memcpy(dst + dp, r1, kBytes);
        std::memcpy(dst + 2 * dp, r2, kBytes);
        std::memcpy(dst + 3 * dp, r3, kBytes);
    }
}

// The macroblock at srcY in the reference's luma plane and at chroma offset srcC in both
// of its chroma planes, copied into the target macroblock.
void CopyMacroblock(const uint8_t* srcY, ptrdiff_t srcC, const PlaneView& r, const InterTarget& t) {
    CopyRows<16>(t.y, t.pitch, srcY, r.pitch, 16);
    CopyRows<8>(t.u, t.pitch, r.u + srcC, r.pitch, 8);
    CopyRows<8>(t.v, t.pitch, r.v + srcC, r.pitch, 8);
}

// Motion compensation of one partition (px, py, pw, ph in luma samples inside the
// macroblock) from one reference picture, unweighted. The kernels read straight from the
// reference planes unless the block reaches past their borders. Positions, sizes and
// dimensions are never negative here, so halving is a shift.
void InterpolatePartition(const AvcDecoderContext* ctx, const DecoderKernelTable& k, const PictureRecord* ref,
                          const InterTarget& t, int px, int py, int pw, int ph, int mvx, int mvy) {
    alignas(16) uint8_t scratch[21 * kScratchPitch];
    const PlaneView& r = ref->frame;
    const int pitch = r.pitch;
    // A field's rows above and below lie in borders padded for the frame: a block that
    // reaches there is rebuilt from the field's own edge rows.
    const int border = ref->structure == 0 ? ctx->planePool.border : 0;
    const int width = ctx->width, height = t.height;
    const int bx = t.lumaX + px, by = t.lumaY + py;
    // The luma kernel reads columns -2 .. max(pw, 8) + 2 and rows -2 .. ph + 2 around the
    // integer position.
    const int xs = bx + (mvx >> 2), ys = by + (mvy >> 2);
    const PlaneGeometry luma{width, height, 32, border, std::max(border - 1, 0)};
    const int lw = std::max(pw, 8) + 5, lh = ph + 5;
    const bool lumaInside = luma.Holds(xs - 2, ys - 2, lw, lh);
    // Clause 8.4.1.4: a field predicting from a field of the other parity moves its chroma
    // vector by a quarter chroma line toward that field's lines (Table 8-10).
    const int cmvy = mvy + 2 * (t.structure - ref->structure);
    // Both chroma planes share the geometry, so one test serves both.
    const int cw = pw >> 1, ch = ph >> 1;
    const int xc = (bx >> 1) + (mvx >> 3), yc = (by >> 1) + (cmvy >> 3);
    const PlaneGeometry chroma{width >> 1, height >> 1, 16, border >> 1, border >> 1};
    const int cbw = std::max(cw, 8) + 1, cbh = ch + 1;
    const bool chromaInside = chroma.Holds(xc, yc, cbw, cbh);
    if (pw == 16 && ph == 16 && ((mvx | mvy | cmvy) & 7) == 0 && lumaInside && chromaInside) {
        // The commonest partition by far (P_Skip of a still or panned area): whole samples in
        // all three planes, so a copy of the reference macroblock, done here without the
        // kernels' dispatch.
        CopyMacroblock(r.y + static_cast<ptrdiff_t>(ys) * pitch + xs, static_cast<ptrdiff_t>(yc) * pitch + xc, r, t);
        return;
    }
    const uint8_t* src;
    int sp = pitch;
    if (lumaInside) {
        src = r.y + static_cast<ptrdiff_t>(ys) * pitch + xs;
    } else {
        src = RebuildRegion(r.y, pitch, luma, xs - 2, ys - 2, lw, lh, scratch, kScratchPitch) + 2 * kScratchPitch + 2;
        sp = kScratchPitch;
    }
    k.lumaBlocks[LumaBlockIndex(mvx & 3, mvy & 3, pw)](t.y + py * t.pitch + px, t.pitch, src, sp, ph);

    const uint8_t *srcU, *srcV;
    sp = pitch;
    if (chromaInside) {
        const ptrdiff_t at = static_cast<ptrdiff_t>(yc) * pitch + xc;
        srcU = r.u + at;
        srcV = r.v + at;
    } else {
        srcU = RebuildRegion(r.u, pitch, chroma, xc, yc, cbw, cbh, scratch, kScratchPitch);
        srcV = RebuildRegion(r.v, pitch, chroma, xc, yc, cbw, cbh, scratch + 10 * kScratchPitch, kScratchPitch);
        sp = kScratchPitch;
    }
    const int off = (py >> 1) * t.pitch + (px >> 1);
    k.chromaBlocks[ChromaBlockIndex(cw)](t.u + off, t.v + off, t.pitch, srcU, srcV, sp, ch, mvx & 7, cmvy & 7);
}

// Asks the cache for the lines the macroblock four to the right is likely to touch, so
// that they arrive while this one and the next three are decoded: the reference rows at
// this macroblock's vector moved 64 samples right, four luma rows (staggered by the
// macroblock's column so that four macroblocks cover sixteen) and two rows of each chroma
// plane; and the same rows of the picture being decoded, which the prediction is written
// into (a store into a line not in the cache waits for it just as a load does). Reference
// positions are clamped into the padded planes.
void PrefetchReference(const AvcDecoderContext* ctx, const PictureRecord* ref, const InterTarget& t, int mvx, int mvy) {
    const PlaneView& r = ref->frame;
    const int border = ref->structure == 0 ? ctx->planePool.border : ctx->planePool.border / 2;
    const int stagger = (t.lumaX >> 4) & 3;
    const int x = std::clamp(t.lumaX + (mvx >> 2) + 64, -32, ctx->width + 16);
    const int y = std::clamp(t.lumaY + (mvy >> 2) + stagger * 4, -border, t.height + border - 5);
    const uint8_t* p = r.y + static_cast<ptrdiff_t>(y) * r.pitch + x;
    for (int j = 0; j < 4; ++j)
        __builtin_prefetch(p + j * r.pitch);
    const ptrdiff_t c = static_cast<ptrdiff_t>(y / 2) * r.pitch + x / 2;
    __builtin_prefetch(r.u + c);
    __builtin_prefetch(r.u + c + r.pitch);
    __builtin_prefetch(r.v + c);
    __builtin_prefetch(r.v + c + r.pitch);
    if (t.lumaX + 64 < ctx->width) {
        const uint8_t* d = t.y + 64 + stagger * 4 * t.pitch;
        for (int j = 0; j < 4; ++j)
            __builtin_prefetch(d + j * t.pitch, 1);
        const ptrdiff_t dc = stagger * 2 * t.pitch + 32;
        __builtin_prefetch(t.u + dc, 1);
        __builtin_prefetch(t.u + dc + t.pitch, 1);
        __builtin_prefetch(t.v + dc, 1);
        __builtin_prefetch(t.v + dc + t.pitch, 1);
    }
}

// Explicit weighting (clause 8.4.2.3.2) of a partition predicted from one list whose
// reference has weights other than the defaults.
[[gnu::noinline]] void WeightNonDefault(const AvcDecoderContext* ctx, const DecoderKernelTable& k, const InterTarget& t,
                                        int list, int refIdx, int px, int py, int pw, int ph) {
    const int cw = pw / 2, ch = ph / 2;
    uint8_t* dstY = t.y + py * t.pitch + px;
    uint8_t* dstU = t.u + (py / 2) * t.pitch + px / 2;
    uint8_t* dstV = t.v + (py / 2) * t.pitch + px / 2;
    const PredWeightTable* wt = ctx->predWeights;
    const int lumaDenom = wt->luma_log2_weight_denom, chromaDenom = wt->chroma_log2_weight_denom;
    const int32_t* weight = wt->weight[list][refIdx];
    const int32_t* offset = wt->offset[list][refIdx];
    // A component with the default weight and no offset keeps its prediction unchanged.
    if (weight[0] != (1 << lumaDenom) || offset[0] != 0)
        k.weight(dstY, t.pitch, pw, ph, weight[0], offset[0], lumaDenom);
    if (weight[1] != (1 << chromaDenom) || offset[1] != 0)
        k.weight(dstU, t.pitch, cw, ch, weight[1], offset[1], chromaDenom);
    if (weight[2] != (1 << chromaDenom) || offset[2] != 0)
        k.weight(dstV, t.pitch, cw, ch, weight[2], offset[2], chromaDenom);
}

// Explicit weighting of a partition predicted from one list: nothing beyond one bit test
// for a reference whose weights are the defaults (the slice header marks the others).
inline void WeightPartition(const AvcDecoderContext* ctx, const DecoderKernelTable& k, const InterTarget& t, int list,
                            int refIdx, int px, int py, int pw, int ph) {
    if ((ctx->predWeights->weightedRefs[list] >> refIdx & 1) == 0) return;
    WeightNonDefault(ctx, k, t, list, refIdx, px, py, pw, ph);
}

// The partitions of an inter macroblock as (x4, y4, w4, h4) in 4x4 blocks, in decoding
// order; returns their count.
int ListPartitions(const MacroblockInfo* mb, int parts[16][4]) {
    int count = 0;
    switch (mb->kind == kMbSkip ? 0 : mb->partShape) {
        case 0:
            parts[count++][0] = 0, parts[0][1] = 0, parts[0][2] = 4, parts[0][3] = 4;
            break;
        case 1:
            for (int i = 0; i < 2; ++i, ++count)
                parts[count][0] = 0, parts[count][1] = 2 * i, parts[count][2] = 4, parts[count][3] = 2;
            break;
        case 2:
            for (int i = 0; i < 2; ++i, ++count)
                parts[count][0] = 2 * i, parts[count][1] = 0, parts[count][2] = 2, parts[count][3] = 4;
            break;
        default:
            for (int b8 = 0; b8 < 4; ++b8) {
                const int x8 = (b8 & 1) * 2, y8 = (b8 >> 1) * 2;
                const int shape = mb->subShape[b8];
                const int sw = shape == 0 || shape == 1 ? 2 : 1, sh = shape == 0 || shape == 2 ? 2 : 1;
                for (int sy = 0; sy < 2; sy += sh)
                    for (int sx = 0; sx < 2; sx += sw, ++count)
                        parts[count][0] = x8 + sx, parts[count][1] = y8 + sy, parts[count][2] = sw,
                        parts[count][3] = sh;
            }
            break;
    }
    return count;
}

void AddInterResidual(const DecoderKernelTable& k, const MacroblockWork* w, const InterTarget& t) {
    // Only the blocks with coefficients (bit b of nonZero: luma raster 0..15, Cb 16..19,
    // Cr 20..23).
    for (uint32_t blocks = w->nonZero; blocks != 0; blocks &= blocks - 1) {
        const int b = std::countr_zero(blocks);
        uint8_t* dst;
        if (b < 16) {
            dst = t.y + 4 * (b / 4) * t.pitch + 4 * (b % 4);
        } else {
            const int c = (b - 16) & 3;
            dst = (b < 20 ? t.u : t.v) + 4 * (c / 2) * t.pitch + 4 * (c % 2);
        }
        AddResidual(k, w, b, dst, t.pitch);
    }
}

// The kSameMotion bits of an inter macroblock from its reconstructed motion in the first
// `lists` lists (1 for P macroblocks, whose list 1 is unused). Vectors of a list an 8x8
// block of a B macroblock does not use are compared too (they are zero), which can only
// make the answer more cautious. A row of four vectors is two 64-bit words of two vectors.
uint8_t SameMotion(const MacroblockInfo* mb, int lists) {
    // Branch-free: the answers are and-ed, not short-circuited.
    uint64_t v[2][8];  // v[list][2 * row]: blocks 0 and 1 of the row; [2 * row + 1]: 2 and 3
    std::memcpy(v, mb->mv, sizeof v[0] * lists);
    auto pair = [](uint64_t w) { return static_cast<uint32_t>(w) == static_cast<uint32_t>(w >> 32); };
    bool in8x8 = true, in16x16 = true;
    for (int list = 0; list < lists; ++list) {
        const uint64_t* r = v[list];
        // Within 8x8 blocks: rows 0 = 1 and 2 = 3, and in rows 0 and 2 columns 0 = 1, 2 = 3.
        in8x8 &= (r[0] == r[2]) & (r[1] == r[3]) & (r[4] == r[6]) & (r[5] == r[7]) & pair(r[0]) & pair(r[1]) &
                 pair(r[4]) & pair(r[5]);
        // Over the macroblock besides: the 8x8 blocks' first vectors and references agree.
        const int32_t* id = mb->refPicId[list];
        in16x16 &=
            (r[1] == r[0]) & (r[4] == r[0]) & (r[5] == r[0]) & (id[1] == id[0]) & (id[2] == id[0]) & (id[3] == id[0]);
    }
    if (!in8x8) return 0;
    return in16x16 ? kSameMotionIn8x8 | kSameMotionIn16x16 : kSameMotionIn8x8;
}

}  // namespace

namespace {

// The median rule of clause 8.4.1.3.1 over A, B and C (C already replaced by D where
// unavailable), with B and C taking A's motion when only A is available.
inline void MedianPrediction(NeighbourMotion a, NeighbourMotion b, NeighbourMotion c, int ref, int* mvx, int* mvy) {
    if (!b.available && !c.available && a.available) b = c = a;
    const int matches = (a.ref == ref) + (b.ref == ref) + (c.ref == ref);
    if (matches == 1) {
        const NeighbourMotion& pick = a.ref == ref ? a : b.ref == ref ? b : c;
        *mvx = pick.x;
        *mvy = pick.y;
        return;
    }
    *mvx = Median(a.x, b.x, c.x);
    *mvy = Median(a.y, b.y, c.y);
}

// mvpLX (clause 8.4.1.3) from the neighbours A, B and C (C already replaced by D where
// unavailable) of the partition at (x4, y4) of w4 x h4 blocks with reference index ref.
void PredictFromNeighbours(NeighbourMotion a, NeighbourMotion b, NeighbourMotion c, int x4, int y4, int w4, int h4,
                           int ref, int* mvx, int* mvy) {
    const NeighbourMotion* pick = nullptr;
    if (w4 == 4 && h4 == 2)
        pick = y4 == 0 ? (b.ref == ref ? &b : nullptr) : (a.ref == ref ? &a : nullptr);
    else if (w4 == 2 && h4 == 4)
        pick = x4 == 0 ? (a.ref == ref ? &a : nullptr) : (c.ref == ref ? &c : nullptr);
    if (pick == nullptr) {
        MedianPrediction(a, b, c, ref, mvx, mvy);
        return;
    }
    *mvx = pick->x;
    *mvy = pick->y;
}

// mvpLX of the macroblock as one 16x16 partition from the neighbours A (block 3 of the
// left macroblock) and B (block 12 of the one above): C is block 12 of the above-right
// macroblock or, where that is unavailable, block 15 of the above-left one.
inline void Predict16x16(const MacroblockWork* w, int list, int ref, const NeighbourMotion& a, const NeighbourMotion& b,
                         int* mvx, int* mvy) {
    NeighbourMotion c;
    if (w->mbaff)
        c = w->mbC != nullptr ? Neighbour(w, list, 4, -1, 0) : Neighbour(w, list, -1, -1, 0);
    else
        c = w->mbC != nullptr ? MotionOf(w->mbC, list, 12) : MotionOf(w->mbD, list, 15);
    MedianPrediction(a, b, c, ref, mvx, mvy);
}

// A (block 3 of the left macroblock) and B (block 12 of the one above) of the macroblock
// as one partition.
inline NeighbourMotion LeftMotion(const MacroblockWork* w, int list) {
    return w->mbaff ? Neighbour(w, list, -1, 0, 0) : MotionOf(w->mbA, list, 3);
}
inline NeighbourMotion AboveMotion(const MacroblockWork* w, int list) {
    return w->mbaff ? Neighbour(w, list, 0, -1, 0) : MotionOf(w->mbB, list, 12);
}

}  // namespace

// mvpLX of the partition at (x4, y4) of w4 x h4 blocks (clause 8.4.1.3), directional rules
// for 16x8 and 8x16 partitions included.
void PredictPartitionMv(const MacroblockWork* w, int list, int x4, int y4, int w4, int h4, int ref, uint32_t decoded,
                        int* mvx, int* mvy) {
    const NeighbourMotion a = Neighbour(w, list, x4 - 1, y4, decoded);
    const NeighbourMotion b = Neighbour(w, list, x4, y4 - 1, decoded);
    NeighbourMotion c = Neighbour(w, list, x4 + w4, y4 - 1, decoded);
    if (!c.available) {
        if (w->mbaff && x4 == 0 && y4 > 0) {
            // D left of the line above the partition: in an MBAFF frame not necessarily the
            // macroblock left of its first line.
            const MacroblockInfo* n = w->left[5 + y4];
            c = Scaled(MotionOf(n, list, 4 * w->leftRow[5 + y4] + 3), FieldScaling(w, n));
        } else {
            c = Neighbour(w, list, x4 - 1, y4 - 1, decoded);
        }
    }
    PredictFromNeighbours(a, b, c, x4, y4, w4, h4, ref, mvx, mvy);
}

void DerivePSkipMv(const MacroblockWork* w, int* mvx, int* mvy) {
    *mvx = *mvy = 0;
    if (w->mbA == nullptr || w->mbB == nullptr) return;
    const NeighbourMotion a = LeftMotion(w, 0), b = AboveMotion(w, 0);
    if ((a.ref == 0 && a.x == 0 && a.y == 0) || (b.ref == 0 && b.x == 0 && b.y == 0)) return;
    Predict16x16(w, 0, 0, a, b, mvx, mvy);
}

bool ColocatedZero(const PictureRecord* colPic, const MacroblockInfo* colMb, int blk) {
    // colZeroFlag needs RefPicList1[0] to be a short-term reference (clause 8.4.1.2.2).
    if (colPic == nullptr || (colPic->flags & kPicLongTermMask) != 0 || (colMb->flags & kMbIntra) != 0) return false;
    const int q = Quadrant(blk);
    const int list = colMb->refIdx[0][q] >= 0 ? 0 : 1;
    if (colMb->refIdx[list][q] != 0) return false;
    const int16_t* mv = colMb->mv[list][blk];
    return mv[0] >= -1 && mv[0] <= 1 && mv[1] >= -1 && mv[1] <= 1;
}

namespace {

// P_Skip and P_L0_16x16: one reference and one vector for the whole macroblock, so the
// reference check, the picture identity and the same-motion bits are settled once.
int ReconstructPSinglePartition(AvcDecoderContext* ctx, MacroblockWork* w, const DecoderKernelTable& k,
                                const InterTarget& t) {
    MacroblockInfo* mb = w->cur;
    const PictureStore* st = ctx->store;
    const int refIdx = mb->refIdx[0][0];
    if (refIdx < 0 || ListEntry(ctx, 0, refIdx) == nullptr) return kDecoderOutOfRange;
    const bool skip = mb->kind == kMbSkip;
    int mvx = 0, mvy = 0;
    if (skip) {
        DerivePSkipMv(w, &mvx, &mvy);
    } else {
        Predict16x16(w, 0, refIdx, LeftMotion(w, 0), AboveMotion(w, 0), &mvx, &mvy);
        // mvLX = mvpLX + mvdLX, kept in 16 bits as the record stores it.
        mvx = static_cast<int16_t>(mvx + mb->mvd[0][0][0]);
        mvy = static_cast<int16_t>(mvy + mb->mvd[0][0][1]);
    }
    FillMotion(mb, 0, 0, 0, 4, 4, mvx, mvy);
    const PictureRecord* ref = st->refList[0][refIdx];
    w->usedRefs |= uint64_t{1} << refIdx;
    InterpolatePartition(ctx, k, ref, t, 0, 0, 16, 16, mvx, mvy);
    PrefetchReference(ctx, ref, t, mvx, mvy);
    if (ctx->activePps->weighted_pred_flag) WeightPartition(ctx, k, t, 0, refIdx, 0, 0, 16, 16);
    const int32_t id = ref->planeIndex;
    for (int q = 0; q < 4; ++q)
        mb->refPicId[0][q] = id;
    // Sixteen list-0 vectors alike and one reference (list 1 is unused): what SameMotion
    // would find.
    mb->sameMotion = kSameMotionIn8x8 | kSameMotionIn16x16;
    if (!skip) AddInterResidual(k, w, t);
    return kDecoderOk;
}

}  // namespace

int ReconstructPMacroblock(AvcDecoderContext* ctx, MacroblockWork* w) {
    MacroblockInfo* mb = w->cur;
    const PictureStore* st = ctx->store;
    const InterTarget t = MacroblockTarget(ctx, w);
    const DecoderKernelTable& k = DecoderKernels();
    if (mb->kind == kMbSkip || mb->partShape == 0) return ReconstructPSinglePartition(ctx, w, k, t);
    // 16x8, 8x16 and 8x8: a reference index per partition.
    int parts[16][4];
    const int count = ListPartitions(mb, parts);
    uint32_t decoded = 0;
    for (int i = 0; i < count; ++i) {
        const int x4 = parts[i][0], y4 = parts[i][1], w4 = parts[i][2], h4 = parts[i][3];
        const int refIdx = mb->refIdx[0][Quadrant(4 * y4 + x4)];
        // A P partition always predicts from list 0; a missing index or picture fails the
        // macroblock.
        if (refIdx < 0 || ListEntry(ctx, 0, refIdx) == nullptr) return kDecoderOutOfRange;
        int mvx = 0, mvy = 0;
        PredictPartitionMv(w, 0, x4, y4, w4, h4, refIdx, decoded, &mvx, &mvy);
        mvx = static_cast<int16_t>(mvx + mb->mvd[0][4 * y4 + x4][0]);
        mvy = static_cast<int16_t>(mvy + mb->mvd[0][4 * y4 + x4][1]);
        FillMotion(mb, 0, x4, y4, w4, h4, mvx, mvy);
        decoded |= BlockMask(x4, y4, w4, h4);
        const PictureRecord* ref = st->refList[0][refIdx];
        w->usedRefs |= uint64_t{1} << refIdx;
        InterpolatePartition(ctx, k, ref, t, 4 * x4, 4 * y4, 4 * w4, 4 * h4, mvx, mvy);
        if (i == 0) PrefetchReference(ctx, ref, t, mvx, mvy);
        if (ctx->activePps->weighted_pred_flag) WeightPartition(ctx, k, t, 0, refIdx, 4 * x4, 4 * y4, 4 * w4, 4 * h4);
    }
    for (int q = 0; q < 4; ++q)
        mb->refPicId[0][q] = st->refList[0][mb->refIdx[0][q]]->planeIndex;
    mb->sameMotion = SameMotion(mb, 1);
    AddInterResidual(k, w, t);
    return kDecoderOk;
}

namespace {

// The 4x4 block (raster) at each corner of the macroblock, by 8x8 block: the co-located
// block of direct_8x8_inference_flag (clause 8.4.1.2.1).
constexpr int kCornerBlock[4] = {0, 3, 12, 15};

// Direct-mode state of one B macroblock (clause 8.4.1.2).
// How the co-located picture's macroblocks lie against the current ones (clause
// 8.4.1.2.1, Table 8-8): alike, a frame's under a field's (Frm_To_Fld), or a field's under
// a frame's (Fld_To_Frm).
enum class ColLayout { kSame, kFrameUnderField, kFieldUnderFrame };

struct DirectState {
    const PictureRecord* colPic;  // RefPicList1[0]
    // kSame: the co-located macroblock at the current address. kFrameUnderField: the frame
    // macroblock of the upper of the two frame rows the field macroblock covers.
    // kFieldUnderFrame: the macroblock of the chosen field at half the current row.
    const MacroblockInfo* colMb;
    ColLayout layout;
    int32_t width;      // PicWidthInMbs
    int32_t oddRow;     // kFieldUnderFrame: the current frame row is odd
    int32_t curPoc;     // order count of the current picture, or of a field macroblock's field
    int32_t structure;  // of the current picture or macroblock (0 frame, 1 top, 2 bottom field)
    bool spatial, inference;
    int ref[2];    // spatial: refIdxL0 and refIdxL1 (-1 none); both 0 for the zero prediction
    int mv[2][2];  // spatial: mvpLX of the macroblock as one 16x16 partition
    bool zeroPrediction;
};

int SetupDirect(const AvcDecoderContext* ctx, const MacroblockWork* w, DirectState* d) {
    const PictureStore* st = ctx->store;
    d->colPic = st->refListCount[1] > 0 ? st->refList[1][0] : nullptr;
    if (d->colPic == nullptr) return kDecoderOutOfRange;
    // A field picture over a frame-coded frame, or a frame picture over a field-coded one.
    const PictureRecord* colFrame = d->colPic->parent != nullptr ? d->colPic->parent : d->colPic;
    const int32_t structure = ctx->decoding->structure;
    const int32_t width = d->width = ctx->picWidthInMbs;
    const PictureRecord* cur = ctx->decoding;
    // Of a field macroblock: its field's order count; else the picture's.
    d->curPoc = w->fieldMb ? (w->structure == 1 ? cur->topFieldOrderCnt : cur->bottomFieldOrderCnt) : cur->picOrderCnt;
    // The field of a field-coded frame nearer in order count (the bottom one on a tie).
    auto nearerField = [&] {
        const int64_t poc = cur->picOrderCnt;
        return std::abs(colFrame->topFieldOrderCnt - poc) >= std::abs(colFrame->bottomFieldOrderCnt - poc) ? 1 : 0;
    };
    d->oddRow = w->mbY & 1;
    d->structure = w->structure;
    if (structure != 0 && !colFrame->fieldCoded && colFrame->fieldOf[0] != nullptr) {
        // A field over a frame: in an MBAFF frame a field pair offers the macroblock of the
        // co-located field's parity (clause 8.4.1.2.1).
        const MacroblockInfo* top = &colFrame->mbInfo[2 * width * w->mbY + w->mbX];
        if (colFrame->mbaff && (top->flags & kMbField) != 0) {
            d->layout = ColLayout::kSame;
            d->colMb = top + (d->colPic->structure == 2 ? width : 0);
        } else {
            d->layout = ColLayout::kFrameUnderField;
            d->colMb = top;
        }
    } else if (structure == 0 && w->mbaff) {
        // MBAFF: each macroblock against the co-located pair, frame or field, or a field of
        // a field-coded frame (the macroblock's own parity for a field macroblock).
        const int32_t pairTop = w->mbY & ~1;
        if (colFrame->fieldCoded) {
            const int parity = w->fieldMb ? w->structure - 1 : nearerField();
            d->layout = w->fieldMb ? ColLayout::kSame : ColLayout::kFieldUnderFrame;
            d->colMb = &colFrame->fieldOf[parity]->mbInfo[width * (w->mbY >> 1) + w->mbX];
        } else {
            const MacroblockInfo* at = &colFrame->mbInfo[width * w->mbY + w->mbX];
            const bool colField = colFrame->mbaff && (at->flags & kMbField) != 0;
            if (colField == w->fieldMb) {
                d->layout = ColLayout::kSame;
                d->colMb = at;
            } else if (colField) {
                d->layout = ColLayout::kFieldUnderFrame;
                d->colMb = &colFrame->mbInfo[width * (pairTop + nearerField()) + w->mbX];
            } else {
                d->layout = ColLayout::kFrameUnderField;
                d->colMb = &colFrame->mbInfo[width * pairTop + w->mbX];
            }
        }
    } else if (structure == 0 && colFrame->fieldCoded) {
        d->layout = ColLayout::kFieldUnderFrame;
        d->colMb = &colFrame->fieldOf[nearerField()]->mbInfo[width * (w->mbY >> 1) + w->mbX];
    } else {
        d->layout = ColLayout::kSame;
        d->colMb = &d->colPic->mbInfo[w->mbAddr];
    }
    d->spatial = ctx->slice.direct_spatial_mv_pred_flag != 0;
    d->inference = ctx->activeSps->direct_8x8_inference_flag != 0;
    d->zeroPrediction = false;
    if (!d->spatial) return kDecoderOk;
    for (int list = 0; list < 2; ++list) {
        const NeighbourMotion a = Neighbour(w, list, -1, 0, 0), b = Neighbour(w, list, 0, -1, 0);
        NeighbourMotion c = Neighbour(w, list, 4, -1, 0);
        if (!c.available) c = Neighbour(w, list, -1, -1, 0);
        int ref = -1;  // MinPositive over A, B and C
        for (const int r : {a.ref, b.ref, c.ref})
            if (r >= 0 && (ref < 0 || r < ref)) ref = r;
        d->ref[list] = ref;
        d->mv[list][0] = d->mv[list][1] = 0;
        if (ref >= 0) PredictFromNeighbours(a, b, c, 0, 0, 4, 4, ref, &d->mv[list][0], &d->mv[list][1]);
    }
    if (d->ref[0] < 0 && d->ref[1] < 0) {
        d->ref[0] = d->ref[1] = 0;
        d->zeroPrediction = true;
    }
    return kDecoderOk;
}

// The co-located macroblock of block blk (raster) of the current macroblock, and its block
// there in *colBlk (clause 8.4.1.2.1: yM of Table 8-8; the 8x8 inference that interlaced
// streams must use keeps each 8x8 block on one co-located partition).
inline const MacroblockInfo* ColocatedBlock(const DirectState& d, int blk, int* colBlk) {
    const int x4 = blk & 3, y4 = blk >> 2;
    switch (d.layout) {
        case ColLayout::kSame:
            *colBlk = blk;
            return d.colMb;
        case ColLayout::kFrameUnderField:  // yM = (2 yCol) % 16 in frame row yCol / 8
            *colBlk = 4 * ((2 * y4) & 3) + x4;
            return d.colMb + d.width * (y4 >> 1);
        default:  // yM = 8 (CurrMbAddr / PicWidthInMbs % 2) + 4 (yCol / 8)
            *colBlk = 4 * (2 * d.oddRow + (y4 >> 1)) + x4;
            return d.colMb;
    }
}

// The lowest list-0 index holding the picture a co-located block referred to, or -1: for a
// field, the field of the same parity of a frame the co-located frame referred to; for a
// frame, the frame holding a field the co-located field referred to (clause 8.4.1.2.3).
int MapColToList0(const AvcDecoderContext* ctx, int32_t structure, int32_t picId) {
    const PictureStore* st = ctx->store;
    if (structure == 0)
        picId %= kMaxFramePlaneSets;
    else if (picId < kMaxFramePlaneSets)
        picId += kMaxFramePlaneSets * structure;
    for (int i = 0; i < st->refListCount[0]; ++i)
        if (st->refList[0][i] != nullptr && st->refList[0][i]->planeIndex == picId) return i;
    return -1;
}

// Direct-mode reference indices and vectors of 8x8 block q into the record.
int DeriveDirect(const AvcDecoderContext* ctx, const DirectState& d, MacroblockInfo* mb, int q) {
    const int x8 = (q & 1) * 2, y8 = (q >> 1) * 2;
    if (d.spatial) {
        mb->refIdx[0][q] = static_cast<int8_t>(d.ref[0]);
        mb->refIdx[1][q] = static_cast<int8_t>(d.ref[1]);
        // colZeroFlag matters only to a list whose reference index is 0; with
        // direct_8x8_inference_flag the whole 8x8 block shares its corner's.
        const bool needCol = !d.zeroPrediction && (d.ref[0] == 0 || d.ref[1] == 0);
        int cornerBlk = 0;
        const MacroblockInfo* cornerMb = ColocatedBlock(d, kCornerBlock[q], &cornerBlk);
        const bool cornerZero = needCol && d.inference && ColocatedZero(d.colPic, cornerMb, cornerBlk);
        if (d.inference || !needCol) {  // one colZeroFlag, so one vector per list for the 8x8 block
            for (int list = 0; list < 2; ++list) {
                const int ref = d.ref[list];
                const bool use = !d.zeroPrediction && ref >= 0 && !(ref == 0 && cornerZero);
                FillMotion(mb, list, x8, y8, 2, 2, use ? d.mv[list][0] : 0, use ? d.mv[list][1] : 0);
            }
            return kDecoderOk;
        }
        for (int j = 0; j < 4; ++j) {
            const int blk = 4 * (y8 + j / 2) + x8 + (j & 1);
            const bool colZero = needCol && (d.inference ? cornerZero : ColocatedZero(d.colPic, d.colMb, blk));
            for (int list = 0; list < 2; ++list) {
                int mvx = 0, mvy = 0;
                const int ref = d.ref[list];
                if (!d.zeroPrediction && ref >= 0 && !(ref == 0 && colZero)) {
                    mvx = d.mv[list][0];
                    mvy = d.mv[list][1];
                }
                mb->mv[list][blk][0] = static_cast<int16_t>(mvx);
                mb->mv[list][blk][1] = static_cast<int16_t>(mvy);
            }
        }
        return kDecoderOk;
    }
    // Temporal (clause 8.4.1.2.3): the co-located vector scaled by the pictures' distances.
    const PictureStore* st = ctx->store;
    int cornerBlk = 0;
    const MacroblockInfo* col = ColocatedBlock(d, kCornerBlock[q], &cornerBlk);
    const int colQ = Quadrant(cornerBlk);
    int refIdx0 = 0;
    int colList = -1;
    if ((col->flags & kMbIntra) == 0) {
        colList = col->refIdx[0][colQ] >= 0 ? 0 : col->refIdx[1][colQ] >= 0 ? 1 : -1;
        if (colList >= 0) {
            refIdx0 = MapColToList0(ctx, d.structure, col->refPicId[colList][colQ]);
            if (refIdx0 < 0) return kDecoderOutOfRange;
        }
    }
    const PictureRecord* pic0 = st->refList[0][refIdx0];
    if (pic0 == nullptr) return kDecoderOutOfRange;
    const int32_t tb = std::clamp(d.curPoc - pic0->picOrderCnt, -128, 127);
    const int32_t td = std::clamp(d.colPic->picOrderCnt - pic0->picOrderCnt, -128, 127);
    const bool unscaled = td == 0 || (pic0->flags & kPicLongTermMask) != 0;
    int32_t scale = 0;
    if (!unscaled) {
        const int32_t tx = (16384 + std::abs(td / 2)) / td;
        scale = std::clamp((tb * tx + 32) >> 6, -1024, 1023);
    }
    mb->refIdx[0][q] = static_cast<int8_t>(refIdx0);
    mb->refIdx[1][q] = 0;
    for (int j = 0; j < 4; ++j) {
        const int blk = 4 * (y8 + j / 2) + x8 + (j & 1);
        const int cb = d.inference ? cornerBlk : blk;
        int mvCol[2] = {0, 0};
        if (colList >= 0) {
            mvCol[0] = col->mv[colList][cb][0];
            mvCol[1] = col->mv[colList][cb][1];
            // Vertical vectors count in field lines in field macroblocks.
            if (d.layout == ColLayout::kFrameUnderField) mvCol[1] /= 2;
            if (d.layout == ColLayout::kFieldUnderFrame) mvCol[1] *= 2;
        }
        for (int c = 0; c < 2; ++c) {
            const int mv0 = unscaled ? mvCol[c] : (scale * mvCol[c] + 128) >> 8;
            mb->mv[0][blk][c] = static_cast<int16_t>(mv0);
            mb->mv[1][blk][c] = static_cast<int16_t>(unscaled ? 0 : mv0 - mvCol[c]);
        }
    }
    return kDecoderOk;
}

// Prediction of the w4 x h4 blocks at (x4, y4) from the motion in the record (one or both
// lists) with the slice's weighting (clause 8.4.2.3).
int PredictBBlock(const AvcDecoderContext* ctx, const DecoderKernelTable& k, const InterTarget& t,
                  const MacroblockInfo* mb, int x4, int y4, int w4, int h4) {
    const PictureStore* st = ctx->store;
    const int blk = 4 * y4 + x4, q = Quadrant(blk);
    const int r0 = mb->refIdx[0][q], r1 = mb->refIdx[1][q];
    for (int list = 0; list < 2; ++list) {
        const int r = list == 0 ? r0 : r1;
        if (r >= 0 && ListEntry(ctx, list, r) == nullptr) return kDecoderOutOfRange;
    }
    if (r0 < 0 && r1 < 0) return kDecoderOutOfRange;
    const int px = 4 * x4, py = 4 * y4, pw = 4 * w4, ph = 4 * h4;
    const int idc = ctx->activePps->weighted_bipred_idc;
    if (r0 < 0 || r1 < 0) {
        const int list = r0 >= 0 ? 0 : 1, r = r0 >= 0 ? r0 : r1;
        InterpolatePartition(ctx, k, st->refList[list][r], t, px, py, pw, ph, mb->mv[list][blk][0],
                             mb->mv[list][blk][1]);
        if (idc == 1) WeightPartition(ctx, k, t, list, r, px, py, pw, ph);
        return kDecoderOk;
    }
    alignas(16) uint8_t second[16 * 16 + 2 * 8 * 16];
    const InterTarget t1{second, second + 256, second + 384, 16, t.lumaX, t.lumaY, t.height, t.structure};
    InterpolatePartition(ctx, k, st->refList[0][r0], t, px, py, pw, ph, mb->mv[0][blk][0], mb->mv[0][blk][1]);
    InterpolatePartition(ctx, k, st->refList[1][r1], t1, px, py, pw, ph, mb->mv[1][blk][0], mb->mv[1][blk][1]);
    uint8_t* dst[3] = {t.y + py * t.pitch + px, t.u + (py / 2) * t.pitch + px / 2, t.v + (py / 2) * t.pitch + px / 2};
    const uint8_t* src[3] = {t1.y + py * 16 + px, t1.u + (py / 2) * 16 + px / 2, t1.v + (py / 2) * 16 + px / 2};
    for (int c = 0; c < 3; ++c) {
        const int bw = c == 0 ? pw : pw / 2, bh = c == 0 ? ph : ph / 2;
        if (idc == 0) {
            k.average(dst[c], t.pitch, src[c], 16, bw, bh);
            continue;
        }
        const PredWeightTable* wt = ctx->predWeights;
        const int logWD = c == 0 ? wt->luma_log2_weight_denom : wt->chroma_log2_weight_denom;
        const int o = idc == 1 ? (wt->offset[0][r0][c] + wt->offset[1][r1][c] + 1) >> 1 : 0;
        const int w0 = wt->w0[r0][r1][c], w1 = wt->w1[r0][r1][c];
        if (w0 == w1 && o == 0 && w0 == 1 << logWD) {
            // Equal weights of one without offset: ((p0 + p1) 2^logWD + 2^logWD) >> (logWD + 1)
            // is the default average (implicit weights of a picture midway between its two).
            k.average(dst[c], t.pitch, src[c], 16, bw, bh);
            continue;
        }
        k.weightBi(dst[c], t.pitch, src[c], 16, bw, bh, w0, w1, o, logWD);
    }
    return kDecoderOk;
}

}  // namespace

int ReconstructBMacroblock(AvcDecoderContext* ctx, MacroblockWork* w) {
    MacroblockInfo* mb = w->cur;
    const PictureStore* st = ctx->store;
    const InterTarget t = MacroblockTarget(ctx, w);
    const DecoderKernelTable& k = DecoderKernels();
    // The co-located record of the next macroblock, for its direct prediction: the cache
    // lines with its kind, reference indices and vectors.
    if (!w->mbaff && st->refListCount[1] > 0 && st->refList[1][0] != nullptr && w->mbAddr + 1 < ctx->picSizeInMbs) {
        const MacroblockInfo* next = &st->refList[1][0]->mbInfo[w->mbAddr + 1];
        __builtin_prefetch(&next->flags);
        __builtin_prefetch(&next->refIdx);
        __builtin_prefetch(&next->mv[0][0]);
        __builtin_prefetch(&next->mv[1][0]);
        __builtin_prefetch(&next->refPicId);
    }
    DirectState direct{};
    if (mb->directMask != 0) {
        const int result = SetupDirect(ctx, w, &direct);
        if (result != kDecoderOk) return result;
        w->usedRefs |= uint64_t{1} << 32;  // the co-located picture's motion served the block
    }
    // Units in decoding order: a direct 8x8 block, or a partition with its own motion.
    int parts[16][4];
    int count = 0;
    if (mb->directMask == 0xF) {
        for (int q = 0; q < 4; ++q, ++count)
            parts[count][0] = (q & 1) * 2, parts[count][1] = (q >> 1) * 2, parts[count][2] = 2, parts[count][3] = 2;
    } else {
        count = ListPartitions(mb, parts);
    }
    uint32_t decoded = 0;
    if (mb->directMask == 0xF && direct.inference) {
        // B_Skip and B_Direct_16x16 with 8x8 inference: one prediction when the four 8x8
        // blocks came out with the same motion (the samples do not depend on the split).
        for (int q = 0; q < 4; ++q) {
            const int result = DeriveDirect(ctx, direct, mb, q);
            if (result != kDecoderOk) return result;
        }
        bool uniform = true;
        for (int list = 0; list < 2 && uniform; ++list)
            for (int q = 1; q < 4 && uniform; ++q)
                uniform = mb->refIdx[list][q] == mb->refIdx[list][0] &&
                          mb->mv[list][kCornerBlock[q]][0] == mb->mv[list][0][0] &&
                          mb->mv[list][kCornerBlock[q]][1] == mb->mv[list][0][1];
        for (int q = 0; q < (uniform ? 1 : 4); ++q) {
            const int size = uniform ? 4 : 2;
            const int result = PredictBBlock(ctx, k, t, mb, (q & 1) * 2, (q >> 1) * 2, size, size);
            if (result != kDecoderOk) return result;
        }
        count = 0;
    }
    for (int i = 0; i < count; ++i) {
        const int x4 = parts[i][0], y4 = parts[i][1], w4 = parts[i][2], h4 = parts[i][3];
        const int q = Quadrant(4 * y4 + x4);
        if (mb->directMask & (1u << q)) {
            // ListPartitions lists a direct 8x8 block as its sub-partitions of shape 0: one.
            const int result = DeriveDirect(ctx, direct, mb, q);
            if (result != kDecoderOk) return result;
            const int step = direct.inference ? 2 : 1;
            for (int y = y4; y < y4 + 2; y += step)
                for (int x = x4; x < x4 + 2; x += step) {
                    const int r = PredictBBlock(ctx, k, t, mb, x, y, step, step);
                    if (r != kDecoderOk) return r;
                }
            decoded |= 0x33u << (4 * y4 + x4);
            continue;
        }
        for (int list = 0; list < 2; ++list) {
            const int ref = mb->refIdx[list][q];
            int mvx = 0, mvy = 0;
            if (ref >= 0) {
                PredictPartitionMv(w, list, x4, y4, w4, h4, ref, decoded, &mvx, &mvy);
                mvx = static_cast<int16_t>(mvx + mb->mvd[list][4 * y4 + x4][0]);
                mvy = static_cast<int16_t>(mvy + mb->mvd[list][4 * y4 + x4][1]);
            }
            FillMotion(mb, list, x4, y4, w4, h4, mvx, mvy);
        }
        decoded |= BlockMask(x4, y4, w4, h4);
        const int result = PredictBBlock(ctx, k, t, mb, x4, y4, w4, h4);
        if (result != kDecoderOk) return result;
    }
    for (int list = 0; list < 2; ++list)
        for (int q = 0; q < 4; ++q) {
            const int r = mb->refIdx[list][q];
            mb->refPicId[list][q] = r >= 0 ? st->refList[list][r]->planeIndex : -1;
            if (r >= 0) w->usedRefs |= uint64_t{1} << (32 * list + r);
        }
    for (int list = 0; list < 2; ++list)
        if (mb->refIdx[list][0] >= 0)
            PrefetchReference(ctx, st->refList[list][mb->refIdx[list][0]], t, mb->mv[list][0][0], mb->mv[list][0][1]);
    mb->sameMotion = SameMotion(mb, 2);
    if (mb->kind != kMbSkip) AddInterResidual(k, w, t);
    return kDecoderOk;
}

}  // namespace avcdec
