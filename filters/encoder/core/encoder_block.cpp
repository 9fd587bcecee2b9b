#include "filters/encoder/core/encoder_block.h"

#include <algorithm>
#include <iterator>

#include "common/bitstream/h264_syntax.h"
#include "filters/encoder/core/core_result.h"

namespace ombrisk {
namespace {

int RoundUp(int v, int multiple) {
    return (v + multiple - 1) / multiple * multiple;
}

// Frame cropping of an interlaced source is in units of 4 lines (clause 7.4.2.1.1,
// CropUnitY = SubHeightC x 2 when frame_mbs_only_flag is 0).
bool SizeFits(int width, int height, bool interlaced) {
    if (width < 16 || height < 16) return false;
    if (width > kMaxPictureDimension || height > kMaxPictureDimension) return false;
    if ((width & 1) || (height & 1)) return false;
    if (interlaced && (height & 3)) return false;
    return WithinLargestLevel(width, height, interlaced);
}

PlaneGeometry PlaneOf(int width, int height) {
    PlaneGeometry g;
    g.width = width;
    g.height = height;
    g.stride = width + 2 * kPlaneBorder;
    g.origin = (g.stride + 1) * kPlaneBorder;
    g.paddedSize = (height + 2 * kPlaneBorder) * g.stride;
    g.area = width * height;
    return g;
}

void CapSliceCount(EncoderBlock* b, int processorCount) {
    int32_t& slices = b->param(kParSliceCount);
    if (slices == 0) slices = std::max(processorCount, 1);
    if (slices < 1) slices = 1;
    const int32_t mbs = b->macroblocks.count;
    if (mbs > 0 && slices > mbs) slices = mbs;
}

// Recomputes the picture record and the luma and macroblock geometry from the input size.
void FillGeometry(EncoderBlock* b, int aspectX, int aspectY) {
    const int w = b->sourceWidth;
    const int h = b->sourceHeight;
    const int cw = RoundUp(w, 16);
    const int ch = RoundUp(h, b->interlaced() ? 32 : 16);

    PictureRecord& pic = b->picture;
    pic = PictureRecord{};
    pic.codedWidth = cw;
    pic.codedHeight = ch;
    pic.aspectX = aspectX;
    pic.aspectY = aspectY;
    pic.lumaOffset = 0;
    pic.secondPlaneOffset = w * h;
    pic.thirdPlaneOffset = w * h + (w / 2) * (h / 2);
    pic.lumaPitch = w;
    pic.chromaPitch = w / 2;

    b->luma = PlaneOf(cw, ch);
    MacroblockGeometry& mb = b->macroblocks;
    mb.columns = cw / 16;
    mb.rows = ch / 16;
    mb.recordStride = cw / 16 + 2;
    mb.firstRecord = cw / 16 + 3;
    mb.recordCount = (ch / 16 + 1) * (cw / 16 + 2);
    mb.count = (cw / 16) * (ch / 16);
}

}  // namespace

int LargestLevel(bool interlaced) {
    // Field coding exists only up to level 4.1 (Table A-4).
    return interlaced ? 41 : 51;
}

bool WithinLargestLevel(int width, int height, bool interlaced) {
    if (width < 1 || height < 1 || width > kMaxPictureDimension || height > kMaxPictureDimension) return false;
    const common::H264Level* level = common::FindH264Level(LargestLevel(interlaced));
    if (!level) return false;
    // MaxFS, and no side beyond sqrt(8 x MaxFS) macroblocks (clause A.3.1 f and g).
    const int64_t columns = (width + 15) / 16,
                  rows = (height + (interlaced ? 31 : 15)) / (interlaced ? 32 : 16) * (interlaced ? 2 : 1);
    const int64_t side = 8 * int64_t{level->maxFs};
    return columns * rows <= level->maxFs && columns * columns <= side && rows * rows <= side;
}

int StorePictureRecord(EncoderBlock* block, int width, int height, int aspectX, int aspectY, int processorCount) {
    if (!block) return kCoreBadArgument;
    if (!SizeFits(width, height, block->interlaced())) return kCoreBadSize;
    block->sourceWidth = width;
    block->sourceHeight = height;
    FillGeometry(block, aspectX, aspectY);
    block->chroma = PlaneGeometry{};
    CapSliceCount(block, processorCount);
    block->initialisedFlag = 1;
    return kCoreOk;
}

int StoreParameterRecord(EncoderBlock* block, const int32_t (&params)[kParamWords], int processorCount,
                         uint32_t* adjustments) {
    if (adjustments) *adjustments = 0;
    if (!block) return kCoreBadArgument;
    if (params[kParChromaFormat] != 1) return kCoreUnsupported;
    const int32_t profile = params[kParProfile];
    if (profile != 66 && profile != 77 && profile != 88) return kCoreUnsupported;
    const bool interlaced = (params[kParFlags] & kFlagInterlaced) != 0;
    const bool havePicture = block->sourceWidth > 0;
    if (havePicture && !SizeFits(block->sourceWidth, block->sourceHeight, interlaced)) {
        return kCoreBadSize;
    }

    std::copy(std::begin(params), std::end(params), block->params);
    int32_t* p = block->params;
    if (p[kParRefFrames] == -1) p[kParRefFrames] = p[kParGopLength] > 1 ? 1 : 0;
    // Any GOP but one of I pictures only has P pictures, which need a reference.
    if (p[kParGopLength] != 1 && p[kParRefFrames] < 1) p[kParRefFrames] = 1;
    // max_num_ref_frames (the references, and the anchor after B pictures) is at most 16
    // (clause A.3.1, MaxDpbFrames).
    p[kParRefFrames] = std::min(p[kParRefFrames], p[kParBFrames] > 0 ? 15 : 16);
    if (p[kParGopLength] == 1) {
        p[kParRefFrames] = 0;
        p[kParMotionSearch] = 0;
    }
    // The profile bounds the tools (Annex A.2): CABAC only in Main, B slices not in
    // Baseline, field coding not in Baseline. A tool the profile lacks is switched off, or
    // for an interlaced source the profile becomes Main, and the caller is told.
    uint32_t changed = 0;
    if (p[kParProfile] == 66 && (p[kParFlags] & kFlagInterlaced)) {
        p[kParProfile] = 77;
        changed |= kAdjustedProfileToMain;
    }
    if (p[kParProfile] != 77 && p[kParCabac] != 0) {
        p[kParCabac] = 0;
        changed |= kAdjustedCabacOff;
    }
    if (p[kParProfile] == 66 && p[kParBFrames] != 0) {
        p[kParBFrames] = 0;
        changed |= kAdjustedBFramesOff;
    }
    if (adjustments) *adjustments = changed;
    if (havePicture) {
        // The interlace flag decides the coded height.
        FillGeometry(block, block->picture.aspectX, block->picture.aspectY);
    }
    CapSliceCount(block, processorCount);
    block->initialisedFlag = 1;
    return kCoreOk;
}

void DefaultParameterWords(int32_t (&p)[kParamWords]) {
    std::fill(std::begin(p), std::end(p), 0);
    p[kParGopLength] = 30;
    p[kParBFrames] = 1;
    p[kParRefFrames] = -1;
    p[kParProfile] = 77;
    p[kParLevel] = 52;
    p[kParChromaFormat] = 1;
    p[kParRateMode] = 2;
    p[kParQpI] = 26;
    p[kParQpP] = 27;
    p[kParQpB] = 28;
    p[kParQuality] = 10;
    p[kParMinBitRate] = p[kParMaxBitRate] = p[kParAvgBitRate] = kUnsetWord;
    p[kParFourthRate] = kUnsetWord;
    p[kParMotionSearch] = 1;
    p[kParRangeX] = 64;
    p[kParRangeY] = 64;
    p[kParSubpelDepth] = 2;
    p[kParPartitions] = 1;
    p[kParCabac] = 1;
    p[kParSceneDetect] = 3;
    p[kParPercentage] = kUnsetWord;
    p[kParFourBitField] = 15;
    p[kParFlags] = kFlagDeblocking;
    p[kParVui] = 1;
    p[kParAspectIdc] = 256;
    p[kParFrameRate100] = 2500;
    p[kParFixedFrameRate] = 1;
}

void FillChromaGeometry(EncoderBlock* block) {
    // SubWidthC, SubHeightC by chroma_format_idc (Table 6-1); 4:2:0 is the only format
    // StoreParameterRecord accepts, the others are listed for completeness.
    int subW = 2, subH = 2;
    switch (block->param(kParChromaFormat)) {
        case 2:
            subW = 2;
            subH = 1;
            break;
        case 3:
            subW = 1;
            subH = 1;
            break;
        default:
            break;
    }
    block->chroma = PlaneOf(block->luma.width / subW, block->luma.height / subH);
}

}  // namespace ombrisk
