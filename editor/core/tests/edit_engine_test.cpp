// Joins of ffmpeg-made clips judged by the outside tools: ffmpeg decodes the output
// without a message, time stamps run on across the joins, every clip starts with a GOP
// that decodes on its own, audio frames are whole, packs have their size, and dvdauthor
// or vcdimager take the output.
#include "editor/core/edit_engine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/audio_headers.h"
#include "editor/core/tests/host_fixtures.h"
#include "editor/core/tests/join_fixtures.h"
#include "editor/core/tests/ps_fixtures.h"
#include "filters/muxer/core/tests/systems_checker.h"
#include "tools/mpeg_join.h"

namespace {

using editor_test::CheckTimeLine;
using editor_test::Host;
using editor_test::HostAudio;
using editor_test::HostVideo;
using editor_test::ProbePackets;

using editor_test::Clip;
using editor_test::ReadFile;
using editor_test::Seconds;
using editor_test::Shell;

struct Cut {
    std::string path;
    double in, out;
};

struct JoinCase {
    const char* name;
    const char* type;
    const char* target;
    const char* size;
    const char* audio;      // ffmpeg audio options of the clips
    const char* audioCopy;  // raw audio format for whole-frame checks ("" for LPCM)
    int packSize;
    double gopSeconds;
    const char* judge;  // dvdauthor or vcdimager command, {in} for the output
};

const JoinCase kCases[] = {
    {"DvdMp2", "dvd", "pal-dvd", "720x576", "-bf 2 -g 12 -c:a mp2 -b:a 224k", "mp2", 2048, 0.48,
     "VIDEO_FORMAT=PAL dvdauthor -o {in}.dvd -t {in}"},
    {"DvdAc3", "dvd", "pal-dvd", "720x576", "-bf 2", "ac3", 2048, 0.6,
     "VIDEO_FORMAT=PAL dvdauthor -o {in}.dvd -t {in}"},
    {"DvdLpcm", "dvd", "pal-dvd", "720x576", "-bf 2 -c:a pcm_dvd", "", 2048, 0.6,
     "VIDEO_FORMAT=PAL dvdauthor -o {in}.dvd -t {in}"},
    {"Svcd", "svcd", "pal-svcd", "480x576", "", "mp2", 2324, 0.6, "vcdimager -t svcd -c {in}.cue -b {in}.bin {in}"},
    {"Vcd", "vcd", "pal-vcd", "352x288", "", "mp2", 2324, 0.72, "vcdimager -t vcd2 -c {in}.cue -b {in}.bin {in}"},
};

// What an authoring tool's command (`{in}` for the file) says of a file.
std::string Judge(std::string command, const std::string& name) {
    for (size_t at = command.find("{in}"); at != std::string::npos; at = command.find("{in}"))
        command.replace(at, 4, name);
    return Shell(command);
}

class Join : public ::testing::TestWithParam<JoinCase> {};

// Walks an elementary audio stream frame by frame; false when the bytes do not end on a
// frame boundary (a partial frame) or a frame header is missing.
bool WholeFrames(const std::vector<uint8_t>& es, const std::string& format, size_t* frames) {
    size_t at = 0;
    *frames = 0;
    while (at < es.size()) {
        int32_t bytes = 0;
        const std::span<const uint8_t> rest(es.data() + at, es.size() - at);
        if (format == "ac3") {
            common::Ac3FrameHeader h;
            if (!common::ReadAc3Header(rest, &h)) return false;
            bytes = h.frameBytes;
        } else {
            common::MpegAudioFrameHeader h;
            if (!common::ReadMpegAudioHeader(rest, &h)) return false;
            bytes = h.frameBytes;
        }
        if (bytes <= 0 || at + size_t(bytes) > es.size()) return false;
        at += size_t(bytes);
        ++*frames;
    }
    return true;
}

TEST_P(Join, OutsideJudgesAcceptTheJoin) {
    const JoinCase& c = GetParam();
    const std::vector<Cut> cuts = {
        {Clip(c.target, c.size, c.audio, 300), 1.3, 5.7},
        {Clip(c.target, c.size, c.audio, 500), 2.1, 6.5},
        {Clip(c.target, c.size, c.audio, 700), 0.5, 3.3},
    };
    const std::string out = testsupport::FixturePath(testsupport::UniqueName(c.name) + ".mpg");
    std::vector<std::string> args = {"--type", c.type, "-o", out};
    double sum = 0;
    for (const Cut& cut : cuts) {
        args.insert(args.end(), {cut.path, Seconds(cut.in), Seconds(cut.out)});
        sum += cut.out - cut.in;
    }
    const tools::JoinResult r = tools::RunJoin(args);
    ASSERT_EQ(r.status, 0) << r.message;
    ASSERT_EQ(r.outputFiles, 1);
    const std::string name = editor_test::FixtureName(out);

    // ffmpeg decodes every picture and frame without a word.
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");

    // Every pack has the output's size.
    const std::vector<uint8_t> bytes = ReadFile(out);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.size() % size_t(c.packSize), 0u);
    for (size_t at = 0; at + 4 <= bytes.size(); at += size_t(c.packSize))
        ASSERT_TRUE(bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1 && bytes[at + 3] == 0xBA) << at;
    // The MPEG-2 types keep the system target decoder's rules (the MPEG-1 syntax of VCD is
    // not the checker's).
    if (std::string(c.type) != "vcd") {
        EXPECT_EQ(muxertest::CheckProgramStream(bytes, std::string(c.type) == "dvd").error, "");
    }

