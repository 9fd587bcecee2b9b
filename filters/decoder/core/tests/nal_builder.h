// Test helper: writes RBSP bits (u, ue, se) and wraps them as an Annex B NAL unit with
// emulation prevention, written from clauses 7.3.2.11 and 7.4.1 of H.264.
#pragma once

#include <cstdint>
#include <vector>

namespace avcdec_test {

class NalBuilder {
public:
    explicit NalBuilder(uint8_t header) { bytes_.push_back(header); }
    NalBuilder& u(int n, uint64_t v) {
        for (int i = n - 1; i >= 0; --i)
            Bit(static_cast<int>((v >> i) & 1));
        return *this;
    }
    NalBuilder& ue(uint64_t v) {
        const uint64_t x = v + 1;
        int len = 0;
        while ((x >> len) > 1)
            ++len;
        u(len, 0);
        return u(len + 1, x);
    }
    NalBuilder& se(int64_t v) { return ue(v > 0 ? 2 * static_cast<uint64_t>(v) - 1 : 2 * static_cast<uint64_t>(-v)); }
    NalBuilder& bytes(const std::vector<uint8_t>& b) {
        for (uint8_t x : b)
            u(8, x);
        return *this;
    }
    // Zero bits up to the next byte boundary.
    NalBuilder& align() {
        while (bits_ != 0)
            Bit(0);
        return *this;
    }
    // The bits written so far, zero-padded to a byte: a payload without trailing bits.
    const std::vector<uint8_t>& Raw() const { return bytes_; }
    // The NAL unit without start code: rbsp_trailing_bits, then emulation prevention.
    std::vector<uint8_t> Nal() const {
        NalBuilder t = *this;
        t.Bit(1);
        while (t.bits_ != 0)
            t.Bit(0);
        std::vector<uint8_t> out;
        int zeros = 0;
        for (size_t i = 0; i < t.bytes_.size(); ++i) {
            const uint8_t b = t.bytes_[i];
            if (zeros >= 2 && b <= 3) {
                out.push_back(3);
                zeros = 0;
            }
            out.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        return out;
    }
    // With a four-byte start code in front.
    std::vector<uint8_t> AnnexB() const {
        std::vector<uint8_t> out = {0, 0, 0, 1};
        const auto n = Nal();
        out.insert(out.end(), n.begin(), n.end());
        return out;
    }

private:
    void Bit(int b) {
        if (bits_ == 0) bytes_.push_back(0);
        bytes_.back() |= static_cast<uint8_t>(b << (7 - bits_));
        bits_ = (bits_ + 1) % 8;
    }
    std::vector<uint8_t> bytes_;
    int bits_ = 0;
};

}  // namespace avcdec_test
