#include "common/bitstream/mpeg2_video_header.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/bitstream/bit_writer.h"
#include "common/bitstream/start_code.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace common {
namespace {

// The streams ffmpeg writes, with what its command line asked for.
TEST(Mpeg2VideoHeaderTest, ReadsWhatFfmpegWrote) {
    std::string intra = "8", nonIntra = "20";
    for (int i = 1; i < 64; ++i) {
        intra += ",16";
        nonIntra += ",20";
    }
    struct Case {
        std::string args;
        bool mpeg2;
        uint32_t width, height;
        uint8_t rateCode;
        uint32_t bitRateValue, vbvValue;
        bool matrices;
        size_t headerBytes;
    };
    const Case cases[] = {
        {"testsrc=size=720x576:rate=25 -frames:v 3 -c:v mpeg2video -b:v 4M -maxrate 4M -minrate 4M -bufsize 1835008 "
         "-f mpeg2video",
         true, 720, 576, 3, 10000, 112, false, 12},
        {"testsrc=size=352x240:rate=30000/1001 -frames:v 3 -c:v mpeg1video -b:v 1150k -maxrate 1150k -minrate 1150k "
         "-bufsize 327680 -f mpeg1video",
         false, 352, 240, 4, 2875, 20, false, 12},
        {"testsrc=size=1920x1080:rate=50 -frames:v 2 -c:v mpeg2video -b:v 20M -maxrate 20M -bufsize 9781248 "
         "-intra_matrix " +
             intra + " -inter_matrix " + nonIntra + " -f mpeg2video",
         true, 1920, 1080, 6, 50000, 597, true, 140},
    };
    for (const Case& c : cases) {
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture("ffmpeg -f lavfi -i " + c.args + " {out}", "m2v", &path));
        const std::vector<uint8_t> es = testsupport::ReadFileBytes(path);
        MpegSequenceHeader h;
        ASSERT_TRUE(ReadMpegVideoSequence(es, &h)) << c.args;
        EXPECT_EQ(h.horizontalSize, c.width);
        EXPECT_EQ(h.verticalSize, c.height);
        EXPECT_EQ(h.frameRateCode, c.rateCode);
        EXPECT_EQ(h.bitRateValue, c.bitRateValue);
        EXPECT_EQ(h.vbvBufferSizeValue, c.vbvValue);
        EXPECT_TRUE(h.markerBit);
        EXPECT_EQ(h.hasExtension, c.mpeg2);
        EXPECT_EQ(h.headerBytes, c.headerBytes);
        EXPECT_EQ(h.loadIntraQuantiserMatrix, c.matrices);
        EXPECT_EQ(h.loadNonIntraQuantiserMatrix, c.matrices);
        if (c.matrices) {
            EXPECT_EQ(h.intraQuantiserMatrix[0], 8);
            EXPECT_EQ(h.intraQuantiserMatrix[63], 16);
            for (uint8_t q : h.nonIntraQuantiserMatrix)
                EXPECT_EQ(q, 20);
        }
        if (c.mpeg2) {
            EXPECT_EQ(h.chromaFormat, 1);
            EXPECT_TRUE(h.progressiveSequence);
        }
        // Every shorter cut is refused, or reads the same header without the extension it
        // cuts off.
        for (size_t cut = 0; cut < h.headerBytes + kMpegSequenceExtensionBytes + 8 && cut < es.size(); ++cut) {
            const std::vector<uint8_t> part(es.begin(), es.begin() + static_cast<ptrdiff_t>(cut));
            MpegSequenceHeader p;
            p.horizontalSize = 0xDEAD;
            if (!ReadMpegVideoSequence(part, &p)) {
                EXPECT_LT(cut, h.headerBytes);
                EXPECT_EQ(p.horizontalSize, 0xDEADu) << "written on failure";
                continue;
            }
            EXPECT_GE(cut, h.headerBytes);
            EXPECT_EQ(p.headerBytes, h.headerBytes);
            EXPECT_EQ(p.bitRateValue, h.bitRateValue);
            if (p.hasExtension) {
                EXPECT_EQ(p.horizontalSize, h.horizontalSize);
                EXPECT_EQ(p.profileAndLevelIndication, h.profileAndLevelIndication);
            }
        }
    }
}

