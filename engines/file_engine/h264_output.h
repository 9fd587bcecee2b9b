// The H.264 output: our encoder core codes the pictures, FFmpeg's MPEG audio or AC-3 encoder
// the audio, and our multiplexer core joins both into an MPEG-2 program stream.
#pragma once

#include "engines/file_engine/output_sink.h"
