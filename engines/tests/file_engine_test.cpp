// The file conversion engine under Wine: file_convert on ffmpeg-made clips into one profile
// of every series, judged by ffprobe, ffmpeg's decoder, dvdauthor and vcdimager; and the
// registered engine driven through its interfaces as the conversion page drives it
// (refusal of Real profiles, abort in the middle, converting again).
#include <windows.h>
#include <oleauto.h>
#include <vfw.h>
#include <mmreg.h>
#include <msacm.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/profiles/profile_record.h"
#include "app/profiles/tests/mpeg_test_record.h"
#include "engines/client/compressor_search.h"
#include "engines/client/engine_client.h"
#include "engines/file_engine/file_engine_records.h"
#include "engines/file_engine/output_plan.h"
#include "engines/player/segment_scan.h"
#include "engines/tests/registered.h"
#include "filters/base/tests/com_test_util.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

using testsupport::FixtureName;
using testsupport::FixturePath;
using testsupport::UniqueName;

// Inputs of a few seconds, each a kind of file users bring.
const char kMpeg2Ac3[] =
    "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 "
    "-c:v mpeg2video -b:v 5M -c:a ac3 -ac 2 -b:a 192k -f vob {out}";
const char kDvAvi[] =
    "ffmpeg -f lavfi -i testsrc=size=720x480:rate=30000/1001 -f lavfi -i sine=frequency=660:sample_rate=48000 -t 2 "
    "-pix_fmt yuv411p -c:v dvvideo -c:a pcm_s16le -ac 2 -f avi {out}";
const char kMpeg4Mp3[] =
    "ffmpeg -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=frequency=500:sample_rate=44100 -t 3 "
    "-c:v mpeg4 -q:v 4 -c:a libmp3lame -ac 2 -b:a 128k -f avi {out}";
const char kH264Mp4[] =
    "ffmpeg -f lavfi -i testsrc=size=640x360:rate=30 -f lavfi -i sine=frequency=300:sample_rate=48000 -t 3 "
    "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -ac 2 -f mp4 {out}";

