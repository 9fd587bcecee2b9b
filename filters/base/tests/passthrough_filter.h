// The pass-through transform of the base-class tests: uncompressed video in, the same
// type and bytes out. Served by the test library passthrough.dll.
#pragma once

#include <windows.h>

// {6E1B3C52-8F0A-4D3B-9C61-2A7F5D0E4B19}
inline constexpr CLSID kClsidPassThrough = {
    0x6e1b3c52, 0x8f0a, 0x4d3b, {0x9c, 0x61, 0x2a, 0x7f, 0x5d, 0x0e, 0x4b, 0x19}};
inline constexpr wchar_t kPassThroughName[] = L"Test Pass-Through Transform";
