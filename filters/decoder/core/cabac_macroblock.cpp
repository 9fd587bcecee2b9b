// CABAC macroblock layer (ITU-T H.264 clauses 7.3.5 and 9.3): context index increments
// from the neighbouring macroblocks, the binarisations of every syntax element of frame
// macroblocks, and the slice-data loop of CABAC slices.
#include <algorithm>
#include <cstring>

#include "common/bitstream/bit_reader.h"
#include "filters/decoder/core/cabac.h"
#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/decoder_result.h"
#include "filters/decoder/core/dequant.h"
#include "filters/decoder/core/picture_store.h"
#include "filters/decoder/core/slice_decoding.h"
#include "filters/decoder/core/slice_header.h"

namespace avcdec {

namespace {

// ctxIdxOffset plus ctxIdxBlockCatOffset of the residual syntax elements by ctxBlockCat
// (Tables 9-34 and 9-40): coded_block_flag, significant_coeff_flag,
// last_significant_coeff_flag and coeff_abs_level_minus1.
constexpr int kCbfBase[5] = {85, 89, 93, 97, 101};
constexpr int kSigBase[5] = {105, 120, 134, 149, 152};
constexpr int kLastBase[5] = {166, 181, 195, 210, 213};
constexpr int kAbsBase[5] = {227, 237, 247, 257, 266};

enum BlockCat { kCatLumaDc = 0, kCatLumaAc = 1, kCatLuma4x4 = 2, kCatChromaDc = 3, kCatChromaAc = 4 };

// The largest |mvd| and coefficient level kept (16 bits, as the records store them).
constexpr int kMaxMagnitude = 32767;

struct CabacSlice {
    AvcDecoderContext* ctx;
    MacroblockWork* w;
    CabacEngine e;
    int32_t lastQpDelta;  // mb_qp_delta of the slice's previous macroblock; 0 when it had none
    bool intraSlice;
    bool bSlice;
    // Field macroblocks read significant_coeff_flag and last_significant_coeff_flag with
    // the contexts 172 on (ctxIdxOffset 277 and 338, Table 9-34); else 0.
    int fieldOffset;
    // LevelScale4x4 << (qP / 6) by row-major position for QPY, QP'Cb and QP'Cr of the
    // running QP (flat matrices: every 4x4 level is dequantised as level * factor).
    int32_t dequant[3][16];
};

void UpdateDequant(CabacSlice& cs) {
    const int qps[3] = {cs.w->qp, cs.w->qpc[0], cs.w->qpc[1]};
    for (int c = 0; c < 3; ++c)
        for (int p = 0; p < 16; ++p)
            cs.dequant[c][p] = kLevelScale4x4.v[qps[c] % 6][p] << (qps[c] / 6);
}

inline int Quadrant(int blk) {
    return (blk >> 3) * 2 + ((blk & 3) >> 1);
}

// The macroblock and raster index of the 4x4 block left of / above block (bx, by) of the
// current macroblock; null when unavailable.
const MacroblockInfo* LeftOf(const MacroblockWork* w, int bx, int by, int* blk) {
    if (bx > 0) {
        *blk = 4 * by + bx - 1;
        return w->cur;
    }
    int row = by;
    const MacroblockInfo* n = LeftLuma(w, by, &row);
    *blk = 4 * row + 3;
    return n;
}

const MacroblockInfo* Above(const MacroblockWork* w, int bx, int by, int* blk) {
    if (by > 0) {
        *blk = 4 * (by - 1) + bx;
        return w->cur;
    }
    *blk = 12 + bx;
    return w->mbB;
}

// ctxIdxInc of the first bin of coeff_abs_level_minus1 (clause 9.3.3.1.3) and of its
// further bins (less 5) by the state of the level loop: states 0..3 while no level above
// 1 was read (state k: k levels of 1 so far, capped at 3), then 4 and on by the number of
// levels above 1 (capped at 7). Then the state after a level of 1 and after a larger one.
constexpr uint8_t kAbsFirstInc[8] = {1, 2, 3, 4, 0, 0, 0, 0};
constexpr uint8_t kAbsRestInc[2][8] = {{0, 0, 0, 0, 1, 2, 3, 4}, {0, 0, 0, 0, 1, 2, 3, 3}};  // [chroma DC]
constexpr uint8_t kAbsAfterOne[8] = {1, 2, 3, 3, 4, 5, 6, 7};
constexpr uint8_t kAbsAfterMore[8] = {4, 4, 4, 4, 5, 6, 7, 7};

// Unsigned Exp-Golomb suffix of order k in bypass bins (clause 9.3.2.3) as bypass runs:
// the unary prefix without a refill test per bin (at most 17 bins; a refill below 17 bits
// of lookahead leaves at least 40), then the k-bit tail in one run. At most 2^16 and
// more; -1 beyond.
[[gnu::always_inline]] inline int ReadExpGolombBypass(CabacDecoder& e, int k) {
    if (e.lookahead < 17) e.Refill();
    const uint64_t scaled = static_cast<uint64_t>(e.range) << CabacDecoder::kOffsetShift;
    uint64_t rest = e.low;
    int value = 0;
    for (;;) {
        rest <<= 1;
        --e.lookahead;
        if (rest < scaled) break;
        rest -= scaled;
        value += 1 << k;
        if (++k > 16) {
            e.low = rest;
            return -1;
        }
    }
    e.low = rest;
    return value + static_cast<int>(e.BypassBits(k));
}

// residual_block_cabac (clauses 7.3.5.3.3 and 9.3.3.1.3) after a coded_block_flag of 1:
// the significance map, then the levels from the last coefficient back, each stored as it
// is read: a 4x4 block takes the level dequantised (dequant by raster position) at the
// raster position the scan gives (scan offset by the block's first scan position); a DC
// block (scan and dequant null) takes the plain levels in scan order for its transform.
// Returns the count of coefficients, or -1 for a level beyond 16 bits. One instance per
// ctxBlockCat, so that the context bases and the block size are constants.
template <int kCat>
int ReadCoefficients(CabacDecoder& engine, CabacState* states, int16_t* block, const uint8_t* scan,
                     const int32_t* dequant, int fieldOffset) {
    constexpr int kMaxNumCoeff = kCat == kCatLumaDc || kCat == kCatLuma4x4 ? 16 : kCat == kCatChromaDc ? 4 : 15;
    constexpr bool kDc = kCat == kCatLumaDc || kCat == kCatChromaDc;
    // The registers in a local copy, written back at the end, so that they stay in
    // registers across the bins of the block.
    CabacDecoder e = engine;
    CabacState* sig = &states[kSigBase[kCat] + fieldOffset];
    CabacState* last = &states[kLastBase[kCat] + fieldOffset];
    uint8_t pos[16];  // scan positions of the coefficients, ascending
    int n = 0;
    constexpr int final = kMaxNumCoeff - 1;
    // ctxIdxInc of both flags is the scan position (chroma DC: Min(i, 2), which is i for
    // its positions 0..2).
    int i = 0;
    for (; i < final; ++i) {
        if (e.Decision(sig + i)) {
            pos[n++] = static_cast<uint8_t>(i);
            if (e.Decision(last + i)) break;
        }
    }
    if (i == final) pos[n++] = static_cast<uint8_t>(final);
    CabacState* abs = &states[kAbsBase[kCat]];
    CabacState* greater = abs + 5;
    const uint8_t* restInc = kAbsRestInc[kCat == kCatChromaDc ? 1 : 0];
    int node = 0;
    for (int k = n - 1; k >= 0; --k) {
        int value = 1;  // coeff_abs_level_minus1 + 1
        if (!e.Decision(abs + kAbsFirstInc[node])) {
            node = kAbsAfterOne[node];
        } else {
            CabacState* ctx = greater + restInc[node];
            int prefix = 1;
            while (prefix < 14 && e.Decision(ctx))
                ++prefix;
            value = prefix + 1;
            if (prefix == 14) {
                const int suffix = ReadExpGolombBypass(e, 0);
                if (suffix < 0 || value + suffix > kMaxMagnitude) {
                    engine = e;
                    return -1;
                }
                value += suffix;
            }
            node = kAbsAfterMore[node];
        }
        const int level = e.Bypass() ? -value : value;
        if constexpr (kDc) {
            block[pos[k]] = static_cast<int16_t>(level);
        } else {
            const int p = scan[pos[k]];
            block[p] = static_cast<int16_t>(level * dequant[p]);
        }
    }
    engine = e;
    return n;
}

// coded_block_flag condition of a block of a neighbour (clause 9.3.3.1.1.9): an
// unavailable neighbour counts as coded for an intra macroblock only.
inline int CodedCondition(const MacroblockInfo* n, bool coded, bool intraCurrent) {
    return n == nullptr ? (intraCurrent ? 1 : 0) : (coded ? 1 : 0);
}

// The residual with the engine's registers in `e`, a local copy of the caller's: inlined
// there, they stay in registers across the blocks of the macroblock.
[[gnu::always_inline]] inline int ReadResidualBlocks(CabacSlice& cs, CabacDecoder& e, bool intra16x16) {
    CabacState* states = cs.e.state;
    MacroblockWork* w = cs.w;
    MacroblockInfo* mb = w->cur;
    const int cbp = mb->codedBlockPattern;
    const bool intra = (mb->flags & kMbIntra) != 0;
    ClearCoefficients(w);
    alignas(16) int16_t levels[16];
    if (intra16x16) {
        const int inc = CodedCondition(w->mbA, w->mbA != nullptr && (w->mbA->codedDc & 1), intra) +
                        2 * CodedCondition(w->mbB, w->mbB != nullptr && (w->mbB->codedDc & 1), intra);
        std::memset(levels, 0, sizeof levels);
        if (e.Decision(&states[kCbfBase[kCatLumaDc] + inc])) {
            if (ReadCoefficients<kCatLumaDc>(e, states, levels, nullptr, nullptr, cs.fieldOffset) < 0)
                return kDecoderOutOfRange;
            mb->codedDc |= 1;
        }
        TransformLumaDc(w, levels, w->qp);
    }
    const int cat = intra16x16 ? kCatLumaAc : kCatLuma4x4;
    const uint8_t* const scan = w->scan + (intra16x16 ? 1 : 0);
    const int32_t* const dequant = cs.dequant[0];
    if ((cbp & 15) != 0) {
        // coded_block_flag of the luma blocks on a 5x5 grid of bits, (x + 1) + 5 * (y + 1) for
        // the 4x4 block at (x, y): the neighbours' blocks left of and above the macroblock in
        // column and row -1, the current macroblock's set as they are read. A block's
        // conditions are then the bits one and five places below its own.
        const int absent = intra ? 1 : 0;
        uint32_t grid = 0;
        const MacroblockInfo* left = w->mbA;
        for (int y = 0; y < 4; ++y) {
            int row = y;
            if (w->mbaff) left = LeftLuma(w, y, &row);
            const uint32_t coded = left != nullptr ? left->totalCoeff[4 * row + 3] != 0 : absent;
            grid |= coded << (5 * (y + 1));
        }
        for (int x = 0; x < 4; ++x) {
            const uint32_t coded = w->mbB != nullptr ? w->mbB->totalCoeff[12 + x] != 0 : absent;
            grid |= coded << (x + 1);
        }
        CabacState* cbfLuma = &states[kCbfBase[cat]];
        for (int blk = 0; blk < 16; ++blk) {
            if ((cbp & (1 << (blk / 4))) == 0) {
                blk |= 3;
                continue;
            }
            const int x = kLuma4x4BlkX[blk], y = kLuma4x4BlkY[blk];
            const int at = x + 1 + 5 * (y + 1);
            const int inc = static_cast<int>((grid >> (at - 1)) & 1) + 2 * static_cast<int>((grid >> (at - 5)) & 1);
            if (!e.Decision(cbfLuma + inc)) continue;
            const int r = 4 * y + x;
            int16_t* const block = w->coeffs[r];
            const int n = intra16x16 ? ReadCoefficients<kCatLumaAc>(e, states, block, scan, dequant, cs.fieldOffset)
                                     : ReadCoefficients<kCatLuma4x4>(e, states, block, scan, dequant, cs.fieldOffset);
            // Set before the error test: a refused block may hold some of its levels, and
            // the next macroblock clears the blocks marked here.
            w->nonZero |= 1u << r;
            if (n < 0) return kDecoderOutOfRange;
            grid |= 1u << at;
            mb->totalCoeff[r] = static_cast<uint8_t>(n);
            // A lone coefficient at scan position 0 lands on raster position 0, the DC (a DC
            // that wrapped to 0 in 16 bits adds nothing either way).
            if (intra16x16 || n > 1 || block[0] == 0) w->acNonZero |= 1u << r;
        }
    }
    const int cbpChroma = cbp >> 4;
    if (cbpChroma != 0) {
        for (int plane = 0; plane < 2; ++plane) {
            const int bit = 2 << plane;
            const int inc = CodedCondition(w->mbA, w->mbA != nullptr && (w->mbA->codedDc & bit), intra) +
                            2 * CodedCondition(w->mbB, w->mbB != nullptr && (w->mbB->codedDc & bit), intra);
            if (!e.Decision(&states[kCbfBase[kCatChromaDc] + inc])) continue;
            std::memset(levels, 0, 4 * sizeof levels[0]);
            if (ReadCoefficients<kCatChromaDc>(e, states, levels, nullptr, nullptr, cs.fieldOffset) < 0)
                return kDecoderOutOfRange;
            mb->codedDc |= static_cast<uint8_t>(bit);
            TransformChromaDc(w, plane, levels, w->qpc[plane]);
        }
    }
    if (cbpChroma == 2) {
        CabacState* cbfChroma = &states[kCbfBase[kCatChromaAc]];
        for (int plane = 0; plane < 2; ++plane) {
            const int base = 16 + 4 * plane;
            const int32_t* const chromaDequant = cs.dequant[1 + plane];
            for (int k = 0; k < 4; ++k) {
                const int x = k & 1, y = k >> 1;
                int row = y;
                const MacroblockInfo* a = x > 0 ? mb : LeftChroma(w, y, &row);
                const MacroblockInfo* b = y > 0 ? mb : w->mbB;
                const int ia = base + (x > 0 ? 2 * y : 2 * row + 1), ib = base + (y > 0 ? x : 2 + x);
                const int inc = CodedCondition(a, a != nullptr && a->totalCoeff[ia] != 0, intra) +
                                2 * CodedCondition(b, b != nullptr && b->totalCoeff[ib] != 0, intra);
                if (!e.Decision(cbfChroma + inc)) continue;
                const int n = ReadCoefficients<kCatChromaAc>(e, states, w->coeffs[base + k], w->scan + 1, chromaDequant,
                                                             cs.fieldOffset);
                w->nonZero |= 1u << (base + k);  // before the error test, as for luma
                if (n < 0) return kDecoderOutOfRange;
                mb->totalCoeff[base + k] = static_cast<uint8_t>(n);
                w->acNonZero |= 1u << (base + k);
            }
        }
    }
    return kDecoderOk;
}

int ReadResidual(CabacSlice& cs, bool intra16x16) {
    CabacDecoder e = cs.e;
    const int result = ReadResidualBlocks(cs, e, intra16x16);
    static_cast<CabacDecoder&>(cs.e) = e;
    return result;
}

// coded_block_pattern (clause 9.3.2.6 and 9.3.3.1.1.4).
int ReadCodedBlockPattern(CabacSlice& cs) {
    const MacroblockWork* w = cs.w;
    int luma = 0;
    for (int b8 = 0; b8 < 4; ++b8) {
        // The 8x8 blocks left of and above b8, and whether they are coded.
        int condA, condB;
        if (b8 & 1) {
            condA = ((luma >> (b8 - 1)) & 1) == 0;
        } else {
            int row = b8;  // the 4x4 block row of the 8x8 block's first line
            const MacroblockInfo* n = LeftLuma(w, b8, &row);
            condA = n != nullptr && ((n->codedBlockPattern >> (2 * (row >> 1) + 1)) & 1) == 0;
        }
        if (b8 & 2)
            condB = ((luma >> (b8 - 2)) & 1) == 0;
        else
            condB = w->mbB != nullptr && ((w->mbB->codedBlockPattern >> (b8 + 2)) & 1) == 0;
        luma |= cs.e.Decision(73 + condA + 2 * condB) << b8;
    }
    auto chromaCond = [](const MacroblockInfo* n, int bin) {
        return n != nullptr && (n->codedBlockPattern >> 4) > bin ? 1 : 0;
    };
    int chroma = 0;
    if (cs.e.Decision(77 + chromaCond(w->mbA, 0) + 2 * chromaCond(w->mbB, 0)))
        chroma = 1 + cs.e.Decision(81 + chromaCond(w->mbA, 1) + 2 * chromaCond(w->mbB, 1));
    return luma | chroma << 4;
}

// mb_qp_delta (clause 9.3.3.1.1.5, unary with the mapping of Table 9-3) and the QP update.
int ReadQpDelta(CabacSlice& cs) {
    CabacEngine& e = cs.e;
    int k = 0;
    if (e.Decision(60 + (cs.lastQpDelta != 0 ? 1 : 0))) {
        k = 1;
        while (e.Decision(k == 1 ? 62 : 63)) {
            // mb_qp_delta lies within -26..25: k at most 52.
            if (++k > 52) return kDecoderOutOfRange;
        }
    }
    const int32_t delta = (k & 1) ? (k + 1) / 2 : -(k / 2);
    if (delta < -26 || delta > 25) return kDecoderOutOfRange;
    cs.lastQpDelta = delta;
    MacroblockWork* w = cs.w;
    w->qp = (w->qp + delta + 52) % 52;
    const int32_t offset = w->cur->chromaQpIndexOffset;
    w->qpc[0] = w->qpc[1] = ChromaQp(std::clamp(w->qp + offset, 0, 51));
    w->cur->qp = static_cast<int8_t>(w->qp);
    if (delta != 0) UpdateDequant(cs);
    return kDecoderOk;
}

// The macroblock's coded_block_pattern in place, then mb_qp_delta and the residual.
int ReadQpAndResidual(CabacSlice& cs, bool intra16x16) {
    MacroblockInfo* mb = cs.w->cur;
    if (mb->codedBlockPattern == 0 && !intra16x16) {
        cs.lastQpDelta = 0;
        ClearCoefficients(cs.w);
        return kDecoderOk;
    }
    const int result = ReadQpDelta(cs);
    if (result != kDecoderOk) return result;
    return ReadResidual(cs, intra16x16);
}

// mb_type of an intra macroblock in I numbering (Table 9-36): in I slices with the prefix
// context chosen by the neighbours (base 3), in P and B slices as a suffix (base 17 or 32).
int ReadIntraType(CabacSlice& cs, int base, bool intraSlice) {
    CabacEngine& e = cs.e;
    const MacroblockWork* w = cs.w;
    int first = base;
    if (intraSlice) {
        first +=
            (w->mbA != nullptr && w->mbA->kind != kMbIntra4x4) + (w->mbB != nullptr && w->mbB->kind != kMbIntra4x4);
    }
    if (!e.Decision(first)) return 0;
    if (e.Terminate()) return 25;
    const int lumaCtx = intraSlice ? base + 3 : base + 1;
    const int chromaCtx = intraSlice ? base + 4 : base + 2;
    const int chroma2Ctx = intraSlice ? base + 5 : base + 2;
    const int luma = e.Decision(lumaCtx);
    int chroma = 0;
    if (e.Decision(chromaCtx)) chroma = 1 + e.Decision(chroma2Ctx);
    const int predCtx0 = intraSlice ? base + 6 : base + 3;
    const int predCtx1 = intraSlice ? base + 7 : base + 3;
    const int pred = e.Decision(predCtx0) << 1;
    return 1 + (pred | e.Decision(predCtx1)) + 4 * chroma + 12 * luma;
}

int ReadIntraMacroblock(CabacSlice& cs, int32_t mbType) {
    CabacEngine& e = cs.e;
    MacroblockWork* w = cs.w;
    MacroblockInfo* mb = w->cur;
    mb->flags |= kMbIntra;
    if (mbType == 25) {
        // I_PCM: the arithmetic code ends with the terminating bin; the samples follow at the
        // next byte boundary and the engine starts again behind them (clause 9.3.1.2).
        mb->kind = kMbIPcm;
        mb->flags |= kMbPcm;
        mb->qp = 0;
        mb->codedBlockPattern = 0x2F;
        mb->codedDc = 7;
        std::memset(mb->totalCoeff, 16, sizeof mb->totalCoeff);
        const uint64_t byte = (e.BitPosition() + 7) / 8;
        if (byte > e.size || e.size - byte < 384) return kDecoderOutOfRange;
        std::memcpy(w->pcm, e.data + byte, 384);
        e.Start(e.data, e.size, static_cast<size_t>(byte) + 384);
        cs.lastQpDelta = 0;
        return kDecoderOk;
    }
    const bool intra16x16 = mbType != 0;
    if (!intra16x16) {
        mb->kind = kMbIntra4x4;
        const int mapWidth = 4 * cs.ctx->picWidthInMbs + 2;
        int8_t* const origin = IntraModeMapOrigin(cs.ctx, w);
        for (int blk = 0; blk < 16; ++blk) {
            int8_t* at = nullptr;
            int predicted;
            if (!w->mbaff) [[likely]] {
                at = origin + kLuma4x4BlkY[blk] * mapWidth + kLuma4x4BlkX[blk];
                predicted = PredictIntra4x4ModeAt(at, mapWidth);
            } else {
                predicted = PredictIntra4x4Mode(cs.ctx, w, blk, &at);
            }
            int mode = predicted;
            if (!e.Decision(68)) {
                int rem = e.Decision(69);
                rem |= e.Decision(69) << 1;
                rem |= e.Decision(69) << 2;
                mode = rem < predicted ? rem : rem + 1;
            }
            *at = static_cast<int8_t>(mode);
        }
    } else {
        mb->kind = kMbIntra16x16;
        mb->intra16x16PredMode = static_cast<int8_t>((mbType - 1) % 4);
        mb->codedBlockPattern = ((mbType - 1) / 4 % 3) << 4 | (mbType >= 13 ? 15 : 0);
    }
    auto chromaCond = [](const MacroblockInfo* n) {
        return n != nullptr && (n->flags & kMbIntra) != 0 && n->kind != kMbIPcm && n->intraChromaPredMode != 0 ? 1 : 0;
    };
    int chromaMode = 0;
    if (e.Decision(64 + chromaCond(w->mbA) + chromaCond(w->mbB))) {
        chromaMode = 1;
        while (chromaMode < 3 && e.Decision(67))
            ++chromaMode;
    }
    mb->intraChromaPredMode = static_cast<int8_t>(chromaMode);
    if (!intra16x16) mb->codedBlockPattern = ReadCodedBlockPattern(cs);
    return ReadQpAndResidual(cs, intra16x16);
}

// ref_idx_lX of the partition whose first 4x4 block is blk (clause 9.3.3.1.1.6).
int ReadRefIdx(CabacSlice& cs, int list, int blk) {
    const MacroblockWork* w = cs.w;
    auto cond = [list, w](const MacroblockInfo* n, int b) {
        if (n == nullptr || n->kind == kMbSkip || (n->flags & kMbIntra) != 0) return 0;
        const int q = Quadrant(b);
        if ((n->directMask >> q) & 1) return 0;
        // A field neighbour of a frame macroblock counts its indices in fields.
        const int zero = FieldScaling(w, n) > 0 ? 1 : 0;
        return n->refIdx[list][q] > zero ? 1 : 0;
    };
    const int x = blk & 3, y = blk >> 2;
    int ba = 0, bb = 0;
    const MacroblockInfo* a = LeftOf(w, x, y, &ba);
    const MacroblockInfo* b = Above(w, x, y, &bb);
    if (!cs.e.Decision(54 + cond(a, ba) + 2 * cond(b, bb))) return 0;
    int value = 1;
    while (cs.e.Decision(value == 1 ? 58 : 59)) {
        if (++value > 31) return -1;
    }
    return value;
}

// One component of mvd_lX (UEG3 binarisation with signedValFlag) whose prefix contexts
// start at `base`, with ctxIdxInc of its first bin from sum, the absolute values of the
// component in the neighbouring partitions A and B (clause 9.3.3.1.1.7).
bool ReadMvdComponent(CabacEngine& e, int base, int sum, int* out) {
    if (!e.Decision(base + (sum < 3 ? 0 : sum > 32 ? 2 : 1))) {
        *out = 0;
        return true;
    }
    static constexpr int kPrefixInc[9] = {0, 3, 4, 5, 6, 6, 6, 6, 6};
    int value = 1;
    while (value < 9 && e.Decision(base + kPrefixInc[value]))
        ++value;
    if (value == 9) {
        const int suffix = ReadExpGolombBypass(e, 3);
        if (suffix < 0 || value + suffix > kMaxMagnitude) return false;
        value += suffix;
    }
    *out = e.Bypass() ? -value : value;
    return true;
}

// Both components of mvd_lX of the partition whose first 4x4 block is blk.
bool ReadMvd(CabacSlice& cs, int list, int blk, int* mvd) {
    const MacroblockWork* w = cs.w;
    const int x = blk & 3, y = blk >> 2;
    int ba = 0, bb = 0;
    const MacroblockInfo* a = LeftOf(w, x, y, &ba);
    const MacroblockInfo* b = Above(w, x, y, &bb);
    const int16_t* ma = a != nullptr ? a->mvd[list][ba] : nullptr;
    const int16_t* mb = b != nullptr ? b->mvd[list][bb] : nullptr;
    // Vertical differences of a neighbour coded the other way count in the current
    // macroblock's lines (clause 9.3.3.1.1.7).
    auto vertical = [w](const MacroblockInfo* n, int v) {
        const int scaling = FieldScaling(w, n);
        return scaling > 0 ? 2 * v : scaling < 0 ? v / 2 : v;
    };
    for (int c = 0; c < 2; ++c) {
        int absA = ma != nullptr ? std::abs(ma[c]) : 0, absB = mb != nullptr ? std::abs(mb[c]) : 0;
        if (c == 1 && w->mbaff) {
            absA = vertical(a, absA);
            absB = vertical(b, absB);
        }
        const int sum = absA + absB;
        if (!ReadMvdComponent(cs.e, c == 0 ? 40 : 47, sum, &mvd[c])) return false;
    }
    return true;
}

// Reference indices and vector differences of an inter macroblock whose shapes and lists
// are in the record (mb_pred and sub_mb_pred, clauses 7.3.5.1 and 7.3.5.2).
int ReadMotion(CabacSlice& cs) {
    MacroblockInfo* mb = cs.w->cur;
    const int32_t* active = cs.ctx->slice.numRefIdxActive;
    const int parts = mb->partShape == 0 ? 1 : mb->partShape == 3 ? 4 : 2;
    auto lists = [&](int part) { return mb->predLists[mb->partShape == 1 ? 2 * part : part]; };
    // First 4x4 block (raster) of each partition.
    auto firstBlock = [&](int part) {
        switch (mb->partShape) {
            case 0:
                return 0;
            case 1:
                return 8 * part;
            case 2:
                return 2 * part;
            default:
                return (part >> 1) * 8 + (part & 1) * 2;
        }
    };
    for (int list = 0; list < 2; ++list) {
        for (int part = 0; part < parts; ++part) {
            if ((lists(part) & (1 << list)) == 0) continue;
            int ref = 0;
            if (active[list] > 1) {
                ref = ReadRefIdx(cs, list, firstBlock(part));
                if (ref < 0 || ref >= active[list]) return kDecoderOutOfRange;
            }
            const uint32_t blocks = PartitionBlockMask(mb->partShape, part);
            for (int b8 = 0; b8 < 4; ++b8)
                if (blocks & (1u << b8)) mb->refIdx[list][b8] = static_cast<int8_t>(ref);
        }
    }
    for (int list = 0; list < 2; ++list) {
        for (int part = 0; part < parts; ++part) {
            if ((lists(part) & (1 << list)) == 0) continue;
            int first = firstBlock(part), width = 4, height = 4;
            const int subs = mb->partShape != 3 ? 1 : mb->subShape[part] == 0 ? 1 : mb->subShape[part] == 3 ? 4 : 2;
            for (int sub = 0; sub < subs; ++sub) {
                if (mb->partShape == 1) {
                    height = 2;
                } else if (mb->partShape == 2) {
                    width = 2;
                } else if (mb->partShape == 3) {
                    SubPartitionGeometry(part, mb->subShape[part], sub, &first, &width, &height);
                }
                int mvd[2];
                if (!ReadMvd(cs, list, first, mvd)) return kDecoderOutOfRange;
                for (int j = 0; j < height; ++j)
                    for (int i = 0; i < width; ++i) {
                        mb->mvd[list][first + 4 * j + i][0] = static_cast<int16_t>(mvd[0]);
                        mb->mvd[list][first + 4 * j + i][1] = static_cast<int16_t>(mvd[1]);
                    }
            }
        }
    }
    return kDecoderOk;
}

int ReadPMacroblock(CabacSlice& cs) {
    CabacEngine& e = cs.e;
    MacroblockInfo* mb = cs.w->cur;
    ClearMacroblockMotion(mb);
    // mb_type of P slices (Table 9-37): prefix bins with ctxIdx 14..20.
    if (e.Decision(14)) return ReadIntraMacroblock(cs, ReadIntraType(cs, 17, false));
    int type;
    if (!e.Decision(15))
        type = e.Decision(16) ? 3 : 0;
    else
        type = e.Decision(17) ? 1 : 2;
    mb->kind = kMbInter;
    mb->partShape = static_cast<uint8_t>(type);
    if (type == 3) {
        for (int k = 0; k < 4; ++k) {
            // sub_mb_type of P slices (ctxIdx 21..23): 8x8 "1", 8x4 "00", 4x8 "011", 4x4 "010".
            int sub = 0;
            if (!e.Decision(21)) sub = !e.Decision(22) ? 1 : e.Decision(23) ? 2 : 3;
            mb->subShape[k] = static_cast<uint8_t>(sub);
        }
    }
    std::memset(mb->predLists, 1, sizeof mb->predLists);
    const int result = ReadMotion(cs);
    if (result != kDecoderOk) return result;
    mb->codedBlockPattern = ReadCodedBlockPattern(cs);
    return ReadQpAndResidual(cs, false);
}

int ReadBMacroblock(CabacSlice& cs) {
    CabacEngine& e = cs.e;
    const MacroblockWork* w = cs.w;
    MacroblockInfo* mb = w->cur;
    ClearMacroblockMotion(mb);
    // mb_type of B slices (Table 9-37): ctxIdx 27..35.
    auto cond = [](const MacroblockInfo* n) {
        if (n == nullptr || n->kind == kMbSkip) return 0;
        const bool direct16x16 = n->kind == kMbInter && n->partShape == 0 && n->directMask == 0xF;
        return direct16x16 ? 0 : 1;
    };
    int type = 0;
    if (e.Decision(27 + cond(w->mbA) + cond(w->mbB))) {
        if (!e.Decision(27 + 3)) {
            type = 1 + e.Decision(27 + 5);
        } else {
            int bits = e.Decision(27 + 4) << 3;
            bits |= e.Decision(27 + 5) << 2;
            bits |= e.Decision(27 + 5) << 1;
            bits |= e.Decision(27 + 5);
            if (bits < 8)
                type = bits + 3;
            else if (bits == 13)
                return ReadIntraMacroblock(cs, ReadIntraType(cs, 32, false));
            else if (bits == 14)
                type = 11;
            else if (bits == 15)
                type = 22;
            else
                type = ((bits << 1) | e.Decision(27 + 5)) - 4;
        }
    }
    mb->kind = kMbInter;
    if (type == 0) {
        mb->directMask = 0xF;
        mb->codedBlockPattern = ReadCodedBlockPattern(cs);
        return ReadQpAndResidual(cs, false);
    }
    if (type == 22) {
        mb->partShape = 3;
        for (int k = 0; k < 4; ++k) {
            // sub_mb_type of B slices (Table 9-38): ctxIdx 36..39.
            int sub = 0;
            if (e.Decision(36)) {
                if (!e.Decision(37)) {
                    sub = 1 + e.Decision(39);
                } else {
                    sub = 3;
                    if (e.Decision(38)) {
                        if (e.Decision(39)) {
                            sub = 11 + e.Decision(39);
                            SetBSubMacroblockType(mb, k, sub);
                            continue;
                        }
                        sub += 4;
                    }
                    sub += 2 * e.Decision(39);
                    sub += e.Decision(39);
                }
            }
            SetBSubMacroblockType(mb, k, sub);
        }
    } else {
        SetBMacroblockType(mb, type);
    }
    const int result = ReadMotion(cs);
    if (result != kDecoderOk) return result;
    mb->codedBlockPattern = ReadCodedBlockPattern(cs);
    return ReadQpAndResidual(cs, false);
}

// ctxIdxInc of mb_skip_flag (clause 9.3.3.1.1.1): neighbours A and B that are not skipped.
inline int SkipIncrement(const MacroblockWork* w) {
    return (w->mbA != nullptr && w->mbA->kind != kMbSkip) + (w->mbB != nullptr && w->mbB->kind != kMbSkip);
}

// Parses and reconstructs the macroblock set up in the work area (skipped or not).
int DecodeMacroblock(CabacSlice& cs, bool skip) {
    AvcDecoderContext* ctx = cs.ctx;
    MacroblockWork* w = cs.w;
    MacroblockInfo* mb = w->cur;
    int result = kDecoderOk;
    if (skip) {
        SetupSkippedMacroblock(mb, cs.bSlice);
        ClearCoefficients(w);
        cs.lastQpDelta = 0;
    } else if (cs.intraSlice) {
        result = ReadIntraMacroblock(cs, ReadIntraType(cs, 3, true));
    } else {
        result = cs.bSlice ? ReadBMacroblock(cs) : ReadPMacroblock(cs);
    }
    if (result != kDecoderOk) return result;
    if (cs.e.Overran()) return kDecoderOutOfRange;  // decoding ran past the slice's data
    if (mb->flags & kMbIntra) {
        if (ReconstructIntraMacroblock(ctx, w) != kDecoderOk) return kDecoderUnsupported;
    } else {
        if (ctx->activePps->constrained_intra_pred_flag) MarkIntraModesUnavailable(ctx, w);
        result = cs.bSlice ? ReconstructBMacroblock(ctx, w) : ReconstructPMacroblock(ctx, w);
        if (result != kDecoderOk) return result;
    }
    ++ctx->decodedMbs;
    return kDecoderOk;
}

// The slice-data loop of an MBAFF frame: pairs, each with mb_field_decoding_flag before its
// first coded macroblock (clause 7.3.4), and end_of_slice_flag after bottom macroblocks.
int DecodeMbaffCabacSlice(CabacSlice& cs, int32_t sliceNumber) {
    AvcDecoderContext* ctx = cs.ctx;
    MacroblockWork* w = cs.w;
    BuildListVariants(ctx, w);
    // The frame lists and weights are back in place however the loop ends.
    struct Restore {
        AvcDecoderContext* ctx;
        MacroblockWork* w;
        ~Restore() { EndListVariants(ctx, w); }
    } restore{ctx, w};
    if (!BuildWeightVariants(ctx, w)) return kDecoderUnsupported;
    const int skipBase = cs.bSlice ? 24 : 11;
    bool field = false, flagRead = false, bottomSkipRead = false, bottomSkip = false;
    for (int32_t count = 0; count < ctx->picSizeInMbs; ++count) {
        const bool top = (w->mbAddr & 1) == 0;
        if (top) {
            // Until the pair codes its flag, the inferred one (clause 7.4.4) chooses the
            // neighbours of mb_skip_flag's context.
            field = InferredFieldFlag(ctx, w->mbAddr, sliceNumber);
            flagRead = bottomSkipRead = false;
        }
        SetupMbaffMacroblock(ctx, w, field);
        bool skip = false;
        if (!cs.intraSlice)
            skip = !top && bottomSkipRead ? bottomSkip : cs.e.Decision(skipBase + SkipIncrement(w)) != 0;
        if (skip && top) {
            // The bottom macroblock's mb_skip_flag and, when it is coded, the pair's flag
            // follow; the skipped top macroblock takes that flag for its motion.
            ++w->mbAddr;
            SetupMbaffMacroblock(ctx, w, field);
            bottomSkip = cs.e.Decision(skipBase + SkipIncrement(w)) != 0;
            bottomSkipRead = true;
            if (!bottomSkip) {
                field = cs.e.Decision(70 + FieldPairNeighbours(ctx, w)) != 0;
                flagRead = true;
            }
            --w->mbAddr;
            SetupMbaffMacroblock(ctx, w, field);
        } else if (!skip && !flagRead) {
            field = cs.e.Decision(70 + FieldPairNeighbours(ctx, w)) != 0;
            flagRead = true;
            SetMacroblockField(ctx, w, field);
        }
        cs.fieldOffset = field ? 172 : 0;
        const int result = DecodeMacroblock(cs, skip);
        if (result != kDecoderOk) return result;
        if (!top && cs.e.Terminate()) return kDecoderOk;  // end_of_slice_flag
        if (w->mbAddr + 1 >= ctx->picSizeInMbs) break;
        ++w->mbAddr;
    }
    // A slice that goes on behind the picture's last macroblock was misread.
    return kDecoderOutOfRange;
}

}  // namespace

int DecodeCabacSlice(AvcDecoderContext* ctx) {
    const SliceHeader* s = &ctx->slice;
    if (int64_t{s->first_mb_in_slice} * (s->MbaffFrameFlag ? 2 : 1) >= ctx->picSizeInMbs) return kDecoderOk;
    MacroblockWork* w = ctx->work;
    const int32_t sliceNumber = BeginSliceData(ctx, w);
    const bool groups = ctx->activePps->num_slice_groups_minus1 > 0;
    const bool intraSlice = s->sliceKind == kSliceI;
    const bool b = s->sliceKind == kSliceB;
    if (b && (ctx->activePps->weighted_pred_flag || ctx->activePps->weighted_bipred_idc != 0))
        BuildBiPredWeights(ctx, ctx->decoding->picOrderCnt);
    w->usedRefs = 0;
    // cabac_alignment_one_bit up to the byte boundary, then the arithmetic code.
    const BitReader* r = &ctx->reader;
    const uint64_t start = (r->BitPosition() + 7) / 8;
    if (start >= r->Size()) return kDecoderOutOfRange;
    CabacSlice cs{ctx, w, {}, 0, intraSlice, b, ctx->slice.field_pic_flag != 0 ? 172 : 0, {}};
    cs.e.InitContexts(intraSlice, s->cabac_init_idc, std::clamp(s->sliceQp, 0, 51));
    cs.e.Start(r->Data(), r->Size(), static_cast<size_t>(start));
    UpdateDequant(cs);
    if (s->MbaffFrameFlag) return DecodeMbaffCabacSlice(cs, sliceNumber);
    for (int32_t count = 0; count < ctx->picSizeInMbs; ++count) {
        SetupMacroblock(ctx, w, sliceNumber);
        MacroblockInfo* mb = w->cur;
        bool skip = false;
        if (!intraSlice) {
            const int inc =
                (w->mbA != nullptr && w->mbA->kind != kMbSkip) + (w->mbB != nullptr && w->mbB->kind != kMbSkip);
            skip = cs.e.Decision((b ? 24 : 11) + inc) != 0;
        }
        int result = kDecoderOk;
        if (skip) {
            SetupSkippedMacroblock(mb, b);
            ClearCoefficients(w);
            cs.lastQpDelta = 0;
        } else if (intraSlice) {
            result = ReadIntraMacroblock(cs, ReadIntraType(cs, 3, true));
        } else {
            result = b ? ReadBMacroblock(cs) : ReadPMacroblock(cs);
        }
        if (result != kDecoderOk) return result;
        if (cs.e.Overran()) return kDecoderOutOfRange;  // decoding ran past the slice's data
        if (mb->flags & kMbIntra) {
            if (ReconstructIntraMacroblock(ctx, w) != kDecoderOk) return kDecoderUnsupported;
        } else {
            // Under constrained_intra_pred_flag an inter neighbour counts as unavailable for
            // Intra4x4PredMode prediction (clause 8.3.1.1).
            if (ctx->activePps->constrained_intra_pred_flag) MarkIntraModesUnavailable(ctx, w);
            result = b ? ReconstructBMacroblock(ctx, w) : ReconstructPMacroblock(ctx, w);
            if (result != kDecoderOk) return result;
        }
        ++ctx->decodedMbs;
        if (w->mbX + 1 == ctx->picWidthInMbs) DeblockRowDecoded(ctx, w->mbY);
        if (cs.e.Terminate()) return kDecoderOk;  // end_of_slice_flag
        const int32_t next = groups ? NextMbInSliceGroup(ctx, w->mbAddr) : w->mbAddr + 1;
        if (next < 0 || next >= ctx->picSizeInMbs) break;
        w->mbAddr = next;
    }
    // A slice that goes on behind the picture's last macroblock was misread.
    return kDecoderOutOfRange;
}

}  // namespace avcdec
