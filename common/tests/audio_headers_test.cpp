// The audio frame-header readers against values typed in from the standards' tables, and
// against ffprobe on streams that ffmpeg wrote.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/audio_headers.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

using common::Ac3FrameHeader;
using common::AdtsFrameHeader;
using common::MpegAudioFrameHeader;

struct MpegCase {
    const char* name;
    uint8_t h[4];
    bool valid;
    int version = 0, layer = 0;
    int32_t bitRate = 0, sampleRate = 0, samples = 0, frameBytes = 0, unpaddedBytes = 0;
    int channels = 0;
};

// Frame bytes: ISO/IEC 11172-3 2.4.3.1 (Layer I: 12 x bit rate / rate slots of 4 bytes;
// II and III: 144 x bit rate / rate), ISO/IEC 13818-3 (Layer III at low rates: 72 x).
const MpegCase kMpegCases[] = {
    {"MPEG-1 Layer II 48 kHz 192 kbit/s", {0xFF, 0xFD, 0xA4, 0x00}, true, 1, 2, 192000, 48000, 1152, 576, 576, 2},
    {"MPEG-1 Layer I 48 kHz 384 kbit/s padded", {0xFF, 0xFF, 0xC6, 0x00}, true, 1, 1, 384000, 48000, 384, 388, 384, 2},
    {"MPEG-1 Layer I 44.1 kHz 32 kbit/s", {0xFF, 0xFF, 0x10, 0x00}, true, 1, 1, 32000, 44100, 384, 32, 32, 2},
    {"MPEG-1 Layer III 44.1 kHz 128 kbit/s padded",
     {0xFF, 0xFB, 0x92, 0x00},
     true,
     1,
     3,
     128000,
     44100,
     1152,
     418,
     417,
     2},
    {"MPEG-1 Layer III 32 kHz 320 kbit/s", {0xFF, 0xFB, 0xE8, 0x00}, true, 1, 3, 320000, 32000, 1152, 1440, 1440, 2},
    {"MPEG-1 Layer II 32 kHz 384 kbit/s mono",
     {0xFF, 0xFD, 0xE8, 0xC0},
     true,
     1,
     2,
     384000,
     32000,
     1152,
     1728,
     1728,
     1},
    {"MPEG-2 Layer III 24 kHz 64 kbit/s mono CRC",
     {0xFF, 0xF2, 0x84, 0xC0},
     true,
     2,
     3,
     64000,
     24000,
     576,
     192,
     192,
     1},
    {"MPEG-2 Layer II 22.05 kHz 160 kbit/s", {0xFF, 0xF5, 0xE0, 0x00}, true, 2, 2, 160000, 22050, 1152, 1044, 1044, 2},
    {"MPEG-2 Layer I 16 kHz 256 kbit/s padded", {0xFF, 0xF7, 0xEA, 0x00}, true, 2, 1, 256000, 16000, 384, 772, 768, 2},
    {"MPEG-2.5 Layer III 8 kHz 8 kbit/s", {0xFF, 0xE3, 0x18, 0x00}, true, 25, 3, 8000, 8000, 576, 72, 72, 2},
    {"MPEG-2.5 Layer III 11.025 kHz 160 kbit/s padded",
     {0xFF, 0xE3, 0xE2, 0x00},
     true,
     25,
     3,
     160000,
     11025,
     576,
     1045,
     1044,
     2},
    {"MPEG-2.5 Layer II 12 kHz 8 kbit/s", {0xFF, 0xE5, 0x14, 0x00}, true, 25, 2, 8000, 12000, 1152, 96, 96, 2},
    {"free format", {0xFF, 0xFB, 0x00, 0x00}, false},
    {"bit-rate index 15", {0xFF, 0xFB, 0xF0, 0x00}, false},
    {"reserved sampling frequency", {0xFF, 0xFB, 0x9C, 0x00}, false},
    {"reserved version", {0xFF, 0xEB, 0x90, 0x00}, false},
    {"reserved layer", {0xFF, 0xF9, 0x90, 0x00}, false},
    {"no sync word", {0xFF, 0x7B, 0x90, 0x00}, false},
    {"no sync byte", {0xFE, 0xFB, 0x90, 0x00}, false},
};

