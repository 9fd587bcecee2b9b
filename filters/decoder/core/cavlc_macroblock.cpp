// CAVLC macroblock layer of intra macroblocks (ITU-T H.264 clauses 7.3.5 and 9.2) with
// coefficient placement and dequantisation (clause 8.5).
#include <bit>
#include <cstring>

#include "common/bitstream/bit_reader.h"
#include "common/bitstream/h264_cavlc_tables.h"
#include "filters/decoder/core/cavlc_tables.h"
#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/decoder_result.h"
#include "filters/decoder/core/dequant.h"
#include "filters/decoder/core/kernel_table.h"
#include "filters/decoder/core/picture_store.h"
#include "filters/decoder/core/slice_decoding.h"
#include "filters/decoder/core/slice_header.h"

namespace avcdec {

namespace {

// Table 7-14: B mb_type 1..21 as partition shape and the lists of its two partitions
// (bit 0 list 0, bit 1 list 1).
struct BMbType {
    uint8_t shape, first, second;
};
constexpr BMbType kBMbTypes[22] = {{0, 0, 0}, {0, 1, 1}, {0, 2, 2}, {0, 3, 3}, {1, 1, 1}, {2, 1, 1},
                                   {1, 2, 2}, {2, 2, 2}, {1, 1, 2}, {2, 1, 2}, {1, 2, 1}, {2, 2, 1},
                                   {1, 1, 3}, {2, 1, 3}, {1, 2, 3}, {2, 2, 3}, {1, 3, 1}, {2, 3, 1},
                                   {1, 3, 2}, {2, 3, 2}, {1, 3, 3}, {2, 3, 3}};
// Table 7-18: B sub_mb_type 1..12 as sub-partition shape and lists (0 is direct).
constexpr uint8_t kBSubShape[13] = {0, 0, 0, 0, 1, 2, 1, 2, 1, 2, 3, 3, 3};
constexpr uint8_t kBSubLists[13] = {0, 1, 2, 3, 1, 1, 2, 2, 3, 3, 1, 2, 3};

// nC from the counts of the blocks left of and above a block (clause 9.2.1).
inline int PredictNc(bool haveA, int nA, bool haveB, int nB) {
    if (haveA && haveB) return (nA + nB + 1) >> 1;
    if (haveA) return nA;
    if (haveB) return nB;
    return 0;
}

inline int LumaNc(const MacroblockWork* w, int x, int y) {
    const uint8_t* cur = w->cur->totalCoeff;
    bool haveA = true, haveB = true;
    int nA = 0, nB = 0;
    int row = 0;
    const MacroblockInfo* a = x > 0 ? nullptr : LeftLuma(w, y, &row);
    if (x > 0)
        nA = cur[4 * y + x - 1];
    else if (a != nullptr)
        nA = a->totalCoeff[4 * row + 3];
    else
        haveA = false;
    if (y > 0)
        nB = cur[4 * (y - 1) + x];
    else if (w->mbB != nullptr)
        nB = w->mbB->totalCoeff[12 + x];
    else
        haveB = false;
    return PredictNc(haveA, nA, haveB, nB);
}

inline int ChromaNc(const MacroblockWork* w, int base, int x, int y) {
    const uint8_t* cur = w->cur->totalCoeff + base;
    bool haveA = true, haveB = true;
    int nA = 0, nB = 0;
    int row = 0;
    const MacroblockInfo* a = x > 0 ? nullptr : LeftChroma(w, y, &row);
    if (x > 0)
        nA = cur[2 * y];
    else if (a != nullptr)
        nA = a->totalCoeff[base + 2 * row + 1];
    else
        haveA = false;
    if (y > 0)
        nB = cur[x];
    else if (w->mbB != nullptr)
        nB = w->mbB->totalCoeff[base + 2 + x];
    else
        haveB = false;
    return PredictNc(haveA, nA, haveB, nB);
}

// Places coeffLevel (scan order, from scan position `first`) dequantised into block.
void PlaceScaled(MacroblockWork* w, int b, const int16_t* levels, int count, int first, int qp) {
    const int16_t* scale = kLevelScale4x4.v[qp % 6];
    const int shift = qp / 6;
    int16_t* block = w->coeffs[b];
    for (int k = 0; k < count; ++k) {
        if (levels[k] == 0) continue;
        const int pos = w->scan[first + k];
        block[pos] = static_cast<int16_t>((levels[k] * scale[pos]) << shift);
        w->nonZero |= 1u << b;
        if (pos != 0) w->acNonZero |= 1u << b;
    }
}

// Whether a whole block, however coded, can be read from windows without a bound of
// their own: at most 16 + 3 bits of coeff_token and signs, 16 levels of at most 28 bits,
// 9 bits of total_zeros and 15 run_before codes of at most 11 bits (641 bits), then one
// 8-byte load.
constexpr size_t kBlockBytesAhead = 96;

// The coefficients of a block go to a sink as (level, scan position) pairs.
struct ScanOrderSink {  // coeffLevel[scan position] = level, for DC blocks and tests
    int16_t* coeffLevel;
    void Top(int) const {}
    void Put(int level, int scanPos) const { coeffLevel[scanPos] = static_cast<int16_t>(level); }
};
// LevelScale4x4 (clause 8.5.9, flat matrices) << QP / 6 by QP and scan position.
struct ScanScaleTable {
    int32_t v[52][16];
    explicit constexpr ScanScaleTable(const uint8_t* scan) : v{} {
        for (int qp = 0; qp < 52; ++qp)
            for (int k = 0; k < 16; ++k)
                v[qp][k] = kLevelScale4x4.v[qp % 6][scan[k]] << (qp / 6);
    }
};
inline constexpr ScanScaleTable kScanScale{kZigZag};
inline constexpr ScanScaleTable kFieldScanScale{kFieldScan};

struct RasterSink {  // coeffLevel[scan's position] = level, for the Intra_16x16 DC block
    int16_t* coeffLevel;
    const uint8_t* scan;
    void Top(int) const {}
    void Put(int level, int scanPos) const { coeffLevel[scan[scanPos]] = static_cast<int16_t>(level); }
};
struct DequantSink {  // dequantised into a block of the work area (clause 8.5.12.1)
    int16_t* block;
    const uint8_t* scan;   // kZigZag from the block's first scan position
    const int32_t* scale;  // kScanScale of the QP from the same position
    int top = 0;           // the highest scan position written
    void Top(int scanPos) { top = scanPos; }
    void Put(int level, int scanPos) const {
        block[scan[scanPos]] = static_cast<int16_t>(static_cast<int16_t>(level) * scale[scanPos]);
    }
};

// One residual block (clause 9.2) into the sink: TotalCoeff, or -1 for an invalid code.
// The codes are taken from a window of the next bits, loaded again before a code that
// might not fit in the rest.
template <bool kInBounds, class Sink>
inline int ReadBlock(BitReader& c, int nC, int maxNumCoeff, Sink& sink) {
    static const CavlcTableSet& kTables = CavlcTables();
    common::BitWindow<kInBounds> win(&c);
    uint64_t v = win.Bits();
    // coeff_token (Table 9-5), then the TrailingOnes sign bits behind it.
    uint32_t e;
    if (nC >= 0 && nC < 8) {
        const int zeros = std::countl_zero(v);  // every code has a one within its first 15 bits
        if (zeros > 15) return -1;
        e = kTables.coeffTokenLz[nC < 2 ? 0 : nC < 4 ? 1 : 2]->entries[zeros][(v << zeros << 1) >> 61];
    } else {
        const VlcTable& t = nC < 0 ? kTables.coeffTokenChromaDc : kTables.coeffTokenFixed;
        e = t.entries[v >> (64 - t.bits)];
    }
    const int tokenLength = static_cast<int>(e >> 8);
    if (tokenLength == 0) return -1;
    const int totalCoeff = static_cast<int>(e & 31);
    const int trailingOnes = static_cast<int>((e >> 5) & 3);
    if (totalCoeff == 0) {
        win.Skip(tokenLength);
        win.Done();
        return 0;
    }
    if (totalCoeff > maxNumCoeff) return -1;
    int level[16];
    {
        // Three sign bits read whether or not they are trailing ones: the levels after
        // the trailing ones overwrite the rest.
        const uint64_t signs = v << tokenLength;
        level[0] = 1 - 2 * static_cast<int>(signs >> 63);
        level[1] = 1 - 2 * static_cast<int>((signs >> 62) & 1);
        level[2] = 1 - 2 * static_cast<int>((signs >> 61) & 1);
        win.Skip(tokenLength + trailingOnes);  // at most 19 bits
    }
    // Levels (clause 9.2.2), from the last coefficient backwards.
    int suffixLength = (totalCoeff > 10 && trailingOnes < 3) ? 1 : 0;
    // The first level after fewer than 3 trailing ones has its magnitude raised by 1.
    const uint16_t(*shortLevels)[256] = kTables.levelShort[trailingOnes < 3 ? 1 : 0];
    for (int i = trailingOnes; i < totalCoeff; ++i, shortLevels = kTables.levelShort[0]) {
        win.Need(8);  // a short level has at most 8 bits
        v = win.Bits();
        const uint32_t s = shortLevels[suffixLength][v >> 56];
        if ((s & 15) != 0) [[likely]] {
            level[i] = static_cast<int8_t>(s >> 8);
            suffixLength = static_cast<int>((s >> 4) & 7);
            win.Skip(static_cast<int>(s & 15));
            continue;
        }
        win.Need(28);  // a longer level has at most 28 bits
        v = win.Bits();
        const int prefix = std::countl_zero(v);
        int code;
        if (prefix < 14) {  // level_prefix, its one bit and a suffix of suffixLength bits
            code = (prefix << suffixLength) + static_cast<int>((v << (prefix + 1)) >> 1 >> (63 - suffixLength));
            win.Skip(prefix + 1 + suffixLength);
        } else {
            if (prefix > 15) return -1;  // longer escapes exist only beyond 8-bit Baseline/Main
            const int suffixSize = prefix == 15 ? 12 : suffixLength == 0 ? 4 : suffixLength;
            code = (prefix << suffixLength) + static_cast<int>((v << (prefix + 1)) >> (64 - suffixSize));
            if (prefix == 15 && suffixLength == 0) code += 15;
            win.Skip(prefix + 1 + suffixSize);
        }
        if (i == trailingOnes && trailingOnes < 3) code += 2;
        // levelCode even: (levelCode + 2) >> 1, odd: (-levelCode - 1) >> 1 (clause 9.2.2.1).
        const int odd = code & 1;
        const int magnitude = (code + 2 - odd) >> 1;
        level[i] = (magnitude ^ -odd) + odd;
        suffixLength += suffixLength == 0;
        suffixLength += (magnitude > (3 << (suffixLength - 1))) & (suffixLength < 6);
    }
    // total_zeros (Tables 9-7 to 9-9), at most 9 bits.
    int zerosLeft = 0;
    if (totalCoeff < maxNumCoeff) {
        win.Need(9);
        v = win.Bits();
        const VlcTable& t = nC < 0 ? kTables.totalZerosChromaDc[totalCoeff] : kTables.totalZeros[totalCoeff];
        const uint32_t z = t.entries[v >> (64 - t.bits)];
        if ((z >> 8) == 0) return -1;
        zerosLeft = static_cast<int>(z & 0xFF);
        if (zerosLeft > maxNumCoeff - totalCoeff) return -1;
        win.Skip(static_cast<int>(z >> 8));
    }
    // The highest coefficient sits at totalCoeff - 1 + total_zeros; each run_before
    // (Table 9-10, at most 11 bits) moves the next one down by run + 1.
    int pos = totalCoeff - 1 + zerosLeft;
    sink.Top(pos);
    int i = 0;
    for (; i < totalCoeff - 1 && zerosLeft > 0; ++i) {
        sink.Put(level[i], pos);
        win.Need(11);
        v = win.Bits();
        const uint32_t r = kTables.runBeforeShort[zerosLeft][v >> 61];
        int run = static_cast<int>(r & 15), length = static_cast<int>(r >> 4);
        if (length == 0) {  // zerosLeft above 6 and a code 000...1: run 7 and up
            const int zeros = std::countl_zero(v);
            run = zeros + 4;
            length = zeros + 1;
            if (zeros > 10 || run > zerosLeft) return -1;
        }
        win.Skip(length);
        zerosLeft -= run;
        pos -= run + 1;
    }
    win.Done();
    for (; i < totalCoeff; ++i)  // no zeros left between the rest
        sink.Put(level[i], pos--);
    return totalCoeff;
}

template <class Sink>
inline int ReadBlock(BitReader& c, int nC, int maxNumCoeff, Sink& sink) {
    if (c.BytesAhead(kBlockBytesAhead)) [[likely]]
        return ReadBlock<true>(c, nC, maxNumCoeff, sink);
    return ReadBlock<false>(c, nC, maxNumCoeff, sink);
}

// The row of kScanScale (or its field-scan form) for the work area's scan and a QP.
inline const int32_t* ScanScaleRow(const MacroblockWork* w, int qp) {
    return (w->scan == kZigZag ? kScanScale : kFieldScanScale).v[qp];
}

// A luma or chroma AC block (scan positions from `first`) dequantised into block b of the
// work area with `scaleRow` (ScanScaleRow of its QP): TotalCoeff, or -1.
inline int ReadScaledBlock(BitReader& c, MacroblockWork* w, int b, int nC, int first, const int32_t* scaleRow) {
    DequantSink sink{w->coeffs[b], w->scan + first, scaleRow + first};
    const int n = ReadBlock(c, nC, 16 - first, sink);
    if (n > 0) {
        w->nonZero |= 1u << b;
        if ((first | sink.top) != 0) w->acNonZero |= 1u << b;
    }
    return n;
}

int ReadPcmSamples(AvcDecoderContext* ctx, MacroblockWork* w) {
    BitReader* r = &ctx->reader;
    const uint64_t at = r->BitPosition();
    const uint64_t byte = (at + 7) / 8;  // pcm_alignment_zero_bits first
    if (byte > r->Size() || r->Size() - byte < 384) return kDecoderUnsupported;
    std::memcpy(w->pcm, r->Data() + byte, 384);
    r->SkipBits((byte + 384) * 8 - at);
    return kDecoderOk;
}

// Luma DC of Intra_16x16 (clause 8.5.10) from the levels in scan order.
void InverseLumaDcRaster(MacroblockWork* w, const int16_t* c, int qp);

void InverseLumaDc(MacroblockWork* w, const int16_t* levels, int qp) {
    int16_t c[16];
    for (int k = 0; k < 16; ++k)
        c[w->scan[k]] = levels[k];
    InverseLumaDcRaster(w, c, qp);
}

// The same from the levels in raster order of the 4x4 blocks.
void InverseLumaDcRaster(MacroblockWork* w, const int16_t* c, int qp) {
    w->nonZero |= DecoderKernels().inverseLumaDc(w->coeffs, c, kLevelScale4x4.v[qp % 6][0] << (qp / 6));
}

// Chroma DC of one plane (clause 8.5.11), levels in raster order of the 2x2 blocks.
void InverseChromaDc(MacroblockWork* w, int plane, const int16_t* c, int qpc) {
    const int scale = kLevelScale4x4.v[qpc % 6][0] << (qpc / 6);
    const int f[4] = {c[0] + c[1] + c[2] + c[3], c[0] - c[1] + c[2] - c[3], c[0] + c[1] - c[2] - c[3],
                      c[0] - c[1] - c[2] + c[3]};
    for (int k = 0; k < 4; ++k) {
        w->coeffs[16 + 4 * plane + k][0] = static_cast<int16_t>((f[k] * scale) >> 1);
        if (w->coeffs[16 + 4 * plane + k][0] != 0) w->nonZero |= 1u << (16 + 4 * plane + k);
    }
}

// The residual blocks of a macroblock (clause 7.3.5.3) once its QP is known.
int ReadResidualBlocks(BitReader& c, MacroblockWork* w, bool intra16x16) {
    MacroblockInfo* mb = w->cur;
    const int cbp = mb->codedBlockPattern;
    int16_t levels[16];
    if (intra16x16) {
        std::memset(levels, 0, sizeof levels);
        RasterSink sink{levels, w->scan};
        if (ReadBlock(c, LumaNc(w, 0, 0), 16, sink) < 0) return kDecoderUnsupported;
        InverseLumaDcRaster(w, levels, w->qp);
    }
    const int first = intra16x16 ? 1 : 0;
    const int32_t* lumaScale = ScanScaleRow(w, w->qp);
    for (int blk = 0; blk < 16; ++blk) {
        if ((cbp & (1 << (blk / 4))) == 0) {
            blk += 3;
            continue;
        }
        const int x = kLuma4x4BlkX[blk], y = kLuma4x4BlkY[blk];
        const int n = ReadScaledBlock(c, w, 4 * y + x, LumaNc(w, x, y), first, lumaScale);
        if (n < 0) return kDecoderUnsupported;
        mb->totalCoeff[4 * y + x] = static_cast<uint8_t>(n);
    }
    const int cbpChroma = cbp >> 4;
    if (cbpChroma != 0) {
        for (int plane = 0; plane < 2; ++plane) {
            std::memset(levels, 0, sizeof levels);
            ScanOrderSink sink{levels};
            if (ReadBlock(c, -1, 4, sink) < 0) return kDecoderUnsupported;
            InverseChromaDc(w, plane, levels, w->qpc[plane]);
        }
    }
    if (cbpChroma == 2) {
        for (int plane = 0; plane < 2; ++plane) {
            const int base = 16 + 4 * plane;
            const int32_t* chromaScale = ScanScaleRow(w, w->qpc[plane]);
            for (int k = 0; k < 4; ++k) {
                const int n = ReadScaledBlock(c, w, base + k, ChromaNc(w, base, k & 1, k >> 1), 1, chromaScale);
                if (n < 0) return kDecoderUnsupported;
                mb->totalCoeff[base + k] = static_cast<uint8_t>(n);
            }
        }
    }
    return kDecoderOk;
}

// prev_intra4x4_pred_mode_flag and rem_intra4x4_pred_mode of the 16 blocks (clause
// 7.3.5.1) into the intra mode map.
void ReadIntraModes(BitReader& c, AvcDecoderContext* ctx, MacroblockWork* w) {
    const int mapWidth = 4 * ctx->picWidthInMbs + 2;
    int8_t* const origin = IntraModeMapOrigin(ctx, w);
    for (int blk = 0; blk < 16; ++blk) {
        int8_t* at = nullptr;
        int predicted;
        if (!w->mbaff) [[likely]] {
            at = origin + kLuma4x4BlkY[blk] * mapWidth + kLuma4x4BlkX[blk];
            predicted = PredictIntra4x4ModeAt(at, mapWidth);
        } else {
            predicted = PredictIntra4x4Mode(ctx, w, blk, &at);
        }
        const uint64_t v = c.Window();
        int mode = predicted;
        if (v >> 63) {
            c.SkipBits(1);
        } else {
            const int rem = static_cast<int>((v >> 60) & 7);
            mode = rem < predicted ? rem : rem + 1;
            c.SkipBits(4);
        }
        *at = static_cast<int8_t>(mode);
    }
}

// mb_qp_delta and the residual of a macroblock whose coded_block_pattern is known.
int ReadQpAndResidual(BitReader& c, MacroblockWork* w, bool intra16x16) {
    MacroblockInfo* mb = w->cur;
    const int cbp = mb->codedBlockPattern;
    // Only blocks that received a non-zero coefficient hold any: clear those alone.
    for (uint32_t dirty = w->nonZero; dirty != 0; dirty &= dirty - 1)
        std::memset(w->coeffs[std::countr_zero(dirty)], 0, sizeof w->coeffs[0]);
    w->nonZero = w->acNonZero = 0;
    if (cbp != 0 || intra16x16) {
        const int32_t delta = c.ReadSe();
        if (delta < -26 || delta > 25) return kDecoderOutOfRange;
        w->qp = (w->qp + delta + 52) % 52;
        const int32_t offset = mb->chromaQpIndexOffset;
        const int32_t qpi = w->qp + offset < 0 ? 0 : w->qp + offset > 51 ? 51 : w->qp + offset;
        w->qpc[0] = w->qpc[1] = ChromaQp(qpi);
    }
    mb->qp = static_cast<int8_t>(w->qp);
    return ReadResidualBlocks(c, w, intra16x16);
}

// The rest of an Intra_4x4 (mbType 0) or Intra_16x16 (1..24) macroblock.
int ReadIntraRest(BitReader& c, AvcDecoderContext* ctx, MacroblockWork* w, int32_t mbType) {
    MacroblockInfo* mb = w->cur;
    const bool intra16x16 = mbType != 0;
    if (!intra16x16) {
        mb->kind = kMbIntra4x4;
        ReadIntraModes(c, ctx, w);
    } else {
        mb->kind = kMbIntra16x16;
        mb->intra16x16PredMode = static_cast<int8_t>((mbType - 1) % 4);
        mb->codedBlockPattern = ((mbType - 1) / 4 % 3) << 4 | (mbType >= 13 ? 15 : 0);
    }
    const int32_t chromaMode = static_cast<int32_t>(c.ReadUe());
    if (chromaMode < 0 || chromaMode > 3) return kDecoderOutOfRange;
    mb->intraChromaPredMode = static_cast<int8_t>(chromaMode);
    if (!intra16x16) {
        const int32_t codeNum = static_cast<int32_t>(c.ReadUe());
        if (codeNum < 0 || codeNum > 47) return kDecoderOutOfRange;
        mb->codedBlockPattern = common::kIntraCbpOfCode[codeNum];
    }
    return ReadQpAndResidual(c, w, intra16x16);
}

// The 8x8 blocks a partition of a shape covers, as a bit mask.
uint32_t PartitionBlocks(int shape, int part) {
    switch (shape) {
        case 0:
            return 0xF;
        case 1:
            return part == 0 ? 0x3 : 0xC;
        case 2:
            return part == 0 ? 0x5 : 0xA;
        default:
            return 1u << part;
    }
}

// ref_idx te(v) (clause 9.1.2) for `count` active references; false when it names none.
bool ReadRefIdx(BitReader& c, int32_t count, int8_t* out) {
    int32_t v = 0;
    if (count == 2)
        v = static_cast<int32_t>(c.ReadBit() ^ 1u);
    else if (count > 2)
        v = static_cast<int32_t>(c.ReadUe());
    if (v < 0 || v >= count) return false;
    *out = static_cast<int8_t>(v);
    return true;
}

// The 4x4 blocks (raster) of sub-partition `sub` of 8x8 block `b8` in sub-shape `shape`.
void SubPartitionBlocks(int b8, int shape, int sub, int* first, int* width, int* height) {
    const int x = (b8 & 1) * 2, y = (b8 >> 1) * 2;
    static const int kW[4] = {2, 2, 1, 1}, kH[4] = {2, 1, 2, 1};
    const int sx = shape == 2 || shape == 3 ? sub & 1 : 0;
    const int sy = shape == 1 ? sub : shape == 3 ? sub >> 1 : 0;
    *first = 4 * (y + sy) + x + sx;
    *width = kW[shape];
    *height = kH[shape];
}

bool ReadMvd(BitReader& c, MacroblockInfo* mb, int list, int first, int width, int height) {
    const int32_t x = c.ReadSe();
    const int32_t y = c.ReadSe();
    // Clause 7.4.5.1 keeps differences within -8192..8191 quarter samples across and the
    // level's vertical range; anything outside 16 bits cannot come from a conforming stream.
    if (x < -32768 || x > 32767 || y < -32768 || y > 32767) return false;
    const int16_t pair[2] = {static_cast<int16_t>(x), static_cast<int16_t>(y)};
    uint32_t packed;
    std::memcpy(&packed, pair, sizeof packed);
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i)
            std::memcpy(mb->mvd[list][first + 4 * j + i], &packed, sizeof packed);
    return true;
}

// mb_pred() of a macroblock with 16x16, 16x8 or 8x16 partitions, or sub_mb_pred() of an
// 8x8 one (clauses 7.3.5.1 and 7.3.5.2) once the shapes and lists are in the record.
int ReadMotion(BitReader& c, const AvcDecoderContext* ctx, MacroblockInfo* mb, bool noRefIdx) {
    const int32_t* active = ctx->slice.numRefIdxActive;
    const int parts = mb->partShape == 0 ? 1 : mb->partShape == 3 ? 4 : 2;
    // The lists of a partition are those of its first 8x8 block.
    auto lists = [&](int part) { return mb->predLists[mb->partShape == 1 ? 2 * part : part]; };
    for (int list = 0; list < 2; ++list) {
        for (int part = 0; part < parts; ++part) {
            if ((lists(part) & (1 << list)) == 0) continue;
            int8_t ref = 0;
            if (!noRefIdx && !ReadRefIdx(c, active[list], &ref)) return kDecoderOutOfRange;
            const uint32_t blocks = PartitionBlocks(mb->partShape, part);
            for (int b8 = 0; b8 < 4; ++b8)
                if (blocks & (1u << b8)) mb->refIdx[list][b8] = ref;
        }
    }
    for (int list = 0; list < 2; ++list) {
        for (int part = 0; part < parts; ++part) {
            if ((lists(part) & (1 << list)) == 0) continue;
            if (mb->partShape != 3) {
                const int first = mb->partShape == 2 ? 2 * part : 8 * part;
                const int width = mb->partShape == 2 ? 2 : 4, height = mb->partShape == 1 ? 2 : 4;
                if (!ReadMvd(c, mb, list, first, width, height)) return kDecoderOutOfRange;
                continue;
            }
            const int subs = mb->subShape[part] == 0 ? 1 : mb->subShape[part] == 3 ? 4 : 2;
            for (int sub = 0; sub < subs; ++sub) {
                int first = 0, width = 0, height = 0;
                SubPartitionBlocks(part, mb->subShape[part], sub, &first, &width, &height);
                if (!ReadMvd(c, mb, list, first, width, height)) return kDecoderOutOfRange;
            }
        }
    }
    return kDecoderOk;
}

int ReadInterResidual(BitReader& c, MacroblockWork* w) {
    const int32_t codeNum = static_cast<int32_t>(c.ReadUe());
    if (codeNum < 0 || codeNum > 47) return kDecoderOutOfRange;
    w->cur->codedBlockPattern = common::kInterCbpOfCode[codeNum];
    return ReadQpAndResidual(c, w, false);
}

// The rest of an inter macroblock of a P slice once mb_type is read (0..4).
int ReadPInter(BitReader& c, const AvcDecoderContext* ctx, MacroblockWork* w, int32_t mbType) {
    MacroblockInfo* mb = w->cur;
    mb->kind = kMbInter;
    mb->partShape = static_cast<uint8_t>(mbType < 3 ? mbType : 3);
    if (mbType >= 3) {
        for (int k = 0; k < 4; ++k) {
            const int32_t sub = static_cast<int32_t>(c.ReadUe());
            if (sub < 0 || sub > 3) return kDecoderOutOfRange;
            mb->subShape[k] = static_cast<uint8_t>(sub);
        }
    }
    std::memset(mb->predLists, 1, sizeof mb->predLists);
    const int motion = ReadMotion(c, ctx, mb, mbType == 4);
    if (motion != kDecoderOk) return motion;
    return ReadInterResidual(c, w);
}

// The rest of an inter macroblock of a B slice once mb_type is read (0..22).
int ReadBInter(BitReader& c, const AvcDecoderContext* ctx, MacroblockWork* w, int32_t mbType) {
    MacroblockInfo* mb = w->cur;
    mb->kind = kMbInter;
    if (mbType == 0) {  // B_Direct_16x16
        mb->directMask = 0xF;
        return ReadInterResidual(c, w);
    }
    if (mbType == 22) {
        mb->partShape = 3;
        for (int k = 0; k < 4; ++k) {
            const int32_t sub = static_cast<int32_t>(c.ReadUe());
            if (sub < 0 || sub > 12) return kDecoderOutOfRange;
            mb->subShape[k] = kBSubShape[sub];
            mb->predLists[k] = kBSubLists[sub];
            if (sub == 0) mb->directMask |= static_cast<uint8_t>(1u << k);
        }
    } else {
        const BMbType& t = kBMbTypes[mbType];
        mb->partShape = t.shape;
        for (int b8 = 0; b8 < 4; ++b8)
            mb->predLists[b8] = (PartitionBlocks(t.shape, 0) & (1u << b8)) ? t.first : t.second;
    }
    const int motion = ReadMotion(c, ctx, mb, false);
    if (motion != kDecoderOk) return motion;
    return ReadInterResidual(c, w);
}

void ClearMotion(MacroblockInfo* mb) {
    for (int list = 0; list < 2; ++list)
        for (int k = 0; k < 4; ++k)
            mb->refIdx[list][k] = -1;
    std::memset(mb->mvd, 0, sizeof mb->mvd);
    std::memset(mb->predLists, 0, sizeof mb->predLists);
}

// mb_type of a P or B slice (intra types from firstIntra on, I_PCM the last), then the
// rest of the macroblock.
template <int (*kReadInter)(BitReader&, const AvcDecoderContext*, MacroblockWork*, int32_t)>
int ParseSliceMacroblock(AvcDecoderContext* ctx, MacroblockWork* w, int32_t firstIntra) {
    BitReader& c = ctx->reader;
    const int32_t mbType = static_cast<int32_t>(c.ReadUe());
    if (mbType < 0 || mbType > firstIntra + 25) return kDecoderOutOfRange;
    ClearMotion(w->cur);
    if (mbType >= firstIntra) return ParseCavlcIntraMacroblock(ctx, w, mbType - firstIntra);
    return kReadInter(c, ctx, w, mbType);
}

}  // namespace

