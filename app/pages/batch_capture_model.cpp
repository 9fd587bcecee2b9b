#include "app/pages/batch_capture_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engines/capture_params.h"

namespace batchcap {

bool TimecodeValid(uint32_t tc) {
    return TcHours(tc) < 24 && TcMinutes(tc) < 60 && TcSeconds(tc) < 60 && TcFrames(tc) < 30;
}

int64_t FramesToTime(int64_t frames, float rate) {
    if (rate <= 0) return 0;
    return int64_t(std::llround(double(frames) * kUnitsPerSecond / double(rate)));
}

int64_t TimecodeToTime(uint32_t tc, float rate) {
    return TcWholeSeconds(tc) * kUnitsPerSecond + FramesToTime(TcFrames(tc), rate);
}

int64_t ClipDuration(const BatchClipInfo& clip, float rate) {
    return (TcWholeSeconds(clip.outTimecode) - TcWholeSeconds(clip.inTimecode)) * kUnitsPerSecond -
           FramesToTime(TcFrames(clip.inTimecode), rate) + FramesToTime(TcFrames(clip.outTimecode), rate);
}

std::string TimeText(int64_t time, float rate) {
    if (time < 0) time = 0;
    const int64_t seconds = time / kUnitsPerSecond;
    const int64_t rest = time % kUnitsPerSecond;
    // Frames from the remainder; the rounding keeps a time made from whole frames on its frame.
    int64_t frames = rate > 0 ? int64_t(double(rest) * rate / kUnitsPerSecond + 0.001) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", int(seconds / 3600 % 100), int(seconds / 60 % 60),
                  int(seconds % 60), int(frames));
    return text;
}

ScanSample ParseScanSample(const uint8_t* b) {
    ScanSample s;
    s.timecode = PackTimecode(b[0], b[1], b[2], b[3]);
    for (int at : {4, 5, 6, 8, 9, 10})  // stamp bytes 5 to 0
        s.stamp = s.stamp << 8 | b[at];
    int64_t time = 0;
    std::memcpy(&time, b + 16, 8);
    s.mediaTime = time;
    s.queued = b[25] != 0;
    s.start = b[26] != 0;
    std::memcpy(&s.scanValue, b + 28, 4);
    return s;
}

namespace {

void PutTimecode(uint8_t* at, uint32_t tc, bool frameUnknown) {
    at[0] = uint8_t(TcHours(tc));
    at[1] = uint8_t(TcMinutes(tc));
    at[2] = uint8_t(TcSeconds(tc));
    at[3] = frameUnknown ? 255 : uint8_t(TcFrames(tc));
}

void PutStamp(uint8_t* at, uint64_t stamp) {
    for (int i = 0; i < 3; ++i) {
        at[i] = uint8_t(stamp >> (40 - 8 * i));      // bytes 5, 4, 3
        at[4 + i] = uint8_t(stamp >> (16 - 8 * i));  // bytes 2, 1, 0
    }
}

bool FollowsInTime(const BatchClipInfo& previous, const BatchClipInfo& next) {
    return (next.inTimecode >> 8) >= (previous.outTimecode >> 8);
}

// Same day (bytes 5-3) and less than `limit` apart by hours, minutes and seconds.
bool FollowsByStamp(const BatchClipInfo& previous, const BatchClipInfo& next, int64_t limit) {
    if ((previous.endStamp >> 24) != (next.startStamp >> 24)) return false;
    auto seconds = [](uint64_t stamp) {
        return int64_t(stamp >> 16 & 0xFF) * 3600 + int64_t(stamp >> 8 & 0xFF) * 60 + int64_t(stamp & 0xFF);
    };
    const int64_t gap = seconds(next.startStamp) - seconds(previous.endStamp);
    return gap >= 0 && gap * kUnitsPerSecond < limit;
}

}  // namespace

