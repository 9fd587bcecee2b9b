// The CABAC engine against a literal rendering of ITU-T H.264 clause 9.3.1.2 and 9.3.3.2
// (nine-bit offset, one bit per renormalisation step), over random data and random mixes
// of context, bypass and terminating bins; context initialisation by hand; the tables'
// shape; reads past the slice's data.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "filters/decoder/core/cabac.h"

namespace avcdec {
namespace {

struct ReferenceDecoder {
    const std::vector<uint8_t>& bytes;
    uint64_t bitPos = 0;
    uint32_t range = 510;
    uint32_t offset = 0;

    explicit ReferenceDecoder(const std::vector<uint8_t>& b, size_t startByte) : bytes(b), bitPos(8 * startByte) {
        for (int i = 0; i < 9; ++i)
            offset = (offset << 1) | ReadBit();
    }
    uint32_t ReadBit() {
        const uint64_t byte = bitPos / 8;
        const uint32_t bit = byte < bytes.size() ? (bytes[byte] >> (7 - bitPos % 8)) & 1u : 0u;
        ++bitPos;
        return bit;
    }
    void Renorm() {
        while (range < 256) {
            range <<= 1;
            offset = (offset << 1) | ReadBit();
        }
    }
    int Decision(int* pStateIdx, int* valMps) {
        const uint32_t lps = kCabacRangeLps[*pStateIdx][(range >> 6) & 3];
        range -= lps;
        int bin;
        if (offset >= range) {
            bin = 1 - *valMps;
            offset -= range;
            range = lps;
            if (*pStateIdx == 0) *valMps = 1 - *valMps;
            *pStateIdx = kCabacTransIdxLps[*pStateIdx];
        } else {
            bin = *valMps;
            *pStateIdx = *pStateIdx < 62 ? *pStateIdx + 1 : 62;
        }
        Renorm();
        return bin;
    }
    int Bypass() {
        offset = (offset << 1) | ReadBit();
        if (offset >= range) {
            offset -= range;
            return 1;
        }
        return 0;
    }
    int Terminate() {
        range -= 2;
        if (offset >= range) return 1;
        Renorm();
        return 0;
    }
};

TEST(Cabac, EngineEqualsTheStandardsFlowcharts) {
    std::mt19937 rng(1234);
    for (int run = 0; run < 200; ++run) {
        SCOPED_TRACE(run);
        std::vector<uint8_t> data(64 + rng() % 256);
        for (auto& b : data)
            b = static_cast<uint8_t>(rng());
        // Mostly skewed data, as real slices are, sometimes uniform noise.
        if (run % 3 != 0)
            for (auto& b : data)
                b &= static_cast<uint8_t>(rng());
        const size_t start = rng() % 4;
        CabacEngine e{};
        e.InitContexts(run % 2 == 0, static_cast<int>(rng() % 3), static_cast<int>(rng() % 52));
        int pState[kCabacContexts], mps[kCabacContexts];
        for (int i = 0; i < kCabacContexts; ++i) {
            pState[i] = e.state[i] >> 1;
            mps[i] = e.state[i] & 1;
        }
        e.Start(data.data(), data.size(), start);
        ReferenceDecoder ref(data, start);
        bool terminated = false;
        for (int op = 0; op < 4000 && !terminated; ++op) {
            const uint32_t pick = rng() % 100;
            if (pick < 70) {
                const int ctx = static_cast<int>(rng() % 24);  // few contexts: their states adapt
                ASSERT_EQ(e.Decision(ctx), ref.Decision(&pState[ctx], &mps[ctx])) << "op " << op;
                ASSERT_EQ(e.state[ctx], (pState[ctx] << 1) | mps[ctx]);
            } else if (pick < 98) {
                ASSERT_EQ(e.Bypass(), ref.Bypass()) << "op " << op;
            } else {
                const int bin = e.Terminate();
                ASSERT_EQ(bin, ref.Terminate()) << "op " << op;
                terminated = bin == 1;
            }
            ASSERT_EQ(e.range, ref.range);
            ASSERT_EQ(e.offset, ref.offset);
        }
        // The bits consumed agree, which is where I_PCM samples and the slice end lie.
        EXPECT_EQ(e.BitPosition(), ref.bitPos);
    }
}

TEST(Cabac, ContextInitialisationFollowsTheFormula) {
    CabacEngine e{};
    // ctxIdx 0 is (20, -15) in every table: preCtxState = ((20 * 26) >> 4) - 15 = 17, so
    // pStateIdx 46 with valMPS 0.
    e.InitContexts(true, 0, 26);
    EXPECT_EQ(e.state[0], 46 << 1);
    // ctxIdx 60 is (0, 41): 41 at every QP, pStateIdx 22, valMPS 0.
    EXPECT_EQ(e.state[60], 22 << 1);
    // ctxIdx 6 is (-28, 127): at QP 0 preCtxState 127 clips to 126, pStateIdx 62 with MPS 1.
    e.InitContexts(false, 2, 0);
    EXPECT_EQ(e.state[6], (62 << 1) | 1);
    // ctxIdx 11 in cabac_init_idc 1 is (22, 25): at QP 51 (22 * 51 >> 4) + 25 = 95,
    // pStateIdx 31 with MPS 1.
    e.InitContexts(false, 1, 51);
    EXPECT_EQ(e.state[11], (31 << 1) | 1);
    // The three P/B tables differ where the standard's do.
    const auto* t0 = CabacInitValues(false, 0);
    const auto* t1 = CabacInitValues(false, 1);
    const auto* t2 = CabacInitValues(false, 2);
    EXPECT_EQ(t0[11][0], 23);
    EXPECT_EQ(t1[11][0], 22);
    EXPECT_EQ(t2[11][0], 29);
    EXPECT_EQ(t2[398][0], 25);
    EXPECT_EQ(t2[398][1], 61);
}

// Table 9-44 falls with pStateIdx and rises with qCodIRangeIdx; Table 9-45 never moves up
// by more than the MPS transition would.
TEST(Cabac, StateTablesHaveTheStandardsShape) {
    for (int p = 0; p < 63; ++p) {
        for (int q = 0; q < 4; ++q) {
            EXPECT_GE(kCabacRangeLps[p][q], kCabacRangeLps[p + 1][q]) << p << "," << q;
            if (q > 0) {
                EXPECT_GE(kCabacRangeLps[p][q], kCabacRangeLps[p][q - 1]);
            }
            EXPECT_GE(kCabacRangeLps[p][q], 6);
        }
        EXPECT_LE(kCabacTransIdxLps[p], p);
        if (p > 0) {
            EXPECT_GE(kCabacTransIdxLps[p], kCabacTransIdxLps[p - 1]);
        }
    }
    EXPECT_EQ(kCabacRangeLps[0][3], 240);
    EXPECT_EQ(kCabacRangeLps[62][0], 6);
    EXPECT_EQ(kCabacTransIdxLps[62], 38);
    EXPECT_EQ(kCabacTransIdxLps[63], 63);
}

// Past the slice's data the engine reads zero bits and touches no memory (the buffer here
// is exactly the data, so ASan would see a read past it), and says when it has run more
// than the allowed slack beyond the end.
TEST(Cabac, ReadsPastTheDataAreZerosAndCounted) {
    const std::vector<uint8_t> data = {0xA5, 0x0F};
    CabacEngine e{};
    e.Start(data.data(), data.size(), 0);
    EXPECT_EQ(e.offset, 0x14Au);  // 1010 0101 0
    uint32_t tail = 0;
    for (int i = 0; i < 7; ++i)
        tail = (tail << 1) | e.Take(1);
    EXPECT_EQ(tail, 0x0Fu);  // the rest of the second byte
    EXPECT_FALSE(e.Overran());
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(e.Take(1), 0u);
    EXPECT_FALSE(e.Overran());
    EXPECT_EQ(e.Take(1), 0u);
    EXPECT_TRUE(e.Overran());
    EXPECT_EQ(e.BitPosition(), 16u + 17u);
}

}  // namespace
}  // namespace avcdec
