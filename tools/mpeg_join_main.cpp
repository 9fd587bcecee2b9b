#include <cstdio>
#include <string>
#include <vector>

#include "tools/mpeg_join.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const tools::JoinResult r = tools::RunJoin(args);
    if (r.status != 0) {
        std::fprintf(stderr, "mpeg_join: %s\n", r.message.c_str());
        return 1;
    }
    std::printf("%d output file(s)\n", r.outputFiles);
    return 0;
}
