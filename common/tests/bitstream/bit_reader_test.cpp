#include "common/bitstream/bit_reader.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace common {
namespace {

// Bytes from a string of '0' and '1' (spaces ignored), the last byte padded with `pad`.
std::vector<uint8_t> Bits(const std::string& s, bool pad = false) {
    std::vector<uint8_t> out;
    int n = 0;
    for (char c : s) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() = static_cast<uint8_t>(out.back() | (0x80 >> (n % 8)));
        ++n;
    }
    for (; pad && n % 8 != 0; ++n)
        out.back() = static_cast<uint8_t>(out.back() | (0x80 >> (n % 8)));
    return out;
}

// The ue(v) code of v, written out from clause 9.1 by hand.
std::string UeCode(uint64_t v) {
    const uint64_t code = v + 1;
    int len = 0;
    while ((code >> len) > 1)
        ++len;
    std::string s(static_cast<size_t>(len), '0');
    for (int i = len; i >= 0; --i)
        s += ((code >> i) & 1) ? '1' : '0';
    return s;
}

TEST(BitReaderTest, UeReadsEveryCodeLengthExactly) {
    // Codes of 0 to 31 leading zeros, each followed by a marker field, so a reader that
    // takes one bit too many or too few misreads the marker.
    const uint64_t values[] = {0,     1,      2,          3,          14,         65534,     65535,
                               65536, 131070, 0x7FFFFFFE, 0x7FFFFFFF, 0xFFFFFFFD, 0xFFFFFFFE};
    for (uint64_t v : values) {
        for (int offset = 0; offset < 8; ++offset) {
            const std::string prefix(static_cast<size_t>(offset), '1');
            const std::vector<uint8_t> b = Bits(prefix + UeCode(v) + "101");
            BitReader r(b.data(), b.size());
            r.SkipBits(static_cast<uint64_t>(offset));
            EXPECT_EQ(r.ReadUe(), v) << "offset " << offset;
            EXPECT_EQ(r.ReadBits(3), 5u) << v;
            EXPECT_TRUE(r.Ok()) << v;
        }
    }
}

TEST(BitReaderTest, SeMapsCodeNumbersBothWays) {
    const struct {
        uint64_t k;
        int32_t v;
    } cases[] = {{0, 0},
                 {1, 1},
                 {2, -1},
                 {3, 2},
                 {4, -2},
                 {65535, 32768},
                 {65536, -32768},
                 {0xFFFFFFFD, 2147483647},
                 {0xFFFFFFFE, -2147483647}};
    for (const auto& c : cases) {
        const std::vector<uint8_t> b = Bits(UeCode(c.k) + "1", true);
        BitReader r(b.data(), b.size());
        EXPECT_EQ(r.ReadSe(), c.v) << c.k;
        EXPECT_TRUE(r.Ok());
    }
}

TEST(BitReaderTest, InvalidAndCutCodesAreReported) {
    struct Case {
        const char* bits;
        uint8_t errors;
    };
    const Case cases[] = {
        // 32 leading zeros: no 32-bit codeNum.
        {"00000000 00000000 00000000 00000000 1 0000000", BitReader::kInvalidCode},
        // All zeros to the end of the data.
        {"00000000 00000000", BitReader::kInvalidCode | BitReader::kPastEnd},
        // 20 leading zeros, the suffix cut by the end.
        {"00000000 00000000 00001010", BitReader::kPastEnd},
        // One leading zero and no suffix bit left.
        {"111111 01", BitReader::kPastEnd},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> b = Bits(c.bits);
        BitReader r(b.data(), b.size());
        while (r.PeekBits(1) == 1)
            r.ReadBit();  // the leading ones of the last case
        uint32_t value = 12345;
        EXPECT_FALSE(r.ReadUeIn(0xFFFFFFFE, &value)) << c.bits;
        EXPECT_EQ(value, 12345u) << "written on failure";
        EXPECT_EQ(r.Errors(), c.errors) << c.bits;
        EXPECT_FALSE(r.Ok());
    }
}

