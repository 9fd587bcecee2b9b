// Sequence and picture parameter sets and the SEI messages the decoder uses (H.264
// clauses 7.3.2.1, 7.3.2.2, 7.3.2.3, D.1 and E.1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/bitstream/bit_reader.h"
#include "filters/decoder/core/decoder_result.h"

namespace avcdec {

// RBSPs are read with the suite's one bounded reader.
using BitReader = common::BitReader;

struct AvcDecoderContext;

constexpr int kMaxSeqParamSets = 32;
constexpr int kMaxPicParamSets = 128;
constexpr int kMaxCpbCount = 32;
constexpr int kMaxRefFramesInPocCycle = 255;
constexpr int kMaxSliceGroups = 8;
constexpr int kMaxPictureSide = 8192;  // luma samples, either direction

struct HrdParams {
    int32_t cpb_cnt;  // cpb_cnt_minus1 + 1
    int32_t bit_rate_scale;
    int32_t cpb_size_scale;
    int32_t bit_rate_value[kMaxCpbCount];  // bit_rate_value_minus1 + 1
    int32_t cpb_size_value[kMaxCpbCount];  // cpb_size_value_minus1 + 1
    int32_t cbr_flag[kMaxCpbCount];
    int32_t initial_cpb_removal_delay_length_minus1;
    int32_t cpb_removal_delay_length_minus1;
    int32_t dpb_output_delay_length_minus1;
    int32_t time_offset_length;
};

struct SeqParamSet {
    int32_t valid;
    int32_t profile_idc;
    int32_t constraint_set0_flag, constraint_set1_flag, constraint_set2_flag;
    int32_t level_idc;
    int32_t seq_parameter_set_id;
    int32_t log2_max_frame_num_minus4;
    int32_t pic_order_cnt_type;
    int32_t log2_max_pic_order_cnt_lsb_minus4;
    int32_t delta_pic_order_always_zero_flag;
    int32_t offset_for_non_ref_pic;
    int32_t offset_for_top_to_bottom_field;
    int32_t num_ref_frames_in_pic_order_cnt_cycle;
    int32_t offset_for_ref_frame[kMaxRefFramesInPocCycle];
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
    HrdParams nal_hrd;
    int32_t vcl_hrd_parameters_present_flag;
    HrdParams vcl_hrd;
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

struct PicParamSet {
    int32_t valid;
    int32_t pic_parameter_set_id;
    int32_t seq_parameter_set_id;
    int32_t entropy_coding_mode_flag;
    int32_t pic_order_present_flag;
    int32_t num_slice_groups_minus1;
    int32_t slice_group_map_type;
    int32_t run_length_minus1[kMaxSliceGroups];
    int32_t top_left[kMaxSliceGroups];
    int32_t bottom_right[kMaxSliceGroups];
    int32_t slice_group_change_direction_flag;
    int32_t slice_group_change_rate_minus1;
    int32_t pic_size_in_map_units_minus1;
    std::vector<uint8_t> slice_group_id;  // map type 6 only, else empty
    int32_t num_ref_idx_l0_active_minus1;
    int32_t num_ref_idx_l1_active_minus1;
    int32_t weighted_pred_flag;
    int32_t weighted_bipred_idc;
    int32_t pic_init_qp_minus26;
    int32_t pic_init_qs_minus26;
    int32_t chroma_qp_index_offset;
    int32_t deblocking_filter_control_present_flag;
    int32_t constrained_intra_pred_flag;
    int32_t redundant_pic_cnt_present_flag;
};

struct ClockTimestamp {
    int32_t clock_timestamp_flag;
    int32_t ct_type;
    int32_t nuit_field_based_flag;
    int32_t counting_type;
    int32_t full_timestamp_flag;
    int32_t discontinuity_flag;
    int32_t cnt_dropped_flag;
    int32_t n_frames;
    int32_t seconds_flag, seconds_value;
    int32_t minutes_flag, minutes_value;
    int32_t hours_flag, hours_value;
    int32_t time_offset;
};

struct PictureTiming {
    int32_t valid;
    int32_t cpb_removal_delay;
    int32_t dpb_output_delay;
    int32_t pic_struct;
    ClockTimestamp clock[3];
};

struct BufferingPeriod {
    int32_t valid;
    int32_t seq_parameter_set_id;
};

// Result codes of the parsers: the core's DecoderResult values under the parsers' names.
constexpr int kParseOk = kDecoderOk;
constexpr int kParseUnsupported = kDecoderUnsupported;  // unsupported profile, reserved bits, memory
constexpr int kParseOutOfRange = kDecoderOutOfRange;    // a syntax value out of range or a missing set

// Clause A.3.1, Table A-1: the largest frame size in macroblocks of a level; 0 when the
// level is not one of the table.
int32_t MaxFrameSizeOfLevel(int32_t level_idc, bool constraint_set3_flag);

// Parsers over the context's current NAL unit (header byte first, emulation prevention
// already removed). A rejected set leaves its slot untouched.
int ParseSeqParamSet(AvcDecoderContext* ctx);
int ParsePicParamSet(AvcDecoderContext* ctx);
int ActivatePicParamSet(AvcDecoderContext* ctx, int32_t ppsId);
int ParseSei(AvcDecoderContext* ctx);
int ParseVui(BitReader* r, SeqParamSet* sps);
// ue(v) and se(v) that must lie in a range: false (and the reader failed) otherwise.
inline bool ReadUeIn(BitReader* r, int32_t max, int32_t* out) {
    uint32_t v = 0;
    const bool ok = r->ReadUeIn(static_cast<uint32_t>(max), &v);
    *out = static_cast<int32_t>(v);
    return ok;
}
inline bool ReadSeIn(BitReader* r, int32_t min, int32_t max, int32_t* out) {
    int32_t v = 0;
    const bool ok = r->ReadSeIn(min, max, &v);
    *out = v;
    return ok;
}

// Index of the last non-zero byte of a NAL unit (header byte at index 0); 0 when every
// byte after the header is zero or the unit is empty.
inline size_t RbspPayloadBytes(const uint8_t* nalBytes, size_t nalSize) {
    if (nalSize == 0) return 0;
    size_t i = nalSize - 1;
    while (i > 0 && nalBytes[i] == 0)
        --i;
    return i;
}
int ParseHrd(BitReader* r, HrdParams* hrd);
int ParseBufferingPeriod(AvcDecoderContext* ctx, const uint8_t* payload, size_t size);
int ParsePictureTiming(AvcDecoderContext* ctx, const uint8_t* payload, size_t size);

// Walks the SEI messages of one SEI NAL unit (header byte first) and calls visit for
// each with its payload type and bytes. Returns kParseOutOfRange when a message's size
// runs past the NAL unit (the messages before it were visited), else kParseOk.
template <typename Visit>
int ForEachSeiMessage(const uint8_t* nal, size_t nalSize, Visit&& visit);

}  // namespace avcdec

#include "filters/decoder/core/sei_walk.inl"
