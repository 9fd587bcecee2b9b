#include "app/pages/capture_file_prompt_dlg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/resources/resource_ids.h"
#include "app/services/reg_value.h"
#include "app/services/settings_keys.h"
#include "framework/app.h"

namespace {

constexpr int kMaxContinuations = 10000;  // a walk over numbered siblings ends here at the latest

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

BEGIN_MESSAGE_MAP(CCaptureFilePromptDlg, CDialog)
ON_BN_CLICKED(IDC_PROMPT_DELETE, OnDelete)
END_MESSAGE_MAP()

CCaptureFilePromptDlg::CCaptureFilePromptDlg(CWnd* parent, BOOL fromCapture)
    : CDialog(IDD_CAPTURE_FILE_PROMPT, parent), fromCapture_(fromCapture) {
    CRegBinValue prompt(HKEY_CURRENT_USER, kRecordingKey, "CaptureFilePrompt", 0);
    askAgain_ = prompt.Read() ? (prompt.Get() ? 1 : 0) : 1;
}

CCaptureFilePromptDlg::~CCaptureFilePromptDlg() {
    if (fromCapture_) CRegBinValue(HKEY_CURRENT_USER, kRecordingKey, "CaptureFilePrompt", 1).Set(askAgain_ ? 1 : 0);
}

void CCaptureFilePromptDlg::SetPath(const char* path) {
    char drive[_MAX_DRIVE] = {}, dir[_MAX_DIR] = {}, name[_MAX_FNAME] = {}, ext[_MAX_EXT] = {};
    if (!path || _splitpath_s(path, drive, sizeof drive, dir, sizeof dir, name, sizeof name, ext, sizeof ext) != 0)
        return;
    std::string folder = std::string(drive) + dir;
    if (!folder.empty()) folder.pop_back();
    folder_ = folder.c_str();
    newName_ = name;
    currentName_ = name;
    extension_ = ext;
}

CString CCaptureFilePromptDlg::GetResultPath() const {
    if (newName_.IsEmpty()) return CString();
    return CString((std::string(folder_.c_str()) + "\\" + newName_.c_str() + extension_.c_str()).c_str());
}

bool CCaptureFilePromptDlg::IsValidName(const char* name) {
    return name && *name && !strpbrk(name, "\\/:*?\"<>|");
}

std::string CCaptureFilePromptDlg::FitText(HDC dc, const std::string& text, int width) {
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    if (size.cx <= width) return text;
    std::string best = "...";
    for (size_t i = 0; i < text.size();) {
        const size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size() ? 2 : 1;
        const std::string candidate = text.substr(0, i + step) + "...";
        GetTextExtentPoint32A(dc, candidate.c_str(), static_cast<int>(candidate.size()), &size);
        if (size.cx >= width) break;
        best = candidate;
        i += step;
    }
    return best;
}

BOOL CCaptureFilePromptDlg::OnInitDialog() {
    ModifyStyle(WS_SYSMENU, 0);
    HWND folder = ::GetDlgItem(m_hWnd, IDC_PROMPT_FOLDER);
    RECT client{};
    ::GetClientRect(folder, &client);
    HDC dc = ::GetDC(folder);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(folder, WM_GETFONT, 0, 0)));
    folderShown_ = FitText(dc, folder_.c_str(), client.right - client.left).c_str();
    ::SelectObject(dc, old);
    ::ReleaseDC(folder, dc);
    CDialog::OnInitDialog();
    const int limit = 254 - extension_.GetLength() - folder_.GetLength();
    ::SendDlgItemMessageA(m_hWnd, IDC_PROMPT_NAME, EM_LIMITTEXT, limit > 1 ? limit : 1, 0);
    return TRUE;
}

void CCaptureFilePromptDlg::DoDataExchange(CDataExchange* dx) {
    DDX_Text(dx, IDC_PROMPT_FOLDER, folderShown_);
    DDX_Text(dx, IDC_PROMPT_NAME, newName_);
    DDX_Text(dx, IDC_PROMPT_EXTENSION, extension_);
    DDX_Check(dx, IDC_PROMPT_ASK_AGAIN, askAgain_);
}

std::string CCaptureFilePromptDlg::Continuation(const std::string& name, int n) const {
    char path[MAX_PATH * 2];
    std::snprintf(path, sizeof path, "%s\\%s(%d)%s", folder_.c_str(), name.c_str(), n, extension_.c_str());
    return path;
}

void CCaptureFilePromptDlg::ReportError(UINT messageId, DWORD error) {
    char system[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, system,
                   sizeof system - 1, nullptr);
    const CString text = AfxLoadString(messageId) + "\n" + system;
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
}

void CCaptureFilePromptDlg::OnOK() {
    if (!UpdateData(TRUE)) return;
    if (!IsValidName(newName_)) {
        AfxMessageBox(IDS_PROMPT_BAD_NAME, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    const std::string folder = folder_.c_str(), ext = extension_.c_str(), name = newName_.c_str();
    const std::string oldPath = folder + "\\" + currentName_ + ext;
    const std::string newPath = folder + "\\" + name + ext;
    if (lstrcmpiA(oldPath.c_str(), newPath.c_str()) != 0) {
        // A file of the new name belongs to someone else: it is never replaced.
        if (Exists(newPath)) {
            AfxMessageBox(IDS_PROMPT_TARGET_EXISTS, MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        if (!MoveFileA(oldPath.c_str(), newPath.c_str())) {
            ReportError(IDS_PROMPT_RENAME_FAILED, GetLastError());
            return;
        }
        for (int n = 0; n < kMaxContinuations && Exists(Continuation(currentName_, n)); ++n) {
            const std::string from = Continuation(currentName_, n), to = Continuation(name, n);
            if (Exists(to))
                ReportError(IDS_PROMPT_RENAME_FAILED, ERROR_FILE_EXISTS);
            else if (!MoveFileA(from.c_str(), to.c_str()))
                ReportError(IDS_PROMPT_RENAME_FAILED, GetLastError());
        }
        currentName_ = name;
    }
    EndDialog(IDOK);
}

void CCaptureFilePromptDlg::OnDelete() {
    if (AfxMessageBox(IDS_PROMPT_CONFIRM_DELETE, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) return;
    const std::string clip = std::string(folder_.c_str()) + "\\" + currentName_ + extension_.c_str();
    if (!DeleteFileA(clip.c_str())) {
        ReportError(IDS_PROMPT_DELETE_FAILED, GetLastError());
        return;
    }
    for (int n = 0; n < kMaxContinuations && Exists(Continuation(currentName_, n)); ++n)
        if (!DeleteFileA(Continuation(currentName_, n).c_str())) ReportError(IDS_PROMPT_DELETE_FAILED, GetLastError());
    newName_.Empty();
    extension_.Empty();
    EndDialog(IDCANCEL);
}
