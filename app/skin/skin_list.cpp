#include "app/skin/skin_list.h"

#include <windowsx.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>

#include "app/resources/program_ids.h"
#include "app/services/text_fonts.h"
#include "app/skin/skin_draw.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"

namespace {

// A background or list picture is never made larger than this on a side.
constexpr int kMaxBitmapSide = 8192;

HCURSOR ItemCursor() {
    return LoadCursorA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDC_CURSOR_THUMB));
}

RECT ItemRect(HWND list, int item, int code) {
    RECT r{};
    r.left = code;
    SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&r));
    return r;
}

void TileBitmap(HDC dc, HBITMAP bitmap, int bitmapWidth, int bitmapHeight, int width, int height) {
    if (!bitmap || bitmapWidth <= 0 || bitmapHeight <= 0) return;
    for (int y = 0; y < height; y += bitmapHeight)
        for (int x = 0; x < width; x += bitmapWidth)
            DrawBitmapPart(dc, bitmap, x, y, bitmapWidth, bitmapHeight, 0, 0);
}

void Blend(HDC dc, int width, int height, COLORREF colour, BYTE alpha) {
    HDC fill = CreateCompatibleDC(dc);
    HBITMAP one = CreateCompatibleBitmap(dc, 1, 1);
    HGDIOBJ old = SelectObject(fill, one);
    SetPixel(fill, 0, 0, colour);
    BLENDFUNCTION blend{AC_SRC_OVER, 0, alpha, 0};
    GdiAlphaBlend(dc, 0, 0, width, height, fill, 0, 0, 1, 1, blend);
    SelectObject(fill, old);
    DeleteObject(one);
    DeleteDC(fill);
}

void Line(HDC dc, int x0, int y0, int x1, int y1) {
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

}  // namespace

// ---- CGHeaderCtrl ----

IMPLEMENT_DYNAMIC(CGHeaderCtrl, CHeaderCtrl)

CGHeaderCtrl::CGHeaderCtrl() {
    AfxInitCommonControls();
    arrows_ = ImageList_Create(9, 5, ILC_COLOR24 | ILC_MASK, 2, 0);
    HINSTANCE program = GetModuleHandleA(nullptr);
    for (UINT id : {IDB_SORT_UP, IDB_SORT_DOWN}) {
        auto* bitmap = static_cast<HBITMAP>(LoadImageA(program, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, 0));
        if (!bitmap) continue;
        if (arrows_) ImageList_AddMasked(arrows_, bitmap, RGB(255, 255, 255));
        DeleteObject(bitmap);
    }
}

CGHeaderCtrl::~CGHeaderCtrl() {
    if (m_hWnd) UnsubclassWindow();
    if (arrows_) ImageList_Destroy(arrows_);
}

void CGHeaderCtrl::SetSortIndicator(int column, BOOL ascending) {
    sortColumn_ = column;
    ascending_ = ascending;
    if (m_hWnd) Invalidate(TRUE);
}

BOOL CGHeaderCtrl::SubclassHeader(HWND header) {
    if (!header || !(CWnd::SubclassWindow)(header)) return FALSE;
    const int count = GetItemCount();
    for (int i = 0; i < count; ++i) {
        HDITEMA item{};
        item.mask = HDI_FORMAT;
        SendMessage(HDM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        item.fmt |= HDF_OWNERDRAW;
        SendMessage(HDM_SETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    }
    return TRUE;
}

BOOL CGHeaderCtrl::GetComCtlVersion(DWORD* version) {
    using GetVersionFn = HRESULT(CALLBACK*)(DLLVERSIONINFO*);  // DllGetVersion
    static GetVersionFn get = [] {
        HMODULE module = GetModuleHandleA("COMCTL32");
        if (!module) module = LoadLibraryA("COMCTL32");
        return module ? reinterpret_cast<GetVersionFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetVersion")))
                      : nullptr;
    }();
    DLLVERSIONINFO info{};
    info.cbSize = sizeof info;
    if (!version || !get || FAILED(get(&info))) return FALSE;
    *version = info.dwMajorVersion * 65536 + info.dwMinorVersion;
    return TRUE;
}

namespace {
constexpr COLORREF kHeaderFace = RGB(240, 239, 231);
}  // namespace

void CGHeaderCtrl::DrawItem(const DRAWITEMSTRUCT* item) {
    HDC dc = item->hDC;
    const int saved = SaveDC(dc);
    RECT r = item->rcItem;
    if (item->itemState & ODS_SELECTED) OffsetRect(&r, 1, 1);
    HBRUSH face = CreateSolidBrush(kHeaderFace);
    FillRect(dc, &r, face);
    DeleteObject(face);
    char text[256] = {};
    HDITEMA info{};
    info.mask = HDI_TEXT;
    info.pszText = text;
    info.cchTextMax = sizeof text;
    SendMessage(HDM_GETITEMA, item->itemID, reinterpret_cast<LPARAM>(&info));
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    const int height = r.bottom - r.top;
    if (static_cast<int>(item->itemID) == sortColumn_ && arrows_)
        ImageList_Draw(arrows_, ascending_ ? 0 : 1, dc, r.right - 14, r.top + (height - 5) / 2, ILD_TRANSPARENT);
    DWORD version = 0;
    if (GetComCtlVersion(&version) && version >= 6 * 65536) {
        HPEN light = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNHIGHLIGHT));
        HPEN shadow = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
        HGDIOBJ old = SelectObject(dc, light);
        Line(dc, r.right - 1, height / 6, r.right - 1, r.bottom - height / 6);
        Line(dc, r.left, r.bottom - 2, r.right, r.bottom - 2);
        SelectObject(dc, shadow);
        Line(dc, r.right - 2, height / 6, r.right - 2, r.bottom - height / 6);
        Line(dc, r.left, r.bottom - 1, r.right, r.bottom - 1);
        SelectObject(dc, old);
        DeleteObject(light);
        DeleteObject(shadow);
    }
    RestoreDC(dc, saved);
}

