#include "common/bitstream/start_code.h"

#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace common {
namespace {

const uint8_t* NaiveFind(const uint8_t* begin, const uint8_t* end, uint8_t lo, uint8_t hi) {
    for (const uint8_t* p = begin; end - p >= 3; ++p)
        if (p[0] == 0 && p[1] == 0 && p[2] >= lo && p[2] <= hi) return p;
    return end;
}

// Random bytes dense in 00, 01 and 03 so that prefixes, near-misses and runs of zeros occur.
std::vector<uint8_t> RandomStream(std::mt19937& rng, size_t size) {
    std::vector<uint8_t> b(size);
    for (uint8_t& x : b) {
        const uint32_t r = rng() % 16;
        x = r < 7 ? 0 : r < 9 ? 1 : r < 10 ? 3 : r < 11 ? 2 : static_cast<uint8_t>(rng());
    }
    return b;
}

TEST(StartCodeTest, MatchesANaiveScanAtEveryBoundary) {
    std::mt19937 rng(7);
    const uint8_t ranges[][2] = {{1, 1}, {3, 3}, {0, 3}};
    for (int round = 0; round < 300; ++round) {
        const std::vector<uint8_t> all = RandomStream(rng, 1 + rng() % 80);
        // Every sub-range within the first bytes and the last, copied to an array of exactly
        // its size so the sanitizer sees a read past the end.
        for (size_t from = 0; from < std::min<size_t>(all.size(), 4); ++from) {
            for (size_t to = all.size(); to + 20 >= all.size() && to > from; --to) {
                std::vector<uint8_t> b(all.begin() + static_cast<ptrdiff_t>(from),
                                       all.begin() + static_cast<ptrdiff_t>(to));
                const uint8_t* const end = b.data() + b.size();
                for (const auto& r : ranges) {
                    // Walk every match, not only the first.
                    const uint8_t* p = b.data();
                    for (;;) {
                        const uint8_t* got = FindZeroPairThen(p, end, r[0], r[1]);
                        ASSERT_EQ(got, NaiveFind(p, end, r[0], r[1]))
                            << "round " << round << " range " << int(r[0]) << ".." << int(r[1]);
                        if (got == end) break;
                        p = got + 1;
                    }
                }
                const StartCode sc = FindNalStartCode(b.data(), end);
                const uint8_t* three = NaiveFind(b.data(), end, 1, 1);
                if (three == end) {
                    EXPECT_FALSE(sc.Found());
                    EXPECT_EQ(sc.prefix, end);
                } else {
                    const bool four = three > b.data() && three[-1] == 0;
                    EXPECT_EQ(sc.prefix, four ? three - 1 : three);
                    EXPECT_EQ(sc.length, four ? 4 : 3);
                    EXPECT_EQ(sc.Payload(), three + 3);
                }
            }
        }
    }
}

TEST(StartCodeTest, LongRunsWithoutACandidate) {
    // The SIMD path on long buffers: a start code at every position of a 200-byte run, and
    // lookalikes (00 00 02, 00 01, 01 00 00 at the end) that are not start codes.
    for (size_t at = 0; at + 3 <= 200; ++at) {
        std::vector<uint8_t> b(200, 0xFF);
        b[at] = 0;
        b[at + 1] = 0;
        b[at + 2] = 1;
        EXPECT_EQ(FindStartCode(b.data(), b.data() + b.size()), b.data() + at);
        b[at + 2] = 2;
        EXPECT_EQ(FindStartCode(b.data(), b.data() + b.size()), b.data() + b.size());
    }
    std::vector<uint8_t> tail(64, 0x80);
    tail[62] = 0;
    tail[63] = 0;  // 00 00 cut by the end
    EXPECT_EQ(FindStartCode(tail.data(), tail.data() + tail.size()), tail.data() + tail.size());
    EXPECT_EQ(FindStartCode(nullptr, nullptr), nullptr);
}

TEST(StartCodeTest, NextNalUnitWalksAByteStream) {
    // zero_byte + start code, a 3-byte start code, trailing zeros, and a unit at the end.
    const std::vector<uint8_t> s = {0xAA, 0,    0, 0, 1, 0x67, 0x42, 0x00, 0x1E, 0,    0,   1,
                                    0x68, 0xCE, 0, 0, 0, 0,    0,    1,    0x65, 0x88, 0x80};
    const uint8_t* cursor = s.data();
    const uint8_t* const end = s.data() + s.size();
    std::vector<std::vector<uint8_t>> units;
    for (;;) {
        const std::span<const uint8_t> nal = NextNalUnit(&cursor, end);
        if (nal.empty()) break;
        units.emplace_back(nal.begin(), nal.end());
    }
    const std::vector<std::vector<uint8_t>> expect = {{0x67, 0x42, 0x00, 0x1E}, {0x68, 0xCE}, {0x65, 0x88, 0x80}};
    EXPECT_EQ(units, expect);
    EXPECT_EQ(cursor, end);
}

}  // namespace
}  // namespace common
