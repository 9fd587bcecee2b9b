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

// coeff_token: value = TotalCoeff | TrailingOnes << 5. Tables 0..3 for nC 0-1, 2-3, 4-7,
// 8 and above; table 4 for chroma DC (nC = -1).
const VlcTable& CoeffTokenTable(int index);
// total_zeros for TotalCoeff 1..15 of 4x4 blocks; chroma DC for TotalCoeff 1..3.
const VlcTable& TotalZerosTable(int totalCoeff);
const VlcTable& TotalZerosChromaDcTable(int totalCoeff);
// run_before for zerosLeft 1..6, and 7 and above (index 7).
const VlcTable& RunBeforeTable(int zerosLeft);

}  // namespace avcdec
