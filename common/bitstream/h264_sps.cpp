#include "common/bitstream/h264_sps.h"

#include <cstddef>
#include <cstring>

#include "common/bitstream/bit_reader.h"
#include "common/bitstream/h264_syntax.h"

namespace common {
namespace {

constexpr int32_t kMaxOffset = 2147483647;  // offset_for_*: -(2^31 - 1) .. 2^31 - 1

// The reader's checked reads into the int32_t fields; each answers false on a cut, an
// invalid code or a value outside [min, max], and the reader keeps the failure.
bool Ue(BitReader& r, uint32_t max, int32_t* field) {
    uint32_t v = 0;
    if (!r.ReadUeIn(max, &v)) return false;
    *field = static_cast<int32_t>(v);
    return true;
}

bool Se(BitReader& r, int32_t min, int32_t max, int32_t* field) {
    return r.ReadSeIn(min, max, field);
}

int32_t Flag(BitReader& r) {
    return static_cast<int32_t>(r.ReadBit());
}

int32_t Bits(BitReader& r, int n) {
    return static_cast<int32_t>(r.ReadBits(n));
}

// scaling_list() of clause 7.3.2.1.1.1: delta_scale until nextScale becomes 0.
bool ReadScalingList(BitReader& r, int size, H264ScalingListCode* list) {
    int32_t nextScale = 8;
    list->count = 0;
    for (int j = 0; j < size && nextScale != 0; ++j) {
        if (!Se(r, -128, 127, &list->delta_scale[j])) return false;
        nextScale = (nextScale + list->delta_scale[j] + 256) % 256;
        list->count = j + 1;
    }
    return true;
}

// hrd_parameters(), clause E.1.2.
bool ReadHrd(BitReader& r, H264Hrd* hrd) {
    if (!Ue(r, kH264MaxCpbCount - 1, &hrd->cpb_cnt)) return false;
    ++hrd->cpb_cnt;
    hrd->bit_rate_scale = Bits(r, 4);
    hrd->cpb_size_scale = Bits(r, 4);
    for (int i = 0; i < hrd->cpb_cnt; ++i) {
        uint32_t v = 0;
        // 0 .. 2^32 - 2: the whole range of a ue(v) code the reader accepts.
        if (!r.ReadUeIn(0xFFFFFFFEu, &v)) return false;
        hrd->bit_rate_value[i] = v + 1;
        if (!r.ReadUeIn(0xFFFFFFFEu, &v)) return false;
        hrd->cpb_size_value[i] = v + 1;
        hrd->cbr_flag[i] = Flag(r);
    }
    hrd->initial_cpb_removal_delay_length_minus1 = Bits(r, 5);
    hrd->cpb_removal_delay_length_minus1 = Bits(r, 5);
    hrd->dpb_output_delay_length_minus1 = Bits(r, 5);
    hrd->time_offset_length = Bits(r, 5);
    return r.Ok();
}

void CopyLengths(H264Hrd* to, const H264Hrd& from) {
    to->initial_cpb_removal_delay_length_minus1 = from.initial_cpb_removal_delay_length_minus1;
    to->cpb_removal_delay_length_minus1 = from.cpb_removal_delay_length_minus1;
    to->dpb_output_delay_length_minus1 = from.dpb_output_delay_length_minus1;
    to->time_offset_length = from.time_offset_length;
}

// vui_parameters(), clause E.1.1.
bool ReadVui(BitReader& r, H264Sps* s) {
    s->aspect_ratio_info_present_flag = Flag(r);
    if (s->aspect_ratio_info_present_flag) {
        s->aspect_ratio_idc = Bits(r, 8);
        if (s->aspect_ratio_idc == kH264ExtendedSar) {
            s->sar_width = Bits(r, 16);
            s->sar_height = Bits(r, 16);
        }
    }
    s->overscan_info_present_flag = Flag(r);
    if (s->overscan_info_present_flag) s->overscan_appropriate_flag = Flag(r);
    s->video_signal_type_present_flag = Flag(r);
    if (s->video_signal_type_present_flag) {
        s->video_format = Bits(r, 3);
        s->video_full_range_flag = Flag(r);
        s->colour_description_present_flag = Flag(r);
        if (s->colour_description_present_flag) {
            s->colour_primaries = Bits(r, 8);
            s->transfer_characteristics = Bits(r, 8);
            s->matrix_coefficients = Bits(r, 8);
        }
    }
    s->chroma_loc_info_present_flag = Flag(r);
    if (s->chroma_loc_info_present_flag) {
        if (!Ue(r, 5, &s->chroma_sample_loc_type_top_field) || !Ue(r, 5, &s->chroma_sample_loc_type_bottom_field))
            return false;
    }
    s->timing_info_present_flag = Flag(r);
    if (s->timing_info_present_flag) {
        s->num_units_in_tick = r.ReadBits(32);
        s->time_scale = r.ReadBits(32);
        s->fixed_frame_rate_flag = Flag(r);
    }
    s->nal_hrd_parameters_present_flag = Flag(r);
    if (s->nal_hrd_parameters_present_flag && !ReadHrd(r, &s->nal_hrd)) return false;
    s->vcl_hrd_parameters_present_flag = Flag(r);
    if (s->vcl_hrd_parameters_present_flag && !ReadHrd(r, &s->vcl_hrd)) return false;
    if (s->nal_hrd_parameters_present_flag || s->vcl_hrd_parameters_present_flag) {
        if (!s->nal_hrd_parameters_present_flag) CopyLengths(&s->nal_hrd, s->vcl_hrd);
        if (!s->vcl_hrd_parameters_present_flag) CopyLengths(&s->vcl_hrd, s->nal_hrd);
        s->low_delay_hrd_flag = Flag(r);
    }
    s->pic_struct_present_flag = Flag(r);
    s->bitstream_restriction_flag = Flag(r);
    if (s->bitstream_restriction_flag) {
        s->motion_vectors_over_pic_boundaries_flag = Flag(r);
        if (!Ue(r, 16, &s->max_bytes_per_pic_denom) || !Ue(r, 16, &s->max_bits_per_mb_denom) ||
            // 0..16: editions before 2016 allowed 16, and streams carrying it are common.
            !Ue(r, 16, &s->log2_max_mv_length_horizontal) || !Ue(r, 16, &s->log2_max_mv_length_vertical) ||
            !Ue(r, kH264MaxDpbFrames, &s->num_reorder_frames) || !Ue(r, kH264MaxDpbFrames, &s->max_dec_frame_buffering))
            return false;
        if (s->num_reorder_frames > s->max_dec_frame_buffering) r.Fail();
    }
    return r.Ok();
}

// The set up to its VUI; false at the first failure, which the reader keeps. The VUI
// itself is left to the caller (ReadVui), which may keep the set without it.
bool ReadSpsBeforeVui(BitReader& r, H264Sps* s) {
    s->profile_idc = Bits(r, 8);
    s->constraint_set0_flag = Flag(r);
    s->constraint_set1_flag = Flag(r);
    s->constraint_set2_flag = Flag(r);
    s->constraint_set3_flag = Flag(r);
    s->constraint_set4_flag = Flag(r);
    s->constraint_set5_flag = Flag(r);
    s->reserved_zero_2bits = Bits(r, 2);
    s->level_idc = Bits(r, 8);
    if (!Ue(r, kH264MaxSpsCount - 1, &s->seq_parameter_set_id)) return false;
    s->chroma_format_idc = 1;
    if (HasChromaFormatSyntax(s->profile_idc)) {
        if (!Ue(r, 3, &s->chroma_format_idc)) return false;
        if (s->chroma_format_idc == 3) s->separate_colour_plane_flag = Flag(r);
        if (!Ue(r, 6, &s->bit_depth_luma_minus8) || !Ue(r, 6, &s->bit_depth_chroma_minus8)) return false;
        s->qpprime_y_zero_transform_bypass_flag = Flag(r);
        s->seq_scaling_matrix_present_flag = Flag(r);
        if (s->seq_scaling_matrix_present_flag) {
            const int lists = s->chroma_format_idc != 3 ? 8 : 12;
            for (int i = 0; i < lists; ++i) {
                s->seq_scaling_list_present_flag[i] = Flag(r);
                if (s->seq_scaling_list_present_flag[i] && !ReadScalingList(r, i < 6 ? 16 : 64, &s->scaling_list[i]))
                    return false;
            }
        }
    }
    if (!Ue(r, 12, &s->log2_max_frame_num_minus4) || !Ue(r, 2, &s->pic_order_cnt_type)) return false;
    if (s->pic_order_cnt_type == 0) {
        if (!Ue(r, 12, &s->log2_max_pic_order_cnt_lsb_minus4)) return false;
    } else if (s->pic_order_cnt_type == 1) {
        s->delta_pic_order_always_zero_flag = Flag(r);
        if (!Se(r, -kMaxOffset, kMaxOffset, &s->offset_for_non_ref_pic) ||
            !Se(r, -kMaxOffset, kMaxOffset, &s->offset_for_top_to_bottom_field) ||
            !Ue(r, kH264MaxPocCycle, &s->num_ref_frames_in_pic_order_cnt_cycle))
            return false;
        for (int i = 0; i < s->num_ref_frames_in_pic_order_cnt_cycle; ++i)
            if (!Se(r, -kMaxOffset, kMaxOffset, &s->offset_for_ref_frame[i])) return false;
    }
    if (!Ue(r, kH264MaxDpbFrames, &s->num_ref_frames)) return false;
    s->gaps_in_frame_num_value_allowed_flag = Flag(r);
    if (!Ue(r, kH264MaxSideMbs - 1, &s->pic_width_in_mbs_minus1) ||
        !Ue(r, kH264MaxSideMbs - 1, &s->pic_height_in_map_units_minus1))
        return false;
    s->frame_mbs_only_flag = Flag(r);
    if (!s->frame_mbs_only_flag) s->mb_adaptive_frame_field_flag = Flag(r);
    s->direct_8x8_inference_flag = Flag(r);
    s->frame_cropping_flag = Flag(r);
    if (s->frame_cropping_flag) {
        // Clause 7.4.2.1.1: offsets count CropUnitX columns and CropUnitY rows, and leave
        // at least one of each.
        const int32_t chromaArrayType = s->separate_colour_plane_flag ? 0 : s->chroma_format_idc;
        const int32_t unitX = chromaArrayType == 1 || chromaArrayType == 2 ? 2 : 1;
        const int32_t unitY = (chromaArrayType == 1 ? 2 : 1) * (2 - s->frame_mbs_only_flag);
        const int32_t width = (s->pic_width_in_mbs_minus1 + 1) * 16 / unitX;
        const int32_t height = (2 - s->frame_mbs_only_flag) * (s->pic_height_in_map_units_minus1 + 1) * 16 / unitY;
        if (!Ue(r, width - 1, &s->frame_crop_left_offset) || !Ue(r, width - 1, &s->frame_crop_right_offset) ||
            !Ue(r, height - 1, &s->frame_crop_top_offset) || !Ue(r, height - 1, &s->frame_crop_bottom_offset))
            return false;
        if (s->frame_crop_left_offset + s->frame_crop_right_offset >= width ||
            s->frame_crop_top_offset + s->frame_crop_bottom_offset >= height) {
            r.Fail();
            return false;
        }
    }
    s->vui_parameters_present_flag = Flag(r);
    return r.Ok();
}

}  // namespace

SpsResult ParseH264Sps(std::span<const uint8_t> rbsp, H264Sps* out) {
    BitReader r(rbsp);
    H264Sps s{};
    static constexpr H264Hrd kInferred{0, 0, 0, {}, {}, {}, 23, 23, 23, 24};
    CopyLengths(&s.nal_hrd, kInferred);
    CopyLengths(&s.vcl_hrd, kInferred);
    const H264Sps inferred = s;
    if (ReadSpsBeforeVui(r, &s) && s.vui_parameters_present_flag) {
        const H264Sps beforeVui = s;
        ReadVui(r, &s);
        if (!r.Ok() || !r.AtStopBit()) {
            // The set is sound up to its VUI: keep it with the VUI's inferred values (the
            // VUI only advises on display and buffering).
            s = inferred;
            std::memcpy(&s, &beforeVui, offsetof(H264Sps, vui_parameters_present_flag));
            s.vui_parameters_present_flag = 0;
            *out = s;
            return SpsResult::kVuiDropped;
        }
    }
    if (r.PastEnd() || r.InvalidCode()) return SpsResult::kCut;
    if (!r.Ok()) return SpsResult::kOutOfRange;
    if (!r.AtStopBit()) return SpsResult::kTrailing;
    *out = s;
    return SpsResult::kOk;
}

}  // namespace common
