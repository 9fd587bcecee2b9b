#include "app/profiles/wm_profile_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>

#ifdef _WIN32
#include <objbase.h>
#endif

namespace profiles {
namespace {

WMRawStream Audio(uint16_t number) {
    WMRawStream s;
    s.kind = WMRawStream::Kind::kAudio;
    s.format = WMRawStream::Format::kWave;
    s.info.streamNumber = number;
    s.samplesPerSec = 44100;
    s.channels = 2;
    return s;
}

WMRawStream Video(uint16_t number, WMRawStream::Format format = WMRawStream::Format::kVideoInfo) {
    WMRawStream s;
    s.kind = WMRawStream::Kind::kVideo;
    s.format = format;
    s.info.streamNumber = number;
    s.width = 320;
    s.height = -240;  // top-down
    s.averageTimePerFrame = 333667;
    s.quality = 75;
    s.maxKeyFrameSpacing = 80000000;
    return s;
}

// A runtime whose system profiles answer `systemResult` and whose folders hold the texts given.
class FakeRuntime : public WMRuntime {
public:
    bool open = true;
    WMResult systemResult = kWMOk;
    std::map<uint32_t, std::vector<WMRawProfile>> system;
    std::map<std::wstring, std::vector<std::pair<std::wstring, std::string>>> folders;  // path, bytes
    std::vector<uint32_t> versionsAsked;

