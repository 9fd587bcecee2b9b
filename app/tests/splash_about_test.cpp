// The splash's row region and picture, the version strings of files, and the About box's
// size and texts.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/gxt_frame.h"
#include "app/resources/resource_ids.h"
#include "app/services/resource_library.h"
#include "app/skin/skin_images.h"
#include "app/splash_about.h"
#include "app/skin/tests/window_support.h"
#include "framework/resources.h"
#include "tests/support/screen.h"

namespace {

// A bitmap from rows of characters: '.' magenta, anything else grey.
HBITMAP MakeBitmap(const std::vector<std::string>& rows) {
    const int w = static_cast<int>(rows[0].size()), h = static_cast<int>(rows.size());
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            SetPixel(dc, x, y, rows[y][x] == '.' ? RGB(255, 0, 255) : RGB(128, 128, 128));
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

TEST(SplashRegion, RowsSpanFirstToLastOpaquePixel) {
    const std::vector<std::string> rows = {
        "........",  // all key: cut
        "...#....",  // one opaque pixel: cut
        ".#....#.",  // span 1..6, the key pixels between included
        "########",  // whole row
        "#......#",  // whole row, no holes
    };
    HBITMAP bitmap = MakeBitmap(rows);
    HRGN region = BitmapToRowRegion(bitmap, RGB(255, 0, 255));
    ASSERT_NE(region, nullptr);
    const std::vector<std::string> expected = {"........", "........", ".######.", "########", "########"};
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(PtInRegion(region, x, y) != 0, expected[y][x] == '#') << x << "," << y;
    DeleteObject(region);
    DeleteObject(bitmap);
    EXPECT_EQ(BitmapToRowRegion(nullptr, 0), nullptr);
}

TEST(FileVersions, ProductAndFileVersionStrings) {
    CString version = "stale";
    EXPECT_EQ(GetFileProductVersion(version, nullptr), 1);
    EXPECT_STREQ(version.c_str(), "9.8.7.6 test");
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    EXPECT_STREQ(GetFileVersionString(self).c_str(), "1.2.3.4");

    version = "stale";
    EXPECT_EQ(GetFileProductVersion(version, "C:\\no\\such\\file.exe"), 0);
    EXPECT_STREQ(version.c_str(), "");
    EXPECT_STREQ(GetFileVersionString("C:\\no\\such\\file.exe").c_str(), "");
    EXPECT_STREQ(GetFilterFileVersion("NoSuchFilter.ax").c_str(), "");
}

// The width of `text` in the About box's picture font (the dialog's own font on its memory DC).
int GetTextWidth(CAboutDlg& about, const CString& text) {
    HDC dc = GetDC(about.m_hWnd);
    HGDIOBJ old = SelectObject(dc, GetStockObject(SYSTEM_FONT));
    SIZE extent{};
    GetTextExtentPoint32A(dc, text, text.GetLength(), &extent);
    SelectObject(dc, old);
    ReleaseDC(about.m_hWnd, dc);
    return extent.cx;
}

class ShellWindowTest : public ResourceLibraryTest {
protected:
};

TEST_F(ShellWindowTest, SplashTakesItsPictureSizeAndShowsIt) {
    CSplashWnd splash;
    ASSERT_TRUE(splash.Create(IDD_SPLASH));
    splash.SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    splash.SetStatusText("Load Skin");
    EXPECT_STREQ(splash.GetStatusText().c_str(), "Load Skin");
    Pump();
    HBITMAP art = LoadSkinBitmap("VistrelSplash_NoAC3.BMP");
    ASSERT_NE(art, nullptr);
    BITMAP info{};
    GetObjectA(art, sizeof info, &info);
    CRect wr;
    splash.GetWindowRect(&wr);
    EXPECT_EQ(wr.Width(), info.bmWidth);
    EXPECT_EQ(wr.Height(), info.bmHeight);
    EXPECT_NEAR(wr.left + wr.Width() / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    // The window region equals the picture's row region.
    HRGN window = CreateRectRgn(0, 0, 0, 0), expected = BitmapToRowRegion(art, RGB(255, 0, 255));
    ASSERT_NE(GetWindowRgn(splash.m_hWnd, window), ERROR);
    EXPECT_TRUE(EqualRgn(window, expected));
    // The picture on screen.
    ASSERT_TRUE(testsupport::CaptureScreen("splash.png"));
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, art);
    EXPECT_EQ(GetWindow(splash.m_hWnd, GW_CHILD), nullptr) << "the splash paints only its picture";
    // Points down the middle of the picture, where a strip over it would show.
    std::vector<POINT> points = {POINT{10, 10}, POINT{info.bmWidth - 5, 200}};
    for (int y = 20; y < info.bmHeight; y += 20)
        points.push_back(POINT{info.bmWidth / 2 + 7, y});
    for (const POINT p : points) {
        const COLORREF c = GetPixel(dc, p.x, p.y);
        testsupport::Rgb rgb;
        ASSERT_TRUE(testsupport::PixelAt("splash.png", wr.left + p.x, wr.top + p.y, &rgb));
        // Within 2 per channel: the screen's path rounds the picture's gradient slightly.
        EXPECT_NEAR(rgb.r, GetRValue(c), 2) << p.x << "," << p.y;
        EXPECT_NEAR(rgb.g, GetGValue(c), 2) << p.x << "," << p.y;
        EXPECT_NEAR(rgb.b, GetBValue(c), 2) << p.x << "," << p.y;
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(window);
    DeleteObject(expected);
    DeleteObject(art);
    splash.DestroyWindow();
}

TEST_F(ShellWindowTest, AboutBoxFitsItsPictureAndShowsVersions) {
    CAboutDlg about;
    ASSERT_TRUE(about.Create(IDD_ABOUT));
    about.SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    Pump();
    CBitmap picture;
    ASSERT_TRUE(picture.LoadBitmap(IDB_ABOUT));
    const CSize size = picture.GetSize();
    CRect wr, client;
    about.GetWindowRect(&wr);
    about.GetClientRect(&client);
    EXPECT_EQ(wr.Width(), size.cx + 10);
    EXPECT_EQ(wr.Height(), size.cy + 31);
    EXPECT_EQ(client.Size().cx, size.cx);
    EXPECT_EQ(client.Size().cy, size.cy);

    EXPECT_STREQ(about.GetProgramVersion().c_str(), "9.8.7.6 test");
    EXPECT_STREQ(about.GetVersionLine().c_str(), "9.8.7.6 test  ") << "no build text: two spaces";
    EXPECT_STREQ(about.GetFilterLine().c_str(), "") << "empty until the first right click";
    about.SendMessage(WM_RBUTTONUP, 0, MAKELPARAM(10, 10));
    EXPECT_STREQ(about.GetFilterLine().c_str(), "Ombrisk.ax: Not available");
    about.SendMessage(WM_RBUTTONUP, 0, MAKELPARAM(10, 10));
    EXPECT_STREQ(about.GetFilterLine().c_str(), "Ombrisk.ax: Not available");
    Pump();
    // The version texts are drawn in white in the picture's band (rows 303-318): the program
    // version from the left, the filter line up to the right edge, apart from each other.
    ASSERT_TRUE(testsupport::CaptureScreen("about.png"));
    CPoint origin(0, 0);
    about.ClientToScreen(&origin);
    ASSERT_GE(size.cx, 355);
    ASSERT_GE(size.cy, 318);
    const int versionEnd = 5 + GetTextWidth(about, about.GetVersionLine());
    const int filterStart = size.cx - GetTextWidth(about, about.GetFilterLine());
    ASSERT_LT(versionEnd + 10, filterStart) << "room between the two texts";
    EXPECT_GT(testsupport::CountLightPixels("about.png", origin.x + 5, origin.y + 303, versionEnd - 5, 15, 200), 10);
    EXPECT_GT(testsupport::CountLightPixels("about.png", origin.x + filterStart, origin.y + 303, size.cx - filterStart,
                                            15, 200),
              10);
    EXPECT_EQ(testsupport::CountLightPixels("about.png", origin.x + versionEnd + 4, origin.y + 300,
                                            filterStart - versionEnd - 8, 20, 200),
              0)
        << "nothing drawn between them";
    // The only control is OK, inside the picture and clear of the version band; no control
    // paints over the picture.
    HWND ok = ::GetDlgItem(about.m_hWnd, IDOK);
    ASSERT_NE(ok, nullptr);
    int children = 0;
    for (HWND c = GetWindow(about.m_hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        children += (GetWindowLongPtrA(c, GWL_STYLE) & WS_VISIBLE) != 0;
    EXPECT_EQ(children, 1);
    CRect okRect;
    ::GetWindowRect(ok, &okRect);
    about.ScreenToClient(&okRect);
    EXPECT_TRUE(okRect.left >= 0 && okRect.top >= 0 && okRect.right <= size.cx && okRect.bottom <= 296)
        << okRect.left << "," << okRect.top << "-" << okRect.right << "," << okRect.bottom;
    about.DestroyWindow();
}

}  // namespace
