// Elementary streams made by ffmpeg and x264, muxed by the multiplexer core into program,
// DVD and transport streams, judged by the outside tools: ffmpeg decodes them without a
// word, ffprobe names the codecs and stream ids, every stream extracted with -c copy is
// the input byte for byte, every packet's PTS and DTS is the one ffmpeg's own muxer gave
// the same frame (within a 90 kHz tick, after one common offset), the structural checker
// finds no fault, and tstools reads the transport streams.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/muxer/core/tests/systems_checker.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"
#include "tools/mux_driver.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
std::string FixtureName(const std::string& path) {
    return path.substr(path.find_last_of("/\\") + 1);
}
std::string Replace(std::string s, const std::string& from, const std::string& to) {
    const size_t at = s.find(from);
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

// Runs a shell line in the fixture folder; its status and output.
int Shell(const std::string& line, std::string* output) {
    const std::string log = testsupport::UniqueName("mux") + ".log";
    const int status = testsupport::RunShell(line, log);
    *output = testsupport::ReadFixtureFile(log);
    return status;
}

struct Packet {
    int stream = 0;
    std::optional<int64_t> pts, dts;  // 90 kHz
};

std::optional<int64_t> Field(const std::string& s) {
    if (s.empty() || s == "N/A") return std::nullopt;
    return std::strtoll(s.c_str(), nullptr, 10);
}

// ffprobe's packets of a systems stream, by stream index, in file order.
::testing::AssertionResult ProbePackets(const std::string& file, std::map<int, std::vector<Packet>>* out) {
    std::string text;
    const int status = Shell(
        "ffprobe -v error -show_entries packet=stream_index,pts,dts -of csv=p=0 '" + FixtureName(file) + "'", &text);
    if (status != 0) return ::testing::AssertionFailure() << "ffprobe failed: " << text;
    std::istringstream lines(text);
    std::string line;
    out->clear();
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        std::stringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, ','))
            f.push_back(cell);
        if (f.size() < 3) continue;
        Packet p;
        p.stream = static_cast<int>(std::strtol(f[0].c_str(), nullptr, 10));
        p.pts = Field(f[1]);
        p.dts = Field(f[2]);
        (*out)[p.stream].push_back(p);
    }
    if (out->empty()) return ::testing::AssertionFailure() << "no packets in " << file;
    return ::testing::AssertionSuccess();
}

struct Elementary {
    const char* format;  // ffmpeg's raw muxer
    const char* ext;
    const char* codec;  // ffprobe's codec_name in our output
    const char* id;     // ffprobe's id in a program stream
};

struct Source {
    const char* name;
    // Makes a transport stream with ffmpeg (the timing reference: ffmpeg's program streams
    // repeat a time stamp where a packet holds several audio frames); {y4m} is a raw clip and
    // {x264} an x264 encode of it, when the command names them.
    const char* command;
    const char* ext;
    std::vector<Elementary> streams;  // in the reference's stream order
    const char* fps;                  // for H.264 inputs
    std::vector<const char*> formats;
};

constexpr const char* kY4m =
    "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -frames:v 75 -pix_fmt yuv420p -f yuv4mpegpipe {out}";

const Source kSources[] = {
    {"Mpeg2VideoMp2",
     "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 "
     "-c:v mpeg2video -g 12 -bf 2 -c:a mp2 -b:a 192k -f mpegts {out}",
     "ts",
     {{"mpeg2video", "m2v", "mpeg2video", "0x1e0"}, {"mp2", "mp2", "mp2", "0x1c0"}},
     nullptr,
     {"ps", "dvd", "ts"}},
    {"Mpeg2VideoAc3",
     "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 "
     "-c:v mpeg2video -g 15 -bf 2 -c:a ac3 -b:a 192k -f mpegts {out}",
     "ts",
     {{"mpeg2video", "m2v", "mpeg2video", "0x1e0"}, {"ac3", "ac3", "ac3", "0x80"}},
     nullptr,
     {"ps", "dvd", "ts"}},
    {"Mpeg1VideoMp3At44100",
     "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 -t 3 "
     "-c:v mpeg1video -bf 0 -c:a libmp3lame -b:a 128k -f mpegts {out}",
     "ts",
     {{"mpeg1video", "m1v", "mpeg1video", "0x1e0"}, {"mp3", "mp3", "mp3", "0x1c0"}},
     nullptr,
     {"ps", "ts"}},
    {"H264MainBFramesAac",
     "ffmpeg -i {x264} -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 -map 0:v -map 1:a -c:v copy -c:a aac "
     "-b:a 128k -f mpegts {out}",
     "ts",
     {{"h264", "264", "h264", "0x1e0"}, {"adts", "aac", "aac", "0x1c0"}},
     "25",
     {"ts"}},
};

