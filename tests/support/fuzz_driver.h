// The fuzz driver every `LLVMFuzzerTestOneInput` target shares when it is built without
// libFuzzer (g++): one mutator, one command line and one in-process entry for tests.
//
//   target [-runs=N] [-max_total_time=S] [-seed=S] [FILE|FOLDER...]
//
// The command line is libFuzzer's where the two overlap. Files (and the regular files of a
// folder) are run first, as they stand and in the target's own expansions of them, then
// they, the target's seeds and its generated inputs are mutated until N runs are done or
// S seconds have passed (without either: until interrupted). The seed is printed first so
// a run can be replayed. A finding ends the process through the sanitizers or a trap in
// the target; the driver itself fails only on a bad argument or an unreadable file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace fuzzdriver {

using Bytes = std::vector<uint8_t>;
using Rng = std::mt19937_64;
using Target = std::function<int(const uint8_t* data, size_t size)>;

// What a target adds to the generic driver. All members are optional.
struct Options {
    // Inputs run once at the start and then mutated.
    std::vector<Bytes> seeds;
    // Tokens the mutator inserts or writes over the input (start codes, keywords).
    std::vector<Bytes> dictionary;
    // More inputs made from a corpus file (besides the file as it stands), e.g. the file
    // behind each value of the configuration bytes a target reads first.
    std::function<std::vector<Bytes>(const Bytes& file)> expandFile;
    // A structure-aware source of fresh inputs: a quarter of the runs take one as it is
    // and a quarter mutate one.
    std::function<Bytes(Rng&)> generate;
    // A structure-aware edit the mutator applies as one of its operations (a target's
    // mode or configuration bytes).
    std::function<void(Bytes&, Rng&)> mutateHook;
    // One run in `randomOneIn` gets plain random bytes, up to `randomMaxSize` of them.
    unsigned randomOneIn = 8;
    size_t randomMaxSize = 512;
    // Mutated inputs are cut to this size.
    size_t maxSize = size_t{1} << 20;
};

// Defined by each target next to its `LLVMFuzzerTestOneInput`; the driver's main (the
// fuzzdriver_main library) runs the target with these options.
Options TargetOptions();

// One to eight edits of `in`: bit flips, byte sets, inserts, deletes, copies of a range,
// splices with another corpus entry, interesting values and dictionary tokens, and the
// target's own hook.
Bytes Mutate(const Bytes& in, const std::vector<Bytes>& corpus, const Options& options, Rng& rng);

// Runs `target` over `files` (each as it stands and expanded), the seeds, then `runs`
// generated or mutated inputs (stopping early when `maxSeconds` > 0 have passed; with
// runs < 0 only the time limit holds). Returns the number of generated or mutated runs.
long RunFuzzTarget(const Target& target, const Options& options, const std::vector<Bytes>& files, long runs,
                   uint64_t seed, double maxSeconds = 0);

// The command line above; returns the process's exit status.
int FuzzMain(int argc, char** argv, const Target& target, const Options& options);

}  // namespace fuzzdriver
