#include "common/bitstream/h264_syntax.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/bitstream/start_code.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace common {
namespace {

TEST(H264SyntaxTest, LevelIdcNamesItsRow) {
    struct Case {
        int levelIdc;
        bool set3;
        int profile;
        bool found;
        bool oneB;
        uint32_t maxFs;
    };
    const Case cases[] = {
        {9, false, 100, true, true, 99},       {11, true, 66, true, true, 99},    {11, true, 77, true, true, 99},
        {11, true, 100, true, false, 396},     {11, false, 77, true, false, 396}, {42, false, 100, true, false, 8704},
        {62, false, 100, true, false, 139264}, {14, false, 77, false, false, 0},  {0, false, 77, false, false, 0},
    };
    for (const Case& c : cases) {
        const H264Level* level = FindH264Level(c.levelIdc, c.set3, c.profile);
        ASSERT_EQ(level != nullptr, c.found) << c.levelIdc;
        if (!level) continue;
        EXPECT_EQ(level->level1b, c.oneB) << c.levelIdc;
        EXPECT_EQ(level->maxFs, c.maxFs) << c.levelIdc;
    }
}

TEST(H264SyntaxTest, TableA2Factors) {
    const struct {
        int profile;
        int vcl, nal;
    } cases[] = {{66, 1000, 1200},  {77, 1000, 1200},  {88, 1000, 1200},  {100, 1250, 1500},
                 {110, 3000, 3600}, {122, 4000, 4800}, {244, 4000, 4800}, {44, 4000, 4800}};
    for (const auto& c : cases) {
        EXPECT_EQ(CpbBrVclFactor(c.profile), c.vcl) << c.profile;
        EXPECT_EQ(CpbBrNalFactor(c.profile), c.nal) << c.profile;
    }
}

// x264 chooses the lowest level whose Table A-1 limits the stream meets (frame size, each
// dimension, macroblock rate, DPB, VBV rate and buffer). Our choice, from the same facts,
// must agree with the level_idc it writes.
TEST(H264SyntaxTest, LevelChoiceAgreesWithX264) {
    struct Case {
        int width, height, fps, refs;
        int vbvKbps;  // maxrate and bufsize, 0 for none
        bool high;    // 8x8 transform: x264 writes High profile
    };
    const Case cases[] = {
        {176, 144, 15, 1, 0, false},        // level 1
        {176, 144, 15, 1, 100, false},      // level 1b: 64 kbit/s is too little
        {352, 288, 25, 1, 0, false},        // macroblock rate: 1.3
        {352, 288, 25, 1, 1000, false},     // bit rate: 2
        {2048, 64, 1, 1, 0, false},         // width above sqrt(8 MaxFS) until 3.1
        {64, 2048, 1, 1, 0, false},         // the same for the height
        {1280, 720, 30, 5, 0, false},       // DPB just fits 3.1
        {1280, 720, 30, 6, 0, false},       // DPB beyond 3.1 and 3.2: 4
        {1280, 720, 60, 1, 0, false},       // 3.2
        {1920, 1080, 30, 4, 25000, false},  // 25 Mbit/s: 4.1 in Main ...
        {1920, 1080, 30, 4, 25000, true},   // ... 4 in High (x 1.25)
        {1920, 1080, 50, 1, 0, true},       // 4.2
        {4096, 2304, 30, 1, 0, false},      // 5.2
    };
    for (const Case& c : cases) {
        const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
        std::string yuv, h264;
        ASSERT_TRUE(testsupport::MediaFixture(
            "ffmpeg -f lavfi -i testsrc=size=" + size + ":rate=25 -frames:v 1 -pix_fmt yuv420p -f rawvideo {out}",
            "yuv", &yuv));
        std::string x264 = "x264 --quiet --preset ultrafast --bframes 0 --ref " + std::to_string(c.refs) + " --fps " +
                           std::to_string(c.fps) + " --input-res " + size + " --frames 1";
        if (c.vbvKbps > 0) {
            const std::string k = std::to_string(c.vbvKbps);
            x264 += " --bitrate " + k + " --vbv-maxrate " + k + " --vbv-bufsize " + k;
        }
        if (c.high) x264 += " --8x8dct";
        ASSERT_TRUE(testsupport::MediaFixture(x264 + " -o {out} " + testsupport::BaseName(yuv), "264", &h264));

        const std::vector<uint8_t> stream = testsupport::ReadFileBytes(h264);
        const uint8_t* cursor = stream.data();
        const uint8_t* const end = cursor + stream.size();
        std::span<const uint8_t> sps;
        while (!(sps = NextNalUnit(&cursor, end)).empty() && NalTypeOf(sps[0]) != NalUnitType::kSps) {
        }
        ASSERT_GE(sps.size(), 4u) << "no sequence parameter set in " << x264;
        const int profile = sps[1];
        const bool set3 = (sps[2] & 0x10) != 0;
        const H264Level* written = FindH264Level(sps[3], set3, profile);
        ASSERT_NE(written, nullptr) << x264;
        EXPECT_EQ(profile == 100, c.high) << x264;

        H264LevelNeeds needs;
        needs.profileIdc = profile;
        needs.widthMbs = static_cast<uint32_t>((c.width + 15) / 16);
        needs.heightMbs = static_cast<uint32_t>((c.height + 15) / 16);
        needs.frameRateNum = static_cast<uint32_t>(c.fps);
        needs.frameRateDen = 1;
        needs.dpbFrames = static_cast<uint32_t>(c.refs);
        needs.bitRate = uint64_t(c.vbvKbps) * 1000;
        needs.cpbBits = uint64_t(c.vbvKbps) * 1000;
        const H264Level* chosen = ChooseH264Level(needs);
        ASSERT_NE(chosen, nullptr) << x264;
        EXPECT_EQ(chosen, written) << x264 << ": ours " << int(chosen->levelIdc) << (chosen->level1b ? "b" : "")
                                   << ", x264 " << int(written->levelIdc) << (written->level1b ? "b" : "");
    }
}

TEST(H264SyntaxTest, LevelChoiceEdges) {
    H264LevelNeeds n;
    n.widthMbs = 16384;  // beyond every level
    n.heightMbs = 1;
    EXPECT_EQ(ChooseH264Level(n), nullptr);
    n = {};
    n.widthMbs = 11;
    n.heightMbs = 9;
    n.bitRate = 100000;  // level 1b by rate, unless the stream cannot signal it
    EXPECT_TRUE(ChooseH264Level(n)->level1b);
    n.level1bAllowed = false;
    EXPECT_EQ(ChooseH264Level(n)->levelIdc, 11);
    n = {};
    n.widthMbs = 11;
    n.heightMbs = 9;
    n.verticalMvRange = 100;  // beyond level 1's [-64, 63.75]
    EXPECT_EQ(ChooseH264Level(n)->levelIdc, 11);
    EXPECT_FALSE(ChooseH264Level(n)->level1b);
    n.bitRate = 64000 * 6 / 5;  // NAL HRD: 1200 bit/s per unit
    n.verticalMvRange = 0;
    n.nalHrd = true;
    EXPECT_EQ(ChooseH264Level(n)->levelIdc, 10);
    n.nalHrd = false;
    EXPECT_TRUE(ChooseH264Level(n)->level1b);
}

}  // namespace
}  // namespace common
