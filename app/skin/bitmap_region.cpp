#include "app/skin/bitmap_region.h"

#include "app/skin/outline_trace.h"

namespace {

DWORD ToPixel(COLORREF c) {
    return (static_cast<DWORD>(GetRValue(c)) << 16) | (static_cast<DWORD>(GetGValue(c)) << 8) | GetBValue(c);
}

}  // namespace

bool ReadBitmapPixels(HBITMAP bitmap, int* width, int* height, std::vector<DWORD>* pixels) {
    BITMAP info{};
    if (!bitmap || GetObjectA(bitmap, sizeof info, &info) != sizeof info) return false;
    if (info.bmWidth <= 0 || info.bmHeight <= 0 ||
        static_cast<long long>(info.bmWidth) * info.bmHeight > kMaxRegionPixels)
        return false;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = info.bmWidth;
    bi.bmiHeader.biHeight = -info.bmHeight;  // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    pixels->assign(static_cast<size_t>(info.bmWidth) * info.bmHeight, 0);
    HDC screen = GetDC(nullptr);
    const int rows =
        GetDIBits(screen, bitmap, 0, static_cast<UINT>(info.bmHeight), pixels->data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != info.bmHeight) return false;
    for (DWORD& p : *pixels)
        p &= 0xFFFFFF;
    *width = info.bmWidth;
    *height = info.bmHeight;
    return true;
}

HRGN BitmapToRegion(HBITMAP bitmap, COLORREF key) {
    int w = 0, h = 0;
    std::vector<DWORD> pixels;
    if (!ReadBitmapPixels(bitmap, &w, &h, &pixels)) return nullptr;
    const DWORD k = ToPixel(key);
    const auto outline = TraceOutline(w, h, [&](int x, int y) { return pixels[static_cast<size_t>(y) * w + x] != k; });
    if (outline.empty()) return nullptr;
    std::vector<POINT> points(outline.size());
    for (size_t i = 0; i < outline.size(); ++i)
        points[i] = POINT{outline[i].x, outline[i].y};
    return CreatePolygonRgn(points.data(), static_cast<int>(points.size()), WINDING);
}
