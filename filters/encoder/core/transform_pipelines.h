// Transform-quantise-reconstruct pipelines shared by the kernel sets (H.264 clauses 8.5.6,
// 8.5.10-8.5.12 for the decoder's half; the forward half mirrors it). Coefficient stores
// hold quantised levels, 16 per 4x4 block in raster positions, blocks in raster order; the
// DC level of a block whose DC is coded separately sits at its position 0.
//
// A set supplies the four steps of one 4x4 block through Ops, each exactly as the portable
// set computes it:
//   Forward(src, srcStride, pred, predStride, out): the forward core transform of
//     src - pred into raster int16_t out[16] (within +-9180 for 8-bit samples);
//   optionally ForwardPair(src, pred, stride, left, right): Forward of the block at src and
//     of the one 4 samples to its right, both read with one stride;
//   Quantise(c, mf, limit, offset, qbits, levels): from the 16-bit c,
//     levels[r] = sign(c[r]) x
//     min((|c[r]| x mf[r] + offset) >> qbits, limit[r]) at all 16 raster positions;
//     returns the positions of the non-zero levels, bit r for position r;
//   Dequantise(levels, q, d): d[r] = levels[r] x V[r] x 2^(QP / 6);
//   InverseAndAdd(d, pred, predStride, recon, reconStride): the inverse core transform
//     (clause 8.5.12.2), (r + 32) >> 6 added to the prediction and clipped;
//   optionally AddDc(v, pred, predStride, recon, reconStride): AddDcOnly's result from
//     v = (d0 + 32) >> 6.
// Coefficients given to Quantise stay below 2^15 in magnitude (9180 for 8-bit samples),
// the offset below 2^30.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/bitstream/h264_tables.h"
#include "filters/encoder/core/coefficient_list.h"
#include "filters/encoder/core/kernel_table.h"
#include "filters/encoder/core/quant_tables.h"

