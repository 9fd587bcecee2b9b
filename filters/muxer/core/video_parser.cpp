#include "filters/muxer/core/video_parser.h"

#include <algorithm>
#include <limits>

#include "common/bitstream/mpeg2_video_header.h"

namespace muxer {
namespace {

constexpr auto Add = TimeAdd;
constexpr auto Sub = TimeSub;
constexpr auto Mul = TimeMul;
int64_t Div(int64_t a, int64_t b) {
    if (b == 0) return 0;
    if (b == -1) return Sub(0, a);
    return a / b;
}

bool IsVideoFormat(FormatType f) {
    return f == FormatType::VideoInfo || f == FormatType::MpegVideo || f == FormatType::VideoInfo2 ||
           f == FormatType::Mpeg2Video;
}

// Bits of an H.264 NAL unit's payload, most significant first, with the emulation
// prevention bytes (00 00 03) removed (7.4.1). Never reads at or past `end`, the last stored
// byte; stops at the next start code. Every read after a failure answers 0.
class RbspReader {
public:
    enum class State { Ok, NalEnd, DataEnd, Bad };

    RbspReader(const uint8_t* p, const uint8_t* end) : p_(p), end_(end) {}

    uint32_t Bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | Bit();
        return v;
    }
    uint32_t Bit() {
        if (state_ != State::Ok) return 0;
        if (left_ == 0) {
            if (!Fetch()) return 0;
        }
        --left_;
        return (cur_ >> left_) & 1;
    }
    // ue(v), 9.1: at most 31 leading zeros, so the value fits 32 bits.
    uint32_t Ue() {
        int zeros = 0;
        while (state_ == State::Ok && Bit() == 0) {
            if (++zeros > 31) {
                state_ = State::Bad;
                return 0;
            }
        }
        if (state_ != State::Ok) return 0;
        const uint64_t value = (uint64_t{1} << zeros) - 1 + Bits(zeros);
        if (value > 0xFFFFFFFEu) {
            state_ = State::Bad;
            return 0;
        }
        return static_cast<uint32_t>(value);
    }
    // se(v), 9.1.1.
    int32_t Se() {
        const uint32_t k = Ue();
        const int64_t magnitude = (static_cast<int64_t>(k) + 1) / 2;
        return static_cast<int32_t>((k & 1) ? magnitude : -magnitude);
    }
    State state() const { return state_; }
    bool ok() const { return state_ == State::Ok; }
    void Fail() {
        if (state_ == State::Ok) state_ = State::Bad;
    }

private:
    bool Fetch() {
        for (;;) {
            if (p_ >= end_) {
                state_ = State::DataEnd;
                return false;
            }
            const uint8_t b = *p_;
            if (zeros_ >= 2 && b <= 3) {
                if (b == 3) {  // emulation prevention byte
                    ++p_;
                    zeros_ = 0;
                    continue;
                }
                state_ = State::NalEnd;  // 00 00 0x, x < 3: the next start code
                return false;
            }
            ++p_;
            zeros_ = b == 0 ? zeros_ + 1 : 0;
            cur_ = b;
            left_ = 8;
            return true;
        }
    }

    const uint8_t* p_;
    const uint8_t* end_;
    int zeros_ = 0;
    uint8_t cur_ = 0;
    int left_ = 0;
    State state_ = State::Ok;
};

}  // namespace

int32_t AnnouncedFrameRateCode(int64_t d) {
    switch (d) {
        case 166666:
            return 8;
        case 166833:
            return 7;
        case 200000:
            return 6;
        case 333333:
            return 5;
        case 333667:
            return 4;
        case 400000:
            return 3;
        case 416666:
            return 2;
        // 24000/1001 frames a second; 417083 is what a sequence header's frame_rate_code 1
        // gives, 417188 what some upstream filters announce.
        case 417083:
        case 417188:
            return 1;
        default:
            return 0;
    }
}

uint32_t RealFrameRateValue(int64_t u) {
    if (u <= 0) return 0;
    const int64_t whole = 10000000 / u;
    const int64_t hundredths = (10000000 % u) * 100 / u;
    return static_cast<uint32_t>((static_cast<uint64_t>(whole) << 16) | static_cast<uint64_t>(hundredths & 0xFFFF));
}

// ---- Picture timing -------------------------------------------------------------------

