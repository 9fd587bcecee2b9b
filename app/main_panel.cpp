#include "app/main_panel.h"

#include <shellapi.h>
#include <shlwapi.h>
#include <wtsapi32.h>

#include <cstring>
#include <string>

#include "app/app_startup.h"
#include "app/preferences_dlg.h"
#include "app/resources/resource_ids.h"
#include "app/skin/skin_layout.h"
#include "app/splash_about.h"
#include "framework/app.h"

namespace {

constexpr UINT kPanelFeatures = 251;  // everything but maximise
constexpr UINT kBusyFeatures = 2;     // minimise only
constexpr UINT kIdleFeatures = 255;

bool KeyDown(int key) {
    return (GetKeyState(key) & 0x8000) != 0;
}

// The program's folder: its full path up to, not including, the last backslash.
std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    const size_t slash = folder.rfind('\\');
    return slash == std::string::npos ? folder : folder.substr(0, slash);
}

// HtmlHelpA of the HTML Help control (ordinal 14), or null when the control is missing.
using HtmlHelpProc = HWND(WINAPI*)(HWND, const char*, UINT, DWORD_PTR);
HtmlHelpProc HtmlHelpEntry() {
    static HtmlHelpProc proc = [] {
        HMODULE control = LoadLibraryA("hhctrl.ocx");
        return control ? reinterpret_cast<HtmlHelpProc>(
                             reinterpret_cast<void*>(GetProcAddress(control, MAKEINTRESOURCEA(14))))
                       : nullptr;
    }();
    return proc;
}

// The full-text query of the HTML Help search.
struct HelpSearchQuery {
    int cbStruct;
    BOOL fUniCodeStrings;
    const char* pszSearchQuery;
    LONG iProximity;
    BOOL fStemmedSearch;
    BOOL fTitleOnly;
    BOOL fExecute;
    const char* pszWindow;
};

struct SessionLibrary {
    HMODULE module = nullptr;
    BOOL(WINAPI* registerProc)(HWND, DWORD) = nullptr;
    BOOL(WINAPI* unregisterProc)(HWND) = nullptr;
    bool looked = false;
};
SessionLibrary& Session() {
    static SessionLibrary library;
    return library;
}

}  // namespace

int RegisterSessionNotify(HWND window, DWORD flags) {
    SessionLibrary& s = Session();
    if (!s.module) s.module = LoadLibraryA("wtsapi32.dll");
    if (!s.module) return 0;
    if (!s.registerProc)
        s.registerProc = reinterpret_cast<BOOL(WINAPI*)(HWND, DWORD)>(
            reinterpret_cast<void*>(GetProcAddress(s.module, "WTSRegisterSessionNotification")));
    if (!s.registerProc) {
        FreeLibrary(s.module);
        s.module = nullptr;
        return 0;
    }
    s.registerProc(window, flags);
    return 1;
}

int UnregisterSessionNotify(HWND window) {
    SessionLibrary& s = Session();
    if (!s.module) return 0;
    if (!s.unregisterProc)
        s.unregisterProc = reinterpret_cast<BOOL(WINAPI*)(HWND)>(
            reinterpret_cast<void*>(GetProcAddress(s.module, "WTSUnRegisterSessionNotification")));
    if (!s.unregisterProc) return 0;
    s.unregisterProc(window);
    FreeLibrary(s.module);
    s = SessionLibrary{};
    return 1;
}

