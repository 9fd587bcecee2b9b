// The DVD-VR management file: a new folder's file, recordings that accumulate, damaged
// existing files refused without a change, a failure at every step of writing leaving
// the old file as it was, and counters that refuse when full.
#include "editor/core/vr_ifo.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "editor/core/tests/join_fixtures.h"
#include "editor/core/tests/ps_fixtures.h"
#include "tools/mpeg_join.h"

namespace {

using editor::CVrIfo;
using editor::VrIfoContents;
using editor::VrMovieInfo;

uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
uint32_t Be16(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 8 | b[at + 1];
}

std::string Folder(const std::string& stem) {
    return testsupport::FixturePath(testsupport::UniqueName(stem));
}

// A recording of `vobus` video object units of `sectors` sectors each.
VrMovieInfo Movie(int vobus, int sectors, int audioCoding = 2) {
    VrMovieInfo m;
    m.audioCoding = audioCoding;
    m.audioField5 = 1;  // two channels
    m.audioField6 = 7;
    m.video = {1, 1, 0, 0};
    m.year = 2026;
    m.month = 12;
    m.day = 10;
    m.hour = 3;
    m.minute = 4;
    m.second = 5;
    m.startTime = 18000;
    m.endTime = 18000 + uint32_t(vobus) * 45000;
    m.timeZoneBias = -60;
    for (int i = 0; i < vobus; ++i)
        m.tableB.insert(m.tableB.end(), {25, uint8_t(sectors >> 8), uint8_t(sectors)});
    m.tableA = {0, 1, 0, 0, 0, 0, 0};
    return m;
}

bool RecordMovie(const std::string& folder, const VrMovieInfo& m, std::string* error = nullptr) {
    CVrIfo ifo;
    ifo.OpenFolder(folder);
    ifo.SetMovie(m);
    std::string why;
    const bool ok = ifo.Build(&why);
    if (error) *error = why;
    return ok;
}

std::vector<uint8_t> IfoBytes(const std::string& folder) {
    return editor_test::ReadFile(folder + "/VR_MANGR.IFO");
}

TEST(VrIfo, NewFolderGetsOneMovieOneProgramOneAttribute) {
    const std::string folder = Folder("vr-new");
    ASSERT_TRUE(RecordMovie(folder, Movie(3, 200))) << folder;
    const std::vector<uint8_t> f = IfoBytes(folder);
    ASSERT_EQ(f.size(), 12288u);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 12), "DVD_RTR_VMG0");
    EXPECT_EQ(Be32(f, 12), 12287u);
    EXPECT_EQ(Be32(f, 28), 519u);
    EXPECT_EQ(Be32(f, 256), 520u);
    EXPECT_EQ(f[33], 0x10);
    EXPECT_EQ(Be16(f, 64), 0x1000u | 120u);  // 60 - (-60) minutes
    EXPECT_EQ(f[67], 0x12);
    EXPECT_EQ(f[519], 7);
    VrIfoContents c;
    std::string why;
    ASSERT_TRUE(CVrIfo::Parse(f, &c, &why)) << why;
    ASSERT_EQ(c.attributes.size(), 1u);
    EXPECT_EQ(c.attributes[0][0], 0x50);  // video fields 1, 1, 0
    EXPECT_EQ(c.attributes[0][4], 0x41);  // audio coding 2, flag 1
    ASSERT_EQ(c.movies.size(), 1u);
    const std::vector<uint8_t>& movie = c.movies[0];
    ASSERT_EQ(movie.size(), 33u + 7 + 9);
    EXPECT_EQ(movie[8], 1);
    EXPECT_EQ(Be32(movie, 9), 18000u);
    EXPECT_EQ(Be16(movie, 23), 1u);
    EXPECT_EQ(Be16(movie, 25), 3u);
    EXPECT_EQ(Be32(movie, 29), 0u);  // start sector
    // 2026-12-10 03:04:05 in 14, 4, 5, 5, 6, 6 bits.
    const uint64_t when = uint64_t(movie[2]) << 32 | uint64_t(Be32(movie, 3));
    EXPECT_EQ(when, uint64_t(2026) << 26 | 12u << 22 | 10u << 17 | 3u << 12 | 4u << 6 | 5u);
    EXPECT_EQ(c.titles.size(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&c.titles[0][4])), "This is a DVD-VR Test Program");
    ASSERT_EQ(c.programs.size(), 1u);
    EXPECT_EQ(c.programs[0].size(), 25u);
    EXPECT_EQ(c.sectors, 600u);
    EXPECT_EQ(c.secondTable, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 7}));
}

