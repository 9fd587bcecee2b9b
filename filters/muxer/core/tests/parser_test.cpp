// Frame headers, unit boundaries and timing of the elementary-stream parsers and the
// assembler, on small streams built here.
#include <cstring>

#include <gtest/gtest.h>

#include "filters/muxer/core/tests/test_stream.h"
#include "tests/support/nal_builder.h"
#include "filters/muxer/core/video_parser.h"

using muxer::OwnValue;
using muxer::PtsSource;
using muxer::StreamMediaType;
using muxer::StreamType;
using muxertest::TestStream;
using muxertest::Unit;

namespace {

using Bytes = std::vector<uint8_t>;

void Append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// One MPEG audio frame: its header, then silence up to the frame's length.
Bytes MpegAudioFrame(uint8_t h1, uint8_t h2, uint8_t h3) {
    Bytes f = {0xFF, h1, h2, h3};
    common::MpegAudioFrameHeader info;
    EXPECT_TRUE(common::ReadMpegAudioHeader(f, &info));
    f.resize(static_cast<size_t>(info.frameBytes), 0);
    return f;
}

// An MPEG-2 video sequence header (ISO/IEC 13818-2 6.2.2.1) for 720x576, the given
// frame_rate_code, 8000 kbit/s.
Bytes SequenceHeader(int rate_code) {
    const uint32_t rate = 8000000 / 400;
    return {0,
            0,
            1,
            0xB3,
            0x2D,
            0x02,
            0x40,
            static_cast<uint8_t>(0x30 | rate_code),
            static_cast<uint8_t>(rate >> 10),
            static_cast<uint8_t>(rate >> 2),
            static_cast<uint8_t>(((rate & 3) << 6) | 0x20),
            0x00};
}
Bytes GroupHeader() {
    return {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x00};
}
// A picture header with its temporal reference and coding type, and `payload` zero bytes.
Bytes Picture(int temporal_reference, int coding_type, size_t payload = 40) {
    Bytes p = {0,
               0,
               1,
               0x00,
               static_cast<uint8_t>(temporal_reference >> 2),
               static_cast<uint8_t>(((temporal_reference & 3) << 6) | (coding_type << 3)),
               0xFF,
               0xF8};
    p.resize(p.size() + payload, 0x11);
    return p;
}

StreamMediaType VideoType(int64_t avg_time_per_frame) {
    StreamMediaType t;
    t.major = muxer::MajorType::Video;
    t.format = muxer::FormatType::VideoInfo;
    t.video.AvgTimePerFrame = avg_time_per_frame;
    t.video.dwBitRate = 5000000;
    return t;
}

void FeedAll(TestStream& s, const Bytes& b, std::optional<int64_t> pts = std::nullopt) {
    s.Feed(b.data(), static_cast<int32_t>(b.size()), pts);
}

}  // namespace

// ---- Audio frame headers --------------------------------------------------------------

TEST(MpegAudioHeader, MediaTypeFromTheHeader) {
    struct Case {
        uint8_t h1, h2, h3;
        uint32_t frame_length, bytes_per_second, samples_per_second;
        uint16_t layer, channels, flags;
    } cases[] = {
        // MPEG-1 Layer II, 192 kbit/s, 48 kHz, stereo, no CRC.
        {0xFD, 0xA4, 0x00, 576, 24000, 48000, 2, 2, 0x18},
        // MPEG-1 Layer I, 384 kbit/s, 48 kHz: 4 x 96.
        {0xFF, 0xC4, 0x00, 384, 48000, 48000, 1, 2, 0x18},
        // MPEG-2 Layer III, 64 kbit/s, 24 kHz, mono, CRC: 72 x 64000 / 24000.
        {0xF2, 0x84, 0xC0, 192, 8000, 24000, 4, 1, 0x10},
        // MPEG-2.5 Layer III, 8 kbit/s, 8 kHz.
        {0xE3, 0x18, 0x00, 72, 1000, 8000, 4, 2, 0x18},
        // MPEG-1 Layer III 128 kbit/s 44.1 kHz, copyright bit (h3 bit 3).
        {0xFB, 0x90, 0x08, 417, 16000, 44100, 4, 2, 0x1A},
        // ... original (h3 bit 2) and private (h2 bit 0).
        {0xFB, 0x91, 0x04, 417, 16000, 44100, 4, 2, 0x1D},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.h1) << " " << int(c.h2) << " " << int(c.h3));
        const uint8_t h[4] = {0xFF, c.h1, c.h2, c.h3};
        StreamMediaType t;
        uint32_t length = 0;
        ASSERT_TRUE(muxer::BuildMpegAudioMediaType(h, &t, &length));
        EXPECT_EQ(length, c.frame_length);
        EXPECT_EQ(t.wave.nBlockAlign, c.frame_length);
        EXPECT_EQ(t.wave.nAvgBytesPerSec, c.bytes_per_second);
        EXPECT_EQ(t.wave.nSamplesPerSec, c.samples_per_second);
        EXPECT_EQ(t.wave.fwHeadLayer, c.layer);
        EXPECT_EQ(t.wave.nChannels, c.channels);
        EXPECT_EQ(t.wave.fwHeadFlags, c.flags);
        EXPECT_EQ(t.wave.wFormatTag, 0x50);
        EXPECT_EQ(t.wave.cbSize, 22);
        EXPECT_EQ(t.format, muxer::FormatType::WaveFormatEx);
    }
    // Reserved version, layer, bit-rate index 15, free format, reserved sampling index.
    for (const auto& h : std::vector<std::array<uint8_t, 4>>{{0xFF, 0xEB, 0xA4, 0},
                                                             {0xFF, 0xF9, 0xA4, 0},
                                                             {0xFF, 0xFD, 0xF4, 0},
                                                             {0xFF, 0xFD, 0x04, 0},
                                                             {0xFF, 0xFD, 0xAC, 0}}) {
        StreamMediaType t;
        uint32_t length = 7;
        EXPECT_FALSE(muxer::BuildMpegAudioMediaType(h.data(), &t, &length));
        EXPECT_EQ(length, 7u);
    }
}