void CVideoParser::Reset() {
    nmax_ = 0;
    tmax_ = 0;
    announced_ = 0;
    const StreamMediaType t = stream_.CurrentMediaType();
    if (IsVideoFormat(t.format)) {
        announced_ = t.video.AvgTimePerFrame;
        PublishBitrate(t.video.dwBitRate);
    }
    stream_.SetOwnValue(OwnValue::AnnouncedFrameRate, AnnouncedFrameRateCode(announced_));
    stream_.RecomputeTotalBitrate();
    estimated_ = announced_;
}

void CVideoParser::StartTiming(const ScanResult& found) {
    MediaBuffer& h = *held_;
    const int32_t n = found.unit_found ? PictureNumber(found) : found.picture_number;
    const int64_t shift = Shift();
    if (!h.pts_valid) {
        h.pts = 0;
        h.pts_valid = true;
    }
    // A first picture that is not the first to be shown moves forward by the pictures
    // before it.
    reorder_ = (n != 0 && found.unit_found) ? Mul(announced_, n) : 0;
    h.dts_valid = true;
    h.pts = Add(h.pts, reorder_);
    if (h.pts < 0) {
        reorder_ = Sub(reorder_, h.pts);
        h.pts = 0;
    }
    h.pts = Add(h.pts, shift);
    base_time_ = h.pts;
    n0_ = n;
    if (stream_.GetPtsSource() == PtsSource::FrameRateBased) {
        h.dts = 0;
        h.pts = Add(Mul(announced_, n), shift);
    } else {
        h.dts = h.pts;
    }
    group_ = 0;
    index_ = 1;
}

void CVideoParser::NextTiming(MediaBuffer& u) {
    MediaBuffer& h = *held_;
    const ScanResult found = ScanUnit(u);
    const bool seq = found.sequence_start;
    const int32_t n = found.unit_found ? PictureNumber(found) : found.picture_number;
    const int64_t shift = Shift();
    const bool frame_rate_based = stream_.GetPtsSource() == PtsSource::FrameRateBased;

    if (seq) {  // a new group: its first picture's time is the new base
        if (!u.pts_valid) {
            // Shown after the latest picture of the group before, and after the pictures of
            // its own group that come before it in display order.
            u.pts = Add(tmax_, Mul(announced_, Add(GroupLead(n), 1)));
            u.pts_valid = true;
        }
        group_ = index_;
        base_time_ = Add(Add(reorder_, shift), u.pts);
        n0_ = n;
        nmax_ = n;
        tmax_ = u.pts;
    }
    const bool had_pts = u.pts_valid;
    if (frame_rate_based)
        u.pts = Add(Mul(Add(n, group_), announced_), shift);
    else if (had_pts)
        u.pts = Add(Add(reorder_, shift), u.pts);
    else
        // base_time_ already holds the shift once.
        u.pts = Add(base_time_, Mul(Sub(n, n0_), estimated_));
    // Pictures placed without a stamp count too: the next group's start is placed after
    // the highest picture shown so far, not after the highest that had a stamp.
    if (nmax_ < n) {
        tmax_ = u.pts;
        nmax_ = n;
    }
    int64_t measured = announced_;
    if (n != n0_ && had_pts && !seq) {
        measured = Div(Sub(u.pts, base_time_), Sub(n, n0_));
        if (measured > 0) stream_.SetOwnValue(OwnValue::RealFrameRate, RealFrameRateValue(measured));
    }
    estimated_ = Div(Add(measured, Mul(10, estimated_)), 11);

    if (frame_rate_based) {
        u.dts = Mul(announced_, index_);
        u.dts_valid = true;
    } else if (static_cast<int64_t>(nmax_) == static_cast<int64_t>(index_) - group_ && tmax_ <= u.pts) {
        // Every picture up to the highest has come: decoding is due by the highest's time,
        // never later than this picture's own.
        u.dts = tmax_;
        u.dts_valid = true;
    } else {
        u.dts_valid = false;
    }
    ++index_;

    // Durations at or below zero are unknown.
    int64_t duration = 0;
    if (u.dts_valid && h.dts_valid) {
        duration = Sub(u.dts, h.dts);
        if (duration > 0) {
            const int64_t rate = static_cast<int64_t>(h.length) * 80000000 / duration;
            h.bit_rate = static_cast<uint32_t>(std::min<int64_t>(rate, std::numeric_limits<uint32_t>::max()));
        }
    } else {
        duration = announced_;
    }
    h.duration = duration > 0 ? duration : 0;
    h.duration_valid = duration > 0;
    u.pts_valid = true;
}

