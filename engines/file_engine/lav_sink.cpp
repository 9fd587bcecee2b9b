// The outputs written with FFmpeg's encoders and multiplexers. DV goes through FFmpeg's DV
// multiplexer (which places the audio inside the DV frames) into our DV AVI writer, so both
// AVI types come out as the capture engine writes them.
#include <windows.h>

#include <cstring>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include "engines/dv/dv_avi_writer.h"
#include "engines/file_engine/output_sink.h"

namespace fileengine {

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void ResolveShape(const VideoPlan& v, const SourceShape& source, SinkFormat* f) {
    f->width = v.width > 0 ? v.width : source.width & ~1;
    f->height = v.height > 0 ? v.height : source.height & ~1;
    if (v.rateFromSource) {
        f->rateNum = source.rateNum;
        f->rateDen = source.rateDen;
    } else {
        f->rateNum = v.rateNum;
        f->rateDen = v.rateDen;
    }
}

bool OpenAudioEncoder(const AudioPlan& audio, bool globalHeader, AudioEncoderPtr* encoder, SinkFormat* f,
                      std::string* error) {
    const char* name = nullptr;
    switch (audio.codec) {
        case AudioCodec::kNone:
            f->audio = false;
            return true;
        case AudioCodec::kMp2:
            name = "mp2";
            break;
        case AudioCodec::kAc3:
            name = "ac3";
            break;
        case AudioCodec::kMp3:
            name = "libmp3lame";
            break;
        case AudioCodec::kPcmS16Le:
            name = "pcm_s16le";
            break;
        case AudioCodec::kPcmS16Be:
            name = "pcm_s16be";
            break;
        case AudioCodec::kWmav2:
            name = "wmav2";
            break;
    }
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) return (*error = std::string("the ") + name + " encoder is missing"), false;
    AudioEncoderPtr c(avcodec_alloc_context3(codec));
    if (!c) return (*error = "out of memory"), false;
    c->sample_rate = audio.sampleRate;
    av_channel_layout_default(&c->ch_layout, audio.channels);
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    c->bit_rate = audio.bitRate;
    c->time_base = AVRational{1, audio.sampleRate};
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int r = avcodec_open2(c.get(), codec, nullptr); r < 0) {
        *error = std::string("the ") + name + " encoder refuses the profile's audio (" +
                 std::to_string(audio.sampleRate) + " Hz, " + std::to_string(audio.channels) + " channels, " +
                 std::to_string(audio.bitRate / 1000) + " kbit/s): " + AvErrorText(r);
        return false;
    }
    f->audio = true;
    f->sampleFormat = c->sample_fmt;
    f->sampleRate = audio.sampleRate;
    f->channels = audio.channels;
    // Encoders without a frame size (PCM) take a frame's worth of 20 ms.
    f->fixedFrame = c->frame_size > 0 && !(codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    f->frameSamples = c->frame_size > 0 ? c->frame_size : audio.sampleRate / 50;
    *encoder = std::move(c);
    return true;
}

namespace {

struct FormatFreer {
    void operator()(AVFormatContext* f) const { avformat_free_context(f); }
};

// Collects the DV multiplexer's output into whole frames for the DV AVI writer.
class DvFrameCollector {
public:
    bool Open(const std::string& ansiPath, bool pal, int type) {
        system_ = pal ? dv::System::kPal : dv::System::kNtsc;
        frameBytes_ = dv::FrameBytes(system_);
        return writer_.Open(ansiPath, system_, type == 1 ? dv::AviType::kType1 : dv::AviType::kType2);
    }
    static int Write(void* opaque, uint8_t* data, int bytes) {
        auto* self = static_cast<DvFrameCollector*>(opaque);
        self->pending_.insert(self->pending_.end(), data, data + bytes);
        size_t used = 0;
        while (self->pending_.size() - used >= self->frameBytes_) {
            if (!self->writer_.AddFrame(std::span<const uint8_t>(self->pending_.data() + used, self->frameBytes_)))
                self->failed_ = true;
            used += self->frameBytes_;
        }
        self->pending_.erase(self->pending_.begin(), self->pending_.begin() + static_cast<ptrdiff_t>(used));
        return self->failed_ ? AVERROR(EIO) : bytes;
    }
    bool Finish() { return !failed_ && writer_.Finish(); }

private:
    dv::AviWriter writer_;
    dv::System system_ = dv::System::kPal;
    size_t frameBytes_ = 0;
    std::vector<uint8_t> pending_;
    bool failed_ = false;
};

class LavSink final : public OutputSink {
public:
    ~LavSink() override {
        if (format_ctx_ && !dv_ && !(format_ctx_->oformat->flags & AVFMT_NOFILE)) avio_closep(&format_ctx_->pb);
        if (dvIo_) {
            av_freep(&dvIo_->buffer);
            avio_context_free(&dvIo_);
        }
        avcodec_free_context(&video_);
        av_packet_free(&packet_);
    }
    LavSink() : packet_(av_packet_alloc()) {}
    LavSink(const LavSink&) = delete;
    LavSink& operator=(const LavSink&) = delete;

