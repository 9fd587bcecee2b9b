// Codes a y4m (or raw I420) file through the encoder core's facade, the way the filter
// drives it: push a picture, code every picture that is ready, collect the chunks; at the
// end flush. Writes the byte stream and, optionally, the reconstruction in display order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ombrisk_tools {

struct EncodeOptions {
    std::string input;           // .y4m, or raw I420 with width and height given
    int width = 0, height = 0;   // raw input only
    std::string output;          // Annex B byte stream
    std::string reconstruction;  // raw I420 in display order; empty for none
    int frames = 0;              // 0: all
    int fps100 = 0;              // frame rate x 100; 0: the y4m header's, else 25
    // Rate: mode 0 constant QP, 2 variable, 3 constant bit rate (bit rates in bit/s).
    int rateMode = 0;
    // Constant QP of I pictures, P +1, B +2: the core derives them from the quality word,
    // so this is rounded to the nearest a quality gives (51, 48, 45, ... 26, 23, 20, ... 4).
    int qp = 26;
    int bitRate = 0, maxBitRate = 0;
    int gop = 30;     // an I picture every gop pictures (0: only the first)
    int bFrames = 1;  // consecutive B pictures
    int refs = 1;
    int slices = 1;
    int level = 1;  // macroblock coder level (effort) 0-2
    bool deblocking = true;
    bool cabac = false;  // CABAC entropy coding (Main profile)
    int profile = 77;
    int sceneDetect = 3;       // 0 off, 1 subsampled difference, 2 and 3 histograms
    bool frameStamps = false;  // type, display and coding number drawn into each picture
    bool motionSearch = true;
    int subpel = 2;
    int partitions = 15;
    int range = 32;
    int threads = 0;        // slice threads at most; 0: one per processor
    bool progress = false;  // a progress line on stderr about once a second
};

struct EncodeReport {
    int64_t pictures = 0;
    int64_t bytes = 0;
    double seconds = 0;  // coding time, reading and writing included
    // The picture types in display order ('I', 'P', 'B'), and the display numbers in
    // coding order.
    std::string types;
    std::vector<int64_t> codingOrder;
};

// The settings refused before anything is allocated, in words naming the setting (empty
// when they are taken): a size below 16x16 or beyond the largest level, values out of
// range, and profile requests the stream cannot honour (CABAC outside Main, B pictures in
// Baseline). width and height are the source's (odd sizes are padded, so taken).
std::string RefuseSettings(const EncodeOptions& options, int width, int height, int fps100);

// Reads ombrisk_enc's command line (options, then input, output and an optional
// reconstruction file) into *options. Returns the number of file names, or -1 with the
// refusal in words in *error: an unknown option, a value missing or not a whole number, or
// a switch (-d, -m) given anything but 0 or 1. Baseline's default is no B pictures.
int ParseEncodeArguments(int argc, const char* const* argv, EncodeOptions* options, std::string* error);

// RunEncode's result when the input ended inside a picture: the whole pictures before it
// are coded and written.
constexpr int kEncodeTruncatedInput = 3;

// Returns 0 on success, kEncodeTruncatedInput for a truncated input, 1 for any other
// failure; a message in *error unless 0.
int RunEncode(const EncodeOptions& options, EncodeReport* report, std::string* error);

}  // namespace ombrisk_tools
