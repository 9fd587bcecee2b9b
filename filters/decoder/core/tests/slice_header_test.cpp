// Slice headers written by hand: the values the decoder refuses, and what it keeps.
#include "filters/decoder/core/slice_header.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/decoder_result.h"
#include "filters/decoder/core/picture_store.h"
#include "tests/support/nal_builder.h"

namespace avcdec {
namespace {

using testsupport::NalBuilder;

// Baseline, level 3.0, 2x2 macroblocks, frame_num and POC lsb in 4 bits, one reference.
NalBuilder Sps() {
    NalBuilder b(0x67);
    b.U(8, 66).U(8, 0).U(8, 30).Ue(0).Ue(0).Ue(0).Ue(0).Ue(1).U(1, 0).Ue(1).Ue(1).U(1, 1).U(1, 1).U(1, 0).U(1, 0);
    return b;
}

// weighted_pred_flag as given, deblocking filter control present.
NalBuilder Pps(int id, int weighted) {
    NalBuilder b(0x68);
    b.Ue(id).Ue(0).U(1, 0).U(1, 0).Ue(0).Ue(0).Ue(0).U(1, weighted).U(2, 0).Se(0).Se(0).Se(0).U(1, 1).U(1, 0).U(1, 0);
    return b;
}

class SliceHeaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ctx_ = AvcDecoderCreate();
        ASSERT_NE(ctx_, nullptr);
        Feed(Sps());
        Feed(Pps(0, 0));
        Feed(Pps(1, 1));
    }
    void TearDown() override { AvcDecoderDestroy(ctx_); }

    void Feed(const NalBuilder& b) {
        nal_ = b.Nal();
        size_t accepted = 0;
        AvcDecoderPushData(ctx_, nal_.data(), kNoTimeStamp, nal_.size(), &accepted);
        AvcDecoderDecodeNalUnit(ctx_);
    }

    // Parses a non-reference P slice header whose fields after frame_num and POC lsb the
    // callback writes; returns the result of the second half.
    int ParseP(int ppsId, const std::function<void(NalBuilder&)>& rest) {
        NalBuilder b(0x01);
        b.Ue(0).Ue(5).Ue(ppsId).U(4, 1).U(4, 2);
        rest(b);
        b.U(1, 1);  // a macroblock's worth of data so the header is not the last bit
        nal_ = b.Nal();
        std::vector<uint8_t> rbsp(nal_.size());
        rbsp.resize(RemoveEmulationPrevention(nal_.data(), nal_.data() + nal_.size(), rbsp.data()));
        nal_ = rbsp;
        ctx_->nal->payload = nal_.data();
        ctx_->nal->length = nal_.size();
        ctx_->nal->nal_ref_idc = 0;
        ctx_->nal->nal_unit_type = 1;
        if (ParseSliceHeaderStart(ctx_) != kDecoderOk) return -100;
        return ParseSliceHeaderRest(ctx_);
    }

    AvcDecoderContext* ctx_ = nullptr;
    std::vector<uint8_t> nal_;
};