bool IsPanelCommandEnabled(CEncMainPage* page, UINT code) {
    if (!page) return true;
    const int busyState = page->GetBusyState();
    const bool busy = busyState == kBusyCapture || busyState == kBusyConvert;
    const bool fileShown = page->GetShownPage() == kShownFile;
    const bool dvShown = page->GetShownPage() == kShownDV;
    if ((code >= 4001 && code <= 4006) || code == 4101 || code == 4103 || code == 4201) return !busy;
    switch (code) {
        case 4102:
        case 4305:
            return !busy && page->IsExportItemSelected();
        case 4202:
            return !busy && page->IsDVButtonEnabled();
        case 4203:
        case 4204:
        case 4205:
            return !busy && fileShown;
        case 4206:
            return !busy && fileShown && page->IsFilePrimaryEnabled();
        case 4207:
            return busyState == kBusyConvert;
        case 4208:
            return !busy && dvShown && page->IsDVSecondaryEnabled();
        case 4209:
            return busyState == kBusyCapture;
        case 4210:
            return !busy && dvShown && page->IsDVSetupEnabled();
        case 4301:
        case 4302:
        case 4303:
            return !busy && page->IsCommandEnabled(code);
        case 4304:
            return !busy && dvShown;
        default:
            return true;  // help and web commands
    }
}

BEGIN_MESSAGE_MAP(CMainPanel, CGXTFrameWnd)
ON_WM_CREATE()
ON_WM_DESTROY()
ON_MESSAGE(WM_SYSCOMMAND, OnSysCommand)
ON_MESSAGE(WM_QUERYENDSESSION, OnQueryEndSession)
ON_MESSAGE(WM_POWERBROADCAST, OnPowerBroadcast)
ON_MESSAGE(WM_WTSSESSION_CHANGE, OnSessionChange)
ON_MESSAGE(WM_DISPLAYCHANGE, OnDisplayChange)
ON_MESSAGE(WM_DROPFILES, OnDropFiles)
ON_MESSAGE(WM_COPYDATA, OnCopyData)
ON_COMMAND_RANGE(4001, 4006, OnCommandRange)
ON_COMMAND_RANGE(4101, 4103, OnCommandRange)
ON_COMMAND_RANGE(4201, 4210, OnCommandRange)
ON_COMMAND_RANGE(4301, 4305, OnCommandRange)
ON_COMMAND_RANGE(4401, 4411, OnCommandRange)
ON_UPDATE_COMMAND_UI_RANGE(4001, 4006, OnUpdateCommand)
ON_UPDATE_COMMAND_UI_RANGE(4101, 4103, OnUpdateCommand)
ON_UPDATE_COMMAND_UI_RANGE(4201, 4210, OnUpdateCommand)
ON_UPDATE_COMMAND_UI_RANGE(4301, 4305, OnUpdateCommand)
ON_UPDATE_COMMAND_UI_RANGE(4401, 4411, OnUpdateCommand)
END_MESSAGE_MAP()

CMainPanel::CMainPanel() = default;
CMainPanel::~CMainPanel() = default;

void CMainPanel::GetInitialRect(RECT* rect) {
    if (GetSystemMetrics(SM_CXSCREEN) >= 1024 && GetSystemMetrics(SM_CYSCREEN) >= 768) {
        *rect = RECT{0, 0, 1024, 768};
        layout_ = kLayoutLarge;
    } else {
        *rect = RECT{0, 0, 800, 600};
        layout_ = kLayoutSmall;
    }
}

int CMainPanel::OnCreate(LPCREATESTRUCTA cs) {
    SetCaptionFeatures(kPanelFeatures);
    splash_ = static_cast<CSplashWnd*>(cs->lpCreateParams);
    cs->lpCreateParams = nullptr;
    if (CGXTFrameWnd::OnCreate(cs) == -1) return -1;
    SetSplashText(splash_, "Create  Caption");
    if (!CreateMenuBar()) return -1;
    SetSplashText(splash_, "Create Enc Main Page");
    CreateMainPage();
    RegisterSessionNotify(m_hWnd, 0);
    splash_ = nullptr;
    return 0;
}

BOOL CMainPanel::CreateMenuBar() {
    bars_ = new CCommandBars;
    if (!bars_->Create(this, IDR_MAIN_MENU)) {
        delete bars_;
        bars_ = nullptr;
        return FALSE;
    }
    SetCommandBars(bars_);
    bars_->GetWindowRect(&menuBarRect_);
    bars_->RemoveMenuItem(4, 1, TRUE);
    return TRUE;
}

