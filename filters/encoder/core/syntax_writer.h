// The syntax writer interface through which the macroblock coders emit one slice's
// macroblock layer, implemented once for CAVLC and once for CABAC, and the mb_type and
// sub_mb_type values that both derive from a macroblock's kind and partitions.
#pragma once

#include <cstdint>

#include "filters/encoder/core/bit_buffer.h"
#include "filters/encoder/core/encoder_block.h"

namespace ombrisk {

struct CMbContext;       // per-macroblock coding context
struct MbRecord;         // per-macroblock record kept for neighbours
struct SliceRecord;      // one slice's record
struct CoefficientList;  // (level, run) pairs of one residual block

// The encoder's own slice type numbering.
enum SliceTypeCode : int32_t {
    kSliceI = 0,
    kSliceP = 1,
    kSliceB = 2,
    kSliceSI = 3,
    kSliceSP = 4,
};

// Macroblock kinds.
enum MbKind : int32_t {
    kMbIntra4x4 = 0,
    kMbIntra16x16 = 1,
    kMbIntraPcm = 2,  // samples sent as they are, when coding would exceed the macroblock bit limit
    kMbPInter = 3,
    kMbP8x8 = 4,
    kMbBInter = 5,
    kMbB8x8 = 6,
    kMbSkipped = 7,
    kMbBDirect16x16 = 8,
};

// Partition shapes of kinds 3 and 5, and sub-partition shapes of an 8x8 partition.
enum PartitionShape : int32_t { kPart16x16 = 0, kPart16x8 = 1, kPart8x16 = 2 };
enum SubPartitionShape : int32_t { kSub8x8 = 0, kSub8x4 = 1, kSub4x8 = 2, kSub4x4 = 3 };
// Prediction directions: list 0, list 1, both.
enum PredDirection : int32_t { kPredL0 = 0, kPredL1 = 1, kPredBi = 2 };

constexpr int32_t kInvalidValue = static_cast<int32_t>(0xDEADC0DEu);

// The intra mb_type offset of a slice type: 0 in I, 6 in P and SP, 23 in B.
int32_t IntraMbTypeOffset(int32_t sliceTypeCode);

// What ComputeMbType reads of a macroblock.
struct MbTypeInputs {
    int32_t kind = kMbIntra4x4;
    int32_t intraOffset = 0;
    int32_t intra16x16Mode = 0;     // Intra16x16PredMode 0-3
    int32_t codedBlockPattern = 0;  // bits 0-3 luma 8x8, bits 4-5 chroma 0-2
    int32_t shape = kPart16x16;     // kinds 3 and 5
    int32_t direction0 = kPredL0;   // kind 5: first partition
    int32_t direction1 = kPredL0;   // kind 5: second partition
    bool allRefIdxZero = false;     // kind 4: every 8x8 partition uses reference 0
};

// mb_type value: B macroblocks get the standard's mb_type (Table 7-14), intra ones the
// standard's value plus the slice's offset (Table 7-11), P ones the standard's value plus
// one (Table 7-13; the writers subtract it). kInvalidValue for an unknown kind.
int32_t ComputeMbType(const MbTypeInputs& mb);

// sub_mb_type: in B slices the standard's B sub_mb_type (Table 7-18) of shape and
// direction, else the shape itself (the P sub_mb_type, Table 7-17).
int32_t ComputeSubMbType(int32_t sliceTypeCode, int32_t shape, int32_t direction);

// mb_qp_delta wrapped into -26..25 (clause 7.4.5: QP wraps modulo 52).
int32_t WrapQpDelta(int32_t delta);

// Abstract writer of one slice's macroblock layer. A writer lives as long as its slice
// worker; per slice BeginSlice, EncodeMacroblock for each macroblock, EndSlice. Between
// macroblocks the mode decision may run trials with counting on (slots 5-10); counting
// never touches the bit buffer or the real coding state.
class CSyntaxWriter {
public:
    explicit CSyntaxWriter(const EncoderBlock* block);
    virtual ~CSyntaxWriter() = default;                                              // slot 0
    virtual void BeginSlice(const SliceRecord& slice) = 0;                           // slot 1
    virtual int EndSlice() = 0;                                                      // slot 2
    virtual int EncodeMacroblock(CMbContext& mb) = 0;                                // slot 3
    virtual int GetCabacInitIdc() const = 0;                                         // slot 4
    virtual void SetCounting(int counting) = 0;                                      // slot 5
    virtual void BeginTrial(int motionPart, int texturePart) = 0;                    // slot 6
    virtual void RestoreBest(int motionPart, int texturePart) = 0;                   // slot 7
    virtual void SaveCandidate(int motionPart, int texturePart) = 0;                 // slot 8
    virtual void CommitCandidate(int motionPart, int texturePart) = 0;               // slot 9
    virtual uint32_t GetBitCount() const = 0;                                        // slot 10
    virtual int WriteMbHeader() = 0;                                                 // slot 11
    virtual void WriteMbType(int32_t mbType) = 0;                                    // slot 12
    virtual void WriteMotion() = 0;                                                  // slot 13
    virtual void WriteCodedBlockPattern() = 0;                                       // slot 14
    virtual int32_t WriteMbQpDelta(int32_t delta) = 0;                               // slot 15
    virtual void WriteLumaResidual() = 0;                                            // slot 16
    virtual void WriteChromaResidual() = 0;                                          // slot 17
    virtual void WriteResidualBlock(const CoefficientList& list, int category) = 0;  // 18
    virtual void WriteIntra4x4Modes() = 0;                                           // slot 19
    virtual void WriteIntra4x4Mode(int codedMode) = 0;                               // slot 20
    virtual void WriteIntraChromaPredMode(int mode) = 0;                             // slot 21
    virtual int WriteSkip() = 0;                                                     // slot 22
    virtual int32_t WriteMbQpDeltaIfPresent();                                       // slot 23

protected:
    // The base step of BeginSlice: slice record, slice type code, intra mb_type offset,
    // the slice QP as last QP.
    void BeginSliceCommon(const SliceRecord* slice, int32_t sliceTypeCode, int32_t sliceQp);

    const int32_t* picture_;
    const int32_t* params_;
    const int32_t* luma_;
    const int32_t* chroma_;
    const int32_t* macroblocks_;

    int32_t sliceType_ = kSliceI;
    int32_t intraOffset_ = 0;
    const SliceRecord* slice_ = nullptr;

    // The current macroblock's copied fields, set at the start of EncodeMacroblock.
    int32_t kind_ = kMbIntra4x4;
    int32_t codedBlockPattern_ = 0;
    bool leftAvailable_ = false;
    bool topAvailable_ = false;
    int32_t mbQp_ = 0;          // the QP this macroblock is coded with
    int32_t codedQpDelta_ = 0;  // what slot 23 coded, for the macroblock's record
    MbRecord* current_ = nullptr;
    const MbRecord* left_ = nullptr;
    const MbRecord* top_ = nullptr;

    // Residual scratch: current 4x4 block column, row, chroma component.
    int blockX_ = 0, blockY_ = 0, chromaComponent_ = 0;
    int32_t lastQp_ = 0;
    CBitBuffer* bits_ = nullptr;
    CMbContext* mb_ = nullptr;
};

}  // namespace ombrisk
