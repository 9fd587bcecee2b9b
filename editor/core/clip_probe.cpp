#include "editor/core/clip_probe.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/audio_headers.h"
#include "common/bitstream/mpeg2_video_header.h"
#include "common/bitstream/start_code.h"
#include "editor/core/bytes.h"
#include "editor/core/clip_file.h"

namespace editor {
namespace {

constexpr int64_t kSecond = 10000000;  // 100-ns units

// The fixed fields of a sequence header (ISO/IEC 13818-2 6.2.2.1) from its first 12 bytes.
bool ReadSequenceFields(const uint8_t* p, size_t n, common::MpegSequenceHeader* h) {
    return p && common::ReadMpegSequenceHeaderFields(std::span<const uint8_t>(p, n), h);
}

bool IsStartCode(const uint8_t* p, uint8_t code) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == code;
}

// The VCD pack pattern: a pack header whose mux_rate is 3528 (176,400 bytes per second).
bool IsVcdPack(const uint8_t* p) {
    static const uint8_t kHead[6] = {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00};
    return std::memcmp(p, kHead, 6) == 0 && p[9] == 0x80 && p[10] == 0x1B && p[11] == 0x91;
}

std::unique_ptr<CPsParser> MakeParser(bool mpeg1) {
    if (mpeg1) return std::unique_ptr<CPsParser>(new (std::nothrow) CMpeg1StreamParser);
    return std::unique_ptr<CPsParser>(new (std::nothrow) CMpeg2StreamParser);
}

int64_t AudioDuration(int kind, const ParserItem& item) {
    int64_t d = 0;
    if (kind == kAudioAc3) {
        Ac3FrameInfo(item.data, item.available, &d, nullptr);
    } else if (kind == kAudioLpcm) {
        d = 16666;
    } else {
        MpegAudioFrameDuration(item.data, item.available, &d);
    }
    return d;
}

int FileTypeImpl(const std::string& path, size_t probes) {
    const int cdxa = DetectCdxaKind(path);
    if (cdxa == kFileVcd || cdxa == kFileSvcd) return cdxa;
    int decision = kFileUnknown;
    {
        ClipFile f(path);
        if (!f) return kFileUnknown;
        // The pack header may stand at any offset within the probe's byte budget.
        const size_t budget = 2048 + 5 * probes;
        std::vector<uint8_t> buf(budget);
        const size_t n = f.Read(buf.data(), budget);
        for (size_t i = 0; i + 5 <= n; ++i) {
            if (!IsStartCode(&buf[i], 0xBA)) continue;
            const uint8_t b = buf[i + 4];
            decision = (b >> 6) == 1 ? kFileMpeg2 : (b >> 4) == 2 ? kFileMpeg1 : -1;
            break;
        }
    }
    if (decision == kFileMpeg2) return DetectMpeg2Kind(path);
    if (decision == kFileMpeg1) return DetectMpeg1Kind(path);
    return kFileUnknown;
}

}  // namespace

bool IsUsableSector(const uint8_t* s) {
    if (s[0] != 0 || s[11] != 0) return false;
    for (int i = 1; i <= 10; ++i)
        if (s[i] != 0xFF) return false;
    return s[15] == 2 && (s[18] & 0x20) && (s[18] & 0x06);
}

int64_t SeekFile(std::FILE* file, int64_t distance, int method) {
    if (!file) return -1;
#ifdef _WIN32
    if (_fseeki64(file, distance, method) != 0) return -1;
    return _ftelli64(file);
#else
    if (fseeko(file, off_t(distance), method) != 0) return -1;
    return int64_t(ftello(file));
#endif
}

int GetMpegFileType(const std::string& path) {
    return FileTypeImpl(path, 40960);
}
int GetMpegFileTypeEx(const std::string& path) {
    return FileTypeImpl(path, 40961);
}

bool GetCdxaDataOffset(const std::string& path, int64_t* offset) {
    ClipFile f(path);
    if (!f) return false;
    uint8_t h[12];
    if (f.Read(h, 12) < 12 || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "CDXA", 4) != 0) return false;
    int64_t at = 12;
    // Chunks are walked by their declared sizes; a file has few, so the walk is capped.
    for (int chunk = 0; chunk < 64; ++chunk) {
        uint8_t c[8];
        if (!f.Seek(at) || f.Read(c, 8) < 8) return false;
        const uint32_t size = LowFirst32(c + 4);
        if (std::memcmp(c, "data", 4) == 0) {
            if (size == 0) return false;
            if (offset) *offset = at + 8;
            return true;
        }
        at += 8 + int64_t(size) + (size & 1);
    }
    return false;
}

