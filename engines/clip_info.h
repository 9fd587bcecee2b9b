// The clip information record (the 128-byte media block): what a clip player's probe
// getters (named beside each field) report about a media file, in the order the clip query
// fills it. A segment's entry sets the duration, inLength and outLength to its length. It is stored in
// file lists and handed to the conversion engine as bytes, so its layout is pinned;
// platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engines {

enum ClipMediaKind : uint32_t {
    kClipVideo = 1,  // video, possibly with audio
    kClipStill = 2,  // a picture: no playback
    kClipAudio = 3,  // audio only
};

struct ClipInfo {
    uint32_t mediaKind;         // GetMediaInfo
    uint32_t formatClass;       // GetFormatClass
    uint32_t value25;           // GetProperty25
    uint32_t width;             // GetProperty14
    uint32_t height;            // GetProperty13
    uint32_t unused20;          // never written by the query
    int64_t fileBytes;          // GetProperty21
    int64_t duration;           // GetDuration, 100-ns units
    int64_t inLength;           // GetProperty17, 100-ns units: the player's whole clip
    int64_t outLength;          // GetProperty18, 100-ns units: the player's whole clip
    uint32_t videoBitRate;      // GetProperty19, bits per second
    uint32_t value20;           // GetProperty20
    float frameRate;            // GetProperty31
    uint32_t value32;           // GetProperty32, kept only when 1 or 2
    uint32_t value33;           // GetProperty33
    uint32_t value35[2];        // GetProperty35
    uint32_t value38;           // GetProperty38's return value
    uint32_t value27;           // GetProperty27
    uint32_t audioChannelMode;  // GetProperty28
    uint32_t audioBitRate;      // GetProperty29, bits per second
    uint32_t value30;           // GetProperty30
    uint32_t value26;           // GetProperty26; upper 16 bits: the channel mode of audio files
    uint32_t audioSampleRate;   // Hz, filled by the file list
    uint32_t audioBytesPerSecond;
    uint32_t reserved[3];
};

static_assert(sizeof(ClipInfo) == 128);
static_assert(offsetof(ClipInfo, fileBytes) == 24 && offsetof(ClipInfo, duration) == 32);
static_assert(offsetof(ClipInfo, videoBitRate) == 56 && offsetof(ClipInfo, frameRate) == 64);
static_assert(offsetof(ClipInfo, value35) == 76 && offsetof(ClipInfo, value38) == 84);
static_assert(offsetof(ClipInfo, value26) == 104 && offsetof(ClipInfo, audioSampleRate) == 108);

}  // namespace engines

namespace engines {

// One segment of a program stream (the 128-byte segment record): a run of the stream whose
// time stamps continue without a jump. Times are 100-ns units on the clip player's time
// line, where the segments follow one another; -1 marks a time the segment lacks (no
// audio, say).
struct SegmentRecord {
    uint32_t index;  // from 0
    uint32_t reserved4;
    int64_t firstByte;  // file offset of the segment's first packet
    int64_t endByte;    // file offset just past its last packet
    uint32_t reserved24[4];
    int64_t videoStart;     // byte 40
    int64_t videoEnd;       // byte 48: the last picture's end
    int64_t audioStart;     // byte 56
    int64_t audioEnd;       // byte 64: the last audio packet's time stamp
    int64_t timelineEnd;    // byte 72: where the next segment starts on the time line
    uint32_t formatClass;   // byte 80
    uint32_t width;         // byte 84
    uint32_t height;        // byte 88
    uint32_t videoBitRate;  // byte 92, bits per second (0 unknown)
    float frameRate;        // byte 96
    uint32_t reserved100[7];
};

static_assert(sizeof(SegmentRecord) == 128);
static_assert(offsetof(SegmentRecord, videoStart) == 40 && offsetof(SegmentRecord, audioEnd) == 64);
static_assert(offsetof(SegmentRecord, timelineEnd) == 72 && offsetof(SegmentRecord, width) == 84);
static_assert(offsetof(SegmentRecord, height) == 88 && offsetof(SegmentRecord, videoBitRate) == 92);

}  // namespace engines
