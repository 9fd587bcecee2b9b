// The motion objects: skip and spatial direct predictions, the integer pattern search
// with sub-sample refinement, and the partition and sub-block searches.
#include "filters/encoder/core/motion_estimator.h"

#include <algorithm>
#include <cstdlib>

#include "common/bitstream/h264_syntax.h"
#include "filters/encoder/core/cavlc_writer.h"
#include "filters/encoder/core/mb_coder.h"
#include "filters/encoder/core/motion_comp.h"
#include "filters/encoder/core/param_sets.h"

namespace ombrisk {
namespace {

// 4x4-unit sub-blocks of an 8x8 quadrant by SubPartitionShape.
constexpr int kSubBlocks[4] = {1, 2, 2, 4};

void SetRect(MotionEntry* m, int bx, int by, int w, int h, MotionVector mv, int ref) {
    const MotionEntry e{static_cast<int16_t>(mv.x), static_cast<int16_t>(mv.y), static_cast<int8_t>(ref)};
    for (int y = by; y < by + h; ++y)
        std::fill(m + 4 * y + bx, m + 4 * y + bx + w, e);
}

// The delta entries of blocks that code no vector difference: no vector, the block's
// reference kept.
void ClearDeltas(MotionEntry* delta, const MotionEntry* motion, int bx, int by, int w, int h) {
    for (int y = by; y < by + h; ++y)
        for (int x = bx; x < bx + w; ++x)
            delta[4 * y + x] = MotionEntry{0, 0, motion[4 * y + x].ref};
}

void ClearList(InterCandidate& c, int list) {
    for (int b = 0; b < 16; ++b)
        c.motion[list][b] = MotionEntry{};
}

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

CZeroMotionPredictor::CZeroMotionPredictor(CMbCoder& owner, CMbContext& mb, int32_t level, BlockCostFn cost16)
    : owner_(owner), mb_(mb), level_(level), cost16_(cost16) {}

void CZeroMotionPredictor::BeginPicture() {
    sliceType_ = mb_.sliceType;
    lumaStride_ = mb_.lumaStride;
    chromaStride_ = mb_.chromaStride;
}

void CZeroMotionPredictor::PrepareMacroblock() {
    skipCandidate_ = nullptr;
    skipPrediction_ = nullptr;
    skipMotion_ = DirectMotion{};
    if (sliceType_ == kSliceB) {
        skipMotion_ = PredictSpatialDirect(mb_.neighbours, mb_.colocated);
        directDirection = skipMotion_.Uses(0) && skipMotion_.Uses(1) ? kPredBi
                          : skipMotion_.Uses(1)                      ? kPredL1
                                                                     : kPredL0;
    } else {
        // Every vector of a picture coded without motion search is zero, so the derived
        // P_Skip vector is too; it is derived all the same, as a decoder derives it.
        skipMotion_.ref[0] = 0;
        const MotionVector skip = PredictSkipVector(mb_.neighbours);
        for (MotionVector& v : skipMotion_.mv[0])
            v = skip;
    }
    // Without motion search each list's motion is reference 0 at the zero vector.
    const int lists = sliceType_ == kSliceB ? 2 : 1;
    for (int list = 0; list < 2; ++list) {
        const bool used = list < lists && mb_.references && mb_.references->count[list] > 0;
        bestVector[list] = {};
        bestRef[list] = used ? 0 : -1;
        bestCost[list] = used ? 0 : kNoMotionCost;
    }
}

void CZeroMotionPredictor::BeginCandidate(InterCandidate& c, int32_t direction, bool direct) {
    c.shape = kPart16x16;
    c.direct = direct;
    c.directQuadrants = 0;
    std::fill(c.subShape, c.subShape + 4, int8_t{kSub8x8});
    std::fill(c.direction, c.direction + 4, static_cast<int8_t>(direction));
    SetMotion(c.motion[0], {}, -1);
    SetMotion(c.motion[1], {}, -1);
}

int CZeroMotionPredictor::PredictSkip(uint8_t* prediction, InterCandidate& c) {
    if (sliceType_ != kSliceP) return 0;
    BeginCandidate(c, kPredL0, true);
    SetMotion(c.motion[0], skipMotion_.mv[0][0], 0);
    PredictLuma(c, prediction);
    skipCandidate_ = &c;
    skipPrediction_ = prediction;
    return 1;
}

int CZeroMotionPredictor::PredictDirect(uint8_t* prediction, InterCandidate& c) {
    if (sliceType_ != kSliceB) return 0;
    BeginCandidate(c, directDirection, true);
    for (int list = 0; list < 2; ++list) {
        if (!skipMotion_.Uses(list)) continue;
        for (int q = 0; q < 4; ++q)
            SetPartitionMotion(c.motion[list], 2 * (q & 1), 2 * (q >> 1), 2, 2, skipMotion_.mv[list][q],
                               skipMotion_.ref[list]);
    }
    PredictLuma(c, prediction);
    skipCandidate_ = &c;
    skipPrediction_ = prediction;
    return 1;
}

// Without motion search a B macroblock also tries the directions other than the direct
// one at the zero vector (the direct direction would repeat the direct prediction).
int CZeroMotionPredictor::SearchDirection(uint8_t* prediction, InterCandidate& c) {
    if (sliceType_ != kSliceB || c.direction[0] == directDirection) return 0;
    return FormDirection(prediction, c);
}

int CZeroMotionPredictor::FormDirection(uint8_t* prediction, InterCandidate& c) {
    const int32_t direction = c.direction[0];
    const bool use0 = direction != kPredL1, use1 = direction != kPredL0;
    if ((use0 && bestRef[0] < 0) || (use1 && bestRef[1] < 0)) return 0;
    BeginCandidate(c, direction, false);
    if (use0) SetMotion(c.motion[0], bestVector[0], bestRef[0]);
    if (use1) SetMotion(c.motion[1], bestVector[1], bestRef[1]);
    PredictLuma(c, prediction);
    return 1;
}

MotionVector CZeroMotionPredictor::PredictVector(const PartialMotion& cur, int list, int ref, int bx, int by, int w,
                                                 PredShape shape) const {
    return PredictMotionVector(mb_.neighbours, cur, list, ref, bx, by, w, shape);
}

void CZeroMotionPredictor::SetMotion(MotionEntry* m, MotionVector mv, int ref) {
    SetRect(m, 0, 0, 4, 4, mv, ref);
}

void CZeroMotionPredictor::SetPartitionMotion(MotionEntry* m, int bx, int by, int w, int h, MotionVector mv, int ref) {
    SetRect(m, bx, by, w, h, mv, ref);
}

void CZeroMotionPredictor::CopyMotion(MotionEntry* to, const MotionEntry* from) {
    std::copy(from, from + 16, to);
}

void CZeroMotionPredictor::PredictLuma(const InterCandidate& c, uint8_t* luma) const {
    Predict(c, luma, nullptr);
}

void CZeroMotionPredictor::PredictChroma(InterCandidate& c) const {
    Predict(c, nullptr, c.chroma);
}

// One rectangle of uniform motion at a time (the partitions of an 8x8 candidate, else the
// four quadrants, each at its own direct motion), averaged over both lists.
void CZeroMotionPredictor::Predict(const InterCandidate& c, uint8_t* luma, uint8_t (*chroma)[64]) const {
    alignas(16) uint8_t second[256];
    alignas(16) uint8_t secondChroma[2][64];
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
                                       (first ? chroma[comp] : secondChroma[comp]) + chromaOff, 8);
                if (!first)
                    for (int comp = 0; comp < 2; ++comp)
                        AveragePredictions(chroma[comp] + chromaOff, secondChroma[comp] + chromaOff, 2 * w, 2 * h, 8);
            } else {
                PredictLumaBlock(ref, x, y, m.x, m.y, 4 * w, 4 * h, (first ? luma : second) + lumaOff, 16);
                if (!first) AveragePredictions(luma + lumaOff, second + lumaOff, 4 * w, 4 * h, 16);
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
    // Quadrants of one motion (every 16x16 candidate, most direct ones) form one block:
    // the samples are the same, in one fetch instead of four.
    const auto sameMotion = [](const MotionEntry& a, const MotionEntry& b) {
        return a.x == b.x && a.y == b.y && a.ref == b.ref;
    };
    bool uniform = true;
    for (int list = 0; list < 2 && uniform; ++list) {
        const MotionEntry* m = c.motion[list];
        uniform = sameMotion(m[0], m[2]) && sameMotion(m[0], m[8]) && sameMotion(m[0], m[10]);
    }
    if (uniform) return predictRect(0, 0, 4, 4);
    for (int q = 0; q < 4; ++q)
        predictRect(2 * (q & 1), 2 * (q >> 1), 2, 2);
}

CMotionEstimator::CMotionEstimator(CMbCoder& owner, CMbContext& mb, int32_t level, BlockCostFn cost16)
    : CZeroMotionPredictor(owner, mb, level, cost16) {
    // Vertical vectors stay within +-28 samples, inside the tightest range of Table A-1
    // above level 1 (which every picture with more than 99 macroblocks leaves anyway).
    rangeX_ = std::clamp(mb.block.param(kParRangeX), 0, 256);
    rangeY_ = std::clamp(mb.block.param(kParRangeY), 0, 28);
    subpelDepth_ = std::clamp(mb.block.param(kParSubpelDepth), 0, 2);
}

void CMotionEstimator::PrepareMacroblock() {
    CZeroMotionPredictor::PrepareMacroblock();
    for (int list = 0; list < 2; ++list) {
        bestVector[list] = predictor16_[list] = {};
        bestRef[list] = -1;
        bestCost[list] = kNoMotionCost;
    }
}

// Each list's references (list 1: the first only) searched from the coarse vector of this
// macroblock (or the median of the coarse field around it), the predictor and the skip or
// direct vector; a later reference is charged 64 for its index bits.
void CMotionEstimator::BeginSearch() {
    const bool isB = sliceType_ == kSliceB;
    const InterReferences& refs = *mb_.references;
    const PartialMotion none;
    for (int list = 0; list < (isB ? 2 : 1); ++list) {
        const int refCount = isB && list == 1 ? std::min(refs.count[1], 1) : refs.count[list];
        for (int r = 0; r < refCount; ++r) {
            const MotionVector mvp = PredictVector(none, list, r, 0, 0, 4);
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
            if (skipMotion_.Uses(list)) starts[n++] = skipMotion_.mv[list][0];
            uint32_t cost;
            const MotionVector mv = SearchPartition(list, r, 0, 0, 4, 4, mvp, starts, n, &cost);
            if (field)
                field->at(mb_.mbX, mb_.mbY) =
                    CoarseEntry{static_cast<int16_t>((mv.x + 2) >> 2), static_cast<int16_t>((mv.y + 2) >> 2),
                                static_cast<int32_t>(cost), 1};
            cost += r > 0 ? 64 : 0;
            if (cost < bestCost[list]) {
                bestCost[list] = cost, bestVector[list] = mv, bestRef[list] = r;
                predictor16_[list] = mvp;
            }
        }
    }
}

int CMotionEstimator::SearchDirection(uint8_t* prediction, InterCandidate& c) {
    if (c.direction[0] != kPredL0 && sliceType_ != kSliceB) return 0;
    return FormDirection(prediction, c);
}

// The search's charge for a vector: λ per quarter sample of difference at level 0, λ / 2
// at levels 1 and 2. The linear charge overstates what a long difference costs to code
// (its Exp-Golomb length grows with the logarithm); at the levels that then judge the
// candidates by SATD or by rate and distortion, a full λ held the vectors of zooming or
// noisy content near their predictors, and the poorer predictions cost more residual
// bits than the vectors saved (about 6 % more bits at equal PSNR at QP 40-48).
uint32_t CMotionEstimator::VectorCost(MotionVector mv, MotionVector mvp) const {
    const int halves = level_ == kCoderSad ? 2 : 1;
    return static_cast<uint32_t>(halves * mb_.lambda * (std::abs(mv.x - mvp.x) + std::abs(mv.y - mvp.y)) / 2);
}

uint32_t CMotionEstimator::PartitionCost(const uint8_t* pred, int bx, int by, int w, int h) const {
    if (w == 4 && h == 4) return cost16_(mb_.srcLuma, pred);
    const int off = 64 * by + 4 * bx;
    uint32_t sum = 0;
    for (int y = 0; y < 4 * h; ++y)
        for (int x = 0; x < 4 * w; ++x)
            sum += static_cast<uint32_t>(std::abs(mb_.srcLuma[off + 16 * y + x] - pred[off + 16 * y + x]));
    return sum;
}

MotionVector CMotionEstimator::SearchPartition(int list, int ref, int bx, int by, int w, int h, MotionVector mvp,
                                               const MotionVector* starts, int startCount, uint32_t* outCost) const {
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
    // One pattern around the best position so far; whether it moved.
    const auto around = [&](const auto& pattern) {
        const int cx = bestX, cy = bestY;
        for (const auto& d : pattern) {
            const int nx = cx + d[0], ny = cy + d[1];
            if (!inside(nx, ny)) continue;
            const uint32_t c = costAt(nx, ny);
            if (c < best) best = c, bestX = nx, bestY = ny;
        }
        return cx != bestX || cy != bestY;
    };
    const int steps = (w == 4 && h == 4) ? 5 : 3;
    for (int step = 0; step < steps; ++step)
        if (!around(kLarge)) break;
    around(kSmall);
    MotionVector mv{4 * bestX, 4 * bestY};
    // Sub-sample refinement only where the integer match leaves enough error: the block's
    // sample count at levels 1 and 2, the skip threshold at level 0.
    const uint32_t integerSad = best - VectorCost(mv, mvp);
    const uint32_t refineAbove = level_ == kCoderSad ? uint32_t(mb_.skipThreshold) : uint32_t(bw * bh);
    alignas(16) uint8_t pred[256];
    uint8_t* at = pred + 64 * by + 4 * bx;
    // Partitions are judged by SAD at every level, 16x16 blocks by cost16_, which is SAD
    // at levels 0 and 2: their SADs are read from the reference without forming the
    // prediction.
    const bool sadCost = !(w == 4 && h == 4) || level_ != kCoderSatd;
    const auto subCost = [&](MotionVector v) {
        uint32_t sadValue;
        if (sadCost && PredictionSad(pic, x0, y0, v.x, v.y, bw, bh, src, 16, &sadValue))
            return sadValue + VectorCost(v, mvp);
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

int CZeroMotionPredictor::MvDifferenceSum(InterCandidate& c) const {
    if (c.direct && mb_.sliceType == kSliceB) {
        for (int list = 0; list < 2; ++list)
            ClearDeltas(c.delta[list], c.motion[list], 0, 0, 4, 4);
        return c.mvdSum = 0;
    }
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
                const MotionVector mvp = PredictVector(cur, list, m.ref, p.x, p.y, p.w, shape);
                const MotionVector d{m.x - mvp.x, m.y - mvp.y};
                SetRect(c.delta[list], p.x, p.y, p.w, p.h, d, m.ref);
                sum += std::abs(d.x) + std::abs(d.y);
            } else {
                ClearDeltas(c.delta[list], c.motion[list], p.x, p.y, p.w, p.h);
            }
            // The partition's 4x4 blocks are decoded: one row of w bits per block row.
            const unsigned row = ((1u << p.w) - 1) << p.x;
            for (int y = p.y; y < p.y + p.h; ++y)
                cur.decoded |= static_cast<uint16_t>(row << (4 * y));
        }
    }
    c.mvdSum = sum;
    return sum;
}

