// Helpers of the property page tests: the system property frame of this process and the
// page inside it that holds a given control, found with bounded waits.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cwchar>

namespace comtest {

// COM in a single-threaded apartment on the test thread, as property frames need.
struct ComSta {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComSta() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

// The visible dialog window of this process (the property frame), or null.
inline HWND FindFrame() {
    struct Search {
        HWND found = nullptr;
    } search;
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            wchar_t cls[32] = L"";
            GetClassNameW(w, cls, 32);
            if (pid == GetCurrentProcessId() && IsWindowVisible(w) && wcscmp(cls, L"#32770") == 0) {
                reinterpret_cast<Search*>(p)->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The visible descendant dialog of `root` that holds control `id`.
inline HWND FindPageWith(HWND root, int id) {
    struct Search {
        int id;
        HWND found = nullptr;
    } search{id};
    EnumChildWindows(
        root,
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (IsWindowVisible(w) && GetDlgItem(w, s->id)) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Polls `find` every 50 ms until it gives a window or the time is up (null then).
template <class F>
HWND WaitFor(F find, DWORD timeoutMs = 20000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (HWND w = find()) return w;
        Sleep(50);
    }
    return nullptr;
}

}  // namespace comtest
