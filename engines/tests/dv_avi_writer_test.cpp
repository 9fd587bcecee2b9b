// DV AVI files written from ffmpeg-made tapes, judged by ffprobe and ffmpeg.
#include "engines/dv/dv_avi_writer.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

constexpr const char* kPalTape =
    "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 -t 3 -c:v dvvideo "
    "-pix_fmt yuv420p -c:a pcm_s16le -ac 2 -timecode 00:10:20:05 -f dv {out}";

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// The file's top-level RIFF lists, each with its form type ("AVI ", then "AVIX"), which
// must tile the file exactly and each stay within `riffBytes`.
std::vector<std::string> RiffForms(const std::vector<uint8_t>& file, uint64_t riffBytes) {
    std::vector<std::string> forms;
    size_t at = 0;
    while (at + 12 <= file.size() && memcmp(&file[at], "RIFF", 4) == 0) {
        const uint32_t size = Le32(file, at + 4);
        EXPECT_LE(size + 8u, riffBytes);
        forms.emplace_back(reinterpret_cast<const char*>(&file[at + 8]), 4);
        at += 8 + size + (size & 1);
    }
    EXPECT_EQ(at, file.size());
    return forms;
}

// `riffBytes` small enough makes a file of several RIFF lists (OpenDML), as a long
// recording at the default size does.
TEST(DvAviWriter, FfprobeReadsEveryFrameAndTheTapesTimeCode) {
    struct Case {
        const char* command;
        dv::System system;
        int frames;
        double seconds;
        uint64_t riffBytes;
        size_t riffs;
    } cases[] = {
        {kPalTape, dv::System::kPal, 60, 2.4, dv::kRiffBytes, 1},
        {"ffmpeg -f lavfi -i testsrc=size=720x480:rate=30000/1001 -f lavfi -i sine=sample_rate=48000 -t 3 "
         "-c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le -ac 2 -timecode 00:00:59:00 -f dv {out}",
         dv::System::kNtsc, 45, 45 * 1001 / 30000.0, dv::kRiffBytes, 1},
        // 13 frames in the first RIFF (headers and idx1 too), 14 in each AVIX.
        {kPalTape, dv::System::kPal, 60, 2.4, 2'000'000, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " riff " + std::to_string(c.riffBytes));
        std::string tapePath;
        ASSERT_TRUE(testsupport::MediaFixture(c.command, "dv", &tapePath));
        const std::vector<uint8_t> tape = testsupport::ReadFileBytes(tapePath);
        const size_t bytes = dv::FrameBytes(c.system);
        const std::string out = testsupport::FixturePath(testsupport::UniqueName("capture") + ".avi");
        dv::AviWriter writer(c.riffBytes);
        ASSERT_TRUE(writer.Open(out, c.system));
        for (int i = 0; i < c.frames; ++i)
            ASSERT_TRUE(writer.AddFrame(std::span<const uint8_t>(tape).subspan(i * bytes, bytes)));
        EXPECT_FALSE(writer.AddFrame(std::span<const uint8_t>(tape).first(1000)));  // not a frame
        const uint64_t expected = writer.Bytes();
        EXPECT_EQ(writer.Riffs(), c.riffs);
        ASSERT_TRUE(writer.Finish());
        const std::vector<uint8_t> file = testsupport::ReadFileBytes(out);
        EXPECT_EQ(file.size(), expected);
        const std::vector<std::string> forms = RiffForms(file, c.riffBytes);
        ASSERT_EQ(forms.size(), c.riffs);
        EXPECT_EQ(forms[0], "AVI ");
        for (size_t i = 1; i < forms.size(); ++i)
            EXPECT_EQ(forms[i], "AVIX");

        std::string probe;
        ASSERT_TRUE(testsupport::Ffprobe(out,
                                         "-count_frames -select_streams v:0 -show_entries "
                                         "stream=codec_name,nb_read_frames:format=duration -of default=nw=1",
                                         &probe));
        std::string codec;
        int64_t frames = 0;
        double seconds = 0;
        for (const auto& [key, value] : testsupport::KeyValues(probe)) {
            if (key == "codec_name") codec = value;
            if (key == "nb_read_frames") frames = std::stoll(value);
            if (key == "duration") seconds = std::stod(value);
        }
        EXPECT_EQ(codec, "dvvideo");
        EXPECT_EQ(frames, c.frames);
        EXPECT_NEAR(seconds, c.seconds, 1.0 / 25);
        // The frames are the tape's as they were: copied out of the file as a raw DV
        // stream, ffprobe reads the tape's first time code there.
        const std::string raw = testsupport::UniqueName("copied") + ".dv";
        ASSERT_EQ(testsupport::RunShell("ffmpeg -v error -i '" + testsupport::FixtureName(out) +
                                        "' -map 0:v -c copy -f rawvideo '" + raw + "'"),
                  0);
        std::string timecode;
        ASSERT_TRUE(testsupport::Ffprobe(testsupport::FixturePath(raw),
                                         "-show_entries format_tags=timecode -of csv=p=0", &timecode));
        const dv::Timecode first = *dv::FrameTimecode(std::span<const uint8_t>(tape).first(bytes));
        char text[32];
        snprintf(text, sizeof text, "%02d:%02d:%02d:%02d\n", first.hours, first.minutes, first.seconds, first.frames);
        EXPECT_EQ(timecode, text);
        // The whole file decodes without a complaint.
        EXPECT_EQ(testsupport::RunShell("test -z \"$(ffmpeg -v error -i '" + testsupport::FixtureName(out) +
                                        "' -f null - 2>&1)\""),
                  0);
        // Seeking goes through the indexes: the frame found at a time near the end (in the
        // last RIFF) is the tape's frame there, byte for byte.
        const int at = c.frames - 3;
        const double rate = c.system == dv::System::kPal ? 25 : 30000 / 1001.0;
        const std::string sought = testsupport::UniqueName("sought") + ".dv";
        ASSERT_EQ(testsupport::RunShell("ffmpeg -v error -ss " + std::to_string((at + 0.2) / rate) + " -i '" +
                                        testsupport::FixtureName(out) + "' -map 0:v -c copy -frames:v 1 -f rawvideo '" +
                                        sought + "'"),
                  0);
        const std::vector<uint8_t> frame = testsupport::ReadFileBytes(testsupport::FixturePath(sought));
        EXPECT_TRUE(frame == std::vector<uint8_t>(tape.begin() + at * bytes, tape.begin() + (at + 1) * bytes));
    }
}

}  // namespace

