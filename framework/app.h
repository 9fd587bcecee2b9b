// The application object, its message loop and idle processing, worker threads, and
// message boxes with a hook for tests.
#pragma once

#include <windows.h>

#include <functional>

#include "framework/resources.h"
#include "framework/string.h"
#include "framework/wnd.h"

class CWinThread : public CCmdTarget {
public:
    using ThreadProc = UINT (*)(void* param);

    CWinThread() = default;
    CWinThread(ThreadProc proc, void* param) : proc_(proc), param_(param) {}
    ~CWinThread() override;

    CWnd* m_pMainWnd = nullptr;
    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    // Worker threads delete their object when they end unless this is cleared before the
    // thread is resumed (create it suspended to do so).
    BOOL m_bAutoDelete = TRUE;

    virtual BOOL InitInstance() { return FALSE; }
    // Runs after the loop ends, and also after InitInstance failed; its result is the exit code.
    virtual int ExitInstance();
    // The message loop: messages through PreTranslateMessage, OnIdle when the queue is empty.
    virtual int Run();
    // The window of the message, then its parents up to the top-level window.
    virtual BOOL PreTranslateMessage(MSG* msg);
    // Idle work; `count` counts the calls since the last message. True asks for more calls.
    virtual BOOL OnIdle(LONG count);
    // Takes one message (waiting for it) and dispatches it; false on WM_QUIT.
    virtual BOOL PumpMessage();
    CWnd* GetMainWnd() const { return m_pMainWnd; }

    DWORD ResumeThread() { return ::ResumeThread(m_hThread); }

protected:
    MSG m_msgCur{};

private:
    friend CWinThread* AfxBeginThread(ThreadProc, void*, int, UINT, DWORD);
    static DWORD WINAPI ThreadEntry(void* self);
    ThreadProc proc_ = nullptr;
    void* param_ = nullptr;
};

// Starts a worker thread running `proc(param)`; null when it cannot be started.
CWinThread* AfxBeginThread(CWinThread::ThreadProc proc, void* param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0);

class CWinApp : public CWinThread {
public:
    // The one application object of the process; created statically by the program.
    explicit CWinApp(const char* appName = nullptr);
    ~CWinApp() override;

    HINSTANCE m_hInstance = nullptr;
    const char* m_pszAppName = nullptr;
    const char* m_lpCmdLine = "";
    int m_nCmdShow = SW_SHOWNORMAL;

    BOOL OnIdle(LONG count) override;

    // Cursors and icons from the resource module; the standard ones from the system.
    HCURSOR LoadCursor(UINT id) const;
    HCURSOR LoadStandardCursor(LPCSTR id) const { return ::LoadCursorA(nullptr, id); }
    HICON LoadIcon(UINT id) const;

private:
    std::string app_name_;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
const char* AfxGetAppName();
// The framework's entry: InitInstance, then the loop, then ExitInstance; after a failed
// InitInstance, ExitInstance alone. Returns the exit code.
int AfxWinMain(HINSTANCE instance, const char* cmdLine, int cmdShow);
// Gives a message to the application's PreTranslateMessage chain (the walk alone when
// there is no application object); used by every message loop of the framework.
BOOL AfxPreTranslateMessage(MSG* msg);
// Runs the loop until the queue is empty, for code that must keep windows alive while busy.
void AfxPumpWaitingMessages();

// One request for a message box: the string id it came from (0 for a text), its text,
// caption, buttons and owner.
struct MessageBoxRequest {
    UINT id = 0;
    CString text;
    CString caption;
    UINT type = MB_OK;
    HWND owner = nullptr;
};
// With a hook set, message boxes are not shown: the hook gets each request and its
// answer (IDOK, IDYES, ...) is returned. An empty hook restores real message boxes.
using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;
void AfxSetMessageBoxHook(MessageBoxHook hook);
int AfxShowMessageBox(const MessageBoxRequest& request);

int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);
// Resource string `id`; when it is missing, the box says which id is missing.
int AfxMessageBox(UINT id, UINT type = MB_OK, UINT helpId = static_cast<UINT>(-1));
