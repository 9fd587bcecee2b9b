// Loading by id from a resource library other than the program, and the clear error for
// an id that is not there.
#include <gtest/gtest.h>

#include "framework/app.h"
#include "framework/gdi.h"
#include "framework/string.h"
#include "framework/tests/test_resources.h"

using ResourceLoadTest = TestResources;

TEST_F(ResourceLoadTest, StringsLoadByIdAndFormat) {
    CString s;
    ASSERT_TRUE(s.LoadString(IDS_GREETING));
    EXPECT_EQ(s, "Hello from the resource library");
    EXPECT_TRUE(AfxGetResourceError().empty());
    ASSERT_TRUE(s.FormatId(IDS_VALUE_FORMAT, 5, "ten"));
    EXPECT_EQ(s, "Value: 5 of ten");
    // Strings of the same block around a loaded one, and other blocks.
    EXPECT_EQ(AfxLoadString(IDS_SHEET_TITLE), "Test sheet");
}

TEST_F(ResourceLoadTest, MissingIdsGiveAClearError) {
    CString s = "previous";
    EXPECT_FALSE(s.LoadString(IDS_MISSING));
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(AfxGetResourceError(), "string 9999 is not in the resource module");
    // An absent string inside an existing block (ids 96-111 hold 101 and 102 only).
    EXPECT_FALSE(s.LoadString(103));
    EXPECT_EQ(AfxGetResourceError(), "string 103 is not in the resource module");
    CString kept = "kept";
    EXPECT_FALSE(kept.FormatId(IDS_MISSING, 1));
    EXPECT_EQ(kept, "kept");

    CMenu menu;
    EXPECT_FALSE(menu.LoadMenu(IDD_MISSING));
    EXPECT_EQ(AfxGetResourceError(), "menu 9998 is not in the resource module");
    CBitmap bitmap;
    EXPECT_FALSE(bitmap.LoadBitmap(IDD_MISSING));
    EXPECT_EQ(AfxGetResourceError(), "bitmap 9998 is not in the resource module");
    DWORD size = 0;
    EXPECT_EQ(AfxFindResourceData(IDD_MISSING, MAKEINTRESOURCEA(5), &size, "dialog template"), nullptr);
    EXPECT_EQ(AfxGetResourceError(), "dialog template 9998 is not in the resource module");
}

TEST_F(ResourceLoadTest, MenusTemplatesAndBitmapsLoadById) {
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_TEST_MENU));
    HMENU file = menu.GetSubMenu(0);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(GetMenuItemCount(file), 7);
    EXPECT_EQ(GetMenuItemID(file, 0), static_cast<UINT>(ID_FILE_OPEN_ITEM));
    EXPECT_EQ(menu.GetMenuString(0, MF_BYPOSITION), "&File");

    DWORD size = 0;
    const auto* tmpl = static_cast<const DLGTEMPLATE*>(
        AfxFindResourceData(IDD_TEST_DIALOG, MAKEINTRESOURCEA(5), &size, "dialog template"));
    ASSERT_NE(tmpl, nullptr);
    // DIALOGEX templates start with version 1 and signature 0xFFFF.
    const auto* words = reinterpret_cast<const WORD*>(tmpl);
    EXPECT_EQ(words[0], 1);
    EXPECT_EQ(words[1], 0xFFFF);
    EXPECT_GT(size, 40u);

    CBitmap bitmap;
    ASSERT_TRUE(bitmap.LoadBitmap(IDB_TEST_BITMAP));
    EXPECT_EQ(bitmap.GetSize().cx, 16);
    EXPECT_EQ(bitmap.GetSize().cy, 8);
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    HGDIOBJ old = dc.SelectObject(&bitmap);
    const COLORREF pixel = GetPixel(dc, 3, 3);
    dc.SelectObject(old);
    EXPECT_EQ(GetRValue(pixel), 0);
    EXPECT_EQ(GetGValue(pixel), 255);
    EXPECT_EQ(GetBValue(pixel), 0);
}

TEST_F(ResourceLoadTest, MessageBoxHookRecordsIdOrTextAndAnswers) {
    std::vector<MessageBoxRequest> seen;
    AfxSetMessageBoxHook([&](const MessageBoxRequest& r) {
        seen.push_back(r);
        return seen.size() == 1 ? IDYES : IDNO;
    });
    EXPECT_EQ(AfxMessageBox(IDS_GREETING, MB_YESNO), IDYES);
    EXPECT_EQ(AfxMessageBox("System Layer Interface (DV) Load Failed!", MB_OK | MB_ICONSTOP), IDNO);
    EXPECT_EQ(AfxMessageBox(IDS_MISSING), IDNO);
    AfxSetMessageBoxHook(nullptr);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].id, static_cast<UINT>(IDS_GREETING));
    EXPECT_EQ(seen[0].text, "Hello from the resource library");
    EXPECT_EQ(seen[0].type, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(seen[1].id, 0u);
    EXPECT_EQ(seen[1].text, "System Layer Interface (DV) Load Failed!");
    EXPECT_EQ(seen[2].id, static_cast<UINT>(IDS_MISSING));
    EXPECT_EQ(seen[2].text, "string 9999 is not in the resource module");
}
