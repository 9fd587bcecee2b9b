#include "app/services/time_code.h"

#include <gtest/gtest.h>

namespace services {
namespace {

constexpr float kNtsc = 30.0f;
constexpr float kPal = 25.0f;

TEST(TimeCode, FramesAndTimesInBothStandards) {
    struct Case {
        int32_t frames;
        float rate;
        int64_t time;
    } cases[] = {
        {0, kNtsc, 0},
        {1, kNtsc, 333333},
        {30, kNtsc, 10'000'000},
        {1, kPal, 400'000},
        {25, kPal, 10'000'000},
        {-25, kPal, -10'000'000},
        // Past 214 frames the product no longer fits 32 bits; it must not wrap.
        {300, kNtsc, 100'000'000},
        {1000, kPal, 400'000'000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frames << " frames at " << c.rate);
        EXPECT_EQ(FramesToTimeAtTvRate(c.frames, c.rate), c.time);
        EXPECT_EQ(TimeToFramesAtTvRate(c.time, c.rate), c.frames >= 0 ? c.frames : c.frames + 1);
    }
    // Rounds to the nearest frame.
    EXPECT_EQ(TimeToFramesAtTvRate(333333, kNtsc), 1);
    EXPECT_EQ(TimeToFramesAtTvRate(150'000, kNtsc), 0);
    EXPECT_EQ(TimeToFramesAtTvRate(170'000, kNtsc), 1);
    // The rate of the batch dialog is not rounded through single precision first.
    EXPECT_EQ(FramesToTimeAtRate(1, 29.97f), 333667);
    EXPECT_EQ(FramesToTimeAtRate(100'000, 25.0f), 40'000'000'000);
}

TEST(TimeCode, FormatsTimesAsTimeCodeText) {
    constexpr int64_t kSecond = kTimeUnitsPerSecond;
    struct Case {
        int64_t time;
        bool hundredths;
        float rate;
        const char* text;
    } cases[] = {
        {0, false, kNtsc, "00:00:00:00"},
        {0, false, kPal, "00:00:00:00"},
        {9'900'000, false, kNtsc, "00:00:01:00"},  // 29.7 frames round up into the next second
        {9'900'000, false, kPal, "00:00:01:00"},   // 24.75 frames round to 25: the next second
        {9'500'000, false, kPal, "00:00:00:24"},
        {4'800'000, false, kPal, "00:00:00:12"},
        {12'340'000, true, kNtsc, "00:00:01:23"},
        {12'340'000, true, kPal, "00:00:01:23"},  // hundredths ignore the TV format
        {359'999 * kSecond + 29 * 333'333, false, kNtsc, "99:59:59:29"},
        {359'999 * kSecond + 24 * 400'000, false, kPal, "99:59:59:24"},
        {359'999 * kSecond + 9'990'000, false, kPal, "100:00:00:00"},  // carry through every field
        {100 * 3600 * kSecond, false, kNtsc, "100:00:00:00"},
        {(3600 + 2 * 60 + 3) * kSecond + 5 * 400'000, false, kPal, "01:02:03:05"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FormatTimeCodeAtRate(c.time, c.hundredths, c.rate), c.text);
    }
}

TEST(TimeCode, TapePositionsToTimes) {
    EXPECT_EQ(TimeCodeToTimeAtRate({0, 0, 1, 15}, kPal), 16'000'000);
    EXPECT_EQ(TimeCodeToTimeAtRate({0, 0, 1, 15}, kNtsc), 15'000'000);
    EXPECT_EQ(TimeCodeToTimeAtRate({1, 2, 3, 24}, kPal), 3723 * kTimeUnitsPerSecond + 9'600'000);
    EXPECT_EQ(TimeCodeToTimeAtRate({99, 59, 59, 29}, kNtsc), 359'999 * kTimeUnitsPerSecond + 9'666'667);

    // Invalid codes (frames past the rate, an unreadable tape's 0xFF bytes) stay defined:
    // no field wraps, the frames only add their own share.
    EXPECT_EQ(TimeCodeToTimeAtRate({0, 0, 0, 30}, kNtsc), kTimeUnitsPerSecond);
    EXPECT_EQ(TimeCodeToTimeAtRate({0, 0, 0, 25}, kPal), kTimeUnitsPerSecond);
    const int64_t garbage = TimeCodeToTimeAtRate({0xFF, 0xFF, 0xFF, 0xFF}, kPal);
    const int64_t wholeSeconds = (255 * 60 + 255) * 60 + 255;
    EXPECT_GE(garbage, wholeSeconds * kTimeUnitsPerSecond + 101'990'000);
    EXPECT_LE(garbage, wholeSeconds * kTimeUnitsPerSecond + 102'010'000);
}

TEST(TimeCode, ClampsTwoRanges) {
    struct Case {
        TimeRangePair pair;
        int64_t start, end, offset;
    } cases[] = {
        {{10, 100, 20, 80}, 20, 80, 10}, {{30, 60, 20, 80}, 30, 60, 10},
        {{10, 100, -1, -1}, 10, 100, 0},  // second unset: the first range, no offset
        {{-1, -1, 5, 50}, 5, 50, 0},     {{10, -1, -1, 70}, 10, 70, 0},
        {{-1, -1, -1, -1}, 777, 888, 0},  // nothing set: outputs unchanged
    };
    for (const Case& c : cases) {
        int64_t start = 777, end = 888, offset = 999;
        ClampTimeRange(c.pair, &start, &end, &offset);
        EXPECT_EQ(start, c.start);
        EXPECT_EQ(end, c.end);
        EXPECT_EQ(offset, c.offset);
    }
}

}  // namespace
}  // namespace services
