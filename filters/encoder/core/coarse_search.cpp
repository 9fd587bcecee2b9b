#include "filters/encoder/core/coarse_search.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

#include "common/cpu_features.h"
#include "filters/encoder/core/kernel_table.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define OMBRISK_COARSE_SSE2 1
#endif

namespace ombrisk {

void CoarseVectorField::Resize(int columns, int rows) {
    columns_ = columns;
    rows_ = rows;
    entries_.assign(size_t(columns + 2) * (rows + 2), CoarseEntry{});
}

void CoarseVectorField::Clear() {
    std::fill(entries_.begin(), entries_.end(), CoarseEntry{});
}

void CoarseVectorField::Predict(int mbX, int mbY, int* x, int* y, int sliceFirst) const {
    static constexpr CoarseEntry kOutside{};
    const auto entry = [&](int cx, int cy) -> const CoarseEntry& {
        if (sliceFirst >= 0 && (cx < 0 || cx >= columns_ || cy < 0 || cy * columns_ + cx < sliceFirst)) return kOutside;
        return at(cx, cy);
    };
    const CoarseEntry& left = entry(mbX - 1, mbY);
    const CoarseEntry& top = entry(mbX, mbY - 1);
    const CoarseEntry* topRight = &entry(mbX + 1, mbY - 1);
    if (!topRight->valid) topRight = &entry(mbX - 1, mbY - 1);
    const auto use = [&](const CoarseEntry& e) { *x = e.x, *y = e.y; };
    if (left.valid && !top.valid && !topRight->valid) return use(left);
    if (top.valid && !topRight->valid) return use(top);
    if (!left.valid && !top.valid && topRight->valid) return use(*topRight);
    const auto median = [](int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); };
    const auto v = [](const CoarseEntry& e, bool horizontal) { return e.valid ? (horizontal ? e.x : e.y) : 0; };
    *x = median(v(left, true), v(top, true), v(*topRight, true));
    *y = median(v(left, false), v(top, false), v(*topRight, false));
}

void PrepareQuarterPlane(int stride, int width, int height, QuarterPlane* out) {
    out->width = width / 4;
    out->height = height / 4;
    out->stride = (stride / 4 + 15) / 16 * 16;
    out->samples.resize(size_t(out->rows()) * out->stride);
}

void Downscale(const uint8_t* origin, int stride, int width, int height, QuarterPlane* out) {
    PrepareQuarterPlane(stride, width, height, out);
    DownscaleRows(origin, stride, 0, out->rows(), out);
}

namespace {

// One quarter-resolution sample: the mean (rounded down) of the 4x4 block at p.
inline uint8_t QuarterSample(const uint8_t* p, int stride) {
    int sum = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            sum += p[y * stride + x];
    return static_cast<uint8_t>(sum / 16);
}

}  // namespace

void DownscaleRowsPortable(const uint8_t* origin, int stride, int first, int end, QuarterPlane* out) {
    const int border = QuarterPlane::kBorder;
    const int columns = std::min(out->width + 2 * border, out->stride);
    for (int qy = std::max(first, 0); qy < std::min(end, out->rows()); ++qy)
        for (int qx = 0; qx < columns; ++qx)
            out->samples[size_t(qy) * out->stride + qx] =
                QuarterSample(origin + (4 * (qy - border)) * stride + 4 * (qx - border), stride);
}

#if defined(OMBRISK_COARSE_SSE2)
// Sixteen outputs from four rows of 64 samples; the reads are exactly the portable
// version's, and the remaining columns of a line are left to it.
void DownscaleRowsSimd(const uint8_t* origin, int stride, int first, int end, QuarterPlane* out) {
    const int border = QuarterPlane::kBorder;
    const int columns = std::min(out->width + 2 * border, out->stride);
    const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi16(1);
    for (int qy = std::max(first, 0); qy < std::min(end, out->rows()); ++qy) {
        const uint8_t* line = origin + ptrdiff_t(4 * (qy - border)) * stride - 4 * border;
        uint8_t* dst = out->samples.data() + size_t(qy) * out->stride;
        int qx = 0;
        for (; qx + 16 <= columns; qx += 16) {
            __m128i sums[4];
            for (int c = 0; c < 4; ++c) {
                const uint8_t* p = line + 4 * qx + 16 * c;
                __m128i lo = zero, hi = zero;
                for (int y = 0; y < 4; ++y) {
                    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + ptrdiff_t(y) * stride));
                    lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
                    hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
                }
                // Column sums (at most 4 x 255) to pair sums, then to the four 4x4 sums
                // (at most 4080): every step fits signed 16 bits.
                const __m128i pairs = _mm_packs_epi32(_mm_madd_epi16(lo, ones), _mm_madd_epi16(hi, ones));
                sums[c] = _mm_madd_epi16(pairs, ones);
            }
            const __m128i a = _mm_srli_epi16(_mm_packs_epi32(sums[0], sums[1]), 4);
            const __m128i b = _mm_srli_epi16(_mm_packs_epi32(sums[2], sums[3]), 4);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + qx), _mm_packus_epi16(a, b));
        }
        for (; qx < columns; ++qx)
            dst[qx] = QuarterSample(line + 4 * qx, stride);
    }
}
#else
void DownscaleRowsSimd(const uint8_t* origin, int stride, int first, int end, QuarterPlane* out) {
    DownscaleRowsPortable(origin, stride, first, end, out);
}
#endif

