// Decodes an H.264 byte stream with the decoder core into cropped yuv420p frames in
// output order, for the `avcdec` driver, tests and benchmarks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tools {

struct DecodedFrame {
    int32_t width, height;            // after cropping
    int32_t decodeIndex;              // position in decoding order
    int32_t damage;                   // non-zero: the core could not decode the picture correctly
    const std::vector<uint8_t>* yuv;  // width * height luma bytes, then Cb, then Cr; null
                                      // when the caller asked for no copy
};

struct DecodeSummary {
    int32_t frames = 0;
    int32_t damagedFrames = 0;
    int32_t damagedSlices = 0;      // slices whose data the core could not read
    std::string refusal;            // the core's last refusal reason, empty when none
    int32_t refusedProfileIdc = 0;  // profile_idc of a sequence parameter set refused for it
};

// Why a decode yielded no picture, for the user: the refused profile by name, else the
// core's reason, else that no slice was found.
std::string NothingDecodedReason(const DecodeSummary& summary);

// Calls onFrame for every picture the core outputs. The byte stream is pushed in chunks of
// chunkSize bytes (0: all at once). With copyFrames false the pictures are not copied out
// (frame.yuv is null): for timing the core alone, as `ffmpeg -f null` times its decoder.
// threads: 2 with the core's deblocking worker, 1 on the calling thread alone.
DecodeSummary DecodeByteStream(const std::vector<uint8_t>& stream, size_t chunkSize,
                               const std::function<void(const DecodedFrame&)>& onFrame, bool copyFrames = true,
                               int threads = 2);

}  // namespace tools