// Runs a Windows program of the build, waits up to five minutes and returns its exit code;
// its standard error goes to `errorLog` (a fixture path) when given.
DWORD RunProgramW(const std::wstring& commandLine, const std::string& errorLog = "") {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE log = INVALID_HANDLE_VALUE;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!errorLog.empty()) {
        log = CreateFileA(errorLog.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdError = log;
        startup.hStdOutput = log;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
        return 0xFFFFFFFF;
    }
    DWORD code = 0xFFFFFFFE;
    if (WaitForSingleObject(process.hProcess, 300000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
    return code;
}

std::wstring WidenAnsi(const std::string& ansi) {
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? size_t(n) : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, w.data(), n);
    w.resize(n > 0 ? size_t(n) - 1 : 0);
    return w;
}

DWORD RunProgram(const std::string& commandLine, const std::string& errorLog = "") {
    return RunProgramW(WidenAnsi(commandLine), errorLog);
}

std::string Narrow(const std::wstring& w) {
    return std::string(w.begin(), w.end());
}

std::string Driver() {
    return "\"" + Narrow(comtest::WinePath(FILE_CONVERT_EXE)) + "\" --resources \"" +
           Narrow(comtest::WinePath(TOVRT_DLL)) + "\"";
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

struct Probe {
    double duration = 0;  // the video stream's own duration, seconds (0 when it has none)
    std::string codec;
    int width = 0, height = 0;
    std::string rate;
    int64_t frames = 0;
    std::string audioCodec;
    int sampleRate = 0, channels = 0;
};

::testing::AssertionResult ProbeFile(const std::string& path, Probe* p) {
    std::string video, audio;
    auto r =
        testsupport::Ffprobe(path,
                             "-select_streams v:0 -count_frames -show_entries "
                             "stream=codec_name,width,height,r_frame_rate,nb_read_frames,duration -of default=nw=1",
                             &video);
    if (!r) return r;
    r = testsupport::Ffprobe(
        path, "-select_streams a:0 -show_entries stream=codec_name,sample_rate,channels -of csv=p=0", &audio);
    if (!r) return r;
    for (const auto& [key, value] : testsupport::KeyValues(video)) {
        if (key == "codec_name") p->codec = value;
        if (key == "width") p->width = std::stoi(value);
        if (key == "height") p->height = std::stoi(value);
        if (key == "r_frame_rate") p->rate = value;
        if (key == "nb_read_frames") p->frames = testsupport::ProbeNumber(value).value_or(-1);
        if (key == "duration") p->duration = testsupport::ProbeNumber(value) ? std::stod(value) : 0.0;
    }
    if (p->codec.empty()) return ::testing::AssertionFailure() << "no video stream: " << video;
    const auto a = testsupport::CsvRows(audio);
    if (!a.empty() && a[0].size() >= 3) {
        p->audioCodec = a[0][0];
        p->sampleRate = std::stoi(a[0][1]);
        p->channels = std::stoi(a[0][2]);
    }
    return ::testing::AssertionSuccess();
}

double RateOf(const std::string& fraction) {
    const size_t slash = fraction.find('/');
    if (slash == std::string::npos) return std::stod(fraction);
    return std::stod(fraction.substr(0, slash)) / std::stod(fraction.substr(slash + 1));
}

// Seconds of video the file holds: its decoded pictures over its frame rate.
double VideoSeconds(const Probe& p) {
    return double(p.frames) / RateOf(p.rate);
}

struct ConversionCase {
    const char* profile;
    const char* input;
    const char* extension;
    const char* codec;
    int width, height;
    const char* rate;
    const char* audioCodec;
    int sampleRate, channels;
    double rangeIn, rangeOut;  // seconds; both 0 for the whole input
    const char* judge;         // a shell check of {out} besides ffprobe and ffmpeg, or null
};

const ConversionCase kCases[] = {
    {"MPEG-1 320x240 29.97 fps 1150 kbit/s", kMpeg4Mp3, "mpg", "mpeg1video", 320, 240, "30000/1001", "mp2", 44100, 2, 0,
     0, nullptr},
    {"MPEG-2 640x480 29.97 fps 4000 kbit/s", kH264Mp4, "mpg", "mpeg2video", 640, 480, "30000/1001", "mp2", 44100, 2, 0,
     0, nullptr},
    {"VCD 352x288 25 fps 1150 kbit/s", kMpeg2Ac3, "mpg", "mpeg1video", 352, 288, "25/1", "mp2", 44100, 2, 0, 0,
     "vcdimager -t vcd2 -c {out}.cue -b {out}.bin {out}"},
    {"SVCD 480x576 25 fps 2400 kbit/s Q6", kMpeg2Ac3, "mpg", "mpeg2video", 480, 576, "25/1", "mp2", 44100, 2, 0, 0,
     "vcdimager -t svcd -c {out}.cue -b {out}.bin {out}"},
    {"DVD 720x576 25 fps 8000 kbit/s", kMpeg2Ac3, "mpg", "mpeg2video", 720, 576, "25/1", "mp2", 48000, 2, 0.5, 2.5,
     "VIDEO_FORMAT=PAL dvdauthor -o {out}.dvd -t {out} && VIDEO_FORMAT=PAL dvdauthor -o {out}.dvd -T"},
    {"MPEG-2 Camcorder", kDvAvi, "mpg", "mpeg2video", 720, 480, "30000/1001", "mp2", 48000, 2, 0, 0, nullptr},
    {"AVI DivX 352x240", kH264Mp4, "avi", "mpeg4", 352, 240, "30/1", "mp3", 22050, 2, 0, 0, nullptr},
    {"DV type 2 48 kHz (2001)", kMpeg4Mp3, "avi", "dvvideo", 720, 576, "25/1", "pcm_s16le", 48000, 2, 0, 0, nullptr},
    {"DV type 1 32 kHz (2001)", kMpeg2Ac3, "avi", "dvvideo", 720, 576, "25/1", "pcm_s16le", 32000, 2, 1.0, 2.0,
     nullptr},
    {"QuickTime 160x120 quality 2", kDvAvi, "mov", "rpza", 160, 120, "30000/1001", "pcm_s16be", 44100, 2, 0, 0,
     nullptr},
    {"H.264 Standard", kMpeg2Ac3, "mpg", "h264", 720, 480, "30000/1001", "mp2", 48000, 2, 0, 0, nullptr},
};

// The mean level of a file's first audio stream in dB, as ffmpeg's volumedetect measures it
// (the fixtures' tones are steady, so a faithful conversion keeps it); NaN when unmeasured.
double MeanVolume(const std::string& fixtureName) {
    const std::string log = UniqueName("volume") + ".log";
    if (testsupport::RunShell("ffmpeg -nostdin -v info -i '" + fixtureName +
                                  "' -map 0:a:0 -af volumedetect -f null - " +
                                  "2>&1 | sed -n 's/.*mean_volume: \\(-*[0-9.]*\\) dB.*/\\1/p'",
                              log) != 0)
        return NAN;
    const std::string text = testsupport::ReadFixtureFile(log);
    return text.empty() ? NAN : std::atof(text.c_str());
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// What the judges say of an input fixture, measured once for the program: the inputs are
// shared by many conversions, and each measurement is an outside process started from Wine.
struct InputFacts {
    Probe probe;
    double level = NAN;  // MeanVolume
};
::testing::AssertionResult FactsOf(const std::string& input, InputFacts* facts) {
    static std::map<std::string, InputFacts> known;
    const auto found = known.find(input);
    if (found != known.end()) {
        *facts = found->second;
        return ::testing::AssertionSuccess();
    }
    InputFacts measured;
    auto probed = ProbeFile(input, &measured.probe);
    if (!probed) return probed;
    measured.level = MeanVolume(FixtureName(input));
    *facts = known[input] = measured;
    return ::testing::AssertionSuccess();
}

// Converts `input` with the driver and checks the output against the expectations.
void CheckConversion(const ConversionCase& c, const std::string& commandTail = "") {
    SCOPED_TRACE(c.profile);
    std::string input;
    ASSERT_TRUE(testsupport::MediaFixture(c.input, "in", &input));
    InputFacts facts;
    ASSERT_TRUE(FactsOf(input, &facts));
    const Probe& source = facts.probe;
    const std::string output = FixturePath(UniqueName("converted") + "." + c.extension);
    std::string command =
        Driver() + (commandTail.empty() ? std::string(" --profile \"") + c.profile + "\"" : commandTail);
    if (c.rangeOut > 0) command += " --range " + std::to_string(c.rangeIn) + " " + std::to_string(c.rangeOut);
    command += " -o \"" + output + "\" \"" + input + "\"";
    const std::string log = FixturePath(UniqueName("file_convert") + ".log");
    ASSERT_EQ(RunProgram(command, log), 0u) << ReadText(log);
    ASSERT_TRUE(FileExists(output));
    EXPECT_FALSE(FileExists(output + ".converting"));

    Probe out;
    ASSERT_TRUE(ProbeFile(output, &out));
    EXPECT_EQ(out.codec, c.codec);
    EXPECT_EQ(out.width, c.width);
    EXPECT_EQ(out.height, c.height);
    EXPECT_EQ(out.rate, c.rate);
    EXPECT_EQ(out.audioCodec, c.audioCodec);
    EXPECT_EQ(out.sampleRate, c.sampleRate);
    EXPECT_EQ(out.channels, c.channels);
    // The input's length: its pictures at its rate, or the span of their time stamps when
    // these leave gaps.
    const double expected = c.rangeOut > 0 ? c.rangeOut - c.rangeIn : std::max(VideoSeconds(source), source.duration);
    EXPECT_LE(std::fabs(VideoSeconds(out) - expected), 1.0 / RateOf(c.rate) + 1e-6)
        << out.frames << " pictures at " << out.rate << " against " << expected << " s";

    const std::string name = FixtureName(output);
    // The sound is the input's, not silence put in its place.
    const double inputLevel = facts.level, outputLevel = MeanVolume(name);
    EXPECT_NEAR(outputLevel, inputLevel, 1.5) << "mean audio level in dB";
    const std::string decodeLog = UniqueName("decode") + ".log";
    ASSERT_EQ(testsupport::RunShell("ffmpeg -nostdin -v error -i '" + name + "' -f null -", decodeLog), 0);
    EXPECT_EQ(testsupport::ReadFixtureFile(decodeLog), "");
    if (c.judge) {
        const std::string judgeLog = UniqueName("judge") + ".log";
        EXPECT_EQ(testsupport::RunShell(Replace(c.judge, "{out}", "'" + name + "'"), judgeLog), 0)
            << testsupport::ReadFixtureFile(judgeLog);
    }
}

class FileConvert : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(FileConvert, OutputCarriesTheProfilesFormat) {
    CheckConversion(GetParam());
}

INSTANTIATE_TEST_SUITE_P(BuiltinSeries, FileConvert, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ConversionCase>& info) {
                             std::string name;
                             for (const char* p = info.param.profile; *p; ++p)
                                 if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                             return name;
                         });

// Names outside the ANSI code page (Cyrillic here; the records carry ANSI paths): the
// driver reaches the input by its short name, writes under a stand-in name and gives the
// result its own name at the end.
TEST(FileConvertPaths, InputAndOutputNamesOutsideTheCodePage) {
    std::string input;
    ASSERT_TRUE(testsupport::MediaFixture(kMpeg2Ac3, "in", &input));
    const std::wstring folder = WidenAnsi(FixturePath(UniqueName("paths")));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring clip = folder + L"\\\x043a\x043b\x0438\x043f \x00e9.mpg";
    const std::wstring output = folder + L"\\\x0432\x044b\x0445\x043e\x0434.mpg";
    ASSERT_TRUE(CopyFileW(WidenAnsi(input).c_str(), clip.c_str(), FALSE));
    const std::string log = FixturePath(UniqueName("file_convert") + ".log");
    ASSERT_EQ(RunProgramW(WidenAnsi(Driver()) + L" --profile \"DVD 720x576 25 fps 8000 kbit/s\" -o \"" + output +
                              L"\" \"" + clip + L"\"",
                          log),
              0u)
        << ReadText(log);
    // Only the clip and the output remain in the folder.
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE walk = FindFirstFileW((folder + L"\\*").c_str(), &found);
    ASSERT_NE(walk, INVALID_HANDLE_VALUE);
    do {
        if (found.cFileName[0] != L'.') names.push_back(found.cFileName);
    } while (FindNextFileW(walk, &found));
    FindClose(walk);
    EXPECT_EQ(names.size(), 2u);
    const std::string probed = FixturePath(UniqueName("paths-out") + ".mpg");
    ASSERT_TRUE(MoveFileW(output.c_str(), WidenAnsi(probed).c_str()));
    Probe out;
    ASSERT_TRUE(ProbeFile(probed, &out));
    EXPECT_EQ(out.codec, "mpeg2video");
    EXPECT_EQ(out.audioCodec, "mp2");
}

// Wine offers no Windows Media system profiles, so the class-8 record is made here: its
// values carry the video and audio bit rates.
TEST(FileConvertWindowsMedia, StreamInfoRecordGivesAsfWithWmv2AndWmav2) {
    auto record = std::make_unique<profiles::ProfileRecord>();
    std::memset(record.get(), 0, sizeof *record);
    profiles::CopyText(record->head.className, "WM", 2);
    profiles::CopyText(record->head.name, "Test stream", 11);
    record->head.videoFormatClass = profiles::kClassStreamInfo;
    record->head.streamFlag = 3;
    record->block.streamInfo.values[2] = 800000;
    record->block.streamInfo.values[3] = 96000;
    const std::string recordPath = FixturePath(UniqueName("wm") + ".profile");
    FILE* f = std::fopen(recordPath.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(record.get(), 1, sizeof *record, f), sizeof *record);
    std::fclose(f);
    const ConversionCase c{"Test stream", kMpeg4Mp3, "wmv", "wmv2", 320, 240, "25/1", "wmav2", 44100, 2, 0, 0, nullptr};
    CheckConversion(c, " --profile-record \"" + recordPath + "\"");
}

TEST(FileConvertRefusal, RealProfileIsRefusedWithItsMessageAndNoFile) {
    std::string input;
    ASSERT_TRUE(testsupport::MediaFixture(kMpeg4Mp3, "in", &input));
    const std::string output = FixturePath(UniqueName("real") + ".rm");
    const std::string log = FixturePath(UniqueName("file_convert") + ".log");
    EXPECT_EQ(
        RunProgram(Driver() + " --profile \"Real 160x120 audience 1\" -o \"" + output + "\" \"" + input + "\"", log),
        1u);
    EXPECT_NE(ReadText(log).find(fileengine::kRealRefusal), std::string::npos) << ReadText(log);
    EXPECT_FALSE(FileExists(output));
    EXPECT_FALSE(FileExists(output + ".converting"));
}

// PSNR in dB between the first pictures of two inputs after `graph` (a filter graph from
// [0:v] and [1:v] to [a] and [b]), as ffmpeg measures it; -1 when unmeasured.
double Psnr(const std::string& inputs, const std::string& graph) {
    const std::string log = UniqueName("psnr") + ".log";
    if (testsupport::RunShell(
            "ffmpeg -nostdin -v info " + inputs + " -filter_complex '" + graph +
                ";[a][b]psnr' -f null - 2>&1 | sed -n 's/.*PSNR.* average:\\([0-9.]*\\|inf\\).*/\\1/p'",
            log) != 0)
        return -1;
    const std::string text = testsupport::ReadFixtureFile(log);
    if (text.rfind("inf", 0) == 0) return 100;
    return text.empty() ? -1 : std::atof(text.c_str());
}

// Selects picture `n` (from 0) of an ffmpeg input as the first.
std::string Picture(int n) {
    return "select=eq(n\\," + std::to_string(n) + "),setpts=N";
}

// PSNR of picture `a` of fixture `first` against picture `b` of fixture `second`, both
// decoded by ffmpeg.
double PicturePsnr(const std::string& first, int a, const std::string& second, int b) {
    return Psnr("-i '" + first + "' -i '" + second + "'", "[0:v]" + Picture(a) + "[a];[1:v]" + Picture(b) + "[b]");
}

// Two recordings joined end to end, as on a disc: the second's stamps start again near
// those of the first. `paths` are the titles' own files, `joined` (a fixture name) the
// two joined, `segments` the file's titles as the file page lists them.
struct JoinedTitles {
    std::string paths[2];
    std::string joined;
    std::vector<engines::SegmentRecord> segments;
};

// The second title lasts `secondSeconds`; a long one (70 s at 6 Mbit/s: some 27,000
// packs) lies beyond what reading from the title's head reaches in bounded time.
::testing::AssertionResult MakeJoinedTitles(JoinedTitles* t, int secondSeconds = 3) {
    const std::string titles[] = {
        "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 "
        "-c:v mpeg2video -b:v 6M -c:a mp2 -ac 2 -f vob {out}",
        "ffmpeg -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i sine=frequency=880:sample_rate=48000 -t " +
            std::to_string(secondSeconds) + " -c:v mpeg2video -b:v 6M " +
            (secondSeconds > 3 ? "-minrate 6M -maxrate 6M -bufsize 1835k " : "") + "-c:a mp2 -ac 2 -f vob {out}",
    };
    for (int i = 0; i < 2; ++i)
        if (!testsupport::MediaFixture(titles[i], "vob", &t->paths[i]))
            return ::testing::AssertionFailure() << "no title " << i;
    t->joined = UniqueName("joined") + ".vob";
    if (testsupport::RunShell("cat '" + FixtureName(t->paths[0]) + "' '" + FixtureName(t->paths[1]) + "' > '" +
                              t->joined + "'") != 0)
        return ::testing::AssertionFailure() << "cannot join the titles";
    t->segments = engines::ScanSegments(FixturePath(t->joined), nullptr);
    if (t->segments.size() != 2) return ::testing::AssertionFailure() << t->segments.size() << " segments";
    return ::testing::AssertionSuccess();
}

// Each title, and a part of one, listed as the file page lists them (from the segment
// scan), converts its own pictures: as long as that title, its first and last pictures
// those of the title where they lie; also a second more than a minute into a long title.
TEST(FileConvertTitles, EachTitleOfAJoinedProgramStreamConvertsItsOwnPictures) {
    JoinedTitles short_, long_;
    ASSERT_TRUE(MakeJoinedTitles(&short_));
    ASSERT_TRUE(MakeJoinedTitles(&long_, 70));

    struct Case {
        const JoinedTitles* joined;
        int title;
        double skipHead, skipTail;  // seconds of the title left out at either end
    };
    const Case cases[] = {{&short_, 0, 0, 0}, {&short_, 1, 0, 0}, {&short_, 1, 1.0, 0.6}, {&long_, 1, 62.0, 7.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "title " << c.title << " less " << c.skipHead << " s and " << c.skipTail
                                        << " s");
        const JoinedTitles& joined = *c.joined;
        Probe parts[2];
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(ProbeFile(joined.paths[i], &parts[i]));
        const engines::SegmentRecord& s = joined.segments[size_t(c.title)];
        // The page's entry: from the later start of the title's streams to the earlier end.
        const double in = double(std::max(s.videoStart, s.audioStart)) / 1e7 + c.skipHead;
        const double out = double(std::min(s.videoEnd, s.audioEnd)) / 1e7 - c.skipTail;
        const std::string output = FixturePath(UniqueName("title") + ".mpg");
        const std::string log = FixturePath(UniqueName("file_convert") + ".log");
        ASSERT_EQ(
            RunProgram(Driver() + " --profile \"DVD 720x576 25 fps 8000 kbit/s\" --range " + std::to_string(in) + " " +
                           std::to_string(out) + " -o \"" + output + "\" \"" + FixturePath(joined.joined) + "\"",
                       log),
            0u)
            << ReadText(log);
        Probe converted;
        ASSERT_TRUE(ProbeFile(output, &converted));
        const Probe& title = parts[c.title];
        EXPECT_NEAR(VideoSeconds(converted), VideoSeconds(title) - c.skipHead - c.skipTail, 0.04 + 1e-6);
        const int first = static_cast<int>(c.skipHead * 25 + 0.5);
        const int last = first + static_cast<int>(converted.frames) - 1;
        const std::string name = FixtureName(output), source = FixtureName(joined.paths[c.title]);
        EXPECT_GT(PicturePsnr(name, 0, source, first), 30.0) << "first picture against the title's " << first;
        EXPECT_GT(PicturePsnr(name, int(converted.frames) - 1, source, last), 30.0)
            << "last picture against the title's " << last;
    }
}

// A whole joined file converted with no range holds every title one after another: as
// many pictures as the titles together, each title's first picture where it begins.
TEST(FileConvertTitles, AJoinedProgramStreamWithoutARangeConvertsEveryTitle) {
    JoinedTitles joined;
    ASSERT_TRUE(MakeJoinedTitles(&joined));
    Probe parts[2];
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(ProbeFile(joined.paths[i], &parts[i]));
    const std::string output = FixturePath(UniqueName("whole") + ".mpg");
    const std::string log = FixturePath(UniqueName("file_convert") + ".log");
    ASSERT_EQ(RunProgram(Driver() + " --profile \"DVD 720x576 25 fps 8000 kbit/s\" -o \"" + output + "\" \"" +
                             FixturePath(joined.joined) + "\"",
                         log),
              0u)
        << ReadText(log);
    Probe converted;
    ASSERT_TRUE(ProbeFile(output, &converted));
    EXPECT_NEAR(double(converted.frames), double(parts[0].frames + parts[1].frames), 1.0);
    EXPECT_NEAR(VideoSeconds(converted), VideoSeconds(parts[0]) + VideoSeconds(parts[1]), 0.04 + 1e-6);
    std::string duration;
    ASSERT_TRUE(testsupport::Ffprobe(output, "-show_entries format=duration -of csv=p=0", &duration));
    EXPECT_NEAR(std::stod(duration), VideoSeconds(parts[0]) + VideoSeconds(parts[1]), 0.1) << "the file's length";
    const std::string name = FixtureName(output);
    EXPECT_GT(PicturePsnr(name, 0, FixtureName(joined.paths[0]), 0), 30.0) << "the first title's first picture";
    EXPECT_GT(PicturePsnr(name, int(parts[0].frames), FixtureName(joined.paths[1]), 0), 30.0)
        << "the second title's first picture";
    EXPECT_GT(PicturePsnr(name, int(converted.frames) - 1, FixtureName(joined.paths[1]), int(parts[1].frames) - 1),
              30.0)
        << "the second title's last picture";
}

// ---- the registered engine, driven as the page drives it ----

class EngineWindow {
public:
    EngineWindow() {
        window_ = CreateWindowExW(0, L"STATIC", L"engine test", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    ~EngineWindow() { DestroyWindow(window_); }
    HWND Handle() const { return window_; }
    // Pumps messages until `message` arrives (its wParam through `wParam`) or the time ends.
    bool WaitFor(UINT message, WPARAM* wParam, DWORD milliseconds) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < milliseconds) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == message) {
                    if (wParam) *wParam = msg.wParam;
                    return true;
                }
                DispatchMessageW(&msg);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        return false;
    }

private:
    HWND window_ = nullptr;
};

// A picture clip on the timeline from `start` to `end`, of the file from `in` for `duration`.
std::vector<BYTE> VideoClip(const std::string& path, int64_t start, int64_t end, int64_t duration, int64_t in = 0) {
    std::vector<BYTE> r(fileengine::kClipRecordBytes, 0);
    const uint32_t one = 1;
    std::memcpy(r.data() + fileengine::kClipTimelineStart, &start, 8);
    std::memcpy(r.data() + fileengine::kClipTimelineEnd, &end, 8);
    std::memcpy(r.data() + fileengine::kClipKind, &one, 4);
    std::memcpy(r.data() + fileengine::kClipFlag, &one, 4);
    std::memcpy(r.data() + fileengine::kClipPath, path.c_str(), path.size());
    const int64_t out = in + duration;
    std::memcpy(r.data() + fileengine::kClipSourceRange, &in, 8);
    std::memcpy(r.data() + fileengine::kClipSourceRange + 8, &out, 8);
    return r;
}

// The built-in DVD profile (PAL, 8 Mbit/s) as the store hands it over.
std::unique_ptr<profiles::ProfileRecord> DvdRecord(const std::string& output) {
    auto r = profiles::testing::MpegTestRecord(profiles::kClassDvd, 8000000, 8300000, 720, 576);
    profiles::CopyText(r->head.outputFileName, output.c_str(), output.size());
    return r;
}

// The colour of the preview window at its centre.
COLORREF CentrePixel(HWND window) {
    HDC dc = GetDC(window);
    const COLORREF c = GetPixel(dc, 80, 60);
    ReleaseDC(window, dc);
    return c;
}

bool Near(COLORREF c, int r, int g, int b) {
    return std::abs(GetRValue(c) - r) < 40 && std::abs(GetGValue(c) - g) < 40 && std::abs(GetBValue(c) - b) < 40;
}

class EngineTest : public ::testing::Test {
protected:
    // The engine is registered once for the suite, under its registration lock: each
    // registration and removal is a regsvr32 process, seconds of a loaded machine, and no
    // test of the suite changes it.
    static void SetUpTestSuite() {
        lock_ = std::make_unique<enginetest::NamedLock>(enginetest::kFileEngineRegistrationLock, 600000);
        server_ = std::make_unique<enginetest::Registered>(FILE_ENGINE_DLL);
    }
    static void TearDownTestSuite() {
        server_.reset();
        lock_.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(lock_->Held() && server_->Ok());
        ASSERT_EQ(CreateFileEngine(&timeline_, &control_), S_OK);
        // The page's set-up, in its order.
        timeline_->EnableUpdates(FALSE);
        EXPECT_EQ(timeline_->RemoveClips(1, -1), S_OK);
        EXPECT_EQ(timeline_->RemoveClips(2, -1), S_OK);
        EXPECT_EQ(control_->SetFrameRate(2500), S_OK);
        EXPECT_EQ(control_->SetPreviewWindow(window_.Handle(), 0, 0, 64, 48), S_OK);
        EXPECT_EQ(control_->SetNotifyWindow(window_.Handle()), S_OK);
        EXPECT_EQ(control_->Prepare(0, 0, 0, 0, 0), S_OK);
        EXPECT_EQ(control_->EnablePreview(FALSE), S_OK);
        timeline_->EnableUpdates(TRUE);
    }
    void TearDown() override {
        if (timeline_) {
            EXPECT_EQ(ReleaseFileEngine(&timeline_, &control_), S_OK);
        }
    }
    void AddInput(const std::string& path, int64_t duration) {
        const std::vector<BYTE> clip = VideoClip(path, 0, duration, duration);
        ASSERT_EQ(timeline_->AddClip(0, 0, clip.data()), S_OK);
        ASSERT_EQ(timeline_->AddClip(1, 0, clip.data()), S_OK);
        ASSERT_EQ(timeline_->SetClipRange(1, 0, 0, 0, 1.0f), S_OK);
        ASSERT_EQ(timeline_->SetClipRange(1, 0, 1, duration, 1.0f), S_OK);
    }

    // Starts converting a 12-second 720x576 MPEG-2 clip into `output` with the DVD profile.
    void StartTwelveSecondDvd(const std::string& output, BOOL preview) {
        std::string input;
        ASSERT_TRUE(
            testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i "
                                      "sine=sample_rate=48000 -t 12 -c:v mpeg2video -b:v 4M -c:a mp2 -f vob {out}",
                                      "in", &input));
        AddInput(input, 120000000);
        const auto record = DvdRecord(output);
        ASSERT_EQ(control_->SetProfile(reinterpret_cast<const BYTE*>(record.get())), S_OK);
        ASSERT_EQ(control_->SetPreviewDuringConvert(preview), S_OK);
        ASSERT_EQ(control_->StartConvert(0, 0, 0, 0, 0), S_OK);
    }

    // The timeline holds a 2-second clip, red for its first second and blue for its second,
    // and the preview goes to a window of its own whose colour before drawing is `before`.
    void ShowRedThenBlue(HWND* screen, COLORREF* before) {
        std::string input;
        ASSERT_TRUE(testsupport::MediaFixture(
            "ffmpeg -f lavfi -i color=c=red:s=320x240:r=25:d=1 -f lavfi -i color=c=blue:s=320x240:r=25:d=1 "
            "-filter_complex concat=n=2 -c:v mpeg2video -q:v 2 -f vob {out}",
            "in", &input));
        *screen = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 160, 120, nullptr,
                                  nullptr, nullptr, nullptr);
        ASSERT_NE(*screen, nullptr);
        UpdateWindow(*screen);
        window_.WaitFor(WM_NULL + 0xFFFF, nullptr, 200);  // lets the window paint itself first
        *before = CentrePixel(*screen);
        ASSERT_EQ(control_->SetPreviewWindow(*screen, 0, 0, 160, 120), S_OK);
        AddInput(input, 20000000);
    }

    static inline std::unique_ptr<enginetest::NamedLock> lock_;
    static inline std::unique_ptr<enginetest::Registered> server_;
    comtest::ComScope com_;
    EngineWindow window_;
    IFileEngineTimeline* timeline_ = nullptr;
    IFileEngineControl* control_ = nullptr;
};

