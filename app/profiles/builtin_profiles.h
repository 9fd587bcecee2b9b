// The built-in encoding profiles, built once from constant tables into store slots.
#pragma once

#include <cstddef>

#include "app/profiles/profile_record.h"

namespace profiles {

// Slot ranges of the built-in table, in slot order.
inline constexpr size_t kFirstMpegSlot = 0, kMpegSlotCount = 51;
inline constexpr size_t kFirstH264Slot = 51, kH264SlotCount = 3;

// Number of built-in profiles the tables hold.
size_t BuiltinProfileCount();

// Fills `slots` (at least BuiltinProfileCount() entries, any prior content) with the
// built-in profiles in slot order; names and descriptions stay empty (they are string
// ids). False when `count` is too small.
bool BuildBuiltinSlots(ProfileSlot* slots, size_t count);

// The wave format every built-in AVI profile carries: MPEG layer 3, stereo, 22,050 Hz.
extern const ProfileWaveFormat kBuiltinAviWave;
// The audio format the three H.264 profiles share.
extern const ProfileAudioFormat kBuiltinH264Audio;

}  // namespace profiles
