// The creators, the clip query and the file engine's release, against test doubles
// published under the engines' classes; the interfaces' slot layout.
#include "engines/client/engine_client.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engines/tests/fake_engines.h"
#include "filters/base/tests/com_test_util.h"

namespace {

using enginetest::FakeClipPlayer;
using enginetest::FakeFileEngine;
using enginetest::ScopedClass;

// Calls vtable slot `slot` of `object` as a method without arguments.
HRESULT CallSlot(void* object, int slot) {
    using Method = HRESULT(STDMETHODCALLTYPE*)(void*);
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Method>(table[slot])(object);
}

TEST(EngineInterfaces, SlotsSitWhereTheBinaryInterfaceSaysAndReservedOnesAnswerNotImplemented) {
    auto* player = new FakeClipPlayer;
    IClipPlayer* itf = player;
    // GetProperty38 (a getter returning its value) and Close through the raw table.
    EXPECT_EQ(CallSlot(itf, 38), 38);
    EXPECT_EQ(player->calls, std::vector<std::string>{"38"});
    EXPECT_EQ(CallSlot(itf, 7), S_OK);
    for (int slot : {9, 10, 11, 15, 22, 34, 36, 37, 39, 48, 49, 50, 51, 52})
        EXPECT_EQ(CallSlot(itf, slot), E_NOTIMPL) << "slot " << slot;
    // One past the last named slot of each table is the end of the list.
    EXPECT_EQ(std::size(engines::kIClipPlayerSlots), 54u - 2);
    EXPECT_EQ(std::size(engines::kISystemLayerDVSlots), 63u - 2);
    EXPECT_EQ(std::size(engines::kIThumbnailCacheSlots), 7u - 2);
    EXPECT_EQ(std::size(engines::kIFileEngineControlSlots), 28u - 2);
    itf->Release();
}

TEST(EngineCreators, MissingEnginesGiveEFailAndNullPointers) {
    comtest::ComScope com;
    IClipPlayer* player = reinterpret_cast<IClipPlayer*>(1);
    EXPECT_EQ(CreateClipPlayer(&player), E_FAIL);
    EXPECT_EQ(player, nullptr);
    IFileEngineTimeline* timeline = reinterpret_cast<IFileEngineTimeline*>(1);
    IFileEngineControl* control = reinterpret_cast<IFileEngineControl*>(1);
    EXPECT_EQ(CreateFileEngine(&timeline, &control), E_FAIL);
    EXPECT_EQ(timeline, nullptr);
    EXPECT_EQ(control, nullptr);
    EXPECT_EQ(ReleaseFileEngine(&timeline, &control), E_FAIL);
    IUnknown* none = nullptr;
    EXPECT_EQ(ReleaseInterface(&none), E_FAIL);
}

TEST(EngineCreators, FileEngineWithAndWithoutItsControlInterface) {
    comtest::ComScope com;
    std::vector<std::string> log;
    int released = 0;
    {
        ScopedClass engine(CLSID_FileEngine, [&] {
            auto* e = new FakeFileEngine(false, &log);
            e->released = &released;
            return static_cast<IFileEngineTimeline*>(e);
        });
        ASSERT_TRUE(engine.Registered());
        IFileEngineTimeline* timeline = nullptr;
        IFileEngineControl* control = nullptr;
        EXPECT_EQ(CreateFileEngine(&timeline, &control), E_FAIL);
        EXPECT_EQ(timeline, nullptr) << "nothing half-made is left behind";
        EXPECT_EQ(control, nullptr);
        EXPECT_EQ(released, 1);
        EXPECT_EQ(ReleaseFileEngine(&timeline, &control), E_FAIL);
        EXPECT_EQ(ReleaseInterface(&timeline), E_FAIL);
    }
    {
        ScopedClass engine(CLSID_FileEngine, [&] {
            auto* e = new FakeFileEngine(true, &log);
            e->released = &released;
            return static_cast<IFileEngineTimeline*>(e);
        });
        IFileEngineTimeline* timeline = nullptr;
        IFileEngineControl* control = nullptr;
        ASSERT_EQ(CreateFileEngine(&timeline, &control), S_OK);
        ASSERT_NE(control, nullptr);
        log.clear();
        IFileEngineControl* missing = nullptr;
        EXPECT_EQ(ReleaseFileEngine(&timeline, &missing), E_FAIL);
        EXPECT_TRUE(log.empty()) << "nothing is paused, closed or released when one pointer is missing";
        EXPECT_EQ(ReleaseFileEngine(&timeline, &control), S_OK);
        EXPECT_EQ(log, (std::vector<std::string>{"Pause", "Close", "Release", "Release"}));
        EXPECT_EQ(released, 2);
    }
}

const std::vector<std::string> kGetterOrder = {"23", "24", "25", "14", "13", "21", "16", "17", "18", "19", "20",
                                               "31", "32", "33", "35", "38", "27", "28", "29", "30", "26"};

TEST(QueryClipInfo, FillsTheRecordInTheGettersOrderAndDrawsTheThumbnail) {
    auto* player = new FakeClipPlayer;
    player->file = "C:\\clips\\a.mpg";
    engines::ClipInfo info{};
    memset(&info, 0xAB, sizeof info);
    HBITMAP bitmap = nullptr;
    EXPECT_EQ(QueryClipInfo("C:\\clips\\a.mpg", &info, player, &bitmap, 40000000), 0);
    // Already open on the same path: not opened again.
    std::vector<std::string> expected = {"GetFileName"};
    expected.insert(expected.end(), kGetterOrder.begin(), kGetterOrder.end());
    expected.push_back("GetFrameBitmap");
    EXPECT_EQ(player->calls, expected);
    EXPECT_EQ(player->frameArgs, (std::vector<LONGLONG>{40000000, 2}));
    EXPECT_EQ(bitmap, reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(0x4747)));
    EXPECT_EQ(info.mediaKind, 1u);
    EXPECT_EQ(info.formatClass, 4u);
    EXPECT_EQ(info.width, 720u);
    EXPECT_EQ(info.height, 576u);
    EXPECT_EQ(info.unused20, 0xABABABABu) << "bytes 20-23 are not written";
    EXPECT_EQ(info.fileBytes, 5000000000LL);
    EXPECT_EQ(info.duration, 123456789LL);
    EXPECT_EQ(info.inLength, 17LL << 33);
    EXPECT_EQ(info.outLength, 18LL << 33);
    EXPECT_EQ(info.frameRate, 25.0f);
    EXPECT_EQ(info.value32, 2u);
    EXPECT_EQ(info.value35[0], 351u);
    EXPECT_EQ(info.value35[1], 352u);
    EXPECT_EQ(info.value38, 38u);
    EXPECT_EQ(info.audioChannelMode, 3u);
    EXPECT_EQ(info.value26, 0x20026u);
    EXPECT_EQ(info.audioSampleRate, 0xABABABABu);
    EXPECT_EQ(player->Release(), 0u) << "a caller's player keeps only the caller's reference";
}