int ParseCavlcPMacroblock(AvcDecoderContext* ctx, MacroblockWork* w) {
    return ParseSliceMacroblock<ReadPInter>(ctx, w, 5);
}

int ParseCavlcBMacroblock(AvcDecoderContext* ctx, MacroblockWork* w) {
    return ParseSliceMacroblock<ReadBInter>(ctx, w, 23);
}

int ParseResidualBlockCavlc(BitReader* r, int nC, int maxNumCoeff, int16_t* coeffLevel) {
    ScanOrderSink sink{coeffLevel};
    return ReadBlock(*r, nC, maxNumCoeff, sink);
}

int ParseCavlcIntraMacroblock(AvcDecoderContext* ctx, MacroblockWork* w, int32_t mbType) {
    BitReader* r = &ctx->reader;
    MacroblockInfo* mb = w->cur;
    mb->flags |= kMbIntra;
    if (mbType == 25) {
        mb->kind = kMbIPcm;
        mb->flags |= kMbPcm;
        mb->qp = 0;
        mb->codedBlockPattern = 0x2F;
        std::memset(mb->totalCoeff, 16, sizeof mb->totalCoeff);
        return ReadPcmSamples(ctx, w);
    }
    return ReadIntraRest(*r, ctx, w, mbType);
}

void PlaceCoefficients(MacroblockWork* w, int b, const int16_t* levels, int count, int first, int qp) {
    PlaceScaled(w, b, levels, count, first, qp);
}

