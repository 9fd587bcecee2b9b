// A stream flushed in mid-input: what was queued or held is gone, and the units after it
// are cut and timed as on a fresh input; the host's pool sizes are the pool's.
#include <gtest/gtest.h>

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

TEST(MuxStreamFlush, DropsWhatWasQueuedAndCutsTheNextInputAfresh) {
    std::string path;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i sine=frequency=440:sample_rate=48000 -t 1 -c:a mp2 -b:a 192k -f mp2 {out}", "mp2", &path));
    const std::vector<uint8_t> bytes = muxertest::ReadAll(path);
    ASSERT_GT(bytes.size(), 10000u);
    muxer::StreamMediaType media;
    uint32_t frameLength = 0;
    ASSERT_TRUE(muxer::BuildMpegAudioMediaType(bytes.data(), &media, &frameLength));
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

}  // namespace
