#include <gtest/gtest.h>

#include "filters/muxer/mux_filter_rules.h"

TEST(VarrowRules, Placeholder) {
    EXPECT_EQ(varrow::FrameRateCode(400000), 3);
}
