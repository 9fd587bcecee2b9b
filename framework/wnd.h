// Command targets, message maps and windows.
//
// A class's message map is a static table of entries built by the BEGIN_MESSAGE_MAP ...
// END_MESSAGE_MAP macros; lookups walk the table, then the base class's table. Each entry
// holds a small adapter (a captureless lambda) that unpacks the message's parameters and
// calls the handler member, so handlers keep their natural signatures.
//
// Windows are tied to their CWnd through a process-wide handle map guarded by a lock, so
// worker threads can find a window's object; their own calls on it go through
// SendMessage/PostMessage like any cross-thread window call.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>

#include "framework/gdi.h"
#include "framework/object.h"
#include "framework/string.h"

class CCmdTarget;
class CCmdUI;
class CWnd;
class CDataExchange;

// Codes of OnCmdMsg besides a WM_COMMAND notification code (0..0xFFFF).
constexpr int CN_COMMAND = 0;
constexpr int CN_UPDATE_COMMAND_UI = -1;
// A WM_NOTIFY notification travels as MAKELONG(code, WM_NOTIFY).
constexpr int CN_NOTIFY_FLAG = WM_NOTIFY;

// Sent to a frame when the application is idle, so its command-UI state can be refreshed.
constexpr UINT WM_IDLEUPDATECMDUI = 0x0363;

enum class MsgKind : unsigned char {
    End,
    Message,          // a window message (or a registered one, through `registered`)
    Command,          // WM_COMMAND with `code` from ids first..last
    UpdateUI,         // update-UI of ids first..last
    Notify,           // WM_NOTIFY with `code` from ids first..last
    ReflectCommand,   // a control's own WM_COMMAND notification `code`, reflected by its parent
    ReflectNotify,    // a control's own WM_NOTIFY `code`, reflected by its parent
    CtlColor,         // any WM_CTLCOLOR* message to the parent
    CtlColorReflect,  // WM_CTLCOLOR* reflected to the control being coloured
};

struct MsgCall {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    UINT id;          // command or control id
    void* extra;      // CCmdUI* for update-UI
    LRESULT* result;  // where notify handlers put their result
};

using MsgHandler = LRESULT (*)(CCmdTarget* target, MsgCall& call);

struct MessageEntry {
    MsgKind kind;
    UINT message;
    UINT code;
    UINT first;
    UINT last;
    const UINT* registered;  // the variable that holds a registered message's number
    MsgHandler handler;
};

struct MessageMap {
    const MessageMap* (*base)();
    const MessageEntry* entries;
};

#define DECLARE_MESSAGE_MAP()                         \
protected:                                            \
    static const MessageMap* GetThisMessageMap();     \
    const MessageMap* GetMessageMap() const override; \
                                                      \
private:

#define BEGIN_MESSAGE_MAP(cls, base)               \
    const MessageMap* cls::GetMessageMap() const { \
        return GetThisMessageMap();                \
    }                                              \
    const MessageMap* cls::GetThisMessageMap() {   \
        using ThisClass = cls;                     \
        using TheBaseClass = base;                 \
        static const MessageEntry entries[] = {
#define END_MESSAGE_MAP()                                                   \
    { MsgKind::End, 0, 0, 0, 0, nullptr, nullptr }                          \
    }                                                                       \
    ;                                                                       \
    static const MessageMap map{&TheBaseClass::GetThisMessageMap, entries}; \
    return &map;                                                            \
    }

#define FW_THIS(t) static_cast<ThisClass*>(t)
#define FW_ENTRY(kind, msg, code, first, last, body)                                   \
    {kind, msg, code, first, last, nullptr, [](CCmdTarget* t, MsgCall& c) -> LRESULT { \
         (void)t;                                                                      \
         (void)c;                                                                      \
         body                                                                          \
     }},