TEST(AudioHeaders, FrameLengthsAndDurations) {
    struct Case {
        const char* what;
        Bytes header;
        common::AudioFormat format;
        int32_t bytes, samples, rate;  // bytes 0: refused
    } cases[] = {
        {"AC-3 48 kHz 192 kbit/s", {0x0B, 0x77, 0, 0, 0x14, 0x40, 0, 0}, common::AudioFormat::Ac3, 768, 1536, 48000},
        {"AC-3 44.1 kHz 32 kbit/s", {0x0B, 0x77, 0, 0, 0x40, 0x40, 0, 0}, common::AudioFormat::Ac3, 138, 1536, 44100},
        {"AC-3 44.1 kHz 32 kbit/s odd",
         {0x0B, 0x77, 0, 0, 0x41, 0x40, 0, 0},
         common::AudioFormat::Ac3,
         140,
         1536,
         44100},
        {"AC-3 32 kHz 640 kbit/s", {0x0B, 0x77, 0, 0, 0xA4, 0x40, 0, 0}, common::AudioFormat::Ac3, 3840, 1536, 32000},
        {"AC-3 reserved fscod", {0x0B, 0x77, 0, 0, 0xC0, 0x40, 0, 0}, common::AudioFormat::Ac3, 0, 0, 0},
        {"AC-3 frmsizecod 38", {0x0B, 0x77, 0, 0, 0x26, 0x40, 0, 0}, common::AudioFormat::Ac3, 0, 0, 0},
        {"E-AC-3 bsid 16", {0x0B, 0x77, 0, 0, 0x14, 0x80, 0, 0}, common::AudioFormat::Ac3, 0, 0, 0},
        {"ADTS 48 kHz 371 bytes",
         {0xFF, 0xF1, 0x4C, 0x80, 0x2E, 0x7F, 0xFC},
         common::AudioFormat::Adts,
         371,
         1024,
         48000},
        {"ADTS two raw blocks, CRC",
         {0xFF, 0xF0, 0x4C, 0x80, 0x2E, 0x7F, 0xFD},
         common::AudioFormat::Adts,
         371,
         2048,
         48000},
        {"ADTS sampling index 13", {0xFF, 0xF1, 0x74, 0x80, 0x2E, 0x7F, 0xFC}, common::AudioFormat::Adts, 0, 0, 0},
        {"ADTS length inside its header",
         {0xFF, 0xF1, 0x4C, 0x80, 0x00, 0xFF, 0xFC},
         common::AudioFormat::Adts,
         0,
         0,
         0},
        {"MPEG-2 Layer III 24 kHz", {0xFF, 0xF3, 0x86, 0x00}, common::AudioFormat::Mpeg, 193, 576, 24000},
        {"MPEG-1 Layer I padded", {0xFF, 0xFF, 0xC6, 0x00}, common::AudioFormat::Mpeg, 388, 384, 48000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        common::AudioFrameFacts info;
        const bool ok = common::ReadAudioFrameFacts(c.format, c.header, &info);
        EXPECT_EQ(ok, c.bytes != 0);
        if (!ok) continue;
        EXPECT_EQ(info.frameBytes, c.bytes);
        EXPECT_EQ(info.samples, c.samples);
        EXPECT_EQ(info.sampleRate, c.rate);
    }
}

// ---- Audio timing ---------------------------------------------------------------------

TEST(AudioTiming, PlacementByBitRateStampsAndHeaders) {
    const Bytes l2 = MpegAudioFrame(0xFD, 0xA4, 0x00);  // 576 bytes, 24 ms
    struct Case {
        const char* what;
        PtsSource source;
        int32_t shift_ms;
        std::vector<std::optional<int64_t>> stamps;  // one sample per frame
        std::vector<int64_t> pts;
        std::vector<std::optional<int64_t>> durations;
    } cases[] = {
        {"no stamps after the first: by bit rate",
         PtsSource::TimeStampBased,
         0,
         {1000, {}, {}, {}},
         {1000, 241000, 481000, 721000},
         {240000, 240000, 240000, std::nullopt}},
        {"own stamps win",
         PtsSource::TimeStampBased,
         0,
         {0, 250000, {}, 700000},
         {0, 250000, 490000, 700000},
         {250000, 240000, 210000, std::nullopt}},
        {"bit rate based ignores stamps",
         PtsSource::BitRateBased,
         0,
         {0, 999999, 5, 123},
         {0, 240000, 480000, 720000},
         {240000, 240000, 240000, std::nullopt}},
        {"a first unit without a stamp starts at the shift",
         PtsSource::TimeStampBased,
         500,
         {{}, {}, {}},
         {5000000, 5240000, 5480000},
         {240000, 240000, std::nullopt}},
        {"the shift moves stamped units too",
         PtsSource::FrameRateBased,
         10,
         {0, 240000, 480000},
         {100000, 340000, 580000},
         {240000, 240000, std::nullopt}},
        {"a repeated stamp makes no duration",
         PtsSource::TimeStampBased,
         0,
         {0, 0, 240000},
         {0, 0, 240000},
         {std::nullopt, 240000, std::nullopt}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestStream s(StreamType::Mpeg1Audio);
        s.source = c.source;
        s.shift_ms = c.shift_ms;
        for (const auto& stamp : c.stamps)
            FeedAll(s, l2, stamp);
        s.Finish();
        ASSERT_EQ(s.units.size(), c.pts.size());
        for (size_t i = 0; i < s.units.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(s.units[i].bytes, l2);
            EXPECT_EQ(s.units[i].pts, c.pts[i]);
            EXPECT_EQ(s.units[i].duration, c.durations[i]);
            if (i + 1 < s.units.size()) {
                EXPECT_EQ(s.units[i].dts, s.units[i].pts);
            }
        }
        EXPECT_EQ(s.parser->FrameLength(), 576u);
        EXPECT_EQ(s.parser->BitRate(), 192000u);
        EXPECT_EQ(s.values[OwnValue::Bitrate], 192000);
        EXPECT_EQ(s.media.wave.nAvgBytesPerSec, 24000u);
    }
}

// The first frame of a VBR MP3 is the encoder's Xing, Info or VBRI table in the shape of a
// frame, with no audio: it is dropped, and the first audio frame starts at its time.
TEST(AudioTiming, AnEncodersTableFrameFirstIsDroppedAndTheAudioStartsOnTime) {
    struct Case {
        const char* what;
        uint8_t h1, h2, h3;  // Layer III header bytes after 0xFF
        size_t tagAt;        // 0: no tag
        const char* tag;
        size_t expectedUnits;
    } cases[] = {
        {"MPEG-1 joint stereo, Xing", 0xFB, 0x90, 0x44, 4 + 32, "Xing", 3},
        {"MPEG-1 mono, Info", 0xFB, 0x90, 0xC4, 4 + 17, "Info", 3},
        {"MPEG-2 stereo with CRC, Xing", 0xF2, 0x90, 0x44, 4 + 2 + 17, "Xing", 3},
        {"VBRI", 0xFB, 0x90, 0x44, 36, "VBRI", 3},
        {"no tag: every frame is audio", 0xFB, 0x90, 0x44, 0, "", 4},
        {"a tag elsewhere is audio data", 0xFB, 0x90, 0x44, 50, "Xing", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes audio = MpegAudioFrame(c.h1, c.h2, c.h3);
        Bytes first = audio;
        if (c.tagAt) std::memcpy(&first[c.tagAt], c.tag, 4);
        TestStream s(StreamType::Mpeg1Audio);
        FeedAll(s, first, 5000);
        for (int i = 0; i < 3; ++i)
            FeedAll(s, audio);
        s.Finish();
        ASSERT_EQ(s.units.size(), c.expectedUnits);
        EXPECT_EQ(s.units[0].bytes, c.expectedUnits == 3 ? audio : first);
        EXPECT_EQ(s.units[0].pts, 5000);
    }
}

TEST(AudioTiming, WithoutABitRateTheFrameHeaderGivesTheDuration) {
    // AC-3, 48 kHz, 192 kbit/s: 768 bytes, 1536 samples = 320000.
    Bytes frame = {0x0B, 0x77, 0, 0, 0x14, 0x40};
    frame.resize(768, 0);
    TestStream s(StreamType::Ac3);
    Bytes stream;
    for (int i = 0; i < 4; ++i)
        Append(stream, frame);
    FeedAll(s, stream, 0);
    s.Finish();
    ASSERT_EQ(s.units.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(s.units[i].pts, static_cast<int64_t>(i) * 320000);
    EXPECT_EQ(s.units[0].duration, 320000);
    EXPECT_EQ(s.parser->BitRate(), 0u);
}

// ---- Video timing ---------------------------------------------------------------------

TEST(VideoTiming, AnnouncedFrameRateCodes) {
    const std::pair<int64_t, int32_t> cases[] = {
        {166666, 8}, {166833, 7}, {200000, 6}, {333333, 5}, {333667, 4}, {400000, 3},
        {416666, 2}, {417188, 1}, {417083, 1}, {0, 0},      {400001, 0},
    };
    for (const auto& [d, code] : cases) {
        TestStream s(StreamType::Mpeg2Video, VideoType(d));
        EXPECT_EQ(s.values[OwnValue::AnnouncedFrameRate], code) << d;
        EXPECT_EQ(s.values[OwnValue::Bitrate], 5000000);
    }
    EXPECT_EQ(muxer::RealFrameRateValue(400000), 25u << 16);
    EXPECT_EQ(muxer::RealFrameRateValue(333667), (29u << 16) | 97u);
}

TEST(VideoTiming, MeasuredRateAndStampedPictures) {
    TestStream s(StreamType::Mpeg2Video, VideoType(400000));
    for (int i = 0; i < 5; ++i) {
        Bytes pic = Picture(i, i == 0 ? 1 : 2);
        FeedAll(s, pic, i * 400000);
    }
    FeedAll(s, Picture(5, 2));  // its start ends the fifth picture
    s.Finish();
    ASSERT_EQ(s.units.size(), 6u);
    EXPECT_EQ(s.values[OwnValue::AnnouncedFrameRate], 3);
    EXPECT_EQ(s.values[OwnValue::RealFrameRate], 25 << 16);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(s.units[i].pts, static_cast<int64_t>(i) * 400000);
        EXPECT_EQ(s.units[i].dts, s.units[i].pts) << "no reordering: decoded when shown";
        EXPECT_EQ(s.units[i].duration, 400000);
    }
}

TEST(VideoTiming, FirstPictureShownLaterThanDecoded) {
    struct Case {
        PtsSource source;
        int64_t pts, dts;
    } cases[] = {{PtsSource::TimeStampBased, 800000, 800000}, {PtsSource::FrameRateBased, 800000, 0}};
    for (const Case& c : cases) {
        TestStream s(StreamType::Mpeg2Video, VideoType(400000));
        s.source = c.source;
        Bytes stream = Picture(2, 1);
        Append(stream, Picture(0, 3));
        Append(stream, Picture(1, 3));
        FeedAll(s, stream, 0);
        s.Finish();
        ASSERT_EQ(s.units.size(), 3u);
        EXPECT_EQ(s.units[0].pts, c.pts);
        EXPECT_EQ(s.units[0].dts, c.dts);
    }
}

TEST(MpegVideo, SequenceHeaderTravelsWithThePictureAndSetsTheMediaType) {
    TestStream s(StreamType::Mpeg1Video);
    Bytes stream = SequenceHeader(3);
    Append(stream, GroupHeader());
    Append(stream, Picture(0, 1));
    const size_t first = stream.size();
    Append(stream, Picture(1, 2));
    const size_t second = stream.size();
    Append(stream, SequenceHeader(3));
    Append(stream, Picture(0, 1));
    FeedAll(s, stream, 0);
    s.Finish();
    ASSERT_EQ(s.units.size(), 3u);
    EXPECT_EQ(s.units[0].bytes, Bytes(stream.begin(), stream.begin() + first));
    EXPECT_EQ(s.units[1].bytes, Bytes(stream.begin() + first, stream.begin() + second));
    EXPECT_EQ(s.units[2].bytes, Bytes(stream.begin() + second, stream.end()));
    EXPECT_EQ(s.media.subtype, muxer::Subtype::Mpeg1Video);
    EXPECT_EQ(s.media.format, muxer::FormatType::MpegVideo);
    EXPECT_EQ(s.media.video.biSize, 40u);
    EXPECT_EQ(s.media.video.biWidth, 720);
    EXPECT_EQ(s.media.video.biHeight, 576);
    EXPECT_EQ(s.media.video.AvgTimePerFrame, 400000);
    EXPECT_EQ(s.media.video.dwBitRate, 8000000u);
    EXPECT_EQ(s.values[OwnValue::AnnouncedFrameRate], 3);
    // The next group starts after every picture shown so far.
    EXPECT_EQ(s.units[2].pts, 800000);
}

TEST(MpegVideo, PictureCodingTypeZeroIsNoPictureStart) {
    TestStream s(StreamType::Mpeg2Video, VideoType(400000));
    Bytes stream = Picture(0, 1);
    const size_t keep = stream.size();
    Append(stream, Picture(1, 0));  // forbidden coding type: part of the first unit
    const size_t first = stream.size();
    Append(stream, Picture(2, 2));
    Append(stream, Picture(3, 2));
    FeedAll(s, stream, 0);
    s.Finish();
    ASSERT_EQ(s.units.size(), 3u);
    EXPECT_EQ(s.units[0].bytes.size(), first);
    EXPECT_GT(first, keep);
}

// ---- H.264 ----------------------------------------------------------------------------

namespace {

using testsupport::AnnexBNal;
using testsupport::NalBuilder;

// High-profile SPS with a scaling list, pic_order_cnt_type 0, log2 values 4 and 6.
Bytes Sps(uint32_t log2_lsb_minus4 = 2) {
    NalBuilder w;
    w.U(8, 100);
    w.U(8, 0);
    w.U(8, 40);
    w.Ue(0);  // seq_parameter_set_id
    w.Ue(1);  // chroma_format_idc
    w.Ue(0);  // bit depths
    w.Ue(0);
    w.U(1, 0);  // qpprime
    w.U(1, 1);  // seq_scaling_matrix_present_flag
    w.U(1, 1);  // list 0 present: 16 deltas
    for (int j = 0; j < 16; ++j)
        w.Se(j == 0 ? 8 : 0);
    for (int i = 1; i < 8; ++i)
        w.U(1, 0);
    w.Ue(0);  // log2_max_frame_num_minus4
    w.Ue(0);  // pic_order_cnt_type
    w.Ue(log2_lsb_minus4);
    w.Ue(4);  // max_num_ref_frames
    w.U(1, 0);
    w.Ue(10);
    w.Ue(8);
    w.U(1, 1);  // frame_mbs_only_flag
    w.U(1, 1);  // direct_8x8_inference
    w.U(1, 0);  // frame_cropping
    w.U(1, 0);  // vui
    return AnnexBNal(0x67, w.Rbsp());
}

Bytes Pps() {
    NalBuilder w;
    w.Ue(0);
    w.Ue(0);
    w.U(1, 1);  // CABAC
    w.U(1, 0);  // bottom_field_pic_order_in_frame_present_flag
    w.Ue(0);
    return AnnexBNal(0x68, w.Rbsp());
}

Bytes Slice(uint8_t header, uint32_t first_mb, uint32_t slice_type, uint32_t frame_num, uint32_t lsb, int lsb_bits = 6,
            bool four_byte = true) {
    NalBuilder w;
    w.Ue(first_mb);
    w.Ue(slice_type);
    w.Ue(0);
    w.U(4, frame_num);
    if ((header & 0x1F) == 5) w.Ue(0);
    w.U(lsb_bits, lsb);
    for (int i = 0; i < 20; ++i)
        w.U(10, 0x2A5);  // slice data stand-in
    return AnnexBNal(header, w.Rbsp(), four_byte);
}

}  // namespace

TEST(H264, AccessUnitsOfStandardByteStreams) {
    // Parameter sets before the IDR picture, a two-slice picture, three-byte start codes,
    // nal_ref_idc 3 and 2, an access unit delimiter and SEI before the third picture.
    Bytes stream;
    Append(stream, Sps());
    Append(stream, Pps());
    Append(stream, Slice(0x65, 0, 7, 0, 0));
    const size_t first = stream.size();
    Append(stream, Slice(0x61, 0, 5, 1, 4, 6, false));
    Append(stream, Slice(0x61, 30, 5, 1, 4, 6, false));
    const size_t second = stream.size();
    Append(stream, AnnexBNal(0x09, {0xF0}));
    Append(stream, AnnexBNal(0x06, {0x05, 0x01, 0xAA, 0x80}));
    Append(stream, Slice(0x41, 0, 5, 2, 8));
    const size_t third = stream.size();
    Append(stream, Slice(0x01, 0, 6, 3, 6, 6, false));
    for (const int32_t piece : {7, 1000}) {
        SCOPED_TRACE(piece);
        TestStream s(StreamType::H264Video, VideoType(400000));
        for (size_t at = 0; at < stream.size(); at += piece)
            s.Feed(stream.data() + at, static_cast<int32_t>(std::min<size_t>(piece, stream.size() - at)),
                   at == 0 ? std::optional<int64_t>(0) : std::nullopt);
        s.Finish();
        ASSERT_EQ(s.units.size(), 4u);
        EXPECT_EQ(s.units[0].bytes, Bytes(stream.begin(), stream.begin() + first)) << "begins at the SPS";
        EXPECT_EQ(s.units[1].bytes, Bytes(stream.begin() + first, stream.begin() + second)) << "both slices";
        EXPECT_EQ(s.units[2].bytes, Bytes(stream.begin() + second, stream.begin() + third)) << "AUD and SEI lead";
        // Picture numbers lsb / 2: 0, 2, 4, 3.
        EXPECT_EQ(s.units[0].pts, 0);
        EXPECT_EQ(s.units[1].pts, 800000);
        EXPECT_EQ(s.units[2].pts, 1600000);
        EXPECT_EQ(s.units[3].pts, 1200000);
        auto* h264 = static_cast<muxer::CH264Parser*>(s.parser.get());
        EXPECT_EQ(h264->Log2MaxFrameNum(), 4);
        EXPECT_EQ(h264->Log2MaxPocLsb(), 6);
    }
}

TEST(H264, HeaderFieldsAcrossEmulationPreventionAndCutData) {
    // An IDR picture, then non-reference pictures with frame_num 0: their 16-bit frame_num
    // and small 16-bit pic_order_cnt_lsb make a run of zero bytes that carries emulation
    // prevention; fed in small pieces, the headers are also cut by the end of the stored
    // bytes and must wait for the rest.
    NalBuilder w;
    w.U(8, 66);
    w.U(8, 0);
    w.U(8, 30);
    w.Ue(0);
    w.Ue(12);  // log2_max_frame_num_minus4: 16 bits
    w.Ue(0);   // pic_order_cnt_type 0
    w.Ue(12);  // log2_max_pic_order_cnt_lsb_minus4: 16 bits
    w.Ue(1);
    w.U(1, 0);
    w.Ue(10);
    w.Ue(8);
    w.U(1, 1);
    w.U(1, 1);
    w.U(1, 0);
    w.U(1, 0);
    Bytes stream = AnnexBNal(0x67, w.Rbsp());
    Append(stream, Pps());
    const size_t headers = stream.size();
    for (uint32_t i = 0; i < 6; ++i) {
        NalBuilder b;
        // A long first_mb_in_slice after the IDR picture: headers longer than the bytes
        // the scan is sure to have behind a start code.
        b.Ue(i == 0 ? 0 : 1000);
        b.Ue(i == 0 ? 7 : 5);
        b.Ue(0);
        b.U(16, 0);  // frame_num
        if (i == 0) b.Ue(0);
        b.U(16, 2 * i);  // pic_order_cnt_lsb: picture number i
        for (int k = 0; k < 20; ++k)
            b.U(10, 0x2A5);
        Append(stream, AnnexBNal(i == 0 ? 0x65 : 0x01, b.Rbsp()));
    }
    const Bytes escape = {0, 0, 3};
    ASSERT_NE(std::search(stream.begin() + headers, stream.end(), escape.begin(), escape.end()), stream.end());
    for (const size_t piece : {size_t{1}, size_t{7}, stream.size()}) {
        SCOPED_TRACE(piece);
        TestStream s(StreamType::H264Video, VideoType(400000));
        for (size_t at = 0; at < stream.size(); at += piece)
            s.Feed(stream.data() + at, static_cast<int32_t>(std::min(piece, stream.size() - at)),
                   at == 0 ? std::optional<int64_t>(0) : std::nullopt);
        s.Finish();
        ASSERT_EQ(s.units.size(), 6u);
        for (size_t i = 0; i < s.units.size(); ++i)
            EXPECT_EQ(s.units[i].pts, static_cast<int64_t>(i) * 400000) << i;
        auto* h264 = static_cast<muxer::CH264Parser*>(s.parser.get());
        EXPECT_EQ(h264->Log2MaxFrameNum(), 16);
        EXPECT_EQ(h264->Log2MaxPocLsb(), 16);
    }
}

TEST(H264, PictureOrderLsbUnwrapping) {
    muxertest::TestStream s(StreamType::H264Video, VideoType(400000));
    auto* h264 = static_cast<muxer::CH264Parser*>(s.parser.get());
    // Before any SPS: log2 MaxPicOrderCntLsb 4, MaxPicOrderCntLsb 16. Numbers are POC / 2,
    // the most significant part following the previous reference picture (8.2.1.1).
    struct Step {
        uint32_t lsb;
        bool reference;
        int32_t number;
    } steps[] = {
        {0, true, 0},    {4, true, 2},   {8, true, 4},  {12, true, 6},
        {2, true, 9},    // 12 -> 2 moved back by 10 >= 8: wrapped, 16 + 2
        {14, false, 7},  // a B picture shown before it: 16 + 14 - 16
        {6, true, 11},   // still from 2 on the new base (the B picture set nothing)
        {10, false, 13}, {14, true, 15}, {2, true, 17}, {0, true, 16},  // back by 2 only: the same base
    };
    for (const Step& st : steps)
        EXPECT_EQ(h264->UnwrapPoc(st.lsb, st.reference, false), st.number) << st.lsb;
    EXPECT_EQ(h264->UnwrapPoc(4, true, true), 2);  // an IDR picture starts again
}

TEST(H264, PicOrderCntType2NumbersFramesInDecodingOrder) {
    NalBuilder w;
    w.U(8, 66);
    w.U(8, 0);
    w.U(8, 30);
    w.Ue(0);
    w.Ue(0);  // log2_max_frame_num_minus4
    w.Ue(2);  // pic_order_cnt_type 2
    w.Ue(1);
    w.U(1, 0);
    w.Ue(10);
    w.Ue(8);
    w.U(1, 1);
    w.U(1, 1);
    w.U(1, 0);
    w.U(1, 0);
    Bytes stream = AnnexBNal(0x67, w.Rbsp());
    auto slice = [](uint8_t header, uint32_t frame_num, uint32_t type) {
        NalBuilder b;
        b.Ue(0);
        b.Ue(type);
        b.Ue(0);
        b.U(4, frame_num);
        if ((header & 0x1F) == 5) b.Ue(0);
        for (int i = 0; i < 20; ++i)
            b.U(10, 0x2A5);
        return AnnexBNal(header, b.Rbsp());
    };
    Append(stream, Pps());
    Append(stream, slice(0x65, 0, 7));
    // frame_num wraps at 16: the offset carries the count on.
    for (uint32_t i = 1; i < 20; ++i)
        Append(stream, slice(0x41, i % 16, 5));
    TestStream s(StreamType::H264Video, VideoType(400000));
    FeedAll(s, stream, 0);
    s.Finish();
    ASSERT_EQ(s.units.size(), 20u);
    for (size_t i = 0; i < s.units.size(); ++i)
        EXPECT_EQ(s.units[i].pts, static_cast<int64_t>(i) * 400000) << i;
}

// ---- Assembly -------------------------------------------------------------------------

TEST(Assembler, TimeStampsAndBoundaries) {
    const Bytes a = Picture(0, 1), b = Picture(1, 2), c = Picture(2, 2), d = Picture(3, 2);
    struct Case {
        const char* what;
        std::vector<std::pair<Bytes, std::optional<int64_t>>> samples;
        std::vector<Bytes> units;
        std::vector<std::optional<int64_t>> stamps;  // of the units, as stamped (D = 0)
    };
    const Bytes tail_of_earlier = {0x55, 0x66, 0x77, 0x00, 0x00};
    Bytes mid = tail_of_earlier;
    Append(mid, a);
    Bytes ab = a, bc = b;
    Append(ab, b);
    Append(bc, c);
    const Case cases[] = {
        {"a stream that starts mid-picture drops the bytes before the first boundary",
         {{mid, 500}, {b, 900}, {c, 1300}},
         {a, b, c},
         {500, 900, 1300}},
        {"two boundaries in one sample: the second unit has no stamp of its own",
         {{ab, 100}, {c, 300}, {d, std::nullopt}},
         {a, b, c, d},
         {100, std::nullopt, 300, std::nullopt}},
        {"a stamp belongs to the first unit that begins in its sample",
         {{a, 100}, {bc, 200}, {d, 300}},
         {a, b, c, d},
         {100, 200, std::nullopt, 300}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestStream s(StreamType::Mpeg2Video, VideoType(400000));
        for (const auto& [bytes, pts] : c.samples)
            FeedAll(s, bytes, pts);
        s.Finish();
        ASSERT_EQ(s.units.size(), c.units.size());
        for (size_t i = 0; i < c.units.size(); ++i) {
            EXPECT_EQ(s.units[i].bytes, c.units[i]) << i;
            if (c.stamps[i]) {
                EXPECT_EQ(s.units[i].pts, c.stamps[i]) << i;
            } else {
                // Placed from the pictures before it, never with another sample's stamp.
                for (const auto& sample : c.samples)
                    EXPECT_NE(s.units[i].pts, sample.second) << i;
            }
        }
    }
}

TEST(Assembler, UnitsLongerThanABufferAreDroppedNotOverrun) {
    // 4 KiB buffers; a 10 KiB picture between two small ones cannot be cut.
    TestStream s(StreamType::Mpeg2Video, VideoType(400000), 4096);
    const Bytes small1 = Picture(0, 1, 100), huge = Picture(1, 2, 10000), small2 = Picture(2, 2, 100),
                small3 = Picture(3, 2, 100), small4 = Picture(4, 2, 100);
    Bytes stream = small1;
    for (const Bytes* p : {&huge, &small2, &small3, &small4})
        Append(stream, *p);
    for (size_t at = 0; at < stream.size(); at += 1500)
        s.Feed(stream.data() + at, static_cast<int32_t>(std::min<size_t>(1500, stream.size() - at)), at * 10);
    s.Finish();
    // The huge picture and the bytes around it that were dropped with it never appear as
    // units; every unit there is is one whole picture.
    ASSERT_GE(s.units.size(), 2u);
    for (const Unit& u : s.units) {
        const bool whole = u.bytes == small1 || u.bytes == small2 || u.bytes == small3 || u.bytes == small4;
        EXPECT_TRUE(whole) << u.bytes.size();
    }
    EXPECT_EQ(s.units.back().bytes, small4);
    // A sample larger than a buffer is stored in pieces, and later units are still found.
    TestStream t(StreamType::Mpeg2Video, VideoType(400000), 1024);
    Bytes pictures;
    for (int i = 0; i < 20; ++i)
        Append(pictures, Picture(i, i ? 2 : 1, 100));
    FeedAll(t, pictures, 0);
    t.Finish();
    EXPECT_EQ(t.units.size(), 20u);
}

TEST(Assembler, StoppedPoolDropsTheSampleAndKeepsTheScan) {
    TestStream s(StreamType::Mpeg2Video, VideoType(400000), 256, 512);
    const Bytes p0 = Picture(0, 1, 100), p1 = Picture(1, 2, 100), p2 = Picture(2, 2, 100);
    FeedAll(s, p0, 0);
    FeedAll(s, p1, 400000);  // unit 0 cut; the parser holds it, the pool has both buffers out
    EXPECT_EQ(s.pool.Outstanding(), 1);
    s.pool.Stop();
    FeedAll(s, p2, 800000);  // needs a fresh buffer: the stopped pool has none
    EXPECT_TRUE(s.units.empty());
    s.pool.Resume();
    s.Finish();
    ASSERT_EQ(s.units.size(), 2u);
    EXPECT_EQ(s.units[0].bytes, p0);
    EXPECT_EQ(s.units[1].bytes, p1);
}

TEST(Assembler, TypesWithoutAParserAreRefused) {
    for (const StreamType t :
         {StreamType::Mpeg4Video, StreamType::Mpeg4Audio, StreamType::Mpeg4System, StreamType::Mpeg2Program}) {
        EXPECT_FALSE(muxer::HasParser(t));
        TestStream s(t);
        EXPECT_EQ(s.parser, nullptr);
        const Bytes p = Picture(0, 1);
        FeedAll(s, p, 0);
        FeedAll(s, p, 0);
        EXPECT_TRUE(s.units.empty());
    }
}
