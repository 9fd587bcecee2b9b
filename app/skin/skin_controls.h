// Skinned buttons, radio buttons and static text, and the off-screen drawing context.
//
// Buttons draw one cell of a state strip: cell (check value + visual state), with visual
// states 0 normal, 1 hover, 2 pressed, 3 disabled and check values 0 or 4. "Disabled" is the
// visual state, not the window's enabled flag. Clicks are posted to the parent as WM_COMMAND
// (BN_CLICKED), and a push button's click is followed by WM_GBUTTON_CLICKED.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/controls.h"
#include "framework/gdi.h"
#include "framework/wnd.h"

// Posted after a button's click WM_COMMAND: wParam the control id, lParam the button.
constexpr UINT WM_GBUTTON_CLICKED = 0x59A;
// The magenta key colour of button outlines.
constexpr COLORREF kSkinKeyColor = RGB(255, 0, 255);

// A tooltip window of one tool, shared by the skinned controls.
class SkinToolTip {
public:
    ~SkinToolTip() { Destroy(); }
    // Creates the tooltip when needed, adds the tool (tool id `toolId`, `rect` of `owner`'s
    // client area, or the whole window with TTF_IDISHWND when rect is null), sets the text
    // and activates it.
    void Set(HWND owner, const char* text, BOOL activate, DWORD style, const RECT* rect);
    void Relay(MSG* msg) const;
    // Removes the tool and destroys the tooltip window.
    void Destroy();
    HWND Window() const { return hwnd_; }

private:
    TTTOOLINFOA Info(const char* text) const;
    HWND hwnd_ = nullptr;
    HWND owner_ = nullptr;
    bool byHandle_ = false;
};

// What the push button and the radio button share: the visual state and check value, the
// geometry and strip, the hit region, the caption, the tooltip and the "disabled" look.
class CGButtonBase : public CWnd {
    DECLARE_DYNAMIC(CGButtonBase)

public:
    CGButtonBase();
    void SetToolTip(const char* text, BOOL activate);
    BOOL IsChecked() const { return checkValue_ == 4; }
    // Changes the look only: a disabled button (state 3) ignores the mouse but its window
    // stays enabled.
    void Enable(BOOL enable);
    BOOL IsEnabled() const { return state_ != 3; }
    int GetVisualState() const { return state_; }
    int GetCheckValue() const { return checkValue_; }
    HWND GetToolTipWindow() const { return tooltip_.Window(); }
    HBITMAP GetStrip() const { return strip_; }
    HFONT GetCaptionFont() const { return static_cast<HFONT>(font_.m_hObject); }

    BOOL PreTranslateMessage(MSG* msg) override;
    LRESULT OnEnableMessage(WPARAM enabled, LPARAM);
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }

    DECLARE_MESSAGE_MAP()

protected:
    // Stores the place, size (= cell size) and strip, and makes the hit region.
    void SetGeometry(int left, int top, HBITMAP strip, int width, int height);
    // The caption's text format from the window style, and its font.
    void MakeCaption();
    // Draws cell (check value + state) and the caption on `dc`.
    void PaintFace(HDC dc);
    bool HitTest(CPoint point) const;
    void PostToParent(UINT message, WPARAM wParam) const;
    void PostCommand(WORD code) const;
    // Asks for WM_MOUSELEAVE unless a request is pending.
    void TrackLeave();
    // Tooltip, hit region and font go; the strip is deleted when `deleteStrip`.
    void ReleaseResources(bool deleteStrip);

    int state_ = 0;
    int checkValue_ = 0;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    int cellWidth_ = 0, cellHeight_ = 0;
    HBITMAP strip_ = nullptr;
    CRgn hitRegion_;
    bool tracking_ = false;
    SkinToolTip tooltip_;
    CFont font_;
    UINT textFormat_ = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    int captionPointSize_ = 9;
};

class CGButton : public CGButtonBase {
    DECLARE_DYNAMIC(CGButton)

public:
    BOOL Create(CWnd* parent, const char* text, DWORD style, DWORD exStyle, UINT id, BOOL repeat);
    void SetSkin(int left, int top, HBITMAP strip, int width, int height, int initialState, int unused1, int unused2,
                 int unused3, int toggle, int show, int ownsBitmap);
    // Toggle buttons only: 1 checks, 0 unchecks, other values are ignored.
    void SetCheck(int value);
    void SetText(const char* text);
    void SetCaptureParentOnLeave(BOOL flag) { captureToParent_ = flag; }
    // How many steps the command of a held repeating button stands for: 1 for a click, then
    // times 5 plus 1 on each auto-repeat, at most 2000.
    int RepeatMultiplier() const { return repeatMultiplier_; }

