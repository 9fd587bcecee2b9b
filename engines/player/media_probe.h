// What the clip player learns of a media file before it plays it: the kind of media, its
// container class, frame size, frame rate, duration, video bit rate and file size. AVI
// files are read from their RIFF headers, MPEG-1/2 program streams (plain or in a CD-XA
// RIFF) from their sequence header and their first and last time stamps. Platform-free;
// every read is bounded.
#pragma once

#include <cstdint>
#include <string>

#include "app/profiles/profile_record.h"

namespace engines {

struct MediaFacts {
    uint32_t kind = 0;         // 1 video (with or without audio), 3 audio only
    uint32_t formatClass = 0;  // profiles::VideoFormatClass; kClassDv for DV video in AVI
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