// Play shows the pictures under the moving position in the preview rectangle: the first
// second of the clip is red, the second blue; with the preview off nothing is drawn.
TEST_F(EngineTest, PlayDrawsThePicturesUnderThePositionIntoThePreviewWindow) {
    HWND screen = nullptr;
    COLORREF before = 0;
    ASSERT_NO_FATAL_FAILURE(ShowRedThenBlue(&screen, &before));

    // Preview off: the position runs, nothing is drawn.
    ASSERT_EQ(control_->EnablePreview(FALSE), S_OK);
    ASSERT_EQ(control_->SetRange(0, 3000000, 0), S_OK);
    ASSERT_EQ(control_->Play(2.0f), S_OK);
    EXPECT_TRUE(window_.WaitFor(WM_APP + 200, nullptr, 10000));
    EXPECT_EQ(CentrePixel(screen), before);

    struct Case {
        int64_t start, end;
        int r, g, b;
    };
    const Case cases[] = {{0, 4000000, 255, 0, 0}, {8000000, 14000000, 0, 0, 255}};
    ASSERT_EQ(control_->EnablePreview(TRUE), S_OK);
    for (const Case& c : cases) {
        ASSERT_EQ(control_->SetRange(c.start, c.end, 0), S_OK);
        ASSERT_EQ(control_->Play(1.0f), S_OK);
        EXPECT_TRUE(window_.WaitFor(WM_APP + 200, nullptr, 10000));
        const COLORREF shown = CentrePixel(screen);
        EXPECT_TRUE(Near(shown, c.r, c.g, c.b)) << "range from " << c.start << ": " << std::hex << shown;
    }
    EXPECT_EQ(control_->Pause(), S_OK);
    DestroyWindow(screen);
}