int DetectCdxaKind(const std::string& path) {
    int64_t data = 0;
    if (!GetCdxaDataOffset(path, &data)) return 0;
    ClipFile f(path);
    if (!f) return 0;
    bool seen = false;
    uint8_t s[kSectorSize];
    for (int k = 0; k < 500; ++k) {
        if (!f.Seek(data + int64_t(k) * int64_t(kSectorSize)) || f.Read(s, kSectorSize) < kSectorSize) break;
        if (!IsUsableSector(s)) continue;
        const int sub = s[18] & 0x0E;
        if (sub != 2 && sub != 4) continue;
        if (IsVcdPack(s + kSectorUserOffset)) return kFileVcd;
        seen = true;
    }
    return seen ? kFileSvcd : 0;
}

int DetectMpeg1Kind(const std::string& path) {
    ClipFile f(path);
    if (!f) return kFileMpeg1;
    uint8_t b[34];
    if (f.Read(b, 34) < 34) return kFileMpeg1;
    return IsVcdPack(b) ? kFileVcd : kFileMpeg1;
}

int DetectMpeg2Kind(const std::string& path) {
    ClipFile f(path);
    if (!f) return kFileSvcd;
    std::vector<uint8_t> block(2324 + 3);
    // Stage 1: a file of 2324-byte packs whose first sequence header has an SVCD size.
    bool videoSeen = false;
    bool stage1Done = false;
    for (int blocks = 0; blocks < 100000 && !stage1Done; ++blocks) {
        const size_t n = f.Read(block.data(), 2324);
        if (n == 0) {
            // All packs were 2324 bytes. Only a file with video is an SVCD; an audio-only
            // file of such packs is a plain MPEG-2 program stream.
            if (videoSeen) return kFileSvcd;
            break;
        }
        if (n < 2324 || !IsStartCode(block.data(), 0xBA)) break;
        if (!IsStartCode(block.data() + 14, 0xE0)) continue;
        videoSeen = true;
        for (size_t i = 18; i + 11 <= 2324; ++i) {
            if (!IsStartCode(&block[i], 0xB3)) continue;
            common::MpegSequenceHeader sh;
            if (!ReadSequenceFields(&block[i], 2324 - i, &sh)) continue;
            const uint32_t h = sh.horizontalSize, v = sh.verticalSize;
            const int r = sh.frameRateCode;
            if ((r == 4 && (h == 480 || h == 704) && v == 480) || (r == 3 && (h == 480 || h == 704) && v == 576))
                return kFileSvcd;
            stage1Done = true;
            break;
        }
    }
    // Stage 3: MPEG-4 visual object sequence or VOP start codes before an MPEG-2 sequence
    // header make an MPEG-4 program stream. Blocks overlap by three bytes so that no start
    // code is lost at a block edge.
    if (!f.Seek(0)) return kFileMpeg2;
    size_t have = 0;
    for (;;) {
        const size_t n = f.Read(block.data() + have, 2048);
        if (n == 0) return kFileMpeg2;
        const size_t total = have + n;
        for (size_t i = 0; i + 4 <= total; ++i) {
            if (block[i] != 0 || block[i + 1] != 0 || block[i + 2] != 1) continue;
            const uint8_t c = block[i + 3];
            if (c == 0xB0 || c == 0xB6) return kFileMpeg4;
            if (c == 0xB3 && total - i >= 7) return kFileMpeg2;
        }
        have = std::min<size_t>(3, total);
        std::memmove(block.data(), block.data() + total - have, have);
    }
}

double FrameRateFromCode(int code) {
    if (code == 0) return 0.0;
    uint32_t num = 30000, den = 1001;  // reserved codes count as 29.97
    common::MpegFrameRate(code, &num, &den);
    return double(num) / double(den);
}

