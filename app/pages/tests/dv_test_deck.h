// The simulated deck of the DV page's window tests: its tape and its settings.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "engines/dv_camcorder/camcorder_ids.h"

namespace dvtest {

// 40 s of PAL tape from 00:01:00:00 with sound: pictures that move, so that a still preview
// shows.
inline const char* kTape =
    "ffmpeg -f lavfi -i testsrc=s=720x576:r=25:d=40 -f lavfi -i sine=sample_rate=48000:duration=40 "
    "-pix_fmt yuv420p -c:v dvvideo -c:a pcm_s16le -ac 2 -timecode 00:01:00:00 -f dv {out}";

inline constexpr int kPalFrameBytes = 144000;

inline void SetDeck(const std::string& tape, DWORD connected) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, engines::kCamcorderSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Tape", 0, REG_SZ, reinterpret_cast<const BYTE*>(tape.c_str()), DWORD(tape.size() + 1));
    const DWORD zero = 0;
    RegSetValueExW(key, L"Connected", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&connected), sizeof connected);
    RegSetValueExW(key, L"Stuck", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
    RegSetValueExW(key, L"Camera", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
    RegCloseKey(key);
}

}  // namespace dvtest
