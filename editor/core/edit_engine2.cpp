#include "editor/core/edit_engine2.h"

#include <algorithm>

#include "editor/core/thread_name_window.h"

namespace editor {

CEditEngine2::CEditEngine2() {
    // Audio under edited video needs less room than a clip's own audio.
    audioQueueDefault_ = 512000;
    probeByVideo_ = false;
    keepShortAudio_ = true;
}

CEditEngine2::~CEditEngine2() {
    // The walker runs this object's overrides: stop it before the base part goes.
    Stop();
    Wait();
}

bool CEditEngine2::SetVideoCapacity(int n) {
    const bool ok = SetCapacity(n);
    // Audio clips count toward the total only while there is no video list.
    if (ok && capacity_ == 0)
        for (const ClipItem& c : audioClips_)
            totalLength_ += c.out - c.in;
    return ok;
}

bool CEditEngine2::SetAudioCapacity(int n) {
    if (n < 0) return false;
    if (size_t(n) == audioCapacity_) return true;
    if (capacity_ == 0) totalLength_ = 0;
    audioClips_.clear();
    audioCapacity_ = size_t(n);
    audioClips_.reserve(audioCapacity_);
    return true;
}

int CEditEngine2::AddVideoClip(const std::string& path, int64_t in, int64_t out, bool fromFile) {
    return AddClip(path, in, out, fromFile);
}

int CEditEngine2::AddAudioClip(const std::string& path, int64_t in, int64_t out, bool fromFile, int64_t skip) {
    const int index = AddClipTo(&audioClips_, audioCapacity_, path, in, out, fromFile);
    if (index < 0) return index;
    ClipItem& item = audioClips_.back();
    item.skip = std::max<int64_t>(0, skip);
    if (capacity_ == 0) totalLength_ += item.out - item.in;
    return index;
}

bool CEditEngine2::Start() {
    // A host segment of the audio list needs a host to render it (the video list's are
    // checked with the one-list engine's callback).
    if (!audioSegmentProc_)
        for (const ClipItem& c : audioClips_)
            if (!c.fromFile) return false;
    return CEditEngine::Start();
}

void CEditEngine2::OutputStreams(bool* video, bool* audio) const {
    *video = !clips_.empty();
    *audio = !audioClips_.empty();
}

int CEditEngine2::Walk() {
    int audioResult = 0;
    int videoResult = 0;
    {
        common::Thread audio;
        if (audio.Start([&] {
                audioResult = ProcAudioList();
                if (!audioResult) AbortRun();
            })) {
            videoResult = ProcVideoList();
        } else {
            AbortRun();
            videoFinished_ = audioFinished_ = true;
            videoQueue_.Finish();
            audioQueue_.Finish();
        }
        if (!videoResult) AbortRun();
    }
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        walkerDone_ = true;
        stateChanged_.notify_all();
    }
    return videoResult && audioResult && !abort_ ? 1 : 0;
}

int CEditEngine2::ProcVideoList() {
    CThreadNameWindow marker("SEdt2-ProcVFile");
    int result = 1;
    videoBase_ = 0;
    if (!clips_.empty() && clips_[0].fromFile) LoadFirstSequenceHeader(clips_[0]);
    for (size_t i = 0; i < clips_.size() && !abort_; ++i) {
        const ClipItem& clip = clips_[i];
        if (!clip.fromFile) {
            // The host renders the segment through the video sink alone.
            if (!RunSegment(kSegmentVideo, segmentProc_, clip)) {
                result = 0;
                break;
            }
            continue;
        }
        ClipRun run;
        run.first = i == 0;
        run.videoBase = videoBase_;
        const int r = ProcVFile(clip, &run);
        if (r != kClipOk) {
            videoOk_ = false;
            result = 0;
            break;
        }
        // The span of pictures written, as in the one-list engine: no gap or overlap.
        if (run.videoWritten) videoBase_ += run.v1 - run.v0;
    }
    if (abort_) result = 0;
    MarkListFinished(true);
    videoQueue_.Finish();
    return result;
}

int CEditEngine2::ProcAudioList() {
    CThreadNameWindow marker("SEdt2-ProcAuFile");
    int result = 1;
    audioBase_ = 0;
    audioTimeLine_ = 0;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        haveAudioHeader_ = false;
        audioHeader_ = 0;
        audioFrameDuration_ = 0;
        audioFrameLength_ = 0;
    }
    for (size_t i = 0; i < audioClips_.size() && !abort_; ++i) {
        const ClipItem& clip = audioClips_[i];
        if (!clip.fromFile) {
            PrepareHostAudio();
            if (i > 0) FillAudioGap(audioTimeLine_);
            if (!RunSegment(kSegmentAudio, audioSegmentProc_, clip)) {
                result = 0;
                break;
            }
            audioTimeLine_ += std::max<int64_t>(0, clip.out - clip.in - clip.skip);
            continue;
        }
        // An audio clip has no video to wait for: it is placed by its own in and out,
        // starting on the audio time line.
        ClipRun run;
        run.first = i == 0;
        run.videoBase = audioTimeLine_;
        run.originKnown = run.endKnown = run.videoWritten = true;
        run.v0 = clip.firstTime + clip.in;
        run.v1 = clip.firstTime + clip.out;
        const int r = ProcAFile(clip, &run);
        if (r != kClipOk) {
            audioOk_ = false;
            result = 0;
            break;
        }
        audioTimeLine_ += std::max<int64_t>(0, clip.out - clip.in - clip.skip);
        // Silence up to the time line where the clip's audio ran short.
        FillAudioGap(audioTimeLine_);
    }
    if (abort_) result = 0;
    MarkListFinished(false);
    audioQueue_.Finish();
    return result;
}

}  // namespace editor
