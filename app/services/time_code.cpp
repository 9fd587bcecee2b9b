#include "app/services/time_code.h"

#include <cmath>
#include <cstdio>

namespace services {

int64_t FramesToTimeAtTvRate(int32_t frames, float rate) {
    const float product = static_cast<float>(static_cast<int64_t>(frames) * kTimeUnitsPerSecond);
    return static_cast<int64_t>(product / rate);
}

int64_t TimeToFramesAtTvRate(int64_t time, float rate) {
    return static_cast<int64_t>(static_cast<double>(rate) * static_cast<double>(time) * 0.0000001 + 0.5);
}

int64_t FramesToTimeAtRate(int32_t frames, float fps) {
    const long double t = static_cast<long double>(frames) * kTimeUnitsPerSecond / static_cast<long double>(fps);
    return static_cast<int64_t>(t);
}

std::string FormatTimeCodeAtRate(int64_t time, bool hundredths, float rate) {
    if (hundredths) rate = 100.0f;
    const int64_t sub = time % kTimeUnitsPerSecond;
    int64_t part = static_cast<int64_t>(std::floor(static_cast<float>(sub) * 0.0000001f * rate + 0.5f));
    const int64_t perSecond = static_cast<int64_t>(rate + 0.1f);
    const int64_t carry = part / perSecond;
    part %= perSecond;
    const int64_t total = time / kTimeUnitsPerSecond + carry;
    const int64_t hours = total / 3600;
    const int64_t minutes = (total - hours * 3600) / 60;
    const int64_t seconds = total % 60;
    char text[96];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%02lld", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(seconds), static_cast<long long>(part));
    return text;
}

int64_t TimeCodeToTimeAtRate(TimeCode tc, float rate) {
    const float frameUnits = static_cast<float>(static_cast<int64_t>(tc.frames) * kTimeUnitsPerSecond);
    const int64_t framePart = static_cast<int64_t>(frameUnits / rate);
    const int64_t wholeSeconds = (static_cast<int64_t>(tc.hours) * 60 + tc.minutes) * 60 + tc.seconds;
    return framePart + wholeSeconds * kTimeUnitsPerSecond;
}

void ClampTimeRange(const TimeRangePair& pair, int64_t* start, int64_t* end, int64_t* offset) {
    const bool s1 = pair.firstStart >= 0, s2 = pair.secondStart >= 0;
    const bool e1 = pair.firstEnd >= 0, e2 = pair.secondEnd >= 0;
    if (s1 && s2) {
        *start = pair.firstStart > pair.secondStart ? pair.firstStart : pair.secondStart;
    } else if (s1 || s2) {
        *start = s1 ? pair.firstStart : pair.secondStart;
    }
    if (e1 && e2) {
        *end = pair.firstEnd < pair.secondEnd ? pair.firstEnd : pair.secondEnd;
    } else if (e1 || e2) {
        *end = e1 ? pair.firstEnd : pair.secondEnd;
    }
    if (s1 && s2 && e1 && e2) {
        const int64_t d = pair.firstStart - pair.secondStart;
        *offset = d < 0 ? -d : d;
    } else {
        *offset = 0;
    }
}

}  // namespace services
