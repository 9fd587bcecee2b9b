// Program-stream parsers: CMpeg2StreamParser reads ISO/IEC 13818-1 program streams,
// CMpeg1StreamParser ISO/IEC 11172-1 system streams. Bytes arrive in blocks of any size
// (Feed); PES payloads are sorted into one ring per elementary stream, and every PES time
// stamp is remembered with the payload position it belongs to. A caller takes a stream's
// buffered payload (TakeVideo / TakeAudio) and walks it item by item (NextItem):
// sequence headers, GOPs, pictures and audio frames, each with the time of the packet in
// which it began.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "editor/core/bit_ring.h"

namespace editor {

// Times are signed counts of 100 ns; kNoTime has both 32-bit halves all ones.
constexpr int64_t kNoTime = -1;

enum ItemKind : int {
    kItemGop = 1,
    kItemPicture = 2,
    kItemSequenceEnd = 3,
    kItemSequenceHeader = 4,
    kItemAudioFrame = 9,
};

enum AudioKind : int { kAudioNone = 0, kAudioAc3 = 1, kAudioMpeg = 2, kAudioLpcm = 4 };

// Audio stream indexes of TakeAudio: 0-31 MPEG audio (stream_id 0xC0-0xDF), then the
// private stream 1 substreams AC-3 0x80-0x88 and LPCM 0xA0-0xA8.
constexpr int kMpegAudioStreams = 32;
constexpr int kAc3Streams = 9;
constexpr int kLpcmStreams = 9;
constexpr int kAc3IndexBase = kMpegAudioStreams;
constexpr int kLpcmIndexBase = kAc3IndexBase + kAc3Streams;
constexpr int kAudioStreams = kLpcmIndexBase + kLpcmStreams;
constexpr int kVideoStreams = 16;

// Sizes of the rings, and the payload buffer a caller of TakeVideo/TakeAudio provides.
constexpr size_t kInputRingSize = 204800;
constexpr size_t kStreamRingSize = 204800;
constexpr size_t kPayloadBufferSize = 600000;
// PES time stamps remembered per stream; when the table is full the oldest is dropped.
constexpr size_t kTimeTableSize = 100;

struct ParserItem {
    int kind = 0;
    // Position of the item's first byte in the payload last taken; negative when the item
    // began in the bytes of the previous take (a start code split between two takes).
    int64_t position = 0;
    int64_t time = kNoTime;
    // The item's bytes: from its first byte to the end of the payload taken.
    const uint8_t* data = nullptr;
    size_t available = 0;
};

// WAVEFORMATEX-like description of an LPCM substream.
struct LpcmFormat {
    uint16_t format_tag = 1;
    uint16_t channels = 0;
    uint32_t samples_per_sec = 0;
    uint32_t avg_bytes_per_sec = 0;
    uint16_t block_align = 0;
    uint16_t bits_per_sample = 0;
};

class CPsParser {
public:
    virtual ~CPsParser();
    CPsParser(const CPsParser&) = delete;
    CPsParser& operator=(const CPsParser&) = delete;

    // Clears all state and recreates the input ring; false when memory is short.
    bool Reset();
    // Switches the analysis log. Switching it on removes an old log of this parser's
    // name in the current folder; lines are then appended to it.
    void SetLog(bool on);
    void Feed(const uint8_t* data, size_t length);
    // Moves up to `capacity` buffered payload bytes of the stream into `buffer` and into
    // the item walk; returns the count. An unknown index takes nothing.
    size_t TakeVideo(int index, uint8_t* buffer, size_t capacity);
    size_t TakeAudio(int index, uint8_t* buffer, size_t capacity);
    // Frees the input ring and every stream ring.
    void Close();
    // The next item of the payload last taken; false at its end.
    bool NextItem(ParserItem* item);

    // The file type of a clip (GetMpegFileTypeEx of the probes).
    int GetFileType(const std::string& path) const;

