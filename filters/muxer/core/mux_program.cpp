#include "filters/muxer/core/mux_program.h"

#include <algorithm>

#include "common/bitstream/program_stream_headers.h"
#include "filters/muxer/core/mux_syntax.h"

namespace muxer {

namespace {

constexpr int32_t kFirstPid = 0x10;   // 0x0000-0x000F are reserved (Table 2-3)
constexpr int32_t kLastPid = 0x1FFE;  // 0x1FFF is the null packets' PID
constexpr int32_t kDefaultPid = 1000;
constexpr int32_t kAc3PesId = 0xBD;  // private_stream_1

bool IsVideoPesId(int32_t id) {
    return id >= 0xE0 && id <= 0xEF;
}
bool IsAudioPesId(int32_t id) {
    return id >= 0xC0 && id <= 0xDF;
}

// Section header fields shared by the PAT and the PMT (2.4.4.3, 2.4.4.8): the caller
// writes table_id, then this writes the syntax indicator and a length patched later.
size_t BeginSection(SyntaxWriter& w, uint8_t tableId) {
    w.Byte(tableId);
    w.Bits(1, 1);  // section_syntax_indicator
    w.Bits(1, 0);  // '0'
    w.Ones(2);     // reserved
    const size_t lengthAt = w.Position();
    w.Bits(12, 0);  // section_length, patched by EndSection
    return lengthAt;
}

void EndSection(SyntaxWriter& w, size_t lengthAt) {
    // section_length counts the bytes after it, CRC_32 included.
    const size_t length = w.Position() - (lengthAt + 2) + 4;
    w.Patch16(lengthAt, static_cast<uint16_t>(length), 4);
    const uint32_t crc = Crc32Mpeg(w.Data(), w.Position());
    w.Bits(32, crc);
    w.Commit();
}

// A section is at most 1021 bytes after section_length (2.4.4.3: section_length <= 1021).
constexpr size_t kMaxSectionBody = 1021;

}  // namespace

uint8_t PmtStreamType(StreamType type) {
    switch (type) {
        case StreamType::Mpeg1Video:
            return 0x01;
        case StreamType::Mpeg2Video:
            return 0x02;
        case StreamType::Mpeg1Audio:
            return 0x03;
        case StreamType::Mpeg2Audio:
            return 0x04;
        case StreamType::Aac:
            return 0x0F;  // ISO/IEC 13818-7 audio with ADTS transport syntax
        case StreamType::Mpeg4Video:
        case StreamType::Mpeg4Audio:
        case StreamType::Mpeg4System:
            return 0x10;
        case StreamType::H264Video:
            return 0x1B;
        case StreamType::Ac3:
            return 0x81;
        case StreamType::Mpeg2Program:
            return 0;
    }
    return 0;
}

PesIdRange PesIdRangeOf(StreamType type) {
    switch (type) {
        case StreamType::Mpeg1Video:
        case StreamType::Mpeg2Video:
        case StreamType::H264Video:
        case StreamType::Mpeg4Video:
        case StreamType::Mpeg4Audio:
        case StreamType::Mpeg4System:
            return {0xE0, 0xEF};
        case StreamType::Mpeg1Audio:
        case StreamType::Mpeg2Audio:
        case StreamType::Aac:
            return {0xC0, 0xDF};
        case StreamType::Ac3:
            return {kAc3PesId, kAc3PesId};
        case StreamType::Mpeg2Program:
            return {};
    }
    return {};
}

std::vector<MuxStreamNode*> MuxProgram::LiveStreams() const {
    std::vector<MuxStreamNode*> live;
    for (MuxStreamNode* s : streams)
        if ((s->live || s->autoCreated) && s->type != StreamType::Mpeg2Program) live.push_back(s);
    return live;
}

MuxProgram* MuxProgramTree::CreateProgram() {
    programs_.insert(programs_.begin(), std::make_unique<MuxProgram>());
    MuxProgram* p = programs_.front().get();
    MakeUniqueProgramNumber(p);
    MakeUniquePid(&p->pmtPid);
    return p;
}

MuxStreamNode* MuxProgramTree::AddStream(std::unique_ptr<MuxStreamNode> stream, MuxProgram* program) {
    MuxStreamNode* s = stream.get();
    s->program = program;
    streams_.push_back(std::move(stream));
    program->streams.push_back(s);
    MakeUniquePid(&s->pid);
    AssignPesStreamId(s);
    return s;
}

bool MuxProgramTree::PidTaken(int32_t pid, const int32_t* except) const {
    for (const auto& p : programs_)
        if (&p->pmtPid != except && p->pmtPid == pid) return true;
    for (const auto& s : streams_)
        if (&s->pid != except && s->pid == pid) return true;
    return false;
}

bool MuxProgramTree::MakeUniquePid(int32_t* field) {
    int32_t candidate = *field;
    if (candidate < kFirstPid || candidate > kLastPid) candidate = kDefaultPid;
    bool restarted = false;
    for (int32_t tries = 0; tries <= kLastPid - kFirstPid + 1; ++tries) {
        if (!PidTaken(candidate, field)) {
            *field = candidate;
            return true;
        }
        if (!restarted) {
            restarted = true;
            candidate = kDefaultPid;
        } else {
            candidate = candidate >= kLastPid ? kFirstPid : candidate + 1;
        }
    }
    return false;
}

void MuxProgramTree::MakeUniqueProgramNumber(MuxProgram* program) {
    int32_t candidate = program->programNumber > 0 && program->programNumber <= 0xFFFF ? program->programNumber : 1;
    bool restarted = false;
    for (int32_t tries = 0; tries <= 0x10000; ++tries) {
        const bool taken = std::any_of(programs_.begin(), programs_.end(), [&](const auto& p) {
            return p.get() != program && p->programNumber == candidate;
        });
        if (!taken) break;
        if (!restarted) {
            restarted = true;
            candidate = 1;
        } else {
            candidate = candidate >= 0xFFFF ? 1 : candidate + 1;
        }
    }
    program->programNumber = candidate;
}

void MuxProgramTree::AssignPesStreamId(MuxStreamNode* stream) {
    MuxProgram* program = stream->program;
    if (!program) return;
    if (stream->type == StreamType::Ac3) {
        stream->pesId = kAc3PesId;
        for (uint8_t k = 0x80; k < 0x88; ++k) {
            const bool taken = std::any_of(program->streams.begin(), program->streams.end(), [&](MuxStreamNode* o) {
                return o != stream && o->type == StreamType::Ac3 && o->ac3Substream == k;
            });
            if (!taken) {
                stream->ac3Substream = k;
                return;
            }
        }
        return;
    }
    const PesIdRange range = PesIdRangeOf(stream->type);
    if (range.first == 0) return;
    int32_t candidate = stream->pesId >= range.first && stream->pesId <= range.last ? stream->pesId : range.first;
    bool restarted = false;
    for (int32_t tries = 0; tries <= range.last - range.first + 1; ++tries) {
        const bool taken = std::any_of(program->streams.begin(), program->streams.end(),
                                       [&](MuxStreamNode* o) { return o != stream && o->pesId == candidate; });
        if (!taken) break;
        if (!restarted) {
            restarted = true;
            candidate = range.first;
        } else {
            candidate = candidate >= range.last ? range.first : candidate + 1;
        }
    }
    stream->pesId = candidate;
}

bool MuxProgramTree::AssignIds(MuxProgram* program) {
    if (!MakeUniquePid(&program->pmtPid)) return false;
    for (MuxStreamNode* s : program->streams) {
        AssignPesStreamId(s);
        if (!MakeUniquePid(&s->pid)) return false;
    }
    return true;
}

TableResult BuildPatSection(const MuxProgramTree& tree, uint16_t transportStreamId, uint8_t version,
                            std::vector<uint8_t>* section) {
    const size_t programs = tree.Programs().size();
    if (5 + 4 * programs + 4 > kMaxSectionBody) return TableResult::TooManyPrograms;
    section->clear();
    SyntaxWriter w(*section);
    const size_t lengthAt = BeginSection(w, 0x00);  // table_id: program_association_section
    w.Bits(16, transportStreamId);
    w.Ones(2);  // reserved
    w.Bits(5, version);
    w.Bits(1, 1);  // current_next_indicator
    w.Byte(0);     // section_number
    w.Byte(0);     // last_section_number
    for (const auto& p : tree.Programs()) {
        w.Bits(16, static_cast<uint32_t>(p->programNumber));
        w.Ones(3);  // reserved
        w.Bits(13, static_cast<uint32_t>(p->pmtPid));
    }
    EndSection(w, lengthAt);
    return TableResult::Ok;
}

TableResult BuildPmtSection(const MuxProgram& program, uint8_t version, std::vector<uint8_t>* section) {
    const std::vector<MuxStreamNode*> live = program.LiveStreams();
    if (9 + 5 * live.size() + 4 > kMaxSectionBody) return TableResult::TooManyStreams;
    int32_t pcrPid = 0x1FFF;
    for (const MuxStreamNode* s : live)
        if (s->putPcr) pcrPid = s->pid;
    section->clear();
    SyntaxWriter w(*section);
    const size_t lengthAt = BeginSection(w, 0x02);  // table_id: TS_program_map_section
    w.Bits(16, static_cast<uint32_t>(program.programNumber));
    w.Ones(2);
    w.Bits(5, version);
    w.Bits(1, 1);  // current_next_indicator
    w.Byte(0);     // section_number
    w.Byte(0);     // last_section_number
    w.Ones(3);
    w.Bits(13, static_cast<uint32_t>(pcrPid));
    w.Ones(4);
    w.Bits(12, 0);  // program_info_length
    for (const MuxStreamNode* s : live) {
        w.Byte(PmtStreamType(s->type));
        w.Ones(3);
        w.Bits(13, static_cast<uint32_t>(s->pid));
        w.Ones(4);
        w.Bits(12, 0);  // ES_info_length
    }
    EndSection(w, lengthAt);
    return TableResult::Ok;
}

void BuildProgramStreamMap(const MuxProgram& program, std::vector<uint8_t>* map) {
    map->clear();
    SyntaxWriter w(*map);
    w.Bits(24, 0x000001);
    w.Byte(0xBC);  // map_stream_id
    const size_t lengthAt = w.Position();
    w.Bits(16, 0);  // program_stream_map_length, patched below
    w.Bits(1, 1);   // current_next_indicator
    w.Ones(2);      // reserved
    w.Bits(5, 0);   // program_stream_map_version
    w.Ones(7);      // reserved
    w.Ones(1);      // marker_bit
    w.Bits(16, 0);  // program_stream_info_length
    const size_t mapLengthAt = w.Position();
    w.Bits(16, 0);  // elementary_stream_map_length, patched below
    for (const MuxStreamNode* s : program.LiveStreams()) {
        w.Byte(PmtStreamType(s->type));
        w.Byte(static_cast<uint8_t>(s->pesId));
        w.Bits(16, 0);  // elementary_stream_info_length
    }
    w.Patch16(mapLengthAt, static_cast<uint16_t>(w.Position() - mapLengthAt - 2));
    w.Patch16(lengthAt, static_cast<uint16_t>(w.Position() - 6 + 4));
    w.Bits(32, Crc32Mpeg(w.Data(), w.Position()));
    w.Commit();
}

bool ProgramStreamCarries(StreamType type, Compatibility compatibility) {
    if (type == StreamType::H264Video || type == StreamType::Mpeg4Video || type == StreamType::Mpeg4Audio ||
        type == StreamType::Mpeg4System)
        return false;
    return !(type == StreamType::Aac && compatibility == Compatibility::Dvd);
}

int64_t SendRate(const MuxProgram& program, Compatibility compatibility) {
    const int64_t average = std::max<int64_t>(program.bitrate, 1);
    if (compatibility == Compatibility::Dvd) return std::min<int64_t>(average, int64_t{25200} * 400);
    // Half again the average: a large picture (an I picture is several times the mean)
    // then leaves the clock enough lead over the decoding times that follow it, and the
    // clock's jumps forward take up what the faster delivery gains in between.
    return std::min<int64_t>(average + average / 2, int64_t{(1 << 22) - 1} * 400);
}

uint32_t MuxRate(const MuxProgram& program, Compatibility compatibility) {
    if (compatibility == Compatibility::Dvd) return 25200;
    // Rounded up: bytes delivered at the sending rate arrive no later than the clock says.
    const int64_t rate = (SendRate(program, compatibility) + 399) / 400;
    return static_cast<uint32_t>(std::clamp<int64_t>(rate, 1, (1 << 22) - 1));
}

void BuildSystemHeader(MuxProgram& program, Compatibility compatibility, std::vector<uint8_t>* header) {
    const std::vector<MuxStreamNode*> live = program.LiveStreams();
    int audioBound = 0, videoBound = 0;
    for (const MuxStreamNode* s : live) {
        if (IsAudioPesId(s->pesId) || s->type == StreamType::Ac3) ++audioBound;
        if (IsVideoPesId(s->pesId)) ++videoBound;
    }
    std::vector<common::StdBufferBound> bounds;
    if (compatibility == Compatibility::Dvd) {
        // DVD-Video's four entries: all video (0xB9), all audio (0xB8), private stream 1
        // and the navigation packets of private stream 2, with the DVD decoder's buffers.
        bounds = {{0xB9, 1, 232}, {0xB8, 0, 32}, {0xBD, 1, 58}, {0xBF, 1, 2}};
    }
    for (MuxStreamNode* s : live) {
        const bool video = IsVideoPesId(s->pesId);
        const bool audio = IsAudioPesId(s->pesId) || s->type == StreamType::Ac3;
        if (!video && !audio) continue;
        if (compatibility == Compatibility::Dvd) {
            s->decoderBufferSize = video ? 163000 : 4096;
            continue;
        }
        // P-STD_buffer_size_bound: the full 13-bit field, in 1024-byte units for video,
        // 128-byte units for audio: one second of the stream's rate, and never less than
        // the decoder buffer the scheduler fills ahead of decoding.
        const int64_t decoderBuffer = video ? 163000 : 4096;
        const int64_t bytes = std::max<int64_t>(s->bitrate / 8, decoderBuffer);
        const int64_t units = video ? (bytes + 1023) / 1024 : (bytes + 127) / 128;
        bounds.push_back({static_cast<uint8_t>(s->pesId), static_cast<uint8_t>(video ? 1 : 0),
                          static_cast<uint16_t>(std::clamp<int64_t>(units, 1, 0x1FFF))});
        s->decoderBufferSize = static_cast<int32_t>(decoderBuffer);
    }
    common::SystemHeaderFields f;
    // rate_bound: the program's rate adapts while streaming, so outside DVD compatibility
    // the bound is the field's largest value rather than today's rate.
    f.rateBound =
        compatibility == Compatibility::Dvd ? static_cast<uint32_t>(MuxRate(program, compatibility)) : (1u << 22) - 1;
    f.audioBound = static_cast<uint32_t>(audioBound);
    f.videoBound = static_cast<uint32_t>(videoBound);
    f.streams = bounds;
    header->clear();
    common::VectorFieldWriter w(*header);
    common::WriteSystemHeader(w, f);
}

}  // namespace muxer
