#include "filters/config/config_stream.h"

#include <algorithm>
#include <cstring>

namespace kestrune {

namespace {

bool ReadU32(ByteSource& source, std::uint32_t* value) {
    std::uint8_t b[4];
    if (!source.Read(b, sizeof b)) return false;
    *value = std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
    return true;
}

// The text is read in chunks, so memory grows only with bytes the source really delivered,
// even when the source cannot say how much it holds.
StreamStatus ReadText(ByteSource& source, std::uint32_t length, std::vector<std::uint8_t>* text) {
    if (length > kMaxTextBytes) return StreamStatus::textTooLong;
    if (auto remaining = source.Remaining(); remaining && length > *remaining) return StreamStatus::textTooLong;
    constexpr std::size_t kChunk = 64 * 1024;
    text->clear();
    std::size_t done = 0;
    while (done < length) {
        const std::size_t n = std::min<std::size_t>(kChunk, length - done);
        text->resize(done + n);
        if (!source.Read(text->data() + done, n)) return StreamStatus::shortRead;
        done += n;
    }
    return StreamStatus::ok;
}

}  // namespace

StreamStatus ConfigStreamReadVariant(ByteSource& source, StoredVariant* variant) {
    std::uint8_t block[16];
    if (!source.Read(block, sizeof block)) return StreamStatus::shortRead;
    variant->type = static_cast<std::uint16_t>(block[0] | block[1] << 8);
    if (!IsStoredType(variant->type)) return StreamStatus::badType;
    // Reserved words and value bytes beyond the type's width carry nothing.
    variant->value = {};
    std::memcpy(variant->value.data(), block + 8, StoredValueWidth(variant->type));
    variant->text.clear();
    if (variant->type != kStoredBstr) return StreamStatus::ok;
    std::uint32_t length = 0;
    if (!ReadU32(source, &length)) return StreamStatus::shortRead;
    return ReadText(source, length, &variant->text);
}

StreamStatus ConfigStreamReadGuid(ByteSource& source, StoredGuid* guid) {
    return source.Read(guid->data(), guid->size()) ? StreamStatus::ok : StreamStatus::shortRead;
}

StreamStatus ConfigStreamReadDword(ByteSource& source, std::uint32_t* value) {
    return ReadU32(source, value) ? StreamStatus::ok : StreamStatus::shortRead;
}

bool IsStoredType(std::uint16_t type) {
    switch (type) {
        case kStoredI4:
        case kStoredBstr:
        case kStoredBool:
        case kStoredI1:
        case kStoredUi4:
        case kStoredI8:
        case kStoredInt:
            return true;
        default:
            return false;
    }
}

std::size_t StoredValueWidth(std::uint16_t type) {
    switch (type) {
        case kStoredI1:
            return 1;
        case kStoredBool:
            return 2;
        case kStoredI4:
        case kStoredUi4:
        case kStoredInt:
            return 4;
        case kStoredI8:
            return 8;
        default:
            return 0;
    }
}

bool SpanSource::Read(void* dst, std::size_t n) {
    if (n > size_ - pos_) {
        pos_ = size_;
        return false;
    }
    if (n) std::memcpy(dst, data_ + pos_, n);
    pos_ += n;
    return true;
}

StreamStatus ConfigStreamReadHeader(ByteSource& source, StoredHeader* header) {
    const StreamStatus status = ConfigStreamReadGuid(source, &header->guid);
    return status == StreamStatus::ok ? ConfigStreamReadDword(source, &header->version) : status;
}

StreamStatus ConfigStreamReadEntries(ByteSource& source, StreamLayout layout, std::vector<StoredEntry>* entries) {
    entries->clear();
    std::uint32_t count = 0;
    if (!ReadU32(source, &count)) return StreamStatus::shortRead;
    if (count > kMaxEntries) return StreamStatus::tooMany;
    if (auto remaining = source.Remaining(); remaining && std::uint64_t{count} * EntrySize(layout) > *remaining)
        return StreamStatus::shortRead;
    std::vector<StoredEntry> read;
    StreamStatus status = StreamStatus::ok;
    for (std::uint32_t i = 0; i < count && status == StreamStatus::ok; ++i) {
        StoredEntry& entry = read.emplace_back();
        status = ConfigStreamReadGuid(source, &entry.key);
        if (status == StreamStatus::ok) status = ConfigStreamReadVariant(source, &entry.variant);
        if (status == StreamStatus::ok && layout == StreamLayout::v2 && !ReadU32(source, &entry.active))
            status = StreamStatus::shortRead;
    }
    if (status == StreamStatus::ok) *entries = std::move(read);
    return status;
}

void ConfigStreamWriteGuid(std::vector<std::uint8_t>* out, const StoredGuid& guid) {
    out->insert(out->end(), guid.begin(), guid.end());
}

void ConfigStreamWriteDword(std::vector<std::uint8_t>* out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out->push_back(static_cast<std::uint8_t>(value >> shift));
}

void ConfigStreamWriteVariant(std::vector<std::uint8_t>* out, const StoredVariant& variant) {
    std::uint8_t block[16] = {};
    block[0] = static_cast<std::uint8_t>(variant.type);
    block[1] = static_cast<std::uint8_t>(variant.type >> 8);
    std::memcpy(block + 8, variant.value.data(), StoredValueWidth(variant.type));
    out->insert(out->end(), block, block + sizeof block);
    if (variant.type != kStoredBstr) return;
    ConfigStreamWriteDword(out, static_cast<std::uint32_t>(variant.text.size()));
    out->insert(out->end(), variant.text.begin(), variant.text.end());
}

void ConfigStreamWriteEntry(std::vector<std::uint8_t>* out, StreamLayout layout, const StoredEntry& entry) {
    ConfigStreamWriteGuid(out, entry.key);
    ConfigStreamWriteVariant(out, entry.variant);
    if (layout == StreamLayout::v2) ConfigStreamWriteDword(out, entry.active);
}

}  // namespace kestrune
