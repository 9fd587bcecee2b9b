// The CAVLC code tables against the standard's tables, transcribed here apart from the
// tables under test.
#include "common/bitstream/h264_cavlc_tables.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace common {
namespace {

// Every code table is prefix-free, and every total_zeros and run_before row is a complete
// code (its lengths fill the code space exactly), as a decoder's tables must be.
TEST(CavlcTables, PrefixFreeAndComplete) {
    const auto check = [](const VlcCode* codes, int n, bool complete, const std::string& what) {
        double sum = 0;
        for (int i = 0; i < n; ++i) {
            if (!codes[i].length) continue;
            sum += std::ldexp(1.0, -codes[i].length);
            for (int j = 0; j < n; ++j) {
                if (i == j || !codes[j].length || codes[j].length < codes[i].length) continue;
                EXPECT_NE(codes[j].code >> (codes[j].length - codes[i].length), codes[i].code)
                    << what << ": code " << i << " is a prefix of code " << j;
            }
        }
        EXPECT_LE(sum, 1.0) << what;
        if (complete) {
            EXPECT_EQ(sum, 1.0) << what;
        }
    };
    for (int t = 0; t < 3; ++t)
        check(&kCoeffToken[t][0][0], 17 * 4, false, "coeff_token " + std::to_string(t));
    check(&kCoeffTokenChromaDc[0][0], 5 * 4, false, "chroma DC coeff_token");
    for (int tc = 1; tc <= 15; ++tc)
        check(kTotalZeros[tc - 1], 16, tc > 1, "total_zeros " + std::to_string(tc));
    for (int tc = 1; tc <= 3; ++tc)
        check(kTotalZerosChromaDc[tc - 1], 4, true, "chroma DC total_zeros " + std::to_string(tc));
    for (int z = 0; z < 7; ++z)
        check(kRunBefore[z], 15, z < 6, "run_before " + std::to_string(z + 1));
    // Two rows leave one code unused: 000000000 (total_zeros of one coefficient) and
    // 00000000000 (run_before with more than six zeros left).
    const auto kraft = [](const VlcCode* codes, int n) {
        double sum = 0;
        for (int i = 0; i < n; ++i)
            if (codes[i].length) sum += std::ldexp(1.0, -codes[i].length);
        return sum;
    };
    EXPECT_EQ(kraft(kTotalZeros[0], 16), 1.0 - std::ldexp(1.0, -9));
    EXPECT_EQ(kraft(kRunBefore[6], 15), 1.0 - std::ldexp(1.0, -11));

    // coded_block_pattern: each codeNum belongs to exactly one pattern, in both columns.
    for (bool intra : {true, false}) {
        std::vector<int> seen(48, 0);
        for (int cbp = 0; cbp < 48; ++cbp)
            ++seen[CbpCodeNum(cbp, intra)];
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 48);
    }
    EXPECT_EQ(CbpCodeNum(47, true), 0);
    EXPECT_EQ(CbpCodeNum(0, true), 3);
    EXPECT_EQ(CbpCodeNum(0, false), 0);
}

