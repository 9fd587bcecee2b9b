#include "app/skin/slider_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace skin {
namespace {

using Wide = __int128;
constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
// Pixel coordinates computed from values far outside the range stay within this.
constexpr double kPixelLimit = 1e9;
// The most ticks drawn; ticks closer than a pixel cover each other anyway.
constexpr int kMaxTicks = 100000;

int64_t Saturate(Wide v) {
    return v > kMax64 ? kMax64 : v < kMin64 ? kMin64 : static_cast<int64_t>(v);
}

int64_t TruncateDouble(double v) {
    if (!(v == v)) return 0;
    if (v >= 9.2e18) return kMax64;
    if (v <= -9.2e18) return kMin64;
    return static_cast<int64_t>(v);
}

int TruncatePixel(double v) {
    return static_cast<int>(std::clamp(v, -kPixelLimit, kPixelLimit));
}

}  // namespace

SliderModel::SliderModel(SliderFlavor flavor) : flavor_(flavor) {
    if (flavor == SliderFlavor::Select) {
        linked_ = true;
        marksEveryRegion_ = false;
    }
    if (flavor == SliderFlavor::Region) showThumb_ = false;
}

void SliderModel::SetTrack(int left, int right) {
    trackLeft_ = left;
    trackRight_ = right;
}

void SliderModel::SetThumbCell(int cellWidth, int top, int bottom) {
    cellWidth_ = std::max(cellWidth, 0);
    thumbTop_ = top;
    thumbBottom_ = bottom;
    PlaceThumbAt(trackLeft_);
    pressX_ = currentX_ = thumbCentre_;
}

void SliderModel::SetSelectionRows(int top, int bottom, int gripTop, int gripBottom) {
    selTop_ = top, selBottom_ = bottom, gripTop_ = gripTop, gripBottom_ = gripBottom;
}

void SliderModel::PlaceThumbAt(int x) {
    thumbLeft_ = x - cellWidth_ / 2;
    thumbRight_ = x + cellWidth_ / 2;
    thumbCentre_ = (thumbLeft_ + thumbRight_) / 2;
}

void SliderModel::SetRange(int64_t minimum, int64_t maximum) {
    min_ = minimum;
    max_ = maximum;
}

void SliderModel::SetWheelBounds(int64_t lower, int64_t upper) {
    wheelLower_ = lower;
    wheelUpper_ = upper;
    wheelSet_ = true;
}

int SliderModel::ValueToX(int64_t value) {
    if (nativeX_) {
        markLeft_ = markRight_ = nativeX_(value);
        return markLeft_;
    }
    if (min_ != max_) {
        const double t = static_cast<double>(static_cast<Wide>(value) - min_) / static_cast<double>(Wide(max_) - min_);
        markLeft_ = trackLeft_ + TruncatePixel(t * (trackRight_ - trackLeft_) - markWidth_ / 2);
        markRight_ = markLeft_ + markWidth_;
    }
    return static_cast<int>((static_cast<int64_t>(markLeft_) + markRight_) / 2);
}

int64_t SliderModel::PixelToValue(int centre) const {
    const int width = trackRight_ - trackLeft_;
    if (width == 0) return min_;
    return Saturate(Wide(min_) + Wide(centre - trackLeft_) * (Wide(max_) - min_) / width);
}

int64_t SliderModel::XToValue(double x, bool limit) const {
    const int width = trackRight_ - trackLeft_;
    if (width == 0) return min_;
    double v = static_cast<double>(min_) +
               (x - trackLeft_) / static_cast<double>(width) * static_cast<double>(Wide(max_) - min_);
    if (limit) v = std::clamp(v, static_cast<double>(min_), static_cast<double>(max_));
    const int64_t r = TruncateDouble(v);
    return limit ? std::clamp(r, min_, max_) : r;
}

bool SliderModel::SetPos(int64_t position) {
    if (IsSelect()) {
        if (!showThumb_) return false;
        pos_ = position;
        const int x = ValueToX(position);
        if (grab_ == 1) return true;
        PlaceThumbAt(x);
        return true;
    }
    if (min_ == max_) return false;
    pos_ = position;
    const int x = ValueToX(position);
    if (grab_ == 1) return true;
    int shift = 0;
    const double scale = static_cast<double>(trackRight_ - trackLeft_) / static_cast<double>(Wide(max_) - min_);
    if (position < min_) shift = TruncatePixel(static_cast<double>(Wide(position) - min_) * scale);
    if (position > max_) shift = TruncatePixel(static_cast<double>(Wide(position) - max_) * scale);
    thumbLeft_ = x - cellWidth_ / 2 + shift;
    thumbRight_ = x + cellWidth_ / 2 + shift;
    thumbCentre_ = static_cast<int>((static_cast<int64_t>(thumbLeft_) + thumbRight_) / 2);
    return true;
}

