#include "filters/encoder/core/rate_control.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/kernel_table.h"
#include "filters/encoder/core/mb_syntax.h"

namespace ombrisk {

const RateRow kRateTable[kRateRows] = {
    {{40, 42, 44}, {45, 50, 51}, 76}, {{37, 40, 42}, {41, 45, 47}, 73}, {{35, 37, 40}, {39, 43, 45}, 70},
    {{33, 35, 39}, {37, 41, 43}, 68}, {{32, 34, 38}, {36, 39, 41}, 66}, {{31, 33, 37}, {35, 38, 40}, 64},
    {{30, 32, 36}, {34, 37, 39}, 59}, {{29, 31, 35}, {33, 36, 38}, 57}, {{28, 30, 34}, {32, 35, 37}, 55},
    {{27, 29, 33}, {31, 34, 36}, 52}, {{26, 28, 32}, {30, 33, 35}, 48}, {{25, 27, 31}, {29, 32, 34}, 46},
    {{24, 26, 29}, {28, 31, 33}, 44}, {{23, 25, 28}, {27, 30, 32}, 43}, {{22, 24, 26}, {27, 29, 30}, 41},
    {{21, 23, 25}, {26, 28, 29}, 38}, {{20, 21, 23}, {25, 27, 29}, 36}, {{19, 20, 22}, {25, 26, 27}, 34},
    {{18, 18, 19}, {24, 24, 25}, 32}, {{17, 17, 18}, {22, 22, 23}, 30}, {{16, 16, 17}, {20, 20, 21}, 28},
    {{15, 15, 16}, {19, 19, 20}, 27}, {{13, 13, 14}, {18, 18, 19}, 25}, {{11, 11, 12}, {17, 17, 18}, 23},
    {{8, 8, 9}, {15, 15, 16}, 21},    {{6, 6, 7}, {12, 12, 13}, 19},    {{4, 4, 5}, {10, 10, 11}, 17},
    {{2, 2, 3}, {8, 8, 9}, 15},       {{1, 1, 1}, {5, 5, 7}, 10},
};

RowQps RangeOfRow(int row, int column) {
    const RateRow& r = kRateTable[std::clamp(row, 0, kRateRows - 1)];
    const int beyond = std::clamp(-row, 0, kCoarseRows);
    return {std::min(r.lo[column] + beyond, 51), std::min(r.hi[column] + beyond, 51)};
}

namespace {

// The GOP length the budgets assume when only the first picture is an I picture.
constexpr int kOpenGop = 250;

int TypeOf(int32_t sliceType) {
    return sliceType == kSliceB ? 2 : sliceType == kSliceP || sliceType == kSliceSP ? 1 : 0;
}

// Sum of |sample - mean| over the macroblock's 256 source luma samples.
// The sum of absolute differences of the 256 samples from their mean (rounded down). The
// samples' sum is their distance from black; both go through the selected SAD kernel.
int64_t Activity(const uint8_t* luma) {
    alignas(16) static constexpr uint8_t kBlack[256] = {};
    const SadFn sad = KernelTable().sadContiguous16x16;
    const int mean = int(sad(luma, kBlack, nullptr, 16, 16, 16) / 256);
    alignas(16) uint8_t flat[256];
    std::memset(flat, mean, sizeof flat);
    return sad(luma, flat, nullptr, 16, 16, 16);
}

// A rate word: unset, or a positive bit rate; 0 or less is refused.
bool RateWordValid(int32_t word) {
    return word == kUnsetWord || word > 0;
}

}  // namespace

QualityQps QpsOfQuality(int32_t quality) {
    const int32_t i = std::clamp(51 - (51 * quality) / 16, 0, 51);
    return {i, std::clamp(i + 1, 0, 51), std::clamp(i + 2, 0, 51)};
}

CRateControl::CRateControl(EncoderBlock* block)
    : block_(block),
      status_(kCoreOk),
      mode_(block->param(kParRateMode)),
      floor_(block->param(kParCabac) ? 0 : 5),
      width_(block->luma.width),
      height_(block->luma.height),
      macroblocks_(std::max<int64_t>(int64_t(block->luma.width) * block->luma.height / 256, 1)) {
    const QualityQps q = QpsOfQuality(block->param(kParQuality));
    block->param(kParQpI) = q.i;
    block->param(kParQpP) = q.p;
    block->param(kParQpB) = q.b;
    records_.resize(1);
    if (mode_ < 0 || mode_ > 3) {
        status_ = kCoreUnsupported;
        return;
    }
    if (mode_ < 2) return;
    fps100_ = block->param(kParFrameRate100);
    if (fps100_ <= 0 || !RateWordValid(block->param(kParMinBitRate)) || !RateWordValid(block->param(kParMaxBitRate)) ||
        !RateWordValid(block->param(kParAvgBitRate))) {
        status_ = kCoreBadArgument;
        return;
    }
    // 64 bits: 1920x1088 at 60 frames/s is beyond 32 bits before the division.
    base_ = width_ * height_ * fps100_ / 800;
    Targets();
    // A picture too small for the frame rate to make one bit per second has no target.
    if (average_ <= 0) status_ = kCoreBadArgument;
}

void CRateControl::Targets() {
    const int32_t avg = block_->param(kParAvgBitRate);
    average_ = avg > 0 ? avg : base_;
    const int g = block_->param(kParGopLength);
    gop_ = g > 0 ? g : kOpenGop;
    // Every picture is an I picture at a GOP of 1, whatever kParBFrames says.
    bFrames_ = gop_ == 1 ? 0 : std::clamp(block_->param(kParBFrames), 0, 16);
    anchors_ = (gop_ - 1) / (bFrames_ + 1);
}

int64_t CRateControl::PredictedBits(int64_t complexity, int row) const {
    // X / (W x s / 1024), with the scale kept in the numerator so that a scale that fell
    // to its least (black pictures) cannot make the divisor 0.
    return std::max<int64_t>(complexity * 1024 / (int64_t(kRateTable[row].weight) * scale_), 0);
}

int CRateControl::ClosestRow(int64_t complexity, int64_t bits) const {
    int best = 0;
    int64_t bestDistance = INT64_MAX;
    for (int r = 0; r < kRateRows; ++r) {
        const int64_t d = std::llabs(PredictedBits(complexity, r) - bits);
        if (d < bestDistance) best = r, bestDistance = d;
    }
    return best;
}

void CRateControl::StartPeriod() {
    Targets();
    if (mode_ == 2) {
        const int64_t x = 15 * width_ * height_;
        std::fill(complexity_, complexity_ + 3, x);
        std::fill(averageBits_, averageBits_ + 3, 0);
        // Half a second of pictures, at least one below 2 pictures per second.
        window_ = std::max<int64_t>(fps100_ / 100 / 2, 1);
        meanBits_ = std::max<int64_t>(average_ * 100 / fps100_, 1);
        scale_ = 1024;
        offset_ = 0;
        lastRate_ = average_;
        elapsed_ = 0;
        spentInPeriod_ = 0;
        // The start row: the one whose I QP is nearest 36 - 6 log2(bits per sample / 0.1).
        // Matching the I share of a GOP against the complexity guess of 15 x w x h
        // misjudges real pictures several-fold (a first I picture taking 18 times its
        // share), and paying that back spoils the next second.
        const double bitsPerSample = double(meanBits_) / double(width_ * height_);
        const double start = 36 - 6 * std::log2(std::max(bitsPerSample, 1e-6) / 0.1);
        baseRow_ = 0;
        for (int r = 1; r < kRateRows; ++r)
            if (std::abs(kRateTable[r].lo[0] - start) < std::abs(kRateTable[baseRow_].lo[0] - start)) baseRow_ = r;
        rowValue_ = baseRow_ * 1024;
    } else if (mode_ == 3) {
        // The picture rate measured over the last period once it spans a second.
        const double rate =
            seconds_ > 1 && picturesInPeriod_ > 0 ? double(picturesInPeriod_) / seconds_ : double(fps100_) / 100.0;
        const double pictures = double((anchors_ + 1) * bFrames_ + anchors_ + 1);
        gopBudget_ = pictures * double(average_) / rate;
        buffer_ = BufferBits();
        cWindow_ = double(std::max<int64_t>(fps100_ / 200, 1));
        meanPictureBits_ = double(average_) * 100.0 / double(fps100_);
        const double bitsPerSample = meanPictureBits_ / double(width_ * height_);
        const bool large = width_ * height_ > 101376;
        const double t0 = large ? 0.6 : 0.15, t1 = large ? 1.4 : 0.45, t2 = large ? 2.4 : 0.9;
        const int start = bitsPerSample <= t0 ? 40 : bitsPerSample <= t1 ? 30 : bitsPerSample <= t2 ? 20 : 10;
        std::fill(typeQp_, typeQp_ + 3, start);
        // The buffer starts where the macroblock QP equals the start QP (a third of the
        // buffer started the first I picture near QP 17 whatever the rate).
        fullness_ = buffer_ * start / 51;
        cComplexity_[0] = 2 * start * meanPictureBits_;
        cComplexity_[1] = cComplexity_[0] / 2;
        cComplexity_[2] = cComplexity_[0] / 4;
        seconds_ = 0;
    }
    picturesInPeriod_ = 0;
}

int CRateControl::StartPicture(const RatePicture& picture) {
    type_ = TypeOf(picture.sliceType);
    picture_ = SliceRateRecord{};
    if (status_ != kCoreOk) return 0;
    if (mode_ < 2) {
        const int word = type_ == 0 ? kParQpI : type_ == 1 ? kParQpP : kParQpB;
        picture_.qp = std::clamp(block_->param(word), 0, 51);
        return picture_.qp;
    }
    if (picture.periodStart || picturesInPeriod_ == 0) StartPeriod();
    ++picturesInPeriod_;
    return mode_ == 2 ? StartVariable(picture) : StartConstant(picture);
}

int CRateControl::StartVariable(const RatePicture& picture) {
    row_ = int(std::clamp<int64_t>(offset_ + baseRow_, -kCoarseRows, kRateRows - 1));
    // The picture's duration in frames, x 1024.
    const int32_t ps = picture.picStruct;
    const int64_t duration = ps == 8 ? 3072 : ps == 7 ? 2048 : ps == 5 || ps == 6 ? 1536 : 1024;
    elapsed_ += duration * 100 / fps100_;
    // A B picture the detector marked takes the P ranges.
    column_ = type_ == 2 && picture.verdict == 1 ? 1 : type_;
    picture_.qp = std::clamp<int32_t>(RangeOfRow(row_, column_).lo, 0, 51);
    picture_.row = row_;
    return picture_.qp;
}

int CRateControl::StartConstant(const RatePicture& picture) {
    const int32_t ps = picture.picStruct;
    seconds_ += (ps == 8 ? 3.0 : ps == 7 ? 2.0 : ps == 5 || ps == 6 ? 1.5 : 1.0) * 100.0 / double(fps100_);
    if (type_ == 0) {
        const double rate = seconds_ > 1 ? double(picturesInPeriod_) / seconds_ : double(fps100_) / 100.0;
        const double pictures = double((anchors_ + 1) * bFrames_ + anchors_ + 1);
        gopBudget_ = pictures * double(average_) / rate;
        buffer_ = BufferBits();
        const double t = gopBudget_ / pictures;
        double* x = cComplexity_;
        x[0] = std::max(t, x[0]);
        x[1] = std::max(x[0] / 4, x[1]);
        x[2] = std::max(x[0] / 8, x[2]);
        const double k = gopBudget_ / (double((anchors_ + 1) * bFrames_) * x[2] + double(anchors_) * x[1] + x[0]);
        typeTarget_[0] = std::min(std::max(k * x[0], t / 8), 4 * t);
        typeTarget_[1] = std::min(std::max(k * x[1], t / 8), 2 * t);
        typeTarget_[2] = std::min(std::max(k * x[2], t / 8), t);
    }
    picture_.qp = std::max(typeQp_[type_], floor_);
    return picture_.qp;
}

void CRateControl::CopyToSlices(int slices) {
    records_.resize(size_t(std::max(slices, 1)));
    const double s = double(records_.size());
    SliceRateRecord r = picture_;
    if (mode_ == 3) {
        r.fullness = fullness_ / s;
        r.bufferSize = buffer_ / s;
        r.target = typeTarget_[type_] / s;
        r.complexity = activity_[type_];
    }
    for (SliceRateRecord& record : records_)
        record = r;
}

int CRateControl::StartSlice(int slice) {
    SliceRateRecord& r = records_[size_t(slice)];
    if (mode_ == 2) {
        const RowQps range = RangeOfRow(r.row, column_);
        r.lo = range.lo;
        r.hi = range.hi;
        return std::min(std::max(r.lo, floor_), 51);
    }
    return r.qp;
}

int CRateControl::MacroblockQp(int slice, const CMbContext& mb) {
    SliceRateRecord& r = records_[size_t(slice)];
    if (mode_ < 2) return r.qp;
    const int64_t a = Activity(mb.srcLuma);
    int qp;
    if (mode_ == 2) {
        qp = int(r.lo + (int64_t(r.hi - r.lo) * a) / 8192);
        const int least = floor_ == 0 ? 0 : r.lo < 6 ? 5 : r.lo;
        qp = qp <= least ? least : qp >= r.hi ? r.hi : qp;
    } else {
        r.measure += a;
        const double n = double(macroblocks_);
        double ratio = 1.0;
        if (r.complexity != 0)
            ratio = std::clamp((double(r.complexity) + 2 * n * double(a)) / (n * double(a) + 2 * double(r.complexity)),
                               0.75, 1.0);
        const double perSlice = double(std::max<int64_t>(macroblocks_ / int64_t(records_.size()), 1));
        r.targetSoFar += r.target * ratio / perSlice;
        const double q = (double(r.bits) - r.targetSoFar + r.fullness) * ratio * 51 / r.bufferSize + 0.5;
        qp = std::clamp(int(std::clamp(q, -1.0, 52.0)), floor_, 51);
        r.qpSum += qp;
    }
    r.qp = std::clamp(qp, 0, 51);
    return r.qp;
}

void CRateControl::MacroblockCoded(int slice, const CMbContext& mb, uint32_t bits) {
    SliceRateRecord& r = records_[size_t(slice)];
    r.bits += bits;
    if (mode_ == 2) r.measure += mb.DequantisedEnergy();
}

void CRateControl::EndPicture(int64_t pictureBits) {
    if (status_ != kCoreOk || mode_ < 2) return;
    const int64_t bits = std::max<int64_t>(pictureBits, 1);
    if (mode_ == 2)
        EndVariable(bits);
    else
        EndConstant(bits);
}

void CRateControl::EndVariable(int64_t bits) {
    int64_t d = 0;
    for (const SliceRateRecord& r : records_)
        d += r.measure;
    if (type_ == 0) {
        Targets();
        scale_ = std::max<int64_t>((d * 1024 / bits / kRateTable[std::max(row_, 0)].weight + scale_ + 1) / 2, 1);
        const int64_t ratioB = averageBits_[0] ? averageBits_[2] * 1024 / averageBits_[0] : 341;
        const int64_t ratioP = averageBits_[0] ? averageBits_[1] * 1024 / averageBits_[0] : 512;
        const int64_t gopBits = ((anchors_ + (anchors_ + 1) * bFrames_ + 1) * average_ * 100) / fps100_;
        const int64_t weights = ratioB * (anchors_ + 1) * bFrames_ + ratioP * anchors_ + 1024;
        const int64_t error = bits - gopBits * 1024 / weights;
        const int row = ClosestRow(d, (gopBits - error) * 1024 / weights);
        rowValue_ = ((window_ - 1) * rowValue_ + window_ / 2 + int64_t(row) * 1024) / window_;
        baseRow_ = std::clamp<int64_t>(rowValue_ / 1024, 0, kRateRows - 1);
    }
    complexity_[type_] = d;
    averageBits_[type_] = averageBits_[type_] ? (averageBits_[type_] + bits) / 2 : bits;

    // The offset follows the rate of the last window of pictures against a band of 5 %
    // about the average, less what the period spent beyond the average, paid back over
    // two seconds.
    meanBits_ = std::max<int64_t>(((window_ - 1) * meanBits_ + bits) / window_, 1);
    spentInPeriod_ += bits;
    const int64_t rate = fps100_ * meanBits_ / 100;
    // At most two seconds' bits either way: a black stretch buys no long burst later.
    const int64_t debt = std::clamp(spentInPeriod_ - average_ * elapsed_ / 1024, -2 * average_, 2 * average_);
    const int64_t centre = std::max(average_ - debt / 2, average_ / 2);
    const int64_t high = centre + average_ / 20;
    const int64_t low = centre - average_ / 20;
    // Inside the band the offset holds (it carries what the base row misses); outside it
    // moves by a quarter of the QP steps (about rows) that the rate is away from the
    // centre, one or two rows a picture. The rate is judged where its trend takes it half
    // a window on, so that the lag of the window does not make the offset swing.
    const int64_t ahead = std::max<int64_t>(rate + (rate - lastRate_) * window_ / 2, 1);
    lastRate_ = rate;
    int64_t step = 0;
    if (ahead > high || ahead < low) {
        const double rows = 6 * std::log2(double(centre) / double(ahead)) / 4;
        step = std::clamp<int64_t>(int64_t(rows), -2, 2);
        if (step == 0) step = ahead > high ? -1 : 1;
    }
    // The offset may take the row into the coarse rows beyond the table, not further.
    offset_ = std::clamp<int64_t>(offset_ + step, -kCoarseRows - baseRow_, 28);
}

double CRateControl::BufferBits() const {
    // Half a second of bits: the macroblock QP spans 0..51 over the buffer, so one QP step
    // is about 1 % of a second's bits. A buffer of two pictures made a step of a few
    // hundred bits and the QP swung across the picture.
    return double(average_) / 4;
}

void CRateControl::EndConstant(int64_t bits) {
    int64_t qpSum = 0, activity = 0;
    for (const SliceRateRecord& r : records_) {
        qpSum += r.qpSum;
        activity += r.measure;
    }
    const double averageQp = double(qpSum) / double(macroblocks_);
    // The next slice header of this type starts from where this picture's macroblocks
    // were, so the QP deltas stay small.
    typeQp_[type_] = std::clamp(int(averageQp + 0.5), floor_, 51);
    activity_[type_] = activity;
    cComplexity_[type_] = (double(bits) * averageQp + cComplexity_[type_]) / 2;
    // Above 4/3 of the buffer every macroblock is at QP 51 already (the activity ratio is
    // at least 0.75): fullness kept beyond it would hold the QP there long after the
    // pictures became cheap, and the rate would dip well below the target.
    fullness_ = std::clamp(fullness_ + double(bits) - typeTarget_[type_], -buffer_, buffer_ * 4 / 3);
    meanPictureBits_ = ((cWindow_ - 1) * meanPictureBits_ + double(bits)) / cWindow_;
}

}  // namespace ombrisk
