#include "filters/decoder/core/cavlc_tables.h"

#include <bit>
#include <cstring>
#include <vector>

namespace avcdec {

namespace {

struct Code {
    const char* bits;  // the code, most significant bit first
    uint8_t value;
};

constexpr uint8_t Tok(int totalCoeff, int trailingOnes) {
    return static_cast<uint8_t>(totalCoeff | trailingOnes << 5);
}

// Table 9-5, 0 <= nC < 2.
const Code kCoeffToken0[] = {
    {"1", Tok(0, 0)},
    {"000101", Tok(1, 0)},
    {"01", Tok(1, 1)},
    {"00000111", Tok(2, 0)},
    {"000100", Tok(2, 1)},
    {"001", Tok(2, 2)},
    {"000000111", Tok(3, 0)},
    {"00000110", Tok(3, 1)},
    {"0000101", Tok(3, 2)},
    {"00011", Tok(3, 3)},
    {"0000000111", Tok(4, 0)},
    {"000000110", Tok(4, 1)},
    {"00000101", Tok(4, 2)},
    {"000011", Tok(4, 3)},
    {"00000000111", Tok(5, 0)},
    {"0000000110", Tok(5, 1)},
    {"000000101", Tok(5, 2)},
    {"0000100", Tok(5, 3)},
    {"0000000001111", Tok(6, 0)},
    {"00000000110", Tok(6, 1)},
    {"0000000101", Tok(6, 2)},
    {"00000100", Tok(6, 3)},
    {"0000000001011", Tok(7, 0)},
    {"0000000001110", Tok(7, 1)},
    {"00000000101", Tok(7, 2)},
    {"000000100", Tok(7, 3)},
    {"0000000001000", Tok(8, 0)},
    {"0000000001010", Tok(8, 1)},
    {"0000000001101", Tok(8, 2)},
    {"0000000100", Tok(8, 3)},
    {"00000000001111", Tok(9, 0)},
    {"00000000001110", Tok(9, 1)},
    {"0000000001001", Tok(9, 2)},
    {"00000000100", Tok(9, 3)},
    {"00000000001011", Tok(10, 0)},
    {"00000000001010", Tok(10, 1)},
    {"00000000001101", Tok(10, 2)},
    {"0000000001100", Tok(10, 3)},
    {"000000000001111", Tok(11, 0)},
    {"000000000001110", Tok(11, 1)},
    {"00000000001001", Tok(11, 2)},
    {"00000000001100", Tok(11, 3)},
    {"000000000001011", Tok(12, 0)},
    {"000000000001010", Tok(12, 1)},
    {"000000000001101", Tok(12, 2)},
    {"00000000001000", Tok(12, 3)},
    {"0000000000001111", Tok(13, 0)},
    {"000000000000001", Tok(13, 1)},
    {"000000000001001", Tok(13, 2)},
    {"000000000001100", Tok(13, 3)},
    {"0000000000001011", Tok(14, 0)},
    {"0000000000001110", Tok(14, 1)},
    {"0000000000001101", Tok(14, 2)},
    {"000000000001000", Tok(14, 3)},
    {"0000000000000111", Tok(15, 0)},
    {"0000000000001010", Tok(15, 1)},
    {"0000000000001001", Tok(15, 2)},
    {"0000000000001100", Tok(15, 3)},
    {"0000000000000100", Tok(16, 0)},
    {"0000000000000110", Tok(16, 1)},
    {"0000000000000101", Tok(16, 2)},
    {"0000000000001000", Tok(16, 3)},
};

// Table 9-5, 2 <= nC < 4.
const Code kCoeffToken2[] = {
    {"11", Tok(0, 0)},
    {"001011", Tok(1, 0)},
    {"10", Tok(1, 1)},
    {"000111", Tok(2, 0)},
    {"00111", Tok(2, 1)},
    {"011", Tok(2, 2)},
    {"0000111", Tok(3, 0)},
    {"001010", Tok(3, 1)},
    {"001001", Tok(3, 2)},
    {"0101", Tok(3, 3)},
    {"00000111", Tok(4, 0)},
    {"000110", Tok(4, 1)},
    {"000101", Tok(4, 2)},
    {"0100", Tok(4, 3)},
    {"00000100", Tok(5, 0)},
    {"0000110", Tok(5, 1)},
    {"0000101", Tok(5, 2)},
    {"00110", Tok(5, 3)},
    {"000000111", Tok(6, 0)},
    {"00000110", Tok(6, 1)},
    {"00000101", Tok(6, 2)},
    {"001000", Tok(6, 3)},
    {"00000001111", Tok(7, 0)},
    {"000000110", Tok(7, 1)},
    {"000000101", Tok(7, 2)},
    {"000100", Tok(7, 3)},
    {"00000001011", Tok(8, 0)},
    {"00000001110", Tok(8, 1)},
    {"00000001101", Tok(8, 2)},
    {"0000100", Tok(8, 3)},
    {"000000001111", Tok(9, 0)},
    {"00000001010", Tok(9, 1)},
    {"00000001001", Tok(9, 2)},
    {"000000100", Tok(9, 3)},
    {"000000001011", Tok(10, 0)},
    {"000000001110", Tok(10, 1)},
    {"000000001101", Tok(10, 2)},
    {"00000001100", Tok(10, 3)},
    {"000000001000", Tok(11, 0)},
    {"000000001010", Tok(11, 1)},
    {"000000001001", Tok(11, 2)},
    {"00000001000", Tok(11, 3)},
    {"0000000001111", Tok(12, 0)},
    {"0000000001110", Tok(12, 1)},
    {"0000000001101", Tok(12, 2)},
    {"000000001100", Tok(12, 3)},
    {"0000000001011", Tok(13, 0)},
    {"0000000001010", Tok(13, 1)},
    {"0000000001001", Tok(13, 2)},
    {"0000000001100", Tok(13, 3)},
    {"0000000000111", Tok(14, 0)},
    {"00000000001011", Tok(14, 1)},
    {"0000000000110", Tok(14, 2)},
    {"0000000001000", Tok(14, 3)},
    {"00000000001001", Tok(15, 0)},
    {"00000000001000", Tok(15, 1)},
    {"00000000001010", Tok(15, 2)},
    {"0000000000001", Tok(15, 3)},
    {"00000000000111", Tok(16, 0)},
    {"00000000000110", Tok(16, 1)},
    {"00000000000101", Tok(16, 2)},
    {"00000000000100", Tok(16, 3)},
};

// Table 9-5, 4 <= nC < 8.
const Code kCoeffToken4[] = {
    {"1111", Tok(0, 0)},        {"001111", Tok(1, 0)},      {"1110", Tok(1, 1)},        {"001011", Tok(2, 0)},
    {"01111", Tok(2, 1)},       {"1101", Tok(2, 2)},        {"001000", Tok(3, 0)},      {"01100", Tok(3, 1)},
    {"01110", Tok(3, 2)},       {"1100", Tok(3, 3)},        {"0001111", Tok(4, 0)},     {"01010", Tok(4, 1)},
    {"01011", Tok(4, 2)},       {"1011", Tok(4, 3)},        {"0001011", Tok(5, 0)},     {"01000", Tok(5, 1)},
    {"01001", Tok(5, 2)},       {"1010", Tok(5, 3)},        {"0001001", Tok(6, 0)},     {"001110", Tok(6, 1)},
    {"001101", Tok(6, 2)},      {"1001", Tok(6, 3)},        {"0001000", Tok(7, 0)},     {"001010", Tok(7, 1)},
    {"001001", Tok(7, 2)},      {"1000", Tok(7, 3)},        {"00001111", Tok(8, 0)},    {"0001110", Tok(8, 1)},
    {"0001101", Tok(8, 2)},     {"01101", Tok(8, 3)},       {"00001011", Tok(9, 0)},    {"00001110", Tok(9, 1)},
    {"0001010", Tok(9, 2)},     {"001100", Tok(9, 3)},      {"000001111", Tok(10, 0)},  {"00001010", Tok(10, 1)},
    {"00001101", Tok(10, 2)},   {"0001100", Tok(10, 3)},    {"000001011", Tok(11, 0)},  {"000001110", Tok(11, 1)},
    {"00001001", Tok(11, 2)},   {"00001100", Tok(11, 3)},   {"000001000", Tok(12, 0)},  {"000001010", Tok(12, 1)},
    {"000001101", Tok(12, 2)},  {"00001000", Tok(12, 3)},   {"0000001101", Tok(13, 0)}, {"000000111", Tok(13, 1)},
    {"000001001", Tok(13, 2)},  {"000001100", Tok(13, 3)},  {"0000001001", Tok(14, 0)}, {"0000001100", Tok(14, 1)},
    {"0000001011", Tok(14, 2)}, {"0000001010", Tok(14, 3)}, {"0000000101", Tok(15, 0)}, {"0000001000", Tok(15, 1)},
    {"0000000111", Tok(15, 2)}, {"0000000110", Tok(15, 3)}, {"0000000001", Tok(16, 0)}, {"0000000100", Tok(16, 1)},
    {"0000000011", Tok(16, 2)}, {"0000000010", Tok(16, 3)},
};

// Table 9-5, nC = -1 (chroma DC, 4:2:0).
const Code kCoeffTokenChromaDc[] = {
    {"01", Tok(0, 0)},       {"000111", Tok(1, 0)},  {"1", Tok(1, 1)},      {"000100", Tok(2, 0)},
    {"000110", Tok(2, 1)},   {"001", Tok(2, 2)},     {"000011", Tok(3, 0)}, {"0000011", Tok(3, 1)},
    {"0000010", Tok(3, 2)},  {"000101", Tok(3, 3)},  {"000010", Tok(4, 0)}, {"00000011", Tok(4, 1)},
    {"00000010", Tok(4, 2)}, {"0000000", Tok(4, 3)},
};

// Tables 9-7 and 9-8: total_zeros by TotalCoeff 1..15, codes for total_zeros 0, 1, ...
const char* const kTotalZeros[15][16] = {
    {"1", "011", "010", "0011", "0010", "00011", "00010", "000011", "000010", "0000011", "0000010", "00000011",
     "00000010", "000000011", "000000010", "000000001"},
    {"111", "110", "101", "100", "011", "0101", "0100", "0011", "0010", "00011", "00010", "000011", "000010", "000001",
     "000000"},
    {"0101", "111", "110", "101", "0100", "0011", "100", "011", "0010", "00011", "00010", "000001", "00001", "000000"},
    {"00011", "111", "0101", "0100", "110", "101", "100", "0011", "011", "0010", "00010", "00001", "00000"},
    {"0101", "0100", "0011", "111", "110", "101", "100", "011", "0010", "00001", "0001", "00000"},
    {"000001", "00001", "111", "110", "101", "100", "011", "010", "0001", "001", "000000"},
    {"000001", "00001", "101", "100", "011", "11", "010", "0001", "001", "000000"},
    {"000001", "0001", "00001", "011", "11", "10", "010", "001", "000000"},
    {"000001", "000000", "0001", "11", "10", "001", "01", "00001"},
    {"00001", "00000", "001", "11", "10", "01", "0001"},
    {"0000", "0001", "001", "010", "1", "011"},
    {"0000", "0001", "01", "1", "001"},
    {"000", "001", "1", "01"},
    {"00", "01", "1"},
    {"0", "1"},
};

// Table 9-9 (a): chroma DC total_zeros by TotalCoeff 1..3.
const char* const kTotalZerosChromaDc[3][4] = {
    {"1", "01", "001", "000"},
    {"1", "01", "00"},
    {"1", "0"},
};

// Table 9-10: run_before by zerosLeft 1..6 and above 6, codes for run_before 0, 1, ...
const char* const kRunBefore[7][15] = {
    {"1", "0"},
    {"1", "01", "00"},
    {"11", "10", "01", "00"},
    {"11", "10", "01", "001", "000"},
    {"11", "10", "011", "010", "001", "000"},
    {"11", "000", "001", "011", "010", "101", "100"},
    {"111", "110", "101", "100", "011", "010", "001", "0001", "00001", "000001", "0000001", "00000001", "000000001",
     "0000000001", "00000000001"},
};

struct BuiltTable {
    std::vector<uint16_t> entries;
    VlcTable view;
};

void AddCode(BuiltTable* t, const char* bits, uint8_t value) {
    const int len = static_cast<int>(std::strlen(bits));
    uint32_t code = 0;
    for (int i = 0; i < len; ++i)
        code = code << 1 | static_cast<uint32_t>(bits[i] - '0');
    const int free = t->view.bits - len;
    const uint32_t first = code << free;
    for (uint32_t k = 0; k < (1u << free); ++k)
        t->entries[first + k] = static_cast<uint16_t>(len << 8 | value);
}

BuiltTable* NewTable(int bits) {
    auto* t = new BuiltTable;
    t->entries.assign(size_t{1} << bits, 0);
    t->view.bits = bits;
    t->view.entries = t->entries.data();
    return t;
}

int MaxLength(const char* const* codes, int n) {
    int m = 0;
    for (int i = 0; i < n; ++i) {
        if (codes[i] != nullptr) m = std::max(m, static_cast<int>(std::strlen(codes[i])));
    }
    return m;
}

template <size_t N>
BuiltTable* FromCodes(const Code (&codes)[N]) {
    int bits = 0;
    for (const Code& c : codes)
        bits = std::max(bits, static_cast<int>(std::strlen(c.bits)));
    BuiltTable* t = NewTable(bits);
    for (const Code& c : codes)
        AddCode(t, c.bits, c.value);
    return t;
}

template <size_t N>
BuiltTable* FromList(const char* const (&codes)[N]) {
    BuiltTable* t = NewTable(MaxLength(codes, static_cast<int>(N)));
    for (size_t i = 0; i < N; ++i) {
        if (codes[i] != nullptr) AddCode(t, codes[i], static_cast<uint8_t>(i));
    }
    return t;
}

template <size_t N>
LeadingZeroVlcTable* LzFromCodes(const Code (&codes)[N]) {
    auto* t = new LeadingZeroVlcTable{};
    for (const Code& c : codes) {
        const int len = static_cast<int>(std::strlen(c.bits));
        const int lz = static_cast<int>(std::strchr(c.bits, '1') - c.bits);
        const int tail = len - lz - 1;  // bits after the first one, 0..3
        int bits = 0;
        for (int i = lz + 1; i < len; ++i)
            bits = bits << 1 | (c.bits[i] - '0');
        for (int k = 0; k < (1 << (3 - tail)); ++k)
            t->entries[lz][(bits << (3 - tail)) + k] = static_cast<uint16_t>(len << 8 | c.value);
    }
    return t;
}

struct AllTables {
    LeadingZeroVlcTable* coeffTokenLz[3];
    BuiltTable* coeffToken[5];  // only the fixed-length (3) and chroma DC (4) tables are built
    BuiltTable* totalZeros[16];
    BuiltTable* totalZerosChromaDc[4];
    BuiltTable* runBefore[8];

