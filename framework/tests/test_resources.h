// The test resource library, loaded from the test program's folder and made the resource
// module for the test's duration.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "framework/resources.h"
#include "framework/tests/resources/test_resource_ids.h"

class TestResources : public ::testing::Test {
protected:
    void SetUp() override {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        char* slash = strrchr(path, '\\');
        ASSERT_NE(slash, nullptr);
        lstrcpyA(slash + 1, "FwTestRes.dll");
        module_ = LoadLibraryA(path);
        ASSERT_NE(module_, nullptr) << "cannot load " << path << " (error " << GetLastError() << ")";
        AfxSetResourceHandle(module_);
    }
    void TearDown() override {
        AfxSetResourceHandle(nullptr);
        if (module_) FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
};
