// Slice-data loops, macroblock set-up, intra reconstruction, slice-group maps (ITU-T
// H.264 clauses 7.3.4, 8.2.2, 8.3 and 8.5) and border padding.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "common/bitstream/bit_reader.h"
#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/decoder_result.h"
#include "filters/decoder/core/dequant.h"
#include "filters/decoder/core/intra_prediction.h"
#include "filters/decoder/core/kernel_table.h"
#include "filters/decoder/core/picture_store.h"
#include "filters/decoder/core/slice_decoding.h"
#include "filters/decoder/core/slice_header.h"

#ifdef AVCDEC_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace avcdec {

namespace {

int SliceGroupOf(const AvcDecoderContext* ctx, int32_t mbAddr) {
    return ctx->activePps->num_slice_groups_minus1 > 0 ? ctx->sliceGroupMap[mbAddr] : 0;
}

}  // namespace

void ResetIntraModeMap(AvcDecoderContext* ctx) {
    const size_t bytes =
        (4 * static_cast<size_t>(ctx->frameHeightInMbs) + 2) * (4 * static_cast<size_t>(ctx->picWidthInMbs) + 2);
    std::memset(ctx->intraModeMap, 0xFF, bytes);
}

namespace {

// Asks for a cache line in a writable state. The records were last written a few pictures
// ago and read since by the deblocking worker, whose core may still hold the line: a read
// prefetch would fetch it shared and leave the ownership request to the store.
inline void PrefetchForWrite(const void* p) {
#if defined(__GNUC__) && defined(__x86_64__)
    // Every x86-64 processor executes PREFETCHW (those without it as a no-op).
    asm volatile("prefetchw %0" : : "m"(*static_cast<const char*>(p)));
#else
    __builtin_prefetch(p, 1);
#endif
}

// The record's leading fields: the slice's head (see BeginSliceData) with the macroblock's
// QP, zeroes up to refPicId, and no reference pictures; its intra 4x4 modes read as DC.
}  // namespace

void ClearRecord(AvcDecoderContext* ctx, const MacroblockWork* w, MacroblockInfo* mb) {
    static_assert(offsetof(MacroblockInfo, refPicId) == kMbClearedBytes && kMbClearedBytes % 16 == 0,
                  "set-up clears up to refPicId in 16-byte steps");
    static_assert(sizeof MacroblockInfo::refPicId == 32, "refPicId takes two 16-byte stores");
    static_assert(offsetof(MacroblockInfo, kind) == 8 && offsetof(MacroblockInfo, qp) == 9,
                  "kind and qp share the head's fifth 16-bit word");
    auto* bytes = reinterpret_cast<uint8_t*>(mb);
#ifdef AVCDEC_HAVE_SSE2
    __m128i head = _mm_load_si128(reinterpret_cast<const __m128i*>(w->recordHead));
    head = _mm_insert_epi16(head, (w->qp & 0xFF) << 8, 4);  // kind 0 (skip until parsed)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), head);
    for (size_t i = 16; i < kMbClearedBytes; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + i), _mm_setzero_si128());
    const __m128i none = _mm_set1_epi32(-1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + kMbClearedBytes), none);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + kMbClearedBytes + 16), none);
#else
    std::memcpy(bytes, w->recordHead, sizeof w->recordHead);
    std::memset(bytes + sizeof w->recordHead, 0, kMbClearedBytes - sizeof w->recordHead);
    mb->qp = static_cast<int8_t>(w->qp);
    std::memset(mb->refPicId, 0xFF, sizeof mb->refPicId);
#endif
    // The intra 4x4 modes read as DC until an intra 4x4 parse stores its own.
    const int mapWidth = 4 * ctx->picWidthInMbs + 2;
    uint8_t* map = ctx->intraModeMap + (4 * w->mbY + 1) * mapWidth + 4 * w->mbX + 1;
    constexpr uint32_t kDc = 0x02020202u;
    std::memcpy(map, &kDc, 4);
    std::memcpy(map + mapWidth, &kDc, 4);
    std::memcpy(map + 2 * mapWidth, &kDc, 4);
    std::memcpy(map + 3 * mapWidth, &kDc, 4);
}

