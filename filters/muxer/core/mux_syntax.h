// The multiplexer's header syntax writer: MPEG-2 systems headers (ISO/IEC 13818-1 2.5.3,
// 2.4.3, 2.4.4) are written one call per syntax field, with their marker bits spelt out,
// into a byte vector; lengths are patched once the body is known; the section CRC-32 and
// the cutting of a section into transport packets live in one helper each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/bitstream/bit_writer.h"

namespace muxer {

// One header or section at a time, most significant bit first, through the common bit
// writer into a bounded block; a field of n bits takes the low n bits of its value. What
// was written is appended to the caller's vector by Commit (or when the writer goes). A
// header that would not fit the block sets the writer's overflow flag and commits nothing.
class SyntaxWriter {
public:
    static constexpr size_t kMaxBytes = 1088;  // a PSI section (1024) and more than any header

    explicit SyntaxWriter(std::vector<uint8_t>& out) : out_(out), writer_(block_, sizeof block_) {}
    ~SyntaxWriter() { Commit(); }
    SyntaxWriter(const SyntaxWriter&) = delete;
    SyntaxWriter& operator=(const SyntaxWriter&) = delete;

    void Bits(int n, uint64_t value) {
        if (n > 32) {
            writer_.PutBits(n - 32, static_cast<uint32_t>(value >> 32));
            n = 32;
        }
        writer_.PutBits(n, static_cast<uint32_t>(value));
    }
    // Marker and reserved bits that the standard fixes to 1.
    void Ones(int n) { Bits(n, (uint64_t{1} << n) - 1); }
    void Byte(uint8_t b) { writer_.PutBits(8, b); }
    void Fill(size_t count, uint8_t b) {
        for (size_t i = 0; i < count; ++i)
            Byte(b);
    }
    // Bytes written since the writer began; only meaningful on a byte boundary.
    size_t Position() const { return writer_.ByteCount(); }
    // The bytes written so far (whole bytes only).
    const uint8_t* Data() {
        writer_.Flush();
        return block_;
    }
    // A 16-bit big-endian value over two bytes already written (a length field), keeping
    // the top `keepBits` bits of the first byte (flags sharing the byte).
    void Patch16(size_t at, uint16_t value, int keepBits = 0) {
        writer_.Flush();
        if (at + 2 > writer_.ByteCount()) return;
        const uint8_t keep = static_cast<uint8_t>(0xFF00 >> keepBits);
        block_[at] = static_cast<uint8_t>((block_[at] & keep) | ((value >> 8) & ~keep));
        block_[at + 1] = static_cast<uint8_t>(value);
    }
    bool Overflowed() const { return writer_.Overflowed(); }
    // Appends the whole bytes written to the caller's vector and starts again.
    void Commit() {
        writer_.Flush();
        if (!writer_.Overflowed()) out_.insert(out_.end(), block_, block_ + writer_.ByteCount());
        writer_.Reset();
    }

private:
    std::vector<uint8_t>& out_;
    uint8_t block_[kMaxBytes];
    common::BitWriter writer_;
};

// CRC_32 of ISO/IEC 13818-1 Annex A: polynomial 0x04C11DB7, register preset to all ones,
// bits most significant first, no final inversion.
uint32_t Crc32Mpeg(const uint8_t* data, size_t size);

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
