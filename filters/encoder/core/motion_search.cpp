// The inter half of the macroblock coder: skip and spatial direct candidates, the
// integer pattern search with sub-sample refinement, 16x8, 8x16 and 8x8 partitions, and
// the decision between inter candidates and intra coding at the three levels.
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "filters/encoder/core/mb_coder.h"
#include "filters/encoder/core/motion_comp.h"

namespace ombrisk {
namespace {

constexpr uint32_t kNoCost = 0x0FFFFFFF;
// 4x4-unit sub-blocks of an 8x8 quadrant by SubPartitionShape.
constexpr int kSubBlocks[4] = {1, 2, 2, 4};

void SetRect(MotionEntry* m, int bx, int by, int w, int h, MotionVector mv, int ref) {
    for (int y = by; y < by + h; ++y)
        for (int x = bx; x < bx + w; ++x)
            m[4 * y + x] =
                MotionEntry{static_cast<int16_t>(mv.x), static_cast<int16_t>(mv.y), static_cast<int8_t>(ref)};
}

void ClearList(InterCandidate& c, int list) {
    for (int b = 0; b < 16; ++b)
        c.motion[list][b] = MotionEntry{};
}

int ListLevelSum(const CoefficientList& list) {
    int sum = 0;
    for (int i = 0; i < 16 && list.pairs[i].level != 0; ++i)
        sum += std::abs(list.pairs[i].level);
    return sum;
}

}  // namespace

uint32_t CMbCoder::VectorCost(MotionVector mv, MotionVector mvp) const {
    const int weight = level_ == kCoderSatd ? 2 * mb_.lambda : mb_.lambda;
    return static_cast<uint32_t>(weight * (std::abs(mv.x - mvp.x) + std::abs(mv.y - mvp.y)));
}

uint32_t CMbCoder::PartitionCost(const uint8_t* pred, int bx, int by, int w, int h) const {
    if (w == 4 && h == 4) return cost16_(mb_.srcLuma, pred);
    const int off = 64 * by + 4 * bx;
    uint32_t sum = 0;
    for (int y = 0; y < 4 * h; ++y)
        for (int x = 0; x < 4 * w; ++x)
            sum += static_cast<uint32_t>(std::abs(mb_.srcLuma[off + 16 * y + x] - pred[off + 16 * y + x]));
    return sum;
}

MotionVector CMbCoder::SearchPartition(int list, int ref, int bx, int by, int w, int h, MotionVector mvp,
                                       const MotionVector* starts, int startCount, uint32_t* outCost) {
    const CRefPictureStore& pic = *mb_.references->list[list][ref];
    const int bw = 4 * w, bh = 4 * h;
    const int x0 = 16 * mb_.mbX + 4 * bx, y0 = 16 * mb_.mbY + 4 * by;
    const int stride = pic.lumaStride();
    const uint8_t* src = mb_.srcLuma + 64 * by + 4 * bx;
    // Integer positions keep every sub-sample position around them inside the padding.
    const int dxMin = std::max(-rangeX_, -12 - x0), dxMax = std::min(rangeX_, pic.width() - bw + 12 - x0);
    const int dyMin = std::max(-rangeY_, -12 - y0), dyMax = std::min(rangeY_, pic.height() - bh + 12 - y0);
    const SadFn sad = bw == 16 ? mb_.kernels.sad16x16[1] : mb_.kernels.sad8x8[1];
    const auto costAt = [&](int dx, int dy) {
        const uint8_t* r = pic.luma() + (y0 + dy) * stride + x0 + dx;
        if (bw == 4) {  // sub-8x8 blocks: no kernel of that width
            uint32_t sum = 0;
            for (int y = 0; y < bh; ++y)
                for (int x = 0; x < 4; ++x)
                    sum += static_cast<uint32_t>(std::abs(src[16 * y + x] - r[y * stride + x]));
            return sum + VectorCost({4 * dx, 4 * dy}, mvp);
        }
        return sad(src, r, nullptr, 16, stride, bh) + VectorCost({4 * dx, 4 * dy}, mvp);
    };
    const auto inside = [&](int dx, int dy) { return dx >= dxMin && dx <= dxMax && dy >= dyMin && dy <= dyMax; };
    int bestX = std::clamp(0, dxMin, dxMax), bestY = std::clamp(0, dyMin, dyMax);
    uint32_t best = costAt(bestX, bestY);
    for (int i = 0; i < startCount; ++i) {
        const int sx = std::clamp((starts[i].x + 2) >> 2, dxMin, dxMax);
        const int sy = std::clamp((starts[i].y + 2) >> 2, dyMin, dyMax);
        if (sx == bestX && sy == bestY) continue;
        const uint32_t c = costAt(sx, sy);
        if (c < best) best = c, bestX = sx, bestY = sy;
    }
    static constexpr int kLarge[8][2] = {{0, 2}, {-2, 2}, {-2, 0}, {-2, -2}, {0, -2}, {2, -2}, {2, 0}, {2, 2}};
    static constexpr int kSmall[4][2] = {{-1, 0}, {0, -1}, {1, 0}, {0, 1}};
    // Large-pattern steps: 5 for a macroblock, 3 for a partition refined from its vector.
    const int steps = (w == 4 && h == 4) ? 5 : 3;
    for (int step = 0; step < steps; ++step) {
        const int cx = bestX, cy = bestY;
        for (const auto& d : kLarge) {
            const int nx = cx + d[0], ny = cy + d[1];
            if (!inside(nx, ny)) continue;
            const uint32_t c = costAt(nx, ny);
            if (c < best) best = c, bestX = nx, bestY = ny;
        }
        if (cx == bestX && cy == bestY) break;
    }
    {
        const int cx = bestX, cy = bestY;
        for (const auto& d : kSmall) {
            const int nx = cx + d[0], ny = cy + d[1];
            if (!inside(nx, ny)) continue;
            const uint32_t c = costAt(nx, ny);
            if (c < best) best = c, bestX = nx, bestY = ny;
        }
    }
    MotionVector mv{4 * bestX, 4 * bestY};
    // Sub-sample refinement only where the integer match leaves enough error: the block's
    // sample count at levels 1 and 2, the skip threshold at level 0.
    const uint32_t integerSad = best - VectorCost(mv, mvp);
    const uint32_t refineAbove = level_ == kCoderSad ? uint32_t(mb_.skipThreshold) : uint32_t(bw * bh);
    alignas(16) uint8_t pred[256];
    uint8_t* at = pred + 64 * by + 4 * bx;
    const auto subCost = [&](MotionVector v) {
        PredictLumaBlock(pic, x0, y0, v.x, v.y, bw, bh, at, 16);
        return PartitionCost(pred, bx, by, w, h) + VectorCost(v, mvp);
    };
    uint32_t bestSub = subCost(mv);
    for (int step = 2; step >= 1 && integerSad > refineAbove; --step) {
        if (subpelDepth_ < 3 - step) break;  // half samples from depth 1, quarter from 2
        const MotionVector centre = mv;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                if (!dx && !dy) continue;
                const MotionVector v{centre.x + step * dx, centre.y + step * dy};
                const uint32_t c = subCost(v);
                if (c < bestSub) bestSub = c, mv = v;
            }
    }
    *outCost = bestSub;
    return mv;
}

