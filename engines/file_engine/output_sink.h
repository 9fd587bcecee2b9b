// Where a conversion's pictures and audio go: the encoders and the multiplexer of one
// output, with the picture and sample formats they take.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "engines/file_engine/output_plan.h"

namespace fileengine {

// What the first clip offers where the plan leaves a value to the source.
struct SourceShape {
    int width = 0, height = 0;
    int rateNum = 25, rateDen = 1;
};

struct SinkFormat {
    int width = 0, height = 0;
    int rateNum = 25, rateDen = 1;
    AVPixelFormat pixelFormat = AV_PIX_FMT_YUV420P;
    bool audio = false;
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_S16;
    int sampleRate = 48000;
    int channels = 2;
    int frameSamples = 1152;  // samples per audio frame handed to PutAudio
    bool fixedFrame = true;   // every frame must hold exactly frameSamples (the last one padded)
};

class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Creates the output file `path` (UTF-8 for FFmpeg; `ansiPath` the same name in the
    // ANSI code page) and its encoders; fills Format().
    virtual bool Open(const OutputPlan& plan, const SourceShape& source, const std::string& path,
                      const std::string& ansiPath, std::string* error) = 0;
    const SinkFormat& Format() const { return format_; }
    // One picture in Format()'s size and pixel format; pts counts pictures from 0.
    virtual bool PutVideo(AVFrame* picture, std::string* error) = 0;
    // One frame of audio in Format()'s sample format; pts counts samples from 0.
    virtual bool PutAudio(AVFrame* samples, std::string* error) = 0;
    // Drains the encoders and completes the file. A sink destroyed without it leaves an
    // incomplete file, which the caller removes.
    virtual bool Finish(std::string* error) = 0;

protected:
    SinkFormat format_;
};

// The FFmpeg encoders and multiplexers (every container but our H.264 program stream).
std::unique_ptr<OutputSink> MakeLavSink();
// Our H.264 encoder core and program-stream multiplexer, with FFmpeg's audio encoders.
std::unique_ptr<OutputSink> MakeH264Sink();

// An opened audio encoder of the plan, shared by both sinks.
struct AudioEncoderDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using AudioEncoderPtr = std::unique_ptr<AVCodecContext, AudioEncoderDeleter>;
// Opens the encoder of `audio` and fills the audio fields of `format`. `globalHeader`
// for containers that keep codec headers out of band.
bool OpenAudioEncoder(const AudioPlan& audio, bool globalHeader, AudioEncoderPtr* encoder, SinkFormat* format,
                      std::string* error);

// The output size and rate: the plan's, or the source's where the plan leaves them.
void ResolveShape(const VideoPlan& video, const SourceShape& source, SinkFormat* format);

std::string AvErrorText(int code);

}  // namespace fileengine
