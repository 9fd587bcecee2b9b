// An H.264 profile saved in the profile file, read back and handed to the registered encoder
// filter through its settings interface: the stream the filter writes carries the
// profile's picture size, frame rate, key-picture spacing and bit rate, as ffprobe reads them.
#include <windows.h>
#include <dshow.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/profiles/builtin_profiles.h"
#include "app/profiles/profile_file.h"
#include "engines/file_engine/h264_settings.h"
#include "filters/base/tests/com_test_util.h"
#include "filters/base/tests/test_filters.h"
#include "filters/base/tests/watchdog.h"
#include "filters/config/kestrune_config.h"
#include "filters/encoder/encoder_interface.h"
#include "filters/encoder/ombrisk_ids.h"
#include "filters/encoder/tests/ombrisk_test_util.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

// Takes the first record of the profile file's text.
class FirstRecord : public profiles::ProfileBlockSink {
public:
    bool Close(const profiles::ProfileBlock& block) override {
        record = std::make_unique<profiles::ProfileRecord>(block.record);
        return true;
    }
    std::unique_ptr<profiles::ProfileRecord> record;
};

// A built-in H.264 profile with the case's values, written as the store writes it and
// read back.
std::unique_ptr<profiles::ProfileRecord> SavedProfile(int width, int height, float rate, int gop, int bFrames,
                                                      int bitRate) {
    std::vector<profiles::ProfileSlot> slots(profiles::BuiltinProfileCount());
    if (!profiles::BuildBuiltinSlots(slots.data(), slots.size())) return nullptr;
    auto record = std::make_unique<profiles::ProfileRecord>();
    std::memset(record.get(), 0, sizeof *record);
    record->head = slots[profiles::kFirstH264Slot].head;
    record->block = slots[profiles::kFirstH264Slot].block;
    profiles::CopyText(record->head.name, "Test H.264", 10);
    profiles::H264Block& b = record->block.h264;
    b.width = width;
    b.height = height;
    b.frameRate = rate;
    b.gopLength = gop;
    b.bFrames = bFrames;
    b.rateControlMode = 2;  // constant bit rate
    b.videoBitRate = b.maxBitRate = bitRate;
    std::string text;
    profiles::AppendProfileBlock(*record, text);
    FirstRecord read;
    profiles::WalkProfileText(text, read);
    return std::move(read.record);
}

struct Case {
    int width, height;
    float rate;
    const char* probedRate;
    int gop, bFrames, bitRate;
};