LRESULT CGHeaderCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETCURSOR) {
        // The column dividers show no sizing cursor.
        ::SetCursor(LoadCursor(nullptr, IDC_ARROW));
        return TRUE;
    }
    if (message == WM_PAINT) {
        // The control paints the strip right of its last column in the system's colour; the
        // owner-drawn items only cover the columns, so the strip takes their face here.
        const LRESULT result = CHeaderCtrl::WindowProc(message, wParam, lParam);
        RECT client{};
        ::GetClientRect(m_hWnd, &client);
        const int count = static_cast<int>(SendMessage(HDM_GETITEMCOUNT, 0, 0));
        RECT last{};
        if (count > 0) SendMessage(HDM_GETITEMRECT, count - 1, reinterpret_cast<LPARAM>(&last));
        if (last.right < client.right) {
            client.left = last.right;
            HDC dc = ::GetDC(m_hWnd);
            HBRUSH face = CreateSolidBrush(kHeaderFace);
            FillRect(dc, &client, face);
            DeleteObject(face);
            ::ReleaseDC(m_hWnd, dc);
        }
        return result;
    }
    return CHeaderCtrl::WindowProc(message, wParam, lParam);
}

// ---- CGListCtrl ----

IMPLEMENT_DYNAMIC(CGListCtrl, CListCtrl)

CGListCtrl::~CGListCtrl() {
    DropBackBuffer();
    if (background_) DeleteObject(background_);
}

BOOL CGListCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    AfxInitCommonControls();
    CRect wide = rect;
    wide.right += GetSystemMetrics(SM_CXVSCROLL);
    if (!CWnd::Create(WC_LISTVIEWA, nullptr, style | WS_CLIPCHILDREN, wide, parent, id)) return FALSE;
    const CRect shown(rect);
    SetWindowRgn(m_hWnd, CreateRectRgn(0, 0, shown.Width(), shown.Height()), TRUE);
    MakeBackBuffer();
    return TRUE;
}

void CGListCtrl::SetWindowRect(const RECT& rect, BOOL repaint) {
    const CRect shown(rect);
    CRect wide = rect;
    wide.right += GetSystemMetrics(SM_CXVSCROLL);
    SetWindowRgn(m_hWnd, CreateRectRgn(0, 0, shown.Width(), shown.Height()), repaint);
    MoveWindow(wide, repaint);
    MakeBackBuffer();
}

void CGListCtrl::MoveTo(int x, int y, int width, int height, BOOL repaint) {
    SetWindowRect(CRect(x, y, x + width, y + height), repaint);
}

void CGListCtrl::Scroll(int dx, int dy) {
    Invalidate(TRUE);
    SendMessage(LVM_SCROLL, static_cast<WPARAM>(dx), dy);
}

void CGListCtrl::MakeBackBuffer() {
    DropBackBuffer();
    CRect client;
    GetClientRect(&client);
    HDC window = ::GetDC(m_hWnd);
    backDc_ = CreateCompatibleDC(window);
    backSize_ =
        SIZE{std::clamp<LONG>(client.Width(), 1, kMaxBitmapSide), std::clamp<LONG>(client.Height(), 1, kMaxBitmapSide)};
    backBitmap_ = CreateCompatibleBitmap(window, backSize_.cx, backSize_.cy);
    backOld_ = SelectObject(backDc_, backBitmap_);
    ::ReleaseDC(m_hWnd, window);
}

void CGListCtrl::DropBackBuffer() {
    if (backDc_) {
        SelectObject(backDc_, backOld_);
        DeleteDC(backDc_);
    }
    if (backBitmap_) DeleteObject(backBitmap_);
    backDc_ = nullptr;
    backBitmap_ = nullptr;
}

void CGListCtrl::SetItemRect(const RECT& rect, int which) {
    (which == 0 ? picture_ : label_) = rect;
}

