// Runs the fuzz target's standalone driver over the starts of ffmpeg-made program streams
// and inputs mutated from them; any sanitizer finding fails the run.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "editor/core/tests/ps_fixtures.h"

namespace {

TEST(PsFuzz, DriverOverMutatedProgramStreams) {
    std::string corpus;
    const std::string commands[] = {
        editor_test::PsCommand("352x288", "25", "-target pal-vcd"),
        editor_test::PsCommand("480x480", "30000/1001", "-target ntsc-svcd"),
        editor_test::PsCommand("720x576", "25", "-target pal-dvd"),
        editor_test::PsCommand("720x576", "25", "-target pal-dvd -c:a pcm_s16be"),
    };
    int k = 0;
    for (const std::string& command : commands) {
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(command, "mpg", &path));
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        bytes.resize(std::min<size_t>(bytes.size(), 40000));  // small inputs keep runs quick
        const std::string name = "fuzz_seed_" + std::to_string(k++) + ".bin";
        std::ofstream(testsupport::FixturePath(name), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        corpus += " " + name;
    }
    const std::string log = testsupport::UniqueName("fuzz") + ".log";
    const int status = testsupport::RunShell(std::string("'") + EDITOR_PS_FUZZ + "' -runs=400 -seed=12345" + corpus, log);
    EXPECT_EQ(status, 0) << testsupport::ReadFixtureFile(log);
    EXPECT_NE(testsupport::ReadFixtureFile(log).find("400 runs"), std::string::npos);
}

}  // namespace
