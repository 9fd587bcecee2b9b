// A host that renders host segments for the join tests, and the time-line judge of a
// join, shared by the engine's tests and the component's.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "editor/core/tests/join_fixtures.h"
#include "editor/core/tests/ps_fixtures.h"

namespace editor_test {

// One sink of the engine as the host reaches it: time (100 ns, or -1 for none), data and
// length; a null call ends the host's share of the segment.
using HostSink = std::function<void(int64_t time, const uint8_t* data, size_t length)>;

// A host that renders from an MPEG-2 elementary stream and an MPEG audio file: video one
// picture a call (headers in front of their picture) with its presentation time, audio in
// blocks that cut frames apart, only some of them timed.
struct Host {
    static constexpr int64_t kNone = -1;
    std::vector<std::vector<uint8_t>> samples;
    std::vector<int64_t> times;
    std::vector<uint8_t> audio;
    std::thread video, sound;

    int64_t audioBytesPerSecond;

    Host(const std::string& m2v, const std::string& sound, int64_t bytesPerSecond = 28000)
        : audio(ReadFile(sound)), audioBytesPerSecond(bytesPerSecond) {
        const std::vector<uint8_t> v = ReadFile(m2v);
        auto code = [&](size_t i) { return i + 4 <= v.size() && v[i] == 0 && v[i + 1] == 0 && v[i + 2] == 1; };
        constexpr int64_t kFrame = 400000;  // 25 pictures a second
        int64_t gopBase = 0, gopPictures = 0;
        size_t start = 0;
        bool picture = false;
        for (size_t i = 0; i <= v.size(); ++i) {
            const bool end = i == v.size();
            if (!end && !(code(i) && (v[i + 3] == 0xB3 || v[i + 3] == 0xB8 || v[i + 3] == 0x00))) continue;
            // A sample ends where the next picture or header begins; headers stay with
            // the picture behind them.
            if (picture || end) {
                if (i > start) samples.emplace_back(v.begin() + std::ptrdiff_t(start), v.begin() + std::ptrdiff_t(i));
                start = i;
                picture = false;
            }
            if (end) break;
            if (v[i + 3] == 0xB8) {
                gopBase += gopPictures * kFrame;
                gopPictures = 0;
            }
            if (v[i + 3] == 0x00) {
                picture = true;
                ++gopPictures;
                times.push_back(gopBase + ((v[i + 4] << 2) | (v[i + 5] >> 6)) * kFrame);
            }
        }
    }
    // Renders on two threads, as a host's video and audio renderers would.
    void Render(HostSink videoSink, HostSink audioSink, int64_t in) {
        Join();
        video = std::thread([this, videoSink, in] {
            for (size_t i = 0; i < samples.size() && i < times.size(); ++i)
                videoSink(in + times[i], samples[i].data(), samples[i].size());
            videoSink(kNone, nullptr, 0);
            // A stray call after the end waits for the next segment (here: the end of
            // the run, which drops it) without holding the run up.
            videoSink(kNone, samples[0].data(), samples[0].size());
        });
        sound = std::thread([this, audioSink, in] {
            constexpr size_t kBlock = 1000;  // not a multiple of a frame
            for (size_t at = 0, k = 0; at < audio.size(); at += kBlock, ++k) {
                const int64_t t = k % 3 == 0 ? in + int64_t(at) * 10000000 / audioBytesPerSecond : kNone;
                audioSink(t, audio.data() + at, std::min(kBlock, audio.size() - at));
            }
            audioSink(kNone, nullptr, 0);
        });
    }
    void Join() {
        if (video.joinable()) video.join();
        if (sound.joinable()) sound.join();
    }
};

inline std::string HostVideo(double seconds) {
    std::string path;
    EXPECT_TRUE(testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -t " + Seconds(seconds) +
                                              " -c:v mpeg2video -b:v 5M -maxrate 9M -bufsize 1835k -g 12 -bf 2 "
                                              "-flags +cgop -sc_threshold 1000000000 -aspect 4:3 -f mpeg2video {out}",
                                          "m2v", &path));
    return path;
}

// MPEG audio at 224 kbit/s, or (lpcm) 16-bit big-endian mono samples.
inline std::string HostAudio(double seconds, bool lpcm = false) {
    std::string path;
    EXPECT_TRUE(testsupport::MediaFixture("ffmpeg -f lavfi -i sine=frequency=900:sample_rate=48000 -t " +
                                              Seconds(seconds) +
                                              (lpcm ? " -f s16be {out}" : " -c:a mp2 -b:a 224k -f mp2 {out}"),
                                          lpcm ? "pcm" : "mp2", &path));
    return path;
}

// The time line of a join: video time stamps run on in display order with no gap of more
// than one frame and no repeat; audio follows the video without a step back and spans it
// within a few frames. `duration`: the video's, in seconds.
inline void CheckTimeLine(const std::string& out, size_t minPictures, double* duration) {
    std::vector<int64_t> pts;
    for (const auto& p : ProbePackets(out, "v"))
        if (p.hasPts) pts.push_back(p.pts);
    ASSERT_GT(pts.size(), minPictures);
    std::sort(pts.begin(), pts.end());
    for (size_t i = 1; i < pts.size(); ++i)
        ASSERT_TRUE(pts[i] - pts[i - 1] > 0 && pts[i] - pts[i - 1] <= 3600) << pts[i - 1] << " -> " << pts[i];
    *duration = double(pts.back() + 3600 - pts.front()) / 90000.0;
    const auto audio = ProbePackets(out, "a");
    ASSERT_FALSE(audio.empty());
    int64_t last = -1, first = -1, end = 0;
    for (const auto& p : audio) {
        if (!p.hasPts) continue;
        if (first < 0) first = p.pts;
        EXPECT_GT(p.pts, last);
        last = p.pts;
        end = p.pts + p.duration;
    }
    EXPECT_NEAR(double(first), double(pts.front()), 0.05 * 90000);
    EXPECT_NEAR(double(end), double(pts.back() + 3600), 0.1 * 90000);
}

}  // namespace editor_test
