#include "filters/decoder/core/param_sets.h"

#include <cstring>
#include <new>
#include <span>
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

int ParseSeqParamSet(AvcDecoderContext* ctx) {
    const NalUnitBuffer* nu = ctx->nal;
    const std::span<const uint8_t> rbsp =
        nu->length > 1 ? std::span<const uint8_t>(nu->payload + 1, nu->length - 1) : std::span<const uint8_t>();
    const int32_t profileIdc = rbsp.empty() ? 0 : rbsp[0];
    if (profileIdc != 66 && profileIdc != 77 && profileIdc != 88) {
        // High and the other profiles are outside what this decoder handles; the caller
        // reads refusedProfileIdc to say so.
        ctx->refusedProfileIdc = profileIdc;
        return kParseUnsupported;
    }
    // constraint_set3..5_flag and reserved_zero_2bits are accepted as the standard asks of
    // decoders (level 1b in Baseline sets constraint_set3_flag).
    SeqParamSet s{};
    // A damaged VUI costs only its advice (display and buffering hints): the set is kept.
    const common::SpsResult parsed = common::ParseH264Sps(rbsp, &s);
    if (parsed != common::SpsResult::kOk && parsed != common::SpsResult::kVuiDropped) return kParseOutOfRange;

    // Sizes in macroblocks, in size_t: a field-coded picture has twice the map units.
    const size_t widthMbs = static_cast<size_t>(s.pic_width_in_mbs_minus1) + 1;
    const size_t heightMbs =
        (2 - static_cast<size_t>(s.frame_mbs_only_flag)) * (static_cast<size_t>(s.pic_height_in_map_units_minus1) + 1);
    // A picture larger than its stated level allows is kept (other decoders play such
    // streams); activation refuses what no level allows (ActivateSeqParamSet).
    if (widthMbs * 16 > kMaxPictureSide || heightMbs * 16 > kMaxPictureSide) return kParseOutOfRange;

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
