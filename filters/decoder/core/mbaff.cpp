// Macroblock-adaptive frame/field decoding (MBAFF, ITU-T H.264): macroblock pairs and
// their neighbours (clauses 6.4.10 and 6.4.12.2), the inference of mb_field_decoding_flag
// (clause 7.4.4), and the reference lists and weights of field macroblocks (clauses
// 8.2.4.2.5 and 8.4.2.3).
#include <algorithm>
#include <bit>
#include <new>
#include <cstring>

#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/dequant.h"
#include "filters/decoder/core/picture_store.h"
#include "filters/decoder/core/slice_decoding.h"
#include "filters/decoder/core/slice_header.h"

namespace avcdec {

namespace {

// Table 6-4 for a location left of the macroblock (xN < 0, 0 <= yN < maxH): the macroblock
// of pair A it lies in (0 top, 1 bottom) and its row yM there.
void LeftLocation(bool curField, bool curBottom, bool aField, int yN, int maxH, int* which, int* yM) {
    if (!curField) {
        if (!aField) {
            *which = curBottom ? 1 : 0;
            *yM = yN;
        } else {
            *which = yN & 1;
            *yM = (yN + (curBottom ? maxH : 0)) >> 1;
        }
    } else if (!aField) {
        const int line = 2 * yN + (curBottom ? 1 : 0);
        *which = line >= maxH ? 1 : 0;
        *yM = line - (*which != 0 ? maxH : 0);
    } else {
        *which = curBottom ? 1 : 0;
        *yM = yN;
    }
}

inline bool IsField(const MacroblockInfo* mb) {
    return (mb->flags & kMbField) != 0;
}

// The top record of the pair at (x, top row) when it lies in the picture and the slice.
MacroblockInfo* PairAt(const AvcDecoderContext* ctx, int32_t x, int32_t topRow, int32_t slice) {
    if (x < 0 || x >= ctx->picWidthInMbs || topRow < 0) return nullptr;
    MacroblockInfo* t = &ctx->decoding->mbInfo[topRow * ctx->picWidthInMbs + x];
    return t->sliceNumber == slice ? t : nullptr;
}

}  // namespace

void DeriveMbaffNeighbours(const AvcDecoderContext* ctx, MacroblockWork* w) {
    const int32_t width = ctx->picWidthInMbs;
    const int32_t x = w->mbX, top = w->mbY & ~1;
    const bool bottom = (w->mbY & 1) != 0, field = w->fieldMb;
    const int32_t slice = w->cur->sliceNumber;
    MacroblockInfo* a = PairAt(ctx, x - 1, top, slice);
    MacroblockInfo* b = PairAt(ctx, x, top - 2, slice);
    MacroblockInfo* c = PairAt(ctx, x + 1, top - 2, slice);
    MacroblockInfo* d = PairAt(ctx, x - 1, top - 2, slice);
    // The bottom macroblock of a pair is the record one row below its top one.
    auto lower = [width](MacroblockInfo* p) { return p != nullptr ? p + width : nullptr; };
    // Above a frame macroblock lie the lines of the pair above's bottom macroblock; above a
    // top field macroblock those of the same parity (Table 6-4, yN < 0).
    auto sameParityAbove = [&](MacroblockInfo* p) { return p != nullptr && IsField(p) ? p : lower(p); };
    w->dRow = 3;
    if (!field && !bottom) {
        w->mbA = a;
        w->mbB = lower(b);
        w->mbC = lower(c);
        w->mbD = lower(d);
    } else if (!field) {
        w->mbA = a != nullptr && !IsField(a) ? lower(a) : a;
        w->mbB = w->cur - width;
        w->mbC = nullptr;
        // Left above a bottom frame macroblock: the top frame macroblock's last line, or in a
        // field pair line 7 of the bottom field macroblock.
        w->mbD = a != nullptr && IsField(a) ? lower(a) : a;
        if (a != nullptr && IsField(a)) w->dRow = 1;
    } else if (!bottom) {
        w->mbA = a;
        w->mbB = sameParityAbove(b);
        w->mbC = sameParityAbove(c);
        w->mbD = sameParityAbove(d);
    } else {
        w->mbA = a != nullptr && IsField(a) ? lower(a) : a;
        w->mbB = lower(b);
        w->mbC = lower(c);
        w->mbD = lower(d);
    }
    const bool aField = a != nullptr && IsField(a);
    for (int k = 0; k < 9; ++k) {
        const int maxH = k < 4 || k > 5 ? 16 : 8;
        const int yN = k < 4 ? 4 * k : k < 6 ? 4 * (k - 4) : 4 * (k - 6) + 3;
        int which = 0, yM = 0;
        LeftLocation(field, bottom, aField, yN, maxH, &which, &yM);
        w->left[k] = a == nullptr ? nullptr : which != 0 ? a + width : a;
        w->leftRow[k] = static_cast<uint8_t>(yM >> 2);
    }
}

void SetupMbaffMacroblock(AvcDecoderContext* ctx, MacroblockWork* w, bool field) {
    const int32_t width = ctx->picWidthInMbs;
    const int32_t pair = w->mbAddr >> 1;
    w->mbX = pair % width;
    w->mbY = 2 * (pair / width) + (w->mbAddr & 1);
    w->cur = &ctx->decoding->mbInfo[w->mbY * width + w->mbX];
    ClearRecord(ctx, w, w->cur);
    SetMacroblockField(ctx, w, field);
}

void SetMacroblockField(AvcDecoderContext* ctx, MacroblockWork* w, bool field) {
    w->fieldMb = field;
    w->structure = field ? 1 + (w->mbY & 1) : 0;
    w->scan = field ? kFieldScan : kZigZag;
    if (field)
        w->cur->flags |= kMbField;
    else
        w->cur->flags &= ~kMbField;
    DeriveMbaffNeighbours(ctx, w);
    SelectListVariant(ctx, w, w->structure);
}

bool InferredFieldFlag(const AvcDecoderContext* ctx, int32_t mbAddr, int32_t slice) {
    // Clause 7.4.4: the pair to the left in the same slice, else the one above, else frame.
    const int32_t pair = mbAddr >> 1;
    const int32_t x = pair % ctx->picWidthInMbs, top = 2 * (pair / ctx->picWidthInMbs);
    if (const MacroblockInfo* a = PairAt(ctx, x - 1, top, slice)) return IsField(a);
    if (const MacroblockInfo* b = PairAt(ctx, x, top - 2, slice)) return IsField(b);
    return false;
}

int FieldPairNeighbours(const AvcDecoderContext* ctx, const MacroblockWork* w) {
    const int32_t top = w->mbY & ~1;
    const int32_t slice = w->cur->sliceNumber;
    const MacroblockInfo* a = PairAt(ctx, w->mbX - 1, top, slice);
    const MacroblockInfo* b = PairAt(ctx, w->mbX, top - 2, slice);
    return (a != nullptr && IsField(a)) + (b != nullptr && IsField(b));
}

void BuildListVariants(AvcDecoderContext* ctx, MacroblockWork* w) {
    PictureStore* st = ctx->store;
    std::memcpy(st->variantList[0], st->refList, sizeof st->refList);
    std::memcpy(st->variantSubstituted[0], st->substituted, sizeof st->substituted);
    for (int list = 0; list < 2; ++list) {
        st->variantCount[0][list] = st->refListCount[list];
        w->frameActive[list] = ctx->slice.numRefIdxActive[list];
    }
    for (int parity = 0; parity < 2; ++parity) {
        PictureRecord*(*out)[kMaxRefListSlots + 1] = st->variantList[1 + parity];
        bool(*sub)[kMaxRefListSlots + 1] = st->variantSubstituted[1 + parity];
        std::memset(out, 0, sizeof st->variantList[0]);
        std::memset(sub, 0, sizeof st->variantSubstituted[0]);
        for (int list = 0; list < 2; ++list) {
            // Each frame entry becomes its field of the macroblock's parity, then the other.
            const int32_t n = std::min(st->refListCount[list], kMaxRefListSlots / 2);
            for (int32_t i = 0; i < n; ++i) {
                PictureRecord* f = st->refList[list][i];
                const bool usable = f != nullptr && f != ctx->decoding && f->fieldOf[0] != nullptr;
                if (usable) SyncFieldRecords(f);
                out[list][2 * i] = usable ? f->fieldOf[parity] : nullptr;
                out[list][2 * i + 1] = usable ? f->fieldOf[1 - parity] : nullptr;
                sub[list][2 * i] = sub[list][2 * i + 1] = st->substituted[list][i] || !usable;
            }
            st->variantCount[1 + parity][list] = 2 * n;
        }
    }
    st->activeVariant = 0;
    w->usedRefsFrame = 0;
}

void SelectListVariant(AvcDecoderContext* ctx, MacroblockWork* w, int variant) {
    PictureStore* st = ctx->store;
    if (st->activeVariant == variant) return;
    // References used so far count by frame list index.
    uint64_t used = w->usedRefs;
    if (st->activeVariant != 0) {
        uint64_t folded = 0;
        for (; used != 0; used &= used - 1) {
            const int bit = std::countr_zero(used);
            folded |= uint64_t{1} << ((bit & 32) + ((bit & 31) >> 1));
        }
        used = folded;
    }
    w->usedRefsFrame |= used;
    w->usedRefs = 0;
    std::memcpy(st->refList, st->variantList[variant], sizeof st->refList);
    std::memcpy(st->substituted, st->variantSubstituted[variant], sizeof st->substituted);
    for (int list = 0; list < 2; ++list) {
        st->refListCount[list] = st->variantCount[variant][list];
        ctx->slice.numRefIdxActive[list] =
            variant == 0 ? w->frameActive[list] : std::min(2 * w->frameActive[list], kMaxRefListSlots);
    }
    ctx->predWeights = ctx->variantWeights[variant] != nullptr ? ctx->variantWeights[variant] : ctx->variantWeights[0];
    st->activeVariant = variant;
}

void EndListVariants(AvcDecoderContext* ctx, MacroblockWork* w) {
    SelectListVariant(ctx, w, 0);
    w->usedRefs = w->usedRefsFrame;
}

bool BuildWeightVariants(AvcDecoderContext* ctx, MacroblockWork* w) {
    const PicParamSet* pps = ctx->activePps;
    const bool b = ctx->slice.sliceKind == kSliceB;
    const bool weighted = b ? pps->weighted_bipred_idc != 0 : pps->weighted_pred_flag != 0;
    if (!weighted) return true;
    const PredWeightTable* frame = ctx->variantWeights[0];
    for (int parity = 0; parity < 2; ++parity) {
        PredWeightTable*& t = ctx->variantWeights[1 + parity];
        if (t == nullptr) t = new (std::nothrow) PredWeightTable{};
        if (t == nullptr) return false;
        // Explicit weights of field macroblocks are those of refIdx >> 1 (clause 8.4.2.3).
        t->luma_log2_weight_denom = frame->luma_log2_weight_denom;
        t->chroma_log2_weight_denom = frame->chroma_log2_weight_denom;
        t->lumaRounding = frame->lumaRounding;
        t->chromaRounding = frame->chromaRounding;
        for (int list = 0; list < 2; ++list) {
            t->weightedRefs[list] = 0;
            for (int i = 0; i < 32; ++i) {
                std::memcpy(t->weight[list][i], frame->weight[list][i >> 1], sizeof t->weight[0][0]);
                std::memcpy(t->offset[list][i], frame->offset[list][i >> 1], sizeof t->offset[0][0]);
                if ((frame->weightedRefs[list] >> (i >> 1)) & 1) t->weightedRefs[list] |= 1u << i;
            }
        }
        if (b) {
            SelectListVariant(ctx, w, 1 + parity);
            const PictureRecord* cur = ctx->decoding;
            BuildBiPredWeights(ctx, parity == 0 ? cur->topFieldOrderCnt : cur->bottomFieldOrderCnt);
        }
    }
    SelectListVariant(ctx, w, 0);
    return true;
}

}  // namespace avcdec
