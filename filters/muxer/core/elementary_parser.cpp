#include "filters/muxer/core/elementary_parser.h"

#include <algorithm>
#include <limits>

#include "filters/muxer/core/video_parser.h"

namespace muxer {

bool HasParser(StreamType type) {
    switch (type) {
    case StreamType::Mpeg2Video: case StreamType::Mpeg1Video: case StreamType::H264Video:
    case StreamType::Mpeg2Audio: case StreamType::Mpeg1Audio: case StreamType::Ac3: case StreamType::Aac:
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
    case StreamType::Mpeg2Video: case StreamType::Mpeg1Video:
        p = std::make_unique<CMpegVideoParser>(stream, type == StreamType::Mpeg1Video); break;
    case StreamType::H264Video: p = std::make_unique<CH264Parser>(stream); break;
    case StreamType::Mpeg2Audio: case StreamType::Mpeg1Audio: p = std::make_unique<CMpegAudioParser>(stream); break;
    case StreamType::Ac3: p = std::make_unique<CAc3Parser>(stream); break;
    case StreamType::Aac: p = std::make_unique<CAacParser>(stream); break;
    default: return nullptr;
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
    if (found.boundary)
        ReadHeader(found, static_cast<int32_t>(unit->Data() + unit->length - found.boundary));
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

namespace {

// kbit/s by bit-rate index: ISO/IEC 11172-3 Table 2.4.2.3 (MPEG-1), ISO/IEC 13818-3
// Table 2.4.2.3 (low sampling frequencies; Layers II and III share a row).
constexpr int16_t kMpeg1Rates[3][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
};
constexpr int16_t kMpeg2Rates[2][15] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
constexpr int32_t kMpegSampleRates[3] = {44100, 48000, 32000};  // MPEG-1; /2 MPEG-2, /4 MPEG-2.5

struct MpegAudioHeader {
    int version;       // 1 MPEG-1, 2 MPEG-2, 25 MPEG-2.5
    int layer;         // 1..3
    int32_t bit_rate;  // bits per second
    int32_t sample_rate;
    int padding;
};

bool ReadMpegAudioHeader(const uint8_t* h, MpegAudioHeader* out) {
    const int version_bits = (h[1] >> 3) & 3, layer_bits = (h[1] >> 1) & 3;
    const int rate_index = h[2] >> 4, sampling_index = (h[2] >> 2) & 3;
    if (version_bits == 1 || layer_bits == 0 || rate_index == 0 || rate_index == 15 || sampling_index == 3)
        return false;
    out->version = version_bits == 3 ? 1 : version_bits == 2 ? 2 : 25;
    out->layer = 4 - layer_bits;
    const int kbps = out->version == 1 ? kMpeg1Rates[out->layer - 1][rate_index]
                                       : kMpeg2Rates[out->layer == 1 ? 0 : 1][rate_index];
    out->bit_rate = kbps * 1000;
    out->sample_rate = kMpegSampleRates[sampling_index] / (out->version == 1 ? 1 : out->version == 2 ? 2 : 4);
    out->padding = (h[2] >> 1) & 1;
    return true;
}

// Frame bytes without the padding slot; Layer III of MPEG-2 and 2.5 carries 576 samples,
// so half the bytes of MPEG-1's 1152.
int32_t MpegAudioFrameBytes(const MpegAudioHeader& m) {
    if (m.layer == 1) return 4 * (12 * m.bit_rate / m.sample_rate);
    const int32_t factor = (m.layer == 3 && m.version != 1) ? 72 : 144;
    return factor * m.bit_rate / m.sample_rate;
}

}  // namespace

bool ParseMpegAudioHeader(const uint8_t* h, AudioFrameInfo* info) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
    MpegAudioHeader m;
    if (!ReadMpegAudioHeader(h, &m)) return false;
    info->frame_bytes = MpegAudioFrameBytes(m) + m.padding * (m.layer == 1 ? 4 : 1);
    info->samples = m.layer == 1 ? 384 : (m.layer == 3 && m.version != 1) ? 576 : 1152;
    info->sample_rate = m.sample_rate;
    return info->frame_bytes > 4;
}

bool ParseAc3Header(const uint8_t* h, AudioFrameInfo* info) {
    // ATSC A/52 5.4.1: syncword, crc1, fscod (2 bits) | frmsizecod (6 bits), bsid.
    if (h[0] != 0x0B || h[1] != 0x77) return false;
    const int fscod = h[4] >> 6, frmsizecod = h[4] & 0x3F, bsid = h[5] >> 3;
    if (fscod == 3 || frmsizecod > 37 || bsid > 10) return false;
    static constexpr int16_t kKbps[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160,
                                          192, 224, 256, 320, 384, 448, 512, 576, 640};
    static constexpr int32_t kRates[3] = {48000, 44100, 32000};
    const int32_t kbps = kKbps[frmsizecod >> 1];
    // Table 5.18 in 16-bit words: 1536 samples at the bit rate; 44.1 kHz frames alternate
    // between the floor and one word more, chosen by the low bit of frmsizecod.
    int32_t words = kbps * 96000 / kRates[fscod];
    if (fscod == 1) words += frmsizecod & 1;
    info->frame_bytes = words * 2;
    info->samples = 1536;
    info->sample_rate = kRates[fscod];
    return true;
}

bool ParseAdtsHeader(const uint8_t* h, AudioFrameInfo* info) {
    // ISO/IEC 13818-7 6.2: adts_fixed_header and adts_variable_header.
    if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0) return false;
    static constexpr int32_t kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                           22050, 16000, 12000, 11025, 8000, 7350};
    const int sf_index = (h[2] >> 2) & 0x0F;
    if (sf_index >= 13) return false;
    const int32_t length = ((h[3] & 0x03) << 11) | (h[4] << 3) | (h[5] >> 5);
    const int32_t header = (h[1] & 0x01) ? 7 : 9;  // protection_absent = 0 adds a CRC
    if (length <= header) return false;
    info->frame_bytes = length;
    info->samples = 1024 * ((h[6] & 0x03) + 1);
    info->sample_rate = kRates[sf_index];
    return true;
}

