#include "app/command_bar.h"

#include <cctype>

#include "app/services/text_fonts.h"
#include "app/skin/skin_draw.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"

namespace {

constexpr char kBarView[] = "MENU_BAR";
constexpr char kHotView[] = "MENU_BAR_HOT";
constexpr int kItemPadding = 10;
constexpr UINT kMenuBarId = 0xE800;
constexpr COLORREF kTextColour = RGB(0xE8, 0xEE, 0xF5);
constexpr COLORREF kBarColour = RGB(0x26, 0x34, 0x45);

}  // namespace

BEGIN_MESSAGE_MAP(CCommandBars, CWnd)
ON_WM_PAINT()
ON_WM_ERASEBKGND()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONDOWN()
ON_MESSAGE(WM_MOUSELEAVE, OnMouseLeave)
END_MESSAGE_MAP()

CCommandBars::CCommandBars() = default;
CCommandBars::~CCommandBars() = default;

BOOL CCommandBars::Create(CFrameWnd* site, UINT menuId) {
    if (!site || !menu_.LoadMenu(menuId)) return FALSE;
    site_ = site;
    if (SkinView* view = CSkinLayout::FindView(kBarView); view && view->height > 0) height_ = view->height;
    font_ = GetAppGuiFont();
    RECT client{};
    site->GetClientRect(&client);
    const char* cls = AfxRegisterWndClass(0, ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
    if (!CWnd::Create(cls, "Menu Bar", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                      CRect(0, 0, client.right - client.left, height_), site, kMenuBarId))
        return FALSE;
    Layout();
    return TRUE;
}

void CCommandBars::Layout() {
    items_.clear();
    HDC dc = ::GetDC(m_hWnd);
    HGDIOBJ old = font_ ? SelectObject(dc, font_) : nullptr;
    int x = 4;
    const int count = menu_.GetMenuItemCount();
    for (int i = 0; i < count; ++i) {
        const CString text = menu_.GetMenuString(static_cast<UINT>(i), MF_BYPOSITION);
        RECT measure{0, 0, 0, 0};
        DrawTextA(dc, text.c_str(), -1, &measure, DT_SINGLELINE | DT_CALCRECT);
        const int width = measure.right - measure.left + 2 * kItemPadding;
        items_.push_back({text.c_str(), RECT{x, 0, x + width, height_}, menu_.GetSubMenu(i)});
        x += width;
    }
    if (old) SelectObject(dc, old);
    ::ReleaseDC(m_hWnd, dc);
}

int CCommandBars::ItemAt(CPoint point) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (PtInRect(&items_[i].rect, point)) return static_cast<int>(i);
    return -1;
}

int CCommandBars::FindMnemonic(char ch) const {
    const int wanted = tolower(static_cast<unsigned char>(ch));
    for (size_t i = 0; i < items_.size(); ++i) {
        const std::string& t = items_[i].text;
        const size_t amp = t.find('&');
        if (amp != std::string::npos && amp + 1 < t.size() && tolower(static_cast<unsigned char>(t[amp + 1])) == wanted)
            return static_cast<int>(i);
    }
    return -1;
}

void CCommandBars::SetHot(int index) {
    if (hot_ == index) return;
    hot_ = index;
    Invalidate(FALSE);
    UpdateWindow();
}

