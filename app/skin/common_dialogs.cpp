#include "app/skin/common_dialogs.h"

#include <cstdint>
#include <cstring>

#include <cderr.h>

#include "app/resources/resource_ids.h"
#include "app/skin/dialog_text.h"
#include "framework/app.h"

CGFileDialog::CGFileDialog(BOOL openFileDialog, const char* defaultExt, const char* fileName, DWORD flags,
                           const char* filter, CWnd* parent)
    : CFileDialog(openFileDialog, defaultExt, fileName, flags, filter, parent) {}

INT_PTR CGFileDialog::DoModal() {
    captured_ = false;
    folder_.clear();
    names_.clear();
    m_ofn.lStructSize = sizeof(OPENFILENAMEA);  // the platform's own size, 64-bit layout included
    m_ofn.Flags |= OFN_EXPLORER;
    const INT_PTR result = CFileDialog::DoModal();
    if (result == IDCANCEL && GetExtendedError() == FNERR_BUFFERTOOSMALL && captured_) return IDOK;
    return result;
}

void CGFileDialog::CaptureSelection(const std::string& folder, const std::string& selection) {
    folder_ = folder;
    names_ = ParseQuotedSelection(selection.c_str(), selection.size());
    captured_ = true;
}

void CGFileDialog::OnFileNameChange() {
    HWND explorer = GetExplorerWindow();
    const LRESULT specLength = ::SendMessageA(explorer, CDM_GETSPEC, 0, 0);
    const LRESULT folderLength = ::SendMessageA(explorer, CDM_GETFOLDERPATH, 0, 0);
    if (specLength > 0 && folderLength > 0 &&
        2 * static_cast<int64_t>(specLength) + folderLength > static_cast<int64_t>(m_ofn.nMaxFile)) {
        std::string spec(static_cast<size_t>(2 * specLength + 1), '\0');
        std::string folder(static_cast<size_t>(folderLength + 1), '\0');
        ::SendMessageA(explorer, CDM_GETSPEC, spec.size(), reinterpret_cast<LPARAM>(spec.data()));
        ::SendMessageA(explorer, CDM_GETFOLDERPATH, folder.size(), reinterpret_cast<LPARAM>(folder.data()));
        folder.resize(std::strlen(folder.c_str()));
        CaptureSelection(folder, std::string(spec.c_str()));
    } else {
        captured_ = false;
        folder_.clear();
        names_.clear();
    }
    CFileDialog::OnFileNameChange();
}

POSITION CGFileDialog::GetStartPosition() const {
    if (!captured_) return CFileDialog::GetStartPosition();
    return names_.empty() ? nullptr : reinterpret_cast<POSITION>(static_cast<uintptr_t>(1));
}

// POSITION carries the 1-based index of the next name.
CString CGFileDialog::GetNextPathName(POSITION& pos) const {
    if (!captured_) return CFileDialog::GetNextPathName(pos);
    const auto index = reinterpret_cast<uintptr_t>(pos) - 1;
    if (!pos || index >= names_.size()) {
        pos = nullptr;
        return CString();
    }
    pos = index + 1 < names_.size() ? reinterpret_cast<POSITION>(index + 2) : nullptr;
    return CString(folder_ + "\\" + names_[index]);
}

CInfoDialog::CInfoDialog(const char* label1, const char* value1, const char* label2, const char* value2,
                         const char* label3, const char* value3, CWnd* parent)
    : CDialog(IDD_INFORMATION, parent), texts_{label1, value1, label2, value2, label3, value3} {}

BOOL CInfoDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    const int controls[3][2] = {{IDC_INFO_LABEL_1, IDC_INFO_VALUE_1},
                                {IDC_INFO_LABEL_2, IDC_INFO_VALUE_2},
                                {IDC_INFO_LABEL_3, IDC_INFO_VALUE_3}};
    for (int pair = 0; pair < 3; ++pair) {
        const CString& label = texts_[2 * pair];
        const CString& value = texts_[2 * pair + 1];
        const bool show = !label.IsEmpty() && !value.IsEmpty();
        for (int k = 0; k < 2; ++k) {
            HWND control = ::GetDlgItem(m_hWnd, controls[pair][k]);
            if (show) ::SetWindowTextA(control, texts_[2 * pair + k]);
            ::ShowWindow(control, show ? SW_SHOW : SW_HIDE);
        }
    }
    return TRUE;
}

