// Decoded pictures: reference-counted records, the decoded picture buffer with reference
// marking (ITU-T H.264 clause 8.2.5), reference lists (clause 8.2.4) and the output queue.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>
#include <mutex>

#include "filters/decoder/core/macroblock.h"
#include "filters/decoder/core/param_sets.h"

namespace avcdec {

struct AvcDecoderContext;
struct PictureStore;

// Flags word of PictureRecord.
constexpr uint32_t kPicTopDecoded = 0x1;
constexpr uint32_t kPicBottomDecoded = 0x2;
constexpr uint32_t kPicTopRef = 0x10;
constexpr uint32_t kPicBottomRef = 0x20;
constexpr uint32_t kPicTopLongTerm = 0x100;
constexpr uint32_t kPicBottomLongTerm = 0x200;
constexpr uint32_t kPicOutputDone = 0x10000000;
constexpr uint32_t kPicNonExisting = 0x80000000;
constexpr uint32_t kPicRefMask = kPicTopRef | kPicBottomRef;
constexpr uint32_t kPicLongTermMask = kPicTopLongTerm | kPicBottomLongTerm;

constexpr int kMaxMarkingOps = 128;
constexpr int kMaxRefListSlots = 32;

struct MarkingOp {
    int32_t memory_management_control_operation;
    int32_t long_term_frame_idx;
    int32_t value;  // difference_of_pic_nums_minus1, long_term_pic_num or max_long_term_frame_idx_plus1
};

// One plane set of a picture: origins and row pitch (chroma rows use the luma pitch).
struct PlaneView {
    uint8_t* y;
    uint8_t* u;
    uint8_t* v;
    int32_t pitch;
};

struct PictureRecord {
    std::atomic<int32_t> refCount;
    PictureStore* store;
    int32_t planeIndex;
    PictureRecord* nextFree;
    PlaneView frame;
    MacroblockInfo* mbInfo;  // one record per macroblock of the frame
    // The frame's two fields as records of their own (every second line of the planes, the
    // field's half of the macroblock records, its order count and marks copied from the
    // frame when lists are built): reference-list entries and decoding targets of field
    // pictures. Null in a field record, whose `parent` is its frame (null in a frame).
    PictureRecord* fieldOf[2];
    PictureRecord* parent;
    int32_t fieldCoded;  // the frame was decoded as two field pictures
    int32_t mbaff;       // the frame was decoded as an MBAFF frame (records in frame raster order)
    uint32_t flags;
    int32_t frame_num;
    int32_t frameNumWrap;
    int32_t longTermFrameIdx;
    int32_t picNum;
    int32_t longTermPicNum;
    int32_t topFieldOrderCnt;
    int32_t bottomFieldOrderCnt;
    int32_t picOrderCnt;
    int32_t outputOrder;
    int32_t structure;  // 0 frame, 1 top field, 2 bottom field
    int32_t isReference;
    int32_t isIdr;
    int32_t sliceCount;
    int32_t damage;  // bit 0 top field, bit 1 bottom field had slices skipped or failed
    int32_t lastSliceKind;
    int32_t deblockWord;       // all ones once any slice enables the deblocking filter
    int32_t decodeIndex;       // pictures set up before this one since the decoder was created
    int32_t firstSliceNumber;  // macroblocks with a lower slice number were not decoded in it
    int32_t decodedMbs;
    int32_t hadMmco5;
    // The cropping rectangle of the sequence parameter set the picture was decoded with, in
    // luma samples cut from each side (a later set may change it before output).
    int32_t cropLeft, cropRight, cropTop, cropBottom;
    int32_t frameMbsOnly;  // frame_mbs_only_flag of that set
    int64_t timeStamp;     // 100-ns units; kNoTimeStamp when none
    int32_t no_output_of_prior_pics_flag;
    int32_t long_term_reference_flag;
    int32_t adaptive_ref_pic_marking_mode_flag;
    MarkingOp marking[kMaxMarkingOps];
    PictureTiming timing;
    BufferingPeriod buffering;
};

constexpr int kOutputQueueSlots = 256;

struct PictureStore {
    PictureRecord* records;
    int32_t recordCount;
    PictureRecord* freeHead;
    std::mutex lock;

