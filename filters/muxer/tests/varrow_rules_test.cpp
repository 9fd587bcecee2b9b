// The filter's arithmetic: pool sizes from bit rates, the settings
// page's value texts and the numbers it reads back from an edit.
#include <gtest/gtest.h>

#include "filters/muxer/mux_filter_rules.h"

namespace {

using varrow::ComputePoolSize;

TEST(VarrowRules, PoolSizesFollowTheBitRateWithinTheBounds) {
    struct Case {
        int32_t type;
        int64_t bitrate;
        int64_t input;
        bool allocator;
        bool audio;
        int32_t size, limit;
    } cases[] = {
        // MPEG-2 video at 8 Mbit/s: E = max(1,000,000, 3 x 4,000,000).
        {1, 8000000, 1000000, true, false, 4000000, 12000000},
        // Audio at 128 kbit/s: E = 1,000,000, raised to 1 MiB; D = 32,000.
        {2, 128000, 1000000, true, true, 32000, 0x100000},
        // Video at a low rate is raised to 4 MiB.
        {10, 100000, 1000000, true, false, 200000, 0x400000},
        // H.264 at 27 Mbit/s would ask 162,000,000 bytes: the parameter's bound holds, and
        // the buffer fits the limit.
        {10, 27000000, 1000000, true, false, 15000000, 45000000},
        // MPEG-4 has no rate rule: its buffers are a third of the limit, never 0 bytes.
        {5, 8000000, 1000000, true, false, 0x400000 / 3, 0x400000},
        // No upstream allocator: 1 MiB audio, 6 MiB otherwise, in thirds.
        {3, 448000, 1000000, false, true, 0x100000 / 3, 0x100000},
        {1, 448000, 1000000, false, false, 0x600000 / 3, 0x600000},
        // A rate that would overflow 32 bits stays in 64 and within the bound.
        {1, int64_t{1} << 36, 1000000, true, false, 15000000, 45000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " rate " << c.bitrate);
        const varrow::PoolSize p = ComputePoolSize(c.type, c.bitrate, c.input, c.allocator, c.audio);
        EXPECT_EQ(p.bufferSize, c.size);
        EXPECT_EQ(p.byteLimit, c.limit);
        EXPECT_GT(p.bufferSize, 0);
        EXPECT_LE(p.bufferSize, p.byteLimit);
    }
}

TEST(VarrowRules, ValueTexts) {
    using varrow::FormatValue;
    using varrow::ValueText;
    EXPECT_EQ(FormatValue(ValueText::Grouped, 1000000), " 1 000 000");
    EXPECT_EQ(FormatValue(ValueText::Grouped, 0), " 0");
    EXPECT_EQ(FormatValue(ValueText::Grouped, 120000), " 120 000");
    EXPECT_EQ(FormatValue(ValueText::Percent, 12), "12%");
    EXPECT_EQ(FormatValue(ValueText::Clock, 3723456), " 01:02:03,456");
    EXPECT_EQ(FormatValue(ValueText::Clock, -1500), "-00:00:01,500");
    // 64-bit milliseconds: more than 24 days do not wrap.
    EXPECT_EQ(FormatValue(ValueText::Clock, int64_t{3000000000}), " 833:20:00,000");
    EXPECT_EQ(FormatValue(ValueText::FixedPoint, (25 << 16) | 3), "25.3");
    EXPECT_EQ(FormatValue(ValueText::Id, 481), "481 (0x1e1)");
    EXPECT_EQ(FormatValue(ValueText::Plain, -7), "-7");
}

TEST(VarrowRules, EditedNumbers) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    } cases[] = {{"2M", true, 2097152}, {"0x1F", true, 31}, {"1FH", true, 31}, {"512K", true, 524288},
                 {"1000", true, 1000},  {"-5", true, -5},   {"abc", false, 0}, {"", false, 0}};
    for (const Case& c : cases) {
        int32_t v = 0;
        EXPECT_EQ(varrow::ParseEditedValue(c.text, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

}  // namespace
