#include "framework/wnd.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "framework/app.h"
#include "framework/dialog.h"

// ---------------------------------------------------------------------------------------
// Command targets

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

const MessageMap* CCmdTarget::GetThisMessageMap() {
    static const MessageEntry entries[] = {{MsgKind::End, 0, 0, 0, 0, nullptr, nullptr}};
    static const MessageMap map{nullptr, entries};
    return &map;
}

const MessageMap* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const MessageEntry* CCmdTarget::FindEntry(MsgKind kind, UINT message, UINT code, UINT id) const {
    for (const MessageMap* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr) {
        for (const MessageEntry* e = map->entries; e->kind != MsgKind::End; ++e) {
            if (e->kind != kind) continue;
            switch (kind) {
                case MsgKind::Message:
                    if ((e->registered ? *e->registered : e->message) == message && message != 0) return e;
                    break;
                case MsgKind::Command:
                    if (e->code == code && id >= e->first && id <= e->last) return e;
                    break;
                case MsgKind::Notify:
                    // Notification codes are negative 32-bit values carried in a word by
                    // OnCmdMsg; compare the low words.
                    if (LOWORD(e->code) == LOWORD(code) && id >= e->first && id <= e->last) return e;
                    break;
                case MsgKind::UpdateUI:
                    if (id >= e->first && id <= e->last) return e;
                    break;
                case MsgKind::ReflectCommand:
                case MsgKind::ReflectNotify:
                    if (e->code == code) return e;
                    break;
                case MsgKind::CtlColor:
                case MsgKind::CtlColorReflect:
                case MsgKind::End:
                    return e;
            }
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo) {
    const MessageEntry* e = nullptr;
    MsgCall call{};
    call.id = nID;
    LRESULT ignored = 0;
    call.result = &ignored;
    if (nCode == CN_UPDATE_COMMAND_UI) {
        e = FindEntry(MsgKind::UpdateUI, 0, 0, nID);
        call.extra = pExtra;
    } else if (HIWORD(static_cast<UINT>(nCode)) == CN_NOTIFY_FLAG) {
        e = FindEntry(MsgKind::Notify, WM_NOTIFY, LOWORD(static_cast<UINT>(nCode)), nID);
        if (e && pExtra) {
            const MsgCall* from = static_cast<const MsgCall*>(pExtra);
            call.lParam = from->lParam;
            call.wParam = from->wParam;
            call.result = from->result;
        }
    } else {
        e = FindEntry(MsgKind::Command, WM_COMMAND, static_cast<UINT>(nCode), nID);
    }
    if (!e) return FALSE;
    if (pHandlerInfo) return TRUE;
    call.message = nCode == CN_UPDATE_COMMAND_UI
                       ? 0
                       : (HIWORD(static_cast<UINT>(nCode)) == CN_NOTIFY_FLAG ? WM_NOTIFY : WM_COMMAND);
    e->handler(this, call);
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Command user-interface state

void CCmdUI::Enable(BOOL on) {
    m_bEnableChanged = true;
    if (m_hMenu)
        ::EnableMenuItem(m_hMenu, m_nIndex, MF_BYPOSITION | (on ? MF_ENABLED : MF_DISABLED | MF_GRAYED));
    else if (m_pOther)
        m_pOther->EnableWindow(on);
}

void CCmdUI::SetCheck(int check) {
    if (m_hMenu)
        ::CheckMenuItem(m_hMenu, m_nIndex, MF_BYPOSITION | (check ? MF_CHECKED : MF_UNCHECKED));
    else if (m_pOther)
        m_pOther->SendMessage(BM_SETCHECK, static_cast<WPARAM>(check));
}

void CCmdUI::SetText(const char* text) {
    if (m_hMenu) {
        const UINT state = ::GetMenuState(m_hMenu, m_nIndex, MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED | MF_CHECKED);
        ::ModifyMenuA(m_hMenu, m_nIndex, MF_BYPOSITION | MF_STRING | state, m_nID, text);
    } else if (m_pOther) {
        m_pOther->SetWindowText(text);
    }
}

BOOL CCmdUI::DoUpdate(CCmdTarget* target, BOOL disableIfNoHandler) {
    m_bEnableChanged = false;
    const BOOL handled = target->OnCmdMsg(m_nID, CN_UPDATE_COMMAND_UI, this, nullptr);
    if (!handled && disableIfNoHandler && !m_bEnableChanged) {
        int info = 0;
        Enable(target->OnCmdMsg(m_nID, CN_COMMAND, nullptr, &info));
    }
    return handled;
}

// ---------------------------------------------------------------------------------------
// Handle maps

namespace {

struct PermanentMap {
    std::mutex lock;
    std::unordered_map<HWND, CWnd*> windows;
};
// Never destroyed: windows can still receive messages while the process shuts down.
PermanentMap& Permanent() {
    static PermanentMap* map = new PermanentMap;
    return *map;
}

// Temporary objects for windows this thread asked about that have no permanent object;
// made on first use and freed by DeleteTempMap (nothing is destroyed at thread exit,
// when the handle map may already be gone).
using TemporaryMap = std::unordered_map<HWND, std::unique_ptr<CWnd>>;
thread_local TemporaryMap* temporary_windows = nullptr;

// The message each nesting level of AfxWndProc on this thread is handling.
thread_local MSG current_message{};

// The object to attach to the next window created on this thread, and the creation hook.
thread_local CWnd* pending_window = nullptr;
thread_local HHOOK creation_hook = nullptr;

}  // namespace

IMPLEMENT_DYNCREATE(CWnd, CCmdTarget)

const MessageMap* CWnd::GetMessageMap() const {
    return GetThisMessageMap();
}
const MessageMap* CWnd::GetThisMessageMap() {
    static const MessageEntry entries[] = {{MsgKind::End, 0, 0, 0, 0, nullptr, nullptr}};
    static const MessageMap map{&CCmdTarget::GetThisMessageMap, entries};
    return &map;
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
    if (!hwnd) return nullptr;
    PermanentMap& map = Permanent();
    std::lock_guard<std::mutex> hold(map.lock);
    auto it = map.windows.find(hwnd);
    return it == map.windows.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hwnd) {
    if (!hwnd) return nullptr;
    if (CWnd* w = FromHandlePermanent(hwnd)) return w;
    if (!temporary_windows) temporary_windows = new TemporaryMap;
    auto& slot = (*temporary_windows)[hwnd];
    if (!slot) {
        slot = std::make_unique<CWnd>();
        slot->m_hWnd = hwnd;
    }
    return slot.get();
}

void CWnd::DeleteTempMap() {
    if (!temporary_windows) return;
    for (auto& [hwnd, wnd] : *temporary_windows)
        wnd->m_hWnd = nullptr;  // a temporary object never destroys its window
    delete temporary_windows;
    temporary_windows = nullptr;
}

bool CWnd::Attach(HWND hwnd) {
    if (!hwnd || m_hWnd) return false;
    PermanentMap& map = Permanent();
    {
        std::lock_guard<std::mutex> hold(map.lock);
        if (!map.windows.emplace(hwnd, this).second) return false;
    }
    m_hWnd = hwnd;
    return true;
}

HWND CWnd::Detach() {
    HWND hwnd = m_hWnd;
    if (hwnd) {
        PermanentMap& map = Permanent();
        std::lock_guard<std::mutex> hold(map.lock);
        auto it = map.windows.find(hwnd);
        if (it != map.windows.end() && it->second == this) map.windows.erase(it);
    }
    m_hWnd = nullptr;
    return hwnd;
}

CWnd::~CWnd() {
    if (m_hWnd && FromHandlePermanent(m_hWnd) == this) {
        // The object dies before its window: stop routing, then destroy the window.
        HWND hwnd = UnsubclassWindow();
        if (hwnd) ::DestroyWindow(hwnd);
    }
}

LRESULT CALLBACK AfxWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = CWnd::FromHandlePermanent(hwnd);
    if (!wnd) return DefWindowProcA(hwnd, message, wParam, lParam);
    const MSG saved = current_message;
    current_message = MSG{hwnd, message, wParam, lParam, 0, {0, 0}};
    const LRESULT result = wnd->WindowProc(message, wParam, lParam);
    current_message = saved;
    if (message == WM_NCDESTROY) {
        // The window is gone: put the class procedure back and let the object go.
        if (wnd->m_pfnSuper && reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC)) == AfxWndProc)
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(wnd->m_pfnSuper));
        wnd->m_pfnSuper = nullptr;
        wnd->Detach();
        wnd->PostNcDestroy();
    }
    return result;
}

