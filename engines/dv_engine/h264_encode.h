// Encoding a recorded DV AVI file into H.264 video in an MPEG-2 transport stream, after
// the capture: the system's DV splitter and decoder, our registered encoder filter and
// our registered multiplexer filter, into a file sink of ours. The graph runs without a
// clock, as fast as the encoder goes.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace engines {

// Whether the encoder and multiplexer filters can be made: S_OK, or the failure of the
// first that cannot (REGDB_E_CLASSNOTREG when it is not registered).
HRESULT CheckH264EncodingAvailable();

// Encodes `dvAvi` into `output` (replaced). `frames` is the recording's frame count and
// `frameRate` its rate; `done` follows the frames written. Ends with E_ABORT when
// `cancel` is set, VFW_E_TIMEOUT when the graph makes no progress for `stallMs`. The
// caller's thread must have COM initialised. A `byteLimit` other than 0 bounds the
// encoded file: a stream that would outgrow it ends the encoding with
// HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), and no file is left.
HRESULT EncodeDvToH264(const std::wstring& dvAvi, const std::wstring& output, double frameRate,
                       const std::atomic<bool>& cancel, std::atomic<uint32_t>* done, DWORD stallMs, uint64_t byteLimit);

}  // namespace engines
