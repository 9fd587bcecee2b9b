// CABAC arithmetic decoding engine (ITU-T H.264 clause 9.3.1.2 and 9.3.3.2) over the
// bytes of one slice's data. Reads past the payload see zero bits and are counted, never
// performed.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/bitstream/h264_cabac_tables.h"

namespace avcdec {

using common::CabacInitValues;
using common::kCabacContexts;
using common::kCabacRangeLps;
using common::kCabacTransIdxLps;

struct CabacEngine {
    const uint8_t* data;
    size_t size;
    size_t next;     // the next byte to enter the cache (may pass size: zeros then)
    uint64_t cache;  // unread bits, most significant first
    int cacheBits;
    uint32_t range;   // codIRange
    uint32_t offset;  // codIOffset
    // pStateIdx << 1 | valMPS of every context.
    uint8_t state[kCabacContexts];

    // Clause 9.3.1.1: every context's state from the slice's QP (0..51).
    void InitContexts(bool intraSlice, int cabacInitIdc, int sliceQp) {
        const int8_t(*mn)[2] = CabacInitValues(intraSlice, cabacInitIdc);
        for (int i = 0; i < kCabacContexts; ++i) {
            int pre = ((mn[i][0] * sliceQp) >> 4) + mn[i][1];
            pre = pre < 1 ? 1 : pre > 126 ? 126 : pre;
            state[i] = static_cast<uint8_t>(pre <= 63 ? (63 - pre) << 1 : ((pre - 64) << 1) | 1);
        }
    }

    // Clause 9.3.1.2: starts decoding at byte `at` of data.
    void Start(const uint8_t* bytes, size_t count, size_t at) {
        data = bytes;
        size = count;
        next = at;
        cache = 0;
        cacheBits = 0;
        range = 510;
        offset = Take(9);
    }

    // Bits consumed from data (zeros past the end included).
    uint64_t BitPosition() const { return static_cast<uint64_t>(next) * 8 - static_cast<uint64_t>(cacheBits); }
    // Whether decoding has gone more than `slack` bits past the payload: a misread.
    bool Overran(uint64_t slackBits = 16) const { return BitPosition() > static_cast<uint64_t>(size) * 8 + slackBits; }

    uint32_t Take(int n) {
        if (cacheBits < n) {
            while (cacheBits <= 56) {
                const uint64_t b = next < size ? data[next] : 0;
                ++next;
                cache |= b << (56 - cacheBits);
                cacheBits += 8;
            }
        }
        const auto v = static_cast<uint32_t>(cache >> (64 - n));
        cache <<= n;
        cacheBits -= n;
        return v;
    }

    // DecodeDecision (clause 9.3.3.2.1) with context ctxIdx.
    int Decision(int ctxIdx) {
        uint8_t& s = state[ctxIdx];
        const int p = s >> 1;
        int mps = s & 1;
        const uint32_t lps = kCabacRangeLps[p][(range >> 6) & 3];
        range -= lps;
        int bin;
        if (offset < range) {
            bin = mps;
            s = static_cast<uint8_t>(((p < 62 ? p + 1 : 62) << 1) | mps);
            if (range >= 256) return bin;
        } else {
            offset -= range;
            range = lps;
            bin = mps ^ 1;
            if (p == 0) mps ^= 1;
            s = static_cast<uint8_t>((kCabacTransIdxLps[p] << 1) | mps);
        }
        const int shift = std::countl_zero(range) - 23;  // range back to 9 bits
        range <<= shift;
        offset = (offset << shift) | Take(shift);
        return bin;
    }

    // DecodeBypass (clause 9.3.3.2.3).
    int Bypass() {
        offset = (offset << 1) | Take(1);
        if (offset >= range) {
            offset -= range;
            return 1;
        }
        return 0;
    }

    // DecodeTerminate (clause 9.3.3.2.2.3). After a 1 the engine has consumed every bit of
    // the arithmetic code, the final one included.
    int Terminate() {
        range -= 2;
        if (offset >= range) return 1;
        if (range < 256) {
            range <<= 1;
            offset = (offset << 1) | Take(1);
        }
        return 0;
    }
};

}  // namespace avcdec