    void OnLButtonDown(UINT flags, CPoint point);
    void OnLButtonUp(UINT flags, CPoint point);
    void OnLButtonDblClk(UINT flags, CPoint point);
    void OnRButtonDown(UINT flags, CPoint point);
    void OnMouseMove(UINT flags, CPoint point);
    LRESULT OnMouseLeave(WPARAM, LPARAM);
    void OnTimer(UINT_PTR id);
    void OnPaint();
    void OnDestroy();

    DECLARE_MESSAGE_MAP()

private:
    void LoseCapture();

    int toggle_ = 0;
    UINT_PTR repeatTimer_ = 0;
    BOOL repeat_ = FALSE;
    int repeatMultiplier_ = 1;
    int ownsBitmap_ = 1;
    BOOL captureToParent_ = FALSE;
};

class CGRadioButton : public CGButtonBase {
    DECLARE_DYNAMIC(CGRadioButton)

public:
    // A group holds at most this many other radio buttons.
    static constexpr int kMaxGroup = 10;

    BOOL Create(CWnd* parent, const char* text, DWORD style, DWORD exStyle, UINT id, int left, int top, HBITMAP strip,
                int width, int height);
    // 1 checks this button and unchecks its group; anything else unchecks it.
    void SetCheck(int value);
    // Adds `other` to this button's group; false (nothing added) when it is full, null,
    // this button itself or already a member.
    bool AddToGroup(CGRadioButton* other);
    int GroupCount() const { return groupCount_; }
    CGRadioButton* GroupMember(int i) const { return i >= 0 && i < groupCount_ ? group_[i] : nullptr; }

    void OnLButtonDown(UINT flags, CPoint point);
    void OnLButtonUp(UINT flags, CPoint point);
    void OnLButtonDblClk(UINT flags, CPoint point);
    void OnMouseMove(UINT flags, CPoint point);
    LRESULT OnMouseLeave(WPARAM, LPARAM);
    void OnPaint();
    void OnDestroy();

    DECLARE_MESSAGE_MAP()

private:
    CGRadioButton* group_[kMaxGroup] = {};
    int groupCount_ = 0;
};

class CGStatic : public CStatic {
    DECLARE_DYNAMIC(CGStatic)

public:
    // Carries a heap copy of a text that another thread could not hand over in time.
    static constexpr UINT kDeferredTextMessage = WM_APP + 0x1A0;
    ~CGStatic() override;
    BOOL Create(const char* text, DWORD style, const RECT& rect, HBITMAP background, int width, int height,
                CWnd* parent, UINT id);
    // Any thread: the text goes over by a send that gives up after 500 ms (then, from
    // another thread, by a posted copy); only the interface thread waits for repaints.
    void SetText(const char* text);
    void SetToolTip(const char* text, BOOL activate);
    void SetTextColor(COLORREF colour) { textColor_ = colour; }
    COLORREF GetTextColor() const { return textColor_; }
    // Takes a copy of `font` (the caller keeps its own) and sets it on the control.
    virtual void SetFont(HFONT font, BOOL redraw);
    HFONT GetOwnFont() const { return static_cast<HFONT>(font_.m_hObject); }
    HBITMAP GetBackground() const { return background_; }

    BOOL PreTranslateMessage(MSG* msg) override;

    void OnLButtonDown(UINT flags, CPoint point);
    LRESULT OnDeferredText(WPARAM, LPARAM text);
    HBRUSH CtlColor(CDC* dc, UINT type);
    BOOL OnEraseBkgnd(CDC* dc);
    void OnDestroy();

    DECLARE_MESSAGE_MAP()

private:
    UINT id_ = 0;
    int width_ = 0, height_ = 0;
    HBITMAP background_ = nullptr;
    CRect rect_;
    SkinToolTip tooltip_;
    COLORREF textColor_ = 0;
    CFont font_;
};

// Off-screen drawing: everything drawn into it lands on the target when it goes out of scope.
class CMemDC : public CDC {
public:
    CMemDC(CDC* target, const RECT* rect = nullptr);
    ~CMemDC() override;
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;
    const CRect& Rect() const { return rect_; }

private:
    CBitmap bitmap_;
    HGDIOBJ oldBitmap_ = nullptr;
    CDC* target_ = nullptr;
    CRect rect_;
};