    // Duration: the sum of the cuts within one GOP per clip.
    double duration = 0;
    ASSERT_NO_FATAL_FAILURE(CheckTimeLine(out, 100, &duration));
    EXPECT_NEAR(duration, sum, c.gopSeconds * double(cuts.size())) << "sum of cuts " << sum;
    EXPECT_GE(duration, sum - c.gopSeconds * double(cuts.size()));

    // Each clip's first GOP is closed with broken_link set, and starts with its I
    // picture at temporal_reference 0: no B picture that looked into the previous clip.
    const std::string es = name + ".m2v";
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -y -i '" + name + "' -map 0:v -c copy -f mpeg2video '" + es + "'"), "");
    const std::vector<uint8_t> v = ReadFile(testsupport::FixturePath(es));
    EXPECT_EQ(editor_test::CountClipStarts(v), int(cuts.size()));

    // No partial audio frame anywhere in the joined audio.
    if (std::string(c.audioCopy).size()) {
        const std::string aes = name + "." + c.audioCopy;
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -y -i '" + name + "' -map 0:a -c copy -f " + c.audioCopy + " '" +
                        aes + "'"),
                  "");
        size_t frames = 0;
        EXPECT_TRUE(WholeFrames(ReadFile(testsupport::FixturePath(aes)), c.audioCopy, &frames));
        EXPECT_GT(frames, 100u);
    }

    // The authoring tool of the output's kind takes it.
    const std::string said = Judge(c.judge, name);
    EXPECT_EQ(said.find("exit "), std::string::npos) << said;
    EXPECT_EQ(said.find("ERR"), std::string::npos) << said;
    // dvdauthor computes each audio packet's time from the bytes before it: the stamps
    // must agree to the tick, across the joins too.
    EXPECT_EQ(said.find("moves backwards"), std::string::npos) << said;
}

INSTANTIATE_TEST_SUITE_P(Kinds, Join, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<JoinCase>& i) { return std::string(i.param.name); });

// A split size cuts the output into numbered parts at GOP boundaries; each part is a
// program stream of its own that ffmpeg decodes cleanly, and together they hold the join.
TEST(JoinSplit, PartsAreNumberedAndEachDecodes) {
    const std::string a = Clip("pal-dvd", "720x576", "-bf 2 -c:a mp2 -b:a 224k", 300);
    const std::string b = Clip("pal-dvd", "720x576", "-bf 2 -c:a mp2 -b:a 224k", 500);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("split") + ".mpg");
    const tools::JoinResult r =
        tools::RunJoin({"--type", "dvd", "--split", "600000", "-o", out, a, "0.5", "7.5", b, "1", "7"});
    ASSERT_EQ(r.status, 0) << r.message;
    ASSERT_GE(r.outputFiles, 3);
    double total = 0;
    for (int i = 0; i < r.outputFiles; ++i) {
        const std::string part = editor::CEditEngine::GetPartName(i, out);
        const std::vector<uint8_t> bytes = ReadFile(part);
        ASSERT_FALSE(bytes.empty()) << part;
        EXPECT_EQ(bytes.size() % 2048, 0u);
        // Each part starts with the lead its first units need to arrive in time.
        EXPECT_EQ(muxertest::CheckProgramStream(bytes, true).error, "") << part;
        const std::string name = editor_test::FixtureName(part);
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "") << name;
        total += std::atof(Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + name + "'").c_str());
    }
    EXPECT_FALSE(std::ifstream(editor::CEditEngine::GetPartName(r.outputFiles, out)).good());
    EXPECT_NEAR(total, 13.0, 2 * 0.6);
}

