// The program tree's id rules and tables, the writers' packet layouts at their edges, and
// the scheduler's ordering, each checked against ISO/IEC 13818-1 with the structural
// checker and an independent CRC.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "filters/muxer/core/mux_engine.h"
#include "filters/muxer/core/mux_syntax.h"
#include "filters/muxer/core/tests/systems_checker.h"

namespace {

using namespace muxer;

struct Capture : MuxSink {
    std::vector<uint8_t> bytes;
    int partials = 0, ends = 0;
    void Write(const uint8_t* b, size_t n) override { bytes.insert(bytes.end(), b, b + n); }
    void DeliverPartial() override { ++partials; }
    void DeliverEndOfStream() override { ++ends; }
};

// A unit of `size` bytes (a counting pattern) with the given times.
BufferRef Unit(int32_t size, std::optional<int64_t> pts, std::optional<int64_t> dts = std::nullopt,
               std::optional<int64_t> duration = std::nullopt) {
    BufferRef u(MediaBuffer::CreateOwned(size));
    for (int32_t i = 0; i < size; ++i)
        u->Data()[i] = static_cast<uint8_t>(i * 7 + 1);
    u->length = size;
    u->SetPts(pts);
    u->SetDts(dts);
    u->durationValid = duration.has_value();
    u->duration = duration.value_or(0);
    return u;
}

// ---- Program tree ----------------------------------------------------------------------

TEST(ProgramTree, ProgramNumbersAndPidsAreUniqueAndNeverReservedOrNull) {
    MuxProgramTree tree;
    MuxProgram* a = tree.CreateProgram();
    MuxProgram* b = tree.CreateProgram();
    MuxProgram* c = tree.CreateProgram();
    EXPECT_EQ(a->programNumber, 1);
    EXPECT_EQ(b->programNumber, 2);
    EXPECT_EQ(c->programNumber, 3);
    EXPECT_EQ(a->pmtPid, 1000);
    EXPECT_EQ(b->pmtPid, 1001);
    EXPECT_EQ(c->pmtPid, 1002);

    // A stream asking for a program's PMT PID gets the next free PID from 1000 up.
    auto s = std::make_unique<MuxStreamNode>();
    s->pid = 1001;
    MuxStreamNode* stream = tree.AddStream(std::move(s), a);
    EXPECT_EQ(stream->pid, 1003);
    // The null PID, the reserved range and values beyond 13 bits count as unset.
    for (const int32_t asked : {0x1FFF, 0x0005, 0x0000, 0x2000 | 1500, -1}) {
        int32_t field = asked;
        ASSERT_TRUE(tree.MakeUniquePid(&field));
        EXPECT_GE(field, 0x10) << asked;
        EXPECT_LE(field, 0x1FFE) << asked;
        EXPECT_NE(field, 1000) << asked;
    }
    // With every PID from 1000 up taken the search wraps to 0x10, not to the null PID.
    for (int32_t pid = 1004; pid <= 0x1FFE; ++pid) {
        auto n = std::make_unique<MuxStreamNode>();
        n->pid = pid;
        ASSERT_EQ(tree.AddStream(std::move(n), a)->pid, pid);
    }
    int32_t field = 0x1FFE;
    ASSERT_TRUE(tree.MakeUniquePid(&field));
    EXPECT_EQ(field, 0x10);
}

TEST(ProgramTree, PesIdsAndStreamTypes) {
    MuxProgramTree tree;
    MuxProgram* p = tree.CreateProgram();
    struct Row {
        StreamType type;
        int32_t pesId;
        uint8_t substream;
        uint8_t streamType;
    };
    const Row rows[] = {
        {StreamType::Mpeg1Audio, 0xC0, 0, 0x03}, {StreamType::Mpeg2Audio, 0xC1, 0, 0x04},
        {StreamType::Ac3, 0xBD, 0x80, 0x81},     {StreamType::Ac3, 0xBD, 0x81, 0x81},
        {StreamType::Aac, 0xC2, 0, 0x0F},        {StreamType::Mpeg2Video, 0xE0, 0, 0x02},
        {StreamType::H264Video, 0xE1, 0, 0x1B},  {StreamType::Mpeg4Video, 0xE2, 0, 0x10},
        {StreamType::Mpeg1Video, 0xE3, 0, 0x01},
    };
    for (const Row& r : rows) {
        auto n = std::make_unique<MuxStreamNode>();
        n->type = r.type;
        MuxStreamNode* s = tree.AddStream(std::move(n), p);
        EXPECT_EQ(s->pesId, r.pesId) << static_cast<int>(r.type);
        if (r.substream) {
            EXPECT_EQ(s->ac3Substream, r.substream);
        }
        EXPECT_EQ(PmtStreamType(r.type), r.streamType);
    }
}

TEST(ProgramTree, TablesCarryTheirCrcAndRefuseWhatDoesNotFit) {
    MuxProgramTree tree;
    MuxProgram* p = tree.CreateProgram();
    for (StreamType t : {StreamType::Mpeg2Video, StreamType::Mpeg1Audio}) {
        auto n = std::make_unique<MuxStreamNode>();
        n->type = t;
        tree.AddStream(std::move(n), p);
    }
    std::vector<uint8_t> pat, pmt;
    ASSERT_EQ(BuildPatSection(tree, 0x1234, 0, &pat), TableResult::Ok);
    ASSERT_EQ(BuildPmtSection(*p, 0, &pmt), TableResult::Ok);
    // section_length counts what follows it; the CRC over the whole section is 0.
    EXPECT_EQ(pat.size(), 3u + (((pat[1] & 0x0F) << 8) | pat[2]));
    EXPECT_EQ(pat.size(), 16u);
    EXPECT_EQ(muxertest::ReferenceCrc32(pat.data(), pat.size()), 0u);
    EXPECT_EQ(Crc32Mpeg(pat.data(), pat.size() - 4), muxertest::ReferenceCrc32(pat.data(), pat.size() - 4));
    EXPECT_EQ(pmt.size(), 3u + (((pmt[1] & 0x0F) << 8) | pmt[2]));
    EXPECT_EQ(pmt.size(), 16u + 2 * 5);
    EXPECT_EQ(muxertest::ReferenceCrc32(pmt.data(), pmt.size()), 0u);
    EXPECT_EQ(((pmt[8] & 0x1F) << 8) | pmt[9], 0x1FFF);  // no stream carries the PCR
    p->streams[1]->putPcr = true;
    ASSERT_EQ(BuildPmtSection(*p, 0, &pmt), TableResult::Ok);
    EXPECT_EQ(((pmt[8] & 0x1F) << 8) | pmt[9], p->streams[1]->pid);

    // 201 streams fill a section; one more is refused rather than cut.
    while (p->streams.size() < 201) {
        auto n = std::make_unique<MuxStreamNode>();
        n->type = StreamType::Mpeg1Audio;
        tree.AddStream(std::move(n), p);
    }
    EXPECT_EQ(BuildPmtSection(*p, 0, &pmt), TableResult::Ok);
    EXPECT_LE(pmt.size(), 1024u);
    auto extra = std::make_unique<MuxStreamNode>();
    tree.AddStream(std::move(extra), p);
    EXPECT_EQ(BuildPmtSection(*p, 0, &pmt), TableResult::TooManyStreams);
    while (tree.Programs().size() < 253)
        tree.CreateProgram();
    EXPECT_EQ(BuildPatSection(tree, 0, 0, &pat), TableResult::Ok);
    tree.CreateProgram();
    EXPECT_EQ(BuildPatSection(tree, 0, 0, &pat), TableResult::TooManyPrograms);
}

TEST(ProgramTree, SectionsSpanPacketsAndKeepTheirCounters) {
    std::vector<uint8_t> section(400);
    for (size_t i = 0; i < section.size(); ++i)
        section[i] = static_cast<uint8_t>(i);
    uint8_t counter = 14;
    std::vector<uint8_t> ts;
    PacketizeSection(section, 0x0100, &counter, &ts);
    ASSERT_EQ(ts.size(), 3 * kTsPacketSize);
    EXPECT_EQ(counter, 1);
    std::vector<uint8_t> joined;
    for (size_t k = 0; k < 3; ++k) {
        const uint8_t* p = &ts[k * kTsPacketSize];
        EXPECT_EQ(p[0], 0x47);
        EXPECT_EQ((p[1] & 0x40) != 0, k == 0);  // payload_unit_start_indicator
        EXPECT_EQ(((p[1] & 0x1F) << 8) | p[2], 0x0100);
        EXPECT_EQ(p[3], 0x10 | ((14 + k) & 0x0F));
        const size_t start = k == 0 ? 5 : 4;
        if (k == 0) {
            EXPECT_EQ(p[4], 0);  // pointer_field
        }
        joined.insert(joined.end(), p + start, p + kTsPacketSize);
    }
    EXPECT_TRUE(std::equal(section.begin(), section.end(), joined.begin()));
    EXPECT_TRUE(std::all_of(joined.begin() + 400, joined.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST(ProgramTree, SystemHeaderBufferBoundUsesAllThirteenBits) {
    MuxProgramTree tree;
    MuxProgram* p = tree.CreateProgram();
    auto n = std::make_unique<MuxStreamNode>();
    n->type = StreamType::Mpeg2Video;
    n->bitrate = 8000000;  // one second: 1,000,000 bytes = 977 units of 1024 (above 8 bits)
    tree.AddStream(std::move(n), p);
    p->bitrate = 8000000;
    std::vector<uint8_t> h;
    BuildSystemHeader(*p, Compatibility::None, &h);
    ASSERT_EQ(h.size(), 15u);
    EXPECT_EQ(h[12], 0xE0);
    EXPECT_EQ(h[13] & 0xE0, 0xE0);  // '11', P-STD_buffer_bound_scale 1
    EXPECT_EQ(((h[13] & 0x1F) << 8) | h[14], 977);
    EXPECT_EQ(p->streams[0]->decoderBufferSize, 163000);
}

// ---- Writers ---------------------------------------------------------------------------

struct Rig {
    Capture sink;
    std::unique_ptr<MuxEngine> engine;
    std::vector<MuxStream*> streams;
    Rig(OutputKind output, Compatibility compatibility, std::vector<StreamType> types) {
        MuxSettings s;
        s.output = output;
        s.compatibility = compatibility;
        engine = std::make_unique<MuxEngine>(s, sink);
        for (StreamType t : types) {
            MuxStream* m = engine->AddStream(t, {});
            m->bitrate = IsVideoType(t) ? 4000000 : 192000;
            streams.push_back(m);
        }
    }
};

// The PES packets of a program stream: stream id, PES_packet_length and the header data.
struct PsPacket {
    size_t at;
    uint8_t id;
    size_t length;
};
std::vector<PsPacket> PsPackets(const std::vector<uint8_t>& b) {
    std::vector<PsPacket> out;
    size_t pos = 0;
    while (pos + 6 <= b.size()) {
        const uint8_t id = b[pos + 3];
        if (id == 0xBA) {
            pos += 14;
            continue;
        }
        if (id == 0xB9) break;
        const size_t length = (b[pos + 4] << 8) | b[pos + 5];
        out.push_back({pos, id, length});
        pos += 6 + length;
    }
    return out;
}

TEST(ProgramStreamWriter, DvdPacksAreExactlyOneSectorWhateverFillsThem) {
    Rig rig(OutputKind::ProgramStream, Compatibility::Dvd, {StreamType::Mpeg2Video, StreamType::Ac3});
    ASSERT_TRUE(rig.engine->Start());
    MuxStream& video = *rig.streams[0];
    MuxStream& audio = *rig.streams[1];
    // A navigation pack opens the stream: the system header, then the two empty
    // private-stream-2 packets; the unit follows in two packs.
    rig.engine->WriteUnit(video, *Unit(3000, 10000000, 9600000, 400000));
    const size_t first = rig.sink.bytes.size();
    EXPECT_EQ(first, 3 * 2048u);
    EXPECT_EQ(rig.sink.bytes[14 + 3], 0xBB);
    const size_t pci = 14 + 12 + 4 * 3;
    EXPECT_EQ(rig.sink.bytes[pci + 3], 0xBF);
    EXPECT_EQ(rig.sink.bytes[pci + 6], 0x00);
    EXPECT_EQ(rig.sink.bytes[pci + 986 + 3], 0xBF);
    EXPECT_EQ(rig.sink.bytes[pci + 986 + 6], 0x01);
    // A unit that opens a group starts a new navigation pack.
    BufferRef group = Unit(200, 10800000, 10400000, 400000);
    std::memcpy(group->Data(), "\x00\x00\x01\xB8", 4);
    const size_t before = rig.sink.bytes.size();
    rig.engine->WriteUnit(video, *group);
    ASSERT_EQ(rig.sink.bytes.size(), before + 2 * 2048u);
    EXPECT_EQ(rig.sink.bytes[before + 14 + 3], 0xBB);
    // 100 bytes, PTS only: PES_packet_length 2028 - 1920 = 108, then a 1920-byte padding
    // packet.
    const size_t hundred = rig.sink.bytes.size();
    rig.engine->WriteUnit(video, *Unit(100, 10400000, std::nullopt, 400000));
    std::vector<PsPacket> p = PsPackets({rig.sink.bytes.begin() + hundred, rig.sink.bytes.end()});
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].length, 108u);
    EXPECT_EQ(p[1].id, 0xBE);
    EXPECT_EQ(p[1].length + 6, 1920u);
    // A shortfall of exactly 5: no padding packet, five stuffing bytes in the header.
    const size_t five = rig.sink.bytes.size();
    rig.engine->WriteUnit(video, *Unit(2034 - 6 - 3 - 5 - 5, 11200000, std::nullopt, 400000));
    p = PsPackets({rig.sink.bytes.begin() + five, rig.sink.bytes.end()});
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].length, 2028u);
    EXPECT_EQ(rig.sink.bytes[five + 14 + 8], 5 + 5);  // PES_header_data_length
    // An AC-3 unit over two packets: each begins with the substream header.
    const size_t audioAt = rig.sink.bytes.size();
    rig.engine->WriteUnit(audio, *Unit(3000, 10000000, std::nullopt, 320000));
    p = PsPackets({rig.sink.bytes.begin() + audioAt, rig.sink.bytes.end()});
    int substreams = 0;
    for (const PsPacket& q : p) {
        if (q.id != 0xBD) continue;
        const uint8_t* h = &rig.sink.bytes[audioAt + q.at];
        EXPECT_EQ(h[9 + h[8]], 0x80);
        ++substreams;
    }
    EXPECT_EQ(substreams, 2);
    rig.engine->Stop();
    EXPECT_EQ(rig.sink.bytes.size() % 2048, 0u);  // no end code behind the last sector
    muxertest::SystemsReport r = muxertest::CheckProgramStream(rig.sink.bytes, true);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.packs, static_cast<int>(rig.sink.bytes.size() / 2048));
    EXPECT_EQ(rig.sink.ends, 1);
}

