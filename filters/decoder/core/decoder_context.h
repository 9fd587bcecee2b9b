// The decoder core's one state record and the C-style operations the filter calls.
// Operations answer small integer codes: 0 success, -1 unsupported or out of memory,
// -5 no context (or no active sequence parameter set), -8 a syntax value out of range or
// a missing parameter set. The decode steps answer the step codes below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/bitstream/h264_syntax.h"
#include "filters/decoder/core/macroblock.h"
#include "filters/decoder/core/param_sets.h"
#include "filters/decoder/core/slice_header.h"

namespace avcdec {

struct PictureRecord;
struct PictureStore;
struct DeblockWorker;

constexpr int64_t kNoTimeStamp = 0x7FFFFFFFFFFFFFFF;  // 100-ns units otherwise
constexpr size_t kNalCopyAreaSize = 2 * 1024 * 1024;

// Step codes of AvcDecoderDecodeByteStream / AvcDecoderDecodeNalUnit.
enum StepCode : int {
    kStepEndOfStream = 0,   // an end-of-stream NAL unit (type 11) was consumed
    kStepConsumed = 1,      // a NAL unit was consumed without output, or draining ended
    kStepPictureReady = 2,  // readyPicture is set
    kStepNeedData = 5,      // the pushed data is used up
    kStepDropped = 6,       // NAL unit dropped (too long), or activation failed
    kStepFormatChange = 7,  // new picture or DPB size: pictures drained, slice held
};

// The caller's bytes, the start-code scanner and the one copy area where the current NAL
// unit is assembled without its emulation prevention bytes.
struct NalInputBuffer {
    uint32_t shift;  // last three input bytes; starts so no start code is seen at once
    uint8_t header;  // the byte after the last start code
    uint8_t* area;   // kNalCopyAreaSize bytes
    size_t areaSize;
    size_t copyStart;          // where the current NAL unit begins in the area (0)
    size_t writePos;           // bytes of the current NAL unit copied so far
    bool restartCopy;          // the previous NAL unit was handed out; next copy starts afresh
    const uint8_t* dataStart;  // caller's bytes not yet consumed (null when none)
    const uint8_t* dataEnd;
    int64_t currentTime;
    int64_t previousTime;
    int32_t pendingTimes;   // time stamps not yet given to a NAL unit
    size_t consumedInPush;  // bytes consumed since the last push that carried a time stamp
};

struct NalUnitBuffer {
    const uint8_t* payload;  // header byte first, in the copy area
    size_t length;
    int32_t forbidden_zero_bit;
    int32_t nal_ref_idc;
    int32_t nal_unit_type;
    int32_t skipToStartCode;  // 1: bytes up to the next start code are ignored
};

// pic_parameter_set_id .. delta_pic_order_cnt[1] of the last slice that started or
// continued a picture; all ones after a reset so the next slice starts a new picture.
struct PrevSliceRecord {
    int32_t pic_parameter_set_id;
    int32_t frame_num;
    int32_t field_pic_flag;
    int32_t bottom_field_flag;
    int32_t idr_pic_id;
    int32_t pic_order_cnt_lsb;
    int32_t delta_pic_order_cnt_bottom;
    int32_t delta_pic_order_cnt[2];
};

// One decoded picture's planes with their borders. Luma pitch P = width + 64, horizontal
// border 32, vertical border B (20 for frame-only streams, else 40); the two chroma planes
// lie side by side in rows of the luma pitch, with a 16-sample border and B/2 border rows.
struct FramePlaneSet {
    uint8_t* y;
    uint8_t* u;
    uint8_t* v;
    uint8_t* base;  // the zeroed 16-byte aligned allocation: (H + 2B) x P luma bytes, half again for chroma
};

constexpr int kMaxFramePlaneSets = 256;

struct FramePlanePool {
    FramePlaneSet sets[kMaxFramePlaneSets];
    int32_t count;   // DPB size + 2
    int32_t border;  // B, in luma rows
};

struct alignas(16) AvcDecoderContext {
    // Picture geometry, set by ActivateSeqParamSet.
    int32_t width;   // PicWidthInMbs * 16
    int32_t height;  // FrameHeightInMbs * 16
    int32_t picWidthInMbs;
    int32_t frameHeightInMbs;
    int32_t lumaPitch;   // width + 64
    int32_t paddedRows;  // height + 40
    int32_t mbCount;
    // The picture being decoded: a frame has the sizes above, a field half the rows.
    int32_t picHeightInMbs;
    int32_t picSizeInMbs;
    int32_t picHeight;  // luma rows

