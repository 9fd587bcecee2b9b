#include "filters/encoder/core/tests/kernel_reference.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "filters/encoder/core/coefficient_list.h"
#include "filters/encoder/core/inter_prediction.h"

namespace ombrisk::kernel_test {
namespace {

int Clip1(int v) {
    return std::min(std::max(v, 0), 255);
}

// ---- Costs, by their definitions.

template <int N, int Member>
uint32_t RefSad(const uint8_t* a, const uint8_t* s1, const uint8_t* s2, int sa, int ss, int rows) {
    if (Member == 0) rows = N, sa = N, ss = N;
    uint32_t sum = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < N; ++x) {
            int s;
            if (Member <= 1)
                s = s1[y * ss + x];
            else if (Member == 2)
                s = s1[y * ss + 2 * x];
            else
                s = (s1[y * ss + 2 * x] + s2[y * ss + 2 * x] + 1) / 2;
            sum += static_cast<uint32_t>(std::abs(a[y * sa + x] - s));
        }
    return sum;
}

template <int N, int StrideA, int StrideB>
uint32_t RefSsd(const uint8_t* a, const uint8_t* b) {
    uint64_t sum = 0;
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) {
            const int64_t d = a[y * StrideA + x] - b[y * StrideB + x];
            sum += static_cast<uint64_t>(d * d);
        }
    return static_cast<uint32_t>(sum);
}

// The forward core transform matrix (clause 8.5.12's inverse has its transposed shape).
constexpr int kCf[4][4] = {{1, 1, 1, 1}, {2, 1, -1, -2}, {1, -1, -1, 1}, {1, -2, 2, -1}};

// Cf * X * Cf^T by plain matrix products.
void ForwardByMatrix(const int x[4][4], int out[4][4]) {
    int t[4][4] = {};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                t[i][j] += kCf[i][k] * x[k][j];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            out[i][j] = 0;
            for (int k = 0; k < 4; ++k)
                out[i][j] += t[i][k] * kCf[j][k];
        }
}

template <int N>
uint32_t RefSatd(const uint8_t* a, const uint8_t* b) {
    uint32_t sum = 0;
    for (int by = 0; by < N; by += 4)
        for (int bx = 0; bx < N; bx += 4) {
            int d[4][4], c[4][4];
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    d[y][x] = a[(by + y) * N + bx + x] - b[(by + y) * N + bx + x];
            ForwardByMatrix(d, c);
            for (auto& row : c)
                for (int v : row)
                    sum += static_cast<uint32_t>(std::abs(v));
        }
    return sum;
}

uint32_t RefVariance(const uint8_t* p) {
    int64_t s = 0, s2 = 0;
    for (int i = 0; i < 256; ++i)
        s += p[i], s2 += int64_t{p[i]} * p[i];
    return static_cast<uint32_t>((s2 - s * s / 256) / 256);
}
uint32_t RefMse(const uint8_t* a, const uint8_t* b) {
    return RefSsd<16, 16, 16>(a, b) / 256;
}
constexpr VarianceRow kRefVariance = {&RefVariance, &RefMse};

// ---- Block fetches and macroblock moves.

template <int W, int Member>
void RefFetch(uint8_t* d, const uint8_t* a, const uint8_t* b, int ds, int ss, int rows) {
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < W; ++x) {
            uint8_t& out = d[y * ds + x];
            const int sa = Member < 2 ? a[y * ss + x] : a[y * ss + 2 * x];
            const int pair = Member >= 4 ? (sa + b[y * ss + 2 * x] + 1) / 2 : sa;
            out = static_cast<uint8_t>((Member & 1) ? (pair + out + 1) / 2 : pair);
        }
}

template <int W, size_t... M>
constexpr std::array<BlockFetchFn, 6> FetchRow(std::index_sequence<M...>) {
    return {&RefFetch<W, int(M)>...};
}
constexpr auto kRefFetch4 = FetchRow<4>(std::make_index_sequence<6>());
constexpr auto kRefFetch8 = FetchRow<8>(std::make_index_sequence<6>());
constexpr auto kRefFetch16 = FetchRow<16>(std::make_index_sequence<6>());

