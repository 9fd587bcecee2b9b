#include "filters/encoder/core/cabac_writer.h"

#include <algorithm>
#include <cstdlib>

#include "filters/encoder/core/cavlc_writer.h"

namespace ombrisk {
namespace {

// ctxIdxBlockCatOffset of coded_block_flag, significance and level contexts (Table 9-40),
// by ctxBlockCat 0 luma DC, 1 luma AC, 2 luma 4x4, 3 chroma DC, 4 chroma AC.
constexpr int kCbfOffset[5] = {0, 4, 8, 12, 16};
constexpr int kSigOffset[5] = {0, 15, 29, 44, 47};
constexpr int kAbsOffset[5] = {0, 10, 20, 30, 39};
constexpr int kCatLumaDc = 0, kCatLumaAc = 1, kCatLuma4x4 = 2, kCatChromaDc = 3, kCatChromaAc = 4;
constexpr uint32_t kCbfLumaDc = 1u << 16;
constexpr int kCbfChromaDcBit = 17, kCbfChromaAcBit = 19;

int Quadrant(int bx, int by) {
    return (by >> 1) * 2 + (bx >> 1);
}

int Direction(const InterCandidate& c, int block) {
    const bool l0 = c.motion[0][block].ref >= 0, l1 = c.motion[1][block].ref >= 0;
    return l0 && l1 ? kPredBi : l1 ? kPredL1 : kPredL0;
}

}  // namespace

CCabacWriter::CCabacWriter(const EncoderBlock& block, size_t capacity)
    : block_(block), code_(capacity), side_(size_t(std::max(block.macroblocks.count, 1))) {
    enc_.Attach(code_.data(), code_.size());
    ctx_.Init(true, 0, 26);
}

const CCabacWriter::Side* CCabacWriter::LeftSide(const CMbContext& mb) const {
    return mb.leftAvailable ? &side_[size_t(mb.mbY * block_.macroblocks.columns + mb.mbX - 1)] : nullptr;
}
const CCabacWriter::Side* CCabacWriter::TopSide(const CMbContext& mb) const {
    return mb.topAvailable ? &side_[size_t((mb.mbY - 1) * block_.macroblocks.columns + mb.mbX)] : nullptr;
}

void CCabacWriter::BeginSlice(int32_t sliceType, int32_t sliceQp, int cabacInitIdc) {
    sliceType_ = sliceType;
    sliceQp_ = sliceQp;
    lastQp_ = sliceQp;
    prevDeltaNonZero_ = false;
    ctx_.Init(sliceType == kSliceI || sliceType == kSliceSI, cabacInitIdc, sliceQp);
    enc_.Attach(code_.data(), code_.size());
    enc_.ResetBins();
}

bool CCabacWriter::EndSlice(common::BitWriter& payload, bool adaptive, uint64_t* bins) {
    enc_.Terminate(1);
    enc_.Flush();
    if (adaptive) chooser_.Remember(ctx_, sliceType_, sliceQp_);
    if (bins) *bins = enc_.bins();
    if (enc_.overflowed()) return false;
    payload.PutBytes(enc_.data(), enc_.size());
    return !payload.Overflowed();
}

void CCabacWriter::ExpGolombBypass(uint32_t value, int k) {
    while (value >= (1u << k)) {
        Bypass(1);
        value -= 1u << k;
        ++k;
    }
    Bypass(0);
    while (k-- > 0)
        Bypass((value >> k) & 1);
}

void CCabacWriter::WriteSkipFlag(const CMbContext& mb, int skipped) {
    const auto cond = [](bool available, const MbRecord* n) { return available && n->kind != kMbSkipped ? 1 : 0; };
    const int inc = cond(mb.leftAvailable, mb.left) + cond(mb.topAvailable, mb.top);
    D((sliceType_ == kSliceB ? 24 : 11) + inc, skipped);
}

// B mb_type bin 0: neighbours that are neither skipped nor direct 16x16 count.
int CCabacWriter::BTypeInc(const CMbContext& mb) {
    const auto cond = [](bool available, const MbRecord* n) {
        return available && n->kind != kMbSkipped && n->kind != kMbBDirect16x16 ? 1 : 0;
    };
    return cond(mb.leftAvailable, mb.left) + cond(mb.topAvailable, mb.top);
}

// mb_type of an intra macroblock by its I-slice value (Table 9-36): in I slices with the
// neighbour context of bin 0 (ctxIdx 3-10), in P and B slices as the suffix after the
// prefix 1 (P) or 111101 (B), with ctxIdx 17-20 and 32-35.
void CCabacWriter::WriteIntraType(const CMbContext& mb, int type) {
    if (sliceType_ == kSliceP) {
        D(14, 1);
    } else if (sliceType_ == kSliceB) {
        D(27 + BTypeInc(mb), 1);
        D(30, 1);
        D(31, 1);
        D(32, 1);
        D(32, 0);
        D(32, 1);
    }
    const bool intraSlice = sliceType_ == kSliceI;
    const int base = intraSlice ? 3 : sliceType_ == kSliceB ? 32 : 17;
    int first = base;
    if (intraSlice) {
        const auto cond = [](bool available, const MbRecord* n) { return available && n->kind != kMbIntra4x4 ? 1 : 0; };
        first += cond(mb.leftAvailable, mb.left) + cond(mb.topAvailable, mb.top);
    }
    D(first, type != 0);
    if (type == 0) return;
    Terminate(type == 25 ? 1 : 0);
    if (type == 25) return;
    const int v = type - 1, luma = v / 12, chroma = (v / 4) % 3, pred = v % 4;
    D(intraSlice ? base + 3 : base + 1, luma);
    D(intraSlice ? base + 4 : base + 2, chroma != 0);
    if (chroma != 0) D(intraSlice ? base + 5 : base + 2, chroma == 2);
    D(intraSlice ? base + 6 : base + 3, pred >> 1);
    D(intraSlice ? base + 7 : base + 3, pred & 1);
}

// mb_type of P and B inter macroblocks (Table 9-37) and their sub_mb_types (Table 9-38).
void CCabacWriter::WriteInterType(const CMbContext& mb, const InterCandidate& c) {
    if (sliceType_ == kSliceP) {
        // P_L0_16x16 000, P_L0_L0_16x8 011, P_L0_L0_8x16 010, P_8x8 001.
        static constexpr uint8_t kBins[4] = {0b000, 0b011, 0b010, 0b001};
        const int bins = kBins[c.shape & 3];
        D(14, 0);
        D(15, bins >> 1 & 1);
        D((bins >> 1 & 1) ? 17 : 16, bins & 1);
        if (c.shape != kPart8x8) return;
        for (int q = 0; q < 4; ++q) {
            // P_L0_8x8 1, P_L0_8x4 00, P_L0_4x8 011, P_L0_4x4 010.
            const int sub = c.subShape[q];
            D(21, sub == kSub8x8);
            if (sub == kSub8x8) continue;
            D(22, sub != kSub8x4);
            if (sub != kSub8x4) D(23, sub == kSub4x8);
        }
        return;
    }
    const int inc = BTypeInc(mb);
    int type;
    if (mb.kind == kMbBDirect16x16) {
        type = 0;
    } else if (c.shape == kPart8x8) {
        type = 22;
    } else {
        static constexpr int kPairs[3][3] = {{0, 4, 8}, {6, 2, 10}, {12, 14, 16}};
        const int d0 = Direction(c, 0);
        const int d1 = Direction(c, c.shape == kPart16x8 ? 8 : 2);
        type = c.shape == kPart16x16 ? 1 + d0 : kPairs[d0][d1] + (c.shape == kPart16x8 ? 4 : 5);
    }
    D(27 + inc, type != 0);
    if (type == 0) return;
    D(30, type > 2);
    if (type <= 2) {
        D(32, type - 1);
    } else if (type <= 10) {
        D(31, 0);
        for (int i = 2; i >= 0; --i)
            D(32, (type - 3) >> i & 1);
    } else if (type == 11 || type == 22) {
        D(31, 1);
        D(32, 1);
        D(32, 1);
        D(32, type == 22);
    } else {
        const int v = type + 4;  // 16..25: five bins
        D(31, 1);
        for (int i = 3; i >= 0; --i)
            D(32, v >> i & 1);
    }
    if (type != 22) return;
    for (int q = 0; q < 4; ++q) {
        const int b = cavlc::QuadrantFirstBlock(q);
        const int sub = (c.directQuadrants >> q & 1) ? 0 : ComputeSubMbType(kSliceB, c.subShape[q], Direction(c, b));
        D(36, sub != 0);
        if (sub == 0) continue;
        D(37, sub > 2);
        if (sub <= 2) {
            D(39, sub - 1);
        } else if (sub <= 6) {
            D(38, 0);
            D(39, (sub - 3) >> 1);
            D(39, (sub - 3) & 1);
        } else if (sub <= 10) {
            D(38, 1);
            D(39, 0);
            D(39, (sub - 7) >> 1);
            D(39, (sub - 7) & 1);
        } else {
            D(38, 1);
            D(39, 1);
            D(39, sub - 11);
        }
    }
}

void CCabacWriter::WriteIntraModes(const CMbContext& mb) {
    const LumaResult& l = mb.luma();
    if (l.kind == kMbIntra4x4) {
        for (int k = 0; k < 16; ++k) {
            const int b = kBlockScanToRaster[k];
            const int predicted = cavlc::PredictedIntra4x4Mode(mb, l.modes4, b);
            WriteIntra4x4Mode(l.modes4[b], predicted);
        }
    }
    WriteChromaMode(mb, mb.chroma().mode);
}

// intra_chroma_pred_mode: truncated unary, cMax 3.
void CCabacWriter::WriteChromaMode(const CMbContext& mb, int mode) {
    const auto cond = [](bool available, const MbRecord* n) {
        return available && IsIntraKind(n->kind) && n->kind != kMbIntraPcm && n->chromaMode != 0 ? 1 : 0;
    };
    D(64 + cond(mb.leftAvailable, mb.left) + cond(mb.topAvailable, mb.top), mode != 0);
    for (int i = 1; i <= mode && i < 3; ++i)
        D(67, i < mode);
}

void CCabacWriter::WriteIntra4x4Mode(int mode, int predicted) {
    D(68, mode == predicted);
    if (mode == predicted) return;
    const int rem = mode < predicted ? mode : mode - 1;
    D(69, rem & 1);
    D(69, rem >> 1 & 1);
    D(69, rem >> 2 & 1);
}

void CCabacWriter::WriteMvd(int ctxBase, int value, int absSum) {
    const int a = std::abs(value);
    D(ctxBase + (absSum < 3 ? 0 : absSum > 32 ? 2 : 1), a != 0);
    if (a == 0) return;
    static constexpr uint8_t kPrefixInc[9] = {0, 3, 4, 5, 6, 6, 6, 6, 6};
    const int prefix = std::min(a, 9);
    for (int i = 1; i < prefix; ++i)
        D(ctxBase + kPrefixInc[i], 1);
    if (a < 9)
        D(ctxBase + kPrefixInc[a], 0);
    else
        ExpGolombBypass(uint32_t(a - 9), 3);
    Bypass(value < 0);
}

void CCabacWriter::WriteMotion(const CMbContext& mb, const InterCandidate& c) {
    const Side* left = LeftSide(mb);
    const Side* top = TopSide(mb);
    const int* active = mb.references->count;
    cavlc::PartitionRect parts[4];
    const int n = cavlc::ShapePartitions(c.shape, parts);
    // ref_idx: ctxIdxInc from the partitions left of and above each partition's first
    // block whose reference index is above 0 (direct-predicted ones count as 0).
    for (int list = 0; list < 2; ++list) {
        if (active[list] <= 1) continue;
        for (int i = 0; i < n; ++i) {
            const int x = parts[i].x, y = parts[i].y;
            const MotionEntry& m = c.motion[list][4 * y + x];
            if (m.ref < 0 || c.IsDirectAt(x, y)) continue;
            const auto inside = [&](int bx, int by) {
                return c.motion[list][4 * by + bx].ref > 0 && !c.IsDirectAt(bx, by) ? 1 : 0;
            };
            const int a = x > 0 ? inside(x - 1, y) : left ? (left->refAbove0[list] >> Quadrant(3, y) & 1) : 0;
            const int b = y > 0 ? inside(x, y - 1) : top ? (top->refAbove0[list] >> Quadrant(x, 3) & 1) : 0;
            const int ref = m.ref;
            D(54 + a + 2 * b, ref > 0);
            for (int k = 1; k <= ref; ++k)
                D(k == 1 ? 58 : 59, k < ref);
        }
    }
    for (int list = 0; list < 2; ++list)
        for (int i = 0; i < n; ++i) {
            const int x = parts[i].x, y = parts[i].y;
            if (c.motion[list][4 * y + x].ref > 0 && !c.IsDirectAt(x, y))
                for (int by = y; by < y + parts[i].h; ++by)
                    for (int bx = x; bx < x + parts[i].w; ++bx)
                        cur_.refAbove0[list] |= uint8_t(1u << Quadrant(bx, by));
        }
    cavlc::PartitionRect sub[16];
    const int ns = cavlc::MotionPartitions(c.shape, c.subShape, sub);
    for (int list = 0; list < 2; ++list)
        for (int i = 0; i < ns; ++i) {
            const int x = sub[i].x, y = sub[i].y, b = 4 * y + x;
            if (c.motion[list][b].ref < 0 || c.IsDirectAt(x, y)) continue;
            const int d[2] = {c.delta[list][b].x, c.delta[list][b].y};
            for (int comp = 0; comp < 2; ++comp) {
                const int a = x > 0 ? cur_.mvd[list][b - 1][comp] : left ? left->mvd[list][b + 3][comp] : 0;
                const int t = y > 0 ? cur_.mvd[list][b - 4][comp] : top ? top->mvd[list][b + 12][comp] : 0;
                WriteMvd(comp == 0 ? 40 : 47, d[comp], a + t);
            }
            for (int by = y; by < y + sub[i].h; ++by)
                for (int bx = x; bx < x + sub[i].w; ++bx)
                    for (int comp = 0; comp < 2; ++comp)
                        cur_.mvd[list][4 * by + bx][comp] = uint8_t(std::min(std::abs(d[comp]), 255));
        }
}

void CCabacWriter::WriteCodedBlockPattern(const CMbContext& mb, int cbp) {
    const Side* left = LeftSide(mb);
    const Side* top = TopSide(mb);
    for (int b8 = 0; b8 < 4; ++b8) {
        const int a = (b8 & 1) ? !(cbp >> (b8 - 1) & 1) : left ? !(left->cbp >> (b8 + 1) & 1) : 0;
        const int b = (b8 & 2) ? !(cbp >> (b8 - 2) & 1) : top ? !(top->cbp >> (b8 + 2) & 1) : 0;
        D(73 + a + 2 * b, cbp >> b8 & 1);
    }
    const int chroma = cbp >> 4;
    const auto cond = [](const Side* n, int bin) { return n && (n->cbp >> 4) > bin ? 1 : 0; };
    D(77 + cond(left, 0) + 2 * cond(top, 0), chroma != 0);
    if (chroma != 0) D(81 + cond(left, 1) + 2 * cond(top, 1), chroma == 2);
}

void CCabacWriter::WriteQpDelta(int32_t delta) {
    const int k = delta > 0 ? 2 * delta - 1 : -2 * delta;
    D(60 + (prevDeltaNonZero_ ? 1 : 0), k != 0);
    for (int i = 1; i <= k; ++i)
        D(i == 1 ? 62 : 63, i < k);
    prevDeltaNonZero_ = delta != 0;
}

void CCabacWriter::WriteBlock(const CoefficientList& list, int cat, int maxCoeff, int cbfInc, uint32_t cbfBit) {
    const CoefficientPair* p = list.pairs;
    int n = 0;
    while (n < maxCoeff && p[n].level != 0)
        ++n;
    D(85 + kCbfOffset[cat] + cbfInc, n != 0);
    if (n == 0) return;
    cur_.cbf |= cbfBit;
    const int sigBase = 105 + kSigOffset[cat], lastBase = 166 + kSigOffset[cat];
    int pos = -1;
    for (int k = 0; k < n; ++k) {
        for (int z = 0; z < p[k].run; ++z) {
            ++pos;
            D(sigBase + (cat == kCatChromaDc ? std::min(pos, 2) : pos), 0);
        }
        ++pos;
        if (pos == maxCoeff - 1) break;  // significance of the last position is inferred
        const int inc = cat == kCatChromaDc ? std::min(pos, 2) : pos;
        D(sigBase + inc, 1);
        D(lastBase + inc, k == n - 1);
    }
    const int absBase = 227 + kAbsOffset[cat];
    const int gt1Cap = cat == kCatChromaDc ? 3 : 4;
    int eq1 = 0, gt1 = 0;
    for (int k = n - 1; k >= 0; --k) {
        const int level = p[k].level;
        const int a = std::abs(level) - 1;  // coeff_abs_level_minus1
        D(absBase + (gt1 != 0 ? 0 : std::min(4, 1 + eq1)), a != 0);
        if (a != 0) {
            const int ctx = absBase + 5 + std::min(gt1Cap, gt1);
            const int prefix = std::min(a, 14);
            for (int i = 1; i < prefix; ++i)
                D(ctx, 1);
            if (a < 14)
                D(ctx, 0);
            else
                ExpGolombBypass(uint32_t(a - 14), 0);
            ++gt1;
        } else {
            ++eq1;
        }
        Bypass(level < 0);
    }
}

void CCabacWriter::WriteResidual(const CMbContext& mb) {
    const Side* left = LeftSide(mb);
    const Side* top = TopSide(mb);
    const bool intra = IsIntraKind(mb.kind);
    const int unavailable = intra ? 1 : 0;
    const auto bit = [unavailable](const Side* n, int index) { return n ? int(n->cbf >> index & 1) : unavailable; };
    const LumaResult& l = mb.luma();
    const ChromaResult& c = mb.chroma();
    const int cbp = cur_.cbp;
    if (mb.kind == kMbIntra16x16) {
        WriteBlock(l.dc, kCatLumaDc, 16, bit(left, 16) + 2 * bit(top, 16), kCbfLumaDc);
    }
    const bool ac = mb.kind == kMbIntra16x16;
    for (int k = 0; k < 16; ++k) {
        if (!(cbp >> (k >> 2) & 1)) continue;
        const int b = kBlockScanToRaster[k];
        const int x = b & 3, y = b >> 2;
        const int a = x > 0 ? int(cur_.cbf >> (b - 1) & 1) : bit(left, b + 3);
        const int t = y > 0 ? int(cur_.cbf >> (b - 4) & 1) : bit(top, b + 12);
        WriteBlock(l.blocks[b], ac ? kCatLumaAc : kCatLuma4x4, ac ? 15 : 16, a + 2 * t, 1u << b);
    }
    WriteChromaResidual(mb, c, cbp >> 4, intra);
}

// The chroma DC (chroma 1 or 2) and AC (chroma 2) blocks of `c` in an intra or inter
// macroblock (an absent neighbour counts as coded for intra ones).
void CCabacWriter::WriteChromaResidual(const CMbContext& mb, const ChromaResult& c, int chroma, bool intra) {
    if (chroma == 0) return;
    const Side* left = LeftSide(mb);
    const Side* top = TopSide(mb);
    const int unavailable = intra ? 1 : 0;
    const auto bit = [unavailable](const Side* n, int index) { return n ? int(n->cbf >> index & 1) : unavailable; };
    for (int comp = 0; comp < 2; ++comp) {
        const int i = kCbfChromaDcBit + comp;
        WriteBlock(c.dc[comp], kCatChromaDc, 4, bit(left, i) + 2 * bit(top, i), 1u << i);
    }
    if (chroma != 2) return;
    for (int comp = 0; comp < 2; ++comp)
        for (int b = 0; b < 4; ++b) {
            const int base = kCbfChromaAcBit + 4 * comp;
            const int x = b & 1, y = b >> 1;
            const int a = x > 0 ? int(cur_.cbf >> (base + b - 1) & 1) : bit(left, base + b + 1);
            const int t = y > 0 ? int(cur_.cbf >> (base + b - 2) & 1) : bit(top, base + b + 2);
            WriteBlock(c.ac[comp][b], kCatChromaAc, 15, a + 2 * t, 1u << (base + b));
        }
}

// I_PCM: mb_type with the terminating bin 1, the end of the arithmetic code, the samples
// at the byte boundary, and a new start of the coder behind them (clause 9.3.1.2).
void CCabacWriter::WritePcm(const CMbContext& mb) {
    WriteIntraType(mb, 25);
    enc_.Flush();
    enc_.PutBytes(mb.srcLuma, 256);
    enc_.PutBytes(mb.srcCb, 64);
    enc_.PutBytes(mb.srcCr, 64);
    enc_.Start();
}

// macroblock_layer of a coded, not I_PCM macroblock; sets cur_ and whether mb_qp_delta
// was coded, and which.
void CCabacWriter::WriteLayer(const CMbContext& mb, bool* hasDelta, int32_t* delta) {
    const LumaResult& l = mb.luma();
    if (IsIntraKind(mb.kind)) {
        const int type =
            mb.kind == kMbIntra4x4 ? 0 : 1 + l.mode16 + 4 * (mb.chroma().cbp >> 4) + ((l.cbp & 15) ? 12 : 0);
        WriteIntraType(mb, type);
        WriteIntraModes(mb);
    } else {
        WriteInterType(mb, *mb.candidate);
        if (mb.kind != kMbBDirect16x16) WriteMotion(mb, *mb.candidate);
    }
    int luma = mb.cbp & 15;
    if (mb.kind == kMbIntra16x16) luma = (l.cbp & 15) ? 15 : 0;
    cur_.cbp = uint8_t(luma | (mb.cbp & 0x30));
    if (mb.kind != kMbIntra16x16) WriteCodedBlockPattern(mb, cur_.cbp);
    *hasDelta = cur_.cbp != 0 || mb.kind == kMbIntra16x16;
    if (*hasDelta) {
        *delta = WrapQpDelta(mb.qp - lastQp_);
        WriteQpDelta(*delta);
        WriteResidual(mb);
    } else {
        prevDeltaNonZero_ = false;
    }
}

// The chosen coding replaced by the source samples: reconstruction, kind and record as the
// macroblock coder leaves an I_PCM macroblock.
void CCabacWriter::ConvertToPcm(CMbContext& mb) {
    mb.ChoosePcm();
    mb.StoreMacroblock();
}

template <class Write>
uint32_t CCabacWriter::Priced(Write write) {
    uint8_t states[kCabacContexts];
    std::copy(ctx_.state, ctx_.state + kCabacContexts, states);
    const Side side = cur_;
    const bool prevDeltaNonZero = prevDeltaNonZero_;
    counting_ = true;
    cost_ = 0;
    cur_ = Side{};
    write();
    counting_ = false;
    std::copy(states, states + kCabacContexts, ctx_.state);
    cur_ = side;
    prevDeltaNonZero_ = prevDeltaNonZero;
    return cost_;
}

uint32_t CCabacWriter::CountMacroblock(const CMbContext& mb) {
    // I_PCM: mb_type, alignment and 384 samples (never a trial of the coder).
    if (mb.kind == kMbIntraPcm) return (8 + 384 * 8) * 256;
    return Priced([&] {
        if (sliceType_ != kSliceI) WriteSkipFlag(mb, mb.kind == kMbSkipped);
        if (mb.kind == kMbSkipped) return;
        bool hasDelta = false;
        int32_t delta = 0;
        WriteLayer(mb, &hasDelta, &delta);
    });
}

uint32_t CCabacWriter::CountIntraChroma(const CMbContext& mb, const ChromaResult& c) {
    return Priced([&] {
        WriteChromaMode(mb, c.mode);
        WriteChromaResidual(mb, c, c.cbp >> 4, true);
    });
}

uint32_t CCabacWriter::CountIntra4x4Block(const CMbContext& mb, const LumaResult& l, int b, int predicted) {
    // coded_block_flag of the neighbours: blocks of this macroblock by their levels (the
    // ones before b in coding order), others from the side records (intra: 1 if absent).
    const auto coded = [&](int block) { return l.blocks[block].pairs[0].level != 0 ? 1 : 0; };
    const Side* left = LeftSide(mb);
    const Side* top = TopSide(mb);
    const int x = b & 3, y = b >> 2;
    const int a = x > 0 ? coded(b - 1) : left ? int(left->cbf >> (b + 3) & 1) : 1;
    const int t = y > 0 ? coded(b - 4) : top ? int(top->cbf >> (b + 12) & 1) : 1;
    return Priced([&] {
        WriteIntra4x4Mode(l.modes4[b], predicted);
        WriteBlock(l.blocks[b], kCatLuma4x4, 16, a + 2 * t, 1u << b);
    });
}

uint32_t CCabacWriter::EncodeMacroblock(CMbContext& mb) {
    const uint64_t before = enc_.BitCount();
    MbRecord& rec = *mb.current;
    cur_ = Side{};
    bool hasDelta = false;
    int32_t delta = 0;
    if (sliceType_ != kSliceI) WriteSkipFlag(mb, mb.kind == kMbSkipped);
    if (mb.kind == kMbSkipped) {
        prevDeltaNonZero_ = false;
    } else if (mb.kind != kMbIntraPcm) {
        // A macroblock_layer may take at most 3200 bits (clause A.3.1 with 7.4.5: the bits
        // the decoder's engine reads while parsing it). One that takes more is coded again
        // as I_PCM from the state before it.
        const CCabacEncoder engine = enc_;
        const uint8_t lastByte = enc_.size() > 0 ? code_[enc_.size() - 1] : 0;
        saved_ = ctx_;
        const bool prevDeltaNonZero = prevDeltaNonZero_;
        const uint64_t start = enc_.BitCount();
        WriteLayer(mb, &hasDelta, &delta);
        if (enc_.BitCount() - start > maxMbBits_) {
            enc_ = engine;
            if (enc_.size() > 0) code_[enc_.size() - 1] = lastByte;
            ctx_ = saved_;
            prevDeltaNonZero_ = prevDeltaNonZero;
            cur_ = Side{};
            hasDelta = false;
            ConvertToPcm(mb);
        }
    }
    if (mb.kind == kMbIntraPcm) {
        WritePcm(mb);
        cur_.cbf = ~0u;
        cur_.cbp = 0x2F;
        prevDeltaNonZero_ = false;
    }
    side_[size_t(mb.mbY * block_.macroblocks.columns + mb.mbX)] = cur_;
    if (mb.kind == kMbIntraPcm) {
        // The loop filter takes QP 0 for I_PCM (clause 8.7.2.2); the QP predicted for the
        // next macroblock stays the one before.
        rec.qpDelta = kNoQpDelta;
        rec.qp = 0;
        rec.chromaQp = static_cast<uint8_t>(ChromaQp(0));
    } else {
        if (hasDelta) {
            lastQp_ = mb.qp;
            rec.qpDelta = static_cast<uint8_t>(delta + kNoQpDelta);
        } else {
            rec.qpDelta = kNoQpDelta;
        }
        rec.qp = static_cast<uint8_t>(lastQp_);
        rec.chromaQp = static_cast<uint8_t>(ChromaQp(lastQp_));
    }
    if (!mb.lastInSlice) enc_.Terminate(0);  // end_of_slice_flag
    return static_cast<uint32_t>(enc_.BitCount() - before);
}

}  // namespace ombrisk