struct Case {
    const Source* source;
    std::string format;
};

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (const Source& s : kSources)
        for (const char* f : s.formats)
            cases.push_back({&s, f});
    return cases;
}

class MuxTool : public ::testing::TestWithParam<Case> {};

constexpr int64_t kTick = 1;  // 90 kHz

TEST_P(MuxTool, OutsideToolsAgreeWithTheOutput) {
    const Source& src = *GetParam().source;
    const std::string format = GetParam().format;
    std::string command = src.command;
    if (command.find("{x264}") != std::string::npos) {
        std::string y4m, mkv;
        ASSERT_TRUE(testsupport::MediaFixture(kY4m, "y4m", &y4m));
        ASSERT_TRUE(testsupport::MediaFixture(
            "x264 --quiet --profile main --bframes 3 --b-pyramid normal -o {out} " + FixtureName(y4m), "mkv", &mkv));
        command = Replace(command, "{x264}", FixtureName(mkv));
    }
    std::string reference;
    ASSERT_TRUE(testsupport::MediaFixture(command, src.ext, &reference));
    std::vector<std::string> inputs;
    for (size_t i = 0; i < src.streams.size(); ++i) {
        const Elementary& e = src.streams[i];
        std::string es;
        ASSERT_TRUE(testsupport::MediaFixture("ffmpeg -i " + FixtureName(reference) + " -map 0:" + std::to_string(i) +
                                                  " -c copy -f " + e.format +
                                                  (std::string(e.format) == "mp3" ? " -write_xing 0" : "") + " {out}",
                                              e.ext, &es));
        inputs.push_back(es);
    }

    muxdriver::Options options;
    options.format = format;
    options.inputs = inputs;
    std::string error;
    if (src.fps) {
        ASSERT_TRUE(muxdriver::ParseArguments({"--fps", src.fps, "-o", "x", "y"}, &options, &error));
    }
    options.inputs = inputs;
    const std::string name = std::string(src.name) + "." + (format == "ts" ? "ts" : format == "dvd" ? "vob" : "mpg");
    options.output = testsupport::FixturePath(name);
    const muxdriver::Result result = muxdriver::Run(options);
    ASSERT_TRUE(result.ok) << result.error;
    const std::vector<uint8_t> out = ReadAll(options.output);
    ASSERT_EQ(out.size(), result.bytes);

    // The structural checker.
    const muxertest::SystemsReport report =
        format == "ts" ? muxertest::CheckTransportStream(out) : muxertest::CheckProgramStream(out, format == "dvd");
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(report.pesPackets.size(), src.streams.size());
    if (format == "ts") {
        EXPECT_LE(report.maxPcrGap, 2700000);   // 0.1 s
        EXPECT_LE(report.maxPatGap, 13500000);  // 0.5 s
        EXPECT_LE(report.maxPmtGap, 13500000);
    } else {
        EXPECT_EQ(report.endCode, format == "ps");
    }

    // ffmpeg decodes it without a word.
    std::string text;
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -", &text), 0);
    EXPECT_EQ(text, "");

    // Codecs and ids (a DVD stream lists its navigation packets first).
    const int base = format == "dvd" ? 1 : 0;
    ASSERT_EQ(Shell("ffprobe -v error -show_entries stream=codec_name,id -of csv=p=0 '" + name + "'", &text), 0);
    std::istringstream lines(text);
    std::string line;
    size_t n = 0;
    // (A transport stream lists its streams twice: in the program and on their own.)
    for (int skipped = 0; std::getline(lines, line) && n < src.streams.size();) {
        if (line.empty()) continue;
        if (skipped++ < base) {
            EXPECT_EQ(line.substr(0, line.find(',')), "dvd_nav_packet");
            continue;
        }
        const std::string codec = line.substr(0, line.find(','));
        EXPECT_EQ(codec, src.streams[n].codec);
        if (format != "ts") {
            EXPECT_NE(line.find(src.streams[n].id), std::string::npos) << line;
        }
        ++n;
    }
    EXPECT_EQ(n, src.streams.size()) << text;

    // Every stream extracted is its input, byte for byte.
    for (size_t i = 0; i < src.streams.size(); ++i) {
        const Elementary& e = src.streams[i];
        const std::string copy = testsupport::UniqueName("copy") + "." + e.ext;
        ASSERT_EQ(
            Shell("ffmpeg -nostdin -v error -i '" + name + "' -map 0:" + std::to_string(i + base) + " -c copy -f " +
                      e.format + (std::string(e.format) == "mp3" ? " -write_xing 0" : "") + " " + copy,
                  &text),
            0)
            << text;
        const std::vector<uint8_t> input = ReadAll(inputs[i]);
        const std::vector<uint8_t> extracted = ReadAll(testsupport::FixturePath(copy));
        EXPECT_EQ(extracted.size(), input.size()) << e.ext;
        EXPECT_TRUE(extracted == input) << e.ext << " differs";
    }

    // Times: each packet's PTS and DTS as ffmpeg's muxer gave the same frame, after an
    // offset per stream (a raw elementary stream keeps no time of its own: each starts at
    // the multiplex's start, where ffmpeg's encoders leave their own lead between them).
    std::map<int, std::vector<Packet>> ours, theirs;
    ASSERT_TRUE(ProbePackets(options.output, &ours));
    ASSERT_TRUE(ProbePackets(reference, &theirs));
    if (base != 0) {
        std::map<int, std::vector<Packet>> shifted;
        for (auto& [index, list] : ours)
            if (index >= base) shifted[index - base] = std::move(list);
        ours = std::move(shifted);
    }
    ASSERT_EQ(ours.size(), theirs.size());
    int compared = 0;
    for (auto& [index, list] : theirs) {
        SCOPED_TRACE("stream " + std::to_string(index));
        ASSERT_EQ(ours[index].size(), list.size());
        size_t k0 = 0;
        while (k0 < list.size() && !(list[k0].pts && ours[index][k0].pts))
            ++k0;
        ASSERT_LT(k0, list.size());
        const int64_t offset = *ours[index][k0].pts - *list[k0].pts;
        for (size_t k = 0; k < list.size(); ++k) {
            const Packet& a = ours[index][k];
            const Packet& b = list[k];
            if (b.pts) {
                ASSERT_TRUE(a.pts.has_value()) << "packet " << k;
                EXPECT_NEAR(*a.pts - offset, *b.pts, kTick) << "PTS of packet " << k;
                ++compared;
            }
            if (b.dts) {
                ASSERT_TRUE(a.dts.has_value()) << "packet " << k;
                EXPECT_NEAR(*a.dts - offset, *b.dts, kTick) << "DTS of packet " << k;
            }
        }
    }
    EXPECT_GT(compared, 100);

    if (format == "dvd") {
        // dvdauthor builds a title from it (it warns of the test pictures' square pixels).
        const std::string dvd = testsupport::UniqueName("dvd");
        ASSERT_EQ(Shell("VIDEO_FORMAT=PAL dvdauthor -o " + dvd + " -t '" + name + "' && rm -rf " + dvd, &text), 0)
            << text;
        EXPECT_EQ(text.find("ERR"), std::string::npos) << text;
        EXPECT_NE(text.find("VOBUs"), std::string::npos) << text;
    }
    if (format == "ts") {
        ASSERT_EQ(Shell("tsinfo -max 100000 '" + name + "'", &text), 0) << text;
        EXPECT_NE(text.find("PMT"), std::string::npos) << text;
        ASSERT_EQ(Shell("tsreport '" + name + "'", &text), 0) << text;
    }
}

