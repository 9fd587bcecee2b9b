#include "editor/core/ps_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "common/bitstream/mpeg2_video_header.h"
#include "common/bitstream/program_stream_headers.h"
#include "editor/core/clip_probe.h"

namespace editor {
namespace {

constexpr int64_t kTsMask = (int64_t(1) << 33) - 1;

void Put8(std::vector<uint8_t>* p, int v) {
    p->push_back(uint8_t(v));
}
void Put16(std::vector<uint8_t>* p, int v) {
    p->push_back(uint8_t(v >> 8));
    p->push_back(uint8_t(v));
}
void PutPadding(std::vector<uint8_t>* p, int n, uint8_t first, uint8_t fill) {
    if (n >= 0) common::AppendPaddingPacket(p, uint32_t(n), first, fill);
}

// The P-STD buffer field of a packet's PES extension; SVCD's extension flags leave the
// reserved bits zero.
void SetStdBuffer(common::PesHeaderFields* pes, bool svcd, int scale, int size) {
    pes->pstdBuffer = true;
    pes->pstdScale = uint8_t(scale);
    pes->pstdSize = uint16_t(size);
    pes->extensionReserved = svcd ? 0 : 7;
}

bool IsSequenceHeader(const uint8_t* p, size_t n) {
    return n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0xB3;
}

}  // namespace

int LpcmFrameBytes(const AudioFormat& f) {
    if (f.samplesPerSec == 48000) return f.bitsPerSample * f.channels * 80 / 8;
    if (f.samplesPerSec == 96000) return f.bitsPerSample * f.channels * 160 / 8;
    return 0;
}

// ---------------------------------------------------------------------------------------
// Shared part

size_t CPsWriterBase::ReadOutput(uint8_t* buffer, size_t capacity) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!buffer) return 0;
    const size_t n = std::min(capacity, out_.size() - outRead_);
    if (n == 0) return 0;
    std::memcpy(buffer, out_.data() + outRead_, n);
    outRead_ += n;
    bytesTaken_ += int64_t(n);
    if (outRead_ == out_.size()) {
        out_.clear();
        outRead_ = 0;
    }
    return n;
}

size_t CPsWriterBase::OutputPending() {
    std::lock_guard<std::mutex> hold(lock_);
    return out_.size() - outRead_;
}

int CPsWriterBase::GetFileType(const std::string& path) {
    return GetMpegFileTypeEx(path);
}

int64_t CPsWriterBase::GetVideoBytesIn() {
    std::lock_guard<std::mutex> hold(lock_);
    return videoBytesIn_;
}

int64_t CPsWriterBase::GetAudioBytesIn() {
    std::lock_guard<std::mutex> hold(lock_);
    return audioBytesIn_;
}

void CPsWriterBase::SetEngineValue(int value) {
    std::lock_guard<std::mutex> hold(lock_);
    engineValue_ = value;
}

void CPsWriterBase::SetTimeOrigin(int64_t time) {
    std::lock_guard<std::mutex> hold(lock_);
    timeOrigin_ = time;
    originSet_ = true;
}

void CPsWriterBase::SetFillRate(int64_t bytesPerSecond) {
    fillRate_ = std::max<int64_t>(0, bytesPerSecond);
    fillOn_ = fillRate_ > 0;
}

int64_t CPsWriterBase::ToTicks(int64_t time) {
    if (time == kNoTime) return kNoTs;
    if (!originSet_) {
        timeOrigin_ = time;
        originSet_ = true;
    }
    // A time before the origin cannot be stamped in 33 unsigned bits: it becomes 0.
    const int64_t t = std::max<int64_t>(0, time - timeOrigin_);
    return (t * 9 / 1000) & kTsMask;
}

template <typename PackFn>
void CPsWriterBase::Feed(EsStream* s, const uint8_t* data, size_t length, int64_t ts, PackFn pack) {
    s->starts.push_back({s->position, ts});
    while (length > 0) {
        const size_t n = std::min(length, s->ring.FreeSpace());
        if (n > 0 && s->ring.PutBytes(data, n)) {
            s->position += int64_t(n);
            data += n;
            length -= n;
        }
        // Packing frees the ring; a ring that cannot take a byte and yields no packet is
        // smaller than one payload, which the size rules never allow.
        if (!pack() && n == 0) break;
    }
    while (pack()) {
    }
}

bool CPsWriterBase::TimedStartWithin(const EsStream& s, int64_t n) const {
    return FirstTimedStart(s, n) >= 0;
}

int64_t CPsWriterBase::FirstTimedStart(const EsStream& s, int64_t n) const {
    for (const EsStream::Start& st : s.starts) {
        if (st.position >= s.taken + n) break;
        if (st.position >= s.taken && st.ts != kNoTs) return st.position - s.taken;
    }
    return -1;
}

int64_t CPsWriterBase::SecondTimedStart(const EsStream& s, int64_t n) const {
    bool first = false;
    for (const EsStream::Start& st : s.starts) {
        if (st.position >= s.taken + n) break;
        if (st.position < s.taken || st.ts == kNoTs) continue;
        if (first && st.position > s.taken) return st.position - s.taken;
        first = true;
    }
    return -1;
}

int64_t CPsWriterBase::TakeStarts(EsStream* s, int64_t n, int* count, int64_t* firstOffset) {
    int64_t ts = kNoTs;
    int c = 0;
    if (firstOffset) *firstOffset = -1;
    while (!s->starts.empty() && s->starts.front().position < s->taken + n) {
        const EsStream::Start st = s->starts.front();
        s->starts.pop_front();
        if (st.position < s->taken) continue;
        if (c == 0 && firstOffset) *firstOffset = st.position - s->taken;
        ++c;
        if (ts == kNoTs) {
            ts = st.ts;
        } else if (s->kind == -1 && st.ts != kNoTs) {
            // A picture whose time is not written still counts for the decoding times
            // that follow it.
            passedVideoPts_ = std::max(passedVideoPts_, st.ts);
        }
    }
    if (count) *count = c;
    return ts;
}

size_t CPsWriterBase::RingSizes(size_t first, size_t second, size_t videoFloor) {
    std::lock_guard<std::mutex> hold(lock_);
    audioRingSize_ = std::max<size_t>(2 * first, 20480);
    videoRingSize_ = std::max<size_t>(2 * second, videoFloor);
    return std::max<size_t>(2 * (first + second), videoFloor);
}

CPsWriterBase::EsStream* CPsWriterBase::NewStream(std::vector<EsStream*>* list, size_t most, int firstId, int kind,
                                                  int64_t bitRate, size_t ringSize) {
    if (list->size() >= most) return nullptr;
    auto s = std::make_unique<EsStream>();
    s->streamId = firstId + int(list->size());
    s->kind = kind;
    s->bitRate = bitRate;
    if (!s->ring.Create(ringSize)) return nullptr;
    list->push_back(s.release());
    return list->back();
}

void CPsWriterBase::ResetStreams(const std::vector<EsStream*>& list) {
    for (EsStream* s : list) {
        s->firstPacket = true;
        s->ring.Reset();
        s->position = s->taken = 0;
        s->starts.clear();
        s->payloadSize = 9999;
        s->lpcmFrameNumber = 0;
        s->held.clear();
        s->heldBytes = 0;
        s->lastDue = -1;
    }
}

void CPsWriterBase::FreeStreams(std::vector<EsStream*>* list) {
    for (EsStream* s : *list)
        delete s;
    list->clear();
}

void CPsWriterBase::Emit(const uint8_t* data, size_t n) {
    out_.insert(out_.end(), data, data + n);
    bytesWritten_ += int64_t(n);
}

