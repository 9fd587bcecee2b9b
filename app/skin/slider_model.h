// The arithmetic and the mouse rules of the skinned sliders, apart from any window: the
// magnify slider (a zoomed time line with a thumb and marked regions), the select slider
// (linked regions, marks at the chain's ends and a selection bracket with a grip) and the
// region slider (regions only, 32-bit values, pixel places from the native trackbar).
//
// Values are signed 64-bit; pixels are client x coordinates. The model answers each mouse
// event with the WM_HSCROLL codes to post, in order, and the cursor to show; the window
// classes post, paint and handle capture, focus and timers. Platform-free.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace skin {

// WM_HSCROLL codes of the sliders.
constexpr int kSbThumbPosition = 4;
constexpr int kSbThumbTrack = 5;
constexpr int kSbEndScroll = 8;
constexpr int kSbRegionStart = 9;
constexpr int kSbRegionEnd = 10;
constexpr int kSbRegionMove = 12;
constexpr int kSbSelectionDrag = 6025;

constexpr int kMaxSliderRegions = 10;
// Pixel place of a region slot that was never placed.
constexpr int kRegionUnplaced = -100000;
// Height of the band in which regions are hit.
constexpr int kRegionBandHeight = 26;
// How far beside a region's end its edge can still be taken.
constexpr int kEdgeReach = 8;

enum class SliderFlavor { Magnify, Select, Region };
enum class SliderCursor { Unchanged, Arrow, Thumb, Edge, Move, Selection };
// Part of a region under the pointer.
enum RegionPart : int { kPartNone = -1, kPartStart = 0, kPartEnd = 1, kPartBody = 2 };

struct SliderRegion {
    int64_t start = 0, end = 0;
    int left = kRegionUnplaced, right = kRegionUnplaced;
};

struct SliderEvents {
    std::vector<int> codes;  // WM_HSCROLL codes to post, in order
    SliderCursor cursor = SliderCursor::Unchanged;
    bool repaint = false;
    bool trackLeave = false;  // ask for WM_MOUSELEAVE
};

// One piece of a composed picture: `width` columns from x = `source` of the image, drawn at
// x = `target`.
struct Blit {
    int source, width, target;
    bool operator==(const Blit& o) const { return source == o.source && width == o.width && target == o.target; }
};

struct Tick {
    int x;
    bool longTick;
};

class SliderModel {
public:
    explicit SliderModel(SliderFlavor flavor);
    SliderFlavor Flavor() const { return flavor_; }

    // Geometry. The track runs from `left` to `right`; mark width is the out-mark's width.
    void SetTrack(int left, int right);
    void SetMarkWidth(int width) { markWidth_ = width; }
    // Thumb cell width and the thumb's rows; the thumb is put at the track's left end.
    void SetThumbCell(int cellWidth, int top, int bottom);
    // Select slider: the selection rectangle's rows and the grip's rows.
    void SetSelectionRows(int top, int bottom, int gripTop, int gripBottom);
    void SetMarkHeight(int height) { markHeight_ = height; }
    // Region slider: a value's x comes from the native trackbar's thumb.
    void SetNativeX(std::function<int(int64_t)> valueToX) { nativeX_ = std::move(valueToX); }
    int TrackLeft() const { return trackLeft_; }
    int TrackRight() const { return trackRight_; }

    // Values.
    void SetRange(int64_t minimum, int64_t maximum);
    int64_t Minimum() const { return min_; }
    int64_t Maximum() const { return max_; }
    bool SetPos(int64_t position);
    bool GetPos(int64_t* position) const;
    int64_t Pos() const { return pos_; }
    // Wheel bounds; until set they follow the range.
    void SetWheelBounds(int64_t lower, int64_t upper);
    void ShowThumb(bool on) { showThumb_ = on; }
    bool ThumbShown() const { return showThumb_; }
    void ShowRegions(bool on) { showRegions_ = on; }
    bool RegionsShown() const { return showRegions_; }

