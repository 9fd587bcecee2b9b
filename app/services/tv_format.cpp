#include "app/services/tv_format.h"

#include "app/services/reg_value.h"
#include "app/services/settings_keys.h"

DWORD ReadTvFormatSetting(int bound) {
    CRegBinIntValue format(HKEY_CURRENT_USER, kVistrelKey, "TVFormat", bound);
    DWORD value;
    if (format.Read()) {
        value = format.Get();
        if (value <= 1) return value;
        value = 0;
    } else {
        CRegBinIntValue seed(HKEY_LOCAL_MACHINE, kVistrelKey, "DisplayCurFrame", 0);
        value = seed.Read() ? seed.Get() : 0;
        if (value > 1) value = 0;
    }
    format.Set(value);
    return value;
}

int IsNtscTvFormat(int bound) {
    return ReadTvFormatSetting(bound) == 1 ? 1 : 0;
}

float GetTvFrameRate() {
    return IsNtscTvFormat(1) ? 30.0f : 25.0f;
}

int64_t FramesToTime(int32_t frames) {
    return services::FramesToTimeAtTvRate(frames, GetTvFrameRate());
}

int64_t TimeToFrames(int64_t time) {
    return services::TimeToFramesAtTvRate(time, GetTvFrameRate());
}

CString FormatTimeCode(int64_t time, int hundredths) {
    return CString(services::FormatTimeCodeAtRate(time, hundredths != 0, hundredths ? 100.0f : GetTvFrameRate()));
}

void TimeCodeToTime(TimeCode tc, int64_t* time) {
    *time = services::TimeCodeToTimeAtRate(tc, GetTvFrameRate());
}