bool FrameDurationFromSequenceHeader(const uint8_t* p, size_t n, int64_t* duration) {
    common::MpegSequenceHeader h;
    if (n < 13 || !ReadSequenceFields(p, n, &h)) return false;
    // 10^7 / frame rate, truncated, from the exact rational rates of ISO/IEC 13818-2; the
    // forbidden and reserved codes count as 29.97.
    uint32_t num = 30000, den = 1001;
    common::MpegFrameRate(h.frameRateCode, &num, &den);
    if (duration) *duration = kSecond * int64_t(den) / int64_t(num);
    return true;
}

bool BitRateFromSequenceHeader(const uint8_t* p, size_t n, int64_t* bytesPerSecond) {
    common::MpegSequenceHeader h;
    if (!ReadSequenceFields(p, n, &h)) return false;
    if (bytesPerSecond) *bytesPerSecond = int64_t(h.bitRateValue) * 50;  // units of 400 bit/s
    return true;
}

bool ReadGopFlags(const uint8_t* p, size_t n, bool* closedGop, bool* brokenLink) {
    common::MpegGopHeader g;
    if (!p || !common::ReadMpegGopHeader(std::span<const uint8_t>(p, n), &g)) return false;
    if (closedGop) *closedGop = g.closedGop;
    if (brokenLink) *brokenLink = g.brokenLink;
    return true;
}

bool ReadTemporalReference(const uint8_t* p, size_t n, int* temporalReference) {
    common::MpegPictureHeader h;
    if (!p || !common::ReadMpegPictureHeader(std::span<const uint8_t>(p, n), &h)) return false;
    if (temporalReference) *temporalReference = h.temporalReference;
    return true;
}

int ReadPictureCodingType(const uint8_t* p, size_t n) {
    common::MpegPictureHeader h;
    if (!p || !common::ReadMpegPictureHeader(std::span<const uint8_t>(p, n), &h)) return 0;
    return h.pictureCodingType;
}

bool WriteTemporalReference(uint8_t* p, size_t n, int temporalReference) {
    return p && temporalReference >= 0 &&
           common::WriteMpegHeaderField(std::span<uint8_t>(p, n), common::MpegHeaderField::kTemporalReference,
                                        uint32_t(temporalReference));
}

int64_t FindPictureStartCode(const uint8_t* p, size_t n) {
    if (!p) return -1;
    for (size_t i = 0; i + 4 <= n; ++i)
        if (IsStartCode(p + i, 0x00)) return int64_t(i);
    return -1;
}

size_t SequenceHeaderLength(const uint8_t* p, size_t n) {
    common::MpegSequenceHeader h;
    if (!p || !common::ReadMpegSequenceHeader(std::span<const uint8_t>(p, n), &h)) return 0;
    return h.headerBytes;
}

bool ClearProgressiveSequence(uint8_t* p, size_t n) {
    const size_t from = SequenceHeaderLength(p, n);
    if (from == 0) return false;
    // The sequence_extension is the next start code after the header (ISO/IEC 13818-2
    // 6.2.2); any other, or none, leaves the bytes alone.
    const size_t at = size_t(common::FindStartCode(p + from, p + n) - p);
    return common::WriteMpegHeaderField(std::span<uint8_t>(p + at, n - at),
                                        common::MpegHeaderField::kProgressiveSequence, 0);
}

bool CopyIntoBuffer(uint8_t* buffer, size_t size, size_t position, const uint8_t* source, size_t length) {
    if (!buffer || !source || position > size || length >= size - position) return false;
    std::memcpy(buffer + position, source, length);
    return true;
}

bool Ac3FrameInfo(const uint8_t* p, size_t n, int64_t* duration, int* frameBytes) {
    common::Ac3FrameHeader a;
    if (!p || !common::ReadAc3Header({p, n}, &a)) return false;
    // A/52: every syncframe carries 1536 samples at its own sampling rate.
    if (duration) *duration = a.samples * kSecond / a.sampleRate;
    if (frameBytes) *frameBytes = a.frameBytes;
    return true;
}

bool MpegAudioFrameDuration(const uint8_t* p, size_t n, int64_t* duration) {
    if (!p || n < 4) return false;
    common::MpegAudioFrameHeader h;
    if (!common::ReadMpegAudioHeader({p, 4}, &h)) return false;
    if (duration) *duration = int64_t(h.samples) * kSecond / h.sampleRate;
    return true;
}

