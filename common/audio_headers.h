// Readers of the audio frame headers the cores meet in elementary and program streams:
// MPEG audio (ISO/IEC 11172-3, ISO/IEC 13818-3 low sampling frequencies and the 2.5
// extension), AC-3 (ATSC A/52 syncinfo and the start of bsi) and ADTS (ISO/IEC 13818-7).
// Each reads only the bytes of `bytes` and answers false for a short span, a missing sync
// word or a reserved value; the decoded fields are written only on success.
#pragma once

#include <cstdint>
#include <span>

namespace common {

struct MpegAudioFrameHeader {
    int version = 0;             // 1 MPEG-1, 2 MPEG-2 LSF, 25 MPEG-2.5
    int layer = 0;               // 1..3
    int32_t bit_rate = 0;        // bits per second
    int32_t sample_rate = 0;     // Hz
    int32_t samples = 0;         // per channel: 384 Layer I, 1152 Layer II and MPEG-1 III, 576 LSF III
    int32_t frame_bytes = 0;     // padding slot included
    int32_t unpadded_bytes = 0;  // frame_bytes without the padding slot
    bool protection = false;     // protection_bit 0: a CRC follows the header
    bool padding = false;
    bool private_bit = false;
    int mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int mode_extension = 0;
    bool copyright = false;
    bool original = false;
    int emphasis = 0;
    int channels = 0;
};
// The four header bytes in stream order; free-format (bit-rate index 0) is refused.
bool ReadMpegAudioHeader(std::span<const uint8_t> bytes, MpegAudioFrameHeader* out);

// The bytes needed by ReadAc3Header: syncinfo (5) and bsid.
constexpr size_t kAc3HeaderBytes = 6;
struct Ac3FrameHeader {
    int fscod = 0;
    int frmsizecod = 0;
    int bsid = 0;
    int32_t kbps = 0;
    int32_t sample_rate = 0;  // Hz
    int32_t frame_bytes = 0;  // the whole syncframe
    int32_t samples = 1536;   // six audio blocks of 256
};
// Refuses bsid above 10: those are Enhanced AC-3 frames, whose size is not in this table.
bool ReadAc3Header(std::span<const uint8_t> bytes, Ac3FrameHeader* out);

// The bytes needed by ReadAdtsHeader: the fixed and variable header without the CRC.
constexpr size_t kAdtsHeaderBytes = 7;
struct AdtsFrameHeader {
    bool protection = false;  // protection_absent 0: a CRC follows the header
    int header_bytes = 0;     // 7, or 9 with the CRC
    int profile = 0;
    int sampling_frequency_index = 0;
    int channel_configuration = 0;
    int32_t sample_rate = 0;  // Hz
    int32_t frame_bytes = 0;  // aac_frame_length: header included
    int32_t samples = 0;      // 1024 per raw data block
};
bool ReadAdtsHeader(std::span<const uint8_t> bytes, AdtsFrameHeader* out);

}  // namespace common
