// The H.264 sequence parameter set (ITU-T H.264 clause 7.3.2.1.1) with its VUI and HRD
// parameters (clauses E.1.1 and E.1.2), read from its RBSP: the one parser the decoder and
// the multiplexer share.
//
// The parser is exact: it answers kOk only when every element lies in the range the
// standard gives it and the last element ends on the rbsp_stop_one_bit. A set cut short, a
// code with too many leading zeros, a value out of range, or bits left before the stop bit
// is refused, and the output is then left untouched.
//
// Fields keep the names of the syntax tables and hold the elements as coded, with these
// exceptions, kept for the decoder's records: `num_ref_frames` is max_num_ref_frames,
// `num_reorder_frames` is max_num_reorder_frames, and the HRD holds cpb_cnt,
// bit_rate_value and cpb_size_value one above the coded "_minus1" elements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace common {

inline constexpr int kH264MaxSpsCount = 32;   // seq_parameter_set_id 0..31
inline constexpr int kH264MaxCpbCount = 32;   // cpb_cnt_minus1 0..31
inline constexpr int kH264MaxPocCycle = 255;  // num_ref_frames_in_pic_order_cnt_cycle
inline constexpr int kH264MaxDpbFrames = 16;  // MaxDpbFrames of every level (A.3.1 h)
inline constexpr int kH264MaxSideMbs = 1055;  // Sqrt(8 x MaxFS) of the largest level, A.3.1 f, g
inline constexpr int kH264ExtendedSar = 255;  // aspect_ratio_idc Extended_SAR, Table E-1

struct H264Hrd {
    int32_t cpb_cnt;  // cpb_cnt_minus1 + 1
    int32_t bit_rate_scale;
    int32_t cpb_size_scale;
    uint32_t bit_rate_value[kH264MaxCpbCount];  // bit_rate_value_minus1 + 1, up to 2^32 - 1
    uint32_t cpb_size_value[kH264MaxCpbCount];  // cpb_size_value_minus1 + 1
    int32_t cbr_flag[kH264MaxCpbCount];
    int32_t initial_cpb_removal_delay_length_minus1;
    int32_t cpb_removal_delay_length_minus1;
    int32_t dpb_output_delay_length_minus1;
    int32_t time_offset_length;
};

// One scaling_list() as coded: the delta_scale values read before nextScale reached 0.
struct H264ScalingListCode {
    int32_t count;
    int32_t delta_scale[64];
};

struct H264Sps {
    int32_t profile_idc;
    int32_t constraint_set0_flag, constraint_set1_flag, constraint_set2_flag;
    int32_t constraint_set3_flag, constraint_set4_flag, constraint_set5_flag;
    int32_t reserved_zero_2bits;
    int32_t level_idc;
    int32_t seq_parameter_set_id;
    // Present in the profiles of HasChromaFormatSyntax; else inferred (4:2:0, 8 bits).
    int32_t chroma_format_idc;
    int32_t separate_colour_plane_flag;
    int32_t bit_depth_luma_minus8, bit_depth_chroma_minus8;
    int32_t qpprime_y_zero_transform_bypass_flag;
    int32_t seq_scaling_matrix_present_flag;
    int32_t seq_scaling_list_present_flag[12];
    H264ScalingListCode scaling_list[12];  // 0..5 4x4, 6..11 8x8
    int32_t log2_max_frame_num_minus4;
    int32_t pic_order_cnt_type;
    int32_t log2_max_pic_order_cnt_lsb_minus4;
    int32_t delta_pic_order_always_zero_flag;
    int32_t offset_for_non_ref_pic;
    int32_t offset_for_top_to_bottom_field;
    int32_t num_ref_frames_in_pic_order_cnt_cycle;
    int32_t offset_for_ref_frame[kH264MaxPocCycle];
    int32_t num_ref_frames;
    int32_t gaps_in_frame_num_value_allowed_flag;
    int32_t pic_width_in_mbs_minus1;
    int32_t pic_height_in_map_units_minus1;
    int32_t frame_mbs_only_flag;
    int32_t mb_adaptive_frame_field_flag;
    int32_t direct_8x8_inference_flag;
    int32_t frame_cropping_flag;
    int32_t frame_crop_left_offset, frame_crop_right_offset;
    int32_t frame_crop_top_offset, frame_crop_bottom_offset;
    int32_t vui_parameters_present_flag;
    // VUI, clause E.1.1, in syntax order.
    int32_t aspect_ratio_info_present_flag;
    int32_t aspect_ratio_idc;
    int32_t sar_width, sar_height;
    int32_t overscan_info_present_flag;
    int32_t overscan_appropriate_flag;
    int32_t video_signal_type_present_flag;
    int32_t video_format;
    int32_t video_full_range_flag;
    int32_t colour_description_present_flag;
    int32_t colour_primaries, transfer_characteristics, matrix_coefficients;
    int32_t chroma_loc_info_present_flag;
    int32_t chroma_sample_loc_type_top_field, chroma_sample_loc_type_bottom_field;
    int32_t timing_info_present_flag;
    uint32_t num_units_in_tick;
    uint32_t time_scale;
    int32_t fixed_frame_rate_flag;
    int32_t nal_hrd_parameters_present_flag;
    H264Hrd nal_hrd;
    int32_t vcl_hrd_parameters_present_flag;
    H264Hrd vcl_hrd;
    // Without an HRD, both hold the inferred field lengths of clause E.2.2 (23, 23, 23,
    // 24); with one, the absent one holds the present one's lengths.
    int32_t low_delay_hrd_flag;
    int32_t pic_struct_present_flag;
    int32_t bitstream_restriction_flag;
    int32_t motion_vectors_over_pic_boundaries_flag;
    int32_t max_bytes_per_pic_denom;
    int32_t max_bits_per_mb_denom;
    int32_t log2_max_mv_length_vertical;
    int32_t log2_max_mv_length_horizontal;
    int32_t num_reorder_frames;
    int32_t max_dec_frame_buffering;
};

enum class SpsResult {
    kOk,
    kCut,         // the RBSP ends before the set does, or a code is longer than 32 bits
    kOutOfRange,  // an element outside the range the standard gives it
    kTrailing,    // bits other than rbsp_trailing_bits follow the set
    // The set is sound up to vui_parameters(), which is cut, out of range or followed by
    // other bits: `*out` holds the set with vui_parameters_present_flag 0 and the VUI's
    // inferred values (a decoder may keep it; the VUI only advises).
    kVuiDropped,
};

// Reads the SPS from `rbsp`: the NAL unit behind its header byte, emulation prevention
// removed (trailing zero bytes after the stop bit may stay). `*out` is written only on kOk
// and kVuiDropped.
SpsResult ParseH264Sps(std::span<const uint8_t> rbsp, H264Sps* out);

// Calls visit(name, value) for every element the set codes, in syntax order, named as the
// syntax tables name them (array elements as "name[i]"); the "_minus1" elements with
// their coded value.
template <typename Visit>
void VisitH264SpsFields(const H264Sps& sps, Visit&& visit);

}  // namespace common

#include "common/bitstream/h264_sps_fields.inl"
