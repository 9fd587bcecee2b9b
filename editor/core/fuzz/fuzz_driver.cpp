// Standalone driver for the fuzz targets when built without libFuzzer (g++): runs the
// target over the given files and then over inputs mutated from them (or generated from
// nothing when no file is given).
//
//   driver [-runs=N] [-seed=S] [-max_total_time=SECONDS] [files...]
//
// Each run prints nothing; a finding ends the process through the sanitizers. The seed is
// printed first so that a failing run can be replayed.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> Mutate(std::vector<uint8_t> in, std::mt19937_64& rng) {
    auto pick = [&](size_t n) { return n ? size_t(rng() % n) : 0; };
    const int edits = 1 + int(rng() % 8);
    for (int e = 0; e < edits; ++e) {
        switch (rng() % 7) {
            case 0:  // flip bits
                if (!in.empty()) in[pick(in.size())] ^= uint8_t(1u << (rng() % 8));
                break;
            case 1:  // interesting byte
                if (!in.empty()) {
                    static const uint8_t kBytes[] = {0x00, 0x01, 0xFF, 0xBA, 0xBB, 0xBD, 0xB3,
                                                     0xB8, 0xE0, 0xC0, 0x80, 0xA0, 0x0B, 0x77};
                    in[pick(in.size())] = kBytes[rng() % sizeof kBytes];
                }
                break;
            case 2:  // truncate
                in.resize(pick(in.size() + 1));
                break;
            case 3: {  // insert a start code
                static const uint8_t kCode[] = {0x00, 0x00, 0x01};
                const size_t at = pick(in.size() + 1);
                in.insert(in.begin() + ptrdiff_t(at), kCode, kCode + 3);
                break;
            }
            case 4: {  // duplicate a chunk
                if (in.size() < 2) break;
                const size_t from = pick(in.size()), len = 1 + pick(std::min<size_t>(in.size() - from, 4096));
                std::vector<uint8_t> chunk(in.begin() + ptrdiff_t(from), in.begin() + ptrdiff_t(from + len));
                const size_t at = pick(in.size() + 1);
                in.insert(in.begin() + ptrdiff_t(at), chunk.begin(), chunk.end());
                break;
            }
            case 5: {  // erase a chunk
                if (in.empty()) break;
                const size_t from = pick(in.size()), len = 1 + pick(std::min<size_t>(in.size() - from, 4096));
                in.erase(in.begin() + ptrdiff_t(from), in.begin() + ptrdiff_t(std::min(in.size(), from + len)));
                break;
            }
            default:  // random bytes appended
                for (int i = int(rng() % 64); i > 0; --i) in.push_back(uint8_t(rng()));
                break;
        }
    }
    return in;
}

}  // namespace

int main(int argc, char** argv) {
    long runs = 1000;
    long max_seconds = 0;
    uint64_t seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    std::vector<std::vector<uint8_t>> corpus;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-runs=", 6) == 0) {
            runs = std::atol(argv[i] + 6);
        } else if (std::strncmp(argv[i], "-seed=", 6) == 0) {
            seed = std::strtoull(argv[i] + 6, nullptr, 10);
        } else if (std::strncmp(argv[i], "-max_total_time=", 16) == 0) {
            max_seconds = std::atol(argv[i] + 16);
        } else {
            std::ifstream in(argv[i], std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", argv[i]);
                return 2;
            }
            corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
    std::fflush(stdout);
    for (const auto& c : corpus) LLVMFuzzerTestOneInput(c.data(), c.size());
    std::mt19937_64 rng(seed);
    const auto begin = std::chrono::steady_clock::now();
    long done = 0;
    for (; max_seconds > 0 || done < runs; ++done) {
        if (max_seconds > 0 &&
            std::chrono::steady_clock::now() - begin > std::chrono::seconds(max_seconds))
            break;
        std::vector<uint8_t> input;
        if (!corpus.empty()) {
            input = Mutate(corpus[rng() % corpus.size()], rng);
        } else {
            input = Mutate({}, rng);
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld runs\n", done);
    return 0;
}
