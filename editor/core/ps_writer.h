// Program-stream writers: the engines hand them elementary-stream data (video access
// units and audio frames with 100-ns times) and take finished packs out of an output
// queue. CPsWriter is the interface; CMpeg2PsWriter writes ISO/IEC 13818-1 program
// streams (generic MPEG-2 in 2048-byte packs, DVD, SVCD in 2324-byte packs) and
// CMpeg1PsWriter ISO/IEC 11172-1 system streams (MPEG-1, VCD).
//
// Every pack has the output type's full size; nothing is ever dropped: a unit larger
// than a stream's ring is fed through it in chunks, and the output queue grows as needed
// until ReadOutput takes the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/bitstream/program_stream_headers.h"
#include "editor/core/bit_ring.h"
#include "editor/core/ps_parser.h"
#include "editor/core/vr_ifo.h"

namespace editor {

// Output types of the writers.
enum PsWriterType : int {
    kWriterMpeg1 = 1,
    kWriterMpeg2 = 2,
    kWriterVcd = 3,
    kWriterDvd = 4,
    kWriterDvdVr = 5,
    kWriterSvcd = 6,
};

// Audio kinds of AddAudioStream.
enum PsAudioKind : int { kPsAudioLpcm = 0, kPsAudioAc3 = 1, kPsAudioMpeg = 2 };

// Bytes of one LPCM frame (1/600 s) of `format`; 0 for a rate other than 48 or 96 kHz.
int LpcmFrameBytes(const AudioFormat& format);

class CPsWriter {
public:
    virtual ~CPsWriter() = default;
    virtual int AddVideoStreamDefault() = 0;
    // Adds the next video stream; its stream_id (0xE0 + n), or 0 when all are in use.
    virtual int AddVideoStream(int64_t bitRate) = 0;
    virtual int AddAudioStreamDefault(int kind) = 0;
    // kind: kPsAudioLpcm (0xA0 + n), kPsAudioAc3 (0x80 + n), kPsAudioMpeg (0xC0 + n);
    // 0 for another kind or when the kind's streams are all in use.
    virtual int AddAudioStream(int kind, int64_t bitRate) = 0;
    virtual int AddMpegAudioStreamDefault() = 0;
    virtual int AddMpegAudioStream(int64_t bitRate) = 0;
    virtual bool Begin() = 0;
    virtual void End() = 0;
    // Elementary bytes of one access unit; time in 100 ns or kNoTime. Returns the bytes
    // accepted (0 after Flush, for an unknown stream or a non-positive length).
    virtual size_t WriteVideo(int streamId, const uint8_t* data, size_t length, int64_t time) = 0;
    virtual size_t WriteAudio(int streamId, const uint8_t* data, size_t length, int64_t time) = 0;
    virtual void Flush() = 0;
    virtual void WriteSequenceEnd() = 0;
    // Moves up to `capacity` finished bytes into `buffer`; returns the count.
    virtual size_t ReadOutput(uint8_t* buffer, size_t capacity) = 0;
    virtual size_t SetBufferSizes(size_t first, size_t second) = 0;
    virtual void SetType(int type) = 0;
    virtual void SetFillRate(int64_t bytesPerSecond) = 0;
    virtual int64_t GetAverageRate() = 0;
    virtual int GetFileType(const std::string& path) = 0;
    virtual size_t SetFolder(const std::string& path) = 0;
    virtual int64_t GetVideoBytesIn() = 0;
    virtual int64_t GetAudioBytesIn() = 0;
    virtual void SetEngineValue(int value) = 0;
    virtual void SetTimeOrigin(int64_t time) = 0;