TEST(BitReaderTest, RangeChecksFailTheReader) {
    const std::vector<uint8_t> b = Bits(UeCode(40) + UeCode(31) + UeCode(4), true);  // 40, 31, se -2
    BitReader r(b.data(), b.size());
    uint32_t u = 0;
    int32_t s = 0;
    EXPECT_FALSE(r.ReadUeIn(39, &u));
    EXPECT_EQ(r.Errors(), BitReader::kRejected);
    BitReader ok(b.data(), b.size());
    EXPECT_TRUE(ok.ReadUeIn(40, &u));
    EXPECT_EQ(u, 40u);
    EXPECT_TRUE(ok.ReadUeIn(31, &u));
    EXPECT_TRUE(ok.ReadSeIn(-2, 2, &s));
    EXPECT_EQ(s, -2);
    EXPECT_TRUE(ok.Ok());
}

TEST(BitReaderTest, ReadsPastTheEndGiveZerosAndSetTheFlag) {
    const std::vector<uint8_t> src = {0xA5, 0xFF, 0x5A, 0x81, 0xC3, 0x7E};
    for (size_t size = 0; size <= src.size(); ++size) {
        // Exactly `size` bytes on the heap, so a stray load is seen by the sanitizer.
        std::vector<uint8_t> b(src.begin(), src.begin() + static_cast<ptrdiff_t>(size));
        for (int n : {1, 5, 8, 17, 32}) {
            BitReader r(b.data(), b.size());
            uint64_t read = 0;
            while (read + static_cast<uint64_t>(n) <= size * 8) {
                uint64_t expect = 0;
                for (int i = 0; i < n; ++i) {
                    const uint64_t bit = read + static_cast<uint64_t>(i);
                    expect = expect << 1 | ((src[bit / 8] >> (7 - bit % 8)) & 1);
                }
                ASSERT_EQ(r.ReadBits(n), expect) << size << " " << n;
                read += static_cast<uint64_t>(n);
            }
            EXPECT_TRUE(r.Ok()) << "no read went past the end yet";
            EXPECT_EQ(r.BitsLeft(), size * 8 - read);
            const uint64_t left = r.BitsLeft();
            const uint32_t tail = r.ReadBits(n);
            if (left < static_cast<uint64_t>(n)) {
                EXPECT_TRUE(r.PastEnd());
                EXPECT_EQ(tail & ((uint64_t{1} << (n - static_cast<int>(left))) - 1), 0u) << "zeros past the end";
            }
            EXPECT_EQ(r.ReadBits(32), 0u);
            EXPECT_TRUE(r.PastEnd());
            EXPECT_EQ(r.BitsLeft(), 0u);
        }
    }
}

// The bit at index `bit` of src, zero past its end.
uint64_t BitAt(const std::vector<uint8_t>& src, uint64_t bit) {
    return bit < src.size() * 8 ? (src[bit / 8] >> (7 - bit % 8)) & 1u : 0u;
}

