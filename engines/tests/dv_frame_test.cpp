// DV frames made by ffmpeg: system, time codes frame by frame, scene signatures across a
// cut, and the DC picture against ffmpeg's decoding.
#include "engines/dv/dv_frame.h"

#include <chrono>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

const char* kCutTape =
    "ffmpeg -filter_complex \"testsrc=s=720x576:r=25:d=2,format=yuv420p[a];smptebars=s=720x576:r=25:d=2,"
    "format=yuv420p[b];[a][b]concat=n=2:v=1:a=0\" -c:v dvvideo -timecode 01:02:03:04 -f dv {out}";

const char* kNtscTape =
    "ffmpeg -f lavfi -i testsrc=size=720x480:rate=30000/1001 -t 1 -pix_fmt yuv411p -c:v dvvideo "
    "-timecode 00:00:59:28 -f dv {out}";

std::span<const uint8_t> Frame(const std::vector<uint8_t>& tape, size_t index, size_t bytes) {
    return std::span<const uint8_t>(tape).subspan(index * bytes, bytes);
}

TEST(DvFrame, TimeCodesCountOnFromTheTapesStartInBothSystems) {
    struct Case {
        const char* command;
        dv::System system;
        dv::Timecode first;
    } cases[] = {
        {kCutTape, dv::System::kPal, {1, 2, 3, 4}},
        {kNtscTape, dv::System::kNtsc, {0, 0, 59, 28}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(c.command, "dv", &path));
        const std::vector<uint8_t> tape = testsupport::ReadFileBytes(path);
        const size_t bytes = dv::FrameBytes(c.system);
        ASSERT_GT(tape.size(), 10 * bytes);
        ASSERT_EQ(tape.size() % bytes, 0u);
        const int fps = dv::FramesPerSecond(c.system);
        for (size_t i = 0; i < tape.size() / bytes; ++i) {
            const auto frame = Frame(tape, i, bytes);
            ASSERT_EQ(dv::FrameSystem(frame), c.system);
            const auto tc = dv::FrameTimecode(frame);
            ASSERT_TRUE(tc.has_value()) << i;
            ASSERT_EQ(tc->ToFrames(fps), c.first.ToFrames(fps) + int64_t(i)) << i;
        }
        // Rewriting the time code: read back, and every other byte of the frame is kept.
        std::vector<uint8_t> copy(tape.begin(), tape.begin() + bytes);
        ASSERT_TRUE(dv::SetFrameTimecode(copy, {23, 59, 58, uint8_t(fps - 1)}));
        EXPECT_EQ(dv::FrameTimecode(copy), (dv::Timecode{23, 59, 58, uint8_t(fps - 1)}));
        ASSERT_TRUE(dv::SetFrameTimecode(copy, *dv::FrameTimecode(Frame(tape, 0, bytes))));
        EXPECT_TRUE(std::equal(copy.begin(), copy.end(), tape.begin()));
    }
    // Not DV, or cut short.
    std::vector<uint8_t> junk(dv::kPalFrameBytes, 0xFF);
    EXPECT_FALSE(dv::FrameSystem(junk).has_value());
    EXPECT_FALSE(dv::FrameTimecode(junk).has_value());
    EXPECT_FALSE(dv::FrameSystem(std::span<const uint8_t>(junk).first(1000)).has_value());
    EXPECT_TRUE(dv::PictureSignature(junk).empty());
    EXPECT_EQ(dv::Timecode::FromFrames(25 * 3661 + 7, 25), (dv::Timecode{1, 1, 1, 7}));
}