template <int N, size_t... M>
constexpr std::array<SadFn, 4> SadRow(std::index_sequence<M...>) {
    return {&RefSad<N, int(M)>...};
}
constexpr auto kRefSad4 = SadRow<4>(std::make_index_sequence<4>());
constexpr auto kRefSad8 = SadRow<8>(std::make_index_sequence<4>());
constexpr auto kRefSad16 = SadRow<16>(std::make_index_sequence<4>());

template <bool Load>
void RefMacroblock(uint8_t* luma, uint8_t* cb, uint8_t* cr, uint8_t* lb, uint8_t* cbb, uint8_t* crb, int ls, int cs) {
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            uint8_t& plane = luma[y * ls + x];
            uint8_t& buf = lb[16 * y + x];
            if (Load)
                buf = plane;
            else
                plane = buf;
        }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            if (Load)
                cbb[8 * y + x] = cb[y * cs + x], crb[8 * y + x] = cr[y * cs + x];
            else
                cb[y * cs + x] = cbb[8 * y + x], cr[y * cs + x] = crb[8 * y + x];
        }
}

void* RefCopy(void* d, const void* s, size_t n) {
    for (size_t i = 0; i < n; ++i)
        static_cast<uint8_t*>(d)[i] = static_cast<const uint8_t*>(s)[i];
    return d;
}
void* RefFill(void* d, int v, size_t n) {
    for (size_t i = 0; i < n; ++i)
        static_cast<uint8_t*>(d)[i] = static_cast<uint8_t>(v);
    return d;
}

// ---- Intra prediction, clause 8.3. p(x, y) with x or y = -1 are the neighbours.

struct Neighbours {
    const uint8_t* top;
    const uint8_t* left;
    int p(int x, int y) const { return y < 0 ? top[x] : left[y]; }
};

template <int Mode>
void Ref4x4(uint8_t* d, const uint8_t* top, const uint8_t* left, int ta, int la) {
    const Neighbours n{top, left};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            int v = 0;
            if (Mode == 0) v = n.p(x, -1);  // 8.3.1.2.1
            if (Mode == 1) v = n.p(-1, y);  // 8.3.1.2.2
            if (Mode == 2) {                // 8.3.1.2.3
                int st = 0, sl = 0;
                for (int i = 0; i < 4; ++i)
                    st += n.p(i, -1), sl += n.p(-1, i);
                v = ta && la ? (st + sl + 4) >> 3 : la ? (sl + 2) >> 2 : ta ? (st + 2) >> 2 : 128;
            }
            if (Mode == 3)  // 8.3.1.2.4
                v = (x == 3 && y == 3) ? (n.p(6, -1) + 3 * n.p(7, -1) + 2) >> 2
                                       : (n.p(x + y, -1) + 2 * n.p(x + y + 1, -1) + n.p(x + y + 2, -1) + 2) >> 2;
            if (Mode == 4) {  // 8.3.1.2.5
                if (x > y)
                    v = (n.p(x - y - 2, -1) + 2 * n.p(x - y - 1, -1) + n.p(x - y, -1) + 2) >> 2;
                else if (x < y)
                    v = (n.p(-1, y - x - 2) + 2 * n.p(-1, y - x - 1) + n.p(-1, y - x) + 2) >> 2;
                else
                    v = (n.p(0, -1) + 2 * n.p(-1, -1) + n.p(-1, 0) + 2) >> 2;
            }
            if (Mode == 5) {  // 8.3.1.2.6
                const int z = 2 * x - y;
                if (z >= 0 && z % 2 == 0)
                    v = (n.p(x - (y >> 1) - 1, -1) + n.p(x - (y >> 1), -1) + 1) >> 1;
                else if (z >= 0)
                    v = (n.p(x - (y >> 1) - 2, -1) + 2 * n.p(x - (y >> 1) - 1, -1) + n.p(x - (y >> 1), -1) + 2) >> 2;
                else if (z == -1)
                    v = (n.p(-1, 0) + 2 * n.p(-1, -1) + n.p(0, -1) + 2) >> 2;
                else
                    v = (n.p(-1, y - 1) + 2 * n.p(-1, y - 2) + n.p(-1, y - 3) + 2) >> 2;
            }
            if (Mode == 6) {  // 8.3.1.2.7
                const int z = 2 * y - x;
                if (z >= 0 && z % 2 == 0)
                    v = (n.p(-1, y - (x >> 1) - 1) + n.p(-1, y - (x >> 1)) + 1) >> 1;
                else if (z >= 0)
                    v = (n.p(-1, y - (x >> 1) - 2) + 2 * n.p(-1, y - (x >> 1) - 1) + n.p(-1, y - (x >> 1)) + 2) >> 2;
                else if (z == -1)
                    v = (n.p(-1, 0) + 2 * n.p(-1, -1) + n.p(0, -1) + 2) >> 2;
                else
                    v = (n.p(x - 1, -1) + 2 * n.p(x - 2, -1) + n.p(x - 3, -1) + 2) >> 2;
            }
            if (Mode == 7) {  // 8.3.1.2.8
                const int i = x + (y >> 1);
                v = (y % 2 == 0) ? (n.p(i, -1) + n.p(i + 1, -1) + 1) >> 1
                                 : (n.p(i, -1) + 2 * n.p(i + 1, -1) + n.p(i + 2, -1) + 2) >> 2;
            }
            if (Mode == 8) {  // 8.3.1.2.9
                const int z = x + 2 * y, i = y + (x >> 1);
                if (z > 5)
                    v = n.p(-1, 3);
                else if (z == 5)
                    v = (n.p(-1, 2) + 3 * n.p(-1, 3) + 2) >> 2;
                else if (z % 2 == 0)
                    v = (n.p(-1, i) + n.p(-1, i + 1) + 1) >> 1;
                else
                    v = (n.p(-1, i) + 2 * n.p(-1, i + 1) + n.p(-1, i + 2) + 2) >> 2;
            }
            d[4 * y + x] = static_cast<uint8_t>(v);
        }
}