void CCommandBars::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    CRect client;
    GetClientRect(&client);
    PaintOffScreen(dc, client.Width(), client.Height(), [&](HDC memory) {
        HBRUSH ground = CreateSolidBrush(kBarColour);
        FillRect(memory, &client, ground);
        DeleteObject(ground);
        PaintSkinViewBackground(memory, kBarView);
        if (hot_ >= 0 && hot_ < static_cast<int>(items_.size())) {
            const RECT& r = items_[static_cast<size_t>(hot_)].rect;
            if (SkinSubView* sub = FindSubView(kHotView, "HOT"); sub && !sub->background.source.empty()) {
                SkinImage& art = sub->background;
                if (HBITMAP hot = LoadSkinNodeBackground(art.source.c_str(), 0, 0, art.width, art.height)) {
                    HDC src = CreateCompatibleDC(memory);
                    HGDIOBJ old = SelectObject(src, hot);
                    StretchBlt(memory, r.left, r.top, r.right - r.left, r.bottom - r.top, src, 0, 0, art.width,
                               art.height, SRCCOPY);
                    SelectObject(src, old);
                    DeleteDC(src);
                    DeleteObject(hot);
                }
            }
        }
        SetBkMode(memory, TRANSPARENT);
        ::SetTextColor(memory, kTextColour);
        HGDIOBJ old = font_ ? SelectObject(memory, font_) : nullptr;
        for (const Item& item : items_) {
            RECT r = item.rect;
            DrawTextA(memory, item.text.c_str(), -1, &r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
        }
        if (old) SelectObject(memory, old);
    });
    EndPaint(m_hWnd, &ps);
}

void CCommandBars::OnMouseMove(UINT, CPoint point) {
    if (!tracking_) {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hWnd, 0};
        tracking_ = TrackMouseEvent(&track) != 0;
    }
    SetHot(ItemAt(point));
}

LRESULT CCommandBars::OnMouseLeave(WPARAM, LPARAM) {
    tracking_ = false;
    SetHot(-1);
    return 0;
}

void CCommandBars::OnLButtonDown(UINT, CPoint point) {
    const int index = ItemAt(point);
    if (index >= 0) OpenPopup(index);
}

void CCommandBars::OpenPopup(int index) {
    if (index < 0 || index >= static_cast<int>(items_.size()) || !items_[static_cast<size_t>(index)].popup) return;
    const Item& item = items_[static_cast<size_t>(index)];
    SetHot(index);
    POINT at{item.rect.left, item.rect.bottom};
    ::ClientToScreen(m_hWnd, &at);
    // The popup's owner is the frame: its update-UI handlers run as the popup opens, and the
    // chosen command reaches it as WM_COMMAND.
    TrackPopupMenu(item.popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, at.x, at.y, 0, site_->m_hWnd, nullptr);
    SetHot(-1);
}

BOOL CCommandBars::RemoveMenuItem(int top, UINT item, BOOL byPosition) {
    HMENU popup = menu_.GetSubMenu(top);
    if (!popup) return FALSE;
    BOOL removed = FALSE;
    if (byPosition) {
        removed = ::RemoveMenu(popup, item, MF_BYPOSITION);
    } else {
        // Nested popups first, from the last to the first, then the popup itself.
        for (int i = GetMenuItemCount(popup) - 1; i >= 0 && !removed; --i)
            if (HMENU nested = GetSubMenu(popup, i)) removed = ::RemoveMenu(nested, item, MF_BYCOMMAND);
        if (!removed) removed = ::RemoveMenu(popup, item, MF_BYCOMMAND);
    }
    if (removed) {
        Layout();
        Invalidate(FALSE);
    }
    return removed;
}

BOOL CCommandBars::PreTranslateFrameMessage(MSG* msg) {
    // Alt+letter: the matching top-level popup opens.
    if (msg->message == WM_SYSCHAR && (HIWORD(msg->lParam) & KF_ALTDOWN)) {
        const int index = FindMnemonic(static_cast<char>(msg->wParam));
        if (index >= 0) {
            OpenPopup(index);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CCommandBars::OnFrameWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_KEYMENU && lParam != 0 && lParam != ' ') {
        const int index = FindMnemonic(static_cast<char>(lParam));
        if (index >= 0) {
            OpenPopup(index);
            if (result) *result = 0;
            return TRUE;
        }
    }
    if (message == WM_SIZE && m_hWnd) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, LOWORD(lParam), height_, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }
    return FALSE;
}
