#include "app/project_format.h"

#include <array>
#include <cstring>

namespace project {
namespace {

constexpr uint8_t kMark[4] = {'Q', 'Z', 'T', '1'};
constexpr uint32_t kKeySeed = 0x9E3779B9u;

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

void PutChunk(std::vector<uint8_t>& out, uint16_t id, const void* data, uint32_t length) {
    PutU16(out, id);
    PutU32(out, length);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + length);
}

uint32_t Crc32(const uint8_t* data, size_t size) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void ApplyKeyStream(uint8_t* data, size_t size) {
    uint32_t key = kKeySeed;
    for (size_t i = 0; i < size; ++i) {
        data[i] ^= static_cast<uint8_t>(key >> 24);
        key = key * 1664525u + 1013904223u;
    }
}

ParseResult Refuse(ParseResult result, std::vector<FileBatchEntry>* entries, std::string* error, const char* why) {
    entries->clear();
    if (error) *error = why;
    return result;
}

}  // namespace

std::vector<uint8_t> BuildPlain(const std::vector<FileBatchEntry>& entries) {
    std::vector<uint8_t> out;
    out.reserve(16 + entries.size() * (6 + sizeof(FileBatchEntry)));
    PutU16(out, kHeaderTag);
    PutU32(out, 0);  // patched below
    const uint32_t count = static_cast<uint32_t>(entries.size());
    uint8_t countBytes[4];
    for (int i = 0; i < 4; ++i)
        countBytes[i] = static_cast<uint8_t>(count >> (8 * i));
    PutChunk(out, kCountChunk, countBytes, 4);
    for (const FileBatchEntry& entry : entries)
        PutChunk(out, kEntryChunk, &entry, sizeof entry);
    const uint32_t length = static_cast<uint32_t>(out.size() - 6);
    for (int i = 0; i < 4; ++i)
        out[2 + i] = static_cast<uint8_t>(length >> (8 * i));
    return out;
}

std::vector<uint8_t> Scramble(const std::vector<uint8_t>& plain) {
    std::vector<uint8_t> out(kMark, kMark + 4);
    PutU32(out, Crc32(plain.data(), plain.size()));
    const size_t start = out.size();
    out.insert(out.end(), plain.begin(), plain.end());
    ApplyKeyStream(out.data() + start, plain.size());
    return out;
}

bool Unscramble(const uint8_t* data, size_t size, std::vector<uint8_t>* plain, std::string* error) {
    plain->clear();
    if (size < kScrambleHeader || std::memcmp(data, kMark, 4) != 0) {
        if (error) *error = "not a project file";
        return false;
    }
    if (size > kMaxFileBytes) {
        if (error) *error = "file too large for a project";
        return false;
    }
    plain->assign(data + kScrambleHeader, data + size);
    ApplyKeyStream(plain->data(), plain->size());
    if (Crc32(plain->data(), plain->size()) != GetU32(data + 4)) {
        plain->clear();
        if (error) *error = "check value does not match";
        return false;
    }
    return true;
}

ParseResult ParsePlain(const uint8_t* data, size_t size, std::vector<FileBatchEntry>* entries, std::string* error) {
    entries->clear();
    if (size < 6) return Refuse(ParseResult::kTooShort, entries, error, "header too short");
    if (GetU16(data) != kHeaderTag) return Refuse(ParseResult::kDamaged, entries, error, "wrong header tag");
    if (GetU32(data + 2) != size - 6) return Refuse(ParseResult::kDamaged, entries, error, "length field disagrees");
    size_t at = 6;
    while (at < size) {
        if (size - at < 6) return Refuse(ParseResult::kDamaged, entries, error, "chunk header cut short");
        const uint16_t id = GetU16(data + at);
        const uint32_t length = GetU32(data + at + 2);
        at += 6;
        if (length > size - at) return Refuse(ParseResult::kDamaged, entries, error, "chunk runs past the end");
        const uint8_t* body = data + at;
        at += length;
        if (id == kCountChunk) {
            if (length != 4) return Refuse(ParseResult::kDamaged, entries, error, "count chunk of wrong size");
            if (GetU32(body) > kMaxEntries) return Refuse(ParseResult::kDamaged, entries, error, "too many entries");
        } else if (id == kEntryChunk) {
            if (length != sizeof(FileBatchEntry))
                return Refuse(ParseResult::kDamaged, entries, error, "entry chunk of wrong size");
            if (entries->size() >= kMaxEntries)
                return Refuse(ParseResult::kDamaged, entries, error, "too many entries");
            FileBatchEntry entry;
            std::memcpy(&entry, body, sizeof entry);
            if (std::memchr(entry.path, 0, sizeof entry.path) == nullptr)
                return Refuse(ParseResult::kDamaged, entries, error, "entry path longer than MAX_PATH");
            entries->push_back(entry);
        }
    }
    return ParseResult::kOk;
}

ParseResult ParseStored(const uint8_t* data, size_t size, std::vector<FileBatchEntry>* entries, std::string* error) {
    entries->clear();
    if (size < kScrambleHeader) return Refuse(ParseResult::kTooShort, entries, error, "file too short");
    std::vector<uint8_t> plain;
    if (!Unscramble(data, size, &plain, error)) return ParseResult::kDamaged;
    return ParsePlain(plain.data(), plain.size(), entries, error);
}

}  // namespace project