// ffmpeg-made DVD and transport streams, muxed again through the multiplexed input: the
// same elementary streams come out, with the same times, and the run ends.
struct Remux {
    const char* name;
    const char* command;
    const char* ext;
    const char* format;
};

const Remux kRemuxes[] = {
    {"DvdMpeg2Ac3ToTs",
     "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 "
     "-c:v mpeg2video -b:v 4M -g 12 -bf 2 -c:a ac3 -b:a 192k -f dvd {out}",
     "vob", "ts"},
    {"DvdMpeg2Mp2ToDvd",
     "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 "
     "-c:v mpeg2video -b:v 4M -g 12 -bf 2 -c:a mp2 -b:a 192k -f dvd {out}",
     "vob", "dvd"},
    {"TsMpeg2Mp2ToPs",
     "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 "
     "-c:v mpeg2video -b:v 4M -g 12 -bf 2 -c:a mp2 -b:a 192k -f mpegts {out}",
     "ts", "ps"},
    {"TsMpeg2Ac3ToTs",
     "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 "
     "-c:v mpeg2video -b:v 4M -g 15 -bf 2 -c:a ac3 -b:a 192k -f mpegts {out}",
     "ts", "ts"},
    // The audio begins 9 s (about 10 MB) into the file: a stream found that late joins
    // the running output.
    {"TsLateAudioToTs",
     "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -itsoffset 9 -f lavfi -t 3 -i "
     "sine=frequency=500:sample_rate=48000 -map 0:v -map 1:a -t 12 -c:v mpeg2video -b:v 9M -minrate 9M -maxrate 9M "
     "-bufsize 1835k -c:a mp2 -f mpegts {out}",
     "ts", "ts"},
};

