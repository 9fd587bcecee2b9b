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
    // The first audio stream's format; all 0 when the file has none or it is not recognised.
    uint32_t audioFormatTag = 0;   // wave format tag: 1 PCM, 0x50 MPEG layer I/II, 0x55 layer III, 0x2000 AC-3
    uint32_t audioSampleRate = 0;  // Hz
    uint32_t audioChannels = 0;
    uint32_t audioBits = 0;         // bits per sample; 0 for compressed sound
    uint32_t audioBitRate = 0;      // bits per second
    uint32_t audioChannelMode = 0;  // 0 mono, 1 stereo, 2 dual channel, 3 joint stereo
};

enum class ProbeResult { kOk, kCannotOpen, kUnknownFormat, kDamaged };

ProbeResult ProbeMedia(const std::string& path, MediaFacts* facts);

}  // namespace engines