void CMainPanel::CreateMainPage() {
    SkinView* view = CSkinLayout::FindView("ENC_MAIN_PAGE");
    if (!view) return;
    page_ = new CEncMainPage;
    const CRect r(view->left, view->top, view->left + view->width, view->top + view->height);
    if (!page_->Create(r, kIdMainPage, this)) {
        delete page_;
        page_ = nullptr;
        return;
    }
    const int menuHeight = menuBarRect_.bottom - menuBarRect_.top;
    HRGN region = CreateRectRgn(view->left, menuHeight, view->left + view->width, view->top + view->height);
    SetWindowRgn(page_->m_hWnd, region, TRUE);  // the window owns the region
    page_->ShowWindow(SW_SHOW);
}

void CMainPanel::OnDestroy() {
    if (page_) {
        page_->DestroyWindow();
        delete page_;
        page_ = nullptr;
    }
    SetCommandBars(nullptr);
    if (bars_) {
        bars_->DestroyWindow();
        delete bars_;
        bars_ = nullptr;
    }
    UnregisterSessionNotify(m_hWnd);
    Default();
}

void CMainPanel::ProcessCommandLine(const char* commandLine) {
    if (!commandLine || !page_) return;
    int count = 0;
    // The arguments after the program name, split as the shell splits them.
    std::wstring wide(commandLine, commandLine + strlen(commandLine));
    LPWSTR* args = CommandLineToArgvW((L"Vistrel.exe " + wide).c_str(), &count);
    if (!args) return;
    for (int i = 1; i < count; ++i) {
        char arg[MAX_PATH * 2] = {};
        WideCharToMultiByte(CP_ACP, 0, args[i], -1, arg, sizeof arg - 1, nullptr, nullptr);
        std::string ext = PathFindExtensionA(arg);
        for (char& c : ext)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        if (ext == ".qzt") {
            page_->OpenProject(arg);
            break;
        }
    }
    LocalFree(args);
}

LRESULT CMainPanel::Send(UINT code) {
    return page_ ? page_->SendMessage(WM_ENCMAIN_COMMAND, code, 0) : 0;
}

INT_PTR CMainPanel::RunPreferences() {
    CPreferenceDlg sheet(IDS_APP_TITLE, this);
    return sheet.DoModal();
}

int CMainPanel::Ask(UINT stringId, UINT type) {
    return AfxMessageBox(stringId, type);
}

void CMainPanel::ShowHelp(UINT code) {
    HtmlHelpProc help = HtmlHelpEntry();
    if (!help) return;
    const std::string folder = ProgramFolder();
    switch (code) {
        case 4401:
            help(m_hWnd, (folder + "\\Vistrel.chm").c_str(), 1, 0);
            break;
        case 4402: {
            HelpSearchQuery query{32, FALSE, "culture", -1, FALSE, FALSE, FALSE, nullptr};
            help(m_hWnd, (folder + "\\Marquill.chm").c_str(), 3, reinterpret_cast<DWORD_PTR>(&query));
            break;
        }
        case 4403:
            help(m_hWnd, (folder + "\\Marquill.chm").c_str(), 2, 0);
            break;
        case 4404:
            help(m_hWnd, (folder + "\\" + AfxLoadString(IDS_HELP_FILE).c_str()).c_str(), 1, 0);
            break;
        default:
            break;
    }
}

void CMainPanel::OnCommandRange(UINT id) {
    switch (id) {
        case 4006:
            SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
            return;
        case 4103:
            if (RunPreferences() != IDCANCEL && page_) page_->UpdateProfileSummary();
            return;
        case 4401:
        case 4402:
        case 4403:
        case 4404:
            ShowHelp(id);
            return;
        case 4406:
        case 4407:
        case 4409:
        case 4411: {
            const UINT text = id == 4406   ? IDS_WEB_UPDATE
                              : id == 4407 ? IDS_WEB_HOME
                              : id == 4409 ? IDS_WEB_SUPPORT
                                           : IDS_WEB_REGISTER;
            const CString target = AfxLoadString(text);
            SHELLEXECUTEINFOA info{};
            info.cbSize = sizeof info;
            info.hwnd = m_hWnd;
            info.lpVerb = "Open";
            info.lpFile = target.c_str();
            info.lpParameters = "";
            info.lpDirectory = "";
            info.nShow = SW_SHOWNORMAL;
            ShellExecuteExA(&info);
            return;
        }
        case 4410: {
            CAboutDlg about(this);
            about.DoModal();
            return;
        }
        case 4405:
        case 4408:
            return;
        default:
            Send(id);
            return;
    }
}

