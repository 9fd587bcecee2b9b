// Half-sample interpolation of reference planes (clause 8.4.2.2.1) and chroma motion
// compensation (clause 8.4.2.2.2) of the portable set.
#include <algorithm>

#include "filters/encoder/core/half_pel_rows.h"
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

void InterpolateHalfPel(const uint8_t* plane, uint8_t* out, int16_t* scratch, int stride, int rows, int first,
                        int end) {
    half_pel::BuildRows<half_pel::Scalar>(plane, out, scratch, stride, rows, first, end);
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

void PredictChromaInter(int mbX, int mbY, const PartitionRecord* parts, const ReferenceLists* refs, uint8_t* out) {
    PredictChromaInterWith(&ChromaMotionBlock, mbX, mbY, parts, refs, out);
}

}  // namespace

// out: the Cb prediction (8x8, stride 8) followed by the Cr prediction. A list takes part
// in a partition when the reference index of its first 4x4 block is within the list.
void PredictChromaInterWith(ChromaMotionBlockFn block, int mbX, int mbY, const PartitionRecord* parts,
                            const ReferenceLists* refs, uint8_t* out) {
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
                    block(src, stride, m.x, m.y, w, h, dst, 8);
                    continue;
                }
                uint8_t second[64];
                block(src, stride, m.x, m.y, w, h, second, 8);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        dst[8 * y + x] = static_cast<uint8_t>((dst[8 * y + x] + second[8 * y + x] + 1) >> 1);
            }
            first = false;
        }
    }
}

void InstallPortableMotion(CKernelTable* t) {
    t->interpolateHalfPel = &InterpolateHalfPel;
    t->predictChromaInter = &PredictChromaInter;
    t->chromaMotionBlock = &ChromaMotionBlock;
}

}  // namespace ombrisk
