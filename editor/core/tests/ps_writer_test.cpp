#include "editor/core/ps_writer.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "editor/core/silent_frames.h"
#include "filters/muxer/core/tests/systems_checker.h"

namespace {

using editor::kNoTime;

std::vector<uint8_t> Picture(int type, int tr, size_t size) {
    std::vector<uint8_t> p(size, 0x55);
    const uint8_t head[8] = {0, 0, 1, 0, uint8_t(tr >> 2), uint8_t((tr & 3) << 6 | type << 3), 0xFF, 0xF8};
    std::memcpy(p.data(), head, 8);
    return p;
}

std::vector<uint8_t> SequenceAndGop() {
    return {0, 0, 1, 0xB3, 0x2D, 0x02, 0x40, 0x33, 0xFF, 0xFF, 0xE0, 0x18, 0, 0, 1, 0xB8, 0, 8, 0, 0x40};
}

std::vector<uint8_t> Drain(editor::CPsWriter* w) {
    std::vector<uint8_t> out, block(1 << 16);
    for (size_t n; (n = w->ReadOutput(block.data(), block.size())) > 0;)
        out.insert(out.end(), block.begin(), block.begin() + ptrdiff_t(n));
    return out;
}

int64_t Stamp(const uint8_t* p) {
    return (int64_t(p[0] >> 1) & 7) << 30 | int64_t(p[1]) << 22 | int64_t(p[2] >> 1) << 15 | int64_t(p[3]) << 7 |
           int64_t(p[4] >> 1);
}

struct Packet {
    size_t pack;  // offset of its pack
    int64_t scr;
    int id;
    int64_t pts = -1, dts = -1;
    size_t payload = 0;
};

// The packets of a stream of fixed-size packs (MPEG-2 or MPEG-1 syntax).
std::vector<Packet> Packets(const std::vector<uint8_t>& s, size_t packSize, bool mpeg1) {
    std::vector<Packet> out;
    for (size_t at = 0; at + 14 <= s.size(); at += packSize) {
        EXPECT_EQ(s[at + 3], 0xBA) << at;
        const uint8_t* h = &s[at + 4];
        const int64_t scr = mpeg1 ? Stamp(h)
                                  : (int64_t(h[0] >> 3) & 7) << 30 | int64_t(h[0] & 3) << 28 | int64_t(h[1]) << 20 |
                                        int64_t(h[2] >> 3) << 15 | int64_t(h[2] & 3) << 13 | int64_t(h[3]) << 5 |
                                        int64_t(h[4] >> 3);
        size_t p = at + (mpeg1 ? 12 : 14);
        const size_t end = std::min(s.size(), at + packSize);
        while (p + 6 <= end && s[p] == 0 && s[p + 1] == 0 && s[p + 2] == 1 && s[p + 3] != 0xB9) {
            const size_t len = size_t(s[p + 4]) << 8 | s[p + 5];
            Packet k{at, scr, s[p + 3]};
            const int id = s[p + 3];
            if (id != 0xBB && id != 0xBE && id != 0xBF) {
                size_t q = p + 6;
                if (mpeg1) {
                    while (s[q] == 0xFF)
                        ++q;
                    if ((s[q] >> 6) == 1) q += 2;
                    if ((s[q] >> 4) >= 2 && s[q] != 0x0F) k.pts = Stamp(&s[q]);
                    if ((s[q] >> 4) == 3) k.dts = Stamp(&s[q + 5]);
                    q += (s[q] >> 4) == 3 ? 10 : (s[q] >> 4) == 2 ? 5 : 1;
                } else {
                    if (s[q + 1] & 0x80) k.pts = Stamp(&s[q + 3]);
                    if ((s[q + 1] & 0xC0) == 0xC0) k.dts = Stamp(&s[q + 8]);
                    q += 3 + s[q + 2];
                }
                k.payload = p + 6 + len - q;
            }
            out.push_back(k);
            p += 6 + len;
        }
        EXPECT_LE(p, end) << "packet runs past its pack at " << at;
    }
    return out;
}

// An IBBP GOP of 12 pictures in decoding order with its time stamps (100 ns, 25 Hz).
void WriteGop(editor::CPsWriter* w, int video, int64_t start, size_t pictureSize) {
    w->WriteVideo(video, SequenceAndGop().data(), SequenceAndGop().size(), kNoTime);
    const int order[12][2] = {{1, 2}, {3, 0}, {3, 1}, {2, 5},  {3, 3}, {3, 4},
                              {2, 8}, {3, 6}, {3, 7}, {2, 11}, {3, 9}, {3, 10}};
    for (const auto& o : order) {
        const auto p = Picture(o[0], o[1], pictureSize);
        w->WriteVideo(video, p.data(), p.size(), start + int64_t(o[1]) * 400000);
    }
}

// A writer of `type` with a video stream and a 224 kbit/s MPEG audio stream, begun with
// the engine's lead of 0.2 s.
void StartWithMpegAudio(editor::CMpeg2PsWriter* w, int type, int64_t videoRate, int* video, int* audio) {
    w->SetType(type);
    *video = w->AddVideoStream(videoRate);
    *audio = w->AddAudioStream(editor::kPsAudioMpeg, 224000);
    ASSERT_TRUE(w->Begin());
    w->SetTimeOrigin(-2000000);
}

// SVCD opens with two packs at SCRs of 2 and 602 ticks: the first carries the one system
// header of every stream (rate_bound at least the packs' program_mux_rate of 6972; fixed
// rate, as the writer fills to the video rate), the second padding only; the last pack ends with the program end code.
TEST(Mpeg2PsWriter, SvcdOpensWithOneSystemHeaderAndEndsWithTheEndCode) {
    editor::CMpeg2PsWriter w;
    w.SetType(editor::kWriterSvcd);
    const int video = w.AddVideoStream(2500000);
    const int audio = w.AddAudioStream(editor::kPsAudioMpeg, 224000);
    ASSERT_EQ(video, 0xE0);
    ASSERT_EQ(audio, 0xC0);
    ASSERT_TRUE(w.Begin());
    w.SetTimeOrigin(-2000000);
    WriteGop(&w, video, 0, 3000);
    const auto& frame = editor::kSilentMpegAudioFrames[1];
    for (int i = 0; i < 20; ++i)
        w.WriteAudio(audio, frame.data, frame.length, int64_t(i) * 240000);
    w.WriteSequenceEnd();
    w.Flush();
    const auto s = Drain(&w);
    ASSERT_EQ(s.size() % 2324, 0u);
    const uint8_t first[35] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x14, 0x01, 0x00, 0x6C,
                               0xF3, 0xF8, 0x00, 0x00, 0x01, 0xBB, 0x00, 0x0C, 0x80, 0x36, 0x79, 0x06,
                               0xE1, 0xFF, 0xE0, 0xE0, 0xE6, 0xC0, 0xC0, 0x20, 0x00, 0x00, 0x01};
    EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.begin() + 35), std::vector<uint8_t>(first, first + 35));
    EXPECT_EQ(s[35], 0xBE);
    const uint8_t second[18] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x12, 0xD4,
                                0x01, 0x00, 0x6C, 0xF3, 0xF8, 0x00, 0x00, 0x01, 0xBE};
    EXPECT_EQ(std::vector<uint8_t>(s.begin() + 2324, s.begin() + 2324 + 18), std::vector<uint8_t>(second, second + 18));
    size_t systemHeaders = 0;
    for (size_t at = 0; at + 4 <= s.size(); at += 2324)
        systemHeaders += s[at + 14] == 0 && s[at + 15] == 0 && s[at + 16] == 1 && s[at + 17] == 0xBB;
    EXPECT_EQ(systemHeaders, 1u);
    EXPECT_EQ(std::vector<uint8_t>(s.end() - 4, s.end()), (std::vector<uint8_t>{0, 0, 1, 0xB9}));
}

