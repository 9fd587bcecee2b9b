#include "filters/encoder/encoder_settings.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace ombrisk {
namespace {

// Below a := a and above b := b; where a is 0, every value below 1 becomes 0.
int32_t Into(int32_t v, int32_t a, int32_t b) {
    return std::clamp(v, a, b);
}

bool IsLevel(int32_t level) {
    switch (level) {
        case 10:
        case 11:
        case 12:
        case 13:
        case 20:
        case 21:
        case 22:
        case 30:
        case 31:
        case 32:
        case 40:
        case 41:
        case 42:
        case 50:
        case 51:
        case 52:
            return true;
        default:
            return false;
    }
}

void ValidateBitRates(int32_t* p) {
    int32_t& minimum = p[kParMinBitRate];
    int32_t& maximum = p[kParMaxBitRate];
    int32_t& average = p[kParAvgBitRate];
    if (average <= 0) average = kUnsetWord;
    if (average != kUnsetWord) {
        minimum = minimum < 1 ? kUnsetWord : std::min(minimum, average);
        maximum = maximum < 1 ? kUnsetWord : std::max(maximum, average);
        average = std::min(average, kMaxBitRate);
    } else {
        if (minimum <= 0)
            minimum = kUnsetWord;
        else if (maximum >= 1 && maximum <= minimum)
            minimum = maximum;
        if (maximum < 1)
            maximum = kUnsetWord;
        else if (!(minimum < 1 || maximum > minimum))
            maximum = minimum;
    }
    if (maximum != kUnsetWord) maximum = Into(maximum, 0, kMaxBitRate);
    if (minimum != kUnsetWord) minimum = Into(minimum, 0, kMaxBitRate);
}

}  // namespace

void DefaultSettings(EncoderSettings* s) {
    int32_t defaults[kParamWords];
    DefaultParameterWords(defaults);
    for (int k = 0; k < kParamWords; ++k)
        if (k != kParSarWidth && k != kParSarHeight) s->params[k] = defaults[k];
    s->fixedRateOn = false;
    s->fixedRate100 = 2500;
}

void ValidateParameterWords(int32_t (&p)[kParamWords]) {
    if (p[kParProfile] != 66 && p[kParProfile] != 77 && p[kParProfile] != 88) p[kParProfile] = 77;
    if (!IsLevel(p[kParLevel])) p[kParLevel] = 52;
    p[kParBFrames] = p[kParProfile] == 66 ? 0 : Into(p[kParBFrames], 0, 9);
    if (p[kParGopLength] <= p[kParBFrames] + 1)
        p[kParGopLength] = p[kParBFrames] + 1;
    else
        p[kParGopLength] = std::min(p[kParGopLength], 300);
    if (p[kParRefFrames] != -1) p[kParRefFrames] = Into(p[kParRefFrames], 0, 15);
    p[kParChromaFormat] = 1;
    p[kParRateMode] = Into(p[kParRateMode], 0, 3);
    p[kParQuality] = Into(p[kParQuality], 0, 15);
    ValidateBitRates(p);
    if (p[kParFourthRate] <= 0) p[kParFourthRate] = kUnsetWord;
    p[kParMotionSearch] = Into(p[kParMotionSearch], 0, 1);
    p[kParRangeY] = Into(p[kParRangeY], 0, 128);
    p[kParRangeX] = Into(p[kParRangeX], 0, 128);
    // A mask, not a remainder: a negative word gives 0..3 as well.
    p[kParSubpelDepth] &= 3;
    p[kParPartitions] = (p[kParPartitions] & 126) | 1;
    p[kParMbCoderLevel] = Into(p[kParMbCoderLevel], 0, 2);
    p[kParCabac] = p[kParProfile] == 77 ? Into(p[kParCabac], 0, 1) : 0;
    p[kParSceneDetect] = Into(p[kParSceneDetect], 0, 3);
    if (p[kParPercentage] != kUnsetWord) p[kParPercentage] = Into(p[kParPercentage], 0, 100);
    p[kParFourBitField] &= 15;
    p[kParFlags] &= kFlagDeblocking | kFlagFrameStamps;
    if (p[kParVui] != 0) p[kParVui] = 1;
    const int32_t idc = p[kParAspectIdc];
    if ((idc < 0 || idc > 13) && idc != 255 && idc != 256) p[kParAspectIdc] = 0;
    p[kParFrameRate100] = Into(p[kParFrameRate100], kMinRate100, kMaxRate100);
    int32_t& slices = p[kParSliceCount];
    if (slices < 0)
        slices = 1;
    else if (slices > 128)
        slices = 128;
}

