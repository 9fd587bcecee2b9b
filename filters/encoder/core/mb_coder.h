// The macroblock coder: chooses intra 16x16 or intra 4x4 prediction and the chroma
// prediction, and in P and B slices the inter predictions found by motion search, skip
// and direct, at one of three decision levels, and codes the winner.
#pragma once

#include <cstdint>
#include <memory>

#include "filters/encoder/core/cavlc_writer.h"
#include "filters/encoder/core/mb_context.h"
#include "filters/encoder/core/motion_estimator.h"

namespace ombrisk {

class CCabacWriter;

enum MbCoderLevel : int32_t {
    kCoderSad = 0,   // sum of absolute differences, level sums as cost
    kCoderSatd = 1,  // transform-domain differences, level sums as cost
    kCoderRdo = 2,   // λ × counted bits + squared error
};

// The macroblock coder of a slice worker: one class per decision level (parameter word
// 20), sharing the context, the candidate sets and the coding steps; they differ in how
// they compare candidates.
class CMbCoder {
public:
    // The coder of `level` (0 CMbCoderFast, 1 CMbCoderRefined, 2 CMbCoderRdo; other values
    // are clamped to that range). The writer supplies the mb_qp_delta of rate trials.
    static std::unique_ptr<CMbCoder> Create(const EncoderBlock& block, int32_t level, const CCavlcWriter* writer);
    virtual ~CMbCoder() = default;
    CMbCoder(const CMbCoder&) = delete;
    CMbCoder& operator=(const CMbCoder&) = delete;

    CMbContext& context() { return mb_; }
    // The motion object (null when kParMotionSearch is outside 0..1).
    CZeroMotionPredictor* motion() { return motion_.get(); }
    // Per slice: the context's picture set-up, then the motion object's.
    void BeginPicture(CRefPictureStore* picture, int32_t sliceType, const InterReferences* references);
    // The motion search settings (kParRangeX to kParPartitions) are read at construction.
    // Decides and codes the current macroblock (after SetPosition and SetQp); the chosen
    // results are mb_.luma() and mb_.chroma(), kind and pattern in mb_.kind and mb_.cbp.
    void CodeMacroblock();
    // Level 2: codes the inter candidate's residual into the trial sets and returns its
    // rate-distortion cost λ₂ × bits + squared error (luma and chroma).
    int64_t InterRdCost(InterCandidate& c);
    // CABAC slices: rate trials count bins against this writer's context states (null:
    // CAVLC bits).
    void UseCabacCounts(CCabacWriter* cabac) { cabac_ = cabac; }

protected:
    // The block costs of intra and inter candidates (prediction against source).
    struct BlockCosts {
        BlockCostFn cost4, cost8, cost16;
    };
    static BlockCosts SadCosts();
    CMbCoder(const EncoderBlock& block, int32_t level, const CCavlcWriter* writer, const BlockCosts& costs);

    // The level's decision for the current macroblock, the motion object prepared in P
    // and B slices: the kind, the chosen sets (toggle convention) and the candidate.
    virtual void DecideMacroblock() = 0;
    // P and B slices with a motion object; otherwise the macroblock is coded intra.
    bool CodesInter() const { return mb_.sliceType != kSliceI && motion_ != nullptr; }

    // The skip (P) or direct (B) candidate into `d`, with its vector differences.
    void FormSkipCandidate(InterCandidate& d);
    // The searched 16x16 candidates (list 0, list 1, both) appended to out[count...];
    // returns the new count.
    int SearchDirections(InterCandidate* out, int count);
    // Codes the candidate's luma and chroma residual into the trial sets; sets the kind.
    void CodeInterResidual(InterCandidate& c);
    int32_t InterKind(const InterCandidate& c, int cbp) const;
    int ChromaLevels(const ChromaResult& c) const;
    // Squared error of the macroblock's reconstruction, luma and both chroma blocks: the
    // distortion of every rate-distortion cost, so that intra and inter candidates are
    // judged on the same samples.
    int64_t MacroblockSsd(const LumaResult& l, const ChromaResult& c) const;

    struct Edges {
        uint8_t top[1 + 16];  // [0] the corner, then the samples above
        uint8_t left[1 + 16];
    };
    // The samples above and to the left of the size x size block at p (128 where absent).
    void LoadEdges(Edges* e, const uint8_t* p, int stride, int size) const;

    // Levels 0 and 1.
    void CodeIntraChroma(int penalty);
    // The intra 16x16 predictions into pred_; returns the least block cost, its mode in
    // *bestMode.
    uint32_t PredictIntra16x16(int* bestMode);
    // Codes intra 16x16 luma with the best mode, or with `knownMode` (0-3) where the caller
    // has chosen it by PredictIntra16x16 already.
    void CodeIntra16x16(int knownMode = -1);
    void CodeIntra4x4(int penalty);

    // One 4x4 block's packed source, its most probable mode and the predictions of every
    // mode its edges allow.
    struct Block4x4Candidates {
        alignas(16) uint8_t src[16];
        alignas(16) uint8_t pred[9][16];
        int modes[9];
        int count = 0;
        int predicted = 2;
    };
    void Predict4x4Candidates(const LumaResult& l, int b, Block4x4Candidates* c) const;

