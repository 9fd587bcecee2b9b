#include "filters/decoder/core/decoder_context.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "filters/decoder/core/tests/x264_fixtures.h"

namespace avcdec {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(DecoderContext, CreateDestroyAndNullContext) {
    AvcDecoderContext* ctx = AvcDecoderCreate();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(ctx) % 16, 0u) << "the pixel kernels need 16-byte alignment";
    EXPECT_FALSE(ctx->picturesAllocated);
    EXPECT_EQ(ctx->lastSliceKind, -1);
    AvcDecoderDestroy(ctx);
    AvcDecoderDestroy(nullptr);
    size_t accepted = 0;
    EXPECT_EQ(AvcDecoderPushData(nullptr, nullptr, 0, 0, &accepted), -5);
    EXPECT_EQ(AvcDecoderDecodeByteStream(nullptr), -5);
    EXPECT_EQ(AvcDecoderDecodeNalUnit(nullptr), -5);
    EXPECT_EQ(AvcDecoderEndOfStream(nullptr), -5);
    EXPECT_EQ(AvcDecoderReset(nullptr), -5);
    EXPECT_EQ(ActivateSeqParamSet(nullptr), -5);
}

TEST(DecoderContext, PushWithoutTimeStampKeepsThePendingStamps) {
    AvcDecoderContext* ctx = AvcDecoderCreate();
    const Bytes data = {0, 0, 1, 0x09};
    size_t accepted = 0;
    AvcDecoderPushData(ctx, data.data(), 77, data.size(), &accepted);
    AvcDecoderPushData(ctx, data.data(), kNoTimeStamp, data.size(), &accepted);
    EXPECT_EQ(ctx->input->currentTime, 77);
    EXPECT_EQ(ctx->input->pendingTimes, 1);
    AvcDecoderReset(ctx);
    EXPECT_EQ(ctx->input->pendingTimes, 0);
    EXPECT_EQ(ctx->nal->skipToStartCode, 1);
    EXPECT_EQ(ctx->input->dataStart, nullptr);
    AvcDecoderDestroy(ctx);
}

// Pushes a whole stream and returns the step codes up to the end of the data.
std::vector<int> Steps(AvcDecoderContext* ctx, const Bytes& stream) {
    size_t accepted = 0;
    AvcDecoderPushData(ctx, stream.data(), 0, stream.size(), &accepted);
    std::vector<int> codes;
    for (int code = -1; code != kStepNeedData && codes.size() < 100000;) {
        code = AvcDecoderDecodeByteStream(ctx);
        codes.push_back(code);
    }
    return codes;
}

// The first slice needs the picture resources: step 7 once, then the draining step 1,
// then the held slice with the new geometry. A stream of another size does it again.
TEST(DecoderContext, PictureSizeChangeReturnsSevenOnce) {
    Bytes small, large;
    ASSERT_TRUE(avcdec_test::MakeX264Stream(avcdec_test::X264Cases()[0], &small));
    ASSERT_TRUE(avcdec_test::MakeX264Stream({"cif", "352x288", "--profile baseline"}, &large));
    AvcDecoderContext* ctx = AvcDecoderCreate();

    auto codes = Steps(ctx, small);
    // SPS, PPS, SEI, then the IDR slice.
    ASSERT_GE(codes.size(), 7u);
    EXPECT_EQ((std::vector<int>(codes.begin(), codes.begin() + 6)),
              (std::vector<int>{1, 1, 1, kStepFormatChange, 1, 1}));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kStepFormatChange), 1);
    EXPECT_TRUE(ctx->picturesAllocated);
    EXPECT_EQ(ctx->width, 176);
    EXPECT_EQ(ctx->height, 144);
    EXPECT_EQ(ctx->lumaPitch, 176 + 64);
    EXPECT_EQ(ctx->paddedRows, 144 + 40);
    EXPECT_EQ(ctx->mbCount, 11 * 9);

    codes = Steps(ctx, large);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kStepFormatChange), 1);
    EXPECT_EQ(ctx->width, 352);
    EXPECT_EQ(ctx->height, 288);
    EXPECT_EQ(ctx->pendingAction, 0);

    // The same size again needs nothing new.
    codes = Steps(ctx, large);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kStepFormatChange), 0);
    AvcDecoderDestroy(ctx);
}

TEST(DecoderContext, EndOfStreamNalUnitAndSingleNalSteps) {
    AvcDecoderContext* ctx = AvcDecoderCreate();
    const Bytes stream = {0, 0, 1, 0x0B, 0, 0, 1, 0x09, 0x10, 0, 0, 1};
    auto codes = Steps(ctx, stream);
    EXPECT_EQ(codes, (std::vector<int>{kStepEndOfStream, kStepConsumed, kStepNeedData}));

    const Bytes aud = {0x09, 0x10};
    size_t accepted = 0;
    AvcDecoderPushData(ctx, aud.data(), 5, aud.size(), &accepted);
    EXPECT_EQ(AvcDecoderDecodeNalUnit(ctx), kStepConsumed);
    EXPECT_EQ(AvcDecoderDecodeNalUnit(ctx), kStepNeedData);
    AvcDecoderDestroy(ctx);
}

}  // namespace
}  // namespace avcdec
