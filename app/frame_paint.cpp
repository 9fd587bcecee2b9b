#include "app/frame_paint.h"

#include <algorithm>

namespace {

// Copies the top-left w × h slice of `b` stretched over dw × dh at (x, y).
void Blit(HDC dc, HBITMAP b, int x, int y, int w, int h, int dw, int dh) {
    if (!b || w <= 0 || h <= 0 || dw <= 0 || dh <= 0) return;
    HDC src = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(src, b);
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, x, y, dw, dh, src, 0, 0, w, h, SRCCOPY);
    SelectObject(src, old);
    DeleteDC(src);
}

}  // namespace

SIZE BitmapSize(HBITMAP bitmap) {
    BITMAP info{};
    if (!bitmap || GetObjectA(bitmap, sizeof info, &info) != sizeof info) return SIZE{0, 0};
    return SIZE{info.bmWidth, info.bmHeight};
}

void PaintFramePieces(HDC dc, const FramePieces& p, int W, int H) {
    const SIZE l = BitmapSize(p.left), b = BitmapSize(p.bottom), r = BitmapSize(p.right);
    const SIZE bl = BitmapSize(p.bottomLeft), br = BitmapSize(p.bottomRight);
    const int sideRows = H - kBorderBottom - kCaptionHeight;
    Blit(dc, p.left, 0, kCaptionHeight, std::min<int>(kBorderSide, l.cx), 1, kBorderSide, sideRows);
    Blit(dc, p.bottomLeft, 0, std::max(kCaptionHeight, H - kBorderBottom), std::min<int>(kBorderSide, bl.cx),
         std::min<int>(kBorderBottom, bl.cy), kBorderSide, kBorderBottom);
    Blit(dc, p.bottom, kBorderSide, H - kBorderBottom, 1, std::min<int>(kBorderBottom, b.cy), W - 2 * kBorderSide,
         kBorderBottom);
    Blit(dc, p.bottomRight, std::max(kBorderSide, W - kBorderSide), H - kBorderBottom,
         std::min<int>(kBorderSide, br.cx), std::min<int>(kBorderBottom, br.cy), kBorderSide, kBorderBottom);
    Blit(dc, p.right, W - kBorderSide, kCaptionHeight, std::min<int>(kBorderSide, r.cx), 1, kBorderSide, sideRows);
    const SIZE ul = BitmapSize(p.captionLeft), ur = BitmapSize(p.captionRight), cap = BitmapSize(p.caption);
    Blit(dc, p.captionLeft, 0, 0, ul.cx, ul.cy, ul.cx, ul.cy);
    if (cap.cx > 0)
        for (int x = ul.cx; x < W - ur.cx; x += cap.cx)
            Blit(dc, p.caption, x, 0, cap.cx, cap.cy, cap.cx, cap.cy);
    Blit(dc, p.captionRight, W - ur.cx, 0, ur.cx, ur.cy, ur.cx, ur.cy);
}

HRGN BuildFrameRegion(int W, int H, int leftWidth, int rightWidth, HRGN leftCorner, HRGN rightCorner) {
    HRGN region = CreateRectRgn(0, kCaptionHeight - 1, W, H);
    HRGN strip = CreateRectRgn(leftWidth, 0, W - rightWidth, kCaptionHeight - 1);
    CombineRgn(region, region, strip, RGN_OR);
    DeleteObject(strip);
    if (leftCorner) CombineRgn(region, region, leftCorner, RGN_OR);
    if (rightCorner) {
        HRGN moved = CreateRectRgn(0, 0, 0, 0);
        CombineRgn(moved, rightCorner, nullptr, RGN_COPY);
        OffsetRgn(moved, W - rightWidth, 0);
        CombineRgn(region, region, moved, RGN_OR);
        DeleteObject(moved);
    }
    return region;
}
