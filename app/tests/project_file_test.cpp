// The project file under Wine: a saved project reads back the same, the missing-file question
// with each of its answers (driven as a user would), and damaged or hostile files refused with
// nothing changed.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/project_file.h"
#include "app/resources/resource_ids.h"
#include "app/services/preferences.h"
#include "app/services/settings_keys.h"
#include "app/services/tests/registry_helpers.h"
#include "app/tests/dialog_driver.h"
#include "app/skin/tests/window_support.h"
#include "tests/support/shell.h"

namespace {

constexpr char kLocateTitle[] = "Locate file";

FileBatchEntry MakeEntry(int order, const std::string& path) {
    FileBatchEntry e;
    std::memset(&e, 0, sizeof e);
    e.order = order;
    e.progressMark = -1;
    e.inPoint = 1000;
    e.outPoint = 5'000'000 + order;
    lstrcpynA(e.path, path.c_str(), sizeof e.path);
    e.media.mediaKind = engines::kClipVideo;
    e.media.duration = 9'000'000;
    e.media.width = 720;
    return e;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::vector<FileBatchEntry> Entries(CProjectFile& project) {
    CPtrList* list = nullptr;
    EXPECT_EQ(project.GetEntries(&list), 1);
    std::vector<FileBatchEntry> out;
    for (POSITION pos = list->GetHeadPosition(); pos;)
        out.push_back(*static_cast<FileBatchEntry*>(list->GetNext(pos)));
    return out;
}

engines::ClipInfo g_probeInfo{};
int g_probeFailures = 0;  // how many probes fail before one succeeds
std::vector<std::string> g_probed;

int FakeProbe(const char* path, engines::ClipInfo* info) {
    g_probed.push_back(path);
    if (g_probeFailures > 0) {
        --g_probeFailures;
        return 0;
    }
    *info = g_probeInfo;
    return 1;
}

class ProjectFileTest : public ResourceLibraryTest {
protected:
    void SetUp() override {
        folder_ = testsupport::FixturePath(testsupport::UniqueName("project"));
        CreateDirectoryA(folder_.c_str(), nullptr);
        for (int i = 0; i < 4; ++i) {
            clips_.push_back(folder_ + "\\clip " + std::to_string(i) + ".mpg");
            std::ofstream(clips_.back()) << "clip";
        }
        AfxSetMessageBoxHook([this](const MessageBoxRequest& r) {
            boxes_.push_back(r.id);
            return IDOK;
        });
        SetClipProbe(FakeProbe);
        g_probed.clear();
        g_probeFailures = 0;
        g_probeInfo = engines::ClipInfo{};
        g_probeInfo.mediaKind = engines::kClipVideo;
        g_probeInfo.duration = 77'000'000;
        g_probeInfo.width = 352;
    }
    void TearDown() override {
        SetClipProbe(nullptr);
        AfxSetMessageBoxHook(nullptr);
        servicestest::DeleteKeyTree(HKEY_CURRENT_USER, kVistrelKey);
    }
    // Saves entries for clips 0..n-1 (their order numbers 10, 11, ...) as `name`.
    std::string SaveProject(const std::string& name, const std::vector<std::string>& paths) {
        CProjectFile project;
        CPtrList* list = nullptr;
        project.GetEntries(&list);
        for (size_t i = 0; i < paths.size(); ++i)
            list->AddTail(new FileBatchEntry(MakeEntry(10 + static_cast<int>(i), paths[i])));
        const std::string path = folder_ + "\\" + name;
        EXPECT_EQ(project.Save(path.c_str()), 1);
        return path;
    }
    servicestest::RegistryLock lock_;
    std::string folder_;
    std::vector<std::string> clips_;
    std::vector<UINT> boxes_;
};

TEST_F(ProjectFileTest, ThreeEntriesSavedAndOpenedAgainAreTheSame) {
    const std::string path = SaveProject("three.qzt", {clips_[0], clips_[1], clips_[2]});
    const std::vector<uint8_t> stored = ReadAll(path);
    ASSERT_GE(stored.size(), 8u);
    EXPECT_EQ(std::string(stored.begin(), stored.begin() + 4), "QZT1");
    EXPECT_EQ(stored.size(), 8u + 16u + 3 * 518u);
    char last[MAX_PATH] = {};
    ASSERT_EQ(GetLastProjectName(last, sizeof last), 1);
    EXPECT_STREQ(last, path.c_str());
    EXPECT_EQ(GetFileAttributesA((path + ".new").c_str()), INVALID_FILE_ATTRIBUTES) << "no temporary file stays";

    CProjectFile opened;
    DialogDriver driver({});
    ASSERT_EQ(opened.Load(path.c_str()), 1);
    const std::vector<FileBatchEntry> back = Entries(opened);
    ASSERT_EQ(back.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const FileBatchEntry expected = MakeEntry(10 + i, clips_[i]);
        EXPECT_EQ(std::memcmp(&back[i], &expected, sizeof expected), 0) << i;
    }
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(driver.Seen().empty()) << "no question when every input exists";
}

// Each answer to the question about a removed input file, as the user gives it.
TEST_F(ProjectFileTest, MissingFileQuestionAndEachAnswer) {
    const std::string missing1 = folder_ + "\\gone one.mpg", missing2 = folder_ + "\\gone two.mpg";
    const std::string path = SaveProject("missing.qzt", {clips_[0], missing1, clips_[1], missing2, clips_[2]});
    auto click = [](int id) { return [id](HWND dialog) { DialogDriver::Click(dialog, id); }; };
    auto paths = [](const std::vector<FileBatchEntry>& entries) {
        std::vector<std::string> out;
        for (const FileBatchEntry& e : entries)
            out.push_back(e.path);
        return out;
    };

    {  // Skip: that entry goes, the next missing one is asked about again.
        CProjectFile project;
        DialogDriver driver({{kLocateTitle, click(IDC_MESSAGE_SKIP)}, {kLocateTitle, click(IDC_MESSAGE_SKIP)}});
        EXPECT_EQ(project.Load(path.c_str()), 1);
        EXPECT_EQ(driver.Done(), 2u);
        EXPECT_EQ(paths(Entries(project)), (std::vector<std::string>{clips_[0], clips_[1], clips_[2]}));
        EXPECT_EQ(project.GetSkipMissing(), 0);
    }
    {  // Skip all: one question; every later missing file is dropped silently.
        CProjectFile project;
        DialogDriver driver({{kLocateTitle, click(IDC_MESSAGE_SKIP_ALL)}, {kLocateTitle, click(IDCANCEL)}});
        EXPECT_EQ(project.Load(path.c_str()), 1);
        EXPECT_EQ(driver.Done(), 1u) << "asked once";
        EXPECT_EQ(paths(Entries(project)), (std::vector<std::string>{clips_[0], clips_[1], clips_[2]}));
        EXPECT_EQ(project.GetSkipMissing(), 1);
    }
    {  // Stop: reading ends there; what was read stays and the load counts as done.
        CProjectFile project;
        DialogDriver driver({{kLocateTitle, click(IDCANCEL)}});
        EXPECT_EQ(project.Load(path.c_str()), 1);
        EXPECT_EQ(driver.Done(), 1u);
        EXPECT_EQ(paths(Entries(project)), (std::vector<std::string>{clips_[0]}));
    }
    {  // Locate: the file dialog picks a replacement; a rejected one is told and asked again.
        g_probeFailures = 1;
        CProjectFile project;
        auto pick = [](const std::string& file) {
            return [file](HWND dialog) {
                SetDlgItemTextA(dialog, 0x47C, file.c_str());  // the file name box
                SetDlgItemTextA(dialog, 0x480, file.c_str());
                DialogDriver::Click(dialog, IDOK);
            };
        };
        DialogDriver driver({{kLocateTitle, click(IDOK)},
                             {"", pick(clips_[3])},
                             {kLocateTitle, click(IDOK)},
                             {"", pick(clips_[3])},
                             {kLocateTitle, click(IDC_MESSAGE_SKIP)}});
        EXPECT_EQ(project.Load(path.c_str()), 1);
        EXPECT_EQ(driver.Done(), 5u);
        EXPECT_EQ(boxes_, std::vector<UINT>{IDS_NOT_A_USABLE_CLIP}) << "the rejected replacement is told";
        ASSERT_EQ(g_probed.size(), 2u);
        EXPECT_STRCASEEQ(g_probed[1].c_str(), clips_[3].c_str());
        const std::vector<FileBatchEntry> entries = Entries(project);
        ASSERT_EQ(entries.size(), 4u);
        EXPECT_STRCASEEQ(entries[1].path, clips_[3].c_str());
        // The rebuilt entry: path, the probe's block and the whole clip; nothing else kept.
        FileBatchEntry expected;
        std::memset(&expected, 0, sizeof expected);
        expected.progressMark = -1;
        expected.outPoint = g_probeInfo.duration;
        lstrcpynA(expected.path, entries[1].path, sizeof expected.path);
        expected.media = g_probeInfo;
        EXPECT_EQ(std::memcmp(&entries[1], &expected, sizeof expected), 0);
        EXPECT_EQ(entries[2].order, 12) << "the other entries stay as stored";
    }
}

TEST_F(ProjectFileTest, MissingDvdFilesAreDroppedWithoutAQuestion) {
    const std::string path =
        SaveProject("dvd.qzt", {folder_ + "\\VTS_01_1.VOB", clips_[0], folder_ + "\\VR_MOVIE.vro"});
    CProjectFile project;
    DialogDriver driver({{kLocateTitle, [](HWND d) { DialogDriver::Click(d, IDCANCEL); }}});
    EXPECT_EQ(project.Load(path.c_str()), 1);
    EXPECT_EQ(driver.Done(), 0u);
    ASSERT_EQ(Entries(project).size(), 1u);
}

TEST_F(ProjectFileTest, DamagedAndHostileFilesAreRefusedWithNothingChanged) {
    const std::string good = SaveProject("good.qzt", {clips_[0], clips_[1]});
    const std::vector<uint8_t> stored = ReadAll(good);
    SetLastProjectName("C:\\kept.qzt");
    std::vector<uint8_t> plain;
    ASSERT_TRUE(project::Unscramble(stored.data(), stored.size(), &plain, nullptr));
    auto hostile = [&](auto edit) {
        std::vector<uint8_t> p = plain;
        edit(p);
        return project::Scramble(p);
    };
    auto put32 = [](std::vector<uint8_t>& v, size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            v[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
        {"empty", {}},
        {"truncated", std::vector<uint8_t>(stored.begin(), stored.end() - 300)},
        {"wrong chunk size", hostile([&](std::vector<uint8_t>& p) { put32(p, 18, 600); })},
        {"huge count", hostile([&](std::vector<uint8_t>& p) { put32(p, 12, 0xFFFFFFFFu); })},
        {"path over MAX_PATH", hostile([&](std::vector<uint8_t>& p) { std::memset(&p[22 + 120], 'a', 260); })},
        {"not a project", std::vector<uint8_t>(600, 'x')},
    };
    for (const auto& [name, bytes] : cases) {
        const std::string path = folder_ + "\\hostile.qzt";
        WriteAll(path, bytes);
        boxes_.clear();
        CProjectFile project;
        DialogDriver driver({{kLocateTitle, [](HWND d) { DialogDriver::Click(d, IDCANCEL); }}});
        EXPECT_EQ(project.Load(path.c_str()), 0) << name;
        EXPECT_EQ(boxes_, std::vector<UINT>{IDS_PROJECT_DAMAGED}) << name;
        EXPECT_TRUE(Entries(project).empty()) << name;
        EXPECT_EQ(driver.Done(), 0u) << name << ": nothing asked";
        EXPECT_EQ(ReadAll(path), bytes) << name << ": the file is left as it was";
    }
    char last[MAX_PATH] = {};
    ASSERT_EQ(GetLastProjectName(last, sizeof last), 1);
    EXPECT_STREQ(last, "C:\\kept.qzt");
    boxes_.clear();
    CProjectFile missing;
    EXPECT_EQ(missing.Load((folder_ + "\\no such project.qzt").c_str()), 0);
    EXPECT_EQ(boxes_, std::vector<UINT>{IDS_PROJECT_DAMAGED});
}

TEST_F(ProjectFileTest, AFailedSaveKeepsTheOldFileAndSaysSo) {
    const std::string path = SaveProject("kept.qzt", {clips_[0]});
    const std::vector<uint8_t> before = ReadAll(path);
    // A folder where the new content would be written beside the file makes the write fail.
    ASSERT_TRUE(CreateDirectoryA((path + ".new").c_str(), nullptr));
    CProjectFile project;
    CPtrList* list = nullptr;
    project.GetEntries(&list);
    list->AddTail(new FileBatchEntry(MakeEntry(1, clips_[1])));
    SetLastProjectName("C:\\kept.qzt");
    EXPECT_EQ(project.Save(path.c_str()), 0);
    EXPECT_EQ(boxes_.size(), 1u) << "the user is told";
    EXPECT_EQ(ReadAll(path), before);
    char last[MAX_PATH] = {};
    GetLastProjectName(last, sizeof last);
    EXPECT_STREQ(last, "C:\\kept.qzt");
    RemoveDirectoryA((path + ".new").c_str());
}

}  // namespace
