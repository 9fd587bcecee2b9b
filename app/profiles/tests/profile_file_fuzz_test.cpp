// Runs the profile file fuzz target in process over written profiles and inputs mutated
// from them; a broken invariant aborts and the sanitizers catch overruns.
#include <gtest/gtest.h>

#include "tests/support/fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(ProfileFileFuzz, WrittenAndMutatedProfiles) {
    constexpr uint64_t kSeed = 20261209;
    RecordProperty("seed", static_cast<int>(kSeed));
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(LLVMFuzzerTestOneInput, fuzzdriver::TargetOptions(), {}, 2000, kSeed), 2000);
}

}  // namespace
