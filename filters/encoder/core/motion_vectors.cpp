#include "filters/encoder/core/motion_vectors.h"

#include <algorithm>
#include <cstdlib>

#include "filters/encoder/core/mb_syntax.h"

namespace ombrisk {

bool IsIntraKind(int32_t kind) {
    return kind == kMbIntra4x4 || kind == kMbIntra16x16 || kind == kMbIntraPcm;
}

namespace {

NeighbourMotion FromRecord(const MbRecord* r, int list, int block) {
    NeighbourMotion m;
    if (!r) return m;
    m.available = true;
    if (IsIntraKind(r->kind)) return m;
    const MotionEntry& e = r->motion[list][block];
    if (e.ref < 0) return m;
    m.ref = e.ref;
    m.mv = {e.x, e.y};
    return m;
}

int Median(int a, int b, int c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

}  // namespace

NeighbourMotion NeighbourAt(const MotionNeighbourhood& n, const PartialMotion& cur, int list, int bx, int by) {
    if (by < 0) {
        if (bx < 0) return FromRecord(n.topLeft, list, 15);
        if (bx < 4) return FromRecord(n.top, list, 12 + bx);
        return FromRecord(n.topRight, list, 12);
    }
    if (bx < 0) return FromRecord(n.left, list, 4 * by + 3);
    if (bx >= 4) return {};  // the macroblock to the right is not yet coded
    const int b = 4 * by + bx;
    if (!((cur.decoded >> b) & 1)) return {};
    NeighbourMotion m;
    m.available = true;
    const MotionEntry& e = cur.entries[b];
    if (e.ref >= 0) m.ref = e.ref, m.mv = {e.x, e.y};
    return m;
}

MotionVector PredictMotionVector(const MotionNeighbourhood& n, const PartialMotion& cur, int list, int ref, int bx,
                                 int by, int w, PredShape shape) {
    NeighbourMotion a = NeighbourAt(n, cur, list, bx - 1, by);
    NeighbourMotion b = NeighbourAt(n, cur, list, bx, by - 1);
    NeighbourMotion c = NeighbourAt(n, cur, list, bx + w, by - 1);
    if (!c.available) c = NeighbourAt(n, cur, list, bx - 1, by - 1);
    if (shape == PredShape::k16x8) {
        if (by == 0 && b.ref == ref) return b.mv;
        if (by != 0 && a.ref == ref) return a.mv;
    } else if (shape == PredShape::k8x16) {
        if (bx == 0 && a.ref == ref) return a.mv;
        if (bx != 0 && c.ref == ref) return c.mv;
    }
    if (!b.available && !c.available && a.available) b = c = a;
    const int matches = (a.ref == ref) + (b.ref == ref) + (c.ref == ref);
    if (matches == 1) return a.ref == ref ? a.mv : b.ref == ref ? b.mv : c.mv;
    return {Median(a.mv.x, b.mv.x, c.mv.x), Median(a.mv.y, b.mv.y, c.mv.y)};
}

MotionVector PredictSkipVector(const MotionNeighbourhood& n) {
    if (!n.left || !n.top) return {};
    const PartialMotion none;
    const NeighbourMotion a = NeighbourAt(n, none, 0, -1, 0);
    const NeighbourMotion b = NeighbourAt(n, none, 0, 0, -1);
    if ((a.ref == 0 && a.mv == MotionVector{}) || (b.ref == 0 && b.mv == MotionVector{})) return {};
    return PredictMotionVector(n, none, 0, 0, 0, 0, 4);
}

DirectMotion PredictSpatialDirect(const MotionNeighbourhood& n, const Colocated& col) {
    const PartialMotion none;
    DirectMotion d;
    const auto minPositive = [](int x, int y) { return (x >= 0 && y >= 0) ? std::min(x, y) : std::max(x, y); };
    for (int list = 0; list < 2; ++list) {
        const NeighbourMotion a = NeighbourAt(n, none, list, -1, 0);
        const NeighbourMotion b = NeighbourAt(n, none, list, 0, -1);
        NeighbourMotion c = NeighbourAt(n, none, list, 4, -1);
        if (!c.available) c = NeighbourAt(n, none, list, -1, -1);
        d.ref[list] = minPositive(a.ref, minPositive(b.ref, c.ref));
    }
    if (d.ref[0] < 0 && d.ref[1] < 0) {
        d.ref[0] = d.ref[1] = 0;
        return d;  // every vector zero
    }
    static constexpr int kCorner[4] = {0, 3, 12, 15};
    for (int list = 0; list < 2; ++list) {
        if (d.ref[list] < 0) continue;
        const MotionVector mvp = PredictMotionVector(n, none, list, d.ref[list], 0, 0, 4);
        for (int q = 0; q < 4; ++q) {
            bool colZero = false;
            if (d.ref[list] == 0 && col.record && col.shortTerm && !IsIntraKind(col.record->kind)) {
                const int blk = kCorner[q];
                const MotionEntry& l0 = col.record->motion[0][blk];
                const MotionEntry& e = l0.ref >= 0 ? l0 : col.record->motion[1][blk];
                colZero = e.ref == 0 && std::abs(e.x) <= 1 && std::abs(e.y) <= 1;
            }
            d.mv[list][q] = colZero ? MotionVector{} : mvp;
        }
    }
    return d;
}

}  // namespace ombrisk