// Pumps messages until the centre of `screen` shows the colour or the time ends.
bool WaitForColour(EngineWindow& window, HWND screen, int r, int g, int b, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (!Near(CentrePixel(screen), r, g, b)) {
        if (GetTickCount() - start >= milliseconds) return false;
        window.WaitFor(WM_NULL + 0xFFFF, nullptr, 50);
    }
    return true;
}

// A new range shows the picture at its start: still after a frame step, a typed time or a
// stop, and as the new start of a running playback after a slider move. The clip is red
// up to 1 s and blue from there, so the last red picture (0.96 s) and the first blue one
// (1.00 s) tell a step of one frame. Turning the preview on shows the picture at once;
// with it off nothing is drawn.
TEST_F(EngineTest, SetRangeShowsThePictureAtTheNewPosition) {
    HWND screen = nullptr;
    COLORREF before = 0;
    ASSERT_NO_FATAL_FAILURE(ShowRedThenBlue(&screen, &before));
    constexpr int64_t kEnd = 20000000;

    ASSERT_EQ(control_->SetRange(12000000, kEnd, 1), S_OK);
    window_.WaitFor(WM_NULL + 0xFFFF, nullptr, 500);
    EXPECT_EQ(CentrePixel(screen), before) << "drawn with the preview off";
    ASSERT_EQ(control_->EnablePreview(TRUE), S_OK);
    EXPECT_TRUE(WaitForColour(window_, screen, 0, 0, 255, 10000)) << "nothing shown when the preview came on";

    struct Case {
        int64_t start;
        DWORD flag;
        int r, g, b;
    };
    const Case cases[] = {
        {9600000, 1, 255, 0, 0},   // one frame back from 1.00 s
        {10000000, 1, 0, 0, 255},  // one frame on
        {3000000, 0, 255, 0, 0},   // a stop or a slider move
        {19600000, 1, 0, 0, 255},  // the last picture
    };
    for (const Case& c : cases) {
        ASSERT_EQ(control_->SetRange(c.start, kEnd, c.flag), S_OK);
        EXPECT_TRUE(WaitForColour(window_, screen, c.r, c.g, c.b, 10000))
            << "range from " << c.start << ": " << std::hex << CentrePixel(screen);
    }

    // While playing (slowly, so that the red second lasts), a new range moves the playback there.
    ASSERT_EQ(control_->SetRange(12000000, kEnd, 0), S_OK);
    ASSERT_EQ(control_->Play(0.25f), S_OK);
    ASSERT_EQ(control_->SetRange(1000000, kEnd, 0), S_OK);
    EXPECT_TRUE(WaitForColour(window_, screen, 255, 0, 0, 5000)) << "playback did not move back";
    LONGLONG position = 0;
    ASSERT_EQ(control_->GetPosition(&position), S_OK);
    EXPECT_LT(position, 10000000);
    EXPECT_EQ(control_->Pause(), S_OK);
    DestroyWindow(screen);
}

