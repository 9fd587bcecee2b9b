#include "filters/muxer/mux_filter_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace varrow {

namespace {

bool IsVideo(int32_t type) {
    return type == 1 || type == 8 || type == 10 || (type >= 4 && type <= 6);
}

}  // namespace

PoolSize ComputePoolSize(int32_t type, int64_t bitrate, int64_t inputBuffer, bool hasAllocator, bool audio) {
    bitrate = std::clamp<int64_t>(bitrate, 0, int64_t{1} << 40);
    inputBuffer = std::clamp(inputBuffer, kMinInputBuffer, kMaxInputBuffer);
    int64_t d = 0;
    int64_t e = 0;
    if (hasAllocator) {
        switch (type) {
            case 1:
            case 8:
                d = bitrate / 2;
                break;
            case 2:
            case 7:
            case 11:
                d = bitrate * 2 / 8;
                break;
            case 3:
                d = bitrate / 4;
                break;
            case 10:
                d = bitrate * 2;
                break;
            default:
                break;
        }
        e = std::max(inputBuffer, 3 * d);
        if (IsVideo(type) && e <= 0x200000) e = 0x400000;
        if ((type == 2 || type == 3 || type == 7 || type == 11) && e <= 0x100000) e = 0x100000;
    } else {
        e = std::max<int64_t>(inputBuffer, audio ? 0x100000 : 0x600000);
    }
    e = std::min(e, kMaxInputBuffer);
    if (d <= 0 || d > e) d = e / 3;
    PoolSize size;
    size.bufferSize = static_cast<int32_t>(d);
    size.byteLimit = static_cast<int32_t>(e);
    return size;
}

std::string FormatValue(ValueText kind, int64_t value) {
    char text[64];
    switch (kind) {
        case ValueText::Percent:
            std::snprintf(text, sizeof text, "%lld%%", static_cast<long long>(value));
            return text;
        case ValueText::Clock: {
            const uint64_t ms = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
            std::snprintf(text, sizeof text, "%c%02llu:%02llu:%02llu,%03llu", value < 0 ? '-' : ' ',
                          static_cast<unsigned long long>(ms / 3600000),
                          static_cast<unsigned long long>(ms / 60000 % 60),
                          static_cast<unsigned long long>(ms / 1000 % 60), static_cast<unsigned long long>(ms % 1000));
            return text;
        }
        case ValueText::Grouped: {
            const bool negative = value < 0;
            uint64_t v = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
            std::string out;
            do {
                std::snprintf(text, sizeof text, v >= 1000 ? " %03u" : " %u", static_cast<unsigned>(v % 1000));
                out.insert(0, text);
                v /= 1000;
            } while (v);
            if (negative) out.insert(1, "-");
            return out;
        }
        case ValueText::FixedPoint:
            std::snprintf(text, sizeof text, "%u.%u", static_cast<unsigned>((value >> 16) & 0xFFFF),
                          static_cast<unsigned>(value & 0xFFFF));
            return text;
        case ValueText::Id:
            std::snprintf(text, sizeof text, "%lld (0x%llx)", static_cast<long long>(value),
                          static_cast<unsigned long long>(value));
            return text;
        case ValueText::Plain:
        default:
            std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
            return text;
    }
}

bool ParseEditedValue(const std::string& input, int32_t* value) {
    std::string text = input.substr(0, 100);
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const int64_t multiplier = text.find('M') != std::string::npos   ? 1048576
                               : text.find('K') != std::string::npos ? 1024
                                                                     : 1;
    const bool hex = text.find("0X") != std::string::npos || text.find('H') != std::string::npos;
    const char* start = text.c_str();
    while (*start == ' ' || *start == '\t')
        ++start;
    char* end = nullptr;
    const long long number = std::strtoll(start, &end, hex ? 16 : 10);
    if (end == start) return false;
    *value = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(number * multiplier)));
    return true;
}

}  // namespace varrow
