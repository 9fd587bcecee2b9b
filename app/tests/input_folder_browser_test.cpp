// The input folder browser under Wine, driven as a user would: the start folder preselected,
// the subfolder box ticked and toggled by its clicks, OK and Cancel.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "app/input_folder_browser.h"
#include "app/resources/resource_ids.h"
#include "app/tests/dialog_driver.h"
#include "app/skin/tests/window_support.h"
#include "tests/support/screen.h"

namespace {

using InputFolderBrowserTest = ResourceLibraryTest;

TEST_F(InputFolderBrowserTest, StartFolderSubfolderBoxOkAndCancel) {
    // A folder on the prefix's own drive: Wine's browser walks the shell namespace to it.
    char documents[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, documents, CSIDL_PERSONAL, FALSE));
    const std::string folder =
        std::string(documents) + "\\input folder browser " + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    char expected[MAX_PATH] = {};
    GetLongPathNameA(folder.c_str(), expected, MAX_PATH);

    std::string boxText;
    UINT checks[3] = {};
    DialogDriver driver({
        {"",
         [&](HWND dialog) {
             HWND box = GetDlgItem(dialog, IDS_INCLUDE_SUBFOLDERS);
             char text[128] = {};
             GetWindowTextA(box, text, sizeof text);
             boxText = text;
             checks[0] = static_cast<UINT>(SendMessageA(box, BM_GETCHECK, 0, 0));
             DialogDriver::Click(dialog, IDS_INCLUDE_SUBFOLDERS);
         }},
        {"",
         [&](HWND dialog) {
             checks[1] = static_cast<UINT>(SendDlgItemMessageA(dialog, IDS_INCLUDE_SUBFOLDERS, BM_GETCHECK, 0, 0));
             ASSERT_TRUE(testsupport::CaptureScreen("input_folder_browser.png"));
             DialogDriver::Click(dialog, IDOK);
         }},
    });
    CInputFolderBrowser browser(nullptr, folder.c_str());
    EXPECT_EQ(GetIncludeSubfolders(), 1);
    EXPECT_EQ(browser.Browse(), IDOK);
    ASSERT_EQ(driver.Done(), 2u);
    EXPECT_EQ(boxText, AfxLoadString(IDS_INCLUDE_SUBFOLDERS).c_str());
    EXPECT_EQ(checks[0], static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(checks[1], static_cast<UINT>(BST_UNCHECKED)) << "a click toggles the box";
    EXPECT_EQ(GetIncludeSubfolders(), 0) << "only the folder itself is searched";
    EXPECT_STRCASEEQ(browser.GetFolder().c_str(), expected) << "the start folder is preselected";

    DialogDriver cancel({{"", [](HWND dialog) { DialogDriver::Click(dialog, IDCANCEL); }}});
    CInputFolderBrowser again(nullptr, folder.c_str());
    EXPECT_EQ(GetIncludeSubfolders(), 1) << "every browser starts ticked";
    EXPECT_EQ(again.Browse(), IDCANCEL);
    EXPECT_STREQ(again.GetFolder().c_str(), "");
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
