// CAVLC residual blocks (clause 9.2), decoded from bit strings written by hand from the
// standard's tables: the level and zero-run rules and the checks that keep a damaged
// block from writing outside its 16 coefficients.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/bitstream/bit_writer.h"
#include "filters/decoder/core/slice_decoding.h"
#include "filters/encoder/core/cavlc_writer.h"

namespace avcdec {
namespace {

std::vector<uint8_t> FromBits(const std::string& bits) {
    std::vector<uint8_t> out((bits.size() + 7) / 8 + 4, 0);
    size_t n = 0;
    for (char c : bits) {
        if (c == ' ') continue;
        if (c == '1') out[n / 8] |= static_cast<uint8_t>(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

struct ResidualCase {
    const char* what;
    int nC;
    int maxNumCoeff;
    const char* bits;
    int expectedTotal;              // -1: the block is refused
    std::vector<int16_t> expected;  // coefficients from scan position 0
};

TEST(CavlcResidual, LevelsRunsAndRefusals) {
    const ResidualCase cases[] = {
        {"one trailing one after two zeros", 0, 16, "01 0 010", 1, {0, 0, 1}},
        // coeff_token (11, 1), sign 1, then suffixLength starts at 1: "10" is +2 (with the
        // first-level bias) and each "11" is -1; total_zeros 0.
        {"TotalCoeff 11 with one trailing one starts at suffixLength 1",
         0,
         16,
         "000000000001110 1 10 11 11 11 11 11 11 11 11 11 0000",
         11,
         {-1, -1, -1, -1, -1, -1, -1, -1, -1, 2, -1}},
        // coeff_token (2, 0); the first level, prefix 4 with the bias, is 4, which moves
        // suffixLength from 0 to 2, so the next level reads prefix 0 and two suffix bits.
        {"a first level of 4 continues with suffixLength 2", 0, 16, "00000111 00001 1 01 111", 2, {-1, 4}},
        {"chroma DC with three zeros first", -1, 4, "1 1 000", 1, {0, 0, 0, -1}},
        {"level_prefix above 15", 0, 16, "000101 0000000000000000 1", -1, {}},
        {"total_zeros beyond what the block leaves", 0, 15, "01 0 000000001", -1, {}},
        {"more coefficients than the block holds", 0, 15, "0000000000001000 000", -1, {}},
        {"run_before beyond the zeros left", 0, 16, "001 00 0011 00000000001", -1, {}},
        {"an empty block", 0, 16, "1", 0, {}},
        {"run_before of more than ten leading zeros", 0, 16, "001 00 0011 000000000001", -1, {}},
        {"coeff_token with 15 leading zeros, 0 <= nC < 2", 1, 16, "0000000000000001 111", -1, {}},
        {"coeff_token with 13 leading zeros, 2 <= nC < 4", 3, 16, "00000000000001 111", -1, {}},
        {"coeff_token with 10 leading zeros, 4 <= nC < 8", 7, 16, "00000000001 111", -1, {}},
        {"fixed-length coeff_token with more trailing ones than coefficients", 8, 16, "000010 11", -1, {}},
    };
    // Each case is read from a buffer that ends right behind it (every read checks the
    // end) and from one with plenty of bytes behind it (reads that skip the check).
    for (const bool padded : {false, true}) {
        for (const ResidualCase& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (padded ? ", padded" : ""));
            std::vector<uint8_t> data = FromBits(c.bits);
            if (padded) data.resize(data.size() + 128, 0xA5);
            BitReader r(data.data(), data.size());
            int16_t coeffs[16] = {};
            const int total = ParseResidualBlockCavlc(&r, c.nC, c.maxNumCoeff, coeffs);
            ASSERT_EQ(total, c.expectedTotal);
            if (total < 0) continue;
            std::vector<int16_t> expected = c.expected;
            expected.resize(16, 0);
            EXPECT_EQ(std::vector<int16_t>(coeffs, coeffs + 16), expected);
        }
    }
}

// Blocks written by the encoder's independent CAVLC writer (its code tables are checked
// against the standard's) read back: every coeff_token of every nC class with random
// levels, from trailing ones to the 12-bit escapes at every suffixLength, and random
// zero runs. The reader must give the levels back and stop exactly at the block's end.
TEST(CavlcResidual, ReadsWhatTheEncoderWrites) {
    std::mt19937 rng(20261210);
    auto magnitude = [&rng] {
        const uint32_t kind = rng() % 8;
        if (kind < 4) return 2 + static_cast<int>(rng() % 3);
        if (kind < 7) return 2 + static_cast<int>(rng() % 60);
        return 2 + static_cast<int>(rng() % (ombrisk::kMaxCavlcLevel - 1));
    };
    struct Shape {
        int nC, maxCoeff;
    };
    const Shape shapes[] = {{-1, 4}, {0, 16}, {1, 15}, {2, 16}, {3, 15}, {4, 16}, {7, 15}, {8, 16}, {17, 15}};
    int blocks = 0;
    for (const Shape& shape : shapes) {
        for (int total = 0; total <= shape.maxCoeff; ++total) {
            for (int ones = 0; ones <= std::min(total, 3); ++ones) {
                for (int rep = 0; rep < 12; ++rep) {
                    SCOPED_TRACE(testing::Message() << "nC " << shape.nC << " TotalCoeff " << total << " TrailingOnes "
                                                    << ones << " #" << rep);
                    // Scan positions of the coefficients, then their levels from the
                    // highest position down: TrailingOnes of magnitude 1 and, when fewer
                    // than 3, a larger one next so that the count is exact.
                    std::vector<int> positions(static_cast<size_t>(shape.maxCoeff));
                    for (int k = 0; k < shape.maxCoeff; ++k)
                        positions[static_cast<size_t>(k)] = k;
                    std::shuffle(positions.begin(), positions.end(), rng);
                    positions.resize(static_cast<size_t>(total));
                    std::sort(positions.begin(), positions.end());
                    std::vector<int16_t> expected(16, 0);
                    ombrisk::CoefficientList list{};
                    int previous = -1;
                    for (int k = 0; k < total; ++k) {
                        const int fromTop = total - 1 - k;
                        int m = fromTop < ones                ? 1
                                : fromTop == ones && ones < 3 ? magnitude()
                                : rng() % 3                   ? 1
                                                              : magnitude();
                        if (fromTop >= ones && rng() % 4 == 0) m = 1 + static_cast<int>(rng() % 3);
                        if (fromTop == ones && ones < 3 && m == 1) m = 2;
                        const int level = rng() % 2 ? -m : m;
                        const int at = positions[static_cast<size_t>(k)];
                        list.pairs[k] = {static_cast<int16_t>(level), static_cast<int16_t>(at - previous - 1)};
                        expected[static_cast<size_t>(at)] = static_cast<int16_t>(level);
                        previous = at;
                    }
                    list.pairs[total] = {0, static_cast<int16_t>(shape.maxCoeff - 1 - previous)};

                    std::vector<uint8_t> bytes(256);
                    common::BitWriter writer(bytes.data(), bytes.size());
                    ASSERT_EQ(ombrisk::cavlc::WriteResidualBlock(writer, list, shape.maxCoeff, shape.nC), total);
                    const uint64_t bits = writer.BitCount();
                    writer.PutBits(8, 0x80);  // a stop bit, so the last byte is whole
                    writer.Flush();
                    bytes.resize(writer.ByteCount());
                    // A buffer ending behind the block, and one with more bytes behind it.
                    for (const size_t extra : {size_t{0}, size_t{120}}) {
                        std::vector<uint8_t> data = bytes;
                        data.resize(data.size() + extra, 0x5A);
                        BitReader r(data.data(), data.size());
                        int16_t coeffs[16] = {};
                        ASSERT_EQ(ParseResidualBlockCavlc(&r, shape.nC, shape.maxCoeff, coeffs), total);
                        EXPECT_EQ(std::vector<int16_t>(coeffs, coeffs + 16), expected);
                        EXPECT_EQ(r.BitPosition(), bits);
                        EXPECT_TRUE(r.Ok());
                    }
                    ++blocks;
                }
            }
        }
    }
    EXPECT_GT(blocks, 2000);
}

}  // namespace
}  // namespace avcdec