// Clips encoded on one thread have pictures that begin in PES packets without a stamp of
// their own, and the pictures' sizes put some picture starts in the last bytes of an
// output packet that carries no time. Every picture of every part still gets its own
// stamp: in display order the stamps step by exactly one frame (3,600 ticks at 25 Hz).
TEST(JoinSplit, EveryPictureKeepsItsOwnStamp) {
    const std::string audio = "-bf 2 -c:a mp2 -b:a 224k -threads 1";
    const std::string a = Clip("pal-dvd", "720x576", audio, 300);
    const std::string b = Clip("pal-dvd", "720x576", audio, 500);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("stamps") + ".mpg");
    const tools::JoinResult r =
        tools::RunJoin({"--type", "dvd", "--split", "600000", "-o", out, a, "0.5", "7.5", b, "1", "7"});
    ASSERT_EQ(r.status, 0) << r.message;
    ASSERT_GE(r.outputFiles, 3);
    for (int i = 0; i < r.outputFiles; ++i) {
        const std::string name = editor_test::FixtureName(editor::CEditEngine::GetPartName(i, out));
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "") << name;
        std::vector<int64_t> pts;
        for (const auto& p : ProbePackets(editor::CEditEngine::GetPartName(i, out), "v")) {
            EXPECT_TRUE(p.hasPts) << name;
            pts.push_back(p.pts);
        }
        ASSERT_GT(pts.size(), 50u) << name;
        std::sort(pts.begin(), pts.end());
        for (size_t k = 1; k < pts.size(); ++k)
            EXPECT_EQ(pts[k] - pts[k - 1], 3600) << name << ": " << pts[k - 1] << " -> " << pts[k];
    }
}

TEST(EditEngine, PartNamesComeFromTheFileNamesLastDot) {
    struct Case {
        int index;
        const char* name;
        const char* part;
    };
    const Case cases[] = {
        {0, "out.mpg", "out.mpg"},
        {1, "out.mpg", "out.0001.mpg"},
        {12, "a.b.mpg", "a.b.0012.mpg"},
        {2, "/x.y/out", "/x.y/out.0002.mpg"},
        {3, "C:\\v.1\\clip.vob", "C:\\v.1\\clip.0003.mpg"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(editor::CEditEngine::GetPartName(c.index, c.name), c.part) << c.name << " " << c.index;
}

TEST(EditEngine, RefusesWhatItCannotJoin) {
    editor::CEditEngine engine;
    ASSERT_TRUE(engine.SetCapacity(1));
    const std::string junk = testsupport::FixturePath(testsupport::UniqueName("junk") + ".mpg");
    std::ofstream(junk) << "not a program stream";
    EXPECT_EQ(engine.AddClip(junk, 0, editor::kNoTime, true), -2);
    const std::string a = Clip("pal-dvd", "720x576", "-bf 2 -c:a mp2 -b:a 224k", 300);
    EXPECT_EQ(engine.AddClip(a, 0, editor::kNoTime, true), 0);
    EXPECT_EQ(engine.AddClip(a, 0, editor::kNoTime, true), -1);  // list full
}

// A clip whose first video packet carries no time stamp (a stamp is due only every 0.7 s)
// keeps its first GOP: a cut from 0 holds every picture of the clip.
TEST(JoinEdges, AFirstGopWithoutAStampIsKept) {
    const std::string a = Clip("pal-dvd", "720x576", "-bf 2 -c:a mp2 -b:a 224k", 300);
    std::vector<uint8_t> bytes = ReadFile(a);
    // The first video PES packet loses its PTS and DTS; their bytes become header stuffing.
    bool stripped = false;
    for (size_t i = 0; i + 19 < bytes.size() && !stripped; ++i) {
        if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1 || bytes[i + 3] != 0xE0) continue;
        const int flags = bytes[i + 7] >> 6;
        ASSERT_NE(flags & 2, 0) << "the fixture's first video packet has no stamp to remove";
        bytes[i + 7] &= 0x3F;
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(i + 9),
                  bytes.begin() + static_cast<std::ptrdiff_t>(i + 9 + (flags == 3 ? 10 : 5)), 0xFF);
        stripped = true;
    }
    ASSERT_TRUE(stripped);
    const std::string clip = testsupport::FixturePath(testsupport::UniqueName("unstamped") + ".mpg");
    std::ofstream(clip, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("whole") + ".mpg");
    const tools::JoinResult r = tools::RunJoin({"--type", "dvd", "-o", out, clip, "0", "-"});
    ASSERT_EQ(r.status, 0) << r.message;
    auto frames = [](const std::string& path) {
        return std::atoi(Shell("ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames "
                               "-of csv=p=0 '" +
                               editor_test::FixtureName(path) + "'")
                             .c_str());
    };
    const int source = frames(a);
    EXPECT_GE(source, 195);
    EXPECT_EQ(frames(out), source);
}

