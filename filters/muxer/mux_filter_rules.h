// The multiplexer filter's arithmetic that needs no Windows: input pool sizes from a
// stream's bit rate, frame-rate codes from a frame duration, and the texts the settings
// page shows and reads back.
#pragma once

#include <cstdint>
#include <string>

namespace varrow {

// "Input Buffer Size(Byte)" bounds (inclusive).
inline constexpr int64_t kMinInputBuffer = 1000000;
inline constexpr int64_t kMaxInputBuffer = 45000000;

struct PoolSize {
    int32_t bufferSize = 0;  // bytes of one pooled buffer (D)
    int32_t byteLimit = 0;   // bytes the stream may hold at once (E)
};

// Pool of a stream of "Stream Type" `type` at `bitrate` bits per second. With an upstream
// allocator the limit follows the bit rate (at least `inputBuffer`, raised to 4 MiB for
// video and 1 MiB for audio below those); without one it is `inputBuffer` raised to 1 MiB
// (audio) or 6 MiB. Computed in 64 bits and kept within the parameter's bounds; a type
// whose rate gives no buffer size (MPEG-4, a rate of 0) gets a third of the limit, so that
// no stream is left with empty buffers.
PoolSize ComputePoolSize(int32_t type, int64_t bitrate, int64_t inputBuffer, bool hasAllocator, bool audio);

// How a parameter's value is written in the settings page's list.
enum class ValueText { Plain, Percent, Clock, Grouped, FixedPoint, Id };
// `value` as the page shows it: "%d%%"; a signed clock "%c%02d:%02d:%02d,%03d" from
// milliseconds; digit groups " 1 000 000"; "%d.%d" of the high and low 16 bits;
// "%d (0x%x)"; or "%d".
std::string FormatValue(ValueText kind, int64_t value);

// An edited number: upper-cased, "M" multiplies by 1,048,576 and "K" by 1,024, "0X" or
// "H" reads hexadecimal, else decimal, as a 32-bit integer. False when no digit leads.
bool ParseEditedValue(const std::string& text, int32_t* value);

}  // namespace varrow