void SetupMacroblock(AvcDecoderContext* ctx, MacroblockWork* w, int32_t sliceNumber) {
    const int32_t width = ctx->picWidthInMbs;
    const int32_t n = w->mbAddr;
    const int32_t first = w->sliceFirstMb;
    MacroblockInfo* all = ctx->decoding->mbInfo;
    MacroblockInfo* mb = &all[n];
    if (first >= 0 && n > first && w->mbX + 1 < width) {
        // The next macroblock of a row in a slice in raster order: its left neighbour is
        // the previous macroblock, and the others are available from the slice's first
        // address on. (Computed afresh: reading back the previous set-up's pointers could
        // wait for their stores to leave a busy store buffer.)
        const int32_t x = ++w->mbX;
        const bool above = w->mbY > 0;
        w->mbA = mb - 1;
        w->mbB = above && n - width >= first ? mb - width : nullptr;
        w->mbC = above && x < width - 1 && n - width + 1 >= first ? mb - width + 1 : nullptr;
        w->mbD = above && n - width - 1 >= first ? mb - width - 1 : nullptr;
    } else {
        // The macroblock after the previous one in raster order takes the next position
        // without a division.
        const int32_t nextX = w->mbX + 1;
        if (static_cast<uint32_t>(w->mbX) < static_cast<uint32_t>(width) && int64_t{w->mbY} * width + nextX == n) {
            const bool wrap = nextX == width;
            w->mbX = wrap ? 0 : nextX;
            w->mbY += wrap;
        } else {
            w->mbX = n % width;
            w->mbY = n / width;
        }
        const int32_t x = w->mbX, y = w->mbY;
        // Neighbours A, B, C and D where they lie in the picture and in the slice: with the
        // slice in raster order, every address from its first one on; else by slice number.
        auto inSlice = [&](int32_t addr) -> MacroblockInfo* {
            const bool same = first >= 0 ? addr >= first : all[addr].sliceNumber == sliceNumber;
            return same ? &all[addr] : nullptr;
        };
        w->mbA = x > 0 ? inSlice(n - 1) : nullptr;
        w->mbB = y > 0 ? inSlice(n - width) : nullptr;
        w->mbC = y > 0 && x < width - 1 ? inSlice(n - width + 1) : nullptr;
        w->mbD = y > 0 && x > 0 ? inSlice(n - width - 1) : nullptr;
    }
    w->cur = mb;
    // The next record's cache lines, which the next set-up and this macroblock's successor
    // write.
    if (n + 1 < ctx->picSizeInMbs) {
        const char* next = reinterpret_cast<const char*>(mb + 1);
        static_assert(sizeof *mb <= 320 + 65, "prefetches 64 bytes apart reach every line of a record");
        for (size_t off = 0; off < sizeof *mb; off += 64)
            PrefetchForWrite(next + off);
        PrefetchForWrite(next + sizeof *mb - 1);
    }
    // The picture lines that the macroblocks four and eight on in raster order write, asked
    // for once per 64-byte line: the deblocking worker wrote them a few pictures ago.
    {
        const PlaneView& pv = ctx->decoding->frame;
        const int32_t height = ctx->picHeightInMbs;
        int32_t lx = w->mbX + 4, ly = w->mbY;
        if (lx >= width) {
            lx -= width;
            ++ly;
        }
        if ((lx & 3) == 0 && lx < width && ly < height) {
            const uint8_t* l = pv.y + 16 * (ptrdiff_t{ly} * pv.pitch + lx);
            for (int r = 0; r < 16; ++r)
                PrefetchForWrite(l + r * pv.pitch);
        }
        int32_t cx = w->mbX + 8, cy = w->mbY;
        if (cx >= width) {
            cx -= width;
            ++cy;
        }
        if ((cx & 7) == 0 && cx < width && cy < height) {
            const ptrdiff_t offset = 8 * (ptrdiff_t{cy} * pv.pitch + cx);
            for (int r = 0; r < 8; ++r) {
                PrefetchForWrite(pv.u + offset + r * pv.pitch);
                PrefetchForWrite(pv.v + offset + r * pv.pitch);
            }
        }
    }
    ClearRecord(ctx, w, mb);
}

void MarkIntraModesUnavailable(AvcDecoderContext* ctx, const MacroblockWork* w) {
    const int mapWidth = 4 * ctx->picWidthInMbs + 2;
    uint8_t* map = ctx->intraModeMap + (4 * w->mbY + 1) * mapWidth + 4 * w->mbX + 1;
    for (int y = 0; y < 4; ++y)
        std::memset(map + y * mapWidth, 0xFF, 4);
}

