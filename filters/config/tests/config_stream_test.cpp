// The stored stream layout on its own: bytes written by hand from the layout read back as
// the entries they describe, the writer produces those same bytes, and every kind of damage
// is refused with its own status and no entries.
#include "filters/config/config_stream.h"

#include <gtest/gtest.h>

#include "filters/config/tests/stream_bytes.h"

#include <cstdint>
#include <vector>

namespace kestrune {
namespace {

using test::BlindSource;
using test::Bytes;

const StoredGuid kKeyA = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const StoredGuid kKeyB = {0xF0, 0xE0, 0xD0, 0xC0, 0xB0, 0xA0, 0x90, 0x80, 0x70, 0x60, 0x50, 0x40, 0x30, 0x20, 0x10, 0};

StoredEntry Entry(const StoredGuid& key, std::uint16_t type, std::initializer_list<std::uint8_t> value,
                  std::vector<std::uint8_t> text = {}, std::uint32_t active = 1) {
    StoredEntry e;
    e.key = key;
    e.variant.type = type;
    std::copy(value.begin(), value.end(), e.variant.value.begin());
    e.variant.text = std::move(text);
    e.active = active;
    return e;
}

// Header (version 16, 2 entries) and a VT_I4 -2 entry and a VT_BSTR "Hi" entry, layout v2.
std::vector<std::uint8_t> GoldenV2() {
    Bytes g;
    g.HeaderGuid();
    g.U32(16).U32(2);
    g.Raw({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}).U16(3).Zeros(6).U32(0xFFFFFFFE).Zeros(4).U32(1);
    g.Raw({0xF0, 0xE0, 0xD0, 0xC0, 0xB0, 0xA0, 0x90, 0x80, 0x70, 0x60, 0x50, 0x40, 0x30, 0x20, 0x10, 0});
    g.U16(8).Zeros(14).U32(4).Raw({'H', 0, 'i', 0}).U32(0);
    return g.b;
}

std::vector<StoredEntry> GoldenV2Entries() {
    return {Entry(kKeyA, kStoredI4, {0xFE, 0xFF, 0xFF, 0xFF}), Entry(kKeyB, kStoredBstr, {}, {'H', 0, 'i', 0}, 0)};
}

TEST(ConfigStream, WriterProducesTheLayoutByteForByte) {
    std::vector<std::uint8_t> out;
    ConfigStreamWriteGuid(&out, kConfigStreamHeaderBytes);
    ConfigStreamWriteDword(&out, 16);
    ConfigStreamWriteDword(&out, 2);
    for (const StoredEntry& e : GoldenV2Entries())
        ConfigStreamWriteEntry(&out, StreamLayout::v2, e);
    EXPECT_EQ(out, GoldenV2());
}

TEST(ConfigStream, ReaderTakesTheLayoutBackForBothSourceKinds) {
    const auto golden = GoldenV2();
    for (bool blind : {false, true}) {
        SpanSource span(golden.data(), golden.size());
        BlindSource hidden(golden.data(), golden.size());
        ByteSource& source = blind ? static_cast<ByteSource&>(hidden) : span;
        StoredHeader header;
        ASSERT_EQ(ConfigStreamReadHeader(source, &header), StreamStatus::ok);
        EXPECT_EQ(header.guid, kConfigStreamHeaderBytes);
        EXPECT_EQ(header.version, 16u);
        std::vector<StoredEntry> entries;
        ASSERT_EQ(ConfigStreamReadEntries(source, StreamLayout::v2, &entries), StreamStatus::ok);
        EXPECT_EQ(entries, GoldenV2Entries());
    }
}

TEST(ConfigStream, ReaderIgnoresReservedWordsAndBytesBeyondTheWidth) {
    // v1: a VT_BOOL whose reserved words and upper value bytes are filled with junk.
    Bytes g;
    g.U32(1).Raw({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    g.U16(kStoredBool).U16(0xAAAA).U16(0xBBBB).U16(0xCCCC).U16(1).Raw({9, 9, 9, 9, 9, 9});
    SpanSource source(g.b.data(), g.b.size());
    std::vector<StoredEntry> entries;
    ASSERT_EQ(ConfigStreamReadEntries(source, StreamLayout::v1, &entries), StreamStatus::ok);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].variant, Entry(kKeyA, kStoredBool, {1, 0}).variant);
    EXPECT_EQ(source.Position(), g.b.size());
}

TEST(ConfigStream, EveryTruncationIsAShortReadWithNoEntries) {
    const auto golden = GoldenV2();
    for (std::size_t cut = 20; cut < golden.size(); ++cut) {
        for (bool blind : {false, true}) {
            SpanSource span(golden.data(), cut);
            BlindSource hidden(golden.data(), cut);
            ByteSource& source = blind ? static_cast<ByteSource&>(hidden) : span;
            StoredHeader header;
            ASSERT_EQ(ConfigStreamReadHeader(source, &header), StreamStatus::ok);
            std::vector<StoredEntry> entries = GoldenV2Entries();
            const StreamStatus status = ConfigStreamReadEntries(source, StreamLayout::v2, &entries);
            // A text length that points past the end is caught before reading when the size is known.
            EXPECT_TRUE(status == StreamStatus::shortRead || (status == StreamStatus::textTooLong && !blind))
                << "cut " << cut << " blind " << blind;
            EXPECT_TRUE(entries.empty()) << cut;
        }
    }
    for (std::size_t cut = 0; cut < 20; ++cut) {
        SpanSource source(golden.data(), cut);
        StoredHeader header;
        EXPECT_EQ(ConfigStreamReadHeader(source, &header), StreamStatus::shortRead) << cut;
    }
}

TEST(ConfigStream, ForgedFieldsAreRefused) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        StreamStatus status;
    };
    auto oneEntry = [](std::uint16_t type) {
        Bytes g;
        g.U32(1).Zeros(16).U16(type).Zeros(14);
        return g.b;
    };
    Bytes longText;
    longText.U32(1).Zeros(16).U16(kStoredBstr).Zeros(14).U32(kMaxTextBytes + 1);
    Bytes pastEnd;
    pastEnd.U32(1).Zeros(16).U16(kStoredBstr).Zeros(14).U32(100).Raw({1, 2});
    Bytes many;
    many.U32(kMaxEntries + 1);
    Bytes countBeyondData;
    countBeyondData.U32(1000).Zeros(64);
    const Case cases[] = {
        {"VT_UNKNOWN", oneEntry(13), StreamStatus::badType},
        {"VT_DISPATCH", oneEntry(9), StreamStatus::badType},
        {"VT_BYREF|VT_I4", oneEntry(0x4003), StreamStatus::badType},
        {"VT_ARRAY|VT_I4", oneEntry(0x2003), StreamStatus::badType},
        {"VT_EMPTY", oneEntry(0), StreamStatus::badType},
        {"VT_R8", oneEntry(5), StreamStatus::badType},
        {"text beyond the cap", longText.b, StreamStatus::textTooLong},
        {"text beyond the data", pastEnd.b, StreamStatus::textTooLong},
        {"count beyond the cap", many.b, StreamStatus::tooMany},
        {"count beyond the data", countBeyondData.b, StreamStatus::shortRead},
    };
    for (const Case& c : cases) {
        SpanSource source(c.bytes.data(), c.bytes.size());
        std::vector<StoredEntry> entries;
        EXPECT_EQ(ConfigStreamReadEntries(source, StreamLayout::v1, &entries), c.status) << c.what;
        EXPECT_TRUE(entries.empty()) << c.what;
    }
    // Without a known size the text is read in chunks and fails at the end of the data.
    BlindSource blind(pastEnd.b.data(), pastEnd.b.size());
    std::vector<StoredEntry> entries;
    EXPECT_EQ(ConfigStreamReadEntries(blind, StreamLayout::v1, &entries), StreamStatus::shortRead);
}

