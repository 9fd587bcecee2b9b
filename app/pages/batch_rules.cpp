#include "app/pages/batch_rules.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/services/time_code.h"

namespace filepage {

namespace {

std::string LowerExtension(const char* path) {
    if (!path) return {};
    const char* slash = std::max(std::strrchr(path, '\\'), std::strrchr(path, '/'));
    const char* dot = std::strrchr(path, '.');
    if (!dot || (slash && dot < slash)) return {};
    std::string extension(dot);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

}  // namespace

int IsSupportedInputFile(const char* path) {
    static const char* const kAccepted[] = {".mpg", ".mpeg", ".mpe", ".avi", ".dat", ".vob", ".vro"};
    const std::string extension = LowerExtension(path);
    for (const char* accepted : kAccepted)
        if (extension == accepted) return 1;
    return 0;
}

int IsSegmentedFile(const char* path) {
    const std::string extension = LowerExtension(path);
    return extension == ".vob" || extension == ".vro" ? 1 : 0;
}

const char* OutputExtension(uint32_t videoFormatClass) {
    switch (videoFormatClass) {
        case 1:
            return ".avi";
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 12:
            return ".mpg";
        default:
            return "";
    }
}

void KeepSizeFrame(int32_t width, int32_t height, int32_t* outWidth, int32_t* outHeight) {
    const bool fits = width <= 1280 && height <= 720;
    *outWidth = fits ? width : 1280;
    *outHeight = fits ? height : 720;
}

std::vector<int32_t> MoveOrders(const std::vector<int32_t>& orders, const std::vector<bool>& selected, int target) {
    const int n = static_cast<int>(std::min(orders.size(), selected.size()));
    int first = -1, last = -1;
    for (int i = 0; i < n; ++i)
        if (selected[i]) {
            if (first < 0) first = i;
            last = i;
        }
    if (first < 0 || target < 0 || target >= n || target == first) return {};
    std::vector<int32_t> result(orders.begin(), orders.begin() + n);
    // The range whose numbers are handed out again, and the order in which its items take
    // them: the moved block first when moving up, last when moving down.
    const int low = target < first ? target : first;
    const int high = target < first ? last : std::max(target, last);
    std::vector<int32_t> numbers;
    for (int i = low; i <= high; ++i)
        numbers.push_back(orders[i]);
    std::vector<int> takers;
    const bool up = target < first;
    for (int pass = 0; pass < 2; ++pass) {
        const bool takeSelected = up ? pass == 0 : pass == 1;
        for (int i = low; i <= high; ++i)
            if (selected[i] == takeSelected) takers.push_back(i);
    }
    for (size_t k = 0; k < takers.size(); ++k)
        result[takers[k]] = numbers[k];
    return result;
}

int CheckName(std::string* name) {
    if (!name) return 0;
    const size_t start = name->find_first_not_of(' ');
    if (start == std::string::npos) return 0;
    std::string trimmed = name->substr(start);
    if (trimmed.find_first_of("\\/:*?\"<>|") != std::string::npos) return 0;
    *name = trimmed;
    return 1;
}

SegmentSpan SegmentTimes(int64_t videoStart, int64_t videoEnd, int64_t audioStart, int64_t audioEnd) {
    SegmentSpan span;
    services::ClampTimeRange({videoStart, videoEnd, audioStart, audioEnd}, &span.start, &span.end, &span.skew);
    return span;
}

SegmentClip SegmentClipOf(const engines::SegmentRecord& record, int64_t base) {
    const SegmentSpan span = SegmentTimes(record.videoStart, record.videoEnd, record.audioStart, record.audioEnd);
    SegmentClip clip;
    clip.length = span.start > span.end ? 0 : span.end - span.start;
    clip.inPoint = base + span.skew;
    clip.outPoint = clip.inPoint + clip.length;
    return clip;
}

bool HandOverProfile(profiles::ProfileRecord& record,
                     const std::function<bool(const profiles::ProfileRecord&)>& setProfile) {
    profiles::AviBlock& avi = record.block.avi;
    uint32_t saved[4] = {};
    const bool clear =
        record.head.videoFormatClass == profiles::kClassAvi &&
        profiles::GetCompressorFrameInfo(avi.compressorState, avi.compressorStateSize, saved) == profiles::kProfileOk &&
        profiles::SetCompressorFrameValue(avi.compressorState, avi.compressorStateSize, 0) == profiles::kProfileOk;
    const bool accepted = setProfile(record);
    if (clear) profiles::SetCompressorFrameValue(avi.compressorState, avi.compressorStateSize, saved[3]);
    return accepted;
}

}  // namespace filepage
