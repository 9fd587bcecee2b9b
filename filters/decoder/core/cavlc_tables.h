// Variable-length code tables of CAVLC (ITU-T H.264 clause 9.2, Tables 9-5, 9-7 to 9-10),
// expanded for lookup on the next bits of the stream.
#pragma once

#include <cstdint>

namespace avcdec {

// One lookup table: entry = (code length << 8) | value, indexed by the next `bits` bits;
// length 0 marks bits that start no code.
struct VlcTable {
    const uint16_t* entries;
    int32_t bits;
};

// A table indexed by the number of leading zero bits (0..16) and the three bits after the
// first one bit; entries as in VlcTable. Every coeff_token code of the variable-length
// tables has at most three bits after its first one bit.
struct LeadingZeroVlcTable {
    uint16_t entries[17][8];
};

// coeff_token for nC 0-1, 2-3 and 4-7 (index 0..2).
const LeadingZeroVlcTable& CoeffTokenLzTable(int index);

// coeff_token: value = TotalCoeff | TrailingOnes << 5. Tables 0..3 for nC 0-1, 2-3, 4-7,
// 8 and above; table 4 for chroma DC (nC = -1).
const VlcTable& CoeffTokenTable(int index);
// total_zeros for TotalCoeff 1..15 of 4x4 blocks; chroma DC for TotalCoeff 1..3.
const VlcTable& TotalZerosTable(int totalCoeff);
const VlcTable& TotalZerosChromaDcTable(int totalCoeff);
// run_before for zerosLeft 1..6, and 7 and above (index 7).
const VlcTable& RunBeforeTable(int zerosLeft);

}  // namespace avcdec
