#include "common/bitstream/mpeg2_video_header.h"

#include <algorithm>
#include <bit>
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

// Where the headers of a stream begin: the sequence header, its sequence_extension, the
// first GOP header, the first picture header and the first other extension.
struct HeaderPositions {
    size_t sequence = 0, extension = 0, gop = 0, picture = 0, otherExtension = 0;
};

HeaderPositions FindHeaders(const std::vector<uint8_t>& es) {
    HeaderPositions at;
    bool sequence = false, extension = false, gop = false, picture = false, other = false;
    const uint8_t* const end = es.data() + es.size();
    for (const uint8_t* p = FindStartCode(es.data(), end); p + 5 <= end; p = FindStartCode(p + 3, end)) {
        const size_t i = static_cast<size_t>(p - es.data());
        const uint8_t code = p[3];
        if (code == kMpegSequenceHeaderCode && !sequence) sequence = true, at.sequence = i;
        if (code == kMpegGroupStartCode && !gop) gop = true, at.gop = i;
        if (code == kMpegPictureStartCode && !picture) picture = true, at.picture = i;
        if (code == kMpegExtensionStartCode && p[4] >> 4 == kMpegSequenceExtensionId && !extension)
            extension = true, at.extension = i;
        if (code == kMpegExtensionStartCode && p[4] >> 4 != kMpegSequenceExtensionId && !other)
            other = true, at.otherExtension = i;
    }
    EXPECT_TRUE(sequence && extension && gop && picture && other);
    return at;
}

// Every field the writer knows, as the reader reads it, in the order of MpegHeaderField.
std::vector<uint32_t> ReadAllFields(const std::vector<uint8_t>& es, const HeaderPositions& at) {
    const std::span<const uint8_t> all(es);
    MpegSequenceHeader s, x;
    MpegGopHeader g;
    MpegPictureHeader p;
    EXPECT_TRUE(ReadMpegSequenceHeader(all.subspan(at.sequence), &s));
    EXPECT_TRUE(ReadMpegSequenceExtension(all.subspan(at.extension), &x));
    EXPECT_TRUE(ReadMpegGopHeader(all.subspan(at.gop), &g));
    EXPECT_TRUE(ReadMpegPictureHeader(all.subspan(at.picture), &p));
    return {s.horizontalSize,
            s.verticalSize,
            s.aspectRatioInformation,
            s.frameRateCode,
            s.bitRateValue,
            s.vbvBufferSizeValue,
            s.constrainedParametersFlag,
            x.profileAndLevelIndication,
            x.progressiveSequence,
            x.chromaFormat,
            x.lowDelay,
            x.frameRateExtensionN,
            x.frameRateExtensionD,
            g.timeCode,
            g.closedGop,
            g.brokenLink,
            p.temporalReference,
            p.pictureCodingType};
}

size_t BitsThatDiffer(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i)
        n += static_cast<size_t>(std::popcount(static_cast<unsigned>(a[i] ^ b[i])));
    return n;
}