    // Regions.
    bool SetRegionCount(int count);
    int RegionCount() const { return count_; }
    // Magnify: only while regions are shown; select: always; region slider: never (no
    // starts are set from outside). Linked neighbours follow.
    bool SetRegion(int index, int64_t start, int64_t end);
    // One end of a slot (0 <= index < 10 for the magnify slider, < count for the others).
    bool SetRegionStart(int index, int64_t start);
    bool SetRegionEnd(int index, int64_t end);
    // Both minimum - 1 when index is outside the count.
    void GetRegion(int index, int64_t* start, int64_t* end) const;
    const SliderRegion& Region(int index) const { return regions_[index]; }
    void SetLinked(bool on) { linked_ = on; }
    void SetMarksOnEveryRegion(bool on) { marksEveryRegion_ = on; }
    void SetStartDrag(bool on) { startDrag_ = on; }
    void SetEndDrag(bool on) { endDrag_ = on; }
    void SetMoveDrag(bool on) { moveDrag_ = on; }
    bool StartDrag() const { return startDrag_; }
    bool EndDrag() const { return endDrag_; }
    bool MoveDrag() const { return moveDrag_; }
    void ShowStartMarkOnly(bool on);
    void ShowEndMarkOnly(bool on);
    void ShowBothMarks(bool on);
    bool StartMarks() const { return startMarks_; }
    bool EndMarks() const { return endMarks_; }
    // Magnify slider: the owner's in/out pair and position in the zoomed range.
    void SetSelectionAndPos(int64_t in, int64_t out, int64_t position);

    // Select slider's selection pair.
    bool SetSelection(int64_t start, int64_t end);
    int64_t SelectionStart() const { return selStart_; }
    int64_t SelectionEnd() const { return selEnd_; }
    void ShowSelection(bool on) { showSelection_ = on; }
    bool SelectionShown() const { return showSelection_; }
    int SelectionLeft() const { return selLeft_; }
    int SelectionRight() const { return selRight_; }
    int GripLeft() const { return gripLeft_; }
    int GripRight() const { return gripRight_; }

    // Conversions.
    // The x of a value (the centre of a mark placed there); the last result when the range
    // is empty.
    int ValueToX(int64_t value);
    // Value at a thumb centre, in exact integer arithmetic (truncating).
    int64_t PixelToValue(int centre) const;
    // Value at x in double precision, truncated, optionally limited to the range.
    int64_t XToValue(double x, bool limit) const;
    int MarkLeft() const { return markLeft_; }
    int MarkRight() const { return markRight_; }

    // Mouse and keys. Each returns what to post and show.
    SliderEvents Press(int x, int y);
    SliderEvents Move(int x, int y);
    SliderEvents Release();
    SliderEvents Wheel(int delta);
    SliderEvents Leave();
    SliderEvents HomeEnd(bool end);
    // The region and part under (x, y) by the flavour's rule.
    RegionPart HitRegion(int x, int y, int* index) const;

    // Interaction state.
    bool ButtonDown() const { return buttonDown_; }
    int Grab() const { return grab_; }
    int ThumbLook() const { return look_; }
    void SetThumbLook(int look) { look_ = look; }
    int ThumbLeft() const { return thumbLeft_; }
    int ThumbRight() const { return thumbRight_; }
    int ThumbTop() const { return thumbTop_; }
    int ThumbBottom() const { return thumbBottom_; }
    int ThumbCentre() const { return thumbCentre_; }
    int DragShift() const { return currentX_ - pressX_; }
    int ActiveRegion() const { return active_; }
    int HoveredRegion() const { return hovered_; }
    RegionPart HoveredPart() const { return hoveredPart_; }
    bool OverThumb(int x, int y) const;
    bool OverGrip(int x, int y) const;

