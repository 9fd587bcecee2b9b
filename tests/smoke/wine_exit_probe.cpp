// A test program for scripts/wine-run's result (tests/smoke/wine_run_exit_test.sh): its one
// case does what SUITE_PROBE_MODE says, and says on its output when it has got there.
//   hang-in-test  waits in the case, before main() returns
//   hang-at-exit  passes, then waits in an exit handler, after main() has returned
//   fail          fails
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace {

void WaitForever(const char* where) {
    std::printf("probe: waiting %s\n", where);
    std::fflush(stdout);
    Sleep(INFINITE);
}

void WaitAtExit() {
    WaitForever("at exit");
}

TEST(WineExitProbe, DoesWhatItsModeSays) {
    const char* set = std::getenv("SUITE_PROBE_MODE");
    const std::string mode = set ? set : "";
    if (mode == "hang-in-test") WaitForever("in the test");
    if (mode == "hang-at-exit") std::atexit(WaitAtExit);
    EXPECT_NE(mode, "fail");
}

}  // namespace
