// Inputs for the stored-stream fuzz target without a fuzzing engine: valid streams of both
// layouts, and mutations of them (flipped bits, forged types, lengths and counts,
// truncation, random bytes). Shared by the standalone driver and the test that runs it.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace kestrune::fuzz {

// The first byte selects layout (bit 0) and a source of unknown size (bit 1), as the target reads it.
std::vector<std::uint8_t> ValidInput(std::mt19937& rng);
std::vector<std::uint8_t> MutatedInput(std::mt19937& rng);

}  // namespace kestrune::fuzz