void TransformLumaDc(MacroblockWork* w, const int16_t* levels, int qp) {
    InverseLumaDc(w, levels, qp);
}

void TransformChromaDc(MacroblockWork* w, int plane, const int16_t* levels, int qpc) {
    InverseChromaDc(w, plane, levels, qpc);
}

void ClearCoefficients(MacroblockWork* w) {
    for (uint32_t dirty = w->nonZero; dirty != 0; dirty &= dirty - 1)
        std::memset(w->coeffs[std::countr_zero(dirty)], 0, sizeof w->coeffs[0]);
    w->nonZero = w->acNonZero = 0;
}

void ClearMacroblockMotion(MacroblockInfo* mb) {
    ClearMotion(mb);
}

void SetBMacroblockType(MacroblockInfo* mb, int32_t mbType) {
    const BMbType& t = kBMbTypes[mbType];
    mb->partShape = t.shape;
    for (int b8 = 0; b8 < 4; ++b8)
        mb->predLists[b8] = (PartitionBlocks(t.shape, 0) & (1u << b8)) ? t.first : t.second;
}

void SetBSubMacroblockType(MacroblockInfo* mb, int k, int32_t subType) {
    mb->subShape[k] = kBSubShape[subType];
    mb->predLists[k] = kBSubLists[subType];
    if (subType == 0) mb->directMask |= static_cast<uint8_t>(1u << k);
}

