#include "filters/decoder/core/picture_store.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/decoder_result.h"
#include "filters/decoder/core/slice_header.h"
#include "filters/decoder/core/zeroed_memory.h"

namespace avcdec {

namespace {

bool IsRef(const PictureRecord* p) {
    return (p->flags & kPicRefMask) != 0;
}
bool IsLongTerm(const PictureRecord* p) {
    return (p->flags & kPicLongTermMask) != 0;
}
bool WaitsForOutput(const PictureRecord* p) {
    return (p->flags & kPicOutputDone) == 0;
}
void Unmark(PictureRecord* p) {
    p->flags &= ~(kPicRefMask | kPicLongTermMask);
}
// The marks of one field (parity 0 top, 1 bottom) in the flags word of its frame.
constexpr uint32_t RefBit(int parity) {
    return parity == 0 ? kPicTopRef : kPicBottomRef;
}
constexpr uint32_t LongBit(int parity) {
    return parity == 0 ? kPicTopLongTerm : kPicBottomLongTerm;
}
bool IsShortTermField(const PictureRecord* p, int parity) {
    return (p->flags & RefBit(parity)) != 0 && (p->flags & LongBit(parity)) == 0;
}
bool IsLongTermField(const PictureRecord* p, int parity) {
    return (p->flags & RefBit(parity)) != 0 && (p->flags & LongBit(parity)) != 0;
}
void UnmarkField(PictureRecord* p, int parity) {
    p->flags &= ~(RefBit(parity) | LongBit(parity));
}
// The parity of the current field picture, or -1 for a frame.
int CurrentParity(const AvcDecoderContext* ctx) {
    // The record, not the slice header: a picture is finished once the next one's first
    // slice header is read.
    return ctx->decoding != nullptr ? ctx->decoding->structure - 1 : -1;
}
void MarkLongTerm(PictureRecord* p, int32_t idx) {
    p->flags |= kPicRefMask | kPicLongTermMask;
    p->longTermFrameIdx = idx;
    p->longTermPicNum = idx;
}

void RebuildRefArrays(PictureStore* st) {
    st->shortTermCount = st->longTermCount = 0;
    for (int i = 0; i < st->stored; ++i) {
        PictureRecord* p = st->dpb[i];
        if (!IsRef(p)) continue;
        if (IsLongTerm(p))
            st->longTerm[st->longTermCount++] = p;
        else
            st->shortTerm[st->shortTermCount++] = p;
    }
}

// Drops the pictures that are neither references nor waiting for output.
void RemoveUnused(PictureStore* st) {
    int kept = 0;
    for (int i = 0; i < st->stored; ++i) {
        PictureRecord* p = st->dpb[i];
        if (!IsRef(p) && !WaitsForOutput(p))
            ReleasePicture(p);
        else
            st->dpb[kept++] = p;
    }
    st->stored = kept;
}

PictureRecord* LowestWaiting(PictureStore* st) {
    PictureRecord* best = nullptr;
    for (int i = 0; i < st->stored; ++i) {
        PictureRecord* p = st->dpb[i];
        if (WaitsForOutput(p) && (best == nullptr || p->outputOrder < best->outputOrder)) best = p;
    }
    return best;
}

void Output(PictureStore* st, PictureRecord* p) {
    p->flags |= kPicOutputDone;
    st->lastOutputOrder = p->outputOrder;
    QueueForOutput(st, p);
}

// PicNum of the short-term frames for a current frame_num (clause 8.2.4.1, frames).
void SetPicNums(PictureStore* st, int32_t currFrameNum, int32_t maxFrameNum) {
    for (int i = 0; i < st->stored; ++i) {
        PictureRecord* p = st->dpb[i];
        p->frameNumWrap = p->frame_num > currFrameNum ? p->frame_num - maxFrameNum : p->frame_num;
        p->picNum = p->frameNumWrap;
        p->longTermPicNum = p->longTermFrameIdx;
    }
}

PictureRecord* ShortTermByPicNum(PictureStore* st, int32_t picNum) {
    for (int i = 0; i < st->stored; ++i) {
        PictureRecord* p = st->dpb[i];
        if (IsRef(p) && !IsLongTerm(p) && p->picNum == picNum) return p;
    }
    return nullptr;
}

// Field numbering (clause 8.2.4.1): a field of the current parity has PicNum
// 2 FrameNumWrap + 1 (LongTermPicNum 2 LongTermFrameIdx + 1), one of the other parity
// 2 FrameNumWrap (2 LongTermFrameIdx). The frame holding the field, its parity in *which.
PictureRecord* FieldByPicNum(PictureStore* st, int32_t num, int parity, bool longTerm, int* which) {
    const int32_t frameValue = num >> 1;  // floor, for negative FrameNumWrap too
    const int w = (num & 1) != 0 ? parity : 1 - parity;
    for (int i = 0; i < st->stored; ++i) {
        PictureRecord* p = st->dpb[i];
        if (longTerm ? IsLongTermField(p, w) && p->longTermFrameIdx == frameValue
                     : IsShortTermField(p, w) && p->frameNumWrap == frameValue) {
            *which = w;
            return p;
        }
    }
    return nullptr;
}

PictureRecord* LongTermByPicNum(PictureStore* st, int32_t longTermPicNum) {
    for (int i = 0; i < st->stored; ++i) {
        PictureRecord* p = st->dpb[i];
        if (IsRef(p) && IsLongTerm(p) && p->longTermPicNum == longTermPicNum) return p;
    }
    return nullptr;
}

void UnmarkLongTermIdx(PictureStore* st, int32_t idx, const PictureRecord* except) {
    for (int i = 0; i < st->stored; ++i) {
        PictureRecord* p = st->dpb[i];
        if (p != except && IsLongTerm(p) && p->longTermFrameIdx == idx) Unmark(p);
    }
}

// Operations 1, 2, 3 and 6 of a field picture (clause 8.2.5.4), on single fields.
// Returns whether the operation was one of them.
bool ApplyFieldMmco(PictureStore* st, PictureRecord* pic, const MarkingOp& op, int parity, bool* currentLongTerm) {
    const int32_t picNumX = 2 * pic->frame_num + 1 - (op.value + 1);
    int which = 0;
    switch (op.memory_management_control_operation) {
        case 1:
            if (PictureRecord* p = FieldByPicNum(st, picNumX, parity, false, &which)) UnmarkField(p, which);
            return true;
        case 2:
            if (PictureRecord* p = FieldByPicNum(st, op.value, parity, true, &which)) UnmarkField(p, which);
            return true;
        case 3:
            if (PictureRecord* p = FieldByPicNum(st, picNumX, parity, false, &which)) {
                // The index leaves every other frame; the field's sibling keeps it.
                UnmarkLongTermIdx(st, op.long_term_frame_idx, p);
                if ((p->flags & LongBit(1 - which)) != 0 && p->longTermFrameIdx != op.long_term_frame_idx)
                    UnmarkField(p, 1 - which);
                p->flags |= LongBit(which);
                p->longTermFrameIdx = op.long_term_frame_idx;
            }
            return true;
        case 6:
            UnmarkLongTermIdx(st, op.long_term_frame_idx, pic);
            pic->flags |= RefBit(parity) | LongBit(parity);
            pic->longTermFrameIdx = op.long_term_frame_idx;
            *currentLongTerm = true;
            return true;
        default:
            return false;
    }
}

void ApplyMmco(AvcDecoderContext* ctx, PictureRecord* pic) {
    PictureStore* st = ctx->store;
    SetPicNums(st, pic->frame_num, st->maxFrameNum);
    const int parity = CurrentParity(ctx);
    bool currentLongTerm = false;
    for (int n = 0; n < kMaxMarkingOps; ++n) {
        const MarkingOp& op = pic->marking[n];
        const int32_t picNumX = pic->frame_num - (op.value + 1);
        if (parity >= 0 && ApplyFieldMmco(st, pic, op, parity, &currentLongTerm)) continue;
        switch (op.memory_management_control_operation) {
            case 0:
                n = kMaxMarkingOps;
                break;
            case 1:
                if (PictureRecord* p = ShortTermByPicNum(st, picNumX)) Unmark(p);
                break;
            case 2:
                if (PictureRecord* p = LongTermByPicNum(st, op.value)) Unmark(p);
                break;
            case 3:
                if (PictureRecord* p = ShortTermByPicNum(st, picNumX)) {
                    UnmarkLongTermIdx(st, op.long_term_frame_idx, p);
                    MarkLongTerm(p, op.long_term_frame_idx);
                }
                break;
            case 4:
                st->maxLongTermFrameIdx = op.value - 1;
                for (int i = 0; i < st->stored; ++i) {
                    PictureRecord* p = st->dpb[i];
                    if (IsLongTerm(p) && p->longTermFrameIdx > st->maxLongTermFrameIdx) Unmark(p);
                }
                break;
            case 5:
                for (int i = 0; i < st->stored; ++i)
                    Unmark(st->dpb[i]);
                st->maxLongTermFrameIdx = -1;
                pic->hadMmco5 = 1;
                break;
            case 6:
                UnmarkLongTermIdx(st, op.long_term_frame_idx, pic);
                MarkLongTerm(pic, op.long_term_frame_idx);
                currentLongTerm = true;
                break;
            default:
                break;
        }
    }
    if (!currentLongTerm) pic->flags &= parity < 0 ? ~kPicLongTermMask : ~LongBit(parity);
    if (pic->hadMmco5) {
        // Clause 8.2.1: the picture is afterwards treated as frame_num 0 with its order
        // counts rebased so that its own count is 0.
        const int32_t temp = pic->picOrderCnt;
        pic->topFieldOrderCnt -= temp;
        pic->bottomFieldOrderCnt -= temp;
        pic->picOrderCnt = 0;
        pic->frame_num = 0;
        FlushDpb(ctx);
    }
}

void SlidingWindow(AvcDecoderContext* ctx) {
    PictureStore* st = ctx->store;
    RebuildRefArrays(st);
    const int32_t maxRefs = std::max(st->numRefFrames, 1);
    // Storing order is decoding order, so the first short-term frame has the smallest
    // FrameNumWrap.
    while (st->shortTermCount > 0 && st->shortTermCount + st->longTermCount >= maxRefs) {
        Unmark(st->shortTerm[0]);
        RebuildRefArrays(st);
    }
}

}  // namespace

PictureStore* CreatePictureStore(AvcDecoderContext* ctx) {
    auto* st = new (std::nothrow) PictureStore{};
    if (st == nullptr) return nullptr;
    const int32_t records = ctx->planePool.count;
    st->records = new (std::nothrow) PictureRecord[static_cast<size_t>(records)]();
    st->dpb = new (std::nothrow) PictureRecord*[static_cast<size_t>(records)]();
    st->shortTerm = new (std::nothrow) PictureRecord*[static_cast<size_t>(records)]();
    st->longTerm = new (std::nothrow) PictureRecord*[static_cast<size_t>(records)]();
    if (st->records == nullptr || st->dpb == nullptr || st->shortTerm == nullptr || st->longTerm == nullptr) {
        DestroyPictureStore(st);
        return nullptr;
    }
    st->recordCount = records;
    for (int32_t i = 0; i < records; ++i) {
        PictureRecord* p = &st->records[i];
        p->store = st;
        p->planeIndex = i;
        const FramePlaneSet& set = ctx->planePool.sets[i];
        p->frame = PlaneView{set.y, set.u, set.v, ctx->lumaPitch};
        // One allocation a record, as for the plane sets (AllocatePlanePool).
        p->mbInfo = AllocateZeroedArray<MacroblockInfo>(static_cast<size_t>(ctx->mbCount));
        if (p->mbInfo == nullptr) {
            DestroyPictureStore(st);
            return nullptr;
        }
        // Field records only where fields may occur.
        if (!ctx->activeSps->frame_mbs_only_flag) {
            for (int parity = 0; parity < 2; ++parity) {
                auto* f = new (std::nothrow) PictureRecord();
                if (f == nullptr) {
                    DestroyPictureStore(st);
                    return nullptr;
                }
                p->fieldOf[parity] = f;
                f->store = st;
                f->parent = p;
                // Identities distinct from every frame's and the other parity's.
                f->planeIndex = kMaxFramePlaneSets * (parity + 1) + i;
                f->structure = parity + 1;
                const ptrdiff_t down = parity * ctx->lumaPitch;
                f->frame = PlaneView{set.y + down, set.u + down, set.v + down, 2 * ctx->lumaPitch};
                f->mbInfo = p->mbInfo + parity * (ctx->mbCount / 2);
            }
        }
        p->nextFree = st->freeHead;
        st->freeHead = p;
    }
    st->dpbSize = ctx->dpbSize;
    st->numRefFrames = ctx->activeSps->num_ref_frames;
    st->maxLongTermFrameIdx = -1;
    st->lastOutputOrder = INT_MIN;
    return st;
}

void DestroyPictureStore(PictureStore* st) {
    if (st == nullptr) return;
    if (st->records != nullptr) {
        for (int32_t i = 0; i < st->recordCount; ++i) {
            FreeZeroed(st->records[i].mbInfo);
            delete st->records[i].fieldOf[0];
            delete st->records[i].fieldOf[1];
        }
    }
    delete[] st->records;
    delete[] st->dpb;
    delete[] st->shortTerm;
    delete[] st->longTerm;
    delete st;
}

PictureRecord* AcquirePicture(PictureStore* st) {
    PictureRecord* p = nullptr;
    {
        std::lock_guard<std::mutex> hold(st->lock);
        p = st->freeHead;
        if (p == nullptr) return nullptr;
        st->freeHead = p->nextFree;
    }
    p->nextFree = nullptr;
    p->refCount.store(1);
    p->flags = 0;
    p->sliceCount = 0;
    p->damage = 0;
    p->structure = 0;
    p->deblockWord = 0;
    p->hadMmco5 = 0;
    p->longTermFrameIdx = 0;
    p->lastSliceKind = -1;
    p->timeStamp = kNoTimeStamp;
    p->marking[0] = MarkingOp{};
    p->timing = PictureTiming{};
    p->buffering = BufferingPeriod{};
    return p;
}

bool HasFreePicture(PictureStore* st) {
    std::lock_guard<std::mutex> hold(st->lock);
    return st->freeHead != nullptr;
}

void AddRefPicture(PictureRecord* p) {
    p->refCount.fetch_add(1);
}

void ReleasePicture(PictureRecord* p) {
    if (p == nullptr) return;
    if (p->refCount.fetch_sub(1) != 1) return;
    PictureStore* st = p->store;
    std::lock_guard<std::mutex> hold(st->lock);
    p->nextFree = st->freeHead;
    st->freeHead = p;
}

void QueueForOutput(PictureStore* st, PictureRecord* p) {
    AddRefPicture(p);
    std::lock_guard<std::mutex> hold(st->queueLock);
    // The queue has a slot for every record, so it cannot be full here.
    st->queue[(st->queueRead + st->queueCount) % kOutputQueueSlots] = p;
    ++st->queueCount;
}

PictureRecord* TakeOutputPicture(PictureStore* st) {
    std::lock_guard<std::mutex> hold(st->queueLock);
    if (st->queueCount == 0) return nullptr;
    PictureRecord* p = st->queue[st->queueRead];
    st->queueRead = (st->queueRead + 1) % kOutputQueueSlots;
    --st->queueCount;
    return p;
}

int32_t QueuedPictureCount(PictureStore* st) {
    std::lock_guard<std::mutex> hold(st->queueLock);
    return st->queueCount;
}

void ReleaseQueuedPictures(PictureStore* st) {
    while (PictureRecord* p = TakeOutputPicture(st))
        ReleasePicture(p);
}

void ClearDpb(PictureStore* st) {
    for (int i = 0; i < st->stored; ++i)
        ReleasePicture(st->dpb[i]);
    st->stored = 0;
    st->shortTermCount = st->longTermCount = 0;
    st->lastOutputOrder = INT_MIN;
}

void FlushDpb(AvcDecoderContext* ctx) {
    PictureStore* st = ctx->store;
    for (int i = 0; i < st->stored; ++i)
        Unmark(st->dpb[i]);
    RemoveUnused(st);
    while (PictureRecord* p = LowestWaiting(st)) {
        Output(st, p);
        RemoveUnused(st);
    }
    st->shortTermCount = st->longTermCount = 0;
    st->lastOutputOrder = INT_MIN;
}

namespace {

// Stores a frame, or the first field of one (parity 0 or 1; -1 for a frame): marking of
// the current picture (clause 8.2.5), then bumping (clause C.4.5.3) when the store is full.
void StoreDecoded(AvcDecoderContext* ctx, PictureRecord* pic, int parity) {
    PictureStore* st = ctx->store;
    pic->flags |= parity < 0 ? kPicTopDecoded | kPicBottomDecoded : parity == 0 ? kPicTopDecoded : kPicBottomDecoded;
    const uint32_t refMarks = parity < 0 ? kPicRefMask : RefBit(parity);
    if (pic->isReference) pic->flags |= refMarks;
    pic->outputOrder = pic->picOrderCnt;

    if (pic->isIdr) {
        if (pic->no_output_of_prior_pics_flag)
            ClearDpb(st);
        else
            FlushDpb(ctx);
        if (pic->long_term_reference_flag) {
            st->maxLongTermFrameIdx = 0;
            MarkLongTerm(pic, 0);
            if (parity >= 0) pic->flags &= ~(RefBit(1 - parity) | LongBit(1 - parity));
        } else {
            st->maxLongTermFrameIdx = -1;
        }
    } else if (pic->isReference && pic->adaptive_ref_pic_marking_mode_flag) {
        ApplyMmco(ctx, pic);
        pic->outputOrder = pic->picOrderCnt;
    } else if (pic->isReference) {
        SlidingWindow(ctx);
    }
    RemoveUnused(st);

    // Bumping (clause C.4.5.3): make room by outputting in order. A first field waits for
    // its second one, so it is never output here.
    while (st->stored >= st->dpbSize) {
        PictureRecord* lowest = LowestWaiting(st);
        if (parity < 0 && !pic->isReference && WaitsForOutput(pic) &&
            (lowest == nullptr || pic->outputOrder < lowest->outputOrder)) {
            Output(st, pic);
            return;
        }
        if (lowest == nullptr) {
            // Every stored picture is a reference (a stream that marks more than its
            // num_ref_frames): give up the oldest one and say that this picture may
            // not predict from what it expects.
            Unmark(st->dpb[0]);
            pic->damage |= 3;
        } else {
            Output(st, lowest);
        }
        RemoveUnused(st);
    }
    AddRefPicture(pic);
    st->dpb[st->stored++] = pic;
    RebuildRefArrays(st);
}

}  // namespace

void StorePicture(AvcDecoderContext* ctx, PictureRecord* pic) {
    StoreDecoded(ctx, pic, -1);
}

void StoreFirstField(AvcDecoderContext* ctx, PictureRecord* pic) {
    StoreDecoded(ctx, pic, CurrentParity(ctx));
}

void MarkSecondField(AvcDecoderContext* ctx, PictureRecord* pic) {
    PictureStore* st = ctx->store;
    const int parity = CurrentParity(ctx);
    pic->flags |= parity == 0 ? kPicTopDecoded : kPicBottomDecoded;
    if (ctx->decoding->isReference) {
        // Clause 8.2.5.3: the second field of a pair whose first field is a short-term
        // reference joins it without the sliding window.
        if (pic->adaptive_ref_pic_marking_mode_flag)
            ApplyMmco(ctx, pic);
        else if (!IsShortTermField(pic, 1 - parity))
            SlidingWindow(ctx);
        pic->flags |= RefBit(parity);
        if ((pic->flags & LongBit(1 - parity)) != 0 && !pic->adaptive_ref_pic_marking_mode_flag)
            pic->flags |= LongBit(parity);
        pic->isReference = 1;
    }
    pic->outputOrder = pic->picOrderCnt;
    RemoveUnused(st);
    RebuildRefArrays(st);
}

void SyncFieldRecords(PictureRecord* frame) {
    for (int parity = 0; parity < 2; ++parity) {
        PictureRecord* f = frame->fieldOf[parity];
        if (f == nullptr) return;
        f->picOrderCnt = parity == 0 ? frame->topFieldOrderCnt : frame->bottomFieldOrderCnt;
        f->topFieldOrderCnt = f->bottomFieldOrderCnt = f->picOrderCnt;
        // A field record answers the frame-wide tests (reference, long-term) for itself.
        uint32_t flags = frame->flags & kPicNonExisting;
        if ((frame->flags & RefBit(parity)) != 0) flags |= kPicRefMask;
        if ((frame->flags & LongBit(parity)) != 0) flags |= kPicLongTermMask;
        if ((frame->flags & (parity == 0 ? kPicTopDecoded : kPicBottomDecoded)) != 0)
            flags |= kPicTopDecoded | kPicBottomDecoded;
        f->flags = flags;
        f->damage = (frame->damage >> parity & 1) != 0 ? 3 : 0;
        f->frame_num = frame->frame_num;
        f->frameNumWrap = frame->frameNumWrap;
        f->longTermFrameIdx = frame->longTermFrameIdx;
        f->isReference = frame->isReference;
    }
}

bool FillFrameNumGap(AvcDecoderContext* ctx) {
    PictureStore* st = ctx->store;
    const int32_t maxFrameNum = 1 << (ctx->activeSps->log2_max_frame_num_minus4 + 4);
    const int32_t target = ctx->slice.frame_num;
    int32_t missing = (target - ctx->prevRefFrameNum - 1 + maxFrameNum) % maxFrameNum;
    // Only the last num_ref_frames inserted frames survive the sliding window.
    const int32_t keep = std::max(st->numRefFrames, 1);
    int32_t frameNum = (ctx->prevRefFrameNum + 1) % maxFrameNum;
    if (missing > keep) {
        frameNum = (target - keep + maxFrameNum) % maxFrameNum;
        missing = keep;
    }
    for (int32_t i = 0; i < missing; ++i) {
        // Pictures that bumping put out go to the caller first, which frees their records.
        if (QueuedPictureCount(st) > 0) return false;
        PictureRecord* p = AcquirePicture(st);
        if (p == nullptr) return false;
        p->flags = kPicNonExisting | kPicOutputDone;
        p->frame_num = frameNum;
        p->isReference = 1;
        p->isIdr = 0;
        p->adaptive_ref_pic_marking_mode_flag = 0;
        p->picOrderCnt = p->topFieldOrderCnt = p->bottomFieldOrderCnt = 0;
        SetPicNums(st, frameNum, maxFrameNum);
        StorePicture(ctx, p);
        ReleasePicture(p);
        ctx->prevRefFrameNum = frameNum;
        frameNum = (frameNum + 1) % maxFrameNum;
    }
    return true;
}

namespace {

// Clause 8.2.4.2.5: fields of the ordered frames, alternating from the current parity and
// taking the next frame with a field of the wanted parity and kind each time; when one
// parity runs out the other's fields follow in order.
void AlternateFields(PictureRecord* const* frames, int n, int parity, bool longTerm, PictureRecord** out, int* count) {
    auto has = [&](const PictureRecord* f, int p) { return longTerm ? IsLongTermField(f, p) : IsShortTermField(f, p); };
    int i[2] = {0, 0};
    while (i[0] < n || i[1] < n) {
        while (i[0] < n && !has(frames[i[0]], parity))
            ++i[0];
        while (i[1] < n && !has(frames[i[1]], 1 - parity))
            ++i[1];
        if (i[0] < n) out[(*count)++] = frames[i[0]++]->fieldOf[parity];
        if (i[1] < n) out[(*count)++] = frames[i[1]++]->fieldOf[1 - parity];
    }
}

// The order count of a frame for the field lists of B slices: the least of its fields
// marked for short-term reference (a first field alone: its own).
int32_t ShortTermFrameOrderCnt(const PictureRecord* f) {
    int32_t poc = INT32_MAX;
    if (IsShortTermField(f, 0)) poc = f->topFieldOrderCnt;
    if (IsShortTermField(f, 1)) poc = std::min(poc, f->bottomFieldOrderCnt);
    return poc;
}

// The state of one reference list construction (clause 8.2.4): the slice, the reference
// pictures of the store, and the initial lists, which each step below builds on.
struct RefListBuild {
    AvcDecoderContext* ctx;
    PictureStore* st;
    const SliceHeader* s;
    int parity;  // of the current field; -1 for a frame
    int32_t maxFrameNum;
    PictureRecord* shortTerm[kMaxRefListSlots * 4];
    PictureRecord* longTerm[kMaxRefListSlots * 4];  // by ascending LongTermPicNum
    int32_t ns, nl;
    PictureRecord* init[2][kMaxRefListSlots * 8];
    int32_t count[2];
};

// Initial lists of a field (clauses 8.2.4.2.2 and 8.2.4.2.4): the frames with reference
// fields (the current frame's first field among them) ordered, then split into fields.
void InitialFieldLists(RefListBuild* b) {
    PictureStore* st = b->st;
    const int parity = b->s->bottom_field_flag;
    auto* init = b->init;
    int32_t* count = b->count;
    PictureRecord* shortTerm[kMaxRefListSlots * 2];
    PictureRecord* longTerm[kMaxRefListSlots * 2];
    int ns = 0, nl = 0;
    for (int i = 0; i < st->stored; ++i) {
        PictureRecord* p = st->dpb[i];
        if (p->fieldOf[0] == nullptr) continue;
        if ((IsShortTermField(p, 0) || IsShortTermField(p, 1)) && ns < kMaxRefListSlots * 2) shortTerm[ns++] = p;
        if ((IsLongTermField(p, 0) || IsLongTermField(p, 1)) && nl < kMaxRefListSlots * 2) longTerm[nl++] = p;
        SyncFieldRecords(p);
    }
    std::sort(longTerm, longTerm + nl,
              [](const PictureRecord* a, const PictureRecord* b) { return a->longTermFrameIdx < b->longTermFrameIdx; });
    if (b->s->sliceKind != kSliceB) {
        std::sort(shortTerm, shortTerm + ns,
                  [](const PictureRecord* a, const PictureRecord* b) { return a->frameNumWrap > b->frameNumWrap; });
        AlternateFields(shortTerm, ns, parity, false, init[0], &count[0]);
        AlternateFields(longTerm, nl, parity, true, init[0], &count[0]);
        return;
    }
    const int32_t curPoc = b->ctx->decoding->picOrderCnt;
    PictureRecord* before[kMaxRefListSlots * 2];
    PictureRecord* after[kMaxRefListSlots * 2];
    int nb = 0, na = 0;
    for (int i = 0; i < ns; ++i) {
        if (ShortTermFrameOrderCnt(shortTerm[i]) <= curPoc)
            before[nb++] = shortTerm[i];
        else
            after[na++] = shortTerm[i];
    }
    std::sort(before, before + nb, [](const PictureRecord* a, const PictureRecord* b) {
        return ShortTermFrameOrderCnt(a) > ShortTermFrameOrderCnt(b);
    });
    std::sort(after, after + na, [](const PictureRecord* a, const PictureRecord* b) {
        return ShortTermFrameOrderCnt(a) < ShortTermFrameOrderCnt(b);
    });
    PictureRecord* ordered[2][kMaxRefListSlots * 4];
    std::copy(before, before + nb, ordered[0]);
    std::copy(after, after + na, ordered[0] + nb);
    std::copy(after, after + na, ordered[1]);
    std::copy(before, before + nb, ordered[1] + na);
    for (int list = 0; list < 2; ++list) {
        AlternateFields(ordered[list], nb + na, parity, false, init[list], &count[list]);
        AlternateFields(longTerm, nl, parity, true, init[list], &count[list]);
    }
}

void AppendLongTerm(RefListBuild* b, int list) {
    for (int i = 0; i < b->nl; ++i)
        b->init[list][b->count[list]++] = b->longTerm[i];
}

// Initial list of a P frame (clause 8.2.4.2.1): short-term frames by descending PicNum,
// then the long-term ones.
void InitialPFrameList(RefListBuild* b) {
    std::sort(b->shortTerm, b->shortTerm + b->ns,
              [](const PictureRecord* x, const PictureRecord* y) { return x->picNum > y->picNum; });
    for (int i = 0; i < b->ns; ++i)
        b->init[0][b->count[0]++] = b->shortTerm[i];
    AppendLongTerm(b, 0);
}

// Initial lists of a B frame (clause 8.2.4.2.3): short-term frames before the current
// picture by descending order count, those after it by ascending, list 1 the other way
// round; then the long-term ones in both.
void InitialBFrameLists(RefListBuild* b) {
    const int32_t curPoc = b->ctx->currentPicture->picOrderCnt;
    PictureRecord* before[kMaxRefListSlots * 4];
    PictureRecord* after[kMaxRefListSlots * 4];
    int nb = 0, na = 0;
    for (int i = 0; i < b->ns; ++i) {
        if (b->shortTerm[i]->picOrderCnt <= curPoc)
            before[nb++] = b->shortTerm[i];
        else
            after[na++] = b->shortTerm[i];
    }
    std::sort(before, before + nb,
              [](const PictureRecord* x, const PictureRecord* y) { return x->picOrderCnt > y->picOrderCnt; });
    std::sort(after, after + na,
              [](const PictureRecord* x, const PictureRecord* y) { return x->picOrderCnt < y->picOrderCnt; });
    auto* init = b->init;
    int32_t* count = b->count;
    for (int i = 0; i < nb; ++i)
        init[0][count[0]++] = before[i];
    for (int i = 0; i < na; ++i)
        init[0][count[0]++] = after[i];
    for (int i = 0; i < na; ++i)
        init[1][count[1]++] = after[i];
    for (int i = 0; i < nb; ++i)
        init[1][count[1]++] = before[i];
    AppendLongTerm(b, 1);
    AppendLongTerm(b, 0);
}

// Clauses 8.2.4.2.3 and 8.2.4.2.4: a list 1 of more than one entry equal to list 0 has
// its first two entries swapped.
void SwapEqualBLists(RefListBuild* b) {
    auto* init = b->init;
    if (b->count[1] > 1 && b->count[0] == b->count[1] && std::equal(init[0], init[0] + b->count[0], init[1]))
        std::swap(init[1][0], init[1][1]);
}

// The initial list cut to the active entries (clause 8.2.4.2); entries beyond its end
// stay empty.
void TruncateInitialList(RefListBuild* b, int list) {
    const int32_t n = std::min(b->count[list], b->s->numRefIdxActive[list]);
    std::copy(b->init[list], b->init[list] + n, b->st->refList[list]);
}

// The picture a modification command names (clause 8.2.4.3.1 or 8.2.4.3.2), or null;
// picNumPred carries the prediction of short-term numbers from command to command.
PictureRecord* ModificationTarget(RefListBuild* b, const RefListCommand& cmd, int32_t* picNumPred) {
    PictureStore* st = b->st;
    const int parity = b->parity;
    // Clause 8.2.4.3.1: a field's CurrPicNum is 2 frame_num + 1, MaxPicNum 2 MaxFrameNum.
    const int32_t currPicNum = parity < 0 ? b->s->frame_num : 2 * b->s->frame_num + 1;
    const int32_t maxPicNum = parity < 0 ? b->maxFrameNum : 2 * b->maxFrameNum;
    int32_t num = cmd.value;
    const bool longTerm = cmd.modification_of_pic_nums_idc >= 2;
    if (!longTerm) {
        int32_t noWrap = 0;
        if (cmd.modification_of_pic_nums_idc == 0) {
            noWrap = *picNumPred - (cmd.value + 1);
            if (noWrap < 0) noWrap += maxPicNum;
        } else {
            noWrap = *picNumPred + (cmd.value + 1);
            if (noWrap >= maxPicNum) noWrap -= maxPicNum;
        }
        *picNumPred = noWrap;
        num = noWrap > currPicNum ? noWrap - maxPicNum : noWrap;
    }
    if (parity < 0) return longTerm ? LongTermByPicNum(st, num) : ShortTermByPicNum(st, num);
    int which = 0;
    PictureRecord* f = FieldByPicNum(st, num, parity, longTerm, &which);
    return f != nullptr ? f->fieldOf[which] : nullptr;
}

// Clause 8.2.4.3: each command puts one picture at refIdx and removes its later
// duplicate; the entry pushed past the active ones is dropped.
int ModifyList(RefListBuild* b, int list) {
    const SliceHeader* s = b->s;
    const int32_t active = s->numRefIdxActive[list];
    PictureRecord** out = b->st->refList[list];
    int32_t picNumPred = b->parity < 0 ? s->frame_num : 2 * s->frame_num + 1;
    int32_t refIdx = 0;
    for (int c = 0; c < s->commandCount[list]; ++c) {
        PictureRecord* target = ModificationTarget(b, s->commands[list][c], &picNumPred);
        if (target == nullptr || refIdx >= active) return kDecoderOutOfRange;
        for (int32_t k = active; k > refIdx; --k)
            out[k] = out[k - 1];
        out[refIdx++] = target;
        int32_t kept = refIdx;
        for (int32_t k = refIdx; k <= active; ++k) {
            if (out[k] != target) out[kept++] = out[k];
        }
    }
    for (int32_t k = active; k <= kMaxRefListSlots; ++k)
        out[k] = nullptr;
    return kDecoderOk;
}

// Entries the stream names but the store lacks take the nearest present entry of the
// same list, below first, or the current picture when the list has none; the slice's
// bad-reference test still sees that they were missing (RefListsComplete).
void FillMissingEntries(RefListBuild* b, int list) {
    PictureStore* st = b->st;
    const int32_t active = b->s->numRefIdxActive[list];
    PictureRecord** out = st->refList[list];
    for (int32_t k = 0; k < active; ++k) {
        if (out[k] != nullptr) continue;
        PictureRecord* substitute = nullptr;
        for (int32_t d = 1; d < active && substitute == nullptr; ++d) {
            if (k - d >= 0 && out[k - d] != nullptr && !st->substituted[list][k - d]) substitute = out[k - d];
            if (substitute == nullptr && k + d < active && out[k + d] != nullptr) substitute = out[k + d];
        }
        out[k] = substitute != nullptr ? substitute : b->ctx->decoding;
        st->substituted[list][k] = true;
    }
    st->refListCount[list] = active;
}

}  // namespace

int BuildRefPicLists(AvcDecoderContext* ctx) {
    PictureStore* st = ctx->store;
    const SliceHeader* s = &ctx->slice;
    st->refListCount[0] = st->refListCount[1] = 0;
    std::memset(st->refList, 0, sizeof st->refList);
    std::memset(st->substituted, 0, sizeof st->substituted);
    if (s->sliceKind == kSliceI || s->sliceKind == kSliceSi) return kDecoderOk;
    RefListBuild b;
    b.ctx = ctx;
    b.st = st;
    b.s = s;
    b.parity = CurrentParity(ctx);
    b.maxFrameNum = 1 << (ctx->activeSps->log2_max_frame_num_minus4 + 4);
    b.count[0] = b.count[1] = 0;
    SetPicNums(st, s->frame_num, b.maxFrameNum);
    RebuildRefArrays(st);
    b.ns = std::min(st->shortTermCount, kMaxRefListSlots * 4);
    b.nl = std::min(st->longTermCount, kMaxRefListSlots * 4);
    std::copy(st->shortTerm, st->shortTerm + b.ns, b.shortTerm);
    std::copy(st->longTerm, st->longTerm + b.nl, b.longTerm);
    std::sort(b.longTerm, b.longTerm + b.nl,
              [](const PictureRecord* x, const PictureRecord* y) { return x->longTermPicNum < y->longTermPicNum; });
    const bool bSlice = s->sliceKind == kSliceB;
    if (b.parity >= 0)
        InitialFieldLists(&b);
    else if (bSlice)
        InitialBFrameLists(&b);
    else
        InitialPFrameList(&b);
    if (bSlice) SwapEqualBLists(&b);
    for (int list = 0; list < (bSlice ? 2 : 1); ++list) {
        TruncateInitialList(&b, list);
        const int modified = ModifyList(&b, list);
        if (modified != kDecoderOk) return modified;
        FillMissingEntries(&b, list);
    }
    return kDecoderOk;
}

}  // namespace avcdec
