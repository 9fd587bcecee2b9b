// The skinned dialog frame on a dialog of the resource library: client inset, region cut
// from the caption pieces, caption pieces and buttons on screen, buttons present only as the
// style allows, commands only on release over the pressed button, and double clicks.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/resources/resource_ids.h"
#include "app/services/resource_library.h"
#include "app/skin/g_dialog.h"
#include "app/skin/tests/window_support.h"
#include "framework/resources.h"
#include "tests/support/screen.h"

namespace {

class LogDialog : public CGDialog {
public:
    LogDialog() : CGDialog(IDD_INFORMATION) {}
    std::vector<WPARAM> commands;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) != SC_MOVE) {
            commands.push_back(wParam & 0xFFF0);
            return 0;
        }
        return CGDialog::WindowProc(message, wParam, lParam);
    }
};

testsupport::Rgb CellColour(UINT id, int state) {
    CBitmap strip;
    EXPECT_TRUE(strip.LoadBitmap(id));
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, strip.m_hObject);
    const COLORREF c = GetPixel(dc, state * (strip.GetSize().cx / 4) + 7, 7);
    SelectObject(dc, old);
    DeleteDC(dc);
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
}

class DialogFrameTest : public ResourceLibraryTest {
protected:
    void SetUp() override {
        ASSERT_NE(library_, nullptr);
        ASSERT_TRUE(dialog.Create(IDD_INFORMATION));
        dialog.SetWindowPos(HWND_TOPMOST, 120, 120, 360, 200, SWP_SHOWWINDOW);
        Pump();
        dialog.GetWindowRect(&wr);
    }
    void TearDown() override { dialog.DestroyWindow(); }
    // Screen point of window offset (x, y) and the button centres.
    LPARAM At(CPoint p) const { return MAKELPARAM(wr.left + p.x, wr.top + p.y); }
    CPoint Button(int slot) const {  // 1 close, 2 maximise/restore, 3 minimise
        const CSize b = dialog.GetButtonSize();
        return CPoint(wr.Width() - slot * b.cx - 4 - 2 * (slot - 1) + 7, 4 + 7);
    }
    LPARAM ClientAt(CPoint p) const {
        CPoint s(wr.left + p.x, wr.top + p.y);
        ::ScreenToClient(dialog.m_hWnd, &s);
        return MAKELPARAM(s.x, s.y);
    }
    void AddBoxes() {
        dialog.ModifyStyle(0, WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
        dialog.RedrawWindow(nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
        Pump();
    }

    LogDialog dialog;
    CRect wr;
};

TEST_F(DialogFrameTest, ClientInsetAndRegion) {
    CRect client;
    dialog.GetClientRect(&client);
    CPoint origin(0, 0);
    dialog.ClientToScreen(&origin);
    EXPECT_EQ(origin.x - wr.left, 5);
    EXPECT_EQ(origin.y - wr.top, 25);
    EXPECT_EQ(client.Width(), wr.Width() - 10);
    EXPECT_EQ(client.Height(), wr.Height() - 31);
    EXPECT_FALSE(dialog.GetStyle() & WS_BORDER);

    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(dialog.m_hWnd, region), ERROR);
    // The caption pieces have cyan triangles of 8 pixels in their outer corners.
    EXPECT_FALSE(PtInRegion(region, 0, 0));
    EXPECT_FALSE(PtInRegion(region, 3, 3));
    EXPECT_TRUE(PtInRegion(region, 6, 6));
    EXPECT_FALSE(PtInRegion(region, wr.Width() - 1, 0));
    EXPECT_TRUE(PtInRegion(region, wr.Width() - 7, 6));
    EXPECT_TRUE(PtInRegion(region, wr.Width() / 2, 0));
    EXPECT_TRUE(PtInRegion(region, 0, wr.Height() - 1));
    DeleteObject(region);
    EXPECT_EQ(dialog.SendMessage(WM_NCHITTEST, 0, At(CPoint(wr.Width() / 2, 10))), HTCAPTION);
    EXPECT_EQ(dialog.SendMessage(WM_NCHITTEST, 0, At(Button(1))), HTCAPTION) << "buttons move the window too";
}

TEST_F(DialogFrameTest, ScreenshotShowsCaptionPiecesAndButtonStates) {
    AddBoxes();
    const CPoint close = Button(1), max = Button(2), min = Button(3);
    dialog.SendMessage(WM_NCMOUSEMOVE, HTCAPTION, At(max));
    EXPECT_EQ(dialog.GetHotButton(), kDlgHoverMaximize);
    dialog.SendMessage(WM_NCLBUTTONDOWN, HTCAPTION, At(close));
    EXPECT_EQ(dialog.GetPressedButton(), kDlgPressClose);
    Pump();
    ASSERT_TRUE(testsupport::CaptureScreen("dialog_frame.png"));
    testsupport::Rgb rgb, desktop;
    ASSERT_TRUE(testsupport::PixelAt("dialog_frame.png", wr.left - 10, wr.top + 40, &desktop));
    ASSERT_TRUE(testsupport::PixelAt("dialog_frame.png", wr.left, wr.top, &rgb));
    EXPECT_EQ(rgb, desktop) << "cut corner";
    ASSERT_TRUE(testsupport::PixelAt("dialog_frame.png", wr.left + wr.Width() / 2, wr.top + 3, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0x1E, 0x3C, 0x78})) << "caption middle";
    ASSERT_TRUE(testsupport::PixelAt("dialog_frame.png", wr.left + 2, wr.top + 60, &rgb));
    EXPECT_EQ(rgb, (testsupport::Rgb{0x1E, 0x3C, 0x78})) << "left border";
    ASSERT_TRUE(testsupport::PixelAt("dialog_frame.png", wr.left + close.x, wr.top + close.y, &rgb));
    EXPECT_EQ(rgb, CellColour(IDB_FRAME_CLOSE, 2)) << "close pressed";
    ASSERT_TRUE(testsupport::PixelAt("dialog_frame.png", wr.left + max.x, wr.top + max.y, &rgb));
    EXPECT_EQ(rgb, CellColour(IDB_FRAME_MAXIMIZE, 1)) << "maximise hover";
    ASSERT_TRUE(testsupport::PixelAt("dialog_frame.png", wr.left + min.x, wr.top + min.y, &rgb));
    EXPECT_EQ(rgb, CellColour(IDB_FRAME_MINIMIZE, 0)) << "minimise normal";
    // Each caption button carries its white symbol, and no key colour shows in the caption.
    const CSize b = dialog.GetButtonSize();
    for (const CPoint p : {close, max, min})
        EXPECT_GT(
            testsupport::CountLightPixels("dialog_frame.png", wr.left + p.x - 7, wr.top + p.y - 7, b.cx, b.cy, 220), 3)
            << p.x;
    EXPECT_EQ(testsupport::CountKeyColourPixels("dialog_frame.png", wr.left, wr.top, wr.Width(), 25), 0);
    dialog.SendMessage(WM_LBUTTONUP, 0, ClientAt(CPoint(100, 100)));
    EXPECT_TRUE(dialog.commands.empty()) << "released elsewhere";
}

