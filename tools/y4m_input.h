// The y4m input of the encoder drivers: the stream header and the frame headers.
#pragma once

#include <cstdio>
#include <string>

namespace ombrisk_tools {

// Reads the stream header (one line of at most 1 KiB): size, and the frame rate x 100
// into *fps100 when the header gives one (left alone otherwise). Only 4:2:0 is taken.
bool ReadY4mHeader(FILE* f, int* width, int* height, int* fps100, std::string* error);
// Reads one frame header line; false at the end of the stream or on anything else.
bool SkipY4mFrameHeader(FILE* f);
// Reads one frame header line and tells the clean end of the stream from anything else.
enum class Y4mFrameHeader { kFrame, kEnd, kDamaged };
Y4mFrameHeader ReadY4mFrameHeader(FILE* f);

}  // namespace ombrisk_tools
