// Scan order and dequantisation factors of 4x4 residual blocks (ITU-T H.264 clauses 8.5.6
// and 8.5.9, flat scaling matrices).
#pragma once

#include <cstdint>

#include "common/bitstream/h264_tables.h"

namespace avcdec {

// The frame zig-zag and field scans as row-major positions in a 4x4 block.
using common::kFieldScan;
using common::kZigZag;

// Clause 8.5.9 normAdjust4x4 by QP % 6 for positions with both coordinates even, both
// odd, and the rest.
inline constexpr int kNormAdjust[6][3] = {{10, 16, 13}, {11, 18, 14}, {13, 20, 16},
                                          {14, 23, 18}, {16, 25, 20}, {18, 29, 23}};

// LevelScale4x4 of flat matrices by QP % 6 and row-major position.
struct LevelScaleTable {
    int32_t v[6][16];
    constexpr LevelScaleTable() : v{} {
        for (int m = 0; m < 6; ++m) {
            for (int p = 0; p < 16; ++p) {
                const int row = p / 4, col = p % 4;
                const int cls = (row % 2 == 0 && col % 2 == 0) ? 0 : (row % 2 == 1 && col % 2 == 1) ? 1 : 2;
                v[m][p] = kNormAdjust[m][cls];
            }
        }
    }
};
inline constexpr LevelScaleTable kLevelScale;

}  // namespace avcdec
