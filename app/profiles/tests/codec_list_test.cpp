#include "app/profiles/codec_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#ifdef _WIN32
#include <objbase.h>
#endif

#include "app/profiles/profile_manager.h"
#include "app/profiles/tests/profile_test_support.h"

namespace profiles {
namespace {

// A machine with the codec manager's compressors and the category's filters given; it
// counts what is open and held.
class FakeMachine : public CodecPlatform {
public:
    std::vector<std::string> compressors;  // "" stands for one that does not open
    std::vector<std::pair<std::string, bool>> filters;
    bool enumeratorsFail = false;
    std::set<Handle> open;
    std::set<Filter> held;
    std::vector<std::string> errors;
    std::map<Handle, uint32_t> stateSizes;

    bool OpenCompressor(uint32_t index, std::string* description, Handle* handle) override {
        if (index >= compressors.size()) return false;
        *description = compressors[index];
        *handle = compressors[index].empty() ? 0 : 100 + index;
        if (*handle) open.insert(*handle);
        return true;
    }
    void CloseCompressor(Handle handle) override { EXPECT_EQ(open.erase(handle), 1u) << "closed twice"; }
    bool ListCompressorFilters(std::vector<FoundFilter>* out, std::string* error) override {
        if (enumeratorsFail) {
            *error = "no enumerator";
            return false;
        }
        for (size_t i = 0; i < filters.size(); ++i) {
            out->push_back({filters[i].first, filters[i].second, 500 + i});
            held.insert(500 + i);
        }
        return true;
    }
    void ReleaseFilter(Filter filter) override { EXPECT_EQ(held.erase(filter), 1u) << "released twice"; }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    bool CanConfigure(Handle) override { return true; }
    void Configure(Handle handle, uintptr_t) override { configured.push_back(handle); }
    uint32_t GetStateSize(Handle handle) override { return stateSizes[handle]; }
    void GetState(Handle, void* buffer, uint32_t size) override {
        std::memset(buffer, 0xAB, size);
        if (!stateImage.empty()) std::memcpy(buffer, stateImage.data(), std::min<size_t>(size, stateImage.size()));
    }
    std::vector<uint8_t> stateImage;
    std::vector<Handle> configured;
};

std::vector<std::pair<std::string, std::string>> Names() {
    std::vector<std::pair<std::string, std::string>> names;
    for (const CodecEntry& e : CCodecList::Entries())
        names.emplace_back(e.description, e.filterName);
    return names;
}

TEST(CodecList, KeepsCodecsPresentBothWaysAndMatchesDivXByVersion) {
    FakeMachine m;
    m.compressors = {"DivX 5.0.2 Codec", "Cinepak Codec", "", "Only VfW", "Cinepak Codec"};
    m.filters = {
        {"DivX 4.12 Codec", true}, {"DivX Pro 5.0.2 Codec", true}, {"Cinepak Codec", true}, {"Ombrisk", false}};
    {
        CCodecList list(&m);
        ASSERT_EQ(list.Enumerate(0), 1);
        EXPECT_EQ(Names(), (std::vector<std::pair<std::string, std::string>>{
                               {"DivX 5.0.2 Codec", "DivX Pro 5.0.2 Codec"}, {"Cinepak Codec", "Cinepak Codec"}}));
        // Pruned and duplicate codecs are closed; filters not kept are released.
        EXPECT_EQ(m.open.size(), 2u);
        EXPECT_EQ(m.held.size(), 2u);
        list.SelectByName("DivX Pro 5.0.2 Codec");
        EXPECT_EQ(list.SelectedHandle(), 100u);
        list.SelectByName("Cinepak Codec");
        EXPECT_EQ(list.SelectedHandle(), 101u);
        list.SelectByName("nothing");
        EXPECT_EQ(list.SelectedHandle(), 101u);
        list.SelectDivX();
        EXPECT_EQ(list.SelectedHandle(), 100u);
        list.Configure(0);
        EXPECT_EQ(m.configured, std::vector<CodecPlatform::Handle>{100});
        // The state block: a buffer smaller than the state is refused and left alone.
        m.stateSizes[100] = 8;
        uint32_t size = 0;
        EXPECT_EQ(list.GetStateSize(&size), 0);
        EXPECT_EQ(size, 8u);
        uint8_t small[4] = {};
        EXPECT_NE(list.GetState(small, sizeof small), 0);
        EXPECT_EQ(small[0], 0);
        uint8_t whole[8] = {};
        EXPECT_EQ(list.GetState(whole, sizeof whole), 0);
        EXPECT_EQ(whole[7], 0xAB);
        {
            CCodecList second(&m);
            second.CloseAll();  // another list is alive: nothing is closed
            EXPECT_EQ(CCodecList::Entries().size(), 2u);
        }
    }
    // The last list's end closes and releases everything.
    EXPECT_TRUE(CCodecList::Entries().empty());
    EXPECT_TRUE(m.open.empty());
    EXPECT_TRUE(m.held.empty());
}

TEST(CodecList, DivXOnlyAndFailingEnumeratorsAndEmptyCategory) {
    FakeMachine m;
    m.compressors = {"DivX 5.0.2 Codec", "Cinepak Codec"};
    m.filters = {{"DivX 5.0.2 Codec", true}, {"Cinepak Codec", true}};
    {
        CCodecList list(&m);
        ASSERT_EQ(list.Enumerate(1), 1);
        EXPECT_EQ(Names().size(), 1u);
        EXPECT_EQ(Names()[0].first, "DivX 5.0.2 Codec");
    }
    m.enumeratorsFail = true;
    {
        CCodecList list(&m);
        EXPECT_EQ(list.Enumerate(0), 0);
        EXPECT_EQ(m.errors, std::vector<std::string>{"no enumerator"});
        list.SelectByName("Cinepak Codec");  // entries without filters stay until closed
        EXPECT_TRUE(list.HasSelection());
    }
    EXPECT_TRUE(m.open.empty());
    m.enumeratorsFail = false;
    m.filters.clear();
    {
        CCodecList list(&m);
        EXPECT_EQ(list.Enumerate(0), 1);
        EXPECT_TRUE(CCodecList::Entries().empty());
        list.SelectDivX();
        EXPECT_FALSE(list.HasSelection());
    }
    EXPECT_TRUE(m.open.empty());
}

TEST(CodecList, StoreForwardsReachTheInventory) {
    FakeMachine m;
    m.compressors = {"DivX 5.0.2 Codec"};
    m.filters = {{"DivX 5.0.2 Codec", true}};
    testing::FakeStrings strings;
    testing::TempAppFolder folder;
    {
        CProfileManager store(strings, folder, nullptr, &m);
        EXPECT_EQ(store.EnumerateCodecs(1), 1);
        store.SelectDefaultCodec();
        EXPECT_EQ(store.Codecs().SelectedHandle(), 100u);
        m.stateSizes[100] = 300;
        uint32_t size = 0;
        store.GetCodecStateSize(&size);
        std::vector<uint8_t> state(size);
        EXPECT_EQ(store.GetCodecState(state.data(), size), 0);
        uint32_t info[4] = {};
        ASSERT_EQ(store.SetFrameInfo(state.data(), size, 7), kProfileOk);
        ASSERT_EQ(store.GetFrameInfo(state.data(), size, info), kProfileOk);
        EXPECT_EQ(info[3], 7u);
        EXPECT_NE(store.GetFrameInfo(state.data(), 100, info), kProfileOk);  // too short a block
        store.ReleaseCodecs();
        EXPECT_TRUE(m.open.empty());
    }
}

// Details of an AVI profile: the compressor chosen by either of its names, its state copied
// and the frame size taken from it only when the state holds one.
TEST(CodecList, AviRecordTakesTheCompressorsStateAndFrameSize) {
    FakeMachine m;
    m.compressors = {"DivX 5.0.2 Codec"};
    m.filters = {{"DivX Pro 5.0.2 Codec", true}};
    m.stateSizes[100] = 300;
    m.stateImage.assign(300, 0);
    auto put = [&](size_t at, uint32_t v) { std::memcpy(m.stateImage.data() + at, &v, 4); };
    testing::FakeStrings strings;
    testing::TempAppFolder folder;
    CProfileManager store(strings, folder, nullptr, &m);
    ASSERT_EQ(store.EnumerateCodecs(1), 1);
    ProfileRecord record{};
    record.head.attribute = 2;
    ASSERT_EQ(store.ReadProfile(kClassAvi, 0, record, nullptr, 0), kProfileOk);
    const ProfileRecord before = record;
    std::vector<uint8_t> state;
    EXPECT_EQ(store.UseAviCompressor(record, "Cinepak Codec", state), kProfileFail);
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);

