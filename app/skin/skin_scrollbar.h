// The skinned scroll bar: two arrow buttons, a track and a thumb drawn from skin bitmaps
// (four state cells each: normal, hover, pressed, disabled), an integer position in a range,
// and every change reported to the parent by WM_GSCROLLBAR_CHANGED. The arithmetic lives in
// ScrollBarModel (scroll_model.h). User-interface thread only.
#pragma once

#include <windows.h>

#include "app/skin/scroll_model.h"
#include "app/skin/skin_controls.h"
#include "framework/wnd.h"

// Posted to the parent: wParam the control id, lParam a code (0 moved, 33/34 page back or
// forward, 38/40 step back or forward, 522 wheel).
constexpr UINT WM_GSCROLLBAR_CHANGED = 0x178C;
// Posted to the parent when the bar loses the keyboard focus (wParam 0, lParam 0).
constexpr UINT WM_GSCROLLBAR_KILLFOCUS = 0x178D;

class CGNewScrollBar : public CWnd {
    DECLARE_DYNAMIC(CGNewScrollBar)

public:
    CGNewScrollBar();
    ~CGNewScrollBar() override;
    BOOL Create(CWnd* parent, const char* name, DWORD style, DWORD, UINT id, BOOL horizontal);
    // Applies the skin and places, shows and lays out the bar; the range becomes 0..rangeMax.
    void SetWindowRect(int x, int y, HBITMAP firstButton, HBITMAP secondButton, HBITMAP thumb, HBITMAP track,
                       int spinWidth, int spinHeight, int thumbWidth, int thumbHeight, int trackWidth, int trackHeight,
                       int, int rangeMax, int);
    // The same layout, moved without activating or showing, the position applied again.
    void RelayoutWindowRect(int x, int y, HBITMAP firstButton, HBITMAP secondButton, HBITMAP thumb, HBITMAP track,
                            int spinWidth, int spinHeight, int thumbWidth, int thumbHeight, int trackWidth,
                            int trackHeight, int, int, int);
    // New size: the buttons keep theirs, the track takes the rest.
    void SetWindowRect(int x, int y, int width, int height);
    void SetRange(int minimum, int maximum);
    void SetPage(double total, double page);
    void SetPos(int position);
    int GetPos() { return model_.GetPos(); }
    void SetLineStep(int step) { model_.SetLineStep(step); }
    // When set, the mouse capture goes back to the parent when the pointer leaves the bar.
    void SetReturnCapture(BOOL on) { returnCapture_ = on != 0; }
    void SetToolTip(const char* text, BOOL activate);
    const skin::ScrollBarModel& Model() const { return model_; }

    BOOL PreTranslateMessage(MSG* msg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Apply(int x, int y, HBITMAP firstButton, HBITMAP secondButton, HBITMAP thumb, HBITMAP track, int spinWidth,
               int spinHeight, int thumbWidth, int thumbHeight, int trackWidth, int trackHeight, UINT flags);
    void LayOut();
    int Along(LPARAM lParam) const;
    void Post(const skin::ScrollEvents& events);
    void Paint(HDC dc);
    void DrawThumb(HDC dc, HDC art);

    skin::ScrollBarModel model_;
    bool horizontal_ = true;
    UINT id_ = 0;
    HBITMAP first_ = nullptr, second_ = nullptr, thumb_ = nullptr, track_ = nullptr;
    int spinWidth_ = 0, spinHeight_ = 0, thumbWidth_ = 0, thumbHeight_ = 0, trackWidth_ = 0, trackHeight_ = 0;
    bool returnCapture_ = false;
    bool tracking_ = false;
    UINT_PTR repeatTimer_ = 0;
    SkinToolTip tooltip_;
};
