#include "editor/core/edit_engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <span>

#include "common/audio_headers.h"
#include "common/bitstream/mpeg2_video_header.h"
#include "editor/core/bytes.h"
#include "editor/core/clip_file.h"
#include "editor/core/silent_frames.h"
#include "editor/core/thread_name_window.h"

namespace editor {
namespace {

constexpr int64_t kSecond = 10000000;
// The output time line starts this late, so that the first pictures' decoding time
// stamps and the first packs' clock references lie before their presentation times.
constexpr int64_t kPreload = 2000000;
constexpr size_t kStoredSequenceMax = 1024;
constexpr int64_t kLpcmFrameDuration = 16666;  // 1/600 s: one LPCM frame of a DVD
constexpr int64_t kLpcmFrameTicks = 150;       // the same exactly, in 90 kHz ticks

// The 100-ns time that a writer's 90 kHz stamp (t * 9 / 1000, rounded down) turns back
// into `ticks` exactly.
int64_t TimeOfTicks(int64_t ticks) {
    return (ticks * 1000 + 8) / 9;
}
// The first time on that grid at or after `time`.
int64_t OnTickGrid(int64_t time) {
    const int64_t ticks = time * 9 / 1000;
    return TimeOfTicks(TimeOfTicks(ticks) < time ? ticks + 1 : ticks);
}
constexpr size_t kOutputBlock = 1 << 16;
// Bytes a clip thread reads at once: whole blocks (or sectors), a fraction of a stream
// ring of the parser so that one run's payload always fits.
constexpr size_t kReadRun = 28 * kSectorUserSize;

std::unique_ptr<CPsParser> MakeClipParser(int fileType) {
    if (fileType == kFileMpeg1 || fileType == kFileVcd)
        return std::unique_ptr<CPsParser>(new (std::nothrow) CMpeg1StreamParser);
    return std::unique_ptr<CPsParser>(new (std::nothrow) CMpeg2StreamParser);
}

int AudioKindOfIndex(int index) {
    return index < kAc3IndexBase ? kAudioMpeg : index < kLpcmIndexBase ? kAudioAc3 : kAudioLpcm;
}

}  // namespace

CEditEngine::CEditEngine() = default;

CEditEngine::~CEditEngine() {
    Stop();
    Wait();
}

bool CEditEngine::SetCapacity(int n) {
    if (n < 0) return false;
    if (size_t(n) == capacity_) return true;
    clips_.clear();
    totalLength_ = 0;
    capacity_ = size_t(n);
    clips_.reserve(capacity_);
    return true;
}

void CEditEngine::SetWriterType(int type) {
    if (type == writerType_ && writer_) return;
    writerType_ = type;
    writer_.reset();
}

void CEditEngine::SetAudioKind(int kind, const AudioFormat* format) {
    audioKind_ = kind;
    lpcmSet_ = format != nullptr;
    if (format) lpcmFormat_ = *format;
}

void CEditEngine::SetSplitSize(int64_t size) {
    if (size >= 0) splitSize_ = size;
}

void CEditEngine::Resume() {
    std::lock_guard<std::mutex> hold(stateLock_);
    paused_ = false;
    stateChanged_.notify_all();
}

void CEditEngine::GetProgress(int64_t* current, int64_t* total) const {
    if (current) *current = currentTime_;
    if (total) *total = totalLength_;
}

std::string CEditEngine::GetPartName(int index, const std::string& name) {
    if (index <= 0) return name;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%04d.mpg", index);
    const size_t slash = name.find_last_of("/\\");
    const size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot < fileStart) return name + suffix;
    return name.substr(0, dot) + suffix;
}

void CEditEngine::OutputStreams(bool* video, bool* audio) const {
    *video = *audio = !clips_.empty();
}

bool CEditEngine::ProbeClipItem(bool mpeg1, ClipItem* item) {
    int64_t offset = 0;
    item->sectorMode = GetCdxaDataOffset(item->path, &offset);
    item->dataOffset = item->sectorMode ? offset : 0;
    ClipStart start;
    if (!ScanClipStart(mpeg1, item->path, item->sectorMode, item->dataOffset, &start)) return false;
    // This engine times clips by their video whenever a frame duration is known.
    const bool byVideo = probeByVideo_ && start.frameDuration > 0 && start.firstVideoTime != kNoTime;
    int64_t first = kNoTime;
    if (byVideo) {
        first = start.firstVideoTime;
    } else {
        for (int64_t t : {start.firstVideoTime, start.firstAudioTime})
            if (t != kNoTime && (first == kNoTime || t < first)) first = t;
    }
    if (first == kNoTime) return false;
    ClipEnd end;
    if (!ScanClipEnd(mpeg1, item->path, start, item->sectorMode, item->dataOffset, &end)) return false;
    const int64_t last = byVideo ? end.videoEnd : std::max(end.videoEnd, end.audioEnd);
    if (last <= first) return false;
    item->firstTime = first;
    item->lastTime = last;
    item->duration = last - first;
    item->firstVideoTime = start.firstVideoTime;
    item->firstAudioTime = start.firstAudioTime;
    item->lastVideoTime = end.videoEnd;
    item->lastAudioTime = end.audioEnd;
    item->frameDuration = std::max<int64_t>(0, start.frameDuration);
    item->audioFrameDuration = start.audioFrameDuration;
    item->videoStream = start.videoStream;
    item->audioStream = start.audioStream;
    item->videoByteRate = start.videoByteRate;
    return true;
}

int CEditEngine::AddClip(const std::string& path, int64_t in, int64_t out, bool fromFile) {
    const int index = AddClipTo(&clips_, capacity_, path, in, out, fromFile);
    if (index >= 0) totalLength_ += clips_.back().out - clips_.back().in;
    return index;
}

int CEditEngine::AddClipTo(std::vector<ClipItem>* list, size_t capacity, const std::string& path, int64_t in,
                           int64_t out, bool fromFile) {
    if (list->size() >= capacity) return -1;
    ClipItem item;
    item.fromFile = fromFile;
    if (fromFile) item.path = path;
    item.in = in;
    item.out = out;
    if (!fromFile) {
        item.hostIn = in;
        item.hostOut = out;
        item.duration = out - in;
        item.frameDuration = 333667;
        item.audioFrameDuration = 260000;
        item.lastVideoTime = item.lastAudioTime = item.duration;
    } else {
        const ClipItem* seen = nullptr;
        for (const ClipItem& c : *list)
            if (c.fromFile && c.path == path) seen = &c;
        if (seen) {
            item = *seen;
            item.in = in;
            item.out = out;
        } else {
            const int type = GetMpegFileType(path);
            if (type < kFileMpeg1 || type > kFileSvcd) return -2;
            if (!ProbeClipItem(type == kFileMpeg1 || type == kFileVcd, &item)) return -3;
            item.fileType = type;
        }
        if (item.in == kNoTime) item.in = 0;
        if (item.out == kNoTime) item.out = item.duration;
        // A cut that holds nothing is refused rather than widened to a GOP.
        if (item.in >= item.duration) return -5;
        if (item.in >= item.out) return -4;
        item.in = std::clamp<int64_t>(item.in, 0, item.duration);
        item.out = std::clamp<int64_t>(item.out, item.in, item.duration);
    }
    list->push_back(item);
    return int(list->size()) - 1;
}

bool CEditEngine::Start() {
    if (walker_.Running() || muxer_.Running()) return false;
    // A host segment needs a host to render it.
    if (!segmentProc_)
        for (const ClipItem& c : clips_)
            if (!c.fromFile) return false;
    abort_ = false;
    paused_ = false;
    // A run begins with every flag fresh, whatever the last run left behind.
    videoOk_ = audioOk_ = true;
    videoFinished_ = audioFinished_ = false;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        walkerDone_ = false;
        videoSegmentActive_ = audioSegmentActive_ = false;
    }
    const size_t videoCap = videoRate_ > 0 ? size_t(videoRate_ * 2 / 8) : 5120000;
    const size_t audioCap = audioRate_ > 0 ? size_t(audioRate_ * 2 / 8) : audioQueueDefault_;
    if (!videoQueue_.Create(std::max<size_t>(videoCap, 65536)) ||
        !audioQueue_.Create(std::max<size_t>(audioCap, 65536)))
        return false;
    walkFailed_ = false;
    if (!walker_.Start([this] {
            // The walker ends its queues before it returns, so the mux loop may end them
            // as a finished output first: the failure is kept apart for Wait.
            if (!Walk()) {
                walkFailed_ = true;
                Stop();
            }
        })) {
        std::lock_guard<std::mutex> hold(stateLock_);
        walkerDone_ = true;
        return false;
    }
    if (!muxer_.Start([this] {
            muxResult_ = MuxFile();
            if (muxResult_ == kMuxFailed) Stop();
        })) {
        Stop();
        return false;
    }
    return true;
}

