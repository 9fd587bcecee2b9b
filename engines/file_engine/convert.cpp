#include "engines/file_engine/convert.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "engines/file_engine/h264_output.h"
#include "engines/file_engine/output_sink.h"
#include "engines/player/segment_scan.h"

namespace fileengine {
namespace {

constexpr int64_t kUnitsPerSecond = 10000000;  // 100-ns units
constexpr AVRational kUnitBase = {1, kUnitsPerSecond};
// A clip whose reading gives no picture at all after this many packets is taken as broken
// rather than read to its end.
constexpr int kMaxPacketsWithoutPicture = 20000;
// Packets read past a clip's last picture for its sound (some seconds of any file).
constexpr int kMaxRunOnPackets = 2000;
// A seek that lands past the time asked for is tried again from further back (0.5 s, 1 s,
// 2 s, ... before it) this many times.
constexpr int kSeekAttempts = 6;
// The length probe reads at most this many packets (some hours of video).
constexpr int64_t kMaxProbePackets = 10000000;
// It takes the first picture's time from this many packets of the head (far more than
// any reordering delay), and the last picture's from the final seconds of the file.
constexpr int64_t kProbeHeadPackets = 500;
constexpr int64_t kProbeTailUnits = 10 * kUnitsPerSecond;
// Scaled pictures held by an encoder at once: its reordering delay and look-ahead are far
// below this; more is a fault, not a reason to allocate without end.
constexpr size_t kMaxScaledPictures = 64;
// A segment's first picture time is the lowest stamp of this many of its first pictures
// (more than a group of pictures lies before its first picture in coding order).
constexpr int kSegmentHeadPictures = 32;

struct FormatCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct SwrFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FifoFreer {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoFreer>;

// FFmpeg takes file names in UTF-8; ours are in the ANSI code page.
std::string Utf8FromAnsi(const std::string& ansi) {
    const int wide = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    if (wide <= 0) return ansi;
    std::wstring w(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, w.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return ansi;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(bytes) - 1);
    return utf8;
}

// The segments of the program stream at `path` (ANSI), as the segment scan lists them.
// The scan reads the whole file, and the preview opens its file again at each move of
// its position: the last file's segments are kept while its size and write time stay.
std::vector<engines::SegmentRecord> FileSegments(const std::string& path) {
    static std::mutex mutex;
    static std::string keptPath;
    static FILETIME keptTime{};
    static ULARGE_INTEGER keptSize{};
    static std::vector<engines::SegmentRecord> kept;
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return {};
    ULARGE_INTEGER size;
    size.LowPart = a.nFileSizeLow;
    size.HighPart = a.nFileSizeHigh;
    std::lock_guard<std::mutex> lock(mutex);
    if (path != keptPath || size.QuadPart != keptSize.QuadPart || CompareFileTime(&a.ftLastWriteTime, &keptTime) != 0) {
        kept = engines::ScanSegments(path, nullptr);
        keptPath = path;
        keptSize = size;
        keptTime = a.ftLastWriteTime;
    }
    return kept;
}

// One opened clip: its demuxer and the decoders of its best video and audio streams.
struct SourceFile {
    FormatPtr format;
    CodecPtr video, audio;
    int videoIndex = -1, audioIndex = -1;
    // Reading ends at this file offset (the end of the segment being read); -1 at the end
    // of the file.
    int64_t endByte = -1;