void CMbCoder::PredictCandidate(InterCandidate& c, bool chroma) const {
    alignas(16) uint8_t second[256];
    alignas(16) uint8_t secondChroma[2][64];
    // One rectangle (bx, by, w, h in 4x4 blocks) of uniform motion, averaged over both lists.
    const auto predictRect = [&](int bx, int by, int w, int h) {
        const int b = 4 * by + bx;
        const int lumaOff = 64 * by + 4 * bx, chromaOff = 16 * by + 2 * bx;
        const int x = 16 * mb_.mbX + 4 * bx, y = 16 * mb_.mbY + 4 * by;
        bool first = true;
        for (int list = 0; list < 2; ++list) {
            const MotionEntry& m = c.motion[list][b];
            if (m.ref < 0) continue;
            const CRefPictureStore& ref = *mb_.references->list[list][m.ref];
            if (chroma) {
                for (int comp = 0; comp < 2; ++comp)
                    PredictChromaBlock(ref, comp, x / 2, y / 2, m.x, m.y, 2 * w, 2 * h,
                                       (first ? c.chroma[comp] : secondChroma[comp]) + chromaOff, 8);
                if (!first)
                    for (int comp = 0; comp < 2; ++comp)
                        AveragePredictions(c.chroma[comp] + chromaOff, secondChroma[comp] + chromaOff, 2 * w, 2 * h, 8);
            } else {
                uint8_t* luma = first ? c.luma : second;
                PredictLumaBlock(ref, x, y, m.x, m.y, 4 * w, 4 * h, luma + lumaOff, 16);
                if (!first) AveragePredictions(c.luma + lumaOff, second + lumaOff, 4 * w, 4 * h, 16);
            }
            first = false;
        }
    };
    if (c.shape == kPart8x8 && !c.direct) {
        cavlc::PartitionRect parts[16];
        const int n = cavlc::MotionPartitions(c.shape, c.subShape, parts);
        for (int i = 0; i < n; ++i)
            predictRect(parts[i].x, parts[i].y, parts[i].w, parts[i].h);
        return;
    }
    for (int q = 0; q < 4; ++q)
        predictRect(2 * (q & 1), 2 * (q >> 1), 2, 2);
}

int CMbCoder::ComputeDeltas(InterCandidate& c) const {
    for (int list = 0; list < 2; ++list)
        for (int b = 0; b < 16; ++b)
            c.delta[list][b] = MotionEntry{0, 0, c.motion[list][b].ref};
    if (c.direct && mb_.sliceType == kSliceB) return 0;
    cavlc::PartitionRect parts[16];
    const int n = cavlc::MotionPartitions(c.shape, c.subShape, parts);
    const PredShape shape = c.shape == kPart16x8   ? PredShape::k16x8
                            : c.shape == kPart8x16 ? PredShape::k8x16
                                                   : PredShape::kOther;
    int sum = 0;
    for (int list = 0; list < 2; ++list) {
        PartialMotion cur{c.motion[list], 0};
        for (int i = 0; i < n; ++i) {
            const cavlc::PartitionRect& p = parts[i];
            const MotionEntry& m = c.motion[list][4 * p.y + p.x];
            if (m.ref >= 0 && !c.IsDirectAt(p.x, p.y)) {
                const MotionVector mvp = PredictMotionVector(mb_.neighbours, cur, list, m.ref, p.x, p.y, p.w, shape);
                const MotionVector d{m.x - mvp.x, m.y - mvp.y};
                SetRect(c.delta[list], p.x, p.y, p.w, p.h, d, m.ref);
                sum += std::abs(d.x) + std::abs(d.y);
            }
            for (int y = p.y; y < p.y + p.h; ++y)
                for (int x = p.x; x < p.x + p.w; ++x)
                    cur.decoded |= static_cast<uint16_t>(1u << (4 * y + x));
        }
    }
    c.mvdSum = sum;
    return sum;
}

