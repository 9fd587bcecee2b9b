// The skinned dialog frame: the base of the application's skinned dialogs. Caption and
// borders painted from the resource library's frame art, a window region cut from the
// caption's corner pieces, its own minimise, maximise/restore and close buttons (normal,
// hover and pressed), the whole caption strip moving the window, and a maximised size kept
// to the work area.
//
// Caption buttons act on release over the button they were pressed on; a press on a button
// never enters the system's move loop.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "app/skin/caption_buttons.h"
#include "framework/dialog.h"

// Button codes: pressed, and hover (on the button's rectangle shrunk by one pixel).
constexpr int kDlgPressMinimize = 2;
constexpr int kDlgPressMaximize = 3;
constexpr int kDlgPressRestore = 4;
constexpr int kDlgPressClose = 5;
constexpr int kDlgHoverMinimize = 16;
constexpr int kDlgHoverMaximize = 32;
constexpr int kDlgHoverRestore = 48;
constexpr int kDlgHoverClose = 64;

class CGDialog : public CDialog, private CCaptionButtons::Owner {
    DECLARE_DYNAMIC(CGDialog)

public:
    CGDialog(UINT templateId, CWnd* parent = nullptr);
    ~CGDialog() override;

    BOOL OnInitDialog() override;

    // The pressed code of the button under screen point (x, y), 0 when none; `hover` tests
    // the shrunk rectangles and gives the hover code.
    int ButtonAt(int x, int y, bool hover) const;
    int GetHotButton() const { return buttons_.Hot(); }
    int GetPressedButton() const { return buttons_.Pressed(); }
    CSize GetButtonSize() const { return CSize(buttons_.ButtonSize().cx, buttons_.ButtonSize().cy); }

    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    void OnSize(UINT type, int cx, int cy);

protected:
    LRESULT OnNcPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcLButtonDblClk(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetMinMaxInfo(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    void RedrawFrame() { ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW); }
    int CaptionButtonAt(int x, int y, bool hover) const override { return ButtonAt(x, y, hover); }
    void RedrawCaptionButtons() override { RedrawFrame(); }
    void CaptionButtonClicked(int pressed) override;

    CBitmap caption_, captionLeft_, captionRight_, left_, bottomLeft_, bottom_, bottomRight_, right_;
    HRGN leftRgn_ = nullptr;
    HRGN rightRgn_ = nullptr;
    CCaptionButtons buttons_{this};  // minimise, maximise, restore, close: normal, hover, pressed
    int leftW_ = 0, rightW_ = 0;
    CFont font_;
    bool maximized_ = false;
    bool initialized_ = false;
};
