// Inter prediction of P macroblocks: motion vector prediction (ITU-T H.264 clause 8.4.1),
// reference sample fetching with the picture's edges extended (clause 8.4.2.2), explicit
// weighted prediction (clause 8.4.2.3) and reconstruction with the residual.
#include <algorithm>
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

// The motion of 4x4 block (bx, by) relative to the current macroblock (bx -1..4, by -1..3),
// where blocks of the current macroblock count only once `decoded` has their bit.
NeighbourMotion Neighbour(const MacroblockWork* w, int list, int bx, int by, uint32_t decoded) {
    const MacroblockInfo* n;
    int blk;
    if (by < 0) {
        if (bx < 0) {
            n = w->mbD;
            blk = 15;
        } else if (bx > 3) {
            n = w->mbC;
            blk = 12;
        } else {
            n = w->mbB;
            blk = 12 + bx;
        }
    } else if (bx < 0) {
        n = w->mbA;
        blk = 4 * by + 3;
    } else if (bx > 3) {
        n = nullptr;  // right of the macroblock: not yet decoded
        blk = 0;
    } else {
        blk = 4 * by + bx;
        n = (decoded >> blk) & 1 ? w->cur : nullptr;
    }
    if (n == nullptr) return {0, 0, -1, false};
    const int ref = n->refIdx[list][Quadrant(blk)];
    if (ref < 0) return {0, 0, -1, true};
    return {n->mv[list][blk][0], n->mv[list][blk][1], ref, true};
}

inline int Median(int a, int b, int c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

void FillMotion(MacroblockInfo* mb, int list, int x4, int y4, int w4, int h4, int mvx, int mvy) {
    for (int y = y4; y < y4 + h4; ++y)
        for (int x = x4; x < x4 + w4; ++x) {
            mb->mv[list][4 * y + x][0] = static_cast<int16_t>(mvx);
            mb->mv[list][4 * y + x][1] = static_cast<int16_t>(mvy);
        }
}

// A readable copy of the region [x0, x0 + bw) x [y0, y0 + bh) of a plane: the plane itself
// when the region lies within its replicated borders, else the region rebuilt in scratch
// with every sample taken from the nearest edge sample (clause 8.4.2.2's clipping of
// xInt and yInt), so no vector, however far out, reads outside the plane's memory.
struct PlaneGeometry {
    int width, height, side, above, below;
};

const uint8_t* FetchRegion(const uint8_t* plane, int pitch, const PlaneGeometry& g, int x0, int y0, int bw, int bh,
                           uint8_t* scratch, int scratchPitch, int* outPitch) {
    if (x0 >= -g.side && x0 + bw <= g.width + g.side && y0 >= -g.above && y0 + bh <= g.height + g.below) {
        *outPitch = pitch;
        return plane + static_cast<ptrdiff_t>(y0) * pitch + x0;
    }
    for (int j = 0; j < bh; ++j) {
        const uint8_t* row = plane + static_cast<ptrdiff_t>(std::clamp(y0 + j, 0, g.height - 1)) * pitch;
        for (int i = 0; i < bw; ++i)
            scratch[j * scratchPitch + i] = row[std::clamp(x0 + i, 0, g.width - 1)];
    }
    *outPitch = scratchPitch;
    return scratch;
}

constexpr int kScratchPitch = 32;

struct InterTarget {
    uint8_t* y;
    uint8_t* u;
    uint8_t* v;
    int pitch;
    int lumaX, lumaY;  // the macroblock's top-left sample
};

// Motion compensation of one list-0 partition (px, py, pw, ph in luma samples inside the
// macroblock), weighted when the slice asks for it.
void PredictPartition(const AvcDecoderContext* ctx, const DecoderKernelTable& k, const PictureRecord* ref, int refIdx,
                      const InterTarget& t, int px, int py, int pw, int ph, int mvx, int mvy) {
    alignas(16) uint8_t scratch[21 * kScratchPitch];
    const PlaneView& r = ref->frame;
    const int border = ctx->planePool.border;
    const PlaneGeometry luma{ctx->width, ctx->height, 32, border, border - 1};
    const PlaneGeometry chroma{ctx->width / 2, ctx->height / 2, 16, border / 2, border / 2};
    int sp = 0;
    const int xs = t.lumaX + px + (mvx >> 2), ys = t.lumaY + py + (mvy >> 2);
    const uint8_t* src =
        FetchRegion(r.y, r.pitch, luma, xs - 2, ys - 2, std::max(pw, 8) + 5, ph + 5, scratch, kScratchPitch, &sp);
    uint8_t* dstY = t.y + py * t.pitch + px;
    k.lumaMotion(dstY, t.pitch, src + 2 * sp + 2, sp, pw, ph, mvx & 3, mvy & 3);

    const int cw = pw / 2, ch = ph / 2;
    const int xc = (t.lumaX + px) / 2 + (mvx >> 3), yc = (t.lumaY + py) / 2 + (mvy >> 3);
    uint8_t* dstU = t.u + (py / 2) * t.pitch + px / 2;
    uint8_t* dstV = t.v + (py / 2) * t.pitch + px / 2;
    src = FetchRegion(r.u, r.pitch, chroma, xc, yc, std::max(cw, 8) + 1, ch + 1, scratch, kScratchPitch, &sp);
    k.chromaMotion(dstU, t.pitch, src, sp, cw, ch, mvx & 7, mvy & 7);
    src = FetchRegion(r.v, r.pitch, chroma, xc, yc, std::max(cw, 8) + 1, ch + 1, scratch, kScratchPitch, &sp);
    k.chromaMotion(dstV, t.pitch, src, sp, cw, ch, mvx & 7, mvy & 7);

    if (!ctx->activePps->weighted_pred_flag) return;
    const PredWeightTable* wt = ctx->predWeights;
    const int lumaDenom = wt->luma_log2_weight_denom, chromaDenom = wt->chroma_log2_weight_denom;
    const int32_t* weight = wt->weight[0][refIdx];
    const int32_t* offset = wt->offset[0][refIdx];
    // The default weight without offset gives back the prediction unchanged.
    if (weight[0] != (1 << lumaDenom) || offset[0] != 0)
        WeightSamples(dstY, t.pitch, pw, ph, weight[0], offset[0], lumaDenom);
    if (weight[1] != (1 << chromaDenom) || offset[1] != 0)
        WeightSamples(dstU, t.pitch, cw, ch, weight[1], offset[1], chromaDenom);
    if (weight[2] != (1 << chromaDenom) || offset[2] != 0)
        WeightSamples(dstV, t.pitch, cw, ch, weight[2], offset[2], chromaDenom);
}

}  // namespace

