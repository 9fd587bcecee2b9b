#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/profiles/builtin_profiles.h"
#include "app/resources/resource_manifest.h"
#include "app/services/paths.h"
#include "app/services/resource_check.h"
#include "app/services/resource_library.h"
#include "framework/resources.h"
#include "framework/string.h"

namespace {

class ResourceLibraryTest : public testing::Test {
protected:
    void SetUp() override {
        library_ = LoadResourceLibrary();
        ASSERT_NE(library_, nullptr) << "Tovrt.dll is not beside the test";
        previous_ = AfxGetResourceHandle();
        AfxSetResourceHandle(library_);
    }
    void TearDown() override {
        AfxSetResourceHandle(previous_);
        FreeResourceLibrary(library_);
    }
    HINSTANCE library_ = nullptr;
    HINSTANCE previous_ = nullptr;
};

TEST_F(ResourceLibraryTest, EveryStringIsThereWithTheConversionsItsCallersPass) {
    for (const resources::StringEntry& entry : resources::ManifestStrings()) {
        SCOPED_TRACE(testing::Message() << "string " << entry.id);
        CString text;
        ASSERT_TRUE(text.LoadString(entry.id)) << AfxGetResourceError();
        EXPECT_FALSE(text.IsEmpty());
        std::vector<std::string> conversions;
        ASSERT_TRUE(services::ParsePrintfConversions(text.str(), &conversions)) << text.c_str();
        std::vector<std::string> expected(entry.conversions.begin(), entry.conversions.end());
        EXPECT_EQ(conversions, expected) << text.c_str();
    }
}

TEST_F(ResourceLibraryTest, EveryTemplateHoldsTheControlsItsCallersUse) {
    for (const resources::DialogEntry& entry : resources::ManifestDialogs()) {
        SCOPED_TRACE(testing::Message() << "dialog " << entry.id);
        DWORD size = 0;
        const void* data = AfxFindResourceData(entry.id, MAKEINTRESOURCEA(5), &size, "dialog");
        ASSERT_NE(data, nullptr) << AfxGetResourceError();
        std::vector<uint32_t> ids;
        ASSERT_TRUE(services::ReadDialogControlIds(static_cast<const uint8_t*>(data), size, &ids));
        for (unsigned control : entry.controls)
            EXPECT_NE(std::find(ids.begin(), ids.end(), control), ids.end()) << "control " << control;
    }
    // Each template also makes a dialog (the pages of a property sheet as children).
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 600, 500, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    for (const resources::DialogEntry& entry : resources::ManifestDialogs()) {
        HWND dialog = CreateDialogParamA(
            library_, MAKEINTRESOURCEA(entry.id), parent, [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; },
            0);
        EXPECT_NE(dialog, nullptr) << "dialog " << entry.id;
        for (unsigned control : entry.controls)
            EXPECT_NE(GetDlgItem(dialog, static_cast<int>(control)), nullptr)
                << "dialog " << entry.id << " control " << control;
        if (dialog) DestroyWindow(dialog);
    }
    DestroyWindow(parent);
}

TEST_F(ResourceLibraryTest, MenusAndBitmaps) {
    for (unsigned id : resources::ManifestMenus()) {
        HMENU menu = LoadMenuA(library_, MAKEINTRESOURCEA(id));
        ASSERT_NE(menu, nullptr) << "menu " << id;
        EXPECT_GT(GetMenuItemCount(menu), 0);
        DestroyMenu(menu);
    }
    for (unsigned id : resources::ManifestBitmaps()) {
        HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(library_, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, 0));
        ASSERT_NE(bitmap, nullptr) << "bitmap " << id;
        BITMAP bm{};
        GetObjectA(bitmap, sizeof bm, &bm);
        EXPECT_GT(bm.bmWidth, 0);
        DeleteObject(bitmap);
    }
}

// Every string id of the built-in profile table has its text; names are never empty.
TEST_F(ResourceLibraryTest, BuiltinProfileTexts) {
    std::vector<profiles::ProfileSlot> slots(profiles::BuiltinProfileCount());
    ASSERT_TRUE(profiles::BuildBuiltinSlots(slots.data(), slots.size()));
    for (const profiles::ProfileSlot& slot : slots) {
        SCOPED_TRACE(testing::Message() << "profile " << slot.identifier);
        for (uint32_t id : {slot.head.nameId, slot.head.descId, slot.head.stringId3, slot.head.stringId4}) {
            CString text;
            EXPECT_TRUE(text.LoadString(id)) << "string " << id;
            EXPECT_FALSE(text.IsEmpty()) << "string " << id;
        }
    }
}

TEST_F(ResourceLibraryTest, Cursors) {
    for (unsigned id : resources::ManifestCursors()) {
        HCURSOR cursor = LoadCursorA(library_, MAKEINTRESOURCEA(id));
        EXPECT_NE(cursor, nullptr) << "cursor " << id;
    }
}

// The program's own module, with the object library linked in as the application does.
TEST(ProgramResources, IconsCursorsAndSortArrows) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    for (unsigned id : resources::ProgramIcons())
        EXPECT_NE(LoadIconA(self, MAKEINTRESOURCEA(id)), nullptr) << "icon " << id;
    for (unsigned id : resources::ManifestCursors()) {
        HCURSOR cursor = LoadCursorA(self, MAKEINTRESOURCEA(id));
        ASSERT_NE(cursor, nullptr) << "cursor " << id;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(cursor, &info));
        EXPECT_FALSE(info.fIcon);  // a cursor, with its hot spot inside the 32 x 32 picture
        EXPECT_LT(info.xHotspot, 32u);
        EXPECT_LT(info.yHotspot, 32u);
        if (info.hbmMask) DeleteObject(info.hbmMask);
        if (info.hbmColor) DeleteObject(info.hbmColor);
    }
    for (unsigned id : resources::ProgramBitmaps()) {
        HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(self, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, 0));
        ASSERT_NE(bitmap, nullptr) << "bitmap " << id;
        BITMAP bm{};
        GetObjectA(bitmap, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, 8);
        DeleteObject(bitmap);
    }
}

TEST(ResourceLibraryLoading, ByFullPathOnly) {
    char folder[MAX_PATH];
    GetModuleFolder(nullptr, folder, MAX_PATH);
    HINSTANCE a = LoadResourceLibrary(folder);
    ASSERT_NE(a, nullptr);
    char loaded[MAX_PATH];
    GetModuleFileNameA(a, loaded, MAX_PATH);
    EXPECT_EQ(_stricmp(loaded, (std::string(folder) + "Tovrt.dll").c_str()), 0) << loaded;
    FreeResourceLibrary(a);
    // A folder without the library gives nothing, even with one on the search path.
    SetCurrentDirectoryA(folder);
    EXPECT_EQ(LoadResourceLibrary("C:\\windows"), nullptr);
    EXPECT_EQ(LoadResourceLibrary(""), nullptr);
}

}  // namespace
