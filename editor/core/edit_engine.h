// CEditEngine: joins an ordered list of clips into one MPEG program stream without
// re-encoding. A clip is a cut (in point to out point) of a program-stream file (MPEG-1,
// MPEG-2, VCD or SVCD, plain or as a RIFF "CDXA" image). For each clip a video thread and
// an audio thread cut the clip at GOP and frame boundaries, move every time stamp onto one
// continuous output time line and queue the access units; the mux thread interleaves the
// two queues into the program-stream writer and sends its output to a file (optionally
// split into numbered parts), a callback or a host stream.
//
// Time line: each clip's video begins at its first GOP at or after the in point and ends
// before the first GOP at or after the out point; the clip's first displayed picture is
// put at the video time base, which then advances by the span of pictures actually
// written, so that video time stamps run on without gap or overlap across joins. Audio
// follows the same span; where a clip has less audio than video, stored silent frames
// (or a repeated frame) fill the gap.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/threads.h"
#include "editor/core/access_unit_queue.h"
#include "editor/core/clip_probe.h"
#include "editor/core/ps_writer.h"

namespace editor {

// Results of the clip threads.
enum ClipResult : int { kClipOk = 0, kClipNoParser = 1, kClipNoFile = 2, kClipAborted = 4 };
// Results of the output loop.
enum MuxResult : int { kMuxDone = 0, kMuxFailed = 1, kMuxSplit = 3 };

struct ClipItem {
    std::string path;
    bool fromFile = true;
    int64_t hostIn = 0, hostOut = 0;
    int64_t in = 0, out = 0;  // relative to the clip's start
    int64_t duration = 0;
    int64_t firstTime = 0, lastTime = 0;
    int64_t firstVideoTime = kNoTime, firstAudioTime = kNoTime;
    int64_t lastVideoTime = 0, lastAudioTime = 0;
    int64_t skip = 0;
    int64_t frameDuration = 0, audioFrameDuration = 0;
    bool sectorMode = false;
    int64_t dataOffset = 0;
    int fileType = 0;
    int videoStream = -1, audioStream = -1;
    int64_t videoByteRate = 0;
};

// The host's output stream object: Write fails (false) to abort the run.
class IEditorHostStream {
public:
    virtual ~IEditorHostStream() = default;
    virtual void Abort() = 0;
    virtual bool Write(const uint8_t* data, size_t length) = 0;
};

// Receives each block of the joined stream (end false), and a final call with no data
// and end true. Returns false to abort the run.
using OutputProc = std::function<bool(const uint8_t* data, size_t length, bool end)>;

// Asks the host to render one host segment between its in and out times (100 ns) and push
// it through the two sinks. Returns false to abort the run.
using SegmentProc = std::function<bool(int64_t in, int64_t out)>;

class CEditEngine {
public:
    CEditEngine();
    virtual ~CEditEngine();
    CEditEngine(const CEditEngine&) = delete;
    CEditEngine& operator=(const CEditEngine&) = delete;

    bool SetCapacity(int n);
    // Index of the new clip, or -1 (list full), -2 (not a clip file type), -3 (probe
    // failed), -4 (a cut of a file clip with `in` at or after `out`), -5 (`in` at or past
    // the end of the file clip). `in` / `out` of kNoTime mean from the start / to the end.
    int AddClip(const std::string& path, int64_t in, int64_t out, bool fromFile);
    int ClipCount() const { return int(clips_.size()); }
    const ClipItem& Clip(int i) const { return clips_[size_t(i)]; }

    void SetWriterType(int type);
    int WriterType() const { return writerType_; }
    // kPsAudioLpcm (with its format), kPsAudioAc3 or kPsAudioMpeg.
    void SetAudioKind(int kind, const AudioFormat* format);
    void SetSplitSize(int64_t size);
    void SetOutputFileName(const std::string& name) { outputName_ = name; }
    void SetOutputProc(OutputProc proc) { outputProc_ = std::move(proc); }
    void SetEngineValue(int value) { engineValue_ = value; }
    void SetVideoRate(int64_t bitsPerSecond) { videoRate_ = bitsPerSecond; }
    void SetAudioRate(int64_t bitsPerSecond) { audioRate_ = bitsPerSecond; }
    void SetHostStream(IEditorHostStream* stream) { hostStream_ = stream; }
    void SetSegmentProc(SegmentProc proc) { segmentProc_ = std::move(proc); }

    // The sinks of a host segment, called on the host's rendering threads: each blocks
    // until the clip walker has asked for a segment (or the run is stopped), takes the
    // rendered data with its time (100 ns, or kNoTime), and a length of 0 ends the
    // sink's share of the segment. Data outside a run, or after Stop, is dropped.
    void VideoSink(int64_t time, const uint8_t* data, size_t length);
    void AudioSink(int64_t time, const uint8_t* data, size_t length);

    // Runs the clip walker and the mux thread. Start returns at once; Wait joins both
    // and returns the mux result, kMuxFailed whenever the clip walk failed.
    virtual bool Start();
    int Wait();
    // Aborts a run: every wait of every thread of the run ends, and Stop returns once
    // the walker and its clip threads are done.
    void Stop();
    void Pause() { paused_ = true; }
    void Resume();
    void GetProgress(int64_t* current, int64_t* total) const;
    int OutputFileCount() const { return outputFileCount_; }
    bool ClipsOk() const { return videoOk_ && audioOk_; }