void CPsWriterBase::EmitFill(uint8_t value, size_t n) {
    out_.insert(out_.end(), n, value);
    bytesWritten_ += int64_t(n);
}

void CPsWriterBase::ResetOutput() {
    out_.clear();
    outRead_ = 0;
    bytesWritten_ = bytesTaken_ = 0;
    videoBytesIn_ = audioBytesIn_ = 0;
    latestVideoTime_ = 0;
    highestTs_ = highestVideoPts_ = passedVideoPts_ = 0;
    flushed_ = false;
    originSet_ = false;
    timeOrigin_ = 0;
}

// ---------------------------------------------------------------------------------------
// MPEG-2 program stream

CMpeg2PsWriter::CMpeg2PsWriter() = default;

CMpeg2PsWriter::~CMpeg2PsWriter() {
    End();
}

size_t CMpeg2PsWriter::SetBufferSizes(size_t first, size_t second) {
    return RingSizes(first, second, 409600);
}

void CMpeg2PsWriter::SetType(int type) {
    std::lock_guard<std::mutex> hold(lock_);
    type_ = type;
    if (type == kWriterMpeg2 || type == kWriterSvcd) {
        streamRateSum_ = 0;
        computedRate_ = 1248800;
    } else if (type == kWriterDvd || type == kWriterDvdVr) {
        streamRateSum_ = 1260000;
    } else {
        streamRateSum_ = 223600;
    }
    packSize_ = type == kWriterSvcd ? 2324 : 2048;
}

int CMpeg2PsWriter::AddVideoStream(int64_t bitRate) {
    std::lock_guard<std::mutex> hold(lock_);
    EsStream* s = NewStream(&video_, 16, 0xE0, -1, bitRate, videoRingSize_);
    if (!s) return 0;
    if (type_ == kWriterMpeg2 || type_ == kWriterSvcd) streamRateSum_ += bitRate / 8 * 512 / 511;
    if (bitRate > 0) videoBitRate_ = bitRate;
    SetFillRate(bitRate / 8);
    return s->streamId;
}

int CMpeg2PsWriter::AddAudioStream(int kind, int64_t bitRate) {
    if (kind == kPsAudioMpeg) return AddMpegAudioStream(bitRate);
    if (kind != kPsAudioAc3 && kind != kPsAudioLpcm) return 0;
    std::lock_guard<std::mutex> hold(lock_);
    EsStream* s = NewStream(kind == kPsAudioAc3 ? &ac3_ : &lpcm_, 2, kind == kPsAudioAc3 ? 0x80 : 0xA0, kind, bitRate,
                            audioRingSize_);
    if (!s) return 0;
    if (type_ == kWriterMpeg2 || type_ == kWriterSvcd) streamRateSum_ += bitRate / 8 * 1024 / 1021;
    if (bitRate > 0) audioBitRate_ = bitRate;
    return s->streamId;
}

int CMpeg2PsWriter::AddMpegAudioStream(int64_t bitRate) {
    std::lock_guard<std::mutex> hold(lock_);
    EsStream* s = NewStream(&mpegAudio_, 32, 0xC0, kPsAudioMpeg, bitRate, audioRingSize_);
    if (!s) return 0;
    if (type_ == kWriterMpeg2 || type_ == kWriterSvcd) streamRateSum_ += bitRate / 8 * 1024 / 1021;
    if (bitRate > 0) audioBitRate_ = bitRate;
    return s->streamId;
}

bool CMpeg2PsWriter::SetLpcmFormat(int streamId, const AudioFormat& format) {
    std::lock_guard<std::mutex> hold(lock_);
    if (streamId < 0xA0 || streamId > 0xA2) return false;
    EsStream* s = Find(streamId);
    if (!s || LpcmFrameBytes(format) <= 0) return false;
    s->lpcm = format;
    s->lpcmSet = true;
    return true;
}

CMpeg2PsWriter::EsStream* CMpeg2PsWriter::Find(int id) {
    for (auto* list : {&video_, &mpegAudio_, &ac3_, &lpcm_})
        for (EsStream* s : *list)
            if (s->streamId == id) return s;
    return nullptr;
}

size_t CMpeg2PsWriter::SetFolder(const std::string& path) {
    vrFolder_ = path;
    return path.size() + 1;
}

bool CMpeg2PsWriter::Begin() {
    std::lock_guard<std::mutex> hold(lock_);
    ResetOutput();
    for (auto* list : {&video_, &mpegAudio_, &ac3_, &lpcm_})
        ResetStreams(*list);
    systemHeaderDue_ = true;
    firstVideoAfterSequence_ = false;
    lastVideoPackShort_ = false;
    scr27_ = -1;
    lastPackStart_ = 0;
    firstLead_ = -1;
    stampWritten_ = false;
    framePeriod_ = 0;
    firstVideoTime_ = kNoTime;
    packSize_ = type_ == kWriterSvcd ? 2324 : 2048;
    // A DVD-VR stream is recorded in its folder's management file at the end.
    vr_.reset(type_ == kWriterDvdVr ? new (std::nothrow) CVrRecorder : nullptr);
    vrError_.clear();
    if (fillOn_) {
        const double bits = (double(videoBitRate_) * 1.02555 + double(audioBitRate_) * 1.05) * 0.0025;
        computedRate_ = int64_t(bits + 0.999999) * 400;
        // The packs' own bytes on top of the streams' (computedRate_ counts them, in
        // units of 400 bits per second); the bound covers every pack's rate.
        rateBound_ = std::max((streamRateSum_ + 49) / 50, computedRate_ / 400);
    } else {
        rateBound_ = 25200;
    }
    spread_ = VideoLeadLocked() > 0;
    return true;
}

void CMpeg2PsWriter::End() {
    std::lock_guard<std::mutex> hold(lock_);
    if (vr_) {
        if (!vr_->Finish(bytesWritten_, vrFolder_, &vrError_) && vrError_.empty())
            vrError_ = "the management file was not written";
        vr_.reset();
    }
    for (auto* list : {&video_, &mpegAudio_, &ac3_, &lpcm_})
        FreeStreams(list);
}

// program_mux_rate in units of 50 bytes per second: the rate the SCRs are spaced by.
int64_t CMpeg2PsWriter::MuxRate() const {
    if (type_ == kWriterDvd || type_ == kWriterDvdVr) return 25200;
    if (type_ == kWriterSvcd) return 6972;
    return rateBound_;
}

int64_t CMpeg2PsWriter::BufferBound(const EsStream& s) const {
    if (s.kind == -1) return (type_ == kWriterSvcd ? 230 : 232) * 1024;
    if (s.kind == kPsAudioMpeg) return 32 * 128;
    return 58 * 1024;
}

int64_t CMpeg2PsWriter::GetAverageRate() {
    std::lock_guard<std::mutex> hold(lock_);
    if (highestTs_ <= 180000) return 34400000;
    return bytesTaken_ * 8 * 90000 / highestTs_;
}

