#include "app/skin/skin_scrollbar.h"

#include <windowsx.h>

#include <algorithm>

#include "app/skin/skin_draw.h"
#include "app/skin/skin_images.h"

namespace {

constexpr UINT_PTR kRepeatTimer = 1;
constexpr UINT kFirstRepeatMs = 500;
constexpr UINT kRepeatMs = 100;

const char* BarClass() {
    return AfxRegisterWndClass(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS, LoadCursor(nullptr, IDC_ARROW));
}

int BitmapWidth(HBITMAP bitmap) {
    BITMAP info{};
    return bitmap && GetObjectA(bitmap, sizeof info, &info) ? info.bmWidth : 0;
}

int BitmapHeight(HBITMAP bitmap) {
    BITMAP info{};
    return bitmap && GetObjectA(bitmap, sizeof info, &info) ? info.bmHeight : 0;
}

// Copies `length` pixels along the bar's axis from `source` (measured from the cell's
// origin) of the selected picture to `target` along the axis; the other axis spans `depth`.
void Piece(HDC dc, HDC art, bool horizontal, int target, int length, int cellX, int cellY, int source, int depth) {
    if (length <= 0) return;
    if (horizontal)
        BitBlt(dc, target, 0, length, depth, art, cellX + source, cellY, SRCCOPY);
    else
        BitBlt(dc, 0, target, depth, length, art, cellX, cellY + source, SRCCOPY);
}

}  // namespace

IMPLEMENT_DYNAMIC(CGNewScrollBar, CWnd)

CGNewScrollBar::CGNewScrollBar() {
    WNDCLASSA wc{};
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = "MFCGNewScrollBar";
    AfxRegisterClass(&wc);
}

CGNewScrollBar::~CGNewScrollBar() {
    tooltip_.Destroy();
}

BOOL CGNewScrollBar::Create(CWnd* parent, const char* name, DWORD style, DWORD, UINT id, BOOL horizontal) {
    horizontal_ = horizontal != 0;
    id_ = id;
    if (!CreateEx(0, BarClass(), name ? name : "", style | WS_CHILD, CRect(0, 0, 200, 50), parent, id)) return FALSE;
    SetDlgCtrlID(static_cast<int>(id));
    return TRUE;
}

void CGNewScrollBar::Apply(int x, int y, HBITMAP firstButton, HBITMAP secondButton, HBITMAP thumb, HBITMAP track,
                           int spinWidth, int spinHeight, int thumbWidth, int thumbHeight, int trackWidth,
                           int trackHeight, UINT flags) {
    first_ = firstButton, second_ = secondButton, thumb_ = thumb, track_ = track;
    spinWidth_ = spinWidth, spinHeight_ = spinHeight, thumbWidth_ = thumbWidth, thumbHeight_ = thumbHeight;
    trackWidth_ = trackWidth, trackHeight_ = trackHeight;
    LayOut();
    const int width = horizontal_ ? model_.Extent() : spinWidth_;
    const int height = horizontal_ ? trackHeight_ : model_.Extent();
    SetWindowRgn(m_hWnd, CreateRectRgn(0, 0, width, height), TRUE);
    SetWindowPos(HWND_TOP, x, y, width, height, flags);
}

void CGNewScrollBar::LayOut() {
    model_.Layout(horizontal_, horizontal_ ? spinWidth_ : spinHeight_, horizontal_ ? thumbWidth_ : thumbHeight_,
                  horizontal_ ? trackWidth_ : trackHeight_);
}

void CGNewScrollBar::SetWindowRect(int x, int y, HBITMAP firstButton, HBITMAP secondButton, HBITMAP thumb,
                                   HBITMAP track, int spinWidth, int spinHeight, int thumbWidth, int thumbHeight,
                                   int trackWidth, int trackHeight, int, int rangeMax, int) {
    Apply(x, y, firstButton, secondButton, thumb, track, spinWidth, spinHeight, thumbWidth, thumbHeight, trackWidth,
          trackHeight, SWP_SHOWWINDOW);
    SetRange(0, rangeMax);
    Invalidate(TRUE);
}

void CGNewScrollBar::RelayoutWindowRect(int x, int y, HBITMAP firstButton, HBITMAP secondButton, HBITMAP thumb,
                                        HBITMAP track, int spinWidth, int spinHeight, int thumbWidth, int thumbHeight,
                                        int trackWidth, int trackHeight, int, int, int) {
    const int position = model_.StoredPos();
    Apply(x, y, firstButton, secondButton, thumb, track, spinWidth, spinHeight, thumbWidth, thumbHeight, trackWidth,
          trackHeight, SWP_NOACTIVATE | SWP_NOZORDER);
    SetPos(position);
}

