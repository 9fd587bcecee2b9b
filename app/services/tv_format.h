// The TV format setting and the time conversions that depend on it. "TVFormat" is a 4-byte
// REG_BINARY under HKEY_CURRENT_USER kVistrelKey (1 NTSC, 30 frames per second; 0 PAL, 25),
// falling back to HKEY_LOCAL_MACHINE. Every call reads the registry again: nothing caches
// the format. The arithmetic lives in time_code.h.
#pragma once

#include <cstdint>

#include "app/services/time_code.h"
#include "framework/string.h"

using TimeCode = services::TimeCode;
using TimeRangePair = services::TimeRangePair;

// The stored format, 0 or 1. When "TVFormat" is found under neither root, it is seeded from
// the HKEY_LOCAL_MACHINE value "DisplayCurFrame" (0 when that is missing); a value that is
// neither 0 nor 1 becomes 0. With `bound` set the result is written to HKEY_CURRENT_USER
// when it was seeded or corrected; without it nothing is written.
DWORD ReadTvFormatSetting(int bound);

// 1 for NTSC, 0 for PAL (ReadTvFormatSetting).
int IsNtscTvFormat(int bound);
// 30.0 for NTSC, 25.0 for PAL; repairs a missing or invalid value under HKEY_CURRENT_USER.
float GetTvFrameRate();

int64_t FramesToTime(int32_t frames);
int64_t TimeToFrames(int64_t time);
inline int64_t FramesToTimeAtRate(int32_t frames, float fps) {
    return services::FramesToTimeAtRate(frames, fps);
}
// "HH:MM:SS:FF" at the TV format's rate, or "HH:MM:SS:hh" with `hundredths`.
CString FormatTimeCode(int64_t time, int hundredths);
void TimeCodeToTime(TimeCode tc, int64_t* time);
inline void ClampTimeRange(const TimeRangePair& pair, int64_t* start, int64_t* end, int64_t* offset) {
    services::ClampTimeRange(pair, start, end, offset);
}
