// What the clip player learns of a media file before it plays it: the kind of media, its
// container class, frame size, frame rate, duration, video bit rate and file size. AVI
// files are read from their RIFF headers, MPEG-1/2 program streams (plain or in a CD-XA
// RIFF) from their sequence header and their first and last time stamps. Platform-free;
// every read is bounded.
#pragma once

#include <cstdint>
#include <string>

namespace engines {

// Container classes, numbered as the encoding profiles number their formats.
enum MediaFormatClass : uint32_t {
    kFormatUnknown = 0,
    kFormatAvi = 1,
    kFormatDv = 2,  // DV video in AVI
    kFormatMpeg1 = 3,
    kFormatMpeg2 = 4,
    kFormatVcd = 5,
    kFormatSvcd = 6,
};

struct MediaFacts {
    uint32_t kind = 0;  // 1 video (with or without audio), 3 audio only
    uint32_t formatClass = kFormatUnknown;
    uint32_t width = 0;
    uint32_t height = 0;
    float frameRate = 0;
    int64_t duration = 0;       // 100-ns units
    uint32_t videoBitRate = 0;  // bits per second, 0 when unknown
    int64_t fileBytes = 0;
};

enum class ProbeResult { kOk, kCannotOpen, kUnknownFormat, kDamaged };

ProbeResult ProbeMedia(const std::string& path, MediaFacts* facts);

}  // namespace engines