TEST(QueryClipInfo, OpensAnotherPathLeavesItOpenAndKeepsOnlyValues32OneAndTwo) {
    auto* player = new FakeClipPlayer;
    player->file = "C:\\clips\\a.mpg";
    player->property32 = 3;
    engines::ClipInfo info{};
    info.value32 = 7;
    EXPECT_EQ(QueryClipInfo("C:\\clips\\b.mpg", &info, player, nullptr, 0), 0);
    ASSERT_GE(player->calls.size(), 2u);
    EXPECT_EQ(player->calls[1], "Open");
    EXPECT_EQ(player->openArgs, (std::vector<LONGLONG>{0, 0, 0}));
    EXPECT_EQ(player->file, "C:\\clips\\b.mpg");
    EXPECT_EQ(info.value32, 0u);
    EXPECT_EQ(player->calls.back(), "26") << "no bitmap asked, none drawn";
    player->Release();
}

TEST(QueryClipInfo, AFailedOpenLeavesTheRecordUntouchedAndReleasesItsOwnPlayer) {
    comtest::ComScope com;
    engines::ClipInfo before{};
    memset(&before, 0x5C, sizeof before);
    engines::ClipInfo info = before;
    // No player registered: nothing to open with.
    EXPECT_EQ(QueryClipInfo("C:\\clips\\a.mpg", &info, nullptr, nullptr, 0), 0);
    EXPECT_EQ(memcmp(&info, &before, sizeof info), 0);

    int released = 0;
    bool failOpen = true;
    ScopedClass published(CLSID_ClipPlayer, [&] {
        auto* p = new FakeClipPlayer;
        p->failOpen = failOpen;
        p->released = &released;
        return static_cast<IClipPlayer*>(p);
    });
    ASSERT_TRUE(published.Registered());
    EXPECT_EQ(QueryClipInfo("C:\\clips\\a.mpg", &info, nullptr, nullptr, 0), 0);
    EXPECT_EQ(memcmp(&info, &before, sizeof info), 0);
    EXPECT_EQ(released, 1);
    // A player made here is always opened, then released once filled.
    failOpen = false;
    EXPECT_EQ(QueryClipInfo("C:\\clips\\a.mpg", &info, nullptr, nullptr, 0), 0);
    EXPECT_EQ(info.duration, 123456789LL);
    EXPECT_EQ(released, 2);
}

TEST(DescribeCpuFeatures, NamesTheRichestFeatureOnceForTheProcess) {
    std::string text = "unchanged";
    ASSERT_EQ(DescribeCpuFeatures(&text), 1);
    // Every x86-64 processor has SSE2.
    EXPECT_EQ(text.rfind("SSE2, KNI, MMX", 0), 0u) << text;
    EXPECT_TRUE(text == "SSE2, KNI, MMX" || text == "SSE2, KNI, MMX, HyperThreading Enabled") << text;
    std::string again;
    EXPECT_EQ(DescribeCpuFeatures(&again), 1);
    EXPECT_EQ(again, text);
}

}  // namespace