    // Ticks at the bottom of the client area between track left and right.
    void SetTickRange(int64_t first, int64_t last) { tickFirst_ = first, tickLast_ = last; }
    void SetTickInterval(int64_t interval) { tickInterval_ = interval; }
    std::vector<Tick> Ticks() const;

private:
    void PlaceRegion(int index);
    void PlaceThumbAt(int x);
    void PlaceSelection();
    int EditRegion(int x);  // the code of the edit made, or 0
    RegionPart Zone(const SliderRegion& r, int x, int y) const;
    RegionPart ChainHit(int x, int y, int* index) const;
    // The nearest-edge rule over all regions, last to first (ties to the higher index); in a
    // chain, shared boundaries go by the pointer's side.
    RegionPart NearestHit(int x, int y, bool chain, int* index) const;
    // The code of an edit of the hovered part, or of a thumb drag; 0 for none.
    int RegionCode(bool thumbGrabbed) const;
    int64_t WheelLower() const { return wheelSet_ ? wheelLower_ : min_; }
    int64_t WheelUpper() const { return wheelSet_ ? wheelUpper_ : max_; }
    bool IsSelect() const { return flavor_ == SliderFlavor::Select; }
    bool IsRegion() const { return flavor_ == SliderFlavor::Region; }

    SliderFlavor flavor_;
    int trackLeft_ = 0, trackRight_ = 0;
    int markWidth_ = 0, markHeight_ = 0, markLeft_ = 0, markRight_ = 0;
    int cellWidth_ = 0, thumbTop_ = 0, thumbBottom_ = 0, thumbLeft_ = 0, thumbRight_ = 0, thumbCentre_ = 0;
    std::function<int(int64_t)> nativeX_;

    int64_t min_ = 0, max_ = 100, pos_ = 0;
    int64_t wheelLower_ = 0, wheelUpper_ = 0;
    bool wheelSet_ = false;
    int64_t wheelStep_ = 10'000'000;
    int64_t tickFirst_ = 0, tickLast_ = 0, tickInterval_ = 1;

    SliderRegion regions_[kMaxSliderRegions];
    int count_ = 0;
    bool showThumb_ = true, showRegions_ = false, startMarks_ = false, endMarks_ = false;
    bool startDrag_ = true, endDrag_ = true, moveDrag_ = true;
    bool linked_ = false, marksEveryRegion_ = true;

    int64_t selStart_ = 0, selEnd_ = 0;
    int selLeft_ = 0, selRight_ = 0, selTop_ = 0, selBottom_ = 0, gripLeft_ = 0, gripRight_ = 0, gripTop_ = 0,
        gripBottom_ = 0;
    bool showSelection_ = true;

    bool buttonDown_ = false;
    int grab_ = -1;  // 1 thumb, 2 selection grip, -1 none
    int look_ = 0;
    int hovered_ = -1;
    RegionPart hoveredPart_ = kPartNone;
    int active_ = -1;
    int grabOffset_ = 0;
    int dragMode_ = 0;
    int pressX_ = 0, currentX_ = 0;
    bool edited_ = false;  // the active region changed during this press
};

// Compositions of the slider pictures, as lists of column copies.
// Magnify background: the image's left 100 columns, 50-column pieces from x = 100 while
// x < client width - 100, and its right 100 columns ending at the client's right edge.
std::vector<Blit> MagnifyBackgroundBlits(int imageWidth, int clientWidth);
// Select background: the image's first 197 columns, 5-column pieces taken at 197, and the
// image's rest from 197 placed to end at the client's right edge.
std::vector<Blit> SelectBackgroundBlits(int imageWidth, int clientWidth);
// A region of [left, right) drawn from a three-part image (pieces of imageWidth / 3), or
// from the image's first columns; `trackRight` suppresses the end pieces of a region ending
// there unless `alwaysEnds`.
std::vector<Blit> RegionBlits(int imageWidth, int left, int right, int trackRight, bool threePart, bool alwaysEnds);
// The grip of the selection bracket, from an image with end pieces `end` wide.
std::vector<Blit> GripBlits(int imageWidth, int end, int left, int right);

}  // namespace skin
