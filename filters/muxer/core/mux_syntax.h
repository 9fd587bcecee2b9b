// The multiplexer's header syntax writer: MPEG-2 systems headers (ISO/IEC 13818-1 2.5.3,
// 2.4.3, 2.4.4) are written one call per syntax field, with their marker bits spelt out,
// into a byte vector; lengths are patched once the body is known; the section CRC-32 and
// the cutting of a section into transport packets live in one helper each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace muxer {

// Most significant bit first; a field of n bits takes the low n bits of its value.
class SyntaxWriter {
public:
    explicit SyntaxWriter(std::vector<uint8_t>& out) : out_(out) {}

    void Bits(int n, uint64_t value) {
        for (int i = n - 1; i >= 0; --i) {
            acc_ = static_cast<uint8_t>((acc_ << 1) | ((value >> i) & 1));
            if (++used_ == 8) {
                out_.push_back(acc_);
                acc_ = 0;
                used_ = 0;
            }
        }
    }
    // Marker and reserved bits that the standard fixes to 1.
    void Ones(int n) { Bits(n, (uint64_t{1} << n) - 1); }
    void Byte(uint8_t b) { Bits(8, b); }
    void Fill(size_t count, uint8_t b) {
        for (size_t i = 0; i < count; ++i)
            Byte(b);
    }
    // Bytes written so far; only meaningful on a byte boundary.
    size_t Position() const { return out_.size(); }
    bool Aligned() const { return used_ == 0; }
    // A 16-bit big-endian value over two bytes already written (a length field), keeping
    // the top `keep_bits` bits of the first byte (flags sharing the byte).
    void Patch16(size_t at, uint16_t value, int keep_bits = 0) {
        const uint8_t keep = static_cast<uint8_t>(0xFF00 >> keep_bits);
        out_[at] = static_cast<uint8_t>((out_[at] & keep) | ((value >> 8) & ~keep));
        out_[at + 1] = static_cast<uint8_t>(value);
    }

private:
    std::vector<uint8_t>& out_;
    uint8_t acc_ = 0;
    int used_ = 0;
};

// CRC_32 of ISO/IEC 13818-1 Annex A: polynomial 0x04C11DB7, register preset to all ones,
// bits most significant first, no final inversion.
uint32_t Crc32Mpeg(const uint8_t* data, size_t size);

// A 33-bit time stamp with its 4-bit prefix and three marker bits (2.4.3.7: PTS, DTS).
void WriteTimeStamp(SyntaxWriter& w, uint8_t prefix, uint64_t ticks90k);

// 90 kHz clock and 27 MHz extension of a time in 100-ns units (truncating).
inline uint64_t ClockBase(int64_t t) {
    return static_cast<uint64_t>(t < 0 ? 0 : t) * 9 / 1000;
}
inline uint32_t ClockExtension(int64_t t) {
    return static_cast<uint32_t>(static_cast<uint64_t>(t < 0 ? 0 : t) * 27 / 10 % 300);
}

constexpr size_t kTsPacketSize = 188;

// Cuts one PSI section (table_id through CRC_32) into transport packets on `pid`: a
// pointer_field of 0 in the first, 0xFF stuffing after the section's end, each packet's
// continuity_counter taken from and advanced in `counter`. Sections longer than one
// packet span as many as they need (2.4.4.1).
void PacketizeSection(const std::vector<uint8_t>& section, uint16_t pid, uint8_t* counter, std::vector<uint8_t>* out);

}  // namespace muxer
