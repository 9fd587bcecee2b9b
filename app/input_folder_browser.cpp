#include "app/input_folder_browser.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "app/resources/resource_ids.h"

namespace {

// State shared with the shell's callbacks (one browser at a time).
char g_startFolder[MAX_PATH] = {};
int g_includeSubfolders = 1;
constexpr char kPreviousProc[] = "InputFolderBrowser.PreviousProc";
// The check box takes the id of its text.
constexpr int kSubfolderBox = IDS_INCLUDE_SUBFOLDERS;

}  // namespace

int GetIncludeSubfolders() {
    return g_includeSubfolders;
}

CInputFolderBrowser::CInputFolderBrowser(CWnd* owner, const char* startFolder) : owner_(owner) {
    lstrcpynA(g_startFolder, startFolder ? startFolder : "", MAX_PATH);
    g_includeSubfolders = 1;
}

int CInputFolderBrowser::Browse() {
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)) || !allocator) return IDCANCEL;
    char display[MAX_PATH] = {};
    BROWSEINFOA info{};
    info.hwndOwner = owner_ ? owner_->m_hWnd : nullptr;
    info.pszDisplayName = display;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    info.lpfn = InputFolderBrowserCallback;
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    if (!item) {
        allocator->Release();
        return IDCANCEL;
    }
    char path[MAX_PATH] = {};
    const BOOL hasPath = SHGetPathFromIDListA(item, path);
    allocator->Free(item);
    allocator->Release();
    if (!hasPath) return IDCANCEL;
    chosen_ = path;
    return IDOK;
}

int CALLBACK InputFolderBrowserCallback(HWND dialog, UINT message, LPARAM parameter, LPARAM) {
    if (message == BFFM_INITIALIZED) {
        const LONG_PTR previous =
            SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(InputFolderBrowserSubclassProc));
        SetPropA(dialog, kPreviousProc, reinterpret_cast<HANDLE>(previous));
        SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(g_startFolder));
        HWND box = CreateWindowExA(0, "BUTTON", AfxLoadString(IDS_INCLUDE_SUBFOLDERS),
                                   WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX, 10, 10, 300, 13, dialog,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSubfolderBox)), nullptr, nullptr);
        if (box) {
            PostMessageA(box, WM_SETFONT, static_cast<WPARAM>(SendMessageA(dialog, WM_GETFONT, 0, 0)), TRUE);
            SendMessageA(box, BM_SETCHECK, BST_CHECKED, 0);
            UpdateWindow(box);
        }
    } else if (message == BFFM_SELCHANGED) {
        RECT r{};
        GetWindowRect(dialog, &r);
        char path[MAX_PATH] = {};
        if (SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(parameter), path)) {
            HDC screen = GetDC(nullptr);
            HGDIOBJ old = SelectObject(screen, reinterpret_cast<HGDIOBJ>(SendMessageA(dialog, WM_GETFONT, 0, 0)));
            PathCompactPathA(screen, path, static_cast<UINT>(r.right - r.left - 40));
            SelectObject(screen, old);
            ReleaseDC(nullptr, screen);
            SendMessageA(dialog, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path));
        }
    }
    return 0;
}

LRESULT CALLBACK InputFolderBrowserSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto previous = reinterpret_cast<WNDPROC>(GetPropA(window, kPreviousProc));
    if (message == WM_COMMAND && LOWORD(wParam) == kSubfolderBox) {
        g_includeSubfolders = g_includeSubfolders ? 0 : 1;
        SendDlgItemMessageA(window, kSubfolderBox, BM_SETCHECK, g_includeSubfolders ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    if (message == WM_NCDESTROY) {
        RemovePropA(window, kPreviousProc);
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    }
    return previous ? CallWindowProcA(previous, window, message, wParam, lParam)
                    : DefWindowProcA(window, message, wParam, lParam);
}
