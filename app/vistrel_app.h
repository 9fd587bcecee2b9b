// The application object: start-up (single instance with the command line handed to the
// running copy, the resource library, the checks, the outside components' settings, the
// GUI font, the skin, the splash and the main panel) and the exit that undoes it.
#pragma once

#include <windows.h>

#include "framework/app.h"
#include "framework/gdi.h"

class CMainPanel;
class CSplashWnd;

// The single-instance mapping's name.
constexpr char kSingleInstanceName[] = "PreventVistrelMultiInstance";

// Hands each argument of `commandLine` (the arguments after the program name) to `panel`
// by WM_COPYDATA, in order: dwData and cbData the argument's length without its end, the
// text cut to 259 characters. A copy that does not answer within `timeoutMs` ends the
// hand-over. The number of arguments delivered.
int HandOverCommandLine(HWND panel, const char* commandLine, UINT timeoutMs);

class CVistrelApp : public CWinApp {
public:
    CVistrelApp();
    ~CVistrelApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    CFont* GetGuiFont() { return &guiFont_; }
    int CheckSingleInstance();
    int LoadResourceLibrary(const char* fileName);
    int FreeResourceLibrary();
    int CreateGuiFont();
    int CreateMainPanel(CSplashWnd* splash);
    CMainPanel* GetMainPanel() const { return panel_; }

private:
    CFont guiFont_;
    HINSTANCE library_ = nullptr;
    char className_[260];
    char title_[260];
    CMainPanel* panel_ = nullptr;
    // Set once this copy is the only one: only then are the outside components' settings
    // this copy's to remove at exit.
    bool sole_ = false;
};

CVistrelApp* GetVistrelApp();
