// The frame scheduler: picture types, coding order, references, end of stream inside a B
// run, scene cuts, and refusals; the scene-cut detector's verdicts.
#include "filters/encoder/core/frame_scheduler.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/frame_stamp.h"

namespace ombrisk {
namespace {

constexpr int kW = 64, kH = 48;

void MakeBlock(EncoderBlock* block, int gop, int bFrames, int refs, int scene, int32_t flags = kFlagDeblocking) {
    int32_t params[kParamWords];
    DefaultParameterWords(params);
    params[kParFlags] = flags;
    params[kParGopLength] = gop;
    params[kParBFrames] = bFrames;
    params[kParRefFrames] = refs;
    params[kParSceneDetect] = scene;
    params[kParCabac] = 0;
    ASSERT_EQ(StoreParameterRecord(block, params, 1), kCoreOk);
    ASSERT_EQ(StorePictureRecord(block, kW, kH, kW, kH, 1), kCoreOk);
    FillChromaGeometry(block);
}

// An I420 picture: luma `value` everywhere, or a ramp when value < 0.
struct Picture {
    std::vector<uint8_t> samples = std::vector<uint8_t>(kW * kH * 3 / 2, 128);
    explicit Picture(int value) {
        for (int i = 0; i < kW * kH; ++i)
            samples[i] = uint8_t(value >= 0 ? value : (i % kW) * 4);
    }
    PlanarPicture View() const {
        PlanarPicture p;
        p.y = samples.data();
        p.cb = p.y + kW * kH;
        p.cr = p.cb + kW * kH / 4;
        p.width = kW;
        p.height = kH;
        p.lumaPitch = kW;
        p.chromaPitch = kW / 2;
        return p;
    }
};

// Takes every ready picture: "type display" in coding order, 'r' after a reference.
std::string Drain(CFrameScheduler* s) {
    std::string out;
    while (ScheduledPicture* p = s->NextInCodingOrder()) {
        out += p->order.sliceType == kSliceI ? (p->order.idr ? "D" : "I") : p->order.sliceType == kSliceP ? "P" : "B";
        out += std::to_string(p->display);
        if (p->order.reference) out += 'r';
        out += ' ';
        s->Retire(p);
    }
    return out;
}

// Pushes `values.size()` pictures (luma values as in Picture), draining after each, then
// ends the stream when asked; returns the coding order.
std::string Schedule(int gop, int bFrames, int refs, const std::vector<int>& values, bool end, int scene = 0) {
    EncoderBlock block;
    MakeBlock(&block, gop, bFrames, refs, scene);
    CFrameScheduler s(block);
    std::string out;
    for (int v : values) {
        EXPECT_EQ(s.DecideFrameType(Picture(v).View(), 0, nullptr, 0), kCoreOk);
        out += Drain(&s);
    }
    if (end) {
        s.EndOfStream();
        out += Drain(&s);
    }
    return out;
}

TEST(FrameScheduler, CodingOrderAndReferences) {
    const std::vector<int> seven(7, 100), ten(10, 100);
    struct Case {
        const char* name;
        int gop, bFrames, refs;
        std::vector<int> values;
        bool end;
        const char* expected;
    } cases[] = {
        {"two B pictures", 12, 2, 1, seven, false, "D0r P3r B1 B2 P6r B4 B5 "},
        {"no B pictures: display order", 12, 0, 1, {100, 100, 100}, false, "D0r P1r P2r "},
        {"GOP 1: every picture I, none a reference but the IDR picture", 1, 2, 1, {100, 100, 100}, false, "D0r I1 I2 "},
        // A GOP of 4: I pictures after the first are not IDR; the last P picture before
        // an I picture is no reference when no B picture leans on it.
        {"GOP 4, no B", 4, 0, 1, seven, true, "D0r P1r P2r P3 I4r P5r P6r "},
        {"GOP 4 cutting a B run", 4, 2, 1, ten, true, "D0r P3r B1 B2 I4r P7r B5 B6 I8r P9 "},
        // The stream ends inside a B run: the last B picture becomes a P picture that the
        // others lean on.
        {"end inside a B run", 0, 3, 2, {100, 100, 100}, true, "D0r P2r B1 "},
        {"end after one B picture", 0, 3, 2, {100, 100}, true, "D0r P1 "},
        {"no references declared: still P pictures", 8, 0, 0, {100, 100}, false, "D0r P1r "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Schedule(c.gop, c.bFrames, c.refs, c.values, c.end), c.expected);
    }
}

TEST(FrameScheduler, EndOfStreamRestartsWithAnIdrPicture) {
    EncoderBlock block;
    MakeBlock(&block, 0, 1, 1, 0);
    CFrameScheduler s(block);
    const Picture p(100);
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(s.DecideFrameType(p.View(), 0, nullptr, 0), kCoreOk);
    EXPECT_EQ(Drain(&s), "D0r ");
    s.EndOfStream();
    EXPECT_EQ(Drain(&s), "P1 ");
    ASSERT_EQ(s.DecideFrameType(p.View(), 0, nullptr, 0), kCoreOk);
    ScheduledPicture* next = s.NextInCodingOrder();
    ASSERT_NE(next, nullptr);
    EXPECT_TRUE(next->order.idr);
    EXPECT_EQ(next->display, 2);              // the display counter keeps counting
    EXPECT_EQ(next->order.displayNumber, 0);  // display order restarts with the IDR picture
}

TEST(FrameScheduler, SceneCutInsideABRunStartsAnIPicture) {
    // A flat grey run, then a ramp: the cut picture is an I picture and the B pictures
    // before it lean on it. The IDR picture itself is analysed, so the picture after it
    // is compared with it (not with an empty histogram) and stays a B picture.
    EXPECT_EQ(Schedule(0, 2, 1, {100, 100, 100, -1, -1}, true, 3), "D0r I3r B1 B2 P4 ");
    // Without the detector the same pictures follow the pattern.
    EXPECT_EQ(Schedule(0, 2, 1, {100, 100, 100, -1, -1}, true, 0), "D0r P3r B1 B2 P4 ");
    // The subsampled-difference detector (kParSceneDetect = 1) finds the same cut.
    EXPECT_EQ(Schedule(0, 2, 1, {100, 100, 100, -1, -1}, true, 1), "D0r I3r B1 B2 P4 ");
}

// Each picture carries its type, display number and coding number once they are known: a
// B picture gets the coding number it has after its anchor.
TEST(FrameScheduler, FrameStampsShowTheCodingNumbers) {
    EncoderBlock block;
    MakeBlock(&block, 12, 1, 1, 0, kFlagDeblocking | kFlagFrameStamps);
    CFrameScheduler s(block);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(s.DecideFrameType(Picture(100).View(), 0, nullptr, 0), kCoreOk);
    const struct {
        int32_t type;
        int64_t display, coding;
    } expected[] = {{kSliceI, 0, 0}, {kSliceP, 2, 1}, {kSliceB, 1, 2}};
    for (const auto& e : expected) {
        ScheduledPicture* p = s.NextInCodingOrder();
        ASSERT_NE(p, nullptr);
        Picture want(100);
        DrawFrameStamp(want.samples.data(), kW, kW, kH, e.type, e.display, e.coding);
        EXPECT_TRUE(std::equal(want.samples.begin(), want.samples.end(), p->samples.begin()))
            << "display " << e.display;
        s.Retire(p);
    }
}

TEST(FrameScheduler, RefusesBadPicturesAndFullBuffers) {
    EncoderBlock block;
    MakeBlock(&block, 0, 1, 1, 0);
    CFrameScheduler s(block);
    const Picture p(100);
    PlanarPicture wrong = p.View();
    wrong.width = kW - 2;
    EXPECT_EQ(s.DecideFrameType(wrong, 0, nullptr, 0), kCoreBadArgument);
    EXPECT_EQ(s.DecideFrameType(p.View(), 0, nullptr, 4), kCoreBadArgument);
    const uint8_t side[4] = {1, 2, 3, 4};
    EXPECT_EQ(s.DecideFrameType(p.View(), 0, side, CFrameScheduler::kMaxSideDataBytes + 1), kCoreBadArgument);
    // Three buffers for one B picture: a fourth push before any picture was taken out is
    // refused and changes nothing.
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(s.DecideFrameType(p.View(), 7, side, 4), kCoreOk);
    EXPECT_EQ(s.DecideFrameType(p.View(), 0, nullptr, 0), kCoreNoSpace);
    ScheduledPicture* first = s.NextInCodingOrder();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->picStruct, 7);
    EXPECT_EQ(first->sideData, std::vector<uint8_t>(side, side + 4));
    EXPECT_EQ(Drain(&s), "P2r B1 ");
}

// The subsampled detector: a cut when the mean difference passes 60, or when it rises by
// more than 17 over the previous picture's; a slow fade is no cut.
TEST(SceneCutDetector, SubsampledDifferences) {
    CDifferenceSceneDetector d(kW, kH);
    const int steps[][2] = {
        {100, 0},                                // nothing to compare with
        {100, 0}, {170, 2},                      // a difference of 70 a sample
        {160, 0}, {170, 0}, {185, 0}, {200, 0},  // 10, 10, 15, 15: a fade
        {235, 2},                                // 35: 20 more than before
        {235, 0}, {251, 0},                      // 0, then 16: not more than 17 above 0
        {251, 0}, {233, 2},                      // 0, then 18 above it
    };
    for (const auto& [value, verdict] : steps) {
        SCOPED_TRACE(value);
        d.Analyse(Picture(value).View());
        EXPECT_EQ(d.Verdict(), verdict);
    }
}

TEST(FrameStamp, GlyphsScaleAndPlace) {
    // 176x144: scale min(160 / 59, 128 / 9, 4) = 2; the line starts at (16, 110).
    constexpr int w = 176, h = 144;
    EXPECT_EQ(FrameStampScale(w, h), 2);
    EXPECT_EQ(FrameStampScale(1920, 1080), 4);
    EXPECT_EQ(FrameStampScale(74, 64), 0);
    std::vector<uint8_t> plane(size_t(w) * h, 77);
    DrawFrameStamp(plane.data(), w, w, h, kSliceP, 12, 3);
    // Cell rows 2-6 of the first three glyphs ("P", the separator, the digit 0) and the
    // margin around them, read back at the cells' top left pixels.
    std::string art;
    for (int cy = 1; cy < 8; ++cy) {
        for (int cx = 1; cx < 17; ++cx) {
            const uint8_t v = plane[size_t(110 + cy * 2) * w + 16 + cx * 2];
            art += v == kStampInk ? '#' : v == kStampBackground ? '.' : '?';
        }
        art += '/';
    }
    EXPECT_EQ(art,
              "................/"
              ".####.......##../"
              ".##.#..##..##.#./"
              ".####..##..####./"
              ".##....##..####./"
              ".##.........##../"
              "................/");
    // Every cell is scale x scale pixels, and nothing outside the line changes.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool inside = x >= 16 && x < 16 + 59 * 2 && y >= 110 && y < 110 + 9 * 2;
            const uint8_t v = plane[size_t(y) * w + x];
            if (!inside) {
                ASSERT_EQ(v, 77) << x << "," << y;
            } else {
                ASSERT_EQ(v, plane[size_t(110 + (y - 110) / 2 * 2) * w + 16 + (x - 16) / 2 * 2]) << x << "," << y;
            }
        }
    // Too small a picture is left alone.
    std::vector<uint8_t> small(74 * 64, 77);
    DrawFrameStamp(small.data(), 74, 74, 64, kSliceI, 1, 1);
    EXPECT_EQ(small, std::vector<uint8_t>(74 * 64, 77));
}

