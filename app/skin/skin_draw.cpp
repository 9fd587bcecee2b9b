#include "app/skin/skin_draw.h"

void DrawKeyedBitmap(HDC dc, HBITMAP image, int x, int y, int w, int h, int sx, int sy, COLORREF key) {
    if (!image || w <= 0 || h <= 0) return;
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ oldSource = SelectObject(source, image);
    // The mask: 1 where the picture shows the key colour.
    HDC maskDc = CreateCompatibleDC(dc);
    HBITMAP mask = CreateBitmap(w, h, 1, 1, nullptr);
    HGDIOBJ oldMask = SelectObject(maskDc, mask);
    SetBkColor(source, key);
    BitBlt(maskDc, 0, 0, w, h, source, sx, sy, SRCCOPY);
    // The picture with its key pixels blackened.
    HDC pictureDc = CreateCompatibleDC(dc);
    HBITMAP picture = CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ oldPicture = SelectObject(pictureDc, picture);
    BitBlt(pictureDc, 0, 0, w, h, source, sx, sy, SRCCOPY);
    SetBkColor(pictureDc, RGB(255, 255, 255));
    SetTextColor(pictureDc, RGB(0, 0, 0));
    BitBlt(pictureDc, 0, 0, w, h, maskDc, 0, 0, 0x220326);  // destination AND NOT mask
    const COLORREF oldBk = SetBkColor(dc, RGB(255, 255, 255));
    const COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));
    BitBlt(dc, x, y, w, h, maskDc, 0, 0, SRCAND);
    BitBlt(dc, x, y, w, h, pictureDc, 0, 0, SRCPAINT);
    SetBkColor(dc, oldBk);
    SetTextColor(dc, oldText);
    SelectObject(pictureDc, oldPicture);
    DeleteObject(picture);
    DeleteDC(pictureDc);
    SelectObject(maskDc, oldMask);
    DeleteObject(mask);
    DeleteDC(maskDc);
    SelectObject(source, oldSource);
    DeleteDC(source);
}

void DrawBitmapPart(HDC dc, HBITMAP image, int x, int y, int w, int h, int sx, int sy) {
    if (!image || w <= 0 || h <= 0) return;
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, image);
    BitBlt(dc, x, y, w, h, source, sx, sy, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
}
