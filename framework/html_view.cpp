#include "framework/html_view.h"

#include <atomic>
#include <string>

namespace {

std::atomic<LONG> live_sites{0};

// A null-terminated wide copy of an ANSI text in the process's code page.
std::wstring Widen(const char* text) {
    if (!text || !*text) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n);
    if (!wide.empty()) wide.pop_back();  // the terminator MultiByteToWideChar counted
    return wide;
}

// A VARIANT holding a BSTR, freed with the variant.
struct BstrVariant {
    VARIANT v;
    explicit BstrVariant(const char* text) {
        VariantInit(&v);
        const std::wstring wide = Widen(text);
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    }
    ~BstrVariant() { VariantClear(&v); }
    BstrVariant(const BstrVariant&) = delete;
    BstrVariant& operator=(const BstrVariant&) = delete;
};

}  // namespace

// The container side of the embedding: client site, in-place site and in-place frame in
// one reference-counted object. The browser holds it through SetClientSite and the
// window context; the view holds one reference and cuts the link back to itself (`view`)
// before releasing it, so a browser that keeps the site longer never reaches a dead view.
class CHtmlView::Site final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
public:
    explicit Site(CHtmlView* owner) : view(owner) { ++live_sites; }
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

    CHtmlView* view;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
            *out = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite))
            *out = static_cast<IOleInPlaceSite*>(this);
        else if (IsEqualIID(iid, IID_IOleInPlaceUIWindow) || IsEqualIID(iid, IID_IOleInPlaceFrame))
            *out = static_cast<IOleInPlaceFrame*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = --refs_;
        if (left == 0) {
            --live_sites;
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    // IOleClientSite: the object is never saved or linked.
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** out) override {
        if (out) *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (site and frame): the view's window; the frame is the view too, it has
    // no menus, tools or status line to share.
    STDMETHODIMP GetWindow(HWND* out) override {
        if (!out) return E_POINTER;
        *out = view ? view->m_hWnd : nullptr;
        return *out ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return view && view->m_hWnd ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* pos, RECT* clip,
                                  OLEINPLACEFRAMEINFO* info) override {
        if (!frame || !document || !pos || !clip || !info) return E_POINTER;
        *document = nullptr;  // no separate document window: the frame serves
        *frame = nullptr;
        if (!view || !view->m_hWnd) return E_FAIL;
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        ::GetClientRect(view->m_hWnd, pos);
        *clip = *pos;
        info->cb = sizeof *info;
        info->fMDIApp = FALSE;
        info->hwndFrame = ::GetAncestor(view->m_hWnd, GA_ROOT);
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return E_NOTIMPL; }

    // IOleInPlaceUIWindow and IOleInPlaceFrame: no border tools, menus or status line.
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    ~Site() = default;
    std::atomic<LONG> refs_{1};
};

IMPLEMENT_DYNCREATE(CHtmlView, CWnd)

BEGIN_MESSAGE_MAP(CHtmlView, CWnd)
ON_WM_SIZE()
ON_WM_DESTROY()
ON_WM_MOUSEACTIVATE()
END_MESSAGE_MAP()

LONG CHtmlView::LiveSiteObjects() {
    return live_sites.load();
}

CHtmlView::~CHtmlView() {
    // A view whose window is still up is torn down here; OnDestroy has run otherwise.
    if (m_hWnd && FromHandlePermanent(m_hWnd) == this) DestroyWindow();
    ReleaseBrowser();
}

