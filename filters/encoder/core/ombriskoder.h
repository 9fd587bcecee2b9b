// The encoder core's facade: the filter builds it on its encoder block, pushes pictures,
// asks for coded pictures in coding order and collects the coded bytes chunk by chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <vector>

#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/frame_scheduler.h"
#include "filters/encoder/core/param_sets.h"
#include "filters/encoder/core/picture_encoder.h"
#include "filters/encoder/core/rate_control.h"

namespace ombrisk {

// HRESULT values the facade returns (the filter hands them on unchanged).
constexpr int32_t kS_OK = 0;
constexpr int32_t kS_FALSE = 1;
constexpr int32_t kE_NOTIMPL = static_cast<int32_t>(0x80004001u);
constexpr int32_t kE_FAIL = static_cast<int32_t>(0x80004005u);

struct InputPicture {
    const uint8_t* base = nullptr;
    const uint8_t* sideData = nullptr;
    int32_t sideDataBytes = 0;
    int32_t picStruct = 0;
};
struct OutputRecord {
    uint8_t* sideData = nullptr;
    int32_t sideDataCapacity = 0;
    int32_t sideDataBytes = 0;
    int32_t picStruct = 0;
};

class COmbriskoder {
public:
    // processors: threads the slices may use; 0 for the machine's processor count.
    explicit COmbriskoder(EncoderBlock* block, int processors = 0);
    ~COmbriskoder();
    COmbriskoder(const COmbriskoder&) = delete;
    COmbriskoder& operator=(const COmbriskoder&) = delete;

    bool valid() const { return valid_; }

    // Every picture operation returns E_FAIL when the settings are ones the picture
    // encoder does not code (a rate-control mode above 3, a frame rate or bit rate
    // of 0). PushFrame hands a picture (the picture record's layout: luma, then Cr, then Cb) to
    // the frame scheduler. E_FAIL when the facade is not valid, the picture is missing, or every buffer still holds a
    // picture not yet coded (call encodeFrame until S_FALSE first).
    int32_t PushFrame(const InputPicture& input);
    // Codes the next picture in coding order: S_OK, S_FALSE when none is ready (B
    // pictures waiting for their anchor), E_FAIL when not valid or the coding failed (the
    // picture stays uncoded then). The output record receives the picture's side data (as
    // much as its capacity holds) and pic_struct.
    int32_t encodeFrame(OutputRecord* output);
    // End of stream: a trailing B picture becomes a P picture; the next pushed picture
    // starts a new IDR period.
    int32_t Flush();
    // The coded bytes of the last picture, once: 1 and the chunk, else 0.
    int GetCodedChunk(const uint8_t** data, size_t* length, bool* firstSlice);

    // The last coded picture (tools and tests): its scheduling and its reconstruction as a
    // decoder shows it. Null before the first picture.
    const ScheduledPicture* lastPicture() const { return last_; }
    const CRefPictureStore* LastReconstruction();

    // SPS and PPS NAL units with start codes into `buffer`: their length in bytes, or -1
    // when the facade is not valid or the buffer is too small.
    int64_t GetSequenceHeader(uint8_t* buffer, size_t capacity);
    // level_idc of the last sequence parameter set written; 52 until one was.
    void GetLevel(int32_t* level) const;

private:
    bool valid_;
    const EncoderBlock* block_;
    std::unique_ptr<CParameterSetWriter> headers_;
    std::unique_ptr<CFrameScheduler> scheduler_;
    std::unique_ptr<CPictureEncoder> encoder_;
    std::unique_ptr<CRateControl> rate_;
    std::vector<uint8_t> coded_;
    bool pictures_ = false;
    bool chunkReady_ = false;
    const ScheduledPicture* last_ = nullptr;
};

}  // namespace ombrisk
