// Reference-counted media buffers, the per-stream buffer pool that bounds an input's
// memory, the signal that wakes the multiplexer's worker, and the gatherer of units into
// fixed-size PES payloads.
//
// All times are signed 64-bit counts of 100-ns units.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace muxer {

class BufferPool;

// One record type for every kind of buffer: pooled (from a BufferPool), owned (its own
// block), wrapping (borrowed bytes for the span of one call), unit slice (a window on a
// parent's bytes that keeps the parent alive) and, in the filter, the upstream sample.
// A buffer reaches its first holder with a count of 1; the count is atomic because slices
// of one pooled parent are released on the worker thread while the upstream thread cuts
// more of them.
class MediaBuffer {
public:
    MediaBuffer(const MediaBuffer&) = delete;
    MediaBuffer& operator=(const MediaBuffer&) = delete;

    // A buffer with its own block of `capacity` bytes, payload empty; null when the
    // capacity is negative or the memory cannot be had.
    static MediaBuffer* CreateOwned(int32_t capacity);
    // A window of `length` bytes on `parent`'s payload from its current data start, with the
    // given times; holds a reference on the parent. Null when length is outside the parent's
    // payload.
    static MediaBuffer* CreateSlice(MediaBuffer* parent, int32_t length, std::optional<int64_t> pts,
                                    std::optional<int64_t> dts);

    void AddRef() { count_.fetch_add(1, std::memory_order_relaxed); }
    void Release();
    int32_t RefCount() const { return count_.load(std::memory_order_acquire); }

    // Data start back to the block start, payload empty, times, flags and end of stream
    // cleared.
    void Reset();
    // Payload, valid flags, PTS, DTS and duration into `dst` (replacing its payload); false
    // and no change when `dst` has less free room than this payload.
    bool CopyInto(MediaBuffer& dst) const;
    // Into an empty `dst` as CopyInto; otherwise the payload goes behind dst's payload and
    // only this buffer's valid duration is added to dst's; false and no change without room.
    bool AppendTo(MediaBuffer& dst) const;
    // Bytes between the payload's end and the block's end.
    int32_t FreeRoom() const;

    const uint8_t* Data() const { return data; }
    uint8_t* Data() { return data; }
    BufferPool* Pool() const { return pool_; }
    const MediaBuffer* Parent() const { return parent_; }

    // The record's fields (one layout for every kind).
    int32_t length = 0;
    bool ptsValid = false;
    bool dtsValid = false;
    bool durationValid = false;
    int32_t capacity = 0;
    uint8_t* data = nullptr;
    int64_t pts = 0;
    int64_t dts = 0;
    int64_t duration = 0;
    uint32_t bitRate = 0;  // bits per second: length x 80,000,000 / duration
    bool endOfStream = false;

    void SetPts(std::optional<int64_t> t) {
        ptsValid = t.has_value();
        pts = t.value_or(0);
    }
    void SetDts(std::optional<int64_t> t) {
        dtsValid = t.has_value();
        dts = t.value_or(0);
    }
    std::optional<int64_t> Pts() const { return ptsValid ? std::optional<int64_t>(pts) : std::nullopt; }
    std::optional<int64_t> Dts() const { return dtsValid ? std::optional<int64_t>(dts) : std::nullopt; }

protected:
    MediaBuffer() = default;
    virtual ~MediaBuffer();
    // What happens when the count drops from 1 to 0; by default the record is deleted.
    virtual void LastReleased();

private:
    friend class BufferPool;
    std::atomic<int32_t> count_{1};
    BufferPool* pool_ = nullptr;        // the pool that made the buffer
    std::unique_ptr<uint8_t[]> block_;  // memory the buffer owns, or null
    int32_t blockSize_ = 0;             // bytes actually allocated for block_
    MediaBuffer* parent_ = nullptr;     // unit slices: the buffer whose bytes they show
};

// Borrowed bytes wrapped for the span of one call (a sample handed through), kept on the
// stack: its last release deletes nothing. Capacity = length.
class WrappingBuffer final : public MediaBuffer {
public:
    WrappingBuffer(const uint8_t* bytes, int32_t size, std::optional<int64_t> pts = std::nullopt,
                   std::optional<int64_t> dts = std::nullopt);
    ~WrappingBuffer() override = default;

protected:
    void LastReleased() override {}
};

// Holds one reference to a MediaBuffer and releases it when it goes.
class BufferRef {
public:
    BufferRef() = default;
    explicit BufferRef(MediaBuffer* adopted) : p_(adopted) {}
    BufferRef(BufferRef&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    BufferRef& operator=(BufferRef&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = o.p_;
            o.p_ = nullptr;
        }
        return *this;
    }
    ~BufferRef() { reset(); }
    void reset(MediaBuffer* adopted = nullptr) {
        if (p_) p_->Release();
        p_ = adopted;
    }
    MediaBuffer* release() {
        MediaBuffer* p = p_;
        p_ = nullptr;
        return p;
    }
    MediaBuffer* get() const { return p_; }
    MediaBuffer* operator->() const { return p_; }
    MediaBuffer& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    MediaBuffer* p_ = nullptr;
};

