#include "app/skin/skin_edits.h"

#include <windowsx.h>

#include "app/services/reg_value.h"
#include "app/services/settings_keys.h"
#include "app/skin/skin_draw.h"

namespace {

// Window class of the LED fields and spin buttons: redraw on size, double clicks, own DC.
constexpr UINT kFieldClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;

const char* FieldClass() {
    return AfxRegisterWndClass(kFieldClassStyle, LoadCursor(nullptr, IDC_ARROW));
}

constexpr UINT_PTR kInputTimer = 1;
constexpr UINT_PTR kWheelTimer = 2;
constexpr UINT_PTR kArrowTimer = 4;
constexpr UINT kEditTimeoutMs = 5000;

// The time-code edit's standard from "DisplayCurFrame" (the user's value, else the
// machine's); when neither exists 0 (PAL) is written for the user.
int ReadDisplayStandard() {
    CRegBinIntValue value(HKEY_CURRENT_USER, kVistrelKey, "DisplayCurFrame", 1);
    if (!value.Read()) {
        value.Set(0);
        return 0;
    }
    return value.Get() == 1 ? 1 : 0;
}

int RateOf(int standard) {
    return standard == 1 ? 30 : 25;
}

}  // namespace

// ---- CGLedFieldBase ----

BOOL CGLedFieldBase::CreateField(DWORD style, const RECT& rect, HBITMAP background, int width, int height, CWnd* parent,
                                 UINT id, int extraWidth) {
    width_ = width;
    height_ = height;
    id_ = id;
    background_ = background;
    rect_ = rect;
    CRect window = rect;
    window.right += extraWidth;
    if (!CreateEx(0, FieldClass(), "", style | WS_CHILD, window, parent, id)) return FALSE;
    SetWindowPos(HWND_TOP, window.left, window.top, window.Width(), window.Height(), SWP_SHOWWINDOW);
    return TRUE;
}

void CGLedFieldBase::SetGlyphs(HBITMAP glyphs) {
    glyphs_ = glyphs;
    BITMAP info{};
    if (glyphs && GetObjectA(glyphs, sizeof info, &info)) metrics_ = skin::LedMetricsFor(info.bmWidth);
    glyphHeight_ = rect_.Height();
}

void CGLedFieldBase::SetToolTip(const char* text, BOOL activate) {
    tooltip_.Set(m_hWnd, text, activate, 0, nullptr);
}

BOOL CGLedFieldBase::PreTranslateMessage(MSG* msg) {
    tooltip_.Relay(msg);
    return CWnd::PreTranslateMessage(msg);
}

void CGLedFieldBase::PaintText(HDC target, const std::string& text, int first, int last, bool timeEdit) {
    CRect client;
    GetClientRect(&client);
    const bool enabled = IsWindowEnabled() != 0;
    PaintOffScreen(target, client.Width(), client.Height(), [&](HDC dc) {
        DrawBitmapPart(dc, background_, 0, 0, width_, height_, 0, 0);
        if (!glyphs_ || metrics_.glyphWidth <= 0) return;
        for (size_t i = 0; i < text.size(); ++i) {
            const int cell = skin::LedGlyphCell(text[i], timeEdit);
            if (cell < 0 || (!timeEdit && cell == 12)) continue;
            const int panel = skin::LedGlyphPanel(enabled, static_cast<int>(i), first, last);
            DrawBitmapPart(dc, glyphs_, static_cast<int>(i) * metrics_.glyphWidth, 0, metrics_.glyphWidth, glyphHeight_,
                           panel * metrics_.panelWidth + cell * metrics_.glyphWidth, 0);
        }
    });
}

void CGLedFieldBase::PostToParent(UINT message, WPARAM wParam, LPARAM lParam) const {
    if (HWND parent = ::GetParent(m_hWnd)) ::PostMessageA(parent, message, wParam, lParam);
}

void CGLedFieldBase::PostCommand(WORD code) const {
    PostToParent(WM_COMMAND, MAKEWPARAM(id_, code), reinterpret_cast<LPARAM>(m_hWnd));
}

void CGLedFieldBase::SendCommand(WORD code) const {
    if (HWND parent = ::GetParent(m_hWnd))
        ::SendMessageA(parent, WM_COMMAND, MAKEWPARAM(id_, code), reinterpret_cast<LPARAM>(m_hWnd));
}

