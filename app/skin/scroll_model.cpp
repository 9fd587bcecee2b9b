#include "app/skin/scroll_model.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace skin {
namespace {

constexpr int kMinThumb = 6;

int RoundHalfUp(double v) {
    return static_cast<int>(std::clamp(std::floor(v + 0.5), -1e9, 1e9));
}

int TruncateInt(double v) {
    return static_cast<int>(std::clamp(std::trunc(v), -1e9, 1e9));
}

int ClampAdd(int value, int64_t delta, int low, int high) {
    return static_cast<int>(std::clamp<int64_t>(static_cast<int64_t>(value) + delta, low, high));
}

}  // namespace

void ScrollBarModel::Layout(bool horizontal, int button, int thumbRegion, int track) {
    horizontal_ = horizontal;
    button_ = std::max(button, 0);
    thumbRegion_ = std::max(thumbRegion, 0);
    track_ = std::max(track, 0);
    PlaceThumb(TrackStart());
}

int ScrollBarModel::Length() const {
    if (ratio_ <= 0) return 0;
    return std::min(RoundHalfUp(thumbRegion_ * ratio_), track_);
}

void ScrollBarModel::PlaceThumb(int start) {
    const int length = Length();
    start = std::clamp(start, TrackStart(), std::max(TrackStart(), TrackStart() + track_ - length));
    thumbStart_ = start;
    thumbEnd_ = start + length;
}

void ScrollBarModel::SetRange(int minimum, int maximum) {
    min_ = minimum;
    max_ = maximum;
    span_ = static_cast<int64_t>(maximum) - minimum;
    pos_ = PositionFor(Dragging() ? DraggedThumbStart() : thumbStart_);
}

void ScrollBarModel::SetPage(double total, double page) {
    total_ = total;
    page_ = page;
    minimumThumb_ = false;
    if (!(total > 0) || thumbRegion_ <= 0) {
        ratio_ = 0;
    } else {
        ratio_ = std::min(page / total, 1.0);
        if (ratio_ < 0) ratio_ = 0;
        if (thumbRegion_ * ratio_ < kMinThumb) {
            ratio_ = static_cast<double>(kMinThumb) / thumbRegion_;
            minimumThumb_ = true;
        }
    }
    thumbEnd_ = thumbStart_ + Length();
    if (thumbEnd_ > TrackStart() + track_) PlaceThumb(thumbStart_);
}

int ScrollBarModel::ThumbStartFor(int position) const {
    const double offset = static_cast<double>(position) - min_;
    int start;
    if (span_ == 0 || static_cast<double>(span_) == page_) {
        start = TrackStart();
    } else if (minimumThumb_) {
        const double values = static_cast<double>(span_) - page_;
        start = values > 0 ? RoundHalfUp((track_ - kMinThumb) / values * offset) + TrackStart() : TrackStart();
    } else {
        start = RoundHalfUp(static_cast<double>(track_) / static_cast<double>(span_) * offset) + TrackStart();
    }
    return std::clamp(start, TrackStart(), std::max(TrackStart(), TrackStart() + track_ - Length()));
}

int ScrollBarModel::PositionFor(int thumbStart) const {
    const double offset = thumbStart - TrackStart();
    double value = 0;
    if (minimumThumb_) {
        if (track_ > kMinThumb) value = offset / (track_ - kMinThumb) * (static_cast<double>(span_) - page_);
    } else if (track_ > 0) {
        value = offset / track_ * static_cast<double>(span_);
    }
    // Rounded to the nearest value (the thumb's place was rounded too), so that a position
    // maps back to itself whenever the track has at least one pixel per value.
    return static_cast<int>(std::clamp<int64_t>(static_cast<int64_t>(min_) + RoundHalfUp(value), INT_MIN, INT_MAX));
}

void ScrollBarModel::SetPos(int position) {
    if (position < min_ || position > max_) return;
    pos_ = position;
    if (Dragging()) return;
    PlaceThumb(ThumbStartFor(position));
    pos_ = PositionFor(thumbStart_);
}

