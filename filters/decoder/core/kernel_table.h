// The decoder core's pixel kernels, one table per process. The portable kernels fill
// every entry; forms for processor features override entries in ascending order of the
// feature bits, so a table can be built for any feature word (tests do).
#pragma once

#include <cstdint>

#include "common/dsp/deblock_kernels.h"
#include "filters/decoder/core/motion_kernels.h"

namespace avcdec {

// Adds the inverse 4x4 transform (ITU-T H.264 clause 8.5.12) of coeffs (row-major,
// dequantised) to the 4x4 samples at dst.
using InverseTransformAddFn = void (*)(uint8_t* dst, int pitch, const int16_t* coeffs);
// The same for a block whose only coefficient is the DC (dequantised value dc).
using AddDcFn = void (*)(uint8_t* dst, int pitch, int dc);
#ifdef AVCDEC_HAVE_SSE2
void idct_add_4x4_sse2(uint8_t* dst, int pitch, const int16_t* coeffs);
void idct_dc_add_4x4_sse2(uint8_t* dst, int pitch, int dc);
#endif
// Fills a block with the plane prediction of clause 8.3.3 (16x16 luma, centre 7) or 8.3.4
// (8x8 chroma, centre 3) from its parameters: pred[y][x] = Clip1((a + b (x - centre) +
// c (y - centre) + 16) >> 5). The clauses bound a to 0..8160 and b, c to +-717 (luma) and
// +-1355 (chroma), so every intermediate fits 16 bits.
using IntraPlaneFn = void (*)(uint8_t* pred, int predPitch, int a, int b, int c);
void intra_plane_16x16_c(uint8_t* pred, int predPitch, int a, int b, int c);
void intra_plane_8x8_c(uint8_t* pred, int predPitch, int a, int b, int c);
#ifdef AVCDEC_HAVE_SSE2
void intra_plane_16x16_sse2(uint8_t* pred, int predPitch, int a, int b, int c);
void intra_plane_8x8_sse2(uint8_t* pred, int predPitch, int a, int b, int c);
#endif

struct DecoderKernelTable {
    InverseTransformAddFn inverseTransformAdd4x4;
    AddDcFn addDc4x4;
    IntraPlaneFn intraPlane16x16;
    IntraPlaneFn intraPlane8x8;
    common::DeblockKernels deblock;  // the loop filter
    LumaMotionFn lumaMotion;
    ChromaMotionFn chromaMotion;
    // The same forms' entries by shape (motion_kernels.h): lumaBlocks[LumaBlockIndex(fx, fy,
    // width)], chromaBlocks[ChromaBlockIndex(width)].
    const LumaBlockFn* lumaBlocks;
    const ChromaBlockFn* chromaBlocks;
    WeightFn weight;
    WeightBiFn weightBi;
    AverageFn average;
    // Forms of the four motion-compensation entry points the feature word selects.
    MotionKernelForms motionForms;
    uint32_t featureWord;
};

void InstallPortableDecoderKernels(DecoderKernelTable* table);
// Portable kernels, then the overrides the feature word allows.
void FillDecoderKernelTable(DecoderKernelTable* table, uint32_t featureWord);
// The process's table, filled once from the processor's feature word.
const DecoderKernelTable& DecoderKernels();
// Refills the process's table for another feature word (0: portable kernels only), so
// that tests and benchmarks can compare forms. No decoder may be decoding meanwhile.
void ReselectDecoderKernels(uint32_t featureWord);

}  // namespace avcdec
