#include "app/services/preferences.h"

#include <shlwapi.h>

#include <string>

#include <gtest/gtest.h>

#include "app/services/reg_value.h"
#include "app/services/settings_keys.h"
#include "app/services/tests/registry_helpers.h"
#include "app/services/tv_format.h"
#include "tests/support/shell.h"

namespace {

using servicestest::PutRaw;
using servicestest::RegQuery;
using servicestest::ValueExists;

const std::string kUserKey = std::string("HKCU\\") + kVistrelKey;

class PreferencesTest : public testing::Test {
protected:
    void SetUp() override { TearDown(); }
    servicestest::RegistryLock lock_;
    void TearDown() override {
        servicestest::DeleteKeyTree(HKEY_CURRENT_USER, kVistrelKey);
        servicestest::DeleteKeyTree(HKEY_LOCAL_MACHINE, kVistrelKey);
    }
    static DWORD StoredTvFormat() {
        CRegBinIntValue v(HKEY_CURRENT_USER, kVistrelKey, "TVFormat", 0);
        return v.Read() ? v.Get() : 0xDEAD;
    }
};

TEST_F(PreferencesTest, TvFormatDefaultsAndRepairs) {
    // Absent under both roots: PAL, and 0 stored under HKEY_CURRENT_USER by the first query.
    EXPECT_EQ(IsNtscTvFormat(0), 0);
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kVistrelKey, "TVFormat"));  // unbound writes nothing
    EXPECT_EQ(GetTvFrameRate(), 25.0f);
    EXPECT_NE(RegQuery(kUserKey, "TVFormat").find("REG_BINARY    00000000"), std::string::npos)
        << RegQuery(kUserKey, "TVFormat");

    // An invalid value is rewritten as 0 and read as PAL.
    SetTVFormat(7);
    EXPECT_EQ(GetTvFrameRate(), 25.0f);
    EXPECT_EQ(StoredTvFormat(), 0u);

    SetTVFormat(1);
    EXPECT_EQ(GetTvFrameRate(), 30.0f);
    EXPECT_EQ(FramesToTime(30), 10'000'000);
    EXPECT_EQ(TimeToFrames(10'000'000), 30);
    EXPECT_STREQ(FormatTimeCode(9'900'000, 0), "00:00:01:00");
    int64_t t = 0;
    TimeCodeToTime({0, 0, 1, 15}, &t);
    EXPECT_EQ(t, 15'000'000);
    SetTVFormat(0);
    EXPECT_EQ(FramesToTime(25), 10'000'000);
    TimeCodeToTime({0, 0, 1, 15}, &t);
    EXPECT_EQ(t, 16'000'000);
    EXPECT_STREQ(FormatTimeCode(12'340'000, 1), "00:00:01:23");

    // A machine-wide "TVFormat" shows through without being copied.
    servicestest::DeleteKeyTree(HKEY_CURRENT_USER, kVistrelKey);
    const BYTE one[4] = {1, 0, 0, 0};
    PutRaw(HKEY_LOCAL_MACHINE, kVistrelKey, "TVFormat", REG_BINARY, one, 4);
    EXPECT_EQ(GetTvFrameRate(), 30.0f);
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kVistrelKey, "TVFormat"));
}

TEST_F(PreferencesTest, TvFormatIsSeededFromDisplayCurFrameByBothGetters) {
    const DWORD ntsc = 1;
    PutRaw(HKEY_LOCAL_MACHINE, kVistrelKey, "DisplayCurFrame", REG_DWORD, &ntsc, 4);
    EXPECT_EQ(GetTVFormat(), 1u);
    EXPECT_NE(RegQuery(kUserKey, "TVFormat").find("REG_BINARY    01000000"), std::string::npos);

    servicestest::DeleteKeyTree(HKEY_CURRENT_USER, kVistrelKey);
    EXPECT_EQ(IsNtscTvFormat(1), 1);  // the frame-rate path seeds the same way
    EXPECT_EQ(StoredTvFormat(), 1u);

    // Once stored, the user's value holds even when the machine value changes.
    const DWORD pal = 0;
    PutRaw(HKEY_LOCAL_MACHINE, kVistrelKey, "DisplayCurFrame", REG_DWORD, &pal, 4);
    EXPECT_EQ(GetTVFormat(), 1u);
}

TEST_F(PreferencesTest, SwitchesAndTheirDefaults) {
    EXPECT_EQ(GetMerge(), 0u);
    EXPECT_EQ(GetPreviewVideo(), 1u);
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kVistrelKey, "Merge"));
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kVistrelKey, "PreviewVideo"));
    EXPECT_EQ(GetLoadLastProject(), 0u);
    EXPECT_NE(RegQuery(kUserKey, "LoadLastProject").find("REG_BINARY    00000000"), std::string::npos);

    SetMerge(1);
    SetPreviewVideo(0);
    SetLoadLastProject(1);
    EXPECT_EQ(GetMerge(), 1u);
    EXPECT_EQ(GetPreviewVideo(), 0u);
    EXPECT_EQ(GetLoadLastProject(), 1u);

    EXPECT_STREQ(GetCapturePrefix(), "Capture");
    EXPECT_STREQ(GetConvertPrefix(), "Convert");
    SetCapturePrefix("Tape");
    SetConvertPrefix("");
    EXPECT_STREQ(GetCapturePrefix(), "Tape");
    EXPECT_STREQ(GetConvertPrefix(), "Convert");  // empty counts as missing

    char name[8];
    EXPECT_EQ(GetLastProjectName(name, sizeof name), 0);
    SetLastProjectName("C:\\projects\\long name.qzt");
    char guarded[9];
    memset(guarded, '#', sizeof guarded);
    EXPECT_EQ(GetLastProjectName(guarded, 8), 1);
    EXPECT_STREQ(guarded, "C:\\proj");
    EXPECT_EQ(guarded[8], '#');
}

TEST_F(PreferencesTest, FoldersFallBackToDocuments) {
    const CString documents = GetDocumentsFolder();
    ASSERT_FALSE(documents.IsEmpty());
    EXPECT_EQ(documents.GetAt(documents.GetLength() - 1), '\\');
    EXPECT_STREQ(GetExportDir(), documents);

    const std::string folder = testsupport::FixturePath(testsupport::UniqueName("prefdir"));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    CRegStringValue(HKEY_CURRENT_USER, kVistrelKey, "ExportDir", 1).Set(folder.c_str());
    EXPECT_STREQ(GetExportDir(), (folder + "\\").c_str());

    // A folder that is gone reads as the documents folder; the stored text stays.
    RemoveDirectoryA(folder.c_str());
    EXPECT_STREQ(GetExportDir(), documents);
    CRegStringValue stored(HKEY_CURRENT_USER, kVistrelKey, "ExportDir", 0);
    ASSERT_EQ(stored.Read(), 1);
    EXPECT_STREQ(stored.GetString(), folder.c_str());

    // Saving an empty or missing folder stores the documents folder.
    SetCaptureDir("");
    CRegStringValue capture(HKEY_CURRENT_USER, kVistrelKey, "CaptureDir", 0);
    ASSERT_EQ(capture.Read(), 1);
    EXPECT_STREQ(capture.GetString(), documents);
    SetConvertDir(folder.c_str());
    CRegStringValue convert(HKEY_CURRENT_USER, kVistrelKey, "ConvertDir", 0);
    ASSERT_EQ(convert.Read(), 1);
    EXPECT_STREQ(convert.GetString(), documents);

    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    SetConvertDir(folder.c_str());
    EXPECT_STREQ(GetConvertDir(), (folder + "\\").c_str());
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
