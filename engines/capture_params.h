// The capture parameter block: what the DV capture page hands the DV capture engine
// (SetEncoderType) and what the batch capture dialog copies into every segment record.
// It is exchanged as bytes between the application and the engine, so its layout is fixed
// here once, for both sides, and pinned by static_assert; platform-free.
//
// Layout (byte offsets):
//   0     encoder type: 0 plain DV or AVI, 8 H.264, else the MPEG capture kind
//   4     the encoding settings: DV, MPEG values or the H.264 blocks (a union), 272 bytes
//   276   reserved, zero
//   280   the batch area, copied whole into every segment record:
//         280 reserved word, zero; 284 the capture file name
//   1324  the output path of a recording
//   2364  end
// Both text fields are NUL-terminated and hold a folder of up to 1,024 bytes plus a
// file name.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engines {

inline constexpr size_t kCaptureTextBytes = 1040;

enum CaptureEncoderType : uint32_t {
    kEncoderDv = 0,
    kEncoderMpeg1 = 1,
    kEncoderMpeg2 = 2,
    kEncoderVcd = 3,
    kEncoderSvcd = 6,
    kEncoderDvd = 7,
    kEncoderH264 = 8,
};

// The MPEG kinds' values, in the order the capture page writes them from the profile.
struct MpegCaptureSettings {
    uint32_t streamSelection;     // 0 video and audio, 1 video only, 2 audio only
    uint32_t videoValues[4];      // profile MPEG video entries 4, 5, 0, 3
    uint32_t rateValue;           // VCD/SVCD/DVD: entry 6; others: the frame rate's float bits
    char text[64];                // entry 7
    uint32_t moreVideoValues[8];  // entries 8, 9, 10, 11, 12, 1, 2, 16
    uint32_t audioValues[3];
    uint32_t samplingRate;  // Hz
    uint32_t sampleBits;
    uint32_t audioBitRate;        // bits per second
    uint32_t moreAudioValues[3];  // audio entries 8, 9, 10
};

struct H264CaptureSettings {
    uint32_t video[18];  // the profile's H.264 video block, frame size as captured
    uint32_t audio[14];  // the profile's H.264 audio block
};

// Plain DV (encoder type 0): the DV profile's four values.
struct DvCaptureSettings {
    uint32_t videoFormat;  // 2000 for 29.97 frames a second, 2001 for 25
    uint32_t audioFormat;  // sampling rate, Hz
    uint32_t channels;
    uint32_t fileFormat;  // 1 (or 0): type-1 DV AVI; 2: type-2
};

struct CaptureParams {
    uint32_t encoderType;
    union {
        DvCaptureSettings dv;
        MpegCaptureSettings mpeg;
        H264CaptureSettings h264;
        uint8_t settingsBytes[272];
    };
    uint32_t reserved0;
    // The batch area: from here to `outputPath` is copied into each segment record.
    uint32_t batchReserved;
    char captureFileName[kCaptureTextBytes];
    char outputPath[kCaptureTextBytes];
};

inline constexpr size_t kBatchAreaOffset = 280;
inline constexpr size_t kBatchAreaBytes = 1324 - kBatchAreaOffset;
// A batch segment record: 72 bytes of segment facts, then the batch area.
inline constexpr size_t kSegmentHeaderBytes = 72;
inline constexpr size_t kSegmentRecordBytes = kSegmentHeaderBytes + kBatchAreaBytes;

static_assert(sizeof(MpegCaptureSettings) == 156);
static_assert(sizeof(H264CaptureSettings) == 128);
static_assert(offsetof(CaptureParams, encoderType) == 0);
static_assert(offsetof(CaptureParams, mpeg) == 4 && offsetof(CaptureParams, h264) == 4);
static_assert(offsetof(CaptureParams, dv) == 4 && sizeof(DvCaptureSettings) == 16);
static_assert(offsetof(MpegCaptureSettings, text) == 24 && offsetof(MpegCaptureSettings, samplingRate) == 132);
static_assert(offsetof(CaptureParams, reserved0) == 276);
static_assert(offsetof(CaptureParams, batchReserved) == kBatchAreaOffset);
static_assert(offsetof(CaptureParams, captureFileName) == 284);
static_assert(offsetof(CaptureParams, outputPath) == kBatchAreaOffset + kBatchAreaBytes);
static_assert(sizeof(CaptureParams) == 2364 && sizeof(CaptureParams) >= 832);
static_assert(kSegmentRecordBytes == 1116);

}  // namespace engines
