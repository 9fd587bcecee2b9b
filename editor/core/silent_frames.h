// Stored frames of digital silence, for audio a clip does not supply: four AC-3
// syncframes (48 kHz, two channels) and four MPEG-1 Layer II frames, each complete and
// decodable on its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace editor {

// The stored AC-3 frame whose sync word equals the two lowest bytes of `header` (the
// first four header bytes with the first byte lowest) and whose fifth byte (fscod and
// frmsizecod) equals `fifth`; nullptr and *length 0 when none matches.
const uint8_t* FindSilentAc3Frame(uint32_t header, uint8_t fifth, size_t* length);

// The first stored Layer II frame whose header agrees with `header` (first byte lowest)
// under the mask 0xF0FCFFFF: sync, ID, layer, protection, bit rate, sampling frequency,
// mode and mode extension must agree; padding, private, copyright, original and emphasis
// are ignored. nullptr and *length 0 when none matches.
const uint8_t* FindSilentMpegAudioFrame(uint32_t header, size_t* length);

// The stored frames in lookup order, for tests and tools.
struct SilentFrame {
    const uint8_t* data;
    size_t length;
};
extern const SilentFrame kSilentAc3Frames[4];
extern const SilentFrame kSilentMpegAudioFrames[4];

}  // namespace editor