    // Decoded picture buffer, in storing order.
    PictureRecord** dpb;
    int32_t dpbSize;
    int32_t stored;
    PictureRecord** shortTerm;
    int32_t shortTermCount;
    PictureRecord** longTerm;
    int32_t longTermCount;
    int32_t maxLongTermFrameIdx;  // -1: no long-term frame indices
    int32_t lastOutputOrder;      // INT_MIN when none
    int32_t numRefFrames;
    // MaxFrameNum of the sequence parameter set the current picture started with (the
    // active set may change before the picture is stored).
    int32_t maxFrameNum;

    // Reference lists of the current slice (frames only).
    PictureRecord* refList[2][kMaxRefListSlots + 1];
    int32_t refListCount[2];
    bool substituted[2][kMaxRefListSlots + 1];  // the entry stands in for a missing picture
    // MBAFF slices: the lists of frame macroblocks (variant 0) and of field macroblocks of
    // the top and bottom parity (1, 2: clause 8.2.4.2.5), and the variant refList holds.
    PictureRecord* variantList[3][2][kMaxRefListSlots + 1];
    int32_t variantCount[3][2];
    bool variantSubstituted[3][2][kMaxRefListSlots + 1];
    int32_t activeVariant;

    // Output queue: pictures in output order, each holding one reference.
    PictureRecord* queue[kOutputQueueSlots];
    int32_t queueRead;
    int32_t queueCount;
    std::mutex queueLock;
};

// Creates the store: dpbSize + 2 records over the frame-plane pool of the context, each
// with its own macroblock records. Null on failure.
PictureStore* CreatePictureStore(AvcDecoderContext* ctx);
void DestroyPictureStore(PictureStore* store);

// A free record with its reference count at 1, or null when every record is held (the
// caller must release pictures; nothing here waits).
PictureRecord* AcquirePicture(PictureStore* store);
// Whether a record is free (the caller's own releases may run on another thread).
bool HasFreePicture(PictureStore* store);
void AddRefPicture(PictureRecord* pic);
void ReleasePicture(PictureRecord* pic);

// Stores the decoded current picture (marking, bumping); the store takes its own
// reference when it keeps the picture.
void StorePicture(AvcDecoderContext* ctx, PictureRecord* pic);
// Outputs every waiting picture in output order and clears all reference marks.
void FlushDpb(AvcDecoderContext* ctx);
// Empties the store without output.
void ClearDpb(PictureStore* store);
// Stores the first field of a frame (marking, bumping) while the frame stays open for its
// second field: it is not output before the second field or CloseOpenField completes it.
void StoreFirstField(AvcDecoderContext* ctx, PictureRecord* pic);
// Marking of the second field of a frame whose first field is stored (clause 8.2.5).
void MarkSecondField(AvcDecoderContext* ctx, PictureRecord* pic);
// Copies a frame's order counts, marks and damage into its field records.
void SyncFieldRecords(PictureRecord* frame);
// Inserts non-existing frames for the frame_num values missing before the current slice's.
// Stops early (false) when pictures wait in the output queue or no record is free; a
// later call goes on where it stopped.
bool FillFrameNumGap(AvcDecoderContext* ctx);
// Initial reference lists (clause 8.2.4.2) for frames, then the slice's modification
// commands (clause 8.2.4.3). kDecoderOutOfRange when a command names no picture.
int BuildRefPicLists(AvcDecoderContext* ctx);

void QueueForOutput(PictureStore* store, PictureRecord* pic);
// The oldest queued picture (its queue reference passes to the caller), or null.
PictureRecord* TakeOutputPicture(PictureStore* store);
int32_t QueuedPictureCount(PictureStore* store);
void ReleaseQueuedPictures(PictureStore* store);

}  // namespace avcdec
