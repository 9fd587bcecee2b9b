#include "filters/muxer/core/video_parser.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "common/bitstream/bit_reader.h"
#include "common/bitstream/emulation_prevention.h"
#include "common/bitstream/h264_sps.h"
#include "common/bitstream/h264_syntax.h"
#include "common/bitstream/mpeg2_video_header.h"
#include "common/bitstream/start_code.h"

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

// The leading RBSP bytes of an H.264 NAL unit (emulation prevention removed, ITU-T H.264
// clause 7.4.1), as many as the scan's header reads can use. The longest is a slice header's
// start (7.3.3): first_mb_in_slice, slice_type, pic_parameter_set_id and idr_pic_id as ue(v)
// and two se(v) order-count fields, each at most 63 bits, plus colour_plane_id (2),
// frame_num and pic_order_cnt_lsb (16 each) and two flags: 398 bits, under 50 bytes. 64
// bytes leave room, and 96 payload bytes always give 64 or more (at most one emulation
// prevention byte in three).
struct HeaderRbsp {
    static constexpr size_t kBytes = 64;
    static constexpr size_t kPayloadBytes = kBytes * 3 / 2;

    // `payload` follows the NAL unit header byte; `end` is the first byte not stored.
    HeaderRbsp(const uint8_t* payload, const uint8_t* end) {
        // The NAL unit ends before the first 00 00 00, 00 00 01 or 00 00 02, which cannot
        // occur inside one (7.4.1): trailing zeros or the next start code.
        const size_t stored = static_cast<size_t>(end - payload);
        const uint8_t* limit = payload + std::min(stored, kPayloadBytes + 2);
        const uint8_t* nalEnd = common::FindZeroPairThen(payload, limit, 0, 2);
        const uint8_t* last = payload + std::min(stored, kPayloadBytes);
        if (nalEnd < last) last = nalEnd;
        // Stored bytes that end before both the NAL unit and the window leave it cut short.
        cut = nalEnd == limit && stored < kPayloadBytes;
        size = common::RemoveEmulationPrevention({payload, static_cast<size_t>(last - payload)}, bytes).written;
    }

