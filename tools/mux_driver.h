// The multiplexer core's command-line driver: muxes elementary-stream files into a program
// stream, a DVD program stream or a transport stream, or muxes again the streams of a
// program or transport stream, as the filter would with one upstream thread per input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace muxdriver {

struct Options {
    std::string format = "ts";  // "ps", "dvd" or "ts"
    std::string output;
    std::vector<std::string> inputs;  // elementary streams by extension, or one .mpg/.vob/.ts to mux again
    int64_t frameDuration = 400000;   // 100-ns units, for H.264 inputs (their streams say none)
    uint32_t chunk = 65536;           // bytes per sample handed to a stream
};

struct Result {
    bool ok = false;
    std::string error;
    uint64_t bytes = 0;
    int64_t overheadPercent = 0;
    int64_t paddingPercent = 0;
    int streams = 0;
};

// "mux_tool -f ps|dvd|ts [--fps N/D] -o OUT IN..."; false with a message on a bad line.
bool ParseArguments(const std::vector<std::string>& args, Options* options, std::string* error);
Result Run(const Options& options);

}  // namespace muxdriver