class MuxToolRemux : public ::testing::TestWithParam<Remux> {};

// ffmpeg looks this far into a file for its streams (a stream may begin late).
const std::string kLook = "-probesize 64M -analyzeduration 30M ";

TEST_P(MuxToolRemux, ElementaryStreamsAndTimesSurvive) {
    const Remux& c = GetParam();
    std::string source;
    ASSERT_TRUE(testsupport::MediaFixture(c.command, c.ext, &source));
    muxdriver::Options options;
    options.format = c.format;
    options.inputs = {source};
    const std::string name = std::string(c.name) + (std::string(c.format) == "ts" ? ".ts" : ".mpg");
    options.output = testsupport::FixturePath(name);
    const muxdriver::Result result = muxdriver::Run(options);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.streams, 2);
    const std::vector<uint8_t> out = ReadAll(options.output);
    const std::string format = c.format;
    const muxertest::SystemsReport report =
        format == "ts" ? muxertest::CheckTransportStream(out) : muxertest::CheckProgramStream(out, format == "dvd");
    EXPECT_EQ(report.error, "");

    std::string text;
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error " + kLook + "-i '" + name + "' -f null -", &text), 0);
    EXPECT_EQ(text, "");
    for (const char* kind : {"v", "a"}) {
        const std::string a = testsupport::UniqueName("src") + ".bin", b = testsupport::UniqueName("out") + ".bin";
        ASSERT_EQ(Shell("ffmpeg -nostdin -v error " + kLook + "-i '" + FixtureName(source) + "' -map 0:" + kind +
                            " -c copy -f data " + a + " && ffmpeg -nostdin -v error " + kLook + "-i '" + name +
                            "' -map 0:" + kind + " -c copy -f data " + b,
                        &text),
                  0)
            << text;
        const std::vector<uint8_t> x = ReadAll(testsupport::FixturePath(a)), y = ReadAll(testsupport::FixturePath(b));
        EXPECT_FALSE(x.empty());
        EXPECT_TRUE(x == y) << kind << ": " << x.size() << " bytes in, " << y.size() << " out";
    }
    // Times by stream kind (the DVD's navigation stream has none).
    for (const char* kind : {"v", "a"}) {
        std::string ours, theirs;
        const std::string probe = "ffprobe -v error " + kLook + "-select_streams " + std::string(kind) +
                                  " -show_entries packet=pts,dts -of csv=p=0 ";
        ASSERT_EQ(Shell(probe + "'" + name + "'", &ours), 0);
        ASSERT_EQ(Shell(probe + "'" + FixtureName(source) + "'", &theirs), 0);
        std::istringstream a(ours), b(theirs);
        std::string la, lb;
        std::optional<int64_t> offset;
        int n = 0;
        auto next = [](std::istringstream& in, std::string& line) {
            while (std::getline(in, line))
                if (!line.empty()) return true;
            return false;
        };
        while (next(a, la) && next(b, lb)) {
            const auto pa = Field(la.substr(0, la.find(','))), pb = Field(lb.substr(0, lb.find(',')));
            if (!pa || !pb) continue;
            if (!offset) offset = *pa - *pb;
            EXPECT_NEAR(*pa - *offset, *pb, kTick) << kind << " packet " << n;
            ++n;
        }
        EXPECT_GT(n, 50) << kind;
    }
}

