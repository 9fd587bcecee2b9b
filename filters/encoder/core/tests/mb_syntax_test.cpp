#include "filters/encoder/core/mb_syntax.h"

#include <string>

#include <gtest/gtest.h>

namespace ombrisk {
namespace {

// Table 7-11, mb_type 1-24: (mb_type, Intra16x16PredMode, CodedBlockPatternChroma,
// CodedBlockPatternLuma).
const int kTable7_11[24][4] = {
    {1, 0, 0, 0},   {2, 1, 0, 0},   {3, 2, 0, 0},   {4, 3, 0, 0},   {5, 0, 1, 0},   {6, 1, 1, 0},
    {7, 2, 1, 0},   {8, 3, 1, 0},   {9, 0, 2, 0},   {10, 1, 2, 0},  {11, 2, 2, 0},  {12, 3, 2, 0},
    {13, 0, 0, 15}, {14, 1, 0, 15}, {15, 2, 0, 15}, {16, 3, 0, 15}, {17, 0, 1, 15}, {18, 1, 1, 15},
    {19, 2, 1, 15}, {20, 3, 1, 15}, {21, 0, 2, 15}, {22, 1, 2, 15}, {23, 2, 2, 15}, {24, 3, 2, 15},
};

// Table 7-14, in mb_type order.
const char* const kTable7_14[23] = {
    "B_Direct_16x16", "B_L0_16x16",   "B_L1_16x16",   "B_Bi_16x16",   "B_L0_L0_16x8", "B_L0_L0_8x16",
    "B_L1_L1_16x8",   "B_L1_L1_8x16", "B_L0_L1_16x8", "B_L0_L1_8x16", "B_L1_L0_16x8", "B_L1_L0_8x16",
    "B_L0_Bi_16x8",   "B_L0_Bi_8x16", "B_L1_Bi_16x8", "B_L1_Bi_8x16", "B_Bi_L0_16x8", "B_Bi_L0_8x16",
    "B_Bi_L1_16x8",   "B_Bi_L1_8x16", "B_Bi_Bi_16x8", "B_Bi_Bi_8x16", "B_8x8",
};

// Table 7-18, in sub_mb_type order.
const char* const kTable7_18[13] = {
    "B_Direct_8x8", "B_L0_8x8", "B_L1_8x8", "B_Bi_8x8", "B_L0_8x4", "B_L0_4x8", "B_L1_8x4",
    "B_L1_4x8",     "B_Bi_8x4", "B_Bi_4x8", "B_L0_4x4", "B_L1_4x4", "B_Bi_4x4",
};

int Direction(const std::string& s) {
    return s == "L0" ? kPredL0 : s == "L1" ? kPredL1 : kPredBi;
}

// Splits "B_X_Y_WxH" into its parts.
std::vector<std::string> Parts(const std::string& name) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '_') {
            out.push_back(name.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

TEST(MbType, IntraTypesInEverySliceType) {
    // Table 7-11 values, offset by 0 in I, 5 in P (Table 7-13) plus the writers' one, 23 in B.
    for (int slice : {kSliceI, kSliceP, kSliceB}) {
        const int32_t offset = IntraMbTypeOffset(slice);
        const int32_t standardOffset = slice == kSliceI ? 0 : slice == kSliceP ? 5 : 23;
        const int32_t plusOne = slice == kSliceP ? 1 : 0;
        MbTypeInputs mb;
        mb.intraOffset = offset;
        mb.kind = kMbIntra4x4;
        EXPECT_EQ(ComputeMbType(mb), standardOffset + plusOne) << slice;  // I_NxN = 0
        for (const auto& row : kTable7_11) {
            mb.kind = kMbIntra16x16;
            mb.intra16x16Mode = row[1];
            // Any non-zero luma pattern selects the "15" half of the table.
            mb.codedBlockPattern = (row[2] << 4) | (row[3] ? 0x9 : 0);
            EXPECT_EQ(ComputeMbType(mb), standardOffset + row[0] + plusOne) << slice << " " << row[0];
        }
    }
    EXPECT_EQ(IntraMbTypeOffset(kSliceSP), 6);
    EXPECT_EQ(IntraMbTypeOffset(kSliceSI), kInvalidValue);
}

TEST(MbType, PTypesAreTheStandardsPlusOne) {
    // Table 7-13: P_L0_16x16 0, P_L0_L0_16x8 1, P_L0_L0_8x16 2, P_8x8 3, P_8x8ref0 4.
    MbTypeInputs mb;
    mb.intraOffset = IntraMbTypeOffset(kSliceP);
    mb.kind = kMbPInter;
    const std::pair<int, int> shapes[] = {{kPart16x16, 0}, {kPart16x8, 1}, {kPart8x16, 2}};
    for (auto [shape, standard] : shapes) {
        mb.shape = shape;
        EXPECT_EQ(ComputeMbType(mb), standard + 1);
        EXPECT_LT(ComputeMbType(mb), mb.intraOffset);
    }
    mb.kind = kMbP8x8;
    mb.allRefIdxZero = false;
    EXPECT_EQ(ComputeMbType(mb), 3 + 1);
    mb.allRefIdxZero = true;
    EXPECT_EQ(ComputeMbType(mb), 4 + 1);  // the CAVLC writer codes 4
    mb.kind = kMbSkipped;
    EXPECT_EQ(ComputeMbType(mb), 0);
    mb.kind = 2;
    EXPECT_EQ(ComputeMbType(mb), kInvalidValue);
    mb.kind = kMbPInter;
    mb.shape = 3;
    EXPECT_EQ(ComputeMbType(mb), kInvalidValue);
}

TEST(MbType, BTypesAreTheStandards) {
    MbTypeInputs mb;
    mb.intraOffset = IntraMbTypeOffset(kSliceB);
    for (int v = 0; v < 23; ++v) {
        const auto p = Parts(kTable7_14[v]);
        if (p[1] == "Direct") {
            mb.kind = kMbBDirect16x16;
        } else if (p[1] == "8x8") {
            mb.kind = kMbB8x8;
        } else {
            mb.kind = kMbBInter;
            const std::string& size = p.back();
            mb.shape = size == "16x16" ? kPart16x16 : size == "16x8" ? kPart16x8 : kPart8x16;
            mb.direction0 = Direction(p[1]);
            mb.direction1 = p.size() == 4 ? Direction(p[2]) : mb.direction0;
        }
        EXPECT_EQ(ComputeMbType(mb), v) << kTable7_14[v];
        EXPECT_LT(ComputeMbType(mb), mb.intraOffset);
    }
}

TEST(SubMbType, BAndPTables) {
    for (int v = 1; v < 13; ++v) {  // B_Direct_8x8 is never produced
        const auto p = Parts(kTable7_18[v]);
        const std::string& size = p[2];
        const int shape = size == "8x8" ? kSub8x8 : size == "8x4" ? kSub8x4 : size == "4x8" ? kSub4x8 : kSub4x4;
        EXPECT_EQ(ComputeSubMbType(kSliceB, shape, Direction(p[1])), v) << kTable7_18[v];
    }
    // Table 7-17: P_L0_8x8 0, P_L0_8x4 1, P_L0_4x8 2, P_L0_4x4 3.
    for (int shape = 0; shape < 4; ++shape) {
        EXPECT_EQ(ComputeSubMbType(kSliceP, shape, kPredL0), shape);
        EXPECT_EQ(ComputeSubMbType(kSliceSP, shape, kPredL0), shape);
    }
    EXPECT_EQ(ComputeSubMbType(kSliceB, 4, 0), kInvalidValue);
}

TEST(MbQpDelta, WrapsIntoTheCodedRange) {
    const std::pair<int, int> cases[] = {{30, -22}, {-27, 25}, {25, 25}, {-26, -26},
                                         {26, -26}, {51, -1},  {-51, 1}, {0, 0}};
    for (auto [delta, coded] : cases)
        EXPECT_EQ(WrapQpDelta(delta), coded) << delta;
}

}  // namespace
}  // namespace ombrisk
