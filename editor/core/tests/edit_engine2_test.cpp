// The engine with separate video and audio lists, judged by the outside tools: a join of
// video cuts under audio cuts of other clips, a video-only and an audio-only join, the
// audio time line with a skip, and sequence headers with progressive_sequence cleared.
#include "editor/core/edit_engine2.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "editor/core/tests/host_fixtures.h"
#include "editor/core/tests/join_fixtures.h"
#include "editor/core/tests/ps_fixtures.h"

namespace {

using editor_test::Clip;
using editor_test::ProbePackets;
using editor_test::Shell;
using editor_test::StreamKinds;

constexpr int64_t kSecond = 10000000;

std::string DvdClip(int tone) {
    return Clip("pal-dvd", "720x576", "-bf 2 -g 12 -c:a mp2 -b:a 224k", tone);
}

struct Cut {
    std::string path;
    double in, out, skip;
};

// Runs engine 2 over the two lists into a DVD program stream; the output's fixture name.
std::string Join(const std::vector<Cut>& video, const std::vector<Cut>& audio, const std::string& stem,
                 bool clearProgressive = false) {
    editor::CEditEngine2 engine;
    EXPECT_TRUE(engine.SetVideoCapacity(int(video.size())));
    EXPECT_TRUE(engine.SetAudioCapacity(int(audio.size())));
    for (const Cut& c : video)
        EXPECT_GE(engine.AddVideoClip(c.path, int64_t(c.in * kSecond), int64_t(c.out * kSecond), true), 0);
    for (const Cut& c : audio)
        EXPECT_GE(engine.AddAudioClip(c.path, int64_t(c.in * kSecond), int64_t(c.out * kSecond), true,
                                      int64_t(c.skip * kSecond)),
                  0);
    engine.SetWriterType(editor::kWriterDvd);
    engine.SetClearProgressiveSequence(clearProgressive);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName(stem) + ".mpg");
    engine.SetOutputFileName(out);
    EXPECT_TRUE(engine.Start());
    EXPECT_EQ(engine.Wait(), editor::kMuxDone);
    EXPECT_EQ(engine.OutputFileCount(), 1);
    return editor_test::FixtureName(out);
}

// Presentation times of a stream, sorted (90 kHz).
std::vector<int64_t> SortedPts(const std::string& name, const std::string& kind) {
    std::vector<int64_t> pts;
    for (const auto& p : ProbePackets(testsupport::FixturePath(name), kind))
        if (p.hasPts) pts.push_back(p.pts);
    std::sort(pts.begin(), pts.end());
    return pts;
}

// Steps between consecutive times are positive and at most `step`.
void ExpectContinuous(const std::vector<int64_t>& pts, int64_t step, const char* what) {
    ASSERT_GT(pts.size(), 10u) << what;
    for (size_t i = 1; i < pts.size(); ++i)
        ASSERT_TRUE(pts[i] > pts[i - 1] && pts[i] - pts[i - 1] <= step)
            << what << " " << pts[i - 1] << " -> " << pts[i];
}

std::vector<uint8_t> VideoElementaryStream(const std::string& name) {
    const std::string es = name + ".m2v";
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -y -i '" + name + "' -map 0:v -c copy -f mpeg2video '" + es + "'"), "");
    return editor_test::ReadFile(testsupport::FixturePath(es));
}

constexpr int64_t kFrame90k = 3600;       // 25 frames/s
constexpr int64_t kAudioFrame90k = 2160;  // 1152 samples at 48 kHz

// Video cuts of two clips under audio cuts of a third: both streams run on, the audio
// spans the video, and the authoring tool takes the stream.
TEST(EditEngine2, VideoAndAudioListsMeetInOneStream) {
    const std::string a = DvdClip(300), b = DvdClip(500), c = DvdClip(900);
    const std::string name = Join({{a, 1.3, 5.7, 0}, {b, 2.1, 6.5, 0}}, {{c, 0.5, 4.5, 0}, {c, 2.0, 6.5, 0}}, "both");
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
    EXPECT_EQ(StreamKinds(name), "video audio");
    const std::vector<int64_t> video = SortedPts(name, "v");
    const std::vector<int64_t> audio = SortedPts(name, "a");
    ExpectContinuous(video, kFrame90k, "video");
    ExpectContinuous(audio, kAudioFrame90k, "audio");
    // Video: the two cuts within a GOP each; audio: its two cuts, one after the other.
    EXPECT_NEAR(double(video.back() + kFrame90k - video.front()) / 90000.0, 8.8, 2 * 0.48);
    EXPECT_NEAR(double(audio.back() + kAudioFrame90k - audio.front()) / 90000.0, 8.5, 0.1);
    EXPECT_NEAR(double(audio.front()), double(video.front()), 0.05 * 90000);
    EXPECT_EQ(editor_test::CountClipStarts(VideoElementaryStream(name)), 2);
    const std::string said = Shell("VIDEO_FORMAT=PAL dvdauthor -o '" + name + ".dvd' -t '" + name + "'");
    EXPECT_EQ(said.find("exit "), std::string::npos) << said;
    EXPECT_EQ(said.find("ERR"), std::string::npos) << said;
}

