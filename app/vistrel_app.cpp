#include "app/vistrel_app.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/app_startup.h"
#include "app/main_panel.h"
#include "app/pages/dv_page_install.h"
#include "app/page_services.h"
#include "app/pages/file_pages.h"
#include "app/resources/program_ids.h"
#include "app/resources/resource_ids.h"
#include "app/services/resource_library.h"
#include "app/services/system_utils.h"
#include "app/services/text_fonts.h"
#include "app/splash_about.h"
#include "engines/client/compressor_search.h"
#include "framework/resources.h"

namespace {

// How long a second copy waits for the running one to take each argument.
constexpr UINT kHandOverTimeoutMs = 10000;

std::string ProgramFolderOf(const char* fileName) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    const size_t slash = folder.rfind('\\');
    (void)fileName;
    return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

}  // namespace

int HandOverCommandLine(HWND panel, const char* commandLine, UINT timeoutMs) {
    if (!panel || !commandLine || !*commandLine) return 0;
    std::wstring wide(commandLine, commandLine + strlen(commandLine));
    int count = 0;
    LPWSTR* args = CommandLineToArgvW((L"Vistrel.exe " + wide).c_str(), &count);
    if (!args) return 0;
    int delivered = 0;
    for (int i = 1; i < count; ++i) {
        char text[MAX_PATH] = {};
        WideCharToMultiByte(CP_ACP, 0, args[i], -1, text, sizeof text - 1, nullptr, nullptr);
        const DWORD length = static_cast<DWORD>(strlen(text));
        COPYDATASTRUCT data{length, length, text};
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutA(panel, WM_COPYDATA, reinterpret_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(&data),
                                 SMTO_ABORTIFHUNG | SMTO_BLOCK, timeoutMs, &answer))
            break;
        ++delivered;
    }
    LocalFree(args);
    return delivered;
}

CVistrelApp::CVistrelApp() : CWinApp("Vistrel") {
    snprintf(className_, sizeof className_, "%s", kMainPanelClass);
    snprintf(title_, sizeof title_, "%s", "Vistrel");
}

CVistrelApp::~CVistrelApp() = default;

CVistrelApp* GetVistrelApp() {
    return static_cast<CVistrelApp*>(AfxGetApp());
}

int CVistrelApp::CheckSingleInstance() {
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 32, kSingleInstanceName);
    if (!mapping) ExitProcess(1);
    if (GetLastError() != ERROR_ALREADY_EXISTS) return 1;  // kept open for the life of this copy
    if (HWND running = FindWindowA(className_, nullptr)) {
        HWND popup = GetLastActivePopup(running);
        if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
        SetForegroundWindow(popup);
        if (popup == running) HandOverCommandLine(running, m_lpCmdLine, kHandOverTimeoutMs);
    }
    CloseHandle(mapping);
    return 0;
}

int CVistrelApp::LoadResourceLibrary(const char* fileName) {
    (void)fileName;
    library_ = ::LoadResourceLibrary(ProgramFolderOf(fileName).c_str());
    if (!library_) return 0;
    AfxSetResourceHandle(library_);
    return 1;
}

int CVistrelApp::FreeResourceLibrary() {
    if (!library_) return 0;
    AfxSetResourceHandle(nullptr);
    ::FreeResourceLibrary(library_);
    library_ = nullptr;
    return 1;
}

int CVistrelApp::CreateGuiFont() {
    if (!MakeGuiFont(guiFont_)) return 0;
    SetAppGuiFont(static_cast<HFONT>(guiFont_.m_hObject));
    return 1;
}

int CVistrelApp::CreateMainPanel(CSplashWnd* splash) {
    WNDCLASSA wc{};
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC | CS_PARENTDC | CS_BYTEALIGNCLIENT | CS_BYTEALIGNWINDOW;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = m_hInstance;
    wc.hIcon = ::LoadIconA(m_hInstance, MAKEINTRESOURCEA(IDI_APP));
    wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = className_;
    if (!AfxRegisterClass(&wc)) return 0;

    {
        // The DV capture page in its slot of the main page.
        PageFactory pages = GetPageFactory();
        InstallDVCapturePage(&pages);
        SetPageFactory(pages);
    }
    // The file conversion page and the export room join the pages the main page can make.
    PageFactory pages = GetPageFactory();
    InstallFilePages(pages);
    SetPageFactory(pages);

    panel_ = new CMainPanel;
    RECT rect{};
    panel_->GetInitialRect(&rect);
    if (!panel_->CreateEx(WS_EX_ACCEPTFILES, className_, title_,
                          WS_POPUP | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, rect, nullptr, 0,
                          splash)) {
        // A frame whose creation failed has already deleted itself.
        panel_ = nullptr;
        ShowMessage("MainPanel Create");
        return 0;
    }
    m_pMainWnd = panel_;
    panel_->CenterWindow();
    panel_->ShowWindow(SW_SHOWNORMAL);
    panel_->UpdateWindow();
    panel_->ProcessCommandLine(m_lpCmdLine);
    return 1;
}

BOOL CVistrelApp::InitInstance() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (!CheckSingleInstance()) return FALSE;
    sole_ = true;
    if (GetWindowsVersionClass() == 7 && IsAnotherInstanceRunning()) {
        // The resource library is not loaded yet: the string comes from it when it can.
        HINSTANCE library = ::LoadResourceLibrary(ProgramFolderOf(kResourceLibraryName).c_str());
        char format[256] = "%s is already running.";
        if (library) LoadStringA(library, IDS_ALREADY_RUNNING, format, sizeof format);
        char text[544];
        snprintf(text, sizeof text, format, title_);
        MessageBoxA(nullptr, text, title_, MB_OK | MB_ICONEXCLAMATION);
        if (library) ::FreeResourceLibrary(library);
        return FALSE;
    }
    if (!LoadResourceLibrary(kResourceLibraryName)) return FALSE;
    if (GetSystemMetrics(SM_CXSCREEN) < 800 || GetSystemMetrics(SM_CYSCREEN) < 600) {
        AfxMessageBox(IDS_SCREEN_TOO_SMALL, MB_OK, 0);
        FreeResourceLibrary();
        return FALSE;
    }
    WriteComponentSettings();
    if (FAILED(CheckEncoderFilterInstalled())) {
        ShowMessage("%s", AfxLoadString(IDS_ENCODER_MISSING).c_str());
        FreeResourceLibrary();
        return FALSE;
    }
    CreateGuiFont();
    SelectSkinImages();
    CSplashWnd* splash = ShowSplash();
    if (!splash) return FALSE;
    SetSplashText(splash, "Load Skin");
    if (!LoadSkin()) return FALSE;
    SetSplashText(splash, "Create MainPanel");
    if (!CreateMainPanel(splash)) return FALSE;
    CloseSplash(&splash);
    return TRUE;
}

int CVistrelApp::ExitInstance() {
    FreeResourceLibrary();
    if (sole_) RemoveComponentSettings();
    FreeSkin();
    return CWinApp::ExitInstance();
}