template <size_t... M>
constexpr std::array<PredIntraFn, 9> Pred4x4Row(std::index_sequence<M...>) {
    return {&Ref4x4<int(M)>...};
}
constexpr auto kRef4x4 = Pred4x4Row(std::make_index_sequence<9>());

// Clause 8.3.3 (16x16, N = 16) and 8.3.4 (chroma 4:2:0, N = 8); Mode in the luma numbering:
// 0 vertical, 1 horizontal, 2 DC, 3 plane.
template <int N, int Mode>
void RefSquare(uint8_t* d, const uint8_t* top, const uint8_t* left, int ta, int la) {
    const Neighbours n{top, left};
    // Plane parameters (8.3.3.4 / 8.3.4.4 with xCF = yCF = 0 for 4:2:0).
    const int k = N == 16 ? 7 : 3;
    int H = 0, V = 0;
    for (int i = 0; i <= k; ++i) {
        H += (i + 1) * (n.p(k + 1 + i, -1) - n.p(k - 1 - i, -1));
        V += (i + 1) * (n.p(-1, k + 1 + i) - n.p(-1, k - 1 - i));
    }
    const int a = 16 * (n.p(-1, N - 1) + n.p(N - 1, -1));
    const int b = N == 16 ? (5 * H + 32) >> 6 : (34 * H + 32) >> 6;
    const int c = N == 16 ? (5 * V + 32) >> 6 : (34 * V + 32) >> 6;
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) {
            int v = 0;
            if (Mode == 0) v = n.p(x, -1);
            if (Mode == 1) v = n.p(-1, y);
            if (Mode == 3) v = Clip1((a + b * (x - k) + c * (y - k) + 16) >> 5);
            if (Mode == 2 && N == 16) {
                int st = 0, sl = 0;
                for (int i = 0; i < 16; ++i)
                    st += n.p(i, -1), sl += n.p(-1, i);
                v = ta && la ? (st + sl + 16) >> 5 : la ? (sl + 8) >> 4 : ta ? (st + 8) >> 4 : 128;
            }
            if (Mode == 2 && N == 8) {
                // 8.3.4.1-3: the block at (xO, yO) of the chroma macroblock.
                const int xO = x & ~3, yO = y & ~3;
                int st = 0, sl = 0;
                for (int i = 0; i < 4; ++i)
                    st += n.p(xO + i, -1), sl += n.p(-1, yO + i);
                const int both = (st + sl + 4) >> 3, fromTop = (st + 2) >> 2, fromLeft = (sl + 2) >> 2;
                if ((xO == 0 && yO == 0) || (xO > 0 && yO > 0))
                    v = ta && la ? both : la ? fromLeft : ta ? fromTop : 128;
                else if (xO > 0)
                    v = ta ? fromTop : la ? fromLeft : 128;
                else
                    v = la ? fromLeft : ta ? fromTop : 128;
            }
            d[N * y + x] = static_cast<uint8_t>(v);
        }
}

