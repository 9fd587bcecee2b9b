// The platform-free arithmetic of the skinned edits, sliders, scroll bar, volume slider and
// room list: typing and carries, time-code text and times, value/pixel conversion, hit
// zones, region and selection drags, thumb maths and icon spacing.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "app/skin/scroll_model.h"
#include "app/skin/slider_model.h"
#include "app/skin/time_edit_model.h"

namespace skin {
namespace {

// ---- LED number edit --------------------------------------------------------------------

TEST(LedNumberModel, FourCellsTypeUpToTheLoweredMaximum) {
    LedNumberModel m;
    m.SetCells(40, 10);
    EXPECT_EQ(m.Cells(), 4);
    EXPECT_EQ(m.Maximum(), "9999");
    EXPECT_EQ(m.Display(), "0000");
    m.Press();
    m.Release();
    EXPECT_EQ(m.HighlightFirst(), 0);
    EXPECT_EQ(m.HighlightLast(), 4);
    m.Digit('1');
    m.Digit('2');
    EXPECT_EQ(m.Display(), "0012");
    EXPECT_EQ(m.HighlightLast(), 4);  // still editing
    m.Digit('3');
    m.Digit('4');
    EXPECT_EQ(m.Display(), "1234");
    EXPECT_EQ(m.HighlightFirst(), -1);
    m.Digit('5');
    EXPECT_EQ(m.Display(), "1234");
    EXPECT_FALSE(m.Digit('x'));
}

TEST(LedNumberModel, NineCellsKeepTheEightDigitMaximum) {
    LedNumberModel m;
    m.SetCells(90, 10);
    EXPECT_EQ(m.Maximum(), "99999999");
    m.Press();
    for (char c : std::string("123456789"))
        m.Digit(c);
    EXPECT_EQ(m.Display(), "012345678");  // the ninth digit would exceed the maximum
    EXPECT_EQ(m.TypedCount(), 8);
}

TEST(LedNumberModel, GlyphWithoutWidthGivesNoCells) {
    LedNumberModel m;
    m.SetCells(100, LedMetricsFor(20).glyphWidth);  // a picture narrower than 39 pixels
    EXPECT_EQ(m.Cells(), 0);
    EXPECT_TRUE(m.Digit('1'));
    EXPECT_EQ(m.Display(), "");
}

TEST(LedGlyphs, CellsAndPanels) {
    struct Case {
        char c;
        int number, time;
    };
    for (const Case& k : {Case{'0', 0, 0}, {'9', 9, 9}, {'.', 10, 10}, {'-', 10, 12}, {':', 11, 11}, {'a', -1, -1}}) {
        EXPECT_EQ(LedGlyphCell(k.c, false), k.number) << k.c;
        EXPECT_EQ(LedGlyphCell(k.c, true), k.time) << k.c;
    }
    EXPECT_EQ(LedGlyphPanel(false, 1, 0, 4), 0);  // disabled wins over the highlight
    EXPECT_EQ(LedGlyphPanel(true, 1, 0, 4), 1);
    EXPECT_EQ(LedGlyphPanel(true, 5, 0, 4), 2);
    EXPECT_EQ(LedMetricsFor(390).glyphWidth, 10);
    EXPECT_EQ(LedMetricsFor(390).panelWidth, 130);
}

// ---- Time edits -------------------------------------------------------------------------

TEST(TimeCode, TextTimeRoundTripInBothStandards) {
    for (int rate : {25, 30}) {
        for (int h : {0, 1, 12, 99})
            for (int m : {0, 59})
                for (int s : {0, 30, 59})
                    for (int f = 0; f < rate; ++f) {
                        char text[48];
                        std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", h, m, s, f);
                        const int64_t t = TimeCodeTextToTime(text, rate);
                        ASSERT_EQ(TimeToTimeCodeText(t, rate), text) << rate;
                    }
    }
}

TEST(TimeCode, TimesToText) {
    struct Case {
        int64_t time;
        int rate;
        const char* text;
    };
    const Case cases[] = {
        {599'999'999, 25, "00:01:00:00"},  // rounding up to a whole second carries on
        {10'000'000, 30, "00:00:01:00"},        {35'999'999'999, 25, "01:00:00:00"},    {-5, 25, "00:00:00:00"},
        {3'599'999'666'667, 30, "99:59:59:29"}, {3'600'000'000'000, 25, "99:59:59:24"},  // 100 hours: the largest text
        {INT64_MAX, 30, "99:59:59:29"},         {400'000, 25, "00:00:00:01"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TimeToTimeCodeText(c.time, c.rate), c.text) << c.time;
    EXPECT_EQ(TimeCodeTextToTime("00:00:01:00", 30), 10'000'000);
    EXPECT_EQ(TimeCodeTextToTime("00:00:00:15", 25), 5'999'999);  // 15 x 0.04f, truncated
    EXPECT_EQ(TimeCodeTextToTime("", 25), 0);
}

struct StepCase {
    int rate;
    const char* start;
    int caret;  // a field start, or 7 (before the first click)
    int direction;
    const char* expected;
};

TEST(TimeFieldModel, StepCarriesAndBorrows) {
    const StepCase cases[] = {
        {0, "00:00:59", 6, +1, "00:01:00"},
        {0, "00:59:59", 6, +1, "01:00:00"},
        {0, "00:00:00", 0, -1, "00:00:00"},
        {0, "00:00:00", 3, -1, "00:00:00"},
        {0, "00:00:00", 6, -1, "00:00:00"},
        {0, "01:00:00", 6, -1, "00:59:59"},
        {0, "00:59:30", 3, +1, "01:00:30"},
        {0, "01:00:30", 3, -1, "00:59:30"},
        {0, "99:59:59", 0, +1, "99:59:59"},
        {0, "99:59:59", 6, +1, "99:59:59"},  // a carry past 99 hours stops at the maximum
        {0, "00:00:30", 7, +1, "00:00:30"},  // before the first click only carries count
        {0, "00:00:59", 7, +1, "00:01:00"},
        {25, "00:00:59:24", 9, +1, "00:01:00:00"},
        {30, "01:00:00:00", 9, -1, "00:59:59:29"},
        {30, "00:01:00:00", 9, -1, "00:00:59:29"},
        {25, "00:00:01:00", 9, -1, "00:00:00:24"},
        {25, "00:00:00:00", 9, -1, "00:00:00:00"},
        {30, "00:59:59:29", 9, +1, "01:00:00:00"},
        {25, "00:00:00:10", 9, +1, "00:00:00:11"},
        {25, "99:59:59:24", 9, +1, "99:59:59:24"},
    };
    for (const StepCase& c : cases) {
        TimeFieldModel m(c.rate);
        m.SetText(c.start);
        if (c.caret != (c.rate ? 9 : 7)) m.Release(c.caret * 10 + 1, c.rate ? 120 : 90);
        ASSERT_EQ(m.Caret(), c.caret) << c.start;
        m.Step(c.direction);
        EXPECT_EQ(m.Display(), c.expected) << c.rate << " " << c.start << " caret " << c.caret;
    }
}

TEST(TimeFieldModel, TypingCommitsWithFieldLimits) {
    TimeFieldModel simple(0);
    simple.Press();
    simple.Release(45, 90);  // the minutes third
    EXPECT_EQ(simple.Caret(), 3);
    simple.Digit('7');
    EXPECT_EQ(simple.Display(), "00:07:00");
    simple.Digit('5');
    EXPECT_EQ(simple.Display(), "00:59:00");
    EXPECT_EQ(simple.Caret(), 6);
    EXPECT_EQ(simple.HighlightFirst(), 6);

    TimeFieldModel left(0);
    left.Release(45, 90);
    left.Digit('4');
    left.Arrow(-1);
    EXPECT_EQ(left.Display(), "00:04:00");
    EXPECT_EQ(left.Caret(), 0);
    EXPECT_EQ(left.Field(1), 4);

    TimeFieldModel ntsc(30);
    ntsc.Release(100, 120);  // frames quarter
    ntsc.Digit('4');
    ntsc.Digit('5');
    EXPECT_EQ(ntsc.Display(), "00:00:00:29");
    EXPECT_EQ(ntsc.Time(), TimeCodeTextToTime("00:00:00:29", 30));

    TimeFieldModel capped(0);
    capped.SetMaximum("10:00:00");
    capped.Release(5, 90);
    capped.Digit('1');
    capped.Digit('2');
    EXPECT_EQ(capped.Display(), "10:00:00");
}

TEST(TimeFieldModel, ReleaseChoosesFieldsByThirdsAndQuarters) {
    struct Case {
        int rate, x, width, caret;
    };
    const Case cases[] = {
        {0, 29, 90, 0},   {0, 30, 90, 3},   {0, 59, 90, 3},   {0, 60, 90, 6},   {0, 89, 90, 6},    {0, 95, 90, 7},
        {25, 24, 100, 0}, {25, 25, 100, 3}, {25, 50, 100, 6}, {25, 75, 100, 9}, {25, 100, 100, 9}, {25, 101, 100, 9},
    };
    for (const Case& c : cases) {
        TimeFieldModel m(c.rate);
        m.Release(c.x, c.width);
        EXPECT_EQ(m.Caret(), c.caret) << c.rate << " x " << c.x;
        EXPECT_EQ(m.HighlightFirst(), c.caret);
    }
}

TEST(TimeFieldModel, ArrowsAndSelectField) {
    TimeFieldModel simple(0);
    simple.Release(5, 90);
    for (int i = 0; i < 4; ++i)
        simple.Arrow(+1);
    EXPECT_EQ(simple.Caret(), 9);  // past the seconds: no field
    simple.Digit('5');
    EXPECT_EQ(simple.Display(), "00:00:00");
    simple.Arrow(-1), simple.Arrow(-1), simple.Arrow(-1), simple.Arrow(-1);
    EXPECT_EQ(simple.Caret(), 0);

    TimeFieldModel tc(25);
    tc.Release(5, 100);
    for (int i = 0; i < 5; ++i)
        tc.Arrow(+1);
    EXPECT_EQ(tc.Caret(), 9);  // stops at the frames
    for (int index = 0; index < 4; ++index) {
        tc.SelectField(index);
        EXPECT_EQ(tc.Caret(), 3 * (3 - index));
    }
    tc.SetText("01:02:03:04");
    EXPECT_EQ(tc.Field(0), 1);
    EXPECT_EQ(tc.Field(3), 4);
    tc.SetFrameRate(30);  // the standard alone: the maximum text stays
    EXPECT_EQ(tc.Maximum(), "99:59:59:24");
}

// ---- Sliders ----------------------------------------------------------------------------

SliderModel Magnify(int64_t minimum = 0, int64_t maximum = 200, int left = 0, int right = 200) {
    SliderModel m(SliderFlavor::Magnify);
    m.SetTrack(left, right);
    m.SetRange(minimum, maximum);
    m.SetThumbCell(10, 30, 40);
    return m;
}

TEST(SliderModel, ValueToPixelAndBack) {
    SliderModel m = Magnify(0, 100, 10, 210);
    struct Case {
        int mark;
        int64_t value;
        int x;
    };
    const Case cases[] = {{0, 0, 10},    {0, 50, 110}, {0, 100, 210}, {0, 1, 12}, {0, -50, -90},
                          {0, 150, 310}, {6, 0, 10},   {6, 50, 110},  {7, 1, 12}};
    for (const Case& c : cases) {
        m.SetMarkWidth(c.mark);
        EXPECT_EQ(m.ValueToX(c.value), c.x) << c.value << " mark " << c.mark;
    }
    EXPECT_EQ(m.PixelToValue(110), 50);
    EXPECT_EQ(m.PixelToValue(111), 50);  // truncating
    // An empty range converts nothing: the last result stands and SetPos refuses.
    m.SetMarkWidth(0);
    m.ValueToX(50);
    m.SetRange(7, 7);
    EXPECT_EQ(m.ValueToX(1000), 110);
    EXPECT_FALSE(m.SetPos(7));
    // Exact 128-bit intermediates over the whole 64-bit range; no division by a zero track.
    SliderModel wide = Magnify(0, INT64_MAX, 0, 1000);
    EXPECT_EQ(wide.PixelToValue(500), INT64_MAX / 2);
    SliderModel flat = Magnify(0, 100, 50, 50);
    EXPECT_EQ(flat.PixelToValue(80), 0);
    EXPECT_EQ(flat.XToValue(80, true), 0);
}

TEST(SliderModel, MagnifyHitZonesTieToTheHigherIndex) {
    SliderModel m = Magnify();
    m.ShowRegions(true);
    m.SetRegionCount(2);
    m.SetRegion(0, 20, 60);
    m.SetRegion(1, 70, 120);
    struct Case {
        int x, y, index;
        RegionPart part;
    };
    const Case cases[] = {
        {65, 5, 1, kPartStart},  // 5 from both: the higher index
        {62, 5, 0, kPartEnd},   {30, 5, 0, kPartBody}, {30, 26, -1, kPartNone}, {11, 5, -1, kPartNone},
        {12, 5, 0, kPartStart}, {128, 5, 1, kPartEnd}, {129, 5, -1, kPartNone}, {119, 5, 1, kPartBody},
    };
    for (const Case& c : cases) {
        int index = -2;
        EXPECT_EQ(m.HitRegion(c.x, c.y, &index), c.part) << c.x << "," << c.y;
        EXPECT_EQ(index, c.index) << c.x << "," << c.y;
    }
}

TEST(SliderModel, ChainAndRegionSliderHitRules) {
    SliderModel s(SliderFlavor::Select);
    s.SetTrack(0, 200);
    s.SetRange(0, 200);
    s.SetMarkHeight(20);
    s.SetRegionCount(2);
    s.SetRegion(0, 20, 60);
    s.SetRegion(1, 60, 120);
    struct Case {
        int x, y, index;
        RegionPart part;
    };
    const Case chain[] = {
        {61, 15, 1, kPartStart}, {59, 15, 0, kPartEnd}, {59, 5, 0, kPartBody},
        {15, 15, 0, kPartStart}, {125, 5, 1, kPartEnd}, {90, 15, 1, kPartBody},
    };
    for (const Case& c : chain) {
        int index = -2;
        EXPECT_EQ(s.HitRegion(c.x, c.y, &index), c.part) << c.x << "," << c.y;
        EXPECT_EQ(index, c.index) << c.x << "," << c.y;
    }

    SliderModel r(SliderFlavor::Region);
    r.SetNativeX([](int64_t v) { return static_cast<int>(v); });
    r.SetRange(0, 200);
    r.SetRegionCount(1);
    r.SetRegionEnd(0, 60);
    r.SetRegionStart(0, 20);  // no start setter on the region slider: stays 0
    EXPECT_EQ(r.Region(0).start, 0);
    const Case region[] = {
        {60, 500, 0, kPartBody}, {61, -9, 0, kPartEnd}, {68, 0, 0, kPartEnd}, {69, 0, -1, kPartNone}};
    for (const Case& c : region) {
        int index = -2;
        EXPECT_EQ(r.HitRegion(c.x, c.y, &index), c.part) << c.x;
        EXPECT_EQ(index, c.index) << c.x;
    }
}

// Presses at (x, y) after hovering there, moves to each of `to`, releases; all codes posted.
std::vector<int> Drag(SliderModel& m, int x, int y, const std::vector<int>& to) {
    std::vector<int> codes;
    auto add = [&](const SliderEvents& e) { codes.insert(codes.end(), e.codes.begin(), e.codes.end()); };
    add(m.Move(x, y));
    add(m.Press(x, y));
    for (int t : to)
        add(m.Move(t, y));
    add(m.Release());
    return codes;
}

TEST(SliderModel, UnlinkedRegionEditsStopAtTheirBounds) {
    SliderModel m = Magnify();
    m.ShowRegions(true);
    m.SetRegionCount(2);
    m.SetRegion(0, 20, 60);
    m.SetRegion(1, 100, 150);
    // The second region's start dragged left of the first's end stops one value after it;
    // the position follows the edge, and the release posts the edge's code and the end.
    EXPECT_EQ(Drag(m, 95, 5, {30}), (std::vector<int>{kSbRegionStart, kSbRegionStart, kSbRegionStart, kSbEndScroll}));
    EXPECT_EQ(m.Region(1).start, 61);
    EXPECT_EQ(m.Pos(), 61);
    // A start dragged past its end stays on the end.
    Drag(m, 15, 5, {80});
    EXPECT_EQ(m.Region(0).start, 60);
    m.SetRegion(0, 20, 60);
    Drag(m, 62, 5, {120});
    EXPECT_EQ(m.Region(0).end, 60);  // upper bound: the next start (61) - 1
    // Moves keep the length, stopping at the range's end and at the neighbour.
    m.SetRegion(1, 100, 150);
    Drag(m, 120, 5, {200});
    EXPECT_EQ(m.Region(1).start, 150);
    EXPECT_EQ(m.Region(1).end, 200);
    Drag(m, 170, 5, {20});
    EXPECT_EQ(m.Region(1).start, 61);
    EXPECT_EQ(m.Region(1).end, 111);
}

TEST(SliderModel, LinkedChainMovesAndSelectPressPostsNothing) {
    SliderModel s(SliderFlavor::Select);
    s.SetTrack(0, 200);
    s.SetRange(0, 200);
    s.SetThumbCell(10, 30, 40);
    s.SetRegionCount(2);
    s.SetRegion(0, 20, 60);
    s.SetRegion(1, 60, 120);
    const std::vector<int> codes = Drag(s, 40, 5, {60, 200});
    EXPECT_EQ(codes, (std::vector<int>{kSbRegionMove, kSbRegionMove, kSbEndScroll}));
    EXPECT_EQ(s.Region(0).start, 100);
    EXPECT_EQ(s.Region(0).end, 140);
    EXPECT_EQ(s.Region(1).start, 140);
    EXPECT_EQ(s.Region(1).end, 200);
    // A linked start edge may go down to the previous region's start, carrying its end.
    Drag(s, 141, 15, {50});
    EXPECT_EQ(s.Region(1).start, 100);
    EXPECT_EQ(s.Region(0).end, 100);
}

TEST(SliderModel, SelectionDragKeepsTheBracketOnTheTrack) {
    SliderModel s(SliderFlavor::Select);
    s.SetTrack(0, 200);
    s.SetRange(0, 200);
    s.SetThumbCell(10, 0, 10);
    s.SetSelectionRows(0, 20, 24, 34);
    s.SetSelection(100, 180);
    EXPECT_EQ(s.GripRight() - s.GripLeft(), 78);
    EXPECT_EQ(Drag(s, 140, 30, {200, 260}), (std::vector<int>{kSbSelectionDrag, kSbSelectionDrag, kSbEndScroll}));
    EXPECT_EQ(s.SelectionStart(), 120);
    EXPECT_EQ(s.SelectionEnd(), 200);
    EXPECT_EQ(s.SelectionRight(), 200);
    EXPECT_EQ(s.SelectionRight() - s.SelectionLeft(), 80);
    s.SetSelection(10, 50);
    EXPECT_EQ(s.GripRight() - s.GripLeft(), 40);
    EXPECT_FALSE(s.SetSelection(200, 100));
    EXPECT_EQ(s.SelectionStart(), 10);
}

TEST(SliderModel, ThumbDragsTrackPressesAndTheWheel) {
    SliderModel m = Magnify();
    m.SetPos(100);
    EXPECT_EQ(m.ThumbCentre(), 100);
    // A drag beyond the end keeps the centre on the track's end.
    EXPECT_EQ(Drag(m, 100, 35, {150, 260}), (std::vector<int>{kSbThumbTrack, kSbThumbTrack, kSbEndScroll}));
    EXPECT_EQ(m.ThumbCentre(), 200);
    EXPECT_EQ(m.Pos(), 200);
    // A press away from the thumb and a release elsewhere: the thumb jumps to the press.
    std::vector<int> codes;
    m.Move(40, 35);
    m.Press(40, 35);
    m.Move(90, 35);
    codes = m.Release().codes;
    EXPECT_EQ(codes, (std::vector<int>{kSbThumbPosition, kSbEndScroll}));
    EXPECT_EQ(m.ThumbCentre(), 40);
    EXPECT_EQ(m.Pos(), 40);
    // Wheel: one step per notch, bounded; nothing while the thumb is hidden.
    SliderModel w = Magnify(0, 100'000'000, 0, 200);
    w.SetPos(15'000'000);
    EXPECT_EQ(w.Wheel(120).codes, std::vector<int>{kSbThumbTrack});
    EXPECT_EQ(w.Pos(), 5'000'000);
    w.Wheel(120);
    EXPECT_EQ(w.Pos(), 0);
    w.Wheel(-120);
    EXPECT_EQ(w.Pos(), 10'000'000);
    w.ShowThumb(false);
    EXPECT_TRUE(w.Wheel(120).codes.empty());
}

TEST(SliderModel, RegionPressJumpsTheThumbOnlyWhenNotMoved) {
    SliderModel m = Magnify();
    m.ShowRegions(true);
    m.SetRegionCount(1);
    m.SetRegion(0, 50, 150);
    m.Move(80, 5);
    EXPECT_EQ(m.Press(80, 5).codes, std::vector<int>{kSbRegionMove});
    EXPECT_EQ(m.Release().codes, (std::vector<int>{kSbThumbPosition, kSbRegionMove, kSbEndScroll}));
    EXPECT_EQ(m.Pos(), 80);
    m.SetPos(0);
    Drag(m, 80, 5, {90});
    EXPECT_EQ(m.Region(0).start, 60);
    EXPECT_EQ(m.ThumbCentre(), 0);  // a moved region leaves the thumb where it was
}

TEST(SliderModel, CountsSettersAndOwnerSelection) {
    SliderModel m = Magnify(0, 100);
    EXPECT_FALSE(m.SetRegionCount(11));
    EXPECT_FALSE(m.SetRegionCount(-1));
    EXPECT_TRUE(m.SetRegionCount(10));
    m.SetRegionCount(2);
    int64_t a = 0, b = 0;
    m.GetRegion(2, &a, &b);
    EXPECT_EQ(a, -1);
    EXPECT_EQ(b, -1);
    m.GetRegion(-1, &a, &b);
    EXPECT_EQ(a, -1);
    EXPECT_FALSE(m.SetRegion(0, 10, 20));  // regions hidden
    EXPECT_TRUE(m.SetRegionStart(0, 10));
    m.GetRegion(0, &a, &b);
    EXPECT_EQ(a, 10);

    m.ShowRegions(true);
    m.SetSelectionAndPos(-10, 500, 5);
    EXPECT_FALSE(m.StartMarks() || m.EndMarks() || m.MoveDrag());
    m.GetRegion(0, &a, &b);
    EXPECT_EQ(a, -10);
    EXPECT_EQ(b, 500);
    m.SetSelectionAndPos(30, 500, 5);
    EXPECT_TRUE(m.StartMarks() && m.StartDrag());
    EXPECT_FALSE(m.EndMarks() || m.EndDrag() || m.MoveDrag());
    m.SetSelectionAndPos(30, 60, 5);
    EXPECT_TRUE(m.StartMarks() && m.EndMarks() && m.MoveDrag());
}

TEST(SliderModel, TicksAreBoundedAndMarkEveryThirtieth) {
    SliderModel m = Magnify(0, 100, 0, 200);
    m.SetTickRange(0, 100);
    m.SetTickInterval(10);
    const std::vector<Tick> ticks = m.Ticks();
    ASSERT_EQ(ticks.size(), 9u);
    EXPECT_EQ(ticks[0].x, 20);
    EXPECT_EQ(ticks[8].x, 180);
    EXPECT_TRUE(ticks[0].longTick);
    EXPECT_TRUE(ticks[3].longTick);
    EXPECT_FALSE(ticks[1].longTick);
    m.SetTickInterval(0);
    EXPECT_TRUE(m.Ticks().empty());
    m.SetTickInterval(1);
    m.SetTickRange(0, INT64_MAX);
    EXPECT_LE(m.Ticks().size(), 100000u);
}

TEST(SliderBlits, BackgroundsRegionsAndGrip) {
    EXPECT_EQ(MagnifyBackgroundBlits(250, 300),
              (std::vector<Blit>{{0, 100, 0}, {100, 50, 100}, {100, 50, 150}, {150, 100, 200}}));
    EXPECT_EQ(SelectBackgroundBlits(250, 260),
              (std::vector<Blit>{{0, 197, 0}, {197, 5, 197}, {197, 5, 202}, {197, 53, 207}}));
    EXPECT_EQ(RegionBlits(30, 0, 25, 200, true, false),
              (std::vector<Blit>{{10, 10, 0}, {10, 10, 10}, {10, 5, 20}, {0, 10, 0}, {20, 10, 15}}));
    EXPECT_EQ(RegionBlits(30, 0, 200, 200, true, false).size(), 20u);  // no ends at the track's end
    EXPECT_EQ(RegionBlits(30, 40, 40, 200, false, false).size(), 0u);
    EXPECT_EQ(RegionBlits(300, 0, 100, 200, false, false), (std::vector<Blit>{{0, 100, 0}}));
    const std::vector<Blit> grip = GripBlits(60, 5, 0, 78);
    EXPECT_EQ(grip.front(), (Blit{0, 5, 0}));
    EXPECT_EQ(grip[grip.size() - 2], (Blit{19, 30, 24}));
    EXPECT_EQ(grip.back(), (Blit{55, 5, 73}));
    EXPECT_EQ(GripBlits(60, 5, 10, 16), (std::vector<Blit>{{0, 5, 8}, {55, 5, 13}}));
}

// ---- Scroll bar -------------------------------------------------------------------------

ScrollBarModel Bar(bool horizontal = true) {
    ScrollBarModel b;
    b.Layout(horizontal, 10, 100, 100);
    b.SetRange(0, 100);
    return b;
}

TEST(ScrollBarModel, ThumbLengthAndPlace) {
    ScrollBarModel b = Bar();
    b.SetPage(0, 10);
    EXPECT_EQ(b.ThumbLength(), 0);
    EXPECT_EQ(b.PartAt(25), kScrollTrack);
    b.SetPage(100, 200);
    EXPECT_EQ(b.ThumbLength(), 100);
    b.SetPage(100, 10);
    EXPECT_EQ(b.ThumbLength(), 10);
    struct Case {
        int set, start, stored;
    };
    for (const Case& c : {Case{0, 20, 0}, {50, 70, 50}, {90, 110, 90}, {100, 110, 90}, {33, 53, 33}}) {
        b.SetPos(c.set);
        EXPECT_EQ(b.ThumbStart(), c.start) << c.set;
        EXPECT_EQ(b.StoredPos(), c.stored) << c.set;
    }
    b.SetPos(101);  // outside: ignored
    EXPECT_EQ(b.StoredPos(), 33);
    // A thumb that would be shorter than 6 pixels is 6, and positions map over L - 6
    // pixels and span - page values.
    b.SetPage(1000, 1);
    EXPECT_EQ(b.ThumbLength(), 6);
    b.SetPos(99);
    EXPECT_EQ(b.ThumbStart(), 20 + 94);
    b.SetPos(50);
    EXPECT_EQ(b.ThumbStart(), 20 + 47);
    EXPECT_EQ(b.StoredPos(), 50);
    // Fewer pixels than values: the stored position is the one the thumb's pixel stands for.
    ScrollBarModel coarse = Bar();
    coarse.SetRange(0, 1000);
    coarse.SetPage(1000, 100);
    coarse.SetPos(503);
    EXPECT_EQ(coarse.ThumbStart(), 20 + 50);
    EXPECT_EQ(coarse.StoredPos(), 500);
    // With at least a pixel per value every position maps back to itself.
    ScrollBarModel fine;
    fine.Layout(false, 16, 168, 168);
    fine.SetRange(0, 80);
    fine.SetPage(80, 16);
    for (int p = 0; p <= 64; ++p) {
        fine.SetPos(p);
        ASSERT_EQ(fine.StoredPos(), p);
    }
}

// A page that shows the whole range leaves nothing to scroll: every part is disabled and no
// press, key or wheel moves anything, until the range outgrows the page again.
TEST(ScrollBarModel, NothingToScrollDisablesTheBar) {
    for (const bool horizontal : {true, false}) {
        ScrollBarModel b = Bar(horizontal);
        for (const double page : {100.0, 200.0}) {
            b.SetPage(100, page);
            EXPECT_TRUE(b.WholeInView());
            for (const ScrollPart part : {kScrollFirst, kScrollSecond, kScrollThumb, kScrollTrack})
                EXPECT_EQ(b.State(part), 3) << part;
            for (const int along : {5, 15, 30, 60, 110}) {
                EXPECT_TRUE(b.Press(along).codes.empty()) << along;
                EXPECT_FALSE(b.Pressed());
                EXPECT_TRUE(b.Release().codes.empty());
            }
            for (const int vk : {0x25, 0x26, 0x27, 0x28, 0x21, 0x22})
                EXPECT_TRUE(b.Key(vk).codes.empty()) << vk;
            EXPECT_TRUE(b.Wheel(-120).codes.empty());
            EXPECT_EQ(b.GetPos(), 0);
        }
        b.SetPage(100, 10);
        EXPECT_FALSE(b.WholeInView());
        EXPECT_EQ(b.State(kScrollTrack), 0);
        EXPECT_FALSE(b.Wheel(-120).codes.empty());
    }
    // No page set: the bar steps through its range as before.
    ScrollBarModel plain = Bar();
    EXPECT_FALSE(plain.WholeInView());
    EXPECT_FALSE(plain.Key(0x27).codes.empty());
}

TEST(ScrollBarModel, ButtonsRepeatAndRelease) {
    ScrollBarModel b = Bar();
    b.SetPage(100, 10);
    b.SetPos(50);
    EXPECT_TRUE(b.Press(5).codes.empty());
    EXPECT_EQ(b.Release().codes, std::vector<int>{kScrollStepBack});
    EXPECT_EQ(b.StoredPos(), 49);
    EXPECT_EQ(b.LineStep(), 1);  // a step of 0 becomes 1
    b.Press(15);
    for (int tick = 0; tick < 6; ++tick) {
        const ScrollEvents e = b.Tick();
        EXPECT_TRUE(e.restartTimer);
        EXPECT_EQ(e.codes, std::vector<int>{kScrollChanged});
    }
    EXPECT_EQ(b.Release().codes, std::vector<int>{kScrollStepForward});
    EXPECT_EQ(b.StoredPos(), 56);
    // Wheel: 522 per notch, one step each way.
    EXPECT_EQ(b.Wheel(120).codes, std::vector<int>{kScrollWheel});
    EXPECT_EQ(b.StoredPos(), 55);
}

TEST(ScrollBarModel, ThumbDragAndVerticalPages) {
    ScrollBarModel b = Bar();
    b.SetPage(100, 10);
    b.SetPos(0);
    EXPECT_EQ(b.Press(22).codes, std::vector<int>{kScrollChanged});
    bool outside = false;
    EXPECT_EQ(b.Move(72, &outside).codes, std::vector<int>{kScrollChanged});
    EXPECT_EQ(b.StoredPos(), 50);
    b.Move(500, &outside);  // clamped: the thumb ends at the track's end
    EXPECT_EQ(b.Release().codes, std::vector<int>{kScrollChanged});
    EXPECT_EQ(b.ThumbStart(), 110);
    EXPECT_EQ(b.StoredPos(), 90);

    ScrollBarModel v = Bar(false);
    v.SetPage(100, 10);
    v.SetPos(50);
    EXPECT_EQ(v.FirstButtonAt(), 100);
    EXPECT_EQ(v.Press(10).codes, (std::vector<int>{kScrollPageBack, kScrollPageBack}));
    EXPECT_EQ(v.ThumbStart(), 40);
    v.Release();
    EXPECT_EQ(v.Press(10).codes, std::vector<int>{kScrollPageBack});
    v.Release();
    EXPECT_TRUE(v.Key(0x22).codes.empty());  // PageDown with its flag set only clears it
    EXPECT_EQ(v.Key(0x22).codes, std::vector<int>{kScrollPageForward});
    EXPECT_EQ(v.Key(0x28).codes, std::vector<int>{kScrollStepForward});
}

// ---- Volume slider, room list -----------------------------------------------------------

TEST(VolumeModel, ThumbPositionAndLevel) {
    VolumeModel v(true, 33, 103, 20, 7, 20);
    EXPECT_EQ(v.ThumbFor(20), 6);
    EXPECT_EQ(v.ThumbFor(0), 71);
    EXPECT_EQ(v.ThumbMax(), 71);
    EXPECT_EQ(v.ThumbFor(10), 38);
    EXPECT_EQ(v.PositionFor(38), 10);
    for (int p = 0; p <= 20; ++p)
        EXPECT_EQ(v.PositionFor(v.ThumbFor(p)), p);
    EXPECT_TRUE(v.SetPosition(10));
    EXPECT_EQ(v.LevelBar(72).level, 25);
    EXPECT_EQ(v.LevelBar(72).length, 36);
    EXPECT_EQ(v.LevelBar(72).source, 36);
    EXPECT_FALSE(v.SetPosition(21));
    VolumeModel empty(true, 33, 103, 20, 7, 0);
    EXPECT_EQ(empty.ThumbFor(0), 6);
    EXPECT_EQ(empty.PositionFor(50), 0);
    EXPECT_EQ(empty.LevelBar(72).length, 0);
}

TEST(RoomListModel, IconSpacing) {
    struct Case {
        int width, height, cellW, cellH, font, h, v;
    };
    const Case cases[] = {
        {250, 300, 100, 80, 20, 125, 150},  // spare 50 over 2 columns; spare 0 gets a whole pitch
        {302, 330, 100, 80, 20, 134, 115},  // spare 2 < 3 per column: one more cell spread
        {250, 150, 100, 80, 20, 125, 100},  // fewer than two rows: the plain pitch
        {50, 300, 100, 80, 20, 150, 150},   // narrower than a cell
        {250, 300, 0, 80, 20, 1, 100},
    };
    for (const Case& c : cases) {
        const IconSpacing s = ComputeIconSpacing(c.width, c.height, c.cellW, c.cellH, c.font);
        EXPECT_EQ(s.horizontal, c.h) << c.width << "x" << c.height;
        EXPECT_EQ(s.vertical, c.v) << c.width << "x" << c.height;
    }
}

TEST(RoomListModel, ScrollSyncAndSelectionPlans) {
    const ScrollBarSetting report = ScrollBarFromList(1, {true, 0, 19, 8, 5, 20, 18});
    EXPECT_EQ(report.position, 10);
    EXPECT_EQ(report.minimum, 0);
    EXPECT_EQ(report.maximum, 40);
    EXPECT_EQ(report.step, 2);
    EXPECT_DOUBLE_EQ(report.page, 16);
    EXPECT_EQ(ListScrollFromBar(1, 14, 5, 18, 20), 36);
    const ScrollBarSetting icon = ScrollBarFromList(0, {true, 0, 300, 100, 40, 20, 64});
    EXPECT_EQ(icon.position, 40);
    EXPECT_EQ(icon.step, 64);
    EXPECT_EQ(ListScrollFromBar(0, 90, 40, 64, 20), 50);
    const ScrollBarSetting empty = ScrollBarFromList(1, {true, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(empty.maximum, 1);
    EXPECT_DOUBLE_EQ(empty.total, 1.0);
    EXPECT_FALSE(ScrollBarFromList(2, {true, 0, 19, 8, 5, 20, 18}).change);

    struct Case {
        int first, last;
        bool add;
        int count;
        bool single;
        SelectRangePlan plan;
    };
    const Case cases[] = {
        {-1, -1, false, 10, false, {1, true, 0, -1}}, {5, 2, false, 10, false, {0, false, 0, -1}},
        {2, 8, false, 10, true, {1, true, 2, 2}},     {-3, 100, true, 10, false, {1, false, 0, 9}},
        {10, 12, false, 10, false, {1, true, 0, -1}},
    };
    for (const Case& c : cases) {
        const SelectRangePlan p = PlanSelectRange(c.first, c.last, c.add, c.count, c.single);
        EXPECT_EQ(p.result, c.plan.result) << c.first << ".." << c.last;
        EXPECT_EQ(p.clearFirst, c.plan.clearFirst) << c.first << ".." << c.last;
        EXPECT_EQ(p.first, c.plan.first) << c.first << ".." << c.last;
        EXPECT_EQ(p.last, c.plan.last) << c.first << ".." << c.last;
    }
    EXPECT_EQ(IsSelectionContiguous({false, true, true, false}), 1);
    EXPECT_EQ(IsSelectionContiguous({true, false, true}), 0);
    EXPECT_EQ(IsSelectionContiguous({false, false}), 0);
}

}  // namespace
}  // namespace skin
