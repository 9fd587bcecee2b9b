// A stream flushed in mid-input: what was queued or held is gone, and the units after it
// are cut and timed as on a fresh input; the host's pool sizes are the pool's. With
// completion of access units off, samples pass whole.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <thread>

#include "filters/muxer/core/mux_stream.h"
#include "filters/muxer/core/tests/test_stream.h"
#include "tests/support/media_fixture.h"

namespace {

using muxer::MediaBuffer;

std::vector<MediaBuffer*> Drain(muxer::MuxStream& s) {
    std::vector<MediaBuffer*> units;
    while (MediaBuffer* u = s.TakeUnit())
        units.push_back(u);
    return units;
}

void Feed(muxer::MuxStream& s, const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    for (size_t at = from; at < to; at += 4000) {
        const size_t n = std::min<size_t>(4000, to - at);
        const muxer::WrappingBuffer sample(bytes.data() + at, static_cast<int32_t>(n),
                                           at == from ? std::optional<int64_t>(0) : std::nullopt);
        s.Feed(sample);
    }
}

// One second of MPEG-1 Layer II at 192 kbit/s, made by ffmpeg, with its media type.
void MakeMpegAudio(std::vector<uint8_t>* bytes, muxer::StreamMediaType* media, uint32_t* frameLength) {
    std::string path;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=48000 -t 1 -c:a mp2 -b:a 192k -f mp2 {out}", "mp2", &path));
    *bytes = muxertest::ReadAll(path);
    ASSERT_GT(bytes->size(), 10000u);
    ASSERT_TRUE(muxer::BuildMpegAudioMediaType(bytes->data(), media, frameLength));
}

TEST(MuxStreamFlush, DropsWhatWasQueuedAndCutsTheNextInputAfresh) {
    std::vector<uint8_t> bytes;
    muxer::StreamMediaType media;
    uint32_t frameLength = 0;
    ASSERT_NO_FATAL_FAILURE(MakeMpegAudio(&bytes, &media, &frameLength));
    ASSERT_EQ(frameLength, 576u);  // 192 kbit/s at 48 kHz

    muxer::MuxStream s(muxer::StreamType::Mpeg1Audio, media, nullptr);
    s.poolBufferSize = 48000;
    s.poolByteLimit = 192000;
    std::vector<std::pair<muxer::OwnValue, int64_t>> published;
    s.onOwnValue = [&](muxer::OwnValue w, int64_t v) { published.emplace_back(w, v); };
    ASSERT_TRUE(s.Activate());
    EXPECT_EQ(s.Pool().BufferSize(), 48000);
    EXPECT_EQ(s.Pool().ByteLimit(), 192000u);

    Feed(s, bytes, 0, bytes.size() / 2);
    EXPECT_GT(s.Queued(), 0u);
    s.Flush();
    EXPECT_EQ(s.Queued(), 0u);

    // The whole input again: every frame comes out once, the first at the start time.
    Feed(s, bytes, 0, bytes.size());
    s.EndOfStream();
    std::vector<MediaBuffer*> units = Drain(s);
    ASSERT_FALSE(units.empty());
    EXPECT_TRUE(units.back()->endOfStream);
    size_t frames = 0;
    for (MediaBuffer* u : units)
        if (u->length > 0) ++frames;
    EXPECT_EQ(frames, bytes.size() / frameLength);
    ASSERT_TRUE(units.front()->ptsValid);
    EXPECT_EQ(units.front()->pts, s.startDelay);
    for (MediaBuffer* u : units)
        u->Release();
    s.Deactivate();
}

// MPEG audio fed in samples of 4000 bytes: with completion every unit is one 576-byte
// frame; without it every sample is one unit with the sample's time, or, when larger than
// a pool buffer, buffer-sized units; no byte is lost either way.
TEST(MuxStreamUnits, CompletionCutsFramesAndWithoutItSamplesPassWhole) {
    std::vector<uint8_t> bytes;
    muxer::StreamMediaType media;
    uint32_t frameLength = 0;
    ASSERT_NO_FATAL_FAILURE(MakeMpegAudio(&bytes, &media, &frameLength));
    struct Case {
        bool complete;
        int32_t bufferSize;
        int32_t unitSize;  // every unit's size but the last one's
    };
    for (const Case c : {Case{true, 48000, int32_t(frameLength)}, Case{false, 48000, 4000}, Case{false, 1000, 1000}}) {
        SCOPED_TRACE(c.complete ? "complete" : c.bufferSize == 1000 ? "whole, small buffers" : "whole");
        muxer::MuxStream s(muxer::StreamType::Mpeg1Audio, media, nullptr);
        s.completeUnits = c.complete;
        s.poolBufferSize = c.bufferSize;
        s.poolByteLimit = 8 * 1024 * 1024;
        ASSERT_TRUE(s.Activate());
        // Every sample timed, each 4000 bytes apart at 192 kbit/s.
        for (size_t at = 0; at < bytes.size(); at += 4000) {
            const size_t n = std::min<size_t>(4000, bytes.size() - at);
            const muxer::WrappingBuffer sample(bytes.data() + at, static_cast<int32_t>(n),
                                               std::optional<int64_t>(int64_t(at) * 80000000 / 192000));
            s.Feed(sample);
        }
        s.EndOfStream();
        std::vector<MediaBuffer*> units = Drain(s);
        ASSERT_GT(units.size(), 1u);
        // The last unit, held back by the parser, comes with the end of the stream.
        int64_t total = 0;
        for (size_t i = 0; i < units.size(); ++i) {
            total += units[i]->length;
            if (i + 1 < units.size()) {
                EXPECT_EQ(units[i]->length, c.unitSize) << i;
            }
            // Without completion, the unit that begins a sample has the sample's time.
            const int64_t at = int64_t(i) * c.unitSize;
            if (!c.complete && at % 4000 == 0) {
                EXPECT_TRUE(units[i]->ptsValid) << i;
                EXPECT_EQ(units[i]->pts, s.startDelay + at * 80000000 / 192000) << i;
            }
        }
        EXPECT_TRUE(units.back()->endOfStream);
        EXPECT_EQ(total, c.complete ? int64_t(bytes.size() / frameLength * frameLength) : int64_t(bytes.size()));
        for (MediaBuffer* u : units)
            u->Release();
        s.Deactivate();
    }
}

// A reordered H.264 stream fed whole, one picture per sample with its time, through a pool
// of three buffers while a consumer takes the units as the worker does: the decoding-time
// window must not hold the pool's every buffer (the feeder would wait for good), every
// sample comes out as one unit with its bytes and time, and decoding times never go back
// nor pass the picture's time. Bounded: a feeder still blocked after the deadline fails.
TEST(MuxStreamUnits, WholePicturesOfAReorderedStreamPassThroughASmallPool) {
    std::string y4m, h264;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 30 -pix_fmt yuv420p -f yuv4mpegpipe {out}", "y4m",
        &y4m));
    ASSERT_TRUE(testsupport::MediaFixture(
        "x264 --quiet --bframes 2 --b-adapt 0 -o {out} " + muxertest::FixtureName(y4m), "264", &h264));
    muxer::StreamMediaType media;
    media.major = muxer::MajorType::Video;
    media.format = muxer::FormatType::VideoInfo;
    media.video.AvgTimePerFrame = 400000;
    // The pictures and their presentation times, as the cutting path finds them.
    std::vector<muxertest::Unit> pictures;
    {
        const std::vector<uint8_t> bytes = muxertest::ReadAll(h264);
        muxertest::TestStream cut(muxer::StreamType::H264Video, media);
        cut.Feed(bytes.data(), static_cast<int32_t>(bytes.size()), 0);
        cut.Finish();
        pictures = std::move(cut.units);
    }
    ASSERT_EQ(pictures.size(), 30u);

    muxer::MuxStream s(muxer::StreamType::H264Video, media, nullptr);
    s.completeUnits = false;
    s.poolBufferSize = 65536;
    s.poolByteLimit = 3 * 65536;
    ASSERT_TRUE(s.Activate());
    std::atomic<bool> fed{false};
    std::thread feeder([&] {
        for (const muxertest::Unit& p : pictures)
            s.Feed(muxer::WrappingBuffer(p.bytes.data(), static_cast<int32_t>(p.bytes.size()), p.pts));
        s.EndOfStream();
        fed = true;
    });
    std::vector<muxertest::Unit> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline && (out.empty() || !out.back().endOfStream)) {
        MediaBuffer* u = s.TakeUnit();
        if (!u) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        muxertest::Unit kept;
        kept.bytes.assign(u->Data(), u->Data() + u->length);
        if (u->ptsValid) kept.pts = u->pts;
        if (u->dtsValid) kept.dts = u->dts;
        kept.endOfStream = u->endOfStream;
        out.push_back(std::move(kept));
        u->Release();
    }
    const bool finished = fed.load();
    if (!finished) s.Pool().Stop();  // lets a blocked feeder go
    feeder.join();
    s.Deactivate();
    ASSERT_TRUE(finished) << "the feeder waited for pool room that never came";
    ASSERT_EQ(out.size(), pictures.size());
    EXPECT_TRUE(out.back().endOfStream);
    int64_t lastDts = INT64_MIN;
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].bytes, pictures[i].bytes) << i;
        ASSERT_TRUE(out[i].pts && out[i].dts && pictures[i].pts) << i;
        EXPECT_EQ(*out[i].pts, *pictures[i].pts + s.startDelay) << i;
        EXPECT_LE(*out[i].dts, *out[i].pts) << i;
        EXPECT_GE(*out[i].dts, lastDts) << i;
        lastDts = *out[i].dts;
    }
}

}  // namespace
