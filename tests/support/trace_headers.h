// Test support: ffmpeg's reading of every header field of a stream, from its
// trace_headers bitstream filter, as the judge of our parameter-set, SEI and slice-header
// readers and writers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace testsupport {

struct TraceField {
    int64_t bitPos = 0;  // from the first bit of the NAL unit
    std::string name;    // as ffmpeg spells it, with "[i]" for array elements
    int64_t value = 0;
};

// The fields under one heading ("Sequence Parameter Set", "Picture Timing", ...) up to
// the next heading.
struct TraceSection {
    std::string heading;
    bool inPacket = false;  // read from a packet; false for the extradata, which repeats the first sets
    std::vector<TraceField> fields;
};

struct Trace {
    std::vector<TraceSection> sections;
    std::vector<std::string> failures;  // the filter's "Failed to read ..." lines
};

// Reads ffmpeg's log of `-bsf:v trace_headers`; lines of other origin are passed over.
Trace ParseTraceHeaders(const std::string& log);

// Runs the trace over the fixture file `name` (in the fixture folder) and returns ffmpeg's
// log through `log`; a failing run is a failure with that log. `inputOptions` go before
// the input ("-f h264" for a stream too short for ffmpeg to recognise).
::testing::AssertionResult RunTraceHeaders(const std::string& name, std::string* log,
                                           const std::string& inputOptions = "");

}  // namespace testsupport