constexpr PredIntraFn kRef16x16[4] = {&RefSquare<16, 0>, &RefSquare<16, 1>, &RefSquare<16, 2>, &RefSquare<16, 3>};
// intra_chroma_pred_mode: 0 DC, 1 horizontal, 2 vertical, 3 plane.
constexpr PredIntraFn kRefChroma[4] = {&RefSquare<8, 2>, &RefSquare<8, 1>, &RefSquare<8, 0>, &RefSquare<8, 3>};

// ---- Transform, quantisation and reconstruction.

// normAdjust4x4 (clause 8.5.9, Table 8-14 columns v0, v1, v2) and the forward multipliers
// that pair with it: MF * V * scaling of the position = 2^21 within rounding.
constexpr int kNormAdjust[6][3] = {{10, 16, 13}, {11, 18, 14}, {13, 20, 16}, {14, 23, 18}, {16, 25, 20}, {18, 29, 23}};
constexpr int kMf[6][3] = {{13107, 5243, 8066}, {11916, 4660, 7490}, {10082, 4194, 6554},
                           {9362, 3647, 5825},  {8192, 3355, 5243},  {7282, 2893, 4559}};
int PositionClass(int x, int y) {
    return (x % 2 == 0 && y % 2 == 0) ? 0 : (x % 2 && y % 2) ? 1 : 2;
}
// LevelScale4x4 with flat weights: 16 * normAdjust.
int LevelScale(int m, int x, int y) {
    return 16 * kNormAdjust[m][PositionClass(x, y)];
}

// The zig-zag scan (Table 8-13 for frame macroblocks), as raster indices.
constexpr int kScan[16] = {0, 1, 4, 8, 5, 2, 3, 6, 9, 12, 13, 10, 7, 11, 14, 15};

// A level stays within the CAVLC escape (|level| <= 2063 at suffixLength 0, clause
// 9.2.2.1) and, when scaled alone, within 16 bits after scaling (clause 8.5.12.1).
int QuantiseOne(int c, int mf, int64_t offset, int qbits, int64_t limit = 2063) {
    int64_t m = (int64_t{c < 0 ? -c : c} * mf + offset) >> qbits;
    if (m > limit) m = limit;
    return static_cast<int>(c < 0 ? -m : m);
}

// Clause 8.5.12.1 (flat scaling, not the DC of a separately coded DC): the three cases
// by qP.
int ScaleAc(int c, int qp, int x, int y) {
    const int ls = LevelScale(qp % 6, x, y);
    if (qp >= 24) return (c * ls) << (qp / 6 - 4);
    return (c * ls + (1 << (3 - qp / 6))) >> (4 - qp / 6);
}

// Clause 8.5.12.2: the inverse transform and (x + 32) >> 6, written as in the clause.
void InverseClause(const int d[4][4], int r[4][4]) {
    int f[4][4], h[4][4];
    for (int i = 0; i < 4; ++i) {
        const int e0 = d[i][0] + d[i][2], e1 = d[i][0] - d[i][2];
        const int e2 = (d[i][1] >> 1) - d[i][3], e3 = d[i][1] + (d[i][3] >> 1);
        f[i][0] = e0 + e3, f[i][1] = e1 + e2, f[i][2] = e1 - e2, f[i][3] = e0 - e3;
    }
    for (int j = 0; j < 4; ++j) {
        const int g0 = f[0][j] + f[2][j], g1 = f[0][j] - f[2][j];
        const int g2 = (f[1][j] >> 1) - f[3][j], g3 = f[1][j] + (f[3][j] >> 1);
        h[0][j] = g0 + g3, h[1][j] = g1 + g2, h[2][j] = g1 - g2, h[3][j] = g0 - g3;
    }
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r[i][j] = (h[i][j] + 32) >> 6;
}

