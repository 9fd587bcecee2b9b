// The batch capture's records and their arithmetic, free of the window system: the clip
// record of one tape segment, the quick-scan sample the DV engine reports, the segment record
// the engine takes, time codes and durations at a frame rate, the joining of neighbouring
// segments and the pruning of a finished scan.
//
// Time codes are packed as hours in bits 24-31, minutes 16-23, seconds 8-15, frames 0-7.
// Tape stamps are the recording date and time of a frame, 48 bits: year (two digits), month,
// day, hours, minutes, seconds from the most significant byte down. Times are 100-ns units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace batchcap {

inline constexpr int64_t kUnitsPerSecond = 10000000;

struct BatchClipInfo {
    uint8_t scanEnded = 0;
    int64_t inTime = 0, outTime = 0;  // the segment's place in the quick-scan file
    uint32_t inTimecode = 0, outTimecode = 0;
    uint64_t startStamp = 0, endStamp = 0;
    uint8_t frameFlags = 0;  // bit 0 start frame unknown, bit 1 end frame unknown
    std::string sourcePath;
    uint32_t scanValue = 0;
};

inline constexpr uint8_t kStartFrameUnknown = 1, kEndFrameUnknown = 2;

constexpr uint32_t PackTimecode(int hours, int minutes, int seconds, int frames) {
    return uint32_t(hours & 0xFF) << 24 | uint32_t(minutes & 0xFF) << 16 | uint32_t(seconds & 0xFF) << 8 |
           uint32_t(frames & 0xFF);
}
constexpr int TcHours(uint32_t tc) {
    return int(tc >> 24);
}
constexpr int TcMinutes(uint32_t tc) {
    return int(tc >> 16 & 0xFF);
}
constexpr int TcSeconds(uint32_t tc) {
    return int(tc >> 8 & 0xFF);
}
constexpr int TcFrames(uint32_t tc) {
    return int(tc & 0xFF);
}
// The time code's whole seconds from 00:00:00:00.
constexpr int64_t TcWholeSeconds(uint32_t tc) {
    return int64_t(TcHours(tc)) * 3600 + TcMinutes(tc) * 60 + TcSeconds(tc);
}
// Whether each field lies within a day at 30 frames a second at most.
bool TimecodeValid(uint32_t tc);

// `frames` frames at `rate` frames a second, in 100-ns units.
int64_t FramesToTime(int64_t frames, float rate);
// The time from 00:00:00:00 to `tc`.
int64_t TimecodeToTime(uint32_t tc, float rate);
// From the in to the out time code: whole seconds apart, less the in frames, plus the out
// frames. Negative when the out lies before the in.
int64_t ClipDuration(const BatchClipInfo& clip, float rate);
// "hh:mm:ss:ff" of a 100-ns time at `rate` (frames from the remainder).
std::string TimeText(int64_t time, float rate);
// A recording stamp as the list's tool tip shows it: "Date: dd:mm:yyyy\n Time: hh:mm:ss", the
// two-digit year read as 2000 + year below 90 and 1900 + year from 90 on.
std::string StampText(uint64_t stamp);
// A time code without its frames, "hh:mm:ss".
std::string TimecodeSecondsText(uint32_t tc);

// The 32-byte sample of the engine's quick scan.
struct ScanSample {
    uint32_t timecode = 0;  // packed
    uint64_t stamp = 0;
    int64_t mediaTime = 0;
    bool queued = false;
    bool start = false;
    uint32_t scanValue = 0;
};
inline constexpr size_t kScanSampleBytes = 32;
ScanSample ParseScanSample(const uint8_t* bytes);

// Fills a segment record (`recordBytes` long, zeroed here) for the engine: the segment's time
// codes (frames 255 where unknown) and stamps, the scan value, and the capture block's batch
// area after the 72-byte header.
void BuildSegmentRecord(const BatchClipInfo& clip, uint32_t nonRealtime, const uint8_t* batchArea, size_t areaBytes,
                        uint8_t* record, size_t recordBytes);

// One list entry as the join rules see it.
struct JoinItem {
    bool checked = false;
    bool selected = false;
    const BatchClipInfo* clip = nullptr;
};
// The runs to join, each two or more indices in order, the first taking the others' ends.
// Mode 0: neighbouring checked entries whose in time code (whole seconds) is not before the
// previous out; mode 1: the same over the selected entries, from the first selected; mode 2:
// neighbours whose end and start stamps lie on one day less than `limit` apart.
std::vector<std::vector<size_t>> JoinRuns(const std::vector<JoinItem>& items, int mode, int64_t limit);
// `into` takes the end of `from`.
void JoinInto(BatchClipInfo* into, const BatchClipInfo& from);

// Whether a segment of a finished scan is dropped: its start is not before its end, its end
// stamp is not after its start stamp (when both frames carry one), or it is shorter than
// 4 seconds (whole seconds compared).
bool PruneSegment(const BatchClipInfo& clip);

// The first of `path`, "name(0).ext", "name(1).ext", ... for which `exists` is false; empty
// when none is free within a bound.
std::string MakeUniqueName(const std::string& path, const std::function<bool(const std::string&)>& exists);

}  // namespace batchcap
