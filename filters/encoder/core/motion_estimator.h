// The motion objects of the macroblock coders: the zero-motion predictor (motion search
// off), the 16x16 motion estimator (level 0) and the partition motion estimator (levels 1
// and 2). The coder drives them through one set of virtual operations: prepare the
// macroblock, form the skip or direct prediction, search, form the prediction of one
// direction, refine into partitions and form a partition candidate.
#pragma once

#include <cstdint>

#include "filters/encoder/core/kernel_table.h"
#include "filters/encoder/core/mb_context.h"
#include "filters/encoder/core/motion_vectors.h"

namespace ombrisk {

class CMbCoder;

// Cost of an unsearched list or shape.
constexpr uint32_t kNoMotionCost = 0x0FFFFFFF;

class CZeroMotionPredictor {
public:
    // owner: the coder whose context holds the macroblock and whose rate-distortion cost
    // judges level 2's sub-block shapes; level: kParMbCoderLevel; cost16: the coder's
    // 16x16 block cost (SAD, or SATD at level 1).
    CZeroMotionPredictor(CMbCoder& owner, CMbContext& mb, int32_t level, BlockCostFn cost16);
    virtual ~CZeroMotionPredictor() = default;
    CZeroMotionPredictor(const CZeroMotionPredictor&) = delete;
    CZeroMotionPredictor& operator=(const CZeroMotionPredictor&) = delete;

    // Per slice: the slice type and the strides of the picture the context now codes.
    virtual void BeginPicture();
    // Per macroblock of a P or B slice: the skip or direct motion, best costs reset.
    virtual void PrepareMacroblock();
    // The list searches (nothing without motion search: every list's best is reference 0
    // at the zero vector).
    virtual void BeginSearch() {}
    // The P_Skip (P) or spatial direct (B) candidate, its luma prediction into `prediction`;
    // 1 when a candidate was produced.
    virtual int PredictSkip(uint8_t* prediction, InterCandidate& c);
    virtual int PredictDirect(uint8_t* prediction, InterCandidate& c);
    // The 16x16 candidate of the direction in c.direction[0] (kPredL0, kPredL1, kPredBi) at
    // the lists' best motion; 0 when the direction yields no candidate.
    virtual int SearchDirection(uint8_t* prediction, InterCandidate& c);
    // Partition shapes beyond 16x16 (kParPartitions above 1) and the sub-block shape bits.
    virtual bool RefineEnabled() const { return false; }
    virtual int SubPartitionsEnabled() const { return 0; }
    // Searches the partition shapes; 1 when their candidates are ready.
    virtual int Refine(int lambda) {
        (void)lambda;
        return 0;
    }
    // The candidate of the shape in c.shape (searched by Refine), its luma prediction into
    // `prediction`; with `onlyBest`, only the shape of the lowest partition cost.
    virtual int RefinePartition(uint8_t* prediction, InterCandidate& c, bool onlyBest) {
        (void)prediction, (void)c, (void)onlyBest;
        return 0;
    }

    // mvpLX of a partition (clause 8.4.1.3), `cur` holding the blocks coded before it.
    MotionVector PredictVector(const PartialMotion& cur, int list, int ref, int bx, int by, int w,
                               PredShape shape = PredShape::kOther) const;
    // The vector differences of every partition of `c` against its predictor into c.delta;
    // returns the sum of their magnitudes (quarter samples) and keeps it in c.mvdSum.
    int MvDifferenceSum(InterCandidate& c) const;
    static void SetMotion(MotionEntry* m, MotionVector mv, int ref);
    static void SetPartitionMotion(MotionEntry* m, int bx, int by, int w, int h, MotionVector mv, int ref);
    static void CopyMotion(MotionEntry* to, const MotionEntry* from);
    // The luma prediction of `c` from its motion into `luma` (stride 16), or its chroma
    // prediction into c.chroma.
    void PredictLuma(const InterCandidate& c, uint8_t* luma) const;
    void PredictChroma(InterCandidate& c) const;

    // Per list: the best vector of the search, its reference index (-1: none) and cost.
    MotionVector bestVector[2];
    int bestRef[2] = {-1, -1};
    uint32_t bestCost[2] = {kNoMotionCost, kNoMotionCost};
    // B slices: the direction of the direct prediction.
    int32_t directDirection = kPredL0;

protected:
    // Fills the candidate's motion fields for a 16x16 prediction of both lists.
    static void BeginCandidate(InterCandidate& c, int32_t direction, bool direct);
    // The 16x16 candidate of direction c.direction[0] at the lists' best motion.
    int FormDirection(uint8_t* prediction, InterCandidate& c);
    void Predict(const InterCandidate& c, uint8_t* luma, uint8_t (*chroma)[64]) const;

