// Test support: runs a POSIX shell script on the Linux side of the test machine, from a
// native test or from a Windows test under Wine (Wine starts Unix programs directly).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The folder, as a path of this process's platform, where generated test files live.
std::string FixtureDir();
// The path of file `name` in that folder.
std::string FixturePath(const std::string& name);

// Runs `script` with /bin/sh in the fixture folder, waits for it and returns its exit
// status, or -1 if it could not be run. Standard output and error go to `logName` in the
// fixture folder when it is not empty.
int RunShell(const std::string& script, const std::string& logName = "");

// Reads a whole file of the fixture folder (by name); empty if it is missing.
std::string ReadFixtureFile(const std::string& name);
// Reads a whole file by its path in this process's platform form (a media fixture's path);
// empty if it is missing.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// A name for a scratch file or folder that no other process of the test run uses, relative
// to the fixture folder (FixturePath() gives its full path; scripts of RunShell(), which
// run in the fixture folder, can use it as it stands). It lies in this process's scratch
// folder, which is removed with everything in it when the process exits: tests need not
// delete what they write there.
std::string UniqueName(const std::string& stem);

// Makes a folder in `parent` (a path of this process's platform) that no other process
// made: `stem`, or `stem.N` (N from 1) when that exists already. Returns its name, or an
// empty string when none could be made.
std::string ClaimNewFolder(const std::string& parent, const std::string& stem);

}  // namespace testsupport
