// The tape transport state shared by the DV capture page and the batch capture dialog, which
// borrows the page's engine and deck: both follow the same deck through the same states; and
// the clock both keep while a recording is encoded afterwards.
#pragma once

#include <windows.h>

#include <string>

struct ISystemLayerDV;
class CGRegionSlider;

struct DVTransport {
    enum State : int {
        kLive = 0,  // no transport command yet (the page's live preview; a batch has ended)
        kStopped = 1,
        kPlaying = 2,
        kPaused = 3,
        kWinding = 4,        // winding forward
        kWindingPlay = 5,    // forward search while playing
        kRewinding = 6,      // rewinding
        kRewindingPlay = 7,  // reverse search while playing
        kRecording = 8,
        kSeeking = 9,
        kPollEnding = 10,  // the page's polls are being stopped
    };
};

// The once-a-second clock of a recording whose clips are encoded after they are recorded.
// Encoding phases: 0 none, 1 recording (encoding later), 2 encoding after the recording,
// 3 encoding in the background while the deck pauses between clips, 4 done. Background
// encoding is not recording time, so it is left out of the elapsed seconds.
struct DVEncodeClock {
    DWORD start = 0;              // tick count at the recording's start
    DWORD backgroundStart = 0;    // tick count at the start of background encoding, 0 outside it
    DWORD backgroundSeconds = 0;  // background encoding before the current one, seconds
    bool blink = false;           // the post-encoding text's colour, alternating each second
    std::string caption;          // the post-encoding text

    void Start();
    void BackgroundBegins();
    void BackgroundEnds();
    // One tick while recording with later encoding: the progress slider follows the engine's
    // encoding progress and, while encoding after the recording, the caption tells the minutes
    // left. True when the post-encoding picture and text are to be redrawn.
    bool Tick(ISystemLayerDV* engine, CGRegionSlider* progress, int phase);
};
