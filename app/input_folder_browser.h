// The folder browser of the file conversion page's "add folder": the shell's folder picker
// with a check box (string 2025) deciding whether subfolders are searched too, the start
// folder preselected and the selection shown compacted in the status line. One browser at a
// time, on the user-interface thread.
#pragma once

#include <windows.h>

#include "framework/string.h"
#include "framework/wnd.h"

class CInputFolderBrowser {
public:
    // Stores the owner (may be null) and the start folder (null: none), and ticks the
    // include-subfolders box.
    CInputFolderBrowser(CWnd* owner, const char* startFolder);
    // IDOK (1) with the chosen folder's path in GetFolder(), or IDCANCEL (2) when the user
    // cancelled or no file-system path came back.
    int Browse();
    const CString& GetFolder() const { return chosen_; }

private:
    CWnd* owner_;
    CString chosen_;
};

// The include-subfolders flag as the last browser left it: 1 ticked, 0 not.
int GetIncludeSubfolders();

// The shell's callback and the window procedure put in front of the browse dialog's own.
int CALLBACK InputFolderBrowserCallback(HWND dialog, UINT message, LPARAM parameter, LPARAM data);
LRESULT CALLBACK InputFolderBrowserSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
