#include "app/profiles/profile_record.h"

#include <cstring>

namespace profiles {

const MpegParamId kMpegParamOrder[kMpegParamCount] = {
    kParamVideoBitRate, kParamMinBitRate,   kParamMaxBitRate,  kParamVideoQuality,   kParamWidth,
    kParamHeight,       kParamFrameRate,    kParamPattern,     kParamPreProcessing,  kParamResize,
    kParamFlipVideo,    kParamSpeedQuality, kParamInterlacing, kParamFieldOrderCode, kParamActiveEncoder,
    kParamAppType,      kParamDynamicGop,
};

const int64_t kAudioBitRates[kAudioBitRateCodes] = {
    32000,  40000,  48000,  56000,   64000,   80000,   96000,   112000,  128000,  160000,
    192000, 224000, 256000, 288000,  320000,  384000,  416000,  448000,  512000,  576000,
    640000, 768000, 960000, 1152000, 1536000, 1920000, 2304000, 3072000, 3840000, 4608000,
};

bool IsMpegFormatClass(int32_t videoFormatClass) {
    return videoFormatClass >= kClassMpeg1 && videoFormatClass <= kClassDvd;
}

void InitAudioStream(ProfileStreamBlock& stream) {
    stream.type = kStreamBlockAudio;
    stream.size = sizeof(ProfileAudioFormat);
}

void InitMpegLayout(MpegBlock& block) {
    block.paramCount = kMpegParamCount;
    block.streamBlockCount = 1;
    for (uint32_t i = 0; i < kMpegParamCount; ++i) {
        block.params[i].id = kMpegParamOrder[i];
        block.params[i].size = kMpegParamOrder[i] == kParamPattern ? kPatternSize : 4;
    }
    InitAudioStream(block.streams[0]);
}

static bool AudioStreamPrepared(const ProfileStreamBlock& stream) {
    return stream.type == kStreamBlockAudio && stream.size == sizeof(ProfileAudioFormat);
}

static bool MpegPrepared(const MpegBlock& block) {
    if (block.paramCount != kMpegParamCount || block.streamBlockCount != 1) return false;
    for (uint32_t i = 0; i < kMpegParamCount; ++i) {
        if (block.params[i].id != kMpegParamOrder[i]) return false;
    }
    return AudioStreamPrepared(block.streams[0]);
}

static bool HoldsCompressorState(const ProfileRecord& record) {
    return record.head.videoFormatClass == kClassAvi && record.block.avi.compressorState != nullptr;
}

bool AllocMpegParams(ProfileRecord& record) {
    if (HoldsCompressorState(record)) return false;
    if (MpegPrepared(record.block.mpeg)) return true;
    std::memset(&record, 0, sizeof record);
    InitMpegLayout(record.block.mpeg);
    return true;
}

bool FreeMpegParams(ProfileRecord& record) {
    MpegBlock& block = record.block.mpeg;
    for (MpegParam& p : block.params)
        p = MpegParam{};
    block.streams[0] = ProfileStreamBlock{};
    return true;
}

ProfileStatus AllocH264Params(ProfileRecord& record) {
    H264Block& block = record.block.h264;
    if (block.streamBlockCount == 1 && AudioStreamPrepared(block.streams[0])) return kProfileOk;
    block.streamBlockCount = 1;
    block.streams[0] = ProfileStreamBlock{};
    InitAudioStream(block.streams[0]);
    return kProfileOk;
}

ProfileStatus FreeProfileParams(ProfileRecord& record) {
    if (record.head.videoFormatClass != kClassH264) return kProfileFail;
    record.block.h264.streams[0] = ProfileStreamBlock{};
    return kProfileOk;
}

MpegParam* FindMpegParam(MpegBlock& block, uint32_t id) {
    for (MpegParam& p : block.params) {
        if (p.id == id) return &p;
    }
    return nullptr;
}

const MpegParam* FindMpegParam(const MpegBlock& block, uint32_t id) {
    for (const MpegParam& p : block.params) {
        if (p.id == id) return &p;
    }
    return nullptr;
}

int32_t FieldOrderCode(uint32_t fieldOrder) {
    switch (fieldOrder) {
        case 1:
            return 6;
        case 2:
            return 7;
        default:
            return 0;
    }
}

bool AudioBitRateFromCode(int64_t code, int64_t* bitsPerSecond) {
    for (int k = 0; k < kAudioBitRateCodes; ++k) {
        if (code == (int64_t{1} << k)) {
            *bitsPerSecond = kAudioBitRates[k];
            return true;
        }
    }
    return false;
}

bool AudioCodeFromBitRate(int64_t bitsPerSecond, int64_t* code) {
    for (int k = 0; k < kAudioBitRateCodes; ++k) {
        if (kAudioBitRates[k] == bitsPerSecond) {
            *code = int64_t{1} << k;
            return true;
        }
    }
    return false;
}

void CopyText(char* dst, size_t dstSize, const char* text, size_t length) {
    if (dstSize == 0) return;
    size_t n = length < dstSize - 1 ? length : dstSize - 1;
    if (n) std::memcpy(dst, text, n);
    std::memset(dst + n, 0, dstSize - n);
}

// Byte positions in the codec private state: frame width, frame height, bit rate, and the
// value the file conversion page sets.
constexpr uint32_t kStateWidth = 268, kStateHeight = 272, kStateBitRate = 12, kStateValue = 264;

ProfileStatus GetCompressorFrameInfo(const void* state, uint32_t size, uint32_t out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    if (state == nullptr || size < kStateHeight + 4) return kProfileFail;
    const auto* bytes = static_cast<const unsigned char*>(state);
    const uint32_t offsets[4] = {kStateWidth, kStateHeight, kStateBitRate, kStateValue};
    for (int i = 0; i < 4; ++i)
        std::memcpy(&out[i], bytes + offsets[i], 4);
    return kProfileOk;
}

ProfileStatus SetCompressorFrameValue(void* state, uint32_t size, uint32_t value) {
    if (state == nullptr || size < kStateValue + 4) return kProfileFail;
    std::memcpy(static_cast<unsigned char*>(state) + kStateValue, &value, 4);
    return kProfileOk;
}

}  // namespace profiles
