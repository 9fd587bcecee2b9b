#include "app/skin/dialog_text.h"

#include <cmath>

std::vector<std::string> ParseQuotedSelection(const char* text, size_t size) {
    std::vector<std::string> names;
    if (!text) return names;
    size_t end = 0;
    while (end < size && text[end])
        ++end;
    if (end == 0) return names;
    if (text[0] != '"') {
        names.emplace_back(text, end);
        return names;
    }
    // Names lie between pairs of quotes; whatever stands between a closing quote and the next
    // opening one (the blanks of `" "`) is skipped.
    size_t i = 0;
    while (i < end) {
        while (i < end && text[i] != '"')
            ++i;
        if (i >= end) break;
        const size_t start = ++i;
        while (i < end && text[i] != '"')
            ++i;
        if (i > start) names.emplace_back(text + start, i - start);
        if (i < end) ++i;  // past the closing quote
    }
    return names;
}

std::string ShortenStatusText(const std::string& text) {
    constexpr size_t kShown = 35;
    if (text.size() <= kShown) return text;
    return text.substr(0, kShown) + "...";
}

int ProgressPercent(int64_t position, int64_t lower, int64_t upper) {
    if (upper <= lower) return 0;
    const long double share =
        static_cast<long double>(position - lower) * 100.0L / static_cast<long double>(upper - lower);
    return static_cast<int>(std::trunc(share + 0.5L));
}