    bool Open(const std::string& path, bool wantAudio, std::string* error) {
        AVFormatContext* f = nullptr;
        const std::string name = Utf8FromAnsi(path);
        if (int r = avformat_open_input(&f, name.c_str(), nullptr, nullptr); r < 0) {
            *error = "cannot open " + path + ": " + AvErrorText(r);
            return false;
        }
        format.reset(f);
        if (int r = avformat_find_stream_info(f, nullptr); r < 0) {
            *error = path + ": " + AvErrorText(r);
            return false;
        }
        videoIndex = av_find_best_stream(f, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (videoIndex < 0) {
            *error = path + " holds no video that can be decoded";
            return false;
        }
        if (!OpenDecoder(videoIndex, &video, error)) return false;
        if (wantAudio) {
            audioIndex = av_find_best_stream(f, AVMEDIA_TYPE_AUDIO, -1, videoIndex, nullptr, 0);
            // A clip whose audio cannot be decoded is converted with silence.
            if (audioIndex >= 0 && !OpenDecoder(audioIndex, &audio, error)) audioIndex = -1;
        }
        for (unsigned i = 0; i < f->nb_streams; ++i)
            if (static_cast<int>(i) != videoIndex && static_cast<int>(i) != audioIndex)
                f->streams[i]->discard = AVDISCARD_ALL;
        return true;
    }

    bool OpenDecoder(int index, CodecPtr* out, std::string* error) {
        const AVStream* s = format->streams[index];
        const AVCodec* codec = avcodec_find_decoder(s->codecpar->codec_id);
        if (!codec) {
            *error = std::string("no decoder for ") + avcodec_get_name(s->codecpar->codec_id);
            return false;
        }
        CodecPtr c(avcodec_alloc_context3(codec));
        if (!c || avcodec_parameters_to_context(c.get(), s->codecpar) < 0) {
            *error = "out of memory";
            return false;
        }
        c->pkt_timebase = s->time_base;
        // One thread: under Wine, frame threads cost more than they gain (a 30-second
        // 720x576 DV to DVD conversion: 20.0 s with the library's choice, 8.9 s with one
        // thread for the decoder and the encoder each).
        c->thread_count = 1;
        if (int r = avcodec_open2(c.get(), codec, nullptr); r < 0) {
            *error = std::string("cannot open the ") + codec->name + " decoder: " + AvErrorText(r);
            return false;
        }
        *out = std::move(c);
        return true;
    }

    // Seeks so that reading starts at a key picture at or before `fileTime` (100-ns units on
    // the file's clock). A seek in a program stream lands near the time asked for, at times
    // just after it, and the first key picture read then lies past the time: each such
    // landing is tried again from further back.
    void SeekToKeyBefore(int64_t fileTime, int64_t fileStart) {
        int64_t back = 0;
        for (int attempt = 0;; ++attempt) {
            const int64_t at = std::max(fileStart, fileTime - back);
            const int64_t target = av_rescale_q(at, kUnitBase, AV_TIME_BASE_Q);
            if (av_seek_frame(format.get(), -1, target, AVSEEK_FLAG_BACKWARD) < 0) return;
            if (at <= fileStart || attempt == kSeekAttempts) return;
            const std::optional<int64_t> key = FirstKeyTime();
            if (!key || *key <= fileTime) {
                av_seek_frame(format.get(), -1, target, AVSEEK_FLAG_BACKWARD);
                return;
            }
            back = back > 0 ? back * 2 : kUnitsPerSecond / 2;
        }
    }

    // A program stream whose time stamps restart (the titles of a disc file, recordings
    // joined end to end) has its segments laid one after another on one time line, as
    // they are listed. For such a file, positions reading at the start of the segment that
    // holds `timelineTime` (100-ns units on that time line), limits reading to that
    // segment and answers the time on the segment's own clock; nothing for a file with
    // one run of stamps, which a seek by time reaches.
    std::optional<int64_t> EnterSegment(const std::string& path, int64_t timelineTime) {
        if (std::strcmp(format->iformat->name, "mpeg") != 0) return std::nullopt;
        const std::vector<engines::SegmentRecord> segments = FileSegments(path);
        if (segments.size() < 2) return std::nullopt;
        size_t i = 0;
        while (i + 1 < segments.size() && segments[i].timelineEnd <= timelineTime)
            ++i;
        const engines::SegmentRecord& segment = segments[i];
        if (segment.videoStart < 0) return std::nullopt;
        // The segment's first picture on its own clock: the lowest video stamp of its head
        // (pictures are stamped in coding order, within a few of presentation order).
        if (av_seek_frame(format.get(), videoIndex, segment.firstByte, AVSEEK_FLAG_BYTE) < 0) return std::nullopt;
        const AVStream* s = format->streams[videoIndex];
        PacketPtr packet(av_packet_alloc());
        if (!packet) return std::nullopt;
        int64_t low = INT64_MAX;
        for (int n = 0, pictures = 0; n < kMaxPacketsWithoutPicture && pictures < kSegmentHeadPictures; ++n) {
            if (av_read_frame(format.get(), packet.get()) < 0) break;
            const bool past = packet->pos >= segment.endByte;
            if (!past && packet->stream_index == videoIndex && packet->pts != AV_NOPTS_VALUE) {
                low = std::min(low, packet->pts);
                ++pictures;
            }
            av_packet_unref(packet.get());
            if (past) break;
        }
        if (low == INT64_MAX) return std::nullopt;
        if (av_seek_frame(format.get(), videoIndex, segment.firstByte, AVSEEK_FLAG_BYTE) < 0) return std::nullopt;
        endByte = segment.endByte;
        return av_rescale_q(low, s->time_base, kUnitBase) + (timelineTime - segment.videoStart);
    }

    // Positions reading for a clip whose in point is `sourceTime` (100-ns units from the
    // file's first picture, on the time line of its segments) and answers the in point's
    // time on the clock of the pictures then read: within its segment where the stamps
    // restart (also at 0, so that reading ends with the first segment), else from a key
    // picture at or before it; nothing at 0 in a file with one run of stamps, which is
    // read from its head.
    std::optional<int64_t> SeekToSource(const std::string& path, int64_t sourceTime, int64_t fileStart) {
        if (std::optional<int64_t> inSegment = EnterSegment(path, sourceTime)) return inSegment;
        if (sourceTime <= 0) return std::nullopt;
        SeekToKeyBefore(fileStart + sourceTime, fileStart);
        return fileStart + sourceTime;
    }

    // The time of the next key picture's packet (100-ns units), read within a bound.
    std::optional<int64_t> FirstKeyTime() {
        PacketPtr packet(av_packet_alloc());
        if (!packet) return std::nullopt;
        const AVStream* s = format->streams[videoIndex];
        for (int n = 0; n < kMaxPacketsWithoutPicture; ++n) {
            if (av_read_frame(format.get(), packet.get()) < 0) return std::nullopt;
            const bool key = packet->stream_index == videoIndex && (packet->flags & AV_PKT_FLAG_KEY);
            const int64_t t = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            av_packet_unref(packet.get());
            if (key)
                return t == AV_NOPTS_VALUE ? std::nullopt
                                           : std::optional<int64_t>(av_rescale_q(t, s->time_base, kUnitBase));
        }
        return std::nullopt;
    }

    // The video's length in 100-ns units: from its first packet's time to the end of its
    // last (the stream's own duration often leaves out the last picture); -1 unknown. The
    // first pictures are read from the head; the last from a seek to some seconds before
    // the end the container claims, so a long file is not read whole (a whole file
    // is read only where seeking fails or finds no picture).
    int64_t VideoDuration() {
        const AVStream* s = format->streams[videoIndex];
        PacketPtr packet(av_packet_alloc());
        if (!packet) return -1;
        int64_t first = INT64_MAX, end = INT64_MIN;
        // Reads up to `limit` packets (or to the end); true when the end was reached.
        const auto scan = [&](int64_t limit, bool* sawVideo) {
            for (int64_t n = 0; n < limit; ++n) {
                if (av_read_frame(format.get(), packet.get()) < 0) return true;
                if (packet->stream_index == videoIndex && packet->pts != AV_NOPTS_VALUE) {
                    first = std::min(first, packet->pts);
                    end = std::max(end, packet->pts + std::max<int64_t>(packet->duration, 0));
                    *sawVideo = true;
                }
                av_packet_unref(packet.get());
            }
            return false;
        };
        bool sawVideo = false;
        bool atEnd = scan(kProbeHeadPackets, &sawVideo);
        int64_t claimed = s->duration > 0 ? s->duration : -1;
        if (claimed < 0 && format->duration > 0) claimed = av_rescale_q(format->duration, AV_TIME_BASE_Q, s->time_base);
        if (!atEnd && sawVideo && claimed > 0) {
            const int64_t tail = av_rescale_q(kProbeTailUnits, kUnitBase, s->time_base);
            const int64_t target = first + claimed - tail;
            if (target > end && av_seek_frame(format.get(), videoIndex, target, AVSEEK_FLAG_BACKWARD) >= 0) {
                const int64_t headEnd = end;
                bool tailVideo = false;
                atEnd = scan(kMaxProbePackets, &tailVideo);
                if (!tailVideo || end <= headEnd) {
                    // The seek found nothing to go by: read the whole file after all.
                    av_seek_frame(format.get(), videoIndex, s->start_time != AV_NOPTS_VALUE ? s->start_time : 0,
                                  AVSEEK_FLAG_BACKWARD);
                    atEnd = false;
                }
            }
        }
        if (!atEnd) scan(kMaxProbePackets, &sawVideo);
        if (first != INT64_MAX && end > first) return av_rescale_q(end - first, s->time_base, kUnitBase);
        if (s->duration > 0) return av_rescale_q(s->duration, s->time_base, kUnitBase);
        if (format->duration > 0) return av_rescale_q(format->duration, AV_TIME_BASE_Q, kUnitBase);
        return -1;
    }
};

// A frame's time in 100-ns units, or nothing when it has none.
std::optional<int64_t> FrameTime(const AVFrame* frame, AVRational base) {
    const int64_t t = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
    if (t == AV_NOPTS_VALUE) return std::nullopt;
    return av_rescale_q(t, base, kUnitBase);
}

// Lays decoded clips on the output's frame grid and audio clock and hands the results to
// the sink.
class Converter {
public:
    Converter(const OutputPlan& plan, OutputSink& sink, ConvertControl& control, int64_t total)
        : plan_(plan), sink_(sink), control_(control), total_(total) {}

