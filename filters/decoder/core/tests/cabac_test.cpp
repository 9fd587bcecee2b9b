// The CABAC engine against a literal rendering of ITU-T H.264 clause 9.3.1.2 and 9.3.3.2
// (nine-bit offset, one bit per renormalisation step), over random data and random mixes
// of context, bypass (single and in runs) and terminating bins; context initialisation
// by hand; the tables' shape; reads past the slice's data; I_PCM macroblocks of a CABAC slice written by an
// encoder that follows clause 9.3.4.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "filters/decoder/core/cabac.h"
#include "filters/decoder/core/decoder_context.h"
#include "tests/support/nal_builder.h"

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
            pState[i] = static_cast<int>(e.state[i]) >> 1;
            mps[i] = static_cast<int>(e.state[i]) & 1;
        }
        e.Start(data.data(), data.size(), start);
        ReferenceDecoder ref(data, start);
        bool terminated = false;
        for (int op = 0; op < 4000 && !terminated; ++op) {
            const uint32_t pick = rng() % 100;
            if (pick < 70) {
                const int ctx = static_cast<int>(rng() % 24);  // few contexts: their states adapt
                ASSERT_EQ(e.Decision(ctx), ref.Decision(&pState[ctx], &mps[ctx])) << "op " << op;
                ASSERT_EQ(static_cast<int>(e.state[ctx]), (pState[ctx] << 1) | mps[ctx]);
            } else if (pick < 93) {
                ASSERT_EQ(e.Bypass(), ref.Bypass()) << "op " << op;
            } else if (pick < 98) {
                const int count = static_cast<int>(rng() % (CabacDecoder::kMaxBypassRun + 1));
                uint32_t bins = 0;
                for (int i = 0; i < count; ++i)
                    bins = bins << 1 | static_cast<uint32_t>(ref.Bypass());
                ASSERT_EQ(e.BypassBits(count), bins) << "op " << op << ", " << count << " bins";
            } else {
                const int bin = e.Terminate();
                ASSERT_EQ(bin, ref.Terminate()) << "op " << op;
                terminated = bin == 1;
            }
            ASSERT_EQ(e.range, ref.range);
            ASSERT_EQ(e.Offset(), ref.offset);
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
    EXPECT_EQ(static_cast<int>(e.state[0]), 46 << 1);
    // ctxIdx 60 is (0, 41): 41 at every QP, pStateIdx 22, valMPS 0.
    EXPECT_EQ(static_cast<int>(e.state[60]), 22 << 1);
    // ctxIdx 6 is (-28, 127): at QP 0 preCtxState 127 clips to 126, pStateIdx 62 with MPS 1.
    e.InitContexts(false, 2, 0);
    EXPECT_EQ(static_cast<int>(e.state[6]), (62 << 1) | 1);
    // ctxIdx 11 in cabac_init_idc 1 is (22, 25): at QP 51 (22 * 51 >> 4) + 25 = 95,
    // pStateIdx 31 with MPS 1.
    e.InitContexts(false, 1, 51);
    EXPECT_EQ(static_cast<int>(e.state[11]), (31 << 1) | 1);
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
    EXPECT_EQ(e.Offset(), 0x14Au);  // 1010 0101 0
    // Bypass bins shift one bit each into the offset; against the reference they show
    // the rest of the second byte, then zeros.
    ReferenceDecoder ref(data, 0);
    for (int i = 0; i < 7 + 16; ++i) {
        ASSERT_EQ(e.Bypass(), ref.Bypass()) << i;
        ASSERT_EQ(e.Offset(), ref.offset) << i;
    }
    EXPECT_EQ(e.BitPosition(), 16u + 16u);
    EXPECT_FALSE(e.Overran());
    e.Bypass();
    EXPECT_TRUE(e.Overran());
    EXPECT_EQ(e.BitPosition(), 16u + 17u);
}

// The arithmetic encoder of clause 9.3.4 (InitEncoder, EncodeDecision, EncodeTerminate,
// EncodeFlush, PutBit), writing into a NAL unit under construction.
struct ReferenceEncoder {
    testsupport::NalBuilder* out;
    uint32_t low = 0, range = 510;
    int outstanding = 0;
    bool firstBit = true;

    void PutBit(int b) {
        if (firstBit)
            firstBit = false;
        else
            out->U(1, static_cast<uint64_t>(b));
        for (; outstanding > 0; --outstanding)
            out->U(1, static_cast<uint64_t>(1 - b));
    }
    void Renorm() {
        while (range < 256) {
            if (low < 256) {
                PutBit(0);
            } else if (low >= 512) {
                low -= 512;
                PutBit(1);
            } else {
                low -= 256;
                ++outstanding;
            }
            range <<= 1;
            low <<= 1;
        }
    }
    void Decision(CabacState* state, int bin) {
        int p = static_cast<int>(*state) >> 1, mps = static_cast<int>(*state) & 1;
        const uint32_t lps = kCabacRangeLps[p][(range >> 6) & 3];
        range -= lps;
        if (bin != mps) {
            low += range;
            range = lps;
            if (p == 0) mps = 1 - mps;
            p = kCabacTransIdxLps[p];
        } else {
            p = p < 62 ? p + 1 : 62;
        }
        *state = static_cast<CabacState>(p << 1 | mps);
        Renorm();
    }
    void Terminate(int bin) {
        range -= 2;
        if (bin == 0) {
            Renorm();
            return;
        }
        low += range;
        range = 2;  // EncodeFlush
        Renorm();
        PutBit((low >> 9) & 1);
        out->U(2, ((low >> 7) & 3) | 1);
    }
};

