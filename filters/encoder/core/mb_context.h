// The working state of one macroblock coder: position and neighbours, the QP record the
// transform kernels read, the packed source samples, and the double-buffered luma and
// chroma results that candidates are coded into.
#pragma once

#include <array>
#include <cstdint>

#include "common/bitstream/h264_tables.h"
#include "filters/encoder/core/coarse_search.h"
#include "filters/encoder/core/coefficient_list.h"
#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/kernel_table.h"
#include "filters/encoder/core/mb_record.h"
#include "filters/encoder/core/motion_vectors.h"
#include "filters/encoder/core/picture_buffer.h"
#include "filters/encoder/core/mb_syntax.h"

namespace ombrisk {

// Chroma QP from luma QP with chroma_qp_index_offset 0 (Table 8-15).
using common::ChromaQp;
// λ of the SAD and SATD decisions, by QP: round(2^((QP - 12) / 6)), at least 1.
int DecisionLambda(int qp);
// Elimination threshold base by the number of consecutive B pictures and the picture type.
int EliminationBase(int32_t bFrames, int32_t sliceType);
// λ of the rate-distortion decisions, by QP: round(0.85 * 2^((QP - 12) / 3)).
int RdLambda(int qp);
// The forward quantiser's parameters of a QP: qbits = QP / 6 + 15, intra offset 2^qbits / 3.
QuantRecord MakeQuantRecord(int qp);

// Luma 4x4 blocks are kept in raster order (block b at column b % 4, row b / 4); the
// entropy writers visit them in the standard's order (clause 6.4.3).
constexpr uint8_t kBlockScanToRaster[16] = {0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15};

// The raster luma 4x4 blocks (bit b for block b) of the 8x8 quadrants whose coded block
// pattern bits (0-3) are set.
constexpr uint32_t LumaBlocksOfPattern(int cbp) {
    constexpr auto kBlocks = [] {
        constexpr uint16_t kQuadrantBlocks[4] = {0x0033, 0x00CC, 0x3300, 0xCC00};
        std::array<uint16_t, 16> t{};
        for (int bits = 0; bits < 16; ++bits)
            for (int q = 0; q < 4; ++q)
                if ((bits >> q) & 1) t[bits] = static_cast<uint16_t>(t[bits] | kQuadrantBlocks[q]);
        return t;
    }();
    return kBlocks[cbp & 15];
}

// One luma result: a whole intra 16x16 coding, or sixteen intra 4x4 blocks.
struct LumaResult {
    alignas(16) uint8_t recon[256];
    alignas(16) int16_t coefs[256];
    CoefficientList dc;          // intra 16x16 DC levels
    CoefficientList blocks[16];  // raster order: the AC levels (16x16) or all levels (4x4)
    int32_t cbp = 0;             // bits 0-3
    int32_t kind = kMbIntra16x16;
    int32_t mode16 = 2;      // Intra16x16PredMode
    int8_t modes4[16] = {};  // Intra4x4PredMode, raster
};

// One chroma result for both components.
struct ChromaResult {
    alignas(16) uint8_t recon[2][64];
    alignas(16) int16_t coefs[2][64];
    CoefficientList dc[2];
    CoefficientList ac[2][4];
    int32_t cbp = 0;  // 0, 16 (DC only) or 32 (AC too)
    int32_t mode = 0;
};

// Most reference indices a list of this encoder holds.
constexpr int kMaxListRefs = 16;

// The reference pictures of the slice being coded: each list's pictures by reference
// index with an identifier per picture (the same picture has the same identifier in both
// lists; the loop filter compares pictures by it), and the co-located picture of direct
// prediction (RefPicList1[0]).
struct InterReferences {
    const CRefPictureStore* list[2][kMaxListRefs] = {};
    // The coarse vectors of this picture against each reference (null without them).
    CoarseVectorField* coarse[2][kMaxListRefs] = {};
    uint8_t id[2][kMaxListRefs] = {};
    int count[2] = {0, 0};
};

// One inter prediction of the whole macroblock: partition shape, per list the vector and
// reference index of every 4x4 block (raster) and the vector differences that code them,
// and the prediction samples.
struct InterCandidate {
    int32_t shape = kPart16x16;
    int8_t subShape[4] = {kSub8x8, kSub8x8, kSub8x8, kSub8x8};  // SubPartitionShape per 8x8 (shape 8x8 only)
    bool direct = false;                                        // the P_Skip or spatial direct motion
    uint8_t directQuadrants = 0;                                // B_8x8: bit q set where 8x8 quadrant q is B_Direct_8x8
    int8_t direction[4] = {kPredL0, kPredL0, kPredL0, kPredL0};  // PredDirection per 8x8 quadrant (16x16: all alike)
    MotionEntry motion[2][16];
    MotionEntry delta[2][16];
    int mvdSum = 0;  // sum of |vector difference| in quarter samples over lists and partitions
    alignas(16) uint8_t luma[256];
    alignas(16) uint8_t chroma[2][64];
    // Whether the 4x4 block (bx, by) lies in a B_Direct_8x8 quadrant (no reference index or
    // vector difference coded).
    bool IsDirectAt(int bx, int by) const {
        return shape == kPart8x8 && (directQuadrants >> ((by / 2) * 2 + bx / 2) & 1);
    }
};

struct CMbContext {
    explicit CMbContext(const EncoderBlock& block);