TEST_F(SliceHeaderTest, RefusesValuesOutsideTheirRanges) {
    struct Case {
        const char* what;
        int ppsId;
        std::function<void(NalBuilder&)> rest;  // from num_ref_idx_active_override_flag on
        int expected;
    };
    auto qp = [](int delta, int idc, int alpha, int beta) {
        return [=](NalBuilder& b) {
            b.U(1, 0).U(1, 0).Se(delta).Ue(idc);
            if (idc != 1) b.Se(alpha).Se(beta);
        };
    };
    const Case cases[] = {
        {"slice QP 51", 0, qp(25, 0, 0, 0), kDecoderOk},
        {"slice QP 52", 0, qp(26, 0, 0, 0), kDecoderOutOfRange},
        {"slice QP -1", 0, qp(-27, 0, 0, 0), kDecoderOutOfRange},
        {"disable_deblocking_filter_idc 2 with offsets 6 and -6", 0, qp(0, 2, 6, -6), kDecoderOk},
        {"disable_deblocking_filter_idc 3", 0, qp(0, 3, 0, 0), kDecoderOutOfRange},
        {"alpha offset 7", 0, qp(0, 0, 7, 0), kDecoderOutOfRange},
        {"beta offset -7", 0, qp(0, 0, 0, -7), kDecoderOutOfRange},
        {"31 active references", 0, [](NalBuilder& b) { b.U(1, 1).Ue(31).U(1, 0).Se(0).Ue(1); }, kDecoderOk},
        {"33 active references", 0, [](NalBuilder& b) { b.U(1, 1).Ue(32).U(1, 0).Se(0).Ue(1); }, kDecoderOutOfRange},
        {"32 modification commands", 0,
         [](NalBuilder& b) {
             b.U(1, 0).U(1, 1);
             for (int i = 0; i < 32; ++i)
                 b.Ue(0).Ue(0);
             b.Ue(3).Se(0).Ue(1);
         },
         kDecoderOk},
        {"33 modification commands", 0,
         [](NalBuilder& b) {
             b.U(1, 0).U(1, 1);
             for (int i = 0; i < 33; ++i)
                 b.Ue(0).Ue(0);
             b.Ue(3).Se(0).Ue(1);
         },
         kDecoderOutOfRange},
        {"weights within range", 1,
         [](NalBuilder& b) { b.U(1, 0).U(1, 0).Ue(7).Ue(0).U(1, 1).Se(-128).Se(127).U(1, 0).Se(0).Ue(1); }, kDecoderOk},
        {"luma_log2_weight_denom 8", 1,
         [](NalBuilder& b) { b.U(1, 0).U(1, 0).Ue(8).Ue(0).U(1, 0).U(1, 0).Se(0).Ue(1); }, kDecoderOutOfRange},
        {"luma weight 128", 1,
         [](NalBuilder& b) { b.U(1, 0).U(1, 0).Ue(7).Ue(0).U(1, 1).Se(128).Se(0).U(1, 0).Se(0).Ue(1); },
         kDecoderOutOfRange},
        {"chroma offset -129", 1,
         [](NalBuilder& b) { b.U(1, 0).U(1, 0).Ue(0).Ue(0).U(1, 0).U(1, 1).Se(1).Se(-129).Se(1).Se(0).Se(0).Ue(1); },
         kDecoderOutOfRange},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ParseP(c.ppsId, c.rest), c.expected);
    }
}

TEST_F(SliceHeaderTest, KeepsWhatItReads) {
    ASSERT_EQ(ParseP(1,
                     [](NalBuilder& b) {
                         b.U(1, 1).Ue(2).U(1, 1).Ue(1).Ue(4).Ue(3);                   // 3 references, one command
                         b.Ue(5).Ue(3).U(1, 1).Se(-3).Se(9).U(1, 0);                  // denominators, ref 0 luma
                         b.U(1, 0).U(1, 0).U(1, 0).U(1, 1).Se(2).Se(-1).Se(4).Se(5);  // ref 2 chroma
                         b.Se(-4).Ue(2).Se(-2).Se(3);
                     }),
              kDecoderOk);
    const SliceHeader& s = ctx_->slice;
    EXPECT_EQ(s.sliceKind, kSliceP);
    EXPECT_EQ(s.frame_num, 1);
    EXPECT_EQ(s.pic_order_cnt_lsb, 2);
    EXPECT_EQ(s.numRefIdxActive[0], 3);
    ASSERT_EQ(s.commandCount[0], 1);
    EXPECT_EQ(s.commands[0][0].modification_of_pic_nums_idc, 1);
    EXPECT_EQ(s.commands[0][0].value, 4);
    EXPECT_EQ(s.sliceQp, 22);
    EXPECT_EQ(s.disable_deblocking_filter_idc, 2);
    EXPECT_EQ(s.FilterOffsetA, -4);
    EXPECT_EQ(s.FilterOffsetB, 6);
    const PredWeightTable& w = *ctx_->predWeights;
    EXPECT_EQ(w.luma_log2_weight_denom, 5);
    EXPECT_EQ(w.weight[0][0][0], -3);
    EXPECT_EQ(w.offset[0][0][0], 9);
    EXPECT_EQ(w.weight[0][1][0], 32);  // default 2^5
    EXPECT_EQ(w.weight[0][2][1], 2);
    EXPECT_EQ(w.offset[0][2][1], -1);
    EXPECT_EQ(w.weight[0][2][2], 4);
    EXPECT_EQ(w.offset[0][2][2], 5);
    EXPECT_EQ(w.weight[0][1][1], 8);  // default 2^3
    EXPECT_EQ(w.weight[0][2][0], 32);
    // Index 0 has its own luma weight, 2 its own chroma ones; 1 and the unparsed ones keep
    // the defaults, so their partitions need no weighting.
    EXPECT_EQ(w.weightedRefs[0], 0b101u);
    EXPECT_EQ(w.weightedRefs[1], 0u);
}

