// The fuzz target over the multiplexed-input parser and the streams it feeds: the first
// byte of an input sets the sample size (and, when odd, asks for H.264 video packets); the
// rest is a program or transport stream whose recognised streams go through their own
// assemblers and parsers into a queue that is drained at the end.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "filters/muxer/core/mux_input_parser.h"
#include "filters/muxer/core/mux_stream.h"
#include "tests/support/fuzz_driver.h"

namespace {

using namespace muxer;

class FuzzInput : public CMuxInputParser {
public:
    ~FuzzInput() override {
        for (auto& s : streams_) {
            s->EndOfStream();
            while (MediaBuffer* u = s->TakeUnit()) {
                // Every unit lies in stored bytes: touch them all (the sanitizer checks).
                uint32_t sum = 0;
                for (int32_t i = 0; i < u->length; ++i)
                    sum += u->Data()[i];
                sink_ += sum;
                u->Release();
            }
            s->Deactivate();
        }
    }

protected:
    MuxStream* OnNewStream(StreamType type, const StreamMediaType& media) override {
        if (streams_.size() >= 4) return nullptr;
        auto s = std::make_unique<MuxStream>(type, media, nullptr);
        if (!s->Activate()) return nullptr;
        streams_.push_back(std::move(s));
        return streams_.back().get();
    }
    bool DeliverPayload(MuxStream* stream, const uint8_t* data, int32_t size, std::optional<int64_t> pts,
                        std::optional<int64_t> dts) override {
        // An exact-size copy, so that a read past the payload is caught.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[size > 0 ? size : 1]);
        if (size > 0) std::memcpy(copy.get(), data, static_cast<size_t>(size));
        const WrappingBuffer sample(copy.get(), size, pts, dts);
        stream->Feed(sample);
        // Units are drained as they come, as the scheduler would, so the pools never fill.
        while (MediaBuffer* u = stream->TakeUnit())
            u->Release();
        return true;
    }

private:
    std::vector<std::unique_ptr<MuxStream>> streams_;
    uint32_t sink_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = 1 + static_cast<size_t>(data[0]) * 37;
    FuzzInput parser;
    parser.SetH264VideoWanted(data[0] & 1);  // odd sample sizes also take H.264 video packets
    for (size_t at = 1; at < size; at += piece) {
        const size_t n = std::min(piece, size - at);
        // An exact-size copy per sample.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[n]);
        std::memcpy(copy.get(), data + at, n);
        parser.Append(copy.get(), static_cast<int32_t>(n));
        parser.Parse();
    }
    parser.Finish();
    return 0;
}

// A corpus file is a program or transport stream: tried behind a few sample sizes. The
// mutator writes the bytes the parser looks for.
fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options o;
    for (uint8_t magic : {0x00, 0x01, 0x47, 0xBA, 0xBB, 0xBD, 0xC0, 0xE0, 0xB3, 0xFF, 0x80, 0x0B, 0x77})
        o.dictionary.push_back({magic});
    o.expandFile = [](const Bytes& stream) {
        std::vector<Bytes> inputs;
        for (uint8_t split : {0, 4, 60, 255}) {
            Bytes in = {split};
            in.insert(in.end(), stream.begin(), stream.end());
            inputs.push_back(std::move(in));
        }
        return inputs;
    };
    o.randomMaxSize = 8192;
    return o;
}