void DownscaleRows(const uint8_t* origin, int stride, int first, int end, QuarterPlane* out) {
    // The same set as the process's kernel table: SIMD where the table holds the SIMD set,
    // portable otherwise, also when the environment forces the portable kernels.
    static const auto rows = (KernelSetFeatures() & common::kCpuMmxExt) ? &DownscaleRowsSimd : &DownscaleRowsPortable;
    rows(origin, stride, first, end, out);
}

uint32_t CoarseTexture(const uint8_t* b, int stride) {
    int quadrant[4] = {};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            quadrant[(y / 2) * 2 + x / 4] += b[y * stride + x];
    const int mean = (quadrant[0] + quadrant[1] + quadrant[2] + quadrant[3]) / 32;
    uint32_t sum = 0;
    for (int q : quadrant) {
        const int d = mean - q / 8;
        sum += static_cast<uint32_t>(d * d);
    }
    return sum / 4;
}

namespace {

uint32_t Sad8x4(const uint8_t* a, int strideA, const uint8_t* b, int strideB) {
    uint32_t sum = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            sum += static_cast<uint32_t>(std::abs(a[y * strideA + x] - b[y * strideB + x]));
    return sum;
}

}  // namespace

void CoarseSearchReference(const QuarterPlane& cur, const QuarterPlane& ref, int rangeX, int rangeY, int columns,
                           int rows, CoarseVectorField* field) {
    if (field->columns() != columns || field->rows() != rows) field->Resize(columns, rows);
    const int border = QuarterPlane::kBorder;
    const int w = 4 * cur.width, h = 4 * cur.height;
    for (int mbY = 0; mbY < rows && 16 * mbY < h; ++mbY) {
        int mbX = 0;
        for (int x = 0; x < w - 16; x += 32, mbX += 2) {
            const int qx = x / 4, qy = 4 * mbY;
            const uint8_t* block = cur.origin() + qy * cur.stride + qx;
            const uint32_t texture = CoarseTexture(block, cur.stride);
            CoarseEntry found;
            if (texture > 128) {
                int px = 0, py = 0;
                field->Predict(mbX, mbY, &px, &py);
                // Displacements that keep the 8x4 block inside the padded quarter plane.
                const int dxMin = -border - qx, dxMax = cur.width + border - 8 - qx;
                const int dyMin = -border - qy, dyMax = cur.height + border - 4 - qy;
                uint32_t best = 0xFFFFFFFF;
                int bx = 0, by = 0;
                const auto test = [&](int dx, int dy) {
                    if (dx < dxMin || dx > dxMax || dy < dyMin || dy > dyMax) return;
                    const uint32_t c =
                        Sad8x4(block, cur.stride, ref.origin() + (qy + dy) * ref.stride + qx + dx, ref.stride) +
                        uint32_t(std::abs(px - 4 * dx) + std::abs(py - 4 * dy)) / 8;
                    if (c < best) best = c, bx = dx, by = dy;
                };
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        test(dx, dy);
                if (best >= 16 * texture) {
                    for (int dy = -rangeY / 4; dy <= rangeY / 4; ++dy)
                        for (int dx = -rangeX / 4; dx <= rangeX / 4; ++dx)
                            test(dx, dy);
                }
                if (best < 16 * texture)
                    found = CoarseEntry{static_cast<int16_t>(4 * bx), static_cast<int16_t>(4 * by),
                                        static_cast<int32_t>(best), 1};
            }
            field->at(mbX, mbY) = found;
            if (mbX + 1 < columns) field->at(mbX + 1, mbY) = found;
        }
        if (mbX < columns) field->at(mbX, mbY) = CoarseEntry{};
    }
}

}  // namespace ombrisk