void CMbCoder::CodeInterResidual(InterCandidate& c) {
    PredictCandidate(c, true);  // chroma is formed only for candidates that are coded
    LumaResult& l = mb_.lumaTrial();
    l.kind = kMbPInter;
    l.cbp = mb_.kernels.transformInter16x16(mb_.srcLuma, l.recon, c.luma, l.coefs, l.blocks, &mb_.lumaQuant,
                                            mb_.lumaThreshold);
    ChromaResult& cr = mb_.chromaTrial();
    const uint8_t* src[2] = {mb_.srcCb, mb_.srcCr};
    int any = 0;
    for (int comp = 0; comp < 2; ++comp)
        any |= mb_.kernels.transformChroma(src[comp], cr.recon[comp], c.chroma[comp], cr.coefs[comp], &cr.dc[comp],
                                           cr.ac[comp], &mb_.chromaQuant, 1, mb_.chromaThreshold);
    cr.mode = 0;
    cr.cbp = (any & 2) ? 32 : (any & 1) ? 16 : 0;
}

int32_t CMbCoder::InterKind(const InterCandidate& c, int cbp) const {
    if (mb_.sliceType == kSliceB) {
        if (c.direct) return cbp ? kMbBDirect16x16 : kMbSkipped;
        return c.shape == kPart8x8 ? kMbB8x8 : kMbBInter;
    }
    if (cbp == 0 && c.shape == kPart16x16) {
        const MotionEntry& s = cand_[0].motion[0][0];
        const MotionEntry& m = c.motion[0][0];
        if (m.ref == 0 && m.x == s.x && m.y == s.y) return kMbSkipped;
    }
    return c.shape == kPart8x8 ? kMbP8x8 : kMbPInter;
}

uint32_t CMbCoder::CheckPredictionError(const InterCandidate& c) {
    const uint32_t error = mb_.kernels.ssd16x16(mb_.srcLuma, c.luma) / 256;
    if (mb_.sourceVariance > 512) {
        const bool isP = mb_.sliceType == kSliceP;
        if (error < 64)
            mb_.lumaThreshold = mb_.chromaThreshold = mb_.eliminationBase - (isP ? 1 : 0);
        else
            mb_.lumaThreshold = mb_.chromaThreshold = mb_.eliminationBase + (isP ? 0 : 1);
    }
    return error;
}

int CMbCoder::ChromaLevels(const ChromaResult& c) const {
    if (c.cbp < 16) return 0;
    int sum = ListLevelSum(c.dc[0]) + ListLevelSum(c.dc[1]);
    if (c.cbp == 32)
        for (int comp = 0; comp < 2; ++comp)
            for (int b = 0; b < 4; ++b)
                sum += ListLevelSum(c.ac[comp][b]);
    return sum;
}

int64_t CMbCoder::InterRdCost(InterCandidate& c) {
    CodeInterResidual(c);
    const LumaResult& l = mb_.lumaTrial();
    const ChromaResult& cr = mb_.chromaTrial();
    mb_.kind = InterKind(c, (l.cbp & 15) | cr.cbp);
    mb_.candidate = &c;
    int64_t bits = 1;  // the skip run, or the mb_skip_run before a coded macroblock
    if (mb_.kind != kMbSkipped) {
        common::BitCounter tally;
        cavlc::WriteInterMacroblock(tally, mb_, c, l, cr, writer_ ? writer_->DeltaFor(mb_.qp) : 0);
        bits += static_cast<int64_t>(tally.BitCount());
    }
    const int64_t distortion = int64_t{mb_.kernels.ssd16x16(mb_.srcLuma, l.recon)} +
                               mb_.kernels.ssd8x8(mb_.srcCb, cr.recon[0]) + mb_.kernels.ssd8x8(mb_.srcCr, cr.recon[1]);
    return int64_t{mb_.rdLambda} * bits + distortion;
}