BOOL CHtmlView::Create(const char* className, const char* windowName, DWORD style, const RECT& rect, CWnd* parent,
                       UINT id, void*) {
    create_error_ = S_OK;
    if (m_hWnd) return FALSE;
    if (!CWnd::Create(className, windowName, style | WS_CHILD | WS_CLIPCHILDREN, rect, parent, id)) {
        create_error_ = HRESULT_FROM_WIN32(GetLastError());
        if (SUCCEEDED(create_error_)) create_error_ = E_FAIL;
        return FALSE;
    }
    // In-place activation and drag and drop need OLE (a single-threaded apartment) on
    // this thread; each view holds one initialisation until it goes away.
    HRESULT hr = OleInitialize(nullptr);
    if (FAILED(hr)) {
        create_error_ = hr;
        DestroyWindow();
        return FALSE;
    }
    ole_started_ = true;

    site_ = new Site(this);
    hr = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                          reinterpret_cast<void**>(&object_));
    if (SUCCEEDED(hr)) hr = object_->SetClientSite(static_cast<IOleClientSite*>(site_));
    if (SUCCEEDED(hr)) {
        RECT client{};
        ::GetClientRect(m_hWnd, &client);
        hr =
            object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(site_), 0, m_hWnd, &client);
    }
    if (SUCCEEDED(hr)) hr = object_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser_));
    if (SUCCEEDED(hr)) {
        IOleInPlaceObject* inplace = nullptr;
        hr = object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inplace));
        if (SUCCEEDED(hr)) {
            hr = inplace->GetWindow(&browser_window_);
            inplace->Release();
        }
        if (SUCCEEDED(hr) && (!browser_window_ || ::GetParent(browser_window_) != m_hWnd))
            hr = E_UNEXPECTED;  // activated, but not inside this view
    }
    if (FAILED(hr)) {
        create_error_ = hr;
        DestroyWindow();  // OnDestroy releases what was made
        return FALSE;
    }
    return TRUE;
}

void CHtmlView::ReleaseBrowser() {
    if (object_) {
        IOleInPlaceObject* inplace = nullptr;
        if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inplace)))) {
            inplace->InPlaceDeactivate();
            inplace->Release();
        }
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
    }
    if (browser_) {
        browser_->Release();
        browser_ = nullptr;
    }
    if (object_) {
        object_->Release();
        object_ = nullptr;
    }
    browser_window_ = nullptr;
    if (site_) {
        site_->view = nullptr;
        site_->Release();
        site_ = nullptr;
    }
    if (ole_started_) {
        ole_started_ = false;
        OleUninitialize();
    }
}

void CHtmlView::OnDestroy() {
    ReleaseBrowser();
    Default();
}

void CHtmlView::OnSize(UINT type, int cx, int cy) {
    Default();
    if (browser_window_ && type != SIZE_MINIMIZED) ::MoveWindow(browser_window_, 0, 0, cx, cy, TRUE);
}

int CHtmlView::OnMouseActivate(CWnd*, UINT, UINT) {
    return static_cast<int>(Default());
}

HRESULT CHtmlView::Navigate2(const char* url, DWORD flags, const char* targetFrame) {
    if (!browser_) return E_UNEXPECTED;
    BstrVariant where(url);
    VARIANT how;
    VariantInit(&how);
    V_VT(&how) = VT_I4;
    V_I4(&how) = static_cast<LONG>(flags);
    VARIANT empty;
    VariantInit(&empty);
    if (!targetFrame) return browser_->Navigate2(&where.v, &how, &empty, &empty, &empty);
    BstrVariant frame(targetFrame);
    return browser_->Navigate2(&where.v, &how, &frame.v, &empty, &empty);
}

HRESULT CHtmlView::SetRegisterAsDropTarget(BOOL on) {
    if (!browser_) return E_UNEXPECTED;
    return browser_->put_RegisterAsDropTarget(on ? VARIANT_TRUE : VARIANT_FALSE);
}

BOOL CHtmlView::PreTranslateMessage(MSG* msg) {
    if (CWnd::PreTranslateMessage(msg)) return TRUE;
    if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return FALSE;
    if (object_) {
        IOleInPlaceActiveObject* active = nullptr;
        if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active)))) {
            const HRESULT hr = active->TranslateAccelerator(msg);
            active->Release();
            if (hr == S_OK) return TRUE;
        }
    }
    // Dialog keys (Tab, arrows, mnemonics) among the view's own children.
    return ::IsDialogMessageA(m_hWnd, msg);
}
