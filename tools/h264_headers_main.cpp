// h264_headers FILE: prints the parameter sets and SEI of an H.264 Annex B stream as the
// decoder core parses them.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/h264_header_dump.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: h264_headers FILE.264\n");
        return 2;
    }
    std::ifstream f(argv[1], std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::string out;
    tools::DumpH264Headers(bytes.data(), bytes.size(), &out);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
