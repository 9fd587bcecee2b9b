// Helpers of the tests that start the program itself: the started process, the encoder
// filter registered for its start-up check, its windows and its run to the end.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/skin/tests/window_support.h"
#include "filters/base/tests/com_test_util.h"

namespace {

inline std::string ProgramPath() {
    return ProgramFolder() + "\\Vistrel.exe";
}

// A started program.
struct Process {
    PROCESS_INFORMATION info{};
    bool started = false;
    explicit Process(const std::string& commandLine, const std::string& folder = "") {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string line = commandLine;
        started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &info) != 0;
    }
    ~Process() {
        if (!started) return;
        if (WaitForSingleObject(info.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 99);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    bool Ended() const { return WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0; }
    DWORD ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        return code;
    }
};

// Encoder filter registered for the life of the test (start-up checks that it can be made).
class EncoderRegistered {
public:
    explicit EncoderRegistered(const char* dll) : dll_(comtest::WinePath(dll)) {
        ok_ = comtest::Regsvr32(dll_, false) == 0;
    }
    bool Ok() const { return ok_; }

private:
    comtest::RegistrationLock lock_;
    std::wstring dll_;
    bool ok_ = false;
};

struct FoundWindow {
    DWORD pid;
    std::string className;
    HWND hwnd;
};

inline BOOL CALLBACK FindProcessWindow(HWND hwnd, LPARAM param) {
    auto* want = reinterpret_cast<FoundWindow*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    // Of the dialogs, only message boxes (an OK button; the splash is a dialog too).
    const bool isBox = want->className != "#32770" || GetDlgItem(hwnd, IDOK);
    if (pid == want->pid && want->className == cls && IsWindowVisible(hwnd) && isBox) {
        want->hwnd = hwnd;
        return FALSE;
    }
    return TRUE;
}

inline HWND WindowOf(const Process& p, const char* className) {
    FoundWindow want{p.info.dwProcessId, className, nullptr};
    EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&want));
    return want.hwnd;
}

// The process's visible window of `className`, waited for up to `ms` while it runs; null
// when none came.
inline HWND WaitForWindow(const Process& p, const char* className, DWORD ms) {
    HWND window = nullptr;
    for (DWORD waited = 0; waited < ms && !window && !p.Ended(); waited += 100) {
        window = WindowOf(p, className);
        if (!window) Sleep(100);
    }
    return window;
}

// Waits for the process to end, answering each message box it shows with OK and keeping
// its text. False when it did not end within `ms`.
inline bool RunToEnd(Process& p, std::vector<std::string>* messages, DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        if (p.Ended()) return true;
        if (HWND box = WindowOf(p, "#32770")) {
            // The box's texts: every static of it that holds one.
            std::string text;
            EnumChildWindows(
                box,
                [](HWND child, LPARAM all) -> BOOL {
                    char cls[32] = {}, t[600] = {};
                    GetClassNameA(child, cls, sizeof cls);
                    GetWindowTextA(child, t, sizeof t);
                    if (!lstrcmpiA(cls, "Static") && t[0]) *reinterpret_cast<std::string*>(all) += t;
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&text));
            if (messages && (messages->empty() || messages->back() != text)) messages->push_back(text);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        Sleep(100);
    }
    return p.Ended();
}

}  // namespace
