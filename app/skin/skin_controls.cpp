#include "app/skin/skin_controls.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "app/resources/resource_ids.h"
#include "framework/app.h"

namespace {

// Window class of the skinned buttons: vertical and horizontal redraw, double clicks, own
// and parent DC, byte-aligned client and window.
constexpr UINT kButtonClassStyle = 0x30AB;

const char* ButtonClass() {
    return AfxRegisterWndClass(kButtonClassStyle, LoadCursor(nullptr, IDC_ARROW));
}

int CaptionPointSize() {
    const int size = std::atoi(AfxLoadString(IDS_CAPTION_POINT_SIZE));
    return size > 0 && size < 200 ? size : 9;
}

UINT TextFormatFromStyle(DWORD style) {
    UINT format;
    if ((style & BS_CENTER) == BS_LEFT)
        format = DT_LEFT;
    else if ((style & BS_CENTER) == BS_RIGHT)
        format = DT_RIGHT;
    else
        format = DT_CENTER;
    const DWORD vertical = style & BS_VCENTER;
    if (vertical != BS_TOP) format |= vertical == BS_BOTTOM ? DT_BOTTOM : DT_VCENTER;
    if (!(style & BS_MULTILINE)) format |= DT_SINGLELINE;
    return format;
}

void MakeCaptionFont(CWnd* wnd, CFont& font, int pointSize) {
    font.DeleteObject();
    HDC dc = GetWindowDC(wnd->m_hWnd);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(wnd->m_hWnd, dc);
    font.CreatePointFont(pointSize * 960 / (dpi > 0 ? dpi : 96), "");
}

// The outline of the strip's first cell: for every row, the span from the first to the last
// pixel that is not the key colour (rows with fewer than two such pixels add nothing).
HRGN BuildOutline(HWND wnd, HBITMAP strip, int width, int height) {
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    HDC window = GetDC(wnd);
    HDC memory = CreateCompatibleDC(window);
    HGDIOBJ old = SelectObject(memory, strip);
    for (int y = 0; y < height; ++y) {
        int first = -1, last = -1, count = 0;
        for (int x = 0; x < width; ++x) {
            if (GetPixel(memory, x, y) == kSkinKeyColor) continue;
            if (first < 0) first = x;
            last = x;
            ++count;
        }
        if (count >= 2) {
            HRGN row = CreateRectRgn(first, y, last + 1, y + 1);
            CombineRgn(region, region, row, RGN_OR);
            DeleteObject(row);
        }
    }
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(wnd, window);
    return region;
}

void DrawCell(HDC target, HBITMAP strip, int cell, int width, int height) {
    if (!strip) return;
    HDC memory = CreateCompatibleDC(target);
    HGDIOBJ old = SelectObject(memory, strip);
    BitBlt(target, 0, 0, width, height, memory, cell * width, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

void DrawCaption(CWnd* wnd, HDC dc, CFont& font, UINT format, bool enabled) {
    CString text = wnd->GetWindowText();
    if (text.IsEmpty()) return;
    HGDIOBJ oldFont = SelectObject(dc, font.m_hObject ? font.m_hObject : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, enabled ? RGB(0, 0, 0) : RGB(0xD6, 0xD6, 0xD6));
    RECT r;
    ::GetClientRect(wnd->m_hWnd, &r);
    if (!(format & DT_CENTER)) {
        r.left += 10;
        r.right -= 30;
    }
    DrawTextA(dc, text, -1, &r, format);
    SelectObject(dc, oldFont);
}

bool PointOverWindow(HWND wnd, CPoint point) {
    POINT screen = point;
    ClientToScreen(wnd, &screen);
    return WindowFromPoint(screen) == wnd;
}

}  // namespace

// ---- SkinToolTip ----

TTTOOLINFOA SkinToolTip::Info(const char* text) const {
    TTTOOLINFOA info{};
    info.cbSize = TTTOOLINFOA_V2_SIZE;
    info.hwnd = owner_;
    info.uFlags = byHandle_ ? TTF_IDISHWND | TTF_SUBCLASS : 0;
    info.uId = byHandle_ ? reinterpret_cast<UINT_PTR>(owner_) : 1;
    info.lpszText = const_cast<char*>(text);
    return info;
}

void SkinToolTip::Set(HWND owner, const char* text, BOOL activate, DWORD style, const RECT* rect) {
    if (!text || !owner) return;
    if (!hwnd_ || !IsWindow(hwnd_)) {
        AfxInitCommonControls();
        hwnd_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | style, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, GetModuleHandleA(nullptr), nullptr);
        if (!hwnd_) return;
    }
    owner_ = owner;
    byHandle_ = rect == nullptr;
    if (SendMessageA(hwnd_, TTM_GETTOOLCOUNT, 0, 0) == 0) {
        TTTOOLINFOA info = Info(text);
        if (rect) info.rect = *rect;
        SendMessageA(hwnd_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
    }
    TTTOOLINFOA info = Info(text);
    SendMessageA(hwnd_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&info));
    SendMessageA(hwnd_, TTM_ACTIVATE, activate, 0);
}

void SkinToolTip::Relay(MSG* msg) const {
    if (hwnd_ && IsWindow(hwnd_)) SendMessageA(hwnd_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
}

void SkinToolTip::Destroy() {
    if (hwnd_ && IsWindow(hwnd_)) {
        TTTOOLINFOA info = Info(nullptr);
        SendMessageA(hwnd_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&info));
        DestroyWindow(hwnd_);
    }
    hwnd_ = nullptr;
}

// ---- CGButtonBase ----

IMPLEMENT_DYNAMIC(CGButtonBase, CWnd)

BEGIN_MESSAGE_MAP(CGButtonBase, CWnd)
ON_MESSAGE(WM_ENABLE, OnEnableMessage)
ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

CGButtonBase::CGButtonBase() : captionPointSize_(CaptionPointSize()) {}

void CGButtonBase::SetToolTip(const char* text, BOOL activate) {
    CRect r;
    GetClientRect(&r);
    r.DeflateRect(1, 1);
    tooltip_.Set(m_hWnd, text, activate, TTS_ALWAYSTIP, &r);
}

void CGButtonBase::Enable(BOOL enable) {
    if (!enable && m_hWnd && GetCapture() == m_hWnd) ReleaseCapture();
    state_ = enable ? 0 : 3;
    if (IsWindow()) Invalidate(FALSE);
}

BOOL CGButtonBase::PreTranslateMessage(MSG* msg) {
    tooltip_.Relay(msg);
    return CWnd::PreTranslateMessage(msg);
}

LRESULT CGButtonBase::OnEnableMessage(WPARAM enabled, LPARAM) {
    Enable(enabled ? TRUE : FALSE);
    return 0;
}

void CGButtonBase::SetGeometry(int left, int top, HBITMAP strip, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = cellWidth_ = width;
    height_ = cellHeight_ = height;
    strip_ = strip;
    hitRegion_.DeleteObject();
    hitRegion_.CreateRectRgn(0, 0, width, height);
}

void CGButtonBase::MakeCaption() {
    textFormat_ = TextFormatFromStyle(GetStyle());
    MakeCaptionFont(this, font_, captionPointSize_);
}

void CGButtonBase::PaintFace(HDC dc) {
    DrawCell(dc, strip_, checkValue_ + state_, cellWidth_, cellHeight_);
    DrawCaption(this, dc, font_, textFormat_, IsEnabled());
}

bool CGButtonBase::HitTest(CPoint point) const {
    return hitRegion_.m_hObject && hitRegion_.PtInRegion(point.x, point.y);
}

void CGButtonBase::PostToParent(UINT message, WPARAM wParam) const {
    if (HWND parent = ::GetParent(m_hWnd)) ::PostMessageA(parent, message, wParam, reinterpret_cast<LPARAM>(m_hWnd));
}

void CGButtonBase::PostCommand(WORD code) const {
    PostToParent(WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(), code));
}