// ---- MPEG video -----------------------------------------------------------------------

ScanResult CMpegVideoParser::Scan(ScanCursor& cursor, ScanState&) {
    ScanResult r;
    r.picture_number = -1;
    const uint8_t* seq_pos = nullptr;
    int32_t seq_length = 0;
    while (cursor.length > 10) {
        const uint8_t* q = cursor.pos;
        if (q[0] == 0 && q[1] == 0 && q[2] == 1) {
            const uint8_t code = q[3];
            // picture_start_code; picture_coding_type is the three bits after the 10-bit
            // temporal_reference (ISO/IEC 13818-2 6.2.3), 0 forbidden.
            if (code == 0x00 && ((q[5] >> 3) & 7) != 0) {
                r.unit_found = true;
                r.picture_number = ((q[4] << 8) | q[5]) >> 6;
                r.boundary = seq_pos ? seq_pos : q;
                ++cursor.pos;
                --cursor.length;
                return r;
            }
            if ((code == 0xB3 || code == 0xB8) && !seq_pos) {
                r.sequence_start = true;
                seq_pos = q;
                seq_length = cursor.length;
            }
        }
        ++cursor.pos;
        --cursor.length;
    }
    if (seq_pos) {
        cursor.pos = seq_pos;
        cursor.length = seq_length;
        r.boundary = seq_pos;
    }
    return r;
}

bool BuildMpegVideoMediaType(const uint8_t* b, int32_t size, bool mpeg1, StreamMediaType* type) {
    common::MpegSequenceHeader h;
    if (!b || size < 0 || !common::ReadMpegSequenceHeader({b, static_cast<size_t>(size)}, &h)) return false;
    static constexpr int64_t kFrameDuration[9] = {0, 417083, 416666, 400000, 333667, 333333, 200000, 166833, 166666};
    StreamMediaType t;
    t.major = MajorType::Video;
    t.subtype = mpeg1 ? Subtype::Mpeg1Video : Subtype::Mpeg2Video;
    t.format = mpeg1 ? FormatType::MpegVideo : FormatType::Mpeg2Video;
    t.video.dwBitRate = h.bitRateValue * 400u;
    t.video.AvgTimePerFrame = h.frameRateCode < 9 ? kFrameDuration[h.frameRateCode] : 0;
    t.video.biSize = 40;  // BITMAPINFOHEADER
    t.video.biWidth = static_cast<int32_t>(h.horizontalSize);
    t.video.biHeight = static_cast<int32_t>(h.verticalSize);
    *type = t;
    return true;
}

void CMpegVideoParser::ReadHeader(const ScanResult& found, int32_t remaining) {
    // A group header may open the first unit; only a sequence header describes the stream.
    StreamMediaType type;
    if (!found.sequence_start || !BuildMpegVideoMediaType(found.boundary, remaining, mpeg1_, &type)) return;
    stream_.SetCurrentMediaType(type);
    Reset();
}

// ---- H.264 ----------------------------------------------------------------------------

void CH264Parser::Reset() {
    CVideoParser::Reset();
    prev_lsb_ = 0;
    base_old_ = 0;
    base_cur_ = 0;
    armed_ = true;
    prev_frame_num_ = 0;
    prev_frame_num_offset_ = 0;
}

int32_t CH264Parser::UnwrapPoc(uint32_t lsb) {
    const uint32_t m = lsb_mask_;
    if (armed_ && prev_lsb_ > 2 * m / 3 && lsb < m / 3) {
        base_old_ = base_cur_;
        base_cur_ += m + 1;
        armed_ = false;
    }
    // Pictures of the upper half that arrive just after a wrap still count on the old base
    // until an lsb in the middle band shows the wrap is behind.
    if (!armed_ && m / 3 < lsb && lsb < m / 2) {
        armed_ = true;
        base_old_ = base_cur_;
    }
    prev_lsb_ = lsb;
    return static_cast<int32_t>((lsb + (lsb < m / 2 ? base_cur_ : base_old_)) / 2);
}

const CH264Parser::Sps& CH264Parser::SpsFor(int32_t sps_id) const {
    static const Sps kDefault;
    if (sps_id >= 0 && sps_id < 32 && sps_[sps_id].valid) return sps_[sps_id];
    if (last_sps_ >= 0) return sps_[last_sps_];
    return kDefault;
}

