#include "filters/muxer/core/elementary_parser.h"

#include <algorithm>
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
}

MediaBuffer* CElementaryParser::TakeHeld() {
    std::lock_guard<std::mutex> hold(lock_);
    if (held_) held_->duration_valid = false;
    return held_.release();
}

ScanResult CElementaryParser::FindUnit(ScanCursor& cursor) {
    if (!cursor.pos || cursor.length <= 0) return {};
    std::lock_guard<std::mutex> hold(lock_);
    return Scan(cursor, assembler_scan_);
}

void CElementaryParser::Resync() {
    std::lock_guard<std::mutex> hold(lock_);
    assembler_scan_ = ScanState();
}

ScanResult CElementaryParser::ScanUnit(const MediaBuffer& unit) {
    // A unit begins at a boundary its stream's scan already confirmed.
    ScanState fresh;
    fresh.expected_sync = 0;
    ScanCursor cursor{unit.Data(), unit.length};
    if (!cursor.pos || cursor.length <= 0) return {};
    return Scan(cursor, fresh);
}

int64_t CElementaryParser::Shift() const {
    return static_cast<int64_t>(stream_.InitialTimeShiftMs()) * 10000;
}

void CElementaryParser::PublishBitrate(uint32_t bits_per_second) {
    bit_rate_ = bits_per_second;
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
    frame_length_ = 0;
}

ScanResult CAudioParser::Scan(ScanCursor& cursor, ScanState& state) {
    const int32_t tail = ScanTail();
    while (cursor.length > tail) {
        if (state.expected_sync > 0) {
            // Inside a frame whose length its header gave: its bytes need no look.
            const int64_t step = std::min<int64_t>(state.expected_sync, cursor.length - tail);
            cursor.pos += step;
            cursor.length -= static_cast<int32_t>(step);
            state.expected_sync -= step;
            continue;
        }
        const uint8_t* q = cursor.pos;
        common::AudioFrameFacts info;
        bool confirmed = false;
        if (IsSync(q) && ParseHeader(q, &info)) {
            if (state.expected_sync == 0) {
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
        if (!confirmed && state.expected_sync == 0) state.expected_sync = -1;  // lost: search again
        ++cursor.pos;
        --cursor.length;
        if (confirmed) {
            state.expected_sync = info.frameBytes - 1;
            ScanResult r;
            r.boundary = q;
            r.sequence_start = true;
            r.unit_found = true;
            return r;
        }
    }
    return {};
}

int64_t CAudioParser::HeaderDuration(const MediaBuffer& unit) const {
    common::AudioFrameFacts info;
    if (unit.length <= ScanTail() || !ParseHeader(unit.Data(), &info) || info.sampleRate <= 0) return 0;
    return static_cast<int64_t>(info.samples) * 10000000 / info.sampleRate;
}

void CAudioParser::StartTiming(const ScanResult&) {
    MediaBuffer& h = *held_;
    if (!h.pts_valid) {
        h.pts = 0;
        h.pts_valid = true;
    }
    h.pts = TimeAdd(h.pts, Shift());
}

void CAudioParser::NextTiming(MediaBuffer& u) {
    MediaBuffer& h = *held_;
    int64_t duration;
    if (!u.pts_valid || stream_.GetPtsSource() == PtsSource::BitRateBased) {
        // Without a known rate the frame header gives the duration (never a division by 0).
        duration = bit_rate_ != 0 ? static_cast<int64_t>(h.length) * 80000000 / bit_rate_ : HeaderDuration(h);
        u.pts = TimeAdd(h.pts, std::max<int64_t>(duration, 0));
    } else {
        u.pts = TimeAdd(u.pts, Shift());
        duration = TimeSub(u.pts, h.pts);
    }
    h.dts = h.pts;
    h.dts_valid = true;
    if (duration > 0) {
        h.duration = duration;
        h.duration_valid = true;
        const int64_t rate = static_cast<int64_t>(h.length) * 80000000 / duration;
        h.bit_rate = static_cast<uint32_t>(std::min<int64_t>(rate, std::numeric_limits<uint32_t>::max()));
    }
    u.pts_valid = true;
}

bool CMpegAudioParser::IsSync(const uint8_t* q) const {
    return q[0] == 0xFF && q[1] >= 0xE0 && (q[1] & 0x18) != 0x08 && (q[1] & 0x06) != 0 && q[2] > 0x0F && q[2] < 0xF0 &&
           (q[2] & 0x0C) != 0x0C;
}

void CMpegAudioParser::ReadHeader(const ScanResult& found, int32_t remaining) {
    StreamMediaType type;
    uint32_t length = 0;
    if (!found.boundary || remaining < 4 || !BuildMpegAudioMediaType(found.boundary, &type, &length)) {
        frame_length_ = 0;
        return;
    }
    stream_.SetCurrentMediaType(type);
    Reset();
    frame_length_ = length;
}

}  // namespace muxer
