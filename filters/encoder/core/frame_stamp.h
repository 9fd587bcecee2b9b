// The frame stamp: a line of 4x5-cell glyphs drawn into the lower left of a luma plane
// before coding, so that a decoder shows each picture's type, display number and coding
// number: "P-0012-0011".
#pragma once

#include <cstdint>

namespace ombrisk {

// Cells of the line: 11 glyphs of 5 columns (the fifth is background) and 5 rows, inside
// a background margin of 2 cells.
constexpr int kStampCellsWide = 59;
constexpr int kStampCellsHigh = 9;
constexpr uint8_t kStampInk = 235;
constexpr uint8_t kStampBackground = 16;

// Pixels per cell for a width x height luma plane: min((w - 16) / 59, (h - 16) / 9), at
// most 4; below 1 nothing is drawn.
int FrameStampScale(int width, int height);

// Draws the stamp with its top left corner at (16, height - 9 x scale - 16). frameType is
// the core's slice type code (0 and 3 'I', 1 and 4 'P', else 'B'); the numbers are written
// with four digits (modulo 10000).
void DrawFrameStamp(uint8_t* luma, int pitch, int width, int height, int32_t frameType, int64_t displayNumber,
                    int64_t codingNumber);

}  // namespace ombrisk
