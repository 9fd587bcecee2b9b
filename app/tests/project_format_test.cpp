// The project file's bytes: the plain chunk layout, the scrambling layer, and the refusal of
// damaged and hostile files.
#include "app/project_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

FileBatchEntry MakeEntry(int order, const char* path, int64_t duration) {
    FileBatchEntry e;
    std::memset(&e, 0, sizeof e);
    e.order = order;
    e.progressMark = -1;
    e.outPoint = duration;
    std::strncpy(e.path, path, sizeof e.path - 1);
    e.media.mediaKind = engines::kClipVideo;
    e.media.duration = duration;
    e.reserved0[3] = 0x5A;  // bytes this system does not interpret travel unchanged
    return e;
}

void PutU32(std::vector<uint8_t>& v, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

TEST(ProjectFormat, EmptyListIsHeaderAndCountChunk) {
    const std::vector<uint8_t> plain = project::BuildPlain({});
    const std::vector<uint8_t> expected = {0x00, 0x10, 10, 0, 0, 0, 0x01, 0x10, 4, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(plain, expected);
}

TEST(ProjectFormat, EntriesRoundTripThroughTheScramblingLayer) {
    const std::vector<FileBatchEntry> entries = {MakeEntry(0, "C:\\clips\\one.mpg", 10'000'000),
                                                 MakeEntry(1, "C:\\clips\\two.avi", 20'000'000),
                                                 MakeEntry(2, "D:\\three.vob", 30'000'000)};
    const std::vector<uint8_t> plain = project::BuildPlain(entries);
    ASSERT_EQ(plain.size(), 16u + 3 * 518u);
    EXPECT_EQ(plain[16], 0x02);  // first entry chunk id 0x1002, little-endian
    EXPECT_EQ(plain[17], 0x10);
    const std::vector<uint8_t> stored = project::Scramble(plain);
    ASSERT_EQ(stored.size(), plain.size() + 8);
    EXPECT_EQ(std::string(stored.begin(), stored.begin() + 4), "QZT1");
    EXPECT_EQ(std::search(stored.begin(), stored.end(), std::begin("one.mpg"), std::end("one.mpg") - 1), stored.end())
        << "paths are not stored in the clear";
    std::vector<FileBatchEntry> back;
    std::string error;
    ASSERT_EQ(project::ParseStored(stored.data(), stored.size(), &back, &error), project::ParseResult::kOk) << error;
    ASSERT_EQ(back.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(std::memcmp(&back[i], &entries[i], sizeof(FileBatchEntry)), 0) << i;
}

TEST(ProjectFormat, UnknownChunksAreSteppedOverByTheirLength) {
    std::vector<uint8_t> plain = project::BuildPlain({MakeEntry(0, "C:\\a.mpg", 1)});
    // A foreign chunk of 3 bytes between the count and the entry.
    const std::vector<uint8_t> foreign = {0x77, 0x20, 3, 0, 0, 0, 0x02, 0x10, 0xFF};
    plain.insert(plain.begin() + 16, foreign.begin(), foreign.end());
    PutU32(plain, 2, static_cast<uint32_t>(plain.size() - 6));
    std::vector<FileBatchEntry> back;
    ASSERT_EQ(project::ParsePlain(plain.data(), plain.size(), &back, nullptr), project::ParseResult::kOk);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_STREQ(back[0].path, "C:\\a.mpg");
}

TEST(ProjectFormat, DamagedAndHostileFilesAreRefusedWithAReason) {
    const std::vector<uint8_t> good = project::BuildPlain({MakeEntry(0, "C:\\a.mpg", 1), MakeEntry(1, "C:\\b.mpg", 2)});
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        project::ParseResult result;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, project::ParseResult::kTooShort});
    cases.push_back({"five bytes", {0x00, 0x10, 0, 0, 0}, project::ParseResult::kTooShort});
    {
        std::vector<uint8_t> b(good.begin(), good.end() - 100);  // truncated inside an entry
        cases.push_back({"truncated", b, project::ParseResult::kDamaged});
        PutU32(b, 2, static_cast<uint32_t>(b.size() - 6));  // length made to agree
        cases.push_back({"truncated with a matching length", b, project::ParseResult::kDamaged});
    }
    {
        std::vector<uint8_t> b = good;
        b[0] = 0x01;
        cases.push_back({"wrong tag", b, project::ParseResult::kDamaged});
    }
    {
        std::vector<uint8_t> b = good;
        PutU32(b, 18, 0xFFFFFFF0u);  // first entry's data length
        cases.push_back({"huge chunk length", b, project::ParseResult::kDamaged});
        PutU32(b, 18, 511);
        cases.push_back({"entry chunk too small", b, project::ParseResult::kDamaged});
    }
    {
        std::vector<uint8_t> b = good;
        PutU32(b, 12, 0x7FFFFFFF);  // the count
        cases.push_back({"huge count", b, project::ParseResult::kDamaged});
    }
    {
        std::vector<uint8_t> b = good;
        std::memset(&b[16 + 6 + 120], 'x', 260);  // first entry's path without its terminator
        cases.push_back({"path over MAX_PATH", b, project::ParseResult::kDamaged});
    }
    {
        std::vector<FileBatchEntry> many(project::kMaxEntries + 1, MakeEntry(0, "C:\\a.mpg", 1));
        cases.push_back({"more entries than a list holds", project::BuildPlain(many), project::ParseResult::kDamaged});
    }
    for (const Case& c : cases) {
        std::vector<FileBatchEntry> back(1);
        std::string error;
        EXPECT_EQ(project::ParsePlain(c.bytes.data(), c.bytes.size(), &back, &error), c.result) << c.name;
        EXPECT_TRUE(back.empty()) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }

    // The layer: a changed byte, a cut, a foreign mark.
    const std::vector<uint8_t> stored = project::Scramble(good);
    std::vector<std::vector<uint8_t>> broken(3, stored);
    broken[0][40] ^= 1;
    broken[1].resize(stored.size() - 1);
    broken[2][0] = 'X';
    for (size_t i = 0; i < broken.size(); ++i) {
        std::vector<FileBatchEntry> back;
        std::string error;
        EXPECT_EQ(project::ParseStored(broken[i].data(), broken[i].size(), &back, &error),
                  project::ParseResult::kDamaged)
            << i;
        EXPECT_TRUE(back.empty());
    }
}

}  // namespace
