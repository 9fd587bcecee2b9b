#include "filters/decoder/core/bit_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace avcdec {
namespace {

// An independent reader written from clause 9.1: one bit at a time, zero past the end.
class SlowReader {
public:
    explicit SlowReader(const std::vector<uint8_t>& b) : b_(b) {}
    uint32_t Bit() {
        const size_t byte = pos_ / 8;
        const uint32_t v = byte < b_.size() ? (b_[byte] >> (7 - pos_ % 8)) & 1u : 0u;
        ++pos_;
        return v;
    }
    uint32_t Bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | Bit();
        return v;
    }
    // codeNum = 2^leadingZeroBits - 1 + read_bits(leadingZeroBits).
    int64_t CodeNum() {
        int zeros = 0;
        while (Bit() == 0)
            ++zeros;
        return (int64_t{1} << zeros) - 1 + Bits(zeros);
    }
    int64_t Signed() {
        const int64_t k = CodeNum();
        return (k & 1) ? (k + 1) / 2 : -(k / 2);
    }
    size_t pos_ = 0;

private:
    const std::vector<uint8_t>& b_;
};

// Random syntax element sequences (every valid ue/se code of up to 31 bits, fixed-length
// fields of 1..32 bits) read by both readers must agree value for value and position
// for position.
TEST(BitReader, AgreesWithClause9ReaderOverRandomBitStrings) {
    const uint64_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    for (int round = 0; round < 300; ++round) {
        // Random codes built as bit strings: kind, then the code.
        std::vector<uint8_t> bytes;
        std::vector<int> kinds;
        std::vector<int> widths;
        int bit = 0;
        const auto put = [&](uint32_t v, int n) {
            for (int i = n - 1; i >= 0; --i) {
                if (bit % 8 == 0) bytes.push_back(0);
                bytes.back() |= static_cast<uint8_t>(((v >> i) & 1u) << (7 - bit % 8));
                ++bit;
            }
        };
        for (int i = 0; i < 200; ++i) {
            const int kind = static_cast<int>(rng() % 5);
            kinds.push_back(kind);
            if (kind <= 2) {  // ue, se, se-wide: leading zeros 0..15, random suffix
                const int zeros = static_cast<int>(rng() % 16);
                put(0, zeros);
                put(1, 1);
                put(static_cast<uint32_t>(rng()) & ((1u << zeros) - 1), zeros);
                widths.push_back(0);
            } else {
                const int n = 1 + static_cast<int>(rng() % (kind == 3 ? 16 : 32));
                put(static_cast<uint32_t>(rng()), n);
                widths.push_back(n);
            }
        }
        BitReader r;
        InitBitReader(&r, bytes.data(), static_cast<int32_t>(bytes.size() * 8));
        SlowReader s(bytes);
        for (size_t i = 0; i < kinds.size(); ++i) {
            switch (kinds[i]) {
                case 0:
                    ASSERT_EQ(ReadUe(&r), s.CodeNum()) << "element " << i;
                    break;
                case 1:
                    ASSERT_EQ(ReadSe(&r), s.Signed()) << "element " << i;
                    break;
                case 2:
                    ASSERT_EQ(ReadSeWide(&r), s.Signed()) << "element " << i;
                    break;
                case 3:
                    ASSERT_EQ(ReadBits(&r, widths[i]), s.Bits(widths[i])) << "element " << i;
                    break;
                default:
                    ASSERT_EQ(ReadBitsLong(&r, widths[i]), s.Bits(widths[i])) << "element " << i;
                    break;
            }
            ASSERT_EQ(static_cast<size_t>(BitPosition(&r)), s.pos_) << "element " << i;
        }
    }
}

TEST(BitReader, LongAndInvalidExpGolombCodes) {
    struct Case {
        std::vector<uint8_t> bytes;
        int32_t expected;
    };
    const Case cases[] = {
        // 15 leading zeros, then the 16-bit field 0xFFFF / 0x8000.
        {{0x00, 0x01, 0xFF, 0xFE}, 65534},
        {{0x00, 0x01, 0x00, 0x00}, 32767},
        // 16 leading zeros: read as 15 zeros and the 16-bit field 0x4000 / 0x0000.
        {{0x00, 0x00, 0x80, 0x00}, 16383},
        {{0x00, 0x00, 0x00, 0x00, 0x00}, -1},
    };
    for (const Case& c : cases) {
        BitReader r;
        InitBitReader(&r, c.bytes.data(), static_cast<int32_t>(c.bytes.size() * 8));
        EXPECT_EQ(ReadUe(&r), c.expected);
    }
}

TEST(BitReader, EdgeCases) {
    const uint8_t one[] = {0x80};
    BitReader r;
    InitBitReader(&r, one, 8);
    EXPECT_EQ(r.stopBitEnd, 1);
    EXPECT_FALSE(MoreRbspData(&r));

    const uint8_t data[] = {0xDE, 0xAD, 0xBE, 0xEF, 0x12, 0x34, 0x56, 0x78};
    BitReader a, b;
    InitBitReader(&a, data, 64);
    InitBitReader(&b, data, 64);
    ReadBits(&a, 3);
    ReadBits(&b, 3);
    const uint32_t hi = ReadBits(&b, 16);
    EXPECT_EQ(ReadBitsLong(&a, 32), (hi << 16) | ReadBits(&b, 16));

    const uint8_t te[] = {0x40};  // bits 0 1
    InitBitReader(&r, te, 8);
    EXPECT_EQ(ReadTe(&r, true), 1);
    EXPECT_EQ(ReadTe(&r, true), 0);

    const uint8_t zeros[] = {0x65, 0, 0, 0};
    EXPECT_EQ(RbspPayloadBytes(zeros, sizeof zeros), 0u);
    const uint8_t trailing[] = {0x67, 0x42, 0x80, 0, 0};
    EXPECT_EQ(RbspPayloadBytes(trailing, sizeof trailing), 2u);
}

// Reads past the payload give zero bits and never touch the bytes behind it: the
// payload here is one byte of a larger buffer whose other bytes are all ones.
TEST(BitReader, ReadsZerosPastTheEndOfThePayload) {
    std::vector<uint8_t> buffer(64, 0xFF);
    buffer[0] = 0xA5;
    BitReader r;
    InitBitReader(&r, buffer.data(), 8);
    EXPECT_EQ(ReadBits(&r, 8), 0xA5u);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(ReadBits(&r, 16), 0u);
    EXPECT_EQ(ReadUe(&r), -1);
    EXPECT_FALSE(MoreRbspData(&r));

    // An empty payload reads zeros from the first bit.
    InitBitReader(&r, buffer.data(), 0);
    EXPECT_EQ(ReadBitsLong(&r, 32), 0u);
}

TEST(BitReader, MoreRbspDataStopsAtTheStopBit) {
    // ue 0 ("1"), ue 1 ("010"), then the stop bit and alignment: 1010 1000.
    const uint8_t data[] = {0xA8};
    BitReader r;
    InitBitReader(&r, data, 8);
    EXPECT_TRUE(MoreRbspData(&r));
    EXPECT_EQ(ReadUe(&r), 0);
    EXPECT_TRUE(MoreRbspData(&r));
    EXPECT_EQ(ReadUe(&r), 1);
    EXPECT_FALSE(MoreRbspData(&r));
}

}  // namespace
}  // namespace avcdec
