// Elementary-stream parsers of the multiplexer: each finds access-unit boundaries in its
// stream's bytes for the assembler, and times the units that the stream queues, holding
// one unit back so that a unit's duration and decoding time come from the unit after it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <mutex>

#include "common/audio_headers.h"
#include "filters/muxer/core/media_buffer.h"

namespace muxer {

// Time arithmetic on values that come from outside (sample stamps, picture numbers): wraps
// instead of overflowing, so a hostile stream gives wrong times, never undefined ones.
inline int64_t TimeAdd(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
inline int64_t TimeSub(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
inline int64_t TimeMul(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

// The stream types of the multiplexer's "Stream Type" setting.
enum class StreamType : int32_t {
    Mpeg2Video = 1,
    Mpeg2Audio = 2,
    Ac3 = 3,
    Mpeg4Video = 4,
    Mpeg4Audio = 5,
    Mpeg4System = 6,
    Mpeg1Audio = 7,
    Mpeg1Video = 8,
    Mpeg2Program = 9,
    H264Video = 10,
    Aac = 11,
};
// True for the types whose access units the parsers can find.
bool HasParser(StreamType type);
bool IsVideoType(StreamType type);

enum class PtsSource : int32_t { TimeStampBased = 0, BitRateBased = 1, FrameRateBased = 2 };

// The stream parameters a parser publishes (read-only to the user).
enum class OwnValue { Bitrate, AnnouncedFrameRate, RealFrameRate };

// A media type as the parsers read and build it: the fields of the DirectShow records that
// matter here. The filter fills it from, and turns it back into, AM_MEDIA_TYPE.
enum class MajorType { Unknown, Audio, Video };
enum class Subtype { Unknown, MpegAudio, Mpeg1Video, Mpeg2Video, H264 };
enum class FormatType { None, WaveFormatEx, VideoInfo, MpegVideo, VideoInfo2, Mpeg2Video };

// MPEG1WAVEFORMAT (WAVEFORMATEX with the MPEG audio header fields).
struct Mpeg1WaveFormat {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
    uint16_t fwHeadLayer = 0;
    uint32_t dwHeadBitrate = 0;
    uint16_t fwHeadMode = 0;
    uint16_t fwHeadModeExt = 0;
    uint16_t wHeadEmphasis = 0;
    uint16_t fwHeadFlags = 0;
    uint32_t dwPTSLow = 0;
    uint32_t dwPTSHigh = 0;
};

// The video header fields shared by VIDEOINFOHEADER(2), MPEG1VIDEOINFO and MPEG2VIDEOINFO.
struct VideoFormat {
    uint32_t dwBitRate = 0;
    int64_t AvgTimePerFrame = 0;
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
};

struct StreamMediaType {
    MajorType major = MajorType::Unknown;
    Subtype subtype = Subtype::Unknown;
    FormatType format = FormatType::None;
    Mpeg1WaveFormat wave;  // format WaveFormatEx (nAvgBytesPerSec is read from any wave format)
    VideoFormat video;     // the four video format types
};

// What a parser needs of its stream: the pin's current media type, two settings, and the
// publishing of its own values. Implemented by the filter's stream (and by tests).
class ParserStream {
public:
    virtual ~ParserStream() = default;
    virtual StreamMediaType CurrentMediaType() const = 0;
    virtual void SetCurrentMediaType(const StreamMediaType& type) = 0;
    virtual PtsSource GetPtsSource() const = 0;
    virtual int32_t InitialTimeShiftMs() const = 0;
    // Stores a read-only value; the stream notifies its sink when it changed.
    virtual void SetOwnValue(OwnValue which, int64_t value) = 0;
    // The filter's total bit rate is the sum of its streams' rates.
    virtual void RecomputeTotalBitrate() = 0;
};

// Where a scan stands: the position and the count of stored bytes from it not yet scanned.
// FindUnit advances both past what it has examined.
struct ScanCursor {
    const uint8_t* pos = nullptr;
    int32_t length = 0;
};

// What a scan reports besides the boundary.
struct ScanResult {
    const uint8_t* boundary = nullptr;  // first byte of the next unit, or null
    bool sequenceStart = false;         // a sequence, group or parameter-set header opens it
    bool unitFound = false;             // a picture (or audio frame) start was found
    int32_t pictureNumber = 0;          // display number of that picture (video)
    // The fields the picture is shown for: H.264 from its picture timing message (pic_struct,
    // ITU-T H.264 Table E-6), MPEG-2 video from its picture coding extension
    // (repeat_first_field, ISO/IEC 13818-2 6.3.10); 0 when the stream does not say.
    int32_t fields = 0;
    // The parity of the first of those fields: 1 top, 2 bottom, 0 not known (progressive).
    int32_t firstField = 0;
    // H.264: what numbering the picture needs beyond the slice's pic_order_cnt_lsb (which
    // is picture_number), for pic_order_cnt_type 1 and 2 (8.2.1.2, 8.2.1.3).
    struct H264Slice {
        int32_t spsId = -1;
        uint32_t frameNum = 0;
        int32_t deltaPoc[2] = {0, 0};
        bool idr = false;
        bool reference = false;
    } h264;
};

class CElementaryParser {
public:
    explicit CElementaryParser(ParserStream& stream) : stream_(stream) {}
    virtual ~CElementaryParser() = default;
    CElementaryParser(const CElementaryParser&) = delete;
    CElementaryParser& operator=(const CElementaryParser&) = delete;

    // Reads the announced rates from the pin's media type and publishes them.
    virtual void Reset() = 0;
    // Times `unit` and holds it; answers the unit held before (the caller owns that
    // reference), or null for the first unit.
    MediaBuffer* Exchange(MediaBuffer* unit);
    // Drops the held unit (flush, deactivation).
    void Clear();
    // Hands over the held unit with its duration marked unknown (end of stream).
    MediaBuffer* TakeHeld();

    // The assembler's scan: the next unit boundary in the bytes at `cursor`. Keeps what it
    // learns of the stream's framing between calls.
    ScanResult FindUnit(ScanCursor& cursor);
    // Forget the framing learnt by FindUnit: the assembler dropped bytes or was reset.
    void Resync();

    uint32_t BitRate() const { return bitRate_; }
    uint32_t FrameLength() const { return frameLength_; }

protected:
    // Framing kept between scans of one byte stream; a fresh one scans a unit on its own.
    struct ScanState {
        int64_t expectedSync = -1;  // audio: bytes from the cursor to the next frame start
        // H.264: the previous slice, to tell the first slice of a new picture (7.4.1.2.3).
        bool haveSlice = false;
        uint32_t frameNum = 0, ppsId = 0, pocLsb = 0, idrPicId = 0;
        int32_t deltaPocBottom = 0, deltaPoc0 = 0, deltaPoc1 = 0;
        uint8_t nalRefIdc = 0;
        bool idr = false, fieldPic = false, bottomField = false;
    };
    virtual ScanResult Scan(ScanCursor& cursor, ScanState& state) = 0;
    virtual void ReadHeader(const ScanResult& /*found*/, int32_t /*remaining*/) {}
    virtual void StartTiming(const ScanResult& found) = 0;
    virtual void NextTiming(MediaBuffer& unit) = 0;
    // A first unit that carries no media of its own (an MP3 encoder's Xing or Info frame):
    // it is dropped and the next unit starts the stream in its place.
    virtual bool CarriesNoMedia(const MediaBuffer& /*unit*/) const { return false; }
    // Scans a unit's own payload from its start.
    ScanResult ScanUnit(const MediaBuffer& unit);

    // The time shift in 100-ns units.
    int64_t Shift() const;
    void PublishBitrate(uint32_t bits_per_second);

    std::mutex lock_;
    ParserStream& stream_;
    int64_t baseTime_ = 0;
    uint32_t bitRate_ = 0;
    BufferRef held_;
    uint32_t frameLength_ = 0;
    ScanState assemblerScan_;
    bool started_ = false;                // a first unit was looked at
    std::optional<int64_t> droppedTime_;  // the time of a first unit dropped
};

// The three audio parsers share the scan and the timing; they differ in the frame header.
class CAudioParser : public CElementaryParser {
public:
    using CElementaryParser::CElementaryParser;
    void Reset() override;

protected:
    // Bytes a header needs, and the scan stops when no more than `ScanTail` bytes remain.
    virtual int32_t ScanTail() const = 0;
    virtual bool IsSync(const uint8_t* q) const = 0;
    virtual bool ParseHeader(const uint8_t* q, common::AudioFrameFacts* info) const = 0;
    ScanResult Scan(ScanCursor& cursor, ScanState& state) override;
    void StartTiming(const ScanResult& found) override;
    void NextTiming(MediaBuffer& unit) override;

private:
    // Unstamped frames are timed from the latest stamped one by the samples since.
    int64_t anchor_ = 0;
    int64_t samples_ = 0;
    int32_t rate_ = 0;
};

class CMpegAudioParser final : public CAudioParser {
public:
    using CAudioParser::CAudioParser;

protected:
    int32_t ScanTail() const override { return 3; }
    bool IsSync(const uint8_t* q) const override;
    bool ParseHeader(const uint8_t* q, common::AudioFrameFacts* info) const override {
        return common::ReadAudioFrameFacts(common::AudioFormat::Mpeg,
                                           {q, common::AudioHeaderBytes(common::AudioFormat::Mpeg)}, info);
    }
    void ReadHeader(const ScanResult& found, int32_t remaining) override;
    bool CarriesNoMedia(const MediaBuffer& unit) const override;
};

class CAc3Parser final : public CAudioParser {
public:
    using CAudioParser::CAudioParser;

protected:
    int32_t ScanTail() const override { return 10; }
    bool IsSync(const uint8_t* q) const override { return q[0] == 0x0B && q[1] == 0x77; }
    bool ParseHeader(const uint8_t* q, common::AudioFrameFacts* info) const override {
        return common::ReadAudioFrameFacts(common::AudioFormat::Ac3,
                                           {q, common::AudioHeaderBytes(common::AudioFormat::Ac3)}, info);
    }
};

class CAacParser final : public CAudioParser {
public:
    using CAudioParser::CAudioParser;

protected:
    int32_t ScanTail() const override { return 10; }
    bool IsSync(const uint8_t* q) const override { return q[0] == 0xFF && (q[1] & 0xF6) == 0xF0; }
    bool ParseHeader(const uint8_t* q, common::AudioFrameFacts* info) const override {
        return common::ReadAudioFrameFacts(common::AudioFormat::Adts,
                                           {q, common::AudioHeaderBytes(common::AudioFormat::Adts)}, info);
    }
};

// The MPEG audio media type built from a frame header; false when the header fails the
// checks.
bool BuildMpegAudioMediaType(const uint8_t* h, StreamMediaType* type, uint32_t* frame_length);

// Makes the parser of a stream type, reset; null for the types without one.
std::unique_ptr<CElementaryParser> CreateParser(StreamType type, ParserStream& stream);

}  // namespace muxer