int CEditEngine::Wait() {
    walker_.Join();
    muxer_.Join();
    return walkFailed_ ? int(kMuxFailed) : muxResult_.load();
}

void CEditEngine::AbortRun() {
    abort_ = true;
    videoQueue_.Signal();
    audioQueue_.Signal();
    std::lock_guard<std::mutex> hold(stateLock_);
    stateChanged_.notify_all();
}

void CEditEngine::Stop() {
    AbortRun();
    if (hostStream_) hostStream_->Abort();
    std::unique_lock<std::mutex> hold(stateLock_);
    // Every wait of the walker and its clip threads includes the abort, so this ends.
    stateChanged_.wait(hold, [&] { return walkerDone_; });
}

bool CEditEngine::WaitWhilePaused() {
    std::unique_lock<std::mutex> hold(stateLock_);
    while (paused_ && !abort_)
        stateChanged_.wait_for(hold, std::chrono::milliseconds(500));
    return !abort_;
}

// ---------------------------------------------------------------------------------------
// Clip walker

bool CEditEngine::ReadLpcmFormat(const ClipItem& clip, AudioFormat* format) {
    ClipFile f(clip.path);
    std::unique_ptr<CPsParser> parser = MakeClipParser(clip.fileType);
    if (!f || !parser || !parser->Reset() || clip.audioStream < kLpcmIndexBase) return false;
    BlockReader reader(&f, clip.sectorMode, clip.dataOffset, kSectorUserSize);
    if (!reader.Seek(0)) return false;
    std::vector<uint8_t> block(kSectorUserSize);
    // Bounded: the format stands in the first LPCM packet, near the start.
    for (int blocks = 0; blocks < 2048; ++blocks) {
        const size_t n = reader.Next(block.data());
        if (n == 0) return false;
        parser->Feed(block.data(), n);
        if (parser->GetLpcmFormat(clip.audioStream, format)) return true;
    }
    return false;
}

bool CEditEngine::LoadFirstSequenceHeader(const ClipItem& clip) {
    firstSequence_.clear();
    ClipFile f(clip.path);
    std::unique_ptr<CPsParser> parser = MakeClipParser(clip.fileType);
    if (!f || !parser || !parser->Reset() || clip.videoStream < 0) return false;
    BlockReader reader(&f, clip.sectorMode, clip.dataOffset, kSectorUserSize);
    if (!reader.Seek(0)) return false;
    std::vector<uint8_t> block(kSectorUserSize);
    PayloadBuffer payload;
    // Bounded: a clip whose first few megabytes hold no sequence header has none to lend.
    for (int blocks = 0; blocks < 2048; ++blocks) {
        const size_t n = reader.Next(block.data());
        if (n == 0) break;
        parser->Feed(block.data(), n);
        parser->TakeVideo(clip.videoStream, payload.data(), payload.size());
        ParserItem item;
        bool inHeader = false;
        while (parser->NextItem(&item)) {
            if (inHeader) return true;  // the next item ends the header
            if (item.kind != kItemSequenceHeader) continue;
            const size_t len = SequenceHeaderLength(item.data, item.available);
            if (len == 0) continue;
            // The header with its extensions up to the next item, bounded by the store.
            size_t end = len;
            while (end + 4 <= item.available && end < kStoredSequenceMax) {
                const uint8_t* p = item.data + end;
                if (p[0] == 0 && p[1] == 0 && p[2] == 1 && (p[3] == 0xB8 || p[3] == 0x00 || p[3] == 0xB3)) break;
                ++end;
            }
            end = std::min(end, kStoredSequenceMax);
            firstSequence_.assign(item.data, item.data + end);
            inHeader = true;
        }
        if (inHeader) return true;
    }
    return !firstSequence_.empty();
}

bool CEditEngine::PutSilentFrame(int64_t time) {
    if (audioKind_ == kPsAudioLpcm) {
        // Zero samples are LPCM silence.
        std::vector<uint8_t> zeros(size_t(std::max(0, audioFrameLength_)), 0);
        if (zeros.empty()) return false;
        return audioQueue_.Put(time, kNoTime, kUnitAudioFrame, zeros.size(), zeros.data());
    }
    size_t length = 0;
    const uint8_t* frame = audioKind_ == kPsAudioAc3 ? FindSilentAc3Frame(audioHeader_, ac3SizeByte_, &length)
                                                     : FindSilentMpegAudioFrame(audioHeader_, &length);
    if (frame) return audioQueue_.Put(time, kNoTime, kUnitAudioFrame, length, frame);
    return audioQueue_.RepeatTail(time, kNoTime);
}

// Puts silence from the audio time base up to `upTo`, while the gap exceeds half a frame.
void CEditEngine::FillAudioGap(int64_t upTo) {
    if (!haveAudioHeader_ || audioFrameDuration_ <= 0) {
        audioBase_ = std::max(audioBase_, upTo);
        return;
    }
    // Bounded by the gap: at most one frame per frame duration of missing audio.
    while (!abort_ && upTo - audioBase_ > audioFrameDuration_ / 2) {
        if (!PutSilentFrame(audioBase_)) break;
        audioBase_ = NextAudioBase(audioBase_);
    }
}

int64_t CEditEngine::NextAudioBase(int64_t time) const {
    // LPCM frames last 150 ticks exactly, which no whole count of 100-ns units is: from a
    // time on the 90 kHz grid, the next lies 150 ticks on, so that no stamp a reader
    // computes from the bytes before it is off by a rounding.
    if (audioKind_ == kPsAudioLpcm) return TimeOfTicks(time * 9 / 1000 + kLpcmFrameTicks);
    return time + audioFrameDuration_;
}

int CEditEngine::ProcFile() {
    CThreadNameWindow marker("SEdt-ProcFile");
    int result = 1;
    videoBase_ = audioBase_ = 0;
    haveAudioHeader_ = false;
    audioHeader_ = 0;
    audioFrameDuration_ = 0;
    audioFrameLength_ = 0;
    if (!clips_.empty() && clips_[0].fromFile) LoadFirstSequenceHeader(clips_[0]);
    for (size_t i = 0; i < clips_.size() && !abort_; ++i) {
        const ClipItem& clip = clips_[i];
        if (!clip.fromFile) {
            if (!RunHostSegment(clip, i == 0)) {
                result = 0;
                break;
            }
            continue;
        }
        ClipRun run;
        run.first = i == 0;
        run.videoBase = videoBase_;
        int videoResult = kClipOk, audioResult = kClipOk;
        {
            common::Thread video, audio;
            const bool started = video.Start([&] { videoResult = ProcVFile(clip, &run); }) &&
                                 audio.Start([&] { audioResult = ProcAFile(clip, &run); });
            if (!started) {
                abort_ = true;
                result = 0;
            }
        }
        if (videoResult != kClipOk) videoOk_ = false;
        if (audioResult != kClipOk) audioOk_ = false;
        if (run.videoWritten) videoBase_ += run.v1 - run.v0;
        FillAudioGap(videoBase_);
        if (videoResult != kClipOk || audioResult != kClipOk) {
            result = 0;
            break;
        }
    }
    if (abort_) result = 0;
    videoFinished_ = true;
    audioFinished_ = true;
    videoQueue_.Finish();
    audioQueue_.Finish();
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        walkerDone_ = true;
        stateChanged_.notify_all();
    }
    return result;
}

// ---------------------------------------------------------------------------------------
// Host segments

// Asks the host for one segment and waits until both sinks have ended it (or the run is
// stopped); then moves the time bases past what the sinks delivered. False when the host
// refused the segment or the run was stopped.
bool CEditEngine::RunHostSegment(const ClipItem& clip, bool first) {
    PrepareHostAudio();
    if (!first) FillAudioGap(videoBase_);
    return RunSegment(kSegmentVideo | kSegmentAudio, segmentProc_, clip);
}