bool CGLedFieldBase::HandleCommon(UINT message, WPARAM, LPARAM lParam, LRESULT* result, bool showCursor) {
    switch (message) {
        case WM_ERASEBKGND:
            *result = TRUE;
            return true;
        case WM_GETDLGCODE:
            *result = DLGC_WANTALLKEYS;
            return true;
        case WM_LBUTTONDBLCLK:
            *result = 0;
            return true;
        case WM_SETCURSOR:
            if (showCursor && LOWORD(lParam) == HTCLIENT) {
                ::SetCursor(cursor_ ? cursor_ : LoadCursor(nullptr, IDC_ARROW));
                *result = TRUE;
                return true;
            }
            return false;
        default:
            return false;
    }
}

// ---- CGLEDEdit ----

IMPLEMENT_DYNAMIC(CGLEDEdit, CWnd)

BOOL CGLEDEdit::Create(DWORD style, const RECT& rect, HBITMAP background, int width, int height, CWnd* parent, UINT id,
                       const char*, int, int) {
    return CreateField(style, rect, background, width, height, parent, id, 0);
}

void CGLEDEdit::SetLedBitmap(HBITMAP glyphs) {
    SetGlyphs(glyphs);
    model_.SetCells(rect_.Width(), metrics_.glyphWidth);
    SetWindowText(model_.Display().c_str());
    Invalidate(FALSE);
}

void CGLEDEdit::SetText(const char* text) {
    model_.SetText(text ? text : "");
    SetWindowText(model_.Display().c_str());
    Invalidate(FALSE);
}

void CGLEDEdit::SetHighlight(int first, int last) {
    model_.SetHighlight(first, last);
    Invalidate(FALSE);
    UpdateWindow();
}

void CGLEDEdit::Enable(BOOL enable) {
    EnableWindow(enable);
    Invalidate(FALSE);
}

LRESULT CGLEDEdit::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (HandleCommon(message, wParam, lParam, &result, false)) return result;
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_hWnd, &ps);
            PaintText(dc, model_.Display(), model_.HighlightFirst(), model_.HighlightLast(), false);
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        case WM_LBUTTONDOWN:
            if (IsWindowEnabled()) {
                ::SetFocus(m_hWnd);
                model_.Press();
            }
            return 0;
        case WM_LBUTTONUP:
            model_.Release();
            Invalidate(FALSE);
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_LEFT || wParam == VK_RIGHT) {
                model_.Arrow();
                Invalidate(FALSE);
            }
            return 0;
        case WM_CHAR:
            if (wParam == VK_RETURN) {
                PostToParent(WM_GLEDEDIT_NOTIFY, 13, reinterpret_cast<LPARAM>(this));
                model_.Enter();
                Invalidate(FALSE);
            } else if (wParam >= '0' && wParam <= '9') {
                Invalidate(FALSE);
                PostCommand(EN_CHANGE);
                model_.Digit(static_cast<char>(wParam));
                SetWindowText(model_.Display().c_str());
            }
            return 0;
        case WM_KILLFOCUS:
            DefWindowProc(message, wParam, lParam);
            model_.SetHighlight(-1, -1);
            Invalidate(FALSE);
            PostToParent(WM_GLEDEDIT_NOTIFY, 8, reinterpret_cast<LPARAM>(m_hWnd));
            return 0;
        case WM_DESTROY:
            tooltip_.Destroy();
            break;
        default:
            break;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

// ---- CGTimeFieldBase ----

void CGTimeFieldBase::SetText(const char* text) {
    model_.SetText(text ? text : "");
    SetWindowText(model_.Display().c_str());
    Invalidate(FALSE);
}

void CGTimeFieldBase::SetMaximum(const char* text) {
    model_.SetMaximum(text ? text : "");
}

void CGTimeFieldBase::SetHighlight(int first, int last) {
    model_.SetHighlight(first, last);
    Invalidate(FALSE);
    UpdateWindow();
}

void CGTimeFieldBase::KillTimers() {
    if (inputTimer_) KillTimer(inputTimer_);
    if (arrowTimer_) KillTimer(arrowTimer_);
    inputTimer_ = arrowTimer_ = 0;
}

void CGTimeFieldBase::StartInputTimer(UINT_PTR id) {
    KillTimers();
    inputTimer_ = SetTimer(id, kEditTimeoutMs) ? id : 0;
}

void CGTimeFieldBase::Redraw() {
    SetWindowText(model_.Display().c_str());
    Changed();
    Invalidate(FALSE);
}

void CGTimeFieldBase::StepField(int direction, UINT_PTR timerId) {
    StartInputTimer(timerId);
    model_.Step(direction);
    Redraw();
}

void CGTimeFieldBase::EndEditing() {
    model_.ClearHighlight();
    Invalidate(FALSE);
}

