// The main panel: the application's main window. A skinned frame carrying the menu bar and
// hosting the main encode page; it routes menu and keyboard commands to the page, decides
// which commands are enabled, opens help, preferences and About, refuses suspend and session
// end while work runs, follows display and session changes, and takes files and projects
// from the shell (dropped files, and a second copy's command line by WM_COPYDATA).
#pragma once

#include <windows.h>

#include "app/command_bar.h"
#include "app/enc_main_page.h"
#include "app/gxt_frame.h"

class CSplashWnd;

// Window class name and title of the main panel.
constexpr char kMainPanelClass[] = "Vistrel";

// Layouts of the panel.
constexpr int kLayoutClosing = 0;
constexpr int kLayoutLarge = 1;
constexpr int kLayoutSmall = 2;

// Whether the panel's command `code` is enabled for `page` (null: nothing decided, so
// enabled as far as the panel knows).
bool IsPanelCommandEnabled(CEncMainPage* page, UINT code);

class CMainPanel : public CGXTFrameWnd {
public:
    CMainPanel();
    ~CMainPanel() override;

    // (0, 0, 1024, 768) and layout 1 on a screen of at least 1024x768, else (0, 0, 800, 600)
    // and layout 2.
    void GetInitialRect(RECT* rect);
    // Opens the first command-line argument with the extension ".qzt" as a project.
    void ProcessCommandLine(const char* commandLine);

    CEncMainPage* GetMainPage() const { return page_; }
    CCommandBars* GetMenuBar() const { return bars_; }
    int GetLayout() const { return layout_; }
    const RECT& GetMenuBarRect() const { return menuBarRect_; }

    // The keyboard translator: true when it consumed the key.
    BOOL TranslateShortcut(const MSG* msg);

    BOOL PreTranslateMessage(MSG* msg) override;

    int OnCreate(LPCREATESTRUCTA cs);
    void OnDestroy();
    void OnCommandRange(UINT id);
    void OnUpdateCommand(CCmdUI* ui);
    LRESULT OnSysCommand(WPARAM wParam, LPARAM lParam);
    LRESULT OnQueryEndSession(WPARAM wParam, LPARAM lParam);
    LRESULT OnPowerBroadcast(WPARAM wParam, LPARAM lParam);
    LRESULT OnSessionChange(WPARAM wParam, LPARAM lParam);
    LRESULT OnDisplayChange(WPARAM wParam, LPARAM lParam);
    LRESULT OnDropFiles(WPARAM wParam, LPARAM lParam);
    LRESULT OnCopyData(WPARAM wParam, LPARAM lParam);
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;

    DECLARE_MESSAGE_MAP()

protected:
    // The preferences sheet: IDCANCEL or another answer.
    virtual INT_PTR RunPreferences();
    // A question box.
    virtual int Ask(UINT stringId, UINT type);

private:
    BOOL CreateMenuBar();
    void CreateMainPage();
    void ShowHelp(UINT code);
    LRESULT Send(UINT code);

    CEncMainPage* page_ = nullptr;
    CCommandBars* bars_ = nullptr;
    RECT menuBarRect_{};
    int layout_ = kLayoutLarge;
    CSplashWnd* splash_ = nullptr;
};

// Session notifications through "wtsapi32.dll" (looked up once): 1 when registered or
// unregistered, 0 when the library or its entry point is missing.
int RegisterSessionNotify(HWND window, DWORD flags);
int UnregisterSessionNotify(HWND window);