// 14 bytes: ISO/IEC 13818-1 2.5.3.3. The SCR (27 MHz, base and extension) is as early as
// 2.5.2 allows: the previous pack's bytes have entered at program_mux_rate, and the P-STD
// buffer of the stream this pack feeds has room for its bytes, the bytes already sent
// leaving at their decoding times. The engines feed units in decoding order, so every
// unit then arrives before its decoding time while the streams fit the mux rate.
void CMpeg2PsWriter::PackHeader(std::vector<uint8_t>* p, EsStream* s, int64_t bytes, int64_t due) {
    const int64_t rate = MuxRate();
    int64_t scr = 0;
    if (scr27_ >= 0) {
        const int64_t sent = bytesWritten_ - lastPackStart_;
        scr = scr27_ + (sent * 27000000 + rate * 50 - 1) / (rate * 50);
    }
    if (s) {
        const int64_t room = BufferBound(*s) - bytes;
        while (!s->held.empty() && (s->held.front().due <= scr || s->heldBytes > room)) {
            scr = std::max(scr, s->held.front().due);
            s->heldBytes -= s->held.front().bytes;
            s->held.pop_front();
        }
        if (due != kNoTs) s->lastDue = due * 300;
        // Bytes before the stream's first stamp belong to no decoding time yet.
        if (s->lastDue >= 0 && bytes > 0) {
            s->held.push_back({s->lastDue, bytes});
            s->heldBytes += bytes;
        }
    }
    scr27_ = scr;
    lastPackStart_ = bytesWritten_;
    common::VectorFieldWriter w(*p);
    common::WritePackHeader(w, uint64_t(scr / 300), uint32_t(scr % 300), uint32_t(rate));
}

void CMpeg2PsWriter::SystemHeader(std::vector<uint8_t>* p) {
    const bool dvd = type_ == kWriterDvd || type_ == kWriterDvdVr;
    std::vector<common::StdBufferBound> entries;
    if (dvd) {
        if (!video_.empty()) entries.push_back({0xB9, 1, 232});
        if (!mpegAudio_.empty()) entries.push_back({0xB8, 0, 32});
        if (!ac3_.empty()) entries.push_back({0xBD, 1, 58});
        if (!lpcm_.empty()) entries.push_back({0xBD, 1, 58});
        entries.push_back({0xBF, 1, 2});
    } else {
        // 232 KB, as on DVD: the P-STD buffer holds the 224 KB VBV buffer of main
        // profile at main level (ISO/IEC 13818-2 Table 8-13) and a pack's worth more.
        for (EsStream* s : video_)
            entries.push_back({uint8_t(s->streamId), 1, uint16_t(type_ == kWriterSvcd ? 230 : 232)});
        for (EsStream* s : mpegAudio_)
            entries.push_back({uint8_t(s->streamId), 0, 32});
        if (!ac3_.empty()) entries.push_back({0xBD, 1, 58});
        if (!lpcm_.empty()) entries.push_back({0xBD, 1, 58});
    }
    const bool svcd = type_ == kWriterSvcd;
    WriteSystemHeader(p, dvd ? 25200 : svcd ? MuxRate() : rateBound_, dvd || svcd, entries);
}

void CMpeg2PsWriter::WriteSystemHeader(std::vector<uint8_t>* p, int64_t rateBound, bool locks,
                                       const std::vector<common::StdBufferBound>& entries) const {
    common::SystemHeaderFields f;
    f.rateBound = uint32_t(rateBound);
    f.audioBound = uint32_t(mpegAudio_.size());
    f.fixed = fillOn_;
    f.systemAudioLock = f.systemVideoLock = locks;
    f.videoBound = uint32_t(video_.size());
    f.packetRateRestriction = true;
    f.streams = entries;
    common::VectorFieldWriter w(*p);
    common::WriteSystemHeader(w, f);
}

void CMpeg2PsWriter::PaddingPacket(std::vector<uint8_t>* p, int n) {
    PutPadding(p, n, 0xFF, 0xFF);
}

void CMpeg2PsWriter::FinishPack(std::vector<uint8_t>* p) {
    Emit(p->data(), p->size());
    p->clear();
}

// The system header opens the stream: type 2 in a pack of its own, filled with a padding
// packet; type 6 in the first of its two opening packs. DVD types repeat it in every
// navigation pack (one per video object unit), as DVD-Video requires.
//
// A DVD navigation pack opens every video object unit: the pack header, an 18-byte system
// header (video, MPEG audio, private stream 1 and 2 buffers), and the two private stream
// 2 packets that hold the presentation and data search information, left zero for the
// authoring tool to fill in.
void CMpeg2PsWriter::NavPack() {
    pack_.clear();
    PackHeader(&pack_);
    WriteSystemHeader(&pack_, 25200, true, {{0xB9, 1, 232}, {0xB8, 0, 32}, {0xBD, 1, 58}, {0xBF, 1, 2}});
    common::AppendNavigationPackets(&pack_);
    FinishPack(&pack_);
}

void CMpeg2PsWriter::SystemHeaderIfDue() {
    if (!systemHeaderDue_) return;
    // DVD streams carry their system header in the navigation packs.
    if (type_ == kWriterDvd || type_ == kWriterDvdVr) return;
    systemHeaderDue_ = false;
    if (type_ == kWriterSvcd) {
        // Two packs open the stream, at SCRs of 2 and 602 ticks: the first with the one
        // system header of every stream (ISO/IEC 13818-1 2.5.3.5: every system header of
        // a stream carries the same values, and its rate_bound covers every pack's
        // program_mux_rate), the second with padding only.
        for (const int64_t scr : {2, 602}) {
            pack_.clear();
            {
                common::VectorFieldWriter w(pack_);
                common::WritePackHeader(w, uint64_t(scr), 0, uint32_t(MuxRate()));
            }
            if (scr == 2) SystemHeader(&pack_);
            PaddingPacket(&pack_, packSize_ - int(pack_.size()) - 6);
            FinishPack(&pack_);
        }
        scr27_ = 602 * 300;
        lastPackStart_ = bytesWritten_ - packSize_;
        return;
    }
    pack_.clear();
    PackHeader(&pack_);
    SystemHeader(&pack_);
    PaddingPacket(&pack_, packSize_ - int(pack_.size()) - 6);
    FinishPack(&pack_);
}

void CMpeg2PsWriter::VideoPacket(EsStream* s, int64_t payload, bool final) {
    SystemHeaderIfDue();
    const bool svcd = type_ == kWriterSvcd;
    const bool dvd = type_ == kWriterDvd || type_ == kWriterDvdVr;
    const bool timed = TimedStartWithin(*s, payload);
    const bool stdExt = svcd || (dvd && firstVideoAfterSequence_ && timed);
    // Pictures packed after the timed one of this packet count from the next packet on.
    const int64_t passedBefore = passedVideoPts_;
    int64_t ts = TakeStarts(s, payload);
    if (!timed) ts = kNoTs;
    int headerData = (ts != kNoTs ? 10 : 0) + (stdExt ? 3 : 0);
    // A pack that ends the stream on type 6 leaves room for the program end code.
    const int room = packSize_ - (final && svcd ? 4 : 0);
    if (final && svcd) lastVideoPackShort_ = true;
    int spare = room - 14 - 9 - headerData - int(payload);
    if (spare < 0) {
        payload += spare;  // never: payload sizes are chosen to fit
        spare = 0;
    }
    const int stuffing = spare <= 7 ? spare : 0;
    headerData += stuffing;
    int64_t dts = kNoTs;
    if (ts != kNoTs) {
        dts = std::min(ts - 1000, std::max(highestVideoPts_, passedBefore));
        // The first picture is decoded 1,000 ticks before it is shown like the others,
        // and a frame before the pictures its GOP shows ahead of it: a decoding time of 1
        // would be due before its bytes can arrive.
        if (dts <= 0 && firstLead_ >= 0) dts = ts - 1000 - firstLead_;
        if (dts <= 0) dts = 1;
    }
    pack_.clear();
    PackHeader(&pack_, s, payload, dts);
    common::PesHeaderFields pes;
    pes.streamId = uint8_t(s->streamId);
    pes.packetLength = uint32_t(3 + headerData + int(payload));
    pes.original = true;
    if (ts != kNoTs) {
        pes.pts = ts & kTsMask;
        pes.dts = dts & kTsMask;
        highestVideoPts_ = std::max(highestVideoPts_, ts);
        highestTs_ = std::max(highestTs_, ts);
        stampWritten_ = true;
        firstVideoAfterSequence_ = false;
    }
    if (stdExt) SetStdBuffer(&pes, svcd, 1, svcd ? 230 : 232);
    pes.stuffing = uint32_t(stuffing);
    common::VectorFieldWriter w(pack_);
    common::WritePesHeader(w, pes);
    const size_t at = pack_.size();
    pack_.resize(at + size_t(payload));
    const size_t got = s->ring.Read(pack_.data() + at, size_t(payload));
    pack_.resize(at + got);
    s->taken += int64_t(got);
    if (spare > 7) PaddingPacket(&pack_, spare - 6);
    s->firstPacket = false;
    s->payloadSize = packSize_ - (svcd ? 36 : 33);
    FinishPack(&pack_);
}