    bool Open() override { return open; }
    WMResult SystemProfileCount(uint32_t version, uint32_t* count) override {
        versionsAsked.push_back(version);
        if (systemResult != kWMOk) return systemResult;
        *count = static_cast<uint32_t>(system[version].size());
        return kWMOk;
    }
    WMResult LoadSystemProfile(uint32_t version, uint32_t index, WMRawProfile* out) override {
        *out = system[version].at(index);
        return kWMOk;
    }
    WMResult LoadProfileText(const std::wstring& text, WMRawProfile* out) override {
        if (text.rfind(L"<profile", 0) != 0) return kWMFail;
        out->profile = std::make_shared<int>(1);
        out->name = text;
        out->streams = {Audio(1), Video(2)};
        return kWMOk;
    }
    bool ListFolder(const std::wstring& folder, std::vector<std::wstring>* files) override {
        auto it = folders.find(folder);
        if (it == folders.end()) return false;
        for (const auto& f : it->second)
            files->push_back(f.first);
        return true;
    }
    bool ReadFile(const std::wstring& path, size_t limit, std::vector<uint8_t>* bytes) override {
        for (const auto& [folder, files] : folders)
            for (const auto& f : files)
                if (f.first == path && f.second.size() <= limit) {
                    bytes->assign(f.second.begin(), f.second.end());
                    return true;
                }
        return false;
    }
    std::wstring ModuleFolder() override { return L"C:\\prog\\"; }
};

std::string Utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

TEST(WMProfileInfo, ReadsTheFirstAudioStreamAndStopsAtASecond) {
    WMRawProfile raw;
    raw.profile = std::make_shared<int>(1);
    raw.name = L"two audio";
    raw.streams = {Video(1), Audio(2), Video(3), Audio(4), Video(5)};
    WMProfileInfo info;
    EXPECT_EQ(ReadProfileInfo(raw, &info), kWMOk);
    EXPECT_EQ(info.streamCount, 5u);
    ASSERT_TRUE(info.audio);
    EXPECT_EQ(info.audio->info.streamNumber, 2);
    EXPECT_EQ(info.audio->samplesPerSec, 44100u);
    ASSERT_EQ(info.video.size(), 2u);
    EXPECT_EQ(info.video[1].info.streamNumber, 3);
    EXPECT_EQ(info.video[0].height, 240u);
    EXPECT_EQ(info.video[0].framesPerSecond, 29u);
    EXPECT_EQ(info.video[0].keyFrameSpacing, 8u);

    raw.streams = {Video(1), Video(2, WMRawStream::Format::kOther), Video(3)};
    WMProfileInfo bad;
    EXPECT_EQ(ReadProfileInfo(raw, &bad), kWMInvalidArg);
    EXPECT_EQ(bad.video.size(), 1u);  // what was read before stays
    WMRawProfile none;
    EXPECT_EQ(ReadProfileInfo(none, &bad), WMResult(kWMInvalidParameter));
}

TEST(WMProfileList, SystemProfilesOfEachVersionThenTheFoldersFiles) {
    FakeRuntime rt;
    WMRawProfile p;
    p.profile = std::make_shared<int>(1);
    p.streams = {Audio(1)};
    rt.system[0x40000] = {p, p};
    rt.system[0x90000] = {p};
    rt.folders[L"C:\\prog\\Profiles"] = {
        {L"a.prx", Utf16("<profile a>")}, {L"junk.txt", Utf16("junk")}, {L"odd.prx", Utf16("<profile odd>") + "x"}};
    rt.folders[L"C:\\prog\\ScreenCap"] = {{L"c.prx", Utf16("<profile c>")}};
    CWMProfileList list(&rt);
    EXPECT_EQ(rt.versionsAsked, (std::vector<uint32_t>{0x40000, 0x70000, 0x80000, 0x90000}));
    EXPECT_EQ(list.SystemCount(), 3u);
    EXPECT_EQ(list.FileCount(), 2u);
    ASSERT_EQ(list.Profiles().size(), 5u);
    EXPECT_EQ(list.Profiles()[2]->version, 0x90000u);
    EXPECT_EQ(list.Profiles()[3]->path, L"a.prx");
    EXPECT_EQ(list.Profiles()[4]->name, L"<profile odd>");  // the odd last byte is dropped
    EXPECT_EQ(list.CaptureFolderCount(), 1u);
    EXPECT_EQ(list.CaptureProfileFolderCount(), 0u);
    EXPECT_EQ(list.RemoveAt(9), kWMInvalidIndex);
    EXPECT_EQ(list.RemoveAt(0), 0u);
    EXPECT_EQ(list.SystemCount(), 2u);
    EXPECT_EQ(list.RemoveAt(3), 0u);
    EXPECT_EQ(list.FileCount(), 1u);
}

// Wine's runtime answers E_NOTIMPL for system profiles: none are listed, the files still are.
TEST(WMProfileList, ARuntimeWithoutSystemProfilesKeepsTheFiles) {
    FakeRuntime rt;
    rt.systemResult = static_cast<WMResult>(0x80004001u);
    rt.folders[L"C:\\prog\\Profiles"] = {{L"a.prx", Utf16("<profile a>")}};
    CWMProfileList list(&rt);
    EXPECT_EQ(list.SystemCount(), 0u);
    EXPECT_EQ(list.FileCount(), 1u);
    rt.open = false;
    CWMProfileList none(&rt);
    EXPECT_TRUE(none.Profiles().empty());
}

TEST(WMProfileList, AListHoldsAtMostItsLimit) {
    FakeRuntime rt;
    WMRawProfile p;
    p.profile = std::make_shared<int>(1);
    rt.system[0x70000].assign(kWMListLimit + 20, p);
    CWMProfileList list(&rt);
    EXPECT_EQ(list.Profiles().size(), kWMListLimit);
}

#ifdef _WIN32
// The machine's own runtime under Wine: the inventory returns (no system profiles there).
TEST(WMProfileListOnThisMachine, ReturnsWithoutBlocking) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        // Wine 8 has the runtime and answers E_NOTIMPL for system profiles (measured).
        ASSERT_TRUE(DefaultWMRuntime().Open());
        uint32_t count = 99;
        EXPECT_EQ(DefaultWMRuntime().SystemProfileCount(0x70000, &count), WMResult(0x80004001u));
        EXPECT_EQ(count, 0u);
        CWMProfileList list;
        EXPECT_EQ(list.SystemCount(), 0u);
        for (const auto& p : list.Profiles())
            EXPECT_NE(p->profile, nullptr);
    }
    CoUninitialize();
}
#endif

}  // namespace
}  // namespace profiles