TEST(SceneCutDetector, Verdicts) {
    const Picture grey(100), dark(10), darker(3), ramp(-1);
    {
        // Identical pictures never trigger; the very first comparison (against an empty
        // histogram) of a bright picture is a cut.
        CSceneCutDetector d(kW, kH);
        d.Analyse(grey.View());
        EXPECT_EQ(d.Verdict(), 2);
        for (int i = 0; i < 5; ++i) {
            d.Analyse(grey.View());
            EXPECT_EQ(d.Verdict(), 0);
        }
        d.Analyse(ramp.View());
        EXPECT_EQ(d.Verdict(), 2);
    }
    {
        // Dark content (every value below 20) is ignored whatever changes.
        CSceneCutDetector d(kW, kH);
        for (const Picture* p : {&dark, &darker, &dark, &darker}) {
            d.Analyse(p->View());
            EXPECT_EQ(d.Verdict(), 0);
        }
    }
    {
        // A picture large enough that the sums outgrow 32 bits keeps correct verdicts.
        constexpr int kBig = 8192;
        std::vector<uint8_t> a(size_t(kBig) * kBig, 200), b(size_t(kBig) * kBig, 60);
        PlanarPicture pa{a.data(), a.data(), a.data(), kBig, kBig, kBig, kBig / 2};
        PlanarPicture pb = pa;
        pb.y = b.data();
        CSceneCutDetector d(kBig, kBig);
        d.Analyse(pa);
        EXPECT_EQ(d.Verdict(), 2);
        for (int i = 0; i < 6; ++i) {
            d.Analyse(pa);
            EXPECT_EQ(d.Verdict(), 0);
        }
        d.Analyse(pb);
        EXPECT_EQ(d.Verdict(), 2);
    }
}

}  // namespace
}  // namespace ombrisk
