// The decoder core's pixel kernels, one table per process. The portable kernels fill
// every entry; forms for processor features override entries in ascending order of the
// feature bits, so a table can be built for any feature word (tests do).
#pragma once

#include <cstdint>

#include "common/dsp/deblock_kernels.h"
#include "filters/decoder/core/intra_prediction.h"
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
// The Intra_16x16 luma DC inverse (clause 8.5.10): the 4x4 Hadamard transform of c (the
// DC levels in raster order of the 4x4 blocks), scaled by levelScale (LevelScale4x4(qP % 6,
// 0, 0) << (qP / 6)) with (f * scale + 2) >> 2, into coeffs[b][0] of block b = 4 row +
// column. Returns the mask of blocks whose value is not zero. Arithmetic wraps at 32 bits
// and the result at 16 (never reached by a conforming stream), so that damaged levels give
// the same values in every form.
using InverseLumaDcFn = uint32_t (*)(int16_t (*coeffs)[16], const int16_t* c, int scale);
uint32_t luma_dc_dequant_c(int16_t (*coeffs)[16], const int16_t* c, int scale);
#ifdef AVCDEC_HAVE_SSE2
uint32_t luma_dc_dequant_sse2(int16_t (*coeffs)[16], const int16_t* c, int scale);
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

// One intra prediction mode (clause 8.3): reads the neighbours of the block at src (the
// availability says which exist) and writes the prediction into pred.
using IntraPredFn = void (*)(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch);
#ifdef AVCDEC_HAVE_SSE2
// Intra_4x4 modes 1..8 (horizontal, DC and the directional ones), Intra_16x16 vertical, horizontal and DC,
// and chroma DC.
extern const IntraPredFn kIntra4x4Sse2[9];
void intra_v_16x16_sse2(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch);
void intra_h_16x16_sse2(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch);
void intra_dc_16x16_sse2(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch);
void intra_dc_chroma_sse2(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch);
#endif

struct DecoderKernelTable {
    InverseTransformAddFn inverseTransformAdd4x4;
    AddDcFn addDc4x4;
    InverseLumaDcFn inverseLumaDc;
    IntraPlaneFn intraPlane16x16;
    IntraPlaneFn intraPlane8x8;
    // By mode number: Intra_4x4 0..8, Intra_16x16 0..2 and intra_chroma_pred_mode 0..2 (the
    // plane modes take the plane fills above).
    IntraPredFn intra4x4[9];
    IntraPredFn intra16x16[3];
    IntraPredFn intraChroma[3];
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
// The portable intra prediction entries (intra_prediction.cpp).
void InstallPortableIntraKernels(DecoderKernelTable* table);
// Portable kernels, then the overrides the feature word allows.
void FillDecoderKernelTable(DecoderKernelTable* table, uint32_t featureWord);
namespace detail {
// Set once the process's table is filled; read on every macroblock, so the common path is
// one load instead of a call and a guard of a function-local static.
extern const DecoderKernelTable* gProcessKernels;
const DecoderKernelTable& FillProcessKernels();
}  // namespace detail

// The process's table, filled once from the processor's feature word.
inline const DecoderKernelTable& DecoderKernels() {
    const DecoderKernelTable* t = __atomic_load_n(&detail::gProcessKernels, __ATOMIC_ACQUIRE);
    return t != nullptr ? *t : detail::FillProcessKernels();
}
// Refills the process's table for another feature word (0: portable kernels only), so
// that tests and benchmarks can compare forms. No decoder may be decoding meanwhile.
void ReselectDecoderKernels(uint32_t featureWord);

}  // namespace avcdec