    bool Start(std::string* error) {
        picture_.reset(av_frame_alloc());
        audioFrame_.reset(av_frame_alloc());
        if (!picture_ || !audioFrame_) return (*error = "out of memory"), false;
        const SinkFormat& f = sink_.Format();
        if (f.audio) {
            fifo_.reset(av_audio_fifo_alloc(static_cast<AVSampleFormat>(f.sampleFormat), f.channels, f.frameSamples));
            if (!fifo_) return (*error = "out of memory"), false;
        }
        return true;
    }

    ConvertResult AddClip(const SourceClip& clip, std::string* error);
    bool Finish(std::string* error);

private:
    bool PutPicture(const AVFrame* source, std::string* error);
    AVFrame* ScaledPicture();
    bool TakeAudio(const AVFrame* decoded, AVRational base, int64_t clipStart, std::string* error);
    bool EncodeAudio(int64_t upTo, bool all, std::string* error);
    void Preview(const AVFrame* frame);
    void Progress(int64_t clipPosition) {
        if (total_ <= 0) return;
        const float f = std::clamp(float(double(doneBefore_ + clipPosition) / double(total_)), 0.0f, 1.0f);
        control_.fraction.store(f);
        if (control_.onProgress) control_.onProgress(f);
    }
    int64_t FrameUnits(int64_t frames) const {
        const SinkFormat& f = sink_.Format();
        return av_rescale(frames, int64_t(kUnitsPerSecond) * f.rateDen, f.rateNum);
    }

