// The encoder block: the record that the filter fills and every core object reads by
// reference (picture record, parameter words, plane and macroblock geometry), with the
// rules that settle it when the filter stores its records. The parameter words are
// exchanged with the filter's settings record word for word.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ombrisk {

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
constexpr int kParFourthRate = 14;  // stored and validated by the filter; the core does not read it
constexpr int kParMotionSearch = 15;
constexpr int kParRangeX = 16;
constexpr int kParRangeY = 17;
constexpr int kParSubpelDepth = 18;
constexpr int kParPartitions = 19;
constexpr int kParMbCoderLevel = 20;
constexpr int kParCabac = 21;
constexpr int kParSceneDetect = 22;
constexpr int kParPercentage = 23;    // the filter's; unread by the core
constexpr int kParFourBitField = 24;  // the filter's; unread by the core
constexpr int kParFlags = 25;         // bit 0 interlaced source, bit 1 deblocking, bit 2 stamps
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

// The unset marker of the bit-rate words.
constexpr int32_t kUnsetWord = static_cast<int32_t>(0xDEADC0DEu);

// Largest input width or height the core accepts.
constexpr int kMaxPictureDimension = 8192;
// Border of the padded planes, in samples, on every side.
constexpr int kPlaneBorder = 16;

// The picture record: coded size (a multiple of 16) and the input picture's layout. The
// input is in YV12 plane order: Cr at the second-plane offset, Cb at the third.
struct PictureRecord {
    int32_t codedWidth = 0;
    int32_t codedHeight = 0;
    int32_t aspectX = 0;  // display aspect
    int32_t aspectY = 0;
    int32_t lumaOffset = 0;
    int32_t secondPlaneOffset = 0;
    int32_t thirdPlaneOffset = 0;
    int32_t lumaPitch = 0;
    int32_t chromaPitch = 0;
    int32_t reserved = 0;
    bool operator==(const PictureRecord&) const = default;
};

// A padded plane: kPlaneBorder samples of border on every side.
struct PlaneGeometry {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;      // width + 2 x border
    int32_t origin = 0;      // offset of sample (0, 0) in the padded plane
    int32_t paddedSize = 0;  // bytes of the padded plane
    int32_t area = 0;        // width x height
    bool operator==(const PlaneGeometry&) const = default;
};

struct MacroblockGeometry {
    int32_t columns = 0;
    int32_t rows = 0;
    int32_t recordStride = 0;  // columns + 2: a macroblock record row with its two border records
    int32_t firstRecord = 0;   // columns + 3: the record of macroblock (0, 0) after the top border
    int32_t recordCount = 0;   // (rows + 1) x (columns + 2)
    int32_t count = 0;         // columns x rows
    bool operator==(const MacroblockGeometry&) const = default;
};

struct EncoderBlock {
    int32_t unused = 0;
    int32_t initialisedFlag = 0;  // 1 once a picture or parameter record was stored
    PictureRecord picture;
    int32_t params[kParamWords] = {};
    PlaneGeometry luma;
    PlaneGeometry chroma;  // filled by FillChromaGeometry
    MacroblockGeometry macroblocks;
    int32_t sourceWidth = 0;  // the input's size in pixels (what the decoder shows)
    int32_t sourceHeight = 0;

    int32_t& param(int k) { return params[k]; }
    int32_t param(int k) const { return params[k]; }
    bool initialised() const { return initialisedFlag == 1; }
    bool interlaced() const { return (param(kParFlags) & kFlagInterlaced) != 0; }
    bool operator==(const EncoderBlock&) const = default;
};

// The parameter words are the first 33 words of the filter's settings record, copied as a
// block: their count and their place in the block are fixed.
static_assert(sizeof(EncoderBlock::params) == kParamWords * sizeof(int32_t));
static_assert(sizeof(PictureRecord) == 10 * sizeof(int32_t));
static_assert(offsetof(EncoderBlock, params) == 12 * sizeof(int32_t));

// The filter's default parameter words (all kParamWords): GOP 30, one B picture, automatic references,
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
// The largest level_idc the encoder names: 51 (4.1 for interlaced sources, whose field
// coding the higher levels lack).
int LargestLevel(bool interlaced);
// Whether a width x height source, coded in whole macroblocks (macroblock pairs when
// interlaced), fits the largest level's frame size (MaxFS, and sqrt(8 MaxFS) a side).
bool WithinLargestLevel(int width, int height, bool interlaced);

// even and between 16 and kMaxPictureDimension, and the coded picture must fit the largest
// level (WithinLargestLevel): anything else returns kCoreBadSize and leaves the block as
// it was.
int StorePictureRecord(EncoderBlock* block, int width, int height, int aspectX, int aspectY, int processorCount);

// Settings that StoreParameterRecord changed so that the stream fits its profile.
enum ProfileAdjustment : uint32_t {
    kAdjustedCabacOff = 1,       // CABAC asked for in Baseline or Extended
    kAdjustedBFramesOff = 2,     // B pictures asked for in Baseline
    kAdjustedProfileToMain = 4,  // an interlaced source in Baseline
};

// Stores the kParamWords parameter words and settles them: automatic reference frames (-1) become 1
// when the GOP is longer than 1, else 0, and any GOP but 1 has at least one; a GOP length of 1 switches off reference
// frames and motion search; a slice count of 0 becomes the processor count, and the slice count never exceeds the
// macroblock count; tools the profile lacks are switched off (reported through `adjustments` as ProfileAdjustment
// bits). Chroma formats other than 4:2:0 and profiles other than 66, 77 and 88 return kCoreUnsupported and leave the
// block as it was.
int StoreParameterRecord(EncoderBlock* block, const int32_t (&params)[kParamWords], int processorCount,
                         uint32_t* adjustments = nullptr);

// Fills the chroma geometry from the chroma-format word and the luma geometry (the frame
// scheduler does this when it is built).
void FillChromaGeometry(EncoderBlock* block);

}  // namespace ombrisk
