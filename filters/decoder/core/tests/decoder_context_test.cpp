#include "filters/decoder/core/decoder_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "filters/decoder/core/slice_decoding.h"
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

TEST(DecoderContext, DpbSizeFromLevelAndFrameSize) {
    struct Case {
        int level, widthMbs, heightMapUnits, frameMbsOnly, numRefFrames, expected;
        int maxDecFrameBuffering = -1;  // -1: no bitstream restriction
    };
    const Case cases[] = {
        {51, 120, 68, 1, 4, 16},  // 70778880 / 3133440 = 22, but never above 16 frames
        {40, 120, 68, 1, 1, 4},
        {30, 45, 36, 1, 1, 5},
        {30, 45, 18, 0, 1, 5},    // a field-coded frame has twice the map units
        {40, 120, 68, 1, 9, 10},  // num_ref_frames not below the level's count
        {99, 11, 9, 1, 3, 4},     // a level outside the table
        {10, 11, 9, 1, 0, 4},
        {10, 120, 68, 1, 0, 1},  // 0 becomes 1
        {51, 1, 1, 1, 0, 16},
        {99, 256, 144, 1, 16, 5},  // whatever the level says, level 5.1's MaxDpbMbs bounds the memory
        // The stream's own max_dec_frame_buffering, below or above its level's, and never
        // below num_ref_frames + 1.
        {30, 45, 36, 1, 0, 1, 0},
        {31, 80, 45, 1, 3, 4, 3},
        {31, 80, 45, 1, 2, 3, 1},
        {40, 120, 68, 1, 1, 6, 6},
        {51, 120, 68, 1, 4, 16, 16},
    };
    AvcDecoderContext* ctx = AvcDecoderCreate();
    EXPECT_EQ(DpbSize(ctx), 0);
    SeqParamSet sps{};
    ctx->activeSps = &sps;
    for (const Case& c : cases) {
        sps.level_idc = c.level;
        sps.pic_width_in_mbs_minus1 = c.widthMbs - 1;
        sps.pic_height_in_map_units_minus1 = c.heightMapUnits - 1;
        sps.frame_mbs_only_flag = c.frameMbsOnly;
        sps.num_ref_frames = c.numRefFrames;
        sps.bitstream_restriction_flag = c.maxDecFrameBuffering >= 0;
        sps.max_dec_frame_buffering = c.maxDecFrameBuffering;
        EXPECT_EQ(DpbSize(ctx), c.expected) << "level " << c.level << " " << c.widthMbs << "x" << c.heightMapUnits;
    }
    ctx->activeSps = nullptr;
    AvcDecoderDestroy(ctx);
}

// Every sample of every plane with its borders lies inside the plane set's allocation
// (the sanitizers of the host-asan build check the writes) and the planes do not overlap.
TEST(DecoderContext, FramePlanePoolLayout) {
    for (int frameMbsOnly : {1, 0}) {
        AvcDecoderContext* ctx = AvcDecoderCreate();
        SeqParamSet sps{};
        sps.valid = 1;
        sps.level_idc = 30;
        sps.pic_width_in_mbs_minus1 = 10;
        sps.pic_height_in_map_units_minus1 = frameMbsOnly ? 8 : 3;
        sps.frame_mbs_only_flag = frameMbsOnly;
        sps.num_ref_frames = 2;
        ctx->activeSps = &sps;
        ASSERT_EQ(ActivateSeqParamSet(ctx), 0);
        const int border = frameMbsOnly ? 20 : 40;
        EXPECT_EQ(ctx->planePool.count, DpbSize(ctx) + 2);
        EXPECT_EQ(ctx->planePool.border, border);
        const int w = ctx->width, h = ctx->height, pitch = ctx->lumaPitch;
        for (int i = 0; i < ctx->planePool.count; ++i) {
            const FramePlaneSet& s = ctx->planePool.sets[i];
            ASSERT_EQ(reinterpret_cast<uintptr_t>(s.base) % 16, 0u);
            for (int y = -border; y < h + border; ++y)
                for (int x = -32; x < w + 32; ++x)
                    s.y[y * pitch + x] = 1;
            for (uint8_t* plane : {s.u, s.v}) {
                for (int y = -border / 2; y < h / 2 + border / 2; ++y)
                    for (int x = -16; x < w / 2 + 16; ++x)
                        plane[y * pitch + x] += 2;
            }
            // Luma untouched by chroma, and Cb and Cr side by side without overlap.
            EXPECT_EQ(s.y[(h + border - 1) * pitch + w + 31], 1);
            EXPECT_EQ(s.u[(h / 2 + border / 2 - 1) * pitch + w / 2 + 15], 2);
            EXPECT_EQ(s.v[-(border / 2) * pitch - 16], 2);
        }
        ctx->activeSps = nullptr;
        AvcDecoderDestroy(ctx);
    }
}

