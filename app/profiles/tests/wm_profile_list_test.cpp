#include "app/profiles/wm_profile_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <map>

#include "app/profiles/codec_thread.h"
#include "app/profiles/profile_manager.h"
#include "app/profiles/tests/profile_test_support.h"

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
    s.codecKey = 0x161;
    s.info.bitRate = 64000;
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
    s.codecKey = 0x33564D57;  // WMV3
    s.info.bitRate = 500000;
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
    std::vector<WMRawCodec> codecs;
    bool codecInfo = true;

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
    bool ListCodecs(std::vector<WMRawCodec>* out) override {
        if (codecInfo) *out = codecs;
        return codecInfo;
    }
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

TEST(WMCodecNameTable, NamesByTagAndCodeTheLaterCodecWinning) {
    FakeRuntime rt;
    const std::wstring longName(300, L'n');
    rt.codecs = {{true, 0x161, L"Audio 9"},        {true, 0x160, L"Audio 1"},    {false, 0x33564D57, L"Video 9"},
                 {false, 0x33564D57, L"Video 9+"}, {false, 0x34363248, L"H264"}, {false, 0x5334504D, longName}};
    WMCodecNameTable names;
    rt.codecInfo = false;
    names.Build(rt);
    EXPECT_FALSE(names.Built());  // tried again by the next caller
    rt.codecInfo = true;
    names.Build(rt);
    ASSERT_TRUE(names.Built());
    EXPECT_EQ(names.AudioName(0x161), L"Audio 9");
    EXPECT_EQ(names.AudioName(0x160), L"");
    EXPECT_EQ(names.VideoName(0x33564D57), L"Video 9+");
    EXPECT_EQ(names.VideoName(0x34363248), L"");  // the fallback slot stays empty
    EXPECT_EQ(names.VideoName(0x5334504D), longName.substr(0, WMCodecNameTable::kNameLimit));

    WMRawProfile raw;
    raw.profile = std::make_shared<int>(1);
    WMRawStream mpeg = Video(3, WMRawStream::Format::kMpeg2Video);
    raw.streams = {Audio(1), Video(2), mpeg};
    WMProfileInfo info;
    ASSERT_EQ(ReadProfileInfo(raw, &info, &names), kWMOk);
    EXPECT_EQ(info.audio->codecName, L"Audio 9");
    ASSERT_EQ(info.video.size(), 2u);
    EXPECT_EQ(info.video[0].codecName, L"Video 9+");
    EXPECT_EQ(info.video[0].quality, 75u);
    EXPECT_EQ(info.video[1].codecName, L"");  // an MPEG format names no codec
}

// The codec thread lists the codecs and fills the Stream Info list; until it is done the
// store shows no entries and a wait returns at its bound, pumping the caller's messages.
TEST(CodecThread, FillsTheStreamInfoListAndTheWaitIsBounded) {
    FakeRuntime rt;
    WMRawProfile p;
    p.profile = std::make_shared<int>(1);
    p.name = L"Video for broadband";
    p.description = L"two streams";
    p.streams = {Video(1), Audio(2)};
    rt.system[0x70000] = {p};
    rt.codecs = {{true, 0x161, L"Audio 9"}, {false, 0x33564D57, L"Video 9"}};
    testing::GatedMachine machine;
    std::promise<void> open;
    machine.gate = open.get_future().share();
    testing::FakeStrings strings;
    testing::TempAppFolder folder;
    CProfileManager store(strings, folder, nullptr, &machine);
    {
        CodecThread thread;
        thread.Start(store, &rt);
        int pumped = 0;
        EXPECT_FALSE(thread.Wait(3 * CodecThread::kPumpIntervalMs, [&] { return ++pumped > 0; }));
        EXPECT_GE(pumped, 1);
        pumped = 0;
        EXPECT_FALSE(thread.Wait(60000, [&] { return ++pumped < 3; }));  // the caller ends it
        EXPECT_EQ(pumped, 3);
        uint32_t n = 9;
        EXPECT_EQ(store.CountProfiles(kClassStreamInfo, &n), kProfileOk);
        EXPECT_EQ(n, 0u);  // nothing read while the thread runs
        open.set_value();
        ASSERT_TRUE(thread.Wait(60000));
        EXPECT_TRUE(thread.Done());
        ASSERT_EQ(CCodecList::Entries().size(), 1u);
        EXPECT_EQ(CCodecList::Entries()[0].filterName, "DivX 5 Codec");
        ASSERT_EQ(store.CountProfiles(kClassStreamInfo, &n), kProfileOk);
        ASSERT_EQ(n, 1u);
        ProfileRecord r{};
        ASSERT_EQ(store.ReadProfile(kClassStreamInfo, 0, r, "Video for broadband", 0), kProfileOk);
        EXPECT_EQ(r.head.videoFormatClass, kClassStreamInfo);
        EXPECT_STREQ(r.head.description, "two streams");
        const std::string text = r.block.streamInfo.text;
        EXPECT_NE(text.find("Video 9, 320x240, 29 fps, 500 kbit/s, quality 75, key picture at least every 8 s"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("Audio 9, 44100 Hz, 2 channel(s), 64 kbit/s"), std::string::npos) << text;
        const uint32_t values[4] = {0x70000, 0, 500000, 64000};
        EXPECT_EQ(std::memcmp(r.block.streamInfo.values, values, sizeof values), 0);
    }
    store.ReleaseCodecs();
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
