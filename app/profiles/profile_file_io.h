// File access of the profile store, behind an interface so that tests can make any step
// of a write fail. A stored file is replaced only after its new content has been written
// completely beside it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace profiles {

// Upper bound on a profile file read into memory (a profile block is about 1 KB).
inline constexpr size_t kProfileFileLimit = 16u << 20;

class ProfileFileSystem {
public:
    enum class ReadResult { kOk, kMissing, kError, kTooLarge };

    virtual ~ProfileFileSystem() = default;
    // Reads a whole file of at most `limit` bytes.
    virtual ReadResult ReadAll(const std::string& path, size_t limit, std::string& out);
    virtual bool Exists(const std::string& path);
    // Creates an empty file when none exists; true when the file exists afterwards.
    virtual bool CreateIfMissing(const std::string& path);
    // Creates or truncates a file for writing bytes.
    virtual std::FILE* OpenNew(const std::string& path);
    virtual bool Write(std::FILE* file, std::string_view data);
    // Flushes the file to the disk and closes it (closed even on failure).
    virtual bool Commit(std::FILE* file);
    // Replaces `to` by `from` in one step.
    virtual bool Replace(const std::string& from, const std::string& to);
    virtual bool Remove(const std::string& path);
};

// The default file system of the process.
ProfileFileSystem& DefaultProfileFileSystem();

// Writes `content` to a temporary file beside `path` and then replaces `path` with it.
// On any failure `path` is left as it was and the temporary file is removed.
bool ReplaceFileContent(ProfileFileSystem& fs, const std::string& path, std::string_view content);

}  // namespace profiles
