#include "filters/encoder/core/frame_scheduler.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/frame_stamp.h"

namespace ombrisk {
namespace {

constexpr int64_t kRelativeThreshold = 400;  // 1/1024 units
constexpr int64_t kChangeThreshold = 4000;   // 1/1024 units
constexpr int kDarkBins = 20;                // the darkest values do not count
constexpr int64_t kCutDifference = 60;       // per sample: a cut whatever came before
constexpr int64_t kCutJump = 17;             // per sample: a cut by the rise over the last

}  // namespace

CSceneCutDetector::CSceneCutDetector(int width, int height)
    : absolute_(int64_t(width) * height / 64 / 5), meanDifference_(absolute_ / 2) {}

void CSceneCutDetector::Analyse(const PlanarPicture& picture) {
    uint32_t* h = histogram_[fill_];
    std::fill(h, h + 256, 0u);
    for (int y = 0; y < picture.height; y += 8) {
        const uint8_t* line = picture.y + size_t(y) * picture.lumaPitch;
        for (int x = 0; x < picture.width; x += 8)
            ++h[line[x]];
    }
    fill_ ^= 1;
}

int CSceneCutDetector::Verdict() {
    // The newest histogram is the one filled last; sums stay in 64 bits whatever the size.
    const uint32_t* newest = histogram_[fill_ ^ 1];
    const uint32_t* previous = histogram_[fill_];
    int64_t d = 0;
    for (int i = kDarkBins; i < 256; ++i)
        d += std::llabs(int64_t(newest[i]) - int64_t(previous[i]));
    const int64_t r =
        meanDifference_ ? std::llabs(d - meanDifference_) * 1024 / meanDifference_ : (d ? kRelativeThreshold : 0);
    const int64_t rr =
        meanRelative_ ? std::llabs(r - meanRelative_) * 1024 / meanRelative_ : (r ? kChangeThreshold : 0);
    int verdict = 0;
    if (d > absolute_) verdict = (r >= kRelativeThreshold && rr >= kChangeThreshold) ? 2 : 1;
    meanDifference_ = (d + 3 * meanDifference_) / 4;
    meanRelative_ = (r + 3 * meanRelative_) / 4;
    return verdict;
}

CDifferenceSceneDetector::CDifferenceSceneDetector(int width, int height)
    : columns_((width + 7) / 8), rows_((height + 7) / 8) {
    for (std::vector<uint8_t>& p : planes_)
        p.assign(size_t(columns_) * size_t(rows_), 0);
}

void CDifferenceSceneDetector::Analyse(const PlanarPicture& picture) {
    current_ ^= 1;
    uint8_t* dst = planes_[current_].data();
    for (int r = 0; r < rows_; ++r) {
        const int y = std::min(r * 8, picture.height - 1);
        const uint8_t* line = picture.y + size_t(y) * picture.lumaPitch;
        for (int c = 0; c < columns_; ++c)
            *dst++ = line[std::min(c * 8, picture.width - 1)];
    }
    ++pictures_;
}

int CDifferenceSceneDetector::Verdict() {
    if (pictures_ < 2) return 0;  // nothing to compare with yet
    const uint8_t* a = planes_[current_].data();
    const uint8_t* b = planes_[current_ ^ 1].data();
    const int64_t samples = int64_t(columns_) * rows_;
    int64_t sum = 0;
    for (int64_t i = 0; i < samples; ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    if (sum > kCutDifference * samples || (previousSum_ >= 0 && sum > previousSum_ + kCutJump * samples)) {
        previousSum_ = -1;
        return 2;
    }
    previousSum_ = sum;
    return 0;
}

PlanarPicture ScheduledPicture::View(int width, int height) const {
    PlanarPicture p;
    const size_t luma = size_t(width) * height;
    p.y = samples.data();
    p.cb = samples.data() + luma;
    p.cr = p.cb + luma / 4;
    p.width = width;
    p.height = height;
    p.lumaPitch = width;
    p.chromaPitch = width / 2;
    return p;
}

CFrameScheduler::CFrameScheduler(const EncoderBlock& block)
    : block_(block),
      gop_(block.param(kParGopLength)),
      bFrames_(std::clamp(block.param(kParBFrames), 0, 16)),
      references_(block.param(kParRefFrames)) {
    // A GOP longer than one picture predicts: at least one reference.
    if (gop_ != 1 && references_ < 1) references_ = 1;
    if (gop_ == 1 || references_ < 1) bFrames_ = 0;
    // The B pictures waiting, their anchor, and one more for a caller that pushes before
    // it has taken the last picture out.
    buffers_.resize(size_t(bFrames_) + 2);
    const size_t bytes = size_t(block.sourceWidth) * block.sourceHeight * 3 / 2;
    for (ScheduledPicture& b : buffers_) {
        b.samples.resize(bytes);
        b.sideData.reserve(kMaxSideDataBytes);
    }
    const int32_t scene = block.param(kParSceneDetect);
    if (scene == 1)
        detector_ = std::make_unique<CDifferenceSceneDetector>(block.luma.width, block.luma.height);
    else if (scene == 2 || scene == 3)
        detector_ = std::make_unique<CSceneCutDetector>(block.luma.width, block.luma.height);
    stamps_ = (block.param(kParFlags) & kFlagFrameStamps) != 0;
}

ScheduledPicture* CFrameScheduler::FreeBuffer() {
    for (ScheduledPicture& b : buffers_) {
        const bool pending = std::find(pendingB_.begin(), pendingB_.end(), &b) != pendingB_.end();
        if (b.retired && !pending) return &b;
    }
    return nullptr;
}

int CFrameScheduler::DecideFrameType(const PlanarPicture& source, int32_t picStruct, const uint8_t* sideData,
                                     int32_t sideBytes) {
    if (!source.y || !source.cb || !source.cr || source.width != block_.sourceWidth ||
        source.height != block_.sourceHeight || sideBytes < 0 || sideBytes > kMaxSideDataBytes ||
        (sideBytes > 0 && !sideData))
        return kCoreBadArgument;
    ScheduledPicture* p = FreeBuffer();
    if (!p) return kCoreNoSpace;
    const int w = source.width, h = source.height;
    uint8_t* dst = p->samples.data();
    for (int y = 0; y < h; ++y, dst += w)
        std::memcpy(dst, source.y + size_t(y) * source.lumaPitch, size_t(w));
    for (const uint8_t* plane : {source.cb, source.cr})
        for (int y = 0; y < h / 2; ++y, dst += w / 2)
            std::memcpy(dst, plane + size_t(y) * source.chromaPitch, size_t(w / 2));
    p->sideData.assign(sideData, sideData + sideBytes);
    p->picStruct = picStruct;
    p->display = display_;
    p->verdict = 0;
    p->retired = false;

    PictureOrder& o = p->order;
    o = PictureOrder{};
    if (restart_) {
        restart_ = false;
        idrDisplay_ = display_;
        o.sliceType = kSliceI;
        o.idr = true;
    } else {
        if (detector_) {
            detector_->Analyse(p->View(w, h));
            p->verdict = detector_->Verdict();
        }
        if ((gop_ > 0 && sinceI_ >= gop_) || p->verdict == 2)
            o.sliceType = kSliceI;
        else if (int(pendingB_.size()) < bFrames_)
            o.sliceType = kSliceB;
        else
            o.sliceType = kSliceP;
    }
    if (detector_ && o.idr) detector_->Analyse(p->View(w, h));
    o.displayNumber = display_ - idrDisplay_;
    const int64_t run = int64_t(pendingB_.size());
    if (o.sliceType == kSliceB) {
        o.reference = false;
        pendingB_.push_back(p);
    } else {
        if (o.sliceType == kSliceP)
            // The last P picture before the next I picture is no reference unless B
            // pictures lean on it.
            o.reference = gop_ <= 0 || sinceI_ < references_ + gop_ - 2 || run >= 1;
        else
            o.reference = gop_ != 1 || o.idr;  // an IDR picture is always a reference (clause 7.4.1)
        if (o.sliceType == kSliceI) sinceI_ = 0;
        Queue(p);
        for (ScheduledPicture* b : pendingB_)
            Queue(b);
        pendingB_.clear();
    }
    ++sinceI_;
    ++display_;
    return kCoreOk;
}

void CFrameScheduler::Queue(ScheduledPicture* picture) {
    picture->codingNumber = nextCoding_++;
    if (stamps_)
        DrawFrameStamp(picture->samples.data(), block_.sourceWidth, block_.sourceWidth, block_.sourceHeight,
                       picture->order.sliceType, picture->display, picture->codingNumber);
    ready_.push_back(picture);
}

ScheduledPicture* CFrameScheduler::NextInCodingOrder() {
    if (ready_.empty()) return nullptr;
    ScheduledPicture* p = ready_.front();
    ready_.pop_front();
    return p;
}

void CFrameScheduler::Retire(ScheduledPicture* picture) {
    if (picture) picture->retired = true;
}

void CFrameScheduler::EndOfStream() {
    if (!pendingB_.empty()) {
        ScheduledPicture* last = pendingB_.back();
        pendingB_.pop_back();
        last->order.sliceType = kSliceP;
        // Referenced only when B pictures lean on it.
        last->order.reference = !pendingB_.empty();
        Queue(last);
        for (ScheduledPicture* b : pendingB_)
            Queue(b);
        pendingB_.clear();
    }
    restart_ = true;
}

}  // namespace ombrisk