TEST(ProgramStreamWriter, LargeUnitsSplitIntoFullPesPackets) {
    Rig rig(OutputKind::ProgramStream, Compatibility::None, {StreamType::Mpeg2Video});
    ASSERT_TRUE(rig.engine->Start());
    BufferRef unit = Unit(200000, 20000000, 19600000, 400000);
    rig.engine->WriteUnit(*rig.streams[0], *unit);
    rig.engine->Stop();
    std::vector<PsPacket> p = PsPackets(rig.sink.bytes);
    std::vector<size_t> lengths;
    std::vector<uint8_t> payload;
    for (const PsPacket& q : p) {
        if (q.id != 0xE0) continue;
        lengths.push_back(q.length);
        const uint8_t* h = &rig.sink.bytes[q.at];
        payload.insert(payload.end(), h + 9 + h[8], h + 6 + q.length);
    }
    ASSERT_EQ(lengths.size(), 4u);
    EXPECT_EQ(lengths[0], 65514u);
    EXPECT_EQ(lengths[1], 65514u);
    EXPECT_EQ(lengths[2], 65514u);
    EXPECT_EQ(payload.size(), 200000u);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), unit->Data()));
    // Only the first packet carries the stamps.
    const auto firstPes = std::find_if(p.begin(), p.end(), [](const PsPacket& q) { return q.id == 0xE0; });
    EXPECT_EQ(rig.sink.bytes[firstPes->at + 7] & 0xC0, 0xC0);
    muxertest::SystemsReport r = muxertest::CheckProgramStream(rig.sink.bytes, false);
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(r.endCode);
    EXPECT_EQ(r.stamped[0xE0], 1);
}

