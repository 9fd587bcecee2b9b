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
#include <utility>
#include <vector>

#include "editor/core/bit_ring.h"

namespace editor {

// An allocator whose containers leave new bytes uninitialised when they grow: a take's
// bytes are copied over them at once, so clearing them first only costs time.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

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

// A caller's payload buffer, left uninitialised: a take writes every byte it hands on, and
// clearing 600 KB on every clip scan cost more than the scan of a short clip.
class PayloadBuffer {
public:
    PayloadBuffer() : bytes_(new uint8_t[kPayloadBufferSize]) {}
    uint8_t* data() { return bytes_.get(); }
    size_t size() const { return kPayloadBufferSize; }

private:
    std::unique_ptr<uint8_t[]> bytes_;
};
// PES time stamps remembered per stream; when the table is full the oldest is dropped.
constexpr size_t kTimeTableSize = 100;

// Bytes of a video item that are always readable from its start code: a sequence
// header's 12 (frame rate, bit rate), a GOP header's 8 (flags), a picture's 6
// (temporal_reference and type). An item cut by the end of a take is carried, whole.
constexpr size_t kItemHeaderBytes = 12;

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

// The 18-byte audio format record (the WAVEFORMATEX layout) of an LPCM stream.
struct AudioFormat {
    uint16_t formatTag = 1;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;
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
    // Moves up to `capacity` buffered payload bytes of the stream into `buffer` (when
    // given) and into the item walk; returns the count. An unknown index takes nothing.
    size_t TakeVideo(int index, uint8_t* buffer, size_t capacity);
    size_t TakeAudio(int index, uint8_t* buffer, size_t capacity);
    // Frees the input ring and every stream ring.
    void Close();
    // A reader of one kind of stream keeps only its payload (both by default); the
    // streams of the other kind are still noted (FirstVideoStream, FirstAudioStream).
    void SetStreamsWanted(bool video, bool audio) {
        wantVideo_ = video;
        wantAudio_ = audio;
    }
    // The next item of the payload last taken; false at its end.
    bool NextItem(ParserItem* item);
    // The bytes the item walk runs over: the bytes carried from the previous take
    // (`carried` of them, at negative item positions) followed by the payload last taken.
    const uint8_t* WalkBuffer(size_t* size, size_t* carried) const;
    // Bytes at the end of the walked payload that the next take carries in front (valid
    // once NextItem has returned false).
    size_t CarriedBytes() const;

    // The file type of a clip (GetMpegFileTypeEx of the probes).
    int GetFileType(const std::string& path) const;

    // Index 0-15 of the first video stream seen, or -1.
    int FirstVideoStream() const { return firstVideo_; }
    // TakeAudio index of the first audio stream seen, or -1.
    int FirstAudioStream() const { return firstAudio_; }
    // Audio kind of the clip: that of the first audio stream seen.
    int GetAudioKind() const { return audioKind_; }
    // Bytes of one AC-3 or LPCM frame once known, else -1.
    int AudioFrameBytes() const { return audioFrameBytes_; }
    // 100-ns duration of one AC-3 frame once known, else 0.
    int64_t Ac3FrameDuration() const { return ac3FrameDuration_; }
    // Format of an LPCM substream (index kLpcmIndexBase..); false when none was seen.
    bool GetLpcmFormat(int index, AudioFormat* format) const;
    // Payload bytes refused because a stream's ring was full (never silently lost).
    uint64_t DroppedBytes() const { return droppedBytes_; }
    // Packs, packets and malformed units seen since Reset.
    uint64_t Packs() const { return packs_; }
    uint64_t Packets() const { return packets_; }
    uint64_t Errors() const { return errors_; }

protected:
    CPsParser(bool mpeg1, const char* logName);

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
        bool haveReference = false;
        int64_t lpcmOrigin = -1;  // stream position of the first LPCM frame
        int lpcmFrameBytes = 0;
        AudioFormat lpcm;
        int64_t interpTime = kNoTime;
        int interpLeft = 0;

        void Clear() {
            ring.Destroy();
            created = false;
            written = taken = 0;
            times.clear();
            carry.clear();
            skip = 0;
            reference = 0;
            haveReference = false;
            lpcmOrigin = -1;
            lpcmFrameBytes = 0;
            lpcm = AudioFormat{};
            interpTime = kNoTime;
            interpLeft = 0;
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
    void RoutePayload(int streamId, const uint8_t* payload, size_t n, int64_t time);
    void RoutePrivate(const uint8_t* payload, size_t n, int64_t time);
    Stream* StreamFor(bool video, int index);
    void Append(Stream* s, const uint8_t* data, size_t n, int64_t time, int64_t timeOffset, int frames);
    size_t Take(Stream* s, uint8_t* buffer, size_t capacity);
    int64_t TimeFor(Stream* s, int64_t streamPosition, bool interpolate);
    bool NextVideoItem(ParserItem* item);
    bool NextAudioItem(ParserItem* item);
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogTime(bool video, int64_t pts, int64_t dts);

    const bool mpeg1_;
    bool wantVideo_ = true;
    bool wantAudio_ = true;
    const std::string logName_;
    bool logOn_ = false;
    CBitRing input_;
    std::vector<uint8_t> scratch_;
    State state_ = State::Search;
    Stream video_[kVideoStreams];
    Stream audio_[kAudioStreams];
    int firstVideo_ = -1;
    int firstAudio_ = -1;
    int audioKind_ = kAudioNone;
    int audioFrameBytes_ = -1;
    int64_t ac3FrameDuration_ = 0;
    uint64_t droppedBytes_ = 0;
    uint64_t packs_ = 0, packets_ = 0, errors_ = 0;
    int64_t lastVideoPts_ = -1, lastAudioPts_ = -1;  // 90 kHz, for the log

    // The payload last taken, with the carried bytes of the previous take in front.
    Taken taken_ = Taken::None;
    int takenIndex_ = -1;
    std::vector<uint8_t, UninitializedAllocator<uint8_t>> items_;
    size_t carryLength_ = 0;
    size_t cursor_ = 0;
    bool emptyTake_ = false;
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
