// The program on an 800x600 screen (this executable runs on a screen of that size of its
// own): it takes the small skin, and the controls of the main page, the file conversion page
// and the export room, then of the DV page in the file page's place, stand inside their
// parents and clear of each other.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/enc_main_page.h"
#include "app/pages/tests/dv_test_deck.h"
#include "app/main_panel.h"
#include "app/skin/skin_layout.h"
#include "app/tests/program_process.h"
#include "app/skin/tests/window_support.h"
#include "engines/tests/dv_deck_support.h"
#include "engines/tests/registered.h"
#include "tests/support/media_fixture.h"
#include "filters/base/tests/com_test_util.h"
#include "tests/support/screen.h"

namespace {

std::string WindowName(HWND window) {
    char cls[64] = {}, text[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    GetWindowTextA(window, text, sizeof text);
    return std::string(cls) + "#" + std::to_string(GetDlgCtrlID(window)) +
           (text[0] ? " \"" + std::string(text) + "\"" : "");
}

// What a window shows of itself on the screen: its rectangle, cut to its window region where
// it has one (the skinned lists hide their own scroll bars so).
CRect ShownRect(HWND window) {
    CRect r, box;
    GetWindowRect(window, &r);
    const int region = GetWindowRgnBox(window, &box);
    if (region == SIMPLEREGION || region == COMPLEXREGION) {
        box.OffsetRect(r.left, r.top);
        RECT both{};
        IntersectRect(&both, &r, &box);
        r = both;
    }
    return r;
}

std::string Text(const CRect& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

// Every visible child of `parent` lies inside it and clear of its visible siblings, and so on
// down the tree; `shown` counts the windows looked at.
void ExpectChildrenApart(HWND parent, const std::string& path, int* shown) {
    const CRect outer = ShownRect(parent);
    CRect whole;
    GetWindowRect(parent, &whole);
    // A parent that cuts itself to a region (the skinned list) cuts its children with it.
    const bool cuts = outer != whole;
    std::vector<std::pair<HWND, CRect>> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        CRect r = ShownRect(child);
        if (cuts) {
            RECT both{};
            IntersectRect(&both, &r, &outer);
            r = both;
        }
        if (IsWindowVisible(child) && !r.IsRectEmpty()) children.emplace_back(child, r);
    }
    for (size_t i = 0; i < children.size(); ++i) {
        const auto& [child, r] = children[i];
        const std::string name = path + " / " + WindowName(child);
        RECT inside{};
        EXPECT_TRUE(IntersectRect(&inside, &r, &outer) && EqualRect(&inside, &r))
            << name << " " << Text(r) << " leaves its parent " << Text(outer);
        for (size_t j = i + 1; j < children.size(); ++j) {
            RECT both{};
            EXPECT_FALSE(IntersectRect(&both, &r, &children[j].second))
                << name << " " << Text(r) << " overlaps " << WindowName(children[j].first) << " "
                << Text(children[j].second);
        }
        ++*shown;
        ExpectChildrenApart(child, name, shown);
    }
}

// The place of a skin view, in the main page's coordinates.
CRect ViewPlace(const char* name) {
    const SkinView* view = CSkinLayout::FindView(name);
    return view ? CRect(view->left, view->top, view->left + view->width, view->top + view->height) : CRect();
}

// A child window's place in its parent's client coordinates.
CRect PlaceInParent(HWND window) {
    CRect r;
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class SmallScreenProgram : public ResourceLibraryTest {
protected:
    void TearDown() override { CSkinLayout::Free(); }
};

TEST_F(SmallScreenProgram, TakesTheSmallSkinWithTheMainPageFilePageAndExportRoomApart) {
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 800) << "this test runs on a screen of 800x600 of its own";
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
    comtest::ComScope com;
    EncoderRegistered encoder(OMBRISK_AX);
    enginetest::SharedRegistered engine{FILE_ENGINE_DLL};
    enginetest::SharedRegistered player{CLIP_PLAYER_DLL};
    // A simulated DV deck, so that the DV page can be shown too.
    enginetest::Registered decks{DV_CAMCORDER_DLL};
    enginetest::Registered dvEngine{DV_CAPTURE_DLL};
    enginetest::Registered query{STRING_QUERY_DLL};
    ASSERT_TRUE(encoder.Ok() && engine.Ok() && player.Ok() && decks.Ok() && dvEngine.Ok() && query.Ok());
    std::string tape;
    ASSERT_TRUE(testsupport::MediaFixture(dvtest::kTape, "dv", &tape));
    enginetest::SetDeck(tape, 1);
    // The small layout, read here to compare the program's windows with it.
    SetSkinImageSource((ProgramFolder() + "\\skin\\800x600").c_str(), kSkinImageFolder);
    ASSERT_EQ(CSkinLayout::Load("skin\\skin800x600.xml"), 1);

    Process p("\"" + ProgramPath() + "\"");
    ASSERT_TRUE(p.started);
    HWND panel = WaitForWindow(p, kMainPanelClass, 30000);
    ASSERT_NE(panel, nullptr) << "no main panel";
    HWND mainPage = GetDlgItem(panel, kIdMainPage);
    ASSERT_NE(mainPage, nullptr);
    SetCursorPos(790, 590);
    Sleep(2000);
    ASSERT_TRUE(testsupport::CaptureScreen("vistrel_800x600.png"));

    // The small skin: the panel fills the screen, the main page has the small layout's size,
    // and the file page and the export room stand where that layout puts them.
    CRect panelRect, pageClient;
    GetWindowRect(panel, &panelRect);
    EXPECT_EQ(panelRect, CRect(0, 0, 800, 600));
    GetClientRect(mainPage, &pageClient);
    const SkinView* mainView = CSkinLayout::FindView("ENC_MAIN_PAGE");
    ASSERT_NE(mainView, nullptr);
    EXPECT_EQ(pageClient.Width(), mainView->width);
    EXPECT_EQ(pageClient.Height(), mainView->height);
    HWND filePage = GetDlgItem(mainPage, kIdFilePage);
    ASSERT_NE(filePage, nullptr);
    EXPECT_TRUE(IsWindowVisible(filePage));
    EXPECT_EQ(PlaceInParent(filePage), ViewPlace("ENC_FILE_PAGE"));
    HWND room = nullptr;
    for (HWND child = GetWindow(mainPage, GW_CHILD); child && !room; child = GetWindow(child, GW_HWNDNEXT))
        if (PlaceInParent(child) == ViewPlace("EXPORT_ROOM")) room = child;
    ASSERT_NE(room, nullptr) << "no export room at its small-screen place";
    EXPECT_TRUE(IsWindowVisible(room));

    int shown = 0;
    ExpectChildrenApart(mainPage, "main page", &shown);
    EXPECT_GE(shown, 40);

    // The DV page takes the file page's place, beside the summary and clear of the room.
    HWND dvButton = GetDlgItem(mainPage, kIdButtonDV);
    ASSERT_NE(dvButton, nullptr);
    for (int i = 0; i < 100 && !IsWindowEnabled(dvButton); ++i)
        Sleep(100);
    PostMessageA(mainPage, WM_COMMAND, MAKEWPARAM(kIdButtonDV, BN_CLICKED), reinterpret_cast<LPARAM>(dvButton));
    HWND dvPage = nullptr;
    for (int i = 0; i < 100 && !(dvPage && IsWindowVisible(dvPage)); ++i) {
        dvPage = GetDlgItem(mainPage, kIdDVPage);
        Sleep(100);
    }
    ASSERT_TRUE(dvPage && IsWindowVisible(dvPage)) << "no DV page";
    EXPECT_EQ(PlaceInParent(dvPage), ViewPlace("ENC_DV_PAGE"));
    Sleep(1500);
    ASSERT_TRUE(testsupport::CaptureScreen("vistrel_800x600_dv.png"));
    shown = 0;
    ExpectChildrenApart(mainPage, "main page", &shown);
    EXPECT_GE(shown, 50);

    PostMessageA(panel, WM_CLOSE, 0, 0);
    ASSERT_TRUE(RunToEnd(p, nullptr, 20000));
    EXPECT_EQ(p.ExitCode(), 0u);
}

}  // namespace