bool SliderModel::GetPos(int64_t* position) const {
    if (IsSelect() && !showThumb_) return false;
    if (position) *position = pos_;
    return true;
}

bool SliderModel::SetRegionCount(int count) {
    if (count < 0 || count > kMaxSliderRegions) return false;
    count_ = count;
    return true;
}

void SliderModel::PlaceRegion(int index) {
    SliderRegion& r = regions_[index];
    r.left = ValueToX(r.start);
    r.right = ValueToX(r.end);
}

bool SliderModel::SetRegion(int index, int64_t start, int64_t end) {
    if (index < 0 || index >= count_ || IsRegion()) return false;
    if (flavor_ == SliderFlavor::Magnify && !showRegions_) return false;
    regions_[index].start = start;
    regions_[index].end = end;
    if (linked_) {
        if (index > 0) regions_[index - 1].end = start, PlaceRegion(index - 1);
        if (index + 1 < count_) regions_[index + 1].start = end, PlaceRegion(index + 1);
    }
    PlaceRegion(index);
    return true;
}

bool SliderModel::SetRegionStart(int index, int64_t start) {
    const int limit = flavor_ == SliderFlavor::Magnify ? kMaxSliderRegions : count_;
    if (index < 0 || index >= limit || IsRegion()) return false;
    regions_[index].start = start;
    if (linked_ && index > 0 && index - 1 < count_) regions_[index - 1].end = start, PlaceRegion(index - 1);
    PlaceRegion(index);
    return true;
}

bool SliderModel::SetRegionEnd(int index, int64_t end) {
    const int limit = flavor_ == SliderFlavor::Magnify ? kMaxSliderRegions : count_;
    if (index < 0 || index >= limit) return false;
    regions_[index].end = end;
    if (linked_ && index + 1 < count_) regions_[index + 1].start = end, PlaceRegion(index + 1);
    PlaceRegion(index);
    return true;
}

void SliderModel::GetRegion(int index, int64_t* start, int64_t* end) const {
    const bool valid = index >= 0 && index < count_;
    const int64_t none = Saturate(Wide(min_) - 1);
    if (start) *start = valid ? regions_[index].start : none;
    if (end) *end = valid ? regions_[index].end : none;
}

void SliderModel::ShowStartMarkOnly(bool on) {
    startMarks_ = on, endMarks_ = !on, startDrag_ = on, endDrag_ = !on, moveDrag_ = false;
}

void SliderModel::ShowEndMarkOnly(bool on) {
    endMarks_ = on, startMarks_ = !on, endDrag_ = on, startDrag_ = !on, moveDrag_ = false;
}

void SliderModel::ShowBothMarks(bool on) {
    startMarks_ = endMarks_ = startDrag_ = endDrag_ = moveDrag_ = on;
}

void SliderModel::SetSelectionAndPos(int64_t in, int64_t out, int64_t position) {
    SetPos(position);
    const bool inInside = in >= min_ && in <= max_, outInside = out >= min_ && out <= max_;
    if (inInside && outInside) {
        moveDrag_ = true;
        ShowBothMarks(true);
        SetRegion(0, in, out);
    } else if (inInside) {
        moveDrag_ = false;
        ShowStartMarkOnly(true);
        SetRegionStart(0, in);
        SetRegionEnd(0, out);
    } else if (outInside) {
        moveDrag_ = false;
        ShowEndMarkOnly(true);
        SetRegionEnd(0, out);
        SetRegionStart(0, in);
    } else {
        SetRegionStart(0, in);
        SetRegionEnd(0, out);
        ShowBothMarks(false);
    }
}

bool SliderModel::SetSelection(int64_t start, int64_t end) {
    if (start > end) return false;
    selStart_ = start;
    selEnd_ = end;
    PlaceSelection();
    return true;
}

