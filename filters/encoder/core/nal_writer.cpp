#include "filters/encoder/core/nal_writer.h"

#include <bit>

#include "filters/encoder/core/core_result.h"

namespace ombrisk {

int UeBits(uint32_t value) {
    const uint64_t code = uint64_t{value} + 1;
    const int len = 64 - std::countl_zero(code);
    return 2 * len - 1;
}

void CHeaderWriter::Trace(uint32_t pos, const char* name, int64_t value) {
    if (trace_) trace_->push_back({pos, name, value});
}

void CHeaderWriter::u(int n, uint32_t value, const char* name) {
    Trace(bits_->GetBitCount(), name, value);
    bits_->PutBits(n, value);
}

void CHeaderWriter::ue(uint32_t value, const char* name) {
    Trace(bits_->GetBitCount(), name, value);
    const uint64_t code = uint64_t{value} + 1;
    const int len = 64 - std::countl_zero(code);
    // len - 1 leading zeros, then code in len bits (clause 9.1); len reaches 33 only for
    // value 0xFFFFFFFF, whose top bit is written on its own.
    bits_->PutBits(len - 1, 0);
    if (len > 32) {
        bits_->PutBits(1, 1);
        bits_->PutBits(32, static_cast<uint32_t>(code));
    } else {
        bits_->PutBits(len, static_cast<uint32_t>(code));
    }
}

void CHeaderWriter::se(int32_t value, const char* name) {
    // Clause 9.1.1: k > 0 -> 2k - 1, k <= 0 -> -2k.
    const int64_t v = value;
    const uint64_t mapped = v > 0 ? static_cast<uint64_t>(2 * v - 1) : static_cast<uint64_t>(-2 * v);
    const size_t before = trace_ ? trace_->size() : 0;
    ue(static_cast<uint32_t>(mapped), name);
    if (trace_ && trace_->size() > before) trace_->back().value = value;
}

void CHeaderWriter::TrailingBits() {
    u(1, 1, "rbsp_stop_one_bit");
    while (!bits_->IsByteAligned())
        u(1, 0, "rbsp_alignment_zero_bit");
}

void CHeaderWriter::AlignWithOnes() {
    while (!bits_->IsByteAligned())
        u(1, 1, "cabac_alignment_one_bit");
}

size_t EscapePayload(const uint8_t* payload, size_t size, CBitBuffer* out) {
    size_t written = 0;
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = payload[i];
        if (zeros == 2 && b <= 3) {
            out->PutByte(3);
            ++written;
            zeros = 0;
        }
        out->PutByte(b);
        ++written;
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return written;
}

int64_t MinimumCabacPictureBytes(int64_t binCount, int64_t picSizeInMbs) {
    constexpr int64_t kRawMbBits = 256 * 8 + 2 * 64 * 8;
    // 32/3 x N >= bins - raw/32  <=>  N >= 3 x (32 x bins - raw) / 1024.
    const int64_t excess = 32 * binCount - kRawMbBits * picSizeInMbs;
    if (excess <= 0) return 0;
    return (3 * excess + 1023) / 1024;
}

CNalWriter::CNalWriter(size_t payloadBytes, size_t outputBytes) : payload_(payloadBytes), output_(outputBytes) {}

size_t CNalWriter::OutputBytesFor(size_t payloadBytes, size_t zeroWordBytes) {
    return 5 + payloadBytes + payloadBytes / 2 + 1 + (zeroWordBytes / 3 + 1) * 3;
}

int64_t CNalWriter::EmitNalUnit(size_t minimumPayload) {
    if (payload_.Overflowed() || !payload_.IsByteAligned() || output_.Overflowed()) {
        payload_.Reset();
        return kCoreNoSpace;
    }
    const size_t start = output_.ByteCount();
    static constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
    for (uint8_t b : kStartCode)
        output_.PutByte(b);
    output_.PutByte(static_cast<uint8_t>(((nalRefIdc_ & 3) << 5) | (nalUnitType_ & 31)));
    const size_t n = EscapePayload(payload_.Data(), payload_.ByteCount(), &output_);
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
    if (output_.Overflowed()) {
        // Roll the output back to the previous unit: nothing half-written is handed on,
        // and the caller sees the failure.
        output_.Truncate(start);
        return kCoreNoSpace;
    }
    return static_cast<int64_t>(output_.ByteCount());
}

}  // namespace ombrisk
