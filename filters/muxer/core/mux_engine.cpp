// The worker and the scheduler: which stream's unit goes next, the system clock, the end.
#include "filters/muxer/core/mux_engine.h"

#include <algorithm>

namespace muxer {

namespace {

constexpr int64_t kBitsPer100ns = 80000000;  // bytes x 8 bits x 10^7 (100-ns units per second)

}  // namespace

MuxEngine::MuxEngine(MuxSettings settings, MuxSink& sink) : settings_(settings), sink_(sink), stuffing_(65536, 0xFF) {
    tree_.CreateProgram();
}

MuxEngine::~MuxEngine() {
    if (worker_.joinable()) {
        signal_.Stop();
        worker_.join();
    }
    for (MuxStream* s : streams_)
        s->Deactivate();
}

MuxStream* MuxEngine::AddStream(StreamType type, const StreamMediaType& media, MuxProgram* program) {
    auto stream = std::make_unique<MuxStream>(type, media, &signal_);
    MuxStream* raw = stream.get();
    tree_.AddStream(std::move(stream), program ? program : FirstProgram());
    streams_.push_back(raw);
    return raw;
}

size_t MuxEngine::IndexOf(const MuxStream& stream) const {
    for (size_t i = 0; i < streams_.size(); ++i)
        if (streams_[i] == &stream) return i;
    return 0;
}

bool MuxEngine::Start() {
    muxerTime_ = 0;
    referenceTime_ = 0;
    referenceStream_ = nullptr;
    bytes_ = padding_ = overhead_ = 0;
    endWritten_ = false;
    tablesPending_ = true;
    lastTableTime_ = 0;
    lastClockOut_ = 0;
    bytesSinceClock_ = 0;
    activeStreams_ = 0;
    ts_.assign(streams_.size(), TsState{});
    signal_.Restart();
    for (const auto& p : tree_.Programs()) {
        p->bitrate = 0;
        for (MuxStreamNode* n : p->streams)
            if (n->live || n->autoCreated) p->bitrate += n->bitrate;
        p->bitrate = std::max<int64_t>(p->bitrate, 1);
    }
    tableVersion_ = 0;
    refused_.clear();
    for (MuxStream* s : streams_) {
        if (!PrepareStream(*s) || !s->Activate()) return false;
        if (s->live || s->autoCreated) ++activeStreams_;
    }
    return BuildTables();
}

bool MuxEngine::PrepareStream(MuxStream& stream) {
    MuxStream* s = &stream;
    if (settings_.output == OutputKind::ProgramStream && (s->live || s->autoCreated) &&
        !ProgramStreamCarries(s->type, settings_.compatibility))
        return false;
    if (settings_.compatibility == Compatibility::Dvd) s->pesPacketSize = 2034;
    // A fixed packet must hold a pack header, the system header, the PES header with
    // both time stamps and the AC-3 substream header, and payload.
    if (s->pesPacketSize != 0 && s->pesPacketSize < 128) return false;
    s->accumulator.reset();
    if (s->pesPacketSize != 0) {
        // Units are gathered up to what one packet carries after its headers.
        s->accumulator = std::make_unique<PesAccumulator>([this, s](MediaBuffer& u) { WriteUnit(*s, u); });
        if (!s->accumulator->Open(s->pesPacketSize - 6 - 3 - 10 - (s->type == StreamType::Ac3 ? 4 : 0))) return false;
    }
    return true;
}

MuxStream* MuxEngine::AddRunningStream(StreamType type, const StreamMediaType& media,
                                       const std::function<void(MuxStream&)>& configure, MuxProgram* program) {
    auto stream = std::make_unique<MuxStream>(type, media, &signal_);
    stream->autoCreated = true;
    if (configure) configure(*stream);
    if (!PrepareStream(*stream) || !stream->Activate()) return nullptr;
    MuxStream* raw = stream.get();
    {
        std::lock_guard<std::mutex> hold(pendingLock_);
        pending_.emplace_back(std::move(stream), program);
        havePending_ = true;
    }
    signal_.Signal();
    return raw;
}

void MuxEngine::AdoptPendingStreams() {
    if (!havePending_) return;
    std::vector<std::pair<std::unique_ptr<MuxStream>, MuxProgram*>> taken;
    {
        std::lock_guard<std::mutex> hold(pendingLock_);
        taken.swap(pending_);
        havePending_ = false;
    }
    if (taken.empty()) return;
    std::vector<MuxStream*> added;
    for (auto& [stream, program] : taken) {
        MuxStream* s = stream.get();
        MuxProgram* p = program ? program : FirstProgram();
        tree_.AddStream(std::move(stream), p);
        streams_.push_back(s);
        ts_.push_back(TsState{});
        // It starts where the streams already running stand, so that it does not hold
        // them back while its first units come.
        s->currentPinPts = referenceStream_ ? referenceTime_ : 0;
        if (p) p->bitrate = std::max<int64_t>(p->bitrate + s->bitrate, 1);
        ++activeStreams_;
        added.push_back(s);
    }
    // Tables already sent change under a new version; before any output they are still
    // the first.
    if (bytes_ > 0) tableVersion_ = static_cast<uint8_t>((tableVersion_ + 1) & 31);
    if (!BuildTables()) {
        // More streams than the tables hold: the new ones are drained and never written.
        for (MuxStream* s : added) {
            s->autoCreated = false;
            s->live = false;
            refused_.push_back(s);
        }
        BuildTables();
    }
    tablesPending_ = true;
}

void MuxEngine::StartWorker() {
    worker_ = std::thread([this] { WorkerLoop(); });
}

void MuxEngine::WorkerLoop() {
    while (signal_.Wait())
        RunUntilIdle();
}

void MuxEngine::Stop() {
    signal_.Stop();
    if (worker_.joinable()) worker_.join();
    if (!endWritten_) {
        AdoptPendingStreams();
        activeStreams_ = 1;
        FinishStream();
    }
}

void MuxEngine::RunUntilIdle() {
    while (RunPass()) {
    }
}

bool MuxEngine::RunPass() {
    AdoptPendingStreams();
    UpdateSchedulerReference();
    bool wrote = false;
    for (MuxStream* s : refused_)
        while (MediaBuffer* u = s->TakeUnit()) {
            const bool end = u->endOfStream;
            u->Release();
            wrote = true;
            if (end && !s->ended) {
                s->ended = true;
                FinishStream();
            }
        }
    for (MuxStream* s : streams_) {
        if (s->type != StreamType::Mpeg2Program || !(s->live || s->autoCreated)) continue;
        // The carrier of a multiplexed input writes nothing itself (the streams found in
        // it do); it only holds the end of the output until its own end arrives.
        while (MediaBuffer* u = s->TakeUnit()) {
            const bool end = u->endOfStream;
            u->Release();
            if (end && !s->ended) {
                s->ended = true;
                wrote = true;
                FinishStream();
            }
        }
    }
    while (MuxStream* s = NextDueStream()) {
        if (!MuxStep(*s)) break;
        UpdateSchedulerReference();
        wrote = true;
    }
    // A stream that only carries the clock (no input of its own) sends it while idle.
    if (settings_.output == OutputKind::TransportStream)
        for (MuxStream* s : streams_)
            if (s->putPcr && !(s->live || s->autoCreated) && s->type != StreamType::Mpeg2Program) MuxStep(*s);
    PublishCounters();
    return wrote;
}

MuxStream* MuxEngine::NextDueStream() {
    // Units go out in decoding-time order across the streams (ties in creation order),
    // which keeps every stream well inside the window of the one that lags. A stream
    // whose queue is empty holds the others at its last decoding time until its next
    // unit comes or it ends, so that the order never depends on when the upstream
    // threads deliver: the same input always gives the same bytes.
    for (;;) {
        MuxStream* best = nullptr;
        int64_t bestTime = 0;
        size_t bestIndex = 0;
        MuxStream* immediate = nullptr;
        bool starved = false;
        waiting_.clear();
        for (size_t i = 0; i < streams_.size(); ++i) {
            MuxStream* s = streams_[i];
            if (!(s->live || s->autoCreated) || s->ended || s->type == StreamType::Mpeg2Program) continue;
            const MediaBuffer* head = s->PeekUnit();
            if (!head) {
                waiting_.push_back(i);
                continue;
            }
            // An upstream thread that feeds several streams (a multiplexed input) and
            // is blocked on this stream's pool cannot deliver the others' units.
            if (s->autoCreated && s->Pool().Starved()) starved = true;
            if (head->length == 0 || !(head->dtsValid || head->ptsValid)) {
                if (!immediate) immediate = s;  // untimed units and the end go at once
                continue;
            }
            const int64_t t = head->dtsValid ? head->dts : head->pts;
            if (!best || t < bestTime) {
                best = s;
                bestTime = t;
                bestIndex = i;
            }
        }
        // A stream found meanwhile may hold units older than the heads seen: it joins
        // first (it was added before any later unit of the thread that found it).
        if (havePending_) {
            AdoptPendingStreams();
            UpdateSchedulerReference();
            continue;
        }
        if (immediate) return immediate;
        if (!best) return nullptr;
        for (size_t i : waiting_) {
            const MuxStream* m = streams_[i];
            // Its next unit comes no earlier than its last one.
            const bool before = bestTime < m->currentPinPts || (bestTime == m->currentPinPts && bestIndex < i);
            if (!before && !(starved && m->autoCreated) && !FeederBlocked(*m)) return nullptr;
        }
        return best;
    }
}

bool MuxEngine::FeederBlocked(const MuxStream& waiting) const {
    // A thread blocked on a full pool delivers nothing until the scheduler takes units of
    // that pool's stream; in an upstream that feeds several streams from one thread, those
    // units come first in its order, so letting them pass keeps the order the input has.
    // A stream never fed yet holds the others: its thread is unknown, and a thread of
    // its own that has not started yet must not lose it the window.
    const std::thread::id feeder = waiting.Feeder();
    return feeder != std::thread::id() &&
           std::any_of(streams_.begin(), streams_.end(), [feeder](MuxStream* s) { return s->Pool().Holds(feeder); });
}

MuxStatistics MuxEngine::Statistics() const {
    std::lock_guard<std::mutex> hold(statsLock_);
    MuxStatistics s;
    s.bytes = bytesOut_;
    s.padding = paddingOut_;
    s.overhead = overheadOut_;
    s.paddingPercent = paddingPercent_;
    s.overheadPercent = overheadPercent_;
    return s;
}

void MuxEngine::UpdateSchedulerReference() {
    // The stream that lags most holds the reference: any stream that will still write,
    // whether fed through a pin or created inside a multiplexed input, never the carrier
    // of a multiplexed input (its units reach the scheduler through the created streams).
    referenceStream_ = nullptr;
    referenceTime_ = 0;
    for (MuxStream* s : streams_) {
        if (!(s->live || s->autoCreated) || s->ended || s->type == StreamType::Mpeg2Program) continue;
        if (!referenceStream_ || s->currentPinPts < referenceTime_) {
            referenceStream_ = s;
            referenceTime_ = s->currentPinPts;
        }
    }
}

bool MuxEngine::MuxStep(MuxStream& stream) {
    MediaBuffer* head = stream.PeekUnit();
    if (!head) {
        if (settings_.output == OutputKind::TransportStream && stream.putPcr && !endWritten_ &&
            (stream.lastPcr < 0 || muxerTime_ - stream.lastPcr > kPcrPeriod)) {
            WritePcrOnly(stream);
        }
        return false;
    }
    if (head->length == 0 && !head->endOfStream) {
        stream.TakeUnit()->Release();
        return true;
    }
    if (head->length != 0 && (head->dtsValid || head->ptsValid)) {
        const int64_t t = head->dtsValid ? head->dts : head->pts;
        if (t > stream.currentPinPts) stream.currentPinPts = t;
    }
    BufferRef unit(stream.TakeUnit());
    if (stream.accumulator)
        stream.accumulator->Add(*unit);
    else
        WriteUnit(stream, *unit);
    if (unit->endOfStream) {
        if (stream.accumulator) stream.accumulator->Flush();
        stream.ended = true;
        FinishStream();
    }
    return true;
}

void MuxEngine::WriteUnit(MuxStream& stream, MediaBuffer& unit) {
    if (unit.length == 0) return;
    // Decoder-buffer catch-up: a unit is never delivered earlier than its decoder buffer
    // can hold it, V = the time to drain that buffer at the stream's rate.
    const int64_t size = stream.decoderBufferSize;
    const int64_t rate = stream.bitrate;
    if (size > 0 && rate > 0 && unit.ptsValid) {
        const int64_t v = size * kBitsPer100ns / rate;
        // The jump stays two windows behind the decoding time of the stream that lags
        // most: the other streams may still write up to a window ahead of it, and the
        // clock moves with their bytes (a burst of a large picture moves it fast), yet
        // the lagging stream's next unit must still arrive before it is due.
        const int64_t target = std::min(TimeSub(unit.pts, v), TimeSub(referenceTime_, 2 * kWindow));
        // (Compared with the clock at the next byte, so that bytes sent since the clock
        // was last set are never lost by the jump.)
        if (target > ClockNow(*stream.program)) SetMuxerTime(target);
    }
    if (settings_.output == OutputKind::ProgramStream)
        WriteProgramStreamUnit(stream, unit);
    else
        WriteTransportStreamUnit(stream, unit);
}

void MuxEngine::SetMuxerTime(int64_t t) {
    // The clock never goes back behind a value already sent.
    muxerTime_ = std::max(t, lastClockOut_);
    bytesSinceClock_ = 0;
}

void MuxEngine::AdvanceMuxerTime(MuxStream& stream, int64_t bytes, int64_t timeShare) {
    if (timeShare <= 0 || bytes <= 0) return;
    // The packet's own rate pulls the stream's and the program's rate 1/21 of the way.
    const int64_t packetRate = bytes * kBitsPer100ns / timeShare;
    const int64_t b = stream.bitrate;
    const int64_t delta = (packetRate + 20 * b) / 21 - b;
    stream.bitrate = std::max<int64_t>(b + delta, 1);
    MuxProgram* program = stream.program;
    // The clock moves at the rate the packet was sent with (the one its pack header
    // declared), and the new rate holds from the next packet on.
    const int64_t sentAt = SendRate(*program, settings_.compatibility);
    program->bitrate = std::max<int64_t>(program->bitrate + delta, 1);
    // Every byte sent since the clock was last set counts, also those of packets that
    // advanced nothing (units without a duration, tables).
    SetMuxerTime(muxerTime_ + static_cast<int64_t>(bytesSinceClock_) * kBitsPer100ns / sentAt);
}

void MuxEngine::FinishStream() {
    // A stream added while this one ended still counts.
    AdoptPendingStreams();
    if (--activeStreams_ > 0) return;
    WriteEnd();
}

void MuxEngine::WriteEnd() {
    if (endWritten_) return;
    // A DVD stream stays a whole number of 2048-byte sectors: no end code behind the last.
    if (settings_.output == OutputKind::ProgramStream && settings_.compatibility != Compatibility::Dvd) {
        static const uint8_t kEndCode[4] = {0x00, 0x00, 0x01, 0xB9};  // MPEG_program_end_code
        Emit(kEndCode, 4, 4);
    }
    endWritten_ = true;
    PublishCounters();
    sink_.DeliverPartial();
    sink_.DeliverEndOfStream();
}

void MuxEngine::Emit(const uint8_t* bytes, size_t size, size_t overhead) {
    sink_.Write(bytes, size);
    bytes_ += size;
    overhead_ += overhead;
    bytesSinceClock_ += size;
}

void MuxEngine::PublishCounters() {
    std::lock_guard<std::mutex> hold(statsLock_);
    bytesOut_ = bytes_;
    paddingOut_ = padding_;
    overheadOut_ = overhead_;
    if (bytes_ != 0) {
        paddingPercent_ = static_cast<int64_t>(padding_ * 100 / bytes_);
        overheadPercent_ = static_cast<int64_t>(overhead_ * 100 / bytes_);
    }
}

bool MuxEngine::BuildTables() {
    for (const auto& p : tree_.Programs()) {
        if (!tree_.AssignIds(p.get())) return false;
        if (settings_.output == OutputKind::TransportStream) {
            // A transport stream needs a clock reference: without a stream chosen for it,
            // the first live video stream (or the first live stream) carries it.
            const std::vector<MuxStreamNode*> live = p->LiveStreams();
            const bool any = std::any_of(live.begin(), live.end(), [](MuxStreamNode* s) { return s->putPcr; });
            if (!any && !live.empty()) {
                auto video =
                    std::find_if(live.begin(), live.end(), [](MuxStreamNode* s) { return IsVideoType(s->type); });
                (video != live.end() ? *video : live.front())->putPcr = true;
            }
            p->pcrStream = nullptr;
            for (MuxStreamNode* s : live)
                if (s->putPcr) p->pcrStream = s;
        }
    }
    if (settings_.output == OutputKind::ProgramStream) {
        MuxProgram* program = FirstProgram();
        if (!program) return false;
        BuildSystemHeader(*program, settings_.compatibility, &systemHeader_);
        // DVD packs carry no stream map (DVD players know the codings by stream id).
        if (settings_.compatibility != Compatibility::Dvd) {
            std::vector<uint8_t> map;
            BuildProgramStreamMap(*program, &map);
            systemHeader_.insert(systemHeader_.end(), map.begin(), map.end());
        }
        return true;
    }
    // Programs are fixed at Start; only the program maps change while running.
    if (BuildPatSection(tree_, settings_.transportStreamId, 0, &patSection_) != TableResult::Ok) return false;
    pmtSections_.resize(tree_.Programs().size());
    pmtCounters_.resize(tree_.Programs().size());
    for (size_t i = 0; i < tree_.Programs().size(); ++i) {
        MuxProgram& p = *tree_.Programs()[i];
        if (BuildPmtSection(p, tableVersion_, &pmtSections_[i]) != TableResult::Ok) return false;
        // The decoder buffer sizes the scheduler uses come with the tables in both kinds.
        for (MuxStreamNode* s : p.LiveStreams())
            s->decoderBufferSize = IsVideoType(s->type) ? 163000 : 4096;
    }
    return true;
}

}  // namespace muxer
