// Segments of an MPEG program stream: the runs between jumps of its time stamps (recordings
// joined end to end, a DVD-VR file's programmes). Platform-free; the whole file is read in
// bounded blocks, and the number of segments is capped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engines/clip_info.h"

namespace engines {

inline constexpr size_t kMaxSegments = 4096;

// Reads `path` and returns its segments (empty when it holds no timed video or audio
// packet, or cannot be read). `progress`, when set, is called with 0..100 as the read
// goes on (each value once, in order); its returning false stops the scan, which then
// answers the segments found so far.
std::vector<SegmentRecord> ScanSegments(const std::string& path, const std::function<bool(int)>& progress);

}  // namespace engines
