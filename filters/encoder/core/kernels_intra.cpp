// Intra predictors of the portable set (H.264 clauses 8.3.1.2, 8.3.3, 8.3.4). Each writes
// a contiguous block; top[-1] and left[-1] are the corner sample.
#include <algorithm>
#include <cstring>

#include "filters/encoder/core/kernels_portable.h"

namespace ombrisk {
namespace {

inline uint8_t Clip255(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// 4x4 (clause 8.3.1.2), destination stride 4. top holds 8 samples: above and above right.
void Pred4x4Vertical(uint8_t* d, const uint8_t* top, const uint8_t*, int, int) {
    for (int y = 0; y < 4; ++y)
        std::memcpy(d + 4 * y, top, 4);
}

void Pred4x4Horizontal(uint8_t* d, const uint8_t*, const uint8_t* left, int, int) {
    for (int y = 0; y < 4; ++y)
        std::memset(d + 4 * y, left[y], 4);
}

void Pred4x4Dc(uint8_t* d, const uint8_t* top, const uint8_t* left, int topAvail, int leftAvail) {
    const int st = top[0] + top[1] + top[2] + top[3];
    const int sl = left[0] + left[1] + left[2] + left[3];
    int dc = 128;
    if (topAvail && leftAvail)
        dc = (st + sl + 4) >> 3;
    else if (leftAvail)
        dc = (sl + 2) >> 2;
    else if (topAvail)
        dc = (st + 2) >> 2;
    std::memset(d, dc, 16);
}

void Pred4x4DiagonalDownLeft(uint8_t* d, const uint8_t* t, const uint8_t*, int, int) {
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const int i = x + y;
            d[4 * y + x] = i == 6 ? (t[6] + 3 * t[7] + 2) >> 2 : (t[i] + 2 * t[i + 1] + t[i + 2] + 2) >> 2;
        }
}

// The 13 neighbours in one line, from the bottom left up to the corner and along the top:
// e[0..3] = left[3..0], e[4] = corner, e[5..12] = top[0..7].
void EdgeLine(const uint8_t* top, const uint8_t* left, int e[13]) {
    for (int i = 0; i < 4; ++i)
        e[i] = left[3 - i];
    e[4] = top[-1];
    for (int i = 0; i < 8; ++i)
        e[5 + i] = top[i];
}

inline int Filter121(const int* e, int i) {
    return (e[i - 1] + 2 * e[i] + e[i + 1] + 2) >> 2;
}
inline int Filter11(const int* e, int i) {
    return (e[i] + e[i + 1] + 1) >> 1;
}

void Pred4x4DiagonalDownRight(uint8_t* d, const uint8_t* top, const uint8_t* left, int, int) {
    int e[13];
    EdgeLine(top, left, e);
    // p[x, y] lies on the edge line at corner + (x - y).
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            d[4 * y + x] = Filter121(e, 4 + x - y);
}

void Pred4x4VerticalRight(uint8_t* d, const uint8_t* top, const uint8_t* left, int, int) {
    int e[13];
    EdgeLine(top, left, e);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            // p[k, -1] is e[5 + k], p[-1, k] is e[3 - k], the corner e[4].
            const int z = 2 * x - y;
            int v;
            if (z >= 0 && !(z & 1))
                v = Filter11(e, 4 + x - (y >> 1));
            else if (z >= 0)
                v = Filter121(e, 4 + x - (y >> 1));
            else if (z == -1)
                v = Filter121(e, 4);
            else
                v = Filter121(e, 5 - y);
            d[4 * y + x] = static_cast<uint8_t>(v);
        }
}

void Pred4x4HorizontalDown(uint8_t* d, const uint8_t* top, const uint8_t* left, int, int) {
    int e[13];
    EdgeLine(top, left, e);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const int z = 2 * y - x;
            int v;
            if (z >= 0 && !(z & 1))
                v = Filter11(e, 3 - (y - (x >> 1)));
            else if (z >= 0)
                v = Filter121(e, 4 - (y - (x >> 1)));
            else if (z == -1)
                v = Filter121(e, 4);
            else
                v = Filter121(e, 4 + x - 1);
            d[4 * y + x] = static_cast<uint8_t>(v);
        }
}

void Pred4x4VerticalLeft(uint8_t* d, const uint8_t* t, const uint8_t*, int, int) {
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const int i = x + (y >> 1);
            d[4 * y + x] = (y & 1) ? (t[i] + 2 * t[i + 1] + t[i + 2] + 2) >> 2 : (t[i] + t[i + 1] + 1) >> 1;
        }
}

void Pred4x4HorizontalUp(uint8_t* d, const uint8_t*, const uint8_t* l, int, int) {
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const int z = x + 2 * y;
            const int k = y + (x >> 1);
            int v;
            if (z > 5)
                v = l[3];
            else if (z == 5)
                v = (l[2] + 3 * l[3] + 2) >> 2;
            else if (z & 1)
                v = (l[k] + 2 * l[k + 1] + l[k + 2] + 2) >> 2;
            else
                v = (l[k] + l[k + 1] + 1) >> 1;
            d[4 * y + x] = static_cast<uint8_t>(v);
        }
}