void CGListCtrl::SetSortIndicator(int column, BOOL ascending) {
    const int view = ViewType();
    if ((view == LVS_REPORT || view == LVS_LIST)) {
        HWND header = reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER));
        if (header && !header_.m_hWnd) header_.SubclassHeader(header);
        if (header_.m_hWnd) header_.SetSortIndicator(column, ascending);
    }
    ascending_ = ascending;
}

void CGListCtrl::SetItemCallback(ListItemCallback callback, void* context) {
    callback_ = callback;
    context_ = context;
}

void CGListCtrl::SetBackgroundBitmap(HBITMAP bitmap) {
    if (!bitmap) return;
    if (background_) DeleteObject(background_);
    background_ = bitmap;
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    backgroundWidth_ = info.bmWidth;
    backgroundHeight_ = info.bmHeight;
}

int CGListCtrl::HitTestCursor() const {
    if (!context_ || !IsWindowVisible() || marquee_ || labelEdit_ >= 0) return -1;
    POINT p{};
    if (!GetCursorPos(&p)) return -1;
    ::ScreenToClient(m_hWnd, &p);
    return HitTest(p);
}

void CGListCtrl::SelectedRun(int* first, int* last) const {
    *first = *last = -1;
    const int count = GetItemCount();
    for (int i = 0; i < count; ++i)
        if (SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_SELECTED) & LVIS_SELECTED) {
            if (*first < 0) *first = i;
            *last = i;
        }
}

int CGListCtrl::IsSelectionContiguous() const {
    std::vector<bool> selected(static_cast<size_t>(std::max(GetItemCount(), 0)));
    for (size_t i = 0; i < selected.size(); ++i)
        selected[i] = (SendMessage(LVM_GETITEMSTATE, i, LVIS_SELECTED) & LVIS_SELECTED) != 0;
    return skin::IsSelectionContiguous(selected);
}

int CGListCtrl::DrawItems(int first, int last, HDC dc) {
    if (last < first || !callback_) return 0;
    HDC target = dc ? dc : ::GetDC(m_hWnd);
    first = std::max(first, 0);
    last = std::min(last, GetItemCount() - 1);
    CRect client;
    GetClientRect(&client);
    const int view = ViewType();
    int firstSelected = -1, lastSelected = -1;
    SelectedRun(&firstSelected, &lastSelected);
    const int underCursor = dragging_ ? HitTestCursor() : -1;
    for (int i = first; i <= last; ++i) {
        const RECT bounds = ItemRect(m_hWnd, i, LVIR_BOUNDS);
        const RECT icon = ItemRect(m_hWnd, i, LVIR_ICON);
        RECT label = ItemRect(m_hWnd, i, LVIR_LABEL);
        RECT overlap;
        if (!IntersectRect(&overlap, &bounds, &client)) continue;
        const UINT state = static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, i, LVIS_FOCUSED | LVIS_SELECTED));
        HBITMAP picture = nullptr;
        int highlight = -1;
        if (!callback_(i, &picture, context_, &highlight)) {
            if (picture) DeleteObject(picture);
            continue;
        }
        HGDIOBJ oldFont = SelectObject(target, GetAppGuiFont() ? GetAppGuiFont() : GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(target, TRANSPARENT);
        if (view == LVS_ICON) {
            if (picture) {
                BITMAP info{};
                GetObjectA(picture, sizeof info, &info);
                const int x = picture_.IsRectEmpty()
                                  ? icon.left
                                  : bounds.left + ((bounds.right - bounds.left) - picture_.Width()) / 2;
                DrawBitmapPart(target, picture, x, icon.top, info.bmWidth, info.bmHeight, 0, 0);
            }
            if (i != labelEdit_) {
                const CString text = GetItemText(i, 0);
                ::SetTextColor(target, RGB(0, 0, 0));
                DrawTextA(target, text, -1, &label, DT_CENTER | DT_NOPREFIX | DT_END_ELLIPSIS | DT_SINGLELINE);
            }
        } else if (view == LVS_REPORT) {
            const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
            HDC row = CreateCompatibleDC(target);
            HBITMAP rowBitmap = CreateCompatibleBitmap(target, std::max(width, 1), std::max(height, 1));
            HGDIOBJ oldRow = SelectObject(row, rowBitmap);
            TileBitmap(row, background_, backgroundWidth_, backgroundHeight_, width, height);
            if (highlight != -1) {
                Blend(row, width, height, RGB(255, 0, 0), 50);
            } else if (state & LVIS_SELECTED) {
                HPEN blue = CreatePen(PS_SOLID, 1, RGB(0, 0, 255));
                HGDIOBJ oldPen = SelectObject(row, blue);
                Line(row, 0, 0, 0, height);
                Line(row, width - 2, 0, width - 2, height);
                const auto selected = [&](int k) {
                    return k >= 0 && k < GetItemCount() &&
                           (SendMessage(LVM_GETITEMSTATE, k, LVIS_SELECTED) & LVIS_SELECTED);
                };
                if (!selected(i - 1)) Line(row, 0, 0, width, 0);
                if (!selected(i + 1)) Line(row, 0, height - 1, width, height - 1);
                SelectObject(row, oldPen);
                DeleteObject(blue);
                Blend(row, width, height, RGB(10, 36, 255), 25);
            } else if (dragging_ && i == underCursor && i != firstSelected) {
                RECT mark = i > firstSelected ? RECT{0, height - 2, width, height} : RECT{0, 0, width, 2};
                HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
                FillRect(row, &mark, green);
                DeleteObject(green);
            }
            SelectObject(row, GetAppGuiFont() ? GetAppGuiFont() : GetStockObject(DEFAULT_GUI_FONT));
            SetBkMode(row, TRANSPARENT);
            ::SetTextColor(row, RGB(0, 0, 0));
            int x = 0;
            for (int column = 0;; ++column) {
                LVCOLUMNA info{};
                info.mask = LVCF_WIDTH | LVCF_FMT;
                if (!SendMessage(LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&info))) break;
                if (!(column == 0 && i == labelEdit_)) {
                    const CString text = GetItemText(i, column);
                    RECT cell{x + 2, 0, x + info.cx - 2, height};
                    UINT align = DT_LEFT;
                    if ((info.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_RIGHT) align = DT_RIGHT;
                    if ((info.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_CENTER) align = DT_CENTER;
                    DrawTextA(row, text, -1, &cell, align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
                }
                x += info.cx;
            }
            BitBlt(target, bounds.left, bounds.top, width, height, row, 0, 0, SRCCOPY);
            SelectObject(row, oldRow);
            DeleteObject(rowBitmap);
            DeleteDC(row);
        }
        if (picture) DeleteObject(picture);
        SelectObject(target, oldFont);
    }
    if (!dc) ::ReleaseDC(m_hWnd, target);
    return 1;
}

bool CGListCtrl::ScrollStateChanged() {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    if (!GetScrollInfo(m_hWnd, SB_VERT, &info)) info = SCROLLINFO{sizeof info, SIF_ALL, 0, 0, 0, 0, 0};
    const bool changed = info.nMin != cached_.nMin || info.nMax != cached_.nMax || info.nPage != cached_.nPage ||
                         info.nPos != cached_.nPos || info.nTrackPos != cached_.nTrackPos;
    cached_ = info;
    return changed;
}

void CGListCtrl::Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    if (ScrollStateChanged())
        if (HWND parent = ::GetParent(m_hWnd))
            ::PostMessageA(parent, WM_GLIST_SCROLLED, reinterpret_cast<WPARAM>(this), 0);
    if (background_ && backDc_) {
        CRect client;
        GetClientRect(&client);
        if (client.Width() != backSize_.cx || client.Height() != backSize_.cy) MakeBackBuffer();
        TileBitmap(backDc_, background_, backgroundWidth_, backgroundHeight_, backSize_.cx, backSize_.cy);
        DrawItems(0, GetItemCount(), backDc_);
        BitBlt(dc, 0, 0, backSize_.cx, backSize_.cy, backDc_, 0, 0, SRCCOPY);
    }
    EndPaint(m_hWnd, &ps);
}