uint32_t PartitionBlockMask(int shape, int part) {
    return PartitionBlocks(shape, part);
}

void SubPartitionGeometry(int b8, int shape, int sub, int* first, int* width, int* height) {
    SubPartitionBlocks(b8, shape, sub, first, width, height);
}

int PredictIntra4x4Mode(AvcDecoderContext* ctx, const MacroblockWork* w, int blk, int8_t** at) {
    const int mapWidth = 4 * ctx->picWidthInMbs + 2;
    auto* map = reinterpret_cast<int8_t*>(ctx->intraModeMap);
    const int x = kLuma4x4BlkX[blk], y = kLuma4x4BlkY[blk];
    int8_t* p = map + (4 * w->mbY + 1 + y) * mapWidth + 4 * w->mbX + 1 + x;
    *at = p;
    int a = p[-1], b = p[-mapWidth];
    if (w->mbaff && (x == 0 || y == 0)) {
        // The map holds each record's modes at its raster place; the neighbouring blocks of
        // an MBAFF macroblock lie by clause 6.4.12.2.
        auto modeOf = [&](const MacroblockInfo* n, int row, int column) -> int {
            if (n == nullptr) return -1;
            const ptrdiff_t index = n - ctx->decoding->mbInfo;
            const ptrdiff_t mx = index % ctx->picWidthInMbs, my = index / ctx->picWidthInMbs;
            return map[(4 * my + 1 + row) * mapWidth + 4 * mx + 1 + column];
        };
        int row = 0;
        if (x == 0) {
            const MacroblockInfo* n = LeftLuma(w, y, &row);
            a = modeOf(n, row, 3);
        }
        if (y == 0) b = modeOf(w->mbB, 3, x);
    }
    return (a < 0 || b < 0) ? 2 : (a < b ? a : b);
}

int8_t* IntraModeMapOrigin(AvcDecoderContext* ctx, const MacroblockWork* w) {
    const int mapWidth = 4 * ctx->picWidthInMbs + 2;
    return reinterpret_cast<int8_t*>(ctx->intraModeMap) + (4 * w->mbY + 1) * mapWidth + 4 * w->mbX + 1;
}

}  // namespace avcdec
