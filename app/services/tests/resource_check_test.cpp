#include "app/services/resource_check.h"

#include <gtest/gtest.h>

namespace services {
namespace {

TEST(ResourceCheck, PrintfConversionsInOrder) {
    struct Case {
        const char* format;
        bool ok;
        std::vector<std::string> conversions;
    } cases[] = {
        {"plain text", true, {}},
        {"%s is already running.", true, {"s"}},
        {"line %d, position %d\n%ls", true, {"d", "d", "ls"}},
        {"%02d:%02d:%02d:%02d", true, {"d", "d", "d", "d"}},
        {"100%% done, %.2f %s", true, {"f", "s"}},
        {"%-8I64d|%5.1lf|%c", true, {"I64d", "lf", "c"}},
        {"ends with %", false, {}},
        {"%y is no conversion", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got;
        EXPECT_EQ(ParsePrintfConversions(c.format, &got), c.ok) << c.format;
        if (c.ok) {
            EXPECT_EQ(got, c.conversions) << c.format;
        }
    }
}

// A DLGTEMPLATEEX with a font and two controls (ids 7 and 70000), as a resource compiler lays it out.
std::vector<uint8_t> ExtendedTemplate() {
    std::vector<uint8_t> t;
    const auto w16 = [&](uint16_t v) {
        t.push_back(static_cast<uint8_t>(v));
        t.push_back(static_cast<uint8_t>(v >> 8));
    };
    const auto w32 = [&](uint32_t v) {
        w16(static_cast<uint16_t>(v));
        w16(static_cast<uint16_t>(v >> 16));
    };
    const auto sz = [&](const char* s) {
        for (; *s; ++s)
            w16(static_cast<uint8_t>(*s));
        w16(0);
    };
    const auto align = [&] {
        while (t.size() % 4)
            t.push_back(0);
    };
    w16(1), w16(0xFFFF), w32(0), w32(0), w32(0x40 | 0x80000000u), w16(2), w16(0), w16(0), w16(100), w16(50);
    w16(0), w16(0), sz("Title");
    w16(8), w16(400), t.push_back(0), t.push_back(1), sz("MS Shell Dlg");
    align();
    w32(0), w32(0), w32(0x50000000u), w16(1), w16(1), w16(20), w16(10), w32(7), w16(0xFFFF), w16(0x0082), sz("Hi"),
        w16(0);
    align();
    w32(0), w32(0), w32(0x50000000u), w16(1), w16(20), w16(20), w16(10), w32(70000), sz("msctls_progress32"), w16(0),
        w16(0);
    return t;
}

TEST(ResourceCheck, DialogTemplateControlIds) {
    const std::vector<uint8_t> t = ExtendedTemplate();
    std::vector<uint32_t> ids;
    ASSERT_TRUE(ReadDialogControlIds(t.data(), t.size(), &ids));
    EXPECT_EQ(ids, (std::vector<uint32_t>{7, 70000}));
    // Every cut is refused, never read past.
    for (size_t cut = 0; cut < t.size(); ++cut) {
        const std::vector<uint8_t> part(t.begin(), t.begin() + static_cast<long>(cut));
        EXPECT_FALSE(ReadDialogControlIds(part.data(), part.size(), &ids)) << cut;
    }
}

}  // namespace
}  // namespace services
