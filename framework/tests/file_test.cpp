#include "framework/file.h"

#include <gtest/gtest.h>

namespace {

CString TempFolder() {
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    CString folder;
    folder.Format("%sfw_file_test_%lu", path, GetCurrentProcessId());
    CreateDirectoryA(folder, nullptr);
    return folder;
}

}  // namespace

TEST(CFileTest, ReadsWritesAndThrowsWithTheReason) {
    const CString folder = TempFolder();
    const CString name = folder + "\\data.bin";
    {
        CFile out(name, CFile::modeCreate | CFile::modeWrite);
        out.Write("abcdef", 6);
        EXPECT_EQ(out.GetLength(), 6);
    }
    CFile in;
    ASSERT_TRUE(in.Open(name, CFile::modeRead));
    char buffer[16] = {};
    EXPECT_EQ(in.Seek(2, CFile::begin), 2);
    EXPECT_EQ(in.Read(buffer, sizeof buffer), 4u);
    EXPECT_STREQ(buffer, "cdef");
    EXPECT_EQ(in.Read(buffer, sizeof buffer), 0u);
    EXPECT_THROW(in.Write("x", 1), CFileException);  // opened for reading
    in.Close();

    CFileException error(0, "");
    EXPECT_FALSE(in.Open(folder + "\\missing.bin", CFile::modeRead, &error));
    EXPECT_EQ(error.m_lOsError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    try {
        CFile missing(folder + "\\missing.bin", CFile::modeRead);
        ADD_FAILURE() << "opening a missing file must throw";
    } catch (const CFileException& e) {
        EXPECT_NE(e.GetErrorMessage().Find("missing.bin"), -1);
    }
    EXPECT_THROW(CFile::Remove(folder + "\\missing.bin"), CFileException);
    CFile::Remove(name);
    RemoveDirectoryA(folder);
}

TEST(CFileFindTest, WalksAFolder) {
    const CString folder = TempFolder();
    for (const char* n : {"a.mpg", "b.mpg", "c.txt"}) {
        CFile f(folder + "\\" + n, CFile::modeCreate | CFile::modeWrite);
        f.Write("12", 2);
    }
    CreateDirectoryA(folder + "\\sub", nullptr);
    CFileFind find;
    int files = 0, dirs = 0, dots = 0;
    bool more = find.FindFile(folder + "\\*.*");
    ASSERT_TRUE(more);
    for (int guard = 0; more && guard < 100; ++guard) {
        more = find.FindNextFile();
        if (find.IsDots())
            ++dots;
        else if (find.IsDirectory())
            ++dirs;
        else {
            ++files;
            EXPECT_EQ(find.GetLength(), 2u);
            EXPECT_EQ(find.GetFilePath(), folder + "\\" + find.GetFileName());
        }
    }
    EXPECT_EQ(files, 3);
    EXPECT_EQ(dirs, 1);
    EXPECT_EQ(dots, 2);
    EXPECT_FALSE(find.FindFile(folder + "\\*.none"));
    find.Close();
    for (const char* n : {"a.mpg", "b.mpg", "c.txt"})
        CFile::Remove(folder + "\\" + n);
    RemoveDirectoryA(folder + "\\sub");
    RemoveDirectoryA(folder);
}
