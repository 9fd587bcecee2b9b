// Fuzz target over the stored-stream reader. The first input byte picks the layout and
// whether the source knows its size; the rest is the stream. Whatever the input, the reader
// must not overrun, must hand out nothing when it refuses, and what it accepts must write
// back into bytes that read as the same entries.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "filters/config/config_stream.h"
#include "filters/config/tests/stream_bytes.h"
#include "tests/support/fuzz_driver.h"

namespace {

using namespace kestrune;
using test::BlindSource;

void Check(bool condition) {
    if (!condition) std::abort();
}

constexpr std::uint16_t kTypes[] = {kStoredI4, kStoredBstr, kStoredBool, kStoredI1, kStoredUi4, kStoredI8, kStoredInt};

std::uint32_t Pick(fuzzdriver::Rng& rng, std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng);
}

// A valid stream of either layout behind the byte the target reads first.
fuzzdriver::Bytes ValidInput(fuzzdriver::Rng& rng) {
    const auto flags = static_cast<std::uint8_t>(Pick(rng, 4));
    const StreamLayout layout = (flags & 1) ? StreamLayout::v2 : StreamLayout::v1;
    std::vector<std::uint8_t> out = {flags};
    const std::uint32_t count = Pick(rng, 8);
    ConfigStreamWriteGuid(&out, kConfigStreamHeaderBytes);
    ConfigStreamWriteDword(&out, Pick(rng, 3) == 0 ? 21 : 16);
    ConfigStreamWriteDword(&out, count);
    for (std::uint32_t i = 0; i < count; ++i) {
        StoredEntry e;
        for (auto& b : e.key)
            b = static_cast<std::uint8_t>(Pick(rng, 4));
        e.variant.type = kTypes[Pick(rng, std::size(kTypes))];
        for (std::size_t b = 0; b < StoredValueWidth(e.variant.type); ++b)
            e.variant.value[b] = static_cast<std::uint8_t>(Pick(rng, 256));
        if (e.variant.type == kStoredBstr) e.variant.text.resize(Pick(rng, 12), 'a');
        e.active = Pick(rng, 2);
        ConfigStreamWriteEntry(&out, layout, e);
    }
    return out;
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

// Valid streams are generated; the generic mutator forges types, lengths and counts from
// them (interesting values) and truncates them.
fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options o;
    o.generate = ValidInput;
    o.randomOneIn = 16;
    o.randomMaxSize = 200;
    return o;
}
