#include "filters/decoder/core/param_sets.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "filters/decoder/core/decoder_context.h"
#include "tests/support/nal_builder.h"
#include "filters/decoder/core/tests/x264_fixtures.h"

namespace avcdec {
namespace {

using testsupport::NalBuilder;
using Bytes = std::vector<uint8_t>;

// Fields of a sequence parameter set that a test may change; written in syntax order.
struct SpsFields {
    int profile = 77, set3 = 0, level = 30, id = 0, log2FrameNum = 0, pocType = 0, log2Poc = 2;
    int pocCycle = 0, numRefFrames = 4, widthMbs = 11, heightMapUnits = 9, frameMbsOnly = 1;
    int crop = 0, cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    bool vui = false;
    std::function<void(NalBuilder&)> writeVui;
};

Bytes Sps(const SpsFields& f) {
    NalBuilder b(0x67);
    b.U(8, f.profile).U(3, 0).U(1, f.set3).U(4, 0).U(8, f.level).Ue(f.id).Ue(f.log2FrameNum).Ue(f.pocType);
    if (f.pocType == 0) b.Ue(f.log2Poc);
    if (f.pocType == 1) {
        b.U(1, 0).Se(-2).Se(1).Ue(f.pocCycle);
        for (int i = 0; i < f.pocCycle && i < 300; ++i)
            b.Se(i % 5 - 2);
    }
    b.Ue(f.numRefFrames).U(1, 0).Ue(f.widthMbs - 1).Ue(f.heightMapUnits - 1).U(1, f.frameMbsOnly);
    if (!f.frameMbsOnly) b.U(1, 0);
    b.U(1, 1).U(1, f.crop);
    if (f.crop) b.Ue(f.cropLeft).Ue(f.cropRight).Ue(f.cropTop).Ue(f.cropBottom);
    b.U(1, f.vui ? 1 : 0);
    if (f.vui) f.writeVui(b);
    return b.Nal();
}

// A VUI of timing at 1001/60000 and a NAL HRD of one CPB (cpb_removal_delay u(10),
// dpb_output_delay u(6), time_offset i(8)), with pic_struct.
std::function<void(NalBuilder&)> HrdVui(uint32_t bitRateMinus1, uint32_t cpbSizeMinus1) {
    return [=](NalBuilder& b) {
        b.U(1, 0).U(1, 0).U(1, 0).U(1, 0).U(1, 1).U(32, 1001).U(32, 60000).U(1, 1);
        b.U(1, 1).Ue(0).U(4, 1).U(4, 2).Ue(bitRateMinus1).Ue(cpbSizeMinus1).U(1, 0).U(5, 23).U(5, 9).U(5, 5).U(5, 8);
        b.U(1, 0).U(1, 0).U(1, 1).U(1, 0);
    };
}

Bytes Pps(int ppsId, int spsId, const std::function<void(NalBuilder&)>& groups = nullptr) {
    NalBuilder b(0x68);
    b.Ue(ppsId).Ue(spsId).U(1, 0).U(1, 0);
    if (groups)
        groups(b);
    else
        b.Ue(0);
    b.Ue(2).Ue(0).U(1, 0).U(2, 0).Se(-3).Se(0).Se(-2).U(1, 1).U(1, 0).U(1, 0);
    return b.Nal();
}

class ParamSets : public ::testing::Test {
protected:
    void SetUp() override {
        ctx = AvcDecoderCreate();
        ASSERT_NE(ctx, nullptr);
    }
    void TearDown() override { AvcDecoderDestroy(ctx); }
    // Makes nal the context's current NAL unit, as extraction leaves it.
    void Current(const Bytes& nal) {
        held.resize(nal.size());
        held.resize(RemoveEmulationPrevention(nal.data(), nal.data() + nal.size(), held.data()));
        ctx->nal->payload = held.data();
        ctx->nal->length = held.size();
        ctx->nal->nal_unit_type = held[0] & 31;
    }
    int ParseSps(const SpsFields& f) {
        Current(Sps(f));
        return ParseSeqParamSet(ctx);
    }
    AvcDecoderContext* ctx = nullptr;
    Bytes held;
};

TEST_F(ParamSets, ProfilesOutsideBaselineMainExtendedAreRefused) {
    for (int profile : {100, 110, 44, 0}) {
        SpsFields f;
        f.profile = profile;
        EXPECT_EQ(ParseSps(f), -1) << profile;
        EXPECT_EQ(ctx->refusedProfileIdc, profile);
        EXPECT_FALSE(ctx->sps[0].valid);
    }
    for (int profile : {66, 77, 88}) {
        SpsFields f;
        f.profile = profile;
        EXPECT_EQ(ParseSps(f), 0) << profile;
        EXPECT_EQ(ctx->activeSps, &ctx->sps[0]);
    }
    SpsFields f;  // constraint_set3_flag (level 1b in Baseline) is accepted
    f.set3 = 1;
    f.id = 3;
    EXPECT_EQ(ParseSps(f), 0);
    EXPECT_TRUE(ctx->sps[3].valid);
}

// Values outside the standard or the record: rejected with -8, the slot untouched.
TEST_F(ParamSets, OutOfRangeSequenceParameterSetsAreRejected) {
    struct Case {
        const char* what;
        std::function<void(SpsFields&)> change;
        int expected;
    };
    const Case cases[] = {
        {"num_ref_frames 16", [](SpsFields& f) { f.numRefFrames = 16; }, 0},
        {"num_ref_frames 17", [](SpsFields& f) { f.numRefFrames = 17; }, -8},
        {"seq_parameter_set_id 32", [](SpsFields& f) { f.id = 32; }, -8},
        {"log2_max_frame_num_minus4 12", [](SpsFields& f) { f.log2FrameNum = 12; }, 0},
        {"log2_max_frame_num_minus4 13", [](SpsFields& f) { f.log2FrameNum = 13; }, -8},
        {"log2_max_pic_order_cnt_lsb_minus4 13", [](SpsFields& f) { f.log2Poc = 13; }, -8},
        {"pic_order_cnt_type 3", [](SpsFields& f) { f.pocType = 3; }, -8},
        {"poc cycle 255",
         [](SpsFields& f) {
             f.pocType = 1;
             f.pocCycle = 255;
         },
         0},
        {"poc cycle 256",
         [](SpsFields& f) {
             f.pocType = 1;
             f.pocCycle = 256;
         },
         -8},
        {"width 8192",
         [](SpsFields& f) {
             f.level = 0;
             f.widthMbs = 512;
             f.heightMapUnits = 1;
         },
         0},
        {"width 8208",
         [](SpsFields& f) {
             f.level = 0;
             f.widthMbs = 513;
             f.heightMapUnits = 1;
         },
         -8},
        {"field height 8192 + 32",
         [](SpsFields& f) {
             f.level = 0;
             f.frameMbsOnly = 0;
             f.heightMapUnits = 257;
         },
         -8},
        {"level 30 at its MaxFS",
         [](SpsFields& f) {
             f.widthMbs = 45;
             f.heightMapUnits = 36;
         },
         0},
        {"level 30 above MaxFS: kept, activation bounds it",
         [](SpsFields& f) {
             f.widthMbs = 45;
             f.heightMapUnits = 37;
         },
         0},
        {"cropping the whole width",
         [](SpsFields& f) {
             f.crop = 1;
             f.cropLeft = 44;
             f.cropRight = 44;
         },
         -8},
        {"cropping all but 2 columns",
         [](SpsFields& f) {
             f.crop = 1;
             f.cropLeft = 43;
             f.cropRight = 44;
         },
         0},
        {"cropping the whole height",
         [](SpsFields& f) {
             f.crop = 1;
             f.cropBottom = 72;
         },
         -8},
        {"cropping a huge offset",
         [](SpsFields& f) {
             f.crop = 1;
             f.cropTop = 60000;
         },
         -8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AvcDecoderDestroy(ctx);
        ctx = AvcDecoderCreate();
        SpsFields f;
        c.change(f);
        EXPECT_EQ(ParseSps(f), c.expected);
        EXPECT_EQ(ctx->sps[f.id < 32 ? f.id : 0].valid, c.expected == 0 ? 1 : 0);
    }
}

// A VUI out of range (cpb_cnt_minus1 32, log2_max_mv_length 17) costs the set its VUI
// only; log2_max_mv_length 16, which earlier editions allow, is kept.
TEST_F(ParamSets, VuiErrorKeepsTheSetWithoutItsVui) {
    struct Case {
        int32_t cpbCntMinus1, mvLength;
        bool vuiKept;
    };
    for (const Case c : {Case{32, 0, false}, Case{31, 16, true}, Case{0, 17, false}}) {
        SCOPED_TRACE(testing::Message() << "cpb_cnt_minus1 " << c.cpbCntMinus1 << ", mv length " << c.mvLength);
        ctx->sps[0] = SeqParamSet{};
        SpsFields f;
        f.numRefFrames = 3;
        f.vui = true;
        f.writeVui = [c](NalBuilder& b) {
            b.U(1, 0).U(1, 0).U(1, 0).U(1, 0).U(1, 1).U(32, 1001).U(32, 60000).U(1, 1);
            b.U(1, 1).Ue(c.cpbCntMinus1).U(4, 1).U(4, 2);
            for (int i = 0; i <= c.cpbCntMinus1; ++i)
                b.Ue(1000 + i).Ue(2000).U(1, i & 1);
            b.U(5, 23).U(5, 15).U(5, 5).U(5, 24);
            b.U(1, 0).U(1, 0).U(1, 1).U(1, 1);  // vcl absent, low delay, pic_struct, restriction
            b.U(1, 1).Ue(2).Ue(1).Ue(c.mvLength).Ue(c.mvLength).Ue(1).Ue(3);
        };
        ASSERT_EQ(ParseSps(f), 0);
        const SeqParamSet& s = ctx->sps[0];
        ASSERT_TRUE(s.valid);
        EXPECT_EQ(s.num_ref_frames, 3);
        EXPECT_EQ(s.vui_parameters_present_flag, c.vuiKept ? 1 : 0);
        EXPECT_EQ(s.time_scale, c.vuiKept ? 60000u : 0u);
        if (!c.vuiKept) continue;
        EXPECT_EQ(s.nal_hrd.cpb_cnt, 32);
        EXPECT_EQ(s.nal_hrd.bit_rate_value[31], 1032u);
        EXPECT_EQ(s.nal_hrd.cbr_flag[29], 1);
        EXPECT_EQ(s.vcl_hrd.cpb_removal_delay_length_minus1, 15) << "copied from the NAL HRD";
        EXPECT_EQ(s.log2_max_mv_length_horizontal, 16);
        EXPECT_EQ(s.max_dec_frame_buffering, 3);
    }
}

// A set cut before its VUI is refused (before, the bits past its end read as zeros and the
// stop bit as data); one cut inside its VUI is kept without the VUI.
TEST_F(ParamSets, CutSetsAreRefusedOrLoseTheirVui) {
    SpsFields f;
    f.vui = true;
    f.writeVui = HrdVui(78124, 78124);
    const Bytes whole = Sps(f);
    size_t firstKept = 0;
    for (size_t length = 1; length < whole.size(); ++length) {
        SCOPED_TRACE(length);
        ctx->sps[0] = SeqParamSet{};
        Current(Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length)));
        const int result = ParseSeqParamSet(ctx);
        EXPECT_EQ(result == 0, ctx->sps[0].valid == 1);
        if (result == 0) {
            if (firstKept == 0) firstKept = length;
            EXPECT_EQ(ctx->sps[0].vui_parameters_present_flag, 0);
        } else {
            EXPECT_EQ(firstKept, 0u) << "a longer cut than one kept is refused";
        }
    }
    // The VUI is the last half of the set: 4 bytes of header, at least 8 of timing and HRD.
    EXPECT_GT(firstKept, 3u);
    EXPECT_LT(firstKept, whole.size() - 8);
    Current(whole);
    ASSERT_EQ(ParseSeqParamSet(ctx), 0);
    EXPECT_EQ(ctx->sps[0].vui_parameters_present_flag, 1);
    EXPECT_EQ(ctx->sps[0].nal_hrd.bit_rate_value[0], 78125u) << "a code of 16 leading zeros";
}

TEST_F(ParamSets, PictureParameterSets) {
    Current(Pps(0, 5));
    EXPECT_EQ(ParsePicParamSet(ctx), -8) << "SPS 5 has not arrived";
    SpsFields f;
    f.id = 5;
    ASSERT_EQ(ParseSps(f), 0);
    Current(Pps(128, 5));
    EXPECT_EQ(ParsePicParamSet(ctx), -8);
    Current(Pps(127, 5));
    ASSERT_EQ(ParsePicParamSet(ctx), 0);
    const PicParamSet& p = ctx->pps[127];
    EXPECT_EQ(p.num_ref_idx_l0_active_minus1, 2);
    EXPECT_EQ(p.pic_init_qp_minus26, -3);
    EXPECT_EQ(p.chroma_qp_index_offset, -2);
    EXPECT_EQ(p.deblocking_filter_control_present_flag, 1);
    EXPECT_EQ(ActivatePicParamSet(ctx, 127), 0);
    EXPECT_EQ(ctx->activeSps, &ctx->sps[5]);
    EXPECT_EQ(ActivatePicParamSet(ctx, 3), -1);
    EXPECT_EQ(ctx->activeSps, nullptr);
    EXPECT_EQ(ctx->activePps, nullptr);

    // Slice groups: 8 is the most the record holds; map type 6 must match the SPS.
    const int mapUnits = 11 * 9;
    Current(Pps(1, 5, [](NalBuilder& b) { b.Ue(8); }));
    EXPECT_EQ(ParsePicParamSet(ctx), -8);
    Current(Pps(1, 5, [&](NalBuilder& b) {
        b.Ue(2).Ue(6).Ue(mapUnits - 1);
        for (int i = 0; i < mapUnits; ++i)
            b.U(2, i % 3);
    }));
    ASSERT_EQ(ParsePicParamSet(ctx), 0);
    ASSERT_EQ(ctx->pps[1].slice_group_id.size(), static_cast<size_t>(mapUnits));
    EXPECT_EQ(ctx->pps[1].slice_group_id[mapUnits - 1], (mapUnits - 1) % 3);
    Current(Pps(1, 5, [&](NalBuilder& b) {
        b.Ue(1).Ue(6).Ue(mapUnits);
        for (int i = 0; i <= mapUnits; ++i)
            b.U(1, 1);
    }));
    EXPECT_EQ(ParsePicParamSet(ctx), -1);
    EXPECT_EQ(ctx->pps[1].num_slice_groups_minus1, 2) << "the slot stays as it was";
    Current(Pps(1, 5, [](NalBuilder& b) { b.Ue(1).Ue(0).Ue(0).Ue(99); }));
    EXPECT_EQ(ParsePicParamSet(ctx), -8) << "run_length_minus1 beyond the map";
}

// SEI: messages found by walking type and size; a size beyond the NAL unit ends the walk.
TEST_F(ParamSets, SeiMessages) {
    SpsFields f;
    f.vui = true;
    f.writeVui = HrdVui(1000, 2000);
    ASSERT_EQ(ParseSps(f), 0);
    // Picture timing: cpb_removal_delay u(10), dpb_output_delay u(6), pic_struct 3
    // (two clock timestamps), the first with a full time stamp and time_offset i(8).
    NalBuilder timing(0);
    timing.U(10, 517).U(6, 33).U(4, 3);
    timing.U(1, 1).U(2, 1).U(1, 0).U(5, 4).U(1, 1).U(1, 0).U(1, 0).U(8, 29).U(6, 59).U(6, 7).U(5, 23).U(8, 0xFE);
    timing.U(1, 0).U(3, 0);
    const Bytes timingBytes = timing.Payload();
    NalBuilder sei(0x06);
    sei.U(8, 5).U(8, 3).U(24, 0xABCDEF);  // user data: skipped
    sei.U(8, 1).U(8, timingBytes.size()).Append(timingBytes);
    Current(sei.Nal());
    EXPECT_EQ(ParseSei(ctx), 0);
    const PictureTiming& t = ctx->pendingTiming;
    EXPECT_EQ(t.valid, 1);
    EXPECT_EQ(t.cpb_removal_delay, 517);
    EXPECT_EQ(t.dpb_output_delay, 33);
    EXPECT_EQ(t.pic_struct, 3);
    EXPECT_EQ(t.clock[0].n_frames, 29);
    EXPECT_EQ(t.clock[0].hours_value, 23);
    EXPECT_EQ(t.clock[0].time_offset, -2);
    EXPECT_EQ(t.clock[1].clock_timestamp_flag, 0);

    NalBuilder bad(0x06);
    bad.U(8, 1).U(8, 200).U(16, 0);
    Current(bad.Nal());
    EXPECT_EQ(ParseSei(ctx), -8);
    NalBuilder ffs(0x06);
    for (int i = 0; i < 40; ++i)
        ffs.U(8, 0xFF);
    Current(ffs.Nal());
    EXPECT_EQ(ParseSei(ctx), -8);

    NalBuilder period(0x06);
    period.U(8, 0).U(8, 1).U(1, 1).U(7, 0);  // buffering period naming SPS 0 ("1")
    Current(period.Nal());
    ctx->activeSps = nullptr;
    EXPECT_EQ(ParseSei(ctx), 0);
    EXPECT_EQ(ctx->activeSps, &ctx->sps[0]);
}

// pic_struct without timing information or HRD: the message holds pic_struct and clock
// time stamps alone, with a 24-bit time_offset.
TEST_F(ParamSets, PictureTimingWithoutTimingInfo) {
    SpsFields f;
    f.vui = true;
    f.writeVui = [](NalBuilder& b) {
        b.U(1, 0).U(1, 0).U(1, 0).U(1, 0).U(1, 0);  // aspect, overscan, signal, chroma, timing
        b.U(1, 0).U(1, 0).U(1, 1).U(1, 0);          // NAL HRD, VCL HRD, pic_struct, restriction
    };
    ASSERT_EQ(ParseSps(f), 0);
    NalBuilder timing;
    timing.U(4, 0).U(1, 1).U(2, 0).U(1, 0).U(5, 0).U(1, 1).U(1, 0).U(1, 0).U(8, 12).U(6, 1).U(6, 2).U(5, 3);
    timing.U(24, 0xFFFFF6).U(1, 1).Align();
    const Bytes timingBytes = timing.Payload();
    NalBuilder sei(0x06);
    sei.U(8, 1).U(8, timingBytes.size()).Append(timingBytes);
    Current(sei.Nal());
    EXPECT_EQ(ParseSei(ctx), 0);
    const PictureTiming& t = ctx->pendingTiming;
    EXPECT_EQ(t.valid, 1);
    EXPECT_EQ(t.pic_struct, 0);
    EXPECT_EQ(t.clock[0].n_frames, 12);
    EXPECT_EQ(t.clock[0].hours_value, 3);
    EXPECT_EQ(t.clock[0].time_offset, -10);
}

// x264's default output is High profile: refused with a clear error, nothing activated,
// and its slices find no parameter sets.
TEST_F(ParamSets, HighProfileStreamIsRefusedWithoutPictures) {
    std::vector<uint8_t> stream;
    ASSERT_TRUE(avcdec_test::MakeX264Stream({"high", "176x144", ""}, &stream));
    stream.insert(stream.end(), {0, 0, 1});
    size_t accepted = 0;
    AvcDecoderPushData(ctx, stream.data(), 0, stream.size(), &accepted);
    int steps = 0;
    for (int code = 0; code != kStepNeedData; ++steps) {
        code = AvcDecoderDecodeByteStream(ctx);
        ASSERT_NE(code, kStepFormatChange);
        ASSERT_NE(code, kStepPictureReady);
        ASSERT_LT(steps, 10000);
    }
    EXPECT_EQ(ctx->refusedProfileIdc, 100);
    EXPECT_EQ(ctx->activeSps, nullptr);
    EXPECT_FALSE(ctx->picturesAllocated);
    for (int i = 0; i < kMaxPicParamSets; ++i)
        EXPECT_FALSE(ctx->pps[i].valid);
}

}  // namespace
}  // namespace avcdec
