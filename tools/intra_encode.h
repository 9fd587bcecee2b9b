// Codes a raw 4:2:0 or y4m file with the encoder core, as I pictures or in a fixed GOP of
// I, P and B pictures, writing the byte stream and the reconstruction the encoder keeps in
// display order (for comparison with a decoder).
#pragma once

#include <cstdint>
#include <string>

namespace ombrisk_tools {

struct IntraEncodeOptions {
    std::string input;           // .y4m, or raw I420 with width and height given
    int width = 0, height = 0;   // raw input only
    std::string output;          // Annex B byte stream
    std::string reconstruction;  // raw I420 of the source's size; empty for none
    int qp = 26;
    int level = 0;  // macroblock coder level 0-2
    int slices = 1;
    bool deblocking = true;
    bool interlaced = false;  // an interlaced source: field-capable stream of frame pictures
    int frames = 0;           // 0: all
    int gop = 1;              // an IDR picture every gop pictures (0: only the first)
    // The inter GOP: P pictures every bFrames + 1 pictures with bFrames B pictures before
    // each in display order (coded after it); the last picture before an IDR picture or
    // the end is a P picture.
    bool inter = false;
    int bFrames = 0;
    int refs = 1;  // list 0 references of P pictures (1-15)
    bool motionSearch = true;
    int subpel = 2;          // 0 integer, 1 half, 2 quarter samples
    int partitions = 15;     // bit set of shapes: 1 16x16, 2 16x8, 4 8x16, 8 8x8
    int range = 32;          // search range in samples
    int qpP = -1, qpB = -1;  // -1: the I pictures' QP
};

// Returns 0 on success; else a message in *error.
int RunIntraEncode(const IntraEncodeOptions& options, std::string* error);

}  // namespace ombrisk_tools