// The pictures of `window`'s client area, `width` x `height` from its corner, as 32-bit
// BGRX rows top-down.
std::vector<uint8_t> CapturePictures(HWND window, int width, int height) {
    std::vector<uint8_t> bgrx(size_t(width) * height * 4);
    HDC dc = GetDC(window);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    if (GetDIBits(memory, bitmap, 0, UINT(height), bgrx.data(), &info, DIB_RGB_COLORS) != height) bgrx.clear();
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, dc);
    return bgrx;
}

// The preview of a joined program stream's titles shows each title's own pictures (ffmpeg's,
// scaled as the preview scales), not those of another title or time: the still picture of
// a title after the first at its in point and a second into it, and the last picture of
// the first title played from the file's head up to the title's end.
TEST_F(EngineTest, PreviewOfAJoinedProgramStreamShowsEachTitlesOwnPictures) {
    JoinedTitles short_, long_;
    ASSERT_TRUE(MakeJoinedTitles(&short_));
    ASSERT_TRUE(MakeJoinedTitles(&long_, 70));
    constexpr int kWidth = 360, kHeight = 288;
    constexpr int64_t kFrame = 400000;  // 25 frames per second
    struct Case {
        const char* what;
        const JoinedTitles* joined;
        int title;
        int64_t in;  // the clip's in point on the file's time line of titles
        bool play;   // played up to half a picture before the title's end, else the still at the in point
    };
    const Case cases[] = {
        {"still at the in point", &short_, 1, short_.segments[1].videoStart, false},
        {"still a second into the title", &short_, 1, short_.segments[1].videoStart + 25 * kFrame, false},
        {"played from the file's head", &short_, 0, 0, true},
        {"still 62 s into a long title", &long_, 1, long_.segments[1].videoStart + 62 * 25 * kFrame, false},
    };
    ASSERT_EQ(control_->EnablePreview(TRUE), S_OK);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const JoinedTitles& joined = *c.joined;
        const engines::SegmentRecord& title = joined.segments[size_t(c.title)];
        const int64_t duration = title.videoEnd - c.in;
        const int64_t position = c.play ? duration - kFrame / 2 : 0;
        const int picture = static_cast<int>((c.in + position - title.videoStart) / kFrame);
        ASSERT_EQ(timeline_->RemoveClips(0, -1), S_OK);
        const std::vector<BYTE> clip = VideoClip(FixturePath(joined.joined), 0, duration, duration, c.in);
        ASSERT_EQ(timeline_->AddClip(0, 0, clip.data()), S_OK);
        HWND screen = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight,
                                      nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(screen, nullptr);
        UpdateWindow(screen);
        window_.WaitFor(WM_NULL + 0xFFFF, nullptr, 200);  // lets the window paint itself first
        const std::vector<uint8_t> blank = CapturePictures(screen, kWidth, kHeight);
        ASSERT_FALSE(blank.empty());
        ASSERT_EQ(control_->SetPreviewWindow(screen, 0, 0, kWidth, kHeight), S_OK);
        if (c.play) {
            ASSERT_EQ(control_->SetRange(0, position, 0), S_OK);
            ASSERT_EQ(control_->Play(1.0f), S_OK);
            EXPECT_TRUE(window_.WaitFor(WM_APP + 200, nullptr, 20000)) << "the range's end not reached";
        } else {
            ASSERT_EQ(control_->SetRange(0, duration, 1), S_OK);
        }
        std::vector<uint8_t> shown = blank;
        for (const DWORD start = GetTickCount(); shown == blank && GetTickCount() - start < 10000;) {
            window_.WaitFor(WM_NULL + 0xFFFF, nullptr, 50);
            shown = CapturePictures(screen, kWidth, kHeight);
        }
        ASSERT_NE(shown, blank) << "no picture shown";
        window_.WaitFor(WM_NULL + 0xFFFF, nullptr, 200);  // a drawing under way ends
        shown = CapturePictures(screen, kWidth, kHeight);
        DestroyWindow(screen);
        const std::string name = UniqueName("preview") + ".bgr0";
        FILE* file = std::fopen(FixturePath(name).c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(shown.data(), 1, shown.size(), file), shown.size());
        std::fclose(file);
        const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
        const double psnr = Psnr(
            "-f rawvideo -pix_fmt bgr0 -s " + size + " -i '" + name + "' -i '" + FixtureName(joined.paths[c.title]) +
                "'",
            "[0:v]format=rgb24[a];[1:v]" + Picture(picture) + ",scale=" + size + ":flags=bilinear,format=rgb24[b]");
        EXPECT_GT(psnr, 30.0) << "against picture " << picture << " of title " << c.title;
    }
}

