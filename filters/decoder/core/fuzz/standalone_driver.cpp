// Stand-alone driver for the fuzz target under g++ (no libFuzzer): runs LLVMFuzzerTestOneInput
// over the given corpus files, built-in seeds and their random mutations.
//
//   decoder_core_fuzz [-seconds N] [-runs N] [-seed S] [corpus files...]
//
// Prints the seed so that a run can be replayed; exits non-zero only through a sanitizer
// report or a trap in the target.
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

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const char* hex) {
    Bytes out;
    for (size_t i = 0; hex[i] != 0 && hex[i + 1] != 0; i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return out;
}

// Parameter sets and SEI of small Baseline and Main streams (the second with HRD and
// picture timing), preceded by the mode byte.
std::vector<Bytes> BuiltInSeeds() {
    return {
        FromHex("00000000016742c00ad9047a1000000300100000030328f12264800000000168cb83cb20"),
        FromHex("0200000001674d4014eca23d0800001f48000927c7030007a12000f425369c07c50a6580"
                "0000000168ebe3cb2000000106000693c6782328c080000001060105000000000000000080"),
        FromHex("01674d4014eca23d0800001f48000927c7030007a12000f425369c07c50a6580"),
    };
}

Bytes Mutate(const Bytes& in, std::mt19937_64& rng) {
    Bytes b = in;
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) {
        const size_t pos = b.empty() ? 0 : rng() % b.size();
        switch (rng() % 7) {
        case 0:
            if (!b.empty()) b[pos] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1:
            if (!b.empty()) b[pos] = static_cast<uint8_t>(rng());
            break;
        case 2:
            b.insert(b.begin() + static_cast<std::ptrdiff_t>(pos), static_cast<uint8_t>(rng()));
            break;
        case 3:
            if (!b.empty()) b.erase(b.begin() + static_cast<std::ptrdiff_t>(pos));
            break;
        case 4: {  // a start code or an emulation prevention pattern
            static const uint8_t patterns[][4] = {{0, 0, 1, 0}, {0, 0, 3, 0}, {0, 0, 0, 1}, {0xFF, 0xFF, 0xFF, 0xFF}};
            const auto& p = patterns[rng() % 4];
            b.insert(b.begin() + static_cast<std::ptrdiff_t>(pos), p, p + 4);
            break;
        }
        case 5:
            if (!b.empty()) b[0] = static_cast<uint8_t>(rng());  // mode byte
            break;
        default:
            if (b.size() > 1) b.resize(1 + rng() % b.size());
            break;
        }
    }
    if (b.size() > (1u << 16)) b.resize(1u << 16);
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 0;
    long runs = 10000;
    uint64_t seed = std::random_device{}();
    std::vector<Bytes> corpus = BuiltInSeeds();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
            runs = 0;
        } else if (a == "-runs" && i + 1 < argc) {
            runs = std::atol(argv[++i]);
        } else if (a == "-seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else {
            std::ifstream f(a, std::ios::binary);
            if (!f) {
                std::fprintf(stderr, "cannot read %s\n", a.c_str());
                return 2;
            }
            Bytes file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
            // Corpus files are raw streams: try them in every input form.
            for (uint8_t mode : {0, 1, 2, 9, 255}) {
                Bytes b{mode};
                b.insert(b.end(), file.begin(), file.end());
                corpus.push_back(std::move(b));
            }
        }
    }
    std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
    std::fflush(stdout);
    std::mt19937_64 rng(seed);
    for (const Bytes& b : corpus) LLVMFuzzerTestOneInput(b.data(), b.size());

    const auto start = std::chrono::steady_clock::now();
    long done = 0;
    for (;; ++done) {
        if (runs > 0 && done >= runs) break;
        if (runs == 0 && std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= seconds)
            break;
        Bytes input;
        if (rng() % 8 == 0) {  // fully random input
            input.resize(rng() % 512);
            for (uint8_t& x : input) x = static_cast<uint8_t>(rng());
        } else {
            input = Mutate(corpus[rng() % corpus.size()], rng);
            if (rng() % 64 == 0 && corpus.size() < 4096) corpus.push_back(input);
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld mutated inputs, %zu in corpus, no finding\n", done, corpus.size());
    return 0;
}
