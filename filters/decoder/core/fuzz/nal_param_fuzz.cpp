// Fuzz target over NAL extraction, dispatch and parameter-set / SEI parsing.
// The first input byte picks the input form (byte stream or one NAL unit per push) and
// how the rest is cut into pushes, so that split start codes and time stamps are covered.
#include <cstddef>
#include <cstdint>
#include <string>

#include "filters/decoder/core/decoder_context.h"
#include "tests/support/fuzz_driver.h"

namespace {

// Each push is decoded until it is used up; a push can hold at most one NAL unit per
// byte, so the step count is bounded by its length plus the steps that hand out nothing.
void DecodePush(avcdec::AvcDecoderContext* ctx, bool byteStream) {
    for (int guard = 0; guard < (1 << 20); ++guard) {
        const int code = byteStream ? avcdec::AvcDecoderDecodeByteStream(ctx) : avcdec::AvcDecoderDecodeNalUnit(ctx);
        if (code == avcdec::kStepNeedData || code == avcdec::kStepEndOfStream || code < 0) return;
    }
    __builtin_trap();  // a step loop that never ends is a finding
}

fuzzdriver::Bytes FromHex(const char* hex) {
    fuzzdriver::Bytes out;
    for (size_t i = 0; hex[i] != 0 && hex[i + 1] != 0; i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return out;
}

}  // namespace

// Seeds: parameter sets and SEI of small Baseline and Main streams (the second with HRD
// and picture timing), preceded by the mode byte. Corpus files are raw streams, tried in
// several input forms; the mutator inserts start codes and emulation prevention patterns
// and rewrites the mode byte.
fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options o;
    o.seeds = {
        FromHex("00000000016742c00ad9047a1000000300100000030328f12264800000000168cb83cb20"),
        FromHex("0200000001674d4014eca23d0800001f48000927c7030007a12000f425369c07c50a6580"
                "0000000168ebe3cb2000000106000693c6782328c080000001060105000000000000000080"),
        FromHex("01674d4014eca23d0800001f48000927c7030007a12000f425369c07c50a6580"),
    };
    o.dictionary = {{0, 0, 1, 0}, {0, 0, 3, 0}, {0, 0, 0, 1}, {0xFF, 0xFF, 0xFF, 0xFF}};
    o.expandFile = [](const Bytes& file) {
        std::vector<Bytes> forms;
        for (uint8_t mode : {0, 1, 2, 9, 255}) {
            Bytes b{mode};
            b.insert(b.end(), file.begin(), file.end());
            forms.push_back(std::move(b));
        }
        return forms;
    };
    o.mutateHook = [](Bytes& b, Rng& rng) {
        if (!b.empty()) b[0] = static_cast<uint8_t>(rng());
    };
    o.maxSize = size_t{1} << 16;
    return o;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    avcdec::AvcDecoderContext* ctx = avcdec::AvcDecoderCreate();
    if (ctx == nullptr) return 0;
    const bool byteStream = (mode & 1) == 0;
    const size_t chunk = (mode >> 1) == 0 ? size : static_cast<size_t>(mode >> 1);
    int64_t stamp = 0;
    for (size_t pos = 0; pos < size;) {
        const size_t n = size - pos < chunk ? size - pos : chunk;
        const int64_t t = (pos / chunk) % 3 == 1 ? avcdec::kNoTimeStamp : stamp++;
        size_t accepted = 0;
        avcdec::AvcDecoderPushData(ctx, data + pos, t, n, &accepted);
        DecodePush(ctx, byteStream);
        pos += n;
    }
    static const uint8_t kFlush[] = {0, 0, 1};
    size_t accepted = 0;
    avcdec::AvcDecoderPushData(ctx, kFlush, avcdec::kNoTimeStamp, sizeof kFlush, &accepted);
    DecodePush(ctx, byteStream);
    avcdec::AvcDecoderDestroy(ctx);
    return 0;
}
