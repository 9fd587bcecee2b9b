// Codes whole pictures as I pictures: an IDR picture every GOP length pictures (kParGopLength;
// 1 or less makes every picture IDR), the others non-IDR I pictures. The picture encoder
// does the work; this keeps the I-only entry of the tests and benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "filters/encoder/core/picture_encoder.h"

namespace ombrisk {

class CIntraPictureEncoder {
public:
    // Reads from the block: kParQpI, kParMbCoderLevel, kParSliceCount, kFlagDeblocking of
    // kParFlags, kParGopLength. kParCabac must be 0.
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
