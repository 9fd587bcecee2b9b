// Sequence and picture parameter sets and the SEI messages the decoder uses (H.264
// clauses 7.3.2.1, 7.3.2.2, 7.3.2.3, D.1 and E.1).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/bitstream/h264_sps.h"

namespace avcdec {

struct AvcDecoderContext;
struct BitReader;

constexpr int kMaxSeqParamSets = 32;
constexpr int kMaxPicParamSets = 128;
constexpr int kMaxCpbCount = 32;
constexpr int kMaxRefFramesInPocCycle = 255;
constexpr int kMaxSliceGroups = 8;
constexpr int kMaxPictureSide = 8192;  // luma samples, either direction

// The sets as the common parser reads them; `valid` marks a filled slot.
using HrdParams = common::H264Hrd;
struct SeqParamSet : common::H264Sps {
    int32_t valid;
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
    uint8_t* slice_group_id;  // owned; map type 6 only, else null
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

// Result codes of the parsers.
constexpr int kParseOk = 0;
constexpr int kParseUnsupported = -1;  // unsupported profile, reserved bits, memory
constexpr int kParseOutOfRange = -8;   // a syntax value out of range or a missing set

// Clause A.3.1, Table A-1: the largest frame size in macroblocks of a level; 0 when the
// level is not one of the table.
int32_t MaxFrameSizeOfLevel(int32_t level_idc, bool constraint_set3_flag);

// Parsers over the context's current NAL unit (header byte first, emulation prevention
// already removed). A rejected set leaves its slot untouched. A sequence parameter set is
// read by the common parser (exact to its stop bit); this decoder then refuses profiles
// other than Baseline, Main and Extended, constraint_set3..5 flags and reserved bits, and
// pictures larger than kMaxPictureSide or than the level's MaxFS.
int ParseSeqParamSet(AvcDecoderContext* ctx);
int ParsePicParamSet(AvcDecoderContext* ctx);
int ActivatePicParamSet(AvcDecoderContext* ctx, int32_t ppsId);
int ParseSei(AvcDecoderContext* ctx);
int ParseBufferingPeriod(AvcDecoderContext* ctx, const uint8_t* payload, size_t size);
int ParsePictureTiming(AvcDecoderContext* ctx, const uint8_t* payload, size_t size);

// Walks the SEI messages of one SEI NAL unit (header byte first) and calls visit for
// each with its payload type and bytes. Returns kParseOutOfRange when a message's size
// runs past the NAL unit (the messages before it were visited), else kParseOk.
template <typename Visit>
int ForEachSeiMessage(const uint8_t* nal, size_t nalSize, Visit&& visit);

// Frees the slice-group id arrays of every picture parameter set slot.
void FreePicParamSets(PicParamSet* slots, int count);

}  // namespace avcdec

#include "filters/decoder/core/sei_walk.inl"
