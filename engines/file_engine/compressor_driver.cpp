// The installable driver the system loads for the engine's video compressor and audio
// codec. The system loads a driver by its registered path alone, so libraries that the
// engine needs beside it would not be found; this library needs none: it loads the engine
// from its own folder (where FFmpeg's libraries lie) and hands every message to the
// engine's DriverProc.
#include <windows.h>
#include <mmsystem.h>

#include <string>

namespace {

using DriverProcFn = LRESULT(WINAPI*)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);

HMODULE self = nullptr;
INIT_ONCE loadOnce = INIT_ONCE_STATIC_INIT;
DriverProcFn engineProc = nullptr;

BOOL CALLBACK LoadEngine(INIT_ONCE*, void*, void**) {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    std::wstring engine(path, n);
    const size_t slash = engine.find_last_of(L"\\/");
    engine = (slash == std::wstring::npos ? std::wstring() : engine.substr(0, slash + 1)) + L"file_engine.dll";
    // Kept loaded for the process's life: open drivers hold pointers into it.
    if (HMODULE module = LoadLibraryExW(engine.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
        engineProc = reinterpret_cast<DriverProcFn>(reinterpret_cast<void*>(GetProcAddress(module, "DriverProc")));
    return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2) {
    InitOnceExecuteOnce(&loadOnce, LoadEngine, nullptr, nullptr);
    if (!engineProc) return message == DRV_LOAD || message == DRV_OPEN ? 0 : DefDriverProc(id, driver, message, p1, p2);
    return engineProc(id, driver, message, p1, p2);
}
