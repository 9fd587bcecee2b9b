// The CABAC arithmetic coder against a bit-by-bit decoder written from ITU-T H.264 clause
// 9.3.3.2 (not the decoder core's engine), on random bin sequences; context
// initialisation; and the adaptive cabac_init_idc choice.
#include "filters/encoder/core/cabac_engine.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "filters/encoder/core/mb_syntax.h"

namespace ombrisk {
namespace {

// Clause 9.3.1.2 and 9.3.3.2, one bit at a time; bits past the end read as 0.
class ReferenceDecoder {
public:
    ReferenceDecoder(const std::vector<uint8_t>& bytes, size_t startByte) : bytes_(bytes), bit_(startByte * 8) {
        Init();
    }
    void Init() {
        range_ = 510;
        offset_ = 0;
        for (int i = 0; i < 9; ++i)
            offset_ = offset_ << 1 | ReadBit();
    }
    int Decision(uint8_t& state) {
        int p = state >> 1, mps = state & 1;
        const uint32_t lps = common::kCabacRangeLps[p][(range_ >> 6) & 3];
        range_ -= lps;
        int bin;
        if (offset_ >= range_) {
            bin = 1 - mps;
            offset_ -= range_;
            range_ = lps;
            if (p == 0) mps = 1 - mps;
            p = common::kCabacTransIdxLps[p];
        } else {
            bin = mps;
            p = std::min(p + 1, 62);
        }
        state = static_cast<uint8_t>(p << 1 | mps);
        Renormalise();
        return bin;
    }
    int Bypass() {
        offset_ = offset_ << 1 | ReadBit();
        if (offset_ >= range_) {
            offset_ -= range_;
            return 1;
        }
        return 0;
    }
    int Terminate() {
        range_ -= 2;
        if (offset_ >= range_) return 1;
        Renormalise();
        return 0;
    }
    size_t bitPosition() const { return bit_; }

private:
    void Renormalise() {
        while (range_ < 256) {
            range_ <<= 1;
            offset_ = offset_ << 1 | ReadBit();
        }
    }
    uint32_t ReadBit() {
        const size_t i = bit_++;
        return i / 8 < bytes_.size() ? (bytes_[i / 8] >> (7 - i % 8)) & 1 : 0;
    }
    const std::vector<uint8_t>& bytes_;
    size_t bit_;
    uint32_t range_ = 510, offset_ = 0;
};

enum OpKind { kOpDecision, kOpBypass, kOpTerminate };
struct Op {
    OpKind kind;
    int ctx;
    int bin;
};

// Random operations: decisions on 8 contexts whose bins follow each context's own skew
// (from nearly always 0 to nearly always 1, which makes long runs of undecided bits and of
// 0xFF bytes), runs of bypass bins and terminating bins of 0.
std::vector<Op> RandomOps(uint32_t seed, int count) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0, 1);
    static constexpr double kOneProbability[8] = {0.001, 0.02, 0.2, 0.5, 0.5, 0.8, 0.98, 0.999};
    std::vector<Op> ops;
    while (int(ops.size()) < count) {
        const double r = u(rng);
        if (r < 0.8) {
            const int ctx = int(rng() % 8);
            ops.push_back({kOpDecision, ctx, u(rng) < kOneProbability[ctx] ? 1 : 0});
        } else if (r < 0.97) {
            for (int n = int(rng() % 20); n > 0; --n)
                ops.push_back({kOpBypass, 0, int(rng() & 1)});
        } else {
            ops.push_back({kOpTerminate, 0, 0});
        }
    }
    return ops;
}

void EncodeOps(CCabacEncoder& enc, CabacContexts& ctx, const std::vector<Op>& ops) {
    for (const Op& op : ops) {
        if (op.kind == kOpDecision)
            enc.Decision(ctx, 100 + op.ctx, op.bin);
        else if (op.kind == kOpBypass)
            enc.Bypass(op.bin);
        else
            enc.Terminate(0);
    }
}

void ExpectDecodes(ReferenceDecoder& dec, const std::vector<Op>& ops, uint8_t* states) {
    for (size_t i = 0; i < ops.size(); ++i) {
        const Op& op = ops[i];
        const int bin = op.kind == kOpDecision ? dec.Decision(states[op.ctx])
                        : op.kind == kOpBypass ? dec.Bypass()
                                               : dec.Terminate();
        ASSERT_EQ(bin, op.bin) << "bin " << i;
    }
}

TEST(CabacEngine, RandomBinSequencesDecode) {
    for (uint32_t seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
        SCOPED_TRACE(seed);
        const std::vector<Op> ops = RandomOps(seed, 4000 + 3000 * int(seed));
        std::vector<uint8_t> code(64 * 1024);
        CCabacEncoder enc;
        enc.Attach(code.data(), code.size());
        CabacContexts ctx;
        ctx.Init(seed & 1, int(seed % 3), int(seed * 8));
        uint8_t states[8];
        std::copy(ctx.state + 100, ctx.state + 108, states);
        EncodeOps(enc, ctx, ops);
        enc.Terminate(1);
        enc.Flush();
        ASSERT_FALSE(enc.overflowed());
        EXPECT_EQ(enc.bins(), ops.size() + 1);
        code.resize(enc.size());
        ReferenceDecoder dec(code, 0);
        ExpectDecodes(dec, ops, states);
        ASSERT_EQ(dec.Terminate(), 1);
        // The decoder's last bit is the stop bit 1; only alignment zeros follow it.
        const size_t last = dec.bitPosition() - 1;
        ASSERT_LT(last / 8, code.size());
        EXPECT_EQ((code[last / 8] >> (7 - last % 8)) & 1, 1);
        EXPECT_EQ((last / 8) + 1, code.size());
        EXPECT_EQ(code.back() & ((1u << (7 - last % 8)) - 1), 0u);
    }
}