namespace {

// The neighbours of each 4x4 block (in decoding order) that intra prediction may read, by
// which of the macroblocks A, B, C and D may serve (bits 0..3): inside the macroblock every
// block but those whose top right lies in a later block (clause 6.4.11.4).
struct Intra4x4AvailabilityTable {
    IntraAvailability v[16][16];
    constexpr Intra4x4AvailabilityTable() : v{} {
        for (int m = 0; m < 16; ++m) {
            const bool availA = (m & 1) != 0, availB = (m & 2) != 0, availC = (m & 4) != 0, availD = (m & 8) != 0;
            for (int blk = 0; blk < 16; ++blk) {
                const int x = kLuma4x4BlkX[blk], y = kLuma4x4BlkY[blk];
                IntraAvailability& a = v[m][blk];
                a.left = x > 0 || availA;
                a.top = y > 0 || availB;
                a.topLeft = x > 0 && y > 0 ? true : x > 0 ? availB : y > 0 ? availA : availD;
                a.topRight = y == 0 ? (x < 3 ? availB : availC) : !(x == 3 || blk == 3 || blk == 11);
            }
        }
    }
};
constexpr Intra4x4AvailabilityTable kIntra4x4Availability;

// AddResidual of a block known to have coefficients.
inline void AddCodedResidual(const DecoderKernelTable& k, const MacroblockWork* w, int b, uint8_t* dst, int pitch) {
    if ((w->acNonZero & (1u << b)) == 0) {
        k.addDc4x4(dst, pitch, w->coeffs[b][0]);
        return;
    }
    k.inverseTransformAdd4x4(dst, pitch, w->coeffs[b]);
}

}  // namespace

void AddResidual(const DecoderKernelTable& k, const MacroblockWork* w, int b, uint8_t* dst, int pitch) {
    if ((w->nonZero & (1u << b)) == 0) return;
    AddCodedResidual(k, w, b, dst, pitch);
}

int ReconstructIntraMacroblock(AvcDecoderContext* ctx, MacroblockWork* w) {
    const PlaneView& pv = ctx->decoding->frame;
    const MbPlacement at = PlaceMacroblock(w, pv.pitch);
    const int pitch = at.pitch;
    uint8_t* luma = pv.y + at.luma;
    uint8_t* chroma[2] = {pv.u + at.chroma, pv.v + at.chroma};
    MacroblockInfo* mb = w->cur;
    if (mb->kind == kMbIPcm) {
        for (int y = 0; y < 16; ++y)
            std::memcpy(luma + y * pitch, w->pcm + 16 * y, 16);
        for (int p = 0; p < 2; ++p)
            for (int y = 0; y < 8; ++y)
                std::memcpy(chroma[p] + y * pitch, w->pcm + 256 + 64 * p + 8 * y, 8);
        return kDecoderOk;
    }
    const DecoderKernelTable& k = DecoderKernels();
    // Whether each neighbour may serve intra prediction: decoded in this slice and, with
    // constrained_intra_pred_flag (read once), intra coded.
    const bool constrained = ctx->activePps->constrained_intra_pred_flag != 0;
    const auto usable = [constrained](const MacroblockInfo* n) {
        return n != nullptr && (!constrained || (n->flags & kMbIntra) != 0);
    };
    const bool availA = usable(w->mbA), availB = usable(w->mbB);
    const bool availC = usable(w->mbC), availD = usable(w->mbD);
    if (mb->kind == kMbIntra16x16) {
        const int mode = mb->intra16x16PredMode;
        const IntraAvailability avail{availA, availB, false, availD};
        if (static_cast<unsigned>(mode) < 3)
            k.intra16x16[mode](luma, pitch, avail, luma, pitch);
        else if (!PredictIntra16x16(luma, pitch, mode, avail, luma, pitch))
            return kDecoderUnsupported;
        for (uint32_t blocks = w->nonZero & 0xFFFFu; blocks != 0; blocks &= blocks - 1) {
            const int b = std::countr_zero(blocks);
            AddCodedResidual(k, w, b, luma + 4 * (b / 4) * pitch + 4 * (b % 4), pitch);
        }
    } else {
        const int mapWidth = 4 * ctx->picWidthInMbs + 2;
        const int8_t* map = IntraModeMapOrigin(ctx, w);
        const IntraAvailability* avail = kIntra4x4Availability.v[availA | availB << 1 | availC << 2 | availD << 3];
        for (int blk = 0; blk < 16; ++blk) {
            const int x = kLuma4x4BlkX[blk], y = kLuma4x4BlkY[blk];
            uint8_t* dst = luma + 4 * y * pitch + 4 * x;
            const int mode = map[y * mapWidth + x];
            if (static_cast<unsigned>(mode) > 8) return kDecoderUnsupported;  // modes 0..8 of clause 8.3.1.2
            k.intra4x4[mode](dst, pitch, avail[blk], dst, pitch);
            if ((w->nonZero & (1u << (4 * y + x))) != 0) AddCodedResidual(k, w, 4 * y + x, dst, pitch);
        }
    }
    // DC, horizontal and vertical straight from the kernel table; the plane mode and
    // any other value through the checking entry.
    const int chromaMode = mb->intraChromaPredMode;
    const IntraAvailability chromaAvail{availA, availB, false, availD};
    for (int p = 0; p < 2; ++p) {
        if (static_cast<unsigned>(chromaMode) < 3)
            k.intraChroma[chromaMode](chroma[p], pitch, chromaAvail, chroma[p], pitch);
        else if (!PredictIntraChroma(chroma[p], pitch, chromaMode, chromaAvail, chroma[p], pitch))
            return kDecoderUnsupported;
        for (uint32_t blocks = (w->nonZero >> (16 + 4 * p)) & 15u; blocks != 0; blocks &= blocks - 1) {
            const int b = std::countr_zero(blocks);
            AddCodedResidual(k, w, 16 + 4 * p + b, chroma[p] + 4 * (b / 2) * pitch + 4 * (b % 2), pitch);
        }
    }
    return kDecoderOk;
}