LRESULT CGTimeFieldBase::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (HandleCommon(message, wParam, lParam, &result, Writable())) return result;
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_hWnd, &ps);
            PaintText(dc, model_.Display(), model_.HighlightFirst(), model_.HighlightLast(), true);
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        case WM_LBUTTONDOWN:
            if (IsWindowEnabled() && Writable()) {
                model_.Press();
                ::SetFocus(m_hWnd);
                PostCommand(EN_SETFOCUS);
                StartInputTimer(kInputTimer);
            }
            return 0;
        case WM_LBUTTONUP:
            if (Writable()) {
                model_.Release(GET_X_LPARAM(lParam), DigitsWidth());
                Redraw();
            }
            return 0;
        case WM_CHAR:
            if (wParam == VK_RETURN) {
                KillTimers();
                PostToParent(WM_GTIMEEDIT_ENTER, 13, reinterpret_cast<LPARAM>(this));
                model_.Enter();
                Invalidate(FALSE);
            } else if (wParam >= '0' && wParam <= '9' && Writable()) {
                StartInputTimer(kInputTimer);
                Invalidate(FALSE);
                PostCommand(EN_CHANGE);
                model_.Digit(static_cast<char>(wParam));
                Redraw();
            }
            return 0;
        case WM_KEYDOWN:
            if (!Writable()) return 0;
            if (wParam == VK_UP || wParam == VK_DOWN) {
                if (model_.FieldCount() == 4) {
                    StepField(wParam == VK_UP ? 1 : -1, kInputTimer);
                } else {
                    model_.Step(wParam == VK_UP ? 1 : -1);
                    KillTimers();
                    Redraw();
                }
            } else if (wParam == VK_LEFT || wParam == VK_RIGHT) {
                model_.Arrow(wParam == VK_LEFT ? -1 : 1);
                Redraw();
            }
            return 0;
        case WM_KEYUP:
            if (Writable() && (wParam == VK_UP || wParam == VK_DOWN)) {
                if (arrowTimer_) KillTimer(arrowTimer_);
                arrowTimer_ = SetTimer(kArrowTimer, kEditTimeoutMs) ? kArrowTimer : 0;
            }
            return 0;
        case WM_GSPIN_STEP:
            if (Writable() && (wParam == kSpinUpId || wParam == kSpinDownId))
                StepField(wParam == kSpinUpId ? 1 : -1, kInputTimer);
            return 0;
        case WM_MOUSEWHEEL:
            if (Writable()) StepField(GET_WHEEL_DELTA_WPARAM(wParam) >= 0 ? 1 : -1, kWheelTimer);
            return TRUE;
        case WM_TIMER:
            if (wParam == inputTimer_ && inputTimer_) {
                KillTimer(inputTimer_);
                inputTimer_ = 0;
                if (HWND parent = ::GetParent(m_hWnd)) ::SetFocus(parent);
                EndEditing();
            } else if (wParam == arrowTimer_ && arrowTimer_) {
                KillTimer(arrowTimer_);
                arrowTimer_ = 0;
                EndEditing();
            }
            return 0;
        case WM_KILLFOCUS:
            DefWindowProc(message, wParam, lParam);
            KillTimers();
            EndEditing();
            // A read-only field reports focus loss too, unless it is also disabled.
            if (Writable() || IsWindowEnabled()) SendCommand(EN_KILLFOCUS);
            return 0;
        case WM_DESTROY:
            tooltip_.Destroy();
            KillTimers();
            break;
        default:
            break;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

// ---- CGSimpleTimeEdit ----

IMPLEMENT_DYNAMIC(CGSimpleTimeEdit, CWnd)

BOOL CGSimpleTimeEdit::Create(DWORD style, const RECT& rect, HBITMAP background, int width, int height, CWnd* parent,
                              UINT id, const char*, int, int) {
    if (!CreateField(style, rect, background, width, height, parent, id, 0)) return FALSE;
    SetMaximum("99:59:59");
    SetText("00:00:00");
    return TRUE;
}

// ---- CGTimeSpinButton ----

IMPLEMENT_DYNAMIC(CGTimeSpinButton, CWnd)

BOOL CGTimeSpinButton::Create(CWnd* parent, const char* name, DWORD style, DWORD exStyle, UINT id) {
    if (!CreateEx(exStyle, FieldClass(), name ? name : "", style | WS_CHILD | WS_VISIBLE, CRect(0, 0, 15, 15), parent,
                  id))
        return FALSE;
    SetDlgCtrlID(static_cast<int>(id));
    return TRUE;
}