// Two SVCD video cuts under the audio of a third SVCD clip, written as SVCD: the
// authoring tool of the kind takes it.
TEST(EditEngine2, SvcdJoinPassesVcdimager) {
    const std::string a = Clip("pal-svcd", "480x576", "", 300), b = Clip("pal-svcd", "480x576", "", 500),
                      c = Clip("pal-svcd", "480x576", "", 900);
    editor::CEditEngine2 engine;
    ASSERT_TRUE(engine.SetVideoCapacity(2));
    ASSERT_TRUE(engine.SetAudioCapacity(1));
    ASSERT_GE(engine.AddVideoClip(a, 13000000, 57000000, true), 0);
    ASSERT_GE(engine.AddVideoClip(b, 21000000, 65000000, true), 0);
    ASSERT_GE(engine.AddAudioClip(c, 0, 80000000, true, 0), 0);
    engine.SetWriterType(editor::kWriterSvcd);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("svcd2") + ".mpg");
    engine.SetOutputFileName(out);
    ASSERT_TRUE(engine.Start());
    ASSERT_EQ(engine.Wait(), editor::kMuxDone);
    const std::string name = editor_test::FixtureName(out);
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
    EXPECT_EQ(StreamKinds(name), "video audio");
    ExpectContinuous(SortedPts(name, "v"), kFrame90k, "video");
    EXPECT_EQ(editor_test::CountClipStarts(VideoElementaryStream(name)), 2);
    const std::string said = Shell("vcdimager -t svcd -c '" + name + ".cue' -b '" + name + ".bin' '" + name + "'");
    EXPECT_EQ(said.find("exit "), std::string::npos) << said;
    EXPECT_EQ(said.find("ERR"), std::string::npos) << said;
}

// LPCM audio under video, with no format given: the output takes the audio clip's own,
// and ffmpeg decodes every sample.
TEST(EditEngine2, LpcmAudioListTakesTheClipsFormat) {
    const std::string v = DvdClip(300);
    const std::string a = Clip("pal-dvd", "720x576", "-bf 2 -c:a pcm_dvd", 700);
    editor::CEditEngine2 engine;
    ASSERT_TRUE(engine.SetVideoCapacity(1));
    ASSERT_TRUE(engine.SetAudioCapacity(1));
    ASSERT_GE(engine.AddVideoClip(v, 10000000, 50000000, true), 0);
    ASSERT_GE(engine.AddAudioClip(a, 20000000, 60000000, true, 0), 0);
    engine.SetWriterType(editor::kWriterMpeg2);
    engine.SetAudioKind(editor::kPsAudioLpcm, nullptr);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("lpcm2") + ".mpg");
    engine.SetOutputFileName(out);
    ASSERT_TRUE(engine.Start());
    ASSERT_EQ(engine.Wait(), editor::kMuxDone);
    const std::string name = editor_test::FixtureName(out);
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
    EXPECT_EQ(StreamKinds(name), "video audio");
    EXPECT_EQ(editor_test::ProbeStreamValue(testsupport::FixturePath(name), "a", "codec_name"), "pcm_dvd");
    const std::vector<int64_t> audio = SortedPts(name, "a");
    ASSERT_GT(audio.size(), 10u);
    EXPECT_NEAR(double(audio.back() - audio.front()) / 90000.0, 4.0, 0.1);
}