void CWnd::SubclassAttached() {
    auto old =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AfxWndProc)));
    if (old != AfxWndProc) m_pfnSuper = old;
}

LRESULT CALLBACK FwCreationHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && pending_window) {
        CWnd* wnd = pending_window;
        pending_window = nullptr;
        if (wnd->Attach(reinterpret_cast<HWND>(wParam))) {
            wnd->SubclassAttached();
            wnd->PreSubclassWindow();
        }
    }
    return CallNextHookEx(creation_hook, code, wParam, lParam);
}

HWND CWnd::CreateHooked(const std::function<HWND()>& create) {
    // Nested creations (a WM_CREATE handler creating children) keep their own state.
    CWnd* const outer_pending = pending_window;
    HHOOK const outer_hook = creation_hook;
    pending_window = this;
    creation_hook = SetWindowsHookExA(WH_CBT, FwCreationHook, nullptr, GetCurrentThreadId());
    HWND hwnd = create();
    UnhookWindowsHookEx(creation_hook);
    creation_hook = outer_hook;
    pending_window = outer_pending;
    if (!hwnd && m_hWnd) Detach();
    return hwnd;
}

BOOL CWnd::PreCreateWindow(CREATESTRUCTA& cs) {
    if (!cs.lpszClass)
        cs.lpszClass =
            AfxRegisterWndClass(CS_DBLCLKS, LoadCursor(nullptr, IDC_ARROW), reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    return TRUE;
}

void AfxInitCommonControls() {
    static std::once_flag once;
    std::call_once(once, [] {
        INITCOMMONCONTROLSEX init{sizeof init, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&init);
    });
}

BOOL CWnd::CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, const RECT& rect,
                    CWnd* parent, UINT id, void* param) {
    if (m_hWnd) return FALSE;
    AfxInitCommonControls();
    CREATESTRUCTA cs{};
    cs.dwExStyle = exStyle;
    cs.lpszClass = className;
    cs.lpszName = windowName;
    cs.style = style;
    cs.x = rect.left;
    cs.y = rect.top;
    cs.cx = rect.right - rect.left;
    cs.cy = rect.bottom - rect.top;
    cs.hwndParent = parent ? parent->m_hWnd : nullptr;
    cs.hMenu = (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)) : nullptr;
    cs.hInstance = AfxGetInstanceHandle();
    cs.lpCreateParams = param;
    if (!PreCreateWindow(cs)) return FALSE;
    HWND hwnd = CreateHooked([&] {
        return CreateWindowExA(cs.dwExStyle, cs.lpszClass, cs.lpszName, cs.style, cs.x, cs.y, cs.cx, cs.cy,
                               cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
    });
    return hwnd != nullptr;
}

