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

bool PredictIntra4x4(const uint8_t* src, int pitch, int mode, IntraAvailability a, uint8_t* pred, int predPitch) {
    const uint8_t* above = src - pitch;
    // Vertical, horizontal and DC, the most frequent modes, by rows straight from the
    // neighbouring samples (128 for those unavailable).
    if (mode <= 2) {
        int left[4] = {128, 128, 128, 128};
        if (a.left) {
            for (int y = 0; y < 4; ++y)
                left[y] = src[y * pitch - 1];
        }
        if (mode == 1) {
            for (int y = 0; y < 4; ++y)
                std::memset(pred + y * predPitch, left[y], 4);
            return true;
        }
        uint8_t row[4] = {128, 128, 128, 128};
        if (a.top) std::memcpy(row, above, 4);
        if (mode == 2) {
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
        return true;
    }
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
    switch (mode) {
        case 3:
            fill([&](int x, int y) {
                return (x == 3 && y == 3) ? (T(6) + 3 * T(7) + 2) >> 2
                                          : (T(x + y) + 2 * T(x + y + 1) + T(x + y + 2) + 2) >> 2;
            });
            break;
        case 4:
            fill([&](int x, int y) { return (e[3 + x - y] + 2 * e[4 + x - y] + e[5 + x - y] + 2) >> 2; });
            break;
        case 5:
            fill([&](int x, int y) {
                const int z = 2 * x - y;
                if (z >= 0 && (z & 1) == 0) return (T(x - (y >> 1) - 1) + T(x - (y >> 1)) + 1) >> 1;
                if (z >= 0) return (T(x - (y >> 1) - 2) + 2 * T(x - (y >> 1) - 1) + T(x - (y >> 1)) + 2) >> 2;
                if (z == -1) return (L(0) + 2 * L(-1) + T(0) + 2) >> 2;
                return (L(y - 1) + 2 * L(y - 2) + L(y - 3) + 2) >> 2;
            });
            break;
        case 6:
            fill([&](int x, int y) {
                const int z = 2 * y - x;
                if (z >= 0 && (z & 1) == 0) return (L(y - (x >> 1) - 1) + L(y - (x >> 1)) + 1) >> 1;
                if (z >= 0) return (L(y - (x >> 1) - 2) + 2 * L(y - (x >> 1) - 1) + L(y - (x >> 1)) + 2) >> 2;
                if (z == -1) return (L(0) + 2 * L(-1) + T(0) + 2) >> 2;
                return (T(x - 1) + 2 * T(x - 2) + T(x - 3) + 2) >> 2;
            });
            break;
        case 7:
            fill([&](int x, int y) {
                if ((y & 1) == 0) return (T(x + (y >> 1)) + T(x + (y >> 1) + 1) + 1) >> 1;
                return (T(x + (y >> 1)) + 2 * T(x + (y >> 1) + 1) + T(x + (y >> 1) + 2) + 2) >> 2;
            });
            break;
        case 8:
            fill([&](int x, int y) {
                const int z = x + 2 * y;
                if (z < 5 && (z & 1) == 0) return (L(y + (x >> 1)) + L(y + (x >> 1) + 1) + 1) >> 1;
                if (z < 5) return (L(y + (x >> 1)) + 2 * L(y + (x >> 1) + 1) + L(y + (x >> 1) + 2) + 2) >> 2;
                if (z == 5) return (L(2) + 3 * L(3) + 2) >> 2;
                return L(3);
            });
            break;
        default:
            return false;
    }
    return true;
}

bool PredictIntra16x16(const uint8_t* src, int pitch, int mode, IntraAvailability a, uint8_t* pred, int predPitch) {
    const uint8_t* above = src - pitch;
    switch (mode) {
        case 0:
            CopyRowAbove<16>(pred, predPitch, above);
            return true;
        case 1:
            CopyLeftColumn<16>(pred, predPitch, src, pitch);
            return true;
        case 2: {
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
            return true;
        }
        case 3: {
            int h = 0, vv = 0;
            for (int i = 0; i < 8; ++i) {
                h += (i + 1) * (above[8 + i] - above[6 - i]);
                vv += (i + 1) * (src[(8 + i) * pitch - 1] - src[(6 - i) * pitch - 1]);
            }
            const int aa = 16 * (src[15 * pitch - 1] + above[15]);
            DecoderKernels().intraPlane16x16(pred, predPitch, aa, (5 * h + 32) >> 6, (5 * vv + 32) >> 6);
            return true;
        }
        default:
            return false;
    }
}

bool PredictIntraChroma(const uint8_t* src, int pitch, int mode, IntraAvailability a, uint8_t* pred, int predPitch) {
    const uint8_t* above = src - pitch;
    switch (mode) {
        case 0: {
            // Clause 8.3.4.1-8.3.4.3: a DC value a 4x4 block, from the sums of the four
            // samples above (halves t) and left (halves l) of it.
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
            // Blocks (0,0) and (1,1) use both sides; the upper right prefers the samples
            // above, the lower left those to the left.
            auto both = [&](int k) {
                return a.top && a.left ? (t[k] + l[k] + 4) >> 3
                       : a.top         ? (t[k] + 2) >> 2
                       : a.left        ? (l[k] + 2) >> 2
                                       : 128;
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
            return true;
        }
        case 1:
            CopyLeftColumn<8>(pred, predPitch, src, pitch);
            return true;
        case 2:
            CopyRowAbove<8>(pred, predPitch, above);
            return true;
        case 3: {
            int h = 0, v = 0;
            for (int i = 0; i < 4; ++i) {
                h += (i + 1) * (above[4 + i] - above[2 - i]);
                v += (i + 1) * (src[(4 + i) * pitch - 1] - src[(2 - i) * pitch - 1]);
            }
            const int aa = 16 * (src[7 * pitch - 1] + above[7]);
            DecoderKernels().intraPlane8x8(pred, predPitch, aa, (34 * h + 32) >> 6, (34 * v + 32) >> 6);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace avcdec
