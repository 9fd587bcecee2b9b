// The macroblock coder: chooses intra 16x16 or intra 4x4 prediction and the chroma
// prediction, and in P and B slices the inter predictions found by motion search, skip
// and direct, at one of three decision levels, and codes the winner.
#pragma once

#include <cstdint>

#include "filters/encoder/core/cavlc_writer.h"
#include "filters/encoder/core/mb_context.h"

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
    // The motion search settings (parameter words 16-19) are read at construction.
    // Decides and codes the current macroblock (after SetPosition and SetQp); the chosen
    // results are mb_.luma() and mb_.chroma(), kind and pattern in mb_.kind and mb_.cbp.
    void CodeMacroblock();

private:
    // Inter decision of P and B slices (motion_search.cpp).
    void DecideInter();
    // The motion search of one partition rectangle (4x4 units) of list `list`, reference
    // `ref`, around the predictor; the vector found and its cost (prediction cost plus
    // the vector cost).
    MotionVector SearchPartition(int list, int ref, int bx, int by, int w, int h, MotionVector mvp,
                                 const MotionVector* starts, int startCount, uint32_t* cost);
    uint32_t PartitionCost(const uint8_t* pred, int bx, int by, int w, int h) const;
    uint32_t VectorCost(MotionVector mv, MotionVector mvp) const;
    // Fills the luma (or the chroma) prediction of a candidate from its motion, per 8x8
    // quadrant.
    void PredictCandidate(InterCandidate& c, bool chroma = false) const;
    // Vector differences of every partition against its predictor; returns their sum.
    int ComputeDeltas(InterCandidate& c) const;
    // Codes the candidate's luma and chroma residual into the trial sets; sets the kind.
    void CodeInterResidual(InterCandidate& c);
    int32_t InterKind(const InterCandidate& c, int cbp) const;
    int64_t InterRdCost(InterCandidate& c);
    int ChromaLevels(const ChromaResult& c) const;
    // Levels 0 and 1: the prediction's mean squared error; on a busy source it moves the
    // elimination thresholds (a close prediction clears more levels in P slices, a poor
    // one fewer in B slices).
    uint32_t CheckPredictionError(const InterCandidate& c);
    void SearchCandidates(InterCandidate* out, int* count);
    void SearchShapes(InterCandidate* out, int* count);
    void SearchB8x8(InterCandidate* out, int* count);
    int SearchSubShapes(InterCandidate& c, const PartialMotion& cur, int q, MotionVector mv8, uint32_t cost8, int used);
    uint32_t SearchSubBlocks(MotionEntry* m, uint16_t decoded, int list, int ref, int q, int sub, MotionVector start,
                             uint32_t limit, uint8_t* pred, uint32_t* vectorCost);
    int64_t QuadrantRdCost(const InterCandidate& c, int q, int sub, const MotionEntry (*motion)[16], bool direct,
                           const InterCandidate* fill);
    bool WithinVectorBudget(int used, int vectors, int q, int perLater) const;
    int64_t CandidateScore(const InterCandidate& c) const;
    int64_t RefineWithPartitions(int64_t cost, int count);
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

    // Motion search settings: ranges in samples, sub-sample depth (0 integer, 1 half,
    // 2 quarter), partition shapes beyond 16x16 (levels 1 and 2 with word 19 above 1).
    int rangeX_ = 16, rangeY_ = 16, subpelDepth_ = 2;
    bool partitions_ = false;
    int subShapes_ = 0;  // bit 0 8x4, bit 1 4x8, bit 2 4x4 (word 19 bits 4-6)
    // Level limits of Table A-1: motion vectors per macroblock (half of MaxMvsPer2Mb, so
    // that any two consecutive macroblocks keep within it), and whether bi-predicted
    // sub-blocks below 8x8 are allowed (MinLumaBiPredSize 8x8 from level 3.1).
    int mvBudget_ = 32;
    bool biSubBlocks_ = true;
    bool motionSearch_ = true;
    // Candidates: the one being built and the best so far.
    InterCandidate cand_[8];
    InterCandidate trial_;  // level 2's sub-shape trials
    int chosen_ = 0;
    // The best 16x16 list-0 vector and reference of the macroblock (partitions start there).
    MotionVector best16_;
    int bestRef16_ = -1;
    MotionVector bestL1_;
    int bestRefL1_ = -1;
};

}  // namespace ombrisk
