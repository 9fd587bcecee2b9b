// Readers of the audio frame headers the cores meet in elementary and program streams:
// MPEG audio (ISO/IEC 11172-3, ISO/IEC 13818-3 low sampling frequencies and the 2.5
// extension), AC-3 (ATSC A/52 syncinfo and the start of bsi) and ADTS (ISO/IEC 13818-7).
// Each reads only the bytes of `bytes` and answers false for a short span, a missing sync
// word or a reserved value; the decoded fields are written only on success. Fields named
// as in the standards hold the syntax element as coded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace common {

// What every format's header tells of its frame.
struct AudioFrameFacts {
    int32_t sampleRate = 0;  // Hz
    int32_t frameBytes = 0;  // the whole frame, header and padding included
    int32_t samples = 0;     // per channel
};

struct MpegAudioFrameHeader : AudioFrameFacts {
    int version = 0;            // 1 MPEG-1, 2 MPEG-2 LSF, 25 MPEG-2.5
    int layer = 0;              // 1..3
    int32_t bitRate = 0;        // bits per second
    int32_t unpaddedBytes = 0;  // frameBytes without the padding slot
    // samples: 384 Layer I, 1152 Layer II and MPEG-1 Layer III, 576 LSF Layer III
    bool protection = false;  // protection_bit 0: a CRC follows the header
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
struct Ac3FrameHeader : AudioFrameFacts {
    int fscod = 0;
    int frmsizecod = 0;
    int bsid = 0;
    int32_t kbps = 0;
    // samples: 1536, six audio blocks of 256
};
// Refuses bsid above 10: those are Enhanced AC-3 frames, whose size is not in this table.
bool ReadAc3Header(std::span<const uint8_t> bytes, Ac3FrameHeader* out);

// The bytes needed by ReadAdtsHeader: the fixed and variable header without the CRC.
constexpr size_t kAdtsHeaderBytes = 7;
struct AdtsFrameHeader : AudioFrameFacts {
    bool protection = false;  // protection_absent 0: a CRC follows the header
    int headerBytes = 0;      // 7, or 9 with the CRC
    int profile = 0;
    int sampling_frequency_index = 0;
    int channel_configuration = 0;
    // frameBytes: aac_frame_length; samples: 1024 per raw data block
};
bool ReadAdtsHeader(std::span<const uint8_t> bytes, AdtsFrameHeader* out);

// The three formats, for callers that need only the facts common to all.
enum class AudioFormat { Mpeg, Ac3, Adts };
// The bytes ReadAudioFrameFacts needs of a format.
constexpr size_t AudioHeaderBytes(AudioFormat format) {
    return format == AudioFormat::Ac3 ? kAc3HeaderBytes : format == AudioFormat::Adts ? kAdtsHeaderBytes : 4;
}
bool ReadAudioFrameFacts(AudioFormat format, std::span<const uint8_t> bytes, AudioFrameFacts* out);

}  // namespace common
