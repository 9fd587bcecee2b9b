// Pictures of hand-written I_PCM slices through the dispatcher and the picture store:
// output order and count with frame-number gaps and memory_management_control_operation
// 5, the samples of PCM macroblocks, and damaged pictures.
#include "filters/decoder/core/picture_store.h"

#include <gtest/gtest.h>

#include <vector>

#include "filters/decoder/core/decoder_context.h"
#include "tests/support/nal_builder.h"

namespace avcdec {
namespace {

using testsupport::NalBuilder;

// Baseline, 2x2 macroblocks (or 11x9 at level 1, a 4-frame DPB), frame_num and POC lsb in
// 4 bits, one reference frame.
std::vector<uint8_t> Sps(int gapsAllowed, bool qcif = false) {
    NalBuilder b(0x67);
    b.U(8, 66).U(8, 0).U(8, qcif ? 10 : 30).Ue(0).Ue(0).Ue(0).Ue(0).Ue(1).U(1, gapsAllowed);
    b.Ue(qcif ? 10 : 1).Ue(qcif ? 8 : 1).U(1, 1).U(1, 1).U(1, 0);
    b.U(1, 0);
    return b.Nal();
}

std::vector<uint8_t> Pps(bool redundantPicCntPresent = false) {
    NalBuilder b(0x68);
    b.Ue(0).Ue(0).U(1, 0).U(1, 0).Ue(0).Ue(0).Ue(0).U(1, 0).U(2, 0).Se(0).Se(0).Se(0).U(1, 1).U(1, 0);
    b.U(1, redundantPicCntPresent ? 1 : 0);
    return b.Nal();
}

struct Slice {
    bool p;  // a P slice (its I_PCM macroblocks come with mb_skip_run 0 and mb_type 30)
    bool idr;
    int refIdc;
    int frameNum;
    int pocLsb;
    bool mmco5;
    int macroblocks;           // I_PCM macroblocks written (4 fill the picture)
    uint8_t sample;            // every PCM sample of the slice
    int redundantPicCnt = -1;  // written when 0 or more (the PPS must announce it)
};

std::vector<uint8_t> PcmSlice(const Slice& s) {
    NalBuilder b(static_cast<uint8_t>(s.refIdc << 5 | (s.idr ? 5 : 1)));
    b.Ue(0).Ue(s.p ? 5 : 7).Ue(0).U(4, s.frameNum);
    if (s.idr) b.Ue(0);
    b.U(4, s.pocLsb);
    if (s.redundantPicCnt >= 0) b.Ue(s.redundantPicCnt);
    if (s.p) b.U(1, 0).U(1, 0);  // no override, no list modification
    if (s.refIdc != 0) {
        if (s.idr)
            b.U(1, 0).U(1, 0);
        else if (s.mmco5)
            b.U(1, 1).Ue(5).Ue(0);
        else
            b.U(1, 0);
    }
    b.Se(0).Ue(1);  // slice_qp_delta, deblocking off
    for (int mb = 0; mb < s.macroblocks; ++mb) {
        if (s.p)
            b.Ue(0).Ue(30);
        else
            b.Ue(25);
        b.Align();
        for (int i = 0; i < 384; ++i)
            b.U(8, s.sample);
    }
    return b.Nal();
}

struct Output {
    int decodeIndex;
    int damage;
    uint8_t firstLuma, lastChroma;
};

std::vector<Output> Decode(const std::vector<std::vector<uint8_t>>& nals, int errorResilienceMode = 0,
                           int skipLevel = 0) {
    AvcDecoderContext* ctx = AvcDecoderCreate();
    ctx->errorResilienceMode = errorResilienceMode;
    ctx->requestedSkipLevel = skipLevel;
    std::vector<Output> out;
    auto step = [&](int code) {
        if (code != kStepPictureReady) return;
        PictureInfo info{};
        EXPECT_EQ(AvcDecoderGetPictureInfo(ctx, ctx->readyPicture, &info), 0);
        out.push_back({info.decodeIndex, info.damage, info.y[0], info.v[7 * info.pitch + 7]});
        AvcDecoderReleasePicture(ctx->readyPicture);
        ctx->readyPicture = nullptr;
    };
    for (const auto& nal : nals) {
        size_t accepted = 0;
        AvcDecoderPushData(ctx, nal.data(), kNoTimeStamp, nal.size(), &accepted);
        for (int code = -1, guard = 0; code != kStepNeedData && guard < 100; ++guard) {
            code = AvcDecoderDecodeNalUnit(ctx);
            step(code);
        }
    }
    AvcDecoderEndOfStream(ctx);
    for (int code = kStepPictureReady, guard = 0; code == kStepPictureReady && guard < 100; ++guard) {
        code = AvcDecoderDecodeNalUnit(ctx);
        step(code);
    }
    AvcDecoderDestroy(ctx);
    return out;
}

TEST(PictureStore, PcmSamplesLandInThePicture) {
    const auto out = Decode({Sps(0), Pps(), PcmSlice({false, true, 3, 0, 0, false, 4, 77})});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].damage, 0);
    EXPECT_EQ(out[0].firstLuma, 77);
    EXPECT_EQ(out[0].lastChroma, 77);
}

