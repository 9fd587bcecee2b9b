#include "editor/core/bit_ring.h"

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "editor/core/tests/ring_threads.h"

namespace {

using editor::CBitRing;

std::vector<uint8_t> Drain(CBitRing* r) {
    std::vector<uint8_t> out(r->FillLevel());
    out.resize(r->ReadAll(out.data()));
    return out;
}

TEST(BitRing, BitWritesComposeBytesMostSignificantFirst) {
    CBitRing r;
    ASSERT_TRUE(r.Create(16));
    ASSERT_TRUE(r.PutBits(0x1BA, 32));
    EXPECT_EQ(Drain(&r), (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xBA}));

    ASSERT_TRUE(r.PutBits(1, 2));
    EXPECT_EQ(r.FillLevel(), 0u);  // a partial byte is not readable yet
    ASSERT_TRUE(r.PutBits(3, 6));
    EXPECT_EQ(Drain(&r), (std::vector<uint8_t>{0x43}));

    // Unaligned bytes and alignment with zero bits: 101 then AB then 1 -> 1011 0101 0111 0000.
    ASSERT_TRUE(r.PutBits(5, 3));
    const uint8_t ab = 0xAB;
    ASSERT_TRUE(r.PutBytes(&ab, 1));
    ASSERT_TRUE(r.PutBits(1, 1));
    ASSERT_TRUE(r.AlignWrite());
    EXPECT_EQ(Drain(&r), (std::vector<uint8_t>{0xB5, 0x70}));
}

TEST(BitRing, HoldsSizeMinusOneAndRefusesWhatDoesNotFit) {
    CBitRing r;
    ASSERT_TRUE(r.Create(8));
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(r.PutBytes(data, 8));
    EXPECT_EQ(r.FillLevel(), 0u);  // a refused write leaves nothing behind
    ASSERT_TRUE(r.PutBytes(data, 7));
    EXPECT_TRUE(r.IsFull());
    EXPECT_EQ(r.FillLevel(), 7u);
    EXPECT_FALSE(r.PutBits(0xFF, 8));
    EXPECT_TRUE(r.PutBits(1, 7));   // no whole byte completed: accepted
    EXPECT_FALSE(r.PutBits(1, 1));  // would complete a byte that has no room
    EXPECT_FALSE(r.AlignWrite());
    uint8_t out[8] = {};
    EXPECT_EQ(r.Read(out, 3), 3u);
    EXPECT_TRUE(r.PutBits(1, 1));  // the pending byte 0000 0011 now fits
    EXPECT_EQ(r.FillLevel(), 5u);
    EXPECT_EQ(Drain(&r), (std::vector<uint8_t>{4, 5, 6, 7, 3}));
}

TEST(BitRing, PeeksMarksAndStartCodes) {
    CBitRing r;
    ASSERT_TRUE(r.Create(10));
    const uint8_t data[] = {9, 9, 0, 0, 1, 0xB3, 7, 8};
    // Wrap the storage first so copies run in two pieces.
    ASSERT_TRUE(r.PutBytes(data, 6));
    EXPECT_EQ(r.Skip(6), 6u);
    ASSERT_TRUE(r.PutBytes(data, 8));
    uint8_t out[8] = {};
    EXPECT_EQ(r.PeekTail(out, 2, 2), 2u);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[1], 8);
    EXPECT_EQ(r.SkipToStartCode(), 2u);
    EXPECT_EQ(r.Peek(out, 4), 4u);
    EXPECT_EQ(out[3], 0xB3);
    r.Mark();
    EXPECT_EQ(r.GetBits(24), 1u);
    EXPECT_EQ(r.GetBits(4), 0xBu);
    // While marked, the bytes read since the mark are not reused by writes.
    EXPECT_EQ(r.FreeSpace(), 3u);
    r.Restore();
    EXPECT_EQ(r.FillLevel(), 6u);
    EXPECT_EQ(r.SkipToByte(0xB3), 3u);
    int got = 0;
    EXPECT_EQ(r.GetBits(32, &got), 0xB30708u);
    EXPECT_EQ(got, 24);
    EXPECT_TRUE(r.IsEmpty());
}

