// Runs the engines' fuzz target in process over the starts of ffmpeg-made clips and DV
// frames and over inputs mutated from them; any sanitizer finding fails the run.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/fuzz_driver.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(EnginesFuzz, DriverOverMutatedClipsAndDvFrames) {
    const std::pair<const char*, const char*> fixtures[] = {
        {"ffmpeg -f lavfi -i testsrc=size=320x180:rate=25 -t 1 -c:v libx264 -f vob {out}", "mpg"},
        {"ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine -t 1 -c:v mpeg2video -c:a mp2 -f vob {out}",
         "mpg"},
        {"ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -frames:v 1 -c:v dvvideo -timecode 00:00:01:00 -f dv {out}",
         "dv"},
        {"ffmpeg -f lavfi -i testsrc=size=160x120:rate=10 -t 0.3 -c:v mjpeg {out}", "avi"},
        {"ffmpeg -f lavfi -i testsrc=size=176x144:rate=25 -f lavfi -i sine -t 1 -c:v mpeg2video -c:a ac3 -ac 6 "
         "-f vob {out}",
         "mpg"},
    };
    std::vector<fuzzdriver::Bytes> files;
    for (const auto& [command, extension] : fixtures) {
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(command, extension, &path));
        fuzzdriver::Bytes bytes = testsupport::ReadFileBytes(path);
        ASSERT_FALSE(bytes.empty()) << path;
        if (std::string(extension) != "dv") bytes.resize(std::min<size_t>(bytes.size(), 40000));
        files.push_back(std::move(bytes));
    }
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(LLVMFuzzerTestOneInput, fuzzdriver::TargetOptions(), files, 150, 4321), 150);
}

}  // namespace