void CEditEngine::PrepareHostAudio() {
    std::lock_guard<std::mutex> hold(stateLock_);
    if (audioKind_ == kPsAudioLpcm && lpcmSet_ && LpcmFrameBytes(lpcmFormat_) > 0) {
        audioFrameLength_ = LpcmFrameBytes(lpcmFormat_);
        if (audioFrameDuration_ <= 0) audioFrameDuration_ = kLpcmFrameDuration;
    }
}

// Asks the host for one segment of the lists in `sides` and waits until their sinks have
// ended it (or the run is stopped); then moves those lists' time bases past what the
// sinks delivered. False when the host refused the segment or the run was stopped.
bool CEditEngine::RunSegment(int sides, const SegmentProc& proc, const ClipItem& clip) {
    const bool video = (sides & kSegmentVideo) != 0, audio = (sides & kSegmentAudio) != 0;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        if (video) {
            segFirstVideo_ = segLastVideo_ = kNoTime;
            decodeBase_ = videoBase_;
            pictureCount_ = 0;
            videoSegmentDone_ = false;
            videoSegmentActive_ = true;
        }
        if (audio) {
            segFirstAudio_ = segLastAudio_ = kNoTime;
            segAudioOrigin_ = kNoTime;
            hostAudioStarted_ = hostAudioLost_ = false;
            hostAudioLead_ = 0;
            segSkip_ = std::max<int64_t>(0, clip.skip);
            skippingAudio_ = false;
            hostAudio_.clear();
            hostAudioClock_ = -1;
            audioSegmentDone_ = false;
            audioSegmentActive_ = true;
        }
        stateChanged_.notify_all();
    }
    const bool goOn = proc && proc(clip.hostIn, clip.hostOut);
    {
        std::unique_lock<std::mutex> hold(stateLock_);
        if (goOn)
            stateChanged_.wait(
                hold, [&] { return ((!video || videoSegmentDone_) && (!audio || audioSegmentDone_)) || abort_; });
        if (video) videoSegmentActive_ = false;
        if (audio) audioSegmentActive_ = false;
        stateChanged_.notify_all();
        // A sink still inside a call (it ends at once on abort) finishes before its times
        // are read.
        stateChanged_.wait(hold, [&] { return (!video || videoSinkCalls_ == 0) && (!audio || audioSinkCalls_ == 0); });
    }
    if (!goOn || abort_) return false;
    // Audio goes on where the last whole frame ended; a partial frame left at the end of
    // the segment is dropped.
    if (audio && hostAudioClock_ >= 0) audioBase_ = int64_t(hostAudioClock_);
    if (video) {
        if (segFirstVideo_ == kNoTime) {
            videoBase_ += clip.out - clip.in;
        } else {
            const int64_t frame = hostFrameDuration_ > 0 ? hostFrameDuration_ : clip.frameDuration;
            videoBase_ += frame + segLastVideo_ - segFirstVideo_;
        }
    }
    return true;
}

bool CEditEngine::EnterSink(bool video, bool end) {
    std::unique_lock<std::mutex> hold(stateLock_);
    bool& done = video ? videoSegmentDone_ : audioSegmentDone_;
    const bool& active = video ? videoSegmentActive_ : audioSegmentActive_;
    // A list whose walk has ended asks for no more segments.
    const std::atomic<bool>& finished = video ? videoFinished_ : audioFinished_;
    stateChanged_.wait(hold, [&] { return abort_ || walkerDone_ || finished || (active && !done); });
    if (abort_ || walkerDone_ || finished) return false;
    if (end) {
        done = true;
        stateChanged_.notify_all();
        return false;
    }
    ++(video ? videoSinkCalls_ : audioSinkCalls_);
    return true;
}

void CEditEngine::LeaveSink(bool video) {
    std::lock_guard<std::mutex> hold(stateLock_);
    --(video ? videoSinkCalls_ : audioSinkCalls_);
    stateChanged_.notify_all();
}

void CEditEngine::MarkListFinished(bool video) {
    std::lock_guard<std::mutex> hold(stateLock_);
    (video ? videoFinished_ : audioFinished_) = true;
    stateChanged_.notify_all();
}

void CEditEngine::PutHostVideo(int64_t time, const uint8_t* data, size_t length, int kind) {
    const int64_t frame = hostFrameDuration_ > 0 ? hostFrameDuration_ : 333667;
    const int64_t t1 = time == kNoTime ? kNoTime : time - segFirstVideo_ + videoBase_;
    const int64_t t2 = std::max<int64_t>(0, decodeBase_ + frame * pictureCount_);
    videoQueue_.Put(t1, t2, kind, length, data);
    if (kind == kUnitPicture) ++pictureCount_;
}

void CEditEngine::VideoSink(int64_t time, const uint8_t* data, size_t length) {
    // The wait holds no lock of the sink's, so a host that calls again after it ended its
    // share cannot hold up the walker.
    if (!EnterSink(true, !data || length == 0)) return;
    std::lock_guard<std::mutex> sink(videoSinkLock_);
    const SinkCall call(this, true);
    const bool firstData = segFirstVideo_ == kNoTime;
    if (time != kNoTime) {
        if (firstData) segFirstVideo_ = time;
        segLastVideo_ = segLastVideo_ == kNoTime ? time : std::max(segLastVideo_, time);
    }
    auto startCode = [](const uint8_t* p, size_t n) {
        return n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 ? p[3] : -1;
    };
    const int code = startCode(data, length);
    if (code == 0xB7) return;  // a sequence end belongs to the joined stream's end only
    if (code == 0xB3 || code == 0xB8) {
        if (code == 0xB3 && hostFrameDuration_ == 0) {
            int64_t d = 0;
            if (FrameDurationFromSequenceHeader(data, length, &d) && d > 0) hostFrameDuration_ = d;
        }
        const int64_t frame = hostFrameDuration_ > 0 ? hostFrameDuration_ : 333667;
        const int kind = code == 0xB3 ? kUnitSequenceHeader : kUnitGop;
        if (time != kNoTime && segFirstVideo_ != kNoTime) {
            decodeBase_ = videoBase_ + time - segFirstVideo_;
            pictureCount_ = 0;
        }
        const size_t from = code == 0xB3 ? 12 : 8;
        const int64_t at = length > from ? FindPictureStartCode(data + from, length - from) : -1;
        if (at < 0) {
            PutHostVideo(kNoTime, data, length, kind);
            return;
        }
        // The headers go out untimed; the picture behind them keeps the sample's time.
        const size_t split = from + size_t(at);
        PutHostVideo(kNoTime, data, split, kind);
        int tr = 0;
        if (time != kNoTime && ReadTemporalReference(data + split, length - split, &tr)) {
            // Pictures shown before this one (lower temporal_reference) come later in
            // decoding order: the segment begins with the first shown.
            decodeBase_ -= int64_t(tr) * frame;
            if (firstData) segFirstVideo_ -= int64_t(tr) * frame;
        }
        PutHostVideo(time, data + split, length - split, kUnitPicture);
        return;
    }
    PutHostVideo(time, data, length, code == 0x00 ? kUnitPicture : kUnitOther);
}

// Bytes of the host audio frame at p (0: more bytes needed, -1: no frame starts here) and
// its duration in 100-ns units.
int CEditEngine::HostAudioFrameLength(const uint8_t* p, size_t n, double* duration) {
    if (audioKind_ == kPsAudioLpcm) {
        *duration = double(kSecond) / 600.0;
        return audioFrameLength_ > 0 ? audioFrameLength_ : -1;
    }
    if (n < 8) return 0;
    const std::span<const uint8_t> bytes(p, n);
    if (audioKind_ == kPsAudioAc3) {
        common::Ac3FrameHeader h;
        if (!common::ReadAc3Header(bytes, &h) || h.frameBytes <= 0 || h.sampleRate <= 0) return -1;
        *duration = double(h.samples) * double(kSecond) / double(h.sampleRate);
        return h.frameBytes;
    }
    common::MpegAudioFrameHeader h;
    if (!common::ReadMpegAudioHeader(bytes, &h) || h.frameBytes <= 0 || h.sampleRate <= 0) return -1;
    *duration = double(h.samples) * double(kSecond) / double(h.sampleRate);
    return h.frameBytes;
}

