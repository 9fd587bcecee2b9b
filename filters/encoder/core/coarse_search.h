// The first stage of motion search: every pair of macroblocks is matched at quarter
// resolution against a reference picture before the slices start, and the vector found
// (in full-resolution samples) is kept per macroblock in the reference's coarse vector
// field, where the macroblock search starts from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ombrisk {

// One coarse vector per macroblock with a border entry on every side.
struct CoarseEntry {
    int16_t x = 0, y = 0;  // full-resolution samples
    int32_t cost = 0x0FFFFFFF;
    int32_t valid = 0;
};

class CoarseVectorField {
public:
    void Resize(int columns, int rows);
    CoarseEntry& at(int mbX, int mbY) { return entries_[size_t(mbY + 1) * (columns_ + 2) + mbX + 1]; }
    const CoarseEntry& at(int mbX, int mbY) const { return entries_[size_t(mbY + 1) * (columns_ + 2) + mbX + 1]; }
    // The median predictor of a macroblock's entry from its left, top and top-right
    // entries (top-left when the top-right one is not valid). With sliceFirst >= 0 the
    // entries of macroblocks before that address (other slices, coded in parallel) are
    // not read and count as not valid.
    void Predict(int mbX, int mbY, int* x, int* y, int sliceFirst = -1) const;
    void Clear();
    int columns() const { return columns_; }
    int rows() const { return rows_; }

private:
    int columns_ = 0, rows_ = 0;
    std::vector<CoarseEntry> entries_;
};

// A quarter-resolution luma plane: each sample the truncated mean of a 4x4 block of the
// padded full-resolution plane, with the padding's quarter (4 samples) as its border.
struct QuarterPlane {
    std::vector<uint8_t> samples;
    int width = 0, height = 0, stride = 0;  // of the coded area, in quarter samples
    static constexpr int kBorder = 4;
    const uint8_t* origin() const { return samples.data() + kBorder * stride + kBorder; }
    // Lines of `samples`, borders included.
    int rows() const { return height + 2 * kBorder; }
};

// Builds `out` from a padded luma plane (origin = sample (0, 0), 16 samples of padding).
void Downscale(const uint8_t* origin, int stride, int width, int height, QuarterPlane* out);
// The same in two steps, so that disjoint runs of lines can be built in parallel: the
// geometry and storage of `out`, then its lines first .. end - 1 (borders included).
void PrepareQuarterPlane(int stride, int width, int height, QuarterPlane* out);
void DownscaleRows(const uint8_t* origin, int stride, int first, int end, QuarterPlane* out);
// The two sets behind DownscaleRows (the SIMD one is the portable one where the target
// has no SSE2); both give the same samples.
void DownscaleRowsPortable(const uint8_t* origin, int stride, int first, int end, QuarterPlane* out);
void DownscaleRowsSimd(const uint8_t* origin, int stride, int first, int end, QuarterPlane* out);

// Texture of an 8x4 block: the squared spread of its four 4x2 quadrant means around the
// mean of all 32 samples, over 4.
uint32_t CoarseTexture(const uint8_t* block, int stride);

// Searches every strip of two macroblocks of `current` in `reference` and writes the
// vectors into `field` (ranges in full-resolution samples).
void CoarseSearchReference(const QuarterPlane& current, const QuarterPlane& reference, int rangeX, int rangeY,
                           int macroblockColumns, int macroblockRows, CoarseVectorField* field);

}  // namespace ombrisk