TEST_F(DialogFrameTest, ButtonsFollowTheStyleAndActOnRelease) {
    // Without the boxes only close exists.
    const CPoint close = Button(1), max = Button(2), min = Button(3);
    EXPECT_EQ(dialog.ButtonAt(wr.left + min.x, wr.top + min.y, false), 0);
    EXPECT_EQ(dialog.ButtonAt(wr.left + max.x, wr.top + max.y, false), 0);
    EXPECT_EQ(dialog.ButtonAt(wr.left + close.x, wr.top + close.y, false), kDlgPressClose);

    AddBoxes();
    struct Case {
        const char* what;
        CPoint press, release;
        std::vector<WPARAM> expected;
    };
    const std::vector<Case> cases = {
        {"minimise", min, min, {SC_MINIMIZE}},
        {"maximise", max, max, {SC_MAXIMIZE}},
        {"close", close, close, {SC_CLOSE}},
        {"close released on maximise", close, max, {}},
        {"minimise released on the caption", min, CPoint(40, 12), {}},
    };
    for (const Case& k : cases) {
        dialog.commands.clear();
        dialog.SendMessage(WM_NCLBUTTONDOWN, HTCAPTION, At(k.press));
        EXPECT_EQ(GetCapture(), dialog.m_hWnd) << k.what;
        EXPECT_TRUE(dialog.commands.empty()) << k.what;
        dialog.SendMessage(WM_LBUTTONUP, 0, ClientAt(k.release));
        EXPECT_EQ(dialog.commands, k.expected) << k.what;
        EXPECT_EQ(dialog.GetPressedButton(), 0) << k.what;
    }

    // A double click on a button never maximises; on the caption it does (posted).
    dialog.commands.clear();
    dialog.SendMessage(WM_NCLBUTTONDBLCLK, HTCAPTION, At(close));
    dialog.SendMessage(WM_LBUTTONUP, 0, ClientAt(CPoint(100, 100)));
    Pump();
    EXPECT_TRUE(dialog.commands.empty());
    dialog.SendMessage(WM_NCLBUTTONDBLCLK, HTCAPTION, At(CPoint(40, 12)));
    Pump();
    EXPECT_EQ(dialog.commands, std::vector<WPARAM>{SC_MAXIMIZE});
}

}  // namespace
