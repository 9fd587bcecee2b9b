// The CAVLC macroblock layer of I slices (H.264 clauses 7.3.5, 9.1 and 9.2): one syntax
// source compiled per sink (common::BitWriter writes, common::BitCounter counts), so that
// rate-distortion trials count exactly the bits that a real write would store.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "common/bitstream/bit_writer.h"
#include "common/bitstream/h264_cavlc_tables.h"
#include "filters/encoder/core/coefficient_list.h"
#include "filters/encoder/core/mb_context.h"

namespace ombrisk {

// Largest level magnitude a CAVLC block can carry in every profile: level_prefix 15 with
// its 12-bit suffix at suffixLength 0 reaches levelCode 4125 (clause 9.2.2.1).
constexpr int kMaxCavlcLevel = 2063;

// Largest macroblock_layer() a conforming stream may carry: 128 + RawMbBits for 8-bit
// 4:2:0 (clause 7.4.2.1.1 with A.3.1); a macroblock that would need more is sent as I_PCM.
constexpr uint32_t kMaxMacroblockBits = 3200;

namespace cavlc {

// The value added to an I-slice mb_type in this slice type (Table 7-13: 5 in P and SP
// slices; Table 7-14: 23 in B slices).
inline int IntraMbTypeBase(int32_t sliceType) {
    const int offset = IntraMbTypeOffset(sliceType);
    return sliceType == kSliceP || sliceType == kSliceSP ? offset - 1 : offset;
}

// Mode the decoder predicts for luma 4x4 block b (raster) of an Intra_4x4 macroblock
// (clause 8.3.1.1): 2 when the left or the top block lies in an unavailable macroblock,
// else the smaller of the two (2 for a neighbour that is not Intra_4x4, whose record holds
// 2 everywhere). `modes` holds the modes of this macroblock's blocks coded so far.
inline int PredictedIntra4x4Mode(const CMbContext& mb, const int8_t* modes, int b) {
    const int x = b & 3, y = b >> 2;
    int left, top;
    if (x > 0)
        left = modes[b - 1];
    else if (mb.leftAvailable)
        left = mb.left->intra4x4Modes[b + 3];
    else
        return 2;
    if (y > 0)
        top = modes[b - 4];
    else if (mb.topAvailable)
        top = mb.top->intra4x4Modes[b + 12];
    else
        return 2;
    return std::min(left, top);
}

// nC of luma block b (raster) from the total_coeff of its left and top neighbours
// (clause 9.2.1); `counts` holds this macroblock's counts.
inline int LumaNc(const CMbContext& mb, const uint8_t* counts, int b) {
    const int x = b & 3, y = b >> 2;
    int n = 0, available = 0;
    if (x > 0) {
        n += counts[b - 1], ++available;
    } else if (mb.leftAvailable) {
        n += mb.left->totalCoeff[b + 3], ++available;
    }
    if (y > 0) {
        n += counts[b - 4], ++available;
    } else if (mb.topAvailable) {
        n += mb.top->totalCoeff[b + 12], ++available;
    }
    return available == 2 ? (n + 1) >> 1 : n;
}

inline int ChromaNc(const CMbContext& mb, const uint8_t* counts, int component, int b) {
    const int x = b & 1, y = b >> 1;
    int n = 0, available = 0;
    if (x > 0) {
        n += counts[b - 1], ++available;
    } else if (mb.leftAvailable) {
        n += mb.left->chromaTotalCoeff[component][b + 1], ++available;
    }
    if (y > 0) {
        n += counts[b - 2], ++available;
    } else if (mb.topAvailable) {
        n += mb.top->chromaTotalCoeff[component][b + 2], ++available;
    }
    return available == 2 ? (n + 1) >> 1 : n;
}

// residual_block_cavlc (clause 7.3.5.3.2) of one coefficient list holding at most
// maxCoeff coefficients; nC -1 selects the chroma DC tables. Returns TotalCoeff.
template <common::BitSink Sink>
int WriteResidualBlock(Sink& s, const CoefficientList& list, int maxCoeff, int nC) {
    const CoefficientPair* p = list.pairs;
    int total = 0, totalZeros = 0;
    while (total < 16 && p[total].level != 0) {
        totalZeros += p[total].run;
        ++total;
    }
    int trailingOnes = 0;
    for (int i = total - 1; i >= 0 && trailingOnes < 3 && std::abs(p[i].level) == 1; --i)
        ++trailingOnes;

    // coeff_token, then the trailing ones' sign flags in the same write (at most 16 + 3 bits).
    uint32_t signs = 0;
    for (int k = 0; k < trailingOnes; ++k)
        signs = signs << 1 | (p[total - 1 - k].level < 0 ? 1u : 0u);
    common::VlcCode token;
    if (nC < 0) {
        token = common::kCoeffTokenChromaDc[total][trailingOnes];
    } else if (nC >= 8) {
        token = {6, static_cast<uint16_t>(total == 0 ? 3 : ((total - 1) << 2) | trailingOnes)};
    } else {
        static constexpr uint8_t kClass[8] = {0, 0, 1, 1, 2, 2, 2, 2};
        token = common::kCoeffToken[kClass[nC]][total][trailingOnes];
    }
    s.PutBits(token.length + trailingOnes, uint32_t{token.code} << trailingOnes | signs);
    if (total == 0) return 0;

    int suffixLength = (total > 10 && trailingOnes < 3) ? 1 : 0;
    for (int i = total - 1 - trailingOnes; i >= 0; --i) {
        const int level = std::clamp<int>(p[i].level, -kMaxCavlcLevel, kMaxCavlcLevel);
        int levelCode = level > 0 ? 2 * level - 2 : -2 * level - 1;
        if (i == total - 1 - trailingOnes && trailingOnes < 3) levelCode -= 2;
        if (suffixLength == 0) {
            if (levelCode < 14)
                s.PutBits(levelCode + 1, 1);
            else if (levelCode < 30)
                s.PutBits(19, (1u << 4) | static_cast<uint32_t>(levelCode - 14));
            else
                s.PutBits(28, (1u << 12) | static_cast<uint32_t>(levelCode - 30));
        } else if (levelCode < (15 << suffixLength)) {
            const int prefix = levelCode >> suffixLength;
            s.PutBits(prefix + 1 + suffixLength,
                      (1u << suffixLength) | static_cast<uint32_t>(levelCode & ((1 << suffixLength) - 1)));
        } else {
            s.PutBits(28, (1u << 12) | static_cast<uint32_t>(levelCode - (15 << suffixLength)));
        }
        if (suffixLength == 0) suffixLength = 1;
        if (std::abs(level) > (3 << (suffixLength - 1)) && suffixLength < 6) ++suffixLength;
    }

    // total_zeros and every run_before gathered in one word: total_zeros takes at most 9
    // bits; there are at most 15 - totalZeros run_before codes of at most 3 bits, save that
    // a run r above 6 takes r - 3 bits, paid from the zeros: at most 9 + 45 < 64 bits.
    uint64_t tail = 0;
    int tailBits = 0;
    if (total < maxCoeff) {
        const common::VlcCode c =
            nC < 0 ? common::kTotalZerosChromaDc[total - 1][totalZeros] : common::kTotalZeros[total - 1][totalZeros];
        tail = c.code, tailBits = c.length;
    }
    int zerosLeft = totalZeros;
    for (int i = total - 1; i > 0 && zerosLeft > 0; --i) {
        const common::VlcCode c = common::kRunBefore[std::min(zerosLeft, 7) - 1][p[i].run];
        tail = tail << c.length | c.code;
        tailBits += c.length;
        zerosLeft -= p[i].run;
    }
    if (tailBits > 32) s.PutBits(tailBits - 32, static_cast<uint32_t>(tail >> 32));
    s.PutBits(std::min(tailBits, 32), static_cast<uint32_t>(tail));
    return total;
}

// The intra 16x16 luma residual: DC, then the AC blocks when the pattern says so.
// Stores each AC block's TotalCoeff in counts (raster).
template <common::BitSink Sink>
void WriteLuma16x16Residual(Sink& s, const CMbContext& mb, const LumaResult& l, uint8_t* counts) {
    std::fill(counts, counts + 16, uint8_t{0});
    WriteResidualBlock(s, l.dc, 16, LumaNc(mb, counts, 0));
    if ((l.cbp & 15) == 0) return;
    for (int k = 0; k < 16; ++k) {
        const int b = kBlockScanToRaster[k];
        counts[b] = static_cast<uint8_t>(WriteResidualBlock(s, l.blocks[b], 15, LumaNc(mb, counts, b)));
    }
}

// Luma 4x4 blocks of the 8x8 quadrants whose pattern bit is set.
template <common::BitSink Sink>
void WriteLuma4x4Residual(Sink& s, const CMbContext& mb, const LumaResult& l, uint8_t* counts) {
    std::fill(counts, counts + 16, uint8_t{0});
    for (int k = 0; k < 16; ++k) {
        if (!((l.cbp >> (k >> 2)) & 1)) continue;
        const int b = kBlockScanToRaster[k];
        counts[b] = static_cast<uint8_t>(WriteResidualBlock(s, l.blocks[b], 16, LumaNc(mb, counts, b)));
    }
}

template <common::BitSink Sink>
void WriteChromaResidual(Sink& s, const CMbContext& mb, const ChromaResult& c, uint8_t (*counts)[4]) {
    std::fill(&counts[0][0], &counts[0][0] + 8, uint8_t{0});
    if (c.cbp == 0) return;
    for (int comp = 0; comp < 2; ++comp)
        WriteResidualBlock(s, c.dc[comp], 4, -1);
    if (c.cbp < 32) return;
    for (int comp = 0; comp < 2; ++comp)
        for (int b = 0; b < 4; ++b)
            counts[comp][b] =
                static_cast<uint8_t>(WriteResidualBlock(s, c.ac[comp][b], 15, ChromaNc(mb, counts[comp], comp, b)));
}

// mb_type I_PCM of an I slice, its alignment and its samples (clause 7.3.5); every block
// counts as holding 16 coefficients for its neighbours (clause 9.2.1).
template <common::BitSink Sink>
void WritePcmMacroblock(Sink& s, const CMbContext& mb) {
    s.PutUe(static_cast<uint32_t>(25 + IntraMbTypeBase(mb.sliceType)));
    s.AlignWithZeros();  // pcm_alignment_zero_bit
    for (int i = 0; i < 256; i += 4)
        s.PutBits(32, uint32_t{mb.srcLuma[i]} << 24 | uint32_t{mb.srcLuma[i + 1]} << 16 |
                          uint32_t{mb.srcLuma[i + 2]} << 8 | mb.srcLuma[i + 3]);
    for (const uint8_t* c : {mb.srcCb, mb.srcCr})
        for (int i = 0; i < 64; i += 4)
            s.PutBits(32, uint32_t{c[i]} << 24 | uint32_t{c[i + 1]} << 16 | uint32_t{c[i + 2]} << 8 | c[i + 3]);
    MbRecord& r = *mb.current;
    std::fill(r.totalCoeff, r.totalCoeff + 16, uint8_t{16});
    std::fill(&r.chromaTotalCoeff[0][0], &r.chromaTotalCoeff[0][0] + 8, uint8_t{16});
}

// One intra macroblock_layer of an I slice. qpDelta is the mb_qp_delta to code when the
// macroblock carries one. The counts of every block written are left in the current
// macroblock's record (the neighbour contexts of the blocks after it).
template <common::BitSink Sink>
void WriteIntraMacroblock(Sink& s, const CMbContext& mb, const LumaResult& l, const ChromaResult& c, int32_t qpDelta) {
    MbRecord& r = *mb.current;
    const int cbp = (l.cbp & 15) | c.cbp;
    const int offset = IntraMbTypeBase(mb.sliceType);
    if (l.kind == kMbIntra16x16) {
        s.PutUe(static_cast<uint32_t>(offset + 1 + l.mode16 + 4 * (c.cbp >> 4) + ((l.cbp & 15) ? 12 : 0)));
    } else {
        s.PutUe(static_cast<uint32_t>(offset));
        for (int k = 0; k < 16; ++k) {
            const int b = kBlockScanToRaster[k];
            const int predicted = PredictedIntra4x4Mode(mb, l.modes4, b);
            const int mode = l.modes4[b];
            if (mode == predicted)
                s.PutBits(1, 1);
            else
                s.PutBits(4, static_cast<uint32_t>(mode < predicted ? mode : mode - 1));
        }
    }
    s.PutUe(static_cast<uint32_t>(c.mode));
    if (l.kind == kMbIntra4x4) s.PutUe(static_cast<uint32_t>(common::CbpCodeNum(cbp >> 4 << 4 | (cbp & 15), true)));
    if (cbp != 0 || l.kind == kMbIntra16x16) s.PutSe(qpDelta);
    if (l.kind == kMbIntra16x16)
        WriteLuma16x16Residual(s, mb, l, r.totalCoeff);
    else
        WriteLuma4x4Residual(s, mb, l, r.totalCoeff);
    WriteChromaResidual(s, mb, c, r.chromaTotalCoeff);
}

// Raster index of the first 4x4 block of 8x8 quadrant q.
constexpr int QuadrantFirstBlock(int q) {
    return (q >> 1) * 8 + (q & 1) * 2;
}

// The partitions of a shape in coding order, as (x, y, width, height) in 4x4 blocks.
struct PartitionRect {
    int x, y, w, h;
};
inline int ShapePartitions(int32_t shape, PartitionRect* out) {
    switch (shape) {
        case kPart16x8:
            out[0] = {0, 0, 4, 2}, out[1] = {0, 2, 4, 2};
            return 2;
        case kPart8x16:
            out[0] = {0, 0, 2, 4}, out[1] = {2, 0, 2, 4};
            return 2;
        case kPart8x8:
            for (int i = 0; i < 4; ++i)
                out[i] = {2 * (i & 1), 2 * (i >> 1), 2, 2};
            return 4;
        default:
            out[0] = {0, 0, 4, 4};
            return 1;
    }
}

// The motion partitions of a shape in coding order: for 8x8, each quadrant's
// sub-partitions (8x8, 8x4, 4x8 or 4x4 by `sub`), up to 16.
inline int MotionPartitions(int32_t shape, const int8_t* sub, PartitionRect* out) {
    if (shape != kPart8x8) return ShapePartitions(shape, out);
    int n = 0;
    for (int q = 0; q < 4; ++q) {
        const int x = 2 * (q & 1), y = 2 * (q >> 1);
        switch (sub[q]) {
            case kSub8x4:
                out[n++] = {x, y, 2, 1}, out[n++] = {x, y + 1, 2, 1};
                break;
            case kSub4x8:
                out[n++] = {x, y, 1, 2}, out[n++] = {x + 1, y, 1, 2};
                break;
            case kSub4x4:
                for (int i = 0; i < 4; ++i)
                    out[n++] = {x + (i & 1), y + (i >> 1), 1, 1};
                break;
            default:
                out[n++] = {x, y, 2, 2};
        }
    }
    return n;
}

// ref_idx_lX: te(v) when the list has two active references, ue(v) beyond (clause 9.1).
template <common::BitSink Sink>
void WriteRefIdx(Sink& s, int ref, int active) {
    if (active == 2)
        s.PutBits(1, ref ? 0u : 1u);
    else if (active > 2)
        s.PutUe(static_cast<uint32_t>(ref));
}

// One inter macroblock_layer of a P or B slice (kinds 3, 4, 5, 8): mb_type, the
// sub_mb_types of P_8x8 and B_8x8 (Tables 7-17, 7-18), reference indices, vector differences, coded block
// pattern, mb_qp_delta and residual.
template <common::BitSink Sink>
void WriteInterMacroblock(Sink& s, const CMbContext& mb, const InterCandidate& cand, const LumaResult& l,
                          const ChromaResult& c, int32_t qpDelta) {
    MbRecord& r = *mb.current;
    const int cbp = (l.cbp & 15) | c.cbp;
    const int* active = mb.references->count;
    PartitionRect parts[4];
    const int n = mb.kind == kMbBDirect16x16 ? 0 : ShapePartitions(cand.shape, parts);
    bool p8x8ref0 = mb.sliceType == kSliceP && cand.shape == kPart8x8 && active[0] > 1;
    for (int q = 0; q < 4 && p8x8ref0; ++q)
        p8x8ref0 = cand.motion[0][QuadrantFirstBlock(q)].ref == 0;
    if (mb.kind == kMbBDirect16x16) {
        s.PutUe(0);
    } else if (mb.sliceType == kSliceP) {
        // P_L0_16x16, P_L0_L0_16x8, P_L0_L0_8x16, P_8x8; P_8x8ref0 (4) where every
        // quadrant uses reference 0 and ref_idx would be coded.
        s.PutUe(p8x8ref0 ? 4u : static_cast<uint32_t>(cand.shape));
        if (cand.shape == kPart8x8)
            for (int i = 0; i < 4; ++i)
                s.PutUe(static_cast<uint32_t>(cand.subShape[i]));  // P_L0_8x8, _8x4, _4x8, _4x4
    } else if (cand.shape == kPart8x8) {
        s.PutUe(22);  // B_8x8, then B_Direct_8x8 or the direction and sub-block shape (Table 7-18)
        for (int q = 0; q < 4; ++q) {
            const int b = QuadrantFirstBlock(q);
            const bool l0 = cand.motion[0][b].ref >= 0, l1 = cand.motion[1][b].ref >= 0;
            const int32_t direction = l0 && l1 ? kPredBi : l1 ? kPredL1 : kPredL0;
            s.PutUe((cand.directQuadrants >> q & 1)
                        ? 0u
                        : static_cast<uint32_t>(ComputeSubMbType(kSliceB, cand.subShape[q], direction)));
        }
    } else {
        // B_L0_16x16, B_L1_16x16, B_Bi_16x16 (Table 7-14).
        const bool l0 = cand.motion[0][0].ref >= 0, l1 = cand.motion[1][0].ref >= 0;
        s.PutUe(l0 && l1 ? 3u : l1 ? 2u : 1u);
    }
    for (int list = 0; list < 2; ++list)
        for (int i = 0; i < n; ++i) {
            const MotionEntry& m = cand.motion[list][4 * parts[i].y + parts[i].x];
            if (m.ref >= 0 && !cand.IsDirectAt(parts[i].x, parts[i].y) && !p8x8ref0)
                WriteRefIdx(s, m.ref, active[list]);
        }
    PartitionRect sub[16];
    const int ns = mb.kind == kMbBDirect16x16 ? 0 : MotionPartitions(cand.shape, cand.subShape, sub);
    for (int list = 0; list < 2; ++list)
        for (int i = 0; i < ns; ++i) {
            const int b = 4 * sub[i].y + sub[i].x;
            if (cand.motion[list][b].ref < 0 || cand.IsDirectAt(sub[i].x, sub[i].y)) continue;
            s.PutSe(cand.delta[list][b].x);
            s.PutSe(cand.delta[list][b].y);
        }
    s.PutUe(static_cast<uint32_t>(common::CbpCodeNum(cbp >> 4 << 4 | (cbp & 15), false)));
    if (cbp != 0) s.PutSe(qpDelta);
    WriteLuma4x4Residual(s, mb, l, r.totalCoeff);
    WriteChromaResidual(s, mb, c, r.chromaTotalCoeff);
}

// The macroblock layer of the chosen coding of `mb` (intra, I_PCM or inter; not skipped).
template <common::BitSink Sink>
void WriteMacroblockLayer(Sink& s, const CMbContext& mb, const LumaResult& l, const ChromaResult& c, int32_t qpDelta) {
    if (mb.kind == kMbIntraPcm)
        WritePcmMacroblock(s, mb);
    else if (IsIntraKind(mb.kind))
        WriteIntraMacroblock(s, mb, l, c, qpDelta);
    else
        WriteInterMacroblock(s, mb, *mb.candidate, l, c, qpDelta);
}

}  // namespace cavlc

// The slice-level state of CAVLC writing: the QP the next mb_qp_delta is relative to and
// the run of skipped macroblocks not yet written.
class CCavlcWriter {
public:
    void BeginSlice(int32_t sliceQp) {
        lastQp_ = sliceQp;
        skipRun_ = 0;
    }