void SliderModel::PlaceSelection() {
    selLeft_ = ValueToX(selStart_);
    selRight_ = ValueToX(selEnd_);
    const int centre = static_cast<int>((static_cast<int64_t>(selLeft_) + selRight_) / 2);
    const int grip = std::min(selRight_ - selLeft_, 78);
    gripLeft_ = centre - grip / 2;
    gripRight_ = centre + grip / 2;
}

bool SliderModel::OverThumb(int x, int y) const {
    return x >= thumbLeft_ && x < thumbRight_ && y >= thumbTop_ && y < thumbBottom_;
}

bool SliderModel::OverGrip(int x, int y) const {
    return x >= gripLeft_ && x < gripRight_ && y >= gripTop_ && y < gripBottom_;
}

RegionPart SliderModel::Zone(const SliderRegion& r, int x, int y) const {
    if (IsRegion()) {
        if (x >= r.left && x <= r.right) return kPartBody;
        if (x > r.right && x - r.right <= kEdgeReach) return kPartEnd;
        if (x < r.left && r.left - x <= kEdgeReach) return kPartStart;
        return kPartNone;
    }
    if (x >= r.left && x < r.right && y >= 0 && y < kRegionBandHeight) return kPartBody;
    if (x < r.left && y < kRegionBandHeight && r.left - x <= kEdgeReach) return kPartStart;
    if (x > r.right && y < kRegionBandHeight && x - r.right <= kEdgeReach) return kPartEnd;
    return kPartNone;
}

RegionPart SliderModel::HitRegion(int x, int y, int* index) const {
    *index = -1;
    if (count_ == 0) return kPartNone;
    if (!marksEveryRegion_) return ChainHit(x, y, index);
    return NearestHit(x, y, false, index);
}

RegionPart SliderModel::NearestHit(int x, int y, bool chain, int* index) const {
    RegionPart best = kPartNone;
    int bestDistance = 0;
    for (int i = count_ - 1; i >= 0; --i) {
        const SliderRegion& r = regions_[i];
        const RegionPart part = Zone(r, x, y);
        if (part == kPartNone) continue;
        // In a chain, inner boundaries are taken only in the lower half of the marks.
        if (chain && part != kPartBody && y < markHeight_ / 2) continue;
        const int distance = std::min(std::abs(x - r.left), std::abs(x - r.right));
        if (*index < 0 || distance < bestDistance) {
            *index = i, best = part, bestDistance = distance;
        } else if (chain && distance == bestDistance && i != *index) {
            // A shared boundary: the side of the pointer decides.
            const int right = *index;
            if (x >= r.right)
                *index = right, best = kPartStart;
            else
                *index = i, best = kPartEnd;
        }
    }
    return best;
}

RegionPart SliderModel::ChainHit(int x, int y, int* index) const {
    const SliderRegion& first = regions_[0];
    const SliderRegion& last = regions_[count_ - 1];
    if (Zone(first, x, y) == kPartStart || Zone(last, x, y) == kPartEnd) {
        bool takeFirst;
        if (first.left != last.right)
            takeFirst = std::abs(x - first.left) <= std::abs(x - last.right);
        else
            takeFirst = x <= first.left;
        *index = takeFirst ? 0 : count_ - 1;
        return takeFirst ? kPartStart : kPartEnd;
    }
    return NearestHit(x, y, true, index);
}

