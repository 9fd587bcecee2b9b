// The outline tracer against an independent reference: the polygon, filled with the winding
// rule at pixel centres, must cover exactly the 8-connected group of the first opaque pixel
// with its holes filled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "app/skin/outline_trace.h"

namespace {

struct Mask {
    int w, h;
    std::vector<uint8_t> px;
    Mask(int width, int height) : w(width), h(height), px(static_cast<size_t>(width) * height, 0) {}
    uint8_t& at(int x, int y) { return px[static_cast<size_t>(y) * w + x]; }
    uint8_t get(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
};

Mask FromRows(const std::vector<std::string>& rows) {
    Mask m(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x)
            m.at(x, y) = rows[y][x] == '#';
    return m;
}

// The group of the first opaque pixel (8-connected), holes filled: every pixel that cannot
// reach the outside through 4-connected pixels outside the group.
std::vector<uint8_t> Expected(const Mask& m) {
    std::vector<uint8_t> group(m.px.size(), 0);
    int start = -1;
    for (size_t i = 0; i < m.px.size(); ++i)
        if (m.px[i]) {
            start = static_cast<int>(i);
            break;
        }
    if (start < 0) return group;
    std::vector<int> stack{start};
    group[start] = 1;
    while (!stack.empty()) {
        const int i = stack.back();
        stack.pop_back();
        const int x = i % m.w, y = i / m.w;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = x + dx, ny = y + dy;
                if (nx < 0 || ny < 0 || nx >= m.w || ny >= m.h) continue;
                const int n = ny * m.w + nx;
                if (m.px[n] && !group[n]) {
                    group[n] = 1;
                    stack.push_back(n);
                }
            }
    }
    // Outside: flood from the border through non-group pixels, 4-connected.
    std::vector<uint8_t> outside(m.px.size(), 0);
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x)
            if ((x == 0 || y == 0 || x == m.w - 1 || y == m.h - 1) && !group[y * m.w + x]) {
                outside[y * m.w + x] = 1;
                stack.push_back(y * m.w + x);
            }
    while (!stack.empty()) {
        const int i = stack.back();
        stack.pop_back();
        const int x = i % m.w, y = i / m.w;
        const int nb[4][2] = {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}};
        for (const auto& p : nb) {
            if (p[0] < 0 || p[1] < 0 || p[0] >= m.w || p[1] >= m.h) continue;
            const int n = p[1] * m.w + p[0];
            if (!group[n] && !outside[n]) {
                outside[n] = 1;
                stack.push_back(n);
            }
        }
    }
    std::vector<uint8_t> covered(m.px.size());
    for (size_t i = 0; i < covered.size(); ++i)
        covered[i] = !outside[i];
    return covered;
}

// Fills the polygon with the winding rule at pixel centres (x + 0.5, y + 0.5). Checks on the
// way that every edge is horizontal or vertical, that corners are corners (no zero-length or
// straight-through vertices) and that the polygon stays within the mask.
::testing::AssertionResult Fill(const std::vector<OutlinePoint>& poly, int w, int h, std::vector<uint8_t>* out) {
    out->assign(static_cast<size_t>(w) * h, 0);
    if (poly.empty()) return ::testing::AssertionSuccess();
    std::vector<std::vector<std::pair<int, int>>> crossings(h);
    const size_t n = poly.size();
    for (size_t i = 0; i < n; ++i) {
        const OutlinePoint a = poly[i], b = poly[(i + 1) % n], c = poly[(i + 2) % n];
        if (a.x < 0 || a.y < 0 || a.x > w || a.y > h) return ::testing::AssertionFailure() << "vertex outside " << i;
        if (a == b) return ::testing::AssertionFailure() << "repeated vertex " << i;
        if (a.x != b.x && a.y != b.y) return ::testing::AssertionFailure() << "diagonal edge " << i;
        const bool straight = (a.x == b.x && b.x == c.x && (b.y - a.y > 0) == (c.y - b.y > 0)) ||
                              (a.y == b.y && b.y == c.y && (b.x - a.x > 0) == (c.x - b.x > 0));
        if (straight) return ::testing::AssertionFailure() << "vertex " << (i + 1) % n << " lies on a straight run";
        if (a.x == b.x) {
            const int dir = b.y > a.y ? 1 : -1;
            for (int y = std::min(a.y, b.y); y < std::max(a.y, b.y); ++y)
                crossings[y].push_back({a.x, dir});
        }
    }
    for (int y = 0; y < h; ++y) {
        auto& row = crossings[y];
        std::sort(row.begin(), row.end());
        int winding = 0;
        for (size_t k = 0; k < row.size(); ++k) {
            winding += row[k].second;
            if (winding != 0 && k + 1 < row.size())
                for (int x = row[k].first; x < row[k + 1].first; ++x)
                    (*out)[static_cast<size_t>(y) * w + x] = 1;
        }
        if (winding != 0) return ::testing::AssertionFailure() << "row " << y << " does not close";
    }
    return ::testing::AssertionSuccess();
}

