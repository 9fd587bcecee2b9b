#include "app/skin/g_dialog.h"

#include <algorithm>

#include "app/skin/bitmap_region.h"
#include "app/skin/frame_paint.h"
#include "app/resources/resource_ids.h"

namespace {

enum { kMin, kMax, kRestore, kClose };
constexpr UINT kButtonArt[4] = {IDB_FRAME_MINIMIZE, IDB_FRAME_MAXIMIZE, IDB_FRAME_RESTORE, IDB_FRAME_CLOSE};
constexpr COLORREF kKey = RGB(0, 255, 255);

}  // namespace

IMPLEMENT_DYNAMIC(CGDialog, CDialog)

BEGIN_MESSAGE_MAP(CGDialog, CDialog)
ON_WM_SIZE()
ON_WM_LBUTTONUP()
ON_MESSAGE(WM_NCCALCSIZE, OnNcCalcSize)
ON_MESSAGE(WM_NCPAINT, OnNcPaint)
ON_MESSAGE(WM_NCACTIVATE, OnNcActivate)
ON_MESSAGE(WM_NCHITTEST, OnNcHitTest)
ON_MESSAGE(WM_NCMOUSEMOVE, OnNcMouseMove)
ON_MESSAGE(WM_NCMOUSELEAVE, OnNcMouseMove)
ON_MESSAGE(WM_NCLBUTTONDOWN, OnNcLButtonDown)
ON_MESSAGE(WM_NCLBUTTONDBLCLK, OnNcLButtonDblClk)
ON_MESSAGE(WM_GETMINMAXINFO, OnGetMinMaxInfo)
ON_MESSAGE(WM_CAPTURECHANGED, OnCaptureChanged)
END_MESSAGE_MAP()

CGDialog::CGDialog(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {}

CGDialog::~CGDialog() {
    for (auto& set : icons_)
        for (HICON& icon : set)
            if (icon) DestroyIcon(icon);
    if (leftRgn_) DeleteObject(leftRgn_);
    if (rightRgn_) DeleteObject(rightRgn_);
    for (HIMAGELIST list : buttonLists_)
        if (list) ImageList_Destroy(list);
}

BOOL CGDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    ::SetMenu(m_hWnd, nullptr);
    ModifyStyle(WS_BORDER, 0);
    caption_.LoadBitmap(IDB_FRAME_CAPTION);
    captionLeft_.LoadBitmap(IDB_FRAME_CAPTION_LEFT);
    captionRight_.LoadBitmap(IDB_FRAME_CAPTION_RIGHT);
    left_.LoadBitmap(IDB_FRAME_LEFT);
    bottomLeft_.LoadBitmap(IDB_FRAME_BOTTOM_LEFT);
    bottom_.LoadBitmap(IDB_FRAME_BOTTOM);
    bottomRight_.LoadBitmap(IDB_FRAME_BOTTOM_RIGHT);
    right_.LoadBitmap(IDB_FRAME_RIGHT);
    leftW_ = BitmapSize(captionLeft_).cx;
    rightW_ = BitmapSize(captionRight_).cx;
    leftRgn_ = BitmapToRegion(captionLeft_, kKey);
    rightRgn_ = BitmapToRegion(captionRight_, kKey);
    for (int b = 0; b < 4; ++b) {
        if (!buttons_[b].LoadBitmap(kButtonArt[b])) continue;
        const SIZE s = BitmapSize(buttons_[b]);
        if (s.cx < 4 || s.cy <= 0) continue;
        buttonW_ = s.cx / 4;
        buttonH_ = s.cy;
        buttonLists_[b] = ImageList_Create(buttonW_, buttonH_, ILC_COLOR24 | ILC_MASK, 4, 1);
        if (!buttonLists_[b]) continue;
        ImageList_AddMasked(buttonLists_[b], buttons_[b], kKey);
        for (int state = 0; state < 3; ++state)
            icons_[b][state] = ImageList_GetIcon(buttonLists_[b], state, ILD_NORMAL);
    }
    CreateSkinCaptionFont(&font_);
    initialized_ = true;
    // The frame changed: recompute the client area, and let WM_SIZE build the region.
    CRect wr;
    GetWindowRect(&wr);
    SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    MoveWindow(wr.left, wr.top, wr.Width(), wr.Height(), TRUE);
    return TRUE;
}