// One 4x4 block: the residual's coefficients (row i = y, column j = x).
void BlockCoefficients(const uint8_t* src, int ss, const uint8_t* pred, int ps, int c[4][4]) {
    int x[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            x[i][j] = src[i * ss + j] - pred[i * ps + j];
    ForwardByMatrix(x, c);
}

void Reconstruct(const int d[4][4], const uint8_t* pred, int ps, uint8_t* recon, int rs) {
    int r[4][4];
    InverseClause(d, r);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            recon[i * rs + j] = static_cast<uint8_t>(Clip1(pred[i * ps + j] + r[i][j]));
}

// Builds the list of scan positions first..last-1 from raster levels.
void MakeList(const int16_t* raster, const int* scan, int count, CoefficientList* list) {
    int used = 0, zeros = 0;
    for (int i = 0; i < count; ++i) {
        const int16_t l = raster[scan[i]];
        if (l) {
            list->pairs[used].level = l;
            list->pairs[used].run = static_cast<int16_t>(zeros);
            ++used;
            zeros = 0;
        } else {
            ++zeros;
        }
    }
    list->pairs[used] = {0, static_cast<int16_t>(zeros)};
}

// The encoder's rule for dropping sparse blocks.
int DropCost(const int16_t* raster, const int* scan, int count, int threshold) {
    int cost = 0, zeros = 0;
    for (int i = 0; i < count; ++i) {
        const int l = raster[scan[i]];
        if (!l) {
            ++zeros;
            continue;
        }
        if (l > 1 || l < -1)
            cost += threshold + 1;
        else
            cost += zeros == 0 ? 3 : zeros <= 2 ? 2 : zeros <= 5 ? 1 : 0;
        zeros = 0;
    }
    return cost;
}

// Quantises a block's raster coefficients at positions given by scan[first..15].
void QuantiseRaster(const int c[4][4], const QuantRecord& q, int64_t offset, int first, int16_t* levels) {
    for (int i = first; i < 16; ++i) {
        const int r = kScan[i], x = r % 4, y = r / 4;
        int64_t limit = 2063;
        while (limit > 0 && std::abs(ScaleAc(static_cast<int>(limit), q.qp, x, y)) > 32767)
            --limit;
        levels[r] =
            static_cast<int16_t>(QuantiseOne(c[y][x], kMf[q.qpMod6][PositionClass(x, y)], offset, q.qbits, limit));
    }
}

int64_t Shifted(int offset, int s) {
    return s >= 0 ? int64_t{offset} >> s : int64_t{offset} << -s;
}

int RefLuma4x4(const uint8_t* src, uint8_t* recon, const uint8_t* pred, int16_t* coefs, CoefficientList* list,
               const QuantRecord* q, int shift) {
    int c[4][4], d[4][4];
    BlockCoefficients(src, 4, pred, 4, c);
    QuantiseRaster(c, *q, Shifted(q->offset, shift), 0, coefs);
    MakeList(coefs, kScan, 16, list);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            d[i][j] = ScaleAc(coefs[4 * i + j], q->qp, j, i);
    Reconstruct(d, pred, 4, recon, 16);
    return std::any_of(coefs, coefs + 16, [](int16_t l) { return l != 0; });
}

constexpr int kHadamard[4][4] = {{1, 1, 1, 1}, {1, 1, -1, -1}, {1, -1, -1, 1}, {1, -1, 1, -1}};

void Hadamard(const int in[4][4], int out[4][4]) {
    int t[4][4] = {};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                t[i][j] += kHadamard[i][k] * in[k][j];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            out[i][j] = 0;
            for (int k = 0; k < 4; ++k)
                out[i][j] += t[i][k] * kHadamard[k][j];
        }
}

