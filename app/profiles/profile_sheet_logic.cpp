#include "app/profiles/profile_sheet_logic.h"

#include <charconv>
#include <algorithm>
#include <cstdio>

namespace profiles {

int FindFrameSize(int32_t width, int32_t height) {
    int found = -1;
    for (size_t i = 0; i < std::size(kFrameSizes); ++i) {
        if (kFrameSizes[i].width == width && kFrameSizes[i].height == height) found = static_cast<int>(i);
    }
    return found;
}

std::string BuildGopPattern(int gopLength, int bFrames) {
    if (gopLength < 1) return "";
    std::string pattern = "I";
    // A length read from a damaged file is cut where no editor or encoder goes.
    const size_t length = static_cast<size_t>(std::min(gopLength, kMaxPatternLength));
    while (pattern.size() < length) {
        for (int b = 0; b < bFrames && pattern.size() < length; ++b)
            pattern.push_back('B');
        if (pattern.size() < length) pattern.push_back('P');
    }
    return pattern;
}

ClampResult ClampEditText(std::string_view text, int minimum, int fallback, int maximum) {
    ClampResult r;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ptr != end || ec == std::errc::invalid_argument) {
        r.notNumber = true;
        r.changed = true;
        r.value = fallback;
        return r;
    }
    if (ec == std::errc::result_out_of_range) {
        // A number too long for an int is beyond either bound; its sign tells which.
        r.changed = true;
        r.value = text.front() == '-' ? minimum : maximum;
        return r;
    }
    r.value = value;
    if (value < minimum) {
        r.value = minimum;
        r.changed = true;
    } else if (value > maximum) {
        r.value = maximum;
        r.changed = true;
    }
    return r;
}

std::string ProposeFreeName(const std::string& name, size_t maxLength,
                            const std::function<bool(const std::string&)>& held) {
    if (name.size() <= maxLength && !held(name)) return name;
    // Bounded: the store holds finitely many names, but a damaged file must not hang the sheet.
    for (int n = 1; n < 100000; ++n) {
        const std::string suffix = " -" + std::to_string(n);
        if (suffix.size() > maxLength) return "";
        std::string candidate = name.substr(0, std::min(name.size(), maxLength - suffix.size())) + suffix;
        if (!held(candidate)) return candidate;
    }
    return "";
}

uint32_t CheckProfileName(const std::string& name, size_t maxLength, bool held, uint32_t tooLongId) {
    if (name.empty()) return 175;
    if (name.size() > maxLength || name.find_first_of("\r\n") != std::string::npos) return tooLongId;
    return held ? 174 : 0;
}

void ApplyMpegEditorResult(const MpegEditorResult& result, ProfileRecord& record) {
    MpegBlock& m = record.block.mpeg;
    auto set = [&](uint32_t id, int32_t value) {
        if (MpegParam* p = FindMpegParam(m, id)) p->value.i = value;
    };
    if (result.videoModified) {
        int32_t kbps = result.bitRateKbps;
        if (kbps < kMpegMinKbps) kbps = kMpegMinKbps;
        if (kbps > kMpegMaxKbps) kbps = kMpegMaxKbps;
        set(kParamVideoBitRate, kbps * 1000);
        set(kParamWidth, result.width);
        set(kParamHeight, result.height);
        set(kParamSpeedQuality, result.speedQuality);
        set(kParamPreProcessing, result.preProcessing);
        set(kParamInterlacing, result.interlacing);
    }
    if (result.audioModified && m.streamBlockCount > 0) {
        int64_t code = 0;
        if (AudioCodeFromBitRate(result.audioBitRate, &code)) m.streams[0].audio.bitRate = code;
    }
    CopyText(record.head.name, result.name.data(), result.name.size());
    CopyText(record.head.description, result.description.data(), result.description.size());
}

std::vector<PropertyRow> H264PropertyRows(const ProfileRecord& record,
                                          const std::function<std::string(uint32_t)>& text) {
    const H264Block& h = record.block.h264;
    const ProfileAudioFormat& audio = h.streams[0].audio;
    std::string mode;
    switch (audio.audioMode) {
        case 0:
            mode = text(5207);
            break;
        case 1:
            mode = text(5208);
            break;
        case 2:
            mode = text(5209);
            break;
        case 3:
            mode = text(173);
            break;
        default:
            break;
    }
    return {
        {155, std::to_string(h.videoBitRate)}, {156, std::to_string(h.width)},
        {157, std::to_string(h.height)},       {158, BuildGopPattern(h.gopLength, h.bFrames)},
        {161, std::to_string(audio.layer)},    {162, mode},
    };
}

}  // namespace profiles
