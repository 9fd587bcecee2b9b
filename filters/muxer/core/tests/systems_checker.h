// A structural checker of MPEG-2 systems streams, written from ISO/IEC 13818-1 for the
// multiplexer's tests: it walks a program stream's packs or a transport stream's packets
// and reports the first violation it finds, with figures the tests bound.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace muxertest {

struct SystemsReport {
    std::string error;  // empty when the stream passed
    int packs = 0;
    int packets = 0;                // transport packets
    std::map<int, int> pesPackets;  // by stream id (program stream) or PID (transport stream)
    std::map<int, int> stamped;     // PES packets with a PTS, same keys
    // Largest gaps, in 27 MHz ticks.
    int64_t maxPcrGap = 0;
    int64_t maxPatGap = 0;
    int64_t maxPmtGap = 0;
    int64_t maxBufferUse = 0;  // bytes, largest P-STD occupancy of any stream
    bool endCode = false;
};

// `dvd`: every pack must be exactly 2048 bytes and start on a 2048-byte boundary.
SystemsReport CheckProgramStream(const std::vector<uint8_t>& bytes, bool dvd);
SystemsReport CheckTransportStream(const std::vector<uint8_t>& bytes);

// The presentation times of a stream file as ffprobe lists them
// ("-show_entries packet=stream_index,pts -of csv=p=0"): for each stream with at least
// `minPackets` stamped packets, every time must lie on one grid of frames: each step
// between consecutive times in display order a whole number of the smallest step (one
// frame; a packet that carries several frames stamps only the first). The smallest step
// and the span of each such stream, 90 kHz.
struct StampSteps {
    std::string error;  // the first time off the grid
    std::map<int, int64_t> step, span;
};
StampSteps EvenPresentationSteps(const std::string& probeCsv, size_t minPackets);
// The first fault of a stream file whose streams must be the frames of `seconds` of
// input with the frame steps `steps` (90 kHz, one per stream): an uneven step, a stream
// whose times span another length, or other steps than those; empty when none.
std::string FrameTimesFault(const std::string& probeCsv, const std::multiset<int64_t>& steps, double seconds);

// MPEG-2 CRC-32 (Annex A), computed bit by bit as the standard describes it.
uint32_t ReferenceCrc32(const uint8_t* data, size_t size);

}  // namespace muxertest