    // Index 0: the name itself; index n > 0: the name with everything from the last dot
    // of its file-name part replaced by ".%04d.mpg" (n), or that appended when the file
    // name has no dot.
    static std::string GetPartName(int index, const std::string& name);
    // The LPCM format of a clip's audio, from its first packets.
    static bool ReadLpcmFormat(const ClipItem& clip, AudioFormat* format);

    // The thread bodies (public for the component object that runs them on its threads).
    int ProcFile();
    int MuxFile();

protected:
    // What the video thread of a clip tells its audio thread: where the clip's video
    // begins and ends on the clip's own time stamps.
    struct ClipRun {
        bool first = false;
        int64_t videoBase = 0;  // where the clip's first displayed picture lies on the output
        bool originKnown = false;
        bool endKnown = false;
        bool videoWritten = false;
        int64_t v0 = 0;  // first displayed picture
        int64_t v1 = 0;  // end of the last displayed picture
    };
    // Adds a clip to `list` (of room `capacity`): AddClip's work for any clip list.
    int AddClipTo(std::vector<ClipItem>* list, size_t capacity, const std::string& path, int64_t in, int64_t out,
                  bool fromFile);
    // The streams an output file carries: both whenever there are clips.
    virtual void OutputStreams(bool* video, bool* audio) const;
    // The clips whose audio the output carries.
    virtual const std::vector<ClipItem>& AudioClipList() const { return clips_; }
    // The clip walk of a run (the walker thread's body); sets walkerDone_ at its end.
    virtual int Walk() { return ProcFile(); }
    // Signals every wait of the run to end, without waiting for anything.
    void AbortRun();
    int ProcVFile(const ClipItem& clip, ClipRun* run);
    // The steps of ProcVFile, one per parser item kind, over its state record.
    struct VideoCut;
    void CutAdd(VideoCut& c, const uint8_t* p, int64_t n);
    void CutBeginHeader(VideoCut& c, int kind);
    void CutHeaderItem(VideoCut& c, const ClipItem& clip, const ParserItem& item);
    void CutPictureItem(VideoCut& c, ClipRun* run, const ParserItem& item);
    void CutStart(VideoCut& c, ClipRun* run, int64_t shown);
    int ProcAFile(const ClipItem& clip, ClipRun* run);
    // The steps of ProcAFile for each audio frame item, over its state record.
    struct AudioCut;
    struct AudioFrame {
        int length = 0;
        uint32_t header = 0;
        int64_t duration = 0;
    };
    bool AudioFrameAt(AudioCut& c, const ClipItem& clip, CPsParser* parser, const uint8_t* p, size_t avail,
                      AudioFrame* f);
    bool AudioFrameTime(AudioCut& c, const ParserItem& item, int64_t* a);
    bool AudioEndTest(AudioCut& c, ClipRun* run, int64_t a);
    bool AudioStartTest(AudioCut& c, const ClipItem& clip, ClipRun* run, int64_t a, const AudioFrame& f,
                        const uint8_t* p, size_t avail);
    bool AudioItem(AudioCut& c, const ClipItem& clip, ClipRun* run, CPsParser* parser, const uint8_t* p, size_t avail,
                   const ParserItem& item);
    bool ProbeClipItem(bool mpeg1, ClipItem* item);
    bool LoadFirstSequenceHeader(const ClipItem& clip);
    int64_t SeekStart(const ClipItem& clip, bool video);
    void FillAudioGap(int64_t upTo);
    // The time of the audio frame after one at `time`.
    int64_t NextAudioBase(int64_t time) const;
    bool PutSilentFrame(int64_t time);
    int MuxLoop(std::FILE* file, bool firstFile);
    // The steps of MuxLoop, over its state record.
    struct MuxRun;
    bool MuxBegin(bool firstFile);
    void FetchUnit(bool video);
    bool MuxWaitForUnits();
    bool MuxSplit(MuxRun& m);
    void AwaitAudio();
    void MuxNextUnit(MuxRun& m);
    void MuxVideo(MuxRun& m);
    void MuxAudio();
    int MuxEnd(MuxRun& m, int result);
    bool SendOutput(std::FILE* file);
    bool WriteVideoUnit(std::vector<uint8_t>* unit, const AccessUnitInfo& info);
    bool WriteAudioUnit(std::vector<uint8_t>* unit, const AccessUnitInfo& info);
    void FixCutGop(std::vector<uint8_t>* unit, int kind);
    bool WaitWhilePaused();
    bool RunHostSegment(const ClipItem& clip, bool first);
    // The lists a host segment feeds: engine 1's segments feed both sinks, engine 2's
    // one list each.
    enum SegmentSide : int { kSegmentVideo = 1, kSegmentAudio = 2 };
    // LPCM host audio is cut by the stored format's frame length.
    void PrepareHostAudio();
    bool RunSegment(int sides, const SegmentProc& proc, const ClipItem& clip);
    // Waits until the segment of this sink's list is active; a call that ends the sink's
    // share marks it done. True when the call's data is to be taken.
    bool EnterSink(bool video, bool end);
    void LeaveSink(bool video);
    // Sets a list's finished flag and wakes the sinks waiting on it.
    void MarkListFinished(bool video);
    struct SinkCall {
        SinkCall(CEditEngine* e, bool v) : engine(e), video(v) {}
        ~SinkCall() { engine->LeaveSink(video); }
        CEditEngine* engine;
        bool video;
    };
    void PutHostVideo(int64_t time, const uint8_t* data, size_t length, int kind);
    void PutHostAudioFrames(const uint8_t* data, size_t length);
    int HostAudioFrameLength(const uint8_t* p, size_t n, double* duration);

