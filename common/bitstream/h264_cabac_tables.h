// CABAC tables of ITU-T H.264 (clause 9.3): context initialisation values and the
// probability state transitions, shared by the decoder and the encoder.
#pragma once

#include <cstdint>

namespace common {

// Contexts 0..398: every ctxIdx of frame macroblocks without the 8x8 transform.
constexpr int kCabacContexts = 399;

// (m, n) of every context for an I slice, or for cabac_init_idc 0..2 (Tables 9-12 to 9-23).
const int8_t (*CabacInitValues(bool intraSlice, int cabacInitIdc))[2];

// Table 9-44 (by pStateIdx and qCodIRangeIdx) and Table 9-45.
extern const uint8_t kCabacRangeLps[64][4];
extern const uint8_t kCabacTransIdxLps[64];

}  // namespace common
