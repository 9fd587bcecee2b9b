#include "common/bitstream/mpeg2_video_header.h"

#include <algorithm>
#include <iterator>

#include "common/bitstream/bit_reader.h"
#include "common/bitstream/start_code.h"

namespace common {

bool MpegFrameRate(int code, uint32_t* num, uint32_t* den) {
    static constexpr uint32_t kNum[9] = {0, 24000, 24, 25, 30000, 30, 50, 60000, 60};
    static constexpr uint32_t kDen[9] = {1, 1001, 1, 1, 1001, 1, 1, 1001, 1};
    if (code < 1 || code > 8) return false;
    *num = kNum[code];
    *den = kDen[code];
    return true;
}

bool MpegSequenceHeader::FrameRate(uint32_t* num, uint32_t* den) const {
    uint32_t n = 0, d = 0;
    if (!MpegFrameRate(frameRateCode, &n, &d)) return false;
    *num = n * (frameRateExtensionN + 1u);
    *den = d * (frameRateExtensionD + 1u);
    return true;
}

bool ReadMpegSequenceHeader(std::span<const uint8_t> bytes, MpegSequenceHeader* out) {
    if (bytes.size() < kMpegSequenceHeaderBytes || !IsMpegStartCode(bytes.data(), kMpegSequenceHeaderCode))
        return false;
    BitReader r(bytes.subspan(4));
    MpegSequenceHeader h;
    h.horizontalSize = r.ReadBits(12);
    h.verticalSize = r.ReadBits(12);
    h.aspectRatioInformation = static_cast<uint8_t>(r.ReadBits(4));
    h.frameRateCode = static_cast<uint8_t>(r.ReadBits(4));
    h.bitRateValue = r.ReadBits(18);
    h.markerBit = r.ReadFlag();
    h.vbvBufferSizeValue = r.ReadBits(10);
    h.constrainedParametersFlag = r.ReadFlag();
    h.loadIntraQuantiserMatrix = r.ReadFlag();
    if (h.loadIntraQuantiserMatrix) {
        for (uint8_t& q : h.intraQuantiserMatrix)
            q = static_cast<uint8_t>(r.ReadBits(8));
    }
    h.loadNonIntraQuantiserMatrix = r.ReadFlag();
    if (h.loadNonIntraQuantiserMatrix) {
        for (uint8_t& q : h.nonIntraQuantiserMatrix)
            q = static_cast<uint8_t>(r.ReadBits(8));
    }
    if (!r.Ok()) return false;  // the matrices run past the bytes given
    h.headerBytes = 4 + static_cast<size_t>((r.BitPosition() + 7) / 8);
    *out = h;
    return true;
}

bool ReadMpegSequenceHeaderFields(std::span<const uint8_t> bytes, MpegSequenceHeader* out) {
    if (bytes.size() < kMpegSequenceHeaderBytes) return false;
    uint8_t fixed[kMpegSequenceHeaderBytes];
    std::copy_n(bytes.data(), kMpegSequenceHeaderBytes, fixed);
    fixed[11] &= uint8_t(~3);  // load_intra_quantiser_matrix and the bit after it
    return ReadMpegSequenceHeader(std::span<const uint8_t>(fixed, sizeof fixed), out);
}

bool ReadMpegSequenceExtension(std::span<const uint8_t> bytes, MpegSequenceHeader* header) {
    if (bytes.size() < kMpegSequenceExtensionBytes || !IsMpegStartCode(bytes.data(), kMpegExtensionStartCode))
        return false;
    BitReader r(bytes.subspan(4, kMpegSequenceExtensionBytes - 4));
    if (r.ReadBits(4) != kMpegSequenceExtensionId) return false;
    MpegSequenceHeader h = *header;
    h.profileAndLevelIndication = static_cast<uint8_t>(r.ReadBits(8));
    h.progressiveSequence = r.ReadFlag();
    h.chromaFormat = static_cast<uint8_t>(r.ReadBits(2));
    h.horizontalSize = (h.horizontalSize & 0xFFF) | (r.ReadBits(2) << 12);
    h.verticalSize = (h.verticalSize & 0xFFF) | (r.ReadBits(2) << 12);
    h.bitRateValue = (h.bitRateValue & 0x3FFFF) | (r.ReadBits(12) << 18);
    r.ReadBits(1);  // marker_bit
    h.vbvBufferSizeValue = (h.vbvBufferSizeValue & 0x3FF) | (r.ReadBits(8) << 10);
    h.lowDelay = r.ReadFlag();
    h.frameRateExtensionN = static_cast<uint8_t>(r.ReadBits(2));
    h.frameRateExtensionD = static_cast<uint8_t>(r.ReadBits(5));
    if (!r.Ok()) return false;
    h.hasExtension = true;
    *header = h;
    return true;
}

bool ReadMpegVideoSequence(std::span<const uint8_t> bytes, MpegSequenceHeader* out) {
    MpegSequenceHeader h;
    if (!ReadMpegSequenceHeader(bytes, &h)) return false;
    const uint8_t* const end = bytes.data() + bytes.size();
    const uint8_t* next = FindStartCode(bytes.data() + h.headerBytes, end);
    if (next != end) ReadMpegSequenceExtension(std::span<const uint8_t>(next, static_cast<size_t>(end - next)), &h);
    *out = h;
    return true;
}

bool ReadMpegGopHeader(std::span<const uint8_t> bytes, MpegGopHeader* out) {
    if (bytes.size() < kMpegGopHeaderBytes || !IsMpegStartCode(bytes.data(), kMpegGroupStartCode)) return false;
    BitReader r(bytes.subspan(4, kMpegGopHeaderBytes - 4));
    MpegGopHeader g;
    g.timeCode = r.ReadBits(25);
    g.closedGop = r.ReadFlag();
    g.brokenLink = r.ReadFlag();
    if (!r.Ok()) return false;
    *out = g;
    return true;
}

bool ReadMpegPictureHeader(std::span<const uint8_t> bytes, MpegPictureHeader* out) {
    if (bytes.size() < kMpegPictureHeaderBytes || !IsMpegStartCode(bytes.data(), kMpegPictureStartCode)) return false;
    BitReader r(bytes.subspan(4, kMpegPictureHeaderBytes - 4));
    MpegPictureHeader h;
    h.temporalReference = static_cast<uint16_t>(r.ReadBits(10));
    h.pictureCodingType = static_cast<uint8_t>(r.ReadBits(3));
    if (!r.Ok()) return false;
    *out = h;
    return true;
}

namespace {

struct FieldPlace {
    uint8_t startCode;
    uint8_t extensionId;  // the 4 bits after an extension start code; 0 for other headers
    uint8_t headerBytes;  // bytes of the header's fixed part from its start code
    uint8_t bit;          // the field's first bit, counted from the byte after the start code
    uint8_t width;        // bits, at most 25
};

// By MpegHeaderField, in its order.
constexpr FieldPlace kFieldPlaces[] = {
    {kMpegSequenceHeaderCode, 0, kMpegSequenceHeaderBytes, 0, 12},  // horizontal_size_value
    {kMpegSequenceHeaderCode, 0, kMpegSequenceHeaderBytes, 12, 12},
    {kMpegSequenceHeaderCode, 0, kMpegSequenceHeaderBytes, 24, 4},
    {kMpegSequenceHeaderCode, 0, kMpegSequenceHeaderBytes, 28, 4},
    {kMpegSequenceHeaderCode, 0, kMpegSequenceHeaderBytes, 32, 18},  // bit_rate_value
    {kMpegSequenceHeaderCode, 0, kMpegSequenceHeaderBytes, 51, 10},  // after marker_bit
    {kMpegSequenceHeaderCode, 0, kMpegSequenceHeaderBytes, 61, 1},
    {kMpegExtensionStartCode, kMpegSequenceExtensionId, kMpegSequenceExtensionBytes, 4, 8},
    {kMpegExtensionStartCode, kMpegSequenceExtensionId, kMpegSequenceExtensionBytes, 12, 1},
    {kMpegExtensionStartCode, kMpegSequenceExtensionId, kMpegSequenceExtensionBytes, 13, 2},
    {kMpegExtensionStartCode, kMpegSequenceExtensionId, kMpegSequenceExtensionBytes, 40, 1},  // low_delay
    {kMpegExtensionStartCode, kMpegSequenceExtensionId, kMpegSequenceExtensionBytes, 41, 2},
    {kMpegExtensionStartCode, kMpegSequenceExtensionId, kMpegSequenceExtensionBytes, 43, 5},
    {kMpegGroupStartCode, 0, kMpegGopHeaderBytes, 0, 25},  // time_code
    {kMpegGroupStartCode, 0, kMpegGopHeaderBytes, 25, 1},
    {kMpegGroupStartCode, 0, kMpegGopHeaderBytes, 26, 1},
    {kMpegPictureStartCode, 0, kMpegPictureHeaderBytes, 0, 10},  // temporal_reference
    {kMpegPictureStartCode, 0, kMpegPictureHeaderBytes, 10, 3},
};
static_assert(std::size(kFieldPlaces) == size_t(MpegHeaderField::kPictureCodingType) + 1);
// Every field lies within its header's fixed part, in at most 4 bytes.
static_assert(std::all_of(std::begin(kFieldPlaces), std::end(kFieldPlaces), [](const FieldPlace& f) {
    return f.width >= 1 && f.width <= 25 && 4 + (f.bit + f.width + 7) / 8 <= f.headerBytes;
}));

}  // namespace

bool WriteMpegHeaderField(std::span<uint8_t> bytes, MpegHeaderField field, uint32_t value) {
    const size_t index = static_cast<size_t>(field);
    if (index >= std::size(kFieldPlaces)) return false;
    const FieldPlace& f = kFieldPlaces[index];
    if (bytes.size() < f.headerBytes || !IsMpegStartCode(bytes.data(), f.startCode)) return false;
    if (f.extensionId != 0 && bytes[4] >> 4 != f.extensionId) return false;
    if (value >> f.width != 0) return false;
    // The field lies within the 4 bytes from its first one (7 + 25 bits at most); those
    // bytes lie within the header, whose size was checked above.
    uint8_t* const at = bytes.data() + 4 + f.bit / 8;
    const size_t span = (f.bit % 8 + f.width + 7) / 8;
    uint32_t word = 0;
    for (size_t i = 0; i < span; ++i)
        word |= uint32_t{at[i]} << (24 - 8 * i);
    const int shift = 32 - f.bit % 8 - f.width;
    const uint32_t mask = ((uint32_t{1} << f.width) - 1) << shift;
    word = (word & ~mask) | value << shift;
    for (size_t i = 0; i < span; ++i)
        at[i] = static_cast<uint8_t>(word >> (24 - 8 * i));
    return true;
}

}  // namespace common
