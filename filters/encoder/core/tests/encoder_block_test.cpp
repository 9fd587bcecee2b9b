#include "filters/encoder/core/encoder_block.h"

#include <array>

#include <tuple>

#include <gtest/gtest.h>

#include "filters/encoder/core/core_result.h"

namespace ombrisk {
namespace {

std::array<int32_t, kParamWords> DefaultParams() {
    int32_t words[kParamWords];
    DefaultParameterWords(words);
    std::array<int32_t, kParamWords> p;
    std::copy(std::begin(words), std::end(words), p.begin());
    return p;
}

int Store(EncoderBlock* b, const std::array<int32_t, kParamWords>& p, int cpus) {
    int32_t words[kParamWords];
    std::copy(p.begin(), p.end(), words);
    return StoreParameterRecord(b, words, cpus);
}

// The coded size is the input's rounded up to whole macroblocks (macroblock pairs for an
// interlaced source); the input picture is read in YV12 order at the input's own pitch.
TEST(EncoderBlock, CodedSizeAndInputLayout) {
    struct Case {
        int w, h;
        bool interlaced;
        int codedW, codedH;
    };
    const Case cases[] = {
        {720, 576, false, 720, 576}, {176, 144, false, 176, 144},    {1920, 1080, false, 1920, 1088},
        {16, 16, false, 16, 16},     {18, 30, false, 32, 32},        {100, 50, false, 112, 64},
        {720, 480, true, 720, 480},  {1920, 1080, true, 1920, 1088}, {720, 500, true, 720, 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << (c.interlaced ? "i" : "p"));
        EncoderBlock b;
        auto p = DefaultParams();
        if (c.interlaced) p[kParFlags] |= kFlagInterlaced;
        ASSERT_EQ(Store(&b, p, 4), kCoreOk);
        ASSERT_EQ(StorePictureRecord(&b, c.w, c.h, 4, 3, 4), kCoreOk);
        FillChromaGeometry(&b);
        EXPECT_EQ(b.picture.codedWidth, c.codedW);
        EXPECT_EQ(b.picture.codedHeight, c.codedH);
        EXPECT_EQ(b.picture.secondPlaneOffset, c.w * c.h);                         // Cr
        EXPECT_EQ(b.picture.thirdPlaneOffset, c.w * c.h + (c.w / 2) * (c.h / 2));  // Cb
        EXPECT_EQ(b.picture.lumaPitch, c.w);
        EXPECT_EQ(b.sourceWidth, c.w);
        EXPECT_EQ(b.sourceHeight, c.h);
        EXPECT_EQ(b.chroma.width, c.codedW / 2);
        EXPECT_EQ(b.chroma.height, c.codedH / 2);
        EXPECT_EQ(b.macroblocks.count, c.codedW / 16 * (c.codedH / 16));
        EXPECT_TRUE(b.initialised());
    }
}

TEST(EncoderBlock, RefusedSizesLeaveTheBlockAlone) {
    struct Case {
        int w, h;
        bool interlaced;
    };
    const Case cases[] = {{0, 0, false},
                          {8, 64, false},
                          {64, 15, false},
                          {-16, 64, false},
                          {17, 64, false},
                          {64, 33, false},
                          {8194, 64, false},
                          {64, 8194, false},
                          {720, 578, true},
                          // Beyond level 5.1 (36864 macroblocks), or 4.1 (8192) when
                          // interlaced.
                          {4096, 2320, false},
                          {1920, 1120, true}};
    for (const Case& c : cases) {
        EncoderBlock b;
        auto p = DefaultParams();
        if (c.interlaced) p[kParFlags] |= kFlagInterlaced;
        ASSERT_EQ(Store(&b, p, 1), kCoreOk);
        const EncoderBlock before = b;
        EXPECT_EQ(StorePictureRecord(&b, c.w, c.h, 4, 3, 1), kCoreBadSize) << c.w << "x" << c.h;
        EXPECT_TRUE(b == before);
    }
    EXPECT_EQ(StorePictureRecord(nullptr, 64, 64, 1, 1, 1), kCoreBadArgument);
    // The largest pictures each level holds are taken.
    for (auto [w, h, interlaced] : {std::tuple{4096, 2304, false}, {8192, 64, false}, {2048, 1024, true}}) {
        EncoderBlock b;
        auto p = DefaultParams();
        if (interlaced) p[kParFlags] |= kFlagInterlaced;
        ASSERT_EQ(Store(&b, p, 1), kCoreOk);
        EXPECT_EQ(StorePictureRecord(&b, w, h, 4, 3, 1), kCoreOk) << w << "x" << h;
    }

    // An interlaced setting arriving after a size it cannot crop is refused as well.
    EncoderBlock b;
    ASSERT_EQ(StorePictureRecord(&b, 720, 578, 4, 3, 1), kCoreOk);
    auto p = DefaultParams();
    p[kParFlags] |= kFlagInterlaced;
    EXPECT_EQ(Store(&b, p, 1), kCoreBadSize);
    p = DefaultParams();
    p[kParChromaFormat] = 0;
    EXPECT_EQ(Store(&b, p, 1), kCoreUnsupported);
    EXPECT_EQ(b.param(kParGopLength), 0);  // nothing stored
}

TEST(EncoderBlock, SettleRules) {
    struct Case {
        const char* name;
        int gop, refs, search, slices, cpus, w, h;
        int wantRefs, wantSearch, wantSlices;
    };
    const Case cases[] = {
        {"auto refs with GOP > 1", 30, -1, 1, 2, 4, 720, 576, 1, 1, 2},
        {"auto refs with GOP 1", 1, -1, 1, 2, 4, 720, 576, 0, 0, 2},
        {"GOP 1 forces refs and search off", 1, 3, 1, 2, 4, 720, 576, 0, 0, 2},
        {"explicit refs kept", 30, 3, 0, 2, 4, 720, 576, 3, 0, 2},
        {"no refs with GOP > 1 becomes one", 30, 0, 1, 2, 4, 720, 576, 1, 1, 2},
        {"refs and the B anchor at most 16", 30, 16, 1, 2, 4, 720, 576, 15, 1, 2},
        {"slice count 0 on one processor", 30, -1, 1, 0, 1, 720, 576, 1, 1, 1},
        {"slice count 0 takes the processor count", 30, -1, 1, 0, 8, 720, 576, 1, 1, 8},
        {"slice count capped at macroblocks", 30, -1, 1, 128, 4, 32, 32, 1, 1, 4},
        {"processor count capped too", 30, -1, 1, 0, 64, 16, 48, 1, 1, 3},
        {"negative slice count", 30, -1, 1, -5, 4, 720, 576, 1, 1, 1},
    };
    for (const Case& c : cases) {
        for (bool pictureFirst : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.name << (pictureFirst ? ", picture first" : ""));
            EncoderBlock b;
            auto p = DefaultParams();
            p[kParGopLength] = c.gop;
            p[kParRefFrames] = c.refs;
            p[kParMotionSearch] = c.search;
            p[kParSliceCount] = c.slices;
            if (pictureFirst) {
                ASSERT_EQ(StorePictureRecord(&b, c.w, c.h, 1, 1, c.cpus), kCoreOk);
            }
            ASSERT_EQ(Store(&b, p, c.cpus), kCoreOk);
            if (!pictureFirst) {
                ASSERT_EQ(StorePictureRecord(&b, c.w, c.h, 1, 1, c.cpus), kCoreOk);
            }
            EXPECT_EQ(b.param(kParRefFrames), c.wantRefs);
            EXPECT_EQ(b.param(kParMotionSearch), c.wantSearch);
            EXPECT_EQ(b.param(kParSliceCount), c.wantSlices);
        }
    }
}

}  // namespace
}  // namespace ombrisk