// Commands and their user-interface state.
#define ON_COMMAND(id, fn) FW_ENTRY(MsgKind::Command, WM_COMMAND, 0, id, id, FW_THIS(t)->fn(); return 0;)
#define ON_COMMAND_RANGE(first, last, fn) \
    FW_ENTRY(MsgKind::Command, WM_COMMAND, 0, first, last, FW_THIS(t)->fn(c.id); return 0;)
#define ON_CONTROL(code, id, fn) FW_ENTRY(MsgKind::Command, WM_COMMAND, code, id, id, FW_THIS(t)->fn(); return 0;)
#define ON_CONTROL_RANGE(code, first, last, fn) \
    FW_ENTRY(MsgKind::Command, WM_COMMAND, code, first, last, FW_THIS(t)->fn(c.id); return 0;)
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_EN_CHANGE(id, fn) ON_CONTROL(EN_CHANGE, id, fn)
#define ON_CBN_SELCHANGE(id, fn) ON_CONTROL(CBN_SELCHANGE, id, fn)
#define ON_UPDATE_COMMAND_UI(id, fn) \
    FW_ENTRY(MsgKind::UpdateUI, 0, 0, id, id, FW_THIS(t)->fn(static_cast<CCmdUI*>(c.extra)); return 0;)
#define ON_UPDATE_COMMAND_UI_RANGE(first, last, fn) \
    FW_ENTRY(MsgKind::UpdateUI, 0, 0, first, last, FW_THIS(t)->fn(static_cast<CCmdUI*>(c.extra)); return 0;)

// Notifications from child controls, and the ones a control takes back from its parent.
#define ON_NOTIFY(code, id, fn)                                            \
    FW_ENTRY(MsgKind::Notify, WM_NOTIFY, static_cast<UINT>(code), id, id,  \
             FW_THIS(t)->fn(reinterpret_cast<NMHDR*>(c.lParam), c.result); \
             return 0;)
#define ON_NOTIFY_RANGE(code, first, last, fn)                                   \
    FW_ENTRY(MsgKind::Notify, WM_NOTIFY, static_cast<UINT>(code), first, last,   \
             FW_THIS(t)->fn(c.id, reinterpret_cast<NMHDR*>(c.lParam), c.result); \
             return 0;)
#define ON_NOTIFY_REFLECT(code, fn)                                            \
    FW_ENTRY(MsgKind::ReflectNotify, WM_NOTIFY, static_cast<UINT>(code), 0, 0, \
             FW_THIS(t)->fn(reinterpret_cast<NMHDR*>(c.lParam), c.result);     \
             return 0;)
#define ON_CONTROL_REFLECT(code, fn) \
    FW_ENTRY(MsgKind::ReflectCommand, WM_COMMAND, code, 0, 0, FW_THIS(t)->fn(); return 0;)
// HBRUSH CtlColor(CDC*, UINT ctlType): a null brush leaves the colouring to the parent.
#define ON_WM_CTLCOLOR_REFLECT()                                                                       \
    FW_ENTRY(MsgKind::CtlColorReflect, 0, 0, 0, 0, CDC dc; dc.Attach(reinterpret_cast<HDC>(c.wParam)); \
             return reinterpret_cast<LRESULT>(FW_THIS(t)->CtlColor(&dc, c.message - WM_CTLCOLORMSGBOX));)

// Window messages.
#define ON_MESSAGE(msg, fn) FW_ENTRY(MsgKind::Message, msg, 0, 0, 0, return FW_THIS(t)->fn(c.wParam, c.lParam);)
#define ON_REGISTERED_MESSAGE(var, fn)                                              \
    {MsgKind::Message, 0, 0, 0, 0, &var, [](CCmdTarget* t, MsgCall& c) -> LRESULT { \
         return FW_THIS(t)->fn(c.wParam, c.lParam);                                 \
     }},
#define ON_WM_CREATE()                             \
    FW_ENTRY(MsgKind::Message, WM_CREATE, 0, 0, 0, \
             return FW_THIS(t)->OnCreate(reinterpret_cast<LPCREATESTRUCTA>(c.lParam));)
