#include "filters/muxer/core/elementary_parser.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "filters/muxer/core/video_parser.h"

namespace muxer {

bool HasParser(StreamType type) {
    switch (type) {
        case StreamType::Mpeg2Video:
        case StreamType::Mpeg1Video:
        case StreamType::H264Video:
        case StreamType::Mpeg2Audio:
        case StreamType::Mpeg1Audio:
        case StreamType::Ac3:
        case StreamType::Aac:
            return true;
        default:
            return false;
    }
}

bool IsVideoType(StreamType type) {
    return type == StreamType::Mpeg2Video || type == StreamType::Mpeg1Video || type == StreamType::H264Video;
}

std::unique_ptr<CElementaryParser> CreateParser(StreamType type, ParserStream& stream) {
    std::unique_ptr<CElementaryParser> p;
    switch (type) {
        case StreamType::Mpeg2Video:
        case StreamType::Mpeg1Video:
            p = std::make_unique<CMpegVideoParser>(stream, type == StreamType::Mpeg1Video);
            break;
        case StreamType::H264Video:
            p = std::make_unique<CH264Parser>(stream);
            break;
        case StreamType::Mpeg2Audio:
        case StreamType::Mpeg1Audio:
            p = std::make_unique<CMpegAudioParser>(stream);
            break;
        case StreamType::Ac3:
            p = std::make_unique<CAc3Parser>(stream);
            break;
        case StreamType::Aac:
            p = std::make_unique<CAacParser>(stream);
            break;
        default:
            return nullptr;
    }
    p->Reset();
    return p;
}

// ---- CElementaryParser ----------------------------------------------------------------

MediaBuffer* CElementaryParser::Exchange(MediaBuffer* unit) {
    if (!unit) return nullptr;
    std::lock_guard<std::mutex> hold(lock_);
    if (held_) {
        NextTiming(*unit);
        unit->AddRef();
        MediaBuffer* previous = held_.release();
        held_.reset(unit);
        return previous;
    }
    if (!started_) {
        started_ = true;
        if (CarriesNoMedia(*unit)) {
            if (unit->ptsValid) droppedTime_ = unit->pts;
            return nullptr;
        }
    }
    if (!unit->ptsValid && droppedTime_) unit->SetPts(droppedTime_);
    droppedTime_.reset();
    unit->AddRef();
    held_.reset(unit);
    const ScanResult found = ScanUnit(*unit);
    if (found.boundary) ReadHeader(found, static_cast<int32_t>(unit->Data() + unit->length - found.boundary));
    StartTiming(found);
    return nullptr;
}

void CElementaryParser::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    held_.reset();
    started_ = false;
    droppedTime_.reset();
}

MediaBuffer* CElementaryParser::TakeHeld() {
    std::lock_guard<std::mutex> hold(lock_);
    if (held_) held_->durationValid = false;
    return held_.release();
}

ScanResult CElementaryParser::FindUnit(ScanCursor& cursor) {
    if (!cursor.pos || cursor.length <= 0) return {};
    std::lock_guard<std::mutex> hold(lock_);
    return Scan(cursor, assemblerScan_);
}

void CElementaryParser::Resync() {
    std::lock_guard<std::mutex> hold(lock_);
    assemblerScan_ = ScanState();
}

ScanResult CElementaryParser::ScanUnit(const MediaBuffer& unit) {
    // A unit begins at a boundary its stream's scan already confirmed.
    ScanState fresh;
    fresh.expectedSync = 0;
    ScanCursor cursor{unit.Data(), unit.length};
    if (!cursor.pos || cursor.length <= 0) return {};
    return Scan(cursor, fresh);
}

int64_t CElementaryParser::Shift() const {
    return static_cast<int64_t>(stream_.InitialTimeShiftMs()) * 10000;
}

void CElementaryParser::PublishBitrate(uint32_t bits_per_second) {
    bitRate_ = bits_per_second;
    stream_.SetOwnValue(OwnValue::Bitrate, bits_per_second);
}

// ---- Audio frame headers --------------------------------------------------------------
// The parsers' scans guarantee the bytes each header needs (ScanTail) before calling.

