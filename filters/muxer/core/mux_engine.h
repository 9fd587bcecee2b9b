// The multiplexer's engine: the worker's scheduling of units across streams by decoding
// time, the system clock ("Muxer time") that advances with the bytes written at the
// program's rate, and the program-stream and transport-stream writers that turn each unit
// into PES packets, packs or transport packets.
//
// All times are signed 64-bit counts of 100-ns units.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "filters/muxer/core/media_buffer.h"
#include "filters/muxer/core/mux_program.h"
#include "filters/muxer/core/mux_stream.h"
#include "filters/muxer/core/mux_syntax.h"

namespace muxer {

// Where the multiplexed bytes go (the filter's output pin, a file).
class MuxSink {
public:
    virtual ~MuxSink() = default;
    virtual void Write(const uint8_t* bytes, size_t size) = 0;
    // The last, partly filled output sample goes out.
    virtual void DeliverPartial() {}
    virtual void DeliverEndOfStream() {}
};

struct MuxSettings {
    OutputKind output = OutputKind::TransportStream;
    Compatibility compatibility = Compatibility::None;
    uint16_t transportStreamId = 0;
};

struct MuxStatistics {
    uint64_t bytes = 0;
    uint64_t padding = 0;
    uint64_t overhead = 0;
    int64_t paddingPercent = 0;
    int64_t overheadPercent = 0;
};

class MuxEngine {
public:
    // A stream may run this far ahead of the stream that lags most.
    static constexpr int64_t kWindow = 3000000;
    // Program tables are repeated and the PCR sent at least this often, inside the bounds
    // of ISO/IEC 13818-1 (0.1 s between PCRs, 2.7.2) and of the broadcast practice of at
    // most 0.5 s between tables, leaving room for the unit that crosses the period.
    static constexpr int64_t kTablePeriod = 4000000;
    static constexpr int64_t kPcrPeriod = 400000;
    static constexpr int64_t kPcrGap = 800000;

    MuxEngine(MuxSettings settings, MuxSink& sink);
    ~MuxEngine();

    MuxProgramTree& Tree() { return tree_; }
    MuxProgram* FirstProgram() { return tree_.Programs().empty() ? nullptr : tree_.Programs().front().get(); }
    // A stream in `program` (the first when null); the engine owns it.
    MuxStream* AddStream(StreamType type, const StreamMediaType& media, MuxProgram* program = nullptr);
    WorkSignal& Signal() { return signal_; }
    // A stream added while the engine runs (a stream found inside a multiplexed input):
    // made and activated on the caller's thread and set up by `configure` before the
    // worker sees it; the worker takes it into the program tree, the schedule and new
    // tables (their version moves on) before its next pass. The caller may feed it at
    // once. Null when it cannot be activated.
    MuxStream* AddRunningStream(StreamType type, const StreamMediaType& media,
                                const std::function<void(MuxStream&)>& configure = {}, MuxProgram* program = nullptr);

    // Start of streaming (the filter's Pause from stopped): counters, clock and tables
    // reset, every stream activated. False when a stream cannot start or the settings
    // leave no valid output (a fixed PES size too small for its headers).
    bool Start();
    // The worker thread: waits for units and writes them until Stop.
    void StartWorker();
    // Stops and joins the worker; writes the end when it was not written yet.
    void Stop();

    // One pass over every stream; true when something was written or a stream ended.
    bool RunPass();
    // Until a pass writes nothing.
    void RunUntilIdle();
    bool Finished() const { return endWritten_.load(); }

    int64_t MuxerTime() const { return muxerTime_; }
    MuxStatistics Statistics() const;