namespace {

bool HighProfile(uint32_t profile_idc) {
    switch (profile_idc) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}
}  // namespace

CH264Parser::NalRead CH264Parser::ReadSps(const uint8_t* payload, const uint8_t* end) {
    RbspReader rd(payload, end);
    Sps s;
    const uint32_t profile_idc = rd.Bits(8);
    rd.Bits(16);  // constraint flags, level_idc
    const uint32_t id = rd.Ue();
    if (id > 31) rd.Fail();
    if (HighProfile(profile_idc)) {
        const uint32_t chroma_format_idc = rd.Ue();
        if (chroma_format_idc > 3) rd.Fail();
        if (chroma_format_idc == 3) s.separate_colour_plane = rd.Bit();
        rd.Ue();         // bit_depth_luma_minus8
        rd.Ue();         // bit_depth_chroma_minus8
        rd.Bit();        // qpprime_y_zero_transform_bypass_flag
        if (rd.Bit()) {  // seq_scaling_matrix_present_flag: skip the lists (7.3.2.1.1.1)
            const int lists = chroma_format_idc == 3 ? 12 : 8;
            for (int i = 0; i < lists && rd.ok(); ++i) {
                if (!rd.Bit()) continue;
                const int size = i < 6 ? 16 : 64;
                int32_t last = 8, next = 8;
                for (int j = 0; j < size && rd.ok(); ++j) {
                    if (next != 0) {
                        const int32_t delta = rd.Se();
                        if (delta < -128 || delta > 127) rd.Fail();
                        next = (last + delta + 256) % 256;
                    }
                    last = next == 0 ? last : next;
                }
            }
        }
    }
    const uint32_t log2_frame_num = rd.Ue() + 4;
    s.poc_type = static_cast<uint8_t>(std::min<uint32_t>(rd.Ue(), 255));
    if (log2_frame_num > 16 || s.poc_type > 2) rd.Fail();
    s.log2_max_frame_num = static_cast<uint8_t>(std::min<uint32_t>(log2_frame_num, 16));
    if (s.poc_type == 0) {
        const uint32_t log2_lsb = rd.Ue() + 4;
        if (log2_lsb > 16) rd.Fail();
        s.log2_max_poc_lsb = static_cast<uint8_t>(std::min<uint32_t>(log2_lsb, 16));
    } else if (s.poc_type == 1) {
        s.delta_pic_order_always_zero = rd.Bit();
        s.offset_for_non_ref_pic = rd.Se();
        s.offset_for_top_to_bottom_field = rd.Se();
        const uint32_t cycle = rd.Ue();
        if (cycle > 255) rd.Fail();
        s.num_ref_frames_in_poc_cycle = static_cast<uint8_t>(std::min<uint32_t>(cycle, 255));
        for (int i = 0; i < s.num_ref_frames_in_poc_cycle && rd.ok(); ++i)
            s.offset_for_ref_frame[i] = rd.Se();
    }
    rd.Ue();   // max_num_ref_frames
    rd.Bit();  // gaps_in_frame_num_value_allowed_flag
    rd.Ue();   // pic_width_in_mbs_minus1
    rd.Ue();   // pic_height_in_map_units_minus1
    s.frame_mbs_only = rd.Bit();
    if (rd.state() == RbspReader::State::DataEnd) return NalRead::NeedMore;
    if (!rd.ok()) return NalRead::Skip;
    s.valid = true;
    sps_[id] = s;
    last_sps_ = static_cast<int32_t>(id);
    log2_max_frame_num_ = s.log2_max_frame_num;
    if (s.poc_type == 0) {
        log2_max_poc_lsb_ = s.log2_max_poc_lsb;
        lsb_mask_ = (1u << log2_max_poc_lsb_) - 1;
    }
    return NalRead::Done;
}

CH264Parser::NalRead CH264Parser::ReadPps(const uint8_t* payload, const uint8_t* end) {
    RbspReader rd(payload, end);
    const uint32_t id = rd.Ue();
    const uint32_t sps_id = rd.Ue();
    rd.Bit();  // entropy_coding_mode_flag
    const bool bottom_present = rd.Bit();
    if (rd.state() == RbspReader::State::DataEnd) return NalRead::NeedMore;
    if (!rd.ok() || id > 255 || sps_id > 31) return NalRead::Skip;
    pps_[id].valid = true;
    pps_[id].sps_id = static_cast<uint8_t>(sps_id);
    pps_[id].bottom_field_pic_order_in_frame_present = bottom_present;
    return NalRead::Done;
}

