// Fuzz target over the stored-stream reader. The first input byte picks the layout and
// whether the source knows its size; the rest is the stream. Whatever the input, the reader
// must not overrun, must hand out nothing when it refuses, and what it accepts must write
// back into bytes that read as the same entries.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "filters/config/config_stream.h"
#include "filters/config/tests/stream_bytes.h"

namespace {

using namespace kestrune;
using test::BlindSource;

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const StreamLayout layout = (data[0] & 1) ? StreamLayout::v2 : StreamLayout::v1;
    const bool blind = (data[0] & 2) != 0;
    SpanSource span(data + 1, size - 1);
    BlindSource hidden(data + 1, size - 1);
    ByteSource& source = blind ? static_cast<ByteSource&>(hidden) : span;

    StoredHeader header;
    if (ConfigStreamReadHeader(source, &header) != StreamStatus::ok) return 0;
    std::vector<StoredEntry> entries;
    const StreamStatus status = ConfigStreamReadEntries(source, layout, &entries);
    if (status != StreamStatus::ok) {
        Check(entries.empty());
        return 0;
    }
    Check(entries.size() <= kMaxEntries);
    std::vector<std::uint8_t> again;
    ConfigStreamWriteGuid(&again, header.guid);
    ConfigStreamWriteDword(&again, header.version);
    ConfigStreamWriteDword(&again, static_cast<std::uint32_t>(entries.size()));
    for (const StoredEntry& e : entries) {
        Check(IsStoredType(e.variant.type));
        Check(e.variant.type == kStoredBstr || e.variant.text.empty());
        Check(e.variant.text.size() <= kMaxTextBytes);
        ConfigStreamWriteEntry(&again, layout, e);
    }
    SpanSource reread(again.data(), again.size());
    StoredHeader header2;
    std::vector<StoredEntry> entries2;
    Check(ConfigStreamReadHeader(reread, &header2) == StreamStatus::ok);
    Check(header2.guid == header.guid && header2.version == header.version);
    Check(ConfigStreamReadEntries(reread, layout, &entries2) == StreamStatus::ok);
    Check(entries2 == entries);
    Check(reread.Position() == again.size());
    return 0;
}