void CGButtonBase::TrackLeave() {
    if (tracking_) return;
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hWnd, 0};
    tracking_ = _TrackMouseEvent(&track) != 0;
}

void CGButtonBase::ReleaseResources(bool deleteStrip) {
    tooltip_.Destroy();
    if (strip_ && deleteStrip) DeleteObject(strip_);
    strip_ = nullptr;
    hitRegion_.DeleteObject();
    font_.DeleteObject();
}

// ---- CGButton ----

IMPLEMENT_DYNAMIC(CGButton, CGButtonBase)

BEGIN_MESSAGE_MAP(CGButton, CGButtonBase)
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONUP()
ON_WM_LBUTTONDBLCLK()
ON_WM_RBUTTONDOWN()
ON_WM_MOUSEMOVE()
ON_MESSAGE(WM_MOUSELEAVE, OnMouseLeave)
ON_WM_TIMER()
ON_WM_PAINT()
ON_WM_DESTROY()
END_MESSAGE_MAP()

BOOL CGButton::Create(CWnd* parent, const char* text, DWORD style, DWORD exStyle, UINT id, BOOL repeat) {
    const BOOL created = CreateEx(exStyle, ButtonClass(), text, style | WS_CHILD, CRect(0, 0, 1, 1), parent, id);
    if (created) SetDlgCtrlID(static_cast<int>(id));
    repeat_ = repeat;
    return created;
}

