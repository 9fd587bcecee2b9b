// Write-then-read round trips of every class against golden file texts, and the reader's
// handling of older, damaged and hostile files.
#include "app/profiles/profile_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "app/profiles/profile_manager.h"
#include "app/profiles/tests/profile_test_support.h"

namespace profiles {
namespace {

ProfileRecord Blank() {
    ProfileRecord r;
    std::memset(&r, 0, sizeof r);
    return r;
}

// A user profile head as the reader returns it: Attribute with the page bits, the output
// file name a single blank, no further string ids.
ProfileRecord UserHead(const char* className, int32_t cls, const char* name, const char* description) {
    ProfileRecord r = Blank();
    std::strcpy(r.head.className, className);
    std::strcpy(r.head.name, name);
    std::strcpy(r.head.description, description);
    std::strcpy(r.head.outputFileName, " ");
    r.head.descId = 11;
    r.head.nameId = 22;
    r.head.group = kGroupUser;
    r.head.videoFormatClass = cls;
    r.head.streamFlag = 3;
    r.head.fieldOrder = 1;
    r.head.attribute = 0xC3;
    return r;
}

std::string GoldenHead(const char* className, int cls, const char* name, const char* descriptionLines) {
    return std::string("\n&\n<Class>") + className + "\n<Name>" + name + "\n<Description>\n" + descriptionLines +
           "<Output FileName> \n<DescID>11\n<NameID>22\n<Group>2\n<Video Format Class>" + std::to_string(cls) +
           "\n<Stream Flag>3\n<Field Order>1\n<Attribute>c3\n";
}

ProfileRecord DvdSample() {
    ProfileRecord r = Blank();
    AllocMpegParams(r);
    r.head = UserHead("DVD", kClassDvd, "My DVD", "first line\nsecond line").head;
    auto set = [&](uint32_t id, int32_t v) { FindMpegParam(r.block.mpeg, id)->value.i = v; };
    set(kParamVideoBitRate, 8000000);
    set(kParamMinBitRate, 4000000);
    set(kParamMaxBitRate, 8300000);
    set(kParamWidth, 720);
    set(kParamHeight, 480);
    FindMpegParam(r.block.mpeg, kParamFrameRate)->value.f = 29.97f;
    std::strcpy(FindMpegParam(r.block.mpeg, kParamPattern)->value.text, "IBBPBBPBBPBBPBBP");
    set(kParamPreProcessing, 2);
    set(kParamResize, 1);
    set(kParamSpeedQuality, 3);
    set(kParamInterlacing, 1);
    set(kParamFieldOrderCode, 6);
    set(kParamActiveEncoder, 2);
    set(kParamAppType, 0);
    set(kParamDynamicGop, 1);
    ProfileAudioFormat& a = r.block.mpeg.streams[0].audio;
    a = {2, 2, 2, 1, 1, 0, 2048, 2, 0, 0, {}};
    return r;
}

const char kDvdLines[] =
    "<Video BitRate>8000000\n<Min BitRate>4000000\n<Max BitRate>8300000\n<Video Quality>0\n"
    "<Video Width>720\n<Video Height>480\n<Frame Rate>29.969999\n<Pattern>IBBPBBPBBPBBPBBP\n"
    "<Pre Processing>2\n<Resize>1\n<Flip Video>0\n<Speed Quality Indicator>3\n<Interlacing>1\n"
    "<Active Encoder>2\n<App Type>0\n<Dynamic GOP>1\n<Encoder Type>2\n<Audio Layer>2\n"
    "<Audio Mode>2\n<Audio BitRate>224000\n<Audio Channels>2\n<Audio SamplesPerSec>1\n"
    "<Audio BitsPerSample>1\n<Misc>0\n<SamplesPerFrame>0\n&&\n";

struct Sample {
    const char* what;
    std::function<ProfileRecord()> make;
    std::string golden;
};

std::vector<Sample> Samples() {
    std::vector<Sample> s;
    s.push_back({"dvd", DvdSample, GoldenHead("DVD", 7, "My DVD", "first line\nsecond line\n") + kDvdLines});
    s.push_back({"avi",
                 [] {
                     ProfileRecord r = UserHead("AVI", kClassAvi, "Clip", "");
                     AviBlock& a = r.block.avi;
                     std::strcpy(a.videoCompressor, "DivX");
                     std::strcpy(a.audioCompressor, "PCM");
                     a.keyFrameRate = 15;
                     a.framesPerSecond = 25;
                     a.quality = 0.5;
                     a.bitRate = 230000;
                     a.width = 352;
                     a.height = 288;
                     a.colorBits = 24;
                     a.wave = {1, 2, 48000, 192000, 4, 16, 0, 0};
                     a.hasWave = 1;
                     return r;
                 },
                 GoldenHead("AVI", 1, "Clip", "") +
                     "<Video Compressor Filter>DivX\n<Audio Compressor Filter>PCM\n<Key Frame Rate>15\n"
                     "<Frame Per Second>25.000000\n<Quality>0.500000\n<Bit Rate>230000\n<Width>352\n"
                     "<Height>288\n<Color Bits>24\n<Format Tag>1\n<Channels>2\n<Samples Per Second>48000\n"
                     "<AvgBytes Per Second>192000\n<Block Align>4\n<Bits Per Sample>16\n<cbSize>0\n&&\n"});
    s.push_back({"dv",
                 [] {
                     ProfileRecord r = UserHead("DV", kClassDv, "Tape", "d");
                     r.block.dv = {2001, 48000, 2, 2};
                     return r;
                 },
                 GoldenHead("DV", 2, "Tape", "d\n") +
                     "<VideoFormat>2001\n<AudioFormat>48000\n<Channel>2\n<FileFormat>2\n&&\n"});
    s.push_back({"stream info",
                 [] {
                     ProfileRecord r = UserHead("WM", kClassStreamInfo, "Stream", "");
                     std::strcpy(r.block.streamInfo.text, "<profile a=\"1\">\r\n &amp; more</profile>");
                     return r;
                 },
                 GoldenHead("WM", 8, "Stream", "") +
                     "<Stream Info>&lt;profile a=\"1\">&#13;&#10; &amp;amp; more&lt;/profile>\n&&\n"});
    s.push_back({"real",
                 [] {
                     ProfileRecord r = UserHead("Real", kClassReal, "R", "");
                     RealBlock& b = r.block.real;
                     b.width = 320;
                     b.height = 240;
                     b.audioFormat = 3;
                     b.videoQuality = 0;
                     b.targetAudience = 0x40;
                     return r;
                 },
                 GoldenHead("Real", 9, "R", "") +
                     "<Video Width>320\n<Video Height>240\n<Audio Format>3\n<Video Quality>0\n"
                     "<Target Audience>64\n&&\n"});
    s.push_back({"quicktime",
                 [] {
                     ProfileRecord r = UserHead("QuickTime", kClassQuickTime, "Q", "");
                     r.block.quickTime = {160, 120, 1, 20, 0x72707A61, 0x200};
                     return r;
                 },
                 GoldenHead("QuickTime", 10, "Q", "") +
                     "<Video Width>160\n<Video Height>120\n<Compressor Component>1\n<KeyFrame Rate>20\n"
                     "<Video Type>1919973985\n<Video Quality>512\n&&\n"});
    s.push_back({"head only", [] { return UserHead("", kClassHeadOnly, "Head", ""); },
                 GoldenHead("", 11, "Head", "") + "&&\n"});
    s.push_back({"h264",
                 [] {
                     ProfileRecord r = UserHead("H264", kClassH264, "Avc", "");
                     H264Block& h = r.block.h264;
                     h = {720, 480, 29.97f, 30, 1, 1, 3000000, 3000000, 10, 1, 64, 64, 2, 0, 0, 1, 1, 1, 0, 1, {}};
                     AllocH264Params(r);
                     h.streams[0].audio = {2, 2, 2, 1, 1, 0, 2048, 2, 0, 0, {}};
                     return r;
                 },
                 GoldenHead("H264", 12, "Avc", "") +
                     "<Video Width>720\n<Video Height>480\n<Frame Rate>29.969999\n<GOPLength>30\n"
                     "<BFrames>1\n<Rate Control Mode>1\n<Video BitRate>3000000\n<Max BitRate>3000000\n"
                     "<CBR Quality>10\n<Use Motion Estimation>1\n<Search WRange>64\n<Search HRange>64\n"
                     "<SubPixel Accuracy>2\n<Enable Partition>0\n<Distortion Opt>0\n<Entropy Coding>1\n"
                     "<Deblock>1\n<SBDMode>1\n<KeepOrgSize>1\n<Encoder Type>2\n<Audio Layer>2\n"
                     "<Audio Mode>2\n<Audio BitRate>2048\n<Audio Channels>2\n<Audio SamplesPerSec>1\n"
                     "<Audio BitsPerSample>1\n<Misc>0\n<SamplesPerFrame>0\n&&\n"});
    return s;
}

class ProfileFile : public ::testing::Test {
protected:
    // Reads the n-th profile of the file, whatever its class (the 77 built-ins come first).
    ProfileStatus ReadFileProfile(int n, ProfileRecord& r, uint32_t mask = 3) {
        r = Blank();
        r.head.attribute = mask;
        return store.ReadProfile(0, 77 + n, r, nullptr, 1);
    }
    void WriteFile(std::string_view text) { testing::WriteWhole(store.ProfilePath(), testing::WithLineEnds(text)); }

