// Runs the stored-stream fuzz target over generated and mutated inputs. The target aborts on
// a broken invariant and the sanitizers catch overruns; the test also checks that the
// generator reaches both the accepting and the refusing paths.
#include <gtest/gtest.h>

#include <random>

#include "filters/config/config_stream.h"
#include "filters/config/tests/fuzz_inputs.h"

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
    std::mt19937 rng(seed);
    int accepted = 0, refused = 0;
    for (int i = 0; i < 20000; ++i) {
        const auto input = (i % 4 == 0) ? fuzz::ValidInput(rng) : fuzz::MutatedInput(rng);
        LLVMFuzzerTestOneInput(input.data(), input.size());
        (Accepted(input) ? accepted : refused) += 1;
    }
    EXPECT_GT(accepted, 5000) << "seed " << seed;
    EXPECT_GT(refused, 5000) << "seed " << seed;
}

}  // namespace
}  // namespace kestrune
