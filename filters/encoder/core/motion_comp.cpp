#include "filters/encoder/core/motion_comp.h"

#include <algorithm>

#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/kernel_table.h"

namespace ombrisk {
namespace {

inline int Clip255(int v) {
    return std::clamp(v, 0, 255);
}

inline int SixTap(int a, int b, int c, int d, int e, int f) {
    return a - 5 * b + 20 * c + 20 * d - 5 * e + f;
}

// Half-sample grid values (even, even = integer sample) computed from the picture with
// every coordinate clamped (clause 8.4.2.2.1).
class ClampedGrid {
public:
    explicit ClampedGrid(const CRefPictureStore& r) : p_(r.luma()), s_(r.lumaStride()), w_(r.width()), h_(r.height()) {}
    int At(int hx, int hy) const {
        const int x = hx >> 1, y = hy >> 1;
        if (!(hx & 1) && !(hy & 1)) return G(x, y);
        if (!(hy & 1)) return Clip255((Horizontal(x, y) + 16) >> 5);
        if (!(hx & 1))
            return Clip255((SixTap(G(x, y - 2), G(x, y - 1), G(x, y), G(x, y + 1), G(x, y + 2), G(x, y + 3)) + 16) >>
                           5);
        const int j = SixTap(Horizontal(x, y - 2), Horizontal(x, y - 1), Horizontal(x, y), Horizontal(x, y + 1),
                             Horizontal(x, y + 2), Horizontal(x, y + 3));
        return Clip255((j + 512) >> 10);
    }

private:
    int G(int x, int y) const { return p_[std::clamp(y, 0, h_ - 1) * s_ + std::clamp(x, 0, w_ - 1)]; }
    int Horizontal(int x, int y) const {
        return SixTap(G(x - 2, y), G(x - 1, y), G(x, y), G(x + 1, y), G(x + 2, y), G(x + 3, y));
    }
    const uint8_t* p_;
    int s_, w_, h_;
};

// The precomputed half-sample plane (exact where the taps stay in the padding).
struct PlaneGrid {
    const uint8_t* half;
    int stride;
    int At(int hx, int hy) const { return half[hy * stride + hx]; }
};

// Quarter sample at quarter position (qx, qy): a half-grid sample, or the rounded average
// of the two half-grid samples nearest to it (for the diagonal positions, the two whose
// coordinates differ in parity). The pair's offsets are the same for every sample of the
// block; a single sample is averaged with itself.
struct QuarterPair {
    int ax = 0, ay = 0, bx = 0, by = 0;
};
QuarterPair QuarterPairOf(int qx, int qy) {
    const int hx0 = qx >> 1, hy0 = qy >> 1;
    QuarterPair p;
    if ((qx & 1) && !(qy & 1)) {
        p.bx = 1;
    } else if (!(qx & 1) && (qy & 1)) {
        p.by = 1;
    } else if (qx & 1) {
        if ((hx0 ^ hy0) & 1)
            p.bx = p.by = 1;  // (x, y) and (x + 1, y + 1)
        else
            p.ax = 1, p.by = 1;  // (x + 1, y) and (x, y + 1)
    }
    return p;
}

template <class Grid>
void PredictFromGrid(const Grid& g, int qx, int qy, int w, int h, uint8_t* dst, int dstStride) {
    const int hx0 = qx >> 1, hy0 = qy >> 1;
    const auto [ax, ay, bx, by] = QuarterPairOf(qx, qy);
    for (int y = 0; y < h; ++y) {
        uint8_t* d = dst + y * dstStride;
        const int hy = hy0 + 2 * y;
        for (int x = 0; x < w; ++x) {
            const int hx = hx0 + 2 * x;
            d[x] = static_cast<uint8_t>((g.At(hx + ax, hy + ay) + g.At(hx + bx, hy + by) + 1) >> 1);
        }
    }
}

// The fetch row of a block width, or null for widths without one.
const BlockFetchFn* FetchRowOf(int w) {
    const CKernelTable& t = KernelTable();
    return w == 16 ? t.blockFetch16 : w == 8 ? t.blockFetch8 : w == 4 ? t.blockFetch4 : nullptr;
}

}  // namespace

bool InsideSubpelMargin(const CRefPictureStore& ref, int x, int y, int w, int h) {
    // Six-tap reads reach 3 samples beyond the block (+1 for a negative fraction below).
    return x >= 3 - kPlaneBorder && y >= 3 - kPlaneBorder && x + w + 3 <= ref.width() + kPlaneBorder - 1 &&
           y + h + 3 <= ref.height() + kPlaneBorder - 1;
}

void PredictLumaBlock(const CRefPictureStore& ref, int x, int y, int mvx, int mvy, int w, int h, uint8_t* dst,
                      int dstStride) {
    const int qx = 4 * x + mvx, qy = 4 * y + mvy;
    const int ix = qx >> 2, iy = qy >> 2;
    if ((qx & 3) == 0 && (qy & 3) == 0 && ix >= -kPlaneBorder && iy >= -kPlaneBorder &&
        ix + w <= ref.width() + kPlaneBorder && iy + h <= ref.height() + kPlaneBorder) {
        const uint8_t* s = ref.luma() + iy * ref.lumaStride() + ix;
        const BlockFetchFn* row = FetchRowOf(w);
        if (row) {
            row[0](dst, s, nullptr, dstStride, ref.lumaStride(), h);
            return;
        }
        for (int r = 0; r < h; ++r)
            std::copy(s + r * ref.lumaStride(), s + r * ref.lumaStride() + w, dst + r * dstStride);
        return;
    }
    if (InsideSubpelMargin(ref, ix, iy, w, h)) {
        const BlockFetchFn* row = FetchRowOf(w);
        if (row) {
            // Every second sample of every second row of the half-sample plane, averaged
            // with the partner phase (a sample averaged with itself stays itself).
            const QuarterPair pair = QuarterPairOf(qx, qy);
            const int hx0 = qx >> 1, hy0 = qy >> 1, hs = ref.halfStride();
            const uint8_t* a = ref.halfSamples() + (hy0 + pair.ay) * hs + hx0 + pair.ax;
            const uint8_t* b = ref.halfSamples() + (hy0 + pair.by) * hs + hx0 + pair.bx;
            row[a == b ? 2 : 4](dst, a, b, dstStride, 2 * hs, h);
            return;
        }
        PredictFromGrid(PlaneGrid{ref.halfSamples(), ref.halfStride()}, qx, qy, w, h, dst, dstStride);
        return;
    }
    PredictFromGrid(ClampedGrid(ref), qx, qy, w, h, dst, dstStride);
}

bool PredictionSad(const CRefPictureStore& ref, int x, int y, int mvx, int mvy, int w, int h, const uint8_t* src,
                   int srcStride, uint32_t* sad) {
    const CKernelTable& t = KernelTable();
    const SadFn* row = w == 16 ? t.sad16x16 : w == 8 ? t.sad8x8 : w == 4 ? t.sad4x4 : nullptr;
    if (!row) return false;
    const int qx = 4 * x + mvx, qy = 4 * y + mvy;
    const int ix = qx >> 2, iy = qy >> 2;
    // The same cases as PredictLumaBlock: integer samples from the luma plane, the others
    // from the half-sample plane where it is exact.
    if ((qx & 3) == 0 && (qy & 3) == 0) {
        if (ix < -kPlaneBorder || iy < -kPlaneBorder || ix + w > ref.width() + kPlaneBorder ||
            iy + h > ref.height() + kPlaneBorder)
            return false;
        *sad = row[1](src, ref.luma() + iy * ref.lumaStride() + ix, nullptr, srcStride, ref.lumaStride(), h);
        return true;
    }
    if (!InsideSubpelMargin(ref, ix, iy, w, h)) return false;
    const QuarterPair pair = QuarterPairOf(qx, qy);
    const int hx0 = qx >> 1, hy0 = qy >> 1, hs = ref.halfStride();
    const uint8_t* a = ref.halfSamples() + (hy0 + pair.ay) * hs + hx0 + pair.ax;
    const uint8_t* b = ref.halfSamples() + (hy0 + pair.by) * hs + hx0 + pair.bx;
    *sad = a == b ? row[2](src, a, nullptr, srcStride, 2 * hs, h) : row[3](src, a, b, srcStride, 2 * hs, h);
    return true;
}

void PredictChromaBlock(const CRefPictureStore& ref, int component, int x, int y, int mvx, int mvy, int w, int h,
                        uint8_t* dst, int dstStride) {
    const uint8_t* plane = component ? ref.cr() : ref.cb();
    const int stride = ref.chromaStride(), cw = ref.width() / 2, ch = ref.height() / 2;
    const int ix = x + (mvx >> 3), iy = y + (mvy >> 3);
    const int dx = mvx & 7, dy = mvy & 7;
    const int wa = (8 - dx) * (8 - dy), wb = dx * (8 - dy), wc = (8 - dx) * dy, wd = dx * dy;
    const bool inside = ix >= -kPlaneBorder && iy >= -kPlaneBorder && ix + w + 1 <= cw + kPlaneBorder &&
                        iy + h + 1 <= ch + kPlaneBorder;
    if (inside) {
        KernelTable().chromaMotionBlock(plane + y * stride + x, stride, mvx, mvy, w, h, dst, dstStride);
        return;
    }
    const auto at = [&](int px, int py) {
        return int{plane[std::clamp(py, 0, ch - 1) * stride + std::clamp(px, 0, cw - 1)]};
    };
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const int px = ix + c, py = iy + r;
            dst[r * dstStride + c] = static_cast<uint8_t>(
                (wa * at(px, py) + wb * at(px + 1, py) + wc * at(px, py + 1) + wd * at(px + 1, py + 1) + 32) >> 6);
        }
}

void AveragePredictions(uint8_t* dst, const uint8_t* other, int w, int h, int stride) {
    // Member 1 of a fetch row averages its source onto the destination with this rounding.
    const BlockFetchFn* row = FetchRowOf(w);
    if (row) {
        row[1](dst, other, nullptr, stride, stride, h);
        return;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            dst[y * stride + x] = static_cast<uint8_t>((dst[y * stride + x] + other[y * stride + x] + 1) >> 1);
}

}  // namespace ombrisk
