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

class CGDialog : public CDialog {
    DECLARE_DYNAMIC(CGDialog)

public:
    CGDialog(UINT templateId, CWnd* parent = nullptr);
    ~CGDialog() override;

    BOOL OnInitDialog() override;

    // The pressed code of the button under screen point (x, y), 0 when none; `hover` tests
    // the shrunk rectangles and gives the hover code.
    int ButtonAt(int x, int y, bool hover) const;
    int GetHotButton() const { return hot_; }
    int GetPressedButton() const { return pressed_; }
    CSize GetButtonSize() const { return CSize(buttonW_, buttonH_); }

    void OnSize(UINT type, int cx, int cy);
    void OnLButtonUp(UINT flags, CPoint point);

protected:
    LRESULT OnNcCalcSize(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcActivate(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcHitTest(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcMouseMove(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcLButtonDown(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcLButtonDblClk(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetMinMaxInfo(WPARAM wParam, LPARAM lParam);
    LRESULT OnCaptureChanged(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    void RedrawFrame() { ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW); }

    CBitmap caption_, captionLeft_, captionRight_, left_, bottomLeft_, bottom_, bottomRight_, right_;
    HRGN leftRgn_ = nullptr;
    HRGN rightRgn_ = nullptr;
    CBitmap buttons_[4];  // minimise, maximise, restore, close
    HIMAGELIST buttonLists_[4] = {};
    HICON icons_[4][3] = {};  // normal, hover, pressed
    int buttonW_ = 0, buttonH_ = 0;
    int leftW_ = 0, rightW_ = 0;
    CFont font_;
    bool maximized_ = false;
    bool initialized_ = false;
    int hot_ = 0;
    int pressed_ = 0;
    bool tracking_ = false;
};