TEST(BitReaderTest, WindowsHoldTheNextBitsAndZerosPastTheEnd) {
    std::vector<uint8_t> src(21);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>(0x9D * (i + 1) ^ (i << 3));
    for (size_t size : {size_t{0}, size_t{3}, size_t{8}, size_t{9}, size_t{21}}) {
        std::vector<uint8_t> b(src.begin(), src.begin() + static_cast<ptrdiff_t>(size));
        for (uint64_t at = 0; at <= size * 8 + 9; ++at) {
            BitReader r(b.data(), b.size());
            r.SkipBits(at);
            uint64_t expect = 0;
            for (int i = 0; i < BitReader::kWindowBits; ++i)
                expect = expect << 1 | BitAt(b, at + static_cast<uint64_t>(i));
            ASSERT_EQ(r.Window() >> (64 - BitReader::kWindowBits), expect) << size << " " << at;
            EXPECT_EQ(r.BytesAhead(8), at / 8 + 8 <= size) << size << " " << at;
        }
    }
    // Codes of 1 to 28 bits taken from windows that are reloaded when a code might not fit
    // read the same bits as the reader, and moving the reader past the last bit used sets
    // the reader's past-the-end state exactly when a code ran over the end.
    for (size_t size : {size_t{9}, size_t{21}}) {
        std::vector<uint8_t> b(src.begin(), src.begin() + static_cast<ptrdiff_t>(size));
        for (int length = 1; length <= 28; ++length) {
            BitReader r(b.data(), b.size());
            BitWindow<false> win(&r);
            uint64_t at = 0;
            for (int k = 0; k < 9; ++k) {
                win.Need(length);
                uint64_t expect = 0;
                for (int i = 0; i < length; ++i)
                    expect = expect << 1 | BitAt(b, at + static_cast<uint64_t>(i));
                ASSERT_EQ(win.Bits() >> (64 - length), expect) << size << " " << length << " " << k;
                win.Skip(length);
                at += static_cast<uint64_t>(length);
            }
            win.Done();
            EXPECT_EQ(r.BitPosition(), at);
            EXPECT_EQ(r.PastEnd(), at > size * 8) << size << " " << length;
        }
    }
}

TEST(BitReaderTest, SkipAlignAndPosition) {
    std::vector<uint8_t> b(100);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<uint8_t>(i);
    BitReader r(b.data(), b.size());
    r.SkipBits(3);
    EXPECT_FALSE(r.IsByteAligned());
    r.AlignToByte();
    EXPECT_EQ(r.BitPosition(), 8u);
    r.SkipBits(8 * 40 + 4);
    EXPECT_EQ(r.BitPosition(), 8u * 41 + 4);
    EXPECT_EQ(r.ReadBits(4), 41u & 0xF);
    EXPECT_EQ(r.ReadBits(8), 42u);
    EXPECT_EQ(r.ReadBits64(48), 0x2B2C2D2E2F30ull);
    EXPECT_TRUE(r.Ok());
    r.SkipBits(uint64_t{1} << 62);  // a hostile length
    EXPECT_TRUE(r.PastEnd());
    EXPECT_EQ(r.ReadBits(32), 0u);
}

TEST(BitReaderTest, MoreRbspDataAndTheStopBit) {
    struct Case {
        const char* bits;
        int fieldBits;  // bits of syntax before the trailing bits
        bool moreAfterFields;
    };
    const Case cases[] = {
        {"1 0000000", 0, false},
        {"101 10000", 3, false},
        {"101 10000", 2, true},
        {"0000000 1", 7, false},
        {"11111111 10000000", 8, false},
        {"11111111 10000000 00000000 00000000", 8, false},  // cabac_zero_words after the stop bit
        {"00000000", 0, false},                             // no stop bit at all
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> b = Bits(c.bits);
        BitReader r(b.data(), b.size());
        r.SkipBits(static_cast<uint64_t>(c.fieldBits));
        EXPECT_EQ(r.MoreRbspData(), c.moreAfterFields) << c.bits;
        const bool hasStop = std::string(c.bits).find('1') != std::string::npos;
        EXPECT_EQ(r.AtStopBit(), hasStop && !c.moreAfterFields) << c.bits;
    }
    // A parser that reads one bit beyond the stop bit is not at it.
    const std::vector<uint8_t> b = Bits("1011 1000");
    BitReader r(b.data(), b.size());
    r.SkipBits(5);
    EXPECT_FALSE(r.AtStopBit());
    EXPECT_EQ(r.StopBitPosition(), 4);
}

TEST(BitReaderTest, EmptyAndNullInput) {
    BitReader empty;
    EXPECT_EQ(empty.ReadBits(8), 0u);
    EXPECT_TRUE(empty.PastEnd());
    BitReader null(nullptr, 10);
    EXPECT_EQ(null.BitsLeft(), 0u);
    EXPECT_EQ(null.ReadUe(), 0u);
    EXPECT_FALSE(null.Ok());
}

}  // namespace
}  // namespace common