bool BuildMpegAudioMediaType(const uint8_t* h, StreamMediaType* type, uint32_t* frame_length) {
    common::MpegAudioFrameHeader m;
    if (!h || !common::ReadMpegAudioHeader({h, 4}, &m)) return false;
    static constexpr uint16_t kModeFlag[4] = {1, 2, 4, 8};  // stereo, joint, dual, mono
    const uint16_t mode = kModeFlag[m.mode];
    // The media type's block is the frame without its padding slot.
    const int32_t bytes = m.unpaddedBytes;
    StreamMediaType t;
    t.major = MajorType::Audio;
    t.subtype = Subtype::MpegAudio;
    t.format = FormatType::WaveFormatEx;
    Mpeg1WaveFormat& w = t.wave;
    w.wFormatTag = 0x50;  // WAVE_FORMAT_MPEG
    w.nChannels = static_cast<uint16_t>(m.channels);
    w.nSamplesPerSec = static_cast<uint32_t>(m.sampleRate);
    w.nAvgBytesPerSec = static_cast<uint32_t>(m.bitRate / 8);
    w.nBlockAlign = static_cast<uint16_t>(bytes);
    w.wBitsPerSample = 0;
    w.cbSize = 22;
    w.fwHeadLayer = static_cast<uint16_t>(m.layer == 1 ? 1 : m.layer == 2 ? 2 : 4);
    w.dwHeadBitrate = static_cast<uint32_t>(m.bitRate);
    w.fwHeadMode = mode;
    w.fwHeadModeExt = static_cast<uint16_t>((h[3] >> 4) & 6);
    w.wHeadEmphasis = static_cast<uint16_t>(m.emphasis);
    // ACM_MPEG_ID_MPEG1 0x10, _PROTECTIONBIT 0x08, _ORIGINALHOME 0x04, _COPYRIGHT 0x02,
    // _PRIVATEBIT 0x01.
    w.fwHeadFlags = static_cast<uint16_t>(0x10 | (m.protection ? 0 : 0x08) | (m.original ? 0x04 : 0) |
                                          (m.copyright ? 0x02 : 0) | (m.private_bit ? 0x01 : 0));
    *type = t;
    *frame_length = static_cast<uint32_t>(bytes);
    return true;
}

// ---- Audio parsers --------------------------------------------------------------------

void CAudioParser::Reset() {
    const StreamMediaType t = stream_.CurrentMediaType();
    if (t.format == FormatType::WaveFormatEx) PublishBitrate(t.wave.nAvgBytesPerSec * 8u);
    stream_.RecomputeTotalBitrate();
    frameLength_ = 0;
}

ScanResult CAudioParser::Scan(ScanCursor& cursor, ScanState& state) {
    const int32_t tail = ScanTail();
    while (cursor.length > tail) {
        if (state.expectedSync > 0) {
            // Inside a frame whose length its header gave: its bytes need no look.
            const int64_t step = std::min<int64_t>(state.expectedSync, cursor.length - tail);
            cursor.pos += step;
            cursor.length -= static_cast<int32_t>(step);
            state.expectedSync -= step;
            continue;
        }
        const uint8_t* q = cursor.pos;
        common::AudioFrameFacts info;
        bool confirmed = false;
        if (IsSync(q) && ParseHeader(q, &info)) {
            if (state.expectedSync == 0) {
                // Exactly where the previous confirmed frame ends.
                confirmed = true;
            } else {
                // A sync word alone may be frame data: the frame it announces must end in
                // another sync word. Wait for those bytes.
                if (static_cast<int64_t>(cursor.length) <= static_cast<int64_t>(info.frameBytes) + tail) return {};
                common::AudioFrameFacts next;
                confirmed = IsSync(q + info.frameBytes) && ParseHeader(q + info.frameBytes, &next);
            }
        }
        if (!confirmed && state.expectedSync == 0) state.expectedSync = -1;  // lost: search again
        ++cursor.pos;
        --cursor.length;
        if (confirmed) {
            state.expectedSync = info.frameBytes - 1;
            ScanResult r;
            r.boundary = q;
            r.sequenceStart = true;
            r.unitFound = true;
            return r;
        }
    }
    return {};
}

