#include "app/preferences_dlg.h"

#include <shlwapi.h>

#include "app/resources/resource_ids.h"
#include "app/services/preferences.h"
#include "app/skin/common_dialogs.h"
#include "framework/gdi.h"

namespace {

constexpr int kPreviewWidth = 110;  // pixels the prefix may take in its preview

CString WithBackslash(const CString& folder) {
    if (!folder.IsEmpty() && folder.GetAt(folder.GetLength() - 1) == '\\') return folder;
    return folder + "\\";
}

}  // namespace

CPrefFilePage::CPrefFilePage() : CPropertyPage(IDD_PREF_FILE) {}

BOOL CPrefFilePage::OnInitDialog() {
    exportDir_ = GetExportDir();
    captureDir_ = GetCaptureDir();
    convertDir_ = GetConvertDir();
    capturePrefix_ = GetCapturePrefix();
    convertPrefix_ = GetConvertPrefix();
    merge_ = GetMerge() ? 1 : 0;
    loadLastProject_ = GetLoadLastProject() ? 1 : 0;
    CPropertyPage::OnInitDialog();
    UpdatePreview(IDC_CAPTURE_PREFIX, IDC_CAPTURE_PREFIX_PREVIEW, IDS_CAPTURE_PREFIX_PREVIEW);
    UpdatePreview(IDC_CONVERT_PREFIX, IDC_CONVERT_PREFIX_PREVIEW, IDS_CONVERT_PREFIX_PREVIEW);
    return TRUE;
}

void CPrefFilePage::DoDataExchange(CDataExchange* dx) {
    DDX_Text(dx, IDC_EXPORT_DIR, exportDir_);
    DDX_Text(dx, IDC_CAPTURE_DIR, captureDir_);
    DDX_Text(dx, IDC_CONVERT_DIR, convertDir_);
    DDX_Text(dx, IDC_CAPTURE_PREFIX, capturePrefix_);
    DDX_Text(dx, IDC_CONVERT_PREFIX, convertPrefix_);
    DDX_Check(dx, IDC_MERGE, merge_);
    DDX_Check(dx, IDC_LOAD_LAST_PROJECT, loadLastProject_);
}

void CPrefFilePage::UpdatePreview(int prefixId, int previewId, UINT formatId) {
    char shown[MAX_PATH] = {};
    lstrcpynA(shown, GetDlgItemText(prefixId), MAX_PATH);
    HDC dc = ::GetDC(m_hWnd);
    HGDIOBJ old = ::SelectObject(dc, GetFont());
    PathCompactPathA(dc, shown, kPreviewWidth);
    ::SelectObject(dc, old);
    ::ReleaseDC(m_hWnd, dc);
    CString text;
    text.FormatId(formatId, shown);
    SetDlgItemText(previewId, text);
    modified_ = true;
}

void CPrefFilePage::BrowseFolder(int editId, CString (*fallback)()) {
    CString start = GetDlgItemText(editId);
    if (start.IsEmpty() || !PathIsDirectoryA(start)) start = fallback();
    CFolderBrowser browser(start, BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN, this);
    if (browser.Browse() != 1) return;
    SetDlgItemText(editId, WithBackslash(browser.GetFolder()));
    modified_ = true;
}

BOOL CPrefFilePage::OnCommand(WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam), code = HIWORD(wParam);
    if (code == EN_CHANGE) {
        if (id == IDC_CAPTURE_PREFIX) UpdatePreview(id, IDC_CAPTURE_PREFIX_PREVIEW, IDS_CAPTURE_PREFIX_PREVIEW);
        if (id == IDC_CONVERT_PREFIX) UpdatePreview(id, IDC_CONVERT_PREFIX_PREVIEW, IDS_CONVERT_PREFIX_PREVIEW);
        if (id == IDC_EXPORT_DIR || id == IDC_CAPTURE_DIR || id == IDC_CONVERT_DIR) modified_ = true;
    } else if (code == BN_CLICKED) {
        switch (id) {
            case IDC_MERGE:
            case IDC_LOAD_LAST_PROJECT:
                modified_ = true;
                break;
            case IDC_BROWSE_EXPORT:
                BrowseFolder(IDC_EXPORT_DIR, GetExportDir);
                break;
            case IDC_BROWSE_CAPTURE:
                BrowseFolder(IDC_CAPTURE_DIR, GetCaptureDir);
                break;
            case IDC_BROWSE_CONVERT:
                BrowseFolder(IDC_CONVERT_DIR, GetConvertDir);
                break;
            default:
                break;
        }
    }
    return CPropertyPage::OnCommand(wParam, lParam);
}

void CPrefFilePage::OnOK() {
    if (!modified_) return;
    UpdateData(TRUE);
    SetExportDir(exportDir_);
    SetCaptureDir(captureDir_);
    SetConvertDir(convertDir_);
    SetCapturePrefix(capturePrefix_);
    SetConvertPrefix(convertPrefix_);
    SetLoadLastProject(loadLastProject_ == 1 ? 1 : 0);
    SetMerge(merge_ == 1 ? 1 : 0);
}

CPrefViewPage::CPrefViewPage() : CPropertyPage(IDD_PREF_VIEW) {}

BOOL CPrefViewPage::OnInitDialog() {
    HWND combo = ::GetDlgItem(m_hWnd, IDC_TV_FORMAT);
    ::SendMessageA(combo, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(AfxLoadString(IDS_TV_FORMAT_PAL).c_str()));
    ::SendMessageA(combo, CB_INSERTSTRING, 1, reinterpret_cast<LPARAM>(AfxLoadString(IDS_TV_FORMAT_NTSC).c_str()));
    tvFormat_ = static_cast<int>(GetTVFormat());
    preview_ = GetPreviewVideo() ? 1 : 0;
    return CPropertyPage::OnInitDialog();
}

void CPrefViewPage::DoDataExchange(CDataExchange* dx) {
    DDX_CBIndex(dx, IDC_TV_FORMAT, tvFormat_);
    DDX_Check(dx, IDC_PREVIEW_VIDEO, preview_);
}

BOOL CPrefViewPage::OnCommand(WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam), code = HIWORD(wParam);
    if ((id == IDC_TV_FORMAT && code == CBN_SELCHANGE) || (id == IDC_PREVIEW_VIDEO && code == BN_CLICKED))
        modified_ = true;
    return CPropertyPage::OnCommand(wParam, lParam);
}

void CPrefViewPage::OnOK() {
    if (!modified_) return;
    UpdateData(TRUE);
    SetTVFormat(tvFormat_ < 0 ? 0 : static_cast<DWORD>(tvFormat_));
    SetPreviewVideo(preview_ == 1 ? 1 : 0);
}

CPreferenceDlg::CPreferenceDlg(UINT captionId, CWnd* parent, UINT firstPage)
    : CPropertySheet(captionId, parent, firstPage) {
    AddPage(&filePage_);
    AddPage(&viewPage_);
}
