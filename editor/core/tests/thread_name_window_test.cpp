#include "editor/core/thread_name_window.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

// Sets or removes the machine-wide switch for one test.
class Switch {
public:
    explicit Switch(const DWORD* value) { Set(value); }
    ~Switch() { Set(nullptr); }

private:
    static void Set(const DWORD* value) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        if (value)
            RegSetValueExA(key, "ShowThreadName", 0, REG_DWORD, reinterpret_cast<const BYTE*>(value), sizeof *value);
        else
            RegDeleteValueA(key, "ShowThreadName");
        RegCloseKey(key);
    }
};

bool ClassExists(const std::string& name) {
    WNDCLASSA wc;
    return GetClassInfoA(GetModuleHandleA(nullptr), name.c_str(), &wc) != 0;
}

TEST(ThreadNameWindow, OnlyTheSwitchValueMakesAHiddenWindow) {
    const std::string cls = editor::CThreadNameWindow::ClassName("SEdt-MuxFile");
    EXPECT_EQ(cls, "PemrickSTNSEdt-MuxFile");
    const DWORD other = 957, on = 958;
    for (const DWORD* value : {static_cast<const DWORD*>(nullptr), &other}) {
        Switch s(value);
        editor::CThreadNameWindow w("SEdt-MuxFile");
        EXPECT_FALSE(w.HasWindow());
        EXPECT_FALSE(ClassExists(cls));
    }
    Switch s(&on);
    {
        editor::CThreadNameWindow w("SEdt-MuxFile");
        ASSERT_TRUE(w.HasWindow());
        HWND found = FindWindowA(cls.c_str(), "SEdt-MuxFile");
        ASSERT_NE(found, nullptr);
        EXPECT_FALSE(IsWindowVisible(found));
        // A second thread of the same name finds the class taken and makes no window.
        editor::CThreadNameWindow twin("SEdt-MuxFile");
        EXPECT_FALSE(twin.HasWindow());
    }
    EXPECT_FALSE(ClassExists(cls));
    EXPECT_EQ(FindWindowA(cls.c_str(), nullptr), nullptr);
}

TEST(ThreadNameWindow, LongNamesAreCut) {
    const std::string longName(300, 'x');
    EXPECT_EQ(editor::CThreadNameWindow::ClassName(longName.c_str()).size(), 10u + 200u);
}

}  // namespace