// I_PCM: the code ends, raw bytes follow at the byte boundary, the coder starts again.
// The bit prices that rate-distortion decisions add up come close to what the coder spends
// on the same bins: skewed and even decisions, bypass runs, several initial tables.
TEST(CabacEngine, BitCostsAddUpToTheCodeSize) {
    for (uint32_t seed : {7u, 8u, 9u}) {
        SCOPED_TRACE(seed);
        const std::vector<Op> ops = RandomOps(seed, 30000);
        std::vector<uint8_t> code(64 * 1024);
        CCabacEncoder enc;
        enc.Attach(code.data(), code.size());
        CabacContexts ctx;
        ctx.Init(seed & 1, int(seed % 3), int(seed * 5));
        uint8_t states[8];
        std::copy(ctx.state + 100, ctx.state + 108, states);
        uint64_t cost = 0;  // 1/256 bit
        for (const Op& op : ops) {
            if (op.kind == kOpDecision) {
                cost += CabacBitCost(states[op.ctx], op.bin);
                states[op.ctx] = CabacNextState(states[op.ctx], op.bin);
            } else if (op.kind == kOpBypass) {
                cost += 256;
            }
        }
        EncodeOps(enc, ctx, ops);
        const double estimate = double(cost) / 256, spent = double(enc.BitCount());
        EXPECT_NEAR(estimate, spent, 0.01 * spent);
    }
}

TEST(CabacEngine, RestartsBehindRawBytes) {
    const std::vector<Op> first = RandomOps(11, 3000), second = RandomOps(12, 3000);
    const std::vector<uint8_t> raw = {0xFF, 0xFF, 0x00, 0x00, 0x01, 0x80, 0xFF, 0x7F};
    std::vector<uint8_t> code(32 * 1024);
    CCabacEncoder enc;
    enc.Attach(code.data(), code.size());
    CabacContexts ctx;
    ctx.Init(false, 1, 30);
    uint8_t states[8];
    std::copy(ctx.state + 100, ctx.state + 108, states);
    EncodeOps(enc, ctx, first);
    enc.Terminate(1);
    enc.Flush();
    enc.PutBytes(raw.data(), raw.size());
    enc.Start();
    EncodeOps(enc, ctx, second);
    enc.Terminate(1);
    enc.Flush();
    ASSERT_FALSE(enc.overflowed());
    code.resize(enc.size());

    ReferenceDecoder dec(code, 0);
    ExpectDecodes(dec, first, states);
    ASSERT_EQ(dec.Terminate(), 1);
    const size_t rawStart = (dec.bitPosition() + 7) / 8;
    ASSERT_LE(rawStart + raw.size(), code.size());
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), code.begin() + std::ptrdiff_t(rawStart)));
    ReferenceDecoder rest(code, rawStart + raw.size());
    ExpectDecodes(rest, second, states);
    EXPECT_EQ(rest.Terminate(), 1);
}

TEST(CabacEngine, NeverWritesPastItsCapacity) {
    std::vector<uint8_t> code(64, 0xA5);
    CCabacEncoder enc;
    enc.Attach(code.data(), 16);
    CabacContexts ctx;
    ctx.Init(true, 0, 26);
    EncodeOps(enc, ctx, RandomOps(7, 5000));
    enc.Terminate(1);
    enc.Flush();
    EXPECT_TRUE(enc.overflowed());
    EXPECT_LE(enc.size(), 16u);
    for (size_t i = 16; i < code.size(); ++i)
        ASSERT_EQ(code[i], 0xA5) << i;
}

TEST(CabacEngine, InitialisationClipsThePreState) {
    CabacContexts ctx;
    ctx.Init(true, 0, 0);
    // ctxIdx 0 (20, -15): preCtxState -15 clips to 1: pStateIdx 62, valMPS 0.
    EXPECT_EQ(ctx.state[0], 62 << 1);
    // ctxIdx 73 (-17, 127): 127 clips to 126: pStateIdx 62, valMPS 1.
    EXPECT_EQ(ctx.state[73], 62 << 1 | 1);
    // At QP 51 ctxIdx 0 gives ((20 x 51) >> 4) - 15 = 48: pStateIdx 15, valMPS 0.
    ctx.Init(true, 0, 51);
    EXPECT_EQ(ctx.state[0], 15 << 1);
    EXPECT_EQ(ctx.coded[0], 0u);
}

// Contexts that end a slice where a table starts make that table the next choice.
TEST(CabacEngine, InitIdcFollowsTheEndStates) {
    for (int idc = 0; idc < 3; ++idc) {
        SCOPED_TRACE(idc);
        CCabacInitChooser chooser;
        EXPECT_EQ(chooser.Choose(kSliceP, true), 0);
        CabacContexts ctx;
        ctx.Init(false, idc, 30);
        std::fill(ctx.coded, ctx.coded + kCabacContexts, 40u);
        chooser.Remember(ctx, kSliceP, 30);
        EXPECT_EQ(chooser.Choose(kSliceP, true), idc);
        EXPECT_EQ(chooser.Choose(kSliceP, false), 0);
        EXPECT_EQ(chooser.Choose(kSliceB, true), 0);
        EXPECT_EQ(chooser.Choose(kSliceI, true), 0);
        // Unused contexts weigh nothing.
        std::fill(ctx.coded, ctx.coded + kCabacContexts, 0u);
        EXPECT_EQ(CCabacInitChooser::Cost(ctx, (idc + 1) % 3, 30), 0);
    }
}

}  // namespace
}  // namespace ombrisk