// Host audio arrives in blocks of any size; it leaves as whole frames, each timed one
// frame after the one before, so that no frame is cut or counted short.
void CEditEngine::PutHostAudioFrames(const uint8_t* data, size_t length) {
    hostAudio_.insert(hostAudio_.end(), data, data + length);
    size_t at = 0;
    while (!abort_) {
        const size_t avail = hostAudio_.size() - at;
        if (avail == 0) break;
        double duration = 0;
        const int frame = HostAudioFrameLength(hostAudio_.data() + at, avail, &duration);
        if (frame < 0) {
            ++at;  // not a frame start: look for the next sync
            hostAudioLost_ = true;
            if (!hostAudioStarted_) ++hostAudioLead_;
            continue;
        }
        if (frame == 0 || avail < size_t(frame)) break;
        const uint8_t* p = hostAudio_.data() + at;
        if (hostAudioLost_) {
            // Inside frame data a sync pattern may appear by chance: after lost sync a
            // frame start counts only when the next frame starts right behind it.
            double next = 0;
            const int following = HostAudioFrameLength(p + frame, avail - size_t(frame), &next);
            if (following == 0) break;
            if (following < 0) {
                ++at;
                if (!hostAudioStarted_) ++hostAudioLead_;
                continue;
            }
            hostAudioLost_ = false;
        }
        if (!hostAudioStarted_) {
            // The segment's audio begins at the first whole frame: block times count from
            // there, not from the bytes before it.
            hostAudioStarted_ = true;
            if (segAudioOrigin_ != kNoTime && hostAudioLead_ > 0)
                segAudioOrigin_ += int64_t(double(hostAudioLead_) * duration / double(frame));
        }
        {
            std::lock_guard<std::mutex> hold(stateLock_);
            if (!haveAudioHeader_) {
                haveAudioHeader_ = true;
                audioHeader_ = audioKind_ == kPsAudioLpcm ? 0 : LowFirst32(p);
                ac3SizeByte_ = frame > 4 ? p[4] : 0;
                audioFrameDuration_ = int64_t(duration);
                audioFrameLength_ = audioKind_ == kPsAudioMpeg ? MpegAudioFrameLength(audioHeader_) : frame;
            }
        }
        // LPCM frames run on the 90 kHz grid, 150 ticks apart exactly, as the files' do.
        const int64_t time =
            audioKind_ == kPsAudioLpcm ? OnTickGrid(int64_t(hostAudioClock_)) : int64_t(hostAudioClock_);
        if (!audioQueue_.Put(time, kNoTime, kUnitAudioFrame, size_t(frame), p)) break;
        hostAudioClock_ = audioKind_ == kPsAudioLpcm ? double(NextAudioBase(time)) : hostAudioClock_ + duration;
        at += size_t(frame);
    }
    hostAudio_.erase(hostAudio_.begin(), hostAudio_.begin() + std::ptrdiff_t(at));
}

void CEditEngine::AudioSink(int64_t time, const uint8_t* data, size_t length) {
    // The wait holds no lock of the sink's, so a host that calls again after it ended its
    // share cannot hold up the walker.
    if (!EnterSink(false, !data || length == 0)) return;
    std::lock_guard<std::mutex> sink(audioSinkLock_);
    const SinkCall call(this, false);
    if (time != kNoTime) {
        if (segFirstAudio_ == kNoTime) segFirstAudio_ = time;
        segLastAudio_ = std::max(segLastAudio_, time);
        // MPEG audio of a clip with a skip begins `skip` after the segment's first audio
        // time; an untimed block goes with the timed block before it.
        skippingAudio_ = audioKind_ == kPsAudioMpeg && time - segFirstAudio_ < segSkip_;
        if (skippingAudio_) {
            hostAudio_.clear();
            return;
        }
        // A block's time dates its first byte; while a frame is in progress the frames
        // run on from the time of its start.
        // The first block taken begins at the audio base.
        if (segAudioOrigin_ == kNoTime) segAudioOrigin_ = time;
        const double blockTime = double(time - segAudioOrigin_ + audioBase_);
        // LPCM runs on from the frame before unless the block's time is half a frame off:
        // a time in 100-ns units would put the frame a tick off the 150-tick chain.
        const bool onChain = audioKind_ == kPsAudioLpcm && hostAudioClock_ >= 0 &&
                             std::abs(blockTime - hostAudioClock_) < double(kLpcmFrameDuration) / 2;
        if (hostAudio_.empty() && !onChain) hostAudioClock_ = blockTime;
    } else if (skippingAudio_) {
        return;
    }
    if (hostAudioClock_ < 0) hostAudioClock_ = double(audioBase_);
    PutHostAudioFrames(data, length);
}

// A start position for reading the clip: the latest of a few positions one second apart,
// going back from the in point's share of the file, from which the first entry point (a
// video sequence header or GOP, or an audio frame) before the in point is read. Ends at
// the start of the file.
int64_t CEditEngine::SeekStart(const ClipItem& clip, bool video) {
    if (clip.in <= 0 || clip.duration <= 0) return 0;
    ClipFile f(clip.path);
    std::unique_ptr<CPsParser> parser = MakeClipParser(clip.fileType);
    if (!f || !parser) return 0;
    int64_t size = f.Size();
    if (clip.sectorMode) size = std::max<int64_t>(0, size - clip.dataOffset);
    if (size <= 0) return 0;
    const int64_t perSecond = std::max<int64_t>(4096, int64_t(double(size) * double(kSecond) / double(clip.duration)));
    const int64_t target = clip.firstTime + clip.in;
    const int64_t estimate = int64_t(double(clip.in) / double(clip.duration) * double(size));
    const int stream = video ? clip.videoStream : clip.audioStream;
    if (stream < 0) return 0;
    BlockReader reader(&f, clip.sectorMode, clip.dataOffset, kSectorUserSize);
    std::vector<uint8_t> block(kSectorUserSize);
    PayloadBuffer payload;
    for (int pass = 0; pass < 64 && !abort_; ++pass) {
        const int64_t from = std::clamp<int64_t>(estimate - int64_t(pass) * perSecond, 0, size);
        if (from == 0) return 0;
        if (!parser->Reset() || !reader.Seek(from)) return 0;
        bool entry = false, before = false, after = false;
        int64_t read = 0;
        while (!after && read < 4 * perSecond + (1 << 20)) {
            const size_t n = reader.Next(block.data());
            if (n == 0) break;
            read += int64_t(n);
            parser->Feed(block.data(), n);
            if (video)
                parser->TakeVideo(stream, payload.data(), payload.size());
            else
                parser->TakeAudio(stream, payload.data(), payload.size());
            ParserItem item;
            while (!after && parser->NextItem(&item)) {
                if (video && (item.kind == kItemSequenceHeader || item.kind == kItemGop)) entry = true;
                if (item.time == kNoTime) continue;
                const bool counts = video ? item.kind == kItemPicture || entry : true;
                if (item.time > target) {
                    after = true;
                } else if (counts && (!video || entry)) {
                    before = true;
                }
            }
        }
        if (before) return from;
    }
    return 0;
}

namespace {

// The display time of temporal_reference 0 in the first GOP read from `from`, taken from
// the first picture of that GOP whose packet carries a time stamp; kNoTime when none does
// within a few megabytes. It times the pictures of a first GOP whose opening packets carry
// no stamp (a stamp is required only every 0.7 s, ISO/IEC 13818-1 2.7.4).
int64_t FirstGopBase(const ClipItem& clip, int64_t from, int64_t frame) {
    ClipFile f(clip.path);
    std::unique_ptr<CPsParser> parser = MakeClipParser(clip.fileType);
    if (!f || !parser || !parser->Reset()) return kNoTime;
    parser->SetStreamsWanted(true, false);
    BlockReader reader(&f, clip.sectorMode, clip.dataOffset, kSectorUserSize);
    if (!reader.Seek(from)) return kNoTime;
    std::vector<uint8_t> block(kReadRun);
    int gops = 0;
    for (size_t read = 0; read < (size_t{8} << 20);) {
        const size_t n = reader.NextRun(block.data(), block.size());
        if (n == 0) break;
        read += n;
        parser->Feed(block.data(), n);
        parser->TakeVideo(clip.videoStream, nullptr, kPayloadBufferSize);
        ParserItem item;
        while (parser->NextItem(&item)) {
            if (item.kind == kItemGop && ++gops > 1) return kNoTime;
            int tr = 0;
            if (item.kind == kItemPicture && gops == 1 && item.time != kNoTime &&
                ReadTemporalReference(item.data, item.available, &tr))
                return item.time - int64_t(tr) * frame;
        }
    }
    return kNoTime;
}

}  // namespace

