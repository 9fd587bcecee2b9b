// Text dump of the H.264 parameter sets and SEI messages that the decoder core parses,
// one "name = value" line per syntax element under a heading per structure. Element
// names are those of the H.264 syntax tables, so the dump lines up with other tools'
// traces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tools {

// Runs an Annex B byte stream through the decoder core's extraction and parsers and
// appends the dump to out. Refused parameter sets get a line saying why.
void DumpH264Headers(const uint8_t* data, size_t size, std::string* out);

}  // namespace tools
