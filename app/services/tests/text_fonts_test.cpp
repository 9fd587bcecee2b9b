#include "app/services/text_fonts.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/services/resource_library.h"
#include "framework/resources.h"

namespace {

// A static control of a known width, in the system's GUI font.
class FitTextTest : public testing::Test {
protected:
    void SetUp() override {
        window_.m_hWnd = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 120, 20, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window_.m_hWnd, nullptr);
        SendMessageA(window_.m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
    }
    void TearDown() override {
        DestroyWindow(window_.m_hWnd);
        window_.m_hWnd = nullptr;
    }
    int Width(const std::string& s) {
        HDC dc = GetDC(window_.m_hWnd);
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SIZE size{};
        GetTextExtentPoint32A(dc, s.c_str(), static_cast<int>(s.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(window_.m_hWnd, dc);
        return size.cx;
    }
    CWnd window_;
};

TEST_F(FitTextTest, LabelsFitTheWindowWithAnEllipsis) {
    CString fits("Short");
    FitTextToWindow(&window_, fits);
    EXPECT_STREQ(fits, "Short");

    CString longText("A profile summary that is much too long for this narrow label");
    FitTextToWindow(&window_, longText);
    const std::string fitted = longText.str();
    ASSERT_GT(fitted.size(), 3u);
    EXPECT_EQ(fitted.substr(fitted.size() - 3), "...");
    EXPECT_LT(Width(fitted), 120);
    // The longest such prefix: one more character would not fit.
    const std::string prefix = fitted.substr(0, fitted.size() - 3);
    const std::string original = "A profile summary that is much too long for this narrow label";
    EXPECT_EQ(original.compare(0, prefix.size(), prefix), 0);
    EXPECT_GE(Width(original.substr(0, prefix.size() + 1) + "..."), 120);

    SetWindowPos(window_.m_hWnd, nullptr, 0, 0, 4, 20, SWP_NOMOVE | SWP_NOZORDER);
    CString narrow("Anything");
    FitTextToWindow(&window_, narrow);
    EXPECT_STREQ(narrow, "...");
}

TEST(TextFonts, FontsFollowTheGuiFont) {
    CFont* font = CreateFontFromLogFont(-20, 1);
    ASSERT_NE(font, nullptr);
    LOGFONTA lf{}, gui{};
    ASSERT_TRUE(font->GetLogFont(&lf));
    GetObjectA(GetAppGuiFont(), sizeof gui, &gui);
    EXPECT_EQ(lf.lfHeight, -20);
    EXPECT_EQ(lf.lfWeight, FW_BOLD);
    EXPECT_STREQ(lf.lfFaceName, gui.lfFaceName);
    delete font;
    font = CreateFontFromLogFont(-11, 0);
    ASSERT_NE(font, nullptr);
    ASSERT_TRUE(font->GetLogFont(&lf));
    EXPECT_EQ(lf.lfWeight, gui.lfWeight);
    delete font;
}

TEST(TextFonts, PathsAreCompactedIntoTheirBuffer) {
    const char* path = "C:\\Documents and Settings\\someone\\My Documents\\Videos\\holiday\nclip.mpg";
    char out[300];
    FitPathToWidth(out, sizeof out, path, 120);
    EXPECT_EQ(std::strchr(out, '\n'), nullptr);  // one line
    EXPECT_NE(std::strstr(out, "..."), nullptr);
    EXPECT_NE(std::strstr(out, "clip.mpg"), nullptr);  // the file name stays

    char guarded[12];
    std::memset(guarded, '#', sizeof guarded);
    FitPathToWidth(guarded, 10, path, 1000);
    EXPECT_EQ(std::strlen(guarded), 9u);
    EXPECT_EQ(guarded[10], '#');
    FitPathToWidth(guarded, 0, path, 100);  // size 0: nothing written
    EXPECT_EQ(guarded[10], '#');
    FitPathToWidth(nullptr, 10, path, 100);
}

TEST(TextFonts, ByteSizesTakeTheirUnitsFromTheResourceLibrary) {
    HINSTANCE library = LoadResourceLibrary();
    ASSERT_NE(library, nullptr);
    HINSTANCE previous = AfxGetResourceHandle();
    AfxSetResourceHandle(library);
    ResetByteSizeUnits();
    struct Case {
        int64_t bytes;
        double value;
        const char* unit;
    } cases[] = {{1023, 1023.0, "Bytes"}, {1024, 1.0, "KB"}, {1048576, 1.0, "MB"}, {int64_t{1} << 30, 1.0, "GB"}};
    for (const Case& c : cases) {
        double value = 0;
        char unit[16];
        EXPECT_EQ(FormatByteSize(c.bytes, &value, unit, sizeof unit), 1);
        EXPECT_DOUBLE_EQ(value, c.value);
        EXPECT_STREQ(unit, c.unit);
    }
    double value = 0;
    char small[3];
    EXPECT_EQ(FormatByteSize(100, &value, small, sizeof small), 1);
    EXPECT_STREQ(small, "By");
    EXPECT_EQ(FormatByteSize(100, &value, nullptr, 10), 0);
    AfxSetResourceHandle(previous);
    FreeResourceLibrary(library);
    ResetByteSizeUnits();
}

}  // namespace