int CGDialog::ButtonAt(int x, int y, bool hover) const {
    CRect r;
    GetWindowRect(&r);
    const int in = hover ? 1 : 0;
    if (!(y > r.top + 4 + in && y < r.top + buttonH_ - in)) return 0;
    const int w = buttonW_;
    const DWORD style = GetStyle();
    if (x > r.right - w - 4 + in && x < r.right - 4 - in) return hover ? kDlgHoverClose : kDlgPressClose;
    if ((style & WS_MAXIMIZEBOX) && x > r.right - 2 * w - 6 + in && x < r.right - w - 4 - in) {
        if (style & WS_MAXIMIZE) return hover ? kDlgHoverRestore : kDlgPressRestore;
        return hover ? kDlgHoverMaximize : kDlgPressMaximize;
    }
    if ((style & WS_MINIMIZEBOX) && x > r.right - 3 * w - 8 + in && x < r.right - 2 * w - 6 - in)
        return hover ? kDlgHoverMinimize : kDlgPressMinimize;
    return 0;
}

LRESULT CGDialog::OnNcCalcSize(WPARAM wParam, LPARAM lParam) {
    if (!initialized_) return Default();
    RECT* r = wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : reinterpret_cast<RECT*>(lParam);
    if (GetStyle() & WS_MINIMIZE) return 0;
    r->left += kBorderSide;
    r->top += kCaptionHeight;
    r->right = std::max(r->left, r->right - kBorderSide);
    r->bottom = std::max(r->top, r->bottom - kBorderBottom);
    return 0;
}

LRESULT CGDialog::OnNcActivate(WPARAM, LPARAM) {
    if (!initialized_) return Default();
    return TRUE;
}

LRESULT CGDialog::OnNcPaint(WPARAM, LPARAM) {
    if (!initialized_) return Default();
    PaintNonClientArea(m_hWnd, [&](HDC mem, int W, int H) {
        const FramePieces pieces{caption_,    captionLeft_, captionRight_, left_,
                                 bottomLeft_, bottom_,      bottomRight_,  right_};
        PaintFramePieces(mem, pieces, W, H);
        const DWORD style = GetStyle();
        auto draw = [&](int button, int x, int press, int hover) {
            const int state = pressed_ == press ? 2 : hot_ == hover ? 1 : 0;
            if (HICON icon = icons_[button][state])
                DrawStateA(mem, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, x, 4, buttonW_, buttonH_,
                           DST_ICON);
        };
        draw(kClose, W - buttonW_ - 4, kDlgPressClose, kDlgHoverClose);
        if (style & WS_MAXIMIZEBOX) {
            if (style & WS_MAXIMIZE)
                draw(kRestore, W - 2 * buttonW_ - 6, kDlgPressRestore, kDlgHoverRestore);
            else
                draw(kMax, W - 2 * buttonW_ - 6, kDlgPressMaximize, kDlgHoverMaximize);
        }
        if (style & WS_MINIMIZEBOX) draw(kMin, W - 3 * buttonW_ - 8, kDlgPressMinimize, kDlgHoverMinimize);
        SetBkMode(mem, TRANSPARENT);
        SetTextColor(mem, RGB(255, 255, 255));
        HGDIOBJ oldFont = font_.m_hObject ? SelectObject(mem, font_.m_hObject) : nullptr;
        const CString text = GetWindowText();
        RECT tr{15, 0, W - 70, kCaptionHeight};
        DrawTextA(mem, text, -1, &tr, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
        if (oldFont) SelectObject(mem, oldFont);
    });
    return 0;
}

LRESULT CGDialog::OnNcHitTest(WPARAM, LPARAM lParam) {
    const LRESULT hit = Default();
    if (!initialized_) return hit;
    CRect wr;
    GetWindowRect(&wr);
    if (hit == HTNOWHERE && CPoint(lParam).y < wr.top + kCaptionHeight) return HTCAPTION;
    return hit;
}

LRESULT CGDialog::OnNcMouseMove(WPARAM, LPARAM lParam) {
    const UINT message = GetCurrentMessage()->message;
    const int before = hot_;
    const CPoint p(lParam);
    hot_ = message == WM_NCMOUSELEAVE ? 0 : ButtonAt(p.x, p.y, true);
    if (message == WM_NCMOUSELEAVE) tracking_ = false;
    if (hot_ && !tracking_) {
        TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE | TME_NONCLIENT, m_hWnd, 0};
        if (TrackMouseEvent(&tme)) tracking_ = true;
    }
    if (hot_ != before) RedrawFrame();
    return message == WM_NCMOUSELEAVE ? 0 : Default();
}