// Builds the candidates of the macroblock: [0] the skip (P) or direct (B) prediction,
// then the searched ones. Each has its motion, deltas and prediction.
void CMbCoder::SearchCandidates(InterCandidate* out, int* count) {
    bestRef16_ = -1;
    const bool isB = mb_.sliceType == kSliceB;
    const InterReferences& refs = *mb_.references;
    int n = 0;
    // Skip / direct.
    InterCandidate& d = out[n++];
    d.shape = kPart16x16;
    d.direct = true;
    if (isB) {
        const DirectMotion dm = PredictSpatialDirect(mb_.neighbours, mb_.colocated);
        for (int list = 0; list < 2; ++list) {
            ClearList(d, list);
            if (!dm.Uses(list)) continue;
            for (int q = 0; q < 4; ++q)
                SetRect(d.motion[list], 2 * (q & 1), 2 * (q >> 1), 2, 2, dm.mv[list][q], dm.ref[list]);
        }
    } else {
        SetRect(d.motion[0], 0, 0, 4, 4, PredictSkipVector(mb_.neighbours), 0);
        ClearList(d, 1);
    }
    PredictCandidate(d);
    ComputeDeltas(d);
    *count = n;
    const uint32_t directCost = cost16_(mb_.srcLuma, d.luma);
    const uint32_t threshold = level_ == kCoderSatd ? 2 * uint32_t(mb_.skipThreshold) : uint32_t(mb_.skipThreshold);
    if (level_ != kCoderRdo && directCost <= threshold) return;
    // Level 2: a skip or direct coding within 8 λ₂ of free is not searched further.
    if (level_ == kCoderRdo && InterRdCost(d) <= 8 * int64_t{mb_.rdLambda}) return;

    const PartialMotion none;
    MotionVector best[2];
    int bestRef[2] = {-1, -1};
    const int lists = isB ? 2 : 1;
    for (int list = 0; list < lists; ++list) {
        uint32_t bestCost = kNoCost;
        const int refCount = isB && list == 1 ? std::min(refs.count[1], 1) : refs.count[list];
        for (int r = 0; r < refCount; ++r) {
            const MotionVector mvp = PredictMotionVector(mb_.neighbours, none, list, r, 0, 0, 4);
            MotionVector mv;
            uint32_t cost;
            if (motionSearch_) {
                // Starts: the coarse vector of this macroblock (or the median of the
                // coarse field around it), the predictor and the skip/direct vector.
                MotionVector starts[3];
                int n = 0;
                CoarseVectorField* field = refs.coarse[list][r];
                if (field) {
                    const CoarseEntry& e = field->at(mb_.mbX, mb_.mbY);
                    int cx = e.x, cy = e.y;
                    if (!e.valid) field->Predict(mb_.mbX, mb_.mbY, &cx, &cy, mb_.sliceFirst);
                    starts[n++] = {4 * cx, 4 * cy};
                }
                starts[n++] = mvp;
                if (d.motion[list][0].ref >= 0) starts[n++] = {d.motion[list][0].x, d.motion[list][0].y};
                mv = SearchPartition(list, r, 0, 0, 4, 4, mvp, starts, n, &cost);
                if (field)
                    field->at(mb_.mbX, mb_.mbY) =
                        CoarseEntry{static_cast<int16_t>((mv.x + 2) >> 2), static_cast<int16_t>((mv.y + 2) >> 2),
                                    static_cast<int32_t>(cost), 1};
            } else {
                mv = {};
                cost = 0;
            }
            cost += r > 0 ? 64 : 0;  // a later reference costs index bits
            if (cost < bestCost) bestCost = cost, best[list] = mv, bestRef[list] = r;
            if (!motionSearch_) break;
        }
    }
    // 16x16 candidates: list 0, list 1, both.
    for (int dir = 0; dir < (isB ? 3 : 1); ++dir) {
        const bool use0 = dir != 1, use1 = dir != 0;
        if ((use0 && bestRef[0] < 0) || (use1 && bestRef[1] < 0)) continue;
        InterCandidate& c = out[n++];
        c.shape = kPart16x16;
        c.direct = false;
        c.directQuadrants = 0;
        ClearList(c, 0);
        ClearList(c, 1);
        if (use0) SetRect(c.motion[0], 0, 0, 4, 4, best[0], bestRef[0]);
        if (use1) SetRect(c.motion[1], 0, 0, 4, 4, best[1], bestRef[1]);
        PredictCandidate(c);
        ComputeDeltas(c);
    }
    best16_ = best[0];
    bestRef16_ = bestRef[0];
    bestL1_ = best[1];
    bestRefL1_ = bestRef[1];
    *count = n;
    // Level 2 weighs the partitions with the other candidates; level 1 refines afterwards.
    if (level_ == kCoderRdo) SearchShapes(out, count);
}

// The 16x8, 8x16 and 8x8 candidates of a P macroblock, each partition searched in coding
// order from the best 16x16 vector, appended to `out`.
void CMbCoder::SearchShapes(InterCandidate* out, int* count) {
    if (!partitions_ || !motionSearch_) return;
    if (mb_.sliceType == kSliceB) {
        SearchB8x8(out, count);
        return;
    }
    if (mb_.sliceType != kSliceP || bestRef16_ < 0) return;
    int n = *count;
    for (int32_t shape : {kPart16x8, kPart8x16, kPart8x8}) {
        InterCandidate& c = out[n++];
        c.shape = shape;
        c.directQuadrants = 0;
        std::fill(c.subShape, c.subShape + 4, int8_t{kSub8x8});
        c.direct = false;
        ClearList(c, 1);
        SetRect(c.motion[0], 0, 0, 4, 4, best16_, bestRef16_);
        cavlc::PartitionRect parts[4];
        const int np = cavlc::ShapePartitions(shape, parts);
        const PredShape ps = shape == kPart16x8   ? PredShape::k16x8
                             : shape == kPart8x16 ? PredShape::k8x16
                                                  : PredShape::kOther;
        PartialMotion cur{c.motion[0], 0};
        int used = 0;  // vectors of the quadrants decided
        for (int i = 0; i < np; ++i) {
            const cavlc::PartitionRect& p = parts[i];
            const MotionVector mvp = PredictMotionVector(mb_.neighbours, cur, 0, bestRef16_, p.x, p.y, p.w, ps);
            uint32_t cost;
            const MotionVector mv = SearchPartition(0, bestRef16_, p.x, p.y, p.w, p.h, mvp, &best16_, 1, &cost);
            SetRect(c.motion[0], p.x, p.y, p.w, p.h, mv, bestRef16_);
            if (shape == kPart8x8 && subShapes_) {
                c.subShape[i] = static_cast<int8_t>(SearchSubShapes(c, cur, i, mv, cost, used));
                used += kSubBlocks[c.subShape[i]];
            }
            for (int y = p.y; y < p.y + p.h; ++y)
                for (int x = p.x; x < p.x + p.w; ++x)
                    cur.decoded |= static_cast<uint16_t>(1u << (4 * y + x));
        }
        PredictCandidate(c);
        ComputeDeltas(c);
    }
    *count = n;
}

