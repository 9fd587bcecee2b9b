#include "app/skin/skin_draw.h"

#include <algorithm>
#include <vector>

namespace {

// The most pixels read from one picture for its key mask.
constexpr LONG kMaxKeyedPixels = 16 * 1024 * 1024;

}  // namespace

void DrawKeyedBitmap(HDC dc, HBITMAP image, int x, int y, int w, int h, int sx, int sy, COLORREF key) {
    BITMAP info{};
    if (!image || !GetObjectA(image, sizeof info, &info)) return;
    // Only the part of the picture that exists is drawn.
    if (sx < 0) x -= sx, w += sx, sx = 0;
    if (sy < 0) y -= sy, h += sy, sy = 0;
    w = std::min(w, static_cast<int>(info.bmWidth) - sx);
    h = std::min(h, static_cast<int>(info.bmHeight) - sy);
    if (w <= 0 || h <= 0 || static_cast<LONGLONG>(w) * h > kMaxKeyedPixels) return;
    // The picture's pixels as 32-bit rows, read once: the key is compared on the colour
    // channels alone (pictures with an alpha channel carry it in the fourth byte).
    HDC screen = GetDC(nullptr);
    HDC source = CreateCompatibleDC(screen);
    HBITMAP part = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ oldPart = SelectObject(source, part);
    HDC whole = CreateCompatibleDC(screen);
    HGDIOBJ oldWhole = SelectObject(whole, image);
    BitBlt(source, 0, 0, w, h, whole, sx, sy, SRCCOPY);
    SelectObject(whole, oldWhole);
    DeleteDC(whole);
    SelectObject(source, oldPart);
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = w;
    header.bmiHeader.biHeight = -h;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<size_t>(w) * h);
    const int rows = GetDIBits(screen, part, 0, h, pixels.data(), &header, DIB_RGB_COLORS);
    DeleteObject(part);
    if (rows != h) {
        DeleteDC(source);
        ReleaseDC(nullptr, screen);
        return;
    }
    // Mask rows are word-aligned, one bit a pixel, 1 where the key shows.
    const DWORD keyPixel = (GetRValue(key) << 16) | (GetGValue(key) << 8) | GetBValue(key);
    const int stride = ((w + 15) / 16) * 2;
    std::vector<BYTE> maskBits(static_cast<size_t>(stride) * h, 0);
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col) {
            DWORD& p = pixels[static_cast<size_t>(row) * w + col];
            if ((p & 0xFFFFFF) == keyPixel) {
                maskBits[static_cast<size_t>(row) * stride + col / 8] |= static_cast<BYTE>(0x80 >> (col % 8));
                p = 0;  // the picture's key pixels blackened
            }
        }
    HBITMAP mask = CreateBitmap(w, h, 1, 1, maskBits.data());
    HBITMAP picture = CreateCompatibleBitmap(screen, w, h);
    SetDIBits(screen, picture, 0, h, pixels.data(), &header, DIB_RGB_COLORS);
    HDC maskDc = CreateCompatibleDC(dc);
    HGDIOBJ oldMask = SelectObject(maskDc, mask);
    HGDIOBJ oldPicture = SelectObject(source, picture);
    // Clear the destination where the picture shows, then OR the picture in.
    const COLORREF oldBk = SetBkColor(dc, RGB(255, 255, 255));
    const COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));
    BitBlt(dc, x, y, w, h, maskDc, 0, 0, SRCAND);
    BitBlt(dc, x, y, w, h, source, 0, 0, SRCPAINT);
    SetBkColor(dc, oldBk);
    SetTextColor(dc, oldText);
    SelectObject(source, oldPicture);
    SelectObject(maskDc, oldMask);
    DeleteObject(picture);
    DeleteObject(mask);
    DeleteDC(maskDc);
    DeleteDC(source);
    ReleaseDC(nullptr, screen);
}

void DrawBitmapPart(HDC dc, HBITMAP image, int x, int y, int w, int h, int sx, int sy) {
    if (!image || w <= 0 || h <= 0) return;
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, image);
    BitBlt(dc, x, y, w, h, source, sx, sy, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
}

void PaintOffScreen(HDC target, int width, int height, const std::function<void(HDC)>& draw) {
    if (width <= 0 || height <= 0) return;
    HDC dc = CreateCompatibleDC(target);
    HBITMAP canvas = CreateCompatibleBitmap(target, width, height);
    HGDIOBJ old = SelectObject(dc, canvas);
    const RECT all{0, 0, width, height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    draw(dc);
    BitBlt(target, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    SelectObject(dc, old);
    DeleteObject(canvas);
    DeleteDC(dc);
}
