// One picture buffer of the encoder core: the padded planes of a picture, its macroblock
// records and its half-sample plane, allocated once and reused for every picture.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/mb_record.h"

namespace ombrisk {

// A planar 4:2:0 picture in memory: three planes with their line pitches.
struct PlanarPicture {
    const uint8_t* y = nullptr;
    const uint8_t* cb = nullptr;
    const uint8_t* cr = nullptr;
    int width = 0, height = 0;  // luma samples
    int lumaPitch = 0, chromaPitch = 0;
};

class CRefPictureStore {
public:
    // Allocates the planes (16 samples of border on every side), the macroblock records
    // (one border record on the left, the right and above) and the half-sample plane from
    // the block's geometry. valid() is false when an allocation failed or the geometry is
    // empty.
    explicit CRefPictureStore(const EncoderBlock& block);
    ~CRefPictureStore();
    CRefPictureStore(const CRefPictureStore&) = delete;
    CRefPictureStore& operator=(const CRefPictureStore&) = delete;

    bool valid() const { return valid_; }

    // Copies a picture into the coded area: the lines of macroblock rows firstRow ..
    // endRow - 1 (disjoint row ranges may be filled in parallel). Lines and columns beyond
    // the source's size (the coded size is a multiple of 16) repeat the source's last line
    // and column.
    void Fill(const PlanarPicture& source, int firstRow = 0, int endRow = 1 << 30);
    // Replicates the edges of the coded area into the 16-sample borders of all planes.
    void PadPlanes();
    // The same for the lines of macroblock rows firstRow .. endRow - 1 of the luma plane or
    // of both chroma planes: their left and right borders, the top border when the range
    // holds row 0 and the bottom border when it holds the last row. Disjoint row ranges
    // may be padded in parallel, each once its lines are final.
    void PadLumaRows(int firstRow, int endRow);
    void PadChromaRows(int firstRow, int endRow);
    int macroblockRows() const { return height_ / 16; }
    // Interpolates the half-sample plane from the padded luma plane (after PadPlanes):
    // band `band` of `bands` runs of rows (at most kMaxHalfSampleBands). Each band writes
    // only its own rows and has its own scratch, so the bands may be built in parallel.
    static constexpr int kMaxHalfSampleBands = 16;
    void BuildHalfSamplePlane(int band = 0, int bands = 1);
    // Marks every macroblock record as not coded (slice number kNoSlice).
    void ResetRecords();

    uint8_t* luma() { return luma_; }
    uint8_t* cb() { return cb_; }
    uint8_t* cr() { return cr_; }
    const uint8_t* luma() const { return luma_; }
    const uint8_t* cb() const { return cb_; }
    const uint8_t* cr() const { return cr_; }
    int lumaStride() const { return lumaStride_; }
    int chromaStride() const { return chromaStride_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // Record of macroblock (0, 0); a row of records is recordStride() apart.
    MbRecord* records() { return records_ + recordStride_ + 1; }
    const MbRecord* records() const { return records_ + recordStride_ + 1; }
    int recordStride() const { return recordStride_; }
    // Half-sample plane: pixel (0, 0) of the padded plane at twice the width and height.
    const uint8_t* halfSamples() const { return halfOrigin_; }
    int halfStride() const { return 2 * lumaStride_; }

private:
    // Lines first .. end - 1 of a plane of `height` lines.
    static void PadLines(uint8_t* origin, int width, int height, int stride, int first, int end);

    bool valid_ = false;
    int width_ = 0, height_ = 0, lumaStride_ = 0, chromaStride_ = 0;
    int chromaWidth_ = 0, chromaHeight_ = 0;
    uint8_t* lumaAlloc_ = nullptr;
    uint8_t* cbAlloc_ = nullptr;
    uint8_t* crAlloc_ = nullptr;
    uint8_t* luma_ = nullptr;
    uint8_t* cb_ = nullptr;
    uint8_t* cr_ = nullptr;
    MbRecord* records_ = nullptr;
    size_t recordCount_ = 0;
    int recordStride_ = 0;
    uint8_t* halfAlloc_ = nullptr;
    uint8_t* halfOrigin_ = nullptr;
    int16_t* halfScratch_ = nullptr;
};

}  // namespace ombrisk