// An SVCD cut whose first I picture (a still of noise at high quality, about 170 KB)
// takes longer at SVCD's mux rate than the engine's lead: the output starts later, every
// unit arrives before its decoding time, and ffmpeg and vcdimager take it.
TEST(JoinEdges, ALargeFirstPictureArrivesInTime) {
    std::string clip;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i 'nullsrc=s=480x576:r=25,geq=random(1)*255:128:128,trim=end_frame=1,loop=loop=-1:size=1,"
        "setpts=N/25/TB' -f lavfi -i sine=frequency=440:sample_rate=44100 -t 4 -target pal-svcd -aspect 4:3 "
        "-q:v 3 -g 100 {out}",
        "mpg", &clip));
    const std::string first = Shell(
        "ffprobe -v error -select_streams v -read_intervals %+#1 -show_entries "
        "packet=size -of csv=p=0 '" +
        editor_test::FixtureName(clip) + "'");
    ASSERT_GT(std::atoi(first.c_str()), 150000) << "the fixture's first picture is not large";
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("large_first") + ".mpg");
    const tools::JoinResult r = tools::RunJoin({"--type", "svcd", "-o", out, clip, "0", "3.5"});
    ASSERT_EQ(r.status, 0) << r.message;
    EXPECT_EQ(muxertest::CheckProgramStream(ReadFile(out), false).error, "");
    const std::string name = editor_test::FixtureName(out);
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
    const std::string said = Shell("vcdimager -t svcd -c " + name + ".cue -b " + name + ".bin " + name);
    EXPECT_EQ(said.find("exit "), std::string::npos) << said;
    EXPECT_EQ(said.find("ERR"), std::string::npos) << said;
}

// A still of noise coded with an I picture of 150 to 210 KB in every GOP beside MPEG
// audio, at a video rate the output type carries: each large picture takes longer at the
// mux rate than the audio packets around its decoding time leave it, so the engine hands
// the video ahead of the audio and the writer spreads its packets between the audio
// packets. Every unit arrives before its decoding time, ffmpeg decodes the output cleanly
// and the type's authoring tool takes it.
TEST(JoinEdges, LargePicturesInEveryGopArriveInTime) {
    struct Case {
        const char* type;
        const char* options;  // ffmpeg: quality, GOP length, audio rate
        const char* judge;
    };
    const Case cases[] = {
        {"svcd", "-q:v 8 -g 24 -ar 44100", "vcdimager -t svcd -c {in}.cue -b {in}.bin {in}"},
        {"dvd", "-q:v 5 -g 15 -ar 48000", "VIDEO_FORMAT=PAL dvdauthor -o {in}.dvd -t {in}"},
        {"mpeg2", "-q:v 5 -g 15 -ar 48000", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        std::string clip;
        ASSERT_TRUE(testsupport::MediaFixture(
            std::string("ffmpeg -f lavfi -i 'nullsrc=s=480x576:r=25,geq=random(1)*255:128:128,trim=end_frame=1,"
                        "loop=loop=-1:size=1,setpts=N/25/TB' -f lavfi -i sine=frequency=440 -t 6 -c:v mpeg2video "
                        "-bf 2 -c:a mp2 -b:a 224k -f vob -muxrate 20M ") +
                c.options + " {out}",
            "mpg", &clip));
        // The second GOP's I picture is as large as the first.
        const std::string sizes =
            Shell("ffprobe -v error -select_streams v -show_entries packet=size,flags -of csv=p=0 '" +
                  editor_test::FixtureName(clip) + "' | grep K | sed -n 2p");
        ASSERT_GT(std::atoi(sizes.c_str()), 150000) << "the fixture's pictures are not large";
        const std::string out = testsupport::FixturePath(testsupport::UniqueName("large_gops") + ".mpg");
        const tools::JoinResult r = tools::RunJoin({"--type", c.type, "-o", out, clip, "0", "-"});
        ASSERT_EQ(r.status, 0) << r.message;
        EXPECT_EQ(muxertest::CheckProgramStream(ReadFile(out), std::string(c.type) == "dvd").error, "");
        const std::string name = editor_test::FixtureName(out);
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
        if (*c.judge == 0) continue;
        const std::string said = Judge(c.judge, name);
        EXPECT_EQ(said.find("exit "), std::string::npos) << said;
        EXPECT_EQ(said.find("ERR"), std::string::npos) << said;
    }
}

// A join of an AC-3 clip and an MPEG audio clip keeps one AC-3 stream, and the second
// clip's share of it is silence of that kind: the audio lasts as long as the video.
TEST(JoinEdges, AudioOfAnotherKindIsFilledWithTheOutputsSilence) {
    const std::string a = Clip("pal-dvd", "720x576", "-bf 2 -c:a ac3 -b:a 192k", 300);
    const std::string b = Clip("pal-dvd", "720x576", "-bf 2 -c:a mp2 -b:a 224k", 500);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("mixed") + ".mpg");
    const tools::JoinResult r = tools::RunJoin({"--type", "dvd", "-o", out, a, "0", "-", b, "0", "-"});
    ASSERT_EQ(r.status, 0) << r.message;
    const std::string name = editor_test::FixtureName(out);
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
    EXPECT_EQ(Shell("ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 '" + name + "'"),
              "ac3\n");
    auto last = [&](const char* kind) {
        const std::string text = Shell("ffprobe -v error -select_streams " + std::string(kind) +
                                       " -show_entries packet=pts_time,duration_time -of csv=p=0 '" + name + "'");
        double end = 0;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line))
            if (!line.empty())
                end = std::max(end, std::atof(line.c_str()) + std::atof(line.c_str() + line.find(',') + 1));
        return end;
    };
    EXPECT_GT(last("v"), 15.0);
    EXPECT_NEAR(last("a"), last("v"), 0.1);
}

