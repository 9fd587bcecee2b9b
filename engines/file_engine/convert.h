// One conversion: the timeline's clips read with libavformat and decoded with libavcodec,
// laid on the output's frame grid, and written by the plan's encoders and multiplexer.
// The result is written under a temporary name beside the output and renamed at the end,
// so a failed or aborted conversion leaves nothing under the output name.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engines/file_engine/output_plan.h"

namespace fileengine {

// One clip of the timeline; times in 100-ns units of the source file, `out` -1 for its end.
struct SourceClip {
    std::string path;  // in the process's ANSI code page
    int64_t in = 0;
    int64_t out = -1;
};

struct ConvertControl {
    std::atomic<bool> abort{false};
    const std::atomic<bool>* cancel = nullptr;  // a caller's own abort flag, also obeyed
    std::atomic<float> fraction{0.0f};
    std::function<void(float)> onProgress;  // called on the converting thread with each fraction
    // Called on the converting thread with an output picture in 32-bit BGRX, top-down, at
    // most every 100 ms of the output, while `previewWidth` and `previewHeight` are set.
    std::atomic<int> previewWidth{0}, previewHeight{0};
    std::function<void(const uint8_t* bgrx, int width, int height)> preview;
};

enum class ConvertResult { kDone, kAborted, kFailed };

ConvertResult Convert(const std::vector<SourceClip>& clips, const OutputPlan& plan, const std::string& output,
                      ConvertControl& control, std::string* error);

// Decodes one clip's pictures in order for the preview, each scaled to 32-bit BGRX.
class PreviewReader {
public:
    // Reading stops early, as at the end, once `cancel` (when given) is set.
    explicit PreviewReader(const std::atomic<bool>* cancel = nullptr);
    ~PreviewReader();
    PreviewReader(const PreviewReader&) = delete;
    PreviewReader& operator=(const PreviewReader&) = delete;
    // Opens `path` (ANSI) and seeks to the picture shown at `sourceTime` (100-ns units from
    // the file's first picture; where the stamps restart, on the time line of the file's
    // segments, as the conversion reads a clip).
    bool Open(const std::string& path, int64_t sourceTime);
    // The next picture from the seek point on, `width` x `height` top-down BGRX in `bgrx`,
    // with its time (100-ns units from the file's first picture); false at the end.
    bool Next(int width, int height, std::vector<uint8_t>* bgrx, int64_t* time);

private:
    struct State;
    std::unique_ptr<State> state_;
    const std::atomic<bool>* cancel_;
};

// The length of a clip from its start to its end, in 100-ns units (the range when it has
// one, else the file's video length); -1 when the file cannot be read.
int64_t ProbeClipDuration(const SourceClip& clip);

}  // namespace fileengine
