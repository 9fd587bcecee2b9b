// The macroblock coder of I slices: chooses intra 16x16 or intra 4x4 prediction and the
// chroma prediction at one of three decision levels, and codes the winner.
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
    // Decides and codes the current macroblock (after SetPosition and SetQp); the chosen
    // results are mb_.luma() and mb_.chroma(), kind and pattern in mb_.kind and mb_.cbp.
    void CodeMacroblock();

private:
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
    uint32_t MacroblockBits();
    void UsePcm();

    CMbContext mb_;
    int32_t level_;
    const CCavlcWriter* writer_;
    BlockCostFn cost4_, cost8_, cost16_;
    alignas(16) uint8_t pred_[4][256];
};

}  // namespace ombrisk
