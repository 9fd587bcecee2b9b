#include "editor/core/access_unit_queue.h"

#include <chrono>

#include "editor/core/bytes.h"
#include "editor/core/ps_parser.h"

namespace editor {

bool CAccessUnitQueue::Create(size_t capacity) {
    std::lock_guard<std::mutex> hold(lock_);
    entries_.clear();
    aborted_ = false;
    finished_ = false;
    overflow_ = false;
    capacity_ = 0;
    if (!ring_.Create(capacity)) return false;
    capacity_ = capacity;
    return true;
}

void CAccessUnitQueue::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    ring_.Destroy();
    entries_.clear();
    capacity_ = 0;
}

// Waits until `length` more bytes fit. With no complete unit the consumer cannot free
// anything, and while overflow is allowed it will not, so the ring grows instead.
bool CAccessUnitQueue::WaitRoom(std::unique_lock<std::mutex>& hold, size_t length) {
    for (;;) {
        if (aborted_ || !ring_.Valid()) return false;
        if (ring_.FreeSpace() >= length) return true;
        if (entries_.size() <= 1 || overflow_) {
            const size_t fill = ring_.FillLevel();
            size_t size = ring_.Size();
            while (size - 1 < fill + length)
                size *= 2;
            std::vector<uint8_t> keep(fill);
            ring_.Read(keep.data(), fill);
            if (!ring_.Create(size)) return false;
            ring_.PutBytes(keep.data(), fill);
            continue;
        }
        changed_.wait(hold);
    }
}

bool CAccessUnitQueue::Put(int64_t time1, int64_t time2, int kind, size_t length, const uint8_t* data) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!data) length = 0;
    if (!WaitRoom(hold, length)) return false;
    AccessUnitInfo e;
    e.time1 = time1;
    e.time2 = time2;
    e.kind = kind;
    e.length = length;
    if (length > 0 && !ring_.PutBytes(data, length)) return false;
    entries_.push_back(e);
    if (entries_.size() >= 2) changed_.notify_all();
    return true;
}

bool CAccessUnitQueue::Append(size_t length, const uint8_t* data) {
    if (length == 0 || !data) return true;
    std::unique_lock<std::mutex> hold(lock_);
    if (entries_.empty()) return false;
    if (!WaitRoom(hold, length)) return false;
    if (!ring_.PutBytes(data, length)) return false;
    entries_.back().length += length;
    return true;
}

bool CAccessUnitQueue::SetTailTimes(int64_t time1, int64_t time2) {
    std::lock_guard<std::mutex> hold(lock_);
    if (entries_.empty()) return false;
    entries_.back().time1 = time1;
    entries_.back().time2 = time2;
    return true;
}

bool CAccessUnitQueue::RepeatTail(int64_t time1, int64_t time2) {
    std::vector<uint8_t> copy;
    int kind = 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (entries_.empty()) return false;
        copy.resize(entries_.back().length);
        kind = entries_.back().kind;
        if (ring_.PeekTail(copy.data(), copy.size(), copy.size()) != copy.size()) return false;
    }
    return Put(time1, time2, kind, copy.size(), copy.data());
}

bool CAccessUnitQueue::SplitTail(uint32_t pattern, uint32_t mask, int64_t step) {
    std::lock_guard<std::mutex> hold(lock_);
    if (entries_.empty()) return false;
    AccessUnitInfo& tail = entries_.back();
    if (tail.length < 5) return false;
    std::vector<uint8_t> bytes(tail.length);
    if (ring_.PeekTail(bytes.data(), bytes.size(), bytes.size()) != bytes.size()) return false;
    for (size_t i = 1; i + 4 <= bytes.size(); ++i) {
        if ((LowFirst32(&bytes[i]) & mask) != (pattern & mask)) continue;
        AccessUnitInfo next = tail;
        next.length = tail.length - i;
        next.time1 = tail.time1 == kNoTime ? kNoTime : tail.time1 + step;
        next.time2 = next.time1;
        tail.length = i;
        entries_.push_back(next);
        changed_.notify_all();
        return true;
    }
    return false;
}

bool CAccessUnitQueue::Peek(AccessUnitInfo* info, bool wait) {
    std::unique_lock<std::mutex> hold(lock_);
    if (wait && entries_.size() < 2 && !aborted_)
        changed_.wait_for(hold, std::chrono::milliseconds(100),
                          [&] { return entries_.size() >= 2 || aborted_ || finished_; });
    if (entries_.size() < 2) return false;
    if (info) *info = entries_.front();
    return true;
}

bool CAccessUnitQueue::TakeFront(std::vector<uint8_t>* out, AccessUnitInfo* info) {
    const AccessUnitInfo e = entries_.front();
    if (out) {
        out->resize(e.length);
        if (ring_.Read(out->data(), e.length) != e.length) return false;
    } else {
        ring_.Skip(e.length);
    }
    entries_.pop_front();
    if (info) *info = e;
    changed_.notify_all();
    return true;
}

bool CAccessUnitQueue::Take(std::vector<uint8_t>* out, AccessUnitInfo* info) {
    std::lock_guard<std::mutex> hold(lock_);
    if (entries_.size() < 2) return false;
    return TakeFront(out, info);
}

bool CAccessUnitQueue::PeekLast(AccessUnitInfo* info) {
    std::lock_guard<std::mutex> hold(lock_);
    if (entries_.size() != 1) return false;
    if (info) *info = entries_.front();
    return true;
}

bool CAccessUnitQueue::TakeLast(std::vector<uint8_t>* out, AccessUnitInfo* info) {
    std::lock_guard<std::mutex> hold(lock_);
    if (entries_.size() != 1) return false;
    return TakeFront(out, info);
}

void CAccessUnitQueue::SetOverflow(bool allow) {
    std::lock_guard<std::mutex> hold(lock_);
    if (overflow_ == allow) return;
    overflow_ = allow;
    changed_.notify_all();
}

void CAccessUnitQueue::Signal() {
    std::lock_guard<std::mutex> hold(lock_);
    aborted_ = true;
    changed_.notify_all();
}

void CAccessUnitQueue::Finish() {
    std::lock_guard<std::mutex> hold(lock_);
    finished_ = true;
    changed_.notify_all();
}

bool CAccessUnitQueue::Finished() const {
    std::lock_guard<std::mutex> hold(lock_);
    return finished_;
}

bool CAccessUnitQueue::Aborted() const {
    std::lock_guard<std::mutex> hold(lock_);
    return aborted_;
}

size_t CAccessUnitQueue::Capacity() const {
    std::lock_guard<std::mutex> hold(lock_);
    return capacity_;
}

size_t CAccessUnitQueue::Units() const {
    std::lock_guard<std::mutex> hold(lock_);
    return entries_.size();
}

}  // namespace editor
