#include "editor/core/ps_parser.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "editor/core/tests/ps_fixtures.h"

namespace {

using editor::kNoTime;
using editor_test::Ticks90kTo100ns;

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Rec {
    int kind;
    int64_t time;
};

// Feeds the file in blocks of `block` bytes and walks every take of the first video and
// the first audio stream.
void Walk(editor::CPsParser* parser, const std::vector<uint8_t>& file, size_t block,
          std::vector<Rec>* video, std::vector<Rec>* audio) {
    std::vector<uint8_t> payload(editor::kPayloadBufferSize);
    editor::ParserItem item;
    for (size_t at = 0; at < file.size(); at += block) {
        parser->Feed(file.data() + at, std::min(block, file.size() - at));
        if (parser->TakeVideo(std::max(0, parser->FirstVideoStream()), payload.data(), payload.size()))
            while (parser->NextItem(&item)) video->push_back({item.kind, item.time});
        if (parser->TakeAudio(std::max(0, parser->FirstAudioStream()), payload.data(), payload.size()))
            while (parser->NextItem(&item)) audio->push_back({item.kind, item.time});
    }
    EXPECT_EQ(parser->DroppedBytes(), 0u);
}

// Video items grouped into frames: a picture with the headers before it; the frame's time
// is the first time among them (ffmpeg's frames begin with those headers too).
std::vector<int64_t> FrameTimes(const std::vector<Rec>& items) {
    std::vector<int64_t> frames;
    int64_t pending = kNoTime;
    for (const Rec& r : items) {
        if (pending == kNoTime) pending = r.time;
        if (r.kind == editor::kItemPicture) {
            frames.push_back(pending);
            pending = kNoTime;
        }
    }
    return frames;
}

void ExpectSameTimes(const std::vector<int64_t>& ours,
                     const std::vector<editor_test::ProbePacket>& judge, bool all_timed_by_judge) {
    ASSERT_EQ(ours.size(), judge.size());
    size_t timed = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        if (ours[i] == kNoTime) {
            if (all_timed_by_judge) ADD_FAILURE() << "item " << i << " has no time";
            continue;
        }
        ++timed;
        ASSERT_TRUE(judge[i].has_pts) << "item " << i;
        EXPECT_EQ(ours[i], Ticks90kTo100ns(judge[i].pts)) << "item " << i;
    }
    EXPECT_GT(timed, ours.size() / 20);
}

struct Case {
    const char* name;
    const char* extra;
    const char* size;
    const char* rate;
    bool mpeg1;
    int audio_kind;
};

class ParserFixtures : public ::testing::TestWithParam<Case> {};

TEST_P(ParserFixtures, ItemsMatchFfprobe) {
    const Case& c = GetParam();
    std::string path;
    ASSERT_TRUE(testsupport::MediaFixture(editor_test::PsCommand(c.size, c.rate, c.extra), "mpg", &path));
    const std::vector<uint8_t> file = ReadFile(path);
    ASSERT_GT(file.size(), 10000u);

    for (size_t block : {size_t(2324), size_t(777)}) {
        SCOPED_TRACE(block);
        std::unique_ptr<editor::CPsParser> parser;
        if (c.mpeg1) {
            parser = std::make_unique<editor::CMpeg1StreamParser>();
        } else {
            parser = std::make_unique<editor::CMpeg2StreamParser>();
        }
        std::vector<Rec> video, audio;
        Walk(parser.get(), file, block, &video, &audio);
        EXPECT_EQ(parser->FirstVideoStream(), 0);
        ExpectSameTimes(FrameTimes(video), editor_test::ProbePackets(path, "v"), false);
        EXPECT_EQ(parser->GetAudioKind(), c.audio_kind);
        std::vector<int64_t> times;
        for (const Rec& r : audio) times.push_back(r.time);
        const auto judge = editor_test::ProbePackets(path, "a");
        if (c.audio_kind == editor::kAudioLpcm) {
            // ffmpeg hands LPCM over per PES packet, whose first access unit may lie off
            // the 1/600-s frame grid: each packet time is followed within one frame by an
            // item time (up to the last whole frame).
            ASSERT_FALSE(times.empty());
            const int64_t last = *std::max_element(times.begin(), times.end());
            size_t checked = 0;
            for (const auto& p : judge) {
                ASSERT_TRUE(p.has_pts);
                const int64_t t = Ticks90kTo100ns(p.pts);
                if (t > last) continue;
                ++checked;
                EXPECT_TRUE(std::any_of(times.begin(), times.end(),
                                        [&](int64_t x) { return x >= t && x - t < 16667; }))
                    << "packet time " << t;
            }
            EXPECT_GE(checked + 1, judge.size());
            editor::LpcmFormat f;
            ASSERT_TRUE(parser->GetLpcmFormat(parser->FirstAudioStream(), &f));
            EXPECT_EQ(std::to_string(f.channels), editor_test::ProbeStreamValue(path, "a", "channels"));
            EXPECT_EQ(std::to_string(f.samples_per_sec), editor_test::ProbeStreamValue(path, "a", "sample_rate"));
            EXPECT_EQ(f.bits_per_sample, 16);
            EXPECT_EQ(parser->AudioFrameBytes(), 16 * f.channels * 80 / 8);
        } else {
            // MPEG audio items get only their packet's time; AC-3 items all have one.
            ExpectSameTimes(times, judge, c.audio_kind == editor::kAudioAc3);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ParserFixtures,
    ::testing::Values(
        Case{"DvdMp2", "-target pal-dvd -c:a mp2 -b:a 224k", "720x576", "25", false, editor::kAudioMpeg},
        Case{"DvdAc3", "-target pal-dvd", "720x576", "25", false, editor::kAudioAc3},
        Case{"DvdLpcm", "-target pal-dvd -c:a pcm_s16be", "720x576", "25", false, editor::kAudioLpcm},
        Case{"NtscDvdAc3", "-target ntsc-dvd", "720x480", "30000/1001", false, editor::kAudioAc3},
        Case{"Svcd", "-target ntsc-svcd", "480x480", "30000/1001", false, editor::kAudioMpeg},
        Case{"Vcd", "-target pal-vcd", "352x288", "25", true, editor::kAudioMpeg},
        Case{"Mpeg1Mp3", "-c:v mpeg1video -c:a libmp3lame -b:a 128k -f mpeg", "320x240", "25", true,
             editor::kAudioMpeg}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
