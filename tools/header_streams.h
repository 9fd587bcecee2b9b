// Writes short H.264 streams that exercise everything the encoder core writes outside the
// macroblock layer (parameter sets, SEI, slice headers) over a matrix of settings, so that
// outside tools can judge them. The macroblock layer is the simplest the standard offers:
// I_PCM macroblocks in I slices and one skip run in P and B slices (CAVLC), so every CAVLC
// stream decodes. CABAC streams carry no macroblock layer of use (the CABAC engine is not
// part of this tool): their headers can be read, their pictures not decoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/nal_writer.h"

namespace ombrisk_tools {

struct HeaderCase {
    std::string name;
    int width, height;
    int aspectX, aspectY;
    int32_t params[ombrisk::kParamWords];
    bool hrd;      // declare an HRD from the bit-rate words
    int pictures;  // in display order
    int idrEvery;  // an IDR picture every this many pictures (0: only the first)
};

// The settings matrix: profiles 66, 77, 88; levels automatic and fixed; aspect ratios
// fixed, extended and automatic; HRD on and off; deblocking on and off; one and several
// slices; with and without B pictures; progressive and interlaced; VUI on and off.
std::vector<HeaderCase> HeaderMatrix();

// What was written: every NAL unit's fields in stream order, and the pictures' count.
struct WrittenStream {
    std::vector<uint8_t> bytes;
    std::vector<ombrisk::TracedNal> nals;
    int level = 0;
};

// Builds the stream of one case. Returns false with a message when the core refused it.
bool BuildHeaderStream(const HeaderCase& c, WrittenStream* out, std::string* error);

}  // namespace ombrisk_tools
