// Runs the fuzz target in process over the starts of ffmpeg-made program streams and
// inputs mutated from them; any sanitizer finding fails the run.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "editor/core/tests/ps_fixtures.h"
#include "tests/support/fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(PsFuzz, DriverOverMutatedProgramStreams) {
    const std::string commands[] = {
        editor_test::PsCommand("352x288", "25", "-target pal-vcd"),
        editor_test::PsCommand("480x480", "30000/1001", "-target ntsc-svcd"),
        editor_test::PsCommand("720x576", "25", "-target pal-dvd"),
        editor_test::PsCommand("720x576", "25", "-target pal-dvd -c:a pcm_s16be"),
    };
    std::vector<fuzzdriver::Bytes> files;
    for (const std::string& command : commands) {
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(command, "mpg", &path));
        std::ifstream in(path, std::ios::binary);
        fuzzdriver::Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        ASSERT_FALSE(bytes.empty()) << path;
        bytes.resize(std::min<size_t>(bytes.size(), 40000));  // small inputs keep runs quick
        files.push_back(std::move(bytes));
    }
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(LLVMFuzzerTestOneInput, fuzzdriver::TargetOptions(), files, 200, 12345), 200);
}

}  // namespace
