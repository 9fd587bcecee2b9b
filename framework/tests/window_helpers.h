// Helpers of the window tests: message pumping for a while, and screen probes of a window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/app.h"
#include "framework/controls.h"
#include "tests/support/screen.h"

inline void PumpFor(DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        AfxPumpWaitingMessages();
        Sleep(10);
    }
}

// Colour on the screen capture `png` at the centre of control `id` of `dialog`.
inline testsupport::Rgb ProbeControl(const std::string& png, HWND dialog, int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(dialog, id), &r);
    testsupport::Rgb rgb;
    EXPECT_TRUE(testsupport::PixelAt(png, (r.left + r.right) / 2, (r.top + r.bottom) / 2, &rgb));
    return rgb;
}

// An edit control that logs the keys it is offered before translation ("pre:edit") and
// the ones it then handles ("keydown:<virtual key>").
class KeyLoggingEdit : public CEdit {
public:
    std::vector<std::string>* log = nullptr;
    BOOL PreTranslateMessage(MSG* msg) override;
    void OnKeyDown(UINT key, UINT repeat, UINT flags);
    DECLARE_MESSAGE_MAP()
};