    std::vector<ClipItem> clips_;
    size_t capacity_ = 0;
    std::string outputName_;
    int writerType_ = kWriterMpeg2;
    std::unique_ptr<CPsWriter> writer_;
    int64_t splitSize_ = 0;
    int64_t totalLength_ = 0;
    std::atomic<int64_t> currentTime_{0};
    CAccessUnitQueue videoQueue_, audioQueue_;
    std::vector<uint8_t> firstSequence_;
    int audioKind_ = kPsAudioMpeg;
    AudioFormat lpcmFormat_;
    bool lpcmSet_ = false;
    OutputProc outputProc_;
    int engineValue_ = 0;
    int64_t videoRate_ = 0, audioRate_ = 0;
    IEditorHostStream* hostStream_ = nullptr;

    // Run state.
    std::atomic<bool> abort_{false};
    std::atomic<bool> paused_{false};
    std::atomic<bool> videoOk_{true}, audioOk_{true};
    std::atomic<bool> videoFinished_{false}, audioFinished_{false};
    // A clip's audio thread waits for its video thread to find where the clip ends.
    std::atomic<bool> audioAwaitsVideo_{false};
    std::mutex stateLock_;
    std::condition_variable stateChanged_;
    bool walkerDone_ = true;
    int64_t videoBase_ = 0, audioBase_ = 0;
    // Audio header of the run: the first frame's 32-bit header (first byte lowest), its
    // AC-3 fifth byte, frame duration and length.
    uint32_t audioHeader_ = 0;
    uint8_t ac3SizeByte_ = 0;
    int64_t audioFrameDuration_ = 0;
    int audioFrameLength_ = 0;
    bool haveAudioHeader_ = false;
    int outputFileCount_ = 0;
    bool wroteUnits_ = false;  // the run wrote a picture or audio frame
    SegmentProc segmentProc_;

    // The current host segment (under stateLock_ where the walker and a sink share it).
    bool videoSegmentActive_ = false, audioSegmentActive_ = false;
    bool videoSegmentDone_ = false, audioSegmentDone_ = false;
    int64_t segFirstVideo_ = kNoTime, segLastVideo_ = kNoTime;
    int64_t segFirstAudio_ = kNoTime, segLastAudio_ = kNoTime;
    int64_t segAudioOrigin_ = kNoTime;  // host time of the first audio block taken
    int64_t segSkip_ = 0;               // the audio clip's skip (100 ns)
    bool skippingAudio_ = false;        // the last timed block fell within the skip
    int64_t decodeBase_ = 0;
    int64_t pictureCount_ = 0;
    int64_t hostFrameDuration_ = 0;
    // Host audio is cut into whole frames: the bytes of the frame in progress, and the
    // output time of the next frame.
    std::vector<uint8_t> hostAudio_;
    double hostAudioClock_ = -1;                   // negative: not yet known
    bool hostAudioStarted_ = false;                // the segment's first whole frame was queued
    bool hostAudioLost_ = false;                   // bytes were skipped looking for a sync
    int64_t hostAudioLead_ = 0;                    // bytes skipped before the first frame
    std::mutex videoSinkLock_, audioSinkLock_;     // one host thread per sink at a time
    int videoSinkCalls_ = 0, audioSinkCalls_ = 0;  // sink calls taking data (under stateLock_)

    common::Thread walker_, muxer_;
    std::atomic<int> muxResult_{0};
    std::atomic<bool> walkFailed_{false};  // the clip walk failed or was stopped

    // Output loop state, kept across the parts of a split output.
    std::vector<uint8_t> videoUnit_, audioUnit_, block_;
    AccessUnitInfo videoInfo_, audioInfo_;
    bool videoPending_ = false, audioPending_ = false;
    bool videoDone_ = false, audioDone_ = false;
    int videoId_ = 0, audioId_ = 0;
    int64_t bytesSent_ = 0;
    int64_t latestVideoPts_ = kNoTime;
    bool dropping_ = false;
    int reference_ = -1;

    // Variations of the engine with two lists: probing times a clip by its video only
    // when asked, sequence headers lose progressive_sequence, and a short audio unit is
    // written as it stands.
    bool probeByVideo_ = true;
    size_t audioQueueDefault_ = 1024000;
    bool clearProgressive_ = false;
    bool keepShortAudio_ = false;
};

}  // namespace editor