int MpegAudioFrameLength(uint32_t header) {
    const uint8_t bytes[4] = {uint8_t(header), uint8_t(header >> 8), uint8_t(header >> 16), uint8_t(header >> 24)};
    common::MpegAudioFrameHeader h;
    return common::ReadMpegAudioHeader(bytes, &h) ? h.frameBytes : 0;
}

int MpegAudioVersionBits(uint32_t header) {
    return (header >> 11) & 3;
}

bool ScanClipStart(bool mpeg1, const std::string& path, bool sectorMode, int64_t dataOffset, ClipStart* start) {
    if (!start) return false;
    ClipFile f(path);
    if (!f) return false;
    std::unique_ptr<CPsParser> parser = MakeParser(mpeg1);
    if (!parser || !parser->Reset()) return false;
    PayloadBuffer payload;
    BlockReader reader(&f, sectorMode, dataOffset, kSectorUserSize);
    if (!reader.Seek(0)) return false;

    ClipStart r;
    std::vector<uint8_t> block(kSectorUserSize);
    bool videoDone = false, audioDone = false;
    bool closedGop = false;
    int64_t lastTime = kNoTime;
    int counted = 0;
    for (;;) {
        const size_t n = reader.Next(block.data());
        if (n == 0) break;
        parser->Feed(block.data(), n);
        if (r.videoStream < 0) r.videoStream = parser->FirstVideoStream();
        if (r.audioStream < 0) r.audioStream = parser->FirstAudioStream();
        ParserItem item;
        if (!videoDone && r.videoStream >= 0) {
            parser->TakeVideo(r.videoStream, payload.data(), payload.size());
            while (!videoDone && parser->NextItem(&item)) {
                if (item.kind == kItemSequenceHeader) {
                    FrameDurationFromSequenceHeader(item.data, item.available, &r.frameDuration);
                    BitRateFromSequenceHeader(item.data, item.available, &r.videoByteRate);
                } else if (item.kind == kItemGop) {
                    ReadGopFlags(item.data, item.available, &closedGop, nullptr);
                }
                if (item.time != kNoTime) lastTime = item.time;
                if (item.kind == kItemPicture && lastTime != kNoTime) {
                    int64_t t = lastTime;
                    int tr = 0;
                    if (closedGop && r.frameDuration > 0 && ReadTemporalReference(item.data, item.available, &tr))
                        t = std::max<int64_t>(0, t - tr * r.frameDuration);
                    if (r.firstVideoTime == kNoTime || t < r.firstVideoTime) r.firstVideoTime = t;
                    if (r.frameDuration > 0) {
                        videoDone = true;
                    } else {
                        r.frameDuration = 0;
                    }
                }
            }
            while (parser->NextItem(&item)) {
            }
        }
        if (!audioDone && r.audioStream >= 0) {
            parser->TakeAudio(r.audioStream, payload.data(), payload.size());
            const int kind = r.audioStream < kAc3IndexBase    ? kAudioMpeg
                             : r.audioStream < kLpcmIndexBase ? kAudioAc3
                                                              : kAudioLpcm;
            while (!audioDone && parser->NextItem(&item)) {
                if (item.time == kNoTime) continue;
                const int64_t d = AudioDuration(kind, item);
                if (d <= 0) continue;
                r.audioFrameDuration = d;
                r.firstAudioTime = item.time;
                audioDone = true;
            }
        }
        // After 301 blocks, or once both are known, the scan ends; timed pictures without
        // a sequence header yet (frame duration 0) restart the count.
        ++counted;
        if ((videoDone && audioDone) || counted >= 301) {
            if (r.frameDuration == 0) {
                counted = 0;
                continue;
            }
            break;
        }
    }
    parser->Close();
    *start = r;
    return true;
}

namespace {

// Video end tracking: every picture's end is estimated from the latest timed picture of
// its GOP (or, in a GOP without one, from the end of the previous GOP) and its
// temporal_reference; the largest estimate is the end of the video.
struct VideoEndTracker {
    int64_t duration = 0;
    int64_t anchorTime = kNoTime;
    int anchorTr = 0;
    int64_t pending = kNoTime;  // time of a sequence or GOP header before the picture
    int64_t best = 0;

