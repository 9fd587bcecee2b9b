// Standalone driver of the fuzz target for g++ builds (no libFuzzer):
//   muxer_core_fuzz [-seconds=N] [-runs=N] [-seed=N] [-type=N FILE...] FILE...
// runs every file once (a file after -type=N is a bare elementary stream of the target's
// type N, given the configuration bytes in front), then mutations of them (and of random inputs) until the time or
// run count is spent. The seed is printed so that a run can be repeated.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "filters/muxer/core/fuzz/muxer_core_fuzz.h"

int main(int argc, char** argv) {
    long seconds = 0, runs = 10000;
    unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::vector<std::vector<uint8_t>> corpus;
    int type = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-seconds=", 9) == 0) {
            seconds = std::atol(argv[i] + 9);
            runs = 0;
        } else if (std::strncmp(argv[i], "-runs=", 6) == 0) {
            runs = std::atol(argv[i] + 6);
        } else if (std::strncmp(argv[i], "-seed=", 6) == 0) {
            seed = static_cast<unsigned>(std::strtoul(argv[i] + 6, nullptr, 10));
        } else if (std::strncmp(argv[i], "-type=", 6) == 0) {
            type = std::atoi(argv[i] + 6);
        } else {
            std::ifstream in(argv[i], std::ios::binary);
            std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            if (bytes.empty()) {
                std::fprintf(stderr, "cannot read %s\n", argv[i]);
                return 2;
            }
            corpus.push_back(type >= 0 ? muxerfuzz::MakeInput(static_cast<uint8_t>(type), bytes) : std::move(bytes));
        }
    }
    std::printf("seed %u\n", seed);
    std::fflush(stdout);
    for (const auto& entry : corpus) LLVMFuzzerTestOneInput(entry.data(), entry.size());
    std::mt19937 rng(seed);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    long done = 0;
    for (; runs ? done < runs : std::chrono::steady_clock::now() < end; ++done) {
        std::vector<uint8_t> base;
        if (corpus.empty() || rng() % 8 == 0) {
            base.resize(rng() % 4096);
            for (auto& b : base) b = static_cast<uint8_t>(rng());
        } else {
            base = corpus[rng() % corpus.size()];
        }
        const std::vector<uint8_t> input = muxerfuzz::Mutate(base, corpus, rng);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld runs, no finding\n", done);
    return 0;
}
