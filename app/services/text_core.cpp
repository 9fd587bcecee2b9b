#include "app/services/text_core.h"

#include <cstring>

namespace services {

ByteSizeUnit ChooseByteSizeUnit(int64_t bytes, double* value) {
    constexpr int64_t kKilo = 1024, kMega = kKilo * 1024, kGiga = kMega * 1024;
    if (bytes >= kGiga) {
        *value = static_cast<double>(bytes) / static_cast<double>(kGiga);
        return ByteSizeUnit::kGigabytes;
    }
    if (bytes >= kMega) {
        *value = static_cast<double>(bytes) / static_cast<double>(kMega);
        return ByteSizeUnit::kMegabytes;
    }
    if (bytes >= kKilo) {
        *value = static_cast<double>(bytes) / static_cast<double>(kKilo);
        return ByteSizeUnit::kKilobytes;
    }
    *value = static_cast<double>(bytes);
    return ByteSizeUnit::kBytes;
}

bool CopyTextBounded(char* out, size_t size, const std::string& text,
                     const std::function<bool(unsigned char)>& isLeadByte) {
    if (out == nullptr || size == 0) return text.empty();
    size_t n = text.size();
    const bool fits = n < size;
    if (!fits) {
        // Walk whole characters so the cut never splits a double-byte pair.
        size_t i = 0;
        while (i < text.size()) {
            const size_t step =
                (isLeadByte && isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
            if (i + step > size - 1) break;
            i += step;
        }
        n = i;
    }
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return fits;
}

std::string FitTextToWidth(const std::string& text, int width, const std::function<int(const std::string&)>& measure,
                           const std::function<bool(unsigned char)>& isLeadByte) {
    if (measure(text) <= width) return text;
    size_t fit = 0;
    size_t next = 0;
    while (next < text.size()) {
        const size_t step =
            (isLeadByte && isLeadByte(static_cast<unsigned char>(text[next])) && next + 1 < text.size()) ? 2 : 1;
        next += step;
        if (measure(text.substr(0, next) + "...") >= width) break;
        fit = next;
    }
    return text.substr(0, fit) + "...";
}

}  // namespace services
