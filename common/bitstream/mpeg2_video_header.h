// Reader of the MPEG-1/2 video sequence header (ISO/IEC 11172-2 2.4.2.3, ISO/IEC 13818-2
// 6.2.2.1) and of the MPEG-2 sequence_extension (13818-2 6.2.2.3) that follows it. Each
// reads only the bytes it is given and answers false when they are too few or do not begin
// with the right start code; the output is written only on success. Field values are
// reported as coded; judging them (a forbidden frame_rate_code, say) is the caller's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace common {

inline constexpr uint8_t kMpegPictureStartCode = 0x00;
inline constexpr uint8_t kMpegUserDataStartCode = 0xB2;
inline constexpr uint8_t kMpegSequenceHeaderCode = 0xB3;
inline constexpr uint8_t kMpegExtensionStartCode = 0xB5;
inline constexpr uint8_t kMpegSequenceEndCode = 0xB7;
inline constexpr uint8_t kMpegGroupStartCode = 0xB8;
inline constexpr int kMpegSequenceExtensionId = 1;
// Bytes of a sequence header without quantiser matrices, and of a sequence_extension, both
// from the first byte of their start code.
inline constexpr size_t kMpegSequenceHeaderBytes = 12;
inline constexpr size_t kMpegSequenceExtensionBytes = 10;

// True when bytes p[0..3] are the start code 00 00 01 `code`; p must hold 4 bytes.
inline bool IsMpegStartCode(const uint8_t* p, uint8_t code) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == code;
}

struct MpegSequenceHeader {
    // The 12-bit values, widened by the extension's two high bits when there is one.
    uint32_t horizontalSize = 0;
    uint32_t verticalSize = 0;
    uint8_t aspectRatioInformation = 0;
    uint8_t frameRateCode = 0;
    uint32_t bitRateValue = 0;        // units of 400 bit/s; with bit_rate_extension as its high 12 bits
    uint32_t vbvBufferSizeValue = 0;  // units of 16384 bits; with vbv_buffer_size_extension
    bool markerBit = false;           // must be 1
    bool constrainedParametersFlag = false;
    bool loadIntraQuantiserMatrix = false;
    bool loadNonIntraQuantiserMatrix = false;
    std::array<uint8_t, 64> intraQuantiserMatrix{};  // in the coded (zigzag) order
    std::array<uint8_t, 64> nonIntraQuantiserMatrix{};
    size_t headerBytes = 0;  // 12, 76 or 140: the sequence header from its start code

    bool hasExtension = false;
    uint8_t profileAndLevelIndication = 0;
    bool progressiveSequence = false;
    uint8_t chromaFormat = 0;  // 1 4:2:0, 2 4:2:2, 3 4:4:4
    bool lowDelay = false;
    uint8_t frameRateExtensionN = 0;
    uint8_t frameRateExtensionD = 0;

    uint64_t BitRate() const { return uint64_t{bitRateValue} * 400; }  // bit/s
    // Frames per second as num / den (Table 6-4, scaled by the extension's (n + 1) / (d + 1));
    // false for the forbidden and reserved codes.
    bool FrameRate(uint32_t* num, uint32_t* den) const;
};

// frame_rate_code to frames per second as num / den (ISO/IEC 13818-2 Table 6-4); false for
// code 0 (forbidden) and 9..15 (reserved).
bool MpegFrameRate(int frameRateCode, uint32_t* num, uint32_t* den);

// The sequence header that begins at bytes[0] (00 00 01 B3 first), its quantiser matrices
// included.
bool ReadMpegSequenceHeader(std::span<const uint8_t> bytes, MpegSequenceHeader* out);
// The sequence header's fixed fields at bytes[0] from its first 12 bytes alone: the
// quantiser matrices are not read and both load flags are reported clear (for readers that
// need sizes, rates and buffer sizes only).
bool ReadMpegSequenceHeaderFields(std::span<const uint8_t> bytes, MpegSequenceHeader* out);
// A sequence_extension at bytes[0] (00 00 01 B5, extension_start_code_identifier 1): merged
// into `header`, which holds the sequence header it extends.
bool ReadMpegSequenceExtension(std::span<const uint8_t> bytes, MpegSequenceHeader* header);
// The sequence header at bytes[0] and, when the next start code after it within `bytes` is
// a whole sequence_extension, that too (MPEG-2); hasExtension says which.
bool ReadMpegVideoSequence(std::span<const uint8_t> bytes, MpegSequenceHeader* out);

// group_of_pictures_header (13818-2 6.2.2.6) at bytes[0], 00 00 01 B8 first: 8 bytes.
struct MpegGopHeader {
    uint32_t timeCode = 0;  // 25 bits
    bool closedGop = false;
    bool brokenLink = false;
};
inline constexpr size_t kMpegGopHeaderBytes = 8;
bool ReadMpegGopHeader(std::span<const uint8_t> bytes, MpegGopHeader* out);

// The first fields of picture_header (13818-2 6.2.3) at bytes[0], 00 00 01 00 first: the
// 6 bytes through picture_coding_type.
struct MpegPictureHeader {
    uint16_t temporalReference = 0;  // 10 bits
    uint8_t pictureCodingType = 0;   // 1 I, 2 P, 3 B (4 D in MPEG-1)
};
inline constexpr size_t kMpegPictureHeaderBytes = 6;
bool ReadMpegPictureHeader(std::span<const uint8_t> bytes, MpegPictureHeader* out);

// The fixed-position fields of the headers above that a writer may set in place, each with
// its header, position and width (13818-2 6.2.2.1, 6.2.2.3, 6.2.2.6, 6.2.3).
enum class MpegHeaderField : uint8_t {
    // sequence_header
    kHorizontalSizeValue,
    kVerticalSizeValue,
    kAspectRatioInformation,
    kFrameRateCode,
    kBitRateValue,
    kVbvBufferSizeValue,
    kConstrainedParametersFlag,
    // sequence_extension
    kProfileAndLevelIndication,
    kProgressiveSequence,
    kChromaFormat,
    kLowDelay,
    kFrameRateExtensionN,
    kFrameRateExtensionD,
    // group_of_pictures_header
    kTimeCode,
    kClosedGop,
    kBrokenLink,
    // picture_header
    kTemporalReference,
    kPictureCodingType,
};

// Writes `value` into `field` of the header that begins at bytes[0] (its start code first;
// for an extension field, a sequence_extension), leaving every other bit as it was. False,
// with nothing written, when the bytes are too few for the header's fixed part, the start
// code or extension identifier is not the field's, or the value does not fit the field.
bool WriteMpegHeaderField(std::span<uint8_t> bytes, MpegHeaderField field, uint32_t value);

}  // namespace common