int32_t BeginSliceData(AvcDecoderContext* ctx, MacroblockWork* w) {
    w->mbaff = ctx->slice.MbaffFrameFlag != 0;
    w->fieldMb = false;
    w->structure = ctx->decoding->structure;
    // MBAFF: first_mb_in_slice counts pairs, and the records do not follow decoding order.
    w->mbAddr = ctx->slice.first_mb_in_slice * (w->mbaff ? 2 : 1);
    w->sliceFirstMb = ctx->activePps->num_slice_groups_minus1 > 0 || w->mbaff ? -1 : w->mbAddr;
    // Intra 4x4 modes outside the slice must read -1. A slice in raster order reads no
    // entry before its first macroblock but those of the row above and of its own first
    // row: every later entry is rewritten by its own set-up before anything reads it, and
    // the border keeps the -1 of a whole reset (a new map is zero, its corner included).
    if (w->sliceFirstMb < 0 || ctx->intraModeMap[0] != 0xFF) {
        ResetIntraModeMap(ctx);
    } else {
        const size_t mapWidth = 4 * static_cast<size_t>(ctx->picWidthInMbs) + 2;
        const size_t firstRow = static_cast<size_t>(w->mbAddr / ctx->picWidthInMbs);
        std::memset(ctx->intraModeMap + 4 * firstRow * mapWidth, 0xFF, 5 * mapWidth);
    }
    w->qp = ctx->slice.sliceQp;
    w->scan = ctx->slice.field_pic_flag ? kFieldScan : kZigZag;
    // The first 16 bytes of every record of the slice; set-up puts in each one's QP.
    const SliceHeader* s = &ctx->slice;
    MacroblockInfo head{};
    head.sliceNumber = ctx->sliceNumber + 1;
    head.flags = static_cast<uint32_t>(s->sliceKind) << kMbSliceKindShift | (s->field_pic_flag != 0 ? kMbField : 0);
    head.disableDeblockingFilterIdc = static_cast<int8_t>(s->disable_deblocking_filter_idc);
    head.filterOffsetA = static_cast<int8_t>(s->FilterOffsetA);
    head.filterOffsetB = static_cast<int8_t>(s->FilterOffsetB);
    head.chromaQpIndexOffset = static_cast<int8_t>(ctx->activePps->chroma_qp_index_offset);
    static_assert(offsetof(MacroblockInfo, codedBlockPattern) == sizeof w->recordHead,
                  "the head ends with chromaQpIndexOffset");
    std::memcpy(w->recordHead, &head, sizeof w->recordHead);
    const int32_t offset = ctx->activePps->chroma_qp_index_offset;
    w->qpc[0] = w->qpc[1] = ChromaQp(std::clamp(w->qp + offset, 0, 51));
    return ++ctx->sliceNumber;
}