CH264Parser::NalRead CH264Parser::ReadSlice(const uint8_t* payload, const uint8_t* end, uint8_t header, ScanResult* out,
                                            ScanState* slice, uint32_t* first_mb, uint32_t* slice_type) {
    RbspReader rd(payload, end);
    *first_mb = rd.Ue();
    *slice_type = rd.Ue();
    const uint32_t pps_id = rd.Ue();
    if (*slice_type > 9 || pps_id > 255) rd.Fail();
    const Pps* pps = pps_id <= 255 && pps_[pps_id].valid ? &pps_[pps_id] : nullptr;
    const Sps& sps = SpsFor(pps ? pps->sps_id : -1);
    if (sps.separate_colour_plane) rd.Bits(2);  // colour_plane_id
    ScanState s;
    s.have_slice = true;
    s.nal_ref_idc = static_cast<uint8_t>((header >> 5) & 3);
    s.idr = (header & 0x1F) == 5;
    s.pps_id = pps_id;
    s.frame_num = rd.Bits(sps.log2_max_frame_num);
    if (!sps.frame_mbs_only) {
        s.field_pic = rd.Bit();
        if (s.field_pic) s.bottom_field = rd.Bit();
    }
    if (s.idr) s.idr_pic_id = rd.Ue();
    const bool bottom_present = pps && pps->bottom_field_pic_order_in_frame_present;
    if (sps.poc_type == 0) {
        s.poc_lsb = rd.Bits(sps.log2_max_poc_lsb);
        if (bottom_present && !s.field_pic) s.delta_poc_bottom = rd.Se();
    } else if (sps.poc_type == 1 && !sps.delta_pic_order_always_zero) {
        s.delta_poc0 = rd.Se();
        if (bottom_present && !s.field_pic) s.delta_poc1 = rd.Se();
    }
    if (rd.state() == RbspReader::State::DataEnd) return NalRead::NeedMore;
    if (!rd.ok()) return NalRead::Skip;
    *slice = s;
    out->picture_number = static_cast<int32_t>(s.poc_lsb);
    out->h264.sps_id = pps ? pps->sps_id : last_sps_;
    out->h264.frame_num = s.frame_num;
    out->h264.delta_poc[0] = s.delta_poc0;
    out->h264.delta_poc[1] = s.delta_poc1;
    out->h264.idr = s.idr;
    out->h264.reference = s.nal_ref_idc != 0;
    return NalRead::Done;
}

