// mux_tool: muxes elementary-stream files, or the streams of a program or transport
// stream, into a program stream, a DVD program stream or a transport stream.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/mux_driver.h"

int main(int argc, char** argv) {
    muxdriver::Options options;
    std::string error;
    if (!muxdriver::ParseArguments(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        std::fprintf(stderr, "mux_tool: %s\n", error.c_str());
        return 2;
    }
    const muxdriver::Result r = muxdriver::Run(options);
    if (!r.ok) {
        std::fprintf(stderr, "mux_tool: %s\n", r.error.c_str());
        return 1;
    }
    std::printf("%d streams, %llu bytes, overhead %lld%%, padding %lld%%\n", r.streams,
                static_cast<unsigned long long>(r.bytes), static_cast<long long>(r.overheadPercent),
                static_cast<long long>(r.paddingPercent));
    return 0;
}