int DecodeISlice(AvcDecoderContext* ctx) {
    if (ctx->slice.first_mb_in_slice >= ctx->picSizeInMbs) return kDecoderOk;
    MacroblockWork* w = ctx->work;
    const int32_t sliceNumber = BeginSliceData(ctx, w);
    const bool groups = ctx->activePps->num_slice_groups_minus1 > 0;
    BitReader* r = &ctx->reader;
    for (int32_t count = 0; count < ctx->picSizeInMbs; ++count) {
        SetupMacroblock(ctx, w, sliceNumber);
        const int32_t mbType = static_cast<int32_t>(r->ReadUe());
        if (mbType < 0 || mbType > 25) return kDecoderOutOfRange;
        const int result = ParseCavlcIntraMacroblock(ctx, w, mbType);
        if (result != kDecoderOk) return result;
        if (!r->Ok()) return kDecoderOutOfRange;  // an invalid code, or data cut short
        if (ReconstructIntraMacroblock(ctx, w) != kDecoderOk) return kDecoderUnsupported;
        ++ctx->decodedMbs;
        if (w->mbX + 1 == ctx->picWidthInMbs) DeblockRowDecoded(ctx, w->mbY);
        const int32_t next = groups ? NextMbInSliceGroup(ctx, w->mbAddr) : w->mbAddr + 1;
        if (!r->MoreRbspData()) return kDecoderOk;
        if (next < 0 || next >= ctx->picSizeInMbs) break;
        w->mbAddr = next;
    }
    // Data left behind the picture's last macroblock means the macroblocks were misread.
    return kDecoderOutOfRange;
}

namespace {

// The fields a skipped macroblock's parse would write, but not the vector differences: in
// a CAVLC slice nothing reads those of a skipped macroblock. The record's leading fields
// are as set-up cleared them (kind kMbSkip, partition shape 0, no direct blocks, list-0
// indices 0), so a P_Skip needs only its lists and its unused list 1.
void MarkSkipped(MacroblockInfo* mb, bool bSlice) {
    static_assert(kMbSkip == 0, "set-up's cleared kind reads as skipped");
    constexpr uint32_t kAllOnes = 0x01010101u, kNone = 0xFFFFFFFFu;
    if (bSlice) {
        mb->directMask = 0xF;
        std::memset(mb->predLists, 0, sizeof mb->predLists);
        std::memcpy(mb->refIdx[0], &kNone, 4);
    } else {
        std::memcpy(mb->predLists, &kAllOnes, 4);
    }
    std::memcpy(mb->refIdx[1], &kNone, 4);
}

}  // namespace

// Called right after SetupMacroblock, on the record it cleared.
void SetupSkippedMacroblock(MacroblockInfo* mb, bool bSlice) {
    MarkSkipped(mb, bSlice);
    // CABAC's mvd contexts read a skipped neighbour's differences as 0 (clause 9.3.3.1.1.7).
    std::memset(mb->mvd, 0, sizeof mb->mvd);
}

