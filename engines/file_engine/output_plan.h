// What a profile record asks of a conversion, in the terms of the encoders and
// multiplexers that carry it out: one plan per record, made before anything is written.
// Platform-free.
#pragma once

#include <cstdint>
#include <string>

#include "app/profiles/profile_record.h"

namespace fileengine {

enum class Container {
    kMpeg1System,  // ISO/IEC 11172-1
    kVcd,          // MPEG-1 system stream of 2,324-byte packs, as Video CD authoring tools take it
    kMpeg2Ps,      // ISO/IEC 13818-1 program stream
    kSvcd,         // program stream of 2,324-byte packs
    kDvd,          // program stream of 2,048-byte packs with navigation packets
    kDvAvi,        // AVI of DV frames (type 2) or one interleaved DV stream (type 1)
    kAvi,
    kQuickTime,
    kAsf,
    kH264Ts,  // our H.264 encoder and transport-stream multiplexer
};

enum class VideoCodec { kMpeg1, kMpeg2, kMpeg4, kDv, kRpza, kWmv2, kH264 };
enum class AudioCodec { kNone, kMp2, kAc3, kMp3, kPcmS16Le, kPcmS16Be, kWmav2 };

struct VideoPlan {
    VideoCodec codec = VideoCodec::kMpeg2;
    int width = 0, height = 0;  // 0: the source's
    int rateNum = 25, rateDen = 1;
    bool rateFromSource = false;  // the record names no rate: the first clip's
    int64_t bitRate = 0;          // bits per second; 0: constant quality
    int64_t minRate = 0, maxRate = 0;
    int64_t bufferBits = 0;  // video buffering verifier, bits
    int gopSize = 12;
    int bFrames = 2;
    bool interlaced = false;
    bool topFieldFirst = true;
    uint32_t codecTag = 0;  // four-character code written into AVI, 0: the muxer's
    int quality = 0;        // constant quality scale (1 best .. 31), when bitRate is 0
    // H.264 only: the encoder core's settings from the class-12 block.
    int rateControlMode = 0, cbrQuality = 0, entropyCoding = 0, deblock = 1, motionSearch = 1, subPixel = 2,
        searchRange = 32;
};

struct AudioPlan {
    AudioCodec codec = AudioCodec::kNone;
    int sampleRate = 48000;
    int channels = 2;
    int64_t bitRate = 0;  // bits per second; 0 for PCM
};

struct OutputPlan {
    Container container = Container::kMpeg2Ps;
    VideoPlan video;
    AudioPlan audio;
    int dvFileType = 2;   // DV AVI type 1 or 2
    int64_t muxRate = 0;  // bits per second, 0: the muxer's own
    int packetSize = 0;   // bytes, 0: the muxer's own
    int preloadUs = 0;    // first time stamp's distance from the stream start, microseconds
};

// Builds the plan of `record`. False with the text the user is shown when the record
// cannot be carried out (a class with no encoder, values out of range).
bool MakeOutputPlan(const profiles::ProfileRecord& record, OutputPlan* plan, std::string* refusal);

// The refusal of a Real profile: no encoder of that format exists on any platform we run on.
extern const char kRealRefusal[];

// The audio of a profile's audio block: MPEG audio layer II, or AC-3 for encoder type 3;
// `fallbackRate` where the block's rate code is not one of 1 (48 kHz), 2 (44.1 kHz) and
// 4 (32 kHz). False with a message when the bit rate is beyond the codec's.
bool AudioPlanOfStreamBlock(const profiles::ProfileAudioFormat& audio, int fallbackRate, AudioPlan* plan,
                            std::string* refusal);

// A frame rate given as a float in a record (29.97, 25.0, 23.976) as the exact rational of
// the television rates where it is one of them.
void RationalFrameRate(double rate, int* num, int* den);

}  // namespace fileengine
