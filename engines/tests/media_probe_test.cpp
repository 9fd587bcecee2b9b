// The clip player's probe against ffprobe on files made by ffmpeg.
#include "engines/player/media_probe.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

using engines::MediaFacts;
using engines::ProbeMedia;
using engines::ProbeResult;

struct ProbeCase {
    const char* name;
    const char* command;
    const char* extension;
    uint32_t formatClass;
    uint32_t kind;
};

const ProbeCase kCases[] = {
    {"Mpeg1System",
     "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=sample_rate=44100 -t 3.2 "
     "-c:v mpeg1video -b:v 1500k -c:a mp2 -f mpeg {out}",
     "mpg", profiles::kClassMpeg1, 1},
    {"Mpeg2ProgramNtsc",
     "ffmpeg -f lavfi -i testsrc=size=720x480:rate=30000/1001 -f lavfi -i sine=sample_rate=48000 -t 4 "
     "-target ntsc-dvd {out}",
     "mpg", profiles::kClassMpeg2, 1},
    {"H264ProgramCropped",
     "ffmpeg -f lavfi -i testsrc=size=320x180:rate=30000/1001 -f lavfi -i sine=sample_rate=48000 -t 3 "
     "-c:v libx264 -bf 2 -c:a mp2 -f vob {out}",
     "mpg", profiles::kClassH264, 1},
    {"H264TransportBFrames",
     "ffmpeg -f lavfi -i testsrc=size=640x360:rate=30000/1001 -f lavfi -i sine=sample_rate=48000 -t 3 "
     "-c:v libx264 -bf 2 -c:a mp2 -f mpegts {out}",
     "mpg", profiles::kClassH264, 1},
    {"Mpeg2TransportPal",
     "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 -t 3.4 "
     "-c:v mpeg2video -b:v 6000k -c:a mp2 -f mpegts {out}",
     "ts", profiles::kClassMpeg2, 1},
    // The 33-bit time stamps wrap to 0 a second into the clip.
    {"Mpeg2TransportWrapping",
     "ffmpeg -f lavfi -i testsrc=size=352x240:rate=30000/1001 -t 3 -c:v mpeg2video -output_ts_offset 95441.3 "
     "-f mpegts {out}",
     "ts", profiles::kClassMpeg2, 1},
    {"AviMjpeg",
     "ffmpeg -f lavfi -i testsrc=size=320x240:rate=15 -f lavfi -i sine=sample_rate=22050 -t 2.4 -c:v mjpeg "
     "-c:a pcm_s16le {out}",
     "avi", profiles::kClassAvi, 1},
    {"AviDvPal", "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -t 2 -c:v dvvideo -pix_fmt yuv420p {out}", "avi",
     profiles::kClassDv, 1},
    {"AviAudioOnly", "ffmpeg -f lavfi -i sine=sample_rate=44100 -t 1.5 -c:a pcm_s16le {out}", "avi",
     profiles::kClassAvi, 3},
};

// ffprobe's answer for the first stream of a kind: width, height, frames per second and
// duration in 100 ns.
struct Judge {
    int64_t width = 0, height = 0;
    double rate = 0;
    int64_t duration = 0;
};

Judge Ask(const std::string& path, bool video) {
    std::string out;
    Judge judge;
    EXPECT_TRUE(testsupport::Ffprobe(path,
                                     std::string("-select_streams ") + (video ? "v:0" : "a:0") +
                                         " -show_entries stream=width,height,r_frame_rate,duration -of default=nw=1",
                                     &out));
    for (const auto& [key, value] : testsupport::KeyValues(out)) {
        if (key == "width") judge.width = std::stoll(value);
        if (key == "height") judge.height = std::stoll(value);
        if (key == "duration" && value != "N/A") judge.duration = static_cast<int64_t>(std::stod(value) * 1e7 + 0.5);
        if (key == "r_frame_rate") {
            const size_t slash = value.find('/');
            if (slash != std::string::npos && std::stod(value.substr(slash + 1)) != 0)
                judge.rate = std::stod(value.substr(0, slash)) / std::stod(value.substr(slash + 1));
        }
    }
    return judge;
}

