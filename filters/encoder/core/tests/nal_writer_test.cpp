#include "filters/encoder/core/nal_writer.h"

#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "filters/encoder/core/core_result.h"

namespace ombrisk {
namespace {

// Independent reader of an Annex B stream (clause B.2 and 7.3.1): NAL units between start
// codes, emulation-prevention bytes removed.
struct Unit {
    uint8_t header;
    std::vector<uint8_t> rbsp;
};
std::vector<Unit> ReadAnnexB(const std::vector<uint8_t>& s) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) starts.push_back(i + 3);
    }
    std::vector<Unit> units;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : s.size();
        while (end > starts[k] && s[end - 1] == 0)
            --end;  // zero_byte of the next start code
        Unit u{s[starts[k]], {}};
        int zeros = 0;
        for (size_t i = starts[k] + 1; i < end; ++i) {
            if (zeros == 2 && s[i] == 3) {
                zeros = 0;
                continue;
            }
            u.rbsp.push_back(s[i]);
            zeros = s[i] == 0 ? zeros + 1 : 0;
        }
        units.push_back(std::move(u));
    }
    return units;
}

std::vector<uint8_t> Output(const CNalWriter& w) {
    return std::vector<uint8_t>(w.output().Data(), w.output().Data() + w.output().ByteCount());
}

TEST(NalWriter, EmulationPreventionRoundTripsRandomPayloads) {
    const uint32_t seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::vector<uint8_t>> payloads(1 + rng() % 4);
        CNalWriter nal(600, CNalWriter::OutputBytesFor(600, 0) * 4);
        for (auto& p : payloads) {
            p.resize(1 + rng() % 500);
            // Mostly zeros and the four escaped values, so every pattern occurs.
            for (auto& b : p)
                b = (rng() % 3) ? static_cast<uint8_t>(rng() % 5) : static_cast<uint8_t>(rng());
            p.back() = 0x80 | static_cast<uint8_t>(rng());  // an RBSP ends with its stop bit
            for (uint8_t b : p)
                nal.payload().PutByte(b);
            nal.SetHeader(static_cast<int>(rng() % 4), 1 + static_cast<int>(rng() % 12));
            ASSERT_GT(nal.EmitNalUnit(0), 0);
            EXPECT_EQ(nal.payload().ByteCount(), 0u);
        }
        const std::vector<uint8_t> stream = Output(nal);
        // No forbidden three-byte pattern inside any unit (clause 7.4.1).
        const auto units = ReadAnnexB(stream);
        ASSERT_EQ(units.size(), payloads.size());
        for (size_t k = 0; k < units.size(); ++k)
            EXPECT_EQ(units[k].rbsp, payloads[k]) << k;
        size_t zeros = 0, unitStart = 0;
        for (size_t i = 0; i < stream.size(); ++i) {
            if (i + 4 <= stream.size() && stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 0 &&
                stream[i + 3] == 1) {
                unitStart = i + 4;
            }
            if (i > unitStart) {
                if (zeros >= 2) {
                    EXPECT_GE(stream[i], 3) << "at " << i;
                }
            }
            zeros = (i >= unitStart && stream[i] == 0) ? zeros + 1 : 0;
        }
    }
}

