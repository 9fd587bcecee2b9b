// ombrisk_intra: codes a y4m (or raw I420) file as I pictures.
//   ombrisk_intra [options] input output.264 [reconstruction.yuv]
//   -s WxH (raw input), -q QP, -l level (0-2), -n slices, -d 0|1 deblocking, -f frames, -g GOP, -i 0|1 interlaced
//   inter GOP: -x 1, -b B pictures, -r references, -m 0|1 motion search, -p sub-sample depth,
//   -w partition bits, -R range, -P / -B QP of P / B pictures
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/intra_encode.h"

int main(int argc, char** argv) {
    ombrisk_tools::IntraEncodeOptions o;
    int positional = 0;
    bool gopGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (a[0] == '-' && a[1] && !a[2] && i + 1 < argc) {
            const char* v = argv[++i];
            switch (a[1]) {
                case 's':
                    if (std::sscanf(v, "%dx%d", &o.width, &o.height) != 2) return std::fprintf(stderr, "bad -s\n"), 2;
                    break;
                case 'q':
                    o.qp = std::atoi(v);
                    break;
                case 'l':
                    o.level = std::atoi(v);
                    break;
                case 'n':
                    o.slices = std::atoi(v);
                    break;
                case 'd':
                    o.deblocking = std::atoi(v) != 0;
                    break;
                case 'f':
                    o.frames = std::atoi(v);
                    break;
                case 'g':
                    gopGiven = true;
                    o.gop = std::atoi(v);
                    break;
                case 'i':
                    o.interlaced = std::atoi(v) != 0;
                    break;
                case 'x':
                    o.inter = std::atoi(v) != 0;
                    break;
                case 'b':
                    o.bFrames = std::atoi(v);
                    break;
                case 'r':
                    o.refs = std::atoi(v);
                    break;
                case 'm':
                    o.motionSearch = std::atoi(v) != 0;
                    break;
                case 'p':
                    o.subpel = std::atoi(v);
                    break;
                case 'w':
                    o.partitions = std::atoi(v);
                    break;
                case 'R':
                    o.range = std::atoi(v);
                    break;
                case 'P':
                    o.qpP = std::atoi(v);
                    break;
                case 'B':
                    o.qpB = std::atoi(v);
                    break;
                default:
                    return std::fprintf(stderr, "unknown option %s\n", a), 2;
            }
            continue;
        }
        if (positional == 0) o.input = a;
        if (positional == 1) o.output = a;
        if (positional == 2) o.reconstruction = a;
        ++positional;
    }
    if (positional < 2) {
        std::fprintf(
            stderr,
            "usage: ombrisk_intra [-s WxH] [-q QP] [-l 0-2] [-n slices] [-d 0|1] [-f frames] [-g gop] [-i 0|1] "
            "[-x 1 -b B -r refs -m 0|1 -p 0-2 -w shapes -R range -P qp -B qp] input output.264 [recon.yuv]\n");
        return 2;
    }
    if (o.inter && !gopGiven) o.gop = 0;  // one IDR picture, then P and B pictures
    std::string error;
    if (ombrisk_tools::RunIntraEncode(o, &error) != 0) {
        std::fprintf(stderr, "ombrisk_intra: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
