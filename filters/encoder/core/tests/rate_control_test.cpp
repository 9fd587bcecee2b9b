// Rate control: QPs from the quality word, refusals and 64-bit bases, the table of QP
// ranges, each mode's picture and macroblock QPs, and hostile rates (below 2 frames/s,
// black pictures that spend nothing).
#include "filters/encoder/core/rate_control.h"

#include <algorithm>
#include <initializer_list>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/mb_syntax.h"

namespace ombrisk {
namespace {

EncoderBlock MakeBlock(std::initializer_list<std::pair<int, int32_t>> words, int width = 176, int height = 144) {
    EncoderBlock block;
    int32_t params[kParamWords];
    DefaultParameterWords(params);
    params[kParCabac] = 0;
    for (const auto& [word, value] : words)
        params[word] = value;
    EXPECT_EQ(StoreParameterRecord(&block, params, 1), kCoreOk);
    EXPECT_EQ(StorePictureRecord(&block, width, height, width, height, 1), kCoreOk);
    return block;
}

RatePicture Picture(int32_t type, bool periodStart = false, int32_t verdict = 0) {
    RatePicture p;
    p.sliceType = type;
    p.periodStart = periodStart;
    p.verdict = verdict;
    return p;
}

// Codes one picture through the controller as the picture encoder does: every
// macroblock's source luma is `flat` (activity 0) or a checkerboard of 0/255 (the most
// activity), and takes `bits`. Returns the QPs the macroblocks got, lowest and highest.
struct QpRange {
    int slice = 0, low = 99, high = -1;
};
QpRange CodePicture(CRateControl* rc, const EncoderBlock& block, int slices, bool busy, uint32_t bits) {
    CMbContext mb(block);
    for (int i = 0; i < 256; ++i)
        mb.srcLuma[i] = busy ? uint8_t(((i + i / 16) & 1) * 255) : 0;
    rc->CopyToSlices(slices);
    QpRange r;
    for (int s = 0; s < slices; ++s) {
        r.slice = rc->StartSlice(s);
        for (int m = 0; m < block.macroblocks.count / slices; ++m) {
            const int qp = rc->MacroblockQp(s, mb);
            r.low = std::min(r.low, qp);
            r.high = std::max(r.high, qp);
            rc->MacroblockCoded(s, mb, bits);
        }
    }
    rc->EndPicture(int64_t(bits) * block.macroblocks.count + 200);
    return r;
}

TEST(RateControl, QualityGivesTheQpsAndConstantModeUsesThem) {
    struct Case {
        int32_t quality, i, p, b;
    } cases[] = {{15, 4, 5, 6}, {10, 20, 21, 22}, {8, 26, 27, 28}, {0, 51, 51, 51}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.quality);
        EncoderBlock b = MakeBlock({{kParRateMode, 0}, {kParQuality, c.quality}, {kParQpI, 33}});
        CRateControl rc(&b);
        ASSERT_EQ(rc.status(), kCoreOk);
        // Written back into the block, whatever the words held.
        EXPECT_EQ(b.param(kParQpI), c.i);
        EXPECT_EQ(b.param(kParQpP), c.p);
        EXPECT_EQ(b.param(kParQpB), c.b);
        EXPECT_EQ(rc.StartPicture(Picture(kSliceI, true)), c.i);
        EXPECT_EQ(rc.StartPicture(Picture(kSliceP)), c.p);
        // Every macroblock and slice of a constant picture takes the picture's QP.
        const QpRange r = CodePicture(&rc, b, 2, true, 100);
        EXPECT_EQ(r.slice, c.p);
        EXPECT_EQ(r.low, c.p);
        EXPECT_EQ(r.high, c.p);
        EXPECT_EQ(rc.StartPicture(Picture(kSliceB)), c.b);
    }
}

TEST(RateControl, RefusalsAndBases) {
    struct Case {
        const char* name;
        std::initializer_list<std::pair<int, int32_t>> words;
        int status;
    } cases[] = {
        {"mode 4", {{kParRateMode, 4}}, kCoreUnsupported},
        {"rate 0", {{kParRateMode, 2}, {kParAvgBitRate, 0}}, kCoreBadArgument},
        {"negative rate", {{kParRateMode, 3}, {kParAvgBitRate, -5}}, kCoreBadArgument},
        {"maximum 0", {{kParRateMode, 2}, {kParMaxBitRate, 0}}, kCoreBadArgument},
        {"frame rate 0", {{kParRateMode, 2}, {kParFrameRate100, 0}}, kCoreBadArgument},
        {"0.5 fps", {{kParRateMode, 3}, {kParFrameRate100, 50}, {kParAvgBitRate, 1000000}}, kCoreOk},
        {"unset rate at 1080p60", {{kParRateMode, 2}, {kParFrameRate100, 6000}}, kCoreOk},
        {"rate 0 in constant QP is not read", {{kParRateMode, 0}, {kParAvgBitRate, 0}}, kCoreOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EncoderBlock b = MakeBlock(c.words, 1920, 1080);
        EXPECT_EQ(CRateControl(&b).status(), c.status);
    }
    // An unset rate follows the picture size and frame rate: 1920x1088 x 60 / 8 bits/s,
    // beyond 32 bits before the division.
    EncoderBlock hd = MakeBlock({{kParRateMode, 2}, {kParFrameRate100, 6000}}, 1920, 1080);
    EXPECT_EQ(CRateControl(&hd).targetBitRate(), int64_t(1920) * 1088 * 6000 / 800);
    // A picture too small to make one bit per second at 0.01 frames/s has no target.
    EncoderBlock tiny = MakeBlock({{kParRateMode, 3}, {kParFrameRate100, 1}}, 16, 16);
    EXPECT_EQ(CRateControl(&tiny).status(), kCoreBadArgument);
}

// The table as transcribed: ranges never empty, rows finer and weights smaller from
// row 0 down, and its two ends.
TEST(RateControl, TableRowsGetFiner) {
    for (int r = 0; r < kRateRows; ++r) {
        SCOPED_TRACE(r);
        const RateRow& coarser = kRateTable[r > 0 ? r - 1 : 0];
        for (int t = 0; t < 3; ++t) {
            EXPECT_LE(kRateTable[r].lo[t], kRateTable[r].hi[t]);
            EXPECT_LE(kRateTable[r].lo[t], coarser.lo[t]);
        }
        EXPECT_LE(kRateTable[r].weight, coarser.weight - (r > 0 ? 1 : 0));
    }
    const RateRow& first = kRateTable[0];
    const RateRow& last = kRateTable[kRateRows - 1];
    EXPECT_EQ(std::make_tuple(first.lo[0], first.hi[0], first.lo[1], first.hi[1], first.lo[2], first.hi[2]),
              std::make_tuple(40, 45, 42, 50, 44, 51));
    EXPECT_EQ(first.weight, 76);
    EXPECT_EQ(std::make_tuple(last.lo[0], last.hi[0], last.lo[1], last.hi[1], last.lo[2], last.hi[2]),
              std::make_tuple(1, 5, 1, 5, 1, 7));
    EXPECT_EQ(last.weight, 10);
}

TEST(RateControl, VariableBitRateMacroblockQps) {
    EncoderBlock b = MakeBlock({{kParRateMode, 2}, {kParAvgBitRate, 500000}, {kParGopLength, 12}});
    CRateControl rc(&b);
    ASSERT_EQ(rc.status(), kCoreOk);
    const int qp = rc.StartPicture(Picture(kSliceI, true));
    const int row = rc.row();
    EXPECT_EQ(qp, kRateTable[row].lo[0]);
    // A flat macroblock takes the row's low QP, the busiest its high one.
    const QpRange flat = CodePicture(&rc, b, 3, false, 400);
    EXPECT_EQ(flat.low, std::max<int>(kRateTable[row].lo[0], 5));
    EXPECT_EQ(flat.high, flat.low);
    rc.StartPicture(Picture(kSliceP));
    const int prow = rc.row();
    const QpRange busy = CodePicture(&rc, b, 3, true, 400);
    EXPECT_EQ(busy.low, kRateTable[prow].hi[1]);
    // A B picture the detector marked with verdict 1 takes the P columns of its row.
    const int plain = rc.StartPicture(Picture(kSliceB));
    EXPECT_EQ(plain, kRateTable[rc.row()].lo[2]);
    const int marked = rc.StartPicture(Picture(kSliceB, false, 1));
    EXPECT_EQ(marked, kRateTable[rc.row()].lo[1]);
    EXPECT_LT(marked, plain);

    // Rates so high that the finest rows are reached: with CAVLC no macroblock falls
    // below 5, neither the slice QP.
    EncoderBlock rich = MakeBlock({{kParRateMode, 2}, {kParAvgBitRate, 200000000}});
    CRateControl fine(&rich);
    for (int n = 0; n < 60; ++n) {
        fine.StartPicture(Picture(n % 12 ? kSliceP : kSliceI, n == 0));
        const QpRange r = CodePicture(&fine, rich, 1, n % 2 == 0, 1);
        EXPECT_GE(r.low, 5);
        EXPECT_GE(r.slice, 5);
    }
    EXPECT_EQ(fine.row(), kRateRows - 1);  // the offset reached the finest row

    // Rates so low that even row 0 overspends: the offset goes on into the coarse rows
    // beyond the table, whose high QPs reach 51, and stops at the last of them.
    EncoderBlock poor = MakeBlock({{kParRateMode, 2}, {kParAvgBitRate, 20000}, {kParCabac, 1}});
    CRateControl coarse(&poor);
    int slice = 0;
    for (int n = 0; n < 80; ++n) {
        coarse.StartPicture(Picture(n % 12 ? kSliceP : kSliceI, n == 0));
        slice = CodePicture(&coarse, poor, 1, true, 40).slice;
    }
    EXPECT_EQ(coarse.row(), -kCoarseRows);
    EXPECT_EQ(slice, RangeOfRow(-kCoarseRows, 1).lo);
    EXPECT_GT(slice, kRateTable[0].lo[1]);
    EXPECT_EQ(RangeOfRow(-kCoarseRows, 1).hi, 51);
    for (int r = -kCoarseRows; r < 0; ++r)
        for (int t = 0; t < 3; ++t) {
            EXPECT_GE(RangeOfRow(r, t).lo, RangeOfRow(r + 1, t).lo);
            EXPECT_LE(RangeOfRow(r, t).lo, RangeOfRow(r, t).hi);
            EXPECT_LE(RangeOfRow(r, t).hi, 51);
        }
}

TEST(RateControl, ConstantBitRateFollowsTheBuffer) {
    EncoderBlock b = MakeBlock({{kParRateMode, 3}, {kParAvgBitRate, 400000}, {kParGopLength, 12}});
    CRateControl rc(&b);
    ASSERT_EQ(rc.status(), kCoreOk);
    // 400 kbit/s at 176x144, 25 frames/s: 0.63 bits a sample, the start QP 20; the
    // buffer starts where the first macroblock takes that QP.
    EXPECT_EQ(rc.StartPicture(Picture(kSliceI, true)), 20);
    {
        EncoderBlock same = b;
        CRateControl first(&same);
        first.StartPicture(Picture(kSliceI, true));
        first.CopyToSlices(1);
        first.StartSlice(0);
        CMbContext mb(same);
        EXPECT_NEAR(first.MacroblockQp(0, mb), 20, 1);
    }
    // Spending far beyond the target drives the macroblock QPs up within the picture.
    const QpRange over = CodePicture(&rc, b, 2, true, 4000);
    EXPECT_GT(over.high, over.low);
    EXPECT_EQ(over.high, 51);
    // After an overspent picture the buffer is full: the next starts coarse; pictures
    // that spend nothing bring the QPs down to the CAVLC floor and no lower.
    rc.StartPicture(Picture(kSliceP));
    const QpRange next = CodePicture(&rc, b, 2, true, 0);
    EXPECT_EQ(next.low, 51);
    int low = 51;
    for (int n = 0; n < 40; ++n) {
        rc.StartPicture(Picture(kSliceP));
        low = std::min(low, CodePicture(&rc, b, 2, false, 0).low);
    }
    EXPECT_EQ(low, 5);
    // The slice QP of a type follows its last picture's macroblocks (no longer the start
    // QP for the whole stream).
    EXPECT_EQ(rc.StartPicture(Picture(kSliceP)), 5);
}

// Below 2 frames/s (where the windows of half a second are empty), with pictures that
// spend nothing and have no activity, nothing divides by zero and every QP stays in range.
TEST(RateControl, HostileRatesKeepQpsInRange) {
    for (int mode : {2, 3})
        for (int32_t fps100 : {50, 100, 150}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", " << fps100 << " frames/s x 100");
            EncoderBlock b = MakeBlock({{kParRateMode, mode},
                                        {kParFrameRate100, fps100},
                                        {kParGopLength, 0},
                                        {kParBFrames, 0},
                                        {kParCabac, 1}});
            CRateControl rc(&b);
            ASSERT_EQ(rc.status(), kCoreOk);
            for (int n = 0; n < 30; ++n) {
                const int qp = rc.StartPicture(Picture(n ? kSliceP : kSliceI, n == 0));
                EXPECT_GE(qp, 0);
                EXPECT_LE(qp, 51);
                const QpRange r = CodePicture(&rc, b, 1, false, 0);
                EXPECT_GE(r.low, 0);
                EXPECT_LE(r.high, 51);
            }
        }
}

}  // namespace
}  // namespace ombrisk
