#include "filters/muxer/core/access_unit_assembler.h"

#include <algorithm>

namespace muxer {

bool AccessUnitAssembler::Start() {
    std::lock_guard<std::mutex> hold(lock_);
    current_.reset(stream_.Pool().GetBuffer());
    if (!current_) return false;
    scanPos_ = current_->Data();
    scanLength_ = 0;
    firstUnit_ = true;
    pending_.reset();
    received_.clear();
    dataOffset_ = 0;
    return true;
}

void AccessUnitAssembler::Stop() {
    std::lock_guard<std::mutex> hold(lock_);
    current_.reset();
    scanPos_ = nullptr;
    scanLength_ = 0;
}

bool AccessUnitAssembler::Active() const {
    std::lock_guard<std::mutex> hold(lock_);
    return static_cast<bool>(current_);
}

void AccessUnitAssembler::ResyncLocked() {
    scanLength_ = 0;
    firstUnit_ = true;
    if (current_) {
        dataOffset_ += current_->length;
        current_->Reset();
        scanPos_ = current_->Data();
    }
    if (CElementaryParser* parser = stream_.Parser()) parser->Resync();
}

void AccessUnitAssembler::Reset() {
    std::lock_guard<std::mutex> hold(lock_);
    ResyncLocked();
    received_.clear();
}

void AccessUnitAssembler::EndOfStream() {
    std::lock_guard<std::mutex> hold(lock_);
    if (current_ && !firstUnit_ && current_->length > 0) {
        QueueSliceLocked(current_->length);
        pending_.reset();
    }
    ResyncLocked();
    received_.clear();
}

std::optional<int64_t> AccessUnitAssembler::TakeStampLocked(int64_t boundary_offset) {
    std::optional<int64_t> taken;
    while (!received_.empty() && received_.front().offset <= boundary_offset) {
        taken = received_.front().pts;
        received_.pop_front();
    }
    return taken;
}

void AccessUnitAssembler::QueueSliceLocked(int32_t length) {
    MediaBuffer* slice = MediaBuffer::CreateSlice(current_.get(), length, pending_, std::nullopt);
    if (!slice) return;
    stream_.QueueUnit(slice);
    slice->Release();
}

bool AccessUnitAssembler::StoreLocked(const MediaBuffer& piece) {
    if (piece.AppendTo(*current_)) return true;
    BufferRef fresh(stream_.Pool().GetBuffer());
    if (!fresh) return false;  // the pool stopped: the bytes are lost, the scan state kept
    // What is not yet cut moves along, unless it cannot fit with the new bytes: a unit
    // longer than a buffer is never cut, so its bytes are dropped and the parser looks for
    // the next boundary.
    if (static_cast<int64_t>(current_->length) + piece.length <= fresh->FreeRoom() && current_->CopyInto(*fresh)) {
        scanPos_ = fresh->Data() + (scanPos_ - current_->Data());
        current_ = std::move(fresh);
    } else {
        dataOffset_ += current_->length;
        current_ = std::move(fresh);
        ResyncLocked();
    }
    return piece.AppendTo(*current_);
}

void AccessUnitAssembler::Feed(const MediaBuffer& sample) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!current_ || !HasParser(stream_.Type()) || sample.length <= 0 || !sample.Data()) return;
    CElementaryParser* parser = stream_.Parser();
    if (!parser) return;
    // A sample larger than the buffer's room goes in pieces that fill it, or fill a fresh
    // buffer behind the bytes not yet cut; its stamp rides on the first piece.
    const int32_t most = std::max<int32_t>(stream_.Pool().BufferSize(), 1);
    const uint8_t* bytes = sample.Data();
    int32_t left = sample.length;
    bool first = true;
    while (left > 0 && current_) {
        // Whole when it fits here or in a fresh buffer behind the carry (then a stopped pool
        // loses the sample whole); otherwise in pieces.
        const int32_t room = current_->FreeRoom();
        const int32_t behind_carry = most - current_->length;
        int32_t size = left;
        if (left > room && left > behind_carry)
            size = std::min(left, room > 0 ? room : behind_carry > 0 ? behind_carry : most);
        const WrappingBuffer piece(bytes, size, first ? sample.Pts() : std::nullopt);
        if (!StoreLocked(piece)) return;
        // The scan covers exactly the stored bytes behind its position.
        scanLength_ = static_cast<int32_t>(current_->Data() + current_->length - scanPos_);
        if (piece.ptsValid) {
            // The piece's first byte is the last `size` stored bytes' first.
            const int64_t offset = dataOffset_ + current_->length - size;
            // Bounded: a stream that never shows a boundary keeps only its latest stamps.
            if (received_.size() >= 64) received_.pop_front();
            received_.push_back({offset, piece.pts});
        }
        CutLocked(*parser);
        bytes += size;
        left -= size;
        first = false;
    }
}

void AccessUnitAssembler::CutLocked(CElementaryParser& parser) {
    const bool video = IsVideoType(stream_.Type());
    for (;;) {
        ScanCursor cursor{scanPos_, scanLength_};
        const ScanResult found = parser.FindUnit(cursor);
        scanPos_ = cursor.pos;
        scanLength_ = cursor.length;
        if (!found.boundary || (video && !found.unitFound)) return;
        const int64_t cut = found.boundary - current_->Data();
        if (cut < 0 || cut > current_->length) return;  // not in the stored bytes: never taken
        // Bytes before the first boundary are dropped; otherwise they are the unit gathered.
        if (!firstUnit_ && cut > 0) QueueSliceLocked(static_cast<int32_t>(cut));
        pending_ = TakeStampLocked(dataOffset_ + cut);
        firstUnit_ = false;
        current_->length -= static_cast<int32_t>(cut);
        current_->data = const_cast<uint8_t*>(found.boundary);
        dataOffset_ += cut;
    }
}

}  // namespace muxer
