#include "filters/encoder/core/param_sets.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <numeric>

#include "common/bitstream/h264_syntax.h"
#include "filters/encoder/core/core_result.h"

namespace ombrisk {

namespace {

// Table E-1, aspect_ratio_idc 1-13.
constexpr int kSarTable[14][2] = {{0, 0},   {1, 1},   {12, 11}, {10, 11}, {16, 11}, {40, 33}, {24, 11},
                                  {20, 11}, {32, 11}, {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}};

bool RateSet(int32_t word) {
    return word != kUnsetWord && word > 0;
}

int32_t SliceTypeValue(int32_t code) {
    // slice_type 5-9: every slice of the picture has the same type (Table 7-6).
    switch (code) {
        case 0:
            return 7;  // I
        case 1:
            return 5;  // P
        case 2:
            return 6;  // B
        case 3:
            return 9;  // SI
        case 4:
            return 8;  // SP
        default:
            return 7;
    }
}

// pic_struct of a frame picture: top and bottom field (1, 2) exist only on field
// pictures, and values beyond Table D-1 are not pic_struct values; both become a frame.
int32_t FramePicStruct(int32_t picStruct) {
    if (picStruct < 0 || picStruct > 8 || picStruct == 1 || picStruct == 2) return 0;
    return picStruct;
}

constexpr int kNumClockTs[9] = {1, 1, 1, 2, 2, 3, 3, 2, 3};  // Table D-1

bool HrdUsable(const HrdModel& m) {
    return m.bitRate > 0 && m.cpbSizeBits > 0;
}

// value x 2^(base + scale) >= amount with the largest scale that keeps it exact, and a
// value that fits in 32 bits (clause E.2.2).
void ScaleHrdValue(int64_t amount, int base, int* scale, uint32_t* valueMinus1) {
    int s = 0;
    while (s < 15 && amount % (int64_t{1} << (base + s + 1)) == 0)
        ++s;
    int64_t value = (amount + (int64_t{1} << (base + s)) - 1) >> (base + s);
    while (value > 0xFFFFFFFFLL && s < 15) {
        ++s;
        value = (amount + (int64_t{1} << (base + s)) - 1) >> (base + s);
    }
    value = std::clamp<int64_t>(value, 1, 0xFFFFFFFFLL);
    *scale = s;
    *valueMinus1 = static_cast<uint32_t>(value - 1);
}

void WriteHrd(CHeaderWriter& w, const HrdModel& m) {
    int brScale = 0, cpbScale = 0;
    uint32_t brValue = 0, cpbValue = 0;
    ScaleHrdValue(m.bitRate, 6, &brScale, &brValue);
    ScaleHrdValue(m.cpbSizeBits, 4, &cpbScale, &cpbValue);
    w.ue(0, "cpb_cnt_minus1");
    w.u(4, static_cast<uint32_t>(brScale), "bit_rate_scale");
    w.u(4, static_cast<uint32_t>(cpbScale), "cpb_size_scale");
    w.ue(brValue, "bit_rate_value_minus1[0]");
    w.ue(cpbValue, "cpb_size_value_minus1[0]");
    w.u(1, m.constantBitRate ? 1 : 0, "cbr_flag[0]");
    w.u(5, 23, "initial_cpb_removal_delay_length_minus1");
    w.u(5, 23, "cpb_removal_delay_length_minus1");
    w.u(5, 23, "dpb_output_delay_length_minus1");
    w.u(5, 24, "time_offset_length");
}

void WriteSps(CHeaderWriter& w, const EncoderBlock& b, int level, const HrdModel* hrd) {
    const int32_t profile = b.param(kParProfile);
    const bool interlaced = b.interlaced();
    const int codedW = b.picture.codedWidth;
    const int codedH = b.picture.codedHeight;

    w.u(8, static_cast<uint32_t>(profile), "profile_idc");
    w.u(1, profile == 66, "constraint_set0_flag");
    w.u(1, profile == 77, "constraint_set1_flag");
    w.u(1, profile == 88, "constraint_set2_flag");
    w.u(1, 0, "constraint_set3_flag");
    w.u(1, 0, "constraint_set4_flag");
    w.u(1, 0, "constraint_set5_flag");
    w.u(2, 0, "reserved_zero_2bits");
    w.u(8, static_cast<uint32_t>(level), "level_idc");
    w.ue(0, "seq_parameter_set_id");
    w.ue(kLog2MaxFrameNum - 4, "log2_max_frame_num_minus4");
    w.ue(0, "pic_order_cnt_type");
    w.ue(kLog2MaxPocLsb - 4, "log2_max_pic_order_cnt_lsb_minus4");
    const int32_t refs = std::max(b.param(kParRefFrames), 0) + (b.param(kParBFrames) > 0 ? 1 : 0);
    w.ue(static_cast<uint32_t>(refs), "max_num_ref_frames");
    w.u(1, 0, "gaps_in_frame_num_allowed_flag");
    w.ue(static_cast<uint32_t>(codedW / 16 - 1), "pic_width_in_mbs_minus1");
    // A map unit is a macroblock pair when frame_mbs_only_flag is 0 (clause 7.4.2.1.1).
    w.ue(static_cast<uint32_t>(codedH / (interlaced ? 32 : 16) - 1), "pic_height_in_map_units_minus1");
    w.u(1, !interlaced, "frame_mbs_only_flag");
    if (interlaced) w.u(1, 0, "mb_adaptive_frame_field_flag");
    w.u(1, 1, "direct_8x8_inference_flag");
    // The coded picture is the input padded to whole macroblocks; cropping gives the
    // decoder the input's size (CropUnitX 2, CropUnitY 2 or 4 for 4:2:0).
    const int cropRight = codedW - b.sourceWidth;
    const int cropBottom = codedH - b.sourceHeight;
    const bool crop = cropRight > 0 || cropBottom > 0;
    w.u(1, crop, "frame_cropping_flag");
    if (crop) {
        w.ue(0, "frame_crop_left_offset");
        w.ue(static_cast<uint32_t>(cropRight / 2), "frame_crop_right_offset");
        w.ue(0, "frame_crop_top_offset");
        w.ue(static_cast<uint32_t>(cropBottom / (interlaced ? 4 : 2)), "frame_crop_bottom_offset");
    }

    const bool vui = b.param(kParVui) != 0;
    w.u(1, vui, "vui_parameters_present_flag");
    if (vui) {
        const SampleAspect sar = ResolveSampleAspect(b);
        w.u(1, sar.idc != 0, "aspect_ratio_info_present_flag");
        if (sar.idc != 0) {
            w.u(8, static_cast<uint32_t>(sar.idc), "aspect_ratio_idc");
            if (sar.idc == kExtendedSar) {
                w.u(16, static_cast<uint32_t>(sar.width), "sar_width");
                w.u(16, static_cast<uint32_t>(sar.height), "sar_height");
            }
        }
        w.u(1, 0, "overscan_info_present_flag");
        w.u(1, 0, "video_signal_type_present_flag");
        w.u(1, 0, "chroma_loc_info_present_flag");
        // One frame lasts two ticks of time_scale / num_units_in_tick (clause E.2.1).
        const int32_t rate100 = b.param(kParFrameRate100);
        const bool timing = rate100 > 0;
        w.u(1, timing, "timing_info_present_flag");
        if (timing) {
            const FrameRateTicks ticks = TicksOfFrameRate(rate100);
            w.u(32, ticks.numUnitsInTick, "num_units_in_tick");
            w.u(32, ticks.timeScale, "time_scale");
            w.u(1, b.param(kParFixedFrameRate) != 0, "fixed_frame_rate_flag");
        }
        w.u(1, hrd != nullptr, "nal_hrd_parameters_present_flag");
        if (hrd) WriteHrd(w, *hrd);
        w.u(1, 0, "vcl_hrd_parameters_present_flag");
        if (hrd) w.u(1, 0, "low_delay_hrd_flag");
        w.u(1, 1, "pic_struct_present_flag");
        w.u(1, 0, "bitstream_restriction_flag");
    }
    w.TrailingBits();
}

void WritePps(CHeaderWriter& w, const EncoderBlock& b) {
    const int32_t refs = std::max(b.param(kParRefFrames), 0);
    w.ue(0, "pic_parameter_set_id");
    w.ue(0, "seq_parameter_set_id");
    w.u(1, b.param(kParCabac) == 1, "entropy_coding_mode_flag");
    w.u(1, 0, "bottom_field_pic_order_in_frame_present_flag");
    w.ue(0, "num_slice_groups_minus1");
    w.ue(static_cast<uint32_t>(std::max(refs - 1, 0)), "num_ref_idx_l0_default_active_minus1");
    w.ue(static_cast<uint32_t>(b.param(kParBFrames) > 0 ? refs : 0), "num_ref_idx_l1_default_active_minus1");
    w.u(1, 0, "weighted_pred_flag");
    w.u(2, 0, "weighted_bipred_idc");
    w.se(0, "pic_init_qp_minus26");
    w.se(0, "pic_init_qs_minus26");
    w.se(0, "chroma_qp_index_offset");
    w.u(1, (b.param(kParFlags) & kFlagDeblocking) == 0, "deblocking_filter_control_present_flag");
    w.u(1, 0, "constrained_intra_pred_flag");
    w.u(1, 0, "redundant_pic_cnt_present_flag");
    w.TrailingBits();
}

}  // namespace

int64_t EstimateBitRate(const EncoderBlock& b) {
    const int64_t mode = b.param(kParRateMode);
    if (mode == 2 && RateSet(b.param(kParMaxBitRate))) {
        const int64_t max = b.param(kParMaxBitRate);
        return max + max / 8;
    }
    if (mode == 3 && RateSet(b.param(kParAvgBitRate))) {
        const int64_t avg = b.param(kParAvgBitRate);
        const int64_t m = avg + avg / 2;
        return m + m / 8;
    }
    const int64_t g = std::max<int64_t>(b.param(kParGopLength), 1);
    const bool search = b.param(kParMotionSearch) == 1;
    const int32_t coder = b.param(kParMbCoderLevel);
    int64_t score = (coder == 1 ? 4 : coder == 2 ? 7 : 0) + (b.param(kParCabac) == 1 ? 10 : 0);
    score += search ? 100 - (20 * (5 * g + 10)) / (3 * g) : 100 - (20 * (5 * g + 5)) / (2 * g);
    if (b.param(kParBFrames) > 0) score += 5;
    if (search) {
        if (b.param(kParSubpelDepth) > 0) score += 7;
        if (b.param(kParSubpelDepth) > 1) score += 4;
        if (b.param(kParPartitions) > 1) score += 4;
    }
    score = std::clamp<int64_t>(score, 0, 100);
    // Each QP step above 16 takes an eighth of the remaining rate away; below 16 each step
    // gives an eighth back, so the estimate never falls as QP falls. QP is capped to the
    // standard's range so that the loops are bounded.
    const int32_t qp = std::clamp(b.param(kParQpI), 0, 51);
    for (int i = 16; i < qp; ++i)
        score += (100 - score) / 8;
    for (int i = qp; i < 16; ++i)
        score -= score / 8;
    const int64_t w = b.picture.codedWidth;
    const int64_t h = b.picture.codedHeight;
    const int64_t rate100 = std::max<int32_t>(b.param(kParFrameRate100), 0);
    const int64_t r = w * h * rate100 / 100;
    const int64_t rate = r - score * r / 100;
    return rate + rate / 8;
}

int ChooseLevel(const EncoderBlock& b) {
    if (b.param(kParLevel) != kAutoLevel) return b.param(kParLevel);
    const int64_t w = b.picture.codedWidth;
    const int64_t h = b.picture.codedHeight;
    common::H264LevelNeeds needs;
    needs.profileIdc = b.param(kParProfile);
    needs.widthMbs = static_cast<uint32_t>(w / 16);
    needs.heightMbs = static_cast<uint32_t>(h / 16);
    needs.frameRateNum = static_cast<uint32_t>(std::max<int32_t>(b.param(kParFrameRate100), 0));
    needs.frameRateDen = 100;
    needs.dpbFrames =
        static_cast<uint32_t>(std::max(b.param(kParRefFrames), 0) + (b.param(kParBFrames) > 0 ? 1 : 0) + 1);
    // The estimate stands for the whole stream: it is held against MaxBR in NAL units.
    needs.bitRate = static_cast<uint64_t>(std::max<int64_t>(EstimateBitRate(b), 0));
    needs.nalHrd = true;
    // Level 1b would need constraint_set3_flag, which these sets do not write.
    needs.level1bAllowed = false;
    // Field coding exists only at levels 2.1 to 4.1 (Table A-4); level_idc 52 and above is
    // beyond what this encoder names (52 means automatic in its settings).
    const int lowest = b.interlaced() ? 21 : 10;
    const int highest = b.interlaced() ? 41 : 51;
    if (const common::H264Level* row = common::ChooseH264Level(needs); row && row->levelIdc <= highest) {
        return std::max<int>(row->levelIdc, lowest);
    }
    // Rates beyond every level: the highest level that holds the picture, if any.
    common::H264LevelNeeds picture;
    picture.widthMbs = needs.widthMbs;
    picture.heightMbs = needs.heightMbs;
    picture.level1bAllowed = false;
    const common::H264Level* smallest = common::ChooseH264Level(picture);
    if (!smallest || smallest->levelIdc > highest) return 0;
    return highest;
}

FrameRateTicks TicksOfFrameRate(int32_t rate100) {
    // Sources at the NTSC rates run at n x 1000/1001 frames per second; their rate x 100
    // arrives rounded (2397, 2997, 5994).
    for (int64_t n : {24, 30, 48, 60, 120}) {
        const int64_t ntsc100x1001 = n * 100000;
        if (std::llabs(int64_t{rate100} * 1001 - ntsc100x1001) < 1001)
            return {1001, static_cast<uint32_t>(2 * n * 1000)};
    }
    return {100, static_cast<uint32_t>(2 * static_cast<int64_t>(rate100))};
}

SampleAspect ResolveSampleAspect(const EncoderBlock& b) {
    const int32_t idc = b.param(kParAspectIdc);
    if (idc >= 0 && idc <= 13) return {idc, kSarTable[idc][0], kSarTable[idc][1]};
    if (idc == kExtendedSar) {
        const int32_t sw = b.param(kParSarWidth), sh = b.param(kParSarHeight);
        if (sw < 0 || sw > 0xFFFF || sh < 0 || sh > 0xFFFF) return {0, 0, 0};
        return {kExtendedSar, sw, sh};
    }
    if (idc != kAutoAspect) return {0, 0, 0};
    // The decoder shows the cropped picture: its display aspect ax:ay over its size.
    const int64_t ax = b.picture.aspectX, ay = b.picture.aspectY;
    const int64_t a = ay * b.sourceWidth;
    const int64_t bb = ax * b.sourceHeight;
    if (a < 1 || bb < 1) return {0, 0, 0};
    for (int i = 1; i <= 13; ++i) {
        if (kSarTable[i][0] * a == kSarTable[i][1] * bb) return {i, kSarTable[i][0], kSarTable[i][1]};
    }
    const int64_t g = std::gcd(a, bb);
    int64_t sw = bb / g, sh = a / g;
    while (sw >= 65536 || sh >= 65536) {
        sw /= 2;
        sh /= 2;
    }
    if (sw < 1 || sh < 1) return {0, 0, 0};
    return {kExtendedSar, static_cast<int>(sw), static_cast<int>(sh)};
}

void CPictureNumbering::Next(PictureHeaderInfo* pic) {
    if (pic->idr) {
        pic->frameNum = 0;
        idrPicId_ = (idrPicId_ + 1) & 0xFFFF;
        pic->idrPicId = idrPicId_;
    } else {
        pic->frameNum = (prevRefFrameNum_ + 1) % (1 << kLog2MaxFrameNum);
        pic->idrPicId = 0;
    }
    if (pic->reference) prevRefFrameNum_ = pic->frameNum;
}

CParameterSetWriter::CParameterSetWriter(const EncoderBlock* block)
    : block_(block), nal_(kBufferBytes, CNalWriter::OutputBytesFor(3 * kBufferBytes, 0)) {}

void CParameterSetWriter::SetHrdModel(const HrdModel* model) {
    if (model && HrdUsable(*model)) {
        hrd_ = *model;
    } else {
        hrd_.reset();
    }
}

int CParameterSetWriter::BuildSets() {
    const int level = ChooseLevel(*block_);
    if (level <= 0) return kCoreUnsupported;
    level_ = level;
    uint8_t store[kBufferBytes];
    common::BitWriter bits(store, sizeof store);
    spsTrace_.clear();
    CHeaderWriter sps(&bits, &spsTrace_);
    WriteSps(sps, *block_, level_, hrd_ ? &*hrd_ : nullptr);
    if (bits.Overflowed()) return kCoreNoSpace;
    sps_.assign(bits.Data(), bits.Data() + bits.ByteCount());
    bits.Reset();
    ppsTrace_.clear();
    CHeaderWriter pps(&bits, &ppsTrace_);
    WritePps(pps, *block_);
    if (bits.Overflowed()) return kCoreNoSpace;
    pps_.assign(bits.Data(), bits.Data() + bits.ByteCount());
    return kCoreOk;
}

int CParameterSetWriter::EmitSets(CNalWriter* nal) {
    const std::pair<const std::vector<uint8_t>*, int> units[2] = {{&sps_, kNalSps}, {&pps_, kNalPps}};
    for (const auto& [rbsp, type] : units) {
        nal->payload().Reset();
        nal->payload().PutBytes(rbsp->data(), rbsp->size());
        nal->SetHeader(1, type);
        if (nal->EmitNalUnit(0) < 0) return kCoreNoSpace;
        if (trace_) trace_->push_back({type, type == kNalSps ? spsTrace_ : ppsTrace_});
    }
    return kCoreOk;
}

int CParameterSetWriter::WriteSei(const PictureHeaderInfo& pic) {
    common::BitWriter& bits = nal_.payload();
    bits.Reset();
    std::vector<TracedField> fields;
    CHeaderWriter w(&bits, trace_ ? &fields : nullptr);
    const bool withHrd = hrd_.has_value();

    // One sei_message: type byte, size byte patched once the payload is written, payload,
    // and the payload's own alignment bits (clause 7.3.2.3.1, D.1).
    auto message = [&](int type, auto&& body) {
        w.u(8, static_cast<uint32_t>(type), "last_payload_type_byte");
        const size_t sizeByte = bits.ByteCount();
        const size_t sizeField = fields.size();
        w.u(8, 0, "last_payload_size_byte");
        body();
        if (!bits.IsByteAligned()) {
            w.u(1, 1, "bit_equal_to_one");
            while (!bits.IsByteAligned())
                w.u(1, 0, "bit_equal_to_zero");
        }
        const size_t size = bits.ByteCount() - sizeByte - 1;
        bits.Flush();  // the size byte is patched in the array
        if (sizeByte < bits.Capacity()) bits.Data()[sizeByte] = static_cast<uint8_t>(size);
        if (trace_) fields[sizeField].value = static_cast<int64_t>(size);
    };

    if (withHrd && pic.idr) {
        message(0, [&] {
            w.ue(0, "seq_parameter_set_id");
            w.u(24, hrd_->initialCpbRemovalDelay, "initial_cpb_removal_delay[0]");
            w.u(24, 0, "initial_cpb_removal_delay_offset[0]");
        });
    }
    const int32_t picStruct = FramePicStruct(pic.picStruct);
    message(1, [&] {
        if (withHrd) {
            w.u(24, pic.cpbRemovalDelay & 0xFFFFFFu, "cpb_removal_delay");
            w.u(24, pic.dpbOutputDelay & 0xFFFFFFu, "dpb_output_delay");
        }
        w.u(4, static_cast<uint32_t>(picStruct), "pic_struct");
        static const char* const kClockFlag[3] = {"clock_timestamp_flag[0]", "clock_timestamp_flag[1]",
                                                  "clock_timestamp_flag[2]"};
        for (int i = 0; i < kNumClockTs[picStruct]; ++i)
            w.u(1, 0, kClockFlag[i]);
    });
    w.TrailingBits();
    nal_.SetHeader(0, kNalSei);
    if (nal_.EmitNalUnit(0) < 0) return kCoreNoSpace;
    if (trace_) trace_->push_back({kNalSei, std::move(fields)});
    return kCoreOk;
}

int CParameterSetWriter::WritePictureHeaders(const PictureHeaderInfo& pic) {
    nal_.ResetBuffers();
    outputReady_ = false;
    // The sets' content is taken at an IDR picture only: a changed SPS may not appear
    // inside a coded video sequence (clause 7.4.1.2.1).
    if (pic.idr || sps_.empty()) {
        if (int r = BuildSets(); r != kCoreOk) return r;
    }
    const bool due = pic.codingNumber >= dueCodingNumber_;
    if (due) {
        const int64_t perSecond = block_->param(kParFrameRate100) / 100;
        dueCodingNumber_ = perSecond > 0 ? pic.codingNumber + perSecond : std::numeric_limits<int64_t>::max();
    }
    if (due || pic.idr) {
        if (EmitSets(&nal_) != kCoreOk) return kCoreNoSpace;
        outputReady_ = true;
    }
    // With pic_struct_present_flag 1 every access unit carries picture timing (D.2.2).
    if (block_->param(kParVui) != 0) {
        if (WriteSei(pic) != kCoreOk) return kCoreNoSpace;
        outputReady_ = true;
    }
    return kCoreOk;
}

int64_t CParameterSetWriter::WriteSequenceHeader(uint8_t* buffer, size_t capacity) {
    if (!buffer) return kCoreBadArgument;
    if (sps_.empty()) {
        if (int r = BuildSets(); r != kCoreOk) return r;
    }
    CNalWriter nal(kBufferBytes, 0);
    nal.output().Attach(buffer, capacity);
    if (EmitSets(&nal) != kCoreOk) return kCoreNoSpace;
    return static_cast<int64_t>(nal.output().ByteCount());
}

void StartSliceNal(CNalWriter* nal, const EncoderBlock& b, const PictureHeaderInfo& pic, const SliceHeaderInfo& s,
                   std::vector<TracedField>* trace) {
    nal->ResetBuffers();
    nal->SetHeader(pic.reference ? 1 : 0, pic.idr ? kNalIdrSlice : kNalSlice);
    CHeaderWriter w(&nal->payload(), trace);
    const bool isB = s.sliceTypeCode == 2;
    const bool isP = s.sliceTypeCode == 1 || s.sliceTypeCode == 4;
    const bool cabac = b.param(kParCabac) == 1;

    w.ue(static_cast<uint32_t>(s.firstMb), "first_mb_in_slice");
    w.ue(static_cast<uint32_t>(SliceTypeValue(s.sliceTypeCode)), "slice_type");
    w.ue(0, "pic_parameter_set_id");
    w.u(kLog2MaxFrameNum, static_cast<uint32_t>(pic.frameNum), "frame_num");
    if (b.interlaced()) w.u(1, 0, "field_pic_flag");
    if (pic.idr) w.ue(static_cast<uint32_t>(pic.idrPicId), "idr_pic_id");
    w.u(kLog2MaxPocLsb, static_cast<uint32_t>((2 * pic.displayNumber) & 0xFF), "pic_order_cnt_lsb");
    if (isB) w.u(1, 1, "direct_spatial_mv_pred_flag");
    if (isP || isB) {
        const int32_t refs = std::max(b.param(kParRefFrames), 0);
        const int32_t defaultL0 = std::max(refs - 1, 0) + 1;
        const int32_t defaultL1 = (b.param(kParBFrames) > 0 ? refs : 0) + 1;
        const int32_t l0 = std::max(s.list0Count, 1);
        const int32_t l1 = std::max(s.list1Count, 1);
        const bool override = l0 != defaultL0 || (isB && l1 != defaultL1);
        w.u(1, override, "num_ref_idx_active_override_flag");
        if (override) {
            w.ue(static_cast<uint32_t>(l0 - 1), "num_ref_idx_l0_active_minus1");
            if (isB) w.ue(static_cast<uint32_t>(l1 - 1), "num_ref_idx_l1_active_minus1");
        }
        w.u(1, 0, "ref_pic_list_modification_flag_l0");
        if (isB) w.u(1, 0, "ref_pic_list_modification_flag_l1");
    }
    if (pic.reference) {
        if (pic.idr) {
            w.u(1, 0, "no_output_of_prior_pics_flag");
            w.u(1, 0, "long_term_reference_flag");
        } else {
            w.u(1, 0, "adaptive_ref_pic_marking_mode_flag");
        }
    }
    if (cabac && s.sliceTypeCode != 0 && s.sliceTypeCode != 3) {
        w.ue(static_cast<uint32_t>(s.cabacInitIdc), "cabac_init_idc");
    }
    w.se(s.sliceQp - 26, "slice_qp_delta");
    if ((b.param(kParFlags) & kFlagDeblocking) == 0) w.ue(1, "disable_deblocking_filter_idc");
    if (cabac) w.AlignWithOnes();
}

}  // namespace ombrisk
