// Runs the management-file fuzz target in process over built files and inputs mutated
// from them; any sanitizer finding or broken round trip fails the run.
#include <gtest/gtest.h>

#include "tests/support/fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(VrIfoFuzz, DriverOverMutatedManagementFiles) {
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(LLVMFuzzerTestOneInput, fuzzdriver::TargetOptions(), {}, 3000, 4321), 3000);
}
