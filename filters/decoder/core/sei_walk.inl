// Body of ForEachSeiMessage (clause 7.3.2.3.1), a template so that the tools can walk SEI
// messages with the decoder's own loop.
#pragma once

namespace avcdec {

template <typename Visit>
int ForEachSeiMessage(const uint8_t* nal, size_t nalSize, Visit&& visit) {
    // The loop ends at the trailing-bits byte: the last non-zero byte of the NAL unit.
    const size_t last = RbspPayloadBytes(nal, nalSize);
    size_t pos = 1;
    while (pos < last) {
        size_t fields[2] = {0, 0};  // payloadType, payloadSize
        for (size_t& field : fields) {
            // Each 0xFF adds 255; a NAL unit limits how many there can be.
            while (pos < last && nal[pos] == 0xFF) {
                field += 255;
                ++pos;
            }
            if (pos >= last) return kParseOutOfRange;
            field += nal[pos++];
        }
        if (fields[1] > last - pos) return kParseOutOfRange;
        visit(static_cast<int>(fields[0] > 0x7FFFFFFF ? 0x7FFFFFFF : fields[0]), nal + pos, fields[1]);
        pos += fields[1];
    }
    return kParseOk;
}

}  // namespace avcdec
