// The variable-length codes of CAVLC residual coding (H.264 clause 9.2, Tables 9-5, 9-7,
// 9-8, 9-9 and 9-10) and the coded_block_pattern mapping of me(v) (Table 9-4), as code
// words: the encoder writes them, the decoder expands them into its lookup tables.
#pragma once

#include <cstdint>

namespace common {

struct VlcCode {
    uint8_t length;
    uint16_t code;
};

// coeff_token by nC class (0: 0 <= nC < 2, 1: 2 <= nC < 4, 2: 4 <= nC < 8), TotalCoeff
// and TrailingOnes; length 0 where the pair cannot occur.
extern const VlcCode kCoeffToken[3][17][4];
// coeff_token of chroma DC in 4:2:0 (nC = -1), TotalCoeff 0-4.
extern const VlcCode kCoeffTokenChromaDc[5][4];
// total_zeros of 4x4 blocks by TotalCoeff - 1 (0-14) and total_zeros (0-15).
extern const VlcCode kTotalZeros[15][16];
// total_zeros of 4:2:0 chroma DC by TotalCoeff - 1 (0-2) and total_zeros (0-3).
extern const VlcCode kTotalZerosChromaDc[3][4];
// run_before by min(zerosLeft, 7) - 1 and run_before (0-14).
extern const VlcCode kRunBefore[7][15];
// Table 9-4, chroma_format_idc 1 and 2: coded_block_pattern by codeNum (0-47) for an
// Intra_4x4 macroblock and for an inter one.
inline constexpr uint8_t kIntraCbpOfCode[48] = {47, 31, 15, 0,  23, 27, 29, 30, 7,  11, 13, 14, 39, 43, 45, 46,
                                                16, 3,  5,  10, 12, 19, 21, 26, 28, 35, 37, 42, 44, 1,  2,  4,
                                                8,  17, 18, 20, 24, 6,  9,  22, 25, 32, 33, 34, 36, 40, 38, 41};
inline constexpr uint8_t kInterCbpOfCode[48] = {0,  16, 1,  2,  4,  8,  32, 3,  5,  10, 12, 15, 47, 7,  11, 13,
                                                14, 6,  9,  31, 35, 37, 42, 44, 33, 34, 36, 40, 39, 43, 45, 46,
                                                17, 18, 20, 24, 19, 21, 26, 28, 23, 27, 29, 30, 22, 25, 38, 41};
// codeNum of coded_block_pattern (0-47) for an Intra_4x4 macroblock or an inter one.
int CbpCodeNum(int cbp, bool intra4x4);

}  // namespace common
