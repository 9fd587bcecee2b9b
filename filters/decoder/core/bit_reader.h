// Reader of the fixed-length and Exp-Golomb syntax elements of one RBSP (H.264 clauses
// 7.2 and 9.1). The payload's emulation prevention bytes are already removed.
//
// The reader never reads outside [start, end): bits past the end of the payload read as
// zero. Invalid Exp-Golomb codes (more than 15 leading zeros) give the values documented
// at ReadUe; range checks belong to the parsers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace avcdec {

struct BitReader {
    const uint8_t* start = nullptr;  // first payload byte
    uint32_t next = 0;               // index of the next byte not yet loaded into cache
    uint32_t size = 0;               // readable bytes from start; bytes beyond read as 0
    uint32_t cache = 0;              // next unread bit is the most significant bit
    int32_t fill = -16;              // bits consumed from cache minus 16, in -16..0
    int32_t totalBits = 0;
    int32_t stopBitEnd = 0;  // bit position just behind rbsp_stop_one_bit
};

// Starts reading lengthInBits bits at data (lengthInBits / 8 whole bytes are readable).
void InitBitReader(BitReader* r, const uint8_t* data, int32_t lengthInBits);

// Current position in bits from the start of the payload.
inline int32_t BitPosition(const BitReader* r) {
    return r->fill + static_cast<int32_t>(r->next) * 8 - 16;
}

// The next n bits (1 <= n <= 16) without consuming them.
inline uint32_t PeekBits(const BitReader* r, int n) {
    return r->cache >> (32 - n);
}

// Continues reading at a whole byte of the payload (after I_PCM samples).
void RestartAtByte(BitReader* r, uint32_t byteIndex);

inline uint32_t LoadReaderByte(const BitReader* r, uint32_t index) {
    return index < r->size ? r->start[index] : 0u;
}

// Consumes n bits (0 <= n <= 16) and keeps at least 16 valid bits in the cache.
inline void ConsumeBits(BitReader* r, int n) {
    r->cache <<= n;
    r->fill += n;
    if (r->fill > 0) {
        const uint32_t two = (LoadReaderByte(r, r->next) << 8) | LoadReaderByte(r, r->next + 1);
        r->cache |= two << r->fill;
        r->next += 2;
        r->fill -= 16;
    }
}

// u(n), 1 <= n <= 16.
inline uint32_t ReadBits(BitReader* r, int n) {
    const uint32_t v = r->cache >> (32 - n);
    ConsumeBits(r, n);
    return v;
}

inline uint32_t ReadBit(BitReader* r) {  // u(1)
    return ReadBits(r, 1);
}

uint32_t ReadBitsLong(BitReader* r, int n);  // u(n), 1 <= n <= 32
// ue(v): codeNum 0..65534. A code with more than 15 leading zeros is read as if it had
// 15: the 16 bits after them are the suffix field, so the value is at most 32766, or -1
// when those bits are all zero.
int32_t ReadUe(BitReader* r);
int32_t ReadSe(BitReader* r);      // se(v), clause 9.1.1 mapping
int32_t ReadSeWide(BitReader* r);  // se(v) laid out for longer codes (mvd)
int32_t ReadTe(BitReader* r, bool rangeIsOne);
bool MoreRbspData(const BitReader* r);
void SkipBits(BitReader* r, int32_t n);  // any n >= 0

// The number of zero bits before the next one bit, counted among the next 16 bits (16
// when all are zero); consumes nothing.
inline int PeekLeadingZeros(const BitReader* r) {
    const uint32_t top = r->cache >> 16;
    return top == 0 ? 16 : __builtin_clz(top) - 16;
}

// Index of the last non-zero byte of a NAL unit (header byte at index 0); 0 when every
// byte after the header is zero or the unit is empty.
size_t RbspPayloadBytes(const uint8_t* nalBytes, size_t nalSize);

}  // namespace avcdec
