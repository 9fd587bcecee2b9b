// Skip and spatial direct motion against an oracle written from ITU-T H.264 clauses
// 6.4.12, 8.4.1.1, 8.4.1.2.2 and 8.4.1.3 in the standard's own terms (luma locations,
// luma4x4BlkIdx), over random neighbourhoods.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "filters/encoder/core/motion_vectors.h"
#include "filters/encoder/core/mb_syntax.h"

namespace ombrisk {
namespace {

// ---- Oracle -------------------------------------------------------------------------

struct OracleNeighbour {
    bool available;  // the partition exists (mbAddrN available)
    int refIdx;      // -1 for intra, an unused list or an unavailable partition
    int mvx, mvy;
};

struct OracleInputs {
    const MbRecord* a;  // mbAddrA (left), null when not available
    const MbRecord* b;  // mbAddrB (top)
    const MbRecord* c;  // mbAddrC (top right)
    const MbRecord* d;  // mbAddrD (top left)
};

// Clause 6.4.12 for a luma location (xN, yN) relative to the macroblock's top-left,
// for locations outside the current macroblock only (the 16x16 partition's neighbours).
OracleNeighbour LocationNeighbour(const OracleInputs& in, int xN, int yN, int list) {
    const MbRecord* mb;
    if (xN < 0 && yN < 0)
        mb = in.d;
    else if (xN < 0)
        mb = in.a;
    else if (yN < 0 && xN <= 15)
        mb = in.b;
    else
        mb = in.c;
    if (!mb) return {false, -1, 0, 0};
    const int xW = (xN + 16) % 16, yW = (yN + 16) % 16;
    const int raster = (yW / 4) * 4 + xW / 4;
    const bool intra = mb->kind == kMbIntra4x4 || mb->kind == kMbIntra16x16 || mb->kind == kMbIntraPcm;
    const MotionEntry& e = mb->motion[list][raster];
    if (intra || e.ref < 0) return {true, -1, 0, 0};
    return {true, e.ref, e.x, e.y};
}

int Median3(int a, int b, int c) {
    int v[3] = {a, b, c};
    std::sort(v, v + 3);
    return v[1];
}

// Clause 8.4.1.3 for the 16x16 partition.
void OracleMvp(const OracleInputs& in, int list, int refIdx, int* mvx, int* mvy) {
    OracleNeighbour a = LocationNeighbour(in, -1, 0, list);
    OracleNeighbour b = LocationNeighbour(in, 0, -1, list);
    OracleNeighbour c = LocationNeighbour(in, 16, -1, list);
    if (!c.available) c = LocationNeighbour(in, -1, -1, list);
    if (!b.available && !c.available && a.available) {
        b = a;
        c = a;
    }
    const bool ea = a.refIdx == refIdx, eb = b.refIdx == refIdx, ec = c.refIdx == refIdx;
    if (ea && !eb && !ec) {
        *mvx = a.mvx, *mvy = a.mvy;
    } else if (!ea && eb && !ec) {
        *mvx = b.mvx, *mvy = b.mvy;
    } else if (!ea && !eb && ec) {
        *mvx = c.mvx, *mvy = c.mvy;
    } else {
        *mvx = Median3(a.mvx, b.mvx, c.mvx);
        *mvy = Median3(a.mvy, b.mvy, c.mvy);
    }
}

// Clause 8.4.1.1.
void OracleSkip(const OracleInputs& in, int* mvx, int* mvy) {
    const OracleNeighbour a = LocationNeighbour(in, -1, 0, 0);
    const OracleNeighbour b = LocationNeighbour(in, 0, -1, 0);
    if (!in.a || !in.b || (a.refIdx == 0 && a.mvx == 0 && a.mvy == 0) || (b.refIdx == 0 && b.mvx == 0 && b.mvy == 0)) {
        *mvx = *mvy = 0;
        return;
    }
    OracleMvp(in, 0, 0, mvx, mvy);
}

int MinPositive(int x, int y) {
    return (x >= 0 && y >= 0) ? std::min(x, y) : std::max(x, y);
}

// Clause 8.4.1.2.2 with direct_8x8_inference_flag 1 (8.4.1.2.1: luma4x4BlkIdx = 5 *
// mbPartIdx) and a short-term RefPicList1[0] whose co-located macroblock is `col`.
struct OracleDirect {
    int refIdx[2];
    int mvx[2][4], mvy[2][4];
};
OracleDirect OracleSpatialDirect(const OracleInputs& in, const MbRecord& col) {
    OracleDirect r{};
    for (int list = 0; list < 2; ++list) {
        const OracleNeighbour a = LocationNeighbour(in, -1, 0, list);
        const OracleNeighbour b = LocationNeighbour(in, 0, -1, list);
        OracleNeighbour c = LocationNeighbour(in, 16, -1, list);
        if (!c.available) c = LocationNeighbour(in, -1, -1, list);
        r.refIdx[list] = MinPositive(a.refIdx, MinPositive(b.refIdx, c.refIdx));
    }
    const bool directZero = r.refIdx[0] < 0 && r.refIdx[1] < 0;
    if (directZero) r.refIdx[0] = r.refIdx[1] = 0;
    for (int part = 0; part < 4; ++part) {
        const int blk = 5 * part;
        // Inverse 4x4 luma block scanning (6.4.3): 8x8 index, then 4x4 within it.
        const int x = (blk / 4 % 2) * 8 + (blk % 4 % 2) * 4, y = (blk / 4 / 2) * 8 + (blk % 4 / 2) * 4;
        const int raster = (y / 4) * 4 + x / 4;
        const bool colIntra = col.kind == kMbIntra4x4 || col.kind == kMbIntra16x16 || col.kind == kMbIntraPcm;
        bool colZero = false;
        if (!colIntra) {
            const MotionEntry& l0 = col.motion[0][raster];
            const MotionEntry& l1 = col.motion[1][raster];
            const MotionEntry& m = l0.ref >= 0 ? l0 : l1;
            colZero = m.ref == 0 && m.x >= -1 && m.x <= 1 && m.y >= -1 && m.y <= 1;
        }
        for (int list = 0; list < 2; ++list) {
            int mvx = 0, mvy = 0;
            if (!directZero && r.refIdx[list] >= 0 && !(r.refIdx[list] == 0 && colZero))
                OracleMvp(in, list, r.refIdx[list], &mvx, &mvy);
            r.mvx[list][part] = mvx;
            r.mvy[list][part] = mvy;
        }
    }
    return r;
}

// ---- Random neighbourhoods ----------------------------------------------------------

void RandomRecord(std::mt19937& rng, MbRecord* r, bool bothLists) {
    const int kinds[] = {kMbIntra4x4, kMbIntra16x16, kMbPInter, kMbPInter, kMbBInter, kMbSkipped, kMbBDirect16x16};
    *r = MbRecord{};
    r->kind = kinds[rng() % 7];
    for (int list = 0; list < 2; ++list)
        for (int b = 0; b < 16; ++b) {
            MotionEntry& e = r->motion[list][b];
            if (r->kind == kMbIntra4x4 || r->kind == kMbIntra16x16) continue;
            e.ref = static_cast<int8_t>(int(rng() % 4) - 1);
            if (list == 1 && !bothLists) e.ref = -1;
            // Small vectors often, so that zero and the co-located +-1 rule are met.
            const int span = rng() % 2 ? 3 : 40;
            e.x = static_cast<int16_t>(int(rng() % (2 * span + 1)) - span);
            e.y = static_cast<int16_t>(int(rng() % (2 * span + 1)) - span);
            if (e.ref < 0 && rng() % 2) e.x = e.y = 0;
        }
}

TEST(MotionVectors, SkipAndSpatialDirectEqualTheOracle) {
    std::mt19937 rng(22);
    MbRecord records[5];
    int nonzeroSkip = 0, colZeroSeen = 0, directZeroSeen = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        for (MbRecord& r : records)
            RandomRecord(rng, &r, true);
        RandomRecord(rng, &records[4], rng() % 2 != 0);
        OracleInputs in{};
        MotionNeighbourhood n;
        const MbRecord** slots[4] = {&in.a, &in.b, &in.c, &in.d};
        const MbRecord** mine[4] = {&n.left, &n.top, &n.topRight, &n.topLeft};
        for (int i = 0; i < 4; ++i) {
            const bool available = rng() % 5 != 0;
            *slots[i] = *mine[i] = available ? &records[i] : nullptr;
        }
        int ox, oy;
        OracleSkip(in, &ox, &oy);
        const MotionVector skip = PredictSkipVector(n);
        ASSERT_EQ(skip.x, ox) << "trial " << trial;
        ASSERT_EQ(skip.y, oy) << "trial " << trial;
        nonzeroSkip += (ox || oy);

        const OracleDirect want = OracleSpatialDirect(in, records[4]);
        const DirectMotion got = PredictSpatialDirect(n, Colocated{&records[4], true});
        for (int list = 0; list < 2; ++list) {
            ASSERT_EQ(got.ref[list], want.refIdx[list]) << "trial " << trial << " list " << list;
            if (got.ref[list] < 0) continue;
            for (int q = 0; q < 4; ++q) {
                ASSERT_EQ(got.mv[list][q].x, want.mvx[list][q]) << "trial " << trial << " list " << list << " q " << q;
                ASSERT_EQ(got.mv[list][q].y, want.mvy[list][q]) << "trial " << trial << " list " << list << " q " << q;
            }
        }
        directZeroSeen += got.ref[0] == 0 && got.ref[1] == 0;
        for (int q = 0; q < 4; ++q)
            colZeroSeen += want.refIdx[0] == 0 && want.mvx[0][q] == 0 && want.mvy[0][q] == 0;
    }
    // The random neighbourhoods reach every branch often.
    EXPECT_GT(nonzeroSkip, 2000);
    EXPECT_GT(colZeroSeen, 2000);
    EXPECT_GT(directZeroSeen, 500);
}

// A long-term (or otherwise not short-term) co-located picture never zeroes a vector.
TEST(MotionVectors, ColocatedZeroNeedsAShortTermReferenceAndIndexZero) {
    MbRecord left{}, top{}, col{};
    left.kind = top.kind = kMbPInter;
    col.kind = kMbPInter;
    for (int b = 0; b < 16; ++b) {
        left.motion[0][b] = MotionEntry{8, -4, 0};
        top.motion[0][b] = MotionEntry{8, -4, 0};
        col.motion[0][b] = MotionEntry{1, -1, 0};
    }
    MotionNeighbourhood n;
    n.left = &left;
    n.top = &top;
    EXPECT_EQ(PredictSpatialDirect(n, Colocated{&col, true}).mv[0][0], (MotionVector{0, 0}));
    EXPECT_EQ(PredictSpatialDirect(n, Colocated{&col, false}).mv[0][0], (MotionVector{8, -4}));
    for (int b = 0; b < 16; ++b)
        col.motion[0][b].ref = 1;  // the co-located block's own reference is not index 0
    EXPECT_EQ(PredictSpatialDirect(n, Colocated{&col, true}).mv[0][0], (MotionVector{8, -4}));
}

}  // namespace
}  // namespace ombrisk