    bool Open(const OutputPlan& plan, const SourceShape& source, const std::string& path, const std::string& ansiPath,
              std::string* error) override;
    bool PutVideo(AVFrame* picture, std::string* error) override {
        return Encode(video_, videoStream_, picture, error);
    }
    bool PutAudio(AVFrame* samples, std::string* error) override {
        return Encode(audio_.get(), audioStream_, samples, error);
    }
    bool Finish(std::string* error) override {
        if (!Encode(video_, videoStream_, nullptr, error)) return false;
        if (audio_ && !Encode(audio_.get(), audioStream_, nullptr, error)) return false;
        if (int r = av_write_trailer(format_ctx_.get()); r < 0)
            return (*error = "cannot complete the output: " + AvErrorText(r)), false;
        if (dv_) {
            avio_flush(dvIo_);
            if (!dv_->Finish()) return (*error = "cannot complete the DV AVI file"), false;
            return true;
        }
        if (int r = avio_closep(&format_ctx_->pb); r < 0)
            return (*error = "cannot write the output: " + AvErrorText(r)), false;
        return true;
    }

private:
    bool Encode(AVCodecContext* c, AVStream* stream, AVFrame* frame, std::string* error) {
        if (int r = avcodec_send_frame(c, frame); r < 0 && r != AVERROR_EOF)
            return (*error = std::string("the ") + c->codec->name + " encoder failed: " + AvErrorText(r)), false;
        for (;;) {
            const int r = avcodec_receive_packet(c, packet_);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
            if (r < 0) return (*error = std::string("the ") + c->codec->name + " encoder failed"), false;
            av_packet_rescale_ts(packet_, c->time_base, stream->time_base);
            packet_->stream_index = stream->index;
            if (int w = av_interleaved_write_frame(format_ctx_.get(), packet_); w < 0)
                return (*error = "cannot write the output: " + AvErrorText(w)), false;
        }
    }

