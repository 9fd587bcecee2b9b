// The engines' own servers registered through regsvr32 and reached through the creators:
// the thumbnail cache and the string query object; the encoder presence check and the
// compressor searches against the system's device categories.
#include <windows.h>
#include <vfwmsgs.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "engines/client/compressor_search.h"
#include "engines/client/engine_client.h"
#include "engines/tests/registered.h"
#include "filters/base/tests/com_test_util.h"
#include "filters/base/tests/passthrough_filter.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

using enginetest::Registered;

// A 4x2 top-down 32-bit bitmap whose pixels are `seed` + index.
HBITMAP MakeBitmap(DWORD seed) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 4, -2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap)
        for (DWORD i = 0; i < 8; ++i)
            static_cast<DWORD*>(bits)[i] = (seed + i) & 0xFFFFFF;
    return bitmap;
}

std::vector<DWORD> Pixels(HBITMAP bitmap) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 4, -2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> pixels(8);
    HDC dc = GetDC(nullptr);
    const int rows = GetDIBits(dc, bitmap, 0, 2, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (rows != 2) pixels.clear();
    for (DWORD& p : pixels)
        p &= 0xFFFFFF;
    return pixels;
}

TEST(ThumbnailCacheServer, RegisteredCacheKeepsCopiesByPathAndTime) {
    comtest::ComScope com;
    IThumbnailCache* cache = nullptr;
    {
        Registered server(THUMBNAIL_CACHE_DLL);
        ASSERT_TRUE(server.Ok());
        ASSERT_EQ(CreateThumbnailCache(&cache), S_OK);
        ASSERT_NE(cache, nullptr);

        HBITMAP frame = MakeBitmap(0x102030);
        ASSERT_NE(frame, nullptr);
        const std::vector<DWORD> pixels = Pixels(frame);
        ASSERT_EQ(pixels.size(), 8u);
        EXPECT_EQ(cache->Store("C:\\clips\\a.avi", 20000000, frame), S_OK);
        DeleteObject(frame);  // the cache holds its own copy

        HBITMAP got = nullptr;
        ASSERT_EQ(cache->Lookup("C:\\clips\\a.avi", 20000000, &got), 1);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(Pixels(got), pixels);
        DeleteObject(got);
        // Another time or another clip is not held; the caller's handle is not touched.
        HBITMAP untouched = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(0x77));
        EXPECT_EQ(cache->Lookup("C:\\clips\\a.avi", 20000001, &untouched), 0);
        EXPECT_EQ(cache->Lookup("C:\\clips\\b.avi", 20000000, &untouched), 0);
        EXPECT_EQ(untouched, reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(0x77)));
        // Storing again replaces the frame.
        HBITMAP second = MakeBitmap(0x405060);
        EXPECT_EQ(cache->Store("C:\\clips\\a.avi", 20000000, second), S_OK);
        ASSERT_EQ(cache->Lookup("C:\\clips\\a.avi", 20000000, &got), 1);
        EXPECT_EQ(Pixels(got), Pixels(second));
        DeleteObject(got);
        DeleteObject(second);
        // Bad input is refused.
        EXPECT_EQ(cache->Store(nullptr, 0, second), E_POINTER);
        EXPECT_EQ(cache->Store("C:\\x", 0, nullptr), E_POINTER);
        EXPECT_EQ(cache->Lookup(nullptr, 0, &got), 0);
        using Method = HRESULT(STDMETHODCALLTYPE*)(void*);
        EXPECT_EQ(reinterpret_cast<Method>((*reinterpret_cast<void***>(cache))[5])(cache), E_NOTIMPL);
        EXPECT_EQ(ReleaseInterface(&cache), S_OK);
    }
    EXPECT_EQ(CreateThumbnailCache(&cache), E_FAIL) << "unregistered";
    EXPECT_EQ(cache, nullptr);
}

TEST(StringQueryServer, AnswersTheThreeQueriesWithinTheCallersBuffer) {
    comtest::ComScope com;
    Registered server(STRING_QUERY_DLL);
    ASSERT_TRUE(server.Ok());
    IEngineInfo* info = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_EngineInfo, nullptr, CLSCTX_INPROC_SERVER, IID_IEngineInfo,
                               reinterpret_cast<void**>(&info)),
              S_OK);
    char buffer[256] = "include MicroMV";
    EXPECT_EQ(info->QueryString(buffer, sizeof buffer), S_OK);
    const std::string listed = buffer;
    EXPECT_FALSE(listed.empty());
    buffer[0] = 0;
    EXPECT_EQ(info->QueryString(buffer, sizeof buffer), S_OK);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(info->QueryString2(buffer, sizeof buffer), S_OK);
    const std::string first = buffer;
    EXPECT_EQ(info->QueryString3(buffer, sizeof buffer), S_OK);
    const std::string second = buffer;
    EXPECT_FALSE(first.empty());
    EXPECT_FALSE(second.empty());
    EXPECT_NE(first, second);
    EXPECT_NE(listed.find(first), std::string::npos) << "the include answer names the first family";
    // An input without its NUL inside the buffer, and a buffer too small for the answer.
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(info->QueryString(unterminated, sizeof unterminated), E_INVALIDARG);
    char small[3] = "";
    EXPECT_EQ(info->QueryString2(small, sizeof small), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_STREQ(small, "");
    EXPECT_EQ(info->Release(), 0u);
}

