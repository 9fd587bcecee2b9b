// ombrisk_enc: codes a y4m (or raw I420) file into an H.264 byte stream.
//   ombrisk_enc [options] input output.264 [reconstruction.yuv]
#include <cstdio>
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
    "  -R N         references (1-16; 1-15 with B) -S N    slices\n"
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
    std::string error;
    const int files = ombrisk_tools::ParseEncodeArguments(argc, argv, &o, &error);
    if (files < 0) return std::fprintf(stderr, "ombrisk_enc: %s\n%s", error.c_str(), kUsage), 2;
    if (files < 2) return std::fprintf(stderr, "%s", kUsage), 2;
    ombrisk_tools::EncodeReport report;
    if (const int r = ombrisk_tools::RunEncode(o, &report, &error); r != 0) {
        std::fprintf(stderr, "ombrisk_enc: %s\n", error.c_str());
        return r;
    }
    std::printf("%lld pictures, %lld bytes, %.2f s, %.1f fps\n", static_cast<long long>(report.pictures),
                static_cast<long long>(report.bytes), report.seconds,
                report.seconds > 0 ? double(report.pictures) / report.seconds : 0.0);
    return 0;
}
