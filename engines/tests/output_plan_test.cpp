// The plan each profile record makes: every built-in profile gives the container, codecs,
// size, rate and audio of its series, Real profiles are refused, and records with values
// out of range are refused with a message rather than handed to the encoders.
#include "engines/file_engine/output_plan.h"

#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "app/profiles/builtin_profiles.h"
#include "engines/file_engine/capture_plan.h"

namespace {

using fileengine::AudioCodec;
using fileengine::Container;
using fileengine::VideoCodec;

std::unique_ptr<profiles::ProfileRecord> RecordOfSlot(const profiles::ProfileSlot& slot) {
    auto r = std::make_unique<profiles::ProfileRecord>();
    std::memset(r.get(), 0, sizeof *r);
    r->head = slot.head;
    r->block = slot.block;
    return r;
}

struct Expected {
    uint32_t identifier;
    Container container;
    VideoCodec video;
    int width, height, rateNum, rateDen;
    AudioCodec audio;
    int sampleRate;
    int64_t audioBitRate;
};

const Expected kExpected[] = {
    {201, Container::kVcd, VideoCodec::kMpeg1, 352, 240, 30000, 1001, AudioCodec::kMp2, 44100, 224000},
    {202, Container::kVcd, VideoCodec::kMpeg1, 352, 288, 25, 1, AudioCodec::kMp2, 44100, 224000},
    {1, Container::kMpeg1System, VideoCodec::kMpeg1, 320, 240, 30000, 1001, AudioCodec::kMp2, 44100, 224000},
    {101, Container::kMpeg2Ps, VideoCodec::kMpeg2, 640, 480, 30000, 1001, AudioCodec::kMp2, 44100, 224000},
    {402, Container::kDvd, VideoCodec::kMpeg2, 720, 576, 25, 1, AudioCodec::kMp2, 48000, 224000},
    {410, Container::kDvd, VideoCodec::kMpeg2, 352, 288, 25, 1, AudioCodec::kMp2, 48000, 224000},
    {302, Container::kSvcd, VideoCodec::kMpeg2, 480, 576, 25, 1, AudioCodec::kMp2, 44100, 224000},
    {501, Container::kMpeg2Ps, VideoCodec::kMpeg2, 720, 480, 30000, 1001, AudioCodec::kMp2, 48000, 256000},
    {1001, Container::kH264Ts, VideoCodec::kH264, 720, 480, 30000, 1001, AudioCodec::kMp2, 48000, 224000},
    {601, Container::kAvi, VideoCodec::kMpeg4, 160, 120, 30, 1, AudioCodec::kMp3, 22050, 56000},
    {701, Container::kDvAvi, VideoCodec::kDv, 720, 576, 25, 1, AudioCodec::kPcmS16Le, 32000, 0},
    {706, Container::kDvAvi, VideoCodec::kDv, 720, 480, 30000, 1001, AudioCodec::kPcmS16Le, 48000, 0},
    {901, Container::kQuickTime, VideoCodec::kRpza, 160, 120, 25, 1, AudioCodec::kPcmS16Be, 44100, 0},
};

TEST(OutputPlan, BuiltinProfilesGiveTheirSeriesFormats) {
    std::vector<profiles::ProfileSlot> slots(profiles::BuiltinProfileCount());
    ASSERT_TRUE(profiles::BuildBuiltinSlots(slots.data(), slots.size()));
    size_t checked = 0, refused = 0;
    for (const profiles::ProfileSlot& slot : slots) {
        SCOPED_TRACE(slot.identifier);
        const auto record = RecordOfSlot(slot);
        fileengine::OutputPlan plan;
        std::string refusal;
        const bool ok = fileengine::MakeOutputPlan(*record, &plan, &refusal);
        if (slot.head.videoFormatClass == profiles::kClassReal) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(refusal, fileengine::kRealRefusal);
            ++refused;
            continue;
        }
        ASSERT_TRUE(ok) << refusal;
        for (const Expected& e : kExpected) {
            if (e.identifier != slot.identifier) continue;
            ++checked;
            EXPECT_EQ(plan.container, e.container);
            EXPECT_EQ(plan.video.codec, e.video);
            EXPECT_EQ(plan.video.width, e.width);
            EXPECT_EQ(plan.video.height, e.height);
            if (!plan.video.rateFromSource) {
                EXPECT_EQ(plan.video.rateNum, e.rateNum);
                EXPECT_EQ(plan.video.rateDen, e.rateDen);
            }
            EXPECT_EQ(plan.audio.codec, e.audio);
            EXPECT_EQ(plan.audio.sampleRate, e.sampleRate);
            EXPECT_EQ(plan.audio.channels, 2);
            EXPECT_EQ(plan.audio.bitRate, e.audioBitRate);
        }
    }
    EXPECT_EQ(checked, std::size(kExpected));
    EXPECT_EQ(refused, 9u);
}

TEST(OutputPlan, DiscFormatsKeepTheirStandardLimits) {
    std::vector<profiles::ProfileSlot> slots(profiles::BuiltinProfileCount());
    ASSERT_TRUE(profiles::BuildBuiltinSlots(slots.data(), slots.size()));
    for (const profiles::ProfileSlot& slot : slots) {
        const auto record = RecordOfSlot(slot);
        fileengine::OutputPlan plan;
        std::string refusal;
        if (!fileengine::MakeOutputPlan(*record, &plan, &refusal)) continue;
        SCOPED_TRACE(slot.identifier);
        switch (plan.container) {
            case Container::kVcd:
                EXPECT_EQ(plan.video.bitRate, 1150000);
                EXPECT_EQ(plan.video.maxRate, 1150000);
                EXPECT_EQ(plan.packetSize, 2324);
                break;
            case Container::kSvcd:
                EXPECT_LE(plan.video.maxRate, 2516000);
                EXPECT_EQ(plan.packetSize, 2324);
                break;
            case Container::kDvd:
                EXPECT_LE(plan.video.maxRate, 9800000);
                EXPECT_LE(plan.video.bitRate, plan.video.maxRate);
                EXPECT_EQ(plan.packetSize, 2048);
                break;
            default:
                break;
        }
    }
}

