#include "filters/muxer/core/mux_syntax.h"

#include <algorithm>
#include <array>

namespace muxer {

namespace {

std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int b = 0; b < 8; ++b)
            r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
        t[i] = r;
    }
    return t;
}

const std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

uint32_t Crc32Mpeg(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

void PacketizeSection(const std::vector<uint8_t>& section, uint16_t pid, uint8_t* counter, std::vector<uint8_t>* out) {
    size_t done = 0;
    bool first = true;
    while (first || done < section.size()) {
        std::vector<uint8_t> packet;
        packet.reserve(kTsPacketSize);
        SyntaxWriter w(packet);
        w.Byte(0x47);              // sync_byte
        w.Bits(1, 0);              // transport_error_indicator
        w.Bits(1, first ? 1 : 0);  // payload_unit_start_indicator
        w.Bits(1, 0);              // transport_priority
        w.Bits(13, pid);
        w.Bits(2, 0);  // transport_scrambling_control
        w.Bits(2, 1);  // adaptation_field_control: payload only
        w.Bits(4, *counter);
        *counter = static_cast<uint8_t>((*counter + 1) & 0x0F);
        if (first) w.Byte(0);  // pointer_field
        w.Commit();
        const size_t room = kTsPacketSize - packet.size();
        const size_t take = std::min(room, section.size() - done);
        packet.insert(packet.end(), section.begin() + static_cast<std::ptrdiff_t>(done),
                      section.begin() + static_cast<std::ptrdiff_t>(done + take));
        done += take;
        packet.resize(kTsPacketSize, 0xFF);
        out->insert(out->end(), packet.begin(), packet.end());
        first = false;
    }
}

}  // namespace muxer