    void Item(const ParserItem& item) {
        if (item.kind == kItemGop) {
            if (anchorTime != kNoTime && best > 0) {
                anchorTime = best;
                anchorTr = 0;
            }
        }
        if (item.kind != kItemPicture) {
            if (item.time != kNoTime) pending = item.time;
            return;
        }
        int tr = 0;
        if (!ReadTemporalReference(item.data, item.available, &tr)) tr = 0;
        const int64_t t = item.time != kNoTime ? item.time : pending;
        pending = kNoTime;
        if (t != kNoTime) {
            anchorTime = t;
            anchorTr = tr;
        }
        if (anchorTime == kNoTime) return;
        const int64_t frames = std::max<int64_t>(1, tr - anchorTr + 1);
        best = std::max(best, anchorTime + frames * duration);
    }
};

struct AudioEndTracker {
    int64_t duration = 0;
    int64_t latest = kNoTime;
    int64_t after = 0;
    int64_t best = 0;

    void Item(const ParserItem& item) {
        if (item.time != kNoTime && (latest == kNoTime || item.time >= latest)) {
            latest = item.time;
            after = 0;
        } else if (latest != kNoTime) {
            ++after;
        }
        if (latest != kNoTime) best = std::max(best, latest + duration * (after + 1));
    }
};

}  // namespace

bool ScanClipEnd(bool mpeg1, const std::string& path, const ClipStart& start, bool sectorMode, int64_t dataOffset,
                 ClipEnd* end) {
    if (!end) return false;
    ClipFile f(path);
    if (!f) return false;
    int64_t size = f.Size();
    if (size < 0) return false;
    if (sectorMode) size = std::max<int64_t>(0, size - dataOffset);
    std::unique_ptr<CPsParser> parser = MakeParser(mpeg1);
    if (!parser) return false;
    PayloadBuffer payload;
    std::vector<uint8_t> block(kSectorUserSize);
    int64_t window = start.videoByteRate > 0 ? start.videoByteRate / 4 : 500000;
    window = std::min(window, size < 100 ? size : size - 100);
    window = std::max<int64_t>(window, int64_t(kSectorSize));

    VideoEndTracker video;
    video.duration = start.frameDuration;
    AudioEndTracker audio;
    audio.duration = start.audioFrameDuration;
    const bool wantVideo = start.frameDuration > 0 && start.videoStream >= 0;
    const bool wantAudio = start.audioFrameDuration > 0 && start.audioStream >= 0;
    BlockReader reader(&f, sectorMode, dataOffset, kSectorUserSize);
    for (int pass = 0; pass < 20; ++pass) {
        if ((!wantVideo || video.best > 0) && (!wantAudio || audio.best > 0)) break;
        const int64_t from = std::max<int64_t>(0, size - (pass + 1) * window);
        if (!parser->Reset() || !reader.Seek(from)) break;
        // Each pass reads its own window from the start: what an earlier pass saw as
        // the latest frame says nothing about the order of this pass's frames.
        video.anchorTime = video.pending = kNoTime;
        video.anchorTr = 0;
        audio.latest = kNoTime;
        audio.after = 0;
        // One window, and a little more so a packet cut at the window's end completes.
        int64_t read = 0;
        while (read < window + 65536) {
            const size_t n = reader.Next(block.data());
            if (n == 0) break;
            read += int64_t(n);
            parser->Feed(block.data(), n);
            ParserItem item;
            if (wantVideo) {
                parser->TakeVideo(start.videoStream, payload.data(), payload.size());
                while (parser->NextItem(&item))
                    video.Item(item);
            }
            if (wantAudio) {
                parser->TakeAudio(start.audioStream, payload.data(), payload.size());
                while (parser->NextItem(&item))
                    if (item.kind == kItemAudioFrame) audio.Item(item);
            }
        }
        if (from == 0) break;
    }
    parser->Close();
    end->videoEnd = video.best;
    end->audioEnd = audio.best;
    return true;
}

