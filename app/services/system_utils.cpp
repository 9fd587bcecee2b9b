#include "app/services/system_utils.h"

#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "app/services/image_holder.h"
#include "framework/app.h"

namespace {

struct HeldFile {
    int count = 0;
    HANDLE handle = INVALID_HANDLE_VALUE;
};
std::map<std::string, HeldFile>& FileTable() {
    static std::map<std::string, HeldFile> table;
    return table;
}

void ShowFailure(const CString& text) {
    MessageBoxRequest request;
    request.text = text;
    request.type = MB_OK;
    AfxShowMessageBox(request);
}

class SystemPowerLibrary : public PowerLibrary {
public:
    bool Load(PowerApi* api) override {
        module_ = LoadLibraryA("Powrprof.DLL");
        if (module_ == nullptr) return false;
        const auto find = [this](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
                reinterpret_cast<void*>(GetProcAddress(module_, name)));
        };
        find(api->getActivePwrScheme, "GetActivePwrScheme");
        find(api->getCurrentPowerPolicies, "GetCurrentPowerPolicies");
        find(api->readProcessorPwrScheme, "ReadProcessorPwrScheme");
        find(api->writeProcessorPwrScheme, "WriteProcessorPwrScheme");
        find(api->setActivePwrScheme, "SetActivePwrScheme");
        return true;
    }
    void Unload() override {
        if (module_) FreeLibrary(module_);
        module_ = nullptr;
    }

private:
    HMODULE module_ = nullptr;
};

SystemPowerLibrary g_systemPower;
PowerLibrary* g_power = &g_systemPower;

struct SavedPower {
    UINT scheme = static_cast<UINT>(-1);
    GLOBAL_POWER_POLICY global{};
    POWER_POLICY policy{};
    MACHINE_PROCESSOR_POWER_POLICY processor{};
    int depth = 0;  // nesting of DisablePowerSaving
} g_saved;

// Loads the library for one operation and unloads it on every path.
struct PowerSession {
    PowerApi api;
    bool loaded = g_power->Load(&api);
    ~PowerSession() {
        if (loaded) g_power->Unload();
    }
};

int g_screenSaverDepth = 0;
BOOL g_screenSaverWasActive = FALSE;

}  // namespace

int CFileHandleMap::Open(const char* name) {
    if (name == nullptr) return 0;
    auto& table = FileTable();
    auto it = table.find(name);
    if (it != table.end()) {
        ++it->second.count;
        return 0;
    }
    HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    table[name] = HeldFile{1, h};
    return 1;
}

int CFileHandleMap::Close(const char* name) {
    if (name == nullptr) return 0;
    auto& table = FileTable();
    auto it = table.find(name);
    if (it == table.end()) return 0;
    if (--it->second.count > 0) return it->second.count;
    CloseHandle(it->second.handle);
    table.erase(it);
    return 0;
}

int CFileHandleMap::GetCount(const char* name) {
    if (name == nullptr) return 0;
    auto it = FileTable().find(name);
    return it == FileTable().end() ? 0 : it->second.count;
}

int CreateDisplayDib(int width, int height, HBITMAP* bitmap, void** pixels) {
    *bitmap = nullptr;
    *pixels = nullptr;
    if (width <= 0 || height == 0) return 0;
    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    const uint64_t bytes = static_cast<uint64_t>(height < 0 ? -static_cast<int64_t>(height) : height) * width * 4;
    info.bmiHeader.biSizeImage = bytes > 0xFFFFFFFFull ? 0 : static_cast<DWORD>(bytes);
    info.bmiHeader.biXPelsPerMeter = 100;
    info.bmiHeader.biYPelsPerMeter = 100;
    *bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, pixels, nullptr, 0);
    if (dc) DeleteDC(dc);
    if (*bitmap == nullptr) *pixels = nullptr;
    return *bitmap ? 1 : 0;
}

