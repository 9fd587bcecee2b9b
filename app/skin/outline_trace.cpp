#include "app/skin/outline_trace.h"

namespace {

// Headings along pixel edges: east, south, west, north (clockwise on screen, y down).
constexpr int kDx[4] = {1, 0, -1, 0};
constexpr int kDy[4] = {0, 1, 0, -1};

}  // namespace

std::vector<OutlinePoint> TraceOutline(int width, int height, const std::function<bool(int, int)>& opaque) {
    std::vector<OutlinePoint> outline;
    if (width <= 0 || height <= 0) return outline;
    auto at = [&](int x, int y) { return x >= 0 && y >= 0 && x < width && y < height && opaque(x, y); };

    int sx = -1, sy = -1;
    for (int y = 0; y < height && sx < 0; ++y)
        for (int x = 0; x < width; ++x)
            if (opaque(x, y)) {
                sx = x;
                sy = y;
                break;
            }
    if (sx < 0) return outline;

    // Crack following with the figure on the right-hand side. Heading east from the start
    // pixel's top-left corner, the pixel above is clear (nothing opaque lies above the first
    // row holding opaque pixels, nor left of the start in its row). At each corner the two
    // pixels ahead decide: the left one opaque turns left (an 8-connected neighbour, reached
    // diagonally or straight), else the right one opaque goes straight on, else turn right.
    // Every boundary edge has one successor and one predecessor, so the walk comes back to its
    // first edge; the edge count bounds it all the same.
    const int64_t maxEdges = 4 * static_cast<int64_t>(width) * height + 4;
    int x = sx, y = sy, heading = 0;
    outline.push_back({x, y});
    for (int64_t step = 0; step < maxEdges; ++step) {
        x += kDx[heading];
        y += kDy[heading];
        // Pixels ahead of corner (x, y) for each heading: left and right of the next edge.
        int lx, ly, rx, ry;
        switch (heading) {
            case 0:
                lx = x, ly = y - 1, rx = x, ry = y;
                break;
            case 1:
                lx = x, ly = y, rx = x - 1, ry = y;
                break;
            case 2:
                lx = x - 1, ly = y, rx = x - 1, ry = y - 1;
                break;
            default:
                lx = x - 1, ly = y - 1, rx = x, ry = y - 1;
                break;
        }
        int next;
        if (at(lx, ly))
            next = (heading + 3) % 4;
        else if (at(rx, ry))
            next = heading;
        else
            next = (heading + 1) % 4;
        if (x == sx && y == sy && next == 0) break;
        if (next != heading) outline.push_back({x, y});
        heading = next;
    }
    return outline;
}

std::vector<OutlinePoint> TraceOutline(int width, int height, const std::vector<uint8_t>& mask) {
    if (width <= 0 || height <= 0 || mask.size() < static_cast<size_t>(width) * static_cast<size_t>(height)) return {};
    return TraceOutline(width, height, [&](int x, int y) { return mask[static_cast<size_t>(y) * width + x] != 0; });
}
