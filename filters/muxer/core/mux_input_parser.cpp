#include "filters/muxer/core/mux_input_parser.h"

#include <algorithm>
#include <cstring>

#include "common/bitstream/start_code.h"
#include "filters/muxer/core/mux_syntax.h"
#include "filters/muxer/core/video_parser.h"

namespace muxer {

namespace {

constexpr int32_t kTs = 188;
constexpr int32_t kMinProgramBytes = 20;

bool HasStartCode(const uint8_t* p) {
    return p[0] == 0x00 && p[1] == 0x00 && p[2] == 0x01;
}

// A 33-bit PTS or DTS (2.4.3.7) as 100-ns units.
int64_t ReadTimeStamp(const uint8_t* p) {
    const uint64_t t = (static_cast<uint64_t>((p[0] >> 1) & 0x07) << 30) | (static_cast<uint64_t>(p[1]) << 22) |
                       (static_cast<uint64_t>(p[2] >> 1) << 15) | (static_cast<uint64_t>(p[3]) << 7) |
                       static_cast<uint64_t>(p[4] >> 1);
    return static_cast<int64_t>(t * 1000 / 9);
}

// An MPEG-2 PES header (from the start code) whose time-stamp fields are well formed.
// `size` bytes are available; false when the header is not there whole or is malformed.
struct PesHeader {
    int32_t headerLength = 0;  // bytes up to the payload
    std::optional<int64_t> pts, dts;
};
bool ReadPesHeader(const uint8_t* p, int32_t size, PesHeader* out) {
    if (size < 9 || !HasStartCode(p) || (p[6] & 0xC0) != 0x80) return false;
    const int32_t length = p[8] + 9;
    if (length > size) return false;
    const int flags = p[7] >> 6;
    if (flags == 1) return false;
    if (flags == 3) {
        if (length < 19 || (p[9] & 0xF1) != 0x31 || (p[14] & 0xF1) != 0x11) return false;
        if (!(p[11] & 1) || !(p[13] & 1) || !(p[16] & 1) || !(p[18] & 1)) return false;
        out->pts = ReadTimeStamp(p + 9);
        out->dts = ReadTimeStamp(p + 14);
    } else if (flags == 2) {
        if (length < 14 || (p[9] & 0xF1) != 0x21 || !(p[11] & 1) || !(p[13] & 1)) return false;
        out->pts = ReadTimeStamp(p + 9);
    }
    out->headerLength = length;
    return true;
}

}  // namespace

CMuxInputParser::CMuxInputParser() : buffer_(new uint8_t[kBufferSize]) {}

int64_t FoundStreamBitrate(StreamType type, const StreamMediaType& media) {
    const int64_t rate =
        media.format == FormatType::WaveFormatEx ? media.wave.nAvgBytesPerSec * 8LL : media.video.dwBitRate;
    return rate > 0 && rate < 100000000 ? rate : (IsVideoType(type) ? 8000000 : 448000);
}

bool CMuxInputParser::Append(const uint8_t* data, int32_t size) {
    if (size < 0) return false;
    if (count_ == 0) offset_ = 0;
    if (kBufferSize - offset_ - count_ < size) {
        if (offset_ == 0 || kBufferSize - count_ < size) return false;
        std::memmove(buffer_.get(), buffer_.get() + offset_, static_cast<size_t>(count_));
        offset_ = 0;
    }
    if (size > 0) std::memcpy(buffer_.get() + offset_ + count_, data, static_cast<size_t>(size));
    count_ += size;
    return true;
}

void CMuxInputParser::Finish() {
    atEnd_ = true;
    Parse();
    atEnd_ = false;
}

void CMuxInputParser::ClearStreams() {
    streams_.clear();
}

void CMuxInputParser::DecideKind() {
    const uint8_t* p = buffer_.get() + offset_;
    const uint8_t* sync = static_cast<const uint8_t*>(std::memchr(p, 0x47, static_cast<size_t>(count_)));
    kind_ = Kind::Program;
    if (!sync) return;
    const int32_t r = count_ - static_cast<int32_t>(sync - p);
    int32_t yes = 0, no = 0;
    for (int32_t at = 0; at < r; at += kTs)
        (sync[at] == 0x47 ? yes : no)++;
    if (yes > no) kind_ = Kind::Transport;
}

void CMuxInputParser::Parse() {
    if (kind_ == Kind::Undecided) {
        if (count_ == 0) return;
        DecideKind();
    }
    if (kind_ == Kind::Transport)
        ParseTransport();
    else
        ParseProgram();
}

const CMuxInputParser::Entry* CMuxInputParser::FindOrAdd(uint32_t key, const uint8_t* packet, int32_t size) {
    for (const Entry& e : streams_)
        if (e.key == key) return &e;
    StreamMediaType media;
    int32_t type = ProbeStream(packet, size, kind_ == Kind::Program, &media);
    if (type == 0 && h264Video_) type = ProbeH264Video(packet, size, &media);
    if (type == 0) return nullptr;
    // Kept even without a stream, so that a stream that could not be made is not probed
    // again.
    streams_.push_back({OnNewStream(static_cast<StreamType>(type), media), key});
    return &streams_.back();
}

int32_t CMuxInputParser::ProbeStream(const uint8_t* p, int32_t size, bool programStream, StreamMediaType* media) {
    *media = {};
    PesHeader h;
    if (size < 9 || !HasStartCode(p) || !ReadPesHeader(p, size, &h)) return 0;
    const uint8_t id = p[3];
    const uint8_t* payload = p + h.headerLength;
    const int32_t left = size - h.headerLength;
    if (id >= 0xE0 && id <= 0xEF) {
        if (left >= 12 && HasStartCode(payload) && payload[3] == 0xB3 &&
            BuildMpegVideoMediaType(payload, left, false, media))
            return static_cast<int32_t>(StreamType::Mpeg2Video);
        return 0;
    }
    if (id >= 0xC0 && id <= 0xDF) {
        uint32_t frameLength = 0;
        if (left >= 4 && payload[0] == 0xFF && payload[1] >= 0xF8 &&
            BuildMpegAudioMediaType(payload, media, &frameLength))
            return static_cast<int32_t>(StreamType::Mpeg1Audio);
        return 0;
    }
    if (id == 0xBD) {
        // AC-3: behind a DVD substream header (0x80-0x87, three more bytes) in a program
        // stream, directly in a transport stream.
        if (programStream) {
            if (left < 1 || payload[0] < 0x80 || payload[0] > 0x87) return 0;
        } else if (left < 2 || payload[0] != 0x0B || payload[1] != 0x77) {
            return 0;
        }
        media->major = MajorType::Audio;
        return static_cast<int32_t>(StreamType::Ac3);
    }
    return 0;
}

int32_t CMuxInputParser::ProbeH264Video(const uint8_t* p, int32_t size, StreamMediaType* media) {
    *media = {};
    PesHeader h;
    if (size < 9 || !HasStartCode(p) || p[3] < 0xE0 || p[3] > 0xEF || !ReadPesHeader(p, size, &h)) return 0;
    const uint8_t* payload = p + h.headerLength;
    const int32_t left = size - h.headerLength;
    int32_t at = left >= 4 && payload[0] == 0 && HasStartCode(payload + 1) ? 4 : 3;
    if (left <= at || !HasStartCode(payload + at - 3)) return 0;
    const uint8_t header = payload[at];
    const int type = header & 0x1F;
    // forbidden_zero_bit clear; an access unit delimiter, SEI, sequence or picture
    // parameter set, or a slice (clause 7.4.1.2.3: what may open an access unit).
    if ((header & 0x80) || !(type == 9 || type == 6 || type == 7 || type == 8 || type == 1 || type == 5)) return 0;
    media->major = MajorType::Video;
    media->subtype = Subtype::H264;
    return static_cast<int32_t>(StreamType::H264Video);
}

void CMuxInputParser::ReadPatPacket(const uint8_t* payload, int32_t size, bool unitStart) {
    // A section may span packets (2.4.4.1): it starts behind the pointer_field of a packet
    // that starts a unit and goes on in the following packets of PID 0.
    if (unitStart) {
        if (size < 1) return;
        const int32_t pointer = payload[0];
        if (1 + pointer >= size) return;
        patSection_.assign(payload + 1 + pointer, payload + size);
    } else {
        if (patSection_.empty() || patSection_.size() > 1024) return;
        patSection_.insert(patSection_.end(), payload, payload + size);
    }
    if (patSection_.size() < 3) return;
    const int32_t sectionLength = ((patSection_[1] & 0x0F) << 8) | patSection_[2];
    if (patSection_[0] != 0x00 || sectionLength < 9 || sectionLength > 1021) {
        patSection_.clear();
        return;
    }
    if (patSection_.size() < static_cast<size_t>(3 + sectionLength)) return;  // wait for the rest
    const uint8_t* s = patSection_.data();
    if (Crc32Mpeg(s, static_cast<size_t>(3 + sectionLength)) != 0) {
        patSection_.clear();
        return;
    }
    const int32_t entries = (sectionLength - 9) / 4;
    listed_.clear();
    for (int32_t i = 0; i < entries && listed_.size() < kMaxListedPids; ++i) {
        const uint8_t* e = s + 8 + 4 * i;
        listed_.push_back(static_cast<uint16_t>(((e[2] & 0x1F) << 8) | e[3]));
    }
    patSection_.clear();
}

void CMuxInputParser::ParseTransport() {
    while (count_ >= kTs + 1 || (atEnd_ && count_ >= kTs)) {
        const uint8_t* p = buffer_.get() + offset_;
        // A packet starts at a sync byte that the next packet's sync byte confirms.
        if (p[0] != 0x47 || (count_ > kTs && p[kTs] != 0x47)) {
            Consume(1);
            continue;
        }
        const uint16_t pid = static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
        const bool unitStart = (p[1] & 0x40) != 0;
        const bool hasPayload = (p[3] & 0x10) != 0;
        const int32_t adaptation = (p[3] & 0x20) ? p[4] + 1 : 0;
        if (!hasPayload || adaptation > 183) {
            Consume(kTs);
            continue;
        }
        const uint8_t* payload = p + 4 + adaptation;
        const int32_t size = kTs - 4 - adaptation;
        const bool listed = std::find(listed_.begin(), listed_.end(), pid) != listed_.end();
        if (pid == 0) {
            ReadPatPacket(payload, size, unitStart);
        } else if (pid != 0x1FFF && !listed && !(pid < 0x10)) {
            if (unitStart) {
                PesHeader h;
                if (ReadPesHeader(payload, size, &h)) {
                    const Entry* e = FindOrAdd(pid, payload, size);
                    if (e && e->stream && size > h.headerLength)
                        DeliverPayload(e->stream, payload + h.headerLength, size - h.headerLength, h.pts, h.dts);
                }
            } else {
                for (const Entry& e : streams_)
                    if (e.key == pid && e.stream) DeliverPayload(e.stream, payload, size, std::nullopt, std::nullopt);
            }
        }
        Consume(kTs);
    }
}

void CMuxInputParser::ParseProgram() {
    while (count_ >= kMinProgramBytes || (atEnd_ && count_ >= 4)) {
        const uint8_t* p = buffer_.get() + offset_;
        if (!HasStartCode(p)) {
            // The next start code prefix, or all but the last two bytes.
            const uint8_t* end = p + count_;
            const uint8_t* q = common::FindStartCode(p + 1, end);
            Consume(q != end ? static_cast<int32_t>(q - p) : count_ - 2);
            continue;
        }
        const uint8_t id = p[3];
        if (id == 0xB9) {  // MPEG_program_end_code
            Consume(4);
            continue;
        }
        // Only at the end can fewer than the 20 bytes be left: what cannot hold the
        // header it announces is dropped.
        if (count_ < 14) {
            if (atEnd_) Consume(count_);
            return;
        }
        if (id == 0xBA) {
            // pack_header: MPEG-2 has '01' and a stuffing length; MPEG-1 is 12 bytes.
            Consume((p[4] & 0xC0) == 0x40 ? 14 + (p[13] & 7) : 12);
            continue;
        }
        if (id == 0xBB || id == 0xBE || id == 0xBF || id == 0xBC) {
            const int32_t length = ((p[4] << 8) | p[5]) + 6;
            if (length > count_) return;  // wait for the whole packet
            Consume(length);
            continue;
        }
        if (id == 0xBD || (id >= 0xC0 && id <= 0xEF)) {
            PesHeader h;
            if (!ReadPesHeader(p, count_, &h)) {
                Consume(2);
                continue;
            }
            const int32_t length = ((p[4] << 8) | p[5]) + 6;
            if (length < h.headerLength) {
                Consume(2);
                continue;
            }
            if (length > count_) {
                if (offset_ == 0 && count_ >= kBufferSize - kTs) Consume(2);  // can never fit
                return;
            }
            const Entry* e = FindOrAdd(id, p, length);
            const uint8_t* payload = p + h.headerLength;
            int32_t size = length - h.headerLength;
            // DVD private stream 1: the 4-byte AC-3 substream header goes, once per packet.
            if (id == 0xBD && size >= 4 && payload[0] >= 0x80 && payload[0] <= 0x87) {
                payload += 4;
                size -= 4;
            }
            if (e && e->stream && size > 0) DeliverPayload(e->stream, payload, size, h.pts, h.dts);
            Consume(length);
            continue;
        }
        Consume(1);
    }
}

}  // namespace muxer
