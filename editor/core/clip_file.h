// Reading a clip file: a read-only file that closes itself, and a block reader that
// yields plain blocks or, in sector mode, the user bytes of usable raw CD sectors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "editor/core/clip_probe.h"

namespace editor {

class ClipFile {
public:
    explicit ClipFile(const std::string& path) : f_(std::fopen(path.c_str(), "rb")) {}
    ~ClipFile() {
        if (f_) std::fclose(f_);
    }
    ClipFile(const ClipFile&) = delete;
    ClipFile& operator=(const ClipFile&) = delete;
    explicit operator bool() const { return f_ != nullptr; }
    std::FILE* get() const { return f_; }
    size_t Read(void* buffer, size_t n) { return f_ ? std::fread(buffer, 1, n, f_) : 0; }
    bool Seek(int64_t position) { return SeekFile(f_, position, SEEK_SET) == position; }
    int64_t Size() {
        const int64_t here = SeekFile(f_, 0, SEEK_CUR);
        const int64_t end = SeekFile(f_, 0, SEEK_END);
        SeekFile(f_, here < 0 ? 0 : here, SEEK_SET);
        return end;
    }

private:
    std::FILE* f_;
};

// Reads a clip block by block: the 2324 user bytes of usable raw sectors in sector mode,
// plain blocks of `block` bytes otherwise.
class BlockReader {
public:
    BlockReader(ClipFile* file, bool sectorMode, int64_t dataOffset, size_t block)
        : file_(file), sectorMode_(sectorMode), dataOffset_(dataOffset), block_(block) {}

    // Positions the reader at byte `position` of the clip (rounded down to a whole sector
    // in sector mode, where positions count from the data offset).
    bool Seek(int64_t position) {
        if (position < 0) position = 0;
        if (sectorMode_) position = dataOffset_ + position / int64_t(kSectorSize) * int64_t(kSectorSize);
        return file_->Seek(position);
    }

    // The next block; 0 at the end of the file.
    size_t Next(uint8_t* out) {
        if (!sectorMode_) return file_->Read(out, block_);
        uint8_t sector[kSectorSize];
        // Unusable sectors are skipped; a run of them is bounded by the file's length.
        for (;;) {
            if (file_->Read(sector, kSectorSize) < kSectorSize) return 0;
            if (!IsUsableSector(sector)) continue;
            std::memcpy(out, sector + kSectorUserOffset, kSectorUserSize);
            return kSectorUserSize;
        }
    }

    // As many blocks as fit in `capacity` bytes, read at once; 0 at the end of the file.
    size_t NextRun(uint8_t* out, size_t capacity) {
        if (!sectorMode_) return file_->Read(out, capacity / block_ * block_);
        size_t n = 0;
        while (capacity - n >= kSectorUserSize) {
            const size_t got = Next(out + n);
            if (got == 0) break;
            n += got;
        }
        return n;
    }

private:
    ClipFile* file_;
    bool sectorMode_;
    int64_t dataOffset_;
    size_t block_;
};

}  // namespace editor