    testing::FakeStrings strings;
    testing::TempAppFolder folder;
    CProfileManager store{strings, folder};
};

TEST_F(ProfileFile, EveryClassRoundTripsThroughItsGoldenText) {
    for (const Sample& s : Samples()) {
        SCOPED_TRACE(s.what);
        std::remove(store.ProfilePath().c_str());
        const ProfileRecord original = s.make();
        ASSERT_EQ(store.WriteProfile(original, nullptr), kProfileOk);
        EXPECT_EQ(testing::ReadWhole(store.ProfilePath()), testing::WithLineEnds(s.golden));
        ProfileRecord back;
        ASSERT_EQ(ReadFileProfile(0, back), kProfileOk);
        EXPECT_EQ(std::memcmp(&back, &original, sizeof back), 0);
    }
}

TEST_F(ProfileFile, EveryMpegClassRoundTrips) {
    for (int32_t cls = kClassMpeg1; cls <= kClassDvd; ++cls) {
        std::remove(store.ProfilePath().c_str());
        ProfileRecord original = DvdSample();
        original.head.videoFormatClass = cls;
        ASSERT_EQ(store.WriteProfile(original, nullptr), kProfileOk);
        ProfileRecord back;
        ASSERT_EQ(ReadFileProfile(0, back), kProfileOk);
        EXPECT_EQ(std::memcmp(&back, &original, sizeof back), 0) << cls;
    }
}

TEST_F(ProfileFile, WriterSetsPageBitsAndKeepsTheRecord) {
    ProfileRecord r = UserHead("DV", kClassDv, "x", "");
    r.head.attribute = 0x80;
    ASSERT_EQ(store.WriteProfile(r, nullptr), kProfileOk);
    EXPECT_EQ(r.head.attribute, 0x80u);
    const std::string text = testing::ReadWhole(store.ProfilePath());
    EXPECT_EQ(text.substr(0, 2 * kProfileLineEnd.size() + 1), testing::WithLineEnds("\n&\n"));
    EXPECT_NE(text.find(testing::WithLineEnds("\n<Attribute>83\n")), std::string::npos);

    r.head.attribute = 0x43;  // not storable
    EXPECT_EQ(store.WriteProfile(r, nullptr), kProfileFail);
    EXPECT_EQ(testing::ReadWhole(store.ProfilePath()), text);
}

TEST_F(ProfileFile, UserTextCannotBreakTheFile) {
    ProfileRecord r = UserHead("DV", kClassDv, "a b&&", "&\n&&\n<Name>evil\n x < y && z\n&amp;");
    std::strcpy(r.head.className, "D\r\nV");
    ASSERT_EQ(store.WriteProfile(r, nullptr), kProfileOk);
    const std::string text = testing::ReadWhole(store.ProfilePath());
    EXPECT_NE(text.find(testing::WithLineEnds(
                  "<Description>\n&amp;\n&amp;&amp;\n&lt;Name>evil\n x &lt; y &amp;&amp; z\n&amp;amp;\n")),
              std::string::npos);
    uint32_t blocks = 0;
    ASSERT_EQ(store.CountFileProfiles(&blocks), kProfileOk);
    EXPECT_EQ(blocks, 1u);
    ProfileRecord back;
    ASSERT_EQ(ReadFileProfile(0, back), kProfileOk);
    EXPECT_STREQ(back.head.description, r.head.description);
    EXPECT_STREQ(back.head.name, "a b&&");
    EXPECT_STREQ(back.head.className, "D  V");
}

// A name is a key: one the file cannot give back exactly is refused by the writer and never
// reported free, so no later lookup or delete meets it under another name.
TEST_F(ProfileFile, NamesThatCannotBeKeptExactlyAreRefused) {
    for (const char* bad : {"a\nb", "a\rb", "line\r\n"}) {
        ProfileRecord r = UserHead("DV", kClassDv, bad, "");
        EXPECT_EQ(store.WriteProfile(r, nullptr), kProfileBadName) << bad;
        EXPECT_EQ(store.ProfileNameExists(kClassDv, bad), 1) << bad;
    }
    ProfileRecord unterminated = UserHead("DV", kClassDv, "x", "");
    std::memset(unterminated.head.name, 'n', sizeof unterminated.head.name);
    EXPECT_EQ(store.WriteProfile(unterminated, nullptr), kProfileBadName);
    EXPECT_FALSE(DefaultProfileFileSystem().Exists(store.ProfilePath()) &&
                 !testing::ReadWhole(store.ProfilePath()).empty());

    const std::string longest(127, 'n');
    const std::string tooLong = longest + "x";
    EXPECT_EQ(store.ProfileNameExists(kClassDv, longest.c_str()), 0);
    EXPECT_EQ(store.ProfileNameExists(kClassDv, tooLong.c_str()), 1);
    ASSERT_EQ(store.WriteProfile(UserHead("DV", kClassDv, longest.c_str(), ""), nullptr), kProfileOk);
    ProfileRecord back = Blank();
    back.head.attribute = 3;
    ASSERT_EQ(store.ReadProfile(kClassDv, 0, back, longest.c_str(), 0), kProfileOk);
    EXPECT_EQ(std::string(back.head.name), longest);
}

// A carriage return left inside a hand-edited line reads as the blank the writer would put
// there, so what is read can be written back, found and deleted under the name shown.
TEST_F(ProfileFile, ABareCarriageReturnInALineReadsAsTheWriterWritesIt) {
    testing::WriteWhole(store.ProfilePath(),
                        "\r\n&\r\n<Class>D\rV\r\n<Name>a\rb\r\n<Group>2\r\n<Video Format Class>1\r\n"
                        "<Video Compressor Filter>x\ry\r\n&&\r\n");
    ProfileRecord r;
    ASSERT_EQ(ReadFileProfile(0, r), kProfileOk);
    EXPECT_STREQ(r.head.name, "a b");
    EXPECT_STREQ(r.head.className, "D V");
    EXPECT_STREQ(r.block.avi.videoCompressor, "x y");
    EXPECT_EQ(store.ProfileNameExists(r.head.videoFormatClass, "a b"), 1);
    r.head.attribute |= kAttrStorable;
    ASSERT_EQ(store.WriteProfile(r, nullptr), kProfileOk);
    ASSERT_EQ(store.DeleteProfile(r.head.videoFormatClass, "a b"), kProfileOk);
    EXPECT_EQ(store.ProfileNameExists(r.head.videoFormatClass, "a b"), 0);
}

// Hand-edited names longer than the record holds: the list shows them cut to 127 characters,
// and both that name and the whole one open and delete them; the whole name tells apart two
// names alike in their first 127 characters.
TEST_F(ProfileFile, LongNamesInTheFileAreFoundByTheNameShownAndTheWholeName) {
    const std::string common(127, 'n');
    const std::string one = common + "1", two = common + "2";
    WriteFile("\n&\n<Name>" + one + "\n<Group>2\n<Video Format Class>2\n<VideoFormat>2000\n&&\n" + "\n&\n<Name>" + two +
              "\n<Group>2\n<Video Format Class>2\n<VideoFormat>2001\n&&\n");
    ProfileRecord r = Blank();
    r.head.attribute = 3;
    ASSERT_EQ(store.ReadProfile(kClassDv, 0, r, common.c_str(), 0), kProfileOk);
    EXPECT_EQ(r.block.dv.videoFormat, 2000u);  // the first of that shown name
    r = Blank();
    r.head.attribute = 3;
    ASSERT_EQ(store.ReadProfile(kClassDv, 0, r, two.c_str(), 0), kProfileOk);
    EXPECT_EQ(std::string(r.head.name), common);
    EXPECT_EQ(r.block.dv.videoFormat, 2001u);
    EXPECT_EQ(store.ProfileNameExists(kClassDv, one.c_str()), 1);
    EXPECT_EQ(store.ProfileNameExists(kClassDv, common.c_str()), 1);

    ASSERT_EQ(store.DeleteProfile(kClassDv, one.c_str()), kProfileOk);
    r = Blank();
    r.head.attribute = 3;
    EXPECT_EQ(store.ReadProfile(kClassDv, 0, r, one.c_str(), 0), kProfileFail);
    r = Blank();
    r.head.attribute = 3;
    EXPECT_EQ(store.ReadProfile(kClassDv, 0, r, two.c_str(), 0), kProfileOk);
    ASSERT_EQ(store.DeleteProfile(kClassDv, common.c_str()), kProfileOk);
    r = Blank();
    r.head.attribute = 3;
    EXPECT_EQ(store.ReadProfile(kClassDv, 0, r, two.c_str(), 0), kProfileFail);
}

// Files written before: text as the earlier writer left it, CR LF line ends, tags the reader
// ignores, a description ended by a line that holds "<".
TEST_F(ProfileFile, ReadsOlderFiles) {
    testing::WriteWhole(store.ProfilePath(),
                        "\r\n&\r\n<Class>DVD\r\n<Name>Old\r\n<Description>\r\none & two\r\n\r\nthree\r\n"
                        "<Output FileName> \r\n<Group>2\r\n<Video Format Class>7\r\n<Field Order>1\r\n"
                        "<Attribute>81\r\n<Encode Mode>3\r\n<Video BitRate>6000000\r\n<Min BitRate>3400000\r\n"
                        "<Interlacing>2\r\n<Audio BitRate>256000\r\n<Audio FormatTag>80\r\n&&\r\n");
    ProfileRecord r = Blank();
    r.head.attribute = 1;
    ASSERT_EQ(store.ReadProfile(kClassDvd, 0, r, "Old", 0), kProfileOk);
    EXPECT_STREQ(r.head.description, "one & two\nthree");
    EXPECT_STREQ(r.head.outputFileName, " ");
    const MpegBlock& m = r.block.mpeg;
    EXPECT_EQ(FindMpegParam(m, kParamVideoBitRate)->value.i, 6000000);
    EXPECT_EQ(FindMpegParam(m, kParamMinBitRate)->value.i, 3400000);  // kept
    EXPECT_EQ(FindMpegParam(m, kParamMaxBitRate)->value.i, 8300000);  // supplied for DVD
    EXPECT_EQ(FindMpegParam(m, kParamActiveEncoder)->value.i, 2);
    EXPECT_EQ(FindMpegParam(m, kParamAppType)->value.i, 2);
    EXPECT_EQ(FindMpegParam(m, kParamDynamicGop)->value.i, 1);
    EXPECT_EQ(FindMpegParam(m, kParamInterlacing)->value.i, 0);
    EXPECT_EQ(FindMpegParam(m, kParamFieldOrderCode)->value.i, 6);
    EXPECT_EQ(m.streams[0].audio.bitRate, 4096);
}

TEST_F(ProfileFile, MissingMpegLinesGetTheirClassDefaults) {
    struct Case {
        int cls;
        int minRate, maxRate, encoder;
    } cases[] = {{3, 0, 0, 1}, {4, 0, 0, 0}, {5, 0, 0, 1}, {6, 0, 0, 2}, {7, 1500000, 8300000, 2}};
    for (const Case& c : cases) {
        WriteFile("\n&\n<Name>n\n<Video Format Class>" + std::to_string(c.cls) + "\n<Field Order>2\n&&\n");
        ProfileRecord r;
        ASSERT_EQ(ReadFileProfile(0, r), kProfileOk);
        const MpegBlock& m = r.block.mpeg;
        EXPECT_EQ(FindMpegParam(m, kParamMinBitRate)->value.i, c.minRate) << c.cls;
        EXPECT_EQ(FindMpegParam(m, kParamMaxBitRate)->value.i, c.maxRate) << c.cls;
        EXPECT_EQ(FindMpegParam(m, kParamActiveEncoder)->value.i, c.encoder) << c.cls;
        EXPECT_EQ(FindMpegParam(m, kParamAppType)->value.i, 2);
        EXPECT_EQ(FindMpegParam(m, kParamDynamicGop)->value.i, 1);
        EXPECT_EQ(FindMpegParam(m, kParamFieldOrderCode)->value.i, 7);
    }
}

TEST_F(ProfileFile, ABlockLackingLinesDoesNotInheritTheBlockBefore) {
    ProfileRecord full = DvdSample();
    ASSERT_EQ(store.WriteProfile(full, nullptr), kProfileOk);
    std::string text = testing::ReadWhole(store.ProfilePath());
    text += testing::WithLineEnds("\n&\n<Name>Bare\n<Video Format Class>7\n&&\n");
    testing::WriteWhole(store.ProfilePath(), text);
    ProfileRecord r;
    ASSERT_EQ(ReadFileProfile(1, r), kProfileOk);
    EXPECT_STREQ(r.head.name, "Bare");
    EXPECT_STREQ(r.head.className, "");
    EXPECT_STREQ(r.head.description, "");
    EXPECT_EQ(r.head.group, 0);
    EXPECT_EQ(r.head.attribute, 0x83u);
    EXPECT_EQ(FindMpegParam(r.block.mpeg, kParamVideoBitRate)->value.i, 0);
    EXPECT_EQ(r.block.mpeg.streams[0].audio.bitRate, 0);
}

// A file cut inside its last block still holds that profile (it is counted, so it is listed,
// read and deleted like the others); lines outside any block are no profile.
TEST_F(ProfileFile, AFileCutInsideItsLastBlockStillHoldsThatProfile) {
    struct Case {
        const char* text;
        bool found;
    } cases[] = {
        {"\n&\n<Name>Cut\n<Group>2\n<Video Format Class>2\n<VideoFormat>2000", true},    // ends inside a block
        {"\n&\n<Name>Cut\n<Group>2\n<Video Format Class>2\n<Description>\nhalf", true},  // inside a description
        {"\n&&\n<Name>Cut\n<Video Format Class>2\n&&\n", false},                         // no block opened
    };
    for (const Case& c : cases) {
        WriteFile(c.text);
        ProfileRecord r = Blank();
        r.head.attribute = 3;
        if (c.found) {
            ASSERT_EQ(store.ReadProfile(kClassDv, 0, r, "Cut", 0), kProfileOk) << c.text;
            EXPECT_EQ(r.head.videoFormatClass, kClassDv);
            ASSERT_EQ(store.DeleteProfile(kClassDv, "Cut"), kProfileOk);
            r = Blank();
            r.head.attribute = 3;
        }
        EXPECT_EQ(store.ReadProfile(kClassDv, 0, r, "Cut", 0), kProfileFail) << c.text;
        EXPECT_EQ(r.head.group, kGroupLookupFailed);
        EXPECT_EQ(r.head.videoFormatClass, kClassLookupFailed);
        EXPECT_EQ(r.head.attribute, 3u);
    }
}

// A profile written after a file cut inside a block is still a block of its own.
TEST_F(ProfileFile, WritingAfterACutBlockKeepsTheNewProfileReadable) {
    for (const char* cut : {"\n&\n<Name>cut\n<Video Format Class>2", "\n&\n<Name>cut\n<Description>\nhalf\n"}) {
        WriteFile(cut);
        const std::string before = testing::ReadWhole(store.ProfilePath());
        ASSERT_EQ(store.WriteProfile(UserHead("DV", kClassDv, "new", ""), nullptr), kProfileOk);
        EXPECT_EQ(testing::ReadWhole(store.ProfilePath()).compare(0, before.size(), before), 0);
        ProfileRecord r = Blank();
        r.head.attribute = 2;
        EXPECT_EQ(store.ReadProfile(kClassDv, 0, r, "new", 0), kProfileOk) << cut;
        uint32_t n = 0;
        ASSERT_EQ(store.CountFileProfiles(&n), kProfileOk);
        EXPECT_EQ(n, 2u);
    }
}

TEST_F(ProfileFile, OverlongTextsAreCutAndBadNumbersLeaveFields) {
    const std::string longName(300, 'n');
    const std::string longPattern(100, 'I');
    WriteFile("\n&\n<Name>" + longName +
              "\n<Video Format Class>3\n<Video Width>wide\n<Video Height> 576junk\n"
              "<Video BitRate>99999999999\n<Pattern>" +
              longPattern + "\n<Frame Rate>+25.5\n&&\n");
    ProfileRecord r;
    ASSERT_EQ(ReadFileProfile(0, r), kProfileOk);
    EXPECT_EQ(std::string(r.head.name), longName.substr(0, 127));
    const MpegBlock& m = r.block.mpeg;
    EXPECT_EQ(FindMpegParam(m, kParamWidth)->value.i, 0);
    EXPECT_EQ(FindMpegParam(m, kParamHeight)->value.i, 576);
    EXPECT_EQ(FindMpegParam(m, kParamVideoBitRate)->value.i, 0);
    EXPECT_EQ(std::string(FindMpegParam(m, kParamPattern)->value.text), longPattern.substr(0, 63));
    EXPECT_EQ(FindMpegParam(m, kParamFrameRate)->value.f, 25.5f);
}

TEST_F(ProfileFile, AviTagsAreFoundAnywhereInTheLine) {
    WriteFile(
        "\n&\n<Name>a\n<Video Format Class>1\n  <Width>640\nx<Height>480\n"
        "<Video Compressor Filter>odd<Width>name\n&&\n");
    ProfileRecord r;
    ASSERT_EQ(ReadFileProfile(0, r), kProfileOk);
    EXPECT_EQ(r.block.avi.width, 640);
    EXPECT_EQ(r.block.avi.height, 480);
    EXPECT_STREQ(r.block.avi.videoCompressor, "odd<Width>name");
    EXPECT_EQ(r.block.avi.hasWave, 0u);
}

}  // namespace
}  // namespace profiles