    // Writes the chosen macroblock of `mb` and settles its record's QP fields: a
    // macroblock without mb_qp_delta keeps the QP before it, as the decoder infers.
    template <common::BitSink Sink>
    uint32_t EncodeMacroblock(Sink& s, CMbContext& mb) {
        const uint64_t before = s.BitCount();
        MbRecord& rec = *mb.current;
        if (mb.kind == kMbSkipped) {
            // mb_skip_run (clause 7.3.4): written before the next coded macroblock, or at
            // once when the slice ends here. The QP stays the predicted one.
            std::fill(rec.totalCoeff, rec.totalCoeff + 16, uint8_t{0});
            std::fill(&rec.chromaTotalCoeff[0][0], &rec.chromaTotalCoeff[0][0] + 8, uint8_t{0});
            rec.qpDelta = kNoQpDelta;
            rec.qp = static_cast<uint8_t>(lastQp_);
            rec.chromaQp = static_cast<uint8_t>(ChromaQp(lastQp_));
            ++skipRun_;
            if (mb.lastInSlice) s.PutUe(skipRun_), skipRun_ = 0;
            return static_cast<uint32_t>(s.BitCount() - before);
        }
        if (mb.sliceType != kSliceI) s.PutUe(skipRun_), skipRun_ = 0;
        if (mb.kind == kMbIntraPcm) {
            cavlc::WritePcmMacroblock(s, mb);
            // The loop filter takes QP 0 for I_PCM (clause 8.7.2.2); the QP predicted for
            // the next macroblock stays the one before.
            mb.current->qpDelta = kNoQpDelta;
            mb.current->qp = 0;
            mb.current->chromaQp = static_cast<uint8_t>(ChromaQp(0));
            return static_cast<uint32_t>(s.BitCount() - before);
        }
        const bool hasDelta = mb.cbp != 0 || mb.kind == kMbIntra16x16;
        const int32_t delta = hasDelta ? WrapQpDelta(mb.qp - lastQp_) : 0;
        cavlc::WriteMacroblockLayer(s, mb, mb.luma(), mb.chroma(), delta);
        MbRecord& r = rec;
        if (hasDelta) {
            lastQp_ = mb.qp;
            r.qpDelta = static_cast<uint8_t>(delta + kNoQpDelta);
        } else {
            r.qpDelta = kNoQpDelta;
        }
        r.qp = static_cast<uint8_t>(lastQp_);
        r.chromaQp = static_cast<uint8_t>(ChromaQp(lastQp_));
        return static_cast<uint32_t>(s.BitCount() - before);
    }

    // The mb_qp_delta the next macroblock with a delta would code for `qp`.
    int32_t DeltaFor(int32_t qp) const { return WrapQpDelta(qp - lastQp_); }
    int32_t lastQp() const { return lastQp_; }

private:
    int32_t lastQp_ = 26;
    uint32_t skipRun_ = 0;
};

}  // namespace ombrisk