// Closed GOPs (the I picture shown first), audio fed between the pictures by time as the
// engine feeds it: every MPEG-2 output type keeps the system target decoder's rules (the
// SCRs spaced by the declared mux rate, every unit in before its decoding time, buffers
// within their bounds). Video packets with a time carry PTS and DTS, B pictures
// DTS = PTS - 1000, and so does the first picture instead of a decoding time of 1 that
// no byte could arrive by.
TEST(Mpeg2PsWriter, PacksKeepTheDecoderModel) {
    struct Case {
        int type;
        size_t packSize;
        int64_t videoRate;
        size_t intra, other;  // picture sizes
    };
    for (const Case c :
         {Case{editor::kWriterMpeg2, 2048, 0, 60000, 6000}, Case{editor::kWriterMpeg2, 2048, 4000000, 60000, 6000},
          Case{editor::kWriterDvd, 2048, 0, 120000, 12000}, Case{editor::kWriterSvcd, 2324, 2000000, 25000, 4000}}) {
        SCOPED_TRACE(c.type * 100 + int(c.videoRate / 1000000));
        editor::CMpeg2PsWriter w;
        int video = 0, audio = 0;
        ASSERT_NO_FATAL_FAILURE(StartWithMpegAudio(&w, c.type, c.videoRate, &video, &audio));
        const auto& frame = editor::kSilentMpegAudioFrames[1];
        int64_t audioTime = 0;
        const int order[12][2] = {{1, 0}, {2, 3}, {3, 1}, {3, 2}, {2, 6},  {3, 4},
                                  {3, 5}, {2, 9}, {3, 7}, {3, 8}, {2, 11}, {3, 10}};
        for (int g = 0; g < 8; ++g) {
            w.WriteVideo(video, SequenceAndGop().data(), SequenceAndGop().size(), kNoTime);
            for (int k = 0; k < 12; ++k) {
                const int64_t start = int64_t(g) * 4800000;
                const auto p = Picture(order[k][0], order[k][1], order[k][0] == 1 ? c.intra : c.other);
                w.WriteVideo(video, p.data(), p.size(), start + int64_t(order[k][1]) * 400000);
                for (; audioTime < start + int64_t(k + 1) * 400000; audioTime += 240000)
                    w.WriteAudio(audio, frame.data, frame.length, audioTime);
            }
        }
        w.WriteSequenceEnd();
        w.Flush();
        const auto s = Drain(&w);
        ASSERT_EQ(s.size() % c.packSize, 0u);
        const muxertest::SystemsReport r = muxertest::CheckProgramStream(s, c.type == editor::kWriterDvd);
        EXPECT_EQ(r.error, "");
        EXPECT_GT(r.stamped.count(0xE0) ? r.stamped.at(0xE0) : 0, 90);
        int64_t firstDts = -1, firstPts = -1;
        for (const Packet& p : Packets(s, c.packSize, false)) {
            if (p.id != 0xE0 || p.pts < 0) continue;
            ASSERT_GE(p.dts, 0);
            if (firstDts < 0) firstDts = p.dts, firstPts = p.pts;
            EXPECT_LT(p.dts, p.pts);
        }
        EXPECT_EQ(firstPts, 18000);
        EXPECT_EQ(firstDts, 17000);
    }
}