TEST_F(EngineTest, TimelineKeepsRecordsAndRanges) {
    const std::vector<BYTE> first = VideoClip("C:\\a.mpg", 0, 30000000, 30000000);
    const std::vector<BYTE> second = VideoClip("C:\\b.mpg", 30000000, 50000000, 20000000);
    ASSERT_EQ(timeline_->AddClip(0, 0, first.data()), S_OK);
    ASSERT_EQ(timeline_->AddClip(0, 1, second.data()), S_OK);
    ASSERT_EQ(timeline_->AddClip(1, 0, first.data()), S_OK);
    EXPECT_EQ(timeline_->GetClipCount(0), 2);
    EXPECT_EQ(timeline_->GetClipCount(1), 1);
    std::vector<BYTE> back(fileengine::kClipRecordBytes, 0xCD);
    ASSERT_EQ(timeline_->GetClip(0, 1, back.data()), S_OK);
    EXPECT_EQ(back, second);
    EXPECT_EQ(timeline_->GetClip(0, 2, back.data()), E_INVALIDARG);
    ASSERT_EQ(timeline_->SetClipRange(1, 0, 1, 12345, 1.0f), S_OK);
    ASSERT_EQ(timeline_->GetClip(1, 0, back.data()), S_OK);
    int64_t end = 0;
    float rate = 0;
    std::memcpy(&end, back.data() + fileengine::kClipAudioRange + 8, 8);
    std::memcpy(&rate, back.data() + fileengine::kClipRate, 4);
    EXPECT_EQ(end, 12345);
    EXPECT_EQ(rate, 1.0f);
    LONGLONG duration = 0;
    ASSERT_EQ(control_->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 50000000);
    EXPECT_EQ(timeline_->RemoveClips(0, -1), S_OK);
    EXPECT_EQ(timeline_->GetClipCount(0), 0);
    EXPECT_EQ(timeline_->SetClipRange(0, 0, 0, 0, 1.0f), E_INVALIDARG);
}

TEST_F(EngineTest, PreviewRangeEndIsToldToTheNotifyWindow) {
    ASSERT_EQ(control_->SetRange(0, 2000000, 0), S_OK);  // 0.2 s
    ASSERT_EQ(control_->Play(1.0f), S_OK);
    EXPECT_TRUE(window_.WaitFor(WM_APP + 200, nullptr, 5000));
    LONGLONG position = 0;
    ASSERT_EQ(control_->GetPosition(&position), S_OK);
    EXPECT_EQ(position, 2000000);
}

TEST_F(EngineTest, RealProfileFailsWithItsMessageAndStartFails) {
    std::string input;
    ASSERT_TRUE(testsupport::MediaFixture(kMpeg4Mp3, "in", &input));
    AddInput(input, 30000000);
    auto record = std::make_unique<profiles::ProfileRecord>();
    std::memset(record.get(), 0, sizeof *record);
    record->head.videoFormatClass = profiles::kClassReal;
    const std::string output = FixturePath(UniqueName("real") + ".rm");
    profiles::CopyText(record->head.outputFileName, output.c_str(), output.size());
    EXPECT_TRUE(FAILED(control_->SetProfile(reinterpret_cast<const BYTE*>(record.get()))));
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR text = nullptr;
    ASSERT_EQ(info->GetDescription(&text), S_OK);
    EXPECT_EQ(Narrow(text), fileengine::kRealRefusal);
    SysFreeString(text);
    info->Release();
    EXPECT_TRUE(FAILED(control_->StartConvert(0, 0, 0, 0, 0)));
    EXPECT_FALSE(FileExists(output));
}

