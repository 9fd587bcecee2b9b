// DirectShow look-ups the application runs before it relies on outside codecs: whether the
// suite's H.264 encoder filter is registered and creatable, and the first installed video
// or audio compressor of a family, found by the start of its friendly name.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <mmreg.h>

// The suite's H.264 encoder filter.
inline constexpr CLSID CLSID_KestruneAvcEncoder = {
    0xB7344945, 0xA3A2, 0x445E, {0xAD, 0x41, 0x46, 0x47, 0xA1, 0xC7, 0x88, 0xF2}};

// S_OK when the class is registered and an IBaseFilter of it can be created (the object is
// released at once), else E_FAIL.
HRESULT CheckFilterCreatable(const CLSID& clsid);
inline HRESULT CheckEncoderFilterInstalled() {
    return CheckFilterCreatable(CLSID_KestruneAvcEncoder);
}

inline constexpr size_t kVideoCompressorNameBytes = 80;
inline constexpr size_t kAudioCompressorNameBytes = 260;

// The first Video for Windows codec (behind the VfW compressor wrapper) whose ANSI friendly
// name begins with "DivX", case significant: S_OK and its name in `name` (which holds
// kVideoCompressorNameBytes); E_FAIL when none. A name that does not fit is cut at a
// character boundary. When the device enumerators cannot be created the error's text is
// shown in a message box.
HRESULT FindVideoCompressor(char* name);

// The first audio compression manager codec whose name begins with "MPEG Layer-3": its
// name into `name` (kAudioCompressorNameBytes), then the result of
// MatchCompressorWaveFormat on it. E_FAIL, silently, when none.
HRESULT FindAudioCompressor(char* name, WAVEFORMATEX** format);

// On input *format is the wanted format. Finds the compressor's first output capability
// whose channels, rate, byte rate, alignment and bits (bytes 2-15) equal the wanted ones and
// on S_OK sets *format to a new CoTaskMemAlloc'd copy of the codec's whole format (the
// caller frees it with CoTaskMemFree); the block it replaced is not freed. E_FAIL when
// `filter` is null, has no stream configuration, or nothing matches.
HRESULT MatchCompressorWaveFormat(IUnknown* filter, WAVEFORMATEX** format);

// The friendly-name prefix match of the searches (byte compare, case significant).
bool CompressorNameMatches(const char* name, const char* prefix);
