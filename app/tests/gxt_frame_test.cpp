// The skinned frame window under the test display: client inset, hit-test table, window
// region against the corner art, caption buttons in their states after non-client mouse
// messages (screenshots), commands only on release over the pressed button, system-menu
// commands, double clicks and the maximised size.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/skin/bitmap_region.h"
#include "app/gxt_frame.h"
#include "app/services/resource_library.h"
#include "app/skin/skin_images.h"
#include "framework/app.h"
#include "framework/resources.h"
#include "app/skin/tests/window_support.h"
#include "tests/support/screen.h"

namespace {

// A frame that logs the system commands it gets and carries none of them out.
class LogFrame : public CGXTFrameWnd {
public:
    std::vector<std::pair<WPARAM, LPARAM>> commands;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) != SC_MOVE && (wParam & 0xFFF0) != SC_KEYMENU) {
            commands.push_back({wParam, lParam});
            return 0;
        }
        return CGXTFrameWnd::WindowProc(message, wParam, lParam);
    }
};

testsupport::Rgb ToRgb(COLORREF c) {
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
}

class FrameTest : public ResourceLibraryTest {
protected:
    void SetUp() override {
        frame = new LogFrame;
        frame->m_bAutoDelete = FALSE;
        ASSERT_TRUE(
            frame->Create(nullptr, "Skinned frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CRect(100, 100, 500, 400)));
        SetWindowPos(frame->m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        Pump();
        frame->GetWindowRect(&wr);
    }
    void TearDown() override {
        frame->DestroyWindow();
        delete frame;
    }
    // Screen point at window offset (x, y).
    LPARAM At(int x, int y) const { return MAKELPARAM(wr.left + x, wr.top + y); }
    // Centre of the minimise and close buttons' faces, as window offsets.
    CPoint MinimizeFace() const {
        const CSize b = frame->GetButtonSize();
        return CPoint(wr.Width() - 2 * b.cx - 6 + 3, 4 + 9);
    }
    CPoint CloseFace() const {
        const CSize b = frame->GetButtonSize();
        return CPoint(wr.Width() - b.cx - 4 + 3, 4 + 9);
    }
    // Colour of cell `state` of a button strip at the probed face point.
    static testsupport::Rgb CellColour(const char* art, int state) {
        HBITMAP strip = LoadSkinBitmap(art);
        BITMAP info{};
        GetObjectA(strip, sizeof info, &info);
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, strip);
        const COLORREF c = GetPixel(dc, state * (info.bmWidth / 4) + 3, 9);
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(strip);
        return ToRgb(c);
    }
    testsupport::Rgb Probe(const std::string& png, CPoint windowPoint) {
        testsupport::Rgb rgb;
        EXPECT_TRUE(testsupport::PixelAt(png, wr.left + windowPoint.x, wr.top + windowPoint.y, &rgb));
        return rgb;
    }

    LogFrame* frame = nullptr;
    CRect wr;
};

TEST_F(FrameTest, MetricsAndClientInset) {
    EXPECT_EQ(GetFrameMetrics(SM_CYCAPTION), 25);
    EXPECT_EQ(GetFrameMetrics(SM_CXFRAME), 6);
    EXPECT_EQ(GetFrameMetrics(SM_CYFRAME), 5);
    EXPECT_EQ(GetFrameMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CXSCREEN));

    EXPECT_FALSE(frame->GetStyle() & WS_CAPTION);
    CRect client;
    frame->GetClientRect(&client);
    CPoint origin(0, 0);
    frame->ClientToScreen(&origin);
    EXPECT_EQ(origin.x - wr.left, 5);
    EXPECT_EQ(origin.y - wr.top, 25);
    EXPECT_EQ(client.Width(), wr.Width() - 10);
    EXPECT_EQ(client.Height(), wr.Height() - 31);
}

TEST_F(FrameTest, HitTestTable) {
    const CSize b = frame->GetButtonSize();
    ASSERT_GT(b.cx, 0);
    const int W = wr.Width();
    struct Case {
        const char* where;
        int x, y;
        LRESULT nc;
        int caption;
    };
    const Case cases[] = {
        {"caption middle", W / 2, 12, HTCAPTION, 0},
        {"caption icon", 24, 8, HTCAPTION, kHitIcon},
        {"minimise button", W - 2 * b.cx - 6 + b.cx / 2, 10, HTCAPTION, kHitMinimize},
        {"close button", W - b.cx - 4 + b.cx / 2, 10, HTCAPTION, kHitClose},
        {"edge between the buttons", W - b.cx - 4, 10, HTCAPTION, 0},
        {"client", W / 2, wr.Height() / 2, HTCLIENT, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(frame->SendMessage(WM_NCHITTEST, 0, At(c.x, c.y)), c.nc) << c.where;
        EXPECT_EQ(frame->CaptionHitTest(wr.left + c.x, wr.top + c.y), c.caption) << c.where;
    }
    EXPECT_EQ(frame->CaptionHoverTest(wr.left + W / 2, wr.top + 12), kHoverNone);
    EXPECT_EQ(frame->CaptionHoverTest(wr.left + cases[2].x, wr.top + 10), kHoverMinimize);
    EXPECT_EQ(frame->CaptionHoverTest(wr.left + cases[3].x, wr.top + 10), kHoverClose);
}

TEST_F(FrameTest, RegionIsTheCornerArtsOutline) {
    // BitmapToRegion covers exactly the opaque pixels of each corner piece (one group, no holes).
    for (const char* art : {"GXT_UPLEFT.bmp", "GXT_UPRIGHT.bmp"}) {
        HBITMAP bitmap = LoadSkinBitmap(art);
        ASSERT_NE(bitmap, nullptr) << art;
        int w = 0, h = 0;
        std::vector<DWORD> px;
        ASSERT_TRUE(ReadBitmapPixels(bitmap, &w, &h, &px));
        HRGN region = BitmapToRegion(bitmap, kFrameKey);
        ASSERT_NE(region, nullptr);
        int mismatches = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                mismatches += (PtInRegion(region, x, y) != 0) != (px[static_cast<size_t>(y) * w + x] != 0x00FFFF);
        EXPECT_EQ(mismatches, 0) << art;
        DeleteObject(region);
        DeleteObject(bitmap);
    }
    // A picture all of the key colour gives none.
    HDC screen = GetDC(nullptr);
    HBITMAP keyOnly = CreateCompatibleBitmap(screen, 8, 8);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, keyOnly);
    HBRUSH cyan = CreateSolidBrush(kFrameKey);
    RECT all{0, 0, 8, 8};
    FillRect(dc, &all, cyan);
    SelectObject(dc, old);
    EXPECT_EQ(BitmapToRegion(keyOnly, kFrameKey), nullptr);
    DeleteObject(cyan);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    DeleteObject(keyOnly);

    HRGN window = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(frame->m_hWnd, window), ERROR);
    const int W = wr.Width(), H = wr.Height();
    EXPECT_FALSE(PtInRegion(window, 0, 0)) << "rounded top-left corner";
    EXPECT_FALSE(PtInRegion(window, W - 1, 0)) << "rounded top-right corner";
    EXPECT_TRUE(PtInRegion(window, W / 2, 0)) << "caption top row";
    EXPECT_TRUE(PtInRegion(window, 8, 8));
    EXPECT_TRUE(PtInRegion(window, 0, H - 1)) << "bottom corners are square";
    EXPECT_TRUE(PtInRegion(window, W - 1, H - 1));
    EXPECT_FALSE(PtInRegion(window, W, H - 1));
    DeleteObject(window);
}

