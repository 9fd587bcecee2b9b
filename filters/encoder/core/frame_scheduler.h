// The frame scheduler: takes pictures in display order, decides each picture's type (IDR,
// I, P or B), and hands them out in coding order. B pictures wait until the I or P picture
// after them in display order has been pushed; that anchor is coded first.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "filters/encoder/core/encoder_block.h"
#include "filters/encoder/core/picture_buffer.h"
#include "filters/encoder/core/picture_encoder.h"

namespace ombrisk {

// A scene-change detector sees every picture in display order (Analyse) and then judges
// the newest against the one before (Verdict): 0 no change, 1 a large change, 2 a cut.
class CSceneDetector {
public:
    virtual ~CSceneDetector() = default;
    virtual void Analyse(const PlanarPicture& picture) = 0;
    virtual int Verdict() = 0;
};

// Compares coarse luma histograms (every 8th sample of every 8th line) of consecutive
// pictures. Verdict 1: the pictures differ by more than the absolute threshold; 2: they
// also differ far more than the running averages of the change (a cut, not a fade).
class CSceneCutDetector : public CSceneDetector {
public:
    // width, height: the coded luma size, which sets the absolute threshold.
    CSceneCutDetector(int width, int height);
    void Analyse(const PlanarPicture& picture) override;
    int Verdict() override;

private:
    uint32_t histogram_[2][256] = {};
    int fill_ = 0;
    int64_t absolute_;
    int64_t meanDifference_;
    int64_t meanRelative_ = 400;
};

// Compares 1/8 x 1/8 subsampled luma planes (every 8th sample of every 8th line) of
// consecutive pictures by their sum of absolute differences S over M samples: a cut
// (verdict 2) when S > 60 M, or when S exceeds the previous picture's S by more than
// 17 M (the previous S is forgotten after a cut); otherwise 0.
class CDifferenceSceneDetector : public CSceneDetector {
public:
    CDifferenceSceneDetector(int width, int height);
    void Analyse(const PlanarPicture& picture) override;
    int Verdict() override;

private:
    int columns_, rows_;
    std::vector<uint8_t> planes_[2];
    int current_ = 0;
    int pictures_ = 0;
    int64_t previousSum_ = -1;  // -1: none
};

// A picture waiting in the scheduler: its samples (I420 at the source size) and what the
// scheduler decided about it.
struct ScheduledPicture {
    std::vector<uint8_t> samples;
    PictureOrder order;        // type, IDR, reference, display number since the IDR picture
    int64_t display = 0;       // pushes since the scheduler was created
    int64_t codingNumber = 0;  // position in coding order
    int32_t verdict = 0;       // the scene detector's verdict (0 for IDR pictures)
    int32_t picStruct = 0;
    std::vector<uint8_t> sideData;
    bool retired = true;
    PlanarPicture View(int width, int height) const;
};

class CFrameScheduler {
public:
    // Reads kParGopLength (0 or less: only the first picture is an I picture), kParBFrames,
    // kParRefFrames, kParSceneDetect (0 none, 1 subsampled differences, 2 and 3
    // histograms) and kFlagFrameStamps of kParFlags (frame stamps drawn into each picture
    // once its coding number is known) of the block.
    explicit CFrameScheduler(const EncoderBlock& block);

    // Copies the picture (source size, 4:2:0) and decides its type. kCoreBadArgument when
    // the picture or its side data is missing or too large, kCoreNoSpace when every
    // buffer still holds a picture that has not been coded (NextInCodingOrder and Retire
    // were not called); nothing changes then.
    int DecideFrameType(const PlanarPicture& source, int32_t picStruct, const uint8_t* sideData, int32_t sideBytes);
    // The next picture in coding order, or nullptr when the pictures pushed so far allow
    // none (B pictures waiting for their anchor). The picture stays valid until Retire.
    ScheduledPicture* NextInCodingOrder();
    void Retire(ScheduledPicture* picture);
    // The last pending B picture becomes a P picture (the others are coded after it, as
    // B pictures leaning on it); the next pushed picture starts a new IDR period.
    void EndOfStream();

    static constexpr int32_t kMaxSideDataBytes = 4096;

private:
    ScheduledPicture* FreeBuffer();
    // Gives the picture the next coding number and queues it for coding.
    void Queue(ScheduledPicture* picture);

    const EncoderBlock& block_;
    int gop_, bFrames_, references_;
    std::vector<ScheduledPicture> buffers_;
    std::vector<ScheduledPicture*> pendingB_;  // display order
    std::deque<ScheduledPicture*> ready_;      // coding order
    std::unique_ptr<CSceneDetector> detector_;
    bool stamps_ = false;
    bool restart_ = true;
    int64_t display_ = 0;
    int64_t idrDisplay_ = 0;
    int64_t sinceI_ = 0x0FFFFFFF;
    int64_t nextCoding_ = 0;
};

}  // namespace ombrisk
