#include "app/gxt_frame.h"

#include "app/command_bar.h"
#include "app/resources/program_ids.h"
#include "app/resources/resource_ids.h"
#include "app/skin/bitmap_region.h"
#include "app/skin/frame_paint.h"
#include "app/skin/skin_images.h"
#include "framework/app.h"

namespace {

// Button strips in the order of buttons_, and the cells of a strip.
enum { kMinimize, kMaximize, kRestore, kClose };
enum { kNormal, kHover, kPressed, kDisabled };
constexpr const char* kButtonArt[4] = {"GXT_BT_MINUS.bmp", "GXT_BT_MAX.bmp", "GXT_BT_RESTORE.bmp", "GXT_BT_CLOSE.bmp"};
// Where the caption icon sits, and the lParam of system commands chosen from its menu.
constexpr int kIconX = 17, kIconY = 4, kIconSize = 16;
constexpr LPARAM kSysMenuPoint = 0x00040011;

CSize SizeOf(const CBitmap& b) {
    return b.m_hObject ? b.GetSize() : CSize();
}

}  // namespace

int GetFrameMetrics(int index) {
    switch (index) {
        case SM_CYCAPTION:
            return kCaptionHeight;
        case SM_CXFRAME:
            return 6;
        case SM_CYFRAME:
            return 5;
        default:
            return GetSystemMetrics(index);
    }
}

IMPLEMENT_DYNCREATE(CGXTFrameWnd, CFrameWnd)

BEGIN_MESSAGE_MAP(CGXTFrameWnd, CFrameWnd)
ON_WM_CREATE()
ON_WM_SIZE()
ON_MESSAGE(WM_NCPAINT, OnNcPaint)
ON_MESSAGE(WM_NCLBUTTONDOWN, OnNcLButtonDown)
ON_MESSAGE(WM_NCLBUTTONDBLCLK, OnNcLButtonDblClk)
ON_MESSAGE(WM_NCRBUTTONUP, OnNcRButtonUp)
ON_MESSAGE(WM_GETMINMAXINFO, OnGetMinMaxInfo)
ON_MESSAGE(WM_INITMENUPOPUP, OnSysInitMenuPopup)
END_MESSAGE_MAP()

CGXTFrameWnd::CGXTFrameWnd() = default;

CGXTFrameWnd::~CGXTFrameWnd() {
    if (appIcon_) DestroyIcon(appIcon_);
    if (upLeftRgn_) DeleteObject(upLeftRgn_);
    if (upRightRgn_) DeleteObject(upRightRgn_);
    if (tooltip_ && ::IsWindow(tooltip_)) ::DestroyWindow(tooltip_);
    if (iconList_) ImageList_Destroy(iconList_);
}

int CGXTFrameWnd::OnCreate(LPCREATESTRUCTA cs) {
    if (CFrameWnd::OnCreate(cs) == -1) return -1;
    ::SetMenu(m_hWnd, nullptr);
    ModifyStyle(WS_CAPTION, 0);
    RECT r{0, 0, 0, 0};
    AdjustWindowRectEx(&r, GetStyle(), FALSE, GetExStyle());
    border_ = RECT{-r.left, -r.top, r.right, r.bottom};

    iconList_ = ImageList_Create(kIconSize, kIconSize, ILC_COLOR8 | ILC_MASK, 4, 4);
    if (!iconList_) return -1;
    if (HICON icon = static_cast<HICON>(
            LoadImageA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, kIconSize, kIconSize, 0))) {
        ImageList_AddIcon(iconList_, icon);
        DestroyIcon(icon);
    }

    caption_.Attach(LoadSkinBitmap("GXT_CAPTION.bmp"));
    upLeft_.Attach(LoadSkinBitmap("GXT_UPLEFT.bmp"));
    upRight_.Attach(LoadSkinBitmap("GXT_UPRIGHT.bmp"));
    const CSize cap = SizeOf(caption_), ul = SizeOf(upLeft_), ur = SizeOf(upRight_);
    captionW_ = cap.cx, captionH_ = cap.cy, upLeftW_ = ul.cx, upLeftH_ = ul.cy, upRightW_ = ur.cx, upRightH_ = ur.cy;
    upLeftRgn_ = BitmapToRegion(upLeft_, kFrameKey);
    upRightRgn_ = BitmapToRegion(upRight_, kFrameKey);

    left_.Attach(LoadSkinBitmap("GXT_LEFT_BG.bmp"));
    downLeft_.Attach(LoadSkinBitmap("GXT_DOWN_LEFT.bmp"));
    down_.Attach(LoadSkinBitmap("GXT_DOWN_BG.bmp"));
    downRight_.Attach(LoadSkinBitmap("GXT_DOWN_RIGHT.bmp"));
    right_.Attach(LoadSkinBitmap("GXT_RIGHT_BG.bmp"));

    for (int b = 0; b < 4; ++b) {
        CBitmap strip;
        strip.Attach(LoadSkinBitmap(kButtonArt[b]));
        buttons_.LoadStrip(b, strip, kFrameKey, 4);
    }
    appIcon_ = ImageList_GetIcon(iconList_, 0, ILD_NORMAL);

    CRect wr;
    GetWindowRect(&wr);
    if (HWND parent = ::GetParent(m_hWnd); parent && (GetStyle() & WS_CHILD))
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&wr), 2);
    created_ = true;  // so that the MoveWindow below builds the region
    MoveWindow(wr.left, wr.top, wr.Width(), wr.Height(), TRUE);

    CreateSkinCaptionFont(&font_);

    tooltip_ =
        CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, AfxGetInstanceHandle(), nullptr);
    if (tooltip_) {
        TTTOOLINFOA tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = m_hWnd;
        tool.uId = 0;
        GetClientRect(&tool.rect);
        tool.lpszText = const_cast<char*>("");
        ::SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
    return 0;
}