CProgressDialog::CProgressDialog(CWnd* parent, const char* caption) : CDialog(IDD_PROGRESS, parent), caption_(caption) {
    if (!parent) {
        CWinApp* app = AfxGetApp();
        parent_ = app ? app->m_pMainWnd : nullptr;
    } else {
        parent_ = parent;
    }
    if (Create(IDD_PROGRESS, parent_)) CenterWindow();
}

CProgressDialog::~CProgressDialog() {
    if (IsWindow()) DestroyWindow();
}

BOOL CProgressDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    ModifyStyle(WS_SYSMENU, 0);
    SetWindowText(caption_);
    // The title is shortened with a path ellipsis to the control's width.
    if (HWND text = ::GetDlgItem(m_hWnd, IDC_PROGRESS_TEXT))
        ::SetWindowLongPtrA(text, GWL_STYLE, ::GetWindowLongPtrA(text, GWL_STYLE) | SS_PATHELLIPSIS);
    return TRUE;
}

LRESULT CProgressDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        cancelled_ = true;
        return 0;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_PROGRESS_CANCEL) {
        cancelled_ = true;
        return 0;
    }
    return CDialog::WindowProc(message, wParam, lParam);
}

void CProgressDialog::SetTitle(const char* text) {
    SetDlgItemText(IDC_PROGRESS_TEXT, text);
}

