// slice_header() with ref_pic_list_modification(), pred_weight_table() and
// dec_ref_pic_marking() (ITU-T H.264 clause 7.3.3), and the picture order count (8.2.1).
#pragma once

#include <cstdint>

#include "common/bitstream/h264_syntax.h"
#include "common/bitstream/h264_tables.h"

namespace avcdec {

struct AvcDecoderContext;

// slice_type reduced modulo 5 (common::SliceType's values), kept as a plain integer field.
enum SliceKind : int32_t {
    kSliceP = static_cast<int32_t>(common::SliceType::kP),
    kSliceB = static_cast<int32_t>(common::SliceType::kB),
    kSliceI = static_cast<int32_t>(common::SliceType::kI),
    kSliceSp = static_cast<int32_t>(common::SliceType::kSp),
    kSliceSi = static_cast<int32_t>(common::SliceType::kSi),
};

constexpr int kMaxRefListCommands = 32;

struct RefListCommand {
    int32_t modification_of_pic_nums_idc;
    int32_t value;  // abs_diff_pic_num_minus1 or long_term_pic_num
};

struct SliceHeader {
    int32_t first_mb_in_slice;
    int32_t sliceKind;
    int32_t slice_type;
    int32_t pic_parameter_set_id;
    int32_t frame_num;
    int32_t field_pic_flag;
    int32_t bottom_field_flag;
    int32_t MbaffFrameFlag;  // mb_adaptive_frame_field_flag of a frame picture
    int32_t idr_pic_id;      // -1 for non-IDR slices
    int32_t pic_order_cnt_lsb;
    int32_t delta_pic_order_cnt_bottom;
    int32_t delta_pic_order_cnt[2];
    int32_t redundant_pic_cnt;
    int32_t direct_spatial_mv_pred_flag;
    int32_t num_ref_idx_active_override_flag;
    int32_t num_ref_idx_l0_active_minus1;
    int32_t num_ref_idx_l1_active_minus1;
    int32_t cabac_init_idc;
    int32_t slice_qp_delta;
    int32_t sp_for_switch_flag;
    int32_t slice_qs_delta;
    int32_t disable_deblocking_filter_idc;
    int32_t FilterOffsetA;
    int32_t FilterOffsetB;
    int32_t slice_group_change_cycle;

    int32_t nal_ref_idc;
    int32_t idr;  // nal_unit_type 5
    int32_t sliceQp;
    int32_t numRefIdxActive[2];
    int32_t ref_pic_list_modification_flag[2];
    int32_t commandCount[2];
    RefListCommand commands[2][kMaxRefListCommands + 1];
};

struct PredWeightTable {
    int32_t luma_log2_weight_denom;
    int32_t chroma_log2_weight_denom;
    int32_t lumaRounding;    // 2^(luma_log2_weight_denom - 1), 0 for denominator 0
    int32_t chromaRounding;  // the same for chroma
    int32_t weight[2][32][3];
    int32_t offset[2][32][3];
    // Bi-prediction weights by list-0 and list-1 index and component (clause 8.4.2.3).
    int32_t w0[32][32][3];
    int32_t w1[32][32][3];
    // Bit i of list L: reference index i has a weight or offset other than the default
    // (2^logWD, 0) in some component, so its partitions need weighting at all.
    uint32_t weightedRefs[2];
};

// Picture-order-count state carried between pictures (clause 8.2.1).
struct PocState {
    int32_t prevPicOrderCntMsb;
    int32_t prevPicOrderCntLsb;
    int32_t prevFrameNum;
    int32_t prevFrameNumOffset;
    int32_t frameNumOffset;
    int32_t picOrderCntMsb;  // of the current picture
    int32_t picOrderCntLsb;  // of the current picture
    int32_t prevHadMmco5;
    int32_t prevWasBottomField;
    int32_t prevTopFieldOrderCnt;  // of the previous reference picture, after an operation 5
};

// Reads first_mb_in_slice up to redundant_pic_cnt from the context's current NAL unit and
// activates its picture parameter set. kDecoderOutOfRange drops the slice.
int ParseSliceHeaderStart(AvcDecoderContext* ctx);
// Reads the rest of the header into ctx->slice and the marking into the current picture.
int ParseSliceHeaderRest(AvcDecoderContext* ctx);
void ResetPredWeights(PredWeightTable* table);
// Sets the current picture's order counts from ctx->slice and the carried state.
int DerivePicOrderCnt(AvcDecoderContext* ctx);
// Updates the carried state once the current picture is finished.
void FinishPicOrderCnt(AvcDecoderContext* ctx);

// Fills w0 and w1 for the slice's reference lists: explicit weights (weighted_bipred_idc
// 1) or implicit ones from the pictures' order counts (2, clause 8.4.2.3.2), curPoc being
// that of the current picture (of the macroblock's field for field macroblocks of MBAFF
// frames, whose lists hold fields).
void BuildBiPredWeights(AvcDecoderContext* ctx, int32_t curPoc);

// Table 8-15: QPc for qPi in 0..51.
using common::ChromaQp;

}  // namespace avcdec
