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

// The same tables arranged for a decoding engine's decision: lps[128 * qCodIRangeIdx + state] is
// rangeTabLPS of a context state (pStateIdx << 1 | valMPS); next[128 + state] is the
// state after an MPS and next[127 - state] the state after an LPS.
struct CabacFastTables {
    uint8_t lps[512];
    uint8_t next[256];
    uint8_t renorm[64];  // by codIRange >> 3: the doublings back to nine bits
};
extern const CabacFastTables kCabacFast;

}  // namespace common
