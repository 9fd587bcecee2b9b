// Runs the multiplexed-input fuzz target over program, DVD and transport streams made by
// ffmpeg, then over mutations of them and over random bytes. A finding is a sanitizer
// report.
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "tests/support/fuzz_driver.h"
#include "tests/support/media_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(MuxInputFuzz, SeedsMutationsAndRandomBytes) {
    const struct {
        const char* format;
        const char* audio;
        const char* ext;
    } seeds[] = {{"mpeg", "mp2", "mpg"}, {"dvd", "ac3", "vob"}, {"mpegts", "mp2", "ts"}, {"mpegts", "ac3", "ts"}};
    std::vector<fuzzdriver::Bytes> files;
    for (const auto& s : seeds) {
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(
            std::string("ffmpeg -f lavfi -i testsrc=size=64x48:rate=25 -f lavfi -i sine=sample_rate=48000 -t 0.4 "
                        "-c:v mpeg2video -bf 2 -g 6 -c:a ") +
                s.audio + " -f " + s.format + " {out}",
            s.ext, &path));
        std::ifstream in(path, std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        ASSERT_GT(files.back().size(), 1000u);
    }
    constexpr unsigned kSeed = 20261210;
    RecordProperty("seed", static_cast<int>(kSeed));
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(LLVMFuzzerTestOneInput, fuzzdriver::TargetOptions(), files, 800, kSeed), 800);
}
