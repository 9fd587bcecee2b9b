// CThreadNameWindow: marks a worker thread, while it runs, with a hidden top-level window
// whose class name and title carry the thread's name, so that a window-listing tool can
// tell the editing engines' threads apart. Off unless the machine-wide switch
// HKEY_LOCAL_MACHINE\SOFTWARE\Corvane "ShowThreadName" holds 958. Only Windows builds
// make windows; elsewhere the object stays empty.
#pragma once

#include <cstdint>
#include <string>

namespace editor {

class CThreadNameWindow {
public:
    CThreadNameWindow() = default;
    explicit CThreadNameWindow(const char* name) { Create(name); }
    ~CThreadNameWindow() { Destroy(); }
    CThreadNameWindow(const CThreadNameWindow&) = delete;
    CThreadNameWindow& operator=(const CThreadNameWindow&) = delete;

    // Never fails visibly: with the switch off or a failing step the object is empty.
    void Create(const char* name);
    void Destroy();
    bool HasWindow() const { return window_ != 0; }
    // "PemrickSTN" and at most 200 characters of the thread name.
    static std::string ClassName(const char* name);

private:
    uintptr_t window_ = 0;  // HWND
    uint16_t atom_ = 0;     // class registered by this object
    std::string className_;
};

}  // namespace editor
