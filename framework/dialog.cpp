#include "framework/dialog.h"

#include <cstdlib>
#include <cstring>

#include "framework/app.h"
#include "framework/parse.h"
#include "framework/resources.h"

// ---------------------------------------------------------------------------------------
// Data exchange

HWND CDataExchange::PrepareCtrl(int id) {
    last_ = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    if (!last_) m_bFailed = true;
    return last_;
}

void CDataExchange::Fail() {
    m_bFailed = true;
    if (last_ && m_bSaveAndValidate) ::SetFocus(last_);
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
    HWND control = dx->PrepareCtrl(id);
    if (!control) return;
    if (dx->m_bSaveAndValidate) {
        const int n = GetWindowTextLengthA(control);
        GetWindowTextA(control, value.GetBuffer(n + 1), n + 1);
        value.ReleaseBuffer();
    } else {
        SetWindowTextA(control, value);
    }
}

void DDX_Text(CDataExchange* dx, int id, int& value) {
    HWND control = dx->PrepareCtrl(id);
    if (!control) return;
    if (dx->m_bSaveAndValidate) {
        char text[32] = {};
        GetWindowTextA(control, text, sizeof text);
        char* end = nullptr;
        const long parsed = std::strtol(text, &end, 10);
        while (end && (*end == ' ' || *end == '\t'))
            ++end;
        if (end == text || !end || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX) {
            dx->Fail();
            return;
        }
        value = static_cast<int>(parsed);
    } else {
        char text[32];
        wsprintfA(text, "%d", value);
        SetWindowTextA(control, text);
    }
}

namespace {

// A value kept by a control and read and written with one message each.
void ExchangeByMessage(CDataExchange* dx, int id, int& value, UINT get, UINT set) {
    HWND control = dx->PrepareCtrl(id);
    if (!control) return;
    if (dx->m_bSaveAndValidate)
        value = static_cast<int>(SendMessageA(control, get, 0, 0));
    else
        SendMessageA(control, set, static_cast<WPARAM>(value), 0);
}

}  // namespace

void DDX_Check(CDataExchange* dx, int id, int& value) {
    ExchangeByMessage(dx, id, value, BM_GETCHECK, BM_SETCHECK);
}

void DDX_CBIndex(CDataExchange* dx, int id, int& value) {
    ExchangeByMessage(dx, id, value, CB_GETCURSEL, CB_SETCURSEL);
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.m_hWnd) return;
    HWND item = dx->PrepareCtrl(id);
    if (item && !control.SubclassWindow(item)) dx->Fail();
}

// ---------------------------------------------------------------------------------------
// Dialogs

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOKCommand)
ON_COMMAND(IDCANCEL, OnCancelCommand)
END_MESSAGE_MAP()

namespace {

// Everything reaches the dialog through its subclassed window procedure; the dialog
// procedure of the template leaves all messages to the default handling.
INT_PTR CALLBACK PassiveDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

HWND OwnerFor(CWnd* parent) {
    HWND owner = parent ? parent->m_hWnd : (AfxGetMainWnd() ? AfxGetMainWnd()->m_hWnd : nullptr);
    // A child cannot own a dialog: the owner is its top-level window.
    while (owner && (GetWindowLongPtrA(owner, GWL_STYLE) & WS_CHILD))
        owner = GetParent(owner);
    return owner;
}

}  // namespace

HWND CDialog::CreateFromTemplate(HWND owner) {
    const auto* tmpl = static_cast<const DLGTEMPLATE*>(
        AfxFindResourceData(m_nIDHelp, MAKEINTRESOURCEA(5), nullptr, "dialog template"));
    if (!tmpl) return nullptr;
    AfxInitCommonControls();
    return CreateHooked([&] {
        return CreateDialogIndirectParamA(AfxGetResourceHandle(), tmpl, owner, PassiveDialogProc,
                                          reinterpret_cast<LPARAM>(this));
    });
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    if (m_hWnd) return FALSE;
    m_nIDHelp = templateId;
    m_pParentWnd = parent;
    modal_ = false;
    return CreateFromTemplate(parent ? parent->m_hWnd : nullptr) != nullptr;
}

