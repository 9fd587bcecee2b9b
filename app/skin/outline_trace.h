// The outer outline of the opaque pixels of a mask, as a polygon along pixel edges.
//
// The polygon's vertices are pixel corners: pixel (x, y) spans (x, y)-(x + 1, y + 1). A
// window region made from it with the winding fill holds exactly the traced figure: the
// 8-connected group of opaque pixels that contains the first opaque pixel in reading order
// (rows from the top, each from the left), with any holes in it filled. Platform-free.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

struct OutlinePoint {
    int x;
    int y;
    bool operator==(const OutlinePoint&) const = default;
};

// `opaque(x, y)` is asked only for 0 <= x < width, 0 <= y < height. Returns the corners
// where the outline turns, clockwise on screen, starting at the top-left corner of the first
// opaque pixel; empty when no pixel is opaque or the size is not positive. The walk is
// bounded by the number of pixel edges (4 per pixel), so it ends on every mask.
std::vector<OutlinePoint> TraceOutline(int width, int height, const std::function<bool(int, int)>& opaque);

// The same over a row-major mask of `width` × `height` bytes, non-zero meaning opaque.
std::vector<OutlinePoint> TraceOutline(int width, int height, const std::vector<uint8_t>& mask);