TEST(TransportStreamWriter, TablesFirstThenStuffedPackets) {
    Rig rig(OutputKind::TransportStream, Compatibility::None, {StreamType::Mpeg2Video, StreamType::Mpeg1Audio});
    ASSERT_TRUE(rig.engine->Start());
    MuxStream& audio = *rig.streams[1];
    // A PES of 14 + 169 = 183 bytes leaves one byte of room in a packet that carries no
    // PCR: an adaptation field of length 0.
    rig.engine->WriteUnit(audio, *Unit(169, 10000000, std::nullopt, 240000));
    const std::vector<uint8_t>& b = rig.sink.bytes;
    ASSERT_GE(b.size(), 4 * kTsPacketSize);
    EXPECT_EQ(((b[1] & 0x1F) << 8) | b[2], 0);  // PAT
    EXPECT_EQ(((b[189] & 0x1F) << 8) | b[190], rig.engine->FirstProgram()->pmtPid);
    const uint8_t* last = &b[b.size() - kTsPacketSize];
    EXPECT_EQ(((last[1] & 0x1F) << 8) | last[2], audio.pid);
    EXPECT_EQ(last[3] & 0x30, 0x30);
    EXPECT_EQ(last[4], 0);  // adaptation_field_length 0, no flags byte
    EXPECT_EQ(last[5], 0x00);
    EXPECT_EQ(last[6], 0x00);
    EXPECT_EQ(last[7], 0x01);
    EXPECT_EQ(last[8], 0xC0);
    // The video stream carries the PCR (chosen for want of one), and its PMT says so.
    EXPECT_TRUE(rig.streams[0]->putPcr);
    for (int i = 0; i < 40; ++i)
        rig.engine->WriteUnit(*rig.streams[0],
                              *Unit(5000 + 97 * i, 10400000 + 400000 * i, 10000000 + 400000 * i, 400000));
    rig.engine->Stop();
    muxertest::SystemsReport r = muxertest::CheckTransportStream(rig.sink.bytes);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.pesPackets[audio.pid], 1);
    EXPECT_EQ(r.pesPackets[rig.streams[0]->pid], 40);
    EXPECT_LE(r.maxPcrGap, 2700000);
    EXPECT_LE(r.maxPatGap, 13500000);
}

