// mpeg_join: joins cuts of MPEG-1/2 program-stream clips with the editing core into one
// program stream of a chosen kind, for tests and benchmarks.
//
//   mpeg_join [--type mpeg1|mpeg2|vcd|dvd|dvdvr|svcd] [--audio mpeg|ac3|lpcm] [--split BYTES]
//             -o OUT  CLIP IN OUT  [CLIP IN OUT ...]
//
// IN and OUT are seconds from the clip's start, or "-" for the start / the end.
#pragma once

#include <string>
#include <vector>

namespace tools {

struct JoinResult {
    int status = 0;  // 0 done; nonzero: failed (message says why)
    std::string message;
    int outputFiles = 0;
};

JoinResult RunJoin(const std::vector<std::string>& args);

}  // namespace tools