int ScrollBarModel::GetPos() {
    pos_ = std::clamp(pos_, min_, std::max(min_, max_));
    return pos_;
}

int ScrollBarModel::DraggedThumbStart() const {
    const int length = Length();
    const int start = thumbStart_ + (currentPoint_ - pressPoint_);
    return std::clamp(start, TrackStart(), std::max(TrackStart(), TrackStart() + track_ - length));
}

ScrollPart ScrollBarModel::PartAt(int along) const {
    const int first = FirstButtonAt();
    if (along >= first && along < first + button_) return kScrollFirst;
    if (along >= first + button_ && along < first + 2 * button_) return kScrollSecond;
    if (ratio_ > 0 && along >= thumbStart_ && along < thumbEnd_) return kScrollThumb;
    if (along >= TrackStart() && along < TrackStart() + track_) return kScrollTrack;
    return kScrollNone;
}

void ScrollBarModel::StepBy(int delta) {
    const int next = ClampAdd(pos_, delta, min_, std::max(min_, max_));
    SetPos(next);
}

ScrollEvents ScrollBarModel::Press(int along) {
    ScrollEvents e;
    e.repaint = true;
    const ScrollPart part = PartAt(along);
    if (part == kScrollNone || WholeInView() || (part == kScrollTrack && states_[kScrollTrack] == 3)) return e;
    pressed_ = true;
    if (part == kScrollFirst || part == kScrollSecond) {
        pressedPart_ = part;
        states_[part] = 2;
        pageBack_ = pageForward_ = true;
        return e;
    }
    if (part == kScrollThumb) {
        pressedPart_ = kScrollThumb;
        pressPoint_ = currentPoint_ = along;
        e.codes.push_back(kScrollChanged);
        return e;
    }
    // The track: the thumb jumps one page toward the click.
    const int pagePixels = std::max(1, total_ > 0 ? TruncateInt(static_cast<double>(track_) * page_ / total_) : track_);
    const bool back = horizontal_ ? along <= thumbStart_ : along < thumbStart_;
    if (!horizontal_) {
        const int code = back ? kScrollPageBack : kScrollPageForward;
        bool& flag = back ? pageBack_ : pageForward_;
        if (flag) e.codes.push_back(code);
        flag = false;
        (back ? pageForward_ : pageBack_) = true;
        PlaceThumb(thumbStart_ + (back ? -pagePixels : pagePixels));
        pos_ = PositionFor(thumbStart_);
        e.codes.push_back(code);
    } else {
        PlaceThumb(thumbStart_ + (back ? -pagePixels : pagePixels));
        pos_ = PositionFor(thumbStart_);
        e.codes.push_back(kScrollChanged);
    }
    pressedPart_ = kScrollTrack;
    states_[kScrollTrack] = 2;
    return e;
}

ScrollEvents ScrollBarModel::Tick() {
    ScrollEvents e;
    if (!pressed_ || (pressedPart_ != kScrollFirst && pressedPart_ != kScrollSecond)) return e;
    const bool back = pressedPart_ == kScrollFirst;
    StepBy(back ? -Step() : Step());
    e.restartTimer = true;
    e.repaint = true;
    e.codes.push_back(horizontal_ ? kScrollChanged : back ? kScrollPageBack : kScrollPageForward);
    return e;
}

ScrollEvents ScrollBarModel::Move(int along, bool* outside) {
    ScrollEvents e;
    const ScrollPart part = PartAt(along);
    if (outside) *outside = part == kScrollNone;
    if (pressed_) {
        if (pressedPart_ == kScrollThumb) {
            currentPoint_ = along;
            currentPoint_ = pressPoint_ + (DraggedThumbStart() - thumbStart_);
            pos_ = PositionFor(DraggedThumbStart());
            e.codes.push_back(kScrollChanged);
            e.repaint = true;
        }
        return e;
    }
    if (states_[kScrollTrack] == 3) return e;
    for (int p = 0; p < 4; ++p) {
        const int state = p == part ? 1 : 0;
        if (states_[p] != state) states_[p] = state, e.repaint = true;
    }
    return e;
}

