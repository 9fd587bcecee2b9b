// The multiplexed-input parser on hand-made program and transport streams: kind
// detection, packets split over samples, sections that span packets, the AC-3 substream
// header, and what it must never deliver.
#include <cstring>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "common/bitstream/program_stream_headers.h"
#include "filters/muxer/core/mux_input_parser.h"
#include "filters/muxer/core/mux_stream.h"
#include "filters/muxer/core/mux_syntax.h"

namespace {

using namespace muxer;

using Bytes = std::vector<uint8_t>;

struct Delivery {
    int stream;
    Bytes bytes;
    std::optional<int64_t> pts, dts;
};

// Records what the parser finds; the "streams" are distinct addresses it never touches.
class Recorder : public CMuxInputParser {
public:
    std::vector<StreamType> found;
    std::vector<Delivery> delivered;

protected:
    MuxStream* OnNewStream(StreamType type, const StreamMediaType&) override {
        found.push_back(type);
        return reinterpret_cast<MuxStream*>(&slots_[found.size()]);
    }
    bool DeliverPayload(MuxStream* stream, const uint8_t* data, int32_t size, std::optional<int64_t> pts,
                        std::optional<int64_t> dts) override {
        const int index = static_cast<int>(reinterpret_cast<char*>(stream) - slots_);
        delivered.push_back({index, Bytes(data, data + size), pts, dts});
        return true;
    }

private:
    char slots_[64] = {};
};

// A PES packet with a PTS (90 kHz) and the payload.
Bytes Pes(uint8_t id, int64_t pts90k, const Bytes& payload) {
    Bytes b;
    SyntaxWriter w(b);
    w.Bits(24, 1);
    w.Byte(id);
    w.Bits(16, payload.size() + 8);
    w.Byte(0x80);
    w.Byte(0x80);
    w.Byte(5);
    common::WritePesTimeStamp(w, 2, static_cast<uint64_t>(pts90k));
    w.Commit();
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

// An MPEG-2 pack header.
Bytes Pack() {
    return {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
}

// Transport packets of one PID carrying `data` from a unit start; the last is stuffed.
Bytes TsPackets(uint16_t pid, const Bytes& data, uint8_t* counter) {
    Bytes out;
    size_t done = 0;
    bool first = true;
    while (done < data.size()) {
        const size_t take = std::min<size_t>(184, data.size() - done);
        const size_t stuffing = 184 - take;
        Bytes p = {0x47, static_cast<uint8_t>((first ? 0x40 : 0) | (pid >> 8)), static_cast<uint8_t>(pid),
                   static_cast<uint8_t>((stuffing ? 0x30 : 0x10) | (*counter & 0x0F))};
        *counter = static_cast<uint8_t>(*counter + 1);
        if (stuffing) {
            p.push_back(static_cast<uint8_t>(stuffing - 1));
            if (stuffing > 1) {
                p.push_back(0);
                p.insert(p.end(), stuffing - 2, 0xFF);
            }
        }
        p.insert(p.end(), data.begin() + static_cast<std::ptrdiff_t>(done),
                 data.begin() + static_cast<std::ptrdiff_t>(done + take));
        out.insert(out.end(), p.begin(), p.end());
        done += take;
        first = false;
    }
    return out;
}

const Bytes kMp2Header = {0xFF, 0xFD, 0xA4, 0x00};  // MPEG-1 Layer II, 192 kbit/s, 48 kHz
const Bytes kSequence = {0x00, 0x00, 0x01, 0xB3, 0x16, 0x01, 0x20, 0x13, 0xFF, 0xFF, 0xE0, 0x18};

Bytes Payload(const Bytes& head, size_t size) {
    Bytes b = head;
    while (b.size() < size)
        b.push_back(static_cast<uint8_t>(b.size() * 13));
    return b;
}

void FeedInPieces(CMuxInputParser& p, const Bytes& data, size_t piece) {
    for (size_t at = 0; at < data.size(); at += piece) {
        const size_t n = std::min(piece, data.size() - at);
        ASSERT_TRUE(p.Append(data.data() + at, static_cast<int32_t>(n)));
        p.Parse();
    }
    p.Finish();
}

TEST(MuxInputParser, ProgramStreamPacketsSplitOverSamplesArriveWhole) {
    const Bytes video = Payload(kSequence, 3000), audio = Payload(kMp2Header, 576);
    Bytes ps = Pack();
    for (const Bytes& pes : {Pes(0xE0, 90000, video), Pes(0xC0, 93600, audio), Pes(0xE0, 93600, video)})
        ps.insert(ps.end(), pes.begin(), pes.end());
    ps.insert(ps.end(), {0x00, 0x00, 0x01, 0xB9});
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{1000}, ps.size()}) {
        SCOPED_TRACE(piece);
        Recorder r;
        FeedInPieces(r, ps, piece);
        EXPECT_EQ(r.GetKind(), CMuxInputParser::Kind::Program);
        ASSERT_EQ(r.found, (std::vector<StreamType>{StreamType::Mpeg2Video, StreamType::Mpeg1Audio}));
        ASSERT_EQ(r.delivered.size(), 3u);
        EXPECT_EQ(r.delivered[0].bytes, video);
        EXPECT_EQ(r.delivered[0].pts, 10000000);  // 90,000 ticks = 1 s
        EXPECT_EQ(r.delivered[1].bytes, audio);
        EXPECT_EQ(r.delivered[1].stream, 2);
        EXPECT_EQ(r.delivered[2].pts, 10400000);
    }
}

TEST(MuxInputParser, Ac3SubstreamHeaderGoesInProgramStreamsOnly) {
    Bytes ac3 = {0x0B, 0x77, 0x12, 0x34, 0x10, 0x40};
    ac3.resize(200, 0x55);
    Bytes withHeader = {0x80, 0x01, 0x00, 0x01};
    withHeader.insert(withHeader.end(), ac3.begin(), ac3.end());
    Bytes ps = Pack();
    for (int i = 0; i < 2; ++i) {
        const Bytes pes = Pes(0xBD, 90000 + 2880 * i, withHeader);
        ps.insert(ps.end(), pes.begin(), pes.end());
    }
    Recorder r;
    FeedInPieces(r, ps, 64);
    ASSERT_EQ(r.found, std::vector<StreamType>{StreamType::Ac3});
    ASSERT_EQ(r.delivered.size(), 2u);
    EXPECT_EQ(r.delivered[0].bytes, ac3);  // once per packet, every packet
    EXPECT_EQ(r.delivered[1].bytes, ac3);

    uint8_t cc = 0;
    const Bytes ts = TsPackets(0x101, Pes(0xBD, 90000, ac3), &cc);
    Recorder t;
    FeedInPieces(t, ts, 188);
    ASSERT_EQ(t.found, std::vector<StreamType>{StreamType::Ac3});
    Bytes joined;  // the PES spans two transport packets
    for (const Delivery& d : t.delivered)
        joined.insert(joined.end(), d.bytes.begin(), d.bytes.end());
    EXPECT_EQ(joined, ac3);
}

TEST(MuxInputParser, H264VideoPacketsAreFoundOnlyWhenWanted) {
    // Access units opening with a delimiter (four-byte start code) and with a slice
    // (three-byte start code); a packet whose first NAL unit has forbidden_zero_bit set
    // is not H.264.
    const Bytes aud = Payload({0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x01, 0x67, 0x4D}, 900);
    const Bytes slice = Payload({0x00, 0x00, 0x01, 0x41, 0x9A}, 300);
    Bytes ps = Pack();
    for (const Bytes& pes : {Pes(0xE2, 90000, aud), Pes(0xE2, 93003, slice), Pes(0xE3, 90000, {0, 0, 1, 0xE7, 1})})
        ps.insert(ps.end(), pes.begin(), pes.end());
    Recorder plain;
    FeedInPieces(plain, ps, 97);
    EXPECT_TRUE(plain.found.empty());
    EXPECT_TRUE(plain.delivered.empty());

    Recorder r;
    r.SetH264VideoWanted(true);
    FeedInPieces(r, ps, 97);
    ASSERT_EQ(r.found, std::vector<StreamType>{StreamType::H264Video});
    ASSERT_EQ(r.delivered.size(), 2u);
    EXPECT_EQ(r.delivered[0].bytes, aud);
    EXPECT_EQ(r.delivered[1].bytes, slice);
    EXPECT_EQ(r.delivered[1].pts, 93003 * 1000 / 9);
    // MPEG video stays MPEG video when H.264 is wanted.
    Recorder m;
    m.SetH264VideoWanted(true);
    const Bytes mpeg = Pes(0xE0, 90000, Payload(kSequence, 200));
    Bytes ps2 = Pack();
    ps2.insert(ps2.end(), mpeg.begin(), mpeg.end());
    FeedInPieces(m, ps2, 50);
    EXPECT_EQ(m.found, std::vector<StreamType>{StreamType::Mpeg2Video});
}

TEST(MuxInputParser, TransportStreamFromAPartialPacketWithSpanningTables) {
    // A PAT of 120 programs (a 493-byte section over three packets, behind a pointer_field
    // of 3) lists more PMT PIDs than the parser keeps; the first 98 are kept.
    Bytes section = {0x00, 0x00, 0x00, 0x00, 0x01, 0xC1, 0x00, 0x00};
    for (int i = 0; i < 120; ++i) {
        const uint16_t pid = static_cast<uint16_t>(0x200 + i);
        section.insert(section.end(), {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i + 1),
                                       static_cast<uint8_t>(0xE0 | (pid >> 8)), static_cast<uint8_t>(pid)});
    }
    const size_t length = section.size() - 3 + 4;
    section[1] = static_cast<uint8_t>(0xB0 | (length >> 8));
    section[2] = static_cast<uint8_t>(length);
    const uint32_t crc = Crc32Mpeg(section.data(), section.size());
    section.insert(section.end(), {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                                   static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)});
    Bytes pointed = {3, 0xAA, 0xBB, 0xCC};  // the tail of an earlier section before this one
    pointed.insert(pointed.end(), section.begin(), section.end());
    uint8_t patCc = 0, pmtCc = 0, videoCc = 0, audioCc = 0;
    Bytes ts = {0x12, 0x47, 0x00, 0x99};  // the tail of a cut packet before the grid
    for (const Bytes& part : {TsPackets(0, pointed, &patCc), TsPackets(0x200, Payload({0x02}, 40), &pmtCc),
                              TsPackets(0x300, Pes(0xE0, 90000, Payload(kSequence, 500)), &videoCc),
                              TsPackets(0x301, Pes(0xC0, 90000, Payload(kMp2Header, 576)), &audioCc)})
        ts.insert(ts.end(), part.begin(), part.end());
    // A packet of the video PID whose adaptation field fills it: nothing to deliver.
    Bytes empty = {0x47, 0x03, 0x00, 0x20, 183};
    empty.resize(188, 0xFF);
    ts.insert(ts.end(), empty.begin(), empty.end());

    Recorder r;
    FeedInPieces(r, ts, 100);
    EXPECT_EQ(r.GetKind(), CMuxInputParser::Kind::Transport);
    ASSERT_EQ(r.ListedPids().size(), CMuxInputParser::kMaxListedPids);
    EXPECT_EQ(r.ListedPids().front(), 0x200);
    ASSERT_EQ(r.found, (std::vector<StreamType>{StreamType::Mpeg2Video, StreamType::Mpeg1Audio}));
    size_t videoBytes = 0, audioBytes = 0;
    for (const Delivery& d : r.delivered)
        (d.stream == 1 ? videoBytes : audioBytes) += d.bytes.size();
    EXPECT_EQ(videoBytes, 500u);
    EXPECT_EQ(audioBytes, 576u);
}

TEST(MuxInputParser, RefusesWhatDoesNotFitAndMalformedStamps) {
    Recorder r;
    Bytes big(CMuxInputParser::kBufferSize + 1, 0);
    EXPECT_FALSE(r.Append(big.data(), static_cast<int32_t>(big.size())));
    EXPECT_EQ(r.Unparsed(), 0);
    // A PES whose PTS marker bits are wrong is skipped; the next good one is taken.
    Bytes bad = Pes(0xE0, 90000, Payload(kSequence, 100));
    bad[13] &= 0xFE;
    Bytes ps = Pack();
    ps.insert(ps.end(), bad.begin(), bad.end());
    const Bytes good = Pes(0xE0, 93600, Payload(kSequence, 100));
    ps.insert(ps.end(), good.begin(), good.end());
    FeedInPieces(r, ps, ps.size());
    ASSERT_EQ(r.delivered.size(), 1u);
    EXPECT_EQ(r.delivered[0].pts, 10400000);
}

}  // namespace
