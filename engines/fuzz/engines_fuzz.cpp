// Fuzz target over the engines' readers of outside data: the clip probe and the segment
// scan over the input stored as a file, and the DV frame readers over the input laid out
// as a DV frame (tiled to a frame's size, its first DIF block made a header block, so
// that short inputs reach the packs and the blocks).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engines/dv/dv_frame.h"
#include "engines/player/media_probe.h"
#include "engines/player/segment_scan.h"
#include "tests/support/fuzz_driver.h"

namespace {

std::string TempPath() {
    static const std::string path = [] {
        char name[64];
        std::snprintf(name, sizeof name, "engines_fuzz_%ld.bin", long(reinterpret_cast<intptr_t>(&name) & 0xFFFFFF));
        return std::string(name);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = TempPath();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
        engines::MediaFacts facts;
        engines::ProbeMedia(path, &facts);
        engines::ScanSegments(path, [](int) { return true; });
        std::remove(path.c_str());
    }
    if (size == 0) return 0;
    std::vector<uint8_t> frame(size >= dv::kPalFrameBytes ? size : dv::kPalFrameBytes);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = data[i % size];
    if (size < dv::kNtscFrameBytes) frame[0] &= 0x1F;
    dv::FrameSystem(frame);
    dv::FrameTimecode(frame);
    dv::FrameRecordingStamp(frame);
    dv::SetFrameTimecode(frame, {1, 2, 3, 4});
    const auto signature = dv::PictureSignature(frame);
    dv::SignatureDistance(signature, signature);
    uint32_t width = 0, height = 0;
    dv::DcPicture(frame, &width, &height);
    return 0;
}

// Start codes of program streams and H.264, and the DV time-code and recording date/time packs.
fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options o;
    for (uint8_t b : {0xBA, 0xBB, 0xBD, 0xB3, 0xE0, 0xC0, 0x67, 0x13, 0x62, 0x63, 0x80, 0x21, 0x31})
        o.dictionary.push_back({b});
    o.dictionary.push_back({0x00, 0x00, 0x01});
    o.dictionary.push_back({'R', 'I', 'F', 'F'});
    return o;
}
