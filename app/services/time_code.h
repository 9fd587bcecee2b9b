// Times, frame counts and time-code text, platform-free. A time is a signed 64-bit count of
// 100-ns units; the frame rate (30 NTSC, 25 PAL, or any rate for FramesToTimeAtRate) is
// passed in, so the arithmetic here never touches the registry. The Windows layer
// (tv_format.h) reads the TV format and calls these.
#pragma once

#include <cstdint>
#include <string>

namespace services {

constexpr int64_t kTimeUnitsPerSecond = 10'000'000;

// The packed tape position as the DV capture engine reports it: four unsigned bytes.
struct TimeCode {
    uint8_t hours = 0;
    uint8_t minutes = 0;
    uint8_t seconds = 0;
    uint8_t frames = 0;
};
static_assert(sizeof(TimeCode) == 4);

// Two ranges; a negative time means "not set".
struct TimeRangePair {
    int64_t firstStart = -1;
    int64_t firstEnd = -1;
    int64_t secondStart = -1;
    int64_t secondEnd = -1;
};
static_assert(sizeof(TimeRangePair) == 32);

// frames x 10^7 rounded to single precision, divided by `rate`, truncated toward zero. The
// product is formed in 64 bits, so no frame count wraps.
int64_t FramesToTimeAtTvRate(int32_t frames, float rate);
// rate x t x 10^-7 + 0.5 in double precision, truncated: the nearest frame for t >= 0.
int64_t TimeToFramesAtTvRate(int64_t time, float rate);
// frames x 10^7 / fps in extended precision, truncated toward zero (no single-precision step).
int64_t FramesToTimeAtRate(int32_t frames, float fps);

// "HH:MM:SS:FF" with the frame part rounded to the nearest frame at `rate` (or to the
// nearest hundredth when `hundredths`), a rounding up to a whole second carried into the
// seconds; hours are not limited to two digits.
std::string FormatTimeCodeAtRate(int64_t time, bool hundredths, float rate);
// The time of a tape position at `rate`. Fields out of range (frames past the rate, minutes
// past 59, 0xFF bytes of an unreadable tape) are taken as they stand; the result is still
// well-defined.
int64_t TimeCodeToTimeAtRate(TimeCode tc, float rate);

// The intersection of two ranges: the later start and the earlier end of those that are
// set; an output whose inputs are both unset is left unchanged. `offset` is the distance
// between the starts when all four are set, else 0.
void ClampTimeRange(const TimeRangePair& pair, int64_t* start, int64_t* end, int64_t* offset);

}  // namespace services