// A 32x32 Main-profile picture of four I_PCM macroblocks in one CABAC slice: each
// mb_type is a context bin and a terminating 1, the samples follow byte-aligned, and the
// engine restarts behind them for end_of_slice_flag and the next macroblock.
TEST(Cabac, PcmMacroblocksOfCabacSlices) {
    testsupport::NalBuilder sps(0x67);
    sps.U(8, 77).U(8, 0).U(8, 30).Ue(0).Ue(0).Ue(0).Ue(0).Ue(1).U(1, 0);
    sps.Ue(1).Ue(1).U(1, 1).U(1, 1).U(1, 0).U(1, 0);
    testsupport::NalBuilder pps(0x68);
    pps.Ue(0).Ue(0).U(1, 1).U(1, 0).Ue(0).Ue(0).Ue(0).U(1, 0).U(2, 0).Se(0).Se(0).Se(0).U(1, 1).U(1, 0).U(1, 0);
    testsupport::NalBuilder slice(0x65);
    // 26 header bits (slice_qp_delta 1: QP 27, deblocking off), then six
    // cabac_alignment_one_bits.
    slice.Ue(0).Ue(7).Ue(0).U(4, 0).Ue(0).U(4, 0).U(1, 0).U(1, 0).Se(1).Ue(1);
    slice.U(6, 0x3F);
    auto sample = [](int mb, int i) { return static_cast<uint8_t>((mb * 61 + i * 7) & 0xFF); };
    CabacEngine contexts{};
    contexts.InitContexts(true, 0, 27);
    ReferenceEncoder enc{&slice};
    const int mbTypeInc[4] = {0, 1, 1, 2};  // left and above neighbours that are not I_NxN
    for (int mb = 0; mb < 4; ++mb) {
        if (mb > 0) enc.Terminate(0);  // end_of_slice_flag of the previous macroblock
        enc.Decision(&contexts.state[3 + mbTypeInc[mb]], 1);
        enc.Terminate(1);  // I_PCM
        slice.Align();
        for (int i = 0; i < 384; ++i)
            slice.U(8, sample(mb, i));
        enc = ReferenceEncoder{&slice};
    }
    enc.Terminate(1);  // end_of_slice_flag; the flush's last bit is rbsp_stop_one_bit
    slice.Align();
    AvcDecoderContext* ctx = AvcDecoderCreate();
    int pictures = 0;
    for (const auto& nal : {sps.Nal(), pps.Nal(), slice.Nal()}) {
        size_t accepted = 0;
        AvcDecoderPushData(ctx, nal.data(), kNoTimeStamp, nal.size(), &accepted);
        for (int code = -1, guard = 0; code != kStepNeedData && guard < 100; ++guard)
            code = AvcDecoderDecodeNalUnit(ctx);
    }
    AvcDecoderEndOfStream(ctx);
    for (int code = kStepPictureReady, guard = 0; code == kStepPictureReady && guard < 100; ++guard) {
        code = AvcDecoderDecodeNalUnit(ctx);
        if (code != kStepPictureReady) continue;
        ++pictures;
        PictureInfo info{};
        ASSERT_EQ(AvcDecoderGetPictureInfo(ctx, ctx->readyPicture, &info), 0);
        EXPECT_EQ(info.damage, 0);
        int wrong = 0;
        for (int mb = 0; mb < 4; ++mb) {
            const int x0 = (mb & 1) * 16, y0 = (mb >> 1) * 16;
            for (int i = 0; i < 256; ++i)
                wrong += info.y[(y0 + i / 16) * info.pitch + x0 + i % 16] != sample(mb, i);
            for (int i = 0; i < 64; ++i) {
                const size_t at = static_cast<size_t>((y0 / 2 + i / 8) * info.pitch + x0 / 2 + i % 8);
                wrong += info.u[at] != sample(mb, 256 + i);
                wrong += info.v[at] != sample(mb, 320 + i);
            }
        }
        EXPECT_EQ(wrong, 0);
        AvcDecoderReleasePicture(ctx->readyPicture);
        ctx->readyPicture = nullptr;
    }
    EXPECT_EQ(pictures, 1);
    AvcDecoderDestroy(ctx);
}

}  // namespace
}  // namespace avcdec