// Stuffing, extension and trailing padding of an LPCM packet by channels and sample size,
// so that each packet carries whole samples.
void CMpeg2PsWriter::LpcmLayout(const EsStream& s, int* stuffing, bool* extension, int* leftover) const {
    struct Cell {
        int stuffing;
        bool extension;
        int leftover;
    };
    static const Cell kTable[8][3] = {
        {{2, true, 0}, {0, true, 0}, {0, true, 0}},     {{2, true, 0}, {0, true, 0}, {0, false, 9}},
        {{0, false, 9}, {0, true, 0}, {0, false, 15}},  {{0, false, 13}, {0, false, 13}, {0, false, 21}},
        {{0, false, 13}, {0, false, 13}, {0, true, 0}}, {{0, false, 21}, {0, true, 0}, {0, false, 0}},
        {{0, false, 25}, {0, false, 0}, {0, false, 0}}, {{0, false, 29}, {0, false, 0}, {0, false, 0}},
    };
    const int ch = std::clamp<int>(s.lpcm.channels, 1, 8) - 1;
    const int bits = s.lpcm.bitsPerSample == 24 ? 2 : s.lpcm.bitsPerSample == 20 ? 1 : 0;
    const Cell c = kTable[ch][bits];
    *stuffing = c.stuffing;
    *extension = c.extension;
    *leftover = c.leftover;
}

int64_t CMpeg2PsWriter::AudioPayload(const EsStream& s, bool timed) const {
    const bool svcd = type_ == kWriterSvcd;
    const bool dvd = type_ == kWriterDvd || type_ == kWriterDvdVr;
    int64_t n = packSize_ - 23;
    if (s.kind == kPsAudioLpcm) {
        int stuffing = 0, leftover = 0;
        bool ext = false;
        LpcmLayout(s, &stuffing, &ext, &leftover);
        ext = ext || svcd || (dvd && s.firstPacket);
        // An LPCM packet keeps its size with or without a time stamp (the five bytes
        // become stuffing), so that every packet holds whole samples.
        return n - 5 - 7 - stuffing - (ext ? 3 : 0) - leftover;
    }
    if (timed) n -= 5;
    if (s.kind == kPsAudioAc3) n -= 4;
    if (svcd || (dvd && s.firstPacket)) n -= 3;
    return n;
}

void CMpeg2PsWriter::AudioPacket(EsStream* s, int64_t payload, bool final) {
    SystemHeaderIfDue();
    const bool svcd = type_ == kWriterSvcd;
    const bool dvd = type_ == kWriterDvd || type_ == kWriterDvdVr;
    const bool lpcm = s->kind == kPsAudioLpcm;
    const int sub = s->kind == kPsAudioAc3 ? 4 : lpcm ? 7 : 0;
    SpreadBefore(s, sub + payload);
    int lpcmStuffing = 0, leftover = 0;
    bool ext = svcd || (dvd && s->firstPacket);
    if (lpcm) {
        bool tableExt = false;
        LpcmLayout(*s, &lpcmStuffing, &tableExt, &leftover);
        ext = ext || tableExt;
    }
    const bool timed = TimedStartWithin(*s, payload);
    int count = 0;
    int64_t first = -1;
    int64_t ts = TakeStarts(s, payload, &count, &first);
    if (!timed) ts = kNoTs;
    int headerData = (ts != kNoTs ? 5 : 0) + (ext ? 3 : 0) + lpcmStuffing;
    if (lpcm && ts == kNoTs) headerData += 5;
    int spare = packSize_ - 14 - 9 - headerData - sub - int(payload) - (lpcm ? leftover : 0);
    if (spare < 0) spare = 0;
    int stuffing = 0;
    if (!lpcm && spare <= 7) stuffing = spare;
    if (lpcm && spare > 0 && spare <= 7) stuffing = spare;
    headerData += stuffing;
    pack_.clear();
    PackHeader(&pack_, s, sub + payload, ts);
    common::PesHeaderFields pes;
    pes.streamId = uint8_t(s->kind == kPsAudioMpeg ? s->streamId : 0xBD);
    pes.packetLength = uint32_t(3 + headerData + sub + int(payload));
    pes.original = true;
    if (ts != kNoTs) {
        pes.pts = ts & kTsMask;
        highestTs_ = std::max(highestTs_, ts);
        stampWritten_ = true;
    }
    if (ext) {
        if (s->kind == kPsAudioMpeg || svcd)
            SetStdBuffer(&pes, svcd, 0, 32);
        else
            SetStdBuffer(&pes, svcd, 1, 58);
    }
    pes.stuffing = uint32_t(headerData - (ts != kNoTs ? 5 : 0) - (ext ? 3 : 0));
    {
        common::VectorFieldWriter w(pack_);
        common::WritePesHeader(w, pes);
    }
    if (s->kind == kPsAudioAc3) {
        Put8(&pack_, s->streamId);
        Put8(&pack_, count);
        Put16(&pack_, first >= 0 ? int(first) + 1 : 0);
    } else if (lpcm) {
        Put8(&pack_, s->streamId);
        Put8(&pack_, count);
        Put16(&pack_, first >= 0 ? int(first) + 4 : 0);
        Put8(&pack_, s->lpcmFrameNumber & 0x1F);
        const int quant = s->lpcm.bitsPerSample == 24 ? 2 : s->lpcm.bitsPerSample == 20 ? 1 : 0;
        Put8(&pack_, quant << 6 | (s->lpcm.samplesPerSec == 96000 ? 1 : 0) << 4 | ((s->lpcm.channels - 1) & 7));
        Put8(&pack_, 0x80);
        s->lpcmFrameNumber = (s->lpcmFrameNumber + count) % 20;
    }
    const size_t at = pack_.size();
    pack_.resize(at + size_t(payload));
    const size_t got = s->ring.Read(pack_.data() + at, size_t(payload));
    pack_.resize(at + got);
    s->taken += int64_t(got);
    const int tail = (lpcm ? leftover : 0) + (spare > 7 ? spare : 0);
    // LPCM left-overs are 0 or at least 9 bytes, other spare room at least 8 here.
    if (tail > 5) PaddingPacket(&pack_, tail - 6);
    s->firstPacket = false;
    (void) final;
    FinishPack(&pack_);
}

void CMpeg2PsWriter::FillToRate() {
    if (!fillOn_ || engineValue_ != 0) return;
    for (int i = 0; i < 30 && fillRate_ * latestVideoTime_ / 10000000 > videoBytesIn_; ++i) {
        SpreadBefore(nullptr, 0);
        pack_.clear();
        PackHeader(&pack_);
        PaddingPacket(&pack_, packSize_ - 20);
        FinishPack(&pack_);
        videoBytesIn_ += packSize_ - 20;
    }
}

