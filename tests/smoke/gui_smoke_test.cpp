// End-to-end check of window tests: a real window on the Xvfb display, captured from the
// X server as a PNG, and its pixels checked.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/screen.h"

namespace {

constexpr int kLeft = 120, kTop = 90, kWidth = 240, kHeight = 160;

LRESULT CALLBACK SmokeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT all;
        GetClientRect(hwnd, &all);
        HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
        FillRect(dc, &all, red);
        DeleteObject(red);
        // A blue square in the lower-right quarter.
        RECT corner{all.right / 2, all.bottom / 2, all.right, all.bottom};
        HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
        FillRect(dc, &corner, blue);
        DeleteObject(blue);
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void PumpFor(DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    MSG m;
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        Sleep(10);
    }
}

}  // namespace

TEST(GuiSmoke, WindowPixelsReachTheScreen) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = SmokeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"GuiSmokeWindow";
    ASSERT_NE(RegisterClassW(&wc), 0);
    HWND hwnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"smoke", WS_POPUP | WS_VISIBLE, kLeft, kTop, kWidth,
                                kHeight, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(hwnd, nullptr);
    UpdateWindow(hwnd);
    PumpFor(500);

    ASSERT_TRUE(testsupport::CaptureScreen("gui_smoke.png"));
    struct Probe {
        int x, y;
        testsupport::Rgb want;
    } probes[] = {
        {kLeft + 10, kTop + 10, {255, 0, 0}},
        {kLeft + kWidth - 10, kTop + kHeight - 10, {0, 0, 255}},
        {kLeft + kWidth / 4, kTop + kHeight - 10, {255, 0, 0}},
    };
    for (const auto& p : probes) {
        testsupport::Rgb got;
        ASSERT_TRUE(testsupport::PixelAt("gui_smoke.png", p.x, p.y, &got));
        EXPECT_EQ(got, p.want) << "at " << p.x << "," << p.y << ": " << got.r << " " << got.g << " " << got.b;
    }
    testsupport::Rgb outside;
    ASSERT_TRUE(testsupport::PixelAt("gui_smoke.png", kLeft - 5, kTop - 5, &outside));
    EXPECT_FALSE(outside == (testsupport::Rgb{255, 0, 0})) << "the window must not cover the whole screen";

    DestroyWindow(hwnd);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
}