ScanResult CH264Parser::Scan(ScanCursor& cursor, ScanState& state) {
    ScanResult r;
    const uint8_t* const end = cursor.pos + cursor.length;
    // The first NAL unit after the latest slice that opens a new access unit (access unit
    // delimiter, SPS, PPS, SEI, 14..18: 7.4.1.2.3): the next picture begins there.
    const uint8_t* lead = nullptr;
    int32_t lead_length = 0;
    auto wait_here = [&](const uint8_t* q) {
        // The stored bytes end inside a header: scan it again with more bytes.
        ScanResult w;
        if (lead) {
            cursor.pos = lead;
            cursor.length = lead_length;
            w.boundary = lead;
            w.sequence_start = r.sequence_start;
        } else {
            cursor.length = static_cast<int32_t>(end - q);
            cursor.pos = q;
        }
        return w;
    };
    while (cursor.length > 10) {
        const uint8_t* q = cursor.pos;
        int sc = 0;
        if (q[0] == 0 && q[1] == 0) {
            if (q[2] == 1)
                sc = 3;
            else if (q[2] == 0 && q[3] == 1)
                sc = 4;
        }
        if (sc != 0 && (q[sc] & 0x80) == 0) {
            const uint8_t header = q[sc];
            const int type = header & 0x1F;
            const uint8_t* payload = q + sc + 1;
            if (type == 1 || type == 5) {
                ScanState slice;
                uint32_t first_mb = 0, slice_type = 0;
                ScanResult found = r;
                const NalRead read = ReadSlice(payload, end, header, &found, &slice, &first_mb, &slice_type);
                if (read == NalRead::NeedMore) return wait_here(q);
                if (read == NalRead::Done) {
                    // 7.4.1.2.4: the first slice of a new primary picture differs from the
                    // previous slice in one of these.
                    const ScanState& p = state;
                    const bool new_picture =
                        !p.have_slice || lead != nullptr || first_mb == 0 || p.frame_num != slice.frame_num ||
                        p.pps_id != slice.pps_id || p.field_pic != slice.field_pic ||
                        p.bottom_field != slice.bottom_field || (p.nal_ref_idc == 0) != (slice.nal_ref_idc == 0) ||
                        p.poc_lsb != slice.poc_lsb || p.delta_poc_bottom != slice.delta_poc_bottom ||
                        p.delta_poc0 != slice.delta_poc0 || p.delta_poc1 != slice.delta_poc1 || p.idr != slice.idr ||
                        (p.idr && slice.idr && p.idr_pic_id != slice.idr_pic_id);
                    slice.expected_sync = state.expected_sync;
                    state = slice;
                    if (new_picture) {
                        r = found;
                        // An intra picture with every slice intra opens a group.
                        if (slice_type == 7 && !r.sequence_start) r.sequence_start = true;
                        r.unit_found = true;
                        r.boundary = lead ? lead : q;
                        // Past the whole start code: its last three bytes are one too.
                        cursor.pos += sc;
                        cursor.length -= sc;
                        return r;
                    }
                }
            } else if (type == 7 || type == 8 || type == 6 || type == 9 || (type >= 14 && type <= 18)) {
                NalRead read = NalRead::Done;
                if (type == 7) read = ReadSps(payload, end);
                if (type == 8) read = ReadPps(payload, end);
                if (read == NalRead::NeedMore) return wait_here(q);
                if (type == 7) r.sequence_start = true;
                if (!lead) {
                    lead = q;
                    lead_length = cursor.length;
                }
            }
        }
        const int step = sc != 0 ? sc : 1;
        cursor.pos += step;
        cursor.length -= step;
    }
    if (lead) {
        cursor.pos = lead;
        cursor.length = lead_length;
        r.boundary = lead;
    }
    return r;
}

int32_t CH264Parser::PictureNumber(const ScanResult& found) {
    const Sps& sps = SpsFor(found.h264.sps_id);
    if (sps.poc_type == 0) return UnwrapPoc(static_cast<uint32_t>(found.picture_number));
    // 8.2.1.2 and 8.2.1.3, frames: the order count from frame_num and its offset.
    const int64_t max_frame_num = int64_t{1} << sps.log2_max_frame_num;
    const uint32_t frame_num = found.h264.frame_num;
    int64_t offset = 0;
    if (!found.h264.idr)
        offset = prev_frame_num_ > frame_num ? Add(prev_frame_num_offset_, max_frame_num) : prev_frame_num_offset_;
    prev_frame_num_ = frame_num;
    prev_frame_num_offset_ = offset;
    int64_t poc = 0;
    if (sps.poc_type == 2) {
        if (!found.h264.idr) poc = Sub(Mul(2, Add(offset, frame_num)), found.h264.reference ? 0 : 1);
    } else {
        int64_t abs_frame_num = sps.num_ref_frames_in_poc_cycle != 0 ? Add(offset, frame_num) : 0;
        if (!found.h264.reference && abs_frame_num > 0) --abs_frame_num;
        int64_t expected = 0;
        if (abs_frame_num > 0) {
            int64_t cycle_delta = 0;
            for (int i = 0; i < sps.num_ref_frames_in_poc_cycle; ++i)
                cycle_delta += sps.offset_for_ref_frame[i];
            const int64_t cycles = (abs_frame_num - 1) / sps.num_ref_frames_in_poc_cycle;
            const int64_t in_cycle = (abs_frame_num - 1) % sps.num_ref_frames_in_poc_cycle;
            expected = Mul(cycles, cycle_delta);
            for (int64_t i = 0; i <= in_cycle; ++i)
                expected = Add(expected, sps.offset_for_ref_frame[i]);
        }
        if (!found.h264.reference) expected = Add(expected, sps.offset_for_non_ref_pic);
        const int64_t top = Add(expected, found.h264.delta_poc[0]);
        const int64_t bottom = Add(Add(top, sps.offset_for_top_to_bottom_field), found.h264.delta_poc[1]);
        poc = std::min(top, bottom);
    }
    // Order counts of frames step by 2 (a non-reference frame's is one less): halved up.
    return static_cast<int32_t>(Add(poc, 1) >> 1);
}

}  // namespace muxer
