// The vocabulary both entropy writers share: slice type codes, macroblock kinds and
// partition shapes, and the mb_type, sub_mb_type and mb_qp_delta values they derive from
// a macroblock. The writers themselves are templates on their bit sink (cavlc_writer.h).
#pragma once

#include <cstdint>

namespace ombrisk {

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
enum PartitionShape : int32_t { kPart16x16 = 0, kPart16x8 = 1, kPart8x16 = 2, kPart8x8 = 3 };
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

}  // namespace ombrisk
