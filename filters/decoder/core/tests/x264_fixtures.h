// x264 streams shared by the decoder core's tests and the header dump's test: each is
// made at test time from an ffmpeg test pattern.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/media_fixture.h"

namespace avcdec_test {

struct X264Case {
    const char* name;
    const char* size;     // WxH of the source
    const char* options;  // x264 options besides input and output
};

// Baseline and Main streams with the header features the decoder must read.
inline const std::vector<X264Case>& X264Cases() {
    static const std::vector<X264Case> cases = {
        {"baseline", "176x144", "--profile baseline"},
        {"main_bframes", "176x144", "--profile main --bframes 2"},
        {"sar", "176x144", "--profile main --sar 16:11"},
        {"sar_extended", "176x144", "--profile main --sar 13:9"},
        {"ntsc_fps", "176x144", "--profile main --fps 30000/1001"},
        {"pulldown", "176x144", "--profile main --fps 24000/1001 --pulldown 32"},
        {"nal_hrd", "176x144", "--profile main --nal-hrd vbr --vbv-maxrate 800 --vbv-bufsize 1600"},
        {"hd_cropped", "1920x1080", "--profile main --preset ultrafast"},
        {"interlaced", "352x288", "--profile main --interlaced"},
    };
    return cases;
}

// Makes the stream of one case and returns its bytes (empty after a failure assertion).
inline ::testing::AssertionResult MakeX264Stream(const X264Case& c, std::vector<uint8_t>* bytes) {
    std::string yuv;
    const std::string frames = std::string(c.size) == "1920x1080" ? "3" : "12";
    auto made = testsupport::MediaFixture(std::string("ffmpeg -f lavfi -i testsrc=size=") + c.size +
                                              ":rate=25 -frames:v " + frames + " -pix_fmt yuv420p -f rawvideo {out}",
                                          "yuv", &yuv);
    if (!made) return made;
    // The shell runs in the fixture folder: name the source by its file name.
    const std::string yuvName = yuv.substr(yuv.find_last_of("/\\") + 1);
    std::string stream;
    made = testsupport::MediaFixture(std::string("x264 --quiet ") + c.options + " --input-res " + c.size +
                                         " --frames " + frames + " -o {out} " + yuvName,
                                     "264", &stream);
    if (!made) return made;
    std::ifstream f(stream, std::ios::binary);
    bytes->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    if (bytes->empty()) return ::testing::AssertionFailure() << "empty stream " << stream;
    return ::testing::AssertionSuccess();
}

}  // namespace avcdec_test
