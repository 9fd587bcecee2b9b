// Dialogs from templates of the resource module (modal and modeless), data exchange,
// property sheets without an Apply button, and the explorer-style file dialog.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <prsht.h>

#include <vector>

#include "framework/wnd.h"

class CDataExchange {
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
    bool m_bFailed = false;
    // The control `id` of the dialog; a missing control fails the exchange.
    HWND PrepareCtrl(int id);
    // Marks the exchange failed and puts the focus on the last prepared control.
    void Fail();

private:
    HWND last_ = nullptr;
};

void DDX_Text(CDataExchange* dx, int id, CString& value);
// A whole decimal number; text that is not one fails the exchange when saving.
void DDX_Text(CDataExchange* dx, int id, int& value);
// Check boxes: 0 unchecked, 1 checked, 2 indeterminate.
void DDX_Check(CDataExchange* dx, int id, int& value);
// The selected index of a combo box (-1 none).
void DDX_CBIndex(CDataExchange* dx, int id, int& value);
// Subclasses control `id` into `control` on the first exchange.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)

public:
    CDialog() = default;
    explicit CDialog(UINT templateId, CWnd* parent = nullptr) : m_nIDHelp(templateId), m_pParentWnd(parent) {}

    UINT m_nIDHelp = 0;  // the template id
    CWnd* m_pParentWnd = nullptr;

    // Runs the dialog with its own loop (messages pass through PreTranslateMessage) while
    // the owner is disabled. Returns the EndDialog code, or -1 when the template is
    // missing (error in AfxGetResourceError) or the dialog cannot be created.
    virtual INT_PTR DoModal();
    // Modeless: created visible when the template says so; false when it cannot be.
    virtual BOOL Create(UINT templateId, CWnd* parent = nullptr);
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL PreTranslateMessage(MSG* msg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    // Creates the dialog window from template m_nIDHelp with this object attached.
    HWND CreateFromTemplate(HWND owner);
    void OnOKCommand() { OnOK(); }
    void OnCancelCommand() { OnCancel(); }
    bool modal_ = false;
    bool end_modal_ = false;
    int modal_result_ = -1;
    DECLARE_MESSAGE_MAP()
};

class CPropertySheet;

class CPropertyPage : public CDialog {
    DECLARE_DYNAMIC(CPropertyPage)

public:
    explicit CPropertyPage(UINT templateId, UINT captionId = 0);

    PROPSHEETPAGEA m_psp{};

    // Called as the page becomes the current one; false refuses.
    virtual BOOL OnSetActive() { return TRUE; }
    // Called as the page stops being current; saves its data, false keeps it current.
    virtual BOOL OnKillActive() { return UpdateData(TRUE); }
    // The sheet's OK, for every page that was shown; its data was saved when it was left.
    void OnOK() override {}
    // The sheet's Cancel, for every page that was shown.
    void OnCancel() override {}
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    friend class CPropertySheet;
    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    CString caption_;
    CPropertySheet* sheet_ = nullptr;
};

// A modal property sheet without an Apply button.
class CPropertySheet : public CWnd {
    DECLARE_DYNAMIC(CPropertySheet)

public:
    explicit CPropertySheet(const char* caption = nullptr, CWnd* parent = nullptr, UINT selectPage = 0);
    explicit CPropertySheet(UINT captionId, CWnd* parent = nullptr, UINT selectPage = 0);

    PROPSHEETHEADERA m_psh{};

    void AddPage(CPropertyPage* page) { pages_.push_back(page); }
    int GetPageCount() const { return static_cast<int>(pages_.size()); }
    CPropertyPage* GetPage(int i) const { return pages_.at(static_cast<size_t>(i)); }
    // IDOK when the sheet ended with OK (every shown page got OnOK), IDCANCEL otherwise;
    // -1 when it could not be shown.
    virtual INT_PTR DoModal();
    // Called once the sheet window exists (it is attached to this object by then).
    virtual void OnSheetInitialized() {}

private:
    friend class CPropertyPage;
    static int CALLBACK SheetCallback(HWND hwnd, UINT message, LPARAM lParam);
    void NoteApply() { applied_ = true; }
    std::vector<CPropertyPage*> pages_;
    CString caption_;
    bool applied_ = false;
};

// GetOpenFileName / GetSaveFileName with the explorer look and a hook that reports
// selection and folder changes.
class CFileDialog : public CDialog {
    DECLARE_DYNAMIC(CFileDialog)

public:
    // `filter`: pairs of "description|pattern|" ending with "||".
    CFileDialog(BOOL openFileDialog, const char* defaultExt = nullptr, const char* fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
                CWnd* parent = nullptr);

    OPENFILENAMEA m_ofn{};
    BOOL m_bOpenFileDialog;

    // IDOK or IDCANCEL; on IDCANCEL CommDlgExtendedError tells whether it was a failure.
    INT_PTR DoModal() override;
    DWORD GetExtendedError() const { return extended_error_; }

    // The chosen path (the first one of a multi-selection).
    CString GetPathName() const;
    // Walk of the chosen paths: folder + "\" + each name of a multi-selection.
    virtual POSITION GetStartPosition() const;
    virtual CString GetNextPathName(POSITION& pos) const;
    // The folder the dialog shows while it runs.
    CString GetFolderPath() const;
    // The dialog window of the explorer (the hook's own window is a child of it).
    HWND GetExplorerWindow() const { return ::GetParent(m_hWnd); }

    // Splits an explorer result buffer of `size` bytes: "folder\0name\0name\0\0" for
    // several files, "path\0" for one. Bounded by `size`; false when nothing is in it.
    static bool ParseSelection(const char* buffer, size_t size, CString& folder, CStringArray& names);

protected:
    virtual void OnInitDone() {}
    virtual void OnFileNameChange() {}
    virtual void OnFolderChange() {}
    // True refuses the chosen name and keeps the dialog open.
    virtual BOOL OnFileNameOK() { return FALSE; }
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    static UINT_PTR CALLBACK HookProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    std::vector<char> file_buffer_;
    std::vector<char> filter_;
    CString default_ext_;
    DWORD extended_error_ = 0;
};
