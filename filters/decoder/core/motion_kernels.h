// Motion-compensation kernels (ITU-T H.264 clause 8.4.2.2) and their selection from the CPU
// feature word.
#pragma once

#include <cstdint>

namespace avcdec {

enum class KernelForm : int { kPortable, kMmx, kSse2 };

// The form each of the four motion entry points takes for a feature word: MMX where the
// MMX extensions exist (bit 0x200, which SSE implies), SSE2 for luma where SSE2 exists.
struct MotionKernelForms {
    KernelForm luma, chroma8, chroma4, chroma2;
};
MotionKernelForms SelectMotionKernelForms(uint32_t features);

// Makes sure the process's kernel table (kernel_table.h), which holds the motion forms,
// is filled; returns its feature word. Safe to call from several threads at once.
uint32_t InstallMotionKernels();

// Luma sample interpolation (clause 8.4.2.2.1) of a width x height block (4, 8 or 16 each)
// into dst. src addresses the integer sample of the block's top-left position; (fx, fy)
// is the quarter-sample fraction. The kernel reads columns -2 .. max(width, 8) + 2 and
// rows -2 .. height + 2 around src (the caller guarantees they are readable).
using LumaMotionFn = void (*)(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width, int height,
                              int fx, int fy);
// Chroma sample interpolation (clause 8.4.2.2.2) of a width x height block (2, 4 or 8
// each) with eighth-sample fraction (dx, dy), in both chroma planes at once (one vector
// serves both); reads columns 0 .. max(width, 8) and rows 0 .. height around each source.
using ChromaMotionFn = void (*)(uint8_t* dstCb, uint8_t* dstCr, int dstPitch, const uint8_t* srcCb,
                                const uint8_t* srcCr, int srcPitch, int width, int height, int dx, int dy);

// The entries behind the two kernels, specialised by width so that callers that know the
// block's shape skip the dispatch: a luma entry per fraction and width for heights 4, 8
// and 16 (LumaBlockIndex picks one from a table of 48), a chroma entry per width for
// heights 2, 4 and 8 (ChromaBlockIndex picks one from a table of 3). Each reads what
// the kernel of its form reads.
using LumaBlockFn = void (*)(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int height);
using ChromaBlockFn = void (*)(uint8_t* dstCb, uint8_t* dstCr, int dstPitch, const uint8_t* srcCb, const uint8_t* srcCr,
                               int srcPitch, int height, int dx, int dy);
constexpr int LumaBlockIndex(int fx, int fy, int width) {
    return 3 * (4 * fy + fx) + (width >> 3);  // width 4, 8, 16 -> 0, 1, 2
}
constexpr int ChromaBlockIndex(int width) {
    return width >> 2;  // width 2, 4, 8 -> 0, 1, 2
}
const LumaBlockFn* LumaBlocksC();
const ChromaBlockFn* ChromaBlocksC();

void luma_mc_c(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width, int height, int fx, int fy);
void chroma_mc_c(uint8_t* dstCb, uint8_t* dstCr, int dstPitch, const uint8_t* srcCb, const uint8_t* srcCr, int srcPitch,
                 int width, int height, int dx, int dy);
#if defined(__SSE2__) || defined(_M_X64)
#define AVCDEC_HAVE_SSE2 1
void luma_mc_sse2(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width, int height, int fx, int fy);
void chroma_mc_sse2(uint8_t* dstCb, uint8_t* dstCr, int dstPitch, const uint8_t* srcCb, const uint8_t* srcCr,
                    int srcPitch, int width, int height, int dx, int dy);
const LumaBlockFn* LumaBlocksSse2();
const ChromaBlockFn* ChromaBlocksSse2();
#endif

// Explicit weighted prediction of one list (clause 8.4.2.3.2) in place:
// p = Clip1(((p * w + 2^(logWD - 1)) >> logWD) + o), and p * w + o for logWD 0.
void WeightSamples(uint8_t* p, int pitch, int width, int height, int w, int o, int logWD);
using WeightFn = void (*)(uint8_t* p, int pitch, int width, int height, int w, int o, int logWD);
// Weighted bi-prediction into p0: Clip1(((p0 * w0 + p1 * w1 + 2^logWD) >> (logWD + 1)) + o).
void WeightSamplesBi(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height, int w0, int w1,
                     int o, int logWD);
using WeightBiFn = void (*)(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height, int w0,
                            int w1, int o, int logWD);
// Default bi-prediction into p0 (clause 8.4.2.3.1): (p0 + p1 + 1) >> 1.
void AverageSamples(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height);
using AverageFn = void (*)(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height);
#ifdef AVCDEC_HAVE_SSE2
void weight_bi_sse2(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height, int w0, int w1,
                    int o, int logWD);
void weight_sse2(uint8_t* p, int pitch, int width, int height, int w, int o, int logWD);
void average_sse2(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height);
// SSSE3 forms (motion_kernels_ssse3.cpp): bi-prediction sixteen positions a step where the
// weights allow, else the SSE2 form; chroma entries by width as ChromaBlocksSse2 answers them,
// the 8-wide one replaced.
const ChromaBlockFn* ChromaBlocksSsse3();
void weight_bi_ssse3(uint8_t* p0, int pitch0, const uint8_t* p1, int pitch1, int width, int height, int w0, int w1,
                     int o, int logWD);
#endif

}  // namespace avcdec