int SliderModel::EditRegion(int x) {
    const int i = active_;
    if (i < 0 || i >= count_) return 0;
    SliderRegion& r = regions_[i];
    const int64_t lower = i == 0 ? min_ : linked_ ? regions_[i - 1].start : Saturate(Wide(regions_[i - 1].end) + 1);
    const int64_t upper = i == count_ - 1 ? max_
                          : linked_       ? regions_[i + 1].end
                                          : Saturate(Wide(regions_[i + 1].start) - 1);
    const int64_t v = XToValue(x, true);
    int code = 0;
    if (hoveredPart_ == kPartStart && startDrag_) {
        int64_t start = v;
        if (start >= r.end)
            start = r.end;
        else if (start < lower)
            start = lower;
        r.start = start;
        if (linked_ && i > 0) regions_[i - 1].end = start, PlaceRegion(i - 1);
        if (!IsRegion()) SetPos(start);
        code = kSbRegionStart;
    } else if (hoveredPart_ == kPartEnd && endDrag_) {
        int64_t end = v;
        if (end <= r.start)
            end = r.start;
        else if (end > upper)
            end = upper;
        r.end = end;
        if (linked_ && i + 1 < count_) regions_[i + 1].start = end, PlaceRegion(i + 1);
        if (!IsRegion()) SetPos(end);
        code = kSbRegionEnd;
    } else if (hoveredPart_ == kPartBody && moveDrag_) {
        const int width = trackRight_ - trackLeft_;
        const double s = width == 0 ? static_cast<double>(min_)
                                    : static_cast<double>(min_) + static_cast<double>(x - grabOffset_ - trackLeft_) /
                                                                      width * static_cast<double>(Wide(max_) - min_);
        if (!linked_) {
            const Wide length = Wide(r.end) - r.start;
            Wide start = TruncateDouble(s);
            if (start < lower)
                start = lower;
            else if (start + length > upper)
                start = Wide(upper) - length;
            r.start = Saturate(start);
            r.end = Saturate(start + length);
        } else {
            Wide d = Wide(TruncateDouble(s)) - r.start;
            d = std::max<Wide>(d, Wide(min_) - regions_[0].start);
            d = std::min<Wide>(d, Wide(max_) - regions_[count_ - 1].end);
            for (int k = 0; k < count_; ++k) {
                regions_[k].start = Saturate(regions_[k].start + d);
                regions_[k].end = Saturate(regions_[k].end + d);
                PlaceRegion(k);
            }
        }
        code = kSbRegionMove;
    }
    if (code) {
        PlaceRegion(i);
        edited_ = true;
    }
    return IsRegion() && code ? kSbThumbTrack : code;
}

int SliderModel::RegionCode(bool thumbGrabbed) const {
    if (hoveredPart_ == kPartStart && startDrag_) return kSbRegionStart;
    if (hoveredPart_ == kPartEnd && endDrag_) return kSbRegionEnd;
    if (hoveredPart_ == kPartBody && moveDrag_) return kSbRegionMove;
    return thumbGrabbed ? kSbThumbTrack : 0;
}

SliderEvents SliderModel::Press(int x, int y) {
    SliderEvents e;
    if (buttonDown_) return e;
    buttonDown_ = true;
    edited_ = false;
    if (IsRegion()) {
        if (hovered_ >= 0) {
            active_ = hovered_;
            grabOffset_ = x - regions_[active_].left;
            e.codes.push_back(kSbThumbTrack);
            e.repaint = true;
        }
        return e;
    }
    if (showThumb_) {
        if (OverThumb(x, y)) {
            grab_ = 1, pressX_ = currentX_ = x, look_ = 2;
        } else if (IsSelect() && showSelection_ && OverGrip(x, y)) {
            grab_ = 2, pressX_ = currentX_ = x;
        } else {
            grab_ = -1, currentX_ = x, pressX_ = thumbCentre_, look_ = 2;
        }
    } else if (!IsSelect()) {
        grab_ = -1, currentX_ = x, pressX_ = thumbCentre_, look_ = 2;
    }
    e.repaint = true;
    if (hovered_ >= 0 && (showThumb_ || IsSelect())) {
        active_ = hovered_;
        grabOffset_ = x - regions_[active_].left;
        if (!IsSelect()) {
            const int code = RegionCode(grab_ == 1);
            dragMode_ = code == kSbRegionStart  ? 2
                        : code == kSbRegionEnd  ? 3
                        : code == kSbRegionMove ? 1
                        : code                  ? 4
                                                : 0;
            if (code) e.codes.push_back(code);
        }
    }
    return e;
}

