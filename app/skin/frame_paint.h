// Painting and shaping shared by the skinned frame window and the skinned dialog frame: the
// non-client art (caption pieces and borders) and the window region they cut.
#pragma once

#include <windows.h>

#include <functional>

#include "framework/gdi.h"
#include "framework/wnd.h"

// The pieces of a skinned frame; any may be null (that part is not drawn).
struct FramePieces {
    HBITMAP caption;       // tiled along the caption
    HBITMAP captionLeft;   // top-left corner, in its own size
    HBITMAP captionRight;  // top-right corner, in its own size
    HBITMAP left, bottomLeft, bottom, bottomRight, right;
};

// Skinned caption layout, in pixels.
constexpr int kCaptionHeight = 25;
constexpr int kBorderSide = 5;
constexpr int kBorderBottom = 6;

// Paints the caption and borders of a W × H window on `dc` (window coordinates). Borders are
// one-pixel slices of their art stretched along the edge.
void PaintFramePieces(HDC dc, const FramePieces& pieces, int width, int height);

// The window region of a W × H skinned window: the body below the caption's first 24 rows,
// the caption strip between the corner pieces, and the corner regions at their places (the
// right one moved to W − rightWidth). A null corner region leaves that corner out. The caller
// owns the result.
HRGN BuildFrameRegion(int width, int height, int leftWidth, int rightWidth, HRGN leftCorner, HRGN rightCorner);

// The size of a bitmap (0, 0 for null).
SIZE BitmapSize(HBITMAP bitmap);

// Paints the non-client area of `window`: `draw` composes the whole window (window
// coordinates, width × height) off screen, and everything outside the client area is copied
// to the window in one blit.
void PaintNonClientArea(HWND window, const std::function<void(HDC dc, int width, int height)>& draw);

// The system caption font made bold, its height 9216 ÷ the screen's pixels per inch in tenths
// of a point (the same pixel size at every resolution).
bool CreateSkinCaptionFont(CFont* font);

// The maximised size and place of a skinned window from the work area: reaching past the
// edges the task bar does not hold, so the skinned borders fall off screen.
void ApplySkinnedMaxSize(MINMAXINFO* info, bool thickFrame);

// The non-client messages every skinned window answers alike: WM_NCCALCSIZE (the client area
// inside the caption and borders; the whole window while minimised), WM_NCACTIVATE (no system
// caption drawn over the art) and WM_NCHITTEST (the caption strip moves the window where the
// system finds nothing). True when `message` is one of them, its answer in `result`.
bool SkinnedNonClientMessage(CWnd* window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
