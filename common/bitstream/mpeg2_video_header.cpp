#include "common/bitstream/mpeg2_video_header.h"

#include <algorithm>

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

}  // namespace common