void CGXTFrameWnd::SetCaptionFeatures(UINT features) {
    features_ = features;
    if (m_hWnd) RedrawButtons();
}

void CGXTFrameWnd::SetCaptionText(const char* text) {
    SetWindowText(text);
    SendMessage(WM_NCPAINT, 1, 0);
}

void CGXTFrameWnd::DrawCaptionButtons(CDC* dc, const RECT* windowRect) {
    if (!m_hWnd) return;
    CRect wr;
    if (windowRect) {
        wr = *windowRect;
    } else {
        GetWindowRect(&wr);
        wr.OffsetRect(-wr.left, -wr.top);
    }
    CWindowDC* own = nullptr;
    if (!dc) dc = own = new CWindowDC(this);
    const int w = wr.Width();
    const SIZE b = buttons_.ButtonSize();
    auto draw = [&](int button, int place, UINT feature, int hit, int hover) {
        const int state = !(features_ & feature)      ? kDisabled
                          : buttons_.Pressed() == hit ? kPressed
                          : buttons_.Hot() == hover   ? kHover
                                                      : kNormal;
        if (HICON icon = buttons_.Icon(button, state))
            DrawCaptionButton(*dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, buttons_.PlaceLeft(w, place),
                              CCaptionButtons::kTop, b.cx, b.cy, DST_ICON);
    };
    draw(kClose, 1, kCaptionClose, kHitClose, kHoverClose);
    draw(kMinimize, 2, kCaptionMinimize, kHitMinimize, kHoverMinimize);
    delete own;
}

int CGXTFrameWnd::CaptionHitTest(int x, int y) const {
    CRect r;
    GetWindowRect(&r);
    if (y < r.top + 16 && x > r.left + 17 && x < r.left + 33) return kHitIcon;
    const int place = buttons_.PlaceAt(r, x, y, 0);
    return place == 1 ? kHitClose : place == 2 ? kHitMinimize : 0;
}

int CGXTFrameWnd::CaptionHoverTest(int x, int y) const {
    CRect r;
    GetWindowRect(&r);
    const int place = buttons_.PlaceAt(r, x, y, 0);
    return place == 1 ? kHoverClose : place == 2 ? kHoverMinimize : kHoverNone;
}

int CGXTFrameWnd::CaptionButtonAt(int x, int y, bool hover) const {
    if (hover) {
        const int code = CaptionHoverTest(x, y);
        return code == kHoverNone ? 0 : code;
    }
    // The caption icon opens the system menu when that feature is on; off, a press on it is
    // held like a button's and does nothing.
    const int hit = CaptionHitTest(x, y);
    return hit == kHitIcon && (features_ & kCaptionIcon) ? 0 : hit;
}