CPartitionMotionEstimator::CPartitionMotionEstimator(CMbCoder& owner, CMbContext& mb, int32_t level, BlockCostFn cost16)
    : CMotionEstimator(owner, mb, level, cost16) {
    const int32_t word = mb.block.param(kParPartitions);
    refine_ = word > 1;
    partitionBits_ = word & 14;
    subShapes_ = refine_ ? (word >> 4) & 7 : 0;
    const int levelIdc = ChooseLevel(mb.block);
    if (const common::H264Level* row = common::FindH264Level(levelIdc); row && row->maxMvsPer2Mb)
        mvBudget_ = row->maxMvsPer2Mb / 2;
    biSubBlocks_ = levelIdc < 31;
}

int CPartitionMotionEstimator::Refine(int lambda) {
    lambda_ = lambda;
    std::fill(shapeCost_, shapeCost_ + 3, kNoMotionCost);
    bestPartitionCost_ = kNoMotionCost;
    // The early stop depends on the 16x16 search alone, so it is taken before any shape
    // is searched.
    if (!refine_ || SixteenGoodEnough()) return 0;
    if (sliceType_ == kSliceP) {
        if (bestRef[0] < 0) return 0;
        RefineP();
    } else if (sliceType_ == kSliceB) {
        if (!skipCandidate_ || (bestRef[0] < 0 && bestRef[1] < 0) || !(partitionBits_ >> kPart8x8 & 1)) return 0;
        RefineB();
    } else {
        return 0;
    }
    bestPartitionCost_ = *std::min_element(shapeCost_, shapeCost_ + 3);
    return 1;
}