// Cuts that cannot hold anything are refused with a message naming the clip, and no
// output is left: an in point at or after the out point, at or past the end, or in the
// last GOP (no GOP begins after it). A cut of one GOP's length still joins.
TEST(JoinRefusals, ImpossibleInAndOutPoints) {
    const std::string a = Clip("pal-dvd", "720x576", "-bf 2 -c:a mp2 -b:a 224k", 300);
    struct Case {
        const char* in;
        const char* out;
        const char* says;
    } cases[] = {
        {"5", "3", "is not before the out point"},
        {"4", "4", "is not before the out point"},
        {"9", "-", "past the end"},
        {"7.9", "-", "no GOP begins after an in point"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.in) + " to " + c.out);
        const std::string out = testsupport::FixturePath(testsupport::UniqueName("refused") + ".mpg");
        const tools::JoinResult r = tools::RunJoin({"--type", "dvd", "-o", out, a, c.in, c.out});
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.message.find(c.says), std::string::npos) << "message: " << r.message;
        if (std::string(c.says).find("GOP") == std::string::npos) {
            EXPECT_NE(r.message.find(editor_test::FixtureName(a)), std::string::npos) << r.message;
        }
        EXPECT_FALSE(std::ifstream(out).good()) << "an output was left behind";
    }
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("short") + ".mpg");
    const tools::JoinResult r = tools::RunJoin({"--type", "dvd", "-o", out, a, "3", "3.5"});
    EXPECT_EQ(r.status, 0) << r.message;
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + editor_test::FixtureName(out) + "' -f null -"), "");
}

// Stop returns promptly from a running join, from a paused one, and with no output
// destination able to take the bytes.
TEST(EditEngine, StopReturnsWhileRunningAndWhilePaused) {
    const std::string a = Clip("pal-dvd", "720x576", "-bf 2 -c:a mp2 -b:a 224k", 300);
    for (int paused = 0; paused < 2; ++paused) {
        editor::CEditEngine engine;
        ASSERT_TRUE(engine.SetCapacity(8));
        for (int i = 0; i < 8; ++i)
            ASSERT_GE(engine.AddClip(a, 0, editor::kNoTime, true), 0);
        engine.SetWriterType(editor::kWriterDvd);
        // A slow destination keeps the run going until Stop.
        engine.SetOutputProc([](const uint8_t*, size_t, bool) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return true;
        });
        ASSERT_TRUE(engine.Start());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (paused) engine.Pause();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto t0 = std::chrono::steady_clock::now();
        engine.Stop();
        EXPECT_EQ(engine.Wait(), editor::kMuxFailed);
        const auto waited = std::chrono::steady_clock::now() - t0;
        // Generous against a loaded machine; without the abort in every wait it hangs.
        EXPECT_LT(waited, std::chrono::seconds(2)) << (paused ? "paused" : "running");
    }
}