    // Not in the slot table: the format of an LPCM stream (0xA0-0xA2); false otherwise.
    virtual bool SetLpcmFormat(int streamId, const AudioFormat& format) = 0;
    // Bytes finished and not yet taken by ReadOutput.
    virtual size_t OutputPending() = 0;
    // How far ahead of the audio (100 ns, decoding times) the caller hands video units:
    // a picture as large as the video buffer then has the time it needs to go out at the
    // mux rate, its packets spread by the writer between the audio packets. 0 when the
    // writer takes both streams in time order.
    virtual int64_t VideoLead() { return 0; }
};

// Shared by both writers: streams, times, the output queue and the lock.
class CPsWriterBase : public CPsWriter {
public:
    size_t ReadOutput(uint8_t* buffer, size_t capacity) override;
    size_t OutputPending() override;
    int GetFileType(const std::string& path) override;
    int64_t GetVideoBytesIn() override;
    int64_t GetAudioBytesIn() override;
    void SetEngineValue(int value) override;
    void SetTimeOrigin(int64_t time) override;
    void SetFillRate(int64_t bytesPerSecond) override;

protected:
    static constexpr int64_t kNoTs = -1;  // no 90 kHz time stamp

    struct EsStream {
        int streamId = 0;
        int kind = 0;  // 0 video, else a PsAudioKind
        CBitRing ring;
        int64_t position = 0;  // stream bytes accepted so far
        int64_t taken = 0;     // stream bytes packed so far
        // Starts of access units not yet packed, with their 90 kHz times (kNoTs when the
        // unit has none); the first timed one inside a packet gives its PTS.
        struct Start {
            int64_t position;
            int64_t ts;
        };
        std::deque<Start> starts;
        bool firstPacket = true;
        int64_t payloadSize = 9999;
        AudioFormat lpcm;
        bool lpcmSet = false;
        int lpcmFrameNumber = 0;
        int64_t bitRate = 0;
        // The stream's decoder buffer as the packs fill it: bytes sent and not yet
        // decoded, by their decoding time (27 MHz), and the time of the latest stamp.
        struct Held {
            int64_t due, bytes;
        };
        std::deque<Held> held;
        int64_t heldBytes = 0;
        int64_t lastDue = -1;
    };

    CPsWriterBase() = default;
    // Converts an input time to a 33-bit 90 kHz stamp (kNoTs for kNoTime), setting the
    // origin from the first timed input when none is set.
    int64_t ToTicks(int64_t time);
    // Appends `length` bytes (one access unit) to the stream, packing whenever its ring
    // holds a full payload; `pack` writes one packet from the ring.
    template <typename PackFn>
    void Feed(EsStream* s, const uint8_t* data, size_t length, int64_t ts, PackFn pack);
    // The time of the first unit starting in [taken, taken + n) of the stream, dropping
    // the starts it passes; kNoTs when none is timed.
    int64_t TakeStarts(EsStream* s, int64_t n, int* count = nullptr, int64_t* firstOffset = nullptr);
    // Offset of the first / second timed unit start within the next `n` bytes, or -1.
    int64_t FirstTimedStart(const EsStream& s, int64_t n) const;
    int64_t SecondTimedStart(const EsStream& s, int64_t n) const;
    // True when a timed unit starts within the next `n` bytes of the stream.
    bool TimedStartWithin(const EsStream& s, int64_t n) const;
    // Ring sizes of SetBufferSizes, with the writer's floor for video rings.
    size_t RingSizes(size_t first, size_t second, size_t videoFloor);
    // The next stream of a kind (stream_id firstId + n), or nullptr when `most` exist or
    // memory is short.
    EsStream* NewStream(std::vector<EsStream*>* list, size_t most, int firstId, int kind, int64_t bitRate,
                        size_t ringSize);
    static void ResetStreams(const std::vector<EsStream*>& list);
    static void FreeStreams(std::vector<EsStream*>* list);
    void Emit(const uint8_t* data, size_t n);
    void EmitFill(uint8_t value, size_t n);
    void ResetOutput();

    std::mutex lock_;
    std::vector<uint8_t> out_;
    size_t outRead_ = 0;
    std::vector<uint8_t> ring_;  // one packet's payload, copied out of a stream ring
    int64_t timeOrigin_ = 0;
    bool originSet_ = false;
    bool flushed_ = false;
    int64_t fillRate_ = 0;
    bool fillOn_ = false;
    int engineValue_ = 0;
    int64_t videoBytesIn_ = 0;
    int64_t audioBytesIn_ = 0;
    int64_t latestVideoTime_ = 0;  // 100 ns after the origin
    int64_t highestTs_ = 0;        // 90 kHz, over every PES time stamp written
    int64_t highestVideoPts_ = 0;
    int64_t passedVideoPts_ = 0;  // highest time of a picture packed without its time
    int64_t bytesWritten_ = 0;
    int64_t bytesTaken_ = 0;
    size_t audioRingSize_ = 20480;
    size_t videoRingSize_ = 409600;
};

class CMpeg2PsWriter : public CPsWriterBase {
public:
    CMpeg2PsWriter();
    ~CMpeg2PsWriter() override;

