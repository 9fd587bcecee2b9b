// Codes whole pictures as I pictures: parameter sets when due, slices of intra
// macroblocks in CAVLC, the loop filter, and the padded reconstruction kept for
// reference. The slice loop of the full picture encoder builds on the same steps.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "filters/encoder/core/cavlc_writer.h"
#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/loop_filter.h"
#include "filters/encoder/core/mb_coder.h"
#include "filters/encoder/core/nal_writer.h"
#include "filters/encoder/core/param_sets.h"
#include "filters/encoder/core/picture_buffer.h"

namespace ombrisk {

class CIntraPictureEncoder {
public:
    // Reads from the block: QP of I pictures (word 7), coder level (20), slice count (26),
    // deblocking (bit 1 of word 25), GOP length (0: an IDR picture every GOP length
    // pictures; 1 makes every picture IDR). CABAC (word 21) must be 0.
    explicit CIntraPictureEncoder(const EncoderBlock& block);

    // kCoreOk when every buffer exists and the settings are ones this encoder codes.
    int status() const { return status_; }

    // Codes one picture; appends its Annex B bytes to `out`. kCoreNoSpace when a slice
    // did not fit its buffer (nothing of the picture is appended then).
    int EncodePicture(const PlanarPicture& source, std::vector<uint8_t>* out);

    // The reconstruction of the last picture (what a decoder outputs).
    const CRefPictureStore& reconstruction() const { return picture_; }

private:
    const EncoderBlock& block_;
    int status_;
    CRefPictureStore picture_;
    CCavlcWriter writer_;
    CMbCoder coder_;
    CLoopFilter loopFilter_;
    CParameterSetWriter headers_;
    CPictureNumbering numbering_;
    CNalWriter nal_;
    std::vector<uint8_t> bytes_;  // the picture's units until every slice has fit
    int64_t codingNumber_ = 0;
    int64_t sinceIdr_ = 0;
};

}  // namespace ombrisk
