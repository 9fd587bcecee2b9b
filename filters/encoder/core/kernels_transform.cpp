// The portable block steps of the transform-quantise-reconstruct pipelines, and the
// quantisation tables.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "filters/encoder/core/coefficient_list.h"
#include "filters/encoder/core/kernels_portable.h"
#include "filters/encoder/core/transform_pipelines.h"
#include "filters/encoder/core/quant_tables.h"

namespace ombrisk {

// Position classes: (even, even) a, (odd, odd) b, otherwise c.
#define OMBRISK_QROW(a, b, c) \
    { a, c, a, c, c, b, c, b, a, c, a, c, c, b, c, b }
const int16_t kQuantMultiplier[6][16] = {OMBRISK_QROW(13107, 5243, 8066), OMBRISK_QROW(11916, 4660, 7490),
                                         OMBRISK_QROW(10082, 4194, 6554), OMBRISK_QROW(9362, 3647, 5825),
                                         OMBRISK_QROW(8192, 3355, 5243),  OMBRISK_QROW(7282, 2893, 4559)};
#undef OMBRISK_QROW

namespace {

inline uint8_t Clip255(int v) {
    return static_cast<uint8_t>(v & ~255 ? (~v >> 31) & 255 : v);
}

// The block steps in plain C++ (the loops vectorise where the compiler can).
struct Portable {
    // Forward core transform of src - pred (both with their strides), into raster order.
    static void Forward(const uint8_t* src, int srcStride, const uint8_t* pred, int predStride, int16_t out[16]) {
        int t[16];
        for (int y = 0; y < 4; ++y) {
            const uint8_t* s = src + y * srcStride;
            const uint8_t* p = pred + y * predStride;
            const int d0 = s[0] - p[0], d1 = s[1] - p[1], d2 = s[2] - p[2], d3 = s[3] - p[3];
            const int s03 = d0 + d3, m03 = d0 - d3, s12 = d1 + d2, m12 = d1 - d2;
            t[4 * y + 0] = s03 + s12;
            t[4 * y + 1] = 2 * m03 + m12;
            t[4 * y + 2] = s03 - s12;
            t[4 * y + 3] = m03 - 2 * m12;
        }
        for (int x = 0; x < 4; ++x) {
            const int s03 = t[x] + t[12 + x], m03 = t[x] - t[12 + x];
            const int s12 = t[4 + x] + t[8 + x], m12 = t[4 + x] - t[8 + x];
            out[x] = static_cast<int16_t>(s03 + s12);
            out[4 + x] = static_cast<int16_t>(2 * m03 + m12);
            out[8 + x] = static_cast<int16_t>(s03 - s12);
            out[12 + x] = static_cast<int16_t>(m03 - 2 * m12);
        }
    }

    // Inverse core transform (clause 8.5.12.2) of dequantised d, (r + 32) >> 6 added to the
    // prediction and clipped.
    static void InverseAndAdd(const int d[16], const uint8_t* pred, int predStride, uint8_t* recon, int reconStride) {
        int t[16];
        for (int y = 0; y < 4; ++y) {
            const int* r = d + 4 * y;
            const int e0 = r[0] + r[2], e1 = r[0] - r[2];
            const int e2 = (r[1] >> 1) - r[3], e3 = r[1] + (r[3] >> 1);
            t[4 * y + 0] = e0 + e3;
            t[4 * y + 1] = e1 + e2;
            t[4 * y + 2] = e1 - e2;
            t[4 * y + 3] = e0 - e3;
        }
        for (int x = 0; x < 4; ++x) {
            const int e0 = t[x] + t[8 + x], e1 = t[x] - t[8 + x];
            const int e2 = (t[4 + x] >> 1) - t[12 + x], e3 = t[4 + x] + (t[12 + x] >> 1);
            const int h[4] = {e0 + e3, e1 + e2, e1 - e2, e0 - e3};
            for (int y = 0; y < 4; ++y)
                recon[y * reconStride + x] = Clip255(pred[y * predStride + x] + ((h[y] + 32) >> 6));
        }
    }

    static uint32_t Quantise(const int16_t c[16], const int16_t* mf, const int16_t* limit, uint32_t offset, int qbits,
                             int16_t levels[16]) {
        uint32_t nonzero = 0;
        for (int r = 0; r < 16; ++r) {
            const int a =
                std::min(static_cast<int>(
                             (static_cast<uint32_t>(std::abs(c[r])) * static_cast<uint32_t>(mf[r]) + offset) >> qbits),
                         int{limit[r]});
            levels[r] = static_cast<int16_t>(c[r] < 0 ? -a : a);
            nonzero |= uint32_t{a != 0} << r;
        }
        return nonzero;
    }

    static void Dequantise(const int16_t levels[16], const QuantRecord& q, int d[16]) {
        const int16_t* v = kDequantScale[q.qpMod6];
        for (int r = 0; r < 16; ++r)
            d[r] = (levels[r] * v[r]) * (1 << q.qpDiv6);
    }
};

}  // namespace

void InstallPortableTransforms(CKernelTable* t) {
    t->transformLuma4x4 = &transform::Luma4x4<Portable>;
    t->transformIntra16x16 = &transform::Intra16x16<Portable>;
    t->transformInter16x16 = &transform::Inter16x16<Portable>;
    t->transformChroma = &transform::Chroma<Portable>;
}

}  // namespace ombrisk
