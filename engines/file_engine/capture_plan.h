// The conversion plan of a DV capture kind: what the capture parameter block asks of the
// encoding of a DV recording into MPEG-1/2 (the MPEG kinds) or of its sound next to the
// H.264 kind's pictures. Platform-free.
#pragma once

#include <string>

#include "engines/capture_params.h"
#include "engines/file_engine/output_plan.h"

namespace fileengine {

// MPEG kinds (1, 2, 3, 6, 7): the whole plan, at the recording's frame rate where the
// block leaves it open. False with a message for other kinds or values out of range.
bool MakeMpegCapturePlan(const engines::CaptureParams& params, OutputPlan* plan, std::string* refusal);

// The H.264 kind: the block's H.264 settings at the recording's frame rate (and size,
// where the block gives none) and its audio settings, into a transport stream.
bool MakeH264CapturePlan(const engines::CaptureParams& params, OutputPlan* plan, std::string* refusal);

}  // namespace fileengine