// A redundant coded picture repeats (part of) the primary one, possibly coded otherwise;
// the primary picture, decoded whole, is what is shown, and the repeat is no damage.
TEST(PictureStore, RedundantSlicesLeaveThePrimaryPicture) {
    const auto out = Decode({Sps(0), Pps(true), PcmSlice({false, true, 3, 0, 0, false, 4, 50, 0}),
                             PcmSlice({false, true, 3, 0, 0, false, 4, 90, 1})});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].damage, 0);
    EXPECT_EQ(out[0].firstLuma, 50);
    EXPECT_EQ(out[0].lastChroma, 50);
}

TEST(PictureStore, FrameNumberGapInsertsFramesThatAreNeverOutput) {
    const auto out =
        Decode({Sps(1), Pps(), PcmSlice({false, true, 3, 0, 0, false, 4, 10}),
                PcmSlice({false, false, 3, 3, 6, false, 4, 20}), PcmSlice({false, false, 3, 4, 8, false, 4, 30})});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].firstLuma, 10);
    EXPECT_EQ(out[1].firstLuma, 20);
    EXPECT_EQ(out[2].firstLuma, 30);
}

// Three non-reference pictures wait in a full 4-frame DPB when a frame-number gap arrives:
// the inserted frames bump pictures out while the slice waits, and every picture still
// comes out once, in order.
TEST(PictureStore, FrameNumberGapWithAFullStore) {
    const auto out =
        Decode({Sps(1, true), Pps(), PcmSlice({false, true, 3, 0, 0, false, 99, 1}),
                PcmSlice({false, false, 0, 1, 2, false, 99, 2}), PcmSlice({false, false, 0, 1, 4, false, 99, 3}),
                PcmSlice({false, false, 0, 1, 6, false, 99, 4}), PcmSlice({false, false, 3, 3, 1, false, 99, 5})});
    ASSERT_EQ(out.size(), 5u);
    const int expected[] = {0, 4, 1, 2, 3};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(out[i].decodeIndex, expected[i]) << "output " << i;
    for (const Output& o : out)
        EXPECT_EQ(o.damage, 0);
}

TEST(PictureStore, Operation5OutputsEverythingBeforeAndRestartsTheCounts) {
    // Picture 1 has POC lsb 8 but operation 5 makes its count 0; picture 2 (lsb 2) then
    // follows it. Without the operation, picture 2 would come out before picture 1.
    const auto out =
        Decode({Sps(0), Pps(), PcmSlice({false, true, 3, 0, 0, false, 4, 10}),
                PcmSlice({false, false, 3, 1, 8, true, 4, 20}), PcmSlice({false, false, 3, 1, 2, false, 4, 30})});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].decodeIndex, 0);
    EXPECT_EQ(out[1].decodeIndex, 1);
    EXPECT_EQ(out[2].decodeIndex, 2);
    const auto plain =
        Decode({Sps(0), Pps(), PcmSlice({false, true, 3, 0, 0, false, 4, 10}),
                PcmSlice({false, false, 3, 1, 8, false, 4, 20}), PcmSlice({false, false, 3, 2, 2, false, 4, 30})});
    ASSERT_EQ(plain.size(), 3u);
    EXPECT_EQ(plain[1].decodeIndex, 2);
    EXPECT_EQ(plain[2].decodeIndex, 1);
}