HBITMAP LoadImageFileBitmap(const char* path) {
    CLeadImage image;
    if (image.Load(path) != S_OK) return nullptr;
    return image.CreateDib();
}

HBITMAP LoadBitmapFile(const char* path) {
    CLeadImage image;
    if (image.Load(path) != S_OK) return nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP ddb = image.CreateDdb(screen);
    ReleaseDC(nullptr, screen);
    return ddb;
}

HBITMAP CopyBitmapRect(HBITMAP bitmap, int x, int y, int width, int height) {
    HDC screen = GetDC(nullptr);
    HDC source = CreateCompatibleDC(screen);
    HDC target = CreateCompatibleDC(screen);
    HBITMAP copy = (bitmap && width > 0 && height > 0) ? CreateCompatibleBitmap(screen, width, height) : nullptr;
    if (copy == nullptr) {
        DeleteDC(source);
        DeleteDC(target);
        ReleaseDC(nullptr, screen);
        ShowFailure("Copy bitmap fail.");
        return nullptr;
    }
    HGDIOBJ oldSource = SelectObject(source, bitmap);
    HGDIOBJ oldTarget = SelectObject(target, copy);
    BitBlt(target, 0, 0, width, height, source, x, y, SRCCOPY);
    SelectObject(source, oldSource);
    SelectObject(target, oldTarget);
    DeleteDC(source);
    DeleteDC(target);
    ReleaseDC(nullptr, screen);
    return copy;
}

HBITMAP LoadBitmapFileRect(const char* path, int x, int y, int width, int height) {
    HBITMAP whole = LoadBitmapFile(path);
    if (whole == nullptr) return nullptr;
    HBITMAP part = CopyBitmapRect(whole, x, y, width, height);
    DeleteObject(whole);
    return part;
}

HBITMAP LoadBitmapResource(HINSTANCE module, const char* name) {
    HBITMAP b = static_cast<HBITMAP>(LoadImageA(module, name, IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    if (b == nullptr) {
        CString text;
        // An integer resource id is shown as its number.
        if (IS_INTRESOURCE(name)) {
            text.Format("Load bitmap resource [#%u] fail.", static_cast<unsigned>(reinterpret_cast<uintptr_t>(name)));
        } else {
            text.Format("Load bitmap resource [%s] fail.", name);
        }
        ShowFailure(text);
    }
    return b;
}

HBITMAP LoadBitmapResourceRect(HINSTANCE module, const char* name, int x, int y, int width, int height) {
    HBITMAP whole = LoadBitmapResource(module, name);
    if (whole == nullptr) return nullptr;
    HBITMAP part = CopyBitmapRect(whole, x, y, width, height);
    DeleteObject(whole);
    return part;
}

void KeepSystemAwake(DWORD flags) {
    using SetStateFn = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE);
    static const SetStateFn setState = reinterpret_cast<SetStateFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("KERNEL32"), "SetThreadExecutionState")));
    if (setState) setState(flags);
}

void SetPowerLibrary(PowerLibrary* library) {
    g_power = library ? library : &g_systemPower;
}

int SavePowerPolicy() {
    std::memset(&g_saved.global, 0, sizeof g_saved.global);
    std::memset(&g_saved.policy, 0, sizeof g_saved.policy);
    g_saved.scheme = static_cast<UINT>(-1);
    PowerSession s;
    if (!s.loaded || !s.api.getActivePwrScheme || !s.api.getCurrentPowerPolicies ||
        !s.api.getActivePwrScheme(&g_saved.scheme) ||
        !s.api.getCurrentPowerPolicies(&g_saved.global, &g_saved.policy)) {
        g_saved.scheme = static_cast<UINT>(-1);
        return 0;
    }
    return 1;
}