// mvpLX of the partition at (x4, y4) of w4 x h4 blocks (clause 8.4.1.3), directional rules
// for 16x8 and 8x16 partitions included.
void PredictPartitionMv(const MacroblockWork* w, int list, int x4, int y4, int w4, int h4, int ref, uint32_t decoded,
                        int* mvx, int* mvy) {
    const NeighbourMotion a = Neighbour(w, list, x4 - 1, y4, decoded);
    NeighbourMotion b = Neighbour(w, list, x4, y4 - 1, decoded);
    NeighbourMotion c = Neighbour(w, list, x4 + w4, y4 - 1, decoded);
    if (!c.available) c = Neighbour(w, list, x4 - 1, y4 - 1, decoded);
    const NeighbourMotion* pick = nullptr;
    if (w4 == 4 && h4 == 2)
        pick = y4 == 0 ? (b.ref == ref ? &b : nullptr) : (a.ref == ref ? &a : nullptr);
    else if (w4 == 2 && h4 == 4)
        pick = x4 == 0 ? (a.ref == ref ? &a : nullptr) : (c.ref == ref ? &c : nullptr);
    if (pick == nullptr) {
        if (!b.available && !c.available && a.available) b = c = a;
        const int matches = (a.ref == ref) + (b.ref == ref) + (c.ref == ref);
        if (matches == 1) {
            pick = a.ref == ref ? &a : b.ref == ref ? &b : &c;
        } else {
            *mvx = Median(a.x, b.x, c.x);
            *mvy = Median(a.y, b.y, c.y);
            return;
        }
    }
    *mvx = pick->x;
    *mvy = pick->y;
}

