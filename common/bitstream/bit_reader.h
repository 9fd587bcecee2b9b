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
// Reads load eight bytes at the position (a shorter load near the end), so a parser of
// short codes may take a whole window of bits and consume from it (BitWindow).
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
    // Bits a window (Window) holds from the stream at least.
    static constexpr int kWindowBits = 57;

    BitReader() { Start(nullptr, 0); }
    BitReader(const uint8_t* data, size_t bytes) { Start(data, bytes); }
    explicit BitReader(std::span<const uint8_t> bytes) { Start(bytes.data(), bytes.size()); }

    // u(n), 0 <= n <= 32.
    uint32_t ReadBits(int n) {
        const uint32_t v = PeekBits(n);
        pos_ += static_cast<uint64_t>(n);
        return v;
    }
    uint32_t ReadBit() {
        const uint32_t v = static_cast<uint32_t>(Window() >> 63);
        ++pos_;
        return v;
    }
    bool ReadFlag() { return ReadBit() != 0; }
    // u(n), 0 <= n <= 64 (system-layer time stamps and the like).
    uint64_t ReadBits64(int n) {
        if (n <= 32) return ReadBits(n);
        const uint64_t high = ReadBits(n - 32);
        return (high << 32) | ReadBits(32);
    }
    // The next n bits (0 <= n <= 32) without consuming them.
    uint32_t PeekBits(int n) const { return static_cast<uint32_t>((Window() >> 1) >> (63 - n)); }

    // ue(v), clause 9.1: codeNum 0 .. 2^32 - 2. Codes of up to 15 leading zeros come from
    // one window.
    uint32_t ReadUe() {
        const uint64_t v = Window();
        const int zeros = std::countl_zero(v);
        if (zeros < 16) [[likely]] {
            const int length = 2 * zeros + 1;
            pos_ += static_cast<uint64_t>(length);
            return static_cast<uint32_t>(v >> (64 - length)) - 1;
        }
        return ReadLongUe(zeros);
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
        if (!Ok()) return false;
        if (v > maxValue) {
            errors_ |= kRejected;
            return false;
        }
        *value = v;
        return true;
    }
    bool ReadSeIn(int32_t minValue, int32_t maxValue, int32_t* value) {
        const int32_t v = ReadSe();
        if (!Ok()) return false;
        if (v < minValue || v > maxValue) {
            errors_ |= kRejected;
            return false;
        }
        *value = v;
        return true;
    }

    // Skips n bits. A skip of more than 32 bits that would pass the end stops at the end
    // (and the reader is past it).
    void SkipBits(uint64_t n) {
        if (n <= 32) {
            pos_ += n;
            return;
        }
        const uint64_t total = uint64_t{size_} * 8;
        if (pos_ > total || n > total - pos_) {
            errors_ |= kPastEnd;
            pos_ = total;
            return;
        }
        pos_ += n;
    }
    void AlignToByte() { pos_ = (pos_ + 7) & ~uint64_t{7}; }
    bool IsByteAligned() const { return pos_ % 8 == 0; }

    // The next 64 bits, the next unread one the most significant: at least kWindowBits of
    // them from the stream (bits past the end read as zeros). A parser that reads a run of
    // short codes takes a window, consumes from it and skips what it used (SkipBits,
    // BitWindow). kInBounds: the caller has checked BytesAhead(8) or more, so the load
    // needs no bound of its own.
    template <bool kInBounds = false>
    uint64_t Window() const {
        const size_t byte = static_cast<size_t>(pos_ >> 3);
        uint64_t w = 0;
        if (kInBounds || (byte < size_ && size_ - byte >= 8)) [[likely]] {
            w = LoadBigEndian(data_ + byte);
        } else {
            w = TailWindow(byte);
        }
        return w << (pos_ & 7);
    }
    // Whether `bytes` whole bytes can be read from the byte that holds the next bit.
    bool BytesAhead(size_t bytes) const {
        const size_t byte = static_cast<size_t>(pos_ >> 3);
        return byte < size_ && size_ - byte >= bytes;
    }

    // more_rbsp_data() (clause 7.2): something other than rbsp_trailing_bits follows, i.e.
    // the position lies before the last 1 bit of the buffer (the rbsp_stop_one_bit).
    bool MoreRbspData() const { return static_cast<int64_t>(pos_) < stopBit_; }
    // The position is on the rbsp_stop_one_bit and nothing was read past it: a parser that
    // is exact ends here, and a cut or padded structure does not.
    bool AtStopBit() const { return Ok() && static_cast<int64_t>(pos_) == stopBit_; }
    // Bit index of rbsp_stop_one_bit from the start; -1 when every bit is zero.
    int64_t StopBitPosition() const { return stopBit_; }

    uint64_t BitPosition() const { return pos_; }
    uint64_t BitsLeft() const {
        const uint64_t total = uint64_t{size_} * 8;
        return pos_ < total ? total - pos_ : 0;
    }
    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }

    bool Ok() const { return Errors() == 0; }
    bool PastEnd() const { return (Errors() & kPastEnd) != 0; }
    bool InvalidCode() const { return (errors_ & kInvalidCode) != 0; }
    // The Error bits; kPastEnd follows from the position, so a run of reads needs no
    // check of its own.
    uint8_t Errors() const { return static_cast<uint8_t>(errors_ | (pos_ > uint64_t{size_} * 8 ? kPastEnd : 0)); }
    // Marks the reader failed for a reason of the caller's (a value out of its range).
    void Fail() { errors_ |= kRejected; }

