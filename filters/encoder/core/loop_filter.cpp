#include "filters/encoder/core/loop_filter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/dsp/deblock_kernels.h"
#include "filters/encoder/core/kernel_table.h"
#include "filters/encoder/core/mb_syntax.h"

namespace ombrisk {

namespace {

bool IsIntra(const MbRecord& r) {
    return r.kind == kMbIntra4x4 || r.kind == kMbIntra16x16 || r.kind == kMbIntraPcm;
}

// 1 when two inter 4x4 blocks' motion differs as clause 8.7.2.1 counts it: other
// reference pictures (by identity, the spare byte of a motion entry) or another number of
// vectors, or a vector of the same picture 4 or more quarter samples apart.
bool FarApart(const MotionEntry& a, const MotionEntry& b) {
    return std::abs(a.x - b.x) >= 4 || std::abs(a.y - b.y) >= 4;
}

int MotionStrength(const MbRecord& p, int bp, const MbRecord& q, int bq) {
    const MotionEntry* a[2];
    const MotionEntry* b[2];
    int na = 0, nb = 0;
    for (int list = 0; list < 2; ++list) {
        if (p.motion[list][bp].ref >= 0) a[na++] = &p.motion[list][bp];
        if (q.motion[list][bq].ref >= 0) b[nb++] = &q.motion[list][bq];
    }
    if (na != nb) return 1;
    if (na == 0) return 0;
    if (na == 1) return (a[0]->spare != b[0]->spare || FarApart(*a[0], *b[0])) ? 1 : 0;
    const bool samePictures = (a[0]->spare == b[0]->spare && a[1]->spare == b[1]->spare) ||
                              (a[0]->spare == b[1]->spare && a[1]->spare == b[0]->spare);
    if (!samePictures) return 1;
    if (a[0]->spare != a[1]->spare) {
        // Two different pictures: compare the vectors that refer to the same one.
        if (a[0]->spare == b[0]->spare) return (FarApart(*a[0], *b[0]) || FarApart(*a[1], *b[1])) ? 1 : 0;
        return (FarApart(*a[0], *b[1]) || FarApart(*a[1], *b[0])) ? 1 : 0;
    }
    // Both vectors of both blocks refer to one picture: either pairing may match.
    const bool straight = FarApart(*a[0], *b[0]) || FarApart(*a[1], *b[1]);
    const bool crossed = FarApart(*a[0], *b[1]) || FarApart(*a[1], *b[0]);
    return (straight && crossed) ? 1 : 0;
}

// Whether two 4x4 blocks carry the same bytes of motion in both lists: then their motion
// cannot differ as clause 8.7.2.1 counts it (strength 0 without coefficients). Blocks of
// one partition, and of skipped or 16x16 neighbours, pass this cheap test; only the others
// need MotionStrength.
bool SameMotion(const MbRecord& p, int bp, const MbRecord& q, int bq) {
    return std::memcmp(&p.motion[0][bp], &q.motion[0][bq], sizeof(MotionEntry)) == 0 &&
           std::memcmp(&p.motion[1][bp], &q.motion[1][bq], sizeof(MotionEntry)) == 0;
}

// Whether every 4x4 block of a macroblock carries the motion of block 0 in both lists
// (skipped, direct 16x16 and 16x16 macroblocks): each list equals itself shifted by one.
bool UniformMotion(const MbRecord& r) {
    return std::memcmp(&r.motion[0][1], &r.motion[0][0], 15 * sizeof(MotionEntry)) == 0 &&
           std::memcmp(&r.motion[1][1], &r.motion[1][0], 15 * sizeof(MotionEntry)) == 0;
}

// The strengths of a macroblock edge between two inter macroblocks: segment s joins block
// pb[s] of p and qb[s] of q. A segment whose two blocks carry the motion of the segment
// before them takes its motion strength; with `uniform` (each macroblock of one motion) the
// whole edge costs one comparison.
void EdgeStrengths(const MbRecord& p, const int* pb, const MbRecord& q, const int* qb, bool uniform, uint8_t* out) {
    if (uniform) {
        const uint8_t motion = SameMotion(p, 0, q, 0) ? 0 : static_cast<uint8_t>(MotionStrength(p, 0, q, 0));
        for (int s = 0; s < 4; ++s)
            out[s] = ((p.nonzeroMask >> pb[s]) & 1) || ((q.nonzeroMask >> qb[s]) & 1) ? 2 : motion;
        return;
    }
    int motion = -1;
    for (int s = 0; s < 4; ++s) {
        if (s > 0 && !(SameMotion(p, pb[s], p, pb[s - 1]) && SameMotion(q, qb[s], q, qb[s - 1]))) motion = -1;
        if (((p.nonzeroMask >> pb[s]) & 1) || ((q.nonzeroMask >> qb[s]) & 1)) {
            out[s] = 2;
            continue;
        }
        if (motion < 0) motion = SameMotion(p, pb[s], q, qb[s]) ? 0 : MotionStrength(p, pb[s], q, qb[s]);
        out[s] = static_cast<uint8_t>(motion);
    }
}

}  // namespace

CLoopFilter::CLoopFilter(const EncoderBlock& block) : block_(block) {}

void CLoopFilter::ComputeStrengths(CRefPictureStore* pic, int firstRow, int endRow) const {
    const int cols = block_.macroblocks.columns, rows = std::min(block_.macroblocks.rows, endRow);
    const int stride = pic->recordStride();
    for (int y = std::max(firstRow, 0); y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            MbRecord& r = pic->records()[y * stride + x];
            const MbRecord* left = x > 0 ? &r - 1 : nullptr;
            const MbRecord* top = y > 0 ? &r - stride : nullptr;
            r.edgeQp[0] = left ? static_cast<uint8_t>((left->qp + r.qp + 1) >> 1) : r.qp;
            r.edgeQp[1] = top ? static_cast<uint8_t>((top->qp + r.qp + 1) >> 1) : r.qp;
            r.edgeChromaQp[0] = left ? static_cast<uint8_t>((left->chromaQp + r.chromaQp + 1) >> 1) : r.chromaQp;
            r.edgeChromaQp[1] = top ? static_cast<uint8_t>((top->chromaQp + r.chromaQp + 1) >> 1) : r.chromaQp;
            const bool intra = IsIntra(r);
            static constexpr int kLeftCol[4] = {0, 4, 8, 12}, kRightCol[4] = {3, 7, 11, 15};
            static constexpr int kTopRow[4] = {0, 1, 2, 3}, kBottomRow[4] = {12, 13, 14, 15};
            const bool uniform = !intra && UniformMotion(r);
            if (!left)
                std::fill(r.strengthV[0], r.strengthV[0] + 4, uint8_t{0});
            else if (intra || IsIntra(*left))
                std::fill(r.strengthV[0], r.strengthV[0] + 4, uint8_t{4});
            else
                EdgeStrengths(r, kLeftCol, *left, kRightCol, uniform && UniformMotion(*left), r.strengthV[0]);
            if (!top)
                std::fill(r.strengthH[0], r.strengthH[0] + 4, uint8_t{0});
            else if (intra || IsIntra(*top))
                std::fill(r.strengthH[0], r.strengthH[0] + 4, uint8_t{4});
            else
                EdgeStrengths(r, kTopRow, *top, kBottomRow, uniform && UniformMotion(*top), r.strengthH[0]);
            if (intra) {
                for (int e = 1; e < 4; ++e) {
                    std::fill(r.strengthV[e], r.strengthV[e] + 4, uint8_t{3});
                    std::fill(r.strengthH[e], r.strengthH[e] + 4, uint8_t{3});
                }
            } else if (uniform) {
                // One motion inside: only coefficients raise an inner edge's strength.
                const uint32_t nz = r.nonzeroMask & 0xFFFF;
                const uint32_t nzV = nz | (nz << 1), nzH = nz | (nz << 4);
                for (int e = 1; e < 4; ++e)
                    for (int s = 0; s < 4; ++s) {
                        r.strengthV[e][s] = ((nzV >> (4 * s + e)) & 1) ? 2 : 0;
                        r.strengthH[e][s] = ((nzH >> (4 * e + s)) & 1) ? 2 : 0;
                    }
            } else {
                // Bit b of nzV / nzH: block b or its left / upper neighbour in the macroblock
                // has coefficients (strength 2 on the inner edge before block b).
                const uint32_t nz = r.nonzeroMask & 0xFFFF;
                const uint32_t nzV = nz | (nz << 1), nzH = nz | (nz << 4);
                for (int e = 1; e < 4; ++e)
                    for (int s = 0; s < 4; ++s) {
                        const int bv = 4 * s + e, bh = 4 * e + s;
                        r.strengthV[e][s] = ((nzV >> bv) & 1)              ? 2
                                            : SameMotion(r, bv, r, bv - 1) ? 0
                                                                           : MotionStrength(r, bv, r, bv - 1);
                        r.strengthH[e][s] = ((nzH >> bh) & 1)              ? 2
                                            : SameMotion(r, bh, r, bh - 4) ? 0
                                                                           : MotionStrength(r, bh, r, bh - 4);
                    }
            }
            uint64_t words[4];
            std::memcpy(words, r.strengthV, 16);
            std::memcpy(words + 2, r.strengthH, 16);
            const uint64_t any = words[0] | words[1] | words[2] | words[3];
            r.filter = any != 0;
        }
}

namespace {

// indexA and indexB of an edge: the averaged QP itself (no slice offsets).
common::DeblockThresholds Thresholds(int qpAv) {
    const int index = std::clamp(qpAv, 0, 51);
    return common::ThresholdsOf(index, index);
}

}  // namespace

void CLoopFilter::FilterLumaMacroblock(CRefPictureStore* pic, int x, int y) const {
    const int rs = pic->recordStride(), s = pic->lumaStride();
    const MbRecord& r = pic->records()[y * rs + x];
    if (!r.filter) return;
    const common::DeblockKernels& k = KernelTable().deblock;
    uint8_t* mb = pic->luma() + 16 * (y * s + x);
    // Edge 0 of a macroblock without a left or top neighbour has bS 0 throughout.
    for (int e = 0; e < 4; ++e) {
        const common::DeblockThresholds t = Thresholds(e == 0 ? r.edgeQp[0] : r.qp);
        if (t.alpha != 0) common::FilterLumaEdge(k, true, mb + 4 * e, s, r.strengthV[e], t);
    }
    for (int e = 0; e < 4; ++e) {
        const common::DeblockThresholds t = Thresholds(e == 0 ? r.edgeQp[1] : r.qp);
        if (t.alpha != 0) common::FilterLumaEdge(k, false, mb + 4 * e * s, s, r.strengthH[e], t);
    }
}

void CLoopFilter::FilterLuma(CRefPictureStore* pic) const {
    for (int y = 0; y < block_.macroblocks.rows; ++y)
        for (int x = 0; x < block_.macroblocks.columns; ++x)
            FilterLumaMacroblock(pic, x, y);
}

void CLoopFilter::FilterChroma(CRefPictureStore* pic) const {
    for (int y = 0; y < block_.macroblocks.rows; ++y)
        for (int x = 0; x < block_.macroblocks.columns; ++x)
            FilterChromaMacroblock(pic, x, y);
}

void CLoopFilter::FilterChromaMacroblock(CRefPictureStore* pic, int x, int y) const {
    const int rs = pic->recordStride(), s = pic->chromaStride();
    const MbRecord& r = pic->records()[y * rs + x];
    if (!r.filter) return;
    const common::DeblockKernels& k = KernelTable().deblock;
    uint8_t* cb = pic->cb() + 8 * (y * s + x);
    uint8_t* cr = pic->cr() + 8 * (y * s + x);
    // Chroma edges 0 and 4 take the strengths of luma edges 0 and 2; each luma
    // segment covers two chroma lines. Cb and Cr share their QP.
    for (int ce = 0; ce < 2; ++ce) {
        const common::DeblockThresholds t = Thresholds(ce == 0 ? r.edgeChromaQp[0] : r.chromaQp);
        if (t.alpha != 0) common::FilterChromaEdge(k, true, cb + 4 * ce, cr + 4 * ce, s, r.strengthV[2 * ce], t);
    }
    for (int ce = 0; ce < 2; ++ce) {
        const common::DeblockThresholds t = Thresholds(ce == 0 ? r.edgeChromaQp[1] : r.chromaQp);
        if (t.alpha != 0)
            common::FilterChromaEdge(k, false, cb + 4 * ce * s, cr + 4 * ce * s, s, r.strengthH[2 * ce], t);
    }
}

}  // namespace ombrisk