    // Decode state.
    int32_t pendingAction;  // 0 none, 1 resume held slice after a gap, 2 activate SPS
    int32_t prevRefFrameNum;

    // Parameter-set tables.
    SeqParamSet* sps;  // kMaxSeqParamSets slots
    PicParamSet* pps;  // kMaxPicParamSets slots
    SeqParamSet* activeSps;
    PicParamSet* activePps;
    NalInputBuffer* input;
    NalUnitBuffer* nal;
    FramePlanePool planePool;
    int32_t dpbSize;         // of the allocated picture resources
    uint8_t* intraModeMap;   // (4 * FrameHeightInMbs + 2) x (4 * PicWidthInMbs + 2)
    uint8_t* sliceGroupMap;  // one byte per macroblock
    // profile_idc of the last sequence parameter set refused for its profile, 0 when none:
    // the decoder takes Baseline, Main and Extended (66, 77, 88) only.
    int32_t refusedProfileIdc;

    BitReader reader;
    PrevSliceRecord prevSlice;
    SliceHeader slice;
    PocState poc;
    PredWeightTable* predWeights;
    // The weights of frame macroblocks (the table parsed into) and, in MBAFF slices, of top
    // and bottom field macroblocks; predWeights is the one of the current macroblock.
    PredWeightTable* variantWeights[3];
    MacroblockWork* work;

    // Pictures: the store, the picture being decoded and the one handed to the caller.
    PictureStore* store;
    PictureRecord* currentPicture;
    // What the current slice decodes into: the current frame, or its field record.
    PictureRecord* decoding;
    // A frame whose first field is decoded and stored, waiting for its second field (the
    // decoder holds a reference); null when none.
    PictureRecord* openField;
    PictureRecord* readyPicture;
    int32_t sliceNumber;     // slices started since creation; numbers macroblock records
    int32_t decodedMbs;      // macroblocks decoded in the current slice loop
    int32_t pictureCounter;  // pictures set up since creation
    int32_t damagedSlices;   // slices whose data could not be read (statistics)
    // Set when a non-IDR picture starts with no reference picture stored (the decoder tuned
    // in at a recovery point, or lost every reference): its order count. Inter pictures
    // that follow it in decoding order but precede it in output order may predict from
    // pictures before the tune-in, and are marked damaged. INT32_MIN when none; an IDR
    // picture or a memory_management_control_operation 5 clears it.
    int32_t leadingBound;
    // Why the last slice or stream was refused, for the caller's log; null when none.
    const char* refusal;

    // Pending SEI, copied into the next picture that is set up.
    PictureTiming pendingTiming;
    BufferingPeriod pendingBuffering;

    // Time and skip state.
    bool hasTime;
    int64_t nalTime;        // time stamp of the current NAL unit when hasTime
    int32_t lastSliceKind;  // 0 P, 1 B, 2 I; -1 resynchronising
    int32_t requestedSkipLevel;
    int32_t pictureSkipLevel;
    int32_t errorResilienceMode;

    // Output.
    bool draining;
    bool picturesAllocated;

