// Helpers of the shell's window tests.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "app/services/resource_library.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "framework/app.h"
#include "framework/resources.h"

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

// Tests that load by id from the resource library and art from the default skin.
class ResourceLibraryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = LoadResourceLibrary();
        AfxSetResourceHandle(library_);
        SetSkinImageSource((ProgramFolder() + "\\skin\\1024x768").c_str(), kSkinImageFolder);
    }
    static void TearDownTestSuite() {
        AfxSetResourceHandle(nullptr);
        FreeResourceLibrary(library_);
    }
    static inline HINSTANCE library_ = nullptr;
};

// As ResourceLibraryTest, with the default skin's layout loaded for the suite.
class SkinLayoutTest : public ResourceLibraryTest {
protected:
    static void SetUpTestSuite() {
        ResourceLibraryTest::SetUpTestSuite();
        ASSERT_EQ(CSkinLayout::Load("skin\\skin1024x768.xml"), 1);
    }
    static void TearDownTestSuite() {
        CSkinLayout::Free();
        ResourceLibraryTest::TearDownTestSuite();
    }
};

}  // namespace