namespace {

// Writes quadrant q's entries of both lists from `from`.
void CopyQuadrant(MotionEntry (*to)[16], const MotionEntry (*from)[16], int q) {
    const int b = cavlc::QuadrantFirstBlock(q);
    for (int list = 0; list < 2; ++list)
        for (int i : {b, b + 1, b + 4, b + 5})
            to[list][i] = from[list][i];
}

void MarkQuadrant(PartialMotion* cur, int q) {
    const int b = cavlc::QuadrantFirstBlock(q);
    cur->decoded |= static_cast<uint16_t>(0x33u << b);
}

// Motion vectors a quadrant carries: one per sub-block and list used.
int QuadrantVectors(const MotionEntry (*m)[16], int q, int sub) {
    const int b = cavlc::QuadrantFirstBlock(q);
    return kSubBlocks[sub] * ((m[0][b].ref >= 0) + (m[1][b].ref >= 0));
}

}  // namespace

// The sub-blocks of quadrant q cut by `sub`, searched in list `list` at reference `ref` in
// coding order, each from `start` with its predictor from the blocks before it; their
// motion goes into m and, when given, their prediction into pred (stride 16). Returns the
// summed cost (prediction and vectors), stopping once it reaches `limit`; *vectorCost
// receives the vector part.
uint32_t CMbCoder::SearchSubBlocks(MotionEntry* m, uint16_t decoded, int list, int ref, int q, int sub,
                                   MotionVector start, uint32_t limit, uint8_t* pred, uint32_t* vectorCost) {
    const int8_t subs[4] = {static_cast<int8_t>(sub), static_cast<int8_t>(sub), static_cast<int8_t>(sub),
                            static_cast<int8_t>(sub)};
    cavlc::PartitionRect all[16];
    cavlc::MotionPartitions(kPart8x8, subs, all);
    const int per = kSubBlocks[sub];
    PartialMotion t{m, decoded};
    uint32_t total = 0, vectors = 0;
    for (int i = 0; i < per && total < limit; ++i) {
        const cavlc::PartitionRect& p = all[per * q + i];
        const MotionVector mvp = PredictMotionVector(mb_.neighbours, t, list, ref, p.x, p.y, p.w);
        uint32_t cost;
        const MotionVector mv = SearchPartition(list, ref, p.x, p.y, p.w, p.h, mvp, &start, 1, &cost);
        SetRect(m, p.x, p.y, p.w, p.h, mv, ref);
        for (int y = p.y; y < p.y + p.h; ++y)
            for (int x = p.x; x < p.x + p.w; ++x)
                t.decoded |= static_cast<uint16_t>(1u << (4 * y + x));
        total += cost;
        vectors += VectorCost(mv, mvp);
        if (pred)
            PredictLumaBlock(*mb_.references->list[list][ref], 16 * mb_.mbX + 4 * p.x, 16 * mb_.mbY + 4 * p.y, mv.x,
                             mv.y, 4 * p.w, 4 * p.h, pred + 64 * p.y + 4 * p.x, 16);
    }
    if (vectorCost) *vectorCost = vectors;
    return total;
}

// Level 2: the rate-distortion cost of the 8x8 candidate `c` with quadrant q coded as
// `sub` at the quadrant's entries of `motion` (B_Direct_8x8 when `direct`). In B slices the
// quadrants after q, not yet searched, are coded as direct ones (`fill`).
int64_t CMbCoder::QuadrantRdCost(const InterCandidate& c, int q, int sub, const MotionEntry (*motion)[16], bool direct,
                                 const InterCandidate* fill) {
    InterCandidate& t = trial_;
    t.shape = kPart8x8;
    t.direct = false;
    t.directQuadrants = c.directQuadrants;
    std::copy(c.subShape, c.subShape + 4, t.subShape);
    for (int list = 0; list < 2; ++list)
        std::copy(c.motion[list], c.motion[list] + 16, t.motion[list]);
    CopyQuadrant(t.motion, motion, q);
    t.subShape[q] = static_cast<int8_t>(sub);
    t.directQuadrants = static_cast<uint8_t>(direct ? t.directQuadrants | 1u << q : t.directQuadrants & ~(1u << q));
    for (int later = q + 1; fill && later < 4; ++later) {
        CopyQuadrant(t.motion, fill->motion, later);
        t.subShape[later] = kSub8x8;
        t.directQuadrants |= static_cast<uint8_t>(1u << later);
    }
    PredictCandidate(t);
    ComputeDeltas(t);
    return InterRdCost(t);
}

