// The deblocking filter (H.264 clause 8.7) over a coded picture, run before the picture
// is padded and kept as a reference, so that the encoder's references equal the decoder's.
// Every edge is filtered (disable_deblocking_filter_idc 0, no offsets), slice edges too.
#pragma once

#include <cstdint>

#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/picture_buffer.h"

namespace ombrisk {

// Table 8-16 by indexA or indexB, and Table 8-17 tC0 by indexA and bS (bS 0 and 4 hold 0
// and the bS 3 value; neither is read).
extern const uint8_t kDeblockAlpha[52];
extern const uint8_t kDeblockBeta[52];
extern const uint8_t kDeblockTc0[52][5];

class CLoopFilter {
public:
    explicit CLoopFilter(const EncoderBlock& block);

    // Boundary strengths, averaged edge QPs and filter flags of the macroblocks of rows
    // firstRow .. endRow - 1. Each macroblock writes only its own record and reads its
    // neighbours' coding results, so disjoint row ranges may run in parallel.
    void ComputeStrengths(CRefPictureStore* picture, int firstRow = 0, int endRow = 1 << 30) const;
    // Luma and the two chroma planes touch disjoint samples and may run in parallel; each
    // is filtered macroblock by macroblock in raster order (clause 8.7).
    void FilterLuma(CRefPictureStore* picture) const;
    // One chroma plane: 0 Cb, 1 Cr.
    void FilterChromaPlane(CRefPictureStore* picture, int plane) const;

private:
    void FilterLumaMacroblock(CRefPictureStore* picture, int x, int y) const;

    const EncoderBlock& block_;
};

}  // namespace ombrisk