TEST(ClipPlayerServer, QueryClipInfoDescribesFfmpegClipsAsFfprobeDoes) {
    comtest::ComScope com;
    enginetest::SharedRegistered server(CLIP_PLAYER_DLL);
    ASSERT_TRUE(server.Ok());
    struct Clip {
        const char* command;
        const char* extension;
        uint32_t formatClass;
        double frameRate;
    };
    const Clip clips[] = {
        {"ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=sample_rate=44100 -t 3.2 "
         "-c:v mpeg1video -b:v 1500k -c:a mp2 -f mpeg {out}",
         "mpg", 3, 25},
        {"ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 -t 3 -target pal-dvd "
         "{out}",
         "mpg", 4, 25},
        {"ffmpeg -f lavfi -i testsrc=size=320x240:rate=15 -t 2.4 -c:v mjpeg {out}", "avi", 1, 15},
        {"ffmpeg -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=sample_rate=32000 -t 2 -c:v dvvideo "
         "-pix_fmt yuv420p -c:a pcm_s16le -ac 2 {out}",
         "avi", 2, 25},
    };
    IClipPlayer* player = nullptr;
    ASSERT_EQ(CreateClipPlayer(&player), S_OK);
    for (const Clip& clip : clips) {
        SCOPED_TRACE(clip.command);
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(clip.command, clip.extension, &path));
        std::string probe;
        ASSERT_TRUE(testsupport::Ffprobe(
            path, "-select_streams v:0 -show_entries stream=width,height,duration -of csv=p=0", &probe));
        const auto rows = testsupport::CsvRows(probe);
        ASSERT_EQ(rows.size(), 1u);
        ASSERT_EQ(rows[0].size(), 3u);
        const double seconds = std::stod(rows[0][2]);
        const double frameRate = clip.frameRate;

        // A player made by the query itself, and the caller's player left open on the clip.
        engines::ClipInfo own{}, lent{};
        EXPECT_EQ(QueryClipInfo(path.c_str(), &own, nullptr, nullptr, 0), 0);
        EXPECT_EQ(QueryClipInfo(path.c_str(), &lent, player, nullptr, 0), 0);
        EXPECT_EQ(memcmp(&own, &lent, sizeof own), 0);
        char open[MAX_PATH] = {};
        EXPECT_EQ(player->GetFileName(open, MAX_PATH), S_OK);
        EXPECT_EQ(path, open);
        EXPECT_EQ(own.mediaKind, 1u);
        EXPECT_EQ(own.formatClass, clip.formatClass);
        EXPECT_EQ(own.width, std::stoul(rows[0][0]));
        EXPECT_EQ(own.height, std::stoul(rows[0][1]));
        EXPECT_NEAR(double(own.duration), seconds * 1e7, 1e7 / frameRate);
        EXPECT_NEAR(own.frameRate, frameRate, 0.01);
        EXPECT_EQ(own.fileBytes, static_cast<int64_t>(testsupport::ReadFileBytes(path).size()));

        // The first audio stream: rate, channel count and mode (mono or not), bit rate, the
        // sample size of PCM; none without sound. (ffprobe writes the rate, channels, bits
        // per sample and bit rate in that order.)
        ASSERT_TRUE(testsupport::Ffprobe(
            path, "-select_streams a:0 -show_entries stream=sample_rate,channels,bit_rate,bits_per_sample -of csv=p=0",
            &probe));
        const auto audio = testsupport::CsvRows(probe);
        if (audio.empty()) {
            EXPECT_EQ(own.value26, 0u);
            EXPECT_EQ(own.value27, 0u);
            EXPECT_EQ(own.audioBitRate, 0u);
            continue;
        }
        ASSERT_GE(audio[0].size(), 4u);
        const uint32_t channels = std::stoul(audio[0][1]);
        EXPECT_EQ(own.value27, std::stoul(audio[0][0])) << "sampling rate";
        EXPECT_EQ(own.value25, channels) << "channel count";
        EXPECT_EQ(own.audioChannelMode == 0, channels == 1) << "mode " << own.audioChannelMode;
        EXPECT_EQ(own.value26 >> 16, own.audioChannelMode + 1);
        EXPECT_EQ(own.audioBitRate, std::stoul(audio[0][3])) << "bit rate";
        if ((own.value26 & 0xFFFF) == 1) {
            EXPECT_EQ(own.value30, std::stoul(audio[0][2])) << "bits of PCM";
        }
    }
    // A file that is not media: the open fails and the record stays as it was.
    const std::string text = testsupport::FixturePath(testsupport::UniqueName("notes") + ".txt");
    ASSERT_EQ(testsupport::RunShell("printf 'not a clip' > '" + testsupport::FixtureName(text) + "'"), 0);
    engines::ClipInfo untouched{};
    untouched.width = 99;
    EXPECT_EQ(QueryClipInfo(text.c_str(), &untouched, nullptr, nullptr, 0), 0);
    EXPECT_EQ(untouched.width, 99u);
    EXPECT_EQ(player->Open(text.c_str(), 0, 0, 0), VFW_E_UNKNOWN_FILE_TYPE);
    EXPECT_EQ(ReleaseInterface(&player), S_OK);
}

