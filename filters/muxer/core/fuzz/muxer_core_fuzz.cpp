#include "filters/muxer/core/fuzz/muxer_core_fuzz.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "filters/muxer/core/access_unit_assembler.h"
#include "filters/muxer/core/elementary_parser.h"

namespace {

using namespace muxer;

constexpr StreamType kTypes[] = {StreamType::Mpeg2Video, StreamType::Mpeg1Video, StreamType::H264Video,
                                 StreamType::Mpeg1Audio, StreamType::Mpeg2Audio, StreamType::Ac3,
                                 StreamType::Aac, StreamType::Mpeg4Video};

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
        for (int32_t i = 0; i < unit->length; ++i) sum += unit->Data()[i];
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
    if (size < muxerfuzz::kConfigBytes) return 0;
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
    size_t at = muxerfuzz::kConfigBytes;
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

namespace muxerfuzz {

std::vector<uint8_t> MakeInput(uint8_t type_index, const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> in = {type_index, 0, 0, 0x05, 6, 0x11};
    in.insert(in.end(), stream.begin(), stream.end());
    return in;
}

std::vector<uint8_t> Mutate(const std::vector<uint8_t>& in, const std::vector<std::vector<uint8_t>>& corpus,
                            std::mt19937& rng) {
    std::vector<uint8_t> out = in;
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) {
        const size_t n = out.size();
        switch (rng() % 7) {
        case 0:  // flip bits
            if (n) out[rng() % n] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1:  // a byte the parsers look for
            if (n) {
                static constexpr uint8_t kMagic[] = {0x00, 0x01, 0xFF, 0xB3, 0xB8, 0x0B, 0x77, 0xF1, 0x65, 0x67, 0x68, 0x09};
                out[rng() % n] = kMagic[rng() % std::size(kMagic)];
            }
            break;
        case 2:  // insert random bytes
            {
                const size_t at = n ? rng() % n : 0, len = 1 + rng() % 16;
                std::vector<uint8_t> bytes(len);
                for (auto& b : bytes) b = static_cast<uint8_t>(rng());
                out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
            }
            break;
        case 3:  // delete a run
            if (n > 1) {
                const size_t at = rng() % n, len = std::min<size_t>(n - at, 1 + rng() % 64);
                out.erase(out.begin() + static_cast<std::ptrdiff_t>(at), out.begin() + static_cast<std::ptrdiff_t>(at + len));
            }
            break;
        case 4:  // repeat a run
            if (n > 1 && n < (1u << 20)) {
                const size_t at = rng() % n, len = std::min<size_t>(n - at, 1 + rng() % 512);
                std::vector<uint8_t> run(out.begin() + static_cast<std::ptrdiff_t>(at),
                                         out.begin() + static_cast<std::ptrdiff_t>(at + len));
                out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), run.begin(), run.end());
            }
            break;
        case 5:  // splice another entry's tail
            if (!corpus.empty() && n) {
                const auto& other = corpus[rng() % corpus.size()];
                if (!other.empty()) {
                    const size_t from = rng() % other.size();
                    out.resize(rng() % n);
                    out.insert(out.end(), other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
                }
            }
            break;
        default:  // new configuration bytes
            for (size_t i = 0; i < kConfigBytes && i < out.size(); ++i)
                if (rng() % 2) out[i] = static_cast<uint8_t>(rng());
            break;
        }
    }
    return out;
}

}  // namespace muxerfuzz