size_t CMpeg2PsWriter::WriteVideo(int streamId, const uint8_t* data, size_t length, int64_t time) {
    std::lock_guard<std::mutex> hold(lock_);
    if (flushed_ || !data || length == 0) return 0;
    EsStream* s = Find(streamId);
    if (!s || s->kind != -1) return 0;
    const bool sequence = IsSequenceHeader(data, length);
    const bool dvd = type_ == kWriterDvd || type_ == kWriterDvdVr;
    if (sequence && (type_ == kWriterMpeg2 || type_ == kWriterSvcd) && s->ring.FillLevel() > 0) FlushAllLocked();
    if (sequence && dvd) {
        // Each sequence header starts a video object unit at a navigation pack; the
        // audio streams run on across it.
        FlushVideoLocked();
        if (vr_) {
            vr_->UnitStart(bytesWritten_);
            vr_->SequenceHeader(data, length);
        }
        NavPack();
        systemHeaderDue_ = false;
    }
    if (sequence) firstVideoAfterSequence_ = true;
    common::MpegSequenceHeader header;
    if (sequence && common::ReadMpegSequenceHeaderFields(std::span<const uint8_t>(data, length), &header)) {
        // One frame in 90 kHz ticks, rounded; 0 for the forbidden and reserved codes.
        uint32_t num = 0, den = 1;
        framePeriod_ = common::MpegFrameRate(header.frameRateCode, &num, &den) ? int((90000 * den + num / 2) / num) : 0;
    }
    int64_t ts = ToTicks(time);
    const int64_t picture = FindPictureStartCode(data, length);
    int shownBefore = 0;  // temporal_reference: the pictures of the GOP shown before this one
    if (picture >= 0 && ts != kNoTs && highestVideoPts_ == 0 && passedVideoPts_ == 0 &&
        ReadTemporalReference(data + picture, length - size_t(picture), &shownBefore)) {
        firstLead_ = shownBefore == 0 ? 0 : framePeriod_ > 0 ? (shownBefore + 1) * framePeriod_ : -1;
        ts = LeadForFirstPicture(ts, length);
    }
    if (vr_ && ts != kNoTs) vr_->VideoTime(ts);
    // The fill counts from the first picture: padding for the time before it would take
    // the lead the first units need to arrive before they are decoded.
    if (time != kNoTime && firstVideoTime_ == kNoTime) firstVideoTime_ = time;
    if (time != kNoTime) latestVideoTime_ = std::max(latestVideoTime_, time - firstVideoTime_);
    // The bytes before the picture go first, without the picture's time, when they fill
    // a packet on their own.
    if (picture > 0 && int64_t(s->ring.FillLevel()) + picture >= s->payloadSize) {
        WriteVideoLocked(s, data, size_t(picture), kNoTs);
        data += picture;
        length -= size_t(picture);
    }
    WriteVideoLocked(s, data, length, ts);
    videoBytesIn_ += int64_t(length);
    FillToRate();
    return length;
}

int64_t CMpeg2PsWriter::LeadForFirstPicture(int64_t ts, size_t length) {
    if (stampWritten_ || firstLead_ < 0) return ts;
    // The packs that carry the picture and what waits before it in the video rings, the
    // audio packs that go between them (a sixth more covers audio up to 384 kbit/s beside
    // SVCD's mux rate) and the system header or navigation packs.
    const int64_t perPack = packSize_ - 36;
    int64_t bytes = int64_t(length);
    for (const EsStream* v : video_)
        bytes += int64_t(v->ring.FillLevel());
    int64_t packs = (bytes + perPack - 1) / perPack;
    packs += packs / 6 + 3;
    const int64_t rate = MuxRate() * 50;  // bytes per second
    const int64_t start = scr27_ < 0 ? 0 : scr27_ + (bytesWritten_ - lastPackStart_) * 27000000 / rate;
    const int64_t lastArrival = (start + packs * packSize_ * 27000000 / rate + 299) / 300;  // 90 kHz
    const int64_t dts = ts - 1000 - firstLead_;
    if (dts >= lastArrival || video_.empty()) return ts;
    // A picture this large is followed by others of its GOP that are large too: the
    // decoder then waits as long as its whole buffer takes to fill at the mux rate (the
    // start-up delay that lets any stream within the buffer arrive in time), never less
    // than the picture itself needs.
    const int64_t fullBuffer = (start + BufferBound(*video_.front()) * 27000000 / rate + 299) / 300;
    const int64_t target = std::max(lastArrival, fullBuffer);
    // Whole steps of 1,000 (100 ns), so that every time converted later moves by the same
    // count of 90 kHz ticks as the ones already waiting in the rings.
    const int64_t steps = (target - dts + 8) / 9;
    timeOrigin_ -= steps * 1000;
    for (auto* list : {&video_, &mpegAudio_, &ac3_, &lpcm_})
        for (EsStream* s : *list)
            for (EsStream::Start& st : s->starts)
                if (st.ts != kNoTs) st.ts = (st.ts + steps * 9) & kTsMask;
    return (ts + steps * 9) & kTsMask;
}

int64_t CMpeg2PsWriter::NextVideoPayload(const EsStream& s) const {
    const int64_t withTime = packSize_ - (type_ == kWriterSvcd ? 36 : 33);
    const int64_t without = packSize_ - (type_ == kWriterSvcd ? 26 : 23);
    const bool dvd = type_ == kWriterDvd || type_ == kWriterDvdVr;
    const bool timed = TimedStartWithin(s, withTime);
    int64_t payload = timed ? withTime : without;
    if (timed && dvd && firstVideoAfterSequence_) payload -= 3;
    // Every picture keeps its own time stamp: a packet ends where the next timed picture
    // begins (ISO/IEC 13818-1 2.4.3.7 gives a packet's PTS to its first picture only).
    // An untimed packet ends there too: a picture starting in the bytes its missing time
    // stamp leaves would make it timed, too long for its pack, and cut short with the
    // picture's time on bytes before it.
    const int64_t next = timed ? SecondTimedStart(s, payload) : FirstTimedStart(s, payload);
    return next > 0 ? next : payload;
}

bool CMpeg2PsWriter::PackVideo(EsStream* s) {
    const int64_t payload = NextVideoPayload(*s);
    if (int64_t(s->ring.FillLevel()) < payload) return false;
    VideoPacket(s, payload, false);
    return true;
}

void CMpeg2PsWriter::WriteVideoLocked(EsStream* s, const uint8_t* data, size_t length, int64_t ts) {
    // While video leads, its packets wait while the ring has room (from the first time
    // stamp on: the first picture's lead is set as it goes out).
    const bool wait = spread_ && stampWritten_;
    auto pack = [&]() { return (!wait || s->ring.FreeSpace() == 0) && PackVideo(s); };
    Feed(s, data, length, ts, pack);
    if (!wait) VideoRemainder(s);
}

void CMpeg2PsWriter::VideoRemainder(EsStream* s) {
    // A remainder that nearly fills a packet goes out now, without a time.
    const int64_t withTime = packSize_ - (type_ == kWriterSvcd ? 36 : 33);
    const int64_t fill = int64_t(s->ring.FillLevel());
    if (fill >= withTime && !TimedStartWithin(*s, fill)) VideoPacket(s, fill, false);
}

void CMpeg2PsWriter::EndSpread() {
    if (!spread_) return;
    for (EsStream* s : video_) {
        while (PackVideo(s)) {
        }
        VideoRemainder(s);
    }
}

