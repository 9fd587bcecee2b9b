// Codes pictures of any type (I, P or B) in CAVLC: parameter sets when due, slices of
// macroblocks against the reference lists, the loop filter, and the reference pictures
// kept by the sliding window (clause 8.2.5.3). The caller chooses each picture's type and
// gives pictures in coding order (the frame scheduler decides the order; the test driver
// uses a fixed I/P/B pattern).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/threads.h"
#include "filters/encoder/core/cabac_writer.h"
#include "filters/encoder/core/cavlc_writer.h"
#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/loop_filter.h"
#include "filters/encoder/core/mb_coder.h"
#include "filters/encoder/core/nal_writer.h"
#include "filters/encoder/core/param_sets.h"
#include "filters/encoder/core/picture_buffer.h"
#include "filters/encoder/core/worker_group.h"

namespace ombrisk {

class CRateControl;

// What the caller decides about one picture.
struct PictureOrder {
    int32_t sliceType = kSliceI;  // kSliceI, kSliceP or kSliceB
    bool idr = false;             // clears every reference; the first picture must be IDR
    bool reference = true;        // B pictures are never references here
    int64_t displayNumber = 0;    // display order since the last IDR picture
    int32_t qp = -1;              // the picture's QP; -1: the block's word for its type
    // When given, sets each slice's and each macroblock's QP in place of `qp` and is told
    // what every macroblock took.
    CRateControl* rate = nullptr;
};

class CPictureEncoder {
public:
    // Reads from the block: kParQpI, kParQpP, kParQpB, kParRefFrames, kParBFrames (only
    // whether any), kParMotionSearch (0 or 1), kParRangeX, kParRangeY, kParSubpelDepth,
    // kParPartitions, kParMbCoderLevel, kParSliceCount, kFlagDeblocking of kParFlags,
    // kParCabac (0 or 1). Slices are coded in
    // parallel on `processors` threads at most (one per slice); the stream does not
    // depend on the thread count.
    explicit CPictureEncoder(const EncoderBlock& block, int processors = 1);

    // kCoreOk when every buffer exists and the settings are ones this encoder codes.
    int status() const { return status_; }

    // Codes one picture; appends its Annex B bytes to `out`. kCoreBadArgument for a type
    // the references cannot serve (P without a reference, B without one on each side, a
    // first picture that is not IDR, P or B when kParRefFrames declares none); kCoreNoSpace when a slice did not fit
    // its buffer (nothing of the picture is appended then).
    int EncodePicture(const PlanarPicture& source, const PictureOrder& order, std::vector<uint8_t>* out);

    // The reconstruction of the last picture coded. A non-reference picture is left
    // without the loop filter (nothing predicts from it); DeblockLastPicture filters it
    // as a decoder does, for comparison with a decoder's output.
    const CRefPictureStore& reconstruction() const { return *pool_[current_]; }
    void DeblockLastPicture();
    // The number of list entries of the last picture (list 0, list 1).
    int listCount(int list) const { return lists_.count[list]; }

private:
    struct Slot {
        bool reference = false;
        int64_t decodeOrder = 0;
        int64_t display = 0;
    };
    void BuildLists(const PictureOrder& order);

    const EncoderBlock& block_;
    int status_;
    std::vector<std::unique_ptr<CRefPictureStore>> pool_;
    std::vector<Slot> slots_;
    // Per picture buffer: its quarter-resolution source and the coarse vectors of the
    // picture being coded against it.
    std::vector<QuarterPlane> quarter_;
    std::vector<CoarseVectorField> coarse_;
    int current_ = 0;
    bool currentFiltered_ = true;
    int maxReferences_ = 1;
    int listLimit_ = 1;
    InterReferences lists_;
    // One per slice, each with its own writers and coder: slices share only the picture
    // (each writes its own macroblocks) and the references (read only).
    struct SliceWorker {
        SliceWorker(const EncoderBlock& block, size_t payloadBytes, size_t macroblocks);
        CCavlcWriter writer;
        std::unique_ptr<CCabacWriter> cabac;  // with kParCabac only
        std::unique_ptr<CMbCoder> coder;
        CNalWriter nal;
        int first = 0, end = 0;
        int result = 0;
    };
    void CodeSlice(int index, const PictureHeaderInfo& pic, const PictureOrder& order, int qp,
                   CRefPictureStore* picture);
    std::vector<std::unique_ptr<SliceWorker>> slices_;
    // The slice threads also run the per-picture work in parallel: copying and padding the
    // source by bands of rows, the downscale by bands, the coarse search (one reference
    // each), the loop filter and the padding of a reference by macroblock rows as a
    // wavefront, and the half-sample plane by bands. Every part gives the same samples
    // for any number of threads.
    std::unique_ptr<CWorkerGroup> group_;
    int Bands() const;
    // Filters macroblock row y of the picture and, when `pad` is set, pads the lines of
    // the row above it, which are final by then (and the row's own, for the last row):
    // the row's strengths, then its luma and then its chroma macroblocks, each after the
    // macroblock above and to the right (CLoopFilter). Rows are items of one group run,
    // in order, after ResetRows.
    void FilterRow(CRefPictureStore* picture, int y, bool pad);
    void ResetRows();
    // Per macroblock row, how many of its macroblocks are filtered (luma, chroma): waits
    // for these take microseconds and spin.
    std::unique_ptr<std::atomic<int>[]> lumaFiltered_, chromaFiltered_;
    // Per macroblock row, 1 once its luma lines are final and padded: the bands of the
    // half-sample plane wait for the rows they read.
    std::unique_ptr<std::atomic<int>[]> lumaPadded_;
    // Band `band` of `bands` of the half-sample plane, after the luma rows it reads.
    void HalfSampleBandAfterRows(CRefPictureStore* picture, int band, int bands);
    // Per slice, set once it is coded in this picture: waits for these take milliseconds
    // and block.
    std::vector<std::unique_ptr<common::Event>> sliceCoded_;
    CLoopFilter loopFilter_;
    CParameterSetWriter headers_;
    CPictureNumbering numbering_;
    std::vector<uint8_t> bytes_;
    int64_t codingNumber_ = 0;
};

}  // namespace ombrisk
