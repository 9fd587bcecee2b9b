// The portable kernel set, installed by family into a kernel table.
#pragma once

#include "filters/encoder/core/kernel_table.h"

namespace ombrisk {

void InstallPortableCosts(CKernelTable* table);       // SAD, SSD, SATD, variance
void InstallPortableFetch(CKernelTable* table);       // block fetches, macroblock load/store
void InstallPortableIntra(CKernelTable* table);       // intra predictors
void InstallPortableTransforms(CKernelTable* table);  // transform-quantise-reconstruct
void InstallPortableMotion(CKernelTable* table);      // interpolation, chroma prediction

// Plane prediction (clauses 8.3.3.4, 8.3.4.4) of an n x n block: sample (x, y) is
// Clip((a + b (x - (n / 2 - 1)) + c (y - (n / 2 - 1)) + 16) >> 5), with b and c
// (scale x H + 2^(shift - 1)) >> shift of the neighbours' gradients H and V. For 8-bit
// samples every term and sum stays within 16 bits.
struct PlaneCoefficients {
    int a, b, c;
};
PlaneCoefficients PlaneOf(int n, int scale, int shift, const uint8_t* top, const uint8_t* left);

// The portable chroma motion compensation of one block (the chromaMotionBlock entry), the
// inner routine of PredictChromaInter.
void ChromaMotionBlock(const uint8_t* ref, int refStride, int mvx, int mvy, int w, int h, uint8_t* dst, int dstStride);
// The chroma inter prediction of a macroblock (the predictChromaInter entry) with a set's
// own block routine.
void PredictChromaInterWith(ChromaMotionBlockFn block, int mbX, int mbY, const PartitionRecord* partitions,
                            const ReferenceLists* refs, uint8_t* out);

}  // namespace ombrisk
