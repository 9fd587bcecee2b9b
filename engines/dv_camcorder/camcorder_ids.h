// The simulated DV camcorder's identity and settings, for the engine's tests and for
// people who set up a demonstration deck.
#pragma once

#include <windows.h>

namespace engines {

// {6E2B7C41-58D3-4B0A-9E6F-2C1D8A4B7F30}
inline constexpr CLSID CLSID_SimulatedDvCamcorder = {
    0x6E2B7C41, 0x58D3, 0x4B0A, {0x9E, 0x6F, 0x2C, 0x1D, 0x8A, 0x4B, 0x7F, 0x30}};
// Its name in the video-input device category.
inline constexpr wchar_t kCamcorderFriendlyName[] = L"Simulated DV Camcorder";
// A second deck of the same kind, playing the same tape, for device choices.
// {6E2B7C42-58D3-4B0A-9E6F-2C1D8A4B7F30}
inline constexpr CLSID CLSID_SecondSimulatedDvCamcorder = {
    0x6E2B7C42, 0x58D3, 0x4B0A, {0x9E, 0x6F, 0x2C, 0x1D, 0x8A, 0x4B, 0x7F, 0x30}};
inline constexpr wchar_t kSecondCamcorderFriendlyName[] = L"Simulated DV Camcorder (Second deck)";
// Under HKEY_CURRENT_USER: "Tape" (REG_SZ, the raw DV file that is the tape), "Connected"
// (DWORD, 0 unplugs the deck; missing means plugged in), "Stuck" (DWORD, 1 makes the
// deck take transport commands without ever carrying them out), "Camera" (DWORD, 1 makes
// it a camcorder in camera mode) and "Speed" (DWORD, n from 2 to 16 makes the deck's clock
// run n times as fast, for tests that need the tape's frames but not its real rate; missing,
// 0 or 1 means real time).
inline constexpr wchar_t kCamcorderSettingsKey[] = L"Software\\Vistrel\\Engines\\Simulated DV camcorder";

}  // namespace engines
