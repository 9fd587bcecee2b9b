#include "editor/core/bit_ring.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/bitstream/start_code.h"

namespace editor {

bool CBitRing::Create(size_t size) {
    std::lock_guard<std::mutex> hold(lock_);
    storage_.reset();
    size_ = 0;
    write_ = read_ = markedRead_ = 0;
    writeBits_ = readBits_ = readBitsMarked_ = 0;
    writeByte_ = readByte_ = readByteMarked_ = 0;
    marked_ = false;
    if (size < 2) return false;
    storage_.reset(new (std::nothrow) uint8_t[size]);
    if (!storage_) return false;
    size_ = size;
    return true;
}

void CBitRing::Destroy() {
    std::lock_guard<std::mutex> hold(lock_);
    storage_.reset();
    size_ = 0;
    write_ = read_ = markedRead_ = 0;
    writeBits_ = readBits_ = 0;
    marked_ = false;
}

// Copies n bytes starting at storage index `from`, in at most two pieces.
size_t CBitRing::CopyOut(size_t from, uint8_t* buffer, size_t n) const {
    if (n == 0) return 0;
    const size_t first = std::min(n, size_ - from);
    std::memcpy(buffer, storage_.get() + from, first);
    if (n > first) std::memcpy(buffer + first, storage_.get(), n - first);
    return n;
}

void CBitRing::CopyIn(const uint8_t* data, size_t n) {
    if (n == 0) return;
    const size_t first = std::min(n, size_ - write_);
    std::memcpy(storage_.get() + write_, data, first);
    if (n > first) std::memcpy(storage_.get(), data + first, n - first);
    write_ = Advance(write_, n);
}

void CBitRing::PutByteLocked(uint8_t b) {
    storage_[write_] = b;
    write_ = Advance(write_, 1);
}

void CBitRing::PutBitsLocked(uint32_t value, int n) {
    // Whole bytes go straight in while the ring is byte aligned; only a partial byte
    // takes the bit loop.
    if (writeBits_ == 0) {
        while (n >= 8) {
            n -= 8;
            PutByteLocked(static_cast<uint8_t>(value >> n));
        }
    }
    for (int i = n - 1; i >= 0; --i) {
        writeByte_ = static_cast<uint8_t>((writeByte_ << 1) | ((value >> i) & 1u));
        if (++writeBits_ == 8) {
            PutByteLocked(writeByte_);
            writeBits_ = 0;
            writeByte_ = 0;
        }
    }
}

bool CBitRing::PutBits(uint32_t value, int n) {
    if (n < 0 || n > 32) return false;
    std::lock_guard<std::mutex> hold(lock_);
    if (!size_) return false;
    const size_t whole = static_cast<size_t>(writeBits_ + n) / 8;
    if (whole > FreeLocked()) return false;
    PutBitsLocked(value, n);
    return true;
}

bool CBitRing::PutBytes(const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!size_ || length > FreeLocked()) return false;
    if (writeBits_ == 0) {
        CopyIn(data, length);
    } else {
        for (size_t i = 0; i < length; ++i)
            PutBitsLocked(data[i], 8);
    }
    return true;
}

bool CBitRing::AlignWrite() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!size_) return false;
    readBits_ = 0;
    if (writeBits_ == 0) return true;
    if (FreeLocked() == 0) return false;
    PutByteLocked(static_cast<uint8_t>(writeByte_ << (8 - writeBits_)));
    writeBits_ = 0;
    writeByte_ = 0;
    return true;
}

uint32_t CBitRing::GetBits(int n, int* got) {
    std::lock_guard<std::mutex> hold(lock_);
    uint32_t v = 0;
    int have = 0;
    if (size_ && n > 0 && n <= 32) {
        while (have < n) {
            if (readBits_ == 0) {
                if (read_ == write_) break;
                readByte_ = storage_[read_];
                read_ = Advance(read_, 1);
                readBits_ = 8;
            }
            --readBits_;
            v = (v << 1) | ((readByte_ >> readBits_) & 1u);
            ++have;
        }
    }
    if (got) *got = have;
    return v;
}

size_t CBitRing::Read(uint8_t* buffer, size_t n) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!size_) return 0;
    readBits_ = 0;
    n = std::min(n, FillLocked());
    CopyOut(read_, buffer, n);
    read_ = Advance(read_, n);
    return n;
}

size_t CBitRing::ReadAll(uint8_t* buffer) {
    return Read(buffer, FillLevel());
}

