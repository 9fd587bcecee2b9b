#include "framework/controls.h"

IMPLEMENT_DYNAMIC(CStatic, CWnd)
IMPLEMENT_DYNAMIC(CButton, CWnd)
IMPLEMENT_DYNAMIC(CEdit, CWnd)
IMPLEMENT_DYNAMIC(CComboBox, CWnd)
IMPLEMENT_DYNAMIC(CSliderCtrl, CWnd)
IMPLEMENT_DYNAMIC(CProgressCtrl, CWnd)
IMPLEMENT_DYNAMIC(CHeaderCtrl, CWnd)
IMPLEMENT_DYNAMIC(CListCtrl, CWnd)
IMPLEMENT_DYNAMIC(CToolTipCtrl, CWnd)

CString CComboBox::GetLBText(int index) const {
    const LRESULT n = SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    CString text;
    if (n == CB_ERR || n < 0) return text;
    SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(index),
                reinterpret_cast<LPARAM>(text.GetBuffer(static_cast<int>(n) + 1)));
    text.ReleaseBuffer();
    return text;
}

int CListCtrl::InsertColumn(int index, const char* heading, int format, int width) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_FMT | (width >= 0 ? LVCF_WIDTH : 0);
    column.fmt = format;
    column.cx = width;
    column.pszText = const_cast<char*>(heading);
    return static_cast<int>(
        SendMessage(LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column)));
}

int CListCtrl::InsertItem(int index, const char* text, int image) {
    LVITEMA item{};
    item.mask = LVIF_TEXT | (image >= 0 ? LVIF_IMAGE : 0);
    item.iItem = index;
    item.pszText = const_cast<char*>(text);
    item.iImage = image;
    return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

BOOL CListCtrl::SetItemText(int index, int subItem, const char* text) {
    LVITEMA item{};
    item.iSubItem = subItem;
    item.pszText = const_cast<char*>(text);
    return static_cast<BOOL>(
        SendMessage(LVM_SETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}

CString CListCtrl::GetItemText(int index, int subItem) const {
    char text[1024] = {};
    LVITEMA item{};
    item.iSubItem = subItem;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessage(LVM_GETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return CString(text);
}

BOOL CListCtrl::SetItemData(int index, DWORD_PTR data) {
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    item.lParam = static_cast<LPARAM>(data);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

DWORD_PTR CListCtrl::GetItemData(int index) const {
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    if (!SendMessage(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return 0;
    return static_cast<DWORD_PTR>(item.lParam);
}

BOOL CListCtrl::SetItemState(int index, UINT state, UINT mask) {
    LVITEMA item{};
    item.state = state;
    item.stateMask = mask;
    return static_cast<BOOL>(
        SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}

CHeaderCtrl* CListCtrl::GetHeaderCtrl() const {
    header_view_.m_hWnd = reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER));
    return &header_view_;
}

int CListCtrl::HitTest(POINT p, UINT* flags) const {
    LVHITTESTINFO info{};
    info.pt = p;
    const int index = static_cast<int>(SendMessage(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&info)));
    if (flags) *flags = info.flags;
    return index;
}

BOOL CToolTipCtrl::Create(CWnd* parent, DWORD style) {
    return CreateEx(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX | style,
                    RECT{static_cast<LONG>(CW_USEDEFAULT), static_cast<LONG>(CW_USEDEFAULT), 0, 0}, parent, 0);
}

TTTOOLINFOA CToolTipCtrl::ToolInfo(CWnd* wnd, const char* text) const {
    TTTOOLINFOA info{};
    info.cbSize = sizeof info;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = ::GetParent(wnd->m_hWnd) ? ::GetParent(wnd->m_hWnd) : wnd->m_hWnd;
    info.uId = reinterpret_cast<UINT_PTR>(wnd->m_hWnd);
    info.lpszText = const_cast<char*>(text);
    return info;
}

BOOL CToolTipCtrl::AddTool(CWnd* wnd, const char* text) {
    TTTOOLINFOA info = ToolInfo(wnd, text);
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info)));
}

void CToolTipCtrl::DelTool(CWnd* wnd) {
    TTTOOLINFOA info = ToolInfo(wnd, nullptr);
    SendMessage(TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

void CToolTipCtrl::UpdateTipText(const char* text, CWnd* wnd) {
    TTTOOLINFOA info = ToolInfo(wnd, text);
    SendMessage(TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&info));
}

BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
    DeleteImageList();
    m_hImageList = ImageList_Create(cx, cy, flags, initial, grow);
    return m_hImageList != nullptr;
}

BOOL CImageList::DeleteImageList() {
    if (!m_hImageList) return FALSE;
    ImageList_Destroy(m_hImageList);
    m_hImageList = nullptr;
    return TRUE;
}