    const OutputPlan& plan_;
    OutputSink& sink_;
    ConvertControl& control_;
    int64_t total_;
    int64_t doneBefore_ = 0;  // timeline length of the finished clips
    FramePtr picture_, audioFrame_;
    std::vector<FramePtr> scaled_;  // pictures scaled to the output's shape, reused
    SwsPtr scale_;
    int scaleFrom_[3] = {-1, -1, -1};  // width, height, format the scaler was made for
    SwrPtr resample_;
    FifoPtr fifo_;
    int64_t frames_ = 0;          // pictures written
    int64_t clipFirstFrame_ = 0;  // output picture number of the clip's first
    int64_t samplesIn_ = 0;       // audio samples put in the FIFO for the output so far
    int64_t samplesOut_ = 0;      // audio samples encoded
    int64_t clipFirstSample_ = 0;
    bool clipAudioStarted_ = false;
    int64_t lastPreview_ = -kUnitsPerSecond;
    SwsPtr previewScale_;
    std::vector<uint8_t> previewPixels_;
};

bool Converter::PutPicture(const AVFrame* source, std::string* error) {
    const SinkFormat& f = sink_.Format();
    if (!scale_ || scaleFrom_[0] != source->width || scaleFrom_[1] != source->height ||
        scaleFrom_[2] != source->format) {
        scale_.reset(sws_getContext(source->width, source->height, static_cast<AVPixelFormat>(source->format), f.width,
                                    f.height, static_cast<AVPixelFormat>(f.pixelFormat), SWS_BICUBIC, nullptr, nullptr,
                                    nullptr));
        if (!scale_) return (*error = "cannot convert the pictures to the output's size"), false;
        scaleFrom_[0] = source->width;
        scaleFrom_[1] = source->height;
        scaleFrom_[2] = source->format;
    }
    av_frame_unref(picture_.get());
    if (source->width == f.width && source->height == f.height && source->format == f.pixelFormat) {
        // Already the output's shape: the encoder takes a reference to the decoded picture.
        if (av_frame_ref(picture_.get(), source) < 0) return (*error = "out of memory"), false;
    } else {
        AVFrame* scaled = ScaledPicture();
        if (!scaled) return (*error = "out of memory"), false;
        sws_scale(scale_.get(), source->data, source->linesize, 0, source->height, scaled->data, scaled->linesize);
        if (av_frame_ref(picture_.get(), scaled) < 0) return (*error = "out of memory"), false;
    }
    picture_->pts = frames_;
    picture_->pict_type = AV_PICTURE_TYPE_NONE;
    picture_->key_frame = 0;
    if (plan_.video.interlaced) {
        picture_->interlaced_frame = 1;
        picture_->top_field_first = plan_.video.topFieldFirst ? 1 : 0;
    }
    if (!sink_.PutVideo(picture_.get(), error)) return false;
    ++frames_;
    Preview(picture_.get());
    return true;
}

// A picture of the output's shape that no encoder holds any longer. The encoders keep
// references to the pictures they wait on (B pictures), so a few are in use at once; each
// is allocated once, since a fresh frame for every picture costs the allocator and the
// page faults of 600 KB or more per picture.
AVFrame* Converter::ScaledPicture() {
    for (FramePtr& p : scaled_)
        if (av_frame_is_writable(p.get())) return p.get();
    if (scaled_.size() >= kMaxScaledPictures) return nullptr;
    const SinkFormat& f = sink_.Format();
    FramePtr p(av_frame_alloc());
    if (!p) return nullptr;
    p->format = f.pixelFormat;
    p->width = f.width;
    p->height = f.height;
    if (av_frame_get_buffer(p.get(), 32) < 0) return nullptr;
    scaled_.push_back(std::move(p));
    return scaled_.back().get();
}

void Converter::Preview(const AVFrame* frame) {
    const int w = control_.previewWidth.load(), h = control_.previewHeight.load();
    if (w <= 0 || h <= 0 || !control_.preview) return;
    const int64_t now = FrameUnits(frames_);
    if (now - lastPreview_ < kUnitsPerSecond / 10) return;
    lastPreview_ = now;
    previewScale_.reset(sws_getCachedContext(previewScale_.release(), frame->width, frame->height,
                                             static_cast<AVPixelFormat>(frame->format), w, h, AV_PIX_FMT_BGR0,
                                             SWS_FAST_BILINEAR, nullptr, nullptr, nullptr));
    if (!previewScale_) return;
    previewPixels_.resize(size_t(w) * h * 4);
    uint8_t* dst[4] = {previewPixels_.data(), nullptr, nullptr, nullptr};
    int stride[4] = {w * 4, 0, 0, 0};
    sws_scale(previewScale_.get(), frame->data, frame->linesize, 0, frame->height, dst, stride);
    control_.preview(previewPixels_.data(), w, h);
}

// Resamples decoded audio into the FIFO. The clip's first audio is placed at its time on
// the clip: silence before it when it starts late, its head dropped when it starts early.
// `base` is the audio stream's time base, `clipStart` in 100-ns units.
bool Converter::TakeAudio(const AVFrame* decoded, AVRational base, int64_t clipStart, std::string* error) {
    const SinkFormat& f = sink_.Format();
    if (!clipAudioStarted_) {
        clipAudioStarted_ = true;
        AVChannelLayout out{};
        av_channel_layout_default(&out, f.channels);
        SwrContext* s = nullptr;
        const int r =
            swr_alloc_set_opts2(&s, &out, static_cast<AVSampleFormat>(f.sampleFormat), f.sampleRate,
                                const_cast<AVChannelLayout*>(&decoded->ch_layout),
                                static_cast<AVSampleFormat>(decoded->format), decoded->sample_rate, 0, nullptr);
        resample_.reset(s);
        if (r < 0 || swr_init(s) < 0) return (*error = "cannot convert the clip's audio"), false;
    }
    const int room = swr_get_out_samples(resample_.get(), decoded->nb_samples);
    if (room < 0) return (*error = "cannot convert the clip's audio"), false;
    std::vector<uint8_t*> planes(static_cast<size_t>(f.channels));
    if (av_samples_alloc(planes.data(), nullptr, f.channels, room, static_cast<AVSampleFormat>(f.sampleFormat), 0) < 0)
        return (*error = "out of memory"), false;
    const int got = swr_convert(resample_.get(), planes.data(), room,
                                const_cast<const uint8_t**>(decoded->extended_data), decoded->nb_samples);
    int skip = 0;
    if (got > 0) {
        // Where these samples belong on the clip, against where the FIFO has got to.
        int64_t at = samplesIn_;
        if (const std::optional<int64_t> t = FrameTime(decoded, base)) {
            at = clipFirstSample_ + av_rescale(*t - clipStart, f.sampleRate, kUnitsPerSecond);
        }
        // Gaps and overlaps under 40 ms are jitter of the time stamps, not of the audio.
        const int64_t tolerance = f.sampleRate / 25;
        if (at > samplesIn_ + tolerance) {
            const int64_t gap = at - samplesIn_;
            std::vector<uint8_t*> silence(static_cast<size_t>(f.channels));
            if (av_samples_alloc(silence.data(), nullptr, f.channels, static_cast<int>(gap),
                                 static_cast<AVSampleFormat>(f.sampleFormat), 0) >= 0) {
                av_samples_set_silence(silence.data(), 0, static_cast<int>(gap), f.channels,
                                       static_cast<AVSampleFormat>(f.sampleFormat));
                av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(silence.data()), static_cast<int>(gap));
                samplesIn_ += gap;
                av_freep(&silence[0]);
            }
        } else if (at + tolerance < samplesIn_) {
            skip = static_cast<int>(std::min<int64_t>(samplesIn_ - at, got));
        }
        if (got > skip) {
            std::vector<void*> from(static_cast<size_t>(f.channels));
            const int bytesPerSample = av_get_bytes_per_sample(static_cast<AVSampleFormat>(f.sampleFormat));
            const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(f.sampleFormat));
            for (int c = 0; c < (planar ? f.channels : 1); ++c)
                from[static_cast<size_t>(c)] =
                    planes[static_cast<size_t>(c)] + size_t(skip) * bytesPerSample * (planar ? 1 : f.channels);
            av_audio_fifo_write(fifo_.get(), from.data(), got - skip);
            samplesIn_ += got - skip;
        }
    }
    av_freep(&planes[0]);
    if (got < 0) return (*error = "cannot convert the clip's audio"), false;
    // Audio goes out no further than the pictures already written, so the two stay
    // interleaved in the multiplexer.
    return EncodeAudio(av_rescale(FrameUnits(frames_), f.sampleRate, kUnitsPerSecond), false, error);
}

// Encodes whole frames from the FIFO up to sample `upTo` of the output; `all` also the
// last part frame, padded with silence to a whole frame.
bool Converter::EncodeAudio(int64_t upTo, bool all, std::string* error) {
    const SinkFormat& f = sink_.Format();
    for (;;) {
        const int available = av_audio_fifo_size(fifo_.get());
        int n = std::min(available, f.frameSamples);
        if (n <= 0) return true;
        if (n < f.frameSamples && !all) return true;
        if (!all && samplesOut_ + n > upTo) return true;
        av_frame_unref(audioFrame_.get());
        audioFrame_->format = f.sampleFormat;
        av_channel_layout_default(&audioFrame_->ch_layout, f.channels);
        audioFrame_->sample_rate = f.sampleRate;
        audioFrame_->nb_samples = f.fixedFrame ? f.frameSamples : n;
        if (av_frame_get_buffer(audioFrame_.get(), 0) < 0) return (*error = "out of memory"), false;
        av_samples_set_silence(audioFrame_->extended_data, 0, audioFrame_->nb_samples, f.channels,
                               static_cast<AVSampleFormat>(f.sampleFormat));
        av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(audioFrame_->extended_data), n);
        audioFrame_->pts = samplesOut_;
        if (!sink_.PutAudio(audioFrame_.get(), error)) return false;
        samplesOut_ += audioFrame_->nb_samples;
    }
}

ConvertResult Converter::AddClip(const SourceClip& clip, std::string* error) {
    const SinkFormat& f = sink_.Format();
    SourceFile src;
    if (!src.Open(clip.path, f.audio, error)) return ConvertResult::kFailed;
    const AVStream* vs = src.format->streams[src.videoIndex];
    const int64_t fileStart =
        vs->start_time != AV_NOPTS_VALUE ? av_rescale_q(vs->start_time, vs->time_base, kUnitBase) : 0;
    // On the clock of the pictures read: where the clip begins, when not at the head of a file
    // with one run of stamps.
    std::optional<int64_t> from = src.SeekToSource(clip.path, std::max<int64_t>(clip.in, 0), fileStart);
    const int64_t length = clip.out >= 0 ? clip.out - std::max<int64_t>(clip.in, 0) : INT64_MAX;
    std::optional<int64_t> clipStart = from;  // on the file's clock: where the clip's grid begins
    clipFirstFrame_ = frames_;
    clipFirstSample_ = samplesIn_;
    clipAudioStarted_ = false;
    // Audio decoded before the first picture waits here until the clip's start is known.
    std::vector<FramePtr> earlyAudio;

    const AVRational frameRate = av_guess_frame_rate(src.format.get(), const_cast<AVStream*>(vs), nullptr);
    const int64_t sourceFrameUnits =
        frameRate.num > 0 ? av_rescale(kUnitsPerSecond, frameRate.den, frameRate.num) : kUnitsPerSecond / 25;

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame) return (*error = "out of memory"), ConvertResult::kFailed;
    bool clipEnded = false;
    int packetsWithoutPicture = 0;
    bool anyPicture = false;