// The output callback sees the whole stream and then one final call.
TEST(EditEngine, OutputProcGetsTheStreamAndOneFinalCall) {
    const std::string a = Clip("pal-dvd", "720x576", "-bf 2 -c:a mp2 -b:a 224k", 300);
    editor::CEditEngine engine;
    ASSERT_TRUE(engine.SetCapacity(1));
    ASSERT_EQ(engine.AddClip(a, 20000000, 50000000, true), 0);
    engine.SetWriterType(editor::kWriterMpeg2);
    engine.SetOutputFileName(testsupport::FixturePath("never-written.mpg"));
    std::vector<uint8_t> stream;
    int finals = 0;
    engine.SetOutputProc([&](const uint8_t* data, size_t length, bool end) {
        if (end) {
            ++finals;
            EXPECT_EQ(data, nullptr);
            EXPECT_EQ(length, 0u);
        } else {
            stream.insert(stream.end(), data, data + length);
        }
        return true;
    });
    ASSERT_TRUE(engine.Start());
    EXPECT_EQ(engine.Wait(), editor::kMuxDone);
    EXPECT_EQ(finals, 1);
    EXPECT_EQ(stream.size() % 2048, 0u);
    EXPECT_GT(stream.size(), 100000u);
    EXPECT_FALSE(std::ifstream(testsupport::FixturePath("never-written.mpg")).good());
}

// Runs a started engine to its end, or stops it after `limit` (Stop ends every wait of a
// run, so a run whose threads wait on each other fails here instead of hanging the test).
int RunBounded(editor::CEditEngine* engine, std::chrono::seconds limit, bool* hung) {
    std::promise<int> result;
    std::future<int> done = result.get_future();
    std::thread waiter([&] { result.set_value(engine->Wait()); });
    *hung = done.wait_for(limit) != std::future_status::ready;
    if (*hung) engine->Stop();
    waiter.join();
    return done.get();
}

// Cuts whose producers meet the mux loop's waits: a high-rate clip whose audio packets
// are few and far between in the file (the audio thread reads little audio at a time),
// and a clip whose audio breaks off before the out point and resumes after it while the
// video queue is small (the audio thread waits for the video's end past the out point,
// with the loop waiting for audio and the video thread for room). Each join ends, decodes
// cleanly, and the audio runs as long as the video where the clip has it.
TEST(JoinProgress, ProducersAndTheLoopNeverWaitOnEachOther) {
    struct Case {
        const char* name;
        const char* fixture;  // ffmpeg inputs and options, before the output
        double in, out;
        int64_t videoRate;  // bit/s given to the engine (sizes the video queue); 0: default
        bool audioSpansVideo;
    };
    const Case cases[] = {
        {"high-rate",
         "-f lavfi -i testsrc2=size=720x576:rate=25,noise=alls=40:allf=t -f lavfi -i "
         "sine=frequency=440:sample_rate=48000 -t 12 -target pal-dvd -b:v 8M -maxrate 9M -c:a mp2 -b:a 224k",
         3, 9, 0, true},
        {"audio-gap",
         "-f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -af "
         "\"aselect='lt(t,2)+gt(t,8)'\" -t 10 -target pal-dvd -s 352x288 -b:v 2M -c:a mp2 -b:a 224k",
         1, 5, 300000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string clip;
        ASSERT_TRUE(testsupport::MediaFixture(std::string("ffmpeg ") + c.fixture + " {out}", "mpg", &clip));
        editor::CEditEngine engine;
        ASSERT_TRUE(engine.SetCapacity(1));
        ASSERT_EQ(engine.AddClip(clip, int64_t(c.in * 1e7), int64_t(c.out * 1e7), true), 0);
        engine.SetWriterType(editor::kWriterDvd);
        engine.SetAudioKind(editor::kPsAudioMpeg, nullptr);
        engine.SetVideoRate(c.videoRate);
        const std::string out = testsupport::FixturePath(testsupport::UniqueName("progress") + ".mpg");
        engine.SetOutputFileName(out);
        ASSERT_TRUE(engine.Start());
        bool hung = false;
        EXPECT_EQ(RunBounded(&engine, std::chrono::seconds(240), &hung), editor::kMuxDone);
        ASSERT_FALSE(hung) << "the join did not end";
        const std::string name = editor_test::FixtureName(out);
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
        if (c.audioSpansVideo) {
            double duration = 0;
            ASSERT_NO_FATAL_FAILURE(CheckTimeLine(out, 100, &duration));
            EXPECT_NEAR(duration, c.out - c.in, 0.7);
        }
    }
}

// The bytes of a join do not depend on thread timing: a split join written with a
// destination that holds up the mux loop (its producers run far ahead) and with none (the
// loop waits for them) gives the same parts.
TEST(JoinProgress, OutputDoesNotDependOnThreadTiming) {
    const std::string a = Clip("pal-dvd", "720x576", "-bf 2 -c:a mp2 -b:a 224k", 300);
    const std::string b = Clip("pal-dvd", "720x576", "-bf 2 -c:a mp2 -b:a 224k", 500);
    struct SlowStream : editor::IEditorHostStream {
        void Abort() override {}
        bool Write(const uint8_t*, size_t) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            return true;
        }
    };
    std::vector<std::vector<uint8_t>> parts[2];
    for (int slow = 0; slow < 2; ++slow) {
        SlowStream stream;
        editor::CEditEngine engine;
        ASSERT_TRUE(engine.SetCapacity(2));
        ASSERT_EQ(engine.AddClip(a, 5000000, 75000000, true), 0);
        ASSERT_EQ(engine.AddClip(b, 10000000, 70000000, true), 1);
        engine.SetWriterType(editor::kWriterDvd);
        engine.SetAudioKind(editor::kPsAudioMpeg, nullptr);
        engine.SetSplitSize(600000);
        const std::string out = testsupport::FixturePath(testsupport::UniqueName("timing") + ".mpg");
        engine.SetOutputFileName(out);
        if (slow) engine.SetHostStream(&stream);
        ASSERT_TRUE(engine.Start());
        bool hung = false;
        ASSERT_EQ(RunBounded(&engine, std::chrono::seconds(240), &hung), editor::kMuxDone);
        ASSERT_GE(engine.OutputFileCount(), 3);
        for (int i = 0; i < engine.OutputFileCount(); ++i)
            parts[slow].push_back(ReadFile(editor::CEditEngine::GetPartName(i, out)));
    }
    ASSERT_EQ(parts[0].size(), parts[1].size());
    for (size_t i = 0; i < parts[0].size(); ++i)
        EXPECT_TRUE(parts[0][i] == parts[1][i]) << "part " << i << " differs";
}

