// Half-sample interpolation of reference planes (clause 8.4.2.2.1) and chroma motion
// compensation (clause 8.4.2.2.2) of the portable set.
#include <algorithm>

#include "filters/encoder/core/inter_prediction.h"
#include "filters/encoder/core/kernels_portable.h"

namespace ombrisk {

void ChromaMotionBlock(const uint8_t* ref, int refStride, int mvx, int mvy, int w, int h, uint8_t* dst, int dstStride) {
    const uint8_t* a = ref + (mvy >> 3) * refStride + (mvx >> 3);
    const int dx = mvx & 7, dy = mvy & 7;
    const int wa = (8 - dx) * (8 - dy), wb = dx * (8 - dy), wc = (8 - dx) * dy, wd = dx * dy;
    for (int y = 0; y < h; ++y, a += refStride, dst += dstStride)
        for (int x = 0; x < w; ++x)
            dst[x] = static_cast<uint8_t>(
                (wa * a[x] + wb * a[x + 1] + wc * a[x + refStride] + wd * a[x + refStride + 1] + 32) >> 6);
}

namespace {

inline uint8_t Clip255(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

inline int SixTap(int a, int b, int c, int d, int e, int f) {
    return a - 5 * b + 20 * c + 20 * d - 5 * e + f;
}

// Each source row y gives output rows 2y (F H F H ...) and 2y + 1 (V C V C ...), each
// 2 * stride long. Taps that reach beyond the rows and stride given repeat the edge sample,
// as the padding of a reference plane does. scratch holds 6 * stride values: the horizontal
// sums (plus the rounding 16) of the six rows under the vertical tap, as a ring. Only the
// output of source rows first .. end - 1 is written (the taps still read the rows around
// them), so disjoint row ranges can be built in parallel, each with its own scratch.
void InterpolateHalfPel(const uint8_t* plane, uint8_t* out, int16_t* scratch, int stride, int rows, int first,
                        int end) {
    first = std::max(first, 0);
    end = std::min(end, rows);
    if (first >= end || stride < 1) return;
    const auto row = [&](int y) { return plane + std::clamp(y, 0, rows - 1) * stride; };
    const auto col = [&](int x) { return std::clamp(x, 0, stride - 1); };
    // The unclipped horizontal sum + 16 lies in -2534..10726: it fits 16 bits.
    const auto fillSums = [&](int y) {
        const uint8_t* s = row(y);
        int16_t* h = scratch + ((y + 6) % 6) * stride;
        const auto edge = [&](int x) {
            h[x] = static_cast<int16_t>(
                SixTap(s[col(x - 2)], s[col(x - 1)], s[x], s[col(x + 1)], s[col(x + 2)], s[col(x + 3)]) + 16);
        };
        const int inner0 = std::min(2, stride), inner1 = std::max(inner0, stride - 3);
        for (int x = 0; x < inner0; ++x)
            edge(x);
        for (int x = inner0; x < inner1; ++x)
            h[x] = static_cast<int16_t>(SixTap(s[x - 2], s[x - 1], s[x], s[x + 1], s[x + 2], s[x + 3]) + 16);
        for (int x = inner1; x < stride; ++x)
            edge(x);
    };
    for (int y = first - 2; y <= first + 2; ++y)
        fillSums(y);
    for (int y = first; y < end; ++y) {
        fillSums(y + 3);
        const int16_t* h[6];
        for (int k = 0; k < 6; ++k)
            h[k] = scratch + ((y - 2 + k + 6) % 6) * stride;
        const uint8_t* r[6];
        for (int k = 0; k < 6; ++k)
            r[k] = row(y - 2 + k);
        uint8_t* fh = out + 2 * y * (2 * stride);
        uint8_t* vc = fh + 2 * stride;
        for (int x = 0; x < stride; ++x) {
            fh[2 * x] = r[2][x];
            fh[2 * x + 1] = Clip255(h[2][x] >> 5);
            const int v = SixTap(r[0][x], r[1][x], r[2][x], r[3][x], r[4][x], r[5][x]);
            vc[2 * x] = Clip255((v + 16) >> 5);
            // The six sums each carry 16; the taps add to 32, so 512 in all: the rounding
            // of (j1 + 512) >> 10.
            vc[2 * x + 1] = Clip255(SixTap(h[0][x], h[1][x], h[2][x], h[3][x], h[4][x], h[5][x]) >> 10);
        }
    }
}

struct Rect {
    int x, y, w, h;  // in 4x4 luma blocks
};

// The motion-compensated rectangles of a partition record, at most 16.
int Partitions(const PartitionRecord& p, Rect out[16]) {
    switch (p.shape) {
        case kPart16x16:
            out[0] = {0, 0, 4, 4};
            return 1;
        case kPart16x8:
            out[0] = {0, 0, 4, 2};
            out[1] = {0, 2, 4, 2};
            return 2;
        case kPart8x16:
            out[0] = {0, 0, 2, 4};
            out[1] = {2, 0, 2, 4};
            return 2;
        default:
            break;
    }
    int n = 0;
    for (int i = 0; i < 4; ++i) {
        const int x = 2 * (i & 1), y = 2 * (i >> 1);
        switch (p.subShape[i]) {
            case kSub8x4:
                out[n++] = {x, y, 2, 1};
                out[n++] = {x, y + 1, 2, 1};
                break;
            case kSub4x8:
                out[n++] = {x, y, 1, 2};
                out[n++] = {x + 1, y, 1, 2};
                break;
            case kSub4x4:
                for (int k = 0; k < 4; ++k)
                    out[n++] = {x + (k & 1), y + (k >> 1), 1, 1};
                break;
            default:
                out[n++] = {x, y, 2, 2};
                break;
        }
    }
    return n;
}

// out: the Cb prediction (8x8, stride 8) followed by the Cr prediction. A list takes part
// in a partition when the reference index of its first 4x4 block is within the list.
void PredictChromaInter(int mbX, int mbY, const PartitionRecord* parts, const ReferenceLists* refs, uint8_t* out) {
    Rect rects[16];
    const int n = Partitions(*parts, rects);
    const int stride = refs->chromaStride;
    for (int i = 0; i < n; ++i) {
        const Rect& r = rects[i];
        const int cx = mbX * 8 + 2 * r.x, cy = mbY * 8 + 2 * r.y, w = 2 * r.w, h = 2 * r.h;
        bool first = true;
        for (int list = 0; list < 2; ++list) {
            const MotionEntry& m = parts->motion[list][4 * r.y + r.x];
            if (m.ref < 0 || m.ref >= refs->count[list]) continue;
            const ChromaReference& ref = refs->list[list][m.ref];
            for (int plane = 0; plane < 2; ++plane) {
                const uint8_t* src = (plane ? ref.cr : ref.cb) + cy * stride + cx;
                uint8_t* dst = out + 64 * plane + 8 * (2 * r.y) + 2 * r.x;
                if (first) {
                    ChromaMotionBlock(src, stride, m.x, m.y, w, h, dst, 8);
                    continue;
                }
                uint8_t second[64];
                ChromaMotionBlock(src, stride, m.x, m.y, w, h, second, 8);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        dst[8 * y + x] = static_cast<uint8_t>((dst[8 * y + x] + second[8 * y + x] + 1) >> 1);
            }
            first = false;
        }
    }
}

}  // namespace

void InstallPortableMotion(CKernelTable* t) {
    t->interpolateHalfPel = &InterpolateHalfPel;
    t->predictChromaInter = &PredictChromaInter;
}

}  // namespace ombrisk
