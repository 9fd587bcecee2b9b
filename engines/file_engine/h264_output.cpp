#include "engines/file_engine/h264_output.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "engines/file_engine/h264_settings.h"
#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/ombriskoder.h"
#include "filters/encoder/core/rate_control.h"
#include "tools/mux_driver.h"

namespace fileengine {
namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

class H264Sink final : public OutputSink {
public:
    ~H264Sink() override {
        coder_.reset();
        video_.reset();
        audio_.reset();
        // The elementary streams are scratch files whatever the outcome.
        DeleteFileA(videoPath_.c_str());
        DeleteFileA(audioPath_.c_str());
        av_packet_free(&packet_);
    }

    bool Open(const OutputPlan& plan, const SourceShape& source, const std::string&, const std::string& ansiPath,
              std::string* error) override {
        using namespace ombrisk;
        packet_ = av_packet_alloc();
        if (!packet_) return (*error = "out of memory"), false;
        const VideoPlan& v = plan.video;
        ResolveShape(v, source, &format_);
        format_.pixelFormat = AV_PIX_FMT_YUV420P;
        output_ = ansiPath;
        videoPath_ = ansiPath + ".264";
        int32_t params[kParamWords];
        H264ParameterWords(v, format_.rateNum, format_.rateDen, params);
        // Every GOP is closed, beginning with an IDR picture (PutVideo ends each one): a
        // program stream is cut and joined at GOPs, and B pictures must not lean across.
        // The GOP ends on an anchor picture, so that no B picture waits for the next GOP
        // (the multiplexer times pictures by a steady reordering delay).
        params[kParGopLength] = 0;
        gopSize_ = v.gopSize > 1 ? v.gopSize - (v.gopSize - 1) % (v.bFrames + 1) : v.gopSize;
        if (int r = StoreParameterRecord(&block_, params, 1); r != kCoreOk)
            return (*error = "the H.264 encoder refuses the profile's settings (" + std::to_string(r) + ")"), false;
        if (int r = StorePictureRecord(&block_, format_.width, format_.height, format_.width, format_.height, 1);
            r != kCoreOk)
            return (*error = "the H.264 encoder refuses the picture size"), false;
        coder_ = std::make_unique<COmbriskoder>(&block_, 0);
        if (!coder_->valid()) return (*error = "the H.264 encoder cannot start"), false;
        video_.reset(std::fopen(videoPath_.c_str(), "wb"));
        if (!video_) return (*error = "cannot create " + videoPath_), false;
        const size_t luma = size_t(format_.width) * format_.height;
        picture_.resize(luma + luma / 2);

        if (!OpenAudioEncoder(plan.audio, false, &encoder_, &format_, error)) return false;
        if (encoder_) {
            audioPath_ = ansiPath + (plan.audio.codec == AudioCodec::kAc3 ? ".ac3" : ".mp2");
            audio_.reset(std::fopen(audioPath_.c_str(), "wb"));
            if (!audio_) return (*error = "cannot create " + audioPath_), false;
        }
        return true;
    }

    bool PutVideo(AVFrame* p, std::string* error) override {
        const int w = format_.width, h = format_.height;
        uint8_t* d = picture_.data();
        // The core's layout: luma, then Cr, then Cb, each plane packed.
        const int planes[3] = {0, 2, 1};
        for (int i = 0; i < 3; ++i) {
            const int plane = planes[i];
            const int pw = plane ? w / 2 : w, ph = plane ? h / 2 : h;
            for (int y = 0; y < ph; ++y, d += pw)
                std::memcpy(d, p->data[plane] + size_t(y) * p->linesize[plane], size_t(pw));
        }
        if (gopSize_ > 0 && pushed_ > 0 && pushed_ % gopSize_ == 0) {
            if (coder_->Flush() != ombrisk::kS_OK || !Drain(error)) return (*error = "the H.264 encoder failed"), false;
        }
        ++pushed_;
        ombrisk::InputPicture input;
        input.base = picture_.data();
        if (coder_->PushFrame(input) != ombrisk::kS_OK) return (*error = "the H.264 encoder refused a picture"), false;
        return Drain(error);
    }

    bool PutAudio(AVFrame* samples, std::string* error) override { return EncodeAudio(samples, error); }

    bool Finish(std::string* error) override {
        if (coder_->Flush() != ombrisk::kS_OK || !Drain(error)) return (*error = "the H.264 encoder failed"), false;
        if (encoder_ && !EncodeAudio(nullptr, error)) return false;
        if (std::fflush(video_.get()) != 0 || (audio_ && std::fflush(audio_.get()) != 0))
            return (*error = "cannot write the elementary streams"), false;
        video_.reset();
        audio_.reset();
        muxdriver::Options options;
        options.format = "ts";  // the program-stream writer carries no stream map for H.264
        options.output = output_;
        options.inputs.push_back(videoPath_);
        if (encoder_) options.inputs.push_back(audioPath_);
        options.frameDuration = int64_t(10000000) * format_.rateDen / format_.rateNum;
        const muxdriver::Result r = muxdriver::Run(options);
        if (!r.ok) return (*error = "the multiplexer failed: " + r.error), false;
        return true;
    }

private:
    bool Drain(std::string* error) {
        for (;;) {
            const int32_t r = coder_->encodeFrame(nullptr);
            if (r == ombrisk::kS_FALSE) return true;
            if (r != ombrisk::kS_OK) return (*error = "the H.264 encoder failed"), false;
            const uint8_t* data = nullptr;
            size_t length = 0;
            bool first = false;
            while (coder_->GetCodedChunk(&data, &length, &first))
                if (std::fwrite(data, 1, length, video_.get()) != length)
                    return (*error = "cannot write " + videoPath_), false;
        }
    }

    bool EncodeAudio(AVFrame* samples, std::string* error) {
        if (int r = avcodec_send_frame(encoder_.get(), samples); r < 0 && r != AVERROR_EOF)
            return (*error = "the audio encoder failed: " + AvErrorText(r)), false;
        for (;;) {
            const int r = avcodec_receive_packet(encoder_.get(), packet_);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
            if (r < 0) return (*error = "the audio encoder failed"), false;
            const bool written =
                std::fwrite(packet_->data, 1, size_t(packet_->size), audio_.get()) == size_t(packet_->size);
            av_packet_unref(packet_);
            if (!written) return (*error = "cannot write " + audioPath_), false;
        }
    }

    ombrisk::EncoderBlock block_;
    std::unique_ptr<ombrisk::COmbriskoder> coder_;
    std::vector<uint8_t> picture_;
    int gopSize_ = 0;
    int64_t pushed_ = 0;  // pictures handed to the encoder
    AudioEncoderPtr encoder_;
    AVPacket* packet_ = nullptr;
    FilePtr video_, audio_;
    std::string output_, videoPath_, audioPath_;
};

}  // namespace

std::unique_ptr<OutputSink> MakeH264Sink() {
    return std::make_unique<H264Sink>();
}

}  // namespace fileengine