TEST(MediaProbe, AgreesWithFfprobeOnSizeRateAndDurationWithinAFrame) {
    for (const ProbeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(c.command, c.extension, &path));
        MediaFacts facts;
        ASSERT_EQ(ProbeMedia(path, &facts), ProbeResult::kOk);
        EXPECT_EQ(facts.formatClass, c.formatClass);
        EXPECT_EQ(facts.kind, c.kind);
        EXPECT_EQ(facts.fileBytes, static_cast<int64_t>(testsupport::ReadFileBytes(path).size()));
        const Judge judge = Ask(path, c.kind == 1);
        ASSERT_GT(judge.duration, 0);
        if (c.kind == 1) {
            EXPECT_EQ(facts.width, judge.width);
            EXPECT_EQ(facts.height, judge.height);
            EXPECT_NEAR(facts.frameRate, judge.rate, 0.001);
            // The judge is the count of frames ffprobe decodes. Its stream duration of a
            // program stream spans only the PES time stamps, and muxers leave pictures
            // unstamped: most small H.264 ones, and now and then the last MPEG-2 one (which
            // of the two files ffmpeg writes depends on how its input threads interleave).
            std::string counted;
            ASSERT_TRUE(testsupport::Ffprobe(
                path, "-select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0", &counted));
            const int64_t want = static_cast<int64_t>(std::stod(counted) * 1e7 / judge.rate + 0.5);
            EXPECT_NEAR(double(facts.duration), double(want), 1e7 / judge.rate);
        } else {
            // The audio's own length, the sum of its packets (ffprobe's stream duration of
            // a PCM AVI is estimated from the file's byte rate).
            std::string packets;
            ASSERT_TRUE(testsupport::Ffprobe(path, "-select_streams a:0 -show_entries packet=duration_time -of csv=p=0",
                                             &packets));
            double seconds = 0;
            for (const auto& row : testsupport::CsvRows(packets))
                seconds += std::stod(row.at(0));
            EXPECT_NEAR(double(facts.duration), seconds * 1e7, 1e7 / 44100);  // one sample
        }
    }
}

// A lone picture without sound is a still (kind 2), lasting one frame; with sound it plays.
TEST(MediaProbe, ALonePictureWithoutSoundIsAStill) {
    const struct {
        const char* name;
        const char* command;
        const char* extension;
        uint32_t kind;
    } cases[] = {
        {"AviStill", "ffmpeg -f lavfi -i testsrc=size=320x240:rate=25 -frames:v 1 -c:v mjpeg {out}", "avi", 2},
        {"Mpeg2Still", "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -frames:v 1 -c:v mpeg2video -f vob {out}",
         "mpg", 2},
        {"Mpeg2TwoPictures", "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -frames:v 2 -c:v mpeg2video -f vob {out}",
         "mpg", 1},
        {"Mpeg2PictureWithSound",
         "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25:duration=0.04 -f lavfi -i sine=sample_rate=48000:duration=1 "
         "-c:v mpeg2video -c:a mp2 -f vob {out}",
         "mpg", 1},
        {"AviPictureWithSound",
         "ffmpeg -f lavfi -i testsrc=size=320x240:rate=25:duration=0.04 -f lavfi -i sine=sample_rate=22050:duration=1 "
         "-c:v mjpeg -c:a pcm_s16le {out}",
         "avi", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(c.command, c.extension, &path));
        MediaFacts facts;
        ASSERT_EQ(ProbeMedia(path, &facts), ProbeResult::kOk);
        EXPECT_EQ(facts.kind, c.kind);
        const Judge judge = Ask(path, true);
        EXPECT_EQ(facts.width, judge.width);
        EXPECT_EQ(facts.height, judge.height);
        if (c.kind == 2) {
            EXPECT_NEAR(double(facts.duration), 1e7 / judge.rate, 0.5e7 / judge.rate);
        }
    }
}