// An empty list leaves its stream out of the output altogether.
TEST(EditEngine2, AnEmptyListGivesOneStream) {
    const std::string a = DvdClip(300), b = DvdClip(500);
    const std::string videoOnly = Join({{a, 0.5, 3.5, 0}, {b, 1.0, 4.0, 0}}, {}, "video-only");
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + videoOnly + "' -f null -"), "");
    EXPECT_EQ(StreamKinds(videoOnly), "video");
    ExpectContinuous(SortedPts(videoOnly, "v"), kFrame90k, "video");
    EXPECT_EQ(editor_test::CountClipStarts(VideoElementaryStream(videoOnly)), 2);

    const std::string audioOnly = Join({}, {{a, 0.5, 3.5, 0}, {b, 1.0, 4.0, 0}}, "audio-only");
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + audioOnly + "' -f null -"), "");
    EXPECT_EQ(StreamKinds(audioOnly), "audio");
    const std::vector<int64_t> audio = SortedPts(audioOnly, "a");
    ExpectContinuous(audio, kAudioFrame90k, "audio");
    EXPECT_NEAR(double(audio.back() + kAudioFrame90k - audio.front()) / 90000.0, 6.0, 0.1);
}

// A skip shortens a clip's share of the audio time line: the next clip begins that much
// earlier, so its own first part gives way to the audio already written.
TEST(EditEngine2, SkipShortensTheAudioTimeLine) {
    const std::string a = DvdClip(300), b = DvdClip(500);
    const std::string name = Join({}, {{a, 1.0, 3.0, 0.5}, {b, 1.0, 3.0, 0}}, "skip");
    const std::vector<int64_t> audio = SortedPts(name, "a");
    ExpectContinuous(audio, kAudioFrame90k, "audio");
    EXPECT_NEAR(double(audio.back() + kAudioFrame90k - audio.front()) / 90000.0, 3.5, 0.1);
}

// With the option set, every sequence extension goes out with progressive_sequence 0;
// without it the clips' own value (1 for these progressive clips) stays.
TEST(EditEngine2, ClearsProgressiveSequenceInEveryHeader) {
    const std::string a = DvdClip(300), b = DvdClip(500);
    for (const bool clear : {false, true}) {
        const std::string name = Join({{a, 0.5, 3.5, 0}, {b, 1.0, 4.0, 0}}, {}, "progressive", clear);
        const std::vector<uint8_t> v = VideoElementaryStream(name);
        int headers = 0, progressive = 0;
        for (size_t i = 0; i + 12 < v.size(); ++i) {
            if (v[i] != 0 || v[i + 1] != 0 || v[i + 2] != 1 || v[i + 3] != 0xB5 || (v[i + 4] >> 4) != 1) continue;
            ++headers;
            if (v[i + 5] & 0x08) ++progressive;
        }
        EXPECT_GT(headers, 4);
        EXPECT_EQ(progressive, clear ? 0 : headers);
    }
}

