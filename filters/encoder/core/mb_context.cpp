#include "filters/encoder/core/mb_context.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "filters/encoder/core/quant_tables.h"

namespace ombrisk {

int DecisionLambda(int qp) {
    static constexpr uint8_t kLambda[40] = {1,  1,  1,  1,  2,  2,  2,  2,  3,  3,  3,  4,  4,  4,
                                            5,  6,  6,  7,  8,  9,  10, 11, 13, 14, 16, 18, 20, 23,
                                            25, 29, 32, 36, 40, 45, 51, 57, 64, 72, 81, 91};
    return kLambda[std::clamp(qp - 12, 0, 39)];
}

int RdLambda(int qp) {
    static constexpr uint16_t kLambda[52] = {0,   0,   0,   0,   0,    0,    0,    0,    0,    0,    1,    1,    1,
                                             1,   1,   2,   2,   3,    3,    4,    5,    7,    9,    11,   14,   17,
                                             22,  27,  34,  43,  54,   69,   86,   109,  137,  173,  218,  274,  345,
                                             435, 548, 691, 870, 1097, 1382, 1741, 2193, 2763, 3482, 4387, 5527, 6963};
    return kLambda[std::clamp(qp, 0, 51)];
}

QuantRecord MakeQuantRecord(int qp) {
    QuantRecord q;
    q.qp = qp;
    q.qpDiv6 = qp / 6;
    q.qpMod6 = qp % 6;
    q.qbits = q.qpDiv6 + 15;
    q.offset = (1 << q.qbits) / 3;
    return q;
}

int EliminationBase(int32_t bFrames, int32_t sliceType) {
    if (sliceType == kSliceB) return bFrames > 0 ? 6 : 4;
    static constexpr int kBase[4] = {4, 2, 1, 0};
    return kBase[std::clamp(bFrames, 0, 3)];
}

CMbContext::CMbContext(const EncoderBlock& b) : block(b), kernels(KernelTable()) {}

void CMbContext::BeginPicture(CRefPictureStore* pic, int32_t type, const InterReferences* refs) {
    picture = pic;
    references = refs;
    candidate = nullptr;
    sliceType = type;
    lumaStride = pic->lumaStride();
    chromaStride = pic->chromaStride();
    cachedQp = kInvalidValue;
    eliminationBase = EliminationBase(block.param(kParBFrames), type);
    lumaThreshold = chromaThreshold = eliminationBase;
}

void CMbContext::SetPosition(int x, int y, bool last, uint16_t sliceNumber) {
    mbX = x;
    mbY = y;
    lumaThreshold = chromaThreshold = eliminationBase;
    lastInSlice = last;
    const int stride = picture->recordStride();
    current = picture->records() + y * stride + x;
    left = current - 1;
    top = current - stride;
    topLeft = top - 1;
    topRight = top + 1;
    current->slice = sliceNumber;
    if (sliceFirst >= 0) {
        // Slices coded in parallel: a neighbour belongs to this slice when its address is
        // not before the slice's first (records of other slices are not read; another
        // thread may be writing them).
        const int cols = block.macroblocks.columns, addr = y * cols + x;
        leftAvailable = x > 0 && addr - 1 >= sliceFirst;
        topAvailable = y > 0 && addr - cols >= sliceFirst;
        topLeftAvailable = x > 0 && y > 0 && addr - cols - 1 >= sliceFirst;
        topRightAvailable = x + 1 < cols && y > 0 && addr - cols + 1 >= sliceFirst;
    } else {
        leftAvailable = left->slice == sliceNumber;
        topAvailable = top->slice == sliceNumber;
        topLeftAvailable = topLeft->slice == sliceNumber;
        topRightAvailable = topRight->slice == sliceNumber;
    }
    neighbours.left = leftAvailable ? left : nullptr;
    neighbours.top = topAvailable ? top : nullptr;
    neighbours.topLeft = topLeftAvailable ? topLeft : nullptr;
    neighbours.topRight = topRightAvailable ? topRight : nullptr;
    colocated = {};
    if (references && references->count[1] > 0)
        colocated.record = references->list[1][0]->records() + (current - picture->records());
    candidate = nullptr;
    planeLuma = picture->luma() + 16 * (y * lumaStride + x);
    planeCb = picture->cb() + 8 * (y * chromaStride + x);
    planeCr = picture->cr() + 8 * (y * chromaStride + x);
    kernels.loadMacroblockPixels(planeLuma, planeCb, planeCr, srcLuma, srcCb, srcCr, lumaStride, chromaStride);
    lumaToggle = chromaToggle = 0;
}

void CMbContext::SetQp(int newQp) {
    if (newQp == cachedQp) return;
    cachedQp = newQp;
    qp = newQp;
    chromaQp = ChromaQp(newQp);
    lumaQuant = MakeQuantRecord(qp);
    chromaQuant = MakeQuantRecord(chromaQp);
    lambda = DecisionLambda(qp);
    // B pictures are not referenced: their errors do not propagate, so bits weigh more.
    rdLambda = RdLambda(qp) * (sliceType == kSliceB ? 4 : 1);
    skipThreshold = block.param(kParBFrames) != 0 ? 256 : lambda * 128;
    bPenalty = lambda;
}

void CMbContext::CheckFlatness() {
    sourceVariance = kernels.variance->variance16x16(srcLuma);
    if (sourceVariance < 64) lumaThreshold = chromaThreshold = eliminationBase - (sliceType == kSliceP ? 1 : 0);
}

int64_t CMbContext::DequantisedEnergy() const {
    const LumaResult& l = luma();
    const int qpDiv6 = qp / 6, qpMod6 = qp % 6;
    const auto scale = [&](int k) { return int64_t{kDequantScale[qpMod6][common::kZigZag[k]]} << qpDiv6; };
    int64_t energy = 0;
    if (kind == kMbIntra16x16) {
        const int16_t s = static_cast<int16_t>(scale(0));
        for (int i = 0; i < 16 && l.dc.pairs[i].level != 0; ++i)
            energy += std::abs((l.dc.pairs[i].level * s + 2) >> 2);
    }
    for (uint32_t blocks = LumaBlocksOfPattern(l.cbp); blocks != 0; blocks &= blocks - 1) {
        const CoefficientList& list = l.blocks[std::countr_zero(blocks)];
        for (int k = 0; k < 16 && list.pairs[k].level != 0; ++k)
            energy += std::abs(scale(k) * list.pairs[k].level);
    }
    return energy;
}

void CMbContext::ChoosePcm() {
    LumaResult& l = lumaSets[lumaToggle ^ 1];
    ChromaResult& c = chromaSets[chromaToggle ^ 1];
    std::memcpy(l.recon, srcLuma, sizeof l.recon);
    std::memcpy(c.recon[0], srcCb, sizeof c.recon[0]);
    std::memcpy(c.recon[1], srcCr, sizeof c.recon[1]);
    l.kind = kMbIntraPcm;
    l.cbp = 0;
    c.cbp = 0;
    c.mode = 0;
    kind = kMbIntraPcm;
    cbp = 0;
    candidate = nullptr;
}

void CMbContext::StoreMacroblock() {
    const LumaResult& l = luma();
    const ChromaResult& c = chroma();
    MbRecord& r = *current;
    r.qp = static_cast<uint8_t>(qp);
    r.chromaQp = static_cast<uint8_t>(chromaQp);
    r.qpDelta = kNoQpDelta;
    r.codedBlockPattern = static_cast<uint8_t>(cbp);
    r.kind = kind;
    r.shape = kPart16x16;
    r.chromaMode = c.mode;
    const bool inter = !IsIntraKind(kind) && candidate;
    if (kind == kMbIntra4x4)
        std::memcpy(r.intra4x4Modes, l.modes4, sizeof r.intra4x4Modes);
    else
        std::memset(r.intra4x4Modes, 2, sizeof r.intra4x4Modes);
    if (inter) {
        static_assert(sizeof r.motion == sizeof candidate->motion && sizeof r.motionDelta == sizeof candidate->delta);
        std::memcpy(r.motionDelta, candidate->delta, sizeof r.motionDelta);
        std::memcpy(r.motion, candidate->motion, sizeof r.motion);
        // spare carries the reference's picture identifier for the loop filter.
        static constexpr uint8_t kNoIds[kMaxListRefs] = {};
        for (int list = 0; list < 2; ++list) {
            const uint8_t* ids = references ? references->id[list] : kNoIds;
            for (MotionEntry& m : r.motion[list])
                m.spare = m.ref >= 0 ? ids[m.ref] : 0;
        }
        r.shape = candidate->shape;
    } else {
        std::fill(&r.motion[0][0], &r.motion[0][0] + 32, MotionEntry{});
        std::fill(&r.motionDelta[0][0], &r.motionDelta[0][0] + 32, MotionEntry{});
    }
    // The mask follows the levels actually transmitted: blocks of an 8x8 whose pattern
    // bit is clear are not coded, whatever the transform left in them.
    uint32_t mask = 0;
    for (uint32_t blocks = LumaBlocksOfPattern(cbp); blocks != 0; blocks &= blocks - 1) {
        const int b = std::countr_zero(blocks);
        if (l.blocks[b].pairs[0].level != 0) mask |= 1u << b;
    }
    if (kind == kMbIntra16x16 && l.dc.pairs[0].level != 0)
        mask = 0xFFFF;  // every block of the macroblock carries part of a DC level
    r.nonzeroMask = mask;
    uint8_t* chromaRecon[2] = {const_cast<uint8_t*>(c.recon[0]), const_cast<uint8_t*>(c.recon[1])};
    kernels.storeMacroblockPixels(planeLuma, planeCb, planeCr, const_cast<uint8_t*>(l.recon), chromaRecon[0],
                                  chromaRecon[1], lumaStride, chromaStride);
}

}  // namespace ombrisk