// The thread count is taken before the first activation only, and one or two alone.
TEST(DecoderContext, ThreadCountBeforeActivationOnly) {
    AvcDecoderContext* ctx = AvcDecoderCreate();
    EXPECT_EQ(AvcDecoderSetThreads(nullptr, 1), -5);
    for (int threads : {0, 3, -1})
        EXPECT_EQ(AvcDecoderSetThreads(ctx, threads), -1) << threads;
    EXPECT_EQ(AvcDecoderSetThreads(ctx, 2), 0);
    EXPECT_EQ(AvcDecoderSetThreads(ctx, 1), 0);
    SeqParamSet sps{};
    sps.valid = 1;
    sps.level_idc = 30;
    sps.pic_width_in_mbs_minus1 = 10;
    sps.pic_height_in_map_units_minus1 = 8;
    sps.frame_mbs_only_flag = 1;
    sps.num_ref_frames = 2;
    ctx->activeSps = &sps;
    ASSERT_EQ(ActivateSeqParamSet(ctx), 0);
    EXPECT_TRUE(ctx->deblockOnDecodingThread);
    EXPECT_EQ(AvcDecoderSetThreads(ctx, 2), -1);
    EXPECT_TRUE(ctx->deblockOnDecodingThread);
    ctx->activeSps = nullptr;
    AvcDecoderDestroy(ctx);
}

// Decision: a failed activation clears the pending action and drops the held slice, so
// the next step takes new input instead of trying again for ever.
TEST(DecoderContext, FailedActivationDropsTheHeldSlice) {
    AvcDecoderContext* ctx = AvcDecoderCreate();
    const Bytes next = {0, 0, 1, 0x09, 0x10, 0, 0, 1};
    size_t accepted = 0;
    AvcDecoderPushData(ctx, next.data(), kNoTimeStamp, next.size(), &accepted);
    ctx->pendingAction = 2;
    ctx->activeSps = nullptr;  // what activation needs is gone
    EXPECT_EQ(AvcDecoderDecodeByteStream(ctx), kStepDropped);
    EXPECT_EQ(ctx->pendingAction, 0);
    EXPECT_FALSE(ctx->picturesAllocated);
    EXPECT_EQ(AvcDecoderDecodeByteStream(ctx), kStepConsumed);
    EXPECT_EQ(ctx->nal->nal_unit_type, 9) << "the next NAL unit was extracted";
    EXPECT_EQ(AvcDecoderDecodeByteStream(ctx), kStepNeedData);
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

// x264 writes SPS, PPS, the picture-timing SEI, then the first slice, whose activation
// allocates the pictures: the message read before it still reaches the first picture, so
// every picture of a 3:2 pull-down stream carries its pic_struct.
TEST(DecoderContext, TimingBeforeTheFirstActivationReachesTheFirstPicture) {
    Bytes stream;
    const auto& cases = avcdec_test::X264Cases();
    const auto pulldown = std::find_if(
        cases.begin(), cases.end(), [](const avcdec_test::X264Case& c) { return std::string(c.name) == "pulldown"; });
    ASSERT_NE(pulldown, cases.end());
    ASSERT_TRUE(avcdec_test::MakeX264Stream(*pulldown, &stream));
    // End of sequence and end of stream close the last slice's NAL unit.
    stream.insert(stream.end(), {0, 0, 1, 0x0A, 0, 0, 1, 0x0B, 0, 0, 1, 0x0B});
    AvcDecoderContext* ctx = AvcDecoderCreate();
    std::vector<std::pair<int, int>> timings;  // decode index, pic_struct (-1 without timing)
    auto take = [&] {
        PictureRecord* pic = ctx->readyPicture;
        ctx->readyPicture = nullptr;
        PictureInfo info{};
        ASSERT_EQ(AvcDecoderGetPictureInfo(ctx, pic, &info), 0);
        const PictureTiming* t = AvcDecoderGetPictureTiming(pic);
        timings.emplace_back(info.decodeIndex, t != nullptr && t->valid ? t->pic_struct : -1);
        AvcDecoderReleasePicture(pic);
    };
    size_t accepted = 0;
    AvcDecoderPushData(ctx, stream.data(), 0, stream.size(), &accepted);
    ASSERT_EQ(accepted, stream.size());
    for (int i = 0, code = -1; code != kStepNeedData && i < 100000; ++i) {
        code = AvcDecoderDecodeByteStream(ctx);
        if (code == kStepPictureReady) take();
    }
    AvcDecoderEndOfStream(ctx);
    for (int i = 0; i < 1000; ++i) {
        const int code = AvcDecoderDecodeByteStream(ctx);
        if (code == kStepPictureReady) {
            take();
            continue;
        }
        if (code != kStepConsumed || !ctx->draining) break;
    }
    ASSERT_EQ(timings.size(), 12u);
    std::sort(timings.begin(), timings.end());
    EXPECT_EQ(timings[0].first, 0);
    for (const auto& [index, picStruct] : timings)
        EXPECT_TRUE(picStruct >= 3 && picStruct <= 6) << "picture " << index << " pic_struct " << picStruct;
    EXPECT_EQ(timings[0].second, 5) << "x264's 3:2 pattern starts top, bottom, top";

    // A flush drops a message read for a picture that never came.
    ctx->pendingTiming.valid = 1;
    AvcDecoderReset(ctx);
    EXPECT_EQ(ctx->pendingTiming.valid, 0);
    AvcDecoderDestroy(ctx);
}

}  // namespace
}  // namespace avcdec

