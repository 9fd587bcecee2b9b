// Intra coding of the encoder core: quantisation at every QP against the tests' own
// reference written from the standard, the macroblock context's tables, CAVLC
// residual writing, picture buffer padding and loop-filter strengths.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/encoder/core/cabac_writer.h"
#include "filters/encoder/core/cavlc_writer.h"
#include "filters/encoder/core/loop_filter.h"
#include "filters/encoder/core/mb_coder.h"
#include "filters/encoder/core/mb_context.h"
#include "filters/encoder/core/picture_buffer.h"
#include "filters/encoder/core/tests/kernel_harness.h"
#include "filters/encoder/core/tests/kernel_reference.h"

namespace ombrisk {
namespace {

using kernel_test::Pattern;
using kernel_test::ReferenceTable;
using kernel_test::Rng;

EncoderBlock BlockOf(int width, int height) {
    EncoderBlock b;
    int32_t params[kParamWords];
    DefaultParameterWords(params);
    params[kParSliceCount] = 1;
    params[kParCabac] = 0;
    EXPECT_EQ(StoreParameterRecord(&b, params, 1), 0);
    EXPECT_EQ(StorePictureRecord(&b, width, height, width, height, 1), 0);
    FillChromaGeometry(&b);
    return b;
}

// Every QP, intra 16x16, 4x4 and chroma pipelines: levels, lists and reconstruction equal
// the reference's, on random residuals and on the extreme ones that push levels to their
// bounds. Every level stays codable and scales into 16 bits.
TEST(Quantisation, EveryQpEqualsTheStandardsArithmetic) {
    Rng rng(kernel_test::HarnessSeed());
    const CKernelTable& got = KernelTable();
    const CKernelTable& want = ReferenceTable();
    for (int qp = 0; qp <= 51; ++qp) {
        SCOPED_TRACE("QP " + std::to_string(qp));
        const QuantRecord q = MakeQuantRecord(qp);
        for (Pattern pattern : {Pattern::kRandom, Pattern::kExtreme}) {
            std::vector<uint8_t> src = kernel_test::RandomPixels(rng, 256, pattern);
            std::vector<uint8_t> pred = kernel_test::RandomPixels(rng, 256, pattern);
            alignas(16) uint8_t reconA[256], reconB[256];
            alignas(16) int16_t coefsA[256], coefsB[256];
            CoefficientList dcA, dcB, acA[16], acB[16];
            EXPECT_EQ(got.transformIntra16x16(src.data(), reconA, pred.data(), coefsA, &dcA, acA, &q),
                      want.transformIntra16x16(src.data(), reconB, pred.data(), coefsB, &dcB, acB, &q));
            EXPECT_EQ(0, std::memcmp(reconA, reconB, 256));
            EXPECT_EQ(0, std::memcmp(coefsA, coefsB, sizeof coefsA));
            for (int shift : {0, 1}) {
                EXPECT_EQ(got.transformLuma4x4(src.data(), reconA, pred.data(), coefsA, acA, &q, shift),
                          want.transformLuma4x4(src.data(), reconB, pred.data(), coefsB, acB, &q, shift));
                EXPECT_EQ(0, std::memcmp(coefsA, coefsB, 16 * sizeof(int16_t)));
                for (int r = 0; r < 16; ++r)
                    EXPECT_LE(std::abs(coefsA[r]), kMaxCavlcLevel);
                EXPECT_EQ(got.transformChroma(src.data(), reconA, pred.data(), coefsA, &dcA, acA, &q, shift, 4),
                          want.transformChroma(src.data(), reconB, pred.data(), coefsB, &dcB, acB, &q, shift, 4));
                EXPECT_EQ(0, std::memcmp(reconA, reconB, 64));
            }
        }
    }
}

// A flat residual of 255 over a macroblock gives the intra 16x16 DC level 6528 at QP 0,
// beyond what CAVLC can code in Main profile: it stops at 2063.
TEST(Quantisation, Intra16x16DcStaysCodableAtQpZero) {
    alignas(16) uint8_t src[256], pred[256], recon[256];
    std::memset(src, 255, sizeof src);
    std::memset(pred, 0, sizeof pred);
    alignas(16) int16_t coefs[256];
    CoefficientList dc, ac[16];
    const QuantRecord q = MakeQuantRecord(0);
    EXPECT_EQ(KernelTable().transformIntra16x16(src, recon, pred, coefs, &dc, ac, &q), 0);
    EXPECT_EQ(dc.pairs[0].level, kMaxCavlcLevel);
    EXPECT_EQ(dc.pairs[1].level, 0);
}

TEST(MbContext, QpTables) {
    // Table 8-15 above 29, transcribed from the standard.
    const int chroma[22] = {29, 30, 31, 32, 32, 33, 34, 34, 35, 35, 36, 36, 37, 37, 37, 38, 38, 38, 39, 39, 39, 39};
    for (int qp = 0; qp < 30; ++qp)
        EXPECT_EQ(ChromaQp(qp), qp);
    for (int qp = 30; qp <= 51; ++qp)
        EXPECT_EQ(ChromaQp(qp), chroma[qp - 30]) << qp;

    struct LambdaCase {
        int qp, decision, rd;
    };
    for (const LambdaCase& c : {LambdaCase{0, 1, 0},
                                {9, 1, 0},
                                {10, 1, 1},
                                {12, 1, 1},
                                {15, 1, 2},
                                {19, 2, 4},
                                {20, 3, 5},
                                {26, 5, 22},
                                {36, 16, 218},
                                {51, 91, 6963}})
        EXPECT_TRUE(DecisionLambda(c.qp) == c.decision && RdLambda(c.qp) == c.rd) << c.qp;
    // Both λ follow their formulas within rounding over the whole range.
    for (int qp = 16; qp <= 51; ++qp) {
        EXPECT_NEAR(DecisionLambda(qp), std::pow(2.0, (qp - 12) / 6.0), 0.5 + 1e-9) << qp;
        EXPECT_NEAR(RdLambda(qp), 0.85 * std::pow(2.0, (qp - 12) / 3.0), 0.5 + 1e-6) << qp;
    }

    const QuantRecord q51 = MakeQuantRecord(51);
    EXPECT_EQ(q51.qpDiv6, 8);
    EXPECT_EQ(q51.qbits, 23);
    EXPECT_EQ(q51.offset, 2796202);
}

// Elimination thresholds, the skip threshold and the QP record's cache; flatness lowers
// the thresholds of P macroblocks only; the dequantised energy the rate control reads.
TEST(MbContext, PerMacroblockSteps) {
    struct BaseCase {
        int bFrames, sliceType, base;
    };
    for (const BaseCase& c : {BaseCase{0, kSliceI, 4},
                              {0, kSliceB, 4},
                              {1, kSliceP, 2},
                              {1, kSliceB, 6},
                              {2, kSliceI, 1},
                              {3, kSliceP, 0},
                              {7, kSliceP, 0},
                              {7, kSliceB, 6}})
        EXPECT_EQ(EliminationBase(c.bFrames, c.sliceType), c.base) << c.bFrames << " " << c.sliceType;

    EncoderBlock block = BlockOf(32, 16);
    block.param(kParBFrames) = 0;
    CRefPictureStore pic(block);
    ASSERT_TRUE(pic.valid());
    std::vector<uint8_t> y(32 * 16, 90), c(16 * 8 * 2, 128);
    pic.Fill(PlanarPicture{y.data(), c.data(), c.data() + 128, 32, 16, 32, 16});
    pic.ResetRecords();
    CMbContext mb(block);
    mb.BeginPicture(&pic, kSliceP);
    mb.SetPosition(0, 0, false, 0);
    mb.SetQp(12);
    EXPECT_EQ(mb.skipThreshold, 128);
    mb.SetQp(51);
    EXPECT_EQ(mb.skipThreshold, 11648);
    mb.lumaQuant.offset = -1;  // the same QP again: the record is kept
    mb.SetQp(51);
    EXPECT_EQ(mb.lumaQuant.offset, -1);
    mb.BeginPicture(&pic, kSliceP);  // a new picture recomputes it
    mb.SetQp(51);
    EXPECT_EQ(mb.lumaQuant.offset, 2796202);

    mb.SetPosition(0, 0, false, 0);
    mb.CheckFlatness();  // a flat source in a P slice
    EXPECT_EQ(mb.sourceVariance, 0u);
    EXPECT_EQ(mb.lumaThreshold, 3);
    EXPECT_EQ(mb.chromaThreshold, 3);
    mb.SetPosition(1, 0, true, 0);  // every macroblock starts again from the base
    EXPECT_EQ(mb.lumaThreshold, 4);
    mb.BeginPicture(&pic, kSliceI);
    mb.SetPosition(0, 0, false, 0);
    mb.CheckFlatness();
    EXPECT_EQ(mb.lumaThreshold, 4);

    // QP 28: normAdjust 16, 25, 20 at QP % 6 = 4, times 2^4. DC levels 3 and -2 give
    // (3 x 256 + 2) >> 2 = 192 and |(-512 + 2) >> 2| = 128; levels 1 and -1 at zigzag
    // positions 0 and 1 of block 0 give 256 and 320.
    mb.SetQp(28);
    mb.kind = kMbIntra16x16;
    LumaResult& l = mb.lumaSets[1];
    l.kind = kMbIntra16x16;
    l.dc.pairs[0] = {3, 0};
    l.dc.pairs[1] = {-2, 0};
    l.dc.pairs[2] = {0, 14};
    l.cbp = 1;
    for (CoefficientList& list : l.blocks)
        list.pairs[0] = {0, 15};
    l.blocks[0].pairs[0] = {1, 0};
    l.blocks[0].pairs[1] = {-1, 0};
    l.blocks[0].pairs[2] = {0, 13};
    l.blocks[2].pairs[0] = {5, 0};  // in the 8x8 block whose pattern bit is clear
    EXPECT_EQ(mb.DequantisedEnergy(), 192 + 128 + 256 + 320);
}

// The bits a routine writes, as a string of '0' and '1'.
template <class Write>
std::string Bits(Write&& write) {
    uint8_t buffer[64] = {};
    common::BitWriter w(buffer, sizeof buffer);
    write(w);
    const uint64_t n = w.BitCount();
    w.AlignWithZeros();
    std::string bits;
    for (uint64_t i = 0; i < n; ++i)
        bits += ((buffer[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
    return bits;
}

CoefficientList List(std::initializer_list<std::pair<int, int>> levelRun, int trailing) {
    CoefficientList l{};
    int i = 0;
    for (auto [level, run] : levelRun)
        l.pairs[i++] = {static_cast<int16_t>(level), static_cast<int16_t>(run)};
    l.pairs[i] = {0, static_cast<int16_t>(trailing)};
    return l;
}

struct BlockCase {
    const char* name;
    CoefficientList list;
    int maxCoeff, nC;
    const char* bits;
};

TEST(CavlcWriter, ResidualBlocks) {
    const BlockCase cases[] = {
        // TotalCoeff 4, TrailingOnes 3; the 3 at suffixLength 0 without the one-step
        // adjustment is level_prefix 4.
        {"trailing ones", List({{3, 0}, {-1, 0}, {1, 0}, {1, 0}}, 12), 16, 0,
         "000011"
         "001"
         "00001"
         "00011"},
        // One coefficient with three zeros before it: total_zeros 3, no run_before.
        {"single", List({{1, 3}}, 12), 16, 0,
         "01"
         "0"
         "0011"},
        // Two levels with a run between them: run_before of the higher one.
        {"run", List({{2, 0}, {1, 2}}, 12), 16, 0,
         "000100"
         "0"
         "1"
         "101"
         "00"},
        {"empty, nC 0", List({}, 16), 16, 0, "1"},
        {"empty, nC 8 or more", List({}, 16), 16, 9, "000011"},
        {"nC 8 or more", List({{1, 0}}, 15), 16, 12,
         "000001"
         "0"
         "1"},
        // Chroma DC: nC -1 tables, total_zeros of Table 9-9a.
        {"chroma DC", List({{-1, 1}}, 2), 4, -1,
         "1"
         "1"
         "01"},
        // Full block: no total_zeros.
        {"full AC",
         List({{1, 0},
               {1, 0},
               {1, 0},
               {1, 0},
               {1, 0},
               {1, 0},
               {1, 0},
               {1, 0},
               {1, 0},
               {1, 0},
               {1, 0},
               {1, 0},
               {1, 0},
               {1, 0},
               {1, 0}},
              0),
         15, 0,
         "0000000000001100"
         "000"
         "1"
         "10"
         "10"
         "10"
         "10"
         "10"
         "10"
         "10"
         "10"
         "10"
         "10"
         "10"},
    };
    for (const BlockCase& c : cases) {
        EXPECT_EQ(Bits([&](common::BitWriter& w) { cavlc::WriteResidualBlock(w, c.list, c.maxCoeff, c.nC); }), c.bits)
            << c.name;
    }
}

// Coded magnitudes 7, 8, 15 and 16 at suffixLength 0 take 13, 19, 19 and 28 bits.
TEST(CavlcWriter, LevelEscapes) {
    const auto bits = [](int level) {
        common::BitCounter s;
        cavlc::WriteResidualBlock(s, List({{static_cast<int16_t>(level), 0}, {1, 0}, {1, 0}, {1, 0}}, 12), 16, 0);
        return static_cast<int>(s.BitCount());
    };
    const int fixed = bits(7) - 13;
    EXPECT_EQ(bits(8), fixed + 19);
    EXPECT_EQ(bits(15), fixed + 19);
    EXPECT_EQ(bits(16), fixed + 28);
    EXPECT_EQ(bits(kMaxCavlcLevel), fixed + 28);
    // The largest level: suffix 2 x 2063 - 32 = 4094 in 12 bits.
    const std::string s = Bits([](common::BitWriter& w) {
        cavlc::WriteResidualBlock(w, List({{kMaxCavlcLevel, 0}, {1, 0}, {1, 0}, {1, 0}}, 12), 16, 0);
    });
    EXPECT_EQ(s.substr(9, 28),
              "0000000000000001"
              "111111111110");
}

// mb_qp_delta stands in Intra 16x16 macroblocks and in those with coded residual; a
// macroblock without one keeps the QP before it, as the decoder infers, and its record's QP
// and chroma QP (which the loop filter reads) say so.
TEST(CavlcWriter, QpOfMacroblocksWithAndWithoutDelta) {
    const EncoderBlock block = BlockOf(48, 16);
    CRefPictureStore pic(block);
    ASSERT_TRUE(pic.valid());
    pic.ResetRecords();
    CMbContext mb(block);
    mb.BeginPicture(&pic, kSliceI);
    CCavlcWriter writer;
    writer.BeginSlice(26);
    struct Step {
        int32_t kind, qp;
        uint8_t delta, recordQp, recordChromaQp;
    };
    const Step steps[] = {{kMbIntra16x16, 30, kNoQpDelta + 4, 30, 29},
                          {kMbIntra4x4, 40, kNoQpDelta, 30, 29},       // no residual: no delta
                          {kMbIntra16x16, 0, kNoQpDelta + 22, 0, 0}};  // 0 - 30 wraps to 22
    for (int x = 0; x < 3; ++x) {
        const Step& step = steps[x];
        mb.SetPosition(x, 0, x == 2, 0);
        mb.SetQp(step.qp);
        LumaResult& l = mb.lumaSets[1];
        l.kind = step.kind;
        l.cbp = 0;
        l.mode16 = 2;
        l.dc.pairs[0] = {0, 16};
        std::fill(l.modes4, l.modes4 + 16, int8_t{2});
        ChromaResult& c = mb.chromaSets[1];
        c.cbp = 0;
        c.mode = 0;
        mb.kind = step.kind;
        mb.cbp = 0;
        common::BitCounter bits;
        EXPECT_GT(writer.EncodeMacroblock(bits, mb), 0u);
        EXPECT_EQ(mb.current->qpDelta, step.delta) << x;
        EXPECT_EQ(mb.current->qp, step.recordQp) << x;
        EXPECT_EQ(mb.current->chromaQp, step.recordChromaQp) << x;
    }
}

// The level-2 coder of a CABAC slice prices its trials from the writer's context states:
// on an intra picture of detail and flat areas, the price of each chosen macroblock taken
// just before it is coded comes within 1 % of the bits it takes, and pricing
// changes nothing the writer codes (a second writer, never asked, gives the same bytes).
TEST(CabacWriter, CountsPriceTheCodedMacroblocks) {
    const int width = 96, height = 64;
    EncoderBlock block = BlockOf(width, height);
    CRefPictureStore pic(block);
    ASSERT_TRUE(pic.valid());
    std::vector<uint8_t> y(size_t(width * height)), c(size_t(width * height / 2));
    Rng rng(29);
    for (int i = 0; i < width * height; ++i)
        y[size_t(i)] = (i % width) < width / 2 ? uint8_t(rng.Next() & 0xFF) : uint8_t(60 + (i % width));
    for (size_t i = 0; i < c.size(); ++i)
        c[i] = uint8_t(100 + (i % 7) * 9);
    pic.Fill(PlanarPicture{y.data(), c.data(), c.data() + c.size() / 2, width, height, width, width / 2});
    for (int qp : {14, 30}) {
        SCOPED_TRACE(qp);
        pic.ResetRecords();
        CCabacWriter priced(block, 64 * 1024), plain(block, 64 * 1024);
        priced.BeginSlice(kSliceI, qp, 0);
        plain.BeginSlice(kSliceI, qp, 0);
        std::unique_ptr<CMbCoder> coder = CMbCoder::Create(block, kCoderRdo, nullptr);
        coder->UseCabacCounts(&priced);
        coder->BeginPicture(&pic, kSliceI, nullptr);
        CMbContext& mb = coder->context();
        mb.sliceFirst = 0;
        const int count = block.macroblocks.count;
        uint64_t price = 0, spent = 0;
        for (int addr = 0; addr < count; ++addr) {
            mb.SetPosition(addr % block.macroblocks.columns, addr / block.macroblocks.columns, addr == count - 1, 0);
            mb.SetQp(qp);
            coder->CodeMacroblock();
            mb.StoreMacroblock();
            price += priced.CountMacroblock(mb);
            spent += priced.EncodeMacroblock(mb);
            plain.EncodeMacroblock(mb);
        }
        EXPECT_NEAR(double(price) / 256, double(spent), 0.01 * double(spent));
        std::vector<uint8_t> a(64 * 1024), b(64 * 1024);
        common::BitWriter wa(a.data(), a.size()), wb(b.data(), b.size());
        ASSERT_TRUE(priced.EndSlice(wa, false, nullptr));
        ASSERT_TRUE(plain.EndSlice(wb, false, nullptr));
        ASSERT_GT(wa.ByteCount(), 0u);
        EXPECT_EQ(wa.ByteCount(), wb.ByteCount());
        EXPECT_TRUE(std::equal(a.begin(), a.begin() + long(wa.ByteCount()), b.begin()));
    }
}

// The coded area of a 34x18 source is 48x32: its extra columns and lines repeat the
// source's last ones; padding repeats the coded area's edges into every border.
TEST(PictureBuffer, FillAndPadReplicateEdges) {
    const EncoderBlock block = BlockOf(34, 18);
    CRefPictureStore pic(block);
    ASSERT_TRUE(pic.valid());
    ASSERT_EQ(pic.width(), 48);
    ASSERT_EQ(pic.height(), 32);
    std::vector<uint8_t> y(34 * 18), c(17 * 9 * 2);
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = static_cast<uint8_t>(i * 7);
    for (size_t i = 0; i < c.size(); ++i)
        c[i] = static_cast<uint8_t>(i * 3 + 1);
    PlanarPicture src{y.data(), c.data(), c.data() + 17 * 9, 34, 18, 34, 17};
    pic.Fill(src);
    pic.PadPlanes();
    const uint8_t* l = pic.luma();
    const int s = pic.lumaStride();
    EXPECT_EQ(l[5 * s + 40], y[5 * 34 + 33]);
    EXPECT_EQ(l[30 * s + 3], y[17 * 34 + 3]);
    EXPECT_EQ(l[-16 * s - 16], l[0]);
    EXPECT_EQ(l[(32 + 15) * s + 48 + 15], l[31 * s + 47]);
    EXPECT_EQ(l[-1 * s + 20], l[20]);
    EXPECT_EQ(l[7 * s - 9], l[7 * s]);
    const uint8_t* cr = pic.cr();
    const int cs = pic.chromaStride();
    EXPECT_EQ(cr[3 * cs + 20], c[17 * 9 + 3 * 17 + 16]);
    EXPECT_EQ(cr[(16 + 15) * cs + 24 + 15], cr[15 * cs + 23]);

    // Filled and padded by macroblock rows, the last row first (as threads may finish),
    // the planes equal the whole picture's, borders included.
    CRefPictureStore banded(block);
    ASSERT_TRUE(banded.valid());
    for (int row : {1, 0}) {
        banded.Fill(src, row, row + 1);
        banded.PadLumaRows(row, row + 1);
        banded.PadChromaRows(row, row + 1);
    }
    const auto samePlane = [](const uint8_t* a, const uint8_t* b, int stride, int lines) {
        return std::equal(a - 16 * stride - 16, a + (lines + 16) * stride - 16, b - 16 * stride - 16);
    };
    EXPECT_TRUE(samePlane(pic.luma(), banded.luma(), s, 32));
    EXPECT_TRUE(samePlane(pic.cb(), banded.cb(), cs, 16));
    EXPECT_TRUE(samePlane(pic.cr(), banded.cr(), cs, 16));
}

// The half-sample plane interleaves each integer sample with its horizontal half sample,
// the vertical and centre half samples in the row below (clause 8.4.2.2.1's six-tap
// filter), over the padded plane.
TEST(PictureBuffer, HalfSamplePlane) {
    const EncoderBlock block = BlockOf(32, 32);
    CRefPictureStore pic(block);
    ASSERT_TRUE(pic.valid());
    std::vector<uint8_t> y(32 * 32), c(16 * 16 * 2, 128);
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = static_cast<uint8_t>((i * 37) ^ (i >> 3));
    pic.Fill(PlanarPicture{y.data(), c.data(), c.data() + 256, 32, 32, 32, 16});
    pic.PadPlanes();
    pic.BuildHalfSamplePlane();
    const uint8_t* l = pic.luma();
    const int s = pic.lumaStride();
    const uint8_t* h = pic.halfSamples();
    const int hs = pic.halfStride();
    const auto tap = [](const uint8_t* p, int step) {
        return p[-2 * step] - 5 * p[-step] + 20 * p[0] + 20 * p[step] - 5 * p[2 * step] + p[3 * step];
    };
    for (int yy : {-3, 0, 7, 31}) {
        for (int xx : {-3, 0, 13, 31}) {
            const uint8_t* p = l + yy * s + xx;
            EXPECT_EQ(h[2 * yy * hs + 2 * xx], *p) << xx << "," << yy;
            EXPECT_EQ(h[2 * yy * hs + 2 * xx + 1], std::clamp((tap(p, 1) + 16) >> 5, 0, 255)) << xx << "," << yy;
            EXPECT_EQ(h[(2 * yy + 1) * hs + 2 * xx], std::clamp((tap(p, s) + 16) >> 5, 0, 255)) << xx << "," << yy;
        }
    }
}

// An intra macroblock gets strength 4 on the macroblock edges it has and 3 inside; inter
// macroblocks take 2 for coefficients, 1 for differing motion, and are skipped when every
// strength is 0. Edge QPs average the two macroblocks'.
TEST(LoopFilter, Strengths) {
    const EncoderBlock block = BlockOf(48, 16);
    CRefPictureStore pic(block);
    ASSERT_TRUE(pic.valid());
    MbRecord* r = pic.records();
    for (int x = 0; x < 3; ++x)
        r[x] = MbRecord{};
    r[0].kind = kMbIntra16x16;
    r[0].qp = 30;
    r[0].chromaQp = 29;
    r[1].kind = kMbPInter;
    r[1].qp = 33;
    r[1].chromaQp = 32;
    r[1].nonzeroMask = 1u << 5;  // block (1, 1)
    r[2].kind = kMbPInter;
    r[2].qp = 33;
    r[2].chromaQp = 32;
    for (int list = 0; list < 2; ++list)
        for (int b = 0; b < 16; ++b)
            r[1].motion[list][b].ref = r[2].motion[list][b].ref = 0;
    CLoopFilter filter(block);
    filter.ComputeStrengths(&pic);

    for (int s = 0; s < 4; ++s) {
        EXPECT_EQ(r[0].strengthV[0][s], 0);  // the picture's left edge
        EXPECT_EQ(r[0].strengthH[0][s], 0);
        EXPECT_EQ(r[0].strengthV[2][s], 3);
        EXPECT_EQ(r[1].strengthV[0][s], 4);  // next to an intra macroblock
    }
    EXPECT_EQ(r[1].edgeQp[0], 32);  // (30 + 33 + 1) / 2
    EXPECT_EQ(r[1].edgeChromaQp[0], 31);
    EXPECT_EQ(r[1].strengthV[1][1], 2);  // left of block (1, 1)
    EXPECT_EQ(r[1].strengthV[2][1], 2);  // right of it
    EXPECT_EQ(r[1].strengthH[1][1], 2);  // above it
    EXPECT_EQ(r[1].strengthV[1][0], 0);  // one partition, no coefficients
    EXPECT_EQ(r[1].filter, 1);
    EXPECT_EQ(r[2].filter, 0);  // same motion, no coefficients, inter neighbour
    EXPECT_EQ(r[2].strengthV[0][0], 0);
}

// Boundary strength of two inter 4x4 blocks without coefficients, straight from clause
// 8.7.2.1: 1 when they use other pictures (the spare byte names the picture) or another
// number of vectors, else 0 when some pairing of their vectors by picture keeps every
// pair within 4 quarter samples.
int ReferenceMotionStrength(const MbRecord& p, int bp, const MbRecord& q, int bq) {
    std::vector<MotionEntry> a, b;
    for (int list = 0; list < 2; ++list) {
        if (p.motion[list][bp].ref >= 0) a.push_back(p.motion[list][bp]);
        if (q.motion[list][bq].ref >= 0) b.push_back(q.motion[list][bq]);
    }
    if (a.size() != b.size()) return 1;
    const auto near = [](const MotionEntry& u, const MotionEntry& v) {
        return u.spare == v.spare && std::abs(u.x - v.x) < 4 && std::abs(u.y - v.y) < 4;
    };
    if (a.empty()) return 0;
    if (a.size() == 1) return near(a[0], b[0]) ? 0 : 1;
    const bool samePictures = (a[0].spare == b[0].spare && a[1].spare == b[1].spare) ||
                              (a[0].spare == b[1].spare && a[1].spare == b[0].spare);
    if (!samePictures) return 1;
    return ((near(a[0], b[0]) && near(a[1], b[1])) || (near(a[0], b[1]) && near(a[1], b[0]))) ? 0 : 1;
}

// Random macroblocks whose motion is uniform, per quadrant or per block, drawn from a small
// pool so that equal and nearly equal motion is common, against the clause's rules block
// by block.
TEST(LoopFilter, StrengthsMatchTheRulesBlockByBlock) {
    const EncoderBlock block = BlockOf(64, 48);
    CRefPictureStore pic(block);
    ASSERT_TRUE(pic.valid());
    std::mt19937 rng(7);
    const auto pick = [&](int n) { return static_cast<int>(rng() % unsigned(n)); };
    const auto entry = [&] {
        static constexpr int16_t kVectors[] = {0, 3, 4, -4, 7};
        MotionEntry e;
        e.ref = static_cast<int8_t>(pick(3) - 1);
        e.spare = static_cast<uint8_t>(pick(2));
        e.x = kVectors[pick(5)];
        e.y = kVectors[pick(5)];
        return e;
    };
    const int cols = 4, rows = 3, stride = pic.recordStride();
    for (int round = 0; round < 300; ++round) {
        for (int i = 0; i < cols * rows; ++i) {
            MbRecord& r = pic.records()[(i / cols) * stride + i % cols];
            r = MbRecord{};
            r.kind = pick(8) == 0 ? kMbIntra4x4 : kMbPInter;
            r.qp = r.chromaQp = 30;
            for (int b = 0; b < 16; ++b)
                r.nonzeroMask |= (pick(5) == 0 ? 1u : 0u) << b;
            const int layout = pick(3);  // uniform, per quadrant, per block
            for (int list = 0; list < 2; ++list) {
                MotionEntry quadrant[4];
                for (MotionEntry& e : quadrant)
                    e = entry();
                for (int b = 0; b < 16; ++b)
                    r.motion[list][b] = layout == 0   ? quadrant[0]
                                        : layout == 1 ? quadrant[(b >> 3) * 2 + ((b & 3) >> 1)]
                                                      : entry();
            }
        }
        CLoopFilter filter(block);
        filter.ComputeStrengths(&pic);
        for (int i = 0; i < cols * rows; ++i) {
            const int x = i % cols, y = i / cols;
            const MbRecord& r = pic.records()[y * stride + x];
            const bool intra = r.kind == kMbIntra4x4;
            const auto expect = [&](const MbRecord* n, int bp, int bq, bool edge) {
                if (!n) return 0;
                if (intra || n->kind == kMbIntra4x4) return edge ? 4 : 3;
                if (((r.nonzeroMask >> bp) & 1) || ((n->nonzeroMask >> bq) & 1)) return 2;
                return ReferenceMotionStrength(r, bp, *n, bq);
            };
            int any = 0;
            for (int e = 0; e < 4; ++e)
                for (int s = 0; s < 4; ++s) {
                    const MbRecord* left = e > 0 ? &r : x > 0 ? &r - 1 : nullptr;
                    const MbRecord* top = e > 0 ? &r : y > 0 ? &r - stride : nullptr;
                    const int v = expect(left, 4 * s + e, e > 0 ? 4 * s + e - 1 : 4 * s + 3, e == 0);
                    const int h = expect(top, 4 * e + s, e > 0 ? 4 * e + s - 4 : 12 + s, e == 0);
                    ASSERT_EQ(r.strengthV[e][s], v)
                        << "round " << round << " mb " << i << " edge " << e << " seg " << s;
                    ASSERT_EQ(r.strengthH[e][s], h)
                        << "round " << round << " mb " << i << " edge " << e << " seg " << s;
                    any |= v | h;
                }
            ASSERT_EQ(r.filter, any != 0 ? 1 : 0);
        }
    }
}

}  // namespace
}  // namespace ombrisk