// Whether quadrant q may carry `vectors` motion vectors when `used` went to the quadrants
// before it and each later one needs up to `perLater`.
bool CMbCoder::WithinVectorBudget(int used, int vectors, int q, int perLater) const {
    return used + vectors + perLater * (3 - q) <= mvBudget_;
}

// The B_8x8 candidate: each quadrant in coding order takes the cheapest of list 0, list 1
// (each searched from the best 16x16 vector of its list), both averaged, and the spatial
// direct motion of `out[0]` (no vector or reference bits; charged nothing for them); then,
// where word 19 allows them, the 8x4, 4x8 and 4x4 sub-blocks of each direction compete,
// by block cost at level 1 and by rate-distortion cost at level 2.
void CMbCoder::SearchB8x8(InterCandidate* out, int* count) {
    const InterCandidate& d = out[0];
    if (!d.direct || (bestRef16_ < 0 && bestRefL1_ < 0)) return;
    InterCandidate& c = out[(*count)++];
    c.shape = kPart8x8;
    c.direct = false;
    c.directQuadrants = 0;
    std::fill(c.subShape, c.subShape + 4, int8_t{kSub8x8});
    ClearList(c, 0);
    ClearList(c, 1);
    const int refs[2] = {bestRef16_, bestRefL1_};
    const MotionVector starts[2] = {best16_, bestL1_};
    PartialMotion cur[2] = {{c.motion[0], 0}, {c.motion[1], 0}};
    alignas(16) uint8_t pred[2][256];
    int used = 0;  // vectors of the quadrants decided
    for (int q = 0; q < 4; ++q) {
        const int bx = 2 * (q & 1), by = 2 * (q >> 1);
        const int x = 16 * mb_.mbX + 4 * bx, y = 16 * mb_.mbY + 4 * by, off = 64 * by + 4 * bx;
        MotionVector mv[2];
        uint32_t cost[2] = {kNoCost, kNoCost}, vecCost[2] = {0, 0};
        for (int list = 0; list < 2; ++list) {
            if (refs[list] < 0) continue;
            const MotionVector mvp = PredictMotionVector(mb_.neighbours, cur[list], list, refs[list], bx, by, 2);
            mv[list] = SearchPartition(list, refs[list], bx, by, 2, 2, mvp, &starts[list], 1, &cost[list]);
            vecCost[list] = VectorCost(mv[list], mvp);
            PredictLumaBlock(*mb_.references->list[list][refs[list]], x, y, mv[list].x, mv[list].y, 8, 8,
                             pred[list] + off, 16);
        }
        // 0: list 0, 1: list 1, 2: both, 3: direct.
        int choice = 3;
        uint32_t best = PartitionCost(d.luma, bx, by, 2, 2);
        for (int list = 0; list < 2; ++list)
            if (cost[list] < best) best = cost[list], choice = list;
        if (refs[0] >= 0 && refs[1] >= 0) {
            AveragePredictions(pred[0] + off, pred[1] + off, 8, 8, 16);
            const uint32_t both = PartitionCost(pred[0], bx, by, 2, 2) + vecCost[0] + vecCost[1];
            if (both < best) best = both, choice = 2;
        }
        MotionEntry chosen[2][16];
        for (int list = 0; list < 2; ++list) {
            std::copy(c.motion[list], c.motion[list] + 16, chosen[list]);
            if (choice == 3) {
                const MotionEntry& m = d.motion[list][cavlc::QuadrantFirstBlock(q)];
                SetRect(chosen[list], bx, by, 2, 2, {m.x, m.y}, m.ref);
            } else if (choice == list || choice == 2) {
                SetRect(chosen[list], bx, by, 2, 2, mv[list], refs[list]);
            } else {
                SetRect(chosen[list], bx, by, 2, 2, {}, -1);
            }
        }
        int chosenSub = kSub8x8;
        bool direct = choice == 3;
        if (subShapes_) {
            const bool rd = level_ == kCoderRdo;
            int64_t bestScore = rd ? QuadrantRdCost(c, q, kSub8x8, chosen, direct, &d) : int64_t{best};
            for (int sub = kSub8x4; sub <= kSub4x4; ++sub) {
                if (!(subShapes_ & (1 << (sub - 1)))) continue;
                const int per = kSubBlocks[sub];
                const uint32_t charge = static_cast<uint32_t>(mb_.lambda * 4 * per);
                MotionEntry trial[2][16];
                alignas(16) uint8_t subPred[2][256];
                uint32_t subCost[2] = {kNoCost, kNoCost}, subVec[2] = {0, 0};
                for (int list = 0; list < 2; ++list) {
                    std::copy(c.motion[list], c.motion[list] + 16, trial[list]);
                    if (refs[list] >= 0)
                        subCost[list] = charge + SearchSubBlocks(trial[list], cur[list].decoded, list, refs[list], q,
                                                                 sub, mv[list], kNoCost, subPred[list], &subVec[list]);
                }
                // The direction of these sub-blocks by block cost, within the vector budget
                // (bi-predicted sub-blocks only where the level allows them).
                int dir = -1;
                uint32_t dirCost = kNoCost;
                for (int list = 0; list < 2; ++list)
                    if (subCost[list] < dirCost && WithinVectorBudget(used, per, q, 2))
                        dirCost = subCost[list], dir = list;
                if (refs[0] >= 0 && refs[1] >= 0 && biSubBlocks_ && WithinVectorBudget(used, 2 * per, q, 2)) {
                    AveragePredictions(subPred[0] + off, subPred[1] + off, 8, 8, 16);
                    const uint32_t both = charge + PartitionCost(subPred[0], bx, by, 2, 2) + subVec[0] + subVec[1];
                    if (both < dirCost) dirCost = both, dir = 2;
                }
                if (dir < 0) continue;
                for (int list = 0; list < 2; ++list)
                    if (dir != list && dir != 2) SetRect(trial[list], bx, by, 2, 2, {}, -1);
                const int64_t score = rd ? QuadrantRdCost(c, q, sub, trial, false, &d) : int64_t{dirCost};
                if (score < bestScore) {
                    bestScore = score, chosenSub = sub, direct = false;
                    for (int list = 0; list < 2; ++list)
                        std::copy(trial[list], trial[list] + 16, chosen[list]);
                }
            }
        }
        CopyQuadrant(c.motion, chosen, q);
        c.subShape[q] = static_cast<int8_t>(chosenSub);
        if (direct) c.directQuadrants |= static_cast<uint8_t>(1u << q);
        used += QuadrantVectors(c.motion, q, chosenSub);
        for (int list = 0; list < 2; ++list)
            MarkQuadrant(&cur[list], q);
    }
    PredictCandidate(c);
    ComputeDeltas(c);
}

