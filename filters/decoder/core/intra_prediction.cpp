#include "filters/decoder/core/intra_prediction.h"

#include <cstring>

#include "filters/decoder/core/kernel_table.h"

namespace avcdec {

namespace {

inline uint8_t Clip1(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

template <int kSize>
void PlaneFill(uint8_t* pred, int predPitch, int a, int b, int c) {
    constexpr int centre = kSize / 2 - 1;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            pred[y * predPitch + x] = Clip1((a + b * (x - centre) + c * (y - centre) + 16) >> 5);
}

// Rows of kN bytes: the value (memset) or the row above (memcpy), sizes fixed so that the
// compiler stores whole rows instead of calling the library; pred may be the picture
// itself, whose rows never overlap the samples they are made from.
template <int kN>
void FillRows(uint8_t* pred, int predPitch, int value) {
    for (int y = 0; y < kN; ++y)
        std::memset(pred + y * predPitch, value, kN);
}

template <int kN>
void CopyRowAbove(uint8_t* pred, int predPitch, const uint8_t* above) {
    uint8_t row[kN];
    std::memcpy(row, above, kN);
    for (int y = 0; y < kN; ++y)
        std::memcpy(pred + y * predPitch, row, kN);
}

template <int kN>
void CopyLeftColumn(uint8_t* pred, int predPitch, const uint8_t* src, int pitch) {
    for (int y = 0; y < kN; ++y)
        std::memset(pred + y * predPitch, src[y * pitch - 1], kN);
}

}  // namespace

void intra_plane_16x16_c(uint8_t* pred, int predPitch, int a, int b, int c) {
    PlaneFill<16>(pred, predPitch, a, b, c);
}

void intra_plane_8x8_c(uint8_t* pred, int predPitch, int a, int b, int c) {
    PlaneFill<8>(pred, predPitch, a, b, c);
}

namespace {

// Vertical, horizontal and DC, the most frequent modes, by rows straight from the
// neighbouring samples (128 for those unavailable).
template <int kMode>
void Intra4x4Rows(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch) {
    int left[4] = {128, 128, 128, 128};
    if (kMode != 0 && a.left) {
        for (int y = 0; y < 4; ++y)
            left[y] = src[y * pitch - 1];
    }
    if constexpr (kMode == 1) {
        for (int y = 0; y < 4; ++y)
            std::memset(pred + y * predPitch, left[y], 4);
        return;
    }
    uint8_t row[4] = {128, 128, 128, 128};
    if (a.top) std::memcpy(row, src - pitch, 4);
    if constexpr (kMode == 2) {
        const int sumTop = row[0] + row[1] + row[2] + row[3];
        const int sumLeft = left[0] + left[1] + left[2] + left[3];
        const int v = a.top && a.left ? (sumTop + sumLeft + 4) >> 3
                      : a.left        ? (sumLeft + 2) >> 2
                      : a.top         ? (sumTop + 2) >> 2
                                      : 128;
        std::memset(row, v, 4);
    }
    for (int y = 0; y < 4; ++y)
        std::memcpy(pred + y * predPitch, row, 4);
}

// The directional modes 3..8 sample by sample, as clauses 8.3.1.2.4-8.3.1.2.9 state them.
template <int kMode>
void Intra4x4Directional(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch) {
    const uint8_t* above = src - pitch;
    // e[4] is p[-1, -1]; e[5 + x] is p[x, -1] for x = 0..7; e[3 - y] is p[-1, y].
    int e[13];
    if (a.top) {
        for (int x = 0; x < 4; ++x)
            e[5 + x] = above[x];
        for (int x = 4; x < 8; ++x)
            e[5 + x] = a.topRight ? above[x] : above[3];
    } else {
        for (int x = 0; x < 8; ++x)
            e[5 + x] = 128;
    }
    for (int y = 0; y < 4; ++y)
        e[3 - y] = a.left ? src[y * pitch - 1] : 128;
    e[4] = a.topLeft ? above[-1] : 128;
    auto T = [&](int x) { return e[5 + x]; };  // x = -1 gives the corner
    auto L = [&](int y) { return e[3 - y]; };  // y = -1 gives the corner
    auto fill = [&](auto sample) {
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                pred[y * predPitch + x] = static_cast<uint8_t>(sample(x, y));
    };
    if constexpr (kMode == 3) {
        fill([&](int x, int y) {
            return (x == 3 && y == 3) ? (T(6) + 3 * T(7) + 2) >> 2
                                      : (T(x + y) + 2 * T(x + y + 1) + T(x + y + 2) + 2) >> 2;
        });
    } else if constexpr (kMode == 4) {
        fill([&](int x, int y) { return (e[3 + x - y] + 2 * e[4 + x - y] + e[5 + x - y] + 2) >> 2; });
    } else if constexpr (kMode == 5) {
        fill([&](int x, int y) {
            const int z = 2 * x - y;
            if (z >= 0 && (z & 1) == 0) return (T(x - (y >> 1) - 1) + T(x - (y >> 1)) + 1) >> 1;
            if (z >= 0) return (T(x - (y >> 1) - 2) + 2 * T(x - (y >> 1) - 1) + T(x - (y >> 1)) + 2) >> 2;
            if (z == -1) return (L(0) + 2 * L(-1) + T(0) + 2) >> 2;
            return (L(y - 1) + 2 * L(y - 2) + L(y - 3) + 2) >> 2;
        });
    } else if constexpr (kMode == 6) {
        fill([&](int x, int y) {
            const int z = 2 * y - x;
            if (z >= 0 && (z & 1) == 0) return (L(y - (x >> 1) - 1) + L(y - (x >> 1)) + 1) >> 1;
            if (z >= 0) return (L(y - (x >> 1) - 2) + 2 * L(y - (x >> 1) - 1) + L(y - (x >> 1)) + 2) >> 2;
            if (z == -1) return (L(0) + 2 * L(-1) + T(0) + 2) >> 2;
            return (T(x - 1) + 2 * T(x - 2) + T(x - 3) + 2) >> 2;
        });
    } else if constexpr (kMode == 7) {
        fill([&](int x, int y) {
            if ((y & 1) == 0) return (T(x + (y >> 1)) + T(x + (y >> 1) + 1) + 1) >> 1;
            return (T(x + (y >> 1)) + 2 * T(x + (y >> 1) + 1) + T(x + (y >> 1) + 2) + 2) >> 2;
        });
    } else {
        fill([&](int x, int y) {
            const int z = x + 2 * y;
            if (z < 5 && (z & 1) == 0) return (L(y + (x >> 1)) + L(y + (x >> 1) + 1) + 1) >> 1;
            if (z < 5) return (L(y + (x >> 1)) + 2 * L(y + (x >> 1) + 1) + L(y + (x >> 1) + 2) + 2) >> 2;
            if (z == 5) return (L(2) + 3 * L(3) + 2) >> 2;
            return L(3);
        });
    }
}

void Intra16x16Vertical(const uint8_t* src, int pitch, IntraAvailability, uint8_t* pred, int predPitch) {
    CopyRowAbove<16>(pred, predPitch, src - pitch);
}

void Intra16x16Horizontal(const uint8_t* src, int pitch, IntraAvailability, uint8_t* pred, int predPitch) {
    CopyLeftColumn<16>(pred, predPitch, src, pitch);
}

void Intra16x16Dc(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch) {
    const uint8_t* above = src - pitch;
    int s = 0, v = 128;
    if (a.top)
        for (int i = 0; i < 16; ++i)
            s += above[i];
    if (a.left)
        for (int i = 0; i < 16; ++i)
            s += src[i * pitch - 1];
    if (a.top && a.left)
        v = (s + 16) >> 5;
    else if (a.top || a.left)
        v = (s + 8) >> 4;
    FillRows<16>(pred, predPitch, v);
}

// An 8x8 chroma DC prediction (clauses 8.3.4.1-8.3.4.3) from the sums of the four samples
// above each half (t) and left of each half (l).
void ChromaDcFill(uint8_t* pred, int predPitch, IntraAvailability a, const int t[2], const int l[2]) {
    // Blocks (0,0) and (1,1) use both sides; the upper right prefers the samples above,
    // the lower left those to the left.
    auto both = [&](int k) {
        return a.top && a.left ? (t[k] + l[k] + 4) >> 3 : a.top ? (t[k] + 2) >> 2 : a.left ? (l[k] + 2) >> 2 : 128;
    };
    const int upperRight = a.top ? (t[1] + 2) >> 2 : a.left ? (l[0] + 2) >> 2 : 128;
    const int lowerLeft = a.left ? (l[1] + 2) >> 2 : a.top ? (t[0] + 2) >> 2 : 128;
    uint8_t upper[8], lower[8];
    std::memset(upper, both(0), 4);
    std::memset(upper + 4, upperRight, 4);
    std::memset(lower, lowerLeft, 4);
    std::memset(lower + 4, both(1), 4);
    for (int y = 0; y < 4; ++y) {
        std::memcpy(pred + y * predPitch, upper, 8);
        std::memcpy(pred + (4 + y) * predPitch, lower, 8);
    }
}

void IntraChromaDc(const uint8_t* src, int pitch, IntraAvailability a, uint8_t* pred, int predPitch) {
    const uint8_t* above = src - pitch;
    // Clause 8.3.4.1-8.3.4.3: a DC value a 4x4 block, from the sums of the four samples
    // above (halves t) and left (halves l) of it.
    int t[2] = {0, 0}, l[2] = {0, 0};
    if (a.top) {
        for (int i = 0; i < 4; ++i) {
            t[0] += above[i];
            t[1] += above[4 + i];
        }
    }
    if (a.left) {
        for (int i = 0; i < 4; ++i) {
            l[0] += src[i * pitch - 1];
            l[1] += src[(4 + i) * pitch - 1];
        }
    }
    ChromaDcFill(pred, predPitch, a, t, l);
}

void IntraChromaHorizontal(const uint8_t* src, int pitch, IntraAvailability, uint8_t* pred, int predPitch) {
    CopyLeftColumn<8>(pred, predPitch, src, pitch);
}

void IntraChromaVertical(const uint8_t* src, int pitch, IntraAvailability, uint8_t* pred, int predPitch) {
    CopyRowAbove<8>(pred, predPitch, src - pitch);
}

}  // namespace

void InstallPortableIntraKernels(DecoderKernelTable* t) {
    const IntraPredFn modes4x4[9] = {Intra4x4Rows<0>,        Intra4x4Rows<1>,        Intra4x4Rows<2>,
                                     Intra4x4Directional<3>, Intra4x4Directional<4>, Intra4x4Directional<5>,
                                     Intra4x4Directional<6>, Intra4x4Directional<7>, Intra4x4Directional<8>};
    for (int m = 0; m < 9; ++m)
        t->intra4x4[m] = modes4x4[m];
    t->intra16x16[0] = Intra16x16Vertical;
    t->intra16x16[1] = Intra16x16Horizontal;
    t->intra16x16[2] = Intra16x16Dc;
    t->intraChroma[0] = IntraChromaDc;
    t->intraChroma[1] = IntraChromaHorizontal;
    t->intraChroma[2] = IntraChromaVertical;
}

bool PredictIntra4x4(const uint8_t* src, int pitch, int mode, IntraAvailability a, uint8_t* pred, int predPitch) {
    if (mode < 0 || mode > 8) return false;
    DecoderKernels().intra4x4[mode](src, pitch, a, pred, predPitch);
    return true;
}

namespace {

// The plane mode (clauses 8.3.3.4 and 8.3.4.4) of a block 2 kHalf samples square: the
// gradients H and V of the neighbours, scaled (5 for luma, 34 for chroma), then the fill.
template <int kHalf>
void PredictPlane(const uint8_t* src, int pitch, uint8_t* pred, int predPitch, IntraPlaneFn fill, int scale) {
    const uint8_t* above = src - pitch;
    int h = 0, v = 0;
    for (int i = 0; i < kHalf; ++i) {
        h += (i + 1) * (above[kHalf + i] - above[kHalf - 2 - i]);
        v += (i + 1) * (src[(kHalf + i) * pitch - 1] - src[(kHalf - 2 - i) * pitch - 1]);
    }
    const int a = 16 * (src[(2 * kHalf - 1) * pitch - 1] + above[2 * kHalf - 1]);
    fill(pred, predPitch, a, (scale * h + 32) >> 6, (scale * v + 32) >> 6);
}

}  // namespace

bool PredictIntra16x16(const uint8_t* src, int pitch, int mode, IntraAvailability a, uint8_t* pred, int predPitch) {
    if (mode < 0 || mode > 3) return false;
    const DecoderKernelTable& k = DecoderKernels();
    if (mode < 3)
        k.intra16x16[mode](src, pitch, a, pred, predPitch);
    else
        PredictPlane<8>(src, pitch, pred, predPitch, k.intraPlane16x16, 5);
    return true;
}

bool PredictIntraChroma(const uint8_t* src, int pitch, int mode, IntraAvailability a, uint8_t* pred, int predPitch) {
    if (mode < 0 || mode > 3) return false;
    const DecoderKernelTable& k = DecoderKernels();
    if (mode < 3)
        k.intraChroma[mode](src, pitch, a, pred, predPitch);
    else
        PredictPlane<4>(src, pitch, pred, predPitch, k.intraPlane8x8, 34);
    return true;
}

}  // namespace avcdec