    // Index 0-15 of the first video stream seen, or -1.
    int FirstVideoStream() const { return first_video_; }
    // TakeAudio index of the first audio stream seen, or -1.
    int FirstAudioStream() const { return first_audio_; }
    // Audio kind of the clip: that of the first audio stream seen.
    int GetAudioKind() const { return audio_kind_; }
    // Bytes of one AC-3 or LPCM frame once known, else -1.
    int AudioFrameBytes() const { return audio_frame_bytes_; }
    // 100-ns duration of one AC-3 frame once known, else 0.
    int64_t Ac3FrameDuration() const { return ac3_frame_duration_; }
    // Format of an LPCM substream (index kLpcmIndexBase..); false when none was seen.
    bool GetLpcmFormat(int index, LpcmFormat* format) const;
    // Payload bytes refused because a stream's ring was full (never silently lost).
    uint64_t DroppedBytes() const { return dropped_bytes_; }
    // Packs, packets and malformed units seen since Reset.
    uint64_t Packs() const { return packs_; }
    uint64_t Packets() const { return packets_; }
    uint64_t Errors() const { return errors_; }

protected:
    CPsParser(bool mpeg1, const char* log_name);

private:
    struct TimeEntry {
        int64_t position;  // stream payload position (bytes since Reset)
        int64_t time;
        int frames;  // frames the substream header counts from here (AC-3, LPCM)
        bool used;
    };
    struct Stream {
        CBitRing ring;
        bool created = false;
        int64_t written = 0;  // payload bytes accepted since Reset
        int64_t taken = 0;    // payload bytes moved out by Take
        std::vector<TimeEntry> times;
        // Item walk state carried between takes.
        std::vector<uint8_t> carry;
        int64_t skip = 0;        // bytes of a frame that continue into the next take
        uint32_t reference = 0;  // MPEG audio reference header (first byte lowest)
        bool have_reference = false;
        int64_t lpcm_origin = -1;  // stream position of the first LPCM frame
        int lpcm_frame_bytes = 0;
        LpcmFormat lpcm;
        int64_t interp_time = kNoTime;
        int interp_left = 0;

        void Clear() {
            ring.Destroy();
            created = false;
            written = taken = 0;
            times.clear();
            carry.clear();
            skip = 0;
            reference = 0;
            have_reference = false;
            lpcm_origin = -1;
            lpcm_frame_bytes = 0;
            lpcm = LpcmFormat{};
            interp_time = kNoTime;
            interp_left = 0;
        }
    };
    enum class State { Search, Pack, Next, System, Packet, End };
    enum class Taken { None, Video, Audio };

    bool Step();
    bool StepPack();
    bool StepPacket();
    void ParsePacket(const uint8_t* p, size_t n);
    void ParseMpeg2Packet(const uint8_t* p, size_t n);
    void ParseMpeg1Packet(const uint8_t* p, size_t n);
    void RoutePayload(int stream_id, const uint8_t* payload, size_t n, int64_t time);
    void RoutePrivate(const uint8_t* payload, size_t n, int64_t time);
    Stream* StreamFor(bool video, int index);
    void Append(Stream* s, const uint8_t* data, size_t n, int64_t time, int64_t time_offset, int frames);
    size_t Take(Stream* s, uint8_t* buffer, size_t capacity);
    int64_t TimeFor(Stream* s, int64_t stream_position, bool interpolate);
    bool NextVideoItem(ParserItem* item);
    bool NextAudioItem(ParserItem* item);
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogTime(bool video, int64_t pts, int64_t dts);

    const bool mpeg1_;
    const std::string log_name_;
    bool log_on_ = false;
    CBitRing input_;
    std::vector<uint8_t> scratch_;
    State state_ = State::Search;
    Stream video_[kVideoStreams];
    Stream audio_[kAudioStreams];
    int first_video_ = -1;
    int first_audio_ = -1;
    int audio_kind_ = kAudioNone;
    int audio_frame_bytes_ = -1;
    int64_t ac3_frame_duration_ = 0;
    uint64_t dropped_bytes_ = 0;
    uint64_t packs_ = 0, packets_ = 0, errors_ = 0;
    int64_t last_video_pts_ = -1, last_audio_pts_ = -1;  // 90 kHz, for the log

    // The payload last taken, with the carried bytes of the previous take in front.
    Taken taken_ = Taken::None;
    int taken_index_ = -1;
    std::vector<uint8_t> items_;
    size_t carry_length_ = 0;
    size_t cursor_ = 0;
    bool empty_take_ = false;
};

class CMpeg2StreamParser : public CPsParser {
public:
    CMpeg2StreamParser() : CPsParser(false, "M2SAna.txt") {}
};

class CMpeg1StreamParser : public CPsParser {
public:
    CMpeg1StreamParser() : CPsParser(true, "M1SAna.txt") {}
};

}  // namespace editor
