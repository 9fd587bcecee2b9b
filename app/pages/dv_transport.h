// The tape transport state shared by the DV capture page and the batch capture dialog, which
// borrows the page's engine and deck: both follow the same deck through the same states.
#pragma once

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
