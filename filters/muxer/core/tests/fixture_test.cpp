// Streams made by ffmpeg and x264, fed in random-sized samples: every unit is one of the
// stream's frames as ffprobe reads them, and its times are those of the same stream in an
// MPEG-2 systems stream multiplexed by ffmpeg.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/muxer/core/tests/test_stream.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

using muxer::StreamType;
using muxertest::FixtureName;
using muxertest::ReadAll;
using muxertest::TestStream;
using muxertest::Unit;

namespace {

struct Packet {
    std::optional<int64_t> pts, dts;  // 90 kHz
    int64_t size = 0;
    int64_t pos = -1;
};

// ffprobe's packets of the first stream of a fixture file.
::testing::AssertionResult Probe(const std::string& file, std::vector<Packet>* out) {
    std::string csv;
    auto probed =
        testsupport::Ffprobe(file, "-select_streams 0 -show_entries packet=pts,dts,size,pos -of csv=p=0", &csv);
    if (!probed) return probed;
    out->clear();
    for (const auto& f : testsupport::CsvRows(csv)) {
        if (f.size() < 4) continue;
        Packet p;
        p.pts = testsupport::ProbeNumber(f[0]);
        p.dts = testsupport::ProbeNumber(f[1]);
        p.size = testsupport::ProbeNumber(f[2]).value_or(0);
        p.pos = testsupport::ProbeNumber(f[3]).value_or(-1);
        out->push_back(p);
    }
    if (out->empty()) return ::testing::AssertionFailure() << "ffprobe found no packets in " << FixtureName(file);
    return ::testing::AssertionSuccess();
}

struct Case {
    const char* name;
    StreamType type;
    const char* system_command;  // makes the systems stream (or an x264 file first)
    const char* system_ext;
    const char* es_format;  // ffmpeg's raw format for the elementary stream
    const char* es_ext;
};

// The x264 cases encode to Matroska first (x264 writes times there), which ffmpeg then
// multiplexes (or to a raw stream that ffmpeg times). ffprobe does not recognise H.264 in a program stream and ffmpeg
// puts no AAC in one, so those two take a transport stream: the same PES time stamps.
constexpr const char* kY4m =
    "ffmpeg -f lavfi -i testsrc=size=176x144:rate=25 -frames:v 60 -pix_fmt yuv420p -f yuv4mpegpipe {out}";

const Case kCases[] = {
    {"Mp2Layer2", StreamType::Mpeg1Audio,
     "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 -c:a mp2 -b:a 192k -f mpeg {out}", "mpg",
     "mp2", "mp2"},
    {"Mpeg2Layer3", StreamType::Mpeg2Audio,
     "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=24000:duration=2 -c:a libmp3lame -b:a 64k -f mpeg {out}", "mpg",
     "mp3", "mp3"},
    {"Ac3", StreamType::Ac3,
     "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 -c:a ac3 -b:a 192k -f mpeg {out}", "mpg",
     "ac3", "ac3"},
    {"AacAdts", StreamType::Aac,
     "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 -c:a aac -b:a 128k -f mpegts {out}", "ts",
     "adts", "aac"},
    {"Mpeg2VideoBFramesGop12", StreamType::Mpeg2Video,
     "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -frames:v 60 -c:v mpeg2video -g 12 -bf 2 -f mpeg {out}", "mpg",
     "mpeg2video", "m2v"},
    {"Mpeg1Video", StreamType::Mpeg1Video,
     "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -frames:v 60 -c:v mpeg1video -f mpeg {out}", "mpg", "mpeg1video",
     "m1v"},
    {"H264Baseline", StreamType::H264Video, "x264 --quiet --profile baseline -o {out} {y4m}", "mkv", "h264", "264"},
    {"H264Main", StreamType::H264Video, "x264 --quiet --profile main -o {out} {y4m}", "mkv", "h264", "264"},
    {"H264High", StreamType::H264Video, "x264 --quiet -o {out} {y4m}", "mkv", "h264", "264"},
    // Five B pictures in a strict pyramid: the picture order lsb (6 bits) wraps between a
    // reference picture and the non-reference pictures shown before it.
    {"H264StrictPyramid", StreamType::H264Video,
     "x264 --quiet --profile main --b-adapt 0 --bframes 5 --b-pyramid strict -o {out} {y4m}", "mkv", "h264", "264"},
    // 3:2 pulldown: 24000/1001 frames a second shown as three or two fields of 60000/1001,
    // as each picture's timing message says. x264's container times do not follow the
    // fields, so ffmpeg times the raw stream (it reads the same messages).
    {"H264Pulldown", StreamType::H264Video,
     "x264 --quiet --profile main --bframes 0 --pulldown 32 --fps 24000/1001 -o {out} {y4m}", "264", "h264", "264"},
    // The same with the HRD's delays in front of pic_struct in each timing message.
    {"H264PulldownHrd", StreamType::H264Video,
     "x264 --quiet --profile main --bframes 0 --pulldown 32 --fps 24000/1001 --nal-hrd vbr --vbv-maxrate 800 "
     "--vbv-bufsize 800 -o {out} {y4m}",
     "264", "h264", "264"},
};

class Fixture : public ::testing::TestWithParam<Case> {};

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    const size_t at = s.find(from);
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

constexpr int64_t kTick = 10000000 / 90000 + 1;  // one 90 kHz tick in 100-ns units, rounded up
int64_t To100ns(int64_t ticks90k) {
    return ticks90k * 1000 / 9;
}

TEST_P(Fixture, UnitsAreTheFramesWithTheSystemStreamsTimes) {
    const Case& c = GetParam();
    std::string system;
    std::string command = c.system_command;
    if (command.find("{y4m}") != std::string::npos) {
        std::string y4m;
        ASSERT_TRUE(testsupport::MediaFixture(kY4m, "y4m", &y4m));
        std::string encoded;
        ASSERT_TRUE(testsupport::MediaFixture(Replace(command, "{y4m}", FixtureName(y4m)), c.system_ext, &encoded));
        const std::string times = std::string(c.system_ext) == "264" ? "-fflags +genpts " : "";
        ASSERT_TRUE(testsupport::MediaFixture(
            "ffmpeg " + times + "-i " + FixtureName(encoded) + " -c copy -f mpegts {out}", "ts", &system));
    } else {
        ASSERT_TRUE(testsupport::MediaFixture(command, c.system_ext, &system));
    }
    std::string es;
    ASSERT_TRUE(testsupport::MediaFixture("ffmpeg -i " + FixtureName(system) + " -map 0:0 -c copy -f " + c.es_format +
                                              (std::string(c.es_format) == "mp3" ? " -write_xing 0" : "") + " {out}",
                                          c.es_ext, &es));
    std::vector<Packet> frames, timed;
    ASSERT_TRUE(Probe(es, &frames));
    ASSERT_TRUE(Probe(system, &timed));
    ASSERT_EQ(frames.size(), timed.size());
    ASSERT_TRUE(timed[0].pts.has_value());
    const std::vector<uint8_t> bytes = ReadAll(es);
    ASSERT_FALSE(bytes.empty());

    // Each sample carries the time of the first frame that begins in it, as a splitter
    // stamps them, when the systems stream gives that frame one.
    const int64_t t0 = *timed[0].pts;
    std::vector<bool> starts(bytes.size() + 1);
    std::vector<std::optional<int64_t>> start_time(bytes.size() + 1);
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_GE(frames[i].pos, 0);
        ASSERT_EQ(frames[i].size, timed[i].size) << "frame " << i;
        starts[static_cast<size_t>(frames[i].pos)] = true;
        if (timed[i].pts) start_time[static_cast<size_t>(frames[i].pos)] = To100ns(*timed[i].pts - t0);
    }
    for (const uint32_t seed : {1u, 2u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        // H.264 learns its frame duration from the connection, as a pin's media type says.
        muxer::StreamMediaType connection;
        if (c.type == StreamType::H264Video) {
            connection.major = muxer::MajorType::Video;
            connection.subtype = muxer::Subtype::H264;
            connection.format = muxer::FormatType::VideoInfo;
            connection.video.AvgTimePerFrame = 400000;
        }
        TestStream stream(c.type, connection, 64 * 1024);
        std::mt19937 rng(seed);
        size_t at = 0;
        while (at < bytes.size()) {
            const size_t size = std::min<size_t>(bytes.size() - at, 1 + rng() % 5000);
            std::optional<int64_t> stamp;
            size_t k = at;
            while (k < at + size && !starts[k])
                ++k;
            if (k < at + size) stamp = start_time[k];
            stream.Feed(bytes.data() + at, static_cast<int32_t>(size), stamp);
            at += size;
        }
        stream.Finish();

        const std::vector<Unit>& units = stream.units;
        ASSERT_EQ(units.size(), frames.size());
        ASSERT_TRUE(units[0].pts.has_value());
        const int64_t ours0 = *units[0].pts;
        int with_dts = 0;
        for (size_t i = 0; i < units.size(); ++i) {
            SCOPED_TRACE("unit " + std::to_string(i));
            const Packet& f = frames[i];
            ASSERT_EQ(units[i].bytes.size(), static_cast<size_t>(f.size));
            ASSERT_TRUE(std::equal(units[i].bytes.begin(), units[i].bytes.end(), bytes.begin() + f.pos));
            ASSERT_TRUE(units[i].pts.has_value());
            if (timed[i].pts) {
                EXPECT_NEAR(*units[i].pts - ours0, To100ns(*timed[i].pts - t0), kTick);
            }
            if (units[i].dts) {
                ++with_dts;
                ASSERT_TRUE(timed[i].dts.has_value());
                // Decoding times from the first: ffmpeg starts MPEG video decoding a frame
                // before the first picture is shown, the parser at its PTS.
                ASSERT_TRUE(units[0].dts.has_value());
                EXPECT_NEAR(*units[i].dts - *units[0].dts, To100ns(*timed[i].dts - *timed[0].dts), kTick);
                EXPECT_LE(*units[i].dts, *units[i].pts);
            }
        }
        std::printf("%s seed %u: %zu units, %d with DTS\n", c.name, seed, units.size(), with_dts);
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, Fixture, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
