// The half-sample plane builder shared by the kernel sets (clause 8.4.2.2.1): each source
// row y gives output rows 2y (F H F H ...) and 2y + 1 (V C V C ...), each 2 * stride long.
// Taps that reach beyond the rows and stride given repeat the edge sample, as the padding
// of a reference plane does. scratch holds 6 * stride values: the horizontal sums (plus
// the rounding 16) of the six rows under the vertical tap, as a ring. Only the output of
// source rows first .. end - 1 is written (the taps still read the rows around them), so
// disjoint row ranges can be built in parallel, each with its own scratch.
//
// A set speeds up the two inner loops through Fast: Fast::Sums(s, h, x, end) writes the
// sums of samples x .. some x' <= end whose taps stay inside the row and returns x';
// Fast::Outputs(r, h, fh, vc, stride) writes the output samples 0 .. some x' and returns
// x'. The scalar code finishes every row from there.
#pragma once

#include <algorithm>
#include <cstdint>

namespace ombrisk::half_pel {

inline int SixTap(int a, int b, int c, int d, int e, int f) {
    return a - 5 * b + 20 * c + 20 * d - 5 * e + f;
}

inline uint8_t Clip255(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// No fast path: the scalar loops do everything.
struct Scalar {
    static int Sums(const uint8_t*, int16_t*, int x, int) { return x; }
    static int Outputs(const uint8_t* const*, const int16_t* const*, uint8_t*, uint8_t*, int) { return 0; }
};

template <class Fast>
void BuildRows(const uint8_t* plane, uint8_t* out, int16_t* scratch, int stride, int rows, int first, int end) {
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
        for (int x = Fast::Sums(s, h, inner0, inner1); x < inner1; ++x)
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
        for (int x = Fast::Outputs(r, h, fh, vc, stride); x < stride; ++x) {
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

}  // namespace ombrisk::half_pel
