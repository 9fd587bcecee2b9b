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

CPsParser::CPsParser(bool mpeg1, const char* logName) : mpeg1_(mpeg1), logName_(logName) {
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
    firstVideo_ = firstAudio_ = -1;
    audioKind_ = kAudioNone;
    audioFrameBytes_ = -1;
    ac3FrameDuration_ = 0;
    droppedBytes_ = packs_ = packets_ = errors_ = 0;
    lastVideoPts_ = lastAudioPts_ = -1;
    taken_ = Taken::None;
    takenIndex_ = -1;
    items_.clear();
    carryLength_ = cursor_ = 0;
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
    if (on && !logOn_) std::remove(logName_.c_str());
    logOn_ = on;
}

void CPsParser::Log(const char* format, ...) {
    if (!logOn_) return;
    std::FILE* f = std::fopen(logName_.c_str(), "a");
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
    const size_t headerEnd = 9 + size_t(p[8]);
    Log("Scramble %d, Priority %d, Alignment %d, Copyright %d, ORIGorCOPY %d, PTS_DTS %d, "
        "ESCR %d, ESrate %d, DSMtrick %d, CopyInfo %d, PES_CRC %d, PESextension %d, "
        "PESHeaderDataLength %d",
        (p[6] >> 4) & 3, (p[6] >> 3) & 1, (p[6] >> 2) & 1, (p[6] >> 1) & 1, p[6] & 1, flags >> 6, (flags >> 5) & 1,
        (flags >> 4) & 1, (flags >> 3) & 1, (flags >> 2) & 1, (flags >> 1) & 1, flags & 1, p[8]);
    if (headerEnd > n) {
        Log("\nError Packet Header!!!\n");
        ++errors_;
        return;
    }
    int64_t time = kNoTime;
    size_t at = 9;
    if ((flags >> 6) >= 2 && headerEnd >= 14) {
        const int64_t pts = ReadTimeStamp(p + 9);
        const bool dts = (flags >> 6) == 3 && headerEnd >= 19;
        time = TicksTo100ns(pts);
        LogTime(p[3] >= 0xE0 && p[3] <= 0xEF, pts, dts ? ReadTimeStamp(p + 14) : -1);
        at += dts ? 10 : 5;
    }
    if ((flags & 0x20) && at + 6 <= headerEnd) {  // ESCR: 33-bit base, 9-bit extension
        const uint8_t* e = p + at;
        const int64_t base = (int64_t(e[0] >> 3) & 7) << 30 | int64_t(e[0] & 3) << 28 | int64_t(e[1]) << 20 |
                             int64_t(e[2] >> 3) << 15 | int64_t(e[2] & 3) << 13 | int64_t(e[3]) << 5 | (e[4] >> 3);
        Log("\n    ESCRbase %ld, ESCRext %ld, ", long(base), long((e[4] & 3) << 7 | e[5] >> 1));
        at += 6;
    }
    if ((flags & 0x10) && at + 3 <= headerEnd)
        Log("\n    ESrate %ld, ", long((p[at] & 0x7F) << 15 | p[at + 1] << 7 | p[at + 2] >> 1));
    Log("\n");
    RoutePayload(p[3], p + headerEnd, n - headerEnd, time);
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
    if (!logOn_) return;
    int64_t& last = video ? lastVideoPts_ : lastAudioPts_;
    const long diff = last >= 0 ? long((pts - last) / 90) : 0L;
    Log(video ? "\nVPTS %ld, %02ld:%02ld:%02ld, VDIFF: %ld, " : "\nAPTS %ld, %02ld:%02ld:%02ld, ADIFF: %ld, ",
        long(pts), long(pts / 90000 / 3600), long(pts / 90000 / 60 % 60), long(pts / 90000 % 60), diff);
    if (video && mpeg1_) Log("AVDIFF: %ld, ", lastAudioPts_ >= 0 ? long((pts - lastAudioPts_) / 90) : 0L);
    if (dts >= 0) Log(", DTS %ld", long(dts));
    last = pts;
}

CPsParser::Stream* CPsParser::StreamFor(bool video, int index) {
    Stream* s = video ? &video_[index] : &audio_[index];
    if (!s->created) {
        if (!s->ring.Create(kStreamRingSize)) return nullptr;
        s->created = true;
        s->times.reserve(kTimeTableSize);
        if (video && firstVideo_ < 0) firstVideo_ = index;
        if (!video && firstAudio_ < 0) {
            firstAudio_ = index;
            audioKind_ = index < kAc3IndexBase ? kAudioMpeg : index < kLpcmIndexBase ? kAudioAc3 : kAudioLpcm;
        }
    }
    return s;
}

