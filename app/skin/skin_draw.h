// Drawing helpers shared by the skinned controls.
#pragma once

#include <windows.h>

#include <functional>

// Draws `w` x `h` of `image` from (sx, sy) at (x, y) of `dc`, leaving the pixels of the key
// colour out: a one-bit mask of the key clears the destination where the picture shows,
// the picture's key pixels are blackened, and the two are combined.
void DrawKeyedBitmap(HDC dc, HBITMAP image, int x, int y, int w, int h, int sx, int sy, COLORREF key);
// Plain copy of `w` x `h` of `image` from (sx, sy) to (x, y).
void DrawBitmapPart(HDC dc, HBITMAP image, int x, int y, int w, int h, int sx, int sy);
// Composes `width` x `height` pixels off screen (cleared to black) with `draw` and copies
// them to (0, 0) of `target` in one step.
void PaintOffScreen(HDC target, int width, int height, const std::function<void(HDC)>& draw);