int RefIntra16x16(const uint8_t* src, uint8_t* recon, const uint8_t* pred, int16_t* coefs, CoefficientList* dcList,
                  CoefficientList* acLists, const QuantRecord* q) {
    int c[16][4][4], dcIn[4][4], dcOut[4][4];
    for (int b = 0; b < 16; ++b) {
        const int off = (b / 4) * 64 + (b % 4) * 4;
        BlockCoefficients(src + off, 16, pred + off, 16, c[b]);
        dcIn[b / 4][b % 4] = c[b][0][0] >> 1;
    }
    Hadamard(dcIn, dcOut);
    int16_t dcLevels[16];
    for (int r = 0; r < 16; ++r)
        dcLevels[r] = static_cast<int16_t>(
            QuantiseOne(dcOut[r / 4][r % 4], kMf[q->qpMod6][0], int64_t{q->offset} * 2, q->qbits + 1));
    MakeList(dcLevels, kScan, 16, dcList);
    // Clause 8.5.10: the inverse DC transform, then scaling by qP.
    int f[4][4], dcLevelMatrix[4][4];
    for (int r = 0; r < 16; ++r)
        dcLevelMatrix[r / 4][r % 4] = dcLevels[r];
    Hadamard(dcLevelMatrix, f);
    const int ls0 = LevelScale(q->qp % 6, 0, 0);
    bool anyAc = false;
    for (int b = 0; b < 16; ++b) {
        int16_t* levels = coefs + 16 * b;
        QuantiseRaster(c[b], *q, q->offset, 1, levels);
        levels[0] = dcLevels[b];
        int ac[16];
        std::copy(levels, levels + 16, ac);
        int scan15[15];
        for (int i = 0; i < 15; ++i)
            scan15[i] = kScan[i + 1];
        MakeList(levels, scan15, 15, &acLists[b]);
        for (int i = 1; i < 16; ++i)
            anyAc |= levels[kScan[i]] != 0;
        int d[4][4];
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                d[i][j] = ScaleAc(ac[4 * i + j], q->qp, j, i);
        const int fv = f[b / 4][b % 4];
        d[0][0] = q->qp >= 36 ? (fv * ls0) << (q->qp / 6 - 6) : (fv * ls0 + (1 << (5 - q->qp / 6))) >> (6 - q->qp / 6);
        const int off = (b / 4) * 64 + (b % 4) * 4;
        Reconstruct(d, pred + off, 16, recon + off, 16);
    }
    return anyAc ? 15 : 0;
}

int RefInter16x16(const uint8_t* src, uint8_t* recon, const uint8_t* pred, int16_t* coefs, CoefficientList* lists,
                  const QuantRecord* q, int threshold) {
    int cost[2][2] = {}, any[2][2] = {};
    for (int b = 0; b < 16; ++b) {
        const int bx = b % 4, by = b / 4, off = by * 64 + bx * 4;
        int c[4][4];
        BlockCoefficients(src + off, 16, pred + off, 16, c);
        QuantiseRaster(c, *q, q->offset / 2, 0, coefs + 16 * b);
        cost[by / 2][bx / 2] += DropCost(coefs + 16 * b, kScan, 16, threshold);
        for (int i = 0; i < 16; ++i)
            any[by / 2][bx / 2] |= coefs[16 * b + i] != 0;
    }
    int cbp = 0;
    for (int b = 0; b < 16; ++b) {
        const int bx = b % 4, by = b / 4, off = by * 64 + bx * 4;
        int16_t* levels = coefs + 16 * b;
        if (cost[by / 2][bx / 2] <= threshold) {
            std::fill(levels, levels + 16, int16_t{0});
            lists[b].pairs[0] = {0, 15};
        } else {
            MakeList(levels, kScan, 16, &lists[b]);
            if (any[by / 2][bx / 2]) cbp |= 1 << ((by / 2) * 2 + bx / 2);
        }
        int d[4][4];
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                d[i][j] = ScaleAc(levels[4 * i + j], q->qp, j, i);
        Reconstruct(d, pred + off, 16, recon + off, 16);
    }
    return cbp;
}