TEST(VrIfo, RecordingsAccumulate) {
    const std::string folder = Folder("vr-more");
    ASSERT_TRUE(RecordMovie(folder, Movie(3, 200)));
    ASSERT_TRUE(RecordMovie(folder, Movie(2, 300)));  // the same attributes
    std::vector<uint8_t> f = IfoBytes(folder);
    VrIfoContents c;
    std::string why;
    ASSERT_TRUE(CVrIfo::Parse(f, &c, &why)) << why;
    EXPECT_EQ(c.attributes.size(), 1u);
    ASSERT_EQ(c.movies.size(), 2u);
    EXPECT_EQ(Be32(c.movies[1], 29), 600u);  // after the first movie's sectors
    EXPECT_EQ(c.movies[1][8], 1);
    ASSERT_EQ(c.programs.size(), 2u);
    EXPECT_EQ(Be16(c.programs[1], 2), 2u);  // the second movie entry
    EXPECT_EQ(c.titles[1][135], 2);         // the second program
    EXPECT_EQ(c.sectors, 1200u);

    ASSERT_TRUE(RecordMovie(folder, Movie(1, 100, 0)));  // other audio: a new attribute record
    f = IfoBytes(folder);
    ASSERT_TRUE(CVrIfo::Parse(f, &c, &why)) << why;
    EXPECT_EQ(c.attributes.size(), 2u);
    EXPECT_EQ(c.movies[2][8], 2);
    EXPECT_EQ(Be32(c.movies[2], 29), 1200u);
    EXPECT_EQ(f.size(), 12288u);
}

// Damaged existing files: each is refused with a reason, and stays as it was.
TEST(VrIfo, DamagedExistingFilesAreRefusedAndKept) {
    const std::string base = Folder("vr-good");
    ASSERT_TRUE(RecordMovie(base, Movie(2, 100)));
    ASSERT_TRUE(RecordMovie(base, Movie(2, 100)));
    const std::vector<uint8_t> good = IfoBytes(base);
    VrIfoContents c;
    std::string why;
    ASSERT_TRUE(CVrIfo::Parse(good, &c, &why));
    const size_t movieStart = Be32(good, 256), programStart = Be32(good, 304);
    struct Damage {
        const char* what;
        std::function<void(std::vector<uint8_t>*)> apply;
    };
    const Damage damages[] = {
        {"cut in the header", [](std::vector<uint8_t>* f) { f->resize(300); }},
        {"not the magic", [](std::vector<uint8_t>* f) { (*f)[0] = 'X'; }},
        {"header length past the end", [](std::vector<uint8_t>* f) { (*f)[28] = 0x7F; }},
        {"movie table past the end", [](std::vector<uint8_t>* f) { (*f)[256] = 0x7F; }},
        {"movie table length past the end", [&](std::vector<uint8_t>* f) { (*f)[movieStart + 4] = 0x7F; }},
        {"attribute count past the table", [&](std::vector<uint8_t>* f) { (*f)[movieStart + 3] = 0xFF; }},
        {"movie count past the table", [&](std::vector<uint8_t>* f) { (*f)[movieStart + 8 + 60] = 0x7F; }},
        {"movie offset past the table", [&](std::vector<uint8_t>* f) { (*f)[movieStart + 8 + 60 + 2] = 0x7F; }},
        {"entry counts past the table",
         [&](std::vector<uint8_t>* f) {
             const size_t entry = movieStart + Be32(*f, movieStart + 8 + 60 + 2);
             (*f)[entry + 25] = 0xFF;
         }},
        {"program table past the end", [](std::vector<uint8_t>* f) { (*f)[304] = 0x7F; }},
        {"program count past the table", [&](std::vector<uint8_t>* f) { (*f)[programStart + 2] = 0xFF; }},
        {"program offset past the file", [&](std::vector<uint8_t>* f) { (*f)[programStart + 4 + 2 * 142] = 0x7F; }},
        {"carried table past the end", [](std::vector<uint8_t>* f) { (*f)[308] = 0x7F; }},
        {"cut in the tables", [&](std::vector<uint8_t>* f) { f->resize(programStart + 10); }},
    };
    for (const Damage& d : damages) {
        std::vector<uint8_t> bad = good;
        d.apply(&bad);
        EXPECT_FALSE(CVrIfo::Parse(bad, &c, &why)) << d.what;
        const std::string folder = Folder("vr-bad");
        std::filesystem::create_directories(folder);
        {
            std::FILE* f = std::fopen((folder + "/VR_MANGR.IFO").c_str(), "wb");
            ASSERT_TRUE(f);
            std::fwrite(bad.data(), 1, bad.size(), f);
            std::fclose(f);
        }
        std::string error;
        EXPECT_FALSE(RecordMovie(folder, Movie(1, 10), &error)) << d.what;
        EXPECT_NE(error.find("left as it is"), std::string::npos) << d.what << ": " << error;
        EXPECT_EQ(IfoBytes(folder), bad) << d.what;
        EXPECT_FALSE(std::filesystem::exists(folder + "/VR_MANGR.IFO.new")) << d.what;
    }
}