TEST(ConfigStream, EntryCountIsReadInStepAcrossUnusualEntries) {
    // v1 entries of every stored type, an empty and an odd-length text among them.
    std::vector<StoredEntry> entries = {
        Entry(kKeyA, kStoredI1, {0x80}),
        Entry(kKeyB, kStoredI8, {1, 2, 3, 4, 5, 6, 7, 8}),
        Entry(kKeyA, kStoredBstr, {}, {}),
        Entry(kKeyB, kStoredBstr, {}, {'x'}),
        Entry(kKeyA, kStoredUi4, {0xFF, 0xFF, 0xFF, 0xFF}),
        Entry(kKeyB, kStoredInt, {7, 0, 0, 0}),
    };
    std::vector<std::uint8_t> out;
    ConfigStreamWriteDword(&out, static_cast<std::uint32_t>(entries.size()));
    for (const StoredEntry& e : entries)
        ConfigStreamWriteEntry(&out, StreamLayout::v1, e);
    EXPECT_EQ(out.size(), 4 + 6 * kEntrySizeV1 + 4 + 4 + 1);
    SpanSource source(out.data(), out.size());
    std::vector<StoredEntry> read;
    ASSERT_EQ(ConfigStreamReadEntries(source, StreamLayout::v1, &read), StreamStatus::ok);
    EXPECT_EQ(read, entries);
    EXPECT_EQ(source.Position(), out.size());
}

}  // namespace
}  // namespace kestrune
