#include "tools/h264_header_dump.h"

#include <string>

#include "filters/decoder/core/decoder_context.h"

namespace tools {

namespace {

using namespace avcdec;

class Dump {
public:
    explicit Dump(std::string* out) : out_(out) {}
    void Heading(const char* name) { *out_ += std::string(name) + "\n"; }
    void Field(const std::string& name, int64_t value) { *out_ += name + " = " + std::to_string(value) + "\n"; }
    void Indexed(const char* name, int i, int64_t value) {
        Field(std::string(name) + "[" + std::to_string(i) + "]", value);
    }

private:
    std::string* out_;
};

void DumpSps(Dump& d, const SeqParamSet& s) {
    d.Heading("Sequence Parameter Set");
    common::VisitH264SpsFields(s, [&d](const std::string& name, int64_t value) { d.Field(name, value); });
}

void DumpPps(Dump& d, const PicParamSet& p) {
    d.Heading("Picture Parameter Set");
    d.Field("pic_parameter_set_id", p.pic_parameter_set_id);
    d.Field("seq_parameter_set_id", p.seq_parameter_set_id);
    d.Field("entropy_coding_mode_flag", p.entropy_coding_mode_flag);
    d.Field("bottom_field_pic_order_in_frame_present_flag", p.pic_order_present_flag);
    d.Field("num_slice_groups_minus1", p.num_slice_groups_minus1);
    if (p.num_slice_groups_minus1 > 0) {
        d.Field("slice_group_map_type", p.slice_group_map_type);
        const int groups = p.num_slice_groups_minus1 + 1;
        if (p.slice_group_map_type == 0) {
            for (int i = 0; i < groups; ++i)
                d.Indexed("run_length_minus1", i, p.run_length_minus1[i]);
        } else if (p.slice_group_map_type == 2) {
            for (int i = 0; i < groups - 1; ++i) {
                d.Indexed("top_left", i, p.top_left[i]);
                d.Indexed("bottom_right", i, p.bottom_right[i]);
            }
        } else if (p.slice_group_map_type >= 3 && p.slice_group_map_type <= 5) {
            d.Field("slice_group_change_direction_flag", p.slice_group_change_direction_flag);
            d.Field("slice_group_change_rate_minus1", p.slice_group_change_rate_minus1);
        } else if (p.slice_group_map_type == 6) {
            d.Field("pic_size_in_map_units_minus1", p.pic_size_in_map_units_minus1);
            for (int i = 0; i <= p.pic_size_in_map_units_minus1; ++i)
                d.Indexed("slice_group_id", i, p.slice_group_id[i]);
        }
    }
    d.Field("num_ref_idx_l0_default_active_minus1", p.num_ref_idx_l0_active_minus1);
    d.Field("num_ref_idx_l1_default_active_minus1", p.num_ref_idx_l1_active_minus1);
    d.Field("weighted_pred_flag", p.weighted_pred_flag);
    d.Field("weighted_bipred_idc", p.weighted_bipred_idc);
    d.Field("pic_init_qp_minus26", p.pic_init_qp_minus26);
    d.Field("pic_init_qs_minus26", p.pic_init_qs_minus26);
    d.Field("chroma_qp_index_offset", p.chroma_qp_index_offset);
    d.Field("deblocking_filter_control_present_flag", p.deblocking_filter_control_present_flag);
    d.Field("constrained_intra_pred_flag", p.constrained_intra_pred_flag);
    d.Field("redundant_pic_cnt_present_flag", p.redundant_pic_cnt_present_flag);
}

void DumpTiming(Dump& d, const SeqParamSet& s, const PictureTiming& t) {
    d.Heading("Picture Timing");
    if (s.nal_hrd_parameters_present_flag || s.vcl_hrd_parameters_present_flag) {
        d.Field("cpb_removal_delay", t.cpb_removal_delay);
        d.Field("dpb_output_delay", t.dpb_output_delay);
    }
    if (!s.pic_struct_present_flag) return;
    d.Field("pic_struct", t.pic_struct);
    static const int kClocks[9] = {1, 1, 1, 2, 2, 3, 3, 2, 3};
    for (int i = 0; i < kClocks[t.pic_struct]; ++i) {
        const ClockTimestamp& c = t.clock[i];
        d.Indexed("clock_timestamp_flag", i, c.clock_timestamp_flag);
        if (!c.clock_timestamp_flag) continue;
        d.Indexed("ct_type", i, c.ct_type);
        d.Indexed("nuit_field_based_flag", i, c.nuit_field_based_flag);
        d.Indexed("counting_type", i, c.counting_type);
        d.Indexed("full_timestamp_flag", i, c.full_timestamp_flag);
        d.Indexed("discontinuity_flag", i, c.discontinuity_flag);
        d.Indexed("cnt_dropped_flag", i, c.cnt_dropped_flag);
        d.Indexed("n_frames", i, c.n_frames);
        d.Indexed("seconds_value", i, c.seconds_value);
        d.Indexed("minutes_value", i, c.minutes_value);
        d.Indexed("hours_value", i, c.hours_value);
        if (s.nal_hrd.time_offset_length > 0) d.Indexed("time_offset", i, c.time_offset);
    }
}

void DumpSei(Dump& d, AvcDecoderContext* ctx) {
    const int walked =
        ForEachSeiMessage(ctx->nal->payload, ctx->nal->length, [&](int type, const uint8_t* payload, size_t size) {
            if (type == 0) {
                const int rc = ParseBufferingPeriod(ctx, payload, size);
                d.Heading("Buffering Period");
                if (rc == 0)
                    d.Field("seq_parameter_set_id", ctx->pendingBuffering.seq_parameter_set_id);
                else
                    d.Field("refused", rc);
            } else if (type == 1) {
                const int rc = ParsePictureTiming(ctx, payload, size);
                if (rc == 0)
                    DumpTiming(d, *ctx->activeSps, ctx->pendingTiming);
                else {
                    d.Heading("Picture Timing");
                    d.Field("refused", rc);
                }
            }
        });
    if (walked != 0) {
        d.Heading("SEI");
        d.Field("refused", walked);
    }
}

}  // namespace

void DumpH264Headers(const uint8_t* data, size_t size, std::string* out) {
    Dump d(out);
    AvcDecoderContext* ctx = AvcDecoderCreate();
    if (ctx == nullptr) {
        *out += "out of memory\n";
        return;
    }
    static const uint8_t kFlush[] = {0, 0, 1};  // ends the last NAL unit
    for (int part = 0; part < 2; ++part) {
        size_t accepted = 0;
        if (part == 0)
            AvcDecoderPushData(ctx, data, 0, size, &accepted);
        else
            AvcDecoderPushData(ctx, kFlush, kNoTimeStamp, sizeof kFlush, &accepted);
        for (;;) {
            const int got = ExtractByteStreamNalUnit(ctx);
            if (got == kStepNeedData) break;
            if (got != 0) continue;
            switch (ctx->nal->nal_unit_type) {
                case kNalSps: {
                    const int rc = ParseSeqParamSet(ctx);
                    if (rc == 0) {
                        DumpSps(d, *ctx->activeSps);
                    } else {
                        d.Heading("Sequence Parameter Set");
                        if (rc == kParseUnsupported && ctx->refusedProfileIdc != 0)
                            *out += "refused: profile_idc " + std::to_string(ctx->refusedProfileIdc) +
                                    " is not Baseline, Main or Extended\n";
                        else
                            d.Field("refused", rc);
                    }
                    break;
                }
                case kNalPps: {
                    const int rc = ParsePicParamSet(ctx);
                    if (rc == 0) {
                        BitReader r;
                        InitBitReader(&r, ctx->nal->payload + 1, static_cast<int32_t>(ctx->nal->length - 1) * 8);
                        DumpPps(d, ctx->pps[ReadUe(&r)]);
                    } else {
                        d.Heading("Picture Parameter Set");
                        d.Field("refused", rc);
                    }
                    break;
                }
                case kNalSei:
                    DumpSei(d, ctx);
                    break;
                default:
                    break;
            }
        }
    }
    AvcDecoderDestroy(ctx);
}

}  // namespace tools
