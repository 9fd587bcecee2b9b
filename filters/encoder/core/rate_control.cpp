#include "filters/encoder/core/rate_control.h"

#include <algorithm>
#include <cmath>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/syntax_writer.h"

namespace ombrisk {
namespace {

// QP of each type relative to the base: I pictures finer, B pictures coarser.
constexpr int kOffset[3] = {0, 2, -2};  // P, B, I (TypeIndex)

int TypeIndex(int32_t sliceType) {
    return sliceType == kSliceB ? 1 : sliceType == kSliceI ? 2 : 0;
}

// Bits of a picture of complexity c at QP q.
double Bits(double c, double q) {
    return c * std::exp2(-q / 6.0);
}

}  // namespace

CRateControl::CRateControl(const EncoderBlock& block)
    : block_(block), status_(kCoreOk), mode_(block.param(kParRateMode)), floor_(block.param(kParCabac) ? 0 : 5) {
    if (mode_ < 0 || mode_ > 3) {
        status_ = kCoreUnsupported;
        return;
    }
    if (mode_ < 2) return;
    const int64_t fps100 = block.param(kParFrameRate100);
    if (fps100 <= 0) {
        status_ = kCoreBadArgument;
        return;
    }
    // One bit per 8 samples when no rate is set; 64 bits so that large pictures at high
    // rates do not overflow.
    const int64_t base = int64_t(block.luma.width) * block.luma.height * fps100 / 800;
    const int32_t avg = block.param(kParAvgBitRate);
    target_ = avg == kUnsetWord ? base : avg;
    if (target_ <= 0) {
        status_ = kCoreBadArgument;
        return;
    }
    pictureBits_ = double(target_) * 100.0 / double(fps100);
    // Variable bit rate pays an error back over two seconds, constant over half a second;
    // at least over two pictures so that one picture cannot swing the QP alone.
    // At low frame rates the window spans at least a GOP, so that an I picture's cost is
    // paid back rather than forgotten.
    const int gop = block.param(kParGopLength);
    const double fps = double(fps100) / 100.0;
    window_ = std::max({mode_ == 3 ? fps / 2 : fps * 2, double(std::min(gop, 250)), 2.0});

    const int nb = std::max(block.param(kParBFrames), 0);
    const double iShare = gop == 1 ? 1.0 : gop > 1 ? 1.0 / gop : 0.0;
    share_[2] = iShare;
    share_[1] = gop == 1 ? 0.0 : (1 - iShare) * nb / (nb + 1);
    share_[0] = 1 - share_[1] - share_[2];
    // The first base QP from the bits per sample (coarser when bits are scarce).
    const double bpp = pictureBits_ / (double(block.luma.width) * block.luma.height);
    base_ = std::clamp(36.0 - 6.0 * std::log2(std::max(bpp, 1e-6) / 0.1), double(floor_), 51.0);
}

int CRateControl::StartPicture(int32_t sliceType) {
    type_ = sliceType;
    const int t = TypeIndex(sliceType);
    if (mode_ < 2) {
        const int word = t == 2 ? kParQpI : t == 0 ? kParQpP : kParQpB;
        return current_ = std::clamp(block_.param(word), 0, 51);
    }
    // Types not seen yet are guessed from the others: P pictures a third of I, B half of P.
    double c[3] = {complexity_[0], complexity_[1], complexity_[2]};
    if (c[2] == 0) c[2] = c[0] ? c[0] * 3 : c[1] ? c[1] * 6 : 0;
    if (c[0] == 0) c[0] = c[2] / 3;
    if (c[1] == 0) c[1] = c[0] / 2;
    if (c[2] > 0) {
        // The base at which the mix of types spends the target, less the error so far.
        const double want = std::max(pictureBits_ - error_ / window_, pictureBits_ / 8);
        double mix = 0;
        for (int i = 0; i < 3; ++i)
            mix += share_[i] * Bits(c[i], kOffset[i]);
        if (mix > 0) {
            const double solved = 6.0 * std::log2(mix / want);
            // A picture moves the base by at most 4 (constant bit rate 6) steps.
            const double step = mode_ == 3 ? 6.0 : 4.0;
            base_ = std::clamp(solved, base_ - step, base_ + step);
        }
    }
    base_ = std::clamp(base_, double(floor_), 51.0);
    current_ = std::clamp(int(std::lround(base_)) + kOffset[t], floor_, 51);
    return current_;
}

void CRateControl::EndPicture(int64_t bits) {
    ++pictures_;
    if (mode_ < 2) return;
    const int t = TypeIndex(type_);
    // At least one bit, so that black pictures keep a positive complexity.
    const double c = double(std::max<int64_t>(bits, 1)) * std::exp2(current_ / 6.0);
    complexity_[t] = complexity_[t] == 0 ? c : (complexity_[t] + c) / 2;
    error_ += double(bits) - pictureBits_;
    // The debt or credit carried is at most one window's pictures (half a second for
    // constant, two seconds for variable bit rate): an easy stretch does not buy a burst
    // later, and the correction per picture stays within one picture's target.
    const double bound = pictureBits_ * window_;
    error_ = std::clamp(error_, -bound, bound);
}

}  // namespace ombrisk
