#include "tools/y4m_input.h"

#include <cstdlib>
#include <cstring>

namespace ombrisk_tools {

bool ReadY4mHeader(FILE* f, int* width, int* height, int* fps100, std::string* error) {
    char line[1024];
    if (!std::fgets(line, sizeof line, f) || std::strncmp(line, "YUV4MPEG2", 9) != 0) {
        *error = "not a y4m stream";
        return false;
    }
    *width = *height = 0;
    for (char* tok = std::strtok(line + 9, " \n"); tok; tok = std::strtok(nullptr, " \n")) {
        if (tok[0] == 'W') *width = std::atoi(tok + 1);
        if (tok[0] == 'H') *height = std::atoi(tok + 1);
        if (tok[0] == 'F') {
            long long num = 0, den = 0;
            if (std::sscanf(tok + 1, "%lld:%lld", &num, &den) == 2 && num > 0 && den > 0 && num / den < 1000)
                *fps100 = int(num * 100 / den);
        }
        if (tok[0] == 'C' && std::strncmp(tok + 1, "420", 3) != 0) {
            *error = "only 4:2:0 y4m input is coded";
            return false;
        }
    }
    if (*width <= 0 || *height <= 0) {
        *error = "y4m header without a size";
        return false;
    }
    return true;
}

bool SkipY4mFrameHeader(FILE* f) {
    return ReadY4mFrameHeader(f) == Y4mFrameHeader::kFrame;
}

Y4mFrameHeader ReadY4mFrameHeader(FILE* f) {
    char line[256];
    if (!std::fgets(line, sizeof line, f)) return Y4mFrameHeader::kEnd;
    return std::strncmp(line, "FRAME", 5) == 0 ? Y4mFrameHeader::kFrame : Y4mFrameHeader::kDamaged;
}

}  // namespace ombrisk_tools