void CPsParser::Append(Stream* s, const uint8_t* data, size_t n, int64_t time, int64_t timeOffset, int frames) {
    if (!s || n == 0) return;
    if (!s->ring.PutBytes(data, n)) {
        droppedBytes_ += n;
        return;
    }
    if (time != kNoTime && timeOffset >= 0 && size_t(timeOffset) < n) {
        if (s->times.size() == kTimeTableSize) s->times.erase(s->times.begin());
        s->times.push_back({s->written + timeOffset, time, frames, false});
    }
    s->written += int64_t(n);
}

void CPsParser::RoutePayload(int id, const uint8_t* payload, size_t n, int64_t time) {
    if (id >= 0xE0 && id <= 0xEF) {
        Stream* s = StreamFor(true, id - 0xE0);
        if (wantVideo_) Append(s, payload, n, time, 0, 0);
        Log("    Video ID:%d, Size: %d, ASize: %d\n", id - 0xE0, int(n), s ? int(s->ring.FillLevel()) : 0);
    } else if (id >= 0xC0 && id <= 0xDF) {
        Stream* s = StreamFor(false, id - 0xC0);
        if (wantAudio_) Append(s, payload, n, time, 0, 0);
        Log("    Audio ID:%d, Size: %d, ASize: %d\n", id - 0xC0, int(n), s ? int(s->ring.FillLevel()) : 0);
    } else if (id == 0xBD && !mpeg1_ && wantAudio_) {
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
        if (audioFrameBytes_ < 0 && first >= 0 && size_t(first) < len) {
            common::Ac3FrameHeader a;
            if (common::ReadAc3Header({data + first, len - size_t(first)}, &a)) {
                audioFrameBytes_ = a.frameBytes;
                ac3FrameDuration_ = int64_t(a.samples) * 10000000 / a.sampleRate;
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
        const int bitsCode = p[5] >> 6;
        AudioFormat f;
        f.channels = uint16_t((p[5] & 7) + 1);
        f.samplesPerSec = (p[5] >> 4) & 1 ? 96000 : 48000;
        f.bitsPerSample = uint16_t(bitsCode == 0 ? 16 : bitsCode == 1 ? 20 : 24);
        f.blockAlign = uint16_t(f.channels * f.bitsPerSample / 8);
        f.avgBytesPerSec = f.samplesPerSec * f.blockAlign;
        s->lpcm = f;
        // One frame is 1/600 s: 80 samples at 48 kHz, 160 at 96 kHz.
        const int samples = f.samplesPerSec == 96000 ? 160 : 80;
        s->lpcmFrameBytes = f.bitsPerSample * f.channels * samples / 8;
        if (audioFrameBytes_ < 0) audioFrameBytes_ = s->lpcmFrameBytes;
        const int64_t first = pointer >= 4 ? pointer - 4 : -1;
        if (s->lpcmOrigin < 0 && first >= 0 && size_t(first) < len) s->lpcmOrigin = s->written + first;
        Append(s, data, len, time, first, frames);
    }
}

int CPsParser::GetFileType(const std::string& path) const {
    return GetMpegFileTypeEx(path);
}

bool CPsParser::GetLpcmFormat(int index, AudioFormat* format) const {
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
    // Without a buffer the payload goes straight into the item walk.
    const size_t n = !s->created ? 0
                     : buffer    ? s->ring.Read(buffer, capacity)
                                 : std::min(capacity, s->ring.FillLevel());
    if (n == 0) {
        // Nothing new: the carried bytes wait for the next take.
        s->carry = std::move(carry);
        items_.clear();
        carryLength_ = cursor_ = 0;
        emptyTake_ = true;
        return 0;
    }
    emptyTake_ = false;
    items_.resize(carry.size() + n);
    std::copy(carry.begin(), carry.end(), items_.begin());
    if (buffer)
        std::memcpy(items_.data() + carry.size(), buffer, n);
    else
        s->ring.Read(items_.data() + carry.size(), n);
    carryLength_ = carry.size();
    cursor_ = 0;
    s->taken += int64_t(n);
    return n;
}

size_t CPsParser::TakeVideo(int index, uint8_t* buffer, size_t capacity) {
    if (index < 0 || index >= kVideoStreams) return 0;
    taken_ = Taken::Video;
    takenIndex_ = index;
    return Take(&video_[index], buffer, capacity);
}

size_t CPsParser::TakeAudio(int index, uint8_t* buffer, size_t capacity) {
    if (index < 0 || index >= kAudioStreams) return 0;
    taken_ = Taken::Audio;
    takenIndex_ = index;
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
            if (s->lpcm.avgBytesPerSec > 0 && position > t[0].position)
                time += (position - t[0].position) * 10000000 / s->lpcm.avgBytesPerSec;
            s->interpTime = time;
            s->interpLeft = t[0].frames - 1;
            return time;
        }
    }
    if (interpolate && s->interpLeft > 0 && s->interpTime != kNoTime) {
        --s->interpLeft;
        const int64_t step = takenIndex_ >= kLpcmIndexBase ? 16666 : ac3FrameDuration_;
        s->interpTime += step;
        return s->interpTime;
    }
    return kNoTime;
}

