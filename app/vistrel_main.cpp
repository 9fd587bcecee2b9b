// The program's entry: the one application object and the framework's loop.
#include <windows.h>

#include "app/vistrel_app.h"

namespace {
CVistrelApp the_application;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
    return AfxWinMain(instance, commandLine, show);
}