namespace avcdec {
namespace {

// Clause 8.2.2.8: in a stream that allows fields a map unit is a pair of macroblocks one
// above the other; a frame picture gives it to both, a field picture's macroblocks are the
// units. A 4 x 4 macroblock picture (4 x 2 map units), two slice groups.
TEST(SliceGroupMap, InterlacedMapUnitsCoverTwoMacroblockRows) {
    struct Case {
        const char* what;
        int32_t mapType, changeCycle, frameMbsOnly, fieldPic;
        std::vector<uint8_t> expected;  // by macroblock address of the picture
    };
    const std::vector<Case> cases = {
        {"raster, frame picture", 4, 3, 0, 0, {0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        {"raster, field picture", 4, 3, 0, 1, {0, 0, 0, 1, 1, 1, 1, 1}},
        {"dispersed, frame picture", 1, 0, 0, 0, {0, 1, 0, 1, 0, 1, 0, 1, 1, 0, 1, 0, 1, 0, 1, 0}},
        {"dispersed, frames only", 1, 0, 1, 0, {0, 1, 0, 1, 1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 1, 0}},
        {"wipe, frame picture", 5, 3, 0, 0, {0, 0, 1, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AvcDecoderContext* ctx = AvcDecoderCreate();
        ASSERT_NE(ctx, nullptr);
        SeqParamSet sps{};
        sps.pic_width_in_mbs_minus1 = 3;
        sps.frame_mbs_only_flag = c.frameMbsOnly;
        sps.pic_height_in_map_units_minus1 = c.frameMbsOnly ? 3 : 1;
        PicParamSet pps{};
        pps.num_slice_groups_minus1 = 1;
        pps.slice_group_map_type = c.mapType;
        uint8_t map[16];
        std::fill(std::begin(map), std::end(map), 0xEE);
        ctx->activeSps = &sps;
        ctx->activePps = &pps;
        ctx->picWidthInMbs = 4;
        ctx->frameHeightInMbs = 4;
        ctx->mbCount = 16;
        ctx->sliceGroupMap = map;
        ctx->slice.field_pic_flag = c.fieldPic;
        ctx->slice.slice_group_change_cycle = c.changeCycle;
        EXPECT_EQ(BuildSliceGroupMap(ctx), 0);
        EXPECT_EQ(std::vector<uint8_t>(map, map + c.expected.size()), c.expected);
        ctx->activeSps = nullptr;
        ctx->activePps = nullptr;
        ctx->sliceGroupMap = nullptr;
        AvcDecoderDestroy(ctx);
    }
}

}  // namespace
}  // namespace avcdec
