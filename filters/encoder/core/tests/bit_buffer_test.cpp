#include "filters/encoder/core/bit_buffer.h"

#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "filters/encoder/core/nal_writer.h"

namespace ombrisk {
namespace {

// Reference: one bool per bit, packed MSB first at the end.
struct NaiveBits {
    std::vector<bool> bits;
    void Put(int count, uint32_t value) {
        for (int i = count - 1; i >= 0; --i)
            bits.push_back(((value >> i) & 1u) != 0);
    }
    std::vector<uint8_t> CompleteBytes() const {
        std::vector<uint8_t> out(bits.size() / 8, 0);
        for (size_t i = 0; i < out.size() * 8; ++i) {
            if (bits[i]) out[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
        }
        return out;
    }
};

std::vector<uint8_t> Bytes(const CBitBuffer& b) {
    return std::vector<uint8_t>(b.Data(), b.Data() + b.ByteCount());
}

TEST(BitBuffer, PutBitsMatchesNaiveWriterOverRandomInput) {
    const uint32_t seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    for (int round = 0; round < 50; ++round) {
        CBitBuffer buffer(4096);
        NaiveBits naive;
        for (int i = 0; i < 600; ++i) {
            const int count = 1 + static_cast<int>(rng() % 32);
            const uint32_t value = rng();  // high bits beyond `count` must be ignored
            const uint32_t before = buffer.GetBitCount();
            EXPECT_EQ(buffer.PutBits(count, value), count);
            EXPECT_EQ(buffer.GetBitCount(), before + static_cast<uint32_t>(count));
            naive.Put(count, value);
        }
        ASSERT_FALSE(buffer.Overflowed());
        EXPECT_EQ(Bytes(buffer), naive.CompleteBytes());
        EXPECT_EQ(buffer.GetBitCount(), naive.bits.size());
    }
}

TEST(BitBuffer, EdgeCasesOfTheByteBoundary) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, uint32_t>> puts;
        int op;  // 0 trailing bits, 1 align with ones, 2 nothing
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"trailing at boundary", {}, 0, {0x80}},
        {"trailing after 1010101", {{7, 0x55}}, 0, {0xAB}},
        {"align at boundary", {}, 1, {}},
        {"align after 010", {{3, 2}}, 1, {0x5F}},
        {"32 bits", {{32, 0x89ABCDEFu}}, 2, {0x89, 0xAB, 0xCD, 0xEF}},
        {"count 0 writes nothing", {{0, 0xFFFFFFFFu}, {-3, 1}}, 2, {}},
    };
    for (const Case& c : cases) {
        CBitBuffer b(16);
        for (auto [n, v] : c.puts)
            b.PutBits(n, v);
        if (c.op == 0) b.WriteTrailingBits();
        if (c.op == 1) b.AlignWithOnes();
        EXPECT_EQ(Bytes(b), c.bytes) << c.name;
        if (c.op != 2) {
            EXPECT_TRUE(b.IsByteAligned()) << c.name;
        }
    }
    CBitBuffer fresh(4);
    EXPECT_EQ(fresh.GetBitCount(), 0u);
}

TEST(BitBuffer, RunningOutIsReportedNotDropped) {
    CBitBuffer b(2);
    b.PutBits(16, 0xABCD);
    EXPECT_FALSE(b.Overflowed());
    b.PutBits(8, 0x12);
    EXPECT_TRUE(b.Overflowed());
    EXPECT_EQ(b.ByteCount(), 2u);
    b.Reset();
    EXPECT_FALSE(b.Overflowed());

    CBitBuffer none(0);  // no array until one is attached
    none.PutBits(8, 1);
    EXPECT_TRUE(none.Overflowed());
    uint8_t mine[3] = {};
    none.Attach(mine, sizeof mine);
    none.PutBits(24, 0x010203);
    EXPECT_FALSE(none.Overflowed());
    EXPECT_EQ(mine[2], 3);

    CBitBuffer misplaced(4);
    misplaced.PutBits(3, 1);
    misplaced.PutByte(0xFF);  // not at a byte boundary: an error, not a shifted byte
    EXPECT_TRUE(misplaced.Overflowed());
}

TEST(BitCounter, CountsWithoutStoring) {
    CBitCounter c;
    EXPECT_EQ(c.PutBits(13, 0xFFFF), 13);
    EXPECT_EQ(c.PutBits(0, 1), 0);
    EXPECT_EQ(c.PutBits(32, 0), 32);
    EXPECT_EQ(c.GetBitCount(), 45u);
    CBitCounter* sink = &c;  // the writers switch sinks through the base
    CBitBuffer real(8);
    sink = &real;
    sink->PutBits(5, 3);
    EXPECT_EQ(sink->GetBitCount(), 5u);
}

// Exp-Golomb against clause 9.1 built bit by bit: codeNum -> leading zeros, 1, info bits.
TEST(HeaderWriter, ExpGolombCodes) {
    const uint32_t values[] = {0, 1, 2, 3, 7, 8, 254, 255, 65535, 0x7FFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFFu};
    for (uint32_t v : values) {
        CBitBuffer b(32);
        CHeaderWriter w(&b);
        w.ue(v, "x");
        NaiveBits ref;
        const uint64_t code = uint64_t{v} + 1;
        int len = 0;
        while ((code >> len) > 1)
            ++len;
        for (int i = 0; i < len; ++i)
            ref.Put(1, 0);
        for (int i = len; i >= 0; --i)
            ref.Put(1, static_cast<uint32_t>((code >> i) & 1));
        EXPECT_EQ(b.GetBitCount(), ref.bits.size()) << v;
        EXPECT_EQ(static_cast<int>(b.GetBitCount()), UeBits(v)) << v;
        b.WriteTrailingBits();
        ref.Put(1, 1);
        while (ref.bits.size() % 8)
            ref.Put(1, 0);
        EXPECT_EQ(Bytes(b), ref.CompleteBytes()) << v;
    }
    // se(v): 1 -> 1, -1 -> 2, 2 -> 3, -2 -> 4 (Table 9-3).
    const std::pair<int32_t, uint32_t> mapped[] = {{0, 0}, {1, 1}, {-1, 2}, {2, 3}, {-2, 4}, {-26, 52}, {25, 49}};
    for (auto [k, code] : mapped) {
        CBitBuffer a(8), b(8);
        CHeaderWriter(&a).se(k, "x");
        CHeaderWriter(&b).ue(code, "x");
        a.WriteTrailingBits();
        b.WriteTrailingBits();
        EXPECT_EQ(Bytes(a), Bytes(b)) << k;
    }
}

}  // namespace
}  // namespace ombrisk
