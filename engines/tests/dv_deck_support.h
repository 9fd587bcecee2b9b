// Test support for the DV engine and the pages that drive it: the simulated deck's settings,
// and what the judges say of recorded clips (duration by ffprobe, the time code of every DV
// frame after ffmpeg copied the frames out).
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engines/dv/dv_frame.h"
#include "engines/dv_camcorder/camcorder_ids.h"
#include "tests/support/ffprobe.h"
#include "tests/support/shell.h"

namespace enginetest {

// How many times as fast as real time the simulated deck plays and winds, for tests that
// need the tape's frames and time codes but not its real rate. A test that judges the deck's
// pace, or races a command against the moving tape, plays it in real time (speed 1).
inline constexpr DWORD kFastDeck = 4;

// The simulated deck's settings; every call sets all of them (a deck left fast by one test
// plays in real time for the next).
inline void SetDeck(const std::string& tape, DWORD connected, DWORD stuck = 0, DWORD camera = 0, DWORD speed = 1) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, engines::kCamcorderSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Tape", 0, REG_SZ, reinterpret_cast<const BYTE*>(tape.c_str()), DWORD(tape.size() + 1));
    RegSetValueExW(key, L"Connected", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&connected), sizeof connected);
    RegSetValueExW(key, L"Stuck", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stuck), sizeof stuck);
    RegSetValueExW(key, L"Camera", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&camera), sizeof camera);
    RegSetValueExW(key, L"Speed", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&speed), sizeof speed);
    RegCloseKey(key);
}

// The time codes of every frame of a DV AVI file, read after ffmpeg copied its frames out
// as a raw DV stream.
inline std::vector<int64_t> FrameTimecodes(const std::string& avi) {
    const std::string raw = testsupport::UniqueName("frames") + ".dv";
    std::vector<int64_t> codes;
    if (testsupport::RunShell("ffmpeg -v error -i '" + testsupport::FixtureName(avi) +
                              "' -map 0:v -c copy -f rawvideo '" + raw + "'") != 0)
        return codes;
    const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(testsupport::FixturePath(raw));
    for (size_t at = 0; at + dv::kPalFrameBytes <= bytes.size(); at += dv::kPalFrameBytes) {
        const auto tc = dv::FrameTimecode(std::span<const uint8_t>(bytes).subspan(at, dv::kPalFrameBytes));
        codes.push_back(tc ? tc->ToFrames(25) : -1);
    }
    return codes;
}

// The video frames ffprobe counts by decoding the file; -1 when it cannot read it.
inline int ProbeFrames(const std::string& path) {
    std::string out;
    if (!testsupport::Ffprobe(path, "-select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0",
                              &out))
        return -1;
    const auto rows = testsupport::CsvRows(out);
    return rows.empty() || rows[0].empty() ? -1 : std::atoi(rows[0][0].c_str());
}

inline double ProbeSeconds(const std::string& path) {
    std::string out;
    if (!testsupport::Ffprobe(path, "-show_entries format=duration -of csv=p=0", &out) || out.empty()) return -1;
    return std::stod(out);
}

}  // namespace enginetest