namespace {

// Type 2: the audio stream holds the tape's sound as ffmpeg decodes it from the frames.
TEST(DvAviWriter, TypeTwoCarriesTheFramesAudioAsFfmpegDecodesIt) {
    struct Case {
        const char* command;
        dv::System system;
        int frames;
        uint64_t riffBytes;
    } cases[] = {
        {"ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 "
         "-c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2 -f dv {out}",
         dv::System::kPal, 30, dv::kRiffBytes},
        {"ffmpeg -f lavfi -i testsrc=size=720x480:rate=30000/1001 -f lavfi -i sine=frequency=300:sample_rate=48000 "
         "-t 2 -c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le -ac 2 -f dv {out}",
         dv::System::kNtsc, 40, dv::kRiffBytes},
        // Several RIFF lists: the audio chunks of every one are found.
        {"ffmpeg -f lavfi -i testsrc=size=720x480:rate=30000/1001 -f lavfi -i sine=frequency=300:sample_rate=48000 "
         "-t 2 -c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le -ac 2 -f dv {out}",
         dv::System::kNtsc, 40, 1'500'000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " riff " + std::to_string(c.riffBytes));
        std::string tapePath;
        ASSERT_TRUE(testsupport::MediaFixture(c.command, "dv", &tapePath));
        const std::vector<uint8_t> tape = testsupport::ReadFileBytes(tapePath);
        const size_t bytes = dv::FrameBytes(c.system);
        const std::string out = testsupport::FixturePath(testsupport::UniqueName("type2") + ".avi");
        dv::AviWriter writer(c.riffBytes);
        ASSERT_TRUE(writer.Open(out, c.system, dv::AviType::kType2));
        for (int i = 0; i < c.frames; ++i)
            ASSERT_TRUE(writer.AddFrame(std::span<const uint8_t>(tape).subspan(i * bytes, bytes)));
        ASSERT_TRUE(writer.Finish());
        EXPECT_EQ(RiffForms(testsupport::ReadFileBytes(out), c.riffBytes).size(), c.riffBytes < 2'000'000 ? 4u : 1u);

        std::string probe;
        ASSERT_TRUE(testsupport::Ffprobe(
            out, "-count_frames -show_entries stream=codec_name,sample_rate,nb_read_frames -of csv=p=0", &probe));
        const auto rows = testsupport::CsvRows(probe);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0][0], "dvvideo");
        EXPECT_EQ(rows[0].back(), std::to_string(c.frames));
        EXPECT_EQ(rows[1][0], "pcm_s16le");
        // The judge: ffmpeg's decoding of the same frames' audio from the raw tape.
        const std::string mine = testsupport::UniqueName("mine") + ".pcm";
        const std::string judge = testsupport::UniqueName("judge") + ".pcm";
        ASSERT_EQ(testsupport::RunShell("ffmpeg -v error -i '" + testsupport::FixtureName(out) +
                                        "' -map 0:a -c:a copy -f s16le '" + mine + "' && head -c " +
                                        std::to_string(bytes * c.frames) + " '" + testsupport::FixtureName(tapePath) +
                                        "' | ffmpeg -v error -f dv -i - -map 0:a -f s16le '" + judge + "'"),
                  0);
        const std::string a = testsupport::ReadFixtureFile(mine), b = testsupport::ReadFixtureFile(judge);
        ASSERT_GT(a.size(), size_t(c.frames) * 1000 * 4);
        EXPECT_EQ(a.size(), b.size());
        EXPECT_TRUE(a == b);
    }
}

}  // namespace

