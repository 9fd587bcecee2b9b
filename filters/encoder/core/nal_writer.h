// NAL packaging: one RBSP written into the payload buffer becomes one NAL unit of the
// Annex B byte stream in the output buffer (start code, header, payload with emulation
// prevention, optional cabac_zero_word triplets).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bitstream/bit_writer.h"

namespace ombrisk {

enum NalUnitType : int {
    kNalSlice = 1,
    kNalIdrSlice = 5,
    kNalSei = 6,
    kNalSps = 7,
    kNalPps = 8,
};

// One syntax element as written: bit position inside the RBSP, the standard's name, value.
struct TracedField {
    uint32_t bitPos;
    std::string name;
    int64_t value;
};
struct TracedNal {
    int nalUnitType;
    std::vector<TracedField> fields;
};

// Writes syntax elements (clause 7.2 descriptors) into a bit buffer, one call per field
// with the field's name; records them when a trace is given.
class CHeaderWriter {
public:
    explicit CHeaderWriter(common::BitWriter* bits, std::vector<TracedField>* trace = nullptr)
        : bits_(bits), trace_(trace) {}

    void u(int n, uint32_t value, const char* name);
    void ue(uint32_t value, const char* name);
    void se(int32_t value, const char* name);
    // rbsp_trailing_bits (clause 7.3.2.11).
    void TrailingBits();
    // cabac_alignment_one_bit until the byte boundary (clause 7.3.4).
    void AlignWithOnes();
    common::BitWriter* bits() { return bits_; }

private:
    void Trace(uint32_t pos, const char* name, int64_t value);

    common::BitWriter* bits_;
    std::vector<TracedField>* trace_;
};

// Largest slice RBSP of `macroblocks` macroblocks: a conforming macroblock_layer() holds
// at most 128 + RawMbBits = 3200 bits (8-bit 4:2:0, clause A.3.1 and A.3.3), plus the slice
// header and the trailing bits.
constexpr size_t kMaxMacroblockBytes = 400;
constexpr size_t kMaxSliceHeaderBytes = 64;
constexpr size_t SlicePayloadBound(size_t macroblocks) {
    return macroblocks * kMaxMacroblockBytes + kMaxSliceHeaderBytes;
}

// Bytes that NumBytesInVclNALunits of a CABAC picture must reach so that
// BinCountsInNALunits <= 32/3 x NumBytesInVclNALunits + RawMbBits x PicSizeInMbs / 32
// (clause 7.4.2.10, 8-bit 4:2:0: RawMbBits 3072). 0 when no padding is needed.
int64_t MinimumCabacPictureBytes(int64_t binCount, int64_t picSizeInMbs);

class CNalWriter {
public:
    // Both buffers hold `bufferBytes`: enough for the largest RBSP this writer carries and,
    // in the output, its worst-case growth (see OutputBytesFor).
    explicit CNalWriter(size_t payloadBytes, size_t outputBytes);

    // Largest NAL unit in the output for an RBSP of `payloadBytes` and `zeroWordBytes` bytes
    // of cabac_zero_word padding: start code, header, one escape byte per two payload
    // bytes at worst, the padding's triplets.
    static size_t OutputBytesFor(size_t payloadBytes, size_t zeroWordBytes);

    void SetHeader(int nalRefIdc, int nalUnitType) {
        nalRefIdc_ = nalRefIdc;
        nalUnitType_ = nalUnitType;
    }
    int nalRefIdc() const { return nalRefIdc_; }
    int nalUnitType() const { return nalUnitType_; }

    // The RBSP being written; EmitNalUnit packages it.
    common::BitWriter& payload() { return payload_; }
    // The NAL units emitted so far, complete in Data() after each EmitNalUnit.
    common::BitWriter& output() { return output_; }
    const common::BitWriter& output() const { return output_; }

    // Appends one NAL unit built from the payload (which ends with its trailing bits) to the
    // output, padded with cabac_zero_word triplets 00 00 03 until the escaped payload has
    // at least `minimumPayload` bytes, then resets the payload. Returns the output's byte
    // count, or kCoreNoSpace when the payload or the output ran out of room (the output is
    // then left as it was before the call).
    int64_t EmitNalUnit(size_t minimumPayload);
    void ResetBuffers() {
        payload_.Reset();
        output_.Reset();
    }

private:
    std::vector<uint8_t> payloadBytes_, outputBytes_, escaped_;
    common::BitWriter payload_;
    common::BitWriter output_;
    int nalRefIdc_ = 0;
    int nalUnitType_ = 0;
};

}  // namespace ombrisk
