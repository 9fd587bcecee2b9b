// Thumbnail reduction: the fitted size and area averaging, including partly covered pixels.
#include "engines/player/frame_scale.h"

#include <gtest/gtest.h>

namespace {

TEST(FrameScale, FitsWithinTheBoxKeepingTheAspect) {
    struct Case {
        uint32_t w, h, maxW, maxH, wantW, wantH;
    } cases[] = {
        {320, 240, 160, 120, 160, 120},  // exact half
        {720, 576, 160, 120, 150, 120},  // height binds
        {720, 480, 160, 120, 160, 107},  // width binds, rounded
        {100, 50, 160, 120, 100, 50},    // never enlarged
        {4000, 1, 160, 120, 160, 1},     // at least one row
        {640, 480, 0, 0, 640, 480},      // no bound
    };
    for (const Case& c : cases) {
        uint32_t w = 0, h = 0;
        engines::FitWithin(c.w, c.h, c.maxW, c.maxH, &w, &h);
        EXPECT_EQ(w, c.wantW) << c.w << "x" << c.h;
        EXPECT_EQ(h, c.wantH) << c.w << "x" << c.h;
    }
}

TEST(FrameScale, EachOutputPixelIsTheMeanOfTheAreaItCovers) {
    // 3 x 1 -> 2 x 1: the middle pixel is shared half and half.
    const uint32_t row[] = {0x000000, 0x303030, 0x909090};
    const auto out = engines::ScaleDownArea(row, 3, 1, 2, 1);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], 0x101010u);  // (0 * 2 + 0x30) / 3
    EXPECT_EQ(out[1], 0x707070u);  // (0x30 + 0x90 * 2) / 3
    // Channels are averaged apart: 2 x 2 -> 1 x 1.
    const uint32_t square[] = {0xFF0000, 0x00FF00, 0x0000FF, 0x000000};
    const auto one = engines::ScaleDownArea(square, 2, 2, 1, 1);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0], 0x404040u);  // 255 / 4 rounds to 64 in each channel
    // Enlarging, empty sizes and short input are refused.
    EXPECT_TRUE(engines::ScaleDownArea(row, 3, 1, 4, 1).empty());
    EXPECT_TRUE(engines::ScaleDownArea(row, 3, 1, 0, 1).empty());
    EXPECT_TRUE(engines::ScaleDownArea(row, 3, 2, 1, 1).empty());
}

}  // namespace