// Table 9-5 as the standard prints it, transcribed apart from the code table: for each
// (TrailingOnes, TotalCoeff), the codes for 0 <= nC < 2, 2 <= nC < 4, 4 <= nC < 8 and, up
// to TotalCoeff 4, nC = -1.
struct CoeffTokenRow {
    int trailingOnes, totalCoeff;
    const char* codes[4];
};
constexpr CoeffTokenRow kTable95[] = {
    {0, 0, {"1", "11", "1111", "01"}},
    {0, 1, {"0001 01", "0010 11", "0011 11", "0001 11"}},
    {1, 1, {"01", "10", "1110", "1"}},
    {0, 2, {"0000 0111", "0001 11", "0010 11", "0001 00"}},
    {1, 2, {"0001 00", "0011 1", "0111 1", "0001 10"}},
    {2, 2, {"001", "011", "1101", "001"}},
    {0, 3, {"0000 0011 1", "0000 111", "0010 00", "0000 11"}},
    {1, 3, {"0000 0110", "0010 10", "0110 0", "0000 011"}},
    {2, 3, {"0000 101", "0010 01", "0111 0", "0000 010"}},
    {3, 3, {"0001 1", "0101", "1100", "0001 01"}},
    {0, 4, {"0000 0001 11", "0000 0111", "0001 111", "0000 10"}},
    {1, 4, {"0000 0011 0", "0001 10", "0101 0", "0000 0011"}},
    {2, 4, {"0000 0101", "0001 01", "0101 1", "0000 0010"}},
    {3, 4, {"0000 11", "0100", "1011", "0000 000"}},
    {0, 5, {"0000 0000 111", "0000 0100", "0001 011", nullptr}},
    {1, 5, {"0000 0001 10", "0000 110", "0100 0", nullptr}},
    {2, 5, {"0000 0010 1", "0000 101", "0100 1", nullptr}},
    {3, 5, {"0000 100", "0011 0", "1010", nullptr}},
    {0, 6, {"0000 0000 0111 1", "0000 0011 1", "0001 001", nullptr}},
    {1, 6, {"0000 0000 110", "0000 0110", "0011 10", nullptr}},
    {2, 6, {"0000 0001 01", "0000 0101", "0011 01", nullptr}},
    {3, 6, {"0000 0100", "0010 00", "1001", nullptr}},
    {0, 7, {"0000 0000 0101 1", "0000 0001 111", "0001 000", nullptr}},
    {1, 7, {"0000 0000 0111 0", "0000 0011 0", "0010 10", nullptr}},
    {2, 7, {"0000 0000 101", "0000 0010 1", "0010 01", nullptr}},
    {3, 7, {"0000 0010 0", "0001 00", "1000", nullptr}},
    {0, 8, {"0000 0000 0100 0", "0000 0001 011", "0000 1111", nullptr}},
    {1, 8, {"0000 0000 0101 0", "0000 0001 110", "0001 110", nullptr}},
    {2, 8, {"0000 0000 0110 1", "0000 0001 101", "0001 101", nullptr}},
    {3, 8, {"0000 0001 00", "0000 100", "0110 1", nullptr}},
    {0, 9, {"0000 0000 0011 11", "0000 0000 1111", "0000 1011", nullptr}},
    {1, 9, {"0000 0000 0011 10", "0000 0001 010", "0000 1110", nullptr}},
    {2, 9, {"0000 0000 0100 1", "0000 0001 001", "0001 010", nullptr}},
    {3, 9, {"0000 0000 100", "0000 0010 0", "0011 00", nullptr}},
    {0, 10, {"0000 0000 0010 11", "0000 0000 1011", "0000 0111 1", nullptr}},
    {1, 10, {"0000 0000 0010 10", "0000 0000 1110", "0000 1010", nullptr}},
    {2, 10, {"0000 0000 0011 01", "0000 0000 1101", "0000 1101", nullptr}},
    {3, 10, {"0000 0000 0110 0", "0000 0001 100", "0001 100", nullptr}},
    {0, 11, {"0000 0000 0001 111", "0000 0000 1000", "0000 0101 1", nullptr}},
    {1, 11, {"0000 0000 0001 110", "0000 0000 1010", "0000 0111 0", nullptr}},
    {2, 11, {"0000 0000 0010 01", "0000 0000 1001", "0000 1001", nullptr}},
    {3, 11, {"0000 0000 0011 00", "0000 0001 000", "0000 1100", nullptr}},
    {0, 12, {"0000 0000 0001 011", "0000 0000 0111 1", "0000 0100 0", nullptr}},
    {1, 12, {"0000 0000 0001 010", "0000 0000 0111 0", "0000 0101 0", nullptr}},
    {2, 12, {"0000 0000 0001 101", "0000 0000 0110 1", "0000 0110 1", nullptr}},
    {3, 12, {"0000 0000 0010 00", "0000 0000 1100", "0000 1000", nullptr}},
    {0, 13, {"0000 0000 0000 1111", "0000 0000 0101 1", "0000 0011 01", nullptr}},
    {1, 13, {"0000 0000 0000 001", "0000 0000 0101 0", "0000 0011 1", nullptr}},
    {2, 13, {"0000 0000 0001 001", "0000 0000 0100 1", "0000 0100 1", nullptr}},
    {3, 13, {"0000 0000 0001 100", "0000 0000 0110 0", "0000 0110 0", nullptr}},
    {0, 14, {"0000 0000 0000 1011", "0000 0000 0011 1", "0000 0010 01", nullptr}},
    {1, 14, {"0000 0000 0000 1110", "0000 0000 0010 11", "0000 0011 00", nullptr}},
    {2, 14, {"0000 0000 0000 1101", "0000 0000 0011 0", "0000 0010 11", nullptr}},
    {3, 14, {"0000 0000 0001 000", "0000 0000 0100 0", "0000 0010 10", nullptr}},
    {0, 15, {"0000 0000 0000 0111", "0000 0000 0010 01", "0000 0001 01", nullptr}},
    {1, 15, {"0000 0000 0000 1010", "0000 0000 0010 00", "0000 0010 00", nullptr}},
    {2, 15, {"0000 0000 0000 1001", "0000 0000 0010 10", "0000 0001 11", nullptr}},
    {3, 15, {"0000 0000 0000 1100", "0000 0000 0000 1", "0000 0001 10", nullptr}},
    {0, 16, {"0000 0000 0000 0100", "0000 0000 0001 11", "0000 0000 01", nullptr}},
    {1, 16, {"0000 0000 0000 0110", "0000 0000 0001 10", "0000 0001 00", nullptr}},
    {2, 16, {"0000 0000 0000 0101", "0000 0000 0001 01", "0000 0000 11", nullptr}},
    {3, 16, {"0000 0000 0000 1000", "0000 0000 0001 00", "0000 0000 10", nullptr}},
};

