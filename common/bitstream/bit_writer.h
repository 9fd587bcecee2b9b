// Bit sinks for bitstream syntax, most significant bit first (ITU-T H.264 clause 7.2,
// ISO/IEC 13818 systems and video headers).
//
// BitWriter stores into a caller's byte array through a 64-bit accumulator; BitCounter
// only counts. Both have the same inline interface, so one syntax routine written as a
// template on the sink either writes an element or measures it for a rate-distortion trial:
//
//   template <common::BitSink Sink> void WriteMvd(Sink& s, int32_t mvd) { s.PutSe(mvd); }
//
// BitWriter never drops bits silently: a write that does not fit in the capacity, a ue(v)
// or se(v) value outside the 32-bit code space, or a byte store off a byte boundary sets the
// overflow flag, which stays set until Reset or Truncate. The owner must then treat the
// bytes as unusable.
//
// Bits wait in the accumulator until 64 have gathered; Flush stores the whole pending bytes,
// so Data()[0, ByteCount()) is complete after Flush (the alignment calls flush by themselves).
#pragma once

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace common {

// Largest codeNum of ue(v) with at most 31 leading zeros (clause 9.1): 2^32 - 2.
inline constexpr uint32_t kMaxUeValue = 0xFFFFFFFEu;

// Length in bits of the ue(v) code of `value`: 2 * floor(log2(value + 1)) + 1.
constexpr int UeBits(uint32_t value) {
    return 2 * static_cast<int>(std::bit_width(uint64_t{value} + 1)) - 1;
}

// codeNum of se(v) `value` (clause 9.1.1: k > 0 maps to 2k - 1, k <= 0 to -2k); values below
// -(2^31 - 1) have no 32-bit code and give a codeNum above kMaxUeValue.
constexpr uint64_t SeCodeNum(int32_t value) {
    return value > 0 ? 2 * uint64_t(uint32_t(value)) - 1 : 2 * (uint64_t{0} - uint64_t(int64_t{value}));
}

constexpr int SeBits(int32_t value) {
    const uint64_t k = SeCodeNum(value);
    return k > kMaxUeValue ? 65 : 2 * static_cast<int>(std::bit_width(k + 1)) - 1;
}

class BitWriter {
public:
    BitWriter() = default;
    // Writes into `array` (capacity bytes, not owned).
    BitWriter(uint8_t* array, size_t capacity) { Attach(array, capacity); }

    // Writes into `array` from its start from now on; forgets everything written before.
    void Attach(uint8_t* array, size_t capacity) {
        array_ = array;
        capacity_ = array ? capacity : 0;
        Reset();
    }
    // Continues in `array`, a larger home: the bytes written so far are copied to it, so
    // every position (ByteCount, BitCount) stays valid. False, and nothing changed, when
    // the new capacity cannot hold them.
    bool Rebase(uint8_t* array, size_t capacity) {
        if (!array || capacity < pos_) return false;
        if (pos_ > 0 && array != array_) std::memmove(array, array_, pos_);
        array_ = array;
        capacity_ = capacity;
        return true;
    }
    void Reset() {
        pos_ = 0;
        acc_ = 0;
        free_ = 64;
        overflow_ = false;
    }
    // Goes back to byte boundary `bytes` (no further than the bytes written) and clears the
    // overflow flag: drops a unit that did not fit and keeps the ones before it.
    void Truncate(size_t bytes) {
        Flush();
        if (bytes < pos_) pos_ = bytes;
        acc_ = 0;
        free_ = 64;
        overflow_ = false;
    }

    // Appends the low `n` bits of `value`, 0 <= n <= 32; higher bits of `value` are ignored.
    void PutBits(int n, uint32_t value) {
        const uint64_t v = value & ((uint64_t{1} << n) - 1);
        if (n < free_) {
            acc_ = (acc_ << n) | v;
            free_ -= n;
            return;
        }
        // 1 <= free_ <= n <= 32 here: fill the accumulator, store it, keep the rest of v.
        const int rest = n - free_;
        acc_ = (acc_ << free_) | (v >> rest);
        Store64(acc_);
        acc_ = v;  // only the low `rest` bits are pending; the ones above shift out later
        free_ = 64 - rest;
    }
    void PutBit(uint32_t bit) { PutBits(1, bit & 1u); }
    // One whole byte, only at a byte boundary: elsewhere it would land across two bytes, so
    // the overflow flag is set as well.
    void PutByte(uint8_t byte) {
        if (!IsByteAligned()) overflow_ = true;
        PutBits(8, byte);
    }
    // ue(v), clause 9.1: value 0 .. kMaxUeValue.
    void PutUe(uint32_t value) {
        const uint64_t code = uint64_t{value} + 1;
        const int len = static_cast<int>(std::bit_width(code));
        if (len > 32) {
            overflow_ = true;  // 0xFFFFFFFF has no code of 31 leading zeros or fewer
            return;
        }
        if (len <= 16) {
            PutBits(2 * len - 1, static_cast<uint32_t>(code));
        } else {
            PutBits(len - 1, 0);
            PutBits(len, static_cast<uint32_t>(code));
        }
    }
    // se(v), clause 9.1.1: value -(2^31 - 1) .. 2^31 - 1.
    void PutSe(int32_t value) {
        const uint64_t k = SeCodeNum(value);
        if (k > kMaxUeValue) {
            overflow_ = true;
            return;
        }
        PutUe(static_cast<uint32_t>(k));
    }
    // rbsp_trailing_bits (clause 7.3.2.11): a 1 bit, then 0 bits to the byte boundary.
    void PutTrailingBits() {
        PutBits(1, 1);
        AlignWithZeros();
    }
    // 0 bits to the byte boundary; nothing when aligned.
    void AlignWithZeros() {
        PutBits(free_ & 7, 0);
        Flush();
    }
    // 1 bits to the byte boundary (cabac_alignment_one_bit, clause 7.3.4); nothing when aligned.
    void AlignWithOnes() {
        PutBits(free_ & 7, 0xFFu);
        Flush();
    }
    // Whole bytes; at a byte boundary they are copied in one piece.
    void PutBytes(const uint8_t* bytes, size_t count) {
        if (!IsByteAligned()) {
            for (size_t i = 0; i < count; ++i)
                PutBits(8, bytes[i]);
            return;
        }
        Flush();
        const size_t room = capacity_ - pos_;
        const size_t n = count < room ? count : room;
        if (n > 0) std::memcpy(array_ + pos_, bytes, n);
        pos_ += n;
        if (n < count) overflow_ = true;
    }

    // Stores every whole byte waiting in the accumulator; a partial byte stays there.
    void Flush() {
        int used = 64 - free_;
        while (used >= 8) {
            used -= 8;
            StoreByte(static_cast<uint8_t>(acc_ >> used));
        }
        free_ = 64 - used;
    }

    uint64_t BitCount() const { return uint64_t{pos_} * 8 + static_cast<uint64_t>(64 - free_); }
    // Whole bytes written; all of them are in Data() after Flush.
    size_t ByteCount() const { return static_cast<size_t>(BitCount() / 8); }
    bool IsByteAligned() const { return (free_ & 7) == 0; }
    bool Overflowed() const { return overflow_; }
    size_t Capacity() const { return capacity_; }
    // Bytes still free in the array, not counting the bits waiting in the accumulator.
    size_t BytesLeft() const {
        const size_t used = ByteCount();
        return used < capacity_ ? capacity_ - used : 0;
    }
    uint8_t* Data() { return array_; }
    const uint8_t* Data() const { return array_; }

private:
    void StoreByte(uint8_t byte) {
        if (pos_ < capacity_) {
            array_[pos_++] = byte;
        } else {
            overflow_ = true;
        }
    }
    void Store64(uint64_t word) {
        if (capacity_ - pos_ >= 8) [[likely]] {
            if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
                // The guard above keeps the store inside the array; GCC's bounds warning misses
                // it when the array is a small one of known size.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
            std::memcpy(array_ + pos_, &word, 8);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
            pos_ += 8;
            return;
        }
        for (int shift = 56; shift >= 0; shift -= 8)
            StoreByte(static_cast<uint8_t>(word >> shift));
    }

    uint8_t* array_ = nullptr;
    size_t capacity_ = 0;
    size_t pos_ = 0;    // bytes stored in array_
    uint64_t acc_ = 0;  // pending bits in the low (64 - free_) bits; bits above them are stale
    int free_ = 64;     // free bit positions in acc_, 1..64 between calls
    bool overflow_ = false;
};

// Counting sink with BitWriter's interface: a syntax routine run on it measures the bits it
// would write. It starts at bit `startBits` so that alignment counts as it would in the
// writer it stands for.
class BitCounter {
public:
    explicit BitCounter(uint64_t startBits = 0) : bits_(startBits) {}

    void PutBits(int n, uint32_t) { bits_ += static_cast<uint64_t>(n); }
    void PutBit(uint32_t) { ++bits_; }
    void PutByte(uint8_t) { bits_ += 8; }
    void PutUe(uint32_t value) { bits_ += static_cast<uint64_t>(UeBits(value)); }
    void PutSe(int32_t value) { bits_ += static_cast<uint64_t>(SeBits(value)); }
    void PutTrailingBits() {
        ++bits_;
        AlignWithZeros();
    }
    void AlignWithZeros() { bits_ += (8 - (bits_ & 7)) & 7; }
    void AlignWithOnes() { AlignWithZeros(); }
    void PutBytes(const uint8_t*, size_t count) { bits_ += uint64_t{count} * 8; }
    void Flush() {}

    uint64_t BitCount() const { return bits_; }
    void Reset(uint64_t startBits = 0) { bits_ = startBits; }
    bool IsByteAligned() const { return (bits_ & 7) == 0; }
    bool Overflowed() const { return false; }

private:
    uint64_t bits_;
};

// What a syntax routine may ask of its sink.
template <class Sink>
concept BitSink = requires(Sink& s, const Sink& cs, int n, uint32_t u, int32_t i) {
    s.PutBits(n, u);
    s.PutBit(u);
    s.PutByte(uint8_t{0});
    s.PutUe(u);
    s.PutSe(i);
    s.PutTrailingBits();
    s.AlignWithZeros();
    s.AlignWithOnes();
    { cs.BitCount() } -> std::convertible_to<uint64_t>;
    { cs.IsByteAligned() } -> std::same_as<bool>;
    { cs.Overflowed() } -> std::same_as<bool>;
};

static_assert(BitSink<BitWriter> && BitSink<BitCounter>);

}  // namespace common
