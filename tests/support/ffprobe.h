// Test support: the judge's answers about a fixture file, from ffprobe, and the two
// output forms the tests ask it for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace testsupport {

// The file name of a path (either separator).
std::string BaseName(const std::string& path);

// Runs `ffprobe -v error ARGS FILE` in the fixture folder on the fixture file `path` (a
// path or a name in that folder) and returns its standard output through `out`; a failing
// run is a failure with ffprobe's message.
::testing::AssertionResult Ffprobe(const std::string& path, const std::string& args, std::string* out);

// The rows of `-of csv=p=0` output, each split at its commas; empty lines are skipped.
std::vector<std::vector<std::string>> CsvRows(const std::string& text);

// The "key=value" lines of `-of default=nw=1` output, in order.
std::vector<std::pair<std::string, std::string>> KeyValues(const std::string& text);

// A number field: nothing for "N/A" or an empty field.
std::optional<int64_t> ProbeNumber(const std::string& field);

}  // namespace testsupport