// The recording date and time that ffmpeg writes from the creation time, one second on per
// second of frames (UTC); the judge is the creation time given and the standard library's calendar.
TEST(DvFrame, RecordingStampsFollowTheTapesCreationTime) {
    struct Case {
        const char* command;
        dv::System system;
        int64_t start;  // the creation time, seconds since 1970 (UTC)
    } cases[] = {
        {"ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -t 1.6 -c:v dvvideo -pix_fmt yuv420p "
         "-metadata creation_time=2024-05-06T07:08:59Z -f dv {out}",
         dv::System::kPal, 1714979339},
        // Across a new year: every field turns over.
        {"ffmpeg -f lavfi -i testsrc=size=720x480:rate=30000/1001 -t 1.2 -c:v dvvideo -pix_fmt yuv411p "
         "-metadata creation_time=2009-12-31T23:59:59Z -f dv {out}",
         dv::System::kNtsc, 1262303999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(c.command, "dv", &path));
        const std::vector<uint8_t> tape = testsupport::ReadFileBytes(path);
        const size_t bytes = dv::FrameBytes(c.system);
        ASSERT_GT(tape.size(), 30 * bytes);
        uint64_t previous = 0;
        for (size_t i = 0; i < tape.size() / bytes; ++i) {
            const int64_t seconds =
                c.start + (c.system == dv::System::kPal ? int64_t(i) / 25 : int64_t(i) * 1001 / 30000);
            const std::chrono::sys_seconds at{std::chrono::seconds(seconds)};
            const auto day = std::chrono::floor<std::chrono::days>(at);
            const std::chrono::year_month_day date{day};
            const std::chrono::hh_mm_ss time{at - day};
            const uint64_t expected = uint64_t(int(date.year()) % 100) << 40 | uint64_t(unsigned(date.month())) << 32 |
                                      uint64_t(unsigned(date.day())) << 24 | uint64_t(time.hours().count()) << 16 |
                                      uint64_t(time.minutes().count()) << 8 | uint64_t(time.seconds().count());
            const auto stamp = dv::FrameRecordingStamp(Frame(tape, i, bytes));
            ASSERT_EQ(stamp, expected) << i;
            EXPECT_GE(*stamp, previous) << i;
            previous = *stamp;
        }
    }
    std::vector<uint8_t> junk(dv::kPalFrameBytes, 0xFF);
    EXPECT_FALSE(dv::FrameRecordingStamp(junk).has_value());
}

TEST(DvFrame, SignaturesJumpAtTheCutOnly) {
    std::string path;
    ASSERT_TRUE(testsupport::MediaFixture(kCutTape, "dv", &path));
    const std::vector<uint8_t> tape = testsupport::ReadFileBytes(path);
    const size_t frames = tape.size() / dv::kPalFrameBytes;
    ASSERT_EQ(frames, 100u);
    std::vector<size_t> cuts;
    auto previous = dv::PictureSignature(Frame(tape, 0, dv::kPalFrameBytes));
    ASSERT_EQ(previous.size(), 12u * 135u);
    for (size_t i = 1; i < frames; ++i) {
        auto now = dv::PictureSignature(Frame(tape, i, dv::kPalFrameBytes));
        if (dv::SignatureDistance(previous, now) > 8) cuts.push_back(i);
        previous = std::move(now);
    }
    EXPECT_EQ(cuts, std::vector<size_t>{50});
}

TEST(DvFrame, DcPictureLooksLikeFfmpegsFrameAtAnEighth) {
    struct Case {
        const char* command;
        size_t frameBytes;
        uint32_t height;
        size_t index;
    } cases[] = {
        {kCutTape, dv::kPalFrameBytes, 72, 10},
        {kCutTape, dv::kPalFrameBytes, 72, 70},
        // 525/60: 4:1:1 macroblocks, and the 16 x 16 ones of the right edge.
        {kNtscTape, dv::kNtscFrameBytes, 60, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        SCOPED_TRACE(c.index);
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(c.command, "dv", &path));
        const std::vector<uint8_t> tape = testsupport::ReadFileBytes(path);
        uint32_t w = 0, h = 0;
        const auto got = dv::DcPicture(Frame(tape, c.index, c.frameBytes), &w, &h);
        ASSERT_EQ(w, 90u);
        ASSERT_EQ(h, c.height);
        const std::string size = "90:" + std::to_string(c.height);
        const std::string out = testsupport::UniqueName("dc") + ".rgb";
        ASSERT_EQ(testsupport::RunShell("ffmpeg -v error -y -i '" + testsupport::FixtureName(path) +
                                        "' -vf 'select=eq(n\\," + std::to_string(c.index) + "),format=rgb24,scale=" +
                                        size + ":flags=area' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" + out + "'"),
                  0);
        const std::string want = testsupport::ReadFixtureFile(out);
        ASSERT_EQ(want.size(), size_t(90) * c.height * 3);
        // Luma only: the DC picture's colour has the macroblock's resolution, coarser than
        // the picture itself.
        double sum = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            const auto luma = [](double r, double g, double b) { return 0.299 * r + 0.587 * g + 0.114 * b; };
            const double d = luma((got[i] >> 16) & 0xFF, (got[i] >> 8) & 0xFF, got[i] & 0xFF) -
                             luma(uint8_t(want[i * 3]), uint8_t(want[i * 3 + 1]), uint8_t(want[i * 3 + 2]));
            sum += d * d;
        }
        const double psnr = 10 * std::log10(255.0 * 255.0 / (sum / double(got.size())));
        EXPECT_GT(psnr, 30.0);
    }
}

}  // namespace