    int AddVideoStreamDefault() override { return AddVideoStream(0); }
    int AddVideoStream(int64_t bitRate) override;
    int AddAudioStreamDefault(int kind) override { return AddAudioStream(kind, 4096); }
    int AddAudioStream(int kind, int64_t bitRate) override;
    int AddMpegAudioStreamDefault() override { return AddMpegAudioStream(4096); }
    int AddMpegAudioStream(int64_t bitRate) override;
    bool Begin() override;
    void End() override;
    size_t WriteVideo(int streamId, const uint8_t* data, size_t length, int64_t time) override;
    size_t WriteAudio(int streamId, const uint8_t* data, size_t length, int64_t time) override;
    void Flush() override;
    void WriteSequenceEnd() override;
    size_t SetBufferSizes(size_t first, size_t second) override;
    void SetType(int type) override;
    int64_t GetAverageRate() override;
    size_t SetFolder(const std::string& path) override;
    bool SetLpcmFormat(int streamId, const AudioFormat& format) override;
    int64_t VideoLead() override;

    int Type() const { return type_; }
    int PackSize() const { return packSize_; }
    // Why the last DVD-VR stream's management file was not written (empty when it was).
    const std::string& VrError() const { return vrError_; }

private:
    EsStream* Find(int streamId);
    void WriteVideoLocked(EsStream* s, const uint8_t* data, size_t length, int64_t ts);
    // The payload of the stream's next video packet, and one such packet when the ring
    // holds it.
    int64_t NextVideoPayload(const EsStream& s) const;
    bool PackVideo(EsStream* s);
    void VideoRemainder(EsStream* s);
    // Every video packet still waiting in the rings, then a remainder that nearly fills
    // a packet.
    void EndSpread();
    // While video leads: before a pack of `bytes` for `other` (null for a padding pack),
    // the waiting video packets that fit in the time it waits for room in its buffer,
    // and those that would otherwise arrive after their decoding time.
    void SpreadBefore(const EsStream* other, int64_t bytes);
    // Whether the waiting video packets of `s`, sent from `start` (27 MHz) on, would end
    // a picture after its decoding time.
    bool VideoLate(const EsStream& s, int64_t start) const;
    // The SCR (27 MHz) of a pack header written now, before any buffer wait.
    int64_t NextScr() const;
    // The earliest SCR from `scr` on at which `bytes` more fit the stream's buffer.
    int64_t RoomTime(const EsStream& s, int64_t bytes, int64_t scr) const;
    int64_t VideoLeadLocked() const;
    // The first picture's time (90 kHz), moved later together with every time not yet
    // written when the picture could not arrive by its decoding time at the mux rate.
    int64_t LeadForFirstPicture(int64_t ts, size_t length);
    void FlushAllLocked();
    void FlushVideoLocked();
    void SystemHeaderIfDue();
    void NavPack();
    // A pack header whose SCR follows the last pack at the declared mux rate and is late
    // enough that `bytes` more of stream `s`, decoded at `due` (90 kHz, kNoTs for the
    // stream's latest stamp), fit its buffer.
    void PackHeader(std::vector<uint8_t>* p, EsStream* s = nullptr, int64_t bytes = 0, int64_t due = kNoTs);
    // Bytes of the decoder buffer the system header declares for a stream.
    int64_t BufferBound(const EsStream& s) const;
    void SystemHeader(std::vector<uint8_t>* p);
    void WriteSystemHeader(std::vector<uint8_t>* p, int64_t rateBound, bool locks,
                           const std::vector<common::StdBufferBound>& entries) const;
    void PaddingPacket(std::vector<uint8_t>* p, int n);
    // One pack with one PES packet of `payload` bytes from the stream's ring, filled to
    // the pack size with stuffing (up to 7 bytes) or a padding packet.
    void VideoPacket(EsStream* s, int64_t payload, bool final);
    void AudioPacket(EsStream* s, int64_t payload, bool final);
    void FinishPack(std::vector<uint8_t>* p);
    void FillToRate();
    int64_t MuxRate() const;
    void LpcmLayout(const EsStream& s, int* stuffing, bool* extension, int* leftover) const;
    int64_t AudioPayload(const EsStream& s, bool timed) const;