BOOL CWnd::Create(const char* className, const char* windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                  void*) {
    return CreateEx(0, className, windowName, style | WS_CHILD, rect, parent, id);
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    return ::DestroyWindow(m_hWnd);
}

bool CWnd::SubclassWindow(HWND hwnd) {
    if (!Attach(hwnd)) return false;
    PreSubclassWindow();
    SubclassAttached();
    return true;
}

bool CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    HWND control = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
    return control && SubclassWindow(control);
}

HWND CWnd::UnsubclassWindow() {
    if (m_pfnSuper) SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
    return Detach();
}

const MSG* CWnd::GetCurrentMessage() {
    return &current_message;
}

LRESULT CWnd::Default() {
    return DefWindowProc(current_message.message, current_message.wParam, current_message.lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper) return CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam)) return FALSE;
        *result = 0;
        return TRUE;
    }
    if (message == WM_NOTIFY) {
        LRESULT r = 0;
        if (!OnNotify(wParam, lParam, &r)) return FALSE;
        *result = r;
        return TRUE;
    }
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
        // The control being coloured answers first; a null brush leaves it to this window.
        CWnd* control = FromHandlePermanent(reinterpret_cast<HWND>(lParam));
        if (control && control != this && control->OnChildNotify(message, wParam, lParam, result) && *result)
            return TRUE;
        if (const MessageEntry* e = FindEntry(MsgKind::CtlColor, 0, 0, 0)) {
            MsgCall call{message, wParam, lParam, 0, nullptr, result};
            *result = e->handler(this, call);
            return TRUE;
        }
        return FALSE;
    }
    if (const MessageEntry* e = FindEntry(MsgKind::Message, message, 0, 0)) {
        MsgCall call{message, wParam, lParam, 0, nullptr, result};
        *result = e->handler(this, call);
        return TRUE;
    }
    return FALSE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    const UINT id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    HWND control = reinterpret_cast<HWND>(lParam);
    if (control) {
        CWnd* child = FromHandlePermanent(control);
        LRESULT r = 0;
        if (child && child != this && child->OnChildNotify(WM_COMMAND, wParam, lParam, &r)) return TRUE;
    }
    return OnCmdMsg(id, code, nullptr, nullptr);
}