void CGNewScrollBar::SetWindowRect(int x, int y, int width, int height) {
    const int button = horizontal_ ? spinWidth_ : spinHeight_;
    const int length = std::max((horizontal_ ? width : height) - 2 * button, 0);
    if (horizontal_)
        thumbWidth_ = trackWidth_ = length;
    else
        thumbHeight_ = trackHeight_ = length;
    const int position = model_.StoredPos();
    LayOut();
    SetWindowRgn(m_hWnd, CreateRectRgn(0, 0, width, height), TRUE);
    SetWindowPos(nullptr, x, y, width, height, SWP_NOACTIVATE | SWP_NOZORDER);
    SetPos(position);
}

void CGNewScrollBar::SetRange(int minimum, int maximum) {
    model_.SetRange(minimum, maximum);
}

void CGNewScrollBar::SetPage(double total, double page) {
    model_.SetPage(total, page);
    Invalidate(FALSE);
}

void CGNewScrollBar::SetPos(int position) {
    const int before = model_.ThumbStart();
    model_.SetPos(position);
    if (model_.ThumbStart() != before || !model_.Dragging()) Invalidate(TRUE);
}

void CGNewScrollBar::SetToolTip(const char* text, BOOL activate) {
    tooltip_.Set(m_hWnd, text, activate, 0, nullptr);
}

BOOL CGNewScrollBar::PreTranslateMessage(MSG* msg) {
    if (msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSELAST) tooltip_.Relay(msg);
    return CWnd::PreTranslateMessage(msg);
}

int CGNewScrollBar::Along(LPARAM lParam) const {
    return horizontal_ ? GET_X_LPARAM(lParam) : GET_Y_LPARAM(lParam);
}

void CGNewScrollBar::Post(const skin::ScrollEvents& events) {
    HWND parent = ::GetParent(m_hWnd);
    for (int code : events.codes)
        if (parent) ::PostMessageA(parent, WM_GSCROLLBAR_CHANGED, id_, code);
    if (events.repaint) Invalidate(FALSE);
}

void CGNewScrollBar::DrawThumb(HDC dc, HDC art) {
    if (!thumb_ || model_.Ratio() <= 0 || model_.WholeInView()) return;
    const int cell = BitmapWidth(thumb_) / 4;
    if (cell <= 0) return;
    SelectObject(art, thumb_);
    const int start = model_.Dragging() ? model_.DraggedThumbStart() : model_.ThumbStart();
    const int length = model_.ThumbLength();
    const int depth = horizontal_ ? trackHeight_ : spinWidth_;
    const int cellX = model_.State(skin::kScrollThumb) * cell;
    // Source offsets stay inside the cell whatever its width.
    auto from = [&](int offset, int width) { return std::clamp(offset, 0, std::max(cell - width, 0)); };
    const int side = std::max(0, (length - 31) / 2);
    const int middle = std::max(length - 6 - 2 * side, 0);
    Piece(dc, art, horizontal_, start, std::min(3, length), cellX, 0, 0, depth);
    for (int at = 0; at < side; at += 3)
        Piece(dc, art, horizontal_, start + 3 + at, std::min(3, side - at), cellX, 0, from(3, 3), depth);
    const int middleFrom = middle < 26 ? 11 + (25 - middle) / 2 : 11;
    Piece(dc, art, horizontal_, start + 3 + side, middle, cellX, 0, from(middleFrom, middle), depth);
    for (int at = 0; at < side; at += 3)
        Piece(dc, art, horizontal_, start + 3 + side + middle + at, std::min(3, side - at), cellX, 0, from(36, 3),
              depth);
    if (length > 3) Piece(dc, art, horizontal_, start + length - 3, 3, cellX, 0, from(cell - 3, 3), depth);
}