    std::optional<int64_t> previousEnd;  // where the last picture ended, on the file's clock
    const auto takeVideo = [&](AVFrame* decoded) -> bool {
        // A picture without a time (the last of some program streams) follows the one before.
        const std::optional<int64_t> t =
            FrameTime(decoded, vs->time_base).has_value() ? FrameTime(decoded, vs->time_base) : previousEnd;
        if (!t) return true;
        if (from && *t + sourceFrameUnits / 2 < *from) return true;  // before the in point
        // The picture at the in point begins the grid: an in point and a stamp that differ by
        // rounding would otherwise show that picture on two grid points.
        if (!clipStart || (!anyPicture && std::llabs(*t - *clipStart) < sourceFrameUnits / 2)) clipStart = *t;
        anyPicture = true;
        const int64_t relative = *t - *clipStart;
        int64_t duration =
            decoded->pkt_duration > 0 ? av_rescale_q(decoded->pkt_duration, vs->time_base, kUnitBase) : 0;
        if (duration <= 0) duration = sourceFrameUnits;
        previousEnd = *t + duration;
        // Every grid point before this picture's end shows it (the first also covers the
        // grid points before it, when the picture starts late).
        for (;;) {
            const int64_t k = frames_ - clipFirstFrame_;
            const int64_t at = FrameUnits(k);
            if (at >= length) {
                clipEnded = true;
                return true;
            }
            if (at >= relative + duration) return true;
            if (!PutPicture(decoded, error)) return false;
        }
    };
    const AVRational audioBase = src.audioIndex >= 0 ? src.format->streams[src.audioIndex]->time_base : kUnitBase;
    const auto takeAudio = [&](AVFrame* decoded) -> bool {
        if (!clipStart) {
            FramePtr copy(av_frame_clone(decoded));
            if (copy) earlyAudio.push_back(std::move(copy));
            return true;
        }
        for (FramePtr& early : earlyAudio)
            if (!TakeAudio(early.get(), audioBase, *clipStart, error)) return false;
        earlyAudio.clear();
        return TakeAudio(decoded, audioBase, *clipStart, error);
    };
    const auto drain = [&](AVCodecContext* c, bool video) -> bool {
        for (;;) {
            const int r = avcodec_receive_frame(c, frame.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
            if (r < 0) return true;  // a damaged frame is skipped; the grid repeats its neighbour
            const bool ok = video ? takeVideo(frame.get()) : takeAudio(frame.get());
            av_frame_unref(frame.get());
            if (!ok) return false;
        }
    };

    // The clip's sound up to its last picture: a multiplexed file carries a picture's sound
    // up to some hundreds of milliseconds after it, so reading goes on past the last
    // picture until the sound has caught up (within a bound).
    const auto audioCaughtUp = [&] {
        return !src.audio ||
               samplesIn_ >= clipFirstSample_ + av_rescale(FrameUnits(frames_) - FrameUnits(clipFirstFrame_),
                                                           f.sampleRate, kUnitsPerSecond);
    };
    int runOn = 0;  // packets read after the last picture
    bool atEnd = false;
    while (!clipEnded || (!audioCaughtUp() && runOn++ < kMaxRunOnPackets)) {
        if (control_.abort.load() || (control_.cancel && control_.cancel->load())) return ConvertResult::kAborted;
        const int r = av_read_frame(src.format.get(), packet.get());
        if (r < 0 || (src.endByte >= 0 && packet->pos >= src.endByte)) {
            av_packet_unref(packet.get());
            atEnd = true;
            break;
        }
        bool ok = true;
        if (packet->stream_index == src.videoIndex) {
            if (!clipEnded && avcodec_send_packet(src.video.get(), packet.get()) >= 0)
                ok = drain(src.video.get(), true);
        } else if (packet->stream_index == src.audioIndex) {
            if (avcodec_send_packet(src.audio.get(), packet.get()) >= 0) ok = drain(src.audio.get(), false);
        }
        av_packet_unref(packet.get());
        if (!ok) return ConvertResult::kFailed;
        packetsWithoutPicture = anyPicture ? 0 : packetsWithoutPicture + 1;
        if (packetsWithoutPicture > kMaxPacketsWithoutPicture) break;
        Progress(FrameUnits(frames_ - clipFirstFrame_));
    }
    if (!clipEnded) {
        avcodec_send_packet(src.video.get(), nullptr);
        if (!drain(src.video.get(), true)) return ConvertResult::kFailed;
    }
    if (src.audio && atEnd) {
        avcodec_send_packet(src.audio.get(), nullptr);
        if (!drain(src.audio.get(), false)) return ConvertResult::kFailed;
    }
    if (frames_ == clipFirstFrame_) {
        *error = clip.path + ": no picture could be decoded in the clip's range";
        return ConvertResult::kFailed;
    }
    for (FramePtr& early : earlyAudio)
        if (!TakeAudio(early.get(), audioBase, clipStart.value_or(0), error)) return ConvertResult::kFailed;
    if (f.audio) {
        // The clip's audio ends with its last picture: cut what runs over, fill with silence
        // what is missing.
        const int64_t clipSamples =
            av_rescale(FrameUnits(frames_) - FrameUnits(clipFirstFrame_), f.sampleRate, kUnitsPerSecond);
        const int64_t want = clipFirstSample_ + clipSamples;
        if (samplesIn_ > want) {
            const int64_t excess = samplesIn_ - want;
            const int inFifo = av_audio_fifo_size(fifo_.get());
            // The FIFO holds the newest samples; drop them from its end.
            const int keep = static_cast<int>(std::max<int64_t>(0, inFifo - excess));
            std::vector<uint8_t*> hold(static_cast<size_t>(f.channels));
            if (keep > 0 && av_samples_alloc(hold.data(), nullptr, f.channels, keep,
                                             static_cast<AVSampleFormat>(f.sampleFormat), 0) >= 0) {
                av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(hold.data()), keep);
                av_audio_fifo_reset(fifo_.get());
                av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(hold.data()), keep);
                av_freep(&hold[0]);
            } else {
                av_audio_fifo_reset(fifo_.get());
            }
            samplesIn_ = want;
        } else if (samplesIn_ < want) {
            const int gap = static_cast<int>(want - samplesIn_);
            std::vector<uint8_t*> silence(static_cast<size_t>(f.channels));
            if (av_samples_alloc(silence.data(), nullptr, f.channels, gap, static_cast<AVSampleFormat>(f.sampleFormat),
                                 0) < 0)
                return (*error = "out of memory"), ConvertResult::kFailed;
            av_samples_set_silence(silence.data(), 0, gap, f.channels, static_cast<AVSampleFormat>(f.sampleFormat));
            av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(silence.data()), gap);
            av_freep(&silence[0]);
            samplesIn_ = want;
        }
        if (!EncodeAudio(samplesIn_, false, error)) return ConvertResult::kFailed;
    }
    doneBefore_ += FrameUnits(frames_ - clipFirstFrame_);
    Progress(0);
    return ConvertResult::kDone;
}