// Every picture keeps its own PTS even when pictures are smaller than a packet; a unit
// larger than the stream's ring goes through it in chunks, byte for byte.
TEST(Mpeg2PsWriter, SmallPicturesKeepTheirTimesAndLargeUnitsPassWhole) {
    editor::CMpeg2PsWriter w;
    w.SetType(editor::kWriterDvd);
    const int video = w.AddVideoStream(0);
    w.AddAudioStream(editor::kPsAudioAc3, 0);
    ASSERT_TRUE(w.Begin());
    w.SetTimeOrigin(0);
    WriteGop(&w, video, 2000000, 300);
    const auto big = Picture(1, 0, 1000000);
    w.WriteVideo(video, SequenceAndGop().data(), SequenceAndGop().size(), kNoTime);
    w.WriteVideo(video, big.data(), big.size(), 8000000);
    w.Flush();
    const auto s = Drain(&w);
    ASSERT_EQ(s.size() % 2048, 0u);
    int timed = 0, navs = 0;
    size_t videoBytes = 0;
    for (const Packet& p : Packets(s, 2048, false)) {
        if (p.id == 0xE0) {
            videoBytes += p.payload;
            if (p.pts >= 0) ++timed;
        }
        if (p.id == 0xBB) ++navs;
    }
    EXPECT_EQ(timed, 13);
    EXPECT_EQ(navs, 2);  // a navigation pack at each sequence header
    EXPECT_EQ(videoBytes, 2 * SequenceAndGop().size() + 12 * 300 + big.size());
}

