// The per-macroblock record a coded picture keeps for later neighbours, the loop filter
// and the entropy writers.
#pragma once

#include <cstdint>

namespace ombrisk {

// Slice number of border records and of records not yet coded in this picture. Slice
// numbers are 16-bit so that every slice of a picture (up to its macroblock count, 36864
// at level 5.1) has its own.
constexpr uint16_t kNoSlice = 0xFFFF;
// QP-delta byte before the syntax writer has coded (or inferred) the macroblock's delta.
constexpr uint8_t kNoQpDelta = 128;

// One 4x4 block's motion: vector in quarter samples, reference index (-1: list unused).
struct MotionEntry {
    int16_t x = 0;
    int16_t y = 0;
    int8_t ref = -1;
    uint8_t spare = 0;
};

struct MbRecord {
    uint16_t slice = kNoSlice;
    uint8_t qp = 0;
    uint8_t chromaQp = 0;
    uint8_t qpDelta = kNoQpDelta;
    uint8_t codedBlockPattern = 0;  // bits 0-3 luma 8x8, bits 4-5 chroma 0, 1 (DC) or 2 (AC)
    uint32_t nonzeroMask = 0;       // bit i: luma 4x4 block i (raster) has a transmitted level
    int32_t kind = 0;               // MbKind
    int32_t shape = 0;              // partition shape
    int8_t intra4x4Modes[16] = {};  // raster order; 2 (DC) for every other kind
    int32_t chromaMode = 0;
    MotionEntry motion[2][16];  // per list, raster order of the 4x4 blocks
    MotionEntry motionDelta[2][16];
    // CAVLC neighbour contexts: total_coeff of each luma 4x4 block (raster) and of each
    // chroma AC block ([component][raster of the 2x2]).
    uint8_t totalCoeff[16] = {};
    uint8_t chromaTotalCoeff[2][4] = {};
    // Loop filter fields: averaged QPs of the left and top edges (luma, chroma), boundary
    // strengths [edge][segment] of the vertical and the horizontal edges, filter flag.
    uint8_t edgeQp[2] = {};
    uint8_t edgeChromaQp[2] = {};
    uint8_t strengthV[4][4] = {};
    uint8_t strengthH[4][4] = {};
    int32_t filter = 0;
};

}  // namespace ombrisk
