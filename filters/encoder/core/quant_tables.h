// H.264 4x4 quantisation tables (positions in raster order, rows by QP mod 6).
#pragma once

#include <cstdint>

#include "common/bitstream/h264_tables.h"

namespace ombrisk {

// Forward quantisation multipliers MF: level = (|c| * MF + offset) >> qbits.
extern const int16_t kQuantMultiplier[6][16];
// Dequantisation scales V (the standard's normAdjust4x4 with a flat scaling matrix).
inline constexpr const int16_t (&kDequantScale)[6][16] = common::kLevelScale4x4.v;

}  // namespace ombrisk
