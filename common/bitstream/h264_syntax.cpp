#include "common/bitstream/h264_syntax.h"

namespace common {

// ITU-T H.264 Table A-1. MaxVmvR is the table's vertical range [-v, v - 0.25] by v.
const std::array<H264Level, 20> kH264Levels = {{
    // levelIdc, 1b, MaxMBPS, MaxFS, MaxDpbMbs, MaxBR, MaxCPB, MaxVmvR, MinCR, MaxMvsPer2Mb
    {10, false, 1485, 99, 396, 64, 175, 64, 2, 0},
    {11, true, 1485, 99, 396, 128, 350, 64, 2, 0},
    {11, false, 3000, 396, 900, 192, 500, 128, 2, 0},
    {12, false, 6000, 396, 2376, 384, 1000, 128, 2, 0},
    {13, false, 11880, 396, 2376, 768, 2000, 128, 2, 0},
    {20, false, 11880, 396, 2376, 2000, 2000, 128, 2, 0},
    {21, false, 19800, 792, 4752, 4000, 4000, 256, 2, 0},
    {22, false, 20250, 1620, 8100, 4000, 4000, 256, 2, 0},
    {30, false, 40500, 1620, 8100, 10000, 10000, 256, 2, 32},
    {31, false, 108000, 3600, 18000, 14000, 14000, 512, 4, 16},
    {32, false, 216000, 5120, 20480, 20000, 20000, 512, 4, 16},
    {40, false, 245760, 8192, 32768, 20000, 25000, 512, 4, 16},
    {41, false, 245760, 8192, 32768, 50000, 62500, 512, 2, 16},
    {42, false, 522240, 8704, 34816, 50000, 62500, 512, 2, 16},
    {50, false, 589824, 22080, 110400, 135000, 135000, 512, 2, 16},
    {51, false, 983040, 36864, 184320, 240000, 240000, 512, 2, 16},
    {52, false, 2073600, 36864, 184320, 240000, 240000, 512, 2, 16},
    {60, false, 4177920, 139264, 696320, 240000, 240000, 8192, 2, 16},
    {61, false, 8355840, 139264, 696320, 480000, 480000, 8192, 2, 16},
    {62, false, 16711680, 139264, 696320, 800000, 800000, 8192, 2, 16},
}};

namespace {

bool IsBaselineMainExtended(int profileIdc) {
    return profileIdc == 66 || profileIdc == 77 || profileIdc == 88;
}

}  // namespace

bool HasChromaFormatSyntax(int profileIdc) {
    switch (profileIdc) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}

// Table A-2. The profiles of Annexes G, H and I are given High's factors.
int CpbBrVclFactor(int profileIdc) {
    if (IsBaselineMainExtended(profileIdc)) return 1000;
    switch (profileIdc) {
        case 110:
            return 3000;
        case 122:
        case 244:
        case 44:
            return 4000;
        default:
            return 1250;
    }
}

int CpbBrNalFactor(int profileIdc) {
    return CpbBrVclFactor(profileIdc) * 6 / 5;
}

const H264Level* FindH264Level(int levelIdc, bool constraintSet3Flag, int profileIdc) {
    const bool oneB = levelIdc == 9 || (levelIdc == 11 && constraintSet3Flag && IsBaselineMainExtended(profileIdc));
    for (const H264Level& level : kH264Levels) {
        if (oneB ? level.level1b : (!level.level1b && level.levelIdc == levelIdc)) return &level;
    }
    return nullptr;
}

const H264Level* ChooseH264Level(const H264LevelNeeds& n) {
    const uint64_t w = n.widthMbs, h = n.heightMbs, mbs = w * h;
    const uint64_t factor =
        static_cast<uint64_t>(n.nalHrd ? CpbBrNalFactor(n.profileIdc) : CpbBrVclFactor(n.profileIdc));
    const uint64_t mbRate = n.frameRateDen != 0 ? mbs * n.frameRateNum / n.frameRateDen : 0;
    for (const H264Level& level : kH264Levels) {
        if (level.level1b && !n.level1bAllowed) continue;
        const uint64_t fs = level.maxFs;
        if (mbs > fs || w * w > 8 * fs || h * h > 8 * fs) continue;
        if (mbRate > level.maxMbps) continue;
        if (mbs * n.dpbFrames > level.maxDpbMbs) continue;
        if (n.bitRate > level.maxBr * factor || n.cpbBits > level.maxCpb * factor) continue;
        if (n.verticalMvRange > level.maxVmvR) continue;
        return &level;
    }
    return nullptr;
}

}  // namespace common