void CGNewScrollBar::Paint(HDC dc) {
    HDC art = CreateCompatibleDC(dc);
    HGDIOBJ old = GetCurrentObject(art, OBJ_BITMAP);
    const int trackStart = model_.TrackStart(), length = model_.TrackLength(), button = model_.Button();
    const int depth = horizontal_ ? trackHeight_ : spinWidth_;
    const int trackState = model_.State(skin::kScrollTrack);
    if (track_) {
        const int cell = BitmapWidth(track_) / 4;
        SelectObject(art, track_);
        if (cell > 0)
            for (int at = 0; at < length; at += cell)
                Piece(dc, art, horizontal_, trackStart + at, std::min(cell, length - at), trackState * cell, 0, 0,
                      depth);
    }
    // The track's end pictures, loaded by name for this paint only.
    const char* ends[2] = {horizontal_ ? "timeline_scrol_bg_left.jpg" : "comboslider_top.jpg",
                           horizontal_ ? "timeline_scrol_bg_right.jpg" : "comboslider_down.jpg"};
    for (int i = 0; i < 2; ++i) {
        HBITMAP end = LoadSkinBitmap(ends[i]);
        if (!end) continue;
        SelectObject(art, end);
        if (horizontal_) {
            const int cell = BitmapWidth(end) / 4;
            const int at = i == 0 ? trackStart : trackStart + length - cell;
            BitBlt(dc, at, 0, cell, depth, art, trackState * cell, 0, SRCCOPY);
        } else {
            const int cell = BitmapHeight(end) / 4;
            const int at = i == 0 ? trackStart : trackStart + length - cell;
            BitBlt(dc, 0, at, depth, cell, art, 0, trackState * cell, SRCCOPY);
        }
        SelectObject(art, old);
        DeleteObject(end);
    }
    HBITMAP buttons[2] = {first_, second_};
    for (int i = 0; i < 2; ++i) {
        if (!buttons[i]) continue;
        const int cell = BitmapWidth(buttons[i]) / 4;
        SelectObject(art, buttons[i]);
        const int state = model_.State(i == 0 ? skin::kScrollFirst : skin::kScrollSecond);
        const int at = model_.FirstButtonAt() + i * button;
        if (horizontal_)
            BitBlt(dc, at, 0, button, depth, art, state * cell, 0, SRCCOPY);
        else
            BitBlt(dc, 0, at, depth, button, art, state * cell, 0, SRCCOPY);
    }
    DrawThumb(dc, art);
    SelectObject(art, old);
    DeleteDC(art);
}

LRESULT CGNewScrollBar::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC target = BeginPaint(m_hWnd, &ps);
            CRect client;
            GetClientRect(&client);
            PaintOffScreen(target, client.Width(), client.Height(), [this](HDC dc) { Paint(dc); });
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        case WM_GETDLGCODE:
            return DLGC_WANTARROWS;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            ::SetFocus(m_hWnd);
            const skin::ScrollEvents e = model_.Press(Along(lParam));
            if (model_.Pressed()) {
                repeatTimer_ = SetTimer(kRepeatTimer, kFirstRepeatMs);
                ::SetCapture(m_hWnd);
            }
            Post(e);
            return 0;
        }
        case WM_TIMER:
            if (wParam == kRepeatTimer) {
                KillTimer(kRepeatTimer);
                repeatTimer_ = 0;
                const skin::ScrollEvents e = model_.Tick();
                if (e.restartTimer) repeatTimer_ = SetTimer(kRepeatTimer, kRepeatMs);
                Post(e);
            }
            return 0;
        case WM_MOUSEMOVE: {
            bool outside = false;
            const skin::ScrollEvents e = model_.Move(Along(lParam), &outside);
            Post(e);
            if (model_.Dragging()) UpdateWindow();
            if (!model_.Pressed()) {
                if (outside) {
                    if (!(wParam & MK_LBUTTON) && ::GetCapture() == m_hWnd) {
                        ReleaseCapture();
                        if (returnCapture_)
                            if (HWND parent = ::GetParent(m_hWnd)) ::SetCapture(parent);
                    }
                } else if (!tracking_) {
                    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hWnd, 0};
                    tracking_ = _TrackMouseEvent(&track) != 0;
                }
            }
            return 0;
        }
        case WM_LBUTTONUP: {
            if (repeatTimer_) KillTimer(kRepeatTimer);
            repeatTimer_ = 0;
            const skin::ScrollEvents e = model_.Release();
            if (!returnCapture_ && ::GetCapture() == m_hWnd) ReleaseCapture();
            Post(e);
            return 0;
        }
        case WM_MOUSELEAVE: {
            tracking_ = false;
            const skin::ScrollEvents e = model_.Leave();
            if (::GetCapture() == m_hWnd) {
                ReleaseCapture();
                if (returnCapture_)
                    if (HWND parent = ::GetParent(m_hWnd)) ::SetCapture(parent);
            }
            Post(e);
            return 0;
        }
        case WM_KEYDOWN:
            Post(model_.Key(static_cast<int>(wParam)));
            return 0;
        case WM_MOUSEWHEEL:
            Post(model_.Wheel(GET_WHEEL_DELTA_WPARAM(wParam)));
            return 0;
        case WM_SETFOCUS:
            Invalidate(FALSE);
            break;
        case WM_KILLFOCUS:
            if (HWND parent = ::GetParent(m_hWnd)) ::PostMessageA(parent, WM_GSCROLLBAR_KILLFOCUS, 0, 0);
            model_.LoseFocus();
            Invalidate(FALSE);
            break;
        case WM_DESTROY:
            if (repeatTimer_) KillTimer(kRepeatTimer);
            repeatTimer_ = 0;
            tooltip_.Destroy();
            break;
        default:
            break;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}
