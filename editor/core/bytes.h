// Byte helpers shared by the editing core's parsers.
#pragma once

#include <cstdint>

namespace editor {

// Four bytes as a 32-bit word with the first byte in the low-order position (the form in
// which the audio header routines take MPEG audio and AC-3 headers).
inline uint32_t LowFirst32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace editor
