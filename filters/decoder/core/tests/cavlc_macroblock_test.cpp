// CAVLC residual blocks (clause 9.2), decoded from bit strings written by hand from the
// standard's tables: the level and zero-run rules and the checks that keep a damaged
// block from writing outside its 16 coefficients.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/decoder/core/slice_decoding.h"

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
    };
    for (const ResidualCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> data = FromBits(c.bits);
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

}  // namespace
}  // namespace avcdec
