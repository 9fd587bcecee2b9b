// ombrisk_enc: codes a y4m (or raw I420) file into an H.264 byte stream.
//   ombrisk_enc [options] input output.264 [reconstruction.yuv]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/encode.h"

namespace {

constexpr const char* kUsage =
    "usage: ombrisk_enc [options] input(.y4m|.yuv) output.264 [reconstruction.yuv]\n"
    "  -s WxH       size of raw input            -f N      frames (0 all)\n"
    "  -r FPS       frame rate (raw input)       -q QP     constant QP (I; P +1, B +2; rounded\n"
    "                                            to what a quality setting gives)\n"
    "  -T           frame stamps                 -b KBIT   bit rate: VBR, or CBR with -c\n"
    "  -c           constant bit rate            -M KBIT   VBR maximum\n"
    "  -g N         GOP length (0: one I)        -n N      B pictures (0-16)\n"
    "  -R N         references (1-15)            -S N      slices\n"
    "  -e 0|1|2     effort: fastest .. best      -d 0|1    deblocking\n"
    "  -p 66|77|88  profile                      -x 0-3    scene detection (0 off, 1 difference)\n"
    "  -m 0|1       motion search                -v        progress on stderr\n"
    "  -t N         slice threads (0: one per processor)\n"
    "  -a           CABAC entropy coding (Main profile)\n"
    "exit codes: 0 done, 1 refused or failed, 2 bad command line, 3 input truncated (the whole\n"
    "pictures before the damage are coded)\n";

}  // namespace

int main(int argc, char** argv) {
    ombrisk_tools::EncodeOptions o;
    int positional = 0;
    bool bFramesGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (a[0] == '-' && a[1] && !a[2]) {
            if (a[1] == 'v') {
                o.progress = true;
                continue;
            }
            if (a[1] == 'c') {
                o.rateMode = 3;
                continue;
            }
            if (a[1] == 'T') {
                o.frameStamps = true;
                continue;
            }
            if (a[1] == 'a') {
                o.cabac = true;
                continue;
            }
            if (i + 1 >= argc) return std::fprintf(stderr, "%s needs a value\n%s", a, kUsage), 2;
            const char* v = argv[++i];
            // Every option but -s and -r takes a whole number.
            char* end = nullptr;
            const long parsed = std::strtol(v, &end, 10);
            if (a[1] != 's' && a[1] != 'r' && (end == v || *end || parsed < -1000000000 || parsed > 1000000000))
                return std::fprintf(stderr, "ombrisk_enc: %s takes a whole number, not \"%s\"\n", a, v), 2;
            const int n = int(parsed);
            switch (a[1]) {
                case 's':
                    if (std::sscanf(v, "%dx%d", &o.width, &o.height) != 2) return std::fprintf(stderr, "bad -s\n"), 2;
                    break;
                case 'f':
                    o.frames = n;
                    break;
                case 'r': {
                    const double fps = std::strtod(v, &end);
                    if (end == v || *end || !(fps > 0 && fps <= 1000))
                        return std::fprintf(stderr, "ombrisk_enc: the frame rate -r %s is not in 0 .. 1000\n", v), 2;
                    o.fps100 = int(fps * 100 + 0.5);
                    break;
                }
                case 'q':
                    o.qp = n;
                    break;
                case 'b':
                    o.bitRate = n * 1000;
                    if (o.rateMode == 0) o.rateMode = 2;
                    break;
                case 'M':
                    o.maxBitRate = n * 1000;
                    break;
                case 'g':
                    o.gop = n;
                    break;
                case 'n':
                    o.bFrames = n;
                    bFramesGiven = true;
                    break;
                case 'R':
                    o.refs = n;
                    break;
                case 'S':
                    o.slices = n;
                    break;
                case 'e':
                    o.level = n;
                    break;
                case 'd':
                    o.deblocking = n != 0;
                    break;
                case 'p':
                    o.profile = n;
                    break;
                case 'x':
                    o.sceneDetect = n;
                    break;
                case 'm':
                    o.motionSearch = n != 0;
                    break;
                case 't':
                    o.threads = n;
                    break;
                default:
                    return std::fprintf(stderr, "unknown option %s\n%s", a, kUsage), 2;
            }
            continue;
        }
        if (positional == 0) o.input = a;
        if (positional == 1) o.output = a;
        if (positional == 2) o.reconstruction = a;
        ++positional;
    }
    if (positional < 2) return std::fprintf(stderr, "%s", kUsage), 2;
    // Baseline has no B pictures: its default is none; asking for some is refused.
    if (o.profile == 66 && !bFramesGiven) o.bFrames = 0;
    ombrisk_tools::EncodeReport report;
    std::string error;
    if (const int r = ombrisk_tools::RunEncode(o, &report, &error); r != 0) {
        std::fprintf(stderr, "ombrisk_enc: %s\n", error.c_str());
        return r;
    }
    std::printf("%lld pictures, %lld bytes, %.2f s, %.1f fps\n", static_cast<long long>(report.pictures),
                static_cast<long long>(report.bytes), report.seconds,
                report.seconds > 0 ? double(report.pictures) / report.seconds : 0.0);
    return 0;
}
