// The parser of an already multiplexed input (ISO/IEC 13818-1 program or transport
// stream): decides the kind once, walks the packets, discovers the elementary streams,
// and hands the payload of every PES packet of a recognised stream, with its time stamps,
// to the stream the owner made for it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "filters/muxer/core/elementary_parser.h"

namespace muxer {

class MuxStream;

// The bit rate a stream found in a multiplexed input starts with: what its headers
// announce when plausible, else a nominal rate of its kind (bits per second).
int64_t FoundStreamBitrate(StreamType type, const StreamMediaType& media);

class CMuxInputParser {
public:
    static constexpr int32_t kBufferSize = 1024000;
    // Program map PIDs kept from the program association table.
    static constexpr size_t kMaxListedPids = 98;

    enum class Kind { Undecided, Transport, Program };

    CMuxInputParser();
    virtual ~CMuxInputParser() = default;
    CMuxInputParser(const CMuxInputParser&) = delete;
    CMuxInputParser& operator=(const CMuxInputParser&) = delete;

    // Stores a sample's bytes behind those not yet parsed; false (nothing stored) when
    // they do not fit even after the unparsed bytes moved to the buffer's start.
    bool Append(const uint8_t* data, int32_t size);
    // Parses what is stored; a packet cut short waits for the next Append.
    void Parse();
    // The input ended: the bytes kept back for the next sample are parsed as they stand
    // (the last transport packet, the last short packets of a program stream).
    void Finish();
    // Forget the discovered streams (activation, end of a flush); kind and PIDs stay.
    void ClearStreams();

    Kind GetKind() const { return kind_; }
    int32_t Unparsed() const { return count_; }
    const std::vector<uint16_t>& ListedPids() const { return listed_; }

    // Recognises the elementary stream a PES packet (from its start code) carries: a
    // stream type, with the media type it implies; 0 when not recognised.
    static int32_t ProbeStream(const uint8_t* packet, int32_t size, bool programStream, StreamMediaType* media);
    // Recognises H.264 video in a video PES packet: a payload that opens with an Annex B
    // start code and the NAL unit of an access unit's start (ITU-T H.264 clause 7.4.1.2.3).
    static int32_t ProbeH264Video(const uint8_t* packet, int32_t size, StreamMediaType* media);
    // Without a stream map nothing announces H.264 in a video packet, and the multiplexer
    // takes such packets as MPEG video only; a reader that wants H.264 opts in.
    void SetH264VideoWanted(bool wanted) { h264Video_ = wanted; }

protected:
    // The owner's side: a stream for what was found (null when none could be made).
    virtual MuxStream* OnNewStream(StreamType type, const StreamMediaType& media) = 0;
    virtual bool DeliverPayload(MuxStream* stream, const uint8_t* data, int32_t size, std::optional<int64_t> pts,
                                std::optional<int64_t> dts) = 0;

private:
    struct Entry {
        MuxStream* stream = nullptr;
        uint32_t key = 0;
    };
    void DecideKind();
    void ParseTransport();
    void ParseProgram();
    void ReadPatPacket(const uint8_t* payload, int32_t size, bool unitStart);
    // The entry of `key`, probing the packet when the key is new; null when not
    // recognised (probed again next time).
    const Entry* FindOrAdd(uint32_t key, const uint8_t* packet, int32_t size);
    void Consume(int32_t n) {
        offset_ += n;
        count_ -= n;
    }

    std::unique_ptr<uint8_t[]> buffer_;
    int32_t count_ = 0;
    int32_t offset_ = 0;
    Kind kind_ = Kind::Undecided;
    bool atEnd_ = false;
    bool h264Video_ = false;
    std::vector<Entry> streams_;
    std::vector<uint16_t> listed_;
    std::vector<uint8_t> patSection_;  // a section being reassembled across packets
};

}  // namespace muxer
