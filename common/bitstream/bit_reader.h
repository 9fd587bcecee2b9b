// Bounded reader of fixed-length and Exp-Golomb syntax elements, most significant bit first
// (ITU-T H.264 clauses 7.2 and 9.1; the same bit order serves ISO/IEC 13818 headers). It
// reads an RBSP, i.e. bytes whose emulation prevention is already removed
// (emulation_prevention.h).
//
// The reader never touches a byte outside [data, data + bytes). One error idiom: every
// failure sets a sticky bit in Errors() and reads go on returning harmless values, so a
// parser reads a run of fields and checks Ok() once, or uses the checked variants
// (ReadUeIn, ReadSeIn), which answer false.
//   - Bits past the end read as zeros and set kPastEnd.
//   - ue(v) reads codes of up to 31 leading zeros exactly (codeNum 0 .. 2^32 - 2); a code
//     with more leading zeros sets kInvalidCode and reads as 0.
//   - A caller's own range check marks the reader with Fail() (kRejected).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace common {

class BitReader {
public:
    enum Error : uint8_t {
        kPastEnd = 1,      // a read went beyond the last byte
        kInvalidCode = 2,  // an Exp-Golomb code with more than 31 leading zeros
        kRejected = 4,     // a value outside the caller's range (Fail, ReadUeIn, ReadSeIn)
    };

    BitReader() { Start(nullptr, 0); }
    BitReader(const uint8_t* data, size_t bytes) { Start(data, bytes); }
    explicit BitReader(std::span<const uint8_t> bytes) { Start(bytes.data(), bytes.size()); }

    // u(n), 0 <= n <= 32.
    uint32_t ReadBits(int n) {
        const uint32_t v = PeekBits(n);
        Consume(n);
        return v;
    }
    uint32_t ReadBit() { return ReadBits(1); }
    bool ReadFlag() { return ReadBits(1) != 0; }
    // u(n), 0 <= n <= 64 (system-layer time stamps and the like).
    uint64_t ReadBits64(int n) {
        if (n <= 32) return ReadBits(n);
        const uint64_t high = ReadBits(n - 32);
        return (high << 32) | ReadBits(32);
    }
    // The next n bits (0 <= n <= 32) without consuming them.
    uint32_t PeekBits(int n) const { return static_cast<uint32_t>((cache_ >> 1) >> (63 - n)); }

    // ue(v), clause 9.1: codeNum 0 .. 2^32 - 2.
    uint32_t ReadUe() {
        const uint64_t c = cache_;  // at least 32 valid bits
        if ((c >> 32) == 0) [[unlikely]] {
            errors_ |= kInvalidCode;
            Consume(32);
            return 0;
        }
        const int zeros = std::countl_zero(c);
        if (zeros < 16) {
            const int len = 2 * zeros + 1;
            Consume(len);
            return static_cast<uint32_t>(c >> (64 - len)) - 1;
        }
        Consume(zeros);
        return ReadBits(zeros + 1) - 1;  // the prefix's 1 bit and the suffix, <= 32 bits
    }
    // se(v), clause 9.1.1: -(2^31 - 1) .. 2^31 - 1.
    int32_t ReadSe() {
        const uint32_t k = ReadUe();
        const int32_t magnitude = static_cast<int32_t>(k >> 1);
        return (k & 1) ? magnitude + 1 : -magnitude;
    }
    // ue(v) that must lie in 0 .. maxValue; false (and the reader failed) otherwise, or when
    // the code is invalid or runs past the end. `*value` is written only on success.
    bool ReadUeIn(uint32_t maxValue, uint32_t* value) {
        const uint32_t v = ReadUe();
        if (errors_ != 0) return false;
        if (v > maxValue) {
            errors_ |= kRejected;
            return false;
        }
        *value = v;
        return true;
    }
    bool ReadSeIn(int32_t minValue, int32_t maxValue, int32_t* value) {
        const int32_t v = ReadSe();
        if (errors_ != 0) return false;
        if (v < minValue || v > maxValue) {
            errors_ |= kRejected;
            return false;
        }
        *value = v;
        return true;
    }

