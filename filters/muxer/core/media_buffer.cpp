#include "filters/muxer/core/media_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace muxer {

// ---- MediaBuffer ----------------------------------------------------------------------

MediaBuffer::~MediaBuffer() {
    if (parent_) parent_->Release();
}

void MediaBuffer::LastReleased() {
    delete this;
}

void MediaBuffer::Release() {
    // acq_rel: the thread that drops the last reference sees every write made by the other
    // holders before it recycles or frees the bytes.
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) LastReleased();
}

MediaBuffer* MediaBuffer::CreateOwned(int32_t capacity) {
    if (capacity < 0) return nullptr;
    auto* b = new (std::nothrow) MediaBuffer();
    if (!b) return nullptr;
    b->block_.reset(new (std::nothrow) uint8_t[capacity > 0 ? capacity : 1]);
    if (!b->block_) {
        delete b;
        return nullptr;
    }
    b->blockSize_ = capacity;
    b->capacity = capacity;
    b->data = b->block_.get();
    return b;
}

MediaBuffer* MediaBuffer::CreateSlice(MediaBuffer* parent, int32_t length, std::optional<int64_t> pts,
                                      std::optional<int64_t> dts) {
    if (!parent || length < 0 || length > parent->length) return nullptr;
    auto* s = new (std::nothrow) MediaBuffer();
    if (!s) return nullptr;
    parent->AddRef();
    s->parent_ = parent;
    s->data = parent->data;
    s->length = length;
    s->capacity = length;
    s->SetPts(pts);
    s->SetDts(dts);
    return s;
}

void MediaBuffer::Reset() {
    if (block_) data = block_.get();
    length = 0;
    ptsValid = dtsValid = durationValid = false;
    pts = dts = duration = 0;
    endOfStream = false;
}

int32_t MediaBuffer::FreeRoom() const {
    // A borrowed buffer (wrapping, slice) has no room behind its payload.
    if (!block_) return 0;
    return static_cast<int32_t>(block_.get() + capacity - (data + length));
}

bool MediaBuffer::CopyInto(MediaBuffer& dst) const {
    if (&dst == this) return false;
    // Room counted from dst's data start, as its payload is replaced.
    if (!dst.block_ || dst.block_.get() + dst.capacity - dst.data < length) return false;
    if (length > 0) std::memmove(dst.data, data, static_cast<size_t>(length));
    dst.length = length;
    dst.ptsValid = ptsValid;
    dst.dtsValid = dtsValid;
    dst.durationValid = durationValid;
    dst.pts = pts;
    dst.dts = dts;
    dst.duration = duration;
    return true;
}

bool MediaBuffer::AppendTo(MediaBuffer& dst) const {
    if (dst.length == 0) return CopyInto(dst);
    if (&dst == this || dst.FreeRoom() < length) return false;
    if (length > 0) std::memcpy(dst.data + dst.length, data, static_cast<size_t>(length));
    dst.length += length;
    if (durationValid) dst.duration += duration;
    return true;
}

WrappingBuffer::WrappingBuffer(const uint8_t* bytes, int32_t size, std::optional<int64_t> pts,
                               std::optional<int64_t> dts) {
    // The bytes are only read: a wrapping buffer is a copy source, never a destination.
    data = const_cast<uint8_t*>(bytes);
    length = size > 0 && bytes ? size : 0;
    capacity = length;
    SetPts(pts);
    SetDts(dts);
}

// ---- BufferPool -----------------------------------------------------------------------

class BufferPool::PooledBuffer final : public MediaBuffer {
public:
    PooledBuffer() = default;
    ~PooledBuffer() override = default;
    // Back to the pool, not deleted, while the pool is active.
    void LastReleased() override {
        if (Pool())
            Pool()->ReturnBuffer(this);
        else
            delete this;
    }
    static void Destroy(MediaBuffer* b) { delete static_cast<PooledBuffer*>(b); }
};

BufferPool::~BufferPool() {
    std::lock_guard<std::mutex> hold(lock_);
    for (MediaBuffer* b : free_)
        PooledBuffer::Destroy(b);
    free_.clear();
    // Contract: none is out any more. One that is would otherwise come back to a pool that
    // is gone; it becomes an ordinary owned buffer.
    for (MediaBuffer* b : outstanding_)
        b->pool_ = nullptr;
    outstanding_.clear();
}

bool BufferPool::Start(int32_t buffer_size, uint32_t byte_limit) {
    if (buffer_size <= 0 || (byte_limit != 0 && byte_limit < static_cast<uint32_t>(buffer_size))) return false;
    std::lock_guard<std::mutex> hold(lock_);
    active_ = true;
    bufferSize_ = buffer_size;
    byteLimit_ = byte_limit;
    waiters_ = 0;
    return true;
}

void BufferPool::Resume() {
    std::lock_guard<std::mutex> hold(lock_);
    if (bufferSize_ > 0) active_ = true;
}

void BufferPool::Stop() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        active_ = false;
        ++stopGeneration_;
    }
    changed_.notify_all();
}

void BufferPool::StopAndFlush() {
    Stop();
    std::lock_guard<std::mutex> hold(lock_);
    for (MediaBuffer* b : free_)
        PooledBuffer::Destroy(b);
    free_.clear();
}

