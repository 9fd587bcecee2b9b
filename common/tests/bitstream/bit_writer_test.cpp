#include "common/bitstream/bit_writer.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/bitstream/bit_reader.h"

namespace common {
namespace {

// Reference: one bool per bit, packed most significant first at the end.
struct NaiveBits {
    std::vector<bool> bits;
    void Put(int n, uint64_t v) {
        for (int i = n - 1; i >= 0; --i)
            bits.push_back(((v >> i) & 1) != 0);
    }
    std::vector<uint8_t> WholeBytes() const {
        std::vector<uint8_t> out(bits.size() / 8);
        for (size_t i = 0; i < out.size() * 8; ++i)
            out[i / 8] = static_cast<uint8_t>(out[i / 8] | (bits[i] ? 0x80 >> (i % 8) : 0));
        return out;
    }
};

std::string BitString(const uint8_t* bytes, size_t bitCount) {
    std::string s;
    for (size_t i = 0; i < bitCount; ++i)
        s += ((bytes[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
    return s;
}

TEST(BitWriterTest, RandomFieldsMatchABitByBitReference) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 50; ++round) {
        std::vector<uint8_t> storage(4096);
        BitWriter w(storage.data(), storage.size());
        NaiveBits ref;
        const int fields = 1 + static_cast<int>(rng() % 600);
        for (int i = 0; i < fields; ++i) {
            const int n = static_cast<int>(rng() % 33);  // 0..32, the full range
            const uint32_t v = static_cast<uint32_t>(rng());
            w.PutBits(n, v);  // bits above n are ignored
            ref.Put(n, n == 32 ? v : v & ((1u << n) - 1));
        }
        ASSERT_EQ(w.BitCount(), ref.bits.size());
        w.Flush();
        const std::vector<uint8_t> expect = ref.WholeBytes();
        ASSERT_EQ(w.ByteCount(), expect.size());
        EXPECT_EQ(std::vector<uint8_t>(storage.begin(), storage.begin() + static_cast<ptrdiff_t>(expect.size())),
                  expect)
            << "round " << round;
        EXPECT_FALSE(w.Overflowed());
    }
}

TEST(BitWriterTest, ExpGolombCodesAsInTheStandard) {
    // Clause 9.1, Table 9-2: prefix of leading zeros, a 1, then the suffix.
    struct Case {
        int32_t se;  // written with PutSe when ue < 0
        int64_t ue;
        const char* bits;
    };
    const Case cases[] = {
        {0, 0, "1"},
        {0, 1, "010"},
        {0, 2, "011"},
        {0, 3, "00100"},
        {0, 6, "00111"},
        {0, 7, "0001000"},
        {0, 65534,
         "000000000000000"
         "1111111111111111"},
        {0, 65535,
         "0000000000000000"
         "10000000000000000"},
        {0, 0xFFFFFFFE,
         "0000000000000000000000000000000"
         "11111111111111111111111111111111"},
        {1, -1, "010"},
        {-1, -1, "011"},
        {2, -1, "00100"},
        {-2, -1, "00101"},
        {2147483647, -1,
         "0000000000000000000000000000000"
         "11111111111111111111111111111110"},
        {-2147483647, -1,
         "0000000000000000000000000000000"
         "11111111111111111111111111111111"},
    };
    for (const Case& c : cases) {
        uint8_t storage[16] = {};
        BitWriter w(storage, sizeof storage);
        BitCounter counter;
        if (c.ue >= 0) {
            w.PutUe(static_cast<uint32_t>(c.ue));
            counter.PutUe(static_cast<uint32_t>(c.ue));
        } else {
            w.PutSe(c.se);
            counter.PutSe(c.se);
        }
        const size_t n = std::string(c.bits).size();
        EXPECT_EQ(w.BitCount(), n) << c.bits;
        EXPECT_EQ(counter.BitCount(), n) << c.bits;
        w.AlignWithZeros();
        EXPECT_EQ(BitString(storage, n), c.bits);
        EXPECT_FALSE(w.Overflowed());
    }
}

TEST(BitWriterTest, ValuesWithoutACodeAndMisplacedBytesSetTheFlag) {
    uint8_t storage[16];
    BitWriter w(storage, sizeof storage);
    w.PutUe(0xFFFFFFFFu);
    EXPECT_TRUE(w.Overflowed());
    w.Reset();
    w.PutSe(INT32_MIN);
    EXPECT_TRUE(w.Overflowed());
    w.Reset();
    w.PutByte(0x12);
    EXPECT_FALSE(w.Overflowed());
    w.PutBit(1);
    w.PutByte(0x34);  // off a byte boundary
    EXPECT_TRUE(w.Overflowed());
}

TEST(BitWriterTest, OverflowIsStickyAndNothingLandsPastTheCapacity) {
    // Every capacity from 0 to 12 bytes, written past its end in fields of every width:
    // the bytes that fit are right, none is stored beyond (the array is exactly that size,
    // so the sanitizer sees a stray store), and the flag stays up until Truncate.
    for (size_t capacity = 0; capacity <= 12; ++capacity) {
        for (int n : {1, 7, 8, 13, 32}) {
            std::vector<uint8_t> storage(capacity);
            BitWriter w(storage.data(), capacity);
            NaiveBits ref;
            for (uint32_t i = 0; w.BitCount() < (capacity + 2) * 8; ++i) {
                w.PutBits(n, i * 2654435761u);
                ref.Put(n, (i * 2654435761u) & (n == 32 ? ~0u : (1u << n) - 1));
            }
            w.Flush();
            ASSERT_TRUE(w.Overflowed()) << capacity << " " << n;
            const std::vector<uint8_t> expect = ref.WholeBytes();
            for (size_t i = 0; i < capacity; ++i)
                ASSERT_EQ(storage[i], expect[i]) << capacity << " " << n << " byte " << i;
            w.PutBits(1, 1);
            EXPECT_TRUE(w.Overflowed());
            w.Truncate(capacity / 2);
            EXPECT_FALSE(w.Overflowed());
            EXPECT_EQ(w.ByteCount(), capacity / 2);
        }
    }
}

TEST(BitWriterTest, TrailingAndAlignmentBits) {
    struct Case {
        int lead;  // bits written first (all 0)
        int how;   // 0 trailing bits, 1 align with ones, 2 align with zeros
        const char* after;
    };
    const Case cases[] = {
        {0, 0, "10000000"}, {3, 0, "00010000"},         {7, 0, "00000001"}, {8, 0, "0000000010000000"},
        {0, 1, ""},         {3, 1, "00011111"},         {7, 1, "00000001"}, {0, 2, ""},
        {5, 2, "00000000"}, {9, 2, "0000000000000000"},
    };
    for (const Case& c : cases) {
        uint8_t storage[8] = {};
        BitWriter w(storage, sizeof storage);
        BitCounter counter;
        w.PutBits(c.lead, 0);
        counter.PutBits(c.lead, 0);
        if (c.how == 0) {
            w.PutTrailingBits();
            counter.PutTrailingBits();
        } else if (c.how == 1) {
            w.AlignWithOnes();
            counter.AlignWithOnes();
        } else {
            w.AlignWithZeros();
            counter.AlignWithZeros();
        }
        const std::string expect = c.after;
        EXPECT_TRUE(w.IsByteAligned());
        EXPECT_EQ(w.BitCount(), expect.size()) << c.lead << " " << c.how;
        EXPECT_EQ(counter.BitCount(), expect.size()) << c.lead << " " << c.how;
        EXPECT_EQ(w.ByteCount(), expect.size() / 8);
        EXPECT_EQ(BitString(storage, expect.size()), expect) << c.lead << " " << c.how;
    }
}

// One syntax routine, compiled for both sinks.
template <BitSink Sink>
void WriteSample(Sink& s, std::mt19937& rng) {
    for (int i = 0; i < 200; ++i) {
        switch (rng() % 5) {
            case 0:
                s.PutBits(static_cast<int>(rng() % 33), static_cast<uint32_t>(rng()));
                break;
            case 1:
                s.PutUe(static_cast<uint32_t>(rng()) >> (rng() % 32));
                break;
            case 2:
                s.PutSe(static_cast<int32_t>(rng()) >> (rng() % 31));
                break;
            case 3:
                s.PutBit(1);
                break;
            default:
                if (rng() % 4 == 0) s.AlignWithOnes();
                break;
        }
    }
    s.PutTrailingBits();
}

TEST(BitWriterTest, CounterCountsWhatTheWriterWrites) {
    for (uint32_t seed = 0; seed < 20; ++seed) {
        std::vector<uint8_t> storage(8192);
        BitWriter w(storage.data(), storage.size());
        w.PutBits(static_cast<int>(seed % 8), 0);
        BitCounter counter(seed % 8);  // starts where the writer stands
        std::mt19937 a(seed), b(seed);
        WriteSample(w, a);
        WriteSample(counter, b);
        ASSERT_FALSE(w.Overflowed());
        EXPECT_EQ(counter.BitCount(), w.BitCount()) << "seed " << seed;
    }
}

TEST(BitWriterTest, ReaderReadsBackEveryField) {
    std::mt19937 rng(99);
    struct Field {
        int kind;  // 0 bits, 1 ue, 2 se
        int n;
        uint32_t u;
        int32_t s;
    };
    std::vector<Field> fields;
    std::vector<uint8_t> storage(1 << 16);
    BitWriter w(storage.data(), storage.size());
    const uint32_t edges[] = {0, 1, 2, 65534, 65535, 65536, 0x7FFFFFFE, 0x7FFFFFFF, 0xFFFFFFFE};
    for (int i = 0; i < 5000; ++i) {
        Field f{static_cast<int>(rng() % 3), static_cast<int>(rng() % 33), static_cast<uint32_t>(rng()), 0};
        if (rng() % 4 == 0) f.u = edges[rng() % std::size(edges)];
        if (f.kind == 0) {
            f.u = f.n == 32 ? f.u : f.u & ((1u << f.n) - 1);
            w.PutBits(f.n, f.u);
        } else if (f.kind == 1) {
            f.u >>= rng() % 32;
            w.PutUe(f.u);
        } else {
            f.s = static_cast<int32_t>(f.u) >> (rng() % 32);
            if (f.s == INT32_MIN) f.s = -INT32_MAX;
            w.PutSe(f.s);
        }
        fields.push_back(f);
    }
    w.PutTrailingBits();
    ASSERT_FALSE(w.Overflowed());
    BitReader r(storage.data(), w.ByteCount());
    for (size_t i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        if (f.kind == 0) {
            ASSERT_EQ(r.ReadBits(f.n), f.u) << i;
        } else if (f.kind == 1) {
            ASSERT_EQ(r.ReadUe(), f.u) << i;
        } else {
            ASSERT_EQ(r.ReadSe(), f.s) << i;
        }
    }
    EXPECT_TRUE(r.AtStopBit());
    EXPECT_FALSE(r.MoreRbspData());
    EXPECT_TRUE(r.Ok());
}

TEST(BitWriterTest, BytesRebaseAndTruncate) {
    std::vector<uint8_t> small(6);
    BitWriter w(small.data(), small.size());
    const uint8_t bytes[] = {1, 2, 3, 4};
    w.PutBytes(bytes, 4);  // aligned: copied
    w.PutBits(4, 0xA);
    EXPECT_EQ(w.BitCount(), 36u);
    std::vector<uint8_t> big(64);
    w.Flush();
    ASSERT_TRUE(w.Rebase(big.data(), big.size()));
    small.assign(small.size(), 0xEE);  // the old home is no longer used
    w.PutBytes(bytes, 4);              // unaligned: bit by bit
    w.AlignWithZeros();
    EXPECT_FALSE(w.Overflowed());
    const std::vector<uint8_t> expect = {1, 2, 3, 4, 0xA0, 0x10, 0x20, 0x30, 0x40};
    EXPECT_EQ(std::vector<uint8_t>(big.begin(), big.begin() + 9), expect);
    EXPECT_EQ(w.ByteCount(), 9u);
    std::vector<uint8_t> tooSmall(8);
    EXPECT_FALSE(w.Rebase(tooSmall.data(), tooSmall.size()));
    w.Truncate(4);
    w.PutBits(8, 0x55);
    w.Flush();
    EXPECT_EQ(w.ByteCount(), 5u);
    EXPECT_EQ(big[4], 0x55);
    // PutBytes past the capacity stores what fits and reports the rest.
    uint8_t three[3];
    BitWriter full(three, 3);
    full.PutBytes(bytes, 4);
    EXPECT_TRUE(full.Overflowed());
    EXPECT_EQ(full.ByteCount(), 3u);
}

}  // namespace
}  // namespace common