// Random operations against a model: a std::deque of readable bytes, the bits of a
// partly written byte and the bits left of a byte GetBits has started.
TEST(BitRing, MatchesDequeModelOverRandomOperations) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        const size_t size = 2 + rng() % 64;
        CBitRing r;
        ASSERT_TRUE(r.Create(size));
        std::deque<uint8_t> bytes;
        int writeBits = 0;
        uint32_t writeValue = 0;
        int readBits = 0;
        uint8_t readByte = 0;
        auto pushBit = [&](uint32_t bit) {
            writeValue = (writeValue << 1) | bit;
            if (++writeBits == 8) {
                bytes.push_back(uint8_t(writeValue));
                writeBits = 0;
                writeValue = 0;
            }
        };
        for (int op = 0; op < 4000; ++op) {
            ASSERT_EQ(r.FillLevel(), bytes.size());
            const size_t free = size - 1 - bytes.size();
            switch (rng() % 7) {
                case 0: {
                    const int n = int(rng() % 33);
                    const uint32_t v = uint32_t(rng());
                    const bool fits = size_t(writeBits + n) / 8 <= free;
                    ASSERT_EQ(r.PutBits(v, n), fits);
                    if (fits)
                        for (int i = n - 1; i >= 0; --i)
                            pushBit((v >> i) & 1);
                    break;
                }
                case 1: {
                    std::vector<uint8_t> data(rng() % 20);
                    for (auto& b : data)
                        b = uint8_t(rng());
                    const bool fits = data.size() <= free;
                    ASSERT_EQ(r.PutBytes(data.data(), data.size()), fits);
                    if (fits)
                        for (uint8_t b : data)
                            for (int i = 7; i >= 0; --i)
                                pushBit((b >> i) & 1);
                    break;
                }
                case 2: {
                    const int n = int(rng() % 33);
                    int got = 0;
                    const uint32_t v = r.GetBits(n, &got);
                    uint32_t expect = 0;
                    int have = 0;
                    while (have < n) {
                        if (readBits == 0) {
                            if (bytes.empty()) break;
                            readByte = bytes.front();
                            bytes.pop_front();
                            readBits = 8;
                        }
                        --readBits;
                        expect = (expect << 1) | ((readByte >> readBits) & 1u);
                        ++have;
                    }
                    ASSERT_EQ(got, have);
                    ASSERT_EQ(v, expect);
                    break;
                }
                case 3: {
                    const size_t n = rng() % 20;
                    std::vector<uint8_t> out(n);
                    const bool peek = rng() & 1;
                    const size_t got = peek ? r.Peek(out.data(), n) : r.Read(out.data(), n);
                    ASSERT_EQ(got, std::min(n, bytes.size()));
                    for (size_t k = 0; k < got; ++k)
                        ASSERT_EQ(out[k], bytes[k]) << "byte " << k;
                    if (!peek) {
                        bytes.erase(bytes.begin(), bytes.begin() + ptrdiff_t(got));
                        readBits = 0;
                    }
                    break;
                }
                case 4: {
                    const bool ok = r.AlignWrite();
                    readBits = 0;
                    ASSERT_EQ(ok, writeBits == 0 || free > 0);
                    if (ok)
                        while (writeBits)
                            pushBit(0);
                    break;
                }
                case 5: {
                    const size_t n = rng() % 10;
                    ASSERT_EQ(r.Skip(n), std::min(n, bytes.size()));
                    bytes.erase(bytes.begin(), bytes.begin() + ptrdiff_t(std::min(n, bytes.size())));
                    readBits = 0;
                    break;
                }
                default:
                    ASSERT_EQ(r.IsFull(), bytes.size() == size - 1);
                    ASSERT_EQ(r.IsEmpty(), bytes.empty() && readBits == 0);
                    if (rng() % 20 == 0) {
                        r.Reset();
                        bytes.clear();
                        writeBits = readBits = 0;
                        writeValue = 0;
                    }
                    break;
            }
        }
    }
}

// One writer and one reader on two threads: every byte arrives once, in order. The same
// exercise runs under the thread sanitizer as editor_bit_ring_tsan.
TEST(BitRing, OneWriterOneReaderThreads) {
    CBitRing r;
    ASSERT_TRUE(r.Create(1021));
    const editor_test::RingThreadsResult result = editor_test::RunRingThreads(&r, 400000);
    EXPECT_TRUE(result.ordered);
    EXPECT_EQ(result.received, 400000u);
    EXPECT_TRUE(r.IsEmpty());
}

}  // namespace

namespace {

// Against a plain search over the readable bytes: every placement of the storage's wrap
// and of the start code (split across the wrap in every way), with and without its fourth
// byte readable.
TEST(BitRing, SkipToStartCodeFindsCodesAcrossTheWrap) {
    for (size_t wrap = 0; wrap < 12; ++wrap) {
        for (size_t code = 0; code < 9; ++code) {
            for (size_t fill : {code + 3, code + 4, size_t(11)}) {
                editor::CBitRing r;
                ASSERT_TRUE(r.Create(13));
                std::vector<uint8_t> lead(wrap, 0x55);
                ASSERT_TRUE(r.PutBytes(lead.data(), lead.size()));
                std::vector<uint8_t> sink(wrap);
                r.Read(sink.data(), wrap);
                std::vector<uint8_t> bytes(fill, 0x00);
                for (size_t i = 0; i < fill; ++i)
                    bytes[i] = uint8_t(0x10 + i);
                bytes[code] = 0;
                bytes[code + 1] = 0;
                bytes[code + 2] = 1;
                ASSERT_TRUE(r.PutBytes(bytes.data(), bytes.size()));
                size_t expect = fill < 4 ? 0 : fill - 3;
                for (size_t k = 0; k + 3 < fill; ++k) {
                    if (bytes[k] == 0 && bytes[k + 1] == 0 && bytes[k + 2] == 1) {
                        expect = k;
                        break;
                    }
                }
                EXPECT_EQ(r.SkipToStartCode(), expect) << "wrap " << wrap << " code " << code << " fill " << fill;
                EXPECT_EQ(r.FillLevel(), fill - expect);
            }
        }
    }
}

}  // namespace