BOOL CWnd::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    if (!header) return FALSE;
    CWnd* child = FromHandlePermanent(header->hwndFrom);
    if (child && child != this && child->OnChildNotify(WM_NOTIFY, wParam, lParam, result)) return TRUE;
    MsgCall call{WM_NOTIFY, wParam, lParam, static_cast<UINT>(header->idFrom), nullptr, result};
    return OnCmdMsg(static_cast<UINT>(header->idFrom), static_cast<int>(MAKELONG(LOWORD(header->code), WM_NOTIFY)),
                    &call, nullptr);
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const MessageEntry* e = nullptr;
    if (message == WM_COMMAND)
        e = FindEntry(MsgKind::ReflectCommand, WM_COMMAND, HIWORD(wParam), 0);
    else if (message == WM_NOTIFY)
        e = FindEntry(MsgKind::ReflectNotify, WM_NOTIFY, reinterpret_cast<const NMHDR*>(lParam)->code, 0);
    else if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC)
        e = FindEntry(MsgKind::CtlColorReflect, 0, 0, 0);
    if (!e) return FALSE;
    MsgCall call{message, wParam, lParam, 0, nullptr, result};
    const LRESULT r = e->handler(this, call);
    if (message != WM_NOTIFY) *result = r;
    return TRUE;
}

BOOL CWnd::PreTranslateMessage(MSG*) {
    return FALSE;
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return !dx.m_bFailed;
}

void CWnd::GetWindowText(CString& text) const {
    const int n = ::GetWindowTextLengthA(m_hWnd);
    char* buffer = text.GetBuffer(n + 1);
    ::GetWindowTextA(m_hWnd, buffer, n + 1);
    text.ReleaseBuffer();
}

CString CWnd::GetWindowText() const {
    CString text;
    GetWindowText(text);
    return text;
}

