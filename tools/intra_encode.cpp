#include "tools/intra_encode.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/picture_encoder.h"
#include "tools/y4m_input.h"

namespace ombrisk_tools {
namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

int RunIntraEncode(const IntraEncodeOptions& o, std::string* error) {
    File in(std::fopen(o.input.c_str(), "rb"));
    if (!in) {
        *error = "cannot open " + o.input;
        return 1;
    }
    const bool y4m = o.input.size() > 4 && o.input.compare(o.input.size() - 4, 4, ".y4m") == 0;
    int width = o.width, height = o.height;
    int fps100 = 2500;
    if (y4m && !ReadY4mHeader(in.get(), &width, &height, &fps100, error)) return 1;

    using namespace ombrisk;
    EncoderBlock block;
    int32_t params[kParamWords];
    DefaultParameterWords(params);
    params[kParGopLength] = o.gop;
    params[kParBFrames] = o.inter ? o.bFrames : 0;
    params[kParRefFrames] = o.inter ? o.refs : 0;
    params[kParProfile] = 77;
    params[kParRateMode] = 0;
    params[kParQpI] = o.qp;
    params[kParQpP] = o.qpP >= 0 ? o.qpP : o.qp;
    params[kParQpB] = o.qpB >= 0 ? o.qpB : params[kParQpP];
    params[kParMotionSearch] = o.motionSearch ? 1 : 0;
    params[kParRangeX] = params[kParRangeY] = o.range;
    params[kParSubpelDepth] = o.subpel;
    params[kParPartitions] = o.partitions;
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
    auto encoder = std::make_unique<CPictureEncoder>(block);
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
    const size_t frameBytes = lumaBytes + 2 * chromaBytes;
    std::vector<uint8_t> bytes;
    // Pictures waiting for the P picture after them (display order), and the coded
    // pictures' reconstructions until they are written in display order.
    struct Frame {
        std::vector<uint8_t> samples;
        int64_t display = 0;
    };
    std::vector<Frame> waiting;
    std::vector<uint8_t> anchorRecon(frameBytes);
    int64_t idrIndex = 0;
    const auto view = [&](const std::vector<uint8_t>& f) {
        PlanarPicture pic;
        pic.y = f.data();
        pic.cb = f.data() + lumaBytes;
        pic.cr = pic.cb + chromaBytes;
        pic.width = width;
        pic.height = height;
        pic.lumaPitch = width;
        pic.chromaPitch = width / 2;
        return pic;
    };
    const auto copyRecon = [&](uint8_t* dst) {
        encoder->DeblockLastPicture();  // B pictures are kept unfiltered; a decoder filters them
        const CRefPictureStore& p = encoder->reconstruction();
        const uint8_t* planes[3] = {p.luma(), p.cb(), p.cr()};
        const int strides[3] = {p.lumaStride(), p.chromaStride(), p.chromaStride()};
        for (int c = 0; c < 3; ++c) {
            const int w = c ? width / 2 : width, h = c ? height / 2 : height;
            for (int y = 0; y < h; ++y, dst += w)
                std::memcpy(dst, planes[c] + y * strides[c], w);
        }
    };
    const auto writeRecon = [&](const uint8_t* data) {
        return !rec || std::fwrite(data, 1, frameBytes, rec.get()) == frameBytes;
    };
    const auto code = [&](const Frame& f, int32_t type, bool idr) -> bool {
        PictureOrder order;
        order.sliceType = type;
        order.idr = idr;
        order.reference = type != kSliceB;
        order.displayNumber = f.display - idrIndex;
        bytes.clear();
        if (int r = encoder->EncodePicture(view(f.samples), order, &bytes); r != kCoreOk) {
            *error = "picture " + std::to_string(f.display) + " failed: " + std::to_string(r);
            return false;
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size()) {
            *error = "write failed";
            return false;
        }
        return true;
    };
    // Codes the waiting pictures: the last as P, then the others as B in display order;
    // reconstructions leave in display order.
    const auto flush = [&]() -> bool {
        if (waiting.empty()) return true;
        if (!code(waiting.back(), kSliceP, false)) return false;
        if (rec) copyRecon(anchorRecon.data());
        std::vector<uint8_t> recon(frameBytes);
        for (size_t i = 0; i + 1 < waiting.size(); ++i) {
            if (!code(waiting[i], kSliceB, false)) return false;
            if (rec) copyRecon(recon.data());
            if (!writeRecon(recon.data())) return (*error = "write failed"), false;
        }
        if (!writeRecon(anchorRecon.data())) return (*error = "write failed"), false;
        waiting.clear();
        return true;
    };
    for (int64_t n = 0; o.frames == 0 || n < o.frames; ++n) {
        if (y4m && !SkipY4mFrameHeader(in.get())) break;
        Frame f;
        f.samples.resize(frameBytes);
        f.display = n;
        if (std::fread(f.samples.data(), 1, frameBytes, in.get()) != frameBytes) break;
        const bool idr = n == 0 || (o.gop > 0 && n % o.gop == 0);
        if (!o.inter || idr) {
            if (!flush()) return 1;
            if (idr) idrIndex = n;
            if (!code(f, kSliceI, idr)) return 1;
            if (rec) copyRecon(anchorRecon.data());
            if (!writeRecon(anchorRecon.data())) return (*error = "write failed"), 1;
            continue;
        }
        waiting.push_back(std::move(f));
        if (int(waiting.size()) == std::max(o.bFrames, 0) + 1 && !flush()) return 1;
    }
    if (!flush()) return 1;
    return 0;
}

}  // namespace ombrisk_tools
