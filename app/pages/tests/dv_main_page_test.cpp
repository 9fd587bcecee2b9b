// The main page with the DV page in its factory, as the program sets it up: with the
// simulated deck registered, the DV button finds the deck and shows the DV page on it; the
// file page button takes it down again.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/enc_main_page.h"
#include "app/pages/dv_page_install.h"
#include "app/pages/tests/dv_test_deck.h"
#include "app/skin/tests/window_support.h"
#include "engines/tests/dv_deck_support.h"
#include "engines/tests/registered.h"
#include "filters/base/tests/com_test_util.h"
#include "tests/support/media_fixture.h"
#include "tests/support/screen.h"

namespace {

class MainPageDvTest : public SkinLayoutTest {
protected:
    void TearDown() override {
        if (page_) {
            page_->DestroyWindow();
            delete page_;
        }
        parent_.DestroyWindow();
        SetPageFactory(PageFactory{});
    }
    comtest::ComScope com_;
    enginetest::Registered decks_{DV_CAMCORDER_DLL};
    enginetest::Registered engine_{DV_CAPTURE_DLL};
    enginetest::Registered query_{STRING_QUERY_DLL};
    CWnd parent_;
    CEncMainPage* page_ = nullptr;
};

TEST_F(MainPageDvTest, TheDvButtonShowsTheDvPageOnTheSimulatedDeck) {
    ASSERT_TRUE(decks_.Ok() && engine_.Ok() && query_.Ok());
    std::string tape;
    ASSERT_TRUE(testsupport::MediaFixture(dvtest::kTape, "dv", &tape));
    enginetest::SetDeck(tape, 1);
    PageFactory factory;
    InstallDVCapturePage(&factory);
    SetPageFactory(factory);
    ASSERT_TRUE(
        parent_.CreateEx(0, AfxRegisterWndClass(0), "main", WS_POPUP | WS_VISIBLE, CRect(0, 0, 1024, 768), nullptr, 0));
    page_ = new CEncMainPage;
    ASSERT_TRUE(page_->Create(CRect(0, 0, 1024, 768), kIdMainPage, &parent_));
    page_->ShowWindow(SW_SHOW);
    EXPECT_EQ(page_->HasDVDevice(), 1);
    page_->ShowDVPage();
    ASSERT_NE(page_->GetDVPage(), nullptr);
    EXPECT_EQ(page_->GetShownPage(), kShownDV);
    EXPECT_TRUE(page_->GetDVPage()->Window()->IsWindowVisible());
    EXPECT_EQ(page_->GetDVPage()->GetFrameRate(), 25.0f);
    EXPECT_TRUE(page_->IsDVSecondaryEnabled());
    Pump(1500);
    EXPECT_TRUE(testsupport::CaptureScreen("dv_page_in_main_page.png"));
    page_->ShowFilePage();
    EXPECT_EQ(page_->GetDVPage(), nullptr);
}

}  // namespace