#define ON_WM_DESTROY() FW_ENTRY(MsgKind::Message, WM_DESTROY, 0, 0, 0, FW_THIS(t)->OnDestroy(); return 0;)
#define ON_WM_CLOSE() FW_ENTRY(MsgKind::Message, WM_CLOSE, 0, 0, 0, FW_THIS(t)->OnClose(); return 0;)
#define ON_WM_PAINT() FW_ENTRY(MsgKind::Message, WM_PAINT, 0, 0, 0, FW_THIS(t)->OnPaint(); return 0;)
#define ON_WM_ERASEBKGND()                                                                                 \
    FW_ENTRY(MsgKind::Message, WM_ERASEBKGND, 0, 0, 0, CDC dc; dc.Attach(reinterpret_cast<HDC>(c.wParam)); \
             return FW_THIS(t)->OnEraseBkgnd(&dc);)
#define ON_WM_SIZE()                                                                              \
    FW_ENTRY(MsgKind::Message, WM_SIZE, 0, 0, 0,                                                  \
             FW_THIS(t)->OnSize(static_cast<UINT>(c.wParam), LOWORD(c.lParam), HIWORD(c.lParam)); \
             return 0;)
#define ON_WM_TIMER() FW_ENTRY(MsgKind::Message, WM_TIMER, 0, 0, 0, FW_THIS(t)->OnTimer(c.wParam); return 0;)
#define FW_MOUSE(msg, fn) \
    FW_ENTRY(MsgKind::Message, msg, 0, 0, 0, FW_THIS(t)->fn(static_cast<UINT>(c.wParam), CPoint(c.lParam)); return 0;)
#define ON_WM_LBUTTONDOWN() FW_MOUSE(WM_LBUTTONDOWN, OnLButtonDown)
#define ON_WM_LBUTTONUP() FW_MOUSE(WM_LBUTTONUP, OnLButtonUp)
#define ON_WM_LBUTTONDBLCLK() FW_MOUSE(WM_LBUTTONDBLCLK, OnLButtonDblClk)
#define ON_WM_RBUTTONDOWN() FW_MOUSE(WM_RBUTTONDOWN, OnRButtonDown)
#define ON_WM_MOUSEMOVE() FW_MOUSE(WM_MOUSEMOVE, OnMouseMove)
// int OnMouseActivate(CWnd* topLevel, UINT hitTest, UINT mouseMessage): an MA_* code.
#define ON_WM_MOUSEACTIVATE()                                                                                         \
    FW_ENTRY(MsgKind::Message, WM_MOUSEACTIVATE, 0, 0, 0,                                                             \
             return FW_THIS(t)->OnMouseActivate(CWnd::FromHandle(reinterpret_cast<HWND>(c.wParam)), LOWORD(c.lParam), \
                                                HIWORD(c.lParam));)
#define ON_WM_KEYDOWN()                                                                              \
    FW_ENTRY(MsgKind::Message, WM_KEYDOWN, 0, 0, 0,                                                  \
             FW_THIS(t)->OnKeyDown(static_cast<UINT>(c.wParam), LOWORD(c.lParam), HIWORD(c.lParam)); \
             return 0;)
#define ON_WM_HSCROLL()                                                                                                \
    FW_ENTRY(                                                                                                          \
        MsgKind::Message, WM_HSCROLL, 0, 0, 0,                                                                         \
        FW_THIS(t)->OnHScroll(LOWORD(c.wParam), HIWORD(c.wParam), CWnd::FromHandle(reinterpret_cast<HWND>(c.lParam))); \
        return 0;)
#define ON_WM_VSCROLL()                                                                                                \
    FW_ENTRY(                                                                                                          \
        MsgKind::Message, WM_VSCROLL, 0, 0, 0,                                                                         \
        FW_THIS(t)->OnVScroll(LOWORD(c.wParam), HIWORD(c.wParam), CWnd::FromHandle(reinterpret_cast<HWND>(c.lParam))); \
        return 0;)