int CPartitionMotionEstimator::RefinePartition(uint8_t* prediction, InterCandidate& c, bool onlyBest) {
    if (c.shape < kPart16x8 || c.shape > kPart8x8 || !(partitionBits_ >> c.shape & 1)) return 0;
    const int i = c.shape - 1;
    if (shapeCost_[i] == kNoMotionCost || (onlyBest && shapeCost_[i] != bestPartitionCost_)) return 0;
    const InterCandidate& s = shapes_[i];
    c.direct = false;
    c.directQuadrants = s.directQuadrants;
    std::copy(s.subShape, s.subShape + 4, c.subShape);
    std::copy(s.direction, s.direction + 4, c.direction);
    CopyMotion(c.motion[0], s.motion[0]);
    CopyMotion(c.motion[1], s.motion[1]);
    PredictLuma(c, prediction);
    return 1;
}

// Level 1 searches the partition shapes only when the 16x16 search left a cost of at
// least 16 λ (level 2 weighs every shape by its rate-distortion cost instead).
bool CPartitionMotionEstimator::SixteenGoodEnough() const {
    return level_ == kCoderSatd && int64_t{16} * lambda_ > std::min(bestCost[0], bestCost[1]);
}

// The 8x8, 8x16 and 16x8 candidates of a P macroblock that kParPartitions allows, each partition
// searched in coding order from the best 16x16 vector.
void CPartitionMotionEstimator::RefineP() {
    const int ref = bestRef[0];
    const MotionVector start = bestVector[0];
    for (int32_t shape : {kPart8x8, kPart8x16, kPart16x8}) {
        if (!(partitionBits_ >> shape & 1)) continue;
        InterCandidate& c = shapes_[shape - 1];
        c.shape = shape;
        c.directQuadrants = 0;
        std::fill(c.subShape, c.subShape + 4, int8_t{kSub8x8});
        std::fill(c.direction, c.direction + 4, int8_t{kPredL0});
        c.direct = false;
        SetMotion(c.motion[1], {}, -1);
        SetMotion(c.motion[0], start, ref);
        cavlc::PartitionRect parts[4];
        const int np = cavlc::ShapePartitions(shape, parts);
        const PredShape ps = shape == kPart16x8   ? PredShape::k16x8
                             : shape == kPart8x16 ? PredShape::k8x16
                                                  : PredShape::kOther;
        PartialMotion cur{c.motion[0], 0};
        int used = 0;  // vectors of the quadrants decided
        uint32_t total = 0;
        for (int i = 0; i < np; ++i) {
            const cavlc::PartitionRect& p = parts[i];
            const MotionVector mvp = PredictVector(cur, 0, ref, p.x, p.y, p.w, ps);
            uint32_t cost;
            const MotionVector mv = SearchPartition(0, ref, p.x, p.y, p.w, p.h, mvp, &start, 1, &cost);
            SetPartitionMotion(c.motion[0], p.x, p.y, p.w, p.h, mv, ref);
            if (shape == kPart8x8 && subShapes_) {
                c.subShape[i] = static_cast<int8_t>(SearchSubShapes(c, cur, i, mv, cost, used));
                used += kSubBlocks[c.subShape[i]];
            }
            for (int y = p.y; y < p.y + p.h; ++y)
                for (int x = p.x; x < p.x + p.w; ++x)
                    cur.decoded |= static_cast<uint16_t>(1u << (4 * y + x));
            total += cost;
        }
        shapeCost_[shape - 1] = std::min<uint32_t>(total, kNoMotionCost - 1);
    }
}

