// Fuzz target: both program-stream parsers over the input fed in uneven blocks, with
// every stream taken and walked item by item; then the file probes and the clip scans
// over the input stored as a file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "editor/core/clip_probe.h"
#include "editor/core/ps_parser.h"
#include "tests/support/fuzz_driver.h"

namespace {

void WalkParser(editor::CPsParser* parser, const uint8_t* data, size_t size, std::vector<uint8_t>* payload) {
    size_t at = 0, step = 1;
    while (at < size) {
        // Block sizes vary with the input so that units are cut at every position.
        const size_t n = std::min(size - at, step);
        parser->Feed(data + at, n);
        at += n;
        step = (step * 7 + data[at - 1]) % 5000 + 1;
        editor::ParserItem item;
        for (int v = 0; v < editor::kVideoStreams; ++v) {
            parser->TakeVideo(v, payload->data(), payload->size());
            for (int k = 0; k < 100000 && parser->NextItem(&item); ++k) {
                if (item.data[0] != 0 || item.available < 4) __builtin_trap();
            }
        }
        for (int a = 0; a < editor::kAudioStreams; ++a) {
            parser->TakeAudio(a, payload->data(), payload->size());
            for (int k = 0; k < 100000 && parser->NextItem(&item); ++k) {
                int64_t d = 0;
                editor::MpegAudioFrameDuration(item.data, item.available, &d);
                editor::Ac3FrameInfo(item.data, item.available, &d, nullptr);
            }
        }
    }
}

std::string TempPath() {
    static const std::string path = [] {
        char name[64];
        std::snprintf(name, sizeof name, "editor_ps_fuzz_%ld.bin", long(reinterpret_cast<intptr_t>(&name) & 0xFFFFFF));
        return std::string(name);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<uint8_t> payload(editor::kPayloadBufferSize);
    {
        editor::CMpeg2StreamParser m2;
        WalkParser(&m2, data, size, &payload);
        editor::CMpeg1StreamParser m1;
        WalkParser(&m1, data, size, &payload);
    }
    // Header routines over the raw bytes.
    int64_t v = 0;
    bool c = false, b = false;
    int tr = 0;
    editor::FrameDurationFromSequenceHeader(data, size, &v);
    editor::BitRateFromSequenceHeader(data, size, &v);
    editor::ReadGopFlags(data, size, &c, &b);
    editor::ReadTemporalReference(data, size, &tr);
    editor::SequenceHeaderLength(data, size);
    editor::FindPictureStartCode(data, size);

    const std::string path = TempPath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    const int type = editor::GetMpegFileType(path);
    int64_t offset = 0;
    const bool sectors = editor::GetCdxaDataOffset(path, &offset);
    editor::ClipStart start;
    editor::ClipEnd end;
    const bool mpeg1 = type == editor::kFileMpeg1 || type == editor::kFileVcd;
    if (editor::ScanClipStart(mpeg1, path, sectors, offset, &start))
        editor::ScanClipEnd(mpeg1, path, start, sectors, offset, &end);
    editor::FindVideoTimeInFile(path, type, 10000000, 0, false, 0);
    editor::FindAudioTimeInFile(path, type, 10000000, 1, false, 0);
    std::remove(path.c_str());
    return 0;
}

// The mutator writes pack, system, PES and sequence start-code bytes, audio sync bytes and
// whole start-code prefixes.
fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options o;
    for (uint8_t b : {0xBA, 0xBB, 0xBD, 0xB3, 0xB8, 0xE0, 0xC0, 0x80, 0xA0, 0x0B, 0x77})
        o.dictionary.push_back({b});
    o.dictionary.push_back({0x00, 0x00, 0x01});
    return o;
}
