#include "app/profiles/profile_file_io.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace profiles {

ProfileFileSystem::ReadResult ProfileFileSystem::ReadAll(const std::string& path, size_t limit, std::string& out) {
    out.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kError;
    char buffer[16384];
    ReadResult result = ReadResult::kOk;
    for (;;) {
        size_t n = std::fread(buffer, 1, sizeof buffer, f);
        if (out.size() + n > limit) {
            result = ReadResult::kTooLarge;
            break;
        }
        out.append(buffer, n);
        if (n < sizeof buffer) {
            if (std::ferror(f)) result = ReadResult::kError;
            break;
        }
    }
    std::fclose(f);
    if (result != ReadResult::kOk) out.clear();
    return result;
}

bool ProfileFileSystem::Exists(const std::string& path) {
#ifdef _WIN32
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
#endif
}

bool ProfileFileSystem::CreateIfMissing(const std::string& path) {
    // Append mode creates the file and never truncates one that exists.
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (f == nullptr) return false;
    return std::fclose(f) == 0;
}

std::FILE* ProfileFileSystem::OpenNew(const std::string& path) {
    return std::fopen(path.c_str(), "wb");
}

bool ProfileFileSystem::Write(std::FILE* file, std::string_view data) {
    return std::fwrite(data.data(), 1, data.size(), file) == data.size();
}

bool ProfileFileSystem::Commit(std::FILE* file) {
    bool ok = std::fflush(file) == 0;
#ifdef _WIN32
    ok = ok && _commit(_fileno(file)) == 0;
#else
    ok = ok && ::fsync(fileno(file)) == 0;
#endif
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

bool ProfileFileSystem::Replace(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

bool ProfileFileSystem::Remove(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

ProfileFileSystem& DefaultProfileFileSystem() {
    static ProfileFileSystem fs;
    return fs;
}

bool ReplaceFileContent(ProfileFileSystem& fs, const std::string& path, std::string_view content) {
    const std::string temp = path + ".new";
    std::FILE* f = fs.OpenNew(temp);
    if (f == nullptr) return false;
    bool written = fs.Write(f, content);
    bool committed = fs.Commit(f);
    if (written && committed && fs.Replace(temp, path)) return true;
    fs.Remove(temp);
    return false;
}

}  // namespace profiles
