// Runs the stored-stream fuzz target over generated and mutated inputs. The target aborts on
// a broken invariant and the sanitizers catch overruns; the test also checks that the
// generator reaches both the accepting and the refusing paths.
#include <gtest/gtest.h>

#include "filters/config/config_stream.h"
#include "tests/support/fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace kestrune {
namespace {

bool Accepted(const std::vector<std::uint8_t>& input) {
    if (input.empty()) return false;
    SpanSource source(input.data() + 1, input.size() - 1);
    StoredHeader header;
    std::vector<StoredEntry> entries;
    return ConfigStreamReadHeader(source, &header) == StreamStatus::ok &&
           ConfigStreamReadEntries(source, (input[0] & 1) ? StreamLayout::v2 : StreamLayout::v1, &entries) ==
               StreamStatus::ok;
}

TEST(ConfigStreamFuzz, GeneratedAndMutatedInputsKeepTheInvariants) {
    const unsigned seed = 20261209;
    int accepted = 0, refused = 0;
    const auto counted = [&](const std::uint8_t* data, std::size_t size) {
        const std::vector<std::uint8_t> input(data, data + size);
        (Accepted(input) ? accepted : refused) += 1;
        return LLVMFuzzerTestOneInput(data, size);
    };
    EXPECT_EQ(fuzzdriver::RunFuzzTarget(counted, fuzzdriver::TargetOptions(), {}, 20000, seed), 20000);
    EXPECT_GT(accepted, 5000) << "seed " << seed;
    EXPECT_GT(refused, 5000) << "seed " << seed;
}

}  // namespace
}  // namespace kestrune