int RefChroma(const uint8_t* src, uint8_t* recon, const uint8_t* pred, int16_t* coefs, CoefficientList* dcList,
              CoefficientList* acLists, const QuantRecord* q, int s, int threshold) {
    int c[4][4][4];
    for (int b = 0; b < 4; ++b) {
        const int off = (b / 2) * 32 + (b % 2) * 4;
        BlockCoefficients(src + off, 8, pred + off, 8, c[b]);
    }
    // 2x2 transform [[1, 1], [1, -1]] * DC * [[1, 1], [1, -1]].
    const int dc[2][2] = {{c[0][0][0], c[1][0][0]}, {c[2][0][0], c[3][0][0]}};
    int fdc[2][2];
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) {
            const int si = i ? -1 : 1, sj = j ? -1 : 1;
            fdc[i][j] = dc[0][0] + sj * dc[0][1] + si * dc[1][0] + si * sj * dc[1][1];
        }
    int16_t dcLevels[4];
    for (int k = 0; k < 4; ++k) {
        dcLevels[k] = static_cast<int16_t>(
            QuantiseOne(fdc[k / 2][k % 2], kMf[q->qpMod6][0], Shifted(q->offset, s - 1), q->qbits + 1));
        coefs[16 * k] = dcLevels[k];
    }
    const int rasterScan[4] = {0, 1, 2, 3};
    MakeList(dcLevels, rasterScan, 4, dcList);
    int scan15[15];
    for (int i = 0; i < 15; ++i)
        scan15[i] = kScan[i + 1];
    int cost = 0;
    bool anyAc = false;
    for (int b = 0; b < 4; ++b) {
        QuantiseRaster(c[b], *q, Shifted(q->offset, s), 1, coefs + 16 * b);
        cost += DropCost(coefs + 16 * b, scan15, 15, threshold);
        for (int i = 1; i < 16; ++i)
            anyAc |= coefs[16 * b + i] != 0;
    }
    if (cost <= threshold) {
        for (int b = 0; b < 4; ++b)
            std::fill(coefs + 16 * b + 1, coefs + 16 * b + 16, int16_t{0});
        anyAc = false;
    }
    for (int b = 0; b < 4; ++b)
        MakeList(coefs + 16 * b, scan15, 15, &acLists[b]);
    // Clause 8.5.11.2 for 4:2:0: f = inverse 2x2 transform of c, dcC = ((f * LS) << qP/6) >> 5.
    const int ls0 = LevelScale(q->qp % 6, 0, 0);
    int dcC[4];
    for (int k = 0; k < 4; ++k) {
        const int si = (k / 2) ? -1 : 1, sj = (k % 2) ? -1 : 1;
        const int f = dcLevels[0] + sj * dcLevels[1] + si * dcLevels[2] + si * sj * dcLevels[3];
        dcC[k] = ((f * ls0) << (q->qp / 6)) >> 5;
    }
    bool anyDc = std::any_of(dcLevels, dcLevels + 4, [](int16_t l) { return l != 0; });
    for (int b = 0; b < 4; ++b) {
        int d[4][4];
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                d[i][j] = ScaleAc(coefs[16 * b + 4 * i + j], q->qp, j, i);
        d[0][0] = dcC[b];
        const int off = (b / 2) * 32 + (b % 2) * 4;
        Reconstruct(d, pred + off, 8, recon + off, 8);
    }
    return (anyDc ? 1 : 0) | (anyAc ? 2 : 0);
}

// ---- Interpolation, clause 8.4.2.2.1, with the clause's clipping of sample positions
// to the plane.

void RefInterpolate(const uint8_t* plane, uint8_t* out, int16_t*, int stride, int rows, int first, int end) {
    if (rows < 1 || stride < 1) return;
    const auto G = [&](int x, int y) {
        return int{plane[std::min(std::max(y, 0), rows - 1) * stride + std::min(std::max(x, 0), stride - 1)]};
    };
    const auto tap = [](int e, int f, int g, int h, int i, int j) { return e - 5 * f + 20 * g + 20 * h - 5 * i + j; };
    const auto b1 = [&](int x, int y) {
        return tap(G(x - 2, y), G(x - 1, y), G(x, y), G(x + 1, y), G(x + 2, y), G(x + 3, y));
    };
    for (int y = std::max(first, 0); y < std::min(end, rows); ++y)
        for (int x = 0; x < stride; ++x) {
            const int h1 = tap(G(x, y - 2), G(x, y - 1), G(x, y), G(x, y + 1), G(x, y + 2), G(x, y + 3));
            const int j1 = tap(b1(x, y - 2), b1(x, y - 1), b1(x, y), b1(x, y + 1), b1(x, y + 2), b1(x, y + 3));
            uint8_t* row0 = out + (2 * y) * (2 * stride);
            uint8_t* row1 = row0 + 2 * stride;
            row0[2 * x] = static_cast<uint8_t>(G(x, y));
            row0[2 * x + 1] = static_cast<uint8_t>(Clip1((b1(x, y) + 16) >> 5));
            row1[2 * x] = static_cast<uint8_t>(Clip1((h1 + 16) >> 5));
            row1[2 * x + 1] = static_cast<uint8_t>(Clip1((j1 + 512) >> 10));
        }
}

// ---- Chroma motion compensation, per 2x2 chroma block (one luma 4x4 block).

