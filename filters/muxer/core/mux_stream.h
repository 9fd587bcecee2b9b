// The multiplexer's stream as the scheduler sees it: the stream's settings in the program
// tree, its pool, parser and assembler, the decoding-time supply for reordered video, and
// the queue of finished units that the worker takes from. The filter's input pin wraps one.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <thread>
#include <vector>

#include "filters/muxer/core/access_unit_assembler.h"
#include "filters/muxer/core/elementary_parser.h"
#include "filters/muxer/core/media_buffer.h"
#include "filters/muxer/core/mux_program.h"

namespace muxer {

// Decoding times of pictures that arrive in decoding order with presentation times only
// (ISO/IEC 13818-1 2.7.5: a picture that is shown later than it is decoded carries a
// DTS). A picture is decoded one frame before the earliest not yet decoded picture is
// shown, `delay` pictures ahead, as a decoder with that reorder depth does; the depth is
// measured over the first pictures (`kWindow`, or fewer when they hold `kWindowBytes`, so
// that they never fill the stream's pool) before any leaves.
class DecodeTimeSupply {
public:
    static constexpr size_t kWindow = 16;
    static constexpr int64_t kWindowBytes = 1 << 20;
    // Takes a unit in decoding order; answers the units whose DTS is now known, in order.
    void Push(MediaBuffer* unit, std::vector<MediaBuffer*>* ready);
    // End of stream: every unit still held.
    void Drain(std::vector<MediaBuffer*>* ready);
    void Reset();
    int32_t Delay() const { return delay_; }
    // The least delay, whatever the pictures' order shows: MPEG video without low_delay
    // shows an I or P picture only when the next one is decoded (ISO/IEC 13818-2 6.1.1.11).
    void SetMinimumDelay(int32_t delay) { minimumDelay_ = delay; }

private:
    void Decide();
    void Release(std::vector<MediaBuffer*>* ready);

    std::deque<MediaBuffer*> held_;
    std::priority_queue<int64_t, std::vector<int64_t>, std::greater<int64_t>> shown_;
    int32_t delay_ = -1;  // unknown until the window is full or the stream ends
    int32_t minimumDelay_ = 0;
    int64_t lastDts_ = 0;
    int64_t heldBytes_ = 0;
    bool haveDts_ = false;
};

// The delay DecodeTimeSupply must keep at least for a stream, from its first unit.
int32_t MinimumReorderDelay(StreamType type, const uint8_t* data, int32_t size);

class MuxStream : public MuxStreamNode, public ParserStream, public AssemblerStream {
public:
    MuxStream(StreamType streamType, const StreamMediaType& media, WorkSignal* signal);
    ~MuxStream() override;

    // Activation: parser, pool and assembler; false when the pool cannot start.
    bool Activate();
    void Deactivate();
    // An input sample (any kind of buffer): cut into units by the assembler and queued, or,
    // without completion of units (or for a type no parser can cut), queued whole.
    void Feed(const MediaBuffer& sample);
    // "Completing Access Unit": whether samples are cut into access units (set before
    // Activate; streams that a multiplexed input makes always cut).
    bool completeUnits = true;
    // End of the input: the last unit, then an end unit.
    void EndOfStream();
    // A unit already cut and timed (the caller's reference goes with it): queued as the
    // parser's output is.
    void QueueTimedUnit(MediaBuffer* unit) {
        NoteFeeder();
        Enqueue(unit);
    }
    // The thread that last delivered input (Feed, QueueTimedUnit, EndOfStream); a default
    // id before any. An upstream thread may feed several streams (a demultiplexer, a
    // source with several pins): blocked on one stream's pool, it feeds no other.
    std::thread::id Feeder() const { return feeder_.load(std::memory_order_relaxed); }
    // The upstream filter whose output pin feeds this stream, as an identity only (0 when
    // unknown). Streams of one upstream filter may be fed by one thread of it.
    uintptr_t upstream = 0;

    // The scheduler's side of the queue.
    MediaBuffer* PeekUnit();
    MediaBuffer* TakeUnit();
    size_t Queued() const;

    // ParserStream
    StreamMediaType CurrentMediaType() const override;
    void SetCurrentMediaType(const StreamMediaType& t) override;
    PtsSource GetPtsSource() const override { return ptsSource; }
    int32_t InitialTimeShiftMs() const override { return timeShiftMs; }
    void SetOwnValue(OwnValue which, int64_t value) override;
    void RecomputeTotalBitrate() override {}
    // AssemblerStream
    StreamType Type() const override { return type; }
    BufferPool& Pool() override { return pool_; }
    CElementaryParser* Parser() override { return parser_.get(); }
    void QueueUnit(MediaBuffer* unit) override;

    // Settings and scheduling state.
    PtsSource ptsSource = PtsSource::TimeStampBased;
    int32_t timeShiftMs = 0;
    int64_t currentPinPts = 0;  // "Current Pin PTS"
    bool ended = false;
    int64_t lastPcr = -1;
    // Added to every time stamp so that the first decoding time leaves the system clock
    // room to deliver the first pictures (and is never negative).
    int64_t startDelay = 7000000;
    std::unique_ptr<PesAccumulator> accumulator;
    // The pool's buffer size and byte limit; 0 keeps the sizes of a stream without an
    // upstream allocator (set by a host that sizes pools from the input's bit rate).
    int32_t poolBufferSize = 0;
    uint32_t poolByteLimit = 0;
    // Where the parser's read-only values go (the host's parameters); may be empty.
    std::function<void(OwnValue, int64_t)> onOwnValue;

    // Flush of the input: queued and held units are dropped and the parser and assembler
    // start again at the next boundary; the pool, the ids and the scheduling state stay.
    // The caller keeps the upstream thread out (its samples are refused while flushing).
    void Flush();

private:
    // Each sample copied whole with its times and queued as one unit, a slice of the
    // pooled buffer that gathers consecutive samples; a sample larger than a buffer goes on
    // in buffer-sized units, its times on the first. Samples share buffers because units
    // wait in the decoding-time window and the parser: one buffer each would hold the
    // pool's every buffer before the first unit leaves, and the feeder would wait for good.
    void QueueWhole(const MediaBuffer& sample);
    void Enqueue(MediaBuffer* unit);
    void NoteFeeder() { feeder_.store(std::this_thread::get_id(), std::memory_order_relaxed); }

    mutable std::mutex queueLock_;
    std::deque<MediaBuffer*> queue_;
    mutable std::mutex mediaLock_;
    StreamMediaType media_;
    WorkSignal* signal_;
    BufferPool pool_;
    std::unique_ptr<CElementaryParser> parser_;
    std::unique_ptr<AccessUnitAssembler> assembler_;
    BufferRef whole_;  // where whole samples are copied (upstream thread only)
    DecodeTimeSupply decodeTimes_;
    bool delayKnown_ = false;
    std::atomic<std::thread::id> feeder_{};
};

}  // namespace muxer