bool BufferPool::CanMakeLocked() const {
    return byteLimit_ == 0 ||
           (static_cast<uint64_t>(outstanding_.size()) + 1) * static_cast<uint64_t>(bufferSize_) <= byteLimit_;
}

MediaBuffer* BufferPool::GetBuffer() {
    std::unique_lock<std::mutex> hold(lock_);
    const uint64_t generation = stopGeneration_;
    for (;;) {
        if (!active_ || stopGeneration_ != generation) return nullptr;
        MediaBuffer* b = nullptr;
        // The limit holds for recycled buffers too: a pool whose limit was lowered by a new
        // Start hands out no more than it allows.
        if (CanMakeLocked()) {
            while (!free_.empty() && !b) {
                b = free_.front();
                free_.erase(free_.begin());
                if (b->blockSize_ != bufferSize_) {  // made before a Start with another size
                    PooledBuffer::Destroy(b);
                    b = nullptr;
                }
            }
            if (!b) {
                auto* p = new (std::nothrow) PooledBuffer();
                if (p) {
                    p->block_.reset(new (std::nothrow) uint8_t[bufferSize_]);
                    if (!p->block_) {
                        PooledBuffer::Destroy(p);
                        p = nullptr;
                    } else {
                        p->blockSize_ = bufferSize_;
                        p->pool_ = this;
                    }
                }
                b = p;
                if (!b) return nullptr;  // out of memory: the caller drops its data
            }
        }
        if (b) {
            outstanding_.push_back(b);
            hold.unlock();
            b->count_.store(1, std::memory_order_relaxed);
            b->capacity = b->blockSize_;
            b->Reset();
            return b;
        }
        ++waiters_;
        blocked_.push_back(std::this_thread::get_id());
        if (onBlock_) onBlock_();
        changed_.wait(hold);
        blocked_.erase(std::find(blocked_.begin(), blocked_.end(), std::this_thread::get_id()));
        --waiters_;
    }
}

void BufferPool::ReturnBuffer(MediaBuffer* buffer) {
    bool destroy = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        auto it = std::find(outstanding_.begin(), outstanding_.end(), buffer);
        if (it != outstanding_.end()) outstanding_.erase(it);
        if (active_ && buffer->blockSize_ == bufferSize_)
            free_.push_back(buffer);
        else
            destroy = true;
    }
    if (destroy) PooledBuffer::Destroy(buffer);
    changed_.notify_all();
}

int32_t BufferPool::BufferSize() const {
    std::lock_guard<std::mutex> h(lock_);
    return bufferSize_;
}
uint32_t BufferPool::ByteLimit() const {
    std::lock_guard<std::mutex> h(lock_);
    return byteLimit_;
}
int32_t BufferPool::Outstanding() const {
    std::lock_guard<std::mutex> h(lock_);
    return static_cast<int32_t>(outstanding_.size());
}
int32_t BufferPool::FreeCount() const {
    std::lock_guard<std::mutex> h(lock_);
    return static_cast<int32_t>(free_.size());
}
int32_t BufferPool::Waiters() const {
    std::lock_guard<std::mutex> h(lock_);
    return waiters_;
}
bool BufferPool::Starved() const {
    std::lock_guard<std::mutex> h(lock_);
    return waiters_ > 0 && active_ && !CanMakeLocked();
}
bool BufferPool::Holds(std::thread::id thread) const {
    std::lock_guard<std::mutex> h(lock_);
    return waiters_ > 0 && active_ && !CanMakeLocked() &&
           std::find(blocked_.begin(), blocked_.end(), thread) != blocked_.end();
}
bool BufferPool::Active() const {
    std::lock_guard<std::mutex> h(lock_);
    return active_;
}

// ---- WorkSignal -----------------------------------------------------------------------

void WorkSignal::Signal() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        ++pending_;
    }
    wake_.notify_one();
}

bool WorkSignal::Wait() {
    std::unique_lock<std::mutex> hold(lock_);
    wake_.wait(hold, [this] { return stop_ || pending_ > 0; });
    if (stop_) return false;
    --pending_;
    return true;
}

void WorkSignal::Stop() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    wake_.notify_all();
}

void WorkSignal::Restart() {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = false;
    pending_ = 0;
}

int32_t WorkSignal::Pending() const {
    std::lock_guard<std::mutex> hold(lock_);
    return pending_;
}

// ---- PesAccumulator -------------------------------------------------------------------

bool PesAccumulator::Open(int32_t packet_size) {
    std::lock_guard<std::mutex> hold(lock_);
    gathering_.reset(MediaBuffer::CreateOwned(packet_size));
    return static_cast<bool>(gathering_);
}

void PesAccumulator::Close() {
    std::lock_guard<std::mutex> hold(lock_);
    gathering_.reset();
}

void PesAccumulator::Add(MediaBuffer& unit) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!gathering_) return;
    if (unit.AppendTo(*gathering_)) return;
    write_(*gathering_);
    gathering_->Reset();
    if (!unit.AppendTo(*gathering_)) write_(unit);
}

void PesAccumulator::Flush() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!gathering_) return;
    write_(*gathering_);
    gathering_->Reset();
}

void PesAccumulator::Reset() {
    std::lock_guard<std::mutex> hold(lock_);
    if (gathering_) gathering_->Reset();
}

}  // namespace muxer