std::string CodeBits(const VlcCode& c) {
    std::string bits;
    for (int i = c.length - 1; i >= 0; --i)
        bits += ((c.code >> i) & 1) ? '1' : '0';
    return bits;
}

TEST(CavlcTables, CoeffTokenEqualsTable95) {
    int rows = 0;
    for (const CoeffTokenRow& row : kTable95) {
        for (int column = 0; column < 4; ++column) {
            if (!row.codes[column]) continue;
            std::string want(row.codes[column]);
            std::erase(want, ' ');
            const VlcCode got = column < 3 ? kCoeffToken[column][row.totalCoeff][row.trailingOnes]
                                           : kCoeffTokenChromaDc[row.totalCoeff][row.trailingOnes];
            EXPECT_EQ(CodeBits(got), want)
                << "TrailingOnes " << row.trailingOnes << ", TotalCoeff " << row.totalCoeff << ", column " << column;
        }
        ++rows;
    }
    EXPECT_EQ(rows, 62);
}

// Tables 9-7 and 9-8 (total_zeros of 4x4 blocks, by tzVlcIndex = TotalCoeff) and 9-9a
// (chroma DC), transcribed apart from the code tables: the codes for total_zeros 0, 1,
// ... separated by commas.
constexpr const char* kTable97[15] = {
    "1,011,010,0011,0010,00011,00010,000011,000010,0000011,0000010,00000011,00000010,000000011,000000010,000000001",
    "111,110,101,100,011,0101,0100,0011,0010,00011,00010,000011,000010,000001,000000",
    "0101,111,110,101,0100,0011,100,011,0010,00011,00010,000001,00001,000000",
    "00011,111,0101,0100,110,101,100,0011,011,0010,00010,00001,00000",
    "0101,0100,0011,111,110,101,100,011,0010,00001,0001,00000",
    "000001,00001,111,110,101,100,011,010,0001,001,000000",
    "000001,00001,101,100,011,11,010,0001,001,000000",
    "000001,0001,00001,011,11,10,010,001,000000",
    "000001,000000,0001,11,10,001,01,00001",
    "00001,00000,001,11,10,01,0001",
    "0000,0001,001,010,1,011",
    "0000,0001,01,1,001",
    "000,001,1,01",
    "00,01,1",
    "0,1",
};
constexpr const char* kTable99a[3] = {"1,01,001,000", "1,01,00", "1,0"};

std::vector<std::string> Split(const char* row) {
    std::vector<std::string> out(1);
    for (const char* p = row; *p; ++p) {
        if (*p == ',')
            out.emplace_back();
        else
            out.back() += *p;
    }
    return out;
}

TEST(CavlcTables, TotalZerosEqualTables97And99) {
    for (int tc = 1; tc <= 15; ++tc) {
        const std::vector<std::string> want = Split(kTable97[tc - 1]);
        ASSERT_EQ(static_cast<int>(want.size()), 17 - tc) << tc;
        for (size_t z = 0; z < want.size(); ++z)
            EXPECT_EQ(CodeBits(kTotalZeros[tc - 1][z]), want[z]) << "TotalCoeff " << tc << ", total_zeros " << z;
        for (size_t z = want.size(); z < 16; ++z)
            EXPECT_EQ(kTotalZeros[tc - 1][z].length, 0) << tc;
    }
    for (int tc = 1; tc <= 3; ++tc) {
        const std::vector<std::string> want = Split(kTable99a[tc - 1]);
        ASSERT_EQ(static_cast<int>(want.size()), 5 - tc) << tc;
        for (size_t z = 0; z < want.size(); ++z)
            EXPECT_EQ(CodeBits(kTotalZerosChromaDc[tc - 1][z]), want[z]) << "chroma DC " << tc << ", " << z;
    }
}

}  // namespace
}  // namespace common
