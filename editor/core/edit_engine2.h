// CEditEngine2: joins a list of video clips and an independent list of audio clips into
// one program stream, so that new audio can be laid under edited video, or a stream made
// with only one of the two. Each list is walked by its own thread on its own time line:
// video clips are cut at GOPs and placed one after the other as in CEditEngine; audio
// clips are cut at frames and placed one after the other on the audio time line, which
// advances by out - in - skip per clip, with silence where a clip's audio runs short.
// The two meet only in the mux loop, which interleaves them by time. An empty list gives
// an output without that stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "editor/core/edit_engine.h"

namespace editor {

class CEditEngine2 : public CEditEngine {
public:
    CEditEngine2();
    ~CEditEngine2() override;

    // The video list is the engine's clip list (SetCapacity, AddClip, ClipCount, Clip).
    bool SetVideoCapacity(int n);
    bool SetAudioCapacity(int n);
    // Index, or -1 (list full), -2 (not a clip file type), -3 (probe failed).
    int AddVideoClip(const std::string& path, int64_t in, int64_t out, bool fromFile);
    // As AddVideoClip on the audio list; `skip` (100 ns) shortens the clip's share of the
    // audio time line.
    int AddAudioClip(const std::string& path, int64_t in, int64_t out, bool fromFile, int64_t skip);
    int AudioClipCount() const { return int(audioClips_.size()); }
    const ClipItem& AudioClip(int i) const { return audioClips_[size_t(i)]; }

    // Probing times a clip by its video alone when set (else by the earlier of its video
    // and audio).
    void SetVideoOnly(bool on) { probeByVideo_ = on; }
    // Sequence headers go out with progressive_sequence cleared.
    void SetClearProgressiveSequence(bool on) { clearProgressive_ = on; }

    // The hosts of each list's segments; the sinks feed the segment of their own list, so
    // a video and an audio segment may be rendered at the same time.
    void SetVideoSegmentCallback(SegmentProc proc) { SetSegmentProc(std::move(proc)); }
    void SetAudioSegmentCallback(SegmentProc proc) { audioSegmentProc_ = std::move(proc); }

    bool Start() override;

    // The two list walkers (run by the engine's walker thread, at the same time).
    int ProcVideoList();
    int ProcAudioList();

protected:
    void OutputStreams(bool* video, bool* audio) const override;
    const std::vector<ClipItem>& AudioClipList() const override { return audioClips_; }
    int Walk() override;

private:
    std::vector<ClipItem> audioClips_;
    size_t audioCapacity_ = 0;
    SegmentProc audioSegmentProc_;
    // Sum of out - in - skip over the audio clips walked so far.
    int64_t audioTimeLine_ = 0;
};

}  // namespace editor