// File operations that fail at one chosen step (counting from 0), on the real files.
class FailingOps : public editor::VrFileOps {
public:
    explicit FailingOps(int failAt) : failAt_(failAt) {}
    int steps = 0;
    bool MakeFolder(const std::string& p) override { return Step() && VrFileOps::MakeFolder(p); }
    bool Open(const std::string& p) override { return Step() && VrFileOps::Open(p); }
    bool Write(const uint8_t* d, size_t n) override {
        if (!Step()) {
            // Half a write reaches the file, as when a disk fills.
            VrFileOps::Write(d, n / 2);
            return false;
        }
        return VrFileOps::Write(d, n);
    }
    bool Close() override {
        const bool ok = VrFileOps::Close();
        return Step() && ok;
    }
    bool Replace(const std::string& from, const std::string& to) override {
        return Step() && VrFileOps::Replace(from, to);
    }

private:
    bool Step() { return steps++ != failAt_; }
    int failAt_;
};

TEST(VrIfo, AFailureAtEveryStepKeepsTheOldFile) {
    const std::string folder = Folder("vr-fail");
    ASSERT_TRUE(RecordMovie(folder, Movie(2, 100)));
    const std::vector<uint8_t> before = IfoBytes(folder);
    int total = 0;
    {
        // The steps of a build that succeeds, counted on a copy of the folder.
        const std::string copy = Folder("vr-count");
        std::filesystem::create_directories(copy);
        std::filesystem::copy_file(folder + "/VR_MANGR.IFO", copy + "/VR_MANGR.IFO");
        FailingOps counting(-1);
        CVrIfo dry(&counting);
        dry.OpenFolder(copy);
        dry.SetMovie(Movie(1, 50));
        ASSERT_TRUE(dry.Build(nullptr));
        total = counting.steps;
    }
    ASSERT_GE(total, 8);  // folder, open, four tables, zeros, close, replace
    for (int step = 0; step < total; ++step) {
        FailingOps ops(step);
        CVrIfo ifo(&ops);
        ifo.OpenFolder(folder);
        ifo.SetMovie(Movie(1, 50));
        std::string error;
        EXPECT_FALSE(ifo.Build(&error)) << step;
        EXPECT_FALSE(error.empty()) << step;
        EXPECT_EQ(IfoBytes(folder), before) << "step " << step;
        EXPECT_FALSE(std::filesystem::exists(folder + "/VR_MANGR.IFO.new")) << step;
    }
    ASSERT_TRUE(RecordMovie(folder, Movie(1, 50)));
    VrIfoContents c;
    std::string why;
    ASSERT_TRUE(CVrIfo::Parse(IfoBytes(folder), &c, &why)) << why;
    EXPECT_EQ(c.movies.size(), 2u);
}

