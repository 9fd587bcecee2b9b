#include "filters/decoder/core/bit_reader.h"

namespace avcdec {

namespace {

inline uint32_t LoadByte(const BitReader* r, uint32_t index) {
    return LoadReaderByte(r, index);
}

inline void Consume(BitReader* r, int n) {
    ConsumeBits(r, n);
}

// codeNum of one ue(v) code. Codes up to kDirectBits long are decoded from the top bits of
// the cache without counting; longer ones count the zeros from bit (32 - kDirectBits - 2)
// down to bit 16. Both layouts give the same value for every code.
template <int kDirectBits>
inline int32_t ReadCodeNum(BitReader* r) {
    const uint32_t c = r->cache;
    if (c & 0x80000000u) {
        Consume(r, 1);
        return 0;
    }
    for (int len = 3; len <= kDirectBits; len += 2) {
        const int zeros = len / 2;
        if (c >= (0x80000000u >> zeros)) {
            Consume(r, len);
            return static_cast<int32_t>(c >> (32 - len)) - 1;
        }
    }
    int lengthL = 16;  // leading zeros + 1; 16 when bits 31..16 are all zero
    for (int bit = 31 - (kDirectBits / 2) - 1; bit >= 16; --bit) {
        if (c & (1u << bit)) {
            lengthL = 32 - bit;
            break;
        }
    }
    Consume(r, lengthL - 1);
    const uint32_t field = r->cache >> (32 - lengthL);
    Consume(r, lengthL);
    return static_cast<int32_t>(field) - 1;
}

// Clause 9.1.1: codeNum k maps to (-1)^(k+1) * Ceil(k / 2).
inline int32_t SignedFromCodeNum(int32_t k) {
    return (k & 1) ? (k + 1) / 2 : -(k / 2);
}

}  // namespace

void InitBitReader(BitReader* r, const uint8_t* data, int32_t lengthInBits) {
    if (lengthInBits < 0) lengthInBits = 0;
    r->start = data;
    r->size = static_cast<uint32_t>(lengthInBits / 8);
    uint32_t c = 0;
    for (uint32_t i = 0; i < 4; ++i)
        c = (c << 8) | LoadByte(r, i);
    r->cache = c;
    r->next = 4;
    r->fill = -16;
    r->totalBits = lengthInBits;
    r->stopBitEnd = 0;
    if (lengthInBits >= 8) {
        const uint8_t last = data[lengthInBits / 8 - 1];
        int trailing = 8;
        if (last != 0) {
            trailing = 0;
            while (((last >> trailing) & 1u) == 0)
                ++trailing;
        }
        r->stopBitEnd = lengthInBits - trailing;
    }
}

void RestartAtByte(BitReader* r, uint32_t byteIndex) {
    uint32_t c = 0;
    for (uint32_t i = 0; i < 4; ++i)
        c = (c << 8) | LoadByte(r, byteIndex + i);
    r->cache = c;
    r->next = byteIndex + 4;
    r->fill = -16;
}

uint32_t ReadBitsLong(BitReader* r, int n) {
    if (n <= 16) return ReadBits(r, n);
    const uint32_t high = ReadBits(r, 16);
    return (high << (n - 16)) | ReadBits(r, n - 16);
}

int32_t ReadUe(BitReader* r) {
    return ReadCodeNum<9>(r);
}

int32_t ReadSe(BitReader* r) {
    return SignedFromCodeNum(ReadCodeNum<9>(r));
}

int32_t ReadSeWide(BitReader* r) {
    return SignedFromCodeNum(ReadCodeNum<11>(r));
}

int32_t ReadTe(BitReader* r, bool rangeIsOne) {
    if (rangeIsOne) return static_cast<int32_t>(ReadBit(r) ^ 1u);
    return ReadUe(r);
}

bool MoreRbspData(const BitReader* r) {
    return BitPosition(r) < r->stopBitEnd - 1;
}

void SkipBits(BitReader* r, int32_t n) {
    while (n > 16) {
        Consume(r, 16);
        n -= 16;
    }
    if (n > 0) Consume(r, n);
}

size_t RbspPayloadBytes(const uint8_t* nalBytes, size_t nalSize) {
    if (nalSize == 0) return 0;
    size_t i = nalSize - 1;
    while (i > 0 && nalBytes[i] == 0)
        --i;
    return i;
}

}  // namespace avcdec
