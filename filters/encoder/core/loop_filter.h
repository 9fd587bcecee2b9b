// The deblocking filter (H.264 clause 8.7) over a coded picture, run before the picture
// is padded and kept as a reference, so that the encoder's references equal the decoder's.
// Every edge is filtered (disable_deblocking_filter_idc 0, no offsets), slice edges too.
#pragma once

#include <cstdint>

#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/picture_buffer.h"

namespace ombrisk {

class CLoopFilter {
public:
    explicit CLoopFilter(const EncoderBlock& block);

    // Boundary strengths, averaged edge QPs and filter flags of the macroblocks of rows
    // firstRow .. endRow - 1. Each macroblock writes only its own record and reads its
    // neighbours' coding results, so disjoint row ranges may run in parallel.
    void ComputeStrengths(CRefPictureStore* picture, int firstRow = 0, int endRow = 1 << 30) const;
    // Luma and chroma touch disjoint samples and may run in parallel; each is filtered
    // macroblock by macroblock in raster order (clause 8.7).
    void FilterLuma(CRefPictureStore* picture) const;
    // Both chroma planes, edge by edge together (they share strengths and QPs).
    void FilterChroma(CRefPictureStore* picture) const;
    // One macroblock of each. Raster order is kept when macroblock (x, y) is filtered
    // after (x - 1, y) and after (x + 1, y - 1) (the last macroblock of row y - 1 at the
    // right edge): it changes samples of its left and top neighbours only, and (x + 1,
    // y - 1) is the last to change the samples it reads above it. Rows may therefore run
    // as a wavefront.
    void FilterLumaMacroblock(CRefPictureStore* picture, int x, int y) const;
    void FilterChromaMacroblock(CRefPictureStore* picture, int x, int y) const;

    const EncoderBlock& block_;
};

}  // namespace ombrisk
