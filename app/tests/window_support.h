// The shell's window-test helpers live with the skin toolkit's tests; this name is kept for
// the page and profile tests that include it.
#pragma once

#include "app/skin/tests/window_support.h"
