// The inter half of the macroblock coder: the candidates its motion object forms (skip or
// direct, the searched directions, the partition shapes), their costs at the three levels,
// and the decision between inter candidates and intra coding.
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "filters/encoder/core/mb_coder.h"
#include "filters/encoder/core/motion_estimator.h"

namespace ombrisk {
namespace {

int ListLevelSum(const CoefficientList& list) {
    int sum = 0;
    for (int i = 0; i < 16 && list.pairs[i].level != 0; ++i)
        sum += std::abs(list.pairs[i].level);
    return sum;
}

}  // namespace

void CMbCoder::CodeInterResidual(InterCandidate& c) {
    motion_->PredictChroma(c);  // chroma is formed only for candidates that are coded
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

uint32_t CMbCoderFast::CheckPredictionError(const InterCandidate& c) {
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

int64_t CMbCoder::MacroblockSsd(const LumaResult& l, const ChromaResult& c) const {
    return int64_t{mb_.kernels.ssd16x16(mb_.srcLuma, l.recon)} + mb_.kernels.ssd8x8(mb_.srcCb, c.recon[0]) +
           mb_.kernels.ssd8x8(mb_.srcCr, c.recon[1]);
}

int64_t CMbCoder::InterRdCost(InterCandidate& c) {
    CodeInterResidual(c);
    const LumaResult& l = mb_.lumaTrial();
    const ChromaResult& cr = mb_.chromaTrial();
    mb_.kind = InterKind(c, (l.cbp & 15) | cr.cbp);
    mb_.candidate = &c;
    return InterRate(c, mb_.kind) + MacroblockSsd(l, cr);
}

int64_t CMbCoder::InterRate(const InterCandidate& c, int32_t kind) {
    if (cabac_) return CabacRate(kind);
    int64_t bits = 1;  // the skip run, or the mb_skip_run before a coded macroblock
    if (kind != kMbSkipped) {
        common::BitCounter tally;
        cavlc::WriteInterMacroblock(tally, mb_, c, mb_.lumaTrial(), mb_.chromaTrial(),
                                    writer_ ? writer_->DeltaFor(mb_.qp) : 0);
        bits += static_cast<int64_t>(tally.BitCount());
    }
    return int64_t{mb_.rdLambda} * bits;
}

void CMbCoder::FormSkipCandidate(InterCandidate& d) {
    if (mb_.sliceType == kSliceB)
        motion_->PredictDirect(d.luma, d);
    else
        motion_->PredictSkip(d.luma, d);
    motion_->MvDifferenceSum(d);
}

int CMbCoder::SearchDirections(InterCandidate* out, int count) {
    motion_->BeginSearch();
    for (int32_t dir : {kPredL0, kPredL1, kPredBi}) {
        InterCandidate& c = out[count];
        std::fill(c.direction, c.direction + 4, static_cast<int8_t>(dir));
        if (!motion_->SearchDirection(c.luma, c)) continue;
        motion_->MvDifferenceSum(c);
        ++count;
    }
    return count;
}

// The partition candidates of the motion object (P: 16x8, 8x16, 8x8; B: B_8x8), each
// appended to `out`.
void CMbCoderRdo::SearchShapes(InterCandidate* out, int* count) {
    if (!refine_ || !motion_->Refine(mb_.lambda)) return;
    int n = *count;
    for (int32_t shape : {kPart16x8, kPart8x16, kPart8x8}) {
        InterCandidate& c = out[n];
        c.shape = shape;
        if (!motion_->RefinePartition(c.luma, c, false)) continue;
        motion_->MvDifferenceSum(c);
        ++n;
    }
    *count = n;
}

// Score of a 16x16 candidate at levels 0 and 1: the block cost of its prediction, its
// vector cost, 32 per list on a later reference, the direct bonus.
int64_t CMbCoderFast::CandidateScore(const InterCandidate& c) const {
    const int lambda = mb_.lambda;
    int64_t score =
        int64_t{cost16_(mb_.srcLuma, c.luma)} + (c.direct ? 0 : int64_t{weights_.vectorWeight} * lambda * c.mvdSum);
    for (int list = 0; list < 2; ++list)
        if (c.motion[list][0].ref > 0) score += 32 * c.motion[list][0].ref;
    if (c.direct && mb_.sliceType == kSliceB) score -= weights_.directBonus * lambda;
    return score;
}

// Level 1: a coding whose levels sum to at least 5 asks the motion object for the
// partition shapes; only the shape of the lowest partition cost is re-predicted (the
// cheapest by λ × vector differences + block cost should several tie) and coded, and it
// replaces the coding when its levels plus the shape's charge (16 for 8x8, 4 for two
// partitions) are below `levels`.
int64_t CMbCoderRefined::Recode(int64_t cost, int levels, int count) {
    if (!motion_->Refine(mb_.lambda)) return cost;
    int bestIndex = -1;
    int64_t bestScore = std::numeric_limits<int64_t>::max();
    int n = count;
    for (int32_t shape : {kPart16x8, kPart8x16, kPart8x8}) {
        InterCandidate& c = cand_[n];
        c.shape = shape;
        if (!motion_->RefinePartition(c.luma, c, true)) continue;
        const int64_t score = int64_t{mb_.lambda} * motion_->MvDifferenceSum(c) + int64_t{cost16_(mb_.srcLuma, c.luma)};
        if (score < bestScore) bestScore = score, bestIndex = n;
        ++n;
    }
    if (bestIndex < 0) return cost;
    InterCandidate& c = cand_[bestIndex];
    CheckPredictionError(c);
    CodeInterResidual(c);
    const LumaResult& l = mb_.lumaTrial();
    const ChromaResult& cr = mb_.chromaTrial();
    const int64_t refined = (c.shape == kPart8x8 ? 16 : 4) + LumaLevels(l, false) + ChromaLevels(cr);
    if (refined >= levels) return cost;
    mb_.kind = InterKind(c, (l.cbp & 15) | cr.cbp);
    mb_.candidate = &c;
    mb_.lumaToggle ^= 1;
    mb_.chromaToggle ^= 1;
    return refined;
}

// A P macroblock whose only levels are chroma levels on the P_Skip motion (a B
// macroblock: on the direct motion): coded, it pays mb_type, the vector differences, the
// pattern, mb_qp_delta and the chroma residual for what those levels take off the chroma
// error; skipped, it pays a step of the skip run. Where λ₂ x the bits saved outweighs the
// error added, it becomes P_Skip or B_Skip (its chroma reconstruction is the prediction,
// as a decoder forms it). Chroma levels alone keep close to a third of a high-QP P
// picture's macroblocks out of P_Skip on noisy content, and those bits set the least
// rate the QP range can reach.
void CMbCoderFast::SkipWhenChromaCostsMore(InterCandidate& c) {
    ChromaResult& cr = mb_.chromaTrial();
    const int64_t coded =
        int64_t{mb_.kernels.ssd8x8(mb_.srcCb, cr.recon[0])} + mb_.kernels.ssd8x8(mb_.srcCr, cr.recon[1]);
    const int64_t skipped =
        int64_t{mb_.kernels.ssd8x8(mb_.srcCb, c.chroma[0])} + mb_.kernels.ssd8x8(mb_.srcCr, c.chroma[1]);
    const int64_t saved = InterRate(c, mb_.kind) - InterRate(c, kMbSkipped);  // λ₂ x bits
    if (skipped - coded > saved) return;
    std::memcpy(cr.recon, c.chroma, sizeof cr.recon);
    cr.cbp = 0;
    mb_.kind = kMbSkipped;
}

// Levels 0 and 1: the skip or direct candidate stands unsearched when its block cost is
// within the skip threshold (twice it at level 1); otherwise the searched candidates
// compete by score, the winner is coded, re-coded at level 1, and intra coding is tried
// against its cost.
void CMbCoderFast::DecideInter() {
    const bool isB = mb_.sliceType == kSliceB;
    mb_.CheckFlatness();
    int count = 1;
    FormSkipCandidate(cand_[0]);
    if (cost16_(mb_.srcLuma, cand_[0].luma) > weights_.skipFactor * uint32_t(mb_.skipThreshold))
        count = SearchDirections(cand_, count);

    int bestIndex = 0;
    int64_t bestScore = std::numeric_limits<int64_t>::max();
    for (int i = 0; i < count; ++i) {
        const int64_t score = CandidateScore(cand_[i]);
        if (score < bestScore) bestScore = score, bestIndex = i;
    }
    InterCandidate& c = cand_[bestIndex];
    const uint32_t predictionError = CheckPredictionError(c);
    CodeInterResidual(c);
    const LumaResult& l = mb_.lumaTrial();
    const ChromaResult& cr = mb_.chromaTrial();
    mb_.kind = InterKind(c, (l.cbp & 15) | cr.cbp);
    mb_.candidate = &c;
    // In P slices without B pictures only: with them (720x576 noise, one B picture, 500
    // kbit/s) the skipped chroma errors of the P pictures cost their B pictures more than
    // it saved, 1.4 dB and 8 % more rate. A B picture is no reference, so its direct
    // macroblocks carrying chroma levels only may become B_Skip whatever follows.
    const bool chromaOnly = mb_.kind != kMbSkipped && (l.cbp & 15) == 0 && InterKind(c, 0) == kMbSkipped;
    if (weights_.chromaOnlySkip && chromaOnly &&
        ((mb_.block.param(kParBFrames) == 0 && mb_.sliceType == kSliceP) || isB))
        SkipWhenChromaCostsMore(c);
    int64_t cost = 0;
    int levels = 0;
    if (mb_.kind != kMbSkipped) {
        levels = LumaLevels(l, false) + ChromaLevels(cr);
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
    mb_.lumaToggle ^= 1;
    mb_.chromaToggle ^= 1;
    if (refine_ && levels >= 5 &&
        (mb_.kind == kMbPInter || mb_.kind == kMbP8x8 || mb_.kind == kMbBInter || mb_.kind == kMbB8x8))
        cost = Recode(cost, levels, count);
    IntraAfterInter(cost);
}

// Level 2: the skip or direct candidate stands unsearched within 8 λ₂ of free; otherwise
// the searched candidates and the partition shapes compete by rate-distortion cost, and
// intra coding is tried against the winner's.
void CMbCoderRdo::DecideInter() {
    int count = 1;
    FormSkipCandidate(cand_[0]);
    if (InterRdCost(cand_[0]) > 8 * int64_t{mb_.rdLambda}) {
        count = SearchDirections(cand_, count);
        SearchShapes(cand_, &count);
    }
    int bestIndex = 0;
    int64_t bestScore = std::numeric_limits<int64_t>::max();
    for (int i = 0; i < count; ++i) {
        const int64_t score = InterRdCost(cand_[i]);
        if (score < bestScore) bestScore = score, bestIndex = i;
    }
    const int64_t cost = InterRdCost(cand_[bestIndex]);
    mb_.lumaToggle ^= 1;
    mb_.chromaToggle ^= 1;
    IntraAfterInter(cost);
}

void CMbCoderRdo::IntraAfterInter(int64_t best) {
    const int64_t lambda2 = mb_.rdLambda;
    if (best <= 8 * lambda2) return;
    bool intra = false;
    CodeIntraChromaRdo();
    CodeIntra16x16Rdo();
    int64_t j = MacroblockRdCost(mb_.lumaTrial(), mb_.chromaTrial());
    if (j < best) best = j, mb_.kind = kMbIntra16x16, mb_.lumaToggle ^= 1, intra = true;
    if (best > 16 * lambda2) {
        CodeIntra4x4Rdo();
        j = MacroblockRdCost(mb_.lumaTrial(), mb_.chromaTrial());
        if (j < best) best = j, mb_.kind = kMbIntra4x4, mb_.lumaToggle ^= 1, intra = true;
    }
    if (intra) {
        mb_.chromaToggle ^= 1;
        mb_.candidate = nullptr;
    }
}

void CMbCoderFast::IntraAfterInter(int64_t best) {
    const int lambda = mb_.lambda;
    const int pb = mb_.sliceType == kSliceB ? lambda : 0;
    if (best <= pb + 1) return;
    // Intra coding is not tried where the block cost of the best intra 16x16 prediction is
    // above 1.5 times the inter prediction's: such macroblocks hardly ever code cheaper as
    // intra (the rate curves of levels 0 and 1 stay within 1 % BD-rate), and coding them
    // both ways took a fifth of level 0's time.
    int mode = -1;
    if (mb_.candidate) {
        const int64_t intra = PredictIntra16x16(&mode);
        if (2 * intra > 3 * int64_t{cost16_(mb_.srcLuma, mb_.candidate->luma)}) return;
    }
    bool intra = false;
    CodeIntraChroma(8 * lambda);
    const int chromaCost = ChromaLevels(mb_.chromaTrial());
    CodeIntra16x16(mode);
    const int c16 = LumaLevels(mb_.lumaTrial(), true) + chromaCost + pb;
    if (c16 < best) best = c16, mb_.kind = kMbIntra16x16, mb_.lumaToggle ^= 1, intra = true;
    if (best > 2 * lambda) {
        CodeIntra4x4(weights_.intra4x4Penalty * lambda);
        const LumaResult& l = mb_.lumaTrial();
        const int c4 = LumaLevels(l, false) + chromaCost + 2 * std::popcount(static_cast<unsigned>(l.cbp & 15)) + pb;
        if (c4 < best) best = c4, mb_.kind = kMbIntra4x4, mb_.lumaToggle ^= 1, intra = true;
    }
    if (intra) {
        mb_.chromaToggle ^= 1;
        mb_.candidate = nullptr;
    }
}

}  // namespace ombrisk
