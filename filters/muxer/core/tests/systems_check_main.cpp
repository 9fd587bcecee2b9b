// systems_check: runs the structural checker over a program, DVD or transport stream file
// (for the long inputs that stay out of the test run); exit status 0 when it passes.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "filters/muxer/core/tests/systems_checker.h"

int main(int argc, char** argv) {
    if (argc != 3 ||
        (std::strcmp(argv[1], "ps") != 0 && std::strcmp(argv[1], "dvd") != 0 && std::strcmp(argv[1], "ts") != 0)) {
        std::fprintf(stderr, "usage: systems_check ps|dvd|ts FILE\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "systems_check: cannot read %s\n", argv[2]);
        return 2;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string kind = argv[1];
    const muxertest::SystemsReport r =
        kind == "ts" ? muxertest::CheckTransportStream(bytes) : muxertest::CheckProgramStream(bytes, kind == "dvd");
    std::printf("%s: %s; %d packs, %d transport packets, largest buffer use %lld bytes\n", argv[2],
                r.error.empty() ? "passes" : r.error.c_str(), r.packs, r.packets,
                static_cast<long long>(r.maxBufferUse));
    return r.error.empty() ? 0 : 1;
}