// The first audio stream's format against ffprobe's: codec (as a wave format tag), rate,
// channels, bit rate and, for PCM, sample size; a file without audio reports none.
TEST(MediaProbe, ReportsTheFirstAudioStreamsFormatAsFfprobeDoes) {
    struct AudioCase {
        const char* name;
        const char* command;
        const char* extension;
    };
    const AudioCase cases[] = {
        {"Mpeg1Mp2Mono", kCases[0].command, "mpg"},
        {"DvdAc3Stereo", kCases[1].command, "mpg"},
        {"VobAc3FiveOne",
         "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=sample_rate=48000 -t 1 -c:v mpeg2video "
         "-c:a ac3 -ac 6 -b:a 384k -f vob {out}",
         "vob"},
        {"Mpeg2Mp2Stereo32k",
         "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=sample_rate=32000 -t 1 -c:v mpeg2video "
         "-c:a mp2 -ac 2 -b:a 160k -f vob {out}",
         "mpg"},
        {"AviPcmMono", kCases[3].command, "avi"},
        {"AviMp3LowRate",
         "ffmpeg -f lavfi -i testsrc=size=320x240:rate=15 -f lavfi -i sine=sample_rate=22050 -t 1 -c:v mjpeg "
         "-c:a libmp3lame -ac 2 -b:a 64k {out}",
         "avi"},
        {"AviDvPcmStereo",
         "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 -t 1 -c:v dvvideo "
         "-pix_fmt yuv420p -c:a pcm_s16le -ac 2 {out}",
         "avi"},
        {"AviDvSilent", kCases[4].command, "avi"},
    };
    for (const AudioCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(c.command, c.extension, &path));
        MediaFacts facts;
        ASSERT_EQ(ProbeMedia(path, &facts), ProbeResult::kOk);
        std::string out;
        ASSERT_TRUE(testsupport::Ffprobe(
            path,
            "-select_streams a:0 -show_entries stream=codec_name,sample_rate,channels,bit_rate,bits_per_sample "
            "-of default=nw=1",
            &out));
        const auto values = testsupport::KeyValues(out);
        if (values.empty()) {
            EXPECT_EQ(facts.audioFormatTag, 0u);
            EXPECT_EQ(facts.audioSampleRate, 0u);
            EXPECT_EQ(facts.audioChannels, 0u);
            EXPECT_EQ(facts.audioBitRate, 0u);
            continue;
        }
        for (const auto& [key, value] : values) {
            SCOPED_TRACE(key + "=" + value);
            if (key == "codec_name") {
                const uint32_t tag = value == "pcm_s16le" ? 0x0001
                                     : value == "mp2"     ? 0x0050
                                     : value == "mp3"     ? 0x0055
                                     : value == "ac3"     ? 0x2000
                                                          : 0xFFFF;
                EXPECT_EQ(facts.audioFormatTag, tag);
            }
            if (key == "sample_rate") {
                EXPECT_EQ(facts.audioSampleRate, std::stoul(value));
            }
            if (key == "channels") {
                EXPECT_EQ(facts.audioChannels, std::stoul(value));
                // Mono is mode 0; two or more channels one of the others.
                EXPECT_EQ(facts.audioChannelMode == 0, value == "1");
            }
            if (key == "bit_rate") {
                EXPECT_EQ(facts.audioBitRate, std::stoul(value));
            }
            if (key == "bits_per_sample" && facts.audioFormatTag == 0x0001) {
                EXPECT_EQ(facts.audioBits, std::stoul(value));
            }
        }
    }
}

TEST(MediaProbe, RefusesWhatItCannotReadAndLeavesTheFactsAlone) {
    std::string avi;
    ASSERT_TRUE(testsupport::MediaFixture(kCases[6].command, "avi", &avi));  // AviMjpeg
    const std::vector<uint8_t> whole = testsupport::ReadFileBytes(avi);
    ASSERT_GT(whole.size(), 400u);
    struct Damage {
        const char* name;
        std::vector<uint8_t> bytes;
        ProbeResult result;
    };
    std::vector<uint8_t> oversized(whole.begin(), whole.end());
    // The header list claims more bytes than the file holds.
    oversized[16] = 0xFF;
    oversized[17] = 0xFF;
    oversized[18] = 0xFF;
    oversized[19] = 0x7F;
    const Damage cases[] = {
        {"empty", {}, ProbeResult::kUnknownFormat},
        {"text", std::vector<uint8_t>(5000, 'x'), ProbeResult::kUnknownFormat},
        {"riff-only", std::vector<uint8_t>(whole.begin(), whole.begin() + 12), ProbeResult::kDamaged},
        {"oversized-list", oversized, ProbeResult::kDamaged},
    };
    for (const Damage& d : cases) {
        SCOPED_TRACE(d.name);
        const std::string path = testsupport::FixturePath(testsupport::UniqueName(d.name) + ".bin");
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!d.bytes.empty()) std::fwrite(d.bytes.data(), 1, d.bytes.size(), f);
        std::fclose(f);
        MediaFacts facts;
        facts.width = 77;
        EXPECT_EQ(ProbeMedia(path, &facts), d.result);
        EXPECT_EQ(facts.width, 77u);
        std::remove(path.c_str());
    }
    MediaFacts facts;
    EXPECT_EQ(ProbeMedia(testsupport::FixturePath("no-such-file.avi"), &facts), ProbeResult::kCannotOpen);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

