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

enum MbCoderLevel : int32_t {
    kCoderSad = 0,   // sum of absolute differences, level sums as cost
    kCoderSatd = 1,  // transform-domain differences, level sums as cost
    kCoderRdo = 2,   // λ × counted bits + squared error
};

class CMbCoder {
public:
    // level: parameter word 20 (0-2). The writer supplies the mb_qp_delta of rate trials.
    CMbCoder(const EncoderBlock& block, int32_t level, const CCavlcWriter* writer);

    CMbContext& context() { return mb_; }
    // The motion object (null when word 15 is outside 0..1).
    CZeroMotionPredictor* motion() { return motion_.get(); }
    // Per slice: the context's picture set-up, then the motion object's.
    void BeginPicture(CRefPictureStore* picture, int32_t sliceType, const InterReferences* references);
    // The motion search settings (parameter words 16-19) are read at construction.
    // Decides and codes the current macroblock (after SetPosition and SetQp); the chosen
    // results are mb_.luma() and mb_.chroma(), kind and pattern in mb_.kind and mb_.cbp.
    void CodeMacroblock();
    // Level 2: codes the inter candidate's residual into the trial sets and returns its
    // rate-distortion cost λ₂ × bits + squared error (luma and chroma).
    int64_t InterRdCost(InterCandidate& c);

private:
    // Inter decision of P and B slices (motion_search.cpp).
    void DecideInter();
    // Codes the candidate's luma and chroma residual into the trial sets; sets the kind.
    void CodeInterResidual(InterCandidate& c);
    int32_t InterKind(const InterCandidate& c, int cbp) const;
    int ChromaLevels(const ChromaResult& c) const;
    // Levels 0 and 1: the prediction's mean squared error; on a busy source it moves the
    // elimination thresholds (a close prediction clears more levels in P slices, a poor
    // one fewer in B slices).
    uint32_t CheckPredictionError(const InterCandidate& c);
    void SearchCandidates(InterCandidate* out, int* count);
    void SearchShapes(InterCandidate* out, int* count);
    int64_t CandidateScore(const InterCandidate& c) const;
    int64_t RecodeInter(int64_t cost, int levels, int count);
    void IntraAfterInter(int64_t interCost);

    struct Edges {
        uint8_t top[1 + 16];  // [0] the corner, then the samples above
        uint8_t left[1 + 16];
    };
    // The samples above and to the left of the size x size block at p (128 where absent).
    void LoadEdges(Edges* e, const uint8_t* p, int stride, int size) const;

    // Levels 0 and 1.
    void CodeIntraChroma(int penalty);
    void CodeIntra16x16();
    void CodeIntra4x4(int penalty);
    // Level 2.
    void CodeIntraChromaRdo();
    void CodeIntra16x16Rdo();
    void CodeIntra4x4Rdo();
    int64_t MacroblockRdCost(const LumaResult& l, const ChromaResult& c);

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
    void UsePcm();

    CMbContext mb_;
    int32_t level_;
    const CCavlcWriter* writer_;
    BlockCostFn cost4_, cost8_, cost16_;
    alignas(16) uint8_t pred_[4][256];

    // Candidates: the one being built and the best so far.
    InterCandidate cand_[8];
    // The motion object: by parameter word 15, the zero-motion predictor (0) or a motion
    // estimator (1; with partitions at levels 1 and 2); none for other values, which the
    // picture encoder refuses. The refine flag: its partition shapes are enabled.
    std::unique_ptr<CZeroMotionPredictor> motion_;
    bool refine_ = false;
    int chosen_ = 0;
};

}  // namespace ombrisk
