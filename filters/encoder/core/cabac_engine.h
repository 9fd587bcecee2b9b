// The CABAC arithmetic coder of the encoder (ITU-T H.264 clause 9.3.4): context states and
// their initialisation, binary arithmetic coding of decisions, bypass and terminating bins
// into a bounded byte array, and the adaptive choice of cabac_init_idc.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/bitstream/h264_cabac_tables.h"

namespace ombrisk {

using common::kCabacContexts;

// Every context state of a slice: pStateIdx << 1 | valMPS by ctxIdx, and how many
// decisions each context coded (the init-table choice weighs contexts by it).
struct CabacContexts {
    uint8_t state[kCabacContexts];
    uint32_t coded[kCabacContexts];

    // Clause 9.3.1.1 at the slice QP: the I table, or the table of cabac_init_idc 0..2.
    void Init(bool intraSlice, int cabacInitIdc, int sliceQp);
};

// The state after coding `bin` in state s = pStateIdx << 1 | valMPS (clause 9.3.4.2:
// transIdxMPS, transIdxLPS, and valMPS flipping on an LPS in state 0).
inline uint8_t CabacNextState(uint8_t s, int bin) {
    const int p = s >> 1, mps = s & 1;
    if (bin == mps) return static_cast<uint8_t>((p < 62 ? p + 1 : 62) << 1 | mps);
    return static_cast<uint8_t>(common::kCabacTransIdxLps[p] << 1 | (p == 0 ? mps ^ 1 : mps));
}

// The cost of coding `bin` in state s, in 1/256 bit: -log2 of the probability the state
// gives the bin (pLPS = 0.5 x ((0.01875 / 0.5)^(1/63))^pStateIdx, clause 9.3.1.1's model).
// An estimate of what the arithmetic coder spends, for rate-distortion decisions.
inline uint32_t CabacBitCost(uint8_t s, int bin) {
    static constexpr uint16_t kMps[64] = {256, 238, 221, 206, 192, 180, 168, 157, 148, 139, 130, 122, 115, 108, 102, 96,
                                          90,  85,  80,  76,  72,  68,  64,  60,  57,  54,  51,  48,  46,  43,  41,  39,
                                          37,  35,  33,  31,  29,  28,  26,  25,  24,  22,  21,  20,  19,  18,  17,  16,
                                          15,  15,  14,  13,  12,  12,  11,  11,  10,  10,  9,   9,   8,   8,   7,   7};
    static constexpr uint16_t kLps[64] = {256,  275,  294,  314,  333,  352,  371,  391,  410,  429,  448,  468,  487,
                                          506,  525,  545,  564,  583,  602,  622,  641,  660,  679,  699,  718,  737,
                                          756,  776,  795,  814,  833,  853,  872,  891,  910,  930,  949,  968,  987,
                                          1007, 1026, 1045, 1064, 1084, 1103, 1122, 1141, 1161, 1180, 1199, 1218, 1238,
                                          1257, 1276, 1295, 1315, 1334, 1353, 1372, 1392, 1411, 1430, 1449, 1469};
    return bin == (s & 1) ? kMps[s >> 1] : kLps[s >> 1];
}

// The arithmetic coder. Output goes into a caller's array with carry propagation done in
// place: bytes of value 0xFF wait until a later carry or non-0xFF byte settles them. Every
// store is bounded; a slice that does not fit sets the overflow flag and stores nothing
// beyond the capacity.
class CCabacEncoder {
public:
    void Attach(uint8_t* array, size_t capacity) {
        array_ = array;
        capacity_ = capacity;
        pos_ = 0;
        overflow_ = false;
        Start();
    }
    // Clause 9.3.1.2: low 0, range 510; the first bit the coder produces is not sent.
    void Start() {
        low_ = 0;
        range_ = 510;
        queue_ = -9;
        outstanding_ = 0;
    }