SliderEvents SliderModel::Move(int x, int y) {
    SliderEvents e;
    if (IsRegion()) {
        if (buttonDown_ && active_ >= 0) {
            if (const int code = EditRegion(x)) e.codes.push_back(code), e.repaint = true;
            return e;
        }
        if (!buttonDown_) {
            hoveredPart_ = HitRegion(x, y, &hovered_);
            const bool lockedEdge =
                (hoveredPart_ == kPartStart && !startDrag_) || (hoveredPart_ == kPartEnd && !endDrag_);
            e.cursor = lockedEdge ? SliderCursor::Unchanged : SliderCursor::Arrow;
        }
        return e;
    }
    const bool overThumb = showThumb_ && OverThumb(x, y);
    if (overThumb) e.cursor = SliderCursor::Thumb;
    if (buttonDown_ && grab_ == 1) {
        // The thumb snaps to whole values and its centre stays on the track.
        const int64_t v = XToValue(x, false);
        const int startCentre = thumbCentre_;
        int cur = ValueToX(v);
        cur = std::clamp(cur, pressX_ + (trackLeft_ - startCentre), pressX_ + (trackRight_ - startCentre));
        currentX_ = cur;
        pos_ = PixelToValue(startCentre + currentX_ - pressX_);
        e.codes.push_back(kSbThumbTrack);
        e.repaint = true;
        return e;
    }
    const int look = overThumb ? 1 : 0;
    if (look != look_ && look_ != 3) look_ = look, e.repaint = true;
    if (buttonDown_ && grab_ == 2) {
        const int64_t v = XToValue(x, false);
        int d = ValueToX(v) - pressX_;
        d = std::max(d, trackLeft_ - selLeft_);
        d = std::min(d, trackRight_ - selRight_);
        currentX_ = pressX_ + d;
        selStart_ = std::max(XToValue(selLeft_ + d, false), min_);
        selEnd_ = std::min(XToValue(selRight_ + d, false), max_);
        if (showSelection_) e.cursor = SliderCursor::Selection;
        e.codes.push_back(kSbSelectionDrag);
        e.repaint = true;
        return e;
    }
    if (buttonDown_ && active_ >= 0) {
        if (const int code = EditRegion(x)) e.codes.push_back(code), e.repaint = true;
        return e;
    }
    if (!buttonDown_) {
        hoveredPart_ = HitRegion(x, y, &hovered_);
        e.trackLeave = true;
        if (hovered_ < 0) {
            if (IsSelect() && showSelection_ && OverGrip(x, y))
                e.cursor = SliderCursor::Selection;
            else if (!overThumb)
                e.cursor = SliderCursor::Arrow;
        } else if ((hoveredPart_ == kPartStart && startDrag_) || (hoveredPart_ == kPartEnd && endDrag_)) {
            e.cursor = SliderCursor::Edge;
        } else if (hoveredPart_ == kPartBody) {
            e.cursor = moveDrag_ ? SliderCursor::Move : SliderCursor::Arrow;
        }
    }
    return e;
}

SliderEvents SliderModel::Release() {
    SliderEvents e;
    const bool wasDown = buttonDown_;
    buttonDown_ = false;
    dragMode_ = 0;
    if (IsRegion()) {
        if (active_ >= 0) {
            active_ = -1;
            e.codes.push_back(kSbThumbPosition);
            e.repaint = true;
        }
        return e;
    }
    if (!wasDown) return e;
    const int grab = grab_;
    if (grab == 1) {
        const int d = currentX_ - pressX_;
        thumbLeft_ += d, thumbRight_ += d, thumbCentre_ += d;
        pos_ = PixelToValue(thumbCentre_);
    } else if (grab == 2) {
        const int d = currentX_ - pressX_;
        selLeft_ += d, selRight_ += d, gripLeft_ += d, gripRight_ += d;
        selStart_ = std::max(XToValue(selLeft_, false), min_);
        selEnd_ = std::min(XToValue(selRight_, false), max_);
    } else if (showThumb_ && (hovered_ < 0 || (hoveredPart_ == kPartBody && count_ >= 1 && !edited_))) {
        // A click on the track (or on a region that was not moved): the thumb jumps to
        // where the button went down.
        PlaceThumbAt(std::clamp(currentX_, trackLeft_, trackRight_));
        thumbCentre_ = std::clamp(currentX_, trackLeft_, trackRight_);
        pos_ = PixelToValue(thumbCentre_);
        dragMode_ = 4;
        e.codes.push_back(kSbThumbPosition);
    }
    look_ = 0;
    grab_ = -1;
    pressX_ = currentX_ = thumbCentre_;
    e.repaint = true;
    if (active_ >= 0) {
        active_ = -1;
        if (!IsSelect())
            if (const int code = RegionCode(grab == 1)) e.codes.push_back(code);
    }
    e.codes.push_back(kSbEndScroll);
    return e;
}

SliderEvents SliderModel::Wheel(int delta) {
    SliderEvents e;
    if (!showThumb_ || IsRegion()) return e;
    const int64_t lower = IsSelect() ? min_ : WheelLower(), upper = IsSelect() ? max_ : WheelUpper();
    int64_t next;
    if (delta > 0)
        next = std::max(Saturate(Wide(pos_) - wheelStep_), lower);
    else
        next = std::min(Saturate(Wide(pos_) + wheelStep_), upper);
    SetPos(next);
    e.codes.push_back(kSbThumbTrack);
    e.repaint = true;
    return e;
}