void CGTimeSpinButton::SetSkin(int left, int top, HBITMAP strip, int width, int height, int initialState) {
    left_ = left, top_ = top, width_ = width, height_ = height;
    strip_ = strip;
    state_ = initialState;
    hitRegion_.DeleteObject();
    hitRegion_.CreateRectRgn(0, 0, width, height);
    SetWindowRgn(m_hWnd, CreateRectRgn(0, 0, width, height), TRUE);
    SetWindowPos(HWND_TOP, left, top, width, height, SWP_SHOWWINDOW);
}

void CGTimeSpinButton::Show(int state) {
    if (state_ == state) return;
    state_ = state;
    Invalidate(FALSE);
}

LRESULT CGTimeSpinButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const CPoint point(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    const bool inside = hitRegion_.m_hObject && hitRegion_.PtInRegion(point.x, point.y);
    switch (message) {
        case WM_ERASEBKGND:
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_hWnd, &ps);
            DrawBitmapPart(dc, strip_, 0, 0, width_, height_, state_ * width_, 0);
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            if (state_ == 3) return 0;
            ::SetCapture(m_hWnd);
            Show(2);
            return 0;
        case WM_LBUTTONUP:
            if (state_ == 3) return 0;
            if (::GetCapture() == m_hWnd) ReleaseCapture();
            if (inside && state_ == 2) {
                Show(0);
                if (HWND parent = ::GetParent(m_hWnd))
                    ::PostMessageA(parent, WM_GSPIN_STEP, static_cast<WPARAM>(GetDlgCtrlID()), 0);
                ::SetFocus(m_hWnd);
            } else {
                Show(0);
            }
            return 0;
        case WM_MOUSEMOVE:
            if (state_ == 3) return 0;
            if (!inside) {
                if (!(wParam & MK_LBUTTON) && ::GetCapture() == m_hWnd) ReleaseCapture();
                Show(0);
            } else if ((wParam & MK_LBUTTON) && ::GetCapture() == m_hWnd) {
                Show(2);
            } else {
                Show(1);
                if (!tracking_) {
                    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hWnd, 0};
                    tracking_ = _TrackMouseEvent(&track) != 0;
                }
            }
            return 0;
        case WM_MOUSELEAVE:
            tracking_ = false;
            if (state_ != 3) Show(0);
            return 0;
        case WM_ENABLE:
            Show(wParam ? 0 : 3);
            return 0;
        case WM_DESTROY:
            hitRegion_.DeleteObject();
            break;
        default:
            break;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

// ---- CGTimeCodeEdit ----

IMPLEMENT_DYNAMIC(CGTimeCodeEdit, CWnd)

CGTimeCodeEdit::CGTimeCodeEdit() : CGTimeCodeEdit(ReadDisplayStandard()) {}

CGTimeCodeEdit::CGTimeCodeEdit(int standard) : CGTimeFieldBase(RateOf(standard)), standard_(standard == 1 ? 1 : 0) {}

BOOL CGTimeCodeEdit::Create(DWORD style, const RECT& rect, int gap, HBITMAP background, int width, int height,
                            CWnd* parent, UINT id, const char* spinName, DWORD spinStyle, DWORD spinExStyle,
                            int incrementLeft, int incrementTop, int decrementLeft, int decrementTop,
                            HBITMAP incrementStrip, HBITMAP decrementStrip, int spinWidth, int spinHeight,
                            int spinInitialState, int) {
    if (!CreateField(style, rect, background, width, height, parent, id, std::max(gap, 0) + std::max(spinWidth, 0)))
        return FALSE;
    if (increment_.Create(this, spinName, spinStyle, spinExStyle, kSpinUpId))
        increment_.SetSkin(incrementLeft, incrementTop, incrementStrip, spinWidth, spinHeight, spinInitialState);
    if (decrement_.Create(this, spinName, spinStyle, spinExStyle, kSpinDownId))
        decrement_.SetSkin(decrementLeft, decrementTop, decrementStrip, spinWidth, spinHeight, spinInitialState);
    SetMaximum(standard_ == 1 ? "99:59:59:29" : "99:59:59:24");
    SetText("00:00:00:00");
    return TRUE;
}

void CGTimeCodeEdit::SetTime(int64_t time) {
    model_.SetTime(time);
    SetWindowText(model_.Display().c_str());
    Invalidate(FALSE);
}

void CGTimeCodeEdit::SetStandardValue(int standard) {
    standard_ = standard == 1 ? 1 : 0;
    model_.SetFrameRate(RateOf(standard_));
}

void CGTimeCodeEdit::SelectField(int index) {
    if (readOnly_ || !IsWindowEnabled()) return;
    ::SetFocus(m_hWnd);
    PostCommand(EN_SETFOCUS);
    StartInputTimer(kInputTimer);
    model_.SelectField(index);
    Invalidate(FALSE);
}