int DecodePOrBSlice(AvcDecoderContext* ctx) {
    const SliceHeader* s = &ctx->slice;
    if (s->first_mb_in_slice >= ctx->picSizeInMbs) return kDecoderOk;
    MacroblockWork* w = ctx->work;
    const int32_t sliceNumber = BeginSliceData(ctx, w);
    const bool groups = ctx->activePps->num_slice_groups_minus1 > 0;
    const bool b = s->sliceKind == kSliceB;
    if (b && (ctx->activePps->weighted_pred_flag || ctx->activePps->weighted_bipred_idc != 0))
        BuildBiPredWeights(ctx, ctx->decoding->picOrderCnt);
    BitReader* r = &ctx->reader;
    w->usedRefs = 0;
    int32_t skipRun = -1;  // -1: read mb_skip_run before the next macroblock
    for (int32_t count = 0; count < ctx->picSizeInMbs; ++count) {
        SetupMacroblock(ctx, w, sliceNumber);
        if (skipRun < 0) {
            skipRun = static_cast<int32_t>(r->ReadUe());
            if (skipRun < 0 || skipRun > ctx->picSizeInMbs) return kDecoderOutOfRange;
        }
        bool reconstructInter = false;
        if (skipRun > 0) {
            MarkSkipped(w->cur, b);
            reconstructInter = true;
            --skipRun;
        } else {
            const int result = b ? ParseCavlcBMacroblock(ctx, w) : ParseCavlcPMacroblock(ctx, w);
            if (result != kDecoderOk) return result;
            if (!r->Ok()) return kDecoderOutOfRange;  // an invalid code, or data cut short
            skipRun = -1;
            if (w->cur->flags & kMbIntra) {
                if (ReconstructIntraMacroblock(ctx, w) != kDecoderOk) return kDecoderUnsupported;
                ++ctx->decodedMbs;
            } else {
                reconstructInter = true;
            }
        }
        if (reconstructInter) {
            // Under constrained_intra_pred_flag an inter neighbour counts as unavailable for
            // Intra4x4PredMode prediction (dcPredModePredictedFlag, clause 8.3.1.1).
            if (ctx->activePps->constrained_intra_pred_flag) MarkIntraModesUnavailable(ctx, w);
            const int result = b ? ReconstructBMacroblock(ctx, w) : ReconstructPMacroblock(ctx, w);
            if (result != kDecoderOk) return result;
            ++ctx->decodedMbs;
        }
        if (w->mbX + 1 == ctx->picWidthInMbs) DeblockRowDecoded(ctx, w->mbY);
        const int32_t next = groups ? NextMbInSliceGroup(ctx, w->mbAddr) : w->mbAddr + 1;
        if ((skipRun <= 0 && !r->MoreRbspData()) || next < 0 || next >= ctx->picSizeInMbs) break;
        w->mbAddr = next;
    }
    // Data left behind the picture's last macroblock means the macroblocks were misread.
    if (skipRun <= 0 && r->MoreRbspData()) return kDecoderOutOfRange;
    return kDecoderOk;
}

int DecodeMbaffCavlcSlice(AvcDecoderContext* ctx) {
    const SliceHeader* s = &ctx->slice;
    if (2 * int64_t{s->first_mb_in_slice} >= ctx->picSizeInMbs) return kDecoderOk;
    MacroblockWork* w = ctx->work;
    const int32_t sliceNumber = BeginSliceData(ctx, w);
    const bool intraSlice = s->sliceKind == kSliceI, b = s->sliceKind == kSliceB;
    w->usedRefs = 0;
    BuildListVariants(ctx, w);
    // The frame lists and weights are back in place however the loop ends.
    struct Restore {
        AvcDecoderContext* ctx;
        MacroblockWork* w;
        ~Restore() { EndListVariants(ctx, w); }
    } restore{ctx, w};
    if (b && (ctx->activePps->weighted_pred_flag || ctx->activePps->weighted_bipred_idc != 0))
        BuildBiPredWeights(ctx, ctx->decoding->picOrderCnt);
    if (!BuildWeightVariants(ctx, w)) return kDecoderUnsupported;
    BitReader* r = &ctx->reader;
    int32_t skipRun = intraSlice ? 0 : -1;  // -1: read mb_skip_run before the next macroblock
    bool pairField = false, flagKnown = false;
    for (int32_t count = 0; count < ctx->picSizeInMbs; ++count) {
        const bool top = (w->mbAddr & 1) == 0;
        if (skipRun < 0) {
            skipRun = static_cast<int32_t>(r->ReadUe());
            if (skipRun < 0 || skipRun > ctx->picSizeInMbs) return kDecoderOutOfRange;
        }
        const bool skipped = skipRun > 0;
        // mb_field_decoding_flag comes before the pair's first coded macroblock (clause
        // 7.3.4). When a skip run ends on the top macroblock, the flag of the coded bottom
        // one follows at once, and the skipped top one takes it too.
        if (top) {
            flagKnown = false;
            if (!skipped || (skipRun == 1 && r->MoreRbspData())) {
                pairField = r->ReadBit() != 0;
                flagKnown = true;
            } else {
                pairField = InferredFieldFlag(ctx, w->mbAddr, sliceNumber);
            }
        } else if (!flagKnown && !skipped) {
            pairField = r->ReadBit() != 0;
            flagKnown = true;
        }
        SetupMbaffMacroblock(ctx, w, pairField);
        bool reconstructInter = false;
        if (skipped) {
            SetupSkippedMacroblock(w->cur, b);
            reconstructInter = true;
            --skipRun;
        } else {
            int result;
            if (intraSlice) {
                const int32_t mbType = static_cast<int32_t>(r->ReadUe());
                if (mbType < 0 || mbType > 25) return kDecoderOutOfRange;
                result = ParseCavlcIntraMacroblock(ctx, w, mbType);
            } else {
                result = b ? ParseCavlcBMacroblock(ctx, w) : ParseCavlcPMacroblock(ctx, w);
                skipRun = -1;
            }
            if (result != kDecoderOk) return result;
            if (!r->Ok()) return kDecoderOutOfRange;  // an invalid code, or data cut short
            if (w->cur->flags & kMbIntra) {
                if (ReconstructIntraMacroblock(ctx, w) != kDecoderOk) return kDecoderUnsupported;
                ++ctx->decodedMbs;
            } else {
                reconstructInter = true;
            }
        }
        if (reconstructInter) {
            if (ctx->activePps->constrained_intra_pred_flag) MarkIntraModesUnavailable(ctx, w);
            const int result = b ? ReconstructBMacroblock(ctx, w) : ReconstructPMacroblock(ctx, w);
            if (result != kDecoderOk) return result;
            ++ctx->decodedMbs;
        }
        const int32_t next = w->mbAddr + 1;
        if ((skipRun <= 0 && !r->MoreRbspData()) || next >= ctx->picSizeInMbs) {
            // A slice holds whole pairs: one that ends after a top macroblock was misread.
            if (top) return kDecoderOutOfRange;
            break;
        }
        w->mbAddr = next;
    }
    // Data left behind the picture's last macroblock means the macroblocks were misread.
    if (skipRun <= 0 && r->MoreRbspData()) return kDecoderOutOfRange;
    return kDecoderOk;
}

