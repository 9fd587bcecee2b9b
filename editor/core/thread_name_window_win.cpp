// Windows builds: the hidden window of CThreadNameWindow.
#include <windows.h>

#include "editor/core/thread_name_window.h"

namespace editor {
namespace {

constexpr DWORD kSwitchOn = 958;

bool SwitchOn() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD value = 0, type = 0, size = sizeof value;
    const LONG r = RegQueryValueExA(key, "ShowThreadName", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && size == sizeof value && value == kSwitchOn;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

void CThreadNameWindow::Create(const char* name) {
    Destroy();
    if (!name || !SwitchOn()) return;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    className_ = ClassName(name);
    WNDCLASSA existing;
    // A thread of the same name already marked: this one makes no window.
    if (GetClassInfoA(instance, className_.c_str(), &existing)) return;
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = className_.c_str();
    atom_ = RegisterClassA(&wc);
    if (!atom_) return;
    HWND window = CreateWindowA(className_.c_str(), name, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!window) {
        UnregisterClassA(className_.c_str(), instance);
        atom_ = 0;
        return;
    }
    ShowWindow(window, SW_HIDE);
    window_ = reinterpret_cast<uintptr_t>(window);
}

void CThreadNameWindow::Destroy() {
    if (window_) DestroyWindow(reinterpret_cast<HWND>(window_));
    if (atom_) UnregisterClassA(className_.c_str(), GetModuleHandleA(nullptr));
    window_ = 0;
    atom_ = 0;
}

}  // namespace editor
