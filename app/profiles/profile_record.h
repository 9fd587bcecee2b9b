// The profile record: one fixed-size block that carries an encoding profile from the store
// to the pages and the outside engines. Its layout is exchanged as bytes, so every size and
// offset below is pinned. A record is self-contained: the MPEG parameters, the audio block
// and the AVI wave format live inside its class block, so a copy made by value is an
// independent record and nothing is shared or freed twice.
#pragma once

#include <cstddef>
#include <cstdint>

namespace profiles {

// Result codes of the store and the record helpers (the COM values the callers test).
using ProfileStatus = int32_t;
inline constexpr ProfileStatus kProfileOk = 0;
inline constexpr ProfileStatus kProfileFail = static_cast<int32_t>(0x80004005u);
inline constexpr ProfileStatus kStreamInfoMissing = static_cast<int32_t>(0x80A0000Cu);
// A write refused because the record's name could not be read back exactly (a line break,
// or no room for its end): E_INVALIDARG.
inline constexpr ProfileStatus kProfileBadName = static_cast<int32_t>(0x80070057u);
// A write refused because the file would outgrow what the store reads:
// HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE).
inline constexpr ProfileStatus kProfileFileFull = static_cast<int32_t>(0x800700DFu);

// Video Format Class: selects the class block and the output kind.
enum VideoFormatClass : int32_t {
    kClassAvi = 1,
    kClassDv = 2,
    kClassMpeg1 = 3,
    kClassMpeg2 = 4,  // also the MV profile
    kClassVcd = 5,
    kClassSvcd = 6,
    kClassDvd = 7,
    kClassStreamInfo = 8,
    kClassReal = 9,
    kClassQuickTime = 10,
    kClassHeadOnly = 11,
    kClassH264 = 12,
    kClassLookupFailed = 13,
};

// Attribute bits.
inline constexpr uint32_t kAttrDvCapturePage = 0x01;
inline constexpr uint32_t kAttrFileConvertPage = 0x02;
inline constexpr uint32_t kAttrHidden = 0x08;
inline constexpr uint32_t kAttrUserMade = 0x40;
inline constexpr uint32_t kAttrStorable = 0x80;

inline constexpr int32_t kGroupUser = 2;
inline constexpr int32_t kGroupCamcorder = 3;  // the camcorder's own MPEG-2 profile
inline constexpr int32_t kGroupLookupFailed = -1;

struct ProfileHead {
    char className[128];
    char name[128];
    char description[1024];
    char outputFileName[260];
    uint32_t descId;
    uint32_t nameId;
    uint32_t stringId3;
    uint32_t stringId4;  // information text of the selection dialog
    int32_t group;
    int32_t videoFormatClass;
    int32_t streamFlag;
    uint32_t fieldOrder;  // 0, 1 or 2
    uint32_t attribute;
};

// The wave format of an AVI profile, laid out as WAVEFORMATEX in its first 18 bytes.
struct ProfileWaveFormat {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    uint16_t cbSize;
    uint16_t reserved;
};

struct AviBlock {
    char videoCompressor[260];
    char audioCompressor[260];
    uint32_t keyFrameRate;
    uint32_t reserved0;
    double framesPerSecond;
    double quality;
    uint32_t bitRate;  // bits per second
    int32_t width;
    int32_t height;
    int32_t colorBits;
    ProfileWaveFormat wave;
    uint32_t hasWave;  // 0: the record carries no audio format
    // Codec private state from the codec inventory; not owned by the record, null in
    // built-in profiles and in records read from the profile file.
    void* compressorState;
    uint32_t compressorStateSize;
    uint32_t reserved1;
};

struct DvBlock {
    uint32_t videoFormat;  // 2000: 29.97 frames/s, 2001: 25
    uint32_t audioFormat;  // sample rate, 32000 or 48000
    uint32_t channel;
    uint32_t fileFormat;
};

// Audio of MPEG and H.264 profiles.
struct ProfileAudioFormat {
    int32_t encoderType;
    int32_t audioMode;
    int32_t channels;
    int32_t samplesPerSecCode;
    int32_t bitsPerSample;
    int32_t reserved0;
    int64_t bitRate;  // MPEG classes: a bit-rate code (one bit); H.264: as given
    int32_t layer;
    int32_t misc;
    int32_t samplesPerFrame;
    int32_t reserved1[3];
};

inline constexpr uint32_t kStreamBlockAudio = 3;

struct ProfileStreamBlock {
    uint32_t type;  // 3: audio format
    uint32_t size;  // bytes of `audio` in use: 56
    ProfileAudioFormat audio;
};

inline constexpr uint32_t kPatternSize = 64;

struct MpegParam {
    uint32_t id;
    uint32_t size;  // bytes of the value: 4, or 64 for the pattern
    union {
        int32_t i;
        float f;
        char text[kPatternSize];
    } value;
};

inline constexpr uint32_t kMpegParamCount = 17;

// Parameter ids, in the fixed order of the parameter array.
enum MpegParamId : uint32_t {
    kParamVideoBitRate = 0xC107,
    kParamMinBitRate = 0xC109,
    kParamMaxBitRate = 0xC108,
    kParamVideoQuality = 0xC10E,
    kParamWidth = 0xC104,
    kParamHeight = 0xC105,
    kParamFrameRate = 0xC10B,
    kParamPattern = 0xC106,
    kParamPreProcessing = 0xC10A,
    kParamResize = 0xC111,
    kParamFlipVideo = 0xC110,
    kParamSpeedQuality = 0xC112,
    kParamInterlacing = 0xC113,
    kParamFieldOrderCode = 0xC115,
    kParamActiveEncoder = 0xC101,
    kParamAppType = 0xC119,
    kParamDynamicGop = 0xC11B,
};
extern const MpegParamId kMpegParamOrder[kMpegParamCount];

struct MpegBlock {
    uint32_t paramCount;        // 17 once prepared
    uint32_t streamBlockCount;  // 1 once prepared
    MpegParam params[kMpegParamCount];
    ProfileStreamBlock streams[1];
};

struct StreamInfoBlock {
    char text[4096];
    uint32_t values[4];
};

struct RealBlock {
    uint32_t width;
    uint32_t height;
    uint32_t audioFormat;
    uint32_t videoQuality;
    uint32_t targetAudience;  // one bit per audience
    uint32_t reserved0;
    char texts[5][128];
    uint8_t reserved1[896];
};

struct QuickTimeBlock {
    uint32_t width;
    uint32_t height;
    uint32_t compressorComponent;
    int32_t keyFrameRate;
    int32_t videoType;  // four-character code as a number
    int32_t videoQuality;
};

struct H264Block {
    int32_t width;
    int32_t height;
    float frameRate;
    int32_t gopLength;
    int32_t bFrames;
    int32_t rateControlMode;
    int32_t videoBitRate;
    int32_t maxBitRate;
    int32_t cbrQuality;
    int32_t useMotionEstimation;
    int32_t searchWRange;
    int32_t searchHRange;
    int32_t subPixelAccuracy;
    int32_t enablePartition;
    int32_t distortionOpt;
    int32_t entropyCoding;
    int32_t deblock;
    int32_t sbdMode;
    uint32_t streamBlockCount;  // 1 once prepared
    int32_t keepOrgSize;        // written and read with the profile
    ProfileStreamBlock streams[1];
};

union ClassBlock {
    AviBlock avi;
    DvBlock dv;
    MpegBlock mpeg;
    StreamInfoBlock streamInfo;
    RealBlock real;
    QuickTimeBlock quickTime;
    H264Block h264;
    uint8_t bytes[4112];
};

struct ProfileRecord {
    ProfileHead head;
    ClassBlock block;
};

// One built-in profile of the store.
struct ProfileSlot {
    uint32_t identifier;  // series * 100 + ordinal
    ProfileHead head;
    uint32_t reserved;
    ClassBlock block;
};

static_assert(sizeof(ProfileHead) == 1576);
static_assert(offsetof(ProfileHead, name) == 128);
static_assert(offsetof(ProfileHead, description) == 256);
static_assert(offsetof(ProfileHead, outputFileName) == 1280);
static_assert(offsetof(ProfileHead, descId) == 1540);
static_assert(offsetof(ProfileHead, nameId) == 1544);
static_assert(offsetof(ProfileHead, stringId3) == 1548);
static_assert(offsetof(ProfileHead, stringId4) == 1552);
static_assert(offsetof(ProfileHead, group) == 1556);
static_assert(offsetof(ProfileHead, videoFormatClass) == 1560);
static_assert(offsetof(ProfileHead, streamFlag) == 1564);
static_assert(offsetof(ProfileHead, fieldOrder) == 1568);
static_assert(offsetof(ProfileHead, attribute) == 1572);
static_assert(sizeof(ProfileWaveFormat) == 20 && offsetof(ProfileWaveFormat, cbSize) == 16);
static_assert(offsetof(AviBlock, keyFrameRate) == 520);
static_assert(offsetof(AviBlock, framesPerSecond) == 528);
static_assert(offsetof(AviBlock, quality) == 536);
static_assert(offsetof(AviBlock, bitRate) == 544);
static_assert(offsetof(AviBlock, colorBits) == 556);
static_assert(offsetof(AviBlock, wave) == 560);
static_assert(offsetof(AviBlock, hasWave) == 580);
static_assert(offsetof(AviBlock, compressorState) == 584);
static_assert(offsetof(AviBlock, compressorStateSize) == 592);
static_assert(sizeof(AviBlock) == 600);
static_assert(sizeof(DvBlock) == 16);
static_assert(sizeof(ProfileAudioFormat) == 56);
static_assert(offsetof(ProfileAudioFormat, bitRate) == 24);
static_assert(offsetof(ProfileAudioFormat, layer) == 32);
static_assert(offsetof(ProfileAudioFormat, samplesPerFrame) == 40);
static_assert(sizeof(ProfileStreamBlock) == 64 && offsetof(ProfileStreamBlock, audio) == 8);
static_assert(sizeof(MpegParam) == 72 && offsetof(MpegParam, value) == 8);
static_assert(offsetof(MpegBlock, params) == 8);
static_assert(offsetof(MpegBlock, streams) == 1232);
static_assert(sizeof(MpegBlock) == 1296);
static_assert(sizeof(StreamInfoBlock) == 4112);
static_assert(sizeof(RealBlock) == 1560 && offsetof(RealBlock, texts) == 24);
static_assert(sizeof(QuickTimeBlock) == 24);
static_assert(offsetof(H264Block, sbdMode) == 68);
static_assert(offsetof(H264Block, streamBlockCount) == 72);
static_assert(offsetof(H264Block, keepOrgSize) == 76);
static_assert(offsetof(H264Block, streams) == 80);
static_assert(sizeof(H264Block) == 144);
static_assert(sizeof(ClassBlock) == 4112);
static_assert(sizeof(ProfileRecord) == 5688 && offsetof(ProfileRecord, block) == 1576);
static_assert(sizeof(ProfileSlot) == 5696);
static_assert(offsetof(ProfileSlot, head) == 4 && offsetof(ProfileSlot, reserved) == 1580 &&
              offsetof(ProfileSlot, block) == 1584);

bool IsMpegFormatClass(int32_t videoFormatClass);

// Prepares a record to receive an MPEG-class profile: clears it, sets the 17 parameters'
// ids and sizes and one audio stream block. A record already prepared keeps its values; a
// record that refers to a compressor state is left alone and false is returned, so the
// reference is not lost.
bool AllocMpegParams(ProfileRecord& record);
// Clears the parameter values and the stream block; the counts stay.
bool FreeMpegParams(ProfileRecord& record);
// Prepares the H.264 block's audio stream block; a block already prepared keeps its values.
ProfileStatus AllocH264Params(ProfileRecord& record);
// For class 12 clears the H.264 stream block and returns 0; otherwise E_FAIL.
ProfileStatus FreeProfileParams(ProfileRecord& record);

// Sets the parameter ids, sizes and counts of an MPEG block (values untouched).
void InitMpegLayout(MpegBlock& block);
void InitAudioStream(ProfileStreamBlock& stream);
// The parameter with `id`, or null when the block does not hold it.
MpegParam* FindMpegParam(MpegBlock& block, uint32_t id);
const MpegParam* FindMpegParam(const MpegBlock& block, uint32_t id);

// Field-order code of parameter 0xC115: 0 for Field Order 0, 6 for 1, 7 for 2.
int32_t FieldOrderCode(uint32_t fieldOrder);

// The audio bit-rate code table: code 1 << k stands for kAudioBitRates[k] bit/s.
inline constexpr int kAudioBitRateCodes = 30;
extern const int64_t kAudioBitRates[kAudioBitRateCodes];
// Bits per second of a code; false when the code is not a single bit of the table.
bool AudioBitRateFromCode(int64_t code, int64_t* bitsPerSecond);
// The code of a bit rate; false when the table has no such rate.
bool AudioCodeFromBitRate(int64_t bitsPerSecond, int64_t* code);

// Copies `text` into a fixed array, cut at the array's size less one.
void CopyText(char* dst, size_t dstSize, const char* text, size_t length);
template <size_t N>
void CopyText(char (&dst)[N], const char* text, size_t length) {
    CopyText(dst, N, text, length);
}

// Codec private state: the 32-bit values at bytes 268, 272, 12 and 264. Both touch the
// block only when `size` covers the offsets used, and fail otherwise.
ProfileStatus GetCompressorFrameInfo(const void* state, uint32_t size, uint32_t out[4]);
ProfileStatus SetCompressorFrameValue(void* state, uint32_t size, uint32_t value);

}  // namespace profiles
