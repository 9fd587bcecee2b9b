#include "tests/support/shell.h"

#include <atomic>
#include <cstdio>
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

}  // namespace

std::string FixtureDir() {
    return PlatformPath(kUnixDir);
}

std::string FixturePath(const std::string& name) {
    return PlatformPath(kUnixDir + "/" + name);
}

std::string UniqueName(const std::string& stem) {
    static std::atomic<unsigned> counter{0};
    std::ostringstream s;
    s << stem << '.' << ProcessId() << '.' << counter++;
    return s.str();
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