constexpr PredIntraFn kPred4x4[kPredIntra4x4Modes] = {
    &Pred4x4Vertical,         &Pred4x4Horizontal,        &Pred4x4Dc,
    &Pred4x4DiagonalDownLeft, &Pred4x4DiagonalDownRight, &Pred4x4VerticalRight,
    &Pred4x4HorizontalDown,   &Pred4x4VerticalLeft,      &Pred4x4HorizontalUp};

// Square blocks of size N (16 luma, 8 chroma), destination stride N.
template <int N>
void PredVertical(uint8_t* d, const uint8_t* top, const uint8_t*, int, int) {
    for (int y = 0; y < N; ++y)
        std::memcpy(d + N * y, top, N);
}

template <int N>
void PredHorizontal(uint8_t* d, const uint8_t*, const uint8_t* left, int, int) {
    for (int y = 0; y < N; ++y)
        std::memset(d + N * y, left[y], N);
}

template <int N, int Scale, int Shift>
void PredPlane(uint8_t* d, const uint8_t* top, const uint8_t* left, int, int) {
    constexpr int half = N / 2;
    const PlaneCoefficients p = PlaneOf(N, Scale, Shift, top, left);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x)
            d[N * y + x] = Clip255((p.a + p.b * (x - (half - 1)) + p.c * (y - (half - 1)) + 16) >> 5);
}

void Pred16x16Dc(uint8_t* d, const uint8_t* top, const uint8_t* left, int topAvail, int leftAvail) {
    int st = 0, sl = 0;
    for (int i = 0; i < 16; ++i)
        st += top[i], sl += left[i];
    int dc = 128;
    if (topAvail && leftAvail)
        dc = (st + sl + 16) >> 5;
    else if (leftAvail)
        dc = (sl + 8) >> 4;
    else if (topAvail)
        dc = (st + 8) >> 4;
    std::memset(d, dc, 256);
}

constexpr PredIntraFn kPred16x16[kPredIntra16x16Modes] = {&PredVertical<16>, &PredHorizontal<16>, &Pred16x16Dc,
                                                          &PredPlane<16, 5, 6>};

// Chroma DC per 4x4 quadrant (clause 8.3.4.1-3): the quadrants on the diagonal use both
// neighbours, the top right one prefers the top samples, the bottom left the left ones.
void PredChromaDc(uint8_t* d, const uint8_t* top, const uint8_t* left, int topAvail, int leftAvail) {
    for (int qy = 0; qy < 2; ++qy)
        for (int qx = 0; qx < 2; ++qx) {
            const int st = top[4 * qx] + top[4 * qx + 1] + top[4 * qx + 2] + top[4 * qx + 3];
            const int sl = left[4 * qy] + left[4 * qy + 1] + left[4 * qy + 2] + left[4 * qy + 3];
            int dc = 128;
            if (qx == qy) {
                if (topAvail && leftAvail)
                    dc = (st + sl + 4) >> 3;
                else if (leftAvail)
                    dc = (sl + 2) >> 2;
                else if (topAvail)
                    dc = (st + 2) >> 2;
            } else if (qx == 1) {
                if (topAvail)
                    dc = (st + 2) >> 2;
                else if (leftAvail)
                    dc = (sl + 2) >> 2;
            } else {
                if (leftAvail)
                    dc = (sl + 2) >> 2;
                else if (topAvail)
                    dc = (st + 2) >> 2;
            }
            for (int y = 0; y < 4; ++y)
                std::memset(d + 8 * (4 * qy + y) + 4 * qx, dc, 4);
        }
}

// 4:2:0 chroma plane: b = (34 H + 32) >> 6, the same value as (17 H + 16) >> 5.
constexpr PredIntraFn kPredChroma[kPredChromaModes] = {&PredChromaDc, &PredHorizontal<8>, &PredVertical<8>,
                                                       &PredPlane<8, 17, 5>};

}  // namespace

PlaneCoefficients PlaneOf(int n, int scale, int shift, const uint8_t* top, const uint8_t* left) {
    const int half = n / 2;
    int h = 0, v = 0;
    for (int i = 1; i <= half; ++i) {
        h += i * (top[half - 1 + i] - top[half - 1 - i]);
        v += i * (left[half - 1 + i] - left[half - 1 - i]);
    }
    return {16 * (left[n - 1] + top[n - 1]), (scale * h + (1 << (shift - 1))) >> shift,
            (scale * v + (1 << (shift - 1))) >> shift};
}

void InstallPortableIntra(CKernelTable* t) {
    t->predIntra4x4 = kPred4x4;
    t->predIntra16x16 = kPred16x16;
    t->predChroma8x8 = kPredChroma;
}

}  // namespace ombrisk