// What ProcVFile keeps while it walks a clip's video: where the bytes between items go,
// the header bytes staged before the clip starts, and the GOP's timing.
struct CEditEngine::VideoCut {
    enum class Sink { None, Stage, Queue };
    int64_t clipStart = 0, clipEnd = 0, seekStart = 0;
    int64_t frame = 0;
    Sink sink = Sink::None;
    std::vector<uint8_t> stage;  // header bytes before the clip has started
    int stageKind = 0;
    bool started = false, stop = false, queueOk = true;
    bool firstGop = true, afterSequence = false, gopClosed = false;
    int64_t gopBase = kNoTime;  // time of temporal_reference 0 in the current GOP
    int maxTr = -1, index = 0;
    int64_t entryTime = kNoTime;
    int64_t v0 = 0, maxEnd = kNoTime;

    // The display end of the pictures so far: where a cut before this entry ends.
    int64_t EntryEnd() const { return gopBase == kNoTime ? kNoTime : gopBase + int64_t(maxTr + 1) * frame; }
};

void CEditEngine::CutAdd(VideoCut& c, const uint8_t* p, int64_t n) {
    if (n <= 0) return;
    if (c.sink == VideoCut::Sink::Stage) {
        // Header bytes are bounded: a run of them longer than the stage is not a header a
        // clip can start with.
        if (c.stage.size() + size_t(n) > 20480) {
            c.stage.clear();
            c.stageKind = 0;
            c.sink = VideoCut::Sink::None;
            return;
        }
        c.stage.insert(c.stage.end(), p, p + n);
    } else if (c.sink == VideoCut::Sink::Queue) {
        c.queueOk = c.queueOk && videoQueue_.Append(size_t(n), p);
    }
}

void CEditEngine::CutBeginHeader(VideoCut& c, int kind) {
    if (c.started) {
        c.queueOk = c.queueOk && videoQueue_.Put(kNoTime, kNoTime, kind, 0, nullptr);
        c.sink = VideoCut::Sink::Queue;
    } else {
        c.stage.clear();
        c.stageKind = kind;
        c.sink = VideoCut::Sink::Stage;
    }
}

// A sequence header or GOP header: the GOP's timing moves on, and the header opens a unit
// unless a GOP header joins the sequence header before it, or the clip has ended.
void CEditEngine::CutHeaderItem(VideoCut& c, const ClipItem& clip, const ParserItem& item) {
    const bool gop = item.kind == kItemGop;
    if (gop && c.gopBase != kNoTime) {
        c.gopBase += int64_t(c.maxTr + 1) * c.frame;
        c.maxTr = -1;
    }
    if (gop) {
        c.index = 0;
        ReadGopFlags(item.data, item.available, &c.gopClosed, nullptr);
        // A first GOP whose opening packets carry no stamp takes its time from a later
        // picture of its own, so that it is not lost.
        if (c.firstGop && c.gopBase == kNoTime) c.gopBase = FirstGopBase(clip, c.seekStart, c.frame);
        c.firstGop = false;
    }
    if (item.time != kNoTime) c.entryTime = item.time;
    if (gop && c.afterSequence) {
        c.afterSequence = false;  // the GOP header joins the sequence header unit
        return;
    }
    if (c.started) {
        const int64_t end = c.EntryEnd();
        if (end != kNoTime && end >= c.clipEnd) {
            c.stop = true;
            return;
        }
    }
    CutBeginHeader(c, gop ? kUnitGop : kUnitSequenceHeader);
    c.afterSequence = !gop;
}

// The clip starts at the staged headers: its origin is published and the GOP is marked
// broken_link (ISO/IEC 13818-2 6.3.8), since the B pictures before the first I picture
// lose their forward reference.
void CEditEngine::CutStart(VideoCut& c, ClipRun* run, int64_t shown) {
    c.started = true;
    c.v0 = shown;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        run->originKnown = true;
        run->v0 = c.v0;
        stateChanged_.notify_all();
    }
    for (size_t k = 0; k + common::kMpegGopHeaderBytes <= c.stage.size(); ++k) {
        if (!common::IsMpegStartCode(&c.stage[k], common::kMpegGroupStartCode)) continue;
        common::WriteMpegHeaderField(std::span<uint8_t>(c.stage).subspan(k), common::MpegHeaderField::kBrokenLink, 1);
        break;
    }
    c.queueOk = c.queueOk && videoQueue_.Put(kNoTime, kNoTime, c.stageKind, c.stage.size(), c.stage.data());
    c.stage.clear();
}

// A picture: its time from its stamp, the entry's or the GOP's; before the clip has
// started, the start test; then the picture unit with its times on the output's clock.
void CEditEngine::CutPictureItem(VideoCut& c, ClipRun* run, const ParserItem& item) {
    c.afterSequence = false;
    // The parser keeps a picture's first 6 bytes readable.
    int tr = 0;
    ReadTemporalReference(item.data, item.available, &tr);
    const int type = ReadPictureCodingType(item.data, item.available);
    int64_t t = item.time != kNoTime ? item.time : c.entryTime;
    if (t == kNoTime && c.gopBase != kNoTime) t = c.gopBase + int64_t(tr) * c.frame;
    c.entryTime = kNoTime;
    if (t != kNoTime) c.gopBase = t - int64_t(tr) * c.frame;
    c.maxTr = std::max(c.maxTr, tr);
    if (!c.started) {
        // The clip starts at the first GOP whose first displayed picture lies at or after
        // the in point: its I picture, or with a closed GOP the pictures before it too.
        const int64_t shown = c.gopClosed ? t - int64_t(tr) * c.frame : t;
        if (c.stageKind == 0 || t == kNoTime || type != 1 || shown < c.clipStart) {
            c.stage.clear();
            c.stageKind = 0;
            c.sink = VideoCut::Sink::None;
            return;
        }
        CutStart(c, run, shown);
    }
    int64_t t1 = kNoTime, t2 = kNoTime;
    if (t != kNoTime) {
        t1 = t - c.v0 + videoBase_;
        t2 = t1 + int64_t(c.index - tr) * c.frame;
        c.maxEnd = c.maxEnd == kNoTime ? t + c.frame : std::max(c.maxEnd, t + c.frame);
    }
    c.queueOk = c.queueOk && videoQueue_.Put(t1, t2, kUnitPicture, 0, nullptr);
    c.sink = VideoCut::Sink::Queue;
    ++c.index;
}

