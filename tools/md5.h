// MD5 message digest (RFC 1321), for printing per-frame checksums the way
// `ffmpeg -f framemd5` does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tools {

class Md5 {
public:
    Md5();
    void Update(const uint8_t* data, size_t size);
    // The digest as 32 lower-case hexadecimal digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const uint8_t* block);
    uint32_t state_[4];
    uint64_t length_ = 0;  // bytes
    uint8_t buffer_[64];
    size_t buffered_ = 0;
};

}  // namespace tools
