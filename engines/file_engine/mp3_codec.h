// The engine's MPEG Layer-3 encoder (LAME through libavcodec) offered to the system as an
// audio compression manager codec: 16-bit PCM in, MPEG audio layer III out.
#pragma once

#include <windows.h>
#include <mmsystem.h>

namespace fileengine {

// True for the driver messages that belong to the codec: the open of an audio codec and
// every message to an instance it opened. The rest go to the video compressor.
bool IsAudioCodecMessage(DWORD_PTR id, UINT message, LPARAM p2);

// The codec's driver procedure.
LRESULT AudioCodecProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2);

// Installs (or removes) the codec's registration: the driver library (beside this one) under
// the Drivers32 key as "msacm.femp3" with its description, and, where the system's list of
// audio compressors does not already hold an "MPEG Layer-3" codec, an entry in that list
// naming the codec through the system's audio compression wrapper filter. Removal touches
// only entries that are ours.
HRESULT RegisterAudioCodec(bool install);

}  // namespace fileengine