    // The thread that deblocks rows of the current picture while this one decodes, and
    // chroma while this one filters luma; lives with the picture resources.
    DeblockWorker* deblockWorker;
    // The deblocking filter runs on the decoding thread alone, with no worker
    // (AvcDecoderSetThreads 1): for one-core figures and for callers that run several
    // decoders side by side.
    bool deblockOnDecodingThread;
    // Macroblocks of the current picture decoded in order from its first (rows complete
    // up to orderedMbs / picWidthInMbs); whether a slice broke that order; whether the slice
    // being decoded continues it (deblocking.cpp).
    int32_t orderedMbs;
    bool orderBroken;
    bool sliceInOrder;
};

AvcDecoderContext* AvcDecoderCreate();
void AvcDecoderDestroy(AvcDecoderContext* ctx);
int AvcDecoderFreePictures(AvcDecoderContext* ctx);
// Makes data the input of the next decode steps (no copy: the bytes must stay valid until
// a step returns 5). timeStamp kNoTimeStamp means the push carries none.
int AvcDecoderPushData(AvcDecoderContext* ctx, const uint8_t* data, int64_t timeStamp, size_t length, size_t* accepted);
int AvcDecoderDecodeByteStream(AvcDecoderContext* ctx);
int AvcDecoderDecodeNalUnit(AvcDecoderContext* ctx);
int AvcDecoderEndOfStream(AvcDecoderContext* ctx);
int AvcDecoderReset(AvcDecoderContext* ctx);
// Threads the context decodes with: 1, the decoding thread alone; 2, with the deblocking
// worker (the default). Taken before the first slice only, since a worker may hold rows of
// the picture in progress: -1 once picture resources exist or for another count.
int AvcDecoderSetThreads(AvcDecoderContext* ctx, int32_t threads);
void AvcDecoderClearTimeStamp(AvcDecoderContext* ctx);

// What the caller needs of a picture handed out by step code 2 (ctx->readyPicture).
struct PictureInfo {
    uint8_t* y;
    uint8_t* u;
    uint8_t* v;
    int32_t width;   // luma samples, before cropping
    int32_t height;  // luma rows, before cropping
    int32_t pitch;   // bytes per row of every plane
    int64_t timeStamp;
    int32_t damage;  // bit 0 top field, bit 1 bottom field had slices skipped or failed
    int32_t sliceKind;
    int32_t decodeIndex;  // position of the picture in decoding order
    int32_t picOrderCnt;
    // The picture's own cropping (clause 7.4.2.1.1), in luma samples cut from each side,
    // and whether its sequence allowed frames only.
    int32_t cropLeft, cropRight, cropTop, cropBottom;
    int32_t frameMbsOnly;
};

int AvcDecoderGetPictureInfo(AvcDecoderContext* ctx, const PictureRecord* pic, PictureInfo* info);
const PictureTiming* AvcDecoderGetPictureTiming(const PictureRecord* pic);
int AvcDecoderGetPictureValue(AvcDecoderContext* ctx, const PictureRecord* pic);
// The caller's release of a picture it was handed.
void AvcDecoderReleasePicture(PictureRecord* pic);

int DispatchNalUnit(AvcDecoderContext* ctx);
// Whether the slice in ctx->slice starts a new picture (clause 7.4.1.2.4).
bool IsNewPicture(const AvcDecoderContext* ctx);
// Deblocks, pads and stores the current picture and drops the decoder's hold on it.
void FinishCurrentPicture(AvcDecoderContext* ctx);
// Completes a frame whose first field was not followed by its second one.
void CloseOpenField(AvcDecoderContext* ctx);
// Frames the decoded picture buffer holds for the active sequence parameter set (the
// level's MaxDpb bytes over the frame size, at least num_ref_frames + 1, capped at 254);
// 0 without one.
int32_t DpbSize(const AvcDecoderContext* ctx);
int ActivateSeqParamSet(AvcDecoderContext* ctx);

// Copies [begin, end) to out, dropping each 0x03 that follows two 0x00 bytes (clause
// 7.4.1). The bytes before begin count as non-zero. Returns the output length; out must
// hold end - begin bytes.
size_t RemoveEmulationPrevention(const uint8_t* begin, const uint8_t* end, uint8_t* out);

}  // namespace avcdec

namespace avcdec {

// Extraction alone, the first half of the two decode steps: 0 when the next NAL unit is in
// ctx->nal (its time stamp in ctx->nalTime when ctx->hasTime), else a step code
// (5 input used up, 6 dropped as too long, 1 dropped as damaged).
int ExtractByteStreamNalUnit(AvcDecoderContext* ctx);
int ExtractSingleNalUnit(AvcDecoderContext* ctx);

}  // namespace avcdec
