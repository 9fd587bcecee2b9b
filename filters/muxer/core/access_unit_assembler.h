// Gathers the bytes of consecutive samples of one stream in a pooled buffer, lets the
// stream's parser find the access-unit boundaries, and cuts the buffer into unit slices
// that each hold exactly one access unit (one picture, one audio frame). Cutting copies
// nothing: the only copy is a sample's bytes into the buffer, and a second when the
// buffer's room runs out and what is not yet cut moves into a fresh one.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "filters/muxer/core/elementary_parser.h"
#include "filters/muxer/core/media_buffer.h"

namespace muxer {

// What the assembler needs of its stream.
class AssemblerStream {
public:
    virtual ~AssemblerStream() = default;
    virtual StreamType Type() const = 0;
    virtual BufferPool& Pool() = 0;
    // The stream's current parser, or null.
    virtual CElementaryParser* Parser() = 0;
    // Queues a unit (times it through the parser first); takes its own reference.
    virtual void QueueUnit(MediaBuffer* unit) = 0;
};

class AccessUnitAssembler {
public:
    explicit AccessUnitAssembler(AssemblerStream& stream) : stream_(stream) {}
    ~AccessUnitAssembler() { Stop(); }
    AccessUnitAssembler(const AccessUnitAssembler&) = delete;
    AccessUnitAssembler& operator=(const AccessUnitAssembler&) = delete;

    // Stream activation: takes a buffer from the pool (blocking). False without one.
    bool Start();
    // Stream deactivation: releases the buffer. Stop the pool first when a Feed may be
    // blocked in it.
    void Stop();
    // Flush: empties the buffer; the next unit starts at the next boundary found.
    void Reset();
    // End of stream: the bytes after the last boundary, once a boundary was found, are the
    // stream's last unit; then as Reset.
    void EndOfStream();
    // Adds a sample's bytes (any kind of buffer) and queues every unit completed by them.
    // Stream types without a parser are refused.
    void Feed(const MediaBuffer& sample);

    bool Active() const;

private:
    bool StoreLocked(const MediaBuffer& piece);
    void CutLocked(CElementaryParser& parser);
    void QueueSliceLocked(int32_t length);
    void ResyncLocked();

    mutable std::mutex lock_;
    AssemblerStream& stream_;
    BufferRef current_;
    std::optional<int64_t> pending_;  // the time of the unit being gathered
    const uint8_t* scanPos_ = nullptr;
    int32_t scanLength_ = 0;
    // Sample stamps no boundary has used yet, each with the stream offset of its sample's
    // first byte, oldest first. A unit takes the latest stamp whose sample began at or
    // before the unit's first byte, so a boundary found only after more bytes came in does
    // not take the stamp of a later sample.
    struct Stamp {
        int64_t offset;
        int64_t pts;
    };
    std::deque<Stamp> received_;
    int64_t dataOffset_ = 0;  // stream offset of the current buffer's data start
    bool firstUnit_ = true;
    std::optional<int64_t> TakeStampLocked(int64_t boundary_offset);
};

}  // namespace muxer
