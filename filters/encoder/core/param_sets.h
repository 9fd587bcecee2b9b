// Everything the encoder writes outside the macroblock layer: sequence parameter set with
// VUI, picture parameter set, buffering-period and picture-timing SEI, slice header, the
// level rule, and when parameter sets are repeated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/nal_writer.h"

namespace ombrisk {

constexpr int kAutoLevel = 52;
constexpr int kAutoAspect = 256;
constexpr int kExtendedSar = 255;
constexpr int kLog2MaxFrameNum = 8;
constexpr int kLog2MaxPocLsb = 8;

// Bits per second the stream is expected to need, for the level rule.
int64_t EstimateBitRate(const EncoderBlock& block);
// level_idc: kParLevel, or the first Table A-1 row that holds the coded picture
// (frame size, each dimension, field coding), the macroblock rate, the decoded picture
// buffer and the estimated bit rate; when the rates exceed every level, the highest level
// that holds the picture; 0 when no level holds it (the stream is refused).
int ChooseLevel(const EncoderBlock& block);

// num_units_in_tick and time_scale of a frame rate x 100, a frame lasting two ticks: the
// NTSC rates (23.976, 29.97, 59.94, ...) as n x 1000/1001 exactly.
struct FrameRateTicks {
    uint32_t numUnitsInTick;
    uint32_t timeScale;
};
FrameRateTicks TicksOfFrameRate(int32_t rate100);

struct SampleAspect {
    int idc;
    int width, height;
};
// aspect_ratio_idc and SAR: kParAspectIdc, or for 256 the SAR that shows the input picture
// (the cropped size) at the display aspect of the picture record.
SampleAspect ResolveSampleAspect(const EncoderBlock& block);

// The rate control's real buffer, when it has one to declare: HRD parameters are written
// only from such a model.
struct HrdModel {
    int64_t bitRate;  // bit/s
    int64_t cpbSizeBits;
    bool constantBitRate;
    uint32_t initialCpbRemovalDelay;  // 90 kHz ticks
};

// Per-picture facts that the headers carry.
struct PictureHeaderInfo {
    int64_t codingNumber = 0;   // position in coding order over the whole stream
    int64_t displayNumber = 0;  // position in display order since the last IDR picture
    int32_t sliceTypeCode = 0;  // 0 I, 1 P, 2 B
    bool idr = false;
    bool reference = true;
    int32_t frameNum = 0;
    int32_t idrPicId = 0;
    int32_t picStruct = 0;         // Table D-1 value from the input
    uint32_t cpbRemovalDelay = 0;  // ticks since the last buffering period (with HRD)
    uint32_t dpbOutputDelay = 0;   // ticks from removal to output (with HRD)
};

// frame_num and idr_pic_id in decoding order (clause 7.4.3): an IDR picture has frame_num
// 0 and an idr_pic_id different from the previous IDR picture's; any other picture has
// the previous reference picture's frame_num + 1 modulo MaxFrameNum.
class CPictureNumbering {
public:
    void Next(PictureHeaderInfo* pic);

private:
    int32_t prevRefFrameNum_ = 0;
    int32_t idrPicId_ = -1;
};

struct SliceHeaderInfo {
    int32_t firstMb = 0;
    int32_t sliceTypeCode = 0;
    int32_t list0Count = 0;
    int32_t list1Count = 0;
    int32_t cabacInitIdc = 0;
    int32_t sliceQp = 26;
};

// The picture-level parameter-set writer. Sequence and picture parameter sets go before
// every IDR picture and again every F pictures (F = whole frames per second; F = 0 never
// again); their content is taken from the block only at an IDR picture, so a repeat in
// between carries the bytes of the last IDR's sets.
class CParameterSetWriter {
public:
    static constexpr size_t kBufferBytes = 1024;

    explicit CParameterSetWriter(const EncoderBlock* block);

    // The HRD declared from now on; nullptr for none.
    void SetHrdModel(const HrdModel* model);
    // Every NAL unit written is also recorded field by field (tests and tools).
    void SetTrace(std::vector<TracedNal>* trace) { trace_ = trace; }

    // Parameter sets when due, and the SEI of the picture. kCoreOk, kCoreNoSpace, or
    // kCoreUnsupported when no level holds the picture.
    int WritePictureHeaders(const PictureHeaderInfo& pic);
    // SPS and PPS into `buffer` (at most `capacity` bytes): the byte count, kCoreNoSpace or
    // kCoreUnsupported.
    int64_t WriteSequenceHeader(uint8_t* buffer, size_t capacity);

    int level() const { return level_; }
    bool outputReady() const { return outputReady_; }
    const uint8_t* data() const { return nal_.output().Data(); }
    size_t size() const { return nal_.output().ByteCount(); }

private:
    int BuildSets();
    int EmitSets(CNalWriter* nal);
    int WriteSei(const PictureHeaderInfo& pic);

    const EncoderBlock* block_;
    CNalWriter nal_;
    std::optional<HrdModel> hrd_;
    std::vector<TracedNal>* trace_ = nullptr;
    std::vector<uint8_t> sps_, pps_;  // RBSPs of the sets in force
    std::vector<TracedField> spsTrace_, ppsTrace_;
    int level_ = kAutoLevel;
    int64_t dueCodingNumber_ = 0;
    bool outputReady_ = false;
};

// Resets the slice NAL writer's buffers, sets its header (type 5 for an IDR picture, else
// 1; nal_ref_idc 0 for non-reference pictures) and writes the slice header into its
// payload.
void StartSliceNal(CNalWriter* nal, const EncoderBlock& block, const PictureHeaderInfo& pic,
                   const SliceHeaderInfo& slice, std::vector<TracedField>* trace = nullptr);

}  // namespace ombrisk
