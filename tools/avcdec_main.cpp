// avcdec: decodes an H.264 byte stream with the decoder core. Prints one line per output
// frame like `ffmpeg -f framemd5` (stream, dts, pts, duration, size, MD5 of the yuv420p
// frame) and, with -o, writes the frames as raw yuv420p. Exits 1 when no picture was
// decoded (saying why), 3 when a picture came out damaged.
//
// Usage: avcdec [-o out.yuv] [-chunk N] input.264
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/avc_decode.h"
#include "tools/md5.h"

int main(int argc, char** argv) {
    const char* input = nullptr;
    const char* output = nullptr;
    size_t chunk = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            output = argv[++i];
        else if (std::strcmp(argv[i], "-chunk") == 0 && i + 1 < argc)
            chunk = static_cast<size_t>(std::strtoul(argv[++i], nullptr, 10));
        else
            input = argv[i];
    }
    if (input == nullptr) {
        std::fprintf(stderr, "usage: avcdec [-o out.yuv] [-chunk N] input.264\n");
        return 2;
    }
    std::ifstream in(input, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "avcdec: cannot open %s\n", input);
        return 1;
    }
    const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::FILE* out = nullptr;
    if (output != nullptr && (out = std::fopen(output, "wb")) == nullptr) {
        std::fprintf(stderr, "avcdec: cannot write %s\n", output);
        return 1;
    }
    bool writeFailed = false;
    int index = 0;
    const tools::DecodeSummary summary = tools::DecodeByteStream(stream, chunk, [&](const tools::DecodedFrame& f) {
        tools::Md5 md5;
        md5.Update(f.yuv->data(), f.yuv->size());
        std::printf("0, %9d, %9d, %8d, %8zu, %s%s\n", index, index, 1, f.yuv->size(), md5.HexDigest().c_str(),
                    f.damage != 0 ? " damaged" : "");
        ++index;
        if (out != nullptr && std::fwrite(f.yuv->data(), 1, f.yuv->size(), out) != f.yuv->size()) writeFailed = true;
    });
    if (out != nullptr && std::fclose(out) != 0) writeFailed = true;
    if (writeFailed) {
        std::fprintf(stderr, "avcdec: writing %s failed\n", output);
        return 1;
    }
    if (summary.frames == 0) {
        std::fprintf(stderr, "avcdec: no picture decoded: %s\n", tools::NothingDecodedReason(summary).c_str());
        return 1;
    }
    if (!summary.refusal.empty()) std::fprintf(stderr, "avcdec: %s\n", summary.refusal.c_str());
    return summary.damagedFrames != 0 ? 3 : 0;
}