void ExpectCovers(const Mask& m, const std::string& name) {
    const auto poly = TraceOutline(m.w, m.h, m.px);
    std::vector<uint8_t> filled;
    ASSERT_TRUE(Fill(poly, m.w, m.h, &filled)) << name;
    const auto expected = Expected(m);
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x)
            ASSERT_EQ(filled[y * m.w + x], expected[y * m.w + x]) << name << " at " << x << "," << y;
}

TEST(OutlineTrace, EmptyAndDegenerateMasksGiveNoOutline) {
    EXPECT_TRUE(TraceOutline(4, 3, std::vector<uint8_t>(12, 0)).empty());
    EXPECT_TRUE(TraceOutline(0, 5, std::vector<uint8_t>{}).empty());
    EXPECT_TRUE(TraceOutline(-3, 5, std::vector<uint8_t>(15, 1)).empty());
    EXPECT_TRUE(TraceOutline(4, 4, std::vector<uint8_t>(15, 1)).empty()) << "a mask shorter than its size";
}

TEST(OutlineTrace, SinglePixelAnywhereIsItsSquare) {
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {4, 0}, {0, 4}, {4, 4}, {2, 2}}) {
        Mask m(5, 5);
        m.at(x, y) = 1;
        const std::vector<OutlinePoint> square{{x, y}, {x + 1, y}, {x + 1, y + 1}, {x, y + 1}};
        EXPECT_EQ(TraceOutline(m.w, m.h, m.px), square) << x << "," << y;
    }
    EXPECT_EQ(TraceOutline(1, 1, std::vector<uint8_t>{1}), (std::vector<OutlinePoint>{{0, 0}, {1, 0}, {1, 1}, {0, 1}}));
}

TEST(OutlineTrace, FullMaskIsItsRectangle) {
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 7}, {7, 1}, {16, 28}, {300, 2}}) {
        const std::vector<OutlinePoint> rect{{0, 0}, {w, 0}, {w, h}, {0, h}};
        EXPECT_EQ(TraceOutline(w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h, 1)), rect) << w << "x" << h;
    }
}

TEST(OutlineTrace, ShapesCoverExactlyTheirFirstGroup) {
    const std::vector<std::pair<const char*, std::vector<std::string>>> shapes = {
        {"rounded corner", {"...####", ".######", ".######", "#######", "#######"}},
        {"diagonal chain", {"#....", ".#...", "..#..", "...#.", "....#"}},
        {"anti-diagonal", {"....#", "...#.", "..#..", ".#...", "#...."}},
        {"thin line and spur", {".....", "#####", "..#..", "..#..", "....."}},
        {"ring with a hole", {"#####", "#...#", "#.#.#", "#...#", "#####"}},
        {"two groups", {"##...", "##...", ".....", "...##", "...##"}},
        {"checkerboard", {"#.#.#", ".#.#.", "#.#.#", ".#.#."}},
        {"comb", {"#######", "#.#.#.#", "#.#.#.#", "#.#.#.#"}},
        {"start with a neighbour below-left", {"...#", "..#.", "###."}},
        {"pinched", {"##..", "##..", "..##", "..##"}},
    };
    for (const auto& [name, rows] : shapes)
        ExpectCovers(FromRows(rows), name);
}

TEST(OutlineTrace, RandomMasksMatchTheReference) {
    std::mt19937 rng(20261210);
    for (int round = 0; round < 400; ++round) {
        const int w = 1 + static_cast<int>(rng() % 24), h = 1 + static_cast<int>(rng() % 24);
        const unsigned density = 30 + rng() % 60;
        Mask m(w, h);
        for (auto& p : m.px)
            p = rng() % 100 < density;
        ExpectCovers(m, "round " + std::to_string(round) + " seed 20261210");
        if (HasFatalFailure()) return;
    }
}

// A 6001 x 200 comb: a spine along the top and 3,000 one-pixel teeth, an outline of 12,004
// corners (beyond any small fixed list); every tooth shows in the polygon.
TEST(OutlineTrace, VeryLargeOutlineIsTracedWhole) {
    Mask m(6001, 200);
    for (int x = 0; x < m.w; ++x)
        m.at(x, 0) = 1;
    for (int x = 0; x < m.w; x += 2)
        for (int y = 1; y < m.h; ++y)
            m.at(x, y) = 1;
    const auto poly = TraceOutline(m.w, m.h, m.px);
    EXPECT_EQ(poly.size(), 4u + 4u * 3000u);
    ExpectCovers(m, "comb");
}

}  // namespace