// VCD: the two system-header packs, 2324-byte packs whose SCR advances by 1200, audio
// packs closed by 20 zero bytes; MPEG-1 B pictures carry DTS = PTS, the first DTS is 0.
TEST(Mpeg1PsWriter, VcdPacksAndTimeStamps) {
    editor::CMpeg1PsWriter w;
    w.SetType(editor::kWriterVcd);
    const int video = w.AddVideoStream(1150000);
    const int audio = w.AddMpegAudioStream(224000);
    ASSERT_TRUE(w.Begin());
    w.SetTimeOrigin(-2000000);
    const auto& frame = editor::kSilentMpegAudioFrames[0];
    for (int g = 0; g < 3; ++g) {
        WriteGop(&w, video, int64_t(g) * 4800000, 4000);
        for (int i = 0; i < 18; ++i)
            w.WriteAudio(audio, frame.data, frame.length, int64_t(g * 18 + i) * 261224);
    }
    w.Flush();
    const auto s = Drain(&w);
    ASSERT_EQ(s.size() % 2324, 0u);
    const auto packets = Packets(s, 2324, true);
    ASSERT_EQ(packets[0].id, 0xBB);
    EXPECT_EQ(s[12 + 10], 0xE1);  // video-only system header: locks, marker, video_bound 1
    EXPECT_EQ(packets[2].id, 0xBB);
    int64_t lastScr = -1200;
    size_t lastPack = SIZE_MAX;
    int64_t firstDts = -1;
    bool sawB = false;
    for (const Packet& p : packets) {
        if (p.pack != lastPack) {
            EXPECT_EQ(p.scr, lastScr + 1200);
            lastScr = p.scr;
            lastPack = p.pack;
        }
        if (p.id == 0xC0) {
            const size_t end = p.pack + 2324;
            EXPECT_EQ(std::vector<uint8_t>(s.begin() + ptrdiff_t(end - 20), s.begin() + ptrdiff_t(end)),
                      std::vector<uint8_t>(20, 0));
        }
        if (p.id == 0xE0 && p.pts >= 0) {
            if (firstDts < 0) firstDts = p.dts;
            if (p.dts == p.pts) sawB = true;
            EXPECT_LE(p.dts, p.pts);
        }
    }
    EXPECT_EQ(firstDts, 0);
    EXPECT_TRUE(sawB);
}

TEST(PsWriter, RefusesInputAfterFlushAndUnknownStreams) {
    for (int type : {editor::kWriterMpeg2, editor::kWriterVcd}) {
        auto w = editor::MakePsWriter(type);
        const int video = w->AddVideoStream(0);
        ASSERT_TRUE(w->Begin());
        const auto p = Picture(1, 0, 100);
        EXPECT_EQ(w->WriteVideo(0xE5, p.data(), p.size(), 0), 0u);
        EXPECT_EQ(w->WriteAudio(0xC0, p.data(), p.size(), 0), 0u);
        EXPECT_EQ(w->WriteVideo(video, p.data(), p.size(), 0), p.size());
        w->Flush();
        EXPECT_EQ(w->WriteVideo(video, p.data(), p.size(), 0), 0u);
    }
}

}  // namespace

