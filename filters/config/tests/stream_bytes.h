// Little-endian byte sequences built field by field in tests, independently of the writer
// under test, to compare stored streams against the layout.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "filters/config/config_stream.h"

namespace kestrune::test {

struct Bytes {
    std::vector<std::uint8_t> b;
    Bytes& U8(std::uint8_t v) {
        b.push_back(v);
        return *this;
    }
    Bytes& U16(std::uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
    Bytes& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    Bytes& U64(std::uint64_t v) { return U32(static_cast<std::uint32_t>(v)).U32(static_cast<std::uint32_t>(v >> 32)); }
    Bytes& Raw(std::initializer_list<std::uint8_t> v) {
        b.insert(b.end(), v);
        return *this;
    }
    Bytes& Zeros(std::size_t n) {
        b.insert(b.end(), n, 0);
        return *this;
    }
    // A GUID in memory order from its textual fields: Data1-3 little-endian, Data4 as written.
    Bytes& Guid(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3, std::initializer_list<std::uint8_t> d4) {
        return U32(d1).U16(d2).U16(d3).Raw(d4);
    }
    // The configuration stream header GUID {F5A37777-FD24-4733-A79A-2CBFEAAE0C88}.
    Bytes& HeaderGuid() { return Guid(0xF5A37777, 0xFD24, 0x4733, {0xA7, 0x9A, 0x2C, 0xBF, 0xEA, 0xAE, 0x0C, 0x88}); }
};

// A source that cannot tell its size, as a stream without Stat: the reader must stay
// bounded by the bytes it really gets.
class BlindSource final : public ByteSource {
public:
    BlindSource(const std::uint8_t* d, std::size_t n) : inner_(d, n) {}
    bool Read(void* dst, std::size_t n) override { return inner_.Read(dst, n); }
    std::optional<std::uint64_t> Remaining() const override { return std::nullopt; }

private:
    SpanSource inner_;
};

}  // namespace kestrune::test