TEST(MuxEngineStart, RefusesAPacketSizeTooSmallForItsHeaders) {
    Rig rig(OutputKind::ProgramStream, Compatibility::None, {StreamType::Mpeg1Audio});
    rig.streams[0]->pesPacketSize = 40;
    EXPECT_FALSE(rig.engine->Start());
}

// ---- Scheduler -------------------------------------------------------------------------

// Decoding times (PTS when alone, 90 kHz) of a program stream's PES packets, by stream
// id, in file order.
std::vector<std::pair<uint8_t, int64_t>> PsDecodingTimes(const std::vector<uint8_t>& b) {
    std::vector<std::pair<uint8_t, int64_t>> out;
    for (const PsPacket& p : PsPackets(b)) {
        if (p.id != 0xBD && (p.id < 0xC0 || p.id > 0xEF)) continue;
        const uint8_t* h = &b[p.at];
        const int flags = h[7] >> 6;
        if (!(flags & 2)) continue;
        const uint8_t* t = h + (flags == 3 ? 14 : 9);
        const int64_t v = (int64_t{(t[0] >> 1) & 7} << 30) | (int64_t{t[1]} << 22) | (int64_t{t[2] >> 1} << 15) |
                          (int64_t{t[3]} << 7) | (t[4] >> 1);
        out.push_back({p.id, v});
    }
    return out;
}