void DerivePSkipMv(const MacroblockWork* w, int* mvx, int* mvy) {
    *mvx = *mvy = 0;
    const NeighbourMotion a = Neighbour(w, 0, -1, 0, 0), b = Neighbour(w, 0, 0, -1, 0);
    if (!a.available || !b.available) return;
    if ((a.ref == 0 && a.x == 0 && a.y == 0) || (b.ref == 0 && b.x == 0 && b.y == 0)) return;
    PredictPartitionMv(w, 0, 0, 0, 4, 4, 0, 0, mvx, mvy);
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

int ReconstructPMacroblock(AvcDecoderContext* ctx, MacroblockWork* w) {
    MacroblockInfo* mb = w->cur;
    const PictureStore* st = ctx->store;
    const PlaneView& pv = ctx->currentPicture->frame;
    const InterTarget t{pv.y + 16 * w->mbY * pv.pitch + 16 * w->mbX,
                        pv.u + 8 * w->mbY * pv.pitch + 8 * w->mbX,
                        pv.v + 8 * w->mbY * pv.pitch + 8 * w->mbX,
                        pv.pitch,
                        16 * w->mbX,
                        16 * w->mbY};
    const DecoderKernelTable& k = DecoderKernels();
    // Partitions as (x4, y4, w4, h4) in decoding order.
    int parts[16][4];
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
    uint32_t decoded = 0;
    for (int i = 0; i < count; ++i) {
        const int x4 = parts[i][0], y4 = parts[i][1], w4 = parts[i][2], h4 = parts[i][3];
        const int refIdx = mb->refIdx[0][Quadrant(4 * y4 + x4)];
        // A P partition always predicts from list 0; a missing index or picture fails the
        // macroblock rather than leaving another picture's samples as if predicted. A list
        // without any picture stands the current one in for the missing entries, which
        // cannot serve as its own reference.
        if (refIdx < 0 || refIdx >= st->refListCount[0] || st->refList[0][refIdx] == nullptr ||
            st->refList[0][refIdx] == ctx->currentPicture)
            return kDecoderOutOfRange;
        int mvx = 0, mvy = 0;
        if (mb->kind == kMbSkip) {
            DerivePSkipMv(w, &mvx, &mvy);
        } else {
            PredictPartitionMv(w, 0, x4, y4, w4, h4, refIdx, decoded, &mvx, &mvy);
            // mvLX = mvpLX + mvdLX, kept in 16 bits as the record stores it.
            mvx = static_cast<int16_t>(mvx + mb->mvd[0][4 * y4 + x4][0]);
            mvy = static_cast<int16_t>(mvy + mb->mvd[0][4 * y4 + x4][1]);
        }
        FillMotion(mb, 0, x4, y4, w4, h4, mvx, mvy);
        for (int y = y4; y < y4 + h4; ++y)
            for (int x = x4; x < x4 + w4; ++x)
                decoded |= 1u << (4 * y + x);
        const PictureRecord* ref = st->refList[0][refIdx];
        w->usedRefs |= 1u << refIdx;
        PredictPartition(ctx, k, ref, refIdx, t, 4 * x4, 4 * y4, 4 * w4, 4 * h4, mvx, mvy);
    }
    for (int q = 0; q < 4; ++q)
        mb->refPicId[0][q] = st->refList[0][mb->refIdx[0][q]]->planeIndex;
    if (mb->kind == kMbSkip) return kDecoderOk;
    for (int b = 0; b < 16; ++b)
        AddResidual(k, w, b, t.y + 4 * (b / 4) * t.pitch + 4 * (b % 4), t.pitch);
    for (int p = 0; p < 2; ++p) {
        uint8_t* plane = p == 0 ? t.u : t.v;
        for (int b = 0; b < 4; ++b)
            AddResidual(k, w, 16 + 4 * p + b, plane + 4 * (b / 2) * t.pitch + 4 * (b % 2), t.pitch);
    }
    return kDecoderOk;
}

}  // namespace avcdec
