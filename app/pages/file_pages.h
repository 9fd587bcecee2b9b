// The factory entries of the file conversion page and the export room, for the program's
// start-up (without the page classes themselves).
#pragma once

#include "app/pages/page_slots.h"

// Sets newFilePage, newExportRoom, buildOpenFileFilter and isSupportedInputFile.
void InstallFilePages(PageFactory& factory);