    put(264, 0);  // no frame size held
    put(268, 640);
    ASSERT_EQ(store.UseAviCompressor(record, "DivX Pro 5.0.2 Codec", state), kProfileOk);
    EXPECT_STREQ(record.block.avi.videoCompressor, "DivX Pro 5.0.2 Codec");
    EXPECT_EQ(record.block.avi.compressorState, state.data());
    EXPECT_EQ(record.block.avi.compressorStateSize, 300u);
    EXPECT_EQ(record.block.avi.width, before.block.avi.width);
    put(264, 1);
    put(272, 480);
    ASSERT_EQ(store.UseAviCompressor(record, "DivX 5.0.2 Codec", state), kProfileOk);
    EXPECT_EQ(record.block.avi.width, 640);
    EXPECT_EQ(record.block.avi.height, 480);
    EXPECT_EQ(state[268], 640 & 0xFF);
    store.ReleaseCodecs();
}

#ifdef _WIN32
// The machine's own codecs under Wine: the inventory ends, and what it lists is open both ways.
TEST(CodecListOnThisMachine, ListsCodecsPresentBothWays) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        CCodecList list;
        ASSERT_EQ(list.Enumerate(0), 1);
        // Wine's own Video for Windows codecs (Video 1 among them) are wrapped in the category.
        EXPECT_FALSE(CCodecList::Entries().empty());
        for (const CodecEntry& e : CCodecList::Entries()) {
            std::printf("codec: %s / %s\n", e.description.c_str(), e.filterName.c_str());
            EXPECT_FALSE(e.description.empty());
            EXPECT_FALSE(e.filterName.empty());
            EXPECT_NE(e.handle, 0u);
            EXPECT_NE(e.filter, 0u);
        }
    }
    EXPECT_TRUE(CCodecList::Entries().empty());
    CoUninitialize();
}
#endif

}  // namespace
}  // namespace profiles