void CGXTFrameWnd::CaptionButtonClicked(int pressed) {
    if (!(features_ & static_cast<UINT>(pressed))) return;
    if (pressed == kHitMinimize) SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
    if (pressed == kHitClose) SendMessage(WM_SYSCOMMAND, SC_CLOSE);
}

void CGXTFrameWnd::CaptionHoverChanged(int hover) {
    SetTipText(hover ? AfxLoadString(hover == kHoverMinimize ? IDS_TOOLTIP_MINIMIZE : IDS_TOOLTIP_CLOSE) : CString());
}

void CGXTFrameWnd::UpdateSystemMenu(CMenu* menu) {
    if (!menu || !menu->m_hMenu) return;
    const struct {
        UINT command, feature;
    } items[] = {{SC_RESTORE, kCaptionRestore},   {SC_MOVE, kCaptionMove},         {SC_SIZE, kCaptionSize},
                 {SC_MINIMIZE, kCaptionMinimize}, {SC_MAXIMIZE, kCaptionMaximize}, {SC_CLOSE, kCaptionClose}};
    for (const auto& item : items)
        menu->EnableMenuItem(item.command, MF_BYCOMMAND | ((features_ & item.feature) ? MF_ENABLED : MF_GRAYED));
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    ::GetWindowPlacement(m_hWnd, &wp);
    if (wp.showCmd == SW_SHOWMAXIMIZED) {
        for (UINT c : {SC_MOVE, SC_SIZE, SC_MAXIMIZE})
            menu->EnableMenuItem(c, MF_BYCOMMAND | MF_GRAYED);
    } else if (wp.showCmd == SW_SHOWMINIMIZED) {
        for (UINT c : {SC_MOVE, SC_SIZE, SC_MINIMIZE})
            menu->EnableMenuItem(c, MF_BYCOMMAND | MF_GRAYED);
        menu->EnableMenuItem(SC_RESTORE, MF_BYCOMMAND | MF_ENABLED);
    } else {
        menu->EnableMenuItem(SC_RESTORE, MF_BYCOMMAND | MF_GRAYED);
    }
}

BOOL CGXTFrameWnd::PreTranslateMessage(MSG* msg) {
    if (tooltip_ && ::IsWindow(tooltip_)) ::SendMessageA(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
    if (commandBars_ && commandBars_->m_hWnd && commandBars_->PreTranslateFrameMessage(msg)) return TRUE;
    return CFrameWnd::PreTranslateMessage(msg);
}

BOOL CGXTFrameWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (commandBars_ && commandBars_->m_hWnd && commandBars_->OnFrameWndMsg(message, wParam, lParam, result))
        return TRUE;
    if (buttons_.OnMessage(m_hWnd, message, wParam, lParam, result)) return TRUE;
    if (SkinnedNonClientMessage(this, message, wParam, lParam, result)) return TRUE;
    if (message == WM_COMMANDBAR_NOTIFY) {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (!header) return FALSE;
        LRESULT handled = 0;
        MsgCall call{WM_NOTIFY, header->idFrom, lParam, static_cast<UINT>(header->idFrom), nullptr, &handled};
        if (!OnCmdMsg(static_cast<UINT>(header->idFrom), static_cast<int>(MAKELONG(header->code, WM_NOTIFY)), &call,
                      nullptr))
            return FALSE;
        if (result) *result = handled;
        return TRUE;
    }
    return CFrameWnd::OnWndMsg(message, wParam, lParam, result);
}

LRESULT CGXTFrameWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // System-menu choices made through TrackPopupMenu arrive as commands; the system wants
    // them as system commands.
    if (message == WM_COMMAND && wParam < 0x10000 && LOWORD(wParam) >= SC_SIZE) {
        PostMessage(WM_SYSCOMMAND, LOWORD(wParam), kSysMenuPoint);
        return 0;
    }
    return CFrameWnd::WindowProc(message, wParam, lParam);
}

