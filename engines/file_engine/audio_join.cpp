#include "engines/file_engine/audio_join.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

#include "engines/file_engine/output_sink.h"
#include "tools/mux_driver.h"

namespace fileengine {
namespace {

struct InputCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;
struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

InputPtr OpenInput(const std::string& path, std::string* error) {
    AVFormatContext* f = nullptr;
    if (int r = avformat_open_input(&f, path.c_str(), nullptr, nullptr); r < 0) {
        *error = "cannot open " + path + ": " + AvErrorText(r);
        return nullptr;
    }
    InputPtr p(f);
    if (avformat_find_stream_info(f, nullptr) < 0) {
        *error = "cannot read " + path;
        return nullptr;
    }
    return p;
}

// Copies the H.264 stream's access units (Annex B byte stream in program and transport
// streams) into `out`; the frame duration in 100-ns units comes back.
bool ExtractH264(const std::string& path, FILE* out, int64_t* frameDuration, std::string* error) {
    InputPtr in = OpenInput(path, error);
    if (!in) return false;
    const int index = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0 || in->streams[index]->codecpar->codec_id != AV_CODEC_ID_H264)
        return (*error = path + " holds no H.264 video"), false;
    const AVRational rate = av_guess_frame_rate(in.get(), in->streams[index], nullptr);
    *frameDuration = rate.num > 0 ? av_rescale(10000000, rate.den, rate.num) : 400000;
    AVPacket* packet = av_packet_alloc();
    if (!packet) return (*error = "out of memory"), false;
    bool ok = true;
    while (ok && av_read_frame(in.get(), packet) >= 0) {
        if (packet->stream_index == index)
            ok = std::fwrite(packet->data, 1, size_t(packet->size), out) == size_t(packet->size);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    if (!ok) *error = "cannot write the video stream";
    return ok;
}

// Decodes the best audio stream of `path`, converts and encodes it into `out` as frames
// of the codec.
bool EncodeAudioOf(const std::string& path, const AudioPlan& plan, FILE* out, const std::atomic<bool>& cancel,
                   std::string* error) {
    InputPtr in = OpenInput(path, error);
    if (!in) return false;
    const int index = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) return (*error = path + " holds no audio"), false;
    const AVStream* s = in->streams[index];
    const AVCodec* codec = avcodec_find_decoder(s->codecpar->codec_id);
    AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    std::unique_ptr<AVCodecContext, AudioEncoderDeleter> decoderHolder(decoder);
    if (!decoder || avcodec_parameters_to_context(decoder, s->codecpar) < 0 ||
        avcodec_open2(decoder, codec, nullptr) < 0)
        return (*error = "cannot decode the audio of " + path), false;
    AudioEncoderPtr encoder;
    SinkFormat format;
    if (!OpenAudioEncoder(plan, false, &encoder, &format, error)) return false;
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, format.channels);
    SwrContext* swr = nullptr;
    AVAudioFifo* fifo = av_audio_fifo_alloc(format.sampleFormat, format.channels, format.frameSamples);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    AVFrame* chunk = av_frame_alloc();
    bool ok = fifo && packet && frame && chunk;
    const auto writeEncoded = [&]() {
        while (ok && avcodec_receive_packet(encoder.get(), packet) == 0) {
            ok = std::fwrite(packet->data, 1, size_t(packet->size), out) == size_t(packet->size);
            av_packet_unref(packet);
        }
    };
    const auto encodeChunks = [&](bool last) {
        while (ok) {
            const int n = std::min(av_audio_fifo_size(fifo), format.frameSamples);
            if (n <= 0 || (n < format.frameSamples && !last)) return;
            av_frame_unref(chunk);
            chunk->format = format.sampleFormat;
            av_channel_layout_default(&chunk->ch_layout, format.channels);
            chunk->sample_rate = format.sampleRate;
            chunk->nb_samples = format.frameSamples;
            ok = av_frame_get_buffer(chunk, 0) >= 0;
            if (!ok) return;
            av_samples_set_silence(chunk->extended_data, 0, chunk->nb_samples, format.channels, format.sampleFormat);
            av_audio_fifo_read(fifo, reinterpret_cast<void**>(chunk->extended_data), n);
            ok = avcodec_send_frame(encoder.get(), chunk) >= 0;
            writeEncoded();
        }
    };
    const auto take = [&]() {
        while (ok && avcodec_receive_frame(decoder, frame) == 0) {
            if (!swr) {
                ok = swr_alloc_set_opts2(&swr, &layout, format.sampleFormat, format.sampleRate, &frame->ch_layout,
                                         static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                         nullptr) >= 0 &&
                     swr_init(swr) >= 0;
                if (!ok) break;
            }
            const int room = swr_get_out_samples(swr, frame->nb_samples);
            uint8_t** planes = nullptr;
            ok = room >= 0 && av_samples_alloc_array_and_samples(&planes, nullptr, format.channels, room,
                                                                 format.sampleFormat, 0) >= 0;
            if (!ok) break;
            const int got =
                swr_convert(swr, planes, room, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
            if (got > 0) av_audio_fifo_write(fifo, reinterpret_cast<void**>(planes), got);
            av_freep(&planes[0]);
            av_freep(&planes);
            av_frame_unref(frame);
            encodeChunks(false);
        }
    };
    while (ok && !cancel.load() && av_read_frame(in.get(), packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(decoder, packet) >= 0) {
            av_packet_unref(packet);
            take();
        } else {
            av_packet_unref(packet);
        }
    }
    if (cancel.load()) ok = false, *error = "cancelled";
    if (ok) {
        avcodec_send_packet(decoder, nullptr);
        take();
        encodeChunks(true);
        avcodec_send_frame(encoder.get(), nullptr);
        writeEncoded();
    }
    swr_free(&swr);
    av_audio_fifo_free(fifo);
    av_packet_free(&packet);
    av_frame_free(&frame);
    av_frame_free(&chunk);
    if (!ok && error->empty()) *error = "cannot encode the audio";
    return ok;
}

}  // namespace

bool JoinAudioToH264(const std::string& stream, const std::string& audioSource, const AudioPlan& audio,
                     const std::atomic<bool>& cancel, std::string* error) {
    const std::string videoPath = stream + ".join.264";
    const std::string audioPath = stream + (audio.codec == AudioCodec::kAc3 ? ".join.ac3" : ".join.mp2");
    const std::string joined = stream + ".join.ts";
    int64_t frameDuration = 0;
    bool ok = false;
    {
        FilePtr video(std::fopen(videoPath.c_str(), "wb")), sound(std::fopen(audioPath.c_str(), "wb"));
        ok = video && sound && ExtractH264(stream, video.get(), &frameDuration, error) &&
             EncodeAudioOf(audioSource, audio, sound.get(), cancel, error);
        if (ok && (std::fflush(video.get()) != 0 || std::fflush(sound.get()) != 0))
            ok = false, *error = "cannot write the elementary streams";
    }
    if (ok) {
        muxdriver::Options options;
        options.format = "ts";
        options.output = joined;
        options.inputs = {videoPath, audioPath};
        options.frameDuration = frameDuration;
        const muxdriver::Result r = muxdriver::Run(options);
        ok = r.ok;
        if (!ok) *error = "the multiplexer failed: " + r.error;
    }
    if (ok && !MoveFileExA(joined.c_str(), stream.c_str(), MOVEFILE_REPLACE_EXISTING))
        ok = false, *error = "cannot replace " + stream;
    DeleteFileA(videoPath.c_str());
    DeleteFileA(audioPath.c_str());
    DeleteFileA(joined.c_str());
    return ok;
}

}  // namespace fileengine
