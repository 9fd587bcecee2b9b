#include "filters/decoder/core/param_sets.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "common/bitstream/bit_reader.h"
#include "filters/decoder/core/decoder_context.h"

namespace avcdec {

namespace {

int32_t Flag(BitReader* r) {
    return static_cast<int32_t>(r->ReadBit());
}

// The RBSP of the context's current NAL unit, behind its header byte.
void InitOverNal(AvcDecoderContext* ctx) {
    const NalUnitBuffer* nu = ctx->nal;
    ctx->reader = BitReader(nu->payload + 1, nu->length > 0 ? nu->length - 1 : 0);
}

// Picture timing, clause D.1.2, Table D-1: NumClockTS by pic_struct; 0 for the reserved
// values 9..15.
constexpr int kNumClockTs[16] = {1, 1, 1, 2, 2, 3, 3, 2, 3, 0, 0, 0, 0, 0, 0, 0};

}  // namespace

int32_t MaxFrameSizeOfLevel(int32_t level_idc, bool constraint_set3_flag) {
    switch (level_idc) {
        case 9:
            return 99;  // level 1b
        case 10:
            return 99;
        case 11:
            return constraint_set3_flag ? 99 : 396;  // level 1b in Baseline/Main
        case 12:
        case 13:
        case 20:
            return 396;
        case 21:
            return 792;
        case 22:
        case 30:
            return 1620;
        case 31:
            return 3600;
        case 32:
            return 5120;
        case 40:
        case 41:
            return 8192;
        case 42:
            return 8704;
        case 50:
            return 22080;
        case 51:
        case 52:
            return 36864;
        default:
            return 0;
    }
}

int ParseHrd(BitReader* r, HrdParams* hrd) {
    int32_t cpbCntMinus1 = 0;
    if (!ReadUeIn(r, 30, &cpbCntMinus1)) return kParseUnsupported;
    hrd->cpb_cnt = cpbCntMinus1 + 1;
    hrd->bit_rate_scale = static_cast<int32_t>(r->ReadBits(4));
    hrd->cpb_size_scale = static_cast<int32_t>(r->ReadBits(4));
    for (int i = 0; i < hrd->cpb_cnt; ++i) {
        // bit_rate_value_minus1 and cpb_size_value_minus1 are at most 2^32 - 2; this reader
        // takes codes of up to 15 leading zeros, so anything larger is an invalid code.
        int32_t v = 0;
        if (!ReadUeIn(r, 65534, &v)) return kParseUnsupported;
        hrd->bit_rate_value[i] = v + 1;
        if (!ReadUeIn(r, 65534, &v)) return kParseUnsupported;
        hrd->cpb_size_value[i] = v + 1;
        hrd->cbr_flag[i] = Flag(r);
    }
    hrd->initial_cpb_removal_delay_length_minus1 = static_cast<int32_t>(r->ReadBits(5));
    hrd->cpb_removal_delay_length_minus1 = static_cast<int32_t>(r->ReadBits(5));
    hrd->dpb_output_delay_length_minus1 = static_cast<int32_t>(r->ReadBits(5));
    hrd->time_offset_length = static_cast<int32_t>(r->ReadBits(5));
    return 0;
}

int ParseVui(BitReader* r, SeqParamSet* s) {
    s->aspect_ratio_info_present_flag = Flag(r);
    if (s->aspect_ratio_info_present_flag) {
        s->aspect_ratio_idc = static_cast<int32_t>(r->ReadBits(8));
        if (s->aspect_ratio_idc == 255) {  // Extended_SAR
            s->sar_width = static_cast<int32_t>(r->ReadBits(16));
            s->sar_height = static_cast<int32_t>(r->ReadBits(16));
        }
    }
    s->overscan_info_present_flag = Flag(r);
    if (s->overscan_info_present_flag) s->overscan_appropriate_flag = Flag(r);
    s->video_signal_type_present_flag = Flag(r);
    if (s->video_signal_type_present_flag) {
        s->video_format = static_cast<int32_t>(r->ReadBits(3));
        s->video_full_range_flag = Flag(r);
        s->colour_description_present_flag = Flag(r);
        if (s->colour_description_present_flag) {
            s->colour_primaries = static_cast<int32_t>(r->ReadBits(8));
            s->transfer_characteristics = static_cast<int32_t>(r->ReadBits(8));
            s->matrix_coefficients = static_cast<int32_t>(r->ReadBits(8));
        }
    }
    s->chroma_loc_info_present_flag = Flag(r);
    if (s->chroma_loc_info_present_flag) {
        if (!ReadUeIn(r, 5, &s->chroma_sample_loc_type_top_field) ||
            !ReadUeIn(r, 5, &s->chroma_sample_loc_type_bottom_field))
            return kParseUnsupported;
    }
    s->timing_info_present_flag = Flag(r);
    if (s->timing_info_present_flag) {
        s->num_units_in_tick = r->ReadBits(32);
        s->time_scale = r->ReadBits(32);
        s->fixed_frame_rate_flag = Flag(r);
    }
    int result = 0;
    s->nal_hrd_parameters_present_flag = Flag(r);
    if (s->nal_hrd_parameters_present_flag && ParseHrd(r, &s->nal_hrd) != 0) {
        s->nal_hrd_parameters_present_flag = 0;
        return kParseUnsupported;
    }
    s->vcl_hrd_parameters_present_flag = Flag(r);
    if (s->vcl_hrd_parameters_present_flag && ParseHrd(r, &s->vcl_hrd) != 0) {
        s->vcl_hrd_parameters_present_flag = 0;
        return kParseUnsupported;
    }
    // An absent HRD takes the present one's field lengths; with neither, the inferred
    // lengths of clause E.2.2 (23, 23, 23, 24).
    const auto copyLengths = [](HrdParams* to, const HrdParams& from) {
        to->initial_cpb_removal_delay_length_minus1 = from.initial_cpb_removal_delay_length_minus1;
        to->cpb_removal_delay_length_minus1 = from.cpb_removal_delay_length_minus1;
        to->dpb_output_delay_length_minus1 = from.dpb_output_delay_length_minus1;
        to->time_offset_length = from.time_offset_length;
    };
    if (s->nal_hrd_parameters_present_flag || s->vcl_hrd_parameters_present_flag) {
        if (!s->nal_hrd_parameters_present_flag) copyLengths(&s->nal_hrd, s->vcl_hrd);
        if (!s->vcl_hrd_parameters_present_flag) copyLengths(&s->vcl_hrd, s->nal_hrd);
        s->low_delay_hrd_flag = Flag(r);
    } else {
        const HrdParams inferred{0, 0, 0, {}, {}, {}, 23, 23, 23, 24};
        copyLengths(&s->nal_hrd, inferred);
        copyLengths(&s->vcl_hrd, inferred);
    }
    s->pic_struct_present_flag = Flag(r);
    s->bitstream_restriction_flag = Flag(r);
    if (s->bitstream_restriction_flag) {
        s->motion_vectors_over_pic_boundaries_flag = Flag(r);
        if (!ReadUeIn(r, 16, &s->max_bytes_per_pic_denom) || !ReadUeIn(r, 16, &s->max_bits_per_mb_denom) ||
            !ReadUeIn(r, 16, &s->log2_max_mv_length_horizontal) || !ReadUeIn(r, 16, &s->log2_max_mv_length_vertical) ||
            !ReadUeIn(r, 16, &s->num_reorder_frames) || !ReadUeIn(r, 16, &s->max_dec_frame_buffering))
            result = -1;
    }
    return result;
}

int ParseSeqParamSet(AvcDecoderContext* ctx) {
    InitOverNal(ctx);
    BitReader* r = &ctx->reader;
    SeqParamSet s{};
    s.profile_idc = static_cast<int32_t>(r->ReadBits(8));
    if (s.profile_idc != 66 && s.profile_idc != 77 && s.profile_idc != 88) {
        // High and the other profiles are outside what this decoder handles; the caller
        // reads refusedProfileIdc to say so.
        ctx->refusedProfileIdc = s.profile_idc;
        return kParseUnsupported;
    }
    s.constraint_set0_flag = Flag(r);
    s.constraint_set1_flag = Flag(r);
    s.constraint_set2_flag = Flag(r);
    const uint32_t set3AndReserved = r->ReadBits(5);
    if (set3AndReserved != 0) return kParseUnsupported;
    s.level_idc = static_cast<int32_t>(r->ReadBits(8));

    bool ok = ReadUeIn(r, kMaxSeqParamSets - 1, &s.seq_parameter_set_id) &&
              ReadUeIn(r, 12, &s.log2_max_frame_num_minus4) && ReadUeIn(r, 2, &s.pic_order_cnt_type);
    if (!ok) return kParseOutOfRange;
    if (s.pic_order_cnt_type == 0) {
        if (!ReadUeIn(r, 12, &s.log2_max_pic_order_cnt_lsb_minus4)) return kParseOutOfRange;
    } else if (s.pic_order_cnt_type == 1) {
        s.delta_pic_order_always_zero_flag = Flag(r);
        // offsets are -(2^31 - 1)..2^31 - 1; this reader's se(v) spans -32767..32767.
        ok = ReadSeIn(r, -32767, 32767, &s.offset_for_non_ref_pic) &&
             ReadSeIn(r, -32767, 32767, &s.offset_for_top_to_bottom_field) &&
             ReadUeIn(r, kMaxRefFramesInPocCycle, &s.num_ref_frames_in_pic_order_cnt_cycle);
        if (!ok) return kParseOutOfRange;
        for (int i = 0; i < s.num_ref_frames_in_pic_order_cnt_cycle; ++i) {
            if (!ReadSeIn(r, -32767, 32767, &s.offset_for_ref_frame[i])) return kParseOutOfRange;
        }
    }
    ok = ReadUeIn(r, 17, &s.num_ref_frames);
    if (!ok) return kParseOutOfRange;
    s.gaps_in_frame_num_value_allowed_flag = Flag(r);
    ok = ReadUeIn(r, kMaxPictureSide / 16 - 1, &s.pic_width_in_mbs_minus1) &&
         ReadUeIn(r, kMaxPictureSide / 16 - 1, &s.pic_height_in_map_units_minus1);
    if (!ok) return kParseOutOfRange;
    s.frame_mbs_only_flag = Flag(r);
    if (!s.frame_mbs_only_flag) s.mb_adaptive_frame_field_flag = Flag(r);
    s.direct_8x8_inference_flag = Flag(r);

    // Sizes in macroblocks, in size_t: a field-coded picture has twice the map units.
    const size_t widthMbs = static_cast<size_t>(s.pic_width_in_mbs_minus1) + 1;
    const size_t heightMbs =
        (2 - static_cast<size_t>(s.frame_mbs_only_flag)) * (static_cast<size_t>(s.pic_height_in_map_units_minus1) + 1);
    if (heightMbs * 16 > kMaxPictureSide) return kParseOutOfRange;
    const int32_t maxFs = MaxFrameSizeOfLevel(s.level_idc, false);
    if (maxFs != 0 && widthMbs * heightMbs > static_cast<size_t>(maxFs)) return kParseOutOfRange;

    s.frame_cropping_flag = Flag(r);
    if (s.frame_cropping_flag) {
        // Offsets count chroma samples: 2 luma columns, and 2 (frames) or 4 (fields) rows.
        const int32_t maxX = static_cast<int32_t>(widthMbs * 16 / 2);
        const int32_t maxY = static_cast<int32_t>(heightMbs * 16 / (2 * (2 - s.frame_mbs_only_flag)));
        ok = ReadUeIn(r, maxX, &s.frame_crop_left_offset) && ReadUeIn(r, maxX, &s.frame_crop_right_offset) &&
             ReadUeIn(r, maxY, &s.frame_crop_top_offset) && ReadUeIn(r, maxY, &s.frame_crop_bottom_offset);
        if (!ok || s.frame_crop_left_offset + s.frame_crop_right_offset >= maxX ||
            s.frame_crop_top_offset + s.frame_crop_bottom_offset >= maxY)
            return kParseOutOfRange;
    }
    s.vui_parameters_present_flag = Flag(r);
    if (s.vui_parameters_present_flag) ParseVui(r, &s);  // a VUI error keeps the set

    s.valid = 1;
    SeqParamSet* slot = &ctx->sps[s.seq_parameter_set_id];
    *slot = s;
    ctx->activeSps = slot;
    return kParseOk;
}

int ParsePicParamSet(AvcDecoderContext* ctx) {
    InitOverNal(ctx);
    BitReader* r = &ctx->reader;
    PicParamSet p{};
    if (!ReadUeIn(r, kMaxPicParamSets - 1, &p.pic_parameter_set_id) ||
        !ReadUeIn(r, kMaxSeqParamSets - 1, &p.seq_parameter_set_id))
        return kParseOutOfRange;
    const SeqParamSet* sps = &ctx->sps[p.seq_parameter_set_id];
    if (!sps->valid) return kParseOutOfRange;
    p.entropy_coding_mode_flag = Flag(r);
    p.pic_order_present_flag = Flag(r);
    if (!ReadUeIn(r, kMaxSliceGroups - 1, &p.num_slice_groups_minus1)) return kParseOutOfRange;

    std::vector<uint8_t> ids;
    if (p.num_slice_groups_minus1 > 0) {
        const int32_t groups = p.num_slice_groups_minus1 + 1;
        const int32_t mapUnits = (sps->pic_width_in_mbs_minus1 + 1) * (sps->pic_height_in_map_units_minus1 + 1);
        if (!ReadUeIn(r, 6, &p.slice_group_map_type)) return kParseOutOfRange;
        switch (p.slice_group_map_type) {
            case 0:
                for (int i = 0; i < groups; ++i)
                    if (!ReadUeIn(r, mapUnits - 1, &p.run_length_minus1[i])) return kParseOutOfRange;
                break;
            case 2:
                for (int i = 0; i < groups - 1; ++i) {
                    if (!ReadUeIn(r, mapUnits - 1, &p.top_left[i]) || !ReadUeIn(r, mapUnits - 1, &p.bottom_right[i]))
                        return kParseOutOfRange;
                }
                break;
            case 3:
            case 4:
            case 5:
                p.slice_group_change_direction_flag = Flag(r);
                if (!ReadUeIn(r, mapUnits - 1, &p.slice_group_change_rate_minus1)) return kParseOutOfRange;
                break;
            case 6: {
                const int32_t size = static_cast<int32_t>(r->ReadUe());
                if (size != mapUnits - 1) return kParseUnsupported;
                p.pic_size_in_map_units_minus1 = size;
                const int bits = groups > 4 ? 3 : groups > 2 ? 2 : 1;  // Ceil(Log2(groups))
                ids.resize(static_cast<size_t>(mapUnits));
                for (int32_t i = 0; i < mapUnits; ++i) {
                    ids[i] = static_cast<uint8_t>(r->ReadBits(bits));
                    if (ids[i] >= groups) return kParseOutOfRange;
                }
                break;
            }
            default:
                break;
        }
    }
    p.slice_group_id = std::move(ids);
    // The active counts are checked by the slice header; here only what a 32-entry list
    // can hold.
    if (!ReadUeIn(r, 31, &p.num_ref_idx_l0_active_minus1) || !ReadUeIn(r, 31, &p.num_ref_idx_l1_active_minus1))
        return kParseOutOfRange;
    p.weighted_pred_flag = Flag(r);
    p.weighted_bipred_idc = static_cast<int32_t>(r->ReadBits(2));
    if (p.weighted_bipred_idc > 2 || !ReadSeIn(r, -26, 25, &p.pic_init_qp_minus26) ||
        !ReadSeIn(r, -26, 25, &p.pic_init_qs_minus26) || !ReadSeIn(r, -12, 12, &p.chroma_qp_index_offset))
        return kParseOutOfRange;
    p.deblocking_filter_control_present_flag = Flag(r);
    p.constrained_intra_pred_flag = Flag(r);
    p.redundant_pic_cnt_present_flag = Flag(r);

    p.valid = 1;
    ctx->pps[p.pic_parameter_set_id] = std::move(p);
    return kParseOk;
}

int ActivatePicParamSet(AvcDecoderContext* ctx, int32_t ppsId) {
    if (ppsId >= 0 && ppsId < kMaxPicParamSets && ctx->pps[ppsId].valid) {
        const int32_t spsId = ctx->pps[ppsId].seq_parameter_set_id;
        if (spsId >= 0 && spsId < kMaxSeqParamSets && ctx->sps[spsId].valid) {
            ctx->activePps = &ctx->pps[ppsId];
            ctx->activeSps = &ctx->sps[spsId];
            return 0;
        }
    }
    ctx->activePps = nullptr;
    ctx->activeSps = nullptr;
    return kParseUnsupported;
}

int ParseBufferingPeriod(AvcDecoderContext* ctx, const uint8_t* payload, size_t size) {
    BitReader r(payload, size);
    int32_t id = 0;
    if (!ReadUeIn(&r, kMaxSeqParamSets - 1, &id) || !ctx->sps[id].valid) return kParseOutOfRange;
    ctx->activeSps = &ctx->sps[id];
    ctx->pendingBuffering.valid = 1;
    ctx->pendingBuffering.seq_parameter_set_id = id;
    return kParseOk;
}

int ParsePictureTiming(AvcDecoderContext* ctx, const uint8_t* payload, size_t size) {
    PictureTiming* t = &ctx->pendingTiming;
    *t = PictureTiming{};
    const SeqParamSet* sps = ctx->activeSps;
    // Clause D.1.3: the message exists when the HRD delays or pic_struct are present; its
    // field lengths come from the NAL HRD, else the VCL HRD.
    const bool delays =
        sps != nullptr && (sps->nal_hrd_parameters_present_flag || sps->vcl_hrd_parameters_present_flag);
    if (sps == nullptr || (!delays && !sps->pic_struct_present_flag)) return kParseUnsupported;
    const HrdParams& hrd = sps->nal_hrd_parameters_present_flag ? sps->nal_hrd : sps->vcl_hrd;
    BitReader r(payload, size);
    if (delays) {
        t->cpb_removal_delay = static_cast<int32_t>(r.ReadBits(hrd.cpb_removal_delay_length_minus1 + 1));
        t->dpb_output_delay = static_cast<int32_t>(r.ReadBits(hrd.dpb_output_delay_length_minus1 + 1));
    }
    if (sps->pic_struct_present_flag) {
        t->pic_struct = static_cast<int32_t>(r.ReadBits(4));
        const int clocks = kNumClockTs[t->pic_struct];
        if (clocks == 0) return kParseUnsupported;
        for (int i = 0; i < clocks; ++i) {
            ClockTimestamp* c = &t->clock[i];
            c->clock_timestamp_flag = Flag(&r);
            if (!c->clock_timestamp_flag) continue;
            c->ct_type = static_cast<int32_t>(r.ReadBits(2));
            c->nuit_field_based_flag = Flag(&r);
            c->counting_type = static_cast<int32_t>(r.ReadBits(5));
            c->full_timestamp_flag = Flag(&r);
            c->discontinuity_flag = Flag(&r);
            c->cnt_dropped_flag = Flag(&r);
            c->n_frames = static_cast<int32_t>(r.ReadBits(8));
            if (c->full_timestamp_flag) {
                c->seconds_flag = c->minutes_flag = c->hours_flag = 1;
                c->seconds_value = static_cast<int32_t>(r.ReadBits(6));
                c->minutes_value = static_cast<int32_t>(r.ReadBits(6));
                c->hours_value = static_cast<int32_t>(r.ReadBits(5));
            } else {
                c->seconds_flag = Flag(&r);
                if (c->seconds_flag) {
                    c->seconds_value = static_cast<int32_t>(r.ReadBits(6));
                    c->minutes_flag = Flag(&r);
                    if (c->minutes_flag) {
                        c->minutes_value = static_cast<int32_t>(r.ReadBits(6));
                        c->hours_flag = Flag(&r);
                        if (c->hours_flag) c->hours_value = static_cast<int32_t>(r.ReadBits(5));
                    }
                }
            }
            // Without HRD parameters time_offset_length is inferred to be 24.
            const int len = delays ? hrd.time_offset_length : 24;
            if (len > 0) {
                // time_offset is i(len): sign-extend the two's complement field.
                const uint32_t raw = r.ReadBits(len);
                const uint32_t sign = 1u << (len - 1);
                c->time_offset = static_cast<int32_t>((raw ^ sign) - sign);
            }
        }
    }
    t->valid = 1;
    return kParseOk;
}

int ParseSei(AvcDecoderContext* ctx) {
    const NalUnitBuffer* nu = ctx->nal;
    return ForEachSeiMessage(nu->payload, nu->length, [ctx](int type, const uint8_t* payload, size_t size) {
        if (type == 0)
            ParseBufferingPeriod(ctx, payload, size);
        else if (type == 1)
            ParsePictureTiming(ctx, payload, size);
    });
}

}  // namespace avcdec
