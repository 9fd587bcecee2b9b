// SSE2 forms of the colour converter's hot rows. Each writes exactly the bytes of its
// portable form (colour_convert.cpp) and returns how many leading pixels it converted;
// the caller's portable loop does the rest of the row.
#pragma once

#include <cstdint>

namespace pelldrin {

// Whether this build has the SSE2 forms and the processor runs them.
bool ColourSse2Available();

// 4:2:0 row to BGR (three bytes) or BGRX with X = 0 (four bytes); u and v hold
// (columns + 1) / 2 samples.
int RgbRowSse2(uint8_t* out, const uint8_t* y, const uint8_t* u, const uint8_t* v, int columns, bool four);

// Row of 4:2:2 samples packed as YUY2 or UYVY.
int PackRowSse2(uint8_t* out, const uint8_t* y, const uint8_t* u, const uint8_t* v, int columns, bool uyvy);

}  // namespace pelldrin
