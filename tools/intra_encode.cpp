#include "tools/intra_encode.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/intra_picture.h"

namespace ombrisk_tools {
namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Reads the y4m stream header (at most 1 KiB): width and height; only 4:2:0 is taken.
bool ReadY4mHeader(FILE* f, int* width, int* height, std::string* error) {
    char line[1024];
    if (!std::fgets(line, sizeof line, f) || std::strncmp(line, "YUV4MPEG2", 9) != 0) {
        *error = "not a y4m stream";
        return false;
    }
    *width = *height = 0;
    for (char* tok = std::strtok(line + 9, " \n"); tok; tok = std::strtok(nullptr, " \n")) {
        if (tok[0] == 'W') *width = std::atoi(tok + 1);
        if (tok[0] == 'H') *height = std::atoi(tok + 1);
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
    char line[256];
    return std::fgets(line, sizeof line, f) && std::strncmp(line, "FRAME", 5) == 0;
}

}  // namespace

int RunIntraEncode(const IntraEncodeOptions& o, std::string* error) {
    File in(std::fopen(o.input.c_str(), "rb"));
    if (!in) {
        *error = "cannot open " + o.input;
        return 1;
    }
    const bool y4m = o.input.size() > 4 && o.input.compare(o.input.size() - 4, 4, ".y4m") == 0;
    int width = o.width, height = o.height;
    if (y4m && !ReadY4mHeader(in.get(), &width, &height, error)) return 1;

    using namespace ombrisk;
    EncoderBlock block;
    int32_t params[kParamWords];
    DefaultParameterWords(params);
    params[kParGopLength] = o.gop;
    params[kParBFrames] = 0;
    params[kParRefFrames] = 0;
    params[kParProfile] = 77;
    params[kParRateMode] = 0;
    params[kParQpI] = params[kParQpP] = params[kParQpB] = o.qp;
    params[kParMotionSearch] = 0;
    params[kParMbCoderLevel] = o.level;
    params[kParCabac] = 0;
    params[kParFlags] = (o.deblocking ? kFlagDeblocking : 0) | (o.interlaced ? kFlagInterlaced : 0);
    params[kParSliceCount] = o.slices;
    if (int r = StoreParameterRecord(&block, params, 1); r != kCoreOk) {
        *error = "parameters refused: " + std::to_string(r);
        return 1;
    }
    if (int r = StorePictureRecord(&block, width, height, width, height, 1); r != kCoreOk) {
        *error = "picture size refused: " + std::to_string(r);
        return 1;
    }
    FillChromaGeometry(&block);
    auto encoder = std::make_unique<CIntraPictureEncoder>(block);
    if (encoder->status() != kCoreOk) {
        *error = "encoder not ready: " + std::to_string(encoder->status());
        return 1;
    }
    File out(std::fopen(o.output.c_str(), "wb"));
    File rec(o.reconstruction.empty() ? nullptr : std::fopen(o.reconstruction.c_str(), "wb"));
    if (!out || (!o.reconstruction.empty() && !rec)) {
        *error = "cannot create the output files";
        return 1;
    }
    const size_t lumaBytes = size_t(width) * height, chromaBytes = size_t(width / 2) * (height / 2);
    std::vector<uint8_t> frame(lumaBytes + 2 * chromaBytes), bytes, line;
    for (int n = 0; o.frames == 0 || n < o.frames; ++n) {
        if (y4m && !SkipY4mFrameHeader(in.get())) break;
        if (std::fread(frame.data(), 1, frame.size(), in.get()) != frame.size()) break;
        PlanarPicture pic;
        pic.y = frame.data();
        pic.cb = frame.data() + lumaBytes;
        pic.cr = pic.cb + chromaBytes;
        pic.width = width;
        pic.height = height;
        pic.lumaPitch = width;
        pic.chromaPitch = width / 2;
        bytes.clear();
        if (int r = encoder->EncodePicture(pic, &bytes); r != kCoreOk) {
            *error = "picture " + std::to_string(n) + " failed: " + std::to_string(r);
            return 1;
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size()) {
            *error = "write failed";
            return 1;
        }
        if (rec) {
            const CRefPictureStore& p = encoder->reconstruction();
            const uint8_t* planes[3] = {p.luma(), p.cb(), p.cr()};
            const int strides[3] = {p.lumaStride(), p.chromaStride(), p.chromaStride()};
            for (int c = 0; c < 3; ++c) {
                const int w = c ? width / 2 : width, h = c ? height / 2 : height;
                for (int y = 0; y < h; ++y)
                    if (std::fwrite(planes[c] + y * strides[c], 1, w, rec.get()) != size_t(w)) {
                        *error = "write failed";
                        return 1;
                    }
            }
        }
    }
    return 0;
}

}  // namespace ombrisk_tools