TEST(Scheduler, UnitsGoInDecodingTimeOrderAndAStreamWithoutInputHoldsTheOthers) {
    Rig rig(OutputKind::ProgramStream, Compatibility::None, {StreamType::Mpeg1Audio, StreamType::Ac3});
    ASSERT_TRUE(rig.engine->Start());
    MuxStream& early = *rig.streams[0];
    MuxStream& late = *rig.streams[1];
    early.startDelay = late.startDelay = 0;
    // The late stream's first unit is at 5 s; the early one's run from 0 s every 0.1 s.
    late.QueueTimedUnit(Unit(300, 50000000, std::nullopt, 320000).release());
    for (int i = 0; i < 60; ++i)
        early.QueueTimedUnit(Unit(300, 1000000 * i, std::nullopt, 1000000).release());
    rig.engine->RunUntilIdle();
    // The early stream ran up to the late one's unit, and on through its own unit of the
    // same time (it comes first in the list); past that it waits for the late stream's
    // next unit, which may come no earlier than 5 s.
    EXPECT_EQ(late.Queued(), 0u);
    EXPECT_EQ(late.currentPinPts, 50000000);
    EXPECT_EQ(early.currentPinPts, 50000000);
    EXPECT_EQ(early.Queued(), 60u - 51u);
    // An end unit of length 0 ends its stream at once; nothing holds the early one then.
    MediaBuffer* end = MediaBuffer::CreateOwned(0);
    end->endOfStream = true;
    late.QueueTimedUnit(end);
    rig.engine->RunUntilIdle();
    EXPECT_TRUE(late.ended);
    EXPECT_EQ(early.Queued(), 0u);
    EXPECT_FALSE(rig.engine->Finished());
    const auto times = PsDecodingTimes(rig.sink.bytes);
    ASSERT_EQ(times.size(), 61u);
    for (size_t i = 1; i < times.size(); ++i)
        EXPECT_LE(times[i - 1].second, times[i].second) << "packet " << i;
}