    // EncodeDecision (clause 9.3.4.2) of `bin` with context ctxIdx of `ctx`.
    void Decision(CabacContexts& ctx, int ctxIdx, int bin) {
        const uint8_t s = ctx.state[ctxIdx];
        const uint32_t lps = common::kCabacRangeLps[s >> 1][(range_ >> 6) & 3];
        range_ -= lps;
        if (bin != (s & 1)) {
            low_ += range_;
            range_ = lps;
        }
        ctx.state[ctxIdx] = CabacNextState(s, bin);
        ++ctx.coded[ctxIdx];
        ++bins_;
        if (range_ < 256) Renormalise();
    }

    // EncodeBypass (clause 9.3.4.4).
    void Bypass(int bin) {
        low_ <<= 1;
        if (bin) low_ += range_;
        ++bins_;
        if (++queue_ >= 0) PutByte();
    }

    // EncodeTerminate (clause 9.3.4.5). After a 1, Flush ends the arithmetic code.
    void Terminate(int bin) {
        range_ -= 2;
        ++bins_;
        if (bin) {
            low_ += range_;
            range_ = 2;
            Renormalise();
        } else if (range_ < 256) {
            Renormalise();
        }
    }

    // EncodeFlush (clause 9.3.4.6) after Terminate(1): the last bits of the code, the final
    // one a 1 (rbsp_stop_one_bit at the end of a slice), then zero bits to the byte
    // boundary (the alignment of the slice's trailing bits, or pcm_alignment_zero_bit).
    void Flush();

    // Whole bytes at a byte boundary (I_PCM samples after Flush).
    void PutBytes(const uint8_t* bytes, size_t count);

    // The code bytes so far (complete after Flush).
    const uint8_t* data() const { return array_; }
    size_t size() const { return pos_; }
    bool overflowed() const { return overflow_; }
    // Bits the code holds so far, including bits still undecided: exact up to a constant.
    uint64_t BitCount() const { return (uint64_t(pos_) + outstanding_) * 8 + uint64_t(queue_ + 9); }
    // Bins coded since ResetBins (decisions, bypass and terminating bins).
    uint64_t bins() const { return bins_; }
    void ResetBins() { bins_ = 0; }

private:
    void Renormalise() {
        const int shift = std::countl_zero(range_) - 23;  // range back to 9 bits
        range_ <<= shift;
        low_ <<= shift;
        queue_ += shift;
        if (queue_ >= 0) PutByte();
    }
    void PutByte();
    void Store(uint8_t byte) {
        if (pos_ < capacity_)
            array_[pos_++] = byte;
        else
            overflow_ = true;
    }

    uint8_t* array_ = nullptr;
    size_t capacity_ = 0;
    size_t pos_ = 0;
    bool overflow_ = false;
    // low_ holds the 10-bit coding window (bits 0-9) and, above it, queue_ + 8 bits that
    // have left the window but are not yet stored (the first byte's carry slot is the bit
    // the standard's first PutBit suppresses).
    uint32_t low_ = 0;
    uint32_t range_ = 510;
    int queue_ = -9;
    uint32_t outstanding_ = 0;  // 0xFF bytes not yet stored
    uint64_t bins_ = 0;
};

// The adaptive choice of cabac_init_idc for P and B slices: the table whose initial states
// come closest to the states the previous slice of the same type ended with, weighted by
// how much each context was used. Integer arithmetic only, so every build makes the same
// choice.
class CCabacInitChooser {
public:
    // cabac_init_idc for the next slice of this type: 0 for I slices, when not adaptive,
    // or before any slice of the type was remembered.
    int Choose(int32_t sliceType, bool adaptive) const;
    // Remembers the best table for the end states of a slice of `sliceType` coded at `qp`.
    void Remember(const CabacContexts& ctx, int32_t sliceType, int qp);
    // The table cost of end states against cabac_init_idc `idc` (-1: the I table), in
    // units of 2^-5 x 10^-12 bits; smaller is closer.
    static int64_t Cost(const CabacContexts& ctx, int idc, int qp);

private:
    int chosen_[3] = {-1, -1, -1};  // by slice type code I, P, B; -1 before any slice
};

}  // namespace ombrisk
