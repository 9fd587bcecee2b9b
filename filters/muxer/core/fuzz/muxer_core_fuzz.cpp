// The fuzz target over access-unit assembly and every elementary-stream parser. The first
// bytes of an input choose the stream (type, settings, announced frame duration, buffer
// size); the rest is cut into samples.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "filters/muxer/core/access_unit_assembler.h"
#include "filters/muxer/core/elementary_parser.h"
#include "tests/support/fuzz_driver.h"

namespace {

using namespace muxer;

constexpr size_t kConfigBytes = 6;

constexpr StreamType kTypes[] = {StreamType::Mpeg2Video, StreamType::Mpeg1Video, StreamType::H264Video,
                                 StreamType::Mpeg1Audio, StreamType::Mpeg2Audio, StreamType::Ac3,
                                 StreamType::Aac,        StreamType::Mpeg4Video};

class FuzzStream : public ParserStream, public AssemblerStream {
public:
    FuzzStream(StreamType type, const StreamMediaType& media, PtsSource source, int32_t shift, int32_t buffer)
        : media_(media), source_(source), shift_(shift), type_(type) {
        pool_.Start(buffer, static_cast<uint32_t>(buffer) * 64);
        parser_ = CreateParser(type, *this);
        assembler_ = std::make_unique<AccessUnitAssembler>(*this);
        assembler_->Start();
    }
    ~FuzzStream() override {
        assembler_.reset();
        parser_.reset();
        pool_.StopAndFlush();
    }
    StreamMediaType CurrentMediaType() const override { return media_; }
    void SetCurrentMediaType(const StreamMediaType& t) override { media_ = t; }
    PtsSource GetPtsSource() const override { return source_; }
    int32_t InitialTimeShiftMs() const override { return shift_; }
    void SetOwnValue(OwnValue, int64_t) override {}
    void RecomputeTotalBitrate() override {}
    StreamType Type() const override { return type_; }
    BufferPool& Pool() override { return pool_; }
    CElementaryParser* Parser() override { return parser_.get(); }
    void QueueUnit(MediaBuffer* unit) override {
        // Every unit lies in stored bytes: touch them all (the sanitizer checks).
        uint32_t sum = 0;
        for (int32_t i = 0; i < unit->length; ++i)
            sum += unit->Data()[i];
        sink_ += sum;
        if (MediaBuffer* out = parser_->Exchange(unit)) out->Release();
    }
    void Feed(const uint8_t* bytes, int32_t size, std::optional<int64_t> pts) {
        // An exact-size copy, so that a read past the sample is caught.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[size > 0 ? size : 1]);
        if (size > 0) std::memcpy(copy.get(), bytes, static_cast<size_t>(size));
        const WrappingBuffer sample(copy.get(), size, pts);
        assembler_->Feed(sample);
    }
    void Finish() {
        assembler_->EndOfStream();
        if (MediaBuffer* last = parser_ ? parser_->TakeHeld() : nullptr) last->Release();
    }

private:
    StreamMediaType media_;
    PtsSource source_;
    int32_t shift_;
    StreamType type_;
    BufferPool pool_;
    std::unique_ptr<CElementaryParser> parser_;
    std::unique_ptr<AccessUnitAssembler> assembler_;
    uint32_t sink_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kConfigBytes) return 0;
    const StreamType type = kTypes[data[0] % std::size(kTypes)];
    const PtsSource source = static_cast<PtsSource>(data[1] % 3);
    const int32_t shift = static_cast<int8_t>(data[2]) * 100;
    StreamMediaType media;
    if (data[3] & 1) {
        media.format = (data[3] & 2) ? FormatType::Mpeg2Video : FormatType::WaveFormatEx;
        static constexpr int64_t kDurations[] = {0, 400000, 333667, 166666, 1, -400000, INT64_MAX, INT64_MIN};
        media.video.AvgTimePerFrame = kDurations[(data[3] >> 2) % std::size(kDurations)];
        media.video.dwBitRate = static_cast<uint32_t>(data[3]) << 16;
        media.wave.nAvgBytesPerSec = (data[3] & 4) ? 24000 : 0;
    }
    const int32_t buffer = 64 << (data[4] % 10);  // 64 bytes to 32 KiB
    const uint8_t split = data[5];
    FuzzStream stream(type, media, source, shift, buffer);
    // Samples of sizes and stamps drawn from the split byte; the stamps go back in time now
    // and then.
    uint32_t state = split * 2654435761u + 1;
    size_t at = kConfigBytes;
    int64_t time = 0;
    while (at < size) {
        state = state * 1664525u + 1013904223u;
        const size_t piece = std::min<size_t>(size - at, 1 + (state >> 8) % (split % 4 == 0 ? 4096 : 300));
        std::optional<int64_t> pts;
        if ((state >> 4) % 3 != 0) {
            time += static_cast<int64_t>((state >> 12) % 800000) - ((state & 0x100) ? 200000 : 0);
            pts = time;
            if ((state >> 20) % 97 == 0) pts = (state & 1) ? INT64_MAX - 5 : INT64_MIN + 5;
        }
        stream.Feed(data + at, static_cast<int32_t>(piece), pts);
        at += piece;
    }
    stream.Finish();
    return 0;
}

// A corpus file is a bare elementary stream: it is tried behind configuration bytes for
// each stream type. The mutator writes bytes the parsers look for (start codes, sync
// words) and draws new configuration bytes.
fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options o;
    for (uint8_t magic : {0x00, 0x01, 0xFF, 0xB3, 0xB8, 0x0B, 0x77, 0xF1, 0x65, 0x67, 0x68, 0x09})
        o.dictionary.push_back({magic});
    o.expandFile = [](const Bytes& stream) {
        std::vector<Bytes> inputs;
        for (uint8_t type = 0; type < std::size(kTypes); ++type) {
            Bytes in = {type, 0, 0, 0x05, 6, 0x11};
            in.insert(in.end(), stream.begin(), stream.end());
            inputs.push_back(std::move(in));
        }
        return inputs;
    };
    o.mutateHook = [](Bytes& b, Rng& rng) {
        for (size_t i = 0; i < kConfigBytes && i < b.size(); ++i)
            if (rng() % 2) b[i] = static_cast<uint8_t>(rng());
    };
    o.randomMaxSize = 4096;
    return o;
}