TEST(EncoderPresence, FoundOnlyWhileTheFilterIsRegistered) {
    comtest::ComScope com;
    comtest::RegistrationLock lock;
    ASSERT_TRUE(lock.Held());
    const std::wstring dll = comtest::WinePath(OMBRISK_AX);
    comtest::Regsvr32(dll, true);
    EXPECT_EQ(CheckEncoderFilterInstalled(), E_FAIL);
    ASSERT_EQ(comtest::Regsvr32(dll, false), 0);
    EXPECT_EQ(CheckEncoderFilterInstalled(), S_OK);
    // The check leaves no object alive: the library can unload.
    HMODULE module = GetModuleHandleW(L"ombrisk.ax");
    ASSERT_NE(module, nullptr);
    auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_OK);
    EXPECT_EQ(comtest::Regsvr32(dll, true), 0);
    EXPECT_EQ(CheckEncoderFilterInstalled(), E_FAIL);
}

TEST(CompressorSearch, NamePrefixIsComparedByteForByteWithCase) {
    struct Case {
        const char* name;
        const char* prefix;
        bool match;
    };
    const Case cases[] = {
        {"DivX Pro 5.0 Codec", "DivX", true},
        {"divx codec", "DivX", false},
        {"Div", "DivX", false},
        {"DivX", "DivX", true},
        {"MPEG Layer-3", "MPEG Layer-3", true},
        {"MPEG Layer-2", "MPEG Layer-3", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompressorNameMatches(c.name, c.prefix), c.match) << c.name;
}

TEST(CompressorSearch, AbsentCodecsLeaveTheCallersBuffersUntouched) {
    comtest::ComScope com;
    // The test prefix has no codec named "DivX" but the conversion engine's, which is taken
    // away for the test.
    enginetest::NamedLock lock(enginetest::kFileEngineRegistrationLock, 600000);
    comtest::Regsvr32(comtest::WinePath(FILE_ENGINE_DLL), true);
    char name[kVideoCompressorNameBytes];
    memset(name, 'z', sizeof name);
    EXPECT_EQ(FindVideoCompressor(name), E_FAIL);
    EXPECT_EQ(name[0], 'z');
    EXPECT_EQ(name[sizeof name - 1], 'z');
    // The audio search: when an MPEG Layer-3 codec is listed, its name is copied; the
    // result then depends on its capabilities. Either way the wanted format stays intact.
    WAVEFORMATEX wanted = {0x55, 2, 22050, 7000, 1, 0, 0};
    WAVEFORMATEX* format = &wanted;
    char audio[kAudioCompressorNameBytes] = "untouched";
    const HRESULT hr = FindAudioCompressor(audio, &format);
    if (hr == S_OK) {
        ASSERT_NE(format, &wanted);
        EXPECT_EQ(format->nChannels, 2);
        EXPECT_EQ(format->nSamplesPerSec, 22050u);
        EXPECT_EQ(memcmp(audio, "MPEG Layer-3", 12), 0);
        CoTaskMemFree(format);
    } else {
        EXPECT_EQ(hr, E_FAIL);
        EXPECT_EQ(format, &wanted);
        EXPECT_TRUE(strcmp(audio, "untouched") == 0 || memcmp(audio, "MPEG Layer-3", 12) == 0) << audio;
    }
    EXPECT_EQ(wanted.wFormatTag, 0x55);
    EXPECT_EQ(MatchCompressorWaveFormat(nullptr, &format), E_FAIL);
}

}  // namespace
