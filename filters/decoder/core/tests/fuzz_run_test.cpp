// Runs the fuzz target's stand-alone driver over the x264 fixture streams and their
// mutations (and fully random inputs); the sanitizers of the host-asan build turn any
// fault into a failing exit status.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "filters/decoder/core/tests/x264_fixtures.h"
#include "tests/support/shell.h"

namespace {

TEST(DecoderCoreFuzz, GeneratedAndMutatedInputs) {
    // Every fixture stream of the decoder's tests, and x264's default (High) output.
    std::vector<avcdec_test::X264Case> cases = avcdec_test::X264Cases();
    cases.push_back({"high", "176x144", ""});
    std::string corpus;
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(avcdec_test::MakeX264Stream(c, &bytes));
        const std::string name = testsupport::UniqueName(c.name) + ".264";
        std::ofstream(testsupport::FixturePath(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        corpus += " '" + name + "'";
    }
    const uint64_t seed = std::random_device{}() & 0xFFFFFFFF;
    const std::string log = testsupport::UniqueName("fuzz") + ".log";
    const int status = testsupport::RunShell(std::string("'") + DECODER_CORE_FUZZ + "' -runs 4000 -seed " +
                                                 std::to_string(seed) + corpus,
                                             log);
    const std::string output = testsupport::ReadFixtureFile(log);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("4000 mutated inputs"), std::string::npos) << output;
    testsupport::RunShell("rm -f" + corpus + " '" + log + "'");
}

}  // namespace
