// The encoder block: the one array of 32-bit words that the filter fills and every core
// object reads through pointers (picture record, parameter words, plane and macroblock
// geometry), with the rules that settle it when the filter stores its records.
#pragma once

#include <cstdint>

namespace ombrisk {

// Word offsets inside the block.
constexpr int kBlockInitialised = 1;   // 1 once a picture or parameter record was stored
constexpr int kBlockPicture = 2;       // picture record, 10 words
constexpr int kBlockParams = 12;       // parameter words 0-32
constexpr int kBlockLuma = 45;         // luma geometry, 6 words
constexpr int kBlockChroma = 51;       // chroma geometry, 6 words
constexpr int kBlockMacroblocks = 57;  // macroblock geometry, 6 words
constexpr int kBlockSource = 63;       // input width and height in pixels (what the decoder shows)
constexpr int kBlockWords = 65;

// Picture record words.
constexpr int kPicCodedWidth = 0;
constexpr int kPicCodedHeight = 1;
constexpr int kPicAspectX = 2;
constexpr int kPicAspectY = 3;
constexpr int kPicLumaOffset = 4;
constexpr int kPicSecondPlaneOffset = 5;  // Cr in YV12 order
constexpr int kPicThirdPlaneOffset = 6;   // Cb in YV12 order
constexpr int kPicLumaPitch = 7;
constexpr int kPicChromaPitch = 8;
constexpr int kPicRecordWords = 10;

// Parameter words that the core reads.
constexpr int kParGopLength = 0;
constexpr int kParBFrames = 1;
constexpr int kParRefFrames = 2;  // -1 automatic
constexpr int kParProfile = 3;    // profile_idc 66, 77 or 88
constexpr int kParLevel = 4;      // level_idc; 52 automatic
constexpr int kParChromaFormat = 5;
constexpr int kParRateMode = 6;  // 0, 1 constant QP; 2 VBR; 3 CBR
constexpr int kParQpI = 7;
constexpr int kParQpP = 8;
constexpr int kParQpB = 9;
constexpr int kParQuality = 10;
constexpr int kParMinBitRate = 11;
constexpr int kParMaxBitRate = 12;
constexpr int kParAvgBitRate = 13;
constexpr int kParMotionSearch = 15;
constexpr int kParRangeX = 16;
constexpr int kParRangeY = 17;
constexpr int kParSubpelDepth = 18;
constexpr int kParPartitions = 19;
constexpr int kParMbCoderLevel = 20;
constexpr int kParCabac = 21;
constexpr int kParSceneDetect = 22;
constexpr int kParFlags = 25;  // bit 0 interlaced source, bit 1 deblocking, bit 2 stamps
constexpr int kParSliceCount = 26;
constexpr int kParVui = 27;
constexpr int kParAspectIdc = 28;  // 256 automatic
constexpr int kParSarWidth = 29;
constexpr int kParSarHeight = 30;
constexpr int kParFrameRate100 = 31;  // frame rate x 100
constexpr int kParFixedFrameRate = 32;
constexpr int kParamWords = 33;

enum ParamFlag : int32_t {
    kFlagInterlaced = 1,
    kFlagDeblocking = 2,
    kFlagFrameStamps = 4,
};

constexpr int kGeoWidth = 0;
constexpr int kGeoHeight = 1;
constexpr int kGeoStride = 2;
constexpr int kGeoOrigin = 3;
constexpr int kGeoPaddedSize = 4;
constexpr int kGeoArea = 5;

constexpr int kMbColumns = 0;
constexpr int kMbRows = 1;
constexpr int kMbColumnsPlus2 = 2;
constexpr int kMbColumnsPlus3 = 3;
constexpr int kMbInfoEntries = 4;
constexpr int kMbCount = 5;

// The unset marker of the bit-rate words.
constexpr int32_t kUnsetWord = static_cast<int32_t>(0xDEADC0DEu);

// Largest input width or height the core accepts.
constexpr int kMaxPictureDimension = 8192;
// Border of the padded planes, in samples, on every side.
constexpr int kPlaneBorder = 16;

struct EncoderBlock {
    int32_t word[kBlockWords] = {};

    int32_t* picture() { return word + kBlockPicture; }
    const int32_t* picture() const { return word + kBlockPicture; }
    int32_t* params() { return word + kBlockParams; }
    const int32_t* params() const { return word + kBlockParams; }
    int32_t& param(int k) { return word[kBlockParams + k]; }
    int32_t param(int k) const { return word[kBlockParams + k]; }
    const int32_t* luma() const { return word + kBlockLuma; }
    const int32_t* chroma() const { return word + kBlockChroma; }
    const int32_t* macroblocks() const { return word + kBlockMacroblocks; }
    int32_t sourceWidth() const { return word[kBlockSource]; }
    int32_t sourceHeight() const { return word[kBlockSource + 1]; }
    bool initialised() const { return word[kBlockInitialised] == 1; }
    bool interlaced() const { return (param(kParFlags) & kFlagInterlaced) != 0; }
};

// The filter's default parameter words 0-32: GOP 30, one B picture, automatic references,
// Main profile, automatic level, 4:2:0, variable bit rate with every rate unset, QP
// 26/27/28, quality 10, motion search over +-64 with sub-pixel depth 2, 16x16 partitions,
// CABAC, scene detection 3, deblocking, one slice per processor, VUI with automatic
// aspect ratio, 25 frames/s fixed.
void DefaultParameterWords(int32_t (&params)[kParamWords]);

// Stores the picture record for an input of width x height pixels (4:2:0, YV12 plane
// order, pitch = width) with display aspect aspectX:aspectY, and the luma and macroblock
// geometry. The coded size is the next multiple of 16 (of 32 in height for an interlaced
// source, whose macroblock rows are coded in pairs); the rest is filled by replicating the
// picture's edges and cropped away in the sequence parameter set. Width and height must be
// even and between 16 and kMaxPictureDimension: anything else returns kCoreBadSize and
// leaves the block as it was.
int StorePictureRecord(EncoderBlock* block, int width, int height, int aspectX, int aspectY, int processorCount);

// Settings that StoreParameterRecord changed so that the stream fits its profile.
enum ProfileAdjustment : uint32_t {
    kAdjustedCabacOff = 1,       // CABAC asked for in Baseline or Extended
    kAdjustedBFramesOff = 2,     // B pictures asked for in Baseline
    kAdjustedProfileToMain = 4,  // an interlaced source in Baseline
};

// Stores parameter words 0-32 and settles them: automatic reference frames (-1) become 1
// when the GOP is longer than 1, else 0; a GOP length of 1 switches off reference frames
// and motion search; a slice count of 0 becomes the processor count, and the slice count
// never exceeds the macroblock count; tools the profile lacks are switched off (reported
// through `adjustments` as ProfileAdjustment bits). Chroma formats other than 4:2:0 and
// profiles other than 66, 77 and 88 return kCoreUnsupported and leave the block as it was.
int StoreParameterRecord(EncoderBlock* block, const int32_t (&params)[kParamWords], int processorCount,
                         uint32_t* adjustments = nullptr);

// Fills the chroma geometry from the chroma-format word and the luma geometry (the frame
// scheduler does this when it is built).
void FillChromaGeometry(EncoderBlock* block);

}  // namespace ombrisk
