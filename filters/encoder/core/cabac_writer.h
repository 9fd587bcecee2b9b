// The CABAC macroblock layer (ITU-T H.264 clauses 7.3.5, 9.3.2 and 9.3.3.1): every syntax
// element of a chosen macroblock turned into bins with the contexts its neighbours select,
// coded by the arithmetic coder of cabac_engine.h. Frame coding, 4x4 transforms and 4:2:0
// only, as the rest of the encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/bitstream/bit_writer.h"
#include "filters/encoder/core/cabac_engine.h"
#include "filters/encoder/core/cavlc_writer.h"
#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/mb_context.h"

namespace ombrisk {

// Most bins one macroblock of this encoder can take: 384 coefficients of at most 42 bins
// (significance, last, 14 prefix bins, a 25-bin suffix for the levels below 2^13 that the
// transforms produce at QP 0, sign) and at most 3000 for the header, vectors and flags.
// Sizes the cabac_zero_word padding a slice may need (clause 7.4.2.10); a slice that
// needed more would fail to fit its NAL buffer and be reported, never cut.
constexpr int64_t kMaxCabacBinsPerMb = 20480;

class CCabacWriter {
public:
    // capacity: bytes the arithmetic code of one slice may take (the slice payload bound).
    CCabacWriter(const EncoderBlock& block, size_t capacity);

    // cabac_init_idc of the next slice of `sliceType`, for its header: chosen from the
    // previous slice of that type when `adaptive` (one slice per picture), else 0.
    int InitIdc(int32_t sliceType, bool adaptive) const { return chooser_.Choose(sliceType, adaptive); }

    // After the slice header (which ended with cabac_alignment_one_bit).
    void BeginSlice(int32_t sliceType, int32_t sliceQp, int cabacInitIdc);

    // Codes the chosen macroblock of `mb` (mb_skip_flag, macroblock_layer, then the
    // end_of_slice_flag 0 unless it is the slice's last) and settles its record's QP
    // fields as the CAVLC writer does. Returns the bits it took.
    uint32_t EncodeMacroblock(CMbContext& mb);

    // The bits, in 1/256 bit, that EncodeMacroblock would now take for `mb` (its
    // mb_skip_flag in P and B slices and its macroblock_layer, end_of_slice_flag aside),
    // estimated from the current context states by CabacBitCost; writes nothing and
    // leaves every state as it was. For the rate-distortion decision of the coder.
    uint32_t CountMacroblock(const CMbContext& mb);
    // The same for one intra 4x4 block b of `l` in an intra 4x4 trial: its mode against
    // `predicted` and its residual block, the blocks before it in `l` as neighbours.
    uint32_t CountIntra4x4Block(const CMbContext& mb, const LumaResult& l, int b, int predicted);
    // The same for an intra macroblock's chroma trial `c`: its prediction mode and residual.
    uint32_t CountIntraChroma(const CMbContext& mb, const ChromaResult& c);

    // end_of_slice_flag 1 and the end of the code, appended to `payload` (byte aligned, the
    // rbsp trailing bits included). With `adaptive` the slice's end states choose the next
    // cabac_init_idc. False when the code did not fit its capacity. *bins: the slice's bin
    // count (for the cabac_zero_word padding).
    bool EndSlice(common::BitWriter& payload, bool adaptive, uint64_t* bins);

private:
    // What later neighbours read of a coded macroblock, as a decoder sees it.
    struct Side {
        uint32_t cbf = 0;            // coded_block_flag: bits 0-15 luma 4x4 (raster), 16 luma DC,
                                     // 17-18 chroma DC Cb/Cr, 19-26 chroma AC (component x 4 + block)
        uint8_t cbp = 0;             // coded_block_pattern (0x2F for I_PCM, luma 0 or 15 for 16x16)
        uint8_t refAbove0[2] = {};   // per list, bit q: 8x8 quadrant q codes a ref_idx above 0
        uint8_t mvd[2][16][2] = {};  // |mvd| per list, 4x4 block (raster) and component, capped
    };

    void WriteLayer(const CMbContext& mb, bool* hasDelta, int32_t* delta);
    void ConvertToPcm(CMbContext& mb);
    void WriteSkipFlag(const CMbContext& mb, int skipped);
    static int BTypeInc(const CMbContext& mb);
    void WriteIntraType(const CMbContext& mb, int type);  // I-slice numbering 0..25
    void WriteInterType(const CMbContext& mb, const InterCandidate& c);
    void WriteIntraModes(const CMbContext& mb);
    void WriteMotion(const CMbContext& mb, const InterCandidate& c);
    void WriteCodedBlockPattern(const CMbContext& mb, int cbp);
    void WriteQpDelta(int32_t delta);
    void WriteChromaMode(const CMbContext& mb, int mode);
    void WriteResidual(const CMbContext& mb);
    void WriteChromaResidual(const CMbContext& mb, const ChromaResult& c, int chroma, bool intra);
    // residual_block_cabac of one list: cat is ctxBlockCat 0-4.
    void WriteBlock(const CoefficientList& list, int cat, int maxCoeff, int cbfInc, uint32_t cbfBit);
    void WriteIntra4x4Mode(int mode, int predicted);
    // Runs `write` pricing its bins instead of coding them; every state as before after.
    template <class Write>
    uint32_t Priced(Write write);
    void WriteMvd(int ctxBase, int value, int absSum);
    void WritePcm(const CMbContext& mb);
    void ExpGolombBypass(uint32_t value, int k);

    // The bins of the syntax: coded, or while counting_ only priced (decisions moving
    // the context states as the coder would).
    void D(int ctxIdx, int bin) {
        if (counting_) {
            uint8_t& s = ctx_.state[ctxIdx];
            cost_ += CabacBitCost(s, bin);
            s = CabacNextState(s, bin);
        } else {
            enc_.Decision(ctx_, ctxIdx, bin);
        }
    }
    void Bypass(int bin) {
        if (counting_)
            cost_ += 256;
        else
            enc_.Bypass(bin);
    }
    void Terminate(int bin) {
        if (counting_)
            cost_ += bin ? 7 * 256 : 0;  // range 2 of up to 510: about 7 bits; a 0 costs ~0
        else
            enc_.Terminate(bin);
    }
    // Neighbour side records (null when not available to this macroblock).
    const Side* LeftSide(const CMbContext& mb) const;
    const Side* TopSide(const CMbContext& mb) const;

    const EncoderBlock& block_;
    std::vector<uint8_t> code_;
    std::vector<Side> side_;
    CCabacEncoder enc_;
    CabacContexts ctx_;
    CabacContexts saved_;  // the contexts before the macroblock being coded
    uint32_t maxMbBits_ = kMaxMacroblockBits;
    CCabacInitChooser chooser_;
    Side cur_;
    int32_t sliceType_ = kSliceI;
    int32_t sliceQp_ = 26;
    int32_t lastQp_ = 26;
    bool prevDeltaNonZero_ = false;
    bool counting_ = false;
    uint32_t cost_ = 0;  // 1/256 bit, while counting_
};

}  // namespace ombrisk