int DisablePowerSaving() {
    if (g_saved.depth++ > 0) return 1;
    SavePowerPolicy();
    std::memset(&g_saved.processor, 0, sizeof g_saved.processor);
    PowerSession s;
    if (!s.loaded) return 1;
    UINT scheme = 0;
    if (!s.api.getActivePwrScheme || !s.api.readProcessorPwrScheme) return 1;
    if (!s.api.getActivePwrScheme(&scheme)) return 0;
    if (!s.api.readProcessorPwrScheme(scheme, &g_saved.processor)) return 0;
    MACHINE_PROCESSOR_POWER_POLICY full = g_saved.processor;
    full.ProcessorPolicyAc.DynamicThrottle = 0;
    full.ProcessorPolicyDc.DynamicThrottle = 0;
    if (!s.api.writeProcessorPwrScheme || !s.api.setActivePwrScheme) return 1;
    if (!s.api.writeProcessorPwrScheme(scheme, &full)) return 0;
    return s.api.setActivePwrScheme(scheme, nullptr, nullptr) ? 1 : 0;
}

int RestorePowerScheme() {
    if (g_saved.depth == 0) return 1;  // unbalanced: nothing was saved for it
    if (--g_saved.depth > 0) return 1;
    if (g_saved.scheme == static_cast<UINT>(-1)) return 1;  // nothing was read, nothing changed
    PowerSession s;
    if (!s.loaded || !s.api.writeProcessorPwrScheme || !s.api.setActivePwrScheme) return 1;
    if (!s.api.writeProcessorPwrScheme(g_saved.scheme, &g_saved.processor)) return 0;
    return s.api.setActivePwrScheme(g_saved.scheme, &g_saved.global, &g_saved.policy) ? 1 : 0;
}

void DisableScreenSaver() {
    if (g_screenSaverDepth++ > 0) return;
    g_screenSaverWasActive = FALSE;
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &g_screenSaverWasActive, 0);
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0);
}

void RestoreScreenSaver() {
    if (g_screenSaverDepth == 0) return;
    if (--g_screenSaverDepth > 0) return;
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, g_screenSaverWasActive, nullptr, 0);
}

int CountSameProgram(const char* own, const char* const* exeNames, int count) {
    char ownName[_MAX_FNAME] = {};
    _splitpath(own ? own : "", nullptr, nullptr, ownName, nullptr);
    int same = 0;
    for (int i = 0; i < count; ++i) {
        char name[_MAX_FNAME] = {};
        _splitpath(exeNames[i] ? exeNames[i] : "", nullptr, nullptr, name, nullptr);
        if (_strnicmp(name, ownName, 256) == 0 && std::strlen(name) == std::strlen(ownName)) ++same;
    }
    return same;
}

int IsAnotherInstanceRunning() {
    char own[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, own, MAX_PATH);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int same = 0;
    // A process list is bounded by the system; the cap only guards a broken snapshot.
    int seen = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && seen < 100'000;
         more = Process32NextW(snapshot, &entry), ++seen) {
        char name[MAX_PATH] = {};
        WideCharToMultiByte(CP_ACP, 0, entry.szExeFile, -1, name, MAX_PATH - 1, nullptr, nullptr);
        const char* names[] = {name};
        same += CountSameProgram(own, names, 1);
    }
    CloseHandle(snapshot);
    return same > 1 ? 1 : 0;
}

void FitViewerSize(int screenHeight, int32_t* pictureWidth, int32_t* pictureHeight, int width, int height) {
    if (screenHeight < 768) return;
    if (width >= 800 || height >= 600) {
        *pictureWidth = 800;
        *pictureHeight = 600;
    } else if (width >= 320 && height >= 240) {
        *pictureWidth = width;
        *pictureHeight = height;
    } else {
        *pictureWidth = 300;
        *pictureHeight = 225;
    }
}

void FitViewerToScreen(int32_t* pictureWidth, int32_t* pictureHeight, int width, int height) {
    FitViewerSize(GetSystemMetrics(SM_CYSCREEN), pictureWidth, pictureHeight, width, height);
}