#define ON_WM_SETCURSOR()                                                                                         \
    FW_ENTRY(MsgKind::Message, WM_SETCURSOR, 0, 0, 0,                                                             \
             return FW_THIS(t)->OnSetCursor(CWnd::FromHandle(reinterpret_cast<HWND>(c.wParam)), LOWORD(c.lParam), \
                                            HIWORD(c.lParam));)
// HBRUSH OnCtlColor(CDC*, CWnd* control, UINT ctlType) for every WM_CTLCOLOR* message.
#define ON_WM_CTLCOLOR()                                                                        \
    FW_ENTRY(MsgKind::CtlColor, 0, 0, 0, 0, CDC dc; dc.Attach(reinterpret_cast<HDC>(c.wParam)); \
             return reinterpret_cast<LRESULT>(FW_THIS(t)->OnCtlColor(                           \
                 &dc, CWnd::FromHandle(reinterpret_cast<HWND>(c.lParam)), c.message - WM_CTLCOLORMSGBOX));)

class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)

public:
    // Offers a command (nCode a WM_COMMAND notification code), an update-UI request
    // (CN_UPDATE_COMMAND_UI, pExtra the CCmdUI) or a notification (MAKELONG(code,
    // WM_NOTIFY), pExtra the MsgCall) to this target's map. With pHandlerInfo set, only
    // tells whether a handler exists. Derived targets route on to other targets.
    virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo);

protected:
    static const MessageMap* GetThisMessageMap();
    virtual const MessageMap* GetMessageMap() const;
    // The first entry of this object's map chain that matches.
    const MessageEntry* FindEntry(MsgKind kind, UINT message, UINT code, UINT id) const;
};

// The user-interface state of one command (a menu item or a control), set by the update
// handlers of the command's target.
class CCmdUI {
public:
    virtual ~CCmdUI() = default;
    UINT m_nID = 0;
    UINT m_nIndex = 0;
    HMENU m_hMenu = nullptr;   // set when the command is a menu item
    CWnd* m_pOther = nullptr;  // set when the command is a control
    bool m_bEnableChanged = false;

    virtual void Enable(BOOL on = TRUE);
    virtual void SetCheck(int check = 1);
    virtual void SetText(const char* text);
    // Asks `target` for the state; without an update handler and with
    // `disableIfNoHandler`, a command nobody handles is disabled. True when a handler ran.
    BOOL DoUpdate(CCmdTarget* target, BOOL disableIfNoHandler);
};

class CWnd : public CCmdTarget {
    DECLARE_DYNCREATE(CWnd)

public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    // Destroys the window when this object still owns it.
    ~CWnd() override;

    HWND m_hWnd = nullptr;
    operator HWND() const { return m_hWnd; }  // NOLINT
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The window's object: its permanent one, else a temporary one owned by the calling
    // thread and freed by DeleteTempMap (at idle time, or when a worker thread ends).
    static CWnd* FromHandle(HWND hwnd);
    static CWnd* FromHandlePermanent(HWND hwnd);
    static void DeleteTempMap();

    bool Attach(HWND hwnd);
    HWND Detach();
    // Routes an existing window's messages through this object's map.
    bool SubclassWindow(HWND hwnd);
    bool SubclassDlgItem(UINT id, CWnd* parent);
    HWND UnsubclassWindow();

