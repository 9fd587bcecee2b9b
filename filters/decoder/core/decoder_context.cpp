// Creation, input, reset and NAL dispatch of the decoder core context.
#include "filters/decoder/core/decoder_context.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <new>

#include "filters/decoder/core/decoder_result.h"
#include "filters/decoder/core/dequant.h"
#include "filters/decoder/core/motion_kernels.h"
#include "filters/decoder/core/picture_store.h"
#include "filters/decoder/core/slice_decoding.h"
#include "filters/decoder/core/zeroed_memory.h"

namespace avcdec {

namespace {

// The copy area is followed by zero bytes so that a reader that looks ahead never meets
// stale data of an earlier, longer NAL unit.
constexpr size_t kAreaSlack = 8;

// Table A-1, level 5.1: its MaxFS and MaxDpbMbs bound every stream's memory.
const common::H264Level& BoundingLevel() {
    static const common::H264Level& level = *common::FindH264Level(51);
    return level;
}

// The sizes of the picture the next slices decode: a frame, or one field of it.
void SetPictureGeometry(AvcDecoderContext* ctx, bool field) {
    ctx->picHeightInMbs = field ? ctx->frameHeightInMbs / 2 : ctx->frameHeightInMbs;
    ctx->picSizeInMbs = ctx->picHeightInMbs * ctx->picWidthInMbs;
    ctx->picHeight = 16 * ctx->picHeightInMbs;
}

void ResetPrevSlice(AvcDecoderContext* ctx) {
    std::memset(&ctx->prevSlice, 0xFF, sizeof ctx->prevSlice);
}

void ResetScanner(NalInputBuffer* in) {
    in->shift = static_cast<uint32_t>(-256);
    in->pendingTimes = 0;
}

// Allocates the plane sets of the pool for the context's geometry; false when memory runs
// out (what was allocated stays counted, for AvcDecoderFreePictures).
bool AllocatePlanePool(AvcDecoderContext* ctx, int32_t sets, int32_t border) {
    FramePlanePool* pool = &ctx->planePool;
    pool->border = border;
    const size_t pitch = static_cast<size_t>(ctx->lumaPitch);
    const size_t rows = static_cast<size_t>(ctx->height) + 2 * static_cast<size_t>(border);
    const size_t lumaBytes = rows * pitch;
    const size_t bytes = (lumaBytes + lumaBytes / 2 + 15) & ~size_t{15};
    // One allocation a set, not one for the pool: when a context is freed and another made
    // (a new stream, a new size), the C heap hands sets of the same size back from its free
    // lists, whose pages are mapped already, where one block of the whole pool would be
    // unmapped and faulted in again page by page (zeroed_memory.h).
    for (pool->count = 0; pool->count < sets; ++pool->count) {
        auto* base = static_cast<uint8_t*>(AllocateZeroed(bytes));
        if (base == nullptr) return false;
        FramePlaneSet* s = &pool->sets[pool->count];
        s->base = base;
        s->y = base + 32 + static_cast<size_t>(border) * pitch;
        s->u = base + pitch * (rows + static_cast<size_t>(border) / 2) + 16;
        s->v = s->u + pitch / 2;
    }
    return true;
}

// Picture width and height in macroblocks that the active sequence parameter set needs.
void NeededSize(const SeqParamSet* sps, int32_t* w, int32_t* h) {
    *w = sps->pic_width_in_mbs_minus1 + 1;
    *h = (2 - sps->frame_mbs_only_flag) * (sps->pic_height_in_map_units_minus1 + 1);
}

// Common start of both decode steps; -1 when extraction and dispatch should follow.
int StepPrologue(AvcDecoderContext* ctx) {
    PictureStore* st = ctx->store;
    if (st != nullptr && (ctx->draining || !HasFreePicture(st))) {
        if ((ctx->readyPicture = TakeOutputPicture(st)) != nullptr) return kStepPictureReady;
    }
    if (ctx->draining) {
        ctx->draining = false;
        return kStepConsumed;
    }
    return -1;
}

int DecodeStep(AvcDecoderContext* ctx, int (*extract)(AvcDecoderContext*)) {
    if (ctx == nullptr || ctx->input == nullptr) return kDecoderNoContext;
    const int early = StepPrologue(ctx);
    if (early >= 0) return early;
    if (ctx->pendingAction == 0) {
        const int got = extract(ctx);
        if (got != 0) return got;
    }
    const int step = DispatchNalUnit(ctx);
    if (step == kStepPictureReady) {
        ctx->readyPicture = ctx->store != nullptr ? TakeOutputPicture(ctx->store) : nullptr;
        if (ctx->readyPicture == nullptr) return kStepConsumed;
    }
    return step;
}

}  // namespace

AvcDecoderContext* AvcDecoderCreate() {
    auto* ctx = new (std::nothrow) AvcDecoderContext{};
    if (ctx == nullptr) return nullptr;
    ctx->input = new (std::nothrow) NalInputBuffer{};
    if (ctx->input != nullptr) {
        // Only the slack behind the area must be zero: the area itself is written before
        // it is read.
        ctx->input->area = new (std::nothrow) uint8_t[kNalCopyAreaSize + kAreaSlack];
        if (ctx->input->area != nullptr) std::memset(ctx->input->area + kNalCopyAreaSize, 0, kAreaSlack);
        ctx->input->areaSize = kNalCopyAreaSize;
    }
    ctx->nal = new (std::nothrow) NalUnitBuffer{};
    ctx->sps = new (std::nothrow) SeqParamSet[kMaxSeqParamSets]();
    ctx->pps = new (std::nothrow) PicParamSet[kMaxPicParamSets]();
    ctx->predWeights = new (std::nothrow) PredWeightTable{};
    ctx->variantWeights[0] = ctx->predWeights;
    ctx->work = new (std::nothrow) MacroblockWork{};
    if (ctx->work != nullptr) ctx->work->scan = kZigZag;
    if (ctx->input == nullptr || ctx->input->area == nullptr || ctx->nal == nullptr || ctx->sps == nullptr ||
        ctx->pps == nullptr || ctx->predWeights == nullptr || ctx->work == nullptr) {
        AvcDecoderDestroy(ctx);
        return nullptr;
    }
    InstallMotionKernels();
    ResetScanner(ctx->input);
    ctx->nal->skipToStartCode = 1;
    ctx->nalTime = kNoTimeStamp;
    ctx->lastSliceKind = -1;
    ctx->leadingBound = INT32_MIN;
    ResetPrevSlice(ctx);
    return ctx;
}

void AvcDecoderDestroy(AvcDecoderContext* ctx) {
    if (ctx == nullptr) return;
    AvcDecoderFreePictures(ctx);
    if (ctx->input != nullptr) delete[] ctx->input->area;
    delete ctx->input;
    delete ctx->nal;
    delete[] ctx->sps;
    delete[] ctx->pps;
    delete ctx->variantWeights[0];
    delete ctx->variantWeights[1];
    delete ctx->variantWeights[2];
    delete ctx->work;
    delete ctx;
}

int AvcDecoderFreePictures(AvcDecoderContext* ctx) {
    if (ctx == nullptr) return kDecoderNoContext;
    // First: the worker may be filtering a row of the current picture.
    StopDeblockWorker(ctx->deblockWorker);
    ctx->deblockWorker = nullptr;
    if (ctx->store != nullptr) {
        ReleasePicture(ctx->currentPicture);
        ReleasePicture(ctx->openField);
        ReleasePicture(ctx->readyPicture);
        ReleaseQueuedPictures(ctx->store);
        ClearDpb(ctx->store);
        DestroyPictureStore(ctx->store);
    }
    ctx->store = nullptr;
    ctx->currentPicture = nullptr;
    ctx->openField = nullptr;
    ctx->decoding = nullptr;
    ctx->readyPicture = nullptr;
    for (int i = 0; i < ctx->planePool.count; ++i)
        FreeZeroed(ctx->planePool.sets[i].base);
    ctx->planePool = FramePlanePool{};
    ctx->dpbSize = 0;
    delete[] ctx->sliceGroupMap;
    ctx->sliceGroupMap = nullptr;
    delete[] ctx->intraModeMap;
    ctx->intraModeMap = nullptr;
    ctx->picturesAllocated = false;
    return kDecoderOk;
}

int AvcDecoderPushData(AvcDecoderContext* ctx, const uint8_t* data, int64_t timeStamp, size_t length,
                       size_t* accepted) {
    if (ctx == nullptr || ctx->input == nullptr) return kDecoderNoContext;
    NalInputBuffer* in = ctx->input;
    if (timeStamp != kNoTimeStamp) {
        in->previousTime = in->currentTime;
        in->currentTime = timeStamp;
        ++in->pendingTimes;
        in->consumedInPush = 0;
    }
    in->dataStart = length != 0 ? data : nullptr;
    in->dataEnd = length != 0 ? data + length : nullptr;
    if (accepted != nullptr) *accepted = length;
    return kDecoderOk;
}

int AvcDecoderDecodeByteStream(AvcDecoderContext* ctx) {
    return DecodeStep(ctx, ExtractByteStreamNalUnit);
}

int AvcDecoderDecodeNalUnit(AvcDecoderContext* ctx) {
    return DecodeStep(ctx, ExtractSingleNalUnit);
}

int AvcDecoderEndOfStream(AvcDecoderContext* ctx) {
    if (ctx == nullptr) return kDecoderNoContext;
    if (ctx->picturesAllocated && ctx->store != nullptr) {
        FinishCurrentPicture(ctx);
        CloseOpenField(ctx);
        ReleasePicture(ctx->currentPicture);
        ctx->currentPicture = nullptr;
        FlushDpb(ctx);
    }
    ctx->draining = true;
    return kDecoderOk;
}

int AvcDecoderReset(AvcDecoderContext* ctx) {
    if (ctx == nullptr || ctx->input == nullptr) return kDecoderNoContext;
    ctx->lastSliceKind = -1;
    ctx->nal->skipToStartCode = 1;
    ResetScanner(ctx->input);
    ctx->input->dataStart = nullptr;
    ctx->input->dataEnd = nullptr;
    ctx->draining = false;
    // Messages read for a picture that never came belong to the flushed data.
    ctx->pendingTiming.valid = 0;
    ctx->pendingBuffering.valid = 0;
    if (ctx->picturesAllocated) {
        ClearDpb(ctx->store);
        ReleaseQueuedPictures(ctx->store);
        CloseDeblockRows(ctx);
        ReleasePicture(ctx->currentPicture);
        ctx->currentPicture = nullptr;
        ReleasePicture(ctx->openField);
        ctx->openField = nullptr;
        ctx->decoding = nullptr;
        SetPictureGeometry(ctx, false);
        ResetPrevSlice(ctx);
    }
    return kDecoderOk;
}

int AvcDecoderSetThreads(AvcDecoderContext* ctx, int32_t threads) {
    if (ctx == nullptr) return kDecoderNoContext;
    if (ctx->picturesAllocated || (threads != 1 && threads != 2)) return kDecoderUnsupported;
    ctx->deblockOnDecodingThread = threads == 1;
    return kDecoderOk;
}

void AvcDecoderClearTimeStamp(AvcDecoderContext* ctx) {
    if (ctx != nullptr) ctx->hasTime = false;
}

int AvcDecoderGetPictureInfo(AvcDecoderContext* ctx, const PictureRecord* pic, PictureInfo* info) {
    if (ctx == nullptr || pic == nullptr || info == nullptr || !ctx->picturesAllocated) return kDecoderNoContext;
    info->y = pic->frame.y;
    info->u = pic->frame.u;
    info->v = pic->frame.v;
    info->width = ctx->width;
    info->height = ctx->height;
    info->pitch = ctx->lumaPitch;
    info->timeStamp = pic->timeStamp;
    info->damage = pic->damage;
    info->sliceKind = pic->lastSliceKind;
    info->decodeIndex = pic->decodeIndex;
    info->picOrderCnt = pic->picOrderCnt;
    info->cropLeft = pic->cropLeft;
    info->cropRight = pic->cropRight;
    info->cropTop = pic->cropTop;
    info->cropBottom = pic->cropBottom;
    info->frameMbsOnly = pic->frameMbsOnly;
    return kDecoderOk;
}

const PictureTiming* AvcDecoderGetPictureTiming(const PictureRecord* pic) {
    return pic != nullptr ? &pic->timing : nullptr;
}

int AvcDecoderGetPictureValue(AvcDecoderContext*, const PictureRecord*) {
    return 0;
}

void AvcDecoderReleasePicture(PictureRecord* pic) {
    ReleasePicture(pic);
}

int ActivateSeqParamSet(AvcDecoderContext* ctx) {
    if (ctx == nullptr || ctx->activeSps == nullptr) return kDecoderNoContext;
    int32_t w = 0, h = 0;
    NeededSize(ctx->activeSps, &w, &h);
    if (int64_t{w} * h > BoundingLevel().maxFs) {
        ctx->refusal = "picture larger than any level of the standard allows";
        return kDecoderUnsupported;
    }
    const int32_t dpb = DpbSize(ctx);
    if (ctx->picturesAllocated && w == ctx->picWidthInMbs && h == ctx->frameHeightInMbs && dpb == ctx->dpbSize)
        return kDecoderOk;
    AvcDecoderFreePictures(ctx);

    ctx->picWidthInMbs = w;
    ctx->frameHeightInMbs = h;
    ctx->width = 16 * w;
    ctx->height = 16 * h;
    ctx->lumaPitch = ctx->width + 64;
    ctx->paddedRows = ctx->height + 40;
    ctx->mbCount = w * h;
    SetPictureGeometry(ctx, false);
    ctx->dpbSize = dpb;
    if (!AllocatePlanePool(ctx, dpb + 2, ctx->activeSps->frame_mbs_only_flag ? 20 : 40)) {
        AvcDecoderFreePictures(ctx);
        ctx->refusal = "picture resources could not be allocated";
        return kDecoderUnsupported;
    }
    // Sizes in size_t: the parser bounds w and h by 512 macroblocks each, so these cannot
    // overflow, but nothing here relies on 32-bit products.
    const size_t modeMapBytes = (4 * static_cast<size_t>(h) + 2) * (4 * static_cast<size_t>(w) + 2);
    ctx->intraModeMap = new (std::nothrow) uint8_t[modeMapBytes]();
    ctx->sliceGroupMap = new (std::nothrow) uint8_t[static_cast<size_t>(ctx->mbCount)]();
    ctx->store = ctx->intraModeMap != nullptr && ctx->sliceGroupMap != nullptr ? CreatePictureStore(ctx) : nullptr;
    ctx->deblockWorker =
        ctx->store != nullptr ? StartDeblockWorker(ctx->mbCount, !ctx->deblockOnDecodingThread) : nullptr;
    if (ctx->store == nullptr || ctx->deblockWorker == nullptr) {
        AvcDecoderFreePictures(ctx);
        ctx->refusal = "picture resources could not be allocated";
        return kDecoderUnsupported;
    }
    // pendingTiming and pendingBuffering are kept: the SEI before the slice that caused this
    // allocation belongs to that slice's picture.
    ResetPrevSlice(ctx);
    ctx->picturesAllocated = true;
    return kDecoderOk;
}

int32_t DpbSize(const AvcDecoderContext* ctx) {
    const SeqParamSet* s = ctx->activeSps;
    if (s == nullptr) return 0;
    // Table A-1: MaxDpbMbs of the stated level; none for a level_idc outside the table.
    const common::H264Level* level = common::FindH264Level(s->level_idc, false, s->profile_idc);
    const int64_t maxDpbMbs = level != nullptr ? level->maxDpbMbs : 0;
    const int64_t frameMbs = int64_t{2 - s->frame_mbs_only_flag} * (s->pic_height_in_map_units_minus1 + 1) *
                             (s->pic_width_in_mbs_minus1 + 1);
    int64_t size = maxDpbMbs / frameMbs;
    // Clause E.2.1: a stream's max_dec_frame_buffering is the size of the buffer it needs
    // (clause C.4.5.3 bumps against it), and often far below the level's: an intra-only
    // stream states 0. Fewer frames held are fewer plane sets to clear and fault in.
    if (s->bitstream_restriction_flag) size = s->max_dec_frame_buffering;
    if (s->num_ref_frames >= size) size = s->num_ref_frames + 1;
    // Clause A.3.1: at most 16 frames; and no stream gets more memory than level 5.1's
    // MaxDpbMbs allows, whatever level_idc it states.
    size = std::min<int64_t>(size, std::max<int64_t>(16, s->num_ref_frames + 1));
    size = std::min<int64_t>(size, std::max<int64_t>(1, int64_t{BoundingLevel().maxDpbMbs} / frameMbs));
    return static_cast<int32_t>(std::max<int64_t>(size, 1));
}

bool IsNewPicture(const AvcDecoderContext* ctx) {
    const SliceHeader* s = &ctx->slice;
    const PrevSliceRecord* p = &ctx->prevSlice;
    if (ctx->currentPicture == nullptr) return true;
    if (s->pic_parameter_set_id != p->pic_parameter_set_id || s->frame_num != p->frame_num ||
        s->field_pic_flag != p->field_pic_flag || s->idr_pic_id != p->idr_pic_id)
        return true;
    if (s->field_pic_flag && s->bottom_field_flag != p->bottom_field_flag) return true;
    const int32_t pocType = ctx->activeSps->pic_order_cnt_type;
    if (pocType == 0 && (s->pic_order_cnt_lsb != p->pic_order_cnt_lsb ||
                         s->delta_pic_order_cnt_bottom != p->delta_pic_order_cnt_bottom))
        return true;
    if (pocType == 1 && (s->delta_pic_order_cnt[0] != p->delta_pic_order_cnt[0] ||
                         s->delta_pic_order_cnt[1] != p->delta_pic_order_cnt[1]))
        return true;
    return false;
}

namespace {

// The field of the current picture that ends: deblocked, its own borders padded (a field
// predicts from the other field of its frame before the frame is complete), then stored
// as a first field or marked as a second one.
void FinishField(AvcDecoderContext* ctx, PictureRecord* pic) {
    PictureRecord* field = ctx->decoding;
    const int parity = field->structure - 1;
    if (field->decodedMbs < ctx->picSizeInMbs) pic->damage |= 1 << parity;
    DeblockPicture(ctx, field);
    PadPictureLines(field->frame, ctx->width, ctx->picHeight, ctx->planePool.border / 2, 0, ctx->picHeight);
    const bool second = (pic->flags & (kPicTopDecoded | kPicBottomDecoded)) != 0;
    if (second) {
        MarkSecondField(ctx, pic);
    } else {
        StoreFirstField(ctx, pic);
    }
    FinishPicOrderCnt(ctx);
    if (field->isReference) ctx->prevRefFrameNum = pic->hadMmco5 ? 0 : pic->frame_num;
    if (pic->hadMmco5) ctx->leadingBound = INT32_MIN;
    SetPictureGeometry(ctx, false);
    ctx->decoding = nullptr;
    ctx->currentPicture = nullptr;
    if (!second) {
        ctx->openField = pic;  // the decoder's hold passes on
        return;
    }
    // Frame pictures predict from the whole frame: its borders as a frame.
    if (pic->isReference) PadPicture(ctx, pic, 0);
    ReleasePicture(pic);
}

}  // namespace

void CloseOpenField(AvcDecoderContext* ctx) {
    PictureRecord* pic = ctx->openField;
    if (pic == nullptr) return;
    ctx->openField = nullptr;
    constexpr uint32_t kBoth = kPicTopDecoded | kPicBottomDecoded;
    if ((pic->flags & kBoth) != kBoth) {
        // The other field's lines hold another picture's samples.
        pic->damage |= (pic->flags & kPicTopDecoded) != 0 ? 2 : 1;
        pic->flags |= kBoth;
    }
    if ((pic->flags & kPicRefMask) != 0) PadPicture(ctx, pic, 0);
    ReleasePicture(pic);
}

void FinishCurrentPicture(AvcDecoderContext* ctx) {
    PictureRecord* pic = ctx->currentPicture;
    if (pic == nullptr) return;
    if (ctx->decoding != nullptr && ctx->decoding != pic) {
        FinishField(ctx, pic);
        return;
    }
    // Macroblocks that no slice decoded hold another picture's samples.
    if (pic->decodedMbs < ctx->mbCount) pic->damage |= 3;
    const int32_t padded = DeblockPicture(ctx, pic);
    if (pic->isReference) PadPicture(ctx, pic, padded);
    StorePicture(ctx, pic);
    FinishPicOrderCnt(ctx);
    if (pic->isReference) ctx->prevRefFrameNum = pic->hadMmco5 ? 0 : pic->frame_num;
    if (pic->hadMmco5) ctx->leadingBound = INT32_MIN;  // order counts start again
    ReleasePicture(pic);
    ctx->currentPicture = nullptr;
    ctx->decoding = nullptr;
}

namespace {

void RememberSlice(AvcDecoderContext* ctx) {
    const SliceHeader* s = &ctx->slice;
    PrevSliceRecord* p = &ctx->prevSlice;
    p->pic_parameter_set_id = s->pic_parameter_set_id;
    p->frame_num = s->frame_num;
    p->field_pic_flag = s->field_pic_flag;
    p->bottom_field_flag = s->bottom_field_flag;
    p->idr_pic_id = s->idr_pic_id;
    p->pic_order_cnt_lsb = s->pic_order_cnt_lsb;
    p->delta_pic_order_cnt_bottom = s->delta_pic_order_cnt_bottom;
    p->delta_pic_order_cnt[0] = s->delta_pic_order_cnt[0];
    p->delta_pic_order_cnt[1] = s->delta_pic_order_cnt[1];
}

int AfterSlice(AvcDecoderContext* ctx) {
    return ctx->store != nullptr && QueuedPictureCount(ctx->store) > 0 ? kStepPictureReady : kStepConsumed;
}

// Starts a new picture for the slice whose header start is in ctx->slice; false when no
// record is free.
// Starts decoding one field of the current frame.
void BeginField(AvcDecoderContext* ctx, PictureRecord* pic) {
    const int parity = ctx->slice.bottom_field_flag;
    PictureRecord* field = pic->fieldOf[parity];
    field->firstSliceNumber = ctx->sliceNumber + 1;
    field->decodedMbs = 0;
    field->deblockWord = 0;
    field->isReference = ctx->slice.nal_ref_idc != 0;
    ctx->decoding = field;
    SetPictureGeometry(ctx, true);
}

// Whether the field slice in ctx->slice is the second field of the open frame (clause
// 7.4.1.2.4): the other parity, the same frame_num.
bool IsSecondField(const AvcDecoderContext* ctx) {
    const PictureRecord* f = ctx->openField;
    const SliceHeader* s = &ctx->slice;
    if (f == nullptr || !s->field_pic_flag || f->frame_num != s->frame_num || (s->idr && !f->isIdr)) return false;
    return (f->flags & (s->bottom_field_flag ? kPicTopDecoded : kPicBottomDecoded)) != 0;
}

bool StartPicture(AvcDecoderContext* ctx) {
    if (IsSecondField(ctx)) {
        PictureRecord* pic = ctx->openField;
        ctx->openField = nullptr;
        ctx->currentPicture = pic;
        pic->sliceCount = 0;
        pic->isReference |= ctx->slice.nal_ref_idc != 0;
        pic->no_output_of_prior_pics_flag = 0;
        pic->long_term_reference_flag = 0;
        pic->adaptive_ref_pic_marking_mode_flag = 0;
        pic->marking[0] = MarkingOp{};
        ctx->hasTime = false;  // the frame keeps its first field's time
        BeginField(ctx, pic);
        BeginDeblockRows(ctx, ctx->decoding);
        return true;
    }
    CloseOpenField(ctx);
    PictureRecord* pic = AcquirePicture(ctx->store);
    if (pic == nullptr) return false;
    ctx->currentPicture = pic;
    ctx->decoding = pic;
    pic->fieldCoded = ctx->slice.field_pic_flag;
    pic->mbaff = ctx->slice.MbaffFrameFlag;
    SetPictureGeometry(ctx, false);
    const SeqParamSet* sps = ctx->activeSps;
    ctx->store->maxFrameNum = 1 << (sps->log2_max_frame_num_minus4 + 4);
    // Clause 7.4.2.1.1 for 4:2:0: CropUnitX 2, CropUnitY 2 * (2 - frame_mbs_only_flag);
    // the parser left at least one unit of each.
    const int32_t unitY = 2 * (2 - sps->frame_mbs_only_flag);
    const bool crop = sps->frame_cropping_flag != 0;
    pic->cropLeft = crop ? 2 * sps->frame_crop_left_offset : 0;
    pic->cropRight = crop ? 2 * sps->frame_crop_right_offset : 0;
    pic->cropTop = crop ? unitY * sps->frame_crop_top_offset : 0;
    pic->cropBottom = crop ? unitY * sps->frame_crop_bottom_offset : 0;
    pic->frameMbsOnly = sps->frame_mbs_only_flag;
    pic->decodeIndex = ctx->pictureCounter++;
    pic->firstSliceNumber = ctx->sliceNumber + 1;
    pic->decodedMbs = 0;
    pic->timing = ctx->pendingTiming;
    pic->buffering = ctx->pendingBuffering;
    ctx->pendingTiming.valid = 0;
    ctx->pendingBuffering.valid = 0;
    ctx->pictureSkipLevel = ctx->requestedSkipLevel;
    const SliceHeader* s = &ctx->slice;
    pic->frame_num = s->frame_num;
    pic->isIdr = s->idr;
    pic->isReference = s->nal_ref_idc != 0;
    pic->no_output_of_prior_pics_flag = 0;
    pic->long_term_reference_flag = 0;
    pic->adaptive_ref_pic_marking_mode_flag = 0;
    if (ctx->hasTime) pic->timeStamp = ctx->nalTime;
    ctx->hasTime = false;
    if (s->idr) ctx->prevRefFrameNum = 0;
    if (s->field_pic_flag) BeginField(ctx, pic);
    BeginDeblockRows(ctx, ctx->decoding);
    return true;
}

// What the stored reference pictures are: bit 0 set when one was decoded, bit 1 when one
// was inserted for a frame_num gap (clause 8.2.5.2).
constexpr int kDecodedReference = 1, kInsertedReference = 2;
int StoredReferenceKinds(const PictureStore* st) {
    int kinds = 0;
    for (int32_t i = 0; i < st->stored; ++i) {
        const uint32_t f = st->dpb[i]->flags;
        if ((f & kPicRefMask) != 0) kinds |= (f & kPicNonExisting) != 0 ? kInsertedReference : kDecodedReference;
    }
    return kinds;
}

// Whether every active entry of the slice's reference lists names a picture that was
// decoded without damage.
bool RefListsComplete(const AvcDecoderContext* ctx) {
    const PictureStore* st = ctx->store;
    for (int list = 0; list < 2; ++list) {
        for (int32_t i = 0; i < ctx->slice.numRefIdxActive[list]; ++i) {
            const PictureRecord* p = st->refList[list][i];
            if (p == nullptr || st->substituted[list][i] || p->damage != 0 || (p->flags & kPicNonExisting) != 0)
                return false;
        }
    }
    return true;
}

// The skip rules of the decoding level and the error-resilience modes (1 skip till an I
// slice, 2 skip slices with bad references, 3 skip till an IDR picture).
bool SkipSlice(const AvcDecoderContext* ctx, bool badReference) {
    const SliceHeader* s = &ctx->slice;
    const int mode = ctx->errorResilienceMode;
    if (badReference && mode == 2) return true;
    if (ctx->pictureSkipLevel != 0 && s->nal_ref_idc == 0) return true;
    if (ctx->pictureSkipLevel == 2 && s->sliceKind != kSliceI) return true;
    if (ctx->lastSliceKind == -1 && mode == 3 && !s->idr) return true;
    if (ctx->lastSliceKind == -1 && mode == 1 && s->sliceKind != kSliceI) return true;
    return false;
}

// Whether a list entry that served the slice's macroblocks stands in for a missing picture
// or holds a damaged one: the slice's prediction is then not the stream's.
bool UsedBadReference(const AvcDecoderContext* ctx) {
    const PictureStore* st = ctx->store;
    for (uint64_t used = ctx->work->usedRefs; used != 0; used &= used - 1) {
        const int bit = std::countr_zero(used);
        const int list = bit >> 5, i = bit & 31;
        const PictureRecord* p = st->refList[list][i];
        if (p == nullptr || st->substituted[list][i] || p->damage != 0 || (p->flags & kPicNonExisting) != 0)
            return true;
    }
    return false;
}

int ContinueSlice(AvcDecoderContext* ctx);

// Decodes the slice held in ctx->nal, whose header start has been read.
int DecodeSlice(AvcDecoderContext* ctx) {
    const SeqParamSet* sps = ctx->activeSps;
    const SliceHeader* s = &ctx->slice;
    if (s->MbaffFrameFlag && ctx->activePps->num_slice_groups_minus1 > 0) {
        // The MBAFF slice loops walk pairs in raster order; a slice-group map would have them
        // skip pairs of other groups, so such frames are refused rather than misdecoded.
        ctx->refusal = "slice groups in MBAFF frames are not decoded";
        return kStepConsumed;
    }
    if (ctx->activePps->num_slice_groups_minus1 > 0 && ctx->activePps->slice_group_map_type == 6 &&
        ctx->activePps->pic_size_in_map_units_minus1 + 1 !=
            ctx->picWidthInMbs * (sps->pic_height_in_map_units_minus1 + 1)) {
        ctx->refusal = "explicit slice-group map of the wrong size";
        return kStepConsumed;
    }
    // A slice of a redundant coded picture (redundant_pic_cnt > 0) repeats macroblocks of
    // the primary one, perhaps coded otherwise; decoders may leave it out (ITU-T H.264
    // clause 7.4.3), and decoding it over the primary picture would change what is shown.
    if (s->redundant_pic_cnt > 0) return AfterSlice(ctx);
    if (IsNewPicture(ctx)) {
        FinishCurrentPicture(ctx);
        if (!StartPicture(ctx)) {
            ctx->refusal = "no free picture record";
            return AfterSlice(ctx);
        }
    }
    PictureRecord* pic = ctx->currentPicture;
    // An MBAFF frame is made of macroblock pairs, two rows each. A slice that calls for MBAFF
    // in a picture sized with an odd number of rows, by other parameter sets than its own (a
    // change of sequence parameter set within a picture, which clause 7.4.1.2.1 forbids),
    // would walk its last pairs past the picture's records, in either entropy coding.
    if (s->MbaffFrameFlag && ctx->picHeightInMbs % 2 != 0) {
        ctx->refusal = "MBAFF slice in a picture of an odd number of macroblock rows";
        pic->damage |= 3;
        return AfterSlice(ctx);
    }
    if (ParseSliceHeaderRest(ctx) != kDecoderOk) {
        ctx->refusal = "slice header value out of range";
        pic->damage |= 3;
        return AfterSlice(ctx);
    }
    RememberSlice(ctx);
    pic->deblockWord |= s->disable_deblocking_filter_idc - 1;
    ctx->decoding->deblockWord |= s->disable_deblocking_filter_idc - 1;
    return ContinueSlice(ctx);
}

// The part of a slice's decoding after its header, where a frame-number gap may make it
// wait for the caller (pending action 1).
int ContinueSlice(AvcDecoderContext* ctx) {
    const SeqParamSet* sps = ctx->activeSps;
    const SliceHeader* s = &ctx->slice;
    PictureRecord* pic = ctx->currentPicture;
    if (pic->sliceCount == 0) {
        const int32_t maxFrameNum = 1 << (sps->log2_max_frame_num_minus4 + 4);
        // A gap where the stream allows none means reference pictures were lost: the
        // missing frames are inserted all the same (clause 8.2.5.2), so that list indices
        // keep naming the pictures the encoder meant and every use of a lost one marks
        // the picture damaged instead of predicting from a wrong picture.
        if (!s->idr && s->frame_num != ctx->prevRefFrameNum &&
            s->frame_num != (ctx->prevRefFrameNum + 1) % maxFrameNum && !FillFrameNumGap(ctx)) {
            if (QueuedPictureCount(ctx->store) > 0) {
                ctx->pendingAction = 1;  // the caller takes the pictures, then the slice goes on
                return kStepPictureReady;
            }
            pic->damage |= 3;  // no record for the missing frames: later references are wrong
        }
        DerivePicOrderCnt(ctx);
        const int kinds = StoredReferenceKinds(ctx->store);
        if (s->idr)
            ctx->leadingBound = INT32_MIN;
        else if ((kinds & kDecodedReference) == 0)
            ctx->leadingBound = pic->picOrderCnt;
        // A frame inserted for a gap has no order count of its own: B lists, which are
        // ordered by count, may then not name the pictures the encoder meant.
        if (s->sliceKind == kSliceB && (kinds & kInsertedReference) != 0) pic->damage |= 3;
    }
    if (s->sliceKind != kSliceI && pic->picOrderCnt < ctx->leadingBound) pic->damage |= 3;
    if (ctx->activePps->num_slice_groups_minus1 > 0 && BuildSliceGroupMap(ctx) != kDecoderOk) {
        pic->damage |= 3;
        return AfterSlice(ctx);
    }
    int result = BuildRefPicLists(ctx);
    bool unreadable = result != kDecoderOk;  // the slice's data, not this core's scope, failed
    if (SkipSlice(ctx, result != kDecoderOk || !RefListsComplete(ctx))) {
        if (s->nal_ref_idc != 0 && (ctx->errorResilienceMode == 1 || ctx->errorResilienceMode == 3))
            ctx->lastSliceKind = -1;
        pic->damage |= 3;
        pic->lastSliceKind = s->sliceKind;
        ++pic->sliceCount;
        return AfterSlice(ctx);
    }
    if (result == kDecoderOk && !BeginSliceRows(ctx)) {
        ctx->refusal = "slice repeats macroblocks already decoded";
        result = kDecoderOutOfRange;
        unreadable = true;
    }
    if (result == kDecoderOk) {
        ctx->decodedMbs = 0;
        if (s->sliceKind == kSliceI || s->sliceKind == kSliceP || s->sliceKind == kSliceB) {
            if (ctx->activePps->entropy_coding_mode_flag)
                result = DecodeCabacSlice(ctx);
            else if (s->MbaffFrameFlag)
                result = DecodeMbaffCavlcSlice(ctx);
            else
                result = s->sliceKind == kSliceI ? DecodeISlice(ctx) : DecodePOrBSlice(ctx);
            if (result == kDecoderNoInterPrediction) ctx->refusal = "inter prediction is not decoded";
            unreadable = result != kDecoderOk && result != kDecoderNoInterPrediction;
            if (s->sliceKind != kSliceI && UsedBadReference(ctx)) pic->damage |= 3;
        } else {
            ctx->refusal = "SP and SI slices are not decoded";
            result = kDecoderUnsupported;
        }
        EndSliceRows(ctx);
        pic->decodedMbs += ctx->decodedMbs;
        if (ctx->decoding != pic) ctx->decoding->decodedMbs += ctx->decodedMbs;
    }
    if (result != kDecoderOk) {
        pic->damage |= 3;
        if (unreadable) ++ctx->damagedSlices;
        if (s->nal_ref_idc != 0 && (ctx->errorResilienceMode == 1 || ctx->errorResilienceMode == 3))
            ctx->lastSliceKind = -1;
    } else {
        ctx->lastSliceKind = s->sliceKind;
    }
    pic->lastSliceKind = s->sliceKind;
    ++pic->sliceCount;
    return AfterSlice(ctx);
}

}  // namespace

int DispatchNalUnit(AvcDecoderContext* ctx) {
    if (ctx->pendingAction == 1) {
        ctx->pendingAction = 0;
        if (ctx->currentPicture != nullptr && ctx->activeSps != nullptr) return ContinueSlice(ctx);
        return kStepConsumed;
    }
    bool held = false;
    if (ctx->pendingAction == 2) {
        ctx->pendingAction = 0;
        if (ctx->picturesAllocated) {
            ClearDpb(ctx->store);
            ReleaseQueuedPictures(ctx->store);
            ResetPrevSlice(ctx);
        }
        if (ActivateSeqParamSet(ctx) != 0) {
            // The held slice is dropped with the failed activation, so the next step
            // extracts new input instead of trying again.
            AvcDecoderFreePictures(ctx);  // ActivateSeqParamSet recorded why
            return kStepDropped;
        }
        held = true;
    }

    if (!held) {
        switch (static_cast<common::NalUnitType>(ctx->nal->nal_unit_type)) {
            case common::NalUnitType::kSei:
                ParseSei(ctx);
                return kStepConsumed;
            case common::NalUnitType::kSps:
                ParseSeqParamSet(ctx);
                return kStepConsumed;
            case common::NalUnitType::kPps:
                ParsePicParamSet(ctx);
                return kStepConsumed;
            case common::NalUnitType::kEndOfStream:
                return kStepEndOfStream;
            case common::NalUnitType::kSlice:
            case common::NalUnitType::kIdrSlice:
                break;
            default:
                return kStepConsumed;
        }
    }

    if (ParseSliceHeaderStart(ctx) != kDecoderOk) {
        // A set refused for its profile leaves its slices without parameter sets: the
        // profile is the reason to give.
        ctx->refusal = ctx->refusedProfileIdc != 0
                           ? "the stream's profile is not decoded (Baseline, Main and Extended are)"
                           : "slice header start out of range or its parameter sets missing";
        return kStepConsumed;
    }
    int32_t w = 0, h = 0;
    NeededSize(ctx->activeSps, &w, &h);
    if (!ctx->picturesAllocated || w != ctx->picWidthInMbs || h != ctx->frameHeightInMbs ||
        DpbSize(ctx) != ctx->dpbSize) {
        if (held) return kStepDropped;  // activation gave another size than the slice needs
        ctx->pendingAction = 2;
        AvcDecoderEndOfStream(ctx);
        return kStepFormatChange;
    }
    return DecodeSlice(ctx);
}

}  // namespace avcdec