size_t CBitRing::Peek(uint8_t* buffer, size_t n) const {
    std::lock_guard<std::mutex> hold(lock_);
    if (!size_) return 0;
    n = std::min(n, FillLocked());
    return CopyOut(read_, buffer, n);
}

size_t CBitRing::PeekTail(uint8_t* buffer, size_t back, size_t n) const {
    std::lock_guard<std::mutex> hold(lock_);
    if (!size_) return 0;
    back = std::min(back, FillLocked());
    n = std::min(n, back);
    return CopyOut(write_ >= back ? write_ - back : write_ + size_ - back, buffer, n);
}

size_t CBitRing::Skip(size_t n) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!size_) return 0;
    readBits_ = 0;
    n = std::min(n, FillLocked());
    read_ = Advance(read_, n);
    return n;
}

void CBitRing::Mark() {
    std::lock_guard<std::mutex> hold(lock_);
    markedRead_ = read_;
    readBitsMarked_ = readBits_;
    readByteMarked_ = readByte_;
    marked_ = true;
}

void CBitRing::Restore() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!marked_ || !size_) return;
    // The bytes since the mark are still reserved (FreeLocked), so the writer has not
    // overwritten them.
    read_ = markedRead_;
    readBits_ = readBitsMarked_;
    readByte_ = readByteMarked_;
    marked_ = false;
}

void CBitRing::Unmark() {
    std::lock_guard<std::mutex> hold(lock_);
    marked_ = false;
}

size_t CBitRing::FillLevel() const {
    std::lock_guard<std::mutex> hold(lock_);
    return size_ ? FillLocked() : 0;
}

size_t CBitRing::FreeSpace() const {
    std::lock_guard<std::mutex> hold(lock_);
    return size_ ? FreeLocked() : 0;
}

bool CBitRing::IsEmpty() const {
    std::lock_guard<std::mutex> hold(lock_);
    return read_ == write_ && readBits_ == 0;
}

bool CBitRing::IsFull() const {
    std::lock_guard<std::mutex> hold(lock_);
    return size_ && Advance(write_, 1) == read_;
}

void CBitRing::Reset() {
    std::lock_guard<std::mutex> hold(lock_);
    write_ = read_ = markedRead_ = 0;
    writeBits_ = readBits_ = 0;
    writeByte_ = readByte_ = 0;
    marked_ = false;
}

// Both scans look for their byte with memchr over the (at most two) contiguous pieces of
// the readable bytes, under one lock for the whole call.
size_t CBitRing::SkipToStartCode() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!size_) return 0;
    readBits_ = 0;
    const size_t fill = FillLocked();
    if (fill < 4) return 0;
    // A start code's 00 00 01 must lie within the first fill - 1 readable bytes, so that
    // its fourth byte is readable too. The readable bytes lie in at most two contiguous
    // pieces; each is scanned whole, and the two positions that straddle the wrap apart.
    const size_t span = fill - 1;
    const uint8_t* base = storage_.get();
    const size_t first = std::min(span, size_ - read_);
    auto at = [&](size_t k) { return base[Advance(read_, k)]; };
    auto found = [&](size_t k) {
        read_ = Advance(read_, k);
        return k;
    };
    const uint8_t* a = base + read_;
    const uint8_t* hit = common::FindStartCode(a, a + first);
    if (hit != a + first) return found(size_t(hit - a));
    for (size_t k = first >= 2 ? first - 2 : 0; k < first && k + 3 <= span; ++k)
        if (at(k) == 0 && at(k + 1) == 0 && at(k + 2) == 1) return found(k);
    if (span > first) {
        hit = common::FindStartCode(base, base + (span - first));
        if (hit != base + (span - first)) return found(first + size_t(hit - base));
    }
    // No start code: keep the last three bytes, which may begin one.
    return found(fill - 3);
}

size_t CBitRing::SkipToByte(uint8_t value) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!size_) return 0;
    readBits_ = 0;
    size_t skipped = 0;
    while (read_ != write_) {
        const size_t run = write_ > read_ ? write_ - read_ : size_ - read_;
        const void* hit = std::memchr(storage_.get() + read_, value, run);
        if (hit) {
            const size_t k = size_t(static_cast<const uint8_t*>(hit) - (storage_.get() + read_));
            read_ = Advance(read_, k);
            skipped += k;
            break;
        }
        read_ = Advance(read_, run);
        skipped += run;
    }
    return skipped;
}

}  // namespace editor
