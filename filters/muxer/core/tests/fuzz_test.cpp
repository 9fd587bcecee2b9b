// Runs the fuzz target over streams made by ffmpeg and x264 for every parsed type (each
// behind the configuration bytes of every stream type), then over mutations of them and
// over random bytes. A finding is a sanitizer report.
#include <gtest/gtest.h>

#include "filters/muxer/core/tests/test_stream.h"
#include "tests/support/fuzz_driver.h"
#include "tests/support/media_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

using muxertest::FixtureName;
using muxertest::ReadAll;

TEST(MuxerCoreFuzz, SeedsMutationsAndRandomBytes) {
    std::string y4m, h264;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 12 -pix_fmt yuv420p -f yuv4mpegpipe {out}", "y4m",
        &y4m));
    ASSERT_TRUE(testsupport::MediaFixture("x264 --quiet --bframes 2 -o {out} " + FixtureName(y4m), "264", &h264));
    const struct {
        const char* command;
        const char* ext;
    } seeds[] = {
        {"ffmpeg -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 12 -c:v mpeg2video -bf 2 -g 6 -f mpeg2video {out}",
         "m2v"},
        {"ffmpeg -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 8 -c:v mpeg1video -f mpeg1video {out}", "m1v"},
        {"ffmpeg -f lavfi -i sine=sample_rate=48000:duration=0.2 -c:a mp2 -f mp2 {out}", "mp2"},
        {"ffmpeg -f lavfi -i sine=sample_rate=22050:duration=0.3 -c:a libmp3lame -b:a 32k -f mp3 {out}", "mp3"},
        {"ffmpeg -f lavfi -i sine=sample_rate=48000:duration=0.2 -c:a ac3 -f ac3 {out}", "ac3"},
        {"ffmpeg -f lavfi -i sine=sample_rate=48000:duration=0.2 -c:a aac -f adts {out}", "aac"},
    };
    std::vector<fuzzdriver::Bytes> files = {ReadAll(h264)};
    for (const auto& s : seeds) {
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(s.command, s.ext, &path));
        files.push_back(ReadAll(path));
    }
    for (const auto& file : files)
        ASSERT_GT(file.size(), 100u);
    constexpr unsigned kSeed = 20261209;
    RecordProperty("seed", static_cast<int>(kSeed));
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(LLVMFuzzerTestOneInput, fuzzdriver::TargetOptions(), files, 8000, kSeed), 8000);
}
