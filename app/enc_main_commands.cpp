// The main page's command dispatcher, its queries for the panel's enable rules, the project
// commands with their dialogs and title, and dropped files.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "app/enc_main_page.h"
#include "app/gxt_frame.h"
#include "app/project_file.h"
#include "app/resources/resource_ids.h"
#include "app/services/preferences.h"
#include "app/skin/common_dialogs.h"
#include "app/skin/skin_controls.h"
#include "framework/app.h"

namespace {

constexpr DWORD kFileDialogFlags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

bool IsBusy(int busy) {
    return busy == kBusyCapture || busy == kBusyConvert;
}

}  // namespace

int CEncMainPage::IsDVSetupEnabled() {
    if (shown_ == kShownFile || !dvPage_) return 0;
    return dvPage_->IsSetupEnabled();
}

int CEncMainPage::IsExportItemSelected() {
    return exportRoom_ && exportRoom_->GetSelectedCount() == 1 ? 1 : 0;
}

int CEncMainPage::IsCommandEnabled(UINT code) {
    if (code < 4301 || code > 4303) return 1;
    if (shown_ == kShownFile && filePage_) return filePage_->IsCommandEnabled(code);
    if (shown_ == kShownDV && dvPage_) return dvPage_->IsCommandEnabled(code);
    return 1;
}

int CEncMainPage::IsFilePrimaryEnabled() {
    return filePage_ ? filePage_->IsPrimaryButtonEnabled() : 0;
}

int CEncMainPage::IsDVSecondaryEnabled() {
    return dvPage_ ? dvPage_->IsSecondaryButtonEnabled() : 0;
}

int CEncMainPage::IsProjectModified() {
    return filePage_ ? filePage_->GetState() : 0;
}

int CEncMainPage::Ask(UINT stringId, UINT type) {
    return AfxMessageBox(stringId, type);
}

bool CEncMainPage::RunProjectFileDialog(bool open, CString& path) {
    CGFileDialog dialog(open ? TRUE : FALSE, open ? nullptr : "qzt", nullptr, kFileDialogFlags,
                        AfxLoadString(IDS_OPEN_PROJECT_FILTER), this);
    const CString folder = GetConvertDir();
    dialog.m_ofn.lpstrInitialDir = folder.c_str();
    if (dialog.DoModal() != IDOK) return false;
    path = dialog.GetPathName();
    return !path.IsEmpty();
}

bool CEncMainPage::RunViewFileDialog(CString& path) {
    const PageFactory& factory = GetPageFactory();
    const CString lists = factory.buildOpenFileFilter ? factory.buildOpenFileFilter() : CString("*.*");
    CString filter;
    filter.Format("%s (%s)|%s|", AfxLoadString(IDS_SUPPORTED_FILES).c_str(), lists.c_str(), lists.c_str());
    filter += "|";
    CGFileDialog dialog(TRUE, nullptr, nullptr, kFileDialogFlags, filter, this);
    const CString folder = GetExportDir();
    dialog.m_ofn.lpstrInitialDir = folder.c_str();
    if (dialog.DoModal() != IDOK) return false;
    path = dialog.GetPathName();
    return !path.IsEmpty();
}

int CEncMainPage::AskSaveModified() {
    if (!IsProjectModified()) return 1;
    const int answer = Ask(IDS_SAVE_PROJECT_CHANGES, MB_YESNOCANCEL);
    if (answer == IDCANCEL) return 0;
    if (answer == IDYES) SaveProjectAs();
    return 1;
}

void CEncMainPage::SaveProjectAs() {
    CString path;
    if (RunProjectFileDialog(false, path)) SaveProject(path);
}

void CEncMainPage::OpenProject(const char* path) {
    auto* project = new CProjectFile;
    if (project->Load(path)) {
        CPtrList* entries = nullptr;
        project->GetEntries(&entries);
        if (filePage_ && entries) filePage_->LoadProjectEntries(*entries);
        delete project;
        projectName_ = path;
        SetProjectTitle(path);
    } else {
        NewProject();
        delete project;
    }
}

void CEncMainPage::SaveProject(const char* path) {
    const std::string name = path;  // `path` may be the project name itself
    auto* project = new CProjectFile;
    CPtrList* entries = nullptr;
    project->GetEntries(&entries);
    if (filePage_ && entries) filePage_->FillProjectEntries(*entries);
    project->Save(name.c_str());
    delete project;
    projectName_ = name;
    SetProjectTitle(name.c_str());
}

void CEncMainPage::NewProject() {
    if (filePage_) filePage_->Refresh();
    projectName_.clear();
    SetProjectTitle(AfxLoadString(IDS_UNTITLED_PROJECT));
}