void CGButton::SetSkin(int left, int top, HBITMAP strip, int width, int height, int initialState, int, int, int,
                       int toggle, int show, int ownsBitmap) {
    if (strip_ && strip_ != strip && ownsBitmap_) DeleteObject(strip_);
    SetGeometry(left, top, strip, width, height);
    state_ = initialState;
    toggle_ = toggle;
    ownsBitmap_ = ownsBitmap;
    checkValue_ = 0;
    if (strip_) SetWindowRgn(m_hWnd, BuildOutline(m_hWnd, strip_, width, height), TRUE);
    SetWindowPos(HWND_TOP, left, top, width, height, show == 1 ? SWP_SHOWWINDOW : SWP_HIDEWINDOW);
    MakeCaption();
    Invalidate(FALSE);
}

void CGButton::SetCheck(int value) {
    if (!toggle_) return;
    if (value == 1)
        checkValue_ = 4;
    else if (value == 0)
        checkValue_ = 0;
    else
        return;
    Invalidate(FALSE);
}

void CGButton::SetText(const char* text) {
    SetWindowText(text);
    Invalidate(FALSE);
    UpdateWindow();
}

void CGButton::OnLButtonDown(UINT, CPoint) {
    if (state_ == 3) return;
    SetCapture(m_hWnd);
    state_ = 2;
    repeatMultiplier_ = 1;
    Invalidate(FALSE);
    if (repeat_) repeatTimer_ = SetTimer(1, 500);
}

void CGButton::OnTimer(UINT_PTR) {
    if (state_ == 3) {
        if (GetCapture() == m_hWnd) ReleaseCapture();
        return;
    }
    if (!repeatTimer_) return;
    KillTimer(repeatTimer_);
    repeatTimer_ = 0;
    if (state_ == 2) {
        repeatMultiplier_ = std::min(repeatMultiplier_ * 5 + 1, 2000);
        PostCommand(BN_CLICKED);
        SetFocus();
        repeatTimer_ = SetTimer(1, 100);
    }
}

void CGButton::OnLButtonUp(UINT, CPoint point) {
    if (state_ == 3) return;
    if (repeatTimer_) {
        KillTimer(repeatTimer_);
        repeatTimer_ = 0;
    }
    // The release's own command is one step, however long the button was held.
    repeatMultiplier_ = 1;
    if (GetCapture() == m_hWnd) ReleaseCapture();
    if (state_ == 2 && HitTest(point)) {
        if (toggle_) checkValue_ = checkValue_ ? 0 : 4;
        state_ = 0;
        Invalidate(FALSE);
        PostCommand(BN_CLICKED);
        PostToParent(WM_GBUTTON_CLICKED, static_cast<WPARAM>(GetDlgCtrlID()));
        SetFocus();
        return;
    }
    state_ = 0;
    Invalidate(FALSE);
}

