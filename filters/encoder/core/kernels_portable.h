// The portable kernel set, installed by family into a kernel table.
#pragma once

#include "filters/encoder/core/kernel_table.h"

namespace ombrisk {

void InstallPortableCosts(CKernelTable* table);       // SAD, SSD, SATD, variance
void InstallPortableFetch(CKernelTable* table);       // block fetches, macroblock load/store
void InstallPortableIntra(CKernelTable* table);       // intra predictors
void InstallPortableTransforms(CKernelTable* table);  // transform-quantise-reconstruct
void InstallPortableMotion(CKernelTable* table);      // interpolation, chroma prediction
void InstallPortableDeblock(CKernelTable* table);     // deblocking edge filters

// Chroma motion compensation of one w x h block at eighth-sample vector (mvx, mvy), the
// inner routine of PredictChromaInter; ref is the block's co-located sample.
void ChromaMotionBlock(const uint8_t* ref, int refStride, int mvx, int mvy, int w, int h, uint8_t* dst, int dstStride);
using ChromaMotionBlockFn = void (*)(const uint8_t* ref, int refStride, int mvx, int mvy, int w, int h, uint8_t* dst,
                                     int dstStride);
// The chroma inter prediction of a macroblock (the predictChromaInter entry) with a set's
// own block routine.
void PredictChromaInterWith(ChromaMotionBlockFn block, int mbX, int mbY, const PartitionRecord* partitions,
                            const ReferenceLists* refs, uint8_t* out);

}  // namespace ombrisk