const uint8_t* CPsParser::WalkBuffer(size_t* size, size_t* carried) const {
    if (size) *size = items_.size();
    if (carried) *carried = carryLength_;
    return items_.data();
}

size_t CPsParser::CarriedBytes() const {
    if (taken_ == Taken::None || takenIndex_ < 0) return 0;
    return taken_ == Taken::Video ? video_[takenIndex_].carry.size() : audio_[takenIndex_].carry.size();
}

bool CPsParser::NextItem(ParserItem* item) {
    if (!item || taken_ == Taken::None || emptyTake_) return false;
    return taken_ == Taken::Video ? NextVideoItem(item) : NextAudioItem(item);
}

bool CPsParser::NextVideoItem(ParserItem* item) {
    Stream* s = &video_[takenIndex_];
    const size_t n = items_.size();
    const uint8_t* b = items_.data();
    while (cursor_ + 4 <= n) {
        const size_t i = cursor_ + FindStartCode(b + cursor_, n - cursor_);
        if (i + 4 > n) {
            cursor_ = n >= 3 ? n - 3 : 0;
            break;
        }
        cursor_ = i + 1;
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
        // An item's header is read from its bytes: one cut by the end of the payload
        // is carried, whole, to the next take.
        const size_t need = kind == kItemSequenceHeader ? 12 : kind == kItemGop ? 8 : kind == kItemPicture ? 6 : 4;
        if (i + need > n) {
            cursor_ = i;
            break;
        }
        cursor_ = i + 4;
        item->kind = kind;
        item->position = int64_t(i) - int64_t(carryLength_);
        item->data = b + i;
        item->available = n - i;
        item->time = TimeFor(s, s->taken - int64_t(n - carryLength_) + item->position, false);
        return true;
    }
    // Up to three bytes that may begin a start code, or an item whose header is cut, go
    // in front of the next take.
    const size_t keep = std::min<size_t>(kItemHeaderBytes, n - std::min(n, cursor_));
    s->carry.assign(items_.end() - ptrdiff_t(keep), items_.end());
    cursor_ = n;
    return false;
}

bool CPsParser::NextAudioItem(ParserItem* item) {
    Stream* s = &audio_[takenIndex_];
    const int kind = takenIndex_ < kAc3IndexBase ? kAudioMpeg : takenIndex_ < kLpcmIndexBase ? kAudioAc3 : kAudioLpcm;
    const size_t n = items_.size();
    const uint8_t* b = items_.data();
    const int64_t payloadStart = s->taken - int64_t(n - carryLength_);  // stream position
    auto streamPos = [&](size_t i) { return payloadStart + int64_t(i) - int64_t(carryLength_); };
    if (kind == kAudioLpcm && s->lpcmOrigin >= 0 && s->lpcmFrameBytes > 0 && streamPos(cursor_) < s->lpcmOrigin &&
        s->skip == 0)
        s->skip = s->lpcmOrigin - streamPos(cursor_);
    for (;;) {
        if (s->skip > 0) {
            const size_t step = size_t(std::min<int64_t>(s->skip, int64_t(n - cursor_)));
            cursor_ += step;
            s->skip -= int64_t(step);
            if (s->skip > 0) return false;
        }
        if (kind == kAudioLpcm) {
            if (s->lpcmOrigin < 0 || s->lpcmFrameBytes <= 0 || cursor_ >= n) {
                cursor_ = n;
                return false;
            }
            s->skip = s->lpcmFrameBytes;
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
                if (s->haveReference) {
                    match = (word & kSame) == (s->reference & kSame);
                } else {
                    // The first header must be followed by another, so payload bytes that
                    // look like a header do not start the walk: a candidate whose follower
                    // lies beyond this take waits, carried, for the next one (a frame is
                    // at most a few kilobytes, so the carry stays small).
                    const size_t next = cursor_ + size_t(h.frameBytes);
                    if (next + 4 > n) {
                        s->carry.assign(items_.begin() + ptrdiff_t(cursor_), items_.end());
                        cursor_ = n;
                        return false;
                    }
                    match = (LowFirst32(b + next) & kSame) == (word & kSame);
                    if (match) {
                        s->reference = word;
                        s->haveReference = true;
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
    item->position = int64_t(i) - int64_t(carryLength_);
    item->data = b + i;
    item->available = n - i;
    item->time = TimeFor(s, streamPos(i), kind != kAudioMpeg);
    return true;
}

}  // namespace editor
