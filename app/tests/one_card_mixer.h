// The model sound card lives with the skin toolkit's tests; this name is kept for the page
// tests that include it.
#pragma once

#include "app/skin/tests/one_card_mixer.h"