    void SkipBits(uint64_t n) {
        if (n <= 32) {
            Consume(static_cast<int>(n));
            return;
        }
        const uint64_t total = uint64_t{size_} * 8;
        uint64_t target = BitPosition() + n;
        if (target > total || target < n) {
            errors_ |= kPastEnd;
            target = total;
        }
        pos_ = static_cast<size_t>(target / 8);
        cache_ = 0;
        cacheBits_ = 0;
        Refill();
        Consume(static_cast<int>(target % 8));
    }
    void AlignToByte() { Consume(static_cast<int>((8 - BitPosition() % 8) % 8)); }
    bool IsByteAligned() const { return BitPosition() % 8 == 0; }

    // more_rbsp_data() (clause 7.2): something other than rbsp_trailing_bits follows, i.e.
    // the position lies before the last 1 bit of the buffer (the rbsp_stop_one_bit).
    bool MoreRbspData() const { return static_cast<int64_t>(BitPosition()) < stopBit_; }
    // The position is on the rbsp_stop_one_bit and nothing was read past it: a parser that
    // is exact ends here, and a cut or padded structure does not.
    bool AtStopBit() const { return errors_ == 0 && static_cast<int64_t>(BitPosition()) == stopBit_; }
    // Bit index of rbsp_stop_one_bit from the start; -1 when every bit is zero.
    int64_t StopBitPosition() const { return stopBit_; }

    uint64_t BitPosition() const { return uint64_t{pos_} * 8 - static_cast<uint64_t>(cacheBits_); }
    uint64_t BitsLeft() const {
        const uint64_t total = uint64_t{size_} * 8, at = BitPosition();
        return at < total ? total - at : 0;
    }
    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }

    bool Ok() const { return errors_ == 0; }
    bool PastEnd() const { return (errors_ & kPastEnd) != 0; }
    bool InvalidCode() const { return (errors_ & kInvalidCode) != 0; }
    uint8_t Errors() const { return errors_; }
    // Marks the reader failed for a reason of the caller's (a value out of its range).
    void Fail() { errors_ |= kRejected; }

private:
    void Start(const uint8_t* data, size_t bytes) {
        data_ = data;
        size_ = data ? bytes : 0;
        pos_ = 0;
        cache_ = 0;
        cacheBits_ = 0;
        errors_ = 0;
        stopBit_ = -1;
        for (size_t i = size_; i > 0; --i) {
            const uint8_t b = data_[i - 1];
            if (b != 0) {
                stopBit_ = static_cast<int64_t>(i * 8 - 1) - std::countr_zero(b);
                break;
            }
        }
        Refill();
    }
    // Fills the cache to 56 or more valid bits (from fewer than 32); bytes past the end load
    // as zeros. The fast path loads eight bytes and keeps the whole ones that fit; the bits
    // of the next byte that land below the valid ones are that byte's own, so the next
    // load ORs the same bits over them.
    void Refill() {
        if (pos_ + 8 <= size_) [[likely]] {
            uint64_t w;
            // The guard above keeps the load inside the buffer; GCC's bounds warning misses
            // it when a caller's buffer is a small array of known size.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overread"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
            std::memcpy(&w, data_ + pos_, 8);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
            if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
            cache_ |= w >> cacheBits_;
            const int bytes = (63 - cacheBits_) >> 3;
            pos_ += static_cast<size_t>(bytes);
            cacheBits_ += 8 * bytes;
            return;
        }
        while (cacheBits_ <= 56) {
            const uint64_t b = pos_ < size_ ? data_[pos_] : 0u;
            cache_ |= b << (56 - cacheBits_);
            cacheBits_ += 8;
            ++pos_;
        }
    }
    // 0 <= n <= 32.
    void Consume(int n) {
        cache_ <<= n;
        cacheBits_ -= n;
        // Away from the end the fast refill runs after every read: cheaper than a branch
        // on the cache level, which the varying code lengths make unpredictable.
        if (pos_ + 8 <= size_) [[likely]]
            Refill();
        else if (cacheBits_ < 32)
            Refill();
        if (pos_ > size_) [[unlikely]] {
            if (BitPosition() > uint64_t{size_} * 8) errors_ |= kPastEnd;
        }
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_;       // index of the next byte to load; past size_ once zeros were loaded
    uint64_t cache_;   // the next unread bit is the most significant
    int cacheBits_;    // valid bits in cache_, 32..64 between calls
    uint8_t errors_;   // Error bits, sticky
    int64_t stopBit_;  // see StopBitPosition
};

}  // namespace common
