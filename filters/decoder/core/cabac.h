// CABAC arithmetic decoding engine (ITU-T H.264 clause 9.3.1.2 and 9.3.3.2) over the
// bytes of one slice's data. Reads past the payload see zero bits and are counted, never
// performed.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/bitstream/h264_cabac_tables.h"

namespace avcdec {

using common::CabacFastTables;
using common::CabacInitValues;
using common::kCabacContexts;
using common::kCabacFast;
using common::kCabacRangeLps;
using common::kCabacTransIdxLps;

// A context's state, pStateIdx << 1 | valMPS. Its own type rather than a byte, so that
// stores to states cannot alias the engine's registers (a byte may alias anything, which
// would make the compiler store and reload the registers around every bin).
enum class CabacState : uint8_t {};

// The arithmetic decoder's registers. codIOffset sits at a fixed place in `low` (bits
// kOffsetShift and up), followed by `lookahead` bits of the slice that are read but not
// yet consumed: a bin compares and subtracts with constant shifts, renormalisation moves
// the bits up, and the bytes come in four at a time.
struct CabacDecoder {
    const uint8_t* data;
    size_t size;
    size_t next;   // the next byte to enter `low` (may pass size: zeros then)
    uint64_t low;  // codIOffset << kOffsetShift | the lookahead bits below it
    int lookahead;
    uint32_t range;  // codIRange

    // codIOffset < codIRange < 2^9 takes bits 54..62, so the renormalised offset never
    // reaches bit 63; a refill at up to 22 bits of lookahead keeps its 32 bits below it.
    static constexpr int kOffsetShift = 54;
    // Lookahead kept before each bin: a decision consumes at most 6 bits (rangeTabLPS
    // is at least 6), a bypass or terminating bin 1.
    static constexpr int kMinLookahead = 8;

    // Clause 9.3.1.2: starts decoding at byte `at` of data.
    void Start(const uint8_t* bytes, size_t count, size_t at) {
        data = bytes;
        size = count;
        next = at;
        low = 0;
        lookahead = 0;
        range = 510;
        Refill();
        low <<= 9;  // the first nine bits are codIOffset
        lookahead -= 9;
    }

    // codIOffset.
    uint32_t Offset() const { return static_cast<uint32_t>(low >> kOffsetShift); }
    // Bits consumed from data (zeros past the end included).
    uint64_t BitPosition() const { return static_cast<uint64_t>(next) * 8 - static_cast<uint64_t>(lookahead); }
    // Whether decoding has gone more than `slack` bits past the payload: a misread.
    bool Overran(uint64_t slackBits = 16) const { return BitPosition() > static_cast<uint64_t>(size) * 8 + slackBits; }

    // Appends the next 32 bits of the slice (zeros past its end) to the lookahead, which
    // holds at most 22 bits here.
    void Refill() {
        uint32_t word = 0;
        if (next < size && size - next >= 4) {
            const uint8_t* p = data + next;
            word = static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                   static_cast<uint32_t>(p[2]) << 8 | p[3];
        } else {
            for (size_t i = 0; i < 4; ++i)
                word = word << 8 | (next + i < size ? data[next + i] : 0u);
        }
        next += 4;
        low |= static_cast<uint64_t>(word) << (kOffsetShift - 32 - lookahead);
        lookahead += 32;
    }

    // DecodeDecision (clause 9.3.3.2.1) with the context state at ctx, without branches
    // on the bin's value (the selections compile to conditional moves).
    int Decision(CabacState* ctx) {
        int s = static_cast<int>(*ctx);
        const uint32_t lps = kCabacFast.lps[((range & 0xC0) << 1) | static_cast<uint32_t>(s)];
        range -= lps;
        const uint64_t scaled = static_cast<uint64_t>(range) << kOffsetShift;
        const bool isLps = low >= scaled;
        low = isLps ? low - scaled : low;
        range = isLps ? lps : range;
        s ^= -static_cast<int>(isLps);
        *ctx = static_cast<CabacState>(kCabacFast.next[128 + s]);
        const int shift = kCabacFast.renorm[range >> 3];
        range <<= shift;
        low <<= shift;
        lookahead -= shift;
        if (lookahead < kMinLookahead) Refill();
        return s & 1;
    }

    // DecodeBypass (clause 9.3.3.2.3).
    int Bypass() {
        low <<= 1;
        --lookahead;
        const uint64_t scaled = static_cast<uint64_t>(range) << kOffsetShift;
        const int bin = low >= scaled;
        low -= scaled & (0 - static_cast<uint64_t>(bin));
        if (lookahead < kMinLookahead) Refill();
        return bin;
    }

    // `count` (0..kMaxBypassRun) bypass bins as a number, the first bin its most
    // significant bit: one refill test for the run.
    static constexpr int kMaxBypassRun = 16;
    uint32_t BypassBits(int count) {
        if (lookahead < count) Refill();
        uint64_t rest = low;
        const uint64_t scaled = static_cast<uint64_t>(range) << kOffsetShift;
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            rest <<= 1;
            const uint64_t bin = rest >= scaled;
            rest -= scaled & (0 - bin);
            value = value << 1 | static_cast<uint32_t>(bin);
        }
        low = rest;
        lookahead -= count;
        if (lookahead < kMinLookahead) Refill();
        return value;
    }

    // DecodeTerminate (clause 9.3.3.2.2.3). After a 1 the engine has consumed every bit of
    // the arithmetic code, the final one included.
    int Terminate() {
        range -= 2;
        if (low >= static_cast<uint64_t>(range) << kOffsetShift) return 1;
        if (range < 256) {
            range <<= 1;
            low <<= 1;
            if (--lookahead < kMinLookahead) Refill();
        }
        return 0;
    }
};

struct CabacEngine : CabacDecoder {
    CabacState state[kCabacContexts];

    // Clause 9.3.1.1: every context's state from the slice's QP (0..51).
    void InitContexts(bool intraSlice, int cabacInitIdc, int sliceQp) {
        const int8_t(*mn)[2] = CabacInitValues(intraSlice, cabacInitIdc);
        for (int i = 0; i < kCabacContexts; ++i) {
            int pre = ((mn[i][0] * sliceQp) >> 4) + mn[i][1];
            pre = pre < 1 ? 1 : pre > 126 ? 126 : pre;
            state[i] = static_cast<CabacState>(pre <= 63 ? (63 - pre) << 1 : ((pre - 64) << 1) | 1);
        }
    }

    using CabacDecoder::Decision;
    int Decision(int ctxIdx) { return Decision(&state[ctxIdx]); }
};

}  // namespace avcdec