    CMbCoder& owner_;
    CMbContext& mb_;
    int32_t level_;
    BlockCostFn cost16_;
    int32_t sliceType_ = kSliceI;
    int lumaStride_ = 0, chromaStride_ = 0;
    // The skip (P) or direct (B) motion of the macroblock, and the candidate and luma
    // prediction PredictSkip or PredictDirect last formed from it.
    DirectMotion skipMotion_;
    const InterCandidate* skipCandidate_ = nullptr;
    const uint8_t* skipPrediction_ = nullptr;
};

class CMotionEstimator : public CZeroMotionPredictor {
public:
    CMotionEstimator(CMbCoder& owner, CMbContext& mb, int32_t level, BlockCostFn cost16);

    void PrepareMacroblock() override;
    void BeginSearch() override;
    int SearchDirection(uint8_t* prediction, InterCandidate& c) override;

protected:
    // The integer pattern search and sub-sample refinement of one partition (4x4 units) of
    // list `list`, reference `ref`, around predictor `mvp` from `starts`; the vector found
    // and, in *cost, its prediction cost plus vector cost.
    MotionVector SearchPartition(int list, int ref, int bx, int by, int w, int h, MotionVector mvp,
                                 const MotionVector* starts, int startCount, uint32_t* cost) const;
    uint32_t PartitionCost(const uint8_t* pred, int bx, int by, int w, int h) const;
    uint32_t VectorCost(MotionVector mv, MotionVector mvp) const;

    // Search ranges in samples and sub-sample depth (0 integer, 1 half, 2 quarter).
    int rangeX_ = 16, rangeY_ = 16, subpelDepth_ = 2;
    // The 16x16 vector predictor of each list at its best reference.
    MotionVector predictor16_[2];
};

class CPartitionMotionEstimator : public CMotionEstimator {
public:
    CPartitionMotionEstimator(CMbCoder& owner, CMbContext& mb, int32_t level, BlockCostFn cost16);

    bool RefineEnabled() const override { return refine_; }
    int SubPartitionsEnabled() const override { return subShapes_ << 4; }
    // P slices: the 8x8, 8x16 and 16x8 shapes (sub-blocks in each 8x8 where allowed); B
    // slices: the B_8x8 shape, each quadrant list 0, list 1, both or direct. At level 1, 0
    // without a search when 16 λ exceeds the lower 16x16 cost.
    int Refine(int lambda) override;
    int RefinePartition(uint8_t* prediction, InterCandidate& c, bool onlyBest) override;

private:
    void RefineP();
    void RefineB();
    bool SixteenGoodEnough() const;
    int SearchSubShapes(InterCandidate& c, const PartialMotion& cur, int q, MotionVector mv8, uint32_t cost8, int used);
    uint32_t SearchSubBlocks(MotionEntry* m, uint16_t decoded, int list, int ref, int q, int sub, MotionVector start,
                             uint32_t limit, uint8_t* pred, uint32_t* vectorCost) const;
    int64_t QuadrantRdCost(const InterCandidate& c, int q, int sub, const MotionEntry (*motion)[16], bool direct,
                           const InterCandidate* fill);
    bool WithinVectorBudget(int used, int vectors, int q, int perLater) const;

    bool refine_ = false;
    int partitionBits_ = 0;  // kParPartitions bits 1-3: 16x8, 8x16, 8x8
    int subShapes_ = 0;      // bit 0 8x4, bit 1 4x8, bit 2 4x4 (kParPartitions bits 4-6)
    // Level limits of Table A-1: motion vectors per macroblock (half of MaxMvsPer2Mb, so
    // that any two consecutive macroblocks keep within it), and whether bi-predicted
    // sub-blocks below 8x8 are allowed (MinLumaBiPredSize 8x8 from level 3.1).
    int mvBudget_ = 32;
    bool biSubBlocks_ = true;
    // The partition candidates by shape (16x8, 8x16, 8x8; in B slices only 8x8) with
    // their summed costs, the lowest of them, and λ of the search.
    InterCandidate shapes_[3];
    uint32_t shapeCost_[3] = {kNoMotionCost, kNoMotionCost, kNoMotionCost};
    uint32_t bestPartitionCost_ = kNoMotionCost;
    int lambda_ = 1;
    // Level 2's sub-block shape trials.
    InterCandidate trial_;
};

}  // namespace ombrisk