void CGListCtrl::NotifyParent(UINT code, NMHDR* header, size_t) const {
    header->hwndFrom = m_hWnd;
    header->idFrom = static_cast<UINT_PTR>(GetDlgCtrlID());
    header->code = code;
    if (HWND parent = ::GetParent(m_hWnd))
        ::SendMessageA(parent, WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
}

void CGListCtrl::RedrawOne(int item) {
    if (item >= 0) DrawItems(item, item, nullptr);
}

void CGListCtrl::UpdateHot(bool notify) {
    if (!context_ || labelEdit_ >= 0) return;
    if (notify) {
        NMHDR header{};
        NotifyParent(static_cast<UINT>(NM_HOVER), &header, sizeof header);
    }
    const int item = HitTestCursor();
    if (item != hot_) {
        const int old = hot_;
        hot_ = item;
        RedrawOne(old);
        RedrawOne(hot_);
    }
    if (item >= 0) ::SetCursor(ItemCursor());
}

BOOL CGListCtrl::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header && (header->code == HDN_BEGINTRACKA || header->code == HDN_BEGINTRACKW ||
                   header->code == HDN_DIVIDERDBLCLICKA || header->code == HDN_DIVIDERDBLCLICKW)) {
        *result = 1;  // columns keep their widths
        return TRUE;
    }
    return CListCtrl::OnNotify(wParam, lParam, result);
}

