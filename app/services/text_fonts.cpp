#include "app/services/text_fonts.h"

#include <mbstring.h>

#include <cstdarg>
#include <cstdio>

#include <string>

#include "app/services/text_core.h"

namespace {

HFONT g_guiFont = nullptr;

struct UnitNames {
    bool loaded = false;
    CString names[4];
} g_units;

bool IsLeadByte(unsigned char c) {
    return IsDBCSLeadByte(c) != 0;
}

}  // namespace

void SetAppGuiFont(HFONT font) {
    g_guiFont = font;
}

HFONT GetAppGuiFont() {
    return g_guiFont ? g_guiFont : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

CFont* CreateFontFromLogFont(int height, int bold) {
    LOGFONTA lf{};
    if (GetObjectA(GetAppGuiFont(), sizeof lf, &lf) != sizeof lf) return nullptr;
    lf.lfHeight = height;
    if (bold) lf.lfWeight = FW_BOLD;
    auto* font = new CFont;
    if (!font->CreateFontIndirect(&lf)) {
        delete font;
        return nullptr;
    }
    return font;
}

void FitTextToWindow(CWnd* window, CString& text) {
    if (window == nullptr || window->GetSafeHwnd() == nullptr) return;
    HWND hwnd = window->GetSafeHwnd();
    RECT client{};
    GetClientRect(hwnd, &client);
    HDC dc = GetDC(hwnd);
    if (dc == nullptr) return;
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0)));
    const auto measure = [dc](const std::string& s) {
        SIZE size{};
        GetTextExtentPoint32A(dc, s.c_str(), static_cast<int>(s.size()), &size);
        return static_cast<int>(size.cx);
    };
    text = CString(services::FitTextToWidth(text.str(), client.right - client.left, measure, IsLeadByte));
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
}

void FitPathToWidth(char* out, size_t outSize, const char* text, int width) {
    if (out == nullptr || text == nullptr || outSize == 0) return;
    std::string s = text;
    for (char& c : s)
        if (c == '\n') c = ' ';
    LOGFONTA lf{};
    GetObjectA(GetAppGuiFont(), sizeof lf, &lf);
    // DT_MODIFYSTRING may write up to four characters more than the text holds.
    std::string work = s + std::string(8, '\0');
    RECT r = {0, 0, width, lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight};
    HDC screen = GetDC(nullptr);
    DrawTextA(screen, work.data(), static_cast<int>(s.size()), &r,
              DT_CENTER | DT_CALCRECT | DT_PATH_ELLIPSIS | DT_MODIFYSTRING);
    ReleaseDC(nullptr, screen);
    services::CopyTextBounded(out, outSize, std::string(work.c_str()), IsLeadByte);
}

int FormatByteSize(int64_t bytes, double* value, char* unit, size_t unitSize) {
    if (unit == nullptr || unitSize == 0) return 0;
    const services::ByteSizeUnit which = services::ChooseByteSizeUnit(bytes, value);
    if (!g_units.loaded) {
        bool all = true;
        for (UINT i = 0; i < 4; ++i)
            all = g_units.names[i].LoadString(125 + i) && all;
        // Kept only when every name was there, so a later resource module is asked again.
        g_units.loaded = all;
    }
    services::CopyTextBounded(unit, unitSize, g_units.names[static_cast<int>(which)].str(), IsLeadByte);
    return 1;
}

void ResetByteSizeUnits() {
    g_units = UnitNames();
}

void FormatString(const char* format, ...) {
    if (!format) return;
    char text[544];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n >= 0) OutputDebugStringA(text);
}