// Quadrant q of a P_8x8 candidate whose 8x8 vector `mv8` costs `cost8`: each allowed
// sub-partition shape is searched, its blocks in coding order each predicted from the
// blocks before it; the cheapest shape's vectors are written into `c` and its shape
// returned. A shape's extra blocks are charged for their sub_mb_type and vector bits at
// levels 0 and 1; level 2 judges the shapes by their rate-distortion cost. `used`: the
// vectors of the quadrants before q.
int CMbCoder::SearchSubShapes(InterCandidate& c, const PartialMotion& cur, int q, MotionVector mv8, uint32_t cost8,
                              int used) {
    const bool rd = level_ == kCoderRdo;
    int bestShape = kSub8x8;
    int64_t bestCost = rd ? QuadrantRdCost(c, q, kSub8x8, c.motion, false, nullptr) : int64_t{cost8};
    MotionEntry best[2][16];
    for (int shape = kSub8x4; shape <= kSub4x4; ++shape) {
        if (!(subShapes_ & (1 << (shape - 1)))) continue;
        const int per = kSubBlocks[shape];
        if (!WithinVectorBudget(used, per, q, 1)) continue;
        MotionEntry trial[2][16];
        for (int list = 0; list < 2; ++list)
            std::copy(c.motion[list], c.motion[list] + 16, trial[list]);
        const uint32_t charge = static_cast<uint32_t>(mb_.lambda * 4 * per);
        int64_t total;
        if (rd) {
            SearchSubBlocks(trial[0], cur.decoded, 0, bestRef16_, q, shape, mv8, kNoCost, nullptr, nullptr);
            total = QuadrantRdCost(c, q, shape, trial, false, nullptr);
        } else {
            if (charge >= bestCost) continue;
            total = charge + SearchSubBlocks(trial[0], cur.decoded, 0, bestRef16_, q, shape, mv8,
                                             static_cast<uint32_t>(bestCost) - charge, nullptr, nullptr);
        }
        if (total < bestCost) {
            bestCost = total, bestShape = shape;
            for (int list = 0; list < 2; ++list)
                std::copy(trial[list], trial[list] + 16, best[list]);
        }
    }
    if (bestShape != kSub8x8) CopyQuadrant(c.motion, best, q);
    return bestShape;
}

// Score of a candidate at levels 0 and 1: the block cost of its prediction, its vector
// cost, 32 per list on a later reference, the partition overhead, the direct bonus.
int64_t CMbCoder::CandidateScore(const InterCandidate& c) const {
    const int lambda = mb_.lambda;
    int64_t score = int64_t{cost16_(mb_.srcLuma, c.luma)} + (c.direct ? 0 : VectorCost({c.mvdSum, 0}, {}));
    for (int list = 0; list < 2; ++list)
        if (c.motion[list][0].ref > 0) score += 32 * c.motion[list][0].ref;
    if (c.shape == kPart8x8) {
        score += 16 * lambda;
        for (int8_t sub : c.subShape)
            score += sub != kSub8x8 ? 4 * lambda : 0;
    } else if (c.shape != kPart16x16)
        score += 4 * lambda;
    if (c.direct && mb_.sliceType == kSliceB) score -= (level_ == kCoderSatd ? 32 : 16) * lambda;
    return score;
}