TEST_F(EngineTest, AbortInTheMiddleLeavesNoFileAndTheEngineConvertsAgain) {
    const std::string output = FixturePath(UniqueName("aborted") + ".mpg");
    ASSERT_NO_FATAL_FAILURE(StartTwelveSecondDvd(output, TRUE));
    EXPECT_EQ(control_->StartConvert(0, 0, 0, 0, 0), E_UNEXPECTED);  // one at a time

    // Wait until some of it is done, then abort.
    float fraction = 0;
    for (int i = 0; i < 3000 && fraction < 0.1f; ++i) {
        ASSERT_EQ(control_->GetProgress(&fraction), S_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(fraction, 0.1f);
    ASSERT_LT(fraction, 0.9f) << "the conversion ran too fast to be aborted in the middle";
    ASSERT_EQ(control_->Abort(1), S_OK);
    WPARAM result = 0;
    ASSERT_TRUE(window_.WaitFor(WM_APP + 202, &result, 20000));
    EXPECT_EQ(static_cast<HRESULT>(result), E_ABORT);
    EXPECT_FALSE(FileExists(output));
    EXPECT_FALSE(FileExists(output + ".converting"));

    // The page prepares the engine again and starts the next conversion.
    ASSERT_EQ(control_->Prepare(0, 0, 0, 0, 0), S_OK);
    ASSERT_EQ(control_->SetPreviewDuringConvert(FALSE), S_OK);
    ASSERT_EQ(control_->StartConvert(0, 0, 0, 0, 0), S_OK);
    ASSERT_TRUE(window_.WaitFor(WM_APP + 202, &result, 240000));
    EXPECT_EQ(static_cast<HRESULT>(result), S_OK);
    ASSERT_EQ(control_->GetProgress(&fraction), S_OK);
    EXPECT_EQ(fraction, 1.0f);
    Probe out;
    ASSERT_TRUE(ProbeFile(output, &out));
    EXPECT_EQ(out.codec, "mpeg2video");
    EXPECT_EQ(out.frames, 300);
}

TEST_F(EngineTest, CloseEndsARunningConversion) {
    const std::string output = FixturePath(UniqueName("closed") + ".mpg");
    ASSERT_NO_FATAL_FAILURE(StartTwelveSecondDvd(output, FALSE));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(control_->Close(), S_OK);
    // The end is still told, after the engine has stopped.
    WPARAM result = 0;
    EXPECT_TRUE(window_.WaitFor(WM_APP + 202, &result, 5000));
    EXPECT_FALSE(FileExists(output));
    EXPECT_FALSE(FileExists(output + ".converting"));
}

// The engine's MPEG-4 encoder as a video compressor: registered with the engine, the
// compressor search finds it; through the Video for Windows calls it takes bottom-up RGB
// pictures and makes an MPEG-4 stream that ffmpeg decodes to the pictures given.
TEST(EngineCompressor, SearchFindsItAndItsPicturesDecodeToTheInput) {
    comtest::ComScope com;
    enginetest::NamedLock lock(enginetest::kFileEngineRegistrationLock, 600000);
    enginetest::Registered server(FILE_ENGINE_DLL);
    ASSERT_TRUE(server.Ok());
    char name[kVideoCompressorNameBytes] = {};
    ASSERT_EQ(FindVideoCompressor(name), S_OK);
    EXPECT_EQ(std::string(name).rfind("DivX", 0), 0u) << name;

    HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('F', 'E', 'M', '4'), ICMODE_COMPRESS);
    ASSERT_NE(hic, nullptr);
    constexpr int kWidth = 176, kHeight = 144, kFrames = 12;
    BITMAPINFOHEADER in{sizeof in, kWidth, kHeight, 1, 24, BI_RGB, kWidth * kHeight * 3, 0, 0, 0, 0};
    // Sizes and layouts it cannot code are refused before any picture.
    BITMAPINFOHEADER odd = in;
    odd.biWidth = kWidth - 1;
    EXPECT_EQ(ICCompressQuery(hic, &odd, nullptr), static_cast<LRESULT>(ICERR_BADFORMAT));
    BITMAPINFOHEADER palette = in;
    palette.biBitCount = 8;
    EXPECT_EQ(ICCompressQuery(hic, &palette, nullptr), static_cast<LRESULT>(ICERR_BADFORMAT));
    ASSERT_EQ(ICCompressQuery(hic, &in, nullptr), static_cast<LRESULT>(ICERR_OK));
    BITMAPINFOHEADER out{};
    ASSERT_EQ(ICCompressGetFormat(hic, &in, &out), static_cast<LRESULT>(ICERR_OK));
    EXPECT_EQ(out.biCompression, mmioFOURCC('D', 'I', 'V', 'X'));
    const DWORD maxBytes = static_cast<DWORD>(ICCompressGetSize(hic, &in, &out));
    ASSERT_GT(maxBytes, 0u);
    ASSERT_EQ(ICCompressBegin(hic, &in, &out), static_cast<LRESULT>(ICERR_OK));

    // Rows stored bottom-up, as a DIB is: a picture whose top and bottom differ shows a flip.
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3), stream, topDown;
    std::vector<uint8_t> coded(maxBytes);
    int keyFrames = 0;
    for (int n = 0; n < kFrames; ++n) {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                uint8_t* p = &rgb[(size_t(kHeight - 1 - y) * kWidth + x) * 3];  // row y from the top
                const bool square = x >= 20 + 6 * n && x < 60 + 6 * n && y >= 30 && y < 70;
                p[0] = square ? 30 : uint8_t(x);                   // blue
                p[1] = square ? 220 : uint8_t(y * 255 / kHeight);  // green
                p[2] = square ? 40 : uint8_t(128);                 // red
            }
        for (int y = 0; y < kHeight; ++y) {
            const uint8_t* row = &rgb[size_t(kHeight - 1 - y) * kWidth * 3];
            topDown.insert(topDown.end(), row, row + kWidth * 3);
        }
        out.biSizeImage = maxBytes;
        DWORD flags = 0, chunk = 0;
        ASSERT_EQ(ICCompress(hic, n == 0 ? ICCOMPRESS_KEYFRAME : 0, &out, coded.data(), &in, rgb.data(), &chunk, &flags,
                             n, 0, 9000, nullptr, nullptr),
                  static_cast<DWORD>(ICERR_OK));
        ASSERT_GT(out.biSizeImage, 0u);
        ASSERT_LE(out.biSizeImage, maxBytes);
        if (flags & AVIIF_KEYFRAME) ++keyFrames;
        stream.insert(stream.end(), coded.begin(), coded.begin() + out.biSizeImage);
    }
    EXPECT_EQ(ICCompressEnd(hic), static_cast<LRESULT>(ICERR_OK));
    EXPECT_EQ(ICClose(hic), static_cast<LRESULT>(ICERR_OK));
    EXPECT_GE(keyFrames, 1);
    EXPECT_LT(keyFrames, kFrames);

    const std::string coded4v = UniqueName("compressed") + ".m4v", source = UniqueName("source") + ".rgb";
    for (const auto& [file, bytes] : {std::pair{coded4v, &stream}, std::pair{source, &topDown}}) {
        FILE* f = std::fopen(FixturePath(file).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes->data(), 1, bytes->size(), f), bytes->size());
        std::fclose(f);
    }
    Probe p;
    ASSERT_TRUE(ProbeFile(FixturePath(coded4v), &p));
    EXPECT_EQ(p.codec, "mpeg4");
    EXPECT_EQ(p.width, kWidth);
    EXPECT_EQ(p.height, kHeight);
    EXPECT_EQ(p.frames, kFrames);
    const std::string log = UniqueName("psnr") + ".log";
    ASSERT_EQ(testsupport::RunShell("ffmpeg -nostdin -v info -i " + coded4v + " -f rawvideo -pix_fmt bgr24 -s " +
                                        std::to_string(kWidth) + "x" + std::to_string(kHeight) + " -i " + source +
                                        " -lavfi psnr -f null - 2>&1 | sed -n 's/.* average:\\([0-9.]*\\).*/\\1/p'",
                                    log),
              0);
    const std::string psnr = testsupport::ReadFixtureFile(log);
    ASSERT_FALSE(psnr.empty());
    EXPECT_GT(std::atof(psnr.c_str()), 30.0) << "dB against the pictures given";
}