void ValidateSettings(EncoderSettings* s) {
    ValidateParameterWords(s->params);
    // kWordFixedRate100 divides 10^9 wherever it is used.
    s->fixedRate100 = Into(s->fixedRate100, kMinRate100, kMaxRate100);
}

bool StructuralWordsDiffer(const EncoderSettings& running, const EncoderSettings& record) {
    static constexpr int kCompared[] = {kParProfile,     kParLevel,        kParGopLength,    kParBFrames,
                                        kParSceneDetect, kParCabac,        kParRateMode,     kParQuality,
                                        kParFlags,       kParFrameRate100, kParMbCoderLevel, kParMotionSearch,
                                        kParRangeY,      kParRangeX,       kParSubpelDepth,  kParPartitions};
    for (int k : kCompared)
        if (running[k] != record[k]) return true;
    return false;
}

int32_t RateFromDuration(int64_t duration) {
    if (duration <= 0) return 0;
    return int32_t(std::min<int64_t>(1000000000 / duration, INT32_MAX));
}

int64_t DurationFromRate(int32_t rate100) {
    if (rate100 <= 0) return 0;
    return 1000000000 / int64_t(rate100);
}

StreamRates StartRates(const EncoderSettings& s, int64_t sourceDuration, int32_t inputRate100) {
    StreamRates r;
    r.source = sourceDuration > 0 ? sourceDuration : 400000;
    const int32_t wanted = Into(s[kParFrameRate100], kMinRate100, kMaxRate100);
    if (s.fixedRateOn) {
        const int32_t fixed = Into(s.fixedRate100, kMinRate100, kMaxRate100);
        r.source = DurationFromRate(fixed);
        r.target = r.source;
        r.targetRate100 = fixed;
    } else if (inputRate100 > 0 && wanted >= inputRate100) {
        r.target = r.source;
        r.targetRate100 = inputRate100;
    } else {
        r.target = DurationFromRate(wanted);
        r.targetRate100 = wanted;
    }
    r.target = std::max(r.target, r.source);
    return r;
}

bool DetectedRates(const EncoderSettings& s, int64_t measured, StreamRates* r) {
    if (s.fixedRateOn || measured < 11) return false;
    if (std::llabs(measured - r->source) <= 100) return false;
    r->source = measured;
    const int32_t rate = RateFromDuration(measured);
    const int32_t wanted = Into(s[kParFrameRate100], kMinRate100, kMaxRate100);
    if (wanted >= rate) {
        r->target = measured;
        r->targetRate100 = std::max(rate, kMinRate100);
    } else {
        r->target = DurationFromRate(wanted);
        r->targetRate100 = wanted;
    }
    r->target = std::max(r->target, r->source);
    return true;
}

int ComputePicStruct(bool timeValid, bool fixedRate, int64_t d, int64_t source, bool interlaced, uint32_t flags) {
    if (timeValid && !fixedRate) {
        if (std::llabs(2 * d - 3 * source) < 100) return (flags & kField1First) ? 5 : 6;
        if (std::llabs(d - 2 * source) < 100) return 7;
        if (std::llabs(d - 3 * source) < 100) return 8;
    }
    if (interlaced && (flags & kFieldMask) == 0) return (flags & kField1First) ? 3 : 4;
    return 0;
}

void CoreParameterWords(const EncoderSettings& s, int32_t targetRate100, int32_t (&out)[kParamWords]) {
    std::copy(std::begin(s.params), std::end(s.params), out);
    out[kParFrameRate100] = Into(targetRate100, kMinRate100, kMaxRate100);
}

}  // namespace ombrisk
