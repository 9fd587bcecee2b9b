// The skinned sliders over the common-controls trackbar: the magnify slider (a zoomed time
// line with a thumb, ticks and marked regions), the select slider (linked regions, in/out
// marks and a selection bracket with a grip) and the region slider (a region bar over a
// 32-bit range). The native trackbar draws nothing the user sees; each slider paints itself
// off screen from copies of its skin images, magenta (0xFF00FF) transparent, and posts
// WM_HSCROLL (wParam the code, lParam the slider's window) to its parent. The value/pixel
// arithmetic and the mouse rules live in SliderModel (slider_model.h).
// User-interface thread only.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "app/skin/slider_model.h"
#include "framework/controls.h"

constexpr int SB_GREGION_START = skin::kSbRegionStart;
constexpr int SB_GREGION_END = skin::kSbRegionEnd;
constexpr int SB_GREGION_MOVE = skin::kSbRegionMove;
constexpr int SB_GSELECTION_DRAG = skin::kSbSelectionDrag;

// What the three sliders share: images, the off-screen surface, keyed drawing, posting,
// cursors and the wheel timer.
class CGSliderBase : public CSliderCtrl {
public:
    ~CGSliderBase() override;
    // Copies of the images are kept; the caller keeps its own bitmaps. A null image is
    // skipped.
    void SetBackgroundBitmap(HBITMAP image);
    void SetColorKey(COLORREF key) { key_ = key; }
    const skin::SliderModel& Model() const { return model_; }
    skin::SliderModel& MutableModel() { return model_; }
    bool WheelTimerRunning() const { return wheelTimer_ != 0; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    explicit CGSliderBase(skin::SliderFlavor flavor) : model_(flavor) {}
    static HBITMAP CopyOf(HBITMAP image);
    struct ImageSize {
        int cx, cy;
    };
    static ImageSize SizeOf(HBITMAP image);
    void Replace(HBITMAP& slot, HBITMAP image);
    // Region 0's image when there are no regions yet, else region `index`'s; false when the
    // image is null or the index is outside the count.
    bool StoreRegionBitmap(HBITMAP image, int index, BOOL threePart);
    // Draws `w` x `h` of `image` from (sx, sy) at (x, y), skipping key-coloured pixels.
    void DrawKeyed(HDC dc, HBITMAP image, int x, int y, int w, int h, int sx, int sy) const;
    void Post(const skin::SliderEvents& events);
    void PostCode(int code) const;
    void ApplyCursor(skin::SliderCursor kind);
    void DropSurface();
    virtual void UpdateTrack() = 0;
    virtual void PaintAll(HDC dc, const CRect& client) = 0;
    // Mouse, wheel, key and focus handling; the region slider takes only the mouse buttons
    // and moves.
    LRESULT MouseMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled);
    void FreeImages();

    skin::SliderModel model_;
    COLORREF key_ = RGB(255, 0, 255);
    HBITMAP background_ = nullptr;
    HBITMAP inMark_ = nullptr, outMark_ = nullptr, thumb_ = nullptr;
    HBITMAP regionImages_[skin::kMaxSliderRegions] = {};
    bool threePart_ = false;
    HBITMAP surface_ = nullptr;
    SIZE surfaceSize_{};
    bool suppressPaint_ = false;
    UINT_PTR wheelTimer_ = 0;
    bool tracking_ = false;
    HCURSOR cursor_ = nullptr;
    HCURSOR thumbCursor_ = nullptr, edgeCursor_ = nullptr, moveCursor_ = nullptr, selectionCursor_ = nullptr;
};

// What the magnify and select sliders share beyond the base: marks, thumb and the track
// between the marks, the region band, and their cursors.
class CGThumbSliderBase : public CGSliderBase {
public:
    void SetMarkAndThumbBitmaps(HBITMAP inMark, HBITMAP outMark, HBITMAP thumb, int thumbTop, int thumbBottom);
    // Region 0's image when there are no regions yet, else region `index`'s.
    void SetRegionBitmap(HBITMAP image, int bandTop, int index, BOOL threePart);
    // Each setter keeps its cursor for this window only (the window class is shared).
    void SetMoveCursor(HCURSOR cursor) { moveCursor_ = cursor; }
    void SetEdgeCursor(HCURSOR cursor) { edgeCursor_ = cursor; }
    void SetThumbCursor(HCURSOR cursor) { thumbCursor_ = cursor; }
    void ShowThumb(BOOL on) { model_.ShowThumb(on != 0); }
    void SetRegionCount(int count) { model_.SetRegionCount(count); }
    void GetRegion(int index, int64_t* start, int64_t* end) const { model_.GetRegion(index, start, end); }
    void SetEdgeDragEnabled(BOOL on) { model_.SetStartDrag(on != 0), model_.SetEndDrag(on != 0); }
    void SetMoveDragEnabled(BOOL on) { model_.SetMoveDrag(on != 0); }

protected:
    explicit CGThumbSliderBase(skin::SliderFlavor flavor) : CGSliderBase(flavor) {}
    // The track runs between the marks, or along the native channel without marks.
    void UpdateTrack() override;
    void Repaint();
    // Moves the thumb to the value under the pointer (or arrow) when `setCursor`.
    void ApplyPosCursor(BOOL setCursor);
    void PaintRegionBand(HDC dc, bool alwaysEnds) const;
    void PaintThumb(HDC dc) const;
    // Window region and place of a re-skinned or moved slider.
    void Place(int x, int y, int width, int height);

