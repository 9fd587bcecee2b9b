// Small fixed tables of ITU-T H.264 used by both the encoder and the decoder: the 4x4
// scans, the chroma quantiser mapping, the 4x4 dequantisation scales and the deblocking
// thresholds.
#pragma once

#include <algorithm>
#include <cstdint>

namespace common {

// The frame zig-zag scan of a 4x4 block (clause 8.5.6, Table 8-13 field_scan 0): the
// row-major position of each scan index.
inline constexpr uint8_t kZigZag[16] = {0, 1, 4, 8, 5, 2, 3, 6, 9, 12, 13, 10, 7, 11, 14, 15};
// The field scan of field macroblocks (Table 8-13), as row-major positions.
inline constexpr uint8_t kFieldScan[16] = {0, 4, 1, 8, 12, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};

// Table 8-15: QPc for qPi 30..51 (below 30 QPc equals qPi).
inline constexpr uint8_t kChromaQpHigh[22] = {29, 30, 31, 32, 32, 33, 34, 34, 35, 35, 36,
                                              36, 37, 37, 37, 38, 38, 38, 39, 39, 39, 39};
// QPc of qPi, which is first clamped into 0..51.
inline constexpr int ChromaQp(int qpi) {
    qpi = std::clamp(qpi, 0, 51);
    return qpi < 30 ? qpi : kChromaQpHigh[qpi - 30];
}

// Clause 8.5.9, normAdjust4x4(m, i, j) by m = QP % 6: v[m][0] where i and j are both
// even, v[m][1] where both are odd, v[m][2] otherwise.
inline constexpr int16_t kNormAdjust4x4[6][3] = {{10, 16, 13}, {11, 18, 14}, {13, 20, 16},
                                                 {14, 23, 18}, {16, 25, 20}, {18, 29, 23}};
// LevelScale4x4 of flat scaling matrices, by m = QP % 6 and row-major position in the
// 4x4 block: normAdjust4x4 alone, as the flat weightScale4x4 of 16 cancels the 4 taken
// off the shift by QP / 6 in clause 8.5.12.1. The one dequantisation table of both cores.
struct LevelScale4x4Table {
    int16_t v[6][16];
    constexpr LevelScale4x4Table() : v{} {
        for (int m = 0; m < 6; ++m) {
            for (int p = 0; p < 16; ++p) {
                const int row = p / 4, col = p % 4;
                const int cls = row % 2 == 0 && col % 2 == 0 ? 0 : row % 2 == 1 && col % 2 == 1 ? 1 : 2;
                v[m][p] = kNormAdjust4x4[m][cls];
            }
        }
    }
};
inline constexpr LevelScale4x4Table kLevelScale4x4;

// Table 8-16: alpha' by indexA and beta' by indexB (0..51).
extern const uint8_t kDeblockAlpha[52];
extern const uint8_t kDeblockBeta[52];
// Table 8-17: tC0' by indexA and bS - 1 (bS 1..3).
extern const uint8_t kDeblockTc0[52][3];

}  // namespace common