ScrollEvents ScrollBarModel::Release() {
    ScrollEvents e;
    e.repaint = true;
    const bool wasPressed = pressed_;
    const int part = pressedPart_;
    const int dragged = DraggedThumbStart();
    pressed_ = false;
    const bool trackOff = states_[kScrollTrack] == 3;
    for (int& s : states_)
        s = 0;
    if (trackOff) states_[kScrollTrack] = 3;
    if (step_ == 0) step_ = 1;
    if (wasPressed) {
        if (part == kScrollFirst) {
            StepBy(-step_);
            e.codes.push_back(kScrollStepBack);
        } else if (part == kScrollSecond) {
            StepBy(step_);
            e.codes.push_back(kScrollStepForward);
        } else if (part == kScrollThumb) {
            PlaceThumb(dragged);
            pos_ = PositionFor(thumbStart_);
            e.codes.push_back(kScrollChanged);
        } else {
            pos_ = PositionFor(thumbStart_);
            e.codes.push_back(kScrollChanged);
        }
    }
    pressedPart_ = kScrollTrack;
    pressPoint_ = currentPoint_ = 0;
    return e;
}

ScrollEvents ScrollBarModel::Leave() {
    ScrollEvents e;
    e.repaint = true;
    pressed_ = false;
    if (states_[kScrollTrack] != 3)
        for (int& s : states_)
            s = 0;
    return e;
}

ScrollEvents ScrollBarModel::Key(int vk) {
    ScrollEvents e;
    e.repaint = true;
    if (WholeInView()) return e;
    if (horizontal_) {
        if (vk == 0x25 || vk == 0x27) {
            StepBy(vk == 0x25 ? -Step() : Step());
            e.codes.push_back(kScrollChanged);
        }
        return e;
    }
    if (vk == 0x26 || vk == 0x28) {
        pageBack_ = pageForward_ = true;
        StepBy(vk == 0x26 ? -Step() : Step());
        e.codes.push_back(vk == 0x26 ? kScrollStepBack : kScrollStepForward);
    } else if (vk == 0x21 || vk == 0x22) {
        const bool back = vk == 0x21;
        bool& flag = back ? pageBack_ : pageForward_;
        if (flag) {
            flag = false;
        } else {
            e.codes.push_back(back ? kScrollPageBack : kScrollPageForward);
            StepBy(back ? -Step() : Step());
        }
    }
    return e;
}

ScrollEvents ScrollBarModel::Wheel(int delta) {
    ScrollEvents e;
    if (WholeInView()) return e;
    if (step_ == 0) step_ = 1;
    pressedPart_ = delta > 0 ? kScrollFirst : kScrollSecond;
    StepBy(delta > 0 ? -step_ : step_);
    e.codes.push_back(kScrollWheel);
    e.repaint = true;
    return e;
}

VolumeModel::VolumeModel(bool vertical, int width, int height, int thumbWidth, int thumbHeight, int maximum)
    : vertical_(vertical),
      width_(width),
      height_(height),
      thumbWidth_(thumbWidth),
      thumbHeight_(thumbHeight),
      max_(maximum) {
    thumb_ = ThumbFor(0);
}

int VolumeModel::Travel() const {
    return vertical_ ? height_ - thumbHeight_ - 31 : width_ - thumbWidth_ - 31;
}

int VolumeModel::ThumbMax() const {
    return std::max(6, vertical_ ? height_ - 25 - thumbHeight_ : width_ - 25 - thumbWidth_);
}

int VolumeModel::ClampThumb(int thumb) const {
    return std::clamp(thumb, ThumbMin(), ThumbMax());
}

int VolumeModel::ThumbFor(int position) const {
    const int range = max_ - min_;
    if (range <= 0 || Travel() <= 0) return 6;
    const int64_t along = vertical_ ? static_cast<int64_t>(max_) - position : static_cast<int64_t>(position) - min_;
    return 6 + static_cast<int>(static_cast<int64_t>(Travel()) * along / range);
}