    int type_ = kWriterMpeg2;
    int packSize_ = 2048;
    std::vector<EsStream*> video_, mpegAudio_, ac3_, lpcm_;
    int64_t streamRateSum_ = 0;  // bytes per second
    int64_t computedRate_ = 1248800;
    int64_t videoBitRate_ = 4000000;
    int64_t audioBitRate_ = 128000;
    int64_t rateBound_ = 25200;
    bool systemHeaderDue_ = true;
    bool firstVideoAfterSequence_ = false;
    bool lastVideoPackShort_ = false;
    int64_t scr27_ = -1;         // SCR of the last pack, 27 MHz
    int64_t lastPackStart_ = 0;  // bytesWritten_ at the last pack header
    // Ticks the first timed picture is decoded ahead of its own time less 1,000 (for the
    // pictures its GOP shows before it); -1 when unknown.
    int64_t firstLead_ = -1;
    bool stampWritten_ = false;         // a PTS has gone out since Begin; times can no longer move
    int framePeriod_ = 0;               // 90 kHz, from the last sequence header; 0 when unknown
    int64_t firstVideoTime_ = kNoTime;  // 100 ns, where the fill to the video rate starts
    // Video handed ahead of the audio waits in its ring for room between audio packets.
    bool spread_ = false;
    std::vector<uint8_t> pack_;
    std::string vrFolder_;
    std::unique_ptr<CVrRecorder> vr_;
    std::string vrError_;
};

class CMpeg1PsWriter : public CPsWriterBase {
public:
    CMpeg1PsWriter();
    ~CMpeg1PsWriter() override;

    int AddVideoStreamDefault() override;
    int AddVideoStream(int64_t bitRate) override;
    int AddAudioStreamDefault(int) override { return AddMpegAudioStream(0); }
    int AddAudioStream(int, int64_t bitRate) override { return AddMpegAudioStream(bitRate); }
    int AddMpegAudioStreamDefault() override { return AddMpegAudioStream(0); }
    int AddMpegAudioStream(int64_t bitRate) override;
    bool Begin() override;
    void End() override;
    size_t WriteVideo(int streamId, const uint8_t* data, size_t length, int64_t time) override;
    size_t WriteAudio(int streamId, const uint8_t* data, size_t length, int64_t time) override;
    void Flush() override;
    void WriteSequenceEnd() override;
    size_t SetBufferSizes(size_t first, size_t second) override;
    void SetType(int type) override;
    int64_t GetAverageRate() override;
    size_t SetFolder(const std::string&) override { return 0; }
    bool SetLpcmFormat(int, const AudioFormat&) override { return false; }

    int Type() const { return type_; }

private:
    EsStream* Find(int streamId);
    void SystemHeadersIfDue();
    void PackHeader(std::vector<uint8_t>* p);
    void Packet(EsStream* s, int64_t payload, bool final);
    void PaddingPacket(std::vector<uint8_t>* p, int n);
    void FillVideo();
    int64_t MuxRate() const;

    int type_ = kWriterVcd;
    std::vector<EsStream*> video_, audio_;
    int64_t rate_ = 176400;  // bytes per second
    int64_t computedRate_ = 1248800;
    int64_t videoBitRate_ = 4000000;
    int64_t audioBitRate_ = 128000;
    int64_t scrBase_ = 0;
    int64_t scrX_ = 0;
    int64_t adaptiveTarget_ = 125000;
    bool systemHeadersDue_ = true;
    std::vector<uint8_t> pack_;
};

// A writer for an output type: MPEG-1 for types 1 and 3, MPEG-2 for every other type.
std::unique_ptr<CPsWriter> MakePsWriter(int type);

}  // namespace editor