// The field writer on ffmpeg's headers, judged by the reader: each field takes its widest
// value, zero and a mixed one, and reads back with every other field as it was and no bit
// changed outside it; a value too wide, a header cut short, another header's start code
// and another extension are refused with the bytes left alone.
TEST(Mpeg2VideoHeaderTest, FieldWriterAgreesWithTheReader) {
    std::string path;
    ASSERT_TRUE(
        testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -frames:v 6 "
                                  "-c:v mpeg2video -g 12 -bf 2 -b:v 2M -f mpeg2video {out}",
                                  "m2v", &path));
    const std::vector<uint8_t> es = testsupport::ReadFileBytes(path);
    const HeaderPositions at = FindHeaders(es);
    const std::vector<uint32_t> before = ReadAllFields(es, at);
    using F = MpegHeaderField;
    const struct {
        F field;
        uint32_t widest;  // all of the field's bits set (13818-2 6.2.2.1, 6.2.2.3, 6.2.2.6, 6.2.3)
        size_t header;    // where the field's header begins
        size_t bytes;     // the header's fixed part
    } cases[] = {
        {F::kHorizontalSizeValue, 0xFFF, at.sequence, 12},
        {F::kVerticalSizeValue, 0xFFF, at.sequence, 12},
        {F::kAspectRatioInformation, 0xF, at.sequence, 12},
        {F::kFrameRateCode, 0xF, at.sequence, 12},
        {F::kBitRateValue, 0x3FFFF, at.sequence, 12},
        {F::kVbvBufferSizeValue, 0x3FF, at.sequence, 12},
        {F::kConstrainedParametersFlag, 1, at.sequence, 12},
        {F::kProfileAndLevelIndication, 0xFF, at.extension, 10},
        {F::kProgressiveSequence, 1, at.extension, 10},
        {F::kChromaFormat, 3, at.extension, 10},
        {F::kLowDelay, 1, at.extension, 10},
        {F::kFrameRateExtensionN, 3, at.extension, 10},
        {F::kFrameRateExtensionD, 0x1F, at.extension, 10},
        {F::kTimeCode, 0x1FFFFFF, at.gop, 8},
        {F::kClosedGop, 1, at.gop, 8},
        {F::kBrokenLink, 1, at.gop, 8},
        {F::kTemporalReference, 0x3FF, at.picture, 6},
        {F::kPictureCodingType, 7, at.picture, 6},
    };
    ASSERT_EQ(std::size(cases), before.size());
    for (const auto& c : cases) {
        const size_t index = static_cast<size_t>(c.field);
        SCOPED_TRACE(index);
        for (const uint32_t value : {c.widest, 0u, c.widest & 0x1555555u}) {
            std::vector<uint8_t> b = es;
            ASSERT_TRUE(WriteMpegHeaderField(std::span<uint8_t>(b).subspan(c.header), c.field, value));
            std::vector<uint32_t> expected = before;
            expected[index] = value;
            EXPECT_EQ(ReadAllFields(b, at), expected) << value;
            EXPECT_EQ(BitsThatDiffer(b, es), static_cast<size_t>(std::popcount(before[index] ^ value))) << value;
        }
        std::vector<uint8_t> b = es;
        EXPECT_FALSE(WriteMpegHeaderField(std::span<uint8_t>(b).subspan(c.header), c.field, c.widest + 1));
        for (size_t cut = 0; cut < c.bytes; ++cut)
            EXPECT_FALSE(WriteMpegHeaderField(std::span<uint8_t>(b).subspan(c.header, cut), c.field, 0)) << cut;
        // The field asked of each other header (or another extension) at its position.
        for (const size_t other : {at.sequence, at.extension, at.gop, at.picture, at.otherExtension}) {
            if (other != c.header) {
                EXPECT_FALSE(WriteMpegHeaderField(std::span<uint8_t>(b).subspan(other), c.field, 0)) << other;
            }
        }
        EXPECT_EQ(b, es);
    }
    // The frame rate and size written in place are what ffprobe sees.
    std::vector<uint8_t> b = es;
    const std::span<uint8_t> sequence = std::span<uint8_t>(b).subspan(at.sequence);
    ASSERT_TRUE(WriteMpegHeaderField(sequence, F::kFrameRateCode, 5));  // 30 frames/s
    ASSERT_TRUE(WriteMpegHeaderField(sequence, F::kHorizontalSizeValue, 320));
    const std::string edited = testsupport::FixturePath(testsupport::UniqueName("fields") + ".m2v");
    {
        std::ofstream out(edited, std::ios::binary);
        out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    std::string text;
    ASSERT_TRUE(
        testsupport::Ffprobe(edited, "-select_streams v:0 -show_entries stream=width,r_frame_rate -of csv=p=0", &text));
    const auto rows = testsupport::CsvRows(text);
    ASSERT_FALSE(rows.empty());
    ASSERT_GE(rows[0].size(), 2u);
    EXPECT_EQ(rows[0][0], "320");
    EXPECT_EQ(rows[0][1], "30/1");
}

}  // namespace
}  // namespace common