TEST(NalWriter, PackagingCases) {
    struct Case {
        const char* name;
        std::vector<uint8_t> payload;
        size_t minimum;
        std::vector<uint8_t> escaped;  // after start code and header
    };
    const Case cases[] = {
        {"00 00 00 escaped", {0, 0, 0, 0x80}, 0, {0, 0, 3, 0, 0x80}},
        {"00 00 04 kept", {0, 0, 4}, 0, {0, 0, 4}},
        {"00 00 03 escaped", {0, 0, 3}, 0, {0, 0, 3, 3}},
        {"trailing 00 00 gets a final 03", {0x80, 0, 0}, 0, {0x80, 0, 0, 3}},
        {"no escape after one zero", {0, 1, 0, 2}, 0, {0, 1, 0, 2}},
        {"minimum n + 1: one triplet", {0x80}, 2, {0x80, 0, 0, 3}},
        {"minimum n + 4: two triplets", {0x80}, 5, {0x80, 0, 0, 3, 0, 0, 3}},
        {"minimum met: none", {0x80, 0x80}, 2, {0x80, 0x80}},
    };
    for (const Case& c : cases) {
        CNalWriter nal(64, 64);
        for (uint8_t b : c.payload)
            nal.payload().PutByte(b);
        nal.SetHeader(1, 5);
        ASSERT_GT(nal.EmitNalUnit(c.minimum), 0) << c.name;
        std::vector<uint8_t> expected = {0, 0, 0, 1, 0x25};
        expected.insert(expected.end(), c.escaped.begin(), c.escaped.end());
        EXPECT_EQ(Output(nal), expected) << c.name;
    }
    // Header bytes of the units the encoder writes.
    const std::pair<std::pair<int, int>, uint8_t> headers[] = {{{1, 7}, 0x27}, {{1, 8}, 0x28}, {{0, 6}, 0x06},
                                                               {{1, 5}, 0x25}, {{1, 1}, 0x21}, {{0, 1}, 0x01}};
    for (auto [refType, byte] : headers) {
        CNalWriter nal(8, 16);
        nal.payload().PutByte(0x80);
        nal.SetHeader(refType.first, refType.second);
        ASSERT_GT(nal.EmitNalUnit(0), 0);
        EXPECT_EQ(nal.output().Data()[4], byte);
    }
}

TEST(NalWriter, FullOutputIsAnErrorAndKeepsEarlierUnits) {
    CNalWriter nal(64, 12);
    nal.payload().PutByte(0x80);
    nal.SetHeader(1, 1);
    ASSERT_EQ(nal.EmitNalUnit(0), 6);
    for (int i = 0; i < 4; ++i)
        nal.payload().PutByte(0);
    nal.payload().PutByte(0x80);
    EXPECT_EQ(nal.EmitNalUnit(0), kCoreNoSpace);  // 5 + 6 bytes do not fit after the first 6
    EXPECT_EQ(nal.output().ByteCount(), 6u);
    EXPECT_FALSE(nal.output().Overflowed());

    CNalWriter small(2, 64);  // an overflowed payload is never packaged
    small.payload().PutBits(24, 0x808080);
    EXPECT_EQ(small.EmitNalUnit(0), kCoreNoSpace);
    EXPECT_EQ(small.output().ByteCount(), 0u);

    CNalWriter unaligned(8, 64);
    unaligned.payload().PutBits(3, 1);
    EXPECT_EQ(unaligned.EmitNalUnit(0), kCoreNoSpace);
}

TEST(NalWriter, WorstCaseOutputSizeHolds) {
    // An all-zero payload escapes one byte in every three: the bound must cover it.
    for (size_t n : {size_t{1}, size_t{2}, size_t{3}, size_t{100}, size_t{1000}}) {
        CNalWriter nal(n, CNalWriter::OutputBytesFor(n, 30));
        for (size_t i = 0; i < n; ++i)
            nal.payload().PutByte(0);
        EXPECT_GT(nal.EmitNalUnit(n + n / 2 + 30), 0) << n;
    }
}

// Clause 7.4.2.10 for 8-bit 4:2:0: 32/3 x bytes >= bins - 3072 x mbs / 32.
TEST(NalWriter, CabacZeroWordMinimum) {
    EXPECT_EQ(MinimumCabacPictureBytes(0, 99), 0);
    EXPECT_EQ(MinimumCabacPictureBytes(96 * 99, 99), 0);  // exactly the raw allowance
    for (int64_t bins : {int64_t{10000}, int64_t{123457}, int64_t{5000000}}) {
        const int64_t mbs = 99;
        const int64_t need = MinimumCabacPictureBytes(bins, mbs);
        // The bound holds at `need` and fails one byte below.
        EXPECT_LE(3 * bins, 32 * need + 3 * 96 * mbs) << bins;
        if (need > 0) {
            EXPECT_GT(3 * bins, 32 * (need - 1) + 3 * 96 * mbs) << bins;
        }
    }
}

}  // namespace
}  // namespace ombrisk
