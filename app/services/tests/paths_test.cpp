#include "app/services/paths.h"

#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/services/settings_keys.h"
#include "app/services/tests/registry_helpers.h"
#include "tests/support/shell.h"

namespace {

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Touch(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    CloseHandle(h);
}

TEST(Paths, AppFolderCopiesAreBounded) {
    SetAppFolder("C:\\Program Files\\Vistrel");
    char out[64];
    EXPECT_STREQ(GetAppFolder(out, sizeof out), "C:\\Program Files\\Vistrel\\");
    SetAppFolder("D:\\data\\");
    EXPECT_STREQ(GetAppFolder(out, sizeof out), "D:\\data\\");

    char guarded[8];
    std::memset(guarded, '#', sizeof guarded);
    GetAppFolder(guarded, 5);
    EXPECT_STREQ(guarded, "D:\\d");
    EXPECT_EQ(guarded[5], '#');
    std::memset(guarded, '#', sizeof guarded);
    GetAppFolder(guarded, 0);  // size 0 writes nothing at all
    EXPECT_EQ(guarded[0], '#');

    const std::string tooLong(400, 'x');
    SetAppFolder(tooLong.c_str());
    char full[MAX_PATH];
    EXPECT_EQ(std::strlen(GetAppFolder(full, sizeof full)), 259u);
}

TEST(Paths, ProgramFolderNeedsTheMarkerLibrary) {
    char module[MAX_PATH];
    GetModuleFolder(nullptr, module, sizeof module);
    ASSERT_GT(std::strlen(module), 3u);
    EXPECT_EQ(module[std::strlen(module) - 1], '\\');

    const std::string marker = std::string(module) + "Malrt.dll";
    DeleteFileA(marker.c_str());
    char found[MAX_PATH];
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_NE(FindProgramFolder(found), 0);
    EXPECT_STREQ(found, current);

    Touch(marker);
    EXPECT_NE(FindProgramFolder(found), 0);
    EXPECT_STREQ(found, module);
    DeleteFileA(marker.c_str());
}

TEST(Paths, AppDataFolderIsCreatedWithTheInstalledVersion) {
    servicestest::RegistryLock lock;
    char appData[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE));
    const std::string base = std::string(appData) + "\\Corvane\\Vistrel\\";
    servicestest::DeleteKeyTree(HKEY_LOCAL_MACHINE, kVistrelKey);
    DeleteFolderTree((std::string(appData) + "\\Corvane").c_str());

    char folder[MAX_PATH];
    ASSERT_EQ(GetAppDataFolder(folder), 1);
    EXPECT_STREQ(folder, base.c_str());
    EXPECT_TRUE(PathIsDirectoryA(folder));

    servicestest::PutRaw(HKEY_LOCAL_MACHINE, kVistrelKey, "Version", REG_SZ, "", 1);
    ASSERT_EQ(GetAppDataFolder(folder), 1);
    EXPECT_STREQ(folder, base.c_str());  // no empty folder level

    servicestest::PutRaw(HKEY_LOCAL_MACHINE, kVistrelKey, "Version", REG_SZ, "2.5", 4);
    ASSERT_EQ(GetAppDataFolder(folder), 1);
    EXPECT_STREQ(folder, (base + "2.5\\").c_str());
    EXPECT_TRUE(PathIsDirectoryA(folder));
    servicestest::DeleteKeyTree(HKEY_LOCAL_MACHINE, kVistrelKey);
}

TEST(Paths, CreateFolderPathMakesOnlyFoldersFollowedByABackslash) {
    const std::string root = testsupport::FixturePath(testsupport::UniqueName("mkpath"));
    EXPECT_EQ(CreateFolderPath(CString(root + "\\a\\b")), 1);
    EXPECT_TRUE(PathIsDirectoryA((root + "\\a").c_str()));
    EXPECT_FALSE(Exists(root + "\\a\\b"));
    EXPECT_EQ(CreateFolderPath(CString(root + "\\a\\b\\")), 1);
    EXPECT_TRUE(PathIsDirectoryA((root + "\\a\\b").c_str()));
    EXPECT_EQ(CreateFolderPath(CString(root + "\\a\\b\\")), 1);  // exists: attributes only

    Touch(root + "\\file");
    EXPECT_EQ(CreateFolderPath(CString(root + "\\file\\sub\\")), 0);  // a file is in the way
    EXPECT_EQ(DeleteFolderTree(root.c_str()), 1);
    EXPECT_FALSE(Exists(root));
}