int CEditEngine::ProcVFile(const ClipItem& clip, ClipRun* run) {
    CThreadNameWindow marker("SEdt-ProcVFile");
    auto publishEnd = [&](bool written, int64_t v0, int64_t v1) {
        std::lock_guard<std::mutex> hold(stateLock_);
        if (!run->originKnown) {
            run->originKnown = true;
            run->v0 = v0;
        }
        run->videoWritten = written;
        run->endKnown = true;
        run->v1 = std::max(v1, run->v0);
        stateChanged_.notify_all();
    };
    VideoCut c;
    c.clipStart = clip.firstTime + clip.in;
    c.clipEnd = clip.firstTime + clip.out;
    c.v0 = c.clipStart;
    ClipFile f(clip.path);
    if (!f) {
        publishEnd(false, c.clipStart, c.clipStart);
        return kClipNoFile;
    }
    std::unique_ptr<CPsParser> parser = MakeClipParser(clip.fileType);
    if (!parser || !parser->Reset() || clip.videoStream < 0) {
        publishEnd(false, c.clipStart, c.clipStart);
        return clip.videoStream < 0 ? kClipOk : kClipNoParser;
    }
    parser->SetStreamsWanted(true, false);
    BlockReader reader(&f, clip.sectorMode, clip.dataOffset, kSectorUserSize);
    c.seekStart = SeekStart(clip, true);
    if (!reader.Seek(c.seekStart)) {
        publishEnd(false, c.clipStart, c.clipStart);
        return kClipNoFile;
    }
    c.frame = clip.frameDuration > 0 ? clip.frameDuration : 400000;
    std::vector<uint8_t> block(kReadRun);
    std::vector<uint8_t> tail;  // the bytes the parser carries into the next take
    while (!c.stop && !abort_ && c.queueOk) {
        const size_t n = reader.NextRun(block.data(), block.size());
        if (n == 0) {
            CutAdd(c, tail.data(), int64_t(tail.size()));  // the end of the file ends the unit
            break;
        }
        parser->Feed(block.data(), n);
        parser->TakeVideo(clip.videoStream, nullptr, kPayloadBufferSize);
        size_t size = 0, carried = 0;
        const uint8_t* walk = parser->WalkBuffer(&size, &carried);
        int64_t from = 0;
        ParserItem item;
        while (!c.stop && parser->NextItem(&item)) {
            // The bytes up to each item belong to the unit before it.
            const int64_t at = item.position + int64_t(carried);
            CutAdd(c, walk + from, at - from);
            from = at;
            if (item.kind == kItemSequenceEnd && c.started) c.stop = true;
            if (item.kind == kItemSequenceHeader || item.kind == kItemGop) CutHeaderItem(c, clip, item);
            if (item.kind == kItemPicture) CutPictureItem(c, run, item);
        }
        if (c.stop) break;
        const int64_t keep = std::min<int64_t>(int64_t(parser->CarriedBytes()), int64_t(size) - from);
        CutAdd(c, walk + from, int64_t(size) - keep - from);
        if (size > 0) tail.assign(walk + size - size_t(keep), walk + size);
    }
    const bool aborted = abort_ || !c.queueOk;
    publishEnd(c.started && c.maxEnd != kNoTime, c.v0, c.maxEnd == kNoTime ? c.v0 : c.maxEnd);
    return aborted ? kClipAborted : kClipOk;
}

// What ProcAFile keeps while it walks a clip's audio: the frames' timing, where the clip's
// audio begins on the output's clock, and the open frame whose bytes are still coming.
struct CEditEngine::AudioCut {
    int kind = 0;
    int64_t clipEnd = 0, v0 = 0;
    bool started = false, stop = false, queueOk = true;
    int64_t origin = 0, base = 0;
    int64_t lastTimed = kNoTime;
    double frameExact = 0;  // 100 ns per frame, unrounded
    int64_t sinceTimed = 0;
    int64_t remaining = 0;  // bytes of the open frame still to come
    bool open = false;
    int64_t lastWritten = kNoTime;
    int64_t v1 = kNoTime;
};

// The audio frame header at `p`: its length, first four bytes and duration (rounded down
// to 100 ns; AudioCut::frameExact keeps it unrounded). False when there is none.
bool CEditEngine::AudioFrameAt(AudioCut& c, const ClipItem& clip, CPsParser* parser, const uint8_t* p, size_t avail,
                               AudioFrame* f) {
    if (c.kind == kAudioMpeg) {
        if (avail < 4) return false;
        f->header = LowFirst32(p);
        common::MpegAudioFrameHeader h;
        if (!common::ReadMpegAudioHeader(std::span<const uint8_t>(p, avail), &h)) return false;
        f->length = h.frameBytes;
        c.frameExact = double(h.samples) * double(kSecond) / double(h.sampleRate);
        f->duration = int64_t(c.frameExact);
    } else if (c.kind == kAudioAc3) {
        common::Ac3FrameHeader h;
        if (!common::ReadAc3Header(std::span<const uint8_t>(p, avail), &h)) return false;
        f->length = h.frameBytes;
        f->header = LowFirst32(p);
        c.frameExact = double(h.samples) * double(kSecond) / double(h.sampleRate);
        f->duration = int64_t(c.frameExact);
    } else {
        AudioFormat lf;
        if (!parser->GetLpcmFormat(clip.audioStream, &lf)) return false;
        f->length = LpcmFrameBytes(lf);
        c.frameExact = double(kSecond) / 600.0;
        f->duration = 16666;
    }
    return f->length > 0;
}

// Frames without a time follow the last timed one at whole frame steps, counted, so that
// long runs do not drift by the rounding of a step. False before the first timed frame.
bool CEditEngine::AudioFrameTime(AudioCut& c, const ParserItem& item, int64_t* a) {
    if (item.time != kNoTime) {
        *a = item.time;
        c.lastTimed = *a;
        c.sinceTimed = 0;
        return true;
    }
    if (c.lastTimed == kNoTime) return false;
    ++c.sinceTimed;
    *a = c.lastTimed + int64_t(double(c.sinceTimed) * c.frameExact);
    return true;
}

// Past the clip's out point the audio waits for where the video ended; it stops at that
// end. False when the run was aborted while waiting.
bool CEditEngine::AudioEndTest(AudioCut& c, ClipRun* run, int64_t a) {
    if (c.v1 == kNoTime && a >= c.clipEnd) {
        std::unique_lock<std::mutex> hold(stateLock_);
        // While this waits, the mux loop may be waiting for this stream's next unit with
        // the video thread held up by its full queue: the flag lets the loop give the
        // video queue room, so the video thread can reach the clip's end.
        audioAwaitsVideo_ = !run->endKnown;
        stateChanged_.wait(hold, [&] { return run->endKnown || abort_; });
        audioAwaitsVideo_ = false;
        if (abort_) return false;
        c.v1 = run->v1;
    }
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        if (run->endKnown) c.v1 = run->v1;
    }
    if (c.v1 != kNoTime && a >= c.v1) c.stop = true;
    return true;
}

// The clip's audio starts at the first frame at or after its video's start (for the first
// clip) or after the audio written so far; the first frame written sets the output's
// audio header.
bool CEditEngine::AudioStartTest(AudioCut& c, const ClipItem& clip, ClipRun* run, int64_t a, const AudioFrame& f,
                                 const uint8_t* p, size_t avail) {
    bool take;
    if (run->first) {
        take = a >= c.v0;
        c.origin = c.v0;
        c.base = run->videoBase;
    } else {
        take = run->videoBase + a - c.v0 >= audioBase_;
        c.origin = a;
        c.base = audioBase_;
    }
    if (!take) return false;
    c.started = true;
    std::lock_guard<std::mutex> hold(stateLock_);
    if (!haveAudioHeader_) {
        haveAudioHeader_ = true;
        audioHeader_ = f.header;
        ac3SizeByte_ = avail > 4 ? p[4] : 0;
        audioFrameDuration_ = clip.audioFrameDuration > 0 ? clip.audioFrameDuration : f.duration;
        audioFrameLength_ = c.kind == kAudioMpeg ? MpegAudioFrameLength(f.header) : f.length;
    }
    return true;
}

// One audio frame item at `p` (`avail` bytes of it in the walk buffer). False when the
// walk of this run's items ends: the run aborted or the queue refused the frame.
bool CEditEngine::AudioItem(AudioCut& c, const ClipItem& clip, ClipRun* run, CPsParser* parser, const uint8_t* p,
                            size_t avail, const ParserItem& item) {
    AudioFrame f;
    if (!AudioFrameAt(c, clip, parser, p, avail, &f)) return true;
    int64_t a = 0;
    if (!AudioFrameTime(c, item, &a)) {
        c.open = false;
        return true;
    }
    if (!AudioEndTest(c, run, a)) return false;
    if (c.stop) return false;
    if (!c.started && !AudioStartTest(c, clip, run, a, f, p, avail)) {
        c.open = false;
        return true;
    }
    int64_t t = c.base + a - c.origin;
    if (c.kind == kAudioLpcm) {
        // LPCM runs at a constant rate: each frame follows the one before by its exact
        // duration, whatever rounding the input's stamps carry, from a first frame on the
        // 90 kHz grid.
        t = c.lastWritten == kNoTime ? OnTickGrid(t) : NextAudioBase(c.lastWritten);
    }
    const size_t take = std::min<size_t>(size_t(f.length), avail);
    c.queueOk = c.queueOk && audioQueue_.Put(t, kNoTime, kUnitAudioFrame, take, p);
    c.remaining = int64_t(f.length) - int64_t(take);
    c.open = true;
    c.lastWritten = t;
    return c.queueOk;
}