int64_t CMpeg2PsWriter::NextScr() const {
    if (scr27_ < 0) return 0;
    const int64_t rate = MuxRate() * 50;
    return scr27_ + ((bytesWritten_ - lastPackStart_) * 27000000 + rate - 1) / rate;
}

int64_t CMpeg2PsWriter::RoomTime(const EsStream& s, int64_t bytes, int64_t scr) const {
    const int64_t room = BufferBound(s) - bytes;
    int64_t held = s.heldBytes;
    for (const EsStream::Held& h : s.held) {
        if (h.due > scr && held <= room) break;
        scr = std::max(scr, h.due);
        held -= h.bytes;
    }
    return scr;
}

bool CMpeg2PsWriter::VideoLate(const EsStream& s, int64_t start) const {
    // Each picture's bytes, from the first waiting one to the next picture's start, must
    // have arrived by its decoding time; the pictures not yet stamped are decoded as
    // VideoPacket will stamp them.
    // A packet ends at each picture start, so each picture takes whole packets.
    const int64_t payload = packSize_ - (type_ == kWriterSvcd ? 26 : 23);
    const int64_t packTime = packSize_ * int64_t(27000000) / (MuxRate() * 50);
    int64_t due = s.lastDue;
    int64_t shown = std::max(highestVideoPts_, passedVideoPts_);
    int64_t from = s.taken, packs = 0;
    for (const EsStream::Start& st : s.starts) {
        if (st.position <= s.taken || st.ts == kNoTs) continue;
        packs += std::max<int64_t>(1, (st.position - from + payload - 1) / payload);
        if (due >= 0 && start + packs * packTime > due) return true;
        const int64_t dts = std::min(st.ts - 1000, shown);
        due = dts > 0 ? dts * 300 : -1;
        shown = std::max(shown, st.ts);
        from = st.position;
    }
    packs += (s.position - from + payload - 1) / payload;
    return due >= 0 && start + packs * packTime > due;
}

void CMpeg2PsWriter::SpreadBefore(const EsStream* other, int64_t bytes) {
    if (!spread_) return;
    const int64_t packTime = packSize_ * int64_t(27000000) / (MuxRate() * 50);
    for (EsStream* v : video_) {
        for (int64_t payload; int64_t(v->ring.FillLevel()) >= (payload = NextVideoPayload(*v));) {
            const int64_t now = NextScr();
            const int64_t room = other ? RoomTime(*other, bytes, now) : now;
            // A video packet fills the time the other packet waits for room; it goes
            // first as well when the waiting ones, behind the other packet, would end a
            // picture after its decoding time.
            const bool fits = RoomTime(*v, payload, now) + packTime <= room;
            if (!fits && !VideoLate(*v, std::max(now, room) + packTime)) break;
            VideoPacket(v, payload, false);
        }
    }
}

int64_t CMpeg2PsWriter::VideoLeadLocked() const {
    // The time the video buffer's bound takes at the mux rate less the audio streams'
    // share: a picture up to that size still goes out whole before it is decoded.
    int64_t audioRate = 0;
    for (auto* list : {&mpegAudio_, &ac3_, &lpcm_})
        for (const EsStream* a : *list)
            // A stream added without its rate counts at the writer's audio rate.
            audioRate += std::max<int64_t>(a->bitRate > 0 ? a->bitRate : audioBitRate_, 8000) / 8;
    if (audioRate == 0 || video_.empty()) return 0;
    const int64_t rate = MuxRate() * 50;
    const int64_t videoRate = std::max(rate - audioRate * 21 / 20, rate / 2);
    return BufferBound(*video_.front()) * 10000000 / videoRate;
}

int64_t CMpeg2PsWriter::VideoLead() {
    std::lock_guard<std::mutex> hold(lock_);
    return spread_ ? VideoLeadLocked() : 0;
}

size_t CMpeg2PsWriter::WriteAudio(int streamId, const uint8_t* data, size_t length, int64_t time) {
    std::lock_guard<std::mutex> hold(lock_);
    if (flushed_ || !data || length == 0) return 0;
    EsStream* s = Find(streamId);
    if (!s || s->kind < 0) return 0;
    if (s->kind == kPsAudioLpcm && !s->lpcmSet) return 0;
    const int64_t ts = ToTicks(time);
    if (vr_) vr_->AudioFrame(s->kind, data, length, s->lpcm.channels);
    auto pack = [&]() {
        const int64_t fill = int64_t(s->ring.FillLevel());
        const int64_t payload = AudioPayload(*s, TimedStartWithin(*s, AudioPayload(*s, true)));
        if (fill < payload) return false;
        AudioPacket(s, payload, false);
        return true;
    };
    Feed(s, data, length, ts, pack);
    audioBytesIn_ += int64_t(length);
    return length;
}

void CMpeg2PsWriter::WriteSequenceEnd() {
    static const uint8_t kEnd[4] = {0x00, 0x00, 0x01, 0xB7};
    EsStream* s = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        s = Find(0xE0);
    }
    if (s) WriteVideo(0xE0, kEnd, 4, kNoTime);
}

// Every remainder in one pack of its own: MPEG audio, AC-3, LPCM, then video.
void CMpeg2PsWriter::FlushAllLocked() {
    for (auto* list : {&mpegAudio_, &ac3_, &lpcm_}) {
        // Before the end an LPCM remainder waits for the next packet: a short packet with
        // no frame start carries no time stamp, and readers that time LPCM by its bytes
        // then run past the next packet's stamp.
        if (list == &lpcm_ && !flushed_) continue;
        for (EsStream* s : *list) {
            int64_t fill = int64_t(s->ring.FillLevel());
            while (fill > 0) {
                const int64_t payload = std::min(fill, AudioPayload(*s, TimedStartWithin(*s, fill)));
                AudioPacket(s, payload, true);
                fill = int64_t(s->ring.FillLevel());
            }
        }
    }
    FlushVideoLocked();
}

void CMpeg2PsWriter::FlushVideoLocked() {
    EndSpread();
    for (size_t i = 0; i < video_.size(); ++i) {
        EsStream* s = video_[i];
        const bool last = i + 1 == video_.size();
        int64_t fill = int64_t(s->ring.FillLevel());
        while (fill > 0) {
            const int64_t cap = packSize_ - (type_ == kWriterSvcd ? 36 : 33) - (flushed_ && last ? 4 : 0);
            const int64_t payload = std::min(fill, cap);
            VideoPacket(s, payload, flushed_ && last && payload == fill);
            fill = int64_t(s->ring.FillLevel());
        }
    }
}

void CMpeg2PsWriter::Flush() {
    std::lock_guard<std::mutex> hold(lock_);
    if (flushed_) return;
    flushed_ = true;
    SystemHeaderIfDue();
    FlushAllLocked();
    if (type_ == kWriterSvcd) {
        // The last video pack was written 4 bytes short for the program end code.
        static const uint8_t kProgramEnd[4] = {0x00, 0x00, 0x01, 0xB9};
        if (!video_.empty() && !lastVideoPackShort_) {
            pack_.clear();
            PackHeader(&pack_);
            PaddingPacket(&pack_, packSize_ - 14 - 6 - 4);
            FinishPack(&pack_);
        }
        Emit(kProgramEnd, 4);
    }
}

// ---------------------------------------------------------------------------------------
// MPEG-1 system stream (ISO/IEC 11172-1): 2324-byte packs for both types.

namespace {
constexpr int kMpeg1Pack = 2324;
constexpr int kMpeg1VideoPayload = 2294;
}  // namespace

CMpeg1PsWriter::CMpeg1PsWriter() = default;

CMpeg1PsWriter::~CMpeg1PsWriter() {
    End();
}

