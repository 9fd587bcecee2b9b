#include "filters/encoder/core/mb_syntax.h"

namespace ombrisk {

int32_t IntraMbTypeOffset(int32_t sliceTypeCode) {
    switch (sliceTypeCode) {
        case kSliceI:
            return 0;
        case kSliceP:
        case kSliceSP:
            return 6;
        case kSliceB:
            return 23;
        default:
            return kInvalidValue;
    }
}

int32_t ComputeMbType(const MbTypeInputs& mb) {
    // B_L0_L0_16x8 ... B_Bi_Bi: offset of the pair (first, second direction) from 4 for
    // 16x8, from 5 for 8x16 (Table 7-14 pairs the shapes as consecutive values).
    static constexpr int32_t kPairTable[3][3] = {{0, 4, 8}, {6, 2, 10}, {12, 14, 16}};
    switch (mb.kind) {
        case kMbIntra4x4:
            return mb.intraOffset;
        case kMbIntra16x16:
            return mb.intraOffset + 1 + mb.intra16x16Mode + 4 * ((mb.codedBlockPattern >> 4) & 3) +
                   ((mb.codedBlockPattern & 15) ? 12 : 0);
        case kMbPInter:
            if (mb.shape < kPart16x16 || mb.shape > kPart8x16) return kInvalidValue;
            return mb.shape + 1;
        case kMbP8x8:
            return mb.allRefIdxZero ? 5 : 4;
        case kMbBInter: {
            const int32_t d0 = mb.direction0, d1 = mb.direction1;
            if (d0 < 0 || d0 > 2 || d1 < 0 || d1 > 2) return kInvalidValue;
            switch (mb.shape) {
                case kPart16x16:
                    return d0 + 1;
                case kPart16x8:
                    return kPairTable[d0][d1] + 4;
                case kPart8x16:
                    return kPairTable[d0][d1] + 5;
                default:
                    return kInvalidValue;
            }
        }
        case kMbB8x8:
            return 22;
        case kMbSkipped:
        case kMbBDirect16x16:
            return 0;
        default:
            return kInvalidValue;
    }
}

int32_t ComputeSubMbType(int32_t sliceTypeCode, int32_t shape, int32_t direction) {
    if (sliceTypeCode != kSliceB) return shape;
    static constexpr int32_t kScale[4] = {1, 2, 2, 1};
    static constexpr int32_t kBase[4] = {1, 4, 5, 10};
    if (shape < 0 || shape > 3 || direction < 0 || direction > 2) return kInvalidValue;
    return kScale[shape] * direction + kBase[shape];
}

int32_t WrapQpDelta(int32_t delta) {
    if (delta >= 26) return delta - 52;
    if (delta < -26) return delta + 52;
    return delta;
}

}  // namespace ombrisk