bool Converter::Finish(std::string* error) {
    if (sink_.Format().audio && !EncodeAudio(samplesIn_, true, error)) return false;
    return sink_.Finish(error);
}

}  // namespace

struct PreviewReader::State {
    SourceFile src;
    PacketPtr packet{av_packet_alloc()};
    FramePtr frame{av_frame_alloc()};
    SwsPtr scale;
    int64_t origin = 0;  // the time (on the clock of the pictures read) of source time 0, 100-ns units
    int64_t from = 0;    // pictures before this time (on that clock) are skipped
    bool flushed = false;
    bool keySeen = false;
};

PreviewReader::PreviewReader(const std::atomic<bool>* cancel) : cancel_(cancel) {}
PreviewReader::~PreviewReader() = default;

bool PreviewReader::Open(const std::string& path, int64_t sourceTime) {
    auto s = std::make_unique<State>();
    std::string error;
    if (!s->packet || !s->frame || !s->src.Open(path, false, &error)) return false;
    const AVStream* vs = s->src.format->streams[s->src.videoIndex];
    const int64_t fileStart =
        vs->start_time != AV_NOPTS_VALUE ? av_rescale_q(vs->start_time, vs->time_base, kUnitBase) : 0;
    sourceTime = std::max<int64_t>(sourceTime, 0);
    s->from = s->src.SeekToSource(path, sourceTime, fileStart).value_or(fileStart);
    s->origin = s->from - sourceTime;
    state_ = std::move(s);
    return true;
}

