#include "filters/decoder/core/slice_header.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/bitstream/bit_reader.h"
#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/decoder_result.h"
#include "filters/decoder/core/picture_store.h"

namespace avcdec {

namespace {

int ParseModifications(BitReader* r, SliceHeader* s, int list) {
    s->commandCount[list] = 0;
    s->ref_pic_list_modification_flag[list] = static_cast<int32_t>(r->ReadBit());
    if (!s->ref_pic_list_modification_flag[list]) return kDecoderOk;
    for (;;) {
        int32_t idc = 0;
        if (!ReadUeIn(r, 3, &idc)) return kDecoderOutOfRange;
        if (idc == 3) return kDecoderOk;
        // A list holds at most 32 entries; more commands than that cannot come from a
        // conforming encoder and would not fit.
        if (s->commandCount[list] >= kMaxRefListCommands) return kDecoderOutOfRange;
        RefListCommand* c = &s->commands[list][s->commandCount[list]++];
        c->modification_of_pic_nums_idc = idc;
        // abs_diff_pic_num_minus1 is below MaxPicNum (at most 2^17 for fields).
        if (!ReadUeIn(r, (1 << 17) - 1, &c->value)) return kDecoderOutOfRange;
    }
}

int ParsePredWeightTable(AvcDecoderContext* ctx, BitReader* r) {
    PredWeightTable* t = ctx->predWeights;
    const SliceHeader* s = &ctx->slice;
    if (!ReadUeIn(r, 7, &t->luma_log2_weight_denom) || !ReadUeIn(r, 7, &t->chroma_log2_weight_denom))
        return kDecoderOutOfRange;
    ResetPredWeights(t);
    const int lists = s->sliceKind == kSliceB ? 2 : 1;
    for (int list = 0; list < lists; ++list) {
        for (int i = 0; i < s->numRefIdxActive[list]; ++i) {
            if (r->ReadBit()) {
                if (!ReadSeIn(r, -128, 127, &t->weight[list][i][0]) || !ReadSeIn(r, -128, 127, &t->offset[list][i][0]))
                    return kDecoderOutOfRange;
            }
            if (r->ReadBit()) {
                for (int c = 1; c < 3; ++c) {
                    if (!ReadSeIn(r, -128, 127, &t->weight[list][i][c]) ||
                        !ReadSeIn(r, -128, 127, &t->offset[list][i][c]))
                        return kDecoderOutOfRange;
                }
            }
        }
    }
    for (int list = 0; list < 2; ++list) {
        t->weightedRefs[list] = 0;
        for (int i = 0; i < 32; ++i) {
            const int32_t* w = t->weight[list][i];
            const int32_t* o = t->offset[list][i];
            const bool plain = w[0] == 1 << t->luma_log2_weight_denom && w[1] == 1 << t->chroma_log2_weight_denom &&
                               w[2] == w[1] && (o[0] | o[1] | o[2]) == 0;
            if (!plain) t->weightedRefs[list] |= 1u << i;
        }
    }
    return kDecoderOk;
}

int ParseDecRefPicMarking(AvcDecoderContext* ctx, BitReader* r) {
    PictureRecord* pic = ctx->currentPicture;
    pic->marking[0].memory_management_control_operation = 0;
    if (ctx->slice.idr) {
        pic->no_output_of_prior_pics_flag = static_cast<int32_t>(r->ReadBit());
        pic->long_term_reference_flag = static_cast<int32_t>(r->ReadBit());
        pic->adaptive_ref_pic_marking_mode_flag = 0;
        return kDecoderOk;
    }
    pic->adaptive_ref_pic_marking_mode_flag = static_cast<int32_t>(r->ReadBit());
    if (!pic->adaptive_ref_pic_marking_mode_flag) return kDecoderOk;
    for (int n = 0;; ++n) {
        if (n == kMaxMarkingOps - 1) {
            pic->marking[n].memory_management_control_operation = 0;
            return kDecoderOk;
        }
        MarkingOp* op = &pic->marking[n];
        *op = MarkingOp{};
        if (!ReadUeIn(r, 6, &op->memory_management_control_operation)) return kDecoderOutOfRange;
        switch (op->memory_management_control_operation) {
            case 0:
                return kDecoderOk;
            case 1:
            case 2:
                if (!ReadUeIn(r, (1 << 17) - 1, &op->value)) return kDecoderOutOfRange;
                break;
            case 3:
                if (!ReadUeIn(r, (1 << 17) - 1, &op->value) || !ReadUeIn(r, 31, &op->long_term_frame_idx))
                    return kDecoderOutOfRange;
                break;
            case 4:
                if (!ReadUeIn(r, 32, &op->value)) return kDecoderOutOfRange;
                break;
            case 6:
                if (!ReadUeIn(r, 31, &op->long_term_frame_idx)) return kDecoderOutOfRange;
                break;
            default:
                break;
        }
    }
}

int32_t BitsFor(uint32_t v) {
    int32_t n = 0;
    while (v != 0) {
        ++n;
        v >>= 1;
    }
    return n;
}

}  // namespace

void BuildBiPredWeights(AvcDecoderContext* ctx, int32_t curPoc) {
    PredWeightTable* t = ctx->predWeights;
    const PictureStore* st = ctx->store;
    const SliceHeader* s = &ctx->slice;
    const bool implicit = ctx->activePps->weighted_bipred_idc == 2;
    if (implicit) {
        t->luma_log2_weight_denom = t->chroma_log2_weight_denom = 5;
        for (int list = 0; list < 2; ++list)
            for (int i = 0; i < 32; ++i)
                for (int c = 0; c < 3; ++c) {
                    t->weight[list][i][c] = 32;
                    t->offset[list][i][c] = 0;
                }
        t->weightedRefs[0] = t->weightedRefs[1] = 0;
    }
    t->lumaRounding = t->luma_log2_weight_denom > 0 ? 1 << (t->luma_log2_weight_denom - 1) : 0;
    t->chromaRounding = t->chroma_log2_weight_denom > 0 ? 1 << (t->chroma_log2_weight_denom - 1) : 0;
    for (int i = 0; i < std::min(s->numRefIdxActive[0], 32); ++i) {
        for (int j = 0; j < std::min(s->numRefIdxActive[1], 32); ++j) {
            int32_t w0 = 32, w1 = 32;
            if (!implicit) {
                for (int c = 0; c < 3; ++c) {
                    t->w0[i][j][c] = t->weight[0][i][c];
                    t->w1[i][j][c] = t->weight[1][j][c];
                }
                continue;
            }
            const PictureRecord* p0 = st->refList[0][i];
            const PictureRecord* p1 = st->refList[1][j];
            const bool longTerm =
                (p0 != nullptr && (p0->flags & kPicLongTermMask)) || (p1 != nullptr && (p1->flags & kPicLongTermMask));
            if (p0 != nullptr && p1 != nullptr && !longTerm && p1->picOrderCnt != p0->picOrderCnt) {
                const int32_t tb = std::clamp(curPoc - p0->picOrderCnt, -128, 127);
                const int32_t td = std::clamp(p1->picOrderCnt - p0->picOrderCnt, -128, 127);
                const int32_t tx = (16384 + std::abs(td / 2)) / td;
                const int32_t scale = std::clamp((tb * tx + 32) >> 6, -1024, 1023);
                if ((scale >> 2) >= -64 && (scale >> 2) <= 128) {
                    w1 = scale >> 2;
                    w0 = 64 - w1;
                }
            }
            for (int c = 0; c < 3; ++c) {
                t->w0[i][j][c] = w0;
                t->w1[i][j][c] = w1;
            }
        }
    }
}

void ResetPredWeights(PredWeightTable* t) {
    for (int list = 0; list < 2; ++list) {
        for (int i = 0; i < 32; ++i) {
            t->weight[list][i][0] = 1 << t->luma_log2_weight_denom;
            t->weight[list][i][1] = t->weight[list][i][2] = 1 << t->chroma_log2_weight_denom;
            t->offset[list][i][0] = t->offset[list][i][1] = t->offset[list][i][2] = 0;
        }
    }
}

int ParseSliceHeaderStart(AvcDecoderContext* ctx) {
    SliceHeader* s = &ctx->slice;
    std::memset(s, 0, sizeof *s);
    const NalUnitBuffer* nu = ctx->nal;
    BitReader* r = &ctx->reader;
    *r = BitReader(nu->payload + 1, nu->length > 0 ? nu->length - 1 : 0);
    s->nal_ref_idc = nu->nal_ref_idc;
    s->idr = static_cast<common::NalUnitType>(nu->nal_unit_type) == common::NalUnitType::kIdrSlice;
    if (!ReadUeIn(r, 139264, &s->first_mb_in_slice)) return kDecoderOutOfRange;  // Table A-1's largest frame
    if (!ReadUeIn(r, 9, &s->slice_type)) return kDecoderOutOfRange;
    s->sliceKind = s->slice_type >= 5 ? s->slice_type - 5 : s->slice_type;
    if (!ReadUeIn(r, kMaxPicParamSets - 1, &s->pic_parameter_set_id)) return kDecoderOutOfRange;
    if (ActivatePicParamSet(ctx, s->pic_parameter_set_id) != 0) return kDecoderOutOfRange;
    const SeqParamSet* sps = ctx->activeSps;
    const PicParamSet* pps = ctx->activePps;
    s->frame_num = static_cast<int32_t>(r->ReadBits(sps->log2_max_frame_num_minus4 + 4));
    if (!sps->frame_mbs_only_flag) {
        s->field_pic_flag = static_cast<int32_t>(r->ReadBit());
        if (s->field_pic_flag) s->bottom_field_flag = static_cast<int32_t>(r->ReadBit());
    }
    s->MbaffFrameFlag = sps->mb_adaptive_frame_field_flag != 0 && !s->field_pic_flag ? 1 : 0;
    s->idr_pic_id = -1;
    if (s->idr && !ReadUeIn(r, 65535, &s->idr_pic_id)) return kDecoderOutOfRange;
    if (sps->pic_order_cnt_type == 0) {
        s->pic_order_cnt_lsb = static_cast<int32_t>(r->ReadBits(sps->log2_max_pic_order_cnt_lsb_minus4 + 4));
        if (pps->pic_order_present_flag && !s->field_pic_flag) s->delta_pic_order_cnt_bottom = r->ReadSe();
    } else if (sps->pic_order_cnt_type == 1 && !sps->delta_pic_order_always_zero_flag) {
        s->delta_pic_order_cnt[0] = r->ReadSe();
        if (pps->pic_order_present_flag && !s->field_pic_flag) s->delta_pic_order_cnt[1] = r->ReadSe();
    }
    if (pps->redundant_pic_cnt_present_flag && !ReadUeIn(r, 127, &s->redundant_pic_cnt)) return kDecoderOutOfRange;
    return r->Ok() ? kDecoderOk : kDecoderOutOfRange;
}

int ParseSliceHeaderRest(AvcDecoderContext* ctx) {
    SliceHeader* s = &ctx->slice;
    BitReader* r = &ctx->reader;
    const SeqParamSet* sps = ctx->activeSps;
    const PicParamSet* pps = ctx->activePps;
    if (s->sliceKind == kSliceB) s->direct_spatial_mv_pred_flag = static_cast<int32_t>(r->ReadBit());
    s->numRefIdxActive[0] = pps->num_ref_idx_l0_active_minus1 + 1;
    s->numRefIdxActive[1] = pps->num_ref_idx_l1_active_minus1 + 1;
    if (s->sliceKind == kSliceP || s->sliceKind == kSliceSp || s->sliceKind == kSliceB) {
        s->num_ref_idx_active_override_flag = static_cast<int32_t>(r->ReadBit());
        if (s->num_ref_idx_active_override_flag) {
            if (!ReadUeIn(r, 31, &s->num_ref_idx_l0_active_minus1)) return kDecoderOutOfRange;
            s->numRefIdxActive[0] = s->num_ref_idx_l0_active_minus1 + 1;
            if (s->sliceKind == kSliceB) {
                if (!ReadUeIn(r, 31, &s->num_ref_idx_l1_active_minus1)) return kDecoderOutOfRange;
                s->numRefIdxActive[1] = s->num_ref_idx_l1_active_minus1 + 1;
            }
        }
    }
    if (s->sliceKind != kSliceB) s->numRefIdxActive[1] = 0;
    if (s->sliceKind == kSliceI || s->sliceKind == kSliceSi) s->numRefIdxActive[0] = 0;
    if (s->sliceKind != kSliceI && s->sliceKind != kSliceSi) {
        if (ParseModifications(r, s, 0) != kDecoderOk) return kDecoderOutOfRange;
        if (s->sliceKind == kSliceB && ParseModifications(r, s, 1) != kDecoderOk) return kDecoderOutOfRange;
    }
    const bool pWeighted = pps->weighted_pred_flag && (s->sliceKind == kSliceP || s->sliceKind == kSliceSp);
    if (pWeighted || (pps->weighted_bipred_idc == 1 && s->sliceKind == kSliceB)) {
        if (ParsePredWeightTable(ctx, r) != kDecoderOk) return kDecoderOutOfRange;
    }
    if (s->nal_ref_idc != 0 && ParseDecRefPicMarking(ctx, r) != kDecoderOk) return kDecoderOutOfRange;
    if (pps->entropy_coding_mode_flag && s->sliceKind != kSliceI && s->sliceKind != kSliceSi) {
        if (!ReadUeIn(r, 2, &s->cabac_init_idc)) return kDecoderOutOfRange;
    }
    s->slice_qp_delta = r->ReadSe();
    s->sliceQp = 26 + pps->pic_init_qp_minus26 + s->slice_qp_delta;
    if (s->sliceQp < 0 || s->sliceQp > 51) return kDecoderOutOfRange;
    if (s->sliceKind == kSliceSp || s->sliceKind == kSliceSi) {
        if (s->sliceKind == kSliceSp) s->sp_for_switch_flag = static_cast<int32_t>(r->ReadBit());
        s->slice_qs_delta = r->ReadSe();
    }
    if (pps->deblocking_filter_control_present_flag) {
        if (!ReadUeIn(r, 2, &s->disable_deblocking_filter_idc)) return kDecoderOutOfRange;
        if (s->disable_deblocking_filter_idc != 1) {
            int32_t a = 0, b = 0;
            if (!ReadSeIn(r, -6, 6, &a) || !ReadSeIn(r, -6, 6, &b)) return kDecoderOutOfRange;
            s->FilterOffsetA = a * 2;
            s->FilterOffsetB = b * 2;
        }
    }
    if (pps->num_slice_groups_minus1 > 0 && pps->slice_group_map_type >= 3 && pps->slice_group_map_type <= 5) {
        const uint32_t mapUnits = static_cast<uint32_t>(sps->pic_width_in_mbs_minus1 + 1) *
                                  static_cast<uint32_t>(sps->pic_height_in_map_units_minus1 + 1);
        const uint32_t rate = static_cast<uint32_t>(pps->slice_group_change_rate_minus1 + 1);
        const int32_t bits = BitsFor((mapUnits + rate - 1) / rate);  // Ceil(Log2(PicSizeInMapUnits / rate + 1))
        s->slice_group_change_cycle = static_cast<int32_t>(r->ReadBits(bits));
    }
    return r->Ok() ? kDecoderOk : kDecoderOutOfRange;
}

int DerivePicOrderCnt(AvcDecoderContext* ctx) {
    const SliceHeader* s = &ctx->slice;
    const SeqParamSet* sps = ctx->activeSps;
    PocState* st = &ctx->poc;
    PictureRecord* pic = ctx->currentPicture;
    const int32_t maxFrameNum = 1 << (sps->log2_max_frame_num_minus4 + 4);
    int32_t top = 0, bottom = 0;
    if (sps->pic_order_cnt_type == 0) {
        const int32_t maxLsb = 1 << (sps->log2_max_pic_order_cnt_lsb_minus4 + 4);
        int32_t prevMsb = st->prevPicOrderCntMsb;
        int32_t prevLsb = st->prevPicOrderCntLsb;
        if (s->idr) {
            prevMsb = prevLsb = 0;
        } else if (st->prevHadMmco5) {
            prevMsb = 0;
            prevLsb = st->prevWasBottomField ? 0 : st->prevTopFieldOrderCnt;
        }
        const int32_t lsb = s->pic_order_cnt_lsb;
        int32_t msb = prevMsb;
        if (lsb < prevLsb && prevLsb - lsb >= maxLsb / 2)
            msb = prevMsb + maxLsb;
        else if (lsb > prevLsb && lsb - prevLsb > maxLsb / 2)
            msb = prevMsb - maxLsb;
        st->picOrderCntMsb = msb;
        st->picOrderCntLsb = lsb;
        top = msb + lsb;
        bottom = s->field_pic_flag ? msb + lsb : top + s->delta_pic_order_cnt_bottom;
    } else {
        int32_t prevOffset = st->prevHadMmco5 ? 0 : st->prevFrameNumOffset;
        int32_t offset = 0;
        if (!s->idr) offset = st->prevFrameNum > s->frame_num ? prevOffset + maxFrameNum : prevOffset;
        st->frameNumOffset = offset;
        if (sps->pic_order_cnt_type == 1) {
            const int32_t cycle = sps->num_ref_frames_in_pic_order_cnt_cycle;
            int64_t absFrameNum = cycle != 0 ? int64_t{offset} + s->frame_num : 0;
            if (s->nal_ref_idc == 0 && absFrameNum > 0) --absFrameNum;
            int64_t expected = 0;
            if (absFrameNum > 0) {
                int64_t deltaCycle = 0;
                for (int i = 0; i < cycle; ++i)
                    deltaCycle += sps->offset_for_ref_frame[i];
                const int64_t cycleCnt = (absFrameNum - 1) / cycle;
                const int64_t inCycle = (absFrameNum - 1) % cycle;
                expected = cycleCnt * deltaCycle;
                for (int64_t i = 0; i <= inCycle; ++i)
                    expected += sps->offset_for_ref_frame[i];
            }
            if (s->nal_ref_idc == 0) expected += sps->offset_for_non_ref_pic;
            int64_t t = expected + s->delta_pic_order_cnt[0];
            int64_t b = t + sps->offset_for_top_to_bottom_field + s->delta_pic_order_cnt[1];
            if (s->field_pic_flag) b = expected + sps->offset_for_top_to_bottom_field + s->delta_pic_order_cnt[0];
            top = static_cast<int32_t>(t);
            bottom = static_cast<int32_t>(b);
        } else {
            int32_t temp = 0;
            if (!s->idr) temp = s->nal_ref_idc == 0 ? 2 * (offset + s->frame_num) - 1 : 2 * (offset + s->frame_num);
            top = bottom = temp;
        }
    }
    if (!s->field_pic_flag) {
        pic->topFieldOrderCnt = top;
        pic->bottomFieldOrderCnt = bottom;
        pic->picOrderCnt = std::min(top, bottom);
        return kDecoderOk;
    }
    // A field sets its own count; the frame's is the least of its decoded fields'.
    const bool second = (pic->flags & (kPicTopDecoded | kPicBottomDecoded)) != 0;
    if (s->bottom_field_flag)
        pic->bottomFieldOrderCnt = bottom;
    else
        pic->topFieldOrderCnt = top;
    const int32_t own = s->bottom_field_flag ? bottom : top;
    pic->picOrderCnt = second ? std::min(pic->topFieldOrderCnt, pic->bottomFieldOrderCnt) : own;
    SyncFieldRecords(pic);
    return kDecoderOk;
}

void FinishPicOrderCnt(AvcDecoderContext* ctx) {
    PocState* st = &ctx->poc;
    const PictureRecord* pic = ctx->currentPicture;
    const int32_t structure = ctx->decoding != nullptr ? ctx->decoding->structure : 0;
    st->prevHadMmco5 = pic->hadMmco5;
    st->prevWasBottomField = structure == 2;
    if (pic->isReference) {
        if (pic->hadMmco5) {
            st->prevPicOrderCntMsb = 0;
            st->prevTopFieldOrderCnt = pic->topFieldOrderCnt;  // already rebased to 0 by the marking
            st->prevPicOrderCntLsb = structure == 2 ? 0 : pic->topFieldOrderCnt;
        } else {
            st->prevPicOrderCntMsb = st->picOrderCntMsb;
            st->prevPicOrderCntLsb = st->picOrderCntLsb;
        }
    }
    st->prevFrameNumOffset = pic->hadMmco5 ? 0 : st->frameNumOffset;
    st->prevFrameNum = pic->hadMmco5 ? 0 : pic->frame_num;
}

}  // namespace avcdec
