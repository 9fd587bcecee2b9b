// The encoder core's facade: the filter builds it on its encoder block, pushes pictures,
// asks for coded pictures in coding order and collects the coded bytes chunk by chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/param_sets.h"

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
    explicit COmbriskoder(EncoderBlock* block);
    ~COmbriskoder();
    COmbriskoder(const COmbriskoder&) = delete;
    COmbriskoder& operator=(const COmbriskoder&) = delete;

    bool valid() const { return valid_; }

    // Picture intake, coding and chunk delivery run through the frame scheduler and the
    // picture encoder, which this core does not have yet: on a valid facade these return
    // E_NOTIMPL (GetCodedChunk: 0, no chunk), on an invalid one E_FAIL.
    int32_t PushFrame(const InputPicture& input);
    int32_t encodeFrame(OutputRecord* output);
    int32_t Flush();
    int GetCodedChunk(const uint8_t** data, size_t* length, bool* firstSlice);

    // SPS and PPS NAL units with start codes into `buffer`: their length in bytes, or -1
    // when the facade is not valid or the buffer is too small.
    int64_t GetSequenceHeader(uint8_t* buffer, size_t capacity);
    // level_idc of the last sequence parameter set written; 52 until one was.
    void GetLevel(int32_t* level) const;

private:
    bool valid_;
    const EncoderBlock* block_;
    std::unique_ptr<CParameterSetWriter> headers_;
};

}  // namespace ombrisk
