#include "editor/core/ps_parser.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "common/audio_headers.h"
#include "editor/core/bytes.h"
#include "editor/core/clip_probe.h"

namespace editor {
namespace {

// Longest unit the state machine handles at once: a PES packet (6 + 65,535 bytes).
constexpr size_t kMaxUnit = 6 + 65535;

// 33-bit time stamp of ISO/IEC 13818-1 2.4.3.7 (marker bits not checked), at p[0..4].
int64_t ReadTimeStamp(const uint8_t* p) {
    return (int64_t(p[0] >> 1) & 7) << 30 | int64_t(p[1]) << 22 | int64_t(p[2] >> 1) << 15 | int64_t(p[3]) << 7 |
           int64_t(p[4] >> 1);
}

int64_t TicksTo100ns(int64_t ticks) {
    return ticks * 10000 / 90;
}

}  // namespace

CPsParser::CPsParser(bool mpeg1, const char* log_name) : mpeg1_(mpeg1), log_name_(log_name) {
    Reset();
}

CPsParser::~CPsParser() {
    Close();
}

bool CPsParser::Reset() {
    const bool ok = input_.Create(kInputRingSize);
    state_ = State::Search;
    for (Stream& s : video_)
        s.Clear();
    for (Stream& s : audio_)
        s.Clear();
    first_video_ = first_audio_ = -1;
    audio_kind_ = kAudioNone;
    audio_frame_bytes_ = -1;
    ac3_frame_duration_ = 0;
    dropped_bytes_ = packs_ = packets_ = errors_ = 0;
    last_video_pts_ = last_audio_pts_ = -1;
    taken_ = Taken::None;
    taken_index_ = -1;
    items_.clear();
    carry_length_ = cursor_ = 0;
    return ok;
}

void CPsParser::Close() {
    input_.Destroy();
    for (Stream& s : video_)
        s.Clear();
    for (Stream& s : audio_)
        s.Clear();
    items_.clear();
    items_.shrink_to_fit();
    scratch_.clear();
    scratch_.shrink_to_fit();
    taken_ = Taken::None;
}

void CPsParser::SetLog(bool on) {
    if (on && !log_on_) std::remove(log_name_.c_str());
    log_on_ = on;
}

void CPsParser::Log(const char* format, ...) {
    if (!log_on_) return;
    std::FILE* f = std::fopen(log_name_.c_str(), "a");
    if (!f) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fclose(f);
}

void CPsParser::Feed(const uint8_t* data, size_t length) {
    if (!input_.Valid() || !data) return;
    while (length > 0) {
        const size_t room = input_.FreeSpace();
        const size_t n = std::min(room, length);
        if (n > 0) {
            input_.PutBytes(data, n);
            data += n;
            length -= n;
        }
        while (Step()) {
        }
        // The ring holds more than any one unit, so a full ring with no step possible
        // can only mean a unit the machine cannot finish: resynchronise.
        if (n == 0 && input_.FreeSpace() == 0) {
            ++errors_;
            input_.Skip(input_.FillLevel());
            state_ = State::Search;
        }
    }
}

// One step of the machine; false when it needs more input.
bool CPsParser::Step() {
    uint8_t h[6];
    switch (state_) {
        case State::Search: {
            input_.SkipToStartCode();
            if (input_.Peek(h, 4) < 4) return false;
            if (h[0] == 0 && h[1] == 0 && h[2] == 1 && h[3] == 0xBA) {
                state_ = State::Pack;
            } else {
                input_.Skip(1);
            }
            return true;
        }
        case State::Pack:
            return StepPack();
        case State::Next: {
            input_.SkipToStartCode();
            if (input_.Peek(h, 4) < 4) return false;
            if (!(h[0] == 0 && h[1] == 0 && h[2] == 1)) {
                input_.Skip(1);
                return true;
            }
            if (h[3] < 0xB9) {
                if (!mpeg1_) Log("Skipping... Something wrong!\n");
                input_.Skip(1);
                return true;
            }
            state_ = h[3] == 0xBA   ? State::Pack
                     : h[3] == 0xBB ? State::System
                     : h[3] == 0xB9 ? State::End
                                    : State::Packet;
            return true;
        }
        case State::System: {
            if (input_.Peek(h, 6) < 6) return false;
            const size_t len = 6 + (size_t(h[4]) << 8 | h[5]);
            if (input_.FillLevel() < len) return false;
            scratch_.resize(kMaxUnit);
            input_.Read(scratch_.data(), len);
            if (len >= 12) {
                const uint8_t* p = scratch_.data();
                Log("SYSTEM %d, ", int(len));
                Log("RateBound %d, AudioBound %d, Fixed %d, CSPS %d, ALock %d, VLock %d, "
                    "VideoBound %d,",
                    int((p[6] & 0x7F) << 15 | p[7] << 7 | p[8] >> 1), p[9] >> 2, (p[9] >> 1) & 1, p[9] & 1, p[10] >> 7,
                    (p[10] >> 6) & 1, p[10] & 0x1F);
                for (size_t i = 12; i + 3 <= len && (p[i] & 0x80); i += 3)
                    Log(mpeg1_ ? "m_nStreamID %X, Scale %d, BufferSize %d; " : "StreamID %X, Scale %d, BufferSize %d; ",
                        p[i], (p[i + 1] >> 5) & 1, (p[i + 1] & 0x1F) << 8 | p[i + 2]);
                Log("\n");
            }
            state_ = State::Next;
            return true;
        }
        case State::Packet:
            return StepPacket();
        case State::End:
            if (input_.Skip(4) < 4) return false;
            Log(mpeg1_ ? "End of MPEG1 %d\n" : "End of MPEG2\n", int(packs_));
            state_ = State::Search;
            return true;
    }
    return false;
}

bool CPsParser::StepPack() {
    uint8_t h[14];
    if (mpeg1_) {
        if (input_.Peek(h, 12) < 12) return false;
        if ((h[4] >> 4) != 0x2) {
            Log("Error not MPEG1 Pack\n");
            ++errors_;
            input_.Skip(4);
            state_ = State::Search;
            return true;
        }
        input_.Skip(12);
        ++packs_;
        const int64_t scr = (int64_t(h[4] >> 1) & 7) << 30 | int64_t(h[5]) << 22 | int64_t(h[6] >> 1) << 15 |
                            int64_t(h[7]) << 7 | (h[8] >> 1);
        Log("PACK %d, SCR %ld, MuxRate %d\n", int(packs_), long(scr),
            int((h[9] & 0x7F) << 15 | h[10] << 7 | h[11] >> 1));
    } else {
        if (input_.Peek(h, 14) < 14) return false;
        if ((h[4] >> 6) != 1) {
            Log("Error not MPEG2 Pack\n");
            ++errors_;
            input_.Skip(4);
            state_ = State::Search;
            return true;
        }
        const size_t stuffing = h[13] & 7;
        if (input_.FillLevel() < 14 + stuffing) return false;
        input_.Skip(14 + stuffing);
        ++packs_;
        const int64_t base = (int64_t(h[4] >> 3) & 7) << 30 | int64_t(h[4] & 3) << 28 | int64_t(h[5]) << 20 |
                             int64_t(h[6] >> 3) << 15 | int64_t(h[6] & 3) << 13 | int64_t(h[7]) << 5 | (h[8] >> 3);
        const int ext = (h[8] & 3) << 7 | h[9] >> 1;
        Log("PACK %d, SCR_base %ld, SCR_ext %ld, MuxRate %d, Staff %d\n", int(packs_), long(base), long(ext),
            int(h[10] << 14 | h[11] << 6 | h[12] >> 2), int(stuffing));
    }
    state_ = State::Next;
    return true;
}

bool CPsParser::StepPacket() {
    uint8_t h[6];
    if (input_.Peek(h, 6) < 6) return false;
    const size_t len = 6 + (size_t(h[4]) << 8 | h[5]);
    if (input_.FillLevel() < len) return false;
    scratch_.resize(kMaxUnit);
    input_.Read(scratch_.data(), len);
    state_ = State::Next;
    ParsePacket(scratch_.data(), len);
    return true;
}

void CPsParser::ParsePacket(const uint8_t* p, size_t n) {
    const int id = p[3];
    ++packets_;
    if (id == 0xBE) {
        Log("PADDING, Size %d\n", int(n - 6));
        return;
    }
    if (id == 0xBC || id == 0xBF || id == 0xF0 || id == 0xF1 || id == 0xF2 || id == 0xF8 || id == 0xFF) {
        Log("Other Types, Size %d\n", int(n - 6));
        return;
    }
    if (mpeg1_) {
        ParseMpeg1Packet(p, n);
    } else {
        ParseMpeg2Packet(p, n);
    }
}

void CPsParser::ParseMpeg2Packet(const uint8_t* p, size_t n) {
    Log("  PACKET: %d, ", int(packets_));
    if (n < 9 || (p[6] & 0xC0) != 0x80) {
        Log("Error Packet Header!!!\n");
        ++errors_;
        return;
    }
    const int flags = p[7];
    const size_t header_end = 9 + size_t(p[8]);
    Log("Scramble %d, Priority %d, Alignment %d, Copyright %d, ORIGorCOPY %d, PTS_DTS %d, "
        "ESCR %d, ESrate %d, DSMtrick %d, CopyInfo %d, PES_CRC %d, PESextension %d, "
        "PESHeaderDataLength %d",
        (p[6] >> 4) & 3, (p[6] >> 3) & 1, (p[6] >> 2) & 1, (p[6] >> 1) & 1, p[6] & 1, flags >> 6, (flags >> 5) & 1,
        (flags >> 4) & 1, (flags >> 3) & 1, (flags >> 2) & 1, (flags >> 1) & 1, flags & 1, p[8]);
    if (header_end > n) {
        Log("\nError Packet Header!!!\n");
        ++errors_;
        return;
    }
    int64_t time = kNoTime;
    size_t at = 9;
    if ((flags >> 6) >= 2 && header_end >= 14) {
        const int64_t pts = ReadTimeStamp(p + 9);
        const bool dts = (flags >> 6) == 3 && header_end >= 19;
        time = TicksTo100ns(pts);
        LogTime(p[3] >= 0xE0 && p[3] <= 0xEF, pts, dts ? ReadTimeStamp(p + 14) : -1);
        at += dts ? 10 : 5;
    }
    if ((flags & 0x20) && at + 6 <= header_end) {  // ESCR: 33-bit base, 9-bit extension
        const uint8_t* e = p + at;
        const int64_t base = (int64_t(e[0] >> 3) & 7) << 30 | int64_t(e[0] & 3) << 28 | int64_t(e[1]) << 20 |
                             int64_t(e[2] >> 3) << 15 | int64_t(e[2] & 3) << 13 | int64_t(e[3]) << 5 | (e[4] >> 3);
        Log("\n    ESCRbase %ld, ESCRext %ld, ", long(base), long((e[4] & 3) << 7 | e[5] >> 1));
        at += 6;
    }
    if ((flags & 0x10) && at + 3 <= header_end)
        Log("\n    ESrate %ld, ", long((p[at] & 0x7F) << 15 | p[at + 1] << 7 | p[at + 2] >> 1));
    Log("\n");
    RoutePayload(p[3], p + header_end, n - header_end, time);
}

void CPsParser::ParseMpeg1Packet(const uint8_t* p, size_t n) {
    Log("  PACKET: %d, ", int(packets_));
    size_t i = 6;
    for (int k = 0; k < 16 && i < n && p[i] == 0xFF; ++k)
        ++i;
    if (i + 2 <= n && (p[i] >> 6) == 1) i += 2;  // STD buffer scale and size
    int64_t time = kNoTime;
    const bool video = p[3] >= 0xE0 && p[3] <= 0xEF;
    if (i < n && (p[i] >> 4) == 0x2 && i + 5 <= n) {
        time = TicksTo100ns(ReadTimeStamp(p + i));
        LogTime(video, ReadTimeStamp(p + i), -1);
        i += 5;
    } else if (i < n && (p[i] >> 4) == 0x3 && i + 10 <= n) {
        time = TicksTo100ns(ReadTimeStamp(p + i));
        LogTime(video, ReadTimeStamp(p + i), ReadTimeStamp(p + i + 5));
        i += 10;
    } else if (i < n && p[i] == 0x0F) {
        i += 1;
    } else {
        Log("Error Packet Header!!!\n");
        ++errors_;
        return;
    }
    if (p[3] == 0xBD) {
        Log("    PRIVATE ID:%02x, Size: %d\n", i < n ? p[i] : 0, int(n - i));
        return;
    }
    Log("\n");
    RoutePayload(p[3], p + i, n - i, time);
}

// One time line of the log: 90 kHz ticks with hours:minutes:seconds, and the distance in
// milliseconds to the previous time of that kind (MPEG-1 video also to the last audio).
void CPsParser::LogTime(bool video, int64_t pts, int64_t dts) {
    if (!log_on_) return;
    int64_t& last = video ? last_video_pts_ : last_audio_pts_;
    const long diff = last >= 0 ? long((pts - last) / 90) : 0L;
    Log(video ? "\nVPTS %ld, %02ld:%02ld:%02ld, VDIFF: %ld, " : "\nAPTS %ld, %02ld:%02ld:%02ld, ADIFF: %ld, ",
        long(pts), long(pts / 90000 / 3600), long(pts / 90000 / 60 % 60), long(pts / 90000 % 60), diff);
    if (video && mpeg1_) Log("AVDIFF: %ld, ", last_audio_pts_ >= 0 ? long((pts - last_audio_pts_) / 90) : 0L);
    if (dts >= 0) Log(", DTS %ld", long(dts));
    last = pts;
}

CPsParser::Stream* CPsParser::StreamFor(bool video, int index) {
    Stream* s = video ? &video_[index] : &audio_[index];
    if (!s->created) {
        if (!s->ring.Create(kStreamRingSize)) return nullptr;
        s->created = true;
        s->times.reserve(kTimeTableSize);
        if (video && first_video_ < 0) first_video_ = index;
        if (!video && first_audio_ < 0) {
            first_audio_ = index;
            audio_kind_ = index < kAc3IndexBase ? kAudioMpeg : index < kLpcmIndexBase ? kAudioAc3 : kAudioLpcm;
        }
    }
    return s;
}

void CPsParser::Append(Stream* s, const uint8_t* data, size_t n, int64_t time, int64_t time_offset, int frames) {
    if (!s || n == 0) return;
    if (!s->ring.PutBytes(data, n)) {
        dropped_bytes_ += n;
        return;
    }
    if (time != kNoTime && time_offset >= 0 && size_t(time_offset) < n) {
        if (s->times.size() == kTimeTableSize) s->times.erase(s->times.begin());
        s->times.push_back({s->written + time_offset, time, frames, false});
    }
    s->written += int64_t(n);
}

void CPsParser::RoutePayload(int id, const uint8_t* payload, size_t n, int64_t time) {
    if (id >= 0xE0 && id <= 0xEF) {
        Stream* s = StreamFor(true, id - 0xE0);
        Append(s, payload, n, time, 0, 0);
        Log("    Video ID:%d, Size: %d, ASize: %d\n", id - 0xE0, int(n), s ? int(s->ring.FillLevel()) : 0);
    } else if (id >= 0xC0 && id <= 0xDF) {
        Stream* s = StreamFor(false, id - 0xC0);
        Append(s, payload, n, time, 0, 0);
        Log("    Audio ID:%d, Size: %d, ASize: %d\n", id - 0xC0, int(n), s ? int(s->ring.FillLevel()) : 0);
    } else if (id == 0xBD && !mpeg1_) {
        RoutePrivate(payload, n, time);
    }
}

void CPsParser::RoutePrivate(const uint8_t* p, size_t n, int64_t time) {
    if (n < 1) return;
    const int sub = p[0];
    if (sub >= 0x80 && sub <= 0x88) {
        if (n < 4) return;
        const int frames = p[1];
        const int pointer = p[2] << 8 | p[3];
        const uint8_t* data = p + 4;
        const size_t len = n - 4;
        const int64_t first = pointer >= 1 ? pointer - 1 : -1;
        if (audio_frame_bytes_ < 0 && first >= 0 && size_t(first) < len) {
            common::Ac3FrameHeader a;
            if (common::ReadAc3Header({data + first, len - size_t(first)}, &a)) {
                audio_frame_bytes_ = a.frameBytes;
                ac3_frame_duration_ = int64_t(a.samples) * 10000000 / a.sampleRate;
            }
        }
        Append(StreamFor(false, kAc3IndexBase + sub - 0x80), data, len, time, first, frames);
    } else if (sub >= 0xA0 && sub <= 0xA8) {
        if (n < 7) return;
        const int frames = p[1];
        const int pointer = p[2] << 8 | p[3];
        const uint8_t* data = p + 7;
        const size_t len = n - 7;
        const int index = kLpcmIndexBase + sub - 0xA0;
        Stream* s = StreamFor(false, index);
        if (!s) return;
        const int bits_code = p[5] >> 6;
        LpcmFormat f;
        f.channels = uint16_t((p[5] & 7) + 1);
        f.samples_per_sec = (p[5] >> 4) & 1 ? 96000 : 48000;
        f.bits_per_sample = uint16_t(bits_code == 0 ? 16 : bits_code == 1 ? 20 : 24);
        f.block_align = uint16_t(f.channels * f.bits_per_sample / 8);
        f.avg_bytes_per_sec = f.samples_per_sec * f.block_align;
        s->lpcm = f;
        // One frame is 1/600 s: 80 samples at 48 kHz, 160 at 96 kHz.
        const int samples = f.samples_per_sec == 96000 ? 160 : 80;
        s->lpcm_frame_bytes = f.bits_per_sample * f.channels * samples / 8;
        if (audio_frame_bytes_ < 0) audio_frame_bytes_ = s->lpcm_frame_bytes;
        const int64_t first = pointer >= 4 ? pointer - 4 : -1;
        if (s->lpcm_origin < 0 && first >= 0 && size_t(first) < len) s->lpcm_origin = s->written + first;
        Append(s, data, len, time, first, frames);
    }
}

int CPsParser::GetFileType(const std::string& path) const {
    return GetMpegFileTypeEx(path);
}

bool CPsParser::GetLpcmFormat(int index, LpcmFormat* format) const {
    if (index < kLpcmIndexBase || index >= kAudioStreams) return false;
    const Stream& s = audio_[index];
    if (!s.created || s.lpcm.channels == 0) return false;
    if (format) *format = s.lpcm;
    return true;
}

size_t CPsParser::Take(Stream* s, uint8_t* buffer, size_t capacity) {
    // The bytes of the previous take that a start code or header may continue from.
    std::vector<uint8_t> carry = std::move(s->carry);
    s->carry.clear();
    const size_t n = s->created ? s->ring.Read(buffer, capacity) : 0;
    if (n == 0) {
        // Nothing new: the carried bytes wait for the next take.
        s->carry = std::move(carry);
        items_.clear();
        carry_length_ = cursor_ = 0;
        empty_take_ = true;
        return 0;
    }
    empty_take_ = false;
    items_.resize(carry.size() + n);
    std::copy(carry.begin(), carry.end(), items_.begin());
    if (n) std::memcpy(items_.data() + carry.size(), buffer, n);
    carry_length_ = carry.size();
    cursor_ = 0;
    s->taken += int64_t(n);
    return n;
}

size_t CPsParser::TakeVideo(int index, uint8_t* buffer, size_t capacity) {
    if (index < 0 || index >= kVideoStreams || !buffer) return 0;
    taken_ = Taken::Video;
    taken_index_ = index;
    return Take(&video_[index], buffer, capacity);
}

size_t CPsParser::TakeAudio(int index, uint8_t* buffer, size_t capacity) {
    if (index < 0 || index >= kAudioStreams || !buffer) return 0;
    taken_ = Taken::Audio;
    taken_index_ = index;
    return Take(&audio_[index], buffer, capacity);
}

// The newest remembered time at or before `position`, each used once; for AC-3 and
// LPCM the frames its substream header counts get times one frame apart.
int64_t CPsParser::TimeFor(Stream* s, int64_t position, bool interpolate) {
    auto& t = s->times;
    size_t newest = 0;
    while (newest + 1 < t.size() && t[newest + 1].position <= position)
        ++newest;
    if (!t.empty() && t[newest].position <= position) {
        t.erase(t.begin(), t.begin() + ptrdiff_t(newest));
        if (!t[0].used) {
            t[0].used = true;
            int64_t time = t[0].time;
            // An LPCM packet's first access unit may lie off the frame grid: the frame
            // starts that many samples later.
            if (s->lpcm.avg_bytes_per_sec > 0 && position > t[0].position)
                time += (position - t[0].position) * 10000000 / s->lpcm.avg_bytes_per_sec;
            s->interp_time = time;
            s->interp_left = t[0].frames - 1;
            return time;
        }
    }
    if (interpolate && s->interp_left > 0 && s->interp_time != kNoTime) {
        --s->interp_left;
        const int64_t step = taken_index_ >= kLpcmIndexBase ? 16666 : ac3_frame_duration_;
        s->interp_time += step;
        return s->interp_time;
    }
    return kNoTime;
}

bool CPsParser::NextItem(ParserItem* item) {
    if (!item || taken_ == Taken::None || empty_take_) return false;
    return taken_ == Taken::Video ? NextVideoItem(item) : NextAudioItem(item);
}

bool CPsParser::NextVideoItem(ParserItem* item) {
    Stream* s = &video_[taken_index_];
    const size_t n = items_.size();
    const uint8_t* b = items_.data();
    while (cursor_ + 4 <= n) {
        const size_t i = cursor_++;
        if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
        const uint8_t code = b[i + 3];
        int kind = 0;
        if (code == 0x00)
            kind = kItemPicture;
        else if (code == 0xB3)
            kind = kItemSequenceHeader;
        else if (code == 0xB7)
            kind = kItemSequenceEnd;
        else if (code == 0xB8)
            kind = kItemGop;
        if (!kind) continue;
        cursor_ = i + 4;
        item->kind = kind;
        item->position = int64_t(i) - int64_t(carry_length_);
        item->data = b + i;
        item->available = n - i;
        item->time = TimeFor(s, s->taken - int64_t(n - carry_length_) + item->position, false);
        return true;
    }
    // Up to three bytes that may begin a start code go in front of the next take.
    const size_t keep = std::min<size_t>(3, n - std::min(n, cursor_));
    s->carry.assign(items_.end() - ptrdiff_t(keep), items_.end());
    cursor_ = n;
    return false;
}

bool CPsParser::NextAudioItem(ParserItem* item) {
    Stream* s = &audio_[taken_index_];
    const int kind = taken_index_ < kAc3IndexBase ? kAudioMpeg : taken_index_ < kLpcmIndexBase ? kAudioAc3 : kAudioLpcm;
    const size_t n = items_.size();
    const uint8_t* b = items_.data();
    const int64_t payload_start = s->taken - int64_t(n - carry_length_);  // stream position
    auto stream_pos = [&](size_t i) { return payload_start + int64_t(i) - int64_t(carry_length_); };
    if (kind == kAudioLpcm && s->lpcm_origin >= 0 && s->lpcm_frame_bytes > 0 && stream_pos(cursor_) < s->lpcm_origin &&
        s->skip == 0)
        s->skip = s->lpcm_origin - stream_pos(cursor_);
    for (;;) {
        if (s->skip > 0) {
            const size_t step = size_t(std::min<int64_t>(s->skip, int64_t(n - cursor_)));
            cursor_ += step;
            s->skip -= int64_t(step);
            if (s->skip > 0) return false;
        }
        if (kind == kAudioLpcm) {
            if (s->lpcm_origin < 0 || s->lpcm_frame_bytes <= 0 || cursor_ >= n) {
                cursor_ = n;
                return false;
            }
            s->skip = s->lpcm_frame_bytes;
            break;
        }
        if (cursor_ + (kind == kAudioAc3 ? common::kAc3HeaderBytes : size_t{4}) > n) {
            // A header cut by the end of the payload continues in the next take.
            s->carry.assign(items_.begin() + ptrdiff_t(std::min(cursor_, n)), items_.end());
            cursor_ = n;
            return false;
        }
        const uint8_t* p = b + cursor_;
        int length = 0;
        bool match = false;
        if (kind == kAudioAc3) {
            common::Ac3FrameHeader a;
            match = common::ReadAc3Header({p, n - cursor_}, &a);
            if (match) length = a.frameBytes;
        } else {
            common::MpegAudioFrameHeader h;
            const uint32_t word = LowFirst32(p);
            // Protection, padding, private, mode extension, copyright, original and
            // emphasis may change from frame to frame.
            constexpr uint32_t kSame = 0xC0FCFEFF;
            if (common::ReadMpegAudioHeader({p, 4}, &h)) {
                if (s->have_reference) {
                    match = (word & kSame) == (s->reference & kSame);
                } else {
                    // The first header must be followed by another where there is room
                    // to see one, so payload bytes that look like a header do not start
                    // the walk.
                    const size_t next = cursor_ + size_t(h.frameBytes);
                    match = next + 4 > n || (LowFirst32(b + next) & kSame) == (word & kSame);
                    if (match) {
                        s->reference = word;
                        s->have_reference = true;
                    }
                }
                length = h.frameBytes;
            }
        }
        if (match && length > 0) {
            s->skip = length;
            break;
        }
        ++cursor_;  // resynchronise byte by byte
    }
    const size_t i = cursor_;
    item->kind = kItemAudioFrame;
    item->position = int64_t(i) - int64_t(carry_length_);
    item->data = b + i;
    item->available = n - i;
    item->time = TimeFor(s, stream_pos(i), kind != kAudioMpeg);
    return true;
}

}  // namespace editor
