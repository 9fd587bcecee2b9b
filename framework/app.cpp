#include "framework/app.h"

#include <mutex>

namespace {

CWinApp* the_app = nullptr;

std::mutex hook_lock;
MessageBoxHook message_box_hook;

}  // namespace

CWinThread::~CWinThread() {
    if (m_hThread) CloseHandle(m_hThread);
}

int CWinThread::ExitInstance() {
    return static_cast<int>(m_msgCur.wParam);
}

BOOL CWinThread::PreTranslateMessage(MSG* msg) {
    return AfxWalkPreTranslateTree(msg);
}

BOOL CWinThread::OnIdle(LONG count) {
    if (count == 0) CWnd::DeleteTempMap();
    return FALSE;
}

BOOL CWinThread::PumpMessage() {
    if (GetMessageA(&m_msgCur, nullptr, 0, 0) <= 0) return FALSE;
    if (!PreTranslateMessage(&m_msgCur)) {
        TranslateMessage(&m_msgCur);
        DispatchMessageA(&m_msgCur);
    }
    return TRUE;
}

int CWinThread::Run() {
    for (;;) {
        MSG peek;
        LONG idle = 0;
        while (!PeekMessageA(&peek, nullptr, 0, 0, PM_NOREMOVE) && OnIdle(idle++)) {
        }
        do {
            if (!PumpMessage()) return ExitInstance();
        } while (PeekMessageA(&peek, nullptr, 0, 0, PM_NOREMOVE));
    }
}

DWORD WINAPI CWinThread::ThreadEntry(void* self) {
    auto* thread = static_cast<CWinThread*>(self);
    const UINT code = thread->proc_(thread->param_);
    CWnd::DeleteTempMap();
    if (thread->m_bAutoDelete) delete thread;
    return code;
}

CWinThread* AfxBeginThread(CWinThread::ThreadProc proc, void* param, int priority, UINT stackSize, DWORD createFlags) {
    auto* thread = new CWinThread(proc, param);
    thread->m_hThread =
        CreateThread(nullptr, stackSize, &CWinThread::ThreadEntry, thread, CREATE_SUSPENDED, &thread->m_nThreadID);
    if (!thread->m_hThread) {
        delete thread;
        return nullptr;
    }
    SetThreadPriority(thread->m_hThread, priority);
    if (!(createFlags & CREATE_SUSPENDED)) ::ResumeThread(thread->m_hThread);
    return thread;
}

CWinApp::CWinApp(const char* appName) : app_name_(appName ? appName : "") {
    the_app = this;
    m_hInstance = GetModuleHandleA(nullptr);
    m_pszAppName = app_name_.c_str();
    m_hThread = nullptr;
    m_nThreadID = GetCurrentThreadId();
}

CWinApp::~CWinApp() {
    if (the_app == this) the_app = nullptr;
}

BOOL CWinApp::OnIdle(LONG count) {
    if (count == 0 && m_pMainWnd && m_pMainWnd->m_hWnd) {
        m_pMainWnd->SendMessage(WM_IDLEUPDATECMDUI, TRUE);
        return TRUE;
    }
    return CWinThread::OnIdle(count - 1);
}

HCURSOR CWinApp::LoadCursor(UINT id) const {
    HCURSOR cursor = ::LoadCursorA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id));
    if (!cursor) AfxSetResourceError("cursor", id);
    return cursor;
}

HICON CWinApp::LoadIcon(UINT id) const {
    HICON icon = ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id));
    if (!icon) AfxSetResourceError("icon", id);
    return icon;
}

CWinApp* AfxGetApp() {
    return the_app;
}
CWnd* AfxGetMainWnd() {
    return the_app ? the_app->m_pMainWnd : nullptr;
}
HINSTANCE AfxGetInstanceHandle() {
    return the_app ? the_app->m_hInstance : GetModuleHandleA(nullptr);
}
const char* AfxGetAppName() {
    return the_app && the_app->m_pszAppName ? the_app->m_pszAppName : "";
}

int AfxWinMain(HINSTANCE instance, const char* cmdLine, int cmdShow) {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    if (instance) app->m_hInstance = instance;
    app->m_lpCmdLine = cmdLine ? cmdLine : "";
    app->m_nCmdShow = cmdShow;
    if (!app->InitInstance()) {
        if (app->m_pMainWnd && app->m_pMainWnd->m_hWnd) app->m_pMainWnd->DestroyWindow();
        return app->ExitInstance();
    }
    return app->Run();
}

BOOL AfxPreTranslateMessage(MSG* msg) {
    CWinApp* app = AfxGetApp();
    return app ? app->PreTranslateMessage(msg) : AfxWalkPreTranslateTree(msg);
}

void AfxPumpWaitingMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (!AfxPreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

void AfxSetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard<std::mutex> hold(hook_lock);
    message_box_hook = std::move(hook);
}

int AfxShowMessageBox(const MessageBoxRequest& request) {
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> hold(hook_lock);
        hook = message_box_hook;
    }
    if (hook) return hook(request);
    HWND owner = request.owner;
    if (!owner && AfxGetMainWnd()) owner = AfxGetMainWnd()->m_hWnd;
    return MessageBoxA(owner, request.text, request.caption, request.type);
}

int AfxMessageBox(const char* text, UINT type, UINT) {
    MessageBoxRequest request;
    request.text = text;
    request.caption = AfxGetAppName();
    request.type = type;
    return AfxShowMessageBox(request);
}

int AfxMessageBox(UINT id, UINT type, UINT) {
    MessageBoxRequest request;
    request.id = id;
    if (!request.text.LoadString(id)) request.text = AfxGetResourceError().c_str();
    request.caption = AfxGetAppName();
    request.type = type;
    return AfxShowMessageBox(request);
}
