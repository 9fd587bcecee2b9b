#include "editor/core/silent_frames.h"

#include "editor/core/bytes.h"

namespace editor {
namespace {
#include "editor/core/silent_frames_data.inc"

}  // namespace

const SilentFrame kSilentAc3Frames[4] = {
    {kSilentAc3_384, sizeof kSilentAc3_384},
    {kSilentAc3_256, sizeof kSilentAc3_256},
    {kSilentAc3_192, sizeof kSilentAc3_192},
    {kSilentAc3_128, sizeof kSilentAc3_128},
};

const SilentFrame kSilentMpegAudioFrames[4] = {
    {kSilentMp2_B00C, sizeof kSilentMp2_B00C},
    {kSilentMp2_B40C, sizeof kSilentMp2_B40C},
    {kSilentMp2_C400, sizeof kSilentMp2_C400},
    {kSilentMp2_C20C, sizeof kSilentMp2_C20C},
};

const uint8_t* FindSilentAc3Frame(uint32_t header, uint8_t fifth, size_t* length) {
    for (const SilentFrame& f : kSilentAc3Frames) {
        if ((LowFirst32(f.data) & 0xFFFF) == (header & 0xFFFF) && f.data[4] == fifth) {
            if (length) *length = f.length;
            return f.data;
        }
    }
    if (length) *length = 0;
    return nullptr;
}

const uint8_t* FindSilentMpegAudioFrame(uint32_t header, size_t* length) {
    constexpr uint32_t kMask = 0xF0FCFFFF;
    for (const SilentFrame& f : kSilentMpegAudioFrames) {
        if ((LowFirst32(f.data) & kMask) == (header & kMask)) {
            if (length) *length = f.length;
            return f.data;
        }
    }
    if (length) *length = 0;
    return nullptr;
}

}  // namespace editor
