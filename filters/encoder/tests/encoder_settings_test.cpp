// The settings record's validation, the structural-change rule and the frame-rate rules
// of a streaming run (none of which may write into the stored record).
#include "filters/encoder/encoder_settings.h"

#include <functional>

#include <gtest/gtest.h>

namespace {

using namespace ombrisk;

EncoderSettings Defaults() {
    EncoderSettings s;
    DefaultSettings(&s);
    return s;
}

TEST(EncoderSettings, DefaultsAreValid) {
    EncoderSettings s = Defaults();
    EXPECT_EQ(s[kParGopLength], 30);
    EXPECT_EQ(s[kParAvgBitRate], kUnsetWord);
    EXPECT_EQ(s.fixedRate100, 2500);
    const EncoderSettings before = s;
    ValidateSettings(&s);
    EXPECT_EQ(s, before);
}

TEST(EncoderSettings, ValidationClampsInPlace) {
    struct Case {
        const char* what;
        std::function<void(EncoderSettings&)> set;
        std::function<void(const EncoderSettings&)> check;
    };
    const Case cases[] = {
        {"GOP not above B + 1", [](EncoderSettings& s) { s[kParGopLength] = 1, s[kParBFrames] = 3; },
         [](const EncoderSettings& s) {
             EXPECT_EQ(s[kParBFrames], 3);
             EXPECT_EQ(s[kParGopLength], 4);
         }},
        {"GOP at most 300", [](EncoderSettings& s) { s[kParGopLength] = 301; },
         [](const EncoderSettings& s) { EXPECT_EQ(s[kParGopLength], 300); }},
        {"Baseline: no B pictures, no CABAC", [](EncoderSettings& s) { s[kParProfile] = 66; },
         [](const EncoderSettings& s) {
             EXPECT_EQ(s[kParBFrames], 0);
             EXPECT_EQ(s[kParCabac], 0);
         }},
        {"unknown level", [](EncoderSettings& s) { s[kParLevel] = 33; },
         [](const EncoderSettings& s) { EXPECT_EQ(s[kParLevel], 52); }},
        {"known level", [](EncoderSettings& s) { s[kParLevel] = 51; },
         [](const EncoderSettings& s) { EXPECT_EQ(s[kParLevel], 51); }},
        {"unknown profile", [](EncoderSettings& s) { s[kParProfile] = 100; },
         [](const EncoderSettings& s) { EXPECT_EQ(s[kParProfile], 77); }},
        {"average between minimum and maximum",
         [](EncoderSettings& s) {
             s[kParAvgBitRate] = 4000000, s[kParMinBitRate] = 6000000, s[kParMaxBitRate] = 2000000;
         },
         [](const EncoderSettings& s) {
             EXPECT_EQ(s[kParMinBitRate], 4000000);
             EXPECT_EQ(s[kParMaxBitRate], 4000000);
         }},
        {"no average: minimum and maximum ordered",
         [](EncoderSettings& s) { s[kParMinBitRate] = 5000000, s[kParMaxBitRate] = 3000000; },
         [](const EncoderSettings& s) {
             EXPECT_EQ(s[kParAvgBitRate], kUnsetWord);
             EXPECT_EQ(s[kParMinBitRate], 3000000);
             EXPECT_EQ(s[kParMaxBitRate], 3000000);
         }},
        {"rates capped", [](EncoderSettings& s) { s[kParAvgBitRate] = 400000000, s[kParMaxBitRate] = 500000000; },
         [](const EncoderSettings& s) {
             EXPECT_EQ(s[kParAvgBitRate], kMaxBitRate);
             EXPECT_EQ(s[kParMaxBitRate], kMaxBitRate);
         }},
        {"negative sub-pixel depth is masked", [](EncoderSettings& s) { s[kParSubpelDepth] = -3; },
         [](const EncoderSettings& s) { EXPECT_EQ(s[kParSubpelDepth], 1); }},
        {"partitions keep bits 1-6 and set bit 0", [](EncoderSettings& s) { s[kParPartitions] = 0xF0; },
         [](const EncoderSettings& s) { EXPECT_EQ(s[kParPartitions], 0x71); }},
        {"aspect 14 refused, 255 kept", [](EncoderSettings& s) { s[kParAspectIdc] = 14, s[kParSarWidth] = 255; },
         [](const EncoderSettings& s) { EXPECT_EQ(s[kParAspectIdc], 0); }},
        {"frame rate 0", [](EncoderSettings& s) { s[kParFrameRate100] = 0; },
         [](const EncoderSettings& s) { EXPECT_EQ(s[kParFrameRate100], 1); }},
        {"frame rate 20000", [](EncoderSettings& s) { s[kParFrameRate100] = 20000; },
         [](const EncoderSettings& s) { EXPECT_EQ(s[kParFrameRate100], 17200); }},
        {"fixed rate 0 is a divisor", [](EncoderSettings& s) { s.fixedRate100 = 0; },
         [](const EncoderSettings& s) { EXPECT_EQ(s.fixedRate100, 1); }},
        {"slices", [](EncoderSettings& s) { s[kParSliceCount] = -4; },
         [](const EncoderSettings& s) { EXPECT_EQ(s[kParSliceCount], 1); }},
        {"slices above 128", [](EncoderSettings& s) { s[kParSliceCount] = 500; },
         [](const EncoderSettings& s) { EXPECT_EQ(s[kParSliceCount], 128); }},
        {"flags keep deblocking and stamps", [](EncoderSettings& s) { s[kParFlags] = 0xFF; },
         [](const EncoderSettings& s) { EXPECT_EQ(s[kParFlags], 6); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EncoderSettings s = Defaults();
        c.set(s);
        ValidateSettings(&s);
        c.check(s);
    }
    EncoderSettings s = Defaults();
    s[kParAspectIdc] = 255;
    ValidateSettings(&s);
    EXPECT_EQ(s[kParAspectIdc], 255);
}

TEST(EncoderSettings, StructuralWords) {
    const EncoderSettings running = Defaults();
    EncoderSettings changed = running;
    changed[kParAvgBitRate] = 2000000;
    changed[kParQpI] = 20;
    EXPECT_FALSE(StructuralWordsDiffer(running, changed));
    changed[kParGopLength] = 12;
    EXPECT_TRUE(StructuralWordsDiffer(running, changed));
}

TEST(EncoderSettings, StreamRates) {
    EncoderSettings s = Defaults();  // target 25.00
    // 30 frames/s input thinned to 25.
    StreamRates r = StartRates(s, 333333, RateFromDuration(333333));
    EXPECT_EQ(r.source, 333333);
    EXPECT_EQ(r.target, 400000);
    EXPECT_EQ(r.targetRate100, 2500);
    // 25 frames/s input: every picture at the input rate.
    r = StartRates(s, 400000, 2500);
    EXPECT_EQ(r.target, 400000);
    EXPECT_EQ(r.targetRate100, 2500);
    // A fixed frame rate sets both.
    s.fixedRateOn = true;
    s.fixedRate100 = 3000;
    r = StartRates(s, 400000, 2500);
    EXPECT_EQ(r.source, 333333);
    EXPECT_EQ(r.targetRate100, 3000);
    s.fixedRateOn = false;

    // The first sample lasts 417,083 while the type said 25 frames/s.
    const EncoderSettings stored = s;
    r = StartRates(s, 400000, 2500);
    ASSERT_TRUE(DetectedRates(s, 417083, &r));
    EXPECT_EQ(r.source, 417083);
    EXPECT_EQ(r.target, 417083);
    EXPECT_EQ(r.targetRate100, 2397);
    EXPECT_EQ(s, stored);  // the user's record is not touched
    int32_t words[kParamWords];
    CoreParameterWords(s, r.targetRate100, words);
    EXPECT_EQ(words[kParFrameRate100], 2397);
    // Within 100 units: nothing changes; very short samples are not measured.
    r = StartRates(s, 400000, 2500);
    EXPECT_FALSE(DetectedRates(s, 400050, &r));
    EXPECT_FALSE(DetectedRates(s, 10, &r));
    EXPECT_EQ(DurationFromRate(0), 0);
    EXPECT_EQ(RateFromDuration(0), 0);
}

TEST(EncoderSettings, PicStruct) {
    constexpr int64_t S = 400000;
    struct Case {
        bool timeValid, fixed;
        int64_t duration;
        bool interlaced;
        uint32_t flags;
        int expected;
    } cases[] = {
        {true, false, S, false, 0, 0},                  // a plain frame
        {true, false, 600000, false, kField1First, 5},  // 1.5 periods, top first
        {true, false, 600049, false, 0, 6},             // bottom first
        {true, false, 2 * S, false, 0, 7},              // doubled
        {true, false, 3 * S, false, 0, 8},              // tripled
        {true, true, 2 * S, false, 0, 0},               // fixed rate: durations ignored
        {false, false, 2 * S, false, 0, 0},             // no times
        {true, false, S, true, kField1First, 3},        // interleaved, top first
        {true, false, S, true, 0, 4},                   // interleaved, bottom first
        {true, false, S, true, 1, 0},                   // one field: a frame picture
        {true, false, S, true, 2 | kField1First, 0},    // likewise
    };
    for (const Case& c : cases)
        EXPECT_EQ(ComputePicStruct(c.timeValid, c.fixed, c.duration, S, c.interlaced, c.flags), c.expected)
            << c.duration << " " << c.flags;
}

}  // namespace