TEST(MediaProbe, TransportStreamOfAudioAloneIsAudio) {
    std::string path;
    ASSERT_TRUE(testsupport::MediaFixture("ffmpeg -f lavfi -i sine=sample_rate=48000 -t 2.5 -c:a mp2 -f mpegts {out}",
                                          "ts", &path));
    MediaFacts facts;
    ASSERT_EQ(ProbeMedia(path, &facts), ProbeResult::kOk);
    EXPECT_EQ(facts.kind, 3u);
    EXPECT_EQ(facts.width, 0u);
    const Judge judge = Ask(path, false);
    ASSERT_GT(judge.duration, 0);
    EXPECT_NEAR(double(facts.duration), double(judge.duration), 1e7 * 1152 / 48000);  // one audio frame
}

// A cut or damaged transport stream is refused (or, where the damage spares what the probe
// reads, read) without reading outside the file's bytes; a refusal leaves the facts alone.
TEST(MediaProbe, DamagedTransportStreamsAreRefused) {
    std::string ts;
    ASSERT_TRUE(testsupport::MediaFixture(kCases[3].command, "mpg", &ts));  // H264TransportBFrames
    const std::vector<uint8_t> whole = testsupport::ReadFileBytes(ts);
    constexpr size_t kPacket = 188;
    ASSERT_GT(whole.size(), 100 * kPacket);
    // ffmpeg writes the service table, then the association table (PID 0), then the program
    // map (PID 0x1000), and repeats them.
    const auto pidAt = [&](size_t at) { return ((whole[at + 1] & 0x1F) << 8) | whole[at + 2]; };
    size_t pmt = 0;
    while (pmt + kPacket <= whole.size() && pidAt(pmt) != 0x1000)
        pmt += kPacket;
    ASSERT_LT(pmt, whole.size());
    // Every copy of a table with byte `offset` of its packet set to `value`.
    const auto changed = [&](int pid, size_t offset, uint8_t value) {
        std::vector<uint8_t> bytes = whole;
        for (size_t at = 0; at + kPacket <= bytes.size(); at += kPacket)
            if (pidAt(at) == pid) bytes[at + offset] = value;
        return bytes;
    };
    struct Damage {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Damage cases[] = {
        {"tables-only", std::vector<uint8_t>(whole.begin(), whole.begin() + pmt + kPacket)},
        {"cut-in-program-map", std::vector<uint8_t>(whole.begin(), whole.begin() + pmt + 20)},
        {"association-table-id", changed(0, 5, 0x42)},
        // section_length past the 1024 bytes a section may hold.
        {"program-map-too-long", changed(0x1000, 6, 0xB7)},
        // The video's elementary PID names packets the file does not have.
        {"video-pid-absent", changed(0x1000, 19, 0x77)},
    };
    for (const Damage& d : cases) {
        SCOPED_TRACE(d.name);
        const std::string path = testsupport::FixturePath(testsupport::UniqueName(d.name) + ".mpg");
        WriteBytes(path, d.bytes);
        MediaFacts facts;
        facts.width = 77;
        EXPECT_EQ(ProbeMedia(path, &facts), ProbeResult::kDamaged);
        EXPECT_EQ(facts.width, 77u);
        std::remove(path.c_str());
    }
    // The same byte of every packet flipped (packet headers, tables, PES headers, parameter
    // sets in turn): never a read out of bounds (the address sanitizer judges), and facts
    // only with an answer of kOk.
    const std::string path = testsupport::FixturePath(testsupport::UniqueName("flipped") + ".mpg");
    for (size_t offset = 1; offset < kPacket; offset += 5) {
        SCOPED_TRACE(offset);
        std::vector<uint8_t> bytes = whole;
        for (size_t at = offset; at < bytes.size(); at += kPacket)
            bytes[at] ^= 0xFF;
        WriteBytes(path, bytes);
        MediaFacts facts;
        facts.width = 77;
        const ProbeResult result = ProbeMedia(path, &facts);
        if (result != ProbeResult::kOk)
            EXPECT_EQ(facts.width, 77u);
        else
            EXPECT_GT(facts.duration, 0);
    }
    std::remove(path.c_str());
}

}  // namespace
