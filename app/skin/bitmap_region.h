// Window regions from art: the opaque outline of a bitmap, and the row spans of a picture.
#pragma once

#include <windows.h>

#include <vector>

// The region of the outline of the pixels of `bitmap` whose colour is not `key` (the
// 8-connected group of the first such pixel in reading order, holes filled); null when every
// pixel is the key, the bitmap is null or larger than kMaxRegionPixels, or its pixels cannot
// be read. The caller owns the region.
HRGN BitmapToRegion(HBITMAP bitmap, COLORREF key);

// Bitmaps with more pixels than this give no region (16 M pixels, 64 MB read at once).
constexpr long long kMaxRegionPixels = 16LL * 1024 * 1024;

// The 32-bit pixels of `bitmap`, top row first, as 0x00RRGGBB; false when it cannot be read.
bool ReadBitmapPixels(HBITMAP bitmap, int* width, int* height, std::vector<DWORD>* pixels);