BOOL CGListCtrl::OnChildNotify(UINT message, WPARAM, LPARAM lParam, LRESULT*) {
    if (message != WM_NOTIFY || !lParam) return FALSE;
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    switch (header->code) {
        case NM_CLICK:
            marquee_ = false;
            dragging_ = false;
            break;
        case NM_RCLICK:
            marquee_ = false;
            break;
        case LVN_MARQUEEBEGIN:
            marquee_ = true;
            break;
        case LVN_BEGINLABELEDITA:
        case LVN_BEGINLABELEDITW:
            labelEdit_ = reinterpret_cast<const NMLVDISPINFOA*>(header)->item.iItem;
            RedrawOne(hot_);
            break;
        case LVN_ENDLABELEDITA:
        case LVN_ENDLABELEDITW:
            labelEdit_ = -1;
            break;
        case LVN_ITEMCHANGED: {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
            if ((change->uOldState ^ change->uNewState) & LVIS_SELECTED) {
                RedrawOne(change->iItem);
                if (ViewType() == LVS_REPORT) {
                    if (change->iItem > 0) RedrawOne(change->iItem - 1);
                    if (change->iItem + 1 < GetItemCount()) RedrawOne(change->iItem + 1);
                }
            }
            break;
        }
        default:
            break;
    }
    return FALSE;  // the parent hears of them too
}

LRESULT CGListCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            Paint();
            return 0;
        case WM_ERASEBKGND:
            if (background_) return TRUE;
            break;
        case WM_NCCALCSIZE:
            // No non-client area: the strip of the vertical scroll bar lies outside the
            // window region, and the horizontal one is never shown.
            if (GetStyle() & WS_HSCROLL) ::SetWindowLongPtrA(m_hWnd, GWL_STYLE, GetStyle() & ~WS_HSCROLL);
            return 0;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item && item->CtlType == ODT_HEADER && header_.m_hWnd && item->hwndItem == header_.m_hWnd) {
                header_.DrawItem(item);
                return TRUE;
            }
            break;
        }
        case WM_LBUTTONDOWN: {
            const POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (HitTest(p) >= 0) ::SetCursor(ItemCursor());
            if (dragReorder_ && IsSelectionContiguous()) {
                ::SetCapture(m_hWnd);
                dragging_ = true;
            }
            break;
        }
        case WM_MOUSEMOVE: {
            UpdateHot(true);
            if (dragging_) {
                if (dragReorder_ && !IsSelectionContiguous()) {
                    if (::GetCapture() == m_hWnd) ReleaseCapture();
                    dragging_ = false;
                } else {
                    POINT p{};
                    GetCursorPos(&p);
                    ::ScreenToClient(m_hWnd, &p);
                    CRect zone;
                    GetClientRect(&zone);
                    if (HWND header = reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER));
                        header && ::IsWindowVisible(header)) {
                        RECT h{};
                        ::GetWindowRect(header, &h);
                        zone.top += h.bottom - h.top;
                    }
                    zone.bottom -= GetSystemMetrics(SM_CYHSCROLL) - 10;
                    if (p.y < zone.top)
                        Scroll(0, -10);
                    else if (p.y > zone.bottom)
                        Scroll(0, 10);
                }
            }
            if (!trackingLeave_) {
                TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hWnd, 0};
                trackingLeave_ = _TrackMouseEvent(&track) != 0;
            }
            break;
        }
        case WM_MOUSEWHEEL: {
            const LRESULT result = CListCtrl::WindowProc(message, wParam, lParam);
            UpdateHot(false);
            return result;
        }
        case WM_MOUSELEAVE:
            if (labelEdit_ < 0) {
                const int old = hot_;
                hot_ = -1;
                RedrawOne(old);
            }
            if (dragging_) ::SetCapture(m_hWnd);
            trackingLeave_ = false;
            return 0;
        case WM_LBUTTONUP:
            if (dragging_ && dragReorder_) {
                const POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
                const int item = HitTest(p);
                int first = -1, last = -1;
                SelectedRun(&first, &last);
                dragging_ = false;
                if (::GetCapture() == m_hWnd) ReleaseCapture();
                if (!(item >= first && item <= last && first >= 0)) {
                    NMHDR header{};
                    NotifyParent(GLN_DRAGDROP, &header, sizeof header);
                }
            }
            break;
        case WM_KEYUP: {
            GLNKeyUp notice{};
            notice.key = static_cast<WORD>(wParam);
            notice.flags = 0;
            NotifyParent(GLN_KEYUP, &notice.hdr, sizeof notice);
            break;
        }
        default:
            break;
    }
    return CListCtrl::WindowProc(message, wParam, lParam);
}

// ---- CRoomList ----

IMPLEMENT_DYNAMIC(CRoomList, CWnd)

CRoomList::CRoomList() {
    std::snprintf(scrollBinding_.name, sizeof scrollBinding_.name, "%s", "ROOMSCROLLBAR");
}

CRoomList::~CRoomList() {
    if (m_hWnd) CRoomList::DestroyWindow();
}

void CRoomList::SetLayout(int cellWidth, int cellHeight, int labelWidth, int labelHeight, int left, int top, int right,
                          int bottom) {
    cellWidth_ = cellWidth, cellHeight_ = cellHeight, labelWidth_ = labelWidth, labelHeight_ = labelHeight;
    layout_ = CRect(left, top, right, bottom);
}

