// The common dialogs' text helpers: the quoted multi-selection list, status shortening and
// the progress percentage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/skin/dialog_text.h"

namespace {

using Names = std::vector<std::string>;

TEST(QuotedSelection, SplitsQuotedNamesAndKeepsPlainOnes) {
    const struct {
        std::string text;
        Names names;
    } cases[] = {
        {"\"a.mpg\" \"b c.mpg\" \"d.avi\"", {"a.mpg", "b c.mpg", "d.avi"}},
        {"\"only.mpg\"", {"only.mpg"}},
        {"plain name.mpg", {"plain name.mpg"}},
        {"\"a\"  \"\" \"b\"", {"a", "b"}},
        {"\"a\" \"unclosed", {"a", "unclosed"}},
        {"", {}},
        {"\"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseQuotedSelection(c.text.c_str(), c.text.size() + 1), c.names) << c.text;
    EXPECT_TRUE(ParseQuotedSelection(nullptr, 10).empty());
}

TEST(QuotedSelection, StopsAtTheBufferSizeWithoutATerminator) {
    const char buffer[] = {'"', 'a', '"', ' ', '"', 'b', 'c', 'd'};  // no terminating zero
    EXPECT_EQ(ParseQuotedSelection(buffer, sizeof buffer), (Names{"a", "bcd"}));
    EXPECT_EQ(ParseQuotedSelection(buffer, 3), (Names{"a"}));
}

TEST(QuotedSelection, ThousandsOfNames) {
    std::string text;
    Names expected;
    for (int i = 0; i < 2500; ++i) {
        expected.push_back("clip " + std::to_string(i) + ".mpg");
        text += (i ? " \"" : "\"") + expected.back() + "\"";
    }
    EXPECT_EQ(ParseQuotedSelection(text.c_str(), text.size() + 1), expected);
}

TEST(StatusText, ShortensBeyondThirtyFiveCharacters) {
    const std::string p35(35, 'x');
    EXPECT_EQ(ShortenStatusText(p35), p35);
    EXPECT_EQ(ShortenStatusText(p35 + "y"), p35 + "...");
    EXPECT_EQ(ShortenStatusText("C:\\Users\\someone\\Videos\\Capture\\2026\\December"),
              "C:\\Users\\someone\\Videos\\Capture\\202...");
    EXPECT_EQ(ShortenStatusText(""), "");
}

TEST(Progress, PercentRoundsAndNeverDividesByZero) {
    const struct {
        int64_t pos, lower, upper;
        int percent;
    } cases[] = {
        {0, 0, 100, 0},
        {50, 0, 100, 50},
        {1, 0, 3, 33},
        {2, 0, 3, 67},
        {5, 5, 5, 0},
        {7, 9, 3, 0},
        {-10, -20, 0, 50},
        {100, 0, 100, 100},
        {1, 0, 200, 1},
        {0, 0, 1, 0},
        {INT64_C(3000000000), 0, INT64_C(6000000000), 50},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgressPercent(c.pos, c.lower, c.upper), c.percent) << c.pos << " in " << c.lower << ".." << c.upper;
}

TEST(ReplacementFilter, WholeExtensionsPickTheIndex) {
    const std::string mpeg = ".mpg.mpeg.mpe.m1v.m2v.dat.vob.vro", avi = ".avi.dv";
    const struct {
        const char* ext;
        int index;
    } cases[] = {{".mpg", 1}, {".MPEG", 1}, {".vro", 1}, {".avi", 2}, {".DV", 2}, {".mp", 4},
                 {".d", 4},   {".mov", 4},  {"", 4},     {".", 4},    {"mpg", 4}};
    for (const auto& c : cases)
        EXPECT_EQ(ReplacementFilterIndex(c.ext, mpeg, avi), c.index) << c.ext;
}

}  // namespace
