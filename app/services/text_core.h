// Platform-free text helpers of the text services: the byte-size unit choice, bounded
// copies, and the fitting of a label to a width with a trailing "...". Measuring and the
// double-byte lead-byte test come from the caller, so the Windows layer (text_fonts.h)
// passes the DC's text extent and the code page's lead-byte table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace services {

// Unit of a byte count: bytes, kilobytes, megabytes, gigabytes (resource strings 125-128).
enum class ByteSizeUnit { kBytes = 0, kKilobytes = 1, kMegabytes = 2, kGigabytes = 3 };

// The unit for `bytes` (at least 2^30 GB, 2^20 MB, 1,024 KB, else bytes) and the count in
// that unit. Negative counts are bytes.
ByteSizeUnit ChooseByteSizeUnit(int64_t bytes, double* value);

// Copies `text` into `out` of `size` bytes, cut to fit and always NUL-terminated (nothing
// is written when size is 0). Returns false when the text had to be cut. A cut never splits
// a double-byte character when `isLeadByte` is given.
bool CopyTextBounded(char* out, size_t size, const std::string& text,
                     const std::function<bool(unsigned char)>& isLeadByte = nullptr);

// Fits `text` to `width`: unchanged when measure(text) <= width; otherwise the longest
// prefix, cut at whole characters (a lead byte and its trail byte are one step), for which
// measure(prefix + "...") < width, followed by "..."; "..." alone when no prefix fits.
std::string FitTextToWidth(const std::string& text, int width, const std::function<int(const std::string&)>& measure,
                           const std::function<bool(unsigned char)>& isLeadByte);

}  // namespace services
