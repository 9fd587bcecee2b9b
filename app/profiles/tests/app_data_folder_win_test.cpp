#include "app/profiles/app_data_folder_win.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "app/services/tests/registry_helpers.h"

namespace profiles {
namespace {

bool IsFolder(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string AppData() {
    char base[MAX_PATH] = {};
    EXPECT_TRUE(SHGetSpecialFolderPathA(nullptr, base, CSIDL_APPDATA, TRUE));
    return base;
}

void SetVersion(const char* version) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Corvane\\Vistrel\\1.0", 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (version) {
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), DWORD(strlen(version) + 1));
    } else {
        RegDeleteValueA(key, "Version");
    }
    RegCloseKey(key);
}

TEST(WinAppDataFolder, VersionNamesTheLastFolderAndAnEmptyOneAddsNoLevel) {
    servicestest::RegistryLock lock;  // other tests change the same installation key
    struct Case {
        const char* version;
        std::string suffix;
    } cases[] = {{nullptr, "\\Corvane\\Vistrel\\"}, {"", "\\Corvane\\Vistrel\\"}, {"2.5", "\\Corvane\\Vistrel\\2.5\\"}};
    for (const Case& c : cases) {
        SetVersion(c.version);
        WinAppDataFolder f;
        std::string folder;
        ASSERT_TRUE(f.Get(folder));
        EXPECT_EQ(folder, AppData() + c.suffix);
        EXPECT_TRUE(IsFolder(folder)) << folder;
    }
    SetVersion(nullptr);
}

TEST(CreateFolderPath, MakesOnlyFoldersFollowedByABackslash) {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string root = std::string(temp) + "cfp" + std::to_string(GetCurrentProcessId());
    EXPECT_TRUE(CreateFolderPath(root + "\\a\\b"));
    EXPECT_TRUE(IsFolder(root + "\\a"));
    EXPECT_FALSE(IsFolder(root + "\\a\\b"));
    EXPECT_TRUE(CreateFolderPath(root + "\\a\\b\\"));
    EXPECT_TRUE(IsFolder(root + "\\a\\b"));
    EXPECT_TRUE(CreateFolderPath(root + "\\a\\"));  // exists: only its attributes are reset
    RemoveDirectoryA((root + "\\a\\b").c_str());
    RemoveDirectoryA((root + "\\a").c_str());
    RemoveDirectoryA(root.c_str());
}

}  // namespace
}  // namespace profiles
