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

// Every table: coeff_token values are TotalCoeff | TrailingOnes << 5.
struct CavlcTableSet {
    const LeadingZeroVlcTable* coeffTokenLz[3];  // nC 0-1, 2-3, 4-7
    VlcTable coeffTokenFixed;                    // nC 8 and above: the 6-bit code
    VlcTable coeffTokenChromaDc;                 // nC -1
    VlcTable totalZeros[16];                     // 4x4 blocks, by TotalCoeff 1..15
    VlcTable totalZerosChromaDc[4];              // chroma DC, by TotalCoeff 1..3
    VlcTable runBefore[8];                       // by zerosLeft 1..6, 7 for 7 and above
    // run_before by zerosLeft 1..15 and the next three bits: code length << 4 |
    // run_before. The codes of zerosLeft 1..6 have at most three bits and fill their
    // rows; from zerosLeft 7 on (one table), the entry 0 stands for the longer codes 0001
    // (run 7) to 00000000001 (run 14), whose length is one more than their leading zeros.
    uint8_t runBeforeShort[16][8];
    // coeff_token levels (clause 9.2.2) whose level_prefix, its one bit and suffix fit in
    // the next 8 bits, by [first level after fewer than 3 trailing ones][suffixLength
    // 0..6][next 8 bits]: level << 8 (int8) | suffixLength for the next level << 4 | code
    // length; length 0 for the longer codes.
    uint16_t levelShort[2][7][256];
};
const CavlcTableSet& CavlcTables();

}  // namespace avcdec
