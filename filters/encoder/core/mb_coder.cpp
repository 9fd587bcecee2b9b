#include "filters/encoder/core/mb_coder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "filters/encoder/core/cabac_writer.h"

namespace ombrisk {
namespace {

constexpr uint8_t kUnavailableSample = 128;

// Decoding order (clause 6.4.3) of the raster luma 4x4 blocks.
constexpr uint8_t kRasterToScan[16] = {0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15};

inline int Block8x8(int b) {
    return (b >> 3) * 2 + ((b & 3) >> 1);
}
inline int BlockOffset(int b) {
    return (b >> 2) * 64 + (b & 3) * 4;
}

int ListLevels(const CoefficientList& list) {
    int sum = 0;
    for (int i = 0; i < 16 && list.pairs[i].level != 0; ++i)
        sum += std::abs(list.pairs[i].level);
    return sum;
}

bool HasLevelAtBound(const CoefficientList& list) {
    for (int i = 0; i < 16 && list.pairs[i].level != 0; ++i)
        if (std::abs(list.pairs[i].level) >= kMaxCavlcLevel) return true;
    return false;
}

// The packed 4x4 source block b of a packed 16x16 macroblock.
void Extract4x4(const uint8_t* src16, int b, uint8_t* out) {
    const uint8_t* s = src16 + BlockOffset(b);
    for (int y = 0; y < 4; ++y)
        std::memcpy(out + 4 * y, s + 16 * y, 4);
}

// Intra 16x16 modes by the edges they read: vertical the top, horizontal the left, plane
// all three; DC any.
bool Intra16x16ModeAvailable(const CMbContext& mb, int mode) {
    switch (mode) {
        case 0:
            return mb.topAvailable;
        case 1:
            return mb.leftAvailable;
        case 3:
            return mb.topAvailable && mb.leftAvailable && mb.topLeftAvailable;
        default:
            return true;
    }
}

bool ChromaModeAvailable(const CMbContext& mb, int mode) {
    switch (mode) {
        case 1:
            return mb.leftAvailable;
        case 2:
            return mb.topAvailable;
        case 3:
            return mb.topAvailable && mb.leftAvailable && mb.topLeftAvailable;
        default:
            return true;
    }
}

}  // namespace

CMbCoder::BlockCosts CMbCoder::SadCosts() {
    return BlockCosts{
        [](const uint8_t* a, const uint8_t* b) { return KernelTable().sadContiguous4x4(a, b, nullptr, 4, 4, 4); },
        [](const uint8_t* a, const uint8_t* b) { return KernelTable().sadContiguous8x8(a, b, nullptr, 8, 8, 8); },
        [](const uint8_t* a, const uint8_t* b) { return KernelTable().sadContiguous16x16(a, b, nullptr, 16, 16, 16); }};
}

CMbCoder::CMbCoder(const EncoderBlock& block, int32_t level, const CCavlcWriter* writer, const BlockCosts& costs)
    : mb_(block), writer_(writer), cost4_(costs.cost4), cost8_(costs.cost8), cost16_(costs.cost16) {
    switch (block.param(kParMotionSearch)) {
        case 0:
            motion_ = std::make_unique<CZeroMotionPredictor>(*this, mb_, level, cost16_);
            break;
        case 1:
            if (level == kCoderSad)
                motion_ = std::make_unique<CMotionEstimator>(*this, mb_, level, cost16_);
            else
                motion_ = std::make_unique<CPartitionMotionEstimator>(*this, mb_, level, cost16_);
            break;
        default:
            break;
    }
}

std::unique_ptr<CMbCoder> CMbCoder::Create(const EncoderBlock& block, int32_t level, const CCavlcWriter* writer) {
    switch (std::clamp(level, 0, 2)) {
        case kCoderSad:
            return std::make_unique<CMbCoderFast>(block, writer);
        case kCoderSatd:
            return std::make_unique<CMbCoderRefined>(block, writer);
        default:
            return std::make_unique<CMbCoderRdo>(block, writer);
    }
}

CMbCoderFast::CMbCoderFast(const EncoderBlock& block, const CCavlcWriter* writer)
    : CMbCoderFast(block, kCoderSad, writer, SadCosts(), Weights{1, 1, 16, 8, true}) {}

CMbCoderFast::CMbCoderFast(const EncoderBlock& block, int32_t level, const CCavlcWriter* writer,
                           const BlockCosts& costs, const Weights& weights)
    : CMbCoder(block, level, writer, costs), weights_(weights) {}

CMbCoderRefined::CMbCoderRefined(const EncoderBlock& block, const CCavlcWriter* writer)
    : CMbCoderFast(block, kCoderSatd, writer,
                   BlockCosts{KernelTable().satd4x4, KernelTable().satd8x8, KernelTable().satd16x16},
                   // One λ per quarter sample of vector difference, as at level 0:
                   // the unscaled transform sums of the SATD already weigh a textured
                   // residual several times its SAD, and two λ made level 1 spend more
                   // bits than level 0 for less PSNR at high QP.
                   Weights{2, 1, 32, 20, false}) {}

CMbCoderRdo::CMbCoderRdo(const EncoderBlock& block, const CCavlcWriter* writer)
    : CMbCoder(block, kCoderRdo, writer, SadCosts()) {}

void CMbCoder::BeginPicture(CRefPictureStore* picture, int32_t sliceType, const InterReferences* references) {
    mb_.BeginPicture(picture, sliceType, references);
    if (!motion_) return;
    motion_->BeginPicture();
    // Partition shapes are searched in P slices only; B macroblocks stay 16x16 or direct.
    refine_ = motion_->RefineEnabled() && sliceType == kSliceP;
}

void CMbCoder::LoadEdges(Edges* e, const uint8_t* p, int stride, int size) const {
    if (mb_.topAvailable)
        std::memcpy(e->top + 1, p - stride, size);
    else
        std::memset(e->top + 1, kUnavailableSample, size);
    for (int y = 0; y < size; ++y)
        e->left[1 + y] = mb_.leftAvailable ? p[y * stride - 1] : kUnavailableSample;
    e->top[0] = e->left[0] = mb_.topLeftAvailable ? p[-stride - 1] : kUnavailableSample;
}

int CMbCoder::LumaLevels(const LumaResult& l, bool withDc) const {
    int sum = withDc && l.kind == kMbIntra16x16 ? ListLevels(l.dc) : 0;
    for (uint32_t blocks = LumaBlocksOfPattern(l.cbp); blocks != 0; blocks &= blocks - 1)
        sum += ListLevels(l.blocks[std::countr_zero(blocks)]);
    return sum;
}

// Intra 16x16 candidates in order DC, vertical, horizontal, plane; a later mode wins
// only when strictly cheaper.
uint32_t CMbCoder::PredictIntra16x16(int* bestMode) {
    Edges e;
    LoadEdges(&e, mb_.planeLuma, mb_.lumaStride, 16);
    const PredIntraFn* pred = mb_.kernels.predIntra16x16;
    static constexpr int kOrder[4] = {2, 0, 1, 3};
    uint32_t best = std::numeric_limits<uint32_t>::max();
    *bestMode = 2;
    for (int mode : kOrder) {
        if (!Intra16x16ModeAvailable(mb_, mode)) continue;
        pred[mode](pred_[mode], e.top + 1, e.left + 1, mb_.topAvailable, mb_.leftAvailable);
        const uint32_t cost = cost16_(mb_.srcLuma, pred_[mode]);
        if (cost < best) best = cost, *bestMode = mode;
    }
    return best;
}

void CMbCoder::CodeIntra16x16(int knownMode) {
    int bestMode = knownMode;
    if (knownMode < 0) {
        PredictIntra16x16(&bestMode);
    } else {
        Edges e;
        LoadEdges(&e, mb_.planeLuma, mb_.lumaStride, 16);
        mb_.kernels.predIntra16x16[bestMode](pred_[bestMode], e.top + 1, e.left + 1, mb_.topAvailable,
                                             mb_.leftAvailable);
    }
    LumaResult& l = mb_.lumaTrial();
    l.kind = kMbIntra16x16;
    l.mode16 = bestMode;
    l.cbp = mb_.kernels.transformIntra16x16(mb_.srcLuma, l.recon, pred_[bestMode], l.coefs, &l.dc, l.blocks,
                                            &mb_.lumaQuant);
}

void CMbCoder::Block4x4Edges(const LumaResult& l, int b, uint8_t* top, uint8_t* left, int* avail) const {
    const int x = b & 3, y = b >> 2;
    const int s = mb_.lumaStride;
    const uint8_t* pic = mb_.planeLuma + 4 * y * s + 4 * x;  // the block's position in the picture
    const uint8_t* rec = l.recon + BlockOffset(b);
    const bool topOk = y > 0 || mb_.topAvailable;
    const bool leftOk = x > 0 || mb_.leftAvailable;
    bool cornerOk;
    if (x > 0 && y > 0)
        cornerOk = true;
    else if (y == 0 && x > 0)
        cornerOk = mb_.topAvailable;
    else if (x == 0 && y > 0)
        cornerOk = mb_.leftAvailable;
    else
        cornerOk = mb_.topLeftAvailable;
    bool topRightOk;
    if (y == 0)
        topRightOk = x < 3 ? mb_.topAvailable : mb_.topRightAvailable;
    else
        topRightOk = x < 3 && kRasterToScan[b - 3] < kRasterToScan[b];
    const uint8_t* above = y > 0 ? rec - 16 : pic - s;
    const uint8_t* leftCol = x > 0 ? rec - 1 : pic - 1;
    const int leftPitch = x > 0 ? 16 : s;
    if (topOk) {
        std::memcpy(top + 1, above, 4);
        if (topRightOk)
            std::memcpy(top + 5, above + 4, 4);
        else
            std::memset(top + 5, above[3], 4);
    } else {
        std::memset(top + 1, kUnavailableSample, 8);
    }
    for (int i = 0; i < 4; ++i)
        left[1 + i] = leftOk ? leftCol[i * leftPitch] : kUnavailableSample;
    // The corner lies in this macroblock only for blocks off its top row and left column.
    const uint8_t corner = !cornerOk ? kUnavailableSample : (x > 0 && y > 0) ? rec[-17] : pic[-s - 1];
    top[0] = left[0] = corner;
    *avail = (topOk ? 1 : 0) | (leftOk ? 2 : 0) | (cornerOk ? 4 : 0);
}

int CMbCoder::Code4x4Block(LumaResult& l, int b, int mode, const uint8_t* pred) {
    alignas(16) uint8_t src[16];
    Extract4x4(mb_.srcLuma, b, src);
    const int intraRounding = mb_.sliceType == kSliceI ? 0 : 1;
    const int nz = mb_.kernels.transformLuma4x4(src, l.recon + BlockOffset(b), pred, l.coefs + 16 * b, &l.blocks[b],
                                                &mb_.lumaQuant, intraRounding);
    l.modes4[b] = static_cast<int8_t>(mode);
    return nz;
}

namespace {

// Intra 4x4 candidates for the edges present: DC always; vertical, diagonal down-left and
// vertical-left with the top; horizontal and horizontal-up with the left; the three
// diagonal-right modes with top, left and corner. Returns the count.
int Intra4x4Candidates(int avail, int* modes) {
    int n = 0;
    modes[n++] = 2;
    if (avail & 1) modes[n++] = 0, modes[n++] = 3, modes[n++] = 7;
    if (avail & 2) modes[n++] = 1, modes[n++] = 8;
    if ((avail & 7) == 7) modes[n++] = 4, modes[n++] = 5, modes[n++] = 6;
    return n;
}

}  // namespace

void CMbCoder::Predict4x4Candidates(const LumaResult& l, int b, Block4x4Candidates* c) const {
    uint8_t top[9], left[5];
    int avail;
    Block4x4Edges(l, b, top, left, &avail);
    Extract4x4(mb_.srcLuma, b, c->src);
    c->predicted = cavlc::PredictedIntra4x4Mode(mb_, l.modes4, b);
    c->count = Intra4x4Candidates(avail, c->modes);
    const PredIntraFn* predFns = mb_.kernels.predIntra4x4;
    for (int i = 0; i < c->count; ++i)
        predFns[c->modes[i]](c->pred[i], top + 1, left + 1, avail & 1, (avail >> 1) & 1);
}

void CMbCoder::CodeIntra4x4(int penalty) {
    LumaResult& l = mb_.lumaTrial();
    l.kind = kMbIntra4x4;
    l.cbp = 0;
    Block4x4Candidates c;
    for (int b = 0; b < 16; ++b) {
        Predict4x4Candidates(l, b, &c);
        uint32_t best = std::numeric_limits<uint32_t>::max();
        int bestIndex = 0;
        for (int i = 0; i < c.count; ++i) {
            const uint32_t cost = cost4_(c.src, c.pred[i]) + (c.modes[i] == c.predicted ? 0 : penalty);
            if (cost < best) best = cost, bestIndex = i;
        }
        if (Code4x4Block(l, b, c.modes[bestIndex], c.pred[bestIndex])) l.cbp |= 1 << Block8x8(b);
    }
}

void CMbCoder::CodeChromaMode(ChromaResult& c, int mode, const uint8_t* predCb, const uint8_t* predCr) {
    const int rounding = mb_.sliceType == kSliceI ? 0 : 1;
    int any = 0;
    const uint8_t* src[2] = {mb_.srcCb, mb_.srcCr};
    const uint8_t* pred[2] = {predCb, predCr};
    for (int comp = 0; comp < 2; ++comp)
        any |= mb_.kernels.transformChroma(src[comp], c.recon[comp], pred[comp], c.coefs[comp], &c.dc[comp], c.ac[comp],
                                           &mb_.chromaQuant, rounding, mb_.chromaThreshold);
    c.mode = mode;
    c.cbp = (any & 2) ? 32 : (any & 1) ? 16 : 0;
}

void CMbCoder::CodeIntraChroma(int penalty) {
    Edges cb, cr;
    LoadEdges(&cb, mb_.planeCb, mb_.chromaStride, 8);
    LoadEdges(&cr, mb_.planeCr, mb_.chromaStride, 8);
    const PredIntraFn* pred = mb_.kernels.predChroma8x8;
    uint32_t best = std::numeric_limits<uint32_t>::max();
    int bestMode = 0;
    for (int mode = 0; mode < 4; ++mode) {
        if (!ChromaModeAvailable(mb_, mode)) continue;
        uint8_t* pCb = pred_[mode];
        uint8_t* pCr = pred_[mode] + 64;
        pred[mode](pCb, cb.top + 1, cb.left + 1, mb_.topAvailable, mb_.leftAvailable);
        pred[mode](pCr, cr.top + 1, cr.left + 1, mb_.topAvailable, mb_.leftAvailable);
        const uint32_t cost = cost8_(mb_.srcCb, pCb) + cost8_(mb_.srcCr, pCr) + (mode ? penalty : 0);
        if (cost < best) best = cost, bestMode = mode;
    }
    CodeChromaMode(mb_.chromaTrial(), bestMode, pred_[bestMode], pred_[bestMode] + 64);
}

int64_t CMbCoder::CabacRate(int32_t kind) {
    const int32_t kind0 = mb_.kind, cbp0 = mb_.cbp;
    mb_.kind = kind;
    mb_.cbp = kind == kMbSkipped ? 0 : (mb_.lumaTrial().cbp & 15) | mb_.chromaTrial().cbp;
    // The writer reads the chosen sets: the trial sets stand in for them while counting.
    mb_.lumaToggle ^= 1, mb_.chromaToggle ^= 1;
    const uint32_t bits = cabac_->CountMacroblock(mb_);  // 1/256 bit
    mb_.lumaToggle ^= 1, mb_.chromaToggle ^= 1;
    mb_.kind = kind0, mb_.cbp = cbp0;
    return (int64_t{mb_.rdLambda} * bits + 128) >> 8;
}

int64_t CMbCoderRdo::MacroblockRdCost(const LumaResult& l, const ChromaResult& c) {
    // The chroma error counts as in InterRdCost: with luma alone an intra candidate's
    // chroma went uncharged against the inter candidates', and P macroblocks went intra
    // at a higher rate for no less error.
    if (cabac_ && &l == &mb_.lumaTrial() && &c == &mb_.chromaTrial()) return CabacRate(l.kind) + MacroblockSsd(l, c);
    common::BitCounter tally;
    cavlc::WriteIntraMacroblock(tally, mb_, l, c, writer_ ? writer_->DeltaFor(mb_.qp) : 0);
    return int64_t{mb_.rdLambda} * tally.BitCount() + MacroblockSsd(l, c);
}

void CMbCoderRdo::CodeIntraChromaRdo() {
    Edges cb, cr;
    LoadEdges(&cb, mb_.planeCb, mb_.chromaStride, 8);
    LoadEdges(&cr, mb_.planeCr, mb_.chromaStride, 8);
    const PredIntraFn* pred = mb_.kernels.predChroma8x8;
    ChromaResult& c = mb_.chromaTrial();
    int64_t best = std::numeric_limits<int64_t>::max();
    int bestMode = 0;
    for (int mode = 0; mode < 4; ++mode) {
        if (!ChromaModeAvailable(mb_, mode)) continue;
        uint8_t* pCb = pred_[mode];
        uint8_t* pCr = pred_[mode] + 64;
        pred[mode](pCb, cb.top + 1, cb.left + 1, mb_.topAvailable, mb_.leftAvailable);
        pred[mode](pCr, cr.top + 1, cr.left + 1, mb_.topAvailable, mb_.leftAvailable);
        CodeChromaMode(c, mode, pCb, pCr);
        int64_t rate;
        if (cabac_) {
            rate = (int64_t{mb_.rdLambda} * cabac_->CountIntraChroma(mb_, c) + 128) >> 8;
        } else {
            common::BitCounter tally;
            tally.PutUe(static_cast<uint32_t>(mode));
            uint8_t counts[2][4];
            cavlc::WriteChromaResidual(tally, mb_, c, counts);
            rate = int64_t{mb_.rdLambda} * tally.BitCount();
        }
        const int64_t j = rate + mb_.kernels.ssd8x8(mb_.srcCb, c.recon[0]) + mb_.kernels.ssd8x8(mb_.srcCr, c.recon[1]);
        if (j < best) best = j, bestMode = mode;
    }
    CodeChromaMode(c, bestMode, pred_[bestMode], pred_[bestMode] + 64);
}

void CMbCoderRdo::CodeIntra16x16Rdo() {
    Edges e;
    LoadEdges(&e, mb_.planeLuma, mb_.lumaStride, 16);
    const PredIntraFn* pred = mb_.kernels.predIntra16x16;
    static constexpr int kOrder[4] = {2, 0, 1, 3};
    LumaResult& l = mb_.lumaTrial();
    l.kind = kMbIntra16x16;
    int64_t best = std::numeric_limits<int64_t>::max();
    int bestMode = 2;
    for (int mode : kOrder) {
        if (!Intra16x16ModeAvailable(mb_, mode)) continue;
        pred[mode](pred_[mode], e.top + 1, e.left + 1, mb_.topAvailable, mb_.leftAvailable);
        l.mode16 = mode;
        l.cbp = mb_.kernels.transformIntra16x16(mb_.srcLuma, l.recon, pred_[mode], l.coefs, &l.dc, l.blocks,
                                                &mb_.lumaQuant);
        int64_t rate;
        if (cabac_) {
            rate = CabacRate(kMbIntra16x16);  // the chroma trial is the chosen chroma by now
        } else {
            common::BitCounter tally;
            uint8_t counts[16];
            cavlc::WriteLuma16x16Residual(tally, mb_, l, counts);
            rate = int64_t{mb_.rdLambda} * tally.BitCount();
        }
        const int64_t j = rate + mb_.kernels.ssd16x16(mb_.srcLuma, l.recon);
        if (j < best) best = j, bestMode = mode;
    }
    l.mode16 = bestMode;
    l.cbp = mb_.kernels.transformIntra16x16(mb_.srcLuma, l.recon, pred_[bestMode], l.coefs, &l.dc, l.blocks,
                                            &mb_.lumaQuant);
}

void CMbCoderRdo::CodeIntra4x4Rdo() {
    LumaResult& l = mb_.lumaTrial();
    l.kind = kMbIntra4x4;
    l.cbp = 0;
    uint8_t counts[16] = {};
    Block4x4Candidates c;
    for (int b = 0; b < 16; ++b) {
        Predict4x4Candidates(l, b, &c);
        int64_t best = std::numeric_limits<int64_t>::max();
        int bestIndex = 0;
        const int nC = cavlc::LumaNc(mb_, counts, b);
        for (int i = 0; i < c.count; ++i) {
            Code4x4Block(l, b, c.modes[i], c.pred[i]);
            int64_t rate;
            if (cabac_) {
                rate = (int64_t{mb_.rdLambda} * cabac_->CountIntra4x4Block(mb_, l, b, c.predicted) + 128) >> 8;
            } else {
                common::BitCounter tally;
                tally.PutBits(c.modes[i] == c.predicted ? 1 : 4, 0);
                cavlc::WriteResidualBlock(tally, l.blocks[b], 16, nC);
                rate = int64_t{mb_.rdLambda} * tally.BitCount();
            }
            const int64_t j = rate + mb_.kernels.ssd4x4(c.src, l.recon + BlockOffset(b));
            if (j < best) best = j, bestIndex = i;
        }
        if (Code4x4Block(l, b, c.modes[bestIndex], c.pred[bestIndex])) l.cbp |= 1 << Block8x8(b);
        int total = 0;
        while (total < 16 && l.blocks[b].pairs[total].level != 0)
            ++total;
        counts[b] = static_cast<uint8_t>(total);
    }
}

void CMbCoder::CodeMacroblock() {
    mb_.lumaToggle = mb_.chromaToggle = 0;
    mb_.candidate = nullptr;
    if (CodesInter()) motion_->PrepareMacroblock();
    DecideMacroblock();
    mb_.cbp = (mb_.luma().cbp & 15) | mb_.chroma().cbp;
    if (mb_.kind == kMbSkipped) mb_.cbp = 0;
    CheckBitLimit();
}

void CMbCoderFast::DecideMacroblock() {
    if (CodesInter())
        DecideInter();
    else
        DecideIntra();
}

void CMbCoderRdo::DecideMacroblock() {
    if (CodesInter())
        DecideInter();
    else
        DecideIntra();
}

void CMbCoderRdo::DecideIntra() {
    CodeIntraChromaRdo();
    CodeIntra16x16Rdo();
    const int64_t best = MacroblockRdCost(mb_.lumaTrial(), mb_.chromaTrial());
    mb_.kind = kMbIntra16x16;
    mb_.lumaToggle ^= 1;
    if (best > 16 * int64_t{mb_.rdLambda}) {
        CodeIntra4x4Rdo();
        const int64_t j = MacroblockRdCost(mb_.lumaTrial(), mb_.chromaTrial());
        if (j < best) {
            mb_.kind = kMbIntra4x4;
            mb_.lumaToggle ^= 1;
        }
    }
    mb_.chromaToggle ^= 1;
}

void CMbCoderFast::DecideIntra() {
    const int lambda = mb_.lambda;
    CodeIntraChroma(8 * lambda);
    CodeIntra16x16();
    const int c16 = LumaLevels(mb_.lumaTrial(), true);
    mb_.kind = kMbIntra16x16;
    mb_.lumaToggle ^= 1;
    // A DC level held at the CAVLC bound leaves a large error that no level sum shows:
    // intra 4x4, whose levels stay far below the bound, is taken instead.
    const bool dcAtBound = HasLevelAtBound(mb_.luma().dc);
    if ((mb_.luma().cbp & 15) || dcAtBound) {
        CodeIntra4x4(weights_.intra4x4Penalty * lambda);
        const LumaResult& l = mb_.lumaTrial();
        const int c4 = LumaLevels(l, false) + 2 * std::popcount(static_cast<unsigned>(l.cbp & 15));
        if (c4 < c16 || dcAtBound) {
            mb_.kind = kMbIntra4x4;
            mb_.lumaToggle ^= 1;
        }
    }
    mb_.chromaToggle ^= 1;
}

void CMbCoder::CheckBitLimit() {
    if (mb_.kind != kMbSkipped && MayExceedBitLimit() && MacroblockBits() > kMaxMacroblockBits) UsePcm();
}

// A coefficient costs at most 28 level bits and 11 run bits, a block at most 16 token and
// 9 total_zeros bits, the header and the intra modes at most 200 bits: a macroblock with
// fewer coefficients than this bound allows cannot exceed the limit.
bool CMbCoder::MayExceedBitLimit() const {
    const auto count = [](const CoefficientList& list) {
        int n = 0;
        while (n < 16 && list.pairs[n].level != 0)
            ++n;
        return n;
    };
    const LumaResult& l = mb_.luma();
    const ChromaResult& c = mb_.chroma();
    int n = l.kind == kMbIntra16x16 ? count(l.dc) : 0;
    for (uint32_t blocks = LumaBlocksOfPattern(l.cbp); blocks != 0; blocks &= blocks - 1)
        n += count(l.blocks[std::countr_zero(blocks)]);
    for (int comp = 0; comp < 2; ++comp) {
        n += count(c.dc[comp]);
        for (int b = 0; b < 4; ++b)
            n += count(c.ac[comp][b]);
    }
    return n * (28 + 11) + 27 * (16 + 9) + 200 > int(kMaxMacroblockBits);
}

uint32_t CMbCoder::MacroblockBits() {
    common::BitCounter tally;
    cavlc::WriteMacroblockLayer(tally, mb_, mb_.luma(), mb_.chroma(), writer_ ? writer_->DeltaFor(mb_.qp) : 0);
    return static_cast<uint32_t>(tally.BitCount());
}

void CMbCoder::UsePcm() {
    mb_.ChoosePcm();
}

}  // namespace ombrisk
