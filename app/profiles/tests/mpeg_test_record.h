// An MPEG profile record as the profile store hands it to a page or an engine: the class, the
// picture's size and rates, a 13-picture IBBP pattern at 25 fps and stereo Layer II sound at
// 48 kHz, 256 kbit/s. For tests of the conversion engine and of the pages that drive it.
#pragma once

#include <cstring>
#include <memory>

#include "app/profiles/profile_record.h"

namespace profiles::testing {

inline std::unique_ptr<ProfileRecord> MpegTestRecord(int32_t formatClass, int32_t bitRate, int32_t maxBitRate,
                                                     int32_t width, int32_t height) {
    auto r = std::make_unique<ProfileRecord>();
    std::memset(r.get(), 0, sizeof *r);
    AllocMpegParams(*r);
    r->head.videoFormatClass = formatClass;
    MpegBlock& b = r->block.mpeg;
    FindMpegParam(b, kParamVideoBitRate)->value.i = bitRate;
    FindMpegParam(b, kParamMaxBitRate)->value.i = maxBitRate;
    FindMpegParam(b, kParamWidth)->value.i = width;
    FindMpegParam(b, kParamHeight)->value.i = height;
    FindMpegParam(b, kParamFrameRate)->value.f = 25.0f;
    CopyText(FindMpegParam(b, kParamPattern)->value.text, "IBBPBBPBBPBBP", 13);
    b.streams[0].audio.encoderType = 2;  // MPEG audio
    b.streams[0].audio.channels = 2;
    b.streams[0].audio.samplesPerSecCode = 1;  // 48 kHz
    b.streams[0].audio.bitRate = 2048;
    b.streams[0].audio.layer = 2;
    return r;
}

}  // namespace profiles::testing