BOOL CRoomList::Create(const char* className, const char* windowName, DWORD style, const RECT& rect, CWnd* parent,
                       UINT id, UINT scrollBarId, const char* viewName, const char* subViewName, void*) {
    const char* cls = className ? className : AfxRegisterWndClass(CS_DBLCLKS, LoadCursor(nullptr, IDC_ARROW));
    if (!CreateEx(0, cls, windowName ? windowName : "", style | WS_CLIPCHILDREN, rect, parent, id)) return FALSE;
    SetDlgCtrlID(static_cast<int>(id));
    id_ = id;
    std::snprintf(viewName_, sizeof viewName_, "%s", viewName ? viewName : "");
    std::snprintf(subViewName_, sizeof subViewName_, "%s", subViewName ? subViewName : "");
    if (CSkinLayout::FindView(viewName_)) {
        if (SkinStaticNode* node = CSkinLayout::FindStatic(viewName_, subViewName_, "ROOMLIST")) {
            list_ = new CGListCtrl;
            const CRect place(node->left, node->top, node->left + node->width, node->top + node->height);
            if (!list_->Create(WS_CHILD | WS_VISIBLE | LVS_SORTASCENDING | LVS_AUTOARRANGE, place, this, id)) {
                delete list_;
                list_ = nullptr;
                return FALSE;
            }
            list_->SetFont(GetAppGuiFont(), TRUE);
            ::SetWindowLongPtrA(list_->m_hWnd, GWL_EXSTYLE, list_->GetExStyle() | WS_EX_NOPARENTNOTIFY);
            const DWORD extended = static_cast<DWORD>(list_->SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE));
            list_->SetExtendedStyle(extended | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
        }
        scrollBinding_.id = scrollBarId;
        scrollBinding_.tooltipId = scrollBarId;
        CreateSkinNewScrollBars(this, viewName_, &scrollBinding_, 1);
        scrollBar_ = static_cast<CGNewScrollBar*>(scrollBinding_.control);
    }
    parent_ = parent;
    return TRUE;
}

BOOL CRoomList::DestroyWindow() {
    DestroySkinNewScrollBars(viewName_, &scrollBinding_, 1);
    scrollBar_ = nullptr;
    if (list_) {
        list_->DestroyWindow();
        delete list_;
        list_ = nullptr;
    }
    DeleteAllItems();
    return CWnd::DestroyWindow();
}

int CRoomList::AddItem(const char* text, void* data) {
    if (!list_) return -1;
    const int index = list_->InsertItem(list_->GetItemCount(), text ? text : "");
    if (index < 0) return -1;
    list_->SetItemData(index, reinterpret_cast<DWORD_PTR>(data));
    entries_.push_back(data);
    return index;
}

