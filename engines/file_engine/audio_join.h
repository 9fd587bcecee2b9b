// Puts sound next to pictures already coded: the H.264 video of a program or transport
// stream and the audio of another file, encoded as `audio`, joined by our multiplexer core
// into a transport stream.
#pragma once

#include <atomic>
#include <string>

#include "engines/file_engine/output_plan.h"

namespace fileengine {

// Replaces `stream` (ANSI path) with the join; on failure `stream` is left as it was.
bool JoinAudioToH264(const std::string& stream, const std::string& audioSource, const AudioPlan& audio,
                     const std::atomic<bool>& cancel, std::string* error);

}  // namespace fileengine
