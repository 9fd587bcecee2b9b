// Scan order and dequantisation factors of 4x4 residual blocks (ITU-T H.264 clauses 8.5.6
// and 8.5.9, flat scaling matrices).
#pragma once

#include <cstdint>

#include "common/bitstream/h264_tables.h"

namespace avcdec {

// The frame zig-zag and field scans as row-major positions in a 4x4 block.
using common::kFieldScan;
using common::kZigZag;

// LevelScale4x4 of flat matrices by QP % 6 and row-major position (clause 8.5.9).
using common::kLevelScale4x4;

}  // namespace avcdec
