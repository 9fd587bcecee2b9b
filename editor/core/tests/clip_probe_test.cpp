#include "editor/core/clip_probe.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "editor/core/tests/ps_fixtures.h"

namespace {

using editor::kNoTime;
using editor_test::PsCommand;
using editor_test::Ticks90kTo100ns;

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string WriteFixture(const std::string& stem, const std::vector<uint8_t>& bytes) {
    const std::string path = testsupport::FixturePath(testsupport::UniqueName(stem) + ".bin");
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

void PutLe32(std::vector<uint8_t>* v, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v->push_back(uint8_t(x >> (8 * i)));
}

// A RIFF "CDXA" file of raw Mode 2 Form 2 sectors, one per 2324 bytes of the program
// stream, as a VCD or SVCD disc image stores its track; a data sector without the
// video/audio submode bits stands first and must be skipped.
std::vector<uint8_t> CdxaWrap(const std::vector<uint8_t>& ps) {
    std::vector<uint8_t> sectors;
    auto sector = [&](const uint8_t* user, size_t n, uint8_t submode) {
        const size_t at = sectors.size();
        sectors.resize(at + editor::kSectorSize, 0);
        uint8_t* s = &sectors[at];
        for (int i = 1; i <= 10; ++i)
            s[i] = 0xFF;
        s[15] = 2;
        s[16] = s[20] = 1;
        s[18] = s[22] = submode;
        std::copy(user, user + n, s + editor::kSectorUserOffset);
    };
    const uint8_t blank[1] = {0};
    sector(blank, 1, 0x08);  // Form 1 data sector
    for (size_t at = 0; at < ps.size(); at += editor::kSectorUserSize)
        sector(&ps[at], std::min(editor::kSectorUserSize, ps.size() - at), 0x62);
    std::vector<uint8_t> riff = {'R', 'I', 'F', 'F'};
    PutLe32(&riff, uint32_t(4 + 8 + 16 + 8 + sectors.size()));
    for (char c : std::string("CDXAfmt "))
        riff.push_back(uint8_t(c));
    PutLe32(&riff, 16);
    riff.insert(riff.end(), 16, 0);
    for (char c : std::string("data"))
        riff.push_back(uint8_t(c));
    PutLe32(&riff, uint32_t(sectors.size()));
    riff.insert(riff.end(), sectors.begin(), sectors.end());
    return riff;
}

std::string Fixture(const std::string& command) {
    std::string path;
    EXPECT_TRUE(testsupport::MediaFixture(command, "mpg", &path));
    return path;
}

const char* const kPalVcd = "-target pal-vcd";
const std::string kVcd = PsCommand("352x288", "25", kPalVcd);
const std::string kSvcd = PsCommand("480x576", "25", "-target pal-svcd");

TEST(ClipProbe, FileTypes) {
    struct Case {
        std::string command;
        int type;
    } cases[] = {
        {kVcd, editor::kFileVcd},
        {PsCommand("352x240", "30000/1001", "-target ntsc-vcd"), editor::kFileVcd},
        {kSvcd, editor::kFileSvcd},
        {PsCommand("480x480", "30000/1001", "-target ntsc-svcd"), editor::kFileSvcd},
        {PsCommand("720x576", "25", "-target pal-dvd"), editor::kFileMpeg2},
        {PsCommand("720x480", "30000/1001", "-target ntsc-dvd"), editor::kFileMpeg2},
        // 720x576 in SVCD packs is not an SVCD picture size.
        {PsCommand("720x576", "25", "-target pal-svcd -s 720x576"), editor::kFileMpeg2},
        {PsCommand("320x240", "25", "-c:v mpeg1video -c:a mp2 -f mpeg"), editor::kFileMpeg1},
        {PsCommand("320x240", "25", "-c:v mpeg4 -c:a mp2 -f vob"), editor::kFileMpeg4},
        // Audio alone in 2324-byte packs is no SVCD.
        {"ffmpeg -f lavfi -i sine=sample_rate=44100 -t 2 -c:a mp2 -f svcd {out}", editor::kFileMpeg2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const std::string path = Fixture(c.command);
        EXPECT_EQ(editor::GetMpegFileType(path), c.type);
        EXPECT_EQ(editor::GetMpegFileTypeEx(path), c.type);
        EXPECT_EQ(editor::CMpeg2StreamParser().GetFileType(path), c.type);
    }

    // CDXA images: VCD packs give 3, SVCD packs 4; the data offset follows the chunks.
    for (const auto& [command, type] :
         {std::pair{kVcd, int(editor::kFileVcd)}, std::pair{kSvcd, int(editor::kFileSvcd)}}) {
        const std::string path = WriteFixture("cdxa", CdxaWrap(ReadFile(Fixture(command))));
        EXPECT_EQ(editor::DetectCdxaKind(path), type);
        EXPECT_EQ(editor::GetMpegFileType(path), type);
        int64_t offset = 0;
        ASSERT_TRUE(editor::GetCdxaDataOffset(path, &offset));
        EXPECT_EQ(offset, 44);
    }

    // A pack header at an odd offset is still found; garbage and missing files are 0.
    std::vector<uint8_t> shifted = {1, 2, 3, 4, 5, 6, 7};
    const std::vector<uint8_t> dvd = ReadFile(Fixture(PsCommand("720x576", "25", "-target pal-dvd")));
    shifted.insert(shifted.end(), dvd.begin(), dvd.end());
    EXPECT_EQ(editor::GetMpegFileType(WriteFixture("shifted", shifted)), editor::kFileMpeg2);
    std::vector<uint8_t> noise(300000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = uint8_t(i * 7919 >> 3);
    EXPECT_EQ(editor::GetMpegFileType(WriteFixture("noise", noise)), editor::kFileUnknown);
    EXPECT_EQ(editor::GetMpegFileType(testsupport::FixturePath("no-such-file.mpg")), editor::kFileUnknown);
    EXPECT_FALSE(editor::GetCdxaDataOffset(testsupport::FixturePath("no-such-file.mpg"), nullptr));
}

TEST(ClipProbe, HeaderRoutines) {
    // Sequence header 720x576, 4:3, 25 Hz, 9,800 kbit/s (value 24500), no matrices.
    uint8_t seq[16] = {0, 0, 1, 0xB3, 0x2D, 0x02, 0x40, 0x23, 0x17, 0xED, 0x3F, 0xFC, 0, 0, 1, 0xB5};
    int64_t d = -5, rate = -5;
    ASSERT_TRUE(editor::FrameDurationFromSequenceHeader(seq, 13, &d));
    EXPECT_EQ(d, 400000);
    ASSERT_TRUE(editor::BitRateFromSequenceHeader(seq, 12, &rate));
    EXPECT_EQ(rate, 24500 * 50 + 50 * ((0x3F >> 6) & 3));
    EXPECT_EQ(editor::SequenceHeaderLength(seq, 16), 12u);
    EXPECT_FALSE(editor::FrameDurationFromSequenceHeader(seq, 12, &d));  // too few bytes
    seq[3] = 0xB5;
    EXPECT_FALSE(editor::BitRateFromSequenceHeader(seq, 16, &rate));
    seq[3] = 0xB3;
    const struct {
        int code;
        int64_t duration;
    } rates[] = {{1, 417083}, {2, 416666}, {3, 400000}, {4, 333666}, {5, 333333},
                 {6, 200000}, {7, 166833}, {8, 166666}, {0, 333666}, {15, 333666}};
    for (const auto& r : rates) {
        seq[7] = uint8_t(0x20 | r.code);
        ASSERT_TRUE(editor::FrameDurationFromSequenceHeader(seq, 13, &d));
        EXPECT_EQ(d, r.duration) << r.code;
    }
    EXPECT_EQ(editor::FrameRateFromCode(0), 0.0);
    EXPECT_DOUBLE_EQ(editor::FrameRateFromCode(4), 30000.0 / 1001.0);

    // Intra matrix loaded: 76 bytes; both: 140.
    std::vector<uint8_t> big(150, 0);
    std::copy(seq, seq + 12, big.begin());
    big[11] = 0x02;
    EXPECT_EQ(editor::SequenceHeaderLength(big.data(), big.size()), 76u);
    big[75] = 0x01;
    EXPECT_EQ(editor::SequenceHeaderLength(big.data(), big.size()), 140u);

    // Progressive flag cleared in the sequence extension after the header.
    uint8_t ext[28] = {0, 0,    1,    0xB3, 0x2D, 0x02, 0x40, 0x23, 0x17, 0xED, 0x3F, 0xFC, 0, 0,
                       1, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00, 0,    0,    0,    0,    0, 0};
    ASSERT_TRUE(editor::ClearProgressiveSequence(ext, sizeof ext));
    EXPECT_EQ(ext[17], 0x82);
    // Only a sequence_extension right after the header is touched: another extension
    // there, or one behind a GOP header (an MPEG-1 sequence), is left as it was.
    uint8_t other[28];
    std::memcpy(other, ext, sizeof other);
    other[17] = 0x8A;
    other[16] = 0x84;  // extension_start_code_identifier 8
    EXPECT_FALSE(editor::ClearProgressiveSequence(other, sizeof other));
    other[16] = 0x14;
    other[15] = 0xB8;
    const uint8_t later[6] = {0, 0, 1, 0xB5, 0x14, 0x8A};  // the extension behind the GOP header
    std::memcpy(other + 20, later, sizeof later);
    EXPECT_FALSE(editor::ClearProgressiveSequence(other, sizeof other));
    EXPECT_EQ(other[17], 0x8A);
    EXPECT_EQ(other[25], 0x8A);

    uint8_t gop[8] = {0, 0, 1, 0xB8, 0, 0, 0, 0x40};
    bool closed = false, broken = true;
    ASSERT_TRUE(editor::ReadGopFlags(gop, 8, &closed, &broken));
    EXPECT_TRUE(closed);
    EXPECT_FALSE(broken);

    uint8_t buf[16] = {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x0A, 0x97, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(editor::FindPictureStartCode(buf, sizeof buf), 7);
    int tr = 0;
    ASSERT_TRUE(editor::ReadTemporalReference(buf + 7, 8, &tr));
    EXPECT_EQ(tr, (0x0A << 2) | (0x97 >> 6));
    ASSERT_TRUE(editor::WriteTemporalReference(buf + 7, 8, 1023));
    ASSERT_TRUE(editor::ReadTemporalReference(buf + 7, 8, &tr));
    EXPECT_EQ(tr, 1023);
    EXPECT_EQ(editor::ReadPictureCodingType(buf + 7, 8), (0x97 >> 3) & 7);
    EXPECT_EQ(editor::ReadPictureCodingType(buf + 7, 5), 0);
    EXPECT_EQ(buf[12] & 0x3F, 0x97 & 0x3F);
    EXPECT_EQ(editor::FindPictureStartCode(buf, 10), -1);

    // MPEG audio: lengths with padding, durations by layer and version.
    EXPECT_EQ(editor::MpegAudioFrameLength(0x0CB4FDFFu), 672);   // 48 kHz 224 kbit/s Layer II
    EXPECT_EQ(editor::MpegAudioFrameLength(0x0CE4FDFFu), 1152);  // 384 kbit/s
    EXPECT_EQ(editor::MpegAudioFrameLength(0x0CB2FDFFu), 732);   // 44.1 kHz, padded
    EXPECT_EQ(editor::MpegAudioFrameLength(0x0CB4F9FFu), 0);     // reserved layer
    EXPECT_EQ(editor::MpegAudioFrameLength(0x0CB4FD7Fu), 0);     // no sync
    EXPECT_EQ(editor::MpegAudioVersionBits(0x0CB4FDFFu), 3);
    const struct {
        uint8_t b1, b2;
        int64_t duration;
    } audio[] = {{0xFD, 0x94, 240000}, {0xFF, 0x94, 80000},  {0xFB, 0x90, 261224},
                 {0xF3, 0x94, 240000}, {0xE3, 0x94, 480000}, {0xF5, 0x94, 480000}};
    for (const auto& a : audio) {
        const uint8_t h[4] = {0xFF, a.b1, a.b2, 0xC0};
        ASSERT_TRUE(editor::MpegAudioFrameDuration(h, 4, &d)) << std::hex << int(a.b1);
        EXPECT_EQ(d, a.duration) << std::hex << int(a.b1);
    }
    // AC-3: 1536 samples at the frame's own rate; frmsizecod 38 is refused.
    uint8_t ac3[6] = {0x0B, 0x77, 0, 0, 0x40 | 28, 0};
    int bytes = 0;
    ASSERT_TRUE(editor::Ac3FrameInfo(ac3, 6, &d, &bytes));
    EXPECT_EQ(d, 348299);  // 44.1 kHz, 384 kbit/s: 835 words
    EXPECT_EQ(bytes, 1670);
    ac3[4] = 38;
    d = -7;
    EXPECT_FALSE(editor::Ac3FrameInfo(ac3, 6, &d, &bytes));
    EXPECT_EQ(d, -7);

    uint8_t dst[8] = {};
    const uint8_t src[4] = {1, 2, 3, 4};
    EXPECT_TRUE(editor::CopyIntoBuffer(dst, 8, 3, src, 4));
    EXPECT_FALSE(editor::CopyIntoBuffer(dst, 8, 4, src, 4));
    EXPECT_FALSE(editor::CopyIntoBuffer(dst, 8, 9, src, 0));
}

// Packet ends (pts + duration) in 100 ns: the judge's end of a stream.
int64_t ProbeEnd(const std::vector<editor_test::ProbePacket>& packets) {
    int64_t end = 0;
    for (const auto& p : packets)
        if (p.hasPts) end = std::max(end, Ticks90kTo100ns(p.pts + p.duration));
    return end;
}

int64_t ProbeStart(const std::string& path, const std::string& kind) {
    return std::llround(std::atof(editor_test::ProbeStreamValue(path, kind, "start_time").c_str()) * 1e7);
}

const std::string kShortVideo =
    "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25:duration=5 -f lavfi -i "
    "sine=frequency=440:sample_rate=48000:duration=20 -target pal-dvd ";

struct StartCase {
    const char* name;
    std::string command;
    bool mpeg1;
    int64_t frame;
    int64_t audioFrame;
};

void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.name;
}

class ClipScan : public ::testing::TestWithParam<StartCase> {};

TEST_P(ClipScan, StartAndEndMatchFfprobe) {
    const StartCase& c = GetParam();
    const std::string plain = Fixture(c.command);
    std::vector<std::pair<std::string, int64_t>> forms = {{plain, 0}};
    if (std::string(c.name).find("cd") != std::string::npos)
        forms.push_back({WriteFixture("cdxa", CdxaWrap(ReadFile(plain))), 44});
    for (const auto& [path, offset] : forms) {
        SCOPED_TRACE(path);
        editor::ClipStart start;
        ASSERT_TRUE(editor::ScanClipStart(c.mpeg1, path, offset != 0, offset, &start));
        EXPECT_EQ(start.frameDuration, c.frame);
        EXPECT_EQ(start.audioFrameDuration, c.audioFrame);
        EXPECT_EQ(start.videoStream, 0);
        EXPECT_GT(start.videoByteRate, 0);
        EXPECT_NEAR(double(start.firstVideoTime), double(ProbeStart(plain, "v")), 10.0);
        EXPECT_NEAR(double(start.firstAudioTime), double(ProbeStart(plain, "a")), 10.0);

        editor::ClipEnd end;
        ASSERT_TRUE(editor::ScanClipEnd(c.mpeg1, path, start, offset != 0, offset, &end));
        EXPECT_NEAR(double(end.videoEnd), double(ProbeEnd(editor_test::ProbePackets(plain, "v"))), double(c.frame));
        EXPECT_NEAR(double(end.audioEnd), double(ProbeEnd(editor_test::ProbePackets(plain, "a"))),
                    double(c.audioFrame));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ClipScan,
    ::testing::Values(
        StartCase{"PalVcd", kVcd, true, 400000, 261224},
        StartCase{"NtscSvcd", PsCommand("480x480", "30000/1001", "-target ntsc-svcd"), false, 333666, 261224},
        StartCase{"PalDvdAc3", PsCommand("720x576", "25", "-target pal-dvd"), false, 400000, 320000},
        StartCase{"PalDvdMp2", PsCommand("720x576", "25", "-target pal-dvd -c:a mp2 -b:a 224k"), false, 400000, 240000},
        StartCase{"NtscDvdLpcm", PsCommand("720x480", "30000/1001", "-target ntsc-dvd -c:a pcm_s16be"), false, 333666,
                  16666},
        // 5 s of video and 20 s of audio: the end of the video is found only by passes
        // further back, which must not disturb the audio end found first.
        StartCase{"ShortVideoMp2", kShortVideo + "-c:a mp2 -b:a 224k {out}", false, 400000, 240000},
        StartCase{"ShortVideoAc3", kShortVideo + "{out}", false, 400000, 320000}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

// Time searches land on the start of a GOP: mode 0 on the first at or after the target,
// mode 1 on the last before it.
TEST(ClipProbe, TimeSearchLandsOnGopStart) {
    const std::string path = Fixture(
        "ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 -t 8 "
        "-target pal-dvd {out}");
    const std::string keysText =
        editor_test::Ffprobe(path, "-select_streams v:0 -skip_frame nokey -show_entries frame=pts -of csv=p=0");
    std::vector<int64_t> keys;
    std::istringstream lines(keysText);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty() && line != "N/A") keys.push_back(Ticks90kTo100ns(std::stoll(line)));
    ASSERT_GE(keys.size(), 5u);
    std::sort(keys.begin(), keys.end());
    editor::ClipStart start;
    ASSERT_TRUE(editor::ScanClipStart(false, path, false, 0, &start));
    const int64_t origin = std::min(start.firstVideoTime, start.firstAudioTime);
    for (int64_t target : {int64_t(5000000), int64_t(13000000), int64_t(31000000), int64_t(50000000)}) {
        SCOPED_TRACE(target);
        const int64_t at = origin + target;
        const int64_t after = *std::lower_bound(keys.begin(), keys.end(), at);
        const int64_t before = *(std::lower_bound(keys.begin(), keys.end(), at) - 1);
        EXPECT_NEAR(double(editor::FindVideoTimeInFile(path, editor::kFileMpeg2, target, 0, false, 0) + origin),
                    double(after), 2.0);
        EXPECT_NEAR(double(editor::FindVideoTimeInFile(path, editor::kFileMpeg2, target, 1, false, 0) + origin),
                    double(before), 2.0);
        // A known duration skips measuring the end, with the same answer.
        EXPECT_NEAR(double(editor::FindVideoTimeInFile(path, editor::kFileMpeg2, target, 0, false, 80000000) + origin),
                    double(after), 2.0);
    }
    // Audio: the frame that holds the target (an AC-3 frame lasts 32 ms), also when it
    // is not the first frame of its packet.
    for (int64_t target : {int64_t(20000000), int64_t(20000000 + 500000), int64_t(31234567)}) {
        const int64_t a = editor::FindAudioTimeInFile(path, editor::kFileMpeg2, target, 0, false, 0);
        EXPECT_LE(a, target);
        EXPECT_GT(a + 320000, target);
    }
}

// A clip whose end cannot be measured has no byte rate: the searches answer 0 instead of
// dividing by a zero or negative span.
TEST(ClipProbe, SearchWithoutMeasurableSpanFailsCleanly) {
    const std::vector<uint8_t> dvd = ReadFile(Fixture(PsCommand("720x576", "25", "-target pal-dvd")));
    const std::vector<uint8_t> head(dvd.begin(), dvd.begin() + 2048);  // one pack, no picture
    const std::string path = WriteFixture("head", head);
    EXPECT_EQ(editor::FindVideoTimeInFile(path, editor::kFileMpeg2, 10000000, 0, false, 0), 0);
    EXPECT_EQ(editor::FindAudioTimeInFile(path, editor::kFileMpeg2, 10000000, 1, false, 0), 0);
    EXPECT_EQ(editor::FindVideoTimeInFile(path, editor::kFileMpeg2, 10000000, 0, false, -5), 0);
    EXPECT_EQ(editor::FindVideoTimeInFile(testsupport::FixturePath("missing.mpg"), 2, 0, 0, false, 0), 0);
    // Targets far outside a real clip stay bounded: nothing lies beyond the end.
    const std::string clip = Fixture(PsCommand("720x576", "25", "-target pal-dvd"));
    EXPECT_EQ(editor::FindVideoTimeInFile(clip, editor::kFileMpeg2, INT64_MAX / 2, 0, false, 1), 0);
    EXPECT_GE(editor::FindVideoTimeInFile(clip, editor::kFileMpeg2, INT64_MIN, 0, false, 0), 0);
    // Mode 1 beyond the end answers the last GOP start.
    EXPECT_GT(editor::FindVideoTimeInFile(clip, editor::kFileMpeg2, INT64_MAX, 1, false, INT64_MAX), 10000000);
    editor::ClipStart start;
    EXPECT_FALSE(editor::ScanClipStart(false, testsupport::FixturePath("missing.mpg"), false, 0, &start));
}

}  // namespace
