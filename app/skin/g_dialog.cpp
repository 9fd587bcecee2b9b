#include "app/skin/g_dialog.h"

#include "app/resources/resource_ids.h"
#include "app/skin/bitmap_region.h"
#include "app/skin/frame_paint.h"

namespace {

enum { kMin, kMax, kRestore, kClose };
constexpr UINT kButtonArt[4] = {IDB_FRAME_MINIMIZE, IDB_FRAME_MAXIMIZE, IDB_FRAME_RESTORE, IDB_FRAME_CLOSE};
constexpr COLORREF kKey = RGB(0, 255, 255);

}  // namespace

IMPLEMENT_DYNAMIC(CGDialog, CDialog)

BEGIN_MESSAGE_MAP(CGDialog, CDialog)
ON_WM_SIZE()
ON_MESSAGE(WM_NCPAINT, OnNcPaint)
ON_MESSAGE(WM_NCLBUTTONDBLCLK, OnNcLButtonDblClk)
ON_MESSAGE(WM_GETMINMAXINFO, OnGetMinMaxInfo)
END_MESSAGE_MAP()

CGDialog::CGDialog(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {}

CGDialog::~CGDialog() {
    if (leftRgn_) DeleteObject(leftRgn_);
    if (rightRgn_) DeleteObject(rightRgn_);
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
        CBitmap strip;
        if (strip.LoadBitmap(kButtonArt[b])) buttons_.LoadStrip(b, strip, kKey, 3);
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
    const DWORD style = GetStyle();
    switch (buttons_.PlaceAt(r, x, y, hover ? 1 : 0)) {
        case 1:
            return hover ? kDlgHoverClose : kDlgPressClose;
        case 2:
            if (!(style & WS_MAXIMIZEBOX)) return 0;
            if (style & WS_MAXIMIZE) return hover ? kDlgHoverRestore : kDlgPressRestore;
            return hover ? kDlgHoverMaximize : kDlgPressMaximize;
        case 3:
            return (style & WS_MINIMIZEBOX) ? (hover ? kDlgHoverMinimize : kDlgPressMinimize) : 0;
        default:
            return 0;
    }
}

BOOL CGDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (buttons_.OnMessage(m_hWnd, message, wParam, lParam, result)) return TRUE;
    // Before the art is loaded the system's frame stays.
    if (initialized_ && SkinnedNonClientMessage(this, message, wParam, lParam, result)) return TRUE;
    return CDialog::OnWndMsg(message, wParam, lParam, result);
}

LRESULT CGDialog::OnNcPaint(WPARAM, LPARAM) {
    if (!initialized_) return Default();
    PaintNonClientArea(m_hWnd, [&](HDC mem, int W, int H) {
        const FramePieces pieces{caption_,    captionLeft_, captionRight_, left_,
                                 bottomLeft_, bottom_,      bottomRight_,  right_};
        PaintFramePieces(mem, pieces, W, H);
        const DWORD style = GetStyle();
        const SIZE b = buttons_.ButtonSize();
        auto draw = [&](int button, int place, int press, int hover) {
            const int state = buttons_.Pressed() == press ? 2 : buttons_.Hot() == hover ? 1 : 0;
            if (HICON icon = buttons_.Icon(button, state))
                DrawStateA(mem, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, buttons_.PlaceLeft(W, place),
                           CCaptionButtons::kTop, b.cx, b.cy, DST_ICON);
        };
        draw(kClose, 1, kDlgPressClose, kDlgHoverClose);
        if (style & WS_MAXIMIZEBOX) {
            if (style & WS_MAXIMIZE)
                draw(kRestore, 2, kDlgPressRestore, kDlgHoverRestore);
            else
                draw(kMax, 2, kDlgPressMaximize, kDlgHoverMaximize);
        }
        if (style & WS_MINIMIZEBOX) draw(kMin, 3, kDlgPressMinimize, kDlgHoverMinimize);
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

void CGDialog::CaptionButtonClicked(int pressed) {
    switch (pressed) {
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

LRESULT CGDialog::OnNcLButtonDblClk(WPARAM wParam, LPARAM lParam) {
    if (wParam != HTCAPTION) return Default();
    const CPoint p(lParam);
    if (buttons_.Press(m_hWnd, p.x, p.y)) return 0;  // a second press, never a maximise
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