void RefPredictChromaInter(int mbX, int mbY, const PartitionRecord* p, const ReferenceLists* refs, uint8_t* out) {
    for (int b = 0; b < 16; ++b) {
        const int xC = 2 * (b % 4), yC = 2 * (b / 4);
        uint8_t pred[2][2][2][2];  // [list][plane][y][x]
        bool used[2] = {};
        for (int l = 0; l < 2; ++l) {
            const MotionEntry& m = p->motion[l][b];
            if (m.ref < 0 || m.ref >= refs->count[l]) continue;
            used[l] = true;
            const ChromaReference& r = refs->list[l][m.ref];
            for (int c = 0; c < 2; ++c) {
                const uint8_t* plane = c ? r.cr : r.cb;
                const int stride = refs->chromaStride;
                ReferenceChromaBlock(plane + (mbY * 8 + yC) * stride + mbX * 8 + xC, stride, m.x, m.y, 2, 2,
                                     &pred[l][c][0][0], 2);
            }
        }
        if (!used[0] && !used[1]) continue;
        for (int c = 0; c < 2; ++c)
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 2; ++x) {
                    int v;
                    if (used[0] && used[1])
                        v = (pred[0][c][y][x] + pred[1][c][y][x] + 1) >> 1;
                    else
                        v = pred[used[0] ? 0 : 1][c][y][x];
                    out[64 * c + 8 * (yC + y) + xC + x] = static_cast<uint8_t>(v);
                }
    }
}

}  // namespace

void ReferenceChromaBlock(const uint8_t* ref, int stride, int mvx, int mvy, int w, int h, uint8_t* dst, int dstStride) {
    // xIntC = xC + (mvCLX[0] >> 3), xFracC = mvCLX[0] & 7 (floor division and remainder).
    const int xInt = mvx >= 0 ? mvx / 8 : -((-mvx + 7) / 8);
    const int yInt = mvy >= 0 ? mvy / 8 : -((-mvy + 7) / 8);
    const int xFrac = mvx - 8 * xInt, yFrac = mvy - 8 * yInt;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* A = ref + (y + yInt) * stride + (x + xInt);
            const int B = A[1], C = A[stride], D = A[stride + 1];
            dst[y * dstStride + x] = static_cast<uint8_t>(((8 - xFrac) * (8 - yFrac) * A[0] + xFrac * (8 - yFrac) * B +
                                                           (8 - xFrac) * yFrac * C + xFrac * yFrac * D + 32) >>
                                                          6);
        }
}

const CKernelTable& ReferenceTable() {
    static const CKernelTable table = [] {
        CKernelTable t{};
        t.storeMacroblockPixels = &RefMacroblock<false>;
        t.loadMacroblockPixels = &RefMacroblock<true>;
        t.copyBytes = &RefCopy;
        t.fillBytes = &RefFill;
        t.ssd4x4 = &RefSsd<4, 4, 16>;
        t.ssd8x8 = &RefSsd<8, 8, 8>;
        t.ssd16x16 = &RefSsd<16, 16, 16>;
        t.satd4x4 = &RefSatd<4>;
        t.satd8x8 = &RefSatd<8>;
        t.satd16x16 = &RefSatd<16>;
        t.variance = &kRefVariance;
        t.transformIntra16x16 = &RefIntra16x16;
        t.transformLuma4x4 = &RefLuma4x4;
        t.transformInter16x16 = &RefInter16x16;
        t.transformChroma = &RefChroma;
        t.predIntra4x4 = kRef4x4.data();
        t.predIntra16x16 = kRef16x16;
        t.predChroma8x8 = kRefChroma;
        t.interpolateHalfPel = &RefInterpolate;
        t.sad4x4 = kRefSad4.data();
        t.sad8x8 = kRefSad8.data();
        t.sad16x16 = kRefSad16.data();
        t.sadContiguous4x4 = kRefSad4[0];
        t.sadContiguous8x8 = kRefSad8[0];
        t.sadContiguous16x16 = kRefSad16[0];
        t.predictChromaInter = &RefPredictChromaInter;
        t.chromaMotionBlock = &ReferenceChromaBlock;
        // The loop filter is the decoder's too; its portable forms are judged against the
        // standard with the shared kernels.
        common::FillDeblockKernels(&t.deblock, 0);
        t.blockFetch4 = kRefFetch4.data();
        t.blockFetch8 = kRefFetch8.data();
        t.blockFetch16 = kRefFetch16.data();
        return t;
    }();
    return table;
}

}  // namespace ombrisk::kernel_test