    // Predicts and transform-codes luma 4x4 block b of `l` with `mode`; returns the
    // block's nonzero flag. top/left are that block's edges.
    int Code4x4Block(LumaResult& l, int b, int mode, const uint8_t* pred);
    void Block4x4Edges(const LumaResult& l, int b, uint8_t* top, uint8_t* left, int* avail) const;
    void CodeChromaMode(ChromaResult& c, int mode, const uint8_t* predCb, const uint8_t* predCr);

    int LumaLevels(const LumaResult& l, bool withDc) const;
    bool MayExceedBitLimit() const;
    void CheckBitLimit();
    uint32_t MacroblockBits();
    // λ₂ × the CABAC bits of the trial sets coded as `kind` (the candidate in mb_).
    int64_t CabacRate(int32_t kind);
    // λ₂ x the bits of the current macroblock coded as `kind` with candidate `c` and the
    // trial sets (CAVLC: the skip-run step included), the rate of InterRdCost.
    int64_t InterRate(const InterCandidate& c, int32_t kind);
    void UsePcm();

    CMbContext mb_;
    const CCavlcWriter* writer_;
    CCabacWriter* cabac_ = nullptr;
    BlockCostFn cost4_, cost8_, cost16_;
    alignas(16) uint8_t pred_[4][256];

    // Candidates: [0] skip or direct, then the searched ones and the partition shapes.
    InterCandidate cand_[8];
    // The motion object: by kParMotionSearch, the zero-motion predictor (0) or a motion
    // estimator (1; with partitions at levels 1 and 2); none for other values, which the
    // picture encoder refuses. The refine flag: its partition shapes are enabled and the
    // slice is a P slice.
    std::unique_ptr<CZeroMotionPredictor> motion_;
    bool refine_ = false;
};

// Level 0: candidates compared by sum of absolute differences; a coding costs its level
// sums plus small penalties.
class CMbCoderFast : public CMbCoder {
public:
    CMbCoderFast(const EncoderBlock& block, const CCavlcWriter* writer);

protected:
    // What level 1 changes in the level-0 decision.
    struct Weights {
        uint32_t skipFactor;  // skip or direct taken unsearched up to this × the skip threshold
        int vectorWeight;     // λ multiple per quarter sample of vector difference
        int directBonus;      // λ multiple taken off a B macroblock's direct candidate
        int intra4x4Penalty;  // λ multiple per intra 4x4 mode other than the most probable
        // P macroblocks with chroma levels only on the P_Skip motion may become P_Skip
        // (SkipWhenChromaCostsMore) without B pictures, B direct ones B_Skip always.
        // Level 0 only: at level 1 it took 0.7 dB off CABAC's constant bit rate at 500
        // kbit/s on 720x576 noise, which reaches its rates anyway.
        bool chromaOnlySkip;
    };
    CMbCoderFast(const EncoderBlock& block, int32_t level, const CCavlcWriter* writer, const BlockCosts& costs,
                 const Weights& weights);

    void DecideMacroblock() override;
    // After the inter coding of cost `cost` (level sums `levels`) from the candidates
    // cand_[0..count): the cost that stands. Level 0 re-codes nothing.
    virtual int64_t Recode(int64_t cost, int levels, int count) {
        (void)levels, (void)count;
        return cost;
    }
    // The prediction's mean squared error; on a busy source it moves the elimination
    // thresholds (a close prediction clears more levels in P slices, a poor one fewer in
    // B slices).
    uint32_t CheckPredictionError(const InterCandidate& c);

private:
    void DecideIntra();
    void DecideInter();
    int64_t CandidateScore(const InterCandidate& c) const;
    // Turns the coding of `c` (a P macroblock with chroma levels only, on the P_Skip
    // motion, or a B macroblock so on the direct motion) into P_Skip or B_Skip where the
    // bits it saves weigh more than the chroma error added.
    void SkipWhenChromaCostsMore(InterCandidate& c);
    void IntraAfterInter(int64_t interCost);

    Weights weights_;
};

// Level 1: transform-domain block costs, and a partition re-coding pass after the 16x16
// coding.
class CMbCoderRefined final : public CMbCoderFast {
public:
    CMbCoderRefined(const EncoderBlock& block, const CCavlcWriter* writer);

private:
    int64_t Recode(int64_t cost, int levels, int count) override;
};

// Level 2: every candidate judged by λ₂ × the bits the syntax writer counts + squared
// error of its reconstruction.
class CMbCoderRdo final : public CMbCoder {
public:
    CMbCoderRdo(const EncoderBlock& block, const CCavlcWriter* writer);

private:
    void DecideMacroblock() override;
    void DecideIntra();
    void DecideInter();
    void IntraAfterInter(int64_t interCost);
    // The partition candidates of the motion object appended to `out`.
    void SearchShapes(InterCandidate* out, int* count);
    void CodeIntraChromaRdo();
    void CodeIntra16x16Rdo();
    void CodeIntra4x4Rdo();
    int64_t MacroblockRdCost(const LumaResult& l, const ChromaResult& c);
};

}  // namespace ombrisk