TEST(Mpeg2VideoHeaderTest, ExtensionWidensTheFields) {
    std::vector<uint8_t> b(64);
    BitWriter w(b.data(), b.size());
    const uint8_t sequence[] = {0, 0, 1, kMpegSequenceHeaderCode};
    w.PutBytes(sequence, 4);
    w.PutBits(12, 0x100);  // horizontal_size_value
    w.PutBits(12, 0x0F0);
    w.PutBits(4, 2);  // aspect_ratio_information
    w.PutBits(4, 5);  // frame_rate_code 30
    w.PutBits(18, 0x3FFFF);
    w.PutBits(1, 1);
    w.PutBits(10, 0x3FF);
    w.PutBits(3, 0);  // constrained_parameters_flag, no matrices
    w.PutBits(8, 0);  // a zero byte of stuffing before the next start code
    w.PutBits(24, 0x000001);
    w.PutBits(8, kMpegExtensionStartCode);
    w.PutBits(4, kMpegSequenceExtensionId);
    w.PutBits(8, 0x44);  // High Profile, High Level
    w.PutBits(1, 0);     // progressive_sequence
    w.PutBits(2, 2);     // 4:2:2
    w.PutBits(2, 1);     // horizontal_size_extension
    w.PutBits(2, 3);
    w.PutBits(12, 0x001);  // bit_rate_extension
    w.PutBits(1, 1);
    w.PutBits(8, 0x02);  // vbv_buffer_size_extension
    w.PutBits(1, 1);     // low_delay
    w.PutBits(2, 1);     // frame_rate_extension_n
    w.PutBits(5, 1);     // frame_rate_extension_d
    w.Flush();
    MpegSequenceHeader h;
    ASSERT_TRUE(ReadMpegVideoSequence(std::span<const uint8_t>(b.data(), w.ByteCount()), &h));
    EXPECT_TRUE(h.hasExtension);
    EXPECT_EQ(h.horizontalSize, 0x1100u);
    EXPECT_EQ(h.verticalSize, 0x30F0u);
    EXPECT_EQ(h.bitRateValue, (1u << 18) | 0x3FFFF);
    EXPECT_EQ(h.BitRate(), uint64_t((1u << 18) | 0x3FFFF) * 400);
    EXPECT_EQ(h.vbvBufferSizeValue, (2u << 10) | 0x3FF);
    EXPECT_EQ(h.chromaFormat, 2);
    EXPECT_FALSE(h.progressiveSequence);
    EXPECT_TRUE(h.lowDelay);
    uint32_t num = 0, den = 0;
    ASSERT_TRUE(h.FrameRate(&num, &den));
    EXPECT_EQ(num * 1u, 60u);  // 30 x (1 + 1) / (1 + 1)
    EXPECT_EQ(den, 2u);
    // Not a sequence header, or another extension: refused / not taken.
    EXPECT_FALSE(ReadMpegSequenceHeader(std::span<const uint8_t>(b.data() + 1, 20), &h));
    b[w.ByteCount() - 6] = 0x24;  // extension_start_code_identifier 2: sequence display
    MpegSequenceHeader other;
    ASSERT_TRUE(ReadMpegVideoSequence(std::span<const uint8_t>(b.data(), w.ByteCount()), &other));
    EXPECT_FALSE(other.hasExtension);
    EXPECT_EQ(other.horizontalSize, 0x100u);
}

TEST(Mpeg2VideoHeaderTest, FrameRateCodes) {
    const struct {
        int code;
        bool ok;
        uint32_t num, den;
    } cases[] = {{0, false, 0, 0}, {1, true, 24000, 1001}, {4, true, 30000, 1001}, {8, true, 60, 1}, {9, false, 0, 0}};
    for (const auto& c : cases) {
        uint32_t num = 0, den = 0;
        EXPECT_EQ(MpegFrameRate(c.code, &num, &den), c.ok) << c.code;
        if (c.ok) {
            EXPECT_EQ(num, c.num);
            EXPECT_EQ(den, c.den);
        }
    }
}

// The GOP and picture headers of ffmpeg streams with B pictures, in open or closed GOPs:
// the coding types put in display order by GOP and temporal_reference are the picture
// types ffprobe shows, every GOP after the first is open unless closed GOPs were asked for,
// and a header cut short is refused without writing its output.
TEST(Mpeg2VideoHeaderTest, GopAndPictureHeadersAsFfprobeSeesThem) {
    for (const bool closed : {false, true}) {
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(
            std::string("ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -frames:v 30 "
                        "-c:v mpeg2video -g 12 -bf 2 ") +
                (closed ? "-flags +cgop -sc_threshold 1000000000 " : "") + "-f mpeg2video {out}",
            "m2v", &path));
        const std::vector<uint8_t> es = testsupport::ReadFileBytes(path);
        std::vector<std::pair<int, int>> order;  // (GOP, temporal_reference) of each picture
        std::vector<char> types;
        int gops = 0, openGops = 0;
        const uint8_t* const end = es.data() + es.size();
        for (const uint8_t* p = FindStartCode(es.data(), end); p != end; p = FindStartCode(p + 3, end)) {
            const std::span<const uint8_t> rest(p, static_cast<size_t>(end - p));
            MpegGopHeader g;
            if (ReadMpegGopHeader(rest, &g)) {
                if (gops++ > 0 && !g.closedGop) ++openGops;
                EXPECT_FALSE(g.brokenLink);
            }
            MpegPictureHeader h;
            if (ReadMpegPictureHeader(rest, &h)) {
                order.push_back({gops, h.temporalReference});
                types.push_back(" IPB"[h.pictureCodingType & 3]);
            }
        }
        ASSERT_EQ(types.size(), 30u);
        std::vector<size_t> display(types.size());
        for (size_t i = 0; i < display.size(); ++i)
            display[i] = i;
        std::sort(display.begin(), display.end(), [&](size_t a, size_t b) { return order[a] < order[b]; });
        std::string ours;
        for (size_t i : display)
            ours += types[i];
        std::string text;
        ASSERT_TRUE(testsupport::Ffprobe(path, "-show_entries frame=pict_type -of csv=p=0", &text));
        std::string theirs;
        for (const auto& row : testsupport::CsvRows(text))
            theirs += row.empty() ? '?' : row[0][0];
        EXPECT_EQ(ours, theirs);
        EXPECT_EQ(gops, 3);
        EXPECT_EQ(openGops, closed ? 0 : 2);
    }
    const uint8_t picture[6] = {0x00, 0x00, 0x01, 0x00, 0x02, 0x5F};
    MpegPictureHeader h;
    ASSERT_TRUE(ReadMpegPictureHeader(picture, &h));
    EXPECT_EQ(h.temporalReference, 9);
    EXPECT_EQ(h.pictureCodingType, 3);
    for (size_t cut = 0; cut < sizeof picture; ++cut) {
        MpegPictureHeader p;
        p.temporalReference = 777;
        EXPECT_FALSE(ReadMpegPictureHeader(std::span<const uint8_t>(picture, cut), &p));
        EXPECT_EQ(p.temporalReference, 777);
        MpegGopHeader g;
        EXPECT_FALSE(ReadMpegGopHeader(std::span<const uint8_t>(picture, cut), &g));
    }
}

}  // namespace
}  // namespace common