void CProgressDialog::SetRange(int lower, int upper, int step) {
    lower_ = lower;
    upper_ = upper;
    step_ = step;
    HWND bar = ::GetDlgItem(m_hWnd, IDC_PROGRESS_BAR);
    ::SendMessageA(bar, PBM_SETRANGE32, static_cast<WPARAM>(lower), upper);
    ::SendMessageA(bar, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

int CProgressDialog::SetPos(int position) {
    position_ = position;
    const int percent = ProgressPercent(position, lower_, upper_);
    if (percent != lastPercent_) {
        lastPercent_ = percent;
        CString text;
        text.Format("%s [%d%%]", caption_.c_str(), percent);
        SetWindowText(text);
    }
    return static_cast<int>(::SendMessageA(::GetDlgItem(m_hWnd, IDC_PROGRESS_BAR), PBM_SETPOS, position, 0));
}

void CProgressDialog::ShowCancel(BOOL show) {
    ::ShowWindow(::GetDlgItem(m_hWnd, IDC_PROGRESS_CANCEL), show ? SW_SHOW : SW_HIDE);
}

void CProgressDialog::PumpMessages(BOOL escapeCancels) {
    if (cancelled_) return;
    MSG msg;
    while (!cancelled_ && PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (escapeCancels && msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
            PeekMessageA(&msg, nullptr, msg.message, msg.message, PM_REMOVE);
            cancelled_ = true;
            break;
        }
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) break;
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (!AfxWalkPreTranslateTree(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

CMessageFileDialog::CMessageFileDialog(const char* message, const char* path, CWnd* parent)
    : CDialog(IDD_MESSAGE_FILE, parent) {
    lstrcpynA(path_, path ? path : "", MAX_PATH);
    // The path shortened with an ellipsis in its middle to 300 pixels of the screen font.
    std::string shown(path_);
    shown.append(8, '\0');
    HDC screen = GetDC(nullptr);
    RECT r{0, 0, 300, 100};
    DrawTextA(screen, shown.data(), -1, &r, DT_PATH_ELLIPSIS | DT_MODIFYSTRING | DT_SINGLELINE | DT_CALCRECT);
    ReleaseDC(nullptr, screen);
    text_.Format("%s\n\n%s", message ? message : "", shown.c_str());
}

BOOL CMessageFileDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetDlgItemText(IDC_MESSAGE_TEXT, text_);
    return TRUE;
}

LRESULT CMessageFileDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
            case IDOK:
                Browse();
                return 0;
            case IDC_MESSAGE_SKIP:
                EndDialog(IDC_MESSAGE_SKIP);
                return 0;
            case IDC_MESSAGE_SKIP_ALL:
                EndDialog(IDC_MESSAGE_SKIP_ALL);
                return 0;
            case IDCANCEL:
                EndDialog(IDCANCEL);
                return 0;
            default:
                break;
        }
    }
    return CDialog::WindowProc(message, wParam, lParam);
}

void CMessageFileDialog::Browse() {
    CString filter;
    filter.Format(AfxLoadString(IDS_MESSAGE_FILE_FILTER).c_str(), "", "", "", "");
    filter += "|";
    const std::string path(path_);
    const size_t slash = path.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (folder.empty() || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        char documents[MAX_PATH] = {};
        SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, documents);
        folder = documents;
    }
    const size_t dot = name.find_last_of('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    const std::string avi =
        std::string(AfxLoadString(IDS_AVI_EXTENSIONS_1).c_str()) + AfxLoadString(IDS_AVI_EXTENSIONS_2).c_str();
    CFileDialog dialog(TRUE, nullptr, name.c_str(), OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, filter, this);
    dialog.m_ofn.lpstrInitialDir = folder.c_str();
    dialog.m_ofn.nFilterIndex =
        static_cast<DWORD>(ReplacementFilterIndex(extension, AfxLoadString(IDS_MPEG_EXTENSIONS).c_str(), avi));
    if (dialog.DoModal() != IDOK) return;
    chosen_ = dialog.GetPathName();
    EndDialog(IDOK);
}

CFolderBrowser::CFolderBrowser(const char* initialFolder, UINT flags, CWnd* parent)
    : initial_(initialFolder ? initialFolder : ""), title_(AfxLoadString(IDS_BROWSE_FOLDER_TITLE)) {
    info_.hwndOwner = parent ? parent->m_hWnd : nullptr;
    info_.pidlRoot = nullptr;
    info_.pszDisplayName = path_;
    info_.lpszTitle = title_;
    info_.ulFlags = flags;
    info_.lpfn = &CFolderBrowser::Callback;
    info_.lParam = reinterpret_cast<LPARAM>(this);
}

int CALLBACK CFolderBrowser::Callback(HWND window, UINT message, LPARAM parameter, LPARAM self) {
    return reinterpret_cast<CFolderBrowser*>(self)->OnCallback(window, message, parameter);
}

int CFolderBrowser::Browse() {
    result_ = initial_;
    info_.lpszTitle = title_;
    LPITEMIDLIST item = SHBrowseForFolderA(&info_);
    window_ = nullptr;
    if (!item) return 2;
    char path[MAX_PATH] = {};
    const BOOL hasPath = SHGetPathFromIDListA(item, path);
    CoTaskMemFree(item);
    if (!hasPath) return 2;
    result_ = path;
    return 1;
}

int CFolderBrowser::OnCallback(HWND window, UINT message, LPARAM parameter) {
    window_ = window;
    if (message == BFFM_INITIALIZED) OnInitialized();
    if (message == BFFM_SELCHANGED) OnSelChanged(reinterpret_cast<LPCITEMIDLIST>(parameter));
    return 0;
}

void CFolderBrowser::ShowStatus(const char* path) {
    const std::string shown = ShortenStatusText(path);
    ::SendMessageA(window_, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(shown.c_str()));
}

void CFolderBrowser::OnInitialized() {
    ::SendMessageA(window_, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(initial_.c_str()));
    ShowStatus(initial_);
}

void CFolderBrowser::OnSelChanged(LPCITEMIDLIST item) {
    char path[MAX_PATH] = {};
    if (!item || !SHGetPathFromIDListA(item, path)) return;
    result_ = path;
    ShowStatus(path);
}

BEGIN_MESSAGE_MAP(CHtmlCtrl, CHtmlView)
ON_WM_MOUSEACTIVATE()
END_MESSAGE_MAP()

BOOL CHtmlCtrl::Resize(const RECT& placement, CWnd* parent) {
    const RECT r{placement.left, placement.top, placement.left + placement.right, placement.top + placement.bottom};
    if (!Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, r, parent, 0xE900)) return FALSE;
    if (HWND browser = GetBrowserWindow()) {
        RECT b;
        ::GetWindowRect(browser, &b);
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&b), 2);
        ::MoveWindow(browser, b.left - 2, b.top - 2, b.right - b.left + 2, b.bottom - b.top + 2, TRUE);
    }
    SetRegisterAsDropTarget(FALSE);
    return TRUE;
}

int CHtmlCtrl::OnMouseActivate(CWnd* topLevel, UINT hitTest, UINT mouseMessage) {
    if (mouseMessage == WM_RBUTTONDOWN) return MA_NOACTIVATEANDEAT;  // no context menu
    return CHtmlView::OnMouseActivate(topLevel, hitTest, mouseMessage);
}

BOOL CHtmlCtrl::PreTranslateMessage(MSG* msg) {
    switch (msg->message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_CHAR:
        case WM_GETDLGCODE:
        case WM_CONTEXTMENU:
        case WM_ENTERMENULOOP:
        case WM_EXITMENULOOP:
        case WM_SETCURSOR:
        case WM_INITMENUPOPUP:
            return FALSE;  // dispatched normally, past the view's dialog keys
        default:
            return CHtmlView::PreTranslateMessage(msg);
    }
}
