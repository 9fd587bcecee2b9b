// How the program puts the DV capture page into the main page's factory.
#pragma once

#include "app/pages/page_slots.h"

// Sets the DV page maker, its device check and the DV device search.
void InstallDVCapturePage(PageFactory* factory);
