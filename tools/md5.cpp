#include "tools/md5.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tools {

namespace {

constexpr int kShift[64] = {7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
                            14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
                            4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};

// K[i] = floor(|sin(i + 1)| * 2^32), RFC 1321 section 3.4.
struct SineTable {
    uint32_t k[64];
    SineTable() {
        for (int i = 0; i < 64; ++i)
            k[i] = static_cast<uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
    }
};

const SineTable& Sines() {
    static const SineTable table;
    return table;
}

inline uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

}  // namespace

Md5::Md5() : state_{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u} {}

void Md5::Block(const uint8_t* p) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t{p[4 * i]} | uint32_t{p[4 * i + 1]} << 8 | uint32_t{p[4 * i + 2]} << 16 |
               uint32_t{p[4 * i + 3]} << 24;
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    const uint32_t* k = Sines().k;
    for (int i = 0; i < 64; ++i) {
        uint32_t f = 0;
        int g = 0;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t next = b + Rotl(a + f + k[i] + m[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5::Update(const uint8_t* data, size_t size) {
    length_ += size;
    while (size > 0) {
        const size_t take = std::min(size, sizeof buffer_ - buffered_);
        std::memcpy(buffer_ + buffered_, data, take);
        buffered_ += take;
        data += take;
        size -= take;
        if (buffered_ == sizeof buffer_) {
            Block(buffer_);
            buffered_ = 0;
        }
    }
}

std::string Md5::HexDigest() {
    const uint64_t bits = length_ * 8;
    const uint8_t one = 0x80;
    Update(&one, 1);
    const uint8_t zero = 0;
    while (buffered_ != 56)
        Update(&zero, 1);
    uint8_t tail[8];
    for (int i = 0; i < 8; ++i)
        tail[i] = static_cast<uint8_t>(bits >> (8 * i));
    Update(tail, 8);
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (uint32_t word : state_) {
        for (int i = 0; i < 4; ++i) {
            const uint8_t byte = static_cast<uint8_t>(word >> (8 * i));
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

}  // namespace tools