size_t CMpeg1PsWriter::SetBufferSizes(size_t first, size_t second) {
    return RingSizes(first, second, 204800);
}

void CMpeg1PsWriter::SetType(int type) {
    std::lock_guard<std::mutex> hold(lock_);
    type_ = type;
    if (type == kWriterVcd) {
        SetFillRate(144000);
        rate_ = 176400;
    } else {
        SetFillRate(0);
        rate_ = 0;
        computedRate_ = 1248800;
    }
}

int CMpeg1PsWriter::AddVideoStreamDefault() {
    const int id = AddVideoStream(0);
    std::lock_guard<std::mutex> hold(lock_);
    if (type_ != kWriterVcd) SetFillRate(0);
    return id;
}

int CMpeg1PsWriter::AddVideoStream(int64_t bitRate) {
    std::lock_guard<std::mutex> hold(lock_);
    EsStream* s = NewStream(&video_, 16, 0xE0, -1, bitRate, videoRingSize_);
    if (!s) return 0;
    if (type_ != kWriterVcd) {
        rate_ += bitRate / 8 * 1153 / 1150;
        if (bitRate > 0) videoBitRate_ = bitRate;
        SetFillRate(bitRate / 8);
    }
    return s->streamId;
}

int CMpeg1PsWriter::AddMpegAudioStream(int64_t bitRate) {
    std::lock_guard<std::mutex> hold(lock_);
    EsStream* s = NewStream(&audio_, 32, 0xC0, kPsAudioMpeg, bitRate, audioRingSize_);
    if (!s) return 0;
    if (type_ != kWriterVcd) {
        rate_ += bitRate / 8 * 1153 / 1148;
        if (bitRate > 0) audioBitRate_ = bitRate;
    }
    return s->streamId;
}

CPsWriterBase::EsStream* CMpeg1PsWriter::Find(int id) {
    for (auto* list : {&video_, &audio_})
        for (EsStream* s : *list)
            if (s->streamId == id) return s;
    return nullptr;
}

bool CMpeg1PsWriter::Begin() {
    std::lock_guard<std::mutex> hold(lock_);
    ResetOutput();
    for (auto* list : {&video_, &audio_})
        ResetStreams(*list);
    scrBase_ = type_ == kWriterVcd ? 0 : 5;
    scrX_ = 0;
    if (type_ != kWriterVcd && fillOn_) {
        const double bits = (double(videoBitRate_) * 1.02555 + double(audioBitRate_) * 1.05) * 0.0025;
        computedRate_ = int64_t(bits + 0.999999) * 400;
    }
    systemHeadersDue_ = true;
    adaptiveTarget_ = 125000;
    return true;
}

void CMpeg1PsWriter::End() {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto* list : {&video_, &audio_})
        FreeStreams(list);
}

int64_t CMpeg1PsWriter::MuxRate() const {
    if (type_ == kWriterVcd || fillOn_) return std::max<int64_t>(1, (rate_ + 49) / 50);
    if (highestTs_ < 90000) return 0x7FFFF;
    return std::min<int64_t>(0x3FFFFF, (bytesWritten_ / (highestTs_ / 90000 + 1) + 49) / 50);
}

int64_t CMpeg1PsWriter::GetAverageRate() {
    std::lock_guard<std::mutex> hold(lock_);
    if (highestTs_ <= 180000) return 18400000;
    return bytesTaken_ * 8 * 90000 / highestTs_;
}

// 12 bytes: ISO/IEC 11172-1 2.4.3.2. VCD packs advance the SCR by 1200 ticks each (75
// sectors a second); MPEG-1 packs by half a tick per byte, kept within 9,000 ticks below
// the highest time stamp written and never above it.
void CMpeg1PsWriter::PackHeader(std::vector<uint8_t>* p) {
    const int64_t scr = (scrBase_ + scrX_) & kTsMask;
    const int64_t rate = MuxRate();
    {
        common::VectorFieldWriter w(*p);
        common::WriteMpeg1PackHeader(w, uint64_t(scr), uint32_t(rate));
    }
    if (type_ == kWriterVcd) {
        scrX_ += 1200;
    } else {
        int64_t next = (bytesWritten_ + int64_t(p->size())) / 2;
        if (next < highestTs_ - 9000) next = highestTs_ - 9000;
        if (next > highestTs_) next = highestTs_;
        scrX_ = std::max(next, scrX_ + 1);
    }
}

void CMpeg1PsWriter::PaddingPacket(std::vector<uint8_t>* p, int n) {
    PutPadding(p, n, 0x0F, 0xFF);
}

void CMpeg1PsWriter::SystemHeadersIfDue() {
    if (!systemHeadersDue_) return;
    systemHeadersDue_ = false;
    auto header = [&](int audioBound, int videoBound, bool fixed, bool csps, bool locks,
                      const std::vector<common::StdBufferBound>& entries, int64_t bound) {
        common::SystemHeaderFields f;
        f.rateBound = uint32_t(bound);
        f.audioBound = uint32_t(audioBound);
        f.fixed = fixed;
        f.csps = csps;
        f.systemAudioLock = f.systemVideoLock = locks;
        f.videoBound = uint32_t(videoBound);
        f.packetRateRestriction = true;
        f.streams = entries;
        common::VectorFieldWriter w(pack_);
        common::WriteSystemHeader(w, f);
    };
    if (type_ == kWriterVcd) {
        pack_.clear();
        PackHeader(&pack_);
        header(0, 1, false, true, true, {{0xE0, 1, 46}}, 3528);
        PaddingPacket(&pack_, kMpeg1Pack - int(pack_.size()) - 6);
        Emit(pack_.data(), pack_.size());
        pack_.clear();
        PackHeader(&pack_);
        header(1, 0, false, true, true, {{0xC0, 0, 32}}, 3528);
        PaddingPacket(&pack_, kMpeg1Pack - int(pack_.size()) - 6 - 20);
        pack_.insert(pack_.end(), 20, 0x00);
        Emit(pack_.data(), pack_.size());
        pack_.clear();
        return;
    }
    std::vector<common::StdBufferBound> entries;
    for (EsStream* s : audio_)
        entries.push_back({uint8_t(s->streamId), 0, 576});
    for (EsStream* s : video_)
        entries.push_back({uint8_t(s->streamId), 1, 445});
    pack_.clear();
    PackHeader(&pack_);
    header(int(std::min<size_t>(audio_.size(), 63)), int(std::min<size_t>(video_.size(), 31)), fillOn_, true, false,
           entries, (rate_ + 49) / 50);
    PaddingPacket(&pack_, kMpeg1Pack - int(pack_.size()) - 6);
    Emit(pack_.data(), pack_.size());
    pack_.clear();
}

