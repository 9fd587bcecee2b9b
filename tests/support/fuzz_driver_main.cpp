// main() of a fuzz target built without libFuzzer; never linked with -fsanitize=fuzzer,
// which brings its own.
#include "tests/support/fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    return fuzzdriver::FuzzMain(argc, argv, LLVMFuzzerTestOneInput, fuzzdriver::TargetOptions());
}
