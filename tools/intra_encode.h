// Codes a raw 4:2:0 or y4m file as I pictures with the encoder core, writing the byte
// stream and the reconstruction the encoder keeps (for comparison with a decoder).
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
    int gop = 1;
};

// Returns 0 on success; else a message in *error.
int RunIntraEncode(const IntraEncodeOptions& options, std::string* error);

}  // namespace ombrisk_tools
