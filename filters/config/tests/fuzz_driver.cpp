// Standalone driver of the stored-stream fuzz target for builds without a fuzzing engine:
//   config_stream_fuzz FILE...            runs each file as one input
//   config_stream_fuzz [RUNS [SEED]]      runs RUNS generated and mutated inputs
// The seed is printed so that a failing run can be replayed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "filters/config/tests/fuzz_inputs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]).find_first_not_of("0123456789") != std::string::npos) {
        for (int i = 1; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        }
        return 0;
    }
    const unsigned long runs = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : std::random_device{}();
    std::printf("config_stream_fuzz: %lu runs, seed %lu\n", runs, seed);
    std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
    for (unsigned long i = 0; i < runs; ++i) {
        const auto input = (i % 4 == 0) ? kestrune::fuzz::ValidInput(rng) : kestrune::fuzz::MutatedInput(rng);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    return 0;
}