private:
    template <bool kInBounds>
    friend class BitWindow;

    void Start(const uint8_t* data, size_t bytes) {
        data_ = data;
        size_ = data ? bytes : 0;
        pos_ = 0;
        errors_ = 0;
        stopBit_ = -1;
        for (size_t i = size_; i > 0; --i) {
            const uint8_t b = data_[i - 1];
            if (b != 0) {
                stopBit_ = static_cast<int64_t>(i * 8 - 1) - std::countr_zero(b);
                break;
            }
        }
    }
    // The eight bytes from `byte` where fewer than eight are left: the rest read as zeros.
    uint64_t TailWindow(size_t byte) const {
        uint64_t w = 0;
        for (size_t k = 0; k < 8; ++k)
            w = w << 8 | (byte < size_ && k < size_ - byte ? data_[byte + k] : 0u);
        return w;
    }
    // Eight bytes as a big-endian word; the caller keeps them inside the buffer.
    static uint64_t LoadBigEndian(const uint8_t* p) {
        uint64_t w;
        // GCC's bounds warning misses the callers' bound when a buffer is a small array of
        // known size.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overread"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
        std::memcpy(&w, p, 8);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
        if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
        return w;
    }
    // ue(v) with 16 or more leading zeros; more than 31 is no code of clause 9.1.
    [[gnu::noinline]] uint32_t ReadLongUe(int zeros) {
        if (zeros >= 32) {
            errors_ |= kInvalidCode;
            pos_ += 32;
            return 0;
        }
        pos_ += static_cast<uint64_t>(zeros);
        return ReadBits(zeros + 1) - 1;  // the prefix's 1 bit and the suffix, <= 32 bits
    }

    const uint8_t* data_;
    size_t size_;
    uint64_t pos_;     // bits from data_; past size_ * 8 once a read went beyond the end
    uint8_t errors_;   // Error bits other than kPastEnd of the position, sticky
    int64_t stopBit_;  // see StopBitPosition
};

// A window of the reader's next bits held in a register while a run of short codes is
// read (residual blocks, for instance): codes are taken from Bits() and Skip()ped, Need(n)
// reloads the window before a code of up to n bits that might not fit in what is left,
// and Done() moves the reader past the bits used. Errors are the reader's: bits past the
// end read as zeros, and the reader is past the end once Done() moved it there.
// kInBounds: the caller checked BytesAhead() for every byte the run can reach, plus 8.
template <bool kInBounds>
class BitWindow {
public:
    explicit BitWindow(BitReader* r) : reader_(r), bits_(r->Window<kInBounds>()) {}
    uint64_t Bits() const { return bits_; }
    void Skip(int n) {
        bits_ <<= n;
        used_ += n;
    }
    // 0 < n <= BitReader::kWindowBits.
    void Need(int n) {
        if (used_ > BitReader::kWindowBits - n) Reload();
    }
    void Done() {
        reader_->pos_ += static_cast<uint64_t>(used_);
        used_ = 0;
    }

private:
    void Reload() {
        Done();
        bits_ = reader_->Window<kInBounds>();
    }
    BitReader* reader_;
    uint64_t bits_;
    int used_ = 0;  // bits of the window consumed, at most kWindowBits
};

}  // namespace common