// The engine's MPEG Layer-3 encoder is an audio codec of the compression manager: 2 s of a
// 22,050 Hz stereo tone through its stream calls, in pieces of 0.1 s, come out as MPEG audio
// that ffmpeg decodes without a word to the tone's length and level; and the compressor
// search finds it under the format's name.
TEST(EngineAudioCodec, SearchFindsItAndItsSoundDecodesToTheInput) {
    comtest::ComScope com;
    enginetest::NamedLock lock(enginetest::kFileEngineRegistrationLock, 600000);
    enginetest::Registered server(FILE_ENGINE_DLL);
    ASSERT_TRUE(server.Ok());
    std::string input;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=22050:duration=2 -ac 2 -f s16le {out}", "pcm", &input));
    std::vector<uint8_t> pcm;
    {
        FILE* f = std::fopen(input.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        uint8_t chunk[65536];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            pcm.insert(pcm.end(), chunk, chunk + n);
        std::fclose(f);
    }
    ASSERT_EQ(pcm.size(), 2u * 22050 * 4);

    // The manager reads the installed codecs once, when it is loaded (here before the
    // registration): the driver library that the registration names is added by hand.
    char driverPath[MAX_PATH] = {};
    DWORD pathBytes = sizeof driverPath - 1;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32",
                           "msacm.femp3", RRF_RT_REG_SZ, nullptr, driverPath, &pathBytes),
              ERROR_SUCCESS);
    HMODULE driverLibrary = LoadLibraryA(driverPath);
    ASSERT_NE(driverLibrary, nullptr) << driverPath;
    const auto driverProc = reinterpret_cast<LPARAM>(GetProcAddress(driverLibrary, "DriverProc"));
    ASSERT_NE(driverProc, 0);
    HMODULE acm = LoadLibraryW(L"msacm32.dll");
    ASSERT_NE(acm, nullptr);
    const auto proc = [acm](const char* name) { return reinterpret_cast<void*>(GetProcAddress(acm, name)); };
    const auto open = reinterpret_cast<decltype(&acmStreamOpen)>(proc("acmStreamOpen"));
    const auto prepare = reinterpret_cast<decltype(&acmStreamPrepareHeader)>(proc("acmStreamPrepareHeader"));
    const auto convert = reinterpret_cast<decltype(&acmStreamConvert)>(proc("acmStreamConvert"));
    const auto unprepare = reinterpret_cast<decltype(&acmStreamUnprepareHeader)>(proc("acmStreamUnprepareHeader"));
    const auto close = reinterpret_cast<decltype(&acmStreamClose)>(proc("acmStreamClose"));
    const auto add = reinterpret_cast<decltype(&acmDriverAddW)>(proc("acmDriverAddW"));
    const auto driverOpen = reinterpret_cast<decltype(&acmDriverOpen)>(proc("acmDriverOpen"));
    const auto driverClose = reinterpret_cast<decltype(&acmDriverClose)>(proc("acmDriverClose"));
    const auto remove = reinterpret_cast<decltype(&acmDriverRemove)>(proc("acmDriverRemove"));
    ASSERT_TRUE(open && prepare && convert && unprepare && close && add && driverOpen && driverClose && remove);
    HACMDRIVERID id = nullptr;
    ASSERT_EQ(add(&id, driverLibrary, driverProc, 0, ACM_DRIVERADDF_FUNCTION | ACM_DRIVERADDF_LOCAL), MMSYSERR_NOERROR);
    HACMDRIVER driver = nullptr;
    ASSERT_EQ(driverOpen(&driver, id, 0), MMSYSERR_NOERROR);

    WAVEFORMATEX source = {WAVE_FORMAT_PCM, 2, 22050, 22050 * 4, 4, 16, 0};
    MPEGLAYER3WAVEFORMAT target{};
    target.wfx = {WAVE_FORMAT_MPEGLAYER3, 2, 22050, 7000, 1, 0, MPEGLAYER3_WFX_EXTRA_BYTES};
    target.wID = MPEGLAYER3_ID_MPEG;
    target.nBlockSize = 183;
    target.nFramesPerBlock = 1;
    HACMSTREAM stream = nullptr;
    ASSERT_EQ(open(&stream, driver, &source, &target.wfx, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
    // A rate the codec does not make is refused.
    MPEGLAYER3WAVEFORMAT odd = target;
    odd.wfx.nAvgBytesPerSec = 7001;
    EXPECT_NE(open(nullptr, driver, &source, &odd.wfx, nullptr, 0, 0, ACM_STREAMOPENF_QUERY), MMSYSERR_NOERROR);

    std::vector<uint8_t> mp3, out(65536);
    constexpr size_t kPiece = 22050 * 4 / 10;
    for (size_t at = 0; at < pcm.size(); at += kPiece) {
        const bool last = at + kPiece >= pcm.size();
        ACMSTREAMHEADER h{};
        h.cbStruct = sizeof h;
        h.pbSrc = pcm.data() + at;
        h.cbSrcLength = DWORD(std::min(kPiece, pcm.size() - at));
        h.pbDst = out.data();
        h.cbDstLength = DWORD(out.size());
        ASSERT_EQ(prepare(stream, &h, 0), MMSYSERR_NOERROR);
        const DWORD flags = (at == 0 ? ACM_STREAMCONVERTF_START : 0) | (last ? ACM_STREAMCONVERTF_END : 0);
        ASSERT_EQ(convert(stream, &h, flags), MMSYSERR_NOERROR);
        EXPECT_EQ(h.cbSrcLengthUsed, h.cbSrcLength);
        mp3.insert(mp3.end(), out.begin(), out.begin() + h.cbDstLengthUsed);
        ASSERT_EQ(unprepare(stream, &h, 0), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(close(stream, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(driverClose(driver, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(remove(id, 0), MMSYSERR_NOERROR);

    const std::string coded = UniqueName("codec") + ".mp3";
    FILE* f = std::fopen(FixturePath(coded).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(mp3.data(), 1, mp3.size(), f), mp3.size());
    std::fclose(f);
    std::string info;
    ASSERT_TRUE(testsupport::Ffprobe(
        FixturePath(coded), "-show_entries stream=codec_name,sample_rate,channels,bit_rate -of csv=p=0", &info));
    EXPECT_EQ(info.substr(0, info.find_last_not_of("\r\n") + 1), "mp3,22050,2,56000");
    const std::string decodeLog = UniqueName("decode") + ".log";
    ASSERT_EQ(testsupport::RunShell("ffmpeg -nostdin -v error -i " + coded + " -f null - 2>&1", decodeLog), 0);
    EXPECT_EQ(testsupport::ReadFixtureFile(decodeLog), "");
    const std::string lengthLog = UniqueName("length") + ".log";
    ASSERT_EQ(testsupport::RunShell("ffmpeg -nostdin -v info -i " + coded +
                                        " -f null - 2>&1 | sed -n 's/.*time=00:00:\\([0-9.]*\\).*/\\1/p' | tail -1",
                                    lengthLog),
              0);
    // The encoder's delay and the last frame's fill come on top of the tone, under 0.15 s.
    EXPECT_NEAR(std::atof(testsupport::ReadFixtureFile(lengthLog).c_str()), 2.07, 0.08);
    const std::string pcmLevel = UniqueName("level") + ".log";
    ASSERT_EQ(testsupport::RunShell("ffmpeg -nostdin -v info -f s16le -ar 22050 -ac 2 -i '" + FixtureName(input) +
                                        "' -af volumedetect -f null - 2>&1 | "
                                        "sed -n 's/.*mean_volume: \\(-*[0-9.]*\\) dB.*/\\1/p'",
                                    pcmLevel),
              0);
    EXPECT_NEAR(MeanVolume(coded), std::atof(testsupport::ReadFixtureFile(pcmLevel).c_str()), 1.0);

    // The search: the name is the format's; the wanted format is matched where the wrapper
    // filter offers its formats (Wine's offers none, and the search then fails after the name).
    char name[kAudioCompressorNameBytes] = {};
    WAVEFORMATEX wanted = {0x55, 2, 22050, 7000, 1, 0, 0};
    WAVEFORMATEX* format = &wanted;
    const HRESULT hr = FindAudioCompressor(name, &format);
    EXPECT_STREQ(name, "MPEG Layer-3");
    if (hr == S_OK) {
        EXPECT_EQ(format->wFormatTag, WAVE_FORMAT_MPEGLAYER3);
        EXPECT_EQ(format->nAvgBytesPerSec, 7000u);
        CoTaskMemFree(format);
    } else {
        EXPECT_EQ(hr, E_FAIL);
    }
}

}  // namespace
