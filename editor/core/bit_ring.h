// CBitRing: the byte ring through which the editing component's stream data passes.
// Writes go in at bit granularity, most significant bit first, so headers can be composed
// field by field; reads come out by bytes or by bits. One writer and one reader may work
// on a ring from two threads: every position update and every copy happens under the
// ring's lock.
//
// The ring never drops data: a write that does not fit in the free space is refused as a
// whole (false) and leaves the ring unchanged. The storage keeps one slot unused, so a
// ring created with `size` bytes holds at most size - 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace editor {

class CBitRing {
public:
    CBitRing() = default;
    CBitRing(const CBitRing&) = delete;
    CBitRing& operator=(const CBitRing&) = delete;

    // Allocates `size` bytes of storage (at least 2). False when the size is too small or
    // memory is short; the ring is then empty and unusable.
    bool Create(size_t size);
    void Destroy();
    bool Valid() const { return size_ != 0; }
    size_t Size() const { return size_; }

    // Appends the low `n` bits (0-32) of `value`, most significant first. False, and
    // nothing written, when the completed bytes would not fit.
    bool PutBits(uint32_t value, int n);
    // Appends `length` bytes. False, and nothing written, when they do not fit.
    bool PutBytes(const uint8_t* data, size_t length);
    // Completes a partial written byte with zero bits; drops a partial read byte.
    bool AlignWrite();

    // Reads `n` bits (0-32), most significant first; when the ring runs dry the bits read
    // so far are returned (right-aligned) and `*got` (if given) says how many there were.
    uint32_t GetBits(int n, int* got = nullptr);
    // Copies up to `n` whole bytes out and advances; returns the count. A partial read
    // byte left by GetBits is dropped first.
    size_t Read(uint8_t* buffer, size_t n);
    // Everything readable; the buffer must hold FillLevel() bytes.
    size_t ReadAll(uint8_t* buffer);
    // Read without advancing.
    size_t Peek(uint8_t* buffer, size_t n) const;
    // Copies up to `n` bytes starting `back` bytes before the write position.
    size_t PeekTail(uint8_t* buffer, size_t back, size_t n) const;
    // Advances over up to `n` bytes; returns the count.
    size_t Skip(size_t n);

    // Saves the read position (for trying a header) / returns to it / keeps what was read
    // since. Until Restore or Unmark the bytes after the mark are not reused by writes.
    void Mark();
    void Restore();
    void Unmark();

    size_t FillLevel() const;
    size_t FreeSpace() const;
    bool IsEmpty() const;
    bool IsFull() const;
    void Reset();

    // Skips to the next 00 00 01 and leaves the read position on its first 00; returns the
    // bytes skipped. Stops, leaving three bytes, when fewer than 4 bytes remain.
    size_t SkipToStartCode();
    // Skips bytes until one equals `value` (left unread); returns the bytes skipped.
    size_t SkipToByte(uint8_t value);

private:
    // Positions wrap by comparison, not division: every index is below size_.
    size_t Advance(size_t index, size_t n) const {
        index += n;
        return index >= size_ ? index - size_ : index;
    }
    size_t FillLocked() const { return write_ >= read_ ? write_ - read_ : write_ + size_ - read_; }
    // Room for the writer: bytes between a Mark and the read position stay reserved until
    // Restore, so a rewind never finds them overwritten.
    size_t FreeLocked() const {
        const size_t from = marked_ ? markedRead_ : read_;
        return size_ - 1 - (write_ >= from ? write_ - from : write_ + size_ - from);
    }
    void PutBitsLocked(uint32_t value, int n);
    size_t CopyOut(size_t from, uint8_t* buffer, size_t n) const;
    void CopyIn(const uint8_t* data, size_t n);
    void PutByteLocked(uint8_t b);

    mutable std::mutex lock_;
    std::unique_ptr<uint8_t[]> storage_;
    size_t size_ = 0;
    size_t write_ = 0;
    size_t read_ = 0;
    size_t markedRead_ = 0;
    int readBitsMarked_ = 0;
    uint8_t readByteMarked_ = 0;
    bool marked_ = false;
    int writeBits_ = 0;  // bits held in writeByte_, 0-7
    uint8_t writeByte_ = 0;
    int readBits_ = 0;  // bits of readByte_ not yet returned, 0-7
    uint8_t readByte_ = 0;
};

}  // namespace editor