    uint8_t bytes[kBytes];
    size_t size = 0;
    bool cut = false;  // more bytes of this NAL unit are still to come
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
    streamFields_ = 0;
    streamPictures_ = 0;
    repeatsFields_ = false;
    groupParity_ = 0;
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

void CVideoParser::StartTiming(const ScanResult& scanned) {
    MediaBuffer& h = *held_;
    ScanResult found = scanned;
    ReadPictureFields(h, &found);
    const int32_t n = found.unitFound ? PictureNumber(found) : found.pictureNumber;
    const int64_t shift = Shift();
    if (!h.ptsValid) {
        h.pts = 0;
        h.ptsValid = true;
    }
    // A first picture that is not the first to be shown moves forward by the pictures
    // before it.
    reorder_ = (n != 0 && found.unitFound) ? Mul(announced_, n) : 0;
    h.dtsValid = true;
    h.pts = Add(h.pts, reorder_);
    if (h.pts < 0) {
        reorder_ = Sub(reorder_, h.pts);
        h.pts = 0;
    }
    h.pts = Add(h.pts, shift);
    baseTime_ = h.pts;
    n0_ = n;
    groupFields_.clear();
    groupParity_ = found.firstField;
    NoteFields(n, found.fields, found.firstField);
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
    ScanResult found = ScanUnit(u);
    ReadPictureFields(u, &found);
    const bool seq = found.sequenceStart;
    const int32_t n = found.unitFound ? PictureNumber(found) : found.pictureNumber;
    const int64_t shift = Shift();
    const bool frame_rate_based = stream_.GetPtsSource() == PtsSource::FrameRateBased;

    if (seq) {  // a new group: its first picture's time is the new base
        const int32_t lead = GroupLead(n);
        if (!u.ptsValid) {
            // The group's first picture in display order follows the latest picture shown,
            // after that picture's own fields; this one follows the `lead` pictures of its
            // group shown before it, which come later in decoding order (an open group's
            // leading pictures): all are timed from the group's start below.
            const int32_t last = LastParity(nmax_);
            baseTime_ = Add(Add(reorder_, shift), Add(tmax_, ShownTime(nmax_)));
            groupParity_ = last;
            n0_ = n - lead;
            nmax_ = n0_ - 1;
        } else {
            baseTime_ = Add(Add(reorder_, shift), u.pts);
            groupParity_ = found.firstField;
            n0_ = n;
            nmax_ = n;
            tmax_ = u.pts;
        }
        group_ = index_;
        groupFields_.clear();
    }
    NoteFields(n, found.fields, found.firstField);
    const bool had_pts = u.ptsValid;
    int64_t fieldOffset = 0;
    if (frame_rate_based)
        u.pts = Add(Mul(Add(n, group_), announced_), shift);
    else if (had_pts)
        u.pts = Add(Add(reorder_, shift), u.pts);
    else if (FieldOffset(n, &fieldOffset))
        // Pictures shown for two or three fields (3:2 pulldown) follow their fields.
        u.pts = Add(baseTime_, fieldOffset);
    else
        // base_time_ already holds the shift once.
        u.pts = Add(baseTime_, Mul(Sub(n, n0_), estimated_));
    // Pictures placed without a stamp count too: the next group's start is placed after
    // the highest picture shown so far, not after the highest that had a stamp.
    if (nmax_ < n) {
        tmax_ = u.pts;
        nmax_ = n;
    }
    int64_t measured = announced_;
    if (n != n0_ && had_pts && !seq) {
        measured = Div(Sub(u.pts, baseTime_), Sub(n, n0_));
        if (measured > 0) stream_.SetOwnValue(OwnValue::RealFrameRate, RealFrameRateValue(measured));
    }
    estimated_ = Div(Add(measured, Mul(10, estimated_)), 11);

    if (frame_rate_based) {
        u.dts = Mul(announced_, index_);
        u.dtsValid = true;
    } else if (static_cast<int64_t>(nmax_) == static_cast<int64_t>(index_) - group_ && tmax_ <= u.pts) {
        // Every picture up to the highest has come: decoding is due by the highest's time,
        // never later than this picture's own.
        u.dts = tmax_;
        u.dtsValid = true;
    } else {
        u.dtsValid = false;
    }
    ++index_;

    // Durations at or below zero are unknown.
    int64_t duration = 0;
    if (u.dtsValid && h.dtsValid) {
        duration = Sub(u.dts, h.dts);
        if (duration > 0) {
            const int64_t rate = static_cast<int64_t>(h.length) * 80000000 / duration;
            h.bitRate = static_cast<uint32_t>(std::min<int64_t>(rate, std::numeric_limits<uint32_t>::max()));
        }
    } else {
        duration = announced_;
    }
    h.duration = duration > 0 ? duration : 0;
    h.durationValid = duration > 0;
    u.ptsValid = true;
}

void CVideoParser::NoteFields(int32_t n, int32_t fields, int32_t parity) {
    const int64_t at = int64_t{n} - n0_;
    if (fields <= 0 || at < 0 || at >= static_cast<int64_t>(kGroupFields)) return;
    if (groupFields_.size() <= static_cast<size_t>(at)) groupFields_.resize(static_cast<size_t>(at) + 1, 0);
    uint8_t& entry = groupFields_[static_cast<size_t>(at)];
    if (entry == 0) {
        streamFields_ += std::min(fields, 15);
        ++streamPictures_;
        if (fields & 1) repeatsFields_ = true;
    }
    entry = static_cast<uint8_t>(std::min(fields, 15) | ((parity & 3) << 4));
}

bool CVideoParser::FieldOffset(int32_t n, int64_t* offset) const {
    int64_t num = 0, den = 0;
    const int64_t at = int64_t{n} - n0_;
    if (at < 0 || at >= static_cast<int64_t>(groupFields_.size()) || groupFields_[static_cast<size_t>(at)] == 0 ||
        streamPictures_ == 0 || !FieldClock(&num, &den))
        return false;
    int64_t known = 0, seen = 0;
    for (int64_t k = 0; k < at; ++k)
        if (const uint8_t e = groupFields_[static_cast<size_t>(k)]; e != 0) {
            known += e & 15;
            ++seen;
        }
    int64_t fields = known;
    if (seen < at) {
        // Pictures shown before this one that come later in decoding order count as the
        // stream's mean so far (2.5 fields under 3:2 pulldown). Where the parities of the
        // group's first field and of this picture's first field are known, the count is
        // the nearest one that leads from the one to the other, as fields alternate.
        const int64_t unseen = at - seen;
        // The estimate is total / pictures fields, rounded to the nearest. Until some
        // cycles of its pattern are seen, a stream that repeats fields counts 2.5 (3:2
        // pulldown, the usual cause): the mean of a few pictures is off by more than the
        // half field the parity can mend.
        int64_t meanFields = streamFields_, pictures = streamPictures_;
        if (pictures < 64 && repeatsFields_) {
            meanFields = 5;
            pictures = 2;
        }
        const int64_t total = known * pictures + unseen * meanFields;
        fields = (2 * total + pictures) / (2 * pictures);
        const int32_t parity = (groupFields_[static_cast<size_t>(at)] >> 4) & 3;
        if (parity != 0 && groupParity_ != 0) {
            const int64_t want = parity != groupParity_ ? 1 : 0;
            if ((fields & 1) != want) {
                // Of fields - 1 and fields + 1, the one on the estimate's side.
                fields += total >= fields * pictures ? 1 : -1;
            }
        }
    }
    *offset = Div(Mul(fields, num), den);
    return true;
}

int64_t CVideoParser::ShownTime(int32_t n) const {
    int64_t num = 0, den = 0;
    const int64_t at = int64_t{n} - n0_;
    if (at < 0 || at >= static_cast<int64_t>(groupFields_.size()) || groupFields_[static_cast<size_t>(at)] == 0 ||
        !FieldClock(&num, &den))
        return announced_;
    return Div(Mul(groupFields_[static_cast<size_t>(at)] & 15, num), den);
}

int32_t CVideoParser::LastParity(int32_t n) const {
    // The parity that follows picture n's last field: its first one again after an even
    // number of fields.
    const int64_t at = int64_t{n} - n0_;
    if (at < 0 || at >= static_cast<int64_t>(groupFields_.size())) return 0;
    const uint8_t e = groupFields_[static_cast<size_t>(at)];
    const int32_t parity = (e >> 4) & 3;
    if (parity == 0) return 0;
    return (e & 1) ? 3 - parity : parity;
}

// ---- MPEG video -----------------------------------------------------------------------

ScanResult CMpegVideoParser::Scan(ScanCursor& cursor, ScanState&) {
    ScanResult r;
    r.pictureNumber = -1;
    const uint8_t* seq_pos = nullptr;
    int32_t seq_length = 0;
    while (cursor.length > 10) {
        // The next start code prefix among the bytes that leave 10 behind it.
        const uint8_t* limit = cursor.pos + cursor.length - 10 + 2;
        const uint8_t* found = common::FindStartCode(cursor.pos, limit);
        if (found == limit) {
            const int32_t skip = static_cast<int32_t>(limit - 2 - cursor.pos);
            cursor.pos += skip;
            cursor.length -= skip;
            break;
        }
        cursor.length -= static_cast<int32_t>(found - cursor.pos);
        cursor.pos = found;
        const uint8_t* q = cursor.pos;
        {
            const uint8_t code = q[3];
            // picture_start_code; picture_coding_type is the three bits after the 10-bit
            // temporal_reference (ISO/IEC 13818-2 6.2.3), 0 forbidden.
            if (code == 0x00 && ((q[5] >> 3) & 7) != 0) {
                r.unitFound = true;
                r.pictureNumber = ((q[4] << 8) | q[5]) >> 6;
                r.boundary = seq_pos ? seq_pos : q;
                ++cursor.pos;
                --cursor.length;
                return r;
            }
            if ((code == 0xB3 || code == 0xB8) && !seq_pos) {
                r.sequenceStart = true;
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
    if (!found.sequenceStart || !BuildMpegVideoMediaType(found.boundary, remaining, mpeg1_, &type)) return;
    stream_.SetCurrentMediaType(type);
    Reset();
}

void CMpegVideoParser::ReadPictureFields(const MediaBuffer& unit, ScanResult* found) {
    if (mpeg1_) return;
    // The headers before the picture's first slice: a sequence header with its extension,
    // a group header, the picture header and its coding extension (ISO/IEC 13818-2 6.2).
    const uint8_t* p = unit.Data();
    const uint8_t* const end = p + unit.length;
    bool picture = false;
    while (p && end - p >= 4) {
        p = common::FindStartCode(p, end);
        if (end - p < 4) break;
        const uint8_t code = p[3];
        if (code >= 0x01 && code <= 0xAF) break;  // slice_start_code: the headers are over
        if (code == 0xB3) {
            common::MpegSequenceHeader h;
            uint32_t num = 0, den = 0;
            if (common::ReadMpegVideoSequence({p, static_cast<size_t>(end - p)}, &h) && h.FrameRate(&num, &den)) {
                frameRateNum_ = num;
                frameRateDen_ = den;
                progressiveSequence_ = h.hasExtension && h.progressiveSequence;
            }
        } else if (code == 0x00) {
            picture = true;
        } else if (code == 0xB5 && picture && end - p >= 8 && (p[4] >> 4) == 8) {
            // picture_coding_extension (6.2.3.1): picture_structure ends the third byte
            // after the start code, top_field_first and repeat_first_field are bits 7 and 1
            // of the fourth. 6.3.10: a frame picture of an interlaced sequence is shown for
            // two fields and a repeated first one; in a progressive sequence it is shown as
            // one, two or three frames. A field picture is half of a frame pair, both halves
            // taking the pair's number.
            const int structure = p[6] & 3;
            const bool top_first = (p[7] & 0x80) != 0;
            const bool repeat = (p[7] & 0x02) != 0;
            if (structure != 3)
                found->fields = 2;
            else if (progressiveSequence_)
                found->fields = repeat ? (top_first ? 6 : 4) : 2;
            else
                found->fields = repeat ? 3 : 2;
            if (structure == 3 && !progressiveSequence_) found->firstField = top_first ? 1 : 2;
            break;
        }
        p += 3;
    }
}

bool CMpegVideoParser::FieldClock(int64_t* num, int64_t* den) const {
    if (frameRateNum_ == 0) return false;
    // A field is half a frame period of frame_rate_code (Table 6-4), in 100-ns units.
    *num = int64_t{frameRateDen_} * 10000000;
    *den = int64_t{frameRateNum_} * 2;
    return true;
}

// ---- H.264 ----------------------------------------------------------------------------

void CH264Parser::Reset() {
    CVideoParser::Reset();
    prevLsb_ = 0;
    prevMsb_ = 0;
    prevFrameNum_ = 0;
    prevFrameNumOffset_ = 0;
}

int32_t CH264Parser::UnwrapPoc(uint32_t lsb, bool reference, bool idr) {
    // ITU-T H.264 clause 8.2.1.1: the most significant part follows the previous reference
    // picture's, stepping by MaxPicOrderCntLsb when the lsb moved by half of it or more.
    const int64_t max = int64_t{lsbMask_} + 1;
    if (idr) {
        prevMsb_ = 0;
        prevLsb_ = 0;
    }
    int64_t msb = prevMsb_;
    if (lsb < prevLsb_ && prevLsb_ - lsb >= max / 2)
        msb = Add(prevMsb_, max);
    else if (lsb > prevLsb_ && lsb - prevLsb_ > max / 2)
        msb = Sub(prevMsb_, max);
    if (reference) {
        prevMsb_ = msb;
        prevLsb_ = lsb;
    }
    // Frames count two per picture (top and bottom field).
    const int64_t poc = Add(msb, lsb);
    return static_cast<int32_t>(std::clamp<int64_t>(poc / 2, INT32_MIN, INT32_MAX));
}

const CH264Parser::Sps& CH264Parser::SpsFor(int32_t spsId) const {
    static const Sps kDefault;
    if (spsId >= 0 && spsId < 32 && sps_[spsId].valid) return sps_[spsId];
    if (lastSps_ >= 0) return sps_[lastSps_];
    return kDefault;
}

CH264Parser::NalRead CH264Parser::ReadSps(const uint8_t* payload, const uint8_t* end) {
    // The whole NAL unit up to the next start code, less the zero bytes before it, goes to
    // the common parser, which answers only for a set that ends exactly at its stop bit.
    const uint8_t* next = common::FindStartCode(payload, end);
    if (next == end) return NalRead::NeedMore;
    while (next > payload && next[-1] == 0)
        --next;
    std::vector<uint8_t> rbsp(static_cast<size_t>(next - payload));
    const common::EscapeResult unescaped =
        common::RemoveEmulationPrevention({payload, static_cast<size_t>(next - payload)}, rbsp);
    if (!unescaped.complete) return NalRead::Skip;
    auto parsed = std::make_unique<common::H264Sps>();
    if (common::ParseH264Sps({rbsp.data(), unescaped.written}, parsed.get()) != common::SpsResult::kOk)
        return NalRead::Skip;
    const common::H264Sps& c = *parsed;
    Sps s;
    s.separate_colour_plane = c.separate_colour_plane_flag != 0;
    s.log2_max_frame_num = static_cast<uint8_t>(c.log2_max_frame_num_minus4 + 4);
    s.poc_type = static_cast<uint8_t>(c.pic_order_cnt_type);
    if (s.poc_type == 0) s.log2_max_poc_lsb = static_cast<uint8_t>(c.log2_max_pic_order_cnt_lsb_minus4 + 4);
    s.delta_pic_order_always_zero = c.delta_pic_order_always_zero_flag != 0;
    s.offset_for_non_ref_pic = c.offset_for_non_ref_pic;
    s.offset_for_top_to_bottom_field = c.offset_for_top_to_bottom_field;
    s.num_ref_frames_in_poc_cycle = static_cast<uint8_t>(c.num_ref_frames_in_pic_order_cnt_cycle);
    for (int i = 0; i < s.num_ref_frames_in_poc_cycle; ++i)
        s.offset_for_ref_frame[i] = c.offset_for_ref_frame[i];
    s.frame_mbs_only = c.frame_mbs_only_flag != 0;
    if (c.vui_parameters_present_flag) {
        s.hrd_delays = c.nal_hrd_parameters_present_flag || c.vcl_hrd_parameters_present_flag;
        const common::H264Hrd& hrd = c.nal_hrd_parameters_present_flag ? c.nal_hrd : c.vcl_hrd;
        s.cpb_removal_delay_length = static_cast<uint8_t>(hrd.cpb_removal_delay_length_minus1 + 1);
        s.dpb_output_delay_length = static_cast<uint8_t>(hrd.dpb_output_delay_length_minus1 + 1);
        s.pic_struct_present = c.pic_struct_present_flag != 0;
        if (c.timing_info_present_flag) {
            s.num_units_in_tick = c.num_units_in_tick;
            s.time_scale = c.time_scale;
        }
    }
    const uint32_t id = static_cast<uint32_t>(c.seq_parameter_set_id);
    s.valid = true;
    sps_[id] = s;
    lastSps_ = static_cast<int32_t>(id);
    log2MaxFrameNum_ = s.log2_max_frame_num;
    if (s.poc_type == 0) {
        log2MaxPocLsb_ = s.log2_max_poc_lsb;
        lsbMask_ = (1u << log2MaxPocLsb_) - 1;
    }
    return NalRead::Done;
}

bool CH264Parser::FieldClock(int64_t* num, int64_t* den) const {
    // One clock tick is one field's display time (ITU-T H.264 E.2.1, Table E-6).
    const Sps& sps = SpsFor(-1);
    if (!sps.pic_struct_present || sps.num_units_in_tick == 0 || sps.time_scale == 0) return false;
    *num = int64_t{sps.num_units_in_tick} * 10000000;
    *den = sps.time_scale;
    return true;
}

CH264Parser::NalRead CH264Parser::ReadSei(const uint8_t* payload, const uint8_t* end, int32_t* fields,
                                          int32_t* firstField) {
    // A picture timing message needs the active sequence parameter set; this parser
    // takes the latest, as streams with one set have it.
    const Sps& sps = SpsFor(-1);
    if (!sps.valid || !sps.pic_struct_present) return NalRead::Done;
    const uint8_t* next = common::FindStartCode(payload, end);
    if (next == end) return NalRead::NeedMore;
    while (next > payload && next[-1] == 0)
        --next;
    std::vector<uint8_t> rbsp(static_cast<size_t>(next - payload));
    const size_t size = common::RemoveEmulationPrevention({payload, rbsp.size()}, rbsp).written;
    common::BitReader rd(rbsp.data(), size);
    // sei_message() (7.3.2.3.1): type and size as runs of 0xFF plus a last byte.
    while (rd.Ok() && rd.MoreRbspData()) {
        auto readValue = [&] {
            uint64_t v = 0;
            uint32_t b = 0;
            do {
                b = rd.ReadBits(8);
                v += b;
            } while (b == 0xFF && rd.Ok());
            return v;
        };
        const uint64_t type = readValue();
        const uint64_t bytes = readValue();
        if (!rd.Ok() || bytes * 8 > rd.BitsLeft()) break;
        if (type != 1) {  // not pic_timing
            rd.SkipBits(bytes * 8);
            continue;
        }
        // pic_timing (D.1.3): the two HRD delays, then pic_struct; fields per Table E-6.
        if (sps.hrd_delays) rd.SkipBits(uint64_t{sps.cpb_removal_delay_length} + sps.dpb_output_delay_length);
        const uint32_t picStruct = rd.ReadBits(4);
        static constexpr int32_t kFields[9] = {2, 1, 1, 2, 2, 3, 3, 4, 6};
        // The first field's parity: top for 1, 3, 5; bottom for 2, 4, 6; none for frames.
        static constexpr int32_t kFirst[9] = {0, 1, 2, 1, 2, 1, 2, 0, 0};
        if (rd.Ok() && picStruct < 9) {
            *fields = kFields[picStruct];
            *firstField = kFirst[picStruct];
        }
        break;
    }
    return NalRead::Done;
}

CH264Parser::NalRead CH264Parser::ReadPps(const uint8_t* payload, const uint8_t* end) {
    const HeaderRbsp rbsp(payload, end);
    common::BitReader rd(rbsp.bytes, rbsp.size);
    // A read past the RBSP waits for more bytes while the NAL unit is cut short; any other
    // failure, the first one counting, skips the unit.
    auto failed = [&] { return rd.PastEnd() && rbsp.cut ? NalRead::NeedMore : NalRead::Skip; };
    const uint32_t id = rd.ReadUe();
    if (!rd.Ok()) return failed();
    const uint32_t spsId = rd.ReadUe();
    if (!rd.Ok()) return failed();
    rd.ReadBits(1);  // entropy_coding_mode_flag
    const bool bottom_present = rd.ReadFlag();
    if (!rd.Ok()) return failed();
    if (id > 255 || spsId > 31) return NalRead::Skip;
    pps_[id].valid = true;
    pps_[id].spsId = static_cast<uint8_t>(spsId);
    pps_[id].bottom_field_pic_order_in_frame_present = bottom_present;
    return NalRead::Done;
}

CH264Parser::NalRead CH264Parser::ReadSlice(const uint8_t* payload, const uint8_t* end, uint8_t header, ScanResult* out,
                                            ScanState* slice, uint32_t* first_mb, uint32_t* slice_type) {
    const HeaderRbsp rbsp(payload, end);
    common::BitReader rd(rbsp.bytes, rbsp.size);
    // As in ReadPps: the first failure decides, and a read past a cut RBSP waits.
    auto failed = [&] { return rd.PastEnd() && rbsp.cut ? NalRead::NeedMore : NalRead::Skip; };
    *first_mb = rd.ReadUe();
    if (!rd.Ok()) return failed();
    *slice_type = rd.ReadUe();
    if (!rd.Ok()) return failed();
    const uint32_t ppsId = rd.ReadUe();
    if (!rd.Ok()) return failed();
    if (*slice_type > 9 || ppsId > 255) return NalRead::Skip;
    const Pps* pps = pps_[ppsId].valid ? &pps_[ppsId] : nullptr;
    const Sps& sps = SpsFor(pps ? pps->spsId : -1);
    if (sps.separate_colour_plane) rd.ReadBits(2);  // colour_plane_id
    ScanState s;
    s.haveSlice = true;
    s.nalRefIdc = static_cast<uint8_t>((header >> 5) & 3);
    s.idr = common::NalTypeOf(header) == common::NalUnitType::kIdrSlice;
    s.ppsId = ppsId;
    s.frameNum = rd.ReadBits(sps.log2_max_frame_num);
    if (!sps.frame_mbs_only) {
        s.fieldPic = rd.ReadFlag();
        if (s.fieldPic) s.bottomField = rd.ReadFlag();
    }
    if (!rd.Ok()) return failed();
    if (s.idr) {
        s.idrPicId = rd.ReadUe();
        if (!rd.Ok()) return failed();
    }
    const bool bottom_present = pps && pps->bottom_field_pic_order_in_frame_present;
    if (sps.poc_type == 0) {
        s.pocLsb = rd.ReadBits(sps.log2_max_poc_lsb);
        if (!rd.Ok()) return failed();
        if (bottom_present && !s.fieldPic) s.deltaPocBottom = rd.ReadSe();
    } else if (sps.poc_type == 1 && !sps.delta_pic_order_always_zero) {
        s.deltaPoc0 = rd.ReadSe();
        if (!rd.Ok()) return failed();
        if (bottom_present && !s.fieldPic) s.deltaPoc1 = rd.ReadSe();
    }
    if (!rd.Ok()) return failed();
    *slice = s;
    out->pictureNumber = static_cast<int32_t>(s.pocLsb);
    out->h264.spsId = pps ? pps->spsId : lastSps_;
    out->h264.frameNum = s.frameNum;
    out->h264.deltaPoc[0] = s.deltaPoc0;
    out->h264.deltaPoc[1] = s.deltaPoc1;
    out->h264.idr = s.idr;
    out->h264.reference = s.nalRefIdc != 0;
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
            w.sequenceStart = r.sequenceStart;
        } else {
            cursor.length = static_cast<int32_t>(end - q);
            cursor.pos = q;
        }
        return w;
    };
    while (cursor.length > 10) {
        // The next start code among the positions that leave 10 bytes behind them, with
        // the zero_byte of the 4-byte form when it is there (B.1.1).
        const uint8_t* last = cursor.pos + cursor.length - 11;
        const uint8_t* p = common::FindStartCode(cursor.pos, last + 4);
        const uint8_t* next = (p <= last + 1 && p > cursor.pos && p[-1] == 0) ? p - 1 : p;
        if (next > last) {
            const int32_t skip = static_cast<int32_t>(last + 1 - cursor.pos);
            cursor.pos += skip;
            cursor.length -= skip;
            break;
        }
        cursor.length -= static_cast<int32_t>(next - cursor.pos);
        cursor.pos = next;
        const uint8_t* q = cursor.pos;
        int sc = 0;
        if (q[0] == 0 && q[1] == 0) {
            if (q[2] == 1)
                sc = 3;
            else if (q[2] == 0 && q[3] == 1)
                sc = 4;
        }
        if (sc != 0 && (q[sc] & 0x80) == 0) {
            using common::NalUnitType;
            const uint8_t header = q[sc];
            const NalUnitType type = common::NalTypeOf(header);
            const uint8_t* payload = q + sc + 1;
            if (type == NalUnitType::kSlice || type == NalUnitType::kIdrSlice) {
                ScanState slice;
                uint32_t first_mb = 0, slice_type = 0;
                ScanResult found = r;
                const NalRead read = ReadSlice(payload, end, header, &found, &slice, &first_mb, &slice_type);
                if (read == NalRead::NeedMore) return wait_here(q);
                if (read == NalRead::Done) {
                    // 7.4.1.2.4: the first slice of a new primary picture differs from the
                    // previous slice in one of these.
                    const ScanState& p = state;
                    const bool new_picture = !p.haveSlice || lead != nullptr || first_mb == 0 ||
                                             p.frameNum != slice.frameNum || p.ppsId != slice.ppsId ||
                                             p.fieldPic != slice.fieldPic || p.bottomField != slice.bottomField ||
                                             (p.nalRefIdc == 0) != (slice.nalRefIdc == 0) || p.pocLsb != slice.pocLsb ||
                                             p.deltaPocBottom != slice.deltaPocBottom ||
                                             p.deltaPoc0 != slice.deltaPoc0 || p.deltaPoc1 != slice.deltaPoc1 ||
                                             p.idr != slice.idr || (p.idr && slice.idr && p.idrPicId != slice.idrPicId);
                    slice.expectedSync = state.expectedSync;
                    state = slice;
                    if (new_picture) {
                        r = found;
                        // An intra picture with every slice intra opens a group.
                        if (slice_type == 7 && !r.sequenceStart) r.sequenceStart = true;
                        r.unitFound = true;
                        r.boundary = lead ? lead : q;
                        // Past the whole start code: its last three bytes are one too.
                        cursor.pos += sc;
                        cursor.length -= sc;
                        return r;
                    }
                }
            } else if (type == NalUnitType::kSps || type == NalUnitType::kPps || type == NalUnitType::kSei ||
                       type == NalUnitType::kAccessUnitDelimiter ||
                       (type >= NalUnitType::kPrefixNal && static_cast<int>(type) <= 18)) {
                // 7.4.1.2.3: these open the next access unit when they follow a picture.
                NalRead read = NalRead::Done;
                if (type == NalUnitType::kSps) read = ReadSps(payload, end);
                if (type == NalUnitType::kPps) read = ReadPps(payload, end);
                if (type == NalUnitType::kSei) read = ReadSei(payload, end, &r.fields, &r.firstField);
                if (read == NalRead::NeedMore) return wait_here(q);
                if (type == NalUnitType::kSps) r.sequenceStart = true;
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
    const Sps& sps = SpsFor(found.h264.spsId);
    if (sps.poc_type == 0)
        return UnwrapPoc(static_cast<uint32_t>(found.pictureNumber), found.h264.reference, found.h264.idr);
    // 8.2.1.2 and 8.2.1.3, frames: the order count from frame_num and its offset.
    const int64_t max_frame_num = int64_t{1} << sps.log2_max_frame_num;
    const uint32_t frameNum = found.h264.frameNum;
    int64_t offset = 0;
    if (!found.h264.idr)
        offset = prevFrameNum_ > frameNum ? Add(prevFrameNumOffset_, max_frame_num) : prevFrameNumOffset_;
    prevFrameNum_ = frameNum;
    prevFrameNumOffset_ = offset;
    int64_t poc = 0;
    if (sps.poc_type == 2) {
        if (!found.h264.idr) poc = Sub(Mul(2, Add(offset, frameNum)), found.h264.reference ? 0 : 1);
    } else {
        int64_t abs_frame_num = sps.num_ref_frames_in_poc_cycle != 0 ? Add(offset, frameNum) : 0;
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
        const int64_t top = Add(expected, found.h264.deltaPoc[0]);
        const int64_t bottom = Add(Add(top, sps.offset_for_top_to_bottom_field), found.h264.deltaPoc[1]);
        poc = std::min(top, bottom);
    }
    // Order counts of frames step by 2 (a non-reference frame's is one less): halved up.
    return static_cast<int32_t>(Add(poc, 1) >> 1);
}

}  // namespace muxer