TEST_F(FrameTest, ScreenshotShowsFrameCutCornersAndButtonStates) {
    const std::string base = "frame_normal.png";
    ASSERT_TRUE(testsupport::CaptureScreen(base));
    // The desktop beside the window, and in its cut corner.
    testsupport::Rgb desktop;
    ASSERT_TRUE(testsupport::PixelAt(base, wr.left - 20, wr.top + 40, &desktop));
    EXPECT_EQ(Probe(base, CPoint(0, 0)), desktop) << "top-left corner is cut";
    EXPECT_EQ(Probe(base, CPoint(wr.Width() - 1, 0)), desktop) << "top-right corner is cut";
    // Caption rows, borders (5 left and right, 6 at the bottom) are the frame art, not the
    // desktop, and the client starts right after them.
    for (const CPoint p : {CPoint(wr.Width() / 2, 2), CPoint(wr.Width() / 2, 24), CPoint(2, 100),
                           CPoint(wr.Width() - 3, 100), CPoint(100, wr.Height() - 3)})
        EXPECT_NE(Probe(base, p), desktop) << p.x << "," << p.y;
    EXPECT_EQ(Probe(base, MinimizeFace()), CellColour("GXT_BT_MINUS.bmp", 0));
    EXPECT_EQ(Probe(base, CloseFace()), CellColour("GXT_BT_CLOSE.bmp", 0));

    // Hover, then press: the minimise button shows those cells.
    const CPoint m = MinimizeFace();
    frame->SendMessage(WM_NCMOUSEMOVE, HTCAPTION, At(m.x, m.y));
    EXPECT_EQ(frame->GetButtonState(), kHoverMinimize);
    Pump();
    ASSERT_TRUE(testsupport::CaptureScreen("frame_hover.png"));
    EXPECT_EQ(Probe("frame_hover.png", m), CellColour("GXT_BT_MINUS.bmp", 1));
    frame->SendMessage(WM_NCLBUTTONDOWN, HTCAPTION, At(m.x, m.y));
    EXPECT_EQ(frame->GetButtonState(), kHitMinimize);
    EXPECT_EQ(GetCapture(), frame->m_hWnd) << "the button holds the mouse, no move loop runs";
    Pump();
    ASSERT_TRUE(testsupport::CaptureScreen("frame_pressed.png"));
    EXPECT_EQ(Probe("frame_pressed.png", m), CellColour("GXT_BT_MINUS.bmp", 2));
    frame->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(100, 100));  // released over the client
    EXPECT_EQ(frame->GetButtonState(), 0);
    EXPECT_TRUE(frame->commands.empty());

    // The close feature off: its disabled cell.
    frame->SetCaptionFeatures(255 & ~kCaptionClose);
    Pump();
    ASSERT_TRUE(testsupport::CaptureScreen("frame_disabled.png"));
    EXPECT_EQ(Probe("frame_disabled.png", CloseFace()), CellColour("GXT_BT_CLOSE.bmp", 3));
    EXPECT_EQ(Probe("frame_disabled.png", m), CellColour("GXT_BT_MINUS.bmp", 0));
    // No key colour, nor a blend of one, anywhere in the caption strip: not around the
    // buttons in any state, not along the cut corners.
    for (const char* png : {"frame_normal.png", "frame_hover.png", "frame_pressed.png", "frame_disabled.png"})
        EXPECT_EQ(testsupport::CountKeyColourPixels(png, wr.left, wr.top, wr.Width(), 28), 0) << png;
}