// Whatever the pace at which the upstream threads deliver, the same units give the same
// bytes, and the result stays inside the buffer model.
TEST(Scheduler, OutputDoesNotDependOnWhenTheInputArrives) {
    for (OutputKind kind : {OutputKind::ProgramStream, OutputKind::TransportStream}) {
        SCOPED_TRACE(kind == OutputKind::TransportStream ? "ts" : "ps");
        std::vector<std::vector<uint8_t>> outputs;
        for (int run = 0; run < 4; ++run) {
            Rig rig(kind, Compatibility::None, {StreamType::Mpeg2Video, StreamType::Mpeg1Audio, StreamType::Ac3});
            ASSERT_TRUE(rig.engine->Start());
            rig.engine->StartWorker();
            // Video at 25 pictures a second with a large picture every 12; the two audio
            // streams at 24 and 32 ms. Each stream is fed by its own thread, which pauses
            // now and then in a pattern that differs from run to run.
            auto feed = [&](int index, int count, int64_t step, int32_t size, int pauseEvery) {
                MuxStream* s = rig.streams[index];
                for (int i = 0; i < count; ++i) {
                    const bool video = index == 0;
                    const int32_t bytes = video && i % 12 == 0 ? size * 8 : size;
                    const int64_t t = 7000000 + step * i;
                    s->QueueTimedUnit(
                        Unit(bytes, video ? t + step : t, video ? std::optional<int64_t>(t) : std::nullopt, step)
                            .release());
                    if (pauseEvery > 0 && i % pauseEvery == 0)
                        std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                MediaBuffer* end = MediaBuffer::CreateOwned(0);
                end->endOfStream = true;
                s->QueueTimedUnit(end);
            };
            const int pauses[4][3] = {{0, 0, 0}, {7, 0, 3}, {0, 5, 0}, {2, 11, 13}};
            std::thread video(feed, 0, 250, 400000, 6000, pauses[run][0]);
            std::thread mpa(feed, 1, 417, 240000, 576, pauses[run][1]);
            std::thread ac3(feed, 2, 313, 320000, 768, pauses[run][2]);
            video.join();
            mpa.join();
            ac3.join();
            for (int wait = 0; wait < 20000 && !rig.engine->Finished(); ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ASSERT_TRUE(rig.engine->Finished());
            rig.engine->Stop();
            const muxertest::SystemsReport r = kind == OutputKind::TransportStream
                                                   ? muxertest::CheckTransportStream(rig.sink.bytes)
                                                   : muxertest::CheckProgramStream(rig.sink.bytes, false);
            EXPECT_EQ(r.error, "") << "run " << run;
            EXPECT_EQ(r.pesPackets.size(), 3u);
            outputs.push_back(rig.sink.bytes);
        }
        for (size_t run = 1; run < outputs.size(); ++run)
            EXPECT_TRUE(outputs[run] == outputs[0]) << "run " << run << " differs from run 0";
    }
}

// One upstream thread feeds both streams (a demultiplexer, a source with two pins), in
// chunks of two seconds of video then two of audio, more video at once than the video
// pool holds. Blocked on that pool, the thread cannot bring the audio the scheduler would
// otherwise wait for: the video goes on while it is blocked, and the output is complete and
// valid. How far the video runs ahead follows when the thread blocks, so the bytes of two
// runs may differ; each run is judged whole, and a loaded machine gets a second try at the
// races.
TEST(Scheduler, PinsOnOneUpstreamThreadNeverStall) {
    for (OutputKind kind : {OutputKind::ProgramStream, OutputKind::TransportStream}) {
        SCOPED_TRACE(kind == OutputKind::TransportStream ? "ts" : "ps");
        for (int run = 0; run < 2; ++run) {
            Rig rig(kind, Compatibility::None, {StreamType::Mpeg2Video, StreamType::Mpeg1Audio});
            MuxStream& video = *rig.streams[0];
            MuxStream& audio = *rig.streams[1];
            video.poolBufferSize = 8000;
            video.poolByteLimit = 24 * 8000;  // a second of pictures
            audio.poolBufferSize = 576;
            ASSERT_TRUE(rig.engine->Start());
            rig.engine->StartWorker();
            // Each unit in a buffer of its stream's pool, as an upstream thread's copy.
            auto deliver = [](MuxStream& s, int32_t size, int64_t pts, std::optional<int64_t> dts, int64_t step) {
                MediaBuffer* b = s.Pool().GetBuffer();
                if (!b) return false;  // the pool stopped
                std::memset(b->Data(), 0x5A, static_cast<size_t>(size));
                b->length = size;
                b->SetPts(pts);
                b->SetDts(dts);
                b->durationValid = true;
                b->duration = step;
                s.QueueTimedUnit(b);
                return true;
            };
            std::thread upstream([&] {
                const int64_t frame = 400000, audioFrame = 240000;
                int pictures = 0, frames = 0;
                // Half a second of audio leads, then the chunks; 10 s in all.
                auto audioUpTo = [&](int64_t end) {
                    for (; frames * audioFrame < end && frames * audioFrame < 100000000; ++frames)
                        if (!deliver(audio, 576, frames * audioFrame, std::nullopt, audioFrame)) return false;
                    return true;
                };
                bool open = audioUpTo(5000000);
                for (int chunk = 0; open && chunk < 5; ++chunk) {
                    for (; open && pictures < 50 * (chunk + 1); ++pictures) {
                        const int64_t t = pictures * frame;
                        open = deliver(video, pictures % 12 == 0 ? 7000 : 3000, t + frame, t, frame);
                    }
                    open = open && audioUpTo((chunk + 1) * 20000000 + 5000000);
                }
                video.EndOfStream();
                audio.EndOfStream();
            });
            for (int wait = 0; wait < 20000 && !rig.engine->Finished(); ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const bool finished = rig.engine->Finished();
            // A stall leaves the thread blocked: stopping the pools lets it go.
            video.Pool().Stop();
            audio.Pool().Stop();
            upstream.join();
            ASSERT_TRUE(finished) << "the scheduler waits for audio the blocked thread cannot bring";
            rig.engine->Stop();
            muxertest::SystemsReport r = kind == OutputKind::TransportStream
                                             ? muxertest::CheckTransportStream(rig.sink.bytes)
                                             : muxertest::CheckProgramStream(rig.sink.bytes, false);
            EXPECT_EQ(r.error, "") << "run " << run;
            const int videoKey = kind == OutputKind::TransportStream ? video.pid : video.pesId;
            const int audioKey = kind == OutputKind::TransportStream ? audio.pid : audio.pesId;
            EXPECT_EQ(r.stamped[videoKey], 250);
            EXPECT_EQ(r.stamped[audioKey], 417);
        }
    }
}

TEST(Scheduler, RatesStayFiniteForExtremePackets) {
    Rig rig(OutputKind::TransportStream, Compatibility::None, {StreamType::Mpeg2Video});
    ASSERT_TRUE(rig.engine->Start());
    // 60,000 bytes in 100 ns: a packet rate far beyond 32 bits.
    rig.engine->WriteUnit(*rig.streams[0], *Unit(60000, 10000000, std::nullopt, 1));
    EXPECT_GT(rig.streams[0]->bitrate, 4000000);
    EXPECT_GT(rig.engine->FirstProgram()->bitrate, 0);
    const int64_t t = rig.engine->MuxerTime();
    rig.engine->WriteUnit(*rig.streams[0], *Unit(1000, 10400000, std::nullopt, 400000));
    EXPECT_GE(rig.engine->MuxerTime(), t);
    rig.engine->Stop();
    EXPECT_EQ(muxertest::CheckTransportStream(rig.sink.bytes).error, "");
}

// ---- Streams added while running -------------------------------------------------------

// The program maps of a transport stream: version_number and stream count of each
// distinct map, in the order they first appear.
std::vector<std::pair<int, int>> ProgramMaps(const std::vector<uint8_t>& b, int pmtPid) {
    std::vector<std::pair<int, int>> maps;
    for (size_t at = 0; at + kTsPacketSize <= b.size(); at += kTsPacketSize) {
        const uint8_t* p = &b[at];
        if (((p[1] & 0x1F) << 8 | p[2]) != pmtPid || !(p[1] & 0x40)) continue;
        size_t k = 4;
        if (p[3] & 0x20) k += 1 + p[4];
        k += 1 + p[k];  // pointer_field
        if (k + 12 > kTsPacketSize || p[k] != 0x02) continue;
        const int length = ((p[k + 1] & 0x0F) << 8) | p[k + 2];
        const int infoLength = ((p[k + 10] & 0x0F) << 8) | p[k + 11];
        const std::pair<int, int> map((p[k + 5] >> 1) & 0x1F, (length - 13 - infoLength) / 5);
        if (maps.empty() || maps.back() != map) maps.push_back(map);
    }
    return maps;
}

// A stream found after the output began (as a multiplexed input finds its streams) joins
// the running engine: its units are written, the tables name it under a new version, and
// the output stays valid; the end waits for it too.
TEST(RunningEngine, AStreamAddedWhileRunningJoinsTheOutput) {
    for (OutputKind kind : {OutputKind::TransportStream, OutputKind::ProgramStream}) {
        SCOPED_TRACE(kind == OutputKind::TransportStream ? "ts" : "ps");
        Capture sink;
        MuxSettings settings;
        settings.output = kind;
        MuxEngine engine(settings, sink);
        ASSERT_TRUE(engine.Start());
        engine.StartWorker();
        auto rate = [](int64_t bitrate) { return [bitrate](MuxStream& s) { s.bitrate = bitrate; }; };
        MuxStream* video = engine.AddRunningStream(StreamType::Mpeg2Video, {}, rate(4000000));
        ASSERT_NE(video, nullptr);
        for (int i = 0; i < 25; ++i)
            video->QueueTimedUnit(Unit(8000, 400000 * (i + 1), 400000 * i, 400000).release());
        // The video is under way before the audio is found.
        for (int wait = 0; wait < 10000 && engine.Statistics().bytes == 0; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GT(engine.Statistics().bytes, 0u);
        MuxStream* audio = engine.AddRunningStream(StreamType::Mpeg1Audio, {}, rate(192000));
        ASSERT_NE(audio, nullptr);
        for (int i = 0; i < 50; ++i) {
            audio->QueueTimedUnit(Unit(576, 10000000 + 240000 * i, std::nullopt, 240000).release());
            if (i < 25)
                video->QueueTimedUnit(Unit(8000, 10000000 + 400000 * (i + 1), 10000000 + 400000 * i, 400000).release());
        }
        for (MuxStream* s : {video, audio}) {
            MediaBuffer* end = MediaBuffer::CreateOwned(0);
            end->endOfStream = true;
            s->QueueTimedUnit(end);
        }
        for (int wait = 0; wait < 10000 && !engine.Finished(); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(engine.Finished());
        engine.Stop();
        EXPECT_EQ(sink.ends, 1);
        muxertest::SystemsReport r = kind == OutputKind::TransportStream
                                         ? muxertest::CheckTransportStream(sink.bytes)
                                         : muxertest::CheckProgramStream(sink.bytes, false);
        EXPECT_EQ(r.error, "");
        const int videoKey = kind == OutputKind::TransportStream ? video->pid : video->pesId;
        const int audioKey = kind == OutputKind::TransportStream ? audio->pid : audio->pesId;
        EXPECT_GE(r.stamped[videoKey], 50);
        EXPECT_GE(r.stamped[audioKey], 50);
        if (kind == OutputKind::TransportStream) {
            // One stream under version 0, then both under version 1; never a bump without
            // a change.
            const auto maps = ProgramMaps(sink.bytes, engine.FirstProgram()->pmtPid);
            ASSERT_EQ(maps.size(), 2u);
            EXPECT_EQ(maps[0], std::make_pair(0, 1));
            EXPECT_EQ(maps[1], std::make_pair(1, 2));
        }
    }
}

// The carrier of a multiplexed input writes nothing and stays out of the tables, but the
// output ends only after it ended too: a stream found later still has its place.
TEST(RunningEngine, TheCarrierOfAMultiplexedInputHoldsTheEndUntilItEnds) {
    for (OutputKind kind : {OutputKind::TransportStream, OutputKind::ProgramStream}) {
        SCOPED_TRACE(kind == OutputKind::TransportStream ? "ts" : "ps");
        Capture sink;
        MuxSettings settings;
        settings.output = kind;
        MuxEngine engine(settings, sink);
        MuxStream* carrier = engine.AddStream(StreamType::Mpeg2Program, {});
        carrier->live = true;
        carrier->bitrate = 0;
        ASSERT_TRUE(engine.Start());
        MuxStream* video =
            engine.AddRunningStream(StreamType::Mpeg2Video, {}, [](MuxStream& s) { s.bitrate = 4000000; });
        ASSERT_NE(video, nullptr);
        for (int i = 0; i < 25; ++i)
            video->QueueTimedUnit(Unit(8000, 400000 * (i + 1), 400000 * i, 400000).release());
        MediaBuffer* end = MediaBuffer::CreateOwned(0);
        end->endOfStream = true;
        video->QueueTimedUnit(end);
        engine.RunUntilIdle();
        EXPECT_GT(sink.bytes.size(), 25u * 8000);
        EXPECT_FALSE(engine.Finished());
        EXPECT_EQ(sink.ends, 0);
        carrier->EndOfStream();
        engine.RunUntilIdle();
        EXPECT_TRUE(engine.Finished());
        EXPECT_EQ(sink.ends, 1);
        const muxertest::SystemsReport r = kind == OutputKind::TransportStream
                                               ? muxertest::CheckTransportStream(sink.bytes)
                                               : muxertest::CheckProgramStream(sink.bytes, false);
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.pesPackets.size(), 1u);
        if (kind == OutputKind::TransportStream) {
            const auto maps = ProgramMaps(sink.bytes, engine.FirstProgram()->pmtPid);
            ASSERT_FALSE(maps.empty());
            EXPECT_EQ(maps.back().second, 1);
        }
    }
}

}  // namespace
