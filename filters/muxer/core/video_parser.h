// The video members of the parser family: MPEG-1/2 video (ISO/IEC 11172-2, 13818-2) and
// H.264 byte streams (ITU-T H.264 Annex B). Units are cut at picture starts, with a
// preceding sequence, group or parameter-set header kept at the front of the picture that
// follows; pictures are timed from the samples' stamps, the announced frame duration and
// the pictures' display numbers.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "filters/muxer/core/elementary_parser.h"

namespace muxer {

// "Announced frame rate" code of an AvgTimePerFrame (0 "Unknown").
int32_t AnnouncedFrameRateCode(int64_t avg_time_per_frame);
// "Real frame rate": whole frames per second in the high 16 bits, hundredths in the low.
uint32_t RealFrameRateValue(int64_t frame_duration);

class CVideoParser : public CElementaryParser {
public:
    using CElementaryParser::CElementaryParser;
    void Reset() override;

    int64_t AnnouncedDuration() const { return announced_; }
    int64_t EstimatedDuration() const { return estimated_; }

protected:
    // The display number of the picture a scan found (H.264 unwraps it).
    virtual int32_t PictureNumber(const ScanResult& found) { return found.pictureNumber; }
    // How many pictures of a new group are shown before the one numbered n that opens it:
    // MPEG video counts temporal references from each group start (ISO/IEC 13818-2 6.3.9).
    virtual int32_t GroupLead(int32_t n) const { return n > 0 ? n : 0; }
    void StartTiming(const ScanResult& found) override;
    void NextTiming(MediaBuffer& unit) override;
    // Sets found->fields from headers the scan does not read (MPEG-2 picture extensions).
    virtual void ReadPictureFields(const MediaBuffer& /*unit*/, ScanResult* /*found*/) {}
    // The length of one field as num / den 100-ns units, when pictures say how many fields
    // they are shown for; false otherwise.
    virtual bool FieldClock(int64_t* /*num*/, int64_t* /*den*/) const { return false; }
    // Keeps the fields of the group's picture numbered n and the parity of its first
    // field (0 unknown, 1 top, 2 bottom).
    void NoteFields(int32_t n, int32_t fields, int32_t parity);
    // The display time of picture n after the group's first, from the fields of the
    // pictures shown between them; false without a field clock or its fields.
    bool FieldOffset(int32_t n, int64_t* offset) const;
    // How long the current group's picture numbered n is shown: its fields, or the announced
    // frame duration when they are not known.
    int64_t ShownTime(int32_t n) const;
    // The parity of the field after the current group's picture n, 0 when not known.
    int32_t LastParity(int32_t n) const;

    int64_t tmax_ = 0;       // time of the highest-numbered picture since the group start
    int32_t nmax_ = 0;       // that picture's number
    uint32_t index_ = 0;     // pictures timed so far, the first counting 1
    int64_t reorder_ = 0;    // how far the first picture's PTS was moved forward
    int32_t n0_ = 0;         // number of the picture that opened the current group
    uint32_t group_ = 0;     // picture index at the latest group start
    int64_t announced_ = 0;  // AvgTimePerFrame of the media type
    int64_t estimated_ = 0;  // smoothed measured frame duration
    // Fields (low 4 bits) and first field's parity (next 2) of the current group's pictures
    // by display number from n0_ (0: not seen), up to kGroupFields of them.
    static constexpr size_t kGroupFields = 4096;
    std::vector<uint8_t> groupFields_;
    // Fields and pictures counted since the start (the mean for pictures not seen yet),
    // and the parity of the group's first field (0 unknown, 1 top, 2 bottom).
    int64_t streamFields_ = 0;
    int64_t streamPictures_ = 0;
    bool repeatsFields_ = false;  // a picture was shown for an odd number of fields
    int32_t groupParity_ = 0;
};

class CMpegVideoParser final : public CVideoParser {
public:
    CMpegVideoParser(ParserStream& stream, bool mpeg1) : CVideoParser(stream), mpeg1_(mpeg1) {}

protected:
    ScanResult Scan(ScanCursor& cursor, ScanState& state) override;
    void ReadHeader(const ScanResult& found, int32_t remaining) override;
    void ReadPictureFields(const MediaBuffer& unit, ScanResult* found) override;
    bool FieldClock(int64_t* num, int64_t* den) const override;

private:
    const bool mpeg1_;
    // Of the latest sequence header and extension: frames per second as num / den, and
    // progressive_sequence (ISO/IEC 13818-2 6.3.5), which sets what repeat_first_field means.
    uint32_t frameRateNum_ = 0;
    uint32_t frameRateDen_ = 0;
    bool progressiveSequence_ = false;
};

// The MPEG video media type built from a sequence header (the 12 bytes from its start
// code); false when the bytes are not a sequence header.
bool BuildMpegVideoMediaType(const uint8_t* header, int32_t size, bool mpeg1, StreamMediaType* type);

class CH264Parser final : public CVideoParser {
public:
    explicit CH264Parser(ParserStream& stream) : CVideoParser(stream) {}
    void Reset() override;

