#include "common/bitstream/program_stream_headers.h"

#include <utility>

namespace common {

void AppendPaddingPacket(std::vector<uint8_t>* out, uint32_t length, uint8_t first, uint8_t fill) {
    VectorFieldWriter w(*out);
    w.Bits(24, 0x000001);  // packet_start_code_prefix
    w.Bits(8, 0xBE);       // stream_id: padding_stream
    w.Bits(16, length);    // PES_packet_length
    EndHeader(w);
    if (length == 0) return;
    out->push_back(first);
    out->insert(out->end(), length - 1, fill);  // padding_byte
}

void AppendNavigationPackets(std::vector<uint8_t>* out) {
    for (const auto& [substream, length] : {std::pair<uint8_t, uint16_t>{0x00, 980}, {0x01, 1018}}) {
        VectorFieldWriter w(*out);
        w.Bits(24, 0x000001);  // packet_start_code_prefix
        w.Bits(8, 0xBF);       // stream_id: private_stream_2
        w.Bits(16, length);    // PES_packet_length
        w.Bits(8, substream);  // PCI or DSI
        EndHeader(w);
        out->insert(out->end(), length - 1u, 0x00);
    }
}

}  // namespace common
