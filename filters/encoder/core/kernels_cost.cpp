// Block costs of the portable set: SAD, SSD, SATD, variance and MSE.
#include <cstdlib>

#include "filters/encoder/core/kernels_portable.h"

namespace ombrisk {
namespace {

template <int N>
uint32_t SadContiguous(const uint8_t* a, const uint8_t* b, const uint8_t*, int, int, int) {
    uint32_t sum = 0;
    for (int i = 0; i < N * N; ++i)
        sum += std::abs(a[i] - b[i]);
    return sum;
}

template <int N>
uint32_t SadStrided(const uint8_t* a, const uint8_t* s, const uint8_t*, int strideA, int strideS, int rows) {
    uint32_t sum = 0;
    for (int y = 0; y < rows; ++y, a += strideA, s += strideS)
        for (int x = 0; x < N; ++x)
            sum += std::abs(a[x] - s[x]);
    return sum;
}

// Against one phase of a half-sample plane: every second sample.
template <int N>
uint32_t SadPhase(const uint8_t* a, const uint8_t* s, const uint8_t*, int strideA, int strideS, int rows) {
    uint32_t sum = 0;
    for (int y = 0; y < rows; ++y, a += strideA, s += strideS)
        for (int x = 0; x < N; ++x)
            sum += std::abs(a[x] - s[2 * x]);
    return sum;
}

// Against the rounded average of two phases (a quarter sample).
template <int N>
uint32_t SadPhaseAverage(const uint8_t* a, const uint8_t* s1, const uint8_t* s2, int strideA, int strideS, int rows) {
    uint32_t sum = 0;
    for (int y = 0; y < rows; ++y, a += strideA, s1 += strideS, s2 += strideS)
        for (int x = 0; x < N; ++x)
            sum += std::abs(a[x] - ((s1[2 * x] + s2[2 * x] + 1) >> 1));
    return sum;
}

template <int N>
constexpr SadFn kSadRow[kSadMembers] = {&SadContiguous<N>, &SadStrided<N>, &SadPhase<N>, &SadPhaseAverage<N>};

template <int N, int StrideA, int StrideB>
uint32_t Ssd(const uint8_t* a, const uint8_t* b) {
    uint32_t sum = 0;
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) {
            const int d = a[y * StrideA + x] - b[y * StrideB + x];
            sum += static_cast<uint32_t>(d * d);
        }
    return sum;
}

// Sum of absolute values of the forward core transform of one 4x4 difference.
uint32_t Satd4x4Block(const uint8_t* a, const uint8_t* b, int stride) {
    int d[4][4], t[4][4];
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            d[y][x] = a[y * stride + x] - b[y * stride + x];
    for (int y = 0; y < 4; ++y) {
        const int s03 = d[y][0] + d[y][3], d03 = d[y][0] - d[y][3];
        const int s12 = d[y][1] + d[y][2], d12 = d[y][1] - d[y][2];
        t[y][0] = s03 + s12;
        t[y][1] = 2 * d03 + d12;
        t[y][2] = s03 - s12;
        t[y][3] = d03 - 2 * d12;
    }
    uint32_t sum = 0;
    for (int x = 0; x < 4; ++x) {
        const int s03 = t[0][x] + t[3][x], d03 = t[0][x] - t[3][x];
        const int s12 = t[1][x] + t[2][x], d12 = t[1][x] - t[2][x];
        sum += std::abs(s03 + s12) + std::abs(2 * d03 + d12) + std::abs(s03 - s12) + std::abs(d03 - 2 * d12);
    }
    return sum;
}

template <int N>
uint32_t Satd(const uint8_t* a, const uint8_t* b) {
    uint32_t sum = 0;
    for (int y = 0; y < N; y += 4)
        for (int x = 0; x < N; x += 4)
            sum += Satd4x4Block(a + y * N + x, b + y * N + x, N);
    return sum;
}

uint32_t Variance16x16(const uint8_t* block) {
    uint32_t sum = 0;
    uint64_t squares = 0;
    for (int i = 0; i < 256; ++i) {
        sum += block[i];
        squares += block[i] * block[i];
    }
    // Σx² >= (Σx)² / 256 (Cauchy-Schwarz), so the difference never wraps.
    return static_cast<uint32_t>((squares - uint64_t{sum} * sum / 256) / 256);
}

uint32_t Mse16x16(const uint8_t* a, const uint8_t* b) {
    return Ssd<16, 16, 16>(a, b) / 256;
}

constexpr VarianceRow kVarianceRow = {&Variance16x16, &Mse16x16};

}  // namespace

void InstallPortableCosts(CKernelTable* t) {
    t->sad4x4 = kSadRow<4>;
    t->sad8x8 = kSadRow<8>;
    t->sad16x16 = kSadRow<16>;
    t->sadContiguous4x4 = kSadRow<4>[0];
    t->sadContiguous8x8 = kSadRow<8>[0];
    t->sadContiguous16x16 = kSadRow<16>[0];
    t->ssd4x4 = &Ssd<4, 4, 16>;
    t->ssd8x8 = &Ssd<8, 8, 8>;
    t->ssd16x16 = &Ssd<16, 16, 16>;
    t->satd4x4 = &Satd<4>;
    t->satd8x8 = &Satd<8>;
    t->satd16x16 = &Satd<16>;
    t->variance = &kVarianceRow;
}

}  // namespace ombrisk
