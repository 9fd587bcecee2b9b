#include "tools/mux_driver.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
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

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0) return false;
    bytes->resize(static_cast<size_t>(size));
    in.seekg(0);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(bytes->data()), size));
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
    std::vector<uint8_t> bytes;
    StreamType type = StreamType::Mpeg2Video;
    StreamMediaType media;
    int64_t bitrate = 0;
};

bool Describe(Input* in, int64_t frameDuration, std::string* error) {
    const std::string ext = Extension(in->path);
    const std::vector<uint8_t>& b = in->bytes;
    StreamMediaType& m = in->media;
    if (ext == "m2v" || ext == "m1v" || ext == "mpv") {
        const bool mpeg1 = ext == "m1v";
        in->type = mpeg1 ? StreamType::Mpeg1Video : StreamType::Mpeg2Video;
        for (size_t i = 0; i + 12 <= b.size(); ++i)
            if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xB3) {
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
    if (ext == "264" || ext == "h264") {
        in->type = StreamType::H264Video;
        m.major = MajorType::Video;
        m.subtype = muxer::Subtype::H264;
        m.format = muxer::FormatType::VideoInfo;
        m.video.AvgTimePerFrame = frameDuration;
        const int64_t pictures = CountPictures(b, true);
        if (pictures > 0) in->bitrate = static_cast<int64_t>(b.size()) * 80000000 / (pictures * frameDuration);
        return true;
    }
    if (ext == "mp2" || ext == "mp3" || ext == "mpa") {
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
    if (ext == "ac3" || ext == "aac" || ext == "adts") {
        const bool ac3 = ext == "ac3";
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
    *error = in->path + ": unknown stream kind (m2v, m1v, 264, mp2, mp3, ac3, aac; mpg, vob, ts to mux again)";
    return false;
}

muxer::MuxSettings SettingsOf(const Options& o) {
    muxer::MuxSettings s;
    s.output = o.format == "ts" ? muxer::OutputKind::TransportStream : muxer::OutputKind::ProgramStream;
    s.compatibility = o.format == "dvd" ? muxer::Compatibility::Dvd : muxer::Compatibility::None;
    return s;
}

void FeedFile(MuxStream* stream, const std::vector<uint8_t>& bytes, uint32_t chunk) {
    size_t at = 0;
    bool first = true;
    while (at < bytes.size()) {
        const size_t n = std::min<size_t>(chunk, bytes.size() - at);
        // A raw stream has one time: its start.
        const muxer::WrappingBuffer sample(bytes.data() + at, static_cast<int32_t>(n),
                                           first ? std::optional<int64_t>(0) : std::nullopt);
        stream->Feed(sample);
        at += n;
        first = false;
    }
    stream->EndOfStream();
}

// The streams found in a multiplexed input, added to the running engine as the parser
// finds them.
class Remuxer : public muxer::CMuxInputParser {
public:
    explicit Remuxer(muxer::MuxEngine& engine) : engine_(engine) {}
    std::vector<MuxStream*> targets;

protected:
    MuxStream* OnNewStream(StreamType type, const StreamMediaType& media) override {
        MuxStream* s = engine_.AddRunningStream(type, media, [&](MuxStream& made) {
            const int64_t rate = media.format == muxer::FormatType::WaveFormatEx ? media.wave.nAvgBytesPerSec * 8LL
                                                                                 : media.video.dwBitRate;
            made.bitrate = rate > 0 && rate < 100000000 ? rate : (muxer::IsVideoType(type) ? 8000000 : 448000);
        });
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
};

void FeedMultiplexed(Remuxer& parser, const std::vector<uint8_t>& bytes, uint32_t chunk) {
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t n = std::min<size_t>(chunk, bytes.size() - at);
        if (!parser.Append(bytes.data() + at, static_cast<int32_t>(n))) break;
        parser.Parse();
        at += n;
    }
}

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

}  // namespace

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

Result Run(const Options& options) {
    Result fail;
    FileSink sink(options.output);
    if (!sink.Open()) {
        fail.error = "cannot write " + options.output;
        return fail;
    }
    muxer::MuxEngine engine(SettingsOf(options), sink);
    const std::string ext0 = Extension(options.inputs[0]);
    if (ext0 == "mpg" || ext0 == "vob" || ext0 == "ts" || ext0 == "mpeg" || ext0 == "m2ts") {
        std::vector<uint8_t> bytes;
        if (options.inputs.size() != 1 || !ReadFile(options.inputs[0], &bytes)) {
            fail.error = "cannot read " + options.inputs[0] + " (one multiplexed input at a time)";
            return fail;
        }
        if (!engine.Start()) {
            fail.error = "the streams leave no valid output";
            return fail;
        }
        engine.StartWorker();
        Remuxer parser(engine);
        FeedMultiplexed(parser, bytes, options.chunk);
        parser.Finish();
        if (parser.targets.empty()) {
            engine.Stop();
            fail.error = options.inputs[0] + ": no stream recognised";
            return fail;
        }
        for (MuxStream* s : parser.targets)
            s->EndOfStream();
        while (!engine.Finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return Finish(engine, sink, static_cast<int>(parser.targets.size()));
    }

    std::vector<Input> inputs(options.inputs.size());
    std::vector<MuxStream*> streams;
    for (size_t i = 0; i < inputs.size(); ++i) {
        inputs[i].path = options.inputs[i];
        if (!ReadFile(inputs[i].path, &inputs[i].bytes)) {
            fail.error = "cannot read " + inputs[i].path;
            return fail;
        }
        if (!Describe(&inputs[i], options.frameDuration, &fail.error)) return fail;
        MuxStream* s = engine.AddStream(inputs[i].type, inputs[i].media);
        s->bitrate = inputs[i].bitrate > 0 ? inputs[i].bitrate : 27000000;
        streams.push_back(s);
    }
    if (!engine.Start()) {
        fail.error = "the streams leave no valid output";
        return fail;
    }
    engine.StartWorker();
    std::vector<std::thread> feeders;
    for (size_t i = 0; i < inputs.size(); ++i)
        feeders.emplace_back(FeedFile, streams[i], std::cref(inputs[i].bytes), options.chunk);
    for (std::thread& t : feeders)
        t.join();
    while (!engine.Finished())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Finish(engine, sink, static_cast<int>(streams.size()));
}

}  // namespace muxdriver