void CGButton::LoseCapture() {
    if (captureToParent_) {
        if (HWND parent = ::GetParent(m_hWnd)) SetCapture(parent);
    } else if (GetCapture() == m_hWnd) {
        ReleaseCapture();
    }
}

void CGButton::OnMouseMove(UINT flags, CPoint point) {
    if (state_ == 3) return;
    if (!PointOverWindow(m_hWnd, point)) {
        if (!(flags & MK_LBUTTON)) LoseCapture();
        state_ = 0;
        Invalidate(FALSE);
        return;
    }
    if (flags & MK_LBUTTON) {
        if (GetCapture() == m_hWnd && state_ != 2) {
            state_ = 2;
            Invalidate(FALSE);
        }
        return;
    }
    state_ = 1;
    TrackLeave();
    Invalidate(FALSE);
}

LRESULT CGButton::OnMouseLeave(WPARAM, LPARAM) {
    tracking_ = false;
    if (GetCapture() == m_hWnd && !captureToParent_) ReleaseCapture();
    if (state_ != 3) state_ = 0;
    if (captureToParent_)
        if (HWND parent = ::GetParent(m_hWnd)) SetCapture(parent);
    Invalidate(FALSE);
    UpdateWindow();
    return 0;
}

void CGButton::OnLButtonDblClk(UINT, CPoint) {
    if (state_ == 3) return;
    SetCapture(m_hWnd);
    state_ = 2;
    Invalidate(FALSE);
    PostCommand(BN_DOUBLECLICKED);
    SetFocus();
}

void CGButton::OnRButtonDown(UINT, CPoint point) {
    if (state_ == 3) return;
    if (HWND parent = ::GetParent(m_hWnd)) {
        NMMOUSE notify{};
        notify.hdr.hwndFrom = m_hWnd;
        notify.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID());
        notify.hdr.code = NM_RCLICK;
        notify.pt = point;
        ::ClientToScreen(m_hWnd, &notify.pt);
        ::SendMessageA(parent, WM_NOTIFY, static_cast<WPARAM>(GetDlgCtrlID()), reinterpret_cast<LPARAM>(&notify));
    }
    if (GetCapture() == m_hWnd) ReleaseCapture();
    state_ = 0;
    Invalidate(FALSE);
    Default();
}

void CGButton::OnPaint() {
    // The window DC draws; the paint DC only validates.
    CPaintDC validate(this);
    CWindowDC dc(this);
    PaintFace(dc);
}

void CGButton::OnDestroy() {
    if (repeatTimer_) KillTimer(repeatTimer_);
    repeatTimer_ = 0;
    ReleaseResources(ownsBitmap_ != 0);
    Default();
}

// ---- CGRadioButton ----

IMPLEMENT_DYNAMIC(CGRadioButton, CGButtonBase)

BEGIN_MESSAGE_MAP(CGRadioButton, CGButtonBase)
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONUP()
ON_WM_LBUTTONDBLCLK()
ON_WM_MOUSEMOVE()
ON_MESSAGE(WM_MOUSELEAVE, OnMouseLeave)
ON_WM_PAINT()
ON_WM_DESTROY()
END_MESSAGE_MAP()

BOOL CGRadioButton::Create(CWnd* parent, const char* text, DWORD style, DWORD exStyle, UINT id, int left, int top,
                           HBITMAP strip, int width, int height) {
    const BOOL created =
        CreateEx(exStyle, ButtonClass(), text, style | WS_CHILD, CRect(0, 0, width, height), parent, id);
    if (!created) {
        if (strip) DeleteObject(strip);
        return FALSE;
    }
    SetGeometry(left, top, strip, width, height);
    SetDlgCtrlID(static_cast<int>(id));
    SetWindowPos(HWND_TOP, left, top, width, height, SWP_SHOWWINDOW);
    MakeCaption();
    Invalidate(FALSE);
    return TRUE;
}