TEST(Paths, DeleteFolderTreeNeverFollowsALinkOut) {
    const std::string inside = testsupport::UniqueName("tree"), outside = testsupport::UniqueName("keep");
    // The link is made on the Unix side, as a user's symbolic link would be.
    ASSERT_EQ(testsupport::RunShell("mkdir -p " + inside + "/sub/deeper " + outside + "/nested && touch " + inside +
                                    "/a.txt " + inside + "/sub/b.txt " + inside + "/sub/deeper/c " + outside +
                                    "/precious " + outside + "/nested/more && ln -s ../../" + outside + " " + inside +
                                    "/sub/link && ln -s ../" + outside + "/precious " + inside + "/filelink"),
              0);
    const std::string in = testsupport::FixturePath(inside), out = testsupport::FixturePath(outside);
    ASSERT_TRUE(PathIsDirectoryA((in + "\\sub\\link").c_str()));
    ASSERT_TRUE(Exists(in + "\\sub\\link\\precious"));

    // The links are removed where the system can address them, else left; either way the
    // result tells whether the folder is gone, and nothing behind a link is touched.
    const int result = DeleteFolderTree(in.c_str());
    EXPECT_EQ(result, Exists(in) ? 0 : 1);
    EXPECT_FALSE(Exists(in + "\\a.txt"));
    EXPECT_FALSE(Exists(in + "\\sub\\b.txt"));
    EXPECT_FALSE(Exists(in + "\\sub\\deeper"));
    EXPECT_TRUE(Exists(out + "\\precious"));
    EXPECT_TRUE(Exists(out + "\\nested\\more"));
    EXPECT_EQ(DeleteFolderTree(out.c_str()), 1);
    ASSERT_EQ(testsupport::RunShell("rm -rf " + inside), 0);

    EXPECT_EQ(DeleteFolderTree(in.c_str()), 0);  // no such folder
}

std::vector<std::string> Names(const CStringArray& files) {
    std::vector<std::string> names;
    for (int i = 0; i < files.GetSize(); ++i) {
        const std::string f = files[i].str();
        names.push_back(f.substr(f.rfind('\\') + 1));
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Paths, WalkCollectsByExtension) {
    const std::string root = testsupport::FixturePath(testsupport::UniqueName("walk"));
    ASSERT_EQ(CreateFolderPath(CString(root + "\\sub\\")), 1);
    for (const char* f : {"\\a.MPG", "\\b.avi", "\\c.txt", "\\noext", "\\sub\\d.vob"})
        Touch(root + f);
    const char* list = ".mpg.mpeg.avi.vob";

    CStringArray flat;
    EXPECT_EQ(WalkFolderRecursive(root.c_str(), flat, list, 0), 3);
    EXPECT_EQ(Names(flat), (std::vector<std::string>{"a.MPG", "b.avi", "noext"}));  // "" is in every list

    CStringArray deep;
    EXPECT_EQ(WalkFolderRecursive(root.c_str(), deep, list, 1), 4);
    EXPECT_EQ(Names(deep), (std::vector<std::string>{"a.MPG", "b.avi", "d.vob", "noext"}));

    CStringArray none;
    EXPECT_EQ(WalkFolderRecursive(root.c_str(), none, nullptr, 1), 0);

    // A single file is taken whatever its extension, added to what the array held.
    EXPECT_EQ(WalkFolderRecursive((root + "\\c.txt").c_str(), deep, list, 1), 5);
    EXPECT_STREQ(deep[4], (root + "\\c.txt").c_str());
    DeleteFolderTree(root.c_str());
}

TEST(Paths, ResolveShortcutFindsTheLinkTarget) {
    EXPECT_STREQ(ResolveShortcut(""), "");
    const std::string root = testsupport::FixturePath(testsupport::UniqueName("lnk"));
    ASSERT_EQ(CreateFolderPath(CString(root + "\\target\\")), 1);
    Touch(root + "\\target\\clip.mpg");
    EXPECT_STREQ(ResolveShortcut((root + "\\target\\clip.mpg").c_str()), (root + "\\target\\clip.mpg").c_str());

    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    IShellLinkA* link = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                           reinterpret_cast<void**>(&link))));
    link->SetPath((root + "\\target").c_str());
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
    const std::string lnk = root + "\\shortcut.lnk";
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, lnk.c_str(), -1, wide, MAX_PATH);
    ASSERT_TRUE(SUCCEEDED(file->Save(wide, TRUE)));
    file->Release();
    link->Release();
    CoUninitialize();

    EXPECT_STREQ(ResolveShortcut(lnk.c_str()), (root + "\\target").c_str());
    // Walking the shortcut walks its target folder.
    CStringArray files;
    EXPECT_EQ(WalkFolderRecursive(lnk.c_str(), files, ".mpg", 0), 1);
    DeleteFolderTree(root.c_str());
}

}  // namespace