TEST(AudioHeaderReader, MpegAudioTable) {
    for (const MpegCase& c : kMpegCases) {
        SCOPED_TRACE(c.name);
        MpegAudioFrameHeader m;
        ASSERT_EQ(common::ReadMpegAudioHeader(c.h, &m), c.valid);
        if (!c.valid) continue;
        EXPECT_EQ(m.version, c.version);
        EXPECT_EQ(m.layer, c.layer);
        EXPECT_EQ(m.bitRate, c.bitRate);
        EXPECT_EQ(m.sampleRate, c.sampleRate);
        EXPECT_EQ(m.samples, c.samples);
        EXPECT_EQ(m.frameBytes, c.frameBytes);
        EXPECT_EQ(m.unpaddedBytes, c.unpaddedBytes);
        EXPECT_EQ(m.channels, c.channels);
        EXPECT_EQ(m.padding, c.frameBytes != c.unpaddedBytes);
        EXPECT_EQ(m.protection, (c.h[1] & 1) == 0);
    }
}

TEST(AudioHeaderReader, MpegAudioSideBitsAndShortSpans) {
    // Joint stereo, mode extension 3, copyright, original, emphasis 50/15 us, private bit.
    const uint8_t h[4] = {0xFF, 0xFB, 0x91, 0x7D};
    MpegAudioFrameHeader m;
    ASSERT_TRUE(common::ReadMpegAudioHeader(h, &m));
    EXPECT_EQ(m.mode, 1);
    EXPECT_EQ(m.mode_extension, 3);
    EXPECT_TRUE(m.copyright);
    EXPECT_TRUE(m.original);
    EXPECT_EQ(m.emphasis, 1);
    EXPECT_TRUE(m.private_bit);
    EXPECT_FALSE(m.protection);
    EXPECT_EQ(m.channels, 2);
    const uint8_t dual[4] = {0xFF, 0xFA, 0x90, 0x80};
    ASSERT_TRUE(common::ReadMpegAudioHeader(dual, &m));
    EXPECT_EQ(m.mode, 2);
    EXPECT_EQ(m.channels, 2);
    EXPECT_TRUE(m.protection);
    EXPECT_FALSE(m.copyright || m.original || m.private_bit);
    EXPECT_EQ(m.emphasis, 0);

    MpegAudioFrameHeader untouched;
    untouched.frameBytes = -7;
    EXPECT_FALSE(common::ReadMpegAudioHeader(std::span<const uint8_t>(h, 3), &untouched));
    EXPECT_FALSE(common::ReadMpegAudioHeader({}, &untouched));
    EXPECT_EQ(untouched.frameBytes, -7);
}

struct Ac3Case {
    const char* name;
    uint8_t byte4, byte5;
    bool valid;
    int32_t kbps = 0, sampleRate = 0, frameBytes = 0;
};

// ATSC A/52 Table 5.18, in bytes (twice its 16-bit words).
const Ac3Case kAc3Cases[] = {
    {"48 kHz 32 kbit/s", 0x00, 0x40, true, 32, 48000, 128},
    {"48 kHz 192 kbit/s", 0x14, 0x40, true, 192, 48000, 768},
    {"48 kHz 640 kbit/s", 0x25, 0x40, true, 640, 48000, 2560},
    {"44.1 kHz 32 kbit/s", 0x40, 0x40, true, 32, 44100, 138},
    {"44.1 kHz 32 kbit/s odd code", 0x41, 0x40, true, 32, 44100, 140},
    {"44.1 kHz 192 kbit/s", 0x54, 0x40, true, 192, 44100, 834},
    {"44.1 kHz 640 kbit/s", 0x64, 0x40, true, 640, 44100, 2786},
    {"44.1 kHz 640 kbit/s odd code", 0x65, 0x40, true, 640, 44100, 2788},
    {"32 kHz 32 kbit/s", 0x80, 0x40, true, 32, 32000, 192},
    {"32 kHz 640 kbit/s", 0xA5, 0x40, true, 640, 32000, 3840},
    {"bsid 10", 0x14, 0x50, true, 192, 48000, 768},
    {"bsid 11", 0x14, 0x58, false},
    {"Enhanced AC-3 bsid 16", 0x14, 0x80, false},
    {"reserved fscod", 0xC0, 0x40, false},
    {"frmsizecod 38", 0x26, 0x40, false},
};