void CEncMainPage::SetProjectTitle(const char* name) {
    CString caption;
    caption.Format("%s %s-%s", AfxLoadString(IDS_TITLE_PRODUCT).c_str(), AfxLoadString(IDS_TITLE_EDITION).c_str(),
                   name ? name : "");
    if (auto* frame = dynamic_cast<CGXTFrameWnd*>(GetParent())) frame->SetCaptionText(caption);
}

void CEncMainPage::FormatTitleText() {
    CString text;
    text.Format("%s*", projectName_.empty() ? AfxLoadString(IDS_UNTITLED_PROJECT).c_str() : projectName_.c_str());
    SetProjectTitle(text);
}

LRESULT CEncMainPage::OpenBatchIfIdle() {
    if (shown_ == kShownDV && dvPage_ && busy_ != kBusyCapture) return dvPage_->OnBatchIfIdle();
    return 0;
}

void CEncMainPage::OnDropFiles(HDROP drop) {
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        char name[MAX_PATH] = {};
        DragQueryFileA(drop, i, name, MAX_PATH);
        if (strstr(name, ".qzt")) {
            if (AskSaveModified() == 1) OpenProject(name);
            return;
        }
    }
    if (shown_ == kShownFile && filePage_) filePage_->OnDropFiles(drop);
}

LRESULT CEncMainPage::OnEncMainCommand(WPARAM wParam, LPARAM) {
    if (!filePage_) return 0;
    const UINT code = static_cast<UINT>(wParam);
    const bool busy = IsBusy(busy_);
    const bool fileShown = shown_ == kShownFile;
    const bool dvShown = shown_ == kShownDV && dvPage_;
    // The page a transport command goes to: the shown one.
    auto transport = [&](UINT c) -> LRESULT {
        if (fileShown) return filePage_->OnTransportCommand(c);
        if (dvShown) return dvPage_->OnTransportCommand(c);
        return 0;
    };
    const bool pageShown = fileShown || dvShown;
    switch (code) {
        case 4001:
            if (busy || !AskSaveModified()) return 0;
            NewProject();
            return 0;
        case 4002: {
            if (busy) return 0;
            AskSaveModified();
            CString path;
            if (RunProjectFileDialog(true, path)) OpenProject(path);
            return 0;
        }
        case 4003: {
            if (busy) return 0;
            CString path = projectName_.c_str();
            if (projectName_.empty() && !RunProjectFileDialog(false, path)) return 0;
            SaveProject(path);
            return 0;
        }
        case 4004:
            if (busy) return 0;
            SaveProjectAs();
            return 0;
        case 4005: {
            if (busy) return 0;
            CString path;
            if (!RunViewFileDialog(path)) return 0;
            const PageFactory& factory = GetPageFactory();
            if (exportRoom_ && factory.isSupportedInputFile && factory.isSupportedInputFile(path))
                return exportRoom_->OpenFile(path);
            return 0;
        }
        case 4006:
            if (busy) return 0;
            if (CWnd* parent = GetParent()) parent->SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
            return 0;
        case 4101: {
            if (busy) return 0;
            auto* profile = dynamic_cast<CGButtonBase*>(GetControl(kIdButtonProfile));
            if (profile && !profile->IsEnabled()) return 0;
            OnProfileButton();
            return 0;
        }
        case 4102:
            if (busy || !exportRoom_) return 0;
            return exportRoom_->RenameSelected();
        case 4201:
            if (busy || fileShown) return 0;
            ShowFilePage();
            return 0;
        case 4202:
            if (busy || shown_ == kShownDV) return 0;
            ShowDVPage();
            return 0;
        case 4203:
            if (busy) return 0;
            filePage_->Refresh();
            return 0;
        case 4204:
        case 4205:
            if (busy || !fileShown) return 0;
            return filePage_->OnAddCommand(code);
        case 4206:
            if (busy || !fileShown) return 0;
            return filePage_->OnConvertCommand(code);
        case 4207:
            if (!fileShown) return 0;
            return filePage_->OnConvertCommand(code);
        case 4208:
            if (busy || !dvShown) return 0;
            return dvPage_->OnRecordCommand(code);
        case 4209:
            if (!dvShown) return 0;
            return dvPage_->OnRecordCommand(code);
        case 4210:
            if (!dvShown || !dvPage_->IsSetupEnabled()) return 0;
            return dvPage_->SetupIfEnabled();
        case 4301:
        case 4302:
        case 4303:
        case 4304:
        case 4306:
        case 4307:
            if (busy || !pageShown) return 0;
            return transport(code);
        case 4305:
            if (busy || !exportRoom_) return 0;
            return exportRoom_->ViewSelected();
        case 4308:
        case 4309:
            if (!pageShown) return 0;
            return transport(code);
        case 4310:
        case 4311:
        case 4312:
        case 4313:
            if (busy || !fileShown) return 0;
            return filePage_->OnListCommand(code);
        default:
            return 0;
    }
}
