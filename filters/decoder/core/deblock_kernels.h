// Loop-filter kernels (ITU-T H.264 clause 8.7.2) over whole macroblock edges, portable and
// SSE2 forms, installed into the decoder's kernel table (kernel_table.h).
#pragma once

#include <cstdint>

namespace avcdec {

struct DecoderKernelTable;

// Whole edges besides the 16-line luma edge with bS below 4 (DeblockLumaEdge16Fn,
// kernel_table.h). `step` moves across the edge and `along` along it: (pitch, 1) for an
// edge between rows ("horizontal"), (1, pitch) for an edge between columns ("vertical");
// each table entry serves one of the two directions, the portable forms serve both. The
// kernels read and may rewrite the four samples on each side of the edge.
//
// A 16-line luma edge with bS 4 (clause 8.7.2.4).
using DeblockLumaStrong16Fn = void (*)(uint8_t* q0, int step, int along, int alpha, int beta);
// The same 8-line edge of both chroma planes (4:2:0, one quantiser for both) with bS below
// 4: segment k (lines 2k, 2k + 1 of each plane) uses tc0[k], negative for bS 0.
using DeblockChromaEdge8Fn = void (*)(uint8_t* cb, uint8_t* cr, int step, int along, int alpha, int beta,
                                      const int8_t* tc0);
// The same with bS 4.
using DeblockChromaStrong8Fn = void (*)(uint8_t* cb, uint8_t* cr, int step, int along, int alpha, int beta);

// Fills the loop-filter entries of a table: portable forms, then the forms the feature
// word allows.
void InstallDeblockKernels(DecoderKernelTable* table, uint32_t featureWord);

}  // namespace avcdec