namespace {

// Times handed in by a caller may be anything: sums saturate instead of overflowing.
int64_t SaturatingAdd(int64_t a, int64_t b) {
    if (b > 0 && a > INT64_MAX - b) return INT64_MAX;
    if (b < 0 && a < INT64_MIN - b) return INT64_MIN;
    return a + b;
}

// The span FindTimeInFile measures against: the clip's first time (its video's alone
// when only video counts) and its end, from the caller's duration or the file's tail.
struct ClipSpan {
    bool mpeg1 = false, sectorMode = false;
    int64_t dataOffset = 0;
    ClipStart start;
    int64_t first = kNoTime, end = kNoTime;
};

bool MeasureClip(const std::string& path, int fileType, bool videoOnly, int64_t knownDuration, ClipSpan* c) {
    c->mpeg1 = fileType == kFileMpeg1 || fileType == kFileVcd;
    c->sectorMode = GetCdxaDataOffset(path, &c->dataOffset);
    if (!ScanClipStart(c->mpeg1, path, c->sectorMode, c->dataOffset, &c->start)) return false;
    if (videoOnly && c->start.frameDuration > 0) {
        c->first = c->start.firstVideoTime;
    } else {
        for (int64_t t : {c->start.firstVideoTime, c->start.firstAudioTime})
            if (t != kNoTime && (c->first == kNoTime || t < c->first)) c->first = t;
    }
    if (c->first == kNoTime) return false;
    if (knownDuration > 0) {
        c->end = SaturatingAdd(c->first, knownDuration);
        return true;
    }
    ClipEnd e;
    if (!ScanClipEnd(c->mpeg1, path, c->start, c->sectorMode, c->dataOffset, &e)) return false;
    c->end = std::max(e.videoEnd, e.audioEnd);
    return true;
}

// One pass of the search from one start point. Entry points are settled into answers as
// the items after them arrive: a video entry's answer is its time less temporal_reference
// frames of the first picture after it when its GOP is closed (or no GOP header stands
// between them).
struct TimeSearch {
    struct Candidate {
        int64_t time = kNoTime;
        int64_t value = kNoTime;  // settled answer
        bool gop = false, closed = false;
    };
    bool video = true;
    int mode = 0;
    int64_t goal = 0, frame = 0, audioFrame = 0;
    bool fromStart = false;  // the pass reads from the start of the clip
    Candidate current, lastBefore;
    bool seenBefore = false;
    int64_t answer = kNoTime;
    bool abandoned = false;
    // Audio frames without a time of their own follow the last timed one.
    int64_t lastTimed = kNoTime, sinceTimed = 0;

    bool Done() const { return answer != kNoTime || abandoned; }

    void Item(ParserItem item) {
        if (video && current.time != kNoTime && current.value == kNoTime) Settle(item);
        if (!video && item.kind == kItemAudioFrame) TimeAudioFrame(&item);
        const bool entry = item.time != kNoTime && (video ? (item.kind == kItemSequenceHeader || item.kind == kItemGop)
                                                          : item.kind == kItemAudioFrame);
        if (entry) Entry(item);
    }

private:
    // The video entry being settled meets its GOP header or its first picture.
    void Settle(const ParserItem& item) {
        if (item.kind == kItemGop) {
            current.gop = true;
            ReadGopFlags(item.data, item.available, &current.closed, nullptr);
        } else if (item.kind == kItemPicture) {
            int tr = 0;
            if (!current.gop || current.closed) ReadTemporalReference(item.data, item.available, &tr);
            current.value = std::max<int64_t>(0, current.time - tr * frame);
            if (current.time >= goal)
                answer = current.value;
            else
                lastBefore = current;
        }
    }

    void TimeAudioFrame(ParserItem* item) {
        if (item->time != kNoTime) {
            lastTimed = item->time;
            sinceTimed = 0;
        } else if (lastTimed != kNoTime) {
            item->time = lastTimed + ++sinceTimed * audioFrame;
        }
    }

    void Open(const ParserItem& item) {
        current = Candidate{};
        current.time = item.time;
        if (video && item.kind == kItemGop) {
            current.gop = true;
            ReadGopFlags(item.data, item.available, &current.closed, nullptr);
        }
    }