int VolumeModel::PositionFor(int thumb) const {
    const int range = max_ - min_;
    if (range <= 0 || Travel() <= 0) return min_;
    const int steps = static_cast<int>(std::floor(static_cast<double>(thumb - 6) * range / Travel() + 0.5));
    return std::clamp(vertical_ ? max_ - steps : min_ + steps, min_, max_);
}

bool VolumeModel::SetPosition(int position) {
    if (position < min_ || position > max_) return false;
    position_ = position;
    thumb_ = ThumbFor(position);
    return true;
}

VolumeModel::Bar VolumeModel::LevelBar(int barLength) const {
    const int range = max_ - min_;
    Bar bar{0, barLength, 0};
    if (range <= 0) return bar;
    bar.level = std::clamp(position_ * 50 / range, 0, 50);
    if (vertical_) {
        bar.source = barLength * (50 - bar.level) / 50;
        bar.length = barLength * bar.level / 50;
    } else {
        bar.source = 0;
        bar.length = barLength * bar.level / 50;
    }
    return bar;
}

IconSpacing ComputeIconSpacing(int width, int height, int cellWidth, int cellHeight, int fontHeight) {
    IconSpacing s{std::max(cellWidth, 1), std::max(cellHeight + fontHeight, 1)};
    if (cellWidth <= 0 || cellHeight + fontHeight <= 0 || width < 0 || height < 0) return s;
    const int columns = std::max(1, width / cellWidth);
    int spare = width % cellWidth;
    if (spare / columns < 3) spare += cellWidth;
    s.horizontal = cellWidth + spare / columns;
    const int pitch = cellHeight + fontHeight;
    const int rows = std::max(1, height / pitch) - 1;
    if (rows > 0) {
        int vspare = height % pitch;
        if (vspare / rows < 1) vspare += pitch;
        s.vertical = pitch + vspare / rows;
    }
    return s;
}

ScrollBarSetting ScrollBarFromList(int viewType, const ListScrollState& list) {
    if (!list.valid || list.itemCount <= 0 || list.maximum < 1) return {true, 0, 1, 1.0, 1.0, 0, 0};
    if (viewType == 0)
        return {true,
                list.minimum,
                list.maximum,
                static_cast<double>(list.maximum) - list.minimum,
                static_cast<double>(list.page),
                list.itemHeight,
                list.position};
    if (viewType == 1) {
        const auto twice = [](int v) {
            return static_cast<int>(std::clamp<int64_t>(2 * int64_t{v}, INT_MIN, INT_MAX));
        };
        return {true,
                twice(list.minimum),
                static_cast<int>(std::min<int64_t>(2 * int64_t{list.maximum} + 2, INT_MAX)),
                2.0 * (static_cast<double>(list.maximum) - list.minimum) + 2,
                2.0 * list.page,
                2,
                twice(list.position)};
    }
    return {false, 0, 0, 0, 0, 0, 0};
}

int ListScrollFromBar(int viewType, int barPosition, int listPosition, int itemHeight, int itemCount) {
    if (viewType == 0) return barPosition - listPosition;
    if (viewType == 1 && itemCount > 0) return (barPosition / 2 - listPosition) * itemHeight;
    return 0;
}

SelectRangePlan PlanSelectRange(int first, int last, bool add, int count, bool singleSelection) {
    if (last < first) return {0, false, 0, -1};
    SelectRangePlan plan{1, !add, 0, -1};
    if ((first < 0 && last < 0) || (first >= count && last >= count)) return plan;
    plan.first = std::max(first, 0);
    plan.last = std::min(last, count - 1);
    if (singleSelection) plan.last = plan.first;
    return plan;
}

int IsSelectionContiguous(const std::vector<bool>& selected) {
    int runs = 0;
    for (size_t i = 0; i < selected.size(); ++i)
        if (selected[i] && (i == 0 || !selected[i - 1])) ++runs;
    return runs == 1 ? 1 : 0;
}

}  // namespace skin
