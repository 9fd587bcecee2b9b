#include "tests/support/fuzz_driver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

// The sanitizers' runtime calls this back when it ends the process on a finding; weak, so
// that builds without a sanitizer link too.
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));
#endif

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

// Reads at most `limit` bytes of a file, in large pieces; a file that holds more is cut
// to `limit` and counted in `cut`.
bool ReadFile(const std::filesystem::path& path, size_t limit, Bytes* out, size_t* cut) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->clear();
    std::vector<char> piece(size_t{1} << 16);
    while (out->size() <= limit) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto got = static_cast<size_t>(in.gcount());
        out->insert(out->end(), piece.begin(), piece.begin() + At(got));
        if (got < piece.size()) break;
    }
    if (in.bad()) return false;
    if (out->size() > limit) {
        out->resize(limit);
        ++*cut;
    }
    return true;
}

// Reads a file, or every regular file of a folder (in name order, not recursing).
bool ReadCorpusPath(const std::string& arg, size_t limit, std::vector<Bytes>* files, size_t* cut) {
    std::error_code ec;
    const std::filesystem::path path(arg);
    if (!std::filesystem::is_directory(path, ec)) {
        Bytes b;
        if (!ReadFile(path, limit, &b, cut)) return false;
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
        if (!ReadFile(name, limit, &b, cut)) return false;
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

// The input being run, for the crash handlers: written, as "crash-HASH" under the artifact
// prefix, when the process dies while running it.
const uint8_t* currentInput = nullptr;
size_t currentInputSize = 0;
char artifactPrefixText[1024];
std::atomic_flag inputSaved = ATOMIC_FLAG_INIT;

// Appends `text` to a fixed buffer; only what is safe in a signal handler.
void Append(char* buf, size_t cap, size_t* len, const char* text) {
    while (*text && *len + 1 < cap)
        buf[(*len)++] = *text++;
    buf[*len] = 0;
}

void WriteError(const char* text) {
#ifdef _WIN32
    std::fputs(text, stderr);
    std::fflush(stderr);
#else
    ssize_t ignored = write(2, text, std::strlen(text));
    (void)ignored;
#endif
}

// Writes the current input once; called from signal handlers and the sanitizers' death
// callback, so it allocates nothing.
void SaveCurrentInput() {
    if (currentInput == nullptr || inputSaved.test_and_set()) return;
    uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a: a stable name for the same input
    for (size_t i = 0; i < currentInputSize; ++i)
        h = (h ^ currentInput[i]) * 0x100000001b3ull;
    char hex[17];
    for (int i = 0; i < 16; ++i)
        hex[i] = "0123456789abcdef"[(h >> (60 - 4 * i)) & 0xF];
    hex[16] = 0;
    char path[1200];
    size_t len = 0;
    path[0] = 0;
    Append(path, sizeof path, &len, artifactPrefixText);
    Append(path, sizeof path, &len, "crash-");
    Append(path, sizeof path, &len, hex);
    bool written = false;
#ifdef _WIN32
    if (std::FILE* f = std::fopen(path, "wb")) {
        written = std::fwrite(currentInput, 1, currentInputSize, f) == currentInputSize;
        written = std::fclose(f) == 0 && written;
    }
#else
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        size_t done = 0;
        while (done < currentInputSize) {
            const ssize_t n = write(fd, currentInput + done, currentInputSize - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        written = done == currentInputSize;
        written = close(fd) == 0 && written;
    }
#endif
    char message[1400];
    len = 0;
    message[0] = 0;
    Append(message, sizeof message, &len,
           written ? "\n==fuzz driver== Test unit written to " : "\n==fuzz driver== could not write the input to ");
    Append(message, sizeof message, &len, path);
    Append(message, sizeof message, &len, written ? " (replay it: FUZZ_BINARY -runs=0 FILE)\n" : "\n");
    WriteError(message);
}

void OnDeadlySignal(int sig) {
    SaveCurrentInput();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

#ifndef _WIN32
void OnSanitizerDeath() {
    SaveCurrentInput();
}
#endif

// While it lives, a failure inside the target saves the input being run. A handler that
// is already installed (a sanitizer's, for a segmentation fault) is left in place: it
// reports, then ends the process through the death callback.
class CrashSaver {
public:
    explicit CrashSaver(const std::string& artifactPrefix) {
        std::snprintf(artifactPrefixText, sizeof artifactPrefixText, "%s", artifactPrefix.c_str());
        inputSaved.clear();
        for (size_t i = 0; i < std::size(kSignals); ++i) {
            previous_[i] = std::signal(kSignals[i], OnDeadlySignal);
            if (previous_[i] != SIG_DFL && previous_[i] != SIG_ERR) std::signal(kSignals[i], previous_[i]);
        }
#ifndef _WIN32
        if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(OnSanitizerDeath);
#endif
    }
    ~CrashSaver() {
#ifndef _WIN32
        if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(nullptr);
#endif
        for (size_t i = 0; i < std::size(kSignals); ++i)
            if (previous_[i] == SIG_DFL) std::signal(kSignals[i], SIG_DFL);
        currentInput = nullptr;
    }
    CrashSaver(const CrashSaver&) = delete;
    CrashSaver& operator=(const CrashSaver&) = delete;

private:
#ifdef _WIN32
    static constexpr int kSignals[] = {SIGSEGV, SIGILL, SIGFPE, SIGABRT};
#else
    static constexpr int kSignals[] = {SIGSEGV, SIGILL, SIGFPE, SIGABRT, SIGBUS, SIGTRAP};
#endif
    using Handler = void (*)(int);
    Handler previous_[std::size(kSignals)] = {};
};

// As libFuzzer does, an empty input still comes with a valid pointer: targets hand `data`
// to routines (memcpy, fwrite) that must not get a null one even for no bytes.
void RunOne(const Target& target, const Bytes& input) {
    static const uint8_t kNothing = 0;
    currentInput = input.empty() ? &kNothing : input.data();
    currentInputSize = input.size();
    target(currentInput, currentInputSize);
    currentInput = nullptr;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    // The time limit covers the whole run, the pass over the files included.
    const auto start = std::chrono::steady_clock::now();
    const auto outOfTime = [&] { return maxSeconds > 0 && SecondsSince(start) >= maxSeconds; };
    const CrashSaver saver(options.artifactPrefix);
    std::vector<Bytes> corpus;
    for (const Bytes& file : files) {
        corpus.push_back(file);
        if (options.expandFile)
            for (Bytes& more : options.expandFile(file))
                corpus.push_back(std::move(more));
    }
    corpus.insert(corpus.end(), options.seeds.begin(), options.seeds.end());
    // At least one input runs however late the run starts (a loaded machine may take the whole
    // limit before the first call).
    for (const Bytes& entry : corpus) {
        RunOne(target, entry);
        if (outOfTime()) return 0;
    }

    // Mutated inputs join the corpus now and then, so that damage piles up; bounded.
    constexpr size_t kMaxCorpus = 4096;
    Rng rng(seed);
    long done = 0;
    for (; runs < 0 || done < runs; ++done) {
        if (outOfTime()) break;
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

int FuzzMain(int argc, char** argv, const Target& target, const Options& targetOptions) {
    const auto start = std::chrono::steady_clock::now();
    Options options = targetOptions;
    double runs = -1, seconds = 0, seed = 0;
    std::vector<Bytes> files;
    size_t cut = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            constexpr char kPrefixFlag[] = "-artifact_prefix=";
            if (std::strncmp(arg, kPrefixFlag, sizeof kPrefixFlag - 1) == 0) {
                options.artifactPrefix = arg + sizeof kPrefixFlag - 1;
            } else if (!ParseFlag(arg, "-runs=", &runs) && !ParseFlag(arg, "-max_total_time=", &seconds) &&
                       !ParseFlag(arg, "-seed=", &seed)) {
                std::fprintf(stderr,
                             "unknown argument %s\nusage: %s [-runs=N] [-max_total_time=S] [-seed=S] "
                             "[-artifact_prefix=P] [FILE|FOLDER...]\n",
                             arg, argv[0]);
                return 2;
            }
        } else if (!ReadCorpusPath(arg, options.maxSize, &files, &cut)) {
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
    // Files are cut to the size limit of mutated inputs: a run over a file of many megabytes
    // can take longer than the whole time limit, which is checked between runs.
    std::printf("INFO: Seed: %llu\nINFO: %zu corpus files (%zu cut to %zu bytes)\n",
                static_cast<unsigned long long>(usedSeed), files.size(), cut, options.maxSize);
    std::fflush(stdout);
    // What reading the files took counts against the limit too; a limit already used up
    // still runs nothing past the first check.
    const double left = seconds > 0 ? std::max(seconds - SecondsSince(start), 1e-9) : 0;
    const long done = RunFuzzTarget(target, options, files, static_cast<long>(runs), usedSeed, left);
    std::printf("Done %ld runs in %.0f second(s), no finding\n", done, SecondsSince(start));
    return 0;
}

}  // namespace fuzzdriver
