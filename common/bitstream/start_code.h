// Start-code scanning of byte streams: H.264 Annex B (ITU-T H.264 B.1) and MPEG-1/2 video and
// systems streams (ISO/IEC 11172, 13818), whose units all begin with the prefix 00 00 01.
// Every search is bounded by `end` and never reads at or past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace common {

// The first p in [begin, end) with p[0] == 0, p[1] == 0, lo <= p[2] <= hi and p + 3 <= end;
// `end` when there is none. Start codes (third byte 1) and emulation prevention (third byte
// 3, or 0..3 for insertion) are found with it. Compares 16 positions at a time with SSE2.
const uint8_t* FindZeroPairThen(const uint8_t* begin, const uint8_t* end, uint8_t lo, uint8_t hi);

// The first 00 00 01 lying wholly in [begin, end): its first byte; `end` when none.
inline const uint8_t* FindStartCode(const uint8_t* begin, const uint8_t* end) {
    return FindZeroPairThen(begin, end, 1, 1);
}

// A start code with the zero_byte of the 4-byte form (B.1.1) counted when it is there.
struct StartCode {
    const uint8_t* prefix = nullptr;  // first byte: the zero_byte of 00 00 00 01, else the 00 of 00 00 01
    int length = 0;                   // 3 or 4; 0 when no start code was found (prefix is then `end`)
    bool Found() const { return length != 0; }
    const uint8_t* Payload() const { return prefix + length; }
};
// The first start code in [begin, end); the zero byte before its 00 00 01 is counted only
// when it also lies at or after `begin`.
StartCode FindNalStartCode(const uint8_t* begin, const uint8_t* end);

// Walks an Annex B byte stream NAL unit by NAL unit: the bytes of the NAL unit that follows
// the first start code at or after *cursor, from its header byte up to the next start code,
// without the zero bytes that pad the stream before that start code (trailing_zero_8bits
// and the next zero_byte). *cursor moves to the next start code (or `end`). Empty, with
// *cursor at `end`, when no start code is left.
std::span<const uint8_t> NextNalUnit(const uint8_t** cursor, const uint8_t* end);

}  // namespace common
