#include "tools/h264_header_dump.h"

#include <string>

#include "filters/decoder/core/decoder_context.h"

namespace tools {

namespace {

using namespace avcdec;

// Why a parser refused a set or message, in words.
std::string Refusal(int rc) {
    switch (rc) {
        case kParseUnsupported:
            return "refused: unsupported or malformed";
        case kParseOutOfRange:
            return "refused: a value out of range or a missing parameter set";
        default:
            return "refused: code " + std::to_string(rc);
    }
}

class Dump {
public:
    explicit Dump(std::string* out) : out_(out) {}
    void Heading(const char* name) { *out_ += std::string(name) + "\n"; }
    void Field(const std::string& name, int64_t value) { *out_ += name + " = " + std::to_string(value) + "\n"; }
    void Refused(int rc) { *out_ += Refusal(rc) + "\n"; }
    void Indexed(const char* name, int i, int64_t value) {
        Field(std::string(name) + "[" + std::to_string(i) + "]", value);
    }

private:
    std::string* out_;
};

void DumpHrd(Dump& d, const HrdParams& h) {
    d.Field("cpb_cnt_minus1", h.cpb_cnt - 1);
    d.Field("bit_rate_scale", h.bit_rate_scale);
    d.Field("cpb_size_scale", h.cpb_size_scale);
    for (int i = 0; i < h.cpb_cnt; ++i) {
        d.Indexed("bit_rate_value_minus1", i, h.bit_rate_value[i] - 1);
        d.Indexed("cpb_size_value_minus1", i, h.cpb_size_value[i] - 1);
        d.Indexed("cbr_flag", i, h.cbr_flag[i]);
    }
    d.Field("initial_cpb_removal_delay_length_minus1", h.initial_cpb_removal_delay_length_minus1);
    d.Field("cpb_removal_delay_length_minus1", h.cpb_removal_delay_length_minus1);
    d.Field("dpb_output_delay_length_minus1", h.dpb_output_delay_length_minus1);
    d.Field("time_offset_length", h.time_offset_length);
}

void DumpVui(Dump& d, const SeqParamSet& s) {
    d.Field("aspect_ratio_info_present_flag", s.aspect_ratio_info_present_flag);
    if (s.aspect_ratio_info_present_flag) {
        d.Field("aspect_ratio_idc", s.aspect_ratio_idc);
        if (s.aspect_ratio_idc == 255) {
            d.Field("sar_width", s.sar_width);
            d.Field("sar_height", s.sar_height);
        }
    }
    d.Field("overscan_info_present_flag", s.overscan_info_present_flag);
    if (s.overscan_info_present_flag) d.Field("overscan_appropriate_flag", s.overscan_appropriate_flag);
    d.Field("video_signal_type_present_flag", s.video_signal_type_present_flag);
    if (s.video_signal_type_present_flag) {
        d.Field("video_format", s.video_format);
        d.Field("video_full_range_flag", s.video_full_range_flag);
        d.Field("colour_description_present_flag", s.colour_description_present_flag);
        if (s.colour_description_present_flag) {
            d.Field("colour_primaries", s.colour_primaries);
            d.Field("transfer_characteristics", s.transfer_characteristics);
            d.Field("matrix_coefficients", s.matrix_coefficients);
        }
    }
    d.Field("chroma_loc_info_present_flag", s.chroma_loc_info_present_flag);
    if (s.chroma_loc_info_present_flag) {
        d.Field("chroma_sample_loc_type_top_field", s.chroma_sample_loc_type_top_field);
        d.Field("chroma_sample_loc_type_bottom_field", s.chroma_sample_loc_type_bottom_field);
    }
    d.Field("timing_info_present_flag", s.timing_info_present_flag);
    if (s.timing_info_present_flag) {
        d.Field("num_units_in_tick", s.num_units_in_tick);
        d.Field("time_scale", s.time_scale);
        d.Field("fixed_frame_rate_flag", s.fixed_frame_rate_flag);
    }
    d.Field("nal_hrd_parameters_present_flag", s.nal_hrd_parameters_present_flag);
    if (s.nal_hrd_parameters_present_flag) DumpHrd(d, s.nal_hrd);
    d.Field("vcl_hrd_parameters_present_flag", s.vcl_hrd_parameters_present_flag);
    if (s.vcl_hrd_parameters_present_flag) DumpHrd(d, s.vcl_hrd);
    if (s.nal_hrd_parameters_present_flag || s.vcl_hrd_parameters_present_flag)
        d.Field("low_delay_hrd_flag", s.low_delay_hrd_flag);
    d.Field("pic_struct_present_flag", s.pic_struct_present_flag);
    d.Field("bitstream_restriction_flag", s.bitstream_restriction_flag);
    if (s.bitstream_restriction_flag) {
        d.Field("motion_vectors_over_pic_boundaries_flag", s.motion_vectors_over_pic_boundaries_flag);
        d.Field("max_bytes_per_pic_denom", s.max_bytes_per_pic_denom);
        d.Field("max_bits_per_mb_denom", s.max_bits_per_mb_denom);
        d.Field("log2_max_mv_length_horizontal", s.log2_max_mv_length_horizontal);
        d.Field("log2_max_mv_length_vertical", s.log2_max_mv_length_vertical);
        d.Field("max_num_reorder_frames", s.num_reorder_frames);
        d.Field("max_dec_frame_buffering", s.max_dec_frame_buffering);
    }
}

void DumpSps(Dump& d, const SeqParamSet& s) {
    d.Heading("Sequence Parameter Set");
    d.Field("profile_idc", s.profile_idc);
    d.Field("constraint_set0_flag", s.constraint_set0_flag);
    d.Field("constraint_set1_flag", s.constraint_set1_flag);
    d.Field("constraint_set2_flag", s.constraint_set2_flag);
    d.Field("level_idc", s.level_idc);
    d.Field("seq_parameter_set_id", s.seq_parameter_set_id);
    d.Field("log2_max_frame_num_minus4", s.log2_max_frame_num_minus4);
    d.Field("pic_order_cnt_type", s.pic_order_cnt_type);
    if (s.pic_order_cnt_type == 0) {
        d.Field("log2_max_pic_order_cnt_lsb_minus4", s.log2_max_pic_order_cnt_lsb_minus4);
    } else if (s.pic_order_cnt_type == 1) {
        d.Field("delta_pic_order_always_zero_flag", s.delta_pic_order_always_zero_flag);
        d.Field("offset_for_non_ref_pic", s.offset_for_non_ref_pic);
        d.Field("offset_for_top_to_bottom_field", s.offset_for_top_to_bottom_field);
        d.Field("num_ref_frames_in_pic_order_cnt_cycle", s.num_ref_frames_in_pic_order_cnt_cycle);
        for (int i = 0; i < s.num_ref_frames_in_pic_order_cnt_cycle; ++i)
            d.Indexed("offset_for_ref_frame", i, s.offset_for_ref_frame[i]);
    }
    d.Field("max_num_ref_frames", s.num_ref_frames);
    d.Field("gaps_in_frame_num_allowed_flag", s.gaps_in_frame_num_value_allowed_flag);
    d.Field("pic_width_in_mbs_minus1", s.pic_width_in_mbs_minus1);
    d.Field("pic_height_in_map_units_minus1", s.pic_height_in_map_units_minus1);
    d.Field("frame_mbs_only_flag", s.frame_mbs_only_flag);
    if (!s.frame_mbs_only_flag) d.Field("mb_adaptive_frame_field_flag", s.mb_adaptive_frame_field_flag);
    d.Field("direct_8x8_inference_flag", s.direct_8x8_inference_flag);
    d.Field("frame_cropping_flag", s.frame_cropping_flag);
    if (s.frame_cropping_flag) {
        d.Field("frame_crop_left_offset", s.frame_crop_left_offset);
        d.Field("frame_crop_right_offset", s.frame_crop_right_offset);
        d.Field("frame_crop_top_offset", s.frame_crop_top_offset);
        d.Field("frame_crop_bottom_offset", s.frame_crop_bottom_offset);
    }
    d.Field("vui_parameters_present_flag", s.vui_parameters_present_flag);
    if (s.vui_parameters_present_flag) DumpVui(d, s);
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
        // Clause D.1.3 in syntax order, under ffmpeg's trace names (not subscripted).
        d.Field("ct_type", c.ct_type);
        d.Field("nuit_field_based_flag", c.nuit_field_based_flag);
        d.Field("counting_type", c.counting_type);
        d.Field("full_timestamp_flag", c.full_timestamp_flag);
        d.Field("discontinuity_flag", c.discontinuity_flag);
        d.Field("cnt_dropped_flag", c.cnt_dropped_flag);
        d.Field("n_frames", c.n_frames);
        if (c.full_timestamp_flag) {
            d.Field("seconds_value", c.seconds_value);
            d.Field("minutes_value", c.minutes_value);
            d.Field("hours_value", c.hours_value);
        } else {
            d.Field("seconds_flag", c.seconds_flag);
            if (c.seconds_flag) {
                d.Field("seconds_value", c.seconds_value);
                d.Field("minutes_flag", c.minutes_flag);
                if (c.minutes_flag) {
                    d.Field("minutes_value", c.minutes_value);
                    d.Field("hours_flag", c.hours_flag);
                    if (c.hours_flag) d.Field("hours_value", c.hours_value);
                }
            }
        }
        const bool hrd = s.nal_hrd_parameters_present_flag || s.vcl_hrd_parameters_present_flag;
        const int offsetLength = !hrd                                ? 24
                                 : s.nal_hrd_parameters_present_flag ? s.nal_hrd.time_offset_length
                                                                     : s.vcl_hrd.time_offset_length;
        if (offsetLength > 0) d.Field("time_offset", c.time_offset);
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
                    d.Refused(rc);
            } else if (type == 1) {
                const int rc = ParsePictureTiming(ctx, payload, size);
                if (rc == 0)
                    DumpTiming(d, *ctx->activeSps, ctx->pendingTiming);
                else {
                    d.Heading("Picture Timing");
                    d.Refused(rc);
                }
            }
        });
    if (walked != 0) {
        d.Heading("SEI");
        d.Refused(walked);
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
            switch (static_cast<common::NalUnitType>(ctx->nal->nal_unit_type)) {
                case common::NalUnitType::kSps: {
                    ctx->refusedProfileIdc = 0;  // a reason belongs to this set alone
                    const int rc = ParseSeqParamSet(ctx);
                    if (rc == 0) {
                        DumpSps(d, *ctx->activeSps);
                    } else {
                        d.Heading("Sequence Parameter Set");
                        if (rc == kParseUnsupported && ctx->refusedProfileIdc != 0)
                            *out += "refused: profile_idc " + std::to_string(ctx->refusedProfileIdc) +
                                    " is not Baseline, Main or Extended\n";
                        else
                            d.Refused(rc);
                    }
                    break;
                }
                case common::NalUnitType::kPps: {
                    const int rc = ParsePicParamSet(ctx);
                    if (rc == 0) {
                        BitReader r(ctx->nal->payload + 1, ctx->nal->length - 1);
                        DumpPps(d, ctx->pps[r.ReadUe()]);
                    } else {
                        d.Heading("Picture Parameter Set");
                        d.Refused(rc);
                    }
                    break;
                }
                case common::NalUnitType::kSei:
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
