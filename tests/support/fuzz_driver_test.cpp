// The shared fuzz driver: order and count of runs, replay from the seed, the mutator's
// bounds and hooks, and the command line.
#include "tests/support/fuzz_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

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

TEST(FuzzDriver, TheTimeLimitCoversTheFirstPassOverTheFiles) {
    const std::vector<Bytes> files(40, Bytes{1, 2, 3});
    int calls = 0;
    const fuzzdriver::Target slow = [&](const uint8_t*, size_t) {
        ++calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return 0;
    };
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(slow, {}, files, 1000, 1, 0.1), 0);
    EXPECT_GT(calls, 0);
    EXPECT_LT(calls, 40);  // 40 files at 20 ms each would take 0.8 s
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
// A folder of its own for each test, removed when done.
struct ArtifactFolder {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("fuzz_driver_artifacts_" + std::to_string(std::rand()) + "_" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ArtifactFolder() { std::filesystem::create_directories(path); }
    ~ArtifactFolder() { std::filesystem::remove_all(path); }
    std::vector<Bytes> Files() const {
        std::vector<Bytes> out;
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            std::ifstream in(entry.path(), std::ios::binary);
            out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            EXPECT_EQ(entry.path().filename().string().rfind("crash-", 0), 0u) << entry.path();
        }
        return out;
    }
};

// Ends the process on inputs that hold "BOOM", the way a finding does.
int AbortOnBoom(const uint8_t* data, size_t size) {
    const Bytes input(data, data + size);
    if (Contains(input, {'B', 'O', 'O', 'M'})) std::abort();
    return 0;
}

TEST(FuzzDriverDeathTest, AnInputThatEndsTheProcessIsWrittenToTheFileItsMessageNames) {
    ArtifactFolder folder;
    fuzzdriver::Options options;
    options.artifactPrefix = folder.path.string() + "/";
    // The failing input is a mutation: the seed alone passes, one inserted token fails.
    options.seeds = {{'x', 'y', 'z'}};
    options.dictionary = {{'B', 'O', 'O', 'M'}};
    EXPECT_DEATH(fuzzdriver::RunFuzzTarget(AbortOnBoom, options, {}, -1, 3),
                 "Test unit written to " + folder.path.string() + "/crash-[0-9a-f]{16}");
    const std::vector<Bytes> saved = folder.Files();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_TRUE(Contains(saved[0], {'B', 'O', 'O', 'M'}));
}

#if defined(__SANITIZE_ADDRESS__)
int OverreadOnBoom(const uint8_t* data, size_t size) {
    if (size >= 4 && std::equal(data, data + 4, "BOOM")) {
        volatile uint8_t sink = data[size];  // one past the end: a heap overflow under ASan
        (void)sink;
    }
    return 0;
}

TEST(FuzzDriverDeathTest, ASanitizerFindingSavesTheInputToo) {
    ArtifactFolder folder;
    fuzzdriver::Options options;
    options.artifactPrefix = folder.path.string() + "/";
    EXPECT_DEATH(fuzzdriver::RunFuzzTarget(OverreadOnBoom, options, {{'B', 'O', 'O', 'M', '!'}}, 10, 3),
                 "heap-buffer-overflow(.|\n)*Test unit written to");
    EXPECT_EQ(folder.Files(), (std::vector<Bytes>{{'B', 'O', 'O', 'M', '!'}}));
}
#endif
#endif

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
    EXPECT_EQ(Main({"fuzz", "-runs=0", "-seed=42", "-artifact_prefix=" + dir.string() + "/", dir.string(), file}, &r),
              0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Seed: 42"), std::string::npos) << out;
    EXPECT_NE(out.find("Done 0 runs"), std::string::npos) << out;
    EXPECT_EQ(r.inputs, (std::vector<Bytes>{{'A', 'A'}, {'B', 'B', 'B'}, {'A', 'A'}}));

    // A file above the size limit of mutated inputs (1 MiB by default) is cut to it.
    const std::string big = (dir / "big").string();
    std::ofstream(big, std::ios::binary) << std::string((size_t{1} << 20) + 10, 'Z');
    Recorder cut;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Main({"fuzz", "-runs=0", big}, &cut), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("1 corpus files (1 cut to 1048576 bytes)"),
              std::string::npos);
    ASSERT_EQ(cut.inputs.size(), 1u);
    EXPECT_EQ(cut.inputs[0].size(), size_t{1} << 20);

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