bool PreviewReader::Next(int width, int height, std::vector<uint8_t>* bgrx, int64_t* time) {
    if (!state_ || width <= 0 || height <= 0) return false;
    State& s = *state_;
    const AVStream* vs = s.src.format->streams[s.src.videoIndex];
    AVCodecContext* decoder = s.src.video.get();
    // A damaged stream ends the preview, not the program: the packets read are bounded.
    for (int packets = 0; packets < kMaxPacketsWithoutPicture;) {
        const int r = avcodec_receive_frame(decoder, s.frame.get());
        if (r >= 0) {
            const std::optional<int64_t> t = FrameTime(s.frame.get(), vs->time_base);
            const int64_t frameDuration =
                s.frame->pkt_duration > 0 ? av_rescale_q(s.frame->pkt_duration, vs->time_base, kUnitBase) : 0;
            if (t && *t + frameDuration <= s.from) {
                av_frame_unref(s.frame.get());
                continue;
            }
            s.scale.reset(sws_getCachedContext(s.scale.release(), s.frame->width, s.frame->height,
                                               static_cast<AVPixelFormat>(s.frame->format), width, height,
                                               AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr));
            if (!s.scale) return false;
            bgrx->resize(size_t(width) * height * 4);
            uint8_t* dst[4] = {bgrx->data(), nullptr, nullptr, nullptr};
            int stride[4] = {width * 4, 0, 0, 0};
            sws_scale(s.scale.get(), s.frame->data, s.frame->linesize, 0, s.frame->height, dst, stride);
            *time = (t ? *t : s.from) - s.origin;
            av_frame_unref(s.frame.get());
            return true;
        }
        if (r == AVERROR_EOF || s.flushed || (cancel_ && cancel_->load())) return false;
        if (const int read = av_read_frame(s.src.format.get(), s.packet.get());
            read < 0 || (s.src.endByte >= 0 && s.packet->pos >= s.src.endByte)) {
            // The end of the file or of the segment read.
            if (read >= 0) av_packet_unref(s.packet.get());
            avcodec_send_packet(decoder, nullptr);
            s.flushed = true;
            continue;
        }
        ++packets;
        // Decoding starts at a key picture: what lies before it refers to pictures not read.
        if (s.packet->stream_index == s.src.videoIndex && (s.keySeen || (s.packet->flags & AV_PKT_FLAG_KEY))) {
            s.keySeen = true;
            avcodec_send_packet(decoder, s.packet.get());
        }
        av_packet_unref(s.packet.get());
    }
    return false;
}