    int bandTop_ = 0;
};

class CGMagnifySlider : public CGThumbSliderBase {
    DECLARE_DYNAMIC(CGMagnifySlider)

public:
    CGMagnifySlider() : CGThumbSliderBase(skin::SliderFlavor::Magnify) {}
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
    void ApplySkin(const RECT& rect, HBITMAP inMark, HBITMAP outMark, HBITMAP thumb, HBITMAP background,
                   HBITMAP regionImage, int bandTop, int thumbTop, int thumbBottom);
    void MoveTo(int x, int y, int width, int height);

    void SetRange64(int64_t minimum, int64_t maximum, BOOL redraw);
    BOOL SetPos(int64_t position, BOOL setCursor);
    int64_t GetPos() const { return model_.Pos(); }
    void SetTickRange(int64_t first, int64_t last, BOOL redraw);
    void SetTickInterval(int64_t interval);
    void SetWheelBounds(int64_t lower, int64_t upper, BOOL redraw);
    void ShowRegions(BOOL on) { model_.ShowRegions(on != 0); }
    void SetRegion(int index, int64_t start, int64_t end);
    void SetRegionStart(int64_t start, int index);
    void SetRegionEnd(int64_t end, int index);
    void SetStartDragEnabled(BOOL on) { model_.SetStartDrag(on != 0); }
    void SetEndDragEnabled(BOOL on) { model_.SetEndDrag(on != 0); }
    void ShowStartMarkOnly(BOOL on) { model_.ShowStartMarkOnly(on != 0); }
    void ShowEndMarkOnly(BOOL on) { model_.ShowEndMarkOnly(on != 0); }
    void ShowBothMarks(BOOL on) { model_.ShowBothMarks(on != 0); }
    void SetSelectionAndPos(int64_t in, int64_t out, int64_t position);

protected:
    void PaintAll(HDC dc, const CRect& client) override;
};

class CGSelectSlider : public CGThumbSliderBase {
    DECLARE_DYNAMIC(CGSelectSlider)

public:
    CGSelectSlider();
    ~CGSelectSlider() override;
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
    void SetSelectionCursor(HCURSOR cursor) { selectionCursor_ = cursor; }
    void ApplySkin(const RECT& rect, HBITMAP inMark, HBITMAP outMark, HBITMAP thumb, HBITMAP background,
                   HBITMAP regionImage, HBITMAP leftPiece, HBITMAP rightPiece, HBITMAP upperBand, HBITMAP lowerBand,
                   HBITMAP grip, int bandTop, int thumbTop, int thumbBottom);
    void MoveTo(int x, int y, int width, int height);

    void SetRange64(int64_t minimum, int64_t maximum, BOOL redraw);
    void GetRange64(int64_t* minimum, int64_t* maximum) const;
    BOOL SetPos(int64_t position, BOOL setCursor);
    BOOL GetPos(int64_t* position) const { return model_.GetPos(position); }
    void SetRegion(int index, int64_t start, int64_t end);
    void SetRegionStart(int index, int64_t start);
    void SetRegionEnd(int index, int64_t end);
    int64_t GetRegionStart(int index) const;
    int64_t GetRegionEnd(int index) const;
    BOOL SetSelection(int64_t start, int64_t end, HBITMAP leftPiece = nullptr, HBITMAP rightPiece = nullptr,
                      HBITMAP upperBand = nullptr, HBITMAP lowerBand = nullptr, HBITMAP grip = nullptr);
    void GetSelection(int64_t* start, int64_t* end) const;
    void ShowSelection(BOOL on);
    void ShowMarks(BOOL on) { showMarks_ = on != 0; }

protected:
    void PaintAll(HDC dc, const CRect& client) override;

private:
    void SetSelectionRows();
    void DrawBand(HDC dc, HBITMAP band, int y, int left, int right, int end) const;

    HBITMAP leftPiece_ = nullptr, rightPiece_ = nullptr, upperBand_ = nullptr, lowerBand_ = nullptr, grip_ = nullptr;
    bool showMarks_ = false;
};

class CGRegionSlider : public CGSliderBase {
    DECLARE_DYNAMIC(CGRegionSlider)

public:
    CGRegionSlider();
    void SetRange(int minimum, int maximum, BOOL redraw);
    void SetRegionCount(int count) { model_.SetRegionCount(count); }
    void SetRegionEnd(int index, int end);
    void GetRegion(int index, int64_t* start, int64_t* end) const { model_.GetRegion(index, start, end); }
    void SetRegionBitmap(HBITMAP image, int index, BOOL threePart);
    void SetEdgeDragEnabled(BOOL on) { model_.SetStartDrag(on != 0), model_.SetEndDrag(on != 0); }
    void SetStartDragEnabled(BOOL on) { model_.SetStartDrag(on != 0); }
    void SetEndDragEnabled(BOOL on) { model_.SetEndDrag(on != 0); }
    void SetMoveDragEnabled(BOOL on) { model_.SetMoveDrag(on != 0); }

protected:
    void UpdateTrack() override;
    void PaintAll(HDC dc, const CRect& client) override;

private:
    int NativeX(int64_t value);
};
