// The fuzz target over access-unit assembly and every elementary-stream parser, and the
// input mutator its standalone driver and its test share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace muxerfuzz {

// The first bytes of an input choose the stream: type, settings, announced frame duration,
// buffer size; the rest is cut into samples (see the target).
constexpr size_t kConfigBytes = 6;
// An input that feeds `stream` to the parser of the type with index `type_index`.
std::vector<uint8_t> MakeInput(uint8_t type_index, const std::vector<uint8_t>& stream);

// Byte flips, inserts, deletes, repeats and splices of a corpus entry.
std::vector<uint8_t> Mutate(const std::vector<uint8_t>& in, const std::vector<std::vector<uint8_t>>& corpus,
                            std::mt19937& rng);

}  // namespace muxerfuzz