LRESULT CGDialog::OnNcLButtonDown(WPARAM wParam, LPARAM lParam) {
    const CPoint p(lParam);
    const int button = wParam == HTCAPTION ? ButtonAt(p.x, p.y, false) : 0;
    if (!button) return Default();
    // No default processing here: it would start the move loop and eat the release.
    SetCapture(m_hWnd);
    pressed_ = button;
    RedrawFrame();
    return 0;
}

void CGDialog::OnLButtonUp(UINT, CPoint point) {
    if (!pressed_) {
        Default();
        return;
    }
    const int button = pressed_;
    pressed_ = 0;
    RedrawFrame();
    ReleaseCapture();
    ClientToScreen(&point);
    if (ButtonAt(point.x, point.y, false) != button) return;
    switch (button) {
        case kDlgPressMinimize:
            SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
            break;
        case kDlgPressMaximize:
            SendMessage(WM_SYSCOMMAND, (GetStyle() & WS_MAXIMIZE) ? SC_RESTORE : SC_MAXIMIZE);
            break;
        case kDlgPressRestore:
            SendMessage(WM_SYSCOMMAND, SC_RESTORE);
            break;
        case kDlgPressClose:
            SendMessage(WM_SYSCOMMAND, SC_CLOSE);
            break;
        default:
            break;
    }
}

LRESULT CGDialog::OnCaptureChanged(WPARAM, LPARAM lParam) {
    if (pressed_ && reinterpret_cast<HWND>(lParam) != m_hWnd) {
        pressed_ = 0;
        RedrawFrame();
    }
    return Default();
}

LRESULT CGDialog::OnNcLButtonDblClk(WPARAM wParam, LPARAM lParam) {
    if (wParam != HTCAPTION) return Default();
    const CPoint p(lParam);
    if (ButtonAt(p.x, p.y, false)) return OnNcLButtonDown(wParam, lParam);  // a second press, never a maximise
    if (maximized_)
        PostMessage(WM_SYSCOMMAND, SC_RESTORE);
    else if (GetStyle() & WS_MAXIMIZEBOX)
        PostMessage(WM_SYSCOMMAND, SC_MAXIMIZE);
    return 0;
}

void CGDialog::OnSize(UINT type, int cx, int cy) {
    if (initialized_ && type != SIZE_MINIMIZED) {
        CRect wr;
        GetWindowRect(&wr);
        SetWindowRgn(m_hWnd, BuildFrameRegion(wr.Width(), wr.Height(), leftW_, rightW_, leftRgn_, rightRgn_), TRUE);
    }
    if (type == SIZE_RESTORED || type == SIZE_MAXIMIZED) {
        maximized_ = type == SIZE_MAXIMIZED;
        if (initialized_) RedrawFrame();
    }
    (void)cx;
    (void)cy;
    Default();
}

LRESULT CGDialog::OnGetMinMaxInfo(WPARAM, LPARAM lParam) {
    ApplySkinnedMaxSize(reinterpret_cast<MINMAXINFO*>(lParam), true);
    return Default();
}
