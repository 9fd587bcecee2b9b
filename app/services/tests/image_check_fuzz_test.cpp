// Runs the image header fuzz target over generated and mutated inputs; the target aborts on
// a broken invariant and the sanitizers catch reads past the buffers.
#include <gtest/gtest.h>

#include "tests/support/fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(ServicesImageFuzz, GeneratedAndMutatedInputs) {
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(LLVMFuzzerTestOneInput, fuzzdriver::TargetOptions(), {}, 30000, 20), 30000);
}
