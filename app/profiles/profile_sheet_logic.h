// The rules of the profile editor sheets, apart from their windows: the value tables of the
// combos, the range checks of the edits, the GOP pattern text, the proposal of a free name,
// and how the MPEG editor's results go into a record.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/profiles/profile_record.h"

namespace profiles {

struct LabelledValue {
    uint32_t label;  // string id
    int32_t value;
};

struct FrameSizeRow {
    uint32_t label;
    int32_t width, height;
};
inline constexpr FrameSizeRow kFrameSizes[] = {
    {176, 320, 240}, {177, 352, 240}, {178, 352, 288}, {183, 480, 480}, {184, 480, 576},
    {179, 640, 480}, {185, 704, 480}, {180, 704, 576}, {181, 720, 480}, {182, 720, 576},
};
// The last row of that size; -1 when none.
int FindFrameSize(int32_t width, int32_t height);

// Audio bit rates the editors offer, in kbit/s.
inline constexpr int32_t kMpegAudioKbps[] = {96, 112, 128, 160, 192, 224, 256, 320, 384};

inline constexpr LabelledValue kRateControlRows[] = {{350, 1}, {351, 0}};
inline constexpr LabelledValue kDistortionRows[] = {{352, 1}, {353, 2}, {354, 0}};
inline constexpr LabelledValue kSearchRangeRows[] = {{355, 32}, {356, 64}, {357, 128}};
inline constexpr LabelledValue kSubPixelRows[] = {{358, 0}, {359, 1}, {360, 2}};
template <size_t N>
int FindRow(const LabelledValue (&rows)[N], int32_t value) {
    for (size_t i = 0; i < N; ++i) {
        if (rows[i].value == value) return static_cast<int>(i);
    }
    return -1;
}

inline constexpr int kMaxPatternLength = 1000;
// The GOP pattern: "I", then runs of `bFrames` "B" each followed by "P", cut to exactly
// `gopLength` characters (at most kMaxPatternLength; empty for a length below 1).
std::string BuildGopPattern(int gopLength, int bFrames);

// The range check of a numeric edit: `text` as typed, checked against [minimum, maximum].
struct ClampResult {
    bool changed = false;    // the edit must show `value`
    bool notNumber = false;  // the text was no whole number: tell the user
    int value = 0;
};
ClampResult ClampEditText(std::string_view text, int minimum, int fallback, int maximum);

// The first of "name", "name -1", "name -2", ... that `held` does not report; empty when
// none fits the name limit.
std::string ProposeFreeName(const std::string& name, size_t maxLength,
                            const std::function<bool(const std::string&)>& held);

// Why a name typed into an editor cannot be taken; 0 when it can. Uses the store's limits:
// string 175 for an empty name, 174 for one the store holds, `tooLongId` for a name past
// `maxLength` characters or with a line break.
uint32_t CheckProfileName(const std::string& name, size_t maxLength, bool held, uint32_t tooLongId);

// Results of the MPEG editor's pages.
struct MpegEditorResult {
    bool videoModified = false;
    int32_t bitRateKbps = 0;
    int32_t width = 0, height = 0;
    int32_t speedQuality = 0, preProcessing = 0, interlacing = 0;
    bool audioModified = false;
    int32_t audioBitRate = 0;  // bit/s
    std::string name, description;
};
// Bit rates typed into the video page are clamped to this range on OK (kbit/s).
inline constexpr int32_t kMpegMinKbps = 512, kMpegMaxKbps = 10000;
// Copies the editor's results into an MPEG-class record.
void ApplyMpegEditorResult(const MpegEditorResult& result, ProfileRecord& record);

// The detail rows of an H.264 profile: label string id and text (`text` gives string texts).
struct PropertyRow {
    uint32_t label;
    std::string value;
};
std::vector<PropertyRow> H264PropertyRows(const ProfileRecord& record,
                                          const std::function<std::string(uint32_t)>& text);

}  // namespace profiles
