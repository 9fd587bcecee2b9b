#include "filters/encoder/core/bit_buffer.h"

#include <new>

namespace ombrisk {

int CBitCounter::PutBits(int count, uint32_t) {
    if (count < 1) return 0;
    if (count > 32) count = 32;
    count_ += static_cast<uint32_t>(count);
    return count;
}

CBitBuffer::CBitBuffer(size_t capacity) {
    if (capacity > 0) {
        array_ = new (std::nothrow) uint8_t[capacity + kSlackBytes];
        if (array_) {
            ownsArray_ = true;
            capacity_ = capacity;
        }
    }
    Reset();
}

CBitBuffer::~CBitBuffer() {
    if (ownsArray_) delete[] array_;
}

void CBitBuffer::Attach(uint8_t* array, size_t capacity) {
    if (ownsArray_) delete[] array_;
    ownsArray_ = false;
    array_ = array;
    capacity_ = array ? capacity : 0;
    Reset();
}

void CBitBuffer::Reset() {
    pos_ = 0;
    bitsFree_ = 8;
    partial_ = 0;
    overflow_ = false;
}

void CBitBuffer::Truncate(size_t bytes) {
    if (bytes < pos_) pos_ = bytes;
    bitsFree_ = 8;
    partial_ = 0;
    overflow_ = false;
}

int CBitBuffer::PutBits(int count, uint32_t value) {
    if (count < 1) return 0;
    if (count > 32) count = 32;
    // Up to 7 pending bits plus 32 new ones fit in 64 bits.
    const uint64_t mask = (uint64_t{1} << count) - 1;
    uint64_t acc = (static_cast<uint64_t>(partial_) << count) | (value & mask);
    int have = 8 - bitsFree_ + count;
    while (have >= 8) {
        have -= 8;
        StoreByte(static_cast<uint8_t>(acc >> have));
    }
    partial_ = static_cast<uint32_t>(acc & ((uint64_t{1} << have) - 1));
    bitsFree_ = 8 - have;
    return count;
}

void CBitBuffer::PutByte(uint8_t byte) {
    if (bitsFree_ != 8) overflow_ = true;
    StoreByte(byte);
}

void CBitBuffer::WriteTrailingBits() {
    PutBits(1, 1);
    if (bitsFree_ != 8) PutBits(bitsFree_, 0);
}

void CBitBuffer::AlignWithOnes() {
    if (bitsFree_ != 8) PutBits(bitsFree_, 0xFFu);
}

}  // namespace ombrisk
