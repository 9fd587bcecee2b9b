// The macroblock coders and their motion objects: the coder class of each level, the
// motion object of each search word and level, what each slot yields in P and B slices,
// and a search that finds a known displacement.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/mb_coder.h"
#include "filters/encoder/core/motion_estimator.h"

namespace ombrisk {
namespace {

constexpr int kW = 64, kH = 48;

// A smooth texture displaced by (dx, dy): a pattern search converges on it.
std::vector<uint8_t> Texture(int dx, int dy) {
    std::vector<uint8_t> p(kW * kH * 3 / 2, 128);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            p[y * kW + x] = static_cast<uint8_t>(128 + 50 * std::sin((x + dx) / 4.0) * std::cos((y + dy) / 5.0) +
                                                 20 * std::sin((x + dx + y + dy) / 9.0));
    return p;
}

struct Pictures {
    EncoderBlock block;
    std::unique_ptr<CRefPictureStore> current, past, future;
    InterReferences refs;

    Pictures(int32_t motionSearch, int32_t partitions) {
        int32_t params[kParamWords];
        DefaultParameterWords(params);
        params[kParCabac] = 0;
        params[kParSliceCount] = 1;
        params[kParBFrames] = 1;
        params[kParMotionSearch] = motionSearch;
        params[kParPartitions] = partitions;
        EXPECT_EQ(StoreParameterRecord(&block, params, 1), kCoreOk);
        EXPECT_EQ(StorePictureRecord(&block, kW, kH, kW, kH, 1), kCoreOk);
        FillChromaGeometry(&block);
        const auto make = [&](int dx, int dy) {
            auto store = std::make_unique<CRefPictureStore>(block);
            std::vector<uint8_t> p = Texture(dx, dy);
            store->Fill(PlanarPicture{p.data(), p.data() + kW * kH, p.data() + kW * kH * 5 / 4, kW, kH, kW, kW / 2});
            store->PadPlanes();
            store->BuildHalfSamplePlane();
            store->ResetRecords();
            return store;
        };
        current = make(0, 0);
        past = make(-3, 2);  // the current picture is the past one moved by (3, -2)
        future = make(5, 5);
        refs.list[0][0] = past.get();
        refs.list[1][0] = future.get();
        refs.id[0][0] = 1;
        refs.id[1][0] = 2;
        refs.count[0] = refs.count[1] = 1;
    }
};

// Starts the slice and the macroblock at (1, 1) (its left, top and top-right neighbours
// are not yet coded, so skip and direct motion are zero).
CZeroMotionPredictor& Begin(CMbCoder& coder, Pictures& p, int32_t sliceType) {
    coder.BeginPicture(p.current.get(), sliceType, &p.refs);
    coder.context().SetPosition(1, 1, false, 0);
    coder.context().SetQp(26);
    CZeroMotionPredictor& m = *coder.motion();
    m.PrepareMacroblock();
    return m;
}

TEST(MotionObjects, SlotsFollowSearchWordLevelAndShapes) {
    struct Case {
        int32_t search, level, partitions;
        bool estimator, partitionEstimator;
    };
    for (const Case& c : {Case{0, 0, 15, false, false},
                          {0, 2, 127, false, false},
                          {1, 0, 15, true, false},
                          {1, 1, 1, true, true},
                          {1, 1, 9, true, true},
                          {1, 2, 127, true, true}}) {
        SCOPED_TRACE(testing::Message() << "kParMotionSearch " << c.search << ", level " << c.level
                                        << ", kParPartitions " << c.partitions);
        Pictures p(c.search, c.partitions);
        const std::unique_ptr<CMbCoder> owner = CMbCoder::Create(p.block, c.level, nullptr);
        CMbCoder& coder = *owner;
        // One coder class per level; level 1 is level 0's decision with a re-coding pass.
        EXPECT_EQ(dynamic_cast<CMbCoderFast*>(&coder) != nullptr, c.level < 2);
        EXPECT_EQ(dynamic_cast<CMbCoderRefined*>(&coder) != nullptr, c.level == 1);
        EXPECT_EQ(dynamic_cast<CMbCoderRdo*>(&coder) != nullptr, c.level == 2);
        ASSERT_NE(coder.motion(), nullptr);
        EXPECT_EQ(dynamic_cast<CMotionEstimator*>(coder.motion()) != nullptr, c.estimator);
        EXPECT_EQ(dynamic_cast<CPartitionMotionEstimator*>(coder.motion()) != nullptr, c.partitionEstimator);
        const bool refine = c.partitionEstimator && c.partitions > 1;
        EXPECT_EQ(coder.motion()->RefineEnabled(), refine);
        EXPECT_EQ(coder.motion()->SubPartitionsEnabled(), c.partitionEstimator ? c.partitions & 0x70 : 0);

        // P slice: skip, no direct; only list 0 is searched; partitions where allowed.
        CZeroMotionPredictor& m = Begin(coder, p, kSliceP);
        InterCandidate cand;
        EXPECT_EQ(m.PredictSkip(cand.luma, cand), 1);
        EXPECT_TRUE(cand.direct);
        EXPECT_EQ(cand.motion[0][15].ref, 0);
        EXPECT_EQ(cand.motion[1][0].ref, -1);
        EXPECT_EQ(m.PredictDirect(cand.luma, cand), 0);
        m.BeginSearch();
        for (int32_t dir : {kPredL0, kPredL1, kPredBi}) {
            std::fill(cand.direction, cand.direction + 4, static_cast<int8_t>(dir));
            // Without search the list-0 candidate would repeat the skip one.
            EXPECT_EQ(m.SearchDirection(cand.luma, cand), dir == kPredL0 && c.estimator) << "direction " << dir;
        }
        if (c.estimator) {
            EXPECT_EQ(m.bestRef[0], 0);
            EXPECT_EQ(m.bestVector[0], (MotionVector{12, -8}));
            EXPECT_EQ(m.bestRef[1], -1);
        }
        // With 16 λ above the 16x16 cost level 1 keeps the 16x16 vector and searches no
        // shape; level 2 searches them all the same.
        constexpr int kHugeLambda = 1 << 20;
        EXPECT_EQ(m.Refine(kHugeLambda), refine && c.level == 2);
        cand.shape = kPart8x8;
        EXPECT_EQ(m.RefinePartition(cand.luma, cand, false), refine && c.level == 2 && (c.partitions & 8) != 0);
        EXPECT_EQ(m.Refine(0), refine);
        int allowed = 0, best = 0;
        for (int32_t shape : {kPart16x8, kPart8x16, kPart8x8}) {
            cand.shape = shape;
            const int any = m.RefinePartition(cand.luma, cand, false);
            EXPECT_EQ(any, refine && (c.partitions >> shape & 1)) << "shape " << shape;
            cand.shape = shape;
            const int only = m.RefinePartition(cand.luma, cand, true);
            EXPECT_LE(only, any) << "shape " << shape;
            allowed += any, best += only;
        }
        // Only the shapes of the lowest partition cost pass the only-best filter.
        EXPECT_EQ(best > 0, allowed > 0);

        // B slice: direct, no skip; without search the direct direction is not repeated.
        CZeroMotionPredictor& b = Begin(coder, p, kSliceB);
        EXPECT_EQ(b.PredictSkip(cand.luma, cand), 0);
        EXPECT_EQ(b.PredictDirect(cand.luma, cand), 1);
        EXPECT_EQ(b.directDirection, kPredBi);  // no neighbour: both lists at reference 0
        b.BeginSearch();
        for (int32_t dir : {kPredL0, kPredL1, kPredBi}) {
            std::fill(cand.direction, cand.direction + 4, static_cast<int8_t>(dir));
            const int made = b.SearchDirection(cand.luma, cand);
            EXPECT_EQ(made, c.estimator || dir != kPredBi) << "direction " << dir;
            if (!made) continue;
            EXPECT_EQ(cand.motion[0][0].ref >= 0, dir != kPredL1);
            EXPECT_EQ(cand.motion[1][0].ref >= 0, dir != kPredL0);
        }
        // B_8x8 is the only partition shape of B slices.
        EXPECT_EQ(b.Refine(kHugeLambda), refine && c.level == 2 && (c.partitions & 8) != 0);
        EXPECT_EQ(b.Refine(0), refine && (c.partitions & 8) != 0);
        cand.shape = kPart16x8;
        EXPECT_EQ(b.RefinePartition(cand.luma, cand, false), 0);
    }
}

}  // namespace
}  // namespace ombrisk