// One pack with one packet of the stream: MPEG-1 packet header with the STD buffer field,
// then PTS (audio), PTS and DTS (video) or 0x0F, padded by stuffing so that its length does
// not depend on the time stamps.
void CMpeg1PsWriter::Packet(EsStream* s, int64_t payload, bool final) {
    SystemHeadersIfDue();
    const bool video = s->kind == -1;
    const int64_t cap = video ? kMpeg1VideoPayload : (type_ == kWriterVcd ? 2279 : 2299);
    const bool timed = TimedStartWithin(*s, payload);
    int64_t ts = TakeStarts(s, payload);
    if (!timed) ts = kNoTs;
    // Room the payload leaves in the pack: a padding packet when it can hold one,
    // otherwise packet header stuffing (ISO/IEC 11172-1 allows up to 16 bytes).
    const int endCode = final ? 4 : 0;
    const int zeros = !video && type_ == kWriterVcd ? 20 : 0;
    const int spare = int(cap - payload) - endCode;
    const int stuffing = spare > 0 && spare < 6 ? spare : 0;
    pack_.clear();
    PackHeader(&pack_);
    common::VectorFieldWriter w(pack_);
    w.Bits(24, 0x000001);                                              // packet_start_code_prefix
    w.Bits(8, uint64_t(s->streamId));                                  // stream_id
    w.Bits(16, uint64_t(int(payload) + (video ? 12 : 7) + stuffing));  // packet_length
    // Stuffing: the packet's own, and the room a time stamp would take.
    const int stuffingBytes = stuffing + (ts == kNoTs ? (video ? 9 : 4) : 0);
    for (int i = 0; i < stuffingBytes; ++i)
        w.Bits(8, 0xFF);          // stuffing_byte
    w.Bits(2, 1);                 // '01'
    w.Bits(1, video ? 1 : 0);     // STD_buffer_scale
    w.Bits(13, video ? 46 : 32);  // STD_buffer_size
    if (ts == kNoTs) {
        w.Bits(8, 0x0F);  // '0000 1111': no time stamps
    } else if (video) {
        const int64_t dts = ts > highestVideoPts_ ? highestVideoPts_ : ts;
        common::WritePesTimeStamp(w, 3, uint64_t(ts));
        common::WritePesTimeStamp(w, 1, uint64_t(dts));
        highestVideoPts_ = std::max(highestVideoPts_, ts);
        highestTs_ = std::max(highestTs_, ts);
    } else {
        common::WritePesTimeStamp(w, 2, uint64_t(ts));
        highestTs_ = std::max(highestTs_, ts);
    }
    common::EndHeader(w);
    const size_t at = pack_.size();
    pack_.resize(at + size_t(payload));
    const size_t got = s->ring.Read(pack_.data() + at, size_t(payload));
    pack_.resize(at + got);
    s->taken += int64_t(got);
    if (spare >= 6) {
        // The padding packet fills the pack, less the end code that follows the last
        // pack of a stream (and the VCD audio pack's 20 zero bytes).
        PaddingPacket(&pack_, kMpeg1Pack - int(pack_.size()) - 6 - endCode - zeros);
        if (video) videoBytesIn_ += spare;
    }
    if (!video && type_ == kWriterVcd && !final) pack_.insert(pack_.end(), 20, 0x00);
    s->firstPacket = false;
    Emit(pack_.data(), pack_.size());
    pack_.clear();
}

void CMpeg1PsWriter::FillVideo() {
    if (engineValue_ != 0) return;
    const int64_t seconds100ns = latestVideoTime_;
    for (int i = 0; i < 30; ++i) {
        bool due = false;
        if (fillOn_) {
            due = fillRate_ * seconds100ns / 10000000 > videoBytesIn_;
        } else if (seconds100ns > 100000000) {
            const int64_t secs = seconds100ns / 10000000;
            if (secs >= 30 && secs <= 300 && videoBytesIn_ > (adaptiveTarget_ + 12500) * secs) adaptiveTarget_ += 62500;
            due = adaptiveTarget_ * seconds100ns / 10000000 > videoBytesIn_;
        }
        if (!due) break;
        pack_.clear();
        PackHeader(&pack_);
        PaddingPacket(&pack_, kMpeg1Pack - 12 - 6);
        Emit(pack_.data(), pack_.size());
        pack_.clear();
        videoBytesIn_ += kMpeg1Pack - 18;
    }
}

size_t CMpeg1PsWriter::WriteVideo(int streamId, const uint8_t* data, size_t length, int64_t time) {
    std::lock_guard<std::mutex> hold(lock_);
    if (flushed_ || !data || length == 0) return 0;
    EsStream* s = Find(streamId);
    if (!s || s->kind != -1) return 0;
    const int64_t ts = ToTicks(time);
    if (time != kNoTime) latestVideoTime_ = std::max(latestVideoTime_, time - timeOrigin_);
    auto pack = [&]() {
        // Every picture keeps its own time stamp: a packet ends where the next timed
        // picture begins.
        int64_t payload = kMpeg1VideoPayload;
        const int64_t next = SecondTimedStart(*s, payload);
        if (next > 0) payload = next;
        if (int64_t(s->ring.FillLevel()) < payload) return false;
        Packet(s, payload, false);
        return true;
    };
    Feed(s, data, length, ts, pack);
    videoBytesIn_ += int64_t(length);
    FillVideo();
    return length;
}

size_t CMpeg1PsWriter::WriteAudio(int streamId, const uint8_t* data, size_t length, int64_t time) {
    std::lock_guard<std::mutex> hold(lock_);
    if (flushed_ || !data || length == 0) return 0;
    EsStream* s = Find(streamId);
    if (!s || s->kind != kPsAudioMpeg) return 0;
    const int64_t ts = ToTicks(time);
    const int64_t cap = type_ == kWriterVcd ? 2279 : 2299;
    auto pack = [&]() {
        if (int64_t(s->ring.FillLevel()) < cap) return false;
        Packet(s, cap, false);
        return true;
    };
    Feed(s, data, length, ts, pack);
    audioBytesIn_ += int64_t(length);
    return length;
}

void CMpeg1PsWriter::WriteSequenceEnd() {
    static const uint8_t kEnd[4] = {0x00, 0x00, 0x01, 0xB7};
    WriteVideo(0xE0, kEnd, 4, kNoTime);
}

void CMpeg1PsWriter::Flush() {
    std::lock_guard<std::mutex> hold(lock_);
    if (flushed_) return;
    flushed_ = true;
    SystemHeadersIfDue();
    static const uint8_t kProgramEnd[4] = {0x00, 0x00, 0x01, 0xB9};
    // A remainder in one pack with its end code; with no remainder, a padding pack
    // carries the end code so that every pack keeps its 2324 bytes.
    auto endPack = [&](bool audio) {
        pack_.clear();
        PackHeader(&pack_);
        PaddingPacket(&pack_, kMpeg1Pack - 12 - 6 - 4 - (audio ? 20 : 0));
        Emit(pack_.data(), pack_.size());
        pack_.clear();
    };
    auto flushList = [&](std::vector<EsStream*>& list, bool withEnd, bool audio) {
        for (size_t i = 0; i < list.size(); ++i) {
            EsStream* s = list[i];
            const bool last = withEnd && i + 1 == list.size();
            int64_t fill = int64_t(s->ring.FillLevel());
            // The last packet needs room for a padding packet and the end code.
            const int64_t cap = audio ? (type_ == kWriterVcd ? 2279 : 2299) : kMpeg1VideoPayload;
            if (fill > cap - 32) {
                Packet(s, fill - 64, false);
                fill = 64;
            }
            if (fill > 0) {
                Packet(s, fill, last);
            } else if (last) {
                endPack(audio);
            }
            if (last) Emit(kProgramEnd, 4);
            if (last && audio) EmitFill(0x00, 20);
        }
    };
    if (type_ == kWriterVcd) {
        flushList(video_, true, false);
        flushList(audio_, true, true);
    } else {
        flushList(audio_, false, true);
        flushList(video_, true, false);
    }
}

// ---------------------------------------------------------------------------------------

std::unique_ptr<CPsWriter> MakePsWriter(int type) {
    std::unique_ptr<CPsWriter> w;
    if (type == kWriterMpeg1 || type == kWriterVcd)
        w.reset(new (std::nothrow) CMpeg1PsWriter);
    else
        w.reset(new (std::nothrow) CMpeg2PsWriter);
    if (w) w->SetType(type);
    return w;
}

}  // namespace editor