TEST(H264ProfileThroughTheEncoderFilter, StreamCarriesTheProfilesSizeRateAndGop) {
    comtest::Watchdog dog(600000);
    comtest::ComScope com;
    ASSERT_TRUE(SUCCEEDED(com.hr));
    comtest::RegistrationLock registration;
    ASSERT_TRUE(registration.Held());
    ombrisktest::NamedLock settingsLock(ombrisktest::kSettingsKeyLock);
    ASSERT_EQ(comtest::Regsvr32(comtest::WinePath(OMBRISK_AX), false), 0);

    const Case cases[] = {
        {320, 240, 30.0f, "30/1", 15, 0, 600000},
        {352, 288, 25.0f, "25/1", 10, 2, 900000},
    };
    constexpr int kPictures = 60;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " GOP " << c.gop);
        const auto record = SavedProfile(c.width, c.height, c.rate, c.gop, c.bFrames, c.bitRate);
        ASSERT_TRUE(record);
        fileengine::OutputPlan plan;
        int32_t words[ombrisk::kParamWords];
        std::string refusal;
        ASSERT_TRUE(fileengine::H264SettingsOfRecord(*record, &plan, words, &refusal)) << refusal;

        RegDeleteKeyA(HKEY_CURRENT_USER, ombrisk::kEncoderRegistryKey);
        IBaseFilter* encoder = nullptr;
        ASSERT_EQ(CoCreateInstance(ombrisk::CLSID_KestruneAvcEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void**>(&encoder)),
                  S_OK);
        IEncoderSettings* settings = nullptr;
        ASSERT_EQ(encoder->QueryInterface(ombrisk::IID_IEncoderSettings, reinterpret_cast<void**>(&settings)), S_OK);
        ASSERT_EQ(settings->SetSettings(words), S_OK);
        settings->Release();
        IKestruneConfig* config = nullptr;
        ASSERT_EQ(encoder->QueryInterface(IID_IKestruneConfig, reinterpret_cast<void**>(&config)), S_OK);
        EXPECT_EQ(config->Commit(nullptr), S_OK);
        config->Release();

        // The host gives the encoder pictures of the plan's size at the plan's rate.
        const ombrisktest::FormatCase format{&MEDIASUBTYPE_YV12, ombrisk::InputFormat::yv12, plan.video.width,
                                             plan.video.height};
        const REFERENCE_TIME frame = REFERENCE_TIME(10000000) * plan.video.rateDen / plan.video.rateNum;
        testfilters::SourceConfig source;
        source.type = ombrisktest::SourceType(format, frame);
        source.samples = ombrisktest::SourceSamples(
            format, ombrisktest::ClipYuv(format.width, format.height, kPictures), kPictures, frame);
        auto* pushSource = testfilters::CTestPushSource::Create(std::move(source));
        const std::string name = testsupport::UniqueName("profile") + ".264";
        testfilters::SinkConfig sinkConfig;
        const std::string streamPath = testsupport::FixturePath(name);
        sinkConfig.dataFile.assign(streamPath.begin(), streamPath.end());
        auto* sink = testfilters::CTestSink::Create(std::move(sinkConfig));
        IGraphBuilder* graph = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(&graph)),
                  S_OK);
        graph->AddFilter(pushSource, L"source");
        graph->AddFilter(encoder, L"encoder");
        graph->AddFilter(sink, L"sink");
        IBaseFilter* const chain[] = {pushSource, encoder, sink};
        for (int i = 0; i < 2; ++i) {
            IPin* out = comtest::FindPinByDirection(chain[i], PINDIR_OUTPUT);
            IPin* in = comtest::FindPinByDirection(chain[i + 1], PINDIR_INPUT);
            EXPECT_EQ(graph->ConnectDirect(out, in, nullptr), S_OK);
            out->Release();
            in->Release();
        }
        IMediaControl* control = nullptr;
        ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)), S_OK);
        EXPECT_TRUE(SUCCEEDED(control->Run()));
        EXPECT_TRUE(sink->WaitEndOfStream(240000));
        EXPECT_EQ(control->Stop(), S_OK);
        control->Release();
        graph->Release();
        encoder->Release();
        pushSource->Release();
        sink->Release();

        std::string probed;
        ASSERT_TRUE(
            testsupport::Ffprobe(streamPath,
                                 "-select_streams v:0 -show_entries stream=codec_name,width,height,r_frame_rate "
                                 "-of csv=p=0",
                                 &probed));
        EXPECT_EQ(probed,
                  "h264," + std::to_string(c.width) + "," + std::to_string(c.height) + "," + c.probedRate + "\n");
        // Intra pictures, in display order, every GOP-length pictures from the first.
        std::string types;
        ASSERT_TRUE(
            testsupport::Ffprobe(streamPath, "-select_streams v:0 -show_entries frame=pict_type -of csv=p=0", &types));
        std::string intra, expected;
        for (size_t at = 0; at < types.size(); at = types.find('\n', at) + 1) {
            intra += types[at] == 'I' ? 'I' : '-';
            if (types.find('\n', at) == std::string::npos) break;
        }
        for (int i = 0; i < kPictures; ++i)
            expected += i % c.gop == 0 ? 'I' : '-';
        EXPECT_EQ(intra, expected) << types;
        // The stream's bit rate over its length, within the rate control's tolerance.
        const double seconds = double(kPictures) * plan.video.rateDen / plan.video.rateNum;
        const double bits = 8.0 * double(testsupport::ReadFileBytes(streamPath).size());
        EXPECT_NEAR(bits / seconds, c.bitRate, c.bitRate * 0.2);
    }
}

}  // namespace
