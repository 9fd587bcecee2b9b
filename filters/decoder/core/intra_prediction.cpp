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
    // e[4] is p[-1, -1]; e[5 + x] is p[x, -1] for x = 0..7; e[3 - y] is p[-1, y].
    int e[13];
    const uint8_t* above = src - pitch;
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
        case 0:
            fill([&](int x, int) { return T(x); });
            break;
        case 1:
            fill([&](int, int y) { return L(y); });
            break;
        case 2: {
            int s = 0, v = 128;
            if (a.top && a.left) {
                for (int i = 0; i < 4; ++i)
                    s += T(i) + L(i);
                v = (s + 4) >> 3;
            } else if (a.left) {
                for (int i = 0; i < 4; ++i)
                    s += L(i);
                v = (s + 2) >> 2;
            } else if (a.top) {
                for (int i = 0; i < 4; ++i)
                    s += T(i);
                v = (s + 2) >> 2;
            }
            fill([&](int, int) { return v; });
            break;
        }
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
        case 0:
            for (int by = 0; by < 2; ++by) {
                for (int bx = 0; bx < 2; ++bx) {
                    int st = 0, sl = 0;
                    for (int i = 0; i < 4; ++i) {
                        if (a.top) st += above[4 * bx + i];
                        if (a.left) sl += src[(4 * by + i) * pitch - 1];
                    }
                    int v = 128;
                    const bool corner = bx == by;  // blocks (0,0) and (1,1) use both sides
                    if (corner) {
                        if (a.top && a.left)
                            v = (st + sl + 4) >> 3;
                        else if (a.top)
                            v = (st + 2) >> 2;
                        else if (a.left)
                            v = (sl + 2) >> 2;
                    } else if (bx == 1) {  // upper right prefers the samples above
                        if (a.top)
                            v = (st + 2) >> 2;
                        else if (a.left)
                            v = (sl + 2) >> 2;
                    } else {  // lower left prefers the samples to the left
                        if (a.left)
                            v = (sl + 2) >> 2;
                        else if (a.top)
                            v = (st + 2) >> 2;
                    }
                    for (int y = 0; y < 4; ++y)
                        for (int x = 0; x < 4; ++x)
                            pred[(4 * by + y) * predPitch + 4 * bx + x] = static_cast<uint8_t>(v);
                }
            }
            return true;
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
