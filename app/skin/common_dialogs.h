// Small dialogs used around the pages: the file dialog with unlimited multi-selection, the
// information dialog of up to three label/value pairs, the modeless progress dialog with
// cancel, and the embedded HTML view.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include <shlobj.h>

#include "framework/dialog.h"
#include "framework/html_view.h"

// A file dialog whose multi-selection is not limited by its file-name buffer: when the
// explorer's selection text outgrows the buffer, the dialog keeps its own copy of the
// selection and folder, and the walk of the chosen paths reads that copy.
class CGFileDialog : public CFileDialog {
public:
    CGFileDialog(BOOL openFileDialog, const char* defaultExt = nullptr, const char* fileName = nullptr,
                 DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
                 CWnd* parent = nullptr);

    // The platform's record size and the explorer style; a too-small-buffer failure counts as
    // IDOK when the selection was captured.
    INT_PTR DoModal() override;
    POSITION GetStartPosition() const override;
    CString GetNextPathName(POSITION& pos) const override;
    // What OnFileNameChange captures: the explorer's selection text and folder.
    void CaptureSelection(const std::string& folder, const std::string& selection);
    bool HasCapturedSelection() const { return captured_; }

protected:
    void OnFileNameChange() override;

private:
    bool captured_ = false;
    std::string folder_;
    std::vector<std::string> names_;
};

class CInfoDialog : public CDialog {
public:
    CInfoDialog(const char* label1, const char* value1, const char* label2, const char* value2, const char* label3,
                const char* value3, CWnd* parent = nullptr);
    // Each pair is shown when both texts are non-empty; otherwise both controls are hidden.
    BOOL OnInitDialog() override;

private:
    CString texts_[6];
};

class CProgressDialog : public CDialog {
public:
    // Created modeless and centred; the parent defaults to the application's main window.
    CProgressDialog(CWnd* parent, const char* caption);
    ~CProgressDialog() override;

    BOOL OnInitDialog() override;
    void SetTitle(const char* text);
    void SetCaptionFormat(const char* text) { caption_ = text; }
    void SetRange(int lower, int upper, int step);
    // Stores the position and shows "caption [n%]" when the percentage changed; the bar's
    // previous position.
    int SetPos(int position);
    int StepIt() { return SetPos(position_ + step_); }
    void ShowCancel(BOOL show);
    // Dispatches waiting messages until none is left or the dialog is cancelled; with
    // `escapeCancels` an Escape key-down cancels instead of being dispatched. A quit message
    // met on the way is posted again and ends the pumping.
    void PumpMessages(BOOL escapeCancels);
    bool IsCancelled() const { return cancelled_; }
    // A new run of work: a cancel of the one before no longer counts.
    void ClearCancel() { cancelled_ = false; }
    int GetPos() const { return position_; }
    void OnCancel() override { cancelled_ = true; }
    void OnOK() override {}

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    CWnd* parent_ = nullptr;
    bool cancelled_ = false;
    int position_ = 0;
    int lastPercent_ = 0;
    int step_ = 1;
    int upper_ = 100;
    int lower_ = 0;
    CString caption_;
};

// A message about a file, with a way to pick a replacement (OK), skip it (5), skip all
// (248) or stop (IDCANCEL).
class CMessageFileDialog : public CDialog {
public:
    CMessageFileDialog(const char* message, const char* path, CWnd* parent = nullptr);
    BOOL OnInitDialog() override;
    const CString& GetMessageText() const { return text_; }
    const CString& GetFileName() const { return chosen_; }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Browse();
    CString text_, chosen_;
    char path_[MAX_PATH] = {};
};

// The shell's folder picker with the chosen path, shortened, as its live status line.
class CFolderBrowser {
public:
    CFolderBrowser(const char* initialFolder, UINT flags, CWnd* parent);
    virtual ~CFolderBrowser() = default;
    // 1 with the chosen folder's path as the result; 2 for cancel or a folder without a
    // file-system path (the result then stays the initial folder).
    virtual int Browse();
    virtual void OnInitialized();
    virtual void OnSelChanged(LPCITEMIDLIST item);
    // The shell's callback lands here (the shell gets 0).
    virtual int OnCallback(HWND window, UINT message, LPARAM parameter);
    const CString& GetFolder() const { return result_; }

private:
    static int CALLBACK Callback(HWND window, UINT message, LPARAM parameter, LPARAM self);
    void ShowStatus(const char* path);

    CString initial_, result_, title_;
    BROWSEINFOA info_{};
    char path_[MAX_PATH] = {};
    HWND window_ = nullptr;
};

// An HTML view embedded in a dialog: no context menu, and dialog keys pass to the dialog.
class CHtmlCtrl : public CHtmlView {
public:
    // Creates the view as a child with the pane id 0xE900 in `placement` (x, y, width,
    // height) of `parent`, hides the browser's border and turns off its drop target.
    BOOL Resize(const RECT& placement, CWnd* parent);
    BOOL PreTranslateMessage(MSG* msg) override;
    int OnMouseActivate(CWnd* topLevel, UINT hitTest, UINT mouseMessage);

protected:
    DECLARE_MESSAGE_MAP()
};
