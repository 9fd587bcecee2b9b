// Byte helpers shared by the editing core's parsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/bitstream/start_code.h"

namespace editor {

// Four bytes as a 32-bit word with the first byte in the low-order position (the form in
// which the audio header routines take MPEG audio and AC-3 headers).
inline uint32_t LowFirst32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Offset of the first 00 00 01 in p[0..n) whose fourth byte is also in range, or n.
inline size_t FindStartCode(const uint8_t* p, size_t n) {
    if (n < 4) return n;
    const uint8_t* hit = common::FindStartCode(p, p + n - 1);
    return hit == p + n - 1 ? n : size_t(hit - p);
}

}  // namespace editor