void CGRadioButton::SetCheck(int value) {
    checkValue_ = value == 1 ? 4 : 0;
    if (value != 0)
        for (int i = groupCount_ - 1; i >= 0; --i)
            group_[i]->SetCheck(0);
    if (IsWindow()) {
        Invalidate(FALSE);
        UpdateWindow();
    }
}

bool CGRadioButton::AddToGroup(CGRadioButton* other) {
    if (!other || other == this || groupCount_ >= kMaxGroup) return false;
    for (int i = 0; i < groupCount_; ++i)
        if (group_[i] == other) return false;
    group_[groupCount_++] = other;
    return true;
}

void CGRadioButton::OnLButtonDown(UINT, CPoint) {
    if (state_ == 3) return;
    SetCapture(m_hWnd);
    state_ = 2;
    Invalidate(FALSE);
}

void CGRadioButton::OnLButtonUp(UINT, CPoint point) {
    if (state_ == 3) return;
    if (GetCapture() == m_hWnd) ReleaseCapture();
    if (state_ == 2 && HitTest(point)) {
        state_ = 0;
        SetCheck(1);
        Invalidate(FALSE);
        UpdateWindow();
        PostCommand(BN_CLICKED);
        SetFocus();
        return;
    }
    state_ = 0;
    Invalidate(FALSE);
}

void CGRadioButton::OnLButtonDblClk(UINT, CPoint) {
    if (state_ == 3) return;
    PostCommand(BN_DOUBLECLICKED);
}

void CGRadioButton::OnMouseMove(UINT flags, CPoint point) {
    if (state_ == 3) return;
    if (!PointOverWindow(m_hWnd, point)) {
        if (!(flags & MK_LBUTTON) && GetCapture() == m_hWnd) ReleaseCapture();
        Invalidate(FALSE);
        return;
    }
    if (flags & MK_LBUTTON) return;
    state_ = HitTest(point) ? 1 : 0;
    TrackLeave();
    Invalidate(FALSE);
}

LRESULT CGRadioButton::OnMouseLeave(WPARAM, LPARAM) {
    tracking_ = false;
    if (GetCapture() == m_hWnd) ReleaseCapture();
    if (state_ != 3) state_ = 0;
    Invalidate(FALSE);
    UpdateWindow();
    return 0;
}

void CGRadioButton::OnPaint() {
    CPaintDC dc(this);
    PaintFace(dc);
}

void CGRadioButton::OnDestroy() {
    ReleaseResources(true);
    Default();
}

// ---- CGStatic ----

IMPLEMENT_DYNAMIC(CGStatic, CStatic)

BEGIN_MESSAGE_MAP(CGStatic, CStatic)
ON_MESSAGE(kDeferredTextMessage, OnDeferredText)
ON_WM_LBUTTONDOWN()
ON_WM_CTLCOLOR_REFLECT()
ON_WM_ERASEBKGND()
ON_WM_DESTROY()
END_MESSAGE_MAP()

CGStatic::~CGStatic() {
    font_.DeleteObject();
}

BOOL CGStatic::Create(const char* text, DWORD style, const RECT& rect, HBITMAP background, int width, int height,
                      CWnd* parent, UINT id) {
    width_ = width;
    height_ = height;
    id_ = id;
    rect_ = rect;
    if (background) background_ = background;
    // SS_NOTIFY lets the control see clicks (a static is transparent to the mouse without it).
    return CStatic::Create(text, style | SS_NOTIFY, rect, parent, id);
}

