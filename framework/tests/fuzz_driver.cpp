// Standalone driver for fuzz targets built with g++ (no libFuzzer): runs the files named
// on the command line, or `--runs N` inputs generated from `--seed S`: random bytes,
// then mutations (flips, cuts, zero and 0xFF runs) of earlier inputs.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    long runs = 0;
    unsigned long seed = 1;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::strtol(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
            seed = std::strtoul(argv[++i], nullptr, 10);
        else
            files.push_back(argv[i]);
    }
    for (const char* name : files) {
        std::ifstream in(name, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("fuzz driver: seed %lu, %ld runs\n", seed, runs);
    std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
    std::vector<uint8_t> current;
    for (long run = 0; run < runs; ++run) {
        if (current.empty() || rng() % 4 == 0) {
            current.resize(rng() % 300);
            for (uint8_t& b : current)
                b = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng());  // zeros are separators
        } else {
            const size_t at = rng() % current.size();
            switch (rng() % 4) {
            case 0: current[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
            case 1: current.resize(at); break;
            case 2: std::fill(current.begin() + static_cast<long>(at), current.begin() + static_cast<long>(std::min(current.size(), at + 8)), 0); break;
            default: std::fill(current.begin() + static_cast<long>(at), current.begin() + static_cast<long>(std::min(current.size(), at + 8)), 0xFF); break;
            }
        }
        LLVMFuzzerTestOneInput(current.data(), current.size());
    }
    return 0;
}
