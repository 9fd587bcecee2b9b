// The H.264 encoder's settings of a class-12 profile: the parameter words (0-32 of the
// encoder filter's settings record) that the engine's encoder core codes with, and that
// a host stores in the encoder filter through its whole-record settings interface.
// Platform-free.
#pragma once

#include <cstdint>
#include <string>

#include "app/profiles/profile_record.h"
#include "engines/file_engine/output_plan.h"
#include "filters/encoder/core/encoder_block.h"

namespace fileengine {

// The words of an H.264 plan's video coded at `rateNum`/`rateDen` frames per second: the
// defaults with the plan's GOP length, B pictures, profile and entropy coder, rate control
// and bit rates, motion search, deblocking and frame rate. The pictures' size is the
// size the host gives the encoder (the plan's).
void H264ParameterWords(const VideoPlan& video, int rateNum, int rateDen, int32_t (&words)[ombrisk::kParamWords]);

// The plan and the words of an H.264 record; false with the text the user is shown when
// the record cannot be coded (another class, values out of range).
bool H264SettingsOfRecord(const profiles::ProfileRecord& record, OutputPlan* plan,
                          int32_t (&words)[ombrisk::kParamWords], std::string* refusal);

}  // namespace fileengine
