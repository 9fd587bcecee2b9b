#include "tests/support/ffprobe.h"

#include <cstdlib>
#include <sstream>

#include "tests/support/shell.h"

namespace testsupport {

std::string BaseName(const std::string& path) {
    const size_t at = path.find_last_of("/\\");
    return at == std::string::npos ? path : path.substr(at + 1);
}

::testing::AssertionResult Ffprobe(const std::string& path, const std::string& args, std::string* out) {
    const std::string name = BaseName(path);
    const std::string result = UniqueName("probe") + ".txt";
    const std::string log = result + ".log";
    const int status = RunShell("ffprobe -v error " + args + " '" + name + "' > '" + result + "' 2> '" + log + "'");
    *out = ReadFixtureFile(result);
    const std::string message = ReadFixtureFile(log);
    RunShell("rm -f '" + result + "' '" + log + "'");
    if (status != 0) return ::testing::AssertionFailure() << "ffprobe " << args << " " << name << ": " << message;
    return ::testing::AssertionSuccess();
}

std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::vector<std::string> row;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');)
            row.push_back(cell);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::pair<std::string, std::string>> KeyValues(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t eq = line.find('=');
        if (eq != std::string::npos) pairs.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return pairs;
}

std::optional<int64_t> ProbeNumber(const std::string& field) {
    if (field.empty() || field == "N/A") return std::nullopt;
    char* end = nullptr;
    const long long value = std::strtoll(field.c_str(), &end, 10);
    if (end == field.c_str()) return std::nullopt;
    return static_cast<int64_t>(value);
}

}  // namespace testsupport