// Implicit bi-prediction weights (clause 8.4.2.3.2) from the order counts of the current
// picture and its references, and explicit ones copied from the two lists' tables.
TEST(BiPredWeights, ImplicitAndExplicit) {
    AvcDecoderContext* ctx = AvcDecoderCreate();
    ASSERT_NE(ctx, nullptr);
    PicParamSet pps{};
    auto store = std::make_unique<PictureStore>();
    PictureRecord current{}, near{}, far{}, sameAsNear{}, longTerm{};
    current.picOrderCnt = 2;
    near.picOrderCnt = 0;
    far.picOrderCnt = 8;
    sameAsNear.picOrderCnt = 0;
    longTerm.picOrderCnt = 4;
    longTerm.flags = kPicRefMask | kPicLongTermMask;
    store->refList[0][0] = &near;
    store->refList[0][1] = &longTerm;
    store->refList[1][0] = &far;
    store->refList[1][1] = &sameAsNear;
    ctx->activePps = &pps;
    ctx->store = store.get();
    ctx->currentPicture = &current;
    ctx->decoding = &current;
    ctx->slice.numRefIdxActive[0] = 2;
    ctx->slice.numRefIdxActive[1] = 2;

    pps.weighted_bipred_idc = 2;
    BuildBiPredWeights(ctx, current.picOrderCnt);
    const PredWeightTable& w = *ctx->predWeights;
    EXPECT_EQ(w.luma_log2_weight_denom, 5);
    EXPECT_EQ(w.lumaRounding, 16);
    // tb 2, td 8: tx 2048, DistScaleFactor 64, so w1 16 and w0 48 (the nearer picture
    // weighs more).
    EXPECT_EQ(w.w0[0][0][0], 48);
    EXPECT_EQ(w.w1[0][0][2], 16);
    EXPECT_EQ(w.w0[0][1][1], 32) << "both references have the same order count";
    EXPECT_EQ(w.w1[1][0][0], 32) << "a long-term reference";
    EXPECT_EQ(w.weightedRefs[0] | w.weightedRefs[1], 0u) << "implicit single-list weights are the defaults";

    pps.weighted_bipred_idc = 1;
    ctx->predWeights->weight[0][1][2] = -7;
    ctx->predWeights->weight[1][0][2] = 9;
    BuildBiPredWeights(ctx, current.picOrderCnt);
    EXPECT_EQ(w.w0[1][0][2], -7);
    EXPECT_EQ(w.w1[1][0][2], 9);

    ctx->activePps = nullptr;
    ctx->store = nullptr;
    ctx->currentPicture = nullptr;
    ctx->decoding = nullptr;
    AvcDecoderDestroy(ctx);
}

TEST(ChromaQp, FollowsTable815) {
    const int expected[][2] = {{0, 0}, {29, 29}, {30, 29}, {34, 32}, {39, 35}, {45, 38}, {51, 39}};
    for (const auto& e : expected)
        EXPECT_EQ(ChromaQp(e[0]), e[1]) << "qPi " << e[0];
}

}  // namespace
}  // namespace avcdec
