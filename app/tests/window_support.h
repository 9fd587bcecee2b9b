// Helpers of the shell's window tests.
#pragma once

#include <windows.h>

#include <string>

#include "framework/app.h"

namespace {

// The folder of the test program (the resource library and the default skin lie there).
inline std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\'));
}

// Dispatches waiting messages for `ms` milliseconds.
inline void Pump(DWORD ms = 80) {
    const DWORD end = GetTickCount() + ms;
    do {
        AfxPumpWaitingMessages();
        Sleep(5);
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

}  // namespace
