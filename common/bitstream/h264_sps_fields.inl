// VisitH264SpsFields: the elements of a parsed set in syntax order (included by h264_sps.h).
#pragma once

#include <string>

#include "common/bitstream/h264_syntax.h"

namespace common {

namespace sps_detail {

template <typename Visit>
void VisitHrd(const H264Hrd& h, Visit& visit) {
    visit("cpb_cnt_minus1", h.cpb_cnt - 1);
    visit("bit_rate_scale", h.bit_rate_scale);
    visit("cpb_size_scale", h.cpb_size_scale);
    for (int i = 0; i < h.cpb_cnt; ++i) {
        const std::string at = "[" + std::to_string(i) + "]";
        visit("bit_rate_value_minus1" + at, int64_t{h.bit_rate_value[i]} - 1);
        visit("cpb_size_value_minus1" + at, int64_t{h.cpb_size_value[i]} - 1);
        visit("cbr_flag" + at, h.cbr_flag[i]);
    }
    visit("initial_cpb_removal_delay_length_minus1", h.initial_cpb_removal_delay_length_minus1);
    visit("cpb_removal_delay_length_minus1", h.cpb_removal_delay_length_minus1);
    visit("dpb_output_delay_length_minus1", h.dpb_output_delay_length_minus1);
    visit("time_offset_length", h.time_offset_length);
}

template <typename Visit>
void VisitVui(const H264Sps& s, Visit& visit) {
    visit("aspect_ratio_info_present_flag", s.aspect_ratio_info_present_flag);
    if (s.aspect_ratio_info_present_flag) {
        visit("aspect_ratio_idc", s.aspect_ratio_idc);
        if (s.aspect_ratio_idc == kH264ExtendedSar) {
            visit("sar_width", s.sar_width);
            visit("sar_height", s.sar_height);
        }
    }
    visit("overscan_info_present_flag", s.overscan_info_present_flag);
    if (s.overscan_info_present_flag) visit("overscan_appropriate_flag", s.overscan_appropriate_flag);
    visit("video_signal_type_present_flag", s.video_signal_type_present_flag);
    if (s.video_signal_type_present_flag) {
        visit("video_format", s.video_format);
        visit("video_full_range_flag", s.video_full_range_flag);
        visit("colour_description_present_flag", s.colour_description_present_flag);
        if (s.colour_description_present_flag) {
            visit("colour_primaries", s.colour_primaries);
            visit("transfer_characteristics", s.transfer_characteristics);
            visit("matrix_coefficients", s.matrix_coefficients);
        }
    }
    visit("chroma_loc_info_present_flag", s.chroma_loc_info_present_flag);
    if (s.chroma_loc_info_present_flag) {
        visit("chroma_sample_loc_type_top_field", s.chroma_sample_loc_type_top_field);
        visit("chroma_sample_loc_type_bottom_field", s.chroma_sample_loc_type_bottom_field);
    }
    visit("timing_info_present_flag", s.timing_info_present_flag);
    if (s.timing_info_present_flag) {
        visit("num_units_in_tick", int64_t{s.num_units_in_tick});
        visit("time_scale", int64_t{s.time_scale});
        visit("fixed_frame_rate_flag", s.fixed_frame_rate_flag);
    }
    visit("nal_hrd_parameters_present_flag", s.nal_hrd_parameters_present_flag);
    if (s.nal_hrd_parameters_present_flag) VisitHrd(s.nal_hrd, visit);
    visit("vcl_hrd_parameters_present_flag", s.vcl_hrd_parameters_present_flag);
    if (s.vcl_hrd_parameters_present_flag) VisitHrd(s.vcl_hrd, visit);
    if (s.nal_hrd_parameters_present_flag || s.vcl_hrd_parameters_present_flag)
        visit("low_delay_hrd_flag", s.low_delay_hrd_flag);
    visit("pic_struct_present_flag", s.pic_struct_present_flag);
    visit("bitstream_restriction_flag", s.bitstream_restriction_flag);
    if (s.bitstream_restriction_flag) {
        visit("motion_vectors_over_pic_boundaries_flag", s.motion_vectors_over_pic_boundaries_flag);
        visit("max_bytes_per_pic_denom", s.max_bytes_per_pic_denom);
        visit("max_bits_per_mb_denom", s.max_bits_per_mb_denom);
        visit("log2_max_mv_length_horizontal", s.log2_max_mv_length_horizontal);
        visit("log2_max_mv_length_vertical", s.log2_max_mv_length_vertical);
        visit("max_num_reorder_frames", s.num_reorder_frames);
        visit("max_dec_frame_buffering", s.max_dec_frame_buffering);
    }
}

}  // namespace sps_detail

template <typename Visit>
void VisitH264SpsFields(const H264Sps& s, Visit&& visit) {
    const auto field = [&visit](const std::string& name, int64_t value) { visit(name, value); };
    field("profile_idc", s.profile_idc);
    field("constraint_set0_flag", s.constraint_set0_flag);
    field("constraint_set1_flag", s.constraint_set1_flag);
    field("constraint_set2_flag", s.constraint_set2_flag);
    field("constraint_set3_flag", s.constraint_set3_flag);
    field("constraint_set4_flag", s.constraint_set4_flag);
    field("constraint_set5_flag", s.constraint_set5_flag);
    field("reserved_zero_2bits", s.reserved_zero_2bits);
    field("level_idc", s.level_idc);
    field("seq_parameter_set_id", s.seq_parameter_set_id);
    if (HasChromaFormatSyntax(s.profile_idc)) {
        field("chroma_format_idc", s.chroma_format_idc);
        if (s.chroma_format_idc == 3) field("separate_colour_plane_flag", s.separate_colour_plane_flag);
        field("bit_depth_luma_minus8", s.bit_depth_luma_minus8);
        field("bit_depth_chroma_minus8", s.bit_depth_chroma_minus8);
        field("qpprime_y_zero_transform_bypass_flag", s.qpprime_y_zero_transform_bypass_flag);
        field("seq_scaling_matrix_present_flag", s.seq_scaling_matrix_present_flag);
        if (s.seq_scaling_matrix_present_flag) {
            const int lists = s.chroma_format_idc != 3 ? 8 : 12;
            for (int i = 0; i < lists; ++i) {
                field("seq_scaling_list_present_flag[" + std::to_string(i) + "]", s.seq_scaling_list_present_flag[i]);
                if (!s.seq_scaling_list_present_flag[i]) continue;
                for (int j = 0; j < s.scaling_list[i].count; ++j)
                    field("delta_scale[" + std::to_string(j) + "]", s.scaling_list[i].delta_scale[j]);
            }
        }
    }
    field("log2_max_frame_num_minus4", s.log2_max_frame_num_minus4);
    field("pic_order_cnt_type", s.pic_order_cnt_type);
    if (s.pic_order_cnt_type == 0) {
        field("log2_max_pic_order_cnt_lsb_minus4", s.log2_max_pic_order_cnt_lsb_minus4);
    } else if (s.pic_order_cnt_type == 1) {
        field("delta_pic_order_always_zero_flag", s.delta_pic_order_always_zero_flag);
        field("offset_for_non_ref_pic", s.offset_for_non_ref_pic);
        field("offset_for_top_to_bottom_field", s.offset_for_top_to_bottom_field);
        field("num_ref_frames_in_pic_order_cnt_cycle", s.num_ref_frames_in_pic_order_cnt_cycle);
        for (int i = 0; i < s.num_ref_frames_in_pic_order_cnt_cycle; ++i)
            field("offset_for_ref_frame[" + std::to_string(i) + "]", s.offset_for_ref_frame[i]);
    }
    field("max_num_ref_frames", s.num_ref_frames);
    field("gaps_in_frame_num_value_allowed_flag", s.gaps_in_frame_num_value_allowed_flag);
    field("pic_width_in_mbs_minus1", s.pic_width_in_mbs_minus1);
    field("pic_height_in_map_units_minus1", s.pic_height_in_map_units_minus1);
    field("frame_mbs_only_flag", s.frame_mbs_only_flag);
    if (!s.frame_mbs_only_flag) field("mb_adaptive_frame_field_flag", s.mb_adaptive_frame_field_flag);
    field("direct_8x8_inference_flag", s.direct_8x8_inference_flag);
    field("frame_cropping_flag", s.frame_cropping_flag);
    if (s.frame_cropping_flag) {
        field("frame_crop_left_offset", s.frame_crop_left_offset);
        field("frame_crop_right_offset", s.frame_crop_right_offset);
        field("frame_crop_top_offset", s.frame_crop_top_offset);
        field("frame_crop_bottom_offset", s.frame_crop_bottom_offset);
    }
    field("vui_parameters_present_flag", s.vui_parameters_present_flag);
    if (s.vui_parameters_present_flag) sps_detail::VisitVui(s, field);
}

}  // namespace common
