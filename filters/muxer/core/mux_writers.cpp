// The program-stream writer (ISO/IEC 13818-1 2.5.3: a pack header before every PES
// packet, the system header in the first pack) and the transport-stream writer (2.4.3:
// PES packets cut into 188-byte packets, PAT and PMT repeated, the PCR in the adaptation
// field of the stream that carries it).
#include <algorithm>
#include <cstring>

#include "filters/muxer/core/mux_engine.h"
#include "common/bitstream/program_stream_headers.h"
#include "filters/muxer/core/mux_syntax.h"

namespace muxer {

namespace {

constexpr int64_t kBitsPer100ns = 80000000;
constexpr int64_t kMaxPesPayload = 65511;  // PES_packet_length 65535 less 24 header bytes

// Offsets of the AC-3 frames that start in a unit, for the DVD substream header.
void Ac3FrameStarts(const uint8_t* data, int64_t size, std::vector<int64_t>* starts) {
    int64_t at = 0;
    const int64_t header = common::AudioHeaderBytes(common::AudioFormat::Ac3);
    while (at + header <= size && data[at] == 0x0B && data[at + 1] == 0x77) {
        common::AudioFrameFacts info;
        if (!common::ReadAudioFrameFacts(common::AudioFormat::Ac3,
                                         {data + at, common::AudioHeaderBytes(common::AudioFormat::Ac3)}, &info) ||
            info.frameBytes <= 0)
            break;
        starts->push_back(at);
        at += info.frameBytes;
    }
}

// The fixed part of a PES header (2.4.3.6) with its time stamps and `stuffing` bytes.
void WritePesHeader(SyntaxWriter& w, uint8_t streamId, int64_t packetLength, const MediaBuffer& unit, bool pts,
                    bool dts, int stuffing) {
    common::PesHeaderFields f;
    f.streamId = streamId;
    f.packetLength = static_cast<uint32_t>(packetLength);
    if (pts) f.pts = static_cast<int64_t>(ClockBase(unit.pts) & common::kTimeStampMask);
    if (pts && dts) f.dts = static_cast<int64_t>(ClockBase(unit.dts) & common::kTimeStampMask);
    f.stuffing = static_cast<uint32_t>(stuffing);
    common::WritePesHeader(w, f);
}

}  // namespace

int64_t MuxEngine::ClockNow(const MuxProgram& program) const {
    const int64_t rate = SendRate(program, settings_.compatibility);
    return muxerTime_ + static_cast<int64_t>(bytesSinceClock_) * kBitsPer100ns / rate;
}

// ---- Program stream --------------------------------------------------------------------

void MuxEngine::WritePackHeader(SyntaxWriter& w, const MuxProgram& program) {
    const int64_t scr = std::max(ClockNow(program), lastClockOut_);
    common::WritePackHeader(w, ClockBase(scr), ClockExtension(scr),
                            static_cast<uint32_t>(MuxRate(program, settings_.compatibility)));
    lastClockOut_ = scr;
}

void MuxEngine::WriteNavigationPack(const MuxProgram& program) {
    // A DVD-Video navigation pack opens each video object unit: the pack header, the
    // system header, then the presentation (PCI, 980 bytes) and data search (DSI, 1018
    // bytes) packets of private stream 2, left empty for the authoring tool to fill.
    scratch_.clear();
    {
        SyntaxWriter w(scratch_);
        WritePackHeader(w, program);
    }
    scratch_.insert(scratch_.end(), systemHeader_.begin(), systemHeader_.end());
    common::AppendNavigationPackets(&scratch_);
    padding_ += scratch_.size() - 14 - systemHeader_.size();
    Emit(scratch_.data(), scratch_.size(), scratch_.size());
}

void MuxEngine::WriteProgramStreamUnit(MuxStream& stream, MediaBuffer& unit) {
    MuxProgram& program = *stream.program;
    size_t systemHeader = 0;
    const bool dvd = settings_.compatibility == Compatibility::Dvd;
    if (tablesPending_) {
        BuildTables();
        systemHeader = systemHeader_.size();
        if (dvd) {
            // DVD: the system header travels in the navigation packs.
            WriteNavigationPack(program);
            tablesPending_ = false;
            systemHeader = 0;
        }
    } else if (dvd && IsVideoType(stream.type) && unit.length >= 4 && unit.Data()[0] == 0 && unit.Data()[1] == 0 &&
               unit.Data()[2] == 1 && (unit.Data()[3] == 0xB3 || unit.Data()[3] == 0xB8)) {
        // A sequence or group header starts a new video object unit.
        WriteNavigationPack(program);
    }
    const uint8_t* data = unit.Data();
    const int64_t total = unit.length;
    const bool ac3 = stream.type == StreamType::Ac3;
    const int64_t substream = ac3 ? 4 : 0;
    const int64_t fixed = stream.pesPacketSize;
    std::vector<int64_t> frames;
    if (ac3) Ac3FrameStarts(data, total, &frames);
    bool pts = unit.ptsValid;
    bool dts = pts && unit.dtsValid && unit.dts != unit.pts;
    int64_t offset = 0;
    while (offset < total) {
        const int64_t left = total - offset;
        const int64_t stamps = (pts ? 5 : 0) + (dts ? 5 : 0);
        int64_t packetLength, payload, shortfall = 0;
        int stuffing = 0;
        if (fixed != 0) {
            // Every pack is 14 + `fixed` bytes: a short last packet is filled by stuffing
            // bytes in its header (up to 5) or by a padding packet behind it.
            packetLength = fixed - static_cast<int64_t>(systemHeader) - 6;
            payload = packetLength - substream - stamps - 3;
            if (left < payload) {
                shortfall = payload - left;
                payload = left;
            }
            if (shortfall >= 1 && shortfall <= 5)
                stuffing = static_cast<int>(shortfall);
            else
                packetLength -= shortfall;
        } else {
            payload = std::min(left, kMaxPesPayload - substream - stamps);
            packetLength = payload + 3 + stamps + substream;
        }

        scratch_.clear();
        SyntaxWriter w(scratch_);
        WritePackHeader(w, program);
        w.Commit();
        if (systemHeader != 0) {
            scratch_.insert(scratch_.end(), systemHeader_.begin(), systemHeader_.end());
            tablesPending_ = false;
            systemHeader = 0;
        }
        WritePesHeader(w, static_cast<uint8_t>(stream.pesId), packetLength, unit, pts, dts, stuffing);
        if (ac3) {
            // DVD private stream 1 audio: substream number, frames that start in this
            // packet, and the offset of the first one counted from the byte after the
            // pointer (1 = the first payload byte). Every packet carries it, so that the
            // payload is never mistaken for a substream header.
            int64_t count = 0, first = 0;
            for (int64_t at : frames) {
                if (at >= offset && at < offset + payload) {
                    if (count == 0) first = at - offset + 1;
                    ++count;
                }
            }
            w.Byte(stream.ac3Substream);
            w.Byte(static_cast<uint8_t>(std::min<int64_t>(count, 255)));
            w.Bits(16, static_cast<uint64_t>(first));
        }
        w.Commit();
        const size_t headers = scratch_.size();
        Emit(scratch_.data(), headers, headers);
        Emit(data + offset, static_cast<size_t>(payload), 0);
        int64_t packSize = static_cast<int64_t>(headers) + payload;
        padding_ += static_cast<uint64_t>(shortfall);
        if (shortfall >= 6) {
            const uint8_t paddingHeader[6] = {0x00,
                                              0x00,
                                              0x01,
                                              0xBE,
                                              static_cast<uint8_t>((shortfall - 6) >> 8),
                                              static_cast<uint8_t>(shortfall - 6)};
            Emit(paddingHeader, 6, 6);
            Emit(stuffing_.data(), static_cast<size_t>(shortfall - 6), static_cast<size_t>(shortfall - 6));
            packSize += shortfall;
        }
        if (unit.durationValid) AdvanceMuxerTime(stream, packSize, TimeMul(unit.duration, payload) / total);
        offset += payload;
        pts = dts = false;
    }
}

// ---- Transport stream ------------------------------------------------------------------

void MuxEngine::WriteTables(int64_t at) {
    tableScratch_.clear();
    PacketizeSection(patSection_, 0x0000, &patCounter_, &tableScratch_);
    const auto& programs = tree_.Programs();
    for (size_t i = 0; i < programs.size() && i < pmtSections_.size(); ++i)
        PacketizeSection(pmtSections_[i], static_cast<uint16_t>(programs[i]->pmtPid), &pmtCounters_[i], &tableScratch_);
    Emit(tableScratch_.data(), tableScratch_.size(), tableScratch_.size());
    lastTableTime_ = at;
}

void MuxEngine::EmitTsPacket(MuxStream& stream, bool unitStart, const uint8_t* first, size_t firstSize,
                             const uint8_t* second, size_t secondSize, std::optional<int64_t> pcr) {
    TsState& state = ts_[IndexOf(stream)];
    const size_t take = firstSize + secondSize;
    uint8_t packet[kTsPacketSize];
    // The adaptation field holds the PCR and the stuffing for the room the payload leaves.
    const size_t adaptation = kTsPacketSize - 4 - take;
    const bool hasPayload = take > 0;
    const uint16_t pid = static_cast<uint16_t>(stream.pid);
    packet[0] = 0x47;  // sync_byte
    packet[1] = static_cast<uint8_t>(((unitStart && hasPayload) ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
    packet[2] = static_cast<uint8_t>(pid);
    // adaptation_field_control and continuity_counter: a packet without payload repeats
    // the counter of the PID's previous packet.
    const uint8_t counter = hasPayload ? state.counter : static_cast<uint8_t>((state.counter + 15) & 0x0F);
    packet[3] = static_cast<uint8_t>((adaptation ? 0x20 : 0x00) | (hasPayload ? 0x10 : 0x00) | counter);
    if (hasPayload) state.counter = static_cast<uint8_t>((state.counter + 1) & 0x0F);
    size_t at = 4;
    if (adaptation != 0) {
        packet[at++] = static_cast<uint8_t>(adaptation - 1);  // adaptation_field_length
        if (adaptation >= 2) {
            packet[at++] = pcr ? 0x10 : 0x00;  // PCR_flag only
            if (pcr) {
                const uint64_t base = ClockBase(*pcr);
                const uint32_t ext = ClockExtension(*pcr);
                packet[at++] = static_cast<uint8_t>(base >> 25);
                packet[at++] = static_cast<uint8_t>(base >> 17);
                packet[at++] = static_cast<uint8_t>(base >> 9);
                packet[at++] = static_cast<uint8_t>(base >> 1);
                packet[at++] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (ext >> 8));
                packet[at++] = static_cast<uint8_t>(ext);
            }
            std::memset(packet + at, 0xFF, 4 + adaptation - at);  // stuffing_byte
            at = 4 + adaptation;
        }
    }
    if (firstSize) std::memcpy(packet + at, first, firstSize);
    if (secondSize) std::memcpy(packet + at + firstSize, second, secondSize);
    const size_t pcrBytes = pcr ? 8 : 0;
    padding_ += adaptation > pcrBytes ? adaptation - pcrBytes : 0;
    Emit(packet, kTsPacketSize, kTsPacketSize - take + firstSize);
    if (pcr) {
        stream.lastPcr = *pcr;
        lastClockOut_ = std::max(lastClockOut_, *pcr);
    }
}

void MuxEngine::KeepClockFresh(MuxProgram& program, const MuxStream* writer) {
    // Before a packet goes out: the PCR stream's clock reference is never more than
    // kPcrGap old and the tables never more than kTablePeriod, even across a jump of the
    // clock, by PCR-only packets dated inside the gap.
    MuxStream* pcr = static_cast<MuxStream*>(program.pcrStream);
    for (int guard = 0; guard < 1000; ++guard) {
        const int64_t now = std::max(ClockNow(program), lastClockOut_);
        if (pcr && pcr != writer && (pcr->lastPcr < 0 || now - pcr->lastPcr > kPcrGap)) {
            const int64_t t = pcr->lastPcr < 0 ? now : std::min(now, pcr->lastPcr + kPcrPeriod);
            if (t - lastTableTime_ >= kTablePeriod) WriteTables(t);
            EmitTsPacket(*pcr, false, nullptr, 0, nullptr, 0, t);
            continue;
        }
        if (pcr && pcr == writer && pcr->lastPcr >= 0 && now - pcr->lastPcr > kPcrGap) {
            const int64_t t = pcr->lastPcr + kPcrPeriod;
            if (t - lastTableTime_ >= kTablePeriod) WriteTables(t);
            EmitTsPacket(*pcr, false, nullptr, 0, nullptr, 0, t);
            continue;
        }
        if (now - lastTableTime_ >= kTablePeriod) WriteTables(now);
        break;
    }
}

void MuxEngine::WriteTsPackets(MuxStream& stream, const std::vector<uint8_t>& header, const uint8_t* payload,
                               size_t size) {
    MuxProgram& program = *stream.program;
    size_t headerDone = 0, payloadDone = 0;
    bool first = true;
    while (headerDone < header.size() || payloadDone < size) {
        KeepClockFresh(program, &stream);
        const int64_t now = std::max(ClockNow(program), lastClockOut_);
        std::optional<int64_t> pcr;
        if (stream.putPcr && (stream.lastPcr < 0 || now - stream.lastPcr >= kPcrPeriod)) pcr = now;
        size_t room = kTsPacketSize - 4 - (pcr ? 8 : 0);
        const size_t fromHeader = std::min(room, header.size() - headerDone);
        room -= fromHeader;
        const size_t fromPayload = std::min(room, size - payloadDone);
        EmitTsPacket(stream, first, header.data() + headerDone, fromHeader, payload + payloadDone, fromPayload, pcr);
        headerDone += fromHeader;
        payloadDone += fromPayload;
        first = false;
    }
}

void MuxEngine::WritePcrOnly(MuxStream& stream) {
    if (tablesPending_) {
        if (!BuildTables()) return;
        WriteTables(muxerTime_);
        tablesPending_ = false;
    }
    KeepClockFresh(*stream.program, &stream);
    const int64_t now = std::max(ClockNow(*stream.program), lastClockOut_);
    if (stream.lastPcr < 0 || now - stream.lastPcr >= kPcrPeriod)
        EmitTsPacket(stream, false, nullptr, 0, nullptr, 0, now);
}

void MuxEngine::WriteTransportStreamUnit(MuxStream& stream, MediaBuffer& unit) {
    if (tablesPending_) {
        if (!BuildTables()) return;
        WriteTables(std::max(ClockNow(*stream.program), lastClockOut_));
        tablesPending_ = false;
    }
    const uint8_t* data = unit.Data();
    const int64_t total = unit.length;
    const int64_t fixed = stream.pesPacketSize;
    bool pts = unit.ptsValid;
    bool dts = pts && unit.dtsValid && unit.dts != unit.pts;
    int64_t offset = 0;
    while (offset < total) {
        const int64_t left = total - offset;
        const int64_t stamps = (pts ? 5 : 0) + (dts ? 5 : 0);
        int64_t packetLength, payload;
        if (fixed != 0) {
            // A short last packet is shortened; its transport packet is filled with
            // adaptation-field stuffing, never a padding packet.
            payload = std::min(left, fixed - 6 - stamps - 3);
            packetLength = payload + 3 + stamps;
        } else {
            payload = std::min(left, kMaxPesPayload - stamps);
            packetLength = payload + 3 + stamps;
        }
        scratch_.clear();
        SyntaxWriter w(scratch_);
        WritePesHeader(w, static_cast<uint8_t>(stream.pesId), packetLength, unit, pts, dts, 0);
        w.Commit();
        const uint64_t before = bytes_;
        WriteTsPackets(stream, scratch_, data + offset, static_cast<size_t>(payload));
        if (unit.durationValid)
            AdvanceMuxerTime(stream, static_cast<int64_t>(bytes_ - before), TimeMul(unit.duration, payload) / total);
        offset += payload;
        pts = dts = false;
    }
}

}  // namespace muxer
