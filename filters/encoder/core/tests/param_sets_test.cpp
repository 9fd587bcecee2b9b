#include "filters/encoder/core/param_sets.h"

#include <array>
#include <vector>

#include <gtest/gtest.h>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/ombriskoder.h"

namespace ombrisk {
namespace {

// The filter's defaults: level automatic, GOP 30, automatic references, one B picture,
// CABAC, motion search with sub-pixel depth 2, QP 20 from quality 10, VUI on.
EncoderBlock DefaultBlock(int w = 720, int h = 576) {
    int32_t p[kParamWords];
    DefaultParameterWords(p);
    p[kParQpI] = 20;  // what the rate control derives from quality 10
    p[kParSliceCount] = 1;
    EncoderBlock b;
    EXPECT_EQ(StoreParameterRecord(&b, p, 1), kCoreOk);
    EXPECT_EQ(StorePictureRecord(&b, w, h, 4, 3, 1), kCoreOk);
    return b;
}

TEST(Level, DefaultSettingsAt720x576Give30) {
    EncoderBlock b = DefaultBlock();
    EXPECT_EQ(EstimateBitRate(b), 816480);
    EXPECT_EQ(ChooseLevel(b), 30);
    b.param(kParLevel) = 22;  // a fixed level is written unchecked
    EXPECT_EQ(ChooseLevel(b), 22);
}

TEST(Level, RuleCases) {
    struct Case {
        const char* name;
        int w, h, rate100, mode, maxRate, avgRate;
        int level;
    };
    const Case cases[] = {
        {"QCIF 15 fps", 176, 144, 1500, 2, kUnsetWord, kUnsetWord, 10},
        {"CIF 30 fps, VBR 2 Mbit/s max", 352, 288, 3000, 2, 2000000, kUnsetWord, 20},
        {"CIF 30 fps, VBR 3 Mbit/s max", 352, 288, 3000, 2, 3000000, kUnsetWord, 21},
        {"CIF 30 fps, CBR 1 Mbit/s avg", 352, 288, 3000, 3, kUnsetWord, 1000000, 20},
        {"1080p 25: frame size over 3.2", 1920, 1080, 2500, 2, 10000000, kUnsetWord, 40},
        {"1080p 60 VBR 50 Mbit/s: products pass 32 bits", 1920, 1080, 6000, 2, 50000000, kUnsetWord, 42},
        {"8192x16: 512 macroblocks wide needs MaxFS 32768", 8192, 16, 2500, 2, kUnsetWord, kUnsetWord, 51},
        {"16x4096: 256 macroblocks high needs MaxFS 8192", 16, 4096, 2500, 2, kUnsetWord, kUnsetWord, 40},
        {"rates beyond every level: the highest that holds 1080p", 1920, 1080, 12000, 2, 400000000, kUnsetWord, 51},
    };
    for (const Case& c : cases) {
        EncoderBlock b = DefaultBlock(c.w, c.h);
        b.param(kParFrameRate100) = c.rate100;
        b.param(kParRateMode) = c.mode;
        b.param(kParMaxBitRate) = c.maxRate;
        b.param(kParAvgBitRate) = c.avgRate;
        EXPECT_EQ(ChooseLevel(b), c.level) << c.name << " rate " << EstimateBitRate(b);
    }
}

// Field coding exists only at levels 2.1 to 4.1.
TEST(Level, InterlacedSourcesStayWithinLevels21To41) {
    struct Case {
        int w, h, rate100, maxRate, level;
    };
    for (const Case& c :
         {Case{176, 144, 1500, 64000, 21}, Case{720, 576, 2500, 2000000, 30}, Case{1920, 1088, 3000, 400000000, 41}}) {
        int32_t p[kParamWords];
        DefaultParameterWords(p);
        p[kParFlags] |= kFlagInterlaced;
        p[kParSliceCount] = 1;
        p[kParFrameRate100] = c.rate100;
        p[kParMaxBitRate] = c.maxRate;
        EncoderBlock b;
        ASSERT_EQ(StoreParameterRecord(&b, p, 1), kCoreOk);
        ASSERT_EQ(StorePictureRecord(&b, c.w, c.h, 4, 3, 1), kCoreOk);
        EXPECT_EQ(ChooseLevel(b), c.level) << c.w << "x" << c.h;
    }
}

// A picture no level holds is refused when its size is stored, before any picture is
// coded: 8192x8192, and 4096x2304 interlaced (beyond level 4.1, the last with fields).
TEST(Level, APictureNoLevelHoldsIsRefused) {
    for (bool interlaced : {false, true}) {
        int32_t p[kParamWords];
        DefaultParameterWords(p);
        if (interlaced) p[kParFlags] |= kFlagInterlaced;
        EncoderBlock b;
        ASSERT_EQ(StoreParameterRecord(&b, p, 1), kCoreOk);
        EXPECT_EQ(StorePictureRecord(&b, interlaced ? 4096 : 8192, interlaced ? 2304 : 8192, 4, 3, 1), kCoreBadSize);
    }
}

TEST(ProfileConstraints, ToolsTheProfileLacksAreSwitchedOffAndReported) {
    struct Case {
        int profile, cabac, bFrames;
        bool interlaced;
        uint32_t adjusted;
        int profileAfter;
    };
    for (const Case& c :
         {Case{66, 1, 1, false, kAdjustedCabacOff | kAdjustedBFramesOff, 66},
          Case{66, 0, 0, true, kAdjustedProfileToMain, 77}, Case{66, 1, 0, true, kAdjustedProfileToMain, 77},
          Case{88, 1, 2, true, kAdjustedCabacOff, 88}, Case{77, 1, 2, true, 0, 77}, Case{66, 0, 0, false, 0, 66}}) {
        int32_t p[kParamWords];
        DefaultParameterWords(p);
        p[kParProfile] = c.profile;
        p[kParCabac] = c.cabac;
        p[kParBFrames] = c.bFrames;
        if (c.interlaced) p[kParFlags] |= kFlagInterlaced;
        EncoderBlock b;
        uint32_t adjusted = 0xFFFF;
        ASSERT_EQ(StoreParameterRecord(&b, p, 1, &adjusted), kCoreOk);
        EXPECT_EQ(adjusted, c.adjusted) << c.profile;
        EXPECT_EQ(b.param(kParProfile), c.profileAfter);
        EXPECT_EQ(b.param(kParCabac), c.profileAfter == 77 ? c.cabac : 0);
        EXPECT_EQ(b.param(kParBFrames), c.profileAfter == 66 ? 0 : c.bFrames);
    }
    int32_t p[kParamWords];
    DefaultParameterWords(p);
    p[kParProfile] = 100;
    EncoderBlock b;
    EXPECT_EQ(StoreParameterRecord(&b, p, 1), kCoreUnsupported);
    EXPECT_FALSE(b.initialised());
}

TEST(Timing, NtscRatesAreWrittenExactly) {
    struct Case {
        int32_t rate100;
        uint32_t units, scale;
    };
    for (const Case& c :
         {Case{2397, 1001, 48000}, Case{2398, 1001, 48000}, Case{2997, 1001, 60000}, Case{5994, 1001, 120000},
          Case{2500, 100, 5000}, Case{3000, 100, 6000}, Case{1250, 100, 2500}}) {
        const FrameRateTicks t = TicksOfFrameRate(c.rate100);
        EXPECT_EQ(t.numUnitsInTick, c.units) << c.rate100;
        EXPECT_EQ(t.timeScale, c.scale) << c.rate100;
    }
}

TEST(Level, EstimateNeverFallsAsQpFalls) {
    EncoderBlock b = DefaultBlock();
    int64_t previous = -1;
    for (int qp = 51; qp >= 0; --qp) {
        b.param(kParQpI) = qp;
        const int64_t rate = EstimateBitRate(b);
        EXPECT_GE(rate, previous) << qp;
        previous = rate;
    }
    b.param(kParGopLength) = 0;  // a guarded divisor
    b.param(kParQpI) = 1000000;  // a bounded loop
    EXPECT_GE(EstimateBitRate(b), 0);
}

TEST(SampleAspect, AutomaticAndFixed) {
    struct Case {
        int w, h, ax, ay, idcWord, sarW, sarH;
        SampleAspect want;
    };
    const Case cases[] = {
        {720, 576, 4, 3, kAutoAspect, 0, 0, {kExtendedSar, 16, 15}},
        {720, 576, 16, 9, kAutoAspect, 0, 0, {kExtendedSar, 64, 45}},
        {640, 480, 4, 3, kAutoAspect, 0, 0, {1, 1, 1}},
        {352, 288, 4, 3, kAutoAspect, 0, 0, {2, 12, 11}},
        // The decoder shows 1080 lines, not the 1088 coded: square samples.
        {1920, 1080, 16, 9, kAutoAspect, 0, 0, {1, 1, 1}},
        {1440, 1080, 16, 9, kAutoAspect, 0, 0, {kExtendedSar, 4, 3}},
        {720, 576, 0, 3, kAutoAspect, 0, 0, {0, 0, 0}},
        {720, 576, 4, 3, 3, 0, 0, {3, 10, 11}},
        {720, 576, 4, 3, 0, 0, 0, {0, 0, 0}},
        {720, 576, 4, 3, kExtendedSar, 40, 33, {kExtendedSar, 40, 33}},
        {720, 576, 4, 3, kExtendedSar, 70000, 1, {0, 0, 0}},
        {720, 576, 4, 3, 200, 0, 0, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        EncoderBlock b = DefaultBlock();
        ASSERT_EQ(StorePictureRecord(&b, c.w, c.h, c.ax, c.ay, 1), kCoreOk);
        b.param(kParAspectIdc) = c.idcWord;
        b.param(kParSarWidth) = c.sarW;
        b.param(kParSarHeight) = c.sarH;
        const SampleAspect got = ResolveSampleAspect(b);
        EXPECT_EQ(got.idc, c.want.idc) << c.w << "x" << c.h << " " << c.ax << ":" << c.ay;
        EXPECT_EQ(got.width, c.want.width) << c.w << "x" << c.h;
        EXPECT_EQ(got.height, c.want.height) << c.w << "x" << c.h;
    }
}

TEST(PictureNumbering, FrameNumAndIdrPicIdFollowClause7_4_3) {
    // Coding order I0 P3 B1 B2 P6 B4 B5 | IDR I0 P1 with non-reference B pictures.
    struct Pic {
        bool idr, reference;
        int frameNum, idrPicId;
    };
    const Pic order[] = {{true, true, 0, 0},  {false, true, 1, 0},  {false, false, 2, 0}, {false, false, 2, 0},
                         {false, true, 2, 0}, {false, false, 3, 0}, {false, false, 3, 0}, {true, true, 0, 1},
                         {false, true, 1, 0}, {true, true, 0, 2}};
    CPictureNumbering numbering;
    for (size_t i = 0; i < std::size(order); ++i) {
        PictureHeaderInfo pic;
        pic.idr = order[i].idr;
        pic.reference = order[i].reference;
        numbering.Next(&pic);
        EXPECT_EQ(pic.frameNum, order[i].frameNum) << i;
        if (pic.idr) {
            EXPECT_EQ(pic.idrPicId, order[i].idrPicId) << i;
        }
    }
    // frame_num wraps at MaxFrameNum (256).
    CPictureNumbering wrap;
    PictureHeaderInfo pic;
    pic.idr = true;
    wrap.Next(&pic);
    pic.idr = false;
    for (int i = 1; i <= 256; ++i)
        wrap.Next(&pic);
    EXPECT_EQ(pic.frameNum, 0);
}

// Splits an Annex B buffer into NAL header bytes.
std::vector<uint8_t> NalTypes(const uint8_t* data, size_t size) {
    std::vector<uint8_t> types;
    for (size_t i = 0; i + 4 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 0 && data[i + 3] == 1) {
            types.push_back(data[i + 4]);
        }
    }
    return types;
}

TEST(ParameterSets, RepeatedEverySecondAndAtEveryIdr) {
    struct Case {
        int rate100;
        int idrEvery;
        std::vector<int> withSets;  // coding numbers 0..11 that carry SPS and PPS
    };
    const Case cases[] = {
        {400, 0, {0, 4, 8}},
        {400, 6, {0, 4, 6, 8}},
        {50, 0, {0}},  // below one frame per second: first access unit only
        {1000, 5, {0, 5, 10}},
    };
    for (const Case& c : cases) {
        EncoderBlock b = DefaultBlock(176, 144);
        b.param(kParFrameRate100) = c.rate100;
        CParameterSetWriter writer(&b);
        std::vector<int> withSets;
        for (int n = 0; n < 12; ++n) {
            PictureHeaderInfo pic;
            pic.codingNumber = n;
            pic.idr = n == 0 || (c.idrEvery && n % c.idrEvery == 0);
            pic.picStruct = n % 2 ? 0 : 1;
            ASSERT_EQ(writer.WritePictureHeaders(pic), kCoreOk);
            ASSERT_TRUE(writer.outputReady());
            const auto types = NalTypes(writer.data(), writer.size());
            // Every access unit has its picture timing SEI (pic_struct_present_flag is 1).
            ASSERT_FALSE(types.empty());
            EXPECT_EQ(types.back(), 0x06) << n;
            if (types.size() == 3) {
                EXPECT_EQ(types[0], 0x27);
                EXPECT_EQ(types[1], 0x28);
                withSets.push_back(n);
            } else {
                EXPECT_EQ(types.size(), 1u) << n;
            }
        }
        EXPECT_EQ(withSets, c.withSets) << c.rate100;
    }
}

TEST(ParameterSets, ChangedContentWaitsForTheNextIdr) {
    EncoderBlock b = DefaultBlock(176, 144);
    b.param(kParFrameRate100) = 100;  // sets due every picture
    b.param(kParVui) = 0;             // no SEI: the chunk is just SPS and PPS
    CParameterSetWriter writer(&b);
    PictureHeaderInfo pic;
    pic.idr = true;
    ASSERT_EQ(writer.WritePictureHeaders(pic), kCoreOk);
    const std::vector<uint8_t> first(writer.data(), writer.data() + writer.size());
    EXPECT_EQ(writer.level(), 10);

    b.param(kParLevel) = 31;
    pic.idr = false;
    pic.codingNumber = 1;
    ASSERT_EQ(writer.WritePictureHeaders(pic), kCoreOk);
    EXPECT_EQ(std::vector<uint8_t>(writer.data(), writer.data() + writer.size()), first);
    pic.idr = true;
    pic.codingNumber = 2;
    ASSERT_EQ(writer.WritePictureHeaders(pic), kCoreOk);
    EXPECT_NE(std::vector<uint8_t>(writer.data(), writer.data() + writer.size()), first);
    EXPECT_EQ(writer.level(), 31);
}

TEST(ParameterSets, SeiOnlyWithVuiAndPicStructOnFrames) {
    EncoderBlock b = DefaultBlock(176, 144);
    b.param(kParVui) = 0;
    CParameterSetWriter writer(&b);
    PictureHeaderInfo pic;
    pic.idr = true;
    ASSERT_EQ(writer.WritePictureHeaders(pic), kCoreOk);
    EXPECT_EQ(NalTypes(writer.data(), writer.size()), (std::vector<uint8_t>{0x27, 0x28}));
    pic.idr = false;
    pic.codingNumber = 1;
    pic.picStruct = 3;
    ASSERT_EQ(writer.WritePictureHeaders(pic), kCoreOk);
    EXPECT_TRUE(NalTypes(writer.data(), writer.size()).empty());
    EXPECT_FALSE(writer.outputReady());

    b.param(kParVui) = 1;
    std::vector<TracedNal> trace;
    writer.SetTrace(&trace);
    // (input pic_struct, written pic_struct, clock_timestamp_flag count)
    const int cases[][3] = {{0, 0, 1}, {1, 0, 1}, {2, 0, 1}, {3, 3, 2}, {5, 5, 3},
                            {7, 7, 2}, {8, 8, 3}, {9, 0, 1}, {-1, 0, 1}};
    for (const auto& c : cases) {
        trace.clear();
        pic.picStruct = c[0];
        ASSERT_EQ(writer.WritePictureHeaders(pic), kCoreOk);
        ASSERT_EQ(trace.size(), 1u);
        int clockFlags = 0;
        int64_t written = -1;
        for (const auto& f : trace[0].fields) {
            if (f.name == "pic_struct") written = f.value;
            if (f.name.rfind("clock_timestamp_flag[", 0) == 0) ++clockFlags;
            EXPECT_NE(f.name, "initial_cpb_removal_delay[0]");  // no HRD, no buffering period
        }
        EXPECT_EQ(written, c[1]) << c[0];
        EXPECT_EQ(clockFlags, c[2]) << c[0];
    }
}

TEST(Facade, SequenceHeaderAndLevel) {
    EncoderBlock b = DefaultBlock();
    COmbriskoder coder(&b);
    ASSERT_TRUE(coder.valid());
    EXPECT_EQ(b.param(kParSarWidth), 16);  // 720x576 at 4:3, settled into the block
    EXPECT_EQ(b.param(kParSarHeight), 15);
    EXPECT_EQ(b.chroma.width, 360);
    int32_t level = 0;
    coder.GetLevel(&level);
    EXPECT_EQ(level, kAutoLevel);  // nothing written yet
    uint8_t buffer[256];
    const int64_t n = coder.GetSequenceHeader(buffer, sizeof buffer);
    ASSERT_GT(n, 10);
    EXPECT_EQ(NalTypes(buffer, static_cast<size_t>(n)), (std::vector<uint8_t>{0x27, 0x28}));
    EXPECT_EQ(buffer[5], 77);  // profile_idc
    EXPECT_EQ(buffer[7], 30);  // level_idc
    coder.GetLevel(&level);
    EXPECT_EQ(level, 30);
    EXPECT_EQ(coder.GetSequenceHeader(buffer, 12), -1);  // too small: an error, not a cut
    EXPECT_EQ(coder.GetSequenceHeader(nullptr, 100), -1);

    // The picture path takes CABAC (the default): a push without a picture is refused,
    // and nothing waits to be coded.
    EXPECT_EQ(coder.PushFrame({}), kE_FAIL);
    EXPECT_EQ(coder.encodeFrame(nullptr), kS_FALSE);
    EXPECT_EQ(coder.Flush(), kS_OK);
    const uint8_t* data = buffer;
    size_t length = 5;
    bool first = true;
    EXPECT_EQ(coder.GetCodedChunk(&data, &length, &first), 0);

    EncoderBlock empty;
    COmbriskoder invalid(&empty);
    EXPECT_FALSE(invalid.valid());
    EXPECT_EQ(invalid.PushFrame({}), kE_FAIL);
    EXPECT_EQ(invalid.encodeFrame(nullptr), kE_FAIL);
    EXPECT_EQ(invalid.Flush(), kE_FAIL);
    EXPECT_EQ(invalid.GetSequenceHeader(buffer, sizeof buffer), -1);
    invalid.GetLevel(&level);
    EXPECT_EQ(level, kAutoLevel);
}

}  // namespace
}  // namespace ombrisk
