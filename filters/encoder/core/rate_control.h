// Rate control: the QP of every picture and every macroblock. A picture-level controller
// (chosen by kParRateMode: 0 and 1 constant QP, 2 variable bit rate, 3 constant bit rate) and a
// per-slice QP strategy that talks to it only through its slice's record, so slices coded
// in parallel share nothing.
//
// Variable bit rate picks a row of a 29-row table of QP ranges per picture type from a
// model of the I picture's bits and a running offset that follows the measured rate; each
// macroblock's QP lies in its row's range by the macroblock's activity. Constant bit rate
// spreads each GOP's budget over the picture types by their complexities and sets each
// macroblock's QP from the fullness of a buffer of two pictures' bits, its slice's
// spending so far and the macroblock's activity.
#pragma once

#include <cstdint>
#include <vector>

#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/mb_context.h"

namespace ombrisk {

// QP of I, P and B pictures from the quality word (0-15): QP_I = 51 - 51 x q / 16, P and B
// one and two steps coarser (at most 51); quality 10 gives 20, 21, 22.
struct QualityQps {
    int32_t i, p, b;
};
QualityQps QpsOfQuality(int32_t quality);

// Rows of the variable-bit-rate table, 0 coarsest.
constexpr int kRateRows = 29;
struct RateRow {
    uint8_t lo[3], hi[3];  // QP range of I, P, B pictures
    int32_t weight;        // bits weight W of the row
};
extern const RateRow kRateTable[kRateRows];
// Rows beyond the coarsest of the table (-1 .. -kCoarseRows): each raises the QPs of row 0
// by 1, up to 51, so that low bit rates on busy pictures stay reachable. Nine rows take the
// P and B ranges to 51 throughout (P lo 42 + 9), the least rate the QP can give.
// RangeOfRow gives the (lo, hi) QPs of any row and column.
constexpr int kCoarseRows = 9;
struct RowQps {
    int lo, hi;
};
RowQps RangeOfRow(int row, int column);

// What the controller needs of a picture.
struct RatePicture {
    int32_t sliceType = kSliceI;
    bool periodStart = false;  // frame counter 0 (an IDR picture)
    int32_t verdict = 0;       // scene detector: 1 marks a B picture coded with the P ranges
    int32_t picStruct = 0;     // pic_struct: the picture's duration (5 and 6 1.5, 7 2, 8 3 frames)
};

// One slice's share of the picture: copied from the controller when the picture starts;
// the slice writes only its own record.
struct SliceRateRecord {
    double fullness = 0;     // constant bit rate: the buffer's fullness share (bits)
    double bufferSize = 0;   // constant bit rate: the buffer's size share (bits)
    double target = 0;       // constant bit rate: the picture target's share (bits)
    int64_t bits = 0;        // spent in the slice so far
    int32_t qp = 0;          // the picture QP, then the last macroblock's
    int32_t row = 0;         // variable bit rate: the table row
    int64_t qpSum = 0;       // constant bit rate: sum of the macroblocks' QPs
    int64_t measure = 0;     // activity sum (constant) or dequantised energy sum (variable)
    int64_t complexity = 0;  // constant bit rate: the activity sum of the last picture of this type
    // The strategy's own state within the slice.
    int32_t lo = 0, hi = 0;
    double targetSoFar = 0;
};

class CRateControl {
public:
    // Derives kParQpI, kParQpP and kParQpB from kParQuality and writes them back into the
    // block. Reads kParGopLength, kParBFrames, kParRateMode, kParAvgBitRate (unset: one bit
    // per 8 luma samples at the frame rate), kParCabac (QP floor 0, else 5) and
    // kParFrameRate100. status() is kCoreUnsupported for a mode outside 0-3 and, in the
    // bit-rate modes, kCoreBadArgument for a frame rate of 0 or less, a bit rate word
    // (kParMinBitRate to kParAvgBitRate) set to 0 or less, or a target below one bit per second.
    explicit CRateControl(EncoderBlock* block);
    int status() const { return status_; }
    int mode() const { return mode_; }
    // The average target in bits per second (bit-rate modes).
    int64_t targetBitRate() const { return average_; }

    // Settles the picture's QP (what slices start from). Calls the start of period for a
    // picture that starts one.
    int StartPicture(const RatePicture& picture);
    // Before the slices run: the picture's words into `slices` records.
    void CopyToSlices(int slices);
    // The per-slice QP strategy, on the slice's own thread: the slice QP (what the slice
    // header carries), then per macroblock its QP (after the source is loaded) and what
    // coding it took (after it is written).
    int StartSlice(int slice);
    int MacroblockQp(int slice, const CMbContext& mb);
    void MacroblockCoded(int slice, const CMbContext& mb, uint32_t bits);
    // After every slice: the bits the picture took, headers included.
    void EndPicture(int64_t pictureBits);

    const SliceRateRecord& record(int slice) const { return records_[size_t(slice)]; }
    // Variable bit rate: the table row of the picture started last.
    int row() const { return row_; }

private:
    void StartPeriod();
    void Targets();
    int StartVariable(const RatePicture& picture);
    int StartConstant(const RatePicture& picture);
    void EndVariable(int64_t bits);
    void EndConstant(int64_t bits);
    int64_t PredictedBits(int64_t complexity, int row) const;
    double BufferBits() const;
    int ClosestRow(int64_t complexity, int64_t bits) const;

    EncoderBlock* block_;
    int status_;
    int mode_;
    int floor_;
    int64_t width_, height_, macroblocks_;
    int64_t fps100_ = 0;
    int64_t base_ = 0;     // w x h x F / 800 bits per second
    int64_t average_ = 0;  // the target, bits per second
    int gop_ = 1, bFrames_ = 0;
    int64_t anchors_ = 0;  // P pictures per GOP
    std::vector<SliceRateRecord> records_;
    SliceRateRecord picture_;  // the words copied into every record
    int type_ = 0;             // 0 I, 1 P, 2 B of the current picture
    int64_t picturesInPeriod_ = 0;

    // Variable bit rate.
    int64_t complexity_[3] = {};  // X of I, P, B
    int64_t averageBits_[3] = {};
    int64_t window_ = 1;  // V, pictures
    int64_t meanBits_ = 0;
    int64_t scale_ = 1024;
    int64_t offset_ = 0;
    int64_t baseRow_ = 0;
    int64_t rowValue_ = 0;  // R = base row x 1024, smoothed
    int64_t elapsed_ = 0;   // seconds x 1024
    int64_t spentInPeriod_ = 0;
    int64_t lastRate_ = 0;
    int row_ = 0;
    int column_ = 0;  // the table's column of the picture: its type, P for a marked B picture

    // Constant bit rate.
    double seconds_ = 0;
    double gopBudget_ = 0, buffer_ = 0, fullness_ = 0;
    double meanPictureBits_ = 0;
    double cWindow_ = 1;
    int32_t typeQp_[3] = {};  // slice QPs by type: the start QP, then each type's last average
    double cComplexity_[3] = {};
    double typeTarget_[3] = {};
    int64_t activity_[3] = {};
};

}  // namespace ombrisk
