// Text work of the common dialogs that needs no window: the explorer's quoted multi-selection
// list, the folder browser's status shortening and the progress dialog's percentage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The names of a selection text of at most `size` bytes (it ends at the first zero byte or at
// `size`): `"a" "b" "c"` gives a, b and c; text without a leading quote is one name. Empty
// names are dropped; an unclosed last quote still ends the last name. Any number of names.
std::vector<std::string> ParseQuotedSelection(const char* text, size_t size);

// More than 35 characters become the first 35 followed by "...".
std::string ShortenStatusText(const std::string& text);

// trunc((position − lower) × 100 ÷ (upper − lower) + 0.5), computed without overflow; 0 when
// upper ≤ lower.
int ProgressPercent(int64_t position, int64_t lower, int64_t upper);

// Filter index of the replacement-file dialog for a file's extension (dotted, any case): 1
// when the MPEG list holds it, 2 when the AVI list does, else 4. The lists are runs of dotted
// lower-case extensions (".mpg.mpeg"); an extension matches only whole (".mp" is not ".mpg").
int ReplacementFilterIndex(const std::string& extension, const std::string& mpegList, const std::string& aviList);