// A minute of video with two audio streams (MPEG and AC-3), in each output kind: the
// structural checker passes (no decoding time before its clock reference, no buffer
// underflow or overflow), a second run with the input read in other pieces (so that the
// feeding threads keep another pace) gives the same bytes, tsreport finds no decoding
// time before its PCR, and dvdauthor takes the DVD stream.
class MuxToolThreeStreams : public ::testing::TestWithParam<const char*> {};

TEST_P(MuxToolThreeStreams, AMinuteIsValidAndTheSameOnEveryRun) {
    const std::string format = GetParam();
    std::string source;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 60 "
        "-map 0:v -map 1:a -map 1:a -c:v mpeg2video -b:v 3M -g 12 -bf 2 -c:a:0 mp2 -b:a:0 192k -c:a:1 ac3 "
        "-b:a:1 192k -f mpegts {out}",
        "ts", &source));
    std::vector<std::string> inputs;
    const char* kinds[3][2] = {{"mpeg2video", "m2v"}, {"mp2", "mp2"}, {"ac3", "ac3"}};
    for (int i = 0; i < 3; ++i) {
        std::string es;
        ASSERT_TRUE(testsupport::MediaFixture("ffmpeg -i " + FixtureName(source) + " -map 0:" + std::to_string(i) +
                                                  " -c copy -f " + kinds[i][0] + " {out}",
                                              kinds[i][1], &es));
        inputs.push_back(es);
    }
    std::vector<std::vector<uint8_t>> outputs;
    const std::string name = "three_streams_" + format + (format == "ts" ? ".ts" : format == "dvd" ? ".vob" : ".mpg");
    for (uint32_t chunk : {65536u, 7001u}) {
        muxdriver::Options options;
        options.format = format;
        options.inputs = inputs;
        options.chunk = chunk;
        options.output = testsupport::FixturePath(name);
        const muxdriver::Result result = muxdriver::Run(options);
        ASSERT_TRUE(result.ok) << result.error;
        outputs.push_back(ReadAll(options.output));
    }
    EXPECT_TRUE(outputs[0] == outputs[1]) << "two runs differ";
    const muxertest::SystemsReport report = format == "ts" ? muxertest::CheckTransportStream(outputs[0])
                                                           : muxertest::CheckProgramStream(outputs[0], format == "dvd");
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(report.pesPackets.size(), 3u);
    std::string text;
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -map 0 -f null -", &text), 0);
    EXPECT_EQ(text, "");
    // Every stream's packets carry the input's times: one PTS per frame, each step one
    // frame (40 ms video in display order, 24 ms MPEG audio, 32 ms AC-3) over the minute.
    ASSERT_EQ(Shell("ffprobe -v error -show_entries packet=stream_index,pts -of csv=p=0 '" + name + "'", &text), 0);
    EXPECT_EQ(muxertest::FrameTimesFault(text, {2160, 2880, 3600}, 60), "");
    if (format == "ts") {
        ASSERT_EQ(Shell("tsreport -b '" + name + "'", &text), 0) << text;
        std::istringstream lines(text);
        std::string line;
        int minima = 0;
        while (std::getline(lines, line)) {
            const size_t at = line.find("Minimum difference was ");
            if (at == std::string::npos) continue;
            ++minima;
            EXPECT_GE(std::strtoll(line.c_str() + at + 23, nullptr, 10), 0) << line;
        }
        EXPECT_GE(minima, 3) << text;
    }
    if (format == "dvd") {
        const std::string dvd = testsupport::UniqueName("dvd");
        ASSERT_EQ(Shell("VIDEO_FORMAT=PAL dvdauthor -o " + dvd + " -t '" + name + "' && rm -rf " + dvd, &text), 0)
            << text;
        EXPECT_EQ(text.find("ERR"), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, MuxToolThreeStreams, ::testing::Values("ps", "dvd", "ts"));

// Soft telecine, as pulldown tools apply it to a film-rate MPEG-2 stream: the sequence
// says 30000/1001 frames a second of interlaced video, and each picture's coding extension
// (ISO/IEC 13818-2 6.2.3.1) shows it for three or two fields in the pattern TBT, BT, BTB, TB
// by display position (a group's display base plus temporal_reference).
std::vector<uint8_t> Telecine(std::vector<uint8_t> b) {
    int64_t base = 0, inGroup = 0, reference = 0;
    for (size_t i = 0; i + 8 <= b.size(); ++i) {
        if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
        const uint8_t code = b[i + 3];
        if (code == 0xB3) {
            b[i + 7] = static_cast<uint8_t>((b[i + 7] & 0xF0) | 4);  // frame_rate_code 4
        } else if (code == 0xB5 && (b[i + 4] >> 4) == 1) {
            b[i + 5] &= static_cast<uint8_t>(~0x08);  // progressive_sequence 0
        } else if (code == 0xB8) {
            base += inGroup;
            inGroup = 0;
        } else if (code == 0x00) {
            reference = ((b[i + 4] << 8) | b[i + 5]) >> 6;
            ++inGroup;
        } else if (code == 0xB5 && (b[i + 4] >> 4) == 8) {
            static constexpr uint8_t kTopFirst[4] = {1, 0, 0, 1}, kRepeat[4] = {1, 0, 1, 0};
            const int64_t k = (base + reference) % 4;
            b[i + 7] = static_cast<uint8_t>((b[i + 7] & ~0x82) | (kTopFirst[k] << 7) | (kRepeat[k] << 1));
        }
    }
    return b;
}

// Pictures shown for two or three fields (H.264 pic_struct, MPEG-2 repeat_first_field),
// including leading pictures of open groups and long runs of B pictures: in every output
// kind that carries the stream, decoding times rise, no picture is shown before it is
// decoded, and the presentation times in display order step by the fields ffprobe reads
// from each frame (2 + repeat_pict, one 90 kHz tick of rounding); with audio, the video
// ends with it.
struct FieldTimed {
    const char* name;
    const char* command;  // makes the elementary stream from {y4m}, or (MPEG-2) a film-rate one
    const char* rate;     // fields a second, as num/den
    bool telecine;
    std::vector<const char*> formats;
};

const FieldTimed kFieldTimed[] = {
    {"H264PulldownOpenGop",
     "x264 --quiet --bframes 3 --b-pyramid strict --open-gop --keyint 24 --pulldown 32 --fps 24000/1001 -o {out} "
     "{y4m}",
     "60000/1001",
     false,
     {"ts"}},
    {"H264PulldownLongBRunAt25",
     "x264 --quiet --bframes 5 --b-adapt 0 --open-gop --pulldown 32 --fps 25 -o {out} {y4m}",
     "125/2",
     false,
     {"ts"}},
    {"Mpeg2SoftTelecine",
     "ffmpeg -f lavfi -i testsrc=size=352x288:rate=24000/1001 -t 10 -c:v mpeg2video -g 12 -bf 2 -f mpeg2video {out}",
     "60000/1001",
     true,
     {"ps", "ts"}},
};

class MuxToolFields : public ::testing::TestWithParam<FieldTimed> {};

TEST_P(MuxToolFields, PicturesFollowTheirFields) {
    const FieldTimed& c = GetParam();
    std::string command = c.command, es, audio;
    if (command.find("{y4m}") != std::string::npos) {
        std::string y4m;
        ASSERT_TRUE(testsupport::MediaFixture(
            "ffmpeg -f lavfi -i testsrc2=size=320x240:rate=24000/1001 -frames:v 240 -pix_fmt yuv420p -f "
            "yuv4mpegpipe {out}",
            "y4m", &y4m));
        command = Replace(command, "{y4m}", FixtureName(y4m));
    }
    ASSERT_TRUE(testsupport::MediaFixture(command, c.telecine ? "m2v" : "264", &es));
    std::string esName = FixtureName(es);  // as the fixture folder's scripts name it
    if (c.telecine) {
        const std::vector<uint8_t> film = ReadAll(es);
        ASSERT_FALSE(film.empty());
        const std::vector<uint8_t> soft = Telecine(film);
        esName = testsupport::UniqueName("telecine") + ".m2v";
        es = testsupport::FixturePath(esName);
        std::ofstream(es, std::ios::binary)
            .write(reinterpret_cast<const char*>(soft.data()), static_cast<std::streamsize>(soft.size()));
        ASSERT_TRUE(testsupport::MediaFixture(
            "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=48000 -t 10 -c:a mp2 -f mp2 {out}", "mp2", &audio));
    }
    // The fields of each frame in display order, as ffprobe decodes them.
    std::string text;
    ASSERT_EQ(
        Shell("ffprobe -v error -show_frames -show_entries frame=repeat_pict -of csv=p=0 '" + esName + "'", &text), 0)
        << text;
    std::vector<int64_t> fields;
    {
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line))
            if (!line.empty() && line[0] >= '0' && line[0] <= '9') fields.push_back(2 + std::stoll(line));
    }
    ASSERT_GT(fields.size(), 200u);
    if (c.telecine) {
        ASSERT_NE(std::count(fields.begin(), fields.end(), 3), 0) << "no repeated fields in the fixture";
    }
    const std::string rate = c.rate;
    const double field = 90000.0 * std::stod(rate.substr(rate.find('/') + 1)) / std::stod(rate);

    for (const char* format : c.formats) {
        SCOPED_TRACE(format);
        muxdriver::Options options;
        options.format = format;
        options.inputs = {es};
        if (c.telecine) options.inputs.push_back(audio);
        options.output = testsupport::FixturePath(std::string(c.name) + "." + format);
        const muxdriver::Result result = muxdriver::Run(options);
        ASSERT_TRUE(result.ok) << result.error;
        const std::vector<uint8_t> out = ReadAll(options.output);
        const muxertest::SystemsReport report = std::string(format) == "ts" ? muxertest::CheckTransportStream(out)
                                                                            : muxertest::CheckProgramStream(out, false);
        EXPECT_EQ(report.error, "");
        std::map<int, std::vector<Packet>> packets;
        ASSERT_TRUE(ProbePackets(options.output, &packets));
        const std::vector<Packet>& video = packets[0];
        ASSERT_EQ(video.size(), fields.size());
        std::vector<int64_t> shown;
        int64_t lastDts = INT64_MIN;
        for (size_t k = 0; k < video.size(); ++k) {
            ASSERT_TRUE(video[k].pts.has_value()) << "packet " << k;
            const int64_t dts = video[k].dts.value_or(*video[k].pts);
            EXPECT_GT(dts, lastDts) << "decoding time of packet " << k << " does not rise";
            EXPECT_GE(*video[k].pts, dts) << "packet " << k << " shown before it is decoded";
            lastDts = dts;
            shown.push_back(*video[k].pts);
        }
        std::sort(shown.begin(), shown.end());
        int64_t sum = 0;
        for (size_t k = 0; k < shown.size(); ++k) {
            EXPECT_NEAR(shown[k] - shown[0], field * static_cast<double>(sum), 1.0) << "frame " << k;
            sum += fields[k];
        }
        if (c.telecine) {
            // The video ends with the 10 s of audio, within a frame (not 2 s before it).
            const std::vector<Packet>& sound = packets[1];
            ASSERT_FALSE(sound.empty());
            const double videoEnd = static_cast<double>(shown.back() - shown[0]) + field * fields.back();
            const double audioEnd = static_cast<double>(*sound.back().pts - *sound.front().pts) + 2160;
            EXPECT_NEAR(videoEnd, audioEnd, 3754) << "video " << videoEnd / 90000 << " s, audio " << audioEnd / 90000;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, MuxToolFields, ::testing::ValuesIn(kFieldTimed),
                         [](const auto& info) { return std::string(info.param.name); });

// Inputs that cannot give a valid output are refused with a message naming them, and no
// output is left behind: data that is not what its name says, data that is no stream at
// all, a multiplexed input with nothing recognisable in it, and streams the output kind
// cannot carry.
TEST(MuxToolRefusals, NamedInputAndNoOutput) {
    std::string mpeg2, h264, aac;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc=size=176x144:rate=25 -t 1 -c:v mpeg2video -f mpeg2video {out}", "m2v", &mpeg2));
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc=size=176x144:rate=25 -t 1 -c:v libx264 -f h264 {out}", "264", &h264));
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=48000 -t 1 -c:a aac -f adts {out}", "aac", &aac));
    std::string renamed, video_ac3, garbage, badmux;
    ASSERT_EQ(testsupport::RunShell("cp " + FixtureName(mpeg2) + " renamed_mpeg2.264 && cp " + FixtureName(mpeg2) +
                                    " video_as.ac3 && head -c 200000 /dev/urandom > garbage.mp2 && "
                                    "printf '\\000\\000\\001\\272' > badmux.mpg && head -c 200000 /dev/urandom >> "
                                    "badmux.mpg"),
              0);
    struct Refused {
        std::string format;
        std::vector<std::string> inputs;
        std::string named;  // the input the message must name
    };
    const std::vector<Refused> cases = {
        {"ps", {testsupport::FixturePath("renamed_mpeg2.264")}, "renamed_mpeg2.264"},
        {"ts", {mpeg2, testsupport::FixturePath("video_as.ac3")}, "video_as.ac3"},
        {"ts", {testsupport::FixturePath("garbage.mp2")}, "garbage.mp2"},
        {"ts", {testsupport::FixturePath("badmux.mpg")}, "badmux.mpg"},
        {"ps", {h264}, FixtureName(h264)},
        {"dvd", {h264}, FixtureName(h264)},
        {"dvd", {mpeg2, aac}, FixtureName(aac)},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.named + " to " + c.format);
        muxdriver::Options options;
        options.format = c.format;
        options.inputs = c.inputs;
        options.frameDuration = 400000;
        options.output = testsupport::FixturePath(testsupport::UniqueName("refused") + ".out");
        const muxdriver::Result result = muxdriver::Run(options);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.named), std::string::npos) << result.error;
        EXPECT_FALSE(std::ifstream(options.output).good()) << "an output was left behind";
    }
    // The same streams where the output kind carries them.
    for (const auto& [format, inputs] :
         std::vector<std::pair<std::string, std::vector<std::string>>>{{"ts", {h264, aac}}, {"ps", {mpeg2, aac}}}) {
        muxdriver::Options options;
        options.format = format;
        options.inputs = inputs;
        options.output = testsupport::FixturePath(testsupport::UniqueName("carried") + ".out");
        const muxdriver::Result result = muxdriver::Run(options);
        EXPECT_TRUE(result.ok) << format << ": " << result.error;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, MuxToolRemux, ::testing::ValuesIn(kRemuxes),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Streams, MuxTool, ::testing::ValuesIn(AllCases()), [](const auto& info) {
    return std::string(info.param.source->name) + "_" + info.param.format;
});

}  // namespace
