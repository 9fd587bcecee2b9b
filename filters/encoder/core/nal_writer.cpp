#include "filters/encoder/core/nal_writer.h"

#include <span>

#include "common/bitstream/emulation_prevention.h"

#include "filters/encoder/core/core_result.h"

namespace ombrisk {

void CHeaderWriter::Trace(uint32_t pos, const char* name, int64_t value) {
    if (trace_) trace_->push_back({pos, name, value});
}

void CHeaderWriter::u(int n, uint32_t value, const char* name) {
    Trace(static_cast<uint32_t>(bits_->BitCount()), name, value);
    bits_->PutBits(n, value);
}

void CHeaderWriter::ue(uint32_t value, const char* name) {
    Trace(static_cast<uint32_t>(bits_->BitCount()), name, value);
    bits_->PutUe(value);
}

void CHeaderWriter::se(int32_t value, const char* name) {
    Trace(static_cast<uint32_t>(bits_->BitCount()), name, value);
    bits_->PutSe(value);
}

void CHeaderWriter::TrailingBits() {
    u(1, 1, "rbsp_stop_one_bit");
    while (!bits_->IsByteAligned())
        u(1, 0, "rbsp_alignment_zero_bit");
    bits_->Flush();  // every byte of the unit is in the array from here on
}

void CHeaderWriter::AlignWithOnes() {
    while (!bits_->IsByteAligned())
        u(1, 1, "cabac_alignment_one_bit");
    bits_->Flush();
}

int64_t MinimumCabacPictureBytes(int64_t binCount, int64_t picSizeInMbs) {
    constexpr int64_t kRawMbBits = 256 * 8 + 2 * 64 * 8;
    // 32/3 x N >= bins - raw/32  <=>  N >= 3 x (32 x bins - raw) / 1024.
    const int64_t excess = 32 * binCount - kRawMbBits * picSizeInMbs;
    if (excess <= 0) return 0;
    return (3 * excess + 1023) / 1024;
}

CNalWriter::CNalWriter(size_t payloadBytes, size_t outputBytes)
    : payloadBytes_(payloadBytes),
      outputBytes_(outputBytes),
      escaped_(common::EscapedBound(payloadBytes)),
      payload_(payloadBytes_.data(), payloadBytes_.size()),
      output_(outputBytes_.data(), outputBytes_.size()) {}

size_t CNalWriter::OutputBytesFor(size_t payloadBytes, size_t zeroWordBytes) {
    return 5 + payloadBytes + payloadBytes / 2 + 1 + (zeroWordBytes / 3 + 1) * 3;
}

int64_t CNalWriter::EmitNalUnit(size_t minimumPayload) {
    payload_.Flush();
    if (payload_.Overflowed() || !payload_.IsByteAligned() || output_.Overflowed()) {
        payload_.Reset();
        return kCoreNoSpace;
    }
    const size_t start = output_.ByteCount();
    static constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
    output_.PutBytes(kStartCode, sizeof kStartCode);
    output_.PutByte(static_cast<uint8_t>(((nalRefIdc_ & 3) << 5) | (nalUnitType_ & 31)));
    // A payload ending in 00 00 gets the final 03 of clause 7.4.1.
    const common::EscapeResult r = common::InsertEmulationPrevention(
        std::span<const uint8_t>(payload_.Data(), payload_.ByteCount()), std::span<uint8_t>(escaped_));
    if (!r.complete) {
        payload_.Reset();
        output_.Truncate(start);
        return kCoreNoSpace;
    }
    output_.PutBytes(escaped_.data(), r.written);
    const size_t n = r.written;
    if (n < minimumPayload) {
        // cabac_zero_word (clause 7.3.2.10): 0x0000, escaped as 00 00 03.
        const size_t triplets = (minimumPayload - n - 1) / 3 + 1;
        for (size_t i = 0; i < triplets; ++i) {
            output_.PutByte(0);
            output_.PutByte(0);
            output_.PutByte(3);
        }
    }
    payload_.Reset();
    output_.Flush();
    if (output_.Overflowed()) {
        // Roll the output back to the previous unit: nothing half-written is handed on,
        // and the caller sees the failure.
        output_.Truncate(start);
        return kCoreNoSpace;
    }
    return static_cast<int64_t>(output_.ByteCount());
}

}  // namespace ombrisk
