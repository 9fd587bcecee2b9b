// The encoder filter's settings record: the kParamWords parameter words (the encoder block's
// words, copied as a block) and three words of the filter's own frame-rate choices. Platform-free:
// the default routine, the validation that clamps a record in place, and the rules that
// settle the words the core gets from the record and the rates the filter runs at.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filters/encoder/core/encoder_block.h"

namespace ombrisk {

// Words of the record after the kParamWords parameter words.
constexpr int kWordFixedRateOn = 33;   // fixed frame rate in force, one byte
constexpr int kWordInputRate100 = 34;  // input frame rate x 100, from the input type
constexpr int kWordFixedRate100 = 35;  // fixed frame rate x 100
constexpr int kSettingsWords = 36;

// Bounds of a frame rate x 100 word (kParFrameRate100's range).
constexpr int32_t kMinRate100 = 1;
constexpr int32_t kMaxRate100 = 17200;
// Largest bit rate a word may hold, bit/s.
constexpr int32_t kMaxBitRate = 288000000;

struct EncoderSettings {
    int32_t params[kParamWords] = {};
    bool fixedRateOn = false;
    uint8_t unused[3] = {};
    int32_t inputRate100 = 0;
    int32_t fixedRate100 = 2500;

    int32_t& operator[](int k) { return params[k]; }
    int32_t operator[](int k) const { return params[k]; }
    bool operator==(const EncoderSettings&) const = default;
};
static_assert(sizeof(EncoderSettings) == kSettingsWords * 4);
static_assert(kWordFixedRateOn == kParamWords);
static_assert(offsetof(EncoderSettings, fixedRateOn) == kWordFixedRateOn * 4);
static_assert(offsetof(EncoderSettings, inputRate100) == kWordInputRate100 * 4);
static_assert(offsetof(EncoderSettings, fixedRate100) == kWordFixedRate100 * 4);

// The parameter words to their defaults but kParSarWidth and kParSarHeight, which keep what
// they hold; kWordFixedRateOn false, kWordFixedRate100 25.00 frames/s; kWordInputRate100
// kept.
void DefaultSettings(EncoderSettings* settings);

// Clamps the parameter words into their ranges in place (profile, level, GOP shape,
// bit rates, flags, slice count, frame rate) and kWordFixedRate100 into kMinRate100..kMaxRate100.
void ValidateSettings(EncoderSettings* settings);
// Validates the 33 parameter words alone (the whole-record exchange of the filter).
void ValidateParameterWords(int32_t (&words)[kParamWords]);

// The words whose change alters the sequence or the picture structure (profile, level,
// GOP shape, scene detection, entropy coder, rate-control mode, quality, flags, frame
// rate, macroblock coder and motion search words); a running encoder refuses a record
// that differs from the one it started with in any of them.
bool StructuralWordsDiffer(const EncoderSettings& running, const EncoderSettings& record);

// 10^9 / duration (frames per second x 100), 0 for a duration that is not positive;
// and back: the duration of a rate x 100 (10^9 / rate), 0 for a rate that is not positive.
int32_t RateFromDuration(int64_t duration);
int64_t DurationFromRate(int32_t rate100);

// The frame rates a streaming run uses. The stored record is never changed by them: the
// effective target rate lives here and goes to the core in place of kParFrameRate100.
struct StreamRates {
    int64_t source = 400000;  // duration of one input picture, 100 ns
    int64_t target = 400000;  // duration of one coded picture, 100 ns
    int32_t targetRate100 = 2500;
};

// The rates at the start of streaming: a fixed frame rate sets both the source
// duration and the target rate; otherwise a target at or above the input rate codes
// every picture at the input rate, a lower one thins the input to it. The target is
// never shorter than the source. `inputRate100` 0 (unknown) keeps the source duration.
StreamRates StartRates(const EncoderSettings& settings, int64_t sourceDuration, int32_t inputRate100);
// The first sample's measured duration `measured` replaces the source duration when it
// differs by more than 100 units; false when nothing changed.
bool DetectedRates(const EncoderSettings& settings, int64_t measured, StreamRates* rates);

// The parameter words the core gets: the record's kParamWords words with the effective
// target rate in kParFrameRate100.
void CoreParameterWords(const EncoderSettings& settings, int32_t targetRate100, int32_t (&out)[kParamWords]);

// Field flags of a video sample (the type-specific flags of DirectShow's IMediaSample2).
enum SampleFieldFlag : uint32_t {
    kFieldMask = 3,       // 0 both fields interleaved, 1 field 1 only, 2 field 2 only
    kField1First = 4,     // field 1 (the top field) is shown first
    kRepeatField = 0x40,  // a field is repeated (pull-down)
};

// pic_struct (ITU-T H.264 Table D-1) of a coded frame picture from the sample's duration
// (when its times are valid and no fixed frame rate is in force), the source frame
// duration, and its field flags when the input is interlaced: 5/6 for 1.5 frame periods
// (3:2 pull-down, by field order), 7 for two (frame doubling), 8 for three (tripling);
// an interleaved interlaced frame 3 (top field first) or 4 (bottom first). Single-field
// samples are coded as frames, which pic_struct 1 and 2 cannot describe: 0.
int ComputePicStruct(bool timeValid, bool fixedRate, int64_t duration, int64_t source, bool interlaced,
                     uint32_t fieldFlags);

}  // namespace ombrisk