int32_t NextMbInSliceGroup(const AvcDecoderContext* ctx, int32_t mbAddr) {
    const int group = SliceGroupOf(ctx, mbAddr);
    for (int32_t n = mbAddr + 1; n < ctx->picSizeInMbs; ++n) {
        if (SliceGroupOf(ctx, n) == group) return n;
    }
    return -1;
}

int BuildSliceGroupMap(AvcDecoderContext* ctx) {
    const PicParamSet* pps = ctx->activePps;
    const SeqParamSet* sps = ctx->activeSps;
    const int32_t w = ctx->picWidthInMbs;
    // The map units (clause 7.4.2.1.1): macroblocks of frames-only streams, else pairs of
    // macroblocks one above the other (PicHeightInMapUnits rows).
    const int32_t h = sps->pic_height_in_map_units_minus1 + 1;
    const int32_t units = w * h;
    if (units > ctx->mbCount) return kDecoderUnsupported;
    uint8_t* map = ctx->sliceGroupMap;
    const int groups = pps->num_slice_groups_minus1 + 1;
    const int32_t unitsInGroup0 = std::min<int64_t>(
        int64_t{ctx->slice.slice_group_change_cycle} * (pps->slice_group_change_rate_minus1 + 1), units);
    switch (pps->slice_group_map_type) {
        case 0: {  // interleaved
            int32_t i = 0;
            do {
                for (int g = 0; g < groups && i < units; i += pps->run_length_minus1[g++] + 1)
                    for (int32_t j = 0; j <= pps->run_length_minus1[g] && i + j < units; ++j)
                        map[i + j] = static_cast<uint8_t>(g);
            } while (i < units);
            break;
        }
        case 1:  // dispersed
            for (int32_t i = 0; i < units; ++i)
                map[i] = static_cast<uint8_t>(((i % w) + (((i / w) * groups) / 2)) % groups);
            break;
        case 2:  // foreground with left-over
            std::memset(map, groups - 1, static_cast<size_t>(units));
            for (int g = groups - 2; g >= 0; --g) {
                const int32_t yTop = pps->top_left[g] / w, xTop = pps->top_left[g] % w;
                const int32_t yBottom = pps->bottom_right[g] / w, xBottom = pps->bottom_right[g] % w;
                for (int32_t y = yTop; y <= yBottom && y < h; ++y)
                    for (int32_t x = xTop; x <= xBottom && x < w; ++x)
                        map[y * w + x] = static_cast<uint8_t>(g);
            }
            break;
        case 3: {  // box-out
            std::memset(map, 1, static_cast<size_t>(units));
            const int dir = pps->slice_group_change_direction_flag;
            int32_t x = (w - dir) / 2, y = (h - dir) / 2;
            int32_t leftBound = x, topBound = y, rightBound = x, bottomBound = y;
            int32_t xDir = dir - 1, yDir = dir;
            for (int32_t k = 0; k < unitsInGroup0;) {
                const bool vacant = map[y * w + x] == 1;
                if (vacant) map[y * w + x] = 0;
                if (xDir == -1 && x == leftBound) {
                    leftBound = std::max(leftBound - 1, 0);
                    x = leftBound;
                    xDir = 0;
                    yDir = 2 * dir - 1;
                } else if (xDir == 1 && x == rightBound) {
                    rightBound = std::min(rightBound + 1, w - 1);
                    x = rightBound;
                    xDir = 0;
                    yDir = 1 - 2 * dir;
                } else if (yDir == -1 && y == topBound) {
                    topBound = std::max(topBound - 1, 0);
                    y = topBound;
                    xDir = 1 - 2 * dir;
                    yDir = 0;
                } else if (yDir == 1 && y == bottomBound) {
                    bottomBound = std::min(bottomBound + 1, h - 1);
                    y = bottomBound;
                    xDir = 2 * dir - 1;
                    yDir = 0;
                } else {
                    x += xDir;
                    y += yDir;
                }
                k += vacant ? 1 : 0;
            }
            break;
        }
        case 4: {  // raster scan
            const int32_t sizeOfUpperLeft =
                pps->slice_group_change_direction_flag ? units - unitsInGroup0 : unitsInGroup0;
            for (int32_t i = 0; i < units; ++i)
                map[i] = static_cast<uint8_t>(i < sizeOfUpperLeft ? pps->slice_group_change_direction_flag
                                                                  : 1 - pps->slice_group_change_direction_flag);
            break;
        }
        case 5: {  // wipe
            const int32_t sizeOfUpperLeft =
                pps->slice_group_change_direction_flag ? units - unitsInGroup0 : unitsInGroup0;
            int32_t k = 0;
            for (int32_t x = 0; x < w; ++x)
                for (int32_t y = 0; y < h; ++y, ++k)
                    map[y * w + x] =
                        static_cast<uint8_t>(k < sizeOfUpperLeft ? pps->slice_group_change_direction_flag
                                                                 : 1 - pps->slice_group_change_direction_flag);
            break;
        }
        case 6:
            if (static_cast<int32_t>(pps->slice_group_id.size()) != units) return kDecoderUnsupported;
            std::memcpy(map, pps->slice_group_id.data(), static_cast<size_t>(units));
            break;
        default:
            return kDecoderUnsupported;
    }
    // Clause 8.2.2.8: a frame picture of a stream that allows fields takes each map unit for
    // the two macroblocks of its column in two frame rows (from the end, so that every unit
    // is read before its entry is overwritten); a field picture's macroblocks are the units.
    if (!sps->frame_mbs_only_flag && !ctx->slice.field_pic_flag) {
        for (int32_t i = ctx->mbCount - 1; i >= 0; --i)
            map[i] = map[(i / (2 * w)) * w + i % w];
    }
    return kDecoderOk;
}

