// Rate control: constant QP per type, refusals, and the bit-rate models' steering on
// synthetic pictures whose bits follow C x 2^(-QP/6).
#include "filters/encoder/core/rate_control.h"

#include <cmath>
#include <initializer_list>
#include <utility>

#include <gtest/gtest.h>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/syntax_writer.h"

namespace ombrisk {
namespace {

EncoderBlock MakeBlock(std::initializer_list<std::pair<int, int32_t>> words, int width = 720, int height = 576) {
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

TEST(RateControl, ConstantQpAndRefusals) {
    const EncoderBlock constant = MakeBlock({{kParRateMode, 0}, {kParQpI, 20}, {kParQpP, 31}, {kParQpB, 60}});
    CRateControl rc(constant);
    ASSERT_EQ(rc.status(), kCoreOk);
    EXPECT_EQ(rc.StartPicture(kSliceI), 20);
    rc.EndPicture(100000);
    EXPECT_EQ(rc.StartPicture(kSliceP), 31);
    EXPECT_EQ(rc.StartPicture(kSliceB), 51);  // clamped to the QP range

    struct Case {
        const char* name;
        std::initializer_list<std::pair<int, int32_t>> words;
        int status;
    } cases[] = {
        {"mode 4", {{kParRateMode, 4}}, kCoreUnsupported},
        {"rate 0", {{kParRateMode, 2}, {kParAvgBitRate, 0}}, kCoreBadArgument},
        {"negative rate", {{kParRateMode, 3}, {kParAvgBitRate, -5}}, kCoreBadArgument},
        {"frame rate 0", {{kParRateMode, 2}, {kParFrameRate100, 0}}, kCoreBadArgument},
        {"0.5 fps", {{kParRateMode, 3}, {kParFrameRate100, 50}, {kParAvgBitRate, 1000000}}, kCoreOk},
        {"unset rate at 1080p", {{kParRateMode, 2}, {kParFrameRate100, 6000}}, kCoreOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EncoderBlock b = MakeBlock(c.words, 1920, 1080);
        CRateControl r(b);
        EXPECT_EQ(r.status(), c.status);
    }
    // An unset rate follows the picture size and frame rate: 1920x1088 x 60 / 8 bits/s,
    // beyond 32 bits before the division.
    const EncoderBlock hd = MakeBlock({{kParRateMode, 2}, {kParFrameRate100, 6000}}, 1920, 1080);
    EXPECT_EQ(CRateControl(hd).targetBitRate(), int64_t(1920) * 1088 * 6000 / 800);
}

// Pictures of a GOP of 12 with one B picture whose bits follow the model with the given
// complexities; returns the bits per second spent over `seconds`.
double Simulate(CRateControl* rc, double fps, int seconds, double complexity, int* minQp) {
    double bits = 0;
    const int pictures = int(fps * seconds);
    for (int n = 0; n < pictures; ++n) {
        const int32_t type = n % 12 == 0 ? kSliceI : n % 2 ? kSliceB : kSliceP;
        const int qp = rc->StartPicture(type);
        *minQp = std::min(*minQp, qp);
        const double scale = type == kSliceI ? 1.0 : type == kSliceP ? 0.3 : 0.12;
        const double b = complexity * scale * std::exp2(-qp / 6.0);
        rc->EndPicture(int64_t(b));
        bits += b;
    }
    return bits / seconds;
}

TEST(RateControl, BitRateModesFollowTheTarget) {
    for (int mode : {2, 3})
        for (int32_t rate : {1000000, 2000000, 4000000}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", " << rate << " bit/s");
            const EncoderBlock b =
                MakeBlock({{kParRateMode, mode}, {kParAvgBitRate, rate}, {kParGopLength, 12}, {kParBFrames, 1}});
            CRateControl rc(b);
            ASSERT_EQ(rc.status(), kCoreOk);
            int minQp = 51;
            const double spent = Simulate(&rc, 25, 20, 4e7, &minQp);
            EXPECT_NEAR(spent / rate, 1.0, 0.05);
            EXPECT_GE(minQp, 5);  // the CAVLC floor
        }
    // Content that cannot spend the rate (black pictures): the QP rests at the floor and
    // nothing breaks; at half a picture per second the target is met as well.
    const EncoderBlock slow = MakeBlock(
        {{kParRateMode, 3}, {kParAvgBitRate, 1000000}, {kParFrameRate100, 50}, {kParGopLength, 12}, {kParBFrames, 1}});
    CRateControl black(slow);
    int minQp = 51;
    Simulate(&black, 0.5, 400, 0, &minQp);
    EXPECT_EQ(minQp, 5);
    CRateControl busy(slow);
    minQp = 51;
    EXPECT_NEAR(Simulate(&busy, 0.5, 400, 4e7, &minQp) / 1000000, 1.0, 0.1);
}

}  // namespace
}  // namespace ombrisk
