// The preferences sheet under Wine: it shows every stored value, a user's changes on both pages
// reach the registry on OK (read back with the prefix's own `reg query`), and the modified
// rules decide what a plain OK or Cancel writes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/preferences_dlg.h"
#include "app/resources/resource_ids.h"
#include "app/services/preferences.h"
#include "app/services/reg_value.h"
#include "app/services/settings_keys.h"
#include "app/services/tests/registry_helpers.h"
#include "app/tests/dialog_driver.h"
#include "app/skin/tests/window_support.h"
#include "tests/support/screen.h"
#include "tests/support/shell.h"

namespace {

using servicestest::RegQuery;
using servicestest::ValueExists;

const std::string kUserKey = std::string("HKCU\\") + kVistrelKey;

std::string Text(HWND page, int id) {
    char text[MAX_PATH] = {};
    GetDlgItemTextA(page, id, text, sizeof text);
    return text;
}

// What `reg query` reports as the value's data ("" when it is missing).
std::string Stored(const std::string& name) {
    const std::string out = RegQuery(kUserKey, name);
    for (const char* type : {"REG_SZ", "REG_BINARY"}) {
        const size_t at = out.find(type);
        if (at == std::string::npos) continue;
        size_t start = out.find_first_not_of(' ', at + std::strlen(type));
        size_t end = out.find_first_of("\r\n", start);
        return start == std::string::npos ? std::string() : out.substr(start, end - start);
    }
    return "";
}

class PreferencesSheetTest : public ResourceLibraryTest {
protected:
    void SetUp() override {
        servicestest::DeleteKeyTree(HKEY_CURRENT_USER, kVistrelKey);
        base_ = testsupport::FixturePath(testsupport::UniqueName("prefs"));
        for (const char* name : {"", "\\export", "\\capture", "\\convert", "\\other"})
            CreateDirectoryA((base_ + name).c_str(), nullptr);
    }
    void TearDown() override { servicestest::DeleteKeyTree(HKEY_CURRENT_USER, kVistrelKey); }
    // Runs the sheet with the caption the main panel gives it, while `driver` acts on it.
    INT_PTR Run() {
        CPreferenceDlg sheet(IDS_APP_TITLE);
        return sheet.DoModal();
    }
    servicestest::RegistryLock lock_;
    std::string base_;
};

TEST_F(PreferencesSheetTest, ShowsEveryValueAndStoresTheUsersChanges) {
    const std::string exportDir = base_ + "\\export", convertDir = base_ + "\\convert";
    SetExportDir(exportDir.c_str());
    SetConvertDir(convertDir.c_str());
    CRegStringValue(HKEY_CURRENT_USER, kVistrelKey, "CaptureDir", 1).Set((base_ + "\\gone").c_str());
    SetCapturePrefix("Tape");
    SetConvertPrefix("");
    SetMerge(1);
    SetLoadLastProject(0);
    SetTVFormat(1);
    SetPreviewVideo(0);
    const std::string documents = GetDocumentsFolder().c_str();

    std::string shown[9];
    int comboCount = 0;
    auto page = [](HWND sheet) { return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)); };
    DialogDriver driver({
        {"Preferences",
         [&](HWND sheet) {
             HWND file = page(sheet);
             for (int i = 0; i < 5; ++i)
                 shown[i] = Text(file, IDC_EXPORT_DIR + i);
             shown[5] = IsDlgButtonChecked(file, IDC_MERGE) ? "merge" : "";
             shown[6] = IsDlgButtonChecked(file, IDC_LOAD_LAST_PROJECT) ? "last" : "";
             shown[7] = Text(file, IDC_CAPTURE_PREFIX_PREVIEW);
             // The user's changes: another capture folder, a prefix, both switches.
             SetDlgItemTextA(file, IDC_CAPTURE_DIR, (base_ + "\\capture").c_str());
             SetDlgItemTextA(file, IDC_CONVERT_PREFIX, "Film");
             SendDlgItemMessageA(file, IDC_MERGE, BM_CLICK, 0, 0);
             SendDlgItemMessageA(file, IDC_LOAD_LAST_PROJECT, BM_CLICK, 0, 0);
         }},
        {"Preferences", [](HWND) { ASSERT_TRUE(testsupport::CaptureScreen("preferences_file.png")); }},
        {"Preferences",
         [&](HWND sheet) {
             SendMessageA(sheet, PSM_SETCURSEL, 1, 0);
             HWND view = page(sheet);
             HWND combo = GetDlgItem(view, IDC_TV_FORMAT);
             comboCount = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
             shown[8] = std::to_string(SendMessageA(combo, CB_GETCURSEL, 0, 0)) +
                        (IsDlgButtonChecked(view, IDC_PREVIEW_VIDEO) ? " preview" : "");
             SendMessageA(combo, CB_SETCURSEL, 0, 0);
             SendMessageA(view, WM_COMMAND, MAKEWPARAM(IDC_TV_FORMAT, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
             SendDlgItemMessageA(view, IDC_PREVIEW_VIDEO, BM_CLICK, 0, 0);
         }},
        {"Preferences", [](HWND) { ASSERT_TRUE(testsupport::CaptureScreen("preferences_view.png")); }},
        {"Preferences", [](HWND sheet) { DialogDriver::Click(sheet, IDOK); }},
    });
    EXPECT_EQ(Run(), IDOK);
    ASSERT_EQ(driver.Done(), 5u);

    // Shown: the stored folders with their backslash, the documents folder for a gone one.
    EXPECT_EQ(shown[0], exportDir + "\\");
    EXPECT_EQ(shown[1], documents);
    EXPECT_EQ(shown[2], convertDir + "\\");
    EXPECT_EQ(shown[3], "Tape");
    EXPECT_EQ(shown[4], "Convert") << "an empty prefix shows its default";
    EXPECT_EQ(shown[5], "merge");
    EXPECT_EQ(shown[6], "");
    EXPECT_NE(shown[7].find("Tape"), std::string::npos) << shown[7];
    EXPECT_EQ(comboCount, 2);
    EXPECT_EQ(shown[8], "1") << "NTSC, no preview";

    // Stored, as the registry itself reports it.
    EXPECT_EQ(Stored("ExportDir"), exportDir + "\\");
    EXPECT_EQ(Stored("CaptureDir"), base_ + "\\capture\\");
    EXPECT_EQ(Stored("ConvertDir"), convertDir + "\\");
    EXPECT_EQ(Stored("CapturePrefix"), "Tape");
    EXPECT_EQ(Stored("ConvertPrefix"), "Film");
    EXPECT_EQ(Stored("Merge"), "00000000");
    EXPECT_EQ(Stored("LoadLastProject"), "01000000");
    EXPECT_EQ(Stored("TVFormat"), "00000000");
    EXPECT_EQ(Stored("PreviewVideo"), "01000000");
}

TEST_F(PreferencesSheetTest, PlainOkWritesTheFilePageOnlyAndCancelWritesNothing) {
    // Cancel after changes: nothing reaches the registry.
    DialogDriver cancel({{"Preferences", [](HWND sheet) {
                              HWND file = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
                              SetDlgItemTextA(file, IDC_CAPTURE_PREFIX, "Changed");
                              DialogDriver::Click(sheet, IDCANCEL);
                          }}});
    EXPECT_EQ(Run(), IDCANCEL);
    ASSERT_EQ(cancel.Done(), 1u);
    for (const char* name : {"ExportDir", "CapturePrefix", "Merge", "PreviewVideo"})
        EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kVistrelKey, name)) << name;

    // OK without changes: the file page counts as modified by its previews and writes its
    // values; the view page, never touched, writes nothing.
    servicestest::DeleteKeyTree(HKEY_CURRENT_USER, kVistrelKey);
    DialogDriver ok({{"Preferences", [](HWND sheet) { DialogDriver::Click(sheet, IDOK); }}});
    EXPECT_EQ(Run(), IDOK);
    ASSERT_EQ(ok.Done(), 1u);
    EXPECT_EQ(Stored("CapturePrefix"), "Capture");
    EXPECT_EQ(Stored("ConvertPrefix"), "Convert");
    EXPECT_EQ(Stored("ExportDir"), std::string(GetDocumentsFolder().c_str()));
    EXPECT_EQ(Stored("Merge"), "00000000");
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kVistrelKey, "PreviewVideo"));
}

}  // namespace
