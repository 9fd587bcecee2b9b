#include "engines/file_engine/output_plan.h"

#include <cmath>
#include <cstring>
#include <numeric>

namespace fileengine {

using namespace profiles;

const char kRealRefusal[] =
    "Real profiles cannot be converted: no RealVideo encoder is available. Choose a profile of another format.";

namespace {

constexpr uint32_t FourCc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

// Sizes and rates past these are no profile anyone makes, and would only make the encoders
// fail later with a less clear message.
constexpr int kMaxDimension = 4096;
constexpr int64_t kMaxVideoBitRate = 100000000;

// The video buffering verifier sizes of the disc formats (bits): 40 KiB for Video CD
// (ISO/IEC 11172-2 constrained parameters), 224 KiB for SVCD and DVD (MPEG-2 Main Level).
constexpr int64_t kVcdBufferBits = 327680;
constexpr int64_t kMainLevelBufferBits = 1835008;

int MpegInt(const MpegBlock& block, uint32_t id) {
    const MpegParam* p = FindMpegParam(block, id);
    return p ? p->value.i : 0;
}

float MpegFloat(const MpegBlock& block, uint32_t id) {
    const MpegParam* p = FindMpegParam(block, id);
    return p ? p->value.f : 0.0f;
}

// GOP length and B pictures between anchors of a pattern such as "IBBPBBPBBPBBP".
void PatternShape(const MpegBlock& block, int* gop, int* bFrames) {
    const MpegParam* p = FindMpegParam(block, kParamPattern);
    *gop = 12;
    *bFrames = 2;
    if (!p) return;
    const size_t length = strnlen(p->value.text, kPatternSize);
    if (length == 0 || p->value.text[0] != 'I') return;
    *gop = static_cast<int>(length);
    int run = 0;
    for (size_t i = 1; i < length && p->value.text[i] == 'B'; ++i)
        ++run;
    *bFrames = run;
}

// The samples-per-second code of the audio block: one bit per rate.
int SampleRateFromCode(int32_t code, int fallback) {
    switch (code) {
        case 1:
            return 48000;
        case 2:
            return 44100;
        case 4:
            return 32000;
        default:
            return fallback;
    }
}

bool MpegPlan(const ProfileRecord& record, OutputPlan* plan, std::string* refusal) {
    const MpegBlock& b = record.block.mpeg;
    if (b.paramCount != kMpegParamCount || b.streamBlockCount < 1) {
        *refusal = "The profile's MPEG settings are incomplete.";
        return false;
    }
    const int32_t cls = record.head.videoFormatClass;
    VideoPlan& v = plan->video;
    v.codec = cls == kClassMpeg1 || cls == kClassVcd ? VideoCodec::kMpeg1 : VideoCodec::kMpeg2;
    v.width = MpegInt(b, kParamWidth);
    v.height = MpegInt(b, kParamHeight);
    RationalFrameRate(MpegFloat(b, kParamFrameRate), &v.rateNum, &v.rateDen);
    v.bitRate = MpegInt(b, kParamVideoBitRate);
    v.minRate = MpegInt(b, kParamMinBitRate);
    v.maxRate = MpegInt(b, kParamMaxBitRate);
    PatternShape(b, &v.gopSize, &v.bFrames);
    v.interlaced = v.codec == VideoCodec::kMpeg2 && MpegInt(b, kParamInterlacing) != 0;
    v.topFieldFirst = record.head.fieldOrder != 2;
    if (v.bitRate <= 0) v.quality = 4;
    if (v.maxRate > 0 && v.maxRate < v.bitRate) v.maxRate = v.bitRate;
    if (v.minRate > v.bitRate) v.minRate = 0;

    const int fallbackRate = cls == kClassDvd || cls == kClassMpeg2 ? 48000 : 44100;
    if (b.streams[0].type == kStreamBlockAudio) {
        if (!AudioPlanOfStreamBlock(b.streams[0].audio, fallbackRate, &plan->audio, refusal)) return false;
    } else {
        plan->audio = AudioPlan{AudioCodec::kMp2, fallbackRate, 2, 224000};
    }

    switch (cls) {
        case kClassMpeg1:
            plan->container = Container::kMpeg1System;
            break;
        case kClassVcd:
            // White Book Video CD: constant 1,150 kbit/s video, 44.1 kHz layer II audio,
            // 2,324-byte sectors at 75 a second.
            plan->container = Container::kVcd;
            v.bitRate = 1150000;
            v.minRate = v.maxRate = v.bitRate;
            v.bufferBits = kVcdBufferBits;
            plan->audio.sampleRate = 44100;
            plan->muxRate = 1411200;
            plan->packetSize = 2324;
            plan->preloadUs = 440000;
            break;
        case kClassSvcd:
            plan->container = Container::kSvcd;
            if (v.maxRate <= 0 || v.maxRate > 2516000) v.maxRate = 2516000;
            if (v.bitRate > v.maxRate) v.bitRate = v.maxRate;
            v.bufferBits = kMainLevelBufferBits;
            plan->audio.sampleRate = 44100;
            plan->audio.codec = AudioCodec::kMp2;
            plan->packetSize = 2324;
            plan->preloadUs = 500000;
            break;
        case kClassDvd:
            // DVD-Video: video and audio together at most 10.08 Mbit/s, 48 kHz audio.
            plan->container = Container::kDvd;
            if (v.maxRate <= 0 || v.maxRate > 9800000) v.maxRate = 9800000;
            if (v.bitRate > v.maxRate) v.bitRate = v.maxRate;
            v.bufferBits = kMainLevelBufferBits;
            plan->audio.sampleRate = 48000;
            plan->muxRate = 10080000;
            plan->packetSize = 2048;
            plan->preloadUs = 500000;
            break;
        default:
            plan->container = Container::kMpeg2Ps;
            if (v.maxRate <= 0 && v.bitRate > 0) v.maxRate = v.bitRate * 3 / 2;
            v.bufferBits = kMainLevelBufferBits;
            break;
    }
    // MPEG-1 outside Video CD: the constrained parameters' buffer, at most the bit rate.
    if (v.codec == VideoCodec::kMpeg1 && v.bufferBits == 0 && v.bitRate > 0) {
        v.bufferBits = kVcdBufferBits;
        if (v.maxRate <= 0) v.maxRate = v.bitRate;
    }
    return true;
}

bool AviPlan(const ProfileRecord& record, OutputPlan* plan, std::string* refusal) {
    const AviBlock& b = record.block.avi;
    plan->container = Container::kAvi;
    VideoPlan& v = plan->video;
    v.codec = VideoCodec::kMpeg4;
    v.codecTag = FourCc('D', 'I', 'V', 'X');
    v.width = b.width;
    v.height = b.height;
    if (b.framesPerSecond > 0)
        RationalFrameRate(b.framesPerSecond, &v.rateNum, &v.rateDen);
    else
        v.rateFromSource = true;
    v.bitRate = b.bitRate;
    if (v.bitRate == 0) v.quality = 4;
    v.gopSize = b.keyFrameRate > 0 ? static_cast<int>(b.keyFrameRate) : 250;
    v.bFrames = 0;  // AVI has no time stamps of its own for reordered pictures
    if (!b.hasWave) return true;
    const ProfileWaveFormat& w = b.wave;
    AudioPlan& a = plan->audio;
    a.sampleRate = static_cast<int>(w.samplesPerSec);
    a.channels = w.channels;
    switch (w.formatTag) {
        case 0x0001:
            a.codec = AudioCodec::kPcmS16Le;
            break;
        case 0x0050:
            a.codec = AudioCodec::kMp2;
            break;
        case 0x0055:
            a.codec = AudioCodec::kMp3;
            break;
        default:
            *refusal = "The profile's audio format (tag " + std::to_string(w.formatTag) + ") has no encoder here.";
            return false;
    }
    a.bitRate = a.codec == AudioCodec::kPcmS16Le ? 0 : int64_t(w.avgBytesPerSec) * 8;
    if (a.channels < 1 || a.channels > 2 || a.sampleRate < 8000 || a.sampleRate > 48000) {
        *refusal = "The profile's audio format is out of range.";
        return false;
    }
    return true;
}

bool DvPlan(const ProfileRecord& record, OutputPlan* plan, std::string* refusal) {
    const DvBlock& b = record.block.dv;
    plan->container = Container::kDvAvi;
    VideoPlan& v = plan->video;
    v.codec = VideoCodec::kDv;
    // IEC 61834: 525-line frames of 720 x 480 at 30000/1001, 625-line of 720 x 576 at 25,
    // both bottom field first.
    if (b.videoFormat == 2000) {
        v.width = 720, v.height = 480, v.rateNum = 30000, v.rateDen = 1001;
    } else if (b.videoFormat == 2001) {
        v.width = 720, v.height = 576, v.rateNum = 25, v.rateDen = 1;
    } else {
        *refusal = "The DV profile names an unknown video format.";
        return false;
    }
    v.interlaced = true;
    v.topFieldFirst = false;
    plan->audio = AudioPlan{AudioCodec::kPcmS16Le, b.audioFormat == 32000 ? 32000 : 48000, 2, 0};
    plan->dvFileType = b.fileFormat == 1 ? 1 : 2;
    (void)refusal;
    return true;
}

bool H264Plan(const ProfileRecord& record, OutputPlan* plan, std::string* refusal) {
    const H264Block& b = record.block.h264;
    // A transport stream: the program-stream writer carries no stream map, without which
    // readers take H.264 under a video stream id for MPEG video.
    plan->container = Container::kH264Ts;
    VideoPlan& v = plan->video;
    v.codec = VideoCodec::kH264;
    v.width = b.width;
    v.height = b.height;
    RationalFrameRate(b.frameRate, &v.rateNum, &v.rateDen);
    v.gopSize = b.gopLength;
    v.bFrames = b.bFrames;
    v.bitRate = b.videoBitRate;
    v.maxRate = b.maxBitRate;
    v.rateControlMode = b.rateControlMode;
    v.cbrQuality = b.cbrQuality;
    v.entropyCoding = b.entropyCoding;
    v.deblock = b.deblock;
    v.motionSearch = b.useMotionEstimation;
    v.subPixel = b.subPixelAccuracy;
    v.searchRange = b.searchWRange > 0 ? b.searchWRange : 32;
    if (v.gopSize < 0 || v.bFrames < 0 || v.bFrames > 4) {
        *refusal = "The H.264 profile's picture pattern is out of range.";
        return false;
    }
    if (v.width % 16 != 0 || v.height % 16 != 0) {
        *refusal = "The H.264 profile's picture size must be a multiple of 16.";
        return false;
    }
    if (b.streamBlockCount >= 1 && b.streams[0].type == kStreamBlockAudio)
        return AudioPlanOfStreamBlock(b.streams[0].audio, 48000, &plan->audio, refusal);
    plan->audio = AudioPlan{AudioCodec::kMp2, 48000, 2, 224000};
    return true;
}

bool QuickTimePlan(const ProfileRecord& record, OutputPlan* plan) {
    const QuickTimeBlock& b = record.block.quickTime;
    plan->container = Container::kQuickTime;
    VideoPlan& v = plan->video;
    v.codec = VideoCodec::kRpza;  // the block's compressor, 'rpza' (Apple Video)
    v.width = static_cast<int>(b.width);
    v.height = static_cast<int>(b.height);
    v.rateFromSource = true;
    v.gopSize = b.keyFrameRate > 0 ? b.keyFrameRate : 1;
    v.bFrames = 0;
    plan->audio = AudioPlan{AudioCodec::kPcmS16Be, 44100, 2, 0};
    return true;
}

// Class 8: the four values of the stream information block carry the profile's identity,
// the sum of its video streams' bit rates and its audio stream's bit rate (bits per second).
bool WindowsMediaPlan(const ProfileRecord& record, OutputPlan* plan) {
    const StreamInfoBlock& b = record.block.streamInfo;
    plan->container = Container::kAsf;
    VideoPlan& v = plan->video;
    v.codec = VideoCodec::kWmv2;
    v.rateFromSource = true;
    v.bitRate = b.values[2] > 0 ? b.values[2] : 500000;
    v.gopSize = 100;
    v.bFrames = 0;
    plan->audio = AudioPlan{AudioCodec::kWmav2, 44100, 2, b.values[3] > 0 ? int64_t(b.values[3]) : 64000};
    return true;
}

}  // namespace

bool AudioPlanOfStreamBlock(const ProfileAudioFormat& a, int fallbackRate, AudioPlan* audio, std::string* refusal) {
    // Encoder type 3 asks for AC-3; the others are MPEG audio, layer II.
    audio->codec = a.encoderType == 3 ? AudioCodec::kAc3 : AudioCodec::kMp2;
    audio->sampleRate = SampleRateFromCode(a.samplesPerSecCode, fallbackRate);
    audio->channels = a.channels == 1 ? 1 : 2;
    int64_t bps = 0;
    if (!AudioBitRateFromCode(a.bitRate, &bps)) bps = 224000;
    if (audio->codec == AudioCodec::kMp2 && bps > 384000) {
        *refusal = "The profile's audio bit rate is above what MPEG audio layer II allows (384 kbit/s).";
        return false;
    }
    audio->bitRate = bps;
    return true;
}

void RationalFrameRate(double rate, int* num, int* den) {
    struct Known {
        double rate;
        int num, den;
    };
    static const Known kKnown[] = {{23.976, 24000, 1001}, {29.97, 30000, 1001}, {59.94, 60000, 1001}};
    for (const Known& k : kKnown) {
        if (std::fabs(rate - k.rate) < 0.005) {
            *num = k.num;
            *den = k.den;
            return;
        }
    }
    if (!(rate >= 1.0 && rate <= 120.0)) rate = 25.0;
    const int thousandths = static_cast<int>(std::lround(rate * 1000));
    const int g = std::gcd(thousandths, 1000);
    *num = thousandths / g;
    *den = 1000 / g;
}

bool MakeOutputPlan(const ProfileRecord& record, OutputPlan* plan, std::string* refusal) {
    *plan = OutputPlan{};
    refusal->clear();
    bool ok = false;
    switch (record.head.videoFormatClass) {
        case kClassMpeg1:
        case kClassMpeg2:
        case kClassVcd:
        case kClassSvcd:
        case kClassDvd:
            ok = MpegPlan(record, plan, refusal);
            break;
        case kClassAvi:
            ok = AviPlan(record, plan, refusal);
            break;
        case kClassDv:
            ok = DvPlan(record, plan, refusal);
            break;
        case kClassH264:
            ok = H264Plan(record, plan, refusal);
            break;
        case kClassQuickTime:
            ok = QuickTimePlan(record, plan);
            break;
        case kClassStreamInfo:
            ok = WindowsMediaPlan(record, plan);
            break;
        case kClassReal:
            *refusal = kRealRefusal;
            return false;
        default:
            *refusal = "The profile names no output format that files can be converted into.";
            return false;
    }
    if (!ok) return false;
    const VideoPlan& v = plan->video;
    if (v.width < 0 || v.height < 0 || v.width > kMaxDimension || v.height > kMaxDimension || v.width % 2 ||
        v.height % 2 ||
        (!v.rateFromSource && (v.width == 0 || v.height == 0) && v.codec != VideoCodec::kWmv2 &&
         v.codec != VideoCodec::kRpza)) {
        *refusal = "The profile's picture size is out of range.";
        return false;
    }
    if (v.bitRate < 0 || v.bitRate > kMaxVideoBitRate) {
        *refusal = "The profile's video bit rate is out of range.";
        return false;
    }
    return true;
}

}  // namespace fileengine