// Counters that would wrap refuse instead: 255 programs fill the title count.
TEST(VrIfo, FullCountersRefuse) {
    const std::string folder = Folder("vr-full");
    for (int i = 0; i < 255; ++i)
        ASSERT_TRUE(RecordMovie(folder, Movie(1, 1))) << i;
    const std::vector<uint8_t> full = IfoBytes(folder);
    std::string error;
    EXPECT_FALSE(RecordMovie(folder, Movie(1, 1), &error));
    EXPECT_NE(error.find("as many programs"), std::string::npos) << error;
    EXPECT_EQ(IfoBytes(folder), full);

    VrMovieInfo huge = Movie(0x10000, 1);
    EXPECT_FALSE(RecordMovie(Folder("vr-huge"), huge, &error));
    EXPECT_NE(error.find("more entries"), std::string::npos) << error;
}

// Two DVD-VR joins into one folder: each stream decodes without a word, and the
// management file records both, one table-B entry per navigation pack with the sectors
// between them, the second movie starting where the first one's sectors end.
TEST(VrIfo, DvdVrJoinsAreRecordedInTheFolder) {
    const std::string clip = editor_test::Clip("pal-dvd", "720x576", "-bf 2 -g 12 -c:a mp2 -b:a 224k", 300);
    const std::string folder = Folder("vr-join");
    std::filesystem::create_directories(folder);
    const std::string streams[2] = {folder + "/VR_MOVIE.VRO", folder + "/second.vro"};
    const char* cuts[2][2] = {{"0.5", "6.5"}, {"1.0", "4.0"}};
    uint64_t sectors[2] = {0, 0};
    size_t units[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const tools::JoinResult r = tools::RunJoin({"--type", "dvdvr", "-o", streams[i], clip, cuts[i][0], cuts[i][1]});
        ASSERT_EQ(r.status, 0) << r.message;
        EXPECT_EQ(
            editor_test::Shell("ffmpeg -nostdin -v error -i '" + editor_test::FixtureName(streams[i]) + "' -f null -"),
            "");
        const std::vector<uint8_t> vro = editor_test::ReadFile(streams[i]);
        ASSERT_EQ(vro.size() % 2048, 0u);
        sectors[i] = vro.size() / 2048;
        // Navigation packs: a system header right after the pack header.
        for (size_t at = 0; at + 18 <= vro.size(); at += 2048)
            if (vro[at + 14] == 0 && vro[at + 15] == 0 && vro[at + 16] == 1 && vro[at + 17] == 0xBB) ++units[i];
    }
    VrIfoContents c;
    std::string why;
    const std::vector<uint8_t> ifo = IfoBytes(folder);
    ASSERT_TRUE(CVrIfo::Parse(ifo, &c, &why)) << why;
    ASSERT_EQ(c.movies.size(), 2u);
    EXPECT_EQ(c.attributes.size(), 1u);
    EXPECT_EQ(c.attributes[0][0], 0x50);    // MPEG-2, PAL, 4:3
    EXPECT_EQ(c.attributes[0][4] >> 5, 2);  // MPEG audio
    EXPECT_EQ(c.sectors, sectors[0] + sectors[1]);
    for (int i = 0; i < 2; ++i) {
        const std::vector<uint8_t>& m = c.movies[size_t(i)];
        EXPECT_EQ(Be16(m, 25), units[i]);
        EXPECT_GT(units[i], 5u);
        EXPECT_EQ(Be32(m, 29), i == 0 ? 0u : uint32_t(sectors[0]));
        // About the cut's length between the first and last picture (90 kHz).
        const double seconds = double(Be32(m, 15) - Be32(m, 9)) / 90000.0;
        EXPECT_NEAR(seconds, std::atof(cuts[i][1]) - std::atof(cuts[i][0]), 1.0);
        // Every unit but the last lasts a GOP of 12 pictures: 24 fields.
        const size_t tables = 33 + 7 * size_t(Be16(m, 23));
        for (size_t k = 0; k + 1 < units[i]; ++k)
            EXPECT_EQ(m[tables + 3 * k], 24) << i << " " << k;
    }

    // A management file that cannot be read back fails the join and stays as it was.
    std::vector<uint8_t> damaged = ifo;
    damaged[256] = 0x7F;
    {
        std::FILE* f = std::fopen((folder + "/VR_MANGR.IFO").c_str(), "wb");
        ASSERT_TRUE(f);
        std::fwrite(damaged.data(), 1, damaged.size(), f);
        std::fclose(f);
    }
    const tools::JoinResult r = tools::RunJoin({"--type", "dvdvr", "-o", folder + "/third.vro", clip, "1", "2"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(IfoBytes(folder), damaged);
}

}  // namespace