void CMainPanel::OnUpdateCommand(CCmdUI* ui) {
    if (!page_) return;
    ui->Enable(IsPanelCommandEnabled(page_, ui->m_nID) ? TRUE : FALSE);
}

BOOL CMainPanel::PreTranslateMessage(MSG* msg) {
    if ((msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) && TranslateShortcut(msg)) return TRUE;
    return CGXTFrameWnd::PreTranslateMessage(msg);
}

BOOL CMainPanel::TranslateShortcut(const MSG* msg) {
    if (!page_) return FALSE;
    const UINT key = static_cast<UINT>(msg->wParam);
    const bool shift = KeyDown(VK_SHIFT), ctrl = KeyDown(VK_CONTROL);
    const bool idle = page_->GetBusyState() == kIdle;
    const bool dvShown = page_->GetShownPage() == kShownDV, fileShown = page_->GetShownPage() == kShownFile;
    if (key == VK_ESCAPE && page_->IsCommandEnabled(4302)) Send(4302);  // and the key goes on
    switch (key) {
        case VK_F1:
            SendMessage(WM_COMMAND, 4401, 0);
            return TRUE;
        case VK_F12:
            if (shift && !ctrl) {
                SendMessage(WM_COMMAND, 4404, 0);
                return TRUE;
            }
            return FALSE;
        case VK_F9:
            if (page_->IsDVButtonEnabled()) Send(4202);
            return TRUE;
        case VK_F10:
            if (page_->IsFilePrimaryEnabled()) Send(4201);
            return TRUE;
        case VK_SPACE:
            if (page_->IsCommandEnabled(4301)) Send(4301);
            return FALSE;
        case VK_INSERT:
            if (fileShown) Send(4310);
            return FALSE;
        case VK_DELETE:
            if (fileShown) Send(4311);
            return FALSE;
        default:
            break;
    }
    if (!ctrl) {
        if (key == VK_OEM_COMMA && page_->IsCommandEnabled(4306)) Send(4306);
        if (key == VK_OEM_PERIOD && page_->IsCommandEnabled(4307)) Send(4307);
        return FALSE;
    }
    switch (key) {
        case 'N':
            if (idle) Send(4001);
            return FALSE;
        case 'O':
            if (idle) Send(4002);
            return FALSE;
        case 'S':
            if (idle) Send(shift ? 4004 : 4003);
            return FALSE;
        case VK_OEM_COMMA:
            if (dvShown && page_->IsCommandEnabled(4304)) Send(4304);
            return FALSE;
        case VK_OEM_PERIOD:
            if (dvShown && page_->IsCommandEnabled(4303)) Send(4303);
            return FALSE;
        case VK_OEM_2:
            if (idle) {
                if (page_->IsCommandEnabled(4302)) Send(4302);
                return TRUE;
            }
            if (dvShown) Send(4209);
            if (fileShown) Send(4207);
            return FALSE;
        case 'R':
            if (!idle) return FALSE;
            if (dvShown) Send(4208);
            if (fileShown) Send(4206);
            return TRUE;
        case 'F':
            if (page_->IsCommandEnabled(4303)) Send(4303);
            return FALSE;
        case VK_BACK:
            Send(4308);
            return FALSE;
        case VK_RETURN:
            Send(4305);
            return TRUE;
        case 'Q':
            Send(4204);
            return FALSE;
        case 'W':
            Send(4205);
            return FALSE;
        case 'V':
            Send(4309);
            return TRUE;
        case VK_UP:
            if (fileShown) Send(4312);
            return FALSE;
        case VK_DOWN:
            if (fileShown) Send(4313);
            return FALSE;
        case 'P':
            Send(4101);
            return TRUE;
        case 'U':
            if (!dvShown) return TRUE;
            if (!idle) return FALSE;
            page_->OpenBatchIfIdle();
            return TRUE;
        default:
            return FALSE;
    }
}

