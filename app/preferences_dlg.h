// The preferences sheet: output folders, file-name prefixes and the merge and last-project
// switches on the file page; TV format and preview on the view page. Each page writes its
// values through the preference setters on OK, and only when it was modified.
#pragma once

#include <windows.h>

#include "framework/dialog.h"

class CPrefFilePage : public CPropertyPage {
public:
    CPrefFilePage();
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    bool IsModified() const { return modified_; }

private:
    // Shows the prefix of edit `prefixId` shortened to 110 pixels in preview `previewId`.
    void UpdatePreview(int prefixId, int previewId, UINT formatId);
    void BrowseFolder(int editId, CString (*fallback)());

    CString exportDir_, captureDir_, convertDir_, capturePrefix_, convertPrefix_;
    int merge_ = 0;
    int loadLastProject_ = 0;
    bool modified_ = false;
};

class CPrefViewPage : public CPropertyPage {
public:
    CPrefViewPage();
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    bool IsModified() const { return modified_; }

private:
    int tvFormat_ = 0;
    int preview_ = 0;
    bool modified_ = false;
};

// A property sheet without an Apply button holding the file page and the view page.
class CPreferenceDlg : public CPropertySheet {
public:
    CPreferenceDlg(UINT captionId, CWnd* parent = nullptr, UINT firstPage = 0);
    CPrefFilePage& FilePage() { return filePage_; }
    CPrefViewPage& ViewPage() { return viewPage_; }

private:
    CPrefFilePage filePage_;
    CPrefViewPage viewPage_;
};