void CGStatic::SetText(const char* text) {
    const char* value = text ? text : "";
    DWORD_PTR ignored = 0;
    const bool otherThread = GetWindowThreadProcessId(m_hWnd, nullptr) != GetCurrentThreadId();
    const LRESULT sent =
        SendMessageTimeoutA(m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value), SMTO_ABORTIFHUNG, 500, &ignored);
    if (otherThread && !sent) {
        // The interface thread was busy: the text follows as a posted copy, so that it is
        // not lost.
        char* copy = _strdup(value);
        if (copy && !::PostMessageA(m_hWnd, kDeferredTextMessage, 0, reinterpret_cast<LPARAM>(copy))) free(copy);
        return;
    }
    // The old text disappears from the parent's background; only the interface thread
    // waits for the repaints.
    HWND parent = ::GetParent(m_hWnd);
    if (parent && !background_) {
        CRect r;
        GetWindowRect(&r);
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
        ::InvalidateRect(parent, &r, TRUE);
        if (!otherThread) ::UpdateWindow(parent);
    }
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    if (!otherThread) UpdateWindow();
}

LRESULT CGStatic::OnDeferredText(WPARAM, LPARAM text) {
    char* copy = reinterpret_cast<char*>(text);
    SetText(copy);
    free(copy);
    return 0;
}

void CGStatic::SetToolTip(const char* text, BOOL activate) {
    tooltip_.Set(m_hWnd, text, activate, 0, nullptr);
}

void CGStatic::SetFont(HFONT font, BOOL redraw) {
    LOGFONTA logFont{};
    if (!font || GetObjectA(font, sizeof logFont, &logFont) != sizeof logFont) return;
    HFONT copy = CreateFontIndirectA(&logFont);
    if (!copy) return;
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(copy), redraw);
    font_.DeleteObject();
    font_.Attach(copy);
}

BOOL CGStatic::PreTranslateMessage(MSG* msg) {
    tooltip_.Relay(msg);
    return CStatic::PreTranslateMessage(msg);
}

void CGStatic::OnLButtonDown(UINT, CPoint) {
    if (HWND parent = ::GetParent(m_hWnd))
        ::PostMessageA(parent, WM_COMMAND, MAKEWPARAM(id_, STN_CLICKED), reinterpret_cast<LPARAM>(m_hWnd));
    SetFocus();
}

HBRUSH CGStatic::CtlColor(CDC* dc, UINT) {
    dc->SetBkMode(TRANSPARENT);
    dc->SetTextColor(textColor_);
    return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

BOOL CGStatic::OnEraseBkgnd(CDC* dc) {
    if (!background_) return static_cast<BOOL>(Default());
    HDC memory = CreateCompatibleDC(dc->m_hDC);
    HGDIOBJ old = SelectObject(memory, background_);
    BitBlt(dc->m_hDC, 0, 0, width_, height_, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    return TRUE;
}

void CGStatic::OnDestroy() {
    tooltip_.Destroy();
    Default();
}

// ---- CMemDC ----

CMemDC::CMemDC(CDC* target, const RECT* rect) : target_(target) {
    if (rect)
        rect_ = *rect;
    else
        ::GetClipBox(target->m_hDC, &rect_);
    CreateCompatibleDC(target->m_hDC);
    CRect device = rect_;
    ::LPtoDP(target->m_hDC, reinterpret_cast<POINT*>(&device), 2);
    bitmap_.CreateCompatibleBitmap(target->m_hDC, device.Width(), device.Height());
    oldBitmap_ = SelectObject(bitmap_.m_hObject);
    SetBkMode(TRANSPARENT);
    SetMapMode(m_hDC, GetMapMode(target->m_hDC));
    SIZE extent{};
    GetWindowExtEx(target->m_hDC, &extent);
    SetWindowExtEx(m_hDC, extent.cx, extent.cy, nullptr);
    GetViewportExtEx(target->m_hDC, &extent);
    SetViewportExtEx(m_hDC, extent.cx, extent.cy, nullptr);
    ::DPtoLP(target->m_hDC, reinterpret_cast<POINT*>(&device), 2);
    rect_ = device;
    SetWindowOrgEx(m_hDC, rect_.left, rect_.top, nullptr);
}

CMemDC::~CMemDC() {
    ::BitBlt(target_->m_hDC, rect_.left, rect_.top, rect_.Width(), rect_.Height(), m_hDC, rect_.left, rect_.top,
             SRCCOPY);
    SelectObject(oldBitmap_);
    bitmap_.DeleteObject();
    DeleteDC();
}
