// The H.264 vocabulary the cores share: NAL unit types (ITU-T H.264 Table 7-1), slice types
// (Table 7-6), profile_idc values (Annex A, G, H, I), and the level limits of Table A-1
// with the bit-rate factors of Table A-2, plus the choice of the lowest level a stream fits.
#pragma once

#include <array>
#include <cstdint>

namespace common {

// nal_unit_type, Table 7-1.
enum class NalUnitType : uint8_t {
    kUnspecified = 0,
    kSlice = 1,  // coded slice of a non-IDR picture
    kSliceDataA = 2,
    kSliceDataB = 3,
    kSliceDataC = 4,
    kIdrSlice = 5,
    kSei = 6,
    kSps = 7,
    kPps = 8,
    kAccessUnitDelimiter = 9,
    kEndOfSequence = 10,
    kEndOfStream = 11,
    kFillerData = 12,
    kSpsExtension = 13,
    kPrefixNal = 14,
    kSubsetSps = 15,
    kDepthParameterSet = 16,
    kAuxiliarySlice = 19,
    kSliceExtension = 20,
    kSliceExtensionDepth = 21,
};

// The fields of the one-byte NAL unit header (clause 7.3.1).
inline NalUnitType NalTypeOf(uint8_t header) {
    return static_cast<NalUnitType>(header & 0x1F);
}
inline int NalRefIdcOf(uint8_t header) {
    return (header >> 5) & 3;
}
inline bool ForbiddenBitOf(uint8_t header) {
    return (header & 0x80) != 0;
}
// The header byte of a NAL unit (forbidden_zero_bit 0).
constexpr uint8_t NalHeader(int nalRefIdc, NalUnitType type) {
    return static_cast<uint8_t>(((nalRefIdc & 3) << 5) | static_cast<uint8_t>(type));
}
inline bool IsVclSlice(NalUnitType t) {
    return t >= NalUnitType::kSlice && t <= NalUnitType::kIdrSlice;
}
// NAL unit types that, ahead of a picture's first slice, begin a new access unit (7.4.1.2.3).
inline bool StartsAccessUnit(NalUnitType t) {
    const uint8_t v = static_cast<uint8_t>(t);
    return (v >= 6 && v <= 9) || (v >= 14 && v <= 18);
}

// slice_type modulo 5, Table 7-6. Values 5..9 say every slice of the picture has that type.
enum class SliceType : uint8_t { kP = 0, kB = 1, kI = 2, kSp = 3, kSi = 4 };
inline SliceType SliceTypeOf(uint32_t sliceType) {
    return static_cast<SliceType>(sliceType % 5);
}
inline bool SliceTypeCoversPicture(uint32_t sliceType) {
    return sliceType >= 5;
}
inline constexpr uint32_t kMaxSliceType = 9;

// profile_idc.
enum class ProfileIdc : uint8_t {
    kCavlc444Intra = 44,
    kBaseline = 66,
    kMain = 77,
    kScalableBaseline = 83,
    kScalableHigh = 86,
    kExtended = 88,
    kHigh = 100,
    kHigh10 = 110,
    kMultiviewHigh = 118,
    kHigh422 = 122,
    kStereoHigh = 128,
    kMfcHigh = 134,
    kMfcDepthHigh = 135,
    kMultiviewDepthHigh = 138,
    kEnhancedMultiviewDepthHigh = 139,
    kHigh444Predictive = 244,
};

// The profiles whose sequence parameter set carries chroma_format_idc, the bit depths and
// the scaling matrices (clause 7.3.2.1.1).
bool HasChromaFormatSyntax(int profileIdc);

// Table A-2: cpbBrVclFactor and cpbBrNalFactor, bits per unit of MaxBR and MaxCPB.
int CpbBrVclFactor(int profileIdc);
int CpbBrNalFactor(int profileIdc);

// One row of Table A-1.
struct H264Level {
    uint8_t levelIdc;      // level_idc as written, 10 x the level number; level 1b: 11 (see level1b)
    bool level1b;          // coded as level_idc 11 with constraint_set3_flag in Baseline, Main and
                           // Extended, as level_idc 9 elsewhere
    uint32_t maxMbps;      // MaxMBPS, macroblocks per second
    uint32_t maxFs;        // MaxFS, macroblocks
    uint32_t maxDpbMbs;    // MaxDpbMbs, macroblocks
    uint32_t maxBr;        // MaxBR, units of the profile's cpbBrVclFactor (or NalFactor) bit/s
    uint32_t maxCpb;       // MaxCPB, units of the same factor bits
    uint16_t maxVmvR;      // vertical motion vector range: [-maxVmvR, maxVmvR - 0.25] luma samples
    uint8_t minCr;         // MinCR
    uint8_t maxMvsPer2Mb;  // MaxMvsPer2Mb; 0 where the table sets no limit
};

// Table A-1 in its order: 1, 1b, 1.1 .. 6.2.
extern const std::array<H264Level, 20> kH264Levels;

// The row that level_idc (with constraint_set3_flag and profile_idc, which tell level 1b)
// names; nullptr for a level_idc not in the table.
const H264Level* FindH264Level(int levelIdc, bool constraintSet3Flag = false,
                               int profileIdc = static_cast<int>(ProfileIdc::kMain));

// What a stream asks of its level. Zero means "not known": that limit is not checked.
struct H264LevelNeeds {
    int profileIdc = static_cast<int>(ProfileIdc::kMain);  // picks the Table A-2 factor
    uint32_t widthMbs = 0;                                 // PicWidthInMbs
    uint32_t heightMbs = 0;                                // FrameHeightInMbs
    uint32_t frameRateNum = 0;                             // frames per second = num / den
    uint32_t frameRateDen = 0;
    uint32_t dpbFrames = 0;  // frames the DPB holds (max_dec_frame_buffering)
    uint64_t bitRate = 0;    // bit/s, against MaxBR x cpbBrVclFactor (x NalFactor with nalHrd)
    uint64_t cpbBits = 0;    // CPB size in bits, against MaxCPB x the same factor
    bool nalHrd = false;
    uint32_t verticalMvRange = 0;  // largest vertical vector magnitude, whole luma samples
    bool level1bAllowed = true;    // false to skip the 1b row (a stream that cannot signal it)
};

// The first row of Table A-1 whose every limit the stream meets: frame size MaxFS, each
// dimension within sqrt(8 x MaxFS) macroblocks (A.3.1 f, g), macroblock rate MaxMBPS, DPB
// MaxDpbMbs, bit rate MaxBR, CPB MaxCPB and vertical vector range; nullptr when none does.
// MinCR and MaxMvsPer2Mb bound what the encoder may produce, not what it asks for, and are
// left to the caller.
const H264Level* ChooseH264Level(const H264LevelNeeds& needs);

}  // namespace common
