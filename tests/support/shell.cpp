#include "tests/support/shell.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testsupport {
namespace {

// SUITE_FIXTURE_DIR is the Linux path of the build tree's fixture folder.
const std::string kUnixDir = SUITE_FIXTURE_DIR;

// The longest a script may run: fixture generation by the outside tools is seconds.
constexpr int kShellLimitMs = 10 * 60 * 1000;

std::string PlatformPath(const std::string& unixPath) {
#ifdef _WIN32
    // Wine maps drive Z: to the Unix root.
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
#else
    return unixPath;
#endif
}

unsigned long ProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// This process's scratch folder, "scratch/PID" under the fixture folder: made on first
// use and removed, with everything in it, when the process exits. Scratch files thus never
// mix with the fixtures (which the fuzz targets read as their corpus) nor pile up between
// runs. Process ids are unique only within one system: Windows tests running side by side
// in separate Wine prefixes (one wineserver each) may share one. The folder is therefore
// claimed by creating it, "PID.N" taken when another process holds "PID".
class ScratchFolder {
public:
    ScratchFolder() : owner_(ProcessId()) {
        std::error_code ec;
        std::filesystem::create_directories(PlatformPath(kUnixDir + "/scratch"), ec);
        const std::string leaf = ClaimNewFolder(PlatformPath(kUnixDir + "/scratch"), std::to_string(owner_));
        // None made (an unwritable fixture folder): the files written there fail and say
        // so, and nothing of another process's is removed at exit.
        owned_ = !leaf.empty();
        name_ = "scratch/" + (owned_ ? leaf : std::to_string(owner_));
    }
    ~ScratchFolder() {
        // A forked child that exits normally leaves its parent's folder alone.
        if (!owned_ || ProcessId() != owner_) return;
        std::error_code ec;
        std::filesystem::remove_all(PlatformPath(kUnixDir + "/" + name_), ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& name() const { return name_; }

private:
    unsigned long owner_;
    std::string name_;
    bool owned_ = false;
};

}  // namespace

std::string ClaimNewFolder(const std::string& parent, const std::string& stem) {
    std::string name = stem;
    for (int n = 1; n <= 1000; ++n) {
        std::error_code ec;
        // true only for the process that made it: an existing folder is another's.
        if (std::filesystem::create_directory(std::filesystem::path(parent) / name, ec)) return name;
        if (ec) break;
        name = stem + "." + std::to_string(n);
    }
    return {};
}

std::string FixtureDir() {
    return PlatformPath(kUnixDir);
}

std::string FixturePath(const std::string& name) {
    return PlatformPath(kUnixDir + "/" + name);
}

std::string UniqueName(const std::string& stem) {
    static const ScratchFolder folder;
    static std::atomic<unsigned> counter{0};
    return folder.name() + "/" + stem + "." + std::to_string(counter++);
}

std::string ReadFixtureFile(const std::string& name) {
    std::ifstream in(FixturePath(name), std::ios::binary);
    if (!in) return {};
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int RunShell(const std::string& script, const std::string& logName) {
    // The script's status is written to a file by the shell itself: Wine does not pass a
    // Unix child's exit code back reliably.
    const std::string name = UniqueName("run");
    const std::string scriptPath = kUnixDir + "/" + name + ".sh";
    const std::string statusName = name + ".status";
    {
        std::ofstream out(PlatformPath(scriptPath), std::ios::binary);
        if (!out) return -1;
        out << "cd '" << kUnixDir << "' || exit 1\n"
            << "( " << script << "\n)";
        if (!logName.empty()) out << " >'" << logName << "' 2>&1";
        out << " </dev/null\necho $? >'" << statusName << ".tmp' && mv -f '" << statusName << ".tmp' '" << statusName
            << "'\n";
        if (!out) return -1;
    }
    // Double quotes: Windows command-line quoting, which Wine turns into the Unix argv.
    const std::string command = "/bin/sh \"" + scriptPath + "\"";
#ifdef _WIN32
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string mutableCommand = command;
    if (!CreateProcessA(nullptr, mutableCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // The handle of a Unix child under Wine does not follow the child's life: wait for the
    // status file that the script renames into place as its last step.
    std::string status;
    for (int waitedMs = 0; (status = ReadFixtureFile(statusName)).empty(); waitedMs += 20) {
        if (waitedMs > kShellLimitMs) return -1;
        Sleep(20);
    }
#else
    if (std::system(command.c_str()) == -1) return -1;
    const std::string status = ReadFixtureFile(statusName);
#endif
    std::remove(FixturePath(statusName).c_str());
    std::remove(PlatformPath(scriptPath).c_str());
    if (status.empty()) return -1;
    return std::atoi(status.c_str());
}

}  // namespace testsupport
