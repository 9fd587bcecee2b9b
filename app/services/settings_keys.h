// Registry keys of the application's settings (under HKEY_CURRENT_USER, with
// HKEY_LOCAL_MACHINE holding the machine defaults and the installation's values).
#pragma once

constexpr const char kVistrelKey[] = "Software\\Corvane\\Vistrel\\1.0";
constexpr const char kRecordingKey[] = "Software\\Corvane\\Vistrel\\1.0\\Recording";