    // Per slice (and picture): the picture whose planes hold the source and receive the
    // reconstruction, the slice type, and the slice's first macroblock address.
    void BeginPicture(CRefPictureStore* picture, int32_t sliceType, const InterReferences* references = nullptr);
    // Per macroblock: position in macroblocks, whether it is the last of its slice, its
    // slice number. Loads the source and finds the neighbours of the same slice.
    void SetPosition(int mbX, int mbY, bool lastInSlice, uint16_t sliceNumber);
    // The slice's first macroblock address when slices are coded in parallel (neighbours
    // are then found by address); -1: by the records' slice numbers.
    int sliceFirst = -1;
    // Per macroblock: the QP record (recomputed only when the QP changes).
    void SetQp(int qp);
    // Writes the chosen result's reconstruction into the picture and fills the record.
    void StoreMacroblock();
    // Makes I_PCM the chosen coding: the source samples become the reconstruction.
    void ChoosePcm();

    // Flatness of the source (before an inter search): a source variance below 64 lowers
    // both elimination thresholds by one in P slices.
    void CheckFlatness();
    // The dequantised magnitude of the chosen luma levels, for the rate control.
    int64_t DequantisedEnergy() const;

    // The chosen results (set by the coder's decision).
    const LumaResult& luma() const { return lumaSets[lumaToggle ^ 1]; }
    const ChromaResult& chroma() const { return chromaSets[chromaToggle ^ 1]; }
    LumaResult& lumaTrial() { return lumaSets[lumaToggle]; }
    ChromaResult& chromaTrial() { return chromaSets[chromaToggle]; }

    const EncoderBlock& block;
    const CKernelTable& kernels;

    CRefPictureStore* picture = nullptr;
    int32_t sliceType = kSliceI;
    int mbX = 0, mbY = 0;
    bool lastInSlice = false;
    int32_t kind = kMbIntra16x16;
    int32_t cbp = 0;

    int32_t cachedQp = kInvalidValue;
    QuantRecord lumaQuant{}, chromaQuant{};
    int32_t qp = 0, chromaQp = 0;
    int32_t lambda = 1, rdLambda = 0;
    int32_t skipThreshold = 128, bPenalty = 1;
    // Coefficient elimination: the base of the picture, the thresholds of this macroblock.
    int32_t eliminationBase = 4, lumaThreshold = 4, chromaThreshold = 4;
    uint32_t sourceVariance = 0;

    // Packed source samples of the macroblock.
    alignas(16) uint8_t srcLuma[256];
    alignas(16) uint8_t srcCb[64];
    alignas(16) uint8_t srcCr[64];

    uint8_t* planeLuma = nullptr;
    uint8_t* planeCb = nullptr;
    uint8_t* planeCr = nullptr;
    int lumaStride = 0, chromaStride = 0;

    MbRecord* current = nullptr;
    const MbRecord* left = nullptr;
    const MbRecord* top = nullptr;
    const MbRecord* topLeft = nullptr;
    const MbRecord* topRight = nullptr;
    bool leftAvailable = false, topAvailable = false, topLeftAvailable = false, topRightAvailable = false;
    // Inter slices: the references, the neighbours as motion prediction sees them, the
    // co-located macroblock of direct prediction, and the chosen inter candidate.
    const InterReferences* references = nullptr;
    MotionNeighbourhood neighbours;
    Colocated colocated;
    const InterCandidate* candidate = nullptr;

    LumaResult lumaSets[2];
    ChromaResult chromaSets[2];
    int lumaToggle = 0, chromaToggle = 0;
};

}  // namespace ombrisk
