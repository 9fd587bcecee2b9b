// Motion vector prediction (clause 8.4.1.3 and 8.4.1.1) on hand-made neighbourhoods, and
// the co-located zero test of direct prediction.
#include <gtest/gtest.h>

#include <cstring>

#include "filters/decoder/core/macroblock.h"
#include "filters/decoder/core/picture_store.h"
#include "filters/decoder/core/slice_decoding.h"

namespace avcdec {
namespace {

// A macroblock record whose every 4x4 block holds one list-0 vector and index (-1: intra).
MacroblockInfo Uniform(int mvx, int mvy, int ref) {
    MacroblockInfo m;
    std::memset(&m, 0, sizeof m);
    for (int q = 0; q < 4; ++q) {
        m.refIdx[0][q] = static_cast<int8_t>(ref);
        m.refIdx[1][q] = -1;
    }
    for (int b = 0; b < 16; ++b) {
        m.mv[0][b][0] = static_cast<int16_t>(mvx);
        m.mv[0][b][1] = static_cast<int16_t>(mvy);
    }
    return m;
}

struct Neighbourhood {
    MacroblockInfo a, b, c, d, cur;
    MacroblockWork w;
    Neighbourhood() {
        std::memset(&w, 0, sizeof w);
        cur = Uniform(0, 0, 0);
        w.cur = &cur;
    }
};

TEST(MotionVectorPrediction, PartitionRules) {
    struct Case {
        const char* name;
        bool haveA, haveB, haveC, haveD;
        int refA, refB, refC, refD;
        int x4, y4, w4, h4, ref;
        uint32_t decoded;
        int wantX, wantY;
    };
    // Neighbour vectors: A (1, 10), B (2, 20), C (3, 30), D (4, 40).
    const Case cases[] = {
        {"median of three", true, true, true, true, 0, 0, 0, 0, 0, 0, 4, 4, 0, 0, 2, 20},
        {"single match takes that neighbour", true, true, true, true, 1, 0, 1, 1, 0, 0, 4, 4, 0, 0, 2, 20},
        {"C unavailable: D replaces it", true, true, false, true, 1, 1, 0, 0, 0, 0, 4, 4, 0, 0, 4, 40},
        {"B and C unavailable: A everywhere", true, false, false, false, 0, 0, 0, 0, 0, 0, 4, 4, 0, 0, 1, 10},
        {"nothing available: zero", false, false, false, false, 0, 0, 0, 0, 0, 0, 4, 4, 0, 0, 0, 0},
        {"16x8 upper takes B on a match", true, true, true, true, 0, 0, 1, 1, 0, 0, 4, 2, 0, 0, 2, 20},
        // The lower 16x8 partition's C lies right of the macroblock (unavailable), D is A's
        // row above; A matches, so A wins even though the median of A, B and D differs.
        {"16x8 lower takes A on a match", true, true, true, true, 0, 0, 0, 0, 0, 2, 4, 2, 0, 0xFF, 1, 10},
        {"8x16 left takes A on a match", true, true, true, true, 0, 1, 1, 1, 0, 0, 2, 4, 0, 0, 1, 10},
        {"8x16 right takes C on a match", true, true, true, true, 1, 1, 0, 1, 2, 0, 2, 4, 0, 0x33, 3, 30},
        {"8x16 right without a match: median", true, true, true, true, 1, 1, 1, 1, 2, 0, 2, 4, 2, 0x33, 2, 20},
        {"16x8 upper without a match: median", true, true, true, true, 1, 1, 1, 1, 0, 0, 4, 2, 0, 0, 2, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Neighbourhood n;
        n.a = Uniform(1, 10, c.refA);
        n.b = Uniform(2, 20, c.refB);
        n.c = Uniform(3, 30, c.refC);
        n.d = Uniform(4, 40, c.refD);
        n.w.mbA = c.haveA ? &n.a : nullptr;
        n.w.mbB = c.haveB ? &n.b : nullptr;
        n.w.mbC = c.haveC ? &n.c : nullptr;
        n.w.mbD = c.haveD ? &n.d : nullptr;
        // Decoded blocks of the current macroblock carry (0, 0) with index 0.
        int x = -99, y = -99;
        PredictPartitionMv(&n.w, 0, c.x4, c.y4, c.w4, c.h4, c.ref, c.decoded, &x, &y);
        EXPECT_EQ(x, c.wantX);
        EXPECT_EQ(y, c.wantY);
    }
}

TEST(MotionVectorPrediction, PSkip) {
    struct Case {
        const char* name;
        bool haveA, haveB;
        int mvA, refA, mvB, refB;
        int want;  // both components
    };
    const Case cases[] = {
        {"top row of a slice: zero", true, false, 5, 0, 0, 0, 0},
        {"left edge: zero", false, true, 0, 0, 5, 0, 0},
        {"A zero with index 0: zero", true, true, 0, 0, 7, 0, 0},
        {"B zero with index 0: zero", true, true, 7, 0, 0, 0, 0},
        {"A zero but index 1: median", true, true, 0, 1, 7, 0, 7},
        {"intra neighbours: C alone matches", true, true, 0, -1, 0, -1, 9},
        {"moving neighbours: median", true, true, 6, 0, 8, 0, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Neighbourhood n;
        n.a = Uniform(c.mvA, c.mvA, c.refA);
        n.b = Uniform(c.mvB, c.mvB, c.refB);
        n.c = Uniform(9, 9, 0);
        n.w.mbA = c.haveA ? &n.a : nullptr;
        n.w.mbB = c.haveB ? &n.b : nullptr;
        n.w.mbC = &n.c;
        int x = -99, y = -99;
        DerivePSkipMv(&n.w, &x, &y);
        EXPECT_EQ(x, c.want);
        EXPECT_EQ(y, c.want);
    }
}

TEST(MotionVectorPrediction, ColocatedZeroNeedsAShortTermPicture) {
    PictureRecord pic{};
    MacroblockInfo col = Uniform(1, -1, 0);
    pic.flags = kPicTopRef | kPicBottomRef;
    EXPECT_TRUE(ColocatedZero(&pic, &col, 5));
    pic.flags |= kPicLongTermMask;
    EXPECT_FALSE(ColocatedZero(&pic, &col, 5));
    pic.flags &= ~kPicLongTermMask;
    col.mv[0][5][0] = 2;  // outside -1..1
    EXPECT_FALSE(ColocatedZero(&pic, &col, 5));
    EXPECT_TRUE(ColocatedZero(&pic, &col, 4));
    MacroblockInfo other = Uniform(0, 0, 1);  // index 1, not 0
    EXPECT_FALSE(ColocatedZero(&pic, &other, 0));
    // List 0 unused: list 1's motion decides.
    MacroblockInfo l1 = Uniform(0, 0, -1);
    for (int q = 0; q < 4; ++q)
        l1.refIdx[1][q] = 0;
    EXPECT_TRUE(ColocatedZero(&pic, &l1, 0));
    l1.flags |= kMbIntra;
    EXPECT_FALSE(ColocatedZero(&pic, &l1, 0));
}

}  // namespace
}  // namespace avcdec