// A first I picture that the mux rate cannot carry within the engine's lead (168 KB at
// SVCD's 2.79 Mbit/s takes 0.48 s, the lead is 0.2 s): every time moves later together,
// by at least the time the video buffer takes to fill, so the picture and the large
// pictures of its GOP arrive before they are decoded and the audio stays in step. A
// first picture that fits keeps the engine's lead (the decoder-model test above).
TEST(Mpeg2PsWriter, ALargeFirstPictureGetsALongerLead) {
    struct Case {
        int type;
        int64_t videoRate;
        size_t intra;
    };
    for (const Case c : {Case{editor::kWriterSvcd, 2000000, 168000}, Case{editor::kWriterDvd, 0, 220000},
                         Case{editor::kWriterMpeg2, 0, 220000}}) {
        SCOPED_TRACE(c.type);
        editor::CMpeg2PsWriter w;
        int video = 0, audio = 0;
        ASSERT_NO_FATAL_FAILURE(StartWithMpegAudio(&w, c.type, c.videoRate, &video, &audio));
        const auto& frame = editor::kSilentMpegAudioFrames[1];
        // The engine's order: audio frames before the pictures decoded after them.
        int64_t audioTime = 0;
        const int order[12][2] = {{1, 2}, {3, 0}, {3, 1}, {2, 5},  {3, 3}, {3, 4},
                                  {2, 8}, {3, 6}, {3, 7}, {2, 11}, {3, 9}, {3, 10}};
        for (int g = 0; g < 4; ++g) {
            w.WriteVideo(video, SequenceAndGop().data(), SequenceAndGop().size(), kNoTime);
            for (int k = 0; k < 12; ++k) {
                const int64_t start = int64_t(g) * 4800000;
                for (; audioTime < start + int64_t(k - 1) * 400000; audioTime += 240000)
                    w.WriteAudio(audio, frame.data, frame.length, audioTime);
                const size_t size = g == 0 && k == 0 ? c.intra : order[k][0] == 1 ? 20000 : 3000;
                const auto p = Picture(order[k][0], order[k][1], size);
                w.WriteVideo(video, p.data(), p.size(), start + int64_t(order[k][1]) * 400000);
            }
        }
        w.WriteSequenceEnd();
        w.Flush();
        const auto s = Drain(&w);
        EXPECT_EQ(muxertest::CheckProgramStream(s, c.type == editor::kWriterDvd).error, "");
        // Audio and video moved by the same amount: the first audio frame (time 0) is
        // still shown 2 frames before the first picture (time 0.08 s).
        int64_t firstVideo = -1, firstAudio = -1;
        for (const Packet& p : Packets(s, c.type == editor::kWriterSvcd ? 2324 : 2048, false)) {
            if (p.id == 0xE0 && p.pts >= 0 && firstVideo < 0) firstVideo = p.pts;
            if (p.id == 0xC0 && p.pts >= 0 && firstAudio < 0) firstAudio = p.pts;
        }
        EXPECT_GT(firstAudio, 18000);
        EXPECT_EQ(firstVideo - firstAudio, 7200);
    }
}

// An I picture of 150 KB opens every GOP of an SVCD stream: it takes about 0.45 s at the
// mux rate, longer than the audio packets around its decoding time leave it. Handed the
// writer's lead ahead of the audio, as the engine hands them, its packets go between the
// audio packets that follow, and every unit arrives before its decoding time.
TEST(Mpeg2PsWriter, LargePicturesInMidStreamGoBetweenTheAudio) {
    editor::CMpeg2PsWriter w;
    int video = 0, audio = 0;
    ASSERT_NO_FATAL_FAILURE(StartWithMpegAudio(&w, editor::kWriterSvcd, 2000000, &video, &audio));
    const int64_t lead = w.VideoLead();
    ASSERT_GT(lead, 4500000);  // at least what the 150 KB take
    const auto& frame = editor::kSilentMpegAudioFrames[1];
    int64_t audioTime = 0;
    for (int g = 0; g < 4; ++g) {
        w.WriteVideo(video, SequenceAndGop().data(), SequenceAndGop().size(), kNoTime);
        for (int k = 0; k < 24; ++k) {
            // I and P pictures only: each is decoded as the one before it is shown.
            const int64_t shown = int64_t(g * 24 + k) * 400000;
            for (; audioTime < shown - 400000 - lead; audioTime += 240000)
                w.WriteAudio(audio, frame.data, frame.length, audioTime);
            const auto p = Picture(k == 0 ? 1 : 2, k, k == 0 ? 150000 : 3000);
            w.WriteVideo(video, p.data(), p.size(), shown);
        }
    }
    for (; audioTime < 96 * 400000; audioTime += 240000)
        w.WriteAudio(audio, frame.data, frame.length, audioTime);
    w.WriteSequenceEnd();
    w.Flush();
    const auto s = Drain(&w);
    EXPECT_EQ(muxertest::CheckProgramStream(s, false).error, "");
    // Between the first packet of each GOP's I picture and the next picture's lie audio
    // packets.
    const std::vector<Packet> packets = Packets(s, 2324, false);
    int spread = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (packets[i].id != 0xE0 || packets[i].pts < 0 || packets[i].payload < 2000) continue;
        size_t end = i + 1, audioBetween = 0;
        for (; end < packets.size() && (packets[end].id != 0xE0 || packets[end].pts < 0); ++end)
            if (packets[end].id == 0xC0) ++audioBetween;
        if (audioBetween >= 3) ++spread;
    }
    EXPECT_EQ(spread, 4);
}