    std::unique_ptr<AVFormatContext, FormatFreer> format_ctx_;
    AVCodecContext* video_ = nullptr;
    AudioEncoderPtr audio_;
    AVStream* videoStream_ = nullptr;
    AVStream* audioStream_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::unique_ptr<DvFrameCollector> dv_;
    AVIOContext* dvIo_ = nullptr;
};

const char* MuxerName(Container c) {
    switch (c) {
        case Container::kMpeg1System:
            return "mpeg";
        case Container::kVcd:
            return "vcd";
        case Container::kMpeg2Ps:
            return "vob";
        case Container::kSvcd:
            return "svcd";
        case Container::kDvd:
            return "dvd";
        case Container::kDvAvi:
            return "dv";
        case Container::kAvi:
            return "avi";
        case Container::kQuickTime:
            return "mov";
        case Container::kAsf:
            return "asf";
        case Container::kH264Ts:
            break;
    }
    return nullptr;
}

const char* VideoEncoderName(VideoCodec c) {
    switch (c) {
        case VideoCodec::kMpeg1:
            return "mpeg1video";
        case VideoCodec::kMpeg2:
            return "mpeg2video";
        case VideoCodec::kMpeg4:
            return "mpeg4";
        case VideoCodec::kDv:
            return "dvvideo";
        case VideoCodec::kRpza:
            return "rpza";
        case VideoCodec::kWmv2:
            return "wmv2";
        case VideoCodec::kH264:
            break;
    }
    return nullptr;
}

bool LavSink::Open(const OutputPlan& plan, const SourceShape& source, const std::string& path,
                   const std::string& ansiPath, std::string* error) {
    if (!packet_) return (*error = "out of memory"), false;
    const VideoPlan& v = plan.video;
    ResolveShape(v, source, &format_);
    AVFormatContext* oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, MuxerName(plan.container), path.c_str()) < 0 || !oc)
        return (*error = "the output format's multiplexer is missing"), false;
    format_ctx_.reset(oc);
    const bool globalHeader = (oc->oformat->flags & AVFMT_GLOBALHEADER) != 0;

    const AVCodec* codec = avcodec_find_encoder_by_name(VideoEncoderName(v.codec));
    if (!codec) return (*error = "the output's video encoder is missing"), false;
    video_ = avcodec_alloc_context3(codec);
    if (!video_) return (*error = "out of memory"), false;
    AVCodecContext* c = video_;
    c->width = format_.width;
    c->height = format_.height;
    c->time_base = AVRational{format_.rateDen, format_.rateNum};
    c->framerate = AVRational{format_.rateNum, format_.rateDen};
    c->sample_aspect_ratio = AVRational{0, 1};
    switch (v.codec) {
        case VideoCodec::kDv:
            // IEC 61834 DV25: 4:1:1 sampling in 525-line frames, 4:2:0 in 625-line frames.
            format_.pixelFormat = format_.height == 480 ? AV_PIX_FMT_YUV411P : AV_PIX_FMT_YUV420P;
            break;
        case VideoCodec::kRpza:
            format_.pixelFormat = AV_PIX_FMT_RGB555LE;
            break;
        default:
            format_.pixelFormat = AV_PIX_FMT_YUV420P;
            break;
    }
    c->pix_fmt = format_.pixelFormat;
    if (v.codec != VideoCodec::kDv && v.codec != VideoCodec::kRpza) {
        c->gop_size = v.gopSize;
        c->max_b_frames = v.bFrames;
        if (v.bitRate > 0) {
            c->bit_rate = v.bitRate;
            c->rc_max_rate = v.maxRate;
            c->rc_min_rate = v.minRate;
            // FFmpeg's rate control takes a buffer only with a maximum rate.
            if (v.maxRate > 0) c->rc_buffer_size = static_cast<int>(v.bufferBits);
        } else {
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * (v.quality > 0 ? v.quality : 4);
        }
    }
    if (v.interlaced && v.codec == VideoCodec::kMpeg2) {
        c->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
        c->field_order = v.topFieldFirst ? AV_FIELD_TT : AV_FIELD_BB;
    } else if (v.codec == VideoCodec::kDv) {
        c->field_order = AV_FIELD_BB;
    }
    if (plan.container == Container::kSvcd) av_opt_set_int(c->priv_data, "scan_offset", 1, 0);
    if (v.codecTag) c->codec_tag = v.codecTag;
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    c->thread_count = 1;  // see the decoders' thread count in convert.cpp
    if (int r = avcodec_open2(c, codec, nullptr); r < 0)
        return (*error = std::string("the ") + codec->name + " encoder refuses the profile's picture settings (" +
                         std::to_string(format_.width) + "x" + std::to_string(format_.height) + "): " + AvErrorText(r)),
               false;
    videoStream_ = avformat_new_stream(oc, nullptr);
    if (!videoStream_) return (*error = "out of memory"), false;
    videoStream_->time_base = c->time_base;
    videoStream_->avg_frame_rate = c->framerate;
    avcodec_parameters_from_context(videoStream_->codecpar, c);
    if (v.codecTag) videoStream_->codecpar->codec_tag = v.codecTag;

    if (!OpenAudioEncoder(plan.audio, globalHeader, &audio_, &format_, error)) return false;
    if (audio_) {
        audioStream_ = avformat_new_stream(oc, nullptr);
        if (!audioStream_) return (*error = "out of memory"), false;
        audioStream_->time_base = audio_->time_base;
        avcodec_parameters_from_context(audioStream_->codecpar, audio_.get());
    }

    AVDictionary* options = nullptr;
    if (plan.muxRate > 0) av_dict_set_int(&options, "muxrate", plan.muxRate, 0);
    if (plan.preloadUs > 0) av_dict_set_int(&options, "preload", plan.preloadUs, 0);
    if (plan.packetSize > 0) oc->packet_size = static_cast<unsigned>(plan.packetSize);
    oc->max_delay = 700000;  // microseconds a packet may wait in the multiplexer

    if (plan.container == Container::kDvAvi) {
        dv_ = std::make_unique<DvFrameCollector>();
        if (!dv_->Open(ansiPath, format_.height == 576, plan.dvFileType))
            return (*error = "cannot create " + ansiPath), av_dict_free(&options), false;
        constexpr int kIoBytes = 1 << 16;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBytes));
        dvIo_ = buffer ? avio_alloc_context(buffer, kIoBytes, 1, dv_.get(), nullptr, &DvFrameCollector::Write, nullptr)
                       : nullptr;
        if (!dvIo_) {
            av_free(buffer);
            av_dict_free(&options);
            return (*error = "out of memory"), false;
        }
        oc->pb = dvIo_;
        oc->flags |= AVFMT_FLAG_CUSTOM_IO;
    } else if (!(oc->oformat->flags & AVFMT_NOFILE)) {
        if (int r = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE); r < 0) {
            av_dict_free(&options);
            return (*error = "cannot create " + ansiPath + ": " + AvErrorText(r)), false;
        }
    }
    const int r = avformat_write_header(oc, &options);
    av_dict_free(&options);
    if (r < 0) return (*error = "the multiplexer refuses the streams: " + AvErrorText(r)), false;
    return true;
}

}  // namespace

std::unique_ptr<OutputSink> MakeLavSink() {
    return std::make_unique<LavSink>();
}

}  // namespace fileengine
