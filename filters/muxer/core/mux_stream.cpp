#include "filters/muxer/core/mux_stream.h"

#include <algorithm>

#include "common/bitstream/mpeg2_video_header.h"
#include "common/bitstream/start_code.h"

namespace muxer {

// ---- DecodeTimeSupply ------------------------------------------------------------------

void DecodeTimeSupply::Reset() {
    held_.clear();
    shown_ = {};
    delay_ = -1;
    heldBytes_ = 0;
    haveDts_ = false;
}

void DecodeTimeSupply::Push(MediaBuffer* unit, std::vector<MediaBuffer*>* ready) {
    held_.push_back(unit);
    heldBytes_ += unit->length;
    if (delay_ < 0 && held_.size() < kWindow && heldBytes_ < kWindowBytes) return;
    if (delay_ < 0) Decide();
    Release(ready);
}

void DecodeTimeSupply::Drain(std::vector<MediaBuffer*>* ready) {
    if (delay_ < 0) Decide();
    Release(ready);
}

void DecodeTimeSupply::Decide() {
    // Reorder depth: the most pictures decoded before one that are shown after it.
    int32_t depth = 0;
    int64_t first = 0, step = 0;
    bool any = false;
    std::vector<int64_t> times;
    for (size_t i = 0; i < held_.size(); ++i) {
        if (!held_[i]->ptsValid) continue;
        int32_t later = 0;
        for (size_t j = 0; j < i; ++j)
            if (held_[j]->ptsValid && held_[j]->pts > held_[i]->pts) ++later;
        depth = std::max(depth, later);
        times.push_back(held_[i]->pts);
        first = any ? std::min(first, held_[i]->pts) : held_[i]->pts;
        any = true;
    }
    std::sort(times.begin(), times.end());
    for (size_t i = 1; i < times.size(); ++i) {
        const int64_t d = times[i] - times[i - 1];
        if (d > 0 && (step == 0 || d < step)) step = d;
    }
    delay_ = std::max(depth, minimumDelay_);
    // The pictures "shown" before the first: decoding starts `delay` frames early.
    for (int32_t k = delay_; k >= 1; --k)
        shown_.push(TimeSub(first, TimeMul(step, k)));
}

void DecodeTimeSupply::Release(std::vector<MediaBuffer*>* ready) {
    while (!held_.empty()) {
        MediaBuffer* u = held_.front();
        held_.pop_front();
        heldBytes_ -= u->length;
        if (u->ptsValid) {
            shown_.push(u->pts);
            int64_t dts = shown_.top();
            shown_.pop();
            // Decoding times never go back, and never after the picture is shown.
            if (haveDts_ && dts < lastDts_) dts = lastDts_;
            if (dts > u->pts) dts = u->pts;
            u->dts = dts;
            u->dtsValid = true;
            lastDts_ = dts;
            haveDts_ = true;
        }
        ready->push_back(u);
    }
}

int32_t MinimumReorderDelay(StreamType type, const uint8_t* data, int32_t size) {
    if (type == StreamType::Mpeg1Video) return 1;
    if (type != StreamType::Mpeg2Video) return 0;
    // low_delay of the sequence_extension (ISO/IEC 13818-2 6.2.2.3) after the unit's
    // sequence header; without the extension the stream is MPEG-1 in effect.
    if (!data || size <= 0) return 1;
    const uint8_t* const end = data + size;
    const uint8_t* at = common::FindStartCode(data, end);
    while (at != end && (end - at < 4 || at[3] != common::kMpegSequenceHeaderCode))
        at = common::FindStartCode(at + 3, end);
    common::MpegSequenceHeader h;
    if (at == end || !common::ReadMpegVideoSequence(std::span<const uint8_t>(at, static_cast<size_t>(end - at)), &h) ||
        !h.hasExtension)
        return 1;
    return h.lowDelay ? 0 : 1;
}

// ---- MuxStream -------------------------------------------------------------------------

MuxStream::MuxStream(StreamType streamType, const StreamMediaType& media, WorkSignal* signal)
    : media_(media), signal_(signal) {
    type = streamType;
    accumulator = nullptr;
}

MuxStream::~MuxStream() {
    Deactivate();
}

bool MuxStream::Activate() {
    Deactivate();
    parser_ = CreateParser(type, *this);
    // Pools of a stream without an upstream allocator: 1 MiB for audio, 6 MiB otherwise,
    // in buffers of a third of that.
    const bool audio = !IsVideoType(type);
    const uint32_t limit = poolByteLimit ? poolByteLimit : audio ? 0x100000u : 0x600000u;
    const int32_t size = poolBufferSize ? poolBufferSize : static_cast<int32_t>(limit / 3);
    if (!pool_.Start(size, limit)) return false;
    pool_.SetBlockHook([this] {
        if (signal_) signal_->Signal();
    });
    assembler_ = std::make_unique<AccessUnitAssembler>(*this);
    if (!assembler_->Start()) return false;
    decodeTimes_.Reset();
    delayKnown_ = false;
    ended = false;
    feeder_ = std::thread::id();
    currentPinPts = 0;
    lastPcr = -1;
    decoderBufferSize = 0;
    return true;
}

void MuxStream::Deactivate() {
    pool_.Stop();
    whole_.reset();
    {
        std::lock_guard<std::mutex> hold(queueLock_);
        for (MediaBuffer* u : queue_)
            u->Release();
        queue_.clear();
    }
    assembler_.reset();
    std::vector<MediaBuffer*> held;
    decodeTimes_.Drain(&held);
    for (MediaBuffer* u : held)
        u->Release();
    decodeTimes_.Reset();
    if (parser_) parser_->Clear();
    parser_.reset();
    if (accumulator) accumulator->Reset();
    pool_.StopAndFlush();
}

void MuxStream::Feed(const MediaBuffer& sample) {
    NoteFeeder();
    if (completeUnits && HasParser(type)) {
        if (assembler_) assembler_->Feed(sample);
        return;
    }
    QueueWhole(sample);
}

void MuxStream::QueueWhole(const MediaBuffer& sample) {
    if (sample.length <= 0 || !sample.Data()) return;
    const int32_t most = std::max<int32_t>(pool_.BufferSize(), 1);
    const uint8_t* bytes = sample.Data();
    int32_t left = sample.length;
    bool first = true;
    while (left > 0) {
        // A sample that does not fit behind the earlier ones takes a fresh buffer; one
        // larger than a buffer fills buffers in turn.
        if (!whole_ || whole_->FreeRoom() < std::min(left, most)) {
            whole_.reset(pool_.GetBuffer());
            if (!whole_) return;  // the pool stopped (flush or stop): the input is refused
        }
        const int32_t size = std::min(left, whole_->FreeRoom());
        if (size <= 0) return;
        const WrappingBuffer piece(bytes, size);
        if (!piece.CopyInto(*whole_)) return;
        BufferRef unit(MediaBuffer::CreateSlice(whole_.get(), size, first ? sample.Pts() : std::nullopt,
                                                first ? sample.Dts() : std::nullopt));
        // The slice shows those bytes from now on: the buffer's room starts behind them.
        whole_->data += size;
        whole_->length = 0;
        if (!unit) return;
        if (first && sample.durationValid) {
            unit->duration = sample.duration;
            unit->durationValid = true;
        }
        QueueUnit(unit.get());
        bytes += size;
        left -= size;
        first = false;
    }
}

void MuxStream::EndOfStream() {
    NoteFeeder();
    if (assembler_) assembler_->EndOfStream();
    MediaBuffer* last = parser_ ? parser_->TakeHeld() : nullptr;
    if (!last) last = MediaBuffer::CreateOwned(0);
    if (!last) return;
    last->dtsValid = false;
    last->durationValid = false;
    last->endOfStream = true;
    Enqueue(last);
}

void MuxStream::QueueUnit(MediaBuffer* unit) {
    MediaBuffer* out = parser_ ? parser_->Exchange(unit) : unit;
    if (!parser_) unit->AddRef();
    if (out) Enqueue(out);
}

void MuxStream::Enqueue(MediaBuffer* unit) {
    std::vector<MediaBuffer*> ready;
    if (IsVideoType(type) && !delayKnown_) {
        delayKnown_ = true;
        decodeTimes_.SetMinimumDelay(MinimumReorderDelay(type, unit->Data(), unit->length));
    }
    if (IsVideoType(type)) {
        if (unit->endOfStream) {
            decodeTimes_.Push(unit, &ready);
            decodeTimes_.Drain(&ready);
        } else {
            decodeTimes_.Push(unit, &ready);
        }
    } else {
        ready.push_back(unit);
    }
    if (ready.empty()) return;
    {
        std::lock_guard<std::mutex> hold(queueLock_);
        for (MediaBuffer* u : ready) {
            if (u->ptsValid) u->pts = TimeAdd(u->pts, startDelay);
            if (u->dtsValid) u->dts = TimeAdd(u->dts, startDelay);
            queue_.push_back(u);
        }
    }
    if (signal_)
        for (size_t i = 0; i < ready.size(); ++i)
            signal_->Signal();
}

MediaBuffer* MuxStream::PeekUnit() {
    std::lock_guard<std::mutex> hold(queueLock_);
    return queue_.empty() ? nullptr : queue_.front();
}

MediaBuffer* MuxStream::TakeUnit() {
    std::lock_guard<std::mutex> hold(queueLock_);
    if (queue_.empty()) return nullptr;
    MediaBuffer* u = queue_.front();
    queue_.pop_front();
    return u;
}

size_t MuxStream::Queued() const {
    std::lock_guard<std::mutex> hold(queueLock_);
    return queue_.size();
}

StreamMediaType MuxStream::CurrentMediaType() const {
    std::lock_guard<std::mutex> hold(mediaLock_);
    return media_;
}

void MuxStream::SetCurrentMediaType(const StreamMediaType& t) {
    std::lock_guard<std::mutex> hold(mediaLock_);
    media_ = t;
}

void MuxStream::SetOwnValue(OwnValue which, int64_t value) {
    if (onOwnValue) onOwnValue(which, value);
}

void MuxStream::Flush() {
    // The upstream thread that feeds again after a flush may be another (a seek restarts
    // it), and the old one's id may be reused by a thread that feeds another stream.
    feeder_ = std::thread::id();
    {
        std::lock_guard<std::mutex> hold(queueLock_);
        for (MediaBuffer* u : queue_)
            u->Release();
        queue_.clear();
    }
    if (assembler_) assembler_->Reset();
    whole_.reset();
    std::vector<MediaBuffer*> held;
    decodeTimes_.Drain(&held);
    for (MediaBuffer* u : held)
        u->Release();
    decodeTimes_.Reset();
    if (parser_) {
        if (MediaBuffer* u = parser_->TakeHeld()) u->Release();
        parser_->Reset();
    }
    if (accumulator) accumulator->Reset();
}

}  // namespace muxer
