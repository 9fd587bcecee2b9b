// The main() of every Windows test program. It runs the tests as GoogleTest's own main()
// does, then records the result in the file SUITE_EXIT_CODE_FILE names (set by
// scripts/wine-run, a Windows path) before the process starts to close.
//
// Why: on a loaded machine wineserver kills a program's Linux process (SIGKILL) when it has
// not ended about a second after its last Windows thread ended, so the runner sees
// "Killed" where the program had returned its own exit code. The record tells such an
// ending apart from a program killed while it ran, which never writes it.
#include <cstdio>
#include <cstdlib>

#include "gtest/gtest.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int code = RUN_ALL_TESTS();
    if (const char* path = std::getenv("SUITE_EXIT_CODE_FILE"); path != nullptr && path[0] != '\0') {
        if (std::FILE* file = std::fopen(path, "w")) {
            std::fprintf(file, "%d\n", code);
            std::fclose(file);
        }
    }
    return code;
}
