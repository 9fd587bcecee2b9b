// The shared fuzz driver: order and count of runs, replay from the seed, the mutator's
// bounds and hooks, and the command line.
#include "tests/support/fuzz_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using fuzzdriver::Bytes;

struct Recorder {
    std::vector<Bytes> inputs;
    int nullPointers = 0;
    fuzzdriver::Target Target() {
        return [this](const uint8_t* data, size_t size) {
            nullPointers += data == nullptr;
            inputs.emplace_back(data, data + size);
            return 0;
        };
    }
};

bool Contains(const Bytes& hay, const Bytes& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

TEST(FuzzDriver, RunsFilesExpansionsAndSeedsFirstThenReplaysFromTheSeed) {
    fuzzdriver::Options options;
    options.seeds = {{9, 9, 9}, {}};
    options.expandFile = [](const Bytes& file) {
        Bytes b = {0xEE};
        b.insert(b.end(), file.begin(), file.end());
        return std::vector<Bytes>{b};
    };
    Recorder a, b, c;
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(a.Target(), options, {{1, 2}}, 500, 77), 500);
    ASSERT_EQ(a.inputs.size(), 504u);
    EXPECT_EQ(a.inputs[0], (Bytes{1, 2}));
    EXPECT_EQ(a.inputs[1], (Bytes{0xEE, 1, 2}));
    EXPECT_EQ(a.inputs[2], (Bytes{9, 9, 9}));
    EXPECT_EQ(a.inputs[3], Bytes{});
    EXPECT_EQ(a.nullPointers, 0);  // an empty input still gets a valid pointer, as with libFuzzer
    fuzzdriver::RunFuzzTarget(b.Target(), options, {{1, 2}}, 500, 77);
    fuzzdriver::RunFuzzTarget(c.Target(), options, {{1, 2}}, 500, 78);
    EXPECT_EQ(a.inputs, b.inputs);
    EXPECT_NE(a.inputs, c.inputs);
    // The mutations reach past the seeds: different inputs, random ones included.
    std::sort(a.inputs.begin(), a.inputs.end());
    EXPECT_GT(std::unique(a.inputs.begin(), a.inputs.end()) - a.inputs.begin(), 300);
}

TEST(FuzzDriver, GeneratedInputsAndATimeLimit) {
    fuzzdriver::Options options;
    options.generate = [](fuzzdriver::Rng& rng) { return Bytes{0x47, static_cast<uint8_t>(rng())}; };
    Recorder r;
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(r.Target(), options, {}, 2000, 5), 2000);
    const auto asMade =
        std::count_if(r.inputs.begin(), r.inputs.end(), [](const Bytes& b) { return b.size() == 2 && b[0] == 0x47; });
    EXPECT_GT(asMade, 300);  // a quarter of the runs that are not random bytes, at least
    Recorder timed;
    const long runs = fuzzdriver::RunFuzzTarget(timed.Target(), options, {}, -1, 5, 0.2);
    EXPECT_GT(runs, 0);
    EXPECT_EQ(static_cast<size_t>(runs), timed.inputs.size());
}

TEST(FuzzDriver, MutatorKeepsTheSizeBoundAndUsesTokensAndTheHook) {
    fuzzdriver::Options options;
    options.maxSize = 300;
    const Bytes token = {'<', 'N', 'a', 'm', 'e', '>'};
    options.dictionary = {token};
    int hooked = 0;
    options.mutateHook = [&](Bytes& b, fuzzdriver::Rng&) {
        ++hooked;
        if (!b.empty()) b[0] = 0xA5;
    };
    const Bytes seed(256, 'x');
    fuzzdriver::Rng rng(1);
    int withToken = 0, grown = 0, shrunk = 0;
    for (int i = 0; i < 2000; ++i) {
        const Bytes out = fuzzdriver::Mutate(seed, {seed, Bytes(40, 'y')}, options, rng);
        ASSERT_LE(out.size(), options.maxSize);
        withToken += Contains(out, token);
        grown += out.size() > seed.size();
        shrunk += out.size() < seed.size();
    }
    EXPECT_GT(hooked, 100);
    EXPECT_GT(withToken, 100);
    EXPECT_GT(grown, 100);
    EXPECT_GT(shrunk, 100);
}

int Main(std::vector<std::string> args, Recorder* r) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    return fuzzdriver::FuzzMain(static_cast<int>(argv.size()), argv.data(), r->Target(), {});
}

TEST(FuzzDriver, CommandLine) {
    const int marker = 0;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("fuzz_driver_test_" + std::to_string(reinterpret_cast<uintptr_t>(&marker) & 0xFFFFFF));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "a", std::ios::binary) << "AA";
    std::ofstream(dir / "b", std::ios::binary) << "BBB";
    const std::string file = (dir / "a").string();

    Recorder r;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Main({"fuzz", "-runs=0", "-seed=42", dir.string(), file}, &r), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Seed: 42"), std::string::npos) << out;
    EXPECT_NE(out.find("Done 0 runs"), std::string::npos) << out;
    EXPECT_EQ(r.inputs, (std::vector<Bytes>{{'A', 'A'}, {'B', 'B', 'B'}, {'A', 'A'}}));

    Recorder counted;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Main({"fuzz", "-runs=300", "-max_total_time=100", "-seed=1", file}, &counted), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Done 300 runs"), std::string::npos);
    EXPECT_EQ(counted.inputs.size(), 301u);

    for (const char* bad : {"-runs", "-runs=x", "-seconds=5", "-type=2"}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(Main({"fuzz", bad}, &r), 2) << bad;
        EXPECT_NE(testing::internal::GetCapturedStderr().find("usage"), std::string::npos);
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(Main({"fuzz", (dir / "missing").string()}, &r), 2);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot read"), std::string::npos);
    std::filesystem::remove_all(dir);
}

}  // namespace