int CEditEngine::ProcAFile(const ClipItem& clip, ClipRun* run) {
    CThreadNameWindow marker("SEdt-ProcAFile");
    AudioCut c;
    c.clipEnd = clip.firstTime + clip.out;
    // The video thread publishes where the clip's video begins; until then the audio
    // cannot be placed.
    {
        std::unique_lock<std::mutex> hold(stateLock_);
        stateChanged_.wait(hold, [&] { return run->originKnown || abort_; });
        if (abort_) return kClipAborted;
        c.v0 = run->v0;
        if (run->endKnown && !run->videoWritten) return kClipOk;
    }
    if (clip.audioStream < 0) return kClipOk;
    ClipFile f(clip.path);
    if (!f) return kClipNoFile;
    std::unique_ptr<CPsParser> parser = MakeClipParser(clip.fileType);
    if (!parser || !parser->Reset()) return kClipNoParser;
    parser->SetStreamsWanted(false, true);
    BlockReader reader(&f, clip.sectorMode, clip.dataOffset, kSectorUserSize);
    if (!reader.Seek(SeekStart(clip, false))) return kClipNoFile;
    std::vector<uint8_t> block(kReadRun);
    c.kind = AudioKindOfIndex(clip.audioStream);
    // Audio of another kind than the output's cannot join its stream: the clip's share is
    // filled with the output's own silence after the clip, as for a clip without audio.
    const int outputKind = c.kind == kAudioMpeg ? kPsAudioMpeg : c.kind == kAudioAc3 ? kPsAudioAc3 : kPsAudioLpcm;
    if (outputKind != audioKind_) return kClipOk;

    while (!c.stop && !abort_ && c.queueOk) {
        const size_t n = reader.NextRun(block.data(), block.size());
        if (n == 0) break;
        parser->Feed(block.data(), n);
        parser->TakeAudio(clip.audioStream, nullptr, kPayloadBufferSize);
        size_t size = 0, carried = 0;
        const uint8_t* walk = parser->WalkBuffer(&size, &carried);
        // The rest of the frame left open at the end of the previous take.
        if (c.remaining > 0 && c.open && size > carried) {
            const int64_t k = std::min<int64_t>(c.remaining, int64_t(size - carried));
            c.queueOk = c.queueOk && audioQueue_.Append(size_t(k), walk + carried);
            c.remaining -= k;
        }
        ParserItem item;
        while (!c.stop && parser->NextItem(&item)) {
            const size_t at = size_t(item.position + int64_t(carried));
            if (!AudioItem(c, clip, run, parser.get(), walk + at, size - at, item)) break;
        }
    }
    if (c.lastWritten != kNoTime && audioFrameDuration_ > 0) audioBase_ = NextAudioBase(c.lastWritten);
    return abort_ || !c.queueOk ? kClipAborted : kClipOk;
}

// ---------------------------------------------------------------------------------------
// Output

// For the first GOP of a clip (broken_link set, closed_gop clear): closes the GOP, drops
// the B pictures that precede its I picture in display order (they referred to the
// previous clip) and renumbers temporal_reference from the I picture.
void CEditEngine::FixCutGop(std::vector<uint8_t>* unit, int kind) {
    std::vector<uint8_t>& u = *unit;
    if (kind == kUnitGop || kind == kUnitSequenceHeader) {
        dropping_ = false;
        for (size_t k = 0; k + common::kMpegGopHeaderBytes <= u.size(); ++k) {
            if (!common::IsMpegStartCode(&u[k], common::kMpegGroupStartCode)) continue;
            bool closed = false, broken = false;
            ReadGopFlags(&u[k], u.size() - k, &closed, &broken);
            if (broken && !closed) {
                common::WriteMpegHeaderField(std::span<uint8_t>(u).subspan(k), common::MpegHeaderField::kClosedGop, 1);
                dropping_ = true;
                reference_ = -1;
            }
            break;
        }
        return;
    }
    if (kind != kUnitPicture || !dropping_ || u.size() < 6) return;
    int tr = 0;
    if (!ReadTemporalReference(u.data(), u.size(), &tr)) return;
    const int type = ReadPictureCodingType(u.data(), u.size());
    if (type == 1 && reference_ < 0) reference_ = tr;
    if (reference_ < 0) return;
    if (type == 3 && tr < reference_) {
        u.clear();
        return;
    }
    WriteTemporalReference(u.data(), u.size(), std::max(0, tr - reference_));
}

bool CEditEngine::SendOutput(std::FILE* file) {
    block_.resize(kOutputBlock);
    for (;;) {
        const size_t n = writer_->ReadOutput(block_.data(), block_.size());
        if (n == 0) return true;
        if (abort_) continue;  // drained, not sent
        if (file && std::fwrite(block_.data(), 1, n, file) != n) return false;
        if (outputProc_ && !outputProc_(block_.data(), n, false)) return false;
        if (hostStream_ && !hostStream_->Write(block_.data(), n)) return false;
        bytesSent_ += int64_t(n);
    }
}

bool CEditEngine::WriteVideoUnit(std::vector<uint8_t>* unit, const AccessUnitInfo& info) {
    FixCutGop(unit, info.kind);
    if (clearProgressive_ && info.kind == kUnitSequenceHeader) ClearProgressiveSequence(unit->data(), unit->size());
    if (unit->empty()) return true;
    writer_->WriteVideo(videoId_, unit->data(), unit->size(), info.time1);
    if (info.time1 != kNoTime)
        latestVideoPts_ = latestVideoPts_ == kNoTime ? info.time1 : std::max(latestVideoPts_, info.time1);
    currentTime_ = std::max<int64_t>(currentTime_, info.time2 != kNoTime ? info.time2 : 0);
    return true;
}

bool CEditEngine::WriteAudioUnit(std::vector<uint8_t>* unit, const AccessUnitInfo& info) {
    int frameLength = 0;
    uint32_t header = 0;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        frameLength = audioFrameLength_;
        header = audioHeader_;
    }
    if (frameLength > 0 && unit->size() < size_t(frameLength) && !keepShortAudio_) {
        // A short frame: MPEG audio takes the stored silent frame of its format, or goes
        // out unchanged when there is none; a short AC-3 or LPCM frame is dropped.
        if (audioKind_ == kPsAudioMpeg) {
            size_t length = 0;
            const uint8_t* silent = FindSilentMpegAudioFrame(header, &length);
            if (silent) unit->assign(silent, silent + length);
        } else {
            return true;
        }
    }
    if (unit->empty()) return true;
    writer_->WriteAudio(audioId_, unit->data(), unit->size(), info.time1);
    if (info.time1 != kNoTime) currentTime_ = std::max<int64_t>(currentTime_, info.time1);
    return true;
}

int CEditEngine::MuxFile() {
    CThreadNameWindow marker("SEdt-MuxFile");
    int count = 0;
    videoPending_ = audioPending_ = false;
    videoDone_ = audioDone_ = false;
    latestVideoPts_ = kNoTime;
    dropping_ = false;
    reference_ = -1;
    currentTime_ = 0;
    std::string name = outputProc_ ? std::string() : outputName_;
    int result = kMuxFailed;
    wroteUnits_ = false;
    for (bool first = true;; first = false) {
        std::FILE* file = nullptr;
        if (!name.empty()) {
            file = std::fopen(name.c_str(), "wb");
            if (!file) {
                result = kMuxFailed;
                break;
            }
        }
        result = MuxLoop(file, first);
        if (file && std::fclose(file) != 0) result = kMuxFailed;
        if (result == kMuxDone) {
            ++count;
            break;
        }
        if (result != kMuxSplit) break;
        ++count;
        name = GetPartName(count, outputName_);
    }
    outputFileCount_ = count;
    // Cuts that held no picture and no sound (no GOP begins after the in point) make a
    // failed run, and the empty file goes.
    if (!wroteUnits_ && result != kMuxFailed) result = kMuxFailed;
    if (!wroteUnits_ && !outputProc_ && !outputName_.empty()) {
        for (int i = 0; i < count; ++i)
            std::remove((i == 0 ? outputName_ : GetPartName(i, outputName_)).c_str());
        outputFileCount_ = 0;
    }
    return result;
}

