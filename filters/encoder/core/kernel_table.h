// The process-wide kernel table: every pixel loop of the encoder core calls through it.
// Each entry is a kernel or a row of kernels of the selected set; the portable set fills
// every entry, and the SIMD set replaces them when the feature word has kCpuMmxExt
// (0x200). The table also holds the CPU-features words it was chosen by.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/dsp/deblock_kernels.h"

namespace ombrisk {

struct CoefficientList;
struct PartitionRecord;
struct ReferenceLists;

// QP, QP / 6, QP mod 6, qbits, rounding offset.
struct QuantRecord {
    int32_t qp, qpDiv6, qpMod6, qbits, offset;
};

using MacroblockPixelsFn = void (*)(uint8_t* luma, uint8_t* cb, uint8_t* cr, uint8_t* lumaBuf, uint8_t* cbBuf,
                                    uint8_t* crBuf, int lumaStride, int chromaStride);
using CopyBytesFn = void* (*)(void* dst, const void* src, size_t count);
using FillBytesFn = void* (*)(void* dst, int value, size_t count);
using BlockCostFn = uint32_t (*)(const uint8_t* a, const uint8_t* b);
using TransformIntra16x16Fn = int (*)(const uint8_t* src, uint8_t* recon, const uint8_t* pred, int16_t* coefs,
                                      CoefficientList* dc, CoefficientList* ac, const QuantRecord* q);
using TransformLuma4x4Fn = int (*)(const uint8_t* src, uint8_t* recon, const uint8_t* pred, int16_t* coefs,
                                   CoefficientList* list, const QuantRecord* q, int offsetShift);
using TransformInter16x16Fn = int (*)(const uint8_t* src, uint8_t* recon, const uint8_t* pred, int16_t* coefs,
                                      CoefficientList* lists, const QuantRecord* q, int costThreshold);
using TransformChromaFn = int (*)(const uint8_t* src, uint8_t* recon, const uint8_t* pred, int16_t* coefs,
                                  CoefficientList* dc, CoefficientList* ac, const QuantRecord* q, int dcOffsetShift,
                                  int acCostThreshold);
// Intra predictors write a contiguous block; neighbour arrays have the corner at index -1.
using PredIntraFn = void (*)(uint8_t* dst, const uint8_t* top, const uint8_t* left, int topAvailable,
                             int leftAvailable);
using Variance16x16Fn = uint32_t (*)(const uint8_t* block);
using Mse16x16Fn = uint32_t (*)(const uint8_t* a, const uint8_t* b);
// Rows of two entries of different types share one row record.
struct VarianceRow {
    Variance16x16Fn variance16x16;
    Mse16x16Fn mse16x16;
};
// Writes the half-sample output of source rows first .. end - 1 of a plane of `rows` rows.
using InterpolateHalfPelFn = void (*)(const uint8_t* plane, uint8_t* halfPlane, int16_t* scratch, int stride, int rows,
                                      int first, int end);
// SAD row members: 0 contiguous, 1 strided, 2 every second sample, 3 average of two phases.
using SadFn = uint32_t (*)(const uint8_t* a, const uint8_t* s1, const uint8_t* s2, int strideA, int strideS, int rows);
using PredictChromaInterFn = void (*)(int mbX, int mbY, const PartitionRecord* partitions, const ReferenceLists* refs,
                                      uint8_t* out);
// Block fetch members: 0 copy, 1 average, 2 every second sample, 3 its average,
// 4 average of two phases, 5 its average onto the destination.
using BlockFetchFn = void (*)(uint8_t* dst, const uint8_t* a, const uint8_t* b, int dstStride, int srcStride, int rows);
// Chroma motion compensation (clause 8.4.2.2.2) of one w x h block (w and h 2, 4 or 8) at
// eighth-sample vector (mvx, mvy); ref is the block's co-located sample, and the reads
// reach one row and one column beyond the displaced block.
using ChromaMotionBlockFn = void (*)(const uint8_t* ref, int refStride, int mvx, int mvy, int w, int h, uint8_t* dst,
                                     int dstStride);

constexpr int kPredIntra4x4Modes = 9;
constexpr int kPredChromaModes = 4;
constexpr int kPredIntra16x16Modes = 4;
constexpr int kSadMembers = 4;
constexpr int kBlockFetchMembers = 6;

struct CKernelTable {
    MacroblockPixelsFn storeMacroblockPixels;
    CopyBytesFn copyBytes;
    BlockCostFn ssd4x4;
    BlockCostFn ssd8x8;
    BlockCostFn ssd16x16;
    TransformIntra16x16Fn transformIntra16x16;
    TransformLuma4x4Fn transformLuma4x4;
    const PredIntraFn* predIntra4x4;   // row of 9
    const PredIntraFn* predChroma8x8;  // row of 4
    TransformChromaFn transformChroma;
    BlockCostFn satd4x4;
    BlockCostFn satd8x8;
    BlockCostFn satd16x16;
    const VarianceRow* variance;        // row of 2
    const PredIntraFn* predIntra16x16;  // row of 4
    TransformInter16x16Fn transformInter16x16;
    MacroblockPixelsFn loadMacroblockPixels;
    InterpolateHalfPelFn interpolateHalfPel;
    const SadFn* sad4x4;       // row of 4
    const SadFn* sad8x8;       // row of 4
    const SadFn* sad16x16;     // row of 4
    SadFn sadContiguous4x4;    // member 0 of sad4x4
    SadFn sadContiguous8x8;    // member 0 of sad8x8
    SadFn sadContiguous16x16;  // member 0 of sad16x16
    PredictChromaInterFn predictChromaInter;
    common::DeblockKernels deblock;    // the loop filter, shared with the decoder
    const BlockFetchFn* blockFetch4;   // row of 6
    const BlockFetchFn* blockFetch8;   // row of 6
    const BlockFetchFn* blockFetch16;  // row of 6
    FillBytesFn fillBytes;
    ChromaMotionBlockFn chromaMotionBlock;
    // The CPU-features words.
    uint32_t featureWord;
    uint32_t processorCount;
};

// A kernel set: fills or overrides the entries it has. The portable set must leave no
// entry empty once every kernel of it exists; the SIMD set overrides only what it has.
using KernelSetInstaller = void (*)(CKernelTable* table);
void InstallPortableKernels(CKernelTable* table);
void InstallSimdKernels(CKernelTable* table);

// Builds a table for a given feature word (tests build one for any flag subset): the
// portable set, then the SIMD set when kCpuMmxExt is set.
void FillKernelTable(CKernelTable* table, uint32_t featureWord, uint32_t processorCount);

// The process's table, filled once (on first use, from the processor's feature word and
// processor count) and never changed afterwards. With OMBRISK_PORTABLE_KERNELS=1 in the
// environment it holds the portable set whatever the processor has.
const CKernelTable& KernelTable();

// The feature word the process's table was filled with (its `featureWord` keeps the
// processor's): 0 when the portable set is forced, so that kernels kept outside the table
// follow the same choice.
uint32_t KernelSetFeatures();

}  // namespace ombrisk