TEST(AudioHeaderReader, Ac3Table) {
    for (const Ac3Case& c : kAc3Cases) {
        SCOPED_TRACE(c.name);
        const uint8_t h[6] = {0x0B, 0x77, 0x12, 0x34, c.byte4, c.byte5};
        Ac3FrameHeader a;
        ASSERT_EQ(common::ReadAc3Header(h, &a), c.valid);
        if (!c.valid) continue;
        EXPECT_EQ(a.kbps, c.kbps);
        EXPECT_EQ(a.sampleRate, c.sampleRate);
        EXPECT_EQ(a.frameBytes, c.frameBytes);
        EXPECT_EQ(a.samples, 1536);
        EXPECT_EQ(a.bsid, c.byte5 >> 3);
    }
    const uint8_t h[6] = {0x0B, 0x77, 0, 0, 0x14, 0x40};
    Ac3FrameHeader a;
    EXPECT_FALSE(common::ReadAc3Header(std::span<const uint8_t>(h, 5), &a));
    const uint8_t swapped[6] = {0x77, 0x0B, 0, 0, 0x14, 0x40};
    EXPECT_FALSE(common::ReadAc3Header(swapped, &a));
}

TEST(AudioHeaderReader, AdtsFields) {
    struct Case {
        const char* name;
        uint8_t h[7];
        bool valid;
        int32_t frameBytes = 0, samples = 0, sampleRate = 0;
        int headerBytes = 0, channels = 0;
    } cases[] = {
        {"48 kHz stereo", {0xFF, 0xF1, 0x4C, 0x80, 0x2E, 0x7F, 0xFC}, true, 371, 1024, 48000, 7, 2},
        {"two raw blocks, CRC", {0xFF, 0xF0, 0x4C, 0x80, 0x2E, 0x7F, 0xFD}, true, 371, 2048, 48000, 9, 2},
        {"7.35 kHz, channel configuration 7", {0xFF, 0xF1, 0x71, 0xC0, 0x01, 0x3F, 0xFC}, true, 9, 1024, 7350, 7, 7},
        {"96 kHz mono", {0xFF, 0xF9, 0x40, 0x40, 0x10, 0x1F, 0xFC}, true, 128, 1024, 96000, 7, 1},
        {"sampling index 13", {0xFF, 0xF1, 0x74, 0x80, 0x2E, 0x7F, 0xFC}, false},
        {"length inside its header", {0xFF, 0xF1, 0x4C, 0x80, 0x00, 0xFF, 0xFC}, false},
        {"CRC header longer than the frame", {0xFF, 0xF0, 0x4C, 0x80, 0x01, 0x1F, 0xFC}, false},
        {"layer not 0", {0xFF, 0xF3, 0x4C, 0x80, 0x2E, 0x7F, 0xFC}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AdtsFrameHeader a;
        ASSERT_EQ(common::ReadAdtsHeader(c.h, &a), c.valid);
        if (!c.valid) continue;
        EXPECT_EQ(a.frameBytes, c.frameBytes);
        EXPECT_EQ(a.samples, c.samples);
        EXPECT_EQ(a.sampleRate, c.sampleRate);
        EXPECT_EQ(a.headerBytes, c.headerBytes);
        EXPECT_EQ(a.channel_configuration, c.channels);
        EXPECT_EQ(a.profile, 1);
    }
    AdtsFrameHeader a;
    EXPECT_FALSE(common::ReadAdtsHeader(std::span<const uint8_t>(cases[0].h, 6), &a));
}

// ---- Against ffprobe ------------------------------------------------------------------

struct ProbedFrame {
    int64_t bytes = 0, samples = 0;
};

// ffprobe's decoded frames (packet size, samples) and the stream's sampling rate.
::testing::AssertionResult Probe(const std::string& file, std::vector<ProbedFrame>* frames, int64_t* rate) {
    std::string text;
    auto probed = testsupport::Ffprobe(
        file, "-show_entries stream=sample_rate:frame=pkt_size,nb_samples -of default=nw=1", &text);
    if (!probed) return probed;
    frames->clear();
    *rate = 0;
    for (const auto& [key, field] : testsupport::KeyValues(text)) {
        const int64_t value = testsupport::ProbeNumber(field).value_or(0);
        if (key == "pkt_size")
            frames->push_back({value, 0});
        else if (key == "nb_samples" && !frames->empty())
            frames->back().samples = value;
        else if (key == "sample_rate")
            *rate = value;
    }
    if (frames->empty()) return ::testing::AssertionFailure() << "ffprobe found no frames in " << file;
    return ::testing::AssertionSuccess();
}

TEST(AudioHeaderReader, FramesOfFfmpegStreamsMatchFfprobe) {
    const struct {
        const char* name;
        common::AudioFormat format;
        const char* command;
        const char* ext;
    } cases[] = {
        {"MPEG-1 Layer II", common::AudioFormat::Mpeg,
         "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 -c:a mp2 -b:a 192k -f mp2 {out}", "mp2"},
        {"MPEG-2 Layer III", common::AudioFormat::Mpeg,
         "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=24000:duration=1 -c:a libmp3lame -b:a 64k "
         "-write_xing 0 -id3v2_version 0 -f mp3 {out}",
         "mp3"},
        {"MPEG-2.5 Layer III, padded frames", common::AudioFormat::Mpeg,
         "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=11025:duration=1 -c:a libmp3lame -b:a 32k "
         "-write_xing 0 -id3v2_version 0 -f mp3 {out}",
         "mp3"},
        {"AC-3 44.1 kHz, alternating sizes", common::AudioFormat::Ac3,
         "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 -c:a ac3 -b:a 192k -f ac3 {out}", "ac3"},
        {"AC-3 32 kHz", common::AudioFormat::Ac3,
         "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=32000:duration=1 -c:a ac3 -b:a 96k -f ac3 {out}", "ac3"},
        {"ADTS", common::AudioFormat::Adts,
         "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 -c:a aac -b:a 96k -f adts {out}", "aac"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string file;
        ASSERT_TRUE(testsupport::MediaFixture(c.command, c.ext, &file));
        std::vector<ProbedFrame> probed;
        int64_t probedRate = 0;
        ASSERT_TRUE(Probe(file, &probed, &probedRate));
        const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(file);
        ASSERT_FALSE(bytes.empty());
        size_t pos = 0;
        size_t count = 0;
        for (; pos < bytes.size() && count < probed.size(); ++count) {
            SCOPED_TRACE(testing::Message() << "frame " << count << " at " << pos);
            common::AudioFrameFacts mine;
            ASSERT_TRUE(common::ReadAudioFrameFacts(c.format, std::span<const uint8_t>(bytes).subspan(pos), &mine));
            EXPECT_EQ(mine.frameBytes, probed[count].bytes);
            EXPECT_EQ(mine.samples, probed[count].samples);
            EXPECT_EQ(mine.sampleRate, probedRate);
            pos += static_cast<size_t>(mine.frameBytes);
        }
        EXPECT_EQ(count, probed.size());
        EXPECT_EQ(pos, bytes.size());
    }
}

}  // namespace