LRESULT CGXTFrameWnd::OnNcPaint(WPARAM, LPARAM) {
    PaintNonClientArea(m_hWnd, [&](HDC dc, int W, int H) {
        CDC mem;
        mem.Attach(dc);
        const FramePieces pieces{caption_, upLeft_, upRight_, left_, downLeft_, down_, downRight_, right_};
        PaintFramePieces(mem, pieces, W, H);
        const CRect wr(0, 0, W, H);
        DrawCaptionButtons(&mem, &wr);
        if (appIcon_)
            DrawStateA(mem, nullptr, nullptr, reinterpret_cast<LPARAM>(appIcon_), 0, kIconX, kIconY, kIconSize,
                       kIconSize, DST_ICON);
        mem.SetBkMode(TRANSPARENT);
        mem.SetTextColor(RGB(255, 255, 255));
        HGDIOBJ oldFont = font_.m_hObject ? mem.SelectObject(&font_) : nullptr;
        const CString text = GetWindowText();
        CRect tr(kIconSize + 22, 0, W - 70, kCaptionHeight);
        mem.DrawText(text, -1, &tr, DT_VCENTER | DT_SINGLELINE | DT_NOCLIP | DT_END_ELLIPSIS);
        if (oldFont) mem.SelectObject(oldFont);
    });
    return 0;
}

void CGXTFrameWnd::SetTipText(const char* text) {
    if (!tooltip_) return;
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = m_hWnd;
    tool.uId = 0;
    tool.lpszText = const_cast<char*>(text);
    ::SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

void CGXTFrameWnd::ShowSystemMenu(int x, int y) {
    CMenu menu;
    menu.Attach(::GetSystemMenu(m_hWnd, FALSE));
    UpdateSystemMenu(&menu);
    if (menu.m_hMenu) menu.TrackPopupMenu(0, x, y, this);
    menu.Detach();
    PostMessage(WM_NULL);
}

LRESULT CGXTFrameWnd::OnNcLButtonDown(WPARAM wParam, LPARAM lParam) {
    if (wParam != HTCAPTION) return Default();
    const CPoint p(lParam);
    if (CaptionHitTest(p.x, p.y) == kHitIcon && (features_ & kCaptionIcon)) {
        CPoint origin(0, 0);
        ClientToScreen(&origin);
        ShowSystemMenu(origin.x, origin.y);
        return 0;
    }
    return buttons_.Press(m_hWnd, p.x, p.y) ? 0 : Default();
}

LRESULT CGXTFrameWnd::OnNcLButtonDblClk(WPARAM wParam, LPARAM lParam) {
    if (wParam == HTCAPTION) {
        const CPoint p(lParam);
        const int hit = CaptionHitTest(p.x, p.y);
        if (hit == kHitIcon) return 1;
        if (hit == 0) {
            CenterWindow();
            return Default();
        }
        // A double click on a button is two presses; the second press acts as one.
        return OnNcLButtonDown(wParam, lParam);
    }
    return Default();
}

LRESULT CGXTFrameWnd::OnNcRButtonUp(WPARAM, LPARAM lParam) {
    const CPoint p(lParam);
    CRect wr;
    GetWindowRect(&wr);
    if (p.y > wr.top && p.y < wr.top + kCaptionHeight && p.x < wr.right - 3 * buttons_.ButtonSize().cx - 8)
        ShowSystemMenu(p.x, p.y);
    return 0;
}

void CGXTFrameWnd::OnSize(UINT type, int cx, int cy) {
    if (created_ && type != SIZE_MINIMIZED) {
        CRect wr;
        GetWindowRect(&wr);
        const int W = wr.Width(), H = wr.Height();
        HRGN region = BuildFrameRegion(W, H, upLeftW_, upRightW_, upLeftRgn_, upRightRgn_);
        SetWindowRgn(m_hWnd, region, TRUE);  // the window owns the region now
        if (type == SIZE_RESTORED || type == SIZE_MAXIMIZED) RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME);
    }
    (void)cx;
    (void)cy;
    Default();
}

LRESULT CGXTFrameWnd::OnGetMinMaxInfo(WPARAM, LPARAM lParam) {
    ApplySkinnedMaxSize(reinterpret_cast<MINMAXINFO*>(lParam), (GetStyle() & WS_THICKFRAME) != 0);
    return Default();
}

LRESULT CGXTFrameWnd::OnSysInitMenuPopup(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = CFrameWnd::OnInitMenuPopup(wParam, lParam);
    if (HIWORD(lParam)) {
        CMenu menu;
        menu.Attach(reinterpret_cast<HMENU>(wParam));
        UpdateSystemMenu(&menu);
        menu.Detach();
    }
    return result;
}