TEST_F(FrameTest, ButtonsActOnlyOnReleaseOverThePressedButton) {
    // Client coordinates of a window point, for the captured WM_LBUTTONUP.
    auto clientAt = [&](CPoint p) {
        CPoint s(wr.left + p.x, wr.top + p.y);
        frame->ScreenToClient(&s);
        return MAKELPARAM(s.x, s.y);
    };
    const CPoint m = MinimizeFace(), c = CloseFace();
    struct Case {
        const char* what;
        UINT features;
        CPoint press, release;
        std::vector<WPARAM> expected;
    };
    const std::vector<Case> cases = {
        {"minimise released on itself", 255, m, m, {SC_MINIMIZE}},
        {"close released on itself", 255, c, c, {SC_CLOSE}},
        {"minimise released on close", 255, m, c, {}},
        {"close released on the caption", 255, c, CPoint(wr.Width() / 2, 12), {}},
        {"close disabled", 255 & ~kCaptionClose, c, c, {}},
        {"minimise disabled", 255 & ~kCaptionMinimize, m, m, {}},
    };
    for (const Case& k : cases) {
        frame->commands.clear();
        frame->SetCaptionFeatures(k.features);
        frame->SendMessage(WM_NCLBUTTONDOWN, HTCAPTION, At(k.press.x, k.press.y));
        EXPECT_TRUE(frame->commands.empty()) << k.what << ": nothing happens on the press";
        frame->SendMessage(WM_LBUTTONUP, 0, clientAt(k.release));
        std::vector<WPARAM> got;
        for (const auto& [w, l] : frame->commands)
            got.push_back(w);
        EXPECT_EQ(got, k.expected) << k.what;
        EXPECT_EQ(frame->GetButtonState(), 0) << k.what;
        EXPECT_NE(GetCapture(), frame->m_hWnd) << k.what;
    }
    // Capture taken away mid-press ends the press without a command.
    frame->SetCaptionFeatures(255);
    frame->commands.clear();
    frame->SendMessage(WM_NCLBUTTONDOWN, HTCAPTION, At(m.x, m.y));
    ReleaseCapture();
    EXPECT_EQ(frame->GetButtonState(), 0);
    frame->SendMessage(WM_LBUTTONUP, 0, clientAt(m));
    EXPECT_TRUE(frame->commands.empty());
}

