// The file conversion page's rules that need no window: which inputs are taken, the output
// extension of a profile class, the frame size an H.264 output keeps, how a moved selection
// renumbers the list, and which file names a rename accepts. Platform-free.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/profiles/profile_record.h"
#include "engines/clip_info.h"

namespace filepage {

// 1 when the lower-cased extension is one of the accepted inputs.
int IsSupportedInputFile(const char* path);
// 1 when the extension is a DVD-Video or DVD-VR one (".vob", ".vro", any case).
int IsSegmentedFile(const char* path);

// ".avi" for class 1, ".mpg" for the MPEG classes and H.264 (3-7, 12), else "".
const char* OutputExtension(uint32_t videoFormatClass);

// The frame size of an H.264 output that keeps its source's size: the source's when it fits
// 1280x720, else 1280x720.
void KeepSizeFrame(int32_t width, int32_t height, int32_t* outWidth, int32_t* outHeight);

// The new order numbers after moving the selected items (a contiguous run or not) so that
// the block starts at `target` (moving up) or ends at it (moving down). `orders` and
// `selected` are in list order. Empty when nothing moves: no selection, target -1, or the
// target equal to the first selected index.
std::vector<int32_t> MoveOrders(const std::vector<int32_t>& orders, const std::vector<bool>& selected, int target);

// A new file name typed in the rename dialog: leading blanks trimmed (written back); 0 when
// the rest is empty or holds a character that file names may not hold.
int CheckName(std::string* name);

// Start, end and skew of a program-stream segment from its video and audio times (each
// valid when not negative): the later start, the earlier end, and the gap between the two
// starts when all four are valid.
struct SegmentSpan {
    int64_t start = 0, end = 0, skew = 0;
};
SegmentSpan SegmentTimes(int64_t videoStart, int64_t videoEnd, int64_t audioStart, int64_t audioEnd);

// Where one segment (title, programme) of a disc file lies in the file as a list entry, in
// 100-ns units on the clip player's time line: it starts `base` (the time-line end of the
// segment listed before it, 0 for the first) plus the skew of its streams, and lasts from
// its later start to its earlier end (never negative).
struct SegmentClip {
    int64_t inPoint = 0, outPoint = 0, length = 0;
};
SegmentClip SegmentClipOf(const engines::SegmentRecord& record, int64_t base);

// Hands `record` to the engine through `setProfile`. An AVI record's compressor state has
// its frame value cleared for the hand-over and put back afterwards, whatever the engine
// answered, so that a refused start does not lose the codec's setting. The engine's answer.
bool HandOverProfile(profiles::ProfileRecord& record,
                     const std::function<bool(const profiles::ProfileRecord&)>& setProfile);

}  // namespace filepage