namespace {

// A size limit ends the file before it would pass the limit, across RIFF lists and with the
// audio chunks of type 2 counted; what was written reads whole.
TEST(DvAviWriter, TheSizeLimitEndsTheFileShortOfIt) {
    const struct {
        dv::AviType type;
        uint64_t limit;
    } cases[] = {{dv::AviType::kType1, 1'400'000}, {dv::AviType::kType2, 1'400'000}, {dv::AviType::kType2, 300'000}};
    std::string tapePath;
    ASSERT_TRUE(testsupport::MediaFixture(kPalTape, "dv", &tapePath));
    const std::vector<uint8_t> tape = testsupport::ReadFileBytes(tapePath);
    const size_t bytes = dv::kPalFrameBytes;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(int(c.type)) + " limit " + std::to_string(c.limit));
        const std::string out = testsupport::FixturePath(testsupport::UniqueName("limited") + ".avi");
        dv::AviWriter writer(600'000);
        writer.SetSizeLimit(c.limit);
        ASSERT_TRUE(writer.Open(out, dv::System::kPal, c.type));
        int added = 0;
        while (added < 60 && writer.AddFrame(std::span<const uint8_t>(tape).subspan(added * bytes, bytes)))
            ++added;
        ASSERT_LT(added, 60);
        EXPECT_EQ(writer.Frames(), uint32_t(added));
        const uint64_t expected = writer.Bytes();
        ASSERT_TRUE(writer.Finish());
        const uint64_t size = testsupport::ReadFileBytes(out).size();
        EXPECT_EQ(size, expected);
        EXPECT_LE(size, c.limit);
        EXPECT_GT(size + bytes + 8, c.limit);  // the next frame would not have fitted
        std::string probe;
        ASSERT_TRUE(testsupport::Ffprobe(
            out, "-count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0", &probe));
        EXPECT_EQ(probe, std::to_string(added) + "\n");
    }
}

}  // namespace
