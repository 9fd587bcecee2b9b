// The skinned frame window: the system caption and borders replaced by skin art (a 25-pixel
// caption, 5-pixel side borders, a 6-pixel bottom), a window region cut from the corner art,
// its own minimise and close buttons with four states each and their tooltips, and the
// system menu from the caption icon and from a right click on the caption.
//
// Caption buttons act on release over the button they were pressed on. A press on a button
// never starts the system's move loop (which would swallow the release), so the button keeps
// the mouse until it is let go.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "app/skin/caption_buttons.h"
#include "app/skin/frame_paint.h"
#include "framework/frame.h"

// GetSystemMetrics with the skinned caption's sizes: SM_CYCAPTION 25, SM_CXFRAME 6,
// SM_CYFRAME 5.
int GetFrameMetrics(int index);

// Caption features (bits of SetCaptionFeatures).
constexpr UINT kCaptionIcon = 1;
constexpr UINT kCaptionMinimize = 2;
constexpr UINT kCaptionMaximize = 4;
constexpr UINT kCaptionRestore = 8;
constexpr UINT kCaptionClose = 16;
constexpr UINT kCaptionMove = 32;
constexpr UINT kCaptionSize = 64;

// Caption hit codes, and the hover codes of the buttons.
constexpr int kHitIcon = 1;
constexpr int kHitMinimize = 2;
constexpr int kHitClose = 16;
constexpr int kHoverNone = 256;
constexpr int kHoverMinimize = 512;
constexpr int kHoverClose = 4096;

constexpr COLORREF kFrameKey = RGB(0, 255, 255);

class CCommandBars;

class CGXTFrameWnd : public CFrameWnd, private CCaptionButtons::Owner {
    DECLARE_DYNCREATE(CGXTFrameWnd)

public:
    CGXTFrameWnd();
    ~CGXTFrameWnd() override;

    void SetCaptionFeatures(UINT features);
    UINT GetCaptionFeatures() const { return features_; }
    void SetCaptionText(const char* text);
    // Draws the minimise and close buttons on `dc` (a window DC of the frame when null).
    void DrawCaptionButtons(CDC* dc, const RECT* windowRect);
    int CaptionHitTest(int x, int y) const;
    int CaptionHoverTest(int x, int y) const;
    void UpdateSystemMenu(CMenu* menu);
    // The held button's hit code, else the hover code of the button under the mouse, else 0.
    int GetButtonState() const { return buttons_.Pressed() ? buttons_.Pressed() : buttons_.Hot(); }
    CSize GetButtonSize() const { return CSize(buttons_.ButtonSize().cx, buttons_.ButtonSize().cy); }
    static BOOL DrawCaptionButton(HDC dc, HBRUSH brush, DRAWSTATEPROC proc, LPARAM data, WPARAM dataSize, int x, int y,
                                  int cx, int cy, UINT flags) {
        return DrawStateA(dc, brush, proc, data, dataSize, x, y, cx, cy, flags);
    }

    // The frame's command bars (made by the derived frame; null until then). Messages are
    // offered to them before the frame's own handling.
    void SetCommandBars(CCommandBars* bars) { commandBars_ = bars; }
    CCommandBars* GetCommandBars() const { return commandBars_; }

    BOOL PreTranslateMessage(MSG* msg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

    int OnCreate(LPCREATESTRUCTA cs);
    void OnSize(UINT type, int cx, int cy);

protected:
    LRESULT OnNcPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcLButtonDown(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcLButtonDblClk(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcRButtonUp(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetMinMaxInfo(WPARAM wParam, LPARAM lParam);
    LRESULT OnSysInitMenuPopup(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    void RedrawButtons() { DrawCaptionButtons(nullptr, nullptr); }
    int CaptionButtonAt(int x, int y, bool hover) const override;
    void RedrawCaptionButtons() override { RedrawButtons(); }
    void CaptionButtonClicked(int pressed) override;
    void CaptionHoverChanged(int hover) override;
    void ShowSystemMenu(int x, int y);
    void SetTipText(const char* text);

    RECT border_{5, 5, 5, 5};
    HRGN upLeftRgn_ = nullptr;
    HRGN upRightRgn_ = nullptr;
    bool created_ = false;
    HIMAGELIST iconList_ = nullptr;
    HICON appIcon_ = nullptr;
    CBitmap caption_, upLeft_, upRight_, left_, downLeft_, down_, downRight_, right_;
    CCaptionButtons buttons_{this};  // minimise, maximise, restore, close: normal, hover, pressed, disabled
    int captionW_ = 0, captionH_ = 0, upLeftW_ = 0, upLeftH_ = 0, upRightW_ = 0, upRightH_ = 0;
    CFont font_;
    HWND tooltip_ = nullptr;
    UINT features_ = 255;
    CCommandBars* commandBars_ = nullptr;
};

// The message with which command-bar controls report to their frame: lParam points to an
// NMHDR, routed through the command targets as that control's WM_NOTIFY.
constexpr UINT WM_COMMANDBAR_NOTIFY = 0x52D;