    // pic_order_cnt_lsb to picture number, across wraps of the lsb (clause 8.2.1.1: from
    // the previous reference picture; an IDR picture starts again at 0).
    int32_t UnwrapPoc(uint32_t lsb, bool reference, bool idr);
    uint8_t Log2MaxFrameNum() const { return log2MaxFrameNum_; }
    uint8_t Log2MaxPocLsb() const { return log2MaxPocLsb_; }

    // What the slice header reader needs of a sequence parameter set (7.3.2.1.1).
    struct Sps {
        bool valid = false;
        uint8_t log2_max_frame_num = 4;
        uint8_t poc_type = 0;
        uint8_t log2_max_poc_lsb = 4;
        bool delta_pic_order_always_zero = false;
        int32_t offset_for_non_ref_pic = 0;
        int32_t offset_for_top_to_bottom_field = 0;
        uint8_t num_ref_frames_in_poc_cycle = 0;
        std::array<int32_t, 255> offset_for_ref_frame{};
        bool frame_mbs_only = true;
        bool separate_colour_plane = false;
        // What a picture timing message needs (Annex D.1.2, E.1.1): the delay fields'
        // lengths when an HRD is present, pic_struct_present_flag, and the clock tick.
        bool hrd_delays = false;
        uint8_t cpb_removal_delay_length = 0;
        uint8_t dpb_output_delay_length = 0;
        bool pic_struct_present = false;
        uint32_t num_units_in_tick = 0;
        uint32_t time_scale = 0;
    };
    // What it needs of a picture parameter set (7.3.2.2).
    struct Pps {
        bool valid = false;
        uint8_t spsId = 0;
        bool bottom_field_pic_order_in_frame_present = false;
    };

protected:
    ScanResult Scan(ScanCursor& cursor, ScanState& state) override;
    int32_t PictureNumber(const ScanResult& found) override;
    // Picture order counts restart at an IDR picture and run on across other intra
    // pictures: those of an open group's leading pictures lie between the latest shown and
    // the intra picture's own (ITU-T H.264 8.2.1).
    int32_t GroupLead(int32_t n) const override { return n > nmax_ + 1 ? n - nmax_ - 1 : 0; }
    bool FieldClock(int64_t* num, int64_t* den) const override;

private:
    enum class NalRead { Done, Skip, NeedMore };
    NalRead ReadSps(const uint8_t* payload, const uint8_t* end);
    NalRead ReadPps(const uint8_t* payload, const uint8_t* end);
    // The fields of the next picture and its first field's parity from a picture timing
    // message in an SEI NAL unit.
    NalRead ReadSei(const uint8_t* payload, const uint8_t* end, int32_t* fields, int32_t* firstField);
    NalRead ReadSlice(const uint8_t* payload, const uint8_t* end, uint8_t header, ScanResult* out, ScanState* slice,
                      uint32_t* first_mb, uint32_t* slice_type);
    const Sps& SpsFor(int32_t spsId) const;

    // Of the latest sequence parameter set (used when a slice names an unknown set).
    uint8_t log2MaxFrameNum_ = 4;
    uint8_t log2MaxPocLsb_ = 4;
    uint32_t lsbMask_ = 15;
    int32_t lastSps_ = -1;
    // pic_order_cnt_lsb unwrapping.
    uint32_t prevLsb_ = 0;
    int64_t prevMsb_ = 0;
    // pic_order_cnt_type 1 and 2: the frame-number offset of the previous picture.
    uint32_t prevFrameNum_ = 0;
    int64_t prevFrameNumOffset_ = 0;

    std::array<Sps, 32> sps_{};
    std::array<Pps, 256> pps_{};
};

}  // namespace muxer
