#include "filters/base/property_page.h"

#include <olectl.h>

#include "filters/base/server.h"

CBasePropertyPage::CBasePropertyPage(const wchar_t* objectName, IUnknown* outer, int dialogId, int titleId)
    : CUnknown(objectName, outer), dialogId_(dialogId), titleId_(titleId) {}

CBasePropertyPage::~CBasePropertyPage() {
    if (window_) DestroyWindow(window_);
    if (site_) site_->Release();
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IPropertyPage) return GetInterface(static_cast<IPropertyPage*>(this), out);
    return CUnknown::NonDelegatingQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetPageSite(IPropertyPageSite* site) {
    // A site is set once and cleared with null before another is set.
    if (site && site_) return E_UNEXPECTED;
    if (site) site->AddRef();
    if (site_) site_->Release();
    site_ = site;
    return S_OK;
}

INT_PTR CALLBACK CBasePropertyPage::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    CBasePropertyPage* page;
    if (message == WM_INITDIALOG) {
        page = reinterpret_cast<CBasePropertyPage*>(lparam);
        SetWindowLongPtrW(window, DWLP_USER, lparam);
        if (!page) return TRUE;
        page->window_ = window;
    } else {
        page = reinterpret_cast<CBasePropertyPage*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (!page) return FALSE;
    return page->OnReceiveMessage(window, message, wparam, lparam);
}

bool CBasePropertyPage::DialogSize(SIZE* size) {
    HWND probe = CreateDialogParamW(ServerModule(), MAKEINTRESOURCEW(dialogId_), GetDesktopWindow(),
                                    &CBasePropertyPage::DialogProc, 0);
    if (!probe) return false;
    RECT rect;
    GetWindowRect(probe, &rect);
    size->cx = rect.right - rect.left;
    size->cy = rect.bottom - rect.top;
    DestroyWindow(probe);
    return true;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (!rect) return E_POINTER;
    if (window_) return E_UNEXPECTED;
    HWND window = CreateDialogParamW(ServerModule(), MAKEINTRESOURCEW(dialogId_), parent,
                                     &CBasePropertyPage::DialogProc, reinterpret_cast<LPARAM>(this));
    if (!window) return E_OUTOFMEMORY;
    window_ = window;
    const HRESULT hr = OnActivate();
    if (FAILED(hr)) {
        DestroyWindow(window_);
        window_ = nullptr;
        return hr;
    }
    Move(rect);
    return Show(SW_SHOWNORMAL);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Deactivate() {
    if (!window_) return E_UNEXPECTED;
    const HRESULT hr = OnDeactivate();
    DestroyWindow(window_);
    window_ = nullptr;
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info) return E_POINTER;
    wchar_t title[256] = L"";
    const int length = LoadStringW(ServerModule(), static_cast<UINT>(titleId_), title, 256);
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = static_cast<LPOLESTR>(CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
    if (!info->pszTitle) return E_OUTOFMEMORY;
    memcpy(info->pszTitle, title, (length + 1) * sizeof(wchar_t));
    SIZE size{0, 0};
    DialogSize(&size);
    info->size = size;
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    if (count == 1) {
        if (!objects || !objects[0]) return E_POINTER;
        // A page serves one object at a time.
        if (connected_) OnDisconnect();
        const HRESULT hr = OnConnect(objects[0]);
        connected_ = SUCCEEDED(hr);
        dirty_ = false;
        return hr;
    }
    if (count == 0) {
        if (connected_) OnDisconnect();
        connected_ = false;
        return S_OK;
    }
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Show(UINT show) {
    if (!window_) return E_UNEXPECTED;
    if (show != SW_SHOW && show != SW_SHOWNORMAL && show != SW_HIDE) return E_INVALIDARG;
    ShowWindow(window_, static_cast<int>(show));
    InvalidateRect(window_, nullptr, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Move(LPCRECT rect) {
    if (!rect) return E_POINTER;
    if (!window_) return E_UNEXPECTED;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::IsPageDirty() {
    return dirty_ ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Apply() {
    if (!connected_) return E_UNEXPECTED;
    if (!dirty_) return S_OK;
    const HRESULT hr = OnApplyChanges();
    if (SUCCEEDED(hr)) SetDirty(false);
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Help(LPCOLESTR) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CBasePropertyPage::TranslateAccelerator(MSG*) {
    return E_NOTIMPL;
}

HRESULT CBasePropertyPage::OnConnect(IUnknown*) {
    return S_OK;
}
HRESULT CBasePropertyPage::OnDisconnect() {
    return S_OK;
}
HRESULT CBasePropertyPage::OnActivate() {
    return S_OK;
}
HRESULT CBasePropertyPage::OnDeactivate() {
    return S_OK;
}
HRESULT CBasePropertyPage::OnApplyChanges() {
    return S_OK;
}
INT_PTR CBasePropertyPage::OnReceiveMessage(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

void CBasePropertyPage::SetDirty(bool dirty) {
    dirty_ = dirty;
    if (site_) site_->OnStatusChange(dirty ? PROPPAGESTATUS_DIRTY : PROPPAGESTATUS_VALIDATE);
}
