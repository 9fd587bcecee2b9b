#include "filters/encoder/core/intra_picture.h"

#include "filters/encoder/core/core_result.h"

namespace ombrisk {

int CIntraPictureEncoder::EncodePicture(const PlanarPicture& source, std::vector<uint8_t>* out) {
    const int32_t gop = block_.param(kParGopLength);
    PictureOrder order;
    order.sliceType = kSliceI;
    order.idr = codingNumber_ == 0 || gop <= 1 || sinceIdr_ >= gop;
    order.displayNumber = order.idr ? 0 : sinceIdr_;
    order.reference = true;
    const int r = pictures_.EncodePicture(source, order, out);
    if (r != kCoreOk) return r;
    ++codingNumber_;
    sinceIdr_ = order.displayNumber + 1;
    return kCoreOk;
}

}  // namespace ombrisk
