// The per-macroblock record of a decoded picture and the macroblock work area.
#pragma once

#include <cstdint>

namespace avcdec {

// Flags word of MacroblockInfo.
constexpr uint32_t kMbSliceKindShift = 24;  // bits 24-26: sliceKind of the macroblock's slice
constexpr uint32_t kMbIntra = 1u << 28;
constexpr uint32_t kMbField = 1u << 29;
constexpr uint32_t kMbPcm = 1u << 30;

// Macroblock kinds (mb_type reduced to what prediction and deblocking need).
enum MbKind : int8_t {
    kMbSkip = 0,
    kMbIntra4x4 = 1,
    kMbIntra16x16 = 2,
    kMbIPcm = 3,
    kMbInter = 4,
};

// Luma 4x4 block luma4x4BlkIdx (clause 6.4.3) as (x, y) in blocks of the macroblock.
inline constexpr uint8_t kLuma4x4BlkX[16] = {0, 1, 0, 1, 2, 3, 2, 3, 0, 1, 0, 1, 2, 3, 2, 3};
inline constexpr uint8_t kLuma4x4BlkY[16] = {0, 0, 1, 1, 0, 0, 1, 1, 2, 2, 3, 3, 2, 2, 3, 3};

// Blocks of totalCoeff: 16 luma 4x4 blocks in raster order (x + 4y), then 4 Cb and 4 Cr
// blocks in raster order of the 2x2 chroma grid.
constexpr int kCbTotalCoeff = 16;
constexpr int kCrTotalCoeff = 20;

// Macroblock set-up clears the first 64 bytes (up to refIdx) and sets refPicId to -1; the
// vectors are written by whatever uses them: mv by inter reconstruction (list 0 of a P
// macroblock, both lists of a B one), mvd by the parse of an inter macroblock and for every
// macroblock of a P or B slice that CABAC parses. Vectors nothing wrote keep old values;
// their readers look at them only where refIdx (same slice, mvd: CABAC neighbours) or
// refPicId (deblocking, later pictures) says the list is used.
struct MacroblockInfo {
    int32_t sliceNumber;  // -1: not decoded in this picture
    uint32_t flags;
    int8_t kind;
    int8_t qp;  // QPY; 0 for I_PCM (the deblocking filter's qPp)
    int8_t intra16x16PredMode;
    int8_t intraChromaPredMode;
    int8_t disableDeblockingFilterIdc;
    int8_t filterOffsetA;
    int8_t filterOffsetB;
    int8_t chromaQpIndexOffset;
    int32_t codedBlockPattern;
    uint8_t totalCoeff[24];
    uint8_t codedDc;  // CABAC coded_block_flag of the luma DC (bit 0), Cb DC (1) and Cr DC (2)
    // Inter macroblocks: partition shape (0 16x16, 1 16x8, 2 8x16, 3 8x8), the shape of
    // each 8x8 block's sub-partitions (0 8x8, 1 8x4, 2 4x8, 3 4x4), the lists each 8x8 block
    // predicts from (bit 0 list 0, bit 1 list 1; 0 for direct prediction), reference
    // indices per 8x8 block (-1 unused) and motion vector differences per 4x4 block.
    uint8_t partShape;
    uint8_t subShape[4];
    uint8_t predLists[4];
    uint8_t directMask;  // bit k: 8x8 block k is predicted in direct mode (B)
    // kSameMotion bits of an inter macroblock once reconstructed (0 until then).
    uint8_t sameMotion;
    int8_t refIdx[2][4];
    // Motion per 4x4 block (raster) and list, with the reference picture's identity per
    // 8x8 quadrant (-1 none); used by the deblocking filter's motion test.
    int32_t refPicId[2][4];
    int16_t mv[2][16][2];
    int16_t mvd[2][16][2];
};

// The part of a record that macroblock set-up clears.
inline constexpr size_t kMbClearedBytes = 64;

// sameMotion bits: every 8x8 block's four 4x4 blocks carry one motion (references and
// vectors of the lists in use), and the whole macroblock does.
constexpr uint8_t kSameMotionIn8x8 = 1;
constexpr uint8_t kSameMotionIn16x16 = 2;

// Whether the two sides of every segment of inner edge `edge` (1..3, either direction)
// of an inter macroblock carry the same motion, so that the deblocking filter's motion
// test (ITU-T H.264 clause 8.7.2.1) gives bS 0 there.
inline bool InnerEdgeHasSameMotion(const MacroblockInfo* mb, int edge) {
    return (mb->sameMotion & (edge == 2 ? kSameMotionIn16x16 : kSameMotionIn8x8)) != 0;
}

// Work area of the macroblock being decoded.
struct alignas(16) MacroblockWork {
    alignas(16) uint8_t pred[256];  // prediction, 16 bytes per row
    // 16 luma then 4 Cb and 4 Cr blocks of 16 coefficients, row-major within a block
    // (index 4 * row + column), already dequantised.
    alignas(16) int16_t coeffs[24][16];
    uint32_t nonZero;              // bit b: block b of coeffs has a non-zero coefficient
    uint32_t acNonZero;            // bit b: block b has one outside position 0
    alignas(16) uint8_t pcm[384];  // I_PCM samples: 256 luma, 64 Cb, 64 Cr
    int32_t mbX, mbY;              // in macroblocks
    int32_t mbAddr;
    MacroblockInfo* cur;
    MacroblockInfo* mbA;  // left; null when unavailable (other slice or outside)
    MacroblockInfo* mbB;  // above
    MacroblockInfo* mbC;  // above right
    MacroblockInfo* mbD;  // above left
    const uint8_t* scan;  // kZigZag, or kFieldScan in field macroblocks
    int32_t qp;           // running QPY of the slice
    int32_t qpc[2];       // chroma QP of Cb and Cr for the running QPY
    uint64_t usedRefs;    // bit 32 X + i: list-X index i served a macroblock of the slice
    // The slice's first address when its macroblocks follow in raster order (no slice
    // groups): every address from it up to mbAddr belongs to the slice. Else -1.
    int32_t sliceFirstMb;
    // The first 16 bytes of every record of the slice (slice number, slice kind, filter
    // and chroma offsets); set-up adds each macroblock's QP.
    alignas(16) uint8_t recordHead[16];
    // Macroblock-adaptive frames (MBAFF). mbaff: the slice's picture is one; its records
    // lie in frame raster order (mbY the record's row: the pair's top row, plus one for
    // the bottom macroblock) while mbAddr counts pairs (clause 6.4.1). fieldMb: the
    // macroblock is a field macroblock. structure: 0 for frame macroblocks (and frames), 1
    // or 2 for a field of the top or bottom parity (field pictures and field macroblocks).
    bool mbaff;
    bool fieldMb;
    int32_t structure;
    // MBAFF: the macroblock and 4x4 block row left of the first line of luma block rows
    // 0..3 and chroma block rows 0..1 (entries 4, 5), and left of the last line of luma
    // block rows 0..2 (entries 6..8: neighbour D of partitions below the first row), by
    // clause 6.4.12.2; and the block row of D's block.
    const MacroblockInfo* left[9];
    uint8_t leftRow[9];
    uint8_t dRow;
    // MBAFF: the slice's num_ref_idx_active of frame macroblocks, and the references its
    // macroblocks used so far by frame list index (usedRefs counts the lists in use).
    int32_t frameActive[2];
    uint64_t usedRefsFrame;
};

// The record and 4x4 block row left of luma 4x4 block row y (0..3) of the current
// macroblock: in MBAFF frames by the pairs' field and frame coding (Table 6-4).
inline const MacroblockInfo* LeftLuma(const MacroblockWork* w, int y, int* row) {
    if (!w->mbaff) {
        *row = y;
        return w->mbA;
    }
    *row = w->leftRow[y];
    return w->left[y];
}

// The same for chroma 4x4 block row y (0..1).
inline const MacroblockInfo* LeftChroma(const MacroblockWork* w, int y, int* row) {
    if (!w->mbaff) {
        *row = y;
        return w->mbA;
    }
    *row = w->leftRow[4 + y];
    return w->left[4 + y];
}

// How a neighbour's motion reads in the current macroblock of an MBAFF frame (clause
// 8.4.1.3.1): 0 alike, 1 a field neighbour of a frame macroblock (vertical components
// doubled, reference indices halved), -1 a frame neighbour of a field macroblock (the
// reverse).
inline int FieldScaling(const MacroblockWork* w, const MacroblockInfo* n) {
    if (!w->mbaff || n == nullptr) return 0;
    const bool field = (n->flags & kMbField) != 0;
    return field == w->fieldMb ? 0 : field ? 1 : -1;
}

}  // namespace avcdec
