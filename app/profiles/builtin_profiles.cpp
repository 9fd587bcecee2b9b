#include "app/profiles/builtin_profiles.h"

#include <cstring>
#include <iterator>

namespace profiles {
namespace {

struct HeadRow {
  uint32_t identifier;
  const char* className;
  int32_t videoFormatClass;
  int32_t group;
  uint32_t fieldOrder;
  uint32_t attribute;
  uint32_t nameId;
  uint32_t descId;
  uint32_t stringId3;
  uint32_t stringId4;
};

struct MpegRow {
  HeadRow head;
  int32_t bitRate, minBitRate, maxBitRate, quality, width, height;
  float frameRate;
  const char* pattern;
  int32_t preProcessing, resize, flip, speedQuality, interlacing, activeEncoder, appType,
      dynamicGop;
  int32_t samplesPerSecCode;
  int64_t bitRateCode;
};

struct H264Row {
  HeadRow head;
  struct {
    int32_t width, height;
    float frameRate;
    int32_t gopLength, bFrames, rateControlMode, videoBitRate, maxBitRate, cbrQuality,
        useMotionEstimation, searchWRange, searchHRange, subPixelAccuracy, enablePartition,
        distortionOpt, entropyCoding, deblock, sbdMode;
  } v;
};

struct QuickTimeRow {
  HeadRow head;
  QuickTimeBlock v;
};

struct RealRow {
  HeadRow head;
  uint32_t width, height, audioFormat, videoQuality, targetAudience;
};

struct AviRow {
  HeadRow head;
  const char* videoCompressor;
  const char* audioCompressor;
  uint32_t keyFrameRate;
  double framesPerSecond, quality;
  uint32_t bitRate;
  int32_t width, height, colorBits;
};

struct DvRow {
  HeadRow head;
  DvBlock v;
};

constexpr const char* kP16 = "IBBPBBPBBPBBPBBP";
constexpr const char* kP13 = "IBBPBBPBBPBBP";

// Slots 0-50: VCD, MPEG-1, MPEG-2, DVD, SVCD, MV.
const MpegRow kMpegRows[] = {
    {{201, "VCD", 5, 1, 0, 0x81, 5038, 5050, 5022, 5061}, 1150000, 0, 0, 0, 352, 240, 29.97f, kP16, 2, 1, 0, 3, 1, 1, 0, 1, 2, 2048},
    {{202, "VCD", 5, 1, 0, 0x81, 5039, 5051, 5023, 5065}, 1150000, 0, 0, 0, 352, 288, 25.0f, kP13, 2, 1, 0, 3, 1, 1, 0, 1, 2, 2048},
    {{203, "VCD", 5, 0, 0, 0x81, 5066, 5047, 5025, 5062}, 1150000, 0, 0, 0, 352, 240, 29.97f, kP16, 2, 1, 0, 1, 1, 1, 0, 1, 2, 2048},
    {{204, "VCD", 5, 0, 0, 0x81, 5036, 5048, 5026, 5063}, 1150000, 0, 0, 0, 352, 288, 25.0f, kP13, 2, 1, 0, 1, 1, 1, 0, 1, 2, 2048},
    {{205, "VCD", 5, 1, 0, 0x82, 5079, 5067, 5022, 5061}, 1150000, 0, 0, 0, 352, 240, 29.97f, kP16, 0, 1, 0, 3, 0, 1, 2, 1, 2, 2048},
    {{206, "VCD", 5, 1, 0, 0x82, 5081, 5068, 5022, 5061}, 1150000, 0, 0, 0, 352, 240, 29.97f, kP16, 0, 1, 0, 5, 0, 1, 2, 1, 2, 2048},
    {{207, "VCD", 5, 1, 0, 0x82, 5080, 5069, 5022, 5061}, 1150000, 0, 0, 0, 352, 240, 29.97f, kP16, 0, 1, 0, 6, 0, 1, 2, 1, 2, 2048},
    {{208, "VCD", 5, 1, 0, 0x82, 5082, 5073, 5023, 5065}, 1150000, 0, 0, 0, 352, 288, 25.0f, kP13, 0, 1, 0, 3, 0, 1, 2, 1, 2, 2048},
    {{209, "VCD", 5, 1, 0, 0x82, 5084, 5074, 5023, 5065}, 1150000, 0, 0, 0, 352, 288, 25.0f, kP13, 0, 1, 0, 5, 0, 1, 2, 1, 2, 2048},
    {{210, "VCD", 5, 1, 0, 0x82, 5083, 5075, 5023, 5065}, 1150000, 0, 0, 0, 352, 288, 25.0f, kP13, 0, 1, 0, 6, 0, 1, 2, 1, 2, 2048},
    {{1, "MPEG-1", 3, 0, 0, 0x81, 5041, 5016, 5028, 5031}, 1150000, 0, 0, 0, 320, 240, 29.97f, kP16, 2, 1, 0, 1, 1, 1, 0, 1, 2, 2048},
    {{2, "MPEG-1", 3, 0, 0, 0x81, 5042, 5017, 5029, 5087}, 2000000, 0, 0, 0, 320, 240, 29.97f, kP16, 2, 1, 0, 1, 1, 1, 0, 1, 2, 2048},
    {{3, "MPEG-1", 3, 0, 0, 0x81, 5043, 5018, 5030, 5088}, 3000000, 0, 0, 0, 320, 240, 29.97f, kP16, 2, 1, 0, 1, 1, 1, 0, 1, 2, 2048},
    {{4, "MPEG-1", 3, 1, 0, 0x81, 5044, 5019, 5103, 5089}, 1152000, 0, 0, 0, 320, 240, 29.97f, kP16, 2, 1, 0, 3, 1, 1, 0, 1, 2, 2048},
    {{5, "MPEG-1", 3, 1, 0, 0x81, 5045, 5020, 5104, 5090}, 2000000, 0, 0, 0, 320, 240, 29.97f, kP16, 2, 1, 0, 3, 1, 1, 0, 1, 2, 2048},
    {{6, "MPEG-1", 3, 1, 0, 0x81, 5046, 5021, 5105, 5091}, 3000000, 0, 0, 0, 320, 240, 29.97f, kP16, 2, 1, 0, 3, 1, 1, 0, 1, 2, 2048},
    {{7, "MPEG-1", 3, 1, 0, 0x82, 5044, 5019, 5103, 5089}, 1152000, 0, 0, 0, 320, 240, 29.97f, kP16, 0, 1, 0, 5, 0, 1, 2, 1, 2, 2048},
    {{8, "MPEG-1", 3, 1, 0, 0x82, 5045, 5020, 5104, 5090}, 2000000, 0, 0, 0, 320, 240, 29.97f, kP16, 0, 1, 0, 5, 0, 1, 2, 1, 2, 2048},
    {{9, "MPEG-1", 3, 1, 0, 0x82, 5046, 5021, 5105, 5091}, 3000000, 0, 0, 0, 320, 240, 29.97f, kP16, 0, 1, 0, 5, 0, 1, 2, 1, 2, 2048},
    {{101, "MPEG-2", 4, 0, 0, 0x81, 5111, 5055, 5123, 5092}, 4000000, 0, 0, 0, 640, 480, 29.97f, kP16, 2, 1, 0, 1, 1, 2, 0, 1, 2, 2048},
    {{102, "MPEG-2", 4, 0, 0, 0x81, 5112, 5056, 5124, 5093}, 5000000, 0, 0, 0, 640, 480, 29.97f, kP16, 2, 1, 0, 1, 1, 2, 0, 1, 2, 2048},
    {{103, "MPEG-2", 4, 0, 0, 0x81, 5113, 5057, 5125, 5094}, 6000000, 0, 0, 0, 640, 480, 29.97f, kP16, 2, 1, 0, 1, 1, 2, 0, 1, 2, 2048},
    {{104, "MPEG-2", 4, 1, 0, 0x81, 5114, 5058, 5126, 5095}, 4000000, 0, 0, 0, 640, 480, 29.97f, kP16, 2, 1, 0, 3, 1, 2, 0, 1, 2, 2048},
    {{105, "MPEG-2", 4, 1, 0, 0x81, 5115, 5059, 5127, 5096}, 5000000, 0, 0, 0, 640, 480, 29.97f, kP16, 2, 1, 0, 3, 1, 2, 0, 1, 2, 2048},
    {{106, "MPEG-2", 4, 1, 0, 0x81, 5116, 5060, 5128, 5097}, 6000000, 0, 0, 0, 640, 480, 29.97f, kP16, 2, 1, 0, 3, 1, 2, 0, 1, 2, 2048},
    {{107, "MPEG-2", 4, 1, 0, 0x82, 5114, 5058, 5126, 5095}, 4000000, 0, 0, 0, 640, 480, 29.97f, kP16, 0, 1, 0, 5, 0, 2, 2, 1, 2, 2048},
    {{108, "MPEG-2", 4, 1, 0, 0x82, 5115, 5059, 5127, 5096}, 5000000, 0, 0, 0, 640, 480, 29.97f, kP16, 0, 1, 0, 5, 0, 2, 2, 1, 2, 2048},
    {{109, "MPEG-2", 4, 1, 0, 0x82, 5116, 5060, 5128, 5097}, 6000000, 0, 0, 0, 640, 480, 29.97f, kP16, 0, 1, 0, 5, 0, 2, 2, 1, 2, 2048},
    {{401, "DVD", 7, 1, 1, 0x81, 5108, 5052, 5119, 5098}, 8000000, 4000000, 8300000, 0, 720, 480, 29.97f, kP16, 2, 1, 0, 3, 1, 2, 0, 1, 1, 2048},
    {{402, "DVD", 7, 1, 1, 0x81, 5109, 5053, 5120, 5099}, 8000000, 4000000, 8300000, 0, 720, 576, 25.0f, kP13, 2, 1, 0, 3, 1, 2, 0, 1, 1, 2048},
    {{403, "DVD", 7, 0, 1, 0x81, 5106, 5117, 5121, 5100}, 8000000, 4000000, 8300000, 0, 720, 480, 29.97f, kP16, 2, 1, 0, 1, 1, 2, 0, 1, 1, 2048},
    {{404, "DVD", 7, 0, 1, 0x81, 5130, 5129, 5131, 5132}, 3400000, 2000000, 6800000, 0, 704, 480, 29.97f, kP16, 2, 4, 0, 1, 1, 2, 0, 1, 1, 2048},
    {{405, "DVD", 7, 0, 1, 0x81, 5107, 5118, 5122, 5101}, 8000000, 4000000, 8300000, 0, 720, 576, 25.0f, kP13, 2, 1, 0, 1, 1, 2, 0, 1, 1, 2048},
    {{406, "DVD", 7, 0, 1, 0x81, 5134, 5133, 5135, 5136}, 3400000, 2000000, 6800000, 0, 704, 576, 25.0f, kP13, 2, 4, 0, 1, 1, 2, 0, 1, 1, 2048},
    {{407, "DVD", 7, 1, 0, 0x82, 5137, 5070, 5119, 5098}, 1750000, 1500000, 3500000, 0, 352, 240, 29.97f, kP16, 0, 1, 0, 3, 0, 2, 2, 1, 1, 2048},
    {{408, "DVD", 7, 1, 1, 0x82, 5086, 5071, 5119, 5098}, 3400000, 2000000, 6800000, 0, 704, 480, 29.97f, kP16, 0, 4, 0, 5, 0, 2, 2, 1, 1, 2048},
    {{409, "DVD", 7, 1, 1, 0x82, 5085, 5072, 5119, 5098}, 8000000, 4000000, 8300000, 0, 720, 480, 29.97f, kP16, 0, 1, 0, 6, 0, 2, 2, 1, 1, 2048},
    {{410, "DVD", 7, 1, 0, 0x82, 5140, 5076, 5120, 5099}, 1750000, 1500000, 3500000, 0, 352, 288, 25.0f, kP13, 0, 1, 0, 3, 0, 2, 2, 1, 1, 2048},
    {{411, "DVD", 7, 1, 1, 0x82, 5139, 5077, 5120, 5099}, 3400000, 2000000, 6800000, 0, 704, 576, 25.0f, kP13, 0, 4, 0, 5, 0, 2, 2, 1, 1, 2048},
    {{412, "DVD", 7, 1, 1, 0x82, 5138, 5078, 5120, 5099}, 8000000, 4000000, 8300000, 0, 720, 576, 25.0f, kP13, 0, 1, 0, 6, 0, 2, 2, 1, 1, 2048},
    {{301, "SVCD", 6, 0, 1, 0x81, 5149, 5147, 5151, 5153}, 2400000, 0, 0, 0, 480, 480, 29.97f, kP16, 2, 1, 0, 1, 1, 2, 0, 1, 2, 2048},
    {{302, "SVCD", 6, 0, 1, 0x81, 5150, 5148, 5152, 5154}, 2400000, 0, 0, 0, 480, 576, 25.0f, kP13, 2, 1, 0, 1, 1, 2, 0, 1, 2, 2048},
    {{303, "SVCD", 6, 1, 1, 0x81, 5170, 5102, 5172, 5174}, 2400000, 0, 0, 0, 480, 480, 29.97f, kP16, 2, 1, 0, 3, 1, 2, 0, 1, 2, 2048},
    {{304, "SVCD", 6, 1, 1, 0x81, 5171, 5169, 5173, 5175}, 2400000, 0, 0, 0, 480, 576, 25.0f, kP13, 2, 1, 0, 3, 1, 2, 0, 1, 2, 2048},
    {{305, "SVCD", 6, 1, 1, 0x82, 5143, 5176, 5172, 5174}, 2400000, 0, 0, 0, 480, 480, 29.97f, kP16, 0, 1, 0, 3, 0, 2, 2, 1, 2, 2048},
    {{306, "SVCD", 6, 1, 1, 0x82, 5142, 5177, 5172, 5174}, 2400000, 0, 0, 0, 480, 480, 29.97f, kP16, 0, 1, 0, 5, 0, 2, 2, 1, 2, 2048},
    {{307, "SVCD", 6, 1, 1, 0x82, 5141, 5178, 5172, 5174}, 2400000, 0, 0, 0, 480, 480, 29.97f, kP16, 0, 1, 0, 6, 0, 2, 2, 1, 2, 2048},
    {{308, "SVCD", 6, 1, 1, 0x82, 5146, 5179, 5173, 5175}, 2400000, 0, 0, 0, 480, 576, 25.0f, kP13, 0, 1, 0, 3, 0, 2, 2, 1, 2, 2048},
    {{309, "SVCD", 6, 1, 1, 0x82, 5145, 5180, 5173, 5175}, 2400000, 0, 0, 0, 480, 576, 25.0f, kP13, 0, 1, 0, 5, 0, 2, 2, 1, 2, 2048},
    {{310, "SVCD", 6, 1, 1, 0x82, 5144, 5181, 5173, 5175}, 2400000, 0, 0, 0, 480, 576, 25.0f, kP13, 0, 1, 0, 6, 0, 2, 2, 1, 2, 2048},
    {{501, "MV", 4, 3, 0, 0x81, 5183, 5182, 5184, 5185}, 12000000, 0, 0, 0, 720, 480, 29.97f, kP13, 2, 1, 0, 7, 1, 2, 0, 1, 1, 4096},
};

// Slots 51-53.
const H264Row kH264Rows[] = {
    {{1001, "H264", 12, 0, 1, 0x83, 7132, 7131, 7133, 7134}, {720, 480, 29.97f, 30, 1, 1, 3000000, 3000000, 10, 1, 64, 64, 2, 0, 0, 1, 1, 1}},
    {{1002, "H264", 12, 0, 1, 0x83, 7136, 7135, 7137, 7138}, {720, 480, 29.97f, 30, 1, 1, 2000000, 3000000, 10, 1, 64, 64, 2, 0, 0, 1, 1, 1}},
    {{1003, "H264", 12, 0, 1, 0x83, 7140, 7139, 7141, 7142}, {720, 480, 29.97f, 30, 1, 1, 1000000, 3000000, 10, 1, 64, 64, 2, 0, 0, 1, 1, 1}},
};

// Slots 54-56.
const QuickTimeRow kQuickTimeRows[] = {
    {{901, "QuickTime", 10, 1, 0, 0x82, 5155, 5158, 5172, 5174}, {160, 120, 1, 20, 0x72707A61, 0x200}},
    {{902, "QuickTime", 10, 1, 0, 0x82, 5156, 5159, 5173, 5175}, {320, 240, 2, 10, 0x72707A61, 0x300}},
    {{903, "QuickTime", 10, 1, 0, 0x82, 5157, 5160, 5173, 5175}, {320, 240, 2, 1, 0x72707A61, 0x400}},
};

// Slots 57-65.
const RealRow kRealRows[] = {
    {{801, "Real", 9, 1, 0, 0x82, 5161, 5167, 5190, 5191}, 160, 120, 3, 0, 0x1},
    {{802, "Real", 9, 1, 0, 0x82, 5162, 5168, 5191, 5191}, 160, 120, 3, 0, 0x2},
    {{803, "Real", 9, 1, 0, 0x82, 5196, 5186, 5192, 5192}, 320, 240, 3, 0, 0x4},
    {{804, "Real", 9, 1, 0, 0x82, 5197, 5186, 5192, 5192}, 320, 240, 3, 0, 0x8},
    {{805, "Real", 9, 1, 0, 0x82, 5164, 5187, 5193, 5193}, 320, 240, 3, 0, 0x10},
    {{806, "Real", 9, 1, 0, 0x82, 5198, 5188, 5194, 5194}, 320, 240, 3, 0, 0x20},
    {{807, "Real", 9, 1, 0, 0x82, 5165, 5188, 5194, 5194}, 320, 240, 3, 0, 0x40},
    {{808, "Real", 9, 1, 0, 0x82, 5199, 5189, 5195, 5195}, 320, 240, 3, 0, 0x80},
    {{809, "Real", 9, 1, 0, 0x82, 5200, 5189, 5195, 5195}, 320, 240, 3, 0, 0x100},
};

// Slots 66-68.
const AviRow kAviRows[] = {
    {{601, "AVI", 1, 0, 0, 0x83, 5004, 5001, 5028, 5031}, "DivX", "MPEG Layer-3", 15, 30, 1, 230000, 160, 120, 24},
    {{602, "AVI", 1, 0, 0, 0x83, 5005, 5032, 5028, 5031}, "DivX", "MPEG Layer-3", 15, 30, 1, 230000, 352, 240, 24},
    {{603, "AVI", 1, 0, 0, 0x83, 5006, 5033, 5028, 5031}, "DivX", "MPEG Layer-3", 15, 30, 1, 460000, 720, 480, 24},
};

// Slots 69-76.
const DvRow kDvRows[] = {
    {{701, "DV", 2, 0, 2, 0x82, 5009, 5034, 5028, 5031}, {2001, 32000, 2, 1}},
    {{702, "DV", 2, 0, 2, 0x82, 5010, 5035, 5028, 5031}, {2001, 48000, 2, 1}},
    {{703, "DV", 2, 0, 2, 0x82, 5013, 5034, 5028, 5031}, {2001, 32000, 2, 2}},
    {{704, "DV", 2, 0, 2, 0x82, 5014, 5035, 5028, 5031}, {2001, 48000, 2, 2}},
    {{705, "DV", 2, 0, 2, 0x82, 5007, 5002, 5028, 5031}, {2000, 32000, 2, 1}},
    {{706, "DV", 2, 0, 2, 0x82, 5008, 5003, 5028, 5031}, {2000, 48000, 2, 1}},
    {{707, "DV", 2, 0, 2, 0x82, 5011, 5002, 5028, 5031}, {2000, 32000, 2, 2}},
    {{708, "DV", 2, 0, 2, 0x82, 5012, 5003, 5028, 5031}, {2000, 48000, 2, 2}},
};

// Every built-in profile is offered with Stream Flag 3.
constexpr int32_t kBuiltinStreamFlag = 3;

void FillHead(ProfileSlot& slot, const HeadRow& row) {
  slot.identifier = row.identifier;
  CopyText(slot.head.className, row.className, std::strlen(row.className));
  slot.head.descId = row.descId;
  slot.head.nameId = row.nameId;
  slot.head.stringId3 = row.stringId3;
  slot.head.stringId4 = row.stringId4;
  slot.head.group = row.group;
  slot.head.videoFormatClass = row.videoFormatClass;
  slot.head.streamFlag = kBuiltinStreamFlag;
  slot.head.fieldOrder = row.fieldOrder;
  slot.head.attribute = row.attribute;
}

// Encoder type, mode, channels, bits per sample and layer of every MPEG and H.264 row.
constexpr ProfileAudioFormat RowAudio(int32_t samplesPerSecCode, int64_t bitRate) {
  ProfileAudioFormat a{};
  a.encoderType = 2;
  a.audioMode = 2;
  a.channels = 2;
  a.samplesPerSecCode = samplesPerSecCode;
  a.bitsPerSample = 1;
  a.bitRate = bitRate;
  a.layer = 2;
  return a;
}

void FillMpeg(ProfileSlot& slot, const MpegRow& row) {
  FillHead(slot, row.head);
  MpegBlock& b = slot.block.mpeg;
  InitMpegLayout(b);
  const int32_t ints[][2] = {
      {kParamVideoBitRate, row.bitRate},        {kParamMinBitRate, row.minBitRate},
      {kParamMaxBitRate, row.maxBitRate},       {kParamVideoQuality, row.quality},
      {kParamWidth, row.width},                 {kParamHeight, row.height},
      {kParamPreProcessing, row.preProcessing}, {kParamResize, row.resize},
      {kParamFlipVideo, row.flip},              {kParamSpeedQuality, row.speedQuality},
      {kParamInterlacing, row.interlacing},     {kParamActiveEncoder, row.activeEncoder},
      {kParamAppType, row.appType},             {kParamDynamicGop, row.dynamicGop},
      {kParamFieldOrderCode, FieldOrderCode(row.head.fieldOrder)},
  };
  for (const auto& p : ints) FindMpegParam(b, static_cast<uint32_t>(p[0]))->value.i = p[1];
  FindMpegParam(b, kParamFrameRate)->value.f = row.frameRate;
  MpegParam* pattern = FindMpegParam(b, kParamPattern);
  CopyText(pattern->value.text, row.pattern, std::strlen(row.pattern));
  b.streams[0].audio = RowAudio(row.samplesPerSecCode, row.bitRateCode);
}

void FillH264(ProfileSlot& slot, const H264Row& row) {
  FillHead(slot, row.head);
  H264Block& b = slot.block.h264;
  static_assert(sizeof row.v == offsetof(H264Block, streamBlockCount));
  std::memcpy(&b, &row.v, sizeof row.v);
  b.streamBlockCount = 1;
  InitAudioStream(b.streams[0]);
  b.streams[0].audio = kBuiltinH264Audio;
}

void FillQuickTime(ProfileSlot& slot, const QuickTimeRow& row) {
  FillHead(slot, row.head);
  slot.block.quickTime = row.v;
}

void FillReal(ProfileSlot& slot, const RealRow& row) {
  FillHead(slot, row.head);
  RealBlock& b = slot.block.real;
  b.width = row.width;
  b.height = row.height;
  b.audioFormat = row.audioFormat;
  b.videoQuality = row.videoQuality;
  b.targetAudience = row.targetAudience;
}

void FillAvi(ProfileSlot& slot, const AviRow& row) {
  FillHead(slot, row.head);
  AviBlock& b = slot.block.avi;
  CopyText(b.videoCompressor, row.videoCompressor, std::strlen(row.videoCompressor));
  CopyText(b.audioCompressor, row.audioCompressor, std::strlen(row.audioCompressor));
  b.keyFrameRate = row.keyFrameRate;
  b.framesPerSecond = row.framesPerSecond;
  b.quality = row.quality;
  b.bitRate = row.bitRate;
  b.width = row.width;
  b.height = row.height;
  b.colorBits = row.colorBits;
  b.wave = kBuiltinAviWave;
  b.hasWave = 1;
}

void FillDv(ProfileSlot& slot, const DvRow& row) {
  FillHead(slot, row.head);
  slot.block.dv = row.v;
}

}  // namespace

const ProfileWaveFormat kBuiltinAviWave = {85, 2, 22050, 7000, 1, 0, 0, 0};
const ProfileAudioFormat kBuiltinH264Audio = RowAudio(1, 2048);

size_t BuiltinProfileCount() {
  return std::size(kMpegRows) + std::size(kH264Rows) + std::size(kQuickTimeRows) +
         std::size(kRealRows) + std::size(kAviRows) + std::size(kDvRows);
}

bool BuildBuiltinSlots(ProfileSlot* slots, size_t count) {
  static_assert(std::size(kMpegRows) == kMpegSlotCount && std::size(kH264Rows) == kH264SlotCount);
  size_t n = 0;
  auto next = [&]() -> ProfileSlot& {
    ProfileSlot& s = slots[n++];
    std::memset(&s, 0, sizeof s);
    return s;
  };
  if (count < BuiltinProfileCount()) return false;
  for (const auto& r : kMpegRows) FillMpeg(next(), r);
  for (const auto& r : kH264Rows) FillH264(next(), r);
  for (const auto& r : kQuickTimeRows) FillQuickTime(next(), r);
  for (const auto& r : kRealRows) FillReal(next(), r);
  for (const auto& r : kAviRows) FillAvi(next(), r);
  for (const auto& r : kDvRows) FillDv(next(), r);
  return true;
}

}  // namespace profiles
