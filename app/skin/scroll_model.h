// The arithmetic of the skinned scroll bar, the volume slider and the room list, apart from
// any window: thumb place and length from range, page and position and back, the parts of
// the bar under the pointer with what a press, a timer tick, a drag, a release, a key or
// the wheel does; the volume thumb and level bar; icon spacing, the scroll-bar state that
// follows a list view's scroll state and back, and the selection-range plan of the room
// list. Platform-free.
#pragma once

#include <cstdint>
#include <vector>

namespace skin {

// Codes of WM_GSCROLLBAR_CHANGED.
constexpr int kScrollChanged = 0;
constexpr int kScrollPageBack = 33;
constexpr int kScrollPageForward = 34;
constexpr int kScrollStepBack = 38;
constexpr int kScrollStepForward = 40;
constexpr int kScrollWheel = 522;

// Parts of the bar.
enum ScrollPart : int { kScrollFirst = 0, kScrollSecond = 1, kScrollThumb = 2, kScrollTrack = 3, kScrollNone = -1 };

struct ScrollEvents {
    std::vector<int> codes;
    bool repaint = false;
    bool restartTimer = false;  // a held button steps again after 100 ms
};

class ScrollBarModel {
public:
    // `button` B, thumb region T and track L along the bar's axis.
    void Layout(bool horizontal, int button, int thumbRegion, int track);
    bool Horizontal() const { return horizontal_; }
    int Button() const { return button_; }
    int TrackLength() const { return track_; }
    int TrackStart() const { return horizontal_ ? 2 * button_ : 0; }
    // Window extent along the axis.
    int Extent() const { return track_ + 2 * button_; }
    // Where along the axis the two buttons begin.
    int FirstButtonAt() const { return horizontal_ ? 0 : track_; }

    void SetRange(int minimum, int maximum);
    int Minimum() const { return min_; }
    int Maximum() const { return max_; }
    void SetPage(double total, double page);
    double Ratio() const { return ratio_; }
    // Ignored outside the range; the stored position is the one the thumb's pixel stands for.
    void SetPos(int position);
    int GetPos();
    int StoredPos() const { return pos_; }
    void SetLineStep(int step) { step_ = step; }
    int LineStep() const { return step_; }

    int ThumbStart() const { return thumbStart_; }
    int ThumbEnd() const { return thumbEnd_; }
    int ThumbLength() const { return thumbEnd_ - thumbStart_; }
    // While the thumb is dragged: its dragged start.
    int DraggedThumbStart() const;
    bool Dragging() const { return pressed_ && pressedPart_ == kScrollThumb; }

    // A page was set that shows the whole range: there is nothing to scroll, so the bar shows
    // no thumb, draws its parts disabled and takes no press, key or wheel.
    bool WholeInView() const { return total_ > 0 && page_ >= total_; }

    ScrollPart PartAt(int along) const;
    int State(ScrollPart part) const {
        if (part < 0 || part >= 4) return 0;
        return WholeInView() ? 3 : states_[part];
    }
    void DisableTrack(bool off) { states_[kScrollTrack] = off ? 3 : 0; }
    bool Pressed() const { return pressed_; }
    int PressedPart() const { return pressedPart_; }
    bool PageBackFlag() const { return pageBack_; }
    bool PageForwardFlag() const { return pageForward_; }

    // Mouse, timer, keys and wheel; `along` is the pointer's coordinate along the axis.
    ScrollEvents Press(int along);
    ScrollEvents Tick();
    ScrollEvents Move(int along, bool* outside);
    ScrollEvents Release();
    ScrollEvents Leave();
    // A virtual key (VK_LEFT 0x25, VK_UP 0x26, VK_RIGHT 0x27, VK_DOWN 0x28, VK_PRIOR 0x21,
    // VK_NEXT 0x22).
    ScrollEvents Key(int vk);
    ScrollEvents Wheel(int delta);
    void LoseFocus() { pageBack_ = pageForward_ = true; }

    // Thumb start for a position, and the position a thumb start stands for (the nearest).
    int ThumbStartFor(int position) const;
    int PositionFor(int thumbStart) const;

private:
    int Length() const;
    void PlaceThumb(int start);
    int Step() const { return step_ == 0 ? 1 : step_; }
    void StepBy(int delta);

    bool horizontal_ = true;
    int button_ = 0, thumbRegion_ = 0, track_ = 0;
    int min_ = 0, max_ = 100;
    int64_t span_ = 100;
    int pos_ = 0, step_ = 0;
    double ratio_ = 0, total_ = 0, page_ = 0;
    bool minimumThumb_ = false;
    int thumbStart_ = 0, thumbEnd_ = 0;
    int states_[4] = {};
    bool pressed_ = false;
    int pressedPart_ = kScrollTrack;
    int pressPoint_ = 0, currentPoint_ = 0;
    bool pageBack_ = true, pageForward_ = true;
};

// The volume slider's thumb and level bar (vertical: track from the top; horizontal: from
// the left). The popup's slider is 33 x 103 with a 20 x 7 thumb, range 0-20, 50 level steps.
class VolumeModel {
public:
    VolumeModel(bool vertical, int width, int height, int thumbWidth, int thumbHeight, int maximum);
    int Travel() const;
    int ThumbMin() const { return 6; }
    int ThumbMax() const;
    // Thumb offset (top or left) of a position; the position of an offset (rounded).
    int ThumbFor(int position) const;
    int PositionFor(int thumb) const;
    // Ignored outside the range.
    bool SetPosition(int position);
    int Position() const { return position_; }
    int Thumb() const { return thumb_; }
    void SetThumb(int thumb) { thumb_ = thumb; }
    int ClampThumb(int thumb) const;
    // Level bar for a level picture `barLength` long (72 high or 10 wide): the level in 50
    // steps, and the source offset and length of the bar's shown part.
    struct Bar {
        int level, source, length;
    };
    Bar LevelBar(int barLength) const;
    int Maximum() const { return max_; }

private:
    bool vertical_;
    int width_, height_, thumbWidth_, thumbHeight_;
    int min_ = 0, max_;
    int position_ = 0;
    int thumb_ = 6;
};

// Icon spacing of the room list's icon view: cells spread over the width and height, H the
// font height under each picture. A height of fewer than two rows gets the plain cell pitch.
struct IconSpacing {
    int horizontal, vertical;
};
IconSpacing ComputeIconSpacing(int width, int height, int cellWidth, int cellHeight, int fontHeight);

// What the room list's scroll bar shows for the list view's vertical scroll state.
struct ListScrollState {
    bool valid;  // the list's scroll information could be read
    int minimum, maximum, page, position;
    int itemCount;
    int itemHeight;  // height of item 0's bounds
};
struct ScrollBarSetting {
    bool change;  // false: the scroll bar stays as it is (small icon and list views)
    int minimum, maximum;
    double total, page;
    int step, position;
};
// viewType 0 icon, 1 report.
ScrollBarSetting ScrollBarFromList(int viewType, const ListScrollState& list);
// Pixels to scroll the list so that it follows the scroll bar's position.
int ListScrollFromBar(int viewType, int barPosition, int listPosition, int itemHeight, int itemCount);

// What SelectRange does on a list of `count` items.
struct SelectRangePlan {
    int result;       // 0 refused (nothing changes), 1 done
    bool clearFirst;  // the selection of every item is cleared first
    int first, last;  // items to select; first > last: none
};
SelectRangePlan PlanSelectRange(int first, int last, bool add, int count, bool singleSelection);

// 1 when the selected flags form one unbroken run, 0 when nothing or several runs.
int IsSelectionContiguous(const std::vector<bool>& selected);

}  // namespace skin