namespace ombrisk::transform {

inline int Raster(int scanIndex) {
    return common::kZigZag[scanIndex];
}

// Levels are bounded twice: by what CAVLC can code in every profile (level_prefix at
// most 15 with its 12-bit escape, clause 9.2.2.1), and, for levels scaled on their own,
// so that the scaled coefficient fits the 16 bits the standard allows (clause 8.5.12.1)
// and decoders store.
constexpr int kMaxLevel = 2063;

// 32 bits hold the product: |c| stays below 2^15 (32640 for the intra 16x16 DC, 9180 for a
// 4x4 coefficient of 8-bit samples), MF below 2^14, and the offset below 2^30.
inline int16_t QuantiseLevel(int c, int mf, int64_t offset, int qbits, int limit = kMaxLevel) {
    const uint32_t m = (static_cast<uint32_t>(std::abs(c)) * static_cast<uint32_t>(mf) +
                        static_cast<uint32_t>(std::min<int64_t>(offset, 1 << 30))) >>
                       qbits;
    const int level = std::min(static_cast<int>(m), limit);
    return static_cast<int16_t>(c < 0 ? -level : level);
}

// The bound of every QP (0-51) and raster position, computed at compile time.
struct LevelBounds {
    int16_t limit[52][16];
};
inline constexpr LevelBounds kLevelLimits = [] {
    LevelBounds t{};
    for (int qp = 0; qp < 52; ++qp)
        for (int r = 0; r < 16; ++r)
            t.limit[qp][r] = static_cast<int16_t>(std::min(kMaxLevel, 32767 / (kDequantScale[qp % 6][r] << (qp / 6))));
    return t;
}();

// (level, run) pairs of count levels in scan order, closed by (0, trailing zeros).
// Returns the number of non-zero levels.
inline int BuildList(const int16_t* scanLevels, int count, CoefficientList* list) {
    int n = 0, run = 0;
    for (int i = 0; i < count; ++i) {
        if (scanLevels[i] == 0) {
            ++run;
            continue;
        }
        list->pairs[n++] = {scanLevels[i], static_cast<int16_t>(run)};
        run = 0;
    }
    list->pairs[n] = {0, static_cast<int16_t>(run)};
    return n;
}

// The rounding offset shifted right by s (left for negative s), with the shift bounded.
inline int64_t ShiftedOffset(int offset, int s) {
    return s >= 0 ? int64_t{offset} >> std::min(s, 40) : int64_t{offset} << std::min(-s, 8);
}

inline void ClearList(CoefficientList* list, int run) {
    list->pairs[0] = {0, static_cast<int16_t>(run)};
}

// Quantises scan positions first..15 of raster coefficients c into raster levels and a
// list; returns the number of non-zero levels. Position 0 of a block whose DC is coded
// apart keeps what the caller stored there.
template <class Ops>
int QuantiseBlock(const int16_t c[16], int first, const QuantRecord& q, int64_t offset, int16_t levels[16],
                  CoefficientList* list) {
    // A byte of raster positions (low: 0-7, high: 8-15) as the scan positions it holds.
    static constexpr auto kRasterToScan = [] {
        std::array<std::array<uint16_t, 256>, 2> t{};
        for (int half = 0; half < 2; ++half)
            for (int bits = 0; bits < 256; ++bits)
                for (int i = 0; i < 16; ++i)
                    if (common::kZigZag[i] / 8 == half && ((bits >> (common::kZigZag[i] % 8)) & 1))
                        t[half][bits] = static_cast<uint16_t>(t[half][bits] | (1u << i));
        return t;
    }();
    const int16_t keep = levels[0];
    const uint32_t raster = Ops::Quantise(c, kQuantMultiplier[q.qpMod6], kLevelLimits.limit[std::clamp(q.qp, 0, 51)],
                                          static_cast<uint32_t>(std::min<int64_t>(offset, 1 << 30)), q.qbits, levels);
    if (first) levels[0] = keep;
    // The non-zero levels in scan order, one bit each, walked without a branch per zero.
    uint32_t scan = (kRasterToScan[0][raster & 0xFFu] | kRasterToScan[1][(raster >> 8) & 0xFFu]) & (0xFFFFu << first);
    int n = 0, next = first;
    for (; scan != 0; scan &= scan - 1) {
        const int i = std::countr_zero(scan);
        list->pairs[n++] = {levels[common::kZigZag[i]], static_cast<int16_t>(i - next)};
        next = i + 1;
    }
    list->pairs[n] = {0, static_cast<int16_t>(16 - next)};
    return n;
}

// The cost of a block's levels for the decision to drop it: a level above 1 in magnitude
// always keeps the block; an isolated ±1 costs less the longer the zero run before it.
inline int ListCost(const CoefficientList& list, int count, int threshold) {
    static constexpr int kRunCost[6] = {3, 2, 2, 1, 1, 1};
    int cost = 0;
    for (int i = 0; i < count && list.pairs[i].level != 0; ++i) {
        const CoefficientPair& p = list.pairs[i];
        if (std::abs(p.level) > 1)
            cost += threshold + 1;
        else if (p.run < 6)
            cost += kRunCost[p.run];
    }
    return cost;
}

// The reconstruction of a 4x4 block whose dequantised coefficients are all zero but
// possibly d[0]: the inverse transform of a lone DC spreads it evenly, so every sample
// gains (d0 + 32) >> 6 (0 leaves the prediction), clipped as InverseAndAdd clips.
inline void AddDcOnly(int d0, const uint8_t* pred, int predStride, uint8_t* recon, int reconStride) {
    const int v = (d0 + 32) >> 6;
    for (int y = 0; y < 4; ++y) {
        const uint8_t* p = pred + y * predStride;
        uint8_t* r = recon + y * reconStride;
        if (v == 0) {
            std::memcpy(r, p, 4);
            continue;
        }
        for (int x = 0; x < 4; ++x)
            r[x] = static_cast<uint8_t>(std::clamp(p[x] + v, 0, 255));
    }
}

// AddDcOnly by the set's own step where it has one.
template <class Ops>
void AddDc(int d0, const uint8_t* pred, int predStride, uint8_t* recon, int reconStride) {
    if constexpr (requires { Ops::AddDc(d0, pred, predStride, recon, reconStride); })
        Ops::AddDc((d0 + 32) >> 6, pred, predStride, recon, reconStride);
    else
        AddDcOnly(d0, pred, predStride, recon, reconStride);
}

// The reconstruction of a 4x4 block from its n non-zero levels (all 16 positions coded;
// firstRun is the zero run before the first level in scan order): none leaves the
// prediction, a lone level at position 0 is a DC-only block, anything else goes through
// the inverse transform.
template <class Ops>
void ReconstructBlock(const int16_t levels[16], int n, int firstRun, const QuantRecord& q, const uint8_t* pred,
                      int predStride, uint8_t* recon, int reconStride) {
    if (n == 0) {
        AddDc<Ops>(0, pred, predStride, recon, reconStride);
        return;
    }
    if (n == 1 && firstRun == 0) {
        AddDc<Ops>((levels[0] * kDequantScale[q.qpMod6][0]) * (1 << q.qpDiv6), pred, predStride, recon, reconStride);
        return;
    }
    int d[16];
    Ops::Dequantise(levels, q, d);
    Ops::InverseAndAdd(d, pred, predStride, recon, reconStride);
}

// The forward transforms of two horizontally adjacent blocks, by the set's pair step
// where it has one.
template <class Ops>
void ForwardTwo(const uint8_t* src, const uint8_t* pred, int stride, int16_t left[16], int16_t right[16]) {
    if constexpr (requires { Ops::ForwardPair(src, pred, stride, left, right); }) {
        Ops::ForwardPair(src, pred, stride, left, right);
    } else {
        Ops::Forward(src, stride, pred, stride, left);
        Ops::Forward(src + 4, stride, pred + 4, stride, right);
    }
}

template <class Ops>
int Luma4x4(const uint8_t* src, uint8_t* recon, const uint8_t* pred, int16_t* coefs, CoefficientList* list,
            const QuantRecord* q, int offsetShift) {
    int16_t c[16];
    Ops::Forward(src, 4, pred, 4, c);
    const int n = QuantiseBlock<Ops>(c, 0, *q, ShiftedOffset(q->offset, offsetShift), coefs, list);
    ReconstructBlock<Ops>(coefs, n, list->pairs[0].run, *q, pred, 4, recon, 16);
    return n != 0;
}

// The 4x4 Hadamard transform (rows then columns) of raster m, in place.
inline void Hadamard4x4(int m[16]) {
    int t[16];
    for (int y = 0; y < 4; ++y) {
        const int* r = m + 4 * y;
        const int s01 = r[0] + r[1], m01 = r[0] - r[1], s23 = r[2] + r[3], m23 = r[2] - r[3];
        t[4 * y + 0] = s01 + s23;
        t[4 * y + 1] = s01 - s23;
        t[4 * y + 2] = m01 - m23;
        t[4 * y + 3] = m01 + m23;
    }
    for (int x = 0; x < 4; ++x) {
        const int s01 = t[x] + t[4 + x], m01 = t[x] - t[4 + x];
        const int s23 = t[8 + x] + t[12 + x], m23 = t[8 + x] - t[12 + x];
        m[x] = s01 + s23;
        m[4 + x] = s01 - s23;
        m[8 + x] = m01 - m23;
        m[12 + x] = m01 + m23;
    }
}

template <class Ops>
int Intra16x16(const uint8_t* src, uint8_t* recon, const uint8_t* pred, int16_t* coefs, CoefficientList* dcList,
               CoefficientList* acLists, const QuantRecord* q) {
    int16_t c[16][16];
    int dc[16];
    for (int b = 0; b < 16; b += 2) {
        const int off = (b >> 2) * 64 + (b & 3) * 4;
        ForwardTwo<Ops>(src + off, pred + off, 16, c[b], c[b + 1]);
    }
    for (int b = 0; b < 16; ++b)
        dc[b] = c[b][0] >> 1;
    Hadamard4x4(dc);
    // DC matrix: MF of position 0, twice the offset, one more bit of shift.
    const int mf0 = kQuantMultiplier[q->qpMod6][0];
    int16_t dcScan[16];
    int dcLevels[16];
    for (int i = 0; i < 16; ++i) {
        const int r = Raster(i);
        dcScan[i] = QuantiseLevel(dc[r], mf0, int64_t{q->offset} * 2, q->qbits + 1);
        dcLevels[r] = dcScan[i];
        coefs[16 * r] = dcScan[i];
    }
    BuildList(dcScan, 16, dcList);
    Hadamard4x4(dcLevels);  // the inverse equals the forward transform
    const int v0 = kDequantScale[q->qpMod6][0];
    int anyAc = 0;
    for (int b = 0; b < 16; ++b) {
        int16_t* levels = coefs + 16 * b;
        const int ac = QuantiseBlock<Ops>(c[b], 1, *q, q->offset, levels, &acLists[b]);
        anyAc |= ac;
        const int dcValue = ((dcLevels[b] * v0) * (1 << q->qpDiv6) + 2) >> 2;
        const int off = (b >> 2) * 64 + (b & 3) * 4;
        if (ac == 0) {
            AddDc<Ops>(dcValue, pred + off, 16, recon + off, 16);
            continue;
        }
        int d[16];
        Ops::Dequantise(levels, *q, d);
        d[0] = dcValue;
        Ops::InverseAndAdd(d, pred + off, 16, recon + off, 16);
    }
    return anyAc ? 15 : 0;
}

template <class Ops>
int Inter16x16(const uint8_t* src, uint8_t* recon, const uint8_t* pred, int16_t* coefs, CoefficientList* lists,
               const QuantRecord* q, int costThreshold) {
    int cost[4] = {}, nonzero[4] = {}, blockNonzero[16];
    for (int pair = 0; pair < 16; pair += 2) {
        const int off = (pair >> 2) * 64 + (pair & 3) * 4;
        int16_t c[2][16];
        ForwardTwo<Ops>(src + off, pred + off, 16, c[0], c[1]);
        for (int b = pair; b < pair + 2; ++b) {
            const int b8 = (b >> 3) * 2 + ((b & 3) >> 1);
            blockNonzero[b] = QuantiseBlock<Ops>(c[b - pair], 0, *q, q->offset >> 1, coefs + 16 * b, &lists[b]);
            nonzero[b8] += blockNonzero[b];
            cost[b8] += ListCost(lists[b], 16, costThreshold);
        }
    }
    int cbp = 0;
    for (int b = 0; b < 16; ++b) {
        const int off = (b >> 2) * 64 + (b & 3) * 4;
        const int b8 = (b >> 3) * 2 + ((b & 3) >> 1);
        int16_t* levels = coefs + 16 * b;
        if (cost[b8] <= costThreshold) {
            std::memset(levels, 0, 16 * sizeof *levels);
            ClearList(&lists[b], 15);
            blockNonzero[b] = 0;
        } else if (nonzero[b8]) {
            cbp |= 1 << b8;
        }
        ReconstructBlock<Ops>(levels, blockNonzero[b], lists[b].pairs[0].run, *q, pred + off, 16, recon + off, 16);
    }
    return cbp;
}

template <class Ops>
int Chroma(const uint8_t* src, uint8_t* recon, const uint8_t* pred, int16_t* coefs, CoefficientList* dcList,
           CoefficientList* acLists, const QuantRecord* q, int dcOffsetShift, int acCostThreshold) {
    int16_t c[4][16];
    ForwardTwo<Ops>(src, pred, 8, c[0], c[1]);
    ForwardTwo<Ops>(src + 32, pred + 32, 8, c[2], c[3]);
    // 2x2 Hadamard of the DC terms, raster order (the chroma DC scan).
    const int a = c[0][0], b = c[1][0], cc = c[2][0], d = c[3][0];
    const int f[4] = {a + b + cc + d, a - b + cc - d, a + b - cc - d, a - b - cc + d};
    const int64_t dcOffset = ShiftedOffset(q->offset, dcOffsetShift - 1);
    const int mf0 = kQuantMultiplier[q->qpMod6][0];
    int16_t dcLevels[4];
    for (int i = 0; i < 4; ++i) {
        dcLevels[i] = QuantiseLevel(f[i], mf0, dcOffset, q->qbits + 1);
        coefs[16 * i] = dcLevels[i];
    }
    const int anyDc = BuildList(dcLevels, 4, dcList);

    int cost = 0, anyAc = 0, blockAc[4];
    const int64_t acOffset = ShiftedOffset(q->offset, dcOffsetShift);
    for (int blk = 0; blk < 4; ++blk) {
        blockAc[blk] = QuantiseBlock<Ops>(c[blk], 1, *q, acOffset, coefs + 16 * blk, &acLists[blk]);
        anyAc += blockAc[blk];
        cost += ListCost(acLists[blk], 15, acCostThreshold);
    }
    if (anyAc && cost <= acCostThreshold) {
        for (int blk = 0; blk < 4; ++blk) {
            std::memset(coefs + 16 * blk + 1, 0, 15 * sizeof *coefs);
            ClearList(&acLists[blk], 15);
        }
        anyAc = 0;
    }
    // Dequantise the DC levels, inverse 2x2 Hadamard, then >> 1 (clause 8.5.11.2, 4:2:0).
    const int scale = kDequantScale[q->qpMod6][0] * (1 << q->qpDiv6);
    const int g0 = dcLevels[0] * scale, g1 = dcLevels[1] * scale;
    const int g2 = dcLevels[2] * scale, g3 = dcLevels[3] * scale;
    const int dcValue[4] = {(g0 + g1 + g2 + g3) >> 1, (g0 - g1 + g2 - g3) >> 1, (g0 + g1 - g2 - g3) >> 1,
                            (g0 - g1 - g2 + g3) >> 1};
    for (int blk = 0; blk < 4; ++blk) {
        const int off = (blk >> 1) * 32 + (blk & 1) * 4;
        if (anyAc == 0 || blockAc[blk] == 0) {
            AddDc<Ops>(dcValue[blk], pred + off, 8, recon + off, 8);
            continue;
        }
        int dq[16];
        Ops::Dequantise(coefs + 16 * blk, *q, dq);
        dq[0] = dcValue[blk];
        Ops::InverseAndAdd(dq, pred + off, 8, recon + off, 8);
    }
    return (anyDc ? 1 : 0) | (anyAc ? 2 : 0);
}

}  // namespace ombrisk::transform
