#include "app/profiles/profile_sheet_logic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace profiles {
namespace {

TEST(GopPattern, HasExactlyTheGopLength) {
    struct Case {
        int gop, b;
        const char* pattern;
    } cases[] = {
        {15, 2, "IBBPBBPBBPBBPBB"},
        {10, 9, "IBBBBBBBBB"},
        {1, 3, "I"},
        {4, 0, "IPPP"},
        {0, 2, ""},
        {30, 1, "IBPBPBPBPBPBPBPBPBPBPBPBPBPBPB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildGopPattern(c.gop, c.b), c.pattern) << c.gop << "/" << c.b;
    // A length from a damaged file stays bounded.
    EXPECT_EQ(BuildGopPattern(0x7FFFFFFF, 2).size(), size_t(kMaxPatternLength));
}

TEST(EditRangeCheck, CorrectsOutOfRangeAndNonNumbers) {
    struct Case {
        const char* text;
        int min, fallback, max;
        bool changed, notNumber;
        int value;
    } cases[] = {
        {"12", 0, 1, 9, true, false, 9},          // B-frames above GOP length - 1
        {"5", 7, 30, 60, true, false, 7},         // GOP below B-frames + 1
        {"8000", 0, 6, 6000, true, false, 6000},  // bit rate above the maximum
        {"abc", 0, 6000, 15000, true, true, 6000},
        {"", 0, 30, 60, true, true, 30},
        {"12x", 0, 30, 60, true, true, 30},
        {"99999999999999", 0, 30, 60, true, false, 60},
        {"-99999999999999", 0, 30, 60, true, false, 0},
        {" 42 ", 0, 30, 60, false, false, 42},
    };
    for (const Case& c : cases) {
        const ClampResult r = ClampEditText(c.text, c.min, c.fallback, c.max);
        EXPECT_EQ(r.changed, c.changed) << c.text;
        EXPECT_EQ(r.notNumber, c.notNumber) << c.text;
        EXPECT_EQ(r.value, c.value) << c.text;
    }
}

TEST(NameProposal, CountsUpUntilFreeAndKeepsTheLimit) {
    std::set<std::string> held = {"A", "A -1"};
    auto isHeld = [&](const std::string& n) { return held.count(n) != 0; };
    EXPECT_EQ(ProposeFreeName("B", 127, isHeld), "B");
    EXPECT_EQ(ProposeFreeName("A", 127, isHeld), "A -2");
    held.insert(std::string(127, 'x'));
    const std::string proposal = ProposeFreeName(std::string(127, 'x'), 127, isHeld);
    EXPECT_EQ(proposal, std::string(124, 'x') + " -1");
    // A name past the limit is never proposed as it stands.
    EXPECT_EQ(ProposeFreeName(std::string(130, 'y'), 127, isHeld).size(), 127u);
}

TEST(NameCheck, TellsWhyANameIsRefused) {
    EXPECT_EQ(CheckProfileName("", 99, false, 900), 175u);
    EXPECT_EQ(CheckProfileName("taken", 99, true, 900), 174u);
    EXPECT_EQ(CheckProfileName(std::string(100, 'n'), 99, false, 900), 900u);
    EXPECT_EQ(CheckProfileName("two\r\nlines", 99, false, 900), 900u);
    EXPECT_EQ(CheckProfileName(std::string(99, 'n'), 99, false, 900), 0u);
}

TEST(MpegEditorResult, ClampsBitRateAndTranslatesAudioRate) {
    ProfileRecord r;
    std::memset(&r, 0, sizeof r);
    r.head.videoFormatClass = kClassMpeg2;
    ASSERT_TRUE(AllocMpegParams(r));
    r.block.mpeg.streams[0].audio.bitRate = 0x800;
    struct Case {
        int32_t kbps, stored;
    } cases[] = {{20000, 10000000}, {100, 512000}, {6000, 6000000}};
    for (const Case& c : cases) {
        MpegEditorResult res;
        res.videoModified = true;
        res.bitRateKbps = c.kbps;
        res.width = 720;
        res.height = 576;
        res.interlacing = 1;
        res.name = "mine";
        ApplyMpegEditorResult(res, r);
        EXPECT_EQ(FindMpegParam(r.block.mpeg, kParamVideoBitRate)->value.i, c.stored);
        EXPECT_EQ(FindMpegParam(r.block.mpeg, kParamHeight)->value.i, 576);
        EXPECT_STREQ(r.head.name, "mine");
    }
    MpegEditorResult audio;
    audio.audioModified = true;
    audio.audioBitRate = 384000;
    ApplyMpegEditorResult(audio, r);
    EXPECT_EQ(r.block.mpeg.streams[0].audio.bitRate, 0x8000);
    audio.audioBitRate = 100000;  // no such row: unchanged
    ApplyMpegEditorResult(audio, r);
    EXPECT_EQ(r.block.mpeg.streams[0].audio.bitRate, 0x8000);
    // An untouched video page leaves the size as it was.
    FindMpegParam(r.block.mpeg, kParamWidth)->value.i = 500;
    ApplyMpegEditorResult(MpegEditorResult{}, r);
    EXPECT_EQ(FindMpegParam(r.block.mpeg, kParamWidth)->value.i, 500);
}

TEST(FrameSizeTable, FindsTheRowOfASize) {
    EXPECT_EQ(kFrameSizes[FindFrameSize(720, 480)].label, 181u);
    EXPECT_EQ(FindFrameSize(500, 300), -1);
}

}  // namespace
}  // namespace profiles