int CRoomList::GetItemData(int index, void** data) const {
    if (!list_ || !data || index < 0 || index >= list_->GetItemCount()) return 0;
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    if (!list_->SendMessage(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return 0;
    *data = reinterpret_cast<void*>(item.lParam);
    return 1;
}

int CRoomList::GetSelectedCount() const {
    if (!list_) return 0;
    int count = 0;
    for (int i = 0; i < list_->GetItemCount(); ++i) {
        void* data = nullptr;
        if ((list_->SendMessage(LVM_GETITEMSTATE, i, LVIS_SELECTED) & LVIS_SELECTED) && GetItemData(i, &data) && data)
            ++count;
    }
    return count;
}

int CRoomList::GetCount(int fromList) const {
    if (fromList && list_) return list_->GetItemCount();
    return static_cast<int>(entries_.size());
}

int CRoomList::SelectRange(int first, int last, int add) {
    if (!list_) return 0;
    const bool single = (list_->GetStyle() & LVS_SINGLESEL) != 0;
    const skin::SelectRangePlan plan = skin::PlanSelectRange(first, last, add != 0, list_->GetItemCount(), single);
    if (!plan.result) return 0;
    if (plan.clearFirst) list_->SetItemState(-1, 0, LVIS_FOCUSED | LVIS_SELECTED | LVIS_CUT | LVIS_DROPHILITED);
    for (int i = plan.first; i <= plan.last; ++i)
        list_->SetItemState(i, LVIS_SELECTED, LVIS_SELECTED);
    return 1;
}

int CRoomList::GetNextSelected(int after, void** data) const {
    if (!list_) return -1;
    for (int i = std::max(after + 1, 0); i < list_->GetItemCount(); ++i) {
        void* item = nullptr;
        if (!(list_->SendMessage(LVM_GETITEMSTATE, i, LVIS_SELECTED) & LVIS_SELECTED)) continue;
        if (!GetItemData(i, &item) || !item) continue;
        if (data) *data = item;
        return i;
    }
    return -1;
}

int CRoomList::SelectAll() {
    if (!list_ || (list_->GetStyle() & LVS_SINGLESEL) || list_->GetItemCount() == 0) return 0;
    BOOL result = FALSE;
    for (int i = 0; i < list_->GetItemCount(); ++i) {
        result = list_->SetItemState(i, LVIS_SELECTED, LVIS_SELECTED);
        if (!result) break;
    }
    return result;
}

int CRoomList::DeleteSelected() {
    // Each deletion moves the later items down by one, so the search starts again just
    // before the deleted index; the list shrinks on every pass, so this ends.
    for (int i = GetNextSelected(-1, nullptr); i >= 0; i = GetNextSelected(i - 1, nullptr))
        if (!DeleteItem(i)) break;
    return 1;
}

int CRoomList::DeleteItem(int index) {
    if (!list_ || index < 0 || index >= list_->GetItemCount()) return 0;
    void* data = nullptr;
    if (!GetItemData(index, &data)) return 0;
    list_->DeleteItem(index);
    if (data) {
        const auto found = std::find(entries_.begin(), entries_.end(), data);
        if (found != entries_.end()) {
            entries_.erase(found);
            FreeItemData(data);
        }
    }
    return 1;
}

int CRoomList::DeleteAllItems() {
    while (!entries_.empty()) {
        void* data = entries_.front();
        entries_.erase(entries_.begin());
        FreeItemData(data);
    }
    if (list_) list_->DeleteAllItems();
    return 1;
}

int CRoomList::SetViewType(int type) {
    if (type == viewType_) return type;
    const int previous = viewType_;
    if (list_) list_->ModifyStyle(LVS_TYPEMASK, static_cast<DWORD>(type) & LVS_TYPEMASK);
    viewType_ = type;
    if (list_) {
        list_->SetSortIndicator(sortColumn_, sortAscending_);
        for (int i = 0; i < list_->GetItemCount(); ++i) {
            void* data = nullptr;
            GetItemData(i, &data);
            HookE(i, data);
        }
    }
    return previous;
}

int CRoomList::SetMetricB(int mode) {
    if (mode == listMode_) return mode;
    const int previous = listMode_;
    listMode_ = mode;
    UpdateScrollBar();
    ForwardToParent(WM_ROOMLIST_MODECHANGED, 0);
    return previous;
}

int CRoomList::SetSortKey(int column, int ascending) {
    const int previous = sortColumn_;
    sortColumn_ = column;
    sortAscending_ = ascending;
    return previous;
}

void CRoomList::UpdateScrollBar() {
    SyncScrollBarFromList(list_);
}

LRESULT CRoomList::SetNotifyTarget(HWND window, UINT message, LRESULT value) {
    notifyWindow_ = window;
    notifyMessage_ = message;
    notifyValue_ = value;
    return value;
}

int CRoomList::SetNotifyEnabled(int flag) {
    const int previous = notifyEnabled_;
    notifyEnabled_ = flag;
    return previous;
}

void CRoomList::RedrawItems(int index) {
    if (!list_) return;
    if (index == -1)
        list_->DrawItems(0, list_->GetItemCount(), nullptr);
    else
        list_->DrawItems(index, index, nullptr);
}

void CRoomList::Relayout(const RECT& rect, BOOL repaint) {
    MoveWindow(rect, repaint);
    const RECT copy = rect;
    BuildImageList(copy);
}

void CRoomList::SetRect(int x, int y, int width, int height, BOOL repaint) {
    Relayout(CRect(x, y, x + width, y + height), repaint);
}

void CRoomList::BuildImageList(const RECT&) {
    RepositionSkinNewScrollBars(viewName_, &scrollBinding_, 1);
    if (!CSkinLayout::FindView(viewName_)) return;
    SkinStaticNode* node = CSkinLayout::FindStatic(viewName_, subViewName_, "ROOMLIST");
    if (node && list_) {
        list_->SetWindowRect(CRect(node->left, node->top, node->left + node->width, node->top + node->height), TRUE);
        list_->SetItemRect(CRect(0, 0, cellWidth_, cellHeight_), 0);
        list_->SetItemRect(CRect(0, 0, labelWidth_, labelHeight_), 1);
        normalImages_.DeleteImageList();
        smallImages_.DeleteImageList();
        const int iconWidth = std::clamp(static_cast<int>(cellWidth_ * 0.83), 1, kMaxBitmapSide);
        const int iconHeight = std::clamp(static_cast<int>(cellHeight_ * 0.93), 1, kMaxBitmapSide);
        const int smallWidth = std::clamp(labelWidth_, 1, kMaxBitmapSide);
        const int smallHeight = std::clamp(labelHeight_, 1, kMaxBitmapSide);
        normalImages_.Create(iconWidth, iconHeight, ILC_COLOR8, 0, 1);
        smallImages_.Create(smallWidth, smallHeight, ILC_COLOR8, 0, 1);
        HDC screen = ::GetDC(nullptr);
        for (const SIZE size : {SIZE{iconWidth, iconHeight}, SIZE{smallWidth, smallHeight}}) {
            HBITMAP blank = CreateCompatibleBitmap(screen, size.cx, size.cy);
            normalImages_.Add(blank, static_cast<HBITMAP>(nullptr));
            DeleteObject(blank);
        }
        ::ReleaseDC(nullptr, screen);
        list_->SetImageList(normalImages_, LVSIL_NORMAL);
        list_->SetBackgroundBitmap(CreateBackgroundBitmap(node->width, node->height));
        if (viewType_ != 1) {
            const skin::IconSpacing spacing = ComputeIconSpacing(node->width, node->height);
            list_->SendMessage(LVM_SETICONSPACING, 0, MAKELPARAM(spacing.horizontal, spacing.vertical));
            // Items already placed take the new spacing too.
            list_->SendMessage(LVM_ARRANGE, LVA_DEFAULT);
        }
    }
    SyncScrollBarFromList(list_);
}

HBITMAP CRoomList::CreateBackgroundBitmap(int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    width = std::min(width, kMaxBitmapSide);
    height = std::min(height, kMaxBitmapSide);
    HDC screen = ::GetDC(nullptr);
    HBITMAP result = CreateCompatibleBitmap(screen, width, height);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, result);
    if (HBITMAP tile = LoadSkinBitmap("ExportRoomLCBk.JPG")) {
        BITMAP info{};
        GetObjectA(tile, sizeof info, &info);
        TileBitmap(dc, tile, info.bmWidth, info.bmHeight, width, height);
        DeleteObject(tile);
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    ::ReleaseDC(nullptr, screen);
    return result;
}

skin::IconSpacing CRoomList::ComputeIconSpacing(int width, int height) {
    LOGFONTA font{};
    int fontHeight = 0;
    if (HFONT gui = GetAppGuiFont(); gui && GetObjectA(gui, sizeof font, &font)) fontHeight = std::abs(font.lfHeight);
    return skin::ComputeIconSpacing(width, height, cellWidth_, cellHeight_, fontHeight);
}

void CRoomList::SyncScrollBarFromList(CGListCtrl* list) {
    if (!list || !scrollBar_) return;
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    skin::ListScrollState state{};
    state.valid = GetScrollInfo(list->m_hWnd, SB_VERT, &info) != 0;
    state.minimum = info.nMin, state.maximum = info.nMax, state.page = static_cast<int>(info.nPage);
    state.position = info.nPos;
    state.itemCount = list->GetItemCount();
    const RECT first = ItemRect(list->m_hWnd, 0, LVIR_BOUNDS);
    state.itemHeight = first.bottom - first.top;
    const skin::ScrollBarSetting setting = skin::ScrollBarFromList(list->ViewType(), state);
    if (!setting.change) return;
    scrollBar_->SetRange(setting.minimum, setting.maximum);
    scrollBar_->SetPage(setting.total, setting.page);
    scrollBar_->SetLineStep(setting.step);
    scrollBar_->SetPos(setting.position);
}

void CRoomList::SyncListFromScrollBar(CGNewScrollBar* bar) {
    if (!list_ || !bar) return;
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    if (!GetScrollInfo(list_->m_hWnd, SB_VERT, &info)) return;
    const RECT first = ItemRect(list_->m_hWnd, 0, LVIR_BOUNDS);
    const int dy = skin::ListScrollFromBar(list_->ViewType(), bar->GetPos(), info.nPos, first.bottom - first.top,
                                           list_->GetItemCount());
    if (dy) list_->Scroll(0, dy);
}

void CRoomList::ForwardToParent(UINT message, LPARAM lParam) {
    if (!notifyEnabled_ && message != WM_ROOMLIST_MODECHANGED) return;
    if (HWND parent = ::GetParent(m_hWnd)) ::SendMessageA(parent, message, id_, lParam);
}

int CRoomList::IsSelectionContiguous() const {
    if (!list_) return 0;
    return list_->IsSelectionContiguous();
}

LRESULT CRoomList::OnScrollBarChanged(WPARAM, LPARAM) {
    SyncListFromScrollBar(scrollBar_);
    return 0;
}

LRESULT CRoomList::OnListScrolled(WPARAM, LPARAM) {
    SyncScrollBarFromList(list_);
    return 0;
}

void CRoomList::OnItemChanged(NMHDR* header, LRESULT*) {
    const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if (notifyEnabled_ && (change->uChanged & LVIF_STATE) && ((change->uOldState ^ change->uNewState) & LVIS_SELECTED))
        selectionChanged_ = true;
}

void CRoomList::OnItemClick(NMHDR*, LRESULT* result) {
    if (selectionChanged_) {
        ForwardToParent(WM_ROOMLIST_SELCHANGED, 0);
        if (result) *result = 0;
    }
    selectionChanged_ = false;
}

void CRoomList::OnListKeyDown(NMHDR* header, LRESULT* result) {
    const auto* key = reinterpret_cast<const GLNKeyUp*>(header);
    if (selectionChanged_ && key->key != VK_DELETE) ForwardToParent(WM_ROOMLIST_SELCHANGED, 0);
    selectionChanged_ = false;
    if (result) *result = 0;
}

LRESULT CRoomList::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_hWnd, &ps);
            if (background_) {
                BITMAP info{};
                GetObjectA(background_, sizeof info, &info);
                CRect client;
                GetClientRect(&client);
                TileBitmap(dc, background_, info.bmWidth, info.bmHeight, client.Width(), client.Height());
            }
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        default:
            break;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}