    // One step of one stream: writes its head unit whatever its time (the choice of the
    // stream is the scheduler's); true when it wrote a unit or ended the stream.
    bool MuxStep(MuxStream& stream);
    void WriteUnit(MuxStream& stream, MediaBuffer& unit);

private:
    void UpdateSchedulerReference();
    // The stream whose head unit goes next, or null when the next must wait for input.
    MuxStream* NextDueStream();
    // Whether the thread that feeds `waiting` (an empty queue) is blocked on a full pool,
    // so that waiting for its next unit would wait for good.
    bool FeederBlocked(const MuxStream& waiting) const;
    void AdvanceMuxerTime(MuxStream& stream, int64_t bytes, int64_t timeShare);
    void SetMuxerTime(int64_t t);
    void FinishStream();
    void WriteEnd();
    void WorkerLoop();
    bool BuildTables();
    // The per-run set-up of a stream: fixed PES size, accumulator; false when invalid.
    bool PrepareStream(MuxStream& stream);
    // Takes the streams added while running into the run (worker thread).
    void AdoptPendingStreams();
    // Every byte goes out through here: counted, and it moves the clock of a PCR.
    void Emit(const uint8_t* bytes, size_t size, size_t overhead);
    void PublishCounters();

    // Program stream.
    void WriteProgramStreamUnit(MuxStream& stream, MediaBuffer& unit);
    void WritePackHeader(SyntaxWriter& w, const MuxProgram& program);
    void WriteNavigationPack(const MuxProgram& program);
    // Transport stream.
    void WriteTransportStreamUnit(MuxStream& stream, MediaBuffer& unit);
    void WritePcrOnly(MuxStream& stream);
    void WriteTables(int64_t at);
    // Cuts `header` followed by `size` payload bytes into transport packets of the stream.
    void WriteTsPackets(MuxStream& stream, const std::vector<uint8_t>& header, const uint8_t* payload, size_t size);
    // One transport packet of the stream: its payload from two spans, an optional PCR.
    void EmitTsPacket(MuxStream& stream, bool unitStart, const uint8_t* first, size_t firstSize, const uint8_t* second,
                      size_t secondSize, std::optional<int64_t> pcr);
    void KeepClockFresh(MuxProgram& program, const MuxStream* writer);
    size_t IndexOf(const MuxStream& stream) const;
    // The system clock at the next byte: "Muxer time" plus the bytes sent since it was set.
    int64_t ClockNow(const MuxProgram& program) const;

    MuxSettings settings_;
    MuxSink& sink_;
    MuxProgramTree tree_;
    std::vector<MuxStream*> streams_;  // creation order; owned by the tree
    WorkSignal signal_;
    std::thread worker_;

    // Worker state.
    int64_t muxerTime_ = 0;
    int64_t lastClockOut_ = 0;      // the latest clock value sent (SCR or PCR)
    uint64_t bytesSinceClock_ = 0;  // bytes sent since "Muxer time" was last set
    int64_t referenceTime_ = 0;
    MuxStream* referenceStream_ = nullptr;
    std::vector<size_t> waiting_;  // streams with an empty queue, scratch of NextDueStream
    int32_t activeStreams_ = 0;
    uint64_t bytes_ = 0, padding_ = 0, overhead_ = 0;
    std::atomic<bool> endWritten_{false};
    bool tablesPending_ = true;
    std::vector<uint8_t> systemHeader_;
    std::vector<uint8_t> scratch_;
    std::vector<uint8_t> tableScratch_;
    std::vector<uint8_t> stuffing_;

    // Transport stream tables and packet state.
    int64_t lastTableTime_ = 0;
    std::vector<uint8_t> patSection_;
    uint8_t patCounter_ = 0;
    std::vector<std::vector<uint8_t>> pmtSections_;
    std::vector<uint8_t> pmtCounters_;
    struct TsState {
        uint8_t counter = 0;
    };
    std::vector<TsState> ts_;  // per stream, by index in streams_

    // Streams added while running, until the worker adopts them.
    std::mutex pendingLock_;
    std::vector<std::pair<std::unique_ptr<MuxStream>, MuxProgram*>> pending_;
    std::atomic<bool> havePending_{false};
    // Streams whose tables could not take them: their units are drained, never written.
    std::vector<MuxStream*> refused_;
    uint8_t tableVersion_ = 0;  // version_number of the program maps, moved on when they change

    // Statistics as the control thread reads them.
    mutable std::mutex statsLock_;
    uint64_t bytesOut_ = 0, paddingOut_ = 0, overheadOut_ = 0;
    int64_t paddingPercent_ = 0, overheadPercent_ = 0;
};

}  // namespace muxer