TEST(OutputPlan, RecordsOutOfRangeAreRefused) {
    std::vector<profiles::ProfileSlot> slots(profiles::BuiltinProfileCount());
    ASSERT_TRUE(profiles::BuildBuiltinSlots(slots.data(), slots.size()));
    const auto dvd = RecordOfSlot(slots[profiles::kFirstMpegSlot]);
    struct Case {
        const char* what;
        void (*spoil)(profiles::ProfileRecord&);
    };
    const Case cases[] = {
        {"odd width",
         [](profiles::ProfileRecord& r) {
             profiles::FindMpegParam(r.block.mpeg, profiles::kParamWidth)->value.i = 351;
         }},
        {"huge height",
         [](profiles::ProfileRecord& r) {
             profiles::FindMpegParam(r.block.mpeg, profiles::kParamHeight)->value.i = 100000;
         }},
        {"no parameters", [](profiles::ProfileRecord& r) { r.block.mpeg.paramCount = 0; }},
        {"class 13", [](profiles::ProfileRecord& r) { r.head.videoFormatClass = profiles::kClassLookupFailed; }},
        {"H.264 size",
         [](profiles::ProfileRecord& r) {
             r.head.videoFormatClass = profiles::kClassH264;
             std::memset(&r.block, 0, sizeof r.block);
             r.block.h264.width = 720;
             r.block.h264.height = 470;
             r.block.h264.frameRate = 25;
         }},
        {"AVI wave format",
         [](profiles::ProfileRecord& r) {
             r.head.videoFormatClass = profiles::kClassAvi;
             std::memset(&r.block, 0, sizeof r.block);
             r.block.avi.width = 320;
             r.block.avi.height = 240;
             r.block.avi.hasWave = 1;
             r.block.avi.wave = {0x161, 2, 44100, 16000, 1, 16, 0, 0};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = std::make_unique<profiles::ProfileRecord>(*dvd);
        c.spoil(*r);
        fileengine::OutputPlan plan;
        std::string refusal;
        EXPECT_FALSE(fileengine::MakeOutputPlan(*r, &plan, &refusal));
        EXPECT_FALSE(refusal.empty());
    }
}

TEST(OutputPlan, TelevisionRatesBecomeExactFractions) {
    const struct {
        double rate;
        int num, den;
    } cases[] = {{29.97, 30000, 1001}, {29.97f, 30000, 1001}, {23.976, 24000, 1001}, {25.0, 25, 1},
                 {30.0, 30, 1},        {12.5, 25, 2},         {0.0, 25, 1},          {1e9, 25, 1}};
    for (const auto& c : cases) {
        int num = 0, den = 0;
        fileengine::RationalFrameRate(c.rate, &num, &den);
        EXPECT_EQ(num, c.num) << c.rate;
        EXPECT_EQ(den, c.den) << c.rate;
    }
}

}  // namespace

namespace {

TEST(CapturePlan, CaptureKindsGiveTheirConversions) {
    engines::CaptureParams p{};
    p.encoderType = engines::kEncoderMpeg2;
    const uint32_t video[4] = {720, 576, 6000000, 0};
    std::memcpy(p.mpeg.videoValues, video, sizeof video);
    const float rate = 25.0f;
    std::memcpy(&p.mpeg.rateValue, &rate, sizeof rate);
    std::strcpy(p.mpeg.text, "IBBPBBPBBPBBP");
    const uint32_t audio[3] = {2, 2, 2};
    std::memcpy(p.mpeg.audioValues, audio, sizeof audio);
    p.mpeg.samplingRate = 44000;  // as the capture page writes 44.1 kHz
    p.mpeg.audioBitRate = 192000;
    fileengine::OutputPlan plan;
    std::string refusal;
    ASSERT_TRUE(fileengine::MakeMpegCapturePlan(p, &plan, &refusal)) << refusal;
    EXPECT_EQ(plan.container, Container::kMpeg2Ps);
    EXPECT_EQ(plan.video.width, 720);
    EXPECT_EQ(plan.video.gopSize, 13);
    EXPECT_EQ(plan.video.bFrames, 2);
    EXPECT_EQ(plan.audio.sampleRate, 44100);
    EXPECT_EQ(plan.audio.bitRate, 192000);

    p.mpeg.streamSelection = 1;  // video only
    ASSERT_TRUE(fileengine::MakeMpegCapturePlan(p, &plan, &refusal));
    EXPECT_EQ(plan.audio.codec, AudioCodec::kNone);

    p.encoderType = engines::kEncoderDv;
    EXPECT_FALSE(fileengine::MakeMpegCapturePlan(p, &plan, &refusal));
    EXPECT_FALSE(fileengine::MakeH264CapturePlan(p, &plan, &refusal));

    engines::CaptureParams h{};
    h.encoderType = engines::kEncoderH264;
    ASSERT_TRUE(fileengine::MakeH264CapturePlan(h, &plan, &refusal)) << refusal;
    EXPECT_EQ(plan.container, Container::kH264Ts);
    EXPECT_EQ(plan.video.width, 0);  // the recording's size
    EXPECT_TRUE(plan.video.rateFromSource);
    EXPECT_EQ(plan.audio.codec, AudioCodec::kMp2);
    EXPECT_EQ(plan.audio.sampleRate, 48000);
}

}  // namespace