// The sub-blocks of quadrant q cut by `sub`, searched in list `list` at reference `ref` in
// coding order, each from `start` with its predictor from the blocks before it; their
// motion goes into m and, when given, their prediction into pred (stride 16). Returns the
// summed cost (prediction and vectors), stopping once it reaches `limit`; *vectorCost
// receives the vector part.
uint32_t CPartitionMotionEstimator::SearchSubBlocks(MotionEntry* m, uint16_t decoded, int list, int ref, int q, int sub,
                                                    MotionVector start, uint32_t limit, uint8_t* pred,
                                                    uint32_t* vectorCost) const {
    const int8_t subs[4] = {static_cast<int8_t>(sub), static_cast<int8_t>(sub), static_cast<int8_t>(sub),
                            static_cast<int8_t>(sub)};
    cavlc::PartitionRect all[16];
    cavlc::MotionPartitions(kPart8x8, subs, all);
    const int per = kSubBlocks[sub];
    PartialMotion t{m, decoded};
    uint32_t total = 0, vectors = 0;
    for (int i = 0; i < per && total < limit; ++i) {
        const cavlc::PartitionRect& p = all[per * q + i];
        const MotionVector mvp = PredictVector(t, list, ref, p.x, p.y, p.w);
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
int64_t CPartitionMotionEstimator::QuadrantRdCost(const InterCandidate& c, int q, int sub,
                                                  const MotionEntry (*motion)[16], bool direct,
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
    PredictLuma(t, t.luma);
    MvDifferenceSum(t);
    return owner_.InterRdCost(t);
}

// Whether quadrant q may carry `vectors` motion vectors when `used` went to the quadrants
// before it and each later one needs up to `perLater`.
bool CPartitionMotionEstimator::WithinVectorBudget(int used, int vectors, int q, int perLater) const {
    return used + vectors + perLater * (3 - q) <= mvBudget_;
}

// The B_8x8 candidate: each quadrant in coding order takes the cheapest of list 0, list 1
// (each searched from the best 16x16 vector of its list), both averaged, and the spatial
// direct motion of `out[0]` (no vector or reference bits; charged nothing for them); then,
// where kParPartitions allows them, the 8x4, 4x8 and 4x4 sub-blocks of each direction compete,
// by block cost at level 1 and by rate-distortion cost at level 2.
void CPartitionMotionEstimator::RefineB() {
    const InterCandidate& d = *skipCandidate_;
    InterCandidate& c = shapes_[2];
    c.shape = kPart8x8;
    c.direct = false;
    c.directQuadrants = 0;
    std::fill(c.subShape, c.subShape + 4, int8_t{kSub8x8});
    ClearList(c, 0);
    ClearList(c, 1);
    const int refs[2] = {bestRef[0], bestRef[1]};
    const MotionVector starts[2] = {bestVector[0], bestVector[1]};
    PartialMotion cur[2] = {{c.motion[0], 0}, {c.motion[1], 0}};
    alignas(16) uint8_t pred[2][256];
    int used = 0;  // vectors of the quadrants decided
    uint32_t total = 0;
    for (int q = 0; q < 4; ++q) {
        const int bx = 2 * (q & 1), by = 2 * (q >> 1);
        const int x = 16 * mb_.mbX + 4 * bx, y = 16 * mb_.mbY + 4 * by, off = 64 * by + 4 * bx;
        MotionVector mv[2];
        uint32_t cost[2] = {kNoMotionCost, kNoMotionCost}, vecCost[2] = {0, 0};
        for (int list = 0; list < 2; ++list) {
            if (refs[list] < 0) continue;
            const MotionVector mvp = PredictVector(cur[list], list, refs[list], bx, by, 2);
            mv[list] = SearchPartition(list, refs[list], bx, by, 2, 2, mvp, &starts[list], 1, &cost[list]);
            vecCost[list] = VectorCost(mv[list], mvp);
            PredictLumaBlock(*mb_.references->list[list][refs[list]], x, y, mv[list].x, mv[list].y, 8, 8,
                             pred[list] + off, 16);
        }
        // 0: list 0, 1: list 1, 2: both, 3: direct.
        int choice = 3;
        uint32_t best = PartitionCost(skipPrediction_, bx, by, 2, 2);
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
        uint32_t chosenCost = best;  // block cost of the quadrant's choice
        if (subShapes_) {
            const bool rd = level_ == kCoderRdo;
            int64_t bestScore = rd ? QuadrantRdCost(c, q, kSub8x8, chosen, direct, &d) : int64_t{best};
            for (int sub = kSub8x4; sub <= kSub4x4; ++sub) {
                if (!(subShapes_ & (1 << (sub - 1)))) continue;
                const int per = kSubBlocks[sub];
                const uint32_t charge = static_cast<uint32_t>(lambda_ * 4 * per);
                MotionEntry trial[2][16];
                alignas(16) uint8_t subPred[2][256];
                uint32_t subCost[2] = {kNoMotionCost, kNoMotionCost}, subVec[2] = {0, 0};
                for (int list = 0; list < 2; ++list) {
                    std::copy(c.motion[list], c.motion[list] + 16, trial[list]);
                    if (refs[list] >= 0)
                        subCost[list] =
                            charge + SearchSubBlocks(trial[list], cur[list].decoded, list, refs[list], q, sub, mv[list],
                                                     kNoMotionCost, subPred[list], &subVec[list]);
                }
                // The direction of these sub-blocks by block cost, within the vector budget
                // (bi-predicted sub-blocks only where the level allows them).
                int dir = -1;
                uint32_t dirCost = kNoMotionCost;
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
                    bestScore = score, chosenSub = sub, direct = false, chosenCost = dirCost;
                    for (int list = 0; list < 2; ++list)
                        std::copy(trial[list], trial[list] + 16, chosen[list]);
                }
            }
        }
        CopyQuadrant(c.motion, chosen, q);
        c.subShape[q] = static_cast<int8_t>(chosenSub);
        const bool l0 = c.motion[0][cavlc::QuadrantFirstBlock(q)].ref >= 0;
        const bool l1 = c.motion[1][cavlc::QuadrantFirstBlock(q)].ref >= 0;
        c.direction[q] = static_cast<int8_t>(direct ? directDirection : l0 && l1 ? kPredBi : l1 ? kPredL1 : kPredL0);
        if (direct) c.directQuadrants |= static_cast<uint8_t>(1u << q);
        used += QuadrantVectors(c.motion, q, chosenSub);
        for (int list = 0; list < 2; ++list)
            MarkQuadrant(&cur[list], q);
        total += std::min(chosenCost, kNoMotionCost);
    }
    shapeCost_[2] = std::min<uint32_t>(total, kNoMotionCost - 1);
}

// Quadrant q of a P_8x8 candidate whose 8x8 vector `mv8` costs `cost8`: each allowed
// sub-partition shape is searched, its blocks in coding order each predicted from the
// blocks before it; the cheapest shape's vectors are written into `c` and its shape
// returned. A shape's extra blocks are charged for their sub_mb_type and vector bits at
// levels 0 and 1; level 2 judges the shapes by their rate-distortion cost. `used`: the
// vectors of the quadrants before q.
int CPartitionMotionEstimator::SearchSubShapes(InterCandidate& c, const PartialMotion& cur, int q, MotionVector mv8,
                                               uint32_t cost8, int used) {
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
        const uint32_t charge = static_cast<uint32_t>(lambda_ * 4 * per);
        int64_t total;
        if (rd) {
            SearchSubBlocks(trial[0], cur.decoded, 0, bestRef[0], q, shape, mv8, kNoMotionCost, nullptr, nullptr);
            total = QuadrantRdCost(c, q, shape, trial, false, nullptr);
        } else {
            if (charge >= bestCost) continue;
            total = charge + SearchSubBlocks(trial[0], cur.decoded, 0, bestRef[0], q, shape, mv8,
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

}  // namespace ombrisk