std::string StampText(uint64_t stamp) {
    // From the top byte down: year of the century, month, day, hours, minutes, seconds.
    const auto byte = [stamp](int n) { return int64_t(stamp >> (8 * n) & 0xFF); };
    const int64_t year = byte(5) < 90 ? 2000 + byte(5) : 1900 + byte(5);
    char text[64];
    std::snprintf(text, sizeof text, "Date: %02lld:%02lld:%04lld\n Time: %02lld:%02lld:%02lld", (long long)byte(3),
                  (long long)byte(4), (long long)year, (long long)byte(2), (long long)byte(1), (long long)byte(0));
    return text;
}

std::string TimecodeSecondsText(uint32_t tc) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", TcHours(tc), TcMinutes(tc), TcSeconds(tc));
    return text;
}

void BuildSegmentRecord(const BatchClipInfo& clip, uint32_t nonRealtime, const uint8_t* batchArea, size_t areaBytes,
                        uint8_t* record, size_t recordBytes) {
    std::memset(record, 0, recordBytes);
    if (recordBytes < engines::kSegmentHeaderBytes) return;
    std::memcpy(record + 4, &nonRealtime, 4);
    PutTimecode(record + 8, clip.inTimecode, clip.frameFlags & kStartFrameUnknown);
    PutStamp(record + 12, clip.startStamp);
    std::memcpy(record + 36, &clip.scanValue, 4);
    PutTimecode(record + 40, clip.outTimecode, clip.frameFlags & kEndFrameUnknown);
    PutStamp(record + 44, clip.endStamp);
    if (batchArea)
        std::memcpy(record + engines::kSegmentHeaderBytes, batchArea,
                    std::min(areaBytes, recordBytes - engines::kSegmentHeaderBytes));
}

std::vector<std::vector<size_t>> JoinRuns(const std::vector<JoinItem>& items, int mode, int64_t limit) {
    std::vector<std::vector<size_t>> runs;
    auto member = [&](size_t i) {
        if (!items[i].clip) return false;
        return mode == 1 ? items[i].selected : mode == 0 ? items[i].checked : true;
    };
    auto follows = [&](size_t a, size_t b) {
        return mode == 2 ? FollowsByStamp(*items[a].clip, *items[b].clip, limit)
                         : FollowsInTime(*items[a].clip, *items[b].clip);
    };
    size_t i = 0;
    while (i < items.size()) {
        if (!member(i)) {
            ++i;
            continue;
        }
        std::vector<size_t> run{i};
        size_t j = i + 1;
        while (j < items.size() && member(j) && follows(j - 1, j))
            run.push_back(j++);
        if (run.size() > 1) runs.push_back(std::move(run));
        i = j;
    }
    return runs;
}

void JoinInto(BatchClipInfo* into, const BatchClipInfo& from) {
    into->outTime = from.outTime;
    into->outTimecode = from.outTimecode;
    into->endStamp = from.endStamp;
    into->frameFlags = uint8_t((into->frameFlags & ~kEndFrameUnknown) | (from.frameFlags & kEndFrameUnknown));
}

bool PruneSegment(const BatchClipInfo& clip) {
    if (clip.inTimecode >= clip.outTimecode) return true;
    // A tape recorded without dates carries no stamps: only stamps that are there are compared.
    if (clip.startStamp && clip.endStamp && clip.endStamp <= clip.startStamp) return true;
    return TcWholeSeconds(clip.outTimecode) - TcWholeSeconds(clip.inTimecode) < 4;
}

std::string MakeUniqueName(const std::string& path, const std::function<bool(const std::string&)>& exists) {
    if (!exists(path)) return path;
    const size_t slash = path.find_last_of("\\/");
    const size_t dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = hasExtension ? path.substr(0, dot) : path;
    const std::string extension = hasExtension ? path.substr(dot) : std::string();
    for (int n = 0; n < 100000; ++n) {
        const std::string candidate = stem + "(" + std::to_string(n) + ")" + extension;
        if (!exists(candidate)) return candidate;
    }
    return {};
}

}  // namespace batchcap
