// Runs the fuzz target in process over the x264 fixture streams, their mutations and fully
// random inputs; the sanitizers of the host-asan build turn any fault into a failure.
#include <gtest/gtest.h>

#include <random>

#include "filters/decoder/core/tests/x264_fixtures.h"
#include "tests/support/fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(DecoderCoreFuzz, GeneratedAndMutatedInputs) {
    // Every fixture stream of the decoder's tests, and x264's default (High) output.
    std::vector<avcdec_test::X264Case> cases = avcdec_test::X264Cases();
    cases.push_back({"high", "176x144", ""});
    std::vector<fuzzdriver::Bytes> files;
    for (const auto& c : cases) {
        files.emplace_back();
        ASSERT_TRUE(avcdec_test::MakeX264Stream(c, &files.back()));
    }
    const uint64_t seed = std::random_device{}() & 0xFFFFFFFF;
    RecordProperty("seed", std::to_string(seed));
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(LLVMFuzzerTestOneInput, fuzzdriver::TargetOptions(), files, 4000, seed), 4000)
        << "seed " << seed;
}

}  // namespace
