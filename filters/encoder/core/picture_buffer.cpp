#include "filters/encoder/core/picture_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "filters/encoder/core/aligned_alloc.h"
#include "filters/encoder/core/kernel_table.h"

namespace ombrisk {

CRefPictureStore::CRefPictureStore(const EncoderBlock& block) {
    width_ = block.luma.width;
    height_ = block.luma.height;
    if (width_ < 16 || height_ < 16) return;
    lumaStride_ = block.luma.stride;
    chromaWidth_ = width_ / 2;
    chromaHeight_ = height_ / 2;
    chromaStride_ = chromaWidth_ + 2 * kPlaneBorder;
    const size_t lumaSize = size_t(height_ + 2 * kPlaneBorder) * lumaStride_;
    const size_t chromaSize = size_t(chromaHeight_ + 2 * kPlaneBorder) * chromaStride_;
    lumaAlloc_ = static_cast<uint8_t*>(AlignedAlloc(lumaSize));
    cbAlloc_ = static_cast<uint8_t*>(AlignedAlloc(chromaSize));
    crAlloc_ = static_cast<uint8_t*>(AlignedAlloc(chromaSize));
    // The half-sample plane covers the padded luma plane at twice its width and height.
    halfAlloc_ = static_cast<uint8_t*>(AlignedAlloc(4 * lumaSize));
    halfScratch_ = static_cast<int16_t*>(AlignedAlloc(kMaxHalfSampleBands * 6 * sizeof(int16_t) * lumaStride_));
    recordStride_ = block.macroblocks.recordStride;
    recordCount_ = size_t(block.macroblocks.recordCount);
    records_ = new (std::nothrow) MbRecord[recordCount_];
    if (!lumaAlloc_ || !cbAlloc_ || !crAlloc_ || !halfAlloc_ || !halfScratch_ || !records_) return;
    const int lumaOrigin = kPlaneBorder * lumaStride_ + kPlaneBorder;
    const int chromaOrigin = kPlaneBorder * chromaStride_ + kPlaneBorder;
    luma_ = lumaAlloc_ + lumaOrigin;
    cb_ = cbAlloc_ + chromaOrigin;
    cr_ = crAlloc_ + chromaOrigin;
    halfOrigin_ = halfAlloc_ + 2 * kPlaneBorder * (2 * lumaStride_) + 2 * kPlaneBorder;
    std::memset(lumaAlloc_, 0, lumaSize);
    std::memset(cbAlloc_, 128, chromaSize);
    std::memset(crAlloc_, 128, chromaSize);
    valid_ = true;
}

CRefPictureStore::~CRefPictureStore() {
    AlignedFree(lumaAlloc_);
    AlignedFree(cbAlloc_);
    AlignedFree(crAlloc_);
    AlignedFree(halfAlloc_);
    AlignedFree(halfScratch_);
    delete[] records_;
}

namespace {

// Lines first .. end - 1 of the destination.
void CopyPlane(uint8_t* dst, int dstStride, int dstWidth, int first, int end, const uint8_t* src, int srcPitch,
               int srcWidth, int srcHeight) {
    for (int y = first; y < end; ++y) {
        uint8_t* d = dst + y * dstStride;
        const uint8_t* s = src + std::min(y, srcHeight - 1) * srcPitch;
        const int w = std::min(srcWidth, dstWidth);
        std::memcpy(d, s, w);
        if (w < dstWidth) std::memset(d + w, s[w - 1], dstWidth - w);
    }
}

}  // namespace

void CRefPictureStore::Fill(const PlanarPicture& s, int firstRow, int endRow) {
    if (!valid_ || s.width < 2 || s.height < 2) return;
    const int first = std::clamp(firstRow, 0, macroblockRows()), end = std::clamp(endRow, first, macroblockRows());
    CopyPlane(luma_, lumaStride_, width_, 16 * first, 16 * end, s.y, s.lumaPitch, s.width, s.height);
    CopyPlane(cb_, chromaStride_, chromaWidth_, 8 * first, 8 * end, s.cb, s.chromaPitch, s.width / 2, s.height / 2);
    CopyPlane(cr_, chromaStride_, chromaWidth_, 8 * first, 8 * end, s.cr, s.chromaPitch, s.width / 2, s.height / 2);
}

void CRefPictureStore::PadLines(uint8_t* origin, int width, int height, int stride, int first, int end) {
    for (int y = first; y < end; ++y) {
        uint8_t* line = origin + y * stride;
        std::memset(line - kPlaneBorder, line[0], kPlaneBorder);
        std::memset(line + width, line[width - 1], kPlaneBorder);
    }
    // The borders above and below copy the first and last lines with their own borders.
    if (first == 0 && end > 0)
        for (int k = 1; k <= kPlaneBorder; ++k)
            std::memcpy(origin - k * stride - kPlaneBorder, origin - kPlaneBorder, stride);
    if (end == height && first < end)
        for (int k = 1; k <= kPlaneBorder; ++k)
            std::memcpy(origin + (height - 1 + k) * stride - kPlaneBorder,
                        origin + (height - 1) * stride - kPlaneBorder, stride);
}

void CRefPictureStore::PadLumaRows(int firstRow, int endRow) {
    if (!valid_) return;
    const int first = std::clamp(firstRow, 0, macroblockRows()), end = std::clamp(endRow, first, macroblockRows());
    PadLines(luma_, width_, height_, lumaStride_, 16 * first, 16 * end);
}

void CRefPictureStore::PadChromaRows(int firstRow, int endRow) {
    if (!valid_) return;
    const int first = std::clamp(firstRow, 0, macroblockRows()), end = std::clamp(endRow, first, macroblockRows());
    PadLines(cb_, chromaWidth_, chromaHeight_, chromaStride_, 8 * first, 8 * end);
    PadLines(cr_, chromaWidth_, chromaHeight_, chromaStride_, 8 * first, 8 * end);
}

void CRefPictureStore::PadPlanes() {
    PadLumaRows(0, macroblockRows());
    PadChromaRows(0, macroblockRows());
}

void CRefPictureStore::BuildHalfSamplePlane(int band, int bands) {
    bands = std::clamp(bands, 1, int{kMaxHalfSampleBands});
    if (!valid_ || band < 0 || band >= bands) return;
    const int rows = height_ + 2 * kPlaneBorder;
    const int first = int(int64_t(rows) * band / bands), end = int(int64_t(rows) * (band + 1) / bands);
    KernelTable().interpolateHalfPel(lumaAlloc_, halfAlloc_, halfScratch_ + size_t(band) * 6 * lumaStride_, lumaStride_,
                                     rows, first, end);
}

void CRefPictureStore::ResetRecords() {
    if (!valid_) return;
    for (size_t i = 0; i < recordCount_; ++i)
        records_[i].slice = kNoSlice;
}

}  // namespace ombrisk