TEST(PictureStore, PictureWithMissingMacroblocksIsDamaged) {
    std::vector<uint8_t> cut = PcmSlice({false, true, 3, 0, 0, false, 4, 50});
    cut.resize(cut.size() - 500);  // the last macroblocks' samples are gone
    const auto out = Decode({Sps(0), Pps(), cut, PcmSlice({false, false, 3, 1, 2, false, 2, 60})});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].damage, 3);
    EXPECT_EQ(out[1].damage, 3) << "a slice that covers half the picture leaves it damaged";
}

}  // namespace
}  // namespace avcdec

namespace avcdec {
namespace {

TEST(PictureStore, PcmMacroblocksOfPSlicesAreDecoded) {
    const auto out = Decode({Sps(0), Pps(), PcmSlice({false, true, 3, 0, 0, false, 4, 10}),
                             PcmSlice({true, false, 3, 1, 2, false, 4, 90})});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].damage, 0);
    EXPECT_EQ(out[1].firstLuma, 90);
    EXPECT_EQ(out[1].lastChroma, 90);
}

// The error-resilience modes and decoding levels skip slices (their pictures are damaged,
// never shown as good).
TEST(PictureStore, SkipRules) {
    const std::vector<std::vector<uint8_t>> startsWithP = {Sps(0), Pps(), PcmSlice({true, false, 3, 0, 0, false, 4, 5}),
                                                           PcmSlice({false, false, 3, 1, 2, false, 4, 6}),
                                                           PcmSlice({false, false, 0, 2, 4, false, 4, 7})};
    struct Case {
        const char* what;
        int mode, level;
        std::vector<int> damage;
    };
    const Case cases[] = {
        {"everything decoded", 0, 0, {0, 0, 0}},
        {"till an I slice: the P picture first", 1, 0, {3, 0, 0}},
        {"till an IDR picture", 3, 0, {3, 3, 3}},
        {"bogus references: the P picture has none", 2, 0, {3, 0, 0}},
        {"level 1: non-reference pictures", 0, 1, {0, 0, 3}},
        {"level 2: and every slice but I", 0, 2, {3, 0, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto out = Decode(startsWithP, c.mode, c.level);
        ASSERT_EQ(out.size(), c.damage.size());
        for (size_t i = 0; i < out.size(); ++i)
            EXPECT_EQ(out[i].damage, c.damage[i]) << "picture " << i;
    }
}

}  // namespace
}  // namespace avcdec

namespace avcdec {
namespace {

// A level_idc outside Table A-1 with the largest picture the syntax allows and 16
// reference frames: no level allows it, so it is refused before any picture memory is
// taken (level 5.1's MaxFS bounds every stream).
TEST(PictureStore, StreamsNoLevelAllowsAreRefusedBeforeAllocating) {
    NalBuilder sps(0x67);
    sps.U(8, 66).U(8, 0).U(8, 99).Ue(0).Ue(0).Ue(0).Ue(0).Ue(16).U(1, 0).Ue(511).Ue(511).U(1, 1).U(1, 1).U(1, 0);
    sps.U(1, 0);
    const auto out = Decode({sps.Nal(), Pps(), PcmSlice({false, true, 3, 0, 0, false, 0, 0})});
    EXPECT_TRUE(out.empty());
    AvcDecoderContext* ctx = AvcDecoderCreate();
    for (const auto& nal : {sps.Nal(), Pps(), PcmSlice({false, true, 3, 0, 0, false, 0, 0})}) {
        size_t accepted = 0;
        AvcDecoderPushData(ctx, nal.data(), kNoTimeStamp, nal.size(), &accepted);
        for (int code = -1, guard = 0; code != kStepNeedData && guard < 10; ++guard)
            code = AvcDecoderDecodeNalUnit(ctx);
    }
    EXPECT_FALSE(ctx->picturesAllocated);
    EXPECT_EQ(ctx->planePool.count, 0);
    ASSERT_NE(ctx->refusal, nullptr);
    EXPECT_STREQ(ctx->refusal, "picture larger than any level of the standard allows");
    AvcDecoderDestroy(ctx);
}

}  // namespace
}  // namespace avcdec