bool BuildMpegAudioMediaType(const uint8_t* h, StreamMediaType* type, uint32_t* frame_length) {
    MpegAudioHeader m;
    if (!h || !ReadMpegAudioHeader(h, &m)) return false;
    static constexpr uint16_t kModeFlag[4] = {1, 2, 4, 8};  // stereo, joint, dual, mono
    const uint16_t mode = kModeFlag[h[3] >> 6];
    const int32_t bytes = MpegAudioFrameBytes(m);
    StreamMediaType t;
    t.major = MajorType::Audio;
    t.subtype = Subtype::MpegAudio;
    t.format = FormatType::WaveFormatEx;
    Mpeg1WaveFormat& w = t.wave;
    w.wFormatTag = 0x50;  // WAVE_FORMAT_MPEG
    w.nChannels = mode == 8 ? 1 : 2;
    w.nSamplesPerSec = static_cast<uint32_t>(m.sample_rate);
    w.nAvgBytesPerSec = static_cast<uint32_t>(m.bit_rate / 8);
    w.nBlockAlign = static_cast<uint16_t>(bytes);
    w.wBitsPerSample = 0;
    w.cbSize = 22;
    w.fwHeadLayer = static_cast<uint16_t>(m.layer == 1 ? 1 : m.layer == 2 ? 2 : 4);
    w.dwHeadBitrate = static_cast<uint32_t>(m.bit_rate);
    w.fwHeadMode = mode;
    w.fwHeadModeExt = static_cast<uint16_t>((h[3] >> 4) & 6);
    w.wHeadEmphasis = static_cast<uint16_t>(h[3] & 3);
    // ACM_MPEG_ID_MPEG1 0x10, _PROTECTIONBIT 0x08, _ORIGINALHOME 0x04, _COPYRIGHT 0x02,
    // _PRIVATEBIT 0x01; copyright is bit 3 and original bit 2 of the fourth header byte.
    w.fwHeadFlags = static_cast<uint16_t>(0x10 | ((h[1] & 1) ? 0x08 : 0) | (h[3] & 0x04) |
                                          ((h[3] >> 2) & 0x02) | (h[2] & 0x01));
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
        AudioFrameInfo info;
        bool confirmed = false;
        if (IsSync(q) && ParseHeader(q, &info)) {
            if (state.expected_sync == 0) {
                // Exactly where the previous confirmed frame ends.
                confirmed = true;
            } else {
                // A sync word alone may be frame data: the frame it announces must end in
                // another sync word. Wait for those bytes.
                if (static_cast<int64_t>(cursor.length) <= static_cast<int64_t>(info.frame_bytes) + tail)
                    return {};
                AudioFrameInfo next;
                confirmed = IsSync(q + info.frame_bytes) && ParseHeader(q + info.frame_bytes, &next);
            }
        }
        if (!confirmed && state.expected_sync == 0) state.expected_sync = -1;  // lost: search again
        ++cursor.pos;
        --cursor.length;
        if (confirmed) {
            state.expected_sync = info.frame_bytes - 1;
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
    AudioFrameInfo info;
    if (unit.length <= ScanTail() || !ParseHeader(unit.Data(), &info) || info.sample_rate <= 0) return 0;
    return static_cast<int64_t>(info.samples) * 10000000 / info.sample_rate;
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
    return q[0] == 0xFF && q[1] >= 0xE0 && (q[1] & 0x18) != 0x08 && (q[1] & 0x06) != 0 && q[2] > 0x0F &&
           q[2] < 0xF0 && (q[2] & 0x0C) != 0x0C;
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
