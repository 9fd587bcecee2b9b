#include "tools/mux_driver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "common/audio_headers.h"
#include "common/bitstream/start_code.h"
#include "filters/muxer/core/mux_engine.h"
#include "filters/muxer/core/mux_input_parser.h"
#include "filters/muxer/core/video_parser.h"

namespace muxdriver {

namespace {

using muxer::MajorType;
using muxer::MuxStream;
using muxer::StreamMediaType;
using muxer::StreamType;

std::string Extension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    std::string e = dot == std::string::npos ? "" : path.substr(dot + 1);
    for (char& c : e)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e;
}

// The first bytes of a file, enough to tell its kind and describe its stream; the rest is
// read in bounded pieces while it is muxed.
constexpr size_t kPrefixBytes = 4 << 20;

bool ReadPrefix(const std::string& path, std::vector<uint8_t>* bytes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->resize(kPrefixBytes);
    const size_t n = std::fread(bytes->data(), 1, bytes->size(), f);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    bytes->resize(n);
    return ok;
}

// What the data of a file is, whatever its name says.
enum class Kind { Unknown, MpegVideo, H264, MpegAudio, Ac3, Adts, ProgramStream, TransportStream };

const char* KindName(Kind k) {
    switch (k) {
        case Kind::MpegVideo:
            return "MPEG video";
        case Kind::H264:
            return "H.264 video";
        case Kind::MpegAudio:
            return "MPEG audio";
        case Kind::Ac3:
            return "AC-3 audio";
        case Kind::Adts:
            return "AAC (ADTS) audio";
        case Kind::ProgramStream:
            return "a program stream";
        case Kind::TransportStream:
            return "a transport stream";
        default:
            return "nothing known";
    }
}

Kind KindOfExtension(const std::string& ext) {
    if (ext == "m2v" || ext == "m1v" || ext == "mpv") return Kind::MpegVideo;
    if (ext == "264" || ext == "h264") return Kind::H264;
    if (ext == "mp2" || ext == "mp3" || ext == "mpa") return Kind::MpegAudio;
    if (ext == "ac3") return Kind::Ac3;
    if (ext == "aac" || ext == "adts") return Kind::Adts;
    if (ext == "mpg" || ext == "mpeg" || ext == "vob") return Kind::ProgramStream;
    if (ext == "ts" || ext == "m2ts") return Kind::TransportStream;
    return Kind::Unknown;
}

// Bytes of the audio frame at p (0 when none starts there).
size_t AudioFrameAt(Kind kind, const uint8_t* p, size_t n) {
    common::AudioFrameFacts facts;
    if (kind == Kind::MpegAudio) {
        common::MpegAudioFrameHeader h;
        if (!common::ReadMpegAudioHeader({p, n}, &h)) return 0;
        return static_cast<size_t>(h.frameBytes);
    }
    const common::AudioFormat format = kind == Kind::Ac3 ? common::AudioFormat::Ac3 : common::AudioFormat::Adts;
    if (!common::ReadAudioFrameFacts(format, {p, n}, &facts) || facts.frameBytes <= 0) return 0;
    return static_cast<size_t>(facts.frameBytes);
}

// Three frames in a row (or up to the end of a short file) starting at `at`.
bool AudioFramesFrom(Kind kind, const std::vector<uint8_t>& b, size_t at) {
    for (int k = 0; k < 3; ++k) {
        if (at == b.size() && k > 0) return true;
        const size_t length = at < b.size() ? AudioFrameAt(kind, &b[at], b.size() - at) : 0;
        if (length == 0) return false;
        at += length;
    }
    return true;
}

// The kind of a file from its first bytes: a transport stream's sync bytes, the first start
// code of a program stream, MPEG video or H.264 byte stream, or a run of audio frames near
// the start (behind an ID3v2 tag for MP3).
Kind Sniff(const std::vector<uint8_t>& b) {
    if (b.size() >= 2 * 188 && b[0] == 0x47 && b[188] == 0x47 && (b.size() < 3 * 188 || b[376] == 0x47))
        return Kind::TransportStream;
    size_t i = 0;
    while (i < b.size() && i < 4096 && b[i] == 0)
        ++i;
    if (i >= 2 && i + 1 < b.size() && b[i] == 1) {
        const uint8_t code = b[i + 1];
        if (code == 0xBA) return Kind::ProgramStream;
        if (code == 0xB3) return Kind::MpegVideo;
        // nal_unit_header: forbidden_zero_bit 0 and a type an H.264 stream opens with.
        const int type = code & 0x1F;
        if (!(code & 0x80) && (type == 1 || type == 5 || type == 6 || type == 7 || type == 9)) return Kind::H264;
        return Kind::Unknown;
    }
    size_t start = 0;
    if (b.size() >= 10 && b[0] == 'I' && b[1] == 'D' && b[2] == '3')
        start = 10 + ((size_t{b[6]} & 0x7F) << 21 | (size_t{b[7]} & 0x7F) << 14 | (size_t{b[8]} & 0x7F) << 7 |
                      (size_t{b[9]} & 0x7F));
    const size_t end = std::min(b.size(), start + 65536);
    for (size_t at = start; at + 1 < end; ++at) {
        if (b[at] == 0x0B && b[at + 1] == 0x77 && AudioFramesFrom(Kind::Ac3, b, at)) return Kind::Ac3;
        if (b[at] != 0xFF || (b[at + 1] & 0xE0) != 0xE0) continue;
        const Kind kind = (b[at + 1] & 0x06) == 0 ? Kind::Adts : Kind::MpegAudio;
        if (AudioFramesFrom(kind, b, at)) return kind;
    }
    return Kind::Unknown;
}

class FileSink : public muxer::MuxSink {
public:
    explicit FileSink(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) { buffer_.reserve(kFlush); }
    ~FileSink() override { Close(); }
    bool Open() const { return file_ != nullptr; }
    void Write(const uint8_t* bytes, size_t size) override {
        buffer_.insert(buffer_.end(), bytes, bytes + size);
        written_ += size;
        if (buffer_.size() >= kFlush) Flush();
    }
    void DeliverPartial() override { Flush(); }
    bool Close() {
        Flush();
        bool ok = good_;
        if (file_) ok = std::fclose(file_) == 0 && ok;
        file_ = nullptr;
        return ok;
    }
    uint64_t Written() const { return written_; }

private:
    static constexpr size_t kFlush = 1 << 20;
    void Flush() {
        if (file_ && !buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
            good_ = false;
        buffer_.clear();
    }
    std::FILE* file_;
    std::vector<uint8_t> buffer_;
    uint64_t written_ = 0;
    bool good_ = true;
};

// MPEG-2 video has a sequence_extension (ISO/IEC 13818-2 6.2.2.3) behind its sequence
// header, before the first picture; MPEG-1 video has none.
bool HasSequenceExtension(const uint8_t* p, size_t n) {
    const uint8_t* end = p + n;
    for (const uint8_t* q = common::FindStartCode(p + 4, end); end - q > 4; q = common::FindStartCode(q + 3, end)) {
        if (q[3] == 0x00) return false;
        if (q[3] == 0xB5 && (q[4] >> 4) == 1) return true;
    }
    return false;
}

// Pictures in an MPEG video or H.264 byte stream (picture start codes, or slices whose
// first_mb_in_slice is 0), for the stream's starting bit rate.
int64_t CountPictures(const std::vector<uint8_t>& b, bool h264) {
    int64_t n = 0;
    const uint8_t* end = b.data() + b.size();
    for (const uint8_t* p = common::FindStartCode(b.data(), end); end - p > 4; p = common::FindStartCode(p + 3, end)) {
        const uint8_t c = p[3];
        if (!h264 && c == 0x00) ++n;
        if (h264 && ((c & 0x1F) == 1 || (c & 0x1F) == 5) && (p[4] & 0x80)) ++n;
    }
    return n;
}

struct Input {
    std::string path;
    std::vector<uint8_t> bytes;  // the first bytes only
    Kind kind = Kind::Unknown;
    StreamType type = StreamType::Mpeg2Video;
    StreamMediaType media;
    int64_t bitrate = 0;
};

// The kind of the input from its data, checked against its name; a message naming the
// input when it is unreadable, unknown or not what its name says.
bool Identify(Input* in, std::string* error) {
    const Kind named = KindOfExtension(Extension(in->path));
    if (named == Kind::Unknown) {
        *error = in->path + ": unknown stream kind (m2v, m1v, 264, mp2, mp3, ac3, aac; mpg, vob, ts to mux again)";
        return false;
    }
    if (!ReadPrefix(in->path, &in->bytes)) {
        *error = "cannot read " + in->path;
        return false;
    }
    in->kind = Sniff(in->bytes);
    if (in->kind == Kind::Unknown) {
        *error = in->path + ": no " + KindName(named) + " found in its data";
        return false;
    }
    if (in->kind != named) {
        *error = in->path + ": the data is " + KindName(in->kind) + ", not " + KindName(named) + " as its name says";
        return false;
    }
    return true;
}

// The stream of an elementary input, from its first bytes (already identified).
bool Describe(Input* in, int64_t frameDuration, std::string* error) {
    const std::vector<uint8_t>& b = in->bytes;
    StreamMediaType& m = in->media;
    if (in->kind == Kind::MpegVideo) {
        for (size_t i = 0; i + 12 <= b.size(); ++i)
            if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xB3) {
                const bool mpeg1 = !HasSequenceExtension(&b[i], b.size() - i);
                in->type = mpeg1 ? StreamType::Mpeg1Video : StreamType::Mpeg2Video;
                muxer::BuildMpegVideoMediaType(&b[i], static_cast<int32_t>(b.size() - i), mpeg1, &m);
                break;
            }
        if (m.major != MajorType::Video) {
            *error = in->path + ": no MPEG video sequence header";
            return false;
        }
        const int64_t pictures = CountPictures(b, false);
        if (pictures > 0 && m.video.AvgTimePerFrame > 0)
            in->bitrate = static_cast<int64_t>(b.size()) * 80000000 / (pictures * m.video.AvgTimePerFrame);
        return true;
    }
    if (in->kind == Kind::H264) {
        in->type = StreamType::H264Video;
        m.major = MajorType::Video;
        m.subtype = muxer::Subtype::H264;
        m.format = muxer::FormatType::VideoInfo;
        m.video.AvgTimePerFrame = frameDuration;
        const int64_t pictures = CountPictures(b, true);
        if (pictures > 0) in->bitrate = static_cast<int64_t>(b.size()) * 80000000 / (pictures * frameDuration);
        return true;
    }
    if (in->kind == Kind::MpegAudio) {
        for (size_t i = 0; i + 4 <= b.size(); ++i) {
            uint32_t frameLength = 0;
            if (b[i] == 0xFF && (b[i + 1] & 0xE0) == 0xE0 && muxer::BuildMpegAudioMediaType(&b[i], &m, &frameLength)) {
                in->type = ((b[i + 1] >> 3) & 3) == 3 ? StreamType::Mpeg1Audio : StreamType::Mpeg2Audio;
                in->bitrate = static_cast<int64_t>(m.wave.nAvgBytesPerSec) * 8;
                return true;
            }
        }
        *error = in->path + ": no MPEG audio frame header";
        return false;
    }
    const bool ac3 = in->kind == Kind::Ac3;
    in->type = ac3 ? StreamType::Ac3 : StreamType::Aac;
    const common::AudioFormat format = ac3 ? common::AudioFormat::Ac3 : common::AudioFormat::Adts;
    const size_t header = common::AudioHeaderBytes(format);
    for (size_t i = 0; i + header <= b.size(); ++i) {
        common::AudioFrameFacts info;
        const bool sync = ac3 ? (b[i] == 0x0B && b[i + 1] == 0x77) : (b[i] == 0xFF && (b[i + 1] & 0xF6) == 0xF0);
        if (!sync || !common::ReadAudioFrameFacts(format, {&b[i], header}, &info) || info.samples <= 0) continue;
        in->bitrate = static_cast<int64_t>(info.frameBytes) * 8 * info.sampleRate / info.samples;
        m.major = MajorType::Audio;
        m.format = muxer::FormatType::WaveFormatEx;
        m.wave.nAvgBytesPerSec = static_cast<uint32_t>(in->bitrate / 8);
        m.wave.nSamplesPerSec = static_cast<uint32_t>(info.sampleRate);
        return true;
    }
    *error = in->path + (ac3 ? ": no AC-3 frame header" : ": no ADTS frame header");
    return false;
}

// Why a stream of `type` cannot go into the output `format`, or nothing: a program stream
// carries no H.264 or MPEG-4 video (its readers know none by stream id), and a DVD stream,
// which carries no stream map, no AAC (it would pass for MPEG audio).
std::string Refusal(StreamType type, const std::string& format) {
    if (format != "ts" &&
        !muxer::ProgramStreamCarries(type, format == "dvd" ? muxer::Compatibility::Dvd : muxer::Compatibility::None)) {
        if (type == StreamType::Aac) return "AAC audio cannot go into a DVD program stream (use -f ps or -f ts)";
        return "this video cannot go into a program stream (use -f ts)";
    }
    return {};
}

muxer::MuxSettings SettingsOf(const Options& o) {
    muxer::MuxSettings s;
    s.output = o.format == "ts" ? muxer::OutputKind::TransportStream : muxer::OutputKind::ProgramStream;
    s.compatibility = o.format == "dvd" ? muxer::Compatibility::Dvd : muxer::Compatibility::None;
    return s;
}

// Reads a file in pieces of `chunk` bytes into `take` (false: stop); false when a read fails.
bool ReadPieces(const std::string& path, uint32_t chunk, const std::function<bool(const uint8_t*, size_t)>& take) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<uint8_t> piece(chunk);
    bool ok = true;
    for (;;) {
        const size_t n = std::fread(piece.data(), 1, piece.size(), f);
        if (n > 0 && !take(piece.data(), n)) break;
        if (n < piece.size()) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    return ok;
}

void FeedFile(MuxStream* stream, const std::string& path, uint32_t chunk, std::atomic<bool>* failed) {
    bool first = true;
    const bool ok = ReadPieces(path, chunk, [&](const uint8_t* data, size_t n) {
        // A raw stream has one time: its start.
        const muxer::WrappingBuffer sample(data, static_cast<int32_t>(n),
                                           first ? std::optional<int64_t>(0) : std::nullopt);
        stream->Feed(sample);
        first = false;
        return true;
    });
    if (!ok) *failed = true;
    stream->EndOfStream();
}

// The streams found in a multiplexed input, added to the running engine as the parser
// finds them.
class Remuxer : public muxer::CMuxInputParser {
public:
    Remuxer(muxer::MuxEngine& engine, std::string format) : engine_(engine), format_(std::move(format)) {}
    std::vector<MuxStream*> targets;
    std::string refused;  // why a stream found could not be muxed

protected:
    MuxStream* OnNewStream(StreamType type, const StreamMediaType& media) override {
        const std::string why = Refusal(type, format_);
        if (!why.empty()) {
            if (refused.empty()) refused = why;
            return nullptr;
        }
        MuxStream* s = engine_.AddRunningStream(
            type, media, [&](MuxStream& made) { made.bitrate = muxer::FoundStreamBitrate(type, media); });
        if (s) targets.push_back(s);
        return s;
    }
    bool DeliverPayload(MuxStream* stream, const uint8_t* data, int32_t size, std::optional<int64_t> pts,
                        std::optional<int64_t> dts) override {
        const muxer::WrappingBuffer sample(data, size, pts, dts);
        stream->Feed(sample);
        return true;
    }

private:
    muxer::MuxEngine& engine_;
    std::string format_;
};

Result Finish(muxer::MuxEngine& engine, FileSink& sink, int streams) {
    engine.Stop();
    Result r;
    r.ok = sink.Close();
    if (!r.ok) r.error = "writing the output failed";
    const muxer::MuxStatistics st = engine.Statistics();
    r.bytes = sink.Written();
    r.overheadPercent = st.overheadPercent;
    r.paddingPercent = st.paddingPercent;
    r.streams = streams;
    return r;
}

void WaitForTheEnd(const muxer::MuxEngine& engine) {
    while (!engine.Finished())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

Result RunMultiplexed(const Options& options, Input& in, FileSink& sink) {
    Result fail;
    muxer::MuxEngine engine(SettingsOf(options), sink);
    if (!engine.Start()) {
        fail.error = "the streams leave no valid output";
        return fail;
    }
    engine.StartWorker();
    Remuxer parser(engine, options.format);
    const bool read = ReadPieces(in.path, options.chunk, [&](const uint8_t* data, size_t n) {
        if (!parser.Append(data, static_cast<int32_t>(n))) return false;
        parser.Parse();
        return parser.refused.empty();
    });
    parser.Finish();
    for (MuxStream* s : parser.targets)
        s->EndOfStream();
    if (!read || !parser.refused.empty() || parser.targets.empty()) {
        engine.Stop();
        fail.error = !read                     ? "cannot read " + in.path
                     : !parser.refused.empty() ? in.path + ": " + parser.refused
                                               : in.path + ": no stream recognised";
        return fail;
    }
    WaitForTheEnd(engine);
    return Finish(engine, sink, static_cast<int>(parser.targets.size()));
}

Result RunElementary(const Options& options, std::vector<Input>& inputs, FileSink& sink) {
    Result fail;
    muxer::MuxEngine engine(SettingsOf(options), sink);
    std::vector<MuxStream*> streams;
    for (Input& in : inputs) {
        MuxStream* s = engine.AddStream(in.type, in.media);
        s->bitrate = in.bitrate > 0 ? in.bitrate : 27000000;
        streams.push_back(s);
    }
    if (!engine.Start()) {
        fail.error = "the streams leave no valid output";
        return fail;
    }
    engine.StartWorker();
    std::atomic<bool> failed{false};
    std::vector<std::thread> feeders;
    for (size_t i = 0; i < inputs.size(); ++i)
        feeders.emplace_back(FeedFile, streams[i], std::cref(inputs[i].path), options.chunk, &failed);
    for (std::thread& t : feeders)
        t.join();
    WaitForTheEnd(engine);
    if (failed) {
        engine.Stop();
        fail.error = "reading an input failed";
        return fail;
    }
    return Finish(engine, sink, static_cast<int>(streams.size()));
}

}  // namespace

Result Run(const Options& options) {
    Result fail;
    // Every input is identified before the output is made.
    std::vector<Input> inputs(options.inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        inputs[i].path = options.inputs[i];
        if (!Identify(&inputs[i], &fail.error)) return fail;
    }
    const bool multiplexed = inputs[0].kind == Kind::ProgramStream || inputs[0].kind == Kind::TransportStream;
    if (multiplexed && inputs.size() != 1) {
        fail.error = "one multiplexed input at a time";
        return fail;
    }
    if (!multiplexed)
        for (Input& in : inputs) {
            if (in.kind == Kind::ProgramStream || in.kind == Kind::TransportStream) {
                fail.error = in.path + ": one multiplexed input at a time, with no other input";
                return fail;
            }
            if (!Describe(&in, options.frameDuration, &fail.error)) return fail;
            const std::string why = Refusal(in.type, options.format);
            if (!why.empty()) {
                fail.error = in.path + ": " + why;
                return fail;
            }
        }
    FileSink sink(options.output);
    if (!sink.Open()) {
        fail.error = "cannot write " + options.output;
        return fail;
    }
    Result r = multiplexed ? RunMultiplexed(options, inputs[0], sink) : RunElementary(options, inputs, sink);
    if (!r.ok) {
        // No output is left behind a failure.
        sink.Close();
        std::remove(options.output.c_str());
    }
    return r;
}

bool ParseArguments(const std::vector<std::string>& args, Options* o, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "-f" && hasValue) {
            o->format = args[++i];
            if (o->format != "ps" && o->format != "dvd" && o->format != "ts") {
                *error = "format must be ps, dvd or ts";
                return false;
            }
        } else if (a == "-o" && hasValue) {
            o->output = args[++i];
        } else if (a == "--fps" && hasValue) {
            long num = 0, den = 1;
            if (std::sscanf(args[++i].c_str(), "%ld/%ld", &num, &den) < 1 || num <= 0 || den <= 0) {
                *error = "--fps takes N or N/D";
                return false;
            }
            o->frameDuration = 10000000LL * den / num;
        } else if (a == "--chunk" && hasValue) {
            o->chunk = static_cast<uint32_t>(std::max(1L, std::strtol(args[++i].c_str(), nullptr, 10)));
        } else if (!a.empty() && a[0] == '-') {
            *error = "unknown option " + a;
            return false;
        } else {
            o->inputs.push_back(a);
        }
    }
    if (o->output.empty() || o->inputs.empty()) {
        *error = "usage: mux_tool -f ps|dvd|ts [--fps N/D] -o OUT IN...";
        return false;
    }
    return true;
}

}  // namespace muxdriver
