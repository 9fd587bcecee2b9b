#include "engines/file_engine/capture_plan.h"

#include <cstring>
#include <memory>

namespace fileengine {

using namespace profiles;

namespace {

int32_t ClassOfKind(uint32_t kind) {
    switch (kind) {
        case engines::kEncoderMpeg1:
            return kClassMpeg1;
        case engines::kEncoderMpeg2:
            return kClassMpeg2;
        case engines::kEncoderVcd:
            return kClassVcd;
        case engines::kEncoderSvcd:
            return kClassSvcd;
        case engines::kEncoderDvd:
            return kClassDvd;
        default:
            return 0;
    }
}

// The block's sampling rate as the samples-per-second code of a profile (the page writes
// 44000 for 44.1 kHz).
int32_t RateCode(uint32_t hz) {
    switch (hz) {
        case 48000:
            return 1;
        case 44000:
        case 44100:
            return 2;
        case 32000:
            return 4;
        default:
            return 0;
    }
}

}  // namespace

bool MakeMpegCapturePlan(const engines::CaptureParams& params, OutputPlan* plan, std::string* refusal) {
    const int32_t cls = ClassOfKind(params.encoderType);
    if (cls == 0) {
        *refusal = "not an MPEG capture kind";
        return false;
    }
    const engines::MpegCaptureSettings& m = params.mpeg;
    auto record = std::make_unique<ProfileRecord>();
    std::memset(record.get(), 0, sizeof *record);
    record->head.videoFormatClass = cls;
    InitMpegLayout(record->block.mpeg);
    MpegBlock& b = record->block.mpeg;
    const auto set = [&b](uint32_t id, uint32_t value) { FindMpegParam(b, id)->value.i = static_cast<int32_t>(value); };
    set(kParamWidth, m.videoValues[0]);
    set(kParamHeight, m.videoValues[1]);
    set(kParamVideoBitRate, m.videoValues[2]);
    set(kParamVideoQuality, m.videoValues[3]);
    float rate = 0;
    std::memcpy(&rate, &m.rateValue, sizeof rate);
    FindMpegParam(b, kParamFrameRate)->value.f = rate;
    CopyText(FindMpegParam(b, kParamPattern)->value.text, m.text, strnlen(m.text, sizeof m.text));
    const uint32_t more[] = {kParamPreProcessing, kParamResize,     kParamFlipVideo,  kParamSpeedQuality,
                             kParamInterlacing,   kParamMinBitRate, kParamMaxBitRate, kParamDynamicGop};
    for (size_t i = 0; i < std::size(more); ++i)
        set(more[i], m.moreVideoValues[i]);
    ProfileAudioFormat& a = b.streams[0].audio;
    b.streams[0].type = kStreamBlockAudio;
    a.encoderType = static_cast<int32_t>(m.audioValues[0]);
    a.audioMode = static_cast<int32_t>(m.audioValues[1]);
    a.channels = static_cast<int32_t>(m.audioValues[2]);
    a.samplesPerSecCode = RateCode(m.samplingRate);
    int64_t code = 0;
    a.bitRate = AudioCodeFromBitRate(m.audioBitRate, &code) ? code : 0;
    if (!MakeOutputPlan(*record, plan, refusal)) return false;
    // A block without a frame rate takes the recording's.
    if (!(rate > 0)) plan->video.rateFromSource = true;
    if (m.streamSelection == 1) plan->audio.codec = AudioCodec::kNone;
    return true;
}

bool MakeH264CapturePlan(const engines::CaptureParams& params, OutputPlan* plan, std::string* refusal) {
    if (params.encoderType != engines::kEncoderH264) {
        *refusal = "not the H.264 capture kind";
        return false;
    }
    auto record = std::make_unique<ProfileRecord>();
    std::memset(record.get(), 0, sizeof *record);
    record->head.videoFormatClass = kClassH264;
    H264Block& b = record->block.h264;
    static_assert(sizeof params.h264.video == offsetof(H264Block, streamBlockCount));
    static_assert(sizeof params.h264.audio == sizeof b.streams[0].audio);
    std::memcpy(&b, params.h264.video, sizeof params.h264.video);
    b.streamBlockCount = 1;
    b.streams[0].type = kStreamBlockAudio;
    std::memcpy(&b.streams[0].audio, params.h264.audio, sizeof params.h264.audio);
    // A block without a frame size takes the recording's (checked here at a valid one).
    const bool sourceSize = b.width == 0 || b.height == 0;
    if (sourceSize) b.width = 720, b.height = 576;
    if (!MakeOutputPlan(*record, plan, refusal)) return false;
    plan->container = Container::kH264Ts;
    plan->video.rateFromSource = true;
    if (sourceSize) plan->video.width = plan->video.height = 0;
    return true;
}

}  // namespace fileengine