// ---------------------------------------------------------------------------------------
// Host segments: the host renders a segment when the engine asks and pushes it through
// the two sinks from its own threads.

// A host segment between two file cuts: the join decodes without a message, the time
// stamps run on across both joins, and the audio is whole frames that span the video.
TEST(HostSegment, JoinsBetweenFileCuts) {
    for (const bool lpcm : {false, true}) {
        SCOPED_TRACE(lpcm ? "lpcm" : "mpeg audio");
        const std::string a = Clip("pal-dvd", "720x576", lpcm ? "-bf 2 -c:a pcm_dvd" : "-bf 2 -c:a mp2 -b:a 224k", 300);
        // LPCM arrives in blocks that are no multiple of its 160-byte frames.
        Host host(HostVideo(3), HostAudio(3, lpcm), lpcm ? 96000 : 28000);
        ASSERT_GT(host.samples.size(), 70u);
        editor::CEditEngine engine;
        ASSERT_TRUE(engine.SetCapacity(3));
        ASSERT_EQ(engine.AddClip(a, 13000000, 41000000, true), 0);
        ASSERT_EQ(engine.AddClip("", 50000000, 80000000, false), 1);
        ASSERT_EQ(engine.AddClip(a, 5000000, 33000000, true), 2);
        engine.SetWriterType(editor::kWriterDvd);
        editor::AudioFormat format;
        format.channels = 1;  // as the clips' (the tone is mono)
        format.samplesPerSec = 48000;
        format.avgBytesPerSec = 96000;
        format.blockAlign = 2;
        format.bitsPerSample = 16;
        engine.SetAudioKind(lpcm ? editor::kPsAudioLpcm : editor::kPsAudioMpeg, lpcm ? &format : nullptr);
        const std::string out = testsupport::FixturePath(testsupport::UniqueName("segment") + ".mpg");
        engine.SetOutputFileName(out);
        EXPECT_FALSE(engine.Start()) << "a host segment with nobody to render it";
        std::vector<std::pair<int64_t, int64_t>> asked;
        engine.SetSegmentProc([&](int64_t in, int64_t outTime) {
            asked.emplace_back(in, outTime);
            host.Render([&engine](int64_t t, const uint8_t* d, size_t n) { engine.VideoSink(t, d, n); },
                        [&engine](int64_t t, const uint8_t* d, size_t n) { engine.AudioSink(t, d, n); }, in);
            return true;
        });
        ASSERT_TRUE(engine.Start());
        EXPECT_EQ(engine.Wait(), editor::kMuxDone);
        host.Join();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0], std::make_pair(int64_t(50000000), int64_t(80000000)));

        const std::string name = editor_test::FixtureName(out);
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
        double duration = 0;
        ASSERT_NO_FATAL_FAILURE(CheckTimeLine(out, 150, &duration));
        EXPECT_NEAR(duration, 2.8 + 3.0 + 2.8, 2 * 0.6);
        EXPECT_EQ(muxertest::CheckProgramStream(ReadFile(out), true).error, "");
        if (lpcm) {
            // LPCM frames last 150 ticks exactly, the host's as the files': every stamp
            // lies a whole number of frames after the first, across both joins.
            const std::string csv =
                Shell("ffprobe -v error -select_streams a -show_entries packet=pts -of csv=p=0 '" + name + "'");
            std::istringstream lines(csv);
            std::vector<int64_t> stamps;
            for (std::string line; std::getline(lines, line);)
                if (!line.empty() && line[0] >= '0' && line[0] <= '9') stamps.push_back(std::stoll(line));
            ASSERT_GT(stamps.size(), 100u);
            for (size_t k = 1; k < stamps.size(); ++k)
                ASSERT_EQ((stamps[k] - stamps[0]) % 150, 0) << "stamp " << k << " of " << stamps.size();
            continue;
        }
        const std::string aes = name + ".mp2";
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -y -i '" + name + "' -map 0:a -c copy -f mp2 '" + aes + "'"), "");
        size_t frames = 0;
        EXPECT_TRUE(WholeFrames(ReadFile(testsupport::FixturePath(aes)), "mp2", &frames));
        // The audio lasts as long as the video, in 24 ms frames, give or take a frame a join.
        EXPECT_NEAR(double(frames) * 0.024, duration, 3 * 0.024);
    }
}