CString CWnd::GetDlgItemText(int id) const {
    CString text;
    HWND item = ::GetDlgItem(m_hWnd, id);
    if (item) {
        const int n = ::GetWindowTextLengthA(item);
        ::GetWindowTextA(item, text.GetBuffer(n + 1), n + 1);
        text.ReleaseBuffer();
    }
    return text;
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT swpFlags) {
    const DWORD style = GetStyle();
    const DWORD changed = (style & ~remove) | add;
    if (changed == style) return FALSE;
    ::SetWindowLongPtrA(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(changed));
    if (swpFlags)
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, swpFlags | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

void CWnd::CenterWindow(CWnd* alternate) {
    RECT self, over;
    GetWindowRect(&self);
    HWND around = alternate ? alternate->m_hWnd : ::GetWindow(m_hWnd, GW_OWNER);
    if (!around && (GetStyle() & WS_CHILD)) around = ::GetParent(m_hWnd);
    if (around)
        ::GetWindowRect(around, &over);
    else
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &over, 0);
    int x = over.left + ((over.right - over.left) - (self.right - self.left)) / 2;
    int y = over.top + ((over.bottom - over.top) - (self.bottom - self.top)) / 2;
    if (GetStyle() & WS_CHILD) {
        POINT p{x, y};
        ::ScreenToClient(::GetParent(m_hWnd), &p);
        x = p.x;
        y = p.y;
    }
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
    MessageBoxRequest request;
    request.owner = m_hWnd;
    request.text = text;
    request.caption = caption ? caption : AfxGetAppName();
    request.type = type;
    return AfxShowMessageBox(request);
}

BOOL AfxWalkPreTranslateTree(MSG* msg) {
    for (HWND hwnd = msg->hwnd; hwnd;) {
        CWnd* wnd = CWnd::FromHandlePermanent(hwnd);
        if (wnd && wnd->PreTranslateMessage(msg)) return TRUE;
        if (!(GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_CHILD)) break;
        hwnd = GetParent(hwnd);
    }
    return FALSE;
}

// ---------------------------------------------------------------------------------------
// Window classes

BOOL AfxRegisterClass(WNDCLASSA* wc) {
    WNDCLASSA existing{};
    if (GetClassInfoA(wc->hInstance, wc->lpszClassName, &existing)) return TRUE;
    return RegisterClassA(wc) != 0;
}

const char* AfxRegisterWndClass(UINT style, HCURSOR cursor, HBRUSH background, HICON icon) {
    static std::mutex lock;
    static std::set<std::string> names;  // the registered names live as long as the process
    char name[96];
    std::snprintf(name, sizeof name, "FwWnd:%x:%p:%p:%p", style, static_cast<void*>(cursor),
                  static_cast<void*>(background), static_cast<void*>(icon));
    std::lock_guard<std::mutex> hold(lock);
    auto [it, added] = names.emplace(name);
    if (added) {
        WNDCLASSA wc{};
        wc.style = style;
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = AfxGetInstanceHandle();
        wc.hCursor = cursor;
        wc.hbrBackground = background;
        wc.hIcon = icon;
        wc.lpszClassName = it->c_str();
        if (!AfxRegisterClass(&wc)) {
            names.erase(it);
            return nullptr;
        }
    }
    return it->c_str();
}

// ---------------------------------------------------------------------------------------
// Menus

bool CMenu::LoadMenu(UINT id) {
    DestroyMenu();
    HMENU menu = LoadMenuA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id));
    if (!menu) {
        AfxSetResourceError("menu", id);
        return false;
    }
    AfxClearResourceError();
    m_hMenu = menu;
    owned_ = true;
    return true;
}

bool CMenu::CreatePopupMenu() {
    DestroyMenu();
    m_hMenu = ::CreatePopupMenu();
    owned_ = m_hMenu != nullptr;
    return owned_;
}

bool CMenu::Attach(HMENU menu) {
    DestroyMenu();
    m_hMenu = menu;
    owned_ = true;
    return menu != nullptr;
}

HMENU CMenu::Detach() {
    HMENU menu = m_hMenu;
    m_hMenu = nullptr;
    owned_ = false;
    return menu;
}

bool CMenu::DestroyMenu() {
    if (!m_hMenu) return false;
    const bool done = !owned_ || ::DestroyMenu(m_hMenu);
    m_hMenu = nullptr;
    owned_ = false;
    return done;
}

CString CMenu::GetMenuString(UINT item, UINT flags) const {
    char text[256] = {};
    ::GetMenuStringA(m_hMenu, item, text, sizeof text, flags);
    return CString(text);
}