TEST_F(FrameTest, SystemMenuCommandsDoubleClicksAndMaximisedSize) {
    frame->SendMessage(WM_COMMAND, SC_MINIMIZE, 0);
    frame->SendMessage(WM_COMMAND, 1234, 0);  // an ordinary command stays a command
    Pump();
    ASSERT_EQ(frame->commands.size(), 1u);
    EXPECT_EQ(frame->commands[0].first, static_cast<WPARAM>(SC_MINIMIZE));
    EXPECT_EQ(frame->commands[0].second, 0x00040011);

    // Double click on the icon: nothing; on the caption: centred on the screen.
    frame->SendMessage(WM_NCLBUTTONDBLCLK, HTCAPTION, At(24, 8));
    CRect after;
    frame->GetWindowRect(&after);
    EXPECT_EQ(after, wr);
    frame->SendMessage(WM_NCLBUTTONDBLCLK, HTCAPTION, At(wr.Width() / 2, 12));
    frame->GetWindowRect(&after);
    EXPECT_EQ(after.Size().cx, wr.Width());
    EXPECT_NEAR(after.left + after.Width() / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NE(after, wr);

    // System menu items follow the features and the show state.
    CMenu menu;
    ASSERT_TRUE(menu.CreatePopupMenu());
    for (UINT id : {SC_RESTORE, SC_MOVE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_CLOSE})
        menu.AppendMenu(MF_STRING, id, "x");
    frame->SetCaptionFeatures(255 & ~kCaptionClose);
    frame->UpdateSystemMenu(&menu);
    EXPECT_TRUE(menu.GetMenuState(SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_TRUE(menu.GetMenuState(SC_RESTORE, MF_BYCOMMAND) & MF_GRAYED) << "a normal window has nothing to restore";
    EXPECT_FALSE(menu.GetMenuState(SC_MINIMIZE, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(menu.GetMenuState(SC_MOVE, MF_BYCOMMAND) & MF_GRAYED);

    // Maximised size from the work area (Xvfb has no task bar, so the work area is the
    // screen and a sizeable frame reaches 3 pixels below it).
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    MINMAXINFO info{};
    info.ptMaxSize = POINT{1, 1};
    frame->SendMessage(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    if (work.left == 0 && work.top == 0 && work.right == GetSystemMetrics(SM_CXSCREEN) &&
        work.bottom == GetSystemMetrics(SM_CYSCREEN))
        EXPECT_EQ(info.ptMaxSize.y, work.bottom + 3);
    else
        EXPECT_NE(info.ptMaxSize.y, 1);
}

}  // namespace