// Level 1, P slices: a 16x16 coding whose levels cost at least 5 tries the partition
// shapes; the cheapest prediction among them is coded and replaces the 16x16 one when its
// levels plus the shape's charge (16 for 8x8, 4 for two partitions) are lower.
int64_t CMbCoder::RefineWithPartitions(int64_t cost, int count) {
    int n = count;
    SearchShapes(cand_, &n);
    if (n == count) return cost;
    int bestIndex = -1;
    int64_t bestScore = std::numeric_limits<int64_t>::max();
    for (int i = count; i < n; ++i) {
        const int64_t score = CandidateScore(cand_[i]);
        if (score < bestScore) bestScore = score, bestIndex = i;
    }
    InterCandidate& c = cand_[bestIndex];
    CheckPredictionError(c);
    CodeInterResidual(c);
    const LumaResult& l = mb_.lumaTrial();
    const ChromaResult& cr = mb_.chromaTrial();
    const int64_t refined = (c.shape == kPart8x8 ? 16 : 4) + LumaLevels(l, false) + ChromaLevels(cr);
    if (refined >= cost) return cost;
    mb_.kind = InterKind(c, (l.cbp & 15) | cr.cbp);
    mb_.candidate = &c;
    chosen_ = bestIndex;
    mb_.lumaToggle ^= 1;
    mb_.chromaToggle ^= 1;
    return refined;
}

void CMbCoder::DecideInter() {
    const bool isB = mb_.sliceType == kSliceB;
    if (level_ != kCoderRdo) mb_.CheckFlatness();
    int count = 0;
    SearchCandidates(cand_, &count);

    int bestIndex = 0;
    int64_t bestScore = std::numeric_limits<int64_t>::max();
    for (int i = 0; i < count; ++i) {
        InterCandidate& c = cand_[i];
        const int64_t score = level_ == kCoderRdo ? InterRdCost(c) : CandidateScore(c);
        if (score < bestScore) bestScore = score, bestIndex = i;
    }
    chosen_ = bestIndex;
    InterCandidate& c = cand_[bestIndex];
    int64_t cost = 0;
    if (level_ == kCoderRdo) {
        cost = InterRdCost(c);
    } else {
        const uint32_t predictionError = CheckPredictionError(c);
        CodeInterResidual(c);
        const LumaResult& l = mb_.lumaTrial();
        const ChromaResult& cr = mb_.chromaTrial();
        mb_.kind = InterKind(c, (l.cbp & 15) | cr.cbp);
        mb_.candidate = &c;
        if (mb_.kind != kMbSkipped) {
            const int levels = LumaLevels(l, false) + ChromaLevels(cr);
            cost = levels;
            if (mb_.kind != kMbBDirect16x16) {
                int m = c.mvdSum;
                for (int list = 0; list < 2; ++list)
                    if (c.motion[list][0].ref >= 1) m += 4;
                if (m > 2 * levels) cost = levels + 4 + (isB ? 4 : 0);
            }
        }
        // A reconstruction further from the source than the prediction was is charged 1.
        if (predictionError < mb_.kernels.ssd16x16(mb_.srcLuma, l.recon) / 256) cost += 1;
    }
    mb_.lumaToggle ^= 1;
    mb_.chromaToggle ^= 1;
    if (level_ == kCoderSatd && cost >= 5 &&
        (mb_.kind == kMbPInter || mb_.kind == kMbP8x8 || mb_.kind == kMbBInter || mb_.kind == kMbB8x8))
        cost = RefineWithPartitions(cost, count);
    IntraAfterInter(cost);
}

void CMbCoder::IntraAfterInter(int64_t best) {
    const bool isB = mb_.sliceType == kSliceB;
    bool intra = false;
    if (level_ == kCoderRdo) {
        const int64_t lambda2 = mb_.rdLambda;
        if (best <= 8 * lambda2) return;
        CodeIntraChromaRdo();
        CodeIntra16x16Rdo();
        int64_t j = MacroblockRdCost(mb_.lumaTrial(), mb_.chromaTrial());
        if (j < best) best = j, mb_.kind = kMbIntra16x16, mb_.lumaToggle ^= 1, intra = true;
        if (best > 16 * lambda2) {
            CodeIntra4x4Rdo();
            j = MacroblockRdCost(mb_.lumaTrial(), mb_.chromaTrial());
            if (j < best) best = j, mb_.kind = kMbIntra4x4, mb_.lumaToggle ^= 1, intra = true;
        }
    } else {
        const int lambda = mb_.lambda;
        const int pb = isB ? lambda : 0;
        if (best <= pb + 1) return;
        CodeIntraChroma(8 * lambda);
        const int chromaCost = ChromaLevels(mb_.chromaTrial());
        CodeIntra16x16();
        const int c16 = LumaLevels(mb_.lumaTrial(), true) + chromaCost + pb;
        if (c16 < best) best = c16, mb_.kind = kMbIntra16x16, mb_.lumaToggle ^= 1, intra = true;
        if (best > 2 * lambda) {
            CodeIntra4x4((level_ == kCoderSatd ? 20 : 8) * lambda);
            const LumaResult& l = mb_.lumaTrial();
            const int c4 =
                LumaLevels(l, false) + chromaCost + 2 * std::popcount(static_cast<unsigned>(l.cbp & 15)) + pb;
            if (c4 < best) best = c4, mb_.kind = kMbIntra4x4, mb_.lumaToggle ^= 1, intra = true;
        }
    }
    if (intra) {
        mb_.chromaToggle ^= 1;
        mb_.candidate = nullptr;
    }
}

}  // namespace ombrisk
