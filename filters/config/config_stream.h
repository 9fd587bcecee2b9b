// The configuration stream in stored form, free of any platform type: the header, the
// per-value entries and the 16-byte VARIANT block, read from a bounded byte source and
// written into a byte vector. The COM layer (config_impl.cpp) turns entries into VARIANTs.
//
// Layout (all numbers little-endian):
//   header  : 16-byte header GUID in memory order, u32 version, u32 entry count
//   entry v1: 16-byte value GUID, 16-byte VARIANT block, BSTR tail for VT_BSTR
//   entry v2: as v1, then a u32 active flag
//   VARIANT block: u16 type, three u16 reserved words, 8 value bytes (the value at their
//   start in its natural width); BSTR tail: u32 byte length, then that many bytes of
//   UTF-16LE text without terminator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kestrune {

using StoredGuid = std::array<std::uint8_t, 16>;

// {F5A37777-FD24-4733-A79A-2CBFEAAE0C88} in its in-memory byte order.
inline constexpr StoredGuid kConfigStreamHeaderBytes = {0x77, 0x77, 0xA3, 0xF5, 0x24, 0xFD, 0x33, 0x47,
                                                        0xA7, 0x9A, 0x2C, 0xBF, 0xEA, 0xAE, 0x0C, 0x88};

enum class StreamLayout {
    v1,  // encoder and decoder: every value, no flag
    v2,  // multiplexer: active writable values, each followed by its active flag
};

// VARIANT type tags the framework writes, and the only ones a reader accepts: anything else
// (pointer-bearing types above all) is refused before it can reach a conversion.
enum StoredType : std::uint16_t {
    kStoredI4 = 3,
    kStoredBstr = 8,
    kStoredBool = 11,
    kStoredI1 = 16,
    kStoredUi4 = 19,
    kStoredI8 = 20,
    kStoredInt = 22,
};
bool IsStoredType(std::uint16_t type);
// Bytes of the value that carry meaning for a stored type (0 for VT_BSTR).
std::size_t StoredValueWidth(std::uint16_t type);

inline constexpr std::size_t kHeaderSize = 24;
inline constexpr std::size_t kEntrySizeV1 = 32;
inline constexpr std::size_t kEntrySizeV2 = 36;
inline constexpr std::size_t EntrySize(StreamLayout layout) {
    return layout == StreamLayout::v1 ? kEntrySizeV1 : kEntrySizeV2;
}

// Caps on what a stream may declare. Real configurations hold a few dozen values and short
// texts; the caps only keep a forged count or length from driving a long loop.
inline constexpr std::uint32_t kMaxEntries = 65536;
inline constexpr std::uint32_t kMaxTextBytes = 1u << 20;

struct StoredVariant {
    std::uint16_t type = 0;
    std::array<std::uint8_t, 8> value{};  // only the type's width is meaningful
    std::vector<std::uint8_t> text;       // VT_BSTR only: UTF-16LE bytes
    bool operator==(const StoredVariant&) const = default;
};

struct StoredEntry {
    StoredGuid key{};
    StoredVariant variant;
    std::uint32_t active = 1;  // v2 only
    bool operator==(const StoredEntry&) const = default;
};

struct StoredHeader {
    StoredGuid guid{};
    std::uint32_t version = 0;
};

enum class StreamStatus {
    ok,
    shortRead,    // the source ended (or failed) inside a field
    badType,      // a VARIANT type the framework never writes
    tooMany,      // an entry count beyond kMaxEntries
    textTooLong,  // a BSTR length beyond kMaxTextBytes or beyond what the source holds
};

// Where the reader takes bytes from. Read fills exactly n bytes or answers false.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual bool Read(void* dst, std::size_t n) = 0;
    // Bytes still available, when the source knows.
    virtual std::optional<std::uint64_t> Remaining() const = 0;
};

class SpanSource final : public ByteSource {
public:
    SpanSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Read(void* dst, std::size_t n) override;
    std::optional<std::uint64_t> Remaining() const override { return size_ - pos_; }
    std::size_t Position() const { return pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Single fields, for owners that keep more after the framework's part of a stream.
StreamStatus ConfigStreamReadGuid(ByteSource& source, StoredGuid* guid);
StreamStatus ConfigStreamReadDword(ByteSource& source, std::uint32_t* value);
// The VARIANT block and, for VT_BSTR, its text (length bounded as for entries).
StreamStatus ConfigStreamReadVariant(ByteSource& source, StoredVariant* variant);

// Reads the 24-byte header except the count: the GUID and the version (20 bytes).
StreamStatus ConfigStreamReadHeader(ByteSource& source, StoredHeader* header);
// Reads the u32 count and every entry. On any status but ok, entries holds nothing.
StreamStatus ConfigStreamReadEntries(ByteSource& source, StreamLayout layout, std::vector<StoredEntry>* entries);

void ConfigStreamWriteGuid(std::vector<std::uint8_t>* out, const StoredGuid& guid);
void ConfigStreamWriteDword(std::vector<std::uint8_t>* out, std::uint32_t value);
// The VARIANT block with zero reserved words and zero unused value bytes, then the BSTR tail.
void ConfigStreamWriteVariant(std::vector<std::uint8_t>* out, const StoredVariant& variant);
void ConfigStreamWriteEntry(std::vector<std::uint8_t>* out, StreamLayout layout, const StoredEntry& entry);

}  // namespace kestrune
