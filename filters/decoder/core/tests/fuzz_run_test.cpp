// Runs the fuzz target in process over the x264 fixture streams, their mutations and fully
// random inputs; the sanitizers of the host-asan build turn any fault into a failure.
#include <gtest/gtest.h>

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
    // A fixed seed: every run tries the same inputs, so a finding reproduces and the run's
    // cost is the same each time. The 1080-row stream makes the dearest inputs.
    constexpr uint64_t kSeed = 20261210;
    RecordProperty("seed", std::to_string(kSeed));
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(LLVMFuzzerTestOneInput, fuzzdriver::TargetOptions(), files, 1500, kSeed), 1500);
}

}  // namespace
