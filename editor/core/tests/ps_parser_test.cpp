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
void Walk(editor::CPsParser* parser, const std::vector<uint8_t>& file, size_t block, std::vector<Rec>* video,
          std::vector<Rec>* audio) {
    std::vector<uint8_t> payload(editor::kPayloadBufferSize);
    editor::ParserItem item;
    for (size_t at = 0; at < file.size(); at += block) {
        parser->Feed(file.data() + at, std::min(block, file.size() - at));
        if (parser->TakeVideo(std::max(0, parser->FirstVideoStream()), payload.data(), payload.size()))
            while (parser->NextItem(&item))
                video->push_back({item.kind, item.time});
        if (parser->TakeAudio(std::max(0, parser->FirstAudioStream()), payload.data(), payload.size()))
            while (parser->NextItem(&item))
                audio->push_back({item.kind, item.time});
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

void ExpectSameTimes(const std::vector<int64_t>& ours, const std::vector<editor_test::ProbePacket>& judge,
                     bool allTimedByJudge) {
    ASSERT_EQ(ours.size(), judge.size());
    size_t timed = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        if (ours[i] == kNoTime) {
            if (allTimedByJudge) ADD_FAILURE() << "item " << i << " has no time";
            continue;
        }
        ++timed;
        ASSERT_TRUE(judge[i].hasPts) << "item " << i;
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
    int audioKind;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

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
        EXPECT_EQ(parser->GetAudioKind(), c.audioKind);
        std::vector<int64_t> times;
        for (const Rec& r : audio)
            times.push_back(r.time);
        const auto judge = editor_test::ProbePackets(path, "a");
        if (c.audioKind == editor::kAudioLpcm) {
            // ffmpeg hands LPCM over per PES packet, whose first access unit may lie off
            // the 1/600-s frame grid: each packet time is followed within one frame by an
            // item time (up to the last whole frame).
            ASSERT_FALSE(times.empty());
            const int64_t last = *std::max_element(times.begin(), times.end());
            size_t checked = 0;
            for (const auto& p : judge) {
                ASSERT_TRUE(p.hasPts);
                const int64_t t = Ticks90kTo100ns(p.pts);
                if (t > last) continue;
                ++checked;
                EXPECT_TRUE(std::any_of(times.begin(), times.end(), [&](int64_t x) { return x >= t && x - t < 16667; }))
                    << "packet time " << t;
            }
            EXPECT_GE(checked + 1, judge.size());
            editor::AudioFormat f;
            ASSERT_TRUE(parser->GetLpcmFormat(parser->FirstAudioStream(), &f));
            EXPECT_EQ(std::to_string(f.channels), editor_test::ProbeStreamValue(path, "a", "channels"));
            EXPECT_EQ(std::to_string(f.samplesPerSec), editor_test::ProbeStreamValue(path, "a", "sample_rate"));
            EXPECT_EQ(f.bitsPerSample, 16);
            EXPECT_EQ(parser->AudioFrameBytes(), 16 * f.channels * 80 / 8);
        } else {
            // MPEG audio items get only their packet's time; AC-3 items all have one.
            ExpectSameTimes(times, judge, c.audioKind == editor::kAudioAc3);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ParserFixtures,
    ::testing::Values(Case{"DvdMp2", "-target pal-dvd -c:a mp2 -b:a 224k", "720x576", "25", false, editor::kAudioMpeg},
                      Case{"DvdAc3", "-target pal-dvd", "720x576", "25", false, editor::kAudioAc3},
                      Case{"DvdLpcm", "-target pal-dvd -c:a pcm_s16be", "720x576", "25", false, editor::kAudioLpcm},
                      Case{"NtscDvdAc3", "-target ntsc-dvd", "720x480", "30000/1001", false, editor::kAudioAc3},
                      Case{"Svcd", "-target ntsc-svcd", "480x480", "30000/1001", false, editor::kAudioMpeg},
                      Case{"Vcd", "-target pal-vcd", "352x288", "25", true, editor::kAudioMpeg},
                      Case{"Mpeg1Mp3", "-c:v mpeg1video -c:a libmp3lame -b:a 128k -f mpeg", "320x240", "25", true,
                           editor::kAudioMpeg}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// Hand-made MPEG-2 program stream pieces (ISO/IEC 13818-1 2.5.3.3 and 2.4.3.6).
std::vector<uint8_t> Pack() {
    return {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
}

std::vector<uint8_t> Pes(uint8_t id, const std::vector<uint8_t>& payload, int64_t pts = -1) {
    const size_t length = 3 + (pts >= 0 ? 5 : 0) + payload.size();
    std::vector<uint8_t> out;
    out.reserve(6 + length);
    for (uint8_t b : {uint8_t(0), uint8_t(0), uint8_t(1), id, uint8_t(length >> 8), uint8_t(length), uint8_t(0x81),
                      uint8_t(pts >= 0 ? 0x80 : 0x00), uint8_t(pts >= 0 ? 5 : 0)})
        out.push_back(b);
    if (pts >= 0) {
        out.push_back(uint8_t(0x21 | ((pts >> 29) & 0x0E)));
        out.push_back(uint8_t(pts >> 22));
        out.push_back(uint8_t(((pts >> 14) & 0xFE) | 1));
        out.push_back(uint8_t(pts >> 7));
        out.push_back(uint8_t(((pts << 1) & 0xFE) | 1));
    }
    for (uint8_t b : payload)
        out.push_back(b);
    return out;
}

void Append(std::vector<uint8_t>* to, const std::vector<uint8_t>& more) {
    to->insert(to->end(), more.begin(), more.end());
}

std::vector<uint8_t> Picture(int temporal_reference) {
    return {0x00, 0x00, 0x01, 0x00, uint8_t(temporal_reference >> 2), uint8_t((temporal_reference & 3) << 6 | 0x08),
            0x55, 0x55, 0x55, 0x55};
}

std::vector<editor::ParserItem> TakeAll(editor::CPsParser* p, bool video, int index) {
    static std::vector<uint8_t> payload(editor::kPayloadBufferSize);
    if (video)
        p->TakeVideo(index, payload.data(), payload.size());
    else
        p->TakeAudio(index, payload.data(), payload.size());
    std::vector<editor::ParserItem> items;
    editor::ParserItem item;
    while (p->NextItem(&item))
        items.push_back(item);
    return items;
}

TEST(PsParser, OnlyTheFirstItemOfAPacketTakesItsTime) {
    std::vector<uint8_t> payload = Picture(0);
    Append(&payload, Picture(1));
    std::vector<uint8_t> ps = Pack();
    Append(&ps, Pes(0xE0, payload, 90000));
    Append(&ps, Pack());  // ends the packet for the machine
    editor::CMpeg2StreamParser p;
    p.Feed(ps.data(), ps.size());
    const auto items = TakeAll(&p, true, 0);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].time, 10000000);
    EXPECT_EQ(items[1].time, kNoTime);
    EXPECT_EQ(items[1].position, 10);
}

TEST(PsParser, PrivateSubstreamsAndLpcmFormat) {
    std::vector<uint8_t> ps = Pack();
    // LPCM 0xA7: 24 bits, 96 kHz, 6 channels.
    std::vector<uint8_t> lpcm = {0xA7, 1, 0x00, 0x04, 0x00, 0x95, 0x80};
    lpcm.resize(7 + 24 * 6 * 160 / 8, 0);
    Append(&ps, Pes(0xBD, lpcm, 900));
    // AC-3 on 0x80 and 0x88 are both kept; 0x89 is not a substream of either range.
    for (uint8_t sub : {0x88, 0x80, 0x89})
        Append(&ps, Pes(0xBD, {sub, 1, 0x00, 0x01, 0x0B, 0x77, 0, 0, 0x10, 0x40}, 1800));
    Append(&ps, Pack());
    editor::CMpeg2StreamParser p;
    p.Feed(ps.data(), ps.size());
    EXPECT_EQ(p.FirstAudioStream(), editor::kLpcmIndexBase + 7);
    EXPECT_EQ(p.GetAudioKind(), editor::kAudioLpcm);
    editor::AudioFormat f;
    ASSERT_TRUE(p.GetLpcmFormat(editor::kLpcmIndexBase + 7, &f));
    EXPECT_EQ(f.channels, 6);
    EXPECT_EQ(f.samplesPerSec, 96000u);
    EXPECT_EQ(f.bitsPerSample, 24);
    EXPECT_EQ(f.blockAlign, 18);
    EXPECT_EQ(p.AudioFrameBytes(), 24 * 6 * 160 / 8);
    const auto lpcmItems = TakeAll(&p, false, editor::kLpcmIndexBase + 7);
    ASSERT_EQ(lpcmItems.size(), 1u);
    EXPECT_EQ(lpcmItems[0].time, 100000);
    std::vector<uint8_t> buf(editor::kPayloadBufferSize);
    EXPECT_EQ(p.TakeAudio(editor::kAc3IndexBase + 8, buf.data(), buf.size()), 6u);
    EXPECT_EQ(p.TakeAudio(editor::kAc3IndexBase + 0, buf.data(), buf.size()), 6u);
    EXPECT_EQ(p.TakeAudio(editor::kAudioStreams, buf.data(), buf.size()), 0u);
    EXPECT_EQ(p.TakeVideo(-1, buf.data(), buf.size()), 0u);
}

// Layer II frames of 672 bytes (48 kHz, 224 kbit/s) whose payload holds header-like bytes.
TEST(PsParser, MpegAudioFramesFollowTheirLengthAcrossLookalikes) {
    std::vector<uint8_t> es;
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> frame(672, 0x11);
        frame[0] = 0xFF, frame[1] = 0xFD, frame[2] = 0xB4, frame[3] = 0x0C;
        frame[100] = 0xFF, frame[101] = 0xFD, frame[102] = 0xB4, frame[103] = 0x0C;
        Append(&es, frame);
    }
    std::vector<uint8_t> ps = Pack();
    // Cut mid-frame into two packets: the second one's time belongs to the third frame.
    Append(&ps, Pes(0xC0, std::vector<uint8_t>(es.begin(), es.begin() + 1000), 0));
    Append(&ps, Pes(0xC0, std::vector<uint8_t>(es.begin() + 1000, es.end()), 3600));
    Append(&ps, Pack());
    editor::CMpeg2StreamParser p;
    // Fed one byte at a time: every unit is cut at every position.
    for (uint8_t b : ps)
        p.Feed(&b, 1);
    const auto items = TakeAll(&p, false, 0);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].position, 0);
    EXPECT_EQ(items[1].position, 672);
    EXPECT_EQ(items[2].position, 1344);
    EXPECT_EQ(items[0].time, 0);
    EXPECT_EQ(items[1].time, kNoTime);
    EXPECT_EQ(items[2].time, 400000);
}

TEST(PsParser, TimeTableKeepsTheNewestHundred) {
    std::vector<uint8_t> ps = Pack();
    for (int i = 0; i < 150; ++i)
        Append(&ps, Pes(0xE0, Picture(i), 3600 * i));
    Append(&ps, Pack());
    editor::CMpeg2StreamParser p;
    p.Feed(ps.data(), ps.size());
    const auto items = TakeAll(&p, true, 0);
    ASSERT_EQ(items.size(), 150u);
    for (int i = 0; i < 150; ++i)
        EXPECT_EQ(items[size_t(i)].time, i < 50 ? kNoTime : int64_t(400000) * i) << i;
}

TEST(PsParser, FullStreamRingRefusesAndCounts) {
    std::vector<uint8_t> ps;
    for (int i = 0; i < 8; ++i) {
        Append(&ps, Pack());
        Append(&ps, Pes(0xE0, std::vector<uint8_t>(60000, 0x22)));
    }
    Append(&ps, Pack());
    editor::CMpeg2StreamParser p;
    p.Feed(ps.data(), ps.size());
    EXPECT_EQ(p.DroppedBytes(), 5u * 60000u);  // 3 x 60,000 fit in 204,799 bytes
    std::vector<uint8_t> buf(editor::kPayloadBufferSize);
    EXPECT_EQ(p.TakeVideo(0, buf.data(), buf.size()), 180000u);
}

TEST(PsParser, DamagedUnitsAreSkipped) {
    std::vector<uint8_t> ps = {0x12, 0x00, 0x00, 0x01, 0x00, 0x77};  // junk before a pack
    Append(&ps, Pack());
    std::vector<uint8_t> bad = Pes(0xE0, Picture(0), 90000);
    bad[6] = 0x41;  // not '10': an MPEG-1 header in an MPEG-2 stream
    Append(&ps, bad);
    std::vector<uint8_t> mpeg1Pack = {0x00, 0x00, 0x01, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0x1B, 0x91};
    Append(&ps, mpeg1Pack);
    Append(&ps, Pack());
    Append(&ps, Pes(0xE0, Picture(3), 180000));
    Append(&ps, Pack());
    editor::CMpeg2StreamParser p;
    p.Feed(ps.data(), ps.size());
    EXPECT_EQ(p.Errors(), 2u);
    const auto items = TakeAll(&p, true, 0);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].time, 20000000);
}

// The analysis log is the user's file until logging is switched on.
TEST(PsParser, AnalysisLogOnlyWhenSwitchedOn) {
    const char* name = "M2SAna.txt";
    {
        std::ofstream out(name);
        out << "user data";
    }
    std::vector<uint8_t> ps = Pack();
    Append(&ps, Pes(0xE0, Picture(0), 90000));
    Append(&ps, Pack());
    auto read = [&] {
        std::ifstream in(name);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    {
        editor::CMpeg2StreamParser p;
        p.Feed(ps.data(), ps.size());
        EXPECT_EQ(read(), "user data");
        p.SetLog(true);
        p.Feed(ps.data(), ps.size());
        std::vector<uint8_t> later = Pes(0xE0, Picture(1), 180000);
        Append(&later, Pack());
        p.Feed(later.data(), later.size());
    }
    const std::string log = read();
    EXPECT_EQ(log.find("user data"), std::string::npos);
    EXPECT_NE(log.find("PACK "), std::string::npos);
    EXPECT_NE(log.find("VPTS 90000, 00:00:01"), std::string::npos);
    EXPECT_NE(log.find("VPTS 180000, 00:00:02, VDIFF: 1000, "), std::string::npos);
    std::remove(name);
}

}  // namespace
