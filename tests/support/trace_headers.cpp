#include "tests/support/trace_headers.h"

#include <cctype>
#include <sstream>

#include "tests/support/shell.h"

namespace testsupport {
namespace {

bool IsNumber(const std::string& s, bool sign) {
    size_t i = sign && !s.empty() && s[0] == '-' ? 1 : 0;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

// "POSITION NAME BITS = VALUE", the form of every traced syntax element.
bool ReadField(const std::string& text, TraceField* field) {
    std::istringstream in(text);
    std::string pos, name, bits, eq, value, rest;
    if (!(in >> pos >> name >> bits >> eq >> value) || (in >> rest)) return false;
    if (eq != "=" || !IsNumber(pos, false) || !IsNumber(value, true)) return false;
    if (bits.find_first_not_of("01") != std::string::npos) return false;
    field->bitPos = std::stoll(pos);
    field->name = name;
    field->value = std::stoll(value);
    return true;
}

}  // namespace

Trace ParseTraceHeaders(const std::string& log) {
    Trace trace;
    bool inPacket = false;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        // ffmpeg's progress line may run into a trace line: look for the tag anywhere.
        const size_t tag = line.find("[trace_headers @ ");
        if (tag == std::string::npos) continue;
        const size_t close = line.find("] ", tag);
        if (close == std::string::npos) continue;
        std::string text = line.substr(close + 2);
        while (!text.empty() && (text.back() == '\r' || text.back() == ' '))
            text.pop_back();
        TraceField field;
        if (ReadField(text, &field)) {
            if (!trace.sections.empty()) trace.sections.back().fields.push_back(field);
        } else if (text.rfind("Extradata", 0) == 0) {
            inPacket = false;
        } else if (text.rfind("Packet:", 0) == 0) {
            inPacket = true;
        } else if (text.rfind("Failed", 0) == 0) {
            trace.failures.push_back(text);
        } else {
            trace.sections.push_back({text, inPacket, {}});
        }
    }
    return trace;
}

::testing::AssertionResult RunTraceHeaders(const std::string& name, std::string* log, const std::string& inputOptions) {
    const std::string logName = UniqueName("trace") + ".log";
    const int status = RunShell(
        "ffmpeg -nostdin -hide_banner " + inputOptions + " -i '" + name + "' -c copy -bsf:v trace_headers -f null -",
        logName);
    *log = ReadFixtureFile(logName);
    RunShell("rm -f '" + logName + "'");
    if (status != 0) return ::testing::AssertionFailure() << "ffmpeg trace_headers of " << name << ":\n" << *log;
    return ::testing::AssertionSuccess();
}

}  // namespace testsupport
