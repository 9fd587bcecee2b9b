#include "tests/support/fuzz_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzzdriver {

namespace {

size_t Pick(Rng& rng, size_t n) {
    return n == 0 ? 0 : static_cast<size_t>(rng() % n);
}

std::ptrdiff_t At(size_t i) {
    return static_cast<std::ptrdiff_t>(i);
}

// Edges of signed and unsigned 8-, 16- and 32-bit fields: where counts, lengths and
// offsets read from input go wrong.
constexpr uint32_t kInteresting[] = {0,          1,          0x7F,       0x80,      0xFF,       0x100,
                                     0x7FFF,     0x8000,     0xFFFF,     0x10000,   0x7FFFFFFF, 0x80000000,
                                     0xFFFFFFFF, 0xFFFFFFFE, 0x40000000, 0x00010000};

void WriteInteresting(Bytes& b, Rng& rng) {
    if (b.empty()) return;
    const size_t width = size_t{1} << Pick(rng, 3);  // 1, 2 or 4 bytes
    const uint32_t value = kInteresting[Pick(rng, std::size(kInteresting))];
    const bool bigEndian = rng() & 1;
    const size_t at = Pick(rng, b.size());
    for (size_t i = 0; i < width && at + i < b.size(); ++i) {
        const size_t shift = 8 * (bigEndian ? width - 1 - i : i);
        b[at + i] = static_cast<uint8_t>(value >> shift);
    }
}

Bytes RandomBytes(Rng& rng, size_t maxSize) {
    Bytes b(Pick(rng, maxSize + 1));
    for (uint8_t& x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

bool ReadFile(const std::filesystem::path& path, Bytes* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Reads a file, or every regular file of a folder (in name order, not recursing).
bool ReadCorpusPath(const std::string& arg, std::vector<Bytes>* files) {
    std::error_code ec;
    const std::filesystem::path path(arg);
    if (!std::filesystem::is_directory(path, ec)) {
        Bytes b;
        if (!ReadFile(path, &b)) return false;
        files->push_back(std::move(b));
        return true;
    }
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(path, ec))
        if (entry.is_regular_file(ec)) names.push_back(entry.path());
    if (ec) return false;
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        Bytes b;
        if (!ReadFile(name, &b)) return false;
        files->push_back(std::move(b));
    }
    return true;
}

// A whole decimal number after `prefix`, as in -runs=N.
bool ParseFlag(const char* arg, const char* prefix, double* out) {
    const size_t n = std::strlen(prefix);
    if (std::strncmp(arg, prefix, n) != 0) return false;
    char* end = nullptr;
    *out = std::strtod(arg + n, &end);
    return end != arg + n && *end == 0;
}

// As libFuzzer does, an empty input still comes with a valid pointer: targets hand `data`
// to routines (memcpy, fwrite) that must not get a null one even for no bytes.
void RunOne(const Target& target, const Bytes& input) {
    static const uint8_t kNothing = 0;
    target(input.empty() ? &kNothing : input.data(), input.size());
}

}  // namespace

Bytes Mutate(const Bytes& in, const std::vector<Bytes>& corpus, const Options& options, Rng& rng) {
    Bytes b = in;
    const size_t operations = options.mutateHook ? 10 : 9;
    const int edits = 1 + static_cast<int>(Pick(rng, 8));
    for (int e = 0; e < edits; ++e) {
        const size_t n = b.size();
        switch (Pick(rng, operations)) {
            case 0:  // flip a bit
                if (n) b[Pick(rng, n)] ^= static_cast<uint8_t>(1u << Pick(rng, 8));
                break;
            case 1:  // set a byte
                if (n) b[Pick(rng, n)] = static_cast<uint8_t>(rng());
                break;
            case 2: {  // insert random bytes
                const Bytes bytes = RandomBytes(rng, 16);
                b.insert(b.begin() + At(Pick(rng, n + 1)), bytes.begin(), bytes.end());
                break;
            }
            case 3:  // delete a run
                if (n) {
                    const size_t at = Pick(rng, n), len = std::min<size_t>(n - at, 1 + Pick(rng, 64));
                    b.erase(b.begin() + At(at), b.begin() + At(at + len));
                }
                break;
            case 4:  // copy a range to another place
                if (n) {
                    const size_t from = Pick(rng, n), len = 1 + Pick(rng, std::min<size_t>(n - from, 4096));
                    const Bytes range(b.begin() + At(from), b.begin() + At(from + len));
                    b.insert(b.begin() + At(Pick(rng, n + 1)), range.begin(), range.end());
                }
                break;
            case 5:  // splice: this input's head, another entry's tail
                if (!corpus.empty()) {
                    const Bytes& other = corpus[Pick(rng, corpus.size())];
                    const size_t from = Pick(rng, other.size());
                    b.resize(Pick(rng, n + 1));
                    b.insert(b.end(), other.begin() + At(from), other.end());
                }
                break;
            case 6:
                WriteInteresting(b, rng);
                break;
            case 7:  // a dictionary token, inserted or written over
                if (options.dictionary.empty()) {
                    WriteInteresting(b, rng);
                } else {
                    const Bytes& token = options.dictionary[Pick(rng, options.dictionary.size())];
                    const size_t at = Pick(rng, n + 1);
                    if (rng() & 1) {
                        b.insert(b.begin() + At(at), token.begin(), token.end());
                    } else {
                        if (b.size() < at + token.size()) b.resize(at + token.size());
                        std::copy(token.begin(), token.end(), b.begin() + At(at));
                    }
                }
                break;
            case 8:  // truncate
                b.resize(Pick(rng, n + 1));
                break;
            default:
                options.mutateHook(b, rng);
                break;
        }
    }
    if (b.size() > options.maxSize) b.resize(options.maxSize);
    return b;
}

long RunFuzzTarget(const Target& target, const Options& options, const std::vector<Bytes>& files, long runs,
                   uint64_t seed, double maxSeconds) {
    std::vector<Bytes> corpus;
    for (const Bytes& file : files) {
        corpus.push_back(file);
        if (options.expandFile)
            for (Bytes& more : options.expandFile(file))
                corpus.push_back(std::move(more));
    }
    corpus.insert(corpus.end(), options.seeds.begin(), options.seeds.end());
    for (const Bytes& entry : corpus)
        RunOne(target, entry);

    // Mutated inputs join the corpus now and then, so that damage piles up; bounded.
    constexpr size_t kMaxCorpus = 4096;
    Rng rng(seed);
    const auto start = std::chrono::steady_clock::now();
    long done = 0;
    for (; runs < 0 || done < runs; ++done) {
        if (maxSeconds > 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= maxSeconds)
            break;
        Bytes input;
        const size_t source = Pick(rng, 4);
        if (options.randomOneIn != 0 && Pick(rng, options.randomOneIn) == 0) {
            input = RandomBytes(rng, options.randomMaxSize);
        } else if (options.generate && source == 0) {
            input = options.generate(rng);
        } else {
            Bytes base;
            if (options.generate && (source == 1 || corpus.empty()))
                base = options.generate(rng);
            else if (!corpus.empty())
                base = corpus[Pick(rng, corpus.size())];
            input = Mutate(base, corpus, options, rng);
            if (Pick(rng, 64) == 0 && corpus.size() < kMaxCorpus) corpus.push_back(input);
        }
        RunOne(target, input);
    }
    return done;
}

int FuzzMain(int argc, char** argv, const Target& target, const Options& options) {
    double runs = -1, seconds = 0, seed = 0;
    std::vector<Bytes> files;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            if (!ParseFlag(arg, "-runs=", &runs) && !ParseFlag(arg, "-max_total_time=", &seconds) &&
                !ParseFlag(arg, "-seed=", &seed)) {
                std::fprintf(
                    stderr, "unknown argument %s\nusage: %s [-runs=N] [-max_total_time=S] [-seed=S] [FILE|FOLDER...]\n",
                    arg, argv[0]);
                return 2;
            }
        } else if (!ReadCorpusPath(arg, &files)) {
            std::fprintf(stderr, "cannot read %s\n", arg);
            return 2;
        }
    }
    // As with libFuzzer, seed 0 (or none) means a fresh one.
    uint64_t usedSeed = static_cast<uint64_t>(seed);
    if (usedSeed == 0)
        usedSeed = (static_cast<uint64_t>(std::random_device{}()) << 32 ^
                    static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())) &
                   0xFFFFFFFFFFFFull;
    std::printf("INFO: Seed: %llu\nINFO: %zu corpus files\n", static_cast<unsigned long long>(usedSeed), files.size());
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const long done = RunFuzzTarget(target, options, files, static_cast<long>(runs), usedSeed, seconds);
    std::printf("Done %ld runs in %.0f second(s), no finding\n", done,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}

}  // namespace fuzzdriver
