#include "app/pages/dv_transport.h"

#include <algorithm>

#include "app/resources/resource_ids.h"
#include "app/skin/skin_sliders.h"
#include "engines/interfaces.h"
#include "framework/app.h"
#include "framework/string.h"

void DVEncodeClock::Start() {
    start = GetTickCount();
    backgroundStart = 0;
    backgroundSeconds = 0;
}

void DVEncodeClock::BackgroundBegins() {
    backgroundStart = GetTickCount();
}

void DVEncodeClock::BackgroundEnds() {
    if (backgroundStart) backgroundSeconds += (GetTickCount() - backgroundStart) / 1000;
    backgroundStart = 0;
}

bool DVEncodeClock::Tick(ISystemLayerDV* engine, CGRegionSlider* progress, int phase) {
    if (!engine) return false;
    const DWORD now = GetTickCount();
    DWORD elapsed = (now - start) / 1000;
    DWORD background = backgroundSeconds;
    if (phase == 3 && backgroundStart) background += (now - backgroundStart) / 1000;
    elapsed = elapsed > background ? elapsed - background : 0;
    DWORD done = 0, total = 0;
    if (SUCCEEDED(engine->GetEncodeProgress(&done, &total)) && total && progress) {
        progress->SetRange(0, int(std::min<DWORD>(total, 0x7FFFFFFF)), TRUE);
        progress->SetRegionEnd(0, int(std::min(done, total)));
    }
    if (phase == 2 && done > 0 && done <= total && elapsed > 0) {
        const double perMinute = double(done) / elapsed * 60;
        CString left;
        left.FormatId(IDS_DV_MINUTES_LEFT, int((total - done) / perMinute));
        caption = std::string(AfxLoadString(IDS_DV_POST_ENCODING).c_str()) + left.c_str();
    }
    if (phase != 2 && phase != 3) return false;
    blink = !blink;
    return true;
}
