// Test support: writes RBSP bits (u(n), ue(v), se(v)) and wraps them as an H.264 NAL unit
// with emulation prevention, written from clauses 7.2, 7.3.2.11 and 7.4.1 of H.264: the
// streams a test needs that no encoder writes (values at the edges of their ranges, damaged
// or cut sets).
#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

// The NAL unit of header byte `header` and RBSP `rbsp` (trailing bits included): an
// emulation_prevention_three_byte before any 0x00..0x03 that follows two zero bytes.
inline std::vector<uint8_t> EscapeNal(uint8_t header, const std::vector<uint8_t>& rbsp) {
    std::vector<uint8_t> out = {header};
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

// The same behind a four-byte (or three-byte) start code.
inline std::vector<uint8_t> AnnexBNal(uint8_t header, const std::vector<uint8_t>& rbsp, bool fourByteStartCode = true) {
    std::vector<uint8_t> out = fourByteStartCode ? std::vector<uint8_t>{0, 0, 0, 1} : std::vector<uint8_t>{0, 0, 1};
    const std::vector<uint8_t> nal = EscapeNal(header, rbsp);
    out.insert(out.end(), nal.begin(), nal.end());
    return out;
}

class NalBuilder {
public:
    NalBuilder() = default;  // for an RBSP or payload alone
    explicit NalBuilder(uint8_t header) : header_(header) {}

    NalBuilder& U(int bits, uint64_t value) {
        for (int i = bits - 1; i >= 0; --i)
            Bit(static_cast<int>((value >> i) & 1));
        return *this;
    }
    NalBuilder& Ue(uint64_t value) {
        const uint64_t x = value + 1;
        int zeros = 0;
        while ((x >> zeros) > 1)
            ++zeros;
        U(zeros, 0);
        return U(zeros + 1, x);
    }
    NalBuilder& Se(int64_t value) {
        return Ue(value > 0 ? 2 * static_cast<uint64_t>(value) - 1 : 2 * static_cast<uint64_t>(-value));
    }
    // Zero bits up to the next byte boundary (pcm_alignment_zero_bit and the like).
    NalBuilder& Align() {
        while (bits_ != 0)
            Bit(0);
        return *this;
    }
    NalBuilder& Append(const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes)
            U(8, b);
        return *this;
    }

    // The bits written so far, zero-padded to a byte, without header or trailing bits: an
    // SEI message's payload, or an RBSP cut short.
    const std::vector<uint8_t>& Payload() const { return bytes_; }
    // The RBSP: the bits written, then rbsp_trailing_bits.
    std::vector<uint8_t> Rbsp() const {
        NalBuilder t = *this;
        t.Bit(1);
        while (t.bits_ != 0)
            t.Bit(0);
        return t.bytes_;
    }
    // The NAL unit without start code.
    std::vector<uint8_t> Nal() const { return EscapeNal(header_, Rbsp()); }
    std::vector<uint8_t> AnnexB(bool fourByteStartCode = true) const {
        return AnnexBNal(header_, Rbsp(), fourByteStartCode);
    }

private:
    void Bit(int b) {
        if (bits_ == 0) bytes_.push_back(0);
        bytes_.back() |= static_cast<uint8_t>(b << (7 - bits_));
        bits_ = (bits_ + 1) % 8;
    }
    uint8_t header_ = 0;
    std::vector<uint8_t> bytes_;
    int bits_ = 0;
};

}  // namespace testsupport