INT_PTR CDialog::DoModal() {
    if (m_hWnd) return -1;
    HWND owner = OwnerFor(m_pParentWnd);
    modal_ = true;
    end_modal_ = false;
    modal_result_ = -1;
    const bool disable_owner = owner && ::IsWindowEnabled(owner);
    if (disable_owner) ::EnableWindow(owner, FALSE);
    HWND hwnd = CreateFromTemplate(owner);
    if (hwnd && !end_modal_) {
        ::ShowWindow(hwnd, SW_SHOW);
        MSG msg;
        while (!end_modal_ && ::IsWindow(hwnd)) {
            if (GetMessageA(&msg, nullptr, 0, 0) <= 0) {
                // The application is quitting: end the dialog and let the outer loop see it.
                PostQuitMessage(static_cast<int>(msg.wParam));
                if (!end_modal_) modal_result_ = IDCANCEL;
                break;
            }
            if (!AfxPreTranslateMessage(&msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
    // The owner is enabled before the dialog goes, so that it gets the activation back.
    if (disable_owner) ::EnableWindow(owner, TRUE);
    if (m_hWnd) DestroyWindow();
    modal_ = false;
    return hwnd ? modal_result_ : -1;
}

void CDialog::EndDialog(int result) {
    modal_result_ = result;
    if (modal_) {
        end_modal_ = true;
        if (m_hWnd) PostMessage(WM_NULL);  // wakes the modal loop
    } else if (m_hWnd) {
        ShowWindow(SW_HIDE);
    }
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    // Keyboard navigation (Tab, arrows, Enter, Escape) of the dialog's controls.
    if (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST && m_hWnd &&
        (msg->hwnd == m_hWnd || IsChild(m_hWnd, msg->hwnd)))
        return IsDialogMessageA(m_hWnd, msg);
    return FALSE;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog();
    return CWnd::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------
// Property sheets

IMPLEMENT_DYNAMIC(CPropertyPage, CDialog)
IMPLEMENT_DYNAMIC(CPropertySheet, CWnd)

CPropertyPage::CPropertyPage(UINT templateId, UINT captionId) : CDialog(templateId) {
    m_psp.dwSize = sizeof m_psp;
    m_psp.dwFlags = PSP_DEFAULT;
    m_psp.pszTemplate = MAKEINTRESOURCEA(templateId);
    m_psp.pfnDlgProc = PageProc;
    m_psp.lParam = reinterpret_cast<LPARAM>(this);
    if (captionId && caption_.LoadString(captionId)) {
        m_psp.dwFlags |= PSP_USETITLE;
        m_psp.pszTitle = caption_;
    }
}

INT_PTR CALLBACK CPropertyPage::PageProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) return FALSE;
    auto* page = reinterpret_cast<CPropertyPage*>(reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam);
    if (!page->SubclassWindow(hwnd)) return FALSE;
    return page->OnInitDialog();
}

BOOL CPropertyPage::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    switch (header->code) {
        case PSN_SETACTIVE:
            *result = OnSetActive() ? 0 : -1;
            break;
        case PSN_KILLACTIVE:
            *result = OnKillActive() ? FALSE : TRUE;
            break;
        case PSN_APPLY:
            OnOK();
            if (sheet_) sheet_->NoteApply();
            *result = PSNRET_NOERROR;
            break;
        case PSN_RESET:
            OnCancel();
            *result = 0;
            break;
        default:
            return CDialog::OnNotify(wParam, lParam, result);
    }
    // Dialog procedures hand results back through DWLP_MSGRESULT; set it as well for
    // sheets that read it there.
    SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, *result);
    return TRUE;
}

namespace {
thread_local CPropertySheet* initializing_sheet = nullptr;
}

CPropertySheet::CPropertySheet(const char* caption, CWnd* parent, UINT selectPage) : caption_(caption) {
    m_psh.dwSize = sizeof m_psh;
    m_psh.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_USECALLBACK;
    m_psh.hwndParent = OwnerFor(parent);
    m_psh.nStartPage = selectPage;
    m_psh.pfnCallback = SheetCallback;
}

CPropertySheet::CPropertySheet(UINT captionId, CWnd* parent, UINT selectPage)
    : CPropertySheet(static_cast<const char*>(nullptr), parent, selectPage) {
    caption_.LoadString(captionId);
}

int CALLBACK CPropertySheet::SheetCallback(HWND hwnd, UINT message, LPARAM) {
    if (message == PSCB_INITIALIZED && initializing_sheet) {
        CPropertySheet* sheet = initializing_sheet;
        if (sheet->SubclassWindow(hwnd)) sheet->OnSheetInitialized();
    }
    return 0;
}

INT_PTR CPropertySheet::DoModal() {
    if (pages_.empty() || m_hWnd) return -1;
    AfxInitCommonControls();
    std::vector<PROPSHEETPAGEA> copies;
    for (CPropertyPage* page : pages_) {
        page->m_psp.hInstance = AfxGetResourceHandle();
        page->sheet_ = this;
        copies.push_back(page->m_psp);
    }
    m_psh.hInstance = AfxGetResourceHandle();
    m_psh.pszCaption = caption_;
    m_psh.nPages = static_cast<UINT>(copies.size());
    m_psh.ppsp = copies.data();
    m_psh.dwFlags &= ~PSH_MODELESS;
    applied_ = false;
    CPropertySheet* const outer = initializing_sheet;
    initializing_sheet = this;
    const INT_PTR shown = PropertySheetA(&m_psh);
    initializing_sheet = outer;
    for (CPropertyPage* page : pages_)
        page->sheet_ = nullptr;
    if (shown < 0) return -1;
    return applied_ ? IDOK : IDCANCEL;
}

// ---------------------------------------------------------------------------------------
// File dialog

IMPLEMENT_DYNAMIC(CFileDialog, CDialog)

CFileDialog::CFileDialog(BOOL openFileDialog, const char* defaultExt, const char* fileName, DWORD flags,
                         const char* filter, CWnd* parent)
    : CDialog(0, parent), m_bOpenFileDialog(openFileDialog), file_buffer_(MAX_PATH, '\0'), default_ext_(defaultExt) {
    m_ofn.lStructSize = sizeof m_ofn;
    m_ofn.Flags = flags;
    m_ofn.lpstrFile = file_buffer_.data();
    m_ofn.nMaxFile = static_cast<DWORD>(file_buffer_.size());
    if (fileName) lstrcpynA(file_buffer_.data(), fileName, static_cast<int>(file_buffer_.size()));
    if (defaultExt) m_ofn.lpstrDefExt = default_ext_;
    if (filter) {
        // "a|b|c|d||" becomes "a\0b\0c\0d\0\0".
        filter_.assign(filter, filter + std::strlen(filter));
        for (char& c : filter_)
            if (c == '|') c = '\0';
        filter_.push_back('\0');
        filter_.push_back('\0');
        m_ofn.lpstrFilter = filter_.data();
    }
}

INT_PTR CFileDialog::DoModal() {
    HWND owner = OwnerFor(m_pParentWnd);
    m_ofn.hwndOwner = owner;
    m_ofn.hInstance = AfxGetResourceHandle();
    m_ofn.Flags |= OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING;
    m_ofn.lpfnHook = HookProc;
    m_ofn.lCustData = reinterpret_cast<LPARAM>(this);
    const BOOL chosen = m_bOpenFileDialog ? GetOpenFileNameA(&m_ofn) : GetSaveFileNameA(&m_ofn);
    extended_error_ = chosen ? 0 : CommDlgExtendedError();
    return chosen ? IDOK : IDCANCEL;
}

UINT_PTR CALLBACK CFileDialog::HookProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CFileDialog*>(reinterpret_cast<const OPENFILENAMEA*>(lParam)->lCustData);
        dialog->SubclassWindow(hwnd);
        return TRUE;
    }
    return 0;
}