    void Entry(const ParserItem& item) {
        // The audio frame that holds the goal answers it, not the next one.
        if (!video && mode == 0 && item.time >= goal && seenBefore && lastBefore.value != kNoTime &&
            lastBefore.value + audioFrame > goal) {
            answer = lastBefore.value;
            return;
        }
        if (item.time < goal) {
            seenBefore = true;
            Open(item);
            if (!video) {
                current.value = item.time;
                lastBefore = current;
            }
            return;
        }
        if (mode == 0) {
            // Only an entry point read after one before the goal is known to be the first
            // at or after it (or one at the very start of the clip).
            if (!seenBefore && !fromStart) {
                abandoned = true;
                return;
            }
            Open(item);
            if (!video) answer = item.time;
            return;
        }
        if (lastBefore.value == kNoTime) {
            abandoned = true;
            return;
        }
        answer = lastBefore.value;
    }
};

int64_t FindTimeInFile(bool video, const std::string& path, int fileType, int64_t target, int mode, bool videoOnly,
                       int64_t knownDuration) {
    ClipSpan clip;
    if (!MeasureClip(path, fileType, videoOnly, knownDuration, &clip)) return 0;
    const ClipStart& start = clip.start;
    // A clip whose end cannot be found, or ends before it starts, has no byte rate.
    if (clip.end <= clip.first) return 0;
    if (video && start.frameDuration <= 0) return 0;
    if (!video && start.audioFrameDuration <= 0) return 0;

    ClipFile f(path);
    if (!f) return 0;
    int64_t size = f.Size();
    if (clip.sectorMode) size = std::max<int64_t>(0, size - clip.dataOffset);
    if (size <= 0) return 0;
    const double span = double(clip.end - clip.first);
    // One second of bytes sets the step between passes; a floor keeps a clip with an
    // absurd span (a caller's duration) from stepping back byte by byte.
    const int64_t second =
        std::max<int64_t>(65536, int64_t(std::min(double(size), double(size) * double(kSecond) / span)));
    // Clamped as a double: a target far outside the clip must not overflow the conversion.
    const int64_t estimate = int64_t(std::clamp(double(target) / span * double(size), 0.0, double(size))) + second;

    std::unique_ptr<CPsParser> parser = MakeParser(clip.mpeg1);
    if (!parser) return 0;
    PayloadBuffer payload;
    std::vector<uint8_t> block(4096);
    BlockReader reader(&f, clip.sectorMode, clip.dataOffset, clip.sectorMode ? kSectorUserSize : 4096);
    const int stream = video ? start.videoStream : start.audioStream;
    // Each pass starts one second of bytes earlier; the number of passes is bounded by
    // the seconds in the file, and capped.
    const int64_t maxPasses = std::min<int64_t>(size / second + 3, 4096);
    for (int64_t k = 0; k < maxPasses; ++k) {
        const int64_t from = std::clamp<int64_t>(estimate - k * second, 0, size);
        if (!parser->Reset() || !reader.Seek(from)) return 0;
        TimeSearch s;
        s.video = video;
        s.mode = mode;
        s.goal = SaturatingAdd(clip.first, target);
        s.frame = start.frameDuration;
        s.audioFrame = start.audioFrameDuration;
        s.fromStart = from == 0;
        int64_t read = 0;
        bool endOfFile = false;
        while (!s.Done() && stream >= 0) {
            const size_t n = reader.Next(block.data());
            if (n == 0) {
                endOfFile = true;
                break;
            }
            read += int64_t(n);
            parser->Feed(block.data(), n);
            if (video) {
                parser->TakeVideo(stream, payload.data(), payload.size());
            } else {
                parser->TakeAudio(stream, payload.data(), payload.size());
            }
            ParserItem item;
            while (!s.Done() && parser->NextItem(&item))
                s.Item(item);
            // Bounded: a pass reads at most the file from its start point.
            if (read > size + int64_t(kSectorSize)) break;
        }
        if (s.answer == kNoTime && mode == 1 && !s.abandoned && s.lastBefore.value != kNoTime)
            s.answer = s.lastBefore.value;  // the goal lies beyond the last entry point
        // A pass that saw entry points before the goal and then read to the end of the
        // file has seen every later one: there is none at or after the goal, and an
        // earlier start would only read the same bytes again.
        if (s.answer == kNoTime && mode == 0 && endOfFile && s.seenBefore) return 0;
        if (s.answer != kNoTime) return s.answer - clip.first;
        if (from == 0) break;
    }
    return 0;
}

}  // namespace

int64_t FindVideoTimeInFile(const std::string& path, int fileType, int64_t target, int mode, bool videoOnly,
                            int64_t knownDuration) {
    return FindTimeInFile(true, path, fileType, target, mode, videoOnly, knownDuration);
}

int64_t FindAudioTimeInFile(const std::string& path, int fileType, int64_t target, int mode, bool videoOnly,
                            int64_t knownDuration) {
    return FindTimeInFile(false, path, fileType, target, mode, videoOnly, knownDuration);
}

}  // namespace editor