    virtual BOOL CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, const RECT& rect,
                          CWnd* parent, UINT id, void* param = nullptr);
    virtual BOOL Create(const char* className, const char* windowName, DWORD style, const RECT& rect, CWnd* parent,
                        UINT id, void* context = nullptr);
    virtual BOOL DestroyWindow();

    virtual BOOL PreCreateWindow(CREATESTRUCTA& cs);
    virtual void PreSubclassWindow() {}
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
    // A control's chance to handle its own notification (or WM_CTLCOLOR*) before its parent.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual void PostNcDestroy() {}
    virtual void DoDataExchange(CDataExchange*) {}
    // Moves data between the controls and the members: true saves into the members.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // The message being handled on this thread, and its default processing.
    static const MSG* GetCurrentMessage();
    LRESULT Default();

    LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::SendMessageA(m_hWnd, msg, wp, lp); }
    BOOL PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::PostMessageA(m_hWnd, msg, wp, lp); }
    CWnd* GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    void SetDlgCtrlID(int id) { ::SetWindowLongPtrA(m_hWnd, GWLP_ID, id); }
    CWnd* GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
    void SetWindowText(const char* text) { ::SetWindowTextA(m_hWnd, text); }
    void GetWindowText(CString& text) const;
    CString GetWindowText() const;
    int GetWindowTextLength() const { return ::GetWindowTextLengthA(m_hWnd); }
    void SetDlgItemText(int id, const char* text) { ::SetDlgItemTextA(m_hWnd, id, text); }
    CString GetDlgItemText(int id) const;
    void SetDlgItemInt(int id, UINT value, BOOL isSigned = TRUE) { ::SetDlgItemInt(m_hWnd, id, value, isSigned); }
    UINT GetDlgItemInt(int id, BOOL* translated = nullptr, BOOL isSigned = TRUE) const {
        return ::GetDlgItemInt(m_hWnd, id, translated, isSigned);
    }
    void CheckDlgButton(int id, UINT check) { ::CheckDlgButton(m_hWnd, id, check); }
    UINT IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }
    BOOL ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }
    void MoveWindow(int x, int y, int w, int h, BOOL repaint = TRUE) { ::MoveWindow(m_hWnd, x, y, w, h, repaint); }
    void MoveWindow(const RECT& r, BOOL repaint = TRUE) {
        MoveWindow(r.left, r.top, r.right - r.left, r.bottom - r.top, repaint);
    }
    BOOL SetWindowPos(HWND after, int x, int y, int w, int h, UINT flags) {
        return ::SetWindowPos(m_hWnd, after, x, y, w, h, flags);
    }
    void GetClientRect(RECT* r) const { ::GetClientRect(m_hWnd, r); }
    void GetWindowRect(RECT* r) const { ::GetWindowRect(m_hWnd, r); }
    void ScreenToClient(RECT* r) const { ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(r), 2); }
    void ScreenToClient(POINT* p) const { ::ScreenToClient(m_hWnd, p); }
    void ClientToScreen(RECT* r) const { ::MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<POINT*>(r), 2); }
    void ClientToScreen(POINT* p) const { ::ClientToScreen(m_hWnd, p); }
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
    void InvalidateRect(const RECT* r, BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, r, erase); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    BOOL RedrawWindow(const RECT* r = nullptr, HRGN rgn = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE) {
        return ::RedrawWindow(m_hWnd, r, rgn, flags);
    }
    CWnd* SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
    static CWnd* GetFocus() { return FromHandle(::GetFocus()); }
    UINT_PTR SetTimer(UINT_PTR id, UINT ms, TIMERPROC proc = nullptr) { return ::SetTimer(m_hWnd, id, ms, proc); }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE)); }
    DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE)); }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT swpFlags = 0);
    void SetFont(HFONT font, BOOL redraw = TRUE) { SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw); }
    HFONT GetFont() const { return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)); }
    void CenterWindow(CWnd* alternate = nullptr);
    // A message box owned by this window, through the application's message-box hook.
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);

    // Default handlers behind the ON_WM_* entries: the message's default processing.
    int OnCreate(LPCREATESTRUCTA) { return static_cast<int>(Default()); }
    void OnDestroy() { Default(); }
    void OnClose() { Default(); }
    void OnPaint() { Default(); }
    BOOL OnEraseBkgnd(CDC*) { return static_cast<BOOL>(Default()); }
    void OnSize(UINT, int, int) { Default(); }
    void OnTimer(UINT_PTR) { Default(); }
    void OnLButtonDown(UINT, CPoint) { Default(); }
    void OnLButtonUp(UINT, CPoint) { Default(); }
    void OnLButtonDblClk(UINT, CPoint) { Default(); }
    void OnRButtonDown(UINT, CPoint) { Default(); }
    void OnMouseMove(UINT, CPoint) { Default(); }
    int OnMouseActivate(CWnd*, UINT, UINT) { return static_cast<int>(Default()); }
    void OnKeyDown(UINT, UINT, UINT) { Default(); }
    void OnHScroll(UINT, UINT, CWnd*) { Default(); }
    void OnVScroll(UINT, UINT, CWnd*) { Default(); }
    BOOL OnSetCursor(CWnd*, UINT, UINT) { return static_cast<BOOL>(Default()); }
    HBRUSH OnCtlColor(CDC*, CWnd*, UINT) { return reinterpret_cast<HBRUSH>(Default()); }

    DECLARE_MESSAGE_MAP()