BOOL CFileDialog::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    switch (header->code) {
        case CDN_INITDONE:
            OnInitDone();
            break;
        case CDN_SELCHANGE:
            OnFileNameChange();
            break;
        case CDN_FOLDERCHANGE:
            OnFolderChange();
            break;
        case CDN_FILEOK:
            *result = OnFileNameOK();
            SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, *result);
            return TRUE;
        default:
            return CDialog::OnNotify(wParam, lParam, result);
    }
    *result = 0;
    return TRUE;
}

CString CFileDialog::GetFolderPath() const {
    char folder[MAX_PATH] = {};
    if (m_hWnd &&
        SendMessageA(GetExplorerWindow(), CDM_GETFOLDERPATH, sizeof folder, reinterpret_cast<LPARAM>(folder)) > 0)
        return CString(folder);
    return CString();
}

bool CFileDialog::ParseSelection(const char* buffer, size_t size, CString& folder, CStringArray& names) {
    std::string dir;
    std::vector<std::string> found;
    const bool ok = fwparse::SplitFileSelection(buffer, size, dir, found);
    folder = dir;
    names.RemoveAll();
    for (const std::string& name : found)
        names.Add(name);
    return ok;
}

CString CFileDialog::GetPathName() const {
    POSITION pos = GetStartPosition();
    return pos ? GetNextPathName(pos) : CString();
}

POSITION CFileDialog::GetStartPosition() const {
    CString folder;
    CStringArray names;
    if (!ParseSelection(m_ofn.lpstrFile, m_ofn.nMaxFile, folder, names) || names.GetSize() == 0) return nullptr;
    return reinterpret_cast<POSITION>(static_cast<uintptr_t>(1));
}

// POSITION carries the 1-based index of the next name.
CString CFileDialog::GetNextPathName(POSITION& pos) const {
    CString folder;
    CStringArray names;
    ParseSelection(m_ofn.lpstrFile, m_ofn.nMaxFile, folder, names);
    const auto index = reinterpret_cast<uintptr_t>(pos) - 1;
    if (index >= static_cast<uintptr_t>(names.GetSize())) {
        pos = nullptr;
        return CString();
    }
    pos = index + 1 < static_cast<uintptr_t>(names.GetSize()) ? reinterpret_cast<POSITION>(index + 2) : nullptr;
    const CString& name = names[static_cast<int>(index)];
    if (folder.IsEmpty()) return name;
    return folder.Right(1) == "\\" ? folder + name : folder + "\\" + name;
}
