// The decoder filter's settings record and its registry copy under HKEY_CURRENT_USER.
#pragma once

#include <windows.h>

#include <cstdint>

namespace pelldrin {

enum AVC_DECODING_LEVEL : int32_t { kObeyQuality = 0, kDecodeAll = 1, kDecodeReferenceOnly = 2 };
enum AVC_ERROR_RESILIENCE_MODE : int32_t {
    kDecodeAnyway = 0,
    kSkipTillISlice = 1,
    kSkipBogusReference = 2,
    kSkipTillIdr = 3
};

struct EConfig {
    bool enableVideoInfo = true;
    AVC_DECODING_LEVEL decodingLevel = kObeyQuality;
    AVC_ERROR_RESILIENCE_MODE errorResilienceMode = kSkipTillISlice;
    uint32_t deinterlaceMode = 0;  // non-zero: "Vertical filter"
    bool invertFieldOrder = false;
    bool upsampleHq = false;
    bool operator==(const EConfig&) const = default;
};

inline constexpr char kDecoderRegistryKey[] = "Software\\Kestrune Tollary\\Kestrune H.264 Video Decoder";

// Writes the six named REG_DWORD values (bools as 0 or 1). The first failure is answered;
// the values written before it stay.
HRESULT SaveDecoderSettings(const EConfig& settings);
// Reads the values that exist; a value that is not a 4-byte REG_DWORD, or out of its
// range, leaves the setting as it was. S_FALSE when the key does not exist.
HRESULT LoadDecoderSettings(EConfig* settings);

}  // namespace pelldrin
