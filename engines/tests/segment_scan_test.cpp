// Segments of program streams joined end to end, against ffprobe's durations of the parts.
#include "engines/player/segment_scan.h"

#include <gtest/gtest.h>

#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

double VideoSeconds(const std::string& path) {
    std::string out;
    EXPECT_TRUE(testsupport::Ffprobe(path, "-select_streams v:0 -show_entries stream=duration -of csv=p=0", &out));
    return out.empty() ? 0 : std::stod(out);
}

TEST(SegmentScan, JoinedRecordingsFollowOneAnotherOnTheTimeLine) {
    std::string first, second;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=sample_rate=48000 -t 2 -c:v mpeg2video "
        "-b:v 2M -maxrate 2M -bufsize 1M -c:a mp2 -f vob {out}",
        "mpg", &first));
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 -t 3 -target pal-dvd {out}",
        "mpg", &second));
    const std::string joined = testsupport::UniqueName("joined") + ".mpg";
    ASSERT_EQ(testsupport::RunShell("cat '" + testsupport::FixtureName(first) + "' '" +
                                    testsupport::FixtureName(second) + "' > '" + joined + "'"),
              0);
    std::vector<int> seen;
    const auto segments = engines::ScanSegments(testsupport::FixturePath(joined), [&](int p) {
        seen.push_back(p);
        return true;
    });
    ASSERT_EQ(segments.size(), 2u);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], seen[i - 1] + 1);

    const double parts[] = {VideoSeconds(first), VideoSeconds(second)};
    const uint32_t widths[] = {352, 720}, heights[] = {288, 576};
    int64_t timeline = 0;
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const engines::SegmentRecord& s = segments[i];
        EXPECT_EQ(s.index, i);
        EXPECT_EQ(s.width, widths[i]);
        EXPECT_EQ(s.height, heights[i]);
        EXPECT_NEAR(s.frameRate, 25.0f, 0.01f);
        EXPECT_GT(s.videoBitRate, 0u);
        EXPECT_EQ(s.formatClass, 4u);
        EXPECT_NEAR(double(s.videoEnd - s.videoStart), parts[i] * 1e7, 400000);
        EXPECT_GE(s.videoStart, timeline);
        EXPECT_LT(s.videoStart, timeline + 10000000);  // audio may lead, never by a second
        EXPECT_GE(s.audioStart, timeline);
        EXPECT_GT(s.audioEnd, s.audioStart);
        EXPECT_EQ(s.timelineEnd, std::max(s.videoEnd, s.audioEnd));
        timeline = s.timelineEnd;
    }
    EXPECT_EQ(segments[0].firstByte, 0);
    EXPECT_EQ(segments[1].firstByte, segments[0].endByte);
    EXPECT_EQ(segments[1].endByte, int64_t(testsupport::ReadFileBytes(testsupport::FixturePath(joined)).size()));

    // One recording is one segment; a stop asked at the first report keeps what was found.
    EXPECT_EQ(engines::ScanSegments(second, nullptr).size(), 1u);
    EXPECT_LE(engines::ScanSegments(testsupport::FixturePath(joined), [](int) { return false; }).size(), 1u);
    // Nothing timed: no segment.
    const std::string text = testsupport::UniqueName("text") + ".mpg";
    ASSERT_EQ(testsupport::RunShell("head -c 100000 /dev/zero > '" + text + "'"), 0);
    EXPECT_TRUE(engines::ScanSegments(testsupport::FixturePath(text), nullptr).empty());
    EXPECT_TRUE(engines::ScanSegments(testsupport::FixturePath("no-such.mpg"), nullptr).empty());
}

}  // namespace
