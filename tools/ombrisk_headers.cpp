// Writes the header test streams of every settings case into a folder, one ".264" file a
// case, and lists them with their level.
#include <cstdio>
#include <string>

#include "tools/header_streams.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    int failures = 0;
    for (const auto& c : ombrisk_tools::HeaderMatrix()) {
        ombrisk_tools::WrittenStream stream;
        std::string error;
        if (!ombrisk_tools::BuildHeaderStream(c, &stream, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            ++failures;
            continue;
        }
        const std::string path = std::string(argv[1]) + "/" + c.name + ".264";
        FILE* f = std::fopen(path.c_str(), "wb");
        const bool ok = f && std::fwrite(stream.bytes.data(), 1, stream.bytes.size(), f) == stream.bytes.size();
        if (f && std::fclose(f) != 0) ++failures;
        if (!ok) {
            std::fprintf(stderr, "%s: cannot write\n", path.c_str());
            ++failures;
            continue;
        }
        std::printf("%s level %d, %zu bytes, %zu NAL units\n", path.c_str(), stream.level, stream.bytes.size(),
                    stream.nals.size());
    }
    return failures ? 1 : 0;
}
