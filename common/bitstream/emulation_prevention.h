// Emulation prevention of H.264 NAL units (ITU-T H.264 clause 7.4.1): inside a NAL unit's
// payload, an emulation_prevention_three_byte 03 follows every pair of zero bytes that would
// otherwise be followed by 00, 01, 02 or 03, so that no start code appears in it.
//
// Both directions copy into a caller's array and stop when it is full: the result says how
// many input bytes were used and whether all of them were. Nothing is read or written
// outside the two spans.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace common {

struct EscapeResult {
    size_t read = 0;        // input bytes used
    size_t written = 0;     // output bytes stored
    bool complete = false;  // every input byte was used (and, inserting, the final 03 stored)
};

// NAL unit payload to RBSP: drops the 03 of every 00 00 03. The RBSP is never longer than
// the payload, so an output as large as the input always suffices. An output that fills up
// gives the leading part of the RBSP (enough for a header, say).
EscapeResult RemoveEmulationPrevention(std::span<const uint8_t> payload, std::span<uint8_t> rbsp);

// RBSP to NAL unit payload: inserts 03 after every 00 00 that is followed by 00..03, and
// appends 03 when the payload would end in 00 00 (an RBSP that ends in cabac_zero_word).
// On a full output `written` bytes are a valid prefix, but the payload is incomplete.
EscapeResult InsertEmulationPrevention(std::span<const uint8_t> rbsp, std::span<uint8_t> payload);

// Output size that InsertEmulationPrevention can never exceed for `rbspBytes` input bytes:
// at most one 03 per two input bytes, and the final one.
constexpr size_t EscapedBound(size_t rbspBytes) {
    return rbspBytes + rbspBytes / 2 + 1;
}

}  // namespace common