// Recycles fixed-size buffers for one input stream and bounds what it holds: GetBuffer
// blocks the upstream thread while the stream's outstanding buffers reach the byte limit,
// until the worker releases units or the pool is stopped.
//
// Buffers handed out must be released before the pool is destroyed (the stream owns both
// and empties its queue first).
class BufferPool {
public:
    BufferPool() = default;
    ~BufferPool();
    BufferPool(const BufferPool&) = delete;
    BufferPool& operator=(const BufferPool&) = delete;

    // Activates the pool for buffers of `buffer_size` bytes, at most `byte_limit` bytes out
    // at once (0: no limit). Refused (false, pool unchanged and inactive) when no buffer
    // could ever be handed out: a size of 0 or less, or a limit below one buffer.
    bool Start(int32_t buffer_size, uint32_t byte_limit);
    // Active again with the size and limit kept (after a flush).
    void Resume();
    // Inactive: every blocked GetBuffer returns null, buffers coming back are destroyed.
    void Stop();
    // Stop, then destroy every free buffer.
    void StopAndFlush();

    // A pooled buffer with count 1, reset, capacity the buffer size; blocks while the limit
    // is reached; null when the pool is or becomes stopped.
    MediaBuffer* GetBuffer();

    // Called (under the pool's lock, so it must not call back into the pool) each time a
    // GetBuffer is about to block: the multiplexer wakes its worker, which may then let the
    // blocked stream's units pass so that an upstream thread feeding several streams is
    // never held for good.
    void SetBlockHook(std::function<void()> hook) {
        std::lock_guard<std::mutex> hold(lock_);
        onBlock_ = std::move(hook);
    }

    int32_t BufferSize() const;
    uint32_t ByteLimit() const;
    int32_t Outstanding() const;
    int32_t FreeCount() const;
    int32_t Waiters() const;
    // A caller is blocked and no buffer has come back for it since: it stays blocked until
    // units of this pool are released (a buffer returned but not yet taken is no starve).
    bool Starved() const;
    // The pool is starved and `thread` is one of the callers it blocks.
    bool Holds(std::thread::id thread) const;
    bool Active() const;

private:
    friend class MediaBuffer;
    class PooledBuffer;
    void ReturnBuffer(MediaBuffer* buffer);
    bool CanMakeLocked() const;

    mutable std::mutex lock_;
    std::condition_variable changed_;  // a buffer came back, or the pool stopped
    int32_t bufferSize_ = 0;
    uint32_t byteLimit_ = 0;
    int32_t waiters_ = 0;
    std::vector<std::thread::id> blocked_;  // the threads waiting in GetBuffer
    uint64_t stopGeneration_ = 0;           // a waiter returns null after any Stop since it began
    std::vector<MediaBuffer*> free_;        // in return order
    std::vector<MediaBuffer*> outstanding_;
    bool active_ = false;
    std::function<void()> onBlock_;
};

// Wakes the multiplexer's worker once for every unit queued. A stop is never lost: Wait
// checks the stop flag under the same lock that Stop sets it under.
class WorkSignal {
public:
    // One more pending unit; wakes the waiting worker.
    void Signal();
    // Consumes one pending count and answers true; blocks while there is none; false, with
    // no count consumed, once the stop flag is set.
    bool Wait();
    // Sets the stop flag and wakes the worker.
    void Stop();
    // Clears the stop flag and the pending count (the worker is started again).
    void Restart();
    int32_t Pending() const;

private:
    mutable std::mutex lock_;
    std::condition_variable wake_;
    int32_t pending_ = 0;
    bool stop_ = false;
};

// Gathers a stream's units into packets of a fixed payload size (a stream's PES packet
// size). `write` is the stream's unit writer; it ignores an empty buffer.
class PesAccumulator {
public:
    using Writer = std::function<void(MediaBuffer& unit)>;
    explicit PesAccumulator(Writer write) : write_(std::move(write)) {}
    ~PesAccumulator() { Close(); }

    // A gathering buffer of `packet_size` bytes; false when it cannot be made.
    bool Open(int32_t packet_size);
    void Close();
    // Appends `unit`; when it does not fit, writes what was gathered and starts again with
    // it; a unit larger than a packet is written on its own.
    void Add(MediaBuffer& unit);
    // Writes what was gathered and empties the buffer.
    void Flush();
    void Reset();

private:
    std::mutex lock_;
    Writer write_;
    BufferRef gathering_;
};

}  // namespace muxer
