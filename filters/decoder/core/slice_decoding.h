// The picture-level decoding operations behind the NAL dispatcher: slice-data loops,
// CAVLC macroblock parsing, intra reconstruction, the deblocking filter and padding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filters/decoder/core/macroblock.h"
#include "filters/decoder/core/param_sets.h"

namespace avcdec {

struct AvcDecoderContext;
struct PictureRecord;
struct DeblockWorker;
struct DecoderKernelTable;
struct PlaneView;

// Offsets of the macroblock's top-left luma and chroma samples from the plane origins, and
// the pitch between its lines: a field macroblock of an MBAFF frame takes every second
// line of its pair, the bottom one from the pair's second line (clause 6.4.1).
struct MbPlacement {
    ptrdiff_t luma, chroma;
    int32_t pitch;
};
inline MbPlacement PlaceMacroblock(const MacroblockWork* w, int32_t pitch) {
    if (!w->fieldMb)
        return {16 * (ptrdiff_t{w->mbY} * pitch + w->mbX), 8 * (ptrdiff_t{w->mbY} * pitch + w->mbX), pitch};
    const ptrdiff_t top = w->mbY & ~1, odd = w->mbY & 1;
    return {(16 * top + odd) * pitch + 16 * w->mbX, (8 * top + odd) * pitch + 8 * w->mbX, 2 * pitch};
}

// Slice-data loop of an I slice (ITU-T H.264 clause 7.3.4); 0, or the first failure.
int DecodeISlice(AvcDecoderContext* ctx);

// Slice-group map of the current picture (clause 8.2.2) into ctx->sliceGroupMap.
int BuildSliceGroupMap(AvcDecoderContext* ctx);
// The next macroblock of the same slice group after mbAddr, or -1.
int32_t NextMbInSliceGroup(const AvcDecoderContext* ctx, int32_t mbAddr);

// Prepares the macroblock at work->mbAddr: position, neighbours, record.
void SetupMacroblock(AvcDecoderContext* ctx, MacroblockWork* work, int32_t sliceNumber);
// The record's slice fields, cleared motion and DC intra modes (set-up's part on the record).
void ClearRecord(AvcDecoderContext* ctx, const MacroblockWork* w, MacroblockInfo* mb);

// MBAFF frames (mbaff.cpp). SetupMbaffMacroblock: the macroblock at work->mbAddr (an
// address of clause 6.4.1: pair 2k, 2k + 1) with the field flag given (read or inferred),
// its record, neighbours and reference lists. SetMacroblockField: the flag changed after
// set-up (CABAC reads it behind mb_skip_flag). DeriveMbaffNeighbours: A, B, C, D and the
// left rows of clause 6.4.12.2 for the current flag.
void SetupMbaffMacroblock(AvcDecoderContext* ctx, MacroblockWork* w, bool field);
void SetMacroblockField(AvcDecoderContext* ctx, MacroblockWork* w, bool field);
void DeriveMbaffNeighbours(const AvcDecoderContext* ctx, MacroblockWork* w);
// mb_field_decoding_flag of a pair that does not code it (clause 7.4.4).
bool InferredFieldFlag(const AvcDecoderContext* ctx, int32_t mbAddr, int32_t slice);
// The field pairs among the left and upper pairs of the slice (ctxIdxInc of the flag's
// CABAC bin, clause 9.3.3.1.1.2).
int FieldPairNeighbours(const AvcDecoderContext* ctx, const MacroblockWork* w);
// Reference lists of field macroblocks (clause 8.2.4.2.5) from the slice's frame lists,
// and the lists and num_ref_idx_active of the variant (0 frame, 1 top, 2 bottom field
// macroblock) made current; EndListVariants restores the frame lists and folds the
// references used into frame list indices.
void BuildListVariants(AvcDecoderContext* ctx, MacroblockWork* w);
void SelectListVariant(AvcDecoderContext* ctx, MacroblockWork* w, int variant);
void EndListVariants(AvcDecoderContext* ctx, MacroblockWork* w);
// Explicit and implicit weights of field macroblocks; false without memory.
bool BuildWeightVariants(AvcDecoderContext* ctx, MacroblockWork* w);
// Slice-data loop of a CAVLC slice of an MBAFF frame.
int DecodeMbaffCavlcSlice(AvcDecoderContext* ctx);
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

// Shared by the CAVLC and CABAC macroblock layers.
// Dequantises levels (scan order from scan position `first`) into block b of the work area.
void PlaceCoefficients(MacroblockWork* w, int b, const int16_t* levels, int count, int first, int qp);
// Luma DC of Intra_16x16 (clause 8.5.10) and chroma DC of one plane (clause 8.5.11).
void TransformLumaDc(MacroblockWork* w, const int16_t* levels, int qp);
void TransformChromaDc(MacroblockWork* w, int plane, const int16_t* levels, int qpc);
// Zeroes the blocks of the work area that hold coefficients.
void ClearCoefficients(MacroblockWork* w);
// No reference indices, vectors differences or lists in the record.
void ClearMacroblockMotion(MacroblockInfo* mb);
// Partition shape and lists of B mb_type 1..21 (Table 7-14), and of sub_mb_type 0..12 of
// 8x8 block k (Table 7-18).
void SetBMacroblockType(MacroblockInfo* mb, int32_t mbType);
void SetBSubMacroblockType(MacroblockInfo* mb, int k, int32_t subType);
// The 8x8 blocks partition `part` of a shape covers; the 4x4 blocks of a sub-partition.
uint32_t PartitionBlockMask(int shape, int part);
void SubPartitionGeometry(int b8, int shape, int sub, int* first, int* width, int* height);
// predIntra4x4PredMode of block blk (clause 8.3.1.1); *at receives its entry of the mode map.
int PredictIntra4x4Mode(AvcDecoderContext* ctx, const MacroblockWork* w, int blk, int8_t** at);
// The same from the entries left of and above `at` in the mode map (mapWidth entries a
// row), which are the block's neighbours in every macroblock but those of MBAFF frames: DC
// where either is unavailable (negative), else the smaller mode.
inline int PredictIntra4x4ModeAt(const int8_t* at, int mapWidth) {
    const int a = at[-1], b = at[-mapWidth];
    return (a < 0 || b < 0) ? 2 : (a < b ? a : b);
}
// The mode map entry of block 0 of the current macroblock (frames without MBAFF).
int8_t* IntraModeMapOrigin(AvcDecoderContext* ctx, const MacroblockWork* w);
// Starts a slice's macroblock walk at first_mb_in_slice with the slice's QP; returns the
// slice's number.
int32_t BeginSliceData(AvcDecoderContext* ctx, MacroblockWork* w);
// P_Skip or B_Skip: motion from prediction alone (B: direct), no residual.
void SetupSkippedMacroblock(MacroblockInfo* mb, bool bSlice);
// Slice-data loop of a CABAC slice of any kind (clause 7.3.4 with clause 9.3).
int DecodeCabacSlice(AvcDecoderContext* ctx);

// Deblocks the luma and chroma planes of a decoded frame (clause 8.7) when any slice
// enabled the filter: the rows the worker has not filtered while the picture was decoded,
// by this thread alone when they are few, else the boundary strengths of those rows, then
// luma on this thread while the worker filters chroma. Returns once every row is done,
// with the number of luma lines of a reference picture already padded (the worker pads
// the rows it filters).
int32_t DeblockPicture(AvcDecoderContext* ctx, PictureRecord* pic);
// Deblocking row by row while a picture is decoded. BeginDeblockRows: the picture starts.
// BeginSliceRows: a slice's macroblocks are about to be decoded; false when the slice
// would decode into rows that may be filtered already (it must then be refused).
// DeblockRowDecoded: the slice loops' hook, after the last macroblock of each row.
// EndSliceRows: the slice's loop ended. CloseDeblockRows: the picture is dropped unfinished.
void BeginDeblockRows(AvcDecoderContext* ctx, const PictureRecord* pic);
bool BeginSliceRows(AvcDecoderContext* ctx);
void DeblockRowDecoded(AvcDecoderContext* ctx, int32_t row);
void EndSliceRows(AvcDecoderContext* ctx);
void CloseDeblockRows(AvcDecoderContext* ctx);
// How pictures are deblocked, for tests that compare the ways (the pictures are the same):
// rows alongside decoding (the default), each row as soon as it may be filtered with the
// decoding thread waiting for it, or the whole-picture pass alone once a picture is complete.
enum class RowDeblocking { kAlongside, kLockstep, kWholePicture };
void SetRowDeblocking(RowDeblocking mode);
// The deblocking worker of a context, with its edge records for mbCount macroblocks; null
// when memory or the thread cannot be had. Without a thread (threaded false) the decoding
// thread filters the rows itself, each as soon as it may.
DeblockWorker* StartDeblockWorker(int32_t mbCount, bool threaded);
// Ends the worker's thread (it must not be filtering for another caller) and frees it.
void StopDeblockWorker(DeblockWorker* worker);
// Replicates the frame's edges into its borders, from luma line firstLine on (the lines
// above are padded already).
void PadPicture(AvcDecoderContext* ctx, PictureRecord* pic, int32_t firstLine = 0);
// The same for luma lines [begin, end) of a width x height frame with `border` border
// rows, and the chroma lines they finish; with begin 0 the borders above, with end equal
// to height the borders below.
void PadPictureLines(const PlaneView& planes, int width, int height, int border, int begin, int end);

}  // namespace avcdec
