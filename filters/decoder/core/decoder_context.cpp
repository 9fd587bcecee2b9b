// Creation, input, reset and NAL dispatch of the decoder core context.
#include "filters/decoder/core/decoder_context.h"

#include <cstring>
#include <new>

#include "filters/decoder/core/motion_kernels.h"

namespace avcdec {

namespace {

// The copy area is followed by zero bytes so that a reader that looks ahead never meets
// stale data of an earlier, longer NAL unit.
constexpr size_t kAreaSlack = 8;

constexpr std::align_val_t kPlaneAlignment{16};

void ResetPrevSlice(AvcDecoderContext* ctx) {
    std::memset(&ctx->prevSlice, 0xFF, sizeof ctx->prevSlice);
}

void ResetScanner(NalInputBuffer* in) {
    in->shift = static_cast<uint32_t>(-256);
    in->pendingTimes = 0;
}

// The fields at the start of a slice header (clause 7.3.3) that select its parameter
// sets: first_mb_in_slice, slice_type, pic_parameter_set_id. Activates the picture and
// sequence parameter sets; non-zero drops the slice.
int ActivateSliceParamSets(AvcDecoderContext* ctx) {
    BitReader* r = &ctx->reader;
    const NalUnitBuffer* nu = ctx->nal;
    InitBitReader(r, nu->payload + 1, static_cast<int32_t>(RbspPayloadBytes(nu->payload, nu->length) * 8));
    ReadUe(r);  // first_mb_in_slice
    const int32_t sliceType = ReadUe(r);
    const int32_t ppsId = ReadUe(r);
    if (sliceType < 0 || sliceType > 9) return kParseOutOfRange;
    if (ActivatePicParamSet(ctx, ppsId) != 0) return kParseOutOfRange;
    return 0;
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
    for (pool->count = 0; pool->count < sets; ++pool->count) {
        auto* base = new (kPlaneAlignment, std::nothrow) uint8_t[bytes]();
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
    if (ctx->draining) {
        ctx->draining = false;
        return kStepConsumed;
    }
    return -1;
}

int DecodeStep(AvcDecoderContext* ctx, int (*extract)(AvcDecoderContext*)) {
    if (ctx == nullptr || ctx->input == nullptr) return -5;
    const int early = StepPrologue(ctx);
    if (early >= 0) return early;
    if (ctx->pendingAction == 0) {
        const int got = extract(ctx);
        if (got != 0) return got;
    }
    return DispatchNalUnit(ctx);
}

}  // namespace

AvcDecoderContext* AvcDecoderCreate() {
    auto* ctx = new (std::nothrow) AvcDecoderContext{};
    if (ctx == nullptr) return nullptr;
    ctx->input = new (std::nothrow) NalInputBuffer{};
    if (ctx->input != nullptr) {
        ctx->input->area = new (std::nothrow) uint8_t[kNalCopyAreaSize + kAreaSlack]();
        ctx->input->areaSize = kNalCopyAreaSize;
    }
    ctx->nal = new (std::nothrow) NalUnitBuffer{};
    ctx->sps = new (std::nothrow) SeqParamSet[kMaxSeqParamSets]();
    ctx->pps = new (std::nothrow) PicParamSet[kMaxPicParamSets]();
    if (ctx->input == nullptr || ctx->input->area == nullptr || ctx->nal == nullptr || ctx->sps == nullptr ||
        ctx->pps == nullptr) {
        AvcDecoderDestroy(ctx);
        return nullptr;
    }
    InstallMotionKernels();
    ResetScanner(ctx->input);
    ctx->nal->skipToStartCode = 1;
    ctx->nalTime = kNoTimeStamp;
    ctx->lastSliceKind = -1;
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
    if (ctx->pps != nullptr) FreePicParamSets(ctx->pps, kMaxPicParamSets);
    delete[] ctx->pps;
    delete ctx;
}

int AvcDecoderFreePictures(AvcDecoderContext* ctx) {
    if (ctx == nullptr) return -5;
    for (int i = 0; i < ctx->planePool.count; ++i)
        ::operator delete[](ctx->planePool.sets[i].base, kPlaneAlignment);
    ctx->planePool = FramePlanePool{};
    ctx->dpbSize = 0;
    delete[] ctx->sliceGroupMap;
    ctx->sliceGroupMap = nullptr;
    delete[] ctx->intraModeMap;
    ctx->intraModeMap = nullptr;
    ctx->picturesAllocated = false;
    return 0;
}

int AvcDecoderPushData(AvcDecoderContext* ctx, const uint8_t* data, int64_t timeStamp, size_t length,
                       size_t* accepted) {
    if (ctx == nullptr || ctx->input == nullptr) return -5;
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
    return 0;
}

int AvcDecoderDecodeByteStream(AvcDecoderContext* ctx) {
    return DecodeStep(ctx, ExtractByteStreamNalUnit);
}

int AvcDecoderDecodeNalUnit(AvcDecoderContext* ctx) {
    return DecodeStep(ctx, ExtractSingleNalUnit);
}

int AvcDecoderEndOfStream(AvcDecoderContext* ctx) {
    if (ctx == nullptr) return -5;
    ctx->draining = true;
    return 0;
}

int AvcDecoderReset(AvcDecoderContext* ctx) {
    if (ctx == nullptr || ctx->input == nullptr) return -5;
    ctx->lastSliceKind = -1;
    ctx->nal->skipToStartCode = 1;
    ResetScanner(ctx->input);
    ctx->input->dataStart = nullptr;
    ctx->input->dataEnd = nullptr;
    ctx->draining = false;
    if (ctx->picturesAllocated) ResetPrevSlice(ctx);
    return 0;
}

void AvcDecoderClearTimeStamp(AvcDecoderContext* ctx) {
    if (ctx != nullptr) ctx->hasTime = false;
}

int ActivateSeqParamSet(AvcDecoderContext* ctx) {
    if (ctx == nullptr || ctx->activeSps == nullptr) return -5;
    int32_t w = 0, h = 0;
    NeededSize(ctx->activeSps, &w, &h);
    const int32_t dpb = DpbSize(ctx);
    if (ctx->picturesAllocated && w == ctx->picWidthInMbs && h == ctx->frameHeightInMbs && dpb == ctx->dpbSize)
        return 0;
    AvcDecoderFreePictures(ctx);

    ctx->picWidthInMbs = w;
    ctx->frameHeightInMbs = h;
    ctx->width = 16 * w;
    ctx->height = 16 * h;
    ctx->lumaPitch = ctx->width + 64;
    ctx->paddedRows = ctx->height + 40;
    ctx->mbCount = w * h;
    ctx->dpbSize = dpb;
    if (!AllocatePlanePool(ctx, dpb + 2, ctx->activeSps->frame_mbs_only_flag ? 20 : 40)) {
        AvcDecoderFreePictures(ctx);
        return -1;
    }
    // Sizes in size_t: the parser bounds w and h by 512 macroblocks each, so these cannot
    // overflow, but nothing here relies on 32-bit products.
    const size_t modeMapBytes = (4 * static_cast<size_t>(h) + 2) * (4 * static_cast<size_t>(w) + 2);
    ctx->intraModeMap = new (std::nothrow) uint8_t[modeMapBytes]();
    ctx->sliceGroupMap = new (std::nothrow) uint8_t[static_cast<size_t>(ctx->mbCount)]();
    if (ctx->intraModeMap == nullptr || ctx->sliceGroupMap == nullptr) {
        AvcDecoderFreePictures(ctx);
        return -1;
    }
    std::memset(&ctx->pendingTiming, 0, sizeof ctx->pendingTiming);
    std::memset(&ctx->pendingBuffering, 0, sizeof ctx->pendingBuffering);
    ResetPrevSlice(ctx);
    ctx->picturesAllocated = true;
    return 0;
}

int32_t DpbSize(const AvcDecoderContext* ctx) {
    const SeqParamSet* s = ctx->activeSps;
    if (s == nullptr) return 0;
    // Table A-1, MaxDPB in bytes (1024 x the table's kbytes, 384 bytes per 4:2:0 macroblock).
    int64_t maxDpbBytes = 0;
    switch (s->level_idc) {
        case 10:
            maxDpbBytes = 152064;
            break;
        case 11:
            maxDpbBytes = 345600;
            break;
        case 12:
        case 13:
        case 20:
            maxDpbBytes = 912384;
            break;
        case 21:
            maxDpbBytes = 1824768;
            break;
        case 22:
        case 30:
            maxDpbBytes = 3110400;
            break;
        case 31:
            maxDpbBytes = 6912000;
            break;
        case 32:
            maxDpbBytes = 7864320;
            break;
        case 40:
        case 41:
        case 42:
            maxDpbBytes = 12582912;
            break;
        case 50:
            maxDpbBytes = 42393600;
            break;
        case 51:
            maxDpbBytes = 70778880;
            break;
        default:
            break;
    }
    const int64_t frameBytes = int64_t{2 - s->frame_mbs_only_flag} * (s->pic_height_in_map_units_minus1 + 1) *
                               (s->pic_width_in_mbs_minus1 + 1) * 384;
    int64_t size = maxDpbBytes / frameBytes;
    if (s->num_ref_frames >= size) size = s->num_ref_frames + 1;
    if (size == 0) size = 1;
    return static_cast<int32_t>(size > 254 ? 254 : size);
}

int DispatchNalUnit(AvcDecoderContext* ctx) {
    if (ctx->pendingAction == 2) {
        ctx->pendingAction = 0;
        if (ActivateSeqParamSet(ctx) != 0) {
            // The held slice is dropped with the failed activation, so the next step
            // extracts new input instead of trying again.
            AvcDecoderFreePictures(ctx);
            return kStepDropped;
        }
        // The picture-level steps for the held slice arrive with slice decoding.
        return kStepConsumed;
    }

    switch (ctx->nal->nal_unit_type) {
        case kNalSei:
            ParseSei(ctx);
            return kStepConsumed;
        case kNalSps:
            ParseSeqParamSet(ctx);
            return kStepConsumed;
        case kNalPps:
            ParsePicParamSet(ctx);
            return kStepConsumed;
        case kNalEndOfStream:
            return kStepEndOfStream;
        case kNalSlice:
        case kNalIdrSlice:
            break;
        default:
            return kStepConsumed;
    }

    if (ActivateSliceParamSets(ctx) != 0) return kStepConsumed;
    int32_t w = 0, h = 0;
    NeededSize(ctx->activeSps, &w, &h);
    if (!ctx->picturesAllocated || w != ctx->picWidthInMbs || h != ctx->frameHeightInMbs ||
        DpbSize(ctx) != ctx->dpbSize) {
        ctx->pendingAction = 2;
        AvcDecoderEndOfStream(ctx);
        return kStepFormatChange;
    }
    // The picture-level steps (new-picture detection, slice header, reference lists,
    // slice loops) arrive with slice decoding; until then a slice is consumed undecoded.
    return kStepConsumed;
}

}  // namespace avcdec
