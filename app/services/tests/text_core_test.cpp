#include "app/services/text_core.h"

#include <cstring>

#include <gtest/gtest.h>

namespace services {
namespace {

TEST(ByteSize, UnitAtEachThreshold) {
    struct Case {
        int64_t bytes;
        ByteSizeUnit unit;
        double value;
    } cases[] = {
        {0, ByteSizeUnit::kBytes, 0.0},
        {1023, ByteSizeUnit::kBytes, 1023.0},
        {1024, ByteSizeUnit::kKilobytes, 1.0},
        {1536, ByteSizeUnit::kKilobytes, 1.5},
        {1048575, ByteSizeUnit::kKilobytes, 1048575.0 / 1024},
        {1048576, ByteSizeUnit::kMegabytes, 1.0},
        {1073741823, ByteSizeUnit::kMegabytes, 1073741823.0 / 1048576},
        {1073741824, ByteSizeUnit::kGigabytes, 1.0},
        {int64_t{5} << 40, ByteSizeUnit::kGigabytes, 5120.0},
        {-5, ByteSizeUnit::kBytes, -5.0},
    };
    for (const Case& c : cases) {
        double value = -1;
        EXPECT_EQ(ChooseByteSizeUnit(c.bytes, &value), c.unit) << c.bytes;
        EXPECT_DOUBLE_EQ(value, c.value) << c.bytes;
    }
}

// Lead bytes of a double-byte code page: 0x81-0x9F and 0xE0-0xFC (as in code page 932).
bool IsLead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

TEST(BoundedCopy, NeverWritesPastTheBufferNorSplitsACharacter) {
    char out[8];
    std::memset(out, 'x', sizeof out);
    EXPECT_TRUE(CopyTextBounded(out, sizeof out, "abc"));
    EXPECT_STREQ(out, "abc");

    // A guard byte past the given size must survive every cut.
    char guarded[9];
    std::memset(guarded, '#', sizeof guarded);
    EXPECT_FALSE(CopyTextBounded(guarded, 8, "abcdefghijkl"));
    EXPECT_STREQ(guarded, "abcdefg");
    EXPECT_EQ(guarded[8], '#');

    // "abcdef" then a double-byte character: 7 bytes room would split the pair, so it goes.
    const std::string mixed = "abcdef\x82\xA0z";
    std::memset(guarded, '#', sizeof guarded);
    EXPECT_FALSE(CopyTextBounded(guarded, 8, mixed, IsLead));
    EXPECT_STREQ(guarded, "abcdef");

    // Size 0 writes nothing at all.
    char untouched = '#';
    EXPECT_FALSE(CopyTextBounded(&untouched, 0, "a"));
    EXPECT_EQ(untouched, '#');
}

// Every character is 10 units wide, a double-byte character too.
int Measure(const std::string& s) {
    int width = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (IsLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ++i;
        width += 10;
    }
    return width;
}

TEST(FitText, EllipsisAtWholeCharacters) {
    struct Case {
        std::string text;
        int width;
        std::string fitted;
    } cases[] = {
        {"Hello", 50, "Hello"},           // fits exactly: untouched, no "..."
        {"Hello world", 80, "Hell..."},   // 70 < 80, one more would be 80, not narrower
        {"Hello world", 81, "Hello..."},  // 80 < 81
        {"Hello", 20, "..."},             // not even "..." fits
        {"Hello", 31, "..."},             // "..." fits, "H..." (40) does not
        {"", 0, ""},
        {"\x82\xA0\x82\xA2\x82\xA4xyz", 55, "\x82\xA0\x82\xA2..."},  // pairs stay whole
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FitTextToWidth(c.text, c.width, Measure, IsLead), c.fitted);
    }
}

}  // namespace
}  // namespace services
