#include "engines/file_engine/h264_settings.h"

#include <algorithm>

namespace fileengine {

void H264ParameterWords(const VideoPlan& v, int rateNum, int rateDen, int32_t (&words)[ombrisk::kParamWords]) {
    using namespace ombrisk;
    DefaultParameterWords(words);
    words[kParGopLength] = v.gopSize;
    words[kParBFrames] = v.bFrames;
    // B pictures need the main profile, as CABAC does.
    words[kParProfile] = v.entropyCoding || v.bFrames > 0 ? 77 : 66;
    words[kParCabac] = v.entropyCoding ? 1 : 0;
    // Rate control of the record: 0 constant quality, 1 variable bit rate, 2 constant.
    words[kParRateMode] = v.rateControlMode == 0 ? 0 : v.rateControlMode == 2 ? 3 : 2;
    if (v.bitRate > 0) words[kParAvgBitRate] = static_cast<int32_t>(v.bitRate);
    if (v.maxRate > 0) words[kParMaxBitRate] = static_cast<int32_t>(std::max(v.maxRate, v.bitRate));
    if (v.cbrQuality > 0 && v.cbrQuality <= 15) words[kParQuality] = v.cbrQuality;
    words[kParMotionSearch] = v.motionSearch ? 1 : 0;
    words[kParRangeX] = words[kParRangeY] = std::clamp(v.searchRange, 8, 64);
    words[kParSubpelDepth] = std::clamp(v.subPixel, 0, 2);
    words[kParFlags] = v.deblock ? kFlagDeblocking : 0;
    words[kParFrameRate100] = rateDen > 0 ? static_cast<int32_t>(int64_t(rateNum) * 100 / rateDen) : 2500;
}

bool H264SettingsOfRecord(const profiles::ProfileRecord& record, OutputPlan* plan,
                          int32_t (&words)[ombrisk::kParamWords], std::string* refusal) {
    if (record.head.videoFormatClass != profiles::kClassH264) {
        *refusal = "The profile is not an H.264 profile.";
        return false;
    }
    if (!MakeOutputPlan(record, plan, refusal)) return false;
    H264ParameterWords(plan->video, plan->video.rateNum, plan->video.rateDen, words);
    return true;
}

}  // namespace fileengine
