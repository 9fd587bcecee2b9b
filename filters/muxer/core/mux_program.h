// The multiplexer's program tree: programs and their streams, the rules that keep program
// numbers, PIDs and PES stream ids unique, and the building of each program's tables (the
// program map section of a transport stream, the system header of a program stream).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "filters/muxer/core/elementary_parser.h"

namespace muxer {

enum class OutputKind : int32_t { ProgramStream = 1, TransportStream = 2 };
enum class Compatibility : int32_t { None = 0, Dvd = 1, Svcd = 2 };

// ISO/IEC 13818-1 Table 2-29 stream_type of a stream type (0 for none).
uint8_t PmtStreamType(StreamType type);
// The PES stream_id range a type draws from: {first, last}; {0, 0} for none.
struct PesIdRange {
    int32_t first = 0;
    int32_t last = 0;
};
PesIdRange PesIdRangeOf(StreamType type);

class MuxProgram;

// What the tables need of a stream; the scheduler's stream derives from it.
class MuxStreamNode {
public:
    virtual ~MuxStreamNode() = default;

    StreamType type = StreamType::Mpeg2Video;
    int32_t pid = 0;    // "Stream ID": the transport-stream PID
    int32_t pesId = 0;  // "Stream PES ID"
    uint8_t ac3Substream = 0x80;
    bool putPcr = false;        // "Put PCR"
    int32_t pesPacketSize = 0;  // "PES packet size in Bytes"; 0: one packet per unit
    int64_t bitrate = 0;        // "Bitrate", bits per second
    bool live = true;           // pin connected or created inside a multiplexed input
    bool autoCreated = false;
    int32_t decoderBufferSize = 0;  // bytes; set when the tables are built
    MuxProgram* program = nullptr;
};

class MuxProgram {
public:
    int32_t programNumber = 0;            // "Program #"
    int32_t pmtPid = 0;                   // "Program ID"
    int64_t bitrate = 0;                  // "Bitrate", bits per second
    std::vector<MuxStreamNode*> streams;  // in the order they joined
    MuxStreamNode* pcrStream = nullptr;   // the stream whose packets carry the PCR

    std::vector<MuxStreamNode*> LiveStreams() const;
};

// Refusals of table building.
enum class TableResult { Ok, TooManyPrograms, TooManyStreams, NoFreeId };

// Owns the programs (newest first, as they are listed) and the streams (creation order).
class MuxProgramTree {
public:
    MuxProgram* CreateProgram();
    // Adds a stream to a program (the tree takes it), then makes its ids unique.
    MuxStreamNode* AddStream(std::unique_ptr<MuxStreamNode> stream, MuxProgram* program);

    // The PID rules (for a program's "Program ID" and a stream's "Stream ID"): a value
    // outside 0x10..0x1FFE counts as unset; unset starts at 1000; a conflict with any
    // other program's or stream's PID restarts the search at 1000 the first time and steps
    // by 1 after, wrapping past 0x1FFE to 0x10, never onto the null PID or the reserved
    // range. False (field unchanged) when every PID is taken.
    bool MakeUniquePid(int32_t* field);
    // "Program #": 1 when unset, then the first number no other program uses.
    void MakeUniqueProgramNumber(MuxProgram* program);
    // A PES stream id from the type's range that no other stream of the program uses; AC-3
    // streams share 0xBD and get distinct substream numbers 0x80.. instead.
    void AssignPesStreamId(MuxStreamNode* stream);
    // Before the tables are built: the program's PMT PID, its streams' PES ids and PIDs.
    bool AssignIds(MuxProgram* program);

    const std::vector<std::unique_ptr<MuxProgram>>& Programs() const { return programs_; }
    const std::vector<std::unique_ptr<MuxStreamNode>>& Streams() const { return streams_; }

private:
    bool PidTaken(int32_t pid, const int32_t* except) const;

    std::vector<std::unique_ptr<MuxProgram>> programs_;
    std::vector<std::unique_ptr<MuxStreamNode>> streams_;
};

// program_association_section (2.4.4.3) for the programs in list order; refuses more
// programs than one section holds.
TableResult BuildPatSection(const MuxProgramTree& tree, uint16_t transportStreamId, uint8_t version,
                            std::vector<uint8_t>* section);
// TS_program_map_section (2.4.4.8) of one program's live streams. PCR_PID is the last live
// stream that carries the PCR. Refuses more streams than one section holds.
TableResult BuildPmtSection(const MuxProgram& program, uint8_t version, std::vector<uint8_t>* section);
// system_header (2.5.3.5) of a program stream; gives each live stream its decoder buffer
// size (163,000 bytes video, 4,096 audio) for the scheduler.
void BuildSystemHeader(MuxProgram& program, Compatibility compatibility, std::vector<uint8_t>* header);
// program_stream_map (2.5.4) of the program's live streams, so that a reader knows the
// coding of streams whose PES id alone does not tell it (H.264, AAC in 0xE0/0xC0 ids).
void BuildProgramStreamMap(const MuxProgram& program, std::vector<uint8_t>* map);
// The program_mux_rate / rate_bound in 50-byte units: 25200 for DVD, else the sending
// rate / 400, at least 1.
uint32_t MuxRate(const MuxProgram& program, Compatibility compatibility);
// Whether a program stream carries a stream of `type`: none of H.264 or MPEG-4 (their
// readers know program streams' video by stream id alone), and in the DVD kind, which has
// no stream map, no AAC (it would pass for MPEG audio).
bool ProgramStreamCarries(StreamType type, Compatibility compatibility);
// Bits per second at which the system clock moves with the bytes sent.
int64_t SendRate(const MuxProgram& program, Compatibility compatibility);

}  // namespace muxer
