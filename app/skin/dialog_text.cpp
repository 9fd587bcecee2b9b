#include "app/skin/dialog_text.h"

#include <cctype>
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

namespace {

bool ListHolds(const std::string& list, const std::string& extension) {
    if (extension.size() < 2 || extension[0] != '.') return false;
    for (size_t at = list.find(extension); at != std::string::npos; at = list.find(extension, at + 1)) {
        const size_t end = at + extension.size();
        if (end == list.size() || list[end] == '.') return true;
    }
    return false;
}

}  // namespace

int ReplacementFilterIndex(const std::string& extension, const std::string& mpegList, const std::string& aviList) {
    std::string lower = extension;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ListHolds(mpegList, lower)) return 1;
    if (ListHolds(aviList, lower)) return 2;
    return 4;
}
