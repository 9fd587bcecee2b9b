// The dialog after a capture: shows the folder of the new clip and lets the user rename it,
// keep it or delete it. Renaming and deleting take the clip's continuation files
// ("name(n).ext", n from 0 without a gap) along. Nothing of another name is overwritten: a
// new name that is taken is refused.
#pragma once

#include <windows.h>

#include <string>

#include "framework/dialog.h"
#include "framework/string.h"

class CCaptureFilePromptDlg : public CDialog {
public:
    CCaptureFilePromptDlg(CWnd* parent, BOOL fromCapture);
    ~CCaptureFilePromptDlg() override;
    void SetPath(const char* path);
    // folder\name.ext of the kept clip; "" after Delete or with an empty name.
    CString GetResultPath() const;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;
    void OnDelete();

    // Valid: not empty and none of \ / : * ? " < > |.
    static bool IsValidName(const char* name);
    // `text` cut to the longest prefix that, with "...", is narrower than `width` pixels in
    // `dc`; whole when it fits. Double-byte characters are never split.
    static std::string FitText(HDC dc, const std::string& text, int width);

    DECLARE_MESSAGE_MAP()

private:
    // Shows `messageId`, a line break and the system's text for `error`.
    void ReportError(UINT messageId, DWORD error);
    std::string Continuation(const std::string& name, int n) const;

    BOOL fromCapture_;
    CString folder_, newName_, extension_, folderShown_;
    std::string currentName_;
    int askAgain_ = 1;
};