// Stop returns within a bound while the host is inside a segment and never ends it, and
// while a sink waits for a segment the engine has not asked for; sinks called after Stop
// return at once. A host that refuses the segment ends the run.
TEST(HostSegment, StopDuringASegmentReturns) {
    const std::string a = Clip("pal-dvd", "720x576", "-bf 2 -c:a mp2 -b:a 224k", 300);
    Host host(HostVideo(1), HostAudio(1));
    ASSERT_GE(host.times.size(), 10u);
    enum Case { kStalls, kWaitsForSegment, kRefuses };
    for (Case c : {kStalls, kWaitsForSegment, kRefuses}) {
        SCOPED_TRACE(int(c));
        editor::CEditEngine engine;
        // Three file cuts in front (24 s) fill the queues while the output is slow, so
        // the walker reaches the segment only after Stop in the waiting case.
        ASSERT_TRUE(engine.SetCapacity(4));
        for (int i = 0; i < (c == kWaitsForSegment ? 3 : 1); ++i)
            ASSERT_GE(engine.AddClip(a, 0, editor::kNoTime, true), 0);
        ASSERT_GE(engine.AddClip("", 0, 30000000, false), 1);
        engine.SetWriterType(editor::kWriterDvd);
        std::atomic<bool> asked{false};
        std::thread early;
        engine.SetSegmentProc([&](int64_t, int64_t) {
            asked = true;
            if (c == kRefuses) return false;
            // Pictures, then silence from the host: the segment never ends.
            for (size_t i = 0; i < 10; ++i)
                engine.VideoSink(host.times[i], host.samples[i].data(), host.samples[i].size());
            return true;
        });
        if (c == kWaitsForSegment) {
            // The file cuts are slow to leave through small queues, so the host's early
            // call waits for its turn.
            engine.SetVideoRate(400000);
            engine.SetOutputProc([](const uint8_t*, size_t, bool) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                return true;
            });
            early = std::thread([&] { engine.AudioSink(0, host.audio.data(), 1000); });
        }
        ASSERT_TRUE(engine.Start());
        if (c == kRefuses) {
            EXPECT_EQ(engine.Wait(), editor::kMuxFailed);
            EXPECT_TRUE(asked);
            continue;
        }
        if (c == kStalls) {
            // The host is inside the segment before Stop (however slow the machine).
            for (int i = 0; i < 600 && !asked; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ASSERT_TRUE(asked);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            EXPECT_FALSE(asked);
        }
        const auto t0 = std::chrono::steady_clock::now();
        engine.Stop();
        EXPECT_EQ(engine.Wait(), editor::kMuxFailed);
        if (early.joinable()) early.join();
        engine.VideoSink(0, host.samples[0].data(), host.samples[0].size());
        engine.AudioSink(0, host.audio.data(), 1000);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    }
}

}  // namespace
