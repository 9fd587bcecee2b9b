// Bit sinks under all bitstream output of the encoder core: a counting sink for
// rate-distortion trials and a bounded bit buffer that collects bits most significant first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ombrisk {

// Counting sink: remembers how many bits would have been written.
class CBitCounter {
public:
    virtual ~CBitCounter() = default;
    virtual uint32_t GetBitCount() const { return count_; }
    // Adds `count` (1..32; below 1 nothing) to the count; `value` is ignored. Returns the
    // number of bits counted.
    virtual int PutBits(int count, uint32_t value);
    void ResetCount() { count_ = 0; }

protected:
    uint32_t count_ = 0;
};

// Byte array filled bit by bit. Every store is bounded by the capacity: a write that does
// not fit sets the overflow flag, which stays set until Reset, and the owner must treat the
// buffer's content as unusable (the NAL writer refuses to emit it). Bits are never dropped
// silently.
class CBitBuffer : public CBitCounter {
public:
    // Bytes allocated beyond the capacity of an owned array: the CABAC engine stores eight
    // bytes at a time and may reach that far past the last byte it keeps.
    static constexpr size_t kSlackBytes = 8;

    // capacity 0 leaves the buffer without an array until Attach. When the allocation fails
    // the buffer has capacity 0 and every write overflows.
    explicit CBitBuffer(size_t capacity);
    ~CBitBuffer() override;
    CBitBuffer(const CBitBuffer&) = delete;
    CBitBuffer& operator=(const CBitBuffer&) = delete;

    // Frees an owned array and writes into `array` (capacity bytes, not owned) from now on.
    void Attach(uint8_t* array, size_t capacity);
    void Reset();
    // Goes back to byte boundary `bytes` (at most the current byte count) and clears the
    // overflow flag: drops a unit that did not fit, keeping the ones before it.
    void Truncate(size_t bytes);

    uint32_t GetBitCount() const override {
        return static_cast<uint32_t>(pos_ * 8 + 8 - static_cast<size_t>(bitsFree_));
    }
    // Appends the low `count` bits of `value` (count 1..32; below 1 nothing, above 32 is
    // taken as 32). Returns the number of bits appended.
    int PutBits(int count, uint32_t value) override;
    // Stores a whole byte; only at a byte boundary (else the overflow flag is set too,
    // since the byte would land in the wrong place).
    void PutByte(uint8_t byte);
    // rbsp_trailing_bits: a 1 bit, then 0 bits to the byte boundary.
    void WriteTrailingBits();
    // cabac_alignment_one_bit: 1 bits to the byte boundary; nothing when aligned.
    void AlignWithOnes();
    // Declares the buffer to stand at a byte boundary without storing anything.
    void MarkByteBoundary() { bitsFree_ = 8; }

    bool IsByteAligned() const { return bitsFree_ == 8; }
    bool Overflowed() const { return overflow_; }
    size_t ByteCount() const { return pos_; }
    size_t Capacity() const { return capacity_; }
    const uint8_t* Data() const { return array_; }
    uint8_t* Data() { return array_; }

private:
    void StoreByte(uint8_t byte) {
        if (pos_ < capacity_) {
            array_[pos_++] = byte;
        } else {
            overflow_ = true;
        }
    }

    bool ownsArray_ = false;
    size_t pos_ = 0;        // index of the byte being filled
    int bitsFree_ = 8;      // free bit positions in that byte, 8 down to 1
    uint32_t partial_ = 0;  // bits already collected for it, right-aligned
    uint8_t* array_ = nullptr;
    size_t capacity_ = 0;
    bool overflow_ = false;
};

}  // namespace ombrisk