protected:
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend LRESULT CALLBACK FwCreationHook(int, WPARAM, LPARAM);
    // Creation with this object attached from the window's first message on.
    HWND CreateHooked(const std::function<HWND()>& create);
    void SubclassAttached();

    WNDPROC m_pfnSuper = nullptr;  // the procedure unhandled messages go to
};

// Registers a window class whose procedure the framework replaces when it creates windows
// of it (give DefWindowProcA). Already registered counts as success.
BOOL AfxRegisterClass(WNDCLASSA* wc);
// A window class of the given style, cursor, background and icon, registered on first use
// under a generated name, which is returned.
const char* AfxRegisterWndClass(UINT style, HCURSOR cursor = nullptr, HBRUSH background = nullptr,
                                HICON icon = nullptr);

// Registers the common control classes once per process (list views, sliders, ...).
void AfxInitCommonControls();

// Offers `msg` to the PreTranslateMessage of its window and then each parent up to the
// top-level window; true when one of them took it.
BOOL AfxWalkPreTranslateTree(MSG* msg);

// A menu, loaded from the resource module or built; owned unless attached.
class CMenu : public CObject {
public:
    CMenu() = default;
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;
    ~CMenu() override { DestroyMenu(); }

    HMENU m_hMenu = nullptr;
    operator HMENU() const { return m_hMenu; }  // NOLINT
    HMENU GetSafeHmenu() const { return m_hMenu; }
    // Menu resource `id`; false (error in AfxGetResourceError) when missing.
    bool LoadMenu(UINT id);
    bool CreatePopupMenu();
    bool Attach(HMENU menu);
    HMENU Detach();
    bool DestroyMenu();
    bool AppendMenu(UINT flags, UINT_PTR id = 0, const char* text = nullptr) {
        return ::AppendMenuA(m_hMenu, flags, id, text) != 0;
    }
    UINT EnableMenuItem(UINT item, UINT flags) { return ::EnableMenuItem(m_hMenu, item, flags); }
    DWORD CheckMenuItem(UINT item, UINT flags) { return ::CheckMenuItem(m_hMenu, item, flags); }
    UINT GetMenuState(UINT item, UINT flags) const { return ::GetMenuState(m_hMenu, item, flags); }
    int GetMenuItemCount() const { return ::GetMenuItemCount(m_hMenu); }
    UINT GetMenuItemID(int pos) const { return ::GetMenuItemID(m_hMenu, pos); }
    CString GetMenuString(UINT item, UINT flags) const;
    // The popup at `pos`; it stays owned by this menu.
    HMENU GetSubMenu(int pos) const { return ::GetSubMenu(m_hMenu, pos); }
    BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* owner) const {
        return ::TrackPopupMenu(m_hMenu, flags, x, y, 0, owner->m_hWnd, nullptr);
    }

private:
    bool owned_ = false;
};