void PadPictureLines(const PlaneView& pv, int width, int height, int border, int begin, int end) {
    const int pitch = pv.pitch;
    auto pad = [pitch](uint8_t* origin, int width, int height, int side, int above, int below, int first, int last) {
        for (int y = first; y < last; ++y) {
            uint8_t* row = origin + y * pitch;
            std::memset(row - side, row[0], static_cast<size_t>(side));
            std::memset(row + width, row[width - 1], static_cast<size_t>(side));
        }
        if (first == 0 && last > 0) {
            for (int y = 1; y <= above; ++y)
                std::memcpy(origin - y * pitch - side, origin - side, static_cast<size_t>(width + 2 * side));
        }
        if (last == height) {
            for (int y = 0; y < below; ++y)
                std::memcpy(origin + (height + y) * pitch - side, origin + (height - 1) * pitch - side,
                            static_cast<size_t>(width + 2 * side));
        }
    };
    pad(pv.y, width, height, 32, border, border - 1, begin, end);
    // Chroma lines [(begin + 1) / 2, (end + 1) / 2): where a row of macroblocks is final
    // up to three luma lines above its bottom edge, it is final up to one chroma line above.
    for (uint8_t* plane : {pv.u, pv.v})
        pad(plane, width / 2, height / 2, 16, border / 2, border / 2, (begin + 1) / 2, (end + 1) / 2);
}

void PadPicture(AvcDecoderContext* ctx, PictureRecord* pic, int32_t firstLine) {
    if (firstLine < ctx->height)
        PadPictureLines(pic->frame, ctx->width, ctx->height, ctx->planePool.border, firstLine, ctx->height);
}

}  // namespace avcdec