LRESULT CMainPanel::OnSysCommand(WPARAM wParam, LPARAM lParam) {
    if ((wParam & 0xFFF0) == SC_CLOSE && page_ && page_->IsProjectModified() && !page_->AskSaveModified()) return 0;
    return DefWindowProc(WM_SYSCOMMAND, wParam, lParam);
}

LRESULT CMainPanel::OnQueryEndSession(WPARAM wParam, LPARAM lParam) {
    if (!DefWindowProc(WM_QUERYENDSESSION, wParam, lParam)) return FALSE;
    if (page_ && (page_->GetBusyState() != kIdle || page_->GetShownPage() == kShownDV)) return FALSE;
    return TRUE;
}

LRESULT CMainPanel::OnPowerBroadcast(WPARAM wParam, LPARAM) {
    if (wParam == 0 /* PBT_APMQUERYSUSPEND */ && page_ &&
        (page_->GetBusyState() != kIdle || page_->GetShownPage() == kShownDV))
        return BROADCAST_QUERY_DENY;
    return TRUE;
}

LRESULT CMainPanel::OnSessionChange(WPARAM wParam, LPARAM) {
    if ((wParam == WTS_CONSOLE_CONNECT || wParam == WTS_REMOTE_CONNECT || wParam == WTS_SESSION_LOGON) && page_ &&
        page_->GetShownPage() != kShownNone)
        page_->Invalidate(TRUE);
    return 0;
}

LRESULT CMainPanel::OnDisplayChange(WPARAM, LPARAM lParam) {
    const int width = LOWORD(lParam), height = HIWORD(lParam);
    if ((layout_ == kLayoutLarge && (width < 1024 || height < 768)) ||
        (layout_ == kLayoutSmall && (width < 800 || height < 600))) {
        if (Ask(IDS_LAYOUT_TOO_LARGE, MB_OKCANCEL) == IDOK) {
            layout_ = kLayoutClosing;
            PostMessage(WM_CLOSE);
        }
    }
    if (layout_ == kLayoutLarge) MoveWindow(0, 0, 1024, 768);
    if (layout_ == kLayoutSmall) SetWindowPos(nullptr, 0, 0, 800, 600, SWP_NOMOVE | SWP_NOZORDER);
    if (layout_ != kLayoutClosing) CenterWindow();
    return 0;
}

LRESULT CMainPanel::OnDropFiles(WPARAM wParam, LPARAM) {
    if (page_) page_->OnDropFiles(reinterpret_cast<HDROP>(wParam));
    DragFinish(reinterpret_cast<HDROP>(wParam));
    return 0;
}

LRESULT CMainPanel::OnCopyData(WPARAM, LPARAM lParam) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (!data || !data->lpData) return 0;
    // The text is at most 259 characters and always terminated.
    char text[MAX_PATH] = {};
    memcpy(text, data->lpData, data->cbData < sizeof text - 1 ? data->cbData : sizeof text - 1);
    const char* found = strstr(text, ".qzt");
    if (!found || found == text) return 0;
    SetForegroundWindow(m_hWnd);
    ShowWindow(IsIconic(m_hWnd) ? SW_RESTORE : SW_SHOW);
    if (page_ && page_->AskSaveModified() == 1) page_->OpenProject(text);
    return 0;
}

BOOL CMainPanel::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header && page_ && header->hwndFrom == page_->m_hWnd) {
        if (header->code == kNotifyCaptureStarted || header->code == kNotifyConvertStarted)
            SetCaptionFeatures(kBusyFeatures);
        if (header->code == kNotifyCaptureEnded || header->code == kNotifyConvertEnded)
            SetCaptionFeatures(kIdleFeatures);
    }
    return CGXTFrameWnd::OnNotify(wParam, lParam, result);
}