SliderEvents SliderModel::Leave() {
    SliderEvents e;
    buttonDown_ = false;
    if (look_ != 3) look_ = 0;
    e.repaint = true;
    return e;
}

SliderEvents SliderModel::HomeEnd(bool end) {
    SliderEvents e;
    SetPos(end ? max_ : min_);
    e.codes.push_back(kSbEndScroll);
    e.repaint = true;
    return e;
}

std::vector<Tick> SliderModel::Ticks() const {
    std::vector<Tick> ticks;
    if (tickInterval_ <= 0 || tickLast_ <= tickFirst_) return ticks;
    const double n = static_cast<double>(Wide(tickLast_) - tickFirst_) / static_cast<double>(tickInterval_);
    const double spacing = (trackRight_ - trackLeft_) / n;
    const int64_t r = tickFirst_ % tickInterval_;
    const double offset = static_cast<double>(Wide(tickInterval_) - r) * spacing / static_cast<double>(tickInterval_);
    for (int k = 0; k < n && k < kMaxTicks; ++k) {
        const double place = trackLeft_ + k * spacing + offset;
        if (place >= trackRight_) break;  // ticks only move further right
        const Wide value = Wide(k) * tickInterval_ + tickFirst_ - r;
        ticks.push_back({TruncatePixel(place), value % 30 == 0});
    }
    return ticks;
}

std::vector<Blit> MagnifyBackgroundBlits(int imageWidth, int clientWidth) {
    std::vector<Blit> out;
    if (imageWidth <= 0 || clientWidth <= 0) return out;
    out.push_back({0, std::min(100, imageWidth), 0});
    if (clientWidth > 200 && imageWidth > 100)
        for (int x = 100; x < clientWidth - 100; x += 50)
            out.push_back({100, std::min(50, imageWidth - 100), x});
    out.push_back({std::max(imageWidth - 100, 0), std::min(100, imageWidth), clientWidth - 100});
    return out;
}

std::vector<Blit> SelectBackgroundBlits(int imageWidth, int clientWidth) {
    std::vector<Blit> out;
    if (imageWidth <= 0 || clientWidth <= 0) return out;
    const int head = std::min(197, imageWidth);
    out.push_back({0, head, 0});
    if (imageWidth > 197) {
        for (int offset = 0; offset < clientWidth - imageWidth; offset += 5)
            out.push_back({197, std::min(5, imageWidth - 197), 197 + offset});
        out.push_back({197, imageWidth - 197, clientWidth - (imageWidth - 197)});
    }
    return out;
}

std::vector<Blit> RegionBlits(int imageWidth, int left, int right, int trackRight, bool threePart, bool alwaysEnds) {
    std::vector<Blit> out;
    if (imageWidth <= 0 || right < left) return out;
    const bool ends = alwaysEnds || (left != right && left != trackRight && right != trackRight);
    if (!threePart) {
        if (ends && right > left) out.push_back({0, std::min(right - left, imageWidth), left});
        return out;
    }
    const int p = imageWidth / 3;
    if (p > 0) {
        int x = left;
        for (; x + p <= right; x += p)
            out.push_back({p, p, x});
        if (x < right) out.push_back({p, right - x, x});
    }
    if (ends && p > 0) {
        const int c = std::min(p, std::max((right - left) / 2, 1));
        out.push_back({0, c, left});
        out.push_back({imageWidth - c, c, right - c});
    }
    return out;
}

std::vector<Blit> GripBlits(int imageWidth, int end, int left, int right) {
    std::vector<Blit> out;
    if (imageWidth <= 0 || end <= 0) return out;
    if (right - left < 2 * end) {
        // Too narrow: the end pieces side by side, moved apart symmetrically, no ornament.
        const int centre = left + (right - left) / 2;
        out.push_back({0, end, centre - end});
        out.push_back({imageWidth - end, end, centre});
        return out;
    }
    const int side = std::max((right - left - 2 * end - 30) / 2, 0);
    const int ornament = right - left - 2 * side - 2 * end;
    out.push_back({0, end, left});
    for (int x = left + end; x < right - end; x += 3)
        out.push_back({5, std::min(3, right - end - x), x});
    const int from = ornament < 31 ? end + 14 + (30 - ornament) / 2 : end + 14;
    if (ornament > 0) out.push_back({from, ornament, left + side + end});
    out.push_back({imageWidth - end, end, right - end});
    return out;
}

}  // namespace skin