void CAudioParser::StartTiming(const ScanResult&) {
    MediaBuffer& h = *held_;
    if (!h.ptsValid) {
        h.pts = 0;
        h.ptsValid = true;
    }
    h.pts = TimeAdd(h.pts, Shift());
    anchor_ = h.pts;
    samples_ = 0;
}

void CAudioParser::NextTiming(MediaBuffer& u) {
    MediaBuffer& h = *held_;
    int64_t duration;
    common::AudioFrameFacts info;
    const bool counted = h.length > ScanTail() && ParseHeader(h.Data(), &info) && info.sampleRate > 0;
    if (stream_.GetPtsSource() == PtsSource::BitRateBased && bitRate_ != 0) {
        duration = static_cast<int64_t>(h.length) * 80000000 / bitRate_;
        u.pts = TimeAdd(h.pts, std::max<int64_t>(duration, 0));
    } else if (!u.ptsValid || stream_.GetPtsSource() == PtsSource::BitRateBased) {
        // An unstamped frame follows the samples since the last stamped one (the frame
        // headers give them), counted whole so that no rounding accumulates; a header
        // that cannot be read falls back on the stream's bit rate.
        if (counted) {
            if (info.sampleRate != rate_) {
                anchor_ = h.pts;
                samples_ = 0;
                rate_ = info.sampleRate;
            }
            samples_ += info.samples;
            u.pts = TimeAdd(anchor_, samples_ * 10000000 / rate_);
            duration = TimeSub(u.pts, h.pts);
        } else {
            duration = bitRate_ != 0 ? static_cast<int64_t>(h.length) * 80000000 / bitRate_ : 0;
            u.pts = TimeAdd(h.pts, std::max<int64_t>(duration, 0));
            anchor_ = u.pts;
            samples_ = 0;
        }
    } else {
        u.pts = TimeAdd(u.pts, Shift());
        duration = TimeSub(u.pts, h.pts);
        anchor_ = u.pts;
        samples_ = 0;
    }
    h.dts = h.pts;
    h.dtsValid = true;
    if (duration > 0) {
        h.duration = duration;
        h.durationValid = true;
        const int64_t rate = static_cast<int64_t>(h.length) * 80000000 / duration;
        h.bitRate = static_cast<uint32_t>(std::min<int64_t>(rate, std::numeric_limits<uint32_t>::max()));
    }
    u.ptsValid = true;
}

bool CMpegAudioParser::IsSync(const uint8_t* q) const {
    return q[0] == 0xFF && q[1] >= 0xE0 && (q[1] & 0x18) != 0x08 && (q[1] & 0x06) != 0 && q[2] > 0x0F && q[2] < 0xF0 &&
           (q[2] & 0x0C) != 0x0C;
}

bool CMpegAudioParser::CarriesNoMedia(const MediaBuffer& unit) const {
    // A Layer III frame whose main data begins with the "Xing" or "Info" tag right behind
    // its side information, or the "VBRI" tag 32 bytes behind its header: an encoder's
    // table of contents in the shape of a frame, with no audio in it.
    const uint8_t* p = unit.Data();
    const int32_t n = unit.length;
    if (n < 40 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || ((p[1] >> 1) & 3) != 1) return false;
    const bool mpeg1 = (p[1] & 0x18) == 0x18;
    const bool mono = (p[3] >> 6) == 3;
    const int32_t sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const int32_t at = 4 + ((p[1] & 1) ? 0 : 2) + sideInfo;
    auto tag = [&](int32_t k, const char* t) { return k + 4 <= n && std::memcmp(p + k, t, 4) == 0; };
    return tag(at, "Xing") || tag(at, "Info") || tag(36, "VBRI");
}

void CMpegAudioParser::ReadHeader(const ScanResult& found, int32_t remaining) {
    StreamMediaType type;
    uint32_t length = 0;
    if (!found.boundary || remaining < 4 || !BuildMpegAudioMediaType(found.boundary, &type, &length)) {
        frameLength_ = 0;
        return;
    }
    stream_.SetCurrentMediaType(type);
    Reset();
    frameLength_ = length;
}

}  // namespace muxer