int64_t ProbeClipDuration(const SourceClip& clip) {
    if (clip.out >= 0) return std::max<int64_t>(0, clip.out - std::max<int64_t>(clip.in, 0));
    SourceFile src;
    std::string error;
    if (!src.Open(clip.path, false, &error)) return -1;
    const int64_t d = src.VideoDuration();
    return d < 0 ? -1 : std::max<int64_t>(0, d - std::max<int64_t>(clip.in, 0));
}

ConvertResult Convert(const std::vector<SourceClip>& clips, const OutputPlan& plan, const std::string& output,
                      ConvertControl& control, std::string* error) {
    av_log_set_level(AV_LOG_ERROR);
    control.fraction.store(0.0f);
    if (clips.empty()) return (*error = "the timeline holds no clip"), ConvertResult::kFailed;
    // Sizes and rates the record leaves to the source come from the first clip.
    SourceFile first;
    if (!first.Open(clips[0].path, false, error)) return ConvertResult::kFailed;
    SourceShape shape;
    shape.width = first.video->width;
    shape.height = first.video->height;
    const AVRational rate = av_guess_frame_rate(first.format.get(), first.format->streams[first.videoIndex], nullptr);
    shape.rateNum = rate.num > 0 ? rate.num : 25;
    shape.rateDen = rate.num > 0 ? rate.den : 1;
    first = SourceFile{};

    int64_t total = 0;
    for (const SourceClip& c : clips) {
        const int64_t d = ProbeClipDuration(c);
        if (d < 0) return (*error = "cannot read " + c.path), ConvertResult::kFailed;
        total += d;
    }

    const std::string temporary = output + ".converting";
    DeleteFileA(temporary.c_str());
    std::unique_ptr<OutputSink> sink = plan.container == Container::kH264Ts ? MakeH264Sink() : MakeLavSink();
    if (!sink->Open(plan, shape, Utf8FromAnsi(temporary), temporary, error)) {
        sink.reset();
        DeleteFileA(temporary.c_str());
        return ConvertResult::kFailed;
    }
    ConvertResult result = ConvertResult::kDone;
    {
        Converter converter(plan, *sink, control, total);
        if (!converter.Start(error)) result = ConvertResult::kFailed;
        for (size_t i = 0; i < clips.size() && result == ConvertResult::kDone; ++i)
            result = converter.AddClip(clips[i], error);
        if (result == ConvertResult::kDone && !converter.Finish(error)) result = ConvertResult::kFailed;
    }
    sink.reset();
    if (result == ConvertResult::kDone && !MoveFileExA(temporary.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        *error = "cannot move the finished file to " + output;
        result = ConvertResult::kFailed;
    }
    if (result != ConvertResult::kDone) DeleteFileA(temporary.c_str());
    if (result == ConvertResult::kDone) control.fraction.store(1.0f);
    return result;
}

}  // namespace fileengine
