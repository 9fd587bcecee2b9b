#include "app/skin/frame_paint.h"

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

void PaintNonClientArea(HWND window, const std::function<void(HDC dc, int width, int height)>& draw) {
    RECT wr, cr;
    GetWindowRect(window, &wr);
    GetClientRect(window, &cr);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&cr), 2);
    OffsetRect(&cr, -wr.left, -wr.top);
    const int W = wr.right - wr.left, H = wr.bottom - wr.top;
    HDC dc = GetWindowDC(window);
    HRGN clip = CreateRectRgn(0, 0, W, H);
    HRGN client = CreateRectRgnIndirect(&cr);
    CombineRgn(clip, clip, client, RGN_DIFF);
    SelectClipRgn(dc, clip);
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, std::max(W, 1), std::max(H, 1));
    HGDIOBJ old = SelectObject(mem, bitmap);
    draw(mem, W, H);
    BitBlt(dc, 0, 0, W, H, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteObject(bitmap);
    DeleteDC(mem);
    SelectClipRgn(dc, nullptr);
    DeleteObject(clip);
    DeleteObject(client);
    ReleaseDC(window, dc);
}

bool CreateSkinCaptionFont(CFont* font) {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTA lf = metrics.lfCaptionFont;
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    lf.lfHeight = 9216 / (dpi > 0 ? dpi : 96);
    lf.lfWeight = FW_BOLD;
    return font->CreatePointFontIndirect(&lf);
}

void ApplySkinnedMaxSize(MINMAXINFO* info, bool thickFrame) {
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    const int ww = work.right - work.left, wh = work.bottom - work.top;
    if (work.left == 0 && work.top == 0 && work.right == sw && work.bottom == sh) {
        info->ptMaxSize.y = thickFrame ? work.bottom + 3 : work.bottom - 1;
    } else if (work.left != 0) {  // task bar on the left
        info->ptMaxSize.x = ww + 8;
        info->ptMaxPosition.x = work.left - 4;
    } else if (work.top != 0) {  // at the top
        info->ptMaxPosition.y = work.top - 4;
        info->ptMaxSize.y = wh + 8;
    } else if (work.right != sw) {  // on the right
        info->ptMaxSize.x = ww + 8;
    } else {  // at the bottom
        info->ptMaxSize.y = wh + 8;
    }
}

bool SkinnedNonClientMessage(CWnd* window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    LRESULT answer = 0;
    switch (message) {
        case WM_NCCALCSIZE: {
            RECT* r = wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : reinterpret_cast<RECT*>(lParam);
            if (!(window->GetStyle() & WS_MINIMIZE)) {
                r->left += kBorderSide;
                r->top += kCaptionHeight;
                r->right = std::max(r->left, r->right - kBorderSide);
                r->bottom = std::max(r->top, r->bottom - kBorderBottom);
            }
            break;
        }
        case WM_NCACTIVATE:
            answer = TRUE;
            break;
        case WM_NCHITTEST: {
            answer = window->DefWindowProc(message, wParam, lParam);
            RECT wr{};
            ::GetWindowRect(window->m_hWnd, &wr);
            if (answer == HTNOWHERE && CPoint(lParam).y < wr.top + kCaptionHeight) answer = HTCAPTION;
            break;
        }
        default:
            return false;
    }
    if (result) *result = answer;
    return true;
}
