// The splash (a borderless picture shaped to its rows) and the About box (a skinned dialog
// over a picture, with the program's version and, on a right click, the encoder filter's).
#pragma once

#include <windows.h>

#include "app/skin/g_dialog.h"
#include "framework/dialog.h"

// The region of the rows of `bitmap`: for each row holding at least two pixels that are not
// `key`, the span from the first to the last of them, one pixel high (so rows have no holes).
// Null for a null or oversized bitmap; an empty region when no row qualifies.
HRGN BitmapToRowRegion(HBITMAP bitmap, COLORREF key);

// The "ProductVersion" string of a file (of the program itself for null): 1 and the text, or
// 0 and "".
int GetFileProductVersion(CString& out, const char* path);
// The "FileVersion" (US English, Unicode string table) of `name` in the shared filter folder;
// "" when unavailable. At most 63 characters.
CString GetFilterFileVersion(const char* name);
// The same for a full path.
CString GetFileVersionString(const char* path);

class CSplashWnd : public CDialog {
public:
    explicit CSplashWnd(CWnd* parent = nullptr);
    ~CSplashWnd() override;
    BOOL OnInitDialog() override;
    // Keeps the text and repaints at once (start-up blocks the message loop meanwhile).
    void SetStatusText(const char* text);
    const CString& GetStatusText() const { return status_; }
    CSize GetPictureSize() const { return CSize(width_, height_); }
    void OnPaint();

protected:
    DECLARE_MESSAGE_MAP()

private:
    CBitmap picture_;
    int width_ = 400;
    int height_ = 300;
    CString status_;
};

class CAboutDlg : public CGDialog {
public:
    explicit CAboutDlg(CWnd* parent = nullptr);
    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* msg) override;
    BOOL DestroyWindow() override;
    void OnPaint();
    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT type);
    LRESULT OnRButtonUp(WPARAM wParam, LPARAM lParam);

    const CString& GetProgramVersion() const { return version_; }
    const CString& GetBuildText() const { return build_; }
    const CString& GetFilterLine() const { return filterLine_; }
    // The left-hand line: version, two spaces, build text.
    CString GetVersionLine() const;

protected:
    DECLARE_MESSAGE_MAP()

private:
    HWND tooltip_ = nullptr;
    CBitmap picture_;
    CDC memory_;
    HGDIOBJ oldBitmap_ = nullptr;
    int width_ = 0, height_ = 0;
    CString version_, build_, filterVersion_, filterLine_;
};
