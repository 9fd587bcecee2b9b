#include "filters/decoder/core/cavlc_tables.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "common/bitstream/h264_cavlc_tables.h"

namespace avcdec {

namespace {

constexpr uint8_t Tok(int totalCoeff, int trailingOnes) {
    return static_cast<uint8_t>(totalCoeff | trailingOnes << 5);
}

struct BuiltTable {
    std::vector<uint16_t> entries;
    VlcTable view;
};

void AddCode(BuiltTable* t, const common::VlcCode& c, uint8_t value) {
    const int free = t->view.bits - c.length;
    const uint32_t first = uint32_t{c.code} << free;
    for (uint32_t k = 0; k < (1u << free); ++k)
        t->entries[first + k] = static_cast<uint16_t>(c.length << 8 | value);
}

BuiltTable* NewTable(int bits) {
    auto* t = new BuiltTable;
    t->entries.assign(size_t{1} << bits, 0);
    t->view.bits = bits;
    t->view.entries = t->entries.data();
    return t;
}

// A row of codes by value (length 0 where the value cannot occur).
template <size_t N>
BuiltTable* FromList(const common::VlcCode (&codes)[N]) {
    int bits = 0;
    for (const common::VlcCode& c : codes)
        bits = std::max(bits, int{c.length});
    BuiltTable* t = NewTable(bits);
    for (size_t i = 0; i < N; ++i)
        if (codes[i].length != 0) AddCode(t, codes[i], static_cast<uint8_t>(i));
    return t;
}

// coeff_token codes by TotalCoeff and TrailingOnes, for lookup by leading zeros.
LeadingZeroVlcTable* LzFromCodes(const common::VlcCode (&codes)[17][4]) {
    auto* t = new LeadingZeroVlcTable{};
    for (int total = 0; total < 17; ++total)
        for (int ones = 0; ones < 4; ++ones) {
            const common::VlcCode c = codes[total][ones];
            if (c.length == 0) continue;
            const int lz = std::countl_zero(static_cast<uint32_t>(c.code)) - (32 - c.length);
            const int tail = c.length - lz - 1;  // bits after the first one, 0..3
            const int bits = c.code & ((1 << tail) - 1);
            for (int k = 0; k < (1 << (3 - tail)); ++k)
                t->entries[lz][(bits << (3 - tail)) + k] = static_cast<uint16_t>(c.length << 8 | Tok(total, ones));
        }
    return t;
}

// The chroma DC coeff_token codes by TotalCoeff and TrailingOnes.
BuiltTable* FromTokens(const common::VlcCode (&codes)[5][4]) {
    int bits = 0;
    for (const auto& row : codes)
        for (const common::VlcCode& c : row)
            bits = std::max(bits, int{c.length});
    BuiltTable* t = NewTable(bits);
    for (int total = 0; total < 5; ++total)
        for (int ones = 0; ones < 4; ++ones)
            if (codes[total][ones].length != 0) AddCode(t, codes[total][ones], Tok(total, ones));
    return t;
}

struct AllTables {
    LeadingZeroVlcTable* coeffTokenLz[3];
    BuiltTable* coeffToken[5];  // only the fixed-length (3) and chroma DC (4) tables are built
    BuiltTable* totalZeros[16];
    BuiltTable* totalZerosChromaDc[4];
    BuiltTable* runBefore[8];

    AllTables() {
        coeffTokenLz[0] = LzFromCodes(common::kCoeffToken[0]);
        coeffTokenLz[1] = LzFromCodes(common::kCoeffToken[1]);
        coeffTokenLz[2] = LzFromCodes(common::kCoeffToken[2]);
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
        coeffToken[4] = FromTokens(common::kCoeffTokenChromaDc);
        totalZeros[0] = nullptr;
        for (int i = 0; i < 15; ++i)
            totalZeros[i + 1] = FromList(common::kTotalZeros[i]);
        totalZerosChromaDc[0] = nullptr;
        for (int i = 0; i < 3; ++i)
            totalZerosChromaDc[i + 1] = FromList(common::kTotalZerosChromaDc[i]);
        runBefore[0] = nullptr;
        for (int i = 0; i < 7; ++i)
            runBefore[i + 1] = FromList(common::kRunBefore[i]);
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