// What MuxLoop keeps for one output file.
struct CEditEngine::MuxRun {
    std::FILE* file = nullptr;
    bool videoWritten = false;
    int64_t videoLead = 0;
};

// A new writer for the file: its streams, its LPCM format and its time origin.
bool CEditEngine::MuxBegin(bool firstFile) {
    writer_ = MakePsWriter(writerType_);
    if (!writer_) return false;
    writer_->SetType(writerType_);
    if (writerType_ == kWriterDvdVr) {
        // A DVD-VR stream's management file lies in the folder of the stream.
        const size_t slash = outputName_.find_last_of("/\\");
        writer_->SetFolder(slash == std::string::npos ? std::string(".") : outputName_.substr(0, slash));
    }
    bool withVideo = false, withAudio = false;
    OutputStreams(&withVideo, &withAudio);
    videoId_ = withVideo ? writer_->AddVideoStream(videoRate_) : 0;
    audioId_ = withAudio ? writer_->AddAudioStream(audioKind_, audioRate_) : 0;
    if (withAudio && audioKind_ == kPsAudioLpcm) {
        // Without a format of its own the output takes that of the first clip with audio.
        AudioFormat format = lpcmFormat_;
        bool known = lpcmSet_;
        for (const ClipItem& c : AudioClipList())
            if (!known && c.fromFile && c.audioStream >= kLpcmIndexBase) known = ReadLpcmFormat(c, &format);
        if (known) writer_->SetLpcmFormat(audioId_, format);
    }
    if (withVideo || withAudio) writer_->SetEngineValue(engineValue_);
    writer_->Begin();
    if (firstFile) {
        writer_->SetTimeOrigin(-kPreload);
    } else if (latestVideoPts_ != kNoTime || (audioPending_ && audioInfo_.time1 != kNoTime)) {
        // A later part starts with the same lead: what it holds is shown no earlier than
        // the last picture and the audio held over from the part before.
        int64_t start = latestVideoPts_ != kNoTime ? latestVideoPts_ : audioInfo_.time1;
        if (audioPending_ && audioInfo_.time1 != kNoTime) start = std::min(start, audioInfo_.time1);
        writer_->SetTimeOrigin(start - kPreload);
    }
    bytesSent_ = 0;
    return true;
}

// Fetches the next unit of a queue: a complete one, or the last once its producer has
// finished; marks the stream done when nothing more will come.
void CEditEngine::FetchUnit(bool video) {
    CAccessUnitQueue& q = video ? videoQueue_ : audioQueue_;
    std::vector<uint8_t>* unit = video ? &videoUnit_ : &audioUnit_;
    AccessUnitInfo* info = video ? &videoInfo_ : &audioInfo_;
    bool& pending = video ? videoPending_ : audioPending_;
    bool& done = video ? videoDone_ : audioDone_;
    if (pending || done) return;
    if (q.Take(unit, info)) {
        pending = true;
        return;
    }
    if (!(video ? videoFinished_ : audioFinished_)) return;
    if (q.Take(unit, info) || q.TakeLast(unit, info)) {
        pending = true;
        return;
    }
    done = true;
}

void CEditEngine::MuxVideo(MuxRun& m) {
    if (!m.videoWritten && videoInfo_.kind != kUnitSequenceHeader && !firstSequence_.empty()) {
        if (clearProgressive_) ClearProgressiveSequence(firstSequence_.data(), firstSequence_.size());
        writer_->WriteVideo(videoId_, firstSequence_.data(), firstSequence_.size(), kNoTime);
    }
    m.videoWritten = true;
    wroteUnits_ = true;
    WriteVideoUnit(&videoUnit_, videoInfo_);
    videoPending_ = false;
}

void CEditEngine::MuxAudio() {
    wroteUnits_ = true;
    WriteAudioUnit(&audioUnit_, audioInfo_);
    audioPending_ = false;
}

// A split falls before a sequence or GOP header once the part is large enough; the audio
// that belongs before the cut goes into this part. False when sending failed.
bool CEditEngine::MuxSplit(MuxRun& m) {
    while (!abort_) {
        // The audio that goes before the cut is all of it up to the picture, whenever its
        // producer delivers it: what the part holds must not depend on thread timing.
        FetchUnit(false);
        if (!audioPending_) {
            if (audioDone_) break;
            AwaitAudio();
            continue;
        }
        if (latestVideoPts_ == kNoTime || audioInfo_.time1 == kNoTime || audioInfo_.time1 >= latestVideoPts_) break;
        MuxAudio();
        if (!SendOutput(m.file)) return false;
    }
    videoQueue_.SetOverflow(false);
    return true;
}

// Waits (up to one poll) for the next audio unit while a video unit is held. When the
// audio thread itself waits for the video thread to reach the clip's end, the video queue
// may grow past its capacity, or neither thread could move on.
void CEditEngine::AwaitAudio() {
    videoQueue_.SetOverflow(audioAwaitsVideo_);
    AccessUnitInfo ignored;
    audioQueue_.Peek(&ignored, true);
}

// One unit to the writer when both streams have one, or one stream has ended: video goes
// the writer's lead ahead of the audio, so that a large picture has the time it takes at
// the mux rate.
void CEditEngine::MuxNextUnit(MuxRun& m) {
    if (videoPending_ && audioPending_) {
        const bool audioFirst = audioInfo_.time1 != kNoTime && videoInfo_.time2 != kNoTime &&
                                audioInfo_.time1 < videoInfo_.time2 - m.videoLead;
        if (audioFirst)
            MuxAudio();
        else
            MuxVideo(m);
    } else if (videoPending_) {
        MuxVideo(m);
    } else if (audioPending_) {
        MuxAudio();
    }
}

// Both streams are interleaved by time, so a unit waits for the other stream's next one;
// the wait polls so that pause and stop are seen. True when the loop goes round again.
bool CEditEngine::MuxWaitForUnits() {
    const bool needVideo = !videoPending_ && !videoDone_;
    const bool needAudio = !audioPending_ && !audioDone_;
    if (!needVideo && !needAudio) return false;
    AccessUnitInfo ignored;
    if (needVideo) {
        videoQueue_.Peek(&ignored, true);
    } else if (videoPending_) {
        AwaitAudio();
    } else {
        audioQueue_.Peek(&ignored, true);
    }
    return !(videoPending_ && audioDone_) && !(audioPending_ && videoDone_);
}

// The end of the file: the sequence end code and the writer's last packs, then the
// management file of a DVD-VR stream.
int CEditEngine::MuxEnd(MuxRun& m, int result) {
    if (abort_) result = kMuxFailed;
    if (result != kMuxFailed) {
        writer_->WriteSequenceEnd();
        writer_->Flush();
        if (!SendOutput(m.file)) result = kMuxFailed;
    }
    if (outputProc_) outputProc_(nullptr, 0, true);
    writer_->End();
    // A DVD-VR stream whose management file could not be written is a failed run.
    if (const auto* mpeg2 = dynamic_cast<const CMpeg2PsWriter*>(writer_.get()); mpeg2 && !mpeg2->VrError().empty())
        result = kMuxFailed;
    return result;
}

int CEditEngine::MuxLoop(std::FILE* file, bool firstFile) {
    if (!MuxBegin(firstFile)) return kMuxFailed;
    MuxRun m;
    m.file = file;
    m.videoLead = writer_->VideoLead();
    int result = kMuxDone;
    while (!abort_) {
        if (!WaitWhilePaused()) break;
        FetchUnit(true);
        FetchUnit(false);
        if (videoDone_ && audioDone_) break;
        if (audioPending_ || audioDone_) videoQueue_.SetOverflow(false);
        if (MuxWaitForUnits()) continue;
        const bool splitDue = splitSize_ > 0 && file && bytesSent_ >= splitSize_;
        if (videoPending_ && audioPending_ && splitDue &&
            (videoInfo_.kind == kUnitSequenceHeader || videoInfo_.kind == kUnitGop)) {
            if (!MuxSplit(m)) return kMuxFailed;
            result = kMuxSplit;
            break;
        }
        MuxNextUnit(m);
        if (!SendOutput(file)) {
            result = kMuxFailed;
            break;
        }
    }
    return MuxEnd(m, result);
}

}  // namespace editor