    AllTables() {
        coeffTokenLz[0] = LzFromCodes(kCoeffToken0);
        coeffTokenLz[1] = LzFromCodes(kCoeffToken2);
        coeffTokenLz[2] = LzFromCodes(kCoeffToken4);
        // nC >= 8: a 6-bit fixed-length code, xxxxyy = TotalCoeff - 1 and TrailingOnes,
        // except 000011 for TotalCoeff 0.
        coeffToken[3] = NewTable(6);
        for (uint32_t v = 0; v < 64; ++v) {
            const int total = static_cast<int>(v >> 2) + 1;
            const int ones = static_cast<int>(v & 3);
            if (v == 3)
                coeffToken[3]->entries[v] = static_cast<uint16_t>(6 << 8 | Tok(0, 0));
            else if (ones < total || (ones <= total && total <= 3))
                coeffToken[3]->entries[v] = static_cast<uint16_t>(6 << 8 | Tok(total, ones));
        }
        coeffToken[4] = FromCodes(kCoeffTokenChromaDc);
        totalZeros[0] = nullptr;
        for (int i = 0; i < 15; ++i)
            totalZeros[i + 1] = FromList(kTotalZeros[i]);
        totalZerosChromaDc[0] = nullptr;
        for (int i = 0; i < 3; ++i)
            totalZerosChromaDc[i + 1] = FromList(kTotalZerosChromaDc[i]);
        runBefore[0] = nullptr;
        for (int i = 0; i < 7; ++i)
            runBefore[i + 1] = FromList(kRunBefore[i]);
    }
};

const AllTables& Tables() {
    static const AllTables tables;
    return tables;
}

}  // namespace

const CavlcTableSet& CavlcTables() {
    static const CavlcTableSet set = [] {
        const AllTables& t = Tables();
        CavlcTableSet s{};
        for (int i = 0; i < 3; ++i)
            s.coeffTokenLz[i] = t.coeffTokenLz[i];
        s.coeffTokenFixed = t.coeffToken[3]->view;
        s.coeffTokenChromaDc = t.coeffToken[4]->view;
        for (int i = 1; i < 16; ++i)
            s.totalZeros[i] = t.totalZeros[i]->view;
        for (int i = 1; i < 4; ++i)
            s.totalZerosChromaDc[i] = t.totalZerosChromaDc[i]->view;
        for (int i = 1; i < 8; ++i)
            s.runBefore[i] = t.runBefore[i]->view;
        for (int zerosLeft = 1; zerosLeft < 16; ++zerosLeft) {
            const VlcTable& v = s.runBefore[zerosLeft < 7 ? zerosLeft : 7];
            for (uint32_t next = 0; next < 8; ++next) {
                // From zerosLeft 7 on, by the first three bits; codes longer than that are 0.
                const uint16_t e = v.bits <= 3 ? v.entries[next >> (3 - v.bits)] : v.entries[next << (v.bits - 3)];
                const int length = e >> 8;
                s.runBeforeShort[zerosLeft][next] = length > 3 ? 0 : static_cast<uint8_t>(length << 4 | (e & 0xF));
            }
        }
        for (int biased = 0; biased < 2; ++biased) {
            for (int suffixLength = 0; suffixLength < 7; ++suffixLength) {
                for (uint32_t next = 0; next < 256; ++next) {
                    const int prefix = std::countl_zero(static_cast<uint8_t>(next));
                    const int length = prefix + 1 + suffixLength;
                    if (prefix >= 8 || length > 8) continue;
                    const int suffix = static_cast<int>((next << (prefix + 1) & 0xFF) >> (8 - suffixLength));
                    const int code = (prefix << suffixLength) + suffix + 2 * biased;
                    const int magnitude = (code + 2) >> 1;
                    const int level = (code & 1) ? -magnitude : magnitude;
                    int nextLength = suffixLength == 0 ? 1 : suffixLength;
                    if (magnitude > (3 << (nextLength - 1)) && nextLength < 6) ++nextLength;
                    s.levelShort[biased][suffixLength][next] =
                        static_cast<uint16_t>(static_cast<uint8_t>(level) << 8 | nextLength << 4 | length);
                }
            }
        }
        return s;
    }();
    return set;
}

}  // namespace avcdec
