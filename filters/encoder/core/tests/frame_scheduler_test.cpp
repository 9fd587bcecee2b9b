// The frame scheduler: picture types, coding order, references, end of stream inside a B
// run, scene cuts, and refusals; the scene-cut detector's verdicts.
#include "filters/encoder/core/frame_scheduler.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/encoder/core/core_result.h"

namespace ombrisk {
namespace {

constexpr int kW = 64, kH = 48;

void MakeBlock(EncoderBlock* block, int gop, int bFrames, int refs, int scene) {
    int32_t params[kParamWords];
    DefaultParameterWords(params);
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