// Host segments in both lists, each rendered by its own host through its own sink: video
// cut 1.3-4.1 s, a 3 s host segment, cut 0.5-3.3 s; under it audio cuts 0.5-3.5 s and
// 1.0-3.0 s, then a 3 s host segment whose first 0.5 s is skipped. Both streams run on
// and the audio covers 3 + 2 + 2.5 s.
TEST(EditEngine2, HostSegmentsOfEachList) {
    const std::string a = DvdClip(300), b = DvdClip(500), c = DvdClip(900);
    editor_test::Host video(editor_test::HostVideo(3), editor_test::HostAudio(0.5));
    editor_test::Host sound(editor_test::HostVideo(0.5), editor_test::HostAudio(3));
    editor::CEditEngine2 engine;
    ASSERT_TRUE(engine.SetVideoCapacity(3));
    ASSERT_TRUE(engine.SetAudioCapacity(3));
    ASSERT_GE(engine.AddVideoClip(a, 13000000, 41000000, true), 0);
    ASSERT_EQ(engine.AddVideoClip("", 50000000, 80000000, false), 1);
    ASSERT_GE(engine.AddVideoClip(b, 5000000, 33000000, true), 0);
    ASSERT_GE(engine.AddAudioClip(c, 5000000, 35000000, true, 0), 0);
    ASSERT_GE(engine.AddAudioClip(c, 10000000, 30000000, true, 0), 0);
    ASSERT_EQ(engine.AddAudioClip("", 20000000, 50000000, false, 5000000), 2);
    engine.SetWriterType(editor::kWriterDvd);
    const std::string out = testsupport::FixturePath(testsupport::UniqueName("host2") + ".mpg");
    engine.SetOutputFileName(out);
    // Each list needs its own host.
    ASSERT_FALSE(engine.Start());
    const auto none = [](int64_t, const uint8_t*, size_t) {};
    std::atomic<int> videoAsked{0}, audioAsked{0};
    std::atomic<int64_t> videoIn{0}, videoOut{0}, audioIn{0}, audioOut{0};
    engine.SetVideoSegmentCallback([&](int64_t in, int64_t out) {
        ++videoAsked;
        videoIn = in;
        videoOut = out;
        video.Render([&](int64_t t, const uint8_t* d, size_t n) { engine.VideoSink(t, d, n); }, none, in);
        return true;
    });
    ASSERT_FALSE(engine.Start());
    engine.SetAudioSegmentCallback([&](int64_t in, int64_t out) {
        ++audioAsked;
        audioIn = in;
        audioOut = out;
        sound.Render(
            none, [&](int64_t t, const uint8_t* d, size_t n) { engine.AudioSink(t, d, n); }, in);
        return true;
    });
    ASSERT_TRUE(engine.Start());
    ASSERT_EQ(engine.Wait(), editor::kMuxDone);
    video.Join();
    sound.Join();
    EXPECT_EQ(videoAsked, 1);
    EXPECT_EQ(audioAsked, 1);
    EXPECT_EQ(videoIn, 50000000);
    EXPECT_EQ(videoOut, 80000000);
    EXPECT_EQ(audioIn, 20000000);
    EXPECT_EQ(audioOut, 50000000);
    const std::string name = editor_test::FixtureName(out);
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + name + "' -f null -"), "");
    EXPECT_EQ(StreamKinds(name), "video audio");
    const std::vector<int64_t> v = SortedPts(name, "v");
    const std::vector<int64_t> au = SortedPts(name, "a");
    ExpectContinuous(v, kFrame90k, "video");
    ExpectContinuous(au, kAudioFrame90k, "audio");
    EXPECT_NEAR(double(v.back() + kFrame90k - v.front()) / 90000.0, 8.6, 1.2);
    EXPECT_NEAR(double(au.back() + kAudioFrame90k - au.front()) / 90000.0, 7.5, 0.1);
    EXPECT_NEAR(double(au.front()), double(v.front()), 0.05 * 90000);
    EXPECT_EQ(editor_test::CountClipStarts(VideoElementaryStream(name)), 2);  // the host's GOPs are its own
}

// A host that stalls inside the segment of either list: Stop ends the run, and the sinks
// return at once afterwards.
TEST(EditEngine2, StopDuringAHostSegmentReturns) {
    const std::string a = DvdClip(300);
    editor_test::Host host(editor_test::HostVideo(1), editor_test::HostAudio(1));
    ASSERT_GE(host.times.size(), 10u);
    for (const bool stallVideo : {true, false}) {
        SCOPED_TRACE(stallVideo ? "video" : "audio");
        editor::CEditEngine2 engine;
        ASSERT_TRUE(engine.SetVideoCapacity(2));
        ASSERT_TRUE(engine.SetAudioCapacity(2));
        ASSERT_GE(engine.AddVideoClip(a, 0, 20000000, true), 0);
        ASSERT_GE(engine.AddAudioClip(a, 0, 20000000, true, 0), 0);
        if (stallVideo)
            ASSERT_EQ(engine.AddVideoClip("", 0, 30000000, false), 1);
        else
            ASSERT_EQ(engine.AddAudioClip("", 0, 30000000, false, 0), 1);
        engine.SetWriterType(editor::kWriterDvd);
        std::atomic<bool> asked{false};
        // Some data, then silence from the host: the segment never ends.
        engine.SetVideoSegmentCallback([&](int64_t, int64_t) {
            asked = true;
            for (size_t i = 0; i < 10; ++i)
                engine.VideoSink(host.times[i], host.samples[i].data(), host.samples[i].size());
            return true;
        });
        engine.SetAudioSegmentCallback([&](int64_t, int64_t) {
            asked = true;
            engine.AudioSink(0, host.audio.data(), 3000);
            return true;
        });
        ASSERT_TRUE(engine.Start());
        for (int i = 0; i < 600 && !asked; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(asked);
        const auto t0 = std::chrono::steady_clock::now();
        engine.Stop();
        EXPECT_EQ(engine.Wait(), editor::kMuxFailed);
        engine.VideoSink(0, host.samples[0].data(), host.samples[0].size());
        engine.AudioSink(0, host.audio.data(), 1000);
        // A hang bound, not a speed figure.
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    }
}

}  // namespace
