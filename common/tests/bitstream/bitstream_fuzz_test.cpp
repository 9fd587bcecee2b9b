// Runs the bitstream fuzz target in process over generated and mutated inputs; a
// disagreement with its references traps, a stray access is a sanitizer finding.
#include <gtest/gtest.h>

#include "tests/support/fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(BitstreamFuzz, DriverOverGeneratedAndMutatedPayloads) {
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(LLVMFuzzerTestOneInput, fuzzdriver::TargetOptions(), {}, 20000, 2026), 20000);
}

}  // namespace
