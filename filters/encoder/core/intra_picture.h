// Codes whole pictures as I pictures: an IDR picture every GOP length pictures (word 0;
// 1 or less makes every picture IDR), the others non-IDR I pictures. The picture encoder
// does the work; this keeps the I-only entry of the tests and benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "filters/encoder/core/picture_encoder.h"

namespace ombrisk {

class CIntraPictureEncoder {
public:
    // Reads from the block: QP of I pictures (word 7), coder level (20), slice count (26),
    // deblocking (bit 1 of word 25), GOP length (0). CABAC (word 21) must be 0.
    explicit CIntraPictureEncoder(const EncoderBlock& block) : block_(block), pictures_(block) {}

    // kCoreOk when every buffer exists and the settings are ones this encoder codes.
    int status() const { return pictures_.status(); }

    // Codes one picture; appends its Annex B bytes to `out`. kCoreNoSpace when a slice
    // did not fit its buffer (nothing of the picture is appended then).
    int EncodePicture(const PlanarPicture& source, std::vector<uint8_t>* out);

    // The reconstruction of the last picture (what a decoder outputs).
    const CRefPictureStore& reconstruction() const { return pictures_.reconstruction(); }

private:
    const EncoderBlock& block_;
    CPictureEncoder pictures_;
    int64_t codingNumber_ = 0;
    int64_t sinceIdr_ = 0;
};

}  // namespace ombrisk
