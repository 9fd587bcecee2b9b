// A stream for the parser and assembler tests: the media type, settings and published
// values a parser sees, a pool, and a queue that runs every unit through the parser's
// timing as the filter's stream does, keeping a copy of what comes out.
#pragma once

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <memory>
#include <optional>
#include <vector>

#include "filters/muxer/core/access_unit_assembler.h"
#include "filters/muxer/core/elementary_parser.h"
#include "filters/muxer/core/media_buffer.h"
#include "tests/support/ffprobe.h"

namespace muxertest {

// A fixture file's bytes, and its name within the fixture folder (for fixture commands).
inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
using testsupport::BaseName;

struct Unit {
    std::vector<uint8_t> bytes;
    std::optional<int64_t> pts, dts, duration;
    bool end_of_stream = false;
};

class TestStream : public muxer::ParserStream, public muxer::AssemblerStream {
public:
    explicit TestStream(muxer::StreamType type, const muxer::StreamMediaType& media = {}, int32_t buffer_size = 1 << 18,
                        uint32_t byte_limit = 0)
        : media(media), type_(type) {
        pool.Start(buffer_size, byte_limit);
        parser = muxer::CreateParser(type, *this);
        assembler = std::make_unique<muxer::AccessUnitAssembler>(*this);
        assembler->Start();
    }
    ~TestStream() override {
        assembler.reset();
        parser.reset();
        pool.StopAndFlush();
    }

    // ParserStream
    muxer::StreamMediaType CurrentMediaType() const override { return media; }
    void SetCurrentMediaType(const muxer::StreamMediaType& type) override {
        media = type;
        ++media_changes;
    }
    muxer::PtsSource GetPtsSource() const override { return source; }
    int32_t InitialTimeShiftMs() const override { return shift_ms; }
    void SetOwnValue(muxer::OwnValue which, int64_t value) override { values[which] = value; }
    void RecomputeTotalBitrate() override { ++total_recomputes; }

    // AssemblerStream
    muxer::StreamType Type() const override { return type_; }
    muxer::BufferPool& Pool() override { return pool; }
    muxer::CElementaryParser* Parser() override { return parser.get(); }
    void QueueUnit(muxer::MediaBuffer* unit) override { Keep(parser->Exchange(unit)); }

    void Feed(const uint8_t* bytes, int32_t size, std::optional<int64_t> pts = std::nullopt) {
        const muxer::WrappingBuffer sample(bytes, size, pts);
        assembler->Feed(sample);
    }
    // The stream's end: the last bytes, then the unit the parser holds.
    void Finish() {
        assembler->EndOfStream();
        if (muxer::MediaBuffer* last = parser->TakeHeld()) {
            last->end_of_stream = true;
            last->dts_valid = false;
            Keep(last);
        }
    }

    muxer::StreamMediaType media;
    muxer::PtsSource source = muxer::PtsSource::TimeStampBased;
    int32_t shift_ms = 0;
    std::map<muxer::OwnValue, int64_t> values;
    int total_recomputes = 0;
    int media_changes = 0;
    muxer::BufferPool pool;
    std::unique_ptr<muxer::CElementaryParser> parser;
    std::unique_ptr<muxer::AccessUnitAssembler> assembler;
    std::vector<Unit> units;

private:
    void Keep(muxer::MediaBuffer* out) {
        if (!out) return;
        Unit u;
        u.bytes.assign(out->Data(), out->Data() + out->length);
        if (out->pts_valid) u.pts = out->pts;
        if (out->dts_valid) u.dts = out->dts;
        if (out->duration_valid) u.duration = out->duration;
        u.end_of_stream = out->end_of_stream;
        units.push_back(std::move(u));
        out->Release();
    }

    muxer::StreamType type_;
};

}  // namespace muxertest
