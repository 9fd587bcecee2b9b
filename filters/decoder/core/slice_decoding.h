// The picture-level decoding operations behind the NAL dispatcher: slice-data loops,
// CAVLC macroblock parsing, intra reconstruction, the deblocking filter and padding.
#pragma once

#include <cstdint>

#include "filters/decoder/core/macroblock.h"
#include "filters/decoder/core/param_sets.h"

namespace avcdec {

struct AvcDecoderContext;
struct PictureRecord;
struct DeblockWorker;
struct DecoderKernelTable;

// Slice-data loop of an I slice (ITU-T H.264 clause 7.3.4); 0, or the first failure.
int DecodeISlice(AvcDecoderContext* ctx);

// Slice-group map of the current picture (clause 8.2.2) into ctx->sliceGroupMap.
int BuildSliceGroupMap(AvcDecoderContext* ctx);
// The next macroblock of the same slice group after mbAddr, or -1.
int32_t NextMbInSliceGroup(const AvcDecoderContext* ctx, int32_t mbAddr);

// Prepares the macroblock at work->mbAddr: position, neighbours, record.
void SetupMacroblock(AvcDecoderContext* ctx, MacroblockWork* work, int32_t sliceNumber);
void ResetIntraModeMap(AvcDecoderContext* ctx);
// Marks the macroblock's entries of the intra mode map as unavailable.
void MarkIntraModesUnavailable(AvcDecoderContext* ctx, const MacroblockWork* work);

// CAVLC macroblock layer of an intra macroblock (mb_type in I numbering, 0..25) into the
// work area and the record: 0, or negative for a syntax value out of range.
int ParseCavlcIntraMacroblock(AvcDecoderContext* ctx, MacroblockWork* work, int32_t mbType);
// CAVLC macroblock layer of a macroblock of a P or B slice (mb_skip_run is the loop's):
// 0, or negative for a value out of range. Intra types go on to the intra parser.
int ParseCavlcPMacroblock(AvcDecoderContext* ctx, MacroblockWork* work);
int ParseCavlcBMacroblock(AvcDecoderContext* ctx, MacroblockWork* work);
// Slice-data loop of a P or B slice: parses and reconstructs every macroblock.
int DecodePOrBSlice(AvcDecoderContext* ctx);
// One residual block (clause 9.2): TotalCoeff (0..16) with levels in coeffLevel from
// scan position 0, or -1 for an invalid code.
int ParseResidualBlockCavlc(BitReader* r, int nC, int maxNumCoeff, int16_t* coeffLevel);

int ReconstructIntraMacroblock(AvcDecoderContext* ctx, MacroblockWork* work);
// Adds the residual of block b of the work area to the 4x4 samples at dst: nothing
// without coefficients, a constant with the DC alone, else the inverse transform.
void AddResidual(const DecoderKernelTable& k, const MacroblockWork* work, int b, uint8_t* dst, int pitch);
// Motion vectors (clause 8.4.1), motion compensation and residual of a P_Skip or inter
// macroblock of a P slice: 0, or kDecoderOutOfRange when a partition names no reference
// picture (the macroblock is then not reconstructed).
int ReconstructPMacroblock(AvcDecoderContext* ctx, MacroblockWork* work);
// Motion vectors (direct modes of clause 8.4.1.2 included), motion compensation with
// default, explicit or implicit weighting, and residual of a B_Skip or inter macroblock
// of a B slice: 0, or kDecoderOutOfRange when a partition names no reference picture.
int ReconstructBMacroblock(AvcDecoderContext* ctx, MacroblockWork* w);
// mvpLX (clause 8.4.1.3) of the partition at (x4, y4) of w4 x h4 4x4 blocks with
// reference index ref: median prediction with the single-match rule, and the directional
// rules of 16x8 and 8x16 partitions. Blocks of the current macroblock serve as neighbours
// only where `decoded` has their bit (raster index).
void PredictPartitionMv(const MacroblockWork* work, int list, int x4, int y4, int w4, int h4, int ref, uint32_t decoded,
                        int* mvx, int* mvy);
// The P_Skip vector (clause 8.4.1.1) of the macroblock in the work area.
void DerivePSkipMv(const MacroblockWork* work, int* mvx, int* mvy);
// colZeroFlag of 4x4 block blk (raster) of the co-located macroblock colMb of picture
// colPic, the first entry of RefPicList1 (clause 8.4.1.2.2).
bool ColocatedZero(const PictureRecord* colPic, const MacroblockInfo* colMb, int blk);

// Deblocks the luma and chroma planes of a decoded frame (clause 8.7): the boundary
// strengths of the whole picture, then luma on this thread while the context's worker
// (when it has one) filters chroma. Returns once both planes are done.
void DeblockPicture(AvcDecoderContext* ctx, PictureRecord* pic);
// The deblocking worker of a context, with its edge records for mbCount macroblocks; null
// when memory or the thread cannot be had.
DeblockWorker* StartDeblockWorker(int32_t mbCount);
// Ends the worker's thread (it must not be filtering for another caller) and frees it.
void StopDeblockWorker(DeblockWorker* worker);
// Replicates the frame's edges into its borders.
void PadPicture(AvcDecoderContext* ctx, PictureRecord* pic);

}  // namespace avcdec
